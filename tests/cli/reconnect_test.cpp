// read-tags --reconnect's wait for a lost reader, on the in-memory line and a virtual
// clock.
#include "cli/reconnect.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "reader/operations.h"
#include "tests/reader/reader_rig.h"

namespace kelta::test {
namespace {

TEST(Reconnector, TriesTheGonePortAfterOneSecondThenTwiceAsLongUpToThirty) {
  ReaderRig rig;
  rig.MakeReady(3, 5);  // and no port 3 on the line: the converter is out
  std::vector<std::string> events;
  std::FILE* err = std::tmpfile();
  constexpr std::size_t kOpens = 8;
  cli::Reconnector reconnector(
      rig.ctx, 5000, [] { return std::string("COM3"); }, err,
      [&](const std::string& line) { events.push_back(line); },
      [&] { return rig.line.Opens().size() >= kOpens; });

  const CommandResult result = reconnector.Run([&] { return ReadCard(rig.ctx); },
                                               [](const CommandResult&) { return false; });
  std::fclose(err);

  EXPECT_EQ(result.outcome, Outcome::Success);
  ASSERT_EQ(rig.line.Opens().size(), kOpens);
  std::vector<std::uint32_t> gaps;
  for (std::size_t i = 2; i < kOpens; ++i) {
    gaps.push_back(rig.line.Opens()[i].time_ms - rig.line.Opens()[i - 1].time_ms);
  }
  EXPECT_EQ(gaps, (std::vector<std::uint32_t>{2000, 4000, 8000, 16000, 30000, 30000}));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(events[0].find(R"("event":"lost")"), std::string::npos) << events[0];
  EXPECT_NE(events[0].find(R"("reason":"no-port")"), std::string::npos) << events[0];
}

}  // namespace
}  // namespace kelta::test
