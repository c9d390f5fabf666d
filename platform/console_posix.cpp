#include "platform/console.h"

namespace kelta {

void UseUtf8Console() {}

void AttachParentConsole() {}

}  // namespace kelta
