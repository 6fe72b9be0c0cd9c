// The array's resource-group lock, shared by every job of this machine.
//
// Holders are counted machine-wide (ZRHDSHolderCount, liveness-aware, with
// the scope each holder needs); every look at or change of the count and of
// the array's lock happens while the named mutex ZR_HDS_LOCK_RESOURCE_GROUP
// is held. The mutex is given back for each pause of the poll, so other jobs
// of the machine are not held up while a foreign lock is waited out.
//
// The recovery's take (tryLockResource) tries the mutex once, looks at the
// array's status once and never pauses: a lock held elsewhere is no lock
// for it.
//
// Each operation decides from one listing what to do (lockStepFor,
// unlockStepFor: pure, tested in rows) and then carries that out:
//   lock:   share the live holders' lock | poll the array's status | take,
//           take over or refuse;
//   unlock: leave a share | release the array's lock (when this login on
//           this host holds it) and leave.
// A handler that cannot release its share (its unlock failed on every try)
// gives its holding up when it is destroyed, so the next job of the process
// takes the array's lock over as a leftover instead of sharing a lock that
// nobody will release.
#include <map>
#include <string>

#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"
#include "host/NqSleep.h"
#include "util/ZRHDSHolderCount.h"
#include "util/ZRHDSLock.h"

namespace zrhds_handler {

bool lockedByThisLogin(const ResourceGroupInfo& group, const std::string& user,
                       const std::string& cciHost) {
  return group.lockStatus == kResourceLocked && group.lockOwner == user &&
         group.lockHost == cciHost;
}

LockStep lockStepFor(const std::map<std::string, ResourceGroupInfo>& groups,
                     const std::string& group, const std::string& user,
                     const std::string& cciHost) {
  const auto it = groups.find(group);
  if (it == groups.end()) return LockStep::kNotListed;
  const ResourceGroupInfo& g = it->second;
  if (g.lockStatus == kResourceUnlocked) return LockStep::kTake;
  if (lockedByThisLogin(g, user, cciHost)) return LockStep::kTakeOver;
  if (g.lockStatus == kResourceLocked) return LockStep::kWait;
  return LockStep::kUnknown;
}

UnlockStep unlockStepFor(const std::map<std::string, ResourceGroupInfo>& groups,
                         const std::string& group) {
  const auto it = groups.find(group);
  if (it == groups.end()) return UnlockStep::kNotListed;
  if (it->second.lockStatus == kResourceUnlocked) return UnlockStep::kAlreadyUnlocked;
  if (it->second.lockStatus == kResourceLocked) return UnlockStep::kLocked;
  return UnlockStep::kUnknown;
}

bool releasesAllGroups(const std::map<std::string, ResourceGroupInfo>& groups,
                       const std::string& group, const std::string& user,
                       const std::string& cciHost, bool anyHolderWide) {
  if (anyHolderWide) return true;
  for (const auto& entry : groups) {
    if (entry.first != group && lockedByThisLogin(entry.second, user, cciHost)) return true;
  }
  return false;
}

}  // namespace zrhds_handler

namespace {

using zrhds_handler::LockStep;
using zrhds_handler::UnlockStep;

constexpr int kScopeByName = ZRHDSHolderCount::kScopeByName;
constexpr int kScopeAllGroups = ZRHDSHolderCount::kScopeAllGroups;
constexpr int kErrorLockMutex = 7;
constexpr int kDefaultStatusPolls = 50;
constexpr unsigned long kPollPauseMillis = ZR_HDS_DEFAULT_LOCK_TIME_OUT * 1000ul;
const char kMutexFailure[] = "Failed to acquire resource group lock.";

int scopeOf(bool allGroups) { return allGroups ? kScopeAllGroups : kScopeByName; }

std::string holderName(const std::string& serial) {
  return std::string(ZR_HDS_LOCK_RESOURCE_GROUP) + "_" + serial;
}

}  // namespace

bool ZRHDSCommandHandler::lockResource(bool allGroups) {
  return lockResourceWithin(allGroups, false);
}

bool ZRHDSCommandHandler::tryLockResource(bool allGroups) {
  return lockResourceWithin(allGroups, true);
}

bool ZRHDSCommandHandler::lockResourceWithin(bool allGroups, bool once) {
  static const char* const kFn = "lockResource";
  // Held already, at least as wide as asked: nothing is counted.
  if (m_bIsResourceLocked && (!allGroups || m_bResourceLockAllGroups)) return true;
  if (m_pLogger == nullptr || !m_pImplementer) return fail(kErrorLockMutex, kMutexFailure);
  ZRHDSLock mutex(*m_pLogger);
  const bool taken = once ? mutex.tryLock(ZR_HDS_LOCK_RESOURCE_GROUP)
                          : mutex.lock(ZR_HDS_LOCK_RESOURCE_GROUP, 0);
  if (!taken) return failResourceMutex(kFn);
  if (m_bIsResourceLocked) return widenOwnResourceLock();

  const int scope = scopeOf(allGroups);
  bool shared = false;
  if (!shareWithLiveHolders(scope, shared)) return false;
  if (shared) return true;

  HDSRaidqryInfo cciHost;
  if (m_pImplementer->getCCIRaidqryInfo(cciHost) != 0) {
    logMessage(2, kFn, "Failed to get raidqry information.");
    return copyImplementerError();
  }
  LockStep step = LockStep::kNotListed;
  ResourceGroupInfo last;
  if (!pollResourceLock(mutex, scope, cciHost.hostName, once, step, last, shared)) return false;
  if (shared) return true;
  if (once && step != LockStep::kTake && step != LockStep::kTakeOver) return false;
  return takeResourceLock(step, last, allGroups);
}

bool ZRHDSCommandHandler::failResourceMutex(const char* method) {
  logMessage(2, method, "Failed to acquire resource group lock-[%s]", ZR_HDS_LOCK_RESOURCE_GROUP);
  return fail(kErrorLockMutex, kMutexFailure);
}

// Shares the lock of the live holders (widening it first when they hold
// less than this job needs); nothing is asked of the array otherwise.
bool ZRHDSCommandHandler::shareWithLiveHolders(int scope, bool& shared) {
  static const char* const kFn = "lockResource";
  shared = false;
  int count = 0;
  int widest = 0;
  if (!liveResourceLockHolders(kFn, count, widest)) return false;
  if (count < 1) return true;
  if (scope > widest &&
      m_pImplementer->lockUnlockResourceGroup(ZR_HDS_META_RESOURCE, false, true) != 0) {
    logMessage(2, kFn, "Failed to lock the resource-[%s]", ZR_HDS_META_RESOURCE);
    return copyImplementerError();
  }
  logMessage(1, kFn, "Array resource lock count-[%d]", count);
  shared = true;
  return addResourceLockHolder(scope > widest ? scope : widest, false);
}

// Polls the group's status until it can be taken or taken over, at most the
// configured number of times; step and last say what the last listing
// showed. shared: another job of this machine took the lock during a pause
// and this handler shares it now.
bool ZRHDSCommandHandler::pollResourceLock(ZRHDSLock& mutex, int scope, const std::string& cciHost,
                                           bool once, LockStep& step, ResourceGroupInfo& last,
                                           bool& shared) {
  static const char* const kFn = "lockResource";
  const std::string group = ZR_HDS_META_RESOURCE;
  const int polls = once ? 1 : readSetting("nZRHDSSnapArrayLockRetryCount", kDefaultStatusPolls);
  std::map<std::string, ResourceGroupInfo> groups;
  for (int attempt = 1; attempt <= polls; ++attempt) {
    groups.clear();
    if (m_pImplementer->getResourceGroupInfo(groups, false) != 0) return copyImplementerError();
    step = zrhds_handler::lockStepFor(groups, group, m_pSnapOptions->userName, cciHost);
    if (step != LockStep::kNotListed) last = groups.at(group);
    if (step == LockStep::kTake || step == LockStep::kTakeOver) return true;
    if (step == LockStep::kNotListed) {
      logMessage(1, kFn, "Failed to get status of resource group-[%s]. Retry count-[%d]",
                 group.c_str(), attempt);
    } else if (step == LockStep::kUnknown) {
      logMessage(1, kFn,
                 "Resource-[%s] has unknown Status-[%s] with User-[%s] from Host-[%s], lock retry "
                 "Count-[%d].",
                 group.c_str(), last.lockStatus.c_str(), last.lockOwner.c_str(),
                 last.lockHost.c_str(), attempt);
    } else {
      logMessage(1, kFn,
                 "Resource-[%s] is locked by User-[%s] from Host-[%s], lock retry Count-[%d].",
                 group.c_str(), last.lockOwner.c_str(), last.lockHost.c_str(), attempt);
      if (once) return true;
      mutex.unlock();
      NQSLEEP(kPollPauseMillis);
      if (!mutex.lock(ZR_HDS_LOCK_RESOURCE_GROUP, 0)) return failResourceMutex(kFn);
      // Another job of this machine may have taken the lock meanwhile.
      if (!shareWithLiveHolders(scope, shared)) return false;
      if (shared) return true;
    }
  }
  return true;
}

// Carries out the poll's last step: lock, take over a lock of this login on
// this host (a holder that is gone left it), or refuse.
bool ZRHDSCommandHandler::takeResourceLock(LockStep step, const ResourceGroupInfo& last,
                                           bool allGroups) {
  static const char* const kFn = "lockResource";
  const std::string group = ZR_HDS_META_RESOURCE;
  const int scope = scopeOf(allGroups);
  if (step == LockStep::kTake) {
    if (m_pImplementer->lockUnlockResourceGroup(group, false, allGroups) != 0) {
      logMessage(2, kFn, "Failed to lock the resource-[%s]", group.c_str());
      return copyImplementerError();
    }
    return addResourceLockHolder(scope, true);
  }
  if (step == LockStep::kTakeOver) {
    logMessage(1, kFn,
               "Resource-[%s] is already locked by User-[%s] in Host-[%s]. No need to re-lock.",
               group.c_str(), last.lockOwner.c_str(), last.lockHost.c_str());
    // The lock left by a holder that is gone may have named the group
    // alone; a job that needs all groups locks them.
    if (allGroups && m_pImplementer->lockUnlockResourceGroup(group, false, true) != 0) {
      logMessage(2, kFn, "Failed to lock the resource-[%s]", group.c_str());
      return copyImplementerError();
    }
    return addResourceLockHolder(scope, false);
  }
  if (step == LockStep::kNotListed) {
    logMessage(2, kFn, "Failed to get status of resource-[%s]", group.c_str());
    return fail(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get status of resource group-" + group);
  }
  logMessage(2, kFn, "Failed to lock Resource-[%s] with Status-[%s], User-[%s], Host-[%s].",
             group.c_str(), last.lockStatus.c_str(), last.lockOwner.c_str(),
             last.lockHost.c_str());
  return fail(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to lock Resource Group-" + group + " with Status-" +
                                            last.lockStatus + ", User-" + last.lockOwner +
                                            ", Host-" + last.lockHost);
}

bool ZRHDSCommandHandler::liveResourceLockHolders(const char* method, int& count, int& widest) {
  ZRHDSHolderCount& holders = resourceLockHolders();
  if (holders.live(&count, &widest) == 0) return true;
  logMessage(2, method, "Failed to read the holders of the resource lock: %s",
             holders.lastError().c_str());
  return fail(kErrorLockMutex, kMutexFailure);
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
  // allGroups is the caller's scope; the release follows what the holders
  // took (releaseArrayLock).
  (void)allGroups;
  if (!m_bIsResourceLocked) return true;
  if (m_pLogger == nullptr || !m_pImplementer) return fail(kErrorLockMutex, kMutexFailure);
  ZRHDSLock mutex(*m_pLogger, ZR_HDS_LOCK_RESOURCE_GROUP, 0);
  if (!mutex.isLocked()) return failResourceMutex(kFn);

  int count = 0;
  int widest = 0;
  if (!liveResourceLockHolders(kFn, count, widest)) return false;
  if (count >= 2) {
    // The array stays locked for the other holders.
    logMessage(1, kFn, "Array resource lock count-[%d]", count);
    return leaveResourceLock();
  }
  if (!releaseArrayLock(widest == kScopeAllGroups || m_bResourceLockAllGroups)) return false;
  return leaveResourceLock();
}

// This handler is the last holder: releases the array's lock when this
// login on this host holds it. true when the share may be given up (the
// lock is released, already free, or someone else's).
bool ZRHDSCommandHandler::releaseArrayLock(bool anyHolderWide) {
  static const char* const kFn = "unlockResource";
  const std::string group = ZR_HDS_META_RESOURCE;
  std::map<std::string, ResourceGroupInfo> groups;
  if (m_pImplementer->getResourceGroupInfo(groups, false) != 0) return copyImplementerError();
  switch (zrhds_handler::unlockStepFor(groups, group)) {
    case UnlockStep::kNotListed:
      logMessage(2, kFn, "Failed to get status of resource group-[%s].", group.c_str());
      return fail(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get status of resource group-" + group);
    case UnlockStep::kAlreadyUnlocked:
      logMessage(1, kFn, "Resource-[%s] is already unlocked.", group.c_str());
      return true;
    case UnlockStep::kUnknown: {
      const ResourceGroupInfo& g = groups.at(group);
      logMessage(2, kFn, "Resource-[%s] has unknown Status-[%s] with User-[%s] from Host-[%s].",
                 group.c_str(), g.lockStatus.c_str(), g.lockOwner.c_str(), g.lockHost.c_str());
      return fail(kErrorLockMutex, "Unknown status received for resource group-" + group);
    }
    case UnlockStep::kLocked:
      break;
  }
  // Only a lock of this login on this host is ours to release.
  HDSRaidqryInfo cciHost;
  if (m_pImplementer->getCCIRaidqryInfo(cciHost) != 0) {
    logMessage(2, kFn, "Failed to get raidqry information.");
    return copyImplementerError();
  }
  const std::string& user = m_pSnapOptions->userName;
  const ResourceGroupInfo& g = groups.at(group);
  if (!zrhds_handler::lockedByThisLogin(g, user, cciHost.hostName)) {
    logMessage(2, kFn,
               "Resource-[%s] is locked by User-[%s] from Host-[%s], not by this job. It is left "
               "locked.",
               group.c_str(), g.lockOwner.c_str(), g.lockHost.c_str());
    return true;
  }
  // The array's lock is as wide as the widest holder ever made it: a holder
  // that widened it may have left already, so other groups locked by this
  // login on this host are released with it.
  const bool releaseAll =
      zrhds_handler::releasesAllGroups(groups, group, user, cciHost.hostName, anyHolderWide);
  if (m_pImplementer->lockUnlockResourceGroup(group, true, releaseAll) != 0) {
    logMessage(2, kFn, "Failed to unlock the resource-[%s]", group.c_str());
    return copyImplementerError();
  }
  return true;
}

// Gives up this handler's share once the array side is settled.
bool ZRHDSCommandHandler::leaveResourceLock() {
  ZRHDSHolderCount& holders = resourceLockHolders();
  int liveAfter = 0;
  int widestBefore = 0;
  if (holders.remove(&liveAfter, &widestBefore) != 0) {
    logMessage(2, "unlockResource", "Failed to remove the holder of the resource lock: %s",
               holders.lastError().c_str());
    return fail(kErrorLockMutex, kMutexFailure);
  }
  m_bIsResourceLocked = false;
  m_bResourceLockAllGroups = false;
  return true;
}

// Taken without the mutex: the unlock may have failed for want of it, and
// the holder list keeps itself consistent. Whoever counts next sees either
// this entry (and shares the array's lock) or none (and takes the lock of
// this login and host over as a leftover); both end with the lock released.
void ZRHDSCommandHandler::dropResourceLockHolding() {
  static const char* const kFn = "~ZRHDSCommandHandler";
  int liveAfter = 0;
  ZRHDSHolderCount& holders = resourceLockHolders();
  if (holders.dropOwn(&liveAfter) != 0) {
    logMessage(2, kFn, "Failed to give up the holding of the resource lock: %s",
               holders.lastError().c_str());
  } else {
    logMessage(2, kFn,
               "The resource lock could not be released. This job's holding is given up; the "
               "next job of this login and host takes the lock over. Holders left-[%d]",
               liveAfter);
  }
  m_bIsResourceLocked = false;
  m_bResourceLockAllGroups = false;
}
