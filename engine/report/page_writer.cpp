#include "engine/report/page_writer.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "engine/data/log_writer.h"
#include "engine/monitor/server.h"
#include "engine/monitor_directory.h"
#include "engine/services.h"
#include "engine/user_interface.h"

namespace engine {

std::string PageFailureText(const std::string& path, const std::string& failure) {
  return "The page " + path + " cannot be written (" + failure +
         "). It stays as it was until it can be written again.";
}

std::string PageRecoveredText(const std::string& path) {
  return "The page " + path + " can be written again.";
}

std::vector<std::string> PageFileStatus::Note(const PageWrites& writes) {
  std::vector<std::string> texts;
  for (const PageFileWrite& write : writes) {
    if (!write.written) {
      if (failing_.insert(write.path).second) {
        texts.push_back(PageFailureText(write.path, write.failure));
      }
    } else if (failing_.erase(write.path) != 0) {
      texts.push_back(PageRecoveredText(write.path));
    }
  }
  return texts;
}

namespace {

// The identifiers of the store's monitors now; none without a store.
std::vector<std::string> StoreMonitorIds() {
  std::vector<std::string> ids;
  if (const IMonitorDirectory* store = Services::Storage()) {
    for (const std::shared_ptr<Server>& server : store->GetServerList()) {
      if (server) ids.push_back(server->id);  // never changes once the monitor is shared
    }
  }
  return ids;
}

}  // namespace

// Shared by the writer and its thread, so that an abandoned thread still has it.
struct PageWriter::State {
  explicit State(BuildFunction function) : build(std::move(function)) {}

  const BuildFunction build;
  mutable std::mutex mutex;
  std::condition_variable changed;
  HtmlSnapshot next;  // the newest snapshot asked for
  bool pending = false;
  bool building = false;
  bool closing = false;
  bool ended = false;  // the thread has left its loop
  std::uint64_t builds = 0;
  PageFileStatus files;  // the writer's thread only
  // Held while the user interface, the store or the log is reached; once `quiet` is set
  // none ever is again.
  std::mutex uiMutex;
  bool quiet = false;
  std::thread thread;
};

PageWriter::PageWriter()
    : PageWriter([](const HtmlSnapshot& snapshot) {
        PageWrites writes;
        HtmlReport::WritePages(snapshot, &writes);
        return writes;
      }) {}

PageWriter::PageWriter(BuildFunction build) : state_(std::make_shared<State>(std::move(build))) {
  state_->thread = std::thread(Run, state_);
}

PageWriter::~PageWriter() { Shutdown(std::chrono::milliseconds(200)); }

void PageWriter::Request() { Request(HtmlReport::TakeSnapshot()); }

void PageWriter::Request(HtmlSnapshot snapshot) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->closing) return;
    state_->next = std::move(snapshot);
    state_->pending = true;
  }
  state_->changed.notify_all();
}

bool PageWriter::WaitUntilIdle(std::chrono::milliseconds bound) {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(
      lock, bound, [&] { return state_->ended || (!state_->pending && !state_->building); });
}

std::uint64_t PageWriter::Builds() const {
  std::lock_guard lock(state_->mutex);
  return state_->builds;
}

bool PageWriter::Shutdown(std::chrono::milliseconds bound) {
  {
    std::lock_guard lock(state_->mutex);
    state_->closing = true;
    state_->pending = false;
    state_->next = HtmlSnapshot{};
  }
  state_->changed.notify_all();
  {
    // After this the thread never reaches the user interface, which may go next.
    std::lock_guard lock(state_->uiMutex);
    state_->quiet = true;
  }
  bool ended = false;
  {
    std::unique_lock lock(state_->mutex);
    ended = state_->changed.wait_for(lock, bound, [&] { return state_->ended; });
  }
  if (state_->thread.joinable()) {
    if (ended) {
      state_->thread.join();
    } else {
      state_->thread.detach();  // it holds its own reference to the state
    }
  }
  return ended;
}

void PageWriter::Run(std::shared_ptr<State> state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    state->changed.wait(lock, [&] { return state->pending || state->closing; });
    if (state->closing) break;
    const HtmlSnapshot snapshot = std::move(state->next);
    state->next = HtmlSnapshot{};
    state->pending = false;
    state->building = true;
    lock.unlock();
    PageWrites writes;
    try {
      writes = state->build(snapshot);
    } catch (...) {
      writes.clear();  // the old pages stay; the next request tries again
    }
    const bool written =
        !writes.empty() && std::all_of(writes.begin(), writes.end(),
                                       [](const PageFileWrite& write) { return write.written; });
    {
      std::lock_guard ui(state->uiMutex);
      if (!state->quiet) {
        // The pages show every monitor, so each monitor of the store (deleted ones aside)
        // hears of them in its log. Without a monitor there is no log to tell: the change
        // waits for one.
        const std::vector<std::string> monitors = StoreMonitorIds();
        if (!monitors.empty()) {
          for (const std::string& text : state->files.Note(writes)) {
            for (const std::string& id : monitors) WriteLogRow(id, 0, text);
          }
        }
        if (written) {
          if (IUserInterface* userInterface = Services::Ui()) userInterface->PagesWritten();
        }
      }
    }
    lock.lock();
    state->building = false;
    ++state->builds;
    state->changed.notify_all();
  }
  state->ended = true;
  lock.unlock();
  state->changed.notify_all();
}

}  // namespace engine
