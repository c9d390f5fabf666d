#include "catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codec.h"

namespace kelta {
namespace {

constexpr int kEnglish = 0;
constexpr int kSimplified = 1;
constexpr int kTraditional = 2;

// Counts the characters of a UTF-8 text that are not ASCII.
int WideCharacters(std::string_view utf8) {
  int count = 0;
  for (const char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) == 0xC0) ++count;
  }
  return count;
}

// GB2312 (EUC-CN): ASCII bytes, or two bytes both in 0xA1..0xFE.
// Big5: ASCII bytes, or a lead byte 0xA1..0xF9 and a trail byte 0x40..0x7E or 0xA1..0xFE.
bool WellFormed(const std::string& bytes, int language) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) continue;
    if (i + 1 >= bytes.size()) return false;
    const auto trail = static_cast<unsigned char>(bytes[++i]);
    if (language == kSimplified) {
      if (lead < 0xA1 || lead > 0xF7 || trail < 0xA1 || trail > 0xFE) return false;
    } else {
      const bool trail_ok = (trail >= 0x40 && trail <= 0x7E) || (trail >= 0xA1 && trail <= 0xFE);
      if (lead < 0xA1 || lead > 0xF9 || !trail_ok) return false;
    }
  }
  return true;
}

TEST(CatalogueTest, EnglishColumnIsTheAsciiText) {
  for (int message = 0; message < kMessageCount; ++message) {
    const std::string& entry = Catalogue().Entry(message, kEnglish);
    EXPECT_EQ(entry, SourceText(message, kEnglish)) << message;
    EXPECT_EQ(WideCharacters(entry), 0) << message;
    EXPECT_FALSE(entry.empty()) << message;
  }
}

TEST(CatalogueTest, ChineseColumnsAreEncodedWholeAndDecodeBack) {
  for (const int language : {kSimplified, kTraditional}) {
    for (int message = 0; message < kMessageCount; ++message) {
      const std::string_view source = SourceText(message, language);
      const std::string& entry = Catalogue().Entry(message, language);
      SCOPED_TRACE("message " + std::to_string(message) + " language " + std::to_string(language));
      // Two bytes for each Chinese character and one for each ASCII one: no character
      // was dropped, substituted or left in UTF-8.
      const int wide = WideCharacters(source);
      const std::size_t ascii = source.size() - 3 * static_cast<std::size_t>(wide);
      EXPECT_EQ(entry.size(), ascii + 2 * static_cast<std::size_t>(wide));
      EXPECT_TRUE(WellFormed(entry, language));
      EXPECT_EQ(Catalogue().Text(message, language), source);
    }
  }
}

struct KnownBytes {
  int message;
  int language;
  std::string bytes;
};

// Byte values from the GB 2312 and Big5 code charts, not from the codec under test.
TEST(CatalogueTest, EntriesHoldTheCodeChartBytes) {
  const KnownBytes cases[] = {
      {17, kSimplified, "\xB4\xED\xCE\xF3"},   // 错误
      {17, kTraditional, "\xBF\xF9\xBB\x7E"},  // 錯誤
      {25, kSimplified,
       "\xB6\xC1\xBF\xA8\xBB\xFA\xC3\xBB\xD3\xD0\xC1\xAC\xCF\xDF"},  // 读卡机没有连线
      {3, kSimplified, "\xC8\xA1\xCF\xFB\xB6\xC1TAG"},               // 取消读TAG
      {3, kTraditional, "\xA8\xFA\xAE\xF8\xC5\xAATAG"},              // 取消讀TAG
      {59, kTraditional,
       "\xB3\x5D\xA9\x77\xC5\xAA\xA5\x64\xBE\xF7\xBC\xD2\xA6\xA1"},  // 設定讀卡機模式
      {5, kTraditional, "\xB3\x71\xB0\x54\xB3\x74\xAB\xD7"},         // 通訊速度
      {15, kSimplified, "TAG ID"},
      {15, kTraditional, "TAG ID"},
  };
  for (const KnownBytes& known : cases) {
    EXPECT_EQ(Catalogue().Entry(known.message, known.language), known.bytes)
        << "message " << known.message << " language " << known.language;
  }
}

TEST(CatalogueTest, KeepsTheExactWording) {
  const std::pair<int, const char*> cases[] = {
      {1, "KELTA QM880-4R Reader Config V1.70-01"},
      {6, "Set Reader Baud Rate"},
      {13, "S/N Set"},
      {15, "TAG ID"},
      {23, "Get Reader Info Ok. (COM"},
      {24, "Get Reader Info Error. (COM"},
      {25, "Reader Not Find"},
      {32, "Set Reader BaudRate"},
      {58, "TReader Reset Error"},
  };
  for (const auto& [message, text] : cases) {
    EXPECT_EQ(Catalogue().Entry(message, kEnglish), text) << message;
  }
  EXPECT_EQ(Catalogue().Text(1, kSimplified), "KELTA QM880-4R 读卡机工具程式 V1.70-01");
  EXPECT_EQ(Catalogue().Text(1, kTraditional), "KELTA QM880-4R 讀卡機工具程式 V1.70-01");
  EXPECT_EQ(Catalogue().Text(23, kSimplified), "读取读卡机资讯完成. (串口");
  EXPECT_EQ(Catalogue().Text(24, kTraditional), "讀取讀卡機資訊錯誤. (串口");
}

TEST(CatalogueTest, TagIdIsTheSameInEveryLanguage) {
  for (int language = 0; language < kLanguageCount; ++language) {
    EXPECT_EQ(Catalogue().Entry(15, language), "TAG ID") << language;
  }
}

TEST(CatalogueTest, FooterHasExactlyThreeBlanksBeforeTheAddress) {
  const std::string address = "www.kelta.example";
  const char* const company[] = {"KELTA Technology Corp.", "KELTA股份有限公司",
                                 "KELTA股份有限公司"};
  for (int language = 0; language < kLanguageCount; ++language) {
    const std::string text = Catalogue().Text(0, language);
    EXPECT_EQ(text, std::string(company[language]) + "   " + address) << language;
    const std::string& entry = Catalogue().Entry(0, language);
    ASSERT_GT(entry.size(), address.size() + 4);
    EXPECT_EQ(entry.substr(entry.size() - address.size() - 3), "   " + address) << language;
    EXPECT_NE(entry[entry.size() - address.size() - 4], ' ') << language;
  }
}

TEST(CatalogueTest, ModeEntriesRepeatInBothPlaces) {
  for (int offset = 0; offset < 3; ++offset) {
    for (int language = 0; language < kLanguageCount; ++language) {
      EXPECT_EQ(Catalogue().Entry(35 + offset, language), Catalogue().Entry(59 + offset, language));
    }
  }
  EXPECT_EQ(Catalogue().Entry(61, kEnglish), "Set Reader Mode Error");
}

TEST(CatalogueTest, SwitchingLanguageGivesTheOtherColumn) {
  EXPECT_EQ(Catalogue().Text(14, kEnglish), "Exit");
  EXPECT_EQ(Catalogue().Text(14, kSimplified), "结束");
  EXPECT_EQ(Catalogue().Text(14, kTraditional), "結束");
  EXPECT_EQ(&Catalogue(), &Catalogue());
}

TEST(CodecTest, DecodesCodeChartBytes) {
  EXPECT_EQ(DisplayText("\xB6\xC1\xBF\xA8", kSimplified), "读卡");
  EXPECT_EQ(DisplayText("\xC5\xAA\xA5\x64", kTraditional), "讀卡");
  EXPECT_EQ(DisplayText("TAG ID", kEnglish), "TAG ID");
}

TEST(CodecTest, RefusesCharactersTheEncodingLacks) {
  // 讀 is in GBK but not in GB 2312; 读 is not in Big5; é is not ASCII.
  EXPECT_FALSE(EncodeText("讀", TextEncoding::Gb2312).has_value());
  EXPECT_FALSE(EncodeText("读", TextEncoding::Big5).has_value());
  EXPECT_FALSE(EncodeText("caf\xC3\xA9", TextEncoding::Ascii).has_value());
  EXPECT_EQ(EncodeText("读", TextEncoding::Gb2312), std::string("\xB6\xC1"));
  // A conversion stopped half-way leaves nothing behind for the next one.
  EXPECT_FALSE(EncodeText("读讀", TextEncoding::Gb2312).has_value());
  EXPECT_EQ(EncodeText("读", TextEncoding::Gb2312), std::string("\xB6\xC1"));
  EXPECT_EQ(EncodeText("", TextEncoding::Big5), std::string());
}

}  // namespace
}  // namespace kelta
