// Targetless snapshot creation: choosing (or naming) the snapshot group,
// adding the job's pairs and recording the MU the array gave each one.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "array/HDSParsePool.h"
#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"
#include "host/NqSleep.h"
#include "host/ZRSOSnapInfo.h"
#include "host/ZrClock.h"
#include "host/zrcast.h"
#include "util/ZRHDSLock.h"

namespace {

using namespace zrhds_handler;

// Pairs a snapshot group can hold.
constexpr size_t kGroupCapacity = 1024;
// Longest snapshot-group name the array accepts.
constexpr size_t kGroupNameMaxLength = 32;
constexpr size_t kSuffixBufferSize = 128;
constexpr int kPairStatePasses = 10;
// Further names tried for a new group whose name another job took.
constexpr int kNameCollisionRetries = 16;
constexpr int kErrorGroupLock = 8;
constexpr const char kNoHostObject[] = "Unable to acquire lock on SnapshotGroup: no device object.";
constexpr const char kPairStateWaitKey[] = "nZRHDSCLIWaitForSnapshotToBeInPairState";

// Why a row keeps its group (one with room) from taking the job's pairs.
enum class Refusal { kNone, kConsistencyGroup, kOtherPool, kNotSplit };

Refusal refusalOf(const HDSSnapshotGroupInfo& row, const std::string& pool) {
  if (row.mode.find('G') != std::string::npos) return Refusal::kConsistencyGroup;
  if (!hdsparse::samePoolId(row.poolId, pool)) return Refusal::kOtherPool;
  if (row.status != ZR_HDS_PAIR_STATE_PSUS) return Refusal::kNotSplit;
  return Refusal::kNone;
}

}  // namespace

bool ZRHDSCommandHandler::createTargetlessSnap() {
  static const char* const kFn = "createTargetlessSnap";
  ZRHDSSnapOptions& options = *m_pSnapOptions;
  // Group locks and logs need the job's host object.
  if (m_pLogger == nullptr || !m_pImplementer) return fail(kErrorGroupLock, kNoHostObject);
  const int afterWait = readSetting("nZRHDSAfterSnapWaitTimeSeconds", 0);
  if (afterWait > 0) {
    logMessage(0, kFn, "The registry key to wait after snap is set. Value-[%d]", afterWait);
  }
  const std::string prefix = options.snapshotGroup + "_" + options.pool + "_";
  options.snapshotGroup = prefix;

  // The chosen group stays locked by its name until the pairs are recorded
  // and waited for.
  std::unique_ptr<ZRHDSLock> groupLock;
  std::set<std::string> existingKeys;
  if (!chooseSnapshotGroup(prefix, groupLock, existingKeys)) return false;
  // The pairs are on record before the first of them is added (a reused
  // group is one the array listed with pairs).
  if (!openGroupIntent(!existingKeys.empty(), existingKeys)) return false;
  if (!addAndRecordPairs(existingKeys)) return false;
  // A pair state that could not be read is a failed creation: the pairs are
  // recorded, so the caller's clean-up removes them.
  if (!WaitForSnapshotsToBeInPairState()) {
    logMessage(2, kFn, "Unable to get the pair states of SnapshotGroup-[%s] after adding new snaps.",
               options.snapshotGroup.c_str());
    return false;
  }
  if (afterWait > 0) NQSLEEP(static_cast<unsigned long>(afterWait) * 1000ul);
  return true;
}

// Reuses a group of the prefix that can take the job's pairs, else names a
// new one that no group of the array has. The new name is locked before the
// array is listed, so that a job of this host naming a group in the same
// second either sees this job's group in its listing or waits for it.
bool ZRHDSCommandHandler::chooseSnapshotGroup(const std::string& prefix,
                                              std::unique_ptr<ZRHDSLock>& groupLock,
                                              std::set<std::string>& existingKeys) {
  const std::string name = newGroupName(prefix);
  std::unique_ptr<ZRHDSLock> nameLock;
  if (name.size() <= kGroupNameMaxLength && !lockGroupName(name, nameLock)) return false;
  std::vector<HDSSnapshotGroupInfo> all;
  if (!m_pSnapOptions->useConsistencyGrp) {
    if (m_pImplementer->getSnapshotGroupList(all, "", true) != 0) return copyImplementerError();
    bool reused = false;
    if (!reuseGroupOf(all, prefix, name, nameLock, groupLock, existingKeys, reused)) return false;
    if (reused) return true;
  }
  return claimNewGroup(name, m_pSnapOptions->useConsistencyGrp ? nullptr : &all, nameLock,
                       groupLock);
}

std::string ZRHDSCommandHandler::newGroupName(const std::string& prefix) {
  const long hostNumber = m_pOSUtil != nullptr ? m_pOSUtil->getHostNumber() : 0;
  char suffix[kSuffixBufferSize] = {0};
  std::snprintf(suffix, sizeof(suffix), "%X_%X", zrcast::u(hostNumber),
                zrcast::u(ZrClock::get().nowSeconds()));
  return prefix + suffix;
}

bool ZRHDSCommandHandler::lockGroupName(const std::string& group,
                                        std::unique_ptr<ZRHDSLock>& lock) {
  lock.reset(new ZRHDSLock(*m_pLogger, group, 0));
  if (lock->isLocked()) return true;
  logMessage(2, "createTargetlessSnap", "Unable to acquire lock on SnapshotGroup-[%s]",
             group.c_str());
  return fail(kErrorGroupLock, "Unable to acquire lock on SnapshotGroup-" + group);
}

// Every group of the listing that holds the prefix, each examined once.
// heldName is locked by nameLock (when that holds a lock); a group of that
// very name is examined under it.
bool ZRHDSCommandHandler::reuseGroupOf(const std::vector<HDSSnapshotGroupInfo>& all,
                                       const std::string& prefix, const std::string& heldName,
                                       std::unique_ptr<ZRHDSLock>& nameLock,
                                       std::unique_ptr<ZRHDSLock>& groupLock,
                                       std::set<std::string>& existingKeys, bool& reused) {
  static const char* const kFn = "createTargetlessSnap";
  reused = false;
  std::set<std::string> examined;
  for (const HDSSnapshotGroupInfo& candidate : all) {
    const std::string& group = candidate.snapshotGroupName;
    if (group.find(prefix) == std::string::npos) continue;
    if (!examined.insert(group).second) continue;
    logMessage(1, kFn,
               "SnapshotGroup-[%s] already exists, check if more LDEVs can be added to this group.",
               group.c_str());
    const bool held = nameLock && group == heldName;
    std::unique_ptr<ZRHDSLock> lock;
    if (!held && !lockGroupName(group, lock)) return false;
    if (anotherRecordNames(group)) continue;
    std::vector<HDSSnapshotGroupInfo> rows;
    if (m_pImplementer->getSnapshotGroupList(rows, group, false) != 0) {
      logMessage(2, kFn, "Unable to get SnapshotGroup-[%s] info.", group.c_str());
      return copyImplementerError();
    }
    if (!groupTakesTheJob(group, rows)) continue;
    logMessage(1, kFn, "SnapshotGroup-[%s] will be used for the job.", group.c_str());
    m_pSnapOptions->snapshotGroup = group;
    for (const HDSSnapshotGroupInfo& row : rows) existingKeys.insert(pairKey(row));
    groupLock = held ? std::move(nameLock) : std::move(lock);
    reused = true;
    return true;
  }
  return true;
}

// Asked under the group's lock: a record of another job that names the group
// (a dead job's that no recovery has taken yet, or a live one's) keeps this
// job from adding pairs to it, since a recovery tells that job's new pairs
// from the group's others only by the pairs the group held before it.
bool ZRHDSCommandHandler::anotherRecordNames(const std::string& group) {
  std::vector<ZRHDSIntentRecord> records;
  m_oIntentStore.list(m_pSnapOptions->baseSerialNum, records, nullptr, nullptr);
  for (const ZRHDSIntentRecord& r : records) {
    if (r.kind != ZRHDSIntentRecord::Kind::kGroup || r.group != group) continue;
    logMessage(1, "createTargetlessSnap",
               "SnapshotGroup-[%s] is named by the record [%s] of another job. It is not used.",
               group.c_str(), r.path.c_str());
    return true;
  }
  return false;
}

// A group takes the job when it has room for every record and each of its
// pairs is a split, non-consistency-group pair of the job's pool.
bool ZRHDSCommandHandler::groupTakesTheJob(const std::string& group,
                                           const std::vector<HDSSnapshotGroupInfo>& rows) {
  static const char* const kFn = "createTargetlessSnap";
  if (rows.size() + m_pSnaps->size() > kGroupCapacity) {
    logMessage(2, kFn, "SnapshotGroup-[%s] already has [%d] pairs, It cannot be used.",
               group.c_str(), static_cast<int>(rows.size()));
    return false;
  }
  for (const HDSSnapshotGroupInfo& row : rows) {
    const Refusal refusal = refusalOf(row, m_pSnapOptions->pool);
    if (refusal == Refusal::kNone) continue;
    if (refusal == Refusal::kConsistencyGroup) {
      logMessage(1, kFn, "Snapshot data created in CTG Mode. Group-[%s] cannot be used.",
                 row.snapshotGroupName.c_str());
    } else if (refusal == Refusal::kOtherPool) {
      logMessage(1, kFn, "SnapshotGroup-[%s] uses Pool-[%s]. It cannot be used.",
                 row.snapshotGroupName.c_str(), row.poolId.c_str());
    } else {
      logMessage(1, kFn, "SnapshotGroup-[%s] cannot be used. Pair[%s->%s], PairMU#-[%s], Status[%s]",
                 row.snapshotGroupName.c_str(), row.ldevId.c_str(), row.partnerLdevId.c_str(),
                 row.muNumber.c_str(), row.status.c_str());
    }
    return false;
  }
  return true;
}

// The new group's name: the one given, or, when a group of that name is on
// the array already (another job of this host named it in the same second),
// the same with "_1", "_2", ... Each name is checked against a listing made
// while its lock is held (known: the listing made under name's lock; null
// when none was made).
bool ZRHDSCommandHandler::claimNewGroup(const std::string& name,
                                        const std::vector<HDSSnapshotGroupInfo>* known,
                                        std::unique_ptr<ZRHDSLock>& nameLock,
                                        std::unique_ptr<ZRHDSLock>& groupLock) {
  static const char* const kFn = "createTargetlessSnap";
  for (int attempt = 0; attempt <= kNameCollisionRetries; ++attempt) {
    const std::string candidate =
        attempt == 0 ? name : name + "_" + std::to_string(attempt);
    if (candidate.size() > kGroupNameMaxLength) {
      logMessage(2, kFn, "SnapshotGroup-[%s] name exceeds [%d] characters.", candidate.c_str(),
                 static_cast<int>(kGroupNameMaxLength));
      return fail(ZR_HDS_ERR_PREPARE, "SnapshotGroup-" + candidate + " name exceeds " +
                                          std::to_string(kGroupNameMaxLength) + " characters.");
    }
    if (attempt > 0 && !lockGroupName(candidate, nameLock)) return false;
    std::vector<HDSSnapshotGroupInfo> rows;
    if (attempt > 0 || known == nullptr) {
      if (m_pImplementer->getSnapshotGroupList(rows, candidate, false) != 0) {
        logMessage(2, kFn, "Unable to get SnapshotGroup-[%s] info.", candidate.c_str());
        return copyImplementerError();
      }
      known = &rows;
    }
    const bool taken =
        anotherRecordNames(candidate) ||
        std::any_of(known->begin(), known->end(), [&](const HDSSnapshotGroupInfo& row) {
          return row.snapshotGroupName == candidate;
        });
    if (!taken) {
      m_pSnapOptions->snapshotGroup = candidate;
      logMessage(1, kFn, "New SnapshotGroup-[%s] will be created.", candidate.c_str());
      groupLock = std::move(nameLock);
      return true;
    }
    logMessage(1, kFn,
               "SnapshotGroup-[%s] is already on the array (named by another job). Another name "
               "is chosen.",
               candidate.c_str());
  }
  logMessage(2, kFn, "No free name for a new SnapshotGroup after [%s].", name.c_str());
  return fail(ZR_HDS_ERR_PREPARE, "No free name for a new SnapshotGroup after " + name + ".");
}

bool ZRHDSCommandHandler::addAndRecordPairs(const std::set<std::string>& existingKeys) {
  static const char* const kFn = "createTargetlessSnap";
  if (m_pImplementer->addToSnapshotGroup() != 0) {
    copyImplementerError();
    const SavedError added = saveError();
    // The pairs added before the failure are recorded, so that the clean-up
    // removes exactly them; the add's error stands.
    if (recordNewPairs(existingKeys)) noteGroupMus();
    restoreError(added);
    return false;
  }
  std::vector<std::string> without;
  const bool recorded = recordNewPairs(existingKeys, &without);
  if (recorded) noteGroupMus();
  if (!recorded) {
    logMessage(2, kFn, "Unable to get SnapshotGroup-[%s] info after adding new snaps.",
               m_pSnapOptions->snapshotGroup.c_str());
    return false;
  }
  // The group's own listing shows no new pair of a source: the device is
  // not prepared, whatever the add's command status said. The pairs that
  // were made are recorded, so the caller's clean-up removes them.
  if (!without.empty()) {
    const std::string& group = m_pSnapOptions->snapshotGroup;
    const std::string text = "SnapshotGroup-" + group + " shows no new snapshot pair of LDEV-" +
                             without.front() + " after it was added.";
    logMessage(2, kFn, "%s", text.c_str());
    return fail(ZR_HDS_ERR_PREPARE, text);
  }
  return true;
}

bool ZRHDSCommandHandler::recordNewPairs(const std::set<std::string>& existingKeys,
                                         std::vector<std::string>* without) {
  const std::string& group = m_pSnapOptions->snapshotGroup;
  std::vector<HDSSnapshotGroupInfo> rows;
  if (m_pImplementer->getSnapshotGroupList(rows, group, false) != 0) return copyImplementerError();
  std::vector<ZRHDSSnapInfo>& snaps = *m_pSnaps;
  std::vector<bool> given(snaps.size(), false);
  for (const HDSSnapshotGroupInfo& row : rows) {
    if (existingKeys.count(pairKey(row)) != 0) continue;
    for (size_t i = 0; i < snaps.size(); ++i) {
      if (given[i] || snaps[i].baseDevNo != row.ldevId) continue;
      snaps[i].snapMu = row.muNumber;
      snaps[i].snapshotGroup = group;
      given[i] = true;
      break;
    }
  }
  for (size_t i = 0; without != nullptr && i < snaps.size(); ++i) {
    if (!given[i]) without->push_back(snaps[i].baseDevNo);
  }
  return true;
}

bool ZRHDSCommandHandler::WaitForSnapshotsToBeInPairState() {
  static const char* const kFn = "WaitForSnapshotsToBeInPairState";
  const int interval = readSetting(kPairStateWaitKey, 0);
  if (interval <= 0) return true;
  logMessage(1, kFn, "The registry key-[%s] is set, Value-[%d]", kPairStateWaitKey, interval);
  const std::vector<ZRHDSSnapInfo>& snaps = *m_pSnaps;
  std::vector<HDSSnapshotGroupInfo> rows;
  int inPair = 0;
  for (int pass = 1; pass <= kPairStatePasses; ++pass) {
    rows.clear();
    if (m_pImplementer->getSnapshotGroupList(rows, m_pSnapOptions->snapshotGroup, false) != 0) {
      return copyImplementerError();
    }
    inPair = 0;
    for (const HDSSnapshotGroupInfo& row : rows) {
      bool ours = false;
      for (const ZRHDSSnapInfo& snap : snaps) {
        if (snap.baseDevNo == row.ldevId && snap.snapMu == row.muNumber) {
          ours = true;
          break;
        }
      }
      if (!ours) continue;
      logMessage(1, kFn, "SnapshotGroup-[%s], PoolId-[%s]. Pair[%s->%s], PairMU#-[%s], Status-[%s]",
                 row.snapshotGroupName.c_str(), row.poolId.c_str(), row.ldevId.c_str(),
                 row.partnerLdevId.c_str(), row.muNumber.c_str(), row.status.c_str());
      if (row.status == ZR_HDS_PAIR_STATE_PAIR) ++inPair;
    }
    if (inPair == static_cast<int>(snaps.size())) {
      logMessage(1, kFn, "All snapshot pairs [%zu] from current job are in PAIR state.",
                 snaps.size());
      return true;
    }
    logMessage(1, kFn,
               "Only [%d] snapshots from the current job are in PAIR state. Will wait for some "
               "more interval-[%d], RetryCount-[%d]",
               inPair, interval, pass);
    NQSLEEP(static_cast<unsigned long>(interval) * 1000ul);
  }
  // The creation goes on: the pairs are there, their copy has not finished.
  logMessage(2, kFn,
             "Only [%d] of [%zu] snapshot pairs from current job reached PAIR state after [%d] "
             "checks of SnapshotGroup-[%s].",
             inPair, snaps.size(), kPairStatePasses, m_pSnapOptions->snapshotGroup.c_str());
  return true;
}
