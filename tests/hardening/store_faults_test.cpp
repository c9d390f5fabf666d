// Settings files the existing store tests leave out: things in the file's place that are
// not files (an endless device, a FIFO nobody writes, a socket), and a file far past the
// size bound that would take the disk's time to read. Each load gives the defaults and
// returns; a save leaves a thing that is not a file as it was, and moves the file that
// is too large aside whole before it writes a new one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/config_dir.h"
#include "platform/settings_regfile.h"
#include "platform/settings_store.h"
#include "settings/settings.h"

namespace kelta {
namespace {

namespace fs = std::filesystem;

struct InPlace {
  const char* name;
  std::function<void(const fs::path&)> make;
  std::function<bool(const fs::path&)> after_save;
};

const InPlace kCases[] = {
    {"LinkToAnEndlessDevice", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
     [](const fs::path& p) { return fs::is_symlink(p) && fs::read_symlink(p) == "/dev/zero"; }},
    {"FifoWithoutAWriter", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
     [](const fs::path& p) { return fs::is_fifo(p); }},
    {"Socket",
     [](const fs::path& p) {
       const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
       sockaddr_un addr{};
       addr.sun_family = AF_UNIX;
       ASSERT_LT(p.string().size(), sizeof addr.sun_path);
       p.string().copy(addr.sun_path, sizeof addr.sun_path - 1);
       ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
       ::close(s);
     },
     [](const fs::path& p) { return fs::is_socket(p); }},
    // Sparse: it costs no disk, but a reader that trusted its size would read 4 GiB.
    {"FourGiBFile",
     [](const fs::path& p) {
       const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT, 0600);
       ASSERT_GE(fd, 0);
       ASSERT_EQ(::ftruncate(fd, off_t{1} << 32), 0);
       ::close(fd);
     },
     [](const fs::path& p) {
       Settings again;
       LoadSettings(*MakeSystemSettingsStore(), again);
       const fs::path bad = p.string() + ".bad";
       return fs::is_regular_file(bad) && fs::file_size(bad) == (1ull << 32) &&
              again.ScanCommNo == 7 && again.LanguageFlag == "ChineseGB";
     }},
};

class ThingInPlaceOfTheFile : public testing::TestWithParam<InPlace> {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kelta-store-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    file_ = fs::path(ConfigDir()) / "settings.reg";
    fs::create_directories(file_.parent_path());
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  fs::path root_, file_;
};

TEST_P(ThingInPlaceOfTheFile, LoadGivesDefaultsAndSaveLeavesIt) {
  const InPlace& c = GetParam();
  c.make(file_);
  ASSERT_FALSE(HasFatalFailure());

  Settings loaded{9, "junk", 9, "junk", 2};
  LoadSettings(*MakeSystemSettingsStore(), loaded);
  const Settings defaults;
  EXPECT_EQ(loaded.ScanCommNo, defaults.ScanCommNo);
  EXPECT_EQ(loaded.ScanBaudRate, defaults.ScanBaudRate);
  EXPECT_EQ(loaded.LanguageFlag, defaults.LanguageFlag);

  SaveScanSettings(*MakeSystemSettingsStore(), Settings{7, "4800,n,8,1", 0, "English", 0});
  SaveLanguage(*MakeSystemSettingsStore(), Settings{7, "4800,n,8,1", 0, "ChineseGB", 1});
  EXPECT_TRUE(c.after_save(file_));
}

INSTANTIATE_TEST_SUITE_P(Hardening, ThingInPlaceOfTheFile, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<InPlace>& p) { return p.param.name; });

}  // namespace
}  // namespace kelta
