// qm880ctl's commands over the reader operations: the same operations the window runs,
// with the command line as their view and event pump.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"

namespace kelta::cli {

// Runs the command `options` name; data goes to `out`, messages to `err`. Returns the
// exit code.
int RunCommand(const CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace kelta::cli
