// A commissioning profile: the settings every reader of a site is given, and the IDs
// handed out one reader after another. Read from a TOML file and checked whole before any
// reader is touched.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelta::cli {

struct ProfileId {
  int id = 0;
  std::string label;
};

struct Profile {
  std::optional<int> port_mode;  // index in the baud-rate table
  std::optional<int> wiegand;    // the list index the reader's command carries (26, 34, 42)
  std::optional<int> rs485;      // (24, 32, 40, 64)
  std::optional<int> rssi;
  std::optional<int> address;
  std::optional<int> frequency;
  std::optional<int> channel;
  // The IDs in the order they are given out.
  std::vector<ProfileId> ids;
};

// Reads `path`. On a fault returns nothing and sets `error` to "PATH:LINE: reason".
std::optional<Profile> ReadProfile(const std::string& path, std::string& error);
// The same from text; `name` stands for the file in messages.
std::optional<Profile> ParseProfile(const std::string& text, const std::string& name,
                                    std::string& error);

// "wiegand 26, rs485 32": the output formats as the record names them.
std::string OutputText(int wiegand, int rs485);
// The bits of a Wiegand or RS485 list index.
int WiegandBits(int index);
int Rs485Bits(int index);

}  // namespace kelta::cli
