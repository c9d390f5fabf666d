#include "tests/reader/reader_fakes.h"

#include <algorithm>
#include <cstdio>

namespace kelta::test {

const char* FillName(Fill fill) {
  switch (fill) {
    case Fill::Red:
      return "Red";
    case Fill::Yellow:
      return "Yellow";
    case Fill::White:
      return "White";
  }
  return "?";
}

FakeView::FakeView(EventLog& log) : log_(log) {
  // The window's controls as it opens.
  texts_[Ctl::pnID] = "__";
  texts_[Ctl::pnRSSI] = "0";
  texts_[Ctl::pnAddr] = "049";
  texts_[Ctl::pnFreq] = "059";
  texts_[Ctl::pnChannel] = "000";
  texts_[Ctl::btnReadCard] = "Read TAG";
  texts_[Ctl::pnCardID] = "TAG ID";
  bars_[Ctl::sbID] = {1, 99, 1, Ctl::pnID, 2};
  bars_[Ctl::sbRSSI] = {0, 250, 0, Ctl::pnRSSI, 3};
  bars_[Ctl::sbAddr] = {0, 255, 49, Ctl::pnAddr, 3};
  bars_[Ctl::sbFreq] = {0, 255, 59, Ctl::pnFreq, 3};
  bars_[Ctl::sbChannel] = {0, 255, 0, Ctl::pnChannel, 3};
  counts_[Ctl::cmbBaudRate] = 12;
  counts_[Ctl::cmbRS485] = 4;
  counts_[Ctl::cmbWiegand] = 3;
  selections_[Ctl::cmbBaudRate] = 5;
  selections_[Ctl::cmbRS485] = 1;
  selections_[Ctl::cmbWiegand] = 0;
  checked_[Ctl::chkLock] = true;
  fills_[Ctl::shComm] = Fill::Red;
  fills_[Ctl::shCard] = Fill::White;
}

void FakeView::SetText(Ctl ctl, const std::string& text) {
  texts_[ctl] = text;
  log_.push_back(std::string("text ") + CtlName(ctl) + "=" + text);
}

std::string FakeView::Text(Ctl ctl) const {
  const auto it = texts_.find(ctl);
  return it == texts_.end() ? std::string() : it->second;
}

int FakeView::Position(Ctl ctl) const { return bars_.at(ctl).position; }

void FakeView::SetPosition(Ctl ctl, int position) {
  Bar& bar = bars_.at(ctl);
  position = std::clamp(position, bar.min, bar.max);
  log_.push_back(std::string("position ") + CtlName(ctl) + "=" + std::to_string(position));
  if (position == bar.position) return;
  bar.position = position;
  // The bar's change handler.
  char display[8];
  std::snprintf(display, sizeof display, "%0*d", bar.digits, position);
  SetText(bar.display, display);
}

int FakeView::Selection(Ctl ctl) const { return selections_.at(ctl); }

void FakeView::SetSelection(Ctl ctl, int index) {
  log_.push_back(std::string("select ") + CtlName(ctl) + "=" + std::to_string(index));
  selections_[ctl] = index >= 0 && index < counts_.at(ctl) ? index : -1;
}

bool FakeView::Checked(Ctl ctl) const { return checked_.at(ctl); }

void FakeView::SetFill(Ctl ctl, Fill fill) {
  fills_[ctl] = fill;
  log_.push_back(std::string("fill ") + CtlName(ctl) + "=" + FillName(fill));
}

void FakeView::SetEnabled(Ctl ctl, bool enabled) {
  enabled_[ctl] = enabled;
  log_.push_back(std::string("enable ") + CtlName(ctl) + "=" + (enabled ? "1" : "0"));
}

bool FakeView::Enabled(Ctl ctl) const {
  const auto it = enabled_.find(ctl);
  return it == enabled_.end() || it->second;
}

void FakeView::SetWindowEnabled(bool enabled) {
  window_enabled_ = enabled;
  log_.push_back(std::string("window=") + (enabled ? "1" : "0"));
}

void FakeView::SetBusy(bool on) {
  busy_ = on;
  window_enabled_ = !on;
  log_.push_back(std::string("busy=") + (on ? "1" : "0"));
}

void FakeView::SetHourglass(bool on) {
  hourglass_ = on;
  log_.push_back(std::string("hourglass=") + (on ? "1" : "0"));
}

void FakeView::StartCardTimer() {
  if (!card_timer_) ++card_timer_starts_;
  card_timer_ = true;
  log_.push_back("timer start");
}

void FakeView::StopCardTimer() {
  card_timer_ = false;
  log_.push_back("timer stop");
}

std::vector<std::string> FakeView::TextsOf(Ctl ctl) const {
  return Logged(std::string("text ") + CtlName(ctl) + "=");
}

std::vector<std::string> FakeView::Logged(std::string_view prefix) const {
  std::vector<std::string> found;
  for (const std::string& entry : log_) {
    if (entry.starts_with(prefix)) found.push_back(entry.substr(prefix.size()));
  }
  return found;
}

void FakeTone::Beep(unsigned hz, unsigned ms) {
  sounds.push_back({hz, ms});
  log_.push_back("beep " + std::to_string(hz) + "/" + std::to_string(ms));
  clock_.Advance(ms);
}

void FakePump::ProcessMessages() {
  ++calls;
  // A handler run from here may run the loop again itself; only the outer pass acts.
  if (!hook || in_hook_) return;
  in_hook_ = true;
  hook(calls);
  in_hook_ = false;
}

bool MemoryStore::OpenKey(bool) { return true; }

bool MemoryStore::ValueExists(const std::string& name) { return values.contains(name); }

std::int32_t MemoryStore::ReadInteger(const std::string& name) {
  const auto it = values.find(name);
  if (it == values.end() || !std::holds_alternative<std::int32_t>(it->second)) {
    throw SettingsStoreError(name);
  }
  return std::get<std::int32_t>(it->second);
}

std::string MemoryStore::ReadString(const std::string& name) {
  const auto it = values.find(name);
  if (it == values.end() || !std::holds_alternative<std::string>(it->second)) {
    throw SettingsStoreError(name);
  }
  return std::get<std::string>(it->second);
}

void MemoryStore::WriteInteger(const std::string& name, std::int32_t value) {
  values[name] = value;
  ++writes;
  log_.push_back("store " + name + "=" + std::to_string(value));
  if (on_write) on_write();
}

void MemoryStore::WriteString(const std::string& name, const std::string& value) {
  values[name] = value;
  ++writes;
  log_.push_back("store " + name + "=" + value);
  if (on_write) on_write();
}

PortHandleType LineTap::Open(int number) {
  port_ = number;
  mode_.clear();
  last_io_ = clock_.Ticks();
  return device_.Open(number);
}

bool LineTap::GetTimeouts(PortHandleType handle, CommTimeouts& timeouts) {
  return device_.GetTimeouts(handle, timeouts);
}

bool LineTap::SetTimeouts(PortHandleType handle, const CommTimeouts& timeouts) {
  return device_.SetTimeouts(handle, timeouts);
}

bool LineTap::ApplyMode(PortHandleType handle, std::string_view mode) {
  mode_ = mode;
  last_io_ = clock_.Ticks();
  return device_.ApplyMode(handle, mode);
}

bool LineTap::Purge(PortHandleType handle) { return device_.Purge(handle); }

bool LineTap::Write(PortHandleType handle, const std::uint8_t* data, int count) {
  const std::uint32_t now = clock_.Ticks();
  for (int i = 0; i < count; ++i) {
    if (data[i] == 0x09) {
      ++starts;
      pending_.clear();
      pending_start_ = now;
      pending_quiet_ = now - last_io_;
    } else if (data[i] == 0x0D) {
      // The frame's text is what stands between the start byte and the checksum.
      const std::string text = pending_.size() >= 2 ? pending_.substr(0, pending_.size() - 2) : "";
      frames.push_back({port_, mode_, text, pending_start_, pending_quiet_});
    } else {
      pending_ += static_cast<char>(data[i]);
    }
  }
  const bool ok = device_.Write(handle, data, count);
  last_io_ = clock_.Ticks();
  return ok;
}

int LineTap::Read(PortHandleType handle, std::uint8_t* place) {
  const int n = device_.Read(handle, place);
  last_io_ = clock_.Ticks();
  return n;
}

void LineTap::Close(PortHandleType handle) {
  ++closes;
  device_.Close(handle);
  last_io_ = clock_.Ticks();
}

std::vector<std::string> LineTap::Texts() const {
  std::vector<std::string> texts;
  for (const Frame& f : frames) texts.push_back(f.text);
  return texts;
}

}  // namespace kelta::test
