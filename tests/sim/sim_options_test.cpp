// The command line of qm880-sim.
#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelta {
namespace {

TEST(SimOptions, TakesTheReaderAndItsFaults) {
  SimOptions o;
  ASSERT_EQ(ParseSimOptions({"--port",
                             "3",
                             "--mode=115200,n,8,1",
                             "--serial",
                             "SN004711",
                             "--id",
                             "07",
                             "--version",
                             "VER12345",
                             "--tag",
                             "4D2",
                             "--tag=00BC614E:5",
                             "--delay",
                             "150",
                             "--length-delta",
                             "-1",
                             "--every",
                             "2",
                             "--only",
                             "BF",
                             "--lower-checksum",
                             "--stream",
                             "--vanish-after",
                             "9000",
                             "--burst",
                             "1100",
                             "--line-speed",
                             "--quiet"},
                            o),
            "");
  EXPECT_EQ(o.port, 3);
  EXPECT_EQ(o.settings.mode_index, 10);
  EXPECT_EQ(o.settings.serial, "SN004711");
  EXPECT_EQ(o.settings.id, "07");
  EXPECT_EQ(o.settings.version, "VER12345");
  ASSERT_EQ(o.tags.size(), 2u);
  EXPECT_EQ(o.tags[0].id, 0x4D2u);
  EXPECT_EQ(o.tags[0].every, 1);
  EXPECT_EQ(o.tags[1].id, 0xBC614Eu);
  EXPECT_EQ(o.tags[1].every, 5);
  EXPECT_EQ(o.faults.delay_ms, 150u);
  EXPECT_EQ(o.faults.length_delta, -1);
  EXPECT_EQ(o.faults.answer_every, 2);
  EXPECT_EQ(o.faults.only, "BF");
  EXPECT_TRUE(o.faults.lower_case_checksum && o.faults.endless_stream && o.quiet);
  EXPECT_TRUE(o.line_speed);
  EXPECT_EQ(o.faults.vanish_at_ms, 9000u);
  EXPECT_EQ(o.faults.burst, 1100);
}

TEST(SimOptions, RefusesWhatItCannotUse) {
  const std::vector<std::vector<std::string>> refused = {
      {},                                      // neither port nor link
      {"--port", "3", "--link", "/tmp/com3"},  // both
      {"--port", "0"},
      {"--port", "3", "--mode", "12"},
      {"--port", "3", "--mode", "19200,o,8,1"},
      {"--port", "3", "--serial", "SHORT"},
      {"--port", "3", "--id", "7"},
      {"--port", "3", "--id", "AB"},
      {"--port", "3", "--tag", "123456789"},
      {"--port", "3", "--tag", "4D2:0"},
      {"--port", "3", "--tag", "XYZ"},
      {"--port", "3", "--every", "0"},
      {"--port", "3", "--delay"},
      {"--port", "3", "--stream=yes"},
      {"--port", "3", "--frobnicate"},
      {"--port", "3", "stray"},
      {"--port", "+3"},
      {"--port", "3", "--id", "-1"},
      {"--port", "3", "--id", "+1"},
      {"--port", "3", "--serial", "QM88000\r"},  // breaks the reply's frame
      {"--port", "3", "--serial", "QM88000\n"},
      {"--port", "3", "--version", "V2.10.\xC3\xA9"},
      {"--port", "3", "--vanish-after", "3000000000"},  // beyond 2^31 ms
      {"--port", "3", "--delay", "2147483648"},
      {"--port", "3", "--tag", "+4D2"},
      {"--port", "3", "--only", "bv"},
      {"--port", "3", "--refuse", "l"},
      {"--port", "3", "--next", "QM88010"},
      {"--port", "3", "--next", "QM880102:7"},
      {"--port", "3", "--next", "QM880102::12"},
      {"--port", "3", "--next", "QM880102:::L:X"},
      {"--port", "3", "--unplug-after", "0"},
  };
  for (const auto& args : refused) {
    SimOptions o;
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_NE(ParseSimOptions(args, o), "") << joined;
  }
  SimOptions o;
  EXPECT_EQ(ParseSimOptions({"--help"}, o), "");
  EXPECT_TRUE(o.help);
  EXPECT_EQ(ParseSimOptions({"--port", "3", "--delay", "2147483647", "--length-delta", "+64"}, o),
            "");
  // Readers one after another: empty fields keep the defaults.
  EXPECT_EQ(ParseSimOptions({"--next", "QM880102:08:9600,n,8,1:L", "--next=QM880103", "--gap",
                             "300", "--unplug-after", "2"},
                            o),
            "");
  ASSERT_EQ(o.next.size(), 2u);
  EXPECT_EQ(o.next[0].settings.id + o.next[0].refuse, "08L");
  EXPECT_EQ(o.next[0].settings.mode_index, 2);
  EXPECT_EQ(o.next[1].settings.serial + o.next[1].settings.id + o.next[1].refuse, "QM88010301");
  EXPECT_EQ(o.gap_ms + static_cast<unsigned>(*o.unplug_after), 302u);
}

}  // namespace
}  // namespace kelta
