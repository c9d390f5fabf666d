// The operator's road through the real window and the system's serial channel to
// qm880-sim on a pseudo-terminal, offscreen, in a configuration folder of its own.
// The other fifteen ports are linked to a missing device, so no real port is touched.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/settings_store.h"
#include "platform/tone.h"
#include "sim/sim_process.h"
#include "ui/main_window.h"

namespace kelta {
namespace {

class QuietTone final : public Tone {
 public:
  void Beep(unsigned, unsigned) override {}
};

class ReaderEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(config_.isValid());
    qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    store_ = MakeSystemSettingsStore();
  }
  void Open() {
    window_.reset();
    window_ = std::make_unique<TfrmModule>(
        WindowServices{SystemSerialDevice(), SystemClock(), tone_, *store_});
    window_->show();
    QApplication::processEvents();
  }
  void Click(Ctl ctl) {
    auto* button = qobject_cast<QAbstractButton*>(window_->Control(ctl));
    ASSERT_NE(button, nullptr) << CtlName(ctl);
    button->click();
  }
  std::string Text(Ctl ctl) const { return window_->Text(ctl); }

  QTemporaryDir config_;
  std::unique_ptr<SettingsStore> store_;
  QuietTone tone_;
  std::unique_ptr<TfrmModule> window_;
};

TEST_F(ReaderEndToEnd, ScanFindsTheReaderAndTagsAreReadUntilTheSecondPress) {
  LinkOtherPortsToNothing(3);
  SimProcess sim(3, {"--tag", "000004D2"});
  ASSERT_TRUE(sim.Ready());
  Open();

  Click(Ctl::btnScan);
  EXPECT_EQ(Text(Ctl::pnMsg), "Get Reader Info Ok. (COM : #3)");
  EXPECT_EQ(Text(Ctl::pnSerial), "S/N : QM880001");
  EXPECT_EQ(Text(Ctl::pnVersion), "VER : V2.10.04");
  EXPECT_EQ(window_->CurrentSettings().ScanCommNo, 3);
  ASSERT_TRUE(window_->Context().ReaderReady);

  // The second press arrives from the message loop that reading runs.
  std::string shown;
  std::string caption;
  QTimer::singleShot(600, window_.get(), [&] {
    shown = Text(Ctl::pnCardID);
    caption = Text(Ctl::btnReadCard);
    Click(Ctl::btnReadCard);
  });
  Click(Ctl::btnReadCard);

  EXPECT_EQ(shown, "TAG ID : 0000001234  000004D2(H)");
  EXPECT_EQ(caption, "Cancel Read TAG");
  EXPECT_EQ(Text(Ctl::pnCardID), "TAG ID");
  EXPECT_EQ(Text(Ctl::btnReadCard), "Read TAG");
  EXPECT_FALSE(window_->Context().TagReadActive);
  EXPECT_TRUE(window_->Control(Ctl::btnScan)->isEnabled());
}

TEST_F(ReaderEndToEnd, SettingsReachTheReaderAndANewBaudRateIsFoundAfterARestart) {
  LinkOtherPortsToNothing(4);
  SimProcess sim(4, {"--tag", "000004D2"});
  ASSERT_TRUE(sim.Ready());
  Open();
  Click(Ctl::btnScan);
  ASSERT_EQ(Text(Ctl::pnMsg), "Get Reader Info Ok. (COM : #4)");

  window_->SetPosition(Ctl::sbID, 7);
  Click(Ctl::btnID);
  EXPECT_EQ(Text(Ctl::pnMsg), "Set Reader ID Ok");
  Click(Ctl::btnScan);  // at the stored place, which shows the reader's new ID
  EXPECT_EQ(Text(Ctl::pnID), "07");

  window_->SetSelection(Ctl::cmbRS485, 3);
  window_->SetSelection(Ctl::cmbWiegand, 2);
  Click(Ctl::btnMode);
  EXPECT_EQ(Text(Ctl::pnMsg), "Set Reader Mode Ok");

  window_->SetSelection(Ctl::cmbBaudRate, 10);
  Click(Ctl::btnBaudRate);
  EXPECT_EQ(Text(Ctl::pnMsg), "Set Reader BaudRate Ok");
  EXPECT_EQ(window_->CurrentSettings().ScanBaudRate, "115200,n,8,1");
  Click(Ctl::btnMode);  // the reader now answers at 115200
  EXPECT_EQ(Text(Ctl::pnMsg), "Set Reader Mode Ok");

  // A restart goes back to the stored mode; with chkLock ticked that is all it tries.
  Open();
  EXPECT_EQ(window_->CurrentSettings().ScanBaudRateNo, 5);
  ASSERT_TRUE(qobject_cast<QCheckBox*>(window_->Control(Ctl::chkLock))->isChecked());
  Click(Ctl::btnScan);
  EXPECT_EQ(Text(Ctl::pnMsg), "Reader Not Find");

  qobject_cast<QCheckBox*>(window_->Control(Ctl::chkLock))->setChecked(false);
  Click(Ctl::btnScan);
  EXPECT_EQ(Text(Ctl::pnMsg), "Get Reader Info Ok. (COM : #4)");
  EXPECT_EQ(window_->CurrentSettings().ScanBaudRateNo, 10);
  Open();
  EXPECT_EQ(window_->CurrentSettings().ScanBaudRateNo, 10);  // stored
  EXPECT_EQ(window_->CurrentSettings().ScanBaudRate, "115200,n,8,1");

  Click(Ctl::btnScan);
  Click(Ctl::btnReset);
  EXPECT_EQ(Text(Ctl::pnMsg), "Reader Reset Ok");
}

}  // namespace
}  // namespace kelta
