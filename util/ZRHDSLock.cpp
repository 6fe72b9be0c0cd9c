#include "util/ZRHDSLock.h"

#include "util/HDSCLIUtils.h"

#include "host/ZRPlatformInfo.h"
#include "host/ZrNamedMutex.h"

namespace {
const char kLockFn[] = "ZRHDSLock::lock";
const char kUnlockFn[] = "ZRHDSLock::unlock";
const unsigned long kAttemptMillis = ZR_HDS_DEFAULT_LOCK_TIME_OUT * 1000UL;
}  // namespace

ZRHDSLock::ZRHDSLock(ZRSO::SnapInfo& device)
    : m_device(device), m_pMutex(nullptr), m_bLocked(false) {}

ZRHDSLock::ZRHDSLock(ZRSO::SnapInfo& device, const std::string& name, int attempts)
    : m_device(device), m_pMutex(nullptr), m_bLocked(false) {
  lock(name, attempts);
}

ZRHDSLock::~ZRHDSLock() { unlock(); }

void ZRHDSLock::init() {
  // Forgetting a mutex object would keep its lock file open, and a held lock
  // held, until the process ends.
  unlock();
  m_bLocked = false;
  m_pMutex = nullptr;
}

bool ZRHDSLock::commandLoggingOn() {
  int on = 0;
  m_device.getSnapConfigInt(SMCONFIG_NAME_ENABLE_COMMAND_LOGGING, &on);
  return on != 0;
}

bool ZRHDSLock::lock(const std::string& name, int attempts) {
  if (m_bLocked) {
    if (name == m_sName) return true;
    unlock();
  }
  const bool verbose = commandLoggingOn();
  delete m_pMutex;  // left by an earlier failed attempt
  m_pMutex = new ZrNamedMutex(name.c_str());
  if (!m_pMutex->isValid()) {
    m_device.log(2, kLockFn, "Failed to create mutex [%s].", name.c_str());
    delete m_pMutex;
    m_pMutex = nullptr;
    return false;
  }
  auto acquired = [&]() {
    if (verbose) m_device.log(0, kLockFn, "Acquired mutex [%s].", name.c_str());
    m_sName = name;
    m_bLocked = true;
    return true;
  };
  // A free lock is taken at once, without reading the settings.
  if (m_pMutex->lock(0) != 0) return acquired();

  int limit = ZR_HDS_MAX_LOCK_RETRY_COUNT;
  int configured = 0;
  ZRPlatformInfo settings;
  // Only a positive setting replaces the default: zero or a negative value
  // would otherwise mean "never try".
  if (settings.getRegInt("Tessavon", "nZRHDSSnapLockRetryCount", &configured) && configured > 0)
    limit = ZRHDSCLIUtils::boundedSetting("nZRHDSSnapLockRetryCount", configured);
  if (attempts > 0) limit = attempts;
  for (int attempt = 1; attempt <= limit; ++attempt) {
    if (m_pMutex->lock(kAttemptMillis) != 0) return acquired();
    if (verbose)
      m_device.log(0, kLockFn, "Mutex [%s] could not be acquired, shall retry after [%d] seconds.",
                   name.c_str(), ZR_HDS_DEFAULT_LOCK_TIME_OUT);
  }
  m_device.log(2, kLockFn, "Mutex [%s] could not be acquired even after [%d] attempts.",
               name.c_str(), limit);
  return false;
}

void ZRHDSLock::unlock() {
  if (m_pMutex != nullptr) {
    if (m_bLocked) {
      const bool verbose = commandLoggingOn();
      m_pMutex->unlock();
      if (verbose) m_device.log(0, kUnlockFn, "Released mutex [%s].", m_sName.c_str());
    }
    delete m_pMutex;
    m_pMutex = nullptr;
  }
  m_bLocked = false;
}
