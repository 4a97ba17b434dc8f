// gdk-pixbuf loader module for Morvellane bitmaps, over the core's reader.
// Incremental only: viewers, GdkPixbufLoader and gdk_pixbuf_new_from_file all
// feed chunks of any size, which go to the reader as they come. Every other
// BMP that reaches this module goes to the standard BMP loader unchanged:
// 16-bit bit-field BMPs that its magic takes (it cannot test width * 3 *
// height), and every BMP of a loader made for image/bmp, which programs that
// guess the type from the name ask for.
//
// Memory: the pixbuf's block comes from g_try_malloc0 once the header is
// accepted and its pixels are within the reader's 256 MiB limit, and goes back
// with g_free, so that a program reading one picture after another reuses
// freed blocks instead of paying for fresh pages each time. Rows that never
// arrive read as black, as the rows of a truncated file must: glibc clears a
// reused block (memory the process holds already) and leaves a fresh mapping
// untouched, since the kernel's pages read as zero. Rows are written as their
// bytes arrive, so a truncated file costs at most 2x the pixel bytes it
// delivered (RGB rows aligned to 4 against 16-bit rows) plus the pages at
// either end that malloc writes its own headers into, however large a header
// claims the picture to be.
#include <string.h>

// The module interface is visible only with GDK_PIXBUF_ENABLE_BACKEND,
// which CMake defines for this file.
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include "codec/morvellane.h"
#include "codec/reader.h"

namespace {

using mrvln::ByteView;

enum Stage {
  STAGE_HEADER,     // collecting the first PIXEL_DATA_OFFSET bytes
  STAGE_ROWS,       // a Morvellane bitmap: the reader takes every byte
  STAGE_DONE,       // refused, or the caller asked for the size only
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

  mrvln::Reader reader;
  GdkPixbuf* pixbuf;
  GdkPixbufLoader* standard;
};

constexpr mrvln::OutputLayout kLayout = {mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, 4,
                                         mrvln::DEFAULT_OUTPUT_LIMIT};

void free_pixels(guchar* pixels, gpointer) {
  g_free(pixels);
}

// The core's words, unchanged, under the code that fits the reason.
gboolean refuse(GError** error, const mrvln::Refusal& refusal) {
  char text[mrvln::REFUSAL_TEXT_SIZE];
  mrvln::refusal_text(refusal, text, sizeof text);
  const bool memory =
      refusal.reason == mrvln::REASON_TOO_LARGE || refusal.reason == mrvln::REASON_OUT_OF_MEMORY;
  g_set_error_literal(
      error, GDK_PIXBUF_ERROR,
      memory ? GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY : GDK_PIXBUF_ERROR_CORRUPT_IMAGE, text);
  return FALSE;
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
  c->stage = STAGE_DONE;
  c->standard = gdk_pixbuf_loader_new_with_type("bmp", error);
  if (c->standard == nullptr) return FALSE;
  c->stage = STAGE_DELEGATED;
  g_signal_connect(c->standard, "size-prepared", G_CALLBACK(on_size), c);
  g_signal_connect(c->standard, "area-prepared", G_CALLBACK(on_prepared), c);
  g_signal_connect(c->standard, "area-updated", G_CALLBACK(on_updated), c);
  return gdk_pixbuf_loader_write(c->standard, c->header, c->header_fill, error);
}

// Starts the reader on the header, asks for the size and allocates the pixbuf.
gboolean start_rows(Context* c, GError** error) {
  mrvln::Reader& r = c->reader;
  c->stage = STAGE_DONE;
  const mrvln::Refusal refusal =
      mrvln::reader_start(&r, ByteView{c->header, c->header_fill}, kLayout);
  if (refusal.reason != mrvln::REASON_NONE) return refuse(error, refusal);
  // Within the 256 MiB limit, both sizes fit in gint.
  gint width = static_cast<gint>(r.width);
  gint height = static_cast<gint>(r.height);
  if (c->size_func) c->size_func(&width, &height, c->user_data);
  if (width == 0 || height == 0) return TRUE;  // the caller wanted the size only
  guint8* pixels = static_cast<guint8*>(g_try_malloc0(static_cast<gsize>(r.output_size)));
  if (!mrvln::reader_set_output(&r, pixels, r.output_size)) {
    g_free(pixels);
    return refuse(error, mrvln::reader_out_of_memory(r));
  }
  c->pixbuf = gdk_pixbuf_new_from_data(pixels, GDK_COLORSPACE_RGB, FALSE, 8,
                                       static_cast<int>(r.width), static_cast<int>(r.height),
                                       static_cast<int>(r.stride), free_pixels, nullptr);
  c->stage = STAGE_ROWS;
  if (c->prepared_func) c->prepared_func(c->pixbuf, nullptr, c->user_data);
  return TRUE;
}

// Feeds `bytes` to the reader and reports the rows they completed; bytes past
// the last row are left.
void take_rows(Context* c, ByteView bytes) {
  mrvln::Reader& r = c->reader;
  const guint32 first = r.rows_done;
  mrvln::reader_feed(&r, bytes);
  if (r.rows_done == first || c->updated_func == nullptr) return;
  const guint32 a = mrvln::reader_output_row(r, first);
  const guint32 b = mrvln::reader_output_row(r, r.rows_done - 1);
  c->updated_func(c->pixbuf, 0, static_cast<int>(MIN(a, b)), static_cast<int>(r.width),
                  static_cast<int>(r.rows_done - first), c->user_data);
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
    if (want > 0) memcpy(c->header + c->header_fill, buf, want);
    c->header_fill += want;
    bytes = ByteView{buf + want, size - want};
    if (c->header_fill < mrvln::PIXEL_DATA_OFFSET) return TRUE;
    const gboolean started = mrvln::is_morvellane(ByteView{c->header, c->header_fill})
                                 ? start_rows(c, error)
                                 : delegate(c, error);
    if (!started) return FALSE;
  }
  if (c->stage == STAGE_ROWS) take_rows(c, bytes);
  if (c->stage == STAGE_DELEGATED && bytes.size > 0)
    return gdk_pixbuf_loader_write(c->standard, bytes.data, bytes.size, error);
  return TRUE;
}

gboolean stop_load(gpointer context, GError** error) {
  Context* c = static_cast<Context*>(context);
  gboolean ok = TRUE;
  switch (c->stage) {
    case STAGE_HEADER: {
      // A file that ends within the header: cut short when the part it has
      // passes the acceptance test, else the standard loader's verdict.
      const mrvln::Refusal refusal =
          mrvln::reader_start(&c->reader, ByteView{c->header, c->header_fill}, kLayout);
      if (refusal.reason != mrvln::REASON_NOT_MORVELLANE)
        ok = refuse(error, refusal);
      else if ((ok = delegate(c, error)))
        ok = gdk_pixbuf_loader_close(c->standard, error);
      break;
    }
    case STAGE_ROWS: {
      const mrvln::Refusal refusal = mrvln::reader_finish(c->reader);
      if (refusal.reason != mrvln::REASON_NONE) ok = refuse(error, refusal);
      break;
    }
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
