#include "reader/context.h"

#include "catalogue/catalogue.h"

namespace kelta {

std::string ReaderContext::Msg(int no) const {
  return Catalogue().Text(no, settings.LanguageIndex);
}

}  // namespace kelta
