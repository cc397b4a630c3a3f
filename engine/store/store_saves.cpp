#include "engine/store/store_saves.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "engine/db/busy_event.h"
#include "engine/services.h"
#include "engine/store/server_storage.h"
#include "engine/user_interface.h"

namespace engine {

namespace {

constexpr const char* kCaption = "Lumivar";

bool IsLocked(int result) {
  const int primary = result & 0xFF;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

bool Refusable(const ConfigRemoval& removal) { return static_cast<bool>(removal.refused); }

}  // namespace

void SaveSet::Merge(const SaveSet& other) {
  monitors.insert(other.monitors.begin(), other.monitors.end());
  actions.insert(other.actions.begin(), other.actions.end());
}

std::string ConfigSaveFailureText(const FileFailure& failure) {
  return "The configuration could not be saved to " + failure.path + ": " + failure.text + ".";
}

std::string ConfigSaveRecoveredText(const std::string& path) {
  return "The configuration is saved to " + path + " again.";
}

ConfigSaves::ConfigSaves(Writer writer, ConfigSavePauses pauses)
    : writer_(std::move(writer)), pauses_(pauses) {}

ConfigSaves::~ConfigSaves() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  // The worker's last attempt is bounded by kBusyBound and its pauses end on stop.
  if (worker_.joinable()) worker_.join();
}

void ConfigSaves::MarkMonitor(const std::string& id) {
  std::lock_guard lock(mutex_);
  marked_.monitors.insert(id);
}

void ConfigSaves::MarkAction(const std::string& id) {
  std::lock_guard lock(mutex_);
  marked_.actions.insert(id);
}

void ConfigSaves::Commit() {
  std::lock_guard lock(mutex_);
  // Removals that failed other than on the lock go first: they were handed over earlier.
  if (!held_.empty()) {
    removals_.insert(removals_.begin(), std::make_move_iterator(held_.begin()),
                     std::make_move_iterator(held_.end()));
    held_.clear();
  } else if (marked_.Empty()) {
    return;
  }
  // Behind whatever the worker holds: the file sees the commits in order.
  queued_.Merge(marked_);
  marked_ = {};
  if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
  wake_.notify_all();
}

void ConfigSaves::Remove(ConfigRemoval removal) {
  std::lock_guard lock(mutex_);
  removal.serial = ++handed_;
  removals_.push_back(std::move(removal));
  if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
  wake_.notify_all();
}

void ConfigSaves::SetExiting(bool exiting) {
  std::lock_guard lock(mutex_);
  if (exiting_ == exiting) return;
  exiting_ = exiting;
  if (exiting) return;
  // What the exit kept is tried again now, as removals are: held ones first, since they
  // were handed over before those the worker still holds.
  std::vector<ConfigRemoval> again;
  for (auto it = held_.begin(); it != held_.end();) {
    if (Refusable(*it)) {
      again.push_back(std::move(*it));
      it = held_.erase(it);
    } else {
      ++it;
    }
  }
  removals_.insert(removals_.begin(), std::make_move_iterator(again.begin()),
                   std::make_move_iterator(again.end()));
  if (std::none_of(removals_.begin(), removals_.end(), Refusable)) return;
  ++handed_;
  if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
  wake_.notify_all();
}

void ConfigSaves::Forget() {
  std::lock_guard lock(mutex_);
  marked_ = {};
  queued_ = {};
  removals_.clear();
  held_.clear();
  refused_.clear();
  // A write under way finishes, but what it could not write is not kept.
  ++forgotten_;
  idle_.notify_all();
}

bool ConfigSaves::Pending() {
  std::lock_guard lock(mutex_);
  return !marked_.Empty() || HasWork() || !held_.empty() || !refused_.empty() || writing_;
}

bool ConfigSaves::WaitIdle(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return idle_.wait_until(lock, deadline, [this] { return !writing_ && !HasWork(); });
}

int ConfigSaves::Flush(std::chrono::steady_clock::time_point deadline, FileFailure* failure,
                       std::vector<std::string>* unremoved) {
  if (unremoved != nullptr) unremoved->clear();
  std::unique_lock lock(mutex_);
  ++flushes_;
  ++flushing_;
  wake_.notify_all();
  const auto settled = [this] { return !writing_ && !HasWork(); };
  if (!idle_.wait_until(lock, deadline, settled)) {
    // The program's own write is never cut short: only a failed attempt ends the wait.
    idle_.wait(lock, [&] { return settled() || (!writing_ && lastResult_ != SQLITE_OK); });
  }
  --flushing_;
  if (settled() && marked_.Empty() && held_.empty() && refused_.empty()) return SQLITE_OK;
  if (failure != nullptr) *failure = lastFailure_;
  if (unremoved != nullptr) {
    // Refused ones waiting to go back are not in the window either, until they do.
    std::vector<const ConfigRemoval*> out;
    for (const auto* list : {&refused_, &held_, &removals_}) {
      for (const ConfigRemoval& removal : *list) {
        if (!removal.what.empty()) out.push_back(&removal);
      }
    }
    std::sort(out.begin(), out.end(),
              [](const auto* a, const auto* b) { return a->serial < b->serial; });
    for (const ConfigRemoval* removal : out) unremoved->push_back(removal->what);
  }
  return lastFailure_.code != SQLITE_OK ? lastFailure_.code : SQLITE_ERROR;
}

void ConfigSaves::Run() {
  std::unique_lock lock(mutex_);
  std::chrono::milliseconds pause = pauses_.first;
  // When the file was first found locked in the run of attempts under way; none: not locked.
  std::chrono::steady_clock::time_point lockedSince{};
  bool locked = false;
  while (true) {
    wake_.wait(lock, [this] { return stop_ || HasWork(); });
    if (!HasWork()) return;  // stopped, with nothing left to write
    SaveSet records;
    records.swap(queued_);
    std::vector<ConfigRemoval> removals;
    removals.swap(removals_);
    writing_ = true;
    // A stop asked for before this write makes it the last; one asked for during it leaves
    // what was committed meanwhile one attempt more.
    const bool last = stop_;
    const std::uint64_t forgotten = forgotten_;
    const std::uint64_t handed = handed_;
    lock.unlock();
    std::vector<std::string> statements;
    for (const ConfigRemoval& removal : removals) {
      statements.insert(statements.end(), removal.statements.begin(), removal.statements.end());
    }
    FileFailure found;
    const int rc = writer_(records, statements, kBusyBound, &found);
    lock.lock();
    lastResult_ = rc;
    if (rc != SQLITE_OK) lastFailure_ = found;
    // What runs once the mutex is let go: the removals that left the file, and those the
    // file refused that go back now.
    std::vector<ConfigRemoval> done;
    std::vector<ConfigRemoval> refused;
    if (forgotten != forgotten_) {
      // The edits were forgotten during the write: whatever it did not write is dropped,
      // and a lock that held it back is no longer waited for.
      locked = false;
      pause = pauses_.first;
      if (rc == SQLITE_OK) {
        done.swap(removals);
        Note(rc, found);
      }
    } else if (rc == SQLITE_OK) {
      locked = false;
      pause = pauses_.first;
      done.swap(removals);
      // Back to saving only when nothing that failed before still waits.
      if (held_.empty() && marked_.Empty()) Note(rc, found);
    } else {
      std::vector<ConfigRemoval> kept;
      for (ConfigRemoval& removal : removals) {
        // Once the exit has begun, a removal is unsaved work like an edit.
        (Refusable(removal) && !exiting_ ? refused : kept).push_back(std::move(removal));
      }
      const bool retried = !records.Empty() || !kept.empty();
      if (IsLocked(rc) && retried) {
        // First in line again, with whatever was handed over meanwhile.
        records.Merge(queued_);
        queued_.swap(records);
        removals_.insert(removals_.begin(), std::make_move_iterator(kept.begin()),
                         std::make_move_iterator(kept.end()));
        const auto now = std::chrono::steady_clock::now();
        if (!locked) lockedSince = now;
        locked = true;
        // A lock held longer than any call would wait for it is a failure to tell; the
        // worker keeps trying all the same.
        if (now - lockedSince >= db::BusyEvent::RetryLimit()) Note(rc, found);
      } else {
        locked = false;
        pause = pauses_.first;
        // A failure other than the lock waits for the next commit, like one met there.
        marked_.Merge(records);
        std::move(kept.begin(), kept.end(), std::back_inserter(held_));
        if (retried) Note(rc, found);
      }
      if (!refused.empty()) {
        // One message for the attempt; the edits that failed with it are told by it too.
        const std::string text = ConfigSaveFailureText(found);
        if (std::none_of(toTell_.begin(), toTell_.end(),
                         [&](const auto& t) { return t.first == text; })) {
          toTell_.emplace_back(text, true);
        }
        if (retried) failing_ = true;
        std::move(refused.begin(), refused.end(), std::back_inserter(refused_));
        refused.clear();
      }
    }
    // Refused removals go back once none handed over after them may still be refused: a
    // later one may hold a record next to theirs, or the attribute of their alert.
    if (!refused_.empty() && std::none_of(removals_.begin(), removals_.end(), Refusable) &&
        std::none_of(held_.begin(), held_.end(), Refusable)) {
      refused.swap(refused_);
    }
    lock.unlock();
    // The last handed over goes back first, whichever attempt refused it.
    std::sort(refused.begin(), refused.end(),
              [](const ConfigRemoval& a, const ConfigRemoval& b) { return a.serial > b.serial; });
    for (ConfigRemoval& removal : refused) removal.refused();
    for (ConfigRemoval& removal : done) {
      if (removal.removed) removal.removed();
    }
    TellUser();
    lock.lock();
    // Idle once what this write had to tell is told.
    writing_ = false;
    idle_.notify_all();
    if (last) return;
    // A removal handed over during the attempt or the pause is tried at once: the user hears
    // of a refusal within one attempt's bound.
    if (locked && handed_ == handed) {
      // A Flush that begins ends the pause, and while one waits the pause is the shortest:
      // a grown one would outlast its deadline while the lock may already be gone.
      const std::uint64_t flushes = flushes_;
      wake_.wait_for(lock, flushing_ > 0 ? pauses_.first : pause,
                     [&] { return stop_ || flushes_ != flushes || handed_ != handed; });
      pause = std::min(pause * 2, pauses_.last);
    }
  }
}

void ConfigSaves::Note(int result, const FileFailure& failure) {
  const bool failed = result != SQLITE_OK;
  if (failed == failing_) return;
  failing_ = failed;
  // The exit tells what it could not save, and asks about it at the close.
  if (exiting_) return;
  toTell_.emplace_back(
      failed ? ConfigSaveFailureText(failure) : ConfigSaveRecoveredText(failure.path), failed);
}

void ConfigSaves::TellUser() {
  std::unique_lock lock(mutex_);
  // The thread already telling shows what is noted meanwhile too, after what it holds.
  if (telling_) return;
  telling_ = true;
  while (!toTell_.empty()) {
    std::vector<std::pair<std::string, bool>> texts;
    texts.swap(toTell_);
    lock.unlock();
    if (IUserInterface* ui = Services::Ui()) {
      for (auto& [text, error] : texts) {
        ui->ShowAlertMessage(kCaption, std::move(text),
                             error ? IUserInterface::MessageKind::kError
                                   : IUserInterface::MessageKind::kInformation);
      }
    }
    lock.lock();
  }
  telling_ = false;
}

}  // namespace engine
