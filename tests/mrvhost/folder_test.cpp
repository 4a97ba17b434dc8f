// Converting a whole folder: good files converted, other files skipped and
// counted, bad files reported without stopping the run.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/fixtures/morvellane_builder.h"
#include "tool_runner.h"

using fixtures::MorvellaneBuilder;
using tooltest::contains;
using tooltest::run_tool;

namespace {

enum class Kind { kConverted, kSkipped, kFailed };

struct Entry {
  const char* name;
  std::vector<uint8_t> bytes;
  Kind kind;
  const char* output;  // name of the converted file
};

std::string summary(size_t converted, size_t skipped, size_t failed, size_t total) {
  return std::to_string(converted) + " converted, " + std::to_string(skipped) +
         " skipped (not Morvellane bitmaps), " + std::to_string(failed) + " failed; " +
         std::to_string(total) + " files in ";
}

TEST(ConvertFolder, MixedBadAndGoodFiles) {
  const std::vector<uint8_t> chart = fixtures::colour_chart(33, 17).build();
  const Entry entries[] = {
      {"a_good.bmp", chart, Kind::kConverted, "a_good.bmp"},
      {"b_top_down.BMP", fixtures::colour_chart(8, -5).build(), Kind::kConverted, "b_top_down.BMP"},
      {"c_named_oddly.dat", fixtures::colour_chart(3, 3).build(), Kind::kConverted,
       "c_named_oddly.dat.bmp"},
      {"d_rows_missing.bmp", fixtures::first_bytes(chart, chart.size() - 1), Kind::kFailed,
       nullptr},
      {"e_header_cut.bmp", fixtures::first_bytes(chart, 30), Kind::kSkipped, nullptr},
      {"f_empty.bmp", {}, Kind::kSkipped, nullptr},
      {"g_text.txt", {'h', 'e', 'l', 'l', 'o'}, Kind::kSkipped, nullptr},
      {"h_standard_24bit.bmp", tooltest::make_bmp24(1, 1, {1, 2, 3}), Kind::kSkipped, nullptr},
      {"i_aligned_size.bmp",
       MorvellaneBuilder(5, 2).defect(fixtures::Defect::kAlignedSizeImage).build(), Kind::kSkipped,
       nullptr},
      {"j_negative_width.bmp", MorvellaneBuilder(-4, 2).build(), Kind::kFailed, nullptr},
      {"k_no_pixels.bmp", MorvellaneBuilder(0, 12).build(), Kind::kFailed, nullptr},
      {"l name with spaces.bmp", chart, Kind::kConverted, "l name with spaces.bmp"},
  };
  tooltest::TempDir in, parent;
  size_t converted = 0, skipped = 0, failed = 0;
  for (const Entry& e : entries) {
    ASSERT_TRUE(tooltest::write_file(in.file(e.name), e.bytes));
    converted += e.kind == Kind::kConverted;
    skipped += e.kind == Kind::kSkipped;
    failed += e.kind == Kind::kFailed;
  }
  ASSERT_TRUE(CreateDirectoryA(in.file("subfolder").c_str(), nullptr));
  ASSERT_TRUE(tooltest::write_file(in.file("subfolder\\inner.bmp"), chart));

  const std::string out = parent.file("made by the tool");
  const tooltest::Run r = run_tool({"convert", in.path(), out});
  EXPECT_EQ(r.exit_code, 1u) << "a bad file makes the run end with 1";
  EXPECT_TRUE(contains(r.out, summary(converted, skipped, failed, std::size(entries)))) << r.out;
  for (const Entry& e : entries) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(contains(r.err, e.name), e.kind == Kind::kFailed) << r.err;
    if (e.output == nullptr) continue;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(tooltest::read_file(out + "\\" + e.output, &bytes));
    EXPECT_TRUE(bytes == tooltest::expected_bmp24(e.bytes)) << "differs from the model";
  }
  // Only the converted files, and nothing from the subfolder.
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((out + "\\*").c_str(), &found);
  size_t written = 0;
  if (search != INVALID_HANDLE_VALUE) {
    do written += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    while (FindNextFileA(search, &found));
    FindClose(search);
  }
  EXPECT_EQ(written, converted);
}

TEST(ConvertFolder, ProgressOnLongRuns) {
  tooltest::TempDir in, out;
  const size_t total = 205;
  const std::vector<uint8_t> tiny = MorvellaneBuilder(1, 1).build();
  for (size_t i = 0; i < total; ++i) {
    char name[32];
    snprintf(name, sizeof name, "p%03u.bmp", static_cast<unsigned>(i));
    ASSERT_TRUE(tooltest::write_file(in.file(name), tiny));
  }
  const tooltest::Run r = run_tool({"convert", in.path(), out.path()});
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  EXPECT_TRUE(contains(r.out, summary(total, 0, 0, total))) << r.out;
  for (size_t done : {100, 200})
    EXPECT_TRUE(contains(r.err, std::to_string(done) + " of " + std::to_string(total) + " files"))
        << r.err;
  EXPECT_FALSE(contains(r.err, std::to_string(total) + " of ")) << "the summary ends the run";
}

}  // namespace
