// The extension module morvellane._morvellane: the core's acceptance test,
// size plan and row decoder over any buffer-protocol object. Pictures are
// decoded without the GIL, from the caller's own bytes, and nothing is read
// outside them.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <stdint.h>
#include <string.h>

#include "codec/morvellane.h"

namespace {

// The caller's bytes for the length of one call: the object's own buffer
// when it is contiguous, else a contiguous copy in logical order (a slice
// with a step, a Fortran-order array).
struct Input {
  Py_buffer buffer = {};
  bool held = false;
  PyObject* copy = nullptr;
  mrvln::ByteView view = {nullptr, 0};

  Input() = default;
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  ~Input() {
    if (held) PyBuffer_Release(&buffer);
    Py_XDECREF(copy);
  }
};

bool copy_strided(PyObject* object, Input* in) {
  Py_buffer strided;
  if (PyObject_GetBuffer(object, &strided, PyBUF_FULL_RO) != 0) return false;
  in->copy = PyBytes_FromStringAndSize(nullptr, strided.len);
  const bool copied = in->copy != nullptr && PyBuffer_ToContiguous(PyBytes_AS_STRING(in->copy),
                                                                   &strided, strided.len, 'C') == 0;
  PyBuffer_Release(&strided);
  return copied && PyObject_GetBuffer(in->copy, &in->buffer, PyBUF_SIMPLE) == 0;
}

bool acquire(PyObject* object, Input* in) {
  if (PyObject_GetBuffer(object, &in->buffer, PyBUF_SIMPLE) != 0) {
    // Exporters refuse a simple view of a strided buffer with BufferError or,
    // as NumPy does, ValueError.
    if (!PyObject_CheckBuffer(object)) return false;
    PyErr_Clear();
    if (!copy_strided(object, in)) return false;
  }
  in->held = true;
  // The core's views are 32-bit. No picture it plans reaches past 4 GiB, so
  // a longer buffer is seen as its first 4 GiB - 1 bytes.
  const uint64_t length = static_cast<uint64_t>(in->buffer.len);
  in->view.data = static_cast<const uint8_t*>(in->buffer.buf);
  in->view.size = length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
  return true;
}

// None for no limit, else a byte count.
bool read_limit(PyObject* object, uint64_t* limit) {
  if (object == Py_None) {
    *limit = UINT64_MAX;
    return true;
  }
  if (!PyLong_Check(object)) {
    PyErr_SetString(PyExc_TypeError, "limit must be an int or None");
    return false;
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
  if (value == -1 && PyErr_Occurred()) return false;
  if (overflow < 0 || (overflow == 0 && value < 0)) {
    PyErr_SetString(PyExc_ValueError, "limit must not be negative");
    return false;
  }
  // Past 2^63 bytes: more than any picture needs.
  *limit = overflow > 0 ? UINT64_MAX : static_cast<uint64_t>(value);
  return true;
}

// Why plan_image refused the header, in the words of the core's result codes.
PyObject* plan_refused(mrvln::ByteView header, mrvln::Result result, uint64_t limit) {
  mrvln::Header h;
  mrvln::parse_header(header, &h);  // is_morvellane held, so the size fields are there
  if (result != mrvln::RESULT_OUT_OF_MEMORY)
    return PyErr_Format(PyExc_ValueError,
                        "broken data: a picture of %d x %d pixels is impossible (a negative "
                        "width, the most negative height, or no pixels)",
                        h.width, h.height);
  mrvln::ImagePlan unlimited;
  if (limit != UINT64_MAX && mrvln::plan_image(header, mrvln::PIXEL_RGB24, 1, UINT64_MAX,
                                               &unlimited) == mrvln::RESULT_SUCCESS)
    return PyErr_Format(PyExc_MemoryError,
                        "out of memory: a picture of %d x %d pixels needs %llu bytes, more than "
                        "the limit of %llu",
                        h.width, h.height, static_cast<unsigned long long>(unlimited.output_size),
                        static_cast<unsigned long long>(limit));
  return PyErr_Format(PyExc_MemoryError,
                      "out of memory: a picture of %d x %d pixels is larger than this reader "
                      "decodes (its sizes do not fit in 32 bits)",
                      h.width, h.height);
}

// The picture's plan in `format`, rows unpadded, top row first: RGB for
// decode(), RGBX for Pillow's strips.
bool plan_pixels(mrvln::ByteView bytes, mrvln::PixelFormat format, uint64_t limit,
                 mrvln::ImagePlan* plan) {
  if (!mrvln::is_morvellane(bytes)) {
    PyErr_SetString(PyExc_ValueError, "not a Morvellane bitmap");
    return false;
  }
  const mrvln::Result planned = mrvln::plan_image(bytes, format, 1, limit, plan);
  if (planned == mrvln::RESULT_SUCCESS) return true;
  plan_refused(bytes, planned, limit);
  return false;
}

PyObject* py_is_morvellane(PyObject*, PyObject* data) {
  Input in;
  if (!acquire(data, &in)) return nullptr;
  return PyBool_FromLong(mrvln::is_morvellane(in.view));
}

// Bytes of converted output a strip aims at: few enough to stay in the
// processor's cache from the core's conversion to Pillow's copy.
constexpr uint64_t STRIP_OUTPUT_BYTES = 256 << 10;
// Four bytes a pixel, as Pillow keeps RGB, so that its copy is a plain one.
constexpr mrvln::PixelFormat STRIP_FORMAT = mrvln::PIXEL_RGBX32;

PyObject* py_plan(PyObject*, PyObject* data) {
  Input in;
  mrvln::ImagePlan plan;
  if (!acquire(data, &in) || !plan_pixels(in.view, STRIP_FORMAT, UINT64_MAX, &plan)) return nullptr;
  const mrvln::DecodePlan& picture = plan.picture;
  const uint64_t file_size = mrvln::PIXEL_DATA_OFFSET + static_cast<uint64_t>(picture.source_size);
  uint64_t strip_rows = STRIP_OUTPUT_BYTES / plan.layout.stride;
  if (strip_rows == 0) strip_rows = 1;
  if (strip_rows > picture.rows) strip_rows = picture.rows;
  const uint64_t strip_bytes = strip_rows * picture.source_row_size;
  const bool top_first = mrvln::output_row(picture, mrvln::ROWS_TOP_FIRST, 0) == 0;
  return Py_BuildValue(
      "(iIKKO)", picture.width, picture.rows, static_cast<unsigned long long>(file_size),
      static_cast<unsigned long long>(strip_bytes), top_first ? Py_True : Py_False);
}

// A new bytes object of `size` bytes, or nullptr with MemoryError.
PyObject* new_pixels(uint64_t size) {
  if (size > static_cast<uint64_t>(PY_SSIZE_T_MAX)) return PyErr_NoMemory();
  return PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
}

// This processor's fastest conversion path, asked for once: cpuid, which
// the choice takes, is slow on virtual machines, and strips are many.
mrvln::ConvertPath fastest_path() {
  static const mrvln::ConvertPath path = mrvln::best_convert_path();
  return path;
}

// Converts `count` stored rows into `pixels` without the GIL; on failure
// releases `pixels` and raises ValueError.
PyObject* convert(const mrvln::DecodePlan& picture, const mrvln::OutputLayout& layout,
                  mrvln::ByteView rows, uint32_t count, PyObject* pixels) {
  uint8_t* out = reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(pixels));
  const uint64_t size = static_cast<uint64_t>(PyBytes_GET_SIZE(pixels));
  const mrvln::ConvertPath path = fastest_path();
  mrvln::Result converted;
  Py_BEGIN_ALLOW_THREADS;
  converted = mrvln::decode_rows(picture, layout, rows, 0, count, out, size, path);
  Py_END_ALLOW_THREADS;
  if (converted == mrvln::RESULT_SUCCESS) return pixels;
  Py_DECREF(pixels);
  return PyErr_Format(PyExc_ValueError, "broken data: the rows could not be converted (code %d)",
                      static_cast<int>(converted));
}

PyObject* py_convert_rows(PyObject*, PyObject* args) {
  PyObject* header_object = nullptr;
  PyObject* rows_object = nullptr;
  if (!PyArg_ParseTuple(args, "OO:convert_rows", &header_object, &rows_object)) return nullptr;
  Input header;
  Input rows;
  mrvln::ImagePlan plan;
  if (!acquire(header_object, &header) ||
      !plan_pixels(header.view, STRIP_FORMAT, UINT64_MAX, &plan) || !acquire(rows_object, &rows))
    return nullptr;
  const mrvln::DecodePlan& picture = plan.picture;
  uint32_t count = rows.view.size / picture.source_row_size;
  if (count > picture.rows) count = picture.rows;
  mrvln::ByteView whole;
  if (!mrvln::sub_view(rows.view, 0, count * picture.source_row_size, &whole))
    return PyErr_Format(PyExc_ValueError, "broken data: %u rows do not fit", count);
  PyObject* pixels = new_pixels(static_cast<uint64_t>(count) * plan.layout.stride);
  if (pixels == nullptr) return nullptr;
  // Stored rows convert alike wherever they lie, so each strip goes in as
  // the picture's first rows, into a block of its own, in stored order.
  const mrvln::OutputLayout layout = {STRIP_FORMAT, mrvln::ROWS_AS_STORED, plan.layout.stride,
                                      false};
  return convert(picture, layout, whole, count, pixels);
}

PyObject* py_decode(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"data", "limit", nullptr};
  PyObject* data = nullptr;
  PyObject* limit_object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:decode", const_cast<char**>(keywords), &data,
                                   &limit_object))
    return nullptr;
  uint64_t limit = mrvln::DEFAULT_OUTPUT_LIMIT;
  if (limit_object != nullptr && !read_limit(limit_object, &limit)) return nullptr;

  Input in;
  mrvln::ImagePlan plan;
  if (!acquire(data, &in) || !plan_pixels(in.view, mrvln::PIXEL_RGB24, limit, &plan))
    return nullptr;
  const mrvln::DecodePlan& picture = plan.picture;
  // Checked before anything is allocated, so that a header alone never
  // costs more than its own bytes.
  mrvln::ByteView stored;
  if (!mrvln::file_holds_rows(picture, in.view.size) ||
      !mrvln::sub_view(in.view, mrvln::PIXEL_DATA_OFFSET, picture.source_size, &stored))
    return PyErr_Format(PyExc_ValueError,
                        "broken data: the file is shorter than its header declares (%u bytes "
                        "for the rows of a %d x %u picture)",
                        in.view.size, picture.width, picture.rows);
  PyObject* pixels = new_pixels(plan.output_size);
  if (pixels == nullptr) return nullptr;
  pixels = convert(picture, plan.layout, stored, picture.rows, pixels);
  if (pixels == nullptr) return nullptr;
  return Py_BuildValue("(iIN)", picture.width, picture.rows, pixels);
}

PyMethodDef methods[] = {
    {"is_morvellane", py_is_morvellane, METH_O,
     "is_morvellane(data) -> bool\n\n"
     "Whether the first 38 bytes of data are those of a Morvellane bitmap."},
    {"decode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(py_decode)),
     METH_VARARGS | METH_KEYWORDS,
     "decode(data, limit=DEFAULT_OUTPUT_LIMIT) -> (width, height, bytes)\n\n"
     "The whole file in data as RGB rows, top row first, 3 * width bytes each."},
    {"plan", py_plan, METH_O,
     "plan(header) -> (width, height, file_size, strip_bytes, top_first)\n\n"
     "From the first 66 bytes: the picture's size, the byte its rows end at,\n"
     "the stored bytes of a strip of whole rows, and whether the first stored\n"
     "row is the top row. ValueError or MemoryError when the core refuses it."},
    {"convert_rows", py_convert_rows, METH_VARARGS,
     "convert_rows(header, rows) -> bytes\n\n"
     "The whole stored rows at the start of rows, as RGBX rows (red, green,\n"
     "blue, 0xFF: Pillow's raw mode RGBX) in stored order;\n"
     "the bytes of a last partial row are left."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {
    PyModuleDef_HEAD_INIT,
    "morvellane._morvellane",
    "The Morvellane core: acceptance test, size plan and decoder.",
    -1,
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__morvellane(void) {
  PyObject* m = PyModule_Create(&module);
  if (m == nullptr) return nullptr;
  PyObject* limit = PyLong_FromUnsignedLongLong(mrvln::DEFAULT_OUTPUT_LIMIT);
  const bool added = limit != nullptr &&
                     PyModule_AddObjectRef(m, "DEFAULT_OUTPUT_LIMIT", limit) == 0 &&
                     PyModule_AddIntConstant(m, "HEADER_SIZE", mrvln::PIXEL_DATA_OFFSET) == 0 &&
                     PyModule_AddStringConstant(m, "__version__", MRVLN_VERSION) == 0;
  Py_XDECREF(limit);
  if (!added) {
    Py_DECREF(m);
    return nullptr;
  }
  return m;
}
