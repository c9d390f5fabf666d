// The rules of loading and saving, against a store in memory that records its calls
// and fails where a test tells it to.
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace kelta {
namespace {

using StoredValue = std::variant<std::int32_t, std::string>;

class FakeStore : public SettingsStore {
 public:
  bool key_exists = false;
  bool access_refused = false;
  std::map<std::string, StoredValue> values;
  int fail_at_call = -1;         // the call (counted from 0) that throws
  bool fail_with_other = false;  // throw a plain runtime_error instead
  bool close_throws = false;
  std::vector<std::string> calls;

  bool OpenKey(bool create) override {
    Call(create ? "open create" : "open");
    if (access_refused || (!key_exists && !create)) return false;
    key_exists = true;
    return true;
  }
  bool ValueExists(const std::string& name) override {
    Call("exists " + name);
    return values.count(name) != 0;
  }
  std::int32_t ReadInteger(const std::string& name) override {
    Call("read " + name);
    const auto* number = std::get_if<std::int32_t>(&values.at(name));
    if (number == nullptr) throw SettingsStoreError("not a REG_DWORD");
    return *number;
  }
  std::string ReadString(const std::string& name) override {
    Call("read " + name);
    const auto* text = std::get_if<std::string>(&values.at(name));
    if (text == nullptr) throw SettingsStoreError("not a text");
    return *text;
  }
  void WriteInteger(const std::string& name, std::int32_t value) override {
    Call("write " + name);
    values[name] = value;
  }
  void WriteString(const std::string& name, const std::string& value) override {
    Call("write " + name);
    values[name] = value;
  }
  void CloseKey() override {
    calls.push_back("close");
    if (close_throws) throw SettingsStoreError("close failed");
  }

 private:
  void Call(const std::string& what) {
    const bool fail = static_cast<int>(calls.size()) == fail_at_call;
    calls.push_back(what);
    if (fail && fail_with_other) throw std::runtime_error("something else");
    if (fail) throw SettingsStoreError("failed: " + what);
  }
};

void ExpectSettings(const Settings& s, std::int32_t comm, const std::string& baud,
                    std::int32_t baud_no, const std::string& flag, int index) {
  EXPECT_EQ(s.ScanCommNo, comm);
  EXPECT_EQ(s.ScanBaudRate, baud);
  EXPECT_EQ(s.ScanBaudRateNo, baud_no);
  EXPECT_EQ(s.LanguageFlag, flag);
  EXPECT_EQ(s.LanguageIndex, index);
}

void ExpectDefaults(const Settings& s) { ExpectSettings(s, 0, "19200,e,8,1", 5, "English", 0); }

FakeStore FullStore() {
  FakeStore store;
  store.key_exists = true;
  store.values = {{"ScanCommNo", 3},
                  {"ScanBaudRate", std::string("9600,e,8,1")},
                  {"ScanBaudRateNo", 3},
                  {"LanguageFlag", std::string("ChineseBIG5")}};
  return store;
}

Settings Dirty() { return Settings{9, "4800,n,8,1", 0, "ChineseGB", 1}; }

TEST(LanguageIndexOfTest, ComparesTheWholeNameExactly) {
  const std::pair<const char*, int> cases[] = {
      {"English", 0},   {"ChineseGB", 1},   {"ChineseBIG5", 2},
      {"chinesegb", 0}, {"CHINESEBIG5", 0}, {"ChineseBig5", 0},
      {"", 0},          {"ChineseGB ", 0},  {"ChineseG", 0},
      {"Chinese", 0},
  };
  for (const auto& [flag, index] : cases) {
    EXPECT_EQ(LanguageIndexOf(flag), index) << '"' << flag << '"';
  }
}

TEST(LoadSettingsTest, MissingKeyGivesDefaultsAndCreatesNothing) {
  FakeStore store;
  Settings settings = Dirty();
  LoadSettings(store, settings);
  ExpectDefaults(settings);
  EXPECT_FALSE(store.key_exists);
  EXPECT_EQ(store.calls, std::vector<std::string>{"open"});
}

TEST(LoadSettingsTest, ReadsEveryValueInOrderAndCloses) {
  FakeStore store = FullStore();
  Settings settings;
  LoadSettings(store, settings);
  ExpectSettings(settings, 3, "9600,e,8,1", 3, "ChineseBIG5", 2);
  const std::vector<std::string> expected = {"open",
                                             "exists ScanCommNo",
                                             "read ScanCommNo",
                                             "exists ScanBaudRate",
                                             "read ScanBaudRate",
                                             "exists ScanBaudRateNo",
                                             "read ScanBaudRateNo",
                                             "exists LanguageFlag",
                                             "read LanguageFlag",
                                             "close"};
  EXPECT_EQ(store.calls, expected);
}

TEST(LoadSettingsTest, WrongTypeStopsAtThatValue) {
  struct Case {
    const char* name;
    StoredValue wrong;
    Settings expected;
  };
  const Case cases[] = {
      {"ScanCommNo", std::string("3"), Settings{}},
      {"ScanBaudRate", 7, Settings{3, "19200,e,8,1", 5, "English", 0}},
      {"ScanBaudRateNo", std::string("3"), Settings{3, "9600,e,8,1", 5, "English", 0}},
      {"LanguageFlag", 2, Settings{3, "9600,e,8,1", 3, "English", 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeStore store = FullStore();
    store.values[c.name] = c.wrong;
    Settings settings = Dirty();
    LoadSettings(store, settings);
    const Settings& e = c.expected;
    ExpectSettings(settings, e.ScanCommNo, e.ScanBaudRate, e.ScanBaudRateNo, e.LanguageFlag,
                   e.LanguageIndex);
    EXPECT_EQ(store.calls.back(), "close");
  }
}

TEST(LoadSettingsTest, AnyExceptionFromTheStoreIsSwallowed) {
  for (const bool other : {false, true}) {
    FakeStore store = FullStore();
    store.fail_at_call = 5;  // the read of ScanBaudRateNo
    store.fail_with_other = other;
    store.close_throws = true;
    Settings settings;
    EXPECT_NO_THROW(LoadSettings(store, settings));
    ExpectSettings(settings, 3, "9600,e,8,1", 5, "English", 0);
    EXPECT_EQ(store.calls.back(), "close");
  }
}

TEST(SaveSettingsTest, ScanSettingsCreateTheKeyAndWriteThreeValues) {
  FakeStore store;
  const Settings settings{3, "9600,e,8,1", 3, "ChineseGB", 1};
  SaveScanSettings(store, settings);
  const std::vector<std::string> expected = {"open create", "write ScanCommNo",
                                             "write ScanBaudRateNo", "write ScanBaudRate", "close"};
  EXPECT_EQ(store.calls, expected);
  EXPECT_EQ(store.values.size(), 3u);
  EXPECT_EQ(std::get<std::int32_t>(store.values["ScanCommNo"]), 3);
  EXPECT_EQ(std::get<std::string>(store.values["ScanBaudRate"]), "9600,e,8,1");
}

TEST(SaveSettingsTest, FailedWriteKeepsWhatWasWrittenBefore) {
  for (const bool other : {false, true}) {
    FakeStore store;
    store.fail_at_call = 2;  // the write of ScanBaudRateNo
    store.fail_with_other = other;
    store.close_throws = true;
    EXPECT_NO_THROW(SaveScanSettings(store, Settings{4, "9600,n,8,1", 2, "English", 0}));
    EXPECT_EQ(store.values.count("ScanCommNo"), 1u);
    EXPECT_EQ(store.values.count("ScanBaudRate"), 0u);
    EXPECT_EQ(store.calls.back(), "close");
  }
}

TEST(SaveSettingsTest, KeyThatCannotBeOpenedWritesNothing) {
  FakeStore store;
  store.access_refused = true;
  SaveScanSettings(store, Settings{});
  SaveLanguage(store, Settings{});
  EXPECT_TRUE(store.values.empty());
  EXPECT_EQ(store.calls, (std::vector<std::string>{"open create", "open create"}));
}

// The result carries the first error, whatever the store threw.
TEST(SaveSettingsTest, ResultSaysWhetherAndWhyNotStored) {
  struct Case {
    bool refused;
    int fail_at;
    bool other;
    bool close_throws;
    const char* error;
  };
  const Case cases[] = {
      {false, -1, false, false, ""},
      {true, -1, false, false, "the settings key cannot be opened"},
      {false, 0, false, false, "failed: open create"},
      {false, 2, false, true, "failed: write ScanBaudRateNo"},
      {false, 2, true, false, "something else"},
      {false, -1, false, true, "close failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    FakeStore store;
    store.access_refused = c.refused;
    store.fail_at_call = c.fail_at;
    store.fail_with_other = c.other;
    store.close_throws = c.close_throws;
    const SaveResult result = SaveScanSettings(store, Settings{});
    EXPECT_EQ(result.stored, std::string(c.error).empty());
    EXPECT_EQ(result.error, c.error);
  }
}

TEST(SaveSettingsTest, LanguageWritesOnlyTheFlagEvenWhenUnchanged) {
  FakeStore store = FullStore();
  Settings settings;
  LoadSettings(store, settings);
  store.calls.clear();
  SaveLanguage(store, settings);
  EXPECT_EQ(store.calls, (std::vector<std::string>{"open create", "write LanguageFlag", "close"}));
  EXPECT_EQ(std::get<std::string>(store.values["LanguageFlag"]), "ChineseBIG5");
}

}  // namespace
}  // namespace kelta
