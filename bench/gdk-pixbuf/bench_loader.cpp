// gdk_pixbuf_new_from_file of a 3840 x 2160 Morvellane bitmap through this
// loader against gdk-pixbuf's BMP loader on the same file, in one process.
// The BMP loader has no whole-file entry, so gdk_pixbuf_new_from_file feeds it
// 64 KiB chunks; that path is reproduced here for it, since the MIME type
// sends this file to the Morvellane loader. Needs the build tree's loader
// cache and MIME database (target run_pixbuf_bench sets both; it is run by
// scripts/bench_readers.sh). Usage: pixbuf_bench [RUNS] [FILE]
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/fixtures/morvellane_builder.h"
#include "tests/fixtures/files.h"

namespace {

double now_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

GdkPixbuf* load_chunked(const char* path, const char* type) {
  FILE* f = fopen(path, "rb");
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(type, nullptr);
  static unsigned char chunk[65536];
  size_t got;
  bool ok = f && loader;
  while (ok && (got = fread(chunk, 1, sizeof chunk, f)) > 0)
    ok = gdk_pixbuf_loader_write(loader, chunk, got, nullptr);
  ok = ok && gdk_pixbuf_loader_close(loader, nullptr);
  GdkPixbuf* p = ok ? GDK_PIXBUF(g_object_ref(gdk_pixbuf_loader_get_pixbuf(loader))) : nullptr;
  if (loader) g_object_unref(loader);
  if (f) fclose(f);
  return p;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? atoi(argv[1]) : 7;
  if (runs < 1) {
    fprintf(stderr, "usage: %s [RUNS] [FILE]\n", argv[0]);
    return 2;
  }
  const std::string path = argc > 2 ? argv[2] : "bench_3840x2160.bmp";
  if (!fixtures::write_file(path, fixtures::colour_chart(3840, 2160).build())) return 1;
  GdkPixbufFormat* format = gdk_pixbuf_get_file_info(path.c_str(), nullptr, nullptr);
  gchar* name = format ? gdk_pixbuf_format_get_name(format) : nullptr;
  printf("gdk_pixbuf_new_from_file picks: %s\n", name ? name : "nothing");
  g_free(name);
  std::vector<double> ours, chunked, standard;
  for (int round = 0; round < runs; ++round) {
    double t = now_ms();
    GdkPixbuf* a = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
    ours.push_back(now_ms() - t);
    t = now_ms();
    GdkPixbuf* b = load_chunked(path.c_str(), "morvellane");
    chunked.push_back(now_ms() - t);
    t = now_ms();
    GdkPixbuf* c = load_chunked(path.c_str(), "bmp");
    standard.push_back(now_ms() - t);
    if (!a || !b || !c) return 1;
    g_object_unref(a);
    g_object_unref(b);
    g_object_unref(c);
  }
  printf("first round: morvellane new_from_file %.2f ms, bmp %.2f ms\n", ours[0], standard[0]);
  printf(
      "median of %d: morvellane new_from_file %.2f ms, morvellane 64 KiB chunks %.2f ms, "
      "bmp 64 KiB chunks %.2f ms\n",
      runs, median(ours), median(chunked), median(standard));
  printf("ratio (bmp / morvellane new_from_file): %.2fx\n", median(standard) / median(ours));
  remove(path.c_str());
  return 0;
}
