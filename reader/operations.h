// The reader operations, one for each button of the window. Each runs from start to
// end inside its click handler and reports through the view.
#pragma once

#include "reader/context.h"

namespace kelta {

// Discovery: the stored place, then the walk over ports and modes (btnScanClick).
void ScanReader(ReaderContext& ctx);

// Identity and output settings (btnIDClick, btnBaudRateClick, btnModeClick).
void SetReaderId(ReaderContext& ctx);
void SetReaderBaudRate(ReaderContext& ctx);
void SetReaderMode(ReaderContext& ctx);

// Radio and factory commands (btnRSSIClick, btnAddrClick, btnFreqClick,
// btnChannelClick, btnFactoryClick, btnResetClick).
void SetRssiLevel(ReaderContext& ctx);
void SetAddress(ReaderContext& ctx);
void SetFrequency(ReaderContext& ctx);
void SetChannel(ReaderContext& ctx);
void FactoryDefault(ReaderContext& ctx);
void ResetReader(ReaderContext& ctx);

// Continuous tag reading: a press starts it, the next (nested) press ends it
// (btnReadCardClick); the tag lamp's timer (tmrCardTimer).
void ReadCard(ReaderContext& ctx);
void CardTimerExpired(ReaderContext& ctx);

}  // namespace kelta
