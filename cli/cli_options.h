// qm880ctl's command line: its commands, their arguments and the options every command
// takes, checked before anything else happens.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/gateway_options.h"

namespace kelta::cli {

enum class TagFormat { Text, Csv, Jsonl };

struct CliOptions {
  std::string command;  // "ports", "scan", "info", "set-id", ..., "read-tags"

  // Every command.
  std::optional<int> port;        // --port N
  std::string device;             // --device PATH
  std::optional<int> mode_index;  // --mode MODE, as its index in the baud-rate table
  // Every --device given (device is the first): only scan --every takes more than one.
  std::vector<std::string> devices;
  bool json = false;
  std::optional<int> language;  // --lang, as the catalogue's column
  bool no_store = false;
  bool trace = false;
  bool beep = false;

  // scan
  bool all_modes = false;
  bool explain = false;
  bool every = false;

  // The value of set-id, set-rssi, set-address, set-frequency and set-channel.
  int value = 0;
  int baud_index = 0;   // set-baud
  int rs485_index = 0;  // set-output: the list indexes the reader's command carries
  int wiegand_index = 0;

  // read-tags
  std::optional<long> count;
  std::optional<double> seconds;
  bool unique = false;
  TagFormat format = TagFormat::Text;
  bool reconnect = false;
  double silence = 5;  // seconds without a reply that count as a lost reader

  // commission
  std::string profile;
  std::string record;
  double tag_test = 3;  // seconds; 0 skips the tag test
  std::string note;
  bool again = false;
  bool dry_run = false;
  GatewayOptions gateway;  // presence and publishing
};

// Exit codes, the same for every command.
inline constexpr int kExitDone = 0;
inline constexpr int kExitRefused = 1;   // the reader did not accept the command
inline constexpr int kExitUsage = 2;     // bad usage or argument; nothing was opened
inline constexpr int kExitNoReader = 3;  // no reader found
inline constexpr int kExitNoPort = 4;    // the port cannot be opened
// The reader did it, but the settings could not be stored.
inline constexpr int kExitNotStored = 5;
// read-tags --mqtt, what can never succeed: the broker refused the user or password; its
// certificate (or the client's) was refused; its host is not known; the outbox cannot be
// opened.
inline constexpr int kExitBrokerRefused = 6;
inline constexpr int kExitBrokerCertificate = 7;
inline constexpr int kExitBrokerUnknown = 8;
inline constexpr int kExitOutbox = 9;
// read-tags --reconnect: the port refuses this user (permission), which no wait mends.
inline constexpr int kExitNoAccess = 10;
// A fault of the program itself (EX_SOFTWARE), never to be taken for the reader's doing.
inline constexpr int kExitInternal = 70;
inline constexpr int kExitInterrupted = 130;

// Reads the command line into `options`. Returns an exit code when the program is done
// already: --help, --version and the completion script are written to `out` (0), a usage
// error to `err` (2).
std::optional<int> ParseCommandLine(int argc, const char* const* argv, CliOptions& options,
                                    std::ostream& out, std::ostream& err);

}  // namespace kelta::cli
