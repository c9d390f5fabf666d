#include "cli/tag_log.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "cli/json_text.h"
#include "reader/outcome.h"

namespace kelta::cli {

namespace {

using namespace std::chrono;

long SecondsOfDay(const std::tm& t) {
  const sys_days date =
      year_month_day(year(t.tm_year + 1900), month(static_cast<unsigned>(t.tm_mon + 1)),
                     day(static_cast<unsigned>(t.tm_mday)));
  return static_cast<long>(date.time_since_epoch().count()) * 86400L + t.tm_hour * 3600L +
         t.tm_min * 60L + t.tm_sec;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

}  // namespace

std::string IsoTime(WallTime time) {
  const std::time_t seconds = system_clock::to_time_t(floor<std::chrono::seconds>(time));
  const auto ms = duration_cast<milliseconds>(time - floor<std::chrono::seconds>(time)).count();
  // One thread: the C library's shared results are safe to copy at once.
  const std::tm local = *std::localtime(&seconds);
  const std::tm utc = *std::gmtime(&seconds);
  const long offset = (SecondsOfDay(local) - SecondsOfDay(utc)) / 60;
  char text[48];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03d%c%02ld:%02ld", static_cast<int>(ms),
                offset < 0 ? '-' : '+', std::labs(offset) / 60, std::labs(offset) % 60);
  return text;
}

TagLog::TagLog(TagFormat format, bool unique, bool lines, std::FILE* out)
    : format_(format), unique_(unique), lines_(lines), out_(out) {
  if (lines_ && format_ == TagFormat::Csv) {
    std::fputs("time,tag,value\n", out_);
    std::fflush(out_);
  }
}

std::string TagLog::Line(const Read& read) const {
  switch (format_) {
    case TagFormat::Csv:
      return IsoTime(read.time) + "," + CsvField(read.tag) + "," + std::to_string(read.value);
    case TagFormat::Jsonl:
      return JsonText({{"time", IsoTime(read.time)}, {"tag", read.tag}, {"value", read.value}});
    case TagFormat::Text:
      break;
  }
  return IsoTime(read.time) + "  " + read.tag + "  " + std::to_string(read.value);
}

bool TagLog::Poll(const TagPoll& poll, WallTime time) {
  ++polls_;
  if (poll.replied) ++replies_;
  if (!poll.tag) return true;
  ++tags_;
  // The reader's characters shown as the window shows them; the value as the unsigned
  // number the eight hexadecimal digits stand for.
  const Read read{time, ReplyDisplay(poll.chars), static_cast<std::uint32_t>(poll.value)};
  const auto [seen, first] = heard_at_.try_emplace(read.tag);
  if (first) {
    seen->second = heard_.insert(heard_.end(), {read.tag, read.value, 1, time, time});
    if (heard_.size() > kHeardLimit) {
      heard_at_.erase(heard_.front().tag);
      heard_.pop_front();
      ++let_go_;
    }
  } else {
    heard_.splice(heard_.end(), heard_, seen->second);
    ++seen->second->count;
    seen->second->last = time;
  }
  const bool shown = !unique_ || first;
  if (on_read && !on_read({{"time", IsoTime(read.time)}, {"tag", read.tag}, {"value", read.value}},
                          shown)) {
    return true;
  }
  if (!shown) return true;
  ++lines_count_;
  if (!lines_) {
    reads_.push_back(read);
    return true;
  }
  const std::string line = Line(read) + "\n";
  return std::fputs(line.c_str(), out_) >= 0 && std::fflush(out_) == 0;
}

std::vector<const TagLog::Heard*> TagLog::ByFirstHeard() const {
  std::vector<const Heard*> list;
  for (const Heard& h : heard_) list.push_back(&h);
  std::stable_sort(list.begin(), list.end(),
                   [](const Heard* a, const Heard* b) { return a->first < b->first; });
  return list;
}

std::string TagLog::Summary() const {
  std::string text =
      "polls " + std::to_string(polls_) + ", replies " + std::to_string(replies_) + ", tags " +
      std::to_string(tags_) + " (" +
      std::to_string(heard_.size() + static_cast<std::size_t>(let_go_)) + " different" +
      (let_go_ > 0 ? "; the " + std::to_string(kHeardLimit) + " heard last are counted, " +
                         std::to_string(let_go_) + " let go"
                   : std::string()) +
      ")\n";
  for (const Heard* p : ByFirstHeard()) {
    const Heard& h = *p;
    char head[64];
    std::snprintf(head, sizeof head, "  %s %10lu  %6ld x  first ", h.tag.c_str(),
                  static_cast<unsigned long>(h.value), h.count);
    text += head + IsoTime(h.first) + "  last " + IsoTime(h.last) + "\n";
  }
  return text;
}

nlohmann::json TagLog::Json() const {
  nlohmann::json reads = nlohmann::json::array();
  for (const Read& r : reads_) {
    reads.push_back({{"time", IsoTime(r.time)}, {"tag", r.tag}, {"value", r.value}});
  }
  nlohmann::json heard = nlohmann::json::array();
  for (const Heard* p : ByFirstHeard()) {
    const Heard& h = *p;
    heard.push_back({{"tag", h.tag},
                     {"value", h.value},
                     {"count", h.count},
                     {"first", IsoTime(h.first)},
                     {"last", IsoTime(h.last)}});
  }
  return {{"polls", polls_}, {"replies", replies_}, {"tags", tags_},
          {"reads", reads},  {"heard", heard},      {"heard_let_go", let_go_}};
}

}  // namespace kelta::cli
