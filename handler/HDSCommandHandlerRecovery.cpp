// Recovery of what a dead job made: after the login, each intent record of
// this array whose process has ended is taken under the locks a live job
// would take (each tried once, so the job's own work waits no longer than
// one lock wait), and what it names is removed only when it is provably that
// job's:
//  - a snapshot group's pairs: the pairs of the recorded P-VOLs in the group
//    the record names, while none of them was ever split (PAIR or COPY: no
//    snapshot data, so no host has used them); in a group that existed
//    before the job, only the pairs whose MUs the record holds;
//  - an S-VOL: the LDEV at a recorded id that carries the recorded label and
//    capacity, with its association and LU paths.
// Anything else is left, logged (level 1) with the commands an administrator
// would run, and its record kept. What the running job's own stored metadata
// names is the host's: its entries are dropped and the object left alone.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "array/HDSParseLdev.h"
#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"
#include "host/ZRSOSnapInfo.h"
#include "util/HDSCLIUtils.h"
#include "util/ZRHDSLock.h"

namespace {

using zrhds_handler::pairKey;
using zrhds_handler::queryOneLdev;

// One try of a lock (a wait of one attempt): a lock held for longer means a
// live job works there, and the record waits for a later job.
constexpr int kRecoveryLockAttempts = 1;
// The snap map records (metadata ids) that name a device's S-VOL.
constexpr short kMapRecordIds[] = {65, 68};

// A pair that never held snapshot data: only the job that added it knows it.
bool neverSplit(const HDSSnapshotGroupInfo& row) {
  return row.status == zrhds_handler::kPairStatePair || row.status == zrhds_handler::kPairStateCopy;
}

// A label as the LDEV listing shows it: blanks removed.
std::string withoutBlanks(std::string label) {
  label.erase(std::remove(label.begin(), label.end(), ' '), label.end());
  return label;
}

}  // namespace

std::string ZRHDSCommandHandler::adminCommandOptions() const {
  return " -IM" + m_pSnapOptions->horcmInst + " -s " + m_pSnapOptions->baseSerialNum;
}

void ZRHDSCommandHandler::recoverDeadJobs() {
  static const char kFn[] = "recoverDeadJobs";
  std::vector<ZRHDSIntentRecord> all;
  std::vector<std::string> unreadable;
  std::string error;
  if (!m_oIntentStore.list(m_pSnapOptions->baseSerialNum, all, &unreadable, &error)) {
    logMessage(1, kFn, "The intent records cannot be read: %s", error.c_str());
    return;
  }
  for (const std::string& why : unreadable) {
    logMessage(1, kFn,
               "An intent record cannot be read (%s): an administrator checks what it names and "
               "removes the file.",
               why.c_str());
  }
  std::vector<ZRHDSIntentRecord> svols;
  const int code = m_nErrorCode;
  const std::string text = m_sErrorString;
  for (ZRHDSIntentRecord& r : all) {
    if (!m_oIntentStore.isDead(r)) continue;
    if (r.resourceGroup != m_pSnapOptions->resourceGroup) {
      logMessage(0, kFn, "The record [%s] is of resource group [%s]: left for a job of it.",
                 r.path.c_str(), r.resourceGroup.c_str());
      continue;
    }
    logMessage(1, kFn, "Recovering the record [%s] of a job that ended (process %ld).",
               r.path.c_str(), r.job.pid);
    if (r.kind == ZRHDSIntentRecord::Kind::kGroup) {
      recoverGroupRecord(r);
    } else {
      svols.push_back(r);
    }
  }
  if (!svols.empty()) recoverSvolRecords(svols);
  m_nErrorCode = code;
  m_sErrorString = text;
}

void ZRHDSCommandHandler::recoverGroupRecord(ZRHDSIntentRecord& record) {
  static const char kFn[] = "recoverGroupRecord";
  ZRHDSLock lock(*m_pLogger, record.group, kRecoveryLockAttempts);
  if (!lock.isLocked()) {
    logMessage(1, kFn, "SnapshotGroup-[%s] is in use: the record [%s] waits for a later job.",
               record.group.c_str(), record.path.c_str());
    return;
  }
  std::string error;
  if (!m_oIntentStore.reload(record, &error)) return;  // another job took it meanwhile
  std::vector<HDSSnapshotGroupInfo> rows;
  if (m_pImplementer->getSnapshotGroupList(rows, record.group, false) != 0) {
    logMessage(1, kFn, "SnapshotGroup-[%s] cannot be listed: the record [%s] stays.",
               record.group.c_str(), record.path.c_str());
    return;
  }
  std::vector<bool> settled(record.entries.size(), false);
  for (size_t k = 0; k < record.entries.size(); ++k) {
    settled[k] = recoverGroupEntry(record, record.entries[k], rows);
  }
  keepRemainingEntries(record, settled, kFn);
}

bool ZRHDSCommandHandler::recoverGroupEntry(const ZRHDSIntentRecord& record,
                                            const ZRHDSIntentEntry& e,
                                            const std::vector<HDSSnapshotGroupInfo>& rows) {
  static const char kFn[] = "recoverGroupRecord";
  bool known = false;
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
    known = known || (snap.snapshotGroup == record.group && snap.baseDevNo == e.pvol);
  }
  const std::set<std::string> existing(record.existingKeys.begin(), record.existingKeys.end());
  std::vector<const HDSSnapshotGroupInfo*> pairs;
  bool provable = !known && (!record.reused || !e.mu.empty());
  for (const HDSSnapshotGroupInfo& row : rows) {
    if (row.ldevId != e.pvol || existing.count(pairKey(row)) != 0) continue;
    if (!e.mu.empty() && row.muNumber != e.mu) continue;
    pairs.push_back(&row);
    provable = provable && neverSplit(row);
  }
  if (known || pairs.empty()) return true;  // the host's, or nothing was made
  bool removed = provable;
  for (const HDSSnapshotGroupInfo* row : pairs) {
    if (!provable) {
      logMessage(1, kFn,
                 "Pair LDEV-[%s] MU-[%s] of SnapshotGroup-[%s] (status [%s]) is not proven the "
                 "job's of record [%s] and is left. If it is, an administrator removes it: "
                 "raidcom delete snapshot -ldev_id %s -mirror_id %s%s, then the record file.",
                 row->ldevId.c_str(), row->muNumber.c_str(), record.group.c_str(),
                 row->status.c_str(), record.path.c_str(), row->ldevId.c_str(),
                 row->muNumber.c_str(), adminCommandOptions().c_str());
    } else if (m_pImplementer->deleteSnapshot(row->ldevId, row->muNumber) != 0) {
      removed = false;
    } else {
      logMessage(1, kFn,
                 "Removed pair LDEV-[%s] MU-[%s] of SnapshotGroup-[%s] of a job that ended.",
                 row->ldevId.c_str(), row->muNumber.c_str(), record.group.c_str());
    }
  }
  return removed;
}

void ZRHDSCommandHandler::recoverSvolRecords(std::vector<ZRHDSIntentRecord>& records) {
  static const char kFn[] = "recoverSvolRecords";
  ZRHDSLock lock(*m_pLogger, ZR_HDS_LOCK_SVOL_SELECTION, kRecoveryLockAttempts);
  if (!lock.isLocked()) {
    logMessage(1, kFn,
               "S-VOLs are being chosen by another job: [%d] record(s) wait for a later job.",
               static_cast<int>(records.size()));
    return;
  }
  // S-VOLs that this job's devices have on record are the host's.
  std::set<std::string> known;
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
    for (short id : kMapRecordIds) {
      ZRHDSMetadataInfo md;
      md.initialize();
      if (ZRHDSCLIUtils::getInfoFromHostGroupMetadata(snap.snapInfo, id, md) != 0 &&
          !md.snapLdevId.empty()) {
        known.insert(md.snapLdevId);
      }
    }
  }
  const bool lockedBefore = m_bIsResourceLocked;
  if (!lockResource(true)) {
    logMessage(1, kFn, "The resource group cannot be locked: [%d] record(s) wait for a later job.",
               static_cast<int>(records.size()));
    return;
  }
  for (ZRHDSIntentRecord& r : records) recoverSvolRecord(r, known);
  if (!lockedBefore) unlockResource(true);
}

void ZRHDSCommandHandler::recoverSvolRecord(ZRHDSIntentRecord& record,
                                            const std::set<std::string>& known) {
  static const char kFn[] = "recoverSvolRecord";
  std::string error;
  if (!m_oIntentStore.reload(record, &error)) return;  // another job took it meanwhile
  std::vector<bool> settled(record.entries.size(), false);
  for (size_t k = 0; k < record.entries.size(); ++k) {
    const ZRHDSIntentEntry& e = record.entries[k];
    if (known.count(e.ldev) != 0) {
      settled[k] = true;
      continue;
    }
    HDSLdevInfo ldev;
    if (queryOneLdev(*m_pImplementer, record.serial, e.ldev, ldev) != 0) {
      logMessage(1, kFn, "LDEV-[%s] cannot be read: the record [%s] keeps it.", e.ldev.c_str(),
                 record.path.c_str());
      continue;
    }
    if (ldev.volAttr == HDS_VOL_ATTR_UNDEFINED) {
      settled[k] = true;  // never made, or removed again
      continue;
    }
    if (ldev.label != withoutBlanks(e.label) || ldev.capacityBlocks != e.capacity) {
      logMessage(1, kFn,
                 "LDEV-[%s] (label [%s], %llu blocks) is not the S-VOL [%s] of %llu blocks that "
                 "the record [%s] names for P-VOL-[%s] MU-[%s]; it may be another's and is "
                 "left. If it is that job's, an administrator removes it: raidcom get ldev "
                 "-ldev_id %s%s (its PORTs), raidcom unmap snapshot -ldev_id %s -mirror_id %s%s "
                 "when it is associated, raidcom delete lun -port <port>-<gid> -ldev_id %s%s for "
                 "each path, raidcom delete ldev -ldev_id %s%s, then the record file.",
                 e.ldev.c_str(), ldev.label.c_str(),
                 static_cast<unsigned long long>(ldev.capacityBlocks), e.label.c_str(),
                 static_cast<unsigned long long>(e.capacity), record.path.c_str(), e.pvol.c_str(),
                 e.mu.c_str(), e.ldev.c_str(), adminCommandOptions().c_str(), e.pvol.c_str(),
                 e.mu.c_str(), adminCommandOptions().c_str(), e.ldev.c_str(),
                 adminCommandOptions().c_str(), e.ldev.c_str(), adminCommandOptions().c_str());
      continue;
    }
    settled[k] = removeDeadJobSvol(e, ldev);
  }
  keepRemainingEntries(record, settled, kFn);
}

// Dissociates the S-VOL from the recorded P-VOL's snapshot, removes its LU
// paths and deletes it: only the dead job knew it, so every path is its.
bool ZRHDSCommandHandler::removeDeadJobSvol(const ZRHDSIntentEntry& entry,
                                            const HDSLdevInfo& ldev) {
  static const char kFn[] = "removeDeadJobSvol";
  std::vector<HDSSnapshotGroupInfo> rows;
  if (m_pImplementer->getSnapshotGroupList(rows, entry.pvol, true) != 0) return false;
  for (const HDSSnapshotGroupInfo& row : rows) {
    if (!row.isPvol || row.ldevId != entry.pvol || row.partnerLdevId != entry.ldev) continue;
    if (m_pImplementer->unmapSnapshot(entry.pvol, row.muNumber) != 0) return false;
  }
  for (const HDSLunInfo& path : ldev.ports) {
    if (m_pImplementer->unmapLdevFromHostGroup(entry.ldev, path.port, path.hostGroupId) != 0) {
      return false;
    }
  }
  if (m_pImplementer->deleteSvols(entry.ldev) != 0) return false;
  logMessage(1, kFn, "Removed S-VOL-[%s] [%s] of a job that ended, with its [%d] LU path(s).",
             entry.ldev.c_str(), entry.label.c_str(), static_cast<int>(ldev.ports.size()));
  return true;
}
