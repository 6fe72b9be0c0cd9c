// ZrNamedMutex across objects, threads and processes. For the process cases
// the test binary re-executes itself as the holder ("--zr-child hold ...").
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/ZrNamedMutex.h"
#include "host/ZrProcess.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrChildProcess.h"
#include "host/testing/ZrFakeClock.h"
#include "host/testing/ZrLockObserverSwap.h"

namespace {

// hold <name> <marker> <how>: takes the mutex, creates marker, then either
// sleeps until killed ("sleep") or exits without unlocking ("exit").
int childMain(int argc, char** argv) {
  if (argc >= 5 && std::strcmp(argv[2], "queue") == 0) {
    // queue <name> <marker>: says it is about to wait, waits for the lock,
    // says it got it, holds it a moment.
    ZrNamedMutex m(argv[3]);
    zrWriteFile(std::string(argv[4]) + ".waiting", "waiting");
    if (m.lock(20000) == 0) return 2;
    zrWriteFile(argv[4], "got");
    ::usleep(200000);
    return 0;
  }
  if (argc < 6 || std::strcmp(argv[2], "hold") != 0) return 99;
  ZrNamedMutex m(argv[3]);
  if (m.lock(10000) == 0) return 2;
  zrWriteFile(argv[4], "locked");
  if (std::strcmp(argv[5], "exit") == 0) ::_exit(0);  // no unlock, no destructor
  ::sleep(30);
  return 0;
}

bool waitForFile(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Starts the holder child; the caller owns the process object.
bool startHolder(ZrProcess& p, const std::string& name, const std::string& marker,
                 const char* how) {
  std::string error;
  return zrStartSelf(p, "hold '" + name + "' '" + marker + "' " + how, true, &error);
}

// The observer hears of every acquisition after it and of every release
// before it, by name; a lock that was not taken, a second lock of a held
// object and an unlock of a free one say nothing.
class RecordingObserver : public ZrLockObserver {
 public:
  void acquired(const ZrNamedMutex& m) override { note("+" + m.name(), m); }
  void released(const ZrNamedMutex& m) override { note("-" + m.name(), m); }
  std::vector<std::string> events() {
    std::lock_guard<std::mutex> g(m_mu);
    return m_events;
  }

 private:
  void note(const std::string& event, const ZrNamedMutex& m) {
    std::lock_guard<std::mutex> g(m_mu);
    // Told while the lock is held, on both sides.
    m_events.push_back(event + (m.isHeld() ? "" : " (not held)"));
  }
  std::mutex m_mu;
  std::vector<std::string> m_events;
};

TEST(ZrNamedMutex, ObserverHearsEveryAcquisitionAndRelease) {
  ScopedTempDir dir;
  RecordingObserver observer;
  ZrScopedLockObserver installed(&observer);
  ZrNamedMutex a("OBSERVED_A");
  ZrNamedMutex other("OBSERVED_A");
  ASSERT_NE(0, a.lock(0));
  EXPECT_NE(0, a.lock(0));      // already held: no second event
  EXPECT_EQ(0, other.lock(0));  // not taken: nothing
  {
    ZrNamedMutex b("OBSERVED_B");
    ASSERT_NE(0, b.lock(100));
  }  // released by its destructor
  a.unlock();
  a.unlock();  // free: nothing
  const std::vector<std::string> expected = {"+OBSERVED_A", "+OBSERVED_B", "-OBSERVED_B",
                                             "-OBSERVED_A"};
  EXPECT_EQ(expected, observer.events());
}

// A process that releases the lock and asks for it again at once waits
// behind the process already queued for it: not even a single try gets it
// first.
TEST(ZrNamedMutex, ReleaserDoesNotOvertakeAQueuedWaiter) {
  ScopedTempDir dir;
  const std::string marker = dir.file("waiter");
  ZrNamedMutex mine("QUEUED_LOCK");
  ASSERT_NE(0, mine.lock(0));
  ZrProcess waiter;
  std::string error;
  ASSERT_TRUE(zrStartSelf(waiter, "queue QUEUED_LOCK '" + marker + "'", true, &error)) << error;
  ASSERT_TRUE(waitForFile(marker + ".waiting"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // it waits in the queue
  mine.unlock();
  EXPECT_EQ(0, mine.lock(0)) << "the releaser took the lock before the queued waiter";
  ASSERT_NE(0, mine.lock(20000));
  EXPECT_EQ("got", zrReadFile(marker));
  mine.unlock();
  int code = -1;
  ASSERT_TRUE(waiter.WaitForProcessToEnd(&code, &error, 30)) << error;
  EXPECT_EQ(0, code);
}

TEST(ZrNamedMutex, TwoObjectsInOneThreadExcludeEachOther) {
  ScopedTempDir dir;
  ZrNamedMutex a("ZR_HDS_SYNC_COMMANDS");
  ZrNamedMutex b("ZR_HDS_SYNC_COMMANDS");
  ASSERT_TRUE(a.isValid()) << a.lastError();
  EXPECT_NE(0, a.lock(0));
  EXPECT_NE(0, a.lock(0)) << "a holder asking again keeps the lock";
  EXPECT_EQ(0, b.lock(0));
  a.unlock();
  EXPECT_NE(0, b.lock(0));
  EXPECT_TRUE(b.isHeld());
  EXPECT_EQ(0, a.lock(0));
}

TEST(ZrNamedMutex, DifferentNamesDoNotInterfere) {
  ScopedTempDir dir;
  ZrNamedMutex a("RAIDCOM_LOGIN_LOCK");
  ZrNamedMutex b("ZR_HDS_LOCK_RESOURCE_GROUP");
  EXPECT_NE(0, a.lock(0));
  EXPECT_NE(0, b.lock(0));
}

TEST(ZrNamedMutex, NamesBecomeSafeDistinctFileNames) {
  ScopedTempDir dir;
  const std::string lockDir = dir.path() + "/locks/";
  struct Row {
    const char* name;
  } rows[] = {{"a/b"}, {"a%2Fb"}, {"a_b"}, {"../escape"}, {"QB_12 34"}, {"."}, {".."}};
  std::vector<std::string> paths;
  for (const Row& r : rows) {
    std::string path = ZrNamedMutex::pathForName(r.name);
    ASSERT_EQ(0u, path.find(lockDir)) << r.name << " -> " << path;
    EXPECT_EQ(std::string::npos, path.substr(lockDir.size()).find('/')) << r.name;
    for (const std::string& other : paths) EXPECT_NE(other, path) << r.name;
    paths.push_back(path);
    ZrNamedMutex m(r.name);
    EXPECT_TRUE(m.isValid()) << r.name << ": " << m.lastError();
    EXPECT_NE(0, m.lock(0)) << r.name;
  }
  std::string longName(600, 'x');
  std::string longPath = ZrNamedMutex::pathForName(longName);
  EXPECT_LT(longPath.size() - lockDir.size(), 255u);
  EXPECT_NE(longPath, ZrNamedMutex::pathForName(longName + "y"));
}

TEST(ZrNamedMutex, MissingLockDirectoryIsCreated) {
  ScopedTempDir dir;
  dir.setEnv("ZRHOST_LOCK_DIR", dir.path() + "/deep/er/locks");
  ZrNamedMutex m("X");
  ASSERT_TRUE(m.isValid()) << m.lastError();
  EXPECT_NE(0, m.lock(0));
}

TEST(ZrNamedMutex, UnusableLockDirectoryMakesAnInvalidMutex) {
  ScopedTempDir dir;
  zrWriteFile(dir.file("plainfile"), "x");
  dir.setEnv("ZRHOST_LOCK_DIR", dir.file("plainfile"));
  ZrNamedMutex m("X");
  EXPECT_FALSE(m.isValid());
  EXPECT_FALSE(m.lastError().empty());
  EXPECT_EQ(0, m.lock(0));
  ZrNamedMutex empty("");
  EXPECT_FALSE(empty.isValid());
}

TEST(ZrNamedMutex, TimedLockPollsTheFakeClock) {
  ScopedTempDir dir;
  ZrFakeClock clock;
  ZrScopedClock guard(&clock);
  ZrNamedMutex holder("N");
  ASSERT_NE(0, holder.lock(0));
  ZrNamedMutex waiter("N");
  const int64_t before = clock.monotonicMillis();
  EXPECT_EQ(0, waiter.lock(5000));
  EXPECT_EQ(5000, clock.monotonicMillis() - before);
  EXPECT_EQ(5000, clock.totalSleptMillis());
}

TEST(ZrNamedMutex, SecondThreadWaitsUntilRelease) {
  ScopedTempDir dir;
  ZrNamedMutex a("T");
  ASSERT_NE(0, a.lock(0));
  std::atomic<int> result{-1};
  std::atomic<bool> tried{false};
  std::thread t([&] {
    ZrNamedMutex b("T");
    EXPECT_EQ(0, b.lock(0));
    tried = true;
    result = b.lock(10000);
  });
  while (!tried) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(-1, result.load()) << "the second thread must still be waiting";
  a.unlock();
  t.join();
  EXPECT_NE(0, result.load());
}

TEST(ZrNamedMutex, HeldByAnotherProcessAndReleasedWhenItIsKilled) {
  ScopedTempDir dir;
  const std::string marker = dir.file("held");
  ZrProcess holder;
  ASSERT_TRUE(startHolder(holder, "ZR_HDS_SYNC_COMMANDS", marker, "sleep"));
  ASSERT_TRUE(waitForFile(marker));
  ZrNamedMutex m("ZR_HDS_SYNC_COMMANDS");
  EXPECT_EQ(0, m.lock(0));
  EXPECT_EQ(0, m.lock(50));
  ASSERT_EQ(0, ::kill(holder.GetPid(), SIGKILL));
  int code = 0;
  std::string error;
  EXPECT_FALSE(holder.WaitForProcessToEnd(&code, &error, 10));  // killed by a signal
  EXPECT_NE(0, m.lock(5000));
}

TEST(ZrNamedMutex, ReleasedWhenTheHolderExitsWithoutUnlocking) {
  ScopedTempDir dir;
  const std::string marker = dir.file("held");
  ZrNamedMutex m("RAIDCOM_LOGIN_LOCK");
  ASSERT_NE(0, m.lock(0));  // the child must wait for us first
  ZrProcess holder;
  ASSERT_TRUE(startHolder(holder, "RAIDCOM_LOGIN_LOCK", marker, "exit"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  struct stat st;
  EXPECT_NE(0, ::stat(marker.c_str(), &st)) << "the child took a lock we hold";
  m.unlock();
  int code = -1;
  std::string error;
  ASSERT_TRUE(holder.WaitForProcessToEnd(&code, &error, 20)) << error;
  EXPECT_EQ(0, code);
  EXPECT_TRUE(waitForFile(marker));
  EXPECT_NE(0, m.lock(0)) << "the dead holder's lock must be gone";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--zr-child") == 0) return childMain(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

namespace {

// Under umask 000 the lock directory is still private and lock files 0600,
// so no other user can delete a held lock file.
TEST(ZrNamedMutexSafety, PrivateDirectoryAndFilesWhateverTheUmask) {
  ScopedTempDir dir;
  dir.setEnv("ZRHOST_LOCK_DIR", dir.file("fresh/locks"));
  mode_t old = ::umask(0);
  ZrNamedMutex m("RAIDCOM_LOGIN_LOCK");
  ::umask(old);
  ASSERT_TRUE(m.isValid()) << m.lastError();
  struct stat st;
  ASSERT_EQ(0, ::stat(dir.file("fresh/locks").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  ASSERT_EQ(0, ::stat(ZrNamedMutex::pathForName("RAIDCOM_LOGIN_LOCK").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
}

TEST(ZrNamedMutexSafety, SharedDirectoryOrPlantedFilesAreRefused) {
  ScopedTempDir dir;
  const std::string locks = dir.file("locks");
  ASSERT_EQ(0, ::chmod(locks.c_str(), 0777));
  ZrNamedMutex shared("ZR_HDS_SYNC_COMMANDS");
  EXPECT_FALSE(shared.isValid());
  EXPECT_NE(std::string::npos, shared.lastError().find("writable by group or others"));
  EXPECT_EQ(0, shared.lock(0));
  ASSERT_EQ(0, ::chmod(locks.c_str(), 0700));

  // A FIFO never hangs the opener; a link is never followed.
  ASSERT_EQ(0, ::mkfifo(ZrNamedMutex::pathForName("A").c_str(), 0600));
  ZrNamedMutex fifo("A");
  EXPECT_FALSE(fifo.isValid());
  EXPECT_NE(std::string::npos, fifo.lastError().find("not a regular file"));
  ASSERT_TRUE(zrWriteFile(dir.file("victim"), "keep"));
  ASSERT_EQ(0, ::symlink(dir.file("victim").c_str(), ZrNamedMutex::pathForName("B").c_str()));
  ZrNamedMutex link("B");
  EXPECT_FALSE(link.isValid());
  EXPECT_EQ("keep", zrReadFile(dir.file("victim")));

  // A directory of another user is refused (only root can make one here).
  if (::geteuid() == 0) {
    ASSERT_EQ(0, ::chown(locks.c_str(), 65534, 65534));
    ZrNamedMutex foreign("C");
    EXPECT_FALSE(foreign.isValid());
    EXPECT_NE(std::string::npos, foreign.lastError().find("another user"));
  }
}

}  // namespace

namespace {

// The process keeps lock files open between uses; a file removed meanwhile
// must not leave this process locking a file nobody else sees.
TEST(ZrNamedMutexSafety, RemovedLockFileIsOpenedAnew) {
  ScopedTempDir dir;
  {
    ZrNamedMutex first("ZR_HDS_LOCK_SVOL_SELECTION");
    ASSERT_NE(0, first.lock(0));
  }
  ASSERT_EQ(0, ::unlink(ZrNamedMutex::pathForName("ZR_HDS_LOCK_SVOL_SELECTION").c_str()));
  int ready[2];
  ASSERT_EQ(0, ::pipe(ready));
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ZrNamedMutex other("ZR_HDS_LOCK_SVOL_SELECTION");
    char c = other.lock(0) != 0 ? 'y' : 'n';
    if (::write(ready[1], &c, 1) != 1) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(1, ::read(ready[0], &c, 1));
  ASSERT_EQ('y', c);
  ZrNamedMutex again("ZR_HDS_LOCK_SVOL_SELECTION");
  EXPECT_EQ(0, again.lock(0)) << "the other process holds the file that is there now";
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  EXPECT_NE(0, again.lock(0));
}

}  // namespace
