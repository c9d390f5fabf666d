#include "link/reader_link.h"

#include <algorithm>
#include <cassert>

namespace kelta {

namespace {

constexpr std::uint8_t kCommandStart = 0x09;
constexpr std::uint8_t kReplyStart = 0x0A;
constexpr std::uint8_t kFrameEnd = 0x0D;
// The frame carries the length of its text in one byte.
constexpr std::size_t kMaxCommandLength = 255;

const std::uint8_t* Bytes(std::string_view text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;  // lower case too: the reader only ever sends upper case
}

}  // namespace

// The seed 9 is the start byte, which is not part of the command text.
std::uint8_t FrameChecksum(const std::uint8_t* bytes, int count) {
  std::uint8_t x = kCommandStart;
  for (int i = 0; i < count; ++i) x ^= bytes[i];
  return x;
}

std::string ByteToHex(std::uint8_t byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

std::int32_t HexToValue(std::string_view text) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    const int d = i < text.size() ? HexDigit(text[i]) : 0;
    v = v * 16 + static_cast<std::uint32_t>(d);
  }
  return static_cast<std::int32_t>(v);
}

std::string CommandFrame(std::string_view text) {
  std::string frame(1, static_cast<char>(kCommandStart));
  frame += text;
  frame += ByteToHex(FrameChecksum(Bytes(text), static_cast<int>(text.size())));
  frame += static_cast<char>(kFrameEnd);
  return frame;
}

std::string ReplyFrame(std::string_view body) {
  std::string frame(1, static_cast<char>(kReplyStart));
  frame += body;
  std::uint8_t x = 0;
  for (unsigned char c : frame) x ^= c;
  frame += ByteToHex(x);
  frame += static_cast<char>(kFrameEnd);
  return frame;
}

bool ReaderLink::OpenPort(int number, std::string_view mode) {
  if (!port_.OpenPort(number, mode)) return false;
  character_us_ = CharacterTimeUs(ApplyModeString(mode, LineSettings{}).value_or(LineSettings{}));
  return true;
}

// The wait counts from the end of the send and is tested only on an idle read, with the
// time of that read: it gives up only on a read that found nothing after the message
// loop's last pass had ended. Past the limit it ends once the line has been quiet for more
// than two character times, so a reply still arriving is read whole (on a slow line there
// is an idle 1 ms read between any two of its bytes); only a stream without end is cut
// off, below. The quiet is counted from the first idle read after the last byte, which
// leaves that read's own millisecond as the margin for the clock's resolution. The tick
// counter wraps; the unsigned difference does not mind.
bool ReaderLink::SendCommand(std::string_view text) {
  reply_buffer_.fill(0);
  reply_length_ = 0;
  last_wait_ = {};

  // A longer text would go out cut to its length modulo 256 under a valid checksum, that is,
  // as another command. No builder makes one; refuse rather than send it.
  assert(text.size() <= kMaxCommandLength);
  if (text.size() > kMaxCommandLength) return false;
  const int n = static_cast<int>(text.size());
  const std::string h = ByteToHex(FrameChecksum(Bytes(text), n));

  port_.PurgePort();
  const bool sent = port_.WriteByte(kCommandStart) && port_.WriteBytes(Bytes(text), n) &&
                    port_.WriteByte(static_cast<std::uint8_t>(h[0])) &&
                    port_.WriteByte(static_cast<std::uint8_t>(h[1])) && port_.WriteByte(kFrameEnd);
  last_wait_.sent = sent;
  // A write that failed on an open port (its time-out passed on a stalled line, or the
  // port has gone) fails the exchange: the rest of the frame stays unsent and no reply is
  // waited for. One read tells a port that has gone from a stalled one. Without a port
  // the wait is still waited out, as a silent line.
  if (!sent && port_.IsOpen()) {
    std::uint8_t b = 0;
    last_wait_.lost = port_.ReadByte(&b) == kPortLost;
    return false;
  }

  const std::uint32_t start = clock_.Ticks();
  std::uint32_t quiet_since = start;
  bool heard = false;  // bytes since the last idle read
  bool overrun = false;
  for (;;) {
    std::uint8_t b = 0;
    const int got = port_.ReadByte(&b);
    // Nothing more can come from a port that has gone: no use waiting out the time.
    if (got == kPortLost) {
      last_wait_.lost = true;
      return GaveUp();
    }
    if (got > 0) {
      heard = true;
      ++last_wait_.bytes;
      reply_buffer_[static_cast<std::size_t>(reply_length_)] = b;
      const bool wrapped = ++reply_length_ == kReplyBufferSize;
      if (wrapped) reply_length_ = 0;
      if (b == kFrameEnd && reply_buffer_[0] == kReplyStart) {
        reply_buffer_[static_cast<std::size_t>(reply_length_)] = 0;
        const auto* first = reply_buffer_.data();
        reply_text_.assign(first, std::find(first, first + kReplyBufferSize, std::uint8_t{0}));
        const bool ok = ReplyChecksumOk();
        last_wait_.heard = ok ? ReplyHeard::Valid : ReplyHeard::BadChecksum;
        return ok;
      }
      // A line that never falls idle would hold the wait, and the disabled window, for
      // ever. Once the limit has passed, a reply still gets one whole buffer of bytes to
      // complete in; then the wait ends. The clock is read once per buffer.
      if (wrapped) {
        if (overrun) return GaveUp();
        overrun = clock_.Ticks() - start > kReplyWaitMs;
      }
    } else {
      // The time of this empty read, not of the end of the message loop's pass below: a
      // byte that arrives during a long pass (a repaint, a nested handler, a window being
      // dragged) is read by the next read instead of being left behind as "no reply".
      const std::uint32_t now = clock_.Ticks();
      if (heard) quiet_since = now;
      heard = false;
      if (now - start > kReplyWaitMs &&
          std::uint64_t{now - quiet_since} * 1000 > 2 * std::uint64_t{character_us_}) {
        return GaveUp();
      }
      pump_.ProcessMessages();
    }
  }
}

bool ReaderLink::GaveUp() {
  if (last_wait_.bytes > 0) {
    last_wait_.heard =
        reply_buffer_[0] == kReplyStart ? ReplyHeard::Unfinished : ReplyHeard::NoFrame;
  }
  return false;
}

bool ReaderLink::ReplyChecksumOk() const {
  const std::int32_t length = reply_length_;
  if (length < 4) return false;
  std::uint8_t x = 0;
  for (std::int32_t i = 0; i <= length - 4; ++i) x ^= reply_buffer_[static_cast<std::size_t>(i)];
  const std::string h = ByteToHex(x);
  return reply_buffer_[static_cast<std::size_t>(length - 3)] == static_cast<std::uint8_t>(h[0]) &&
         reply_buffer_[static_cast<std::size_t>(length - 2)] == static_cast<std::uint8_t>(h[1]);
}

std::string ReaderLink::ReplyChars(int m, int n) const {
  const int size = static_cast<int>(reply_text_.size());
  const int first = std::max(m, 1);
  const int last = std::min(n, size);
  if (first > last) return {};
  return reply_text_.substr(static_cast<std::size_t>(first - 1),
                            static_cast<std::size_t>(last - first + 1));
}

}  // namespace kelta
