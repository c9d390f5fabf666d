// The window with the reader operations behind its buttons, on the in-memory line with a
// simulated reader: the clicks reach the operations, and the operations' waits run the
// window's message loop (a second press arrives while the first still runs).
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>

#include "sim/sim_line.h"
#include "sim/virtual_clock.h"
#include "tests/widgets/window_fakes.h"
#include "ui/main_window.h"

namespace kelta {
namespace {

class WindowReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    line_.AttachReader(3, ReaderModel(ReaderSettings{}, {SimTag{0x4D2, 1}}));
    window_ = std::make_unique<TfrmModule>(WindowServices{line_, clock_, tone_, store_});
    window_->show();
  }
  std::string TextOf(const char* name) const {
    return window_->Text(static_cast<Ctl>(IndexOf(name)));
  }
  static int IndexOf(const char* name) {
    for (int i = 0; i < kCtlCount; ++i) {
      if (std::string(CtlName(static_cast<Ctl>(i))) == name) return i;
    }
    return -1;
  }
  QPushButton* Button(const char* name) const {
    return window_->findChild<QPushButton*>(QString::fromLatin1(name));
  }
  QColor CommLamp() const {
    return window_->findChild<QWidget*>("shComm")->property("fill").value<QColor>();
  }

  VirtualClock clock_;
  SimLine line_{clock_};
  testing::RecordingTone tone_;
  testing::MemoryStore store_;
  std::unique_ptr<TfrmModule> window_;
};

TEST_F(WindowReaderTest, ScanFindsTheReaderAndALanguageChangeKeepsIt) {
  Button("btnScan")->click();
  EXPECT_EQ(TextOf("pnMsg"), "Get Reader Info Ok. (COM : #3)");
  EXPECT_EQ(TextOf("pnSerial"), "S/N : QM880001");
  EXPECT_EQ(TextOf("pnID"), "01");
  EXPECT_TRUE(window_->Context().ReaderReady);
  EXPECT_EQ(CommLamp(), QColor(255, 255, 0));
  EXPECT_TRUE(window_->isEnabled());
  EXPECT_FALSE(window_->tmrBusy->isActive());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(std::get<std::int32_t>(store_.values.at("ScanCommNo")), 3);

  Button("btnBIG5")->click();
  EXPECT_EQ(TextOf("pnSerial"), window_->Context().Msg(19) + " : ________");
  EXPECT_EQ(TextOf("pnID"), "01");
  EXPECT_TRUE(window_->Context().ReaderReady);
}

TEST_F(WindowReaderTest, TagReadingEndsOnTheNestedSecondPress) {
  Button("btnScan")->click();
  ASSERT_TRUE(window_->Context().ReaderReady);
  tone_.beeps.clear();
  // The second press, delivered by the message loop that the first press runs.
  bool seen_reading = false;
  QTimer::singleShot(0, window_.get(), [&] {
    // The group box takes the controls inside it along; the window itself stays enabled.
    seen_reading = window_->Context().TagReadActive && !Button("btnExit")->isEnabled() &&
                   !Button("btnRSSI")->isEnabled() && window_->isEnabled() &&
                   TextOf("btnReadCard") == "Cancel Read TAG";
    Button("btnReadCard")->click();
  });
  Button("btnReadCard")->click();

  EXPECT_TRUE(seen_reading);
  EXPECT_FALSE(window_->Context().TagReadActive);
  EXPECT_EQ(TextOf("btnReadCard"), "Read TAG");
  EXPECT_EQ(TextOf("pnCardID"), "TAG ID");
  EXPECT_TRUE(Button("btnExit")->isEnabled());
  EXPECT_TRUE(Button("btnScan")->isEnabled());
  EXPECT_TRUE(Button("btnRSSI")->isEnabled());
  EXPECT_TRUE(window_->isEnabled());
  // The cycle under way when the press came still read the tag.
  EXPECT_NE(std::find(tone_.beeps.begin(), tone_.beeps.end(), std::pair{1000u, 30u}),
            tone_.beeps.end());
  EXPECT_EQ(tone_.beeps.back(), (std::pair{1000u, 300u}));
  EXPECT_FALSE(line_.IsOpen(3));
}

// The focus comes back to the control that had it before the window was disabled, and
// stays on the reading button while tags are read: the keys alone start and end reading.
TEST_F(WindowReaderTest, TheFocusComesBackAfterAnActionAndStaysOnTheReadingButton) {
  for (const char* name : {"btnScan", "btnID"}) {  // busy state; window disabled directly
    Button(name)->setFocus();
    QTest::keyClick(Button(name), Qt::Key_Space);
    EXPECT_EQ(window_->focusWidget(), Button(name)) << TextOf("pnMsg");
  }
  QPushButton* reading = Button("btnReadCard");
  reading->setFocus();
  QWidget* focus_while_reading = nullptr;
  QTimer::singleShot(0, window_.get(), [&] {
    focus_while_reading = window_->focusWidget();
    QTest::keyClick(reading, Qt::Key_Space);
  });
  QTest::keyClick(reading, Qt::Key_Space);
  EXPECT_EQ(focus_while_reading, reading);
  EXPECT_EQ(window_->focusWidget(), reading);
}

// A nested press of Set Reader Mode during reading is refused; the window enabled again
// puts the focus back on the reading button, so that Space ends reading, not repeats it.
TEST_F(WindowReaderTest, AfterARefusedNestedPressTheFocusIsBackOnTheReadingButton) {
  Button("btnScan")->click();
  QPushButton* reading = Button("btnReadCard");
  std::string refusal;
  QTimer::singleShot(0, window_.get(), [&] {
    Button("btnMode")->setFocus();
    QTest::keyClick(Button("btnMode"), Qt::Key_Space);
    refusal = TextOf("pnMsg");
    QTest::keyClick(window_->focusWidget(), Qt::Key_Space);
    if (window_->Context().TagReadActive) reading->click();  // the focus was elsewhere
  });
  reading->click();
  EXPECT_EQ(refusal, "Set Reader Mode Error");
  EXPECT_EQ(window_->focusWidget(), reading);
  EXPECT_EQ(TextOf("pnMsg"), "Set Reader Mode Error");  // no second refusal
}

// Presses after the cancelling one, also during the closing beep (which the system's tone
// waits out), start nothing while the port is held and enable nothing before it closes.
TEST_F(WindowReaderTest, PressesAfterTheCancellingOneAreIgnoredUntilReadingHasEnded) {
  Button("btnScan")->click();
  const std::string message = TextOf("pnMsg");
  bool exit_enabled_while_reading = true;
  int ignored = 0;
  auto press_again = [&] {
    QTimer::singleShot(0, window_.get(), [&] {
      if (!window_->Context().TagReadLoop) return;  // too late: it would start reading
      exit_enabled_while_reading = Button("btnExit")->isEnabled();
      ++ignored;
      Button("btnReadCard")->click();
    });
  };
  QTimer::singleShot(0, window_.get(), [&] {
    Button("btnReadCard")->click();
    press_again();  // in the next pass of the same pause
  });
  tone_.on_beep = [&](unsigned hz, unsigned ms) {
    if (hz == 1000 && ms == 300) press_again();
  };
  Button("btnReadCard")->click();
  tone_.on_beep = nullptr;
  QCoreApplication::processEvents();
  EXPECT_EQ(ignored, 2);
  EXPECT_FALSE(exit_enabled_while_reading);
  EXPECT_EQ(TextOf("pnMsg"), message);
  EXPECT_FALSE(window_->Context().TagReadActive);
}

}  // namespace
}  // namespace kelta
