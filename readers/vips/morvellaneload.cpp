// libvips module: loaders of Morvellane bitmaps from a file, a buffer and a
// source, over the core's reader. Their priority puts them before every
// loader that goes by the file's name and before magickload, which reads
// other BMPs; is_a is the core's acceptance test, so that every other file
// reaches libvips' own loaders unchanged, and a broken Morvellane bitmap is
// refused here in the core's words instead of in ImageMagick's.
//
// Sequential: libvips asks for whole-width strips from the top down, and
// each is read from the source as it is asked for, so that a picture of any
// size converts holding a few strips. A bottom-up file stores the top strip
// last: the source is read there (a pipe's bytes are then held by libvips,
// which cannot seek in a pipe otherwise). The reader writes each strip's
// rows into libvips' region through a table of row addresses: 8 bytes a row
// of the picture, not its pixels.
#include <vips/vips.h>

#include "codec/morvellane.h"
#include "codec/reader.h"

namespace {

using mrvln::ByteView;

// Rows as libvips keeps them: RGB, packed. libvips holds strips, never the
// whole picture, so no limit of its own applies: the core's bounds of the
// file (4 GiB) and libvips' of an image's sides do.
constexpr mrvln::OutputLayout kLayout = {mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, 1,
                                         mrvln::NO_OUTPUT_LIMIT};
constexpr size_t kChunk = 64 * 1024;  // bytes read from the source at a time

struct MorvellaneLoad {
  VipsForeignLoad parent_object;
  VipsSource* source;  // each subclass's build sets it
  mrvln::Reader reader;
  guint8** rows;    // output row y's address while its strip is read
  guint8* chunk;    // the source's bytes on their way to the reader
  gint64 position;  // where the source reads next
  bool decoding;    // the source keeps no bytes for reading them again
};

struct MorvellaneLoadClass {
  VipsForeignLoadClass parent_class;
};

// The core's words, unchanged, as the loader's error.
int refuse(VipsObject* object, const mrvln::Refusal& refusal) {
  char text[mrvln::REFUSAL_TEXT_SIZE];
  mrvln::refusal_text(refusal, text, sizeof text);
  vips_error(VIPS_OBJECT_GET_CLASS(object)->nickname, "%s", text);
  return -1;
}

// The acceptance test on a file's first bytes: broken Morvellane bitmaps are
// this loader's too, so that they are refused with their reason.
gboolean is_morvellane_start(const void* data, size_t size) {
  mrvln::Reader reader;
  const ByteView header{static_cast<const uint8_t*>(data),
                        static_cast<uint32_t>(MIN(size, size_t{mrvln::PIXEL_DATA_OFFSET}))};
  return mrvln::reader_start(&reader, header, kLayout).reason != mrvln::REASON_NOT_MORVELLANE;
}

gboolean is_a_source(VipsSource* source) {
  unsigned char* data;
  const gint64 size = vips_source_sniff_at_most(source, &data, mrvln::PIXEL_DATA_OFFSET);
  return size >= 0 && is_morvellane_start(data, static_cast<size_t>(size));
}

gboolean is_a_file(const char* filename) {
  VipsSource* source = vips_source_new_from_file(filename);
  if (source == nullptr) return FALSE;
  const gboolean result = is_a_source(source);
  g_object_unref(source);
  return result;
}

G_DEFINE_ABSTRACT_TYPE(MorvellaneLoad, morvellane_load, VIPS_TYPE_FOREIGN_LOAD)

void morvellane_load_dispose(GObject* gobject) {
  MorvellaneLoad* m = reinterpret_cast<MorvellaneLoad*>(gobject);
  VIPS_UNREF(m->source);
  VIPS_FREE(m->rows);
  VIPS_FREE(m->chunk);
  G_OBJECT_CLASS(morvellane_load_parent_class)->dispose(gobject);
}

VipsForeignFlags get_flags(VipsForeignLoad*) {
  return VIPS_FOREIGN_SEQUENTIAL;
}

void set_fields(MorvellaneLoad* m, VipsImage* image) {
  vips_image_init_fields(image, static_cast<int>(m->reader.width),
                         static_cast<int>(m->reader.height), 3, VIPS_FORMAT_UCHAR, VIPS_CODING_NONE,
                         VIPS_INTERPRETATION_sRGB, 1.0, 1.0);
  (void)vips_image_pipelinev(image, VIPS_DEMAND_STYLE_THINSTRIP, nullptr);
}

// The header alone: a file that is too short for its rows is refused here
// when its length is known without reading it all (a pipe's is not).
int header(VipsForeignLoad* load) {
  MorvellaneLoad* m = reinterpret_cast<MorvellaneLoad*>(load);
  VipsObject* object = VIPS_OBJECT(load);
  unsigned char* data;
  const gint64 size = vips_source_sniff_at_most(m->source, &data, mrvln::PIXEL_DATA_OFFSET);
  if (size < 0) return -1;
  const ByteView bytes{data, static_cast<uint32_t>(size)};
  mrvln::Refusal refusal = mrvln::reader_start(&m->reader, bytes, kLayout);
  if (refusal.reason != mrvln::REASON_NONE) return refuse(object, refusal);
  if (m->reader.width > VIPS_MAX_COORD || m->reader.height > VIPS_MAX_COORD) {
    vips_error(VIPS_OBJECT_GET_CLASS(object)->nickname, "%s", "image too large");
    return -1;
  }
  if (!m->source->is_pipe) {
    const gint64 length = vips_source_length(m->source);
    if (length < 0) return -1;
    refusal = mrvln::reader_check_file_size(m->reader, static_cast<uint64_t>(length));
    if (refusal.reason != mrvln::REASON_NONE) return refuse(object, refusal);
  }
  set_fields(m, load->out);
  VIPS_SETSTR(load->out->filename, vips_connection_filename(VIPS_CONNECTION(m->source)));
  vips_source_minimise(m->source);
  return 0;
}

// Moves the source to `offset`. A pipe is read up to it, so that a file too
// short for its rows is refused as truncated; libvips keeps what it reads of
// a pipe until decoding starts.
int move_to(MorvellaneLoad* m, gint64 offset) {
  while (m->source->is_pipe && m->position < offset) {
    const gint64 got = vips_source_read(
        m->source, m->chunk, static_cast<size_t>(MIN(offset - m->position, gint64{kChunk})));
    if (got < 0) return -1;
    if (got == 0)
      return refuse(VIPS_OBJECT(m), mrvln::reader_check_file_size(m->reader, m->position));
    m->position += got;
  }
  if (offset == m->position) return 0;
  if (m->decoding && m->source->is_pipe) {
    vips_error(VIPS_OBJECT_GET_CLASS(m)->nickname, "%s", "a pipe cannot be read again");
    return -1;
  }
  if (vips_source_seek(m->source, offset, SEEK_SET) < 0) return -1;
  m->position = offset;
  return 0;
}

// One whole-width strip: its stored rows are sought, read and fed to the
// reader, which writes them into the region.
int generate(VipsRegion* out, void*, void* a, void*, gboolean*) {
  MorvellaneLoad* m = static_cast<MorvellaneLoad*>(a);
  mrvln::Reader& r = m->reader;
  const VipsRect& strip = out->valid;
  if (strip.left != 0 || strip.width != static_cast<int>(r.width)) {
    // vips_sequential asks for no other
    vips_error(VIPS_OBJECT_GET_CLASS(m)->nickname, "%s", "only whole rows are read");
    return -1;
  }
  const uint32_t top = static_cast<uint32_t>(strip.top),
                 count = static_cast<uint32_t>(strip.height);
  for (uint32_t y = top; y < top + count; ++y)
    m->rows[y] = VIPS_REGION_ADDR(out, 0, static_cast<int>(y));
  // Output and stored row numbers map both ways alike (a flip or none).
  const uint32_t first =
      MIN(mrvln::reader_output_row(r, top), mrvln::reader_output_row(r, top + count - 1));
  const gint64 offset = static_cast<gint64>(mrvln::reader_seek_rows(&r, first, count));
  int status = move_to(m, offset);
  // Rows stored top first are read once, in order: libvips may drop what it
  // kept of a pipe for sniffing. A pipe whose top strip comes last is kept
  // whole, to be read back.
  if (status == 0 && r.stored_top_first && !m->decoding) {
    vips_source_decode(m->source);
    m->decoding = true;
  }
  for (uint64_t wanted; status == 0 && (wanted = mrvln::reader_bytes_wanted(r)) > 0;) {
    const gint64 got = vips_source_read(m->source, m->chunk, MIN(wanted, uint64_t{kChunk}));
    if (got <= 0) {
      status = got < 0 ? -1 : refuse(VIPS_OBJECT(m), mrvln::reader_finish(r));
      break;
    }
    m->position += got;
    mrvln::reader_feed(&r, ByteView{m->chunk, static_cast<uint32_t>(got)});
  }
  if (status != 0) vips_foreign_load_invalidate(m->parent_object.real);
  return status;
}

int load(VipsForeignLoad* load) {
  MorvellaneLoad* m = reinterpret_cast<MorvellaneLoad*>(load);
  VipsImage** t = reinterpret_cast<VipsImage**>(vips_object_local_array(VIPS_OBJECT(load), 2));
  m->rows = static_cast<guint8**>(g_try_malloc0_n(m->reader.height, sizeof(guint8*)));
  m->chunk = static_cast<guint8*>(g_try_malloc(kChunk));
  if (m->rows == nullptr || m->chunk == nullptr ||
      !mrvln::reader_set_output_rows(&m->reader, m->rows, m->reader.height))
    return refuse(VIPS_OBJECT(load), mrvln::reader_out_of_memory(m->reader));
  m->position = vips_source_seek(m->source, 0, SEEK_CUR);
  if (m->position < 0) return -1;
  t[0] = vips_image_new();
  set_fields(m, t[0]);
  if (vips_image_generate(t[0], nullptr, generate, nullptr, m, nullptr) ||
      vips_sequential(t[0], &t[1], nullptr) || vips_image_write(t[1], load->real))
    return -1;
  return 0;
}

const char* kSuffixes[] = {".bmp", nullptr};

void morvellane_load_class_init(MorvellaneLoadClass* klass) {
  GObjectClass* gobject_class = G_OBJECT_CLASS(klass);
  VipsObjectClass* object_class = VIPS_OBJECT_CLASS(klass);
  VipsForeignClass* foreign_class = VIPS_FOREIGN_CLASS(klass);
  VipsForeignLoadClass* load_class = VIPS_FOREIGN_LOAD_CLASS(klass);
  gobject_class->dispose = morvellane_load_dispose;
  gobject_class->set_property = vips_object_set_property;
  gobject_class->get_property = vips_object_get_property;
  object_class->nickname = "morvellaneload_base";
  object_class->description = "load Morvellane bitmap (16-bit 5-6-5 BMP)";
  foreign_class->suffs = kSuffixes;
  // Above the loaders that match by the name (csv, matrix: 0; analyze, fits:
  // -50) and magickload (-100); the sniffers above it cannot take "BM".
  foreign_class->priority = 100;
  load_class->get_flags = get_flags;
  load_class->header = header;
  load_class->load = load;
}

void morvellane_load_init(MorvellaneLoad*) {}

// What the file, buffer and source loaders' classes share: vips' property
// handling, their names, and the build that makes their source.
void init_route_class(MorvellaneLoadClass* klass, const char* nickname, const char* description,
                      int (*build)(VipsObject*)) {
  GObjectClass* gobject_class = G_OBJECT_CLASS(klass);
  VipsObjectClass* object_class = VIPS_OBJECT_CLASS(klass);
  gobject_class->set_property = vips_object_set_property;
  gobject_class->get_property = vips_object_get_property;
  object_class->nickname = nickname;
  object_class->description = description;
  object_class->build = build;
}

// From a file name.
struct MorvellaneLoadFile {
  MorvellaneLoad parent_object;
  char* filename;
};
using MorvellaneLoadFileClass = MorvellaneLoadClass;

G_DEFINE_TYPE(MorvellaneLoadFile, morvellane_load_file, morvellane_load_get_type())

int file_build(VipsObject* object) {
  MorvellaneLoadFile* file = reinterpret_cast<MorvellaneLoadFile*>(object);
  if (file->filename && !(file->parent_object.source = vips_source_new_from_file(file->filename)))
    return -1;
  return VIPS_OBJECT_CLASS(morvellane_load_file_parent_class)->build(object);
}

void morvellane_load_file_class_init(MorvellaneLoadFileClass* klass) {
  init_route_class(klass, "morvellaneload", "load Morvellane bitmap (16-bit 5-6-5 BMP) from file",
                   file_build);
  VIPS_FOREIGN_LOAD_CLASS(klass)->is_a = is_a_file;
  VIPS_ARG_STRING(klass, "filename", 1, "Filename", "Filename to load from",
                  VIPS_ARGUMENT_REQUIRED_INPUT, G_STRUCT_OFFSET(MorvellaneLoadFile, filename),
                  nullptr);
}

void morvellane_load_file_init(MorvellaneLoadFile*) {}

// From a block of memory (new_from_buffer).
struct MorvellaneLoadBuffer {
  MorvellaneLoad parent_object;
  VipsBlob* blob;
};
using MorvellaneLoadBufferClass = MorvellaneLoadClass;

G_DEFINE_TYPE(MorvellaneLoadBuffer, morvellane_load_buffer, morvellane_load_get_type())

int buffer_build(VipsObject* object) {
  MorvellaneLoadBuffer* buffer = reinterpret_cast<MorvellaneLoadBuffer*>(object);
  if (buffer->blob && !(buffer->parent_object.source = vips_source_new_from_blob(buffer->blob)))
    return -1;
  return VIPS_OBJECT_CLASS(morvellane_load_buffer_parent_class)->build(object);
}

void morvellane_load_buffer_class_init(MorvellaneLoadBufferClass* klass) {
  init_route_class(klass, "morvellaneload_buffer",
                   "load Morvellane bitmap (16-bit 5-6-5 BMP) from buffer", buffer_build);
  VIPS_FOREIGN_LOAD_CLASS(klass)->is_a_buffer = is_morvellane_start;
  VIPS_ARG_BOXED(klass, "buffer", 1, "Buffer", "Buffer to load from", VIPS_ARGUMENT_REQUIRED_INPUT,
                 G_STRUCT_OFFSET(MorvellaneLoadBuffer, blob), VIPS_TYPE_BLOB);
}

void morvellane_load_buffer_init(MorvellaneLoadBuffer*) {}

// From a source (streams: pipes, sockets, a program's own reader).
struct MorvellaneLoadSource {
  MorvellaneLoad parent_object;
  VipsSource* source;
};
using MorvellaneLoadSourceClass = MorvellaneLoadClass;

G_DEFINE_TYPE(MorvellaneLoadSource, morvellane_load_source, morvellane_load_get_type())

int source_build(VipsObject* object) {
  MorvellaneLoadSource* source = reinterpret_cast<MorvellaneLoadSource*>(object);
  if (source->source) {
    source->parent_object.source = source->source;
    g_object_ref(source->source);
  }
  return VIPS_OBJECT_CLASS(morvellane_load_source_parent_class)->build(object);
}

void morvellane_load_source_class_init(MorvellaneLoadSourceClass* klass) {
  init_route_class(klass, "morvellaneload_source",
                   "load Morvellane bitmap (16-bit 5-6-5 BMP) from source", source_build);
  VipsOperationClass* operation_class = VIPS_OPERATION_CLASS(klass);
  operation_class->flags =  // a source is read once
      static_cast<VipsOperationFlags>(operation_class->flags | VIPS_OPERATION_NOCACHE);
  VIPS_FOREIGN_LOAD_CLASS(klass)->is_a_source = is_a_source;
  VIPS_ARG_OBJECT(klass, "source", 1, "Source", "Source to load from", VIPS_ARGUMENT_REQUIRED_INPUT,
                  G_STRUCT_OFFSET(MorvellaneLoadSource, source), VIPS_TYPE_SOURCE);
}

void morvellane_load_source_init(MorvellaneLoadSource*) {}

}  // namespace

// libvips opens every module in its modules folder at start; the loaders
// exist once their types are registered.
extern "C" G_MODULE_EXPORT const gchar* g_module_check_init(GModule*) {
  morvellane_load_file_get_type();
  morvellane_load_buffer_get_type();
  morvellane_load_source_get_type();
  return nullptr;
}
