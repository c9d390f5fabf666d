#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <ostream>
#include <sstream>

#include "kelta/version.h"
#include "link/command_set.h"

namespace kelta::cli {

namespace {

constexpr const char* kProgram = "qm880ctl";
constexpr int kColumn = 34;  // where the descriptions start in --help
constexpr int kWidth = 79;

// The texts of the command line, checked by validators that name the allowed values;
// converted once parsing has passed.
struct RawOptions {
  std::string port, mode, lang, value, baud, wiegand, rs485, count, seconds, format = "text";
  std::string silence, tag_test;
};

// The values an option takes from a short list: checked by the parser, offered by the
// completion.
const std::vector<std::string> kLanguages = {"en", "gb", "big5"};  // the catalogue's order
const std::vector<std::string> kFormats = {"text", "csv", "jsonl"};
const std::vector<std::string> kWiegandBits = {"26", "34", "42"};      // in the reader's order
const std::vector<std::string> kRs485Bits = {"24", "32", "40", "64"};  // in the reader's order

std::string Joined(const std::vector<std::string>& words, const char* separator = " ") {
  std::string text;
  for (const auto& w : words) text += (text.empty() ? "" : separator) + w;
  return text;
}

// "26, 34 or 42"
std::string Alternatives(const std::vector<std::string>& words) {
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
  }
  return text;
}

std::vector<std::string> Modes() { return {kBaudRateTable.begin(), kBaudRateTable.end()}; }

std::optional<long> WholeNumber(const std::string& text) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stol(text);
}

std::string Got(const std::string& text) { return ", got \"" + text + "\""; }

CLI::Validator WholeRange(long low, long high) {
  return CLI::Validator(
      [low, high](std::string& text) -> std::string {
        const auto n = WholeNumber(text);
        if (n && *n >= low && *n <= high) return {};
        return "must be a whole number from " + std::to_string(low) + " to " +
               std::to_string(high) + Got(text);
      },
      "", "range");
}

CLI::Validator OneOf(const std::vector<std::string>& choices) {
  return CLI::Validator(
      [choices](std::string& text) -> std::string {
        for (const auto& c : choices) {
          if (text == c) return {};
        }
        return "must be " + Alternatives(choices) + Got(text);
      },
      "", "choice");
}

CLI::Validator ModeValidator() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (BaudRateIndex(text)) return {};
        return "must be one of " + Joined(Modes()) + ", or its place in that list, 0 to 11" +
               Got(text);
      },
      "", "mode");
}

CLI::App* AddCommand(CLI::App& app, const char* name, const char* description) {
  CLI::App* command = app.add_subcommand(name, description);
  command->fallthrough();
  return command;
}

// The global options, and each command with its own, as CLI11 has them: help, manual page
// and completion are made from these, so they cannot disagree with what is parsed.
void Define(CLI::App& app, CliOptions& o, RawOptions& raw) {
  app.require_subcommand(1);
  app.fallthrough();
  app.set_help_flag("-h,--help", "this help (after a command: that command's)");
  app.set_version_flag("--version", std::string(kProgram) + " " + std::string(kVersion),
                       "the program's version");

  CLI::Option* port = app.add_option("--port", raw.port,
                                     "the port by its COM number, as the window names ports "
                                     "(instead of the stored one)")
                          ->type_name("N")
                          ->check(WholeRange(1, 255));
  app.add_option("--device", o.devices,
                 "any serial device, e.g. a /dev/serial/by-id/... name (instead of the stored "
                 "port); scan --every takes it more than once")
      ->type_name("PATH")
      ->excludes(port);
  app.add_option("--mode", raw.mode,
                 "the port mode, e.g. 19200,e,8,1, or its place 0 to 11 "
                 "(instead of the stored one)")
      ->type_name("MODE")
      ->check(ModeValidator());
  app.add_flag("--json", o.json,
               "one JSON document on standard output, for scripts; read-tags keeps every read "
               "in memory until the end for it, so for long reading use --format jsonl instead");
  app.add_option("--lang", raw.lang,
                 "the language of the messages (default: the window's stored language)")
      ->type_name(Joined(kLanguages, "|"))
      ->check(OneOf(kLanguages));
  app.add_flag("--no-store", o.no_store, "leave the stored settings as they are");
  app.add_flag("--trace", o.trace,
               "every frame sent and received, with times, in hexadecimal and as text, on "
               "standard error");
  app.add_flag("--beep", o.beep, "sound the window's beeps");

  AddCommand(app, "ports", "COM1 to COM16: the device each maps to and its state");

  CLI::App* scan = AddCommand(app, "scan",
                              "find the reader: the stored place first, then the walk over "
                              "COM1 to COM16 one port after another, up to the reader (only "
                              "the given port with --port/--device); stores the place found");
  scan->add_flag("--all-modes", o.all_modes,
                 "try all twelve port modes on each port, not only the stored one");
  scan->add_flag("--every", o.every,
                 "every reader at once: all ports (and each --device) walked at the same time, "
                 "so every port that opens gets probe frames, even after a reader is found; "
                 "one line per reader found; the place is stored only when exactly one "
                 "answers");
  scan->add_flag("--explain", o.explain,
                 "tell port by port and mode by mode what happened, and what to do about it");

  AddCommand(app, "info",
             "serial number, ID and firmware version of the reader at the stored "
             "place");

  AddCommand(app, "set-id", "set the reader ID")
      ->add_option("ID", raw.value, "1 to 99")
      ->required()
      ->check(WholeRange(1, 99));
  AddCommand(app, "set-baud", "set the reader's port mode; the new mode is stored")
      ->add_option("MODE", raw.baud, "e.g. 57600,n,8,1, or its place 0 to 11")
      ->required()
      ->check(ModeValidator());
  CLI::App* output = AddCommand(app, "set-output", "set the Wiegand and RS485 output formats");
  output->add_option("--wiegand", raw.wiegand, "Wiegand bits")
      ->type_name(Joined(kWiegandBits, "|"))
      ->required()
      ->check(OneOf(kWiegandBits));
  output->add_option("--rs485", raw.rs485, "RS485 bits")
      ->type_name(Joined(kRs485Bits, "|"))
      ->required()
      ->check(OneOf(kRs485Bits));
  AddCommand(app, "set-rssi", "set the RSSI level")
      ->add_option("LEVEL", raw.value, "0 to 250")
      ->required()
      ->check(WholeRange(0, 250));
  AddCommand(app, "set-address", "set the radio address (kept out of sight in the window)")
      ->add_option("ADDRESS", raw.value, "0 to 255")
      ->required()
      ->check(WholeRange(0, 255));
  AddCommand(app, "set-frequency", "set the radio frequency (kept out of sight in the window)")
      ->add_option("FREQUENCY", raw.value, "0 to 255")
      ->required()
      ->check(WholeRange(0, 255));
  AddCommand(app, "set-channel", "set the radio channel (kept out of sight in the window)")
      ->add_option("CHANNEL", raw.value, "0 to 255")
      ->required()
      ->check(WholeRange(0, 255));
  AddCommand(app, "factory-default", "restore the reader's factory settings");
  AddCommand(app, "reset", "restart the reader");

  CLI::App* read = AddCommand(app, "read-tags",
                              "poll for tags and print one line per tag reply as it comes, "
                              "until Ctrl+C (or SIGTERM), --count or --seconds; then a "
                              "summary on standard error");
  read->add_option("--count", raw.count, "end after N tag lines")
      ->type_name("N")
      ->check(WholeRange(1, 999999999));
  const CLI::Validator seconds(
      [](std::string& text) -> std::string {
        char* end = nullptr;
        const double s = std::strtod(text.c_str(), &end);
        if (!text.empty() && end == text.c_str() + text.size() && s > 0 && s < 1e7) return {};
        return "must be a number of seconds above 0" + Got(text);
      },
      "", "seconds");
  read->add_option("--seconds", raw.seconds, "end after S seconds")->type_name("S")->check(seconds);
  read->add_flag("--unique", o.unique, "print each tag once");
  read->add_option("--format", raw.format, "the lines' format (default text)")
      ->type_name(Joined(kFormats, "|"))
      ->check(OneOf(kFormats));
  CLI::Option* reconnect = read->add_flag(
      "--reconnect", o.reconnect,
      "keep reading when the port is lost or the reader falls silent: close the port, wait "
      "for the device to come back by the path it began with (1 s, doubling to 30 s between "
      "tries, kept long until a tag poll is answered), probe it in every port mode and read "
      "on; a port refused for permission ends it (exit 10); with --format jsonl each loss, "
      "wait, return and other reader is an event line");
  read->add_option("--silence", raw.silence,
                   "with --reconnect: no reply for S seconds counts as a lost reader (default 5)")
      ->type_name("S")
      ->check(seconds)
      ->needs(reconnect);
  DefineGatewayOptions(*read, o.gateway);

  CLI::App* commission = AddCommand(
      app, "commission",
      "set up reader after reader on the same converter: each gets the profile's settings and "
      "the next ID, confirmed by its replies, and a row in the record; until Ctrl+C or the "
      "IDs are used up");
  commission->add_option("PROFILE", o.profile, "a TOML file: the settings and the IDs")
      ->type_name("FILE")
      ->required()
      ->check(CLI::ExistingFile);
  commission->add_option("--record", o.record, "the as-built record, appended to row by row")
      ->type_name("FILE.csv")
      ->required();
  commission->add_option("--tag-test", raw.tag_test, "poll for tags S seconds (default 3, 0 skips)")
      ->type_name("S")
      ->check(WholeRange(0, 3600));
  commission->add_option("--note", o.note, "the operator's note, on every row")->type_name("TEXT");
  commission->add_flag("--again", o.again,
                       "a reader already in the record gets the next ID instead of its own");
  commission->add_flag("--dry-run", o.dry_run,
                       "show what would be sent to the first reader found; send nothing but the "
                       "identity probe, record nothing");
  commission->add_flag("--all-modes", o.all_modes,
                       "look for the reader in all twelve port modes, not only the stored one");
}

std::string Synopsis(const CLI::App& command) {
  std::string text = command.get_name();
  for (const CLI::Option* opt : command.get_options()) {
    if (opt == command.get_help_ptr()) continue;
    std::string item;
    if (opt->get_positional()) {
      item = opt->get_name(true);
    } else if (opt->get_items_expected_max() == 0) {
      item = opt->get_name();
    } else {
      item = opt->get_name() + " " + opt->get_type_name();
    }
    text += " " + (opt->get_required() ? item : "[" + item + "]");
  }
  return text;
}

// `left` at `indent`, then `right` from kColumn on, its words wrapped before kWidth.
void Row(std::ostream& out, const std::string& left, const std::string& right, int indent) {
  std::string line(static_cast<std::size_t>(indent), ' ');
  line += left;
  if (static_cast<int>(line.size()) + 2 > kColumn) {
    out << line << "\n";
    line.clear();
  }
  std::istringstream words(right);
  std::string word;
  bool first = true;
  while (words >> word) {
    if (!first && static_cast<int>(line.size() + 1 + word.size()) > kWidth) {
      out << line << "\n";
      line.clear();
      first = true;
    }
    if (first) {
      line.resize(kColumn, ' ');
    } else {
      line += ' ';
    }
    line += word;
    first = false;
  }
  out << line << "\n";
}

std::string OptionLeft(const CLI::Option& opt) {
  if (opt.get_positional()) return opt.get_name(true);
  std::string left = opt.get_name(false, true);
  if (opt.get_items_expected_max() > 0) left += " " + opt.get_type_name();
  return left;
}

std::vector<const CLI::App*> Commands(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App*) { return true; });
}

// The command with its synopsis; its argument's range joins the description, each of its
// options gets a row of its own.
void WriteCommand(std::ostream& out, const CLI::App& command) {
  std::string description = command.get_description();
  for (const CLI::Option* opt : command.get_options()) {
    if (opt->get_positional())
      description += " (" + opt->get_name(true) + ": " + opt->get_description() + ")";
  }
  Row(out, Synopsis(command), description, 2);
  for (const CLI::Option* opt : command.get_options()) {
    if (opt == command.get_help_ptr() || opt->get_positional()) continue;
    Row(out, OptionLeft(*opt), opt->get_description(), 6);
  }
}

void WriteGlobalOptions(std::ostream& out, const CLI::App& app) {
  out << "Options (every command):\n";
  for (const CLI::Option* opt : app.get_options()) {
    if (opt->get_group().empty()) continue;
    Row(out, OptionLeft(*opt), opt->get_description(), 2);
  }
}

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0    done\n"
    "  1    the reader did not accept the command (or gave no firmware version)\n"
    "  2    bad usage or argument: nothing was opened\n"
    "  3    no reader found (or none answered at the stored place, or to any tag poll)\n"
    "  4    the port cannot be opened, or was lost meanwhile; the message says why\n"
    "  5    the reader did it, but the settings could not be stored; the message says why\n"
    "  6    read-tags --mqtt: the broker refused the user name or password\n"
    "  7    read-tags --mqtt: TLS failed: the broker's certificate (or ours) was refused,\n"
    "       or it is not for the URL's host name\n"
    "  8    read-tags --mqtt: the broker's host name is not known\n"
    "  9    read-tags --mqtt: the outbox (in the settings folder) cannot be opened\n"
    "  10   read-tags --reconnect: the port refuses this user (permission), which no wait\n"
    "       mends\n"
    "  70   internal error of the program: a fault to report, nothing about the reader\n"
    "  130  interrupted (Ctrl+C, SIGTERM) during any command but read-tags, port\n"
    "       closed; a command already sent to the reader is completed first (a failure\n"
    "       it came to keeps its own code), and a second Ctrl+C ends the program at once\n";

constexpr const char* kExamples =
    "Examples:\n"
    "  qm880ctl scan                      find the reader and store where it is\n"
    "  qm880ctl scan --explain            ... or find out why it is not found\n"
    "  qm880ctl set-id 7                  give the reader found ID 07\n"
    "  qm880ctl --port 3 --json info      the identity of the reader at COM3, as data\n"
    "  qm880ctl read-tags --format csv --seconds 60 > tags.csv\n"
    "  qm880ctl commission site.toml --record site.csv   reader after reader, recorded\n"
    "  qm880ctl read-tags --reconnect --mqtt mqtts://gate1@broker.example.net/site \\\n"
    "      --mqtt-password-file /etc/kelta/mqtt-password   publish to a broker\n"
    "  qm880ctl --device /dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0 scan --all-modes\n";

class HelpFormatter final : public CLI::FormatterBase {
 public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    std::ostringstream out;
    if (app->get_parent() != nullptr) {
      const CLI::App& root = *app->get_parent();
      out << "Usage: " << kProgram << " [OPTIONS] " << Synopsis(*app) << "\n\n";
      WriteCommand(out, *app);
      out << "\n";
      WriteGlobalOptions(out, root);
      out << "\n" << kExitCodes;
      return out.str();
    }
    out << "Usage: " << kProgram << " [OPTIONS] COMMAND [ARGUMENTS]\n\n"
        << "The KELTA QM880-4R reader from the command line: the window's reader operations\n"
        << "(the same commands on the wire, the same tries and pauses) and its stored\n"
        << "settings, for scripts, for readers behind a headless gateway, and for finding\n"
        << "out why a reader is not found. Options may come before or after the command.\n\n"
        << "Commands:\n";
    for (const CLI::App* command : Commands(*app)) WriteCommand(out, *command);
    out << "\n";
    WriteGlobalOptions(out, *app);
    out << "\n" << kExitCodes << "\n" << kExamples;
    return out.str();
  }
};

// Completion of the commands, the options (every command's and its own) and the values
// that are a short list.
std::string CompletionScript(const CLI::App& app) {
  const auto options_of = [](const CLI::App& a) {
    std::vector<std::string> names;
    for (const CLI::Option* opt : a.get_options()) {
      if (opt->get_positional() || opt == a.get_help_ptr()) continue;
      for (const std::string& name : opt->get_lnames()) names.push_back("--" + name);
    }
    return names;
  };
  const auto reply = [](const std::vector<std::string>& words) {
    return "COMPREPLY=($(compgen -W '" + Joined(words) + "' -- \"$cur\")); return;;";
  };
  std::vector<std::string> commands;
  for (const CLI::App* command : Commands(app)) commands.push_back(command->get_name());
  std::vector<std::string> global = options_of(app);
  global.push_back("--help");

  std::ostringstream out;
  out << "# bash completion for qm880ctl (made by qm880ctl --bash-completion)\n"
      << "_qm880ctl() {\n"
      << "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
      << "  local command= w\n"
      << "  for w in \"${COMP_WORDS[@]:1:COMP_CWORD-1}\"; do\n"
      << "    case \" " << Joined(commands) << " \" in *\" $w \"*) command=$w;; esac\n"
      << "  done\n"
      << "  case $prev in\n"
      << "    --lang) " << reply(kLanguages) << "\n"
      << "    --format) " << reply(kFormats) << "\n"
      << "    --wiegand) " << reply(kWiegandBits) << "\n"
      << "    --rs485) " << reply(kRs485Bits) << "\n"
      << "    --mode) " << reply(Modes()) << "\n"
      << "    --device) COMPREPLY=($(compgen -f -- \"${cur:-/dev/}\")); return;;\n"
      << "    --port|--count|--seconds|--tag-test|--note) return;;\n"
      << "    --record) COMPREPLY=($(compgen -f -- \"$cur\")); return;;\n"
      << "  esac\n"
      << "  local options='" << Joined(global) << "'\n"
      << "  case $command in\n"
      << "    '') COMPREPLY=($(compgen -W \"" << Joined(commands)
      << " $options\" -- \"$cur\")); return;;\n"
      << "    set-baud) [[ $cur != -* ]] && { "
      << reply(Modes()).substr(0, reply(Modes()).size() - 1) << " };;\n";
  for (const CLI::App* command : Commands(app)) {
    const std::vector<std::string> own = options_of(*command);
    // A command whose argument is a file completes file names there.
    std::string files;
    for (const CLI::Option* opt : command->get_options()) {
      if (opt->get_positional() && opt->get_type_name().rfind("FILE", 0) == 0)
        files = "[[ $cur != -* ]] && { COMPREPLY=($(compgen -f -- \"$cur\")); return; }; ";
    }
    if (!own.empty())
      out << "    " << command->get_name() << ") " << files << "options+=' " << Joined(own)
          << "';;\n";
  }
  out << "  esac\n"
      << "  COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
      << "}\n"
      << "complete -F _qm880ctl qm880ctl\n";
  return out.str();
}

// The place of a checked value in its list: the catalogue's column for a language, the
// digit the reader's command carries for an output format.
int IndexIn(const std::vector<std::string>& list, const std::string& value) {
  return static_cast<int>(std::find(list.begin(), list.end(), value) - list.begin());
}

}  // namespace

std::optional<int> ParseCommandLine(int argc, const char* const* argv, CliOptions& options,
                                    std::ostream& out, std::ostream& err) {
  CLI::App app(kProgram, kProgram);
  app.formatter(std::make_shared<HelpFormatter>());
  RawOptions raw;
  Define(app, options, raw);
  // The completion script, for the build to install; it needs no command.
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--bash-completion") {
      out << CompletionScript(app);
      return kExitDone;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return kExitDone;
  } catch (const CLI::CallForVersion& version) {
    out << version.what() << "\n";
    return kExitDone;
  } catch (const CLI::ParseError& error) {
    std::string what = error.what();
    if (app.get_subcommands().empty()) {
      // CLI11 says only that a subcommand is required; name what it got instead.
      const std::vector<std::string> rest = app.remaining();
      what = rest.empty() ? "a command is required" : "unknown command \"" + rest.front() + "\"";
    }
    err << kProgram << ": " << what << "\n"
        << "Run '" << kProgram << " --help' for the commands and options.\n";
    return kExitUsage;
  }

  options.command = app.get_subcommands().front()->get_name();
  if (options.devices.size() > 1 && !(options.command == "scan" && options.every)) {
    err << kProgram << ": --device: only scan --every takes more than one device\n";
    return kExitUsage;
  }
  // --json holds every read for one document at the end: no end in sight with --reconnect.
  if (options.json && options.reconnect) {
    err << kProgram << ": --json keeps every read until reading ends; with --reconnect use "
        << "--format jsonl\n";
    return kExitUsage;
  }
  if (options.every && !raw.port.empty()) {
    err << kProgram << ": --port: scan --every walks every port; give --device for others\n";
    return kExitUsage;
  }
  if (!options.devices.empty()) options.device = options.devices.front();
  if (!raw.port.empty()) options.port = static_cast<int>(*WholeNumber(raw.port));
  if (!raw.mode.empty()) options.mode_index = BaudRateIndex(raw.mode);
  if (!raw.lang.empty()) options.language = IndexIn(kLanguages, raw.lang);
  if (!raw.value.empty()) options.value = static_cast<int>(*WholeNumber(raw.value));
  if (!raw.baud.empty()) options.baud_index = *BaudRateIndex(raw.baud);
  if (!raw.rs485.empty()) options.rs485_index = IndexIn(kRs485Bits, raw.rs485);
  if (!raw.wiegand.empty()) options.wiegand_index = IndexIn(kWiegandBits, raw.wiegand);
  if (!raw.count.empty()) options.count = *WholeNumber(raw.count);
  if (!raw.seconds.empty()) options.seconds = std::strtod(raw.seconds.c_str(), nullptr);
  if (!raw.tag_test.empty()) options.tag_test = std::strtod(raw.tag_test.c_str(), nullptr);
  if (!raw.silence.empty()) options.silence = std::strtod(raw.silence.c_str(), nullptr);
  options.format = raw.format == "csv"     ? TagFormat::Csv
                   : raw.format == "jsonl" ? TagFormat::Jsonl
                                           : TagFormat::Text;
  return std::nullopt;
}

}  // namespace kelta::cli
