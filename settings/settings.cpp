#include "settings/settings.h"

#include <exception>

namespace kelta {
namespace {

constexpr const char* kScanCommNo = "ScanCommNo";
constexpr const char* kScanBaudRate = "ScanBaudRate";
constexpr const char* kScanBaudRateNo = "ScanBaudRateNo";
constexpr const char* kLanguageFlag = "LanguageFlag";

// The text of whatever a store threw.
std::string ErrorText() {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "unknown error";
  }
}

// One guarded block: the key is opened, `body` runs until its first error, and the key
// is closed whatever happened. Nothing a store throws gets past this; the first error is
// the result's (a close that fails is one too: the file store writes then).
template <typename Body>
SaveResult Guarded(SettingsStore& store, bool create, Body body) {
  SaveResult result;
  bool opened = false;
  try {
    opened = store.OpenKey(create);
    if (opened) {
      body();
    } else {
      result.error = "the settings key cannot be opened";
    }
  } catch (...) {
    result.error = ErrorText();
  }
  if (opened) {
    try {
      store.CloseKey();
    } catch (...) {
      if (result.error.empty()) result.error = ErrorText();
    }
  }
  result.stored = result.error.empty();
  return result;
}

}  // namespace

int LanguageIndexOf(const std::string& flag) {
  if (flag == "ChineseGB") {
    return 1;
  }
  if (flag == "ChineseBIG5") {
    return 2;
  }
  return 0;
}

void LoadSettings(SettingsStore& store, Settings& settings) {
  settings = Settings{};
  // Each value is assigned only once read whole, so an error leaves it, and every later
  // one, at its default.
  Guarded(store, false, [&] {
    if (store.ValueExists(kScanCommNo)) {
      settings.ScanCommNo = store.ReadInteger(kScanCommNo);
    }
    if (store.ValueExists(kScanBaudRate)) {
      settings.ScanBaudRate = store.ReadString(kScanBaudRate);
    }
    if (store.ValueExists(kScanBaudRateNo)) {
      settings.ScanBaudRateNo = store.ReadInteger(kScanBaudRateNo);
    }
    if (store.ValueExists(kLanguageFlag)) {
      settings.LanguageFlag = store.ReadString(kLanguageFlag);
      settings.LanguageIndex = LanguageIndexOf(settings.LanguageFlag);
    }
  });
}

SaveResult SaveScanSettings(SettingsStore& store, const Settings& settings) {
  return Guarded(store, true, [&] {
    store.WriteInteger(kScanCommNo, settings.ScanCommNo);
    store.WriteInteger(kScanBaudRateNo, settings.ScanBaudRateNo);
    store.WriteString(kScanBaudRate, settings.ScanBaudRate);
  });
}

SaveResult SaveLanguage(SettingsStore& store, const Settings& settings) {
  return Guarded(store, true, [&] { store.WriteString(kLanguageFlag, settings.LanguageFlag); });
}

}  // namespace kelta
