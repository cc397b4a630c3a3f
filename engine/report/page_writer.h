// Writes the two page files ("index.html" and "actions.html") on a thread of its own.
// Request, called on the UI thread whenever something the pages show has changed, takes a
// snapshot of the store and returns at once. The writer's thread builds both pages from
// the newest snapshot and writes them, one build at a time: however many requests arrive
// during a build, they give exactly one more build. After each build whose pages were
// written, the user interface hears PagesWritten(). Request and Shutdown are for the UI
// thread; the object must not be destroyed while another thread calls it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/report/html_report.h"

namespace engine {

class PageWriter {
 public:
  // Builds and writes the pages of a snapshot; true when they were written. Runs on the
  // writer's thread.
  using BuildFunction = std::function<bool(const HtmlSnapshot&)>;

  // With HtmlReport::WritePages.
  PageWriter();
  // With another build (tests block a build here to see what happens meanwhile).
  explicit PageWriter(BuildFunction build);
  // Shutdown with a short bound.
  ~PageWriter();
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;

  // Asks for both pages as the store is now (HtmlReport::TakeSnapshot). Returns at once;
  // nothing after Shutdown.
  void Request();
  void Request(HtmlSnapshot snapshot);

  // Waits up to the bound until no build runs and none is asked for; true when idle.
  bool WaitUntilIdle(std::chrono::milliseconds bound);
  // How many builds have ended.
  std::uint64_t Builds() const;

  // At exit: takes no more requests, drops one not yet begun, and waits up to the bound
  // for a running build. A build still running then is abandoned: it finishes on its own,
  // touching nothing of this object or of the user interface. True when none was left.
  bool Shutdown(std::chrono::milliseconds bound);

 private:
  struct State;
  static void Run(std::shared_ptr<State> state);

  std::shared_ptr<State> state_;
};

}  // namespace engine
