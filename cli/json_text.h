// The text of a JSON document as qm880ctl writes it: on one line, and always a document.
// Device paths, process names and the reader's characters need not be valid UTF-8; their
// invalid bytes come out as U+FFFD instead of ending the program without one.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace kelta::cli {

inline std::string JsonText(const nlohmann::json& doc) {
  return doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace kelta::cli
