// Discovery on many ports at once: each port is walked on a link of its own, on a thread
// of its own, with the frames, tries and pauses the walk one port after another sends
// there; only the ports no longer wait for one another.
#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/reader_link.h"
#include "platform/clock.h"
#include "reader/results.h"

namespace kelta {

// "A00B" tries in each mode of a walk.
inline constexpr int kWalkTries = 2;

// One port's link: a channel, a clock and a message loop that no other link shares. The
// port it may have left open is closed when it goes.
class OwnLink {
 public:
  virtual ~OwnLink() = default;
  virtual ReaderLink& Link() = 0;
  virtual Clock& LinkClock() = 0;
};

// Makes the links of a walk, one per port, all on the calling thread before any walking
// starts; each is then used on its port's thread alone.
class LinkMaker {
 public:
  virtual ~LinkMaker() = default;
  virtual std::unique_ptr<OwnLink> MakeLink(int port) = 0;
};

// One step of discovery on one port, as ReaderEvents hears it.
struct ScanStep {
  bool probe = false;  // an "A00B" probe; otherwise an open
  std::string mode;
  bool ok = false;  // opened, or found
  OpenError error;
  ReplyWait wait;
  int reply_length = 0;
};

// What one port's walk came to.
struct PortFinding {
  int port = 0;
  bool found = false;  // a full reader-information reply came
  int mode_index = -1;
  std::string serial;  // reply characters as the reader sent them
  std::string id;
  bool ready = false;  // the firmware version came too (when asked for)
  std::string version;
  bool cut_short = false;  // stopped before its walk was done
  bool lost = false;       // the port hung up or went away: passed over from there on
  std::vector<ScanStep> steps;
};

struct WalkPlan {
  std::vector<int> ports;  // in the walk's order
  std::vector<int> modes;  // indexes into kBaudRateTable, in the order tried on each port
  // A port stops between exchanges once a port before it in `ports` found a reader: only
  // the first reader in the walk's order counts.
  bool first_only = false;
  // Each reader found is also asked for its firmware version, as discovery does after it.
  bool versions = false;
};

// Walks every port of `plan` at the same time and returns one finding per port, in the
// plan's order. An exception on any port's thread (an interrupt thrown by its message
// loop), or a thread that cannot be started (std::system_error), stops the others between
// exchanges and is thrown again here once all have ended; with `error`, it is kept there
// instead and the findings so far are returned.
std::vector<PortFinding> WalkPortsAtOnce(LinkMaker& links, const WalkPlan& plan,
                                         std::exception_ptr* error = nullptr);

// The first finding in the walk's order with a reader; nullptr when none found one.
const PortFinding* FirstFound(const std::vector<PortFinding>& findings);
// The reader found when exactly one was, the only place worth storing; nullptr otherwise.
const PortFinding* OnlyFound(const std::vector<PortFinding>& findings);

// Tells `events` the steps of `finding` as they happened on its port.
void ReplaySteps(const PortFinding& finding, ReaderEvents& events);

}  // namespace kelta
