#include "cli/scan_report.h"

#include <algorithm>

#include "platform/serial_device.h"

namespace kelta::cli {

ScanReport::Port& ScanReport::PortOf(int number) {
  const auto it =
      std::find_if(ports_.begin(), ports_.end(), [&](const Port& p) { return p.number == number; });
  if (it != ports_.end()) return *it;
  ports_.push_back({number, PortDeviceName(number), false, {}, {}});
  return ports_.back();
}

void ScanReport::ScanOpened(int port, const std::string&, bool opened, const OpenError& error) {
  Port& p = PortOf(port);
  p.opened = p.opened || opened;
  if (!opened) p.error = error;
}

void ScanReport::ScanProbed(int port, const std::string& mode, bool found, const ReplyWait& wait,
                            int reply_length) {
  Port& p = PortOf(port);
  auto it =
      std::find_if(p.modes.begin(), p.modes.end(), [&](const Mode& m) { return m.mode == mode; });
  if (it == p.modes.end()) {
    p.modes.push_back({mode, 0, Heard::Silent, 0});
    it = p.modes.end() - 1;
  }
  ++it->tries;
  Heard heard = Heard::Silent;
  if (found) {
    heard = Heard::Found;
  } else if (wait.lost) {
    heard = Heard::Lost;
  } else {
    switch (wait.heard) {
      case ReplyHeard::Valid:  // but not the 16 bytes of reader information
        heard = Heard::WrongLength;
        break;
      case ReplyHeard::BadChecksum:
        heard = Heard::BadChecksum;
        break;
      case ReplyHeard::Unfinished:
        heard = Heard::Unfinished;
        break;
      case ReplyHeard::NoFrame:
        heard = Heard::NoFrame;
        break;
      case ReplyHeard::Nothing:
        break;
    }
  }
  if (heard < it->heard) {
    it->heard = heard;
    it->reply_length = reply_length;
  }
}

bool ScanReport::AnyOpened() const {
  return std::any_of(ports_.begin(), ports_.end(), [](const Port& p) { return p.opened; });
}

const char* ScanReport::Name(Heard heard) {
  switch (heard) {
    case Heard::Found:
      return "found";
    case Heard::Lost:
      return "port-lost";
    case Heard::WrongLength:
      return "wrong-length";
    case Heard::BadChecksum:
      return "wrong-checksum";
    case Heard::Unfinished:
      return "unfinished-frame";
    case Heard::NoFrame:
      return "no-frame";
    case Heard::Silent:
      break;
  }
  return "silent";
}

}  // namespace kelta::cli
