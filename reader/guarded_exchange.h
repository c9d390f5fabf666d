// The sequence every settings command follows: refuse before a scan, open the port
// the scan found, make sure the reader answers "A00B", send the command, report.
#pragma once

#include <functional>
#include <string>

#include "reader/context.h"
#include "reader/results.h"

namespace kelta {

struct GuardedExchange {
  // Runs once the reader is known to be ready, before the start text; false ends the
  // operation as a failure with nothing opened or sent.
  std::function<bool()> prepare;
  std::function<std::string()> start_text;
  int tries = 3;
  // Called in each try after the probe succeeded, so it may read the probe's reply.
  std::function<std::string()> command;
  // Run once, when the reader accepted the command, while the port is still open.
  std::function<void()> on_accept;
  int ok_message = 0;
  int error_message = 0;
};

CommandResult RunGuardedExchange(ReaderContext& ctx, const GuardedExchange& exchange);

}  // namespace kelta
