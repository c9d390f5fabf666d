// The stored settings on the real registry: the same cases as on the settings file,
// with the values set and checked with the registry calls themselves.
#include <gtest/gtest.h>

#include "platform/settings_registry.h"
#include "platform/settings_store.h"
#include "registry_helpers.h"
#include "settings/settings.h"

namespace kelta {
namespace {

using namespace kelta::testing;

class RegistrySettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteSettingsKey(); }
  void TearDown() override { DeleteSettingsKey(); }

  Settings Load() {
    Settings settings;
    settings.ScanCommNo = 99;  // not the defaults: a load must set every one of them
    settings.ScanBaudRate = "junk";
    settings.ScanBaudRateNo = 99;
    settings.LanguageFlag = "junk";
    settings.LanguageIndex = 2;
    LoadSettings(*store_, settings);
    return settings;
  }

  static void StoreAll() {
    SetDword("ScanCommNo", 7);
    SetSz("ScanBaudRate", "57600,e,8,1");
    SetDword("ScanBaudRateNo", 9);
    SetSz("LanguageFlag", "ChineseBIG5");
  }

  std::unique_ptr<SettingsStore> store_ = MakeSystemSettingsStore();
};

void ExpectSettings(const Settings& s, std::int32_t comm, const std::string& rate,
                    std::int32_t rate_no, const std::string& flag, int index) {
  EXPECT_EQ(s.ScanCommNo, comm);
  EXPECT_EQ(s.ScanBaudRate, rate);
  EXPECT_EQ(s.ScanBaudRateNo, rate_no);
  EXPECT_EQ(s.LanguageFlag, flag);
  EXPECT_EQ(s.LanguageIndex, index);
}

TEST_F(RegistrySettingsTest, FirstStartWithoutTheKeyTakesTheDefaultsAndCreatesNothing) {
  ExpectSettings(Load(), 0, "19200,e,8,1", 5, "English", 0);
  EXPECT_FALSE(KeyExists(kSettingsKey));
  EXPECT_FALSE(KeyExists(kVendorKey));
  EXPECT_FALSE(KeyExists(kVendorKey, HKEY_CURRENT_USER));
}

TEST_F(RegistrySettingsTest, AWrongTypeEndsTheReadingThereAndLeavesTheRestAtDefaults) {
  struct Case {
    const char* value;
    DWORD type;
    std::string bytes;
    Settings expected;
  };
  const Case cases[] = {
      {"ScanCommNo", REG_SZ, std::string("7") + '\0', {0, "19200,e,8,1", 5, "English", 0}},
      {"ScanBaudRate", REG_DWORD, DwordBytes(7), {7, "19200,e,8,1", 5, "English", 0}},
      {"ScanBaudRateNo", REG_SZ, std::string("9") + '\0', {7, "57600,e,8,1", 5, "English", 0}},
      {"LanguageFlag", REG_DWORD, DwordBytes(2), {7, "57600,e,8,1", 9, "English", 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.value) + " of type " + std::to_string(c.type));
    DeleteSettingsKey();
    StoreAll();
    SetRaw(c.value, c.type, c.bytes);
    const Settings& e = c.expected;
    ExpectSettings(Load(), e.ScanCommNo, e.ScanBaudRate, e.ScanBaudRateNo, e.LanguageFlag,
                   e.LanguageIndex);
  }
}

TEST_F(RegistrySettingsTest, TextsAreTakenAsStored) {
  struct Case {
    const char* label;
    std::string rate_bytes;
    DWORD rate_type;
    std::string flag;
    Settings expected;
  };
  const Case cases[] = {
      {"empty mode", std::string(1, '\0'), REG_SZ, "English", {0, "", 5, "English", 0}},
      {"expand string not expanded",
       std::string("%COMSPEC%") + '\0',
       REG_EXPAND_SZ,
       "English",
       {0, "%COMSPEC%", 5, "English", 0}},
      {"language in lower case",
       std::string("9600,e,8,1") + '\0',
       REG_SZ,
       "chinesegb",
       {0, "9600,e,8,1", 5, "chinesegb", 0}},
      {"empty language", std::string("9600,e,8,1") + '\0', REG_SZ, "", {0, "9600,e,8,1", 5, "", 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DeleteSettingsKey();
    SetRaw("ScanBaudRate", c.rate_type, c.rate_bytes);
    SetSz("LanguageFlag", c.flag);
    const Settings& e = c.expected;
    ExpectSettings(Load(), e.ScanCommNo, e.ScanBaudRate, e.ScanBaudRateNo, e.LanguageFlag,
                   e.LanguageIndex);
  }
}

TEST_F(RegistrySettingsTest, SavingTheScanCreatesTheKeyWithTheRegistryTypes) {
  Settings settings;
  settings.ScanCommNo = 3;
  settings.ScanBaudRate = "9600,e,8,1";
  settings.ScanBaudRateNo = 3;
  settings.LanguageFlag = "ChineseGB";
  SaveScanSettings(*store_, settings);

  const auto comm = GetRaw("ScanCommNo");
  const auto rate_no = GetRaw("ScanBaudRateNo");
  const auto rate = GetRaw("ScanBaudRate");
  ASSERT_TRUE(comm && rate_no && rate);
  EXPECT_EQ(comm->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(comm->bytes, DwordBytes(3));
  EXPECT_EQ(rate_no->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(rate_no->bytes, DwordBytes(3));
  EXPECT_EQ(rate->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(rate->bytes, std::string("9600,e,8,1") + '\0');
  EXPECT_FALSE(GetRaw("LanguageFlag")) << "the scan does not store the language";

  ExpectSettings(Load(), 3, "9600,e,8,1", 3, "English", 0);
}

TEST_F(RegistrySettingsTest, SavingTheLanguageWritesOnlyTheLanguage) {
  Settings settings;
  settings.LanguageFlag = "ChineseBIG5";
  settings.LanguageIndex = 2;
  SaveLanguage(*store_, settings);
  const auto flag = GetRaw("LanguageFlag");
  ASSERT_TRUE(flag);
  EXPECT_EQ(flag->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(flag->bytes, std::string("ChineseBIG5") + '\0');
  EXPECT_FALSE(GetRaw("ScanCommNo"));

  // The same language again is written again, over a value of another type.
  SetDword("LanguageFlag", 1);
  SaveLanguage(*store_, settings);
  EXPECT_EQ(GetRaw("LanguageFlag")->type, static_cast<DWORD>(REG_SZ));
}

// Windows refuses a program without administrator rights full access to the machine's
// key; Wine runs everything as administrator, so here the opener refuses.
LONG RefuseMachineKey(HKEY root, bool create, HKEY* key) {
  if (root == HKEY_LOCAL_MACHINE) return ERROR_ACCESS_DENIED;
  return OpenSettingsKey(root, create, key);
}

TEST_F(RegistrySettingsTest, ARefusedMachineKeyKeepsTheSettingsForTheUser) {
  SetDword("ScanCommNo", 9);  // an administrator's key, readable but not ours to open
  const auto store = MakeRegistrySettingsStore(RefuseMachineKey);
  Settings settings;
  settings.ScanCommNo = 3;
  settings.ScanBaudRate = "9600,e,8,1";
  settings.ScanBaudRateNo = 3;
  settings.LanguageFlag = "ChineseGB";
  settings.LanguageIndex = 1;
  EXPECT_TRUE(SaveScanSettings(*store, settings).stored);
  EXPECT_TRUE(SaveLanguage(*store, settings).stored);

  // The four values under the user's key, with the same names and types.
  const struct {
    const char* name;
    DWORD type;
    std::string bytes;
  } expected[] = {
      {"ScanCommNo", REG_DWORD, DwordBytes(3)},
      {"ScanBaudRateNo", REG_DWORD, DwordBytes(3)},
      {"ScanBaudRate", REG_SZ, std::string("9600,e,8,1") + '\0'},
      {"LanguageFlag", REG_SZ, std::string("ChineseGB") + '\0'},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.name);
    const auto value = GetRaw(e.name, HKEY_CURRENT_USER);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, e.type);
    EXPECT_EQ(value->bytes, e.bytes);
  }
  EXPECT_EQ(GetRaw("ScanCommNo")->bytes, DwordBytes(9)) << "the machine's key is left alone";
  EXPECT_FALSE(GetRaw("LanguageFlag"));

  Settings loaded;
  LoadSettings(*store, loaded);
  ExpectSettings(loaded, 3, "9600,e,8,1", 3, "ChineseGB", 1);
}

TEST_F(RegistrySettingsTest, ASaveThatCanOpenNeitherKeySaysWhy) {
  const auto store =
      MakeRegistrySettingsStore([](HKEY, bool, HKEY*) -> LONG { return ERROR_ACCESS_DENIED; });
  const SaveResult result = SaveLanguage(*store, Settings{});
  EXPECT_FALSE(result.stored);
  EXPECT_NE(result.error.find("cannot be opened for writing: "), std::string::npos) << result.error;
  EXPECT_FALSE(GetRaw("LanguageFlag", HKEY_CURRENT_USER));
}

TEST_F(RegistrySettingsTest, TheMachineKeyComesFirstWhereItOpens) {
  SetDword("ScanCommNo", 4, HKEY_CURRENT_USER);
  ExpectSettings(Load(), 4, "19200,e,8,1", 5, "English", 0);  // no machine key: the user's

  SetDword("ScanCommNo", 7);
  ExpectSettings(Load(), 7, "19200,e,8,1", 5, "English", 0);
  Settings settings;
  settings.LanguageFlag = "ChineseBIG5";
  SaveLanguage(*store_, settings);
  EXPECT_TRUE(GetRaw("LanguageFlag"));
  EXPECT_FALSE(GetRaw("LanguageFlag", HKEY_CURRENT_USER));
}

}  // namespace
}  // namespace kelta
