#include "platform/port_names.h"

#include <map>

#include "platform/serial_device.h"

namespace kelta {

namespace {

// All calls come from the one thread that runs the reader operations.
std::map<int, std::string>& Overrides() {
  static std::map<int, std::string> overrides;
  return overrides;
}

}  // namespace

void SetPortDevice(int number, const std::string& device) {
  if (device.empty()) {
    Overrides().erase(number);
  } else {
    Overrides()[number] = device;
  }
}

const std::string* PortDeviceOverride(int number) {
  const auto it = Overrides().find(number);
  return it == Overrides().end() ? nullptr : &it->second;
}

}  // namespace kelta
