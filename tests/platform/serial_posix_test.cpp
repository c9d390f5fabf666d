// The Linux serial channel against real pseudo-terminals, linked as ports/comN in a
// temporary configuration folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/tty_flags.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/reader_link.h"
#include "link/serial_port.h"
#include "platform/config_dir.h"
#include "platform/port_info.h"
#include "platform/serial_device.h"
#include "platform/serial_flags.h"
#include "tests/platform/holder_process.h"

namespace kelta {
namespace {

namespace fs = std::filesystem;

constexpr int kPort = 21;

class PosixSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelta-serial-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) old_xdg_ = old;
    setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    ports_ = ConfigDir() + "/ports";
    fs::create_directories(ports_);

    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = ptsname(master_);
    Link(kPort, slave_);
    // Keeps the slave side alive between the channel's opens and lets the test read its
    // termios; opened before the channel sets TIOCEXCL.
    observer_ = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(observer_, 0);
  }

  void TearDown() override {
    if (observer_ >= 0) close(observer_);
    if (master_ >= 0) close(master_);
    fs::remove_all(root_);
    if (old_xdg_) {
      setenv("XDG_CONFIG_HOME", old_xdg_->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }

  void Link(int number, const std::string& target) {
    const std::string link = ports_ + "/com" + std::to_string(number);
    fs::remove(link);
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  }

  termios Observed() const {
    termios t{};
    EXPECT_EQ(tcgetattr(observer_, &t), 0);
    return t;
  }

  // Reads what the channel sent, up to `count` bytes; gives up after a quiet `wait_ms`.
  std::string ReadMaster(std::size_t count, int wait_ms = 3000) const {
    std::string got;
    while (got.size() < count) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, wait_ms) <= 0) break;
      char buffer[512];
      const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

  void WriteMaster(const std::string& bytes) const {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  std::string root_;
  std::string ports_;
  std::string slave_;
  std::optional<std::string> old_xdg_;
  int master_ = -1;
  int observer_ = -1;
  SerialPort port_{SystemSerialDevice(), SystemClock()};
};

std::string AllByteValues() {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  return all;
}

TEST_F(PosixSerial, RawBytesPassUnchangedBothWays) {
  ASSERT_TRUE(port_.OpenPort(kPort, "19200,e,8,1"));
  const std::string all = AllByteValues();
  port_.WriteBytes(reinterpret_cast<const std::uint8_t*>(all.data()), static_cast<int>(all.size()));
  EXPECT_EQ(ReadMaster(all.size()), all);

  WriteMaster(all);
  std::string got;
  for (int tries = 0; got.size() < all.size() && tries < 5000; ++tries) {
    std::uint8_t b = 0;
    if (port_.ReadByte(&b) == 1) got += static_cast<char>(b);
  }
  EXPECT_EQ(got, all);
  // Nothing came back to the sender: no echo.
  pollfd p{master_, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 50), 0);
  port_.ClosePort();
}

TEST_F(PosixSerial, ExchangeWithAnAnsweringReader) {
  ASSERT_TRUE(port_.OpenPort(kPort, "19200,e,8,1"));
  NoEventPump pump;
  ReaderLink link(port_, SystemClock(), pump);
  const std::string reply = ReplyFrame("X07Y12345678");
  // The reader answers each frame it gets; a loaded machine may still miss the 120 ms
  // wait once, so the exchange gets the three tries a reader operation would give it.
  std::vector<std::string> frames;
  std::atomic<bool> done = false;
  std::thread reader([&] {
    while (!done) {
      const std::string frame = ReadMaster(8, 50);
      if (frame.empty()) continue;
      frames.push_back(frame);
      WriteMaster(reply);
    }
  });
  bool ok = false;
  for (int i = 0; i < 3 && !ok; ++i) ok = link.SendCommand("A00B");
  done = true;
  reader.join();
  port_.ClosePort();
  EXPECT_TRUE(ok);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.front(), CommandFrame("A00B"));
  EXPECT_EQ(link.ReplyText(), reply);
  EXPECT_EQ(link.ReplyLength(), 16);
}

TEST_F(PosixSerial, ModeSetsBaudStopBitsAndARawLine) {
  struct Case {
    const char* mode;
    speed_t speed;
    bool two_stop_bits;
  };
  const Case cases[] = {{"19200,e,8,1", B19200, false},
                        {"115200,n,8,2", B115200, true},
                        {"4800,n,5,1.5", B4800, true},
                        {"38400,M,7,1", B38400, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    termios cooked = Observed();
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cooked.c_iflag |= ICRNL | IXON | IUCLC;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_cflag |= CRTSCTS;
    ASSERT_EQ(tcsetattr(observer_, TCSANOW, &cooked), 0);

    ASSERT_TRUE(port_.OpenPort(kPort, c.mode));
    const termios t = Observed();
    port_.ClosePort();
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.two_stop_bits);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | IUCLC), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
  }
}

TEST_F(PosixSerial, ModeThatCannotBeAppliedChangesNothing) {
  const char* modes[] = {"", "junk", "19200,e,8", "14400,n,8,1", "9600,n,8,1.5", "9600,n,5,2"};
  termios before = Observed();
  cfsetospeed(&before, B2400);
  cfsetispeed(&before, B2400);
  before.c_lflag |= ICANON;
  ASSERT_EQ(tcsetattr(observer_, TCSANOW, &before), 0);
  before = Observed();
  for (const char* mode : modes) {
    SCOPED_TRACE(mode);
    EXPECT_FALSE(port_.OpenPort(kPort, mode));  // and closed again
    const termios after = Observed();
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), B2400);
  }
}

// The whole line goes back at close: a terminal at "sane 9600" stays one.
TEST_F(PosixSerial, LineSettingsAndTimeoutsAreGivenBackAtClose) {
  termios t = Observed();
  t.c_cc[VMIN] = 5;
  t.c_cc[VTIME] = 3;
  t.c_lflag |= ICANON | ECHO | ISIG;
  t.c_iflag |= ICRNL | IXON;
  t.c_oflag |= OPOST | ONLCR;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  ASSERT_EQ(tcsetattr(observer_, TCSANOW, &t), 0);
  const termios before = Observed();

  ASSERT_TRUE(port_.OpenPort(kPort, "57600,n,8,2"));
  EXPECT_EQ(port_.SavedTimeouts(), (CommTimeouts{300, 5, 0, 0, 0}));
  const termios open = Observed();
  EXPECT_EQ(open.c_cc[VMIN], 0);
  EXPECT_EQ(open.c_cc[VTIME], 0);
  port_.ClosePort();

  const termios closed = Observed();
  EXPECT_EQ(closed.c_cc[VMIN], 5);
  EXPECT_EQ(closed.c_cc[VTIME], 3);
  EXPECT_EQ(cfgetospeed(&closed), B9600);
  EXPECT_EQ(closed.c_iflag, before.c_iflag);
  EXPECT_EQ(closed.c_oflag, before.c_oflag);
  EXPECT_EQ(closed.c_cflag, before.c_cflag);
  EXPECT_EQ(closed.c_lflag, before.c_lflag);
}

TEST_F(PosixSerial, SecondOpenFailsFromThisAndAnotherProcess) {
  ASSERT_TRUE(port_.OpenPort(kPort, "9600,n,8,1"));
  int exclusive = 0;
  ASSERT_EQ(ioctl(observer_, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);

  SerialPort second(SystemSerialDevice(), SystemClock());
  EXPECT_FALSE(second.OpenPort(kPort, "9600,n,8,1"));

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const PortHandleType h = SystemSerialDevice().Open(kPort);
    _exit(h == kInvalidPortHandle ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process opened it";

  // The refused opens took nothing away from the holder.
  ASSERT_EQ(ioctl(observer_, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  const std::uint8_t byte = 0x5A;
  port_.WriteBytes(&byte, 1);
  EXPECT_EQ(ReadMaster(1), "Z");

  port_.ClosePort();
  // The flag does not outlive the channel on a pty whose other side stays open.
  ASSERT_EQ(ioctl(observer_, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  EXPECT_TRUE(second.OpenPort(kPort, "9600,n,8,1"));
  second.ClosePort();
}

TEST_F(PosixSerial, PortsThatCannotOpen) {
  const std::string file = root_ + "/plain-file";
  std::fclose(std::fopen(file.c_str(), "w"));
  Link(22, root_ + "/no-such-device");
  Link(23, file);
  Link(24, "/dev/null");
  Link(25, "relative-and-missing");
  Link(0, slave_);
  for (int number : {0, -1, 22, 23, 24, 25}) {
    SCOPED_TRACE(number);
    EXPECT_FALSE(port_.OpenPort(number, "9600,n,8,1"));
    EXPECT_FALSE(port_.IsOpen());
    EXPECT_EQ(port_.PortHandle(), kInvalidPortHandle);
  }
}

TEST_F(PosixSerial, FailedOpenKeepsTheSavedTimeouts) {
  termios t = Observed();
  t.c_cc[VMIN] = 2;
  t.c_cc[VTIME] = 7;
  ASSERT_EQ(tcsetattr(observer_, TCSANOW, &t), 0);
  ASSERT_TRUE(port_.OpenPort(kPort, "9600,n,8,1"));
  port_.ClosePort();
  Link(22, root_ + "/gone");
  EXPECT_FALSE(port_.OpenPort(22, "9600,n,8,1"));
  EXPECT_EQ(port_.SavedTimeouts(), (CommTimeouts{700, 2, 0, 0, 0}));
}

TEST_F(PosixSerial, PortDeviceNames) {
  Link(1, root_ + "/missing");   // a link never falls back to the default
  Link(26, "../elsewhere/tty");  // relative targets are read against the ports folder
  const std::vector<std::pair<int, std::string>> cases = {{1, root_ + "/missing"},
                                                          {2, "/dev/ttyS1"},
                                                          {4, "/dev/ttyS3"},
                                                          {5, "/dev/ttyUSB0"},
                                                          {12, "/dev/ttyUSB7"},
                                                          {13, "/dev/ttyACM0"},
                                                          {16, "/dev/ttyACM3"},
                                                          {17, ""},
                                                          {0, ""},
                                                          {-1, ""},
                                                          {kPort, slave_},
                                                          {26, ports_ + "/../elsewhere/tty"}};
  for (const auto& [number, name] : cases) EXPECT_EQ(PortDeviceName(number), name) << number;
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Each read waits out its millisecond on an idle line.
TEST_F(PosixSerial, ReadsWaitTheirTimeoutAndDoNotSpin) {
  ASSERT_TRUE(port_.OpenPort(kPort, "9600,n,8,1"));
  constexpr int kReads = 200;
  const auto wall_start = std::chrono::steady_clock::now();
  const double cpu_start = CpuSeconds();
  int bytes = 0;
  for (int i = 0; i < kReads; ++i) {
    std::uint8_t b = 0;
    bytes += port_.ReadByte(&b);
  }
  const double cpu = CpuSeconds() - cpu_start;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  port_.ClosePort();
  EXPECT_EQ(bytes, 0);
  EXPECT_GE(wall, kReads * 0.001);
  EXPECT_LT(cpu, wall / 2) << "cpu " << cpu << " s of " << wall << " s";
}

// The other side closing is a hang-up: the first read says so at once (the kernel drops
// what was still queued), and writes fail from then on.
TEST_F(PosixSerial, AHangUpIsALostPort) {
  ASSERT_TRUE(port_.OpenPort(kPort, "9600,n,8,1"));
  close(master_);
  master_ = -1;
  std::uint8_t b = 0;
  EXPECT_EQ(port_.ReadByte(&b), kPortLost);
  EXPECT_TRUE(port_.Lost());
  EXPECT_FALSE(port_.WriteByte(1));
  port_.ClosePort();
  EXPECT_TRUE(port_.Lost());
}

// A tty another process has open is not opened at all, and the error names the holder;
// this process's own descriptors (the observer) do not count.
TEST_F(PosixSerial, APortOpenInAnotherProcessIsLeftAlone) {
  test::HolderProcess holder([this] {
    const int fd = open(slave_.c_str(), O_RDWR | O_NOCTTY);
    return fd >= 0;
  });
  ASSERT_TRUE(holder.Held());
  const termios before = Observed();

  EXPECT_FALSE(port_.OpenPort(kPort, "115200,n,8,1"));
  const OpenError error = port_.LastOpenError();
  const pid_t holder_pid = holder.Pid();
  holder.Release();

  EXPECT_EQ(error.kind, OpenFailure::InUse);
  EXPECT_EQ(error.text,
            "held by process " + std::to_string(holder_pid) + " (" +
                fs::path(fs::read_symlink("/proc/self/exe")).filename().string().substr(0, 15) +
                ")");
  const termios after = Observed();
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
  EXPECT_TRUE(port_.OpenPort(kPort, "115200,n,8,1"));
  port_.ClosePort();
}

// A driver's flags as a test sets them up; records every change asked for.
class FakeFlags final : public SerialFlags {
 public:
  bool Get(int, int& out) override {
    if (!has_flags) return false;
    out = flags;
    return true;
  }
  bool Set(int, int value) override {
    sets.push_back(value);
    if (!accepts) return false;
    flags = value;
    return true;
  }
  bool has_flags = true;
  bool accepts = true;
  int flags = 0x10;
  std::vector<int> sets;
};

// Low latency is asked for at open and the old flags are put back at close, on a driver
// that has them; nothing is changed, or put back, on one that has not, refuses, or has it
// already. (Every other test opens a pty, whose driver has no such flags, through the
// system's flags.)
TEST_F(PosixSerial, LowLatencyIsAskedForAtOpenAndTheOldFlagsPutBackAtClose) {
  constexpr int kLow = static_cast<int>(ASYNC_LOW_LATENCY);
  struct Case {
    const char* name;
    bool has_flags;
    bool accepts;
    int flags;
    std::vector<int> sets;
  };
  const Case cases[] = {{"usual", true, true, 0x10, {0x10 | kLow, 0x10}},
                        {"already low", true, true, 0x10 | kLow, {}},
                        {"no flags", false, true, 0x10, {}},
                        {"refused", true, false, 0x10, {0x10 | kLow}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFlags flags;
    flags.has_flags = c.has_flags;
    flags.accepts = c.accepts;
    flags.flags = c.flags;
    const auto device = MakePosixSerialDevice(flags);
    SerialPort port(*device, SystemClock());
    ASSERT_TRUE(port.OpenPort(kPort, "9600,n,8,1"));
    port.ClosePort();
    EXPECT_EQ(flags.sets, c.sets);
    EXPECT_EQ(flags.flags, c.flags);
  }
}

// The kernel's consoles by their device numbers; only stat is used, nothing is opened.
TEST(PortInUse, TheKernelsConsolesAreKnown) {
  std::ifstream consoles("/proc/consoles");
  std::string name;
  if (consoles >> name) {
    EXPECT_TRUE(IsSystemConsole("/dev/" + name)) << name;
  }
  EXPECT_FALSE(IsSystemConsole("/dev/null"));
  EXPECT_FALSE(IsSystemConsole("/nonexistent/tty"));
}

TEST(PosixClock, SleepLastsAtLeastItsTime) {
  Clock& clock = SystemClock();
  const std::uint32_t before = clock.Ticks();
  const auto wall_start = std::chrono::steady_clock::now();
  clock.Sleep(25);
  EXPECT_GE(std::chrono::steady_clock::now() - wall_start, std::chrono::milliseconds(25));
  EXPECT_GE(static_cast<std::uint32_t>(clock.Ticks() - before), 24u);
}

}  // namespace
}  // namespace kelta
