// What the tests of qm880ctl against qm880-sim share: a configuration folder of the test's
// own (every port leads to a missing device but those a simulator answers on), and the
// files a run leaves there read back: lines, lines awaited, the frames the simulator heard.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/settings_store.h"
#include "settings/settings.h"
#include "sim/sim_process.h"

namespace kelta {

using Strings = std::vector<std::string>;

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::vector<std::string> LinesOf(const std::filesystem::path& file) {
  return Lines(ReadFile(file));
}

// Waits up to `limit` for `ready` to hold on the lines of `file`.
template <class Ready>
bool AwaitLines(const std::filesystem::path& file, Ready ready,
                std::chrono::seconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!ready(LinesOf(file))) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// How many of `lines` hold `text`.
inline long Count(const std::vector<std::string>& lines, const std::string& text) {
  return std::count_if(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

// The command texts a simulator's trace (--log) shows it received, in order.
inline std::vector<std::string> HeardIn(const std::filesystem::path& log) {
  std::vector<std::string> texts;
  for (const std::string& line : LinesOf(log)) {
    const auto bar = line.find('|');
    if (line.find(" <- ") == std::string::npos || bar == std::string::npos) continue;
    const std::string frame = line.substr(bar + 1, line.rfind('|') - bar - 1);
    texts.push_back(frame.substr(1, frame.size() - 4));  // start byte, checksum, end byte
  }
  return texts;
}

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

class SimFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/kelta-cli-test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    home_ = dir;
    setenv("XDG_CONFIG_HOME", dir, 1);
    LinkOtherPortsToNothing(0);
  }
  void TearDown() override {
    sims_.clear();
    std::filesystem::remove_all(home_);
  }
  // A simulated reader answering as port `port`.
  void StartSimOn(int port, const std::vector<std::string>& options) {
    sims_.push_back(std::make_unique<SimProcess>(port, options));
    ASSERT_TRUE(sims_.back()->Ready());
  }
  // The settings a run left stored.
  static Settings Stored() {
    Settings s;
    LoadSettings(*MakeSystemSettingsStore(), s);
    return s;
  }
  // The simulator started last.
  SimProcess& Sim() { return *sims_.back(); }

  // Starts qm880ctl with `args`, its output going to files; as user `uid` when given, with
  // at most `processes` processes of that user when given.
  pid_t Start(const Strings& args, uid_t uid = static_cast<uid_t>(-1), rlim_t processes = 0) {
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open((home_ / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open((home_ / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      const rlimit limit{processes, processes};
      if (processes > 0 && setrlimit(RLIMIT_NPROC, &limit) != 0) _exit(97);
      // Under the leak checker, its check at exit needs a thread of its own, which the limit
      // forbids: it would end a run that went as it should with a failure of its own.
      if (processes > 0) {
        const char* asan = getenv("ASAN_OPTIONS");
        const std::string options = std::string(asan ? asan : "") + ":detect_leaks=0";
        setenv("ASAN_OPTIONS", options.c_str(), 1);
      }
      if (uid != static_cast<uid_t>(-1) && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(99);
      std::vector<char*> argv{const_cast<char*>(KELTA_QM880CTL)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(98);
    }
    return pid;
  }
  Result Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            ReadFile(home_ / "out"), ReadFile(home_ / "err")};
  }
  Result Run(const Strings& args, uid_t uid = static_cast<uid_t>(-1), rlim_t processes = 0) {
    return Wait(Start(args, uid, processes));
  }

  std::filesystem::path home_;
  std::vector<std::unique_ptr<SimProcess>> sims_;
};

}  // namespace kelta
