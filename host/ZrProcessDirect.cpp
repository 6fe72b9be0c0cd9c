// The direct path (the host leaves SIGCHLD alone): the command is the
// runner's own child, started with vfork, registered in the process's group
// watcher before its exec, watched through a pidfd and collected with
// waitpid. See host/ZrProcessInternal.h.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <pthread.h>

#include "host/CNqError.h"
#include "host/ZrProcess.h"
#include "host/ZrProcessInternal.h"

namespace {

// The child between vfork and exec: system calls only (it shares the
// runner's memory, and the runner's thread waits until it has exec'd or
// exited). A failure's errno goes into *childErrno, which the runner reads
// after vfork returns.
[[noreturn]] void runDirect(const ZrChildSetup& c, volatile int* childErrno, pid_t parent,
                            std::atomic<int32_t>* slot) {
  // First of all the runner's descriptors go, its end of the watcher's
  // socket among them: a child stopped before its exec (below) must not
  // keep the watcher from seeing the runner's process end.
  if (!zrproc::takeStandardStreams(c)) {
    *childErrno = errno != 0 ? errno : EBADF;
    ::_exit(127);
  }
  zrproc::leadOwnSession();
  zrproc::publishWatchSlot(slot, ::getpid());
  // Stopped, not killed, when the runner's thread dies: the stopped command
  // stays to adopt what its tree leaves, and the watcher ends all of it. A
  // killed one would hand its orphans to init. Without a watcher, killed.
  // (Its session of its own keeps the job's end from continuing it.)
  ::prctl(PR_SET_PDEATHSIG, slot != nullptr ? SIGSTOP : SIGKILL);
  if (::getppid() != parent) ::_exit(127);  // the runner is already gone
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  if (zrproc::g_directChildBeforeExec != nullptr) zrproc::g_directChildBeforeExec();
  zrproc::defaultSignalsForExec();
  ::execv(c.argv[0], c.argv);
  *childErrno = errno != 0 ? errno : ECHILD;
  ::_exit(127);
}

}  // namespace

bool ZrProcess::startDirect(const ZrChildSetup& setup, Descriptors& fds, std::string* error) {
  std::atomic<int32_t>* slot = zrproc::reserveWatchSlot();
  volatile int childErrno = 0;
  // No handler of the host may run in the child while it shares our memory.
  sigset_t all, saved;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &saved);
  const pid_t parent = ::getpid();
  pid_t pid = ::vfork();
  if (pid == 0) runDirect(setup, &childErrno, parent, slot);
  const int forkErrno = errno;
  ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  fds.closeChildEnds();
  if (pid < 0) {
    zrproc::releaseWatchSlot(slot);
    if (error != nullptr) *error = CNqError::FromErrno(forkErrno, "fork").AsString();
    return false;
  }
  if (childErrno != 0) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    zrproc::releaseWatchSlot(slot);
    if (error != nullptr)
      *error = CNqError::FromErrno(childErrno, std::string("exec ") + setup.argv[0]).AsString();
    return false;
  }
  m_pid = pid;
  m_watchSlot = slot;
  m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  return true;
}

void ZrProcess::observeDirect() {
  if (m_ended || m_supervisorGone || m_pid <= 0) return;
  siginfo_t info;
  info.si_pid = 0;
  int r;
  do {
    r = ::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT);
  } while (r < 0 && errno == EINTR);
  if (r == 0 && info.si_pid == m_pid) {
    m_ended = true;  // still a zombie: collected by reap()
    zrproc::closeFd(m_pidFd);
  } else if (r < 0) {
    m_supervisorGone = true;  // someone else reaped it: its status is lost
    m_reaped = true;
    zrproc::closeFd(m_pidFd);
  }
}

void ZrProcess::endDirectTree(bool outsideGroupOnly) {
  if (m_reaped || m_pid <= 0 || m_ended) return;  // an ended command adopts nothing more
  zrproc::TreeScratch* scratch = zrproc::mapTreeScratch();
  if (scratch == nullptr) return;
  // Held while its tree is walked, so that it stays to adopt whatever the
  // tree leaves orphaned.
  ::kill(m_pid, SIGSTOP);
  zrproc::signalDescendants(scratch, m_pid, m_pid, outsideGroupOnly, SIGKILL);
  if (outsideGroupOnly) ::kill(m_pid, SIGCONT);
  zrproc::unmapTreeScratch(scratch);
}
