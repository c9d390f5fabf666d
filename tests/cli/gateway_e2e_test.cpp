// qm880ctl on a gateway: several readers on several ports, against qm880-sim processes in a
// configuration folder of the test's own (the ports without a simulator lead nowhere).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "settings/settings.h"
#include "sim/sim_process.h"

namespace kelta {
namespace {

namespace fs = std::filesystem;

struct Output {
  int code = -1;
  std::string out;
};

class Gateway : public testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/kelta-gateway-test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    home_ = dir;
    setenv("XDG_CONFIG_HOME", dir, 1);
    LinkOtherPortsToNothing(0);
  }
  void TearDown() override {
    sims_.clear();
    fs::remove_all(home_);
  }
  void StartSim(int port, std::vector<std::string> options) {
    sims_.push_back(std::make_unique<SimProcess>(port, options));
    ASSERT_TRUE(sims_.back()->Ready());
  }
  // qm880ctl with `args`; standard error goes to a file of the folder.
  Output Run(const std::string& args) const {
    const std::string command =
        std::string(KELTA_QM880CTL) + " " + args + " 2>" + (home_ / "err").string();
    Output o;
    std::FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      o.out.append(buffer, n);
    const int status = pclose(pipe);
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
  }
  static Settings Stored() {
    Settings s;
    LoadSettings(*MakeSystemSettingsStore(), s);
    return s;
  }

  fs::path home_;
  std::vector<std::unique_ptr<SimProcess>> sims_;
};

struct EveryCase {
  const char* name;
  // Port and mode; modes without parity, which a pseudo-terminal cannot tell from those with.
  std::vector<std::pair<int, int>> readers;
  int stored_port;  // 0: nothing stored
  int code;
};
void PrintTo(const EveryCase& c, std::ostream* os) { *os << c.name; }

class ScanEvery : public Gateway, public testing::WithParamInterface<EveryCase> {};

TEST_P(ScanEvery, ReportsEveryReaderAndStoresOnlyALoneOne) {
  const EveryCase& c = GetParam();
  for (const auto& [port, mode] : c.readers) {
    StartSim(port, {"--mode", std::to_string(mode), "--serial", "QM88000" + std::to_string(port)});
  }

  const Output o = Run("--json scan --every --all-modes");

  EXPECT_EQ(o.code, c.code);
  const nlohmann::json list = nlohmann::json::parse(o.out);
  ASSERT_EQ(list.size(), c.readers.size()) << o.out;
  for (std::size_t i = 0; i < c.readers.size(); ++i) {
    EXPECT_EQ(list[i]["port"], c.readers[i].first);
    EXPECT_EQ(list[i]["mode_index"], c.readers[i].second);
    EXPECT_EQ(list[i]["serial"], "QM88000" + std::to_string(c.readers[i].first));
    EXPECT_EQ(list[i]["version"], "V2.10.04");
    EXPECT_EQ(list[i]["stored"], c.stored_port == c.readers[i].first);
  }
  EXPECT_EQ(Stored().ScanCommNo, c.stored_port);
}

INSTANTIATE_TEST_SUITE_P(Cli, ScanEvery,
                         testing::Values(EveryCase{"None", {}, 0, 3},
                                         EveryCase{"One", {{4, 2}}, 4, 0},
                                         EveryCase{"TwoInDifferentModes", {{2, 8}, {9, 0}}, 0, 0}),
                         testing::PrintToStringParamName());

}  // namespace
}  // namespace kelta
