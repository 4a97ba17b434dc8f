// The reader every front end but the DLL uses: every reason and its words,
// every layout and row order, the same picture fed in chunks of every size,
// and nothing written past the progress it reports.
#include "codec/reader.h"

#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/fixtures/case_tables.h"
#include "tests/fixtures/morvellane_builder.h"

using fixtures::first_bytes;
using fixtures::mixed_picture;
using fixtures::MorvellaneBuilder;
using mrvln::OutputLayout;
using mrvln::PixelFormat;
using mrvln::Reader;
using mrvln::Refusal;

namespace {

constexpr uint8_t kCanary = 0x5A;

mrvln::ByteView view(const std::vector<uint8_t>& bytes) {
  return mrvln::ByteView{bytes.data(), static_cast<uint32_t>(bytes.size())};
}

std::string text_of(const Refusal& r) {
  char text[mrvln::REFUSAL_TEXT_SIZE];
  const size_t length = mrvln::refusal_text(r, text, sizeof text);
  EXPECT_LT(length, sizeof text);
  return text;
}

// The output written from the definition, canaries in the row padding; only
// the first `pixels` stored pixels are there (all of them by default).
std::vector<uint8_t> expected_block(const MorvellaneBuilder& b, const OutputLayout& layout,
                                    uint32_t stride, size_t pixels = SIZE_MAX) {
  const char* order = layout.format == mrvln::PIXEL_RGB24    ? "rgb"
                      : layout.format == mrvln::PIXEL_BGRX32 ? "bgrx"
                      : layout.format == mrvln::PIXEL_RGBX32 ? "rgbx"
                                                             : "bgr";
  return fixtures::expected_rows(b, order, layout.row_order == mrvln::ROWS_TOP_FIRST, stride,
                                 kCanary, pixels);
}

OutputLayout layout_of(PixelFormat format, mrvln::RowOrder order = mrvln::ROWS_TOP_FIRST,
                       uint32_t alignment = 1, uint64_t limit = mrvln::DEFAULT_OUTPUT_LIMIT) {
  return OutputLayout{format, order, alignment, limit};
}

std::vector<uint8_t> header_of(int32_t width, int32_t height) {
  return fixtures::header_only(width, height).build();
}

// Starts a reader on `file` and, where it accepts, feeds all of it.
Refusal read_whole(const std::vector<uint8_t>& file, const OutputLayout& layout,
                   std::vector<uint8_t>* out = nullptr) {
  Reader reader;
  const Refusal started = mrvln::reader_start(&reader, view(file), layout);
  if (started.reason != mrvln::REASON_NONE) return started;
  std::vector<uint8_t> block(reader.output_size, kCanary);
  EXPECT_TRUE(mrvln::reader_set_output(&reader, block.data(), block.size()));
  const Refusal finished = mrvln::reader_decode(&reader, view(file));
  if (out != nullptr) *out = block;
  return finished;
}

TEST(Reader, EveryReasonInItsWords) {
  const std::vector<uint8_t> cut_short = first_bytes(MorvellaneBuilder(4, 4).build(), 50);
  const std::vector<uint8_t> truncated = first_bytes(MorvellaneBuilder(640, 480).build(), 1000);
  // Two pixels and a half.
  const std::vector<uint8_t> truncated_top_down = first_bytes(MorvellaneBuilder(3, -2).build(), 71);
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    OutputLayout layout;
    mrvln::Reason reason;
    const char* name;
    const char* text;
  } cases[] = {
      {"a 24-bit bitmap", MorvellaneBuilder(4, 4).defect(fixtures::Defect::kWrongBitCount).build(),
       layout_of(mrvln::PIXEL_RGB24), mrvln::REASON_NOT_MORVELLANE, "not-morvellane",
       "not a Morvellane bitmap"},
      {"37 bytes", first_bytes(MorvellaneBuilder(1, 1).build(), 37), layout_of(mrvln::PIXEL_RGB24),
       mrvln::REASON_NOT_MORVELLANE, "not-morvellane", "not a Morvellane bitmap"},
      {"50 bytes", cut_short, layout_of(mrvln::PIXEL_RGB24), mrvln::REASON_HEADER_CUT_SHORT,
       "header-cut-short",
       "Morvellane bitmap cut short: the file ends after 50 of the 66 bytes of its header"},
      {"negative width", header_of(-5, 3), layout_of(mrvln::PIXEL_RGB24),
       mrvln::REASON_NEGATIVE_WIDTH, "negative-width",
       "broken Morvellane bitmap: its width is negative (-5)"},
      {"no columns", header_of(0, 5), layout_of(mrvln::PIXEL_RGB24), mrvln::REASON_IMPOSSIBLE_SIZE,
       "impossible-size", "broken Morvellane bitmap: it has no pixels (0 x 5)"},
      {"no rows", header_of(5, 0), layout_of(mrvln::PIXEL_RGB24), mrvln::REASON_IMPOSSIBLE_SIZE,
       "impossible-size", "broken Morvellane bitmap: it has no pixels (5 x 0)"},
      {"most negative height", header_of(1, INT32_MIN), layout_of(mrvln::PIXEL_RGB24),
       mrvln::REASON_IMPOSSIBLE_SIZE, "impossible-size",
       "broken Morvellane bitmap: its height is impossible (-2147483648)"},
      {"rows past 4 GiB", header_of(0x10000, 0x10000),
       layout_of(mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, 1, mrvln::NO_OUTPUT_LIMIT),
       mrvln::REASON_IMPOSSIBLE_SIZE, "impossible-size",
       "broken Morvellane bitmap: 65536 x 65536 pixels take 8589934658 bytes, more than a bitmap "
       "file holds"},
      {"past the default limit", header_of(20000, -20000), layout_of(mrvln::PIXEL_RGB24),
       mrvln::REASON_TOO_LARGE, "too-large",
       "Morvellane bitmap too large: 20000 x 20000 pixels, more than the limit of 256 MiB "
       "decoded"},
      {"past a limit in bytes", header_of(5, 5),
       layout_of(mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, 4, 79), mrvln::REASON_TOO_LARGE,
       "too-large",
       "Morvellane bitmap too large: 5 x 5 pixels, more than the limit of 79 bytes decoded"},
      {"past 4 GiB before the limit", header_of(0x10000, 0x10000), layout_of(mrvln::PIXEL_RGBX32),
       mrvln::REASON_TOO_LARGE, "too-large",
       "Morvellane bitmap too large: 65536 x 65536 pixels, more than the limit of 256 MiB "
       "decoded"},
      {"a row past 32 bits", header_of(1 << 30, 1),
       layout_of(mrvln::PIXEL_RGBX32, mrvln::ROWS_TOP_FIRST, 1, mrvln::NO_OUTPUT_LIMIT),
       mrvln::REASON_OUT_OF_MEMORY, "out-of-memory",
       "not enough memory for the 1073741824 x 1 pixels of a Morvellane bitmap"},
      {"rows missing", truncated, layout_of(mrvln::PIXEL_BGRX32), mrvln::REASON_TRUNCATED,
       "truncated",
       "truncated Morvellane bitmap: the file ends after 1000 of the 614466 bytes of its 640 x 480 "
       "pixels"},
      {"rows missing, top-down", truncated_top_down, layout_of(mrvln::PIXEL_RGB24),
       mrvln::REASON_TRUNCATED, "truncated",
       "truncated Morvellane bitmap: the file ends after 71 of the 78 bytes of its 3 x 2 pixels"},
  };
  for (const Case& c : cases) {
    const Refusal got = read_whole(c.file, c.layout);
    EXPECT_EQ(got.reason, c.reason) << c.what;
    EXPECT_STREQ(mrvln::reason_name(got.reason), c.name) << c.what;
    EXPECT_EQ(text_of(got), c.text) << c.what;
  }
}

TEST(Reader, TextCutToTheBufferAsSnprintfCutsIt) {
  const Refusal r = {mrvln::REASON_NEGATIVE_WIDTH, -12, 3, 0, 0};
  const std::string whole = "broken Morvellane bitmap: its width is negative (-12)";
  for (size_t size : {0u, 1u, 10u, 53u, 54u, 80u}) {
    std::vector<char> text(size + 1, '#');
    EXPECT_EQ(mrvln::refusal_text(r, text.data(), size), whole.size()) << size;
    if (size > 0) {
      EXPECT_EQ(std::string(text.data()), whole.substr(0, size - 1)) << size;
    }
    EXPECT_EQ(text[size], '#') << "nothing written past the buffer of " << size;
  }
}

TEST(Reader, KnownFileSizeRefusesBeforeAnyRow) {
  const std::vector<uint8_t> file = MorvellaneBuilder(5, 2).build();  // 86 bytes
  Reader reader;
  ASSERT_EQ(mrvln::reader_start(&reader, view(file), layout_of(mrvln::PIXEL_RGB24)).reason,
            mrvln::REASON_NONE);
  EXPECT_EQ(reader.file_size, 86u);
  EXPECT_EQ(mrvln::reader_check_file_size(reader, 86).reason, mrvln::REASON_NONE);
  const Refusal short_one = mrvln::reader_check_file_size(reader, 85);
  EXPECT_EQ(text_of(short_one),
            "truncated Morvellane bitmap: the file ends after 85 of the 86 bytes of its 5 x 2 "
            "pixels");
  EXPECT_EQ(text_of(mrvln::reader_out_of_memory(reader)),
            "not enough memory for the 5 x 2 pixels of a Morvellane bitmap");
}

TEST(Reader, SizesForEveryLayout) {
  struct Case {
    int32_t width, height;
    PixelFormat format;
    uint32_t alignment;
    uint64_t limit;
    mrvln::Reason reason;
    uint32_t stride;
    uint64_t size;
  } cases[] = {
      {5, 3, mrvln::PIXEL_RGB24, 4, 1000, mrvln::REASON_NONE, 16, 48},
      {5, 3, mrvln::PIXEL_RGB24, 1, 1000, mrvln::REASON_NONE, 15, 45},
      {5, -3, mrvln::PIXEL_BGRX32, 4, 1000, mrvln::REASON_NONE, 20, 60},
      {5, 1, mrvln::PIXEL_BGR24, 8, 1000, mrvln::REASON_NONE, 16, 16},
      {3, 2, mrvln::PIXEL_RGBX32, 64, 1000, mrvln::REASON_NONE, 64, 128},
      {4, 1, mrvln::PIXEL_BGR24, 4, 12, mrvln::REASON_NONE, 12, 12},
      {4, 1, mrvln::PIXEL_BGR24, 4, 11, mrvln::REASON_TOO_LARGE, 0, 0},
      // RGBA for the web: 8192 x 8192 is exactly the default limit.
      {8192, 8192, mrvln::PIXEL_RGBX32, 1, mrvln::DEFAULT_OUTPUT_LIMIT, mrvln::REASON_NONE, 32768,
       mrvln::DEFAULT_OUTPUT_LIMIT},
      {8192, 8193, mrvln::PIXEL_RGBX32, 1, mrvln::DEFAULT_OUTPUT_LIMIT, mrvln::REASON_TOO_LARGE, 0,
       0},
      {8192, -8193, mrvln::PIXEL_RGBX32, 1, mrvln::NO_OUTPUT_LIMIT, mrvln::REASON_NONE, 32768,
       32768ull * 8193},
      // Rows that end 5000000066 bytes into the file: past 4 GiB.
      {50000, 50000, mrvln::PIXEL_RGB24, 1, mrvln::NO_OUTPUT_LIMIT, mrvln::REASON_IMPOSSIBLE_SIZE,
       0, 0},
  };
  for (const Case& c : cases) {
    Reader reader;
    const Refusal got =
        mrvln::reader_start(&reader, view(header_of(c.width, c.height)),
                            layout_of(c.format, mrvln::ROWS_TOP_FIRST, c.alignment, c.limit));
    ASSERT_EQ(got.reason, c.reason) << c.width << " x " << c.height;
    if (got.reason != mrvln::REASON_NONE) continue;
    EXPECT_EQ(reader.width, static_cast<uint32_t>(c.width));
    EXPECT_EQ(reader.height, static_cast<uint32_t>(c.height < 0 ? -c.height : c.height));
    EXPECT_EQ(reader.stored_top_first, c.height < 0);
    EXPECT_EQ(reader.stride, c.stride) << c.width;
    EXPECT_EQ(reader.output_size, c.size) << c.width;
    EXPECT_EQ(reader.file_size, 66 + 2ull * c.width * reader.height);
  }
}

struct LayoutCase {
  int32_t width, height;
  PixelFormat format;
  mrvln::RowOrder order;
  uint32_t alignment;
};
constexpr LayoutCase kLayouts[] = {
    {5, 3, mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, 4},
    {5, -3, mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, 4},
    {17, 4, mrvln::PIXEL_BGRX32, mrvln::ROWS_TOP_FIRST, 1},
    {17, -4, mrvln::PIXEL_BGRX32, mrvln::ROWS_AS_STORED, 1},
    {33, 5, mrvln::PIXEL_BGR24, mrvln::ROWS_AS_STORED, 4},
    {33, 5, mrvln::PIXEL_BGR24, mrvln::ROWS_TOP_FIRST, 8},
    {1, 7, mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, 64},
    {40, -2, mrvln::PIXEL_RGBX32, mrvln::ROWS_TOP_FIRST, 1},
    {19, 3, mrvln::PIXEL_RGBX32, mrvln::ROWS_AS_STORED, 2},
    {641, 3, mrvln::PIXEL_RGB24, mrvln::ROWS_TOP_FIRST, 4},
};

// Feeds `file` after its header in chunks of 1 to `largest` bytes; checks
// after each chunk that the output holds exactly the pixels the progress
// reports. With `table`, the rows go through a table of row addresses, in an
// order of their own, and are gathered back after each chunk.
void feed_in_chunks(const MorvellaneBuilder& b, const std::vector<uint8_t>& file,
                    const OutputLayout& layout, std::mt19937* random, uint32_t largest,
                    bool table = false) {
  Reader reader;
  ASSERT_EQ(mrvln::reader_start(&reader, view(file), layout).reason, mrvln::REASON_NONE);
  std::vector<uint8_t> out(reader.output_size, kCanary);
  // The table's rows lie in reverse order in a block of their own.
  std::vector<uint8_t> scattered(reader.output_size, kCanary);
  std::vector<uint8_t*> rows(reader.height);
  for (uint32_t y = 0; y < reader.height; ++y)
    rows[y] = &scattered[static_cast<size_t>(reader.height - 1 - y) * reader.stride];
  const auto gather = [&] {
    for (uint32_t y = 0; y < reader.height && table; ++y)
      std::copy(rows[y], rows[y] + reader.stride, &out[static_cast<size_t>(y) * reader.stride]);
  };
  ASSERT_TRUE(table ? mrvln::reader_set_output_rows(&reader, rows.data(), reader.height)
                    : mrvln::reader_set_output(&reader, out.data(), out.size()));
  const size_t end = std::min<size_t>(file.size(), reader.file_size);
  size_t at = 66;
  while (at < file.size()) {
    const uint32_t size =
        std::min<uint32_t>(std::uniform_int_distribution<uint32_t>(1, largest)(*random),
                           static_cast<uint32_t>(file.size() - at));
    const std::vector<uint8_t> chunk(file.begin() + static_cast<long>(at),
                                     file.begin() + static_cast<long>(at + size));
    // Bytes past the last row are left.
    ASSERT_EQ(mrvln::reader_feed(&reader, view(chunk)),
              at < end ? std::min<size_t>(size, end - at) : 0);
    at += size;
    gather();
    const size_t pixels = static_cast<size_t>(reader.rows_done) * b.width() + reader.pixels_done;
    ASSERT_EQ(pixels, (std::min(at, end) - 66) / 2);
    ASSERT_TRUE(out == expected_block(b, layout, reader.stride, pixels)) << "after byte " << at;
  }
  EXPECT_EQ(mrvln::reader_finish(reader).reason,
            file.size() >= reader.file_size ? mrvln::REASON_NONE : mrvln::REASON_TRUNCATED);
}

// Whole (reader_decode), then in chunks of every size, with bytes past the
// last row that are not read.
TEST(Reader, EveryLayoutFedWholeAndInChunksOfEverySize) {
  std::mt19937 random(20261210);
  for (const LayoutCase& c : kLayouts) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << " format " << c.format
                                      << " order " << c.order << " align " << c.alignment);
    const MorvellaneBuilder b = mixed_picture(c.width, c.height);
    std::vector<uint8_t> file = b.build();
    file.resize(file.size() + 5, 0xEE);
    const OutputLayout layout = layout_of(c.format, c.order, c.alignment);
    std::vector<uint8_t> out;
    ASSERT_EQ(read_whole(file, layout, &out).reason, mrvln::REASON_NONE);
    Reader reader;
    mrvln::reader_start(&reader, view(file), layout);
    EXPECT_TRUE(out == expected_block(b, layout, reader.stride));
    const uint32_t all = static_cast<uint32_t>(file.size());
    for (uint32_t largest : {1u, 2u, 3u, 7u, 2u * b.width() + 1, all})
      for (const bool table : {false, true})
        feed_in_chunks(b, file, layout, &random, largest, table);
  }
}

TEST(Reader, TruncatedFeedWritesNothingPastItsProgress) {
  std::mt19937 random(7);
  const MorvellaneBuilder b = mixed_picture(13, 6);
  const std::vector<uint8_t> whole = b.build();
  for (size_t length : {66u, 67u, 91u, 92u, 93u, 118u, 221u}) {
    const std::vector<uint8_t> file(whole.begin(), whole.begin() + static_cast<long>(length));
    for (const mrvln::RowOrder order : {mrvln::ROWS_TOP_FIRST, mrvln::ROWS_AS_STORED})
      feed_in_chunks(b, file, layout_of(mrvln::PIXEL_RGB24, order, 4), &random, 9);
    const Refusal refusal = read_whole(file, layout_of(mrvln::PIXEL_RGB24));
    EXPECT_EQ(refusal.reason, mrvln::REASON_TRUNCATED);
    EXPECT_EQ(refusal.have, length);
    EXPECT_EQ(refusal.bound, whole.size());
  }
}

// Strips of rows in any order, as image libraries ask for them: each strip
// takes its own rows' bytes and no more, and together they give the picture.
TEST(Reader, StripsSoughtInAnyOrderMakeThePicture) {
  std::mt19937 random(26);
  for (const LayoutCase& c : kLayouts) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << " order " << c.order);
    const MorvellaneBuilder b = mixed_picture(c.width, c.height);
    const std::vector<uint8_t> file = b.build();
    const OutputLayout layout = layout_of(c.format, c.order, c.alignment);
    Reader reader;
    ASSERT_EQ(mrvln::reader_start(&reader, view(file), layout).reason, mrvln::REASON_NONE);
    std::vector<uint8_t> out(reader.output_size, kCanary);
    ASSERT_TRUE(mrvln::reader_set_output(&reader, out.data(), out.size()));
    std::vector<uint32_t> firsts;
    for (uint32_t row = 0; row < reader.height; row += 2) firsts.push_back(row);
    std::shuffle(firsts.begin(), firsts.end(), random);
    const uint64_t row_bytes = 2ull * b.width();
    for (const uint32_t first : firsts) {
      const uint32_t count = std::min(2u, reader.height - first);
      const uint64_t at = mrvln::reader_seek_rows(&reader, first, count);
      ASSERT_EQ(at, 66 + row_bytes * first);
      ASSERT_EQ(mrvln::reader_bytes_wanted(reader), row_bytes * count);
      const std::vector<uint8_t> rest(file.begin() + static_cast<long>(at), file.end());
      EXPECT_EQ(mrvln::reader_feed(&reader, view(rest)), row_bytes * count);
    }
    EXPECT_TRUE(out == expected_block(b, layout, reader.stride));
    EXPECT_EQ(mrvln::reader_seek_rows(&reader, reader.height, 1), 0u);
    EXPECT_EQ(mrvln::reader_seek_rows(&reader, 0, reader.height + 1), 0u);
    EXPECT_EQ(mrvln::reader_seek_rows(&reader, 0, 0), 0u);
  }
}

TEST(Reader, TakesNothingWithoutRoomOrOnceComplete) {
  const MorvellaneBuilder b = mixed_picture(3, 2);
  const std::vector<uint8_t> file = b.build();
  const std::vector<uint8_t> rows(file.begin() + 66, file.end());
  Reader reader;
  ASSERT_EQ(mrvln::reader_start(&reader, view(file), layout_of(mrvln::PIXEL_RGBX32)).reason,
            mrvln::REASON_NONE);
  EXPECT_EQ(mrvln::reader_feed(&reader, view(rows)), 0u);  // no output yet
  std::vector<uint8_t> out(reader.output_size + 4, kCanary);
  EXPECT_FALSE(mrvln::reader_set_output(&reader, out.data(), reader.output_size - 1));
  uint8_t* table[2] = {out.data(), out.data() + 12};
  EXPECT_FALSE(mrvln::reader_set_output_rows(&reader, table, 1));
  EXPECT_FALSE(mrvln::reader_set_output_rows(&reader, nullptr, 2));
  ASSERT_TRUE(mrvln::reader_set_output(&reader, out.data(), out.size()));
  EXPECT_EQ(mrvln::reader_bytes_wanted(reader), 12u);
  EXPECT_EQ(mrvln::reader_feed(&reader, view(rows)), 12u);
  EXPECT_EQ(mrvln::reader_bytes_wanted(reader), 0u);
  const std::vector<uint8_t> done = out;
  EXPECT_EQ(mrvln::reader_feed(&reader, view(rows)), 0u);
  EXPECT_EQ(out, done);
  EXPECT_EQ(std::vector<uint8_t>(out.end() - 4, out.end()), std::vector<uint8_t>(4, kCanary));
}

}  // namespace
