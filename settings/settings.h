// The settings kept between runs, and the settings in memory.
#pragma once

#include <cstdint>
#include <string>

#include "platform/settings_store.h"

namespace kelta {

struct Settings {
  std::int32_t ScanCommNo = 0;
  std::string ScanBaudRate = "19200,e,8,1";
  std::int32_t ScanBaudRateNo = 5;
  std::string LanguageFlag = "English";
  int LanguageIndex = 0;
};

// What a save came to. Not stored: nothing, or only the values written before the
// error, reached the store; `error` says why (the store's own text).
struct SaveResult {
  bool stored = false;
  std::string error;
};

// None of them throws: the program carries on with the values in memory whatever the
// store does. A load keeps what was read before an error; a save reports the error.
void LoadSettings(SettingsStore& store, Settings& settings);
SaveResult SaveScanSettings(SettingsStore& store, const Settings& settings);
SaveResult SaveLanguage(SettingsStore& store, const Settings& settings);

// The column of the catalogue for a stored language name (exact, case-sensitive).
int LanguageIndexOf(const std::string& flag);

}  // namespace kelta
