// The program's one window, frmModule: its controls, the language, the busy state with
// the blinking lamp and the scroll-bar displays. The buttons hand over to the reader
// operations; no reader protocol lives here.
#pragma once

#include <QColor>
#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <array>

#include "link/reader_link.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "platform/tone.h"
#include "reader/context.h"
#include "reader/view.h"
#include "settings/settings.h"

class QComboBox;
class QScrollBar;
class QTimer;

namespace kelta {

struct WindowFonts;

// The program's title, the text of its task-bar entry in every language.
inline constexpr char kApplicationTitle[] = "KELTA QM880-4R Reader Config";

// Gives the application its title. Not the display name: Qt would append that to every
// caption ("... V1.70-01 — KELTA ..."), and the caption is the catalogue's title row alone.
void InitApplication();

// What the window runs on; the program passes the system's, tests their fakes.
struct WindowServices {
  SerialDevice& device;
  Clock& clock;
  Tone& tone;
  SettingsStore& store;
};

// A lamp: a figure filled with the lamp's colour inside a 1-pixel black outline.
class Lamp : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QColor fill READ fill)

 public:
  enum class Figure { Circle, RoundRect };
  Lamp(Figure figure, QColor fill, QWidget* parent);
  QColor fill() const { return fill_; }
  void SetFill(QColor fill);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Figure figure_;
  QColor fill_;
};

// A panel: centred text on its own ground, framed by a 1-pixel border, an optional gap
// and a 1-pixel bevel.
class Panel : public QLabel {
  Q_OBJECT

 public:
  enum class Bevel { Raised, Lowered };
  Panel(Bevel bevel, int gap, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Bevel bevel_;
  int gap_;
};

class TfrmModule : public QWidget, public ReaderView, public EventPump {
  Q_OBJECT

 public:
  explicit TfrmModule(const WindowServices& services, QWidget* parent = nullptr);
  ~TfrmModule() override;

  // ReaderView
  void SetText(Ctl ctl, const std::string& text) override;
  std::string Text(Ctl ctl) const override;
  int Position(Ctl ctl) const override;
  void SetPosition(Ctl ctl, int position) override;
  int Selection(Ctl ctl) const override;
  void SetSelection(Ctl ctl, int index) override;
  bool Checked(Ctl ctl) const override;
  void SetFill(Ctl ctl, Fill fill) override;
  void SetEnabled(Ctl ctl, bool enabled) override;
  void SetWindowEnabled(bool enabled) override;
  void SetBusy(bool on) override;
  void SetHourglass(bool on) override;
  void StartCardTimer() override;
  void StopCardTimer() override;

  // EventPump: one pass of the message loop, for the waits inside the handlers.
  void ProcessMessages() override;

  ReaderContext& Context() { return ctx_; }
  const Settings& CurrentSettings() const { return settings_; }
  QWidget* Control(Ctl ctl) const { return controls_[static_cast<std::size_t>(ctl)]; }

  // The window's own events.
  void FormCreate();
  void FormShow();

  // Handlers, named after their control and event.
  void tmrBusyTimer();
  void sbIDChange();
  void sbRSSIChange();
  void sbAddrChange();
  void sbFreqChange();
  void sbChannelChange();
  void btnEngClick();
  void btnGBClick();
  void btnBIG5Click();
  void btnExitClick();
  void btnScanClick();
  void btnIDClick();
  void btnBaudRateClick();
  void btnModeClick();
  void btnFactoryClick();
  void btnResetClick();
  void btnRSSIClick();
  void btnAddrClick();
  void btnFreqClick();
  void btnChannelClick();
  void btnReadCardClick();
  void tmrCardTimer();

  QTimer* tmrBusy = nullptr;
  QTimer* tmrCard = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildLayout(const WindowFonts& fonts);
  void ConnectHandlers();
  void SetLanguage(int index, const char* flag);
  void EnableWindow(bool enabled);
  void NameControls();
  void DescribeLamps();
  void ShowPosition(Ctl scroll_bar, Ctl panel, const char* format);
  QString Msg(int no) const;
  QScrollBar* ScrollBar(Ctl ctl) const;
  QComboBox* List(Ctl ctl) const;

  SettingsStore& store_;
  SerialPort port_;
  ReaderLink link_;
  Settings settings_;
  ReaderContext ctx_;
  std::array<QWidget*, kCtlCount> controls_{};
  bool shown_ = false;
  bool exit_requested_ = false;
  bool hourglass_ = false;
  // The communication lamp has shown an action's state (until then it says "ready").
  bool comm_used_ = false;
  // The control that had the focus when the window was disabled.
  QPointer<QWidget> refocus_;
};

}  // namespace kelta
