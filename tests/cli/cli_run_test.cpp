// qm880ctl's commands run in the test's own process on the in-memory line and a virtual
// clock: what an interrupt at a given frame leads to, and documents that stay JSON
// whatever bytes the system hands over.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "platform/interrupt.h"
#include "platform/port_info.h"
#include "platform/settings_store.h"
#include "settings/settings.h"
#include "sim/sim_line.h"
#include "sim/sim_process.h"
#include "sim/virtual_clock.h"
#include "sim/write_hook.h"

namespace kelta {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Strings = std::vector<std::string>;

constexpr int kPort = 3;
const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

std::string Contents(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

class RunCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/kelta-cli-run.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    home_ = dir;
    setenv("XDG_CONFIG_HOME", dir, 1);
    // Each reply a little after the command, so that an interrupt meets the reply wait.
    line_.AttachReader(kPort, ReaderModel(ReaderSettings{}, {SimTag{0x4D2, 1}})).Faults().delay_ms =
        20;
  }
  void TearDown() override { fs::remove_all(home_); }

  // A user's Ctrl+C as the `nth` write beginning with `text` goes out; counts those writes.
  void InterruptAt(const std::string& text, int nth) {
    device_.on_write = [this, text, nth](std::string_view bytes) {
      if (bytes.starts_with(text) && ++seen_ == nth) raise(SIGINT);
    };
  }
  // Runs qm880ctl with `args` (on the system's ports with `system`); its standard output.
  std::string Run(Strings args, bool system = false) {
    args.insert(args.begin(), "qm880ctl");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    cli::CliOptions options;
    std::ostringstream help;
    EXPECT_FALSE(
        cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options, help, help));
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    code_ = system ? cli::RunCommand(options, out, err)
                   : cli::RunCommand(options, out, err, device_, clock_);
    err_ = Contents(err);
    return Contents(out);
  }

  fs::path home_;
  VirtualClock clock_{1000};
  SimLine line_{clock_};
  WriteHook device_{line_};
  int seen_ = 0;
  int code_ = -1;
  std::string err_;
};

struct InterruptCase {
  const char* name;
  Strings args;
  std::string at;  // the interrupt comes with the nth write beginning with this
  int nth;
  int sent;  // such writes in all
  int code;
  json expected;  // values the document has, by JSON pointer
  Strings heard;  // by the reader, in order
  int mode;       // the reader's mode, and the stored one, afterwards
};
void PrintTo(const InterruptCase& c, std::ostream* os) { *os << c.name; }

class Interrupts : public RunCommandTest, public testing::WithParamInterface<InterruptCase> {};

// A command that has gone out to the reader is completed (and stored) before the interrupt
// ends the program; anything else stops between exchanges. Either way --json says so.
TEST_P(Interrupts, EndAtTheRightPlaceWithADocument) {
  const InterruptCase& c = GetParam();
  InterruptAt(c.at, c.nth);

  const std::string out = Run(c.args);

  EXPECT_EQ(code_, c.code) << err_;
  const json doc = json::parse(out);
  EXPECT_EQ(doc["interrupted"], true) << out;
  for (const auto& [key, value] : c.expected.items()) {
    EXPECT_EQ(doc.value(json::json_pointer(key), json()), value) << key;
  }
  EXPECT_EQ(seen_, c.sent);
  EXPECT_EQ(line_.Commands(kPort), c.heard);
  EXPECT_FALSE(line_.IsOpen(kPort));
  EXPECT_EQ(line_.Reader(kPort)->Settings().mode_index, c.mode);
  Settings stored;
  LoadSettings(*MakeSystemSettingsStore(), stored);
  EXPECT_EQ(stored.ScanBaudRateNo, c.mode);
}

const Strings kAtPort = {"--json", "--port", "3", "--mode", "5"};
Strings AtPort(Strings args) {
  args.insert(args.begin(), kAtPort.begin(), kAtPort.end());
  return args;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cli, Interrupts, testing::Values(
    InterruptCase{"SetBaudSentIsCompletedAndStored", AtPort({"set-baud", "9600,n,8,1"}), "A00E",
                  1, 1, 130, {{"/accepted", true}, {"/stored", true}, {"/mode", "9600,n,8,1"}},
                  {"A00B", "A00E2"}, 2},
    InterruptCase{"ResetSentIsCompleted", AtPort({"reset"}), "A00HR", 1, 1, 130,
                  {{"/accepted", true}}, {"A00HR"}, 5},
    InterruptCase{"SetIdStopsBeforeItsCommand", AtPort({"set-id", "42"}), "A00B", 1, 1, 130,
                  {{"/accepted", false}}, {"A00B"}, 5},
    // COM1 and COM2 are missing; on COM3 the probes go out in modes other than the reader's,
    // so it hears none of them.
    InterruptCase{"WalkStopsBetweenExchanges", {"--json", "scan", "--all-modes"}, "A00B", 3, 3,
                  130, {{"/explain/2/opened", true}, {"/explain/2/modes/0/tries", 2},
                        {"/explain/2/modes/1", nullptr}}, {}, 5},
    // With --json the reads are kept for the document; the tag is counted where first heard.
    InterruptCase{"ReadingEndsWithItsSummary", AtPort({"read-tags"}), "A00F", 3, 3, 0,
                  {{"/polls", 3}, {"/reads/2/tag", "000004D2"}, {"/heard/0/count", 3}},
                  {"A00F", "A00F", "A00F"}, 5}),
    [](const testing::TestParamInfo<InterruptCase>& p) { return std::string(p.param.name); });
// clang-format on

// Writes blocked on a full pipe go on (SA_RESTART); the first interrupt sets the flag, and
// the second is left to the system, which ends the program.
TEST(Signals, RestartWritesAndLeaveTheSecondToTheSystem) {
  const auto disposition = [](int signal_number) {
    struct sigaction now {};
    sigaction(signal_number, nullptr, &now);
    return now;
  };
  CatchInterrupts();
  for (const int s : {SIGINT, SIGTERM}) {
    EXPECT_NE(disposition(s).sa_flags & SA_RESTART, 0) << s;
    EXPECT_NE(disposition(s).sa_handler, SIG_DFL) << s;
  }
  raise(SIGTERM);
  EXPECT_TRUE(Interrupted());
  for (const int s : {SIGINT, SIGTERM}) EXPECT_EQ(disposition(s).sa_handler, SIG_DFL) << s;
  CatchInterrupts();
  EXPECT_FALSE(Interrupted());
}

// The clock's milliseconds wrap at 2^32; a limit beyond that must not end reading early.
TEST_F(RunCommandTest, SecondsBeyondFortyNineDaysDoNotWrap) {
  const json doc = json::parse(Run(AtPort({"read-tags", "--seconds", "4294968", "--count", "30"})));
  EXPECT_EQ(code_, 0) << err_;
  EXPECT_EQ(doc["tags"], 30);
}

struct TextCase {
  const char* name;
  Strings args;
  int code;
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class InvalidText : public RunCommandTest, public testing::WithParamInterface<TextCase> {};

// Bytes that are no UTF-8 in a device path come out as U+FFFD in a valid document.
TEST_P(InvalidText, StillMakesADocument) {
  const std::string out = Run(GetParam().args);
  EXPECT_EQ(code_, GetParam().code) << err_;
  EXPECT_TRUE(json::accept(out)) << out;
  EXPECT_NE(out.find("/tmp/x" + kReplacement), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, InvalidText,
    testing::Values(TextCase{"Ports", {"--json", "--device", "/tmp/x\xff", "ports"}, 0},
                    TextCase{"Info", {"--json", "--device", "/tmp/x\xff", "info"}, 4},
                    TextCase{"SetId", {"--json", "--device", "/tmp/x\xff", "set-id", "3"}, 4}),
    [](const testing::TestParamInfo<TextCase>& p) { return std::string(p.param.name); });

// The same for the name of a process that holds the port.
// Ends a forked child when the test ends, passed or failed, so that it keeps no pipe of
// ctest's open.
struct ChildGuard {
  pid_t pid;
  ~ChildGuard() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
};

TEST_F(RunCommandTest, AHolderNamedInLatin1StillMakesADocument) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string pty = ptsname(master);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  const ChildGuard guard{holder};
  if (holder == 0) {
    prctl(PR_SET_NAME,
          "r\xe9"
          "ader");
    const int fd = open(pty.c_str(), O_RDWR | O_NOCTTY);
    if (write(ready[1], "x", 1) != 1 || fd < 0) _exit(1);
    pause();
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);

  const std::string out = Run({"--json", "--device", pty, "ports"});

  close(ready[0]);
  close(ready[1]);
  close(master);
  const json doc = json::parse(out);
  ASSERT_EQ(doc["ports"][0]["holders"].size(), 1u) << out;
  EXPECT_EQ(doc["ports"][0]["holders"][0]["name"], "r" + kReplacement + "ader");
}

struct ConsoleCase {
  const char* name;
  Strings args;  // "PTY" stands for the console's name
  int code;
};
void PrintTo(const ConsoleCase& c, std::ostream* os) { *os << c.name; }

class ConsoleLeftAlone : public RunCommandTest, public testing::WithParamInterface<ConsoleCase> {};

// The kernel's console (here a pseudo-terminal the console list names) gets no byte from
// a port named, a walk one port after another or a walk at once, and --explain says why.
TEST_P(ConsoleLeftAlone, GetsNoFrame) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
  const std::string pty = ptsname(master);
  struct stat st {};
  ASSERT_EQ(stat(pty.c_str(), &st), 0);
  std::ofstream(home_ / "consoles")
      << "ttyX -W- (EC p a) " << major(st.st_rdev) << ":" << minor(st.st_rdev) << "\n";
  SetConsoleListFile((home_ / "consoles").string());
  LinkOtherPortsToNothing(kPort);
  LinkPort(kPort, pty);
  Strings args = GetParam().args;
  std::replace(args.begin(), args.end(), std::string("PTY"), pty);

  const std::string out = Run(args, true);

  SetConsoleListFile("");
  char byte = 0;
  EXPECT_EQ(read(master, &byte, 1), -1) << "the console got a byte";
  close(master);
  EXPECT_EQ(code_, GetParam().code) << err_;
  EXPECT_NE(out.find("the system's console; left alone"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ConsoleLeftAlone,
    testing::Values(ConsoleCase{"NamedDevice", {"--device", "PTY", "scan", "--explain"}, 4},
                    ConsoleCase{"WalkInOrder", {"scan", "--explain"}, 3},
                    ConsoleCase{"WalkAtOnce", {"scan", "--every", "--explain"}, 3}),
    [](const testing::TestParamInfo<ConsoleCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace kelta
