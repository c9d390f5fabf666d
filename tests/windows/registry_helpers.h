// Direct access to the settings key under Wine's registry, which outlives each test
// program in the prefix: every test starts from a deleted key, under both roots the store
// uses (HKEY_LOCAL_MACHINE, and HKEY_CURRENT_USER where the machine's key is not open).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace kelta::testing {

inline constexpr const char* kVendorKey = "Software\\KELTA";
inline constexpr const char* kSettingsKey = "Software\\KELTA\\ReaderConfig";

inline void DeleteSettingsKey() {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    RegDeleteTreeA(root, kVendorKey);
    RegDeleteKeyA(root, kVendorKey);
  }
}

inline bool KeyExists(const char* path, HKEY root = HKEY_LOCAL_MACHINE) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Stores `bytes` as they are, under any type: the registry checks nothing.
inline void SetRaw(const std::string& name, DWORD type, const std::string& bytes,
                   HKEY root = HKEY_LOCAL_MACHINE) {
  HKEY key = nullptr;
  RegCreateKeyExA(root, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                 static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
}

inline std::string DwordBytes(DWORD value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof(value));
}
inline void SetDword(const std::string& name, DWORD value, HKEY root = HKEY_LOCAL_MACHINE) {
  SetRaw(name, REG_DWORD, DwordBytes(value), root);
}
// With its terminating zero byte, as RegSetValueExA is meant to be given text.
inline void SetSz(const std::string& name, const std::string& text, DWORD type = REG_SZ) {
  SetRaw(name, type, text + '\0');
}

struct RawValue {
  DWORD type = REG_NONE;
  std::string bytes;
};

inline std::optional<RawValue> GetRaw(const std::string& name, HKEY root = HKEY_LOCAL_MACHINE) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  RawValue value;
  DWORD size = 0;
  LONG result = RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size);
  if (result == ERROR_SUCCESS) {
    value.bytes.resize(size);
    result = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                              reinterpret_cast<BYTE*>(value.bytes.data()), &size);
  }
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return std::nullopt;
  return value;
}

}  // namespace kelta::testing
