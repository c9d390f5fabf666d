#include "cli/line_trace.h"

#include "link/frame_trace.h"

namespace kelta::cli {

namespace {

constexpr char kFrameEnd = 0x0D;

}  // namespace

void LineTrace::Put(const std::string& line) {
  const std::string whole = line + "\n";
  std::fwrite(whole.data(), 1, whole.size(), out_);
  std::fflush(out_);
}

void LineTrace::FlushReceived(const char* note) {
  if (received_.empty()) return;
  PutFrame(TraceLine(received_at_, "<-", received_, note));
  received_.clear();
}

PortHandleType LineTrace::Open(int number) {
  const PortHandleType handle = device_.Open(number);
  port_ = "COM" + std::to_string(number);
  const std::string name = PortDeviceName(number);
  const std::string where = port_ + " (" + (name.empty() ? "no device" : name) + ")";
  if (handle == kInvalidPortHandle) {
    const OpenError error = device_.LastOpenError();
    Put(TraceNote(Now(), where + " does not open: " + error.text));
  } else {
    Put(TraceNote(Now(), "open " + where));
  }
  return handle;
}

bool LineTrace::ApplyMode(PortHandleType handle, std::string_view mode) {
  const bool applied = device_.ApplyMode(handle, mode);
  Put(TraceNote(Now(), port_ + " in " + std::string(mode) + (applied ? "" : ": not applied")));
  return applied;
}

bool LineTrace::Purge(PortHandleType handle) {
  FlushReceived("no whole frame");
  return device_.Purge(handle);
}

bool LineTrace::Write(PortHandleType handle, const std::uint8_t* data, int count) {
  FlushReceived("no whole frame");
  if (sent_.empty()) sent_at_ = Now();
  sent_.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
  const bool written = device_.Write(handle, data, count);
  if (!sent_.empty() && sent_.back() == kFrameEnd) {
    PutFrame(TraceLine(sent_at_, "->", sent_, written ? "" : "write failed"));
    sent_.clear();
  }
  return written;
}

int LineTrace::Read(PortHandleType handle, std::uint8_t* place) {
  const int n = device_.Read(handle, place);
  if (n == 1) {
    if (received_.empty()) received_at_ = Now();
    received_ += static_cast<char>(*place);
    if (*place == kFrameEnd) FlushReceived("");
  }
  return n;
}

void LineTrace::Close(PortHandleType handle) {
  FlushReceived("no whole frame");
  device_.Close(handle);
  Put(TraceNote(Now(), "close " + port_));
}

}  // namespace kelta::cli
