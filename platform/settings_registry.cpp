// The settings store on Windows: the registry key Software\KELTA\ReaderConfig under
// HKEY_LOCAL_MACHINE, or under HKEY_CURRENT_USER where the machine's key is not ours.
#include "platform/settings_registry.h"

#include <string>
#include <utility>
#include <vector>

namespace kelta {
namespace {

constexpr const char* kKeyPath = "Software\\KELTA\\ReaderConfig";

// The system's text for a registry result, without its closing full stop.
std::string SystemText(LONG result) {
  std::string text;
  char* buffer = nullptr;
  if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(result), 0, reinterpret_cast<char*>(&buffer), 0,
                     nullptr) != 0 &&
      buffer != nullptr) {
    text = buffer;
    LocalFree(buffer);
  }
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(result) : text;
}

class RegistrySettingsStore final : public SettingsStore {
 public:
  explicit RegistrySettingsStore(RegistryKeyOpener open) : open_(std::move(open)) {}
  RegistrySettingsStore(const RegistrySettingsStore&) = delete;
  RegistrySettingsStore& operator=(const RegistrySettingsStore&) = delete;
  ~RegistrySettingsStore() override { CloseKey(); }

  bool OpenKey(bool create) override {
    CloseKey();
    // Full access also for reading. The machine's key first, as every installation before
    // this one kept it; where it is missing or refused (Windows refuses full access to
    // HKEY_LOCAL_MACHINE to a program run without administrator rights), the user's own,
    // so that a standard user's settings are kept instead of dropped on every save.
    LONG result = ERROR_SUCCESS;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      HKEY key = nullptr;
      result = open_(root, create, &key);
      if (result == ERROR_SUCCESS) {
        key_ = key;
        return true;
      }
    }
    // A save that can open neither says why: the reason the user's own key gave.
    if (create) {
      throw SettingsStoreError(std::string("the registry key ") + kKeyPath +
                               " cannot be opened for writing: " + SystemText(result));
    }
    return false;
  }

  bool ValueExists(const std::string& name) override {
    return key_ != nullptr && RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, nullptr,
                                               nullptr) == ERROR_SUCCESS;
  }

  // RegQueryValueExA hands back whatever is stored: the type and the size are checked here.
  std::int32_t ReadInteger(const std::string& name) override {
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LONG result = RegQueryValueExA(key_, name.c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(&value), &size);
    if (result != ERROR_SUCCESS) Fail(name, "cannot be read");
    if (type != REG_DWORD || size != sizeof(value)) Fail(name, "is not a 32-bit integer");
    return static_cast<std::int32_t>(value);
  }

  std::string ReadString(const std::string& name) override {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      Fail(name, "cannot be read");
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) Fail(name, "is not a text");
    std::vector<BYTE> data;
    LONG result;
    do {  // the value may have grown since its size was asked
      data.resize(size);
      result = RegQueryValueExA(key_, name.c_str(), nullptr, &type, data.data(), &size);
    } while (result == ERROR_MORE_DATA);
    if (result != ERROR_SUCCESS) Fail(name, "cannot be read");
    if (type != REG_SZ && type != REG_EXPAND_SZ) Fail(name, "is not a text");
    // Up to the first zero byte; a text stored without its terminator is taken whole.
    std::string text(reinterpret_cast<const char*>(data.data()), size);
    const auto zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
  }

  void WriteInteger(const std::string& name, std::int32_t value) override {
    const auto dword = static_cast<DWORD>(value);
    Check(name, RegSetValueExA(key_, name.c_str(), 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&dword), sizeof(dword)));
  }

  void WriteString(const std::string& name, const std::string& value) override {
    Check(name, RegSetValueExA(key_, name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>(value.size() + 1)));
  }

  void CloseKey() override {
    if (key_ != nullptr) {
      RegCloseKey(key_);
      key_ = nullptr;
    }
  }

 private:
  [[noreturn]] static void Fail(const std::string& name, const std::string& what) {
    throw SettingsStoreError("registry value \"" + name + "\" " + what);
  }
  static void Check(const std::string& name, LONG result) {
    if (result != ERROR_SUCCESS) Fail(name, "cannot be written: " + SystemText(result));
  }

  RegistryKeyOpener open_;
  HKEY key_ = nullptr;
};

}  // namespace

LONG OpenSettingsKey(HKEY root, bool create, HKEY* key) {
  if (create) {
    return RegCreateKeyExA(root, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           nullptr, key, nullptr);
  }
  return RegOpenKeyExA(root, kKeyPath, 0, KEY_ALL_ACCESS, key);
}

std::unique_ptr<SettingsStore> MakeRegistrySettingsStore(RegistryKeyOpener open) {
  return std::make_unique<RegistrySettingsStore>(std::move(open));
}

std::unique_ptr<SettingsStore> MakeSystemSettingsStore() {
  return MakeRegistrySettingsStore(OpenSettingsKey);
}

}  // namespace kelta
