// The group watcher of the direct path (see host/ZrProcessInternal.h): one
// process per runner process, holding one end of a socket pair whose other
// end closes only when the runner's process is gone. Commands register in a
// table shared with it; the watcher reads the table only then, and ends the
// tree of every command still registered.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <new>

#include "host/ZrProcessInternal.h"

namespace zrproc {

namespace {

constexpr int kMaxWatched = 4096;

// Slot values: 0 free, kReserved taken by a start, above 0 a command's pid.
constexpr int32_t kReserved = -1;

struct WatchTable {
  std::atomic<int32_t> slot[kMaxWatched];
};
static_assert(std::atomic<int32_t>::is_always_lock_free, "the table is shared memory");

[[noreturn]] void runWatcher(int fd, WatchTable* table, long maxFd) {
  ::setsid();
  defaultAllSignals();
  const int keep[] = {fd};
  closeAllBut(keep, 1, maxFd);
  char byte;
  for (;;) {
    ssize_t n = ::read(fd, &byte, 1);
    if (n > 0 || (n < 0 && errno == EINTR)) continue;
    break;  // end of file: the runner's process is gone
  }
  // Nothing of its jobs may go on.
  TreeScratch* scratch = mapTreeScratch();
  for (int i = 0; i < kMaxWatched; ++i) {
    const int32_t pid = table->slot[i].load(std::memory_order_acquire);
    if (pid > 0) killTree(scratch, pid);
  }
  ::_exit(0);
}

struct GroupWatcher {
  std::mutex mu;
  pid_t owner = 0;  // the process the watcher serves
  pid_t pid = -1;   // the watcher
  int fd = -1;      // our end of its socket
  WatchTable* table = nullptr;  // shared with the watcher; one per process
  int hint = 0;     // where the next free slot is looked for first
};

GroupWatcher& groupWatcher() {
  static GroupWatcher* w = new GroupWatcher;  // lives to the end, for any late user
  return *w;
}

// A forked child must neither keep its parent's watcher alive (the watcher
// would not see the parent go) nor register in its parent's table; it
// starts its own when it needs one. The parent's table stays mapped (the
// watcher itself, a fork too, reads it).
void forgetWatcherInChild() {
  GroupWatcher& w = groupWatcher();
  if (w.fd >= 0) ::close(w.fd);
  w.fd = -1;
  w.pid = -1;
  w.owner = 0;
  w.table = nullptr;
  new (&w.mu) std::mutex();  // the parent may have held it at the fork
}

// Our end of the socket shows the watcher's end closed when it died.
bool watcherAlive(const GroupWatcher& w) {
  struct pollfd p = {w.fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 0;
}

// Under w.mu: a live watcher of this process with its table; false when
// none can be had.
bool ensureWatcherLocked(GroupWatcher& w) {
  static std::once_flag registered;
  std::call_once(registered, [] { ::pthread_atfork(nullptr, nullptr, forgetWatcherInChild); });
  const pid_t self = ::getpid();
  if (w.owner == self && w.fd >= 0 && watcherAlive(w)) return true;
  if (w.owner == self && w.fd >= 0) {
    ::close(w.fd);  // it died: a new one takes over the same table
    ::waitpid(w.pid, nullptr, WNOHANG);
    w.fd = -1;
  }
  if (w.table == nullptr) {
    void* p = ::mmap(nullptr, sizeof(WatchTable), PROT_READ | PROT_WRITE,
                     MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    w.table = static_cast<WatchTable*>(p);  // zero-filled: every slot free
  }
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return false;
  const long maxFd = maxDescriptors();
  WatchTable* table = w.table;  // the child's copy of w is forgotten at the fork
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(sv[0]);
    ::close(sv[1]);
    return false;
  }
  if (pid == 0) runWatcher(sv[1], table, maxFd);
  ::close(sv[1]);
  w.fd = sv[0];
  w.pid = pid;
  w.owner = self;
  return true;
}

}  // namespace

std::atomic<int32_t>* reserveWatchSlot() {
  GroupWatcher& w = groupWatcher();
  std::lock_guard<std::mutex> g(w.mu);
  if (!ensureWatcherLocked(w)) return nullptr;
  for (int n = 0; n < kMaxWatched; ++n) {
    const int i = (w.hint + n) % kMaxWatched;
    int32_t expected = 0;
    if (w.table->slot[i].compare_exchange_strong(expected, kReserved)) {
      w.hint = (i + 1) % kMaxWatched;
      return &w.table->slot[i];
    }
  }
  return nullptr;
}

void publishWatchSlot(std::atomic<int32_t>* slot, pid_t pid) {
  if (slot != nullptr) slot->store(static_cast<int32_t>(pid), std::memory_order_release);
}

void releaseWatchSlot(std::atomic<int32_t>* slot) {
  if (slot != nullptr) slot->store(0, std::memory_order_release);
}

}  // namespace zrproc
