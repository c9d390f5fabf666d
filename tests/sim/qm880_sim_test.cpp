// qm880-sim as a program: started with a temporary configuration folder, reached through
// the system's own serial channel on the pseudo-terminal it links as a COM port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "link/command_set.h"
#include "link/reader_link.h"
#include "link/serial_port.h"
#include "platform/config_dir.h"
#include "platform/serial_device.h"

namespace kelta {
namespace {

namespace fs = std::filesystem;

constexpr int kPort = 7;

// The program, its stdout and the temporary folder it links its port in.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    char pattern[] = "/tmp/qm880-sim-test.XXXXXX";
    folder_ = mkdtemp(pattern);
    // The channel finds ports/comN through the same variable as the program.
    setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(out[1], STDERR_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv{const_cast<char*>(QM880_SIM_PATH)};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(QM880_SIM_PATH, argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }

  ~SimProcess() {
    Stop();
    if (out_ >= 0) close(out_);
    fs::remove_all(folder_);
    unsetenv("XDG_CONFIG_HOME");
  }

  // Reads the program's output until `text` shows, the program ends, or 10 s pass.
  bool WaitFor(const std::string& text) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (output_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > give_up) return false;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[512];
      const ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0) return false;
      output_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  // SIGTERM; returns the exit status, or -1.
  int Stop() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    return Wait();
  }

  int Wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    WaitFor("\n(never)");  // drain what it printed last
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string Link(int port) const {
    return folder_ + "/KELTA/ReaderConfig/ports/com" + std::to_string(port);
  }
  const std::string& Output() const { return output_; }

 private:
  std::string folder_;
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

class Qm880SimTest : public ::testing::Test {
 protected:
  // Up to three tries, as the reader operations make them: the machine may be busy.
  bool Exchange(const std::string& mode, const std::string& command) {
    if (!link.OpenPort(kPort, mode)) return false;
    bool ok = false;
    for (int attempt = 0; attempt < 3 && !ok; ++attempt) ok = link.SendCommand(command);
    link.ClosePort();
    return ok;
  }

  SerialPort port{SystemSerialDevice(), SystemClock()};
  NoEventPump pump;
  ReaderLink link{port, SystemClock(), pump};
};

TEST_F(Qm880SimTest, AnswersTheScanOnItsPort) {
  SimProcess sim({"--port", std::to_string(kPort), "--serial", "SN004711", "--id", "07",
                  "--version", "VER12345", "--tag", "4D2"});
  ASSERT_TRUE(sim.WaitFor("COM7 -> /dev/pts/")) << sim.Output();
  ASSERT_TRUE(sim.WaitFor("ready\n")) << sim.Output();

  ASSERT_TRUE(Exchange(kBaudRateTable[kDefaultModeIndex], "A00B")) << sim.Output();
  EXPECT_EQ(link.ReplyLength(), kReaderInfoReplyLength);
  EXPECT_EQ(link.ReplyChars(3, 4), "07");
  EXPECT_EQ(link.ReplyChars(6, 13), "SN004711");
  ASSERT_TRUE(Exchange(kBaudRateTable[kDefaultModeIndex], "A00V"));
  EXPECT_EQ(link.ReplyChars(6, 13), "VER12345");
  ASSERT_TRUE(Exchange(kBaudRateTable[kDefaultModeIndex], "A00F"));
  EXPECT_EQ(link.ReplyLength(), kTagReplyLength);
  EXPECT_EQ(link.ReplyChars(7, 14), "000004D2");

  // The trace shows the frame received and the reply sent.
  EXPECT_TRUE(sim.WaitFor("<- 09 41 30 30 42 30 41 0D  |.A00B0A.|")) << sim.Output();
  EXPECT_TRUE(
      sim.WaitFor("|.B07"
                  "5SN004711"))
      << sim.Output();
}

TEST_F(Qm880SimTest, HearsOnlyItsBaudRateAndFollowsABaudRateChange) {
  SimProcess sim({"--port", std::to_string(kPort), "--mode", "9600,e,8,1"});
  ASSERT_TRUE(sim.WaitFor("ready\n")) << sim.Output();

  EXPECT_FALSE(Exchange("19200,e,8,1", "A00B"));
  EXPECT_TRUE(sim.WaitFor("not understood")) << sim.Output();
  // A pty does not carry parity: only the baud rate tells.
  EXPECT_TRUE(Exchange("9600,n,8,1", "A00B"));

  ASSERT_TRUE(Exchange("9600,e,8,1", "A00EB"));  // to 115200,e,8,1
  EXPECT_TRUE(sim.WaitFor("reader now listens at 115200,e,8,1")) << sim.Output();
  EXPECT_FALSE(Exchange("9600,e,8,1", "A00B"));
  EXPECT_TRUE(Exchange("115200,e,8,1", "A00B"));
  EXPECT_EQ(link.ReplyLength(), kReaderInfoReplyLength);
}

TEST_F(Qm880SimTest, FaultsReachTheClient) {
  SimProcess sim({"--port", std::to_string(kPort), "--lower-checksum", "--only", "V"});
  ASSERT_TRUE(sim.WaitFor("ready\n")) << sim.Output();
  EXPECT_TRUE(Exchange(kBaudRateTable[kDefaultModeIndex], "A00B"));
  EXPECT_FALSE(Exchange(kBaudRateTable[kDefaultModeIndex], "A00V"));
  EXPECT_EQ(link.ReplyText().size(), 16u) << "a complete reply, refused for its checksum";
}

TEST_F(Qm880SimTest, RemovesItsLinkWhenStopped) {
  SimProcess sim({"--port", std::to_string(kPort), "--quiet"});
  ASSERT_TRUE(sim.WaitFor("ready\n")) << sim.Output();
  struct stat st {};
  ASSERT_EQ(lstat(sim.Link(kPort).c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_NE(lstat(sim.Link(kPort).c_str(), &st), 0);
  EXPECT_NE(sim.Output().find("COM7 stopped"), std::string::npos) << sim.Output();
}

TEST_F(Qm880SimTest, AVanishedReaderCannotBeOpened) {
  SimProcess sim({"--port", std::to_string(kPort), "--vanish-after", "200"});
  ASSERT_TRUE(sim.WaitFor("ready\n")) << sim.Output();
  ASSERT_TRUE(sim.WaitFor("gone")) << sim.Output();
  EXPECT_FALSE(link.OpenPort(kPort, kBaudRateTable[kDefaultModeIndex]));
}

TEST(Qm880SimProgram, RefusesBadArgumentsAndExplainsItself) {
  SimProcess bad({"--port", "3", "--mode", "12"});
  EXPECT_TRUE(bad.WaitFor("--mode")) << bad.Output();
  EXPECT_EQ(bad.Wait(), 2);
  SimProcess help({"--help"});
  EXPECT_TRUE(help.WaitFor("Examples:")) << help.Output();
  EXPECT_TRUE(help.WaitFor("parity")) << help.Output();
}

}  // namespace
}  // namespace kelta
