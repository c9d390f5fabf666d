#include "reader/port_walk.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "link/command_set.h"
#include "reader/outcome.h"

namespace kelta {

namespace {

constexpr int kVersionTries = 3;

// What the threads of one walk share: the stop, the lowest place in the walk's order
// where a reader answered, and the first exception.
struct WalkState {
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> first_found;
  std::mutex mutex;
  std::exception_ptr error;

  explicit WalkState(std::size_t count) : first_found(count) {}
};

class PortWalk {
 public:
  PortWalk(OwnLink& own, const WalkPlan& plan, std::size_t place, WalkState& state,
           PortFinding& finding)
      : link_(own.Link()),
        clock_(own.LinkClock()),
        plan_(plan),
        place_(place),
        state_(state),
        finding_(finding) {}

  void Run() {
    Walk();
    link_.ClosePort();
    if (finding_.found && plan_.versions) FetchVersion();
  }

 private:
  bool Stopped() const {
    return state_.stop.load() || (plan_.first_only && state_.first_found.load() < place_);
  }

  // The modes in order until one answers, two tries each; a port that does not open is
  // passed over with all its modes.
  void Walk() {
    const int port = finding_.port;
    for (const int mode : plan_.modes) {
      if (Stopped()) {
        finding_.cut_short = true;
        return;
      }
      const std::string& text = kBaudRateTable[static_cast<std::size_t>(mode)];
      const bool opened = link_.OpenPort(port, text);
      finding_.steps.push_back({false, text, opened, link_.Port().LastOpenError(), {}, 0});
      if (!opened) return;
      for (int i = 0; i < kWalkTries; ++i) {
        if (i > 0 && Stopped()) {
          finding_.cut_short = true;
          return;
        }
        clock_.Sleep(kTryPauseMs);
        const bool found =
            link_.SendCommand(CmdReaderInfo()) && link_.ReplyLength() == kReaderInfoReplyLength;
        finding_.steps.push_back(
            {true, text, found, {}, link_.LastReplyWait(), link_.ReplyLength()});
        // A lost port answers no further try, nor any other mode.
        if (!found && link_.LastReplyWait().lost) break;
        if (found) {
          finding_.found = true;
          finding_.mode_index = mode;
          finding_.serial = link_.ReplyChars(6, 13);
          finding_.id = link_.ReplyChars(3, 4);
          Found();
          return;
        }
      }
      link_.ClosePort();
      if (link_.Port().Lost()) {
        finding_.lost = true;
        return;
      }
    }
  }

  void Found() {
    std::size_t seen = state_.first_found.load();
    while (place_ < seen && !state_.first_found.compare_exchange_weak(seen, place_)) {
    }
  }

  // As discovery asks after finding the reader: the port opened afresh, "A00V" up to three
  // times until a reply comes.
  void FetchVersion() {
    const std::string& mode = kBaudRateTable[static_cast<std::size_t>(finding_.mode_index)];
    if (!link_.OpenPort(finding_.port, mode)) return;
    for (int i = 0; i < kVersionTries && !finding_.ready; ++i) {
      clock_.Sleep(kTryPauseMs);
      if (!link_.SendCommand(CmdVersion())) {
        if (link_.LastReplyWait().lost) break;
        continue;
      }
      clock_.Sleep(kTryPauseMs);
      finding_.version = link_.ReplyChars(6, 13);
      finding_.ready = true;
    }
    link_.ClosePort();
    finding_.lost = link_.Port().Lost();
  }

  ReaderLink& link_;
  Clock& clock_;
  const WalkPlan& plan_;
  std::size_t place_;
  WalkState& state_;
  PortFinding& finding_;
};

}  // namespace

std::vector<PortFinding> WalkPortsAtOnce(LinkMaker& links, const WalkPlan& plan,
                                         std::exception_ptr* error) {
  const std::size_t count = plan.ports.size();
  std::vector<PortFinding> findings(count);
  std::vector<std::unique_ptr<OwnLink>> own(count);
  for (std::size_t i = 0; i < count; ++i) {
    findings[i].port = plan.ports[i];
    own[i] = links.MakeLink(plan.ports[i]);
  }
  WalkState state(count);
  std::vector<std::thread> threads;
  threads.reserve(count);
  const auto fail = [&state](std::exception_ptr e) {
    const std::lock_guard lock(state.mutex);
    if (!state.error) state.error = std::move(e);
    state.stop = true;
  };
  for (std::size_t i = 0; i < count; ++i) {
    try {
      threads.emplace_back([&, i] {
        try {
          PortWalk(*own[i], plan, i, state, findings[i]).Run();
        } catch (...) {
          own[i]->Link().ClosePort();
          findings[i].cut_short = true;
          fail(std::current_exception());
        }
      });
    } catch (const std::system_error&) {
      // No thread to be had (the process limit): the walks started are stopped between
      // exchanges and give their ports back as they end; the others never began.
      fail(std::current_exception());
      for (std::size_t j = i; j < count; ++j) findings[j].cut_short = true;
      break;
    }
  }
  for (std::thread& t : threads) t.join();
  if (state.error && error == nullptr) std::rethrow_exception(state.error);
  if (error != nullptr) *error = state.error;
  return findings;
}

const PortFinding* FirstFound(const std::vector<PortFinding>& findings) {
  for (const PortFinding& f : findings) {
    if (f.found) return &f;
  }
  return nullptr;
}

const PortFinding* OnlyFound(const std::vector<PortFinding>& findings) {
  const PortFinding* only = nullptr;
  for (const PortFinding& f : findings) {
    if (!f.found) continue;
    if (only != nullptr) return nullptr;
    only = &f;
  }
  return only;
}

void ReplaySteps(const PortFinding& finding, ReaderEvents& events) {
  for (const ScanStep& s : finding.steps) {
    if (s.probe) {
      events.ScanProbed(finding.port, s.mode, s.ok, s.wait, s.reply_length);
    } else {
      events.ScanOpened(finding.port, s.mode, s.ok, s.error);
    }
  }
}

}  // namespace kelta
