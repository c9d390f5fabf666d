// Which device a name leads to, so that two names of one device (a ports/comN link and the
// node it points at, a /dev/serial/by-id name and its ttyUSB) are known as one.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kelta {

// What tells the device behind `device` from every other, the same under each of its
// names: Linux, the device number of a character device (st_rdev), the file (st_dev and
// st_ino) of anything else; Windows, the name without its "\\.\" in capitals, as a COM
// name has no other. Empty when the name leads nowhere.
std::string DeviceIdentity(const std::string& device);

// Of `numbers`, walked in that order, the ones whose device an earlier number leads to
// already, each with the first such number. Numbers that lead nowhere are never the same.
std::map<int, int> SameDevicePorts(const std::vector<int>& numbers);

}  // namespace kelta
