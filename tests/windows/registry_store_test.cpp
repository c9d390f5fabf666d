// The registry store: the type and size checks that RegQueryValueExA leaves to its caller.
#include <gtest/gtest.h>

#include "platform/settings_store.h"
#include "registry_helpers.h"

namespace kelta {
namespace {

using namespace kelta::testing;

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteSettingsKey(); }
  void TearDown() override { DeleteSettingsKey(); }
  std::unique_ptr<SettingsStore> store_ = MakeSystemSettingsStore();
};

TEST_F(RegistryStoreTest, OpeningWithoutCreateLeavesAMissingKeyMissing) {
  EXPECT_FALSE(store_->OpenKey(false));
  EXPECT_FALSE(store_->ValueExists("ScanCommNo"));
  store_->CloseKey();
  EXPECT_FALSE(KeyExists(kSettingsKey));
  EXPECT_FALSE(KeyExists(kVendorKey));
}

TEST_F(RegistryStoreTest, WritesCreateTheKeyAndStoreTheRegistryTypes) {
  ASSERT_TRUE(store_->OpenKey(true));
  store_->WriteInteger("ScanCommNo", 3);
  store_->WriteInteger("ScanBaudRateNo", -1);
  store_->WriteString("ScanBaudRate", "9600,e,8,1");
  store_->CloseKey();

  ASSERT_TRUE(KeyExists(kSettingsKey));
  const auto comm = GetRaw("ScanCommNo");
  ASSERT_TRUE(comm);
  EXPECT_EQ(comm->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(comm->bytes, DwordBytes(3));
  const auto rate_no = GetRaw("ScanBaudRateNo");
  ASSERT_TRUE(rate_no);
  EXPECT_EQ(rate_no->bytes, DwordBytes(0xFFFFFFFFu));
  const auto rate = GetRaw("ScanBaudRate");
  ASSERT_TRUE(rate);
  EXPECT_EQ(rate->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(rate->bytes, std::string("9600,e,8,1") + '\0');

  ASSERT_TRUE(store_->OpenKey(false));
  EXPECT_EQ(store_->ReadInteger("ScanBaudRateNo"), -1);
  EXPECT_EQ(store_->ReadString("ScanBaudRate"), "9600,e,8,1");
}

TEST_F(RegistryStoreTest, ValueExistsNamesOnlyStoredValues) {
  SetSz("LanguageFlag", "English");
  ASSERT_TRUE(store_->OpenKey(false));
  EXPECT_TRUE(store_->ValueExists("LanguageFlag"));
  EXPECT_FALSE(store_->ValueExists("ScanCommNo"));
  store_->CloseKey();
  EXPECT_FALSE(store_->ValueExists("LanguageFlag"));
}

struct StoredValue {
  const char* label;
  DWORD type;
  std::string bytes;
};

TEST_F(RegistryStoreTest, IntegerIsOnlyAFourByteDword) {
  const StoredValue refused[] = {
      {"text", REG_SZ, std::string("3") + '\0'},
      {"binary of 4 bytes", REG_BINARY, DwordBytes(3)},
      {"big-endian dword", REG_DWORD_BIG_ENDIAN, DwordBytes(3)},
      {"qword", REG_QWORD, std::string(8, '\0')},
      {"dword of 2 bytes", REG_DWORD, std::string(2, '\x03')},
      {"dword of 8 bytes", REG_DWORD, std::string(8, '\x03')},
      {"dword of 0 bytes", REG_DWORD, std::string()},
  };
  for (const auto& value : refused) {
    SCOPED_TRACE(value.label);
    SetRaw("ScanCommNo", value.type, value.bytes);
    ASSERT_TRUE(store_->OpenKey(false));
    EXPECT_THROW(store_->ReadInteger("ScanCommNo"), SettingsStoreError);
    store_->CloseKey();
  }
  SetDword("ScanCommNo", 0x80000000u);
  ASSERT_TRUE(store_->OpenKey(false));
  EXPECT_EQ(store_->ReadInteger("ScanCommNo"), INT32_MIN);
  EXPECT_THROW(store_->ReadInteger("Missing"), SettingsStoreError);
}

TEST_F(RegistryStoreTest, TextIsSzOrUnexpandedExpandSzUpToTheFirstZero) {
  struct Case {
    const char* label;
    DWORD type;
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {"plain", REG_SZ, std::string("9600,e,8,1") + '\0', "9600,e,8,1"},
      {"zero length", REG_SZ, "", ""},
      {"only the terminator", REG_SZ, std::string(1, '\0'), ""},
      {"expand not expanded", REG_EXPAND_SZ, std::string("%SystemRoot%\\x") + '\0',
       "%SystemRoot%\\x"},
      {"cut at the first zero", REG_SZ, std::string("ab\0cd\0", 6), "ab"},
      {"without terminator", REG_SZ, "abc", "abc"},
      {"longer than a first guess", REG_SZ, std::string(5000, 'x') + '\0', std::string(5000, 'x')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    SetRaw("ScanBaudRate", c.type, c.bytes);
    ASSERT_TRUE(store_->OpenKey(false));
    EXPECT_EQ(store_->ReadString("ScanBaudRate"), c.text);
    store_->CloseKey();
  }
}

TEST_F(RegistryStoreTest, TextOfAnotherTypeIsAnError) {
  const StoredValue refused[] = {
      {"dword", REG_DWORD, DwordBytes(5)},
      {"binary", REG_BINARY, "abc"},
      {"multi-string", REG_MULTI_SZ, std::string("a\0\0", 3)},
      {"none", REG_NONE, ""},
  };
  for (const auto& value : refused) {
    SCOPED_TRACE(value.label);
    SetRaw("LanguageFlag", value.type, value.bytes);
    ASSERT_TRUE(store_->OpenKey(false));
    EXPECT_THROW(store_->ReadString("LanguageFlag"), SettingsStoreError);
    store_->CloseKey();
  }
  ASSERT_TRUE(store_->OpenKey(false));
  EXPECT_THROW(store_->ReadString("Missing"), SettingsStoreError);
}

TEST_F(RegistryStoreTest, WritingWithoutAnOpenKeyIsAnError) {
  EXPECT_THROW(store_->WriteInteger("ScanCommNo", 1), SettingsStoreError);
  EXPECT_THROW(store_->WriteString("LanguageFlag", "English"), SettingsStoreError);
  EXPECT_FALSE(KeyExists(kSettingsKey));
}

}  // namespace
}  // namespace kelta
