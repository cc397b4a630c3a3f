// Runs the lumivar program itself as a separate process under the display, with its
// folders (home, settings, runtime, data) in a temporary place, and reads what it leaves
// behind: the settings file, the single-instance mark, its windows' titles and what it
// wrote on standard error, where a complaint of the toolkit fails the test. LUMIVAR_PROGRAM,
// when set, names another build of the program.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace program_testing {

using namespace std::chrono_literals;

inline std::string ProgramPath() {
  if (const char* other = std::getenv("LUMIVAR_PROGRAM"); other != nullptr && *other != 0)
    return other;
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "app" /
          "lumivar")
      .string();
}

inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// The titles of the top-level windows on the display, read through Xlib (loaded at run
// time, so the test needs no link to it).
class XWindowTitles {
 public:
  XWindowTitles() {
    lib_ = dlopen("libX11.so.6", RTLD_NOW);
    if (lib_ == nullptr) return;
    open_ = reinterpret_cast<void* (*)(const char*)>(dlsym(lib_, "XOpenDisplay"));
    close_ = reinterpret_cast<int (*)(void*)>(dlsym(lib_, "XCloseDisplay"));
    root_ = reinterpret_cast<unsigned long (*)(void*)>(dlsym(lib_, "XDefaultRootWindow"));
    query_ = reinterpret_cast<int (*)(void*, unsigned long, unsigned long*, unsigned long*,
                                      unsigned long**, unsigned*)>(dlsym(lib_, "XQueryTree"));
    fetch_ = reinterpret_cast<int (*)(void*, unsigned long, char**)>(dlsym(lib_, "XFetchName"));
    free_ = reinterpret_cast<int (*)(void*)>(dlsym(lib_, "XFree"));
    atom_ =
        reinterpret_cast<unsigned long (*)(void*, const char*, int)>(dlsym(lib_, "XInternAtom"));
    send_ = reinterpret_cast<int (*)(void*, unsigned long, int, long, ClientEvent*)>(
        dlsym(lib_, "XSendEvent"));
    flush_ = reinterpret_cast<int (*)(void*)>(dlsym(lib_, "XFlush"));
  }
  ~XWindowTitles() {
    if (lib_ != nullptr) dlclose(lib_);
  }
  bool Usable() const { return open_ && close_ && root_ && query_ && fetch_ && free_; }

  // Whether the display accepts connections now. The first connection that succeeds is
  // kept for the rest of the test program: an X server that loses its last client resets
  // itself, and a program started during the reset cannot open the display.
  bool DisplayReady() {
    static void* kept = nullptr;
    if (kept != nullptr) return true;
    kept = open_(nullptr);
    return kept != nullptr;
  }

  std::vector<std::string> Titles() {
    std::vector<std::string> titles;
    void* display = open_(nullptr);
    if (display == nullptr) return titles;
    Collect(display, root_(display), 0, titles, nullptr);
    close_(display);
    return titles;
  }

  // Asks the first window of that title (with all, every one) to close, as a window
  // manager's close box does (WM_DELETE_WINDOW); false when there is no such window or a
  // request was not sent.
  bool AskToClose(const std::string& title, bool all = false) {
    if (!atom_ || !send_ || !flush_) return false;
    void* display = open_(nullptr);
    if (display == nullptr) return false;
    std::vector<std::string> titles;
    std::vector<unsigned long> windows;
    const auto match = [&](unsigned long w, const std::string& name) {
      if ((all || windows.empty()) && name == title) windows.push_back(w);
    };
    Collect(display, root_(display), 0, titles, match);
    bool sent = !windows.empty();
    for (const unsigned long window : windows) {
      ClientEvent event{};
      event.message.type = kClientMessage;
      event.message.window = window;
      event.message.messageType = atom_(display, "WM_PROTOCOLS", 0);
      event.message.format = 32;
      event.message.data[0] = static_cast<long>(atom_(display, "WM_DELETE_WINDOW", 0));
      event.message.data[1] = 0;  // the current time
      // No event mask: the event goes to the client that made the window.
      sent = send_(display, window, 0, 0, &event) != 0 && sent;
    }
    flush_(display);
    close_(display);
    return sent;
  }

 private:
  void Collect(void* display, unsigned long window, int depth, std::vector<std::string>& out,
               const std::function<void(unsigned long, const std::string&)>& visit) {
    char* name = nullptr;
    if (fetch_(display, window, &name) && name != nullptr) {
      out.push_back(name);
      if (visit) visit(window, name);
      free_(name);
    }
    if (depth >= 2) return;
    unsigned long root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!query_(display, window, &root, &parent, &children, &count)) return;
    for (unsigned i = 0; i < count; ++i) Collect(display, children[i], depth + 1, out, visit);
    if (children != nullptr) free_(children);
  }

  void* lib_ = nullptr;
  void* (*open_)(const char*) = nullptr;
  int (*close_)(void*) = nullptr;
  unsigned long (*root_)(void*) = nullptr;
  int (*query_)(void*, unsigned long, unsigned long*, unsigned long*, unsigned long**,
                unsigned*) = nullptr;
  int (*fetch_)(void*, unsigned long, char**) = nullptr;
  int (*free_)(void*) = nullptr;
  // Xlib's client message, in the layout of its event union (24 longs in all).
  static constexpr int kClientMessage = 33;
  union ClientEvent {
    struct {
      int type;
      unsigned long serial;
      int sendEvent;
      void* display;
      unsigned long window;
      unsigned long messageType;
      int format;
      long data[5];
    } message;
    long pad[24];
  };
  unsigned long (*atom_)(void*, const char*, int) = nullptr;
  int (*send_)(void*, unsigned long, int, long, ClientEvent*) = nullptr;
  int (*flush_)(void*) = nullptr;
};

// The lines of a process's standard error in which the toolkit reports a misuse: a failed
// check or a warning of GTK, GDK or GObject (a call on a widget or a window that is gone, a
// wrong cast). The program's own messages never look like these.
inline std::vector<std::string> ToolkitComplaints(const std::string& standardError) {
  static const char* const kMarks[] = {"Gtk-CRITICAL",          "Gtk-WARNING",
                                       "Gdk-CRITICAL",          "Gdk-WARNING",
                                       "GLib-GObject-CRITICAL", "GLib-GObject-WARNING"};
  std::vector<std::string> lines;
  std::istringstream in(standardError);
  for (std::string line; std::getline(in, line);) {
    for (const char* mark : kMarks) {
      if (line.find(mark) != std::string::npos) {
        lines.push_back(line);
        break;
      }
    }
  }
  return lines;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(ProgramPath())) << ProgramPath();
    for (const char* sub : {"home", "config", "run", "docs"})
      std::filesystem::create_directories(root_.File(sub));
    chmod(root_.File("run").c_str(), 0700);
    ASSERT_TRUE(titles_.Usable());
    ASSERT_TRUE(WaitFor([this] { return titles_.DisplayReady(); }, 10s)) << "no display";
    env_ = {"HOME=" + root_.File("home"), "XDG_CONFIG_HOME=" + root_.File("config"),
            "XDG_RUNTIME_DIR=" + root_.File("run"), "LUMIVAR_DOCUMENTS_DIR=" + root_.File("docs"),
            "NO_AT_BRIDGE=1",
            // The web engine's compositing needs a GPU that Xvfb lacks.
            "WEBKIT_DISABLE_COMPOSITING_MODE=1"};
    for (const char* name : {"DISPLAY", "XAUTHORITY", "PATH"}) {
      if (const char* value = getenv(name)) env_.push_back(std::string(name) + "=" + value);
    }
  }
  // Ends the processes still running, then fails the test when the toolkit complained on
  // the standard error of any process it started.
  void TearDown() override {
    for (pid_t pid : started_) {
      if (exited_.count(pid) == 0 && kill(pid, 0) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
    for (std::size_t i = 0; i < started_.size(); ++i) {
      const std::vector<std::string> complaints = ToolkitComplaints(StandardError(started_[i]));
      EXPECT_TRUE(complaints.empty())
          << "the toolkit complained on the standard error of start " << i << ":\n"
          << StandardError(started_[i]);
    }
  }

  pid_t Start(std::vector<std::string> args = {}) {
    args.insert(args.begin(), ProgramPath());
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env_) envp.push_back(e.data());
    envp.push_back(nullptr);
    // Standard error goes to a file of its own per start.
    const std::string errorFile = root_.File("stderr-" + std::to_string(started_.size()));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    started_.push_back(pid);
    errorFiles_[pid] = errorFile;
    return pid;
  }

  // What the process wrote on standard error so far.
  std::string StandardError(pid_t pid) const {
    auto it = errorFiles_.find(pid);
    if (it == errorFiles_.end()) return {};
    std::ifstream in(it->second);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Adds a variable to the environment of the processes started from now on.
  void AddEnv(const std::string& name, const std::string& value) {
    env_.push_back(name + "=" + value);
  }

  // The exit status, or -1 when the process has not ended within the timeout; a process
  // killed by a signal gives 1000 + the signal. Asking again after the end gives the same.
  int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
    if (auto it = exited_.find(pid); it != exited_.end()) return it->second;
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout)) return -1;
    return exited_[pid] = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  }

  std::string SettingsFile() const {
    return root_.File("config") + "/Zephrane Software/Lumivar.conf";
  }
  std::string ReadSettingsFile() const {
    std::ifstream in(SettingsFile());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool LockHeld() const { return !std::filesystem::is_empty(root_.File("run")); }
  bool WindowShown() { return WindowCount("Lumivar") > 0; }
  // Closes the first window of that title (with all, every one) as its close box would.
  bool AskWindowToClose(const std::string& title, bool all = false) {
    return titles_.AskToClose(title, all);
  }
  // The number of windows with that title.
  int WindowCount(const std::string& title) {
    int count = 0;
    for (const auto& t : titles_.Titles())
      if (t == title) ++count;
    return count;
  }

  testing_support::TempDir root_;
  std::vector<std::string> env_;
  std::vector<pid_t> started_;
  std::map<pid_t, std::string> errorFiles_;
  std::map<pid_t, int> exited_;
  XWindowTitles titles_;
};

}  // namespace program_testing
