// The Win32 code pages, clock and tone.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include "platform/clock.h"
#include "platform/codec.h"
#include "platform/tone.h"

namespace kelta {
namespace {

struct Encoded {
  const char* utf8;
  TextEncoding encoding;
  const char* bytes;
};

// Byte values from the GB2312 and Big5 code tables.
TEST(Win32Codec, EncodesAndDecodesKnownCharacters) {
  const Encoded cases[] = {
      {"\xE4\xB8\xAD", TextEncoding::Gb2312, "\xD6\xD0"},                  // 中
      {"\xE4\xB8\xAD", TextEncoding::Big5, "\xA4\xA4"},                    // 中
      {"\xE8\xAF\xBB\xE5\x8D\xA1", TextEncoding::Gb2312, "\xB6\xC1\xBF\xA8"},  // 读卡
      {"\xE8\xAE\x80", TextEncoding::Big5, "\xC5\xAA"},                    // 讀
      {"TAG ID", TextEncoding::Gb2312, "TAG ID"},
      {"TAG ID", TextEncoding::Big5, "TAG ID"},
      {"TAG ID", TextEncoding::Ascii, "TAG ID"},
      {"", TextEncoding::Big5, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(EncodeText(c.utf8, c.encoding), std::optional<std::string>(c.bytes));
    EXPECT_EQ(DecodeText(c.bytes, c.encoding), c.utf8);
  }
}

TEST(Win32Codec, RefusesCharactersWithoutAByteFormInsteadOfSubstituting) {
  const Encoded cases[] = {
      {"\xE8\xAE\x80", TextEncoding::Gb2312, nullptr},  // 讀: traditional only
      {"\xE2\x82\xAC", TextEncoding::Gb2312, nullptr},  // €: 0x80 in code page 936 only
      {"\xE4\xB8\x82", TextEncoding::Gb2312, nullptr},  // 丂: GBK, not GB2312
      {"\xC3\xA9", TextEncoding::Big5, nullptr},        // é: would best-fit to e
      {"\xE2\x88\x9E", TextEncoding::Ascii, nullptr},   // ∞
      {"\xFF", TextEncoding::Big5, nullptr},            // not UTF-8 at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(EncodeText(c.utf8, c.encoding), std::nullopt);
  }
}

TEST(Win32Clock, SleepPassesAtLeastItsTimeOnTheTickCounter) {
  Clock& clock = SystemClock();
  const std::uint32_t start = clock.Ticks();
  clock.Sleep(20);
  EXPECT_GE(clock.Ticks() - start, 20u);
}

// Without a speaker, Beep fails or returns at once; the tone still lasts its time.
TEST(Win32Tone, LastsItsDurationWithOrWithoutASpeaker) {
  const DWORD start = timeGetTime();
  SystemTone().Beep(1000, 30);
  EXPECT_GE(timeGetTime() - start, 30u);
}

}  // namespace
}  // namespace kelta
