#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/reader_link.h"
#include "scripted_device.h"

namespace kelta {
namespace {

using test::ScriptedDevice;

// Counts the reads of the tick counter, which the wait may only make on idle reads.
class CountingClock final : public Clock {
 public:
  explicit CountingClock(VirtualClock& inner) : inner_(inner) {}
  std::uint32_t Ticks() override {
    ++ticks_read;
    return inner_.Ticks();
  }
  void Sleep(std::uint32_t ms) override { inner_.Sleep(ms); }
  int ticks_read = 0;

 private:
  VirtualClock& inner_;
};

// A pass of the message loop takes `cost_ms`; the line delivers what comes meanwhile.
class CountingPump final : public EventPump {
 public:
  explicit CountingPump(VirtualClock& clock) : clock_(clock) {}
  void ProcessMessages() override { ++passes, clock_.Advance(cost_ms); }
  int passes = 0;
  std::uint32_t cost_ms = 0;
  VirtualClock& clock_;
};

// Nine milliseconds of pauses after the five writes of a frame.
constexpr std::uint32_t kSendMs = 9;
// Idle reads up to the first one that finds more than 120 ms gone.
constexpr int kIdleReadsToGiveUp = 121;

struct Rig {
  explicit Rig(std::uint32_t start = 0, const char* mode = "19200,e,8,1") : clock(start) {
    EXPECT_TRUE(link.OpenPort(3, mode));
  }

  // A first exchange that leaves "PREV" in ReplyText; returns the time the next send starts.
  std::uint32_t Prime() {
    device.Answer(clock.Ticks() + kSendMs, ReplyFrame("PREV"));
    EXPECT_TRUE(link.SendCommand("A00B"));
    device.writes.clear();
    device.idle_reads = 0;
    counting.ticks_read = 0;
    pump.passes = 0;
    return clock.Ticks();
  }

  VirtualClock clock;
  CountingClock counting{clock};
  CountingPump pump{clock};
  ScriptedDevice device{clock};
  SerialPort port{device, counting};
  ReaderLink link{port, counting, pump};
};

TEST(SendCommand, SendsTheFrameInFiveWritesWithTheirPauses) {
  Rig rig(1000);
  rig.link.SendCommand("A00B");
  const std::vector<ScriptedDevice::WriteRecord> expected = {
      {1000, "\x09"}, {1001, "A00B"}, {1006, "0"}, {1007, "A"}, {1008, "\r"}};
  EXPECT_EQ(rig.device.writes, expected);
  EXPECT_EQ(rig.device.calls.back(), "Purge 7");
}

TEST(SendCommand, PurgeDropsWhatArrivedBeforeTheSend) {
  Rig rig;
  rig.device.Answer(0, ReplyFrame("OLD"));
  rig.device.Answer(20, ReplyFrame("NEW"));
  EXPECT_TRUE(rig.link.SendCommand("A00B"));
  EXPECT_EQ(rig.link.ReplyText(), ReplyFrame("NEW"));
}

TEST(SendCommand, NoReplyGivesUpAfterTheLimitAndKeepsTheLastReply) {
  Rig rig;
  const std::uint32_t start = rig.Prime();
  EXPECT_FALSE(rig.link.SendCommand("A00V"));
  EXPECT_EQ(rig.clock.Ticks() - start, kSendMs + kIdleReadsToGiveUp);
  EXPECT_EQ(rig.device.idle_reads, kIdleReadsToGiveUp);
  EXPECT_EQ(rig.pump.passes, kIdleReadsToGiveUp - 1);  // none after the last read
  EXPECT_EQ(rig.counting.ticks_read, 1 + kIdleReadsToGiveUp);
  EXPECT_EQ(rig.link.ReplyLength(), 0);
  EXPECT_EQ(rig.link.ReplyText(), ReplyFrame("PREV"));
  EXPECT_EQ(rig.link.LastReplyWait().heard, ReplyHeard::Nothing);
}

// Passes of 30 ms: reads at 0, 31, 62, 93 and 124 ms after the send. A reply that comes
// during the pass before the last read is taken; a silent line gives up on that read.
TEST(SendCommand, AReplyThatCameDuringALongPassOfTheMessageLoopIsTaken) {
  for (const bool replied : {true, false}) {
    Rig rig;
    rig.pump.cost_ms = 30;
    if (replied) rig.device.Answer(kSendMs + 110, ReplyFrame("LATE"));
    EXPECT_EQ(rig.link.SendCommand("A00B"), replied);
    EXPECT_EQ(rig.link.ReplyText(), replied ? ReplyFrame("LATE") : "");
    EXPECT_EQ(rig.clock.Ticks(), kSendMs + (replied ? 124 : 125));
  }
}

TEST(SendCommand, TickCounterWrapAroundDoesNoHarm) {
  Rig silent(0xFFFFFFF0u);
  EXPECT_FALSE(silent.link.SendCommand("A00B"));
  EXPECT_EQ(silent.clock.Ticks(), 0xFFFFFFF0u + kSendMs + kIdleReadsToGiveUp);

  Rig answered(0xFFFFFFF0u);
  answered.device.Answer(0xFFFFFFF0u + 100, ReplyFrame("WRAP"));
  EXPECT_TRUE(answered.link.SendCommand("A00B"));
  EXPECT_EQ(answered.clock.Ticks(), 0xFFFFFFF0u + 100);
}

struct ReplyCase {
  const char* name;
  std::string bytes;
  bool ok;
  std::optional<std::string> text;  // nullopt: ReplyText keeps the earlier reply
  int length;
  ReplyHeard heard;
};

TEST(SendCommand, Replies) {
  using namespace std::string_literals;
  const std::vector<ReplyCase> cases = {
      {"empty body",
       "\x0A"
       "0A\r",
       true,
       "\x0A"
       "0A\r",
       4, ReplyHeard::Valid},
      {"reader info", ReplyFrame("070123456789"), true, ReplyFrame("070123456789"), 16,
       ReplyHeard::Valid},
      {"lower-case checksum",
       "\x0A"
       "0a\r",
       false,
       "\x0A"
       "0a\r",
       4, ReplyHeard::BadChecksum},
      {"wrong checksum",
       "\x0A"
       "X00\r",
       false,
       "\x0A"
       "X00\r",
       5, ReplyHeard::BadChecksum},
      {"start and end only", "\x0A\r", false, "\x0A\r", 2, ReplyHeard::BadChecksum},
      {"zero byte in body",
       ReplyFrame("12\0"
                  "34"s),
       true,
       "\x0A"
       "12",
       9, ReplyHeard::Valid},
      {"0x0D in body ends it",
       "\x0A"
       "X\r"
       "0A\r",
       false,
       "\x0A"
       "X\r",
       3, ReplyHeard::BadChecksum},
      {"0x0D before the start", "\r" + ReplyFrame(""), false, std::nullopt, 5, ReplyHeard::NoFrame},
      {"garbage before the start", "Z" + ReplyFrame(""), false, std::nullopt, 5,
       ReplyHeard::NoFrame},
      {"a frame without its end",
       "\x0A"
       "12",
       false, std::nullopt, 3, ReplyHeard::Unfinished},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    const std::uint32_t start = rig.Prime();
    rig.device.Answer(start + kSendMs + 3, c.bytes);
    EXPECT_EQ(rig.link.SendCommand("A00B"), c.ok);
    EXPECT_EQ(rig.link.ReplyText(), c.text.value_or(ReplyFrame("PREV")));
    EXPECT_EQ(rig.link.ReplyLength(), c.length);
    EXPECT_EQ(rig.link.LastReplyWait().heard, c.heard);
    EXPECT_EQ(rig.link.LastReplyWait().bytes, static_cast<std::uint32_t>(c.length));
    const auto& buffer = rig.link.ReplyBuffer();
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + c.length),
              c.bytes.substr(0, static_cast<std::size_t>(c.length)));
  }
}

TEST(SendCommand, ReplyCompletingOnThe1024thByteLeavesAnEmptyText) {
  Rig rig;
  const std::uint32_t start = rig.Prime();
  std::string reply(1024, 'X');
  reply.front() = '\x0A';
  reply.back() = '\r';
  rig.device.Answer(start + 20, reply);
  EXPECT_FALSE(rig.link.SendCommand("A00B"));
  EXPECT_EQ(rig.link.ReplyLength(), 0);
  EXPECT_EQ(rig.link.ReplyText(), "");
}

TEST(SendCommand, AfterTheWrapTheNextBytesStartTheBufferAgain) {
  Rig rig;
  rig.device.Answer(20, std::string(kReplyBufferSize, 'X') + ReplyFrame("AB"));
  EXPECT_TRUE(rig.link.SendCommand("A00B"));
  EXPECT_EQ(rig.link.ReplyLength(), 6);
  EXPECT_EQ(rig.link.ReplyText(), ReplyFrame("AB"));
}

TEST(SendCommand, AStreamingReplyIsNotCutOffAtTheLimit) {
  const std::string reply = ReplyFrame(std::string(146, 'S'));
  Rig rig;
  rig.device.ms_per_read_byte = 1;
  rig.device.Answer(100, reply, 1);
  EXPECT_TRUE(rig.link.SendCommand("A00B"));
  EXPECT_EQ(rig.link.ReplyLength(), 150);
  EXPECT_GT(rig.clock.Ticks() - kSendMs, kReplyWaitMs);
}

// Past the limit, the idle 1 ms reads after the last byte that end the wait: the first
// of them, then more than two character times of the port's mode.
TEST(SendCommand, AfterTheLimitAGapOfTwoCharacterTimesEndsTheWait) {
  const std::string reply = ReplyFrame(std::string(146, 'S'));
  for (auto [mode, reads_to_end] :
       {std::pair{"115200,n,8,1", 2}, {"19200,e,8,1", 3}, {"4800,e,8,1", 6}}) {
    for (const int gap : {reads_to_end - 1, reads_to_end}) {
      SCOPED_TRACE(std::string(mode) + ", gap " + std::to_string(gap));
      Rig rig(0, mode);
      rig.device.ms_per_read_byte = 1;
      rig.device.Answer(100, reply.substr(0, 40), 1);
      rig.device.Answer(140 + static_cast<std::uint32_t>(gap), reply.substr(40), 1);
      const bool whole = gap < reads_to_end;
      EXPECT_EQ(rig.link.SendCommand("A00B"), whole);
      EXPECT_EQ(rig.link.ReplyLength(), whole ? 150 : 40);
    }
  }
}

TEST(SendCommand, FailingReadsCountAsIdle) {
  Rig rig;
  rig.device.read_result_when_idle = -2;
  EXPECT_FALSE(rig.link.SendCommand("A00B"));
  EXPECT_EQ(rig.link.ReplyLength(), 0);
  EXPECT_EQ(rig.device.idle_reads, kIdleReadsToGiveUp);
}

// A port that has gone ends the wait on its first read, and the next command goes nowhere
// and waits for nothing.
TEST(SendCommand, LostPortEndsTheWaitAtOnce) {
  Rig rig;
  rig.device.read_result_when_idle = kPortLost;
  EXPECT_FALSE(rig.link.SendCommand("A00B"));
  EXPECT_TRUE(rig.link.LastReplyWait().lost);
  EXPECT_TRUE(rig.link.LastReplyWait().sent);
  EXPECT_EQ(rig.link.LastReplyWait().heard, ReplyHeard::Nothing);
  EXPECT_EQ(rig.device.idle_reads, 1);
  EXPECT_EQ(rig.clock.Ticks(), kSendMs + 1);
  EXPECT_TRUE(rig.port.Lost());

  rig.device.writes.clear();  // nor the pauses after the writes
  EXPECT_FALSE(rig.link.SendCommand("A00B"));
  EXPECT_TRUE(rig.link.LastReplyWait().lost);
  EXPECT_FALSE(rig.link.LastReplyWait().sent);
  EXPECT_TRUE(rig.device.writes.empty());
  EXPECT_EQ(rig.device.idle_reads, 1);
  EXPECT_EQ(rig.clock.Ticks(), kSendMs + 1);
}

// A write that fails (its time-out passed) ends the exchange: no more of the frame, no
// reply wait, one read to tell a lost port from a stalled one.
TEST(SendCommand, AFailedWriteFailsTheExchange) {
  Rig rig;
  rig.device.write_result = false;
  rig.device.Answer(20, ReplyFrame(""));
  EXPECT_FALSE(rig.link.SendCommand("A00B"));
  EXPECT_FALSE(rig.link.LastReplyWait().sent);
  EXPECT_FALSE(rig.link.LastReplyWait().lost);
  EXPECT_EQ(rig.device.writes.size(), 1u);
  EXPECT_EQ(rig.device.idle_reads, 1);
}

TEST(SendCommand, ClosedPortSendsNothingAndWaitsOutTheLimit) {
  Rig rig;
  rig.port.ClosePort();
  rig.device.Answer(0, ReplyFrame(""));
  EXPECT_FALSE(rig.link.SendCommand("A00B"));
  EXPECT_TRUE(rig.device.writes.empty());
  EXPECT_EQ(rig.clock.Ticks(), std::uint32_t{kIdleReadsToGiveUp});  // no write pauses
}

TEST(SendCommand, RefusesATextLongerThanItsLengthByte) {
  Rig rig;
  const std::string text = "A00C" + std::string(252, '1');  // 256: would go out as "A00C"
#ifdef NDEBUG
  EXPECT_FALSE(rig.link.SendCommand(text));
  EXPECT_TRUE(rig.device.writes.empty());
#else
  EXPECT_DEATH(rig.link.SendCommand(text), "");
#endif
  rig.device.writes.clear();
  const std::string longest(255, 'A');
  rig.link.SendCommand(longest);
  EXPECT_EQ(rig.device.Written(), CommandFrame(longest));
}

TEST(ReplyChars, OneBasedAndNeverPastTheEnd) {
  Rig rig;
  const std::string reply = ReplyFrame("X07Y12345678");  // 16 bytes
  rig.device.Answer(20, reply);
  ASSERT_TRUE(rig.link.SendCommand("A00B"));
  const std::vector<std::tuple<int, int, std::string>> cases = {
      {1, 1, "\x0A"},      {3, 4, "07"},
      {6, 13, "12345678"}, {14, 20, reply.substr(13)},
      {17, 20, ""},        {0, 2, reply.substr(0, 2)},
      {5, 4, ""},          {-3, -1, ""}};
  for (const auto& [m, n, chars] : cases)
    EXPECT_EQ(rig.link.ReplyChars(m, n), chars) << m << ".." << n;
}

}  // namespace
}  // namespace kelta
