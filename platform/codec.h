// Conversion between Unicode and the catalogue's encodings (GB2312, Big5).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelta {

enum class TextEncoding { Ascii, Gb2312, Big5 };

// Encodes UTF-8 text; nullopt when a character has no byte form in the encoding
// (no substitution characters are ever produced).
std::optional<std::string> EncodeText(std::string_view utf8, TextEncoding encoding);

// Decodes bytes of the encoding to UTF-8.
std::string DecodeText(std::string_view bytes, TextEncoding encoding);

}  // namespace kelta
