// What the reader operations need of the window: its controls by name, the busy
// state, the cursor and the tag timer. The window implements it; tests record it.
#pragma once

#include <string>

namespace kelta {

// The window's controls, by their names in the layout.
enum class Ctl {
  btnScan,
  pnSerial,
  lblID,
  sbID,
  btnID,
  lblBaudRate,
  cmbBaudRate,
  btnBaudRate,
  pnVersion,
  btnReadCard,
  pnCardID,
  pnID,
  shCard,
  pnMsg,
  shComm,
  gbDefault,
  btnExit,
  btnEng,
  btnGB,
  btnBIG5,
  pnKELTA,
  chkLock,
  btnReset,
  btnFactory,
  GroupBox1,
  pnAddr,
  sbAddr,
  btnAddr,
  pnFreq,
  sbFreq,
  btnFreq,
  pnChannel,
  sbChannel,
  btnChannel,
  pnRSSI,
  sbRSSI,
  btnRSSI,
  cmbWiegand,
  cmbRS485,
  btnMode
};
inline constexpr int kCtlCount = static_cast<int>(Ctl::btnMode) + 1;

// The control's name in the layout, also its object name in the window.
const char* CtlName(Ctl ctl);

enum class Fill { Red, Yellow, White };

class ReaderView {
 public:
  virtual ~ReaderView() = default;
  // Texts are UTF-8.
  virtual void SetText(Ctl ctl, const std::string& text) = 0;
  virtual std::string Text(Ctl ctl) const = 0;
  // Scroll bars. Setting a new position runs the bar's change handler (which rewrites
  // its display); setting the position it has changes nothing. Kept within range.
  virtual int Position(Ctl ctl) const = 0;
  virtual void SetPosition(Ctl ctl, int position) = 0;
  // Lists: the selected index, -1 for none.
  virtual int Selection(Ctl ctl) const = 0;
  virtual void SetSelection(Ctl ctl, int index) = 0;
  virtual bool Checked(Ctl ctl) const = 0;
  // Lamps.
  virtual void SetFill(Ctl ctl, Fill fill) = 0;
  virtual void SetEnabled(Ctl ctl, bool enabled) = 0;
  virtual void SetWindowEnabled(bool enabled) = 0;
  // The busy state: on starts the blinking lamp and disables the window; off enables it
  // and stops the blinking.
  virtual void SetBusy(bool on) = 0;
  virtual void SetHourglass(bool on) = 0;
  // Enables tmrCard; a timer that already runs is not restarted.
  virtual void StartCardTimer() = 0;
  virtual void StopCardTimer() = 0;
};

// The hourglass for as long as it lives: the cursor cannot be left stuck.
class HourglassCursor {
 public:
  explicit HourglassCursor(ReaderView& view) : view_(view) { view_.SetHourglass(true); }
  ~HourglassCursor() { view_.SetHourglass(false); }
  HourglassCursor(const HourglassCursor&) = delete;
  HourglassCursor& operator=(const HourglassCursor&) = delete;

 private:
  ReaderView& view_;
};

}  // namespace kelta
