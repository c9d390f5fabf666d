// holder_bench: qm880ctl --port 1 scan --all-modes on one silent pseudo-terminal port (the
// stored place's three probes and the twelve-mode walk, thirteen opens) while two other
// processes hold 40,000 descriptors between them, against the same walk with none. The
// program reads who holds which device once for the command; the two should differ by
// that one reading. Runs take turns; the medians are compared.
//
// Ports live in a configuration folder of the bench's own; no real port is touched.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "sim/sim_process.h"

namespace kelta {
namespace {

constexpr int kHolders = 2;
constexpr int kDescriptorsEach = 20000;

// A process with `count` descriptors open on /dev/null until it is ended.
pid_t StartHolder(int count) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    const int null = open("/dev/null", O_RDONLY);
    for (int i = 1; i < count && dup(null) >= 0; ++i) {
    }
    (void)!write(ready[1], "x", 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char byte = 0;
  (void)!read(ready[0], &byte, 1);
  close(ready[0]);
  return pid;
}

using bench::Median;

void Bench() {
  constexpr int kRuns = 3;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
  LinkOtherPortsToNothing(1);
  LinkPort(1, ptsname(master));
  const std::vector<std::string> walk = {KELTA_QM880CTL, "--no-store", "--port", "1",
                                         "scan",         "--all-modes"};
  std::vector<double> none_ms, held_ms;
  int descriptors = 0;
  for (int i = 0; i < kRuns; ++i) {
    none_ms.push_back(bench::RunMs(walk));
    std::vector<pid_t> holders;
    for (int h = 0; h < kHolders; ++h) holders.push_back(StartHolder(kDescriptorsEach - 10));
    descriptors = 0;
    for (const pid_t pid : holders) descriptors += bench::DescriptorsOf(pid);
    held_ms.push_back(bench::RunMs(walk));
    for (const pid_t pid : holders) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  close(master);
  const double none = Median(none_ms), held = Median(held_ms);
  std::printf(
      "holders: one port's walk in twelve modes (13 opens) with %d descriptors open in %d "
      "other processes: %.0f ms, with none: %.0f ms, ratio %.3f (goal 1.1); medians of %d\n",
      descriptors, kHolders, held, none, held / none, kRuns);
}

}  // namespace
}  // namespace kelta

int main() {
  return kelta::bench::InConfigFolder("holder-bench", [](const auto&) {
    kelta::Bench();
    return 0;
  });
}
