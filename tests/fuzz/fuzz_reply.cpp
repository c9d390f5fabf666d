// The reply collector fed arbitrary byte streams with arbitrary idle gaps: it always
// ends, and its state stays within its bounds.
#include <cstdint>
#include <cstdlib>
#include <deque>

#include "link/reader_link.h"
#include "link/serial_port.h"
#include "sim/virtual_clock.h"

namespace {

// Plays the input back as the line: 0xFF n stands for n idle reads, any other byte
// (and 0xFF 0xFF) arrives as itself.
class PlaybackDevice final : public kelta::SerialDevice {
 public:
  PlaybackDevice(kelta::VirtualClock& clock, const std::uint8_t* data, std::size_t size)
      : clock_(clock), data_(data), size_(size) {}
  kelta::PortHandleType Open(int) override { return 3; }
  bool GetTimeouts(kelta::PortHandleType, kelta::CommTimeouts&) override { return true; }
  bool SetTimeouts(kelta::PortHandleType, const kelta::CommTimeouts&) override { return true; }
  bool ApplyMode(kelta::PortHandleType, std::string_view) override { return true; }
  bool Purge(kelta::PortHandleType) override { return true; }
  bool Write(kelta::PortHandleType, const std::uint8_t*, int) override { return true; }
  void Close(kelta::PortHandleType) override {}
  int Read(kelta::PortHandleType, std::uint8_t* place) override {
    if (gap_ > 0) {
      --gap_;
      clock_.Advance(1);
      return 0;
    }
    if (pos_ >= size_) {
      clock_.Advance(1);
      return 0;
    }
    std::uint8_t b = data_[pos_++];
    if (b == 0xFF && pos_ < size_) {
      const std::uint8_t n = data_[pos_++];
      if (n != 0xFF) {
        gap_ = n;
        clock_.Advance(1);
        return 0;
      }
    }
    *place = b;
    return 1;
  }

 private:
  kelta::VirtualClock& clock_;
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  int gap_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelta::VirtualClock clock(0xFFFFFF00u);  // across the tick counter's wrap-around
  PlaybackDevice device(clock, data, size);
  kelta::SerialPort port(device, clock);
  kelta::NoEventPump pump;
  kelta::ReaderLink link(port, clock, pump);
  if (!port.OpenPort(3, "19200,e,8,1")) std::abort();
  const bool ok = link.SendCommand("A00B");
  if (link.ReplyLength() < 0 || link.ReplyLength() >= kelta::kReplyBufferSize) std::abort();
  if (link.ReplyText().size() >= static_cast<std::size_t>(kelta::kReplyBufferSize)) std::abort();
  if (ok && !link.ReplyChecksumOk()) std::abort();
  if (ok && (link.ReplyText().empty() || link.ReplyText().front() != '\x0A')) std::abort();
  (void)link.ReplyChars(-5, 2000);
  port.ClosePort();
  return 0;
}
