#include "settings/settings.h"

namespace kelta {
namespace {

constexpr const char* kScanCommNo = "ScanCommNo";
constexpr const char* kScanBaudRate = "ScanBaudRate";
constexpr const char* kScanBaudRateNo = "ScanBaudRateNo";
constexpr const char* kLanguageFlag = "LanguageFlag";

void CloseQuietly(SettingsStore& store) {
  try {
    store.CloseKey();
  } catch (...) {
    // A close that fails (the file store writes then) is one more swallowed store error.
  }
}

// One guarded block: the key is opened, `body` runs until its first error, and the key
// is closed whatever happened. Nothing a store throws gets past this.
template <typename Body>
void Guarded(SettingsStore& store, bool create, Body body) {
  bool opened = false;
  try {
    opened = store.OpenKey(create);
    if (opened) {
      body();
    }
  } catch (...) {
    // Dropped on purpose: the program carries on with what it has in memory.
  }
  if (opened) {
    CloseQuietly(store);
  }
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

void SaveScanSettings(SettingsStore& store, const Settings& settings) {
  Guarded(store, true, [&] {
    store.WriteInteger(kScanCommNo, settings.ScanCommNo);
    store.WriteInteger(kScanBaudRateNo, settings.ScanBaudRateNo);
    store.WriteString(kScanBaudRate, settings.ScanBaudRate);
  });
}

void SaveLanguage(SettingsStore& store, const Settings& settings) {
  Guarded(store, true, [&] { store.WriteString(kLanguageFlag, settings.LanguageFlag); });
}

}  // namespace kelta
