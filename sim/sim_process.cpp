#include "sim/sim_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/config_dir.h"

extern char** environ;

namespace kelta {

namespace fs = std::filesystem;

namespace {

const fs::path kNoDevice = "/nonexistent/tty";

fs::path PortLink(int number) {
  return fs::path(ConfigDir()) / "ports" / ("com" + std::to_string(number));
}

}  // namespace

void LinkPort(int number, const fs::path& target) {
  const fs::path link = PortLink(number);
  fs::create_directories(link.parent_path());
  std::error_code ignored;
  fs::remove(link, ignored);
  fs::create_symlink(target, link);
}

void LinkOtherPortsToNothing(int keep) {
  for (int p = 1; p <= 16; ++p) {
    if (p != keep) LinkPort(p, kNoDevice);
  }
}

SimProcess::SimProcess(int number, const std::vector<std::string>& options)
    : link_(PortLink(number)) {
  Spawn({KELTA_QM880_SIM, "--port", std::to_string(number), "--quiet"}, options);
}

SimProcess::SimProcess(const fs::path& link, const std::vector<std::string>& options)
    : link_(link) {
  Spawn({KELTA_QM880_SIM, "--link", link.string(), "--quiet"}, options);
}

void SimProcess::Spawn(std::vector<std::string> args, const std::vector<std::string>& options) {
  fs::create_directories(link_.parent_path());
  std::error_code ignored;
  fs::remove(link_, ignored);
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  for (int i = 0; i < 500 && pid_ > 0 && !Ready(); ++i) usleep(10000);
}

bool SimProcess::Ready() const {
  std::error_code ec;
  return fs::is_symlink(link_, ec) && fs::read_symlink(link_, ec) != kNoDevice && !ec;
}

void SimProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

}  // namespace kelta
