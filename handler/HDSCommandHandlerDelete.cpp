// Deletion of the job's targetless snapshot pairs, group by group under each
// group's lock, with the snapshot data cleared first where it is held.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"
#include "host/NqSleep.h"
#include "host/ZRPlatformInfo.h"
#include "host/ZRSOSnapInfo.h"
#include "host/ZrClock.h"
#include "util/HDSCLIUtils.h"
#include "util/ZRHDSLock.h"

namespace {

using namespace zrhds_handler;

constexpr int kErrorGroupLock = 8;
constexpr int kErrorRefused = 9;
constexpr int kDefaultClearWaitSeconds = 300;
constexpr unsigned long kClearPollMillis = 30000;
constexpr const char kDeleteOverrideKey[] = "sZRHDSCCISnapshotGroupDeleteOverride";

// States whose snapshot data is not cleared before the pair is deleted.
bool keepsData(const std::string& status) {
  return status == "PSUE" || status == "PFUS" || status == "PFUL" || status == ZR_HDS_PAIR_STATE_PAIR ||
         status == "SMPL";
}

bool contains(const std::vector<std::string>& keys, const std::string& key) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

void erase(std::vector<std::string>& keys, const std::string& key) {
  keys.erase(std::remove(keys.begin(), keys.end(), key), keys.end());
}

// The resync selector of pair key "LDEV-MU".
std::map<std::string, std::string> resyncKeys(const std::string& key) {
  const size_t dash = key.find('-');
  return {{"P_LDEV_NUM", key.substr(0, dash)},
          {"MU_NUM", dash == std::string::npos ? "" : key.substr(dash + 1)}};
}

}  // namespace

namespace zrhds_handler {

DeletePlan planGroupDeletion(const std::vector<HDSSnapshotGroupInfo>& rows,
                             const std::vector<std::string>& requested, bool keepData) {
  DeletePlan plan;
  for (const HDSSnapshotGroupInfo& row : rows) {
    const std::string key = pairKey(row);
    const bool isRequested = contains(requested, key);
    if (!isRequested) {
      if (row.status == ZR_HDS_PAIR_STATE_PAIR) plan.unrequestedInPair.push_back(row);
      continue;
    }
    if (row.status == ZR_HDS_PAIR_STATE_RCPY && plan.restoring.ldevId.empty()) plan.restoring = row;
    plan.listed.insert(key);
    if (keepsData(row.status)) {
      plan.keptData.push_back(row);
    } else if (keepData) {
      plan.keptBySetting.push_back(row);
    } else {
      plan.toClear.insert(key);
    }
  }
  return plan;
}

}  // namespace zrhds_handler

using zrhds_handler::DeletePlan;

bool ZRHDSCommandHandler::deleteTargetlessSnap() {
  // Group locks and logs need the job's host object.
  if (m_pLogger == nullptr || !m_pImplementer) {
    return fail(kErrorGroupLock, "Unable to acquire lock on SnapshotGroup: no device object.");
  }
  std::map<std::string, std::vector<std::string>> requests;
  std::set<std::string> groupsToList;
  if (!collectDeleteRequests(requests, groupsToList)) return false;
  bool result = true;
  std::set<std::string> deleted;
  for (const auto& request : requests) {
    if (!deleteGroupPairs(request.first, request.second, groupsToList.count(request.first) != 0,
                          deleted, result)) {
      return false;
    }
  }
  // A pair counts as deleted only when the array says so for its P-VOL and
  // MU: a group that lists nothing may be the wrong group.
  if (result && !proveDeletedPairs(deleted)) return false;
  if (result) {
    for (ZRHDSSnapInfo& snap : *m_pSnaps) {
      if (deleted.count(pairKey(snap.baseDevNo, snap.snapMu)) != 0) snap.snapMu.clear();
    }
  }
  return result;
}

bool ZRHDSCommandHandler::collectDeleteRequests(
    std::map<std::string, std::vector<std::string>>& requests, std::set<std::string>& groupsToList) {
  std::vector<HDSSnapshotGroupInfo> all;
  if (m_pImplementer->getSnapshotGroupList(all, "", true) != 0) return copyImplementerError();
  for (const HDSSnapshotGroupInfo& row : all) groupsToList.insert(row.snapshotGroupName);
  // A group is listed when the array listing shows it, and also when one of
  // its records names a pair not yet known to be gone: a listing of the
  // whole array that lost rows never makes a pair count as deleted.
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
    const std::string& group = groupOf(snap);
    requests[group].push_back(pairKey(snap.baseDevNo, snap.snapMu));
    if (!snap.snapMu.empty() && !knownGone(snap)) groupsToList.insert(group);
  }
  return true;
}

const std::string& ZRHDSCommandHandler::groupOf(const ZRHDSSnapInfo& snap) const {
  return snap.snapshotGroup.empty() ? m_pSnapOptions->snapshotGroup : snap.snapshotGroup;
}

bool ZRHDSCommandHandler::knownGone(const ZRHDSSnapInfo& snap) {
  return snap.snapInfo != nullptr && snap.snapInfo->getStatus() == ZRSO::SNAP_STATUS_DELETED;
}

bool ZRHDSCommandHandler::deleteGroupPairs(const std::string& group,
                                           const std::vector<std::string>& keys, bool listGroup,
                                           std::set<std::string>& deleted, bool& result) {
  static const char* const kFn = "deleteTargetlessSnap";
  ZRHDSLock lock(*m_pLogger, group, 0);
  if (!lock.isLocked()) {
    logMessage(2, kFn, "Unable to acquire lock on SnapshotGroup-[%s]", group.c_str());
    return fail(kErrorGroupLock, "Unable to acquire lock on SnapshotGroup-" + group);
  }
  std::vector<HDSSnapshotGroupInfo> rows;
  if (listGroup && m_pImplementer->getSnapshotGroupList(rows, group, false) != 0) {
    return copyImplementerError();
  }
  if (rows.empty()) {
    logMessage(1, kFn, "SnapshotGroup-[%s] doesn't exist. Nothing to delete..", group.c_str());
    return true;
  }
  logMessage(1, kFn, "SnapshotGroup-[%s] has [%d] pairs. Got delete request for [%d] pairs.",
             group.c_str(), static_cast<int>(rows.size()), static_cast<int>(keys.size()));
  const int keepData = readSetting("nZRHDSDoNotDeleteSnapShotData", 0);
  DeletePlan plan = zrhds_handler::planGroupDeletion(rows, keys, keepData != 0);
  if (!refuseUnsafeGroupDeletion(plan, group)) return false;
  logKeptData(plan, keepData);

  std::vector<std::string> requested = keys;
  const size_t requestedBefore = requested.size();
  if (!deleteSnapshotData(rows, requested, plan.toClear, lock)) {
    logMessage(2, kFn, "Failed while clearing the snapshot data.");
    return false;
  }
  // A pair whose resync failed stays on the array: the call fails with
  // the array layer's error, which deleteSnapshotData copied.
  if (requested.size() != requestedBefore) result = false;
  // Requested pairs listed before the clearing wait and gone after it need
  // no deletion.
  std::set<std::string> listedAfter;
  for (const HDSSnapshotGroupInfo& row : rows) listedAfter.insert(pairKey(row));
  for (const std::string& key : plan.listed) {
    if (contains(requested, key) && listedAfter.count(key) == 0) deleted.insert(key);
  }
  deleteListedPairs(rows, requested, deleted, result);
  return true;
}

bool ZRHDSCommandHandler::refuseUnsafeGroupDeletion(const DeletePlan& plan,
                                                    const std::string& group) {
  static const char* const kFn = "deleteTargetlessSnap";
  for (const HDSSnapshotGroupInfo& row : plan.unrequestedInPair) {
    if (!deleteOverrideAllows(row, group)) return false;
  }
  const HDSSnapshotGroupInfo& row = plan.restoring;
  if (row.ldevId.empty()) return true;
  logMessage(1, kFn,
             "Pair[%s->%s], PairMU#-[%s] is in RCPY state. Will not proceed with the "
             "snapshotgroup delete.",
             row.ldevId.c_str(), row.partnerLdevId.c_str(), row.muNumber.c_str());
  return fail(kErrorRefused, "The snap pair-[" + row.ldevId + "->" + row.partnerLdevId +
                                 "], PairMU#-[" + row.muNumber + " is in RCPY state.");
}

void ZRHDSCommandHandler::logKeptData(const DeletePlan& plan, int keepData) {
  static const char* const kFn = "deleteTargetlessSnap";
  for (const HDSSnapshotGroupInfo& row : plan.keptData) {
    logMessage(2, kFn,
               "SnapshotGroup-[%s] has Pair-[%s->%s], PairMU#-[%s] in Status-[%s]. Snapshot "
               "Data will not be cleared.",
               row.snapshotGroupName.c_str(), row.ldevId.c_str(), row.partnerLdevId.c_str(),
               row.muNumber.c_str(), row.status.c_str());
  }
  for (size_t i = 0; i < plan.keptBySetting.size(); ++i) {
    logMessage(2, kFn, "The reg key to not delete the snapshot data is set. Value-[%d]", keepData);
  }
}

void ZRHDSCommandHandler::deleteListedPairs(const std::vector<HDSSnapshotGroupInfo>& rows,
                                            std::vector<std::string>& requested,
                                            std::set<std::string>& deleted, bool& result) {
  static const char* const kFn = "deleteTargetlessSnap";
  // One batch: every requested pair is sent, whatever became of the others.
  std::vector<const HDSSnapshotGroupInfo*> toDelete;
  std::vector<HDSSnapshotPairRef> pairs;
  for (const HDSSnapshotGroupInfo& row : rows) {
    if (!contains(requested, pairKey(row))) continue;
    toDelete.push_back(&row);
    pairs.push_back({row.ldevId, row.muNumber, "", row.snapshotGroupName});
  }
  std::vector<bool> done;
  if (!pairs.empty() && m_pImplementer->deleteSnapshotBatch(pairs, done) != 0) {
    copyImplementerError();
    result = false;
  }
  for (size_t i = 0; i < toDelete.size(); ++i) {
    const HDSSnapshotGroupInfo& row = *toDelete[i];
    if (!done[i]) {
      erase(requested, pairKey(row));
      continue;
    }
    logMessage(1, kFn,
               "Pair-[%s->%s], PairMU#-[%s] was successfully deleted from the SnapshotGroup-[%s]",
               row.ldevId.c_str(), row.partnerLdevId.c_str(), row.muNumber.c_str(),
               row.snapshotGroupName.c_str());
    deleted.insert(pairKey(row));
  }
}

bool ZRHDSCommandHandler::proveDeletedPairs(std::set<std::string>& deleted) {
  static const char* const kFn = "deleteTargetlessSnap";
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
    const std::string key = pairKey(snap.baseDevNo, snap.snapMu);
    if (snap.snapMu.empty() || knownGone(snap) || deleted.count(key) != 0) continue;
    std::vector<HDSSnapshotGroupInfo> rows;
    if (m_pImplementer->getSnapshotGroupList(rows, snap.baseDevNo, true) != 0) {
      return copyImplementerError();
    }
    const HDSSnapshotGroupInfo* stays = nullptr;
    for (const HDSSnapshotGroupInfo& row : rows) {
      if (row.isPvol && row.muNumber == snap.snapMu) stays = &row;
    }
    if (stays == nullptr) {
      deleted.insert(key);
      continue;
    }
    const std::string text = "The snapshot pair " + snap.baseDevNo + "/MU " + snap.snapMu +
                             " stays on the array in SnapshotGroup-" + stays->snapshotGroupName +
                             "; the stored group (key 10SG) is " + groupOf(snap) + ".";
    logMessage(2, kFn, "%s", text.c_str());
    SetError(snap.snapInfo, ZR_HDS_ERR_STORED_RECORD, text.c_str());
    return fail(ZR_HDS_ERR_STORED_RECORD, text);
  }
  return true;
}

bool ZRHDSCommandHandler::deleteOverrideAllows(const HDSSnapshotGroupInfo& row,
                                               const std::string& group) {
  static const char* const kFn = "deleteTargetlessSnap";
  logMessage(1, kFn, "SnapshotGroup-[%s] has Pair[%s->%s], PairMU#-[%s] in PAIR state.",
             row.snapshotGroupName.c_str(), row.ldevId.c_str(), row.partnerLdevId.c_str(),
             row.muNumber.c_str());
  ZRPlatformInfo settings;
  std::string value;
  if (settings.getString("Tessavon", kDeleteOverrideKey, &value) == 0) {
    logMessage(1, kFn, "Added Pair[%s->%s], PairMU#-[%s] for deletion.", row.ldevId.c_str(),
               row.partnerLdevId.c_str(), row.muNumber.c_str());
    return true;
  }
  if (value == group) {
    logMessage(1, kFn, "The reg key to force delete SnapshotGroup-[%s] is set. Value-[%s]",
               row.snapshotGroupName.c_str(), value.c_str());
    return true;
  }
  logMessage(1, kFn,
             "The reg key to force delete SnapshotGroup-[%s] is set, Value-[%s].It does not match "
             "with SnapshotGroup name, So not deleting the SnapshotGroup.",
             row.snapshotGroupName.c_str(), value.c_str());
  return fail(kErrorRefused, "Unable to force delete SnapshotGroup-" + group +
                                 "due to mismatch in the name provided with reg key.");
}

bool ZRHDSCommandHandler::deleteSnapshotData(std::vector<HDSSnapshotGroupInfo>& rows,
                                             std::vector<std::string>& requestedKeys,
                                             std::set<std::string>& keysToClear,
                                             ZRHDSLock& groupLock) {
  static const char* const kFn = "deleteSnapshotData";
  if (keysToClear.empty()) {
    logMessage(1, kFn, "None of the pairs need snapshot data deletion.");
    return true;
  }
  const std::string group = rows.front().snapshotGroupName;

  // Drops a key whose resync failed: its pair is neither waited for nor
  // deleted.
  auto resync = [&](const std::string& key) {
    if (m_pImplementer->modifySnapshot(resyncKeys(key), "resync") == 0) return true;
    copyImplementerError();
    erase(requestedKeys, key);
    keysToClear.erase(key);
    return false;
  };
  std::vector<std::string> first(keysToClear.begin(), keysToClear.end());
  std::vector<HDSSnapshotPairRef> pairs;
  for (const std::string& key : first) {
    const std::map<std::string, std::string> k = resyncKeys(key);
    pairs.push_back({k.at("P_LDEV_NUM"), k.at("MU_NUM"), "", group});
  }
  std::vector<bool> resynced;
  if (m_pImplementer->resyncSnapshotBatch(pairs, resynced) != 0) copyImplementerError();
  for (size_t i = 0; i < first.size(); ++i) {
    if (resynced[i]) continue;
    erase(requestedKeys, first[i]);
    keysToClear.erase(first[i]);
  }
  if (keysToClear.empty()) {
    logMessage(2, kFn, "Failed to delete snapshot delete for all the snaps.");
    return false;
  }

  groupLock.unlock();
  logMessage(1, kFn, "Waiting until the snapshot data is cleared.");
  const int waitSeconds = readSetting("nZRHDSDeleteWaitTimeInSecs", kDefaultClearWaitSeconds);
  if (waitSeconds > kDefaultClearWaitSeconds) {
    logMessage(1, kFn, "The reg to control wait time for snapshot data delete is set. Value-[%d]",
               waitSeconds);
  }
  ZrClock& clock = ZrClock::get();
  const int64_t start = clock.nowSeconds();
  bool cleared = false;
  while (clock.nowSeconds() - start <= waitSeconds) {
    // No pause outlasts the wait it serves.
    const int64_t left = waitSeconds - (clock.nowSeconds() - start);
    if (left > 0) {
      NQSLEEP(std::min<unsigned long>(kClearPollMillis, static_cast<unsigned long>(left) * 1000ul));
    }
    rows.clear();
    if (m_pImplementer->getSnapshotGroupList(rows, group, false) != 0) {
      return copyImplementerError();
    }
    int copying = 0;
    int done = 0;
    int other = 0;
    std::set<std::string> listed;
    for (const HDSSnapshotGroupInfo& row : rows) {
      const std::string key = pairKey(row);
      listed.insert(key);
      if (keysToClear.count(key) == 0) continue;
      if (row.status == ZR_HDS_PAIR_STATE_PAIR) {
        ++done;
      } else if (row.status == ZR_HDS_PAIR_STATE_COPY) {
        ++copying;
      } else {
        logMessage(1, kFn, "The Pair-[%s->%s], PairMU#-[%s] is in State-[%s]. Will Resync again.",
                   row.ldevId.c_str(), row.partnerLdevId.c_str(), row.muNumber.c_str(),
                   row.status.c_str());
        ++other;
        resync(key);
      }
    }
    // A pair that is gone has nothing left to clear.
    for (const std::string& key : keysToClear) {
      if (listed.count(key) == 0) ++done;
    }
    logMessage(1, kFn, "Pair Status Counts : COPY-[%d], PAIR-[%d], OTHER-[%d]", copying, done,
               other);
    if (done >= static_cast<int>(keysToClear.size())) {
      logMessage(1, kFn, "All pairs are in PAIR state. Will proceed with the Snapshot deletion.");
      cleared = true;
      break;
    }
    logMessage(1, kFn, "[%d] pairs are in COPY state. Will recheck the status after 30s.", copying);
    if (left <= 0) break;  // the last look came at the end of the wait
  }
  if (!cleared) {
    logMessage(1, kFn, "Some pairs are in COPY state after waiting for [%d]s.", waitSeconds);
  }
  if (!groupLock.lock(group, 0)) {
    logMessage(2, kFn, "Unable to acquire the lock on the SnapshotGroup-[%s]", group.c_str());
    return fail(kErrorGroupLock, "Unable to acquire lock on SnapshotGroup-" + group);
  }
  return true;
}
