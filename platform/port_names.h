// Ports given a device by SetPortDevice, shared by both platforms' PortDeviceName.
#pragma once

#include <string>

namespace kelta {

// The device port `number` was given by SetPortDevice; nullptr when it was given none.
const std::string* PortDeviceOverride(int number);

}  // namespace kelta
