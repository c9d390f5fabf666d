// The driver flags of a Linux serial port (TIOCGSERIAL/TIOCSSERIAL), behind a seam so that
// the channel's use of them can be tested without a port whose driver has them.
#pragma once

#include <memory>
#include <optional>

#include "platform/serial_device.h"

namespace kelta {

class SerialFlags {
 public:
  virtual ~SerialFlags() = default;
  // The port's flags; false where the driver has none (a pty, many USB ACM devices).
  virtual bool Get(int fd, int& flags) = 0;
  virtual bool Set(int fd, int flags) = 0;
};

// TIOCGSERIAL/TIOCSSERIAL on the descriptor.
SerialFlags& SystemSerialFlags();

// Asks the driver of `fd` to hand received bytes over at once (ASYNC_LOW_LATENCY; for an
// FTDI converter that takes its latency timer from 16 ms to 1 ms, and an ordinary user may
// ask it). The flags to put back at close, or nullopt when nothing was changed: a driver
// without the flags, one that refuses, or one that has low latency already.
std::optional<int> RequestLowLatency(SerialFlags& flags, int fd);

// The system's ports, with `flags` for the driver flags (SystemSerialDevice uses the
// system's); for the tests.
std::unique_ptr<SerialDevice> MakePosixSerialDevice(SerialFlags& flags);

}  // namespace kelta
