// The as-built record of a commissioning run: one CSV row for each reader set up, appended
// and put on the disk row by row, so that a run that is killed leaves every finished row
// whole, for a spreadsheet to open.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kelta::cli {

class AsBuiltRecord {
 public:
  // The columns, in order; the first row of a new record names them.
  static const std::vector<std::string>& Columns();

  explicit AsBuiltRecord(std::string path) : path_(std::move(path)) {}

  // Reads the rows already in the record: the ID each serial number was given (the last
  // row of a serial number counts). Returns an error text, empty when the file reads (or
  // does not exist yet).
  std::string Load();
  // The ID given to `serial` in an earlier row, 0 when none.
  int IdOf(const std::string& serial) const;
  // True when a serial number of the record holds `id`.
  bool Holds(int id) const;

  // Appends one row (the cells in the order of Columns()) and syncs it to the disk; the
  // first row of a new or empty record is preceded by the header. Returns an error text.
  std::string Append(const std::vector<std::string>& cells, const std::string& serial, int id);

  // One CSV line (with its CRLF end, as spreadsheets write them): cells holding a comma,
  // a quote or a line break are quoted, quotes doubled.
  static std::string Line(const std::vector<std::string>& cells);
  // The cells of one CSV record starting at `at` in `text`; `at` moves past it.
  static std::vector<std::string> Parse(const std::string& text, std::size_t& at);

 private:
  std::string path_;
  std::map<std::string, int> ids_;
  bool has_header_ = false;
  bool ends_in_newline_ = true;
};

}  // namespace kelta::cli
