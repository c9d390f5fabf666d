// mqtt_bench: publishing's figures against Debian's mosquitto on a free port of 127.0.0.1.
// 1. Latency: from the moment a read is handed to the publisher (as the tag reply comes off
//    the line) to a subscriber's receipt, a read every 91 ms (11 reads a second): median
//    and 99th percentile.
// 2. A day's outage: read-tags --mqtt on the in-memory line and a virtual clock, 950,400
//    tag reads (a day at 11 a second) with the broker down: the outbox's disk, the heap's
//    growth after the first thousand polls; then the broker up and the backlog delivered
//    without a bound on the rate, and the rate the default bound gives.
#include <malloc.h>
#include <mosquitto.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "publish/publisher.h"
#include "sim/sim_line.h"
#include "sim/virtual_clock.h"
#include "sim/write_hook.h"
#include "tests/cli/mosquitto_process.h"

namespace {

namespace fs = std::filesystem;
using namespace kelta;
using Steady = std::chrono::steady_clock;

constexpr long kDayReads = 11L * 86400;
constexpr long kWarmUpPolls = 1000;

std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

long long NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch())
      .count();
}

struct Subscriber {
  std::mutex mutex;
  std::vector<double> latencies_ms;
  std::atomic<bool> subscribed = false;
};

void Latency(int port, const fs::path& home) {
  Subscriber sub;
  mosquitto* m = mosquitto_new("bench-sub", true, &sub);
  mosquitto_connect_callback_set(
      m, [](mosquitto* mosq, void*, int) { mosquitto_subscribe(mosq, nullptr, "bench/#", 1); });
  mosquitto_subscribe_callback_set(m, [](mosquitto*, void* self, int, int, const int*) {
    static_cast<Subscriber*>(self)->subscribed = true;
  });
  mosquitto_message_callback_set(m, [](mosquitto*, void* self, const mosquitto_message* msg) {
    const long long now = NowNs();
    const std::string payload(static_cast<const char*>(msg->payload), msg->payloadlen);
    const std::size_t at = payload.find("\"ns\":");
    if (at == std::string::npos) return;
    auto* s = static_cast<Subscriber*>(self);
    std::lock_guard lock(s->mutex);
    s->latencies_ms.push_back(static_cast<double>(now - std::stoll(payload.substr(at + 5))) / 1e6);
  });
  mosquitto_connect(m, "127.0.0.1", port, 30);
  mosquitto_loop_start(m);
  while (!sub.subscribed) std::this_thread::sleep_for(std::chrono::milliseconds(10));

  publish::Options o;
  o.url = "mqtt://127.0.0.1:" + std::to_string(port) + "/bench";
  o.queue = publish::kDefaultQueue;
  o.rate = publish::kDefaultRate;
  o.outbox_dir = (home / "latency").string();
  fs::create_directories(o.outbox_dir);
  publish::Opened opened = publish::Open(o, "QM880001");
  constexpr int kReads = 300;
  for (int i = 0; i < kReads; ++i) {
    opened.publisher->Publish(publish::kTopicTags,
                              "{\"tag\":\"000004D2\",\"ns\":" + std::to_string(NowNs()) + "}");
    std::this_thread::sleep_for(std::chrono::milliseconds(91));
  }
  opened.publisher->Finish(5000);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  mosquitto_disconnect(m);
  mosquitto_loop_stop(m, false);
  mosquitto_destroy(m);
  std::vector<double> l = sub.latencies_ms;
  std::sort(l.begin(), l.end());
  if (l.empty()) {
    std::printf("mqtt latency: nothing arrived\n");
    return;
  }
  const double median = l[l.size() / 2];
  std::printf(
      "mqtt latency, publisher to subscriber through mosquitto on 127.0.0.1, %zu of %d reads "
      "a 91 ms poll period apart: median %.2f ms (goal under 5 ms: %s), 99th percentile %.2f "
      "ms, worst %.2f ms\n",
      l.size(), kReads, median, median < 5 ? "met" : "MISSED",
      l[std::min(l.size() - 1, l.size() * 99 / 100)], l.back());
}

long long DiskBytes(const fs::path& dir) {
  long long bytes = 0;
  for (const auto& f : fs::directory_iterator(dir)) {
    if (f.path().filename().string().rfind("mqtt-outbox", 0) == 0)
      bytes += static_cast<long long>(f.file_size());
  }
  return bytes;
}

int Outage(int port, const fs::path& home) {
  VirtualClock clock;
  SimLine line(clock);
  line.AttachReader(2, ReaderModel(ReaderSettings{}, {SimTag{0x4D2, 1}}));
  WriteHook device(line);
  long polls = 0;
  std::size_t after_warm_up = 0;
  std::size_t at_end = 0;
  device.on_write = [&](std::string_view bytes) {
    if (!bytes.starts_with("A00F")) return;
    line.ClearLog();
    ++polls;
    if (polls == kWarmUpPolls + 1) after_warm_up = HeapInUse();
    if (polls == kDayReads) at_end = HeapInUse();
  };
  const std::string count = std::to_string(kDayReads);
  const std::string url = "mqtt://127.0.0.1:" + std::to_string(port) + "/bench";
  const std::vector<const char*> argv = {
      "qm880ctl", "--port", "2",       "--mode",      "5",      "--no-store", "read-tags",
      "--format", "csv",    "--count", count.c_str(), "--mqtt", url.c_str()};
  cli::CliOptions options;
  std::ostringstream help;
  if (cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options, help, help)) {
    std::fprintf(stderr, "mqtt_bench: %s\n", help.str().c_str());
    return 1;
  }
  std::FILE* sink = std::fopen("/dev/null", "w");
  const auto start = Steady::now();
  const int code = cli::RunCommand(options, sink, sink, device, clock);
  const std::chrono::duration<double> real = Steady::now() - start;
  std::fclose(sink);
  const fs::path dir = home / "KELTA" / "ReaderConfig";
  const long long disk = DiskBytes(dir);
  const long long growth = static_cast<long long>(at_end) - static_cast<long long>(after_warm_up);
  std::printf(
      "mqtt outage of a day (%ld reads, broker down): outbox %.1f MB on disk (%.0f B a read); "
      "heap %+lld B from poll %ld to the last (goal under 65536 B: %s); %.0f s real\n",
      kDayReads, static_cast<double>(disk) / 1e6, static_cast<double>(disk) / kDayReads, growth,
      kWarmUpPolls, growth < 65536 ? "met" : "MISSED", real.count());
  return code;
}

long Waiting(const fs::path& dir) {
  sqlite3* db = nullptr;
  long n = -1;
  if (sqlite3_open((dir / "mqtt-outbox-QM880001.sqlite").c_str(), &db) == SQLITE_OK) {
    sqlite3_exec(
        db, "SELECT count(*) FROM outbox",
        [](void* out, int, char** v, char**) {
          *static_cast<long*>(out) = std::atol(v[0]);
          return 0;
        },
        &n, nullptr);
  }
  sqlite3_close(db);
  return n;
}

void Backlog(const fs::path& home, int port, double rate, double seconds) {
  publish::Options o;
  o.url = "mqtt://127.0.0.1:" + std::to_string(port) + "/bench";
  o.queue = publish::kDefaultQueue;
  o.rate = rate;
  o.outbox_dir = (home / "KELTA" / "ReaderConfig").string();
  const long before = Waiting(o.outbox_dir);
  const auto start = Steady::now();
  publish::Opened opened = publish::Open(o, "QM880001");
  if (!opened.publisher) {
    std::printf("mqtt backlog: %s\n", opened.message.c_str());
    return;
  }
  // Finish waits for the outbox to empty once connected: the connection is made first.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  opened.publisher->Finish(static_cast<unsigned>(seconds * 1000));
  const std::chrono::duration<double> real = Steady::now() - start;
  const long delivered = before - Waiting(o.outbox_dir);
  std::printf(
      "mqtt backlog %s: %ld messages in %.1f s, %.0f a second (a day's %ld would take "
      "%.0f s); outbox now %.1f MB\n",
      rate > 0 ? ("at " + std::to_string(static_cast<int>(rate)) + " a second").c_str()
               : "without a bound",
      delivered, real.count(), static_cast<double>(delivered) / real.count(), kDayReads,
      static_cast<double>(kDayReads) * real.count() / static_cast<double>(delivered),
      static_cast<double>(DiskBytes(o.outbox_dir)) / 1e6);
}

}  // namespace

int main() {
  const fs::path home =
      fs::temp_directory_path() / ("kelta-mqtt-bench-" + std::to_string(getpid()));
  fs::create_directories(home);
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);
  mosquitto_lib_init();
  MosquittoProcess broker(home, {"allow_anonymous true"});
  if (!broker.Start()) {
    std::printf("mqtt_bench: mosquitto did not start\n");
    return 1;
  }
  Latency(broker.Port(), home);
  broker.Stop();
  int code = Outage(broker.Port(), home);
  if (!broker.Start()) return 1;
  // The default rate for ten seconds (the whole backlog would take hours at it), then the
  // rest without a bound.
  Backlog(home, broker.Port(), kelta::publish::kDefaultRate, 10);
  Backlog(home, broker.Port(), 0, 3600);
  broker.Stop();
  fs::remove_all(home);
  return code;
}
