// What the reader operations come to, as data: the window shows it through its view, the
// command line also prints it and turns it into its exit code. Both get the same values
// from the same operations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/reader_link.h"
#include "platform/serial_device.h"

namespace kelta {

enum class Outcome { NotReady, Failure, Success };

// A settings command, the reset, or tag reading as a whole.
struct CommandResult {
  Outcome outcome = Outcome::NotReady;
  bool opened = false;   // the port opened
  OpenError open_error;  // why it did not, when it did not
  // The reader answered: a probe got a full reader-information reply (the reset, which
  // sends no probe: its command got any reply at all).
  bool reader_answered = false;
  // The port was lost (hung up, failed, gone) while the operation had it open; the
  // operation ended there. Tag reading in the window goes on until its press even so.
  bool port_lost = false;
};

// Discovery.
struct ScanResult {
  bool found = false;   // a full reader-information reply came
  bool ready = false;   // and the firmware version: ReaderReady
  bool stored = false;  // the walk found it and stored the place
  // The walk found it but the place could not be stored: why (the store's text).
  std::string store_error;
  int port = 0;         // where it was found (ScanCommNo)
  std::string mode;     // (ScanBaudRate)
  int mode_index = -1;  // (ScanBaudRateNo)
  // Reply characters as the reader sent them (bytes, not yet text).
  std::string serial;
  std::string id;
  std::string version;
  // The port `lost_port` was lost while it was probed or asked for the version: the walk
  // went on to the next port.
  bool port_lost = false;
  int lost_port = 0;
};

// Where discovery looks: the stored place, then, with `walk`, the ports from `first_port`
// to `last_port`. The window always walks COM1 to COM16.
struct ScanScope {
  int first_port = 1;
  int last_port = 16;
  bool walk = true;
  // Ports the walk passes over: their device is walked under a lower number already.
  std::vector<int> passed_over{};
};

// One tag poll of continuous reading.
struct TagPoll {
  bool replied = false;    // SendCommand accepted a reply
  bool tag = false;        // and it was a tag reply (17 bytes)
  std::string chars;       // the tag's eight characters as received
  std::int32_t value = 0;  // HexToValue of them
  bool port_lost = false;  // the port has gone: no poll will be answered again
};

// The steps of an operation as they happen, for a front end that reports more than the
// outcome. Every call has a default that does nothing.
class ReaderEvents {
 public:
  virtual ~ReaderEvents() = default;
  // Discovery tried to open `port` in `mode` for probing.
  virtual void ScanOpened(int /*port*/, const std::string& /*mode*/, bool /*opened*/,
                          const OpenError& /*error*/) {}
  // One "A00B" probe of discovery: whether it found the reader, what the reply wait heard
  // and how long the reply was.
  virtual void ScanProbed(int /*port*/, const std::string& /*mode*/, bool /*found*/,
                          const ReplyWait& /*wait*/, int /*reply_length*/) {}
  virtual void TagPolled(const TagPoll& /*poll*/) {}
  // A command that changes the reader is about to go out. From here the operation has to
  // run to its end (the reply wait, what it keeps of the reply): a front end that can cut
  // operations short must not cut this one.
  virtual void ReaderChanging() {}
};

}  // namespace kelta
