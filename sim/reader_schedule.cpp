#include "sim/reader_schedule.h"

namespace kelta {

bool ReaderSchedule::Present(ReaderModel& reader, std::uint32_t now, std::string& note) {
  if (!unplugged_) return true;
  if (connected_ >= next_.size() || static_cast<std::int32_t>(now - unplugged_at_ - gap_ms_) < 0) {
    return false;
  }
  const PluggedReader& plugged = next_[connected_++];
  reader.Settings() = plugged.settings;
  reader.Faults().refuse = plugged.refuse;
  unplugged_ = false;
  probes_in_a_row_ = 0;
  note = "reader " + plugged.settings.serial + " (ID " + plugged.settings.id + ") connected" +
         (plugged.refuse.empty() ? "" : ", refusing " + plugged.refuse);
  return true;
}

void ReaderSchedule::Heard(const FrameRecord& frame, std::uint32_t now, std::string& note) {
  if (unplugged_ || !frame.checksum_ok) return;
  probes_in_a_row_ = frame.text == "A00B" && frame.answered ? probes_in_a_row_ + 1 : 0;
  if (probes_in_a_row_ < unplug_after_) return;
  unplugged_ = true;
  unplugged_at_ = now;
  note = connected_ < next_.size()
             ? "reader unplugged; the next one comes in " + std::to_string(gap_ms_) + " ms"
             : "reader unplugged; no reader follows";
}

}  // namespace kelta
