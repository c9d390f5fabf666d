#include "publish/outbox.h"

#include <sqlite3.h>

#include <algorithm>

namespace kelta::publish {

Outbox::Outbox(long limit, std::function<std::string(long)> dropped)
    : limit_(std::max(limit, 2L)), dropped_(std::move(dropped)) {}

Outbox::~Outbox() {
  for (sqlite3_stmt* s : {insert_, next_, remove_, drop_}) sqlite3_finalize(s);
  sqlite3_close(db_);
}

sqlite3_stmt* Outbox::Prepare(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
  return statement;
}

std::string Outbox::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    return db_ ? sqlite3_errmsg(db_) : "out of memory";
  }
  sqlite3_busy_timeout(db_, 5000);
  // WAL with NORMAL: a commit is in the log when it returns, safe from the process being
  // killed; the space of delivered messages is given back as they go; a cache of 32 KiB
  // (messages are added at the end and taken from the start: few pages are ever needed).
  const char* setup =
      "PRAGMA auto_vacuum=INCREMENTAL;"
      "PRAGMA journal_mode=WAL;"
      "PRAGMA synchronous=NORMAL;"
      "PRAGMA cache_size=-32;"
      "CREATE TABLE IF NOT EXISTS outbox("
      " seq INTEGER PRIMARY KEY AUTOINCREMENT, topic TEXT NOT NULL, body TEXT NOT NULL);";
  char* error = nullptr;
  if (sqlite3_exec(db_, setup, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string text = error ? error : "cannot set it up";
    sqlite3_free(error);
    return text;
  }
  insert_ = Prepare("INSERT INTO outbox(topic, body) VALUES(?, ?)");
  next_ = Prepare("SELECT seq, topic, body FROM outbox WHERE seq > ? ORDER BY seq LIMIT 1");
  remove_ = Prepare("DELETE FROM outbox WHERE seq = ?");
  drop_ = Prepare("DELETE FROM outbox WHERE seq IN (SELECT seq FROM outbox ORDER BY seq LIMIT ?)");
  sqlite3_stmt* count = Prepare("SELECT count(*) FROM outbox");
  if (!insert_ || !next_ || !remove_ || !drop_ || !count) return sqlite3_errmsg(db_);
  if (sqlite3_step(count) == SQLITE_ROW) size_ = static_cast<long>(sqlite3_column_int64(count, 0));
  sqlite3_finalize(count);
  return {};
}

void Outbox::Insert(const std::string& topic, const std::string& body) {
  sqlite3_bind_text(insert_, 1, topic.data(), static_cast<int>(topic.size()), SQLITE_STATIC);
  sqlite3_bind_text(insert_, 2, body.data(), static_cast<int>(body.size()), SQLITE_STATIC);
  if (sqlite3_step(insert_) == SQLITE_DONE) ++size_;
  sqlite3_reset(insert_);
}

void Outbox::Add(const std::string& topic, const std::string& body) {
  std::lock_guard lock(mutex_);
  if (size_ + 1 >= limit_) {
    const long n = std::max(limit_ / 100, 1L);
    sqlite3_bind_int64(drop_, 1, n);
    if (sqlite3_step(drop_) == SQLITE_DONE) size_ -= sqlite3_changes(db_);
    sqlite3_reset(drop_);
    Insert(topic, body);
    Insert(topic.substr(0, topic.rfind('/') + 1) + "events", dropped_(n));
    return;
  }
  Insert(topic, body);
}

std::optional<Message> Outbox::Next(std::int64_t after) {
  std::lock_guard lock(mutex_);
  std::optional<Message> m;
  sqlite3_bind_int64(next_, 1, after);
  if (sqlite3_step(next_) == SQLITE_ROW) {
    m.emplace();
    m->seq = sqlite3_column_int64(next_, 0);
    m->topic = reinterpret_cast<const char*>(sqlite3_column_text(next_, 1));
    const std::string body = reinterpret_cast<const char*>(sqlite3_column_text(next_, 2));
    m->payload =
        "{\"seq\":" + std::to_string(m->seq) + (body.size() > 2 ? "," : "") + body.substr(1);
  }
  sqlite3_reset(next_);
  return m;
}

void Outbox::Remove(std::int64_t seq) {
  std::lock_guard lock(mutex_);
  sqlite3_bind_int64(remove_, 1, seq);
  if (sqlite3_step(remove_) == SQLITE_DONE && sqlite3_changes(db_) > 0) --size_;
  sqlite3_reset(remove_);
  // Gives the space back now and then, a little at a time.
  if (size_ == 0 || seq % 1000 == 0)
    sqlite3_exec(db_, "PRAGMA incremental_vacuum(256)", nullptr, nullptr, nullptr);
}

long Outbox::Size() {
  std::lock_guard lock(mutex_);
  return size_;
}

}  // namespace kelta::publish
