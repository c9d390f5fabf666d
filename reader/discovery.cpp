// Placeholder: filled in by its owner.
#include "reader/operations.h"
namespace kelta {
void ScanReader(ReaderContext&) {}
}  // namespace kelta
