#include <string>

#include "bindings/convert.h"
#include "bindings/view_edit.h"
#include "core/text.h"
#include "resource/prp/mipmap.h"

namespace lumivex::py {
namespace {

using MipmapView = Decoded<MipmapData>;

std::string mipmap_repr(const MipmapView& view) {
  const MipmapData& mipmap = view.record;
  return "Mipmap('" + text_or_empty(mipmap.name, view.source) + "', " + std::to_string(mipmap.width) + "x" +
         std::to_string(mipmap.height) + ", " + std::to_string(mipmap.num_levels) + " levels, " +
         std::to_string(mipmap.total_size) + " bytes)";
}

// Calls the function of the package's texture module that converts a texture:
// its levels' sizes and pixel formats are known there.
PyObject* call_texture(const char* function, PyObject* mipmap, PyObject* level = nullptr) {
  const Ref texture = Ref::checked(PyImport_ImportModule("lumivex.texture"));
  return checked(PyObject_CallMethod(texture.get(), function, level ? "OO" : "O", mipmap, level));
}

PyObject* levels(PyObject* self) { return call_texture("levels", self); }

PyObject* to_image(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyObject* level = nullptr;
  parse_args(args, kwargs, "to_image", {"level"}, {&level}, 0);
  if (!level) return call_texture("to_image", self);
  arg_u32(level, "to_image", "level");
  return call_texture("to_image", self, level);
}

}  // namespace

template <>
const ClassDef<MipmapView>& class_def<MipmapView>() {
  static const ClassDef<MipmapView> def{
      .id = view_type_id<MipmapData>(),
      .qualified_name = "lumivex.Mipmap",
      .properties =
          {
              {"name", decoded_name_or_empty<&MipmapData::name>, "Texture name."},
              {"width", decoded_value<&MipmapData::width>, "Width of the top level in pixels."},
              {"height", decoded_value<&MipmapData::height>, "Height of the top level in pixels."},
              {"num_levels", decoded_value<&MipmapData::num_levels>, "Number of levels."},
              {"compression_type", decoded_value<&MipmapData::compression_type>,
               "Compression: 0 uncompressed, 1 block-compressed (DXT)."},
              {"dxt_type", decoded_value<&MipmapData::dxt_type>,
               "Block format (1 DXT1, 5 DXT5), or pixel format when uncompressed (0: 32-bit B,G,R,A)."},
              {"total_size", decoded_value<&MipmapData::total_size>, "Size of every level's pixels, as stored."},
              {"pixel_data", [](const MipmapView& m) { return to_py(m.source.bytes(m.record.pixel_data)); },
               "Stored bytes of every level, the top level first."},
              {"levels", levels,
               "Each level stored whole as (width, height, data), the full-size level first; none for a format "
               "whose levels are not known."},
          },
      .methods =
          {
              method<to_image>("to_image",
                               "to_image($self, level=0)\n--\n\nA level as an RGBA Pillow image (Pillow comes with the "
                               "images extra)."),
          },
      .repr = mipmap_repr,
  };
  return def;
}

template <>
const std::vector<Settable>& settable_properties<MipmapData>() {
  static const std::vector<Settable> settable = {};
  return settable;
}

const RegisterView<MipmapData> register_mipmap_view;

}  // namespace lumivex::py
