// pixbuf_loop SIDE FILE LOADS: gdk_pixbuf_new_from_file of FILE LOADS times
// in this process, as a script or viewer reads picture after picture, each
// new pixbuf replacing the previous one. SIDE `ours` reads a Morvellane bitmap
// through the Morvellane loader, `stock` the same picture as a 24-bit BMP
// through gdk-pixbuf's BMP loader; which loaders there are is up to the
// environment (GDK_PIXBUF_MODULE_FILE, XDG_DATA_DIRS), so that the same
// program measures any build. Prints per load "<ms> <minor page faults>".
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

namespace {

double now_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

long minor_faults() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

int usage(FILE* to) {
  fprintf(to,
          "usage: pixbuf_loop ours|stock FILE LOADS [MODE]\n"
          "MODE: new-from-file (the only one): p = gdk_pixbuf_new_from_file(FILE), the\n"
          "      previous p dropped once the new one is in\n");
  return to == stdout ? 0 : 2;
}

// The width and height of a BMP's header, as both sides' files store them.
bool bmp_size(const char* path, int* width, int* height) {
  unsigned char h[26];
  FILE* f = fopen(path, "rb");
  const bool ok = f != nullptr && fread(h, 1, sizeof h, f) == sizeof h;
  if (f) fclose(f);
  if (!ok) return false;
  const auto le32 = [&h](int at) {
    return static_cast<int32_t>(h[at] | h[at + 1] << 8 | h[at + 2] << 16 |
                                static_cast<uint32_t>(h[at + 3]) << 24);
  };
  *width = le32(18);
  *height = abs(le32(22));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "--help") == 0) return usage(stdout);
  if (argc < 4 || argc > 5 || (argc == 5 && strcmp(argv[4], "new-from-file") != 0))
    return usage(stderr);
  const bool ours = strcmp(argv[1], "ours") == 0;
  if (!ours && strcmp(argv[1], "stock") != 0) return usage(stderr);
  const char* path = argv[2];
  const int loads = atoi(argv[3]);
  if (loads < 1) return usage(stderr);

  GdkPixbuf* picture = nullptr;
  for (int i = 0; i < loads; ++i) {
    const long faults = minor_faults();
    const double start = now_ms();
    GError* error = nullptr;
    GdkPixbuf* next = gdk_pixbuf_new_from_file(path, &error);
    if (picture) g_object_unref(picture);
    picture = next;
    const double ms = now_ms() - start;
    const long faulted = minor_faults() - faults;
    if (picture == nullptr) {
      fprintf(stderr, "pixbuf_loop: %s\n", error ? error->message : "no picture");
      return 1;
    }
    printf("%.3f %ld\n", ms, faulted);
  }

  // The right loader and the right size, or no figure counts.
  int width = 0, height = 0;
  GdkPixbufFormat* format = gdk_pixbuf_get_file_info(path, nullptr, nullptr);
  gchar* name = format ? gdk_pixbuf_format_get_name(format) : nullptr;
  const char* want = ours ? "morvellane" : "bmp";
  const bool right_loader = name != nullptr && strcmp(name, want) == 0;
  const bool right_size = bmp_size(path, &width, &height) &&
                          gdk_pixbuf_get_width(picture) == width &&
                          gdk_pixbuf_get_height(picture) == height;
  if (!right_loader)
    fprintf(stderr, "pixbuf_loop: %s went to loader %s, not %s\n", path, name ? name : "none",
            want);
  if (!right_size)
    fprintf(stderr, "pixbuf_loop: decoded %d x %d, the file says %d x %d\n",
            gdk_pixbuf_get_width(picture), gdk_pixbuf_get_height(picture), width, height);
  g_free(name);
  g_object_unref(picture);
  return right_loader && right_size ? 0 : 1;
}
