// qm880-sim run as a child process answering on a pseudo-terminal linked as a port, for
// the tests and benchmarks that go through the system's own serial channel.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kelta {

// Points ports/comN of the configuration folder at `target`, replacing what was there.
void LinkPort(int number, const std::filesystem::path& target);

// Points every port from 1 to 16 but `keep` at a missing device, so that a scan walks
// only the simulator's port and never touches a real one.
void LinkOtherPortsToNothing(int keep);

class SimProcess {
 public:
  // Starts qm880-sim as port `number` with the given extra options (its output goes to
  // /dev/null) and waits up to five seconds for its link to stand.
  explicit SimProcess(int number, const std::vector<std::string>& options = {});
  // The same, linked at `link` (a /dev/serial/by-id name's stand-in) instead of as a port.
  SimProcess(const std::filesystem::path& link, const std::vector<std::string>& options);
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // True once the link points at the simulator's pseudo-terminal.
  bool Ready() const;
  // Ends the simulator (SIGTERM) and waits for it; it removes its link.
  void Stop();
  pid_t Pid() const { return pid_; }

 private:
  std::filesystem::path link_;
  void Spawn(std::vector<std::string> args, const std::vector<std::string>& options);

  pid_t pid_ = -1;
};

}  // namespace kelta
