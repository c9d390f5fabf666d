// Recording stand-ins for what the reader operations talk to: the window, the tone,
// the message loop, the settings' store, and a tap on the serial line.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "link/reader_link.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "platform/tone.h"
#include "reader/context.h"
#include "reader/view.h"
#include "settings/settings.h"
#include "sim/virtual_clock.h"

namespace kelta::test {

// One ordered record of what the view, the tone and the store were asked to do.
using EventLog = std::vector<std::string>;

const char* FillName(Fill fill);

// The window as the operations see it: scroll bars with ranges whose change handler
// rewrites their display panel, lists that lose their selection on an index they do not
// have, lamps, enabled states, the busy state, the cursor and the tag timer.
class FakeView final : public ReaderView {
 public:
  explicit FakeView(EventLog& log);

  void SetText(Ctl ctl, const std::string& text) override;
  std::string Text(Ctl ctl) const override;
  int Position(Ctl ctl) const override;
  void SetPosition(Ctl ctl, int position) override;
  int Selection(Ctl ctl) const override;
  void SetSelection(Ctl ctl, int index) override;
  bool Checked(Ctl ctl) const override;
  void SetFill(Ctl ctl, Fill fill) override;
  void SetEnabled(Ctl ctl, bool enabled) override;
  void SetWindowEnabled(bool enabled) override;
  void SetBusy(bool on) override;
  void SetHourglass(bool on) override;
  void StartCardTimer() override;
  void StopCardTimer() override;

  void SetChecked(Ctl ctl, bool checked) { checked_[ctl] = checked; }
  bool Enabled(Ctl ctl) const;
  Fill FillOf(Ctl ctl) const { return fills_.at(ctl); }
  bool WindowEnabled() const { return window_enabled_; }
  bool Busy() const { return busy_; }
  bool Hourglass() const { return hourglass_; }
  bool CardTimerRunning() const { return card_timer_; }
  int CardTimerStarts() const { return card_timer_starts_; }
  // Every text a control was given, in order.
  std::vector<std::string> TextsOf(Ctl ctl) const;
  // The entries written to the log that begin with `prefix`.
  std::vector<std::string> Logged(std::string_view prefix) const;

 private:
  struct Bar {
    int min;
    int max;
    int position;
    Ctl display;
    int digits;
  };

  EventLog& log_;
  std::map<Ctl, std::string> texts_;
  std::map<Ctl, Bar> bars_;
  std::map<Ctl, int> counts_;
  std::map<Ctl, int> selections_;
  std::map<Ctl, bool> checked_;
  std::map<Ctl, Fill> fills_;
  std::map<Ctl, bool> enabled_;
  bool window_enabled_ = true;
  bool busy_ = false;
  bool hourglass_ = false;
  bool card_timer_ = false;
  int card_timer_starts_ = 0;
};

// A tone that takes its time on the virtual clock.
class FakeTone final : public Tone {
 public:
  struct Sound {
    unsigned hz;
    unsigned ms;
  };
  FakeTone(VirtualClock& clock, EventLog& log) : clock_(clock), log_(log) {}
  void Beep(unsigned hz, unsigned ms) override;
  std::vector<Sound> sounds;

 private:
  VirtualClock& clock_;
  EventLog& log_;
};

// One pass of the message loop; `hook` stands in for what the operator does meanwhile,
// called with the number of the pass (from 1).
class FakePump final : public EventPump {
 public:
  void ProcessMessages() override;
  int calls = 0;
  std::function<void(int)> hook;

 private:
  bool in_hook_ = false;
};

// The settings' store in memory; each write is logged.
class MemoryStore final : public SettingsStore {
 public:
  explicit MemoryStore(EventLog& log) : log_(log) {}
  bool OpenKey(bool create) override;
  bool ValueExists(const std::string& name) override;
  std::int32_t ReadInteger(const std::string& name) override;
  std::string ReadString(const std::string& name) override;
  void WriteInteger(const std::string& name, std::int32_t value) override;
  void WriteString(const std::string& name, const std::string& value) override;
  void CloseKey() override {}

  std::map<std::string, std::variant<std::int32_t, std::string>> values;
  int writes = 0;
  std::function<void()> on_write;

 private:
  EventLog& log_;
};

// Passes every call on to the real device and notes each command frame written: its
// port, the mode the port was in, its text, when it began, and how long the line had
// been quiet before it.
class LineTap final : public SerialDevice {
 public:
  struct Frame {
    int port;
    std::string mode;
    std::string text;
    std::uint32_t start_ms;
    std::uint32_t quiet_ms;  // since the last open, read or write
  };

  LineTap(SerialDevice& device, Clock& clock) : device_(device), clock_(clock) {}

  PortHandleType Open(int number) override;
  bool GetTimeouts(PortHandleType handle, CommTimeouts& timeouts) override;
  bool SetTimeouts(PortHandleType handle, const CommTimeouts& timeouts) override;
  bool ApplyMode(PortHandleType handle, std::string_view mode) override;
  bool Purge(PortHandleType handle) override;
  bool Write(PortHandleType handle, const std::uint8_t* data, int count) override;
  int Read(PortHandleType handle, std::uint8_t* place) override;
  void Close(PortHandleType handle) override;
  OpenError LastOpenError() const override { return device_.LastOpenError(); }

  std::vector<Frame> frames;
  int starts = 0;  // frames begun, also those whose writes failed part way
  int closes = 0;
  // The texts of `frames`, in order.
  std::vector<std::string> Texts() const;

 private:
  SerialDevice& device_;
  Clock& clock_;
  int port_ = 0;
  std::string mode_;
  std::string pending_;
  std::uint32_t pending_start_ = 0;
  std::uint32_t pending_quiet_ = 0;
  std::uint32_t last_io_ = 0;
};

// A tone that takes no time and remembers the last frequency.
class SilentTone final : public Tone {
 public:
  void Beep(unsigned hz, unsigned) override { last_hz = hz; }
  unsigned last_hz = 0;
};

// The reader operations on a real serial device and the system's clock, with a recording
// window: for the tests and benchmarks that go through the system's own channel.
struct SystemRig {
  explicit SystemRig(SerialDevice& device) : port(device, SystemClock()) {}
  EventLog log;
  SerialPort port;
  FakePump pump;
  ReaderLink link{port, SystemClock(), pump};
  FakeView view{log};
  SilentTone tone;
  Settings settings;
  MemoryStore store{log};
  ReaderContext ctx{link, SystemClock(), pump, tone, view, settings, store};
};

}  // namespace kelta::test
