#include <cstdint>
#include <string>

#include "link/command_set.h"
#include "reader/guarded_exchange.h"
#include "reader/operations.h"
#include "reader/outcome.h"

namespace kelta {

namespace {

// Exchanges with the reader once the guard has passed; false when no command was accepted.
bool Exchange(ReaderContext& ctx, const GuardedExchange& exchange, CommandResult& result) {
  ReaderLink& link = ctx.link;
  if (!link.OpenPort(ctx.settings.ScanCommNo, ctx.settings.ScanBaudRate)) {
    // Nothing to close: also when the open failed because tag reading holds the port.
    result.open_error = link.Port().LastOpenError();
    return false;
  }
  result.opened = true;
  bool accepted = false;
  // A lost port ends the tries: none of them could reach the reader any more.
  for (int i = 0; i < exchange.tries && !accepted && !result.port_lost; ++i) {
    ctx.clock.Sleep(kTryPauseMs);
    const bool answered =
        link.SendCommand(CmdReaderInfo()) && link.ReplyLength() == kReaderInfoReplyLength;
    result.port_lost = link.LastReplyWait().lost;
    if (!answered) continue;
    result.reader_answered = true;
    ctx.clock.Sleep(kTryPauseMs);
    if (link.SendCommand(exchange.command())) {
      accepted = true;
      if (exchange.on_accept) exchange.on_accept();
    }
    result.port_lost = link.LastReplyWait().lost;
  }
  link.ClosePort();
  return accepted;
}

// Two upper-case hexadecimal digits for a scroll-bar position (at most 255 by its range).
std::uint8_t PositionByte(const ReaderContext& ctx, Ctl bar) {
  return static_cast<std::uint8_t>(ctx.view.Position(bar) & 0xFF);
}

}  // namespace

CommandResult RunGuardedExchange(ReaderContext& ctx, const GuardedExchange& exchange) {
  HourglassCursor hourglass(ctx.view);
  ctx.view.SetWindowEnabled(false);
  CommandResult result;
  if (ctx.ReaderReady) {
    result.outcome = Outcome::Failure;
    if (!exchange.prepare || exchange.prepare()) {
      ctx.view.SetText(Ctl::pnMsg, exchange.start_text());
      if (Exchange(ctx, exchange, result)) result.outcome = Outcome::Success;
    }
  }
  FinishOperation(ctx, result.outcome, exchange.ok_message, exchange.error_message);
  return result;
}

CommandResult SetReaderId(ReaderContext& ctx) {
  GuardedExchange ex;
  ex.start_text = [&] { return ctx.Msg(26) + " = " + ctx.view.Text(Ctl::pnID); };
  // The serial number comes from this try's probe, not from the window.
  ex.command = [&] {
    return CmdSetReaderId(ctx.link.ReplyChars(6, 13), ReplyBytes(ctx.view.Text(Ctl::pnID)));
  };
  ex.ok_message = 27;
  ex.error_message = 28;
  return RunGuardedExchange(ctx, ex);
}

CommandResult SetReaderBaudRate(ReaderContext& ctx) {
  // The window is disabled throughout, so the selection read once holds for the whole run.
  const int index = ctx.view.Selection(Ctl::cmbBaudRate);
  const bool listed = index >= 0 && index < static_cast<int>(kBaudRateTable.size());
  GuardedExchange ex;
  // A list without a selection names no rate: refuse before anything is opened.
  ex.prepare = [listed] { return listed; };
  ex.start_text = [&] { return ctx.Msg(32) + " = " + kBaudRateTable[index]; };
  ex.command = [index] { return CmdSetBaudRate(RateCode(index)); };
  // The reader answers in the new mode from now on; nothing is stored, so a restart
  // goes back to the stored mode.
  ex.on_accept = [&ctx, index] {
    ctx.settings.ScanBaudRateNo = index;
    ctx.settings.ScanBaudRate = kBaudRateTable[index];
  };
  ex.ok_message = 33;
  ex.error_message = 34;
  return RunGuardedExchange(ctx, ex);
}

CommandResult SetReaderMode(ReaderContext& ctx) {
  const int rs485 = ctx.view.Selection(Ctl::cmbRS485);
  const int wiegand = ctx.view.Selection(Ctl::cmbWiegand);
  GuardedExchange ex;
  ex.prepare = [rs485, wiegand] {
    return rs485 >= 0 && rs485 <= 3 && wiegand >= 0 && wiegand <= 2;
  };
  ex.start_text = [&] { return ctx.Msg(59); };
  ex.command = [rs485, wiegand] {
    return CmdSetOutputs(static_cast<Rs485Format>(rs485), static_cast<WiegandFormat>(wiegand));
  };
  ex.ok_message = 60;
  ex.error_message = 61;
  return RunGuardedExchange(ctx, ex);
}

CommandResult SetRssiLevel(ReaderContext& ctx) {
  // The RSSI level has no texts of its own: it reports with the reader-ID texts.
  GuardedExchange ex;
  ex.start_text = [&] { return ctx.Msg(26) + " = " + ctx.view.Text(Ctl::pnID); };
  ex.command = [&] { return CmdSetRssi(PositionByte(ctx, Ctl::sbRSSI)); };
  ex.ok_message = 27;
  ex.error_message = 28;
  return RunGuardedExchange(ctx, ex);
}

namespace {

CommandResult SetRadio(ReaderContext& ctx, RadioItem item, Ctl bar, int start_message) {
  GuardedExchange ex;
  ex.start_text = [&ctx, start_message] { return ctx.Msg(start_message); };
  ex.command = [&ctx, item, bar] { return CmdSetRadio(item, PositionByte(ctx, bar)); };
  ex.ok_message = start_message + 1;
  ex.error_message = start_message + 2;
  return RunGuardedExchange(ctx, ex);
}

}  // namespace

CommandResult SetAddress(ReaderContext& ctx) {
  return SetRadio(ctx, RadioItem::Address, Ctl::sbAddr, 47);
}
CommandResult SetFrequency(ReaderContext& ctx) {
  return SetRadio(ctx, RadioItem::Frequency, Ctl::sbFreq, 50);
}
CommandResult SetChannel(ReaderContext& ctx) {
  return SetRadio(ctx, RadioItem::Channel, Ctl::sbChannel, 53);
}

CommandResult FactoryDefault(ReaderContext& ctx) {
  GuardedExchange ex;
  // The window's factory values stand whatever the reader says; the mode in memory
  // stays, so later operations still reach the reader where it is.
  ex.prepare = [&] {
    ctx.view.SetPosition(Ctl::sbAddr, 49);
    ctx.view.SetPosition(Ctl::sbFreq, 59);
    ctx.view.SetPosition(Ctl::sbChannel, 0);
    ctx.view.SetPosition(Ctl::sbID, 1);
    ctx.view.SetSelection(Ctl::cmbBaudRate, kDefaultModeIndex);
    return true;
  };
  ex.start_text = [&] { return ctx.Msg(38); };
  ex.tries = 2;
  ex.command = [] { return CmdFactoryDefault(); };
  ex.ok_message = 39;
  ex.error_message = 40;
  return RunGuardedExchange(ctx, ex);
}

CommandResult ResetReader(ReaderContext& ctx) {
  // The reader restarts on this command: no probe, and a second try would find it busy.
  constexpr std::uint32_t kResetPauseMs = 50;
  HourglassCursor hourglass(ctx.view);
  ctx.view.SetWindowEnabled(false);
  CommandResult result;
  if (ctx.ReaderReady) {
    result.outcome = Outcome::Failure;
    ctx.view.SetText(Ctl::pnMsg, ctx.Msg(56));
    if (ctx.link.OpenPort(ctx.settings.ScanCommNo, ctx.settings.ScanBaudRate)) {
      result.opened = true;
      ctx.clock.Sleep(kResetPauseMs);
      if (ctx.link.SendCommand(CmdReset())) result.outcome = Outcome::Success;
      result.reader_answered = ctx.link.LastReplyWait().heard != ReplyHeard::Nothing;
      result.port_lost = ctx.link.LastReplyWait().lost;
      ctx.link.ClosePort();
    } else {
      result.open_error = ctx.link.Port().LastOpenError();
    }
  }
  FinishOperation(ctx, result.outcome, 57, 58);
  return result;
}

}  // namespace kelta
