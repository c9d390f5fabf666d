// read-tags --mqtt against Debian's mosquitto on a free port of 127.0.0.1 and qm880-sim: what
// a subscriber gets through outages of the broker and kills of the program, and what is
// refused before or at the connection.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/sim_process.h"
#include "tests/cli/mosquitto_process.h"
#include "tests/cli/sim_folder_test.h"

namespace kelta {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Up to a minute: the client's reconnection waits grow to 30 s, and under emulation on a
// loaded machine a round of them with the broker's backlog takes its time.
template <class Ready>
bool Await(const fs::path& file, Ready ready) {
  return AwaitLines(file, ready, std::chrono::seconds(60));
}

class Mqtt : public SimFolderTest {
 protected:
  void StartSim(const std::vector<std::string>& options) { StartSimOn(3, options); }
  pid_t Ctl(const std::string& url, const fs::path& out, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {KELTA_QM880CTL, "--port", "3",      "--no-store", "read-tags",
                                     "--format",     "jsonl",  "--mqtt", url};
    args.insert(args.end(), more.begin(), more.end());
    return Spawn(args, out);
  }
};

// Reading with presence and --reconnect, published while the broker is stopped and started,
// the program killed with the broker up (its last will) and down, started again, and ended
// with Ctrl+C: the subscriber gets every line the runs printed, in order, with sequence numbers
// growing across the runs; a tag heard now and then comes and goes after the presence window,
// one a lost reader held goes a window after it is back without it; the status ends offline.
TEST_F(Mqtt, EveryLineArrivesInOrderThroughOutagesAndKills) {
  MosquittoProcess broker(home_, {"allow_anonymous true"});
  ASSERT_TRUE(broker.Start());
  const std::string port = std::to_string(broker.Port());
  const std::string url = "mqtt://127.0.0.1:" + port + "/site";
  const fs::path sub = home_ / "sub";
  const pid_t subscriber = Spawn({"mosquitto_sub", "-h", "127.0.0.1", "-p", port, "-t", "site/#",
                                  "-v", "-q", "1", "-c", "-i", "test-sub"},
                                 sub);
  ASSERT_TRUE(Await(sub, [&](const auto& lines) {
    EXPECT_EQ(system(("mosquitto_pub -h 127.0.0.1 -p " + port + " -t site/probe -m up").c_str()),
              0);
    return Count(lines, "site/probe") > 0;
  }));
  StartSim({"--tag", "000004D2", "--tag", "00BC614E:40"});
  const std::vector<std::string> presence = {"--reconnect", "--presence", "1"};
  const fs::path out1 = home_ / "out1", out2 = home_ / "out2", out3 = home_ / "out3";
  pid_t ctl = Ctl(url, out1, presence);
  ASSERT_TRUE(Await(sub, [](const auto& l) { return Count(l, "\"reason\":\"silence\"") > 0; }));
  const auto more_lines = [](const fs::path& out, long n) {
    const long had = static_cast<long>(LinesOf(out).size());
    return Await(out, [&](const auto& l) { return static_cast<long>(l.size()) >= had + n; });
  };
  broker.Stop();
  ASSERT_TRUE(more_lines(out1, 20));
  ASSERT_TRUE(broker.Start());
  kill(Sim().Pid(), SIGKILL);
  ASSERT_TRUE(Await(out1, [](const auto& l) { return Count(l, "\"lost\"") > 0; }));
  StartSim({"--tag", "00000001"});
  ASSERT_TRUE(Await(sub, [](const auto& l) { return Count(l, "\"reason\":\"resumed\"") > 0; }));
  EndProcess(ctl, SIGKILL);
  ASSERT_TRUE(Await(sub, [](const auto& l) { return l.back() == "site/QM880001/status offline"; }));

  ctl = Ctl(url, out2);
  ASSERT_TRUE(more_lines(out2, 5));
  broker.Stop();
  ASSERT_TRUE(more_lines(out2, 20));
  EndProcess(ctl, SIGKILL);
  ctl = Ctl(url, out3);
  ASSERT_TRUE(more_lines(out3, 5));
  ASSERT_TRUE(broker.Start());
  // The backlog of the run that began with the broker down reaches it once it is back (the
  // client's reconnection waits grow, so this is awaited, not assumed), then Ctrl+C.
  const std::string first_of_run3 = json::parse(LinesOf(out3).front())["time"];
  ASSERT_TRUE(Await(sub, [&](const auto& l) { return Count(l, first_of_run3) > 0; }));
  ASSERT_TRUE(more_lines(out3, 5));
  EXPECT_EQ(EndProcess(ctl, SIGINT), 0);
  ASSERT_TRUE(Await(sub, [](const auto& l) { return l.back() == "site/QM880001/status offline"; }));
  EndProcess(subscriber, SIGTERM);

  std::vector<std::string> printed;
  for (const fs::path& out : {out1, out2, out3}) {
    for (const std::string& line : LinesOf(out)) printed.push_back(json::parse(line).dump());
  }
  std::vector<std::string> arrived;
  std::map<long, std::string> by_seq;
  long last_seq = 0;
  for (const std::string& line : LinesOf(sub)) {
    if (line.find("/status ") != std::string::npos || line.find("probe") != std::string::npos) {
      continue;
    }
    json message = json::parse(line.substr(line.find(' ') + 1));
    const long seq = message["seq"];
    message.erase("seq");
    const auto [known, first] = by_seq.try_emplace(seq, message.dump());
    EXPECT_EQ(known->second, message.dump()) << "seq " << seq << " twice, differently";
    if (!first) continue;  // QoS 1's redelivery
    EXPECT_GT(seq, last_seq) << line;
    last_seq = seq;
    arrived.push_back(message.dump());
  }
  EXPECT_EQ(arrived, printed);
  EXPECT_GT(Count(printed, "\"event\":\"came\""), 2);
}

struct RefusalCase {
  const char* name;
  std::string user;  // before the host
  std::string host;
  bool tls;
  bool right_password;
  bool right_ca;
  int code;
  const char* message;
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class Refusal : public Mqtt, public testing::WithParamInterface<RefusalCase> {};

// A broker with TLS (a CA and a certificate for 127.0.0.1 made here) and a password file.
TEST_P(Refusal, ExitsWithItsCodeAndMessage) {
  const RefusalCase& c = GetParam();
  const std::string d = home_.string();
  const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
  const std::string make =
      "cd " + d + " && for ca in ca other; do openssl req -x509" + ec +
      "-days 2 -subj /CN=$ca "
      "-keyout $ca.key -out $ca.crt; done && openssl req" +
      ec +
      "-subj /CN=broker "
      "-keyout broker.key -out broker.csr && printf "
      "'subjectAltName=IP:127.0.0.1\\n' >san && openssl x509 -req -in broker.csr -CA ca.crt "
      "-CAkey ca.key -CAcreateserial -days 2 -extfile san -out broker.crt && mosquitto_passwd "
      "-c -b passwd gate secret && printf 'secret\\n' >right && printf 'wrong\\n' >wrong";
  ASSERT_EQ(system(("(" + make + ") >/dev/null 2>&1").c_str()), 0);
  MosquittoProcess broker(
      home_, {"allow_anonymous false", "password_file " + d + "/passwd", "cafile " + d + "/ca.crt",
              "certfile " + d + "/broker.crt", "keyfile " + d + "/broker.key"});
  ASSERT_TRUE(broker.Start());
  StartSim({"--tag", "000004D2"});
  const std::string host = c.host.empty() ? "127.0.0.1:" + std::to_string(broker.Port()) : c.host;
  std::vector<std::string> more = {"--count", "3", "--mqtt-password-file",
                                   d + (c.right_password ? "/right" : "/wrong")};
  if (c.tls) more.insert(more.end(), {"--mqtt-ca", d + (c.right_ca ? "/ca.crt" : "/other.crt")});
  const std::string err = d + "/err";
  const std::string command = std::string(KELTA_QM880CTL) + " --port 3 --no-store read-tags " +
                              "--mqtt " + (c.tls ? "mqtts://" : "mqtt://") + c.user + "@" + host +
                              "/site";
  std::string args;
  for (const std::string& m : more) args += " " + m;
  const int status = system((command + args + " >/dev/null 2>" + err).c_str());
  EXPECT_EQ(WEXITSTATUS(status), c.code);
  std::ifstream in(err);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find(c.message), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, Refusal,
    testing::Values(
        RefusalCase{"Published", "gate", "", true, true, true, 0, "polls "},
        RefusalCase{"WrongPassword", "gate", "", true, false, true, 6,
                    "refused the user name or password"},
        RefusalCase{"WrongCa", "gate", "", true, true, false, 7, "its certificate (or ours)"},
        RefusalCase{"PlainPasswordToAnotherHost", "gate", "192.0.2.1", false, true, true, 2,
                    "refusing to send the MQTT password unencrypted to 192.0.2.1"}),
    testing::PrintToStringParamName());

}  // namespace
}  // namespace kelta
