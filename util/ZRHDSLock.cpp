#include "util/ZRHDSLock.h"

#include "util/HDSCLIUtils.h"

#include "host/ZRPlatformInfo.h"

namespace {
const char kLockFn[] = "ZRHDSLock::lock";
const char kUnlockFn[] = "ZRHDSLock::unlock";
const unsigned long kAttemptMillis = ZR_HDS_DEFAULT_LOCK_TIME_OUT * 1000UL;
}  // namespace

ZRHDSLock::ZRHDSLock(ZRSO::SnapInfo& device)
    : m_device(device), m_bLocked(false) {}

ZRHDSLock::ZRHDSLock(ZRSO::SnapInfo& device, const std::string& name, int attempts)
    : m_device(device), m_bLocked(false) {
  lock(name, attempts);
}

ZRHDSLock::~ZRHDSLock() { unlock(); }

void ZRHDSLock::init() {
  // Forgetting a mutex object would keep its lock file open, and a held lock
  // held, until the process ends.
  unlock();
  m_bLocked = false;
}

bool ZRHDSLock::commandLoggingOn() {
  int on = 0;
  m_device.getSnapConfigInt(SMCONFIG_NAME_ENABLE_COMMAND_LOGGING, &on);
  return on != 0;
}

bool ZRHDSLock::lock(const std::string& name, int attempts) { return take(name, attempts, true); }

bool ZRHDSLock::tryLock(const std::string& name) { return take(name, 0, false); }

bool ZRHDSLock::take(const std::string& name, int attempts, bool wait) {
  if (m_bLocked) {
    if (name == m_mutex->name()) return true;
    unlock();
  }
  const bool verbose = commandLoggingOn();
  m_bVerbose = verbose;
  m_mutex.reset();  // left by an earlier failed attempt
  ZrNamedMutex& mutex = m_mutex.emplace(name.c_str());
  if (!mutex.isValid()) {
    m_device.log(2, kLockFn, "Failed to create mutex [%s].", name.c_str());
    m_mutex.reset();
    return false;
  }
  auto acquired = [&]() {
    if (verbose) m_device.log(0, kLockFn, "Acquired mutex [%s].", name.c_str());
    m_bLocked = true;
    return true;
  };
  // A free lock is taken at once, without reading the settings.
  if (mutex.lock(0) != 0) return acquired();
  if (!wait) {
    if (verbose) m_device.log(0, kLockFn, "Mutex [%s] is held elsewhere.", name.c_str());
    return false;
  }

  int limit = ZR_HDS_MAX_LOCK_RETRY_COUNT;
  int configured = 0;
  ZRPlatformInfo settings;
  // Only a positive setting replaces the default: zero or a negative value
  // would otherwise mean "never try".
  if (settings.getRegInt("Tessavon", "nZRHDSSnapLockRetryCount", &configured) && configured > 0)
    limit = ZRHDSCLIUtils::boundedSetting("nZRHDSSnapLockRetryCount", configured);
  if (attempts > 0) limit = attempts;
  for (int attempt = 1; attempt <= limit; ++attempt) {
    if (mutex.lock(kAttemptMillis) != 0) return acquired();
    if (verbose)
      m_device.log(0, kLockFn, "Mutex [%s] could not be acquired, shall retry after [%d] seconds.",
                   name.c_str(), ZR_HDS_DEFAULT_LOCK_TIME_OUT);
  }
  m_device.log(2, kLockFn, "Mutex [%s] could not be acquired even after [%d] attempts.",
               name.c_str(), limit);
  return false;
}

void ZRHDSLock::unlock() {
  if (m_mutex) {
    if (m_bLocked) {
      m_mutex->unlock();
      if (m_bVerbose) m_device.log(0, kUnlockFn, "Released mutex [%s].", m_mutex->name().c_str());
    }
    m_mutex.reset();
  }
  m_bLocked = false;
}
