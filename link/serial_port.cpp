#include "link/serial_port.h"

#include <string>
#include <utility>

namespace kelta {

namespace {

constexpr std::uint32_t kByteWritePauseMs = 1;
constexpr std::uint32_t kBlockWritePauseMs = 5;

}  // namespace

// Opens port `number` in `mode`, with the channel's time-outs. A port that refuses the
// time-outs would keep its own (all zero on Windows: a read that waits for ever), and one
// that refuses the mode would talk in whatever mode it was left in: either is closed again
// and the open fails. While a port is already open this refuses and leaves that port, its
// handle and its saved time-outs alone (continuous tag reading holds it).
bool SerialPort::OpenPort(int number, std::string_view mode) {
  if (open_) return false;
  port_handle_ = device_.Open(number);
  if (port_handle_ == kInvalidPortHandle) {
    last_open_error_ = device_.LastOpenError();
    return false;
  }
  last_open_error_ = {};
  open_ = true;
  lost_ = false;
  // Only what was read at this open goes back at close, never another port's values.
  saved_timeouts_ = {};
  timeouts_saved_ = device_.GetTimeouts(port_handle_, saved_timeouts_);
  if (!timeouts_saved_) saved_timeouts_ = {};
  port_timeouts_ = kChannelTimeouts;
  std::string refused;
  if (!device_.SetTimeouts(port_handle_, port_timeouts_)) {
    refused = "the port refused the time-outs";
  } else if (!device_.ApplyMode(port_handle_, mode)) {
    refused = "the port refused the mode " + std::string(mode);
  }
  if (refused.empty()) return true;
  ClosePort();
  last_open_error_ = {OpenFailure::Other, 0, std::move(refused)};
  return false;
}

// Gives the port back with the time-outs it had (the device puts back its line settings).
// Lost() keeps telling about this port until the next open. PortHandle keeps
// its value, but nothing touches it again until the next open: on POSIX the number may
// already belong to another file.
void SerialPort::ClosePort() {
  if (!open_) return;
  if (timeouts_saved_) device_.SetTimeouts(port_handle_, saved_timeouts_);
  device_.Close(port_handle_);
  open_ = false;
}

void SerialPort::PurgePort() {
  if (open_) device_.Purge(port_handle_);
}

// The pauses pace the line after each write that went out. A write that failed ends the
// exchange anyway, and on a lost port nothing goes out: a poll there is only its own pause.
bool SerialPort::WriteByte(std::uint8_t byte) {
  const bool written = open_ && !lost_ && device_.Write(port_handle_, &byte, 1);
  if (written) clock_.Sleep(kByteWritePauseMs);
  return written;
}

bool SerialPort::WriteBytes(const std::uint8_t* data, int count) {
  const bool written = open_ && !lost_ && (count <= 0 || device_.Write(port_handle_, data, count));
  if (written) clock_.Sleep(kBlockWritePauseMs);
  return written;
}

int SerialPort::ReadByte(std::uint8_t* place) {
  if (!open_) {
    // No port: still the read time-out, so a reply wait on a real clock does not spin.
    clock_.Sleep(kChannelTimeouts.ReadTotalTimeoutConstant);
    return 0;
  }
  if (lost_) return kPortLost;
  const int got = device_.Read(port_handle_, place);
  if (got == kPortLost) {
    lost_ = true;
    return kPortLost;
  }
  return got == 1 ? 1 : 0;
}

}  // namespace kelta
