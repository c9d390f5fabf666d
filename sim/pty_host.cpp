#include "sim/pty_host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "link/command_set.h"
#include "link/frame_trace.h"
#include "sim/sim_line.h"

namespace kelta {

namespace {

constexpr int kIdlePollMs = 100;
// How often the master is looked at while no client has the port open.
constexpr int kNoClientPollMs = 5;
// A stream goes out in steps of this long: at 115200 baud, about 115 bytes a step.
constexpr int kStreamStepMs = 10;

std::uint64_t MonotonicNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::uint64_t>(t.tv_sec) * 1000000000u + static_cast<std::uint64_t>(t.tv_nsec);
}

struct Speed {
  speed_t code;
  unsigned baud;
};
constexpr Speed kSpeeds[] = {{B1200, 1200},   {B2400, 2400},     {B4800, 4800},
                             {B9600, 9600},   {B19200, 19200},   {B38400, 38400},
                             {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};

unsigned BaudOf(speed_t code) {
  for (const Speed& s : kSpeeds) {
    if (s.code == code) return s.baud;
  }
  return 0;
}

speed_t CodeOf(unsigned baud) {
  for (const Speed& s : kSpeeds) {
    if (s.baud == baud) return s.code;
  }
  return B9600;
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// mkdir -p for the folder that holds `path`.
bool MakeParents(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

std::string ReadLink(const std::string& path) {
  std::string target(4096, '\0');
  const ssize_t n = readlink(path.c_str(), target.data(), target.size());
  if (n < 0) return {};
  target.resize(static_cast<std::size_t>(n));
  return target;
}

}  // namespace

PtyHost::~PtyHost() {
  RemoveLink();
  if (master_ >= 0) close(master_);
}

std::uint32_t PtyHost::Now() const {
  return static_cast<std::uint32_t>((MonotonicNs() - start_ns_) / 1000000u);
}

std::string PtyHost::Start(const std::string& link_path) {
  start_ns_ = MonotonicNs();
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) return Errno("posix_openpt");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) return Errno("grantpt/unlockpt");
  const char* name = ptsname(master_);
  if (name == nullptr) return Errno("ptsname");
  slave_name_ = name;
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

  // Raw until a client sets its own mode: no echo of the replies back to us, no CR/LF
  // translation of the frames. The pty driver applies the master's line settings to the
  // tty side, which need not be open.
  termios t{};
  if (tcgetattr(master_, &t) != 0) return Errno("tcgetattr");
  cfmakeraw(&t);
  const speed_t speed = CodeOf(ModeLineSettings(reader_.Settings().mode_index).baud);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  if (tcsetattr(master_, TCSANOW, &t) != 0) return Errno("tcsetattr");

  // Never replace anything but a link: a stale one from a simulator that was killed.
  struct stat st {};
  if (lstat(link_path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    return link_path + " exists and is not a link";
  }
  if (!MakeParents(link_path)) return Errno("mkdir for " + link_path);
  const std::string temporary = link_path + ".qm880-sim." + std::to_string(getpid());
  unlink(temporary.c_str());
  if (symlink(slave_name_.c_str(), temporary.c_str()) != 0) return Errno("symlink " + temporary);
  if (rename(temporary.c_str(), link_path.c_str()) != 0) {
    const std::string error = Errno("rename to " + link_path);
    unlink(temporary.c_str());
    return error;
  }
  link_path_ = link_path;
  return {};
}

void PtyHost::RemoveLink() {
  if (link_path_.empty()) return;
  // Another simulator may have taken the name over since.
  if (ReadLink(link_path_) == slave_name_) unlink(link_path_.c_str());
  link_path_.clear();
}

// How much of a reply due now has gone out: all of it, or at the line's speed one character
// time for each byte since it became due (the client's baud rate, the reader's framing).
std::size_t PtyHost::DueBytes(const Outgoing& out) const {
  if (!line_speed_) return out.bytes.size();
  LineSettings line = ModeLineSettings(reader_.Settings().mode_index);
  if (const unsigned baud = ClientBaud(); baud != 0) line.baud = baud;
  const std::uint64_t now_us = (MonotonicNs() - start_ns_) / 1000u;
  const std::uint64_t due_us = std::uint64_t{out.due_ms} * 1000u;
  const std::uint64_t sent = now_us > due_us ? (now_us - due_us) / CharacterTimeUs(line) : 0;
  return static_cast<std::size_t>(std::min<std::uint64_t>(out.bytes.size(), sent));
}

// Linux ptys keep the baud rate a client sets, but not its parity or character size: the
// baud rate is all there is to compare with the reader's mode. The master reads the tty
// side's settings.
unsigned PtyHost::ClientBaud() const {
  termios t{};
  if (tcgetattr(master_, &t) != 0) return 0;
  return BaudOf(cfgetospeed(&t));
}

void PtyHost::Run(const volatile std::sig_atomic_t& stop) {
  std::uint8_t buffer[256];
  while (stop == 0) {
    std::uint32_t now = Now();
    if (!gone_ && reader_.Vanished(now)) Vanish(now);
    if (gone_) {
      poll(nullptr, 0, kIdlePollMs);
      continue;
    }
    blocked_ = false;
    Send(now);

    int timeout = kIdlePollMs;
    if (!outgoing_.empty()) {
      const auto wait = static_cast<std::int32_t>(outgoing_.front().due_ms - now);
      timeout = std::clamp(wait, 1, timeout);
    }
    if (streaming_) timeout = std::min(timeout, kStreamStepMs);
    // A client that does not read fills the pty: wait for room instead of retrying.
    if (blocked_) timeout = kIdlePollMs;
    if (const auto& at = reader_.Faults().vanish_at_ms) {
      timeout = std::clamp(static_cast<std::int32_t>(*at - now), 0, timeout);
    }
    pollfd p{master_, static_cast<short>(POLLIN | (blocked_ ? POLLOUT : 0)), 0};
    const int r = poll(&p, 1, timeout);
    if (r > 0 && (p.revents & POLLIN) != 0) {
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) Hear(buffer, static_cast<std::size_t>(n), Now());
    } else if (r > 0 && (p.revents & POLLOUT) == 0) {
      // No client has the tty side open (a hang-up until the next one opens it): poll
      // keeps saying so, so look again a little later instead of spinning.
      poll(nullptr, 0, kNoClientPollMs);
    }
  }
}

void PtyHost::Hear(const std::uint8_t* data, std::size_t count, std::uint32_t now) {
  const unsigned baud = ClientBaud();
  std::size_t unheard = 0;  // bytes while no reader is on the line
  for (std::size_t i = 0; i < count; ++i) {
    if (schedule_ != nullptr) {
      std::string note;
      const bool present = schedule_->Present(reader_, now, note);
      if (!note.empty()) Note(now, note);
      if (!present) {
        ++unheard;
        continue;
      }
    }
    const int mode = reader_.Settings().mode_index;
    if (baud != ModeLineSettings(mode).baud) {
      reader_.FeedNoise();
      ++noise_bytes_;
      continue;
    }
    std::optional<ReaderReply> reply = reader_.Feed(data[i], now);
    for (const FrameRecord& f : reader_.Frames()) {
      const char* note = !f.checksum_ok ? "bad checksum, ignored"
                         : !f.answered  ? "no answer"
                         : streaming_   ? "drowned by the stream"
                                        : "";
      Trace(now, "<-", "\x09" + f.text + f.checksum + "\x0D", note);
      std::string unplugged;
      if (schedule_ != nullptr) schedule_->Heard(f, now, unplugged);
      if (!unplugged.empty()) Note(now, unplugged);
    }
    reader_.ClearLog();  // traced; a simulator left running for days must not grow
    if (reply && !streaming_)
      outgoing_.push_back({reply->bytes, now + reply->delay_ms, reply->endless});
    if (reader_.Settings().mode_index != mode) {
      Note(now, std::string("reader now listens at ") +
                    kBaudRateTable[static_cast<std::size_t>(reader_.Settings().mode_index)]);
    }
  }
  if (unheard > 0) Note(now, std::to_string(unheard) + " bytes: no reader on the line");
  if (noise_bytes_ > 0) {
    Note(now, std::to_string(noise_bytes_) + " bytes at " + std::to_string(baud) +
                  " baud, not understood: the reader listens at " +
                  kBaudRateTable[static_cast<std::size_t>(reader_.Settings().mode_index)]);
    noise_bytes_ = 0;
  }
}

void PtyHost::Send(std::uint32_t now) {
  while (!outgoing_.empty() && static_cast<std::int32_t>(now - outgoing_.front().due_ms) >= 0) {
    Outgoing& out = outgoing_.front();
    bool lost = false;
    const std::size_t due = DueBytes(out);
    while (written_ < due) {
      const ssize_t n = write(master_, out.bytes.data() + written_, due - written_);
      if (n > 0) {
        written_ += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && errno == EIO) {
        // Nobody on the line: the reply is lost as on a wire.
        lost = true;
        break;
      } else {
        blocked_ = true;  // full: the client has not read yet
        return;
      }
    }
    if (!lost && written_ < out.bytes.size()) return;  // the rest is not on the wire yet
    Trace(now, "->", out.bytes, lost ? "nobody has the port open: lost" : "");
    if (out.endless && !lost) {
      streaming_ = true;
      stream_since_ms_ = now;
      stream_sent_ = 0;
      Note(now, "a stream that never ends begins");
    }
    outgoing_.pop_front();
    written_ = 0;
  }
  if (!streaming_) return;
  // Paced at the reader's baud rate, ten bits a character.
  const std::uint64_t chars_per_s = ModeLineSettings(reader_.Settings().mode_index).baud / 10u;
  const std::uint64_t due = (now - stream_since_ms_) * chars_per_s / 1000u + 1;
  std::string chunk;
  for (std::uint64_t k = stream_sent_; k < due && chunk.size() < 256; ++k) {
    chunk += static_cast<char>(ReaderModel::StreamByte(k));
  }
  if (chunk.empty()) return;
  const ssize_t n = write(master_, chunk.data(), chunk.size());
  if (n > 0) stream_sent_ += static_cast<std::uint64_t>(n);
  if (n < 0 && (errno == EAGAIN || errno == EIO)) {
    // Nobody reads: what the reader sends meanwhile is lost, as on a wire, so a client
    // that comes back gets the stream at its pace and not a backlog.
    blocked_ = true;
    stream_sent_ = due;
  }
}

void PtyHost::Vanish(std::uint32_t now) {
  close(master_);
  master_ = -1;
  gone_ = true;
  Note(now, "gone: the pseudo-terminal hung up and " + slave_name_ + " no longer exists");
}

void PtyHost::Trace(std::uint32_t now, const char* direction, const std::string& bytes,
                    const std::string& note) {
  trace_(TraceLine(now, direction, bytes, note));
}

void PtyHost::Note(std::uint32_t now, const std::string& text) { trace_(TraceNote(now, text)); }

}  // namespace kelta
