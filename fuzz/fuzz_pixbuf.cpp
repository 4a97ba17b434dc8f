// Drives the loader module's incremental entry points over random chunk
// splits: the whole input is the file, its last byte seeds the split. Reads
// every area the loader reports as updated, so that the sanitizers see any
// row written or reported outside the pixbuf.
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <stddef.h>
#include <stdint.h>

extern "C" void fill_vtable(GdkPixbufModule* module);

namespace {

void on_size(gint*, gint*, gpointer) {}
void on_prepared(GdkPixbuf*, GdkPixbufAnimation*, gpointer) {}
void on_updated(GdkPixbuf* pixbuf, int x, int y, int width, int height, gpointer sum) {
  const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  for (int row = y; row < y + height; ++row)
    for (int i = x * channels; i < (x + width) * channels; ++i)
      *static_cast<unsigned*>(sum) += pixels[static_cast<size_t>(row) * stride + i];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static GdkPixbufModule module;
  if (module.begin_load == nullptr) fill_vtable(&module);
  unsigned sum = 0;
  gpointer context = module.begin_load(on_size, on_prepared, on_updated, &sum, nullptr);
  uint32_t state = size ? data[size - 1] * 2654435761u + 1 : 1;
  bool ok = true;
  for (size_t at = 0; ok && at < size;) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    size_t n = state % 4 == 0 ? size - at : 1 + state % 257;
    if (n > size - at) n = size - at;
    GError* error = nullptr;
    ok = module.load_increment(context, data + at, static_cast<guint>(n), &error);
    if (error) g_error_free(error);
    at += n;
  }
  GError* error = nullptr;
  module.stop_load(context, &error);
  if (error) g_error_free(error);
  return 0;
}
