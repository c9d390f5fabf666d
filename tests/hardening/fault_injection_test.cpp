// A misbehaving reader on the virtual clock: whatever it sends, or stops sending, each
// operation ends, reports, and leaves the window usable with no port left open.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/reader_link.h"
#include "reader/operations.h"
#include "tests/link/scripted_device.h"
#include "tests/reader/reader_rig.h"

namespace kelta::test {
namespace {

constexpr int kPort = 3;
constexpr int kMode = 5;  // 19200,e,8,1
constexpr std::uint32_t kTagId = 0x4D2;
constexpr int kMsgReaderNotFind = 25;

enum class Op { Scan, SetId, ReadTag };

// What a failed or cancelled operation must leave behind, whatever the reader did.
void ExpectWindowUsable(const ReaderRig& rig) {
  EXPECT_TRUE(rig.view.WindowEnabled());
  EXPECT_FALSE(rig.view.Busy());
  EXPECT_FALSE(rig.view.Hourglass());
  EXPECT_FALSE(rig.ctx.TagReadActive);
  for (const auto& open : rig.line.Opens()) {
    EXPECT_TRUE(!open.ok || open.closed_ms.has_value()) << "COM" << open.port << " left open";
  }
  for (const Ctl ctl : {Ctl::btnExit, Ctl::btnScan, Ctl::btnID, Ctl::btnReadCard}) {
    EXPECT_TRUE(rig.view.Enabled(ctl)) << CtlName(ctl);
  }
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The operator's second press of btnReadCard after `polls` tag polls went out.
void CancelAfterPolls(ReaderRig& rig, int polls) {
  rig.pump.hook = [&rig, polls](int) {
    if (rig.ctx.TagReadActive && rig.tap.starts >= polls) ReadCard(rig.ctx);
  };
}

void RunOperation(ReaderRig& rig, Op op) {
  switch (op) {
    case Op::Scan:
      rig.view.SetChecked(Ctl::chkLock, false);
      rig.settings.ScanCommNo = kPort;
      rig.settings.ScanBaudRate = kBaudRateTable[kMode];
      rig.settings.ScanBaudRateNo = kMode;
      ScanReader(rig.ctx);
      break;
    case Op::SetId:
      rig.MakeReady(kPort, kMode);
      SetReaderId(rig.ctx);
      break;
    case Op::ReadTag:
      rig.MakeReady(kPort, kMode);
      CancelAfterPolls(rig, 4);
      ReadCard(rig.ctx);
      break;
  }
}

// The outcome of an operation whose reader gave it nothing usable.
void ExpectFailed(const ReaderRig& rig, Op op) {
  ExpectWindowUsable(rig);
  ASSERT_FALSE(rig.tone.sounds.empty());
  const FakeTone::Sound last = rig.tone.sounds.back();
  switch (op) {
    case Op::Scan:
      EXPECT_EQ(rig.LastMsg(), rig.Msg(kMsgReaderNotFind));
      EXPECT_FALSE(rig.ctx.ReaderReady);
      EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Red);
      EXPECT_EQ(last.hz, 300u);
      break;
    case Op::SetId:
      EXPECT_TRUE(EndsWith(rig.LastMsg(), "Error")) << rig.LastMsg();
      EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Red);
      EXPECT_EQ(last.hz, 300u);
      break;
    case Op::ReadTag:
      // Reading ends on the press as always, having shown no tag.
      EXPECT_GE(rig.FramesOf("A00F"), 4);
      EXPECT_EQ(rig.view.TextsOf(Ctl::pnCardID), std::vector<std::string>{"TAG ID"});
      EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Yellow);
      EXPECT_EQ(rig.view.FillOf(Ctl::shCard), Fill::White);
      EXPECT_EQ(last.hz, 1000u);
      EXPECT_EQ(rig.tap.closes, 1);
      break;
  }
}

struct ReplyFault {
  const char* name;
  std::function<void(ReaderFaults&)> set;
};

const ReplyFault kReplyFaults[] = {
    {"BadChecksum", [](ReaderFaults& f) { f.wrong_checksum = true; }},
    {"LowerCaseChecksum", [](ReaderFaults& f) { f.lower_case_checksum = true; }},
    {"ThreeLong", [](ReaderFaults& f) { f.length_delta = 3; }},
    {"FourShort", [](ReaderFaults& f) { f.length_delta = -4; }},
    {"GarbagePrefix", [](ReaderFaults& f) { f.garbage = "\x7F?ERR"; }},
    {"CrStorm", [](ReaderFaults& f) { f.cr_storm = 300; }},
    {"BurstOver1024", [](ReaderFaults& f) { f.burst = 1100; }},
    {"BurstOver2048", [](ReaderFaults& f) { f.burst = 2500; }},
    {"EndlessStream", [](ReaderFaults& f) { f.endless_stream = true; }},
    {"LateBy200Ms", [](ReaderFaults& f) { f.delay_ms = 200; }},
};

struct FaultCase {
  Op op;
  ReplyFault fault;
};

class ReplyFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(ReplyFaults, OperationEndsAsAFailureWithTheWindowUsable) {
  const FaultCase& c = GetParam();
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(kPort, kMode);
  reader.Tags().push_back({kTagId, 1});
  c.fault.set(reader.Faults());

  RunOperation(rig, c.op);

  ExpectFailed(rig, c.op);
  // The reader was reached: the failure is the reply's, not a missing port.
  EXPECT_FALSE(reader.Frames().empty());
}

std::vector<FaultCase> AllFaultCases() {
  std::vector<FaultCase> cases;
  for (const Op op : {Op::Scan, Op::SetId, Op::ReadTag}) {
    for (const ReplyFault& f : kReplyFaults) cases.push_back({op, f});
  }
  return cases;
}

std::string FaultCaseName(const testing::TestParamInfo<FaultCase>& info) {
  static const char* const kOps[] = {"Scan", "SetId", "ReadTag"};
  return std::string(kOps[static_cast<int>(info.param.op)]) + "_" + info.param.fault.name;
}

INSTANTIATE_TEST_SUITE_P(Hardening, ReplyFaults, testing::ValuesIn(AllFaultCases()), FaultCaseName);

// A burst of exactly one buffer before the frame puts the start byte back at the head of
// the buffer: that reply is read, even on the slowest line.
TEST(ReplyFaults, ReplyAfterExactlyOneBufferOfFillerIsRead) {
  for (const int mode : {0, kMode, 11}) {
    ReaderRig rig;
    ReaderModel& reader = rig.AttachReader(kPort, mode);
    reader.Faults().burst = kReplyBufferSize;
    rig.view.SetChecked(Ctl::chkLock, false);
    rig.settings.ScanCommNo = kPort;
    rig.settings.ScanBaudRate = kBaudRateTable[mode];
    rig.settings.ScanBaudRateNo = mode;
    ScanReader(rig.ctx);
    EXPECT_TRUE(rig.ctx.ReaderReady) << kBaudRateTable[mode];
    ExpectWindowUsable(rig);
  }
}

// The reader stops for good (its port hangs up) just as command `at` of the operation
// goes out: it hears that command no more than any later one.
struct StopCase {
  const char* name;
  Op op;
  int at;  // index into the commands heard in an undisturbed run
  std::function<void(const ReaderRig&)> expect;
};

class StopsAnswering : public testing::TestWithParam<StopCase> {};

TEST_P(StopsAnswering, MidwayTheOperationEndsAndReports) {
  const StopCase& c = GetParam();
  std::uint32_t stop_ms = 0;
  {
    ReaderRig dry;
    dry.AttachReader(kPort, kMode).Tags().push_back({kTagId, 1});
    RunOperation(dry, c.op);
    const auto& frames = dry.line.Reader(kPort)->Frames();
    ASSERT_GT(frames.size(), static_cast<std::size_t>(c.at));
    stop_ms = frames[static_cast<std::size_t>(c.at)].time_ms;
  }
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(kPort, kMode);
  reader.Tags().push_back({kTagId, 1});
  reader.Faults().vanish_at_ms = stop_ms;

  RunOperation(rig, c.op);

  ExpectWindowUsable(rig);
  EXPECT_EQ(reader.Frames().size(), static_cast<std::size_t>(c.at));
  c.expect(rig);
}

const StopCase kStopCases[] = {
    {"ScanAtTheStoredPlaceThenTheWholeWalk", Op::Scan, 0,
     [](const ReaderRig& rig) { ExpectFailed(rig, Op::Scan); }},
    // Found, and the place is kept, but without the version the reader is not ready.
    {"ScanBetweenInformationAndVersion", Op::Scan, 1,
     [](const ReaderRig& rig) {
       EXPECT_FALSE(rig.ctx.ReaderReady);
       EXPECT_EQ(rig.settings.ScanCommNo, kPort);
       EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Red);
       EXPECT_EQ(rig.tone.sounds.back().hz, 300u);
     }},
    {"SetIdAtTheProbe", Op::SetId, 0, [](const ReaderRig& rig) { ExpectFailed(rig, Op::SetId); }},
    {"SetIdAtTheCommand", Op::SetId, 1, [](const ReaderRig& rig) { ExpectFailed(rig, Op::SetId); }},
    // Two tags shown, then polls into the void until the press, which ends it as always.
    {"ReadTagAfterTwoPolls", Op::ReadTag, 2,
     [](const ReaderRig& rig) {
       EXPECT_GE(rig.tap.starts, 4);  // the later ones fail at their first write
       EXPECT_EQ(rig.view.Logged("fill shCard=Yellow").size(), 2u);
       EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Yellow);
       EXPECT_EQ(rig.tone.sounds.back().hz, 1000u);
       EXPECT_EQ(rig.tone.sounds.back().ms, 300u);
       EXPECT_EQ(rig.tap.closes, 1);
     }},
};

INSTANTIATE_TEST_SUITE_P(Hardening, StopsAnswering, testing::ValuesIn(kStopCases), CaseName());

// Reading on a port whose device is gone: every poll's first write fails, which ends the
// exchange (one read, 1 ms on this line); the pause still paces the loop, which keeps
// serving the window.
TEST(DeviceGone, TagReadingIdlesAtItsPaceUntilThePress) {
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(kPort, kMode);
  reader.Faults().vanish_at_ms = rig.clock.Ticks() + 1;  // after the open
  rig.MakeReady(kPort, kMode);
  CancelAfterPolls(rig, 10);
  const std::uint32_t start = rig.clock.Ticks();

  ReadCard(rig.ctx);

  const std::uint32_t took = rig.clock.Ticks() - start;
  EXPECT_GE(rig.tap.starts, 10);
  EXPECT_GE(took, 10u * (80 + 1));
  EXPECT_GE(rig.pump.calls, 10 * 80);
  EXPECT_TRUE(reader.Frames().empty());
  ExpectWindowUsable(rig);
  EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Yellow);
}

// Counts tag polls and notes when the first poll found the port lost.
struct PollCounter final : ReaderEvents {
  explicit PollCounter(ReaderRig& rig) : rig_(rig) {}
  void TagPolled(const TagPoll& poll) override {
    ++polls;
    if (poll.port_lost && lost_at_poll == 0) {
      lost_at_poll = polls;
      lost_at_ms = rig_.clock.Ticks();
      pump_calls_at_lost = rig_.pump.calls;
    }
    last_ms = rig_.clock.Ticks();
    last_pump_calls = rig_.pump.calls;
  }
  ReaderRig& rig_;
  int polls = 0;
  int lost_at_poll = 0;
  std::uint32_t lost_at_ms = 0;
  int pump_calls_at_lost = 0;
  std::uint32_t last_ms = 0;
  int last_pump_calls = 0;
};

// The port hangs up during reading in the window: reading goes on to the press as
// specified, but each poll on the dead port is only its pause (no 120 ms reply wait, no
// spinning: one pass of the loop per millisecond of the pause), and the next action opens
// the port afresh.
TEST(PortLost, TagReadingInTheWindowPollsAtItsPaceUntilThePress) {
  ReaderRig rig;
  rig.AttachReader(kPort, kMode).Tags().push_back({kTagId, 1});
  rig.MakeReady(kPort, kMode);
  PollCounter counter(rig);
  rig.ctx.events = &counter;
  constexpr int kLostPolls = 10;
  rig.pump.hook = [&](int) {
    if (counter.polls == 2 && rig.line.IsOpen(kPort)) rig.line.HangUp(kPort);
    if (rig.ctx.TagReadActive && counter.lost_at_poll > 0 &&
        counter.polls >= counter.lost_at_poll + kLostPolls) {
      ReadCard(rig.ctx);
    }
  };

  const CommandResult result = ReadCard(rig.ctx);

  EXPECT_TRUE(result.port_lost);
  EXPECT_EQ(result.outcome, Outcome::Success);
  ASSERT_EQ(counter.lost_at_poll, 3);
  const int lost_polls = counter.polls - counter.lost_at_poll;
  EXPECT_GE(lost_polls, kLostPolls);
  // Each poll on the dead port: the 80 ms pause only (no write pauses on a lost port).
  const std::uint32_t per_poll = (counter.last_ms - counter.lost_at_ms) / lost_polls;
  EXPECT_EQ(per_poll, 80u);
  EXPECT_EQ(counter.last_pump_calls - counter.pump_calls_at_lost, lost_polls * 80);
  ExpectWindowUsable(rig);
  EXPECT_EQ(rig.view.FillOf(Ctl::shComm), Fill::Yellow);
  EXPECT_FALSE(rig.line.IsOpen(kPort));

  // The converter back in: the next action opens the port anew and reaches the reader.
  rig.AttachReader(kPort, kMode);
  rig.ctx.events = nullptr;
  rig.pump.hook = nullptr;
  const CommandResult next = SetReaderId(rig.ctx);
  EXPECT_FALSE(next.port_lost);
  EXPECT_TRUE(next.opened);
  EXPECT_TRUE(next.reader_answered);
}

struct LostCase {
  const char* name;
  Op op;
  std::size_t frame;  // the port hangs up in the reply wait of this frame (1: the first)
};

class PortLostMidway : public testing::TestWithParam<LostCase> {};

// A hang-up ends the operation at once: no further tries, the port closed, the outcome
// marked, the window usable.
TEST_P(PortLostMidway, EndsTheOperationAndSaysSo) {
  const LostCase& c = GetParam();
  ReaderRig rig;
  ReaderModel& reader = rig.AttachReader(kPort, kMode);
  // Replies that take a while, so that each wait has idle passes to hang up in.
  reader.Faults().delay_ms = 50;
  rig.view.SetText(Ctl::pnID, "07");
  rig.MakeReady(kPort, kMode);
  rig.pump.hook = [&](int) {
    if (rig.tap.frames.size() == c.frame) rig.line.HangUp(kPort);
  };

  bool lost = false;
  if (c.op == Op::Scan) {
    rig.view.SetChecked(Ctl::chkLock, true);
    const ScanResult result = ScanReader(rig.ctx, {kPort, kPort, true});
    lost = result.port_lost;
    EXPECT_EQ(result.lost_port, kPort);
    EXPECT_FALSE(result.ready);
  } else {
    const CommandResult result = SetReaderId(rig.ctx);
    lost = result.port_lost;
    EXPECT_EQ(result.outcome, Outcome::Failure);
  }

  EXPECT_TRUE(lost);
  // Nothing was sent after the hang-up: no further try, no other command.
  EXPECT_EQ(reader.Frames().size(), c.frame);
  EXPECT_EQ(rig.tap.frames.size(), c.frame);
  ExpectWindowUsable(rig);
}

INSTANTIATE_TEST_SUITE_P(Hardening, PortLostMidway,
                         testing::Values(LostCase{"SetIdAtTheProbe", Op::SetId, 1},
                                         LostCase{"SetIdAtTheCommand", Op::SetId, 2},
                                         LostCase{"ScanAtTheStoredPlace", Op::Scan, 1},
                                         LostCase{"ScanAtTheVersion", Op::Scan, 2}),
                         CaseName());

// The exchange itself against a line that never falls idle.
struct StreamRig {
  VirtualClock clock;
  ScriptedDevice device{clock};
  SerialPort port{device, clock};
  NoEventPump pump;
  ReaderLink link{port, clock, pump};
  StreamRig() {
    device.ms_per_read_byte = 1;
    EXPECT_TRUE(port.OpenPort(3, "19200,e,8,1"));
  }
};

constexpr std::uint32_t kFirstByteMs = 20;
constexpr std::size_t kBuffer = kReplyBufferSize;

TEST(EndlessStream, EndsTheWaitOneBufferAfterTheLimitWasSeenPassed) {
  StreamRig rig;
  rig.device.Answer(kFirstByteMs, "\x0A" + std::string(10 * kBuffer, 'S'), 1);
  EXPECT_FALSE(rig.link.SendCommand("A00B"));
  // The limit is found passed when the first buffer is full; the second one ends it.
  EXPECT_EQ(rig.clock.Ticks(), kFirstByteMs + 2 * kBuffer);
  EXPECT_EQ(rig.link.ReplyLength(), 0);
  EXPECT_EQ(rig.link.ReplyText(), "");
}

TEST(EndlessStream, AReplyWithinTheBufferAfterTheLimitStillCompletes) {
  struct Case {
    const char* name;
    std::size_t filler;
    bool ok;
  };
  const Case cases[] = {
      {"one buffer", kBuffer, true},
      // A fast line fills its first buffer before the limit: it gets two more.
      {"two buffers, limit passed at the first", 2 * kBuffer, false},
  };
  for (const Case& c : cases) {
    StreamRig rig;
    rig.device.Answer(
        kFirstByteMs,
        std::string(c.filler, 'S') + ReplyFrame("QM880001") + std::string(10 * kBuffer, 'S'), 1);
    EXPECT_EQ(rig.link.SendCommand("A00B"), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(rig.link.ReplyText(), ReplyFrame("QM880001")) << c.name;
    }
  }
  // On a fast line (no time passes per byte) the limit is not yet passed at the first
  // wrap, so a reply after two buffers of filler is still read.
  StreamRig fast;
  fast.device.ms_per_read_byte = 0;
  fast.device.Answer(kFirstByteMs, std::string(2 * kBuffer, 'S') + ReplyFrame("FAST"));
  EXPECT_TRUE(fast.link.SendCommand("A00B"));
  EXPECT_EQ(fast.link.ReplyText(), ReplyFrame("FAST"));
}

}  // namespace
}  // namespace kelta::test
