// The supervised path (the host ignores or handles SIGCHLD): a supervisor,
// the runner's direct child, starts the command, reaps it and reports its
// exit status through a pipe, and ends the command's whole tree when the
// runner asks (time-out) or dies. See host/ZrProcessInternal.h.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "host/CNqError.h"
#include "host/ZrProcess.h"
#include "host/ZrProcessInternal.h"

using zrproc::closeFd;

namespace {

// What the runner writes on the life socket to ask for the end of the tree
// at a time-out; the socket's end (the runner died) asks for it at once.
constexpr char kEndRequest = 'T';
// How long the runner waits for the supervisor to end the tree and report.
constexpr long kSupervisorEndMillis = zrproc::kTermGraceMillis + 3000;

void sendMessage(int fd, int32_t type, int32_t value) {
  zrproc::StatusMessage m{type, value};
  ssize_t ignored = ::write(fd, &m, sizeof(m));
  (void)ignored;
}

// The command, forked by the supervisor: dies with it (parent-death
// signal), runs in the supervisor's session and group.
[[noreturn]] void runCommand(const ZrChildSetup& c, volatile int* childErrno, pid_t supervisor) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != supervisor) ::_exit(127);  // the supervisor is already gone
  zrproc::defaultSignalsForExec();
  zrproc::execCommand(c);
  *childErrno = errno != 0 ? errno : ECHILD;
  ::_exit(127);
}

// The end of the tree at a time-out: what left the group at once, the group
// TERM (the supervisor blocks it), a grace, then everything that is left.
void endTreeGracefully(pid_t self, pid_t command, int pidFd) {
  zrproc::TreeScratch* scratch = zrproc::mapTreeScratch();
  zrproc::signalDescendants(scratch, self, self, true, SIGKILL);
  ::kill(-self, SIGTERM);
  if (pidFd >= 0) {
    struct pollfd p = {pidFd, POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(zrproc::kTermGraceMillis));
  } else {
    const long end = zrproc::nowMillis() + zrproc::kTermGraceMillis;
    while (zrproc::nowMillis() < end && ::waitpid(command, nullptr, WNOHANG | WNOWAIT) == 0)
      ::poll(nullptr, 0, zrproc::kPollMillis);
  }
  zrproc::signalDescendants(scratch, self, self, false, SIGKILL);
  zrproc::unmapTreeScratch(scratch);
}

// Waits for the command's end, the runner's request or the runner's death;
// never returns.
[[noreturn]] void superviseCommand(const ZrChildSetup& c, pid_t self, pid_t command) {
  int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, command, 0));
  for (;;) {
    struct pollfd fds[2] = {{c.lifeFd, POLLIN, 0}, {pidFd, POLLIN, 0}};
    int r = ::poll(fds, pidFd >= 0 ? 2 : 1, pidFd >= 0 ? -1 : zrproc::kPollMillis);
    int status = 0;
    if (::waitpid(command, &status, WNOHANG) == command) {
      sendMessage(c.statusFd, zrproc::kMsgExited, status);
      ::_exit(0);
    }
    if (r > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      char request = 0;
      if (::recv(c.lifeFd, &request, 1, MSG_DONTWAIT) == 1 && request == kEndRequest) {
        endTreeGracefully(self, command, pidFd);
        while (::waitpid(command, &status, 0) < 0 && errno == EINTR) {
        }
        sendMessage(c.statusFd, zrproc::kMsgExited, status);
        ::_exit(0);
      }
      // The runner is gone: nothing of the job may go on changing the array.
      zrproc::signalDescendants(zrproc::mapTreeScratch(), self, self, false, SIGKILL);
      ::kill(-self, SIGKILL);
      ::_exit(1);
    }
    if (r < 0 && errno != EINTR) ::_exit(1);
  }
}

// The supervisor, the runner's direct child: a session and process group
// of its own with no controlling terminal (zrproc::leadOwnSession), and a
// child subreaper (what the command's tree leaves orphaned stays below it).
// It starts the command, reaps it itself (so its exit status reaches the
// runner even when the host ignores SIGCHLD or reaps children itself) and
// reports it on the status pipe.
[[noreturn]] void runSupervisor(const ZrChildSetup& c) {
  zrproc::leadOwnSession();
  zrproc::defaultAllSignals();
  // The group's TERM at a time-out is for the command; the supervisor stays
  // to end the tree.
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &term, nullptr);
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  const int keep[] = {c.devNull, c.outFd, c.errFd, c.statusFd, c.lifeFd};
  zrproc::closeAllBut(keep, 5, c.maxFd);
  const pid_t self = ::getpid();
  volatile int childErrno = 0;
  // vfork: the command only makes system calls before its exec, and the
  // supervisor waits for that anyway; no copy of the address space.
  pid_t command = ::vfork();
  if (command == 0) runCommand(c, &childErrno, self);
  if (command < 0) {
    sendMessage(c.statusFd, zrproc::kMsgExecFailed, errno);
    ::_exit(127);
  }
  if (c.outFd >= 0) ::close(c.outFd);
  if (c.errFd >= 0) ::close(c.errFd);
  if (childErrno != 0) {
    while (::waitpid(command, nullptr, 0) < 0 && errno == EINTR) {
    }
    sendMessage(c.statusFd, zrproc::kMsgExecFailed, childErrno);
    ::_exit(127);
  }
  sendMessage(c.statusFd, zrproc::kMsgStarted, static_cast<int32_t>(command));
  superviseCommand(c, self, command);
}

}  // namespace

bool ZrProcess::startSupervised(const ZrChildSetup& base, Descriptors& fds, std::string* error) {
  int status[2] = {-1, -1}, life[2] = {-1, -1};
  auto cleanup = [&]() {
    for (int* fd : {&status[0], &status[1], &life[0], &life[1]}) closeFd(*fd);
  };
  if (::pipe2(status, O_CLOEXEC) != 0 ||
      ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, life) != 0) {
    std::string why = CNqError::FromErrno(errno, "pipe").AsString();
    cleanup();
    if (error != nullptr) *error = why;
    return false;
  }
  for (int* fd : {&status[0], &status[1], &life[0], &life[1]}) *fd = zrproc::moveAbove2(*fd);
  ZrChildSetup setup = base;
  setup.statusFd = status[1];
  setup.lifeFd = life[0];
  pid_t pid = ::fork();
  if (pid < 0) {
    std::string why = CNqError::FromErrno(errno, "fork").AsString();
    cleanup();
    if (error != nullptr) *error = why;
    return false;
  }
  if (pid == 0) runSupervisor(setup);

  m_pid = pid;
  closeFd(status[1]);
  closeFd(life[0]);
  fds.closeChildEnds();
  m_statusFd = status[0];
  m_lifeFd = life[1];

  zrproc::StatusMessage m{0, 0};
  ssize_t n;
  do {
    n = ::read(m_statusFd, &m, sizeof(m));
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof(m)) && m.type == zrproc::kMsgStarted) return true;
  // The command never ran: the supervisor has exited (or must go).
  const int childErrno = n == static_cast<ssize_t>(sizeof(m)) ? m.value : ECHILD;
  ::kill(pid, SIGKILL);
  reap();
  closePipes();
  if (error != nullptr)
    *error = CNqError::FromErrno(childErrno, std::string("exec ") + base.argv[0]).AsString();
  return false;
}

void ZrProcess::endSupervised() {
  if (!m_ended && m_lifeFd >= 0) {
    ssize_t ignored = ::send(m_lifeFd, &kEndRequest, 1, MSG_NOSIGNAL);
    (void)ignored;
  }
  const long end = zrproc::nowMillis() + kSupervisorEndMillis;
  while (m_statusFd >= 0 && zrproc::nowMillis() < end) {
    pumpOnce(zrproc::kPollMillis);
    if (m_overflow) {
      // Keep memory bounded while the tree goes: drop what arrives now.
      m_out.truncate(m_limit);
      m_err.truncate(m_limit);
    }
  }
  // A supervisor still there kills the tree at once when its socket ends.
  closeFd(m_lifeFd);
}
