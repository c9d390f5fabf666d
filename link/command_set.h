// The reader's command set: every command text the reader is sent.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelta {

// The twelve port modes, in the order of the baud-rate list; the index is the rate code.
inline constexpr std::array<const char*, 12> kBaudRateTable = {
    "4800,n,8,1",  "4800,e,8,1",  "9600,n,8,1",  "9600,e,8,1",  "19200,n,8,1",  "19200,e,8,1",
    "38400,n,8,1", "38400,e,8,1", "57600,n,8,1", "57600,e,8,1", "115200,n,8,1", "115200,e,8,1"};
inline constexpr int kDefaultModeIndex = 5;

// A mode given by its index ("8") or as it stands in the table ("57600,n,8,1"); nullopt for
// anything else.
std::optional<int> BaudRateIndex(std::string_view text);

// Replies the system relies on by length.
inline constexpr int kReaderInfoReplyLength = 16;
inline constexpr int kTagReplyLength = 17;

enum class Rs485Format : std::uint8_t { Bits24 = 0, Bits32 = 1, Bits40 = 2, Bits64 = 3 };
enum class WiegandFormat : std::uint8_t { Bits26 = 0, Bits34 = 1, Bits42 = 2 };
enum class RadioItem : std::uint8_t { Address = 0x06, Frequency = 0x0F, Channel = 0x0B };

// A rate code is the index of a mode in kBaudRateTable, 0 to 11.
class RateCode {
 public:
  // Clamps nothing: an index outside 0..11 is a program error (asserted).
  explicit RateCode(int index);
  int Index() const { return index_; }
  char Digit() const;  // '0'..'9', 'A', 'B'

 private:
  int index_;
};

std::string CmdReaderInfo();  // "A00B"
std::string CmdVersion();     // "A00V"
// "A00C" + serial number (8 characters) + reader ID (as shown, normally 2 characters).
std::string CmdSetReaderId(std::string_view serial, std::string_view id);
std::string CmdSetBaudRate(RateCode code);                            // "A00E" + rate code
std::string CmdSetOutputs(Rs485Format rs485, WiegandFormat wiegand);  // "A00L" + 2 digits
std::string CmdSetRssi(std::uint8_t level);                           // "A00O" + 2 hex
std::string CmdSetRadio(RadioItem item, std::uint8_t value);  // "A00W" + item + "01" + 2 hex
std::string CmdFactoryDefault();                              // "A00X5A"
std::string CmdReset();                                       // "A00HR"
std::string CmdReadTag();                                     // "A00F"

}  // namespace kelta
