// The reader model on its own, with frames written out byte for byte.
#include "sim/reader_model.h"

#include <gtest/gtest.h>

#include <string>

namespace kelta {
namespace {

std::string Frame(const std::string& text, const std::string& checksum) {
  return "\x09" + text + checksum + "\x0D";
}

// Feeds every byte; returns the reply to the last frame, "" for silence.
std::string Send(ReaderModel& reader, const std::string& bytes, std::uint32_t now = 0) {
  std::string out;
  for (char c : bytes) {
    std::optional<ReaderReply> reply = reader.Feed(static_cast<std::uint8_t>(c), now);
    if (reply) out = reply->bytes;
  }
  return out;
}

TEST(ReaderModel, AnswersInExactFrames) {
  ReaderModel reader;
  reader.Tags() = {{0x4D2, 1}};
  struct Case {
    std::string frame;
    std::string reply;
  };
  const Case cases[] = {
      {Frame("A00B", "0A"),
       "\x0A"
       "B015QM880001"
       "61\x0D"},  // 16 bytes
      {Frame("A00V", "1E"),
       "\x0A"
       "V010V2.10.04"
       "0C\x0D"},  // version at 6-13
      {Frame("A00F", "0E"),
       "\x0A"
       "F0101000004D2"
       "3E\x0D"},  // 17 bytes, tag at 7-14
  };
  for (const Case& c : cases) EXPECT_EQ(Send(reader, c.frame), c.reply) << c.frame;
}

TEST(ReaderModel, TagPollWithoutTagIsShortAndValid) {
  ReaderModel reader;
  EXPECT_EQ(Send(reader, Frame("A00F", "0E")),
            "\x0A"
            "F0100"
            "4D\x0D");
}

TEST(ReaderModel, IgnoresBadFramesButLogsThem) {
  ReaderModel reader;
  EXPECT_EQ(Send(reader, Frame("A00B", "0B")), "");  // wrong checksum
  EXPECT_EQ(Send(reader, Frame("A00V", "1e")), "");  // lower-case checksum
  EXPECT_EQ(Send(reader, "\x09\x0D"), "");           // no room for a checksum
  EXPECT_EQ(Send(reader, "A00B0A\x0D"), "");         // no start byte
  // Bytes before a start byte and a second start byte both reset the frame.
  EXPECT_NE(Send(reader,
                 "xx\x09"
                 "A0\x09"
                 "A00B0A\x0D"),
            "");
  // Noise from a wrong baud rate spoils the frame in progress.
  Send(reader,
       "\x09"
       "A00B");
  reader.FeedNoise();
  EXPECT_EQ(Send(reader, "0A\x0D"), "");

  ASSERT_EQ(reader.Frames().size(), 4u);
  EXPECT_EQ(reader.Frames()[0].text, "A00B");
  EXPECT_EQ(reader.Frames()[0].checksum, "0B");
  EXPECT_FALSE(reader.Frames()[0].checksum_ok);
  EXPECT_FALSE(reader.Frames()[1].checksum_ok);
  EXPECT_TRUE(reader.Frames()[3].checksum_ok);
  EXPECT_TRUE(reader.Frames()[3].answered);
  EXPECT_EQ(reader.Commands(), std::vector<std::string>{"A00B"});
}

TEST(ReaderModel, DropsAnOverlongFrame) {
  ReaderModel reader;
  EXPECT_EQ(Send(reader, "\x09" + std::string(300, 'A') + "\x0D"), "");
  EXPECT_TRUE(reader.Frames().empty());
  EXPECT_NE(Send(reader, Frame("A00B", "0A")), "");
}

TEST(ReaderModel, LowerCaseFaultAlwaysShowsInTheChecksum) {
  // The plain A00B checksum, 61, has no letter to put in lower case.
  ReaderModel reader;
  reader.Faults().lower_case_checksum = true;
  const std::string reply = Send(reader, Frame("A00B", "0A"));
  ASSERT_EQ(reply.size(), 16u);
  const std::string checksum = reply.substr(13, 2);
  EXPECT_NE(checksum.find_first_of("abcdef"), std::string::npos) << checksum;
  EXPECT_EQ(reply.substr(2, 11), "015QM880001");
}

}  // namespace
}  // namespace kelta
