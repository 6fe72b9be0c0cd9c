// Discovery of the job's GAD pairs, of its TrueCopy / Universal Replicator
// pairs in the configured copy group, and of a virtual storage machine.
#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"
#include "host/ZRSOSnapInfo.h"

namespace {

using zrhds_handler::upper;

using namespace zrhds_handler;

constexpr int kErrorLdevInfo = 4;
constexpr int kErrorPairs = 5;
constexpr int kErrorNoCopyGroup = 15;
constexpr int kErrorCopyGroupMu = 16;
constexpr int kErrorResourceGroup = 1;
// Mirror units a replication pair can be found in.
constexpr int kMirrorUnits = 3;
// Replication kinds of a record: a synchronous pair, and any other.
constexpr int kReplicationSynchronous = 2;
constexpr int kReplicationAsynchronous = 1;
constexpr int kGadSidePvol = 1;
constexpr int kGadSideSvol = 2;

// Only an "ASYNC" fence makes an asynchronous pair; "DATA", "STATUS" and
// "NEVER" are the fences of synchronous ones.
int replicationKindOfFence(const std::string& fence) {
  return upper(fence) == "ASYNC" ? kReplicationAsynchronous : kReplicationSynchronous;
}

}  // namespace

bool ZRHDSCommandHandler::readSourceLdev(const ZRHDSSnapInfo& snap, HDSLdevInfo& ldev) {
  std::vector<HDSLdevInfo> query(1);
  query[0].serial = snap.baseSerialNo;
  query[0].ldevId = snap.baseDevNo;
  if (m_pImplementer->getLdevInfo(query) != 0) {
    return copyImplementerErrorOr(kErrorLdevInfo,
                                  "Failed to get LDEV information for device-" + snap.sourceDevice);
  }
  ldev = query[0];
  return true;
}

bool ZRHDSCommandHandler::collectPairCandidates(const ZRHDSSnapInfo& snap, const HDSLdevInfo& ldev,
                                                PairsByHostGroup& byHostGroup,
                                                std::vector<HDSPairInfo>& candidates,
                                                const char* method) {
  for (const HDSLunInfo& path : ldev.ports) {
    const std::string key = path.port + "-" + path.hostGroupId;
    logMessage(0, method, "Source Device-[%s], HostGroup-[%s]", ldev.ldevId.c_str(), key.c_str());
    if (byHostGroup.count(key) != 0) continue;
    std::vector<HDSPairInfo> rows;
    if (m_pImplementer->getRemotePairInfoForHostGroup(key, rows) != 0) {
      return copyImplementerErrorOr(
          kErrorPairs, "Failed to get Pair information fromm the HostGroup-[" + key + "].");
    }
    byHostGroup[key] = std::move(rows);
  }
  candidates.clear();
  std::set<int> mirrorUnits;
  for (const auto& entry : byHostGroup) {
    for (const HDSPairInfo& row : entry.second) {
      if (row.ldevId != snap.baseDevNo) continue;
      // The same pair seen through another host group of the source.
      if (!mirrorUnits.insert(row.muNumber).second) continue;
      candidates.push_back(row);
    }
  }
  return true;
}

void ZRHDSCommandHandler::logPairRow(const char* method, const HDSPairInfo& row) {
  logMessage(1, method,
             "LDEV-[%s], MU#-[%d], Partner LDEV-[%s], RCU-[%s], FENCE-[%s], PAIR STATUS-[%s], Vol "
             "Attr-[%s]",
             row.ldevId.c_str(), row.muNumber, row.partnerLdevId.c_str(), row.rcuSerial.c_str(),
             row.fence.c_str(), row.pairStatus.c_str(), row.volAttr.c_str());
}

bool ZRHDSCommandHandler::getGADPairInfoForDevices() {
  static const char* const kFn = "getGADPairInfoForDevices";
  std::vector<ZRHDSSnapInfo>& snaps = *m_pSnaps;
  PairsByHostGroup byHostGroup;
  std::vector<HDSPairInfo> candidates;
  for (size_t i = 0; i < snaps.size(); ++i) {
    ZRHDSSnapInfo& snap = snaps[i];
    HDSLdevInfo ldev;
    if (!readSourceLdev(snap, ldev)) return false;
    if (i == 0) {
      if ((ldev.volAttr & kLdevAttrGad) == 0) {
        return fail(kErrorPairs, "The source device-" + snap.sourceDevice +
                                     " is not GAD enabled. All devices need to be GAD enabled.");
      }
      // The pair listing keeps S-VOL rows only for GAD jobs.
      for (ZRHDSSnapInfo& s : snaps) {
        if (s.snapInfo != nullptr) s.snapInfo->setReplicationType(ZRSO::REPLICATION_TYPE_GAD);
      }
    }
    if (!collectPairCandidates(snap, ldev, byHostGroup, candidates, kFn)) return false;

    bool found = false;
    for (const HDSPairInfo& row : candidates) {
      logPairRow(kFn, row);
      if (row.pairStatus != ZR_HDS_PAIR_STATE_PAIR) continue;
      logMessage(1, kFn, "Found MU#-[%d] which contains GAD pair info for the source device-[%s]",
                 row.muNumber, snap.baseDevNo.c_str());
      logMessage(1, kFn, "REPLICATION INFO : MU-[%d], RCU-[%s], Fence-[%s]", row.muNumber,
                 row.rcuSerial.c_str(), row.fence.c_str());
      snap.rcuBaseSerialNo = row.rcuSerial;
      snap.rcuBaseDevNo = row.partnerLdevId;
      snap.replicationMu = row.muNumber;
      if (row.volAttr == "P-VOL") snap.gadSide = kGadSidePvol;
      if (row.volAttr == "S-VOL") snap.gadSide = kGadSideSvol;
      found = true;
      break;
    }
    if (!found) {
      logMessage(2, kFn, "No valid GAD pair configuration found for the source device-[%s].",
                 snap.baseDevNo.c_str());
      return fail(kErrorPairs,
                  "No valid GAD configuration found for source device-" + snap.baseDevNo);
    }
  }
  return true;
}

bool ZRHDSCommandHandler::getReplPairInfoForDevices() {
  static const char* const kFn = "getReplPairInfoForDevices";
  std::vector<ZRHDSSnapInfo>& snaps = *m_pSnaps;
  const std::string& name = m_pSnapOptions->copyGroup;
  std::vector<HDSCopyGroup> copyGroups;
  if (m_pImplementer->getCopyGroup(copyGroups, name) != 0) return copyImplementerError();
  if (copyGroups.empty()) {
    logMessage(2, kFn, "Replication CopyGroup-[%s] doesn't exist.", name.c_str());
    return fail(kErrorNoCopyGroup, "Replication CopyGroup-[" + name + "] doesn't exist.");
  }
  // A copy group lists one row per device group; only a side created with
  // a mirror unit shows one (the other prints MU "-"): take the first row
  // that names an MU, else the first row.
  const auto withMu = std::find_if(copyGroups.begin(), copyGroups.end(),
                                   [](const HDSCopyGroup& g) { return g.muNumber >= 0; });
  const HDSCopyGroup& copyGroup = withMu != copyGroups.end() ? *withMu : copyGroups.front();
  logMessage(1, kFn,
             "Replication CopyGroup-[%s], DeviceGroup-[%s], MirrorUnit-[%d], JournalId-[%d]",
             copyGroup.copyGroupName.c_str(), copyGroup.ldevGroupName.c_str(), copyGroup.muNumber,
             copyGroup.journalId);

  // Per MU, one row per source LDEV: records that share a source and a
  // source seen through several host groups count once.
  std::map<int, std::vector<HDSPairInfo>> byMu;
  std::set<std::string> sources;
  PairsByHostGroup byHostGroup;
  std::vector<HDSPairInfo> candidates;
  for (const ZRHDSSnapInfo& snap : snaps) {
    sources.insert(snap.baseDevNo);
    HDSLdevInfo ldev;
    if (!readSourceLdev(snap, ldev)) return false;
    if (!collectPairCandidates(snap, ldev, byHostGroup, candidates, kFn)) return false;
    for (const HDSPairInfo& row : candidates) {
      std::vector<HDSPairInfo>& list = byMu[row.muNumber];
      bool listed = std::any_of(list.begin(), list.end(),
                                [&](const HDSPairInfo& r) { return r.ldevId == row.ldevId; });
      if (!listed) list.push_back(row);
    }
  }
  const int needed = static_cast<int>(sources.size());

  int chosen = -1;
  std::vector<HDSPairInfo> distinct;
  for (int mu = 0; mu < kMirrorUnits && chosen < 0; ++mu) {
    const std::vector<HDSPairInfo>& list = byMu[mu];
    if (list.empty()) {
      logMessage(1, kFn, "MU-[%d] is empty and can't be used.", mu);
      continue;
    }
    if (static_cast<int>(list.size()) < needed) {
      logMessage(1, kFn,
                 "Only [%d] pairs are found in mirror-[%d] for [%d] P-VOLs. Need to add more pairs "
                 "to the MU.",
                 static_cast<int>(list.size()), mu, needed);
      continue;
    }
    distinct.clear();
    for (const HDSPairInfo& row : list) {
      logPairRow(kFn, row);
      const char* refusal = nullptr;
      if (row.pairStatus != ZR_HDS_PAIR_STATE_PAIR) {
        refusal = "MU-[%d] will not be used as P-VOL-[%s] is not in PAIR state.";
      } else if (row.fence != list.front().fence) {
        refusal = "MU-[%d] P-VOL-[%s] has a different SYNC type than other devices in this backup.";
      } else if (row.rcuSerial != list.front().rcuSerial) {
        refusal =
            "MU-[%d] P-VOL-[%s] is paired to a different RCU than the other devices in this "
            "backup.";
      }
      if (refusal != nullptr) {
        logMessage(1, kFn, refusal, mu, row.ldevId.c_str());
        break;
      }
      distinct.push_back(row);
    }
    if (static_cast<int>(distinct.size()) == needed) {
      chosen = mu;
      logMessage(1, kFn, "Found MU-[%d] which contains TC/HUR pairs for all the Source P-VOLs.",
                 mu);
      logMessage(1, kFn, "REPLICATION INFO : MU-[%d], RCU-[%s], Fence-[%s]", mu,
                 distinct.front().rcuSerial.c_str(), distinct.front().fence.c_str());
    } else {
      logMessage(1, kFn, "Only [%d] valid S-VOLs are found in MU-[%d] for [%d] P-VOLs.",
                 static_cast<int>(distinct.size()), mu, needed);
    }
  }
  if (chosen < 0 || chosen != copyGroup.muNumber) {
    logMessage(2, kFn, "CopyGroup-[%s] with MU-[%d] cannot be used for replication.", name.c_str(),
               copyGroup.muNumber);
    return fail(kErrorCopyGroupMu, "CopyGroup-[" + name + "] with MU-[" +
                                       std::to_string(copyGroup.muNumber) + "] cannot be used.");
  }
  for (const HDSPairInfo& row : distinct) {
    for (ZRHDSSnapInfo& snap : snaps) {
      if (snap.baseDevNo != row.ldevId) continue;
      snap.rcuBaseSerialNo = row.rcuSerial;
      snap.rcuBaseDevNo = row.partnerLdevId;
      snap.replicationMu = row.muNumber;
      snap.replicationType = replicationKindOfFence(row.fence);
    }
  }
  return true;
}

bool ZRHDSCommandHandler::checkIfVirtualArray() {
  std::vector<ZRHDSSnapInfo>& snaps = *m_pSnaps;
  std::vector<HDSLdevInfo> ldevs;
  for (const ZRHDSSnapInfo& snap : snaps) {
    HDSLdevInfo ldev;
    ldev.serial = snap.baseSerialNo;
    ldev.ldevId = snap.baseDevNo;
    ldevs.push_back(ldev);
  }
  if (m_pImplementer->getLdevInfo(ldevs) != 0) return copyImplementerError();
  std::map<std::string, ResourceGroupInfo> groups;
  if (m_pImplementer->getResourceGroupInfo(groups, true) != 0) return copyImplementerError();
  if (ldevs.empty()) return true;

  const HDSLdevInfo& first = ldevs.front();
  if (first.virtualLdevId.empty() || first.resourceGroupId == 0) return true;
  auto match = std::find_if(groups.begin(), groups.end(), [&](const auto& entry) {
    return entry.second.resourceGroupId == first.resourceGroupId;
  });
  if (match == groups.end()) {
    return fail(kErrorResourceGroup, "Failed to get resource group information.");
  }
  ZRHDSSnapOptions& options = *m_pSnapOptions;
  options.isVSM = true;
  options.resourceGroup = match->first;
  // With the key option the listing's columns are the virtual serial and
  // the virtual model.
  options.modelNo = match->second.lockOwner;
  for (ZRHDSSnapInfo& snap : snaps) {
    snap.vsmSerialNo = match->second.lockStatus;
    auto own = std::find_if(ldevs.begin(), ldevs.end(),
                            [&](const HDSLdevInfo& l) { return l.ldevId == snap.baseDevNo; });
    if (own != ldevs.end()) snap.vsmDevNo = own->virtualLdevId;
  }
  return true;
}
