#include "sim/sim_line.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "link/command_set.h"

namespace kelta {

namespace {

bool Reached(std::uint32_t now_ms, std::uint32_t at_ms) {
  return static_cast<std::int32_t>(now_ms - at_ms) >= 0;
}

// Bits on the wire for one character: start, data, parity, stop.
unsigned CharacterBits(const LineSettings& line) {
  unsigned bits = 1 + line.data_bits + (line.parity == Parity::None ? 0u : 1u);
  return bits + (line.stop_bits == StopBits::One ? 1u : 2u);
}

}  // namespace

LineSettings ModeLineSettings(int index) {
  assert(index >= 0 && index < static_cast<int>(kBaudRateTable.size()));
  const std::optional<LineSettings> line =
      ApplyModeString(kBaudRateTable[static_cast<std::size_t>(index)], LineSettings{});
  assert(line);
  return line.value_or(LineSettings{});
}

ReaderModel& SimLine::AttachReader(int port, ReaderModel reader) {
  Port& p = ports_[port];
  p.reader.emplace(std::move(reader));
  p.hung_up = false;  // a converter plugged in again
  return *p.reader;
}

void SimLine::AddEmptyPort(int port) { ports_[port].reader.reset(); }

void SimLine::SetHeld(int port, bool held) { ports_[port].held = held; }

void SimLine::SetRefused(int port, bool refused) { ports_[port].refused = refused; }

void SimLine::RemovePort(int port) { ports_.erase(port); }

void SimLine::HangUp(int port) {
  if (const auto it = ports_.find(port); it != ports_.end()) it->second.hung_up = true;
}

ReaderModel* SimLine::Reader(int port) {
  auto it = ports_.find(port);
  return it != ports_.end() && it->second.reader ? &*it->second.reader : nullptr;
}

bool SimLine::IsOpen(int port) const {
  auto it = ports_.find(port);
  return it != ports_.end() && it->second.handle != kInvalidPortHandle;
}

std::optional<LineSettings> SimLine::PortLine(int port) const {
  auto it = ports_.find(port);
  if (it == ports_.end()) return std::nullopt;
  return it->second.line;
}

std::optional<CommTimeouts> SimLine::PortTimeouts(int port) const {
  auto it = ports_.find(port);
  if (it == ports_.end()) return std::nullopt;
  return it->second.timeouts;
}

std::vector<std::string> SimLine::Commands(int port) const {
  auto it = ports_.find(port);
  if (it == ports_.end() || !it->second.reader) return {};
  return it->second.reader->Commands();
}

void SimLine::ClearLog() {
  opens_.clear();
  for (auto& [number, port] : ports_) {
    if (port.reader) port.reader->ClearLog();
    // A port still open keeps a record to be closed on.
    if (port.handle != kInvalidPortHandle) {
      OpenRecord record;
      record.port = number;
      record.time_ms = clock_.Ticks();
      record.ok = true;
      port.open_record = opens_.size();
      opens_.push_back(record);
    }
  }
}

SimLine::Port* SimLine::ByHandle(PortHandleType handle) {
  if (handle == kInvalidPortHandle) return nullptr;
  for (auto& [number, port] : ports_) {
    if (port.handle == handle) return &port;
  }
  return nullptr;
}

bool SimLine::Gone(const Port& port) const {
  return port.reader && port.reader->Vanished(clock_.Ticks());
}

// A read that finds nothing takes the port's read time-out; never less than 1 ms, so
// that a reply wait always moves the virtual clock on.
void SimLine::IdleRead(const Port* port) {
  std::uint32_t wait = 1;
  if (port) {
    wait = std::max<std::uint32_t>(
        1, port->timeouts.ReadTotalTimeoutConstant + port->timeouts.ReadTotalTimeoutMultiplier);
  }
  clock_.Advance(wait);
}

PortHandleType SimLine::Open(int number) {
  OpenRecord record;
  record.port = number;
  record.time_ms = clock_.Ticks();
  auto it = ports_.find(number);
  Port* port = it == ports_.end() ? nullptr : &it->second;
  if (port && port->refused) {
    last_open_error_ = {OpenFailure::NoPermission, 13, "Permission denied"};
    opens_.push_back(record);
    return kInvalidPortHandle;
  }
  if (!port || port->held || port->hung_up || port->handle != kInvalidPortHandle || Gone(*port)) {
    last_open_error_.kind =
        !port || port->hung_up || Gone(*port) ? OpenFailure::NoDevice : OpenFailure::Busy;
    opens_.push_back(record);
    return kInvalidPortHandle;
  }
  last_open_error_ = {};
  record.ok = true;
  port->handle = next_handle_++;
  port->open_record = opens_.size();
  opens_.push_back(record);
  return port->handle;
}

bool SimLine::GetTimeouts(PortHandleType handle, CommTimeouts& timeouts) {
  Port* port = ByHandle(handle);
  if (!port) return false;
  timeouts = port->timeouts;
  return true;
}

bool SimLine::SetTimeouts(PortHandleType handle, const CommTimeouts& timeouts) {
  Port* port = ByHandle(handle);
  if (!port) return false;
  port->timeouts = timeouts;
  return true;
}

bool SimLine::ApplyMode(PortHandleType handle, std::string_view mode) {
  Port* port = ByHandle(handle);
  if (!port) return false;
  const std::optional<LineSettings> line = ApplyModeString(mode, port->line);
  if (line) port->line = *line;
  OpenRecord& record = opens_[port->open_record];
  record.mode = std::string(mode);
  record.mode_applied = line.has_value();
  return line.has_value();
}

// Drops what has arrived. A reply the reader has not sent yet (a delayed one) still comes,
// as it would on a wire.
bool SimLine::Purge(PortHandleType handle) {
  Port* port = ByHandle(handle);
  if (!port) return false;
  const std::uint32_t now = clock_.Ticks();
  std::erase_if(port->incoming, [now](const Pending& p) { return Reached(now, p.ready_ms); });
  return true;
}

bool SimLine::Write(PortHandleType handle, const std::uint8_t* data, int count) {
  Port* port = ByHandle(handle);
  if (!port || port->hung_up) return false;
  if (!port->reader) return true;  // nothing on the line to hear it
  ReaderModel& reader = *port->reader;
  const std::uint32_t now = clock_.Ticks();
  if (reader.Vanished(now)) return false;
  for (int i = 0; i < count; ++i) {
    // Checked per byte: an "A00E" moves the reader to another mode mid-write.
    if (port->line != ModeLineSettings(reader.Settings().mode_index)) {
      reader.FeedNoise();
      continue;
    }
    const std::optional<ReaderReply> reply = reader.Feed(data[i], now);
    if (!reply) continue;
    std::uint32_t ready = now + reply->delay_ms;
    const std::uint64_t character_us = CharacterTimeUs(port->line);
    std::uint64_t wire_us = 0;
    for (char c : reply->bytes) {
      // Readable once its last bit is in.
      if (line_speed_) wire_us += character_us;
      const auto at = ready + static_cast<std::uint32_t>((wire_us + 999) / 1000);
      port->incoming.push_back({static_cast<std::uint8_t>(c), at});
    }
    ready += static_cast<std::uint32_t>((wire_us + 999) / 1000);
    if (reply->endless) {
      port->streaming = true;
      port->stream_from_ms = ready;
      port->stream_next = 0;
    }
  }
  return true;
}

// A byte that is there takes no virtual time, except in an endless stream: that one
// arrives at the line's speed, so a test can see time pass while it flows.
// A hung-up port answers at once, as a system port's poll does.
int SimLine::Read(PortHandleType handle, std::uint8_t* place) {
  Port* port = ByHandle(handle);
  if (port && port->hung_up) return kPortLost;
  if (!port || Gone(*port)) {
    IdleRead(port);
    return 0;
  }
  const std::uint32_t now = clock_.Ticks();
  if (!port->incoming.empty() && Reached(now, port->incoming.front().ready_ms)) {
    *place = port->incoming.front().byte;
    port->incoming.pop_front();
    return 1;
  }
  if (port->streaming && port->incoming.empty() && Reached(now, port->stream_from_ms)) {
    *place = ReaderModel::StreamByte(port->stream_next++);
    port->wire_us += CharacterBits(port->line) * 1000000u / std::max(port->line.baud, 1u);
    clock_.Advance(port->wire_us / 1000);
    port->wire_us %= 1000;
    return 1;
  }
  IdleRead(port);
  return 0;
}

void SimLine::Close(PortHandleType handle) {
  Port* port = ByHandle(handle);
  if (!port) return;
  port->handle = kInvalidPortHandle;
  port->incoming.clear();
  port->streaming = false;
  port->wire_us = 0;
  if (port->reader) port->reader->FeedNoise();
  opens_[port->open_record].closed_ms = clock_.Ticks();
}

}  // namespace kelta
