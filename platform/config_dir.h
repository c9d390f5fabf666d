// The program's own configuration folder on systems without a registry.
#pragma once

#include <string>

namespace kelta {

// ${XDG_CONFIG_HOME:-$HOME/.config}/KELTA/ReaderConfig, without a trailing slash.
// Not created here.
std::string ConfigDir();

}  // namespace kelta
