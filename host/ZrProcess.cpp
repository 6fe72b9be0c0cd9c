#include "host/ZrProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <pthread.h>

#include "host/CNqError.h"

namespace {

// How long the group gets to end after SIGTERM before SIGKILL.
constexpr long kTermGraceMillis = 500;
// After the command has ended, output is read until both streams end, no
// output arrives for kDrainIdleMillis, or kDrainCapMillis pass: a daemon
// started by the command may keep the pipes open for ever.
constexpr int kDrainIdleMillis = 50;
constexpr long kDrainCapMillis = 2000;
// How often a supervisor without pidfd support looks at its command.
constexpr int kSupervisorPollMillis = 10;

// Messages of the supervisor on the status pipe, each one atomic write.
enum : int32_t { kMsgStarted = 1, kMsgExecFailed = 2, kMsgExited = 3 };
struct Message {
  int32_t type;
  int32_t value;  // errno of a failed exec, or the command's wait status
};

long nowMillis() {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count());
}

// A descriptor of fd at 3 or above, close-on-exec; the original is closed.
// Keeps the child's dup2 onto 0-2 from clobbering a pipe that happens to sit
// there when the host runs with a standard stream closed.
int moveAbove2(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return moved;
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void sendMessage(int fd, int32_t type, int32_t value) {
  Message m{type, value};
  ssize_t ignored = ::write(fd, &m, sizeof(m));
  (void)ignored;
}

// Closes every descriptor above 2 except the ones in keep (async-signal-safe,
// nothing allocated): close_range over the gaps, a loop where the kernel
// has no close_range.
void closeAllBut(const int* keep, int count, long maxFd) {
  int sorted[8];
  int n = 0;
  for (int i = 0; i < count && n < 8; ++i) {
    if (keep[i] < 3) continue;
    int j = n++;
    while (j > 0 && sorted[j - 1] > keep[i]) {
      sorted[j] = sorted[j - 1];
      --j;
    }
    sorted[j] = keep[i];
  }
  long from = 3;
  for (int i = 0; i <= n; ++i) {
    const long to = i < n ? sorted[i] - 1 : maxFd - 1;  // inclusive
    if (to >= from) {
      bool done = false;
#ifdef SYS_close_range
      done = ::syscall(SYS_close_range, static_cast<unsigned>(from),
                       i < n ? static_cast<unsigned>(to) : ~0u, 0u) == 0;
#endif
      for (long fd = from; !done && fd <= to; ++fd) ::close(static_cast<int>(fd));
    }
    if (i < n) from = static_cast<long>(sorted[i]) + 1;
  }
}

void defaultSignals() {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof(dfl));
  dfl.sa_handler = SIG_DFL;
  for (int s = 1; s < NSIG; ++s) ::sigaction(s, &dfl, nullptr);  // invalid numbers just fail
}

}  // namespace

struct ZrChildSetup {
  char** argv;
  int devNull;
  int outFd;  // -1: leave as inherited
  int errFd;
  int statusFd;  // supervisor -> parent
  int lifeFd;    // read end; end of file: the parent is gone
  long maxFd;
};

namespace {

// The last steps of every command before its exec: standard streams, no
// other descriptor than the exec report (close-on-exec); a failure's errno
// goes to the report pipe.
[[noreturn]] void execCommand(const ZrChildSetup& c, int reportFd) {
  if (::dup2(c.devNull, 0) < 0 || (c.outFd >= 0 && ::dup2(c.outFd, 1) < 0) ||
      (c.errFd >= 0 && ::dup2(c.errFd, 2) < 0)) {
    int e = errno;
    ssize_t ignored = ::write(reportFd, &e, sizeof(e));
    (void)ignored;
    ::_exit(127);
  }
  const int keep[] = {reportFd};
  closeAllBut(keep, 1, c.maxFd);
  ::execv(c.argv[0], c.argv);
  int e = errno;
  ssize_t ignored = ::write(reportFd, &e, sizeof(e));
  (void)ignored;
  ::_exit(127);
}

// The command, forked by the supervisor: dies with it (parent-death
// signal), runs in the supervisor's session and group.
[[noreturn]] void runCommand(const ZrChildSetup& c, int reportFd, pid_t supervisor) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != supervisor) ::_exit(127);  // the supervisor is already gone
  execCommand(c, reportFd);
}

// The supervisor, the runner's direct child: a session and process group
// of its own (no controlling terminal, so a prompting tool fails at once),
// it starts the command, reaps it itself (so its exit status reaches the
// runner even when the host ignores SIGCHLD or reaps children itself) and
// reports it on the status pipe. When the runner dies while the command
// runs, the life pipe ends and the supervisor kills the whole group.
[[noreturn]] void runSupervisor(const ZrChildSetup& c) {
  ::setsid();
  defaultSignals();
  const int keep[] = {c.devNull, c.outFd, c.errFd, c.statusFd, c.lifeFd};
  closeAllBut(keep, 5, c.maxFd);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    sendMessage(c.statusFd, kMsgExecFailed, errno);
    ::_exit(127);
  }
  const pid_t self = ::getpid();
  // vfork: the command only makes system calls before its exec, and the
  // supervisor waits for that anyway; no copy of the address space.
  pid_t command = ::vfork();
  if (command < 0) {
    sendMessage(c.statusFd, kMsgExecFailed, errno);
    ::_exit(127);
  }
  if (command == 0) {
    ::close(report[0]);
    runCommand(c, report[1], self);
  }
  ::close(report[1]);
  if (c.outFd >= 0) ::close(c.outFd);
  if (c.errFd >= 0) ::close(c.errFd);
  int childErrno = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &childErrno, sizeof(childErrno));
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  if (n == static_cast<ssize_t>(sizeof(childErrno))) {
    int status = 0;
    while (::waitpid(command, &status, 0) < 0 && errno == EINTR) {
    }
    sendMessage(c.statusFd, kMsgExecFailed, childErrno);
    ::_exit(127);
  }
  sendMessage(c.statusFd, kMsgStarted, 0);

  int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, command, 0));
  for (;;) {
    struct pollfd fds[2] = {{c.lifeFd, POLLIN, 0}, {pidFd, POLLIN, 0}};
    int r = ::poll(fds, pidFd >= 0 ? 2 : 1, pidFd >= 0 ? -1 : kSupervisorPollMillis);
    int status = 0;
    pid_t w = ::waitpid(command, &status, WNOHANG);
    if (w == command) {
      sendMessage(c.statusFd, kMsgExited, status);
      ::_exit(0);
    }
    if (r > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      // The runner is gone (its end of the life pipe closed): nothing of
      // the job may go on changing the array.
      ::kill(-self, SIGKILL);
      ::_exit(1);
    }
    if (r < 0 && errno != EINTR) ::_exit(1);
  }
}

// ---- The direct path: the host leaves SIGCHLD alone --------------------

// True when this process neither ignores SIGCHLD nor handles it: the
// command's exit status then stays ours to collect with waitpid.
bool sigchldIsDefault() {
  struct sigaction sa;
  if (::sigaction(SIGCHLD, nullptr, &sa) != 0) return false;
  return sa.sa_handler == SIG_DFL && (sa.sa_flags & (SA_NOCLDWAIT | SA_SIGINFO)) == 0;
}

// One small process per runner process that kills the process group of
// every command still running when the runner's process dies: it holds one
// end of a socket pair and sees the other end close. Messages: 'W' or 'D'
// and a group id (watch, done).
struct WatchMessage {
  int32_t what;
  int32_t group;
};

constexpr int kMaxWatched = 4096;

[[noreturn]] void runWatcher(int fd, long maxFd) {
  ::setsid();
  defaultSignals();
  const int keep[] = {fd};
  closeAllBut(keep, 1, maxFd);
  static int32_t groups[kMaxWatched];  // no allocation after fork
  int count = 0;
  for (;;) {
    WatchMessage m{0, 0};
    ssize_t n = ::recv(fd, &m, sizeof(m), MSG_WAITALL);
    if (n == static_cast<ssize_t>(sizeof(m)) && m.what == 'W' && m.group > 0) {
      if (count < kMaxWatched) groups[count++] = m.group;
      continue;
    }
    if (n == static_cast<ssize_t>(sizeof(m)) && m.what == 'D') {
      for (int i = 0; i < count; ++i) {
        if (groups[i] == m.group) {
          groups[i] = groups[--count];
          break;
        }
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // The runner's process is gone: nothing of its jobs may go on.
    for (int i = 0; i < count; ++i) ::kill(-groups[i], SIGKILL);
    ::_exit(0);
  }
}

struct GroupWatcher {
  std::mutex mu;
  pid_t owner = 0;  // the process the watcher serves
  int fd = -1;
};

GroupWatcher& groupWatcher() {
  static GroupWatcher* w = new GroupWatcher;  // lives to the end, for any late user
  return *w;
}

// A forked child must not keep its parent's watcher alive (the watcher
// would not see the parent go); it starts its own when it needs one.
void forgetWatcherInChild() {
  GroupWatcher& w = groupWatcher();
  if (w.fd >= 0) ::close(w.fd);
  w.fd = -1;
  w.owner = 0;
  new (&w.mu) std::mutex();  // the parent may have held it at the fork
}

// Under w.mu: the watcher's socket of this process, started when there is
// none; -1 when no watcher can be had.
int ensureWatcherLocked(GroupWatcher& w) {
  static std::once_flag registered;
  std::call_once(registered, [] { ::pthread_atfork(nullptr, nullptr, forgetWatcherInChild); });
  if (w.owner == ::getpid() && w.fd >= 0) return w.fd;
  if (w.fd >= 0) ::close(w.fd);
  w.fd = -1;
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return -1;
  long maxFd = ::sysconf(_SC_OPEN_MAX);
  if (maxFd <= 0 || maxFd > 65536) maxFd = 65536;
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(sv[0]);
    ::close(sv[1]);
    return -1;
  }
  if (pid == 0) runWatcher(sv[1], maxFd);
  ::close(sv[1]);
  w.fd = sv[0];
  w.owner = ::getpid();
  return w.fd;
}

// The watcher's socket, started first when this process has none; -1
// when no watcher can be had.
int watcherFd() {
  GroupWatcher& w = groupWatcher();
  std::lock_guard<std::mutex> g(w.mu);
  return ensureWatcherLocked(w);
}

// Sends one message, starting the watcher first when this process has
// none; false when there is no watcher to be had.
bool tellWatcher(char what, pid_t group) {
  GroupWatcher& w = groupWatcher();
  std::lock_guard<std::mutex> g(w.mu);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (ensureWatcherLocked(w) < 0) return false;
    WatchMessage m{what, static_cast<int32_t>(group)};
    if (::send(w.fd, &m, sizeof(m), MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof(m))) return true;
    ::close(w.fd);  // the watcher died: start another
    w.fd = -1;
  }
  return false;
}

// The command started straight from the runner (vfork): its own session
// and group, which it puts under the watcher itself before anything of it
// runs, and it dies with the runner's thread (parent-death signal).
[[noreturn]] void runDirect(const ZrChildSetup& c, int reportFd, pid_t parent, int watchFd) {
  ::setsid();
  if (watchFd >= 0) {
    WatchMessage m{'W', static_cast<int32_t>(::getpid())};
    ssize_t ignored = ::send(watchFd, &m, sizeof(m), MSG_NOSIGNAL);
    (void)ignored;
  }
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(127);
  defaultSignals();
  execCommand(c, reportFd);
}

}  // namespace

ZrProcess::~ZrProcess() {
  if (m_pid > 0) killGroupAndReap();
  closePipes();
}

void ZrProcess::closePipes() {
  closeFd(m_outFd);
  closeFd(m_errFd);
  closeFd(m_statusFd);
  closeFd(m_lifeFd);
  closeFd(m_pidFd);
}

bool ZrProcess::StartProcess(char** argv, std::string* error, int /*flags*/) {
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
  };
  if (m_pid > 0) return fail("a process is already running");
  if (argv == nullptr || argv[0] == nullptr) return fail("no program given");
  m_out.clear();
  m_err.clear();
  m_overflow = false;
  m_ended = false;

  int devNull = moveAbove2(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (devNull < 0) return fail(CNqError::FromErrno(errno, "open /dev/null").AsString());
  int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1}, status[2] = {-1, -1}, life[2] = {-1, -1};
  auto cleanup = [&]() {
    for (int* fd : {&devNull, &outPipe[0], &outPipe[1], &errPipe[0], &errPipe[1], &status[0],
                    &status[1], &life[0], &life[1]})
      closeFd(*fd);
  };
  auto makePipe = [&](int p[2]) {
    if (::pipe2(p, O_CLOEXEC) != 0) return false;
    p[0] = moveAbove2(p[0]);
    p[1] = moveAbove2(p[1]);
    return p[0] >= 0 && p[1] >= 0;
  };
  if ((m_trapOut && !makePipe(outPipe)) || (m_trapErr && !makePipe(errPipe)) || !makePipe(status) ||
      !makePipe(life)) {
    std::string why = CNqError::FromErrno(errno, "pipe").AsString();
    cleanup();
    return fail(why);
  }
  long maxFd = ::sysconf(_SC_OPEN_MAX);
  if (maxFd <= 0 || maxFd > 65536) maxFd = 65536;
  ZrChildSetup setup;
  setup.argv = argv;
  setup.devNull = devNull;
  // Where the command's stdout and stderr go: the pipe when trapped,
  // /dev/null when silent, otherwise our own stream (-1: as inherited).
  setup.outFd = m_trapOut ? outPipe[1] : (m_silence ? devNull : -1);
  setup.errFd = m_trapErr ? errPipe[1] : (m_silence ? devNull : -1);
  setup.statusFd = status[1];
  setup.lifeFd = life[0];
  setup.maxFd = maxFd;

  m_direct = sigchldIsDefault();
  if (m_direct) {
    closeFd(status[0]);
    closeFd(status[1]);
    closeFd(life[0]);
    closeFd(life[1]);
    return startDirect(setup, outPipe, errPipe, devNull, error);
  }

  pid_t pid = ::fork();
  if (pid < 0) {
    std::string why = CNqError::FromErrno(errno, "fork").AsString();
    cleanup();
    return fail(why);
  }
  if (pid == 0) runSupervisor(setup);

  m_pid = pid;
  closeFd(status[1]);
  closeFd(life[0]);
  closeFd(outPipe[1]);
  closeFd(errPipe[1]);
  closeFd(devNull);
  m_outFd = outPipe[0];
  m_errFd = errPipe[0];
  // A larger pipe means fewer wake-ups for a command that prints a lot.
  if (m_outFd >= 0) ::fcntl(m_outFd, F_SETPIPE_SZ, 1 << 20);
  m_statusFd = status[0];
  m_lifeFd = life[1];

  Message m{0, 0};
  ssize_t n;
  do {
    n = ::read(m_statusFd, &m, sizeof(m));
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof(m)) && m.type == kMsgStarted) return true;
  // The command never ran: the supervisor has exited (or must go).
  const int childErrno = n == static_cast<ssize_t>(sizeof(m)) ? m.value : ECHILD;
  ::kill(pid, SIGKILL);
  reapSupervisor();
  closePipes();
  return fail(CNqError::FromErrno(childErrno, std::string("exec ") + argv[0]).AsString());
}

bool ZrProcess::startDirect(const ZrChildSetup& setup, int outPipe[2], int errPipe[2], int& devNull,
                            std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
  };
  int report[2] = {-1, -1};
  if (::pipe2(report, O_CLOEXEC) != 0) {
    std::string why = CNqError::FromErrno(errno, "pipe").AsString();
    for (int* fd : {&devNull, &outPipe[0], &outPipe[1], &errPipe[0], &errPipe[1]}) closeFd(*fd);
    return fail(why);
  }
  const pid_t self = ::getpid();
  const int watchFd = watcherFd();
  // vfork: the child makes system calls only, then execs; the runner waits
  // for that, and no copy of the address space is made.
  pid_t pid = ::vfork();
  if (pid == 0) runDirect(setup, report[1], self, watchFd);
  const int forkErrno = errno;
  closeFd(report[1]);
  closeFd(outPipe[1]);
  closeFd(errPipe[1]);
  closeFd(devNull);
  if (pid < 0) {
    closeFd(report[0]);
    closeFd(outPipe[0]);
    closeFd(errPipe[0]);
    return fail(CNqError::FromErrno(forkErrno, "fork").AsString());
  }
  int childErrno = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &childErrno, sizeof(childErrno));
  } while (n < 0 && errno == EINTR);
  closeFd(report[0]);
  m_outFd = outPipe[0];
  m_errFd = errPipe[0];
  if (n == static_cast<ssize_t>(sizeof(childErrno))) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    closePipes();
    return fail(CNqError::FromErrno(childErrno, std::string("exec ") + setup.argv[0]).AsString());
  }
  m_pid = pid;
  if (m_outFd >= 0) ::fcntl(m_outFd, F_SETPIPE_SZ, 1 << 20);
  // The child put its group under the watcher before it ran anything.
  m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  return true;
}

// Direct path: collects the command's status when it has ended.
bool ZrProcess::reapDirect(bool block) {
  if (m_ended || m_pid <= 0) return m_ended;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == m_pid) {
    m_waitStatus = status;
    m_ended = true;
    closeFd(m_pidFd);
    tellWatcher('D', m_pid);
  } else if (r < 0) {
    m_supervisorGone = true;  // someone else reaped it: its status is lost
    closeFd(m_pidFd);
    tellWatcher('D', m_pid);
  }
  return m_ended;
}

void ZrProcess::reapSupervisor() {
  if (m_pid <= 0) return;
  if (m_direct) {
    if (!m_ended && !m_supervisorGone) reapDirect(true);
    m_pid = -1;
    return;
  }
  int status = 0;
  // ECHILD: the host ignores SIGCHLD or reaped it itself; nothing to do.
  while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
  }
  m_pid = -1;
}

bool ZrProcess::readStatus() {
  Message m{0, 0};
  ssize_t n = ::read(m_statusFd, &m, sizeof(m));
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return false;
  if (n == static_cast<ssize_t>(sizeof(m)) && m.type == kMsgExited) {
    m_waitStatus = m.value;
    m_ended = true;
  } else if (n <= 0) {
    m_supervisorGone = true;  // killed before it could report
  }
  closeFd(m_statusFd);
  return true;
}

bool ZrProcess::pumpOnce(int waitMillis) {
  struct pollfd fds[3];
  int* owners[3];
  ZrCapture* sinks[3];
  nfds_t n = 0;
  if (m_outFd >= 0) {
    fds[n] = {m_outFd, POLLIN, 0};
    owners[n] = &m_outFd;
    sinks[n++] = &m_out;
  }
  if (m_errFd >= 0) {
    fds[n] = {m_errFd, POLLIN, 0};
    owners[n] = &m_errFd;
    sinks[n++] = &m_err;
  }
  if (m_statusFd >= 0) {
    fds[n] = {m_statusFd, POLLIN, 0};
    owners[n] = &m_statusFd;
    sinks[n++] = nullptr;
  }
  const bool watchDirect = m_direct && !m_ended && !m_supervisorGone && m_pid > 0;
  if (watchDirect && m_pidFd >= 0) {
    fds[n] = {m_pidFd, POLLIN, 0};
    owners[n] = &m_pidFd;
    sinks[n++] = nullptr;
  } else if (watchDirect && waitMillis < 0) {
    waitMillis = kSupervisorPollMillis;  // no pidfd: look at the command now and then
  }
  if (n == 0) {
    if (waitMillis > 0) ::poll(nullptr, 0, waitMillis);
    return false;
  }
  int r = ::poll(fds, n, waitMillis);
  if (r <= 0) return false;
  bool activity = false;
  for (nfds_t i = 0; i < n; ++i) {
    if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    activity = true;
    if (sinks[i] == nullptr) {
      if (owners[i] == &m_pidFd) {
        reapDirect(false);
      } else {
        readStatus();
      }
      continue;
    }
    size_t room = 0;
    char* into = sinks[i]->space(&room);
    if (into == nullptr) {
      m_overflow = true;  // no memory for more output: stopped like an overlong one
      continue;
    }
    ssize_t got = ::read(fds[i].fd, into, room);
    if (got > 0) sinks[i]->commit(static_cast<size_t>(got));
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
      closeFd(*owners[i]);  // end of stream
    } else if (m_limit > 0 && m_out.size() + m_err.size() > m_limit) {
      m_overflow = true;
    }
  }
  return activity;
}

void ZrProcess::drainAfterExit() {
  const long cap = nowMillis() + kDrainCapMillis;
  while ((m_outFd >= 0 || m_errFd >= 0) && nowMillis() < cap && !m_overflow) {
    if (!pumpOnce(kDrainIdleMillis)) break;  // idle: whatever holds the pipe is not the command
  }
  closeFd(m_outFd);
  closeFd(m_errFd);
}

void ZrProcess::killGroupAndReap() {
  if (m_pid <= 0) return;
  ::kill(-m_pid, SIGTERM);
  const long graceEnd = nowMillis() + kTermGraceMillis;
  while (!m_ended && !m_supervisorGone && (m_statusFd >= 0 || m_direct) && nowMillis() < graceEnd) {
    pumpOnce(10);
    if (m_direct) reapDirect(false);
    if (m_overflow) {
      // Keep memory bounded while the group goes: drop what arrives now.
      m_out.truncate(m_limit);
      m_err.truncate(m_limit);
    }
  }
  // The supervisor leads the group; it stays a zombie until reaped below,
  // which keeps the group id reserved while we signal it.
  ::kill(-m_pid, SIGKILL);
  reapSupervisor();
  closePipes();
}

bool ZrProcess::WaitForProcessToEnd(int* exitCode, std::string* error, int timeoutSeconds) {
  return WaitForProcessToEndMillis(
      exitCode, error, timeoutSeconds > 0 ? static_cast<long>(timeoutSeconds) * 1000 : 0);
}

bool ZrProcess::WaitForProcessToEndMillis(int* exitCode, std::string* error, long timeoutMillis) {
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
  };
  if (m_pid <= 0) return fail("no process is running");
  const bool limited = timeoutMillis > 0;
  const long deadline = nowMillis() + timeoutMillis;
  // Blocks in poll on the streams and the supervisor's status: the end of
  // the command wakes the wait at once, with no sleep in between.
  while (!m_ended && !m_supervisorGone) {
    if (m_overflow) {
      killGroupAndReap();
      return fail("output limit exceeded: more than " + std::to_string(m_limit) + " bytes");
    }
    long left = deadline - nowMillis();
    if (limited && left <= 0) {
      killGroupAndReap();
      return fail("timedout");
    }
    int wait = !limited ? -1 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
    pumpOnce(wait);
    if (m_direct && m_pidFd < 0) reapDirect(false);
  }
  if (m_supervisorGone && !m_ended) {
    // Killed from outside before it could report: make sure nothing of the
    // group is left behind.
    ::kill(-m_pid, SIGKILL);
    reapSupervisor();
    closePipes();
    return fail("the command's supervisor ended without reporting its status");
  }
  drainAfterExit();
  if (m_overflow) {
    killGroupAndReap();
    return fail("output limit exceeded: more than " + std::to_string(m_limit) + " bytes");
  }
  reapSupervisor();
  closePipes();
  const int status = m_waitStatus;
  if (WIFEXITED(status)) {
    if (exitCode != nullptr) *exitCode = WEXITSTATUS(status);
    return true;
  }
  int sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  if (exitCode != nullptr) *exitCode = 128 + sig;
  return fail("terminated by signal " + std::to_string(sig));
}

long ZrProcess::system(const char* command, std::string* output, std::string* error, int flags,
                       bool /*wait*/) {
  if (error != nullptr) error->clear();
  if (command == nullptr) {
    if (error != nullptr) *error = "no command given";
    return -1;
  }
  std::string sh = "/bin/sh", dashC = "-c", cmd = command;
  char* argv[] = {&sh[0], &dashC[0], &cmd[0], nullptr};
  ZrProcess p;
  p.TrapIO(true, true);
  p.SetSilence(true);
  std::string why;
  if (!p.StartProcess(argv, &why, flags)) {
    if (error != nullptr) *error = why;
    return -1;
  }
  int code = -1;
  bool ended = p.WaitForProcessToEnd(&code, &why, 0);
  std::string err;
  p.TakeIO(output, &err);
  if (!ended) {
    if (error != nullptr) *error = why;
    return -1;
  }
  if (error != nullptr) *error = err;
  return code;
}
