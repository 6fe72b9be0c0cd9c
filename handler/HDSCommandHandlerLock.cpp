// The array's resource-group lock, shared by every job of this machine.
//
// Holders are counted machine-wide (ZRHDSHolderCount, liveness-aware, with
// the scope each holder needs); every look at or change of the count and of
// the array's lock happens while the named mutex ZR_HDS_LOCK_RESOURCE_GROUP
// is held. The mutex is given back for each pause of the poll, so other jobs
// of the machine are not held up while a foreign lock is waited out.
#include <map>
#include <string>

#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"
#include "host/NqSleep.h"
#include "util/ZRHDSHolderCount.h"
#include "util/ZRHDSLock.h"

namespace {

constexpr int kScopeByName = ZRHDSHolderCount::kScopeByName;
constexpr int kScopeAllGroups = ZRHDSHolderCount::kScopeAllGroups;
constexpr int kErrorLockMutex = 7;
constexpr int kDefaultStatusPolls = 50;
constexpr unsigned long kPollPauseMillis = ZR_HDS_DEFAULT_LOCK_TIME_OUT * 1000ul;
constexpr const char kStatusLocked[] = "Locked";
constexpr const char kStatusUnlocked[] = "Unlocked";
const char kMutexFailure[] = "Failed to acquire resource group lock.";

int scopeOf(bool allGroups) { return allGroups ? kScopeAllGroups : kScopeByName; }

std::string holderName(const std::string& serial) {
  return std::string(ZR_HDS_LOCK_RESOURCE_GROUP) + "_" + serial;
}

}  // namespace

bool ZRHDSCommandHandler::lockResource(bool allGroups) {
  static const char* const kFn = "lockResource";
  // Held already, at least as wide as asked: nothing is counted.
  if (m_bIsResourceLocked && (!allGroups || m_bResourceLockAllGroups)) return true;
  if (m_pLogger == nullptr || !m_pImplementer) return fail(kErrorLockMutex, kMutexFailure);
  ZRHDSLock mutex(*m_pLogger, ZR_HDS_LOCK_RESOURCE_GROUP, 0);
  if (!mutex.isLocked()) {
    logMessage(2, kFn, "Failed to acquire resource group lock-[%s]", ZR_HDS_LOCK_RESOURCE_GROUP);
    return fail(kErrorLockMutex, kMutexFailure);
  }
  const std::string group = ZR_HDS_META_RESOURCE;
  const int scope = scopeOf(allGroups);
  ZRHDSHolderCount& holders = resourceLockHolders();
  if (m_bIsResourceLocked) return widenOwnResourceLock();

  // Shares the lock of the live holders (widening it first when they hold
  // less than this job needs); nothing is asked of the array otherwise.
  auto shareWithLiveHolders = [&](bool& shared) -> bool {
    shared = false;
    int count = 0;
    int widest = 0;
    if (holders.live(&count, &widest) != 0) {
      logMessage(2, kFn, "Failed to read the holders of the resource lock: %s",
                 holders.lastError().c_str());
      return fail(kErrorLockMutex, kMutexFailure);
    }
    if (count < 1) return true;
    if (scope > widest && m_pImplementer->lockUnlockResourceGroup(group, false, true) != 0) {
      logMessage(2, kFn, "Failed to lock the resource-[%s]", group.c_str());
      return copyImplementerError();
    }
    logMessage(1, kFn, "Array resource lock count-[%d]", count);
    shared = true;
    return addResourceLockHolder(scope > widest ? scope : widest, false);
  };

  bool shared = false;
  if (!shareWithLiveHolders(shared)) return false;
  if (shared) return true;

  HDSRaidqryInfo cciHost;
  if (m_pImplementer->getCCIRaidqryInfo(cciHost) != 0) {
    logMessage(2, kFn, "Failed to get raidqry information.");
    return copyImplementerError();
  }

  const int polls = readSetting("nZRHDSSnapArrayLockRetryCount", kDefaultStatusPolls);
  std::map<std::string, ResourceGroupInfo> groups;
  bool unlocked = false;
  for (int attempt = 1; attempt <= polls && !unlocked; ++attempt) {
    groups.clear();
    if (m_pImplementer->getResourceGroupInfo(groups, false) != 0) return copyImplementerError();
    auto it = groups.find(group);
    if (it == groups.end()) {
      logMessage(1, kFn, "Failed to get status of resource group-[%s]. Retry count-[%d]",
                 group.c_str(), attempt);
      continue;
    }
    const ResourceGroupInfo& g = it->second;
    if (g.lockStatus == kStatusUnlocked) {
      unlocked = true;
    } else if (g.lockStatus == kStatusLocked) {
      if (g.lockOwner == m_pSnapOptions->userName && g.lockHost == cciHost.hostName) {
        logMessage(1, kFn,
                   "Resource-[%s] is already locked by User-[%s] in Host-[%s]. No need to re-lock.",
                   group.c_str(), g.lockOwner.c_str(), g.lockHost.c_str());
        // The lock left by a holder that is gone may have named the group
        // alone; a job that needs all groups locks them.
        if (allGroups && m_pImplementer->lockUnlockResourceGroup(group, false, true) != 0) {
          logMessage(2, kFn, "Failed to lock the resource-[%s]", group.c_str());
          return copyImplementerError();
        }
        return addResourceLockHolder(scope, false);
      }
      logMessage(1, kFn,
                 "Resource-[%s] is locked by User-[%s] from Host-[%s], lock retry Count-[%d].",
                 group.c_str(), g.lockOwner.c_str(), g.lockHost.c_str(), attempt);
      mutex.unlock();
      NQSLEEP(kPollPauseMillis);
      if (!mutex.lock(ZR_HDS_LOCK_RESOURCE_GROUP, 0)) {
        logMessage(2, kFn, "Failed to acquire resource group lock-[%s]",
                   ZR_HDS_LOCK_RESOURCE_GROUP);
        return fail(kErrorLockMutex, kMutexFailure);
      }
      // Another job of this machine may have taken the lock meanwhile.
      if (!shareWithLiveHolders(shared)) return false;
      if (shared) return true;
    } else {
      logMessage(1, kFn,
                 "Resource-[%s] has unknown Status-[%s] with User-[%s] from Host-[%s], lock retry "
                 "Count-[%d].",
                 group.c_str(), g.lockStatus.c_str(), g.lockOwner.c_str(), g.lockHost.c_str(),
                 attempt);
    }
  }

  if (!unlocked) {
    auto it = groups.find(group);
    if (it != groups.end()) {
      const ResourceGroupInfo& g = it->second;
      logMessage(2, kFn, "Failed to lock Resource-[%s] with Status-[%s], User-[%s], Host-[%s].",
                 group.c_str(), g.lockStatus.c_str(), g.lockOwner.c_str(), g.lockHost.c_str());
      return fail(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to lock Resource Group-" + group +
                                                " with Status-" + g.lockStatus + ", User-" +
                                                g.lockOwner + ", Host-" + g.lockHost);
    }
    logMessage(2, kFn, "Failed to get status of resource-[%s]", group.c_str());
    return fail(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get status of resource group-" + group);
  }

  if (m_pImplementer->lockUnlockResourceGroup(group, false, allGroups) != 0) {
    logMessage(2, kFn, "Failed to lock the resource-[%s]", group.c_str());
    return copyImplementerError();
  }
  return addResourceLockHolder(scope, true);
}

ZRHDSHolderCount& ZRHDSCommandHandler::resourceLockHolders() {
  if (!m_pResourceLockHolders) {
    m_pResourceLockHolders.reset(new ZRHDSHolderCount(holderName(m_pSnapOptions->baseSerialNum)));
  }
  return *m_pResourceLockHolders;
}

bool ZRHDSCommandHandler::widenOwnResourceLock() {
  static const char* const kFn = "lockResource";
  if (m_pImplementer->lockUnlockResourceGroup(ZR_HDS_META_RESOURCE, false, true) != 0) {
    logMessage(2, kFn, "Failed to lock the resource-[%s]", ZR_HDS_META_RESOURCE);
    return copyImplementerError();
  }
  // This handler's entry is replaced by one of the wider scope.
  int liveAfter = 0;
  int widestBefore = 0;
  if (resourceLockHolders().remove(&liveAfter, &widestBefore) != 0) {
    logMessage(2, kFn, "Failed to remove the holder of the resource lock: %s",
               resourceLockHolders().lastError().c_str());
    return fail(kErrorLockMutex, kMutexFailure);
  }
  m_bIsResourceLocked = false;
  return addResourceLockHolder(kScopeAllGroups, false);
}

bool ZRHDSCommandHandler::addResourceLockHolder(int scope, bool lockedNow) {
  static const char* const kFn = "lockResource";
  ZRHDSHolderCount& holders = resourceLockHolders();
  const bool allGroups = scope == kScopeAllGroups;
  int liveAfter = 0;
  if (holders.add(scope, &liveAfter) != 0) {
    logMessage(2, kFn, "Failed to record the holder of the resource lock: %s",
               holders.lastError().c_str());
    // Without a recorded holder nobody would release a lock taken just now.
    if (lockedNow) m_pImplementer->lockUnlockResourceGroup(ZR_HDS_META_RESOURCE, true, allGroups);
    return fail(kErrorLockMutex, kMutexFailure);
  }
  m_bIsResourceLocked = true;
  m_bResourceLockAllGroups = allGroups;
  return true;
}

bool ZRHDSCommandHandler::unlockResource(bool allGroups) {
  static const char* const kFn = "unlockResource";
  if (!m_bIsResourceLocked) return true;
  if (m_pLogger == nullptr || !m_pImplementer) return fail(kErrorLockMutex, kMutexFailure);
  ZRHDSLock mutex(*m_pLogger, ZR_HDS_LOCK_RESOURCE_GROUP, 0);
  if (!mutex.isLocked()) {
    logMessage(2, kFn, "Failed to acquire resource group lock-[%s]", ZR_HDS_LOCK_RESOURCE_GROUP);
    return fail(kErrorLockMutex, kMutexFailure);
  }
  const std::string group = ZR_HDS_META_RESOURCE;
  ZRHDSHolderCount& holders = resourceLockHolders();

  // Gives up this handler's share once the array side is settled.
  auto leave = [&]() -> bool {
    int liveAfter = 0;
    int widestBefore = 0;
    if (holders.remove(&liveAfter, &widestBefore) != 0) {
      logMessage(2, kFn, "Failed to remove the holder of the resource lock: %s",
                 holders.lastError().c_str());
      return fail(kErrorLockMutex, kMutexFailure);
    }
    m_bIsResourceLocked = false;
    m_bResourceLockAllGroups = false;
    return true;
  };

  int count = 0;
  int widest = 0;
  if (holders.live(&count, &widest) != 0) {
    logMessage(2, kFn, "Failed to read the holders of the resource lock: %s",
               holders.lastError().c_str());
    return fail(kErrorLockMutex, kMutexFailure);
  }
  if (count >= 2) {
    logMessage(1, kFn, "Array resource lock count-[%d]", count);
    return leave();
  }

  std::map<std::string, ResourceGroupInfo> groups;
  if (m_pImplementer->getResourceGroupInfo(groups, false) != 0) return copyImplementerError();
  auto it = groups.find(group);
  if (it == groups.end()) {
    logMessage(2, kFn, "Failed to get status of resource group-[%s].", group.c_str());
    return fail(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get status of resource group-" + group);
  }
  const ResourceGroupInfo& g = it->second;
  if (g.lockStatus == kStatusUnlocked) {
    logMessage(1, kFn, "Resource-[%s] is already unlocked.", group.c_str());
    return leave();
  }
  if (g.lockStatus != kStatusLocked) {
    logMessage(2, kFn, "Resource-[%s] has unknown Status-[%s] with User-[%s] from Host-[%s].",
               group.c_str(), g.lockStatus.c_str(), g.lockOwner.c_str(), g.lockHost.c_str());
    return fail(kErrorLockMutex, "Unknown status received for resource group-" + group);
  }

  // Only a lock of this login on this host is ours to release.
  HDSRaidqryInfo cciHost;
  if (m_pImplementer->getCCIRaidqryInfo(cciHost) != 0) {
    logMessage(2, kFn, "Failed to get raidqry information.");
    return copyImplementerError();
  }
  if (g.lockOwner != m_pSnapOptions->userName || g.lockHost != cciHost.hostName) {
    logMessage(2, kFn,
               "Resource-[%s] is locked by User-[%s] from Host-[%s], not by this job. It is left "
               "locked.",
               group.c_str(), g.lockOwner.c_str(), g.lockHost.c_str());
    return leave();
  }
  // The array's lock is as wide as the widest holder ever made it: a holder
  // that widened it may have left already, so other groups locked by this
  // login on this host are released with it.
  (void)allGroups;
  bool releaseAll = widest == kScopeAllGroups || m_bResourceLockAllGroups;
  for (const auto& entry : groups) {
    const ResourceGroupInfo& other = entry.second;
    if (entry.first != group && other.lockStatus == kStatusLocked &&
        other.lockOwner == m_pSnapOptions->userName && other.lockHost == cciHost.hostName) {
      releaseAll = true;
    }
  }
  if (m_pImplementer->lockUnlockResourceGroup(group, true, releaseAll) != 0) {
    logMessage(2, kFn, "Failed to unlock the resource-[%s]", group.c_str());
    return copyImplementerError();
  }
  return leave();
}
