// qm880ctl's commands over the reader operations: the same operations the window runs,
// with the command line as their view and event pump.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"
#include "platform/clock.h"
#include "platform/serial_device.h"

namespace kelta::cli {

// Runs the command `options` name; data goes to `out`, messages to `err`. Returns the
// exit code.
int RunCommand(const CliOptions& options, std::FILE* out, std::FILE* err);
// The same over other serial devices and another clock: the in-memory line on a virtual
// clock, for tests and measurements.
int RunCommand(const CliOptions& options, std::FILE* out, std::FILE* err, SerialDevice& device,
               Clock& clock);

}  // namespace kelta::cli
