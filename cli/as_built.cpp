#include "cli/as_built.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/durable_append.h"

namespace kelta::cli {

const std::vector<std::string>& AsBuiltRecord::Columns() {
  static const std::vector<std::string> columns = {
      "time", "serial",  "version",   "id",      "label",     "result",       "set_id",   "outputs",
      "rssi", "address", "frequency", "channel", "port_mode", "confirmed_id", "tag_test", "note"};
  return columns;
}

std::string AsBuiltRecord::Line(const std::vector<std::string>& cells) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line += ',';
    const std::string& c = cells[i];
    if (c.find_first_of(",\"\r\n") == std::string::npos) {
      line += c;
      continue;
    }
    line += '"';
    for (const char ch : c) line += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    line += '"';
  }
  return line + "\r\n";
}

std::vector<std::string> AsBuiltRecord::Parse(const std::string& text, std::size_t& at) {
  std::vector<std::string> cells(1);
  bool quoted = false;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (quoted) {
      if (c != '"') {
        cells.back() += c;
      } else if (at + 1 < text.size() && text[at + 1] == '"') {
        cells.back() += '"';
        ++at;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      cells.emplace_back();
    } else if (c == '\n') {
      ++at;
      break;
    } else if (c != '\r') {
      cells.back() += c;
    }
  }
  return cells;
}

std::string AsBuiltRecord::Load() {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return {};  // a new record
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return "cannot be read";
  has_header_ = !text.empty();
  ends_in_newline_ = text.empty() || text.back() == '\n';
  const auto& columns = Columns();
  const auto serial_at = std::find(columns.begin(), columns.end(), "serial") - columns.begin();
  const auto id_at = std::find(columns.begin(), columns.end(), "id") - columns.begin();
  std::size_t at = 0;
  if (!text.empty() && Parse(text, at) != columns) {
    return "is not a record of this program (its first row is not the header " +
           Line(columns).substr(0, Line(columns).size() - 2) + ")";
  }
  while (at < text.size()) {
    const std::vector<std::string> row = Parse(text, at);
    if (row.size() != columns.size()) continue;  // a row cut short by a crash
    const int id = std::atoi(row[static_cast<std::size_t>(id_at)].c_str());
    if (id > 0) ids_[row[static_cast<std::size_t>(serial_at)]] = id;
  }
  return {};
}

int AsBuiltRecord::IdOf(const std::string& serial) const {
  const auto found = ids_.find(serial);
  return found == ids_.end() ? 0 : found->second;
}

bool AsBuiltRecord::Holds(int id) const {
  return std::any_of(ids_.begin(), ids_.end(),
                     [id](const auto& entry) { return entry.second == id; });
}

std::string AsBuiltRecord::Append(const std::vector<std::string>& cells, const std::string& serial,
                                  int id) {
  std::string bytes;
  // A row cut short by a run killed while writing ends here, so this one starts whole.
  if (!ends_in_newline_) bytes += "\r\n";
  if (!has_header_) bytes += Line(Columns());
  bytes += Line(cells);
  const std::string error = AppendDurably(path_, bytes);
  if (!error.empty()) return error;
  has_header_ = true;
  ends_in_newline_ = true;
  if (id > 0) ids_[serial] = id;
  return {};
}

}  // namespace kelta::cli
