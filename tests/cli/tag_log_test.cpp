// read-tags' log: the summary counts each tag where it was first heard, and the reads are
// kept only for the one document of --json.
#include "cli/tag_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kelta::cli {
namespace {

struct LogCase {
  const char* name;
  bool unique;
  bool lines;  // false: --json
  long expected_lines;
  std::size_t kept_reads;
};
void PrintTo(const LogCase& c, std::ostream* os) { *os << c.name; }

class Logs : public testing::TestWithParam<LogCase> {};

TEST_P(Logs, CountEveryTagAndKeepReadsOnlyForJson) {
  const LogCase& c = GetParam();
  std::FILE* out = std::tmpfile();
  TagLog log(TagFormat::Csv, c.unique, c.lines, out);
  const WallTime start{};
  int second = 0;
  for (const char* tag : {"000004D2", "0000162E", "000004D2", "", "000004D2"}) {
    TagPoll poll;
    poll.replied = true;
    poll.tag = *tag != '\0';
    poll.chars = tag;
    EXPECT_TRUE(log.Poll(poll, start + std::chrono::seconds(++second)));
  }
  std::fclose(out);

  EXPECT_EQ(log.Lines(), c.expected_lines);
  const nlohmann::json doc = log.Json();
  EXPECT_EQ(doc["polls"], 5);
  EXPECT_EQ(doc["tags"], 4);
  EXPECT_EQ(doc["reads"].size(), c.kept_reads);
  ASSERT_EQ(doc["heard"].size(), 2u);
  EXPECT_EQ(doc["heard"][0]["tag"], "000004D2");
  EXPECT_EQ(doc["heard"][0]["count"], 3);
  EXPECT_EQ(doc["heard"][0]["last"], IsoTime(start + std::chrono::seconds(5)));
  EXPECT_EQ(doc["heard"][1]["count"], 1);
}

INSTANTIATE_TEST_SUITE_P(
    TagLog, Logs,
    testing::Values(LogCase{"Lines", false, true, 4, 0}, LogCase{"UniqueLines", true, true, 2, 0},
                    LogCase{"Json", false, false, 4, 4}, LogCase{"UniqueJson", true, false, 2, 2}),
    [](const testing::TestParamInfo<LogCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace kelta::cli
