#include "reader/context.h"

#include "catalogue/catalogue.h"

namespace kelta {

std::string ReaderContext::Msg(int no) const {
  return Catalogue().Text(no, settings.LanguageIndex);
}

std::string ReaderContext::PortLabel(int number, const std::string& number_prefix) const {
  if (port_device) {
    if (std::string device = port_device(number); !device.empty()) return device;
  }
  return number_prefix + std::to_string(number);
}

}  // namespace kelta
