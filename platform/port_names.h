// Ports given a device by SetPortDevice, shared by both platforms' PortDeviceName.
#pragma once

#include <optional>
#include <string>

namespace kelta {

// The device port `number` was given by SetPortDevice; nullopt when it was given none. A
// copy, so that a link on another thread never reads a name while it is being replaced.
std::optional<std::string> PortDeviceOverride(int number);

}  // namespace kelta
