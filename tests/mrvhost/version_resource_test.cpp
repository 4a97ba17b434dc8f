// The version resource of the built ifMrvln.spi, read back with the Windows
// version API as the file properties dialog reads it.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "plugin/client/spi_client.h"
#include "tool_runner.h"

namespace {

// What the release is, written here by hand rather than taken from the build
// that also makes the resource: bump it with project(... VERSION ...) in the
// top CMakeLists.txt.
constexpr char kVersion[] = "2.1.0";
constexpr WORD kMajor = 2, kMinor = 1, kPatch = 0;
// The description every viewer shows, as the README names it.
constexpr char kDescription[] = "Morvellane 16-bit 5-6-5 bitmap reader for image viewers";

std::vector<uint8_t> version_block() {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(spi::plugin_path().c_str(), &ignored);
  std::vector<uint8_t> block(size);
  if (size == 0 || !GetFileVersionInfoA(spi::plugin_path().c_str(), 0, size, block.data()))
    block.clear();
  return block;
}

TEST(VersionResource, FixedPart) {
  std::vector<uint8_t> block = version_block();
  ASSERT_FALSE(block.empty()) << "no version resource";
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD ms = MAKELONG(kMinor, kMajor);
  const DWORD ls = MAKELONG(0, kPatch);
  EXPECT_EQ(fixed->dwFileVersionMS, ms);
  EXPECT_EQ(fixed->dwFileVersionLS, ls);
  EXPECT_EQ(fixed->dwProductVersionMS, ms);
  EXPECT_EQ(fixed->dwProductVersionLS, ls);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug or pre-release flag";
  EXPECT_EQ(fixed->dwFileDateMS, 0u) << "no date";
  EXPECT_EQ(fixed->dwFileDateLS, 0u) << "no date";
}

TEST(VersionResource, Strings) {
  std::vector<uint8_t> block = version_block();
  ASSERT_FALSE(block.empty()) << "no version resource";
  struct Translation {
    WORD language, code_page;
  }* t = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&t), &length));
  ASSERT_GE(length, sizeof(Translation));
  char prefix[64];
  snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04x%04x\\", t->language, t->code_page);
  const struct {
    const char* name;
    const char* expected;
  } fields[] = {
      {"FileDescription", kDescription},
      {"OriginalFilename", "ifMrvln.spi"},
      {"InternalName", "ifMrvln"},
      {"FileVersion", kVersion},
      {"ProductVersion", kVersion},
      {"ProductName", "ifMrvln.spi Morvellane bitmap plug-in"},
      {"CompanyName", "The ifMrvln.spi authors"},
      {"LegalCopyright", "Copyright (C) the ifMrvln.spi authors. MIT License."},
  };
  for (const auto& f : fields) {
    char* text = nullptr;
    UINT chars = 0;
    const std::string key = std::string(prefix) + f.name;
    ASSERT_TRUE(VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &chars))
        << key;
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, f.expected) << f.name;
  }
}

TEST(VersionResource, ShownByTheToolWithTheInformationStrings) {
  const tooltest::Run r = tooltest::run_tool({"about"});
  EXPECT_EQ(r.exit_code, 0u);
  for (const std::string& part :
       {std::string("version: ") + kVersion + ".0", std::string("00IN"), std::string("*.bmp"),
        std::string("Morvellane Bmp file"), std::string("ifMrvln.spi")})
    EXPECT_TRUE(tooltest::contains(r.out, part)) << part << " not in " << r.out;
}

}  // namespace
