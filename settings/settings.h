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

// Each never fails: store errors are swallowed, and what was read before an error stays.
void LoadSettings(SettingsStore& store, Settings& settings);
void SaveScanSettings(SettingsStore& store, const Settings& settings);
void SaveLanguage(SettingsStore& store, const Settings& settings);

// The column of the catalogue for a stored language name (exact, case-sensitive).
int LanguageIndexOf(const std::string& flag);

}  // namespace kelta
