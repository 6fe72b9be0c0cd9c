// Finding and ending a command's whole tree through /proc (see
// host/ZrProcessInternal.h). Async-signal-safe throughout: it runs in the
// supervisor and the watcher, forks of a host that may have had threads.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "host/ZrProcessInternal.h"

namespace zrproc {

namespace {

// Processes read per walk; a machine with more has more than any test bed.
constexpr int kMaxEntries = 32768;
// Processes of one command's tree.
constexpr int kMaxTree = 4096;
// Walks before giving up on a tree whose processes will not die (one in
// uninterruptible sleep), and the pause between two walks.
constexpr int kMaxRounds = 50;
constexpr long kRoundPauseNanos = 2 * 1000 * 1000;

struct Entry {
  int32_t pid;
  int32_t ppid;
  int32_t pgid;
  int32_t sid;
  char state;
};

// A non-negative decimal number at p (advanced past it); -1 when none.
long readNumber(const char*& p, const char* end) {
  long v = -1;
  while (p < end && *p >= '0' && *p <= '9') v = (v < 0 ? 0 : v * 10) + (*p++ - '0');
  return v;
}

// "pid (name) state ppid pgrp session ..." of /proc/<name>/stat; the name
// may hold blanks and ')' itself: the last ')' ends it.
bool readEntry(int procFd, const char* name, Entry& e, char* buf, size_t size) {
  char path[32];
  size_t n = 0;
  for (const char* p = name; *p != '\0' && n < sizeof(path) - 6; ++p) path[n++] = *p;
  for (const char* p = "/stat"; *p != '\0'; ++p) path[n++] = *p;
  path[n] = '\0';
  int fd = ::openat(procFd, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ssize_t got = ::read(fd, buf, size - 1);
  ::close(fd);
  if (got <= 0) return false;
  const char* begin = buf;
  const char* end = buf + got;
  const char* close = nullptr;
  for (const char* p = begin; p < end; ++p)
    if (*p == ')') close = p;
  if (close == nullptr || end - close < 4) return false;
  const char* p = begin;
  e.pid = static_cast<int32_t>(readNumber(p, end));
  p = close + 2;
  e.state = *p;
  p += 2;
  e.ppid = static_cast<int32_t>(readNumber(p, end));
  ++p;
  e.pgid = static_cast<int32_t>(readNumber(p, end));
  ++p;
  e.sid = static_cast<int32_t>(readNumber(p, end));
  return e.pid > 0 && e.ppid >= 0;
}

bool isNumber(const char* s) {
  if (*s == '\0') return false;
  for (; *s != '\0'; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

bool isDead(char state) { return state == 'Z' || state == 'X' || state == 'x'; }

void pause() {
  struct timespec ts = {0, kRoundPauseNanos};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace

struct TreeScratch {
  Entry entries[kMaxEntries];
  int count;
  int32_t tree[kMaxTree];  // the root first, then every descendant found
  int treeCount;
  int treeIndex[kMaxTree];  // entry index of tree[i] (-1 for the root)
  char dents[32768];
  char stat[1024];
};

TreeScratch* mapTreeScratch() {
  void* p = ::mmap(nullptr, sizeof(TreeScratch), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<TreeScratch*>(p);
}

void unmapTreeScratch(TreeScratch* s) {
  if (s != nullptr) ::munmap(s, sizeof(TreeScratch));
}

namespace {

// Every process of the machine into s->entries; false when /proc cannot be
// read.
bool readTable(TreeScratch* s) {
  s->count = 0;
  int procFd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (procFd < 0) return false;
  for (;;) {
    long n = ::syscall(SYS_getdents64, procFd, s->dents, sizeof(s->dents));
    if (n <= 0) break;
    for (long off = 0; off < n;) {
      // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name
      const char* d = s->dents + off;
      unsigned short reclen = 0;
      std::memcpy(&reclen, d + 16, sizeof(reclen));
      const char* name = d + 19;
      if (isNumber(name) && s->count < kMaxEntries &&
          readEntry(procFd, name, s->entries[s->count], s->stat, sizeof(s->stat)))
        ++s->count;
      if (reclen == 0) break;
      off += reclen;
    }
  }
  ::close(procFd);
  return true;
}

bool inTree(const TreeScratch* s, int32_t pid) {
  for (int i = 0; i < s->treeCount; ++i)
    if (s->tree[i] == pid) return true;
  return false;
}

// s->tree: root and every live process that descends from it.
void collectTree(TreeScratch* s, pid_t root) {
  s->tree[0] = root;
  s->treeIndex[0] = -1;
  s->treeCount = 1;
  for (bool grew = true; grew;) {
    grew = false;
    for (int i = 0; i < s->count && s->treeCount < kMaxTree; ++i) {
      const Entry& e = s->entries[i];
      if (isDead(e.state) || e.pid == root || !inTree(s, e.ppid) || inTree(s, e.pid)) continue;
      s->treeIndex[s->treeCount] = i;
      s->tree[s->treeCount++] = e.pid;
      grew = true;
    }
  }
}

}  // namespace

int signalDescendants(TreeScratch* s, pid_t root, pid_t group, bool outsideGroupOnly, int sig) {
  if (s == nullptr || root <= 0) return 0;
  int total = 0;
  for (int round = 0; round < kMaxRounds; ++round) {
    if (!readTable(s)) break;
    collectTree(s, root);
    int sent = 0;
    for (int i = 1; i < s->treeCount; ++i) {
      const Entry& e = s->entries[s->treeIndex[i]];
      if (outsideGroupOnly && e.pgid == group) continue;
      if (::kill(e.pid, sig) == 0) ++sent;
    }
    if (sent == 0) break;
    total += sent;
    // Time for the signalled to die and for what they leave to be
    // re-parented to the root, where the next walk finds it.
    pause();
  }
  return total;
}

void killTree(TreeScratch* s, pid_t root) {
  if (root <= 0) return;
  if (s != nullptr) {
    Entry e;
    char name[16];
    int n = 0;
    char digits[16];
    for (long v = root; v > 0 && n < 15; v /= 10) digits[n++] = static_cast<char>('0' + v % 10);
    for (int i = 0; i < n; ++i) name[i] = digits[n - 1 - i];
    name[n] = '\0';
    int procFd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool found = procFd >= 0 && readEntry(procFd, name, e, s->stat, sizeof(s->stat));
    if (procFd >= 0) ::close(procFd);
    // Every command root leads a session of its own; anything else at this
    // pid is some other process that got the number after ours was gone.
    if (!found || e.sid != root || isDead(e.state)) return;
    ::kill(root, SIGSTOP);
    signalDescendants(s, root, root, false, SIGKILL);
  }
  ::kill(-root, SIGKILL);
  ::kill(root, SIGKILL);
}

}  // namespace zrproc
