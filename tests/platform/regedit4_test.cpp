// The REGEDIT4 text format on its own, from text to text: no file is involved.
#include "platform/regedit4.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kelta {
namespace {

constexpr std::string_view kKey = "HKEY_LOCAL_MACHINE\\Software\\KELTA\\ReaderConfig";

TEST(RegEdit4Test, LookUpFollowsTheRegistrysImportRules) {
  struct Case {
    const char* values;  // the lines of the key
    RegFile::Lookup lookup;
    RegValue value;
  };
  const Case cases[] = {
      {"\"ScanCommNo\"=dword:00000003\r\n", RegFile::Lookup::Found, RegDword(3)},
      {"\"scancommno\"=dword:1\r\n\"SCANCOMMNO\"=dword:2\r\n", RegFile::Lookup::Found, RegDword(2)},
      {"\"ScanCommNo\"=dword:3\r\n\"ScanCommNo\"=-\r\n", RegFile::Lookup::Missing, {}},
      {"\"ScanCommNo\"=dword:123456789\r\n", RegFile::Lookup::Unreadable, {}},
      {"\"ScanCommNo\"=hex(4):07,00,00,00\r\n", RegFile::Lookup::Found, RegDword(7)},
      {"\"ScanCommNo\"=\"C:\\\\a \\\"b\\\"\"\r\n", RegFile::Lookup::Found,
       RegValue{kRegSz, std::string("C:\\a \"b\"\0", 9)}},
      {"\"Other\"=dword:3\r\n", RegFile::Lookup::Missing, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.values);
    const std::optional<RegFile> file =
        RegFile::Parse("REGEDIT4\r\n\r\n[" + std::string(kKey) + "]\r\n" + c.values);
    ASSERT_TRUE(file.has_value());
    RegValue value;
    EXPECT_EQ(file->Find(kKey, "ScanCommNo", &value), c.lookup);
    if (c.lookup == RegFile::Lookup::Found) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(RegEdit4Test, SetChangesOnlyTheLinesOfTheValue) {
  const std::string before =
      "REGEDIT4\r\n; mine\r\n[" + std::string(kKey) +
      "]\r\n\"A\"=dword:1\r\n\"b\"=\"x\"\r\n\"B\"=dword:2\r\n\r\n[Other]\r\n";
  std::optional<RegFile> file = RegFile::Parse(before);
  ASSERT_TRUE(file.has_value());
  file->Set(kKey, "B", RegValue{kRegSz, std::string("two\r\nlines\0", 11)});
  file->Set(kKey, "C", RegDword(0xABCDEF01));
  EXPECT_EQ(file->Format(), "REGEDIT4\r\n; mine\r\n[" + std::string(kKey) +
                                "]\r\n\"A\"=dword:1\r\n"
                                "\"B\"=hex(1):74,77,6f,0d,0a,6c,69,6e,65,73,00\r\n"
                                "\"C\"=dword:abcdef01\r\n\r\n[Other]\r\n");
}

}  // namespace
}  // namespace kelta
