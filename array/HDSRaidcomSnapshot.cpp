// Thin Image targetless snapshot pairs: listing, adding the job's sources to
// a snapshot group, snapshot-data operations, deletion, and association of
// target LDEVs.
#include <string>

#include "array/HDSParseSnapshot.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"

namespace {

bool isNameValue(const std::string& value) { return !value.empty() && HDSShell::isLineSafe(value); }

// The array carries out the commands that change snapshot pairs after the
// tool has returned: a failure then shows only in the command status. Each
// runs serialised, with the status reset before and read after (the adds of
// a job share one reset and read per batch).
constexpr bool kWithStatusCheck = true;

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

  std::string output;
  int exitCode = 0;
  if (executeCommandMain("raidcom  get snapshot ", args, output, exitCode, false) != 0) {
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
  // Read back from the group's listing: an LDEV without a row there got no
  // pair. One with a row may hold an older pair of a reused group, so the
  // caller's read-back of the new pairs decides which records got one.
  std::vector<HDSSnapshotGroupInfo> rows;
  bool listed = false;
  bool readable = false;
  std::vector<AsyncOutcome> outcomes;
  const int rc = runAsyncBatch(
      kFn, adds, true, false,
      [&](size_t i) {
        if (!listed) {
          const int code = m_nErrorCode;
          const std::string text = m_sErrorString;
          readable = getSnapshotGroupList(rows, group, false) == 0;
          m_nErrorCode = code;
          m_sErrorString = text;
          listed = true;
        }
        if (!readable) return AsyncEffect::kUnknown;
        for (const HDSSnapshotGroupInfo& row : rows) {
          if (row.ldevId == m_vSnaps[i].baseDevNo) return AsyncEffect::kTookEffect;
        }
        return AsyncEffect::kNoEffect;
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
  std::string selector;
  std::string description;
  if (const std::string* ldev = value("S_LDEV_NUM")) {
    if (ldev->empty()) return notGiven();
    if (!HDSShell::isDecimal(*ldev)) return refuseInvalidInput(kFn, "LDEV", *ldev);
    selector = " -ldev_id " + *ldev;
    description = " LDEV " + *ldev;
  } else if (const std::string* group = value("SNAP_GRP")) {
    if (group->empty()) return notGiven();
    if (!isNameValue(*group)) return refuseInvalidInput(kFn, "SnapshotGroup", *group);
    selector = " -snapshotgroup " + HDSShell::quote(*group);
    description = " SnapshotGroup " + *group;
  } else if (const std::string* mu = value("MU_NUM")) {
    const std::string* pvol = value("P_LDEV_NUM");
    if (pvol == nullptr || pvol->empty() || mu->empty()) return notGiven();
    if (!HDSShell::isDecimal(*pvol)) return refuseInvalidInput(kFn, "LDEV", *pvol);
    if (!HDSShell::isDecimal(*mu)) return refuseInvalidInput(kFn, "MU", *mu);
    selector = " -ldev_id " + *pvol + " -mirror_id " + *mu;
    description = " mirror_id " + *mu;
  } else {
    return notGiven();
  }
  if (!HDSShell::isPlain(operation)) return refuseInvalidInput(kFn, "Operation", operation);

  const std::string args = selector + " -snapshot_data " + operation + getCommonParams(true, true);
  logMessage(1, kFn, "Going to perform [%s] snapshot on %s", operation.c_str(),
             description.c_str());
  std::string output;
  int exitCode = 0;
  if (executeCommandMain("raidcom  modify snapshot ", args, output, exitCode, kWithStatusCheck) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND,
                      "Failed to " + operation + " snapshot on " + description, kFn,
                      "Failed to perform [%s]", operation.c_str());
  }
  logMessage(1, kFn, "Successfully performed [%s] on %s", operation.c_str(), description.c_str());
  return 0;
}

int ZRHDSRaidcomImplementer::deleteSnapshot(const std::string& ldev, const std::string& mu) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::deleteSnapshot";
  if (!HDSShell::isDecimal(ldev)) return refuseInvalidInput(kFn, "LDEV", ldev);
  if (!HDSShell::isDecimal(mu)) return refuseInvalidInput(kFn, "MU", mu);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain("raidcom  delete snapshot ",
                         " -ldev_id " + ldev + " -mirror_id " + mu + getCommonParams(true, true),
                         output, exitCode, kWithStatusCheck) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND,
                      "Failed to delete targetless snap, LDEV-[" + ldev + "], MU-[" + mu + "]", kFn,
                      "Failed to delete targetless snap, LDEV-[%s], MU-[%s]", ldev.c_str(),
                      mu.c_str());
  }
  logMessage(1, kFn, "Successfully deleted Targetless Snapshot, LDEV-[%s], MU-[%s]", ldev.c_str(),
             mu.c_str());
  return 0;
}

int ZRHDSRaidcomImplementer::mapSnapshot(const std::string& pvol, const std::string& target,
                                         const std::string& mu) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::mapSnapshot";
  if (!HDSShell::isDecimal(pvol)) return refuseInvalidInput(kFn, "LDEV", pvol);
  if (!HDSShell::isDecimal(target)) return refuseInvalidInput(kFn, "Target LDEV", target);
  if (!HDSShell::isDecimal(mu)) return refuseInvalidInput(kFn, "MU", mu);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(
          "raidcom  map snapshot ",
          " -ldev_id " + pvol + " " + target + " -mirror_id " + mu + getCommonParams(true, true),
          output, exitCode, kWithStatusCheck) != 0) {
    return failLogged(
        ZR_HDS_ERR_ARRAY_COMMAND,
        "Failed to map target LDEV-[" + target + "] to Snap-[" + pvol + "-MU" + mu + "].", kFn,
        "Failed to map target LDEV-[%s] to Snap-[%s-MU%s].", target.c_str(), pvol.c_str(),
        mu.c_str());
  }
  logMessage(1, kFn, "Successfully associated target LDEV-[%s] to Snap[%s-MU%s]", target.c_str(),
             pvol.c_str(), mu.c_str());
  return 0;
}

int ZRHDSRaidcomImplementer::unmapSnapshot(const std::string& pvol, const std::string& mu) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::unmapSnapshot";
  if (!HDSShell::isDecimal(pvol)) return refuseInvalidInput(kFn, "LDEV", pvol);
  if (!HDSShell::isDecimal(mu)) return refuseInvalidInput(kFn, "MU", mu);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain("raidcom  unmap snapshot ",
                         " -ldev_id " + pvol + " -mirror_id " + mu + getCommonParams(true, true),
                         output, exitCode, kWithStatusCheck) != 0) {
    return failLogged(
        ZR_HDS_ERR_ARRAY_COMMAND,
        "Failed to unmap target LDEV associated with Snap-[" + pvol + "-MU" + mu + "].", kFn,
        "Failed to unmap target LDEV associated with Snap-[%s-MU%s].", pvol.c_str(), mu.c_str());
  }
  logMessage(1, kFn, "Successfully disassociated target LDEV from Snap[%s-MU%s]", pvol.c_str(),
             mu.c_str());
  return 0;
}
