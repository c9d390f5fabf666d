// Discovery on every port at once for qm880ctl: the links it walks on, and scan --every.
#pragma once

#include <cstdio>
#include <memory>

#include "cli/cli_options.h"
#include "platform/clock.h"
#include "reader/port_walk.h"

namespace kelta::cli {

// Links to the system's ports: each with a channel of its own (traced with --trace), the
// system's clock, which keeps no state and so serves every thread, and `pump`, which may
// be called from all their threads at once.
class SystemLinks final : public LinkMaker {
 public:
  SystemLinks(EventPump& pump, bool trace, std::FILE* err)
      : pump_(pump), trace_(trace), err_(err) {}
  std::unique_ptr<OwnLink> MakeLink(int port) override;

 private:
  EventPump& pump_;
  bool trace_;
  std::FILE* err_;
};

// scan --every: every reader on COM1 to COM16 and on each --device, all walked at once; the
// place is stored only when exactly one reader answered. Returns the exit code.
int ScanEvery(const CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace kelta::cli
