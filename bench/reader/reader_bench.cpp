// reader_bench: how close discovery's walk and the tag poll come to the floor that
// their pauses and reply waits set, on the system's serial channel and real time.
//
//   walk: one port (a pseudo-terminal nobody answers on) walked through all twelve
//         modes with chkLock cleared; floor 12 x 2 x (100 ms + 9 ms + 120 ms)
//   poll: continuous tag reading against qm880-sim; floor 80 ms + one answered
//         exchange, the exchange measured on its own on the same line
//
// The other fifteen ports are linked to a missing device, so no real port is touched.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "link/command_set.h"
#include "link/reader_link.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "reader/operations.h"
#include "settings/settings.h"
#include "sim/sim_process.h"
#include "tests/reader/reader_fakes.h"

namespace kelta {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double WalkRatio() {
  // A pseudo-terminal that opens and never answers.
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("posix_openpt");
    return -1;
  }
  const std::string slave = ptsname(master);
  const int slave_keep = open(slave.c_str(), O_RDWR | O_NOCTTY);  // no hangup between opens
  for (int p = 1; p <= 16; ++p)
    LinkPort(p, p == 1 ? fs::path(slave) : fs::path("/nonexistent/tty"));

  test::SystemRig w(SystemSerialDevice());
  w.view.SetChecked(Ctl::chkLock, false);
  const auto start = Clock::now();
  ScanReader(w.ctx);
  const double ms = MsSince(start);
  const double floor = 12 * 2 * (100.0 + 9.0 + 120.0);
  std::printf("walk: %.0f ms over one silent port, floor %.0f ms, ratio %.4f (%s)\n", ms, floor,
              ms / floor, w.view.Text(Ctl::pnMsg).c_str());
  close(slave_keep);
  close(master);
  return ms / floor;
}

void PollRatio() {
  constexpr int kPort = 2;
  SimProcess sim(kPort, {"--tag", "000004D2"});
  if (!sim.Ready()) {
    std::printf("poll: qm880-sim did not start\n");
    return;
  }

  test::SystemRig w(SystemSerialDevice());
  w.settings.ScanCommNo = kPort;
  w.settings.ScanBaudRate = kBaudRateTable[kDefaultModeIndex];
  w.settings.ScanBaudRateNo = kDefaultModeIndex;

  // One answered exchange, alone.
  constexpr int kExchanges = 40;
  double exchange_ms = 0;
  int answered = 0;
  if (w.link.OpenPort(kPort, w.settings.ScanBaudRate)) {
    const auto start = Clock::now();
    for (int i = 0; i < kExchanges; ++i) answered += w.link.SendCommand(CmdReadTag()) ? 1 : 0;
    exchange_ms = MsSince(start) / kExchanges;
    w.link.ClosePort();
  }

  // Reading, stopped by the second press after kPolls tags.
  constexpr int kPolls = 40;
  w.ctx.ReaderReady = true;
  int first_tag_seen = 0;
  Clock::time_point first_tag;
  w.pump.hook = [&](int) {
    const auto tags = w.view.TextsOf(Ctl::pnCardID).size();
    if (tags == 1 && first_tag_seen == 0) {
      first_tag_seen = 1;
      first_tag = Clock::now();
    }
    if (w.ctx.TagReadActive && tags == kPolls + 1) ReadCard(w.ctx);
  };
  ReadCard(w.ctx);
  const double period =
      std::chrono::duration<double, std::milli>(Clock::now() - first_tag).count() / kPolls;
  const double floor = 80.0 + exchange_ms;
  std::printf(
      "poll: %.1f ms per tag poll, exchange %.1f ms (%d/%d answered), floor %.1f ms, "
      "ratio %.4f\n",
      period, exchange_ms, answered, kExchanges, floor, period / floor);
}

}  // namespace
}  // namespace kelta

int main() {
  return kelta::bench::InConfigFolder("reader-bench", [](const auto&) {
    kelta::WalkRatio();
    kelta::PollRatio();
    return 0;
  });
}
