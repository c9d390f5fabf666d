// qm880-sim: a simulated QM880-4R reader on a pseudo-terminal. See --help.
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/config_dir.h"
#include "sim/pty_host.h"
#include "sim/sim_options.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

void Print(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);  // scripts wait for the ready line through a pipe
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kelta;
  SimOptions options;
  const std::string error =
      ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options);
  if (!error.empty()) {
    std::fprintf(stderr, "qm880-sim: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(SimUsage().c_str(), stdout);
    return 0;
  }

  std::ofstream log;
  if (!options.log_file.empty()) {
    log.open(options.log_file, std::ios::app);
    if (!log) {
      std::fprintf(stderr, "qm880-sim: cannot write %s\n", options.log_file.c_str());
      return 1;
    }
  }

  // Without SA_RESTART, so that the wait in the answering loop ends at once.
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  ReaderModel reader(options.settings, options.tags);
  reader.Faults() = options.faults;
  PtyHost host(reader, [&](const std::string& line) {
    if (!options.quiet) Print(line);
    if (log) log << line << '\n' << std::flush;
  });
  host.SendAtLineSpeed(options.line_speed);
  ReaderSchedule schedule(options.next, options.unplug_after.value_or(3), options.gap_ms);
  if (!options.next.empty() || options.unplug_after) host.SetSchedule(&schedule);

  const std::string link = !options.link.empty()
                               ? options.link
                               : ConfigDir() + "/ports/com" + std::to_string(options.port);
  const std::string label = options.port > 0 ? "COM" + std::to_string(options.port) : link;
  if (const std::string failure = host.Start(link); !failure.empty()) {
    std::fprintf(stderr, "qm880-sim: %s\n", failure.c_str());
    return 1;
  }
  Print("qm880-sim: " + label + " -> " + host.SlaveName() + " ready");
  host.Run(g_stop);
  host.RemoveLink();
  Print("qm880-sim: " + label + " stopped");
  return 0;
}
