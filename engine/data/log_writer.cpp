#include "engine/data/log_writer.h"

#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "engine/clock.h"
#include "engine/data/data_files.h"
#include "engine/data/statements.h"

namespace engine {
namespace {

// How long the end of the process leaves the writer to finish what is queued.
constexpr std::chrono::seconds kExitBound{1};

struct Request {
  std::uint64_t sequence = 0;
  std::string folder;
  std::string statement;
  ClearDone done;  // may be empty
};

class LogWriter {
 public:
  void Add(std::string folder, std::string statement, ClearDone done = {}) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back({++asked_, std::move(folder), std::move(statement), std::move(done)});
      if (!started_) Launch();
    }
    work_.notify_one();
  }

  // Waits until every request up to the current one is done; on the deadline, gives up
  // the queued ones when giveUp is set. With giveUp, returns how many requests are lost:
  // those given up, the batch still being written (it may yet reach the file, but nobody
  // waits for it), and those whose writing failed since the last such call (but those
  // whose outcome went to their caller). *all says whether everything was done.
  std::size_t Wait(std::chrono::steady_clock::time_point deadline, bool giveUp, bool* all) {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = asked_;
    *all = done_cv_.wait_until(lock, deadline, [&] { return done_ >= target; });
    if (!giveUp) return 0;
    std::size_t lost = failed_;
    failed_ = 0;
    if (*all) return lost;
    std::size_t given = 0;
    while (!queue_.empty() && queue_.front().sequence <= target) {
      queue_.pop_front();
      ++given;
    }
    if (inFlightFirst_ != 0 && inFlightFirst_ <= target && !inFlightAbandoned_) {
      lost += static_cast<std::size_t>(std::min(inFlightLast_, target) - inFlightFirst_ + 1);
      inFlightAbandoned_ = true;  // its failure is counted here already
    }
    FinishedLocked(given);
    return lost + given;
  }

  // At process exit: a short bound for what is queued, then the thread is ended.
  void End() {
    bool all = false;
    Wait(std::chrono::steady_clock::now() + kExitBound, true, &all);
    std::unique_lock lock(mutex_);
    exiting_ = true;
    work_.notify_one();
    if (!thread_.joinable()) return;
    if (done_cv_.wait_for(lock, kExitBound, [&] { return !running_; })) {
      lock.unlock();
      thread_.join();
    } else {
      thread_.detach();  // stuck on the file: the process ends around it
    }
  }

 private:
  // Caller holds mutex_.
  void Launch() {
    started_ = true;
    try {
      thread_ = std::thread([this] { Run(); });
      running_ = true;
      std::atexit([] { Writer().End(); });
    } catch (const std::system_error&) {
      started_ = false;  // tried again with the next request
    }
  }

  void FinishedLocked(std::size_t count) {
    done_ += count;
    done_cv_.notify_all();
  }

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      work_.wait(lock, [&] { return !queue_.empty() || exiting_; });
      if (queue_.empty()) break;
      // Every request of one folder that is queued now, in one transaction.
      std::deque<Request> batch;
      const std::string folder = queue_.front().folder;
      while (!queue_.empty() && queue_.front().folder == folder) {
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
      inFlightFirst_ = batch.front().sequence;
      inFlightLast_ = batch.back().sequence;
      inFlightAbandoned_ = false;
      lock.unlock();
      std::vector<int> results;
      Write(folder, batch, results);
      // Outside the lock (a caller may take locks of its own), and before waiters hear
      // that the batch is done. A request whose outcome goes to its caller is not counted
      // as lost: the caller has it.
      std::size_t notWritten = 0;
      for (std::size_t i = 0; i < batch.size(); ++i) {
        if (!batch[i].done) {
          if (results[i] != SQLITE_OK) ++notWritten;
          continue;
        }
        try {
          batch[i].done(results[i]);
        } catch (...) {
          // The writer goes on with the next request whatever a caller's outcome does.
        }
      }
      lock.lock();
      if (!inFlightAbandoned_) failed_ += notWritten;
      inFlightFirst_ = inFlightLast_ = 0;
      FinishedLocked(batch.size());
    }
    running_ = false;
    done_cv_.notify_all();
  }

  // Gives each request's outcome, in batch order: 0, or SQLite's result of its failure.
  static void Write(const std::string& folder, const std::deque<Request>& batch,
                    std::vector<int>& results) {
    db::Database database;
    const int opened = DataFiles::OpenDatabaseIn(database, folder, DataFiles::kDataFileName);
    if (opened != SQLITE_OK) {
      results.assign(batch.size(), opened);
      return;
    }
    const bool began = db::Database::ExecSQL(database, "BEGIN IMMEDIATE") == SQLITE_OK;
    results.clear();
    for (const Request& request : batch) {
      results.push_back(db::Database::ExecSQL(database, request.statement));
    }
    if (began) {
      const int committed = db::Database::ExecSQL(database, "COMMIT");
      if (committed != SQLITE_OK) {
        db::Database::ExecSQL(database, "ROLLBACK");
        results.assign(batch.size(), committed);
      }
    }
  }

 public:
  // Never destroyed: threads still running at exit may ask for rows.
  static LogWriter& Writer() {
    static auto* writer = new LogWriter;
    return *writer;
  }

 private:
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_cv_;
  std::deque<Request> queue_;
  std::uint64_t asked_ = 0;
  std::uint64_t done_ = 0;
  // Requests whose writing failed since the last give-up wait, but those whose outcome
  // went to their caller.
  std::size_t failed_ = 0;
  // The sequences of the batch being written; 0 while none is.
  std::uint64_t inFlightFirst_ = 0;
  std::uint64_t inFlightLast_ = 0;
  bool inFlightAbandoned_ = false;  // a give-up wait has counted it lost already
  bool started_ = false;
  bool running_ = false;
  bool exiting_ = false;
  std::thread thread_;
};

}  // namespace

void WriteLogRow(const std::string& monitorId, int type, const std::string& text) {
  LogWriter::Writer().Add(DataFiles::DataFolder(),
                          sql::InsertLog(monitorId, Clock::Now(), type, text));
}

void ClearLogRows(const std::string& monitorId) {
  ClearLogRowsIn(DataFiles::DataFolder(), monitorId);
}

void ClearLogRowsIn(const std::string& folder, const std::string& monitorId, ClearDone done) {
  LogWriter::Writer().Add(folder, sql::DeleteLogOfMonitor(monitorId), std::move(done));
}

std::string LogClearFailureText(const std::string& monitorName, const std::string& path,
                                int result) {
  return "The log of " + monitorName + " could not be cleared in " + path + " (" +
         sqlite3_errstr(result) + "). Its rows stay.";
}

bool WaitForLogWrites(std::chrono::steady_clock::time_point deadline) {
  bool all = false;
  LogWriter::Writer().Wait(deadline, false, &all);
  return all;
}

std::size_t FlushLogRows(std::chrono::steady_clock::time_point deadline) {
  bool all = false;
  return LogWriter::Writer().Wait(deadline, true, &all);
}

}  // namespace engine
