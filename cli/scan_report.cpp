#include "cli/scan_report.h"

#include <algorithm>

#include "platform/port_info.h"
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

std::string HoldersText(const std::vector<PortHolder>& holders) {
  std::string text;
  for (const PortHolder& h : holders) {
    if (!text.empty()) text += ", ";
    text += std::to_string(h.pid) + " (" + h.name + ")";
  }
  return text;
}

// Why `device` did not open, and what to do about it, in one line.
std::string OpenProblem(const OpenError& error, const std::string& device) {
  switch (error.kind) {
    case OpenFailure::NoDevice:
      return "no such device" + (error.text.empty() ? "" : " (" + error.text + ")");
    case OpenFailure::NoPermission: {
      // The group that may use serial devices; a device of another group (a terminal's,
      // root's) is no reason to hand out membership of that one.
      const std::string group = DescribeDevice(device).group;
      const bool serial_group = group == "dialout" || group == "uucp";
      const std::string fix_group = serial_group ? group : "dialout";
      return "permission denied; fix: sudo usermod -aG " + fix_group +
             " \"$USER\", then log in again";
    }
    case OpenFailure::Busy: {
      // The holders of the lock, where they can be told from others that only have it open.
      std::vector<PortHolder> holders = DescribeDevice(device).holders;
      if (std::any_of(holders.begin(), holders.end(),
                      [](const PortHolder& h) { return h.exclusive; })) {
        std::erase_if(holders, [](const PortHolder& h) { return !h.exclusive; });
      }
      if (holders.empty()) return "held by another program";
      return (holders.size() == 1 ? "held by process " : "held by processes ") +
             HoldersText(holders);
    }
    case OpenFailure::NotSerial:
      return "not a serial port" + (error.text.empty() ? "" : " (" + error.text + ")");
    case OpenFailure::InUse:
      return (error.text.empty() ? std::string("in use elsewhere") : error.text) + "; left alone";
    case OpenFailure::None:
    case OpenFailure::Other:
      break;
  }
  return error.text.empty() ? std::string("cannot be opened") : error.text;
}

}  // namespace kelta::cli
