// qm880ctl commission against qm880-sim presenting reader after reader on one pseudo-
// terminal: the frames each reader heard (the simulator's trace), the rows of the record
// and of --json, and a profile refused before anything is sent.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "settings/settings.h"
#include "sim/sim_process.h"
#include "tests/cli/sim_folder_test.h"

namespace kelta {
namespace {

namespace fs = std::filesystem;

constexpr int kPort = 3;

class Commission : public SimFolderTest {
 protected:
  void StartSim(Strings options) {
    options.insert(options.end(), {"--log", (home_ / "sim.log").string()});
    StartSimOn(kPort, options);
  }
  Strings Heard() const { return HeardIn(home_ / "sim.log"); }
  fs::path Profile(const std::string& text) const {
    std::ofstream(home_ / "site.toml") << text;
    return home_ / "site.toml";
  }
};

constexpr const char* kProfile = R"(# the site's bus
port_mode = "9600,n,8,1"
wiegand = 34
rs485 = 32
rssi = 120
ids = [ { id = 7, label = "Gate 7 north" }, { id = 8, label = "Gate 8, \"south\"" }, 9 ]
)";

// Four readers come: the second refuses the output command, the third is the first one
// again (already in the site's mode). The list of three IDs is used up with the fourth.
TEST_F(Commission, ReaderAfterReaderEachWithItsRowAndTheFramesItHeard) {
  StartSim({"--serial", "QM880101", "--tag", "000004D2", "--gap", "300", "--next", "QM880102:::L",
            "--next", "QM880101:07:9600,n,8,1", "--next", "QM880103"});
  const fs::path record = home_ / "as-built.csv";
  const auto [code, out, err] =
      Run({"commission", Profile(kProfile).string(), "--record", record.string(), "--tag-test", "1",
           "--note", "bus A", "--json"});
  EXPECT_EQ(code, 1) << err;  // one reader not done

  // Each reader: found (A00B, A00V), then each setting after its probe, the port mode
  // last, the identity read back in the new mode, the tag test; the refused output
  // command tried three times and the run going on.
  const Strings settings = {"A00B", "A00V",   "A00B", "A00C{serial}{id}",
                            "A00B", "A00L11", "A00B", "A00O78",
                            "A00B", "A00E2",  "A00B", "A00V",
                            "A00F"};
  const auto expect_reader = [&](const Strings& heard, std::size_t& at, const std::string& serial,
                                 const std::string& id, bool refuses) {
    for (std::string want : settings) {
      if (want.find("{serial}") != std::string::npos) want = "A00C" + serial + id;
      while (at < heard.size() && heard[at] != want) {
        // Nothing else but probes, tag polls and the refused command's tries between.
        ASSERT_TRUE(heard[at] == "A00B" || heard[at] == "A00F" ||
                    (refuses && heard[at] == "A00L11"))
            << serial << ": " << heard[at] << " before " << want;
        ++at;
      }
      ASSERT_LT(at, heard.size()) << serial << " never heard " << want;
      ++at;
    }
  };
  const Strings heard = Heard();
  std::size_t at = 0;
  expect_reader(heard, at, "QM880101", "07", false);
  expect_reader(heard, at, "QM880102", "08", true);
  expect_reader(heard, at, "QM880101", "07", false);
  expect_reader(heard, at, "QM880103", "09", false);
  EXPECT_EQ(std::count(heard.begin(), heard.end(), "A00L11"), 1 + 3 + 1 + 1);

  struct RowCase {
    const char* serial;
    const char* id;
    const char* label;
    const char* result;
    const char* outputs;
  };
  const RowCase rows[] = {
      {"QM880101", "07", "Gate 7 north", "done", "wiegand 34, rs485 32 done"},
      {"QM880102", "08", "Gate 8, \"south\"", "partial", "wiegand 34, rs485 32 refused"},
      {"QM880101", "07", "Gate 7 north", "done", "wiegand 34, rs485 32 done"},
      {"QM880103", "09", "", "done", "wiegand 34, rs485 32 done"},
  };
  // The record as a spreadsheet reads it: a header, then one row per reader, quoted.
  const Strings lines = Lines(ReadFile(record));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].rfind("time,serial,version,id,label,result,set_id,outputs,", 0), 0u);
  EXPECT_NE(lines[2].find(",08,\"Gate 8, \"\"south\"\"\",partial,08 done,\"wiegand 34, rs485 "
                          "32 refused\",120 done,,,,\"9600,n,8,1 done\",08,heard 000004D2"),
            std::string::npos)
      << lines[2];
  const Strings json_lines = Lines(out);
  ASSERT_EQ(json_lines.size(), 4u) << out;
  for (std::size_t i = 0; i < 4; ++i) {
    const auto row = nlohmann::json::parse(json_lines[i]);
    SCOPED_TRACE(json_lines[i]);
    EXPECT_EQ(row["serial"], rows[i].serial);
    EXPECT_EQ(row["set_id"], std::string(rows[i].id) + " done");
    EXPECT_EQ(row["confirmed_id"], rows[i].id);
    EXPECT_EQ(row["label"], rows[i].label);
    EXPECT_EQ(row["result"], rows[i].result);
    EXPECT_EQ(row["outputs"], rows[i].outputs);
    EXPECT_EQ(row["port_mode"], "9600,n,8,1 done");
    EXPECT_EQ(row["known"], i == 2);
    EXPECT_EQ(row["note"], "bus A");
    EXPECT_EQ(row["tag_test"].get<std::string>().rfind("heard 000004D2", 0), 0u);
    // After the time, 2026-12-10T03:31:17.574+00:00.
    EXPECT_EQ(lines[i + 1].find(std::string(",") + rows[i].serial + ",V2.10.04," + rows[i].id),
              29u);
  }
  // The new port mode stored as set-baud stores it.
  Settings stored;
  LoadSettings(*MakeSystemSettingsStore(), stored);
  EXPECT_EQ(stored.ScanBaudRate, "9600,n,8,1");
}

// A profile with a fault is refused with its line and reason before any port is opened;
// --dry-run sends nothing but the identity probe and records nothing. A record of an
// earlier run gives a reader in it its ID again.
TEST_F(Commission, FaultyProfileSendsNothingAndDryRunOnlyProbes) {
  StartSim({"--serial", "QM880101"});
  const fs::path record = home_ / "as-built.csv";
  struct FaultCase {
    const char* text;
    const char* error;
  };
  const FaultCase faults[] = {
      {"rssi = 120\nradio = 3\nfirst_id = 1\n", "site.toml:2: unknown key \"radio\""},
      {"first_id = 1\n\nrssi = 251\n", "site.toml:3: rssi must be a whole number from 0 to 250"},
      {"first_id = 1\nwiegand = 30\nrs485 = 32\n", "site.toml:2: wiegand must be 26, 34 or 42"},
      {"port_mode = \"9600,x,8,1\"\nfirst_id = 1\n", "site.toml:1: port_mode must be one of"},
      {"ids = [ { id = 100 } ]\n", "site.toml:1: id must be a whole number from 1 to 99"},
      {"ids = [ 7, 7 ]\n", "site.toml:1: ID 7 is listed twice"},
      {"rssi = \n", "site.toml:1: "},
  };
  for (const FaultCase& f : faults) {
    const auto [code, out, err] =
        Run({"commission", Profile(f.text).string(), "--record", record.string()});
    EXPECT_EQ(code, 2) << f.text;
    EXPECT_NE(err.find(f.error), std::string::npos) << err;
  }
  EXPECT_TRUE(Heard().empty());
  EXPECT_FALSE(fs::exists(record));

  const std::string earlier =
      "time,serial,version,id,label,result,set_id,outputs,rssi,address,frequency,channel,"
      "port_mode,confirmed_id,tag_test,note\r\n"
      "t,QM880101,V2.10.04,12,\"Gate 12, \"\"west\"\"\",done,12 done,,,,,,,12,skipped,\r\n";
  std::ofstream(record, std::ios::binary) << earlier;
  const auto [code, out, err] =
      Run({"commission", Profile(kProfile).string(), "--record", record.string(), "--dry-run"});
  EXPECT_EQ(code, 0) << err;
  EXPECT_EQ(Heard(), (Strings{"A00B", "A00V"}));
  EXPECT_NE(err.find("in the record with ID 12"), std::string::npos) << err;
  EXPECT_NE(err.find("set_id 12: would send A00CQM88010112"), std::string::npos) << err;
  EXPECT_NE(err.find("port_mode 9600,n,8,1: would send A00E2"), std::string::npos) << err;
  EXPECT_EQ(ReadFile(record), earlier);
}

}  // namespace
}  // namespace kelta
