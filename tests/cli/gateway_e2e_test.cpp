// qm880ctl on a gateway: several readers on several ports, against qm880-sim processes in a
// configuration folder of the test's own (the ports without a simulator lead nowhere).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/settings_store.h"
#include "settings/settings.h"
#include "sim/sim_process.h"
#include "tests/cli/sim_folder_test.h"

namespace kelta {
namespace {

namespace fs = std::filesystem;

class Gateway : public SimFolderTest {
 protected:
  // qm880ctl with `args`, words split at spaces.
  Result Run(const std::string& args) {
    Strings words;
    std::istringstream in(args);
    for (std::string word; in >> word;) words.push_back(word);
    return SimFolderTest::Run(words);
  }
};

struct EveryCase {
  const char* name;
  // Port and mode; modes without parity, which a pseudo-terminal cannot tell from those with.
  std::vector<std::pair<int, int>> readers;
  int stored_port;  // 0: nothing stored
  int code;
};
void PrintTo(const EveryCase& c, std::ostream* os) { *os << c.name; }

class ScanEvery : public Gateway, public testing::WithParamInterface<EveryCase> {};

TEST_P(ScanEvery, ReportsEveryReaderAndStoresOnlyALoneOne) {
  const EveryCase& c = GetParam();
  for (const auto& [port, mode] : c.readers) {
    StartSimOn(port,
               {"--mode", std::to_string(mode), "--serial", "QM88000" + std::to_string(port)});
  }

  const Result o = Run("--json scan --every --all-modes");

  EXPECT_EQ(o.code, c.code);
  const nlohmann::json list = nlohmann::json::parse(o.out);
  ASSERT_EQ(list.size(), c.readers.size()) << o.out;
  for (std::size_t i = 0; i < c.readers.size(); ++i) {
    EXPECT_EQ(list[i]["port"], c.readers[i].first);
    EXPECT_EQ(list[i]["mode_index"], c.readers[i].second);
    EXPECT_EQ(list[i]["serial"], "QM88000" + std::to_string(c.readers[i].first));
    EXPECT_EQ(list[i]["version"], "V2.10.04");
    EXPECT_EQ(list[i]["stored"], c.stored_port == c.readers[i].first);
  }
  EXPECT_EQ(Stored().ScanCommNo, c.stored_port);
}

INSTANTIATE_TEST_SUITE_P(Cli, ScanEvery,
                         testing::Values(EveryCase{"None", {}, 0, 3},
                                         EveryCase{"One", {{4, 2}}, 4, 0},
                                         EveryCase{"TwoInDifferentModes", {{2, 8}, {9, 0}}, 0, 0}),
                         testing::PrintToStringParamName());

// A pseudo-terminal whose other side the test holds: a device that is not a reader.
class OtherDevice {
 public:
  OtherDevice() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) name_ = ptsname(master_);
  }
  ~OtherDevice() { close(master_); }
  OtherDevice(const OtherDevice&) = delete;
  OtherDevice& operator=(const OtherDevice&) = delete;
  const std::string& Name() const { return name_; }
  bool GotBytes() const {
    char byte = 0;
    return read(master_, &byte, 1) == 1;
  }

 private:
  int master_;
  std::string name_;
};

struct NameCase {
  const char* name;
  std::string args;  // PTY stands for COM4's device
  bool second_name;  // COM2 leads to COM4's device too
  int port;          // where the reader is reported and stored
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class DeviceNames : public Gateway, public testing::WithParamInterface<NameCase> {};

// A --device that is COM4's device is COM4; one device reached as COM2 and as COM4 is
// walked once, under COM2, and --explain says so. A device on a port beyond the reader
// gets no frame from plain scan, which walks one port after another; --every probes it.
TEST_P(DeviceNames, OneDeviceIsOnePortAndPlainScanStopsAtTheReader) {
  const NameCase& c = GetParam();
  StartSimOn(4, {"--serial", "QM880004"});
  const fs::path pty = fs::read_symlink(home_ / "KELTA/ReaderConfig/ports/com4");
  if (c.second_name) LinkPort(2, pty);
  OtherDevice later;
  LinkPort(9, later.Name());
  std::string args = c.args;
  if (const auto at = args.find("PTY"); at != std::string::npos) args.replace(at, 3, pty);

  const Result o = Run("--json " + args + " --explain");

  ASSERT_EQ(o.code, 0) << o.out;
  const nlohmann::json doc = nlohmann::json::parse(o.out);
  const nlohmann::json ports = doc.is_array() ? doc : doc["explain"];
  const bool every = doc.is_array();
  int readers = every ? 0 : 1, same = 0;
  nlohmann::json port = every ? nlohmann::json() : doc["port"];
  for (const auto& p : ports) {
    if (p.value("found", false)) ++readers, port = p["port"];
    same += p.value("same_device_as", 0) == 2 && p["port"] == 4 ? 1 : 0;
  }
  EXPECT_EQ(readers, 1) << o.out;
  EXPECT_EQ(port, c.port) << o.out;
  EXPECT_EQ(same, c.second_name ? 1 : 0) << o.out;
  EXPECT_EQ(Stored().ScanCommNo, c.port);
  EXPECT_EQ(later.GotBytes(), every) << "COM9";
}

INSTANTIATE_TEST_SUITE_P(Cli, DeviceNames,
                         testing::Values(NameCase{"DeviceOfAPort", "--device PTY scan", false, 4},
                                         NameCase{"DeviceOfAPortAtOnce",
                                                  "scan --every --device PTY", false, 4},
                                         NameCase{"TwoNames", "scan", true, 2},
                                         NameCase{"TwoNamesAtOnce", "scan --every", true, 2}),
                         testing::PrintToStringParamName());

// Ctrl+C during scan --every: the array a finished run gives, with the reader found so
// far (a silent port is still being walked), nothing stored, exit code 130.
TEST_F(Gateway, AnInterruptedScanEveryListsWhatItFound) {
  StartSimOn(4, {"--mode", "0", "--log", (home_ / "sim.log").string()});
  OtherDevice silent;
  LinkPort(9, silent.Name());
  const fs::path out = home_ / "out";
  const pid_t pid = fork();
  if (pid == 0) {
    if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen("/dev/null", "w", stderr)) {
      _exit(97);
    }
    execl(KELTA_QM880CTL, KELTA_QM880CTL, "--json", "scan", "--every", "--all-modes", nullptr);
    _exit(98);
  }
  ASSERT_TRUE(AwaitLines(home_ / "sim.log", [](const auto& l) { return Count(l, "A00V") > 0; }));
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);

  EXPECT_EQ(WEXITSTATUS(status), 130);
  std::string text;
  for (const std::string& line : LinesOf(out)) text += line;
  const nlohmann::json list = nlohmann::json::parse(text);
  ASSERT_EQ(list.size(), 1u) << text;
  EXPECT_EQ(list[0]["port"], 4);
  EXPECT_EQ(list[0]["stored"], false);
  EXPECT_EQ(Stored().ScanCommNo, 0);
}

// The simulator killed (a converter pulled out) and another started on the same by-id link
// while tags are read: reading goes on, the loss, the return and the other reader as events
// in order among the tag lines, none lost or doubled, and Ctrl+C ends it with the summary.
TEST_F(Gateway, ReadingWithReconnectSurvivesTheSimulatorKilledAndStartedAgain) {
  constexpr int kPort = 3;
  const fs::path by_id = home_ / "by-id/usb-KELTA_QM880+#=@\xC3\xBC-if00";
  LinkPort(kPort, by_id);
  const auto start = [&](const char* serial) {
    sims_.push_back(std::make_unique<SimProcess>(
        by_id, std::vector<std::string>{"--tag", "000004D2", "--serial", serial}));
    ASSERT_TRUE(sims_.back()->Ready());
  };
  start("QM880001");
  const fs::path out = home_ / "out";
  const fs::path err = home_ / "err";
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    execl(KELTA_QM880CTL, KELTA_QM880CTL, "--port", "3", "--no-store", "read-tags", "--reconnect",
          "--silence", "60", "--format", "jsonl", nullptr);
    _exit(98);
  }
  const auto tags = [](const std::vector<std::string>& lines) { return Count(lines, "\"tag\""); };
  ASSERT_TRUE(AwaitLines(out, [&](const auto& lines) { return tags(lines) >= 3; }));
  kill(sims_.back()->Pid(), SIGKILL);
  sims_.clear();
  ASSERT_TRUE(AwaitLines(out, [](const auto& lines) { return Count(lines, "\"lost\"") == 1; }));
  start("QM880002");
  ASSERT_TRUE(AwaitLines(out, [&](const auto& lines) {
    return Count(lines, "\"resumed\"") == 1 &&
           tags(std::vector<std::string>(
               std::find_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("resumed") != l.npos; }),
               lines.end())) >= 3;
  }));
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);

  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::vector<std::string> lines = LinesOf(out);
  std::vector<std::string> kinds;
  std::string last_time;
  for (const std::string& line : lines) {
    const nlohmann::json j = nlohmann::json::parse(line);
    const std::string kind = j.contains("event") ? j["event"].get<std::string>() : "tag";
    // The reason of the wait, where the first try came before the simulator was back.
    if (kind != "waiting" && (kinds.empty() || kinds.back() != kind)) kinds.push_back(kind);
    if (j.contains("event")) {
      EXPECT_EQ(j["device"], by_id.string()) << line;
      // The hang-up itself, not a minute of silence.
      EXPECT_TRUE(kind != "lost" || j["reason"] == "lost") << line;
    } else {
      EXPECT_GT(j["time"].get<std::string>(), last_time) << line;  // none written twice
      last_time = j["time"];
    }
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"tag", "lost", "resumed", "replaced", "tag"}));
  // Every tag heard has its line: the summary counts as many.
  std::stringstream summary;
  summary << std::ifstream(err).rdbuf();
  EXPECT_NE(summary.str().find("tags " + std::to_string(tags(lines)) + " "), std::string::npos)
      << summary.str();
}

}  // namespace
}  // namespace kelta
