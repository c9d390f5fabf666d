// The main window, offscreen: its first texts, language switching, scroll-bar displays,
// busy state, window frame and layout. Widgets are found by their object names.
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/catalogue.h"
#include "tests/widgets/window_fakes.h"
#include "ui/window_fonts.h"

// Readable failures.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace kelta {
namespace {

using testing::MemoryStore;

class WindowTest : public ::testing::Test {
 protected:
  void Start() {
    window_ = std::make_unique<TfrmModule>(WindowServices{device_, clock_, tone_, store_});
    window_->show();
  }

  template <typename W = QWidget>
  W* Find(const char* name) const {
    W* widget = window_->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QString TextOf(const char* name) const {
    QWidget* widget = Find(name);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
    return {};
  }
  QColor FillOf(const char* name) const { return Find(name)->property("fill").value<QColor>(); }
  static QString Msg(int no, int language) {
    return QString::fromStdString(Catalogue().Text(no, language));
  }

  testing::NoPorts device_;
  testing::StillClock clock_;
  testing::RecordingTone tone_;
  MemoryStore store_;
  std::unique_ptr<TfrmModule> window_;
};

// The twenty texts the window shows once it is on screen, per language.
struct ShownText {
  const char* control;
  int message;
  const char* suffix;
};
constexpr ShownText kShownTexts[] = {
    {"pnKELTA", 0, ""},
    {"pnMsg", 2, ""},
    {"pnSerial", 19, " : ________"},
    {"pnVersion", 21, " : __.__-__"},
    {"lblID", 4, ":"},
    {"lblBaudRate", 5, ":"},
    {"pnCardID", 15, ""},
    {"btnScan", 18, ""},
    {"btnID", 26, ""},
    {"btnBaudRate", 6, ""},
    {"btnReadCard", 7, ""},
    {"gbDefault", 10, ""},
    {"btnFactory", 8, ""},
    {"btnExit", 14, ""},
    {"btnReset", 56, ""},
    {"btnMode", 59, ""},
    {"btnAddr", 47, ""},
    {"btnFreq", 50, ""},
    {"btnChannel", 53, ""},
};

TEST_F(WindowTest, FirstStartWithoutStoredSettings) {
  Start();
  EXPECT_EQ(window_->objectName(), "frmModule");
  EXPECT_EQ(window_->windowTitle(), "KELTA QM880-4R Reader Config V1.70-01");
  EXPECT_EQ(TextOf("pnMsg"), "Start Scan Reader!");
  EXPECT_EQ(TextOf("btnScan"), "Scan Reader");
  EXPECT_EQ(TextOf("pnSerial"), "S/N : ________");
  EXPECT_EQ(TextOf("pnVersion"), "VER : __.__-__");
  EXPECT_EQ(TextOf("lblBaudRate"), "BaudRate:");
  EXPECT_TRUE(TextOf("pnKELTA").startsWith("KELTA Technology Corp.   "));
  EXPECT_EQ(Find<QComboBox>("cmbBaudRate")->currentText(), "19200,e,8,1");
  EXPECT_EQ(Find<QComboBox>("cmbWiegand")->currentText(), "Wiegand 26 bits");
  EXPECT_EQ(Find<QComboBox>("cmbRS485")->currentText(), "RS485 32 bits");
  EXPECT_EQ(FillOf("shComm"), QColor(255, 0, 0));
  EXPECT_EQ(FillOf("shCard"), QColor(255, 255, 255));
  // The scroll-bar handlers have not run: the panels keep their layout texts.
  EXPECT_EQ(TextOf("pnID"), "__");
  EXPECT_EQ(TextOf("pnRSSI"), "0");
  EXPECT_EQ(TextOf("pnAddr"), "049");
  EXPECT_EQ(TextOf("pnFreq"), "059");
  EXPECT_EQ(TextOf("pnChannel"), "000");
  EXPECT_TRUE(Find<QCheckBox>("chkLock")->isChecked());
  EXPECT_EQ(window_->focusWidget(), Find("btnScan"));
  EXPECT_TRUE(Find<QPushButton>("btnScan")->isDefault());
  EXPECT_FALSE(window_->Context().ReaderReady);
  EXPECT_FALSE(window_->Context().TagReadActive);
  // Reading creates no key.
  EXPECT_FALSE(store_.key_exists);
  EXPECT_TRUE(store_.writes.empty());
  EXPECT_FALSE(Find<QTimer>("tmrBusy")->isActive());
  EXPECT_FALSE(Find<QTimer>("tmrCard")->isActive());
}

TEST_F(WindowTest, StoredLanguageShowsItsTextsFromTheFirstPaint) {
  for (auto [flag, language] :
       {std::pair{"English", 0}, {"ChineseGB", 1}, {"ChineseBIG5", 2}, {"chinesegb", 0}}) {
    SCOPED_TRACE(flag);
    store_.Put("LanguageFlag", std::string(flag));
    Start();
    EXPECT_EQ(window_->windowTitle(), Msg(1, language));
    for (const ShownText& shown : kShownTexts) {
      EXPECT_EQ(TextOf(shown.control), Msg(shown.message, language) + shown.suffix)
          << shown.control;
    }
    // The same in every language.
    EXPECT_EQ(TextOf("btnRSSI"), "Set RSSI Level");
    EXPECT_EQ(TextOf("btnEng"), "English");
    EXPECT_EQ(TextOf("GroupBox1"), "GroupBox1");
    EXPECT_EQ(Find<QComboBox>("cmbRS485")->itemText(0), "RS485 24 bits");
    EXPECT_EQ(QCoreApplication::applicationName(), kApplicationTitle);
    window_.reset();
  }
  EXPECT_EQ(Msg(2, 2), QString::fromUtf8("請先掃描讀卡機!"));
  EXPECT_EQ(Msg(1, 2), QString::fromUtf8("KELTA QM880-4R 讀卡機工具程式 V1.70-01"));
}

TEST_F(WindowTest, StoredModeIndexIsSelectedAndOutOfRangeShowsNone) {
  for (auto [stored, selected] :
       {std::pair{0, 0}, {3, 3}, {11, 11}, {12, -1}, {-1, -1}, {1000, -1}}) {
    SCOPED_TRACE(stored);
    store_.Put("ScanBaudRateNo", stored);
    Start();
    auto* list = Find<QComboBox>("cmbBaudRate");
    EXPECT_EQ(list->currentIndex(), selected);
    EXPECT_EQ(window_->Selection(Ctl::cmbBaudRate), selected);
    if (selected < 0) {
      EXPECT_TRUE(list->currentText().isEmpty());
    }
    window_.reset();
  }
}

TEST_F(WindowTest, ScrollBarsWriteTheirDisplaysWithinTheirLimits) {
  Start();
  struct Move {
    Ctl bar;
    int position;
    int kept;
    const char* panel;
    const char* shown;
  };
  const Move kMoves[] = {
      {Ctl::sbRSSI, 1, 1, "pnRSSI", "001"},
      {Ctl::sbRSSI, 300, 250, "pnRSSI", "250"},
      {Ctl::sbID, 7, 7, "pnID", "07"},
      {Ctl::sbID, 0, 1, "pnID", "01"},
      {Ctl::sbID, 100, 99, "pnID", "99"},
      {Ctl::sbAddr, 255, 255, "pnAddr", "255"},
      {Ctl::sbAddr, 256, 255, "pnAddr", "255"},
      {Ctl::sbFreq, 0, 0, "pnFreq", "000"},
      {Ctl::sbChannel, 5, 5, "pnChannel", "005"},
  };
  for (const Move& move : kMoves) {
    SCOPED_TRACE(move.position);
    window_->SetPosition(move.bar, move.position);
    EXPECT_EQ(window_->Position(move.bar), move.kept);
    EXPECT_EQ(TextOf(move.panel), move.shown);
  }

  // Setting the position a bar already has runs no handler.
  window_->SetText(Ctl::pnID, "42");
  window_->SetPosition(Ctl::sbID, 99);
  EXPECT_EQ(TextOf("pnID"), "42");

  // The operator's arrows and clicks beside the thumb.
  auto* rssi = Find<QScrollBar>("sbRSSI");
  window_->SetPosition(Ctl::sbRSSI, 0);
  rssi->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(TextOf("pnRSSI"), "001");
  rssi->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(TextOf("pnRSSI"), "011");
  QTest::keyClick(Find("sbID"), Qt::Key_Left);
  EXPECT_EQ(TextOf("pnID"), "98");
  QTest::keyClick(Find("sbID"), Qt::Key_Right);
  EXPECT_EQ(TextOf("pnID"), "99");
}

TEST_F(WindowTest, LanguageChangeAfterAScanBringsBackThePlaceholders) {
  Start();
  // What a successful scan leaves behind.
  window_->Context().ReaderReady = true;
  window_->SetPosition(Ctl::sbID, 42);
  window_->SetText(Ctl::pnSerial, "S/N : 12345678");
  window_->SetText(Ctl::pnVersion, "VER : 01.70-01");
  window_->SetText(Ctl::pnMsg, "Get Reader Info Ok. (COM : #3)");
  window_->SetText(Ctl::pnCardID, "TAG ID : 0000001234  000004D2(H)");
  window_->SetFill(Ctl::shComm, Fill::Yellow);
  window_->SetSelection(Ctl::cmbBaudRate, 3);

  QTest::mouseClick(Find("btnGB"), Qt::LeftButton);

  EXPECT_EQ(window_->CurrentSettings().LanguageIndex, 1);
  EXPECT_EQ(window_->CurrentSettings().LanguageFlag, "ChineseGB");
  EXPECT_EQ(std::get<std::string>(store_.values.at("LanguageFlag")), "ChineseGB");
  EXPECT_EQ(window_->windowTitle(), Msg(1, 1));
  EXPECT_EQ(TextOf("pnMsg"), Msg(2, 1));
  EXPECT_EQ(TextOf("pnSerial"), Msg(19, 1) + " : ________");
  EXPECT_EQ(TextOf("pnVersion"), Msg(21, 1) + " : __.__-__");
  EXPECT_EQ(TextOf("pnCardID"), "TAG ID");
  // Untouched by the change.
  EXPECT_EQ(TextOf("pnID"), "42");
  EXPECT_EQ(window_->Position(Ctl::sbID), 42);
  EXPECT_TRUE(window_->Context().ReaderReady);
  EXPECT_EQ(FillOf("shComm"), QColor(255, 255, 0));
  EXPECT_EQ(window_->Selection(Ctl::cmbBaudRate), 3);
  EXPECT_EQ(QCoreApplication::applicationName(), kApplicationTitle);

  QTest::mouseClick(Find("btnBIG5"), Qt::LeftButton);
  EXPECT_EQ(TextOf("btnScan"), Msg(18, 2));
  QTest::mouseClick(Find("btnEng"), Qt::LeftButton);
  EXPECT_EQ(TextOf("btnScan"), "Scan Reader");
  EXPECT_EQ(std::get<std::string>(store_.values.at("LanguageFlag")), "English");
}

TEST_F(WindowTest, ShowingTheWindowAgainLeavesItsTexts) {
  Start();
  window_->SetText(Ctl::pnMsg, "Reader Not Find");
  window_->showMinimized();
  window_->showNormal();
  window_->hide();
  window_->show();
  EXPECT_EQ(TextOf("pnMsg"), "Reader Not Find");
}

TEST_F(WindowTest, AFailedSaveGoesToStandardErrorNotToTheMessageLine) {
  Start();
  store_.write_error = "disk on fire";
  ::testing::internal::CaptureStderr();
  QTest::mouseClick(Find("btnGB"), Qt::LeftButton);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "qm880-config: not stored: disk on fire\n");
  EXPECT_EQ(TextOf("pnMsg"), Msg(2, 1));
}

TEST_F(WindowTest, TheCurrentLanguagesButtonStoresItsNameAgain) {
  Start();
  window_->SetText(Ctl::pnMsg, "Reader Not Find");
  QTest::mouseClick(Find("btnEng"), Qt::LeftButton);
  QTest::mouseClick(Find("btnEng"), Qt::LeftButton);
  ASSERT_EQ(store_.writes.size(), 2u);
  for (const auto& [name, value] : store_.writes) {
    EXPECT_EQ(name, "LanguageFlag");
    EXPECT_EQ(std::get<std::string>(value), "English");
  }
  EXPECT_EQ(TextOf("pnMsg"), "Start Scan Reader!");
}

// What each button stores is what the next start reads: its texts come back.
TEST_F(WindowTest, EachLanguageButtonsStoredNameBringsItsTextsBackAfterARestart) {
  for (auto [button, flag, language] : {std::tuple{"btnGB", "ChineseGB", 1},
                                        {"btnBIG5", "ChineseBIG5", 2},
                                        {"btnEng", "English", 0}}) {
    Start();
    QTest::mouseClick(Find(button), Qt::LeftButton);
    EXPECT_EQ(std::get<std::string>(store_.values.at("LanguageFlag")), flag);
    window_.reset();
    Start();
    EXPECT_EQ(window_->windowTitle(), Msg(1, language)) << button;
    EXPECT_EQ(TextOf("btnScan"), Msg(18, language)) << button;
    window_.reset();
  }
}

// Disabled (while tags are read) it greys out like the pictured language buttons.
TEST_F(WindowTest, TheEnglishButtonIsRedOnlyWhileEnabled) {
  Start();
  const QPalette& english = Find("btnEng")->palette();
  EXPECT_EQ(english.color(QPalette::Inactive, QPalette::ButtonText), QColor(255, 0, 0));
  EXPECT_NE(english.color(QPalette::Disabled, QPalette::ButtonText), QColor(255, 0, 0));
}

TEST_F(WindowTest, BusyOffWithoutOnOnlyEnables) {
  Start();
  window_->SetFill(Ctl::shComm, Fill::Yellow);
  window_->SetBusy(false);
  EXPECT_TRUE(window_->isEnabled());
  EXPECT_FALSE(window_->tmrBusy->isActive());
  EXPECT_EQ(FillOf("shComm"), QColor(255, 255, 0));

  window_->SetBusy(true);
  EXPECT_FALSE(window_->isEnabled());
  EXPECT_FALSE(Find("btnScan")->isEnabled());
  EXPECT_TRUE(window_->tmrBusy->isActive());
  EXPECT_EQ(window_->tmrBusy->interval(), 200);
  // Busy alone leaves the lamp as it was; only ticks change it.
  EXPECT_EQ(FillOf("shComm"), QColor(255, 255, 0));
  window_->SetBusy(false);
  EXPECT_TRUE(Find("btnScan")->isEnabled());
  EXPECT_FALSE(window_->tmrBusy->isActive());
}

TEST_F(WindowTest, BlinkPhaseCarriesOverIntoTheNextBusyPeriod) {
  Start();
  const QColor red(255, 0, 0);
  const QColor yellow(255, 255, 0);
  window_->SetBusy(true);
  window_->tmrBusyTimer();
  EXPECT_EQ(FillOf("shComm"), red);  // the very first tick
  window_->tmrBusyTimer();
  EXPECT_EQ(FillOf("shComm"), yellow);
  window_->tmrBusyTimer();
  EXPECT_EQ(FillOf("shComm"), red);
  EXPECT_EQ(window_->tmrBusy->property("Tag").toInt(), 1);
  window_->SetBusy(false);
  window_->SetFill(Ctl::shComm, Fill::Red);  // an operation's final colour

  window_->SetBusy(true);
  window_->tmrBusyTimer();
  EXPECT_EQ(FillOf("shComm"), yellow);  // continues after the red it stopped on
  window_->tmrBusyTimer();
  EXPECT_EQ(FillOf("shComm"), red);
  window_->SetBusy(false);
}

TEST_F(WindowTest, TheBusyTimerDrivesTheLampWhileTheWindowIsDisabled) {
  Start();
  window_->SetBusy(true);
  // A wait on the event loop, not a timing assertion: the first tick turns the lamp red,
  // the second yellow.
  EXPECT_TRUE(QTest::qWaitFor([&] { return FillOf("shComm") == QColor(255, 255, 0); }, 5000));
  window_->SetBusy(false);
}

TEST_F(WindowTest, CardTimerAndHourglass) {
  Start();
  window_->StartCardTimer();
  EXPECT_TRUE(window_->tmrCard->isActive());
  EXPECT_EQ(window_->tmrCard->interval(), 1000);
  window_->StopCardTimer();
  EXPECT_FALSE(window_->tmrCard->isActive());

  window_->SetHourglass(false);  // without a previous on: harmless
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  {
    HourglassCursor outer(*window_);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    window_->SetHourglass(true);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(WindowTest, LanguagePicturesAreDrawnAtTwiceTheSizeForScreensScaledTwice) {
  Start();
  const struct {
    const char* button;
    const char* picture;
  } kPictures[] = {{"btnGB", ":/kelta/simplified"}, {"btnBIG5", ":/kelta/traditional"}};
  for (const auto& p : kPictures) {
    SCOPED_TRACE(p.button);
    const QIcon icon = Find<QPushButton>(p.button)->icon();
    for (const auto& [scale, suffix] : {std::pair{1.0, ".png"}, std::pair{2.0, "@2x.png"}}) {
      const auto format = QImage::Format_ARGB32_Premultiplied;
      const QImage drawn = QImage(QString::fromLatin1(p.picture) + QString::fromLatin1(suffix))
                               .convertToFormat(format);
      ASSERT_FALSE(drawn.isNull());
      // What the button paints on such a screen is that picture, not one scaled up.
      const QImage painted = icon.pixmap(QSize(34, 16), scale).toImage().convertToFormat(format);
      EXPECT_EQ(painted.size(), drawn.size()) << scale;
      EXPECT_TRUE(painted == drawn) << scale;
    }
  }
}

TEST_F(WindowTest, NoMaximiseNoCloseCommandOnlyExit) {
  Start();
  const Qt::WindowFlags flags = window_->windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_EQ(window_->minimumSize(), QSize(659, 541));
  EXPECT_EQ(window_->maximumSize(), QSize(659, 541));
  EXPECT_EQ(window_->size(), QSize(659, 541));

  QCloseEvent request;
  QApplication::sendEvent(window_.get(), &request);
  EXPECT_FALSE(request.isAccepted());
  EXPECT_FALSE(window_->close());
  EXPECT_TRUE(window_->isVisible());

  QTest::mouseClick(Find("btnExit"), Qt::LeftButton);
  EXPECT_FALSE(window_->isVisible());
  EXPECT_TRUE(store_.writes.empty());
}

TEST_F(WindowTest, ControlsSitWhereTheLayoutPutsThem) {
  Start();
  struct Place {
    const char* name;
    const char* parent;
    QRect geometry;
  };
  const Place kPlaces[] = {
      {"btnScan", "frmModule", {8, 78, 345, 43}},
      {"pnSerial", "frmModule", {8, 48, 169, 28}},
      {"sbID", "frmModule", {104, 131, 249, 23}},
      {"cmbBaudRate", "frmModule", {168, 208, 161, 28}},
      {"pnMsg", "frmModule", {8, 4, 345, 40}},
      {"shComm", "pnMsg", {310, 8, 23, 20}},
      {"shCard", "frmModule", {10, 435, 29, 20}},
      {"gbDefault", "frmModule", {360, 4, 289, 421}},
      {"btnReset", "gbDefault", {8, 344, 273, 65}},
      {"sbRSSI", "gbDefault", {48, 27, 233, 23}},
      {"btnExit", "frmModule", {360, 464, 289, 33}},
      {"btnBIG5", "frmModule", {560, 432, 89, 24}},
      {"pnKELTA", "frmModule", {8, 501, 641, 21}},
      {"chkLock", "frmModule", {336, 212, 17, 17}},
      {"GroupBox1", "frmModule", {680, 16, 321, 417}},
      {"btnChannel", "GroupBox1", {8, 214, 273, 43}},
      {"cmbRS485", "frmModule", {184, 296, 169, 28}},
      {"btnMode", "frmModule", {8, 326, 345, 43}},
  };
  for (const Place& place : kPlaces) {
    QWidget* widget = Find(place.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), place.geometry) << place.name;
    EXPECT_EQ(widget->parentWidget()->objectName(), place.parent) << place.name;
  }
  for (int i = 0; i < kCtlCount; ++i) {
    EXPECT_NE(window_->findChild<QWidget*>(CtlName(static_cast<Ctl>(i))), nullptr)
        << CtlName(static_cast<Ctl>(i));
  }
  // GroupBox1 lies wholly outside the client area, yet it is an ordinary, enabled member.
  EXPECT_GE(Find("GroupBox1")->x(), window_->width());
  EXPECT_TRUE(Find("btnAddr")->isEnabled());
}

// A panel's frame: the border in the shadow colour at its edge, the bevel inside the gap
// (light at the top and left when raised, dark when lowered), a pixel short at the right
// and the bottom; at 200 % the same frame with every pixel doubled.
TEST(PanelFrame, BorderAndBevelAtOneAndTwiceTheScale) {
  for (const auto& [bevel, gap] :
       {std::pair{Panel::Bevel::Raised, 0}, {Panel::Bevel::Lowered, 1}}) {
    SCOPED_TRACE(gap);
    Panel panel(bevel, gap, nullptr);
    panel.resize(41, 25);
    auto render = [&panel](int scale) {
      QImage image(panel.size() * scale, QImage::Format_RGB32);
      image.setDevicePixelRatio(scale);
      image.fill(Qt::magenta);
      panel.render(&image);
      return image;
    };
    const QImage once = render(1);
    const QPalette& colours = panel.palette();
    QColor top_left = colours.color(QPalette::Light);
    QColor bottom_right = colours.color(QPalette::Dark);
    if (bevel == Panel::Bevel::Lowered) std::swap(top_left, bottom_right);
    const int in = 1 + gap;
    const int right = 41 - 3 - gap;
    const int bottom = 25 - 3 - gap;
    const struct {
      QPoint at;
      QColor colour;
    } kPixels[] = {
        {{0, 0}, colours.color(QPalette::Shadow)},
        {{40, 24}, colours.color(QPalette::Shadow)},
        {{in, in}, top_left},
        {{in, bottom - 1}, top_left},
        {{right, bottom}, bottom_right},
        {{in, bottom}, bottom_right},
        {{right, in}, bottom_right},
        {{right + 1, 12}, colours.color(QPalette::Window)},
    };
    for (const auto& pixel : kPixels) {
      EXPECT_EQ(once.pixel(pixel.at), pixel.colour.rgb()) << pixel.at.x() << "," << pixel.at.y();
    }
    QImage doubled = once.scaled(once.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    doubled.setDevicePixelRatio(2);
    EXPECT_TRUE(render(2) == doubled);
  }
}

TEST_F(WindowTest, KeyboardOrderFollowsTheLayoutWithGroupBoxesInPlace) {
  Start();
  const char* kOrder[] = {"btnScan",     "sbID",     "btnID",    "cmbBaudRate", "btnBaudRate",
                          "btnReadCard", "btnExit",  "btnReset", "sbRSSI",      "btnRSSI",
                          "btnEng",      "btnGB",    "btnBIG5",  "chkLock",     "btnFactory",
                          "cmbWiegand",  "cmbRS485", "btnMode"};
  QWidget* widget = Find("btnScan");
  for (const char* expected : kOrder) {
    EXPECT_EQ(widget->objectName(), expected);
    do {
      widget = widget->nextInFocusChain();
    } while (!(widget->focusPolicy() & Qt::TabFocus) || widget->objectName().isEmpty() ||
             widget == window_.get());
  }
  EXPECT_EQ(widget->objectName(), "btnScan");  // and round again
}

// GroupBox1 lies beyond the right edge: Tab goes round the window without reaching it.
TEST_F(WindowTest, TheTabChainStaysInsideTheWindow) {
  Start();
  QWidget* at = Find("btnScan");
  int stops = 0;
  do {
    QTest::keyClick(at, Qt::Key_Tab);
    at = window_->focusWidget();
    ASSERT_NE(at, nullptr);
    EXPECT_TRUE(window_->rect().contains(QRect(at->mapTo(window_.get(), QPoint()), at->size())))
        << at->objectName().toStdString();
  } while (++stops < 100 && at != Find("btnScan"));
  EXPECT_EQ(stops, 18);
}

// What a screen reader gets: every focus stop named in the window's language (Chinese in
// it, but for English), not by its object name, and in the tree; the lamps as status
// objects described by their colour; the message line as the status line; nothing of what
// lies out of sight.
TEST_F(WindowTest, AScreenReaderFindsEveryFocusStopNamedInTheWindowsLanguage) {
  Start();
  std::vector<QWidget*> stops{Find("btnScan")};
  for (QTest::keyClick(stops.back(), Qt::Key_Tab); window_->focusWidget() != stops.front();
       QTest::keyClick(stops.back(), Qt::Key_Tab)) {
    ASSERT_LT(stops.size(), 18u);
    stops.push_back(window_->focusWidget());
  }
  QAccessibleInterface* window = QAccessible::queryAccessibleInterface(window_.get());
  auto chinese = [](QChar c) { return c.unicode() > 0x7E; };
  for (const std::string language : {"btnEng", "btnGB", "btnBIG5"}) {
    Find<QPushButton>(language.c_str())->click();
    for (QWidget* stop : stops) {
      QAccessibleInterface* child = QAccessible::queryAccessibleInterface(stop);
      const QString name = child->text(QAccessible::Name);
      // On Unix Qt names a list by its value (and its label by relation); its accessible
      // name is what UI Automation reads.
      const QString said = child->role() == QAccessible::ComboBox ? stop->accessibleName() : name;
      const bool english = language == "btnEng" || stop->objectName() == "btnEng";
      EXPECT_TRUE(name != stop->objectName() && !name.isEmpty() &&
                  (english || std::any_of(said.begin(), said.end(), chinese)))
          << stop->objectName().toStdString() << " after " << language;
      for (; child != nullptr && child != window; child = child->parent()) {
        EXPECT_GE(child->parent()->indexOfChild(child), 0) << stop->objectName().toStdString();
      }
    }
  }
  EXPECT_EQ(window->indexOfChild(QAccessible::queryAccessibleInterface(Find("GroupBox1"))), -1);
  QAccessibleInterface* comm = QAccessible::queryAccessibleInterface(Find("shComm"));
  EXPECT_EQ(comm->role(), QAccessible::StatusBar);
  EXPECT_EQ(comm->text(QAccessible::Description), "就緒");
  window_->SetBusy(true);
  EXPECT_EQ(comm->text(QAccessible::Description), "忙碌");
  window_->SetBusy(false);
  window_->SetFill(Ctl::shCard, Fill::Yellow);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(Find("shCard"))->text(QAccessible::Description),
            "讀到 TAG");

  window_->SetText(Ctl::pnMsg, "Set Reader ID Ok");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(Find("pnMsg"))->text(QAccessible::Name),
            "Set Reader ID Ok");
}

TEST_F(WindowTest, EnterPressesTheDefaultButtonFromTheCheckBox) {
  Start();
  int presses = 0;
  QObject::connect(Find<QPushButton>("btnScan"), &QPushButton::clicked, [&] { ++presses; });
  QTest::keyClick(Find("chkLock"), Qt::Key_Return);
  EXPECT_EQ(presses, 1);
}

TEST_F(WindowTest, FontsAreTheLayoutsOrTheirStandIns) {
  Start();
  const QFontInfo window_font(Find("btnScan")->font());
  EXPECT_EQ(window_font.pixelSize(), 16);
  EXPECT_TRUE(window_font.bold());
  EXPECT_TRUE(window_font.family() == "MS Sans Serif" || window_font.family() == "Liberation Sans")
      << window_font.family().toStdString();
  EXPECT_EQ(QFontInfo(Find("lblID")->font()).pixelSize(), 13);
  EXPECT_FALSE(QFontInfo(Find("btnEng")->font()).bold());
  EXPECT_EQ(Find("btnEng")->palette().color(QPalette::ButtonText), QColor(255, 0, 0));
  EXPECT_EQ(QFontInfo(Find("pnKELTA")->font()).pixelSize(), 11);
  EXPECT_EQ(Find("pnKELTA")->palette().color(QPalette::Window), QColor(0, 0, 128));
  EXPECT_EQ(Find("pnID")->palette().color(QPalette::WindowText), QColor(255, 255, 0));
  EXPECT_EQ(Find<QPushButton>("btnGB")->iconSize(), QSize(34, 16));
  EXPECT_FALSE(Find<QPushButton>("btnGB")->icon().isNull());
  EXPECT_FALSE(Find<QPushButton>("btnBIG5")->icon().isNull());
  EXPECT_FALSE(Find<QPushButton>("btnExit")->icon().isNull());
}

// Each font names the first of the layout's family and its stand-in that the system has,
// and the Chinese family after it; with neither, the whole list, for the toolkit to search.
TEST(WindowFontFamilies, FirstFamilyTheSystemHas) {
  const struct {
    QStringList system;
    QStringList expected;
  } kCases[] = {
      {{"DejaVu Sans", "MS Sans Serif", "Liberation Sans"},
       {"MS Sans Serif", "WenQuanYi Micro Hei"}},
      {{"ms sans serif"}, {"MS Sans Serif", "WenQuanYi Micro Hei"}},
      {{"DejaVu Sans", "Liberation Sans"}, {"Liberation Sans", "WenQuanYi Micro Hei"}},
      {{"DejaVu Sans"}, {"MS Sans Serif", "Liberation Sans", "WenQuanYi Micro Hei"}},
      {{}, {"MS Sans Serif", "Liberation Sans", "WenQuanYi Micro Hei"}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(WindowFontFamilies("MS Sans Serif", c.system), c.expected)
        << c.system.join(',').toStdString();
  }
}

// The open lists are made when they first open: they still show the list's font, entries
// 20 pixels high and the entry under the pointer in inverted colours.
TEST_F(WindowTest, OpenListsKeepTheirLook) {
  Start();
  const QFontInfo window_font(window_->font());
  for (const char* name : {"cmbBaudRate", "cmbWiegand", "cmbRS485"}) {
    auto* list = Find<QComboBox>(name);
    list->showPopup();
    const QAbstractItemView* view = list->view();
    EXPECT_TRUE(view->isVisible()) << name;
    EXPECT_EQ(QFontInfo(view->font()).family(), window_font.family()) << name;
    EXPECT_EQ(QFontInfo(view->font()).pixelSize(), 16) << name;
    EXPECT_TRUE(QFontInfo(view->font()).bold()) << name;
    EXPECT_EQ(view->sizeHintForRow(0), 20) << name;
    const QColor highlight = QApplication::palette().color(QPalette::Highlight);
    EXPECT_EQ(view->palette().color(QPalette::Base), highlight) << name;
    EXPECT_EQ(view->palette().color(QPalette::Text), QColor(255, 255, 0)) << name;
    EXPECT_EQ(view->palette().color(QPalette::Highlight), QColor(255, 255, 0)) << name;
    EXPECT_EQ(view->palette().color(QPalette::HighlightedText), highlight) << name;
    list->hidePopup();
  }
}

// Where no icon theme is named, btnExit's picture is read directly: the same pixels as the
// style's standard close picture.
TEST_F(WindowTest, ExitShowsTheStyleStandardClosePicture) {
  Start();
  if (!QIcon::themeName().isEmpty()) GTEST_SKIP() << "an icon theme is named";
  auto* exit = Find<QPushButton>("btnExit");
  const QIcon standard = exit->style()->standardIcon(QStyle::SP_DialogCloseButton);
  for (int size : {16, 32}) {
    EXPECT_EQ(exit->icon().pixmap(size).toImage(), standard.pixmap(size).toImage()) << size;
  }
}

// Every text the message line and the captions can show fits its control, in every
// language.
TEST_F(WindowTest, NoTextIsClipped) {
  Start();
  auto* message_line = Find<QLabel>("pnMsg");
  const QFontMetrics line_metrics(message_line->font());
  const int line_width = message_line->contentsRect().width();
  struct Line {
    int message;
    const char* suffix;
  };
  const Line kLines[] = {
      {2, ""},  {18, " ...."}, {22, " : #16"}, {23, " : #16)"}, {24, " : #16)"}, {25, ""},
      {26, ""}, {27, ""},      {28, ""},       {32, ""},        {33, ""},        {34, ""},
      {38, ""}, {39, ""},      {40, ""},       {47, ""},        {48, ""},        {49, ""},
      {50, ""}, {51, ""},      {52, ""},       {53, ""},        {54, ""},        {55, ""},
      {56, ""}, {57, ""},      {58, ""},       {59, ""},        {60, ""},        {61, ""},
  };
  // Centred text that stays clear of the lamp at the right end of the line.
  const QWidget* lamp = Find("shComm");
  const int clear_of_lamp = 2 * (lamp->x() - message_line->width() / 2);
  for (int language = 0; language < 3; ++language) {
    for (const Line& line : kLines) {
      const QString text = Msg(line.message, language) + line.suffix;
      EXPECT_LE(line_metrics.horizontalAdvance(text), line_width) << text.toStdString();
      EXPECT_LE(line_metrics.horizontalAdvance(text), clear_of_lamp) << text.toStdString();
    }
    const QString open_error = Msg(16, language) + " : 16 " + Msg(17, language);
    EXPECT_LE(line_metrics.horizontalAdvance(open_error), line_width);

    QTest::mouseClick(Find(language == 0   ? "btnEng"
                           : language == 1 ? "btnGB"
                                           : "btnBIG5"),
                      Qt::LeftButton);
    for (const ShownText& shown : kShownTexts) {
      QWidget* widget = Find(shown.control);
      const QString text = TextOf(shown.control);
      const QFontMetrics metrics(widget->font());
      // Buttons and the group box keep a few pixels of their width for their frames.
      int room = widget->contentsRect().width();
      if (qobject_cast<QAbstractButton*>(widget)) room -= 8;
      if (qobject_cast<QGroupBox*>(widget)) room -= 16;
      if (shown.control == std::string("btnExit")) room -= 20;  // the picture
      EXPECT_LE(metrics.horizontalAdvance(text), room) << shown.control;
    }
    const QString cancel = Msg(3, language);
    EXPECT_LE(QFontMetrics(Find("btnReadCard")->font()).horizontalAdvance(cancel),
              Find("btnReadCard")->width() - 8);
    const QString tag_line = QStringLiteral("TAG ID : -000000001  FFFFFFFF(H)");
    EXPECT_LE(QFontMetrics(Find("pnCardID")->font()).horizontalAdvance(tag_line),
              Find<QLabel>("pnCardID")->contentsRect().width());
  }
}

}  // namespace
}  // namespace kelta
