// The disk outbox: messages in the order made, each with a sequence number that grows
// across runs, kept until the broker has acknowledged them. SQLite in WAL mode: a message
// is on disk once Add returns, and a process killed at any point loses none of them.
// Bounded: when full, the oldest hundredth goes at once and a message says how many.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace kelta::publish {

struct Message {
  std::int64_t seq = 0;
  std::string topic;
  std::string payload;  // the body with "seq" first
};

class Outbox {
 public:
  // `dropped` makes the body of the message that tells of `n` messages dropped.
  Outbox(long limit, std::function<std::string(long n)> dropped);
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Opens (or makes) the file. Empty on success, else why not.
  std::string Open(const std::string& path);
  // Stores a message; `body` is a JSON object's text. Thread-safe, as all of these.
  void Add(const std::string& topic, const std::string& body);
  // The first message after sequence number `after`.
  std::optional<Message> Next(std::int64_t after);
  // The broker has it.
  void Remove(std::int64_t seq);
  long Size();

 private:
  void Insert(const std::string& topic, const std::string& body);
  sqlite3_stmt* Prepare(const char* sql);

  long limit_;
  std::function<std::string(long)> dropped_;
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* next_ = nullptr;
  sqlite3_stmt* remove_ = nullptr;
  sqlite3_stmt* drop_ = nullptr;
  long size_ = 0;
};

}  // namespace kelta::publish
