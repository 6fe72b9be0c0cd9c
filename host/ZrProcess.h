#pragma once
// The host's process runner. One object runs one child: StartProcess forks
// and execs the argument vector, WaitForProcessToEnd collects both output
// streams while it waits and enforces the time-out, GetIO hands the streams
// out.
//
// Child discipline: the runner's direct child is a small supervisor in a
// session and process group of its own (no controlling terminal: a tool
// that prompts fails at once). It starts the command, which dies with the
// supervisor (parent-death signal), reaps it and reports its exit status
// through a pipe, so exit codes stay right when the host ignores SIGCHLD
// or reaps children itself. When the runner's process dies while the
// command runs, the supervisor sees its pipe from the runner end and kills
// the whole group at once: no tool of a dead job goes on running. The
// command reads standard input from /dev/null and inherits no descriptor
// other than 0, 1 and 2. On time-out, or when the captured output passes
// the limit, the whole group gets SIGTERM, then SIGKILL after a short
// grace. A command ended by a signal is reported as a failure. A command
// that ends normally leaves alone what it started in the background (a
// daemon it launched).
//
// The runner installs no signal handlers and blocks in poll on the streams
// and the supervisor's report against the real monotonic clock (it waits
// for real processes). Not thread-safe per object; separate objects may run
// in parallel on separate threads.
#include <sys/types.h>

#include <cstddef>
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
  // Caps the captured output (both streams together) at bytes; 0 means no
  // cap. Past it the command's group is stopped and the wait fails with
  // "output limit exceeded: ...".
  void SetOutputLimit(size_t bytes) { m_limit = bytes; }

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
  void killGroupAndReap();
  void reapSupervisor();
  bool startDirect(const struct ZrChildSetup& setup, int outPipe[2], int errPipe[2], int& devNull,
                   std::string* error);
  bool reapDirect(bool block);
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
  bool m_ended = false;           // the supervisor reported the command's end
  bool m_supervisorGone = false;  // its status pipe ended without a report
  int m_waitStatus = 0;
  pid_t m_pid = -1;  // the supervisor, leader of the command's group
  int m_outFd = -1;
  int m_errFd = -1;
  int m_statusFd = -1;  // supervisor -> runner: started, exec failure, exit status
  int m_lifeFd = -1;    // held open for the supervisor; its end means we died
  // Direct path (the host leaves SIGCHLD alone): the command is our child,
  // watched by the process's group watcher, and its end wakes the wait
  // through a pidfd.
  bool m_direct = false;
  int m_pidFd = -1;
};
