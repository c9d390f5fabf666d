// A reader model answering on a pseudo-terminal (POSIX only): the body of qm880-sim.
#pragma once

#include <csignal>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>

#include "sim/reader_model.h"
#include "sim/reader_schedule.h"

namespace kelta {

class PtyHost {
 public:
  // `trace` gets one line (without its newline) per frame received or sent.
  using TraceSink = std::function<void(const std::string&)>;
  PtyHost(ReaderModel& reader, TraceSink trace) : reader_(reader), trace_(std::move(trace)) {}
  PtyHost(const PtyHost&) = delete;
  PtyHost& operator=(const PtyHost&) = delete;
  ~PtyHost();

  // Creates the pseudo-terminal and links it at `link_path`. Returns an error text,
  // empty on success.
  std::string Start(const std::string& link_path);
  const std::string& SlaveName() const { return slave_name_; }

  // Answers until `stop` becomes non-zero (a signal handler sets it).
  void Run(const volatile std::sig_atomic_t& stop);

  // Removes the link, if it still points at this pseudo-terminal.
  void RemoveLink();

  // Replies go out one character time per byte at the client's baud rate (--line-speed).
  void SendAtLineSpeed(bool on) { line_speed_ = on; }
  // Readers connected one after another (none: the one reader stays).
  void SetSchedule(ReaderSchedule* schedule) { schedule_ = schedule; }

 private:
  struct Outgoing {
    std::string bytes;
    std::uint32_t due_ms = 0;
    bool endless = false;
  };

  std::uint32_t Now() const;
  std::size_t DueBytes(const Outgoing& out) const;
  void Hear(const std::uint8_t* data, std::size_t count, std::uint32_t now);
  void Send(std::uint32_t now);
  void Vanish(std::uint32_t now);
  unsigned ClientBaud() const;
  void Trace(std::uint32_t now, const char* direction, const std::string& bytes,
             const std::string& note = {});
  void Note(std::uint32_t now, const std::string& text);

  ReaderModel& reader_;
  TraceSink trace_;
  // Only the master is kept: a tty side held open here would show the port as in use by
  // this process. Between clients the master sees the hang-up a real line would.
  int master_ = -1;
  std::string slave_name_;
  std::string link_path_;
  std::uint64_t start_ns_ = 0;
  std::deque<Outgoing> outgoing_;
  std::size_t written_ = 0;  // of outgoing_.front()
  bool streaming_ = false;
  std::uint32_t stream_since_ms_ = 0;
  std::uint64_t stream_sent_ = 0;
  std::size_t noise_bytes_ = 0;
  bool gone_ = false;
  bool blocked_ = false;  // the last write found the pty full
  bool line_speed_ = false;
  ReaderSchedule* schedule_ = nullptr;
};

}  // namespace kelta
