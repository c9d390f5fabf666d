// A serial device that passes everything on to another and shows each write to a hook
// first: for tests and measurements that act at a given frame (an interrupt, a count).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/serial_device.h"

namespace kelta {

class WriteHook final : public SerialDevice {
 public:
  explicit WriteHook(SerialDevice& device) : device_(device) {}
  // Called with the bytes of each write before they go out.
  std::function<void(std::string_view)> on_write;

  // Called before each open.
  std::function<void(int)> on_open;

  PortHandleType Open(int number) override {
    if (on_open) on_open(number);
    return device_.Open(number);
  }
  bool GetTimeouts(PortHandleType h, CommTimeouts& t) override { return device_.GetTimeouts(h, t); }
  bool SetTimeouts(PortHandleType h, const CommTimeouts& t) override {
    return device_.SetTimeouts(h, t);
  }
  bool ApplyMode(PortHandleType h, std::string_view mode) override {
    return device_.ApplyMode(h, mode);
  }
  bool Purge(PortHandleType h) override { return device_.Purge(h); }
  bool Write(PortHandleType h, const std::uint8_t* data, int count) override {
    if (on_write) {
      on_write({reinterpret_cast<const char*>(data), static_cast<std::size_t>(count)});
    }
    return device_.Write(h, data, count);
  }
  int Read(PortHandleType h, std::uint8_t* place) override { return device_.Read(h, place); }
  void Close(PortHandleType h) override { device_.Close(h); }
  OpenError LastOpenError() const override { return device_.LastOpenError(); }

 private:
  SerialDevice& device_;
};

}  // namespace kelta
