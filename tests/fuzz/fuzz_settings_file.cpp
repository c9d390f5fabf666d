// The settings file parser fed arbitrary files: it reads or refuses them, never crashes,
// and what it writes back reads again with the values it was given, leaving every other
// value of the key as it was.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/settings_regfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using kelta::RegFile;
  using kelta::RegValue;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto file = RegFile::Parse(text);
  if (!file) return 0;
  const auto lookup = [](const RegFile& f, const char* name, RegValue* value) {
    return f.Find(kelta::kSettingsKeyName, name, value);
  };
  RegValue rate_no, language;
  const RegFile::Lookup had_rate_no = lookup(*file, "ScanBaudRateNo", &rate_no);
  const RegFile::Lookup had_language = lookup(*file, "LanguageFlag", &language);

  const RegValue port{kelta::kRegDword, std::string("\x03\x00\x00\x00", 4)};
  const RegValue mode{kelta::kRegSz, std::string("9600,e,8,1\0", 11)};
  file->Set(kelta::kSettingsKeyName, "ScanCommNo", port);
  file->Set(kelta::kSettingsKeyName, "ScanBaudRate", mode);
  const auto again = RegFile::Parse(file->Format());
  if (!again) std::abort();
  RegValue read;
  if (lookup(*again, "ScanCommNo", &read) != RegFile::Lookup::Found || !(read == port)) {
    std::abort();
  }
  if (lookup(*again, "ScanBaudRate", &read) != RegFile::Lookup::Found || !(read == mode)) {
    std::abort();
  }
  if (lookup(*again, "ScanBaudRateNo", &read) != had_rate_no ||
      (had_rate_no == RegFile::Lookup::Found && !(read == rate_no))) {
    std::abort();
  }
  if (lookup(*again, "LanguageFlag", &read) != had_language ||
      (had_language == RegFile::Lookup::Found && !(read == language))) {
    std::abort();
  }
  return 0;
}
