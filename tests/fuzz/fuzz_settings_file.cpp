// The settings file parser fed arbitrary files: it reads or refuses them, never crashes,
// and what it writes back reads again with the values it was given.
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
  const char* names[] = {"ScanCommNo", "ScanBaudRate", "ScanBaudRateNo", "LanguageFlag"};
  RegValue value;
  for (const char* name : names) (void)file->Find(kelta::kSettingsKeyName, name, &value);

  const RegValue port{kelta::kRegDword, std::string("\x03\x00\x00\x00", 4)};
  const RegValue mode{kelta::kRegSz, std::string("9600,e,8,1\0", 11)};
  file->Set(kelta::kSettingsKeyName, "ScanCommNo", port);
  file->Set(kelta::kSettingsKeyName, "ScanBaudRate", mode);
  const auto again = RegFile::Parse(file->Format());
  if (!again) std::abort();
  RegValue read;
  if (again->Find(kelta::kSettingsKeyName, "ScanCommNo", &read) != RegFile::Lookup::Found ||
      !(read == port)) {
    std::abort();
  }
  if (again->Find(kelta::kSettingsKeyName, "ScanBaudRate", &read) != RegFile::Lookup::Found ||
      !(read == mode)) {
    std::abort();
  }
  return 0;
}
