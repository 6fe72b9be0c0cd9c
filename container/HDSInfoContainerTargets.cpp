// Target operations of the container: assign (choose or create the S-VOLs
// and associate them), map (through host groups), unmap, unassign and
// delete. Each keeps the snap map record of every device up to date.
#include <map>
#include <string>
#include <vector>

#include "container/HDSInfoContainer.h"
#include "container/HDSInfoContainerInternal.h"
#include "handler/HDSCommandHandler.h"
#include "util/HDSCLIUtils.h"

using zrhds_container::kErrMapMetadata;
using zrhds_container::kNoHostGroups;

namespace {

// The stored "17HG" as a list; "" and "N/A" mean none.
std::vector<std::string> storedHostGroups(const ZRHDSMetadataInfo& md) {
  std::vector<std::string> list;
  if (!md.mappedHostGroups.empty() && md.mappedHostGroups != kNoHostGroups) {
    ZRHDSCLIUtils::convertHostGroupStringToVector(md.mappedHostGroups, list);
  }
  return list;
}

// The snap map record of id stored on snap's device; false when none or
// refused (then *refusal, when given, says why).
bool readMapRecord(const ZRHDSSnapInfo& snap, int id, ZRHDSMetadataInfo& md,
                   std::string* refusal = nullptr) {
  md.initialize();
  std::string why;
  if (ZRHDSCLIUtils::getInfoFromHostGroupMetadata(snap.snapInfo, static_cast<short>(id), md,
                                                  &why) == 0) {
    if (refusal != nullptr) *refusal = why;
    return false;
  }
  why = ZRHDSCLIUtils::mapRecordFault(md);
  if (refusal != nullptr) *refusal = why;
  return why.empty();
}

// The stored target of the same LDEV keeps its former label and origin.
void adoptStoredOrigin(ZRHDSSnapInfo& snap, const ZRHDSMetadataInfo& md) {
  if (!md.snapLdevId.empty() && md.snapLdevId == snap.snapLdevId) {
    snap.snapOriginalState = md.snapOriginalState;
    snap.snapOriginalName = md.snapOriginalName;
  }
}

// What the stored snap map records of one device say.
struct StoredMapping {
  std::vector<std::string> hostGroups;  // to unmap the target from
  bool named = false;                   // a record named a target
  int targetRecord = 0;                 // the record whose target was taken
  int refusedRecord = 0;                // a record that cannot be used
  std::string refusal;                  // why
};

// Takes the target of snap from its stored snap map records ids (those read
// are added to read) and the host groups to unmap it from. The record of
// the target the array associates (known at delete) wins, else one recorded
// with host groups; only host groups recorded for that target (or for none)
// count. A record that is cut, malformed or holds a value of the wrong
// shape stops the reading: nothing is adopted.
StoredMapping adoptStoredMapping(ZRHDSSnapInfo& snap, const std::vector<int>& ids,
                                 std::vector<int>& read) {
  StoredMapping out;
  std::vector<std::pair<int, ZRHDSMetadataInfo>> records;
  for (int id : ids) {
    ZRHDSMetadataInfo md;
    std::string refusal;
    if (!readMapRecord(snap, id, md, &refusal)) {
      if (refusal.empty()) continue;
      out.refusedRecord = id;
      out.refusal = refusal;
      return out;
    }
    read.push_back(id);
    records.emplace_back(id, md);
  }
  auto rank = [&](const ZRHDSMetadataInfo& md) {
    return (md.snapLdevId == snap.snapLdevId ? 2 : 0) + (storedHostGroups(md).empty() ? 0 : 1);
  };
  const ZRHDSMetadataInfo* target = nullptr;
  for (const auto& record : records) {
    const ZRHDSMetadataInfo& md = record.second;
    if (!md.snapLdevId.empty() && (target == nullptr || rank(md) > rank(*target))) {
      target = &md;
      out.targetRecord = record.first;
    }
  }
  out.named = target != nullptr;
  if (target != nullptr) {
    snap.snapOriginalName = target->snapOriginalName;
    snap.snapLdevId = target->snapLdevId;
    snap.snapVirLdevId = target->snapVirLdevId;
    snap.snapOriginalState = target->snapOriginalState;
  }
  for (const auto& record : records) {
    const ZRHDSMetadataInfo& md = record.second;
    if (target != nullptr && !md.snapLdevId.empty() && md.snapLdevId != target->snapLdevId) {
      continue;
    }
    zrhds_container::uniteHostGroups(out.hostGroups, storedHostGroups(md));
  }
  return out;
}

}  // namespace

int ZRHDSInfoContainer::Assign() {
  static const char kFn[] = "ZRHDSInfoContainer::Assign";
  if (!ready()) return 0;
  const int id = mapRecordId(OPERATION_TYPE_MAP);
  int count = 0;
  if (!m_pCommandHandler->checkAlreadyCreatedTargets(count)) {
    takeHandlerError(12,
                     "Failed to check if the targetless snaps are already mapped to LDEV or not.");
    return 0;
  }
  // A target the array already associates is the one recorded before: its
  // former label and origin stay as stored, so that an unassign never takes
  // an administrator's LDEV for one of ours.
  std::vector<ZRHDSMetadataInfo> stored(m_oSnapInfoList.size());
  for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
    ZRHDSSnapInfo& snap = m_oSnapInfoList[i];
    std::string refusal;
    if (readMapRecord(snap, id, stored[i], &refusal)) {
      if (snap.snapMapped) adoptStoredOrigin(snap, stored[i]);
    } else if (!refusal.empty()) {
      // Rewritten, it would forget a target it may name.
      return refuseRecord(snap.snapInfo, id, refusal);
    }
  }

  if (count == static_cast<int>(m_oSnapInfoList.size())) {
    ZRHDS_CONTAINER_LOG(1, "Assign",
                        "Found all target LDEVs for the snaps. Will proceed to mapping LDEVs..");
    for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
      const ZRHDSSnapInfo& snap = m_oSnapInfoList[i];
      std::string text;
      if (!writeMapRecord(snap, id, true, stored[i].mappedHostGroups, &text)) {
        snap.snapInfo->log(2, kFn, "Failed to set Map LDEV metadata-[%s] for device-[%s]",
                           text.c_str(), snap.svolLabel.c_str());
        setErrorCodeString(kErrMapMetadata, "Failed to set Map LDEV metadata.");
        return 0;
      }
      snap.snapInfo->log(1, kFn, "Generated Map LDEV metadata-[%s] for device-[%s]", text.c_str(),
                         snap.svolLabel.c_str());
      m_pCommandHandler->intentStored(i);
    }
    return 1;
  }

  std::vector<HDSLdevInfo> ldevs;
  if (!m_pCommandHandler->getFullLdevList(ldevs)) {
    takeHandlerError(11, "Failed to get the LDEV info for VIR_LDEV check.");
    return 0;
  }
  if (!m_pCommandHandler->lockResource(true)) {
    takeHandlerError(8, "Failed to lock the resource group.");
    return 0;
  }
  bool ok = m_pCommandHandler->allocateTargetDevices(ldevs);
  if (!ok) takeHandlerError(10, "Failed to allocate target LDEVs for the snaps.");
  // The chosen target is on record before the association, so a later
  // failure still leaves it known.
  for (size_t i = 0; ok && i < m_oSnapInfoList.size(); ++i) {
    const ZRHDSSnapInfo& snap = m_oSnapInfoList[i];
    if (snap.snapMapped) continue;
    std::string text;
    if (!writeMapRecord(snap, id, false, "", &text)) {
      snap.snapInfo->log(2, kFn, "Failed to set Map LDEV metadata-[%s] for device-[%s]",
                         text.c_str(), snap.svolLabel.c_str());
      setErrorCodeString(kErrMapMetadata, "Failed to set Map LDEV metadata.");
      ok = false;
      break;
    }
    snap.snapInfo->log(1, kFn, "Generated Map LDEV metadata-[%s] for device-[%s]", text.c_str(),
                       snap.svolLabel.c_str());
    m_pCommandHandler->intentStored(i);
  }
  if (ok && !m_pCommandHandler->mapLdevsToTargetlessSnaps()) {
    takeHandlerError(13, "Failed to associate target LDEVs to the snaps.");
    ok = false;
  }
  unlockIgnoringFailure(true, kFn);
  return ok ? 1 : 0;
}

int ZRHDSInfoContainer::Map(const std::vector<std::string>& initiators) {
  static const char kFn[] = "ZRHDSInfoContainer::Map";
  if (!ready()) return 0;
  const int id = mapRecordId(OPERATION_TYPE_MAP);
  m_oSnapOptions.initiators = initiators;
  std::vector<std::string> hostGroups;
  ZRHDSCLIUtils::convertHostGroupStringToVector(m_oSnapOptions.svolHostGroup, hostGroups);

  ZRSO::SnapInfo* first = m_oSnapInfoList.front().snapInfo;
  int source = 0, proxy = 0, mountHost = 0;
  if (first->getValueInt(ZRSO::GET_VALUE_SOURCE_CLIENT_ID, &source) != 0 ||
      first->getValueInt(ZRSO::GET_VALUE_PROXY_CLIENT_ID, &proxy) != 0 ||
      first->getValueInt(ZRSO::GET_VALUE_MOUNT_HOST_ID, &mountHost) != 0) {
    ZRHDS_CONTAINER_LOG(2, "Map", "Unable to fetch SourceClientId. Map will fail..");
    setErrorCodeString(ZR_HDS_ERR_MAP, "Unable to fetch SourceClientId.");
    return 0;
  }
  // The configured host groups present the S-VOLs to the client itself;
  // another mount host needs its own.
  if ((proxy > 0 && proxy != mountHost) || (proxy == 0 && source != mountHost)) {
    hostGroups.clear();
  }
  if (!m_pCommandHandler->findHostGroupToMap(hostGroups)) {
    takeHandlerError();
    return 0;
  }

  // Each device records what it was mapped to before together with the new
  // host groups; every record must fit before anything is mapped.
  std::vector<std::string> records(m_oSnapInfoList.size());
  for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
    const ZRHDSSnapInfo& snap = m_oSnapInfoList[i];
    ZRHDSMetadataInfo md;
    std::string refusal;
    if (!readMapRecord(snap, id, md, &refusal) && !refusal.empty()) {
      return refuseRecord(snap.snapInfo, id, refusal);
    }
    std::vector<std::string> united = storedHostGroups(md);
    if (!united.empty()) {
      snap.snapInfo->log(1, kFn, "Metadata indicates that the snaps were already mapped to [%s]",
                         md.mappedHostGroups.c_str());
    }
    zrhds_container::uniteHostGroups(united, hostGroups);
    if (!buildMapRecord(snap, true, ZRHDSCLIUtils::convertHostGroupVectorToString(united),
                        records[i])) {
      snap.snapInfo->log(2, kFn, "Failed to set Mapped HostGroup metadata-[%s] for device-[%s]",
                         records[i].c_str(), snap.svolLabel.c_str());
      setErrorCodeString(kErrMapMetadata, "Failed to set Mapped HostGroup metadata.");
      return 0;
    }
  }

  if (!m_pCommandHandler->lockResource(false)) {
    takeHandlerError(8, "Failed to lock the resource group.");
    return 0;
  }
  bool ok = true;
  for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
    const ZRHDSSnapInfo& snap = m_oSnapInfoList[i];
    snap.snapInfo->log(1, kFn, "Generated HostGroup metadata-[%s] for device-[%s]",
                       records[i].c_str(), snap.svolLabel.c_str());
    if (snap.snapInfo->setMetadata(id, records[i].c_str()) != 0) {
      snap.snapInfo->log(2, kFn, "Failed to set Mapped HostGroup metadata.");
      setErrorCodeString(kErrMapMetadata, "Failed to set Mapped HostGroup metadata.");
      ok = false;
      break;
    }
  }
  if (ok && !m_pCommandHandler->mapReplication(hostGroups)) {
    takeHandlerError();
    ok = false;
  }
  unlockIgnoringFailure(false, kFn);
  return ok ? 1 : 0;
}

int ZRHDSInfoContainer::getMappedSnapDiscoveryInfo(std::vector<ZRHDSMapDiscoveryInfo>& out) {
  for (const ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    ZRHDSMapDiscoveryInfo info;
    info.MSName = zrhds_container::readHostText(snap.snapInfo, &ZRSO::SnapInfo::getSnapName);
    info.MSNum = snap.snapLdevId;
    info.MSNumVSM = snap.snapVirLdevId;
    out.push_back(info);
  }
  return 1;
}

int ZRHDSInfoContainer::Unmap() {
  if (!ready()) return 0;
  return unmapRecords({mapRecordId(OPERATION_TYPE_UNMAP)});
}

bool ZRHDSInfoContainer::adoptStoredTargets(const std::vector<int>& ids,
                                            std::vector<std::vector<int>>& read,
                                            std::vector<std::string>& hostGroups,
                                            std::vector<bool>* named) {
  read.assign(m_oSnapInfoList.size(), {});
  hostGroups.assign(m_oSnapInfoList.size(), "");
  std::vector<int> targetRecords(m_oSnapInfoList.size(), 0);
  for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
    ZRHDSSnapInfo& snap = m_oSnapInfoList[i];
    const StoredMapping mapping = adoptStoredMapping(snap, ids, read[i]);
    if (!mapping.refusal.empty()) {
      refuseRecord(snap.snapInfo, mapping.refusedRecord, mapping.refusal);
      return false;
    }
    targetRecords[i] = mapping.targetRecord;
    hostGroups[i] = ZRHDSCLIUtils::convertHostGroupVectorToString(mapping.hostGroups);
    if (named != nullptr) named->push_back(mapping.named);
  }
  return proveStoredTargets(targetRecords);
}

bool ZRHDSInfoContainer::proveStoredTargets(const std::vector<int>& targetRecords) {
  std::vector<bool> fromRecord;
  for (int id : targetRecords) fromRecord.push_back(id != 0);
  std::vector<std::string> refusals;
  if (!m_pCommandHandler->proveStoredTargets(fromRecord, refusals)) {
    takeHandlerError(12, "Failed to check the stored targets of the snaps.");
    return false;
  }
  bool proved = true;
  for (size_t i = 0; i < m_oSnapInfoList.size() && i < refusals.size(); ++i) {
    if (refusals[i].empty()) continue;
    const ZRHDSSnapInfo& snap = m_oSnapInfoList[i];
    refuseRecord(snap.snapInfo, targetRecords[i],
                 "key 22LI holds [" + snap.snapLdevId + "], which " + refusals[i]);
    proved = false;
  }
  return proved;
}

int ZRHDSInfoContainer::unmapRecords(const std::vector<int>& ids) {
  static const char kFn[] = "ZRHDSInfoContainer::Unmap";
  std::vector<std::vector<int>> stored;
  std::vector<std::string> hostGroups;
  // Nothing a record names is acted on before it is proved to be the job's.
  if (!adoptStoredTargets(ids, stored, hostGroups, nullptr)) return 0;
  std::map<int, std::string> hostGroupsBySnapId;
  size_t nothingToUnmap = 0;
  for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
    ZRHDSSnapInfo& snap = m_oSnapInfoList[i];
    if (hostGroups[i].empty()) {
      snap.snapInfo->log(2, kFn, "No HostGroup set for the snap. Nothing to unmap..");
      snap.snapInfo->setStatus(ZRSO::SNAP_STATUS_UNMAPPED);
      ++nothingToUnmap;
    }
    hostGroupsBySnapId[snap.snapInfo->getSnapId()] = hostGroups[i];
  }
  if (nothingToUnmap == m_oSnapInfoList.size()) return 1;

  if (m_eOperationType == OPERATION_TYPE_UNMAP) {
    int flags = 0;
    if (m_pLogger->getValueInt(ZRSO::GET_SNAP_ACTION_FLAGS, &flags) != 0) {
      ZRHDS_CONTAINER_LOG(2, "Unmap", "Unable to get the Snap Action flags.");
      setErrorCodeString(ZR_HDS_ERR_MAP, "Unable to get the Snap Action flags.");
      return 0;
    }
    if ((flags & zrhds_container::kSnapActionSearchHostGroups) != 0 &&
        !m_pCommandHandler->getHostGroupsToUnmapForMNM(hostGroupsBySnapId)) {
      takeHandlerError();
      return 0;
    }
  }
  if (!m_pCommandHandler->lockResource(false)) {
    takeHandlerError(8, "Failed to lock the resource group.");
    return 0;
  }
  const bool ok = m_pCommandHandler->unmapReplication(hostGroupsBySnapId);
  if (!ok) takeHandlerError();
  unlockIgnoringFailure(false, kFn);
  if (!ok) return 0;

  for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
    const ZRHDSSnapInfo& snap = m_oSnapInfoList[i];
    if (snap.snapInfo->getStatus() == ZRSO::SNAP_STATUS_UNMAPPED) continue;
    for (int id : stored[i]) {
      if (!writeMapRecord(snap, id, true, kNoHostGroups, nullptr)) {
        snap.snapInfo->log(2, kFn, "Failed to set Unmapped HostGroup metadata.");
      }
    }
    snap.snapInfo->setStatus(ZRSO::SNAP_STATUS_UNMAPPED);
  }
  return 1;
}

int ZRHDSInfoContainer::Unassign() {
  static const char kFn[] = "ZRHDSInfoContainer::Unassign";
  if (!ready()) return 0;
  const int id = mapRecordId(OPERATION_TYPE_UNMAP);
  for (ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    snap.snapInfo->setStatus(ZRSO::SNAP_STATUS_UNMAP_PENDING);
  }
  int count = 0;
  if (!m_pCommandHandler->checkTargetVolumeStatusForUnmap(count)) {
    takeHandlerError(12,
                     "Failed to check if the targetless snaps are already mapped to LDEV or not.");
    return 0;
  }
  for (ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    if (snap.snapInfo->getStatus() == ZRSO::SNAP_STATUS_UNMAPPED) snap.snapLdevId.clear();
    int flags = 0;
    if (snap.snapInfo->getValueInt(ZRSO::GET_SNAP_ACTION_FLAGS, &flags) != 0) {
      snap.snapInfo->log(2, kFn, "Unable to get the Snap Action flags.");
      setErrorCodeString(ZR_HDS_ERR_MAP, "Unable to get the Snap Action flags.");
      return 0;
    }
    if ((flags & zrhds_container::kSnapActionSearchHostGroups) != 0 &&
        snap.snapOriginalState.empty()) {
      snap.snapLdevId.clear();
    }
  }
  if (count == 0) {
    ZRHDS_CONTAINER_LOG(1, "Unassign", "There are no target LDEVs to unassign.");
  } else if (!releaseTargets(nullptr, kFn)) {
    return 0;
  }
  for (ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    writeEmptiedMapRecord(snap.snapInfo, id, kFn);
    snap.snapInfo->setStatus(ZRSO::SNAP_STATUS_UNMAPPED);
  }
  return 1;
}

bool ZRHDSInfoContainer::releaseTargets(const std::map<int, std::string>* hostGroupsBySnapId,
                                        const char* function) {
  if (!m_pCommandHandler->lockResource(true)) {
    takeHandlerError(8, "Failed to lock the resource group.");
    return false;
  }
  bool ok = true;
  if (hostGroupsBySnapId != nullptr && !m_pCommandHandler->unmapReplication(*hostGroupsBySnapId)) {
    takeHandlerError();
    ok = false;
  } else if (!m_pCommandHandler->unmapLdevsFromTargetlessSnaps()) {
    takeHandlerError(15, "Failed to dissociate target LDEVs to the snaps.");
    ok = false;
  } else if (!m_pCommandHandler->deallocateTargetDevices()) {
    takeHandlerError(10, "Failed to deallocate target LDEVs for the snaps.");
    ok = false;
  }
  unlockIgnoringFailure(true, function);
  return ok;
}

void ZRHDSInfoContainer::writeEmptiedMapRecord(ZRSO::SnapInfo* device, int id,
                                               const char* function) {
  ZRHDSSnapInfo emptied;
  emptied.snapInfo = device;
  if (!writeMapRecord(emptied, id, true, kNoHostGroups, nullptr)) {
    device->log(2, function, "Failed to set Unmapped HostGroup metadata.");
  }
}

int ZRHDSInfoContainer::Delete() {
  if (!ready()) return 0;
  int snaps = 0, targets = 0;
  if (!m_pCommandHandler->checkTargetVolumeStatusForDelete(snaps, targets)) {
    takeHandlerError(12,
                     "Failed to check if the targetless snaps are already mapped to LDEV or not.");
    return 0;
  }
  std::vector<bool> gone(m_oSnapInfoList.size());
  for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
    gone[i] = m_oSnapInfoList[i].snapInfo->getStatus() == ZRSO::SNAP_STATUS_DELETED;
  }
  if (targets > 0) {
    for (ZRHDSSnapInfo& snap : m_oSnapInfoList) {
      snap.snapInfo->setStatus(snap.snapMapped ? ZRSO::SNAP_STATUS_UNMAP_PENDING
                                               : ZRSO::SNAP_STATUS_UNMAPPED);
    }
    // A target may be presented through either pass of a map (ESX host
    // groups first, then the local ones): both records are unmapped.
    if (unmapRecords({HDS_METADATA_SNAP_MAP_FIRST, HDS_METADATA_SNAP_MAP}) == 0) {
      ZRHDS_CONTAINER_LOG(2, "Delete", "Unable to Unmap target volumes from the snaps.");
      for (ZRHDSSnapInfo& snap : m_oSnapInfoList) {
        snap.snapInfo->setStatus(ZRSO::SNAP_STATUS_DELETE_PENDING);
      }
      return 0;
    }
    // Deleted only once the pair is gone.
    for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
      m_oSnapInfoList[i].snapInfo->setStatus(gone[i] ? ZRSO::SNAP_STATUS_DELETED
                                                     : ZRSO::SNAP_STATUS_DELETE_PENDING);
    }
  }
  if (!releaseLeftTargets()) {
    ZRHDS_CONTAINER_LOG(2, "Delete", "Unable to release the target volumes of the snaps.");
    for (ZRHDSSnapInfo& snap : m_oSnapInfoList) {
      snap.snapInfo->setStatus(ZRSO::SNAP_STATUS_DELETE_PENDING);
    }
    return 0;
  }
  if (!m_pCommandHandler->deleteTargetlessSnap()) {
    takeHandlerError(16, "Failed to delete the targetless snaps.");
    ZRHDS_CONTAINER_LOG(2, "Delete", "Failed to delete the targetless snaps.");
    return 0;
  }
  for (ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    if (snap.snapInfo->getStatus() != ZRSO::SNAP_STATUS_DELETED && snap.snapMu.empty()) {
      snap.snapInfo->setStatus(ZRSO::SNAP_STATUS_DELETED);
    }
  }
  return 1;
}

// Targets that the job still holds when its snapshots are deleted (a map or
// unmap that stopped part way, a job killed between them, or a host that
// deletes without unmapping) are released as an unmap and unassign release
// them: taken out of the host groups recorded for them, dissociated, taken
// out of the pre-snap host group, given their former names back and deleted
// when the job created them. Only a target that a stored snap map record
// names and that still carries the job's label is touched; the statuses are
// left as the deletion set them.
bool ZRHDSInfoContainer::releaseLeftTargets() {
  static const char kFn[] = "ZRHDSInfoContainer::Delete";
  const std::vector<int> ids = {HDS_METADATA_SNAP_MAP_FIRST, HDS_METADATA_SNAP_MAP};
  std::vector<std::vector<int>> read;
  std::vector<std::string> hostGroups;
  std::vector<bool> named;
  std::vector<int> statuses(m_oSnapInfoList.size());
  for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
    statuses[i] = m_oSnapInfoList[i].snapInfo->getStatus();
  }
  if (!adoptStoredTargets(ids, read, hostGroups, &named)) return false;
  std::map<int, std::string> hostGroupsBySnapId;
  bool any = false;
  for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
    ZRHDSSnapInfo& snap = m_oSnapInfoList[i];
    hostGroupsBySnapId[snap.snapInfo->getSnapId()] = hostGroups[i];
    // A target only the array shows (no record of ours) is never touched.
    if (!named[i]) snap.snapLdevId.clear();
    any = any || named[i];
  }
  if (!any) return true;

  // The check marks unmapped (14) what is not the job's to act on; the
  // others are unmapped from their recorded host groups first.
  int count = 0;
  bool ok = m_pCommandHandler->checkTargetVolumeStatusForUnmap(count);
  if (!ok) {
    takeHandlerError(12,
                     "Failed to check if the targetless snaps are already mapped to LDEV or not.");
  } else {
    for (ZRHDSSnapInfo& snap : m_oSnapInfoList) {
      if (snap.snapInfo->getStatus() == ZRSO::SNAP_STATUS_UNMAPPED) {
        snap.snapLdevId.clear();
      } else {
        snap.snapInfo->setStatus(ZRSO::SNAP_STATUS_UNMAP_PENDING);
      }
    }
    if (count > 0) {
      ZRHDS_CONTAINER_LOG(1, "Delete", "Releasing [%d] target LDEVs that the snaps still hold.",
                          count);
      ok = releaseTargets(&hostGroupsBySnapId, kFn);
    }
  }
  for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
    m_oSnapInfoList[i].snapInfo->setStatus(statuses[i]);
  }
  if (!ok) return false;
  for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
    for (int id : read[i]) writeEmptiedMapRecord(m_oSnapInfoList[i].snapInfo, id, kFn);
  }
  return true;
}
