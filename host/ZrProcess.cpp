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

namespace {

// How long the group gets to end after SIGTERM before SIGKILL.
constexpr long kTermGraceMillis = 500;
// After the child is reaped, output is read until both streams end, no
// output arrives for kDrainIdleMillis, or kDrainCapMillis pass: a daemon
// started by the command may keep the pipes open for ever.
constexpr int kDrainIdleMillis = 50;
constexpr long kDrainCapMillis = 2000;
// Back-off of the exit polling while no output arrives.
constexpr int kMaxPollStepMillis = 50;

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

// Child side, between fork and exec: async-signal-safe calls only, nothing
// allocated.
[[noreturn]] void runChild(char** argv, int devNull, int outFd, int errFd, int reportFd,
                           long maxFd) {
  ::setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof(dfl));
  dfl.sa_handler = SIG_DFL;
  for (int s = 1; s < NSIG; ++s) ::sigaction(s, &dfl, nullptr);  // invalid numbers just fail

  if (::dup2(devNull, 0) < 0 || (outFd >= 0 && ::dup2(outFd, 1) < 0) ||
      (errFd >= 0 && ::dup2(errFd, 2) < 0)) {
    int e = errno;
    ssize_t ignored = ::write(reportFd, &e, sizeof(e));
    (void)ignored;
    ::_exit(127);
  }
  // Close everything above 2 except the exec report pipe (close-on-exec).
#ifdef SYS_close_range
  bool closed = false;
  if (reportFd > 3)
    closed = ::syscall(SYS_close_range, 3u, static_cast<unsigned>(reportFd - 1), 0u) == 0;
  else if (reportFd < 3)
    closed = true;
  if (closed)
    closed = ::syscall(SYS_close_range, static_cast<unsigned>(reportFd + 1), ~0u, 0u) == 0;
  if (!closed)
#endif
  {
    for (long fd = 3; fd < maxFd; ++fd)
      if (fd != reportFd) ::close(static_cast<int>(fd));
  }
  ::execv(argv[0], argv);
  int e = errno;
  ssize_t ignored = ::write(reportFd, &e, sizeof(e));
  (void)ignored;
  ::_exit(127);
}

}  // namespace

ZrProcess::~ZrProcess() {
  if (m_pid > 0) killGroupAndReap();
  closePipes();
}

void ZrProcess::closePipes() {
  closeFd(m_outFd);
  closeFd(m_errFd);
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

  int devNull = moveAbove2(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (devNull < 0) return fail(CNqError::FromErrno(errno, "open /dev/null").AsString());
  int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1}, report[2] = {-1, -1};
  auto cleanup = [&]() {
    for (int* fd :
         {&devNull, &outPipe[0], &outPipe[1], &errPipe[0], &errPipe[1], &report[0], &report[1]})
      closeFd(*fd);
  };
  auto makePipe = [&](int p[2]) {
    if (::pipe2(p, O_CLOEXEC) != 0) return false;
    p[0] = moveAbove2(p[0]);
    p[1] = moveAbove2(p[1]);
    return p[0] >= 0 && p[1] >= 0;
  };
  if ((m_trapOut && !makePipe(outPipe)) || (m_trapErr && !makePipe(errPipe)) || !makePipe(report)) {
    std::string why = CNqError::FromErrno(errno, "pipe").AsString();
    cleanup();
    return fail(why);
  }
  // Where the child's stdout and stderr go: the pipe when trapped, /dev/null
  // when silent, otherwise our own stream (-1: leave as inherited).
  int childOut = m_trapOut ? outPipe[1] : (m_silence ? devNull : -1);
  int childErr = m_trapErr ? errPipe[1] : (m_silence ? devNull : -1);
  long maxFd = ::sysconf(_SC_OPEN_MAX);
  if (maxFd <= 0 || maxFd > INT_MAX) maxFd = 65536;

  pid_t pid = ::fork();
  if (pid < 0) {
    std::string why = CNqError::FromErrno(errno, "fork").AsString();
    cleanup();
    return fail(why);
  }
  if (pid == 0) runChild(argv, devNull, childOut, childErr, report[1], maxFd);

  // Parent. Set the group here as well, so a time-out right after the start
  // cannot miss it.
  ::setpgid(pid, pid);
  m_pid = pid;
  closeFd(report[1]);
  closeFd(outPipe[1]);
  closeFd(errPipe[1]);
  closeFd(devNull);
  m_outFd = outPipe[0];
  m_errFd = errPipe[0];

  int childErrno = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &childErrno, sizeof(childErrno));
  } while (n < 0 && errno == EINTR);
  closeFd(report[0]);
  if (n == static_cast<ssize_t>(sizeof(childErrno))) {
    // exec failed: the child has exited with 127; reap it.
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    closePipes();
    return fail(CNqError::FromErrno(childErrno, std::string("exec ") + argv[0]).AsString());
  }
  return true;
}

bool ZrProcess::pumpOnce(int waitMillis) {
  struct pollfd fds[2];
  int* owners[2];
  std::string* sinks[2];
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
  if (n == 0) {
    if (waitMillis > 0) ::poll(nullptr, 0, waitMillis);
    return false;
  }
  int r = ::poll(fds, n, waitMillis);
  if (r <= 0) return false;
  bool activity = false;
  char buf[65536];
  for (nfds_t i = 0; i < n; ++i) {
    if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    ssize_t got = ::read(fds[i].fd, buf, sizeof(buf));
    if (got > 0) {
      sinks[i]->append(buf, static_cast<size_t>(got));
      activity = true;
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      closeFd(*owners[i]);  // end of stream
      activity = true;
    }
  }
  return activity;
}

void ZrProcess::drainAfterExit() {
  const long cap = nowMillis() + kDrainCapMillis;
  while ((m_outFd >= 0 || m_errFd >= 0) && nowMillis() < cap) {
    if (!pumpOnce(kDrainIdleMillis)) break;  // idle: whatever holds the pipe is not the child
  }
  closePipes();
}

void ZrProcess::killGroupAndReap() {
  if (m_pid <= 0) return;
  ::kill(-m_pid, SIGTERM);
  ::kill(m_pid, SIGTERM);  // in case the child left its group
  const long graceEnd = nowMillis() + kTermGraceMillis;
  // The child stays a zombie until reaped below, which keeps its process
  // group id reserved while we signal the group.
  siginfo_t info;
  for (;;) {
    std::memset(&info, 0, sizeof(info));
    if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == m_pid)
      break;
    if (nowMillis() >= graceEnd) break;
    pumpOnce(10);
  }
  ::kill(-m_pid, SIGKILL);
  ::kill(m_pid, SIGKILL);
  int status = 0;
  while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
  }
  m_pid = -1;
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
  int step = 1;
  int status = 0;
  for (;;) {
    pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) break;
    if (r < 0 && errno != EINTR) {
      std::string why = CNqError::FromErrno(errno, "waitpid").AsString();
      // The child cannot be observed (someone else reaped it); make sure
      // nothing of its group is left behind.
      ::kill(-m_pid, SIGKILL);
      m_pid = -1;
      closePipes();
      return fail(why);
    }
    long left = deadline - nowMillis();
    if (limited && left <= 0) {
      killGroupAndReap();
      return fail("timedout");
    }
    int wait = step;
    if (limited && left < wait) wait = static_cast<int>(left);
    if (pumpOnce(wait)) {
      step = 1;
    } else if (step < kMaxPollStepMillis) {
      step *= 2;
    }
  }
  m_pid = -1;
  drainAfterExit();
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
  p.GetIO(output, &err);
  if (!ended) {
    if (error != nullptr) *error = why;
    return -1;
  }
  if (error != nullptr) *error = err;
  return code;
}
