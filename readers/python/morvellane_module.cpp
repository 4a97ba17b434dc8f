// The extension module morvellane._morvellane: the core's reader
// (codec/reader.h) over Python's buffers and files and Pillow's images. Every
// refusal is raised in the core's words, with its short name as the
// exception's `reason`. Rows are converted without the GIL, and nothing is
// read or written outside the caller's buffers.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <structmember.h>
#include <unistd.h>

#include "codec/morvellane.h"
#include "codec/reader.h"

namespace {

// ValueError for a file that is not a whole Morvellane bitmap, MemoryError
// for a picture too large to take; either with the core's text and reason.
PyObject* raise_refusal(const mrvln::Refusal& refusal) {
  char text[mrvln::REFUSAL_TEXT_SIZE];
  mrvln::refusal_text(refusal, text, sizeof text);
  PyObject* type =
      refusal.reason == mrvln::REASON_TOO_LARGE || refusal.reason == mrvln::REASON_OUT_OF_MEMORY
          ? PyExc_MemoryError
          : PyExc_ValueError;
  PyObject* error = PyObject_CallFunction(type, "s", text);
  PyObject* reason = PyUnicode_FromString(mrvln::reason_name(refusal.reason));
  if (error != nullptr && reason != nullptr && PyObject_SetAttrString(error, "reason", reason) == 0)
    PyErr_SetObject(type, error);
  Py_XDECREF(error);
  Py_XDECREF(reason);
  return nullptr;
}

// The memory the caller's picture needs could not be had: the core's words
// in place of Python's bare MemoryError.
PyObject* raise_out_of_memory(const mrvln::Reader& reader) {
  PyErr_Clear();
  return raise_refusal(mrvln::reader_out_of_memory(reader));
}

bool refused(const mrvln::Refusal& refusal) {
  if (refusal.reason == mrvln::REASON_NONE) return false;
  raise_refusal(refusal);
  return true;
}

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
  // The core's views are 32-bit. No file it reads reaches 4 GiB, so a
  // longer buffer is seen as its first 4 GiB - 1 bytes.
  const uint64_t length = static_cast<uint64_t>(in->buffer.len);
  in->view.data = static_cast<const uint8_t*>(in->buffer.buf);
  in->view.size = length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
  return true;
}

// None for no limit, else a byte count.
bool read_limit(PyObject* object, uint64_t* limit) {
  if (object == Py_None) {
    *limit = mrvln::NO_OUTPUT_LIMIT;
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
  *limit = overflow > 0 ? mrvln::NO_OUTPUT_LIMIT : static_cast<uint64_t>(value);
  return true;
}

// decode's `out`: a writable, C-contiguous buffer of bytes exactly the
// picture's size, flat or shaped (height, width, 3), apart from the input.
// The exporter's own error (BufferError, ValueError, TypeError) when it is
// read-only, strided or released.
bool acquire_out(PyObject* out, const mrvln::Reader& reader, const Input& in, Py_buffer* buffer) {
  if (PyObject_GetBuffer(out, buffer, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0)
    return false;
  const Py_ssize_t* shape = buffer->shape;
  const uintptr_t from = reinterpret_cast<uintptr_t>(in.view.data);
  const uintptr_t to = reinterpret_cast<uintptr_t>(buffer->buf);
  if (buffer->itemsize != 1) {
    PyErr_Format(PyExc_TypeError, "out must hold bytes (uint8), not items of %zd bytes",
                 buffer->itemsize);
  } else if (static_cast<uint64_t>(buffer->len) != reader.output_size ||
             (buffer->ndim == 3 ? shape[0] != reader.height || shape[1] != reader.width
                                : buffer->ndim != 1)) {
    PyErr_Format(PyExc_ValueError,
                 "out must be %llu bytes, flat or of shape (%u, %u, 3), for a %u x %u picture",
                 static_cast<unsigned long long>(reader.output_size), reader.height, reader.width,
                 reader.width, reader.height);
  } else if (to < from + in.view.size && from < to + reader.output_size) {
    PyErr_SetString(PyExc_ValueError, "out overlaps data");
  } else {
    return true;
  }
  PyBuffer_Release(buffer);
  return false;
}

PyObject* py_is_morvellane(PyObject*, PyObject* data) {
  Input in;
  if (!acquire(data, &in)) return nullptr;
  return PyBool_FromLong(mrvln::is_morvellane(in.view));
}

PyObject* py_decode(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"data", "limit", "out", nullptr};
  PyObject* data = nullptr;
  PyObject* limit_object = nullptr;
  PyObject* out = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:decode", const_cast<char**>(keywords), &data,
                                   &limit_object, &out))
    return nullptr;
  uint64_t limit = mrvln::DEFAULT_OUTPUT_LIMIT;
  if (limit_object != nullptr && !read_limit(limit_object, &limit)) return nullptr;

  Input in;
  if (!acquire(data, &in)) return nullptr;
  const mrvln::OutputLayout layout = {mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, 1, limit};
  mrvln::Reader reader;
  // Every refusal comes before anything is allocated or written.
  if (refused(mrvln::reader_start(&reader, in.view, layout)) ||
      refused(mrvln::reader_check_file_size(reader, in.view.size)))
    return nullptr;

  Py_buffer target = {};
  PyObject* pixels = nullptr;
  if (out != Py_None) {
    if (!acquire_out(out, reader, in, &target)) return nullptr;
    Py_INCREF(out);
    pixels = out;
  } else {
    pixels = reader.output_size > static_cast<uint64_t>(PY_SSIZE_T_MAX)
                 ? nullptr
                 : PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(reader.output_size));
    if (pixels == nullptr) return raise_out_of_memory(reader);
    target.buf = PyBytes_AS_STRING(pixels);
    target.len = PyBytes_GET_SIZE(pixels);
  }
  mrvln::reader_set_output(&reader, static_cast<uint8_t*>(target.buf),
                           static_cast<uint64_t>(target.len));
  mrvln::Refusal decoded;
  Py_BEGIN_ALLOW_THREADS;
  decoded = mrvln::reader_decode(&reader, in.view);
  Py_END_ALLOW_THREADS;
  if (out != Py_None) PyBuffer_Release(&target);
  // The file's size was checked, so every row is there.
  if (refused(decoded)) {
    Py_DECREF(pixels);
    return nullptr;
  }
  return Py_BuildValue("(IIN)", reader.width, reader.height, pixels);
}

// Pillow's image record (ImagingMemoryInstance, libImaging/Imaging.h) up to
// its line table, in the two layouts Pillow has had: the mode a string until
// 11.x, an enumeration from 12.0. Pillow hands it out as the capsule
// ImagingCore.ptr, named "PIL Imaging" until 10.x, "Pillow Imaging" after.
template <class Mode>
struct ImagingRecord {
  Mode mode;
  int type, depth, bands, xsize, ysize;
  void* palette;
  uint8_t** image8;
  int32_t** image32;
  char** image;
  char* block;
  void* blocks;
  int pixelsize, linesize;
};
struct ModeName {
  char text[7];
};
using ImagingUntil11 = ImagingRecord<ModeName>;
using ImagingFrom12 = ImagingRecord<int>;

bool mode_rgb(const ImagingUntil11& r) {
  return memcmp(r.mode.text, "RGB", 4) == 0;
}
bool mode_rgb(const ImagingFrom12& r) {
  return r.mode == 12;  // IMAGING_MODE_RGB
}

// The line table when `record` is an 8-bit RGB image of the reader's size
// in the layout `Record`, four bytes a pixel; nullptr when it is not.
template <class Record>
char** rgb_lines(const void* record, const mrvln::Reader& reader) {
  Record r;
  memcpy(&r, record, sizeof r);  // every layout's record is longer than these fields
  const bool rgb = mode_rgb(r) && r.type == 0 && r.bands == 3 && r.pixelsize == 4 &&
                   r.image8 == nullptr &&
                   static_cast<void*>(r.image32) == static_cast<void*>(r.image);
  const bool same_size = static_cast<uint32_t>(r.xsize) == reader.width &&
                         static_cast<uint32_t>(r.ysize) == reader.height &&
                         static_cast<uint64_t>(r.linesize) == 4ull * reader.width;
  return rgb && same_size ? r.image : nullptr;
}

// The rows of Pillow's image `image` (an ImagingCore), when this Pillow's
// record is one of the known layouts and holds an RGB picture of the
// reader's size; else nullptr, with no exception set.
char** pillow_lines(PyObject* image, const mrvln::Reader& reader) {
  PyObject* capsule = PyObject_GetAttrString(image, "ptr");
  if (capsule == nullptr || !PyCapsule_CheckExact(capsule)) {
    PyErr_Clear();
    Py_XDECREF(capsule);
    return nullptr;
  }
  const char* name = PyCapsule_GetName(capsule);
  const void* record = name != nullptr ? PyCapsule_GetPointer(capsule, name) : nullptr;
  char** lines = nullptr;
  if (record != nullptr &&
      (strcmp(name, "PIL Imaging") == 0 || strcmp(name, "Pillow Imaging") == 0))
    lines = rgb_lines<ImagingUntil11>(record, reader);
  if (record != nullptr && lines == nullptr && strcmp(name, "Pillow Imaging") == 0)
    lines = rgb_lines<ImagingFrom12>(record, reader);
  PyErr_Clear();
  Py_DECREF(capsule);
  return lines;
}

// Where a load writes: Pillow's image through its line table, or a caller's
// contiguous buffer of the output's size. Holds either for the load.
struct Target {
  PyObject* image = nullptr;
  char** lines = nullptr;
  Py_buffer buffer = {};
  bool held = false;

  Target() = default;
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;
  ~Target() {
    Py_XDECREF(image);
    if (held) PyBuffer_Release(&buffer);
  }
};

bool open_target(PyObject* object, const mrvln::Reader& reader, Target* target) {
  if (PyObject_CheckBuffer(object)) {
    if (PyObject_GetBuffer(object, &target->buffer, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) != 0)
      return false;
    target->held = true;
    if (static_cast<uint64_t>(target->buffer.len) == reader.output_size) return true;
    PyErr_Format(PyExc_ValueError, "the target holds %zd bytes, not the picture's %llu",
                 target->buffer.len, static_cast<unsigned long long>(reader.output_size));
    return false;
  }
  target->lines = pillow_lines(object, reader);
  if (target->lines == nullptr) {
    PyErr_SetString(PyExc_TypeError, "the target is neither a buffer nor a reachable Pillow image");
    return false;
  }
  Py_INCREF(object);
  target->image = object;
  return true;
}

// Bytes read at a time: few enough to stay in the processor's cache from the
// read to the conversion.
constexpr Py_ssize_t CHUNK_BYTES = 256 << 10;

// Read buffers of CHUNK_BYTES kept from load to load, so that a loop over
// pictures touches no new memory for them; the GIL guards the list.
constexpr int CHUNKS_KEPT = 2;
PyObject* kept_chunks[CHUNKS_KEPT];
int chunks_kept = 0;

PyObject* take_chunk() {
  if (chunks_kept > 0) return kept_chunks[--chunks_kept];
  return PyByteArray_FromStringAndSize(nullptr, CHUNK_BYTES);
}

void give_back_chunk(PyObject* chunk) {
  if (chunks_kept < CHUNKS_KEPT)
    kept_chunks[chunks_kept++] = chunk;
  else
    Py_DECREF(chunk);
}

// Reads up to `size` bytes into `view[at:]` with the file's readinto.
// Returns the count (0 at the end of the file), or -1 with an exception.
Py_ssize_t read_some(PyObject* readinto, PyObject* view, Py_ssize_t at, Py_ssize_t size) {
  PyObject* part = PySequence_GetSlice(view, at, at + size);
  PyObject* result = part != nullptr ? PyObject_CallOneArg(readinto, part) : nullptr;
  Py_XDECREF(part);
  if (result == nullptr) return -1;
  // None: a non-blocking stream with nothing to give, taken as its end.
  const Py_ssize_t got = result == Py_None ? 0 : PyLong_AsSsize_t(result);
  Py_DECREF(result);
  if (got == -1 && PyErr_Occurred()) return -1;
  if (got >= 0 && got <= size) return got;
  PyErr_Format(PyExc_OSError, "readinto gave %zd bytes when asked for at most %zd", got, size);
  return -1;
}

// A picture's reader for Pillow: RGBX rows (red, green, blue, 0xFF, as
// Pillow keeps RGB), top row first, no limit but Pillow's own.
struct PillowReader {
  PyObject_HEAD mrvln::Reader reader;
};
PyObject* pillow_reader_type = nullptr;

PyObject* PillowReader_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  PyObject* header = nullptr;
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) {
    PyErr_SetString(PyExc_TypeError, "PillowReader() takes no keyword arguments");
    return nullptr;
  }
  if (!PyArg_ParseTuple(args, "O:PillowReader", &header)) return nullptr;
  Input in;
  if (!acquire(header, &in)) return nullptr;
  const mrvln::OutputLayout layout = {mrvln::PIXEL_RGBX32, mrvln::ROWS_TOP_FIRST, 1,
                                      mrvln::NO_OUTPUT_LIMIT};
  mrvln::Reader reader;
  if (refused(mrvln::reader_start(&reader, in.view, layout))) return nullptr;
  PillowReader* self = reinterpret_cast<PillowReader*>(type->tp_alloc(type, 0));
  if (self != nullptr) self->reader = reader;
  return reinterpret_cast<PyObject*>(self);
}

// One load: the stored rows read a chunk at a time and fed to its own copy
// of the planned reader, which writes them into the target. Its state is its
// own, so a load may be repeated.
struct Load {
  mrvln::Reader reader;
  uint8_t* chunk;
  uint64_t fed = 0;  // stored bytes taken

  // The bytes the next read may take: never past the declared rows.
  size_t room() const {
    const uint64_t wanted = mrvln::reader_bytes_wanted(reader);
    const uint64_t chunk_bytes = CHUNK_BYTES;
    return static_cast<size_t>(wanted < chunk_bytes ? wanted : chunk_bytes);
  }

  // Takes `got` bytes read into the chunk; needs no GIL.
  void took(size_t got) {
    fed += mrvln::reader_feed(&reader, mrvln::ByteView{chunk, static_cast<uint32_t>(got)});
  }

  // At the end of the file: None, or the core's refusal of a file that lacks
  // rows, whose whole pixels are in the target.
  PyObject* end() const {
    if (refused(mrvln::reader_finish(reader))) return nullptr;
    Py_RETURN_NONE;
  }
};

// Runs `read` (a load's reading loop) with the target set as the reader's
// output and a chunk, which is kept from load to load.
template <class Read>
PyObject* run_load(const mrvln::Reader& planned, PyObject* target_object, Read read) {
  Target target;
  if (!open_target(target_object, planned, &target)) return nullptr;
  Load load = {planned, nullptr};
  if (target.lines != nullptr)
    mrvln::reader_set_output_rows(&load.reader, reinterpret_cast<uint8_t* const*>(target.lines),
                                  planned.height);
  else
    mrvln::reader_set_output(&load.reader, static_cast<uint8_t*>(target.buffer.buf),
                             static_cast<uint64_t>(target.buffer.len));
  PyObject* chunk = take_chunk();
  if (chunk == nullptr) return raise_out_of_memory(planned);
  load.chunk = reinterpret_cast<uint8_t*>(PyByteArray_AS_STRING(chunk));
  PyObject* result = read(chunk, &load) ? load.end() : nullptr;
  give_back_chunk(chunk);
  return result;
}

// load(readinto, target): reads the stored rows with a file object's
// readinto from its position on and writes them into the target as they
// arrive; the GIL is let go for each conversion.
PyObject* PillowReader_load(PyObject* object, PyObject* args) {
  PyObject* readinto = nullptr;
  PyObject* target = nullptr;
  if (!PyArg_ParseTuple(args, "OO:load", &readinto, &target)) return nullptr;
  return run_load(reinterpret_cast<PillowReader*>(object)->reader, target,
                  [readinto](PyObject* chunk, Load* load) {
                    PyObject* view = PyMemoryView_FromObject(chunk);
                    Py_ssize_t got = view != nullptr ? 1 : -1;
                    while (got > 0 && load->room() > 0) {
                      got = read_some(readinto, view, 0, static_cast<Py_ssize_t>(load->room()));
                      if (got <= 0) break;
                      Py_BEGIN_ALLOW_THREADS;
                      load->took(static_cast<size_t>(got));
                      Py_END_ALLOW_THREADS;
                    }
                    Py_XDECREF(view);
                    return got >= 0;
                  });
}

// load_file(fd, offset, target): the same from a file of the system's, read
// with pread from `offset` on, the whole load without the GIL.
PyObject* PillowReader_load_file(PyObject* object, PyObject* args) {
  int fd = -1;
  long long offset = 0;
  PyObject* target = nullptr;
  if (!PyArg_ParseTuple(args, "iLO:load_file", &fd, &offset, &target)) return nullptr;
  return run_load(
      reinterpret_cast<PillowReader*>(object)->reader, target, [fd, offset](PyObject*, Load* load) {
        for (;;) {
          ssize_t got = 0;
          int error = 0;
          Py_BEGIN_ALLOW_THREADS;
          while (load->room() > 0) {
            got = pread(fd, load->chunk, load->room(), static_cast<off_t>(offset + load->fed));
            if (got <= 0) break;
            load->took(static_cast<size_t>(got));
          }
          error = errno;
          Py_END_ALLOW_THREADS;
          if (got >= 0) return true;
          // Interrupted: Python's signal handlers run, then the reading goes on.
          if (error != EINTR) {
            errno = error;
            PyErr_SetFromErrno(PyExc_OSError);
            return false;
          }
          if (PyErr_CheckSignals() != 0) return false;
        }
      });
}

// check_file_size(size): ValueError, with the core's text, when a file of
// `size` bytes cannot hold every row.
PyObject* PillowReader_check_file_size(PyObject* object, PyObject* size_object) {
  const mrvln::Reader& r = reinterpret_cast<PillowReader*>(object)->reader;
  const unsigned long long size = PyLong_AsUnsignedLongLong(size_object);
  if (size == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return nullptr;
  if (refused(mrvln::reader_check_file_size(r, size))) return nullptr;
  Py_RETURN_NONE;
}

PyObject* py_reaches(PyObject*, PyObject* args) {
  PyObject* reader = nullptr;
  PyObject* image = nullptr;
  if (!PyArg_ParseTuple(args, "OO:reaches", &reader, &image)) return nullptr;
  if (!PyObject_TypeCheck(reader, reinterpret_cast<PyTypeObject*>(pillow_reader_type))) {
    PyErr_SetString(PyExc_TypeError, "reaches() takes a PillowReader");
    return nullptr;
  }
  if (PyObject_CheckBuffer(image)) Py_RETURN_FALSE;
  return PyBool_FromLong(pillow_lines(image, reinterpret_cast<PillowReader*>(reader)->reader) !=
                         nullptr);
}

#define READER_FIELD(name) offsetof(PillowReader, reader) + offsetof(mrvln::Reader, name)
PyMemberDef reader_members[] = {
    {"width", T_UINT, READER_FIELD(width), READONLY, "The picture's width in pixels."},
    {"height", T_UINT, READER_FIELD(height), READONLY, "The picture's height in rows."},
    {"file_size", T_ULONGLONG, READER_FIELD(file_size), READONLY,
     "The bytes of the whole file: the header and every row."},
    {"output_size", T_ULONGLONG, READER_FIELD(output_size), READONLY,
     "The bytes of the RGBX rows: 4 * width * height."},
    {nullptr, 0, 0, 0, nullptr},
};
#undef READER_FIELD

PyMethodDef reader_methods[] = {
    {"load", PillowReader_load, METH_VARARGS,
     "load(readinto, target) -> None\n\n"
     "Reads the rows with a file's readinto from its position on into target:\n"
     "Pillow's image of the picture (an ImagingCore that\n"
     "reaches() accepts) or a writable buffer of output_size bytes. A file\n"
     "that ends early leaves its whole pixels written and raises ValueError\n"
     "with reason 'truncated'."},
    {"load_file", PillowReader_load_file, METH_VARARGS,
     "load_file(fd, offset, target) -> None\n\n"
     "load() from the file descriptor fd, read with pread from offset on,\n"
     "without the GIL."},
    {"check_file_size", PillowReader_check_file_size, METH_O,
     "check_file_size(size) -> None\n\n"
     "ValueError (reason 'truncated') when a file of size bytes lacks rows."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot reader_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("PillowReader(header)\n\n"
                       "A Morvellane bitmap for Pillow, planned from its first 66 bytes:\n"
                       "RGBX rows, top row first. ValueError or MemoryError, with the reason,\n"
                       "for a header the core refuses.")},
    {Py_tp_new, reinterpret_cast<void*>(PillowReader_new)},
    {Py_tp_members, reader_members},
    {Py_tp_methods, reader_methods},
    {0, nullptr},
};

PyType_Spec reader_spec = {
    "morvellane._morvellane.PillowReader",
    sizeof(PillowReader),
    0,
    Py_TPFLAGS_DEFAULT,
    reader_slots,
};

PyMethodDef methods[] = {
    {"is_morvellane", py_is_morvellane, METH_O,
     "is_morvellane(data) -> bool\n\n"
     "Whether the first 38 bytes of data are those of a Morvellane bitmap."},
    {"decode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(py_decode)),
     METH_VARARGS | METH_KEYWORDS,
     "decode(data, limit=DEFAULT_OUTPUT_LIMIT, out=None) -> (width, height, pixels)\n\n"
     "The whole file in data as RGB rows, top row first, 3 * width bytes each:\n"
     "a new bytes object, or out itself."},
    {"reaches", py_reaches, METH_VARARGS,
     "reaches(reader, image) -> bool\n\n"
     "Whether PillowReader.load can write into this Pillow image directly."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {
    PyModuleDef_HEAD_INIT,
    "morvellane._morvellane",
    "The Morvellane core's reader: acceptance test, refusals and decoding.",
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
  if (pillow_reader_type == nullptr) pillow_reader_type = PyType_FromSpec(&reader_spec);
  const bool added = limit != nullptr && pillow_reader_type != nullptr &&
                     PyModule_AddObjectRef(m, "DEFAULT_OUTPUT_LIMIT", limit) == 0 &&
                     PyModule_AddObjectRef(m, "PillowReader", pillow_reader_type) == 0 &&
                     PyModule_AddIntConstant(m, "HEADER_SIZE", mrvln::PIXEL_DATA_OFFSET) == 0 &&
                     PyModule_AddStringConstant(m, "__version__", MRVLN_VERSION) == 0;
  Py_XDECREF(limit);
  if (!added) {
    Py_DECREF(m);
    return nullptr;
  }
  return m;
}
