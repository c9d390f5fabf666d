// The stored settings saved into arbitrary starting files, as the window saves them:
// whatever the file held, the values saved read back exactly at the next load, a second
// save changes nothing, and every line of the file that is not one of those values stays,
// in its order (an unreadable file is set aside whole as settings.reg.bad).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_regfile.h"
#include "settings/settings.h"

namespace {

namespace fs = std::filesystem;
using kelta::Settings;

const char* const kNames[] = {"ScanCommNo", "ScanBaudRate", "ScanBaudRateNo", "LanguageFlag"};
constexpr std::string_view kKey = "[HKEY_LOCAL_MACHINE\\Software\\KELTA\\ReaderConfig]";

std::string Lower(std::string_view s) {
  std::string lower(s);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The lines as a REGEDIT4 reader splits them: a byte order mark dropped, LF or CRLF.
std::vector<std::string> Lines(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

// The value name a line assigns ("name"=..., @=...), unquoted; nullopt for other lines.
std::optional<std::string> AssignedName(std::string_view line, std::string_view* data) {
  line = Trim(line);
  std::string name;
  if (!line.empty() && line.front() == '@') {
    line.remove_prefix(1);
  } else if (!line.empty() && line.front() == '"') {
    std::size_t i = 1;
    for (; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\') {
        if (i + 1 >= line.size() || (line[i + 1] != '\\' && line[i + 1] != '"')) return {};
        ++i;
      }
      name += line[i];
    }
    if (i >= line.size()) return {};
    line.remove_prefix(i + 1);
  } else {
    return {};
  }
  line = Trim(line);
  if (line.empty() || line.front() != '=') return {};
  *data = Trim(line.substr(1));
  return name;
}

// The original's lines less the assignments of the saved names in the settings key
// (with the lines a hex list goes on over): what a save must keep.
std::vector<std::string> LinesASaveKeeps(const std::vector<std::string>& lines) {
  std::vector<std::string> kept(lines.begin(), lines.begin() + (lines.empty() ? 0 : 1));
  bool in_key = false;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = Trim(lines[i]);
    std::string_view data;
    const std::optional<std::string> name = AssignedName(lines[i], &data);
    if (!line.empty() && line.front() == '[') {
      in_key = Lower(line) == Lower(kKey);
    }
    std::size_t last = i;
    if (name && Lower(data.substr(0, 3)) == "hex") {
      std::string joined(data);
      while (!joined.empty() && joined.back() == '\\' && last + 1 < lines.size()) {
        joined.pop_back();
        joined = std::string(Trim(joined + std::string(Trim(lines[++last]))));
      }
    }
    bool saved = false;
    for (const char* saved_name : kNames) saved |= name && Lower(*name) == Lower(saved_name);
    for (; i <= last; ++i) {
      if (!(in_key && saved)) kept.push_back(lines[i]);
    }
    --i;
  }
  return kept;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const fs::path& Folder() {
  // Made once and never destroyed, so that the exit handler can still remove it.
  static const fs::path* const folder = [] {
    const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
    std::string pattern = (base / "kelta-fuzz-store-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return new fs::path(pattern);
  }();
  static const bool cleanup = std::atexit([] { fs::remove_all(*folder); }) == 0;
  static_cast<void>(cleanup);
  return *folder;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string original(reinterpret_cast<const char*>(data), size);
  const fs::path file = Folder() / "settings.reg";
  const fs::path bad = Folder() / "settings.reg.bad";
  fs::remove(bad);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << original;

  const auto store = kelta::MakeRegFileStore(file.string());
  Settings loaded;
  kelta::LoadSettings(*store, loaded);
  const Settings saved{13, "57600,e,8,1", 10, "ChineseBIG5", 2};
  kelta::SaveScanSettings(*store, saved);
  kelta::SaveLanguage(*store, saved);
  kelta::LoadSettings(*store, loaded);
  Check(loaded.ScanCommNo == saved.ScanCommNo && loaded.ScanBaudRate == saved.ScanBaudRate &&
        loaded.ScanBaudRateNo == saved.ScanBaudRateNo &&
        loaded.LanguageFlag == saved.LanguageFlag && loaded.LanguageIndex == saved.LanguageIndex);

  const std::string after = ReadAll(file);
  kelta::SaveScanSettings(*store, saved);
  Check(ReadAll(file) == after);

  if (fs::exists(bad)) {
    Check(ReadAll(bad) == original);
    return 0;
  }
  // The kept lines are a subsequence of the new file's lines.
  const std::vector<std::string> now = Lines(after);
  std::size_t at = 0;
  for (const std::string& line : LinesASaveKeeps(Lines(original))) {
    while (at < now.size() && now[at] != line) ++at;
    Check(at < now.size());
    ++at;
  }
  return 0;
}
