#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "reader/operations.h"
#include "tests/reader/reader_rig.h"

namespace kelta::test {
namespace {

using Operation = CommandResult (*)(ReaderContext&);
using Texts = std::vector<std::string>;

constexpr int kPort = 2;
constexpr int kMode = 5;

struct NamedOperation {
  const char* name;
  Operation run;
};

const NamedOperation kAllOperations[] = {
    {"Id", &SetReaderId},     {"BaudRate", &SetReaderBaudRate}, {"Mode", &SetReaderMode},
    {"Rssi", &SetRssiLevel},  {"Address", &SetAddress},         {"Frequency", &SetFrequency},
    {"Channel", &SetChannel}, {"Factory", &FactoryDefault},     {"Reset", &ResetReader}};

void ExpectFailureEnd(const ReaderRig& rig) {
  EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Red);
  ASSERT_FALSE(rig.tone.sounds.empty());
  EXPECT_EQ(rig.tone.sounds.back().hz, 300u);
  EXPECT_EQ(rig.tone.sounds.back().ms, 300u);
  EXPECT_TRUE(rig.view.WindowEnabled());
  EXPECT_FALSE(rig.view.Hourglass());
  EXPECT_FALSE(rig.port.IsOpen());
}

class NotReady : public testing::TestWithParam<NamedOperation> {};

TEST_P(NotReady, OpensNothingSendsNothingAndAsksForAScan) {
  ReaderRig rig;
  rig.AttachReader(kPort, kMode);
  rig.MakeReady(kPort, kMode);
  rig.ctx.ReaderReady = false;
  rig.view.SetPosition(Ctl::sbAddr, 100);
  rig.log.clear();

  GetParam().run(rig.ctx);

  EXPECT_TRUE(rig.line.Opens().empty());
  EXPECT_TRUE(rig.tap.frames.empty());
  EXPECT_EQ(rig.view.TextsOf(Ctl::pnMsg), Texts{"Start Scan Reader!"});
  EXPECT_EQ(rig.view.Position(Ctl::sbAddr), 100);  // the factory default included
  EXPECT_TRUE(rig.view.Logged("busy=").empty());
  ExpectFailureEnd(rig);
}

INSTANTIATE_TEST_SUITE_P(SettingsCommands, NotReady, testing::ValuesIn(kAllOperations), CaseName());

struct CommandCase {
  const char* name;
  std::function<void(FakeView&)> set_up;
  Operation run;
  std::string command;
  std::string start_text;
  std::string ok_text;
};

class CommandText : public testing::TestWithParam<CommandCase> {};

TEST_P(CommandText, ProbeThenTheCommandEachAfter100Ms) {
  const CommandCase& c = GetParam();
  ReaderRig rig;
  rig.AttachReader(kPort, kMode);
  rig.MakeReady(kPort, kMode);
  if (c.set_up) c.set_up(rig.view);
  rig.log.clear();

  c.run(rig.ctx);

  EXPECT_EQ(rig.tap.Texts(), (Texts{"A00B", c.command}));
  for (const auto& f : rig.tap.frames) {
    EXPECT_EQ(f.quiet_ms, 100u) << f.text;
    EXPECT_EQ(f.mode, kBaudRateTable[kMode]);
  }
  EXPECT_EQ(rig.view.TextsOf(Ctl::pnMsg), (Texts{c.start_text, c.ok_text}));
  // The end, in its order; the window was disabled directly, without the busy state.
  const Texts tail(rig.log.end() - 5, rig.log.end());
  EXPECT_EQ(tail, (Texts{"fill shComm=Yellow", "text pnMsg=" + c.ok_text, "beep 1000/300",
                         "window=1", "hourglass=0"}));
  EXPECT_EQ(Texts(rig.log.begin(), rig.log.begin() + 2), (Texts{"hourglass=1", "window=0"}));
  EXPECT_TRUE(rig.view.Logged("busy=").empty());
  EXPECT_EQ(rig.line.Opens().size(), 1u);
  EXPECT_FALSE(rig.port.IsOpen());
}

void SelectBaud(FakeView& v, int i) { v.SetSelection(Ctl::cmbBaudRate, i); }

INSTANTIATE_TEST_SUITE_P(
    SettingsCommands, CommandText,
    testing::Values(
        CommandCase{"IdCarriesTheProbedSerial", [](FakeView& v) { v.SetPosition(Ctl::sbID, 7); },
                    &SetReaderId, "A00CQM88000107", "Set Reader ID = 07", "Set Reader ID Ok"},
        // The display's text, not the bar's position.
        CommandCase{"IdAsTheScanShowedIt", [](FakeView& v) { v.SetText(Ctl::pnID, "42"); },
                    &SetReaderId, "A00CQM88000142", "Set Reader ID = 42", "Set Reader ID Ok"},
        CommandCase{"Rate9", [](FakeView& v) { SelectBaud(v, 9); }, &SetReaderBaudRate, "A00E9",
                    "Set Reader BaudRate = 57600,e,8,1", "Set Reader BaudRate Ok"},
        CommandCase{"Rate10", [](FakeView& v) { SelectBaud(v, 10); }, &SetReaderBaudRate, "A00EA",
                    "Set Reader BaudRate = 115200,n,8,1", "Set Reader BaudRate Ok"},
        CommandCase{"Rate11", [](FakeView& v) { SelectBaud(v, 11); }, &SetReaderBaudRate, "A00EB",
                    "Set Reader BaudRate = 115200,e,8,1", "Set Reader BaudRate Ok"},
        CommandCase{"ModeOpening", nullptr, &SetReaderMode, "A00L10", "Set Reader Mode",
                    "Set Reader Mode Ok"},
        CommandCase{"ModeWidest",
                    [](FakeView& v) {
                      v.SetSelection(Ctl::cmbRS485, 3);
                      v.SetSelection(Ctl::cmbWiegand, 2);
                    },
                    &SetReaderMode, "A00L32", "Set Reader Mode", "Set Reader Mode Ok"},
        CommandCase{"RssiZeroWithTheIdTexts", [](FakeView& v) { v.SetPosition(Ctl::sbID, 12); },
                    &SetRssiLevel, "A00O00", "Set Reader ID = 12", "Set Reader ID Ok"},
        CommandCase{"RssiTop", [](FakeView& v) { v.SetPosition(Ctl::sbRSSI, 250); }, &SetRssiLevel,
                    "A00OFA", "Set Reader ID = __", "Set Reader ID Ok"},
        CommandCase{"AddressOpening", nullptr, &SetAddress, "A00W060131", "Set Address",
                    "Set Address Ok"},
        CommandCase{"AddressTop", [](FakeView& v) { v.SetPosition(Ctl::sbAddr, 255); }, &SetAddress,
                    "A00W0601FF", "Set Address", "Set Address Ok"},
        CommandCase{"FrequencyOpening", nullptr, &SetFrequency, "A00W0F013B", "Set Freq",
                    "Set Freq Ok"},
        CommandCase{"ChannelOpening", nullptr, &SetChannel, "A00W0B0100", "Set Channel",
                    "Set Channel Ok"},
        CommandCase{"ChannelTen", [](FakeView& v) { v.SetPosition(Ctl::sbChannel, 10); },
                    &SetChannel, "A00W0B010A", "Set Channel", "Set Channel Ok"},
        CommandCase{"Factory", nullptr, &FactoryDefault, "A00X5A", "Set Default",
                    "Set Default Ok"}),
    CaseName());

TEST(SettingsCommands, ProbeOfTheWrongLengthSendsNoCommand) {
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(kPort, kMode);
  reader.Faults().only = "B";
  reader.Faults().length_delta = 1;
  rig.MakeReady(kPort, kMode);

  SetAddress(rig.ctx);

  EXPECT_EQ(rig.tap.Texts(), Texts(3, "A00B"));
  EXPECT_EQ(rig.LastMsg(), "Set Address Error");
  EXPECT_EQ(rig.tap.closes, 1);
  ExpectFailureEnd(rig);
}

TEST(SettingsCommands, SecondTrySucceedingIsSuccessWithTwoProbesAndTwoCommands) {
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(kPort, kMode);
  reader.Faults().only = "C";
  reader.Faults().answer_every = 2;
  rig.MakeReady(kPort, kMode);
  rig.view.SetPosition(Ctl::sbID, 7);

  SetReaderId(rig.ctx);

  EXPECT_EQ(reader.Commands(), (Texts{"A00B", "A00CQM88000107", "A00B", "A00CQM88000107"}));
  EXPECT_EQ(rig.LastMsg(), "Set Reader ID Ok");
  EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Yellow);
}

TEST(SettingsCommands, CommandFailingEveryTimeEndsAfterThreeTries) {
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(kPort, kMode);
  reader.Faults().only = "L";
  reader.Faults().wrong_checksum = true;
  rig.MakeReady(kPort, kMode);

  SetReaderMode(rig.ctx);

  EXPECT_EQ(rig.tap.Texts(), (Texts{"A00B", "A00L10", "A00B", "A00L10", "A00B", "A00L10"}));
  EXPECT_EQ(rig.LastMsg(), "Set Reader Mode Error");
  ExpectFailureEnd(rig);
}

TEST(SettingsCommands, AcceptedBaudRateIsUsedByTheNextOperationAndNotStored) {
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(kPort, kMode);
  rig.MakeReady(kPort, kMode);
  rig.view.SetSelection(Ctl::cmbBaudRate, 8);

  SetReaderBaudRate(rig.ctx);
  EXPECT_EQ(rig.LastMsg(), "Set Reader BaudRate Ok");
  EXPECT_EQ(rig.settings.ScanBaudRateNo, 8);
  EXPECT_EQ(rig.settings.ScanBaudRate, "57600,n,8,1");
  EXPECT_EQ(rig.store.writes, 0);
  EXPECT_EQ(reader.Settings().mode_index, 8);

  SetReaderMode(rig.ctx);
  EXPECT_EQ(rig.LastMsg(), "Set Reader Mode Ok");
  EXPECT_EQ(rig.tap.frames.back().mode, "57600,n,8,1");
  EXPECT_EQ(rig.line.Opens().back().mode, "57600,n,8,1");
}

TEST(SettingsCommands, RefusedBaudRateChangesNothing) {
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(kPort, kMode);
  reader.Faults().only = "B";
  reader.Faults().no_answer = true;
  rig.MakeReady(kPort, kMode);
  rig.view.SetSelection(Ctl::cmbBaudRate, 8);

  SetReaderBaudRate(rig.ctx);
  EXPECT_EQ(rig.tap.Texts(), Texts(3, "A00B"));
  EXPECT_EQ(rig.LastMsg(), "Set Reader BaudRate Error");
  EXPECT_EQ(rig.settings.ScanBaudRateNo, kMode);
  EXPECT_EQ(rig.settings.ScanBaudRate, kBaudRateTable[kMode]);
  EXPECT_TRUE(rig.ctx.ReaderReady);
  ExpectFailureEnd(rig);

  reader.Faults() = ReaderFaults{};
  SetReaderMode(rig.ctx);
  EXPECT_EQ(rig.LastMsg(), "Set Reader Mode Ok");
  EXPECT_EQ(rig.tap.frames.back().mode, kBaudRateTable[kMode]);
}

// The reader took the command but its answers were lost: the window cannot know, and
// keeps the mode it reached the reader in.
TEST(SettingsCommands, BaudRateWithItsRepliesLostKeepsTheModeInMemory) {
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(kPort, kMode);
  reader.Faults().only = "E";
  reader.Faults().no_answer = true;
  rig.MakeReady(kPort, kMode);
  rig.view.SetSelection(Ctl::cmbBaudRate, 8);

  SetReaderBaudRate(rig.ctx);
  EXPECT_EQ(rig.LastMsg(), "Set Reader BaudRate Error");
  EXPECT_EQ(rig.settings.ScanBaudRateNo, kMode);
  EXPECT_EQ(rig.settings.ScanBaudRate, kBaudRateTable[kMode]);
  EXPECT_EQ(reader.Settings().mode_index, 8);
}

TEST(SettingsCommands, BaudRateListWithoutASelectionOpensNothing) {
  ReaderRig rig;
  rig.AttachReader(kPort, kMode);
  rig.MakeReady(kPort, kMode);
  rig.view.SetSelection(Ctl::cmbBaudRate, 12);
  ASSERT_EQ(rig.view.Selection(Ctl::cmbBaudRate), -1);

  SetReaderBaudRate(rig.ctx);

  EXPECT_TRUE(rig.line.Opens().empty());
  EXPECT_EQ(rig.view.TextsOf(Ctl::pnMsg), Texts{"Set Reader BaudRate Error"});
  EXPECT_EQ(rig.settings.ScanBaudRateNo, kMode);
  ExpectFailureEnd(rig);
}

TEST(SettingsCommands, FactoryDefaultSetsTheControlsEvenWithoutAReader) {
  ReaderRig rig;
  rig.line.AddEmptyPort(kPort);
  rig.MakeReady(kPort, 9);
  rig.view.SetPosition(Ctl::sbAddr, 100);
  rig.view.SetPosition(Ctl::sbChannel, 7);
  rig.view.SetPosition(Ctl::sbID, 42);
  rig.view.SetSelection(Ctl::cmbBaudRate, 9);
  rig.log.clear();

  FactoryDefault(rig.ctx);

  // sbFreq already stands at 59: its handler does not run.
  EXPECT_EQ(rig.view.Logged("position "),
            (Texts{"sbAddr=49", "sbFreq=59", "sbChannel=0", "sbID=1"}));
  EXPECT_EQ(rig.view.Logged("text pn"), (Texts{"Addr=049", "Channel=000", "ID=01",
                                               "Msg=Set Default", "Msg=Set Default Error"}));
  EXPECT_EQ(rig.view.Selection(Ctl::cmbBaudRate), 5);
  EXPECT_EQ(rig.tap.Texts(), Texts(2, "A00B"));
  EXPECT_EQ(rig.settings.ScanBaudRate, kBaudRateTable[9]);
  EXPECT_EQ(rig.settings.ScanBaudRateNo, 9);
  ExpectFailureEnd(rig);
}

TEST(SettingsCommands, FactoryDefaultSendsAtMostTwoCommands) {
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(kPort, kMode);
  reader.Faults().only = "X";
  reader.Faults().no_answer = true;
  rig.MakeReady(kPort, kMode);

  FactoryDefault(rig.ctx);

  EXPECT_EQ(rig.tap.Texts(), (Texts{"A00B", "A00X5A", "A00B", "A00X5A"}));
  EXPECT_EQ(rig.LastMsg(), "Set Default Error");
}

TEST(ResetReader, SendsOneResetFiftyMsAfterTheOpenAndNoProbe) {
  for (const bool answers : {true, false}) {
    ReaderRig rig;
    ReaderModel& reader = rig.AttachReader(kPort, kMode);
    reader.Faults().no_answer = !answers;
    rig.MakeReady(kPort, kMode);

    ResetReader(rig.ctx);

    ASSERT_EQ(rig.tap.Texts(), Texts{"A00HR"}) << answers;
    EXPECT_EQ(rig.tap.frames[0].quiet_ms, 50u);
    EXPECT_EQ(rig.tap.frames[0].start_ms, rig.line.Opens()[0].time_ms + 50);
    EXPECT_EQ(rig.view.TextsOf(Ctl::pnMsg),
              (Texts{"Reader Reset", answers ? "Reader Reset Ok" : "TReader Reset Error"}));
    EXPECT_EQ(rig.tap.closes, 1);
    EXPECT_EQ(rig.view.FillOf(Ctl::shComm), answers ? Fill::Yellow : Fill::Red);
  }
}

class FailingOpen : public testing::TestWithParam<NamedOperation> {};

TEST_P(FailingOpen, IsFollowedByNoClose) {
  ReaderRig rig;
  rig.AttachReader(kPort, kMode);
  rig.line.SetHeld(kPort, true);
  rig.MakeReady(kPort, kMode);

  GetParam().run(rig.ctx);

  EXPECT_EQ(rig.tap.closes, 0);
  EXPECT_TRUE(rig.tap.frames.empty());
  EXPECT_TRUE(rig.LastMsg().ends_with("Error")) << rig.LastMsg();
  ExpectFailureEnd(rig);
}

INSTANTIATE_TEST_SUITE_P(SettingsCommands, FailingOpen, testing::ValuesIn(kAllOperations),
                         CaseName());

TEST(SettingsCommands, ReportInTheCurrentLanguage) {
  ReaderRig rig;
  rig.settings.LanguageIndex = 1;
  rig.AttachReader(kPort, kMode);
  rig.MakeReady(kPort, kMode);
  SetFrequency(rig.ctx);
  EXPECT_EQ(rig.view.TextsOf(Ctl::pnMsg), (Texts{rig.Msg(50), rig.Msg(51)}));
}

}  // namespace
}  // namespace kelta::test
