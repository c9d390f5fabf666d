#include "publish/broker_url.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

namespace kelta::publish {

BrokerUrl ParseBrokerUrl(const std::string& url, std::string& error) {
  BrokerUrl b;
  error.clear();
  std::string rest;
  if (url.rfind("mqtt://", 0) == 0) {
    rest = url.substr(7);
  } else if (url.rfind("mqtts://", 0) == 0) {
    b.tls = true;
    rest = url.substr(8);
  } else {
    error = "the URL is mqtt://host[:port]/prefix or mqtts://host[:port]/prefix";
    return b;
  }
  const std::size_t slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  b.prefix = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
  while (!b.prefix.empty() && b.prefix.back() == '/') b.prefix.pop_back();
  if (b.prefix.find_first_of("#+") != std::string::npos) {
    error = "the topic prefix cannot hold the wildcards # or +";
    return b;
  }
  if (b.prefix.empty()) b.prefix = "qm880";
  if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
    b.user = authority.substr(0, at);
    authority = authority.substr(at + 1);
    if (b.user.find(':') != std::string::npos) {
      error =
          "no password in the URL (every user sees it in ps): give it in "
          "--mqtt-password-file or as the credential mqtt-password";
      return b;
    }
  }
  b.port = b.tls ? 8883 : 1883;
  std::string port;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos) {
      error = "no ] after the IPv6 address";
      return b;
    }
    b.host = authority.substr(1, close - 1);
    if (close + 1 < authority.size() && authority[close + 1] == ':')
      port = authority.substr(close + 2);
  } else if (const std::size_t colon = authority.find(':'); colon != std::string::npos) {
    b.host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  } else {
    b.host = authority;
  }
  if (b.host.empty()) {
    error = "no broker host in the URL";
    return b;
  }
  if (!port.empty() || authority.back() == ':') {
    char* end = nullptr;
    const long n = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || n < 1 || n > 65535) {
      error = "the port is a number from 1 to 65535";
      return b;
    }
    b.port = static_cast<int>(n);
  }
  return b;
}

bool IsLoopback(const std::string& host) {
  if (host == "localhost" || host == "::1") return true;
  if (host.rfind("127.", 0) != 0) return false;
  return host.find_first_not_of("0123456789.") == std::string::npos;
}

std::optional<std::string> ReadPasswordFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string TopicSafe(const std::string& text) {
  std::string safe;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    safe += std::isalnum(u) || c == '-' || c == '_' ? c : '_';
  }
  return safe;
}

}  // namespace kelta::publish
