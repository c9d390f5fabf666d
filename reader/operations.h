// The reader operations, one for each button of the window. Each runs from start to
// end inside its click handler, reports through the view and returns what it came to.
#pragma once

#include "reader/context.h"
#include "reader/results.h"

namespace kelta {

// Discovery: the stored place, then the walk over ports and modes (btnScanClick).
ScanResult ScanReader(ReaderContext& ctx, const ScanScope& scope = {});

// Identity and output settings (btnIDClick, btnBaudRateClick, btnModeClick).
CommandResult SetReaderId(ReaderContext& ctx);
CommandResult SetReaderBaudRate(ReaderContext& ctx);
CommandResult SetReaderMode(ReaderContext& ctx);

// Radio and factory commands (btnRSSIClick, btnAddrClick, btnFreqClick,
// btnChannelClick, btnFactoryClick, btnResetClick).
CommandResult SetRssiLevel(ReaderContext& ctx);
CommandResult SetAddress(ReaderContext& ctx);
CommandResult SetFrequency(ReaderContext& ctx);
CommandResult SetChannel(ReaderContext& ctx);
CommandResult FactoryDefault(ReaderContext& ctx);
CommandResult ResetReader(ReaderContext& ctx);

// Continuous tag reading: a press starts it, the next (nested) press ends it
// (btnReadCardClick); the tag lamp's timer (tmrCardTimer). The starting press returns
// once reading has ended (Success) or did not start; the cancelling press returns Success
// at once, and a press between it and the end of the loop does nothing (Success).
CommandResult ReadCard(ReaderContext& ctx);
void CardTimerExpired(ReaderContext& ctx);

}  // namespace kelta
