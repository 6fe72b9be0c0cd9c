// The job's intent records: what it is about to create on the array (the
// pairs of a snapshot group, S-VOLs) is recorded durably before the command
// that creates it; when the job ends, entries the devices' stored metadata
// names, or whose objects are gone again, are dropped, and the rest stays
// for the next job on the array, which recovers it once this process ended.
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "array/HDSParseLdev.h"
#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"
#include "host/ZRSOSnapInfo.h"

namespace {

using zrhds_handler::pairKey;
using zrhds_handler::queryOneLdev;

using Log = std::function<void(int level, const std::string& text)>;

// A record that could not be brought up to date may still name what the
// host stores now: out of recovery's reach it goes, set aside for an
// administrator, or else removed (what it still named, left, is logged).
void putOutOfReach(ZRHDSIntentStore& store, const ZRHDSIntentRecord& record,
                   const std::string& error, const std::vector<ZRHDSIntentEntry>& left,
                   const Log& log) {
  std::string why, ignored;
  if (store.setAside(record, &why)) {
    log(2, "Failed to update the record [" + record.path + "]: " + error +
               ". It is set aside for an administrator, who checks what it names and removes "
               "it.");
    return;
  }
  const bool removed = store.remove(record, &ignored) || ::access(record.path.c_str(), F_OK) != 0;
  log(2, "Failed to update the record [" + record.path + "]: " + error +
             "; it could not be set aside (" + why + ")" +
             (removed ? " and is removed."
                      : " nor removed: it still names objects the host stores, and an "
                        "administrator removes it before the next job on the array."));
  for (const ZRHDSIntentEntry& e : left) {
    log(2, "The record [" + record.path + "] named " +
               (e.ldev.empty() ? "a pair in SnapshotGroup-[" + record.group
                               : "S-VOL-[" + e.ldev) +
               "] for P-VOL-[" + e.pvol + "] MU-[" + e.mu + "] of [" + e.device + "].");
  }
}

// The job's end of one record, run as the call ends: its stored entries go
// to the host (ZRHDSIntentStore::handOver), its gone ones are dropped.
void handOverRecord(ZRHDSIntentStore& store, ZRHDSIntentRecord& record,
                    const std::vector<bool>& stored, const std::vector<bool>& gone,
                    ZRSO::SnapInfo* logger) {
  static const char kFn[] = "ZRHDSCommandHandler::closeIntents";
  std::vector<ZRHDSIntentEntry> left;
  for (size_t k = 0; k < record.entries.size(); ++k) {
    if (!stored[k] && !gone[k]) left.push_back(record.entries[k]);
  }
  const Log log = [&](int level, const std::string& text) {
    if (logger != nullptr) logger->log(level, kFn, "%s", text.c_str());
  };
  std::string error;
  if (!store.handOver(record, stored, gone, &error)) {
    putOutOfReach(store, record, error, left, log);
    return;
  }
  if (!left.empty()) {
    log(1, "The record [" + record.path + "] keeps [" + std::to_string(left.size()) +
               "] object(s) that no stored metadata names.");
  }
}

ZRHDSIntentRecord newRecord(const ZRHDSSnapOptions& options, ZRHDSIntentRecord::Kind kind) {
  ZRHDSIntentRecord r;
  r.kind = kind;
  r.serial = options.baseSerialNum;
  r.resourceGroup = options.resourceGroup;
  r.job = ZRHDSProcessIdentity::own();
  return r;
}

}  // namespace

bool ZRHDSCommandHandler::openGroupIntent(bool reused, const std::set<std::string>& existingKeys) {
  static const char kFn[] = "openGroupIntent";
  OpenIntent open;
  open.record = newRecord(*m_pSnapOptions, ZRHDSIntentRecord::Kind::kGroup);
  open.record.group = m_pSnapOptions->snapshotGroup;
  open.record.reused = reused;
  open.record.existingKeys.assign(existingKeys.begin(), existingKeys.end());
  for (size_t i = 0; i < m_pSnaps->size(); ++i) {
    ZRHDSIntentEntry e;
    e.pvol = (*m_pSnaps)[i].baseDevNo;
    e.device = (*m_pSnaps)[i].sourceDevice;
    open.record.entries.push_back(e);
    open.owners.push_back(i);
    open.settled.push_back(false);
    open.stored.push_back(false);
  }
  std::string error;
  if (!m_oIntentStore.save(open.record, &error)) {
    logMessage(2, kFn, "Failed to record SnapshotGroup-[%s] before adding pairs to it: %s",
               open.record.group.c_str(), error.c_str());
    return fail(ZR_HDS_ERR_PREPARE, "Failed to record the snapshot group " + open.record.group +
                                        " before adding pairs to it.");
  }
  m_vIntents.push_back(open);
  return true;
}

void ZRHDSCommandHandler::noteGroupMus() {
  if (m_vIntents.empty() || m_vIntents.back().record.kind != ZRHDSIntentRecord::Kind::kGroup ||
      !m_vIntents.back().record.reused) {
    return;
  }
  OpenIntent& open = m_vIntents.back();
  for (size_t k = 0; k < open.record.entries.size(); ++k) {
    const ZRHDSSnapInfo& snap = (*m_pSnaps)[open.owners[k]];
    if (snap.snapshotGroup == open.record.group) open.record.entries[k].mu = snap.snapMu;
  }
  std::string error;
  if (!m_oIntentStore.save(open.record, &error)) {
    logMessage(2, "noteGroupMus", "Failed to record the MUs of the new pairs in [%s]: %s",
               open.record.path.c_str(), error.c_str());
  }
}

bool ZRHDSCommandHandler::openSvolIntent() {
  static const char kFn[] = "openSvolIntent";
  OpenIntent open;
  open.record = newRecord(*m_pSnapOptions, ZRHDSIntentRecord::Kind::kSvols);
  for (size_t i = 0; i < m_pSnaps->size(); ++i) {
    const ZRHDSSnapInfo& snap = (*m_pSnaps)[i];
    if (snap.snapMapped) continue;
    ZRHDSIntentEntry e;
    e.ldev = snap.snapLdevId;
    e.capacity = snap.capacity;
    e.label = hdsparse::writtenLabel(snap.svolLabel);
    e.pvol = snap.baseDevNo;
    e.mu = snap.snapMu;
    e.device = snap.sourceDevice;
    // Presented nowhere yet: the host groups follow before each mapping.
    e.hostGroupsRecorded = true;
    open.record.entries.push_back(e);
    open.owners.push_back(i);
    open.settled.push_back(false);
    open.stored.push_back(false);
  }
  if (open.record.entries.empty()) return true;
  std::string error;
  if (!m_oIntentStore.save(open.record, &error)) {
    logMessage(2, kFn, "Failed to record the S-VOLs before creating them: %s", error.c_str());
    return fail(ZR_HDS_ERR_MAP, "Failed to record the S-VOLs before creating them.");
  }
  m_vIntents.push_back(open);
  return true;
}

bool ZRHDSCommandHandler::noteSvolHostGroups(const std::vector<std::string>& hostGroups) {
  for (OpenIntent& open : m_vIntents) {
    if (open.record.kind != ZRHDSIntentRecord::Kind::kSvols) continue;
    bool added = false;
    for (ZRHDSIntentEntry& e : open.record.entries) {
      for (const std::string& g : hostGroups) {
        if (std::find(e.hostGroups.begin(), e.hostGroups.end(), g) != e.hostGroups.end()) continue;
        e.hostGroups.push_back(g);
        added = true;
      }
    }
    std::string error;
    if (added && !m_oIntentStore.save(open.record, &error)) {
      logMessage(2, "noteSvolHostGroups",
                 "Failed to record the host groups of the S-VOLs before presenting them: %s",
                 error.c_str());
      return fail(ZR_HDS_ERR_MAP, "Failed to record the host groups of the S-VOLs.");
    }
  }
  return true;
}

void ZRHDSCommandHandler::markSvolMade(const std::string& ldev) {
  for (OpenIntent& open : m_vIntents) {
    if (open.record.kind != ZRHDSIntentRecord::Kind::kSvols) continue;
    for (size_t k = 0; k < open.record.entries.size(); ++k) {
      if (open.record.entries[k].ldev != ldev) continue;
      // A mark whose flush failed may be in the file all the same. Without
      // it a kill before the label leaves the LDEV to an administrator.
      m_oMarkedSvols.insert(ldev);
      std::string error;
      if (!m_oIntentStore.markMade(open.record, k, &error)) {
        logMessage(2, "markSvolMade", "Failed to record that LDEV-[%s] was made: %s",
                   ldev.c_str(), error.c_str());
        open.record.entries[k].made = true;
      }
      return;
    }
  }
}

bool ZRHDSCommandHandler::unmarkSvols(const std::vector<std::string>& ldevs, bool mayBeAnothers) {
  static const char kFn[] = "unmarkSvols";
  std::set<std::string> ids;
  for (const std::string& ldev : ldevs) {
    if (m_oMarkedSvols.count(ldev) != 0) ids.insert(ldev);
  }
  if (ids.empty()) return true;
  for (size_t r = 0; r < m_vIntents.size(); ++r) {
    OpenIntent& open = m_vIntents[r];
    if (open.record.kind != ZRHDSIntentRecord::Kind::kSvols) continue;
    ZRHDSIntentRecord unmarked = open.record;
    bool changed = false;
    for (ZRHDSIntentEntry& e : unmarked.entries) {
      if (ids.count(e.ldev) == 0 || !e.made) continue;
      e.made = false;
      changed = true;
    }
    if (!changed) continue;
    std::string error;
    if (m_oIntentStore.save(unmarked, &error)) {
      open.record.entries = unmarked.entries;
      continue;
    }
    if (!mayBeAnothers) {
      logMessage(2, kFn, "Failed to update the record [%s]: %s", open.record.path.c_str(),
                 error.c_str());
      return false;
    }
    // A mark left on an LDEV that may be someone else's would have a
    // recovery delete it: the record goes out of recovery's reach, and the
    // job (which fails: its add did not work) writes it no more.
    putOutOfReach(m_oIntentStore, open.record, error, open.record.entries,
                  [&](int level, const std::string& text) {
                    logMessage(level, kFn, "%s", text.c_str());
                  });
    m_vIntents.erase(m_vIntents.begin() + static_cast<long>(r));
    --r;
  }
  for (const std::string& id : ids) m_oMarkedSvols.erase(id);
  return true;
}

void ZRHDSCommandHandler::intentStored(size_t record) {
  if (record >= m_pSnaps->size()) return;
  const ZRHDSSnapInfo& snap = (*m_pSnaps)[record];
  for (OpenIntent& open : m_vIntents) {
    const bool group = open.record.kind == ZRHDSIntentRecord::Kind::kGroup;
    for (size_t k = 0; k < open.record.entries.size(); ++k) {
      const ZRHDSIntentEntry& e = open.record.entries[k];
      if (open.owners[k] != record) continue;
      if (group ? snap.snapshotGroup == open.record.group && snap.baseDevNo == e.pvol
                : snap.snapLdevId == e.ldev) {
        open.settled[k] = true;
        open.stored[k] = true;
      }
    }
  }
}

void ZRHDSCommandHandler::forgetIntents() {
  for (const OpenIntent& open : m_vIntents) {
    std::string error;
    if (!m_oIntentStore.remove(open.record, &error)) {
      logMessage(2, "forgetIntents", "Failed to remove the record [%s]: %s",
                 open.record.path.c_str(), error.c_str());
    }
  }
  m_vIntents.clear();
}

bool ZRHDSCommandHandler::settleGroupEntries(OpenIntent& open) {
  const ZRHDSIntentRecord& r = open.record;
  std::vector<HDSSnapshotGroupInfo> rows;
  if (!m_pImplementer || m_pImplementer->getSnapshotGroupList(rows, r.group, false) != 0) {
    return false;
  }
  const std::set<std::string> existing(r.existingKeys.begin(), r.existingKeys.end());
  for (size_t k = 0; k < r.entries.size(); ++k) {
    const ZRHDSIntentEntry& e = r.entries[k];
    bool there = false;
    for (const HDSSnapshotGroupInfo& row : rows) {
      if (row.ldevId != e.pvol || existing.count(pairKey(row)) != 0) continue;
      there = there || e.mu.empty() || row.muNumber == e.mu;
    }
    if (!there) open.settled[k] = true;
  }
  return true;
}

bool ZRHDSCommandHandler::settleSvolEntries(OpenIntent& open) {
  for (size_t k = 0; k < open.record.entries.size(); ++k) {
    if (open.settled[k]) continue;
    HDSLdevInfo ldev;
    if (!m_pImplementer ||
        queryOneLdev(*m_pImplementer, open.record.serial, open.record.entries[k].ldev, ldev) != 0) {
      return false;
    }
    if (ldev.volAttr == HDS_VOL_ATTR_UNDEFINED) open.settled[k] = true;
  }
  return true;
}

void ZRHDSCommandHandler::settleIntents() {
  const int code = m_nErrorCode;
  const std::string text = m_sErrorString;
  for (OpenIntent& open : m_vIntents) {
    bool allStored = true;
    for (bool s : open.settled) allStored = allStored && s;
    if (allStored) continue;
    // Only a step that failed leaves entries unstored: ask the array
    // whether their objects are there.
    if (open.record.kind == ZRHDSIntentRecord::Kind::kGroup) {
      settleGroupEntries(open);
    } else {
      settleSvolEntries(open);
    }
  }
  m_nErrorCode = code;
  m_sErrorString = text;
}

void ZRHDSCommandHandler::closeIntents() {
  ZRSO::SnapInfo* logger = m_pLogger;
  for (OpenIntent& open : m_vIntents) {
    std::vector<bool> gone(open.settled.size(), false);
    for (size_t k = 0; k < gone.size(); ++k) gone[k] = open.settled[k] && !open.stored[k];
    ZRHDSIntentCallScope::atCallEnd(
        [store = m_oIntentStore, record = open.record, stored = open.stored, gone,
         logger]() mutable { handOverRecord(store, record, stored, gone, logger); });
  }
  m_vIntents.clear();
}

std::set<std::string> ZRHDSCommandHandler::idsOfIntents() {
  std::set<std::string> ids;
  std::vector<ZRHDSIntentRecord> records;
  m_oIntentStore.list(m_pSnapOptions->baseSerialNum, records, nullptr, nullptr);
  for (const OpenIntent& open : m_vIntents) records.push_back(open.record);
  for (const ZRHDSIntentRecord& r : records) {
    for (const ZRHDSIntentEntry& e : r.entries) {
      if (!e.ldev.empty()) ids.insert(e.ldev);
    }
  }
  return ids;
}

void ZRHDSCommandHandler::keepRemainingEntries(ZRHDSIntentRecord& record,
                                               const std::vector<bool>& settled,
                                               const char* method) {
  std::vector<ZRHDSIntentEntry> left;
  for (size_t k = 0; k < record.entries.size(); ++k) {
    if (!settled[k]) left.push_back(record.entries[k]);
  }
  if (left.size() == record.entries.size()) {
    logMessage(1, method, "The record [%s] keeps [%d] object(s) that no stored metadata names.",
               record.path.c_str(), static_cast<int>(left.size()));
    return;
  }
  // The record keeps all its entries until the file holds the rest.
  ZRHDSIntentRecord rest = record;
  rest.entries = left;
  std::string error;
  if (left.empty() ? m_oIntentStore.remove(record, &error) : m_oIntentStore.save(rest, &error)) {
    record.entries = left;
    return;
  }
  putOutOfReach(m_oIntentStore, record, error, left,
                [&](int level, const std::string& text) {
                  logMessage(level, method, "%s", text.c_str());
                });
}
