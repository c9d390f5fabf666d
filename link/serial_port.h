// The serial port channel: the one connection to the reader.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/clock.h"
#include "platform/serial_device.h"

namespace kelta {

class SerialPort {
 public:
  SerialPort(SerialDevice& device, Clock& clock) : device_(device), clock_(clock) {}
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  bool OpenPort(int number, std::string_view mode);
  void ClosePort();
  void PurgePort();
  // False when the bytes did not all go out (or no port is open).
  bool WriteByte(std::uint8_t byte);
  bool WriteBytes(const std::uint8_t* data, int count);
  // 1, 0 when no byte came within the read time-out, or kPortLost at once on a lost port.
  int ReadByte(std::uint8_t* place);

  bool IsOpen() const { return open_; }
  // The port has hung up or failed for good; only closing and opening it again can bring
  // it back. Stays true after the close, until the next open.
  bool Lost() const { return lost_; }
  // Why the last OpenPort that found no port open failed.
  const OpenError& LastOpenError() const { return last_open_error_; }
  PortHandleType PortHandle() const { return port_handle_; }
  const CommTimeouts& SavedTimeouts() const { return saved_timeouts_; }
  const CommTimeouts& PortTimeouts() const { return port_timeouts_; }

 private:
  SerialDevice& device_;
  Clock& clock_;
  bool open_ = false;
  bool lost_ = false;
  // The port took the channel's time-outs; when it did not, a read may not wait at all.
  bool timeouts_set_ = false;
  PortHandleType port_handle_ = kInvalidPortHandle;
  CommTimeouts saved_timeouts_{};
  CommTimeouts port_timeouts_{0, 0, 1, 0, 0};
  OpenError last_open_error_;
};

}  // namespace kelta
