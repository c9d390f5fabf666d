// The port mode parser takes any text: it either applies it whole or changes nothing.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/port_mode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view mode(reinterpret_cast<const char*>(data), size);
  const kelta::LineSettings current{};
  const auto applied = kelta::ApplyModeString(mode, current);
  if (applied) {
    if (applied->data_bits < 5 || applied->data_bits > 8 || applied->baud == 0) std::abort();
  }
  return 0;
}
