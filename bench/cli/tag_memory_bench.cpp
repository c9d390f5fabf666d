// tag_memory_bench: the heap of qm880ctl read-tags over 100,000 polls (about three hours
// of reading), with a tag in every reply, on the in-memory line and a virtual clock, so
// that it takes seconds. The lines go to /dev/null as CSV. The growth after the first
// thousand polls is what months of reading would add up.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "bench/tag_memory.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "sim/sim_line.h"
#include "sim/virtual_clock.h"
#include "sim/write_hook.h"

int main() {
  namespace fs = std::filesystem;
  using namespace kelta;
  const fs::path home =
      fs::temp_directory_path() / ("kelta-tag-memory-" + std::to_string(getpid()));
  fs::create_directories(home);
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);

  VirtualClock clock;
  SimLine line(clock);
  line.AttachReader(2, ReaderModel(ReaderSettings{}, {SimTag{0x4D2, 1}}));
  WriteHook device(line);
  bench::HeapGrowth growth;
  growth.Watch(device, line);

  const std::string count = std::to_string(bench::kPolls);
  const std::vector<const char*> argv = {"qm880ctl", "--port",     "2",          "--mode",
                                         "5",        "--no-store", "read-tags",  "--format",
                                         "csv",      "--count",    count.c_str()};
  cli::CliOptions options;
  std::ostringstream help;
  if (cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options, help, help)) {
    std::fprintf(stderr, "tag_memory_bench: %s\n", help.str().c_str());
    return 1;
  }
  std::FILE* sink = std::fopen("/dev/null", "w");
  const auto start = std::chrono::steady_clock::now();
  const int code = cli::RunCommand(options, sink, sink, device, clock);
  const std::chrono::duration<double> real = std::chrono::steady_clock::now() - start;
  std::fclose(sink);
  fs::remove_all(home);
  growth.Report("read-tags", real.count(), clock.Ticks());
  return code;
}
