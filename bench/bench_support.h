// What the benchmarks of the programs share: medians of their runs, and a configuration
// folder of their own, so that no stored setting of the user's is read and no real port is
// ever walked.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace kelta::bench {

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
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
