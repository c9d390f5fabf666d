// Placeholder: filled in by its owner.
#include "reader/operations.h"
namespace kelta {
void SetReaderId(ReaderContext&) {}
void SetReaderBaudRate(ReaderContext&) {}
void SetReaderMode(ReaderContext&) {}
void SetRssiLevel(ReaderContext&) {}
void SetAddress(ReaderContext&) {}
void SetFrequency(ReaderContext&) {}
void SetChannel(ReaderContext&) {}
void FactoryDefault(ReaderContext&) {}
void ResetReader(ReaderContext&) {}
}  // namespace kelta
