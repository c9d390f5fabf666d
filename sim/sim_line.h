// An in-memory set of serial ports on a virtual clock, with simulated readers on some of
// them: the fast tests' stand-in for the operating system's ports.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/port_mode.h"
#include "platform/serial_device.h"
#include "sim/reader_model.h"
#include "sim/virtual_clock.h"

namespace kelta {

// The line settings of entry `index` of kBaudRateTable.
LineSettings ModeLineSettings(int index);

class SimLine final : public SerialDevice {
 public:
  // One open of a port, as the reader operations' tests check it.
  struct OpenRecord {
    int port = 0;
    std::uint32_t time_ms = 0;
    bool ok = false;
    std::string mode;           // the last mode string applied while open, "" for none
    bool mode_applied = false;  // whether that string could be applied
    std::optional<std::uint32_t> closed_ms;
  };

  // The port's own time-outs before anybody sets them: not the channel's 0, 0, 1, 3, 250,
  // so that a test sees whether they were given back.
  static constexpr CommTimeouts kInitialTimeouts{20, 2, 50, 3, 100};

  explicit SimLine(VirtualClock& clock) : clock_(clock) {}
  SimLine(const SimLine&) = delete;
  SimLine& operator=(const SimLine&) = delete;

  // Port `port` exists and a reader is attached to it (also again after a hang-up). The
  // reference stays valid.
  ReaderModel& AttachReader(int port, ReaderModel reader = ReaderModel());
  // Port `port` exists with nothing on it: it opens, and never answers.
  void AddEmptyPort(int port);
  // Another program holds port `port` open (or lets it go): opens fail meanwhile.
  void SetHeld(int port, bool held);
  // Port `port` is there but this user may not open it (or may again).
  void SetRefused(int port, bool refused);
  void RemovePort(int port);
  // Port `port` hangs up, as a converter pulled out or a pty whose other side closed:
  // the handle open on it reads kPortLost and fails its writes, and it no longer opens.
  void HangUp(int port);
  // Replies come one character time per byte at the port's line settings, as on a wire;
  // without it a reply is there whole at once.
  void SendAtLineSpeed(bool on) { line_speed_ = on; }

  ReaderModel* Reader(int port);
  bool IsOpen(int port) const;
  // The line settings and time-outs a port has now; nullopt for a port that doesn't exist.
  std::optional<LineSettings> PortLine(int port) const;
  std::optional<CommTimeouts> PortTimeouts(int port) const;

  const std::vector<OpenRecord>& Opens() const { return opens_; }
  // Every command text heard by the reader on `port` with a right checksum, in order.
  std::vector<std::string> Commands(int port) const;
  void ClearLog();

  PortHandleType Open(int number) override;
  bool GetTimeouts(PortHandleType handle, CommTimeouts& timeouts) override;
  bool SetTimeouts(PortHandleType handle, const CommTimeouts& timeouts) override;
  bool ApplyMode(PortHandleType handle, std::string_view mode) override;
  bool Purge(PortHandleType handle) override;
  bool Write(PortHandleType handle, const std::uint8_t* data, int count) override;
  int Read(PortHandleType handle, std::uint8_t* place) override;
  void Close(PortHandleType handle) override;
  // A missing, vanished or hung-up port: NoDevice; one held or open already: Busy.
  OpenError LastOpenError() const override { return last_open_error_; }

 private:
  struct Pending {
    std::uint8_t byte;
    std::uint32_t ready_ms;
  };
  struct Port {
    std::optional<ReaderModel> reader;
    bool held = false;
    bool refused = false;
    bool hung_up = false;
    PortHandleType handle = kInvalidPortHandle;  // while open
    std::size_t open_record = 0;
    LineSettings line;
    CommTimeouts timeouts = kInitialTimeouts;
    std::deque<Pending> incoming;
    bool streaming = false;
    std::uint32_t stream_from_ms = 0;
    std::uint64_t stream_next = 0;
    std::uint32_t wire_us = 0;  // character time owed to the clock, below 1 ms
  };

  Port* ByHandle(PortHandleType handle);
  bool Gone(const Port& port) const;
  void IdleRead(const Port* port);

  VirtualClock& clock_;
  std::map<int, Port> ports_;
  std::vector<OpenRecord> opens_;
  PortHandleType next_handle_ = 100;
  OpenError last_open_error_;
  bool line_speed_ = false;
};

}  // namespace kelta
