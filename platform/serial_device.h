// The operating system's serial ports, as the reader link's channel needs them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelta {

// A port handle of the platform: a file descriptor on POSIX, a HANDLE on Windows.
// Both platforms use -1 for "no port" (INVALID_HANDLE_VALUE is (HANDLE)-1).
using PortHandleType = std::intptr_t;
inline constexpr PortHandleType kInvalidPortHandle = -1;

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
  // Writes all `count` bytes synchronously.
  virtual bool Write(PortHandleType handle, const std::uint8_t* data, int count) = 0;
  // Reads at most one byte under the port's time-outs: 1, or 0 when none came.
  virtual int Read(PortHandleType handle, std::uint8_t* place) = 0;
  virtual void Close(PortHandleType handle) = 0;
};

// The real serial ports of this operating system (one instance per process).
SerialDevice& SystemSerialDevice();

// The device that port `number` names on this platform ("\\.\COM3",
// "/dev/ttyS2", or the target of a ports/comN link); empty when it names none.
std::string PortDeviceName(int number);

}  // namespace kelta
