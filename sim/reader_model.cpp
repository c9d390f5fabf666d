#include "sim/reader_model.h"

#include <algorithm>
#include <utility>

namespace kelta {

// The reader frames its replies with its own code, not with the link's: it stands in for
// a device the link is tested against, and it has to be able to frame them wrongly too.
namespace {

constexpr std::uint8_t kCommandStart = 0x09;
constexpr std::uint8_t kReplyStart = 0x0A;
constexpr std::uint8_t kEnd = 0x0D;
constexpr int kModeCount = 12;

std::uint8_t XorOf(std::uint8_t seed, std::string_view bytes) {
  for (char c : bytes) seed = static_cast<std::uint8_t>(seed ^ static_cast<std::uint8_t>(c));
  return seed;
}

std::string Hex2(std::uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

std::string Hex8(std::uint32_t value) {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8)
    out += Hex2(static_cast<std::uint8_t>(value >> shift));
  return out;
}

// Upper-case hexadecimal digit only: the system never sends lower case.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint8_t> HexByte(std::string_view two) {
  if (two.size() != 2) return std::nullopt;
  int hi = HexDigit(two[0]);
  int lo = HexDigit(two[1]);
  if (hi < 0 || lo < 0) return std::nullopt;
  return static_cast<std::uint8_t>(hi * 16 + lo);
}

bool IsDecimal(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool HasHexLetter(std::string_view hex) {
  return std::any_of(hex.begin(), hex.end(), [](char c) { return c >= 'A' && c <= 'F'; });
}

}  // namespace

ReaderSettings FactorySettings(const ReaderSettings& current) {
  ReaderSettings factory;
  factory.serial = current.serial;
  factory.version = current.version;
  factory.mode_index = current.mode_index;
  return factory;
}

bool ReaderModel::Vanished(std::uint32_t now_ms) const {
  return faults_.vanish_at_ms && static_cast<std::int32_t>(now_ms - *faults_.vanish_at_ms) >= 0;
}

std::uint8_t ReaderModel::StreamByte(std::uint64_t k) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  if (k == 0) return kReplyStart;
  return static_cast<std::uint8_t>(kDigits[(k - 1) % 16]);
}

std::vector<std::string> ReaderModel::Commands() const {
  std::vector<std::string> out;
  for (const FrameRecord& f : frames_) {
    if (f.checksum_ok) out.push_back(f.text);
  }
  return out;
}

std::optional<ReaderReply> ReaderModel::Feed(std::uint8_t byte, std::uint32_t now_ms) {
  if (Vanished(now_ms)) return std::nullopt;
  if (byte == kCommandStart) {
    frame_.clear();
    in_frame_ = true;
    return std::nullopt;
  }
  if (!in_frame_) return std::nullopt;
  if (byte == kEnd) {
    in_frame_ = false;
    return HandleFrame(now_ms);
  }
  if (frame_.size() >= kMaxFrameContent) {
    in_frame_ = false;  // too long to be a command: wait for the next start byte
    return std::nullopt;
  }
  frame_.push_back(static_cast<char>(byte));
  return std::nullopt;
}

std::optional<ReaderReply> ReaderModel::HandleFrame(std::uint32_t now_ms) {
  FrameRecord record;
  record.time_ms = now_ms;
  if (frame_.size() >= 2) {
    record.text = frame_.substr(0, frame_.size() - 2);
    record.checksum = frame_.substr(frame_.size() - 2);
    record.checksum_ok = record.checksum == Hex2(XorOf(kCommandStart, record.text));
  } else {
    record.text = frame_;
  }
  std::optional<ReaderReply> reply;
  if (record.checksum_ok) {
    pending_mode_ = -1;
    std::optional<std::string> body = Execute(record.text);
    if (body) reply = Answer(record.text.size() > 3 ? record.text[3] : '\0', *body);
    // The new port mode takes effect once the answer is on its way, at the old mode.
    if (pending_mode_ >= 0) settings_.mode_index = pending_mode_;
  }
  record.answered = reply.has_value();
  if (reply && !reply->endless) record.reply = reply->bytes;
  frames_.push_back(std::move(record));
  return reply;
}

std::optional<std::string> ReaderModel::Execute(std::string_view text) {
  if (text.size() < 4 || text.substr(0, 3) != "A00") return std::nullopt;
  const char letter = text[3];
  if (faults_.refuse.find(letter) != std::string::npos) return std::nullopt;
  const std::string_view args = text.substr(4);
  const std::string head = std::string(1, letter) + settings_.id;
  switch (letter) {
    case 'B':  // 16 bytes: ID at characters 3-4, serial at 6-13
      if (!args.empty()) return std::nullopt;
      return head + Hex2(static_cast<std::uint8_t>(settings_.mode_index)).substr(1) +
             settings_.serial;
    case 'V':  // version at characters 6-13
      if (!args.empty()) return std::nullopt;
      return head + "0" + settings_.version;
    case 'C': {  // serial (8) + new ID (2); a reader that is not the one meant keeps quiet
      if (args.size() != 10 || args.substr(0, 8) != settings_.serial) return std::nullopt;
      const std::string_view id = args.substr(8);
      if (!IsDecimal(id)) return std::nullopt;
      settings_.id = std::string(id);
      return "C" + settings_.id + "0";
    }
    case 'E': {
      if (args.size() != 1) return std::nullopt;
      const int code = HexDigit(args[0]);
      if (code < 0 || code >= kModeCount) return std::nullopt;
      pending_mode_ = code;
      return head + "0" + std::string(args);
    }
    case 'L':
      if (args.size() != 2 || args[0] < '0' || args[0] > '3' || args[1] < '0' || args[1] > '2') {
        return std::nullopt;
      }
      settings_.rs485 = args[0] - '0';
      settings_.wiegand = args[1] - '0';
      return head + "0";
    case 'O': {
      const std::optional<std::uint8_t> level = HexByte(args);
      if (!level) return std::nullopt;
      settings_.rssi = *level;
      return head + "0";
    }
    case 'W': {
      if (args.size() != 6 || args.substr(2, 2) != "01") return std::nullopt;
      const std::optional<std::uint8_t> value = HexByte(args.substr(4));
      if (!value) return std::nullopt;
      const std::string_view item = args.substr(0, 2);
      if (item == "06") {
        settings_.address = *value;
      } else if (item == "0F") {
        settings_.frequency = *value;
      } else if (item == "0B") {
        settings_.channel = *value;
      } else {
        return std::nullopt;
      }
      return head + "0";
    }
    case 'X':
      if (args != "5A") return std::nullopt;
      settings_ = FactorySettings(settings_);
      return "X" + settings_.id + "0";
    case 'H':
      if (args != "R") return std::nullopt;
      tag_polls_ = 0;
      tag_turn_ = 0;
      return head + "0";
    case 'F': {  // 17 bytes with a tag (ID at characters 7-14), 9 without
      if (!args.empty()) return std::nullopt;
      ++tag_polls_;
      std::vector<const SimTag*> heard;
      for (const SimTag& tag : tags_) {
        if (tag.every > 0 && tag_polls_ % tag.every == 0) heard.push_back(&tag);
      }
      if (heard.empty()) return head + "00";
      const SimTag* tag = heard[tag_turn_++ % heard.size()];
      return head + "01" + Hex8(tag->id);
    }
    default:
      return std::nullopt;  // not a command of this reader: silence
  }
}

std::optional<ReaderReply> ReaderModel::Answer(char letter, const std::string& body) {
  const bool affected = faults_.only.empty() || faults_.only.find(letter) != std::string::npos;
  if (!affected) {
    ReaderReply plain;
    plain.bytes = static_cast<char>(kReplyStart) + body + Hex2(XorOf(kReplyStart, body)) +
                  static_cast<char>(kEnd);
    return plain;
  }
  ++faulty_commands_;
  if (faults_.no_answer) return std::nullopt;
  if (faults_.answer_every > 1 &&
      faulty_commands_ % static_cast<std::uint64_t>(faults_.answer_every) != 0) {
    return std::nullopt;
  }

  ReaderReply reply;
  reply.delay_ms = faults_.delay_ms;
  reply.bytes = faults_.garbage;
  reply.bytes.append(static_cast<std::size_t>(std::max(faults_.cr_storm, 0)),
                     static_cast<char>(kEnd));
  for (int i = 0; i < faults_.burst; ++i) {
    reply.bytes += static_cast<char>(StreamByte(static_cast<std::uint64_t>(i % 16) + 1));
  }
  if (faults_.endless_stream) {
    reply.endless = true;
    return reply;
  }

  std::string wrong = body;
  if (faults_.length_delta > 0) {
    wrong.append(static_cast<std::size_t>(faults_.length_delta), '0');
  } else if (faults_.length_delta < 0) {
    wrong.resize(wrong.size() -
                 std::min(wrong.size(), static_cast<std::size_t>(-faults_.length_delta)));
  }
  std::uint8_t sum = XorOf(kReplyStart, wrong);
  if (faults_.wrong_checksum) sum = static_cast<std::uint8_t>(sum ^ 0x01);
  std::string hex = Hex2(sum);
  if (faults_.lower_case_checksum) {
    // Lower case only shows in the letters A-F: vary the first body character (an echo
    // of the command letter that nobody reads) until the checksum has one.
    for (char c = 'a'; !wrong.empty() && !HasHexLetter(hex) && c <= 'z'; ++c) {
      wrong[0] = c;
      sum = XorOf(kReplyStart, wrong);
      if (faults_.wrong_checksum) sum = static_cast<std::uint8_t>(sum ^ 0x01);
      hex = Hex2(sum);
    }
    for (char& c : hex) {
      if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  reply.bytes += static_cast<char>(kReplyStart) + wrong + hex + static_cast<char>(kEnd);
  return reply;
}

}  // namespace kelta
