#include <signal.h>

#include <atomic>
#include <csignal>

#include "platform/interrupt.h"

namespace kelta {

namespace {

// Set by the handler, read by the threads of a walk: a lock-free atomic is safe for both.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void Handle(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  // A write blocked on a full pipe goes on after the flag is set instead of failing with
  // EINTR; the waits of the program (poll, sleep) return all the same and look at the flag.
  action.sa_flags = SA_RESTART;
  sigaction(signal_number, &action, nullptr);
}

void OnSignal(int) {
  g_interrupted.store(true);
  // The next one ends the program at once, for a user whose program does not end.
  Handle(SIGINT, SIG_DFL);
  Handle(SIGTERM, SIG_DFL);
}

}  // namespace

void CatchInterrupts() {
  g_interrupted.store(false);
  Handle(SIGINT, OnSignal);
  Handle(SIGTERM, OnSignal);
  signal(SIGPIPE, SIG_IGN);
}

bool Interrupted() { return g_interrupted.load(); }

}  // namespace kelta
