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
  return status == "PSUE" || status == "PFUS" || status == "PFUL" || status == kPairStatePair ||
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

bool ZRHDSCommandHandler::deleteTargetlessSnap() {
  static const char* const kFn = "deleteTargetlessSnap";
  // Group locks and logs need the job's host object.
  if (m_pLogger == nullptr || !m_pImplementer) {
    return fail(kErrorGroupLock, "Unable to acquire lock on SnapshotGroup: no device object.");
  }
  std::vector<HDSSnapshotGroupInfo> all;
  if (m_pImplementer->getSnapshotGroupList(all, "", true) != 0) return copyImplementerError();
  std::set<std::string> groupsOnArray;
  for (const HDSSnapshotGroupInfo& row : all) groupsOnArray.insert(row.snapshotGroupName);

  // A group is listed when the array listing shows it, and also when one of
  // its records names a pair not yet known to be gone: a listing of the
  // whole array that lost rows never makes a pair count as deleted.
  std::map<std::string, std::vector<std::string>> requests;
  std::set<std::string> groupsToList = groupsOnArray;
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
    const std::string& group =
        snap.snapshotGroup.empty() ? m_pSnapOptions->snapshotGroup : snap.snapshotGroup;
    requests[group].push_back(pairKey(snap.baseDevNo, snap.snapMu));
    const bool knownGone =
        snap.snapInfo != nullptr && snap.snapInfo->getStatus() == ZRSO::SNAP_STATUS_DELETED;
    if (!snap.snapMu.empty() && !knownGone) groupsToList.insert(group);
  }

  bool result = true;
  std::set<std::string> deleted;
  int keepData = 0;
  for (const auto& request : requests) {
    const std::string& group = request.first;
    const std::vector<std::string>& keys = request.second;
    ZRHDSLock lock(*m_pLogger, group, 0);
    if (!lock.isLocked()) {
      logMessage(2, kFn, "Unable to acquire lock on SnapshotGroup-[%s]", group.c_str());
      return fail(kErrorGroupLock, "Unable to acquire lock on SnapshotGroup-" + group);
    }
    std::vector<HDSSnapshotGroupInfo> rows;
    if (groupsToList.count(group) != 0 &&
        m_pImplementer->getSnapshotGroupList(rows, group, false) != 0) {
      return copyImplementerError();
    }
    if (rows.empty()) {
      logMessage(1, kFn, "SnapshotGroup-[%s] doesn't exist. Nothing to delete..", group.c_str());
      deleted.insert(keys.begin(), keys.end());
      continue;
    }
    logMessage(1, kFn, "SnapshotGroup-[%s] has [%d] pairs. Got delete request for [%d] pairs.",
               group.c_str(), static_cast<int>(rows.size()), static_cast<int>(keys.size()));
    keepData = readSetting("nZRHDSDoNotDeleteSnapShotData", keepData);

    std::vector<std::string> requested = keys;
    std::set<std::string> toClear;
    for (const HDSSnapshotGroupInfo& row : rows) {
      const std::string key = pairKey(row);
      const bool isRequested = contains(requested, key);
      if (row.status == kPairStatePair && !isRequested && !deleteOverrideAllows(row, group)) {
        return false;
      }
      if (row.status == kPairStateRcpy && isRequested) {
        logMessage(1, kFn,
                   "Pair[%s->%s], PairMU#-[%s] is in RCPY state. Will not proceed with the "
                   "snapshotgroup delete.",
                   row.ldevId.c_str(), row.partnerLdevId.c_str(), row.muNumber.c_str());
        return fail(kErrorRefused, "The snap pair-[" + row.ldevId + "->" + row.partnerLdevId +
                                       "], PairMU#-[" + row.muNumber + " is in RCPY state.");
      }
      if (keepsData(row.status)) {
        logMessage(2, kFn,
                   "SnapshotGroup-[%s] has Pair-[%s->%s], PairMU#-[%s] in Status-[%s]. Snapshot "
                   "Data will not be cleared.",
                   row.snapshotGroupName.c_str(), row.ldevId.c_str(), row.partnerLdevId.c_str(),
                   row.muNumber.c_str(), row.status.c_str());
      } else if (keepData != 0) {
        logMessage(2, kFn, "The reg key to not delete the snapshot data is set. Value-[%d]",
                   keepData);
      } else if (isRequested) {
        toClear.insert(key);
      }
    }

    // Requested pairs listed now; one that is gone after the clearing wait
    // needs no deletion.
    std::set<std::string> listedBefore;
    for (const HDSSnapshotGroupInfo& row : rows) {
      if (contains(requested, pairKey(row))) listedBefore.insert(pairKey(row));
    }
    const size_t requestedBefore = requested.size();
    if (!deleteSnapshotData(rows, requested, toClear, lock)) {
      logMessage(2, kFn, "Failed while clearing the snapshot data.");
      return false;
    }
    // A pair whose resync failed stays on the array: the call fails with
    // the array layer's error, which deleteSnapshotData copied.
    if (requested.size() != requestedBefore) result = false;
    std::set<std::string> listedAfter;
    for (const HDSSnapshotGroupInfo& row : rows) listedAfter.insert(pairKey(row));
    for (const std::string& key : listedBefore) {
      if (contains(requested, key) && listedAfter.count(key) == 0) deleted.insert(key);
    }

    std::vector<const HDSSnapshotGroupInfo*> toDelete;
    std::vector<HDSSnapshotPairRef> pairs;
    for (const HDSSnapshotGroupInfo& row : rows) {
      if (!contains(requested, pairKey(row))) continue;
      toDelete.push_back(&row);
      pairs.push_back({row.ldevId, row.muNumber, ""});
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

  if (result) {
    for (ZRHDSSnapInfo& snap : *m_pSnaps) {
      if (deleted.count(pairKey(snap.baseDevNo, snap.snapMu)) != 0) snap.snapMu.clear();
    }
  }
  return result;
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
    pairs.push_back({k.at("P_LDEV_NUM"), k.at("MU_NUM"), ""});
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
  while (clock.nowSeconds() - start <= waitSeconds) {
    NQSLEEP(kClearPollMillis);
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
      if (row.status == kPairStatePair) {
        ++done;
      } else if (row.status == kPairStateCopy) {
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
      break;
    }
    logMessage(1, kFn, "[%d] pairs are in COPY state. Will recheck the status after 30s.", copying);
  }
  if (clock.nowSeconds() - start > waitSeconds) {
    logMessage(1, kFn, "Some pairs are in COPY state after waiting for [%d]s.", waitSeconds);
  }
  if (!groupLock.lock(group, 0)) {
    logMessage(2, kFn, "Unable to acquire the lock on the SnapshotGroup-[%s]", group.c_str());
    return fail(kErrorGroupLock, "Unable to acquire lock on SnapshotGroup-" + group);
  }
  return true;
}
