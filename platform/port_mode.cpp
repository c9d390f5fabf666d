#include "platform/port_mode.h"

#include <array>
#include <cstdint>
#include <limits>

// The short form of the Windows mode syntax, "baud,parity,data,stop", and nothing else:
// all four fields, no spaces, no "baud=" keywords. The system only ever builds the four-field
// form, and a strict parser keeps a mistyped string from being half applied.
//
// As in the Windows MODE syntax, a two-digit baud rate is the old abbreviation of a
// standard rate ("96" is 9600, "19" is 19200).

namespace kelta {

namespace {

std::optional<unsigned> ParseDecimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > std::numeric_limits<unsigned>::max()) return std::nullopt;
  }
  return static_cast<unsigned>(value);
}

std::optional<unsigned> ParseBaud(std::string_view text) {
  struct Abbreviation {
    unsigned code;
    unsigned baud;
  };
  static constexpr std::array<Abbreviation, 9> kAbbreviations = {{{11, 110},
                                                                  {15, 150},
                                                                  {30, 300},
                                                                  {60, 600},
                                                                  {12, 1200},
                                                                  {24, 2400},
                                                                  {48, 4800},
                                                                  {96, 9600},
                                                                  {19, 19200}}};
  const auto value = ParseDecimal(text);
  if (!value || *value == 0) return std::nullopt;
  if (text.size() == 2) {
    for (const auto& a : kAbbreviations) {
      if (a.code == *value) return a.baud;
    }
  }
  return value;
}

std::optional<Parity> ParseParity(std::string_view text) {
  if (text.size() != 1) return std::nullopt;
  switch (text[0]) {
    case 'n':
    case 'N':
      return Parity::None;
    case 'e':
    case 'E':
      return Parity::Even;
    case 'o':
    case 'O':
      return Parity::Odd;
    case 'm':
    case 'M':
      return Parity::Mark;
    case 's':
    case 'S':
      return Parity::Space;
    default:
      return std::nullopt;
  }
}

std::optional<unsigned> ParseDataBits(std::string_view text) {
  if (text.size() != 1 || text[0] < '5' || text[0] > '8') return std::nullopt;
  return static_cast<unsigned>(text[0] - '0');
}

std::optional<StopBits> ParseStopBits(std::string_view text) {
  if (text == "1") return StopBits::One;
  if (text == "1.5") return StopBits::OneAndHalf;
  if (text == "2") return StopBits::Two;
  return std::nullopt;
}

}  // namespace

std::optional<LineSettings> ApplyModeString(std::string_view mode, const LineSettings& current) {
  std::array<std::string_view, 4> fields;
  std::size_t count = 0;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = mode.find(',', begin);
    if (count == fields.size()) return std::nullopt;  // a fifth field
    fields[count++] = mode.substr(begin, comma == std::string_view::npos ? comma : comma - begin);
    if (comma == std::string_view::npos) break;
    begin = comma + 1;
  }
  if (count != fields.size()) return std::nullopt;

  const auto baud = ParseBaud(fields[0]);
  const auto parity = ParseParity(fields[1]);
  const auto data_bits = ParseDataBits(fields[2]);
  const auto stop_bits = ParseStopBits(fields[3]);
  if (!baud || !parity || !data_bits || !stop_bits) return std::nullopt;

  LineSettings result = current;
  result.baud = *baud;
  result.parity = *parity;
  result.data_bits = *data_bits;
  result.stop_bits = *stop_bits;
  return result;
}

unsigned CharacterTimeUs(const LineSettings& line) {
  // In half bits, for the one and a half stop bits.
  const std::uint64_t stop = line.stop_bits == StopBits::One          ? 2
                             : line.stop_bits == StopBits::OneAndHalf ? 3
                                                                      : 4;
  const std::uint64_t half_bits =
      2 * (1 + line.data_bits + (line.parity == Parity::None ? 0 : 1)) + stop;
  const std::uint64_t per_second = 2 * std::uint64_t{line.baud > 0 ? line.baud : 1};
  return static_cast<unsigned>((half_bits * 1000000 + per_second - 1) / per_second);
}

}  // namespace kelta
