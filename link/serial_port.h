// The serial port channel: the one connection to the reader.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/clock.h"
#include "platform/serial_device.h"

namespace kelta {

// A one-byte read returns after at most 1 ms with whatever has arrived. A write gives up
// after 250 ms plus 3 ms a byte (a character at 4800 baud with parity takes 2.3 ms): a line
// whose transmit stalls (a port left with hardware handshake, a converter that hangs) fails
// the exchange instead of holding the program for ever. POSIX keeps its own write limit.
inline constexpr CommTimeouts kChannelTimeouts{0, 0, 1, 3, 250};

class SerialPort {
 public:
  SerialPort(SerialDevice& device, Clock& clock) : device_(device), clock_(clock) {}
  // A port still open is given back as ClosePort gives it back.
  ~SerialPort() { ClosePort(); }
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // True once the port is open with the channel's time-outs and in `mode`. A port that
  // refuses either is closed again and counts as not opened (LastOpenError says which).
  bool OpenPort(int number, std::string_view mode);
  void ClosePort();
  void PurgePort();
  // False when the bytes did not all go out within the write time-out (or no port is open).
  // Only a write that went out is followed by its pause (1 ms a byte, 5 ms a block).
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
  // The port's own time-outs as read at this open, put back at close; all zero, and not put
  // back, when they could not be read.
  const CommTimeouts& SavedTimeouts() const { return saved_timeouts_; }
  bool HasSavedTimeouts() const { return timeouts_saved_; }
  const CommTimeouts& PortTimeouts() const { return port_timeouts_; }

 private:
  SerialDevice& device_;
  Clock& clock_;
  bool open_ = false;
  bool lost_ = false;
  bool timeouts_saved_ = false;
  PortHandleType port_handle_ = kInvalidPortHandle;
  CommTimeouts saved_timeouts_{};
  CommTimeouts port_timeouts_ = kChannelTimeouts;
  OpenError last_open_error_;
};

}  // namespace kelta
