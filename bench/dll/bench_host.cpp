// bench_host [WIDTH HEIGHT [RUNS]]: times ifMrvln.spi through its exports,
// as a viewer calls them, next to memcpy of the output, the straightforward
// loop and each conversion path of the core, in one process and one run.
// Figures are medians of RUNS runs (default 3840 x 2160, 7 runs).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "bench/core/bench_picture.h"
#include "bench/core/straightforward.h"
#include "codec/convert.h"
#include "codec/dib.h"
#include "plugin/client/spi_client.h"

namespace {

double now_seconds() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

template <typename Fn>
double timed(Fn fn) {
  const double start = now_seconds();
  fn();
  return now_seconds() - start;
}

void fail(const char* what) {
  fprintf(stderr, "bench_host: %s\n", what);
  exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  const int32_t width = argc > 2 ? atoi(argv[1]) : 3840;
  const int32_t height = argc > 2 ? atoi(argv[2]) : 2160;
  const int runs = argc > 3 ? atoi(argv[3]) : 7;
  spi::Plugin plugin;
  unsigned long error = 0;
  if (spi::load_plugin(spi::plugin_path(), &plugin, &error) != spi::LoadResult::kLoaded)
    fail("cannot load ifMrvln.spi with its exports");

  const std::vector<uint8_t> file = bench::bench_picture(width, height);
  const mrvln::ByteView image{file.data(), static_cast<uint32_t>(file.size())};
  mrvln::DecodePlan plan;
  if (mrvln::plan_decode(image, &plan) != mrvln::RESULT_SUCCESS) fail("bad picture size");
  const double pixels = static_cast<double>(plan.width) * plan.rows;
  const uint32_t w = static_cast<uint32_t>(plan.width);
  const uint8_t* stored = file.data() + mrvln::PIXEL_DATA_OFFSET;

  char dir[MAX_PATH], path[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  snprintf(path, sizeof path, "%smrvln_bench_%lu.bmp", dir, GetCurrentProcessId());
  HANDLE out =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (out == INVALID_HANDLE_VALUE ||
      !WriteFile(out, file.data(), static_cast<DWORD>(file.size()), &written, nullptr))
    fail("cannot write the picture file");
  CloseHandle(out);

  // Blocks whose pages are already present: the conversion alone.
  std::vector<uint8_t> block(plan.pixel_block_size, 0);
  std::vector<uint8_t> copy_source(plan.pixel_block_size, 1);
  HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  const uint32_t handle_value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
  const uint32_t address_value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(file.data()));
  const char* memory_source = reinterpret_cast<const char*>(file.data());
  PictureInfoRecord info;

  // Each measure returns the seconds of one call; clean-up such as freeing
  // the caller's blocks stays outside the figure.
  struct Measure {
    std::string name;
    int batch;  // calls per run; 1 for whole pictures, more for the quick questions
    std::function<double()> body;
    std::vector<double> per_call;
  };
  std::vector<Measure> measures;
  const auto add = [&](const std::string& name, int batch, std::function<double()> body) {
    measures.push_back({name, batch, std::move(body), {}});
  };
  add("memcpy of the output size", 1,
      [&] { return timed([&] { memcpy(block.data(), copy_source.data(), block.size()); }); });
  add("fresh block: LocalAlloc + lock + fill", 1, [&] {
    HLOCAL h = nullptr;
    const double s = timed([&] {
      h = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, plan.pixel_block_size);
      memset(LocalLock(h), 0xFF, plan.pixel_block_size);
      LocalUnlock(h);
    });
    LocalFree(h);
    return s;
  });
  add("straightforward loop, conversion", 1, [&] {
    return timed(
        [&] { bench::straightforward_convert(stored, block.data(), w, plan.rows, plan.stride); });
  });
  add("straightforward loop, block allocated", 1, [&] {
    HLOCAL h = nullptr;
    const double s = timed([&] {
      h = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, plan.pixel_block_size);
      uint8_t* p = static_cast<uint8_t*>(LocalLock(h));
      memset(p, 0xFF, plan.pixel_block_size);
      bench::straightforward_convert(stored, p, w, plan.rows, plan.stride);
      LocalUnlock(h);
    });
    LocalFree(h);
    return s;
  });
  for (int i = 0; i < mrvln::CONVERT_PATH_COUNT; ++i) {
    const mrvln::ConvertPath p = static_cast<mrvln::ConvertPath>(i);
    if (!mrvln::convert_path_supported(p)) continue;
    add(std::string("conversion, ") + mrvln::convert_path_name(p) + " path", 1, [&, p] {
      return timed([&] {
        for (uint32_t r = 0; r < plan.rows; ++r)
          mrvln::convert_run(p, mrvln::PIXEL_BGR24, stored + 2ull * w * r,
                             block.data() + 1ull * plan.stride * r, w);
      });
    });
  }
  // What file mode adds to memory mode: the file's bytes in a fresh fixed
  // block, read in one call.
  add("file image alone: open, LocalAlloc, ReadFile", 1, [&] {
    uint8_t* loaded = nullptr;
    const double s = timed([&] {
      HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      const DWORD size = GetFileSize(f, nullptr);
      loaded = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, size));
      DWORD got = 0;
      if (loaded == nullptr || !ReadFile(f, loaded, size, &got, nullptr) || got != size)
        fail("cannot read the picture file");
      CloseHandle(f);
    });
    LocalFree(loaded);
    return s;
  });
  const auto get_picture = [&](const char* source, int32_t length, uint32_t flags) {
    HLOCAL info_block = nullptr, bits = nullptr;
    int32_t result = -99;
    const double s = timed([&] {
      result = plugin.GetPicture(source, length, flags, &info_block, &bits, nullptr, nullptr);
    });
    if (result != mrvln::RESULT_SUCCESS) fail("GetPicture failed");
    LocalFree(info_block);
    LocalFree(bits);
    return s;
  };
  add("GetPicture, memory", 1,
      [&] { return get_picture(memory_source, static_cast<int32_t>(file.size()), SOURCE_MEMORY); });
  add("GetPicture, file", 1, [&] { return get_picture(path, 0, SOURCE_FILE); });
  const size_t whole_pictures = measures.size();
  add("IsSupported, handle (seek to 0 included)", 2000, [&] {
    return timed([&] {
      SetFilePointer(handle, 0, nullptr, FILE_BEGIN);
      if (plugin.IsSupported(path, handle_value) != 1) fail("IsSupported refused");
    });
  });
  add("IsSupported, memory", 100000, [&] {
    return timed([&] {
      if (plugin.IsSupported(path, address_value) != 1) fail("IsSupported refused");
    });
  });
  add("GetPictureInfo, file", 500, [&] {
    return timed([&] {
      if (plugin.GetPictureInfo(path, 0, SOURCE_FILE, &info) != mrvln::RESULT_SUCCESS)
        fail("GetPictureInfo failed");
    });
  });
  add("GetPictureInfo, memory", 100000, [&] {
    return timed([&] {
      if (plugin.GetPictureInfo(memory_source, 0, SOURCE_MEMORY, &info) != mrvln::RESULT_SUCCESS)
        fail("GetPictureInfo failed");
    });
  });
  add("platform floor: open, read 54 bytes, close", 500, [&] {
    return timed([&] {
      HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      uint8_t header[mrvln::FILE_HEADER_READ_SIZE];
      DWORD got = 0;
      if (!ReadFile(f, header, sizeof header, &got, nullptr)) fail("cannot read the picture file");
      CloseHandle(f);
    });
  });

  printf("bench_host: %d x %d (%.2f Mpx), median of %d runs taken in turns; processor paths:",
         width, height, pixels / 1e6, runs);
  for (int i = 0; i < mrvln::CONVERT_PATH_COUNT; ++i) {
    const mrvln::ConvertPath p = static_cast<mrvln::ConvertPath>(i);
    if (mrvln::convert_path_supported(p)) printf(" %s", mrvln::convert_path_name(p));
  }
  printf("; the plug-in picks %s\n", mrvln::convert_path_name(mrvln::best_convert_path()));
  fflush(stdout);

  // Round robin: every run measures everything once, so a burst of load
  // from elsewhere on the machine hits all figures alike.
  for (Measure& m : measures) m.body();  // warm-up
  for (int r = 0; r < runs; ++r) {
    for (Measure& m : measures) {
      double total = 0;
      for (int i = 0; i < m.batch; ++i) total += m.body();
      m.per_call.push_back(total / m.batch);
    }
  }
  CloseHandle(handle);
  DeleteFileA(path);

  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const auto find = [&](const std::string& name) {
    for (const Measure& m : measures)
      if (m.name == name) return median(m.per_call);
    return 0.0;
  };
  for (size_t i = 0; i < measures.size(); ++i) {
    const double s = median(measures[i].per_call);
    if (i < whole_pictures)
      printf("  %-44s %10.3f ms %10.1f Mpx/s\n", measures[i].name.c_str(), s * 1e3,
             pixels / s / 1e6);
    else
      printf("  %-44s %10.2f us per call\n", measures[i].name.c_str(), s * 1e6);
  }

  // The ratios, each from figures of this run.
  const double loop_whole = find("straightforward loop, block allocated");
  const double loop_convert = find("straightforward loop, conversion");
  const double memory = find("GetPicture, memory");
  const double on_disk = find("GetPicture, file");
  printf("ratios:\n");
  printf("  GetPicture memory vs straightforward loop with its block: %.2fx (target >= 2.5x)\n",
         loop_whole / memory);
  for (int i = 0; i < mrvln::CONVERT_PATH_COUNT; ++i) {
    const mrvln::ConvertPath p = static_cast<mrvln::ConvertPath>(i);
    const double s = find(std::string("conversion, ") + mrvln::convert_path_name(p) + " path");
    if (s == 0) continue;
    printf("  conversion, %-5s path: %.3f Gpx/s, %.2fx the straightforward loop\n",
           mrvln::convert_path_name(p), pixels / s / 1e9, loop_convert / s);
  }
  printf("  targets: ssse3 >= 1.5 Gpx/s, sse2 >= 0.9 Gpx/s, plain >= 1.00x the loop\n");
  printf("  GetPicture file vs memory: %.2fx the time (target <= 1.5x)\n", on_disk / memory);
  printf("  GetPicture memory vs memcpy of the output: %.2fx the time\n",
         memory / find("memcpy of the output size"));
  return 0;
}
