// Shared by the user-interface tests of every layer: a wx application without a main loop
// of its own, set up once per test program, and pumps that run the UI thread's queued work
// until a condition holds. Header-only, so the test support library needs no wx. Tests run
// on the UI thread.
#pragma once

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include <chrono>
#include <functional>
#include <thread>
#include <utility>

namespace ui_testing {

class WxEnvironment : public ::testing::Environment {
 public:
  // started runs once wx is up, stopping before it goes.
  explicit WxEnvironment(std::function<void()> started = {}, std::function<void()> stopping = {})
      : started_(std::move(started)), stopping_(std::move(stopping)) {}

  void SetUp() override {
    static int argc = 1;
    static char name[] = "uitest";
    static char* argv[] = {name, nullptr};
    wxApp::SetInstance(new wxApp);
    ASSERT_TRUE(wxEntryStart(argc, argv)) << "no display";
    ASSERT_TRUE(wxTheApp->CallOnInit());
    loop_ = new wxGUIEventLoop;
    wxEventLoopBase::SetActive(loop_);
    if (started_) started_();
  }
  void TearDown() override {
    if (stopping_) stopping_();
    wxEventLoopBase::SetActive(nullptr);
    delete loop_;
    wxTheApp->OnExit();
    wxEntryCleanup();
  }

 private:
  std::function<void()> started_;
  std::function<void()> stopping_;
  wxEventLoopBase* loop_ = nullptr;
};

// Runs queued work, pending events and idle processing (deferred deletions) once.
inline void PumpOnce() {
  wxTheApp->ProcessPendingEvents();
  wxYield();
  wxTheApp->ProcessIdle();
}

// Pumps until done() holds; false when it did not within the timeout.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    PumpOnce();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Pumps for a while, for work that must not happen.
inline void PumpFor(std::chrono::milliseconds span) {
  PumpUntil([] { return false; }, span);
}

}  // namespace ui_testing
