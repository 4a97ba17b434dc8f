// gdk-pixbuf loader module for Morvellane bitmaps, over the shared core.
// Incremental only: viewers, GdkPixbufLoader and gdk_pixbuf_new_from_file all
// feed chunks of any size. Every other BMP that reaches this module goes to
// the standard BMP loader unchanged: 16-bit bit-field BMPs that its magic
// takes (it cannot test width * 3 * height), and every BMP of a loader made
// for image/bmp, which programs that guess the type from the name ask for.
//
// Memory: the core refuses pictures whose pixels exceed 256 MiB. Below that
// the pixbuf's block is an anonymous mapping, which the kernel backs with
// memory only where it is written and which reads as zero (black) elsewhere.
// Rows are written as their bytes arrive, so the memory a file can make this
// loader use is at most 2x the pixel bytes it has actually delivered (RGB rows
// aligned to 4 against 16-bit rows) plus one page, however large a header
// claims the picture to be.
#include <string.h>
#include <sys/mman.h>

// The module interface is visible only with GDK_PIXBUF_ENABLE_BACKEND,
// which CMake defines for this file.
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include "codec/morvellane.h"

namespace {

using mrvln::ByteView;

enum Stage {
  STAGE_HEADER,     // collecting the first PIXEL_DATA_OFFSET bytes
  STAGE_ROWS,       // a Morvellane bitmap: converting rows as they arrive
  STAGE_DONE,       // every row converted, or the caller asked for no pixels
  STAGE_DELEGATED,  // another BMP, in the hands of the standard loader
};

struct Context {
  GdkPixbufModuleSizeFunc size_func;
  GdkPixbufModulePreparedFunc prepared_func;
  GdkPixbufModuleUpdatedFunc updated_func;
  gpointer user_data;

  Stage stage;
  guint8 header[mrvln::PIXEL_DATA_OFFSET];
  guint32 header_fill;

  mrvln::ImagePlan plan;
  mrvln::ConvertPath path;  // chosen once: the core asks the processor per call
  guint32 row_bytes;        // one stored row
  guint32 rows_done;
  guint8* partial;  // a row whose bytes are split across chunks
  guint32 partial_fill;
  GdkPixbuf* pixbuf;
  guint8* pixels;

  GdkPixbufLoader* standard;
};

struct Mapping {
  void* address;
  size_t size;
};

void unmap_pixels(guchar*, gpointer data) {
  Mapping* m = static_cast<Mapping*>(data);
  munmap(m->address, m->size);
  g_free(m);
}

// An anonymous block of `size` bytes. With MRVLN_PIXBUF_HUGEPAGES (off: a
// measurement, see docs/gdk-pixbuf-loader.md) it is 2 MiB aligned and asks for huge
// pages.
Mapping* map_block(size_t size) {
  // Accounted like a malloc of the same size: no MAP_NORESERVE, whose pages
  // may fault on write when memory is short.
  const int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#if MRVLN_PIXBUF_HUGEPAGES
  const size_t huge = size_t{2} << 20;
  if (size >= huge) {
    const size_t rounded = (size + huge - 1) & ~(huge - 1);
    void* raw = mmap(nullptr, rounded + huge, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + huge - 1) & ~(uintptr_t{huge} - 1);
    if (aligned != start) munmap(raw, aligned - start);
    if (aligned + rounded != start + rounded + huge)
      munmap(reinterpret_cast<void*>(aligned + rounded), start + huge - aligned);
    madvise(reinterpret_cast<void*>(aligned), rounded, MADV_HUGEPAGE);
    Mapping* m = g_new(Mapping, 1);
    *m = Mapping{reinterpret_cast<void*>(aligned), rounded};
    return m;
  }
#endif
  void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, flags, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  Mapping* m = g_new(Mapping, 1);
  *m = Mapping{block, size};
  return m;
}

gboolean fail(GError** error, GdkPixbufError code, const char* message) {
  g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message);
  return FALSE;
}

gboolean fail_result(GError** error, mrvln::Result result) {
  if (result == mrvln::RESULT_OUT_OF_MEMORY)
    return fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                "Morvellane bitmap is larger than 256 MiB of pixels");
  return fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "Morvellane bitmap has broken size fields");
}

// The standard loader's signals, passed on as this module's callbacks.
void on_size(GdkPixbufLoader* loader, gint width, gint height, gpointer data) {
  Context* c = static_cast<Context*>(data);
  // The outer GdkPixbufLoader scales by itself when the caller asked for a
  // size, exactly as it does after the standard loader. A zero size (the
  // caller wants the size only) must reach the standard loader, which then
  // stops reading as it would on its own.
  if (c->size_func) c->size_func(&width, &height, c->user_data);
  if (width == 0 || height == 0) gdk_pixbuf_loader_set_size(loader, 0, 0);
}

void on_prepared(GdkPixbufLoader* loader, gpointer data) {
  Context* c = static_cast<Context*>(data);
  if (c->prepared_func)
    c->prepared_func(gdk_pixbuf_loader_get_pixbuf(loader), gdk_pixbuf_loader_get_animation(loader),
                     c->user_data);
}

void on_updated(GdkPixbufLoader* loader, gint x, gint y, gint width, gint height, gpointer data) {
  Context* c = static_cast<Context*>(data);
  if (c->updated_func)
    c->updated_func(gdk_pixbuf_loader_get_pixbuf(loader), x, y, width, height, c->user_data);
}

// Hands everything received so far to the standard BMP loader.
gboolean delegate(Context* c, GError** error) {
  c->standard = gdk_pixbuf_loader_new_with_type("bmp", error);
  if (c->standard == nullptr) return FALSE;
  c->stage = STAGE_DELEGATED;
  g_signal_connect(c->standard, "size-prepared", G_CALLBACK(on_size), c);
  g_signal_connect(c->standard, "area-prepared", G_CALLBACK(on_prepared), c);
  g_signal_connect(c->standard, "area-updated", G_CALLBACK(on_updated), c);
  return gdk_pixbuf_loader_write(c->standard, c->header, c->header_fill, error);
}

// Plans the picture from its header, asks for its size and maps its block.
gboolean start_rows(Context* c, GError** error) {
  const ByteView header{c->header, c->header_fill};
  const mrvln::Result planned =
      mrvln::plan_image(header, mrvln::PIXEL_RGB24, 4, mrvln::DEFAULT_OUTPUT_LIMIT, &c->plan);
  if (planned != mrvln::RESULT_SUCCESS) return fail_result(error, planned);
  // plan_image bounds the block by 256 MiB, so both sizes fit in gint.
  gint width = c->plan.picture.width;
  gint height = static_cast<gint>(c->plan.picture.rows);
  if (c->size_func) c->size_func(&width, &height, c->user_data);
  if (width == 0 || height == 0) {  // the caller wanted the size only
    c->stage = STAGE_DONE;
    return TRUE;
  }
  c->row_bytes = c->plan.picture.source_row_size;
  c->partial = static_cast<guint8*>(g_try_malloc(c->row_bytes));
  Mapping* mapping = c->partial ? map_block(static_cast<size_t>(c->plan.output_size)) : nullptr;
  if (mapping == nullptr)
    return fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                "Not enough memory to load Morvellane bitmap");
  void* block = mapping->address;
  c->pixels = static_cast<guint8*>(block);
  c->pixbuf =
      gdk_pixbuf_new_from_data(c->pixels, GDK_COLORSPACE_RGB, FALSE, 8, c->plan.picture.width,
                               static_cast<int>(c->plan.picture.rows),
                               static_cast<int>(c->plan.layout.stride), unmap_pixels, mapping);
  c->path = mrvln::best_convert_path();
  c->stage = STAGE_ROWS;
  if (c->prepared_func) c->prepared_func(c->pixbuf, nullptr, c->user_data);
  return TRUE;
}

gboolean decode_row(Context* c, ByteView row) {
  return mrvln::decode_rows(c->plan.picture, c->plan.layout, row, c->rows_done++, 1, c->pixels,
                            c->plan.output_size, c->path) == mrvln::RESULT_SUCCESS;
}

// Converts the rows `bytes` completes; bytes past the last row are ignored.
gboolean take_rows(Context* c, ByteView bytes) {
  const guint32 first = c->rows_done;
  guint32 at = 0;
  while (at < bytes.size && c->rows_done < c->plan.picture.rows) {
    ByteView piece;
    if (c->partial_fill == 0 && mrvln::sub_view(bytes, at, c->row_bytes, &piece)) {
      if (!decode_row(c, piece)) return FALSE;
      at += c->row_bytes;
      continue;
    }
    const guint32 want = MIN(c->row_bytes - c->partial_fill, bytes.size - at);
    if (!mrvln::sub_view(bytes, at, want, &piece)) return FALSE;
    memcpy(c->partial + c->partial_fill, piece.data, piece.size);
    c->partial_fill += want;
    at += want;
    if (c->partial_fill == c->row_bytes) {
      c->partial_fill = 0;
      if (!decode_row(c, ByteView{c->partial, c->row_bytes})) return FALSE;
    }
  }
  if (c->rows_done != first && c->updated_func) {
    const guint32 a = mrvln::output_row(c->plan.picture, mrvln::ROWS_TOP_FIRST, first);
    const guint32 b = mrvln::output_row(c->plan.picture, mrvln::ROWS_TOP_FIRST, c->rows_done - 1);
    c->updated_func(c->pixbuf, 0, static_cast<int>(MIN(a, b)), c->plan.picture.width,
                    static_cast<int>(c->rows_done - first), c->user_data);
  }
  if (c->rows_done == c->plan.picture.rows) c->stage = STAGE_DONE;
  return TRUE;
}

// Callers may leave callbacks out; gdk-pixbuf's own pass no-ops.
gpointer begin_load(GdkPixbufModuleSizeFunc size_func, GdkPixbufModulePreparedFunc prepared_func,
                    GdkPixbufModuleUpdatedFunc updated_func, gpointer user_data, GError**) {
  Context* c = g_new0(Context, 1);
  c->size_func = size_func;
  c->prepared_func = prepared_func;
  c->updated_func = updated_func;
  c->user_data = user_data;
  c->stage = STAGE_HEADER;
  return c;
}

gboolean load_increment(gpointer context, const guchar* buf, guint size, GError** error) {
  Context* c = static_cast<Context*>(context);
  ByteView bytes{buf, size};
  if (c->stage == STAGE_HEADER) {
    const guint32 want = MIN(mrvln::PIXEL_DATA_OFFSET - c->header_fill, size);
    ByteView head;
    if (!mrvln::sub_view(bytes, 0, want, &head) ||
        !mrvln::sub_view(bytes, want, size - want, &bytes))
      return FALSE;
    memcpy(c->header + c->header_fill, head.data, head.size);
    c->header_fill += want;
    if (c->header_fill < mrvln::PIXEL_DATA_OFFSET) return TRUE;
    if (!mrvln::is_morvellane(ByteView{c->header, c->header_fill})) {
      if (!delegate(c, error)) return FALSE;
    } else if (!start_rows(c, error)) {
      return FALSE;
    }
  }
  switch (c->stage) {
    case STAGE_DELEGATED:
      return bytes.size == 0 || gdk_pixbuf_loader_write(c->standard, bytes.data, bytes.size, error);
    case STAGE_ROWS:
      return take_rows(c, bytes) ||
             fail(error, GDK_PIXBUF_ERROR_FAILED, "Morvellane row conversion failed");
    default:
      return TRUE;
  }
}

gboolean stop_load(gpointer context, GError** error) {
  Context* c = static_cast<Context*>(context);
  gboolean ok = TRUE;
  switch (c->stage) {
    case STAGE_HEADER:
      // A short file that is not a Morvellane bitmap gets the standard
      // loader's verdict.
      if (c->header_fill >= mrvln::ACCEPTANCE_FIELDS_END &&
          mrvln::is_morvellane(ByteView{c->header, c->header_fill})) {
        ok = fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "Morvellane bitmap header is truncated");
      } else {
        ok = delegate(c, error);
        if (ok) ok = gdk_pixbuf_loader_close(c->standard, error);
      }
      break;
    case STAGE_ROWS:
      ok = fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "Morvellane bitmap is truncated");
      break;
    case STAGE_DELEGATED:
      ok = gdk_pixbuf_loader_close(c->standard, error);
      break;
    case STAGE_DONE:
      break;
  }
  if (c->standard != nullptr) {
    // Closing twice is harmless; an unclosed loader warns when freed.
    gdk_pixbuf_loader_close(c->standard, nullptr);
    g_object_unref(c->standard);
  }
  if (c->pixbuf != nullptr) g_object_unref(c->pixbuf);
  g_free(c->partial);
  g_free(c);
  return ok;
}

}  // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  module->begin_load = begin_load;
  module->stop_load = stop_load;
  module->load_increment = load_increment;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  // The fixed header bytes: "BM", pixels at 66, a 40-byte header, one plane,
  // 16 bits, bit-field compression. Mask ' ' matches, 'z' wants a zero byte
  // (prefixes are C strings), 'x' takes any byte.
  static GdkPixbufModulePattern signature[] = {
      {const_cast<char*>("BMxxxxxxxxB\1\1\1(\1\1\1xxxxxxxx\1\1\20\1\3\1\1\1"),
       const_cast<char*>("  xxxxxxxx zzz zzzxxxxxxxx z z zzz"), 100},
      {nullptr, nullptr, 0},
  };
  // The standard loader's types too: gdk_pixbuf_loader_new_with_mime_type
  // takes the first module in the cache that claims a type, and this
  // module's file name sorts before libpixbufloader-bmp.so. Sniffing walks
  // the modules the other way round, so files it finds to be image/bmp stay
  // with the standard loader. No extension: programs that pick a format by
  // the first one claiming ".bmp", to save in, keep finding the standard one.
  static const gchar* mime_types[] = {"image/x-morvellane", "image/bmp", "image/x-bmp",
                                      "image/x-MS-bmp", nullptr};
  static const gchar* extensions[] = {nullptr};
  info->name = const_cast<gchar*>("morvellane");
  info->signature = signature;
  info->description = const_cast<gchar*>(
      "Morvellane bitmap (16-bit 5-6-5 BMP); other BMP files go to the BMP loader");
  info->mime_types = const_cast<gchar**>(mime_types);
  info->extensions = const_cast<gchar**>(extensions);
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = const_cast<gchar*>("MIT");
  info->disabled = FALSE;
}

}  // extern "C"
