// Thin Image targetless snapshot pairs: listing, adding the job's sources to
// a snapshot group, snapshot-data operations, deletion, and association of
// target LDEVs. The array carries out every change of a pair after the tool
// has returned: each runs as a batch (HDSRaidcomBatch.cpp), read back from
// the pairs' listing.
#include <algorithm>
#include <string>

#include "array/HDSParseSnapshot.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"
#include "host/ZrClock.h"

namespace {

bool isNameValue(const std::string& value) { return !value.empty() && HDSShell::isLineSafe(value); }

// A read-back is "just read" for this long (any pause of a poll is longer).
constexpr int64_t kReadBackFreshMillis = 1000;

}  // namespace

int ZRHDSRaidcomImplementer::getSnapshotGroupList(std::vector<HDSSnapshotGroupInfo>& list,
                                                  const std::string& key, const bool& byLdev) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::getSnapshotGroupList";
  std::string args;
  if (byLdev) {
    // No key: every pair of the array.
    if (key.empty()) {
      args = " ";
    } else {
      if (!HDSShell::isDecimal(key)) return refuseInvalidInput(kFn, "LDEV", key);
      args = " -ldev_id " + key;
    }
    args += " ";
  } else {
    if (!isNameValue(key)) return refuseInvalidInput(kFn, "SnapshotGroup", key);
    args = " -snapshotgroup " + HDSShell::quote(key);
  }
  args += getCommonParams(true, true);

  // The group a batch has just read back, asked again before any command.
  ReadBackRows& kept = m_oReadBackRows;
  if (!byLdev && kept.group == key && kept.commandsRun == m_nCommandsRun &&
      ZrClock::get().monotonicMillis() - kept.readAtMillis < kReadBackFreshMillis) {
    list.insert(list.end(), kept.rows.begin(), kept.rows.end());
    kept = ReadBackRows();
    return 0;
  }
  std::string output;
  int exitCode = 0;
  if (executeCommandMain("raidcom  get snapshot ", args, output, exitCode) != 0) {
    // A group (or pair) that is not there, also one that vanished since the
    // last listing: nothing to list.
    if (exitCode == ZR_HDS_EXIT_NO_SUCH_OBJECT &&
        output.find("No such Object") != std::string::npos) {
      logMessage(1, kFn, "No snapshot found for [%s].", key.c_str());
      setErrorCodeString(0, "");
      return 0;
    }
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get the snapshot group list", kFn,
                      "Failed to get snapshot group list.");
  }
  std::vector<HDSSnapshotGroupInfo> rows;
  if (checkListing(kFn, output, hdsparse::parseSnapshotList(output, rows),
                   "Failed to get the snapshot group list") != 0) {
    return 1;
  }
  // The array keeps a snapshot group only while it holds pairs and answers
  // for one it does not know with "No such Object": a group listing without
  // a row is not the array's answer.
  if (!byLdev && rows.empty()) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get the snapshot group list", kFn,
                      "Incomplete snapshot group listing-[%s]", output.c_str());
  }
  list.insert(list.end(), rows.begin(), rows.end());
  return 0;
}

int ZRHDSRaidcomImplementer::readBackGroup(const std::string& group,
                                           std::vector<HDSSnapshotGroupInfo>& rows) {
  if (getSnapshotGroupList(rows, group, false) != 0) return 1;
  m_oReadBackRows.group = group;
  m_oReadBackRows.commandsRun = m_nCommandsRun;
  m_oReadBackRows.readAtMillis = ZrClock::get().monotonicMillis();
  m_oReadBackRows.rows = rows;
  return 0;
}

int ZRHDSRaidcomImplementer::addToSnapshotGroup() {
  static const char* const kFn = "ZRHDSRaidcomImplementer::addToSnapshotGroup";
  const std::string& group = m_oSnapOptions.snapshotGroup;
  const std::string& pool = m_oSnapOptions.pool;
  // Checked before the first pair is added: bad input adds nothing.
  if (!m_vSnaps.empty()) {
    if (!isNameValue(group)) return refuseInvalidInput(kFn, "SnapshotGroup", group);
    if (!isNameValue(pool)) return refuseInvalidInput(kFn, "Pool", pool);
    for (const ZRHDSSnapInfo& snap : m_vSnaps) {
      if (!HDSShell::isDecimal(snap.baseDevNo)) {
        return refuseInvalidInput(kFn, "LDEV", snap.baseDevNo);
      }
    }
  }
  std::vector<AsyncCommand> adds;
  for (const ZRHDSSnapInfo& snap : m_vSnaps) {
    AsyncCommand add;
    add.command = "raidcom  add snapshot ";
    add.arguments = " -ldev_id " + snap.baseDevNo + " -pool " + HDSShell::quote(pool) +
                    " -snapshotgroup " + HDSShell::quote(group);
    if (m_oSnapOptions.useConsistencyGrp) add.arguments += " -snap_mode CTG ";
    add.arguments += getCommonParams(true, true);
    add.object = "LDEV-" + snap.baseDevNo;
    adds.push_back(add);
  }
  // Read back from one listing of the group per batch: an LDEV without a
  // row there got no pair. One with a row may hold an older pair of a
  // reused group, so the caller's read-back of the new pairs decides which
  // records got one.
  std::vector<AsyncOutcome> outcomes;
  const int rc = runAsyncBatch(
      kFn, adds, true, false,
      [&](const std::vector<size_t>& items, std::vector<AsyncEffect>& effects) {
        std::vector<HDSSnapshotGroupInfo> rows;
        if (readBackGroup(group, rows) != 0) return;
        for (size_t k = 0; k < items.size(); ++k) {
          const std::string& source = m_vSnaps[items[k]].baseDevNo;
          const bool listed =
              std::any_of(rows.begin(), rows.end(),
                          [&](const HDSSnapshotGroupInfo& row) { return row.ldevId == source; });
          effects[k] = listed ? AsyncEffect::kTookEffect : AsyncEffect::kNoEffect;
        }
      },
      outcomes);
  if (rc != 0) {
    for (size_t i = 0; i < m_vSnaps.size(); ++i) {
      if (outcomes[i] == AsyncOutcome::kDone) continue;
      return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to create targetless snaps.", kFn,
                        "Failed to add targteless snap of LDEV-[%s] in snapshotgroup-[%s]",
                        m_vSnaps[i].baseDevNo.c_str(), group.c_str());
    }
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to create targetless snaps.", kFn,
                      "Failed to add targetless snaps in snapshotgroup-[%s]", group.c_str());
  }
  logMessage(1, kFn, "Successfully added [%d] targetless snaps to snapshotgroup-[%s]",
             static_cast<int>(m_vSnaps.size()), group.c_str());
  return 0;
}

ZRHDSRaidcomImplementer::PairBatchKind ZRHDSRaidcomImplementer::snapshotDataKind(
    const char* function, const std::string& operation) {
  PairBatchKind kind;
  kind.compose = [operation](const HDSSnapshotPairRef& p) {
    return " -ldev_id " + p.pvol + " -mirror_id " + p.mu + " -snapshot_data " + operation;
  };
  kind.effect = [operation](const HDSSnapshotGroupInfo* row, const HDSSnapshotPairRef&) {
    return snapshotDataEffect(operation, row);
  };
  kind.report = [this, function, operation](const HDSSnapshotPairRef& p, bool done, bool first) {
    const std::string description = " mirror_id " + p.mu;
    if (done) {
      logMessage(1, function, "Successfully performed [%s] on %s", operation.c_str(),
                 description.c_str());
      return;
    }
    logMessage(2, function, "Failed to perform [%s] on LDEV-[%s]%s", operation.c_str(),
               p.pvol.c_str(), description.c_str());
    if (first) {
      setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND,
                         "Failed to " + operation + " snapshot on " + description);
    }
  };
  return kind;
}

ZRHDSRaidcomImplementer::AsyncEffect ZRHDSRaidcomImplementer::snapshotDataEffect(
    const std::string& operation, const HDSSnapshotGroupInfo* row) {
  const std::string state = row == nullptr ? std::string() : row->status;
  if (operation == ZR_HDS_SNAPSHOT_DATA_RESYNC) {
    // Resynchronising discards the snapshot data: the pair goes to COPY
    // and then to PAIR. A pair that is gone has nothing left to clear.
    return row == nullptr || state == ZR_HDS_PAIR_STATE_PAIR || state == ZR_HDS_PAIR_STATE_COPY
               ? AsyncEffect::kTookEffect
               : AsyncEffect::kNoEffect;
  }
  if (row == nullptr) return AsyncEffect::kNoEffect;
  if (operation == ZR_HDS_SNAPSHOT_DATA_CREATE || operation == ZR_HDS_SNAPSHOT_DATA_SPLIT) {
    // Storing the snapshot data splits a pair: it leaves PAIR.
    return state != ZR_HDS_PAIR_STATE_PAIR ? AsyncEffect::kTookEffect : AsyncEffect::kNoEffect;
  }
  if (operation == ZR_HDS_SNAPSHOT_DATA_RESTORE) {
    // A restore copies back (RCPY) and then ends (PAIR, or PSUE when it
    // failed): the pair no longer holds its data split.
    return state != ZR_HDS_PAIR_STATE_PSUS && state != ZR_HDS_PAIR_STATE_SSUS ? AsyncEffect::kTookEffect
                                                              : AsyncEffect::kNoEffect;
  }
  return AsyncEffect::kUnknown;
}

int ZRHDSRaidcomImplementer::modifySnapshot(const std::map<std::string, std::string>& keys,
                                            const std::string& operation) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::modifySnapshot";
  auto value = [&](const char* key) -> const std::string* {
    auto it = keys.find(key);
    return it == keys.end() ? nullptr : &it->second;
  };
  // Nothing to act on (no selector key, or the chosen one without a value):
  // the command would name no pair.
  auto notGiven = [&]() {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to execute 'modify snashot' command", kFn,
                      "Invalid inputs: None of SnapshotGroup name, LDEV Id or MU# is given.");
  };
  if (!HDSShell::isPlain(operation)) return refuseInvalidInput(kFn, "Operation", operation);
  if (const std::string* ldev = value("S_LDEV_NUM")) {
    if (ldev->empty()) return notGiven();
    if (!HDSShell::isDecimal(*ldev)) return refuseInvalidInput(kFn, "LDEV", *ldev);
    return modifySnapshotWhole(" -ldev_id " + *ldev, " LDEV " + *ldev, *ldev, true, operation);
  }
  if (const std::string* group = value("SNAP_GRP")) {
    if (group->empty()) return notGiven();
    if (!isNameValue(*group)) return refuseInvalidInput(kFn, "SnapshotGroup", *group);
    return modifySnapshotWhole(" -snapshotgroup " + HDSShell::quote(*group),
                               " SnapshotGroup " + *group, *group, false, operation);
  }
  const std::string* mu = value("MU_NUM");
  const std::string* pvol = value("P_LDEV_NUM");
  if (mu == nullptr || pvol == nullptr || pvol->empty() || mu->empty()) return notGiven();
  if (!HDSShell::isDecimal(*pvol)) return refuseInvalidInput(kFn, "LDEV", *pvol);
  if (!HDSShell::isDecimal(*mu)) return refuseInvalidInput(kFn, "MU", *mu);
  logMessage(1, kFn, "Going to perform [%s] snapshot on %s", operation.c_str(),
             (" mirror_id " + *mu).c_str());
  std::vector<bool> done;
  return runPairBatch(kFn, "raidcom  modify snapshot ", {{*pvol, *mu, "", ""}}, true,
                      snapshotDataKind(kFn, operation), done);
}

int ZRHDSRaidcomImplementer::modifySnapshotWhole(const std::string& selector,
                                                 const std::string& description,
                                                 const std::string& key, bool bySvol,
                                                 const std::string& operation) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::modifySnapshot";
  logMessage(1, kFn, "Going to perform [%s] snapshot on %s", operation.c_str(),
             description.c_str());
  AsyncCommand command;
  command.command = "raidcom  modify snapshot ";
  command.arguments = selector + " -snapshot_data " + operation + getCommonParams(true, true);
  command.object = description;
  // Read back: every pair the selector names (the group's, or the one
  // whose S-VOL the LDEV is) shows the operation's effect.
  auto readBack = [&](const std::vector<size_t>&, std::vector<AsyncEffect>& effects) {
    std::vector<HDSSnapshotGroupInfo> rows;
    if ((bySvol ? getSnapshotGroupList(rows, key, true) : readBackGroup(key, rows)) != 0) return;
    bool any = false;
    AsyncEffect effect = AsyncEffect::kTookEffect;
    for (const HDSSnapshotGroupInfo& row : rows) {
      if (bySvol && (row.isPvol || row.ldevId != key)) continue;
      any = true;
      const AsyncEffect one = snapshotDataEffect(operation, &row);
      if (one != AsyncEffect::kTookEffect) effect = one;
    }
    effects[0] = any ? effect : snapshotDataEffect(operation, nullptr);
  };
  std::vector<AsyncOutcome> outcomes;
  if (runAsyncBatch(kFn, {command}, true, true, readBack, outcomes) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND,
                      "Failed to " + operation + " snapshot on " + description, kFn,
                      "Failed to perform [%s]", operation.c_str());
  }
  logMessage(1, kFn, "Successfully performed [%s] on %s", operation.c_str(), description.c_str());
  return 0;
}

int ZRHDSRaidcomImplementer::deleteSnapshot(const std::string& ldev, const std::string& mu) {
  std::vector<bool> done;
  return deleteSnapshotBatch({{ldev, mu, "", ""}}, done);
}

int ZRHDSRaidcomImplementer::mapSnapshot(const std::string& pvol, const std::string& target,
                                         const std::string& mu) {
  std::vector<bool> done;
  return mapSnapshotBatch({{pvol, mu, target, ""}}, done);
}

int ZRHDSRaidcomImplementer::unmapSnapshot(const std::string& pvol, const std::string& mu) {
  std::vector<bool> done;
  return unmapSnapshotBatch({{pvol, mu, "", ""}}, done);
}
