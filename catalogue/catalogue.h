// The message catalogue: 62 display texts in English (ASCII), Simplified Chinese
// (GB2312) and Traditional Chinese (Big5).
#pragma once

#include <string>
#include <string_view>

namespace kelta {

inline constexpr int kMessageCount = 62;
inline constexpr int kLanguageCount = 3;

class MessageTable {
 public:
  // Builds every entry's bytes in its column's encoding.
  MessageTable();
  // The entry's bytes in the encoding of column `language` (0 English, 1 GB2312, 2 Big5).
  const std::string& Entry(int message, int language) const;
  // The entry as UTF-8, decoded from its column's encoding, for a Unicode window.
  std::string Text(int message, int language) const;

 private:
  std::string entries_[kMessageCount][kLanguageCount];
};

// Decodes bytes of column `language` to UTF-8.
std::string DisplayText(const std::string& entry, int language);

// The entry as the program writes it (UTF-8), before it is encoded for its column.
std::string_view SourceText(int message, int language);

// The program's catalogue, built on first use (start-up builds it before anything else).
const MessageTable& Catalogue();

}  // namespace kelta
