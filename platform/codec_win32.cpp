// The catalogue's encodings through the Windows code pages: 936 (GBK, of which GB2312
// is the part with both bytes in 0xA1..0xFE) and 950 (Big5).
#include "platform/codec.h"

#include <windows.h>

#include <string>

namespace kelta {
namespace {

constexpr UINT kCodePageGb = 936;
constexpr UINT kCodePageBig5 = 950;

UINT CodePageOf(TextEncoding encoding) {
  return encoding == TextEncoding::Big5 ? kCodePageBig5 : kCodePageGb;
}

std::optional<std::wstring> Utf8ToWide(std::string_view utf8) {
  if (utf8.empty()) return std::wstring();
  const int size = static_cast<int>(utf8.size());
  const int wide_size =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (wide_size <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), wide_size);
  return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int utf8_size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (utf8_size <= 0) return {};
  std::string utf8(static_cast<std::size_t>(utf8_size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), utf8_size, nullptr, nullptr);
  return utf8;
}

// Code page 936 also holds the GBK extension and 0x80 for the euro sign; a GB2312 text
// has only ASCII bytes and pairs of bytes in 0xA1..0xFE.
bool IsGb2312(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) continue;
    if (i + 1 >= bytes.size()) return false;
    const auto trail = static_cast<unsigned char>(bytes[++i]);
    if (lead < 0xA1 || lead > 0xFE || trail < 0xA1 || trail > 0xFE) return false;
  }
  return true;
}

bool IsAscii(std::string_view bytes) {
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> EncodeText(std::string_view utf8, TextEncoding encoding) {
  if (encoding == TextEncoding::Ascii) {
    if (!IsAscii(utf8)) return std::nullopt;
    return std::string(utf8);
  }
  const auto wide = Utf8ToWide(utf8);
  if (!wide) return std::nullopt;
  if (wide->empty()) return std::string();
  const UINT code_page = CodePageOf(encoding);
  const int size = static_cast<int>(wide->size());
  // Without WC_NO_BEST_FIT_CHARS the conversion would quietly map a missing character
  // to a look-alike; with it, any substitution shows in used_default.
  BOOL used_default = FALSE;
  const int out_size = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide->data(), size,
                                           nullptr, 0, nullptr, &used_default);
  if (out_size <= 0 || used_default) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(out_size), '\0');
  used_default = FALSE;
  WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide->data(), size, bytes.data(), out_size,
                      nullptr, &used_default);
  if (used_default) return std::nullopt;
  if (encoding == TextEncoding::Gb2312 && !IsGb2312(bytes)) return std::nullopt;
  return bytes;
}

std::string DecodeText(std::string_view bytes, TextEncoding encoding) {
  if (bytes.empty()) return {};
  if (encoding == TextEncoding::Ascii) {
    std::string text;
    for (const char c : bytes) {
      if (static_cast<unsigned char>(c) < 0x80) {
        text += c;
      } else {
        text += "\xEF\xBF\xBD";  // U+FFFD
      }
    }
    return text;
  }
  const UINT code_page = CodePageOf(encoding);
  const int size = static_cast<int>(bytes.size());
  const int wide_size = MultiByteToWideChar(code_page, 0, bytes.data(), size, nullptr, 0);
  if (wide_size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  MultiByteToWideChar(code_page, 0, bytes.data(), size, wide.data(), wide_size);
  return WideToUtf8(wide);
}

}  // namespace kelta
