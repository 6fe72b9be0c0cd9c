// Targetless snapshot creation: choosing (or naming) the snapshot group,
// adding the job's pairs and recording the MU the array gave each one.
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
constexpr int kErrorGroupLock = 8;
constexpr const char kNoHostObject[] = "Unable to acquire lock on SnapshotGroup: no device object.";
constexpr const char kPairStateWaitKey[] = "nZRHDSCLIWaitForSnapshotToBeInPairState";

// Why a row keeps its group (one with room) from taking the job's pairs.
enum class Refusal { kNone, kConsistencyGroup, kOtherPool, kNotSplit };

Refusal refusalOf(const HDSSnapshotGroupInfo& row, const std::string& pool) {
  if (row.mode.find('G') != std::string::npos) return Refusal::kConsistencyGroup;
  if (!hdsparse::samePoolId(row.poolId, pool)) return Refusal::kOtherPool;
  if (row.status != kPairStatePsus) return Refusal::kNotSplit;
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

  // A reused group stays locked until the pairs are recorded and waited for.
  std::unique_ptr<ZRHDSLock> groupLock;
  std::set<std::string> existingKeys;
  if (!options.useConsistencyGrp) {
    std::vector<HDSSnapshotGroupInfo> all;
    if (m_pImplementer->getSnapshotGroupList(all, "", true) != 0) return copyImplementerError();
    std::set<std::string> examined;
    for (const HDSSnapshotGroupInfo& candidate : all) {
      const std::string& group = candidate.snapshotGroupName;
      if (group.find(prefix) == std::string::npos) continue;
      if (!examined.insert(group).second) continue;
      logMessage(1, kFn,
                 "SnapshotGroup-[%s] already exists, check if more LDEVs can be added to this "
                 "group.",
                 group.c_str());
      std::unique_ptr<ZRHDSLock> lock(new ZRHDSLock(*m_pLogger, group, 0));
      if (!lock->isLocked()) {
        logMessage(2, kFn, "Unable to acquire lock on SnapshotGroup-[%s]", group.c_str());
        return fail(kErrorGroupLock, "Unable to acquire lock on SnapshotGroup-" + group);
      }
      std::vector<HDSSnapshotGroupInfo> rows;
      if (m_pImplementer->getSnapshotGroupList(rows, group, false) != 0) {
        logMessage(2, kFn, "Unable to get SnapshotGroup-[%s] info.", group.c_str());
        return copyImplementerError();
      }
      if (rows.size() + m_pSnaps->size() > kGroupCapacity) {
        logMessage(2, kFn, "SnapshotGroup-[%s] already has [%d] pairs, It cannot be used.",
                   group.c_str(), static_cast<int>(rows.size()));
        continue;
      }
      bool usable = true;
      for (const HDSSnapshotGroupInfo& row : rows) {
        const Refusal refusal = refusalOf(row, options.pool);
        if (refusal == Refusal::kNone) continue;
        if (refusal == Refusal::kConsistencyGroup) {
          logMessage(1, kFn, "Snapshot data created in CTG Mode. Group-[%s] cannot be used.",
                     row.snapshotGroupName.c_str());
        } else if (refusal == Refusal::kOtherPool) {
          logMessage(1, kFn, "SnapshotGroup-[%s] uses Pool-[%s]. It cannot be used.",
                     row.snapshotGroupName.c_str(), row.poolId.c_str());
        } else {
          logMessage(1, kFn,
                     "SnapshotGroup-[%s] cannot be used. Pair[%s->%s], PairMU#-[%s], Status[%s]",
                     row.snapshotGroupName.c_str(), row.ldevId.c_str(), row.partnerLdevId.c_str(),
                     row.muNumber.c_str(), row.status.c_str());
        }
        usable = false;
        break;
      }
      if (!usable) continue;
      logMessage(1, kFn, "SnapshotGroup-[%s] will be used for the job.", group.c_str());
      options.snapshotGroup = group;
      for (const HDSSnapshotGroupInfo& row : rows) existingKeys.insert(pairKey(row));
      groupLock = std::move(lock);
      break;
    }
  }

  if (!groupLock) {
    const long hostNumber = m_pOSUtil != nullptr ? m_pOSUtil->getHostNumber() : 0;
    char suffix[kSuffixBufferSize] = {0};
    std::snprintf(suffix, sizeof(suffix), "%X_%X", zrcast::u(hostNumber),
                  zrcast::u(ZrClock::get().nowSeconds()));
    const std::string name = prefix + suffix;
    if (name.size() > kGroupNameMaxLength) {
      logMessage(2, kFn, "SnapshotGroup-[%s] name exceeds [%d] characters.", name.c_str(),
                 static_cast<int>(kGroupNameMaxLength));
      return fail(ZR_HDS_ERR_PREPARE, "SnapshotGroup-" + name + " name exceeds " +
                                          std::to_string(kGroupNameMaxLength) + " characters.");
    }
    options.snapshotGroup = name;
    logMessage(1, kFn, "New SnapshotGroup-[%s] will be created.", name.c_str());
  }

  if (m_pImplementer->addToSnapshotGroup() != 0) {
    copyImplementerError();
    int code = 0;
    std::string text;
    getErrorCodeString(code, text);
    // The pairs added before the failure are recorded, so that the clean-up
    // removes exactly them; the add's error stands.
    recordNewPairs(existingKeys);
    return fail(code, text);
  }
  if (!recordNewPairs(existingKeys)) {
    logMessage(2, kFn, "Unable to get SnapshotGroup-[%s] info after adding new snaps.",
               options.snapshotGroup.c_str());
    return false;
  }
  WaitForSnapshotsToBeInPairState();
  if (afterWait > 0) NQSLEEP(static_cast<unsigned long>(afterWait) * 1000ul);
  return true;
}

bool ZRHDSCommandHandler::recordNewPairs(const std::set<std::string>& existingKeys) {
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
  return true;
}

bool ZRHDSCommandHandler::WaitForSnapshotsToBeInPairState() {
  static const char* const kFn = "WaitForSnapshotsToBeInPairState";
  const int interval = readSetting(kPairStateWaitKey, 0);
  if (interval <= 0) return true;
  logMessage(1, kFn, "The registry key-[%s] is set, Value-[%d]", kPairStateWaitKey, interval);
  const std::vector<ZRHDSSnapInfo>& snaps = *m_pSnaps;
  std::vector<HDSSnapshotGroupInfo> rows;
  for (int pass = 1; pass <= kPairStatePasses; ++pass) {
    rows.clear();
    if (m_pImplementer->getSnapshotGroupList(rows, m_pSnapOptions->snapshotGroup, false) != 0) {
      return copyImplementerError();
    }
    int inPair = 0;
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
      if (row.status == kPairStatePair) ++inPair;
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
  return true;
}
