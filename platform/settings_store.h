// The store behind the stored settings: one registry key,
// HKEY_LOCAL_MACHINE\Software\KELTA\ReaderConfig.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace kelta {

// A value of another type than asked for, a failed read or a failed write.
class SettingsStoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The operations of the toolkit's registry class that the settings use. Each load or
// save opens the key, uses it and closes it again; nothing is held in between.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Opens the key; with `create`, for writing, creating it (and the keys above it) when
  // missing. False when it is missing (without `create`) or access is refused; with
  // `create`, a store may throw SettingsStoreError instead, to say why.
  virtual bool OpenKey(bool create) = 0;
  virtual bool ValueExists(const std::string& name) = 0;
  // REG_DWORD of 4 bytes only; anything else throws SettingsStoreError.
  virtual std::int32_t ReadInteger(const std::string& name) = 0;
  // REG_SZ or REG_EXPAND_SZ (not expanded), up to the first zero byte; else throws.
  virtual std::string ReadString(const std::string& name) = 0;
  // Throw SettingsStoreError when the write fails.
  virtual void WriteInteger(const std::string& name, std::int32_t value) = 0;
  virtual void WriteString(const std::string& name, const std::string& value) = 0;
  virtual void CloseKey() = 0;
};

// A store on the system's settings: the registry on Windows, a REGEDIT4 file
// (settings.reg in the configuration folder) elsewhere.
std::unique_ptr<SettingsStore> MakeSystemSettingsStore();

}  // namespace kelta
