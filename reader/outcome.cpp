#include "reader/outcome.h"

namespace kelta {

std::string ReplyDisplay(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (b >> 6));
      text += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return text;
}

std::string ReplyBytes(std::string_view utf8) {
  std::string bytes;
  bytes.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      bytes += static_cast<char>(b);
      continue;
    }
    // Lead byte of a two-byte sequence for U+0080..U+00FF, followed by its trail byte.
    if ((b == 0xC2 || b == 0xC3) && i + 1 < utf8.size() &&
        (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
      const auto trail = static_cast<unsigned char>(utf8[i + 1]);
      bytes += static_cast<char>(((b & 0x03) << 6) | (trail & 0x3F));
      ++i;
      continue;
    }
    if ((b & 0xC0) == 0x80) continue;  // the rest of a longer character
    bytes += '?';
  }
  return bytes;
}

void FinishOperation(ReaderContext& ctx, Outcome outcome, int ok_message, int error_message) {
  const bool ok = outcome == Outcome::Success;
  ctx.view.SetFill(Ctl::shComm, ok ? Fill::Yellow : Fill::Red);
  const int message = outcome == Outcome::NotReady ? kMsgStartScan
                      : ok                         ? ok_message
                                                   : error_message;
  ctx.view.SetText(Ctl::pnMsg, ctx.Msg(message));
  ctx.tone.Beep(ok ? kHighToneHz : kLowToneHz, kOutcomeToneMs);
  ctx.view.SetWindowEnabled(true);
}

}  // namespace kelta
