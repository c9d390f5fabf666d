#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/command_set.h"
#include "link/reader_link.h"

namespace kelta {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

TEST(CommandFrame, MatchesTheReaderExamples) {
  EXPECT_EQ(CommandFrame("A00B"), Bytes({0x09, 0x41, 0x30, 0x30, 0x42, 0x30, 0x41, 0x0D}));
  EXPECT_EQ(CommandFrame("A00V"), Bytes({0x09, 0x41, 0x30, 0x30, 0x56, 0x31, 0x45, 0x0D}));
}

TEST(FrameChecksum, SeedsWithTheStartByte) {
  EXPECT_EQ(FrameChecksum(nullptr, 0), 0x09);
  const std::uint8_t text[] = {'A', '0', '0', 'B'};
  EXPECT_EQ(FrameChecksum(text, 4), 0x0A);
  const std::uint8_t same[] = {0x09};
  EXPECT_EQ(FrameChecksum(same, 1), 0x00);
}

TEST(ReplyFrame, EmptyBodyIsTheShortestReply) {
  EXPECT_EQ(ReplyFrame(""), Bytes({0x0A, 0x30, 0x41, 0x0D}));
  // The checksum covers the start byte: 0x0A ^ 'A' = 0x4B.
  EXPECT_EQ(ReplyFrame("A"), Bytes({0x0A, 'A', '4', 'B', 0x0D}));
}

TEST(ByteToHex, UpperCaseHighNibbleFirst) {
  const std::vector<std::pair<std::uint8_t, std::string>> cases = {
      {0x00, "00"}, {0x0A, "0A"}, {0x5A, "5A"}, {0xAB, "AB"}, {0xF0, "F0"}, {0xFF, "FF"}};
  for (const auto& [byte, hex] : cases) EXPECT_EQ(ByteToHex(byte), hex) << int{byte};
}

TEST(HexToValue, ReadsEightUpperCaseDigits) {
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"12345678", 0x12345678},
      {"0000ABCD", 0xABCD},
      {"00abcdef", 0},     // lower case counts as 0
      {"0000abC1", 0xC1},  // ... each letter on its own
      {"FFFFFFFF", -1},
      {"80000000", INT32_MIN},
      {"7FFFFFFF", INT32_MAX},
      {"7F", 0x7F000000},  // short text: filled with 0 on the right
      {"", 0},
      {"123456789ABC", 0x12345678},  // after the eighth character nothing counts
      {"G1-2 Z.9", 0x01020009},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(HexToValue(text), value) << text;
}

TEST(CommandSet, EveryCommandText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {CmdReaderInfo(), "A00B"},
      {CmdVersion(), "A00V"},
      {CmdSetReaderId("12345678", "07"), "A00C1234567807"},
      {CmdSetBaudRate(RateCode(0)), "A00E0"},
      {CmdSetBaudRate(RateCode(kDefaultModeIndex)), "A00E5"},
      {CmdSetBaudRate(RateCode(10)), "A00EA"},
      {CmdSetBaudRate(RateCode(11)), "A00EB"},
      {CmdSetOutputs(Rs485Format::Bits24, WiegandFormat::Bits26), "A00L00"},
      {CmdSetOutputs(Rs485Format::Bits64, WiegandFormat::Bits42), "A00L32"},
      {CmdSetRssi(0x05), "A00O05"},
      {CmdSetRssi(0xAB), "A00OAB"},
      {CmdSetRadio(RadioItem::Address, 0x01), "A00W060101"},
      {CmdSetRadio(RadioItem::Frequency, 0xFE), "A00W0F01FE"},
      {CmdSetRadio(RadioItem::Channel, 0x1C), "A00W0B011C"},
      {CmdFactoryDefault(), "A00X5A"},
      {CmdReset(), "A00HR"},
      {CmdReadTag(), "A00F"},
  };
  for (const auto& [built, expected] : cases) EXPECT_EQ(built, expected);
}

TEST(CommandSet, RateCodeDigitIsTheTableIndexInHex) {
  const std::string digits = "0123456789AB";
  for (int i = 0; i < static_cast<int>(kBaudRateTable.size()); ++i) {
    EXPECT_EQ(RateCode(i).Digit(), digits[static_cast<std::size_t>(i)]);
  }
}

}  // namespace
}  // namespace kelta
