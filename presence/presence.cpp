#include "presence/presence.h"

#include <algorithm>

namespace kelta::presence {

const char* BecauseName(Because because) {
  switch (because) {
    case Because::Resumed:
      return "resumed";
    case Because::End:
      return "end";
    case Because::Silence:
      break;
  }
  return "silence";
}

Event Tracker::Went(const std::string& tag, const Present& p, Ms now, Because because) {
  ++went_[static_cast<int>(because)];
  return {false, tag, now, p.last_heard, p.reads, because};
}

Counts Tracker::Totals() const {
  Counts c;
  c.came = came_;
  for (int i = 0; i < 3; ++i) c.went[i] = went_[i];
  c.present = static_cast<long>(tags_.size());
  return c;
}

std::vector<Event> Tracker::Heard(const std::string& tag, Ms now) {
  std::vector<Event> events = Due(now);
  const auto [at, first] =
      tags_.try_emplace(tag, Present{now, now, now + window_, 0, Because::Silence});
  Present& p = at->second;
  ++p.reads;
  p.last_heard = now;
  p.due = now + window_;
  p.because = Because::Silence;
  if (first) {
    ++came_;
    events.push_back({true, tag, now, now, 1, Because::Silence});
  }
  return events;
}

std::vector<Event> Tracker::Due(Ms now) {
  std::vector<Event> events;
  if (lost_) return events;
  for (auto it = tags_.begin(); it != tags_.end();) {
    if (now >= it->second.due) {
      events.push_back(Went(it->first, it->second, it->second.due, it->second.because));
      it = tags_.erase(it);
    } else {
      ++it;
    }
  }
  // The order the tags were last heard in, whatever the map's.
  std::sort(events.begin(), events.end(),
            [](const Event& a, const Event& b) { return a.last_heard < b.last_heard; });
  return events;
}

void Tracker::ReaderLost() { lost_ = true; }

void Tracker::ReaderBack(Ms now) {
  lost_ = false;
  for (auto& [tag, p] : tags_) {
    p.due = now + window_;
    p.because = Because::Resumed;
  }
}

std::vector<Event> Tracker::End(Ms now) {
  std::vector<Event> events = Due(now);
  for (const auto& [tag, p] : tags_) events.push_back(Went(tag, p, now, Because::End));
  tags_.clear();
  std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
    return a.time < b.time || (a.time == b.time && a.last_heard < b.last_heard);
  });
  return events;
}

}  // namespace kelta::presence
