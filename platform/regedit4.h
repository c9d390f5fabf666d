// The registry's own export syntax (REGEDIT4), as text: parsed, looked up, changed and
// written out again, without the file system, so that it can be used and tested alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelta {

// Larger files are not read at all: they count as unparsable.
inline constexpr std::size_t kMaxRegFileSize = std::size_t{1} << 20;

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

// A value as the registry keeps it: its type and its raw bytes (a REG_SZ includes its
// terminating zero, a REG_DWORD is 4 bytes little-endian).
struct RegValue {
  std::uint32_t type = kRegBinary;
  std::string data;
  friend bool operator==(const RegValue&, const RegValue&) = default;
};

// A REGEDIT4 file as read. Every line is kept as it was, so a save changes only the
// lines of the values written and keeps comments, other keys and other values.
class RegFile {
 public:
  // A file with just the header line.
  RegFile();

  // Nullopt when the text is not a REGEDIT4 file at all (no header line, a zero byte,
  // larger than kMaxRegFileSize). Lines it does not understand are kept and ignored.
  static std::optional<RegFile> Parse(std::string_view text);

  // Key names and value names compare without regard to ASCII letter case, as in the
  // registry.
  bool HasKey(std::string_view key) const;
  void CreateKey(std::string_view key);

  enum class Lookup { Missing, Unreadable, Found };
  // The value as importing the file would leave it: the last assignment of the name in
  // the key wins, a "name"=- line removes it. Unreadable: the line names the value but
  // its data cannot be read (say, a file cut short).
  Lookup Find(std::string_view key, std::string_view name, RegValue* value) const;

  // Replaces the value's first line in place (dropping later assignments of the same
  // name) or adds it at the end of the key; creates the key when missing.
  void Set(std::string_view key, std::string_view name, const RegValue& value);

  // The file's text, CRLF line ends.
  std::string Format() const;

 private:
  enum class Kind { Header, Other, Key, Value, Unreadable, Remove };
  struct Item {
    Kind kind = Kind::Other;
    std::vector<std::string> lines;  // as read, without line ends
    std::string name;                // the key of a Key item, the value name otherwise
    RegValue value;
    // A hex list whose last line ends in a backslash with no line after it: whatever
    // follows it in the text would be read as more of the list.
    bool open_continuation = false;
  };
  static Item ClosingLine();
  std::vector<Item> items_;
};

// One value line: "name"=dword:..., "name"="...", or "name"=hex(N):... for what a
// quoted text cannot hold (a zero byte inside, a line end).
std::string FormatRegValueLine(std::string_view name, const RegValue& value);

// A REG_DWORD of `number`.
RegValue RegDword(std::uint32_t number);

}  // namespace kelta
