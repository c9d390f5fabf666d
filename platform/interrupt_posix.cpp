#include <signal.h>

#include <csignal>

#include "platform/interrupt.h"

namespace kelta {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int) { g_interrupted = 1; }

}  // namespace

void CatchInterrupts() {
  // Without SA_RESTART: a wait in progress returns, and the waiting loop looks at the flag.
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool Interrupted() { return g_interrupted != 0; }

}  // namespace kelta
