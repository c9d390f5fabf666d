// Appending to a file so that what was written survives a crash or a power cut: a record
// written row by row, each row on the disk before the next one is made.
#pragma once

#include <string>

namespace kelta {

// Appends `bytes` to `path` (created if missing) in one write and waits until they are on
// the disk. Returns an error text, empty on success.
std::string AppendDurably(const std::string& path, const std::string& bytes);

}  // namespace kelta
