#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "link/command_set.h"
#include "reader/operations.h"
#include "reader/outcome.h"

namespace kelta {

namespace {

// Disabled while reading, in this order, and enabled again in the same order. btnMode
// and GroupBox1 stay usable: their operations meet the port reading holds, and the
// channel refuses to open it a second time, so they fail without disturbing reading.
constexpr std::array<Ctl, 9> kReadingDisables = {Ctl::btnExit, Ctl::btnScan,     Ctl::btnFactory,
                                                 Ctl::btnID,   Ctl::btnBaudRate, Ctl::gbDefault,
                                                 Ctl::btnEng,  Ctl::btnGB,       Ctl::btnBIG5};

// The poll pause, cut into 1 ms steps so that the window keeps answering between polls.
constexpr std::uint32_t kPollPauseSteps = 80;

constexpr int kMsgCancelRead = 3;
constexpr int kMsgTagId = 15;
constexpr int kMsgOpenCom = 16;
constexpr int kMsgError = 17;

void SetReadingControls(ReaderView& view, bool enabled) {
  for (const Ctl ctl : kReadingDisables) view.SetEnabled(ctl, enabled);
}

std::string TagLine(const ReaderContext& ctx, const std::string& hex) {
  char value[24];
  std::snprintf(value, sizeof value, " : %010d  ", static_cast<int>(HexToValue(hex)));
  return ctx.Msg(kMsgTagId) + value + ReplyDisplay(hex) + "(H)";
}

// True when the port was lost in this poll.
bool PollOnce(ReaderContext& ctx) {
  // Each step's sleep is paced against the start of the pause: a platform sleep that
  // overshoots 1 ms by a fraction would otherwise stretch the 80 ms by a fifth. A step
  // that is already a whole millisecond late skips its sleep, so the pause still lasts
  // at least 80 ms.
  const std::uint32_t start = ctx.clock.Ticks();
  for (std::uint32_t step = 1; step <= kPollPauseSteps; ++step) {
    ctx.pump.ProcessMessages();
    if (ctx.clock.Ticks() - start <= step) ctx.clock.Sleep(1);
  }
  TagPoll poll;
  poll.replied = ctx.link.SendCommand(CmdReadTag());
  poll.port_lost = ctx.link.LastReplyWait().lost;
  poll.tag = poll.replied && ctx.link.ReplyLength() == kTagReplyLength;
  if (poll.tag) {
    poll.chars = ctx.link.ReplyChars(7, 14);
    poll.value = HexToValue(poll.chars);
  }
  if (ctx.events) ctx.events->TagPolled(poll);
  if (!poll.tag) return poll.port_lost;
  ctx.view.SetText(Ctl::pnCardID, TagLine(ctx, poll.chars));
  ctx.view.SetFill(Ctl::shCard, Fill::Yellow);
  ctx.view.StartCardTimer();
  ctx.tone.Beep(kHighToneHz, kTagToneMs);
  return false;
}

}  // namespace

CommandResult ReadCard(ReaderContext& ctx) {
  ReaderView& view = ctx.view;
  CommandResult result;
  if (!ctx.ReaderReady) {
    view.SetText(Ctl::pnMsg, ctx.Msg(kMsgStartScan));
    ctx.tone.Beep(kLowToneHz, kOutcomeToneMs);
    return result;
  }
  result.outcome = Outcome::Success;
  // The cancelling press arrives nested, from the running loop's event processing.
  if (ctx.TagReadActive) {
    ctx.TagReadActive = false;
    return result;
  }

  ctx.TagReadActive = true;
  const std::string caption = view.Text(Ctl::btnReadCard);
  view.SetText(Ctl::btnReadCard, ctx.Msg(kMsgCancelRead));
  SetReadingControls(view, false);

  const Settings& s = ctx.settings;
  result.opened = ctx.link.OpenPort(s.ScanCommNo, s.ScanBaudRate);
  if (result.opened) {
    // Blinking as when busy, but the window takes input so that the button can end it.
    view.SetBusy(true);
    view.SetWindowEnabled(true);
    // A lost port fails every poll at once, without the reply wait; the pause before each
    // still paces the loop, and reading ends on the press as always.
    while (ctx.TagReadActive) result.port_lost = PollOnce(ctx) || result.port_lost;
    view.SetBusy(false);
    view.SetFill(Ctl::shComm, Fill::Yellow);
    ctx.tone.Beep(kHighToneHz, kOutcomeToneMs);
    view.SetFill(Ctl::shCard, Fill::White);
    ctx.link.ClosePort();
  } else {
    result.outcome = Outcome::Failure;
    result.open_error = ctx.link.Port().LastOpenError();
    view.SetFill(Ctl::shComm, Fill::Red);
    view.SetText(Ctl::pnMsg, ctx.Msg(kMsgOpenCom) + " : " + ctx.PortLabel(s.ScanCommNo) + " " +
                                 ctx.Msg(kMsgError));
    ctx.tone.Beep(kLowToneHz, kOutcomeToneMs);
    ctx.TagReadActive = false;
  }

  view.SetText(Ctl::pnCardID, ctx.Msg(kMsgTagId));
  SetReadingControls(view, true);
  view.SetText(Ctl::btnReadCard, caption);
  return result;
}

void CardTimerExpired(ReaderContext& ctx) {
  ctx.view.SetFill(Ctl::shCard, Fill::White);
  ctx.view.StopCardTimer();
}

}  // namespace kelta
