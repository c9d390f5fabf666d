// qm880ctl --trace: passes every call on to the real device and writes each frame sent
// and received, each open and close, as trace lines with the time since the start.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/serial_device.h"

namespace kelta::cli {

class LineTrace final : public SerialDevice {
 public:
  // `name_port`: each frame line begins with its port, for traces of several ports at once.
  LineTrace(SerialDevice& device, Clock& clock, std::FILE* out, bool name_port = false)
      : device_(device), clock_(clock), out_(out), start_(clock.Ticks()), name_port_(name_port) {}

  PortHandleType Open(int number) override;
  bool GetTimeouts(PortHandleType handle, CommTimeouts& timeouts) override {
    return device_.GetTimeouts(handle, timeouts);
  }
  bool SetTimeouts(PortHandleType handle, const CommTimeouts& timeouts) override {
    return device_.SetTimeouts(handle, timeouts);
  }
  bool ApplyMode(PortHandleType handle, std::string_view mode) override;
  bool Purge(PortHandleType handle) override;
  bool Write(PortHandleType handle, const std::uint8_t* data, int count) override;
  int Read(PortHandleType handle, std::uint8_t* place) override;
  void Close(PortHandleType handle) override;
  OpenError LastOpenError() const override { return device_.LastOpenError(); }

 private:
  std::uint32_t Now() { return clock_.Ticks() - start_; }
  // One call, so that the lines of links on other threads never break into it.
  void Put(const std::string& line);
  void PutFrame(const std::string& line) { Put(name_port_ ? port_ + " " + line : line); }
  // Writes what was received and not yet written, with `note` when it is not a whole frame.
  void FlushReceived(const char* note);

  SerialDevice& device_;
  Clock& clock_;
  std::FILE* out_;
  std::uint32_t start_;
  bool name_port_;
  std::string port_;
  std::string sent_;
  std::uint32_t sent_at_ = 0;
  std::string received_;
  std::uint32_t received_at_ = 0;
};

}  // namespace kelta::cli
