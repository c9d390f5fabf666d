// The command line of qm880-sim. Portable, so that its parsing is tested everywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/reader_model.h"
#include "sim/reader_schedule.h"

namespace kelta {

struct SimOptions {
  int port = 0;      // --port N: link as ports/comN in the configuration folder
  std::string link;  // --link PATH: link there instead
  ReaderSettings settings;
  std::vector<SimTag> tags;
  ReaderFaults faults;
  std::string log_file;
  bool line_speed = false;  // --line-speed: each byte one character time after the last
  bool quiet = false;
  // Readers connected after the first one, one after another (--next); each is unplugged
  // after --unplug-after answered probes in a row, the next comes --gap ms later.
  std::vector<PluggedReader> next;
  std::optional<int> unplug_after;
  std::uint32_t gap_ms = 1000;
  bool help = false;
};

// The most milliseconds --delay and --vanish-after take: the simulator's clock compares
// times by signed 32-bit differences.
inline constexpr std::uint32_t kMaxSimMs = 0x7FFFFFFF;

// Parses the arguments after the program name. Returns an error text, empty on success.
std::string ParseSimOptions(const std::vector<std::string>& args, SimOptions& out);

// The text of --help.
std::string SimUsage();

}  // namespace kelta
