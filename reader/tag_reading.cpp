// Placeholder: filled in by its owner.
#include "reader/operations.h"
namespace kelta {
void ReadCard(ReaderContext&) {}
void CardTimerExpired(ReaderContext&) {}
}  // namespace kelta
