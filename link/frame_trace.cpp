#include "link/frame_trace.h"

#include <cstdio>

namespace kelta {

namespace {

constexpr std::size_t kTraceBytes = 48;  // longer runs are cut in the trace

std::string Time(std::uint32_t ms) {
  char head[24];
  std::snprintf(head, sizeof head, "%9.3f ", ms / 1000.0);
  return head;
}

}  // namespace

std::string TraceLine(std::uint32_t ms, const char* direction, const std::string& bytes,
                      const std::string& note) {
  std::string hex;
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && i < kTraceBytes; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    char two[4];
    std::snprintf(two, sizeof two, " %02X", b);
    hex += two;
    text += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
  }
  std::string line = Time(ms) + direction + hex + "  |" + text + "|";
  if (bytes.size() > kTraceBytes) line += " ... " + std::to_string(bytes.size()) + " bytes";
  if (!note.empty()) line += "  (" + note + ")";
  return line;
}

std::string TraceNote(std::uint32_t ms, const std::string& text) { return Time(ms) + "-- " + text; }

}  // namespace kelta
