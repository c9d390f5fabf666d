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

// How long a save waits for another copy of the program to finish its own.
inline constexpr int kSettingsLockWaitMs = 2000;

// Ways to make saving fail on purpose, for tests.
struct RegFileTestHooks {
  // The disk fills up after this many bytes of the new file (ENOSPC).
  std::size_t disk_space = static_cast<std::size_t>(-1);
  // Runs once the new file is written and synced, just before it replaces the old one.
  std::function<void()> before_rename;
  // Sees each step of a save that touches the disk, just before it is taken: "lock",
  // "create", "write", "sync", "close", "rename", "sync folder" (the temporary file's
  // unless named). A result other than 0 fails the step with that errno.
  std::function<int(std::string_view step)> step;
  int lock_wait_ms = kSettingsLockWaitMs;
};

// The store on the file `path`. The key exists when the file exists, parses and holds
// kSettingsKeyName; a file that may not be written still loads. Writes are kept until
// CloseKey, which replaces the file in one rename under the lock file `path`.lock; a
// failure there throws SettingsStoreError with the reason and leaves the old file whole.
// OpenKey(true) throws it at once where the file cannot be replaced.
std::unique_ptr<SettingsStore> MakeRegFileStore(std::string path, RegFileTestHooks hooks = {});

}  // namespace kelta
