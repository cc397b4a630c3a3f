// A scriptable ODBC layer for engine tests: connection failures, query values and errors
// by SQL text, time spent on a FakeClock, and queries (or connects) that block until the
// test releases them or the connection is cancelled. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "platform/odbc.h"

namespace engine::testing {

class FakeOdbc : public platform::IOdbc, public std::enable_shared_from_this<FakeOdbc> {
 public:
  struct QueryResult {
    platform::OdbcError error;
    platform::OdbcFirstValue value;
  };

  explicit FakeOdbc(FakeClock* clock = nullptr) : clock_(clock) {}

  // ---- script ----
  void SetConnectError(std::int32_t code, std::string text) {
    std::lock_guard lock(mutex_);
    connectError_.code = code;
    connectError_.text = std::move(text);
  }
  void ClearConnectError() {
    SetConnectError(0, "");
    std::lock_guard lock(mutex_);
    failSilently_ = false;
  }
  // Connect answers success but hands out no connection (a driver that failed without a
  // word).
  void FailConnectSilently() { Locked(failSilently_) = true; }
  // Time each connect / each query takes on the fake clock.
  void SetConnectDuration(std::chrono::milliseconds d) { Locked(connectDuration_) = d; }
  void SetQueryDuration(std::chrono::milliseconds d) { Locked(queryDuration_) = d; }
  void SetValue(const std::string& sql, std::string text) {
    QueryResult r;
    r.value.kind = platform::OdbcFirstValue::Kind::kText;
    r.value.text = std::move(text);
    Set(sql, r);
  }
  void SetNull(const std::string& sql) {
    QueryResult r;
    r.value.kind = platform::OdbcFirstValue::Kind::kNull;
    Set(sql, r);
  }
  void SetNoRow(const std::string& sql) { Set(sql, QueryResult{}); }
  void SetError(const std::string& sql, std::int32_t code, std::string text) {
    QueryResult r;
    r.error.code = code;
    r.error.text = std::move(text);
    Set(sql, r);
  }
  void Set(const std::string& sql, QueryResult result) {
    std::lock_guard lock(mutex_);
    results_[sql] = std::move(result);
  }
  // While set, every query (or connect) waits until Release() or, for a query, until its
  // connection is cancelled.
  void BlockQueries(bool block) { Locked(blockQueries_) = block; }
  void BlockConnects(bool block) { Locked(blockConnects_) = block; }
  // While set, a cancel waits until Release() (a driver that waits for an unreachable
  // server), and only then ends the statement.
  void BlockCancels(bool block) { Locked(blockCancels_) = block; }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      blockQueries_ = false;
      blockConnects_ = false;
      blockCancels_ = false;
      ++releases_;
    }
    cv_.notify_all();
  }
  // Waits until some call is blocked; false after the time-out.
  bool WaitForBlocked(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [this] { return blocked_ > 0; });
  }
  // Waits until every blocked call has returned.
  bool WaitForUnblocked(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [this] { return blocked_ == 0; });
  }

  // ---- what happened ----
  int Connects() const { return Locked(connects_); }
  int Queries(const std::string& sql) const {
    std::lock_guard lock(mutex_);
    auto it = queryCounts_.find(sql);
    return it == queryCounts_.end() ? 0 : it->second;
  }
  // Every SQL text queried so far, each once, in text order.
  std::vector<std::string> QueriedTexts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const auto& [sql, count] : queryCounts_) texts.push_back(sql);
    return texts;
  }
  // The fake clock's monotonic time at each connect, in ms.
  std::vector<std::int64_t> ConnectTimes() const { return Locked(connectTimes_); }
  bool WaitForConnects(int count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return connects_ >= count; });
  }
  int Cancels() const { return Locked(cancels_); }
  std::string LastConnectionText() const { return Locked(lastConnectionText_); }
  int LastLoginTimeout() const { return Locked(lastLoginTimeout_); }
  int LastQueryTimeout() const { return Locked(lastQueryTimeout_); }

  // ---- IOdbc ----
  platform::OdbcError Connect(std::string_view connectionText, int loginTimeoutSeconds,
                              std::shared_ptr<platform::IOdbcConnection>* connection) override {
    std::unique_lock lock(mutex_);
    ++connects_;
    connectTimes_.push_back(clock_ != nullptr ? clock_->Monotonic().count() : 0);
    cv_.notify_all();
    lastConnectionText_ = std::string(connectionText);
    lastLoginTimeout_ = loginTimeoutSeconds;
    if (blockConnects_) {
      ++blocked_;
      cv_.notify_all();
      const int releases = releases_;
      cv_.wait(lock, [&] { return releases_ != releases; });
      --blocked_;
      cv_.notify_all();
    }
    Spend(connectDuration_);
    if (connectError_.Failed()) return connectError_;
    if (failSilently_) return {};
    *connection = std::make_shared<Connection>(shared_from_this());
    return {};
  }

  platform::OdbcError ListDataSources(std::vector<platform::OdbcDataSource>* sources) override {
    sources->clear();
    return {};
  }

 private:
  // A copy of (or, for a setter, an assignment to) a member under the mutex.
  template <class T>
  T Locked(const T& member) const {
    std::lock_guard lock(mutex_);
    return member;
  }
  template <class T>
  struct Assign {
    std::mutex& mutex;
    T& member;
    void operator=(T value) {
      std::lock_guard lock(mutex);
      member = std::move(value);
    }
  };
  template <class T>
  Assign<T> Locked(T& member) {
    return {mutex_, member};
  }

  class Connection : public platform::IOdbcConnection {
   public:
    explicit Connection(std::shared_ptr<FakeOdbc> owner) : owner_(std::move(owner)) {}
    platform::OdbcError QueryFirstValue(std::string_view sql, int queryTimeoutSeconds,
                                        platform::OdbcFirstValue* value) override {
      return owner_->Query(this, sql, queryTimeoutSeconds, value);
    }
    platform::OdbcError Execute(std::string_view sql, int queryTimeoutSeconds) override {
      platform::OdbcFirstValue ignored;
      return owner_->Query(this, sql, queryTimeoutSeconds, &ignored);
    }
    void Cancel() override {
      {
        std::unique_lock lock(owner_->mutex_);
        if (owner_->blockCancels_) {
          const int releases = owner_->releases_;
          owner_->cv_.wait(lock, [&] { return owner_->releases_ != releases; });
        }
        cancelled = true;
        ++owner_->cancels_;
      }
      owner_->cv_.notify_all();
    }
    void Close() override {}

    bool cancelled = false;  // guarded by the owner's mutex

   private:
    std::shared_ptr<FakeOdbc> owner_;
  };

  platform::OdbcError Query(Connection* connection, std::string_view sqlView, int timeout,
                            platform::OdbcFirstValue* value) {
    const std::string sql(sqlView);
    std::unique_lock lock(mutex_);
    ++queryCounts_[sql];
    lastQueryTimeout_ = timeout;
    if (blockQueries_ && !connection->cancelled) {
      ++blocked_;
      cv_.notify_all();
      const int releases = releases_;
      cv_.wait(lock, [&] { return releases_ != releases || connection->cancelled; });
      --blocked_;
      cv_.notify_all();
    }
    if (connection->cancelled) {
      platform::OdbcError error;
      error.code = -1;
      error.text = "cancelled";
      return error;
    }
    Spend(queryDuration_);
    auto it = results_.find(sql);
    if (it == results_.end()) {
      value->kind = platform::OdbcFirstValue::Kind::kText;
      value->text = "1";
      return {};
    }
    *value = it->second.value;
    return it->second.error;
  }

  void Spend(std::chrono::milliseconds d) {
    if (clock_ != nullptr && d.count() > 0) clock_->Advance(d);
  }

  FakeClock* clock_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  platform::OdbcError connectError_;
  bool failSilently_ = false;
  std::chrono::milliseconds connectDuration_{0};
  std::chrono::milliseconds queryDuration_{0};
  std::map<std::string, QueryResult> results_;
  bool blockQueries_ = false;
  bool blockConnects_ = false;
  bool blockCancels_ = false;
  int releases_ = 0;
  int blocked_ = 0;
  int connects_ = 0;
  std::vector<std::int64_t> connectTimes_;
  int cancels_ = 0;
  std::map<std::string, int> queryCounts_;
  std::string lastConnectionText_;
  int lastLoginTimeout_ = 0;
  int lastQueryTimeout_ = 0;
};

}  // namespace engine::testing
