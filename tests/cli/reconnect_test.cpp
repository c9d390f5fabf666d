// read-tags --reconnect's wait for a lost reader, on the in-memory line and a virtual
// clock.
#include "cli/reconnect.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "reader/operations.h"
#include "settings/settings.h"
#include "sim/write_hook.h"
#include "tests/reader/reader_rig.h"

namespace kelta::test {
namespace {

TEST(Reconnector, TriesTheGonePortAfterOneSecondThenTwiceAsLongUpToThirty) {
  ReaderRig rig;
  rig.MakeReady(3, 5);  // and no port 3 on the line: the converter is out
  std::vector<std::string> events;
  std::FILE* err = std::tmpfile();
  constexpr std::size_t kOpens = 8;
  cli::Reconnector reconnector(
      rig.ctx, 5000, "COM3", "/nonexistent/com3", err,
      [&](const std::string& line) { events.push_back(line); },
      [&] { return rig.line.Opens().size() >= kOpens; });

  const CommandResult result = reconnector.Run([&] { return ReadCard(rig.ctx); },
                                               [](const CommandResult&) { return false; });
  std::fclose(err);

  EXPECT_EQ(result.outcome, Outcome::Success);
  ASSERT_EQ(rig.line.Opens().size(), kOpens);
  std::vector<std::uint32_t> gaps;
  for (std::size_t i = 2; i < kOpens; ++i) {
    gaps.push_back(rig.line.Opens()[i].time_ms - rig.line.Opens()[i - 1].time_ms);
  }
  EXPECT_EQ(gaps, (std::vector<std::uint32_t>{2000, 4000, 8000, 16000, 30000, 30000}));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(events[0].find(R"("event":"lost")"), std::string::npos) << events[0];
  EXPECT_NE(events[0].find(R"("reason":"no-port")"), std::string::npos) << events[0];
}

// What happens to the line during a run of read-tags --reconnect: at the nth open of the
// port (0 = the start's probe) or at the nth tag poll written.
struct Script {
  std::map<int, std::function<void(SimLine&)>> at_open;
  std::map<int, std::function<void(SimLine&)>> at_poll;
};

struct ReconnectCase {
  const char* name;
  int reader_mode;  // the mode the reader answers in at first; 5 is the stored one
  std::vector<std::string> args;
  Script script;
  std::vector<std::string> events;  // the jsonl events in order
  int code;
  int stored_mode;  // the mode stored at the end
  int most_opens;   // at most this many opens of the port
};
void PrintTo(const ReconnectCase& c, std::ostream* os) { *os << c.name; }

void HangUp(SimLine& line) { line.HangUp(3); }
std::function<void(SimLine&)> Attach(const std::string& serial, int mode) {
  return [=](SimLine& line) {
    ReaderSettings reader;
    reader.serial = serial;
    reader.mode_index = mode;
    line.AttachReader(3, ReaderModel(reader, {SimTag{0x4D2, 1}}));
  };
}

class Reconnect : public testing::TestWithParam<ReconnectCase> {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/kelta-reconnect.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    home_ = dir;
    setenv("XDG_CONFIG_HOME", dir, 1);
    // COM3 leads to a stable name, as a by-id link does; a name no device stands behind.
    std::filesystem::create_directories(home_ / "KELTA/ReaderConfig/ports");
    std::filesystem::create_symlink(home_ / "by-id/reader", Link());
  }
  void TearDown() override { std::filesystem::remove_all(home_); }
  std::filesystem::path Link() const { return home_ / "KELTA/ReaderConfig/ports/com3"; }

  std::filesystem::path home_;
};

TEST_P(Reconnect, TellsEachChangeOnceAndKeepsTheDeviceItStartedWith) {
  const ReconnectCase& c = GetParam();
  VirtualClock clock(1000);
  SimLine line(clock);
  Attach("QM880001", c.reader_mode)(line);
  WriteHook device(line);
  int opens = 0;
  int polls = 0;
  device.on_open = [&](int number) {
    // Every open goes to the device the run began with, the removed link notwithstanding.
    EXPECT_EQ(PortDeviceName(number), (home_ / "by-id/reader").string());
    if (const auto it = c.script.at_open.find(opens++); it != c.script.at_open.end()) {
      it->second(line);
    }
  };
  device.on_write = [&](std::string_view bytes) {
    if (bytes.find("A00F") == std::string_view::npos) return;
    if (const auto it = c.script.at_poll.find(++polls); it != c.script.at_poll.end()) {
      it->second(line);
      // The link goes with the converter: the run keeps the name it started with.
      std::filesystem::remove(Link());
    }
  };
  std::vector<std::string> argv = {"qm880ctl", "--port", "3", "read-tags", "--reconnect",
                                   "--format", "jsonl", "--seconds", "200"};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  std::vector<const char*> args;
  for (const std::string& a : argv) args.push_back(a.c_str());
  cli::CliOptions options;
  std::ostringstream usage;
  ASSERT_FALSE(cli::ParseCommandLine(static_cast<int>(args.size()), args.data(), options, usage,
                                     usage));
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();

  const int code = cli::RunCommand(options, out, err, device, clock);

  std::rewind(out);
  std::vector<std::string> events;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, out)) {
    const nlohmann::json j = nlohmann::json::parse(buffer);
    if (!j.contains("event")) continue;
    events.push_back(j["event"]);
    EXPECT_EQ(j["device"], (home_ / "by-id/reader").string()) << buffer;
    if (j["event"] == "replaced") {
      EXPECT_EQ(j["previous_serial"], "QM880001");
      EXPECT_EQ(j["serial"], "QM880002");
    }
    if (j["event"] == "waiting" || j["event"] == "refused") {
      EXPECT_FALSE(j["problem"]["text"].get<std::string>().empty()) << buffer;
    }
  }
  std::fclose(out);
  std::fclose(err);
  EXPECT_EQ(events, c.events);
  EXPECT_EQ(code, c.code);
  Settings stored;
  LoadSettings(*MakeSystemSettingsStore(), stored);
  EXPECT_EQ(stored.ScanBaudRateNo, c.stored_mode);
  EXPECT_LE(opens, c.most_opens);
}

const Script kLostAndBack{{{3, Attach("QM880001", 5)}}, {{3, HangUp}}};

INSTANTIATE_TEST_SUITE_P(
    Cli, Reconnect,
    testing::Values(
        ReconnectCase{"BackOnTheSamePath", 5, {}, kLostAndBack,
                      {"lost", "waiting", "resumed"}, 0, 5, 5},
        ReconnectCase{"AnotherReaderIsTakenAndTold", 5, {},
                      Script{{{3, Attach("QM880002", 5)}}, {{3, HangUp}}},
                      {"lost", "waiting", "resumed", "replaced"}, 0, 5, 5},
        ReconnectCase{"BackInAnotherModeIsWalkedForAndStored", 5, {},
                      Script{{{3, Attach("QM880001", 2)}}, {{3, HangUp}}},
                      {"lost", "waiting", "resumed"}, 0, 2, 20},
        ReconnectCase{"StartsInTheModeItAnswersIn", 8, {}, {}, {}, 0, 8, 10},
        // Answers "A00B" but no tag poll: one loss, one reason, and the waits grow.
        ReconnectCase{"FlappingIsToldOnceAndWaitedOnLonger", 5, {"--silence", "1"},
                      Script{{{1, [](SimLine& l) {
                                 l.Reader(3)->Faults().only = "F";
                                 l.Reader(3)->Faults().no_answer = true;
                               }}},
                             {}},
                      {"lost", "waiting"}, 0, 5, 12},
        ReconnectCase{"RefusedAtTheStartEndsAtOnce", 5, {},
                      Script{{{0, [](SimLine& l) { l.SetRefused(3, true); }}}, {}}, {"refused"},
                      cli::kExitNoAccess, 5, 1},
        ReconnectCase{"RefusedWhileWaitingEnds", 5, {},
                      Script{{{3, [](SimLine& l) { l.SetRefused(3, true); }}}, {{3, HangUp}}},
                      {"lost", "waiting", "refused"}, cli::kExitNoAccess, 5, 4}),
    CaseName{});

}  // namespace
}  // namespace kelta::test
