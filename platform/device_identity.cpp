#include "platform/device_identity.h"

#include "platform/serial_device.h"

namespace kelta {

std::map<int, int> SameDevicePorts(const std::vector<int>& numbers) {
  std::map<std::string, int> first;
  std::map<int, int> same;
  for (const int number : numbers) {
    const std::string identity = DeviceIdentity(PortDeviceName(number));
    if (identity.empty()) continue;
    const auto [it, added] = first.emplace(identity, number);
    if (!added) same[number] = it->second;
  }
  return same;
}

}  // namespace kelta
