#pragma once
// The host's machine-wide named mutex: an exclusive flock on one file per
// name in ZrPaths::lockDir(). Each object opens its own file description, so
// two objects of the same name exclude each other whether they live in one
// thread, two threads or two processes. The lock goes away with the holder:
// closing the descriptor (unlock, destruction, or process death) releases it.
// The descriptor is close-on-exec, so child processes never hold it.
//
// The lock directory is private: created 0700 when missing, and refused
// (every lock then fails) when it is not a directory of this process's user
// or group or others may write it. Lock files are created 0600 and opened
// without following links or blocking; anything but a regular file is
// refused.
//
// Thread-safety: one object is used by one thread at a time.
#include <string>

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

  // Nonzero when acquired within milliseconds (0 means one try). Polls via
  // ZrClock, so a fake clock makes a long wait instant. Already held by this
  // object: nonzero at once.
  int lock(unsigned long milliseconds);
  // Releases the lock when held; harmless otherwise.
  void unlock();
  bool isHeld() const { return m_held; }

 private:
  std::string m_name;
  std::string m_error;
  int m_fd = -1;
  bool m_held = false;
};
