// Publishing with libmosquitto: its own network thread (loop_start) keeps the connection,
// reconnecting with a growing delay once it had one; a thread of ours makes the first
// connection (telling what can never succeed from a broker not there yet) and feeds the
// outbox to it in order, at the rate asked, with a bounded number awaiting acknowledgement.
#include <mosquitto.h>
#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "platform/config_dir.h"
#include "publish/broker_url.h"
#include "publish/outbox.h"
#include "publish/publisher.h"

namespace kelta::publish {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeepAliveS = 30;
constexpr std::size_t kMaxInFlight = 100;
constexpr unsigned kFirstBackoffMs = 1000;
constexpr unsigned kLastBackoffMs = 30000;
constexpr auto kResendWait = std::chrono::seconds(30);
// CONNACK's return codes of MQTT 3.1.1 for a refused user.
constexpr int kBadUserOrPassword = 4;
constexpr int kNotAuthorised = 5;

class MosquittoPublisher final : public Publisher {
 public:
  MosquittoPublisher(const Options& options, const BrokerUrl& url, std::string base,
                     std::unique_ptr<Outbox> outbox)
      : options_(options), url_(url), base_(std::move(base)), outbox_(std::move(outbox)) {}

  ~MosquittoPublisher() override {
    Stop();
    if (mosq_) mosquitto_destroy(mosq_);
  }

  std::string Start(const std::string& client_id, const std::string& password) {
    mosq_ = mosquitto_new(client_id.c_str(), false, this);
    if (!mosq_) return "cannot make the MQTT client";
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(mosq_, kMaxInFlight);
    mosquitto_reconnect_delay_set(mosq_, kFirstBackoffMs / 1000, kLastBackoffMs / 1000, true);
    if (!url_.user.empty()) {
      mosquitto_username_pw_set(mosq_, url_.user.c_str(),
                                password.empty() ? nullptr : password.c_str());
    }
    const std::string status = base_ + kTopicStatus;
    mosquitto_will_set(mosq_, status.c_str(), 7, "offline", 1, true);
    if (url_.tls) {
      const char* ca = options_.ca_file.empty() ? nullptr : options_.ca_file.c_str();
      const int rc = mosquitto_tls_set(
          mosq_, ca, ca ? nullptr : "/etc/ssl/certs",
          options_.cert_file.empty() ? nullptr : options_.cert_file.c_str(),
          options_.key_file.empty() ? nullptr : options_.key_file.c_str(), nullptr);
      if (rc != MOSQ_ERR_SUCCESS) {
        Fail(Failure::Certificate,
             "the certificate files cannot be used: " + std::string(mosquitto_strerror(rc)));
        return {};
      }
      mosquitto_tls_opts_set(mosq_, 1, nullptr, nullptr);
      mosquitto_tls_insecure_set(mosq_, false);  // the host name is checked
    }
    mosquitto_connect_callback_set(mosq_, [](mosquitto*, void* self, int rc) {
      static_cast<MosquittoPublisher*>(self)->Connected(rc);
    });
    mosquitto_disconnect_callback_set(mosq_, [](mosquitto*, void* self, int) {
      static_cast<MosquittoPublisher*>(self)->Disconnected();
    });
    mosquitto_publish_callback_set(mosq_, [](mosquitto*, void* self, int mid) {
      static_cast<MosquittoPublisher*>(self)->Acknowledged(mid);
    });
    worker_ = std::thread([this] { Run(); });
    return {};
  }

  void Publish(const char* topic, const std::string& body) override {
    outbox_->Add(base_ + topic, body);
    std::lock_guard lock(mutex_);
    wake_.notify_one();
  }

  Failure Failed(std::string& message) const override {
    std::lock_guard lock(mutex_);
    message = failure_text_;
    return failure_;
  }

  void Finish(unsigned grace_ms) override {
    {
      std::unique_lock lock(mutex_);
      const auto until = Clock::now() + std::chrono::milliseconds(grace_ms);
      idle_.wait_until(lock, until, [&] {
        return !connected_ || failure_ != Failure::None ||
               (in_flight_count_ == 0 && acked_.empty() && outbox_->Size() == 0);
      });
      stop_ = true;
      wake_.notify_all();
    }
    if (worker_.joinable()) worker_.join();
    if (looping_) {
      if (connected_) {
        int mid = 0;
        const std::string status = base_ + kTopicStatus;
        mosquitto_publish(mosq_, &mid, status.c_str(), 7, "offline", 1, true);
        std::unique_lock lock(mutex_);
        offline_mid_ = mid;
        idle_.wait_for(lock, std::chrono::seconds(2),
                       [&] { return offline_acked_ || !connected_; });
      }
      mosquitto_disconnect(mosq_);
      mosquitto_loop_stop(mosq_, false);
      looping_ = false;
    }
  }

 private:
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
      wake_.notify_all();
    }
    if (worker_.joinable()) worker_.join();
    if (looping_) {
      mosquitto_disconnect(mosq_);
      mosquitto_loop_stop(mosq_, true);
      looping_ = false;
    }
  }

  void Fail(Failure failure, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (failure_ != Failure::None) return;
    failure_ = failure;
    failure_text_ = text;
    wake_.notify_all();
    idle_.notify_all();
  }

  void Connected(int rc) {
    if (rc == kBadUserOrPassword || rc == kNotAuthorised) {
      Fail(Failure::Refused, "the broker " + url_.host + " refused the user name or password (" +
                                 mosquitto_connack_string(rc) + ")");
      return;
    }
    if (rc != 0) return;  // it may take us later
    mosquitto_publish(mosq_, nullptr, (base_ + kTopicStatus).c_str(), 6, "online", 1, true);
    std::lock_guard lock(mutex_);
    connected_ = true;
    wake_.notify_all();
  }

  void Disconnected() {
    std::lock_guard lock(mutex_);
    connected_ = false;
    // The client sends again what the broker had not acknowledged once it is back; new
    // messages wait for those, so that they keep their order.
    resending_ = true;
    idle_.notify_all();
  }

  void Acknowledged(int mid) {
    std::lock_guard lock(mutex_);
    if (mid == offline_mid_) offline_acked_ = true;
    acked_.push_back(mid);
    wake_.notify_all();
    idle_.notify_all();
  }

  // The first connection, tried until the broker takes it, it can never be, or reading ends.
  // Its network runs here until then: the TLS handshake's failure shows only there.
  bool Connect() {
    unsigned backoff = kFirstBackoffMs;
    for (;;) {
      int rc = mosquitto_connect(mosq_, url_.host.c_str(), url_.port, kKeepAliveS);
      const int error = errno;
      while (rc == MOSQ_ERR_SUCCESS && !connected_) {
        {
          std::lock_guard lock(mutex_);
          if (stop_ || failure_ != Failure::None) return false;
        }
        rc = mosquitto_loop(mosq_, 100, 1);
      }
      if (rc == MOSQ_ERR_SUCCESS) return true;
      if (rc == MOSQ_ERR_TLS) {
        Fail(Failure::Certificate, "TLS with " + url_.host +
                                       " failed: its certificate (or ours) was refused, or it "
                                       "is not for that host name");
        return false;
      }
      if (rc == MOSQ_ERR_EAI && (error == EAI_NONAME || error == EAI_FAIL)) {
        Fail(Failure::UnknownHost, "the broker's host " + url_.host + " is not known");
        return false;
      }
      std::unique_lock lock(mutex_);
      if (wake_.wait_for(lock, std::chrono::milliseconds(backoff), [&] { return stop_; })) {
        return false;
      }
      backoff = std::min(backoff * 2, kLastBackoffMs);
    }
  }

  void Run() {
    if (!Connect()) return;
    if (mosquitto_loop_start(mosq_) != MOSQ_ERR_SUCCESS) {
      Fail(Failure::Store, "cannot start the MQTT client's thread");
      return;
    }
    looping_ = true;
    std::int64_t sent = 0;  // the last sequence number handed to the client
    double tokens = 1;
    auto refilled = Clock::now();
    std::map<int, std::int64_t> in_flight;  // message id -> sequence number
    std::unique_lock lock(mutex_);
    while (!stop_) {
      while (!acked_.empty()) {
        const int mid = acked_.front();
        acked_.pop_front();
        if (const auto it = in_flight.find(mid); it != in_flight.end()) {
          lock.unlock();
          outbox_->Remove(it->second);
          lock.lock();
          in_flight.erase(it);
        }
      }
      in_flight_count_ = in_flight.size();
      if (failure_ != Failure::None) break;
      const auto now = Clock::now();
      if (options_.rate > 0) {
        tokens = std::min(
            std::max(1.0, options_.rate / 10),
            tokens + options_.rate * std::chrono::duration<double>(now - refilled).count());
      }
      refilled = now;
      if (in_flight.empty()) resending_ = false;
      if (!connected_ || in_flight.size() >= kMaxInFlight || resending_) {
        idle_.notify_all();
        const std::size_t waiting = in_flight.size();
        if (wake_.wait_for(lock, kResendWait) == std::cv_status::timeout && connected_ &&
            resending_ && in_flight.size() == waiting) {
          // Connected, and nothing sent again was acknowledged: send it from the outbox.
          for (const auto& [mid, seq] : in_flight) sent = std::min(sent, seq - 1);
          in_flight.clear();
          resending_ = false;
        }
        continue;
      }
      if (options_.rate > 0 && tokens < 1) {
        wake_.wait_for(lock, std::chrono::duration<double>((1 - tokens) / options_.rate));
        continue;
      }
      lock.unlock();
      const std::optional<Message> m = outbox_->Next(sent);
      if (m) {
        int mid = 0;
        const int rc =
            mosquitto_publish(mosq_, &mid, m->topic.c_str(), static_cast<int>(m->payload.size()),
                              m->payload.data(), 1, false);
        lock.lock();
        if (rc == MOSQ_ERR_SUCCESS) {
          in_flight[mid] = m->seq;
          sent = m->seq;
          tokens -= 1;
        } else {
          wake_.wait_for(lock, std::chrono::milliseconds(100));
        }
        continue;
      }
      lock.lock();
      idle_.notify_all();
      wake_.wait(lock);
    }
    in_flight_count_ = in_flight.size();
  }

  Options options_;
  BrokerUrl url_;
  std::string base_;  // "<prefix>/<serial>/"
  std::unique_ptr<Outbox> outbox_;
  mosquitto* mosq_ = nullptr;
  std::thread worker_;
  std::atomic<bool> looping_ = false;

  mutable std::mutex mutex_;
  std::condition_variable wake_;  // for the worker
  std::condition_variable idle_;  // for Finish
  bool stop_ = false;
  std::atomic<bool> connected_ = false;
  bool resending_ = false;
  std::deque<int> acked_;
  std::size_t in_flight_count_ = 0;  // the worker's, as last seen
  int offline_mid_ = -1;
  bool offline_acked_ = false;
  Failure failure_ = Failure::None;
  std::string failure_text_;
};

}  // namespace

std::string Unavailable() { return {}; }

Opened Open(const Options& options, const std::string& reader) {
  Opened opened;
  const auto fail = [&](Failure f, std::string text) {
    opened.failure = f;
    opened.message = std::move(text);
    return std::move(opened);
  };
  std::string error;
  const BrokerUrl url = ParseBrokerUrl(options.url, error);
  if (!error.empty()) return fail(Failure::Usage, "--mqtt: " + error);
  std::string password;
  std::string password_from;
  if (!options.password_file.empty()) {
    password_from = options.password_file;
  } else if (!options.credentials_dir.empty() && !url.user.empty()) {
    password_from = options.credentials_dir + "/mqtt-password";
  }
  if (!password_from.empty()) {
    const auto read = ReadPasswordFile(password_from);
    if (!read) return fail(Failure::Usage, "cannot read the MQTT password from " + password_from);
    password = *read;
    if (url.user.empty())
      return fail(Failure::Usage,
                  "a password without a user: give the user in the URL (mqtt://user@host/prefix)");
  }
  if (!password.empty() && !url.tls && !IsLoopback(url.host) && !options.allow_plain_password) {
    return fail(Failure::Usage,
                "refusing to send the MQTT password unencrypted to " + url.host +
                    ": use mqtts://, or --mqtt-plain-password if the network is trusted");
  }
  if (!url.tls && (!options.ca_file.empty() || !options.cert_file.empty())) {
    return fail(Failure::Usage, "--mqtt-ca and --mqtt-cert need an mqtts:// URL");
  }
  if (options.cert_file.empty() != options.key_file.empty()) {
    return fail(Failure::Usage, "--mqtt-cert and --mqtt-key go together");
  }
  const std::string serial = TopicSafe(reader);
  const std::string base = url.prefix + "/" + serial + "/";
  auto outbox = std::make_unique<Outbox>(options.queue, [](long n) {
    return "{\"event\":\"dropped\",\"count\":" + std::to_string(n) + "}";
  });
  const std::string dir = options.outbox_dir.empty() ? ConfigDir() : options.outbox_dir;
  std::error_code made;
  std::filesystem::create_directories(dir, made);
  const std::string path = dir + "/mqtt-outbox-" + serial + ".sqlite";
  if (const std::string why = outbox->Open(path); !why.empty()) {
    return fail(Failure::Store, "cannot open the MQTT outbox " + path + ": " + why);
  }
  static const int init = mosquitto_lib_init();
  (void)init;
  auto publisher = std::make_unique<MosquittoPublisher>(options, url, base, std::move(outbox));
  std::string gateway = options.gateway;
  if (gateway.empty()) {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    gateway = name;
  }
  // The same for this gateway and reader in every run: the broker resumes its session.
  const std::string client_id = "qm880-" + TopicSafe(gateway) + "-" + serial;
  if (const std::string why = publisher->Start(client_id, password); !why.empty()) {
    return fail(Failure::Store, why);
  }
  std::string message;
  if (const Failure f = publisher->Failed(message); f != Failure::None) return fail(f, message);
  opened.publisher = std::move(publisher);
  return opened;
}

}  // namespace kelta::publish
