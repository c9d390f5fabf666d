// The registry store on Windows, with the way it opens its key under a root made
// replaceable (the tests refuse HKEY_LOCAL_MACHINE, as Windows does to a standard user;
// Wine runs everything as administrator and never refuses).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "platform/settings_store.h"

namespace kelta {

// Opens (with `create`, creates) Software\KELTA\ReaderConfig under `root` for full
// access; returns the Win32 result.
using RegistryKeyOpener = std::function<LONG(HKEY root, bool create, HKEY* key)>;

// The system's opener: RegOpenKeyExA / RegCreateKeyExA with KEY_ALL_ACCESS.
LONG OpenSettingsKey(HKEY root, bool create, HKEY* key);

// The key under HKEY_LOCAL_MACHINE where it can be opened for full access; where it
// cannot (missing, or refused to a user without administrator rights), the same key
// under HKEY_CURRENT_USER, for that user.
std::unique_ptr<SettingsStore> MakeRegistrySettingsStore(RegistryKeyOpener open);

}  // namespace kelta
