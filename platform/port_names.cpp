#include "platform/port_names.h"

#include <map>
#include <mutex>

#include "platform/serial_device.h"

namespace kelta {

namespace {

// Links walking ports on threads of their own look names up while the main thread may
// give a port its device.
struct Overrides {
  std::mutex mutex;
  std::map<int, std::string> devices;
};

Overrides& TheOverrides() {
  static Overrides overrides;
  return overrides;
}

}  // namespace

void SetPortDevice(int number, const std::string& device) {
  Overrides& o = TheOverrides();
  const std::lock_guard lock(o.mutex);
  if (device.empty()) {
    o.devices.erase(number);
  } else {
    o.devices[number] = device;
  }
}

std::optional<std::string> PortDeviceOverride(int number) {
  Overrides& o = TheOverrides();
  const std::lock_guard lock(o.mutex);
  const auto it = o.devices.find(number);
  if (it == o.devices.end()) return std::nullopt;
  return it->second;
}

}  // namespace kelta
