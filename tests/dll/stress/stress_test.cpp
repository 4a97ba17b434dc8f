// Load on the shipped DLL: several threads decoding different pictures at
// once, long runs of calls with the process's memory and handles watched, and
// loading and unloading with threads coming and going. The counts are
// parameters so that a long run can be made with the same binary.
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/result.h"
#include "gtest/gtest.h"
#include "tests/fixtures/morvellane_builder.h"
#include "tests/fixtures/reference_decode.h"
#include "tests/support/win_test_support.h"

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
                                        ? fixtures::header_only(s.width, s.height)
                                        : fixtures::colour_chart(s.width, s.height);
    if (s.shape == kNegativeWidth) b.header().biWidth = -s.width;
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

typedef std::vector<std::unique_ptr<Sample>> Samples;

// Decodes `s` through `get_picture`, in file mode when `from_file`, else from
// memory.
wintest::Picture decode(spi::GetPictureFn get_picture, const Sample& s, bool from_file) {
  return from_file ? wintest::take_picture(s.file->path(), 0, SOURCE_FILE, get_picture)
                   : wintest::take_picture(s.memory->source(), static_cast<int32_t>(s.bytes.size()),
                                           SOURCE_MEMORY, get_picture);
}

struct Worker {
  spi::GetPictureFn get_picture;
  const Samples* samples;
  int index;
  long rounds;
  long calls;
  long wrong;
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
      const wintest::Picture got = decode(w->get_picture, s, from_file);
      ++w->calls;
      if (!matches(got, s.want) && w->wrong++ == 0)
        w->first_wrong =
            s.name + (from_file ? " (file)" : " (memory)") + " gave " + std::to_string(got.result);
    }
  }
  return 0;
}

// `threads` threads decode every sample `rounds` times through `get_picture`
// at once; every result must equal the reference. Returns the calls made.
long decode_on_threads(spi::GetPictureFn get_picture, const Samples& samples, int threads,
                       long rounds) {
  std::vector<Worker> workers(static_cast<size_t>(threads));
  std::vector<HANDLE> handles;
  for (int i = 0; i < threads; ++i) {
    Worker& w = workers[static_cast<size_t>(i)];
    w = Worker{get_picture, &samples, i, rounds, 0, 0, ""};
    const HANDLE h = CreateThread(nullptr, 0, decode_in_turn, &w, 0, nullptr);
    EXPECT_NE(h, nullptr);
    if (h != nullptr) handles.push_back(h);
  }
  WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
  long calls = 0;
  for (size_t i = 0; i < handles.size(); ++i) {
    CloseHandle(handles[i]);
    calls += workers[i].calls;
    EXPECT_EQ(workers[i].wrong, 0) << "thread " << i << ": " << workers[i].first_wrong;
  }
  return calls;
}

// First in this program, before anything keeps the plug-in loaded: each
// FreeLibrary really unloads it.
TEST(LoadUnload, LoadsAndUnloadsWithThreadsComingAndGoing) {
  const Samples samples = make_samples();
  const long loops = count_from_env("MRVLN_STRESS_LOADS", 40);
  const int threads = 3;
  wintest::Gauge start = {};
  for (long loop = 0; loop < loops; ++loop) {
    if (loop == 1) start = wintest::measure();  // after the first loop's one-time set-up
    spi::Plugin p;
    unsigned long error = 0;
    ASSERT_EQ(spi::load_plugin(spi::plugin_path(), &p, &error), spi::LoadResult::kLoaded) << error;
    decode_on_threads(p.GetPicture, samples, threads, 1);
    spi::unload_plugin(&p);
    ASSERT_EQ(GetModuleHandleA(spi::plugin_path().c_str()), nullptr) << "still loaded";
  }
  const wintest::Gauge end = wintest::measure();
  wintest::expect_flat(start, end);
  printf(
      "load/unload: %ld loads, %ld threads started and ended, handles %lu -> %lu, heap "
      "blocks %zu -> %zu, private %lu -> %lu KiB\n",
      loops, loops * threads, static_cast<unsigned long>(start.handles),
      static_cast<unsigned long>(end.handles), start.heap_blocks, end.heap_blocks,
      static_cast<unsigned long>(start.private_bytes / 1024),
      static_cast<unsigned long>(end.private_bytes / 1024));
}

TEST(Concurrency, ThreadsDecodeDifferentPicturesAtOnce) {
  const Samples samples = make_samples();
  const int threads = static_cast<int>(count_from_env("MRVLN_STRESS_THREADS", 4));
  const long rounds = count_from_env("MRVLN_STRESS_ROUNDS", 20);
  const long calls = decode_on_threads(plugin().GetPicture, samples, threads, rounds);
  for (const auto& s : samples) EXPECT_TRUE(s->file->openable_exclusively()) << s->name;
  printf("concurrent: %d threads, %ld GetPicture calls\n", threads, calls);
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

// One call of the mix, true when its answer is right: every export that
// takes a source, in both modes, over pictures that decode and pictures that
// are refused.
bool call_mix(const Sample& s, long i) {
  PictureInfoRecord r = {};
  switch (i % 5) {
    case 0:
    case 1:
      return matches(decode(plugin().GetPicture, s, i % 5 == 1), s.want);
    case 2: {
      // A file too short for the size fields is refused as broken.
      const int32_t res = plugin().GetPictureInfo(s.file->path(), 0, SOURCE_FILE, &r);
      if (s.bytes.size() < 26) return res == mrvln::RESULT_BROKEN_DATA;
      return res == 0 && static_cast<uint32_t>(r.width) == fixtures::le32(s.bytes, 18);
    }
    case 3: {
      const HANDLE h = wintest::open_for_reading(s.file->path());
      const int32_t res = plugin().IsSupported(s.file->path(), wintest::handle_value(h));
      CloseHandle(h);
      return res == (fixtures::reference_is_morvellane(s.bytes) ? 1 : 0);
    }
    default: {
      // From memory the caller must provide the 26 bytes of the size fields;
      // shorter pictures are decoded instead.
      if (s.bytes.size() < 26) return matches(decode(plugin().GetPicture, s, false), s.want);
      const int32_t res = plugin().GetPictureInfo(
          s.memory->source(), static_cast<int32_t>(s.bytes.size()), SOURCE_MEMORY, &r);
      return res == 0 && static_cast<uint32_t>(r.height) == fixtures::le32(s.bytes, 22);
    }
  }
}

TEST(Soak, ManyCallsLeaveMemoryAndHandlesFlat) {
  const Samples samples = make_samples();
  const long total = count_from_env("MRVLN_STRESS_CALLS", 20000);
  long wrong = 0, calls = 0, refused = 0;
  auto run = [&](long from, long to) {
    for (long i = from; i < to; ++i) {
      const Sample& s = *samples[static_cast<size_t>(i / 5) % samples.size()];
      ++calls;
      if (!call_mix(s, i)) ++wrong;
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

}  // namespace
