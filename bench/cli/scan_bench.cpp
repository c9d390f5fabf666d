// scan_bench: qm880ctl scan --every --all-modes over sixteen pseudo-terminal ports, twelve
// silent and four with qm880-sim in different modes, against its floor: the same command
// when only one silent port is there, whose walk is 24 unanswered probes. Runs of the two
// take turns; the medians are compared. While the sixteen-port scan runs its threads and
// open descriptors are sampled from /proc; the peaks are reported.
//
// Ports live in a configuration folder of the bench's own; no real port is touched.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "sim/sim_process.h"

namespace kelta {
namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

// A pseudo-terminal nobody answers on: the bench holds its master and never reads it.
class SilentPort {
 public:
  SilentPort() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) name_ = ptsname(master_);
  }
  ~SilentPort() {
    if (master_ >= 0) close(master_);
  }
  SilentPort(const SilentPort&) = delete;
  SilentPort& operator=(const SilentPort&) = delete;
  const std::string& Name() const { return name_; }

 private:
  int master_ = -1;
  std::string name_;
};

struct Run {
  double ms = 0;
  int threads = 0;
  int descriptors = 0;
};

int ThreadsOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
  }
  return 0;
}

// qm880ctl --no-store scan --every --all-modes, its output on /dev/null, sampled every
// millisecond while it runs.
Run ScanEvery() {
  Run run;
  const auto start = Steady::now();
  const pid_t pid =
      bench::SpawnQuietly({KELTA_QM880CTL, "--no-store", "scan", "--every", "--all-modes"});
  if (pid < 0) return run;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    run.threads = std::max(run.threads, ThreadsOf(pid));
    run.descriptors = std::max(run.descriptors, bench::DescriptorsOf(pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  run.ms = std::chrono::duration<double, std::milli>(Steady::now() - start).count();
  return run;
}

using bench::Median;

void Bench() {
  constexpr int kRuns = 3;
  const std::vector<std::pair<int, int>> readers = {{2, 0}, {6, 4}, {11, 8}, {15, 10}};
  std::vector<std::unique_ptr<SilentPort>> silent;
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::vector<int> silent_ports;
  for (int port = 1; port <= 16; ++port) {
    const bool reader =
        std::any_of(readers.begin(), readers.end(), [&](const auto& r) { return r.first == port; });
    if (reader) continue;
    silent.push_back(std::make_unique<SilentPort>());
    silent_ports.push_back(port);
  }
  for (const auto& [port, mode] : readers) {
    sims.push_back(std::make_unique<SimProcess>(
        port, std::vector<std::string>{"--mode", std::to_string(mode)}));
    if (!sims.back()->Ready()) {
      std::printf("scan-every: qm880-sim did not start\n");
      return;
    }
  }
  // The simulators' pseudo-terminals, linked again after each floor run.
  std::vector<fs::path> sim_ttys;
  for (const auto& r : readers) {
    sim_ttys.push_back(
        fs::read_symlink(fs::path(getenv("XDG_CONFIG_HOME")) / "KELTA" / "ReaderConfig" / "ports" /
                         ("com" + std::to_string(r.first))));
  }
  const auto link_all = [&] {
    for (std::size_t i = 0; i < silent.size(); ++i) LinkPort(silent_ports[i], silent[i]->Name());
  };
  // The floor: one silent port, the rest leading nowhere (the simulators stay, unlinked).
  const auto link_floor = [&] {
    LinkOtherPortsToNothing(silent_ports.front());
    LinkPort(silent_ports.front(), silent.front()->Name());
  };

  std::vector<double> floor_ms, every_ms;
  int threads = 0, descriptors = 0;
  for (int i = 0; i < kRuns; ++i) {
    link_floor();
    floor_ms.push_back(ScanEvery().ms);
    link_all();
    for (std::size_t s = 0; s < readers.size(); ++s) LinkPort(readers[s].first, sim_ttys[s]);
    const Run run = ScanEvery();
    every_ms.push_back(run.ms);
    threads = std::max(threads, run.threads);
    descriptors = std::max(descriptors, run.descriptors);
  }
  const double floor = Median(floor_ms), every = Median(every_ms);
  std::printf(
      "scan-every: 16 ports (12 silent, 4 readers), --all-modes: %.0f ms, floor (one silent "
      "port's walk) %.0f ms, ratio %.3f (goal 1.15); peak %d threads, %d descriptors; "
      "medians of %d\n",
      every, floor, every / floor, threads, descriptors, kRuns);
}

}  // namespace
}  // namespace kelta

int main() {
  return kelta::bench::InConfigFolder("scan-bench", [](const auto&) {
    kelta::Bench();
    return 0;
  });
}
