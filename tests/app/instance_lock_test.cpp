// The single-instance mark between processes: a child process stands for the second
// start. The mark holds until it is released, and a mark left by a process that died is
// taken over.
#include "app/instance_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/utils.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/temp_dir.h"

namespace app {
namespace {

// Whether a new process can take the mark in folder: 1 yes, 0 no, -1 the child failed.
int ChildCanAcquire(const std::string& folder) {
  const pid_t pid = fork();
  if (pid == 0) {
    SingleInstanceLock lock(folder);
    _exit(lock.TryAcquire() ? 1 : 0);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  return names;
}

TEST(SingleInstanceLockTest, ASecondProcessIsRefusedWhileTheMarkIsHeld) {
  testing_support::TempDir dir;
  EXPECT_EQ(ChildCanAcquire(dir.Path()), 1);  // nobody holds it

  SingleInstanceLock first(dir.Path());
  ASSERT_TRUE(first.TryAcquire());
  EXPECT_EQ(ChildCanAcquire(dir.Path()), 0);
  // Still refused later, as long as the first process keeps the mark (its exit may take
  // long).
  EXPECT_EQ(ChildCanAcquire(dir.Path()), 0);

  first.Release();
  EXPECT_TRUE(FilesIn(dir.Path()).empty());  // the lock file goes with the mark
  EXPECT_EQ(ChildCanAcquire(dir.Path()), 1);
}

TEST(SingleInstanceLockTest, TheLockFileIsPrivate) {
  testing_support::TempDir dir;
  SingleInstanceLock lock(dir.Path());
  ASSERT_TRUE(lock.TryAcquire());
  const auto files = FilesIn(dir.Path());
  ASSERT_EQ(files.size(), 1u);
  struct stat st {};
  ASSERT_EQ(stat(dir.File(files[0]).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u);
}

TEST(SingleInstanceLockTest, AMarkLeftByADeadProcessIsTakenOver) {
  testing_support::TempDir dir;
  // A child takes the mark and dies without releasing it.
  const pid_t pid = fork();
  if (pid == 0) {
    auto* lock = new SingleInstanceLock(dir.Path());
    _exit(lock->TryAcquire() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(FilesIn(dir.Path()).size(), 1u);

  SingleInstanceLock lock(dir.Path());
  EXPECT_TRUE(lock.TryAcquire());
  EXPECT_EQ(ChildCanAcquire(dir.Path()), 0);
}

TEST(SingleInstanceLockTest, AMarkBeingWrittenByAnotherStartIsRespected) {
  // Two starts at the same moment: the other one (a live child process) has made the lock
  // file but not yet written its process number into it.
  testing_support::TempDir dir;
  const pid_t other = fork();
  if (other == 0) {
    pause();
    _exit(0);
  }
  ASSERT_GT(other, 0);
  const std::string file = dir.File((".Lumivar-" + wxGetUserId() + ".lock").utf8_string());
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  std::thread writer([fd, other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string pid = std::to_string(other);
    EXPECT_EQ(write(fd, pid.c_str(), pid.size() + 1), static_cast<ssize_t>(pid.size() + 1));
    close(fd);
  });
  SingleInstanceLock lock(dir.Path());
  EXPECT_FALSE(lock.TryAcquire());
  writer.join();
  kill(other, SIGKILL);
  waitpid(other, nullptr, 0);
}

TEST(SingleInstanceLockTest, TheDefaultFolderIsTheRuntimeFolderElseHome) {
  testing_support::TempDir runtime, home;
  {
    testing_support::ScopedEnv r("XDG_RUNTIME_DIR", runtime.Path());
    EXPECT_EQ(DefaultInstanceLockFolder(), runtime.Path());
  }
  {
    testing_support::ScopedEnv r("XDG_RUNTIME_DIR", runtime.File("missing"));
    testing_support::ScopedEnv h("HOME", home.Path());
    // GLib reads HOME once per process; the fallback is the home folder it knows.
    EXPECT_NE(DefaultInstanceLockFolder(), runtime.File("missing"));
  }
}

}  // namespace
}  // namespace app
