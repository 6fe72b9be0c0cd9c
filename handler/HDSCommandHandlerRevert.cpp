// Snapshot data of a whole snapshot group, the Q-marker of the job's copy
// group, revert of sources to their snapshots, and reconcile of stored
// snapshots with the array.
#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"
#include "host/NqSleep.h"
#include "host/ZrClock.h"
#include "util/ZRHDSLock.h"

namespace {

using zrhds_handler::pairKey;
using PairList = std::vector<std::pair<std::string, std::string>>;  // (MU, LDEV)

// Snapshot pair states, as the status column of the listing gives them.
constexpr const char kStatePair[] = "PAIR";
constexpr const char kStateRestoring[] = "RCPY";

constexpr int kSplitDiagnosticPauseMillis = 2000;
constexpr int kReverseCopyPollMillis = 10000;
constexpr int kReverseCopyWaitDefaultSecs = 1800;
// A configured reverse-copy wait below kReverseCopyWaitFloor becomes this.
constexpr int kReverseCopyWaitMinimumSecs = 60;
constexpr int kReverseCopyWaitFloor = 61;
constexpr int kQmarkerWaitMinimumSecs = 60;

// "PSUS" or "SSUS": the pair holds snapshot data that can be restored.
bool isRestorable(const std::string& status) { return status == "PSUS" || status == "SSUS"; }

// States in which reconcile confirms a stored snapshot.
bool holdsSnapshotData(const std::string& status) {
  return isRestorable(status) || status == "PFUS" || status == "SFUS";
}

std::map<std::string, std::string> pairKeys(const std::pair<std::string, std::string>& muLdev) {
  return {{"MU_NUM", muLdev.first}, {"P_LDEV_NUM", muLdev.second}};
}

}  // namespace

bool ZRHDSCommandHandler::splitTargetLessSnaps() {
  static const char kFn[] = "splitTargetLessSnaps";
  const std::string& group = m_pSnapOptions->snapshotGroup;
  if (m_pImplementer->modifySnapshot({{"SNAP_GRP", group}}, "create") == 0) {
    logMessage(1, kFn, "Successfully created snapshot data on SnapshotGroup-[%s]", group.c_str());
    return true;
  }
  logMessage(2, kFn, "Failed to create targetless snaps on SnapshotGroup-[%s]", group.c_str());
  fail(ZR_HDS_ERR_CREATE, "Failed to create targetless snaps on SnapshotGroup-" + group);
  NQSLEEP(kSplitDiagnosticPauseMillis);
  std::vector<HDSSnapshotGroupInfo> rows;
  if (m_pImplementer->getSnapshotGroupList(rows, group, false) == 0) {
    for (const HDSSnapshotGroupInfo& row : rows) {
      logMessage(1, kFn, "SnapshotGroup-[%s] has Pair-[%s->%s], PairMU#-[%s] in state-[%s]",
                 row.snapshotGroupName.c_str(), row.ldevId.c_str(), row.partnerLdevId.c_str(),
                 row.muNumber.c_str(), row.status.c_str());
    }
  }
  return false;
}

bool ZRHDSCommandHandler::getQMarker(std::string& qmarker) {
  if (m_pImplementer->getQMarkerForCopyGroup(m_pSnapOptions->copyGroup, qmarker) == 0) return true;
  return copyImplementerError();
}

bool ZRHDSCommandHandler::waitForQMarkerCommit(const std::string& qmarker) {
  int seconds = readSetting("nZRHDSQmarkerCommitWaitTimeInSecs", 0);
  if (seconds < 1) seconds = kQmarkerWaitMinimumSecs;
  bool committed = false;
  if (m_pImplementer->pairSyncWait(m_pSnapOptions->copyGroup, qmarker, seconds, committed) == 0 &&
      committed) {
    return true;
  }
  logMessage(2, "waitForQMarkerCommit", "QMarker-[%s] commit check failed.", qmarker.c_str());
  return copyImplementerError();
}

bool ZRHDSCommandHandler::revertUsingTargetLessSnaps(
    const std::map<std::string, PairList>& groups) {
  for (const auto& group : groups) {
    if (!revertGroup(group.first, group.second)) return false;
  }
  return true;
}

// Every requested pair is checked, by its LDEV and MU, before any command is
// sent. A pair that is restoring is never split: after a failed restore the
// restores already sent are waited for first, and after a wait that ran out
// only the pairs seen back in "PAIR" are split.
bool ZRHDSCommandHandler::revertGroup(const std::string& group, const PairList& pairs) {
  static const char kFn[] = "revertUsingTargetLessSnaps";
  ZRHDSLock lock(*m_pLogger, group, 0);
  if (!lock.isLocked()) {
    logMessage(2, kFn, "Unable to acquire lock on SnapshotGroup-[%s]", group.c_str());
    return fail(8, "Unable to acquire lock on SnapshotGroup-" + group);
  }
  std::vector<HDSSnapshotGroupInfo> rows;
  if (m_pImplementer->getSnapshotGroupList(rows, group, false) != 0) return copyImplementerError();

  PairList restores;
  for (const auto& p : pairs) {
    bool restorable = false;
    for (const HDSSnapshotGroupInfo& row : rows) {
      if (row.muNumber != p.first || row.ldevId != p.second) continue;
      if (row.status == kStateRestoring) {
        logMessage(1, kFn,
                   "SnapshotGroup-[%s] has pair-[%s->%s], PairMU#-[%s] already in RESTORE(RCPY) "
                   "state.",
                   group.c_str(), row.ldevId.c_str(), row.partnerLdevId.c_str(),
                   row.muNumber.c_str());
        continue;
      }
      if (!isRestorable(row.status)) {
        logMessage(2, kFn,
                   "SnapshotGroup-[%s] has pair-[%s->%s], PairMU#-[%s] in State-[%s]. Cannot "
                   "revert now.",
                   group.c_str(), row.ldevId.c_str(), row.partnerLdevId.c_str(),
                   row.muNumber.c_str(), row.status.c_str());
        return fail(ZR_HDS_ERR_REVERT, "Revert operation cannot be performed when the pair is in " +
                                           row.status + " state.");
      }
      restorable = true;
      break;
    }
    if (!restorable) {
      logMessage(2, kFn, "SnapshotGroup-[%s] doesn't have the pair with PairMU#-[%s].",
                 group.c_str(), p.first.c_str());
      return fail(ZR_HDS_ERR_REVERT, "Could not find the pair in SnapshotGroup-" + group);
    }
    restores.push_back(p);
  }

  bool ok = true;
  PairList sent;
  for (const auto& p : restores) {
    if (m_pImplementer->modifySnapshot(pairKeys(p), "restore") != 0) {
      logMessage(2, kFn, "Failed to revert snapshot data on the SnapshotGroup-[%s]", group.c_str());
      fail(ZR_HDS_ERR_REVERT, "Failed to revert snapshot data on the SnapshotGroup-" + group);
      ok = false;
      break;
    }
    sent.push_back(p);
  }
  if (ok) logMessage(1, kFn, "Waiting for Reverse Copy to Complete.");
  lock.unlock();
  if (sent.empty()) return ok;

  // The first failure is the one reported: a failed restore keeps its pair
  // through the wait.
  int firstCode = m_nErrorCode;
  std::string firstText = m_sErrorString;
  std::map<std::string, std::string> lastStates;
  bool timedOut = false;
  const bool waited = waitForReverseCopy(group, sent, lastStates, timedOut);
  if (!ok) {
    m_nErrorCode = firstCode;
    m_sErrorString = firstText;
  } else if (!waited) {
    ok = false;
  }

  for (const auto& p : sent) {
    const std::string key = pairKey(p.second, p.first);
    const auto seen = lastStates.find(key);
    if (seen == lastStates.end() || seen->second != kStatePair) {
      logMessage(2, kFn, "Pair-[%s], PairMU#-[%s] is in state-[%s]. Not suspending it.",
                 p.second.c_str(), p.first.c_str(),
                 seen == lastStates.end() ? "" : seen->second.c_str());
      continue;
    }
    if (m_pImplementer->modifySnapshot(pairKeys(p), "split") != 0) {
      logMessage(2, kFn, "Failed to suspend pair after revert on the SnapshotGroup-[%s]",
                 group.c_str());
      if (ok) {
        fail(ZR_HDS_ERR_REVERT,
             "Failed to suspend pair after revert on the SnapshotGroup-" + group);
      }
      ok = false;
    }
  }
  return ok;
}

bool ZRHDSCommandHandler::WaitForSnapshotsToReverseCopy(const std::string& group,
                                                        const PairList& pairs) {
  std::map<std::string, std::string> lastStates;
  bool timedOut = false;
  return waitForReverseCopy(group, pairs, lastStates, timedOut);
}

bool ZRHDSCommandHandler::waitForReverseCopy(const std::string& group, const PairList& pairs,
                                             std::map<std::string, std::string>& lastStates,
                                             bool& timedOut) {
  static const char kFn[] = "WaitForSnapshotsToReverseCopy";
  timedOut = false;
  int limit = readSetting("nZRHDSReverseCopyWaitTimeInSecs", kReverseCopyWaitDefaultSecs);
  if (limit < kReverseCopyWaitFloor) limit = kReverseCopyWaitMinimumSecs;
  ZrClock& clock = ZrClock::get();
  const int64_t start = clock.nowSeconds();
  for (;;) {
    if (clock.nowSeconds() - start >= limit) {
      logMessage(1, kFn,
                 "Failed to revert snapshot data on SnapshotGroup-[%s]. Maximum wait time -[%d]s "
                 "exceeded.",
                 group.c_str(), limit);
      timedOut = true;
      return fail(ZR_HDS_ERR_REVERT, "Reverse copy on SnapshotGroup-[" + group +
                                         "] did not complete within the maximum wait time of [" +
                                         std::to_string(limit) + "] seconds.");
    }
    // No pause outlasts the wait it serves.
    const int64_t left = limit - (clock.nowSeconds() - start);
    NQSLEEP(std::min<unsigned long>(kReverseCopyPollMillis,
                                    static_cast<unsigned long>(left) * 1000ul));
    std::vector<HDSSnapshotGroupInfo> rows;
    if (m_pImplementer->getSnapshotGroupList(rows, group, false) != 0) {
      return copyImplementerError();
    }
    lastStates.clear();
    bool restoring = false;
    const HDSSnapshotGroupInfo* broken = nullptr;
    for (const auto& p : pairs) {
      for (const HDSSnapshotGroupInfo& row : rows) {
        if (row.muNumber != p.first || row.ldevId != p.second) continue;
        lastStates[pairKey(row)] = row.status;
        if (row.status == kStateRestoring) {
          logMessage(1, kFn,
                     "SnapshotGroup-[%s] has Pair-[%s->%s], PairMU#-[%s] that is still in Reverse "
                     "Sync.",
                     row.snapshotGroupName.c_str(), row.ldevId.c_str(), row.partnerLdevId.c_str(),
                     row.muNumber.c_str());
          restoring = true;
        } else if (row.status != kStatePair) {
          logMessage(1, kFn,
                     "SnapshotGroup-[%s] has Pair-[%s->%s], PairMU#-[%s] that is in Status-[%s]. "
                     "Failing revert.",
                     row.snapshotGroupName.c_str(), row.ldevId.c_str(), row.partnerLdevId.c_str(),
                     row.muNumber.c_str(), row.status.c_str());
          if (broken == nullptr) broken = &row;
        }
      }
    }
    if (broken != nullptr) {
      return fail(ZR_HDS_ERR_REVERT, "Pair-[" + broken->ldevId + "->" + broken->partnerLdevId +
                                         "], PairMU#-[" + broken->muNumber +
                                         "] in SnapshotGroup-[" + group + "] is not reverted.");
    }
    if (!restoring) {
      logMessage(1, kFn, "Successfully reverted snapshot data on SnapshotGroup-[%s]",
                 group.c_str());
      return true;
    }
  }
}

bool ZRHDSCommandHandler::reconcileSnapDevices(
    std::map<std::string, std::map<std::pair<std::string, std::string>, bool>>& groups) {
  static const char kFn[] = "reconcileSnapDevices";
  std::vector<HDSSnapshotGroupInfo> all;
  if (m_pImplementer->getSnapshotGroupList(all, "", true) != 0) return copyImplementerError();

  bool result = true;
  for (auto& group : groups) {
    const std::string& name = group.first;
    bool exists = false;
    std::vector<HDSSnapshotGroupInfo> rows;
    // Each row of the group in the array listing gives one more attempt.
    for (const HDSSnapshotGroupInfo& row : all) {
      if (row.snapshotGroupName != name) continue;
      exists = true;
      rows.clear();
      if (m_pImplementer->getSnapshotGroupList(rows, name, false) == 0) break;
      rows.clear();
      copyImplementerError();
      result = false;
    }
    if (!exists) {
      logMessage(2, kFn,
                 "SnapshotGroup-[%s] doesn't exist, Will mark all the respective targetless snaps "
                 "as Deleted.",
                 name.c_str());
      for (auto& entry : group.second) entry.second = false;
      continue;
    }
    for (auto& entry : group.second) {
      const std::string& mu = entry.first.first;
      const std::string& ldev = entry.first.second;
      bool matched = false;
      for (const HDSSnapshotGroupInfo& row : rows) {
        if (row.muNumber != mu || row.ldevId != ldev) continue;
        matched = true;
        if (holdsSnapshotData(row.status)) {
          logMessage(1, kFn,
                     "SnapshotGroup-[%s] has Pair-[%s->%s], PairMU#-[%s]. Reconcile successful.",
                     row.snapshotGroupName.c_str(), row.ldevId.c_str(), row.partnerLdevId.c_str(),
                     row.muNumber.c_str());
          continue;
        }
        logMessage(2, kFn, "SnapshotGroup-[%s] has Pair-[%s->%s], PairMU#-[%s] in State-[%s].",
                   row.snapshotGroupName.c_str(), row.ldevId.c_str(), row.partnerLdevId.c_str(),
                   row.muNumber.c_str(), row.status.c_str());
        entry.second = false;
        break;
      }
      if (!matched) {
        logMessage(2, kFn, "SnapshotGroup-[%s] doesn't have Pair for SourceDev-[%s], PairMU#-[%s].",
                   name.c_str(), ldev.c_str(), mu.c_str());
        entry.second = false;
      }
    }
  }
  return result;
}
