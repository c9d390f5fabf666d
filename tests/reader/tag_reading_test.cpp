#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "reader/operations.h"
#include "tests/reader/reader_rig.h"

namespace kelta::test {
namespace {

const std::vector<std::string> kNineControls = {"btnExit", "btnScan",     "btnFactory",
                                                "btnID",   "btnBaudRate", "gbDefault",
                                                "btnEng",  "btnGB",       "btnBIG5"};

std::vector<std::string> Switched(const std::vector<std::string>& names, const char* state) {
  std::vector<std::string> entries;
  for (const auto& n : names) entries.push_back(n + "=" + state);
  return entries;
}

// The operator's second press of btnReadCard, once `when` holds on a pass of the loop.
void PressAgainWhen(ReaderRig& rig, std::function<bool(int)> when) {
  rig.pump.hook = [&rig, when](int call) {
    if (rig.ctx.TagReadActive && when(call)) ReadCard(rig.ctx);
  };
}

TEST(ReadCard, BeforeAScanSaysSoAndStartsNothing) {
  ReaderRig rig;
  rig.AttachReader(3, 5);
  ReadCard(rig.ctx);
  EXPECT_EQ(rig.LastMsg(), "Start Scan Reader!");
  ASSERT_EQ(rig.tone.sounds.size(), 1u);
  EXPECT_EQ(rig.tone.sounds[0].hz, 300u);
  EXPECT_EQ(rig.tone.sounds[0].ms, 300u);
  EXPECT_TRUE(rig.line.Opens().empty());
  EXPECT_FALSE(rig.ctx.TagReadActive);
  EXPECT_EQ(rig.view.Text(Ctl::btnReadCard), "Read TAG");
}

TEST(ReadCard, PortHeldElsewhereRestoresEverythingAndTheNextPressTriesAgain) {
  ReaderRig rig;
  rig.AttachReader(3, 5);
  rig.line.SetHeld(3, true);
  rig.MakeReady(3, 5);

  ReadCard(rig.ctx);

  EXPECT_EQ(rig.LastMsg(), "Open COM : 3 Error");
  EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Red);
  ASSERT_EQ(rig.tone.sounds.size(), 1u);
  EXPECT_EQ(rig.tone.sounds[0].hz, 300u);
  EXPECT_FALSE(rig.ctx.TagReadActive);
  EXPECT_EQ(rig.view.Text(Ctl::btnReadCard), "Read TAG");
  EXPECT_EQ(rig.view.Text(Ctl::pnCardID), "TAG ID");
  std::vector<std::string> expected = Switched(kNineControls, "0");
  for (const auto& e : Switched(kNineControls, "1")) expected.push_back(e);
  EXPECT_EQ(rig.view.Logged("enable "), expected);
  EXPECT_EQ(rig.tap.closes, 0);

  rig.line.SetHeld(3, false);
  PressAgainWhen(rig, [](int call) { return call == 1; });
  ReadCard(rig.ctx);
  EXPECT_EQ(rig.FramesOf("A00F"), 1);
  EXPECT_FALSE(rig.ctx.TagReadActive);
}

struct TagCase {
  const char* name;
  std::uint32_t id;
  std::string line;
};

class TagLine : public testing::TestWithParam<TagCase> {};

// The press comes during the first pause: that cycle still polls and shows its tag.
TEST_P(TagLine, CancelDuringThePauseStillShowsThatCyclesTag) {
  const TagCase& c = GetParam();
  ReaderRig rig;
  rig.AttachReader(3, 5).Tags().push_back({c.id, 1});
  rig.MakeReady(3, 5);
  rig.view.SetText(Ctl::pnMsg, "before");
  PressAgainWhen(rig, [](int call) { return call == 40; });

  ReadCard(rig.ctx);

  EXPECT_EQ(rig.tap.Texts(), std::vector<std::string>{"A00F"});
  EXPECT_EQ(rig.view.TextsOf(Ctl::pnCardID), (std::vector<std::string>{c.line, "TAG ID"}));
  EXPECT_EQ(rig.view.Logged("fill shCard="), (std::vector<std::string>{"Yellow", "White"}));
  EXPECT_EQ(rig.view.CardTimerStarts(), 1);
  ASSERT_EQ(rig.tone.sounds.size(), 2u);
  EXPECT_EQ(rig.tone.sounds[0].hz, 1000u);
  EXPECT_EQ(rig.tone.sounds[0].ms, 30u);
  EXPECT_EQ(rig.tone.sounds[1].hz, 1000u);
  EXPECT_EQ(rig.tone.sounds[1].ms, 300u);
  EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Yellow);
  EXPECT_EQ(rig.view.TextsOf(Ctl::btnReadCard),
            (std::vector<std::string>{"Cancel Read TAG", "Read TAG"}));
  // Normal reading never touches the message line.
  EXPECT_EQ(rig.view.TextsOf(Ctl::pnMsg), std::vector<std::string>{"before"});
  EXPECT_EQ(rig.line.Opens().size(), 1u);
  EXPECT_FALSE(rig.port.IsOpen());
  EXPECT_TRUE(rig.view.WindowEnabled());
  EXPECT_FALSE(rig.view.Busy());
}

INSTANTIATE_TEST_SUITE_P(
    ReadCard, TagLine,
    testing::Values(TagCase{"Small", 0x4D2, "TAG ID : 0000001234  000004D2(H)"},
                    TagCase{"TopBitSetIsNegative", 0xFFFFFFFF, "TAG ID : -000000001  FFFFFFFF(H)"},
                    TagCase{"Largest", 0x7FFFFFFF, "TAG ID : 2147483647  7FFFFFFF(H)"}),
    CaseName());

TEST(ReadCard, ReadingRunsWithTheWindowEnabledAndTheNineControlsOff) {
  ReaderRig rig;
  rig.AttachReader(3, 5).Tags().push_back({0x10, 1});
  rig.MakeReady(3, 5);
  std::vector<bool> window_enabled;
  std::vector<bool> busy;
  PressAgainWhen(rig, [&](int call) {
    if (call == 10) {
      window_enabled.push_back(rig.view.WindowEnabled());
      busy.push_back(rig.view.Busy());
      for (Ctl ctl : {Ctl::btnExit, Ctl::btnBIG5, Ctl::gbDefault})
        EXPECT_FALSE(rig.view.Enabled(ctl));
      EXPECT_TRUE(rig.view.Enabled(Ctl::btnMode));
    }
    return rig.view.TextsOf(Ctl::pnCardID).size() == 3;
  });

  ReadCard(rig.ctx);

  EXPECT_EQ(window_enabled, std::vector<bool>{true});
  EXPECT_EQ(busy, std::vector<bool>{true});
  // Pressed in the pause after the third tag: that cycle still runs. Same tag every
  // cycle: the same line and a beep each time.
  EXPECT_EQ(rig.FramesOf("A00F"), 4);
  const std::string line = "TAG ID : 0000000016  00000010(H)";
  EXPECT_EQ(rig.view.TextsOf(Ctl::pnCardID),
            (std::vector<std::string>{line, line, line, line, "TAG ID"}));
  EXPECT_EQ(rig.tone.sounds.size(), 5u);
  // 80 passes of the loop with 1 ms each before every poll, after the 30 ms tag beep.
  ASSERT_EQ(rig.tap.frames.size(), 4u);
  EXPECT_EQ(rig.tap.frames[0].quiet_ms, 80u);
  for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(rig.tap.frames[i].quiet_ms, 80u + 30u);
  EXPECT_EQ(rig.view.Logged("busy="), (std::vector<std::string>{"1", "0"}));
  // The end: tag panel, the nine controls in their order, the caption.
  const auto log_end = std::vector<std::string>(rig.log.end() - 11, rig.log.end());
  EXPECT_EQ(log_end[0], "text pnCardID=TAG ID");
  std::vector<std::string> enables;
  for (const auto& e : Switched(kNineControls, "1")) enables.push_back("enable " + e);
  EXPECT_EQ(std::vector<std::string>(log_end.begin() + 1, log_end.end() - 1), enables);
  EXPECT_EQ(log_end.back(), "text btnReadCard=Read TAG");
}

TEST(ReadCard, APauseHeldUpByTheWindowDoesNotAddItsDelayOnTop) {
  ReaderRig rig;
  rig.AttachReader(3, 5);
  rig.MakeReady(3, 5);
  rig.pump.hook = [&](int call) {
    if (call == 5) rig.clock.Advance(10);  // a slow repaint
    if (rig.ctx.TagReadActive && call == 60) ReadCard(rig.ctx);
  };

  ReadCard(rig.ctx);

  ASSERT_EQ(rig.tap.frames.size(), 1u);
  // 80 ms and the one millisecond that covers the tick counter's truncation, not 90.
  EXPECT_EQ(rig.tap.frames[0].quiet_ms, 81u);
}

struct QuietCase {
  const char* name;
  bool silent;
  int length_delta;
};

class NoTagReply : public testing::TestWithParam<QuietCase> {};

TEST_P(NoTagReply, ShowsNothingAndReadingGoesOnUntilCancelled) {
  const QuietCase& c = GetParam();
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(3, 5);
  reader.Tags().push_back({0x4D2, 1});
  reader.Faults().only = "F";
  reader.Faults().no_answer = c.silent;
  reader.Faults().length_delta = c.length_delta;
  rig.MakeReady(3, 5);
  PressAgainWhen(rig, [&](int) { return rig.FramesOf("A00F") == 5; });

  ReadCard(rig.ctx);

  EXPECT_GE(rig.FramesOf("A00F"), 5);
  EXPECT_EQ(rig.view.TextsOf(Ctl::pnCardID), std::vector<std::string>{"TAG ID"});
  EXPECT_TRUE(rig.view.Logged("fill shCard=Yellow").empty());
  // The end is reported like any other.
  ASSERT_EQ(rig.tone.sounds.size(), 1u);
  EXPECT_EQ(rig.tone.sounds[0].ms, 300u);
  EXPECT_EQ(rig.tone.sounds[0].hz, 1000u);
  EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Yellow);
}

INSTANTIATE_TEST_SUITE_P(ReadCard, NoTagReply,
                         testing::Values(QuietCase{"Silent", true, 0},
                                         QuietCase{"SixteenBytes", false, -1},
                                         QuietCase{"EighteenBytes", false, 1}),
                         CaseName());

struct NestedCase {
  const char* name;
  CommandResult (*operation)(ReaderContext&);
  std::string start;
  std::string error;
};

class NestedOperation : public testing::TestWithParam<NestedCase> {};

// btnMode and GroupBox1 stay enabled while reading: their operation meets the port that
// reading holds, fails on its own, and reading carries on.
TEST_P(NestedOperation, FailsWithoutDisturbingReading) {
  const NestedCase& c = GetParam();
  ReaderRig rig;
  rig.AttachReader(3, 5).Tags().push_back({0x4D2, 1});
  rig.MakeReady(3, 5);
  std::size_t frames_at_press = 0;
  bool pressed = false;
  rig.pump.hook = [&](int) {
    // In the pause after the first tag.
    if (!pressed && rig.view.TextsOf(Ctl::pnCardID).size() == 1) {
      pressed = true;
      frames_at_press = rig.tap.frames.size();
      c.operation(rig.ctx);
    } else if (rig.ctx.TagReadActive && rig.view.TextsOf(Ctl::pnCardID).size() == 4) {
      ReadCard(rig.ctx);
    }
  };

  ReadCard(rig.ctx);

  EXPECT_EQ(frames_at_press, 1u);
  EXPECT_EQ(rig.tap.Texts(), std::vector<std::string>(5, "A00F"));
  EXPECT_EQ(rig.view.TextsOf(Ctl::pnMsg), (std::vector<std::string>{c.start, c.error}));
  EXPECT_EQ(rig.view.TextsOf(Ctl::pnCardID).size(), 6u);  // five tags, then "TAG ID"
  ASSERT_EQ(rig.line.Opens().size(), 1u);
  EXPECT_TRUE(rig.line.Opens()[0].ok);
  EXPECT_EQ(rig.tap.closes, 1);
  ASSERT_EQ(rig.tone.sounds.size(), 7u);
  EXPECT_EQ(rig.tone.sounds[1].hz, 300u);  // the nested failure, after the first tag
}

INSTANTIATE_TEST_SUITE_P(
    ReadCard, NestedOperation,
    testing::Values(NestedCase{"Mode", &SetReaderMode, "Set Reader Mode", "Set Reader Mode Error"},
                    NestedCase{"Address", &SetAddress, "Set Address", "Set Address Error"},
                    NestedCase{"Channel", &SetChannel, "Set Channel", "Set Channel Error"}),
    CaseName());

TEST(CardTimerExpired, TurnsTheTagLampWhiteAndStopsTheTimer) {
  ReaderRig rig;
  rig.view.SetFill(Ctl::shCard, Fill::Yellow);
  rig.view.StartCardTimer();
  CardTimerExpired(rig.ctx);
  EXPECT_EQ(rig.view.FillOf(Ctl::shCard), Fill::White);
  EXPECT_FALSE(rig.view.CardTimerRunning());
}

}  // namespace
}  // namespace kelta::test
