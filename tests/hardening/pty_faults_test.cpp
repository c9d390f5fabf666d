// The system's serial channel on pseudo-terminals: a reader that hangs up during tag
// reading, a stream without end, and what a long session leaves behind (descriptors,
// heap). Ports are links in a configuration folder of the test's own.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "link/command_set.h"
#include "link/reader_link.h"
#include "link/serial_port.h"
#include "platform/config_dir.h"
#include "reader/context.h"
#include "reader/operations.h"
#include "sim/sim_process.h"
#include "tests/platform/holder_process.h"
#include "tests/reader/reader_fakes.h"

#if defined(__SANITIZE_ADDRESS__)
#define KELTA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELTA_ASAN 1
#endif
#endif

namespace kelta::test {
namespace {

namespace fs = std::filesystem;
using WallClock = std::chrono::steady_clock;

constexpr int kPort = 4;

// Counts the channel's reads of the system's device.
class CountingDevice final : public SerialDevice {
 public:
  explicit CountingDevice(SerialDevice& inner) : inner_(inner) {}
  PortHandleType Open(int number) override { return inner_.Open(number); }
  bool GetTimeouts(PortHandleType h, CommTimeouts& t) override { return inner_.GetTimeouts(h, t); }
  bool SetTimeouts(PortHandleType h, const CommTimeouts& t) override {
    return inner_.SetTimeouts(h, t);
  }
  bool ApplyMode(PortHandleType h, std::string_view mode) override {
    return inner_.ApplyMode(h, mode);
  }
  bool Purge(PortHandleType h) override { return inner_.Purge(h); }
  bool Write(PortHandleType h, const std::uint8_t* data, int count) override {
    return inner_.Write(h, data, count);
  }
  int Read(PortHandleType h, std::uint8_t* place) override {
    ++reads;
    return inner_.Read(h, place);
  }
  void Close(PortHandleType h) override { inner_.Close(h); }
  long reads = 0;

 private:
  SerialDevice& inner_;
};

class PtyFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kelta-hardening-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    // No real port is ever touched: every other number names a missing device.
    LinkOtherPortsToNothing(kPort);
    LinkPort(kPort, "/nonexistent/tty");
  }
  void TearDown() override {
    StopSim();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // qm880-sim as COM`kPort`; true once its link points at its pty.
  bool StartSim(const std::vector<std::string>& extra) {
    sim_.emplace(kPort, extra);
    return sim_->Ready();
  }
  void StopSim() { sim_.reset(); }

  fs::path root_;
  std::optional<SimProcess> sim_;
};

// The reader operations on the system's channel, clock and a recording window.
struct World : test::SystemRig {
  using SystemRig::SystemRig;

  void MakeReady(int mode) {
    settings.ScanCommNo = kPort;
    settings.ScanBaudRate = kBaudRateTable[mode];
    settings.ScanBaudRateNo = mode;
    ctx.ReaderReady = true;
  }
};

// Reading goes on after the device has gone: each read waits its time-out, so the reads
// cannot outnumber the milliseconds (a spinning loop would make millions), and the press
// ends it as always.
void ReadThroughAHangup(World& w, CountingDevice& device, const std::function<void()>& hang_up,
                        std::uint32_t hang_up_after_ms) {
  w.MakeReady(5);
  const auto start = WallClock::now();
  bool gone = false;
  long reads_at_hangup = 0;
  WallClock::time_point gone_at;
  w.pump.hook = [&](int) {
    const auto now = WallClock::now();
    if (!gone && now - start > std::chrono::milliseconds(hang_up_after_ms)) {
      hang_up();
      gone = true;
      gone_at = now;
      reads_at_hangup = device.reads;
    }
    if (gone && w.ctx.TagReadActive && now - gone_at > std::chrono::milliseconds(1500)) {
      ReadCard(w.ctx);
    }
  };

  ReadCard(w.ctx);

  ASSERT_TRUE(gone);
  const auto gone_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(WallClock::now() - gone_at).count();
  EXPECT_LE(device.reads - reads_at_hangup, 2 * gone_ms + 200);
  EXPECT_FALSE(w.ctx.TagReadActive);
  EXPECT_TRUE(w.view.WindowEnabled());
  EXPECT_FALSE(w.view.Busy());
  EXPECT_EQ(w.view.FillOf(Ctl::shComm), Fill::Yellow);
  EXPECT_EQ(w.tone.last_hz, 1000u);
  EXPECT_TRUE(w.view.Enabled(Ctl::btnExit));
  EXPECT_FALSE(w.port.IsOpen());
}

TEST_F(PtyFaults, ReaderVanishingDuringTagReading) {
  ASSERT_TRUE(StartSim({"--tag", "000004D2", "--vanish-after", "1500"}));
  CountingDevice device(SystemSerialDevice());
  World w(device);
  // The simulator hangs up on its own; the hook only notes when.
  ReadThroughAHangup(
      w, device, [] {}, 1700);
  EXPECT_GE(w.view.Logged("fill shCard=Yellow").size(), 1u);
}

TEST_F(PtyFaults, PtyMasterClosedDuringTagReading) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  LinkPort(kPort, ptsname(master));
  CountingDevice device(SystemSerialDevice());
  World w(device);
  ReadThroughAHangup(
      w, device,
      [&] {
        close(master);
        master = -1;
      },
      500);
  if (master >= 0) close(master);
}

// A reader that answers with a stream without end: the scan still ends, reports, and
// leaves the window usable. The lock keeps the walk to one mode on the port.
TEST_F(PtyFaults, EndlessStreamOnARealLineEndsTheScan) {
  ASSERT_TRUE(StartSim({"--stream"}));
  World w(SystemSerialDevice());
  w.view.SetChecked(Ctl::chkLock, true);
  w.settings.ScanCommNo = kPort;
  w.settings.ScanBaudRate = kBaudRateTable[5];
  w.settings.ScanBaudRateNo = 5;

  ScanReader(w.ctx);

  EXPECT_FALSE(w.ctx.ReaderReady);
  EXPECT_EQ(w.view.Text(Ctl::pnMsg), Catalogue().Text(25, 0));
  EXPECT_TRUE(w.view.WindowEnabled());
  EXPECT_FALSE(w.view.Hourglass());
  EXPECT_EQ(w.tone.last_hz, 300u);
  EXPECT_FALSE(w.port.IsOpen());
}

// Another process holds the port (through the same channel, so with its lock): reading
// and scanning report it as they report any port that will not open, and once it is let
// go the next scan finds the reader there.
TEST_F(PtyFaults, PortHeldByAnotherProcess) {
  ASSERT_TRUE(StartSim({"--tag", "000004D2"}));
  test::HolderProcess holder([] { return SystemSerialDevice().Open(kPort) != kInvalidPortHandle; });
  ASSERT_TRUE(holder.Held());

  World w(SystemSerialDevice());
  w.MakeReady(5);
  // Should the port open after all, reading ends on a press instead of running for ever.
  w.pump.hook = [&w](int call) {
    if (w.ctx.TagReadActive && call > 500) ReadCard(w.ctx);
  };
  ReadCard(w.ctx);
  EXPECT_EQ(w.view.Text(Ctl::pnMsg), "Open COM : " + std::to_string(kPort) + " Error");
  EXPECT_FALSE(w.ctx.TagReadActive);
  w.ctx.ReaderReady = false;
  w.view.SetChecked(Ctl::chkLock, true);
  ScanReader(w.ctx);
  EXPECT_FALSE(w.ctx.ReaderReady);
  EXPECT_EQ(w.view.Text(Ctl::pnMsg), Catalogue().Text(25, 0));
  EXPECT_TRUE(w.view.WindowEnabled());

  holder.Release();
  ScanReader(w.ctx);
  EXPECT_TRUE(w.ctx.ReaderReady);
}

int OpenDescriptors() {
  int n = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  while (const dirent* e = readdir(dir)) n += e->d_name[0] != '.' ? 1 : 0;
  closedir(dir);
  return n;
}

std::size_t HeapInUse() {
#if defined(KELTA_ASAN)
  return 0;  // the sanitizer's allocator keeps its own books; LeakSanitizer checks instead
#else
  return mallinfo2().uordblks;
#endif
}

// 1,000 exchanges and 100 opens and closes through the system's channel leave no
// descriptor open and the heap where it was, give or take the allocator's slack.
TEST_F(PtyFaults, LongSessionLeavesNoDescriptorsOrHeapBehind) {
  constexpr int kFastMode = 11;  // 115200,e,8,1: the shortest replies
  ASSERT_TRUE(StartSim({"--mode", "11"}));
  SerialPort port(SystemSerialDevice(), SystemClock());
  NoEventPump pump;
  ReaderLink link(port, SystemClock(), pump);
  // One round first, so that lazily made things (the catalogue, locale tables) exist.
  ASSERT_TRUE(link.OpenPort(kPort, kBaudRateTable[kFastMode]));
  ASSERT_TRUE(link.SendCommand("A00B"));
  link.ClosePort();

  const int fds_before = OpenDescriptors();
  const std::size_t heap_before = HeapInUse();
  int answered = 0;
  ASSERT_TRUE(link.OpenPort(kPort, kBaudRateTable[kFastMode]));
  for (int i = 0; i < 1000; ++i) answered += link.SendCommand(i % 2 ? "A00B" : "A00V") ? 1 : 0;
  link.ClosePort();
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(link.OpenPort(kPort, kBaudRateTable[kFastMode])) << i;
    link.ClosePort();
  }
  // Opens that fail must not keep anything either.
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(link.OpenPort(kPort + 1, kBaudRateTable[5]));

  EXPECT_GE(answered, 900);  // a loaded machine may lose the odd one; most must pass
  EXPECT_EQ(OpenDescriptors(), fds_before);
  const std::size_t heap_after = HeapInUse();
  EXPECT_LE(heap_after, heap_before + 64 * 1024) << "heap grew by " << heap_after - heap_before;
}

}  // namespace
}  // namespace kelta::test
