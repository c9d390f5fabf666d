// What the system can tell about a serial port without talking to it: where a port number
// leads, whether the device is there, whether this user may open it, who has it open and,
// for a USB converter, which one it is.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelta {

struct PortHolder {
  long pid = 0;
  std::string name;        // the process's command name
  bool exclusive = false;  // it holds the port's lock
};

struct UsbIdentity {
  std::string vendor_id;  // four hexadecimal digits, as the system gives them
  std::string product_id;
  std::string serial;  // empty when the converter has none
  std::string manufacturer;
  std::string product;
  std::string by_id;     // the /dev/serial/by-id name; empty where there is none
  std::string driver{};  // Linux: the kernel driver ("ftdi_sio", "cp210x", "cdc_acm")
  // The converter's latency timer in ms, where the system shows it (Linux: sysfs for
  // ftdi_sio; Windows: LatencyTimer in the device's parameters); -1 where it does not.
  int latency_timer_ms = -1;
};

struct PortInfo {
  int number = 0;             // the COM number; 0 for a device given by name
  std::string device;         // the device the port names; empty when it names none
  bool linked = false;        // named by a ports/comN link rather than by the table
  std::string target;         // Windows: what the system maps the name to (QueryDosDevice)
  std::string friendly_name;  // Windows: the name the system shows for the port
  bool exists = false;
  // This user may open it for reading and writing. On Windows only an open can tell:
  // a port another program has open counts as busy there, not as refused.
  bool accessible = false;
  bool busy = false;
  std::string group;  // POSIX: the group the device belongs to, for the fix to a refusal
  std::vector<PortHolder> holders;  // other processes that have the device open
  bool holders_known = true;        // false where other users' processes cannot be seen
  std::optional<UsbIdentity> usb;
};

// The port numbers worth listing: COM1 to COM16, and any further ones the system knows.
std::vector<int> KnownPortNumbers();

// One look at the system for all of `numbers`.
std::vector<PortInfo> DescribePorts(const std::vector<int>& numbers);

// A device given by name (or the device of a port number).
PortInfo DescribeDevice(const std::string& device);

// While one lives, the holders of ports are read whole once (Linux: /proc) for a whole
// walk or command, instead of at each open; each look after that (before an open, and
// after its exclusive claim) reads again only the processes that changed. The first makes
// a fresh start; they may nest.
class HolderScope {
 public:
  HolderScope();
  ~HolderScope();
  HolderScope(const HolderScope&) = delete;
  HolderScope& operator=(const HolderScope&) = delete;
};

struct HolderCheck {
  std::vector<PortHolder> holders;  // other processes that have the device open
  bool known = true;                // false where others' processes cannot be seen
};

// The other processes that have `device` open, as far as this user can see them, before an
// open; none on Windows, where an open port cannot be opened again anyway.
HolderCheck CheckHolders(const std::string& device);
// The same after this process has claimed `device`: a holder that came meanwhile.
HolderCheck RecheckHolders(const std::string& device);
// False once a look at the holders could not see every process (Linux: /proc mounted
// with hidepid, or processes of other users whose descriptors cannot be read).
bool HoldersKnown();

// Whether `device` is a console of the kernel (Linux: listed in /proc/consoles).
bool IsSystemConsole(const std::string& device);
// The file that lists the kernel's consoles, instead of /proc/consoles (for tests); empty
// gives /proc/consoles back.
void SetConsoleListFile(const std::string& file);

}  // namespace kelta
