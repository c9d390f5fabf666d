#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <memory>

#include "platform/codec.h"

namespace kelta {
namespace {

// "GB2312" is ICU's EUC-CN table (ibm-1383), the plain GB 2312 set: a character that
// only GBK has is refused. "Big5" is the table of code page 950, so these bytes are the
// ones the Windows build gets from MultiByteToWideChar(950).
const char* ConverterName(TextEncoding encoding) {
  return encoding == TextEncoding::Gb2312 ? "GB2312" : "Big5";
}

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter OpenConverter(TextEncoding encoding, UErrorCode& status) {
  return Converter(ucnv_open(ConverterName(encoding), &status));
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  const auto size = static_cast<int32_t>(utf8.size());
  u_strFromUTF8(nullptr, 0, &length, utf8.data(), size, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
    return std::nullopt;
  }
  std::u16string text(static_cast<std::size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8(text.data(), length, nullptr, utf8.data(), size, &status);
  if (U_FAILURE(status)) {
    return std::nullopt;
  }
  return text;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  const auto size = static_cast<int32_t>(text.size());
  // Lone surrogates cannot come out of a converter; substitution here is only a safety net.
  u_strToUTF8WithSub(nullptr, 0, &length, text.data(), size, 0xFFFD, nullptr, &status);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8WithSub(utf8.data(), length, nullptr, text.data(), size, 0xFFFD, nullptr, &status);
  return U_SUCCESS(status) ? utf8 : std::string();
}

}  // namespace

std::optional<std::string> EncodeText(std::string_view utf8, TextEncoding encoding) {
  if (encoding == TextEncoding::Ascii) {
    for (const char c : utf8) {
      if (static_cast<unsigned char>(c) >= 0x80) {
        return std::nullopt;
      }
    }
    return std::string(utf8);
  }
  const std::optional<std::u16string> text = Utf8ToUtf16(utf8);
  if (!text) {
    return std::nullopt;
  }
  UErrorCode status = U_ZERO_ERROR;
  Converter converter = OpenConverter(encoding, status);
  if (U_FAILURE(status)) {
    return std::nullopt;
  }
  // A character without a round-trip mapping stops the conversion instead of becoming
  // a substitute byte or a one-way fallback.
  ucnv_setFallback(converter.get(), false);
  ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
  if (U_FAILURE(status)) {
    return std::nullopt;
  }
  const auto size = static_cast<int32_t>(text->size());
  const int32_t capacity =
      UCNV_GET_MAX_BYTES_FOR_STRING(size, ucnv_getMaxCharSize(converter.get()));
  std::string bytes(static_cast<std::size_t>(capacity), '\0');
  const int32_t length =
      ucnv_fromUChars(converter.get(), bytes.data(), capacity, text->data(), size, &status);
  if (U_FAILURE(status)) {
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(length));
  return bytes;
}

std::string DecodeText(std::string_view bytes, TextEncoding encoding) {
  if (encoding == TextEncoding::Ascii) {
    std::string utf8;
    utf8.reserve(bytes.size());
    for (const char c : bytes) {
      if (static_cast<unsigned char>(c) < 0x80) {
        utf8 += c;
      } else {
        utf8 += "\xEF\xBF\xBD";
      }
    }
    return utf8;
  }
  UErrorCode status = U_ZERO_ERROR;
  Converter converter = OpenConverter(encoding, status);
  if (U_FAILURE(status)) {
    return std::string();
  }
  const auto size = static_cast<int32_t>(bytes.size());
  // These tables give at most one UTF-16 unit per byte; the rest is a safety margin.
  std::u16string text(2 * bytes.size() + 1, u'\0');
  const int32_t length = ucnv_toUChars(
      converter.get(), text.data(), static_cast<int32_t>(text.size()), bytes.data(), size, &status);
  if (U_FAILURE(status)) {
    return std::string();
  }
  text.resize(static_cast<std::size_t>(length));
  return Utf16ToUtf8(text);
}

}  // namespace kelta
