// The settings store where there is no registry: one file in the registry's own export
// syntax (REGEDIT4), so it can be read by people and imported by regedit as it is.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/regedit4.h"
#include "platform/settings_store.h"

namespace kelta {

inline constexpr std::string_view kSettingsKeyName =
    "HKEY_LOCAL_MACHINE\\Software\\KELTA\\ReaderConfig";

// Ways to make saving fail on purpose, for tests.
struct RegFileTestHooks {
  // The disk fills up after this many bytes of the new file (ENOSPC).
  std::size_t disk_space = static_cast<std::size_t>(-1);
  // Runs once the new file is written and synced, just before it replaces the old one.
  std::function<void()> before_rename;
};

// The store on the file `path`. The key exists when the file exists, parses and holds
// kSettingsKeyName. Writes are kept until CloseKey, which replaces the file in one
// rename; a failure there throws SettingsStoreError and leaves the old file whole.
std::unique_ptr<SettingsStore> MakeRegFileStore(std::string path, RegFileTestHooks hooks = {});

}  // namespace kelta
