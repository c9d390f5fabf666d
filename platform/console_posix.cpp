#include "platform/console.h"

namespace kelta {

void UseUtf8Console() {}

}  // namespace kelta
