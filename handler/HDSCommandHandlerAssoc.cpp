// S-VOL association and release: the job's S-VOLs are labelled, presented
// to the pre-snap host group and associated with their snapshots; on
// unassign they are dissociated, taken out of the pre-snap host group, given
// their former names back and deleted when the job created them.
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"

namespace {

using zrhds_handler::preSnapHostGroupName;

constexpr const char kCascadeLabelSuffix[] = "CASCADE";
constexpr int kPostDeleteWaitMinimumSecs = 3;

}  // namespace

bool ZRHDSCommandHandler::mapLdevsToTargetlessSnaps() { return changeAssociations(true); }

bool ZRHDSCommandHandler::unmapLdevsFromTargetlessSnaps() { return changeAssociations(false); }

// Associating acts on the records whose target is not associated yet,
// dissociating on those whose target is.
bool ZRHDSCommandHandler::changeAssociations(bool associate) {
  const char* const fn =
      associate ? "mapLdevsToTargetlessSnaps" : "unmapLdevsFromTargetlessSnaps";
  std::vector<const ZRHDSSnapInfo*> snaps;
  std::vector<HDSSnapshotPairRef> pairs;
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
    if (snap.snapMapped == associate) continue;
    snaps.push_back(&snap);
    pairs.push_back({snap.baseDevNo, snap.snapMu, snap.snapLdevId});
  }
  auto batch = [&](bool map, const std::vector<HDSSnapshotPairRef>& items,
                   std::vector<bool>& done) {
    return map ? m_pImplementer->mapSnapshotBatch(items, done)
               : m_pImplementer->unmapSnapshotBatch(items, done);
  };
  std::vector<bool> done;
  if (pairs.empty() || batch(associate, pairs, done) == 0) return true;
  for (size_t i = 0; i < snaps.size(); ++i) {
    if (done[i]) continue;
    logMessage(2, fn,
               associate ? "Failed to associated the target LDEV-[%s] to the snap-[%s*MU%s]."
                         : "Failed to disassociate the target LDEV-[%s] from the snap-[%s*MU%s].",
               snaps[i]->snapLdevId.c_str(), snaps[i]->baseDevNo.c_str(),
               snaps[i]->snapMu.c_str());
    break;
  }
  copyImplementerError();
  // Undo every change that took effect; the failed one's error stands.
  std::vector<HDSSnapshotPairRef> undo;
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (done[i]) undo.push_back(pairs[i]);
  }
  std::vector<bool> undone;
  if (undo.empty() || batch(!associate, undo, undone) == 0) return false;
  for (size_t i = 0; i < undo.size(); ++i) {
    if (undone[i]) continue;
    logMessage(2, fn,
               associate ? "Unable to disassociate LDEV from the MU-[%s]"
                         : "Unable to reassociate LDEV for the MU-[%s]",
               undo[i].mu.c_str());
  }
  return false;
}

bool ZRHDSCommandHandler::markSvolsUsedForSource() {
  static const char kFn[] = "markSvolsUsedForSource";
  const std::string cascadeLabel = std::string(ZR_HDS_SVOL_LABEL_PREFIX) + kCascadeLabelSuffix;
  bool allCascade = true;
  for (const ZRHDSSnapInfo& snap : *m_pSnaps)
    allCascade = allCascade && snap.svolLabel == cascadeLabel;
  const bool cascaded = m_pSnapOptions->cascadedClone;

  if (!cascaded || !allCascade) {
    // S-VOLs created by this allocation got their labels as they were made.
    std::vector<ZRHDSSnapInfo> unlabelled;
    for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
      if (m_oLabelledAtCreation.count(snap.snapLdevId) == 0) unlabelled.push_back(snap);
    }
    logMessage(1, kFn, "Going to label [%d] S-VOLs to be used by the job.",
               static_cast<int>(unlabelled.size()));
    if (!unlabelled.empty() && m_pImplementer->modifySvolLabel(unlabelled, false) != 0) {
      return copyImplementerError();
    }
    for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
      logMessage(1, kFn, "S-VOL-[%s:%s] was labelled as [%s]", snap.snapLdevId.c_str(),
                 snap.snapOriginalName.c_str(), snap.svolLabel.c_str());
    }
  }
  // Cascaded S-VOLs are not presented to the pre-snap host group.
  if (cascaded) return true;
  std::string hostGroup = preSnapHostGroupName(*m_pSnapOptions);
  if (!findHostGroup(m_pSnapOptions->preSnapPort, hostGroup)) return false;
  if (!noteSvolHostGroups({m_pSnapOptions->preSnapPort + "-" + hostGroup})) return false;
  return mapDevicesToHostGroup(m_pSnapOptions->preSnapPort, hostGroup);
}

bool ZRHDSCommandHandler::deallocateTargetDevices() {
  if (!freeSvolsForSource()) return false;
  if (!deleteSvolsForSource()) return false;
  logMessage(1, "deallocateTargetDevices",
             "Finished deallocating the S-VOLs for the source devices.");
  return true;
}

bool ZRHDSCommandHandler::freeSvolsForSource() {
  logMessage(1, "freeSvolsForSource", "Going to unmap [%d] S-VOLs from PreSnap HostGroup.",
             static_cast<int>(m_pSnaps->size()));
  std::vector<size_t> records;
  for (size_t i = 0; i < m_pSnaps->size(); ++i) {
    if (!(*m_pSnaps)[i].snapLdevId.empty()) records.push_back(i);
  }
  return releaseSvols(records);
}

// Only a path in the pre-snap host group is removed. An S-VOL with any
// other path is presented to a host: the release is refused before any
// S-VOL of the job is changed.
bool ZRHDSCommandHandler::releaseSvols(const std::vector<size_t>& records) {
  static const char kFn[] = "freeSvolsForSource";
  const std::string preSnapName = preSnapHostGroupName(*m_pSnapOptions);
  // Port -> GID of the pre-snap host group there ("" when it has none).
  std::map<std::string, std::string> preSnapGid;
  auto preSnapGidOn = [&](const std::string& port, std::string& gid) {
    const auto known = preSnapGid.find(port);
    if (known != preSnapGid.end()) {
      gid = known->second;
      return true;
    }
    HDSPortInfo info;
    if (m_pImplementer->getPortHostGroupList(port, "", info, false, "", m_pSnapOptions->isVSM) !=
        0) {
      return false;
    }
    gid.clear();
    for (const HDSHostGroupInfo& group : info.hostGroups) {
      if (group.hostGroupName == preSnapName) gid = group.hostGroupId;
    }
    preSnapGid[port] = gid;
    return true;
  };

  // The S-VOLs' paths, read with one listing now, under the lock.
  std::vector<std::string> ids;
  for (size_t index : records) ids.push_back((*m_pSnaps)[index].snapLdevId);
  std::map<std::string, HDSLdevInfo> listed;
  if (!listLdevs(ids, listed)) return false;
  std::vector<std::tuple<std::string, std::string, std::string>> unmaps;  // port, GID, LDEV
  std::vector<ZRHDSSnapInfo> relabel;
  for (size_t index : records) {
    const ZRHDSSnapInfo& snap = (*m_pSnaps)[index];
    const HDSLdevInfo& ldev = listed[snap.snapLdevId];
    // A label is put back only on an LDEV chosen among existing ones. One
    // the job created keeps the job's label until its deletion, so that an
    // S-VOL whose deletion fails is still found as the job's; one of unknown
    // origin (found associated, its map record refused or lost) is kept and
    // keeps the label it has, the only trace of the job that may have made it.
    if (snap.snapOriginalState == ZR_HDS_SNAP_ORIGINAL_STATE_OLD) relabel.push_back(snap);
    if (ldev.ports.empty()) {
      logMessage(2, kFn, "The LDEV is not mapped to any HostGroups.");
      continue;
    }
    std::string gid;
    if (ldev.ports.size() == 1 && !preSnapGidOn(ldev.ports[0].port, gid)) {
      return copyImplementerError();
    }
    if (ldev.ports.size() > 1 || gid.empty() || gid != ldev.ports[0].hostGroupId) {
      logMessage(2, kFn, "The LDEV is mapped to [%d] HostGroups. Not going to free it.",
                 static_cast<int>(ldev.ports.size()));
      return refusePresentedSvol(snap.snapLdevId, ldev.ports);
    }
    unmaps.emplace_back(ldev.ports[0].port, gid, snap.snapLdevId);
  }

  for (const auto& path : unmaps) {
    const std::string& port = std::get<0>(path);
    const std::string& gid = std::get<1>(path);
    const std::string& ldev = std::get<2>(path);
    if (!unmapDeviceFromHostGroup(port, gid, ldev)) {
      logMessage(2, kFn, "Failed to unmap S-VOL-[%s] from the PreSnap HostGroup-[%s-%s]",
                 ldev.c_str(), port.c_str(), gid.c_str());
      return false;
    }
  }
  const int count = static_cast<int>(m_pSnaps->size());
  logMessage(1, kFn, "Successfully unmapped [%d] S-VOLs from the PreSnap HostGroups", count);
  logMessage(1, kFn, "Going to re-label [%d] S-VOLs.", count);
  if (!relabel.empty() && m_pImplementer->modifySvolLabel(relabel, true) != 0) {
    return copyImplementerError();
  }
  logMessage(1, kFn, "Successfully re-labelled [%d] S-VOLs.", count);
  return true;
}

// The refusal carries its own reason: an error pair left by an earlier step
// (an unmap that a retry got past) says nothing of this one.
bool ZRHDSCommandHandler::refusePresentedSvol(const std::string& svol,
                                              const std::vector<HDSLunInfo>& paths) {
  static const char kFn[] = "freeSvolsForSource";
  if (paths.size() == 1) {
    const std::string path = paths[0].port + "-" + paths[0].hostGroupId;
    logMessage(2, kFn, "S-VOL-[%s] is mapped to HostGroup-[%s], not the PreSnap HostGroup.",
               svol.c_str(), path.c_str());
    return fail(ZR_HDS_ERR_UNMAP, "S-VOL-[" + svol + "] is mapped to HostGroup-[" + path +
                                      "], not the PreSnap HostGroup. It is not freed.");
  }
  return fail(ZR_HDS_ERR_UNMAP, "S-VOL-[" + svol + "] is mapped to [" +
                                    std::to_string(paths.size()) +
                                    "] HostGroups, not only the PreSnap HostGroup. It is not freed.");
}

// Only S-VOLs that the job created are deleted: one chosen among existing
// LDEVs, or found associated without a recorded origin, may be an
// administrator's volume.
bool ZRHDSCommandHandler::deleteSvolsForSource() {
  static const char kFn[] = "deleteSvolsForSource";
  logMessage(1, kFn, "Going to delete the target volumes allocated for the snaps.");
  std::vector<size_t> records;
  for (size_t i = 0; i < m_pSnaps->size(); ++i) {
    const ZRHDSSnapInfo& snap = (*m_pSnaps)[i];
    if (snap.snapLdevId.empty()) continue;
    if (snap.snapOriginalState == ZR_HDS_SNAP_ORIGINAL_STATE_NEW) {
      records.push_back(i);
    } else if (snap.snapOriginalState.empty()) {
      logKeptSvolOfUnknownOrigin(snap);
    } else {
      logMessage(1, kFn, "S-VOL-[%s] was not created by the job (origin-[%s]). Keeping it.",
                 snap.snapLdevId.c_str(), snap.snapOriginalState.c_str());
    }
  }
  return deleteSvolsOfRecords(records);
}

void ZRHDSCommandHandler::logKeptSvolOfUnknownOrigin(const ZRHDSSnapInfo& snap) {
  const std::string options = adminCommandOptions();
  const char* ldev = snap.snapLdevId.c_str();
  logMessage(1, "deleteSvolsForSource",
             "S-VOL-[%s] [%s] of P-VOL-[%s] MU-[%s] has no recorded origin (the map record that "
             "named it was refused or lost): it is kept with its label, dissociated and out of "
             "the PreSnap HostGroup. If the job created it, an administrator removes it: raidcom "
             "get ldev -ldev_id %s%s (its PORTs and label), raidcom delete lun -port "
             "<port>-<gid> -ldev_id %s%s for each path, raidcom delete ldev -ldev_id %s%s.",
             ldev, snap.svolLabel.c_str(), snap.baseDevNo.c_str(), snap.snapMu.c_str(), ldev,
             options.c_str(), ldev, options.c_str(), ldev, options.c_str());
}

bool ZRHDSCommandHandler::deleteSvolsOfRecords(const std::vector<size_t>& records) {
  static const char kFn[] = "deleteSvolsForSource";
  int waitSecs = kPostDeleteWaitMinimumSecs;
  bool waiting = true;
  const int disable = readSetting("nZRHDSDisableWaitAfterDelete", 0);
  if (disable > 0) {
    waiting = false;
    logMessage(1, kFn,
               "Registry key to disable wait after single V-VOL deletion is set. Value=[%d]",
               disable);
  }
  const int configured = readSetting("nZRHDSPostDeleteWaitTimeInSecs", kPostDeleteWaitMinimumSecs);
  if (configured > kPostDeleteWaitMinimumSecs) {
    waitSecs = configured;
    logMessage(1, kFn, "Registry key for post delete wait time is set. Value=[%d]", configured);
  }
  std::vector<std::string> ldevs;
  for (size_t index : records) ldevs.push_back((*m_pSnaps)[index].snapLdevId);
  // A mark of the record left on an id whose LDEV is gone could pass
  // someone's later LDEV there for the job's: an S-VOL whose mark cannot be
  // taken back stays, labelled, for the recovery of a later job.
  bool left = false;
  if (!unmarkSvols(ldevs, false)) {
    left = true;
    std::vector<std::string> unmarked;
    for (const std::string& id : ldevs) {
      if (m_oMarkedSvols.count(id) == 0) {
        unmarked.push_back(id);
        continue;
      }
      logMessage(1, kFn,
                 "S-VOL-[%s] is left for the recovery of a later job: the record of this job's "
                 "new S-VOLs could not be brought up to date.",
                 id.c_str());
    }
    ldevs = unmarked;
  }
  // On a virtual storage machine the array needs a pause after each
  // deletion.
  const int pause = m_pSnapOptions->isVSM && waiting ? waitSecs : 0;
  std::vector<bool> deleted;
  if (!ldevs.empty() && m_pImplementer->deleteSvolBatch(ldevs, pause, deleted) != 0) {
    return copyImplementerError();
  }
  return !left || fail(ZR_HDS_ERR_ARRAY_COMMAND,
                       "Failed to update the record of the job's new S-VOLs before deleting them.");
}
