#include "reader/port_walk.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "reader/operations.h"
#include "tests/reader/reader_rig.h"

namespace kelta::test {
namespace {

using Readers = std::vector<std::pair<int, int>>;  // port, mode

// One port's own world (its line, clock, tap and link), on the thread that walks it.
using PortWorld = ReaderRig;

class WorldLink final : public OwnLink {
 public:
  explicit WorldLink(PortWorld& world) : world_(world) {}
  ReaderLink& Link() override { return world_.link; }
  Clock& LinkClock() override { return world_.clock; }

 private:
  PortWorld& world_;
};

// Ports as the rig's line has them, each on a line and clock of its own.
class WorldLinks final : public LinkMaker {
 public:
  WorldLinks(const Readers& readers, const std::vector<int>& empty)
      : readers_(readers), empty_(empty) {}
  std::unique_ptr<OwnLink> MakeLink(int port) override {
    auto& world = worlds[port] = std::make_unique<PortWorld>();
    for (const auto& [number, mode] : readers_) {
      ReaderSettings reader;
      reader.mode_index = mode;
      if (number == port) world->line.AttachReader(port, ReaderModel(reader));
    }
    for (const int number : empty_) {
      if (number == port) world->line.AddEmptyPort(port);
    }
    return std::make_unique<WorldLink>(*world);
  }
  std::map<int, std::unique_ptr<PortWorld>> worlds;

 private:
  Readers readers_;
  std::vector<int> empty_;
};

class StepLog final : public ReaderEvents {
 public:
  void ScanOpened(int port, const std::string& mode, bool opened, const OpenError&) override {
    steps.push_back("open " + std::to_string(port) + " " + mode + " " + std::to_string(opened));
  }
  void ScanProbed(int port, const std::string& mode, bool found, const ReplyWait&,
                  int length) override {
    steps.push_back("probe " + std::to_string(port) + " " + mode + " " + std::to_string(found) +
                    " " + std::to_string(length));
  }
  std::vector<std::string> steps;
};

// A frame as the port sees it: its mode, its text and the quiet before it.
using Sent = std::tuple<std::string, std::string, std::uint32_t>;

std::vector<Sent> SentOn(const std::vector<LineTap::Frame>& frames, int port) {
  std::vector<Sent> sent;
  for (const auto& f : frames) {
    if (f.port == port) sent.emplace_back(f.mode, f.text, f.quiet_ms);
  }
  return sent;
}

struct WalkCase {
  std::string name;
  Readers readers;
  std::vector<int> empty;
  bool locked = false;
};
void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

class WalkAtOnce : public testing::TestWithParam<WalkCase> {
 protected:
  void Prepare(ReaderRig& rig) const {
    const WalkCase& c = GetParam();
    rig.view.SetChecked(Ctl::chkLock, c.locked);
    for (const auto& [port, mode] : c.readers) rig.AttachReader(port, mode);
    for (const int port : c.empty) rig.line.AddEmptyPort(port);
  }
};

TEST_P(WalkAtOnce, StoresThePlaceOfTheWalkInOrderAndSendsItsFramesOnEachPort) {
  ReaderRig in_order;
  Prepare(in_order);
  StepLog in_order_steps;
  in_order.ctx.events = &in_order_steps;
  const ScanResult expected = ScanReader(in_order.ctx);

  ReaderRig at_once;
  Prepare(at_once);
  WorldLinks links(GetParam().readers, GetParam().empty);
  at_once.ctx.links = &links;
  StepLog at_once_steps;
  at_once.ctx.events = &at_once_steps;
  const ScanResult got = ScanReader(at_once.ctx);

  EXPECT_EQ(got.found, expected.found);
  EXPECT_EQ(got.stored, expected.stored);
  EXPECT_EQ(got.ready, expected.ready);
  EXPECT_EQ(got.serial, expected.serial);
  EXPECT_EQ(got.id, expected.id);
  EXPECT_EQ(got.version, expected.version);
  EXPECT_EQ(at_once.settings.ScanCommNo, in_order.settings.ScanCommNo);
  EXPECT_EQ(at_once.settings.ScanBaudRateNo, in_order.settings.ScanBaudRateNo);
  EXPECT_EQ(at_once.store.writes, in_order.store.writes);
  EXPECT_EQ(at_once.LastMsg(), in_order.LastMsg());
  EXPECT_EQ(at_once_steps.steps, in_order_steps.steps);

  // Every port the walk in order reached got the same frames, pauses included; the ports
  // past the one found are stopped early and get at most what their own walk sends.
  const int last = expected.found ? expected.port : 16;
  ASSERT_EQ(links.worlds.size(), 16u);
  for (int port = 1; port <= last; ++port) {
    std::vector<Sent> sent = SentOn(links.worlds[port]->tap.frames, port);
    const std::vector<Sent> after = SentOn(at_once.tap.frames, port);
    sent.insert(sent.end(), after.begin(), after.end());
    EXPECT_EQ(sent, SentOn(in_order.tap.frames, port)) << "COM" << port;
  }
  for (const auto& [port, world] : links.worlds) EXPECT_FALSE(world->port.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Places, WalkAtOnce,
    testing::Values(WalkCase{"NoReader", {}, {2, 4, 9}},
                    WalkCase{"OneReader", {{5, 3}}, {2, 7, 16}},
                    // The later port answers sooner, in its first mode; the earlier one wins.
                    WalkCase{"TwoReadersInDifferentModes", {{6, 9}, {11, 0}}, {3}},
                    WalkCase{"LockedModePassesOverAReaderInAnother", {{2, 3}, {4, 5}}, {}, true}),
    CaseName{});

}  // namespace
}  // namespace kelta::test
