// S-VOL selection and creation: targets the array already associates with
// the job's snapshots, the array's LDEVs for the virtual-id clash test, and
// the choice (existing V-VOLs) or creation (free ids CU by CU) of one S-VOL
// per snapshot under the machine-wide S-VOL selection lock.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "array/HDSParseLdev.h"
#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"
#include "util/ZRHDSLock.h"

namespace {

constexpr int kLdevsPerCu = 256;
constexpr int kVolAttrVvol = 0x40;
// VOL_TYPE of an id that holds no LDEV, blanks removed.
// Virtual LDEV ids above this one are markers, not ids: the array gives a
// new LDEV its own id as virtual id then.
constexpr int kHighestVirtualLdevId = 65533;

// The S-VOL fields of one record, kept so a failed choice can be undone.
struct SvolChoice {
  std::string ldev;
  std::string virtualLdev;
  std::string formerLabel;
  std::string origin;
};

std::vector<SvolChoice> saveChoices(const std::vector<ZRHDSSnapInfo>& snaps) {
  std::vector<SvolChoice> saved;
  for (const ZRHDSSnapInfo& s : snaps) {
    saved.push_back({s.snapLdevId, s.snapVirLdevId, s.snapOriginalName, s.snapOriginalState});
  }
  return saved;
}

void restoreChoices(const std::vector<SvolChoice>& saved, std::vector<ZRHDSSnapInfo>& snaps) {
  for (size_t i = 0; i < saved.size() && i < snaps.size(); ++i) {
    snaps[i].snapLdevId = saved[i].ldev;
    snaps[i].snapVirLdevId = saved[i].virtualLdev;
    snaps[i].snapOriginalName = saved[i].formerLabel;
    snaps[i].snapOriginalState = saved[i].origin;
  }
}

// Reads a whole item of hexadecimal digits (blanks around it allowed);
// false for an empty item, any other character, or more than 7 digits.
bool readHex(std::string text, int& value) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
  if (text.size() > 7) return false;
  value = 0;
  for (char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    value = value * 16 + digit;
  }
  return true;
}

// The CUs of one item of the range text ("10" or "10-12"); false when the
// item is empty, unreadable, or names a CU at or above maxCU.
bool readCuItem(const std::string& item, int maxCU, std::set<std::string>& cus) {
  const size_t dash = item.find('-');
  int first = 0;
  int last = 0;
  if (dash == std::string::npos) {
    if (!readHex(item, first)) return false;
    last = first;
  } else if (!readHex(item.substr(0, dash), first) || !readHex(item.substr(dash + 1), last)) {
    return false;
  }
  if (first >= maxCU || last >= maxCU) return false;
  for (int cu = first; cu <= last; ++cu) cus.insert(std::to_string(cu));
  return true;
}

bool inCuSet(const std::string& ldevId, const std::set<std::string>& cus) {
  return cus.count(std::to_string(std::atoi(ldevId.c_str()) / kLdevsPerCu)) != 0;
}

// Id of the resource group named name; -1 (matching no LDEV) when unlisted.
int groupIdOf(const std::map<std::string, ResourceGroupInfo>& groups, const std::string& name) {
  const auto it = groups.find(name);
  return it == groups.end() ? -1 : it->second.resourceGroupId;
}

// The virtual id a new LDEV on this id gets: its own virtual id when it has
// a usable one, else the id itself.
std::string effectiveVirtualId(const HDSLdevInfo& candidate) {
  if (!candidate.virtualLdevId.empty() &&
      std::atoi(candidate.virtualLdevId.c_str()) <= kHighestVirtualLdevId) {
    return candidate.virtualLdevId;
  }
  return candidate.ldevId;
}

}  // namespace

// The sources are read with one listing of their span, each stored group
// once, and the targets found associated with one listing more.
bool ZRHDSCommandHandler::checkAlreadyCreatedTargets(int& count) {
  static const char kFn[] = "checkAlreadyCreatedTargets";
  count = 0;
  std::vector<std::string> sourceIds;
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) sourceIds.push_back(snap.baseDevNo);
  std::map<std::string, HDSLdevInfo> sources;
  if (!listLdevs(sourceIds, sources)) {
    logMessage(2, kFn, "Failed to get the LDEV info of the [%d] Source LDEVs",
               static_cast<int>(sourceIds.size()));
    return false;
  }
  // A pair is one P-VOL's MU in whatever group; one that its record's group
  // does not list is looked for by the source LDEV, as the array lists it.
  GroupListings groups;
  std::vector<ZRHDSSnapInfo*> associated;
  for (ZRHDSSnapInfo& snap : *m_pSnaps) {
    const HDSLdevInfo& source = sources[snap.baseDevNo];
    snap.mpBladeId = source.mpBladeId;
    snap.resourceGroupId = source.resourceGroupId;
    std::vector<HDSSnapshotGroupInfo> rows;
    if (!pairRowsOf(snap, groups, rows)) {
      logMessage(2, kFn, "Failed to get the pair information for the Source device-[%s]",
                 snap.baseDevNo.c_str());
      return copyImplementerError();
    }
    for (const HDSSnapshotGroupInfo& row : rows) {
      // Only the source's own P-VOL rows name its snapshots' targets, and
      // only in the group its record names.
      const std::string refusal = zrhds_handler::storedPairRefusal(snap, row);
      if (!refusal.empty()) return refuseStoredPair(snap, refusal);
      if (!row.isPvol || row.muNumber != snap.snapMu || row.partnerLdevId.empty()) continue;
      snap.snapLdevId = row.partnerLdevId;
      associated.push_back(&snap);
    }
  }
  std::vector<std::string> targetIds;
  for (const ZRHDSSnapInfo* snap : associated) targetIds.push_back(snap->snapLdevId);
  std::map<std::string, HDSLdevInfo> targets;
  if (!listLdevs(targetIds, targets)) {
    logMessage(2, kFn, "Failed to get the LDEV info of the [%d] target LDEVs associated with the "
               "Snaps", static_cast<int>(targetIds.size()));
    return false;
  }
  for (ZRHDSSnapInfo* snap : associated) {
    snap->snapVirLdevId = targets[snap->snapLdevId].virtualLdevId;
    snap->snapMapped = true;
    ++count;
  }
  logMessage(1, kFn, "Found [%d] target LDEVs associated with the Snaps.", count);
  return true;
}

bool ZRHDSCommandHandler::getFullLdevList(std::vector<HDSLdevInfo>& fullLdevList) {
  static const char kFn[] = "getFullLdevList";
  if (m_pSnapOptions->noVvolCreate || !m_pSnapOptions->isVSM) return true;
  if (readSetting("nZRHDSVirtualLdevIdClashFilterDisable", 0) >= 1) {
    logMessage(1, kFn,
               "The reg key to disable the VIR_LDEV filter is set. Will not fetch all LDEV info.");
    return true;
  }
  int maxLdev = 0;
  if (m_pImplementer->getMaxLdevNumber(maxLdev) != 0) {
    logMessage(2, kFn, "Unable to get the Maximum LDEV number for the array-[%s]",
               m_pSnapOptions->baseSerialNum.c_str());
  }
  char range[32];
  std::snprintf(range, sizeof(range), "%x-%x", 0, maxLdev);
  std::map<int, std::string> filter{{HDS_LDEV_FILTER_RANGE, range}};
  const int groupId = m_pSnaps->front().resourceGroupId;
  if (groupId != -1) filter[HDS_LDEV_FILTER_RESOURCE] = std::to_string(groupId);
  logMessage(1, kFn, "Fetching the LDEV info from the array to verify VIR_LDEV.");
  if (m_pImplementer->getLdevList(fullLdevList, filter) != 0) return copyImplementerError();
  return true;
}

// Rollbacks touch only what this call did: the records that it gave an
// S-VOL, and of those only the LDEVs that it created.
bool ZRHDSCommandHandler::allocateTargetDevices(const std::vector<HDSLdevInfo>& fullLdevList) {
  static const char kFn[] = "allocateTargetDevices";
  const bool create = !m_pSnapOptions->noVvolCreate;
  ZRHDSLock lock(*m_pLogger, ZR_HDS_LOCK_SVOL_SELECTION, 0);
  if (!lock.isLocked()) {
    logMessage(2, kFn, "Unable to acquire lock-[%s]. Failed to %s S-VOLs",
               ZR_HDS_LOCK_SVOL_SELECTION, create ? "Create" : "Select");
    return fail(10, "Unable to acquire lock on S-VOLs.");
  }
  m_oLabelledAtCreation.clear();
  std::vector<size_t> chosen;
  for (size_t i = 0; i < m_pSnaps->size(); ++i) {
    if (!(*m_pSnaps)[i].snapMapped) chosen.push_back(i);
  }
  if (create) {
    logMessage(1, kFn, "Option to CREATE S-VOLs is set. Will Create S-VOLs for all the P-VOLs");
    // A failed creation leaves no LDEV of this call behind (the array
    // layer deletes what it created), so there is nothing to delete here.
    if (!createSvolsForSource(fullLdevList)) return false;
  } else {
    logMessage(
        1, kFn,
        "Option to USE EXISTING S-VOLs is set. Will find a usable S-VOLs for all the P-VOLs");
    if (!findSvolsForSource()) return false;
  }
  if (!markSvolsUsedForSource()) {
    const int code = m_nErrorCode;
    const std::string text = m_sErrorString;
    releaseSvols(chosen);
    if (create) deleteSvolsOfRecords(chosen);
    m_nErrorCode = code;
    m_sErrorString = text;
    return false;
  }
  logMessage(1, kFn, "Finished allocating target Ldevs for the source devices.");
  return true;
}

bool ZRHDSCommandHandler::parseCURange(std::set<std::string>& cus, int& maxCU) {
  static const char kFn[] = "parseCURange";
  int maxLdev = 0;
  if (m_pImplementer->getMaxLdevNumber(maxLdev) != 0) maxLdev = ZR_HDS_FALLBACK_MAX_LDEV_NUMBER;
  maxCU = (maxLdev + 1) / kLdevsPerCu;
  if (m_pSnapOptions->cuRange.empty()) return true;

  std::string range = m_pSnapOptions->cuRange;
  if (range.back() != ',') range += ',';
  size_t start = 0;
  for (size_t comma = range.find(','); comma != std::string::npos;
       start = comma + 1, comma = range.find(',', start)) {
    if (!readCuItem(range.substr(start, comma - start), maxCU, cus)) {
      logMessage(2, kFn, "CU range-[%s] is invalid. Maximum LDEV on the array is-[%d].",
                 range.c_str(), maxLdev);
      return fail(11, "CU range-[" + range + "] is invalid. Maximum LDEV on the array is-[" +
                          std::to_string(maxLdev) + "].");
    }
  }
  return true;
}

bool ZRHDSCommandHandler::findSvolsForSource() {
  static const char kFn[] = "findSvolsForSource";
  std::set<std::string> cus;
  int maxCU = 0;
  if (!m_pSnapOptions->cuRange.empty() && !parseCURange(cus, maxCU)) {
    logMessage(2, kFn, "Invalid CU Range-[%s]", m_pSnapOptions->cuRange.c_str());
    return false;
  }
  std::map<int, std::string> filter{{HDS_LDEV_FILTER_UNMAPPED, ""}};
  if (!m_pSnapOptions->label.empty()) filter[HDS_LDEV_FILTER_LABEL] = m_pSnapOptions->label;
  std::vector<HDSLdevInfo> candidates;
  if (m_pImplementer->getLdevList(candidates, filter) != 0) return copyImplementerError();
  if (candidates.empty()) {
    logMessage(2, kFn, "Failed to find any V-VOL that match the filter criteria.");
    return fail(4, "Failed to find V-VOL that can be used as Thin Imaging Snapshot LDEV.");
  }
  const int mask = readSetting("nZRHDSTITargetLdevMask", 0);
  std::map<std::string, ResourceGroupInfo> groups;
  if (m_pImplementer->getResourceGroupInfo(groups, false) != 0) return copyImplementerError();
  const int groupId = groupIdOf(groups, m_pSnapOptions->resourceGroup);

  std::set<std::string> taken;
  for (ZRHDSSnapInfo& snap : *m_pSnaps) {
    if (snap.snapMapped) continue;
    const HDSLdevInfo* found = nullptr;
    for (const HDSLdevInfo& c : candidates) {
      if (taken.count(c.ldevId) || c.resourceGroupId != groupId) continue;
      if ((c.volAttr & kVolAttrVvol) == 0 || (c.volAttr & mask) != 0) continue;
      if (c.capacityBlocks != snap.capacity) continue;
      // A range that names no CU (a reversed one) selects nothing: it
      // never lifts the restriction the option asks for.
      if (!m_pSnapOptions->cuRange.empty() && !inCuSet(c.ldevId, cus)) continue;
      found = &c;
      break;
    }
    if (found == nullptr) {
      logMessage(2, kFn, "Failed to find any V-VOL that matches the selection criteria.");
      return fail(ZR_HDS_ERR_PREPARE,
                  "Failed to find V-VOL that can be used as Thin Imaging Snapshot LDEV.");
    }
    logMessage(1, kFn, "S-VOL-[%s] [%s] will be used for pair.", found->ldevId.c_str(),
               found->label.c_str());
    taken.insert(found->ldevId);
    snap.snapLdevId = found->ldevId;
    snap.snapVirLdevId = found->virtualLdevId;
    snap.snapOriginalName = found->label;
    snap.snapOriginalState = ZR_HDS_SNAP_ORIGINAL_STATE_OLD;
  }
  return true;
}

// A failure leaves the records' S-VOL fields as they were and no LDEV of
// this call on the array.
bool ZRHDSCommandHandler::createSvolsForSource(const std::vector<HDSLdevInfo>& fullLdevList) {
  static const char kFn[] = "createSvolsForSource";
  std::set<std::string> cus;
  int maxCU = 0;
  if (!parseCURange(cus, maxCU)) {
    logMessage(2, kFn, "Invalid CU Range-[%s]", m_pSnapOptions->cuRange.c_str());
    return false;
  }
  std::map<std::string, ResourceGroupInfo> groups;
  if (m_pImplementer->getResourceGroupInfo(groups, false) != 0) return copyImplementerError();
  const int groupId = groupIdOf(groups, m_pSnapOptions->resourceGroup);

  // Virtual ids in use in the job's resource group, with their LDEVs.
  std::map<std::string, std::set<std::string>> virtualIdOwners;
  if (m_pSnapOptions->isVSM) {
    for (const HDSLdevInfo& row : fullLdevList) {
      if (!row.virtualLdevId.empty() && row.resourceGroupId == groupId) {
        virtualIdOwners[row.virtualLdevId].insert(row.ldevId);
      }
    }
  }
  auto clashes = [&](const HDSLdevInfo& candidate) {
    const auto owners = virtualIdOwners.find(effectiveVirtualId(candidate));
    if (owners == virtualIdOwners.end()) return false;
    return owners->second.size() > 1 || owners->second.count(candidate.ldevId) == 0;
  };

  std::vector<ZRHDSSnapInfo>& snaps = *m_pSnaps;
  const std::vector<SvolChoice> saved = saveChoices(snaps);
  // An id that a record names stays free until that record is settled.
  std::set<std::string> taken = idsOfIntents();
  size_t found = 0;
  size_t next = 0;
  for (int cu = 0; cu < maxCU && found < snaps.size(); ++cu) {
    if (!m_pSnapOptions->cuRange.empty() && !cus.count(std::to_string(cu))) continue;
    std::vector<HDSLdevInfo> ids;
    if (m_pImplementer->getLdevList(ids, {{HDS_LDEV_FILTER_RANGE, std::to_string(cu)}}) != 0) {
      restoreChoices(saved, snaps);
      return copyImplementerError();
    }
    for (; next < snaps.size(); ++next) {
      ZRHDSSnapInfo& snap = snaps[next];
      if (snap.snapMapped) {
        ++found;
        continue;
      }
      const HDSLdevInfo* free = nullptr;
      for (const HDSLdevInfo& id : ids) {
        if (taken.count(id.ldevId) || id.volType != zrhds_handler::kVolTypeUndefined) continue;
        if (id.resourceGroupId != groupId && id.resourceGroupId != 0) continue;
        if (m_pSnapOptions->isVSM && clashes(id)) continue;
        free = &id;
        break;
      }
      if (free == nullptr) {
        logMessage(2, kFn, "Found only [%d] S-VOLs out of [%d], will try the next CU.",
                   static_cast<int>(found), static_cast<int>(snaps.size()));
        break;
      }
      logMessage(1, kFn, "S-VOL-[%s:%s] will be created with capacity-[%lld] for P-VOL.",
                 free->ldevId.c_str(), free->label.c_str(), static_cast<long long>(snap.capacity));
      taken.insert(free->ldevId);
      snap.snapLdevId = free->ldevId;
      snap.snapVirLdevId = free->virtualLdevId;
      snap.snapOriginalName = free->label;
      snap.snapOriginalState = ZR_HDS_SNAP_ORIGINAL_STATE_NEW;
      ++found;
    }
  }
  if (found < snaps.size()) {
    logMessage(2, kFn, "Failed to find S-VOLs for all the P-VOLs.");
    restoreChoices(saved, snaps);
    return fail(ZR_HDS_ERR_PREPARE, "Failed to find S-VOLs for all the P-VOLs.");
  }
  // The S-VOLs are on record before the first of them is created, and each
  // is marked made as soon as the array accepted its add, until the array
  // layer has labelled it (only once the array proves it the job's).
  if (!openSvolIntent()) {
    restoreChoices(saved, snaps);
    return false;
  }
  ZRHDSCommandImplementer::NewLdevWatch watch;
  watch.accepted = [this](const std::string& ldev) { markSvolMade(ldev); };
  watch.settled = [this](const std::vector<std::string>& ldevs, bool mayBeAnothers) {
    return unmarkSvols(ldevs, mayBeAnothers);
  };
  if (m_pImplementer->createSvols(watch) != 0) {
    restoreChoices(saved, snaps);
    return copyImplementerError();
  }
  for (const ZRHDSSnapInfo& snap : snaps) {
    if (!snap.snapMapped) m_oLabelledAtCreation.insert(snap.snapLdevId);
  }
  return true;
}
