// cli_bench: qm880ctl as a program, measured from outside.
//
//   start-up: qm880ctl --version and qm880ctl ports against /bin/true, each started and
//             waited for, taking turns; the median of each
//   poll:     qm880ctl read-tags against qm880-sim hearing a tag at every poll; the time
//             between its output lines over the floor, 80 ms + one answered exchange
//             measured on its own on the same line (as reader_bench measures the window's)
//
// Ports live in a configuration folder of the bench's own; no real port is touched by
// the poll measurement (the other fifteen lead to a missing device).
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "link/command_set.h"
#include "link/reader_link.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "sim/sim_process.h"

namespace kelta {
namespace {

using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

using bench::Median;

void StartUp() {
  constexpr int kRuns = 41;
  const std::vector<std::vector<std::string>> programs = {
      {"/bin/true"}, {KELTA_QM880CTL, "--version"}, {KELTA_QM880CTL, "ports"}};
  std::vector<std::vector<double>> ms(programs.size());
  for (int i = 0; i < kRuns; ++i) {
    for (std::size_t p = 0; p < programs.size(); ++p) ms[p].push_back(bench::RunMs(programs[p]));
  }
  const double base = Median(ms[0]);
  std::printf(
      "start-up: /bin/true %.2f ms, qm880ctl --version %.2f ms (%.2f x), "
      "qm880ctl ports %.2f ms (%.2f x), medians of %d\n",
      base, Median(ms[1]), Median(ms[1]) / base, Median(ms[2]), Median(ms[2]) / base, kRuns);
}

void PollPeriod() {
  constexpr int kPort = 2;
  LinkOtherPortsToNothing(kPort);
  SimProcess sim(kPort, {"--tag", "000004D2"});
  if (!sim.Ready()) {
    std::printf("poll: qm880-sim did not start\n");
    return;
  }

  // One answered exchange, alone, on the same line.
  constexpr int kExchanges = 40;
  SerialPort port(SystemSerialDevice(), SystemClock());
  NoEventPump pump;
  ReaderLink link(port, SystemClock(), pump);
  double exchange_ms = 0;
  int answered = 0;
  if (link.OpenPort(kPort, kBaudRateTable[kDefaultModeIndex])) {
    const auto start = Clock::now();
    for (int i = 0; i < kExchanges; ++i) answered += link.SendCommand(CmdReadTag()) ? 1 : 0;
    exchange_ms = MsBetween(start, Clock::now()) / kExchanges;
    link.ClosePort();
  }

  // Reading: one line per tag poll, timed as each line arrives.
  constexpr int kPolls = 40;
  const std::string command = std::string(KELTA_QM880CTL) + " --port " + std::to_string(kPort) +
                              " --mode 5 --no-store read-tags --count " +
                              std::to_string(kPolls + 1) + " 2>/dev/null";
  std::FILE* lines = popen(command.c_str(), "r");
  if (lines == nullptr) return;
  std::vector<Clock::time_point> arrivals;
  char line[256];
  while (std::fgets(line, sizeof line, lines) != nullptr) arrivals.push_back(Clock::now());
  pclose(lines);
  if (static_cast<int>(arrivals.size()) != kPolls + 1) {
    std::printf("poll: %zu lines instead of %d\n", arrivals.size(), kPolls + 1);
    return;
  }
  const double period = MsBetween(arrivals.front(), arrivals.back()) / kPolls;
  const double floor = 80.0 + exchange_ms;
  std::printf(
      "poll: qm880ctl read-tags %.1f ms per tag poll, exchange %.1f ms (%d/%d answered), "
      "floor %.1f ms, ratio %.4f\n",
      period, exchange_ms, answered, kExchanges, floor, period / floor);
}

}  // namespace
}  // namespace kelta

int main() {
  return kelta::bench::InConfigFolder("cli-bench", [](const auto&) {
    kelta::StartUp();
    kelta::PollPeriod();
    return 0;
  });
}
