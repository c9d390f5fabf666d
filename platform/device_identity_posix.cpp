#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/device_identity.h"

namespace kelta {

// std::filesystem::equivalent is no help here: it refuses character devices.
std::string DeviceIdentity(const std::string& device) {
  struct stat st {};
  if (device.empty() || stat(device.c_str(), &st) != 0) return {};
  if (S_ISCHR(st.st_mode)) {
    return "c" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  }
  return "f" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

}  // namespace kelta
