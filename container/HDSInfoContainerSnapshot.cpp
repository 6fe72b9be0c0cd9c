// Snapshot operations of the container: prepare, create, revert, reconcile
// and the Q-marker commit wait. Each is a fixed sequence of handler steps.
#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "container/HDSInfoContainer.h"
#include "container/HDSInfoContainerInternal.h"
#include "handler/HDSCommandHandler.h"
#include "host/ZRPlatformInfo.h"
#include "util/HDSCLIUtils.h"

int ZRHDSInfoContainer::Prepare() {
  if (!ready()) return 0;
  std::vector<HDSLdevInfo> ldevs;
  if (!m_pCommandHandler->checkAndVerifySourceDevices(ldevs)) {
    takeHandlerError(6, "Failed to get the LDEV information for the source devices.");
    return 0;
  }
  if (!m_pCommandHandler->checkAndVerifyPoolStatus()) {
    takeHandlerError(7, "Failed to get the Pool information.");
    return 0;
  }
  if (!m_pCommandHandler->lockResource(false)) {
    takeHandlerError(8, "Failed to lock the resource group.");
    return 0;
  }

  // A stored MU names an older snapshot of the source; only the read-back of
  // this creation may give a record its MU, so that a clean-up can never
  // delete a snapshot this call did not add.
  for (ZRHDSSnapInfo& snap : m_oSnapInfoList) snap.snapMu.clear();
  const bool created = m_pCommandHandler->createTargetlessSnap();
  if (!created) {
    takeHandlerError(ZR_HDS_ERR_PREPARE, "Failed Create Targetless Snapshot.");
    int cleanUp = 1;
    ZRPlatformInfo settings;
    settings.getRegInt("~Tessavon", "nZRHDSDoNotCleanUpOnPrePareFailure", &cleanUp);
    if (cleanUp >= 1) {
      if (!m_pCommandHandler->deleteTargetlessSnap()) {
        ZRHDS_CONTAINER_LOG(2, "Prepare",
                            "Error occurred during cleanup of Targetless snaps. Please manually "
                            "check and remove the snaps, if it exists.");
      }
    } else {
      ZRHDS_CONTAINER_LOG(1, "Prepare",
                          "The registry key to disable cleanup, in case of Prepare failures, is "
                          "set.");
      // The pairs stay for inspection, so no later job removes them.
      m_pCommandHandler->forgetIntents();
    }
  }
  unlockIgnoringFailure(false, "ZRHDSInfoContainer::Prepare");
  return created ? 1 : 0;
}

int ZRHDSInfoContainer::Create() {
  if (!ready()) return 0;
  // Every snapshot group the records name takes its snapshot data; a
  // device without a group has no snapshot to create.
  std::vector<std::string> groups;
  for (const ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    if (snap.snapshotGroup.empty()) {
      const char* text = "SnapshotGroup information not available.";
      ZRHDS_CONTAINER_LOG(2, "Create", "%s", text);
      setErrorCodeString(ZR_HDS_ERR_CREATE, text);
      return 0;
    }
    if (std::find(groups.begin(), groups.end(), snap.snapshotGroup) == groups.end()) {
      groups.push_back(snap.snapshotGroup);
    }
  }
  // A group is the job's only when it holds the records' pairs.
  if (!m_pCommandHandler->proveStoredGroups()) {
    takeHandlerError(ZR_HDS_ERR_PREPARE, "Failed Create Targetless Snapshot.");
    return 0;
  }
  for (const std::string& group : groups) {
    m_oSnapOptions.snapshotGroup = group;
    if (!m_pCommandHandler->splitTargetLessSnaps()) {
      takeHandlerError(ZR_HDS_ERR_PREPARE, "Failed Create Targetless Snapshot.");
      return 0;
    }
  }
  m_oSnapOptions.snapshotGroup = groups.front();

  ZRSO::SnapInfo* first = m_oSnapInfoList.front().snapInfo;
  if (first->getReplicationType() == ZRSO::REPLICATION_TYPE_UNIVERSAL_REPLICATOR &&
      first->isReplicationEnabled() && m_eOperationType == OPERATION_TYPE_CREATE) {
    if (saveQMarker() == 0) return 0;
  }
  return 1;
}

int ZRHDSInfoContainer::Revert() {
  if (!ready()) return 0;
  if (!m_pCommandHandler->proveStoredGroups()) {
    takeHandlerError(ZR_HDS_ERR_REVERT, "Failed Revert from Targetless Snapshot.");
    return 0;
  }
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> groups;
  for (const ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    groups[snap.snapshotGroup].emplace_back(snap.snapMu, snap.baseDevNo);
  }
  if (!m_pCommandHandler->revertUsingTargetLessSnaps(groups)) {
    takeHandlerError(ZR_HDS_ERR_REVERT, "Failed Revert from Targetless Snapshot.");
    return 0;
  }
  return 1;
}

int ZRHDSInfoContainer::Reconcile() {
  if (!ready()) return 0;
  using PairKey = std::pair<std::string, std::string>;
  std::map<std::string, std::map<PairKey, bool>> groups;
  for (const ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    groups[snap.snapshotGroup][PairKey(snap.snapMu, snap.baseDevNo)] = true;
  }
  if (!m_pCommandHandler->reconcileSnapDevices(groups)) {
    takeHandlerError(9, "Failed reconcile Snap device information.");
    return 0;
  }
  for (const ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    const std::map<PairKey, bool>& pairs = groups[snap.snapshotGroup];
    auto it = pairs.find(PairKey(snap.snapMu, snap.baseDevNo));
    if (it != pairs.end() && !it->second) {
      snap.snapInfo->setStatus(ZRSO::SNAP_STATUS_NOT_CONFIRMED);
    }
  }
  return 1;
}

int ZRHDSInfoContainer::WaitForQmarkerCommit() {
  if (!ready()) return 0;
  ZRHDSMetadataInfo md;
  md.initialize();
  ZRHDSCLIUtils::getInfoFromReplicationMetadata(m_oSnapInfoList.front().snapInfo, md);
  if (md.qMarker.empty()) {
    ZRHDS_CONTAINER_LOG(2, "WaitForQmarkerCommit", "Received empty QMarker..");
    setErrorCodeString(zrhds_container::kErrEmptyQMarker, "Received empty QMarker.");
    return 0;
  }
  if (!m_pCommandHandler->waitForQMarkerCommit(md.qMarker)) {
    takeHandlerError();
    return 0;
  }
  return 1;
}

// The replication record (90) of a Universal Replicator source after a
// create: the copy group's current Q-marker and the instance to ask with.
int ZRHDSInfoContainer::saveQMarker() {
  static const char kFn[] = "ZRHDSInfoContainer::saveQMarker";
  if (!ready()) return 0;
  std::string qmarker;
  if (!m_pCommandHandler->getQMarker(qmarker)) {
    takeHandlerError(ZR_HDS_ERR_CREATE, "Failed to find the latest QMarker.");
    ZRHDS_CONTAINER_LOG(2, "saveQMarker", "%s", "Failed to find the latest QMarker.");
    return 0;
  }
  for (const ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    zrhds_container::MetadataText md(zrhds_container::kMaxReplicationText);
    md.add("18MC", snap.baseSerialNo);
    md.add("19MP", snap.baseDevNo);
    md.add("20QM", qmarker);
    md.add("21MH", m_oSnapOptions.horcmInst);
    if (!md.ok() ||
        snap.snapInfo->setMetadataByType(HDS_METADATA_REPLICATION, md.text().c_str()) != 0) {
      snap.snapInfo->log(2, kFn, " Failed to set HDS metadata [Id : %d] %s",
                         HDS_METADATA_REPLICATION, md.why().c_str());
      setErrorCodeString(ZR_HDS_ERR_PREPARE, "Failed to set HDS metadata.");
      return 0;
    }
    snap.snapInfo->log(1, kFn, "Saved Replication metadata-[%d]:[%s] for P-VOL-[%s]",
                       HDS_METADATA_REPLICATION, md.text().c_str(), snap.baseDevNo.c_str());
  }
  return 1;
}
