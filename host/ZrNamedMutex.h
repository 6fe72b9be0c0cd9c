#pragma once
// The host's machine-wide named mutex: an exclusive flock on one file per
// name in ZrPaths::lockDir(). The process keeps each lock file open between
// uses (a free lock then costs one status check and one flock); objects of
// the same name exclude each other whether they live in one thread, two
// threads or two processes. The lock goes away with the holder: unlock,
// destruction, or process death (its descriptors close) releases it. The
// descriptors are close-on-exec, so child processes never hold them, and a
// forked child opens its own. A lock file removed while cached is opened
// anew.
//
// The lock directory is private: created 0700 when missing, and refused
// (every lock then fails) when it is not a directory of this process's user
// or group or others may write it. Lock files are created 0600 and opened
// without following links or blocking; anything but a regular file is
// refused.
//
// Thread-safety: one object is used by one thread at a time.
#include <cstdint>
#include <string>

class ZrNamedMutex;
struct ZrLockQueue;

// Watches the named mutexes of this process: told of every acquisition
// (after it) and every release (before it), on the thread that makes it.
// None by default; host/testing/ZrLockObserverSwap.h installs one (the
// stress program times the locks through it). Implementations are
// thread-safe and must not take a named mutex themselves.
class ZrLockObserver {
 public:
  virtual ~ZrLockObserver();
  virtual void acquired(const ZrNamedMutex& mutex) = 0;
  virtual void released(const ZrNamedMutex& mutex) = 0;
};

class ZrNamedMutex {
 public:
  // Opens (creating when needed) the lock file of name. Failure is reported
  // by isValid() and every lock() then fails.
  explicit ZrNamedMutex(const char* name);
  ~ZrNamedMutex();
  ZrNamedMutex(const ZrNamedMutex&) = delete;
  ZrNamedMutex& operator=(const ZrNamedMutex&) = delete;

  bool isValid() const { return m_fd >= 0; }
  // Why the lock file could not be opened ("" when valid).
  const std::string& lastError() const { return m_error; }
  const std::string& name() const { return m_name; }
  // The lock file path of a name (names are made safe as file names).
  static std::string pathForName(const std::string& name);

  // Nonzero when acquired within milliseconds (0 means one try). With the
  // real clock the taker queues (host/ZrLockQueue.h): waiters get their
  // turns in arrival order, and one that just released waits behind them;
  // the head of the queue sleeps until a release wakes it. With another
  // clock (tests) it polls via ZrClock, so a fake clock makes a long wait
  // instant. Already held by this object: nonzero at once.
  int lock(unsigned long milliseconds);
  // Releases the lock when held; harmless otherwise.
  void unlock();
  bool isHeld() const { return m_held; }

 private:
  // One non-blocking try under the process's lock-file table.
  bool tryLock();
  // Marks the lock held and tells the observer; returns 1.
  int acquired();
  // Releases when held; destroying, also gives back the queue's count.
  void release(bool destroying);
  // 1 acquired, 0 not within millis, -1 the queue could not be entered.
  int lockQueued(ZrLockQueue* q, int64_t millis);

  std::string m_name;
  std::string m_path;
  std::string m_error;
  bool m_retried = false;  // a failed try: check the file again on the next
  int m_fd = -1;           // the process's descriptor of the lock file (not owned); -1 invalid
  bool m_held = false;
  ZrLockQueue* m_queue = nullptr;  // the name's queue (counted in its entry), null when none
};
