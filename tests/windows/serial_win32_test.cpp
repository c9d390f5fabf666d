// The Win32 serial channel against the reader simulator on a pseudo-terminal, which
// run-with-sim.sh links into the Wine prefix as a COM port. Wine shares ports freely
// and a pty keeps no parity, so exclusivity and parity are left to the POSIX tests.
#include <gtest/gtest.h>
#include <windows.h>
// (after windows.h, which it needs)
#include <mmsystem.h>

#include <cstdlib>
#include <string>

#include "link/command_set.h"
#include "link/reader_link.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/serial_device.h"

namespace kelta {
namespace {

// A port number with no dosdevices link behind it in the test prefix.
constexpr int kMissingPort = 97;
// Distinct in every field, so a field mapped to the wrong member shows.
constexpr CommTimeouts kFoundTimeouts{7, 11, 13, 17, 19};

int SimPort() {
  const char* port = std::getenv("KELTA_SIM_PORT");
  return port != nullptr ? std::atoi(port) : 0;
}

std::string SimMode() {
  const char* mode = std::getenv("KELTA_SIM_MODE");
  return mode != nullptr ? mode : "19200,e,8,1";
}

// The system's ports, with kFoundTimeouts put on each port as it opens (Wine starts
// every handle at zero time-outs) and the time-outs the port has just before it closes
// recorded.
class ObservedDevice final : public SerialDevice {
 public:
  PortHandleType Open(int number) override {
    const PortHandleType handle = real_.Open(number);
    if (handle != kInvalidPortHandle) real_.SetTimeouts(handle, kFoundTimeouts);
    return handle;
  }
  bool GetTimeouts(PortHandleType h, CommTimeouts& t) override { return real_.GetTimeouts(h, t); }
  bool SetTimeouts(PortHandleType h, const CommTimeouts& t) override {
    return real_.SetTimeouts(h, t);
  }
  bool ApplyMode(PortHandleType h, std::string_view mode) override {
    return real_.ApplyMode(h, mode);
  }
  bool Purge(PortHandleType h) override { return real_.Purge(h); }
  bool Write(PortHandleType h, const std::uint8_t* data, int count) override {
    written.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
    return real_.Write(h, data, count);
  }
  int Read(PortHandleType h, std::uint8_t* place) override { return real_.Read(h, place); }
  void Close(PortHandleType h) override {
    real_.GetTimeouts(h, timeouts_at_close);
    real_.Close(h);
  }

  std::string written;
  CommTimeouts timeouts_at_close{};

 private:
  SerialDevice& real_ = SystemSerialDevice();
};

DCB CommState(PortHandleType handle) {
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  EXPECT_TRUE(GetCommState(reinterpret_cast<HANDLE>(handle), &dcb));
  return dcb;
}

class Win32SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(SimPort(), 0) << "run through run-with-sim.sh, which sets KELTA_SIM_PORT";
  }
  void TearDown() override {
    if (port_.IsOpen()) port_.ClosePort();
  }

  ObservedDevice device_;
  SerialPort port_{device_, SystemClock()};
};

TEST(Win32PortName, EveryNumberUsesTheDeviceNamespace) {
  const std::pair<int, const char*> cases[] = {
      {1, "\\\\.\\COM1"},   {3, "\\\\.\\COM3"},   {9, "\\\\.\\COM9"},
      {10, "\\\\.\\COM10"}, {16, "\\\\.\\COM16"}, {0, "\\\\.\\COM0"},
  };
  for (const auto& [number, name] : cases) EXPECT_EQ(PortDeviceName(number), name);
  EXPECT_EQ(PortDeviceName(-1), "");
}

// A port whose converter was pulled out fails every read at once; each read must still
// take its 1 ms, or the reply wait and tag reading would spin. An event handle fails
// ReadFile the same way.
TEST(Win32SerialRead, AFailingReadStillTakesItsTimeout) {
  const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  const auto handle = reinterpret_cast<PortHandleType>(event);
  constexpr int kReads = 50;
  std::uint8_t b = 0;
  const DWORD start = timeGetTime();
  for (int i = 0; i < kReads; ++i) EXPECT_EQ(SystemSerialDevice().Read(handle, &b), 0);
  EXPECT_GE(timeGetTime() - start, static_cast<DWORD>(kReads));
  CloseHandle(event);
}

TEST_F(Win32SerialTest, AMissingPortDoesNotOpenAndKeepsTheSavedTimeouts) {
  ASSERT_TRUE(port_.OpenPort(SimPort(), SimMode()));
  port_.ClosePort();
  ASSERT_EQ(port_.SavedTimeouts(), kFoundTimeouts);

  for (const int number : {0, kMissingPort, -1}) {
    SCOPED_TRACE(number);
    EXPECT_FALSE(port_.OpenPort(number, SimMode()));
    EXPECT_FALSE(port_.IsOpen());
    EXPECT_EQ(port_.PortHandle(), kInvalidPortHandle);
    EXPECT_EQ(port_.SavedTimeouts(), kFoundTimeouts);
  }
}

TEST_F(Win32SerialTest, TimeoutsAreSetWhileOpenAndGivenBackAtClose) {
  ASSERT_TRUE(port_.OpenPort(SimPort(), SimMode()));
  EXPECT_EQ(port_.SavedTimeouts(), kFoundTimeouts);
  CommTimeouts now{};
  ASSERT_TRUE(SystemSerialDevice().GetTimeouts(port_.PortHandle(), now));
  EXPECT_EQ(now, kChannelTimeouts);
  port_.ClosePort();
  EXPECT_EQ(device_.timeouts_at_close, kFoundTimeouts);
}

TEST_F(Win32SerialTest, TheModeSetsTheBaudRateWithoutFlowControlAndIsGivenBackAtClose) {
  // The port's own settings, which every close puts back.
  SerialDevice& device = SystemSerialDevice();
  const PortHandleType raw = device.Open(SimPort());
  ASSERT_NE(raw, kInvalidPortHandle);
  const DWORD initial = CommState(raw).BaudRate;
  device.Close(raw);

  struct Case {
    const char* mode;
    DWORD baud;
  };
  const Case cases[] = {
      {"4800,n,8,1", 4800}, {"9600,e,8,1", 9600}, {"57600,n,8,1", 57600}, {"115200,e,8,1", 115200}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_TRUE(port_.OpenPort(SimPort(), c.mode));
    const DCB dcb = CommState(port_.PortHandle());
    EXPECT_EQ(dcb.BaudRate, c.baud);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_FALSE(dcb.fOutX);
    EXPECT_FALSE(dcb.fInX);
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_FALSE(dcb.fOutxDsrFlow);
    EXPECT_NE(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    port_.ClosePort();
  }

  // A string that cannot be applied fails the open and changes nothing: the line is as
  // every close left it, in the port's own settings.
  for (const char* bad : {"", "abc", "9600,q,8,1", "19200,e,8"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(port_.OpenPort(SimPort(), bad));
    port_.ClosePort();
    EXPECT_EQ(port_.LastOpenError().text, std::string("the port refused the mode ") + bad);
    const PortHandleType again = device.Open(SimPort());
    ASSERT_NE(again, kInvalidPortHandle) << "the refused port was not closed";
    EXPECT_EQ(CommState(again).BaudRate, initial);
    device.Close(again);
  }
}

TEST_F(Win32SerialTest, FlowControlLeftOnByAnotherProgramIsSwitchedOff) {
  SerialDevice& device = SystemSerialDevice();
  const PortHandleType handle = device.Open(SimPort());
  ASSERT_NE(handle, kInvalidPortHandle);
  DCB dcb = CommState(handle);
  dcb.fOutX = TRUE;
  dcb.fInX = TRUE;
  dcb.fOutxCtsFlow = TRUE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  ASSERT_TRUE(SetCommState(reinterpret_cast<HANDLE>(handle), &dcb));
  const DCB handshaking = CommState(handle);
  EXPECT_TRUE(handshaking.fOutX || handshaking.fOutxCtsFlow) << "nothing to switch off";

  EXPECT_TRUE(device.ApplyMode(handle, SimMode()));
  const DCB after = CommState(handle);
  EXPECT_FALSE(after.fOutX);
  EXPECT_FALSE(after.fInX);
  EXPECT_FALSE(after.fOutxCtsFlow);
  EXPECT_NE(after.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
  device.Close(handle);
}

// A device that takes no time-outs (a file named as the port) does not open: it would keep
// whatever time-outs it has. Nothing is put back at the close.
TEST(Win32SerialOpen, APortThatRefusesTheTimeoutsDoesNotOpen) {
  char folder[MAX_PATH] = {};
  char file[MAX_PATH] = {};
  ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
  ASSERT_NE(GetTempFileNameA(folder, "kel", 0, file), 0u);
  SetPortDevice(kMissingPort, file);
  SerialPort port{SystemSerialDevice(), SystemClock()};
  EXPECT_FALSE(port.OpenPort(kMissingPort, "19200,e,8,1"));
  EXPECT_FALSE(port.HasSavedTimeouts());
  EXPECT_EQ(port.LastOpenError().text, "the port refused the time-outs");
  SetPortDevice(kMissingPort, "");
  EXPECT_TRUE(DeleteFileA(file));  // closed: share mode 0 would keep it
}

// Sends `text` up to three times, as the operations do: the line may drop a frame.
bool Exchange(ReaderLink& link, std::string_view text) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (link.SendCommand(text)) return true;
  }
  return false;
}

TEST_F(Win32SerialTest, AFrameGoesOutWholeAndTheReplyComesInWhole) {
  NoEventPump pump;
  ReaderLink link(port_, SystemClock(), pump);
  ASSERT_TRUE(link.OpenPort(SimPort(), SimMode()));
  device_.written.clear();
  ASSERT_TRUE(Exchange(link, CmdReaderInfo()));
  const std::string frame(
      "\x09"
      "A00B0A\x0D");
  ASSERT_FALSE(device_.written.empty());
  std::string tries;  // the whole frame once a try, and nothing else
  while (tries.size() < device_.written.size()) tries += frame;
  EXPECT_EQ(device_.written, tries);
  // The reader's answer (mode 5 of 19200,e,8,1), byte for byte: no CR/LF translation,
  // no byte lost on the way in.
  EXPECT_EQ(link.ReplyText(), ReplyFrame(std::string("B") + KELTA_SIM_ID + "5" + KELTA_SIM_SERIAL));
  EXPECT_EQ(link.ReplyLength(), kReaderInfoReplyLength);

  ASSERT_TRUE(Exchange(link, CmdVersion()));
  EXPECT_EQ(link.ReplyChars(6, 13), KELTA_SIM_VERSION);
  link.ClosePort();
}

// The reader understands only a line at its own baud rate, which a pty carries: the
// mode really reaches the line. (Parity does not travel over a pty.)
TEST_F(Win32SerialTest, TheReaderAnswersOnlyAtItsBaudRate) {
  NoEventPump pump;
  ReaderLink link(port_, SystemClock(), pump);
  const struct {
    const char* mode;
    bool answers;
  } cases[] = {{"9600,e,8,1", false}, {"115200,e,8,1", false}, {"19200,e,8,1", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_TRUE(link.OpenPort(SimPort(), c.mode));
    EXPECT_EQ(Exchange(link, CmdReaderInfo()), c.answers);
    link.ClosePort();
  }
}

TEST_F(Win32SerialTest, PurgeDiscardsAReplyWaitingToBeRead) {
  ASSERT_TRUE(port_.OpenPort(SimPort(), SimMode()));
  const std::string frame = CommandFrame(CmdVersion());
  port_.WriteBytes(reinterpret_cast<const std::uint8_t*>(frame.data()),
                   static_cast<int>(frame.size()));

  // The reply arrives while nobody reads; wait until its first byte is there.
  std::uint8_t b = 0;
  int got = 0;
  for (int i = 0; i < 500 && got == 0; ++i) got = port_.ReadByte(&b);
  ASSERT_EQ(got, 1) << "no reply to " << CmdVersion();
  EXPECT_EQ(b, 0x0A);
  ::Sleep(100);  // the rest of the reply lands in the input queue
  port_.PurgePort();
  int after_purge = 0;
  for (int i = 0; i < 20; ++i) after_purge += port_.ReadByte(&b);
  EXPECT_EQ(after_purge, 0);
}

TEST_F(Win32SerialTest, ReadingAnIdleLineGivesNoByte) {
  ASSERT_TRUE(port_.OpenPort(SimPort(), SimMode()));
  port_.PurgePort();
  std::uint8_t b = 0x55;
  EXPECT_EQ(port_.ReadByte(&b), 0);
  EXPECT_EQ(b, 0x55);
}

}  // namespace
}  // namespace kelta
