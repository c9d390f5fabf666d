#include "platform/regedit4.h"

#include <utility>

namespace kelta {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) {
    s.remove_prefix(1);
  }
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) {
    s.remove_suffix(1);
  }
  return s;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) {
      return false;
    }
  }
  return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = LowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// 1 to 8 hex digits, nothing else.
std::optional<std::uint32_t> ParseHexNumber(std::string_view s) {
  if (s.empty() || s.size() > 8) {
    return std::nullopt;
  }
  std::uint32_t number = 0;
  for (const char c : s) {
    const int digit = HexDigit(c);
    if (digit < 0) {
      return std::nullopt;
    }
    number = number << 4 | static_cast<std::uint32_t>(digit);
  }
  return number;
}

// "00,4f,ff": bytes of one or two hex digits, blanks allowed around them.
std::optional<std::string> ParseHexList(std::string_view s) {
  std::string bytes;
  s = TrimRight(TrimLeft(s));
  if (s.empty()) {
    return bytes;
  }
  while (true) {
    const std::size_t comma = s.find(',');
    const std::string_view token = TrimRight(TrimLeft(s.substr(0, comma)));
    if (token.size() > 2) {
      return std::nullopt;
    }
    const std::optional<std::uint32_t> byte = ParseHexNumber(token);
    if (!byte) {
      return std::nullopt;
    }
    bytes += static_cast<char>(*byte);
    if (comma == std::string_view::npos) {
      return bytes;
    }
    s.remove_prefix(comma + 1);
  }
}

// A quoted name or text at the start of `s`; only \\ and \" are escapes in REGEDIT4.
// On success `s` is left just after the closing quote.
std::optional<std::string> ParseQuoted(std::string_view& s) {
  if (s.empty() || s.front() != '"') {
    return std::nullopt;
  }
  std::string text;
  for (std::size_t i = 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') {
      s.remove_prefix(i + 1);
      return text;
    }
    if (c == '\\') {
      if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) {
        return std::nullopt;
      }
      ++i;
    }
    text += s[i];
  }
  return std::nullopt;
}

std::string Quote(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') {
      quoted += '\\';
    }
    quoted += c;
  }
  return quoted + '"';
}

enum class DataKind { Value, Remove, Unreadable };

// The part after "name"=.
DataKind ParseData(std::string_view s, RegValue* value) {
  s = TrimRight(TrimLeft(s));
  if (s == "-") {
    return DataKind::Remove;
  }
  if (!s.empty() && s.front() == '"') {
    std::optional<std::string> text = ParseQuoted(s);
    if (!text || !TrimLeft(s).empty()) {
      return DataKind::Unreadable;
    }
    *value = RegValue{kRegSz, std::move(*text) + '\0'};
    return DataKind::Value;
  }
  if (StartsWithNoCase(s, "dword:")) {
    const std::optional<std::uint32_t> number = ParseHexNumber(s.substr(6));
    if (!number) {
      return DataKind::Unreadable;
    }
    *value = RegDword(*number);
    return DataKind::Value;
  }
  std::uint32_t type = kRegBinary;
  if (StartsWithNoCase(s, "hex:")) {
    s.remove_prefix(4);
  } else if (StartsWithNoCase(s, "hex(")) {
    const std::size_t close = s.find("):");
    const std::optional<std::uint32_t> number =
        close == std::string_view::npos ? std::nullopt : ParseHexNumber(s.substr(4, close - 4));
    if (!number) {
      return DataKind::Unreadable;
    }
    type = *number;
    s.remove_prefix(close + 2);
  } else {
    return DataKind::Unreadable;
  }
  std::optional<std::string> bytes = ParseHexList(s);
  if (!bytes) {
    return DataKind::Unreadable;
  }
  *value = RegValue{type, std::move(*bytes)};
  return DataKind::Value;
}

bool IsBlankLine(const std::vector<std::string>& lines) {
  return lines.size() == 1 && TrimLeft(lines[0]).empty();
}

}  // namespace

RegValue RegDword(std::uint32_t number) {
  std::string bytes(4, '\0');
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[i] = static_cast<char>(number >> (8 * i) & 0xFF);
  }
  return RegValue{kRegDword, std::move(bytes)};
}

std::string FormatRegValueLine(std::string_view name, const RegValue& value) {
  std::string line = name.empty() ? std::string("@") : Quote(name);
  line += '=';
  if (value.type == kRegDword && value.data.size() == 4) {
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      number |= static_cast<std::uint32_t>(static_cast<unsigned char>(value.data[i])) << (8 * i);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    line += "dword:";
    for (int shift = 28; shift >= 0; shift -= 4) {
      line += kDigits[number >> shift & 0xF];
    }
    return line;
  }
  if (value.type == kRegSz && !value.data.empty() &&
      value.data.find('\0') == value.data.size() - 1 &&
      value.data.find_first_of("\r\n") == std::string::npos) {
    return line + Quote(std::string_view(value.data).substr(0, value.data.size() - 1));
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  if (value.type == kRegBinary) {
    line += "hex:";
  } else {
    line += "hex(";
    std::string type;
    std::uint32_t rest = value.type;
    do {
      type.insert(type.begin(), kDigits[rest & 0xF]);
      rest >>= 4;
    } while (rest != 0);
    line += type + "):";
  }
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    const auto byte = static_cast<unsigned char>(value.data[i]);
    if (i > 0) {
      line += ',';
    }
    line += kDigits[byte >> 4];
    line += kDigits[byte & 0xF];
  }
  return line;
}

RegFile::RegFile() { items_.push_back(Item{Kind::Header, {"REGEDIT4"}, {}, {}}); }

std::optional<RegFile> RegFile::Parse(std::string_view text) {
  if (text.size() > kMaxRegFileSize || text.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  }
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    lines.push_back(line);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  if (lines.empty() || TrimRight(lines[0]) != "REGEDIT4") {
    return std::nullopt;
  }
  RegFile file;
  file.items_[0].lines = {std::string(lines[0])};
  for (std::size_t i = 1; i < lines.size(); ++i) {
    Item item{Kind::Other, {std::string(lines[i])}, {}, {}};
    std::string_view rest = TrimLeft(lines[i]);
    if (!rest.empty() && rest.front() == '[') {
      item.kind = Kind::Key;
      rest = TrimRight(rest);
      // A header cut short still starts a key (one that matches nothing), so the values
      // after it are never taken for values of the key before it.
      if (rest.size() >= 2 && rest.back() == ']') {
        item.name = std::string(rest.substr(1, rest.size() - 2));
      }
    } else if (!rest.empty() && (rest.front() == '"' || rest.front() == '@')) {
      std::optional<std::string> name;
      if (rest.front() == '@') {
        name = std::string();
        rest.remove_prefix(1);
      } else {
        name = ParseQuoted(rest);
      }
      rest = TrimLeft(rest);
      if (name && !rest.empty() && rest.front() == '=') {
        item.name = std::move(*name);
        std::string data(TrimLeft(rest.substr(1)));
        bool cut_short = false;
        if (StartsWithNoCase(data, "hex")) {
          // A hex list goes on over lines that end in a backslash.
          // Trimmed in place: a value of many thousand lines stays linear to read.
          while (true) {
            while (!data.empty() && IsBlank(data.back())) {
              data.pop_back();
            }
            if (data.empty() || data.back() != '\\') {
              break;
            }
            if (i + 1 >= lines.size()) {
              cut_short = true;
              break;
            }
            data.pop_back();
            ++i;
            item.lines.emplace_back(lines[i]);
            data += TrimLeft(lines[i]);
          }
        }
        item.open_continuation = cut_short;
        const DataKind kind = cut_short ? DataKind::Unreadable : ParseData(data, &item.value);
        item.kind = kind == DataKind::Value    ? Kind::Value
                    : kind == DataKind::Remove ? Kind::Remove
                                               : Kind::Unreadable;
      }
    }
    file.items_.push_back(std::move(item));
  }
  return file;
}

bool RegFile::HasKey(std::string_view key) const {
  for (const Item& item : items_) {
    if (item.kind == Kind::Key && EqualsNoCase(item.name, key)) {
      return true;
    }
  }
  return false;
}

// Read after a hex list left open at the end of the file, a line becomes part of the
// list. This one ends the list (which stays as unreadable as it was) whatever its last
// line ends in, so that what a save adds after it stands on its own; a blank line would
// not, after a line ending in two backslashes.
RegFile::Item RegFile::ClosingLine() {
  return Item{Kind::Other, {"; (the hex value above was cut short)"}, {}, {}};
}

void RegFile::CreateKey(std::string_view key) {
  if (items_.back().open_continuation) {
    items_.push_back(ClosingLine());
  }
  if (!IsBlankLine(items_.back().lines)) {
    items_.push_back(Item{Kind::Other, {""}, {}, {}});
  }
  // (Appended piece by piece: mingw's g++ 12 takes "[" + key + "]" for an overlapping copy.)
  std::string line = "[";
  line.append(key).push_back(']');
  items_.push_back(Item{Kind::Key, {std::move(line)}, std::string(key), {}});
  items_.push_back(Item{Kind::Other, {""}, {}, {}});
}

RegFile::Lookup RegFile::Find(std::string_view key, std::string_view name, RegValue* value) const {
  const Item* last = nullptr;
  bool in_key = false;
  for (const Item& item : items_) {
    if (item.kind == Kind::Key) {
      in_key = EqualsNoCase(item.name, key);
    } else if (in_key &&
               (item.kind == Kind::Value || item.kind == Kind::Unreadable ||
                item.kind == Kind::Remove) &&
               EqualsNoCase(item.name, name)) {
      last = &item;
    }
  }
  if (last == nullptr || last->kind == Kind::Remove) {
    return Lookup::Missing;
  }
  if (last->kind == Kind::Unreadable) {
    return Lookup::Unreadable;
  }
  if (value != nullptr) {
    *value = last->value;
  }
  return Lookup::Found;
}

void RegFile::Set(std::string_view key, std::string_view name, const RegValue& value) {
  if (!HasKey(key)) {
    CreateKey(key);
  }
  Item fresh{Kind::Value, {FormatRegValueLine(name, value)}, std::string(name), value};
  std::vector<Item> items;
  items.reserve(items_.size() + 1);
  bool in_key = false;
  bool placed = false;
  std::size_t end_of_key = 0;  // just after the last key line or value of the key
  for (Item& item : items_) {
    if (item.kind == Kind::Key) {
      in_key = EqualsNoCase(item.name, key);
    }
    const bool is_value =
        item.kind == Kind::Value || item.kind == Kind::Unreadable || item.kind == Kind::Remove;
    if (in_key && is_value && EqualsNoCase(item.name, name)) {
      if (!placed) {
        items.push_back(fresh);
        placed = true;
      }
      continue;
    }
    items.push_back(std::move(item));
    if (in_key && (is_value || items.back().kind == Kind::Key)) {
      end_of_key = items.size();
    }
  }
  if (!placed) {
    auto at = items.begin() + static_cast<std::ptrdiff_t>(end_of_key);
    if (end_of_key > 0 && items[end_of_key - 1].open_continuation) {
      at = items.insert(at, ClosingLine()) + 1;
    }
    items.insert(at, std::move(fresh));
  }
  items_ = std::move(items);
}

std::string RegFile::Format() const {
  std::string text;
  for (const Item& item : items_) {
    for (const std::string& line : item.lines) {
      text += line;
      text += "\r\n";
    }
  }
  return text;
}

}  // namespace kelta
