"""lumivex Python module."""

from typing import final, type_check_only

def class_name(class_type: int) -> str:
    """Lookup class type names by ID."""

@final
class PrpFile:
    """A loaded .prp (Plasma Resource Page) file."""

    @staticmethod
    def load(path: str) -> PrpFile:
        """Load a PRP file from disk."""
    @staticmethod
    def from_bytes(data: bytes) -> PrpFile:
        """Load a PRP file from bytes."""
    def save(self, path: str) -> None:
        """Save the PRP file to disk (byte-identical round-trip)."""
    def to_bytes(self) -> bytes:
        """Serialize to bytes."""
    @property
    def age_name(self) -> str:
        """Age name from the page header."""
    @property
    def page_name(self) -> str:
        """Page name from the page header."""
    def objects(self) -> list[PrpObject]:
        """Get all objects as a list."""
    def objects_of_type(self, class_type: int) -> list[PrpObject]:
        """Get objects by class type ID."""
    def objects_by_name(self, class_name: str) -> list[PrpObject]:
        """Get objects by class type name (e.g., "plSceneObject", "plDrawableSpans")."""
    def count_by_type(self) -> dict[str, int]:
        """Count objects by class type."""
    @property
    def header(self) -> PageHeaderInfo:
        """Get the page header info."""
    def __len__(self) -> int: ...
    def __iter__(self) -> ObjectIterator: ...

@final
@type_check_only
class ObjectIterator:
    def __iter__(self) -> ObjectIterator: ...
    def __next__(self) -> PrpObject: ...

@final
class PageHeaderInfo:
    @property
    def version(self) -> int: ...
    @property
    def sequence_number(self) -> int: ...
    @property
    def flags(self) -> int: ...
    @property
    def age_name(self) -> str: ...
    @property
    def page_name(self) -> str: ...
    @property
    def major_version(self) -> int: ...
    @property
    def checksum(self) -> int: ...
    @property
    def data_start(self) -> int: ...
    @property
    def index_start(self) -> int: ...

@final
class PrpObject:
    """A single object in a PRP file."""

    @property
    def name(self) -> str:
        """Object name."""
    @property
    def class_type(self) -> int:
        """Class type ID."""
    @property
    def class_name(self) -> str:
        """Human-readable class type name."""
    @property
    def object_id(self) -> int:
        """Object ID."""
    @property
    def location_sequence(self) -> int:
        """Location sequence number."""
    @property
    def data(self) -> bytes | None:
        """Raw object data as bytes."""
    @property
    def data_len(self) -> int:
        """Data length in bytes."""
    def as_scene_object(self) -> SceneObject:
        """Parse as a SceneObject (if class_type matches)."""
    def as_mipmap(self) -> Mipmap:
        """Parse as a Mipmap texture."""
    def as_material(self) -> Material:
        """Parse as a Material (hsGMaterial)."""
    def as_layer(self) -> Layer:
        """Parse as a Layer (plLayer)."""
    def as_python_file_mod(self) -> PythonFileMod:
        """Parse as a PythonFileMod."""
    def as_responder(self) -> ResponderMod:
        """Parse as a ResponderModifier."""
    def as_physical(self) -> PhysicalData:
        """Parse as a plPXPhysical."""
    def as_sound(self) -> SoundInfo:
        """Parse as a plWin32Sound."""

@final
class SceneObject:
    @property
    def name(self) -> str: ...
    @property
    def draw_interface_names(self) -> list[str]: ...
    @property
    def coord_interface_name(self) -> str | None: ...
    @property
    def modifier_names(self) -> list[str]: ...

@final
class Mipmap:
    @property
    def name(self) -> str: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def num_levels(self) -> int: ...
    @property
    def compression_type(self) -> int: ...
    @property
    def dxt_type(self) -> int: ...
    @property
    def total_size(self) -> int: ...
    @property
    def pixel_data(self) -> bytes: ...

@final
class Material:
    @property
    def layer_names(self) -> list[str]: ...

@final
class Layer:
    @property
    def name(self) -> str: ...
    @property
    def texture_name(self) -> str | None: ...
    @property
    def blend_flags(self) -> int: ...
    @property
    def shade_flags(self) -> int: ...
    @property
    def misc_flags(self) -> int: ...
    @property
    def z_flags(self) -> int: ...
    @property
    def uv_channel(self) -> int: ...
    @property
    def opacity(self) -> float: ...
    @property
    def preshade_color(self) -> list[float]: ...
    @property
    def runtime_color(self) -> list[float]: ...
    @property
    def ambient_color(self) -> list[float]: ...
    @property
    def specular_color(self) -> list[float]: ...

@final
class PythonFileMod:
    @property
    def name(self) -> str: ...
    @property
    def python_file(self) -> str: ...
    @property
    def receiver_names(self) -> list[str]: ...
    @property
    def params(self) -> list[PythonParam]: ...

@final
class PythonParam:
    @property
    def id(self) -> int: ...
    @property
    def param_type(self) -> str: ...
    @property
    def value(self) -> str: ...

@final
class ResponderMod:
    @property
    def name(self) -> str: ...
    @property
    def num_states(self) -> int: ...
    @property
    def cur_state(self) -> int: ...
    @property
    def enabled(self) -> bool: ...

@final
class PhysicalData:
    @property
    def name(self) -> str: ...
    @property
    def mass(self) -> float: ...
    @property
    def friction(self) -> float: ...
    @property
    def restitution(self) -> float: ...
    @property
    def group(self) -> str: ...
    @property
    def bounds_type(self) -> str: ...
    @property
    def num_verts(self) -> int: ...
    @property
    def num_faces(self) -> int: ...

@final
class SoundInfo:
    @property
    def name(self) -> str: ...
    @property
    def sound_file(self) -> str: ...
    @property
    def volume(self) -> float: ...
    @property
    def is_3d(self) -> bool: ...
    @property
    def auto_start(self) -> bool: ...
    @property
    def looping(self) -> bool: ...
    @property
    def min_distance(self) -> float: ...
    @property
    def max_distance(self) -> float: ...

@final
class AgeFile:
    """Parsed .age file."""

    @property
    def age_name(self) -> str: ...
    @property
    def sequence_prefix(self) -> int: ...
    @property
    def max_capacity(self) -> int: ...
    @property
    def day_length(self) -> float: ...
    @property
    def pages(self) -> list[PageEntry]: ...
    @staticmethod
    def load(path: str) -> AgeFile:
        """Load an .age file from disk."""
    @staticmethod
    def parse(age_name: str, content: str) -> AgeFile:
        """Parse .age content string."""
    def prp_filename(self, page_name: str) -> str | None:
        """Get the .prp filename for a page."""

@final
class PageEntry:
    @property
    def name(self) -> str: ...
    @property
    def seq_suffix(self) -> int: ...
    @property
    def flags(self) -> int: ...
    @property
    def auto_load(self) -> bool: ...

@final
class SdlFile:
    """SDL state descriptor manager."""

    def __init__(self) -> None: ...
    def load_file(self, path: str) -> int:
        """Load a single .sdl file."""
    def load_directory(self, path: str) -> int:
        """Load all .sdl files from a directory."""
    def find(self, name: str, version: int) -> SdlDescriptor | None:
        """Find a descriptor by name. Returns None if not found."""
    def descriptors(self) -> list[SdlDescriptor]:
        """Get every descriptor, sorted by name, each name's versions in the order they were read."""
    def __len__(self) -> int: ...

@final
class SdlDescriptor:
    @property
    def name(self) -> str: ...
    @property
    def version(self) -> int: ...
    @property
    def variables(self) -> list[SdlVariable]: ...

@final
class SdlVariable:
    @property
    def name(self) -> str: ...
    @property
    def var_type(self) -> str: ...
    @property
    def count(self) -> int: ...
    @property
    def default_value(self) -> str | None: ...
