// The operating system's serial ports, as the reader link's channel needs them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kelta {

// A port handle of the platform: a file descriptor on POSIX, a HANDLE on Windows.
// Both platforms use -1 for "no port" (INVALID_HANDLE_VALUE is (HANDLE)-1).
using PortHandleType = std::intptr_t;
inline constexpr PortHandleType kInvalidPortHandle = -1;

// What SerialDevice::Read returns for a port that has gone.
inline constexpr int kPortLost = -1;

// Why a port did not open, in terms the operator can act on.
enum class OpenFailure {
  None,          // it opened
  NoDevice,      // no such device (nothing behind the name, or a link to nothing)
  NoPermission,  // this user may not open it for reading and writing
  Busy,          // another program holds it
  // Left alone on purpose: it is the system's console, or another process has it open
  // (OpenError::text names which). The system's ports refuse to open it at all.
  InUse,
  NotSerial,  // it is there but is no serial port
  Other,
};

struct OpenError {
  OpenFailure kind = OpenFailure::None;
  int code = 0;      // the system's error code (errno, GetLastError()); 0 when none
  std::string text;  // the system's words for it
};

// The reason behind a system error code met while opening a port: one function per
// platform, in serial_posix.cpp / serial_win32.cpp.
OpenError OpenErrorOf(int system_code);

// The platform's record of five time-outs in milliseconds (COMMTIMEOUTS on Windows).
// POSIX keeps the port's VMIN and VTIME in it, see serial_posix.cpp.
struct CommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
  friend bool operator==(const CommTimeouts&, const CommTimeouts&) = default;
};

// One call for each platform operation the channel rests on. The system's ports
// implement it in serial_posix.cpp / serial_win32.cpp; the reader simulator's
// in-memory line implements it for the tests.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Opens port `number` for exclusive, synchronous reading and writing, only if it
  // exists. Returns kInvalidPortHandle when it cannot.
  virtual PortHandleType Open(int number) = 0;
  virtual bool GetTimeouts(PortHandleType handle, CommTimeouts& timeouts) = 0;
  virtual bool SetTimeouts(PortHandleType handle, const CommTimeouts& timeouts) = 0;
  // Reads the line settings, applies the mode string ("19200,e,8,1") to them and
  // writes them back; a string that cannot be applied changes nothing.
  virtual bool ApplyMode(PortHandleType handle, std::string_view mode) = 0;
  // Aborts pending reads and writes and clears both queues.
  virtual bool Purge(PortHandleType handle) = 0;
  // Writes all `count` bytes synchronously. False when they did not all go out; a port
  // that is lost also says so from then on in Read.
  virtual bool Write(PortHandleType handle, const std::uint8_t* data, int count) = 0;
  // Reads at most one byte under the port's time-outs: 1, 0 when none came, or kPortLost
  // at once when the port has hung up or failed for good (a converter pulled out, the
  // other side of a pty closed). A port once lost stays lost until it is closed.
  virtual int Read(PortHandleType handle, std::uint8_t* place) = 0;
  virtual void Close(PortHandleType handle) = 0;
  // Why the last Open that returned kInvalidPortHandle failed. Devices that cannot
  // tell say Other.
  virtual OpenError LastOpenError() const { return {OpenFailure::Other, 0, {}}; }
};

// The real serial ports of this operating system (one instance per process).
SerialDevice& SystemSerialDevice();

// A channel of its own to the same ports, for a link that runs on another thread beside
// others: it shares no state with SystemSerialDevice() or with another such channel.
std::unique_ptr<SerialDevice> NewSystemSerialDevice();

// The device that port `number` names on this platform ("\\.\COM3",
// "/dev/ttyS2", or the target of a ports/comN link); empty when it names none.
std::string PortDeviceName(int number);

// From now on port `number` names `device` in this process, whatever it named before
// (a device given by name on the command line); an empty `device` takes that back.
void SetPortDevice(int number, const std::string& device);

// The number among COM1 to COM16 whose device `device` is (the same file, or on Windows
// the same COM name); 0 when it is none of them.
int PortNumberOfDevice(const std::string& device);

}  // namespace kelta
