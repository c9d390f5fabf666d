#include <algorithm>
#include <string>

#include "link/command_set.h"
#include "reader/operations.h"
#include "reader/outcome.h"
#include "reader/port_walk.h"

namespace kelta {

namespace {

constexpr int kStoredPlaceTries = 3;
constexpr int kVersionTries = 3;
constexpr int kModeCount = static_cast<int>(kBaudRateTable.size());

void ShowScanPort(ReaderContext& ctx, int port) {
  ctx.view.SetText(Ctl::pnMsg, ctx.Msg(22) + " : " + ctx.PortLabel(port, "#"));
}

// Opens a place to probe, and tells whoever listens how that went.
bool OpenToProbe(ReaderContext& ctx, int port, const std::string& mode) {
  const bool opened = ctx.link.OpenPort(port, mode);
  if (ctx.events) ctx.events->ScanOpened(port, mode, opened, ctx.link.Port().LastOpenError());
  return opened;
}

// "A00B" on the open port until a full reader-information reply comes.
bool ProbeReader(ReaderContext& ctx, int tries, int port, const std::string& mode) {
  for (int i = 0; i < tries; ++i) {
    ctx.clock.Sleep(kTryPauseMs);
    const bool found =
        ctx.link.SendCommand(CmdReaderInfo()) && ctx.link.ReplyLength() == kReaderInfoReplyLength;
    if (ctx.events) {
      ctx.events->ScanProbed(port, mode, found, ctx.link.LastReplyWait(), ctx.link.ReplyLength());
    }
    // A lost port answers no further try.
    if (found || ctx.link.LastReplyWait().lost) return found;
  }
  return false;
}

// Notes a port lost while discovery had it open.
void NoteLost(ReaderContext& ctx, int port, ScanResult& result) {
  if (!ctx.link.Port().Lost()) return;
  result.port_lost = true;
  result.lost_port = port;
}

bool ProbeStoredPlace(ReaderContext& ctx, ScanResult& result) {
  const Settings& s = ctx.settings;
  ctx.view.SetSelection(Ctl::cmbBaudRate, s.ScanBaudRateNo);
  if (!OpenToProbe(ctx, s.ScanCommNo, s.ScanBaudRate)) return false;
  ShowScanPort(ctx, s.ScanCommNo);
  const bool found = ProbeReader(ctx, kStoredPlaceTries, s.ScanCommNo, s.ScanBaudRate);
  ctx.link.ClosePort();
  NoteLost(ctx, s.ScanCommNo, result);
  return found;
}

bool PassedOver(const ScanScope& scope, int port) {
  return std::find(scope.passed_over.begin(), scope.passed_over.end(), port) !=
         scope.passed_over.end();
}

// The ports of the scope, on each every mode or only the locked one; stores the place
// found, and tells in `result` whether that worked. A port lost meanwhile is passed
// over with the rest of its modes.
bool Walk(ReaderContext& ctx, const ScanScope& scope, ScanResult& result) {
  Settings& s = ctx.settings;
  const bool locked = ctx.view.Checked(Ctl::chkLock);
  // A stored index beyond the table cannot name a mode: the default stands in for it.
  const int locked_mode =
      s.ScanBaudRateNo >= 0 && s.ScanBaudRateNo < kModeCount ? s.ScanBaudRateNo : kDefaultModeIndex;
  for (int port = scope.first_port; port <= scope.last_port; ++port) {
    if (PassedOver(scope, port)) continue;
    for (int m = 0; m < kModeCount; ++m) {
      const int mode = locked ? locked_mode : m;
      ctx.view.SetSelection(Ctl::cmbBaudRate, mode);
      // A port that does not open is passed over with all its modes.
      if (!OpenToProbe(ctx, port, kBaudRateTable[mode])) break;
      ShowScanPort(ctx, port);
      const bool found = ProbeReader(ctx, kWalkTries, port, kBaudRateTable[mode]);
      if (found) {
        s.ScanCommNo = port;
        s.ScanBaudRate = kBaudRateTable[mode];
        s.ScanBaudRateNo = mode;
        const SaveResult saved = SaveScanSettings(ctx.store, s);
        result.stored = saved.stored;
        result.store_error = saved.error;
      }
      ctx.link.ClosePort();
      if (found) return true;
      NoteLost(ctx, port, result);
      if (locked || ctx.link.Port().Lost()) break;
    }
  }
  return false;
}

// The same walk with every port at once: the place stored is the one the walk in order
// would have found, the lowest port in the first mode that answered there.
bool WalkAtOnce(ReaderContext& ctx, const ScanScope& scope, ScanResult& result) {
  Settings& s = ctx.settings;
  WalkPlan plan;
  plan.first_only = true;
  for (int port = scope.first_port; port <= scope.last_port; ++port) {
    if (!PassedOver(scope, port)) plan.ports.push_back(port);
  }
  if (ctx.view.Checked(Ctl::chkLock)) {
    plan.modes = {s.ScanBaudRateNo >= 0 && s.ScanBaudRateNo < kModeCount ? s.ScanBaudRateNo
                                                                         : kDefaultModeIndex};
  } else {
    for (int m = 0; m < kModeCount; ++m) plan.modes.push_back(m);
  }
  const std::vector<PortFinding> findings = WalkPortsAtOnce(*ctx.links, plan);
  const PortFinding* found = FirstFound(findings);
  // Told as the walk in order would have told it: up to the port where it stops.
  for (const PortFinding& f : findings) {
    if (ctx.events) ReplaySteps(f, *ctx.events);
    if (f.lost) {
      result.port_lost = true;
      result.lost_port = f.port;
    }
    if (&f == found) break;
  }
  if (found == nullptr) return false;
  s.ScanCommNo = found->port;
  s.ScanBaudRateNo = found->mode_index;
  s.ScanBaudRate = kBaudRateTable[static_cast<std::size_t>(found->mode_index)];
  const SaveResult saved = SaveScanSettings(ctx.store, s);
  result.stored = saved.stored;
  result.store_error = saved.error;
  result.serial = found->serial;
  result.id = found->id;
  return true;
}

bool TwoDecimalDigits(const std::string& text) {
  return text.size() == 2 && text[0] >= '0' && text[0] <= '9' && text[1] >= '0' && text[1] <= '9';
}

// Shows the serial number and ID of the reader-information reply in the link.
// A walk on links of their own has filled them in already.
void ShowReaderInfo(ReaderContext& ctx, ScanResult& result, bool reply_in_link) {
  if (reply_in_link) {
    result.serial = ctx.link.ReplyChars(6, 13);
    result.id = ctx.link.ReplyChars(3, 4);
  }
  ctx.view.SetSelection(Ctl::cmbBaudRate, ctx.settings.ScanBaudRateNo);
  ctx.view.SetText(Ctl::pnSerial, ctx.Msg(19) + " : " + ReplyDisplay(result.serial));
  const std::string& id = result.id;
  ctx.view.SetText(Ctl::pnID, ReplyDisplay(id));
  // Anything but two digits is shown as it came and leaves the bar where it stands.
  if (TwoDecimalDigits(id)) ctx.view.SetPosition(Ctl::sbID, (id[0] - '0') * 10 + (id[1] - '0'));
}

std::string PortSuffix(const ReaderContext& ctx) {
  return " : " + ctx.PortLabel(ctx.settings.ScanCommNo, "#") + ")";
}

bool FetchVersion(ReaderContext& ctx, ScanResult& result) {
  const Settings& s = ctx.settings;
  if (!ctx.link.OpenPort(s.ScanCommNo, s.ScanBaudRate)) return false;
  bool version = false;
  for (int i = 0; i < kVersionTries && !version; ++i) {
    ctx.clock.Sleep(kTryPauseMs);
    if (!ctx.link.SendCommand(CmdVersion())) {
      if (ctx.link.LastReplyWait().lost) break;
      continue;
    }
    ctx.clock.Sleep(kTryPauseMs);
    result.version = ctx.link.ReplyChars(6, 13);
    ctx.view.SetText(Ctl::pnVersion, ctx.Msg(21) + " : " + ReplyDisplay(result.version));
    ctx.view.SetText(Ctl::pnMsg, ctx.Msg(23) + PortSuffix(ctx));
    version = true;
    ctx.ReaderReady = true;
  }
  // The port is closed before the window is enabled, as at the end of every operation.
  ctx.link.ClosePort();
  if (version) {
    ctx.view.SetBusy(false);
    ctx.view.SetFill(Ctl::shComm, Fill::Yellow);
  }
  NoteLost(ctx, s.ScanCommNo, result);
  return version;
}

}  // namespace

ScanResult ScanReader(ReaderContext& ctx, const ScanScope& scope) {
  ReaderView& view = ctx.view;
  HourglassCursor hourglass(view);
  view.SetBusy(true);
  view.SetText(Ctl::pnMsg, ctx.Msg(18) + " ....");
  view.SetText(Ctl::pnSerial, ctx.Msg(19) + " : ________");
  view.SetText(Ctl::pnVersion, ctx.Msg(21) + " : __.__-__");
  view.SetText(Ctl::pnID, "__");
  ctx.pump.ProcessMessages();

  ctx.ReaderReady = false;
  ScanResult result;
  result.found = ctx.settings.ScanCommNo > 0 && ProbeStoredPlace(ctx, result);
  // Walked on links of their own, the reply is not in this link.
  const bool at_once = !result.found && scope.walk && ctx.links != nullptr;
  if (at_once) {
    result.found = WalkAtOnce(ctx, scope, result);
  } else if (!result.found && scope.walk) {
    result.found = Walk(ctx, scope, result);
  }

  if (!result.found) {
    // The list shows the default while the stored index keeps its value.
    view.SetSelection(Ctl::cmbBaudRate, kDefaultModeIndex);
    view.SetText(Ctl::pnMsg, ctx.Msg(25));
    view.SetBusy(false);
    view.SetFill(Ctl::shComm, Fill::Red);
    ctx.tone.Beep(kLowToneHz, kOutcomeToneMs);
    return result;
  }

  result.port = ctx.settings.ScanCommNo;
  result.mode = ctx.settings.ScanBaudRate;
  result.mode_index = ctx.settings.ScanBaudRateNo;
  ShowReaderInfo(ctx, result, !at_once);
  result.ready = FetchVersion(ctx, result);
  if (result.ready) {
    ctx.tone.Beep(kHighToneHz, kOutcomeToneMs);
    return result;
  }
  view.SetText(Ctl::pnMsg, ctx.Msg(24) + PortSuffix(ctx));
  view.SetBusy(false);
  view.SetFill(Ctl::shComm, Fill::Red);
  ctx.tone.Beep(kLowToneHz, kOutcomeToneMs);
  return result;
}

}  // namespace kelta
