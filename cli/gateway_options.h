// read-tags' options for a gateway: presence events and publishing to an MQTT broker.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace kelta::cli {

struct GatewayOptions {
  bool presence = false;   // --presence, --only-presence or --mqtt: presence events
  double presence_s = 10;  // --presence S
  bool only_presence = false;
  std::string mqtt;             // --mqtt URL; empty: no publishing
  std::string ca_file;          // --mqtt-ca
  std::string cert_file;        // --mqtt-cert
  std::string key_file;         // --mqtt-key
  std::string password_file;    // --mqtt-password-file
  bool plain_password = false;  // --mqtt-plain-password
  long queue = 1000000;         // --mqtt-queue
  double rate = 100;            // --mqtt-rate (0: no bound)
};

// Adds the options to read-tags.
void DefineGatewayOptions(CLI::App& read, GatewayOptions& g);

}  // namespace kelta::cli
