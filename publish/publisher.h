// Publishing reads and events to an MQTT broker with nothing lost: each message goes to a
// disk outbox first and leaves it only once the broker has acknowledged it (QoS 1). A
// thread of its own connects, delivers the outbox in order at a bounded rate and gets the
// connection back after an outage. Which implementation a build has is chosen by CMake:
// the Windows build has none and says so.
#pragma once

#include <memory>
#include <string>

namespace kelta::publish {

// What can never succeed, each with an exit code of its own in the front end.
enum class Failure {
  None,
  Usage,        // the URL or the options (a password over plain MQTT to another host, ...)
  Unavailable,  // this build has no MQTT
  Store,        // the outbox cannot be opened
  Refused,      // the broker refused the user name or password
  Certificate,  // the broker's certificate, or the client's own, was refused
  UnknownHost,  // the broker's host name is not known
};

struct Options {
  std::string url;  // mqtt[s]://[user@]host[:port][/prefix]
  std::string ca_file;
  std::string cert_file;
  std::string key_file;
  std::string password_file;
  bool allow_plain_password = false;
  long queue = 0;               // messages the outbox holds at most
  double rate = 0;              // messages a second at most; 0: no bound
  std::string outbox_dir;       // where the outbox file goes (default: the settings folder)
  std::string credentials_dir;  // $CREDENTIALS_DIRECTORY, or empty
  std::string gateway;          // this machine's name, for the client id (default: its own)
};

// A day of reading at 11 reads a second, with room for the events among them.
inline constexpr long kDefaultQueue = 1000000;
// A hundred gateways coming back at once send a broker 10000 messages a second.
inline constexpr double kDefaultRate = 100;

// Topics under the URL's prefix and the reader's serial number.
inline constexpr const char* kTopicTags = "tags";
inline constexpr const char* kTopicPresence = "presence";
inline constexpr const char* kTopicEvents = "events";
inline constexpr const char* kTopicStatus = "status";

class Publisher {
 public:
  virtual ~Publisher() = default;
  // Puts a message for `<prefix>/<serial>/<topic>` in the outbox. `body` is a JSON
  // object; the message is that object with its sequence number first ("seq").
  virtual void Publish(const char* topic, const std::string& body) = 0;
  // A failure that can never succeed, once known (it ends reading).
  virtual Failure Failed(std::string& message) const = 0;
  // Reading is over: what can go out in `grace_ms` goes, then "offline", and the
  // connection is closed. The rest stays in the outbox for the next run.
  virtual void Finish(unsigned grace_ms) = 0;
};

struct Opened {
  std::unique_ptr<Publisher> publisher;
  Failure failure = Failure::None;
  std::string message;  // for failure
};

// Empty where this build publishes; else why not (checked before anything is opened).
std::string Unavailable();

// Checks the options, opens the outbox and starts the publishing thread: a broker that
// cannot be reached yet is no failure. `reader` is the reader's serial number.
Opened Open(const Options& options, const std::string& reader);

}  // namespace kelta::publish
