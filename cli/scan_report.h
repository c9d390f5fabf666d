// Discovery step by step, as the reader operations report it: which ports opened, and
// what each probe heard in each mode. For scan --explain, and for telling a port that
// never opened from a reader that never answered.
#pragma once

#include <string>
#include <vector>

#include "platform/port_info.h"
#include "reader/results.h"

namespace kelta::cli {

class ScanReport final : public ReaderEvents {
 public:
  // What the probes in one mode on one port came to, the most telling first.
  enum class Heard { Found, Lost, WrongLength, BadChecksum, Unfinished, NoFrame, Silent };

  struct Mode {
    std::string mode;
    int tries = 0;
    Heard heard = Heard::Silent;
    int reply_length = 0;  // of the reply behind WrongLength
  };

  struct Port {
    int number = 0;
    std::string device;
    bool opened = false;  // at least once
    OpenError error;      // of the last open that failed
    std::vector<Mode> modes;
  };

  void ScanOpened(int port, const std::string& mode, bool opened, const OpenError& error) override;
  void ScanProbed(int port, const std::string& mode, bool found, const ReplyWait& wait,
                  int reply_length) override;

  // In the order first tried.
  const std::vector<Port>& Ports() const { return ports_; }
  bool AnyOpened() const;

  static const char* Name(Heard heard);

 private:
  Port& PortOf(int number);

  std::vector<Port> ports_;
};

// What --explain says when the holders of ports could not all be seen.
inline constexpr const char* kHoldersUnknown =
    "/proc does not show every process here (hidepid, or another user's descriptors), so a "
    "port another program has open may have been opened";

// "4242 (qm880-config), 4243 (cat)".
std::string HoldersText(const std::vector<PortHolder>& holders);
// Why `device` did not open, and what to do about it, in one line.
std::string OpenProblem(const OpenError& error, const std::string& device);

}  // namespace kelta::cli
