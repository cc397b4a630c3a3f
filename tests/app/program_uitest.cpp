// The lumivar program itself, started as a separate process under the display with its
// folders in a temporary place: its window comes up titled "Lumivar", a second start ends
// at once without writing anything, and SIGTERM runs the exit sequence, which saves the
// settings and releases the mark.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/settings/settings.h"
#include "engine/monitor/odbc_data_source.h"
#include "engine/store/server_storage.h"
#include "platform/registry.h"
#include "tests/engine/monitor_fixture.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

std::string ProgramPath() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "app" /
          "lumivar")
      .string();
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
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
  }
  ~XWindowTitles() {
    if (lib_ != nullptr) dlclose(lib_);
  }
  bool Usable() const { return open_ && close_ && root_ && query_ && fetch_ && free_; }

  // Whether the display accepts connections now.
  bool DisplayReady() {
    void* display = open_(nullptr);
    if (display == nullptr) return false;
    close_(display);
    return true;
  }

  std::vector<std::string> Titles() {
    std::vector<std::string> titles;
    void* display = open_(nullptr);
    if (display == nullptr) return titles;
    Collect(display, root_(display), 0, titles);
    close_(display);
    return titles;
  }

 private:
  void Collect(void* display, unsigned long window, int depth, std::vector<std::string>& out) {
    char* name = nullptr;
    if (fetch_(display, window, &name) && name != nullptr) {
      out.push_back(name);
      free_(name);
    }
    if (depth >= 2) return;
    unsigned long root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!query_(display, window, &root, &parent, &children, &count)) return;
    for (unsigned i = 0; i < count; ++i) Collect(display, children[i], depth + 1, out);
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
};

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
            "NO_AT_BRIDGE=1"};
    for (const char* name : {"DISPLAY", "XAUTHORITY", "PATH"}) {
      if (const char* value = getenv(name)) env_.push_back(std::string(name) + "=" + value);
    }
  }
  void TearDown() override {
    for (pid_t pid : started_) {
      if (kill(pid, 0) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
  }

  pid_t Start(std::vector<std::string> args = {}) {
    args.insert(args.begin(), ProgramPath());
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env_) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    started_.push_back(pid);
    return pid;
  }

  // The exit status, or -1 when the process has not ended within the timeout; a process
  // killed by a signal gives 1000 + the signal.
  int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout)) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
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
  bool WindowShown() {
    for (const auto& t : titles_.Titles())
      if (t == "Lumivar") return true;
    return false;
  }

  testing_support::TempDir root_;
  std::vector<std::string> env_;
  std::vector<pid_t> started_;
  XWindowTitles titles_;
};

TEST_F(ProgramTest, StartsOnceShowsItsWindowAndExitsInOrderOnSigterm) {
  testing_support::ScopedEnv documents("LUMIVAR_DOCUMENTS_DIR", root_.File("docs"));
  // One saved monitor (its data source does not exist, so its polls fail at once).
  std::string id;
  {
    engine::ServerStorage store;
    store.LoadAll();
    auto monitor = store.AddNewODBCDataSource();
    {
      std::lock_guard lock(monitor->Mutex());
      monitor->name = "Sales";
      monitor->address = "lumivar-test-no-such-source";
      id = monitor->id;
    }
    ASSERT_EQ(store.SaveAll(), 0);
  }
  // Saved settings: a normal window at a known place; the monitor was running.
  {
    app::SettingsValues values;
    values.startedMonitors = " " + id + ";";
    values.layout.wndMode = 1;
    values.layout.wndX = 60;
    values.layout.wndY = 70;
    values.layout.wndWidth = 640;
    values.layout.wndHeight = 480;
    platform::FileSettingsStore store(SettingsFile());
    ASSERT_TRUE(app::Settings(values).Save(store));
  }
  const std::string before = ReadSettingsFile();

  const pid_t first = Start();
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitFor([&] { return WindowShown() || WaitExit(first, 0ms) != -1; }, 30s));
  ASSERT_TRUE(WindowShown()) << "no window titled Lumivar";
  EXPECT_TRUE(LockHeld());

  // A second start ends at once, silently, and writes nothing.
  const pid_t second = Start();
  ASSERT_GT(second, 0);
  const int secondExit = WaitExit(second, 20s);
  EXPECT_NE(secondExit, -1) << "the second instance kept running";
  EXPECT_NE(secondExit, 0);
  EXPECT_LT(secondExit, 1000) << "the second instance died of a signal";
  EXPECT_EQ(ReadSettingsFile(), before);
  EXPECT_EQ(WaitExit(first, 0ms), -1) << "the first instance ended";

  // SIGTERM closes the window through the event loop: the exit sequence records the
  // running monitor, writes the log lines, saves the settings and releases the mark.
  ASSERT_EQ(kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitExit(first, 30s), 0);
  platform::FileSettingsStore saved(SettingsFile());
  EXPECT_EQ(saved.Read("startedMonitors"), " " + id + ";");
  EXPECT_EQ(saved.Read("Interface\\wndMode"), "1");
  EXPECT_EQ(saved.Read("Interface\\wndWidth"), "640");
  EXPECT_EQ(saved.Read("Interface\\wndHeight"), "480");
  EXPECT_FALSE(LockHeld());
  const auto log = engine::testing::DataRows(
      "SELECT monitorId, text FROM Log WHERE text LIKE 'Application%' ORDER BY rowid");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], (std::vector<std::string>{id, "Application opened."}));
  EXPECT_EQ(log[1], (std::vector<std::string>{id, "Application closed."}));
}

TEST_F(ProgramTest, AnAutorunStartHoldsTheMarkWhileItWaits) {
  const pid_t waiting = Start({"autorun"});
  ASSERT_GT(waiting, 0);
  ASSERT_TRUE(WaitFor([this] { return LockHeld(); }, 10s));
  // A start during the wait ends at once.
  const pid_t second = Start();
  const int secondExit = WaitExit(second, 20s);
  EXPECT_NE(secondExit, -1);
  EXPECT_NE(secondExit, 0);
  // Still waiting: no window yet, nothing written.
  EXPECT_FALSE(WindowShown());
  EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
  kill(waiting, SIGKILL);
  WaitExit(waiting, 10s);
}

}  // namespace
