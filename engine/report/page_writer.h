// Writes the two page files ("index.html" and "actions.html") on a thread of its own.
// Request, called on the UI thread whenever something the pages show has changed, takes a
// snapshot of the store and returns at once. The writer's thread builds both pages from
// the newest snapshot and writes them, one build at a time: however many requests arrive
// during a build, they give exactly one more build. After each build whose pages were
// written, the user interface hears PagesWritten(). When a page file cannot be written,
// every monitor of the store gets one log row saying so, and one more when the file is
// written again; the builds between say nothing, and so do builds while the store has no
// monitor (a change is told by the next build when it has one). Request and Shutdown are
// for the UI thread; the object must not be destroyed while another thread calls it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/report/html_report.h"

namespace engine {

// What one build did with the page files: each one it tried, in order.
using PageWrites = std::vector<PageFileWrite>;

// The log texts for a page file that cannot be written (with the system's text for why),
// and for one written again.
std::string PageFailureText(const std::string& path, const std::string& failure);
std::string PageRecoveredText(const std::string& path);

// Which page files failed at their last write, and what to tell when that changes. One
// thread at a time.
class PageFileStatus {
 public:
  // The texts for one build's writes, in their order: a file's failure text when its
  // writing begins to fail, its recovered text when it is written after failing; nothing
  // while its state stays as it was.
  std::vector<std::string> Note(const PageWrites& writes);

 private:
  std::set<std::string> failing_;  // paths
};

class PageWriter {
 public:
  // Builds and writes the pages of a snapshot and says what became of each page file;
  // the pages count as written when at least one was tried and every one was written.
  // Runs on the writer's thread.
  using BuildFunction = std::function<PageWrites(const HtmlSnapshot&)>;

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
