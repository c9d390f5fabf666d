#include "platform/device_identity.h"

namespace kelta {

std::string DeviceIdentity(const std::string& device) {
  std::string name = device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

}  // namespace kelta
