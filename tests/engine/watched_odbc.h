// The system's driver manager, watched by the integration tests: it counts the queries
// running through it and the cancels asked for, and while cancels are held a cancel waits
// until the test lets it go (so that a stop stays pending for as long as the test looks).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/odbc.h"

namespace engine::testing {

class WatchedOdbc : public platform::IOdbc, public std::enable_shared_from_this<WatchedOdbc> {
 public:
  explicit WatchedOdbc(bool holdCancels = false) : held_(holdCancels) {}

  platform::OdbcError Connect(std::string_view text, int loginTimeout,
                              std::shared_ptr<platform::IOdbcConnection>* connection) override {
    std::shared_ptr<platform::IOdbcConnection> real;
    platform::OdbcError error = platform::SystemOdbc().Connect(text, loginTimeout, &real);
    if (real) *connection = std::make_shared<Connection>(shared_from_this(), std::move(real));
    return error;
  }
  platform::OdbcError ListDataSources(std::vector<platform::OdbcDataSource>* sources) override {
    return platform::SystemOdbc().ListDataSources(sources);
  }

  // Each waits at most 20 s; the result says whether the count was reached.
  bool WaitForRunning(int count) {
    return Wait([&] { return running_ == count; });
  }
  bool WaitForCancel() {
    return Wait([&] { return cancels_ > 0; });
  }
  void LetCancelsGo() {
    Change([&] { held_ = false; });
  }

 private:
  class Connection : public platform::IOdbcConnection {
   public:
    Connection(std::shared_ptr<WatchedOdbc> owner, std::shared_ptr<platform::IOdbcConnection> real)
        : owner_(std::move(owner)), real_(std::move(real)) {}
    platform::OdbcError QueryFirstValue(std::string_view sql, int timeout,
                                        platform::OdbcFirstValue* value) override {
      owner_->Change([&] { ++owner_->running_; });
      platform::OdbcError error = real_->QueryFirstValue(sql, timeout, value);
      owner_->Change([&] { --owner_->running_; });
      return error;
    }
    platform::OdbcError Execute(std::string_view sql, int timeout) override {
      return real_->Execute(sql, timeout);
    }
    void Cancel() override {
      owner_->Change([&] { ++owner_->cancels_; });
      {
        std::unique_lock lock(owner_->mutex_);
        owner_->cv_.wait(lock, [&] { return !owner_->held_; });
      }
      real_->Cancel();
    }
    void Close() override { real_->Close(); }

   private:
    std::shared_ptr<WatchedOdbc> owner_;
    std::shared_ptr<platform::IOdbcConnection> real_;
  };

  void Change(const std::function<void()>& change) {
    {
      std::lock_guard lock(mutex_);
      change();
    }
    cv_.notify_all();
  }
  bool Wait(const std::function<bool()>& condition) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(20), condition);
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  bool held_;
  int running_ = 0;
  int cancels_ = 0;
};

}  // namespace engine::testing
