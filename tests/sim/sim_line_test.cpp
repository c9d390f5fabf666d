// Exchanges with the simulated reader through the system's own channel and link, on the
// in-memory line and the virtual clock.
#include "sim/sim_line.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "link/command_set.h"
#include "link/reader_link.h"
#include "link/serial_port.h"

namespace kelta {
namespace {

constexpr int kPort = 3;
// A frame goes out with 9 ms of pauses; the reader has the whole frame after 8 of them.
constexpr std::uint32_t kSendMs = 9;
constexpr std::uint32_t kFrameEndMs = 8;
// An unanswered exchange: the send, then 121 idle reads of 1 ms.
constexpr std::uint32_t kUnansweredMs = kSendMs + kReplyWaitMs + 1;

class SimLineTest : public ::testing::Test {
 protected:
  bool Open(int mode = kDefaultModeIndex) { return link.OpenPort(kPort, kBaudRateTable[mode]); }
  // One exchange on a freshly opened port; its virtual duration lands in `took`.
  bool Exchange(const std::string& command, int mode = kDefaultModeIndex) {
    if (!Open(mode)) return false;
    const std::uint32_t start = clock.Ticks();
    const bool ok = link.SendCommand(command);
    took = clock.Ticks() - start;
    link.ClosePort();
    return ok;
  }

  VirtualClock clock;
  SimLine line{clock};
  SerialPort port{line, clock};
  NoEventPump pump;
  ReaderLink link{port, clock, pump};
  ReaderModel& reader = line.AttachReader(kPort);
  std::uint32_t took = 0;
};

TEST_F(SimLineTest, RepliesHaveTheLengthsAndFieldsTheSystemReads) {
  reader.Tags() = {{0x4D2, 1}};
  struct Case {
    std::string command;
    int length;  // 0: any
    int from, to;
    std::string field;
  };
  const Case cases[] = {
      {"A00B", kReaderInfoReplyLength, 3, 4, "01"},
      {"A00B", kReaderInfoReplyLength, 6, 13, "QM880001"},
      {"A00V", 0, 6, 13, "V2.10.04"},
      {"A00F", kTagReplyLength, 7, 14, "000004D2"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Exchange(c.command)) << c.command;
    EXPECT_EQ(took, kSendMs) << "a reply with no delay is read at once";
    if (c.length) {
      EXPECT_EQ(link.ReplyLength(), c.length) << c.command;
    }
    EXPECT_EQ(link.ReplyChars(c.from, c.to), c.field) << c.command;
  }
  reader.Tags().clear();
  ASSERT_TRUE(Exchange("A00F"));
  EXPECT_NE(link.ReplyLength(), kTagReplyLength);
}

TEST_F(SimLineTest, SettingsCommandsAnswerAndTakeEffect) {
  struct Case {
    std::string command;
    std::function<bool(const ReaderSettings&)> applied;
  };
  const Case cases[] = {
      {"A00CQM88000107", [](const ReaderSettings& s) { return s.id == "07"; }},
      {"A00L32", [](const ReaderSettings& s) { return s.rs485 == 3 && s.wiegand == 2; }},
      {"A00OFA", [](const ReaderSettings& s) { return s.rssi == 0xFA; }},
      {"A00W060105", [](const ReaderSettings& s) { return s.address == 0x05; }},
      {"A00W0F01FF", [](const ReaderSettings& s) { return s.frequency == 0xFF; }},
      {"A00W0B0110", [](const ReaderSettings& s) { return s.channel == 0x10; }},
      {"A00X5A", [](const ReaderSettings& s) { return s == FactorySettings(s) && s.id == "01"; }},
      {"A00HR", [](const ReaderSettings& s) { return s == FactorySettings(s); }},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(Exchange(c.command)) << c.command;
    EXPECT_GE(link.ReplyLength(), 4) << c.command;
    EXPECT_TRUE(c.applied(reader.Settings())) << c.command;
  }
  // The new ID shows in the next reader information.
  ASSERT_TRUE(Exchange("A00CQM88000142"));
  ASSERT_TRUE(Exchange("A00B"));
  EXPECT_EQ(link.ReplyChars(3, 4), "42");
}

TEST_F(SimLineTest, KeepsQuietAboutWhatItCannotTake) {
  const std::string refused[] = {
      "A00CQM88000207",  // another reader's serial number
      "A00CQM8800010",   // ID cut short
      "A00EC",           // no such rate code
      "A00Ea",           // lower case
      "A00L40",         "A00L03", "A00Ob1", "A00W070131", "A00W060231", "A00X5B",
      "A00HX",          "A00BX",  "A00Z",   "B00B",       "A0",
  };
  for (const std::string& command : refused) {
    EXPECT_FALSE(Exchange(command)) << command;
    EXPECT_EQ(link.ReplyLength(), 0) << command;
    EXPECT_EQ(took, kUnansweredMs) << command;
  }
  EXPECT_EQ(reader.Settings(), ReaderSettings{});
  EXPECT_EQ(reader.Frames().size(), std::size(refused));
}

TEST_F(SimLineTest, SwitchesItsModeAfterAnsweringTheBaudRateCommand) {
  ASSERT_TRUE(Exchange("A00EA"));  // answered at the old mode, 19200,e,8,1
  EXPECT_EQ(reader.Settings().mode_index, 10);
  EXPECT_FALSE(Exchange("A00B", kDefaultModeIndex));
  EXPECT_TRUE(Exchange("A00B", 10));
  EXPECT_EQ(link.ReplyChars(5, 5), "A");
}

TEST_F(SimLineTest, HearsOnlyItsOwnLineSettings) {
  struct Case {
    std::string mode;
    bool answers;
  };
  const Case cases[] = {
      {"19200,e,8,1", true},  {"19200,n,8,1", false}, {"19200,o,8,1", false},
      {"19200,e,7,1", false}, {"19200,e,8,2", false}, {"38400,e,8,1", false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(link.OpenPort(kPort, c.mode));
    EXPECT_EQ(link.SendCommand("A00B"), c.answers) << c.mode;
    link.ClosePort();
  }
  // Garbage heard at a wrong mode is never logged as a frame.
  EXPECT_EQ(reader.Frames().size(), 1u);
}

TEST_F(SimLineTest, PortsThatAreMissingHeldOrEmpty) {
  line.AddEmptyPort(4);
  line.AddEmptyPort(5);
  line.SetHeld(5, true);
  EXPECT_FALSE(link.OpenPort(0, kBaudRateTable[5]));
  EXPECT_FALSE(link.OpenPort(6, kBaudRateTable[5]));
  EXPECT_FALSE(link.OpenPort(5, kBaudRateTable[5]));
  ASSERT_TRUE(link.OpenPort(4, kBaudRateTable[5]));
  EXPECT_FALSE(link.SendCommand("A00B"));
  link.ClosePort();
  line.SetHeld(5, false);
  EXPECT_TRUE(link.OpenPort(5, kBaudRateTable[5]));
  link.ClosePort();

  // Open ports are exclusive, also against another channel on the same line.
  SerialPort other(line, clock);
  ASSERT_TRUE(Open());
  EXPECT_FALSE(other.OpenPort(kPort, kBaudRateTable[5]));
  link.ClosePort();
  EXPECT_TRUE(other.OpenPort(kPort, kBaudRateTable[5]));
  other.ClosePort();
}

TEST_F(SimLineTest, KeepsTimeoutsAndLineSettingsLikeARealPort) {
  ASSERT_TRUE(Open(9));
  EXPECT_EQ(*line.PortTimeouts(kPort), (CommTimeouts{0, 0, 1, 0, 0}));
  link.ClosePort();
  EXPECT_EQ(*line.PortTimeouts(kPort), SimLine::kInitialTimeouts);
  EXPECT_EQ(*line.PortLine(kPort), ModeLineSettings(9));
  // A mode that cannot be applied opens all the same and changes nothing.
  ASSERT_TRUE(link.OpenPort(kPort, "19200,x,8,1"));
  EXPECT_EQ(*line.PortLine(kPort), ModeLineSettings(9));
  link.ClosePort();
  EXPECT_FALSE(line.PortLine(99));
}

TEST_F(SimLineTest, LogsOpensClosesAndFramesOnTheVirtualClock) {
  line.AddEmptyPort(1);
  clock.Advance(1000);
  ASSERT_TRUE(link.OpenPort(1, kBaudRateTable[0]));
  link.SendCommand("A00B");
  link.ClosePort();
  EXPECT_FALSE(link.OpenPort(2, kBaudRateTable[0]));
  ASSERT_TRUE(Exchange("A00B"));
  ASSERT_TRUE(link.OpenPort(kPort, "9600,q"));
  link.ClosePort();

  const std::uint32_t at3 = 1000 + kUnansweredMs;
  const auto& opens = line.Opens();
  ASSERT_EQ(opens.size(), 4u);
  EXPECT_EQ(opens[0].port, 1);
  EXPECT_EQ(opens[0].mode, "4800,n,8,1");
  EXPECT_TRUE(opens[0].ok && opens[0].mode_applied);
  EXPECT_EQ(opens[0].time_ms, 1000u);
  EXPECT_EQ(opens[0].closed_ms, std::optional<std::uint32_t>(at3));
  EXPECT_EQ(opens[1].port, 2);
  EXPECT_FALSE(opens[1].ok);
  EXPECT_EQ(opens[1].mode, "");
  EXPECT_FALSE(opens[1].closed_ms);
  EXPECT_EQ(opens[2].mode, "19200,e,8,1");
  EXPECT_EQ(opens[2].time_ms, at3);
  EXPECT_EQ(opens[2].closed_ms, std::optional<std::uint32_t>(at3 + kSendMs));
  EXPECT_EQ(opens[3].mode, "9600,q");
  EXPECT_FALSE(opens[3].mode_applied);

  ASSERT_EQ(reader.Frames().size(), 1u);
  EXPECT_EQ(reader.Frames()[0].time_ms, at3 + kFrameEndMs);
  EXPECT_EQ(line.Commands(kPort), std::vector<std::string>{"A00B"});
}

TEST_F(SimLineTest, TagsAreHeardOnTheirOwnPolls) {
  reader.Tags() = {{0xA, 2}, {0xB, 3}};
  std::string heard;
  ASSERT_TRUE(Open());
  for (int poll = 1; poll <= 6; ++poll) {
    ASSERT_TRUE(link.SendCommand("A00F"));
    heard += link.ReplyLength() == kTagReplyLength ? link.ReplyChars(14, 14) : "-";
  }
  EXPECT_EQ(heard, "-ABA-B");
  // A reset starts the count again.
  ASSERT_TRUE(link.SendCommand("A00HR"));
  ASSERT_TRUE(link.SendCommand("A00F"));
  EXPECT_NE(link.ReplyLength(), kTagReplyLength);
  link.ClosePort();
}

}  // namespace
}  // namespace kelta
