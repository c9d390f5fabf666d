#include "cli/profile.h"

#include <toml++/toml.h>

#include <array>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "link/command_set.h"

namespace kelta::cli {

namespace {

constexpr std::array<int, 3> kWiegand = {26, 34, 42};    // in the reader's order
constexpr std::array<int, 4> kRs485 = {24, 32, 40, 64};  // in the reader's order
constexpr int kLastId = 99;

// A fault found at a place of the file.
struct Fault {
  int line;
  std::string reason;
};

int LineOf(const toml::node& node) { return static_cast<int>(node.source().begin.line); }

template <std::size_t N>
std::string Listed(const std::array<int, N>& values) {
  std::string text;
  for (std::size_t i = 0; i < N; ++i)
    text += (i == 0 ? "" : i + 1 == N ? " or " : ", ") + std::to_string(values[i]);
  return text;
}

// A whole number from `low` to `high`.
int Whole(const toml::node& node, const std::string& key, int low, int high) {
  const auto value = node.value_exact<std::int64_t>();
  if (!value || *value < low || *value > high) {
    throw Fault{LineOf(node), key + " must be a whole number from " + std::to_string(low) + " to " +
                                  std::to_string(high)};
  }
  return static_cast<int>(*value);
}

template <std::size_t N>
int IndexOf(const toml::node& node, const std::string& key, const std::array<int, N>& bits) {
  const auto value = node.value_exact<std::int64_t>();
  for (std::size_t i = 0; value && i < N; ++i) {
    if (*value == bits[i]) return static_cast<int>(i);
  }
  throw Fault{LineOf(node), key + " must be " + Listed(bits) + " (bits)"};
}

int PortMode(const toml::node& node) {
  const auto text = node.value_exact<std::string>();
  const auto index = text ? BaudRateIndex(*text) : std::nullopt;
  if (!index || text->size() < 4) {
    std::string modes;
    for (const char* m : kBaudRateTable) modes += std::string(modes.empty() ? "" : " ") + m;
    throw Fault{LineOf(node), "port_mode must be one of " + modes + " (a quoted text)"};
  }
  return *index;
}

ProfileId ListedId(const toml::node& node) {
  if (node.is_integer()) return {Whole(node, "an ID", 1, kLastId), {}};
  const toml::table* entry = node.as_table();
  if (entry == nullptr) {
    throw Fault{LineOf(node), "each entry of ids must be an ID or { id = N, label = \"...\" }"};
  }
  ProfileId given;
  bool has_id = false;
  for (const auto& [key, value] : *entry) {
    if (key == "id") {
      given.id = Whole(value, "id", 1, kLastId);
      has_id = true;
    } else if (key == "label") {
      const auto label = value.value_exact<std::string>();
      if (!label) throw Fault{LineOf(value), "label must be a quoted text"};
      given.label = *label;
    } else {
      throw Fault{LineOf(value), "unknown key \"" + std::string(key.str()) + "\" in an ID entry"};
    }
  }
  if (!has_id) throw Fault{LineOf(node), "an ID entry needs id = N"};
  return given;
}

Profile Read(const toml::table& root) {
  Profile p;
  std::optional<int> first, step, last;
  const toml::node* ids = nullptr;
  const toml::node* first_node = nullptr;
  const toml::node* output_node = nullptr;  // wiegand or rs485, for a message
  for (const auto& [key, node] : root) {
    const std::string name(key.str());
    if (name == "port_mode") {
      p.port_mode = PortMode(node);
    } else if (name == "wiegand") {
      p.wiegand = IndexOf(node, name, kWiegand);
      output_node = &node;
    } else if (name == "rs485") {
      p.rs485 = IndexOf(node, name, kRs485);
      output_node = &node;
    } else if (name == "rssi") {
      p.rssi = Whole(node, name, 0, 250);
    } else if (name == "address") {
      p.address = Whole(node, name, 0, 255);
    } else if (name == "frequency") {
      p.frequency = Whole(node, name, 0, 255);
    } else if (name == "channel") {
      p.channel = Whole(node, name, 0, 255);
    } else if (name == "first_id") {
      first = Whole(node, name, 1, kLastId);
      first_node = &node;
    } else if (name == "id_step") {
      step = Whole(node, name, 1, kLastId);
    } else if (name == "last_id") {
      last = Whole(node, name, 1, kLastId);
    } else if (name == "ids") {
      ids = &node;
    } else {
      throw Fault{LineOf(node), "unknown key \"" + name + "\""};
    }
  }
  // Wiegand and RS485 go out in one command: both or neither.
  if (p.wiegand.has_value() != p.rs485.has_value()) {
    throw Fault{LineOf(*output_node),
                "wiegand and rs485 are set together (one command carries both)"};
  }
  if (ids != nullptr && (first || step || last)) {
    throw Fault{LineOf(*ids), "give either ids or first_id (with id_step, last_id), not both"};
  }
  if (ids != nullptr) {
    const toml::array* list = ids->as_array();
    if (list == nullptr || list->empty()) {
      throw Fault{LineOf(*ids),
                  "ids must be a list of IDs, e.g. [ { id = 7, label = \"Gate 7\" } ]"};
    }
    std::set<int> seen;
    for (const toml::node& entry : *list) {
      p.ids.push_back(ListedId(entry));
      if (!seen.insert(p.ids.back().id).second) {
        throw Fault{LineOf(entry), "ID " + std::to_string(p.ids.back().id) + " is listed twice"};
      }
    }
  } else if (first) {
    if (last && *last < *first) throw Fault{LineOf(*first_node), "last_id is below first_id"};
    for (int id = *first; id <= last.value_or(kLastId); id += step.value_or(1))
      p.ids.push_back({id, {}});
  } else {
    throw Fault{0, "no IDs: give ids = [ ... ] or first_id"};
  }
  return p;
}

}  // namespace

std::optional<Profile> ParseProfile(const std::string& text, const std::string& name,
                                    std::string& error) {
  try {
    const toml::table root = toml::parse(text, name);
    return Read(root);
  } catch (const toml::parse_error& e) {
    error =
        name + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
  } catch (const Fault& f) {
    error = name + (f.line > 0 ? ":" + std::to_string(f.line) : std::string()) + ": " + f.reason;
  }
  return std::nullopt;
}

std::optional<Profile> ReadProfile(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot be read";
    return std::nullopt;
  }
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return ParseProfile(text, path, error);
}

int WiegandBits(int index) { return kWiegand.at(static_cast<std::size_t>(index)); }
int Rs485Bits(int index) { return kRs485.at(static_cast<std::size_t>(index)); }

std::string OutputText(int wiegand, int rs485) {
  return "wiegand " + std::to_string(WiegandBits(wiegand)) + ", rs485 " +
         std::to_string(Rs485Bits(rs485));
}

}  // namespace kelta::cli
