// The port mode string, with the semantics of the Windows mode syntax: "19200,e,8,1".
#pragma once

#include <optional>
#include <string_view>

namespace kelta {

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

struct LineSettings {
  unsigned baud = 9600;
  Parity parity = Parity::None;
  unsigned data_bits = 8;
  StopBits stop_bits = StopBits::One;
  friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Applies `mode` to `current`: baud, parity (n/e/o/m/s), data bits (5 to 8), stop bits
// (1, 1.5 or 2). Returns nullopt, and so leaves every setting as it was, when the
// string cannot be applied as a whole.
std::optional<LineSettings> ApplyModeString(std::string_view mode, const LineSettings& current);

// How long one character takes on the wire (start bit, data, parity, stop bits), in
// microseconds, rounded up.
unsigned CharacterTimeUs(const LineSettings& line);

}  // namespace kelta
