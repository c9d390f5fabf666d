// The settings file of systems without a registry: LoadSettings and the saves on a real
// file in a temporary configuration folder.
#include "platform/settings_regfile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/config_dir.h"
#include "settings/settings.h"

namespace kelta {
namespace {

namespace fs = std::filesystem;

const std::string kHeader =
    "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\KELTA\\ReaderConfig]\r\n";

std::optional<std::string> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  ASSERT_TRUE(out.good());
}

std::string Golden(const char* name) {
  const std::optional<std::string> text = ReadAll(fs::path(KELTA_SETTINGS_TEST_DATA) / name);
  EXPECT_TRUE(text.has_value()) << name;
  return text.value_or("");
}

void ExpectSettings(const Settings& s, const Settings& e) {
  EXPECT_EQ(s.ScanCommNo, e.ScanCommNo);
  EXPECT_EQ(s.ScanBaudRate, e.ScanBaudRate);
  EXPECT_EQ(s.ScanBaudRateNo, e.ScanBaudRateNo);
  EXPECT_EQ(s.LanguageFlag, e.LanguageFlag);
  EXPECT_EQ(s.LanguageIndex, e.LanguageIndex);
}

class RegFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kelta-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    folder_ = ConfigDir();
    file_ = folder_ / "settings.reg";
    EXPECT_EQ(folder_, root_ / "KELTA" / "ReaderConfig");
  }

  void TearDown() override {
    std::error_code ignored;
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
  }

  void Store(const std::string& text) {
    fs::create_directories(folder_);
    WriteAll(file_, text);
  }

  Settings Load() {
    Settings settings{9, "junk", 9, "junk", 2};
    LoadSettings(*MakeSystemSettingsStore(), settings);
    return settings;
  }

  // Only settings.reg (and what a test put there) may stay in the folder, besides the
  // lock file of the saves.
  int FilesInFolder() const {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      count += entry.path().filename() != "settings.reg.lock";
    }
    return count;
  }

  fs::path root_, folder_, file_;
};

TEST_F(RegFileTest, FirstStartWithoutTheFileGivesDefaultsAndCreatesNothing) {
  ExpectSettings(Load(), Settings{});
  EXPECT_FALSE(fs::exists(folder_));
}

TEST_F(RegFileTest, FileWithoutTheKeyGivesDefaultsAndStaysAsItWas) {
  const std::string text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\KELTA]\r\n\"ScanCommNo\"=dword:00000003\r\n";
  Store(text);
  ExpectSettings(Load(), Settings{});
  EXPECT_EQ(ReadAll(file_), text);
}

TEST_F(RegFileTest, SavesMatchTheGoldenFilesAndLoadBack) {
  auto store = MakeSystemSettingsStore();
  Settings settings{3, "9600,e,8,1", 3, "ChineseGB", 1};
  SaveScanSettings(*store, settings);
  EXPECT_EQ(ReadAll(file_), Golden("scan_saved.ref"));
  SaveLanguage(*store, settings);
  EXPECT_EQ(ReadAll(file_), Golden("language_saved.ref"));
  ExpectSettings(Load(), settings);
  EXPECT_EQ(FilesInFolder(), 1);
}

TEST_F(RegFileTest, SaveKeepsOtherKeysValuesAndComments) {
  Store(Golden("kept.reg"));
  ExpectSettings(Load(), Settings{1, "19200,e,8,1", 5, "ChineseBIG5", 2});
  SaveScanSettings(*MakeSystemSettingsStore(), Settings{3, "9600,e,8,1", 3, "English", 0});
  EXPECT_EQ(ReadAll(file_), Golden("kept_saved.ref"));
}

// Each case: the values of the key, and the settings LoadSettings leaves.
TEST_F(RegFileTest, ReadsValuesWithTheRegistrysTypeRules) {
  struct Case {
    const char* what;
    std::string values;
    Settings expected;
  };
  const std::string all =
      "\"ScanCommNo\"=dword:00000003\r\n\"ScanBaudRate\"=\"9600,e,8,1\"\r\n"
      "\"ScanBaudRateNo\"=dword:00000003\r\n\"LanguageFlag\"=\"ChineseGB\"\r\n";
  const Case cases[] = {
      {"all four", all, {3, "9600,e,8,1", 3, "ChineseGB", 1}},
      {"ScanCommNo as text",
       "\"ScanCommNo\"=\"3\"\r\n\"ScanBaudRate\"=\"9600,e,8,1\"\r\n\"LanguageFlag\"="
       "\"ChineseGB\"\r\n",
       {}},
      {"ScanBaudRate as dword",
       "\"ScanCommNo\"=dword:00000003\r\n\"ScanBaudRate\"=dword:1\r\n",
       {3, "19200,e,8,1", 5, "English", 0}},
      {"ScanBaudRateNo as text",
       "\"ScanCommNo\"=dword:3\r\n\"ScanBaudRate\"=\"9600,e,8,1\"\r\n\"ScanBaudRateNo\"=\"3\"\r\n"
       "\"LanguageFlag\"=\"ChineseGB\"\r\n",
       {3, "9600,e,8,1", 5, "English", 0}},
      {"LanguageFlag as dword",
       "\"ScanCommNo\"=dword:3\r\n\"ScanBaudRateNo\"=dword:4\r\n\"LanguageFlag\"=dword:1\r\n",
       {3, "19200,e,8,1", 4, "English", 0}},
      {"ScanCommNo as binary",
       "\"ScanCommNo\"=hex:03,00,00,00\r\n\"ScanBaudRateNo\"=dword:4\r\n",
       {}},
      {"ScanCommNo as hex(4) of 4 bytes",
       "\"ScanCommNo\"=hex(4):07,01,00,00\r\n",
       {263, "19200,e,8,1", 5, "English", 0}},
      {"ScanCommNo as hex(4) of 2 bytes",
       "\"ScanCommNo\"=hex(4):07,01\r\n\"ScanBaudRateNo\"=dword:4\r\n",
       {}},
      {"ScanCommNo cut short", "\"ScanCommNo\"=dwo\r\n\"ScanBaudRateNo\"=dword:4\r\n", {}},
      {"empty ScanBaudRate", "\"ScanBaudRate\"=\"\"\r\n", {0, "", 5, "English", 0}},
      {"ScanBaudRateNo 12",
       "\"ScanBaudRateNo\"=dword:0000000c\r\n",
       {0, "19200,e,8,1", 12, "English", 0}},
      {"ScanBaudRateNo -1",
       "\"ScanBaudRateNo\"=dword:ffffffff\r\n",
       {0, "19200,e,8,1", -1, "English", 0}},
      {"lower-case language",
       "\"LanguageFlag\"=\"chinesegb\"\r\n",
       {0, "19200,e,8,1", 5, "chinesegb", 0}},
      {"Big5 language",
       "\"LanguageFlag\"=\"ChineseBIG5\"\r\n",
       {0, "19200,e,8,1", 5, "ChineseBIG5", 2}},
      {"REG_EXPAND_SZ not expanded",
       "\"ScanBaudRate\"=hex(2):25,58,25,2c,65,00\r\n",
       {0, "%X%,e", 5, "English", 0}},
      {"REG_EXPAND_SZ of zero length", "\"ScanBaudRate\"=hex(2):\r\n", {0, "", 5, "English", 0}},
      {"text up to the first zero",
       "\"ScanBaudRate\"=hex(1):39,36,00,30,30,00\r\n",
       {0, "96", 5, "English", 0}},
      {"text across continued lines",
       "\"LanguageFlag\"=hex(1):43,68,69,6e,65,73,65,\\\r\n  47,42,00\r\n",
       {0, "19200,e,8,1", 5, "ChineseGB", 1}},
      {"multi-string is no text",
       "\"ScanCommNo\"=dword:2\r\n\"ScanBaudRate\"=hex(7):41,00,00\r\n",
       {2, "19200,e,8,1", 5, "English", 0}},
      {"names in other case, comments, escapes",
       "; a comment\r\n\"scancommno\"=DWORD:00000010\r\n  \"ScanBaudRate\" = \"a\\\\b\\\"c\"\r\n",
       {16, "a\\b\"c", 5, "English", 0}},
      {"last assignment wins",
       "\"ScanCommNo\"=dword:1\r\n\"ScanCommNo\"=dword:2\r\n",
       {2, "19200,e,8,1", 5, "English", 0}},
      {"removed value",
       "\"ScanCommNo\"=dword:1\r\n\"ScanCommNo\"=-\r\n\"ScanBaudRateNo\"=dword:2\r\n",
       {0, "19200,e,8,1", 2, "English", 0}},
      {"unknown lines ignored",
       "garbage here\r\n\"ScanCommNo\"=dword:6\r\n",
       {6, "19200,e,8,1", 5, "English", 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Store(kHeader + c.values);
    ExpectSettings(Load(), c.expected);
  }
}

TEST_F(RegFileTest, AcceptsLfAndCrlfAndAByteOrderMark) {
  const char* const texts[] = {
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\KELTA\\ReaderConfig]\n\"ScanCommNo\"=dword:"
      "00000004\n",
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\KELTA\\ReaderConfig]\r\n\"ScanCommNo\"=dword:"
      "00000004",
      "\xEF\xBB\xBFREGEDIT4\r\n[hkey_local_machine\\software\\kelta\\readerconfig]"
      "\r\n\"ScanCommNo\"=dword:4\r\n",
  };
  for (const char* text : texts) {
    Store(text);
    EXPECT_EQ(Load().ScanCommNo, 4) << text;
  }
}

TEST_F(RegFileTest, ValuesOfAnotherKeyAreNotRead) {
  Store(kHeader +
        "[HKEY_LOCAL_MACHINE\\Software\\KELTA\\ReaderConfig\\Sub]\r\n\"ScanCommNo\"=dword:4\r\n" +
        "[HKEY_LOCAL_MACHINE\\Software\\KELTA\\Read\r\n\"ScanBaudRateNo\"=dword:4\r\n");
  ExpectSettings(Load(), Settings{});
}

TEST_F(RegFileTest, UnparsableFileGivesDefaultsAndIsKeptUntilASave) {
  const std::string texts[] = {
      "not a registry file\r\n",
      "Windows Registry Editor Version 5.00\r\n",
      std::string("REGEDIT4\r\n\0\r\n", 13),
      "REGEDIT4\r\n" + std::string(kMaxRegFileSize, ';'),
      "",
  };
  for (const std::string& text : texts) {
    Store(text);
    ExpectSettings(Load(), Settings{});
    EXPECT_EQ(ReadAll(file_), text);
  }
  Store("not a registry file\r\n");
  SaveLanguage(*MakeSystemSettingsStore(), Settings{0, "", 0, "ChineseGB", 1});
  EXPECT_EQ(Load().LanguageFlag, "ChineseGB");
  EXPECT_EQ(ReadAll(folder_ / "settings.reg.bad"), "not a registry file\r\n");
}

TEST_F(RegFileTest, WrittenTextsRoundTrip) {
  const std::string texts[] = {"C:\\a \"b\"", "two\r\nlines", std::string("nul\0inside", 10), "",
                               "\xB6\xC1\xBF\xA8"};
  for (const std::string& text : texts) {
    auto store = MakeSystemSettingsStore();
    ASSERT_TRUE(store->OpenKey(true));
    store->WriteString("ScanBaudRate", text);
    store->CloseKey();
    ASSERT_TRUE(store->OpenKey(false));
    EXPECT_EQ(store->ReadString("ScanBaudRate"), text.substr(0, text.find('\0')));
    EXPECT_THROW(store->ReadInteger("ScanBaudRate"), SettingsStoreError);
    EXPECT_THROW(store->ReadInteger("Missing"), SettingsStoreError);
    store->CloseKey();
  }
  // Bytes that are not ASCII go into the file as they are, as in an ANSI REGEDIT4 file.
  EXPECT_EQ(ReadAll(file_), kHeader + "\"ScanBaudRate\"=\"\xB6\xC1\xBF\xA8\"\r\n\r\n");
}

TEST_F(RegFileTest, ReadOnlyFileLoadsAndStaysUnchanged) {
  const std::string text = kHeader + "\"ScanCommNo\"=dword:00000003\r\n";
  Store(text);
  fs::permissions(file_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(Load().ScanCommNo, 3);
  EXPECT_FALSE(
      SaveLanguage(*MakeSystemSettingsStore(), Settings{7, "4800,n,8,1", 0, "ChineseGB", 1})
          .stored);
  EXPECT_EQ(ReadAll(file_), text);
  EXPECT_EQ(FilesInFolder(), 1);
}

// Each way a save can fail: it says why, and the file stays as it was.
TEST_F(RegFileTest, FailedSavesSayWhyAndLeaveTheFile) {
  struct Case {
    const char* error;  // a part of the reason
    std::function<void(RegFileTestHooks&, const fs::path& file)> make;
  };
  const auto fail_step = [](std::string_view failing, int error) {
    return [=](RegFileTestHooks& hooks, const fs::path&) {
      hooks.step = [=](std::string_view step) { return step == failing ? error : 0; };
    };
  };
  int held = -1;  // another program's hold on the lock file
  const Case cases[] = {
      {"settings.reg is read-only",
       [](RegFileTestHooks&, const fs::path& file) {
         fs::permissions(file, fs::perms::owner_read);
       }},
      {"cannot create the lock file", fail_step("lock", EROFS)},
      {"cannot create a file beside", fail_step("create", EACCES)},
      {"cannot sync", fail_step("sync", EIO)},
      {"cannot replace", fail_step("rename", EXDEV)},
      {"still locked by another program",
       [&](RegFileTestHooks& hooks, const fs::path& file) {
         hooks.lock_wait_ms = 0;
         held = ::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
         ASSERT_EQ(::flock(held, LOCK_EX), 0);
       }},
  };
  const std::string text = kHeader + "\"ScanCommNo\"=dword:00000003\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    Store(text);
    RegFileTestHooks hooks;
    c.make(hooks, file_);
    const SaveResult result =
        SaveScanSettings(*MakeRegFileStore(file_.string(), hooks), Settings{7, "", 0, "", 0});
    EXPECT_FALSE(result.stored);
    EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    EXPECT_EQ(ReadAll(file_), text);
    EXPECT_EQ(Load().ScanCommNo, 3);
    EXPECT_EQ(FilesInFolder(), 1);
    fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write);
    if (held >= 0) ::close(std::exchange(held, -1));
  }
}

// A power cut after the rename must find the new file's bytes on the disk.
TEST_F(RegFileTest, SaveSyncsTheNewFileBeforeTheRename) {
  std::vector<std::string> steps;
  RegFileTestHooks hooks;
  hooks.step = [&](std::string_view step) {
    steps.emplace_back(step);
    return 0;
  };
  EXPECT_TRUE(SaveLanguage(*MakeRegFileStore(file_.string(), hooks), Settings{}).stored);
  const auto at = [&](const char* step) { return std::find(steps.begin(), steps.end(), step); };
  EXPECT_LT(at("write"), at("sync"));
  EXPECT_LT(at("sync"), at("rename"));
  EXPECT_NE(at("rename"), steps.end());
}

// Two copies of the program saving at the same time, over and over: every value either
// of them stored is still there at the end.
TEST_F(RegFileTest, TwoStoresSavingAtOnceKeepEachOthersValues) {
  constexpr int kSaves = 40;
  const auto writer = [&](const std::string& prefix) {
    auto store = MakeSystemSettingsStore();
    for (int i = 0; i < kSaves; ++i) {
      ASSERT_TRUE(store->OpenKey(true));
      store->WriteInteger(prefix + std::to_string(i), i);
      store->CloseKey();
    }
  };
  std::thread first(writer, "A");
  std::thread second(writer, "B");
  first.join();
  second.join();
  auto store = MakeSystemSettingsStore();
  ASSERT_TRUE(store->OpenKey(false));
  for (int i = 0; i < kSaves; ++i) {
    EXPECT_TRUE(store->ValueExists("A" + std::to_string(i))) << i;
    EXPECT_TRUE(store->ValueExists("B" + std::to_string(i))) << i;
  }
}

TEST_F(RegFileTest, FolderInPlaceOfTheFileIsRefused) {
  fs::create_directories(file_);
  ExpectSettings(Load(), Settings{});
  SaveLanguage(*MakeSystemSettingsStore(), Settings{0, "", 0, "ChineseGB", 1});
  EXPECT_TRUE(fs::is_directory(file_));
}

TEST_F(RegFileTest, SaveIntoAFolderThatCannotBeWrittenLeavesTheOldFile) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "root writes into any folder; the full-disk test covers the failed save";
  }
  const std::string text = kHeader + "\"ScanCommNo\"=dword:00000003\r\n";
  Store(text);
  fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
  const SaveResult result =
      SaveScanSettings(*MakeSystemSettingsStore(), Settings{7, "4800,n,8,1", 0, "English", 0});
  EXPECT_NE(result.error.find("Permission denied"), std::string::npos) << result.error;
  EXPECT_EQ(ReadAll(file_), text);
  EXPECT_EQ(Load().ScanCommNo, 3);
}

TEST_F(RegFileTest, FullDiskLeavesTheOldFileWhole) {
  const std::string text = kHeader + "\"ScanCommNo\"=dword:00000003\r\n";
  for (const std::size_t space : {std::size_t{0}, std::size_t{20}, text.size()}) {
    Store(text);
    RegFileTestHooks hooks;
    hooks.disk_space = space;
    auto store = MakeRegFileStore(file_.string(), hooks);
    SaveScanSettings(*store, Settings{7, "4800,n,8,1", 0, "English", 0});
    EXPECT_EQ(ReadAll(file_), text) << space;
    EXPECT_EQ(FilesInFolder(), 1) << space;
  }
}

TEST_F(RegFileTest, CrashBeforeTheRenameLeavesTheOldFileWhole) {
  // "fast" forks right here, so the child saves onto this test's own file.
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::string text = kHeader + "\"ScanCommNo\"=dword:00000003\r\n";
  Store(text);
  RegFileTestHooks hooks;
  hooks.before_rename = [] { std::_Exit(3); };
  auto store = MakeRegFileStore(file_.string(), hooks);
  EXPECT_EXIT(SaveScanSettings(*store, Settings{7, "4800,n,8,1", 0, "English", 0}),
              ::testing::ExitedWithCode(3), "");
  EXPECT_EQ(ReadAll(file_), text);
  EXPECT_EQ(Load().ScanCommNo, 3);
}

TEST_F(RegFileTest, SaveThroughASymbolicLinkKeepsTheLink) {
  const fs::path real = root_ / "dotfiles" / "settings.reg";
  fs::create_directories(real.parent_path());
  WriteAll(real, kHeader);
  fs::create_directories(folder_);
  fs::create_symlink(real, file_);
  SaveScanSettings(*MakeSystemSettingsStore(), Settings{3, "9600,e,8,1", 3, "English", 0});
  EXPECT_TRUE(fs::is_symlink(file_));
  EXPECT_EQ(ReadAll(real),
            kHeader +
                "\"ScanCommNo\"=dword:00000003\r\n\"ScanBaudRateNo\"=dword:00000003\r\n"
                "\"ScanBaudRate\"=\"9600,e,8,1\"\r\n");
}

// A link whose file does not exist yet is written through, as one whose file does; where
// even the file's folder is missing, the save says why and leaves the link.
TEST_F(RegFileTest, SaveThroughALinkToAMissingFileCreatesIt) {
  fs::create_directories(folder_);
  fs::create_directories(root_ / "dotfiles");
  const std::pair<const char*, bool> cases[] = {{"../../dotfiles/kelta.reg", true},
                                                {"../../nowhere/kelta.reg", false}};
  for (const auto& [target, stored] : cases) {
    SCOPED_TRACE(target);
    fs::remove(file_);
    fs::create_symlink(target, file_);
    const SaveResult result =
        SaveLanguage(*MakeSystemSettingsStore(), Settings{0, "", 0, "ChineseGB", 1});
    EXPECT_EQ(result.stored, stored) << result.error;
    EXPECT_EQ(result.error.empty(), stored) << result.error;
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_EQ(Load().LanguageFlag, stored ? "ChineseGB" : "English");
  }
  EXPECT_TRUE(fs::is_regular_file(root_ / "dotfiles" / "kelta.reg"));
}

TEST_F(RegFileTest, SaveKeepsWhatAnotherCopyStoredMeanwhile) {
  auto first = MakeSystemSettingsStore();
  ASSERT_TRUE(first->OpenKey(true));
  first->WriteString("LanguageFlag", "ChineseBIG5");
  SaveScanSettings(*MakeSystemSettingsStore(), Settings{3, "9600,e,8,1", 3, "English", 0});
  first->CloseKey();
  ExpectSettings(Load(), Settings{3, "9600,e,8,1", 3, "ChineseBIG5", 2});
}

TEST_F(RegFileTest, WritingANameInOtherCaseReplacesTheValue) {
  Store(kHeader + "\"scancommno\"=dword:00000001\r\n\"SCANCOMMNO\"=dword:00000002\r\n");
  SaveScanSettings(*MakeSystemSettingsStore(), Settings{3, "9600,e,8,1", 3, "English", 0});
  EXPECT_EQ(ReadAll(file_),
            kHeader +
                "\"ScanCommNo\"=dword:00000003\r\n\"ScanBaudRateNo\"=dword:00000003\r\n"
                "\"ScanBaudRate\"=\"9600,e,8,1\"\r\n");
}

// Lines that a hand edit or a cut left open, right where a save adds its values: every
// saved value reads back after the save, and the lines that were there stay as they were.
TEST_F(RegFileTest, SavedValuesSurviveLinesLeftOpenBeforeThem) {
  const std::string other = "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n";
  const std::string cases[] = {
      kHeader + "\"Blob\"=hex:00,01,\\",
      kHeader + "\"Blob\"=hex:00,01,\\ \\  \r\n",
      kHeader + "\"Blob\"=hex(2):41,\\\r\n  42,\\\r\n",
      "REGEDIT4\r\n" + other + "\"Blob\"=hex:00,\\\\\r\n",
      kHeader + "\"Comment\"=\"cut \\",
      kHeader + "\"ScanCommNo\"=dword:00000004",
      "\xEF\xBB\xBF" + kHeader + "\"LanguageFlag\"=hex:41,\\\n",
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\KELTA\\ReaderConfig",
  };
  const Settings saved{7, "57600,n,8,1", 8, "ChineseGB", 1};
  for (const std::string& text : cases) {
    SCOPED_TRACE(text);
    Store(text);
    SaveScanSettings(*MakeSystemSettingsStore(), saved);
    SaveLanguage(*MakeSystemSettingsStore(), saved);
    ExpectSettings(Load(), saved);
    const std::string after = ReadAll(file_).value_or("");
    std::istringstream lines(text.substr(text.rfind("REGEDIT4")));
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // The saved values' own lines are replaced.
      if (line.find("ScanCommNo") == std::string::npos &&
          line.find("LanguageFlag") == std::string::npos) {
        EXPECT_NE(after.find(line + "\r\n"), std::string::npos) << line;
      }
    }
  }
}

// Random bytes, a valid file cut at every length and a valid file with bytes flipped:
// nothing crashes, a file whose key cannot be found gives the defaults, and writing a
// file out and reading it again finds the same values.
TEST_F(RegFileTest, SurvivesRandomAndTruncatedFiles) {
  std::mt19937 random(20261208);
  const std::string valid = Golden("kept.reg") + Golden("language_saved.ref").substr(10);
  const char* const names[] = {"ScanCommNo", "ScanBaudRate", "ScanBaudRateNo", "LanguageFlag"};
  const auto check = [&](const std::string& text, bool through_file) {
    const std::optional<RegFile> file = RegFile::Parse(text);
    if (file) {
      const std::optional<RegFile> again = RegFile::Parse(file->Format());
      ASSERT_TRUE(again.has_value());
      for (const char* name : names) {
        RegValue a, b;
        ASSERT_EQ(file->Find(kSettingsKeyName, name, &a), again->Find(kSettingsKeyName, name, &b));
        EXPECT_EQ(a, b);
      }
    }
    if (through_file) {
      Store(text);
      const Settings settings = Load();
      if (!file || !file->HasKey(kSettingsKeyName)) {
        ExpectSettings(settings, Settings{});
      }
    }
  };
  for (std::size_t length = 0; length <= valid.size(); ++length) {
    check(valid.substr(0, length), length % 8 == 0);
  }
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    if (round % 2 == 0) {
      text = "REGEDIT4\r\n";
      const int size = byte(random) * 2;
      for (int i = 0; i < size; ++i) {
        // Mostly the characters the syntax is made of, so lines get far into the parser.
        static constexpr char kAlphabet[] = "[]\"\\=@-:,;() \r\nhexdwordHKEY0123456789abcdef";
        text += byte(random) < 200 ? kAlphabet[byte(random) % (sizeof kAlphabet - 1)]
                                   : static_cast<char>(byte(random));
      }
    } else {
      text = valid;
      for (int flips = byte(random) % 8 + 1; flips > 0; --flips) {
        text[static_cast<std::size_t>(byte(random) * 997 + byte(random)) % text.size()] =
            static_cast<char>(byte(random));
      }
    }
    check(text, round % 10 == 0);
  }
}

}  // namespace
}  // namespace kelta
