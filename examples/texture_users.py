"""Print each texture of a page with the layers that show it and the
materials those layers belong to.

Usage: python examples/texture_users.py PAGE.prp
"""

import sys
from collections import defaultdict

import lumivex


def main(argv: list[str]) -> int:
    if len(argv) != 2:
        print("Usage: python examples/texture_users.py PAGE.prp", file=sys.stderr)
        return 2
    try:
        page = lumivex.PrpFile.load(argv[1])
        materials_of_layer: defaultdict[str, list[str]] = defaultdict(list)
        for obj in page.objects_by_name("hsGMaterial"):
            for layer_name in obj.as_material().layer_names:
                materials_of_layer[layer_name].append(obj.name)
        layers_of_texture: defaultdict[str, list[str]] = defaultdict(list)
        for obj in page.objects_by_name("plLayer"):
            layer = obj.as_layer()
            if layer.texture_name is not None:
                layers_of_texture[layer.texture_name].append(layer.name)
        for obj in page.objects_by_name("plMipmap"):
            texture = obj.as_mipmap()
            print(f"{texture.name}: {texture.width}x{texture.height}, {texture.num_levels} levels")
            for layer_name in layers_of_texture[texture.name]:
                materials = ", ".join(materials_of_layer[layer_name]) or "no material"
                print(f"    layer {layer_name} in {materials}")
    except (OSError, ValueError) as error:
        print(f"texture_users: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
