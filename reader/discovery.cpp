#include <string>

#include "link/command_set.h"
#include "reader/operations.h"
#include "reader/outcome.h"

namespace kelta {

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 16;
constexpr int kStoredPlaceTries = 3;
constexpr int kWalkTries = 2;
constexpr int kVersionTries = 3;
constexpr int kModeCount = static_cast<int>(kBaudRateTable.size());

void ShowScanPort(ReaderContext& ctx, int port) {
  ctx.view.SetText(Ctl::pnMsg, ctx.Msg(22) + " : #" + std::to_string(port));
}

// "A00B" on the open port until a full reader-information reply comes.
bool ProbeReader(ReaderContext& ctx, int tries) {
  for (int i = 0; i < tries; ++i) {
    ctx.clock.Sleep(kTryPauseMs);
    if (ctx.link.SendCommand(CmdReaderInfo()) && ctx.link.ReplyLength() == kReaderInfoReplyLength) {
      return true;
    }
  }
  return false;
}

bool ProbeStoredPlace(ReaderContext& ctx) {
  const Settings& s = ctx.settings;
  ctx.view.SetSelection(Ctl::cmbBaudRate, s.ScanBaudRateNo);
  if (!ctx.link.OpenPort(s.ScanCommNo, s.ScanBaudRate)) return false;
  ShowScanPort(ctx, s.ScanCommNo);
  const bool found = ProbeReader(ctx, kStoredPlaceTries);
  ctx.link.ClosePort();
  return found;
}

// Ports 1 to 16, on each every mode or only the locked one; stores the place found.
bool Walk(ReaderContext& ctx) {
  Settings& s = ctx.settings;
  const bool locked = ctx.view.Checked(Ctl::chkLock);
  // A stored index beyond the table cannot name a mode: the default stands in for it.
  const int locked_mode =
      s.ScanBaudRateNo >= 0 && s.ScanBaudRateNo < kModeCount ? s.ScanBaudRateNo : kDefaultModeIndex;
  for (int port = kFirstPort; port <= kLastPort; ++port) {
    for (int m = 0; m < kModeCount; ++m) {
      const int mode = locked ? locked_mode : m;
      ctx.view.SetSelection(Ctl::cmbBaudRate, mode);
      // A port that does not open is passed over with all its modes.
      if (!ctx.link.OpenPort(port, kBaudRateTable[mode])) break;
      ShowScanPort(ctx, port);
      const bool found = ProbeReader(ctx, kWalkTries);
      if (found) {
        s.ScanCommNo = port;
        s.ScanBaudRate = kBaudRateTable[mode];
        s.ScanBaudRateNo = mode;
        SaveScanSettings(ctx.store, s);
      }
      ctx.link.ClosePort();
      if (found) return true;
      if (locked) break;
    }
  }
  return false;
}

bool TwoDecimalDigits(const std::string& text) {
  return text.size() == 2 && text[0] >= '0' && text[0] <= '9' && text[1] >= '0' && text[1] <= '9';
}

// Shows the serial number and ID of the reader-information reply in the link.
void ShowReaderInfo(ReaderContext& ctx) {
  ctx.view.SetSelection(Ctl::cmbBaudRate, ctx.settings.ScanBaudRateNo);
  ctx.view.SetText(Ctl::pnSerial, ctx.Msg(19) + " : " + ReplyDisplay(ctx.link.ReplyChars(6, 13)));
  const std::string id = ctx.link.ReplyChars(3, 4);
  ctx.view.SetText(Ctl::pnID, ReplyDisplay(id));
  // Anything but two digits is shown as it came and leaves the bar where it stands.
  if (TwoDecimalDigits(id)) ctx.view.SetPosition(Ctl::sbID, (id[0] - '0') * 10 + (id[1] - '0'));
}

std::string PortSuffix(const ReaderContext& ctx) {
  return " : #" + std::to_string(ctx.settings.ScanCommNo) + ")";
}

bool FetchVersion(ReaderContext& ctx) {
  const Settings& s = ctx.settings;
  if (!ctx.link.OpenPort(s.ScanCommNo, s.ScanBaudRate)) return false;
  bool version = false;
  for (int i = 0; i < kVersionTries && !version; ++i) {
    ctx.clock.Sleep(kTryPauseMs);
    if (!ctx.link.SendCommand(CmdVersion())) continue;
    ctx.clock.Sleep(kTryPauseMs);
    ctx.view.SetText(Ctl::pnVersion,
                     ctx.Msg(21) + " : " + ReplyDisplay(ctx.link.ReplyChars(6, 13)));
    ctx.view.SetText(Ctl::pnMsg, ctx.Msg(23) + PortSuffix(ctx));
    version = true;
    ctx.ReaderReady = true;
    ctx.view.SetBusy(false);
    ctx.view.SetFill(Ctl::shComm, Fill::Yellow);
  }
  ctx.link.ClosePort();
  return version;
}

}  // namespace

void ScanReader(ReaderContext& ctx) {
  ReaderView& view = ctx.view;
  HourglassCursor hourglass(view);
  view.SetBusy(true);
  view.SetText(Ctl::pnMsg, ctx.Msg(18) + " ....");
  view.SetText(Ctl::pnSerial, ctx.Msg(19) + " : ________");
  view.SetText(Ctl::pnVersion, ctx.Msg(21) + " : __.__-__");
  view.SetText(Ctl::pnID, "__");
  ctx.pump.ProcessMessages();

  ctx.ReaderReady = false;
  bool found = ctx.settings.ScanCommNo > 0 && ProbeStoredPlace(ctx);
  if (!found) found = Walk(ctx);

  if (!found) {
    // The list shows the default while the stored index keeps its value.
    view.SetSelection(Ctl::cmbBaudRate, kDefaultModeIndex);
    view.SetText(Ctl::pnMsg, ctx.Msg(25));
    view.SetBusy(false);
    view.SetFill(Ctl::shComm, Fill::Red);
    ctx.tone.Beep(kLowToneHz, kOutcomeToneMs);
    return;
  }

  ShowReaderInfo(ctx);
  if (FetchVersion(ctx)) {
    ctx.tone.Beep(kHighToneHz, kOutcomeToneMs);
    return;
  }
  view.SetText(Ctl::pnMsg, ctx.Msg(24) + PortSuffix(ctx));
  view.SetBusy(false);
  view.SetFill(Ctl::shComm, Fill::Red);
  ctx.tone.Beep(kLowToneHz, kOutcomeToneMs);
}

}  // namespace kelta
