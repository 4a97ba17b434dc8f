// The tool's commands on the bundled samples, its arguments, help and exit
// codes, run as a user runs them.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/fixtures/morvellane_builder.h"
#include "tool_runner.h"

using tooltest::contains;
using tooltest::run_tool;

namespace {

constexpr unsigned long kDone = 0, kRefused = 1, kUsage = 2, kNoPlugin = 3, kFileError = 4;

// What the bundled samples are: accepted by the plug-in or not, whether
// their pixel rows are all there, and the words of a refusal.
struct Sample {
  const char* name;
  bool accepted;
  bool complete;
  const char* refusal;
};
const Sample kSamples[] = {
    {"colour_chart_320x240.bmp", true, true, nullptr},
    {"colour_chart_odd_173x97.bmp", true, true, nullptr},
    {"blend_top_down_255x-128.bmp", true, true, nullptr},
    {"not_morvellane_24bit.bmp", false, true, "not a Morvellane bitmap"},
    // Half of the 66 + 64 * 64 * 2 bytes.
    {"truncated_64x64.bmp", true, false,
     "truncated Morvellane bitmap: the file ends after 4129 of the 8258 bytes of its 64 x 64 "
     "pixels"},
};

std::string sample(const Sample& s) {
  return tooltest::samples_dir() + "\\" + s.name;
}

// The size fields of a sample, read from its header.
void stored_size(const std::string& path, int32_t* width, int32_t* height) {
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(tooltest::read_file(path, &bytes)) << path;
  ASSERT_GE(bytes.size(), 26u);
  *width = static_cast<int32_t>(fixtures::le32(bytes, 18));
  *height = static_cast<int32_t>(fixtures::le32(bytes, 22));
}

std::string size_text(int32_t width, int32_t height) {
  return std::to_string(width) + " x " + std::to_string(height < 0 ? -height : height);
}

TEST(Arguments, WrongOnesAreRefusedWithExitCode2) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "no command"},
      {{"bogus"}, "unknown command"},
      {{"convert"}, "CONVERT"},
      {{"convert", "a.bmp"}, "CONVERT"},
      {{"convert", "a.bmp", "b.bmp", "c.bmp"}, "CONVERT"},
      {{"encode", "a.bmp"}, "ENCODE"},
      {{"info"}, "INFO"},
      {{"about", "x"}, "ABOUT"},
  };
  for (const auto& c : cases) {
    const tooltest::Run r = run_tool(c.args);
    EXPECT_EQ(r.exit_code, kUsage) << c.message;
    EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    EXPECT_TRUE(contains(r.err, "mrvhost /?")) << "points to the help: " << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST(Arguments, HelpInEveryUsualSpelling) {
  const std::vector<std::vector<std::string>> spellings = {
      {"/?"}, {"-?"}, {"--help"}, {"-h"}, {"help"}, {"convert", "/?"}, {"HELP"}};
  for (const auto& args : spellings) {
    const tooltest::Run r = run_tool(args);
    EXPECT_EQ(r.exit_code, kDone) << args[0];
    for (const char* part : {"MRVHOST INFO", "MRVHOST CONVERT", "MRVHOST ENCODE", "Exit codes"})
      EXPECT_TRUE(contains(r.out, part)) << args[0] << " lacks " << part;
    EXPECT_EQ(r.err, "");
  }
}

TEST(Info, EachSampleAndTheWorstExitCode) {
  std::vector<std::string> args = {"info"};
  for (const Sample& s : kSamples) args.push_back(sample(s));
  const tooltest::Run all = run_tool(args);
  EXPECT_EQ(all.exit_code, kRefused) << "one sample is not a Morvellane bitmap";
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.name);
    int32_t w = 0, h = 0;
    stored_size(sample(s), &w, &h);
    const std::string accepted = sample(s) + ": Morvellane bitmap, " + size_text(w, h);
    const std::string refused = sample(s) + ": not a Morvellane bitmap";
    EXPECT_EQ(contains(all.out, accepted), s.accepted) << all.out;
    EXPECT_EQ(contains(all.out, refused), !s.accepted) << all.out;
    if (h < 0 && s.accepted) {
      EXPECT_TRUE(contains(all.out, accepted + " (top row first)"));
    }
  }

  const tooltest::Run good = run_tool({"INFO", sample(kSamples[0]), sample(kSamples[2])});
  EXPECT_EQ(good.exit_code, kDone) << good.out << good.err;
  EXPECT_TRUE(contains(good.out, "24 bits per pixel"));

  tooltest::TempDir empty;
  const tooltest::Run missing = run_tool({"info", sample(kSamples[3]), empty.file("none.bmp")});
  EXPECT_EQ(missing.exit_code, kFileError) << "a missing file outranks a refusal";
  EXPECT_TRUE(contains(missing.err, "none.bmp: cannot open")) << missing.err;
  const tooltest::Run folder = run_tool({"info", empty.path()});
  EXPECT_EQ(folder.exit_code, kFileError);
  EXPECT_TRUE(contains(folder.err, "is a folder")) << folder.err;
}

TEST(Info, WildcardsAreExpandedByTheTool) {
  const tooltest::Run r = run_tool({"info", tooltest::samples_dir() + "\\colour_chart_*.bmp"});
  EXPECT_EQ(r.exit_code, kDone) << r.out << r.err;
  EXPECT_TRUE(contains(r.out, "colour_chart_320x240.bmp: Morvellane")) << r.out;
  EXPECT_TRUE(contains(r.out, "colour_chart_odd_173x97.bmp: Morvellane")) << r.out;
}

// The converted file is the picture of the independent model, byte for byte.
void expect_converted(const std::string& source, const std::string& converted) {
  std::vector<uint8_t> in, out;
  ASSERT_TRUE(tooltest::read_file(source, &in));
  ASSERT_TRUE(tooltest::read_file(converted, &out)) << converted << " not written";
  EXPECT_TRUE(out == tooltest::expected_bmp24(in)) << converted;
}

TEST(Convert, EachSampleGivesTheReferencePictureOrARefusal) {
  tooltest::TempDir out;
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.name);
    const std::string target = out.file(std::string("converted_") + s.name);
    const tooltest::Run r = run_tool({"convert", sample(s), target});
    if (s.accepted && s.complete) {
      EXPECT_EQ(r.exit_code, kDone) << r.err;
      int32_t w = 0, h = 0;
      stored_size(sample(s), &w, &h);
      EXPECT_TRUE(contains(r.out, size_text(w, h))) << r.out;
      expect_converted(sample(s), target);
    } else {
      EXPECT_EQ(r.exit_code, kRefused);
      EXPECT_EQ(r.err, "mrvhost: " + sample(s) + ": " + s.refusal + "\n");
      EXPECT_FALSE(tooltest::exists(target)) << "nothing written for a refused picture";
    }
  }
}

TEST(Convert, IntoAFolderKeepsTheName) {
  tooltest::TempDir out;
  const tooltest::Run r = run_tool({"convert", sample(kSamples[1]), out.path()});
  EXPECT_EQ(r.exit_code, kDone) << r.err;
  expect_converted(sample(kSamples[1]), out.file(kSamples[1].name));
}

// File problems of CONVERT, of a file and of a folder, and of ENCODE: exit
// code 4 or 2 and the message; a folder run without problems ends with 0.
TEST(ExitCodes, FileProblemsGive4Or2) {
  tooltest::TempDir dir, good, empty;
  const std::string chart = sample(kSamples[0]);
  ASSERT_TRUE(tooltest::write_file(good.file("one.bmp"), fixtures::colour_chart(4, 4).build()));
  ASSERT_TRUE(tooltest::write_file(good.file("two.txt"), {'x'}));
  ASSERT_TRUE(tooltest::write_file(dir.file("ok.bmp"), tooltest::make_bmp24(1, 1, {1, 2, 3})));
  const struct {
    std::vector<std::string> args;
    unsigned long code;
    const char* message;
  } cases[] = {
      {{"convert", dir.file("missing.bmp"), dir.file("x.bmp")}, kFileError, "cannot open"},
      {{"convert", chart, dir.file("no_such_folder\\x.bmp")}, kFileError, "cannot write"},
      {{"convert", chart, chart}, kUsage, "same file"},
      {{"convert", good.path(), dir.file("out")}, kDone, "1 converted, 1 skipped"},
      {{"convert", empty.path(), dir.file("e")}, kDone, "0 converted, 0 skipped"},
      {{"convert", good.path(), good.path()}, kUsage, "must differ"},
      {{"convert", good.path(), dir.file("no\\such\\place")}, kFileError, "cannot make the folder"},
      {{"encode", dir.file("missing.bmp"), dir.file("o.bmp")}, kFileError, "cannot read"},
      {{"encode", dir.file("ok.bmp"), dir.file("nowhere\\o.bmp")}, kFileError, "cannot write"},
      {{"encode", dir.file("ok.bmp"), dir.file("OK.bmp")}, kUsage, "same file"},
  };
  for (const auto& c : cases) {
    const tooltest::Run r = run_tool(c.args);
    EXPECT_EQ(r.exit_code, c.code) << c.message;
    EXPECT_TRUE(contains(c.code == kDone ? r.out : r.err, c.message)) << r.out << r.err;
  }
  std::vector<uint8_t> still;
  ASSERT_TRUE(tooltest::read_file(chart, &still));
  EXPECT_EQ(fixtures::le16(still, 28), 16) << "the source was not overwritten";
}

TEST(Plugin, MissingPluginGivesExitCode3ButEncodeStillWorks) {
  tooltest::TempDir alone;
  const std::string exe = alone.file("mrvhost.exe");
  ASSERT_TRUE(CopyFileA((tooltest::bin_dir() + "\\mrvhost.exe").c_str(), exe.c_str(), FALSE));
  const tooltest::Run info = run_tool({"info", sample(kSamples[0])}, exe);
  EXPECT_EQ(info.exit_code, kNoPlugin);
  EXPECT_TRUE(contains(info.err, "ifMrvln.spi")) << info.err;
  std::vector<uint8_t> bgr(3 * 2 * 2, 0x40);
  ASSERT_TRUE(tooltest::write_file(alone.file("in.bmp"), tooltest::make_bmp24(2, 2, bgr)));
  const tooltest::Run encode = run_tool({"encode", alone.file("in.bmp"), alone.file("o.bmp")}, exe);
  EXPECT_EQ(encode.exit_code, kDone) << encode.err;
}

}  // namespace
