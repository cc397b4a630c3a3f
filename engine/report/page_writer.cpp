#include "engine/report/page_writer.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "engine/services.h"
#include "engine/user_interface.h"

namespace engine {

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
  // Held while the user interface is told; once `quiet` is set it never is again.
  std::mutex uiMutex;
  bool quiet = false;
  std::thread thread;
};

PageWriter::PageWriter() : PageWriter(&HtmlReport::WritePages) {}

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
    bool written = false;
    try {
      written = state->build(snapshot);
    } catch (...) {
      written = false;  // the old pages stay; the next request tries again
    }
    if (written) {
      std::lock_guard ui(state->uiMutex);
      if (!state->quiet) {
        if (IUserInterface* userInterface = Services::Ui()) userInterface->PagesWritten();
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
