// A serial device that plays a script on a virtual clock: bytes become readable at given
// times, an idle read takes 1 ms, and every call and every byte written is recorded.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_device.h"
#include "sim/virtual_clock.h"

namespace kelta::test {

class ScriptedDevice final : public SerialDevice {
 public:
  struct WriteRecord {
    std::uint32_t at;
    std::string bytes;
    friend bool operator==(const WriteRecord&, const WriteRecord&) = default;
  };

  explicit ScriptedDevice(VirtualClock& clock) : clock_(clock) {}

  // Makes `bytes` readable from virtual time `at` on, one after the other; with
  // `ms_per_byte`, each byte one step later than the one before.
  void Answer(std::uint32_t at, std::string_view bytes, std::uint32_t ms_per_byte = 0) {
    for (char c : bytes) {
      incoming_.push_back({at, static_cast<std::uint8_t>(c)});
      at += ms_per_byte;
    }
  }

  PortHandleType open_result = 7;
  bool apply_mode_result = true;
  // kPortLost stands for a port that has gone, another negative value for a read that fails.
  int read_result_when_idle = 0;
  // An idle read takes this long: the port's read time-out.
  std::uint32_t ms_per_idle_read = 1;
  bool set_timeouts_result = true;
  bool get_timeouts_result = true;
  bool write_result = true;
  // A read that brings a byte takes this long, as on a slow line.
  std::uint32_t ms_per_read_byte = 0;
  CommTimeouts port_timeouts{300, 5, 0, 0, 0};

  std::vector<std::string> calls;
  std::vector<WriteRecord> writes;
  int idle_reads = 0;

  PortHandleType Open(int number) override {
    calls.push_back("Open " + std::to_string(number));
    return open_result;
  }
  bool GetTimeouts(PortHandleType handle, CommTimeouts& timeouts) override {
    calls.push_back("GetTimeouts " + std::to_string(handle));
    if (!get_timeouts_result) return false;
    timeouts = port_timeouts;
    return true;
  }
  bool SetTimeouts(PortHandleType handle, const CommTimeouts& timeouts) override {
    calls.push_back("SetTimeouts " + std::to_string(handle));
    if (!set_timeouts_result) return false;
    port_timeouts = timeouts;
    return true;
  }
  bool ApplyMode(PortHandleType handle, std::string_view mode) override {
    calls.push_back("ApplyMode " + std::to_string(handle) + " " + std::string(mode));
    return apply_mode_result;
  }
  // Discards what has arrived so far, as the real purge clears the input queue.
  bool Purge(PortHandleType handle) override {
    calls.push_back("Purge " + std::to_string(handle));
    while (!incoming_.empty() && Arrived(incoming_.front())) incoming_.pop_front();
    return true;
  }
  bool Write(PortHandleType, const std::uint8_t* data, int count) override {
    writes.push_back({clock_.Ticks(), std::string(reinterpret_cast<const char*>(data),
                                                  static_cast<std::size_t>(count))});
    return write_result;
  }
  int Read(PortHandleType, std::uint8_t* place) override {
    if (!incoming_.empty() && Arrived(incoming_.front())) {
      *place = incoming_.front().byte;
      incoming_.pop_front();
      clock_.Advance(ms_per_read_byte);
      return 1;
    }
    ++idle_reads;
    clock_.Advance(ms_per_idle_read);
    return read_result_when_idle;
  }
  void Close(PortHandleType handle) override { calls.push_back("Close " + std::to_string(handle)); }

  std::string Written() const {
    std::string all;
    for (const auto& w : writes) all += w.bytes;
    return all;
  }

 private:
  struct Incoming {
    std::uint32_t at;
    std::uint8_t byte;
  };
  // Modulo 2^32, so that scripts across the tick counter's wrap-around work.
  bool Arrived(const Incoming& in) const {
    return static_cast<std::int32_t>(clock_.Ticks() - in.at) >= 0;
  }

  VirtualClock& clock_;
  std::deque<Incoming> incoming_;
};

}  // namespace kelta::test
