// Recovery of what a dead job made: after the login (of every operation but
// the snap, which runs in the application's quiesce window), each intent
// record of this array whose process has ended is taken under the locks a
// live job would take, each tried once without waiting, and what it names
// is removed only when it is provably that job's (zrhds_handler::
// provenDeadJobs, decided in full before the first changing command):
//  - a snapshot group's pairs: the recorded P-VOLs' pairs in the recorded
//    group, never split (PAIR or COPY: no snapshot data, so no host has
//    used them), at the recorded MU; without an MU, the pairs that are not
//    among the group's pairs before the job and that nobody else names;
//  - an S-VOL: the LDEV at a recorded id that carries the recorded label
//    and capacity, is no source, is associated with nothing or with the
//    recorded snapshot only, and has LU paths only in the host groups the
//    record names; it is dissociated, taken out of them and deleted.
// Anything else is left, logged (level 1) with the commands an administrator
// would run, and its record kept. What the running job or a live record
// names is not the dead job's: its entries are dropped and the object left.
// One job spends at most kRecoveryCommandBudget commands on it; what is left
// waits for a later job.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "array/HDSParseLdev.h"
#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"
#include "handler/HDSIntentProof.h"
#include "host/ZRSOSnapInfo.h"
#include "host/ZrNamedMutex.h"
#include "util/HDSCLIUtils.h"

namespace {

using zrhds_handler::IntentContext;
using zrhds_handler::Proof;

// The array commands one job spends on recovery at most; entries past it
// wait for a later job. Costs below are what each step may send.
constexpr int kRecoveryCommandBudget = 64;
constexpr int kListingCost = 1;
// A change whose outcome only the array's command status and listings tell.
constexpr int kCheckedChangeCost = ZR_HDS_CHECKED_COMMAND_COST;
// An LU path's deletion: its exit code tells.
constexpr int kPathDeletionCost = 1;
// An LDEV's deletion: its release from the job's resource group (a query
// and three changes) and the checked deletion.
constexpr int kLdevDeletionCost = 4 + kCheckedChangeCost;
// The array's resource lock: its status, this host's name and the lock;
// its status and the unlock to give it back.
constexpr int kResourceLockCost = 5;
// Ids one LDEV listing may span ("-cnt" of the array).
constexpr long kMaxListedIds = 65280;
// The snap map records (metadata ids) that name a device's S-VOL.
constexpr short kMapRecordIds[] = {65, 68};

// One named lock of the machine, tried once: a lock held means a live job
// works there, and the record waits for a later job.
bool tryOnce(ZrNamedMutex& lock) { return lock.isValid() && lock.lock(0) != 0; }

}  // namespace

bool ZRHDSCommandHandler::RecoveryBudget::spend(int commands) {
  if (commands > left) return false;
  left -= commands;
  return true;
}

std::string ZRHDSCommandHandler::adminCommandOptions() const {
  return " -IM" + m_pSnapOptions->horcmInst + " -s " + m_pSnapOptions->baseSerialNum;
}

void ZRHDSCommandHandler::recoverDeadJobs() {
  static const char kFn[] = "recoverDeadJobs";
  std::vector<ZRHDSIntentRecord> all;
  std::vector<std::string> unreadable, setAside;
  std::string error;
  if (!m_oIntentStore.list(m_pSnapOptions->baseSerialNum, all, &unreadable, &error, &setAside)) {
    logMessage(1, kFn, "The intent records cannot be read: %s", error.c_str());
    return;
  }
  for (const std::string& why : unreadable) {
    logMessage(1, kFn,
               "An intent record cannot be read (%s): an administrator checks what it names and "
               "removes the file.",
               why.c_str());
  }
  for (const std::string& path : setAside) {
    logMessage(1, kFn,
               "The intent record [%s] was set aside when it could not be brought up to date: it "
               "may name objects the host stores. An administrator checks what it names and "
               "removes the file.",
               path.c_str());
  }
  std::vector<ZRHDSIntentRecord*> groups, svols;
  for (ZRHDSIntentRecord& r : all) {
    if (!m_oIntentStore.isDead(r)) continue;
    if (r.resourceGroup != m_pSnapOptions->resourceGroup) {
      logMessage(0, kFn, "The record [%s] is of resource group [%s]: left for a job of it.",
                 r.path.c_str(), r.resourceGroup.c_str());
      continue;
    }
    logMessage(1, kFn, "Recovering the record [%s] of a job that ended (process %ld).",
               r.path.c_str(), r.job.pid);
    (r.kind == ZRHDSIntentRecord::Kind::kGroup ? groups : svols).push_back(&r);
  }
  if (groups.empty() && svols.empty()) return;
  const int code = m_nErrorCode;
  const std::string text = m_sErrorString;
  IntentContext context = recoveryContext(all);
  RecoveryBudget budget{kRecoveryCommandBudget};
  for (ZRHDSIntentRecord* r : groups) recoverGroupRecord(*r, context, budget);
  if (!svols.empty()) recoverSvolRecords(svols, context, budget);
  m_nErrorCode = code;
  m_sErrorString = text;
}

zrhds_handler::IntentContext ZRHDSCommandHandler::recoveryContext(
    const std::vector<ZRHDSIntentRecord>& records) {
  using zrhds_handler::groupPairKey;
  using zrhds_handler::groupPvolKey;
  IntentContext c;
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
    c.sources.insert(snap.baseDevNo);
    if (snap.snapshotGroup.empty()) continue;
    if (snap.snapMu.empty()) {
      c.hostWithoutMu.insert(groupPvolKey(snap.snapshotGroup, snap.baseDevNo));
    } else {
      c.namedPairs.insert(groupPairKey(snap.snapshotGroup, snap.baseDevNo, snap.snapMu));
    }
  }
  for (const ZRHDSIntentRecord& r : records) {
    const bool live = !m_oIntentStore.isDead(r);
    for (const ZRHDSIntentEntry& e : r.entries) {
      c.sources.insert(e.pvol);
      if (!live) continue;
      if (!e.ldev.empty()) {
        c.namedSvols.insert(e.ldev);
      } else if (e.mu.empty()) {
        c.liveWithoutMu.insert(groupPvolKey(r.group, e.pvol));
      } else {
        c.namedPairs.insert(groupPairKey(r.group, e.pvol, e.mu));
      }
    }
  }
  return c;
}

void ZRHDSCommandHandler::recoverGroupRecord(ZRHDSIntentRecord& record,
                                             const IntentContext& context, RecoveryBudget& budget) {
  static const char kFn[] = "recoverGroupRecord";
  ZrNamedMutex lock(record.group.c_str());
  if (!tryOnce(lock)) {
    logMessage(1, kFn, "SnapshotGroup-[%s] is in use: the record [%s] waits for a later job.",
               record.group.c_str(), record.path.c_str());
    return;
  }
  std::string error;
  if (!m_oIntentStore.reload(record, &error)) return;  // another job took it meanwhile
  std::vector<HDSSnapshotGroupInfo> rows;
  if (!budget.spend(kListingCost)) {
    logMessage(1, kFn, "The recovery's commands are spent: the record [%s] waits for a later job.",
               record.path.c_str());
    return;
  }
  if (m_pImplementer->getSnapshotGroupList(rows, record.group, false) != 0) {
    logMessage(1, kFn, "SnapshotGroup-[%s] cannot be listed: the record [%s] stays.",
               record.group.c_str(), record.path.c_str());
    return;
  }
  std::vector<bool> settled(record.entries.size(), false);
  for (size_t k = 0; k < record.entries.size(); ++k) {
    settled[k] = recoverGroupEntry(record, record.entries[k], rows, context, budget);
  }
  keepRemainingEntries(record, settled, kFn);
}

bool ZRHDSCommandHandler::recoverGroupEntry(const ZRHDSIntentRecord& record,
                                            const ZRHDSIntentEntry& e,
                                            const std::vector<HDSSnapshotGroupInfo>& rows,
                                            const IntentContext& context, RecoveryBudget& budget) {
  static const char kFn[] = "recoverGroupRecord";
  const zrhds_handler::GroupProof proof = zrhds_handler::provenDeadJobs(record, e, rows, context);
  if (proof.verdict == Proof::kNothingThere || proof.verdict == Proof::kHosts) return true;
  if (proof.verdict != Proof::kProven) {
    for (const HDSSnapshotGroupInfo* row : proof.pairs) {
      logMessage(1, kFn,
                 "Pair LDEV-[%s] MU-[%s] of SnapshotGroup-[%s] (status [%s]) is not proven the "
                 "job's of record [%s] (%s) and is left. If it is, an administrator removes it: "
                 "raidcom delete snapshot -ldev_id %s -mirror_id %s%s, then the record file.",
                 row->ldevId.c_str(), row->muNumber.c_str(), record.group.c_str(),
                 row->status.c_str(), record.path.c_str(), proof.why.c_str(), row->ldevId.c_str(),
                 row->muNumber.c_str(), adminCommandOptions().c_str());
    }
    return false;
  }
  for (const HDSSnapshotGroupInfo* row : proof.pairs) {
    if (!budget.spend(kCheckedChangeCost)) return false;
    if (m_pImplementer->deleteSnapshot(row->ldevId, row->muNumber) != 0) return false;
    logMessage(1, kFn, "Removed pair LDEV-[%s] MU-[%s] of SnapshotGroup-[%s] of a job that ended.",
               row->ldevId.c_str(), row->muNumber.c_str(), record.group.c_str());
  }
  return true;
}

void ZRHDSCommandHandler::recoverSvolRecords(const std::vector<ZRHDSIntentRecord*>& records,
                                             IntentContext& context, RecoveryBudget& budget) {
  static const char kFn[] = "recoverSvolRecords";
  ZrNamedMutex selection(ZR_HDS_LOCK_SVOL_SELECTION);
  if (!tryOnce(selection)) {
    logMessage(1, kFn,
               "S-VOLs are being chosen by another job: [%d] record(s) wait for a later job.",
               static_cast<int>(records.size()));
    return;
  }
  // S-VOLs that this job's devices have on record are the host's.
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
    for (short id : kMapRecordIds) {
      ZRHDSMetadataInfo md;
      md.initialize();
      if (ZRHDSCLIUtils::getInfoFromHostGroupMetadata(snap.snapInfo, id, md) != 0 &&
          !md.snapLdevId.empty()) {
        context.namedSvols.insert(md.snapLdevId);
      }
    }
  }
  // A live job of any host that creates S-VOLs holds the array's lock, so
  // none of its half-made S-VOLs is judged.
  const bool lockedBefore = m_bIsResourceLocked;
  if (!budget.spend(kResourceLockCost) || !tryLockResource(true)) {
    logMessage(1, kFn, "The resource group cannot be locked: [%d] record(s) wait for a later job.",
               static_cast<int>(records.size()));
    return;
  }
  for (ZRHDSIntentRecord* r : records) recoverSvolRecord(*r, context, budget);
  if (!lockedBefore) unlockResource(true);
}

bool ZRHDSCommandHandler::listRecordedLdevs(const ZRHDSIntentRecord& record,
                                            std::map<std::string, HDSLdevInfo>& out) {
  long first = -1, last = -1;
  for (const ZRHDSIntentEntry& e : record.entries) {
    const long id = std::strtol(e.ldev.c_str(), nullptr, 10);
    if (first < 0 || id < first) first = id;
    last = std::max(last, id);
  }
  const long count = last - first + 1;
  if (first < 0 || count > kMaxListedIds) return false;
  std::vector<HDSLdevInfo> rows;
  if (m_pImplementer->getLdevSpan(static_cast<int>(first), static_cast<int>(count), rows) != 0) {
    return false;
  }
  for (HDSLdevInfo& row : rows) out[row.ldevId] = row;
  return true;
}

void ZRHDSCommandHandler::recoverSvolRecord(ZRHDSIntentRecord& record, const IntentContext& context,
                                            RecoveryBudget& budget) {
  static const char kFn[] = "recoverSvolRecord";
  std::string error;
  if (!m_oIntentStore.reload(record, &error)) return;  // another job took it meanwhile
  std::map<std::string, HDSLdevInfo> listed;
  if (!budget.spend(kListingCost)) {
    logMessage(1, kFn, "The recovery's commands are spent: the record [%s] waits for a later job.",
               record.path.c_str());
    return;
  }
  if (!listRecordedLdevs(record, listed)) {
    logMessage(1, kFn, "The LDEVs of the record [%s] cannot be listed: the record stays.",
               record.path.c_str());
    return;
  }
  std::vector<bool> settled(record.entries.size(), false);
  for (size_t k = 0; k < record.entries.size(); ++k) {
    const ZRHDSIntentEntry& e = record.entries[k];
    const auto found = listed.find(e.ldev);
    const HDSLdevInfo* ldev = found == listed.end() ? nullptr : &found->second;
    zrhds_handler::SvolProof proof = zrhds_handler::provenDeadJobs(e, ldev, nullptr, context);
    std::vector<HDSSnapshotGroupInfo> pairs;
    if (proof.verdict == Proof::kNeedsPairs) {
      const int cost = kListingCost + kCheckedChangeCost +
                       kPathDeletionCost * static_cast<int>(ldev->ports.size()) + kLdevDeletionCost;
      if (budget.left < cost) {
        logMessage(1, kFn,
                   "The recovery's commands are spent: LDEV-[%s] of the record [%s] "
                   "waits for a later job.",
                   e.ldev.c_str(), record.path.c_str());
        continue;
      }
      budget.spend(kListingCost);
      if (m_pImplementer->getSnapshotGroupList(pairs, e.ldev, true) != 0) {
        logMessage(1, kFn, "The pairs of LDEV-[%s] cannot be listed: the record [%s] keeps it.",
                   e.ldev.c_str(), record.path.c_str());
        continue;
      }
      proof = zrhds_handler::provenDeadJobs(e, ldev, &pairs, context);
    }
    if (proof.verdict == Proof::kNothingThere || proof.verdict == Proof::kHosts) {
      settled[k] = true;
    } else if (proof.verdict == Proof::kProven) {
      settled[k] = removeDeadJobSvol(e, *ldev, !pairs.empty(), budget);
    } else {
      logUnprovenSvol(record, e, proof.why);
    }
  }
  keepRemainingEntries(record, settled, kFn);
}

void ZRHDSCommandHandler::logUnprovenSvol(const ZRHDSIntentRecord& record,
                                          const ZRHDSIntentEntry& e, const std::string& why) {
  const std::string options = adminCommandOptions();
  logMessage(1, "recoverSvolRecord",
             "LDEV-[%s] is not proven the S-VOL [%s] of %llu blocks that the record [%s] names "
             "for P-VOL-[%s] MU-[%s] (%s); it may be another's and is left. If it is that job's, "
             "an administrator removes it: raidcom get ldev -ldev_id %s%s (its PORTs), raidcom "
             "unmap snapshot -ldev_id %s -mirror_id %s%s when it is associated, raidcom delete "
             "lun -port <port>-<gid> -ldev_id %s%s for each path, raidcom delete ldev -ldev_id "
             "%s%s, then the record file.",
             e.ldev.c_str(), e.label.c_str(), static_cast<unsigned long long>(e.capacity),
             record.path.c_str(), e.pvol.c_str(), e.mu.c_str(), why.c_str(), e.ldev.c_str(),
             options.c_str(), e.pvol.c_str(), e.mu.c_str(), options.c_str(), e.ldev.c_str(),
             options.c_str(), e.ldev.c_str(), options.c_str());
}

// Dissociates the proven S-VOL from the recorded snapshot, removes its LU
// paths (all in host groups the record names) and deletes it.
bool ZRHDSCommandHandler::removeDeadJobSvol(const ZRHDSIntentEntry& entry, const HDSLdevInfo& ldev,
                                            bool associated, RecoveryBudget& budget) {
  static const char kFn[] = "removeDeadJobSvol";
  if (associated &&
      (!budget.spend(kCheckedChangeCost) || m_pImplementer->unmapSnapshot(entry.pvol, entry.mu) != 0)) {
    return false;
  }
  for (const HDSLunInfo& path : ldev.ports) {
    if (!budget.spend(kPathDeletionCost) ||
        m_pImplementer->unmapLdevFromHostGroup(entry.ldev, path.port, path.hostGroupId) != 0) {
      return false;
    }
  }
  if (!budget.spend(kLdevDeletionCost) || m_pImplementer->deleteSvols(entry.ldev) != 0) {
    return false;
  }
  logMessage(1, kFn, "Removed S-VOL-[%s] [%s] of a job that ended, with its [%d] LU path(s).",
             entry.ldev.c_str(), entry.label.c_str(), static_cast<int>(ldev.ports.size()));
  return true;
}
