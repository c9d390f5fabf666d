// Serial ports as Linux shows them: the device nodes, /proc for the processes that have
// them open and for their locks, and sysfs for the USB converter behind a ttyUSB/ttyACM.
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "platform/config_dir.h"
#include "platform/port_info.h"
#include "platform/serial_device.h"

namespace kelta {

namespace fs = std::filesystem;

namespace {

std::string Canonical(const std::string& path) {
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  return ec ? std::string() : real.string();
}

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// Who has which device open, read once from /proc: device path -> holders. A process of
// another user whose descriptors cannot be read makes the picture incomplete.
struct HolderIndex {
  std::map<std::string, std::vector<PortHolder>> by_device;
  bool complete = true;

  explicit HolderIndex(const std::set<std::string>& devices) {
    if (devices.empty()) return;
    const std::string self = std::to_string(getpid());
    std::error_code ec;
    for (fs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
      const std::string pid = proc->path().filename().string();
      if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
      if (pid == self) continue;
      std::error_code fd_ec;
      fs::directory_iterator fds(proc->path() / "fd", fd_ec);
      if (fd_ec) {
        // Gone meanwhile, or another user's: only the first matters here.
        if (fd_ec == std::errc::permission_denied) complete = false;
        continue;
      }
      std::set<std::string> seen;
      for (fs::directory_iterator end_fd; fds != end_fd; fds.increment(fd_ec)) {
        if (fd_ec) break;
        std::error_code link_ec;
        const std::string target = fs::read_symlink(fds->path(), link_ec).string();
        if (link_ec || !devices.contains(target) || !seen.insert(target).second) continue;
        by_device[target].push_back({std::stol(pid), FirstLine(proc->path() / "comm"), false});
      }
    }
    MarkLocks();
  }

  // /proc/locks: "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF": the holder of a lock
  // on the file with that device (hexadecimal major:minor) and inode.
  void MarkLocks() {
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
      std::istringstream fields(line);
      std::string number, kind, advisory, access, pid, file;
      if (!(fields >> number >> kind)) continue;
      if (kind == "->") fields >> kind;  // a waiter
      if (!(fields >> advisory >> access >> pid >> file)) continue;
      for (auto& [device, holders] : by_device) {
        if (file != LockName(device)) continue;
        for (PortHolder& holder : holders) {
          if (std::to_string(holder.pid) == pid) holder.exclusive = true;
        }
      }
    }
  }

  static std::string LockName(const std::string& device) {
    struct stat st {};
    if (stat(device.c_str(), &st) != 0) return {};
    char name[64];
    std::snprintf(name, sizeof name, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    return name;
  }
};

// The USB device above a tty in sysfs, and its /dev/serial/by-id name.
std::optional<UsbIdentity> UsbOf(const std::string& device) {
  const std::string tty = fs::path(device).filename().string();
  std::error_code ec;
  fs::path dir = fs::canonical(fs::path("/sys/class/tty") / tty / "device", ec);
  if (ec) return std::nullopt;
  while (!dir.empty() && dir != dir.root_path() && !fs::exists(dir / "idVendor", ec)) {
    dir = dir.parent_path();
  }
  if (dir.empty() || dir == dir.root_path()) return std::nullopt;
  UsbIdentity usb;
  usb.vendor_id = FirstLine(dir / "idVendor");
  usb.product_id = FirstLine(dir / "idProduct");
  usb.serial = FirstLine(dir / "serial");
  usb.manufacturer = FirstLine(dir / "manufacturer");
  usb.product = FirstLine(dir / "product");
  const fs::path port = fs::path("/sys/class/tty") / tty / "device";
  usb.driver = fs::canonical(port / "driver", ec).filename().string();
  if (ec) usb.driver.clear();
  const std::string latency = FirstLine(port / "latency_timer");
  if (!latency.empty() && latency.find_first_not_of("0123456789") == std::string::npos &&
      latency.size() < 6) {
    usb.latency_timer_ms = std::stoi(latency);
  }
  for (fs::directory_iterator it("/dev/serial/by-id", ec), end; !ec && it != end;
       it.increment(ec)) {
    if (Canonical(it->path().string()) == device) {
      usb.by_id = it->path().string();
      break;
    }
  }
  return usb;
}

PortInfo Describe(const std::string& device, const HolderIndex& index) {
  PortInfo info;
  info.device = device;
  struct stat st {};
  info.exists = !device.empty() && stat(device.c_str(), &st) == 0;
  if (!info.exists) return info;
  info.accessible = access(device.c_str(), R_OK | W_OK) == 0;
  if (const group* g = getgrgid(st.st_gid)) info.group = g->gr_name;
  const std::string real = Canonical(device);
  if (const auto it = index.by_device.find(real); it != index.by_device.end()) {
    info.holders = it->second;
  }
  info.holders_known = index.complete;
  for (const PortHolder& holder : info.holders) info.busy = info.busy || holder.exclusive;
  if (S_ISCHR(st.st_mode)) info.usb = UsbOf(real);
  return info;
}

bool IsPortLink(int number) {
  struct stat st {};
  const std::string link = ConfigDir() + "/ports/com" + std::to_string(number);
  return lstat(link.c_str(), &st) == 0;
}

}  // namespace

std::vector<int> KnownPortNumbers() {
  std::set<int> numbers;
  for (int n = 1; n <= 16; ++n) numbers.insert(n);
  std::error_code ec;
  for (fs::directory_iterator it(ConfigDir() + "/ports", ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > 3 && name.rfind("com", 0) == 0 &&
        name.find_first_not_of("0123456789", 3) == std::string::npos && name.size() <= 6) {
      numbers.insert(std::stoi(name.substr(3)));
    }
  }
  return {numbers.begin(), numbers.end()};
}

std::vector<PortInfo> DescribePorts(const std::vector<int>& numbers) {
  std::vector<std::string> devices;
  std::set<std::string> real;
  for (const int number : numbers) {
    devices.push_back(PortDeviceName(number));
    if (const std::string c = Canonical(devices.back()); !c.empty()) real.insert(c);
  }
  const HolderIndex index(real);
  std::vector<PortInfo> ports;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    PortInfo info = Describe(devices[i], index);
    info.number = numbers[i];
    info.linked = IsPortLink(numbers[i]);
    ports.push_back(std::move(info));
  }
  return ports;
}

PortInfo DescribeDevice(const std::string& device) {
  std::set<std::string> real;
  if (const std::string c = Canonical(device); !c.empty()) real.insert(c);
  return Describe(device, HolderIndex(real));
}

std::vector<PortHolder> PortHolders(const std::string& device) {
  const std::string real = Canonical(device);
  if (real.empty()) return {};
  HolderIndex index({real});
  const auto it = index.by_device.find(real);
  return it == index.by_device.end() ? std::vector<PortHolder>{} : it->second;
}

// /proc/consoles: "ttyS0  -W- (EC p a)    4:64": the name, flags, and the device number.
bool IsSystemConsole(const std::string& device) {
  struct stat st {};
  if (stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  std::ifstream consoles("/proc/consoles");
  std::string line;
  while (std::getline(consoles, line)) {
    const std::size_t colon = line.rfind(':');
    const std::size_t space = line.rfind(' ', colon);
    if (colon == std::string::npos || space == std::string::npos) continue;
    try {
      const unsigned major_no = static_cast<unsigned>(std::stoul(line.substr(space + 1)));
      const unsigned minor_no = static_cast<unsigned>(std::stoul(line.substr(colon + 1)));
      if (major(st.st_rdev) == major_no && minor(st.st_rdev) == minor_no) return true;
    } catch (const std::exception&) {
      continue;  // a line of another form
    }
  }
  return false;
}

}  // namespace kelta
