#include "link/command_set.h"

#include <cassert>

#include "link/reader_link.h"

namespace kelta {

namespace {

constexpr std::string_view kPrefix = "A00";

std::string Command(char code, std::string_view arguments = {}) {
  std::string text(kPrefix);
  text += code;
  text += arguments;
  return text;
}

char DecimalDigit(std::uint8_t value) { return static_cast<char>('0' + value); }

}  // namespace

std::optional<int> BaudRateIndex(std::string_view text) {
  if (text.size() == 1 || text.size() == 2) {
    int index = 0;
    for (const char c : text) {
      if (c < '0' || c > '9') return std::nullopt;
      index = index * 10 + (c - '0');
    }
    if (index < static_cast<int>(kBaudRateTable.size())) return index;
    return std::nullopt;
  }
  for (std::size_t i = 0; i < kBaudRateTable.size(); ++i) {
    if (text == kBaudRateTable[i]) return static_cast<int>(i);
  }
  return std::nullopt;
}

RateCode::RateCode(int index) : index_(index) {
  assert(index >= 0 && index < static_cast<int>(kBaudRateTable.size()));
}

// The reader reads the rate code as one hexadecimal digit. at() keeps a bad index that got
// past the assert (release build) from reading beyond the digits.
char RateCode::Digit() const {
  return std::string_view("0123456789AB").at(static_cast<std::size_t>(index_));
}

std::string CmdReaderInfo() { return Command('B'); }
std::string CmdVersion() { return Command('V'); }

std::string CmdSetReaderId(std::string_view serial, std::string_view id) {
  std::string arguments(serial);
  arguments += id;
  return Command('C', arguments);
}

std::string CmdSetBaudRate(RateCode code) { return Command('E', std::string(1, code.Digit())); }

std::string CmdSetOutputs(Rs485Format rs485, WiegandFormat wiegand) {
  return Command('L', std::string{DecimalDigit(static_cast<std::uint8_t>(rs485)),
                                  DecimalDigit(static_cast<std::uint8_t>(wiegand))});
}

std::string CmdSetRssi(std::uint8_t level) { return Command('O', ByteToHex(level)); }

std::string CmdSetRadio(RadioItem item, std::uint8_t value) {
  return Command('W', ByteToHex(static_cast<std::uint8_t>(item)) + "01" + ByteToHex(value));
}

std::string CmdFactoryDefault() { return Command('X', "5A"); }
std::string CmdReset() { return Command('H', "R"); }
std::string CmdReadTag() { return Command('F'); }

}  // namespace kelta
