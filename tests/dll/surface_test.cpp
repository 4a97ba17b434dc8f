// The module as a host sees it: the information strings, the preview stub
// and the calling convention of every export. Loading and unloading under
// load are in stress_tests.
#include <string.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/fixtures/morvellane_builder.h"
#include "tests/support/win_test_support.h"

using wintest::plugin;

namespace {

TEST(PluginInfo, StringsAndLengths) {
  struct Case {
    int32_t index;
    int32_t length;
    const char* text;
  } cases[] = {
      {0, 260, "00IN"},
      {1, 260, "Morvellane 16-bit 5-6-5 bitmap reader for image viewers"},
      {2, 260, "*.bmp"},
      {3, 260, "Morvellane Bmp file"},
      {1, 11, "Morvellane"},  // cut, still sensible
      {3, 20, "Morvellane Bmp file"},
      {3, 19, "Morvellane Bmp fil"},
      {0, 2, "0"},
      {2, 1, ""},
  };
  for (const Case& c : cases) {
    char buffer[300];
    memset(buffer, '#', sizeof buffer);
    const int32_t got = plugin().GetPluginInfo(c.index, buffer, c.length);
    EXPECT_EQ(got, static_cast<int32_t>(strlen(c.text))) << c.index << "/" << c.length;
    EXPECT_STREQ(buffer, c.text) << c.index << "/" << c.length;
    EXPECT_EQ(buffer[strlen(c.text) + 1], '#') << "wrote past the NUL";
  }
  char buffer[300];
  ASSERT_EQ(plugin().GetPluginInfo(1, buffer, sizeof buffer), 55);
  EXPECT_EQ(std::string(buffer).rfind("Morvellane ", 0), 0u);
}

TEST(PluginInfo, NothingWrittenWhenRefused) {
  struct Case {
    int32_t index;
    int32_t length;
  } cases[] = {{4, 260}, {-1, 260}, {INT32_MAX, 260}, {INT32_MIN, 260},
               {0, 0},   {1, -1},   {3, INT32_MIN}};
  for (const Case& c : cases) {
    char buffer[16];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(plugin().GetPluginInfo(c.index, buffer + 4, c.length), 0)
        << c.index << "/" << c.length;
    for (char ch : buffer) ASSERT_EQ(ch, '#') << c.index << "/" << c.length;
  }
  EXPECT_EQ(plugin().GetPluginInfo(0, nullptr, 0), 0);
}

TEST(Preview, AlwaysNotImplemented) {
  HLOCAL info = reinterpret_cast<HLOCAL>(0x1234);
  HLOCAL bits = reinterpret_cast<HLOCAL>(0x5678);
  EXPECT_EQ(plugin().GetPreview(nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(plugin().GetPreview("C:\\nothing.bmp", 99, 1, &info, &bits, nullptr, nullptr), -1);
  EXPECT_EQ(info, reinterpret_cast<HLOCAL>(0x1234));
  EXPECT_EQ(bits, reinterpret_cast<HLOCAL>(0x5678));
}

// A cdecl function leaves its arguments on the stack: the probe must see it.
extern "C" int32_t __cdecl leaves_arguments(uint32_t a, uint32_t b) {
  return static_cast<int32_t>(a + b);
}

TEST(CallingConvention, EveryExportRemovesItsOwnArguments) {
  int32_t result = 0;
  const uint32_t two[2] = {20, 22};
  ASSERT_EQ(wintest::bytes_removed_by_callee(reinterpret_cast<const void*>(&leaves_arguments), two,
                                             2, &result),
            0u);
  ASSERT_EQ(result, 42);

  const std::vector<uint8_t> picture = fixtures::MorvellaneBuilder(1, 1).build();
  const uint8_t* header = picture.data();
  char buffer[64];
  PictureInfoRecord record;
  HLOCAL info = nullptr, bits = nullptr;
  const auto u = [](const void* p) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
  };
  struct Case {
    const char* name;
    const void* fn;
    std::vector<uint32_t> args;
    int32_t expected;
  } cases[] = {
      {"GetPluginInfo",
       reinterpret_cast<const void*>(plugin().GetPluginInfo),
       {0, u(buffer), sizeof buffer},
       4},
      {"IsSupported", reinterpret_cast<const void*>(plugin().IsSupported), {0, u(header)}, 1},
      {"GetPictureInfo",
       reinterpret_cast<const void*>(plugin().GetPictureInfo),
       {u(header), 38, 1, u(&record)},
       0},
      {"GetPicture",
       reinterpret_cast<const void*>(plugin().GetPicture),
       {0, 0, 2, u(&info), u(&bits), 0, 0},
       -1},
      {"GetPreview", reinterpret_cast<const void*>(plugin().GetPreview), {0, 0, 0, 0, 0, 0, 0}, -1},
  };
  for (const Case& c : cases) {
    result = -99;
    const uint32_t removed = wintest::bytes_removed_by_callee(
        c.fn, c.args.data(), static_cast<uint32_t>(c.args.size()), &result);
    EXPECT_EQ(removed, 4 * c.args.size()) << c.name;
    EXPECT_EQ(result, c.expected) << c.name;
  }
}

}  // namespace
