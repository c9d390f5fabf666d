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
  // A lost reply does not undo the command.
  reader.Faults().no_answer = true;
  EXPECT_FALSE(Exchange("A00E2", 10));
  EXPECT_EQ(reader.Settings().mode_index, 2);
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
  EXPECT_EQ(*line.PortTimeouts(kPort), kChannelTimeouts);
  link.ClosePort();
  EXPECT_EQ(*line.PortTimeouts(kPort), SimLine::kInitialTimeouts);
  EXPECT_EQ(*line.PortLine(kPort), ModeLineSettings(9));
  // A mode that cannot be applied fails the open and changes nothing.
  EXPECT_FALSE(link.OpenPort(kPort, "19200,x,8,1"));
  EXPECT_EQ(*line.PortLine(kPort), ModeLineSettings(9));
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
  EXPECT_FALSE(link.OpenPort(kPort, "9600,q"));  // a refused mode: closed again

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

TEST_F(SimLineTest, FaultsShowInTheExchange) {
  struct Case {
    const char* name;
    std::function<void(ReaderFaults&)> fault;
    bool ok;
    int length;
    std::uint32_t took;
  };
  const Case cases[] = {
      {"none", [](ReaderFaults&) {}, true, 16, kSendMs},
      {"no answer", [](ReaderFaults& f) { f.no_answer = true; }, false, 0, kUnansweredMs},
      {"delay 50", [](ReaderFaults& f) { f.delay_ms = 50; }, true, 16, kFrameEndMs + 50},
      // The last reply that makes it: its first byte comes with the 120th idle read.
      {"delay 121", [](ReaderFaults& f) { f.delay_ms = 121; }, true, 16, kFrameEndMs + 121},
      {"delay 122", [](ReaderFaults& f) { f.delay_ms = 122; }, false, 0, kUnansweredMs},
      {"wrong checksum", [](ReaderFaults& f) { f.wrong_checksum = true; }, false, 16, kSendMs},
      {"lower case", [](ReaderFaults& f) { f.lower_case_checksum = true; }, false, 16, kSendMs},
      {"one long", [](ReaderFaults& f) { f.length_delta = 1; }, true, 17, kSendMs},
      {"one short", [](ReaderFaults& f) { f.length_delta = -1; }, true, 15, kSendMs},
      // Anything before the start byte keeps the end byte from ending the reply.
      {"garbage", [](ReaderFaults& f) { f.garbage = "xyz"; }, false, 19, kUnansweredMs},
      {"CR storm", [](ReaderFaults& f) { f.cr_storm = 5; }, false, 21, kUnansweredMs},
      {"burst", [](ReaderFaults& f) { f.burst = 1100; }, false, (1100 + 16) % 1024, kUnansweredMs},
      {"late and wrong",
       [](ReaderFaults& f) {
         f.delay_ms = 50;
         f.wrong_checksum = true;
       },
       false, 16, kFrameEndMs + 50},
      {"only for V",
       [](ReaderFaults& f) {
         f.only.push_back('V');  // not = "V": a false -Wrestrict of mingw's GCC 12
         f.no_answer = true;
       },
       true, 16, kSendMs},
  };
  for (const Case& c : cases) {
    reader.Faults() = {};
    c.fault(reader.Faults());
    EXPECT_EQ(Exchange("A00B"), c.ok) << c.name;
    EXPECT_EQ(link.ReplyLength(), c.length) << c.name;
    EXPECT_EQ(took, c.took) << c.name;
  }
  EXPECT_FALSE(Exchange("A00V")) << "only for V";
}

TEST_F(SimLineTest, AnswersOnlyEveryNthCommand) {
  reader.Faults().answer_every = 3;
  std::string answered;
  for (int i = 0; i < 6; ++i) answered += Exchange("A00B") ? "y" : "n";
  EXPECT_EQ(answered, "nnynny");
}

TEST_F(SimLineTest, ALateReplyLandsInTheNextExchange) {
  reader.Faults().delay_ms = 200;
  ASSERT_TRUE(Open());
  EXPECT_FALSE(link.SendCommand("A00B"));
  // The purge before "A00V" cannot drop a reply the reader has not sent yet.
  EXPECT_TRUE(link.SendCommand("A00V"));
  EXPECT_EQ(link.ReplyChars(2, 2), "B");
  // Once it has arrived, a purge drops it.
  clock.Advance(500);
  EXPECT_FALSE(link.SendCommand("A00V"));
  EXPECT_EQ(link.ReplyLength(), 0);
  link.ClosePort();
}

TEST_F(SimLineTest, AnEndlessStreamFlowsAtTheLineSpeed) {
  reader.Faults().endless_stream = true;
  ASSERT_TRUE(Open());  // 19200 baud, 11 bits a character: 572 us each
  port.PurgePort();
  const std::string frame = CommandFrame("A00B");
  port.WriteBytes(reinterpret_cast<const std::uint8_t*>(frame.data()),
                  static_cast<int>(frame.size()));
  const std::uint32_t start = clock.Ticks();
  std::string got;
  for (int i = 0; i < 5000; ++i) {
    std::uint8_t b = 0;
    ASSERT_EQ(port.ReadByte(&b), 1) << i;
    got += static_cast<char>(b);
  }
  EXPECT_EQ(got[0], '\x0A');
  EXPECT_EQ(got.find('\x0D'), std::string::npos);
  EXPECT_EQ(clock.Ticks() - start, 5000u * 572u / 1000u);
  // A purge does not stop the sender; closing the port does.
  port.PurgePort();
  std::uint8_t b = 0;
  EXPECT_EQ(port.ReadByte(&b), 1);
  link.ClosePort();
  ASSERT_TRUE(Open());
  EXPECT_EQ(port.ReadByte(&b), 0);
  link.ClosePort();
}

// On a real line a reply arrives a character time per byte: at 4800 baud one that starts
// shortly before the limit is still arriving when it passes.
TEST_F(SimLineTest, ASlowReplyStillArrivingAtTheLimitIsReadWhole) {
  constexpr int k4800Even = 1;
  line.SendAtLineSpeed(true);
  reader.Settings().mode_index = k4800Even;
  reader.Faults().delay_ms = 110;
  ASSERT_TRUE(Exchange("A00B", k4800Even));
  EXPECT_EQ(link.ReplyText(), ReplyFrame("B011QM880001"));
  // 16 characters of 11 bits at 4800 baud: 36.7 ms on the wire.
  EXPECT_EQ(took, kFrameEndMs + 110 + 37);
}

TEST_F(SimLineTest, AReaderThatVanishes) {
  reader.Faults().vanish_at_ms = 1000;
  ASSERT_TRUE(Exchange("A00B"));
  ASSERT_TRUE(Open());
  clock.Advance(1000);
  EXPECT_FALSE(link.SendCommand("A00B"));
  EXPECT_EQ(link.ReplyLength(), 0);
  link.ClosePort();
  EXPECT_FALSE(Open());
  EXPECT_FALSE(line.Opens().back().ok);
}

// A hang-up, unlike a silent reader, ends the wait at once, and the port is gone.
TEST_F(SimLineTest, APortThatHangsUp) {
  ASSERT_TRUE(Open());
  line.HangUp(kPort);
  const std::uint32_t start = clock.Ticks();
  EXPECT_FALSE(link.SendCommand("A00B"));
  EXPECT_EQ(clock.Ticks(), start);  // the first write fails: no pause, no wait
  EXPECT_TRUE(link.LastReplyWait().lost);
  EXPECT_FALSE(link.LastReplyWait().sent);
  EXPECT_TRUE(reader.Frames().empty());
  link.ClosePort();
  EXPECT_FALSE(line.IsOpen(kPort));
  EXPECT_FALSE(Open());
  EXPECT_EQ(port.LastOpenError().kind, OpenFailure::NoDevice);
}

}  // namespace
}  // namespace kelta
