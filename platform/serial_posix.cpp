// The system's serial ports on Linux: terminal devices opened by port number.
//
// Port numbers: port n is the device that the link ConfigDir()/ports/comN points at. Where
// there is no such link, COM1-4 are /dev/ttyS0-3, COM5-12 /dev/ttyUSB0-7 and COM13-16
// /dev/ttyACM0-3; other numbers name nothing. A link whose target is missing fails to open
// rather than falling back to the default, so a linked port never opens the wrong device.
//
// Time-outs: termios has no COMMTIMEOUTS. The record carries the port's own VMIN and VTIME
// so that the channel can save them at open and give them back at close:
//   ReadIntervalTimeout        = VTIME * 100 ms
//   ReadTotalTimeoutMultiplier = VMIN
//   ReadTotalTimeoutConstant   = how long Read waits for a byte, in ms (kept per handle;
//                                0 for a port the channel has not set)
//   WriteTotalTimeout*         = 0 (writes have no time-out)
// Reads use poll, not VMIN/VTIME, so what VMIN/VTIME hold while the channel has the port
// only matters to whoever gets the port after it.
//
// Line settings: the whole termios as the port had it at open is put back at close, before
// the exclusive claim is given up, so that a terminal or another program's port is not left
// in the last mode tried.
//
// Ports in use: the system's console, and a device another process has open (as far as
// /proc shows this user), are not opened at all (OpenFailure::InUse); the holders are
// looked at again once the port is claimed, and a port someone opened meanwhile is closed
// and passed over the same way. A Windows port is exclusive anyway; here, opening one
// under a getty or a terminal program would write the probe frames into its session.
//
// Latency: a USB converter's driver is asked for low latency at open (ASYNC_LOW_LATENCY)
// and its old flags are put back at close; a driver without the flags (a pty) is left as it
// is.
//
// A lost port: a hang-up (POLLHUP, end of file) or EIO/ENXIO/ENODEV marks the descriptor
// lost; Read then says kPortLost at once and Write fails, until the close.
//
// Stop bits: termios has one switch, CSTOPB; with 5 data bits a UART sends 1.5 stop bits
// for it, otherwise 2. So 1.5 is accepted only with 5 data bits and 2 only with 6 to 8, the
// combinations a Windows port accepts.

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/config_dir.h"
#include "platform/device_identity.h"
#include "platform/port_info.h"
#include "platform/port_mode.h"
#include "platform/port_names.h"
#include "platform/serial_device.h"
#include "platform/serial_flags.h"

namespace kelta {

namespace {

struct BaudSpeed {
  unsigned baud;
  speed_t speed;
};

constexpr std::array<BaudSpeed, 30> kBaudSpeeds = {{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

std::optional<speed_t> SpeedOf(unsigned baud) {
  for (const auto& b : kBaudSpeeds) {
    if (b.baud == baud) return b.speed;
  }
  return std::nullopt;
}

unsigned BaudOf(speed_t speed, unsigned fallback) {
  for (const auto& b : kBaudSpeeds) {
    if (b.speed == speed) return b.baud;
  }
  return fallback;
}

LineSettings Decode(const termios& t) {
  LineSettings s;
  s.baud = BaudOf(cfgetospeed(&t), s.baud);
  if ((t.c_cflag & PARENB) == 0) {
    s.parity = Parity::None;
  } else if ((t.c_cflag & CMSPAR) != 0) {
    s.parity = (t.c_cflag & PARODD) != 0 ? Parity::Mark : Parity::Space;
  } else {
    s.parity = (t.c_cflag & PARODD) != 0 ? Parity::Odd : Parity::Even;
  }
  switch (t.c_cflag & CSIZE) {
    case CS5:
      s.data_bits = 5;
      break;
    case CS6:
      s.data_bits = 6;
      break;
    case CS7:
      s.data_bits = 7;
      break;
    default:
      s.data_bits = 8;
      break;
  }
  if ((t.c_cflag & CSTOPB) == 0) {
    s.stop_bits = StopBits::One;
  } else {
    s.stop_bits = s.data_bits == 5 ? StopBits::OneAndHalf : StopBits::Two;
  }
  return s;
}

// Raw line with `s`, or nullopt when the port cannot take it. VMIN and VTIME are left alone:
// they belong to the time-outs.
std::optional<termios> Encode(const termios& current, const LineSettings& s) {
  const auto speed = SpeedOf(s.baud);
  if (!speed) return std::nullopt;
  if (s.stop_bits == StopBits::OneAndHalf && s.data_bits != 5) return std::nullopt;
  if (s.stop_bits == StopBits::Two && s.data_bits == 5) return std::nullopt;

  termios t = current;
  // No echo, no line discipline, no CR/LF translation, no flow control of either kind
  // (XON/XOFF, RTS/CTS), whatever another program left on, and the modem lines ignored
  // (CLOCAL). Parity errors are not checked (INPCK off): bytes arrive as received, as on
  // a Windows port without error replacement, and the frame checksum judges them.
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY | INPCK | IUCLC);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;
  switch (s.data_bits) {
    case 5:
      t.c_cflag |= CS5;
      break;
    case 6:
      t.c_cflag |= CS6;
      break;
    case 7:
      t.c_cflag |= CS7;
      break;
    default:
      t.c_cflag |= CS8;
      break;
  }
  switch (s.parity) {
    case Parity::None:
      break;
    case Parity::Even:
      t.c_cflag |= PARENB;
      break;
    case Parity::Odd:
      t.c_cflag |= PARENB | PARODD;
      break;
    case Parity::Mark:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case Parity::Space:
      t.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (s.stop_bits != StopBits::One) t.c_cflag |= CSTOPB;
  if (cfsetispeed(&t, *speed) != 0 || cfsetospeed(&t, *speed) != 0) return std::nullopt;
  return t;
}

timespec Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

timespec Plus(timespec t, std::uint32_t ms) {
  t.tv_sec += static_cast<time_t>(ms / 1000);
  t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_nsec -= 1000000000L;
    ++t.tv_sec;
  }
  return t;
}

// Time left until `deadline`, zero when it has passed.
timespec Remaining(const timespec& deadline) {
  const timespec now = Now();
  timespec left{deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
  if (left.tv_nsec < 0) {
    left.tv_nsec += 1000000000L;
    --left.tv_sec;
  }
  if (left.tv_sec < 0) return {0, 0};
  return left;
}

void SleepUntil(const timespec& deadline) {
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

// Errors of a device that has gone: a USB converter pulled out, a pty whose other side
// closed, a driver that failed.
bool LostError(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

std::string HeldBy(const std::vector<PortHolder>& holders) {
  std::string text = holders.size() == 1 ? "held by process " : "held by processes ";
  for (std::size_t i = 0; i < holders.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(holders[i].pid) + " (" + holders[i].name + ")";
  }
  return text;
}

// Why the port behind `device` is left alone, empty when it is not: it is the kernel's
// console, or another process has it open (of those this user can see).
std::string UserOf(const std::string& device) {
  if (IsSystemConsole(device)) return "the system's console";
  const std::vector<PortHolder> holders = CheckHolders(device).holders;
  return holders.empty() ? std::string() : HeldBy(holders);
}

// A write that makes no progress for this long has failed: a serial line without flow
// control always drains, so only a stuck device (a pty nobody reads) gets here.
constexpr int kWriteStallMs = 2000;

class SystemFlags final : public SerialFlags {
 public:
  bool Get(int fd, int& flags) override {
    serial_struct s{};
    if (ioctl(fd, TIOCGSERIAL, &s) != 0) return false;
    flags = s.flags;
    return true;
  }
  bool Set(int fd, int flags) override {
    serial_struct s{};
    if (ioctl(fd, TIOCGSERIAL, &s) != 0) return false;
    s.flags = flags;
    return ioctl(fd, TIOCSSERIAL, &s) == 0;
  }
};

class PosixSerialDevice final : public SerialDevice {
 public:
  explicit PosixSerialDevice(SerialFlags& flags) : flags_(flags) {}

  PortHandleType Open(int number) override {
    const std::string name = PortDeviceName(number);
    if (name.empty()) return Failed(ENOENT);
    // Opening a tty already raises its modem lines and may disturb whoever uses it, so a
    // port in use elsewhere is left alone before the open, not after.
    if (std::string user = UserOf(name); !user.empty()) {
      last_open_error_ = {OpenFailure::InUse, 0, std::move(user)};
      return kInvalidPortHandle;
    }
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Failed(errno);
    // The lock keeps out a second opener that passes TIOCEXCL (root, or a descriptor of
    // ours); it must come before TIOCEXCL so that a refused opener never clears the flag
    // that the holder set.
    if (isatty(fd) == 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
      const int error = errno;
      ::close(fd);
      return Failed(error);
    }
    // Another program may have opened it between the look at the holders and the claim;
    // from the claim on, nobody else can.
    if (const std::vector<PortHolder> late = RecheckHolders(name).holders; !late.empty()) {
      ioctl(fd, TIOCNXCL);
      ::close(fd);
      last_open_error_ = {OpenFailure::InUse, 0, HeldBy(late)};
      return kInvalidPortHandle;
    }
    last_open_error_ = {};
    Handle& h = handles_[fd];
    h = Handle{};
    // The whole line as it was, for the close: whoever uses the port next gets it back
    // in their mode, not in the last one tried here.
    termios t{};
    if (tcgetattr(fd, &t) == 0) h.saved = t;
    h.saved_flags = RequestLowLatency(flags_, fd);
    return fd;
  }

  OpenError LastOpenError() const override { return last_open_error_; }

  bool GetTimeouts(PortHandleType handle, CommTimeouts& timeouts) override {
    termios t{};
    if (tcgetattr(Fd(handle), &t) != 0) return false;
    timeouts = CommTimeouts{};
    timeouts.ReadIntervalTimeout = static_cast<std::uint32_t>(t.c_cc[VTIME]) * 100u;
    timeouts.ReadTotalTimeoutMultiplier = t.c_cc[VMIN];
    timeouts.ReadTotalTimeoutConstant = ReadWait(handle);
    return true;
  }

  bool SetTimeouts(PortHandleType handle, const CommTimeouts& timeouts) override {
    termios t{};
    if (tcgetattr(Fd(handle), &t) != 0) return false;
    t.c_cc[VTIME] =
        static_cast<cc_t>(std::min<std::uint32_t>(timeouts.ReadIntervalTimeout / 100u, 255u));
    t.c_cc[VMIN] =
        static_cast<cc_t>(std::min<std::uint32_t>(timeouts.ReadTotalTimeoutMultiplier, 255u));
    // The wait is this channel's own (Read polls), so it holds even where the port
    // refuses the rest: a read never falls back to not waiting at all.
    if (const auto it = handles_.find(Fd(handle)); it != handles_.end()) {
      it->second.read_wait_ms = timeouts.ReadTotalTimeoutConstant;
    }
    return tcsetattr(Fd(handle), TCSANOW, &t) == 0;
  }

  bool ApplyMode(PortHandleType handle, std::string_view mode) override {
    termios current{};
    if (tcgetattr(Fd(handle), &current) != 0) return false;
    const auto settings = ApplyModeString(mode, Decode(current));
    if (!settings) return false;
    const auto next = Encode(current, *settings);
    if (!next) return false;
    if (tcsetattr(Fd(handle), TCSANOW, &*next) == 0) return true;
    // A pseudo-terminal keeps no parity (the kernel clears it and glibc, finding the bit
    // gone, reports EINVAL although everything else was applied): the mode counts as taken
    // when the speed and the rest of the line read back as asked.
    termios after{};
    if (errno != EINVAL || tcgetattr(Fd(handle), &after) != 0) return false;
    constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;
    return cfgetospeed(&after) == cfgetospeed(&*next) &&
           (after.c_cflag & ~kParityBits) == (next->c_cflag & ~kParityBits) &&
           after.c_iflag == next->c_iflag && after.c_lflag == next->c_lflag;
  }

  bool Purge(PortHandleType handle) override { return tcflush(Fd(handle), TCIOFLUSH) == 0; }

  // Complete once every byte is with the driver. No tcdrain: on a pty it waits for the
  // other side to read, without a time-out, and the reply wait covers the line time anyway.
  bool Write(PortHandleType handle, const std::uint8_t* data, int count) override {
    const int fd = Fd(handle);
    if (IsLost(fd)) return false;
    int done = 0;
    while (done < count) {
      const ssize_t n = ::write(fd, data + done, static_cast<std::size_t>(count - done));
      if (n > 0) {
        done += static_cast<int>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{fd, POLLOUT, 0};
        const int r = poll(&p, 1, kWriteStallMs);
        if (r < 0 && errno == EINTR) continue;
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return MarkLost(fd);
        if (r <= 0) return false;
        continue;
      }
      if (n < 0 && LostError(errno)) return MarkLost(fd);
      return false;
    }
    return true;
  }

  // Waits up to the read time-out for one byte. A hang-up or a failing device ends the
  // wait at once as kPortLost: such a port gives nothing again.
  int Read(PortHandleType handle, std::uint8_t* place) override {
    const int fd = Fd(handle);
    if (IsLost(fd)) return kPortLost;
    const timespec deadline = Plus(Now(), ReadWait(handle));
    for (;;) {
      timespec left = Remaining(deadline);
      pollfd p{fd, POLLIN, 0};
      const int r = ppoll(&p, 1, &left, nullptr);
      if (r < 0 && errno == EINTR) continue;
      if (r == 0) return 0;
      if (r > 0 && (p.revents & POLLIN) != 0) {
        // Bytes that came before a hang-up are still read first.
        const ssize_t n = ::read(fd, place, 1);
        if (n == 1) return 1;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
          if (left.tv_sec == 0 && left.tv_nsec == 0) return 0;
          continue;
        }
        // End of file on a tty: it was hung up.
        if (n == 0 || LostError(errno)) {
          MarkLost(fd);
          return kPortLost;
        }
      } else if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        MarkLost(fd);
        return kPortLost;
      }
      // Anything else still takes the time-out, so that no caller's loop spins.
      SleepUntil(deadline);
      return 0;
    }
  }

  void Close(PortHandleType handle) override {
    const int fd = Fd(handle);
    // The line settings go back while the port is still ours, before the claim is given up.
    if (const auto it = handles_.find(fd); it != handles_.end()) {
      if (it->second.saved) tcsetattr(fd, TCSANOW, &*it->second.saved);
      if (it->second.saved_flags) flags_.Set(fd, *it->second.saved_flags);
    }
    // The exclusive flag belongs to the tty, not to this descriptor: on a pty whose other
    // side stays open it would outlive the close and lock everybody out.
    ioctl(fd, TIOCNXCL);
    handles_.erase(fd);
    ::close(fd);
  }

 private:
  static int Fd(PortHandleType handle) {
    return handle >= 0 && handle <= INT_MAX ? static_cast<int>(handle) : -1;
  }

  std::uint32_t ReadWait(PortHandleType handle) const {
    const auto it = handles_.find(Fd(handle));
    return it == handles_.end() ? 0 : it->second.read_wait_ms;
  }

  bool IsLost(int fd) const {
    const auto it = handles_.find(fd);
    return it != handles_.end() && it->second.lost;
  }

  // Always false, for the write that found the port lost.
  bool MarkLost(int fd) {
    if (const auto it = handles_.find(fd); it != handles_.end()) it->second.lost = true;
    return false;
  }

  PortHandleType Failed(int error) {
    last_open_error_ = OpenErrorOf(error);
    return kInvalidPortHandle;
  }

  struct Handle {
    std::uint32_t read_wait_ms = 0;  // 0 for a port the channel has not set
    std::optional<termios> saved;    // the line as it was at open
    std::optional<int> saved_flags;  // the driver flags, where low latency changed them
    bool lost = false;
  };
  SerialFlags& flags_;
  // Per open descriptor; an instance serves one thread (a link on another thread gets its
  // own from NewSystemSerialDevice).
  std::unordered_map<int, Handle> handles_;
  OpenError last_open_error_;
};

std::string DefaultDevice(int number) {
  if (number >= 1 && number <= 4) return "/dev/ttyS" + std::to_string(number - 1);
  if (number >= 5 && number <= 12) return "/dev/ttyUSB" + std::to_string(number - 5);
  if (number >= 13 && number <= 16) return "/dev/ttyACM" + std::to_string(number - 13);
  return {};
}

}  // namespace

SerialFlags& SystemSerialFlags() {
  static SystemFlags flags;
  return flags;
}

std::optional<int> RequestLowLatency(SerialFlags& flags, int fd) {
  int old = 0;
  if (!flags.Get(fd, old)) return std::nullopt;
  const int low = old | static_cast<int>(ASYNC_LOW_LATENCY);
  if (low == old || !flags.Set(fd, low)) return std::nullopt;
  return old;
}

std::unique_ptr<SerialDevice> MakePosixSerialDevice(SerialFlags& flags) {
  return std::make_unique<PosixSerialDevice>(flags);
}

SerialDevice& SystemSerialDevice() {
  static PosixSerialDevice device(SystemSerialFlags());
  return device;
}

// The driver flags keep no state of their own, so every channel shares them.
std::unique_ptr<SerialDevice> NewSystemSerialDevice() {
  return MakePosixSerialDevice(SystemSerialFlags());
}

OpenError OpenErrorOf(int system_code) {
  OpenError error{OpenFailure::Other, system_code, std::strerror(system_code)};
  switch (system_code) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENODEV:
    case ENXIO:
    case EIO:  // a ttyS node without a UART behind it
      error.kind = OpenFailure::NoDevice;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
      error.kind = OpenFailure::NoPermission;
      break;
    case EBUSY:        // TIOCEXCL of the holder
    case EWOULDBLOCK:  // its flock
      error.kind = OpenFailure::Busy;
      break;
    case ENOTTY:
      error.kind = OpenFailure::NotSerial;
      break;
    default:
      break;
  }
  return error;
}

int PortNumberOfDevice(const std::string& device) {
  const std::string identity = DeviceIdentity(device);
  if (identity.empty()) return 0;
  for (int number = 1; number <= 16; ++number) {
    if (DeviceIdentity(PortDeviceName(number)) == identity) return number;
  }
  return 0;
}

// The target of a link is returned as the link names it, made absolute against the ports
// folder; a link to a link is followed by open() itself.
std::string PortDeviceName(int number) {
  if (const auto device = PortDeviceOverride(number)) return *device;
  if (number < 1) return {};
  const std::string folder = ConfigDir() + "/ports";
  const std::string link = folder + "/com" + std::to_string(number);
  struct stat st {};
  if (lstat(link.c_str(), &st) != 0) return DefaultDevice(number);
  if (!S_ISLNK(st.st_mode)) return link;
  std::string target(PATH_MAX, '\0');
  const ssize_t n = readlink(link.c_str(), target.data(), target.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return link;
  target.resize(static_cast<std::size_t>(n));
  return target[0] == '/' ? target : folder + "/" + target;
}

}  // namespace kelta
