// What the reader operations share: their pauses, their beeps, the way an operation
// ends, and the conversion of reply characters for display.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "reader/context.h"
#include "reader/results.h"

namespace kelta {

// The pause before each try of a command.
inline constexpr std::uint32_t kTryPauseMs = 100;

inline constexpr unsigned kHighToneHz = 1000;
inline constexpr unsigned kLowToneHz = 300;
inline constexpr unsigned kOutcomeToneMs = 300;
inline constexpr unsigned kTagToneMs = 30;

// Message 2, "Start Scan Reader!".
inline constexpr int kMsgStartScan = 2;

// The reader's characters are bytes; the view takes UTF-8. Each byte is read as
// Latin-1 so that any reply displays as valid text, one character per byte.
std::string ReplyDisplay(std::string_view bytes);
// The inverse for text the view shows and a command carries back to the reader
// (the reader ID); characters beyond Latin-1 become '?'.
std::string ReplyBytes(std::string_view utf8);

// The end of a settings operation, in this order: lamp, message line, beep, window
// enabled. The cursor is the caller's HourglassCursor.
void FinishOperation(ReaderContext& ctx, Outcome outcome, int ok_message, int error_message);

}  // namespace kelta
