#include "link/serial_port.h"

namespace kelta {

namespace {

// A one-byte read returns after at most 1 ms with whatever has arrived; writes have no
// time-out.
constexpr CommTimeouts kPortTimeouts{0, 0, 1, 0, 0};
constexpr std::uint32_t kByteWritePauseMs = 1;
constexpr std::uint32_t kBlockWritePauseMs = 5;

}  // namespace

// Opens port `number` in `mode`. True as soon as the port is open: the time-outs and the
// mode are applied without looking at the outcome, because a port in a mode the reader does
// not use simply yields no valid reply. While a port is already open this refuses and leaves
// that port, its handle and its saved time-outs alone (continuous tag reading holds it).
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
  device_.GetTimeouts(port_handle_, saved_timeouts_);
  port_timeouts_ = kPortTimeouts;
  timeouts_set_ = device_.SetTimeouts(port_handle_, port_timeouts_);
  device_.ApplyMode(port_handle_, mode);
  return true;
}

// Gives the port back with the time-outs it had (the device puts back its line settings).
// Lost() keeps telling about this port until the next open. PortHandle keeps
// its value, but nothing touches it again until the next open: on POSIX the number may
// already belong to another file.
void SerialPort::ClosePort() {
  if (!open_) return;
  device_.SetTimeouts(port_handle_, saved_timeouts_);
  device_.Close(port_handle_);
  open_ = false;
}

void SerialPort::PurgePort() {
  if (open_) device_.Purge(port_handle_);
}

// The pauses stay whatever the write comes to: they pace the line, not the outcome.
bool SerialPort::WriteByte(std::uint8_t byte) {
  const bool written = open_ && !lost_ && device_.Write(port_handle_, &byte, 1);
  clock_.Sleep(kByteWritePauseMs);
  return written;
}

bool SerialPort::WriteBytes(const std::uint8_t* data, int count) {
  const bool written = open_ && !lost_ && (count <= 0 || device_.Write(port_handle_, data, count));
  clock_.Sleep(kBlockWritePauseMs);
  return written;
}

int SerialPort::ReadByte(std::uint8_t* place) {
  if (!open_) {
    // No port: still the read time-out, so a reply wait on a real clock does not spin.
    clock_.Sleep(kPortTimeouts.ReadTotalTimeoutConstant);
    return 0;
  }
  if (lost_) return kPortLost;
  const int got = device_.Read(port_handle_, place);
  if (got == kPortLost) {
    lost_ = true;
    return kPortLost;
  }
  if (got == 1) return 1;
  // A port that refused the time-outs may return at once; the wait is kept here instead.
  if (!timeouts_set_) clock_.Sleep(kPortTimeouts.ReadTotalTimeoutConstant);
  return 0;
}

}  // namespace kelta
