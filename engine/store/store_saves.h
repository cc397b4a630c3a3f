// The configuration file's side of the edits and removals: which monitors and actions hold
// edits not yet in the file, which removals are not yet in it, and the worker that writes
// them, the one writer of the file in this process. A commit or a removal hands its work
// to the worker and returns at once, so the user-interface thread never waits on the file.
// The worker writes the records as they are when it writes (so the newest state wins) and
// the removals' statements, in one transaction per attempt, in the order they were handed
// over, and tries the edits again while another connection holds the file's lock. A
// removal the file refuses is told at once and put back, unless it is one that is tried
// until it is in the file, or the exit has begun. A failure of the edits is told to the
// user once when it begins and once when everything is in the file again. Any thread.
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
#include "engine/store/window_store.h"

namespace engine {

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

// A removal of records that have already left the store: the statements that delete their
// rows in the configuration file, and what goes with their leaving it.
struct ConfigRemoval {
  std::vector<std::string> statements;
  // Runs on the worker once the rows are out of the file (their data rows, say).
  std::function<void()> removed;
  // Runs on the worker when the file refuses the removal (another connection's lock past
  // the bound of one attempt, an unwritable file): puts the records back. The user is told
  // once for the attempt. Refused removals run it last first, and only once no removal
  // handed over after them may still be refused, so each record returns to where it was
  // before the first of them took anything. Left empty, the removal is kept and tried again
  // with the edits until it is in the file, and counts as unsaved work meanwhile; so is
  // every removal while the exit is under way (SetExiting).
  std::function<void()> refused;
  // What leaves the file, for the user: `the test query "Orders" of the monitor "Sales"`.
  std::string what;
  // Set by ConfigSaves::Remove: the order removals were handed over in.
  std::uint64_t serial = 0;
};

// The worker's pauses between attempts on a locked file: the first, doubled after each
// attempt that meets the lock again, up to the last.
struct ConfigSavePauses {
  std::chrono::milliseconds first{20};
  std::chrono::milliseconds last{1000};
};

// The texts told to the user when saves begin to fail, and when they succeed again.
std::string ConfigSaveFailureText(const FileFailure& failure);
std::string ConfigSaveRecoveredText(const std::string& path);

class ConfigSaves {
 public:
  // Runs the removals' statements, then writes the records, in one transaction on the
  // calling thread, waiting at most busyLimit for another connection's lock: 0, or
  // SQLite's result described in *failure (never null). Records that no longer exist are
  // skipped.
  using Writer =
      std::function<int(const SaveSet& records, const std::vector<std::string>& statements,
                        std::chrono::milliseconds busyLimit, FileFailure* failure)>;

  // How long each attempt of the worker waits for the file's lock.
  static constexpr std::chrono::milliseconds kBusyBound = DataFiles::kConfigBusyBound;

  explicit ConfigSaves(Writer writer, ConfigSavePauses pauses = {});
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
  // Hands the removal to the worker, behind everything handed over before, and returns.
  // The worker tries it at once, even while it pauses after a locked file.
  void Remove(ConfigRemoval removal);
  // From the close's or the exit's first save on (true) until the user chooses to keep the
  // program running (false): a removal the file refuses is kept and tried again with the
  // edits instead of being put back, and counts as unsaved work; the exit tells the user of
  // failures, so the worker does not. Back to false, kept removals are tried again at once
  // and put back when the file still refuses them.
  void SetExiting(bool exiting);
  // Waits until the worker holds nothing, past the deadline only for the attempt under way
  // or about to be made, and then only while the last attempt did not fail: 0 when
  // everything handed over is in the file, else the last failure, described in *failure,
  // with what the removals not in the file take out (ConfigRemoval::what) in *unremoved
  // when given. The worker's pause after a locked file ends, and while this waits the
  // worker tries a locked file again after its shortest pause.
  int Flush(std::chrono::steady_clock::time_point deadline, FileFailure* failure,
            std::vector<std::string>* unremoved = nullptr);
  // Drops every mark and whatever the worker still holds (the store was emptied, all of it
  // was written, or the user chose to exit without saving). A write under way goes on, but
  // what it cannot write is neither tried again nor kept for the next commit.
  void Forget();
  // Whether some record has edits or a removal not yet in the file: marked, left to the
  // worker, kept for the next commit, or being written.
  bool Pending();
  // Waits until the worker holds nothing, or the deadline passes; true when it holds
  // nothing.
  bool WaitIdle(std::chrono::steady_clock::time_point deadline);

 private:
  void Run();
  // Caller holds mutex_. The worker has something to write.
  bool HasWork() const { return !queued_.Empty() || !removals_.empty(); }
  // Notes a write's result (0 or a failure); when failing begins or ends, a message for
  // the user is kept for TellUser. Caller holds mutex_.
  void Note(int result, const FileFailure& failure);
  // Shows the kept messages, without mutex_ held (the user interface may call back), in
  // the order they were noted: one thread tells at a time, and one that finds another
  // telling leaves its messages to it.
  void TellUser();

  Writer writer_;
  const ConfigSavePauses pauses_;
  std::mutex mutex_;
  std::condition_variable wake_;  // new work or stop, for the worker
  std::condition_variable idle_;  // the worker holds nothing
  SaveSet marked_;
  SaveSet queued_;                       // left to the worker
  std::vector<ConfigRemoval> removals_;  // left to the worker, in order
  std::vector<ConfigRemoval> held_;      // failed other than on the lock: for the next commit
  std::vector<ConfigRemoval> refused_;   // refused, to be put back (see ConfigRemoval)
  // Removals handed over so far (and the serial of the last one): new ones end a pause.
  std::uint64_t handed_ = 0;
  bool exiting_ = false;
  bool writing_ = false;
  int flushing_ = 0;             // Flush calls waiting: the pauses stay the shortest
  std::uint64_t flushes_ = 0;    // Flush calls so far: one that begins ends the pause
  int lastResult_ = 0;           // of the last attempt
  FileFailure lastFailure_;      // of the last failed attempt
  std::uint64_t forgotten_ = 0;  // Forget calls so far
  bool stop_ = false;
  bool failing_ = false;
  bool telling_ = false;                              // a thread is in TellUser
  std::vector<std::pair<std::string, bool>> toTell_;  // texts not yet shown, error or not
  std::thread worker_;
};

}  // namespace engine
