#pragma once
// Small parts that more than one command of qm880ctl uses.

#include <cstdint>
#include <string>

#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "platform/tone.h"

namespace kelta::cli {

// --no-store, and a device that stands in for a port: the settings stay as they are.
class NoStore final : public SettingsStore {
 public:
  bool OpenKey(bool) override { return false; }
  bool ValueExists(const std::string&) override { return false; }
  std::int32_t ReadInteger(const std::string&) override { return 0; }
  std::string ReadString(const std::string&) override { return {}; }
  void WriteInteger(const std::string&, std::int32_t) override {}
  void WriteString(const std::string&, const std::string&) override {}
  void CloseKey() override {}
};

// No beep unless asked for; the operations then take no time for it either.
class NoTone final : public Tone {
 public:
  void Beep(unsigned, unsigned) override {}
};

// Why a port did not open, as a word in JSON documents and events.
inline const char* FailureName(OpenFailure kind) {
  switch (kind) {
    case OpenFailure::None:
      return "none";
    case OpenFailure::NoDevice:
      return "no-device";
    case OpenFailure::NoPermission:
      return "no-permission";
    case OpenFailure::Busy:
      return "busy";
    case OpenFailure::NotSerial:
      return "not-serial";
    case OpenFailure::InUse:
      return "in-use";
    case OpenFailure::Other:
      break;
  }
  return "other";
}

}  // namespace kelta::cli
