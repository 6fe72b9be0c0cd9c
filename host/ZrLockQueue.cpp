#include "host/ZrLockQueue.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "host/ZrSafeFile.h"

namespace {

constexpr uint32_t kMagic = 0x5a524c51;  // "ZRLQ"
constexpr size_t kBootIdLength = 36;
constexpr off_t kQueueBytes = 4096;

// The shared page. Made anew when its magic or boot id differ: a queue of
// an earlier boot names threads that no longer exist.
struct Shared {
  std::atomic<uint32_t> magic;
  char bootId[kBootIdLength + 1];
  pthread_mutex_t turnstile;
  std::atomic<uint32_t> generation;
  std::atomic<uint32_t> waiting;  // the head sleeps on generation
};
static_assert(sizeof(Shared) <= static_cast<size_t>(kQueueBytes), "one page");

const char* bootId() {
  static const std::string id = [] {
    std::string text;
    std::string why;
    ZrSafeFile::readRegular("/proc/sys/kernel/random/boot_id", &text, 256, &why);
    return text.substr(0, kBootIdLength);
  }();
  return id.c_str();
}

bool initTurnstile(pthread_mutex_t* m) {
  pthread_mutexattr_t attr;
  if (::pthread_mutexattr_init(&attr) != 0) return false;
  ::pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  ::pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  // Arrival order and a hand-over to the next waiter; a kernel without it
  // still queues, in no particular order.
  ::pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT);
  int rc = ::pthread_mutex_init(m, &attr);
  if (rc != 0) {
    ::pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_NONE);
    rc = ::pthread_mutex_init(m, &attr);
  }
  ::pthread_mutexattr_destroy(&attr);
  return rc == 0;
}

long futex(std::atomic<uint32_t>* word, int op, uint32_t value, const struct timespec* timeout) {
  return ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, value, timeout, nullptr, 0);
}

}  // namespace

struct ZrLockQueue {
  Shared* shared;
};

namespace zrlockqueue {

ZrLockQueue* open(const std::string& lockPath) {
  std::string why;
  int fd = ZrSafeFile::openRegularNonblocking(lockPath + ".q", O_RDWR | O_CREAT, 0600, &why);
  if (fd < 0) return nullptr;
  // One maker of the page at a time (a record lock beyond it: the lock
  // file's flock is another matter).
  struct flock init;
  std::memset(&init, 0, sizeof(init));
  init.l_type = F_WRLCK;
  init.l_whence = SEEK_SET;
  init.l_start = kQueueBytes;
  init.l_len = 1;
  void* page = MAP_FAILED;
  struct stat st;
  if (::fcntl(fd, F_OFD_SETLKW, &init) == 0 && ::fstat(fd, &st) == 0 &&
      (st.st_size >= kQueueBytes || ::ftruncate(fd, kQueueBytes) == 0)) {
    page = ::mmap(nullptr, kQueueBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  ZrLockQueue* q = nullptr;
  if (page != MAP_FAILED) {
    Shared* s = static_cast<Shared*>(page);
    const bool current = s->magic.load(std::memory_order_acquire) == kMagic &&
                         std::strncmp(s->bootId, bootId(), kBootIdLength) == 0;
    if (current || initTurnstile(&s->turnstile)) {
      if (!current) {
        s->generation.store(0);
        s->waiting.store(0);
        std::strncpy(s->bootId, bootId(), kBootIdLength);
        s->bootId[kBootIdLength] = '\0';
        s->magic.store(kMagic, std::memory_order_release);
      }
      q = new ZrLockQueue{s};
    } else {
      ::munmap(page, kQueueBytes);
    }
  }
  init.l_type = F_UNLCK;
  ::fcntl(fd, F_OFD_SETLK, &init);
  ::close(fd);  // the mapping stays
  return q;
}

void close(ZrLockQueue* q) {
  if (q == nullptr) return;
  ::munmap(q->shared, kQueueBytes);
  delete q;
}

Entry enter(ZrLockQueue* q, int64_t waitMillis) {
  pthread_mutex_t* m = &q->shared->turnstile;
  int rc;
  if (waitMillis < 0) {
    rc = ::pthread_mutex_trylock(m);
  } else {
    struct timespec until;
    ::clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += static_cast<time_t>(waitMillis / 1000);
    until.tv_nsec += static_cast<long>(waitMillis % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
      until.tv_nsec -= 1000000000L;
      ++until.tv_sec;
    }
    rc = ::pthread_mutex_timedlock(m, &until);
  }
  if (rc == EOWNERDEAD) {
    // The head died in the queue: nothing it guarded needs repair.
    ::pthread_mutex_consistent(m);
    rc = 0;
  }
  if (rc == 0) return Entry::kHead;
  return rc == EBUSY || rc == ETIMEDOUT ? Entry::kTimedOut : Entry::kBroken;
}

void leave(ZrLockQueue* q) { ::pthread_mutex_unlock(&q->shared->turnstile); }

uint32_t generation(ZrLockQueue* q) {
  return q->shared->generation.load(std::memory_order_acquire);
}

void awaitRelease(ZrLockQueue* q, uint32_t seen, int64_t waitMillis) {
  if (waitMillis <= 0) return;
  q->shared->waiting.store(1, std::memory_order_seq_cst);
  struct timespec t = {static_cast<time_t>(waitMillis / 1000),
                       static_cast<long>(waitMillis % 1000) * 1000000L};
  // Returns at once when a release moved the count after it was read.
  futex(&q->shared->generation, FUTEX_WAIT, seen, &t);
}

void released(ZrLockQueue* q) {
  q->shared->generation.fetch_add(1, std::memory_order_seq_cst);
  if (q->shared->waiting.exchange(0, std::memory_order_seq_cst) != 0)
    futex(&q->shared->generation, FUTEX_WAKE, INT_MAX, nullptr);
}

}  // namespace zrlockqueue
