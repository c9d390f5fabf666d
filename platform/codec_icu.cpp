#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/uvernum.h>

#include <memory>
#include <utility>

#include "platform/codec.h"
#include "platform/shared_library.h"

namespace kelta {
namespace {

// ICU names its functions after its version (ucnv_open is ucnv_open_72); the headers'
// names expand to those.
#define KELTA_ICU_STRING(x) #x
#define KELTA_ICU_NAME(x) KELTA_ICU_STRING(x)
#define KELTA_ICU_LIBRARY(major) "libicuuc.so." KELTA_ICU_STRING(major)

// The functions used here, from ICU loaded at the first conversion.
struct Icu {
  decltype(&ucnv_open) open = nullptr;
  decltype(&ucnv_close) close = nullptr;
  decltype(&ucnv_reset) reset = nullptr;
  decltype(&ucnv_setFallback) set_fallback = nullptr;
  decltype(&ucnv_setFromUCallBack) set_from_callback = nullptr;
  decltype(&ucnv_getMaxCharSize) max_char_size = nullptr;
  decltype(&ucnv_fromUChars) from_uchars = nullptr;
  decltype(&ucnv_toUChars) to_uchars = nullptr;
  decltype(&u_strFromUTF8) from_utf8 = nullptr;
  decltype(&u_strToUTF8WithSub) to_utf8 = nullptr;
  decltype(&UCNV_FROM_U_CALLBACK_STOP) callback_stop = nullptr;
};

// Null when ICU cannot be loaded: every conversion then fails.
const Icu* LoadedIcu() {
  static const SharedLibrary library(KELTA_ICU_LIBRARY(U_ICU_VERSION_MAJOR_NUM));
  static const Icu* const icu = []() -> const Icu* {
    static Icu f;
    const bool found = library.Find(KELTA_ICU_NAME(ucnv_open), f.open) &&
                       library.Find(KELTA_ICU_NAME(ucnv_close), f.close) &&
                       library.Find(KELTA_ICU_NAME(ucnv_reset), f.reset) &&
                       library.Find(KELTA_ICU_NAME(ucnv_setFallback), f.set_fallback) &&
                       library.Find(KELTA_ICU_NAME(ucnv_setFromUCallBack), f.set_from_callback) &&
                       library.Find(KELTA_ICU_NAME(ucnv_getMaxCharSize), f.max_char_size) &&
                       library.Find(KELTA_ICU_NAME(ucnv_fromUChars), f.from_uchars) &&
                       library.Find(KELTA_ICU_NAME(ucnv_toUChars), f.to_uchars) &&
                       library.Find(KELTA_ICU_NAME(u_strFromUTF8), f.from_utf8) &&
                       library.Find(KELTA_ICU_NAME(u_strToUTF8WithSub), f.to_utf8) &&
                       library.Find(KELTA_ICU_NAME(UCNV_FROM_U_CALLBACK_STOP), f.callback_stop);
    return found ? &f : nullptr;
  }();
  return icu;
}

// "GB2312" is ICU's EUC-CN table (ibm-1383), the plain GB 2312 set: a character that
// only GBK has is refused. "Big5" is the table of code page 950, so these bytes are the
// ones the Windows build gets from MultiByteToWideChar(950).
const char* ConverterName(TextEncoding encoding) {
  return encoding == TextEncoding::Gb2312 ? "GB2312" : "Big5";
}

struct ConverterCloser {
  void operator()(UConverter* converter) const { LoadedIcu()->close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

enum class Direction { Encode, Decode };

// The converter of `encoding` for `direction`, reset, or null (with `status` saying why).
// Each thread keeps one per encoding and direction, opened at its first use: opening one
// looks its table up under a lock and sets it up, many times the work of converting a
// short text, and the catalogue converts over a hundred at start-up.
UConverter* ReadyConverter(const Icu& icu, TextEncoding encoding, Direction direction,
                           UErrorCode& status) {
  thread_local Converter converters[2][2];
  Converter& converter =
      converters[encoding == TextEncoding::Gb2312 ? 0 : 1][direction == Direction::Encode ? 0 : 1];
  if (converter) {
    icu.reset(converter.get());
    return converter.get();
  }
  Converter opened(icu.open(ConverterName(encoding), &status));
  if (U_FAILURE(status)) return nullptr;
  if (direction == Direction::Encode) {
    // A character without a round-trip mapping stops the conversion instead of becoming
    // a substitute byte or a one-way fallback.
    icu.set_fallback(opened.get(), false);
    icu.set_from_callback(opened.get(), icu.callback_stop, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) return nullptr;
  }
  converter = std::move(opened);
  return converter.get();
}

std::optional<std::u16string> Utf8ToUtf16(const Icu& icu, std::string_view utf8) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  const auto size = static_cast<int32_t>(utf8.size());
  icu.from_utf8(nullptr, 0, &length, utf8.data(), size, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
    return std::nullopt;
  }
  std::u16string text(static_cast<std::size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  icu.from_utf8(text.data(), length, nullptr, utf8.data(), size, &status);
  if (U_FAILURE(status)) {
    return std::nullopt;
  }
  return text;
}

std::string Utf16ToUtf8(const Icu& icu, const std::u16string& text) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  const auto size = static_cast<int32_t>(text.size());
  // Lone surrogates cannot come out of a converter; substitution here is only a safety net.
  icu.to_utf8(nullptr, 0, &length, text.data(), size, 0xFFFD, nullptr, &status);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  status = U_ZERO_ERROR;
  icu.to_utf8(utf8.data(), length, nullptr, text.data(), size, 0xFFFD, nullptr, &status);
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
  const Icu* icu = LoadedIcu();
  if (icu == nullptr) {
    return std::nullopt;
  }
  const std::optional<std::u16string> text = Utf8ToUtf16(*icu, utf8);
  if (!text) {
    return std::nullopt;
  }
  UErrorCode status = U_ZERO_ERROR;
  UConverter* converter = ReadyConverter(*icu, encoding, Direction::Encode, status);
  if (converter == nullptr) {
    return std::nullopt;
  }
  const auto size = static_cast<int32_t>(text->size());
  const int32_t capacity = UCNV_GET_MAX_BYTES_FOR_STRING(size, icu->max_char_size(converter));
  std::string bytes(static_cast<std::size_t>(capacity), '\0');
  const int32_t length =
      icu->from_uchars(converter, bytes.data(), capacity, text->data(), size, &status);
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
  const Icu* icu = LoadedIcu();
  if (icu == nullptr) {
    return std::string();
  }
  UErrorCode status = U_ZERO_ERROR;
  UConverter* converter = ReadyConverter(*icu, encoding, Direction::Decode, status);
  if (converter == nullptr) {
    return std::string();
  }
  const auto size = static_cast<int32_t>(bytes.size());
  // These tables give at most one UTF-16 unit per byte; the rest is a safety margin.
  std::u16string text(2 * bytes.size() + 1, u'\0');
  const int32_t length = icu->to_uchars(converter, text.data(), static_cast<int32_t>(text.size()),
                                        bytes.data(), size, &status);
  if (U_FAILURE(status)) {
    return std::string();
  }
  text.resize(static_cast<std::size_t>(length));
  return Utf16ToUtf8(*icu, text);
}

}  // namespace kelta
