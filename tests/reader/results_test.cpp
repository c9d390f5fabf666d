// What the operations return and report step by step, besides what they show: the data
// the command line prints and turns into its exit code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader/operations.h"
#include "tests/reader/reader_rig.h"

// mingw's g++ 12 takes the defaulted vector of ScanScope, copied into the cases' names, for
// uninitialised (a false alarm of -Wmaybe-uninitialized at -O2).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace kelta::test {
namespace {

// Every event as one line: "open 2 1", "probe 2 19200,e,8,1 found=0 heard=1", "poll 1 1 000004D2".
class EventLog final : public ReaderEvents {
 public:
  void ScanOpened(int port, const std::string&, bool opened, const OpenError&) override {
    lines.push_back("open " + std::to_string(port) + " " + std::to_string(opened));
  }
  void ScanProbed(int port, const std::string& mode, bool found, const ReplyWait& wait,
                  int length) override {
    lines.push_back("probe " + std::to_string(port) + " " + mode +
                    " found=" + std::to_string(found) +
                    " heard=" + std::to_string(static_cast<int>(wait.heard)) +
                    " length=" + std::to_string(length));
  }
  void TagPolled(const TagPoll& poll) override {
    lines.push_back("poll " + std::to_string(poll.replied) + " " + std::to_string(poll.tag) + " " +
                    poll.chars + " " + std::to_string(poll.value));
  }
  std::vector<std::string> lines;
};

TEST(ScanResult, TheWalkReportsEachOpenAndProbeAndReturnsThePlaceAndIdentity) {
  ReaderRig rig;
  EventLog events;
  rig.ctx.events = &events;
  rig.line.AddEmptyPort(2);
  rig.AttachReader(3, 5, {.serial = "SN004711", .id = "42", .version = "V9.87.65"})
      .Faults()
      .length_delta = 1;  // a 17-byte reader information: not the reader's
  rig.AttachReader(4, 5, {.serial = "SN004711", .id = "42", .version = "V9.87.65"});

  const ScanResult result = ScanReader(rig.ctx, {.first_port = 2, .last_port = 16});

  const int heard_nothing = static_cast<int>(ReplyHeard::Nothing);
  const int heard_valid = static_cast<int>(ReplyHeard::Valid);
  const std::string none = " heard=" + std::to_string(heard_nothing) + " length=0";
  const std::string mode = "19200,e,8,1";
  EXPECT_EQ(
      events.lines,
      (std::vector<std::string>{
          "open 2 1", "probe 2 " + mode + " found=0" + none, "probe 2 " + mode + " found=0" + none,
          "open 3 1",
          "probe 3 " + mode + " found=0 heard=" + std::to_string(heard_valid) + " length=17",
          "probe 3 " + mode + " found=0 heard=" + std::to_string(heard_valid) + " length=17",
          "open 4 1",
          "probe 4 " + mode + " found=1 heard=" + std::to_string(heard_valid) + " length=16"}));
  EXPECT_TRUE(result.found);
  EXPECT_TRUE(result.ready);
  EXPECT_TRUE(result.stored);
  EXPECT_EQ(result.port, 4);
  EXPECT_EQ(result.mode, mode);
  EXPECT_EQ(result.mode_index, 5);
  EXPECT_EQ(result.serial, "SN004711");
  EXPECT_EQ(result.id, "42");
  EXPECT_EQ(result.version, "V9.87.65");
}

TEST(ScanResult, APlaceFoundThatCannotBeStoredComesWithTheReason) {
  ReaderRig rig;
  rig.AttachReader(3, 5);
  rig.store.on_write = [] { throw SettingsStoreError("no room"); };
  const ScanResult result = ScanReader(rig.ctx, ScanScope{});
  EXPECT_TRUE(result.ready);
  EXPECT_EQ(result.port, 3);
  EXPECT_FALSE(result.stored);
  EXPECT_EQ(result.store_error, "no room");
}

struct ScopeCase {
  const char* name;
  ScanScope scope;
  int stored_port;
  std::vector<int> opened;  // the ports tried, in order
  bool found;
  bool stored;
};

class ScanScopes : public testing::TestWithParam<ScopeCase> {};

TEST_P(ScanScopes, LimitTheWalk) {
  const ScopeCase& c = GetParam();
  ReaderRig rig;
  rig.line.AddEmptyPort(2);
  rig.AttachReader(5, 5);
  rig.settings.ScanCommNo = c.stored_port;

  const ScanResult result = ScanReader(rig.ctx, c.scope);

  std::vector<int> opened;
  for (const auto& open : rig.line.Opens()) opened.push_back(open.port);
  // The version's own open comes last when the reader is found.
  if (result.found) opened.pop_back();
  EXPECT_EQ(opened, c.opened);
  EXPECT_EQ(result.found, c.found);
  EXPECT_EQ(result.stored, c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    ScanReader, ScanScopes,
    testing::Values(
        ScopeCase{"StoredPlaceOnly", {.walk = false}, 2, {2}, false, false},
        ScopeCase{"StoredPlaceFound", {.walk = false}, 5, {5}, true, false},
        ScopeCase{"OnePort", {.first_port = 5, .last_port = 5}, 2, {2, 5}, true, true},
        ScopeCase{"NothingStored", {.first_port = 2, .last_port = 3}, 0, {2, 3}, false, false}),
    CaseName());

struct CommandCase {
  const char* name;
  bool ready;
  bool held;
  std::string no_answer;  // the command letters the reader does not answer
  Outcome outcome;
  bool opened;
  bool answered;
  OpenFailure open_failure = OpenFailure::None;
};

class CommandResults : public testing::TestWithParam<CommandCase> {};

TEST_P(CommandResults, TellTheStageThatFailed) {
  const CommandCase& c = GetParam();
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(3, 5);
  reader.Faults().only = c.no_answer;
  reader.Faults().no_answer = !c.no_answer.empty();
  rig.line.SetHeld(3, c.held);
  rig.MakeReady(3, 5);
  rig.ctx.ReaderReady = c.ready;
  rig.view.SetPosition(Ctl::sbID, 42);

  const CommandResult result = SetReaderId(rig.ctx);

  EXPECT_EQ(result.outcome, c.outcome);
  EXPECT_EQ(result.opened, c.opened);
  EXPECT_EQ(result.reader_answered, c.answered);
  EXPECT_EQ(result.open_error.kind, c.open_failure);
}

INSTANTIATE_TEST_SUITE_P(
    SettingsCommands, CommandResults,
    testing::Values(CommandCase{"NotReady", false, false, "", Outcome::NotReady, false, false},
                    CommandCase{"PortHeld", true, true, "", Outcome::Failure, false, false,
                                OpenFailure::Busy},
                    CommandCase{"ReaderSilent", true, false, "BC", Outcome::Failure, true, false},
                    CommandCase{"CommandRefused", true, false, "C", Outcome::Failure, true, true},
                    CommandCase{"Accepted", true, false, "", Outcome::Success, true, true}),
    CaseName());

TEST(ReadCard, ReportsEveryPollAndItsTag) {
  ReaderRig rig;
  EventLog events;
  rig.ctx.events = &events;
  rig.AttachReader(3, 5).Tags().push_back({0xFFFFFFFF, 2});
  rig.MakeReady(3, 5);
  rig.pump.hook = [&](int) {
    if (rig.ctx.TagReadActive && events.lines.size() == 4) ReadCard(rig.ctx);
  };

  EXPECT_EQ(ReadCard(rig.ctx).outcome, Outcome::Success);

  // The press comes in the fifth cycle's pause, and that cycle still polls.
  EXPECT_EQ(events.lines,
            (std::vector<std::string>{"poll 1 0  0", "poll 1 1 FFFFFFFF -1", "poll 1 0  0",
                                      "poll 1 1 FFFFFFFF -1", "poll 1 0  0"}));
}

}  // namespace
}  // namespace kelta::test
