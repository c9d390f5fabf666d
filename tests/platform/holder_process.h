// A second process that holds a port open until told to let it go, for the tests of what
// the program does with a port that another program has.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace kelta::test {

class HolderProcess {
 public:
  // Forks a child that runs `open_port` (true when it got the port) and then waits for
  // Release(); Held() tells whether it got the port.
  explicit HolderProcess(const std::function<bool()>& open_port) {
    if (pipe(ready_) != 0 || pipe(release_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      const char ok = open_port() ? 'y' : 'n';
      (void)!write(ready_[1], &ok, 1);
      char c;
      (void)!read(release_[0], &c, 1);
      _exit(0);
    }
    char ok = 0;
    held_ = pid_ > 0 && read(ready_[0], &ok, 1) == 1 && ok == 'y';
  }
  HolderProcess(const HolderProcess&) = delete;
  HolderProcess& operator=(const HolderProcess&) = delete;
  ~HolderProcess() { Release(); }

  bool Held() const { return held_; }
  pid_t Pid() const { return pid_; }
  // The child lets the port go and ends.
  void Release() {
    if (pid_ > 0) {
      (void)!write(release_[1], "x", 1);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    for (int& fd :
         {std::ref(ready_[0]), std::ref(ready_[1]), std::ref(release_[0]), std::ref(release_[1])}) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
  }

 private:
  int ready_[2] = {-1, -1};
  int release_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool held_ = false;
};

}  // namespace kelta::test
