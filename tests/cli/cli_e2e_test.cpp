// qm880ctl as a user runs it: the program against qm880-sim on a pseudo-terminal, in a
// configuration folder of the test's own, checked by its exit code, its output and the
// frames on the simulator's trace. The other fifteen ports lead to a missing device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/config_dir.h"
#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "settings/settings.h"
#include "sim/sim_process.h"
#include "tests/cli/sim_folder_test.h"
#include "tests/platform/holder_process.h"

namespace kelta {
namespace {

namespace fs = std::filesystem;

constexpr int kPort = 3;

// Names a parameterised case after its `name` field.
struct CaseName {
  template <class Param>
  std::string operator()(const testing::TestParamInfo<Param>& p) const {
    return p.param.name;
  }
};

class Cli : public SimFolderTest {
 protected:
  void StartSim(Strings options = {}) {
    options.insert(options.end(), {"--serial", "QM880042", "--id", "07", "--log", Log()});
    StartSimOn(kPort, options);
  }
  std::string Log() const { return (home_ / "sim.log").string(); }
  Strings Heard() const { return HeardIn(Log()); }
  void Store(int port, int mode) {
    Settings s;
    s.ScanCommNo = port;
    s.ScanBaudRateNo = mode;
    s.ScanBaudRate = mode == 5 ? "19200,e,8,1" : "9600,n,8,1";
    SaveScanSettings(*MakeSystemSettingsStore(), s);
  }
};

struct CommandCase {
  const char* name;
  Strings args;
  Strings heard;
  std::string out;  // a line the output holds
};
void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class Commands : public Cli, public testing::WithParamInterface<CommandCase> {};

// Each command opens the stored place and sends what the window's button sends.
TEST_P(Commands, SendTheirFramesAtTheStoredPlace) {
  const CommandCase& c = GetParam();
  StartSim({"--tag", "000004D2"});
  Store(kPort, 5);

  const Result r = Run(c.args);

  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Heard(), c.heard);
  EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
}

const std::string kSetId = "A00CQM880042";
INSTANTIATE_TEST_SUITE_P(
    Cli, Commands,
    testing::Values(
        CommandCase{"Scan", {"scan"}, {"A00B", "A00V"}, "S/N : QM880042\nID : 07\nVER : V2.10.04"},
        CommandCase{"Info",
                    {"info", "--lang", "big5"},
                    {"A00B", "A00V"},
                    "讀取讀卡機資訊完成. (串口 : #3)"},
        CommandCase{"SetId", {"set-id", "42"}, {"A00B", kSetId + "42"}, "Set Reader ID Ok"},
        CommandCase{
            "SetBaud", {"set-baud", "9600,e,8,1"}, {"A00B", "A00E3"}, "Set Reader BaudRate Ok"},
        CommandCase{"SetOutput",
                    {"set-output", "--wiegand", "34", "--rs485", "64"},
                    {"A00B", "A00L31"},
                    "Set Reader Mode Ok"},
        CommandCase{"SetRssi", {"set-rssi", "250"}, {"A00B", "A00OFA"}, "Set Reader ID Ok"},
        CommandCase{"SetAddress", {"set-address", "255"}, {"A00B", "A00W0601FF"}, "Set Address Ok"},
        CommandCase{"SetFrequency", {"set-frequency", "59"}, {"A00B", "A00W0F013B"}, "Set Freq Ok"},
        CommandCase{"SetChannel", {"set-channel", "0"}, {"A00B", "A00W0B0100"}, "Set Channel Ok"},
        CommandCase{"FactoryDefault", {"factory-default"}, {"A00B", "A00X5A"}, "Set Default Ok"},
        CommandCase{"Reset", {"reset"}, {"A00HR"}, "Reader Reset Ok"},
        CommandCase{"ReadTags",
                    {"read-tags", "--count", "2", "--format", "csv"},
                    {"A00F", "A00F"},
                    "time,tag,value\n"}),
    CaseName());

TEST_F(Cli, ScanStoresThePlaceFoundUnlessToldNotTo) {
  StartSim({"--mode", "2"});
  EXPECT_EQ(Run({"--no-store", "scan", "--all-modes"}).code, 0);
  EXPECT_EQ(Stored().ScanCommNo, 0);

  const Result r = Run({"scan", "--all-modes", "--json"});

  EXPECT_EQ(r.code, 0) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["port"], kPort);
  EXPECT_EQ(doc["mode"], "9600,n,8,1");
  EXPECT_EQ(doc["serial"], "QM880042");
  EXPECT_EQ(doc["stored"], true);
  const Settings s = Stored();
  EXPECT_EQ(s.ScanCommNo, kPort);
  EXPECT_EQ(s.ScanBaudRateNo, 2);
  EXPECT_EQ(s.ScanBaudRate, "9600,n,8,1");
}

TEST_F(Cli, AnAcceptedBaudRateIsStoredForTheNextRun) {
  StartSim();
  Store(kPort, 5);
  ASSERT_EQ(Run({"set-baud", "2"}).code, 0);
  EXPECT_EQ(Stored().ScanBaudRate, "9600,n,8,1");
  EXPECT_EQ(Run({"info"}).code, 0);
}

// Settings in a folder the user may only read (a locked-down or read-only home): they
// load, and a command that has to store says it could not, with its own exit code. Root
// may write anything, so as root the program runs as nobody.
TEST_F(Cli, ReadOnlySettingsLoadAndAFailedSaveIsReported) {
  StartSim();
  Store(kPort, 2);  // the reader is in mode 5: a scan finds it by walking, and stores that
  const bool root = geteuid() == 0;
  const uid_t user = root ? 65534 : static_cast<uid_t>(-1);
  const fs::path folder = ConfigDir();
  if (root) {
    for (const fs::path& dir : {home_, home_ / "KELTA", folder, folder / "ports"}) {
      ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    }
    ASSERT_EQ(chmod(fs::read_symlink(folder / "ports/com3").c_str(), 0666), 0);
  }
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  const std::string before = ReadFile(folder / "settings.reg");

  EXPECT_EQ(Run({"info", "--mode", "5"}, user).code, 0);
  Result r = Run({"scan", "--all-modes"}, user);
  EXPECT_EQ(r.code, 5) << r.err;
  EXPECT_NE(r.err.find("qm880ctl: not stored: "), std::string::npos) << r.err;
  r = Run({"--json", "--mode", "5", "set-baud", "5"}, user);
  EXPECT_EQ(r.code, 5) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["stored"], false);
  EXPECT_EQ(doc["exit_code"], 5);
  EXPECT_NE(doc["store_error"].get<std::string>().find("ReaderConfig/settings.reg"),
            std::string::npos);
  // scan --every stores a lone reader's place by the same rule.
  r = Run({"scan", "--every", "--mode", "5"}, user);
  EXPECT_EQ(r.code, 5) << r.err;
  EXPECT_NE(r.err.find("qm880ctl: not stored: "), std::string::npos) << r.err;
  r = Run({"--json", "scan", "--every", "--mode", "5"}, user);
  EXPECT_EQ(r.code, 5) << r.err;
  const auto list = nlohmann::json::parse(r.out);
  ASSERT_EQ(list.size(), 1u) << r.out;
  EXPECT_EQ(list[0]["stored"], false);
  EXPECT_NE(list[0]["store_error"].get<std::string>().find("settings.reg"), std::string::npos);
  EXPECT_EQ(ReadFile(folder / "settings.reg"), before);
  chmod(folder.c_str(), 0755);
}

// A walk at once that gets no thread (the process limit) says why and ends with 70.
TEST_F(Cli, AWalkWithoutThreadsEndsWithItsReason) {
  StartSim();
  const Result r = Run({"scan", "--every"}, geteuid() == 0 ? 65534 : static_cast<uid_t>(-1), 1);
  EXPECT_EQ(r.code, 70) << r.err;
  EXPECT_NE(r.err.find("qm880ctl: the walk could not go on: "), std::string::npos) << r.err;
}

class Interrupted : public Cli, public testing::WithParamInterface<int> {};

TEST_P(Interrupted, ReadingEndsAfterTheCycleUnderWayWithTheSummaryAndThePortClosed) {
  StartSim({"--tag", "000004D2"});
  Store(kPort, 5);
  const pid_t pid = Start({"--trace", "read-tags"});
  const auto polls_heard = [&] {
    const Strings heard = Heard();
    return std::count(heard.begin(), heard.end(), "A00F");
  };
  for (int i = 0; i < 500 && polls_heard() < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, GetParam());
  const Result r = Wait(pid);

  EXPECT_EQ(r.code, 0) << r.err;
  const auto polls = polls_heard();
  EXPECT_GE(polls, 3);
  // Every poll sent was answered and counted: none was cut short.
  EXPECT_NE(r.err.find("polls " + std::to_string(polls) + ", replies " + std::to_string(polls)),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("000004D2"), std::string::npos);
  const auto last_reply = r.err.rfind(" <- ");
  const auto close = r.err.rfind("-- close COM3");
  EXPECT_NE(close, std::string::npos);
  EXPECT_GT(close, last_reply);
}

INSTANTIATE_TEST_SUITE_P(Cli, Interrupted, testing::Values(SIGINT, SIGTERM));

struct UsageCase {
  const char* name;
  Strings args;
  std::string message;
};
void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class Usage : public Cli, public testing::WithParamInterface<UsageCase> {};

TEST_P(Usage, ErrorsNameTheArgumentAndTouchNoPort) {
  StartSim();
  Store(kPort, 5);
  const Result r = Run(GetParam().args);
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
  EXPECT_TRUE(Heard().empty());
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cli, Usage,
    testing::Values(
        UsageCase{"IdZero", {"set-id", "0"}, "ID: must be a whole number from 1 to 99, got \"0\""},
        UsageCase{"Id100", {"set-id", "100"}, "ID: must be a whole number from 1 to 99"},
        UsageCase{"Rssi251", {"set-rssi", "251"}, "LEVEL: must be a whole number from 0 to 250"},
        UsageCase{"Baud14400", {"set-baud", "14400,n,8,1"}, "MODE: must be one of 4800,n,8,1"},
        UsageCase{"Wiegand30",
                  {"set-output", "--wiegand", "30", "--rs485", "24"},
                  "--wiegand: must be 26, 34 or 42, got \"30\""},
        UsageCase{"Port0", {"--port", "0", "scan"}, "--port: must be a whole number from 1 to 255"},
        UsageCase{
            "Format", {"read-tags", "--format", "xml"}, "--format: must be text, csv or jsonl"},
        UsageCase{"NoCommand", {"--json"}, "a command is required"},
        UsageCase{"JsonReconnect",
                  {"--json", "read-tags", "--reconnect"},
                  "--json keeps every read until reading ends"},
        UsageCase{"EveryWithPort",
                  {"--port", "3", "scan", "--every"},
                  "--port: scan --every walks every port"},
        UsageCase{"TwoDevices",
                  {"--device", "/tmp/a", "--device", "/tmp/b", "info"},
                  "--device: only scan --every takes more than one device"}),
    CaseName());

struct ExplainCase {
  const char* name;
  Strings sim;  // empty: the port leads to no device
  Strings args;
  int code;
  std::string explained;
};
void PrintTo(const ExplainCase& c, std::ostream* os) { *os << c.name; }

class Explain : public Cli, public testing::WithParamInterface<ExplainCase> {};

TEST_P(Explain, SaysWhatHappenedAtThePort) {
  const ExplainCase& c = GetParam();
  if (c.sim.empty()) {
    LinkPort(kPort, "/nonexistent/tty");
  } else {
    StartSim(c.sim);
  }
  Strings args = {"--port", "3", "--no-store", "scan", "--explain"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const Result r = Run(args);
  EXPECT_EQ(r.code, c.code) << r.err;
  EXPECT_NE(r.out.find(c.explained), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, Explain,
    testing::Values(
        ExplainCase{"NoDevice", {}, {}, 4, "COM3 (/nonexistent/tty): no such device"},
        // The stored place (here the port named) takes three tries, the walk two more.
        ExplainCase{"Silent", {"--no-answer"}, {}, 3, "19200,e,8,1   5 tries  silent"},
        ExplainCase{"OtherMode", {"--mode", "2"}, {}, 3, "19200,e,8,1   5 tries  silent"},
        ExplainCase{"OtherModeAllModes",
                    {"--mode", "2"},
                    {"--all-modes"},
                    0,
                    "9600,n,8,1    1 try   found"},
        ExplainCase{"WrongChecksum",
                    {"--bad-checksum"},
                    {},
                    3,
                    "no valid reply (wrong checksum): most likely another port mode or another "
                    "device"},
        ExplainCase{"WrongLength",
                    {"--length-delta", "-1"},
                    {},
                    3,
                    "wrong length: 15 bytes where the reader's are 16"},
        ExplainCase{"Found", {"--mode", "5"}, {}, 0, "19200,e,8,1   1 try   found"}),
    CaseName());

TEST_F(Cli, APortHeldByAnotherProcessIsExplainedWithItsHolder) {
  StartSim();
  // The holder has the port before the program starts: nothing else opens it meanwhile.
  test::HolderProcess holder([] { return SystemSerialDevice().Open(kPort) != kInvalidPortHandle; });
  ASSERT_TRUE(holder.Held());
  const Result r = Run({"--port", "3", "--no-store", "scan", "--explain"});
  const pid_t holder_pid = holder.Pid();
  holder.Release();

  EXPECT_EQ(r.code, 4);
  EXPECT_NE(r.out.find("held by process " + std::to_string(holder_pid) + " ("), std::string::npos)
      << r.out;
}

TEST_F(Cli, APortWithoutPermissionIsExplainedWithTheFix) {
  StartSim();
  const std::string device = fs::read_symlink(ConfigDir() + "/ports/com3").string();
  // Root may open anything: the program runs as nobody then; anybody else is locked out
  // by the mode bits alone.
  const bool root = geteuid() == 0;
  ASSERT_EQ(chmod(device.c_str(), 0600), 0);
  if (!root) {
    ASSERT_EQ(chmod(device.c_str(), 0), 0);
  }

  const Result r = Run({"--device", device, "--no-store", "scan", "--explain"}, root ? 65534 : -1);

  EXPECT_EQ(r.code, 4) << r.err;
  EXPECT_NE(r.out.find(device + ": permission denied; fix: sudo usermod -aG"), std::string::npos)
      << r.out;
}

TEST_F(Cli, PortsTellsWhereEachPortLeadsAndWhoHasItOpen) {
  StartSim();
  const Result r = Run({"ports", "--json"});
  ASSERT_EQ(r.code, 0);
  const auto ports = nlohmann::json::parse(r.out)["ports"];
  ASSERT_GE(ports.size(), 16u);
  const auto& com1 = ports[0];
  EXPECT_EQ(com1["port"], 1);
  EXPECT_EQ(com1["device"], "/nonexistent/tty");
  EXPECT_EQ(com1["exists"], false);
  const auto& com3 = ports[2];
  EXPECT_EQ(com3["device"], fs::read_symlink(ConfigDir() + "/ports/com3").string());
  EXPECT_EQ(com3["exists"], true);
  EXPECT_EQ(com3["linked"], true);
  // The simulator keeps only the master: its port is free for the program.
  EXPECT_EQ(com3["holders"].size(), 0u);
  EXPECT_EQ(com3["busy"], false);
}

TEST_F(Cli, NoReaderAtTheStoredPlaceOrNoPlaceAtAll) {
  StartSim({"--no-answer"});
  EXPECT_EQ(Run({"info"}).code, 3);  // nothing stored
  EXPECT_TRUE(Heard().empty());
  Store(kPort, 5);
  const Result r = Run({"--json", "set-id", "5"});
  EXPECT_EQ(r.code, 3);
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["exit_code"], 3);
  EXPECT_EQ(doc["accepted"], false);
  EXPECT_EQ(Heard(), Strings(3, "A00B"));
}

struct LostCase {
  const char* name;
  bool by_device;  // --device the pty rather than the stored COM3
};
void PrintTo(const LostCase& c, std::ostream* os) { *os << c.name; }

class PortLost : public Cli, public testing::WithParamInterface<LostCase> {};

// The simulator killed outright, as a converter pulled out: reading ends on the poll that
// met the hang-up, with exit 4, the port named and the summary of what was read.
TEST_P(PortLost, ReadingEndsAtOnceWithTheSummary) {
  StartSim({"--tag", "000004D2"});
  const std::string device = fs::read_symlink(ConfigDir() + "/ports/com3").string();
  Strings args = {"read-tags"};
  std::string place = "COM3 (" + device + ")";
  if (GetParam().by_device) {
    LinkPort(kPort, "/nonexistent/tty");  // the pty is then none of COM1 to COM16
    args = {"--device", device, "--mode", "5", "read-tags"};
    place = device;
  } else {
    Store(kPort, 5);
  }
  const pid_t pid = Start(args);
  const auto polls_heard = [&] {
    const Strings heard = Heard();
    return std::count(heard.begin(), heard.end(), "A00F");
  };
  for (int i = 0; i < 500 && polls_heard() < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(Sim().Pid(), SIGKILL);
  const long heard = polls_heard();
  const Result r = Wait(pid);

  EXPECT_EQ(r.code, 4) << r.err;
  EXPECT_NE(r.err.find("qm880ctl: " + place + " was lost: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("converter removed, cable pulled, device gone"), std::string::npos);
  // At most the poll under way when it hung up and the one that met the hang-up: reading
  // did not go on polling the dead port.
  const auto at = r.err.find("read-tags: polls ");
  ASSERT_NE(at, std::string::npos) << r.err;
  const long polls = std::stol(r.err.substr(at + 17));
  EXPECT_GE(polls, heard);
  EXPECT_LE(polls, heard + 2);
}

INSTANTIATE_TEST_SUITE_P(Cli, PortLost,
                         testing::Values(LostCase{"StoredPort", false}, LostCase{"Device", true}),
                         CaseName());

TEST_F(Cli, ReadingWithoutAnyReplyMeansNoReader) {
  StartSim({"--no-answer"});
  Store(kPort, 5);
  const Result r = Run({"read-tags", "--seconds", "0.5", "--json"});
  EXPECT_EQ(r.code, 3) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_GT(doc["polls"], 0);
  EXPECT_EQ(doc["replies"], 0);
  EXPECT_EQ(doc["port_lost"], false);
  EXPECT_NE(doc["error"].get<std::string>().find("no reader answered at COM3"), std::string::npos);
}

// A device given by path is named by it, also where the window's message has a number.
TEST_F(Cli, ADeviceIsNamedByItsPath) {
  const std::string missing = (home_ / "no-such-tty").string();
  const Result r = Run({"--device", missing, "--no-store", "read-tags"});
  EXPECT_EQ(r.code, 4);
  EXPECT_NE(r.err.find("Open COM : " + missing + " Error"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("255"), std::string::npos) << r.err;
}

// A device another process has open is left alone, and the message says who has it; the
// simulator's own pty side is not such a holder.
TEST_F(Cli, ADeviceOpenInAnotherProcessIsLeftAlone) {
  StartSim();
  const std::string device = fs::read_symlink(ConfigDir() + "/ports/com3").string();
  ASSERT_EQ(Run({"--device", device, "--no-store", "info"}).code, 0);
  const int held = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);

  const Result r = Run({"--device", device, "--no-store", "info"});
  const Result explained = Run({"--port", "3", "--no-store", "scan", "--explain"});
  close(held);

  EXPECT_EQ(r.code, 4);
  const std::string holder = "held by process " + std::to_string(getpid()) + " (";
  EXPECT_NE(r.err.find(holder), std::string::npos) << r.err;
  EXPECT_EQ(explained.code, 4);
  EXPECT_NE(explained.out.find(holder), std::string::npos) << explained.out;
  EXPECT_TRUE(Heard().size() == 2) << "only the first run reached the reader";
}

}  // namespace
}  // namespace kelta
