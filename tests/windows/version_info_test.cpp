// The version block, read back from this executable (built with app/corvanel.rc) through the
// system's version API, as Explorer's properties page would show it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

class VersionInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u) << "no version block in " << path;
    m_block.resize(size);
    ASSERT_NE(GetFileVersionInfoA(path, 0, size, m_block.data()), 0);
  }

  // The value's text, or a note that it is missing.
  std::string Text(const std::string& name) {
    const std::string key = "\\StringFileInfo\\040904B0\\" + name;
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(m_block.data(), key.c_str(), &value, &length) == 0 || value == nullptr) {
      return "<missing>";
    }
    return std::string(static_cast<const char*>(value));
  }

  std::vector<std::uint8_t> m_block;
};

TEST_F(VersionInfoTest, FixedPart_FileAndProductVersion1_0_0_1) {
  void* value = nullptr;
  UINT length = 0;
  ASSERT_NE(VerQueryValueA(m_block.data(), "\\", &value, &length), 0);
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_F(VersionInfoTest, Translation_UsEnglishUnicode) {
  void* value = nullptr;
  UINT length = 0;
  ASSERT_NE(VerQueryValueA(m_block.data(), "\\VarFileInfo\\Translation", &value, &length), 0);
  ASSERT_EQ(length, 4u);
  const auto* pair = static_cast<const WORD*>(value);
  EXPECT_EQ(pair[0], 0x0409);
  EXPECT_EQ(pair[1], 0x04B0);
}

struct Entry {
  const char* name;
  const char* text;
};

class VersionTextTest : public VersionInfoTest, public ::testing::WithParamInterface<Entry> {};

TEST_P(VersionTextTest, ValueIsPresentWithItsText) {
  EXPECT_EQ(Text(GetParam().name), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Block040904B0, VersionTextTest,
    ::testing::Values(Entry{"FileVersion", "1, 0, 0, 1"}, Entry{"ProductVersion", "1, 0, 0, 1"},
                      Entry{"FileDescription", "Corvanel MFC Application"},
                      Entry{"InternalName", "Corvanel"}, Entry{"OriginalFilename", "Corvanel.EXE"},
                      Entry{"ProductName", "Corvanel Application"},
                      Entry{"LegalCopyright", "Copyright (C) 2026"}, Entry{"Comments", ""},
                      Entry{"CompanyName", ""}, Entry{"LegalTrademarks", ""},
                      Entry{"PrivateBuild", ""}, Entry{"SpecialBuild", ""}),
    [](const ::testing::TestParamInfo<Entry>& row) { return std::string(row.param.name); });

}  // namespace
