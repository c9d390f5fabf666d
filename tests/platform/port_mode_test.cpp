#include "platform/port_mode.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/command_set.h"

namespace kelta {
namespace {

// Something that differs from every field a test case sets.
constexpr LineSettings kCurrent{2400, Parity::Odd, 7, StopBits::Two};

TEST(ApplyModeString, AppliesEveryField) {
  struct Case {
    std::string mode;
    LineSettings expected;
  };
  const std::vector<Case> cases = {
      {"19200,e,8,1", {19200, Parity::Even, 8, StopBits::One}},
      {"4800,n,8,1", {4800, Parity::None, 8, StopBits::One}},
      {"115200,E,8,2", {115200, Parity::Even, 8, StopBits::Two}},
      {"9600,N,7,1", {9600, Parity::None, 7, StopBits::One}},
      {"1200,o,6,1", {1200, Parity::Odd, 6, StopBits::One}},
      {"300,m,5,1.5", {300, Parity::Mark, 5, StopBits::OneAndHalf}},
      {"600,S,8,1", {600, Parity::Space, 8, StopBits::One}},
      {"14400,n,8,1", {14400, Parity::None, 8, StopBits::One}},  // valid here; a port may refuse it
      {"96,n,8,1", {9600, Parity::None, 8, StopBits::One}},      // the old two-digit forms
      {"19,e,8,1", {19200, Parity::Even, 8, StopBits::One}},
      {"11,n,8,1", {110, Parity::None, 8, StopBits::One}},
  };
  for (const auto& c : cases) {
    const auto result = ApplyModeString(c.mode, kCurrent);
    ASSERT_TRUE(result.has_value()) << c.mode;
    EXPECT_EQ(*result, c.expected) << c.mode;
  }
}

TEST(ApplyModeString, RejectsTheWholeStringOnAnyFault) {
  const std::vector<std::string> bad = {
      "",
      "19200",
      "19200,e,8",     // fields may not be left out
      "19200,e,8,1,",  // nor added
      "19200,e,8,1,x",
      ",e,8,1",
      "0,n,8,1",
      "-9600,n,8,1",
      "+9600,n,8,1",
      "9600.0,n,8,1",
      "99999999999,n,8,1",  // beyond 32 bits
      "baud=9600,n,8,1",
      "9600,x,8,1",
      "9600,ev,8,1",
      "9600,,8,1",
      "9600,n,4,1",
      "9600,n,9,1",
      "9600,n,08,1",
      "9600,n,8,0",
      "9600,n,8,3",
      "9600,n,8,1.0",
      "9600,n,8,1.",
      " 9600,n,8,1",
      "9600, n,8,1",
      "9600,n,8,1 ",
      std::string("9600,n,8,1\0", 11),
  };
  for (const auto& mode : bad) EXPECT_EQ(ApplyModeString(mode, kCurrent), std::nullopt) << mode;
}

TEST(ApplyModeString, EveryModeOfTheBaudRateTable) {
  const unsigned bauds[] = {4800, 9600, 19200, 38400, 57600, 115200};
  for (std::size_t i = 0; i < kBaudRateTable.size(); ++i) {
    const auto result = ApplyModeString(kBaudRateTable[i], kCurrent);
    ASSERT_TRUE(result.has_value()) << kBaudRateTable[i];
    EXPECT_EQ(*result, (LineSettings{bauds[i / 2], i % 2 == 0 ? Parity::None : Parity::Even, 8,
                                     StopBits::One}));
  }
}

}  // namespace
}  // namespace kelta
