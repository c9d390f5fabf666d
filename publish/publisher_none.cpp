// The build without MQTT (Windows): --mqtt is refused with a message that says so.
#include "publish/publisher.h"

namespace kelta::publish {

std::string Unavailable() {
  return "--mqtt: this build has no MQTT (the Windows build publishes nothing; run qm880ctl "
         "on Linux to publish to a broker)";
}

Opened Open(const Options&, const std::string&) {
  Opened opened;
  opened.failure = Failure::Unavailable;
  opened.message = Unavailable();
  return opened;
}

}  // namespace kelta::publish
