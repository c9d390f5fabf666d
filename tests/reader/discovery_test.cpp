#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "reader/operations.h"
#include "tests/reader/reader_rig.h"

namespace kelta::test {
namespace {

using Frames = std::vector<LineTap::Frame>;

// The expected probe frames of the walk: (port, mode index) for each "A00B".
std::vector<std::pair<int, std::string>> Places(const Frames& frames) {
  std::vector<std::pair<int, std::string>> places;
  for (const auto& f : frames) {
    if (f.text == "A00B") places.emplace_back(f.port, f.mode);
  }
  return places;
}

void ExpectScanEndedCleanly(const ReaderRig& rig) {
  EXPECT_TRUE(rig.view.WindowEnabled());
  EXPECT_FALSE(rig.view.Busy());
  EXPECT_FALSE(rig.view.Hourglass());
  EXPECT_FALSE(rig.port.IsOpen());
}

TEST(ScanReader, StartsWithItsTextsThenOnePassOfTheLoop) {
  ReaderRig rig;
  int log_at_first_pass = -1;
  rig.pump.hook = [&](int call) {
    if (call == 1) log_at_first_pass = static_cast<int>(rig.log.size());
  };
  ScanReader(rig.ctx);
  ASSERT_EQ(log_at_first_pass, 6);
  const EventLog start(rig.log.begin(), rig.log.begin() + 6);
  EXPECT_EQ(start, (EventLog{"hourglass=1", "busy=1", "text pnMsg=Scan Reader ....",
                             "text pnSerial=S/N : ________", "text pnVersion=VER : __.__-__",
                             "text pnID=__"}));
}

TEST(ScanReader, ReaderAtTheStoredPlaceIsFoundThereAndNothingIsWritten) {
  ReaderRig rig;
  rig.AttachReader(3, 7);
  rig.settings.ScanCommNo = 3;
  rig.settings.ScanBaudRate = kBaudRateTable[7];
  rig.settings.ScanBaudRateNo = 7;
  rig.ctx.ReaderReady = true;  // cleared by every scan until it succeeds again

  ScanReader(rig.ctx);

  EXPECT_EQ(rig.tap.Texts(), (std::vector<std::string>{"A00B", "A00V"}));
  EXPECT_EQ(rig.store.writes, 0);
  EXPECT_TRUE(rig.ctx.ReaderReady);
  EXPECT_EQ(rig.LastMsg(), "Get Reader Info Ok. (COM : #3)");
  EXPECT_EQ(rig.view.Text(Ctl::pnSerial), "S/N : QM880001");
  EXPECT_EQ(rig.view.Text(Ctl::pnVersion), "VER : V2.10.04");
  EXPECT_EQ(rig.view.Text(Ctl::pnID), "01");
  EXPECT_EQ(rig.view.Selection(Ctl::cmbBaudRate), 7);
  EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Yellow);
  ASSERT_FALSE(rig.tone.sounds.empty());
  EXPECT_EQ(rig.tone.sounds.back().hz, 1000u);
  EXPECT_EQ(rig.tone.sounds.back().ms, 300u);
  ExpectScanEndedCleanly(rig);
}

TEST(ScanReader, WalkProbesTwicePerModeOnPortsThatOpenAndStoresThePlaceBeforeTheVersion) {
  ReaderRig rig;
  rig.view.SetChecked(Ctl::chkLock, false);
  rig.line.AddEmptyPort(2);
  rig.line.AddEmptyPort(4);
  rig.line.SetHeld(4, true);
  rig.AttachReader(5, 3);
  std::optional<std::size_t> frames_at_first_write;
  rig.store.on_write = [&] {
    if (!frames_at_first_write) frames_at_first_write = rig.tap.frames.size();
  };

  ScanReader(rig.ctx);

  std::vector<std::pair<int, std::string>> expected;
  for (int m = 0; m < 12; ++m) {
    expected.emplace_back(2, kBaudRateTable[m]);
    expected.emplace_back(2, kBaudRateTable[m]);
  }
  for (int m = 0; m < 3; ++m) {
    expected.emplace_back(5, kBaudRateTable[m]);
    expected.emplace_back(5, kBaudRateTable[m]);
  }
  expected.emplace_back(5, kBaudRateTable[3]);  // answered on the first try
  EXPECT_EQ(Places(rig.tap.frames), expected);
  ASSERT_EQ(rig.tap.frames.size(), expected.size() + 1);
  EXPECT_EQ(rig.tap.frames.back().text, "A00V");
  for (const auto& f : rig.tap.frames) EXPECT_EQ(f.quiet_ms, 100u) << f.text << " on " << f.port;

  // Stored at once, between the probe that found it and the version command.
  ASSERT_TRUE(frames_at_first_write.has_value());
  EXPECT_EQ(*frames_at_first_write, expected.size());
  EXPECT_EQ(rig.settings.ScanCommNo, 5);
  EXPECT_EQ(rig.settings.ScanBaudRate, "9600,e,8,1");
  EXPECT_EQ(rig.settings.ScanBaudRateNo, 3);
  EXPECT_EQ(std::get<std::int32_t>(rig.store.values.at("ScanCommNo")), 5);
  EXPECT_EQ(std::get<std::int32_t>(rig.store.values.at("ScanBaudRateNo")), 3);
  EXPECT_EQ(std::get<std::string>(rig.store.values.at("ScanBaudRate")), "9600,e,8,1");

  // Ports that do not open are tried once, with no message.
  EXPECT_EQ(
      rig.view.TextsOf(Ctl::pnMsg),
      (std::vector<std::string>{
          "Scan Reader ....", "Scan COM : #2", "Scan COM : #2", "Scan COM : #2", "Scan COM : #2",
          "Scan COM : #2", "Scan COM : #2", "Scan COM : #2", "Scan COM : #2", "Scan COM : #2",
          "Scan COM : #2", "Scan COM : #2", "Scan COM : #2", "Scan COM : #5", "Scan COM : #5",
          "Scan COM : #5", "Scan COM : #5", "Get Reader Info Ok. (COM : #5)"}));
  std::vector<std::string> selections = {"0"};  // port 1 does not open
  for (int m = 0; m < 12; ++m) selections.push_back(std::to_string(m));
  selections.insert(selections.end(), {"0", "0", "0", "1", "2", "3", "3"});
  EXPECT_EQ(rig.view.Logged("select cmbBaudRate="), selections);
  EXPECT_TRUE(rig.ctx.ReaderReady);
  ExpectScanEndedCleanly(rig);
}

struct LockCase {
  const char* name;
  int stored_index;
  int reader_mode;
  int tried_mode;
  bool found;
};

class LockedWalk : public testing::TestWithParam<LockCase> {};

TEST_P(LockedWalk, TriesOneModeOnEachPort) {
  const LockCase& c = GetParam();
  ReaderRig rig;
  for (int p = 1; p <= 3; ++p) rig.line.AddEmptyPort(p);
  rig.AttachReader(4, c.reader_mode);
  rig.settings.ScanBaudRateNo = c.stored_index;

  ScanReader(rig.ctx);

  std::vector<std::pair<int, std::string>> expected;
  const int last_port = c.found ? 3 : 4;
  for (int p = 1; p <= last_port; ++p) {
    expected.emplace_back(p, kBaudRateTable[c.tried_mode]);
    expected.emplace_back(p, kBaudRateTable[c.tried_mode]);
  }
  if (c.found) expected.emplace_back(4, kBaudRateTable[c.tried_mode]);
  EXPECT_EQ(Places(rig.tap.frames), expected);
  EXPECT_EQ(rig.ctx.ReaderReady, c.found);
  if (c.found) {
    EXPECT_EQ(rig.settings.ScanCommNo, 4);
    EXPECT_EQ(rig.settings.ScanBaudRateNo, c.tried_mode);
  } else {
    EXPECT_EQ(rig.settings.ScanBaudRateNo, c.stored_index);
    EXPECT_EQ(rig.LastMsg(), "Reader Not Find");
  }
  ExpectScanEndedCleanly(rig);
}

INSTANTIATE_TEST_SUITE_P(ScanReader, LockedWalk,
                         testing::Values(LockCase{"StoredMode", 7, 7, 7, true},
                                         LockCase{"ReaderInAnotherMode", 7, 2, 7, false},
                                         LockCase{"IndexBeyondTheTableTriesTheDefault", 12, 5, 5,
                                                  true},
                                         LockCase{"NegativeIndexTriesTheDefault", -1, 5, 5, true}),
                         CaseName());

class ReplyLength : public testing::TestWithParam<int> {};

TEST_P(ReplyLength, OnlyA16ByteReaderInformationReplyFindsTheReader) {
  const int delta = GetParam();
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(1, 5);
  reader.Faults().only = "B";
  reader.Faults().length_delta = delta;
  rig.settings.ScanCommNo = 1;

  ScanReader(rig.ctx);

  const bool found = delta == 0;
  EXPECT_EQ(rig.ctx.ReaderReady, found);
  // 3 tries at the stored place, then 2 at the same mode in the walk.
  EXPECT_EQ(rig.FramesOf("A00B"), found ? 1 : 5);
  EXPECT_EQ(rig.LastMsg(), found ? "Get Reader Info Ok. (COM : #1)" : "Reader Not Find");
}

INSTANTIATE_TEST_SUITE_P(ScanReader, ReplyLength, testing::Values(-1, 0, 1));

TEST(ScanReader, VersionFailingKeepsThePlaceStoredAndTheReaderNotReady) {
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(4, 5);
  reader.Faults().only = "V";
  reader.Faults().no_answer = true;
  rig.line.AddEmptyPort(1);

  ScanReader(rig.ctx);

  EXPECT_EQ(rig.FramesOf("A00V"), 3);
  EXPECT_EQ(rig.settings.ScanCommNo, 4);
  EXPECT_EQ(std::get<std::int32_t>(rig.store.values.at("ScanCommNo")), 4);
  EXPECT_FALSE(rig.ctx.ReaderReady);
  EXPECT_EQ(rig.LastMsg(), "Get Reader Info Error. (COM : #4)");
  EXPECT_EQ(rig.view.Text(Ctl::pnSerial), "S/N : QM880001");
  EXPECT_EQ(rig.view.Text(Ctl::pnVersion), "VER : __.__-__");
  EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Red);
  ASSERT_FALSE(rig.tone.sounds.empty());
  EXPECT_EQ(rig.tone.sounds.back().hz, 300u);
  ExpectScanEndedCleanly(rig);
}

TEST(ScanReader, NoReaderShowsTheDefaultModeAndKeepsTheStoredIndex) {
  ReaderRig rig;
  rig.line.AddEmptyPort(2);
  rig.settings.ScanCommNo = 2;
  rig.settings.ScanBaudRate = kBaudRateTable[9];
  rig.settings.ScanBaudRateNo = 9;

  ScanReader(rig.ctx);

  EXPECT_EQ(rig.FramesOf("A00B"), 3 + 2);
  EXPECT_EQ(rig.LastMsg(), "Reader Not Find");
  EXPECT_EQ(rig.view.Selection(Ctl::cmbBaudRate), 5);
  EXPECT_EQ(rig.settings.ScanBaudRateNo, 9);
  EXPECT_EQ(rig.settings.ScanCommNo, 2);
  EXPECT_EQ(rig.store.writes, 0);
  EXPECT_FALSE(rig.ctx.ReaderReady);
  EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Red);
  ASSERT_EQ(rig.tone.sounds.size(), 1u);
  EXPECT_EQ(rig.tone.sounds[0].hz, 300u);
  EXPECT_EQ(rig.tone.sounds[0].ms, 300u);
  ExpectScanEndedCleanly(rig);
}

struct IdCase {
  const char* name;
  std::string id;
  int bar_before;
  std::string shown;
  int bar_after;
};

class ReaderId : public testing::TestWithParam<IdCase> {};

TEST_P(ReaderId, IsShownAndMovesTheIdBar) {
  const IdCase& c = GetParam();
  ReaderRig rig;
  rig.view.SetPosition(Ctl::sbID, c.bar_before);
  rig.AttachReader(1, 5, ReaderSettings{.id = c.id});
  rig.settings.ScanCommNo = 1;

  ScanReader(rig.ctx);

  EXPECT_EQ(rig.view.Text(Ctl::pnID), c.shown);
  EXPECT_EQ(rig.view.Position(Ctl::sbID), c.bar_after);
  EXPECT_TRUE(rig.ctx.ReaderReady);
}

INSTANTIATE_TEST_SUITE_P(ScanReader, ReaderId,
                         testing::Values(IdCase{"FortyTwo", "42", 1, "42", 42},
                                         IdCase{"ZeroWithTheBarAtOne", "00", 1, "00", 1},
                                         // The bar moves to 1 and its handler rewrites the display.
                                         IdCase{"ZeroWithTheBarElsewhere", "00", 30, "01", 1},
                                         IdCase{"NotDigitsAreShownAsTheyCame", "4X", 30, "4X", 30},
                                         IdCase{"Latin1IsShownAsUtf8",
                                                "\xB5"
                                                "7",
                                                30,
                                                "\xC2\xB5"
                                                "7",
                                                30}),
                         CaseName());

TEST(ScanReader, ReportsInTheCurrentLanguage) {
  ReaderRig rig;
  rig.settings.LanguageIndex = 2;
  rig.AttachReader(3, 5);
  rig.settings.ScanCommNo = 3;

  ScanReader(rig.ctx);

  EXPECT_EQ(rig.LastMsg(), rig.Msg(23) + " : #3)");
  EXPECT_EQ(rig.view.Text(Ctl::pnSerial), rig.Msg(19) + " : QM880001");
}

}  // namespace
}  // namespace kelta::test
