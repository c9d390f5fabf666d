// qm880ctl commission: reader after reader on the same converter, each given the profile's
// settings and the next ID, confirmed by its own replies and written to the as-built
// record, until Ctrl+C or the list of IDs is used up.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"
#include "platform/clock.h"
#include "platform/serial_device.h"

namespace kelta::cli {

// Runs the commissioning `options` describe. Progress goes to `err`, one line per reader
// (text, or JSON with --json) to `out`. Returns the exit code.
int Commission(const CliOptions& options, std::FILE* out, std::FILE* err);
int Commission(const CliOptions& options, std::FILE* out, std::FILE* err, SerialDevice& device,
               Clock& clock);

}  // namespace kelta::cli
