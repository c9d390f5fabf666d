#include "reader/view.h"

#include <array>

namespace kelta {

const char* CtlName(Ctl ctl) {
  static constexpr std::array<const char*, kCtlCount> kNames = {
      "btnScan",     "pnSerial",    "lblID",     "sbID",        "btnID",    "lblBaudRate",
      "cmbBaudRate", "btnBaudRate", "pnVersion", "btnReadCard", "pnCardID", "pnID",
      "shCard",      "pnMsg",       "shComm",    "gbDefault",   "btnExit",  "btnEng",
      "btnGB",       "btnBIG5",     "pnKELTA",   "chkLock",     "btnReset", "btnFactory",
      "GroupBox1",   "pnAddr",      "sbAddr",    "btnAddr",     "pnFreq",   "sbFreq",
      "btnFreq",     "pnChannel",   "sbChannel", "btnChannel",  "pnRSSI",   "sbRSSI",
      "btnRSSI",     "cmbWiegand",  "cmbRS485",  "btnMode"};
  return kNames[static_cast<std::size_t>(ctl)];
}

}  // namespace kelta
