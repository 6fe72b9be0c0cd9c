#include "host/ZrNamedMutex.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "host/CNqError.h"
#include "host/ZrClock.h"
#include "host/ZrLockQueue.h"
#include "host/ZrPaths.h"
#include "host/ZrSafeFile.h"

namespace {

// The longest pause between two tries of a held lock.
constexpr int64_t kMaxPollStepMillis = 4;

// The lock directory must be ours alone: a directory (not a link) owned by
// this process's user that nobody else may write, or another user could
// remove a held lock file and let a second job take the same lock. Created
// 0700 when missing. "" when usable, else why not.
std::string checkLockDir(const std::string& dir) {
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT) return CNqError::FromErrno(errno, "stat " + dir).AsString();
    ZrSafeFile::makeDirectories(dir, 0700);
    if (::lstat(dir.c_str(), &st) != 0)
      return CNqError::FromErrno(errno, "mkdir " + dir).AsString();
  }
  if (!S_ISDIR(st.st_mode)) return "lock directory " + dir + " is not a directory";
  if (st.st_uid != ::geteuid()) return "lock directory " + dir + " is owned by another user";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return "lock directory " + dir + " is writable by group or others";
  }
  return "";
}

}  // namespace

namespace {
std::atomic<ZrLockObserver*> g_observer{nullptr};
}  // namespace

ZrLockObserver::~ZrLockObserver() = default;

// Declared for tests and the stress program only, in
// host/testing/ZrLockObserverSwap.h.
ZrLockObserver* zrLockObserverExchange(ZrLockObserver* observer) {
  return g_observer.exchange(observer, std::memory_order_acq_rel);
}

std::string ZrNamedMutex::pathForName(const std::string& name) {
  return ZrPaths::lockDir() + "/zrmutex_" + ZrPaths::safeFileName(name) + ".lock";
}

// One open lock file per name, lock directory and process, kept open (and
// its queue mapped) between uses, so that taking a free lock costs the flock
// pair and one status check, not a path lookup. Objects of the same name in
// this process share the entry and exclude each other through its held flag
// (they share the file description, which flock alone would not keep apart).
struct ZrNamedMutex::Entry {
  size_t hash = 0;  // of name
  std::string name;
  std::string dir;
  std::string path;
  int fd = -1;
  bool held = false;
  ZrLockQueue* queue = nullptr;  // the name's queue, mapped on first use
  bool queueTried = false;
  int users = 0;  // objects of this entry alive now
};

namespace {

using Entry = ZrNamedMutex::Entry;

struct LockFiles {
  std::mutex mu;
  // Bumped in a forked child (under mu, which the fork itself holds): what
  // was held before belongs to the parent.
  std::atomic<unsigned> forks{0};
  std::string checkedDir;  // the lock directory last found private
  std::vector<std::unique_ptr<Entry>> entries;
};

LockFiles& lockFiles();

// The table is locked across fork, so a child never inherits it half made.
// The child drops its inherited descriptions (they are its parent's, flock
// and all: closing its copies releases nothing); the queues stay mapped,
// since objects made before the fork may still use theirs (the page is the
// same shared file).
void beforeFork() { lockFiles().mu.lock(); }
void afterForkInParent() { lockFiles().mu.unlock(); }
void afterForkInChild() {
  LockFiles& files = lockFiles();
  for (auto& e : files.entries) {
    if (e->fd >= 0) ::close(e->fd);
    e->fd = -1;
    e->held = false;
  }
  files.forks.fetch_add(1, std::memory_order_relaxed);
  files.mu.unlock();
}

LockFiles& lockFiles() {
  static LockFiles* files = [] {
    auto* made = new LockFiles;  // lives to the end, for any late user
    ::pthread_atfork(beforeFork, afterForkInParent, afterForkInChild);
    return made;
  }();
  return *files;
}

unsigned forkCount() { return lockFiles().forks.load(std::memory_order_relaxed); }

// Beyond this many cached files, a file no object uses is closed when its
// last object goes.
constexpr size_t kMaxCachedLockFiles = 32;

void closeEntry(Entry& e) {
  if (e.fd >= 0) ::close(e.fd);
  e.fd = -1;
}

// Under files.mu: opens the lock file of e (after checking its directory);
// "" or why not.
std::string openLockFile(LockFiles& files, Entry& e) {
  if (files.checkedDir != e.dir) {
    std::string why = checkLockDir(e.dir);
    if (!why.empty()) return why;
    files.checkedDir = e.dir;
  }
  std::string why;
  // A regular file of 0600, never a link or FIFO planted at the path.
  e.fd = ZrSafeFile::openRegularNonblocking(e.path, O_RDWR | O_CREAT, 0600, &why);
  if (e.fd < 0) {
    // The directory may have changed since it was found private.
    files.checkedDir.clear();
    std::string dirWhy = checkLockDir(e.dir);
    return dirWhy.empty() ? why : dirWhy;
  }
  if (!e.queueTried) {
    e.queueTried = true;
    e.queue = zrlockqueue::open(e.path);
  }
  return "";
}

// Under files.mu: the entry of name in dir, made when missing.
Entry& findEntry(LockFiles& files, const char* name, std::string_view dir) {
  const std::string_view key(name);
  const size_t hash = std::hash<std::string_view>()(key);
  for (auto& e : files.entries)
    if (e->hash == hash && e->name == key && e->dir == dir) return *e;
  files.entries.push_back(std::make_unique<Entry>());
  Entry& e = *files.entries.back();
  e.hash = hash;
  e.name = name;
  e.dir = dir;
  e.path = e.dir + "/zrmutex_" + ZrPaths::safeFileName(e.name) + ".lock";
  return e;
}

// The open file is still the one at its path: a file removed (or replaced
// by another) excludes no one who opens the path now.
bool stillLinked(int fd) {
  struct stat st;
#if defined(__x86_64__) && defined(SYS_fstat)
  // The plain fstat call: the C library's goes through fstatat with an
  // empty path, which the kernel looks up first (a fifth of the cost).
  const bool statted = ::syscall(SYS_fstat, fd, &st) == 0;
#else
  const bool statted = ::fstat(fd, &st) == 0;
#endif
  return statted && st.st_nlink > 0;
}

// How often a try follows a lock file replaced under it before giving up
// the try.
constexpr int kReopenRounds = 3;

const std::string kNoName;

}  // namespace

ZrNamedMutex::ZrNamedMutex(const char* name) {
  if (name == nullptr || name[0] == '\0') {
    m_error = "empty mutex name";
    return;
  }
  LockFiles& files = lockFiles();
  std::lock_guard<std::mutex> g(files.mu);
  m_entry = &findEntry(files, name, ZrPaths::lockDirView());
  ++m_entry->users;
  if (m_entry->fd < 0) m_error = openLockFile(files, *m_entry);
  m_valid = m_error.empty();
}

ZrNamedMutex::~ZrNamedMutex() { release(true); }

const std::string& ZrNamedMutex::name() const {
  return m_entry != nullptr ? m_entry->name : kNoName;
}

bool ZrNamedMutex::isHeld() const { return m_held && m_forks == forkCount(); }

bool ZrNamedMutex::tryLock() {
  LockFiles& files = lockFiles();
  std::lock_guard<std::mutex> g(files.mu);
  Entry& e = *m_entry;
  if (e.held) return false;
  for (int round = 0; round < kReopenRounds; ++round) {
    // Closed by a forked child's start or a replaced file: the path again.
    if (e.fd < 0 && !openLockFile(files, e).empty()) return false;
    const bool locked = ::flock(e.fd, LOCK_EX | LOCK_NB) == 0;
    if (stillLinked(e.fd)) {
      if (!locked) return false;
      e.held = true;
      m_forks = files.forks.load(std::memory_order_relaxed);
      return true;
    }
    // Removed or replaced, perhaps while another held it: whoever opens the
    // path now locks another file, so that one is the lock.
    if (locked) ::flock(e.fd, LOCK_UN);
    closeEntry(e);
    if (!locked) return false;
  }
  return false;
}

int ZrNamedMutex::lockQueued(ZrLockQueue* q, int64_t millis) {
  ZrClock& clock = ZrClock::get();
  // An empty queue is entered at once; otherwise the caller waits for its
  // turn behind those already there, a process that just released included.
  zrlockqueue::Entry entry = zrlockqueue::enter(q, -1);
  if (entry == zrlockqueue::Entry::kTimedOut && millis > 0) entry = zrlockqueue::enter(q, millis);
  if (entry == zrlockqueue::Entry::kBroken) return -1;
  if (entry != zrlockqueue::Entry::kHead) return 0;
  int result = 0;
  int64_t deadline = -1;  // read only when the first try fails
  for (;;) {
    const uint32_t seen = zrlockqueue::generation(q);
    if (tryLock()) {
      result = acquired();
      break;
    }
    if (deadline < 0) deadline = clock.monotonicMillis() + millis;
    const int64_t left = deadline - clock.monotonicMillis();
    if (left <= 0) break;
    zrlockqueue::awaitRelease(q, seen, std::min(left, zrlockqueue::kHolderDeathMillis));
  }
  zrlockqueue::leave(q);
  return result;
}

int ZrNamedMutex::lock(unsigned long milliseconds) {
  if (!m_valid) return 0;
  if (isHeld()) return 1;
  m_held = false;  // a parent's, in a forked child
  ZrClock& clock = ZrClock::get();
  ZrLockQueue* queue = m_entry->queue;  // mapped for the entry's life once made
  if (clock.isRealTime() && queue != nullptr) {
    const int result = lockQueued(queue, static_cast<int64_t>(milliseconds));
    if (result >= 0) return result;
    // A queue that cannot be entered only costs the order: poll below.
  }
  const int64_t deadline = clock.monotonicMillis() + static_cast<int64_t>(milliseconds);
  int64_t step = 1;
  for (;;) {
    if (tryLock()) return acquired();
    int64_t left = deadline - clock.monotonicMillis();
    if (left <= 0) return 0;
    clock.sleepMillis(step < left ? step : left);
    // Short steps: a waiter that sleeps long loses every turn to one that
    // takes the lock again at once.
    if (step < kMaxPollStepMillis) step *= 2;
  }
}

int ZrNamedMutex::acquired() {
  m_held = true;
  if (ZrLockObserver* o = g_observer.load(std::memory_order_acquire)) o->acquired(*this);
  return 1;
}

void ZrNamedMutex::unlock() { release(false); }

void ZrNamedMutex::release(bool destroying) {
  const bool held = isHeld();
  if (!held && !(destroying && m_entry != nullptr)) {
    m_held = false;
    return;
  }
  if (held) {
    if (ZrLockObserver* o = g_observer.load(std::memory_order_acquire)) o->released(*this);
  }
  LockFiles& files = lockFiles();
  std::lock_guard<std::mutex> g(files.mu);
  // Looked at again under the table: a fork in between leaves the child
  // holding nothing.
  Entry& e = *m_entry;
  if (m_held && m_forks == files.forks.load(std::memory_order_relaxed)) {
    ::flock(e.fd, LOCK_UN);
    e.held = false;
    if (e.queue != nullptr) zrlockqueue::released(e.queue);
  }
  m_held = false;
  if (!destroying) return;
  m_entry = nullptr;
  if (--e.users > 0 || e.held || files.entries.size() <= kMaxCachedLockFiles) return;
  for (auto it = files.entries.begin(); it != files.entries.end(); ++it) {
    if (it->get() != &e) continue;
    closeEntry(e);
    zrlockqueue::close(e.queue);
    files.entries.erase(it);
    return;
  }
}
