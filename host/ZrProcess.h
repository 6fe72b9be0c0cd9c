#pragma once
// The host's process runner. One object runs one child: StartProcess forks
// and execs the argument vector, WaitForProcessToEnd collects both output
// streams while it waits and enforces the time-out, GetIO hands the streams
// out.
//
// Child discipline: the child runs in its own process group, reads standard
// input from /dev/null, and inherits no descriptor other than 0, 1 and 2. On
// time-out the whole group gets SIGTERM, then SIGKILL after a short grace,
// and the child is reaped, so nothing a command started outlives it. A child
// ended by a signal is reported as a failure.
//
// The runner installs no signal handlers and polls against the real
// monotonic clock (it waits for real processes). Not thread-safe per object;
// separate objects may run in parallel on separate threads.
#include <sys/types.h>

#include <string>

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
    if (out != nullptr) *out = m_out;
    if (err != nullptr) *err = m_err;
  }

  // argv[0] is the program path (not searched in PATH), argv ends with null.
  // The vector is only read before this returns. false with *error set when
  // the child could not be started.
  bool StartProcess(char** argv, std::string* error, int flags);
  // Waits for the child; timeoutSeconds <= 0 waits without limit.
  // true: the child exited and *exitCode holds its status.
  // false: *error is exactly "timedout" when the time-out passed (the group
  // has been killed and reaped); "terminated by signal N" when a signal ended
  // the child (*exitCode is then 128 + N); another text when the end could
  // not be observed.
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
  void closePipes();
  // Reads what the pipes offer within waitMillis; true when data or an end
  // of stream arrived.
  bool pumpOnce(int waitMillis);
  void drainAfterExit();

  bool m_silence = false;
  bool m_trapOut = false;
  bool m_trapErr = false;
  std::string m_out;
  std::string m_err;
  pid_t m_pid = -1;
  int m_outFd = -1;
  int m_errFd = -1;
};
