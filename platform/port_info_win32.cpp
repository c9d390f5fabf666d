// Serial ports as Windows shows them: the COM names it knows (QueryDosDevice), the names
// and hardware ids of the port devices (SetupAPI), and an open to tell a free port from
// one in use. Windows does not say which process holds a port.
#include <windows.h>
// After windows.h, which it needs.
#include <setupapi.h>

#include <map>
#include <set>
#include <vector>

#include "platform/port_info.h"
#include "platform/serial_device.h"

namespace kelta {

namespace {

// The setup class of COM and LPT ports (GUID_DEVCLASS_PORTS of devguid.h).
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

struct DeviceNames {
  std::string friendly_name;
  std::string vendor_id;
  std::string product_id;
  int latency_timer_ms = -1;
};

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD property) {
  char buffer[1024] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(set, &data, property, &type,
                                         reinterpret_cast<BYTE*>(buffer), sizeof buffer - 1,
                                         nullptr)) {
    return {};
  }
  return buffer;  // the first string of a multi-string hardware id list
}

// "USB\VID_0403&PID_6001&REV_0600": the four digits after `key`.
std::string IdAfter(const std::string& hardware_id, const char* key) {
  const std::size_t at = hardware_id.find(key);
  return at == std::string::npos ? std::string() : hardware_id.substr(at + 4, 4);
}

// Every present port device by its COM name ("COM3").
std::map<std::string, DeviceNames> PortDevices() {
  std::map<std::string, DeviceNames> devices;
  const HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return devices;
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
    const HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    char name[64] = {};
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    const bool named = RegQueryValueExA(key, "PortName", nullptr, &type,
                                        reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    // An FTDI driver keeps its latency timer beside the port name.
    DWORD latency = 0;
    size = sizeof latency;
    const bool timed =
        RegQueryValueExA(key, "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&latency),
                         &size) == ERROR_SUCCESS &&
        type == REG_DWORD;
    RegCloseKey(key);
    if (!named) continue;
    DeviceNames names;
    if (timed) names.latency_timer_ms = static_cast<int>(latency);
    names.friendly_name = Property(set, data, SPDRP_FRIENDLYNAME);
    const std::string hardware_id = Property(set, data, SPDRP_HARDWAREID);
    names.vendor_id = IdAfter(hardware_id, "VID_");
    names.product_id = IdAfter(hardware_id, "PID_");
    devices[name] = names;
  }
  SetupDiDestroyDeviceInfoList(set);
  return devices;
}

std::string DosTarget(const std::string& com_name) {
  char target[1024] = {};
  if (QueryDosDeviceA(com_name.c_str(), target, sizeof target) == 0) return {};
  return target;
}

// The only way Windows tells a free port from one in use or refused is to open it.
void TryOpen(PortInfo& info) {
  const HANDLE handle = CreateFileA(info.device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    info.exists = true;
    info.accessible = true;
    CloseHandle(handle);
    return;
  }
  const OpenError error = OpenErrorOf(static_cast<int>(GetLastError()));
  info.exists = info.exists || error.kind != OpenFailure::NoDevice;
  info.busy = error.kind == OpenFailure::Busy;
}

PortInfo Describe(int number, const std::string& device,
                  const std::map<std::string, DeviceNames>& names) {
  PortInfo info;
  info.number = number;
  info.device = device;
  info.holders_known = false;
  const std::string com = "COM" + std::to_string(number);
  if (number > 0) info.target = DosTarget(com);
  info.exists = !info.target.empty();
  if (const auto it = names.find(com); it != names.end()) {
    info.friendly_name = it->second.friendly_name;
    if (!it->second.vendor_id.empty()) {
      info.usb = UsbIdentity{it->second.vendor_id, it->second.product_id, {}, {}, {}, {}};
      info.usb->latency_timer_ms = it->second.latency_timer_ms;
    }
  }
  if (!device.empty()) TryOpen(info);
  return info;
}

}  // namespace

std::vector<int> KnownPortNumbers() {
  std::set<int> numbers;
  for (int n = 1; n <= 16; ++n) numbers.insert(n);
  std::vector<char> list(65536);
  const DWORD size = QueryDosDeviceA(nullptr, list.data(), static_cast<DWORD>(list.size()));
  for (DWORD at = 0; at < size && list[at] != '\0';) {
    const std::string name(&list[at]);
    at += static_cast<DWORD>(name.size()) + 1;
    if (name.size() > 3 && name.size() <= 6 && (name[0] | 0x20) == 'c' && (name[1] | 0x20) == 'o' &&
        (name[2] | 0x20) == 'm' && name.find_first_not_of("0123456789", 3) == std::string::npos) {
      numbers.insert(std::stoi(name.substr(3)));
    }
  }
  return {numbers.begin(), numbers.end()};
}

std::vector<PortInfo> DescribePorts(const std::vector<int>& numbers) {
  const auto names = PortDevices();
  std::vector<PortInfo> ports;
  for (const int number : numbers) ports.push_back(Describe(number, PortDeviceName(number), names));
  return ports;
}

PortInfo DescribeDevice(const std::string& device) {
  return Describe(PortNumberOfDevice(device), device, PortDevices());
}

// A COM port opens only once: a holder shows as a refused open, not here.
HolderScope::HolderScope() = default;
HolderScope::~HolderScope() = default;
HolderCheck CheckHolders(const std::string&) { return {}; }
HolderCheck RecheckHolders(const std::string&) { return {}; }
bool HoldersKnown() { return true; }
void SetConsoleListFile(const std::string&) {}

bool IsSystemConsole(const std::string&) { return false; }

}  // namespace kelta
