#include "cli/gateway_options.h"

#include <CLI/CLI.hpp>

#include "publish/publisher.h"

namespace kelta::cli {

void DefineGatewayOptions(CLI::App& read, GatewayOptions& g) {
  g.queue = publish::kDefaultQueue;
  g.rate = publish::kDefaultRate;
  read.add_option_function<double>(
          "--presence",
          [&g](double s) {
            g.presence = true;
            g.presence_s = s;
          },
          "tell when a tag came and went: gone after S seconds unheard (default 10); with "
          "--format jsonl as event lines among the reads")
      ->type_name("S")
      ->check(CLI::Range(0.1, 1e6));
  read.add_flag("--only-presence", g.only_presence, "the presence events without the reads");
  CLI::Option* mqtt =
      read.add_option("--mqtt", g.mqtt,
                      "publish reads, presence and events to the broker at "
                      "mqtt[s]://[user@]host[:port]/prefix, kept on disk until it has them")
          ->type_name("URL")
          ->check(CLI::Validator(
              [](std::string& url) -> std::string {
                return url.empty() ? "needs the broker's URL, e.g. mqtts://host/prefix" : "";
              },
              "", "URL"));
  read.add_option("--mqtt-ca", g.ca_file,
                  "mqtts: the broker's certificate authority (default: the system's)")
      ->type_name("FILE");
  read.add_option("--mqtt-cert", g.cert_file, "mqtts: a client certificate")->type_name("FILE");
  read.add_option("--mqtt-key", g.key_file, "mqtts: the client certificate's key")
      ->type_name("FILE");
  read.add_option("--mqtt-password-file", g.password_file,
                  "the password of the URL's user, first line of FILE (default: the credential "
                  "mqtt-password in $CREDENTIALS_DIRECTORY)")
      ->type_name("FILE");
  read.add_flag("--mqtt-plain-password", g.plain_password,
                "allow the password over plain mqtt:// to a host other than this one");
  read.add_option("--mqtt-queue", g.queue,
                  "messages kept on disk at most while the broker is away; then the oldest go "
                  "(default 1000000, a day at 11 reads a second)")
      ->type_name("N")
      ->check(CLI::Range(100L, 1000000000L));
  read.add_option("--mqtt-rate", g.rate,
                  "messages a second at most to the broker, 0 for no bound (default 100)")
      ->type_name("N")
      ->check(CLI::Range(0.0, 1e6));
  for (const char* name : {"--mqtt-ca", "--mqtt-cert", "--mqtt-key", "--mqtt-password-file",
                           "--mqtt-plain-password", "--mqtt-queue", "--mqtt-rate"}) {
    read.get_option(name)->needs(mqtt);
  }
}

}  // namespace kelta::cli
