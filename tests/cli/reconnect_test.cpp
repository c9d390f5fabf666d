// read-tags --reconnect's wait for a lost reader, on the in-memory line and a virtual
// clock.
#include "cli/reconnect.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "reader/operations.h"
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

using Act = std::function<void(SimLine&)>;

Act Attach(const std::string& serial, int mode) {
  return [=](SimLine& line) {
    ReaderSettings reader;
    reader.serial = serial;
    reader.mode_index = mode;
    line.AttachReader(3, ReaderModel(reader, {SimTag{0x4D2, 1}}));
  };
}
const Act kRefuse = [](SimLine& l) { l.SetRefused(3, true); };
const Act kNoTagReplies = [](SimLine& l) {
  l.Reader(3)->Faults().only = "F";
  l.Reader(3)->Faults().no_answer = true;
};

// A run of read-tags --reconnect on COM3: the reader starts in `reader_mode` (5 is stored);
// at tag poll `hang_up` the converter goes with its link, at open `at` (0: the start's
// probe) `act` happens to the line.
struct ReconnectCase {
  const char* name;
  int reader_mode, hang_up, at;
  Act act;
  std::vector<std::string> events;  // the jsonl events in order
  int code, stored_mode, most_opens;
};
void PrintTo(const ReconnectCase& c, std::ostream* os) { *os << c.name; }

class Reconnect : public testing::TestWithParam<ReconnectCase> {};

TEST_P(Reconnect, TellsEachChangeOnceAndKeepsTheDeviceItStartedWith) {
  const ReconnectCase& c = GetParam();
  char dir[] = "/tmp/kelta-reconnect.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  setenv("XDG_CONFIG_HOME", dir, 1);
  // COM3 leads to a stable name, as a by-id link does, behind which no device stands.
  const std::filesystem::path home = dir, link = home / "KELTA/ReaderConfig/ports/com3";
  std::filesystem::create_directories(link.parent_path());
  std::filesystem::create_symlink(home / "by-id/reader", link);
  VirtualClock clock(1000);
  SimLine line(clock);
  Attach("QM880001", c.reader_mode)(line);
  WriteHook device(line);
  int opens = 0, polls = 0;
  device.on_open = [&](int number) {
    // Every open goes to the device the run began with, the removed link notwithstanding.
    EXPECT_EQ(PortDeviceName(number), (home / "by-id/reader").string());
    if (opens++ == c.at) c.act(line);
  };
  device.on_write = [&](std::string_view bytes) {
    if (bytes.find("A00F") == bytes.npos || ++polls != c.hang_up) return;
    line.HangUp(3);
    std::filesystem::remove(link);
  };
  const char* argv[] = {"qm880ctl",    "--port",    "3",     "read-tags",
                        "--reconnect", "--format",  "jsonl", "--seconds",
                        "200",         "--silence", "1"};
  cli::CliOptions options;
  std::ostringstream usage;
  ASSERT_FALSE(cli::ParseCommandLine(11, argv, options, usage, usage));
  std::FILE* out = std::tmpfile();

  EXPECT_EQ(cli::RunCommand(options, out, out, device, clock), c.code);

  std::rewind(out);
  std::vector<std::string> events;
  for (char buffer[4096]; std::fgets(buffer, sizeof buffer, out);) {
    const auto j = nlohmann::json::parse(buffer, nullptr, false);
    if (j.is_discarded() || !j.contains("event")) continue;  // tags, and standard error's lines
    events.push_back(j["event"]);
    EXPECT_EQ(j["device"], (home / "by-id/reader").string()) << buffer;
    EXPECT_TRUE(j["event"] != "replaced" || j["previous_serial"] == "QM880001") << buffer;
  }
  std::fclose(out);
  EXPECT_EQ(events, c.events);
  Settings stored;
  LoadSettings(*MakeSystemSettingsStore(), stored);
  EXPECT_EQ(stored.ScanBaudRateNo, c.stored_mode);
  EXPECT_LE(opens, c.most_opens);
  std::filesystem::remove_all(home);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, Reconnect,
    testing::Values(
        ReconnectCase{"BackOnTheSamePath",
                      5,
                      3,
                      3,
                      Attach("QM880001", 5),
                      {"lost", "waiting", "resumed"},
                      0,
                      5,
                      5},
        ReconnectCase{"AnotherReaderIsTakenAndTold",
                      5,
                      3,
                      3,
                      Attach("QM880002", 5),
                      {"lost", "waiting", "resumed", "replaced"},
                      0,
                      5,
                      5},
        ReconnectCase{"BackInAnotherModeIsWalkedForAndStored",
                      5,
                      3,
                      3,
                      Attach("QM880001", 2),
                      {"lost", "waiting", "resumed"},
                      0,
                      2,
                      20},
        ReconnectCase{"StartsInTheModeItAnswersIn", 8, 0, -1, {}, {}, 0, 8, 10},
        // Answers "A00B" but no tag poll: one loss, one reason, and the waits grow to 30 s.
        ReconnectCase{"FlappingIsToldOnceAndWaitedOnLonger",
                      5,
                      0,
                      1,
                      kNoTagReplies,
                      {"lost", "waiting"},
                      0,
                      5,
                      12},
        ReconnectCase{
            "RefusedAtTheStartEndsAtOnce", 5, 0, 0, kRefuse, {"refused"}, cli::kExitNoAccess, 5, 1},
        ReconnectCase{"RefusedWhileWaitingEnds",
                      5,
                      3,
                      3,
                      kRefuse,
                      {"lost", "waiting", "refused"},
                      cli::kExitNoAccess,
                      5,
                      4}),
    CaseName{});

}  // namespace
}  // namespace kelta::test
