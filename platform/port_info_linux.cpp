// Serial ports as Linux shows them: the device nodes, /proc for the processes that have
// them open and for their locks, and sysfs for the USB converter behind a ttyUSB/ttyACM.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
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

// The device number of a character device; nullopt for anything else.
std::optional<dev_t> CharDevice(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return std::nullopt;
  return st.st_rdev;
}

bool AllDigits(const char* name) {
  return name[0] != '\0' && std::strspn(name, "0123456789") == std::strlen(name);
}

// Who has which character device open, by device number (stat of each /proc/PID/fd/N, so
// that every node and link of a device counts as that device). Read whole once; a second
// look reads again only the processes that are new or whose number of descriptors changed
// (the size of /proc/PID/fd, where the kernel gives it).
class HolderTable {
 public:
  HolderTable() { Look(true); }

  void LookAgain() { Look(false); }

  bool Complete() const { return complete_; }

  std::vector<PortHolder> Of(const std::string& device) const {
    std::vector<PortHolder> holders;
    const auto number = CharDevice(device);
    if (!number) return holders;
    const std::string lock = LockName(device);
    const std::set<long> locking = Locking(lock);
    for (const auto& [pid, process] : processes_) {
      if (!process.devices.contains(*number)) continue;
      holders.push_back(
          {pid, FirstLine("/proc/" + std::to_string(pid) + "/comm"), locking.contains(pid)});
    }
    return holders;
  }

 private:
  struct Process {
    std::size_t count = 0;  // its descriptors at the last look; 0 where the kernel says not
    std::set<dev_t> devices;
  };

  void Look(bool whole) {
    complete_ = true;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
      complete_ = false;
      processes_.clear();
      return;
    }
    // /proc mounted with hidepid (a service's ProtectProc=invisible): only this user's
    // processes are there, so the others' descriptors are unknown.
    struct stat init {};
    if (stat("/proc/1", &init) != 0) complete_ = false;
    const long self = getpid();
    std::map<long, Process> seen;
    while (const dirent* entry = readdir(proc)) {
      if (!AllDigits(entry->d_name)) continue;
      const long pid = std::stol(entry->d_name);
      if (pid == self) continue;
      const std::string fd_dir = std::string("/proc/") + entry->d_name + "/fd";
      struct stat dir {};
      if (stat(fd_dir.c_str(), &dir) != 0) {
        if (errno == EACCES) complete_ = false;  // another user's; one that is gone is no loss
        continue;
      }
      const auto count = static_cast<std::size_t>(dir.st_size);
      const auto known = processes_.find(pid);
      if (!whole && count > 0 && known != processes_.end() && known->second.count == count) {
        seen[pid] = std::move(known->second);
        continue;
      }
      if (auto process = ReadProcess(fd_dir, count)) seen[pid] = std::move(*process);
    }
    closedir(proc);
    processes_ = std::move(seen);
  }

  std::optional<Process> ReadProcess(const std::string& fd_dir, std::size_t count) {
    const int dir_fd = open(fd_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) {
      if (errno == EACCES) complete_ = false;
      return std::nullopt;
    }
    DIR* fds = fdopendir(dir_fd);
    if (fds == nullptr) {
      close(dir_fd);
      return std::nullopt;
    }
    Process process;
    process.count = count;
    while (const dirent* fd = readdir(fds)) {
      if (!AllDigits(fd->d_name)) continue;
      struct stat st {};
      if (fstatat(dir_fd, fd->d_name, &st, 0) == 0 && S_ISCHR(st.st_mode)) {
        process.devices.insert(st.st_rdev);
      }
    }
    closedir(fds);
    return process;
  }

  // /proc/locks: "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF": the holders of a lock on
  // the file with that device (hexadecimal major:minor) and inode.
  static std::set<long> Locking(const std::string& lock) {
    std::set<long> pids;
    if (lock.empty()) return pids;
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
      std::istringstream fields(line);
      std::string number, kind, advisory, access, file;
      long pid = 0;
      if (!(fields >> number >> kind)) continue;
      if (kind == "->") fields >> kind;  // a waiter
      if (!(fields >> advisory >> access >> pid >> file)) continue;
      if (file == lock) pids.insert(pid);
    }
    return pids;
  }

  static std::string LockName(const std::string& device) {
    struct stat st {};
    if (stat(device.c_str(), &st) != 0) return {};
    char name[64];
    std::snprintf(name, sizeof name, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    return name;
  }

  std::map<long, Process> processes_;
  bool complete_ = true;
};

// The table of a walk or a command while a HolderScope lives; otherwise the one of the
// last open, read afresh at each.
struct SharedHolders {
  std::mutex mutex;
  int scopes = 0;
  std::optional<HolderTable> table;
};

SharedHolders& Shared() {
  static SharedHolders shared;
  return shared;
}

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

PortInfo Describe(const std::string& device, const HolderTable& table) {
  PortInfo info;
  info.device = device;
  struct stat st {};
  info.exists = !device.empty() && stat(device.c_str(), &st) == 0;
  if (!info.exists) return info;
  info.accessible = access(device.c_str(), R_OK | W_OK) == 0;
  if (const group* g = getgrgid(st.st_gid)) info.group = g->gr_name;
  const std::string real = Canonical(device);
  info.holders = table.Of(device);
  info.holders_known = table.Complete();
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
  const HolderTable table;
  std::vector<PortInfo> ports;
  for (const int number : numbers) {
    PortInfo info = Describe(PortDeviceName(number), table);
    info.number = number;
    info.linked = IsPortLink(number);
    ports.push_back(std::move(info));
  }
  return ports;
}

PortInfo DescribeDevice(const std::string& device) { return Describe(device, HolderTable()); }

HolderScope::HolderScope() {
  SharedHolders& shared = Shared();
  const std::lock_guard lock(shared.mutex);
  if (shared.scopes++ == 0) shared.table.reset();
}

HolderScope::~HolderScope() {
  SharedHolders& shared = Shared();
  const std::lock_guard lock(shared.mutex);
  if (--shared.scopes == 0) shared.table.reset();
}

HolderCheck CheckHolders(const std::string& device) {
  SharedHolders& shared = Shared();
  const std::lock_guard lock(shared.mutex);
  if (!shared.table || shared.scopes == 0) {
    shared.table.emplace();
  } else {
    shared.table->LookAgain();  // a holder may have gone since
  }
  return {shared.table->Of(device), shared.table->Complete()};
}

HolderCheck RecheckHolders(const std::string& device) {
  SharedHolders& shared = Shared();
  const std::lock_guard lock(shared.mutex);
  if (shared.table) {
    shared.table->LookAgain();
  } else {
    shared.table.emplace();
  }
  return {shared.table->Of(device), shared.table->Complete()};
}

bool HoldersKnown() {
  SharedHolders& shared = Shared();
  const std::lock_guard lock(shared.mutex);
  return !shared.table || shared.table->Complete();
}

namespace {

std::string& ConsoleList() {
  static std::string file = "/proc/consoles";
  return file;
}

}  // namespace

void SetConsoleListFile(const std::string& file) {
  ConsoleList() = file.empty() ? "/proc/consoles" : file;
}

// /proc/consoles: "ttyS0  -W- (EC p a)    4:64": the name, flags, and the device number.
bool IsSystemConsole(const std::string& device) {
  struct stat st {};
  if (stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  std::ifstream consoles(ConsoleList());
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
