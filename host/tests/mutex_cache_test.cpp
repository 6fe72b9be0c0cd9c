// The process's cache of open lock files: a file removed or replaced between
// two scopes, or while another process held it, is never locked in place of
// the file at the path; a forked child neither holds nor releases what its
// parent holds; the cache keys names per lock directory and stays correct
// beyond its size. Other processes are forked children that answer one
// letter through a pipe and keep what they hold until killed.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/ZrNamedMutex.h"
#include "host/testing/ScopedTempDir.h"

namespace {

const char kName[] = "ZR_HDS_LOCK_SVOL_SELECTION";

// A forked child running body; its answer is read at once, then it waits
// (holding what body took) until stop().
class Child {
 public:
  explicit Child(const std::function<char()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::close(fds[0]);
      char c = body();
      if (::write(fds[1], &c, 1) != 1) ::_exit(1);
      ::pause();
      ::_exit(0);
    }
    ::close(fds[1]);
    if (m_pid < 0 || ::read(fds[0], &m_answer, 1) != 1) m_answer = '?';
    ::close(fds[0]);
  }
  ~Child() { stop(); }
  char answer() const { return m_answer; }
  void stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }

 private:
  pid_t m_pid = -1;
  char m_answer = '?';
};

// Takes kName in a fresh object and keeps it: 'y' when taken.
char takeAndHold() {
  static ZrNamedMutex* kept = nullptr;  // the child's, alive until it is killed
  kept = new ZrNamedMutex(kName);
  return kept->lock(0) != 0 ? 'y' : 'n';
}

// Puts a fresh empty file at path in one step (another file from then on).
void replaceByRename(const std::string& path) {
  const std::string tmp = path + ".new";
  int fd = ::open(tmp.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);
  ASSERT_EQ(0, ::rename(tmp.c_str(), path.c_str()));
}

// Between two scopes (the file cached, held by no one) the lock file goes;
// another process then holds the file at the path. A kept object and a new
// one both see it held, and take it once that process is gone.
TEST(ZrNamedMutexCache, LockFileRemovedOrReplacedBetweenScopesIsHonoured) {
  struct Case {
    const char* what;
    bool rename;
  };
  const Case cases[] = {{"removed", false}, {"replaced by rename", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedTempDir dir;
    ZrNamedMutex kept(kName);
    ASSERT_NE(0, kept.lock(0));
    kept.unlock();
    const std::string path = ZrNamedMutex::pathForName(kName);
    if (c.rename) {
      replaceByRename(path);
    } else {
      ASSERT_EQ(0, ::unlink(path.c_str()));
    }
    Child other(takeAndHold);
    ASSERT_EQ('y', other.answer());
    EXPECT_EQ(0, kept.lock(0)) << "locked the file that was removed";
    ZrNamedMutex fresh(kName);
    EXPECT_EQ(0, fresh.lock(0));
    other.stop();
    EXPECT_NE(0, kept.lock(0));
    EXPECT_EQ(0, fresh.lock(0)) << "one object of the process holds it";
    kept.unlock();
    EXPECT_NE(0, fresh.lock(0));
  }
}

// A process holds the file; it is removed meanwhile and a second process
// takes the new file at the path. When the first lets go, the old file is
// free but no longer the lock: this process must not take it.
TEST(ZrNamedMutexCache, FileRemovedWhileAnotherHeldItIsLeftForTheNewOne) {
  ScopedTempDir dir;
  ZrNamedMutex kept(kName);
  ASSERT_NE(0, kept.lock(0));
  kept.unlock();
  Child first(takeAndHold);
  ASSERT_EQ('y', first.answer());
  EXPECT_EQ(0, kept.lock(0));
  ASSERT_EQ(0, ::unlink(ZrNamedMutex::pathForName(kName).c_str()));
  Child second(takeAndHold);
  ASSERT_EQ('y', second.answer()) << "the new file at the path is free";
  first.stop();
  EXPECT_EQ(0, kept.lock(0)) << "took the removed file its holder let go";
  EXPECT_EQ(0, kept.lock(20));
  second.stop();
  EXPECT_NE(0, kept.lock(0));
}

// The parent holds the lock; its forked child neither holds it (not even
// through the parent's object) nor frees it by unlocking or destroying
// that object, and cannot take it until the parent lets go.
TEST(ZrNamedMutexCache, ForkedChildNeitherHoldsNorReleasesItsParentsLock) {
  ScopedTempDir dir;
  auto held = std::make_unique<ZrNamedMutex>(kName);
  ASSERT_NE(0, held->lock(0));
  ZrNamedMutex* inherited = held.get();
  Child child([inherited]() -> char {
    if (inherited->isHeld()) return 'h';
    if (inherited->lock(0) != 0) return 'l';
    inherited->unlock();
    delete inherited;
    ZrNamedMutex mine(kName);
    return mine.lock(0) != 0 ? 't' : 'n';
  });
  EXPECT_EQ('n', child.answer());
  EXPECT_TRUE(held->isHeld());
  Child whileHeld(takeAndHold);
  EXPECT_EQ('n', whileHeld.answer()) << "the child's unlock freed the parent's lock";
  held.reset();
  Child afterwards(takeAndHold);
  EXPECT_EQ('y', afterwards.answer());
}

// A child of a parent that cached the file (holding nothing) opens its own:
// what the child takes, the parent cannot, and the other way round.
TEST(ZrNamedMutexCache, ForkedChildDoesNotShareItsParentsOpenFile) {
  ScopedTempDir dir;
  ZrNamedMutex kept(kName);
  ASSERT_NE(0, kept.lock(0));
  kept.unlock();
  Child child(takeAndHold);
  ASSERT_EQ('y', child.answer());
  EXPECT_EQ(0, kept.lock(0)) << "shared the child's file description";
  child.stop();
  ASSERT_NE(0, kept.lock(0));
  Child blocked(takeAndHold);
  EXPECT_EQ('n', blocked.answer());
}

// The same name under another lock directory is another lock, and the
// first directory's object keeps its own.
TEST(ZrNamedMutexCache, SameNameInAnotherLockDirectoryIsAnotherLock) {
  ScopedTempDir dir;
  ZrNamedMutex first(kName);
  ASSERT_NE(0, first.lock(0));
  {
    ScopedTempDir inner;  // another lock directory
    ZrNamedMutex second(kName);
    EXPECT_NE(0, second.lock(0));
    struct stat st;
    EXPECT_EQ(0, ::stat(ZrNamedMutex::pathForName(kName).c_str(), &st));
  }
  ZrNamedMutex again(kName);
  EXPECT_EQ(0, again.lock(0));
  first.unlock();
  EXPECT_NE(0, again.lock(0));
}

// More names than the cache keeps: every one still excludes a second
// object and another process, and a name closed out of the cache opens
// again.
TEST(ZrNamedMutexCache, NamesBeyondTheCacheStillExclude) {
  ScopedTempDir dir;
  std::vector<std::unique_ptr<ZrNamedMutex>> held;
  for (int i = 0; i < 48; ++i) {
    held.push_back(std::make_unique<ZrNamedMutex>(("CACHE_" + std::to_string(i)).c_str()));
    ASSERT_NE(0, held.back()->lock(0)) << i;
  }
  for (int i = 0; i < 48; i += 7) {
    ZrNamedMutex second(("CACHE_" + std::to_string(i)).c_str());
    EXPECT_EQ(0, second.lock(0)) << i;
  }
  held.clear();
  {
    ZrNamedMutex reopened("CACHE_0");
    EXPECT_NE(0, reopened.lock(0));
  }
  for (int i = 0; i < 48; ++i) {
    ZrNamedMutex passing(("CACHE_" + std::to_string(i) + "_x").c_str());
    EXPECT_TRUE(passing.isValid());
  }
  ZrNamedMutex kept(kName);
  ASSERT_NE(0, kept.lock(0));
  Child other(takeAndHold);
  EXPECT_EQ('n', other.answer());
}

}  // namespace
