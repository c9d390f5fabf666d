// One command frame out, at most one reply frame back, and the reply state it leaves.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/serial_port.h"
#include "platform/clock.h"

namespace kelta {

inline constexpr int kReplyBufferSize = 1024;
// Idle waiting for a reply, counted from the end of the send.
inline constexpr std::uint32_t kReplyWaitMs = 120;

std::uint8_t FrameChecksum(const std::uint8_t* bytes, int count);
// Two upper-case hexadecimal characters, high nibble first.
std::string ByteToHex(std::uint8_t byte);
// The first eight characters as a hexadecimal number; other characters (lower case
// included) and missing places count as 0. Wraps to a signed 32-bit value.
std::int32_t HexToValue(std::string_view text);
// The whole command frame for a command text: 0x09, text, checksum, 0x0D.
std::string CommandFrame(std::string_view text);
// A reply frame around a body: 0x0A, body, checksum, 0x0D (the simulator's side).
std::string ReplyFrame(std::string_view body);

// What the last reply wait heard, so that a front end can say why a reader seems silent
// without guessing from the reply state afterwards.
enum class ReplyHeard {
  Nothing,      // not one byte
  NoFrame,      // bytes, but none of them began a reply frame
  Unfinished,   // a frame began but did not end within the wait
  BadChecksum,  // a complete frame whose checksum is wrong (or that is too short to have one)
  Valid,        // a complete frame with a right checksum
};

struct ReplyWait {
  ReplyHeard heard = ReplyHeard::Nothing;
  std::uint32_t bytes = 0;  // every byte received, also past a wrap of the buffer
  bool sent = true;         // every byte of the command frame went out
  // The port was lost (hung up, failed, gone): the wait ended there, without waiting out
  // its time.
  bool lost = false;
};

class ReaderLink {
 public:
  ReaderLink(SerialPort& port, Clock& clock, EventPump& pump)
      : port_(port), clock_(clock), pump_(pump) {}
  ReaderLink(const ReaderLink&) = delete;
  ReaderLink& operator=(const ReaderLink&) = delete;

  bool OpenPort(int number, std::string_view mode) { return port_.OpenPort(number, mode); }
  void ClosePort() { port_.ClosePort(); }
  SerialPort& Port() { return port_; }

  // Sends `text` framed and waits for a reply; true for a complete reply with a right
  // checksum within the time limit. Bytes that keep coming hold the wait past the limit,
  // but only for one more buffer's worth once the limit is seen passed.
  bool SendCommand(std::string_view text);
  bool ReplyChecksumOk() const;
  const ReplyWait& LastReplyWait() const { return last_wait_; }

  const std::array<std::uint8_t, kReplyBufferSize>& ReplyBuffer() const { return reply_buffer_; }
  std::int32_t ReplyLength() const { return reply_length_; }
  const std::string& ReplyText() const { return reply_text_; }
  // Characters m to n of ReplyText, 1-based and inclusive; fewer when the reply is shorter.
  std::string ReplyChars(int m, int n) const;

 private:
  // Ends a wait without a complete reply, noting what it heard.
  bool GaveUp();

  SerialPort& port_;
  Clock& clock_;
  EventPump& pump_;
  std::array<std::uint8_t, kReplyBufferSize> reply_buffer_{};
  std::int32_t reply_length_ = 0;
  std::string reply_text_;
  ReplyWait last_wait_;
};

}  // namespace kelta
