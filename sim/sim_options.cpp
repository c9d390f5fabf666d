#include "sim/sim_options.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

#include "link/command_set.h"

namespace kelta {

namespace {

// Digits only (a signed type also takes a minus sign): no plus sign, no blanks.
template <typename T>
std::optional<T> Number(std::string_view text, int base = 10) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// "4D2" or "000004D2:3": a tag ID in hexadecimal, heard on every n-th poll.
std::optional<SimTag> Tag(std::string_view text) {
  SimTag tag;
  if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
    const auto every = Number<int>(text.substr(colon + 1));
    if (!every || *every < 1) return std::nullopt;
    tag.every = *every;
    text = text.substr(0, colon);
  }
  if (text.size() > 8) return std::nullopt;
  const auto id = Number<std::uint32_t>(text, 16);
  if (!id) return std::nullopt;
  tag.id = *id;
  return tag;
}

// Milliseconds the simulator can count to: its clock's differences are signed 32-bit.
std::optional<std::uint32_t> Milliseconds(std::string_view text) {
  const auto ms = Number<std::uint32_t>(text);
  if (!ms || *ms > kMaxSimMs) return std::nullopt;
  return ms;
}

// Reply text the framing carries: printable ASCII (no CR, LF or zero byte).
bool ReplyText(std::string_view text, std::size_t length) {
  return text.size() == length &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

bool Digits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool Letters(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// "SERIAL[:ID[:MODE[:REFUSE]]]": a reader of the schedule; empty fields keep the defaults.
std::optional<PluggedReader> Plugged(std::string_view text) {
  std::vector<std::string_view> fields;
  for (std::size_t colon; (colon = text.find(':')) != std::string_view::npos;) {
    fields.push_back(text.substr(0, colon));
    text = text.substr(colon + 1);
  }
  fields.push_back(text);
  PluggedReader reader;
  if (fields.size() > 4 || !ReplyText(fields[0], 8)) return std::nullopt;
  reader.settings.serial = std::string(fields[0]);
  if (fields.size() > 1 && !fields[1].empty()) {
    if (fields[1].size() != 2 || !Digits(fields[1])) return std::nullopt;
    reader.settings.id = std::string(fields[1]);
  }
  if (fields.size() > 2 && !fields[2].empty()) {
    const auto mode = BaudRateIndex(fields[2]);
    if (!mode) return std::nullopt;
    reader.settings.mode_index = *mode;
  }
  if (fields.size() > 3) {
    if (!Letters(fields[3])) return std::nullopt;
    reader.refuse = std::string(fields[3]);
  }
  return reader;
}

}  // namespace

std::string ParseSimOptions(const std::vector<std::string>& args, SimOptions& out) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inline_value;
    if (const std::size_t eq = name.find('=');
        name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inline_value = name.substr(eq + 1);
      name.resize(eq);
    }
    // The option's value: after "=", or the next argument.
    std::string value;
    auto take = [&]() -> bool {
      if (inline_value) {
        value = *inline_value;
        return true;
      }
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    auto bad = [&](const char* what) { return name + ": " + what + ", got \"" + value + "\""; };
    auto flag = [&](bool& field) {
      field = true;
      return inline_value ? name + " takes no value" : std::string();
    };
    std::string error;

    if (name == "--help" || name == "-h") {
      out.help = true;
    } else if (name == "--quiet") {
      error = flag(out.quiet);
    } else if (name == "--no-answer") {
      error = flag(out.faults.no_answer);
    } else if (name == "--bad-checksum") {
      error = flag(out.faults.wrong_checksum);
    } else if (name == "--lower-checksum") {
      error = flag(out.faults.lower_case_checksum);
    } else if (name == "--stream") {
      error = flag(out.faults.endless_stream);
    } else if (name == "--line-speed") {
      error = flag(out.line_speed);
    } else if (!take()) {
      return name.rfind("--", 0) == 0 ? name + " needs a value (see --help)"
                                      : "unknown argument \"" + name + "\" (see --help)";
    } else if (name == "--port") {
      const auto n = Number<int>(value);
      if (!n || *n < 1 || *n > 255) return bad("a port number from 1 to 255");
      out.port = *n;
    } else if (name == "--link") {
      if (value.empty()) return bad("a path");
      out.link = value;
    } else if (name == "--mode") {
      const auto m = BaudRateIndex(value);
      if (!m) return bad("0 to 11 or a mode such as 19200,e,8,1");
      out.settings.mode_index = *m;
    } else if (name == "--serial") {
      if (!ReplyText(value, 8)) return bad("8 printable ASCII characters");
      out.settings.serial = value;
    } else if (name == "--id") {
      if (value.size() != 2 || !Digits(value)) return bad("2 decimal digits");
      out.settings.id = value;
    } else if (name == "--version") {
      if (!ReplyText(value, 8)) return bad("8 printable ASCII characters");
      out.settings.version = value;
    } else if (name == "--tag") {
      const auto tag = Tag(value);
      if (!tag) return bad("a hexadecimal tag ID of up to 8 digits, optionally :N");
      out.tags.push_back(*tag);
    } else if (name == "--delay") {
      const auto ms = Milliseconds(value);
      if (!ms) return bad("milliseconds from 0 to 2147483647");
      out.faults.delay_ms = *ms;
    } else if (name == "--length-delta") {
      const auto d = Number<int>(value.starts_with('+') ? value.substr(1) : value);
      if (!d || *d < -64 || *d > 64) return bad("-64 to 64");
      out.faults.length_delta = *d;
    } else if (name == "--garbage") {
      out.faults.garbage = value;
    } else if (name == "--cr-storm" || name == "--burst") {
      const auto n = Number<int>(value);
      if (!n || *n < 0 || *n > 1000000) return bad("a count from 0 to 1000000");
      (name == "--burst" ? out.faults.burst : out.faults.cr_storm) = *n;
    } else if (name == "--every") {
      const auto n = Number<int>(value);
      if (!n || *n < 1) return bad("a count of 1 or more");
      out.faults.answer_every = *n;
    } else if (name == "--vanish-after") {
      const auto ms = Milliseconds(value);
      if (!ms) return bad("milliseconds from 0 to 2147483647");
      out.faults.vanish_at_ms = *ms;
    } else if (name == "--only") {
      if (value.empty() ||
          !std::all_of(value.begin(), value.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
        return bad("command letters such as BV");
      }
      out.faults.only = value;
    } else if (name == "--refuse") {
      if (!Letters(value)) return bad("command letters such as L");
      out.faults.refuse = value;
    } else if (name == "--next") {
      const auto reader = Plugged(value);
      if (!reader) return bad("SERIAL[:ID[:MODE[:LETTERS]]], e.g. QM880102:01:5:L");
      out.next.push_back(*reader);
    } else if (name == "--unplug-after") {
      const auto n = Number<int>(value);
      if (!n || *n < 1 || *n > 1000) return bad("a count from 1 to 1000");
      out.unplug_after = *n;
    } else if (name == "--gap") {
      const auto ms = Milliseconds(value);
      if (!ms) return bad("milliseconds from 0 to 2147483647");
      out.gap_ms = *ms;
    } else if (name == "--log") {
      if (value.empty()) return bad("a file");
      out.log_file = value;
    } else {
      return "unknown option \"" + name + "\" (see --help)";
    }
    if (!error.empty()) return error;
  }
  if (!out.help && (out.port == 0) == out.link.empty()) {
    return "give either --port N or --link PATH (see --help)";
  }
  return {};
}

std::string SimUsage() {
  return R"(Usage: qm880-sim (--port N | --link PATH) [options]

Stands in for a KELTA QM880-4R reader on a pseudo-terminal, so that the reader
config utility (or anything else that talks to the reader) has a reader to find.
It prints "qm880-sim: COMn -> /dev/pts/K ready" once it answers, then a trace of
every frame it receives (<-) and sends (->) with the time in seconds. SIGINT or
SIGTERM stop it and remove its link.

Where:
  --port N            link the pseudo-terminal as COMN: the file ports/comN in
                      ${XDG_CONFIG_HOME:-$HOME/.config}/KELTA/ReaderConfig
  --link PATH         link it at PATH instead, e.g. $WINEPREFIX/dosdevices/com7

The reader:
  --mode M            its port mode: 0 to 11, or one of 4800,n,8,1 4800,e,8,1
                      9600,n,8,1 ... 115200,e,8,1 (default 5, 19200,e,8,1)
  --serial TEXT       its serial number, 8 printable ASCII characters (default
                      QM880001)
  --id NN             its reader ID, 2 digits (default 01)
  --version TEXT      its firmware version, 8 printable ASCII characters (default
                      V2.10.04)
  --tag ID[:N]        a tag in range, ID in hexadecimal (up to 8 digits), heard
                      on every N-th tag poll (default every poll); repeatable

Faults (they combine):
  --no-answer         never answer
  --delay MS          answer MS milliseconds after the command ends (MS up to
                      2147483647)
  --bad-checksum      answer with a wrong checksum
  --lower-checksum    answer with the checksum in lower case
  --length-delta N    make every reply N characters longer (or shorter if N < 0)
  --garbage TEXT      send TEXT before every reply
  --cr-storm N        send N carriage returns before every reply
  --burst N           send N filler bytes before every reply (over 1024 wraps
                      the utility's reply buffer)
  --stream            answer the first command with a stream that never ends
  --every N           answer only every N-th command
  --vanish-after MS   disappear MS milliseconds after the start: the pseudo-
                      terminal hangs up and the port no longer opens (MS up
                      to 2147483647)
  --only LETTERS      apply the faults only to these commands, e.g. BV or F
  --refuse LETTERS    do not take these commands at all (no change, no answer),
                      e.g. L

Several readers, one after another on the same line:
  --next S[:ID[:MODE[:LETTERS]]]
                      after the reader above, connect one with serial number S
                      (its ID, mode and refused letters; empty fields: the
                      defaults); repeatable, in order
  --unplug-after N    unplug the reader on the line once it has answered N
                      "A00B" in a row (default 3 with --next)
  --gap MS            the line stays empty MS milliseconds before the next
                      reader is connected (default 1000)

The line:
  --line-speed        send each byte of a reply one character time after the one
                      before, at the baud rate the client set, as a real line does
                      (a pseudo-terminal otherwise delivers a reply at once)

Output:
  --log FILE          append the trace to FILE as well
  --quiet             no trace on standard output (the ready line still comes)
  --help              this text

The reader only understands a client whose line runs at the baud rate of its
mode. A pseudo-terminal carries the baud rate but not the parity, data bits or
stop bits (Linux ptys ignore them), so here "19200,n,8,1" reaches a reader at
19200,e,8,1; the in-memory line of the tests checks the full mode. After an
"A00E" command the reader answers, then listens at the new mode.

Examples:
  qm880-sim --port 3
  qm880-sim --port 3 --mode 115200,n,8,1 --serial SN004711 --id 07 \
            --tag 000004D2 --tag 00BC614E:5
  qm880-sim --port 9 --delay 150 --only F          # tag replies come too late
  qm880-sim --port 4 --every 2 --lower-checksum --log /tmp/qm880.log
  qm880-sim --link "$WINEPREFIX/dosdevices/com12" --mode 2
  qm880-sim --port 3 --serial QM880101 --next QM880102:::L --next QM880103
)";
}

}  // namespace kelta
