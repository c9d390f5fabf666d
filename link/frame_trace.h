// One line of a protocol trace, as qm880-sim and qm880ctl --trace write them:
//     0.875 <- 09 41 30 30 42 30 41 0D  |.A00B0A.|
#pragma once

#include <cstdint>
#include <string>

namespace kelta {

// Bytes that went `direction` ("->" or "<-") at `ms` milliseconds since the start: in
// hexadecimal and as text; runs longer than 48 bytes are cut, with their length.
std::string TraceLine(std::uint32_t ms, const char* direction, const std::string& bytes,
                      const std::string& note = {});

// A remark at `ms`:     1.485 -- text
std::string TraceNote(std::uint32_t ms, const std::string& text);

}  // namespace kelta
