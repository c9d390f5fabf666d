// A stand-in for the QM880-4R reader: it hears command frames byte by byte and answers
// them in reply frames of the lengths the system relies on. Portable: the in-memory line
// and the qm880-sim program both drive it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelta {

// The reader's own settings, as its commands change them.
struct ReaderSettings {
  std::string serial = "QM880001";   // 8 characters
  std::string id = "01";             // 2 decimal digits
  std::string version = "V2.10.04";  // 8 characters
  int mode_index = 5;                // index into kBaudRateTable
  int rs485 = 0;                     // 0..3: 24, 32, 40, 64 bits
  int wiegand = 0;                   // 0..2: 26, 34, 42 bits
  std::uint8_t rssi = 0;
  std::uint8_t address = 0x31;
  std::uint8_t frequency = 0x3B;
  std::uint8_t channel = 0x00;
  friend bool operator==(const ReaderSettings&, const ReaderSettings&) = default;
};

// What "A00X5A" puts back. The port mode stays: a reader that changed its baud rate on
// a factory default would drop off the line the system just reached it on.
ReaderSettings FactorySettings(const ReaderSettings& current);

// A tag in range of the reader, heard on every `every`-th tag poll ("A00F").
struct SimTag {
  std::uint32_t id = 0;
  int every = 1;
};

// Misbehaviour on demand; the faults combine. Each applies only to the commands whose
// letter is in `only` ("BV", "F"), or to every command when `only` is empty.
struct ReaderFaults {
  std::string only;
  bool no_answer = false;
  std::uint32_t delay_ms = 0;  // the reply starts this long after the frame ended
  bool wrong_checksum = false;
  bool lower_case_checksum = false;
  int length_delta = 0;         // the body grows (+) or shrinks (-) by this many characters
  std::string garbage;          // sent before each reply frame
  int cr_storm = 0;             // 0x0D bytes sent before each reply frame
  int burst = 0;                // filler bytes (never 0x0A or 0x0D) sent before each reply frame
  bool endless_stream = false;  // instead of a reply: 0x0A, then bytes that never end
  int answer_every = 1;         // answers only the n-th, 2n-th, ... command
  std::optional<std::uint32_t> vanish_at_ms;  // from then on the device is gone
  // Command letters the reader does not take at all: no change, no answer (whatever `only`).
  std::string refuse;
};

// What the reader puts on the line for one command.
struct ReaderReply {
  std::string bytes;           // everything sent: any prefix, then the reply frame
  std::uint32_t delay_ms = 0;  // after the end of the command frame
  bool endless = false;        // after `bytes`, StreamByte(0), StreamByte(1), ... for ever
};

// One command frame the reader heard, and what it did about it.
struct FrameRecord {
  std::uint32_t time_ms = 0;
  std::string text;      // the command text, without checksum
  std::string checksum;  // the two checksum characters as received
  bool checksum_ok = false;
  bool answered = false;
  std::string reply;  // the bytes sent back (empty when silent or streaming)
};

class ReaderModel {
 public:
  ReaderModel() = default;
  explicit ReaderModel(ReaderSettings settings, std::vector<SimTag> tags = {})
      : settings_(std::move(settings)), tags_(std::move(tags)) {}

  ReaderSettings& Settings() { return settings_; }
  const ReaderSettings& Settings() const { return settings_; }
  std::vector<SimTag>& Tags() { return tags_; }
  ReaderFaults& Faults() { return faults_; }
  const ReaderFaults& Faults() const { return faults_; }

  // One byte heard at the reader's own line settings. Returns what to send back when the
  // byte ends a command frame that the reader answers.
  std::optional<ReaderReply> Feed(std::uint8_t byte, std::uint32_t now_ms);
  // A byte heard at other line settings: noise that spoils any frame in progress.
  void FeedNoise() { in_frame_ = false; }
  bool Vanished(std::uint32_t now_ms) const;

  const std::vector<FrameRecord>& Frames() const { return frames_; }
  // The command texts heard with a right checksum, in order.
  std::vector<std::string> Commands() const;
  void ClearLog() { frames_.clear(); }
  // Tag polls ("A00F") answered so far; "A00HR" starts the count again.
  int TagPolls() const { return tag_polls_; }

  // Byte k of an endless stream: 0x0A, then hexadecimal digits, never 0x0D.
  static std::uint8_t StreamByte(std::uint64_t k);

  // Longest frame content kept: a 255-character command text and its checksum.
  static constexpr std::size_t kMaxFrameContent = 257;

 private:
  std::optional<ReaderReply> HandleFrame(std::uint32_t now_ms);
  // The reply body for a command text, or nothing when the reader stays silent.
  std::optional<std::string> Execute(std::string_view text);
  std::optional<ReaderReply> Answer(char letter, const std::string& body);

  ReaderSettings settings_;
  std::vector<SimTag> tags_;
  ReaderFaults faults_;
  std::vector<FrameRecord> frames_;
  std::string frame_;
  bool in_frame_ = false;
  int pending_mode_ = -1;
  int tag_polls_ = 0;
  std::size_t tag_turn_ = 0;
  std::uint64_t faulty_commands_ = 0;
};

}  // namespace kelta
