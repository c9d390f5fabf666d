// qm880ctl: the reader from the command line. See --help.
#include <cstdio>
#include <exception>
#include <iostream>

#include "cli/cli_options.h"
#include "cli/commands.h"
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
    std::fprintf(stderr, "qm880ctl: %s\n", error.what());
  }
  return 1;
}
