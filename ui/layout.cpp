#include "ui/layout.h"

#include <cassert>

#include "link/command_set.h"

namespace kelta {
namespace {

using enum Ctl;
using K = Kind;

std::vector<std::string_view> BaudRateEntries() {
  return {kBaudRateTable.begin(), kBaudRateTable.end()};
}

// GroupBox1 starts at Left 680, beyond the 659-pixel client area: it and its nine
// controls exist, take their texts and keyboard places, and are never seen.
const std::vector<ControlRow>& Table() {
  // clang-format off
  static const std::vector<ControlRow> kTable = {
      // name, kind, parent, left, top, width, height, tab, layout text, ...
      {lblID, K::Label, kWindow, 8, 133, 49, 22, kNoTab, "ID:"},
      {lblBaudRate, K::Label, kWindow, 8, 213, 153, 22, kNoTab, "BaudRate:"},
      {shCard, K::RoundRect, kWindow, 10, 435, 29, 20, kNoTab, ""},
      {btnScan, K::Button, kWindow, 8, 78, 345, 43, 0, "Scan Reader", Picture::None, true},
      {pnSerial, K::ValuePanel, kWindow, 8, 48, 169, 28, 6, "S/N : ________"},
      {sbID, K::ScrollBar, kWindow, 104, 131, 249, 23, 1, "", Picture::None, false,
       {.min = 1, .max = 99, .position = 1}},
      {btnID, K::Button, kWindow, 8, 158, 345, 43, 2, "Set Reader ID"},
      {cmbBaudRate, K::List, kWindow, 168, 208, 161, 28, 3, "", Picture::None, false, {},
       BaudRateEntries()},
      {btnBaudRate, K::Button, kWindow, 8, 246, 345, 43, 4, "Set Reader Baud Rate"},
      {pnVersion, K::ValuePanel, kWindow, 184, 48, 169, 28, 7, "VER : __.__-__"},
      {btnReadCard, K::Button, kWindow, 8, 464, 345, 33, 5, "Read TAG"},
      {pnCardID, K::ValuePanel, kWindow, 44, 432, 311, 28, 9, "TAG ID"},
      {pnID, K::ValuePanel, kWindow, 64, 130, 33, 25, 10, "__"},
      {pnMsg, K::MessageLine, kWindow, 8, 4, 345, 40, 11, "Start Scan Reader!"},
      {shComm, K::Circle, pnMsg, 310, 8, 23, 20, kNoTab, ""},
      {gbDefault, K::GroupBox, kWindow, 360, 4, 289, 421, 12, "Factory Setting"},
      {btnReset, K::Button, gbDefault, 8, 344, 273, 65, 0, "Reader Reset"},
      {pnRSSI, K::ValuePanel, gbDefault, 8, 26, 41, 25, 1, "0"},
      {sbRSSI, K::ScrollBar, gbDefault, 48, 27, 233, 23, 2, "", Picture::None, false,
       {.min = 0, .max = 250, .position = 0}},
      {btnRSSI, K::Button, gbDefault, 8, 54, 273, 51, 3, "Set RSSI Level"},
      {btnExit, K::Button, kWindow, 360, 464, 289, 33, 8, "Exit", Picture::StandardClose},
      {btnEng, K::LanguageButton, kWindow, 359, 432, 98, 24, 13, "English"},
      {btnGB, K::LanguageButton, kWindow, 464, 432, 89, 24, 14, "", Picture::Simplified},
      {btnBIG5, K::LanguageButton, kWindow, 560, 432, 89, 24, 15, "", Picture::Traditional},
      {pnKELTA, K::Footer, kWindow, 8, 501, 641, 21, 16, "KELTA Technology Corp."},
      {chkLock, K::CheckBox, kWindow, 336, 212, 17, 17, 17, "chkLock"},
      {btnFactory, K::Button, kWindow, 8, 376, 345, 49, 18, "Factory Default"},
      {GroupBox1, K::GroupBox, kWindow, 680, 16, 321, 417, 19, "GroupBox1"},
      {pnAddr, K::ValuePanel, GroupBox1, 8, 26, 41, 25, 0, "049"},
      {sbAddr, K::ScrollBar, GroupBox1, 48, 27, 233, 23, 1, "", Picture::None, false,
       {.min = 0, .max = 255, .position = 49}},
      {btnAddr, K::Button, GroupBox1, 8, 54, 273, 43, 2, "Set Address"},
      {pnFreq, K::ValuePanel, GroupBox1, 8, 106, 41, 25, 3, "059"},
      {sbFreq, K::ScrollBar, GroupBox1, 48, 107, 233, 23, 4, "", Picture::None, false,
       {.min = 0, .max = 255, .position = 59}},
      {btnFreq, K::Button, GroupBox1, 8, 134, 273, 43, 5, "Set Freq"},
      {pnChannel, K::ValuePanel, GroupBox1, 8, 186, 41, 25, 6, "000"},
      {sbChannel, K::ScrollBar, GroupBox1, 48, 187, 233, 23, 7, "", Picture::None, false,
       {.min = 0, .max = 255, .position = 0}},
      {btnChannel, K::Button, GroupBox1, 8, 214, 273, 43, 8, "Set Channel"},
      {cmbWiegand, K::List, kWindow, 8, 296, 169, 28, 20, "", Picture::None, false, {},
       {"Wiegand 26 bits", "Wiegand 34 bits", "Wiegand 42 bits"}, 0},
      {cmbRS485, K::List, kWindow, 184, 296, 169, 28, 21, "", Picture::None, false, {},
       {"RS485 24 bits", "RS485 32 bits", "RS485 40 bits", "RS485 64 bits"}, 1},
      {btnMode, K::Button, kWindow, 8, 326, 345, 43, 22, "Set Reader Mode"},
  };
  // clang-format on
  return kTable;
}

}  // namespace

std::span<const ControlRow> LayoutTable() { return Table(); }

const ControlRow& LayoutRow(Ctl ctl) {
  for (const ControlRow& row : Table()) {
    if (row.name == ctl) return row;
  }
  assert(false && "every control has a row");
  return Table().front();
}

}  // namespace kelta
