#pragma once
// ZRHDSLock: a machine-wide named lock held for the life of a scope. It
// wraps the host's named mutex with a bounded number of attempts of
// ZR_HDS_DEFAULT_LOCK_TIME_OUT seconds each and releases on every path
// (unlock or destruction). A lock object serves one name and one thread.
//
// Attempts: ZR_HDS_MAX_LOCK_RETRY_COUNT, replaced by a positive setting
// nZRHDSSnapLockRetryCount (section "Tessavon"), replaced in turn by a
// positive attempts argument. Progress lines are logged only when the job's
// snap setting SMCONFIG_NAME_ENABLE_COMMAND_LOGGING is on (read once per
// lock call: the release is logged as the acquisition was); a final failure
// is always logged (level 2).
#include <optional>
#include <string>

#include "host/CNqError.h"
#include "host/ZrNamedMutex.h"
#include "host/ZRSOSnapInfo.h"
#include "records/HDSConstants.h"  // ZR_HDS_MAX_LOCK_RETRY_COUNT, ZR_HDS_DEFAULT_LOCK_TIME_OUT

class ZRHDSLock {
 public:
  // Takes nothing.
  explicit ZRHDSLock(ZRSO::SnapInfo& device);
  // Tries to take name at once; read the outcome with isLocked().
  ZRHDSLock(ZRSO::SnapInfo& device, const std::string& name, int attempts);
  ~ZRHDSLock();
  ZRHDSLock(const ZRHDSLock&) = delete;
  ZRHDSLock& operator=(const ZRHDSLock&) = delete;

  // Back to "not acquired": a held mutex is released and freed first.
  void init();
  // true when acquired. A mutex object left from an earlier failed call is
  // replaced. Already holding name: true at once. Holding another name: that
  // one is released first, since an object holds one name at a time.
  bool lock(const std::string& name, int attempts);
  // One try of name, never waited for (a take that must not hold its job
  // up); otherwise as lock.
  bool tryLock(const std::string& name);
  // Releases the mutex when held and frees it; harmless when not held.
  void unlock();
  bool isLocked() const { return m_bLocked; }

 private:
  bool take(const std::string& name, int attempts, bool wait);
  bool commandLoggingOn();

  ZRSO::SnapInfo& m_device;
  // Made in place for each name (no allocation; the name is the mutex's).
  std::optional<ZrNamedMutex> m_mutex;
  CError m_oError;
  bool m_bLocked;
  bool m_bVerbose = false;  // command logging, as read by the last lock call
};
