#include "ui/main_window.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "platform/window_frame.h"
#include "reader/operations.h"
#include "ui/accessibility.h"
#include "ui/layout.h"
#include "ui/pictures.h"
#include "ui/window_fonts.h"
#include "ui/window_style.h"

namespace kelta {
namespace {

constexpr int kBusyIntervalMs = 200;
constexpr int kCardIntervalMs = 1000;

const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kWhite(255, 255, 255);
const QColor kNavy(0, 0, 128);
// The ground of the message line: the classic active title bar. Qt's palette has no
// title-bar role, so the colour is fixed.
const QColor kActiveCaption(10, 36, 106);

// A setting that could not be stored: the message line keeps the catalogue's texts, so
// the reason goes to standard error, where whoever started the program can see it.
void ReportNotStored(const std::string& error) {
  if (!error.empty()) {
    std::fprintf(stderr, "qm880-config: not stored: %s\n", error.c_str());
    std::fflush(stderr);
  }
}

QColor FillColour(Fill fill) {
  switch (fill) {
    case Fill::Red:
      return kRed;
    case Fill::Yellow:
      return kYellow;
    case Fill::White:
      return kWhite;
  }
  return kWhite;
}

void SetColours(QWidget* widget, QPalette::ColorRole ground, QColor back, QPalette::ColorRole ink,
                QColor text) {
  QPalette palette = widget->palette();
  palette.setColor(ground, back);
  palette.setColor(ink, text);
  widget->setPalette(palette);
}

class ListEntryDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(kListEntryHeight);
    return size;
  }
};

// A drop-down list in the value colours. Its open list (a window of its own with a view)
// is made and given its look when it first opens: making it costs more than all the rest
// of the list before the window's first paint, which does not show it.
class List : public QComboBox {
 public:
  explicit List(QWidget* parent) : QComboBox(parent) {
    const QColor highlight = QApplication::palette().color(QPalette::Highlight);
    QPalette colours = palette();
    for (QPalette::ColorRole ground : {QPalette::Button, QPalette::Base, QPalette::Window}) {
      colours.setColor(ground, highlight);
    }
    for (QPalette::ColorRole ink : {QPalette::ButtonText, QPalette::Text, QPalette::WindowText}) {
      colours.setColor(ink, kYellow);
    }
    setPalette(colours);
  }

  void showPopup() override {
    if (!open_list_made_) {
      open_list_made_ = true;
      setItemDelegate(new ListEntryDelegate(this));
      // The entry under the pointer in the open list: inverted colours.
      QPalette colours = palette();
      colours.setColor(QPalette::Highlight, kYellow);
      colours.setColor(QPalette::HighlightedText, palette().color(QPalette::Base));
      view()->setPalette(colours);
    }
    QComboBox::showPopup();
  }

 private:
  bool open_list_made_ = false;
};

QIcon PictureIcon(Picture picture, const QStyle* style) {
  switch (picture) {
    case Picture::None:
      return {};
    case Picture::StandardClose:
      return StandardClosePicture(style);
    case Picture::Simplified:
      return TwoScalePicture(QStringLiteral(":/kelta/simplified"));
    case Picture::Traditional:
      return TwoScalePicture(QStringLiteral(":/kelta/traditional"));
  }
  return {};
}

Panel* MakePanel(Panel::Bevel bevel, int gap, QColor ground, QColor ink, QWidget* parent) {
  auto* panel = new Panel(bevel, gap, parent);
  SetColours(panel, QPalette::Window, ground, QPalette::WindowText, ink);
  return panel;
}

// One control of the layout, with the look its kind gives it. A control whose font is the
// window's inherits it rather than being given an equal one.
QWidget* MakeControl(const ControlRow& row, QWidget* parent, const WindowFonts& fonts) {
  const QColor highlight = QApplication::palette().color(QPalette::Highlight);
  const QString text = QString::fromUtf8(row.text.data(), static_cast<qsizetype>(row.text.size()));
  switch (row.kind) {
    case Kind::Label: {
      auto* label = new QLabel(parent);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      label->setFont(fonts.label);
      label->setText(text);
      return label;
    }
    case Kind::ValuePanel: {
      Panel* panel = MakePanel(Panel::Bevel::Raised, 0, highlight, kYellow, parent);
      panel->setText(text);
      return panel;
    }
    case Kind::MessageLine: {
      Panel* panel = MakePanel(Panel::Bevel::Lowered, 1, kActiveCaption, kWhite, parent);
      panel->setText(text);
      return panel;
    }
    case Kind::Footer: {
      Panel* panel = MakePanel(Panel::Bevel::Raised, 0, kNavy, kWhite, parent);
      panel->setFont(fonts.footer);
      panel->setText(text);
      return panel;
    }
    case Kind::Button:
    case Kind::LanguageButton: {
      auto* button = new QPushButton(text, parent);
      // Enter presses the button that has the focus, otherwise the default button.
      button->setAutoDefault(true);
      button->setDefault(row.default_button);
      if (row.kind == Kind::LanguageButton) {
        button->setFont(fonts.label);
        // Red while it can be pressed; disabled, it greys out as its pictured neighbours do.
        QPalette palette = button->palette();
        palette.setColor(QPalette::Active, QPalette::ButtonText, kRed);
        palette.setColor(QPalette::Inactive, QPalette::ButtonText, kRed);
        button->setPalette(palette);
      }
      if (row.picture != Picture::None) {
        button->setIcon(PictureIcon(row.picture, button->style()));
        if (row.picture != Picture::StandardClose) button->setIconSize(QSize(34, 16));
      }
      return button;
    }
    case Kind::ScrollBar: {
      auto* bar = new QScrollBar(Qt::Horizontal, parent);
      bar->setRange(row.scroll.min, row.scroll.max);
      bar->setSingleStep(row.scroll.small_step);
      bar->setPageStep(row.scroll.large_step);
      bar->setValue(row.scroll.position);
      // In the keyboard order; Left lowers the position and Right raises it (Qt's scroll
      // bars invert their keys by default).
      bar->setFocusPolicy(Qt::StrongFocus);
      bar->setInvertedControls(false);
      return bar;
    }
    case Kind::List: {
      auto* list = new List(parent);
      for (std::string_view entry : row.entries) {
        list->addItem(QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size())));
      }
      list->setCurrentIndex(row.selected);
      return list;
    }
    case Kind::CheckBox: {
      // The box alone: its caption would not fit the 17-pixel width anyway.
      // Its accessible name, what it locks, comes with the window's texts.
      return new QCheckBox(parent);
    }
    case Kind::GroupBox:
      return new QGroupBox(text, parent);
    case Kind::Circle:
      return new Lamp(Lamp::Figure::Circle, kWhite, parent);
    case Kind::RoundRect:
      return new Lamp(Lamp::Figure::RoundRect, kWhite, parent);
  }
  return nullptr;
}

}  // namespace

void InitApplication() {
  QCoreApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  // One look on every system: Fusion draws the lists' and panels' colours from the
  // palette, where the Windows style paints the ground of a drop-down list white and
  // draws its own scroll bars.
  QApplication::setStyle(new WindowStyle);
  // Links the running program to its desktop entry (name and icon in task bars).
  QGuiApplication::setDesktopFileName(QStringLiteral("kelta-qm880-config"));
  CacheStylePictures();
  InstallAccessibleInterfaces();
}

// ---------------------------------------------------------------------------------------

Lamp::Lamp(Figure figure, QColor fill, QWidget* parent)
    : QWidget(parent), figure_(figure), fill_(fill) {}

void Lamp::SetFill(QColor fill) {
  if (fill == fill_) return;
  fill_ = fill;
  update();
}

void Lamp::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(fill_);
  const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  if (figure_ == Figure::Circle) {
    // A circle, not an ellipse: the shorter side is its diameter, centred.
    const qreal d = std::min(box.width(), box.height());
    painter.drawEllipse(QRectF(box.center().x() - d / 2, box.center().y() - d / 2, d, d));
  } else {
    const qreal radius = std::min(box.width(), box.height()) / 4;
    painter.drawRoundedRect(box, radius, radius);
  }
}

Panel::Panel(Bevel bevel, int gap, QWidget* parent) : QLabel(parent), bevel_(bevel), gap_(gap) {
  setTextFormat(Qt::PlainText);
  setAlignment(Qt::AlignCenter);
  setAutoFillBackground(true);
  const int inset = 2 + gap_;
  setContentsMargins(inset, inset, inset, inset);
}

void Panel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  // The one-pixel lines as filled one-pixel rectangles: the same pixels as lines drawn with
  // a pen, for a small part of the work.
  QPainter painter(this);
  auto frame = [&painter](const QRect& box, QColor top_left, QColor bottom_right) {
    painter.fillRect(box.left(), box.top(), box.width(), 1, top_left);
    painter.fillRect(box.left(), box.top(), 1, box.height(), top_left);
    // Drawn last, these take the corners they share with the top and the left.
    painter.fillRect(box.left(), box.bottom(), box.width(), 1, bottom_right);
    painter.fillRect(box.right(), box.top(), 1, box.height(), bottom_right);
  };
  const QColor shadow = palette().color(QPalette::Shadow);
  frame(rect(), shadow, shadow);
  QColor light = palette().color(QPalette::Light);
  QColor dark = palette().color(QPalette::Dark);
  if (bevel_ == Bevel::Lowered) std::swap(light, dark);
  // The bevel inside the border and the gap ends a pixel short of the border's gap at the
  // right and the bottom.
  frame(rect().adjusted(1 + gap_, 1 + gap_, -2 - gap_, -2 - gap_), light, dark);
}

// ---------------------------------------------------------------------------------------

TfrmModule::TfrmModule(const WindowServices& services, QWidget* parent)
    : QWidget(parent),
      store_(services.store),
      port_(services.device, services.clock),
      link_(port_, services.clock, *this),
      ctx_{link_, services.clock, *this, services.tone, *this, settings_, services.store} {
  setObjectName(QStringLiteral("frmModule"));
  // System menu and minimise: no maximise and no close command in the title bar (on
  // Windows FormCreate also takes Close out of the system menu); closeEvent refuses what a
  // window manager may still send.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kClientWidth, kClientHeight);
  setWindowTitle(QString::fromUtf8(kLayoutCaption));
  const WindowFonts fonts = MakeWindowFonts();
  setFont(fonts.window);
  BuildLayout(fonts);
  if (const QScreen* desktop = screen()) {
    move(desktop->availableGeometry().center() - rect().center());
  }
  ConnectHandlers();
  FormCreate();
}

TfrmModule::~TfrmModule() { SetHourglass(false); }

void TfrmModule::BuildLayout(const WindowFonts& fonts) {
  for (const ControlRow& row : LayoutTable()) {
    QWidget* parent = row.parent ? Control(*row.parent) : this;
    QWidget* control = MakeControl(row, parent, fonts);
    control->setObjectName(QString::fromLatin1(CtlName(row.name)));
    control->setGeometry(row.left, row.top, row.width, row.height);
    controls_[static_cast<std::size_t>(row.name)] = control;
  }
  static_cast<Lamp*>(Control(Ctl::shComm))->SetFill(kRed);
  static_cast<QCheckBox*>(Control(Ctl::chkLock))->setChecked(true);
  // The labels are the controls' labels for a screen reader too (a relation).
  static_cast<QLabel*>(Control(Ctl::lblID))->setBuddy(Control(Ctl::sbID));
  static_cast<QLabel*>(Control(Ctl::lblBaudRate))->setBuddy(Control(Ctl::cmbBaudRate));

  // Keyboard order: the window's controls by their place; a group box's controls
  // follow at the group box's place. A control beyond the client area takes no focus:
  // the keyboard would otherwise reach what the operator cannot see.
  const QRect client(0, 0, kClientWidth, kClientHeight);
  for (QWidget* control : controls_) {
    if (!client.contains(QRect(control->mapTo(this, QPoint(0, 0)), control->size()))) {
      control->setFocusPolicy(Qt::NoFocus);
    }
  }
  auto by_tab = [](const std::optional<Ctl>& parent) {
    std::vector<const ControlRow*> rows;
    for (const ControlRow& row : LayoutTable()) {
      if (row.parent == parent && row.tab != kNoTab) rows.push_back(&row);
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const ControlRow* a, const ControlRow* b) { return a->tab < b->tab; });
    return rows;
  };
  std::vector<QWidget*> chain;
  for (const ControlRow* row : by_tab(kWindow)) {
    QWidget* control = Control(row->name);
    if (control->focusPolicy() != Qt::NoFocus) chain.push_back(control);
    if (row->kind == Kind::GroupBox) {
      for (const ControlRow* inner : by_tab(row->name)) {
        QWidget* child = Control(inner->name);
        if (child->focusPolicy() != Qt::NoFocus) chain.push_back(child);
      }
    }
  }
  for (std::size_t i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
  chain.front()->setFocus();

  tmrBusy = new QTimer(this);
  tmrBusy->setObjectName(QStringLiteral("tmrBusy"));
  tmrBusy->setInterval(kBusyIntervalMs);
  // The blink phase lives with the timer and is never reset.
  tmrBusy->setProperty("Tag", 0);
  tmrCard = new QTimer(this);
  tmrCard->setObjectName(QStringLiteral("tmrCard"));
  tmrCard->setInterval(kCardIntervalMs);
}

void TfrmModule::ConnectHandlers() {
  auto click = [this](Ctl ctl, void (TfrmModule::*handler)()) {
    connect(static_cast<QAbstractButton*>(Control(ctl)), &QAbstractButton::clicked, this, handler);
  };
  click(Ctl::btnEng, &TfrmModule::btnEngClick);
  click(Ctl::btnGB, &TfrmModule::btnGBClick);
  click(Ctl::btnBIG5, &TfrmModule::btnBIG5Click);
  click(Ctl::btnExit, &TfrmModule::btnExitClick);
  click(Ctl::btnScan, &TfrmModule::btnScanClick);
  click(Ctl::btnID, &TfrmModule::btnIDClick);
  click(Ctl::btnBaudRate, &TfrmModule::btnBaudRateClick);
  click(Ctl::btnMode, &TfrmModule::btnModeClick);
  click(Ctl::btnFactory, &TfrmModule::btnFactoryClick);
  click(Ctl::btnReset, &TfrmModule::btnResetClick);
  click(Ctl::btnRSSI, &TfrmModule::btnRSSIClick);
  click(Ctl::btnAddr, &TfrmModule::btnAddrClick);
  click(Ctl::btnFreq, &TfrmModule::btnFreqClick);
  click(Ctl::btnChannel, &TfrmModule::btnChannelClick);
  click(Ctl::btnReadCard, &TfrmModule::btnReadCardClick);

  auto change = [this](Ctl ctl, void (TfrmModule::*handler)()) {
    connect(ScrollBar(ctl), &QScrollBar::valueChanged, this, handler);
  };
  change(Ctl::sbID, &TfrmModule::sbIDChange);
  change(Ctl::sbRSSI, &TfrmModule::sbRSSIChange);
  change(Ctl::sbAddr, &TfrmModule::sbAddrChange);
  change(Ctl::sbFreq, &TfrmModule::sbFreqChange);
  change(Ctl::sbChannel, &TfrmModule::sbChannelChange);

  connect(tmrBusy, &QTimer::timeout, this, &TfrmModule::tmrBusyTimer);
  connect(tmrCard, &QTimer::timeout, this, &TfrmModule::tmrCardTimer);
}

// ---------------------------------------------------------------------------------------
// The window's own events.

void TfrmModule::FormCreate() {
  LoadSettings(store_, settings_);
  RemoveCloseCommand(*this);
  ctx_.TagReadActive = false;
  ctx_.ReaderReady = false;
  SetSelection(Ctl::cmbBaudRate, settings_.ScanBaudRateNo);
}

void TfrmModule::FormShow() {
  setWindowTitle(Msg(1));
  auto put = [this](Ctl ctl, int no, const char* suffix) {
    SetText(ctl, (Msg(no) + QString::fromLatin1(suffix)).toStdString());
  };
  put(Ctl::pnKELTA, 0, "");
  put(Ctl::pnMsg, 2, "");
  put(Ctl::pnSerial, 19, " : ________");
  put(Ctl::pnVersion, 21, " : __.__-__");
  put(Ctl::lblID, 4, ":");
  put(Ctl::lblBaudRate, 5, ":");
  put(Ctl::pnCardID, 15, "");
  put(Ctl::btnScan, 18, "");
  put(Ctl::btnID, 26, "");
  put(Ctl::btnBaudRate, 6, "");
  put(Ctl::btnReadCard, 7, "");
  put(Ctl::gbDefault, 10, "");
  put(Ctl::btnFactory, 8, "");
  put(Ctl::btnExit, 14, "");
  put(Ctl::btnReset, 56, "");
  put(Ctl::btnMode, 59, "");
  put(Ctl::btnAddr, 47, "");
  put(Ctl::btnFreq, 50, "");
  put(Ctl::btnChannel, 53, "");
  NameControls();
}

// The accessible names of the controls whose text does not say what they are (pictures,
// scroll bars, lists, the check box, the lamps), in the window's language.
void TfrmModule::NameControls() {
  for (int i = 0; i < kCtlCount; ++i) {
    const Ctl ctl = static_cast<Ctl>(i);
    const QString name = AccessibleName(ctl, settings_.LanguageIndex);
    if (!name.isEmpty()) Control(ctl)->setAccessibleName(name);
  }
  DescribeLamps();
}

// Each lamp's description follows its colour: the communication lamp is ready until the
// first action, busy while it blinks, then says how the last action ended.
void TfrmModule::DescribeLamps() {
  auto describe = [this](Ctl lamp, LampMeaning meaning) {
    const QString text = LampDescription(meaning, settings_.LanguageIndex);
    if (Control(lamp)->accessibleDescription() != text)
      Control(lamp)->setAccessibleDescription(text);
  };
  const QColor comm = static_cast<const Lamp*>(Control(Ctl::shComm))->fill();
  describe(Ctl::shComm, tmrBusy->isActive() ? LampMeaning::Busy
                        : !comm_used_       ? LampMeaning::Ready
                        : comm == kYellow   ? LampMeaning::Ok
                                            : LampMeaning::Error);
  const QColor card = static_cast<const Lamp*>(Control(Ctl::shCard))->fill();
  describe(Ctl::shCard, card == kYellow ? LampMeaning::TagHeard : LampMeaning::NoTag);
}

void TfrmModule::showEvent(QShowEvent* event) {
  // Once, before the first paint; restoring from the task bar does not count.
  if (!shown_ && !event->spontaneous()) {
    shown_ = true;
    FormShow();
  }
  QWidget::showEvent(event);
}

void TfrmModule::closeEvent(QCloseEvent* event) {
  // The window is left through btnExit only; the window manager's close is refused.
  if (exit_requested_) {
    event->accept();
  } else {
    event->ignore();
  }
}

void TfrmModule::keyPressEvent(QKeyEvent* event) {
  auto* default_button = static_cast<QPushButton*>(Control(Ctl::btnScan));
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      default_button->isEnabled()) {
    default_button->click();
    return;
  }
  QWidget::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------
// Busy state, displays and language.

void TfrmModule::SetBusy(bool on) {
  if (on) {
    comm_used_ = true;
    tmrBusy->start();
    EnableWindow(false);
  } else {
    EnableWindow(true);
    tmrBusy->stop();
  }
  DescribeLamps();
}

// Qt takes the focus away from a window it disables and gives nothing back when the window
// is enabled again: the control that had it gets it back here, as on Windows. While tags
// are read it goes to the reading button instead, also after a nested press of another
// button (refused, as the port is held): Space and Enter then end reading rather than
// repeat the refused command.
void TfrmModule::EnableWindow(bool enabled) {
  if (!enabled) {
    if (isEnabled()) refocus_ = focusWidget();
    setEnabled(false);
    return;
  }
  setEnabled(true);
  QWidget* focus = ctx_.TagReadLoop ? Control(Ctl::btnReadCard) : refocus_.data();
  if (focus && focus->isEnabled()) focus->setFocus();
  refocus_ = nullptr;
}

void TfrmModule::tmrBusyTimer() {
  if (tmrBusy->property("Tag").toInt() == 1) {
    tmrBusy->setProperty("Tag", 0);
    SetFill(Ctl::shComm, Fill::Yellow);
  } else {
    tmrBusy->setProperty("Tag", 1);
    SetFill(Ctl::shComm, Fill::Red);
  }
}

void TfrmModule::ShowPosition(Ctl scroll_bar, Ctl panel, const char* format) {
  SetText(panel, QString::asprintf(format, Position(scroll_bar)).toStdString());
}

void TfrmModule::sbIDChange() { ShowPosition(Ctl::sbID, Ctl::pnID, "%02d"); }
void TfrmModule::sbRSSIChange() { ShowPosition(Ctl::sbRSSI, Ctl::pnRSSI, "%03d"); }
void TfrmModule::sbAddrChange() { ShowPosition(Ctl::sbAddr, Ctl::pnAddr, "%03d"); }
void TfrmModule::sbFreqChange() { ShowPosition(Ctl::sbFreq, Ctl::pnFreq, "%03d"); }
void TfrmModule::sbChannelChange() { ShowPosition(Ctl::sbChannel, Ctl::pnChannel, "%03d"); }

void TfrmModule::SetLanguage(int index, const char* flag) {
  settings_.LanguageIndex = index;
  settings_.LanguageFlag = flag;
  ReportNotStored(SaveLanguage(store_, settings_).error);
  FormShow();
}

void TfrmModule::btnEngClick() { SetLanguage(0, "English"); }
void TfrmModule::btnGBClick() { SetLanguage(1, "ChineseGB"); }
void TfrmModule::btnBIG5Click() { SetLanguage(2, "ChineseBIG5"); }

void TfrmModule::btnExitClick() {
  // Nothing is stored here: every setting was stored when it changed.
  exit_requested_ = true;
  close();
}

// ---------------------------------------------------------------------------------------
// The reader operations.

void TfrmModule::btnScanClick() { ReportNotStored(ScanReader(ctx_).store_error); }
void TfrmModule::btnIDClick() { SetReaderId(ctx_); }
void TfrmModule::btnBaudRateClick() { SetReaderBaudRate(ctx_); }
void TfrmModule::btnModeClick() { SetReaderMode(ctx_); }
void TfrmModule::btnFactoryClick() { FactoryDefault(ctx_); }
void TfrmModule::btnResetClick() { ResetReader(ctx_); }
void TfrmModule::btnRSSIClick() { SetRssiLevel(ctx_); }
void TfrmModule::btnAddrClick() { SetAddress(ctx_); }
void TfrmModule::btnFreqClick() { SetFrequency(ctx_); }
void TfrmModule::btnChannelClick() { SetChannel(ctx_); }
void TfrmModule::btnReadCardClick() {
  // While reading runs the focus stays on the button, so Space or Enter ends reading.
  Control(Ctl::btnReadCard)->setFocus();
  ReadCard(ctx_);
}
void TfrmModule::tmrCardTimer() { CardTimerExpired(ctx_); }

// ---------------------------------------------------------------------------------------
// ReaderView

QString TfrmModule::Msg(int no) const {
  return QString::fromStdString(Catalogue().Text(no, settings_.LanguageIndex));
}

QScrollBar* TfrmModule::ScrollBar(Ctl ctl) const { return qobject_cast<QScrollBar*>(Control(ctl)); }

QComboBox* TfrmModule::List(Ctl ctl) const { return qobject_cast<QComboBox*>(Control(ctl)); }

void TfrmModule::SetText(Ctl ctl, const std::string& text) {
  const QString shown = QString::fromStdString(text);
  QWidget* control = Control(ctl);
  if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    button->setText(shown);
  } else if (ctl == Ctl::pnMsg) {
    // Every message is announced, also one the line shows already (the same outcome
    // again), whose text change the label would not report.
    auto* line = static_cast<QLabel*>(control);
    const bool same = line->text() == shown;
    line->setText(shown);
    if (same) {
      QAccessibleEvent changed(line, QAccessible::NameChanged);
      QAccessible::updateAccessibility(&changed);
    }
    AnnounceStatus(*line, shown);
  } else if (auto* label = qobject_cast<QLabel*>(control)) {
    label->setText(shown);
  } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
    group->setTitle(shown);
  }
}

std::string TfrmModule::Text(Ctl ctl) const {
  const QWidget* control = Control(ctl);
  if (auto* button = qobject_cast<const QAbstractButton*>(control)) {
    return button->text().toStdString();
  }
  if (auto* label = qobject_cast<const QLabel*>(control)) return label->text().toStdString();
  if (auto* group = qobject_cast<const QGroupBox*>(control)) return group->title().toStdString();
  return {};
}

int TfrmModule::Position(Ctl ctl) const { return ScrollBar(ctl)->value(); }

void TfrmModule::SetPosition(Ctl ctl, int position) {
  // Qt keeps the value within range and signals only a real change.
  ScrollBar(ctl)->setValue(position);
}

int TfrmModule::Selection(Ctl ctl) const { return List(ctl)->currentIndex(); }

void TfrmModule::SetSelection(Ctl ctl, int index) {
  QComboBox* list = List(ctl);
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

bool TfrmModule::Checked(Ctl ctl) const {
  return static_cast<const QCheckBox*>(Control(ctl))->isChecked();
}

void TfrmModule::SetFill(Ctl ctl, Fill fill) {
  static_cast<Lamp*>(Control(ctl))->SetFill(FillColour(fill));
  if (ctl == Ctl::shComm) comm_used_ = true;
  DescribeLamps();
}

void TfrmModule::SetEnabled(Ctl ctl, bool enabled) { Control(ctl)->setEnabled(enabled); }

void TfrmModule::SetWindowEnabled(bool enabled) { EnableWindow(enabled); }

void TfrmModule::SetHourglass(bool on) {
  // One override at most, so that "off" always brings the normal cursor back.
  if (on && !hourglass_) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    hourglass_ = true;
  } else if (!on && hourglass_) {
    QApplication::restoreOverrideCursor();
    hourglass_ = false;
  }
}

void TfrmModule::StartCardTimer() {
  if (!tmrCard->isActive()) tmrCard->start();
}

void TfrmModule::StopCardTimer() { tmrCard->stop(); }

void TfrmModule::ProcessMessages() { QCoreApplication::processEvents(); }

}  // namespace kelta
