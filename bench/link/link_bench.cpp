// Costs of the reader link on a real pseudo-terminal, each against the floor the protocol
// fixes: 9 ms of pauses per frame sent, and 120 ms of idle waiting when nobody answers.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/command_set.h"
#include "link/reader_link.h"
#include "link/serial_port.h"
#include "platform/config_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPort = 21;
constexpr double kSendFloorMs = 9.0;
constexpr double kUnansweredFloorMs = kSendFloorMs + kelta::kReplyWaitMs;
constexpr double kCpuGoal = 0.03;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stats {
  double median;
  double min;
  double max;
};

Stats Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v.front(), v.back()};
}

void Print(const char* what, const Stats& s, double floor) {
  std::printf("%-34s median %7.2f ms (min %7.2f, max %7.2f)  floor %6.1f ms  ratio %.3f\n", what,
              s.median, s.min, s.max, floor, s.median / floor);
}

// Reads and throws away whatever the channel sends, answering each frame when asked to.
void Drain(int master, const std::atomic<bool>& done, bool answer) {
  const std::string reply = kelta::ReplyFrame("X07Y12345678");
  std::string frame;
  while (!done) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char buffer[64];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    frame.append(buffer, static_cast<std::size_t>(n));
    const auto end = frame.find('\r');
    if (end == std::string::npos) continue;
    frame.erase(0, end + 1);
    if (answer && write(master, reply.data(), reply.size()) < 0) return;
  }
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  char pattern[] = "/tmp/kelta-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string root = pattern;
  setenv("XDG_CONFIG_HOME", root.c_str(), 1);
  fs::create_directories(kelta::ConfigDir() + "/ports");
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
  fs::create_symlink(ptsname(master), kelta::ConfigDir() + "/ports/com" + std::to_string(kPort));

  kelta::SerialPort port(kelta::SystemSerialDevice(), kelta::SystemClock());
  kelta::NoEventPump pump;
  kelta::ReaderLink link(port, kelta::SystemClock(), pump);
  if (!port.OpenPort(kPort, "19200,e,8,1")) {
    std::fprintf(stderr, "link_bench: cannot open the pseudo-terminal as COM%d\n", kPort);
    return 1;
  }
  const std::string command = kelta::CmdReaderInfo();

  // Unanswered: also the CPU the wait burns, with no other thread in the process.
  {
    std::vector<double> times;
    const double cpu_start = CpuSeconds();
    const auto wall_start = Clock::now();
    for (int i = 0; i < 30; ++i) {
      const auto t = Clock::now();
      link.SendCommand(command);
      times.push_back(Ms(Clock::now() - t));
      tcflush(master, TCIFLUSH);
    }
    const double cpu = CpuSeconds() - cpu_start;
    const double wall = std::chrono::duration<double>(Clock::now() - wall_start).count();
    Print("unanswered exchange (pty)", Summarise(times), kUnansweredFloorMs);
    std::printf("%-34s %.2f %% of one core  goal %.0f %%  ratio %.3f\n", "CPU while waiting",
                100.0 * cpu / wall, 100.0 * kCpuGoal, cpu / wall / kCpuGoal);
  }

  // For scale: what a bare 1 ms poll costs on this machine, the least a 1 ms read can cost.
  {
    const double cpu_start = CpuSeconds();
    const auto wall_start = Clock::now();
    for (int i = 0; i < 2000; ++i) {
      pollfd p{master, POLLIN, 0};
      const timespec ms{0, 1000000};
      ppoll(&p, 1, &ms, nullptr);
    }
    const double cpu = CpuSeconds() - cpu_start;
    const double wall = std::chrono::duration<double>(Clock::now() - wall_start).count();
    std::printf("%-34s %.2f %% of one core\n", "CPU of a bare 1 ms poll loop", 100.0 * cpu / wall);
  }

  // Answered "A00B", the reader played by a thread on the master side.
  {
    std::atomic<bool> done = false;
    std::thread reader(Drain, master, std::cref(done), true);
    std::vector<double> times;
    int answered = 0;
    for (int i = 0; i < 100; ++i) {
      const auto t = Clock::now();
      answered += link.SendCommand(command) ? 1 : 0;
      times.push_back(Ms(Clock::now() - t));
    }
    done = true;
    reader.join();
    Print("answered \"A00B\" (pty)", Summarise(times), kSendFloorMs);
    std::printf("%-34s %d of 100\n", "valid replies", answered);
  }

  port.ClosePort();
  close(master);
  fs::remove_all(root);
  return 0;
}
