#pragma once
// The host's process runner. One object runs one child: StartProcess forks
// and execs the argument vector, WaitForProcessToEnd collects both output
// streams while it waits and enforces the time-out, GetIO hands the streams
// out.
//
// Child discipline: the command runs in a session and process group of its
// own without a controlling terminal (a tool that prompts fails at once,
// and the job's end never hangs up or continues a command held stopped, as
// it would a group left orphaned in the job's session), reads standard
// input from /dev/null, inherits no descriptor other than 0, 1 and 2, and
// starts with default signal dispositions and an empty mask. Its root (the
// command itself, or the supervisor below) is a child subreaper, so that
// whatever its tree leaves orphaned stays below it, also a process that
// started a session of its own.
//
// Two paths (host/ZrProcessInternal.h lists the files):
//  - direct, when the host leaves SIGCHLD alone: the command is the
//    runner's child (vfork, no copy of the address space) and registers in
//    the process's group watcher before its exec; it stops when the
//    runner's thread dies (parent-death signal), and the watcher then ends
//    its whole tree.
//  - supervised, when the host ignores or handles SIGCHLD: a small
//    supervisor between runner and command reaps the command and reports
//    its exit status through a pipe, so exit codes stay right whatever the
//    host does with its children; when the runner's process dies the
//    supervisor sees its pipe end and ends the command's whole tree.
// On time-out, or when the captured output passes the limit, the tree's
// processes outside the command's group are killed at once, the group gets
// SIGTERM, then SIGKILL after a short grace, and whatever is left of the
// tree is killed. A command ended by a signal is reported as a failure. A
// command that ends normally leaves alone what it started in the
// background (a daemon it launched).
//
// The runner installs no signal handlers and blocks in poll on the streams
// and the command's end against the real monotonic clock (it waits for real
// processes). Not thread-safe per object; separate objects may run in
// parallel on separate threads.
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/ZrCapture.h"

struct ZrChildSetup;

class ZrProcess {
 public:
  ZrProcess() = default;
  ~ZrProcess();  // a child still running is killed (group) and reaped
  ZrProcess(const ZrProcess&) = delete;
  ZrProcess& operator=(const ZrProcess&) = delete;

  void TrapIO(bool out, bool err) {
    m_trapOut = out;
    m_trapErr = err;
  }
  // Silence: a stream that is not trapped goes to /dev/null instead of the
  // parent's own stream.
  void SetSilence(bool silence) { m_silence = silence; }
  void GetIO(std::string* out, std::string* err) const {
    if (out != nullptr) *out = m_out.text();
    if (err != nullptr) *err = m_err.text();
  }
  // As GetIO, but hands the collected texts over without a copy (the
  // object's own copies are left empty).
  void TakeIO(std::string* out, std::string* err) {
    if (out != nullptr) *out = m_out.take();
    if (err != nullptr) *err = m_err.take();
    m_out.clear();
    m_err.clear();
  }
  // Caps the captured output (both streams together) at bytes; 0 (the
  // default) means no cap. Past it the command's tree is stopped and the
  // wait fails with "output limit exceeded: ...". May be set until the wait
  // begins. Either way a large output is read in place and never moved
  // while it grows: past its first megabyte a capture keeps room for the
  // limit, or without one for the memory window (ZrCapture), as address
  // space only.
  void SetOutputLimit(size_t bytes);

  // argv[0] is the program path (not searched in PATH), argv ends with null.
  // The vector is only read before this returns. false with *error set when
  // the child could not be started.
  bool StartProcess(char** argv, std::string* error, int flags);
  // Waits for the child; timeoutSeconds <= 0 waits without limit.
  // true: the child exited and *exitCode holds its status.
  // false: *error is exactly "timedout" when the time-out passed (the group
  // has been killed and reaped); "terminated by signal N" when a signal ended
  // the child (*exitCode is then 128 + N); "output limit exceeded: ..." when
  // the output passed the limit; another text when the end could not be
  // observed.
  bool WaitForProcessToEnd(int* exitCode, std::string* error, int timeoutSeconds);
  // The same with a time-out in milliseconds.
  bool WaitForProcessToEndMillis(int* exitCode, std::string* error, long timeoutMillis);

  pid_t GetPid() const { return m_pid; }

  // Runs "/bin/sh -c command" to its end, capturing both streams.
  // -1 on failure (start failed, signal death), otherwise the exit code.
  static long system(const char* command, std::string* output, std::string* error, int flags,
                     bool wait);

 private:
  struct Descriptors;
  bool startDirect(const ZrChildSetup& setup, Descriptors& fds, std::string* error);
  bool startSupervised(const ZrChildSetup& setup, Descriptors& fds, std::string* error);
  // Direct path: notes that the command has ended, leaving it a zombie (its
  // pid and group id stay reserved until reap()).
  void observeDirect();
  // Collects the command (direct) or the supervisor; the end's status is
  // kept in m_waitStatus.
  void reap();
  // Time-out, overflow and destruction: ends the command's tree as the
  // header says, then reaps.
  void endCommand();
  // Direct path: signals the tree below the command (outside its group
  // only, or all of it) while the command is held stopped.
  void endDirectTree(bool outsideGroupOnly);
  // Supervised path: asks the supervisor to end the tree and waits for its
  // report, pumping the streams.
  void endSupervised();
  void closePipes();
  // Reads what the pipes offer within waitMillis (-1: until something
  // comes); true when data, a status or an end of stream arrived.
  bool pumpOnce(int waitMillis);
  bool readStatus();
  void drainAfterExit();

  bool m_silence = false;
  bool m_trapOut = false;
  bool m_trapErr = false;
  ZrCapture m_out;
  ZrCapture m_err;
  size_t m_limit = 0;
  bool m_overflow = false;
  bool m_ended = false;           // the command has ended (reported, or seen)
  bool m_supervisorGone = false;  // its end cannot be known: no report, reaped by others
  bool m_reaped = false;          // m_pid collected; its ids may be reused
  int m_waitStatus = 0;
  pid_t m_pid = -1;  // the command (direct) or the supervisor; leader of the command's group
  int m_outFd = -1;
  int m_errFd = -1;
  int m_statusFd = -1;  // supervisor -> runner: started, exec failure, exit status
  int m_lifeFd = -1;    // held open for the supervisor; its end means we died
  bool m_direct = false;
  int m_pidFd = -1;  // direct path: readable when the command has ended
  std::atomic<int32_t>* m_watchSlot = nullptr;  // direct path: the command's watcher slot
};
