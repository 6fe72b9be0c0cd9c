#include "host/ZrNamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <unordered_map>

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

namespace {

// One open lock file per name and process, kept open between uses so that
// taking a free lock costs a status check and an flock, not a path lookup.
// Objects of the same name in this process exclude each other through the
// held flag (they share the file description, which flock alone would not
// keep apart). A forked child drops what it inherited: those descriptions
// are its parent's.
struct LockFile {
  int fd = -1;
  bool held = false;
  ZrLockQueue* queue = nullptr;  // the name's queue, mapped on first use
  bool queueTried = false;
  int queueUsers = 0;  // lock() calls that use the queue now
};

void closeEntry(LockFile& f) {
  if (f.fd >= 0) ::close(f.fd);
  zrlockqueue::close(f.queue);
  f.fd = -1;
  f.queue = nullptr;
}

struct LockFiles {
  std::mutex mu;
  pid_t pid = 0;
  std::string checkedDir;  // the lock directory last found private
  std::unordered_map<std::string, LockFile> files;
};

LockFiles& lockFiles() {
  static LockFiles* files = new LockFiles;  // lives to the end, for any late user
  return *files;
}

// Beyond this many cached files, a file is closed when it is released.
constexpr size_t kMaxCachedLockFiles = 32;

// Under files.mu: the entry of path with an open, still linked file; ""
// or why not.
std::string openLockFile(LockFiles& files, const std::string& path, LockFile*& entry) {
  const pid_t self = ::getpid();
  if (files.pid != self) {
    // The queues stay mapped: objects made before the fork may still use
    // theirs (the page is the same shared file).
    for (auto& f : files.files)
      if (f.second.fd >= 0) ::close(f.second.fd);
    files.files.clear();
    files.checkedDir.clear();
    files.pid = self;
  }
  entry = &files.files[path];
  if (entry->fd >= 0) {
    struct stat st;
    // A lock file removed meanwhile no longer excludes anyone: open anew.
    if (::fstat(entry->fd, &st) == 0 && st.st_nlink > 0) return "";
    if (entry->held || entry->queueUsers > 0) return "";  // kept until released or given up
    closeEntry(*entry);
    entry->queueTried = false;
  }
  const std::string dir = ZrPaths::lockDir();
  if (files.checkedDir != dir) {
    std::string why = checkLockDir(dir);
    if (!why.empty()) return why;
    files.checkedDir = dir;
  }
  std::string why;
  // A regular file of 0600, never a link or FIFO planted at the path.
  entry->fd = ZrSafeFile::openRegularNonblocking(path, O_RDWR | O_CREAT, 0600, &why);
  if (entry->fd < 0) {
    // The directory may have changed since it was found private.
    files.checkedDir.clear();
    std::string dirWhy = checkLockDir(dir);
    return dirWhy.empty() ? why : dirWhy;
  }
  return "";
}

}  // namespace

ZrNamedMutex::ZrNamedMutex(const char* name) : m_name(name != nullptr ? name : "") {
  if (m_name.empty()) {
    m_error = "empty mutex name";
    return;
  }
  m_path = pathForName(m_name);
  LockFiles& files = lockFiles();
  std::lock_guard<std::mutex> g(files.mu);
  LockFile* entry = nullptr;
  m_error = openLockFile(files, m_path, entry);
  m_fd = m_error.empty() ? entry->fd : -1;
  if (m_fd < 0) return;
  if (entry->queue == nullptr && !entry->queueTried) {
    entry->queueTried = true;
    entry->queue = zrlockqueue::open(m_path);
  }
  // Counted while this object may queue: the entry keeps its mapping.
  m_queue = entry->queue;
  if (m_queue != nullptr) ++entry->queueUsers;
}

ZrNamedMutex::~ZrNamedMutex() { release(true); }

bool ZrNamedMutex::tryLock() {
  LockFiles& files = lockFiles();
  std::lock_guard<std::mutex> g(files.mu);
  LockFile* entry = nullptr;
  // The file was checked when this object was made; only a retry (or a
  // forked child) looks again.
  auto it = files.pid == ::getpid() ? files.files.find(m_path) : files.files.end();
  if (it != files.files.end() && it->second.fd >= 0 && !m_retried) {
    entry = &it->second;
  } else if (!openLockFile(files, m_path, entry).empty()) {
    return false;
  }
  m_retried = true;
  if (entry->held) return false;
  if (::flock(entry->fd, LOCK_EX | LOCK_NB) != 0) return false;
  entry->held = true;
  m_fd = entry->fd;
  return true;
}

int ZrNamedMutex::lockQueued(ZrLockQueue* q, int64_t millis) {
  ZrClock& clock = ZrClock::get();
  const int64_t deadline = clock.monotonicMillis() + millis;
  // An empty queue is entered at once; otherwise the caller waits for its
  // turn behind those already there, a process that just released included.
  zrlockqueue::Entry entry = zrlockqueue::enter(q, -1);
  if (entry == zrlockqueue::Entry::kTimedOut && millis > 0) entry = zrlockqueue::enter(q, millis);
  if (entry == zrlockqueue::Entry::kBroken) return -1;
  if (entry != zrlockqueue::Entry::kHead) return 0;
  int result = 0;
  for (;;) {
    const uint32_t seen = zrlockqueue::generation(q);
    if (tryLock()) {
      result = acquired();
      break;
    }
    const int64_t left = deadline - clock.monotonicMillis();
    if (left <= 0) break;
    zrlockqueue::awaitRelease(q, seen, std::min(left, zrlockqueue::kHolderDeathMillis));
  }
  zrlockqueue::leave(q);
  return result;
}

int ZrNamedMutex::lock(unsigned long milliseconds) {
  if (m_fd < 0) return 0;
  if (m_held) return 1;
  ZrClock& clock = ZrClock::get();
  if (clock.isRealTime() && m_queue != nullptr) {
    const int result = lockQueued(m_queue, static_cast<int64_t>(milliseconds));
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
  m_retried = false;
  if (ZrLockObserver* o = g_observer.load(std::memory_order_acquire)) o->acquired(*this);
  return 1;
}

void ZrNamedMutex::unlock() { release(false); }

void ZrNamedMutex::release(bool destroying) {
  const bool held = m_held;
  if (!held && !(destroying && m_queue != nullptr)) return;
  if (held) {
    if (ZrLockObserver* o = g_observer.load(std::memory_order_acquire)) o->released(*this);
  }
  LockFiles& files = lockFiles();
  std::lock_guard<std::mutex> g(files.mu);
  m_held = false;
  auto it = files.files.find(m_path);
  if (it == files.files.end() || files.pid != ::getpid()) return;
  LockFile& f = it->second;
  if (held) {
    ::flock(f.fd, LOCK_UN);
    f.held = false;
    if (f.queue != nullptr) zrlockqueue::released(f.queue);
  }
  if (destroying && m_queue != nullptr) {
    if (f.queue == m_queue) --f.queueUsers;
    m_queue = nullptr;
  }
  if (files.files.size() > kMaxCachedLockFiles && !f.held && f.queueUsers == 0) {
    closeEntry(f);
    files.files.erase(it);
  }
}
