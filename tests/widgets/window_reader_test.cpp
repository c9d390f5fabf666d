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

// Qt takes the focus from a window it disables; it comes back to the control that had
// it, and during reading it stays on the reading button, so the keys alone start and end
// every action.
TEST_F(WindowReaderTest, TheFocusComesBackAfterAnActionAndStaysOnTheReadingButton) {
  Button("btnScan")->setFocus();
  QTest::keyClick(Button("btnScan"), Qt::Key_Return);
  ASSERT_TRUE(window_->Context().ReaderReady);
  EXPECT_EQ(window_->focusWidget(), Button("btnScan"));

  Button("btnID")->setFocus();
  QTest::keyClick(Button("btnID"), Qt::Key_Space);
  EXPECT_EQ(TextOf("pnMsg"), "Set Reader ID Ok");
  EXPECT_EQ(window_->focusWidget(), Button("btnID"));

  Button("btnReadCard")->setFocus();
  QWidget* focus_while_reading = nullptr;
  QTimer::singleShot(0, window_.get(), [&] {
    focus_while_reading = window_->focusWidget();
    // Without the focus the key goes to the button all the same, so that reading ends.
    QTest::keyClick(focus_while_reading ? focus_while_reading : Button("btnReadCard"),
                    Qt::Key_Space);
  });
  QTest::keyClick(Button("btnReadCard"), Qt::Key_Space);
  EXPECT_EQ(focus_while_reading, Button("btnReadCard"));
  EXPECT_FALSE(window_->Context().TagReadActive);
  EXPECT_EQ(window_->focusWidget(), Button("btnReadCard"));
}

// Presses after the cancelling one, while the cycle under way ends, start nothing: the
// port is still held, and nothing is enabled before the loop has closed it.
TEST_F(WindowReaderTest, PressesAfterTheCancellingOneAreIgnoredUntilReadingHasEnded) {
  Button("btnScan")->click();
  ASSERT_TRUE(window_->Context().ReaderReady);
  const std::string message = TextOf("pnMsg");
  line_.ClearLog();
  bool held_during_second_press = false;
  bool exit_enabled_before_the_end = true;
  QTimer::singleShot(0, window_.get(), [&] {
    Button("btnReadCard")->click();
    // The next pass of the same pause.
    QTimer::singleShot(0, window_.get(), [&] {
      held_during_second_press = line_.IsOpen(3);
      Button("btnReadCard")->click();
      exit_enabled_before_the_end =
          Button("btnExit")->isEnabled() || Button("btnScan")->isEnabled();
    });
  });
  // And one during the end beep, which the system's tone waits out (300 ms).
  bool end_press_while_ending = false;
  tone_.on_beep = [&](unsigned hz, unsigned ms) {
    if (hz != 1000 || ms != 300) return;
    QTimer::singleShot(0, window_.get(), [&] {
      end_press_while_ending = window_->Context().TagReadLoop;
      if (end_press_while_ending) Button("btnReadCard")->click();
    });
  };
  Button("btnReadCard")->click();
  QCoreApplication::processEvents();

  EXPECT_TRUE(held_during_second_press);
  EXPECT_TRUE(end_press_while_ending);
  EXPECT_FALSE(exit_enabled_before_the_end);
  EXPECT_EQ(TextOf("pnMsg"), message);
  EXPECT_EQ(line_.Opens().size(), 1u);
  EXPECT_FALSE(window_->Context().TagReadActive);
  EXPECT_TRUE(Button("btnExit")->isEnabled());
  EXPECT_EQ(TextOf("btnReadCard"), "Read TAG");
  EXPECT_FALSE(line_.IsOpen(3));
}

}  // namespace
}  // namespace kelta
