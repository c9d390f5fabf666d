#include "link/serial_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "scripted_device.h"

namespace kelta {
namespace {

using test::ScriptedDevice;
using Calls = std::vector<std::string>;

struct Channel {
  VirtualClock clock;
  ScriptedDevice device{clock};
  SerialPort port{device, clock};
};

TEST(SerialPort, OpenSavesTheTimeoutsThenSetsItsOwnAndTheMode) {
  Channel c;
  EXPECT_EQ(c.port.PortTimeouts(), kChannelTimeouts);
  EXPECT_EQ(c.port.PortHandle(), kInvalidPortHandle);
  EXPECT_TRUE(c.port.OpenPort(3, "19200,e,8,1"));
  EXPECT_TRUE(c.port.IsOpen());
  EXPECT_EQ(c.port.PortHandle(), 7);
  EXPECT_EQ(c.port.SavedTimeouts(), (CommTimeouts{300, 5, 0, 0, 0}));
  EXPECT_EQ(c.port.PortTimeouts(), kChannelTimeouts);
  EXPECT_EQ(c.device.port_timeouts, kChannelTimeouts);
  EXPECT_EQ(c.device.calls,
            (Calls{"Open 3", "GetTimeouts 7", "SetTimeouts 7", "ApplyMode 7 19200,e,8,1"}));
}

// A port that refuses the time-outs or the mode is closed again with its own time-outs put
// back; time-outs that could not be read are not put back. A port still open when its
// owner goes is closed too.
TEST(SerialPort, APortThatRefusesTheTimeoutsOrTheModeDoesNotOpen) {
  const std::tuple<bool, bool, bool, const char*> cases[] = {
      // set, mode, get, reason
      {false, true, true, "the port refused the time-outs"},
      {true, false, true, "the port refused the mode junk"},
      {true, true, false, ""}};
  for (const auto& [set, mode, get, reason] : cases) {
    SCOPED_TRACE(reason);
    Channel c;
    std::tie(c.device.set_timeouts_result, c.device.apply_mode_result,
             c.device.get_timeouts_result) = std::tie(set, mode, get);
    {
      SerialPort port{c.device, c.clock};
      EXPECT_EQ(port.OpenPort(3, "junk"), set && mode);
      EXPECT_EQ(port.LastOpenError().text, reason);
    }
    EXPECT_EQ(c.device.calls.back(), "Close 7");
    EXPECT_EQ(std::count(c.device.calls.begin(), c.device.calls.end(), "SetTimeouts 7"),
              get ? 2 : 1);
  }
}

TEST(SerialPort, CloseGivesBackTheTimeoutsAndKeepsTheHandleValue) {
  Channel c;
  ASSERT_TRUE(c.port.OpenPort(3, "9600,n,8,1"));
  c.device.calls.clear();
  c.port.ClosePort();
  EXPECT_FALSE(c.port.IsOpen());
  EXPECT_EQ(c.device.port_timeouts, (CommTimeouts{300, 5, 0, 0, 0}));
  EXPECT_EQ(c.device.calls, (Calls{"SetTimeouts 7", "Close 7"}));
  EXPECT_EQ(c.port.PortHandle(), 7);

  // The number may name another file by now: nothing reaches the device any more.
  c.device.calls.clear();
  c.port.ClosePort();
  c.port.PurgePort();
  c.port.WriteByte(0x41);
  std::uint8_t b = 0;
  EXPECT_EQ(c.port.ReadByte(&b), 0);
  EXPECT_TRUE(c.device.calls.empty());
  EXPECT_TRUE(c.device.writes.empty());
}

TEST(SerialPort, FailedOpenStoresTheInvalidHandleAndKeepsTheSavedTimeouts) {
  Channel c;
  ASSERT_TRUE(c.port.OpenPort(3, "9600,n,8,1"));
  c.port.ClosePort();
  c.device.calls.clear();
  c.device.open_result = kInvalidPortHandle;
  c.device.port_timeouts = {1, 2, 3, 4, 5};
  EXPECT_FALSE(c.port.OpenPort(4, "9600,n,8,1"));
  EXPECT_FALSE(c.port.IsOpen());
  EXPECT_EQ(c.port.PortHandle(), kInvalidPortHandle);
  EXPECT_EQ(c.port.SavedTimeouts(), (CommTimeouts{300, 5, 0, 0, 0}));
  EXPECT_EQ(c.device.calls, (Calls{"Open 4"}));
}

TEST(SerialPort, SecondOpenLeavesTheOpenPortAlone) {
  Channel c;
  ASSERT_TRUE(c.port.OpenPort(3, "9600,n,8,1"));
  const CommTimeouts saved = c.port.SavedTimeouts();
  c.device.calls.clear();
  c.device.open_result = 9;
  EXPECT_FALSE(c.port.OpenPort(5, "19200,e,8,1"));
  EXPECT_TRUE(c.port.IsOpen());
  EXPECT_EQ(c.port.PortHandle(), 7);
  EXPECT_EQ(c.port.SavedTimeouts(), saved);
  EXPECT_TRUE(c.device.calls.empty());
}

TEST(SerialPort, WritesPauseAfterwardsEvenForAnEmptyBlock) {
  Channel c;
  ASSERT_TRUE(c.port.OpenPort(3, "9600,n,8,1"));
  const std::uint8_t block[] = {1, 2, 3};
  c.port.WriteByte(0x09);
  c.port.WriteBytes(block, 3);
  c.port.WriteBytes(block, 0);
  EXPECT_EQ(c.clock.SleptMs(), 1u + 5u + 5u);
  EXPECT_EQ(c.device.Written(), std::string("\x09\x01\x02\x03"));
}

TEST(SerialPort, ReadByteCountsAFailedReadAsNothing) {
  Channel c;
  ASSERT_TRUE(c.port.OpenPort(3, "9600,n,8,1"));
  std::uint8_t b = 0;
  c.device.read_result_when_idle = -2;
  EXPECT_EQ(c.port.ReadByte(&b), 0);
  EXPECT_FALSE(c.port.Lost());
  c.device.Answer(0, "Q");
  EXPECT_EQ(c.port.ReadByte(&b), 1);
  EXPECT_EQ(b, 'Q');
}

TEST(SerialPort, ALostPortStaysLostUntilTheNextOpen) {
  Channel c;
  ASSERT_TRUE(c.port.OpenPort(3, "9600,n,8,1"));
  std::uint8_t b = 0;
  c.device.read_result_when_idle = kPortLost;
  EXPECT_EQ(c.port.ReadByte(&b), kPortLost);
  EXPECT_TRUE(c.port.Lost());
  // Bytes that would now be there are not read: the handle is dead.
  c.device.Answer(0, "Q");
  EXPECT_EQ(c.port.ReadByte(&b), kPortLost);
  const std::uint8_t byte = 1;
  EXPECT_FALSE(c.port.WriteByte(byte));
  EXPECT_TRUE(c.device.writes.empty());
  c.port.ClosePort();
  EXPECT_TRUE(c.port.Lost());
  ASSERT_TRUE(c.port.OpenPort(3, "9600,n,8,1"));
  EXPECT_FALSE(c.port.Lost());
  EXPECT_EQ(c.port.ReadByte(&b), 1);
}

}  // namespace
}  // namespace kelta
