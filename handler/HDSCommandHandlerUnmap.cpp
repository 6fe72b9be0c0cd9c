// LUN unmapping and target status checks: which snapshots still have their
// target before an unassign or a delete, removal of the targets' LUN paths
// (time-bounded retry, resource-group lock given back while waiting), and
// the search of the array for the host groups that present the targets.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "array/HDSParseLdev.h"
#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"
#include "host/ZRSOSnapInfo.h"
#include "host/ZrClock.h"
#include "util/HDSCLIUtils.h"

namespace {

using zrhds_handler::preSnapHostGroupName;
using zrhds_handler::splitHostGroupText;

constexpr int kStatusUnmapped = 14;
constexpr int kStatusDeleted = 20;
constexpr int kMapUnmapWaitDefaultSecs = 180;

// What the array shows of one LDEV that a stored record names as a target.
struct StoredTargetView {
  bool pairNamesIt = false;  // the S-VOL of the record's own pair
  bool defined = true;
  bool isPvol = false;  // the P-VOL of some snapshot pair
  std::string label;
};

// Why the stored target of snap is not provably the job's; "" when it is.
std::string storedTargetRefusal(const ZRHDSSnapInfo& snap, const StoredTargetView& view,
                                const std::set<std::string>& sources) {
  if (sources.count(snap.snapLdevId) != 0) return "is the source LDEV of a device of this call";
  if (view.pairNamesIt || !view.defined) return "";
  if (view.isPvol) return "is the source of a snapshot pair";
  if (view.label == snap.svolLabel) return "";
  return "is neither the S-VOL of pair " + snap.baseDevNo + "/MU " + snap.snapMu +
         " nor labelled " + snap.svolLabel;
}

// One of rows (P-VOL rows of snap's source) associates snap's target at
// snap's MU.
bool pairNamesTarget(const std::vector<HDSSnapshotGroupInfo>& rows, const ZRHDSSnapInfo& snap) {
  for (const HDSSnapshotGroupInfo& row : rows) {
    if (row.isPvol && row.muNumber == snap.snapMu && row.partnerLdevId == snap.snapLdevId) {
      return true;
    }
  }
  return false;
}

}  // namespace

// Each stored group is listed once; the LDEVs that no pair names are read
// with one listing, and only a labelled one is asked whether it is a P-VOL.
bool ZRHDSCommandHandler::proveStoredTargets(const std::vector<bool>& fromRecord,
                                             std::vector<std::string>& refusals) {
  static const char kFn[] = "proveStoredTargets";
  const size_t n = std::min(m_pSnaps->size(), fromRecord.size());
  refusals.assign(m_pSnaps->size(), "");
  std::set<std::string> sources;
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) sources.insert(snap.baseDevNo);
  std::vector<StoredTargetView> views(n);
  std::vector<size_t> proved;  // records whose target is looked at
  std::vector<std::string> unnamed;
  GroupListings groups;
  for (size_t i = 0; i < n; ++i) {
    const ZRHDSSnapInfo& snap = (*m_pSnaps)[i];
    if (!fromRecord[i] || snap.snapLdevId.empty()) continue;
    proved.push_back(i);
    if (sources.count(snap.snapLdevId) != 0) continue;
    if (!snap.baseDevNo.empty() && !snap.snapMu.empty()) {
      std::vector<HDSSnapshotGroupInfo> rows;
      if (!pairRowsOf(snap, groups, rows)) return copyImplementerError();
      views[i].pairNamesIt = pairNamesTarget(rows, snap);
    }
    if (!views[i].pairNamesIt) unnamed.push_back(snap.snapLdevId);
  }
  std::map<std::string, HDSLdevInfo> ldevs;
  if (!listLdevs(unnamed, ldevs)) return false;
  for (size_t i : proved) {
    const ZRHDSSnapInfo& snap = (*m_pSnaps)[i];
    StoredTargetView& view = views[i];
    const auto listed = ldevs.find(snap.snapLdevId);
    if (!view.pairNamesIt && listed != ldevs.end()) {
      view.defined = listed->second.volType != zrhds_handler::kVolTypeUndefined;
      view.label = listed->second.label;
      if (view.defined && view.label == snap.svolLabel) {
        std::vector<HDSSnapshotGroupInfo> rows;
        if (m_pImplementer->getSnapshotGroupList(rows, snap.snapLdevId, true) != 0) {
          return copyImplementerError();
        }
        for (const HDSSnapshotGroupInfo& row : rows) view.isPvol = view.isPvol || row.isPvol;
      }
    }
    refusals[i] = storedTargetRefusal(snap, view, sources);
    if (!refusals[i].empty()) {
      logMessage(2, kFn, "The stored target LDEV-[%s] of Source-[%s] %s. It is not touched.",
                 snap.snapLdevId.c_str(), snap.baseDevNo.c_str(), refusals[i].c_str());
    }
  }
  return true;
}

// The targets are read with one listing and the pairs with one listing of
// each stored group, fresh for this step: the unmap that came before may
// have taken a while.
bool ZRHDSCommandHandler::checkTargetVolumeStatusForUnmap(int& count) {
  static const char kFn[] = "checkTargetVolumeStatusForUnmap";
  count = 0;
  std::vector<std::string> ids;
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
    if (!snap.snapLdevId.empty()) ids.push_back(snap.snapLdevId);
  }
  std::map<std::string, HDSLdevInfo> targets;
  if (!listLdevs(ids, targets)) {
    logMessage(2, kFn, "Failed to get the LDEV info of the [%d] target LDEVs of the Snaps",
               static_cast<int>(ids.size()));
    return false;
  }
  GroupListings groups;
  for (ZRHDSSnapInfo& snap : *m_pSnaps) {
    auto markUnmapped = [&snap]() {
      snap.snapInfo->setStatus(kStatusUnmapped);
      snap.snapMapped = false;
    };
    if (snap.snapLdevId.empty()) {
      markUnmapped();
      continue;
    }
    const HDSLdevInfo& target = targets[snap.snapLdevId];
    if (target.volType == zrhds_handler::kVolTypeUndefined) {
      logMessage(1, kFn,
                 "Target LDEV-[%s] no longer exists on the array. Will mark it as unmapped..",
                 snap.snapLdevId.c_str());
      markUnmapped();
      continue;
    }
    if (target.label != hdsparse::listedLabel(snap.svolLabel) &&
        snap.svolLabel != ZR_HDS_BLANK_LABEL) {
      logMessage(1, kFn,
                 "Target LDEV-[%s] is probably being used by other job. Will mark it as unmapped..",
                 snap.snapLdevId.c_str());
      markUnmapped();
      continue;
    }
    snap.snapVirLdevId = target.virtualLdevId;
    ++count;
    std::vector<HDSSnapshotGroupInfo> rows;
    if (!pairRowsOf(snap, groups, rows)) {
      logMessage(2, kFn, "Failed to get the pair information for the Source device-[%s]",
                 snap.baseDevNo.c_str());
      return copyImplementerError();
    }
    for (const HDSSnapshotGroupInfo& row : rows) {
      if (!row.isPvol || row.muNumber != snap.snapMu) continue;
      if (row.partnerLdevId == snap.snapLdevId) {
        snap.snapMapped = true;
      } else if (!row.partnerLdevId.empty()) {
        logMessage(1, kFn,
                   "The Snap is associated to different LDEV-[%s]. Will try cleanup of old LDEV..",
                   row.partnerLdevId.c_str());
        snap.snapMapped = false;
        break;
      } else {
        logMessage(1, kFn,
                   "The Targetless Snap-[%s-MU%s] is not associated with any LDEV but the Snap "
                   "device exist. Will try to cleanup..",
                   snap.baseDevNo.c_str(), snap.snapMu.c_str());
        snap.snapMapped = false;
      }
    }
  }
  return true;
}

bool ZRHDSCommandHandler::checkTargetVolumeStatusForDelete(int& snaps, int& targets) {
  static const char kFn[] = "checkTargetVolumeStatusForDelete";
  targets = 0;
  // Each device's pair from its stored group's listing (the P-VOL's own
  // listing where the group does not show it); the targets associated with
  // them are then read with one listing.
  GroupListings groups;
  std::vector<std::pair<ZRHDSSnapInfo*, std::string>> associated;  // (device, target)
  for (ZRHDSSnapInfo& snap : *m_pSnaps) {
    if (snap.snapInfo->getStatus() == kStatusDeleted) continue;
    std::vector<HDSSnapshotGroupInfo> rows;
    if (!pairRowsOf(snap, groups, rows)) {
      logMessage(2, kFn, "Failed to get the pair information for the Source device-[%s]",
                 snap.baseDevNo.c_str());
      return copyImplementerError();
    }
    bool found = false;
    for (const HDSSnapshotGroupInfo& row : rows) {
      if (!row.isPvol || row.muNumber != snap.snapMu) continue;
      // The pair of (P-VOL, MU) is this device's only in its stored group:
      // another group's pair is another job's, and nothing of it is touched.
      const std::string refusal = zrhds_handler::storedPairRefusal(snap, row);
      if (!refusal.empty()) return refuseStoredPair(snap, refusal);
      ++snaps;
      found = true;
      if (row.partnerLdevId.empty()) {
        logMessage(1, kFn, "The Targetless Snap-[%s-MU%s] is not associated with any LDEV.",
                   snap.baseDevNo.c_str(), snap.snapMu.c_str());
        snap.snapMapped = false;
        continue;
      }
      associated.emplace_back(&snap, row.partnerLdevId);
    }
    if (!found) {
      logMessage(
          1, kFn,
          "The Targetless Snap-[%s-MU%s] is not present in the array. Marking it as deleted.",
          snap.baseDevNo.c_str(), snap.snapMu.c_str());
      snap.snapInfo->setStatus(kStatusDeleted);
      snap.snapMapped = false;
    }
  }
  if (associated.empty()) return true;
  std::vector<std::string> ids;
  for (const auto& a : associated) ids.push_back(a.second);
  std::map<std::string, HDSLdevInfo> listed;
  if (!listLdevs(ids, listed)) {
    logMessage(2, kFn, "Failed to get the LDEV info of the targets associated with the snaps.");
    return false;
  }
  for (const auto& a : associated) {
    const HDSLdevInfo& target = listed.at(a.second);
    a.first->snapLdevId = target.ldevId;
    a.first->snapVirLdevId = target.virtualLdevId;
    a.first->snapMapped = true;
    ++targets;
  }
  return true;
}

bool ZRHDSCommandHandler::unmapReplication(const std::map<int, std::string>& hostGroupsBySnapId) {
  static const char kFn[] = "unmapReplication";
  size_t done = 0;
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
    if (snap.snapInfo->getStatus() == kStatusUnmapped) {
      ++done;
      continue;
    }
    std::vector<std::string> texts;
    const auto entry = hostGroupsBySnapId.find(snap.snapInfo->getSnapId());
    if (entry != hostGroupsBySnapId.end())
      ZRHDSCLIUtils::convertHostGroupStringToVector(entry->second, texts);
    size_t unmapped = 0;
    for (const std::string& text : texts) {
      std::string port;
      std::string hostGroup;
      splitHostGroupText(text, port, hostGroup);
      logMessage(1, kFn, "Going to unmap S-VOL from HostGroup-[%s]", text.c_str());
      if (unmapDeviceFromHostGroup(port, hostGroup, snap.snapLdevId)) ++unmapped;
    }
    if (unmapped == texts.size()) ++done;
  }
  return done == m_pSnaps->size();
}

bool ZRHDSCommandHandler::unmapDeviceFromHostGroup(const std::string& port,
                                                   const std::string& hostGroup,
                                                   const std::string& ldev) {
  static const char kFn[] = "unmapDeviceFromHostGroup";
  const int window = readSetting("nZRHDSMapmapUnmapWaitTimeInSecs", kMapUnmapWaitDefaultSecs);
  std::vector<HDSLunInfo> luns;
  if (m_pImplementer->getLunsForHostGroup(port, hostGroup, luns) != 0) {
    return copyImplementerError();
  }
  const bool mapped = std::any_of(luns.begin(), luns.end(),
                                  [&ldev](const HDSLunInfo& lun) { return lun.ldevId == ldev; });
  if (!mapped) {
    logMessage(1, kFn, "S-VOL-[%s] is not mapped to the port[%s-%s]", ldev.c_str(), port.c_str(),
               hostGroup.c_str());
    return true;
  }
  if (window <= 0) {
    // An empty window: no attempt, but the failure still says what failed.
    logMessage(2, kFn, "Failed to unmap S-VOL-[%s] from the HostGroup-[%s-%s]. Retry Timedout-[%d]",
               ldev.c_str(), port.c_str(), hostGroup.c_str(), 1);
    return fail(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to unmap LDEV-[" + ldev +
                                              "] from the HostGroup[" + port + "-" + hostGroup +
                                              "]");
  }
  return unmapWithRetry(ldev, port, hostGroup, window);
}

// Only a busy LU (host I/O) passes with time: every other refusal, the last
// path of a snapshot S-VOL included, fails at once. A failure that the retry
// got past leaves the error pair as it was before: it is not this step's.
bool ZRHDSCommandHandler::unmapWithRetry(const std::string& ldev, const std::string& port,
                                         const std::string& hostGroup, int window) {
  static const char kFn[] = "unmapDeviceFromHostGroup";
  const SavedError before = saveError();
  ZrClock& clock = ZrClock::get();
  const int64_t start = clock.nowSeconds();
  do {
    if (m_pImplementer->unmapLdevFromHostGroup(ldev, port, hostGroup) == 0) {
      restoreError(before);
      logMessage(1, kFn, "Successfully unmapped S-VOL-[%s] from HostGroup-[%s-%s]", ldev.c_str(),
                 port.c_str(), hostGroup.c_str());
      return true;
    }
    copyImplementerError();
    if (m_nErrorCode != ZR_HDS_ERR_LUN_BUSY) {
      logMessage(2, kFn,
                 "Failed to unmap S-VOL-[%s] from the HostGroup-[%s-%s]. Error-[%d] does not pass "
                 "with time; not retried.",
                 ldev.c_str(), port.c_str(), hostGroup.c_str(), m_nErrorCode);
      return false;
    }
    logMessage(2, kFn, "Will try Unmap after 20s..");
    if (!pauseResourceLock(kFn,
                           "Failed to unlock the resource group. Ignoring the failure and "
                           "continuing with unmap.")) {
      return false;
    }
  } while (clock.nowSeconds() - start < window);
  logMessage(2, kFn, "Failed to unmap S-VOL-[%s] from the HostGroup-[%s-%s]. Retry Timedout-[%d]",
             ldev.c_str(), port.c_str(), hostGroup.c_str(), 1);
  return false;
}

// Snaps already unmapped or without a target are not searched for. One LU
// path is left out of the count only when the walk saw it in the pre-snap
// host group.
bool ZRHDSCommandHandler::getHostGroupsToUnmapForMNM(
    std::map<int, std::string>& hostGroupsBySnapId) {
  static const char kFn[] = "getHostGroupsToUnmapForMNM";
  std::vector<ZRHDSSnapInfo*> active;
  for (ZRHDSSnapInfo& snap : *m_pSnaps) {
    if (snap.snapInfo->getStatus() != kStatusUnmapped && !snap.snapLdevId.empty()) {
      active.push_back(&snap);
    }
  }
  std::vector<HDSPortInfo> ports;
  if (m_pImplementer->getPortList(ports) != 0) return copyImplementerError();
  const std::string preSnapName = preSnapHostGroupName(*m_pSnapOptions);
  std::map<const ZRHDSSnapInfo*, std::vector<std::string>> found;
  std::map<const ZRHDSSnapInfo*, bool> onPreSnap;
  for (const HDSPortInfo& port : ports) {
    HDSPortInfo work;
    work.init();
    if (m_pImplementer->getPortHostGroupList(port.port, "", work, false, "",
                                             m_pSnapOptions->isVSM) != 0) {
      return copyImplementerError();
    }
    for (const HDSHostGroupInfo& group : work.hostGroups) {
      std::vector<HDSLunInfo> luns;
      if (m_pImplementer->getLunsForHostGroup(port.port, group.hostGroupId, luns) != 0) continue;
      const bool preSnap = group.hostGroupName == preSnapName;
      const std::string text = port.port + "-" + group.hostGroupId;
      for (const ZRHDSSnapInfo* snap : active) {
        const bool holds = std::any_of(luns.begin(), luns.end(), [snap](const HDSLunInfo& lun) {
          return lun.ldevId == snap->snapLdevId;
        });
        if (!holds) continue;
        if (preSnap) {
          onPreSnap[snap] = true;
          continue;
        }
        std::vector<std::string>& list = found[snap];
        if (std::find(list.begin(), list.end(), text) != list.end()) continue;
        logMessage(1, kFn, "Adding HostGroup-[%s] of LDEV-[%s] for unmap.", text.c_str(),
                   snap->snapLdevId.c_str());
        list.push_back(text);
      }
    }
  }
  std::vector<std::string> ids;
  for (const ZRHDSSnapInfo* snap : active) ids.push_back(snap->snapLdevId);
  std::map<std::string, HDSLdevInfo> targets;
  if (!listLdevs(ids, targets)) return false;
  for (const ZRHDSSnapInfo* snap : active) {
    const HDSLdevInfo& target = targets[snap->snapLdevId];
    std::vector<std::string>& list = found[snap];
    const int others = target.numPorts - (onPreSnap[snap] ? 1 : 0);
    if (target.numPorts > 0 && static_cast<int>(list.size()) != others) {
      logMessage(2, kFn,
                 "The Snap LDEV-[%s] is mapped to [%d] HostGroups (other than PSHG), but search "
                 "could find only [%d]",
                 snap->snapLdevId.c_str(), others, static_cast<int>(list.size()));
      return fail(ZR_HDS_ERR_MAP,
                  "Unable to search all HostGroups to Unmap for Snap-[" + snap->snapLdevId + "]");
    }
    if (target.numPorts <= 0) list.clear();
    hostGroupsBySnapId[snap->snapInfo->getSnapId()] =
        ZRHDSCLIUtils::convertHostGroupVectorToString(list);
  }
  return true;
}
