// Load on the shipped DLL: several threads decoding different pictures at
// once, long runs of calls with the process's memory and handles watched, and
// loading and unloading with threads coming and going. The counts are
// parameters so that a long run can be made with the same binary.
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "fixtures/morvellane_builder.h"
#include "fixtures/reference_decode.h"
#include "gtest/gtest.h"
#include "win_test_support/win_test_support.h"

using wintest::plugin;

namespace {

// A count from the environment (for long runs), else `fallback`.
long count_from_env(const char* name, long fallback) {
  const char* v = getenv(name);
  const long n = v != nullptr ? strtol(v, nullptr, 10) : 0;
  return n > 0 ? n : fallback;
}

// One picture in both forms a host offers it, with the answer it must get.
struct Sample {
  std::string name;
  std::vector<uint8_t> bytes;
  fixtures::ReferencePicture want;
  std::unique_ptr<wintest::GuardedBytes> memory;
  std::unique_ptr<wintest::TempFile> file;
};

std::vector<std::unique_ptr<Sample>> make_samples() {
  enum Shape {
    kWhole,          // as built, less `cut` bytes at the end
    kNegativeWidth,  // built, then the width negated
    kHeaderOnly,     // the 66 header bytes of a picture too large to build
  };
  struct Recipe {
    const char* name;
    int32_t width, height;
    size_t cut;  // bytes removed from the end: a refusal when the rows are short
    Shape shape;
  };
  const Recipe recipes[] = {
      {"61x37", 61, 37, 0, kWhole},
      {"128x-64", 128, -64, 0, kWhole},
      {"3x1", 3, 1, 0, kWhole},
      {"255x3", 255, 3, 0, kWhole},
      {"1x200", 1, 200, 0, kWhole},
      {"0x9", 0, 9, 0, kWhole},
      {"61x37 short", 61, 37, 1, kWhole},
      {"8x8 negative width", 8, 8, 0, kNegativeWidth},
      {"header cut", 4, 4, 66 + 32 - 20, kWhole},
      // No pixels in 2^31 - 1 rows: an empty block, without walking the rows.
      {"0x2147483647", 0, 0x7FFFFFFF, 0, kWhole},
      // Blocks that would not fit in 32 bits: refused as out of memory before
      // the missing rows are looked for.
      {"65536x65536 header only", 65536, 65536, 0, kHeaderOnly},
      {"178956970x1 header only", 178956970, 1, 0, kHeaderOnly},
  };
  std::vector<std::unique_ptr<Sample>> out;
  for (const Recipe& s : recipes) {
    fixtures::MorvellaneBuilder b = s.shape == kHeaderOnly
                                        ? fixtures::MorvellaneBuilder(0, 0)
                                        : fixtures::colour_chart(s.width, s.height);
    if (s.shape == kNegativeWidth) b.header().biWidth = -s.width;
    if (s.shape == kHeaderOnly) {
      b.header().biWidth = s.width;
      b.header().biHeight = s.height;
      b.header().biSizeImage = fixtures::marker_size_image(s.width, s.height);
    }
    std::vector<uint8_t> bytes = b.build();
    bytes.resize(bytes.size() - s.cut);
    std::unique_ptr<Sample> sample(new Sample);
    sample->name = s.name;
    sample->bytes = bytes;
    sample->want = fixtures::reference_decode(bytes);
    sample->memory.reset(new wintest::GuardedBytes(bytes));
    sample->file.reset(new wintest::TempFile(bytes));
    out.push_back(std::move(sample));
  }
  return out;
}

bool matches(const wintest::Picture& got, const fixtures::ReferencePicture& want) {
  if (got.result != want.result) return false;
  if (want.result != 0) return got.info == nullptr && got.bits == nullptr;
  return got.header == want.header && got.pixels == want.pixels;
}

// Decodes `s` in file mode when `from_file`, else from memory.
wintest::Picture decode(const Sample& s, bool from_file) {
  return from_file ? wintest::take_picture(s.file->path(), 0, SOURCE_FILE)
                   : wintest::take_picture(s.memory->source(), static_cast<int32_t>(s.bytes.size()),
                                           SOURCE_MEMORY);
}

struct Worker {
  const std::vector<std::unique_ptr<Sample>>* samples = nullptr;
  int index = 0;
  long rounds = 0;
  long calls = 0;
  long wrong = 0;
  std::string first_wrong;
};

DWORD WINAPI decode_in_turn(void* arg) {
  Worker* w = static_cast<Worker*>(arg);
  const size_t n = w->samples->size();
  for (long round = 0; round < w->rounds; ++round) {
    // Each thread starts at a different picture, so different pictures are
    // decoded at the same moment.
    for (size_t k = 0; k < n; ++k) {
      const Sample& s = *(*w->samples)[(k + static_cast<size_t>(w->index)) % n];
      const bool from_file = ((round + static_cast<long>(k) + w->index) & 1) != 0;
      const wintest::Picture got = decode(s, from_file);
      ++w->calls;
      if (!matches(got, s.want)) {
        if (w->wrong++ == 0)
          w->first_wrong = s.name + (from_file ? " (file)" : " (memory)") + " gave " +
                           std::to_string(got.result);
      }
    }
  }
  return 0;
}

TEST(Concurrency, ThreadsDecodeDifferentPicturesAtOnce) {
  plugin();  // loaded before any thread starts
  const std::vector<std::unique_ptr<Sample>> samples = make_samples();
  const int threads = static_cast<int>(count_from_env("MRVLN_STRESS_THREADS", 4));
  const long rounds = count_from_env("MRVLN_STRESS_ROUNDS", 20);
  std::vector<Worker> workers(static_cast<size_t>(threads));
  std::vector<HANDLE> handles;
  for (int i = 0; i < threads; ++i) {
    Worker& w = workers[static_cast<size_t>(i)];
    w.samples = &samples;
    w.index = i;
    w.rounds = rounds;
    const HANDLE h =
        CreateThread(nullptr, 0, decode_in_turn, &workers[static_cast<size_t>(i)], 0, nullptr);
    ASSERT_NE(h, nullptr);
    handles.push_back(h);
  }
  WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
  long calls = 0;
  for (size_t i = 0; i < handles.size(); ++i) {
    CloseHandle(handles[i]);
    calls += workers[i].calls;
    EXPECT_EQ(workers[i].wrong, 0) << "thread " << i << ": " << workers[i].first_wrong;
  }
  for (const auto& s : samples) EXPECT_TRUE(s->file->openable_exclusively()) << s->name;
  printf("concurrent: %d threads, %ld GetPicture calls, all equal to the reference\n", threads,
         calls);
}

using wintest::Gauge;
using wintest::measure;

// The gauges themselves must see one more block, one more handle and one
// more megabyte, or a flat reading would prove nothing.
TEST(Gauges, SeeOneMoreBlockHandleAndMegabyte) {
  const Gauge before = measure();
  const HLOCAL block = LocalAlloc(LMEM_MOVEABLE, 100);
  const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  void* mb = VirtualAlloc(nullptr, 1 << 20, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  const Gauge during = measure();
  LocalFree(block);
  CloseHandle(event);
  VirtualFree(mb, 0, MEM_RELEASE);
  const Gauge after = measure();
  EXPECT_EQ(during.heap_blocks, before.heap_blocks + 1);
  EXPECT_EQ(during.handles, before.handles + 1);
  EXPECT_GE(during.private_bytes, before.private_bytes + (1 << 20));
  EXPECT_EQ(after.heap_blocks, before.heap_blocks);
  EXPECT_EQ(after.handles, before.handles);
  EXPECT_EQ(after.private_bytes, before.private_bytes);
}

// One call of the mix: every export that takes a source, in both modes,
// over pictures that decode and pictures that are refused.
long call_mix(const Sample& s, long i, long* wrong) {
  switch (i % 5) {
    case 0:
    case 1: {
      const wintest::Picture got = decode(s, i % 5 == 1);
      if (!matches(got, s.want)) ++*wrong;
      return 1;
    }
    case 2: {
      // A file too short for the size fields is refused as broken.
      PictureInfoRecord r = {};
      const int32_t res = plugin().GetPictureInfo(s.file->path(), 0, SOURCE_FILE, &r);
      if (s.bytes.size() < 26) {
        if (res != 3) ++*wrong;
      } else if (res != 0 ||
                 static_cast<uint32_t>(r.width) != fixtures::reference_le32(s.bytes, 18)) {
        ++*wrong;
      }
      return 1;
    }
    case 3: {
      const HANDLE h = wintest::open_for_reading(s.file->path());
      const int32_t res = plugin().IsSupported(s.file->path(), wintest::handle_value(h));
      CloseHandle(h);
      if (res != (fixtures::reference_is_morvellane(s.bytes) ? 1 : 0)) ++*wrong;
      return 1;
    }
    default: {
      // From memory the caller must provide the 26 bytes of the size fields;
      // shorter pictures are decoded instead.
      if (s.bytes.size() < 26) {
        if (!matches(decode(s, false), s.want)) ++*wrong;
        return 1;
      }
      PictureInfoRecord r = {};
      const int32_t res = plugin().GetPictureInfo(
          s.memory->source(), static_cast<int32_t>(s.bytes.size()), SOURCE_MEMORY, &r);
      if (res != 0 || static_cast<uint32_t>(r.height) != fixtures::reference_le32(s.bytes, 22))
        ++*wrong;
      return 1;
    }
  }
}

TEST(Soak, ManyCallsLeaveMemoryAndHandlesFlat) {
  const std::vector<std::unique_ptr<Sample>> samples = make_samples();
  const long total = count_from_env("MRVLN_STRESS_CALLS", 20000);
  long wrong = 0, calls = 0, refused = 0;
  auto run = [&](long from, long to) {
    for (long i = from; i < to; ++i) {
      const Sample& s = *samples[static_cast<size_t>(i / 5) % samples.size()];
      calls += call_mix(s, i, &wrong);
      if (s.want.result != 0 && i % 5 < 2) ++refused;
    }
  };
  // A first round of every call sets up whatever the process keeps for good
  // (file name caches, the test framework's own records).
  const long warm = 5 * static_cast<long>(samples.size()) * 4;
  run(0, warm);
  const Gauge start = measure();
  const long step = (total - warm) / 4;
  Gauge last = start;
  for (int quarter = 0; quarter < 4; ++quarter) {
    run(warm + quarter * step, warm + (quarter + 1) * step);
    last = measure();
    printf("after %ld calls: %zu heap blocks, %lu KiB private, %lu handles\n", calls,
           last.heap_blocks, static_cast<unsigned long>(last.private_bytes / 1024),
           static_cast<unsigned long>(last.handles));
  }
  EXPECT_EQ(wrong, 0);
  wintest::expect_flat(start, last);
  printf(
      "soak: %ld calls (%ld GetPicture refusals), heap blocks %zu -> %zu, private %lu -> %lu "
      "KiB, handles %lu -> %lu\n",
      calls, refused, start.heap_blocks, last.heap_blocks,
      static_cast<unsigned long>(start.private_bytes / 1024),
      static_cast<unsigned long>(last.private_bytes / 1024),
      static_cast<unsigned long>(start.handles), static_cast<unsigned long>(last.handles));
}

struct LoadedWorker {
  spi::GetPictureFn get_picture = nullptr;
  const Sample* sample = nullptr;
  long wrong = 0;
};

DWORD WINAPI decode_with(void* arg) {
  LoadedWorker* w = static_cast<LoadedWorker*>(arg);
  for (int i = 0; i < 3; ++i) {
    HLOCAL info = nullptr, bits = nullptr;
    const int32_t res =
        w->get_picture(w->sample->memory->source(), static_cast<int32_t>(w->sample->bytes.size()),
                       SOURCE_MEMORY, &info, &bits, nullptr, nullptr);
    if (res != w->sample->want.result) ++w->wrong;
    if (res == 0) {
      if (LocalSize(bits) != w->sample->want.pixels.size()) ++w->wrong;
      LocalFree(info);
      LocalFree(bits);
    }
  }
  return 0;
}

TEST(LoadUnload, LoadsAndUnloadsWithThreadsComingAndGoing) {
  const std::vector<std::unique_ptr<Sample>> samples = make_samples();
  const long loops = count_from_env("MRVLN_STRESS_LOADS", 40);
  const int threads = 3;
  Gauge start = {};
  long wrong = 0, loaded = 0;
  for (long loop = 0; loop < loops; ++loop) {
    if (loop == 1) start = measure();  // after the first loop's one-time set-up
    spi::Plugin p;
    unsigned long error = 0;
    ASSERT_EQ(spi::load_plugin(spi::plugin_path(), &p, &error), spi::LoadResult::kLoaded) << error;
    ++loaded;
    LoadedWorker workers[threads];
    HANDLE handles[threads];
    for (int t = 0; t < threads; ++t) {
      workers[t].get_picture = p.GetPicture;
      workers[t].sample = samples[static_cast<size_t>(loop + t) % samples.size()].get();
      handles[t] = CreateThread(nullptr, 0, decode_with, &workers[t], 0, nullptr);
      ASSERT_NE(handles[t], nullptr);
    }
    WaitForMultipleObjects(threads, handles, TRUE, INFINITE);
    for (int t = 0; t < threads; ++t) {
      CloseHandle(handles[t]);
      wrong += workers[t].wrong;
    }
    spi::unload_plugin(&p);
  }
  const Gauge end = measure();
  EXPECT_EQ(wrong, 0);
  wintest::expect_flat(start, end);
  printf(
      "load/unload: %ld loads, %ld threads started and ended, handles %lu -> %lu, heap "
      "blocks %zu -> %zu, private %lu -> %lu KiB\n",
      loaded, loaded * threads, static_cast<unsigned long>(start.handles),
      static_cast<unsigned long>(end.handles), start.heap_blocks, end.heap_blocks,
      static_cast<unsigned long>(start.private_bytes / 1024),
      static_cast<unsigned long>(end.private_bytes / 1024));
}

}  // namespace
