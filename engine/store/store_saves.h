// The configuration file's side of the edits: which monitors and actions hold edits not
// yet in the file, and the worker that writes them. A commit hands every record waiting to
// the worker and returns at once, so the committing thread (the user-interface thread)
// never waits on the file. The worker writes the records as they are when it writes (so
// the newest state wins), in one transaction per attempt, in the order of the commits, and
// tries again while another connection holds the file's lock. A failure is told to the
// user once when it begins and once when it ends. Any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/data/data_files.h"

namespace engine {

struct FileFailure;

// The records one commit writes, by identifier.
struct SaveSet {
  std::set<std::string> monitors;
  std::set<std::string> actions;

  bool Empty() const { return monitors.empty() && actions.empty(); }
  void Merge(const SaveSet& other);
  void swap(SaveSet& other) noexcept {
    monitors.swap(other.monitors);
    actions.swap(other.actions);
  }
};

// The texts told to the user when saves begin to fail, and when they succeed again.
std::string ConfigSaveFailureText(const FileFailure& failure);
std::string ConfigSaveRecoveredText(const std::string& path);

class ConfigSaves {
 public:
  // Writes the records in one transaction on the calling thread, waiting at most
  // busyLimit for another connection's lock: 0, or SQLite's result described in *failure
  // (never null). Records that no longer exist are skipped.
  using Writer = std::function<int(const SaveSet& records, std::chrono::milliseconds busyLimit,
                                   FileFailure* failure)>;

  // How long each attempt of the worker waits for the file's lock.
  static constexpr std::chrono::milliseconds kBusyBound = DataFiles::kConfigBusyBound;

  explicit ConfigSaves(Writer writer);
  // Stops the worker once it has made one attempt at everything committed (after the write
  // under way, if any); what that attempt could not write is dropped.
  ~ConfigSaves();
  ConfigSaves(const ConfigSaves&) = delete;
  ConfigSaves& operator=(const ConfigSaves&) = delete;

  // The record has edits for the next commit; nothing is written.
  void MarkMonitor(const std::string& id);
  void MarkAction(const std::string& id);
  // Hands every record marked so far to the worker and returns. A write that fails for
  // another reason than the lock leaves its records marked for the next commit.
  void Commit();
  // Drops every mark and whatever the worker still holds (the store was emptied, all of it
  // was written, or the user chose to exit without saving). A write under way goes on, but
  // what it cannot write is neither tried again nor kept for the next commit.
  void Forget();
  // Whether some record has edits not yet in the file: marked, left to the worker, or
  // being written.
  bool Pending();
  // Waits until the worker holds nothing, or the deadline passes; true when it holds
  // nothing.
  bool WaitIdle(std::chrono::steady_clock::time_point deadline);

 private:
  void Run();
  // Notes a write's result (0 or a failure); when failing begins or ends, a message for
  // the user is kept for TellUser. Caller holds mutex_.
  void Note(int result, const FileFailure& failure);
  // Shows the kept messages, without mutex_ held (the user interface may call back), in
  // the order they were noted: one thread tells at a time, and one that finds another
  // telling leaves its messages to it.
  void TellUser();

  Writer writer_;
  std::mutex mutex_;
  std::condition_variable wake_;  // new work or stop, for the worker
  std::condition_variable idle_;  // the worker holds nothing
  SaveSet marked_;
  SaveSet queued_;  // left to the worker
  bool writing_ = false;
  std::uint64_t forgotten_ = 0;  // Forget calls so far
  bool stop_ = false;
  bool failing_ = false;
  bool telling_ = false;                              // a thread is in TellUser
  std::vector<std::pair<std::string, bool>> toTell_;  // texts not yet shown, error or not
  std::thread worker_;
};

}  // namespace engine
