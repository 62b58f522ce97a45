#include <string>
#include <vector>

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

// The texture module makes the levels and knows the formats; the object's
// bytes are written and read back here, as any view's are.
PyObject* from_image(PyObject* cls, PyObject* args, PyObject* kwargs) {
  constexpr Py_ssize_t kPositional = 2;  // format and levels are keyword-only
  if (PyTuple_GET_SIZE(args) > kPositional) {
    PyErr_Format(PyExc_TypeError, "from_image() takes %zd positional arguments but %zd were given", kPositional,
                 PyTuple_GET_SIZE(args));
    throw PythonError{};
  }
  PyObject* name = nullptr;
  PyObject* image = nullptr;
  PyObject* format = nullptr;
  PyObject* levels = nullptr;
  parse_args(args, kwargs, "from_image", {"name", "image", "format", "levels"}, {&name, &image, &format, &levels},
             kPositional);
  NewMipmap mipmap;
  mipmap.name_bytes = arg_str(name, "from_image", "name");
  // A name the texture cannot hold fails before the image is encoded.
  check_new_safe_string(mipmap.name_bytes);
  const Ref options = Ref::checked(PyDict_New());
  if (format && PyDict_SetItemString(options.get(), "format", format) < 0) throw PythonError{};
  if (levels && PyDict_SetItemString(options.get(), "levels", levels) < 0) throw PythonError{};
  const Ref texture = Ref::checked(PyImport_ImportModule("lumivex.texture"));
  const Ref new_texture = Ref::checked(PyObject_GetAttrString(texture.get(), "new_texture"));
  const Ref image_only = Ref::checked(PyTuple_Pack(1, image));
  const Ref stored = Ref::checked(PyObject_Call(new_texture.get(), image_only.get(), options.get()));
  PyObject* pixels = nullptr;
  if (!PyArg_ParseTuple(stored.get(), "bbbbIIIbS", &mipmap.pixel_size, &mipmap.compression_type, &mipmap.block_size,
                        &mipmap.dxt_type, &mipmap.width, &mipmap.height, &mipmap.row_bytes, &mipmap.num_levels,
                        &pixels))
    throw PythonError{};
  mipmap.pixel_data = {reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(pixels)),
                       static_cast<std::size_t>(PyBytes_GET_SIZE(pixels))};
  const std::vector<uint8_t> bytes = write_mipmap(mipmap);
  return decode_view_of<MipmapData>(state_of(reinterpret_cast<PyTypeObject*>(cls)), bytes);
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
              {"from_image", function(call_args<from_image, Failure::Data>), METH_VARARGS | METH_KEYWORDS | METH_CLASS,
               "from_image($cls, name, image, *, format='dxt5', levels=None)\n--\n\nA new texture made from a Pillow "
               "image or an image file: 'dxt1' (no alpha), 'dxt5' or 'argb' (32-bit B,G,R,A), with every level down "
               "to 1x1 unless levels says how many, each downscaled from the one before. Width and height must be "
               "powers "
               "of two. Its own key is of location 0 and object id 0; bits per pixel, the block size and the bytes "
               "per row are stored as the format has them, the space, flags and modified time as 0."},
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
