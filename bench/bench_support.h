// What the benchmarks of the programs share: medians of their runs, and a configuration
// folder of their own, so that no stored setting of the user's is read and no real port is
// ever walked.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace kelta::bench {

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Starts `args` with its output and errors on /dev/null: its process, or -1.
inline pid_t SpawnQuietly(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Runs `args` quietly to its end: the wall time in ms, or -1 where it could not start.
inline double RunMs(const std::vector<std::string>& args) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = SpawnQuietly(args);
  if (pid < 0) return -1;
  waitpid(pid, nullptr, 0);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// The descriptors process `pid` has open.
inline int DescriptorsOf(pid_t pid) {
  std::error_code ec;
  int n = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    ++n;
  }
  return n;
}

// Runs `body` with XDG_CONFIG_HOME at a new folder named after `name`, removed afterwards;
// gives back what `body` gives.
template <class Body>
int InConfigFolder(const std::string& name, Body body) {
  namespace fs = std::filesystem;
  const fs::path home =
      fs::temp_directory_path() / ("kelta-" + name + "-" + std::to_string(getpid()));
  fs::create_directories(home);
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);
  const int code = body(home);
  fs::remove_all(home);
  return code;
}

}  // namespace kelta::bench
