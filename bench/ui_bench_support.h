// Helpers of the benchmark programs that run windows: running under a virtual display when
// there is none, and a probe of how long the user-interface thread is held. UI thread only,
// but EnsureDisplay, which runs before wx starts.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <wx/timer.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// Runs the program again under `xvfb-run -a` when DISPLAY is unset; name prefixes the
// messages of a failure.
inline void EnsureDisplay(int argc, char** argv, const char* name) {
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != 0) return;
  if (std::getenv("LUMIVAR_BENCH_UNDER_XVFB") != nullptr) {
    std::fprintf(stderr, "%s: no display even under xvfb-run\n", name);
    std::exit(1);
  }
  setenv("LUMIVAR_BENCH_UNDER_XVFB", "1", 1);
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::vector<std::string> args = {"xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", self};
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  std::vector<char*> raw;
  for (std::string& a : args) raw.push_back(a.data());
  raw.push_back(nullptr);
  std::fflush(nullptr);
  execvp(raw[0], raw.data());
  std::fprintf(stderr, "%s: xvfb-run could not start\n", name);
  std::exit(1);
}

// A one-shot timer of `periodMs` on the UI thread, started again each time it fires: how
// much later than due each firing comes is how long the thread was held. Each firing runs
// `step` after taking its measure; the step's own time counts as a hold too.
class HoldProbe {
 public:
  using Clock = std::chrono::steady_clock;

  explicit HoldProbe(int periodMs) : periodMs_(periodMs) {
    timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Fire(); });
  }

  template <typename Step>
  void Start(Step step) {
    step_ = std::move(step);
    due_ = Clock::now() + std::chrono::milliseconds(periodMs_);
    timer_.StartOnce(periodMs_);
  }
  void Stop() { timer_.Stop(); }

  // The longest lateness since the last Take, in ms; starts the next span at 0.
  double Take() {
    const double longest = longest_;
    longest_ = 0;
    return longest;
  }

 private:
  void Fire() {
    const auto now = Clock::now();
    longest_ = std::max(longest_, Ms(now - due_));
    if (step_) step_();
    const auto stepped = Clock::now();
    longest_ = std::max(longest_, Ms(stepped - now));
    due_ = stepped + std::chrono::milliseconds(periodMs_);
    timer_.StartOnce(periodMs_);
  }

  static double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
  }

  int periodMs_;
  wxTimer timer_;
  std::function<void()> step_;
  Clock::time_point due_;
  double longest_ = 0;
};

}  // namespace bench
