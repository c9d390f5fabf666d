// qm880ctl: the reader from the command line. See --help.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/json_text.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  using namespace kelta::cli;
  kelta::UseUtf8Console();
  CliOptions options;
  if (const auto done = ParseCommandLine(argc, argv, options, std::cout, std::cerr)) {
    std::cout.flush();
    return *done;
  }
  try {
    return RunCommand(options, stdout, stderr);
  } catch (const std::exception& error) {
    // A fault of the program, with a code of its own: never taken for what the reader did.
    const std::string text = std::string("internal error: ") + error.what();
    std::fprintf(stderr, "qm880ctl: %s\n", text.c_str());
    if (options.json) {
      std::puts(
          JsonText({{"command", options.command}, {"error", text}, {"exit_code", kExitInternal}})
              .c_str());
    }
  }
  return kExitInternal;
}
