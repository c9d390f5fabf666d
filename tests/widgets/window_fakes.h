// Stand-ins for the services the window runs on: a settings store in memory, a tone
// that only records, a clock that moves when told and a machine without serial ports.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "platform/tone.h"

namespace kelta::testing {

class MemoryStore final : public SettingsStore {
 public:
  using Value = std::variant<std::int32_t, std::string>;

  bool key_exists = false;
  std::map<std::string, Value> values;
  std::vector<std::pair<std::string, Value>> writes;
  std::string write_error;  // when set, every write fails with it

  void Put(const std::string& name, Value value) {
    key_exists = true;
    values[name] = std::move(value);
  }

  bool OpenKey(bool create) override {
    if (create) key_exists = true;
    return key_exists;
  }
  bool ValueExists(const std::string& name) override { return values.count(name) != 0; }
  std::int32_t ReadInteger(const std::string& name) override {
    if (const auto* v = std::get_if<std::int32_t>(&values.at(name))) return *v;
    throw SettingsStoreError("not an integer");
  }
  std::string ReadString(const std::string& name) override {
    if (const auto* v = std::get_if<std::string>(&values.at(name))) return *v;
    throw SettingsStoreError("not a text");
  }
  void WriteInteger(const std::string& name, std::int32_t value) override {
    if (!write_error.empty()) throw SettingsStoreError(write_error);
    values[name] = value;
    writes.emplace_back(name, value);
  }
  void WriteString(const std::string& name, const std::string& value) override {
    if (!write_error.empty()) throw SettingsStoreError(write_error);
    values[name] = value;
    writes.emplace_back(name, value);
  }
  void CloseKey() override {}
};

class RecordingTone final : public Tone {
 public:
  std::vector<std::pair<unsigned, unsigned>> beeps;
  std::function<void(unsigned hz, unsigned ms)> on_beep;  // what happens meanwhile
  void Beep(unsigned hz, unsigned ms) override {
    beeps.emplace_back(hz, ms);
    if (on_beep) on_beep(hz, ms);
  }
};

class StillClock final : public Clock {
 public:
  std::uint32_t now = 0;
  std::uint32_t Ticks() override { return now; }
  void Sleep(std::uint32_t ms) override { now += ms; }
};

class NoPorts final : public SerialDevice {
 public:
  PortHandleType Open(int) override { return kInvalidPortHandle; }
  bool GetTimeouts(PortHandleType, CommTimeouts&) override { return false; }
  bool SetTimeouts(PortHandleType, const CommTimeouts&) override { return false; }
  bool ApplyMode(PortHandleType, std::string_view) override { return false; }
  bool Purge(PortHandleType) override { return false; }
  bool Write(PortHandleType, const std::uint8_t*, int) override { return false; }
  int Read(PortHandleType, std::uint8_t*) override { return 0; }
  void Close(PortHandleType) override {}
};

}  // namespace kelta::testing
