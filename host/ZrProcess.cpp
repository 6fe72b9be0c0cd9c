// The process runner object: start, the wait with its time-out, the two
// streams, the end of a command's tree. The paths and the watcher live in
// the files host/ZrProcessInternal.h lists.
#include "host/ZrProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "host/CNqError.h"
#include "host/ZrProcessInternal.h"

namespace zrproc {

long nowMillis() {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count());
}

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

long maxDescriptors() {
  long maxFd = ::sysconf(_SC_OPEN_MAX);
  return maxFd <= 0 || maxFd > 65536 ? 65536 : maxFd;
}

// close_range over the gaps between the kept descriptors, a loop where the
// kernel has no close_range.
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

void defaultSignalsForExec() {
  // Only an ignored signal stays so across the exec; a handled one is reset
  // by the exec itself. Every signal is blocked from before the fork to
  // here, and nothing can signal a command that nobody has seen yet (the
  // watcher only stops or kills), so no handler of the host runs before it.
  struct sigaction old;
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof(dfl));
  dfl.sa_handler = SIG_DFL;
  for (int s = 1; s < NSIG; ++s) {
    if (s == SIGKILL || s == SIGSTOP) continue;
    if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
      ::sigaction(s, &dfl, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

void defaultAllSignals() {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof(dfl));
  dfl.sa_handler = SIG_DFL;
  for (int s = 1; s < NSIG; ++s) ::sigaction(s, &dfl, nullptr);  // invalid numbers just fail
}

void leadOwnSession() { ::setsid(); }

bool takeStandardStreams(const ZrChildSetup& c) {
  if (::dup2(c.devNull, 0) < 0 || (c.outFd >= 0 && ::dup2(c.outFd, 1) < 0) ||
      (c.errFd >= 0 && ::dup2(c.errFd, 2) < 0)) {
    return false;
  }
  closeAllBut(nullptr, 0, c.maxFd);
  return true;
}

void execCommand(const ZrChildSetup& c) {
  if (takeStandardStreams(c)) ::execv(c.argv[0], c.argv);
}

void (*g_directChildBeforeExec)() = nullptr;

}  // namespace zrproc

using zrproc::closeFd;
using zrproc::nowMillis;

namespace {

// After the command has ended, output is read until both streams end, no
// output arrives for kDrainIdleMillis, or kDrainCapMillis pass: a daemon
// started by the command may keep the pipes open for ever.
constexpr int kDrainIdleMillis = 50;
constexpr long kDrainCapMillis = 2000;
// The standard output pipe's size: fewer wake-ups for a command that prints
// a lot.
constexpr int kPipeBytes = 1 << 20;

bool fail(std::string* error, const std::string& why) {
  if (error != nullptr) *error = why;
  return false;
}

bool makePipe(int p[2]) {
  if (::pipe2(p, O_CLOEXEC) != 0) return false;
  p[0] = zrproc::moveAbove2(p[0]);
  p[1] = zrproc::moveAbove2(p[1]);
  return p[0] >= 0 && p[1] >= 0;
}

// True when this process neither ignores SIGCHLD nor handles it: the
// command's exit status then stays ours to collect with waitpid.
bool sigchldIsDefault() {
  struct sigaction sa;
  if (::sigaction(SIGCHLD, nullptr, &sa) != 0) return false;
  return sa.sa_handler == SIG_DFL && (sa.sa_flags & (SA_NOCLDWAIT | SA_SIGINFO)) == 0;
}

std::string overflowText(size_t limit) {
  return "output limit exceeded: more than " + std::to_string(limit) + " bytes";
}

}  // namespace

ZrProcess::~ZrProcess() {
  if (m_pid > 0) endCommand();
  closePipes();
}

void ZrProcess::SetOutputLimit(size_t bytes) {
  m_limit = bytes;
  m_out.expectAtMost(bytes);
  m_err.expectAtMost(bytes);
}

void ZrProcess::closePipes() {
  closeFd(m_outFd);
  closeFd(m_errFd);
  closeFd(m_statusFd);
  closeFd(m_lifeFd);
  closeFd(m_pidFd);
}

bool ZrProcess::StartProcess(char** argv, std::string* error, int /*flags*/) {
  if (m_pid > 0) return fail(error, "a process is already running");
  if (argv == nullptr || argv[0] == nullptr) return fail(error, "no program given");
  m_out.clear();
  m_err.clear();
  m_overflow = m_ended = m_supervisorGone = m_reaped = false;

  Descriptors fds;
  fds.devNull = zrproc::moveAbove2(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (fds.devNull < 0) return fail(error, CNqError::FromErrno(errno, "open /dev/null").AsString());
  if ((m_trapOut && !makePipe(fds.out)) || (m_trapErr && !makePipe(fds.err)))
    return fail(error, CNqError::FromErrno(errno, "pipe").AsString());
  if (fds.out[0] >= 0) ::fcntl(fds.out[0], F_SETPIPE_SZ, kPipeBytes);

  ZrChildSetup setup;
  setup.argv = argv;
  setup.devNull = fds.devNull;
  // Where the command's stdout and stderr go: the pipe when trapped,
  // /dev/null when silent, otherwise our own stream (-1: as inherited).
  setup.outFd = m_trapOut ? fds.out[1] : (m_silence ? fds.devNull : -1);
  setup.errFd = m_trapErr ? fds.err[1] : (m_silence ? fds.devNull : -1);
  setup.statusFd = -1;
  setup.lifeFd = -1;
  setup.maxFd = zrproc::maxDescriptors();

  m_direct = sigchldIsDefault();
  if (!(m_direct ? startDirect(setup, fds, error) : startSupervised(setup, fds, error)))
    return false;
  m_outFd = fds.out[0];
  m_errFd = fds.err[0];
  fds.out[0] = fds.err[0] = -1;
  return true;
}

void ZrProcess::reap() {
  if (m_pid <= 0) return;
  if (!m_reaped) {
    int status = 0;
    pid_t r;
    do {
      r = ::waitpid(m_pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    // ECHILD: the host ignores SIGCHLD or reaped it itself (supervisor), or
    // took the command's status (direct): then it is lost.
    if (m_direct && r == m_pid) {
      m_waitStatus = status;
      m_ended = true;
    } else if (m_direct) {
      m_supervisorGone = true;
    }
  }
  zrproc::releaseWatchSlot(m_watchSlot);
  m_watchSlot = nullptr;
  m_pid = -1;
  m_reaped = false;
}

bool ZrProcess::readStatus() {
  zrproc::StatusMessage m{0, 0};
  ssize_t n = ::read(m_statusFd, &m, sizeof(m));
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return false;
  if (n == static_cast<ssize_t>(sizeof(m)) && m.type == zrproc::kMsgExited) {
    m_waitStatus = m.value;
    m_ended = true;
  } else if (n <= 0) {
    m_supervisorGone = !m_ended;  // killed before it could report
  }
  closeFd(m_statusFd);
  return true;
}

bool ZrProcess::pumpOnce(int waitMillis) {
  struct pollfd fds[3];
  int* owners[3];
  ZrCapture* sinks[3];
  nfds_t n = 0;
  auto add = [&](int& fd, ZrCapture* sink) {
    fds[n] = {fd, POLLIN, 0};
    owners[n] = &fd;
    sinks[n++] = sink;
  };
  if (m_outFd >= 0) add(m_outFd, &m_out);
  if (m_errFd >= 0) add(m_errFd, &m_err);
  const bool watchDirect = m_direct && !m_ended && !m_supervisorGone && m_pid > 0;
  if (m_statusFd >= 0) {
    add(m_statusFd, nullptr);
  } else if (watchDirect && m_pidFd >= 0) {
    add(m_pidFd, nullptr);
  } else if (watchDirect && waitMillis < 0) {
    waitMillis = zrproc::kPollMillis;  // no pidfd: look at the command now and then
  }
  if (n == 0) {
    if (waitMillis > 0) ::poll(nullptr, 0, waitMillis);
    return false;
  }
  if (::poll(fds, n, waitMillis) <= 0) return false;
  bool activity = false;
  for (nfds_t i = 0; i < n; ++i) {
    if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    activity = true;
    if (sinks[i] == nullptr) {
      if (owners[i] == &m_pidFd)
        observeDirect();
      else
        readStatus();
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

void ZrProcess::endCommand() {
  if (m_pid <= 0) return;
  if (m_direct) {
    // What left the group would miss the group's signals: killed at once.
    endDirectTree(true);
    ::kill(-m_pid, SIGTERM);
    const long graceEnd = nowMillis() + zrproc::kTermGraceMillis;
    while (!m_ended && !m_supervisorGone && nowMillis() < graceEnd) {
      pumpOnce(zrproc::kPollMillis);
      if (m_pidFd < 0) observeDirect();
      if (m_overflow) {
        // Keep memory bounded while the group goes: drop what arrives now.
        m_out.truncate(m_limit);
        m_err.truncate(m_limit);
      }
    }
    endDirectTree(false);
  } else {
    endSupervised();
  }
  // The command (direct) or the supervisor leads the group and stays a
  // zombie until reaped below, which keeps the group id reserved while we
  // signal it.
  if (!m_reaped) ::kill(-m_pid, SIGKILL);
  reap();
  closePipes();
}

bool ZrProcess::WaitForProcessToEnd(int* exitCode, std::string* error, int timeoutSeconds) {
  return WaitForProcessToEndMillis(
      exitCode, error, timeoutSeconds > 0 ? static_cast<long>(timeoutSeconds) * 1000 : 0);
}

bool ZrProcess::WaitForProcessToEndMillis(int* exitCode, std::string* error, long timeoutMillis) {
  if (m_pid <= 0) return fail(error, "no process is running");
  const bool limited = timeoutMillis > 0;
  const long deadline = nowMillis() + timeoutMillis;
  // Blocks in poll on the streams and the command's end: the end wakes the
  // wait at once, with no sleep in between.
  while (!m_ended && !m_supervisorGone) {
    if (m_overflow) {
      endCommand();
      return fail(error, overflowText(m_limit));
    }
    long left = deadline - nowMillis();
    if (limited && left <= 0) {
      endCommand();
      return fail(error, "timedout");
    }
    pumpOnce(!limited ? -1 : (left > INT_MAX ? INT_MAX : static_cast<int>(left)));
    if (m_direct && m_pidFd < 0) observeDirect();
  }
  if (m_supervisorGone && !m_ended) {
    // Killed from outside before it could report: make sure nothing of the
    // group is left behind.
    if (!m_reaped) ::kill(-m_pid, SIGKILL);
    reap();
    closePipes();
    return fail(error, "the command's supervisor ended without reporting its status");
  }
  drainAfterExit();
  if (m_overflow) {
    endCommand();
    return fail(error, overflowText(m_limit));
  }
  reap();
  closePipes();
  if (m_supervisorGone) return fail(error, "the command's exit status was collected by another waiter");
  const int status = m_waitStatus;
  if (WIFEXITED(status)) {
    if (exitCode != nullptr) *exitCode = WEXITSTATUS(status);
    return true;
  }
  int sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  if (exitCode != nullptr) *exitCode = 128 + sig;
  return fail(error, "terminated by signal " + std::to_string(sig));
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
