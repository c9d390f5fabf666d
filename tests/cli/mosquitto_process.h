// Debian's mosquitto as a child process on a free port of 127.0.0.1, for the tests and
// benchmarks of publishing; its configuration lines are the caller's.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace kelta {

inline int FreeLoopbackPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), n);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  close(s);
  return ntohs(a.sin_port);
}

inline pid_t Spawn(const std::vector<std::string>& args, const std::filesystem::path& out) {
  std::fflush(stdout);  // what the parent printed is not the child's to print again
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (!freopen(out.c_str(), "a", stdout) || !freopen("/dev/null", "w", stderr)) _exit(97);
    execvp(argv[0], argv.data());
    _exit(98);
  }
  return pid;
}

inline int EndProcess(pid_t pid, int signal) {
  int status = 0;
  kill(pid, signal);
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class MosquittoProcess {
 public:
  // `lines` after "listener PORT 127.0.0.1"; persistence in `dir`, kept across Start/Stop.
  MosquittoProcess(const std::filesystem::path& dir, const std::vector<std::string>& lines)
      : dir_(dir), port_(FreeLoopbackPort()) {
    std::ofstream conf(dir / "mosquitto.conf");
    // As the user running it: a broker started as root would otherwise read and write the
    // folder as the user mosquitto.
    conf << "listener " << port_ << " 127.0.0.1\nuser " << getpwuid(getuid())->pw_name
         << "\npersistence true\npersistence_location " << dir.string() << "/\n";
    for (const std::string& l : lines) conf << l << "\n";
  }
  ~MosquittoProcess() { Stop(); }
  int Port() const { return port_; }
  // Starts it and waits until it takes connections.
  bool Start() {
    pid_ = Spawn({"mosquitto", "-c", (dir_ / "mosquitto.conf").string()}, "/dev/null");
    for (int i = 0; i < 500; ++i) {
      const int s = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<std::uint16_t>(port_));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      close(s);
      if (up) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  void Stop() {
    if (pid_ > 0) EndProcess(pid_, SIGTERM);
    pid_ = -1;
  }

 private:
  std::filesystem::path dir_;
  int port_;
  pid_t pid_ = -1;
};

}  // namespace kelta
