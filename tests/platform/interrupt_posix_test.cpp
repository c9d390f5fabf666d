// Ctrl+C and SIGTERM as the program catches them.
#include <gtest/gtest.h>
#include <signal.h>

#include "platform/interrupt.h"

namespace kelta {
namespace {

struct sigaction Disposition(int signal_number) {
  struct sigaction now {};
  sigaction(signal_number, nullptr, &now);
  return now;
}

// Writes blocked on a full pipe go on (SA_RESTART); the first interrupt sets the flag, and
// the second is left to the system, which ends the program.
TEST(Interrupts, RestartWritesAndLeaveTheSecondToTheSystem) {
  CatchInterrupts();
  for (const int s : {SIGINT, SIGTERM}) {
    EXPECT_NE(Disposition(s).sa_flags & SA_RESTART, 0) << s;
    EXPECT_NE(Disposition(s).sa_handler, SIG_DFL) << s;
  }
  EXPECT_FALSE(Interrupted());

  raise(SIGTERM);

  EXPECT_TRUE(Interrupted());
  for (const int s : {SIGINT, SIGTERM}) EXPECT_EQ(Disposition(s).sa_handler, SIG_DFL) << s;
  CatchInterrupts();
  EXPECT_FALSE(Interrupted());
}

}  // namespace
}  // namespace kelta
