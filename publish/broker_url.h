// The broker's URL and what the security rules make of it, before any connection.
#pragma once

#include <optional>
#include <string>

namespace kelta::publish {

struct BrokerUrl {
  bool tls = false;
  std::string user;  // empty: none
  std::string host;
  int port = 0;
  std::string prefix;  // topics' first levels, without slashes at either end
};

// Parses mqtt[s]://[user@]host[:port][/prefix]. Empty `error` on success; a password in
// the URL is an error (it would show in `ps`).
BrokerUrl ParseBrokerUrl(const std::string& url, std::string& error);

// localhost, 127.0.0.0/8, ::1: a password over plain MQTT does not leave the machine.
bool IsLoopback(const std::string& host);

// The first line of a password file, without its line end. nullopt when it cannot be read.
std::optional<std::string> ReadPasswordFile(const std::string& path);

// The ASCII letters and digits, '-' and '_' of `text` (a host name or serial number in a
// client id or topic), the rest as '_'.
std::string TopicSafe(const std::string& text);

}  // namespace kelta::publish
