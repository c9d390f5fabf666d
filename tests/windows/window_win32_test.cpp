// The window as Windows makes it (Qt's windows platform plugin on Wine's X11 driver, on
// a virtual display): the frame and system menu that the operator gets, and the cursor
// while an operation runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "tests/widgets/window_fakes.h"
#include "ui/main_window.h"

namespace kelta {
namespace {

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    hwnd_ = reinterpret_cast<HWND>(window_.winId());
  }

  testing::NoPorts device_;
  testing::StillClock clock_;
  testing::RecordingTone tone_;
  testing::MemoryStore store_;
  TfrmModule window_{WindowServices{device_, clock_, tone_, store_}};
  HWND hwnd_ = nullptr;
};

TEST_F(Win32WindowTest, TheSystemMenuHasNoCloseAndTheFrameNoMaximiseNorSizing) {
  HMENU menu = GetSystemMenu(hwnd_, FALSE);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));
  EXPECT_NE(GetMenuState(menu, SC_MINIMIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE));
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
}

TEST_F(Win32WindowTest, AltF4AndTheTaskBarsCloseLeaveTheWindowOpen) {
  // Alt+F4 and Close in the task bar's menu arrive as SC_CLOSE; a program may also be
  // sent WM_CLOSE directly.
  SendMessageW(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
  QApplication::processEvents();
  SendMessageW(hwnd_, WM_CLOSE, 0, 0);
  QApplication::processEvents();
  EXPECT_TRUE(IsWindowVisible(hwnd_));
  EXPECT_TRUE(window_.isVisible());
}

TEST_F(Win32WindowTest, TheHourglassIsWindowsWaitCursor) {
  window_.SetHourglass(true);
  QApplication::processEvents();
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
  window_.SetHourglass(false);
  QApplication::processEvents();
  EXPECT_NE(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
}

}  // namespace
}  // namespace kelta

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "windows");
  QApplication app(argc, argv);
  kelta::InitApplication();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
