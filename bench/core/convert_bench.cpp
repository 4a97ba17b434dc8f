// The conversion core natively, on each path, against memcpy of the output
// and the straightforward loop. items_per_second is pixels per second.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/core/bench_picture.h"
#include "bench/core/straightforward.h"
#include "benchmark/benchmark.h"
#include "codec/convert.h"
#include "codec/dib.h"

namespace {

struct Picture {
  std::vector<uint8_t> file;
  mrvln::DecodePlan plan;
  std::vector<uint8_t> block;  // written once, so its pages are present
  std::vector<uint8_t> copy_source;
};

Picture& picture(int32_t width, int32_t height) {
  static std::map<std::pair<int32_t, int32_t>, Picture> made;
  Picture& p = made[{width, height}];
  if (p.file.empty()) {
    p.file = bench::bench_picture(width, height);
    const mrvln::ByteView image{p.file.data(), static_cast<uint32_t>(p.file.size())};
    if (mrvln::plan_decode(image, &p.plan) != mrvln::RESULT_SUCCESS) abort();
    p.block.assign(p.plan.pixel_block_size, 0);
    p.copy_source.assign(p.plan.pixel_block_size, 1);
  }
  return p;
}

void set_pixels(benchmark::State& state, const Picture& p) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * p.plan.width * p.plan.rows);
}

void memcpy_output(benchmark::State& state, int32_t width, int32_t height) {
  Picture& p = picture(width, height);
  for (auto _ : state) {
    memcpy(p.block.data(), p.copy_source.data(), p.block.size());
    benchmark::ClobberMemory();
  }
  set_pixels(state, p);
}

void straightforward(benchmark::State& state, int32_t width, int32_t height) {
  Picture& p = picture(width, height);
  for (auto _ : state) {
    bench::straightforward_convert(p.file.data() + mrvln::PIXEL_DATA_OFFSET, p.block.data(),
                                   static_cast<uint32_t>(p.plan.width), p.plan.rows, p.plan.stride);
    benchmark::ClobberMemory();
  }
  set_pixels(state, p);
}

// Conversion alone: every row through one path.
void convert(benchmark::State& state, mrvln::ConvertPath path, int32_t width, int32_t height) {
  Picture& p = picture(width, height);
  const uint32_t w = static_cast<uint32_t>(p.plan.width);
  for (auto _ : state) {
    const uint8_t* source = p.file.data() + mrvln::PIXEL_DATA_OFFSET;
    for (uint32_t row = 0; row < p.plan.rows; ++row)
      mrvln::convert_run(path, mrvln::PIXEL_BGR24, source + 2ull * w * row,
                         p.block.data() + 1ull * p.plan.stride * row, w);
    benchmark::ClobberMemory();
  }
  set_pixels(state, p);
}

// What GetPicture does between locking and unlocking the block: the fill and
// the conversion.
void decode(benchmark::State& state, mrvln::ConvertPath path, int32_t width, int32_t height) {
  Picture& p = picture(width, height);
  const mrvln::ByteView image{p.file.data(), static_cast<uint32_t>(p.file.size())};
  for (auto _ : state) {
    if (mrvln::decode_pixels(image, p.plan, p.block.data(), p.plan.pixel_block_size, path) !=
        mrvln::RESULT_SUCCESS)
      state.SkipWithError("decode failed");
    benchmark::ClobberMemory();
  }
  set_pixels(state, p);
}

// Zeroed pages of the system's own, as a large local block is under Windows:
// the first write to each page faults.
uint8_t* fresh_pages(size_t size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) abort();
  return static_cast<uint8_t*>(p);
}

// The floor of any whole call: fresh pages for the block and its fill.
void fresh_block_fill(benchmark::State& state, int32_t width, int32_t height) {
  Picture& p = picture(width, height);
  for (auto _ : state) {
    uint8_t* block = fresh_pages(p.plan.pixel_block_size);
    memset(block, 0xFF, p.plan.pixel_block_size);
    benchmark::DoNotOptimize(block);
    benchmark::ClobberMemory();
    munmap(block, p.plan.pixel_block_size);
  }
  set_pixels(state, p);
}

// The native counterpart of a whole GetPicture call: a fresh block (its
// page faults included), the fill and the conversion; `path` < 0 stands for
// the straightforward loop. With `from_file`, the file is first read into a
// fresh buffer with one read, as file mode does.
void whole_call(benchmark::State& state, int path, bool from_file, int32_t width, int32_t height) {
  Picture& p = picture(width, height);
  std::string name = "/tmp/mrvln_bench_" + std::to_string(width) + "x" + std::to_string(height);
  if (from_file) {
    FILE* f = fopen(name.c_str(), "wb");
    if (f == nullptr || fwrite(p.file.data(), 1, p.file.size(), f) != p.file.size()) abort();
    fclose(f);
  }
  for (auto _ : state) {
    uint8_t* loaded = nullptr;
    mrvln::ByteView image{p.file.data(), static_cast<uint32_t>(p.file.size())};
    if (from_file) {
      FILE* f = fopen(name.c_str(), "rb");
      loaded = fresh_pages(p.file.size());
      if (f == nullptr || loaded == nullptr || fread(loaded, 1, p.file.size(), f) != p.file.size())
        abort();
      fclose(f);
      image.data = loaded;
    }
    uint8_t* block = fresh_pages(p.plan.pixel_block_size);
    if (path < 0) {
      memset(block, 0xFF, p.plan.pixel_block_size);
      bench::straightforward_convert(image.data + mrvln::PIXEL_DATA_OFFSET, block,
                                     static_cast<uint32_t>(p.plan.width), p.plan.rows,
                                     p.plan.stride);
    } else if (mrvln::decode_pixels(image, p.plan, block, p.plan.pixel_block_size,
                                    static_cast<mrvln::ConvertPath>(path)) !=
               mrvln::RESULT_SUCCESS) {
      state.SkipWithError("decode failed");
    }
    benchmark::DoNotOptimize(block);
    benchmark::ClobberMemory();
    munmap(block, p.plan.pixel_block_size);
    if (loaded != nullptr) munmap(loaded, p.file.size());
  }
  if (from_file) remove(name.c_str());
  set_pixels(state, p);
}

}  // namespace

int main(int argc, char** argv) {
  const std::pair<int32_t, int32_t> sizes[] = {
      {640, 480}, {1920, 1080}, {3840, 2160}, {3839, 2160}};
  for (const auto& s : sizes) {
    const std::string dims = std::to_string(s.first) + "x" + std::to_string(s.second);
    benchmark::RegisterBenchmark(("memcpy_output/" + dims).c_str(), memcpy_output, s.first,
                                 s.second);
    benchmark::RegisterBenchmark(("straightforward/" + dims).c_str(), straightforward, s.first,
                                 s.second);
    for (int i = 0; i < mrvln::CONVERT_PATH_COUNT; ++i) {
      const mrvln::ConvertPath path = static_cast<mrvln::ConvertPath>(i);
      if (!mrvln::convert_path_supported(path)) continue;
      const std::string name = mrvln::convert_path_name(path);
      benchmark::RegisterBenchmark(("convert_" + name + "/" + dims).c_str(), convert, path, s.first,
                                   s.second);
      benchmark::RegisterBenchmark(("fill_convert_" + name + "/" + dims).c_str(), decode, path,
                                   s.first, s.second);
    }
    const mrvln::ConvertPath best = mrvln::best_convert_path();
    benchmark::RegisterBenchmark(("fresh_block_fill/" + dims).c_str(), fresh_block_fill, s.first,
                                 s.second)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("whole_memory_straightforward/" + dims).c_str(), whole_call, -1,
                                 false, s.first, s.second)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("whole_memory_best/" + dims).c_str(), whole_call, best, false,
                                 s.first, s.second)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("whole_file_best/" + dims).c_str(), whole_call, best, true,
                                 s.first, s.second)
        ->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
