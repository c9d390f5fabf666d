#include "platform/settings_regfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/config_dir.h"

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

std::string DwordBytes(std::uint32_t number) {
  std::string bytes(4, '\0');
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[i] = static_cast<char>(number >> (8 * i) & 0xFF);
  }
  return bytes;
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
    *value = RegValue{kRegDword, DwordBytes(*number)};
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
  items_.push_back(Item{Kind::Key, {"[" + std::string(key) + "]"}, std::string(key), {}});
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

namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkdir -p, private folders as the XDG layout wants them.
bool MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string prefix = folder.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

enum class FileState { Missing, Refused, Unparsable, Parsed };

struct FileRead {
  FileState state = FileState::Missing;
  std::optional<RegFile> file;
};

FileRead ReadRegFile(const std::string& path) {
  // Full access or none, as the key is opened: a file that cannot be written is refused
  // for reading too. O_NONBLOCK keeps a FIFO put there from hanging the open.
  Fd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    return {errno == ENOENT ? FileState::Missing : FileState::Refused, std::nullopt};
  }
  struct stat info {};
  // A file with no write permission for anybody is read-only even to root, who
  // could otherwise open it anyway: the owner made it read-only on purpose.
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & 0222) == 0) {
    return {FileState::Refused, std::nullopt};
  }
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxRegFileSize) {
    return {FileState::Unparsable, std::nullopt};
  }
  std::string text;
  char buffer[16384];
  while (text.size() <= kMaxRegFileSize) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return {FileState::Refused, std::nullopt};
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  std::optional<RegFile> file = RegFile::Parse(text);
  if (!file) {
    return {FileState::Unparsable, std::nullopt};
  }
  return {FileState::Parsed, std::move(file)};
}

[[noreturn]] void Fail(const std::string& what) {
  const int error = errno;
  throw SettingsStoreError(what + ": " + std::strerror(error));
}

class RegFileStore final : public SettingsStore {
 public:
  RegFileStore(std::string path, RegFileTestHooks hooks)
      : path_(std::move(path)), hooks_(std::move(hooks)) {}

  bool OpenKey(bool create) override {
    if (open_) {
      CloseKey();
    }
    key_created_ = false;
    writes_.clear();
    FileRead read = ReadRegFile(path_);
    if (read.state == FileState::Refused) {
      return false;
    }
    if (read.state == FileState::Parsed && read.file->HasKey(kSettingsKeyName)) {
      file_ = std::move(*read.file);
    } else {
      // Missing, unparsable or without the key: the key is missing. Only a save creates
      // it, and an unparsable file is left alone until then.
      if (!create) {
        return false;
      }
      if (read.state == FileState::Missing && !MakeFolders(FolderOf(path_))) {
        return false;
      }
      file_ = read.file ? std::move(*read.file) : RegFile();
      file_.CreateKey(kSettingsKeyName);
      key_created_ = true;
    }
    open_ = true;
    return true;
  }

  bool ValueExists(const std::string& name) override {
    RequireOpen();
    return file_.Find(kSettingsKeyName, name, nullptr) != RegFile::Lookup::Missing;
  }

  std::int32_t ReadInteger(const std::string& name) override {
    const RegValue value = Read(name);
    if (value.type != kRegDword || value.data.size() != 4) {
      throw SettingsStoreError("\"" + name + "\" is not a 4-byte REG_DWORD");
    }
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      number |= static_cast<std::uint32_t>(static_cast<unsigned char>(value.data[i])) << (8 * i);
    }
    return static_cast<std::int32_t>(number);
  }

  std::string ReadString(const std::string& name) override {
    const RegValue value = Read(name);
    if (value.type != kRegSz && value.type != kRegExpandSz) {
      throw SettingsStoreError("\"" + name + "\" is not a text");
    }
    return value.data.substr(0, value.data.find('\0'));
  }

  void WriteInteger(const std::string& name, std::int32_t value) override {
    Write(name, RegValue{kRegDword, DwordBytes(static_cast<std::uint32_t>(value))});
  }

  void WriteString(const std::string& name, const std::string& value) override {
    Write(name, RegValue{kRegSz, value + '\0'});
  }

  void CloseKey() override {
    if (!open_) {
      return;
    }
    open_ = false;
    if (writes_.empty() && !key_created_) {
      return;
    }
    std::vector<std::pair<std::string, RegValue>> writes = std::move(writes_);
    writes_.clear();
    Commit(writes);
  }

 private:
  void RequireOpen() const {
    if (!open_) {
      throw SettingsStoreError("the key is not open");
    }
  }

  RegValue Read(const std::string& name) {
    RequireOpen();
    RegValue value;
    switch (file_.Find(kSettingsKeyName, name, &value)) {
      case RegFile::Lookup::Missing:
        throw SettingsStoreError("\"" + name + "\" does not exist");
      case RegFile::Lookup::Unreadable:
        throw SettingsStoreError("\"" + name + "\" cannot be read");
      case RegFile::Lookup::Found:
        break;
    }
    return value;
  }

  void Write(const std::string& name, RegValue value) {
    RequireOpen();
    file_.Set(kSettingsKeyName, name, value);
    writes_.emplace_back(name, std::move(value));
  }

  // The writes go onto the file as it is now, not as it was at OpenKey, so that what
  // another copy of the program stored meanwhile is kept.
  void Commit(const std::vector<std::pair<std::string, RegValue>>& writes) {
    FileRead read = ReadRegFile(path_);
    if (read.state == FileState::Refused) {
      errno = EACCES;
      Fail("cannot write " + path_);
    }
    if (read.state == FileState::Missing && !MakeFolders(FolderOf(path_))) {
      Fail("cannot create the folder of " + path_);
    }
    RegFile file = read.file ? std::move(*read.file) : RegFile();
    if (!file.HasKey(kSettingsKeyName)) {
      file.CreateKey(kSettingsKeyName);
    }
    for (const auto& [name, value] : writes) {
      file.Set(kSettingsKeyName, name, value);
    }
    Replace(file.Format(), read.state == FileState::Unparsable);
  }

  // Writes a new file beside the old one and renames it over it: a crash or a full disk
  // at any point leaves either the old file or the new one, both whole.
  // A settings.reg that is a symbolic link (dotfiles kept elsewhere) stays one: the file
  // it points to is the one replaced.
  std::string ResolvedPath() const {
    struct stat link {};
    if (::lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      if (char* real = ::realpath(path_.c_str(), nullptr)) {
        std::string resolved(real);
        std::free(real);
        return resolved;
      }
    }
    return path_;
  }

  void Replace(const std::string& text, bool keep_old) {
    const std::string target = ResolvedPath();
    std::string temp = FolderOf(target) + "/.settings.reg.XXXXXX";
    Fd fd(::mkstemp(temp.data()));
    if (fd.get() < 0) {
      Fail("cannot create a file beside " + target);
    }
    struct TempGuard {
      const std::string& name;
      bool armed = true;
      ~TempGuard() {
        if (armed) ::unlink(name.c_str());
      }
    } guard{temp};
    struct stat old {};
    ::fchmod(fd.get(), ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    std::size_t written = 0;
    while (written < text.size()) {
      std::size_t chunk = text.size() - written;
      if (hooks_.disk_space <= written) {
        errno = ENOSPC;
        Fail("cannot write " + temp);
      }
      chunk = std::min(chunk, hooks_.disk_space - written);
      const ssize_t done = ::write(fd.get(), text.data() + written, chunk);
      if (done < 0 && errno == EINTR) continue;
      if (done < 0) Fail("cannot write " + temp);
      written += static_cast<std::size_t>(done);
    }
    if (::fsync(fd.get()) != 0) {
      Fail("cannot sync " + temp);
    }
    if (::close(fd.release()) != 0) {
      Fail("cannot close " + temp);
    }
    if (keep_old) {
      // The file it replaces could not be read; keep it for whoever wants it back.
      // Moving it first loses nothing: without it the settings are the defaults anyway.
      static_cast<void>(::rename(target.c_str(), (target + ".bad").c_str()));
    }
    if (hooks_.before_rename) {
      hooks_.before_rename();
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      Fail("cannot replace " + target);
    }
    guard.armed = false;
    Fd folder(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
      static_cast<void>(::fsync(folder.get()));
    }
  }

  std::string path_;
  RegFileTestHooks hooks_;
  bool open_ = false;
  bool key_created_ = false;
  RegFile file_;
  std::vector<std::pair<std::string, RegValue>> writes_;
};

}  // namespace

std::unique_ptr<SettingsStore> MakeRegFileStore(std::string path, RegFileTestHooks hooks) {
  return std::make_unique<RegFileStore>(std::move(path), std::move(hooks));
}

std::unique_ptr<SettingsStore> MakeSystemSettingsStore() {
  return MakeRegFileStore(ConfigDir() + "/settings.reg");
}

}  // namespace kelta
