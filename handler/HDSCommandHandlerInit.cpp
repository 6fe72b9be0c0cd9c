// Construction, initialisation and teardown of the handler.
#include <memory>
#include <mutex>
#include <utility>

#include "array/HDSRaidcomImplementer.h"
#include "handler/HDSCommandHandler.h"
#include "host/ZRSOSnapInfo.h"

namespace {

// Operation types that neither create the login count key nor read the
// resource group (create; 9 shares the key rule).
constexpr int kOperationCreate = 8;
constexpr int kOperationNoLoginKey = 9;
constexpr int kImplementerCci = 1;

std::mutex& defaultFactoryMutex() {
  static std::mutex m;
  return m;
}
ZRHDSImplementerFactory& defaultFactory() {
  static ZRHDSImplementerFactory f;
  return f;
}

}  // namespace

ZRHDSCommandHandler::ZRHDSCommandHandler(ZRHDSCommandHandlerInputParams& params) {
  bind(params);
  init(params);
}

ZRHDSCommandHandler::ZRHDSCommandHandler(ZRHDSCommandHandlerInputParams& params,
                                         std::unique_ptr<ZRHDSCommandImplementer> implementer)
    : m_pGivenImplementer(std::move(implementer)) {
  bind(params);
  m_fImplementerFactory = [this](ZRSO::SnapInfo*&, ZRHDSCommandHandlerInputParams&) {
    return std::move(m_pGivenImplementer);
  };
  init(params);
}

ZRHDSCommandHandler::ZRHDSCommandHandler(ZRHDSCommandHandlerInputParams& params,
                                         ZRHDSImplementerFactory factory)
    : m_fImplementerFactory(std::move(factory)) {
  bind(params);
  init(params);
}

void ZRHDSCommandHandler::setDefaultImplementerFactory(ZRHDSImplementerFactory factory) {
  std::lock_guard<std::mutex> g(defaultFactoryMutex());
  defaultFactory() = std::move(factory);
}

bool ZRHDSCommandHandler::init(ZRHDSCommandHandlerInputParams& params) {
  static const char* const kFn = "init";
  m_bIsInitialized = false;
  // Every step below works on the first record (logger, source LDEV).
  if (m_pSnaps->empty()) {
    return fail(1, "Failed to Initialize Command Handler. No device was given.");
  }

  // 1. The per-array login count key exists before the login reads it.
  if (m_nOperationType != kOperationCreate && m_nOperationType != kOperationNoLoginKey) {
    if (ZRHDSRaidcomImplementer::ensureLoginCountKey(m_pLogger, m_pSnapOptions->baseSerialNum) !=
        0) {
      logMessage(2, kFn, "Failed to set login count for array-[%s]",
                 m_pSnapOptions->baseSerialNum.c_str());
      return fail(ZR_HDS_ERR_LOGIN, "Failed to login to the array.");
    }
  }

  // 2. The implementation; building it runs its whole initialisation.
  if (!m_pImplementer) {
    if (m_fImplementerFactory) {
      m_pImplementer = m_fImplementerFactory(m_pLogger, params);
    } else if (m_nImplementerType == kImplementerCci) {
      ZRHDSImplementerFactory replacement;
      {
        std::lock_guard<std::mutex> g(defaultFactoryMutex());
        replacement = defaultFactory();
      }
      if (replacement) {
        m_pImplementer = replacement(m_pLogger, params);
      } else {
        m_pImplementer.reset(new ZRHDSRaidcomImplementer(m_pLogger, params));
      }
    }
  }
  // 3.
  if (!m_pImplementer) {
    return fail(1, "Failed to Initialize Command Implementer. Memory Allocation Failed");
  }
  // 4.
  bool ready = false;
  m_pImplementer->getIsInitializedStatus(ready);
  if (!ready) return copyImplementerErrorOr(1, "Failed to Initialize Command Implementer.");
  // 5.
  if (!m_bIsLoggedIn) {
    if (m_pImplementer->login(false) != 0) {
      return copyImplementerErrorOr(1, "Failed to perform Login operation.");
    }
    m_bIsLoggedIn = true;
  }
  // 6. On a virtual storage machine: the source LDEV's resource group.
  if (m_nOperationType != kOperationCreate && m_pImplementer->getResourceGroupFromLdev() != 0) {
    return copyImplementerErrorOr(1, "Failed to get resource group information.");
  }
  // What jobs that ended left on this array, before this job's own work;
  // not in the snap, which runs while the application is held quiet.
  if (m_nOperationType != kOperationCreate) recoverDeadJobs();
  // 7.
  logMessage(1, kFn, "Command Handler is initialized successfully for local execution.");
  m_bIsInitialized = true;
  return true;
}

ZRHDSCommandHandler::~ZRHDSCommandHandler() {
  static const char* const kFn = "~ZRHDSCommandHandler";
  settleIntents();
  // Whatever the array answered, this handler's holding ends with it.
  if (m_bIsResourceLocked && !unlockResource(m_bResourceLockAllGroups)) dropResourceLockHolding();
  if (m_bIsLoggedIn && m_pImplementer && m_pImplementer->logout() != 0) {
    logMessage(2, kFn, "Failed to logout using the username-[%s] during de-init.",
               m_pSnapOptions->userName.c_str());
  }
  closeIntents();
  // Its destructor writes null into m_pLogger and the caller's OS utility.
  m_pImplementer.reset();
  m_pGivenImplementer.reset();
  m_bIsLoggedIn = false;
  m_bIsInitialized = false;
  m_pLogger = nullptr;
  m_pOSUtil = nullptr;
}
