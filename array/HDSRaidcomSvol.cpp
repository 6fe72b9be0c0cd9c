// Target LDEVs (S-VOLs): creation (labelled once the array proves each the
// job's) with an undo script, deletion out of the job's resource group, and
// labels set and restored by script.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

#include "array/HDSParseLdev.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"
#include "array/HDSTextColumns.h"
#include "host/ZrClock.h"

namespace {

// Adding and deleting an LDEV complete on the array after the tool has
// returned: they run in batches, read back with a listing of their ids.
const char kAddLdev[] = "raidcom  add ldev ";
const char kDeleteLdev[] = "raidcom  delete ldev ";
const char kModifyLdev[] = "raidcom  modify ldev ";
// The undo script's line for one LDEV (after the CCI directory).
const char kUndoDeleteLdev[] = "raidcom  delete ldev -ldev_id ";
const char kDontUseMpBladeKey[] = "nZRHDSDontUseMPBladeId";
// Sense pair of the array's refusal "LDEV not installed".
const char kSsbNotInstalled1[] = "2E20";
const char kSsbNotInstalled2[] = "0000";
// Virtual ids above this one are reserved values (no virtual id in use).
constexpr long kMaxUsableVirtualLdev = 65533;

// Decimal value of a virtual id text; an empty text counts as 0.
long virtualIdValue(const std::string& text) {
  return text.empty() ? 0 : std::strtol(text.c_str(), nullptr, 10);
}

}  // namespace

std::string ZRHDSRaidcomImplementer::svolScriptLine(const std::string& command) {
  const std::string& dir = m_oSnapOptions.horcmInstPath;
  return (dir.empty() ? std::string() : HDSShell::quote(dir)) + command +
         getCommonParams(true, true) + "\n";
}

ZRHDSRaidcomImplementer::AsyncEffect ZRHDSRaidcomImplementer::newLdevEffect(
    const std::map<std::string, HDSLdevInfo>& listed, const ZRHDSSnapInfo& snap) {
  const auto it = listed.find(snap.snapLdevId);
  if (it == listed.end()) return AsyncEffect::kUnknown;
  const HDSLdevInfo& l = it->second;
  const bool ours = l.label.empty() || l.label == hdsparse::listedLabel(snap.svolLabel);
  return l.volAttr != HDS_VOL_ATTR_UNDEFINED && l.capacityBlocks == snap.capacity && ours
             ? AsyncEffect::kTookEffect
             : AsyncEffect::kNoEffect;
}

// The label goes on an LDEV only once the array has proven it the job's:
// an add that the status shows refused ("already defined": someone made
// the id meanwhile) leaves someone else's LDEV there, which must never
// carry the job's label (a recovery after a kill deletes what does). A
// batch of adds is therefore read back first (its status and one listing
// of its ids) and labelled after. Until then only the caller's record
// tells the job's LDEVs from anyone's: the watch hears of each add the
// moment the array accepted it, and of each accepted add the read-back
// does not prove the job's.
int ZRHDSRaidcomImplementer::createSvols(const NewLdevWatch& watch) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::createSvols";
  int dontUseMpBlade = 0;
  if (readSettingInt(kDontUseMpBladeKey, dontUseMpBlade) && dontUseMpBlade > 0) {
    logMessage(1, kFn, "The Registry key-[%s] is set. Value-[%d]", kDontUseMpBladeKey,
               dontUseMpBlade);
  }
  const std::string pool = m_oSnapOptions.isHTI ? std::string("snap") : m_oSnapOptions.pool;

  // Every value is checked before the first LDEV is made, so bad input
  // never leaves half a job on the array.
  if (!HDSShell::isLineSafe(pool)) return refuseInvalidInput(kFn, "Pool", pool);
  if (refuseUnusableCommonOptions(kFn) != 0) return 1;
  std::vector<size_t> wanted;  // records to make an S-VOL for
  for (size_t i = 0; i < m_vSnaps.size(); ++i) {
    const ZRHDSSnapInfo& snap = m_vSnaps[i];
    if (snap.snapMapped) continue;
    if (!HDSShell::isDecimal(snap.snapLdevId)) {
      return refuseInvalidInput(kFn, "LDEV", snap.snapLdevId);
    }
    if (!snap.snapVirLdevId.empty() &&
        (!HDSShell::isDecimal(snap.snapVirLdevId) || snap.snapVirLdevId.size() > 9)) {
      return refuseInvalidInput(kFn, "Virtual LDEV", snap.snapVirLdevId);
    }
    if (!HDSShell::isLineSafe(snap.svolLabel))
      return refuseInvalidInput(kFn, "Label", snap.svolLabel);
    wanted.push_back(i);
  }

  std::vector<AsyncOutcome> outcomes(wanted.size(), AsyncOutcome::kNotSent);
  const size_t limit = static_cast<size_t>(ZR_HDS_ASYNC_BATCH_LIMIT);
  int result = 0;
  std::set<std::string> stillMarked;
  for (size_t begin = 0; result == 0 && begin < wanted.size(); begin += limit) {
    const size_t end = std::min(wanted.size(), begin + limit);
    result = createSvolChunk(wanted, begin, end, pool, dontUseMpBlade <= 0, watch, outcomes,
                             stillMarked);
  }
  for (size_t i = 0; result == 0 && i < wanted.size(); ++i) {
    result = arrangeInJobGroup(m_vSnaps[wanted[i]]);
  }
  if (result == 0) return 0;

  // Undo what this call provably made (labelled or not); an LDEV that may
  // be someone else's stays, unlabelled, for an administrator, and one the
  // caller's record still marks made stays for a later job's recovery.
  std::vector<std::string> made;
  for (size_t i = 0; i < wanted.size(); ++i) {
    const std::string& id = m_vSnaps[wanted[i]].snapLdevId;
    const bool ours = outcomes[i] == AsyncOutcome::kDone || outcomes[i] == AsyncOutcome::kUnknown;
    if (ours && stillMarked.count(id) != 0) {
      logMessage(1, kFn,
                 "LDEV-[%s] is left for the recovery of a later job: the record of this job's "
                 "new LDEVs could not be brought up to date.",
                 id.c_str());
    } else if (ours) {
      made.push_back(id);
    } else if (outcomes[i] == AsyncOutcome::kUnproven) {
      logMessage(1, kFn,
                 "LDEV-[%s] may be another's (the command status cannot show that its add took "
                 "effect) and is left unlabelled. If it is this job's, an administrator removes "
                 "it: raidcom get ldev -ldev_id %s%s (its PORTs), raidcom delete ldev -ldev_id "
                 "%s%s",
                 id.c_str(), id.c_str(), getCommonParams(true, true).c_str(), id.c_str(),
                 getCommonParams(true, true).c_str());
    }
  }
  undoNewSvols(made);
  return 1;
}

int ZRHDSRaidcomImplementer::createSvolChunk(const std::vector<size_t>& wanted, size_t begin,
                                             size_t end, const std::string& pool, bool withBlade,
                                             const NewLdevWatch& watch,
                                             std::vector<AsyncOutcome>& outcomes,
                                             std::set<std::string>& stillMarked) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::createSvols";
  std::vector<AsyncCommand> adds;
  std::vector<bool> acceptedAdds(end - begin, false);
  for (size_t i = begin; i < end; ++i) {
    const ZRHDSSnapInfo& snap = m_vSnaps[wanted[i]];
    AsyncCommand add;
    add.command = kAddLdev;
    if (!pool.empty()) add.arguments += " -pool " + HDSShell::quote(pool);
    if (withBlade) add.arguments += " -mp_blade_id " + std::to_string(snap.mpBladeId);
    add.arguments += " -ldev_id " + snap.snapLdevId;
    add.arguments += " -capacity " + std::to_string(snap.capacity);
    add.arguments += getCommonParams(true, true);
    add.object = "LDEV-" + snap.snapLdevId;
    add.after = [&watch, &snap, &acceptedAdds, k = i - begin]() {
      acceptedAdds[k] = true;
      if (watch.accepted) watch.accepted(snap.snapLdevId);
      return kStepSend;
    };
    adds.push_back(add);
  }
  std::vector<AsyncOutcome> chunk;
  const int added = runAsyncBatch(
      kFn, adds, true, false,
      [&](const std::vector<size_t>& items, std::vector<AsyncEffect>& effects) {
        std::vector<std::string> ids;
        for (size_t k : items) ids.push_back(m_vSnaps[wanted[begin + k]].snapLdevId);
        std::map<std::string, HDSLdevInfo> listed;
        if (listLdevsAt(ids, listed) != 0) return;
        for (size_t k = 0; k < items.size(); ++k) {
          effects[k] = newLdevEffect(listed, m_vSnaps[wanted[begin + items[k]]]);
        }
      },
      chunk);
  std::copy(chunk.begin(), chunk.end(), outcomes.begin() + static_cast<long>(begin));
  // An accepted add that the array does not prove the job's leaves the
  // caller's record of made LDEVs before anything else is sent; the rest
  // leave it once they carry the label (or, on a failure, before the undo
  // deletes them again).
  std::vector<std::string> unproven, proven;
  for (size_t k = 0; k < chunk.size(); ++k) {
    if (!acceptedAdds[k]) continue;
    const bool made = chunk[k] == AsyncOutcome::kDone || chunk[k] == AsyncOutcome::kUnknown;
    (made ? proven : unproven).push_back(m_vSnaps[wanted[begin + k]].snapLdevId);
  }
  if (!unproven.empty() && watch.settled) watch.settled(unproven, true);
  // The ones the array proves the job's get its label; an LDEV whose label
  // is refused is the job's still, and is undone with the others.
  int labelled = 0;
  for (size_t k = 0; labelled == 0 && k < chunk.size(); ++k) {
    if (chunk[k] == AsyncOutcome::kDone) labelled = labelNewSvol(m_vSnaps[wanted[begin + k]]);
  }
  if (!proven.empty() && watch.settled && !watch.settled(proven, false)) {
    stillMarked.insert(proven.begin(), proven.end());
  }
  if (labelled != 0) return 1;
  if (added == 0) return 0;
  // The error names the add the array shows without effect, else the first
  // that is not done.
  size_t failed = chunk.size();
  for (size_t k = 0; k < chunk.size(); ++k) {
    if (chunk[k] == AsyncOutcome::kNoEffect) {
      failed = k;
      break;
    }
    if (chunk[k] != AsyncOutcome::kDone && failed == chunk.size()) failed = k;
  }
  if (failed == chunk.size()) return 1;
  const std::string& id = m_vSnaps[wanted[begin + failed]].snapLdevId;
  return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to Create LDEV-" + id, kFn,
                    "Failed to Create LDEV-[%s]", id.c_str());
}

int ZRHDSRaidcomImplementer::labelNewSvol(const ZRHDSSnapInfo& snap) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::createSvols";
  const std::string label = hdsparse::writtenLabel(snap.svolLabel);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(kModifyLdev,
                         " -ldev_id " + snap.snapLdevId + " -ldev_name " + HDSShell::quote(label) +
                             getCommonParams(true, true),
                         output, exitCode) == 0) {
    return 0;
  }
  return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to label LDEV-" + snap.snapLdevId, kFn,
                    "Failed to label LDEV-[%s] as [%s]", snap.snapLdevId.c_str(), label.c_str());
}

void ZRHDSRaidcomImplementer::undoNewSvols(const std::vector<std::string>& ids) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::createSvols";
  std::string undo;
  for (const std::string& id : ids) undo += svolScriptLine(kUndoDeleteLdev + id);
  if (undo.empty()) return;
  const SavedError failure = saveError();
  std::string output;
  int exitCode = 0;
  if (executeScriptFile(undo, output, exitCode) != 0) {
    logMessage(2, kFn, "Failed to delete the LDEVs created by this job. Output-[%s]",
               output.c_str());
  }
  restoreError(failure);
}

int ZRHDSRaidcomImplementer::arrangeInJobGroup(ZRHDSSnapInfo& snap) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::createSvols";
  if (m_oSnapOptions.resourceGroup == ZR_HDS_META_RESOURCE) return 0;
  const std::string& group = m_oSnapOptions.resourceGroup;
  const HDSResourceType kind = HDS_RESOURCE_LDEV;
  if (m_oSnapOptions.isVSM && virtualIdValue(snap.snapVirLdevId) <= kMaxUsableVirtualLdev) {
    // The new LDEV keeps the virtual id its id carried while free (the
    // S-VOL search records it in snapVirLdevId); without one it is the
    // LDEV's own id. That virtual id must be released before the LDEV may
    // change group, and is given back by the map below.
    const std::string& current = snap.snapVirLdevId.empty() ? snap.snapLdevId : snap.snapVirLdevId;
    if (unmapFromResourceGroup(snap.snapLdevId, current, kind) != 0) {
      logMessage(2, kFn, "Failed to virtualize LDEV-[%s] in ResourceGroup-[%s]",
                 snap.snapLdevId.c_str(), group.c_str());
      return 1;
    }
  }
  if (addToResourceGroup(snap.snapLdevId, kind) != 0) {
    logMessage(2, kFn, "Failed to add LDEV-[%s] to ResourceGroup-[%s]", snap.snapLdevId.c_str(),
               group.c_str());
    return 1;
  }
  if (m_oSnapOptions.isVSM) {
    const std::string virtualId =
        (!snap.snapVirLdevId.empty() && virtualIdValue(snap.snapVirLdevId) <= kMaxUsableVirtualLdev)
            ? snap.snapVirLdevId
            : snap.snapLdevId;
    if (mapToResourceGroup(snap.snapLdevId, virtualId, kind) != 0) {
      logMessage(2, kFn, "Failed to virtualize LDEV-[%s] in ResourceGroup-[%s]",
                 snap.snapLdevId.c_str(), group.c_str());
      return 1;
    }
    snap.snapVirLdevId = virtualId;
  }
  return 0;
}

int ZRHDSRaidcomImplementer::releaseFromJobGroup(const std::string& ldevId) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::deleteSvols";
  const std::string& group = m_oSnapOptions.resourceGroup;
  if (group == ZR_HDS_META_RESOURCE) return kStepSend;
  std::vector<HDSLdevInfo> ldev(1);
  ldev[0].ldevId = ldevId;
  ldev[0].serial = m_oSnapOptions.baseSerialNum;
  if (getLdevInfo(ldev) != 0) return kStepFailed;
  if (ldev[0].volAttr == HDS_VOL_ATTR_UNDEFINED) {
    // Gone already (an earlier run, or someone else): nothing to move or
    // delete, and a rollback that deletes its S-VOLs goes on.
    logMessage(1, kFn, "LDEV-[%s] is already deleted.", ldevId.c_str());
    return kStepDone;
  }
  // A listing without VIR_LDEV means the virtual id is the LDEV's own.
  const std::string virtualId = ldev[0].virtualLdevId.empty() ? ldevId : ldev[0].virtualLdevId;
  if (!HDSShell::isDecimal(virtualId) || virtualId.size() > 9) {
    refuseInvalidInput(kFn, "Virtual LDEV", virtualId);
    return kStepFailed;
  }
  const HDSResourceType kind = HDS_RESOURCE_LDEV;
  if (virtualIdValue(virtualId) <= kMaxUsableVirtualLdev) {
    if (unmapFromResourceGroup(ldevId, virtualId, kind) != 0) {
      logMessage(2, kFn, "Failed to de-virtualize LDEV-[%s] in ResourceGroup-[%s]", ldevId.c_str(),
                 group.c_str());
      return kStepFailed;
    }
  }
  if (deleteFromResourceGroup(ldevId, kind) != 0) return kStepFailed;
  if (mapToResourceGroup(ldevId, virtualId, kind) != 0) {
    logMessage(2, kFn, "Failed to de-virtualize LDEV-[%s] in ResourceGroup-[%s]", ldevId.c_str(),
               group.c_str());
    return kStepFailed;
  }
  return kStepSend;
}

int ZRHDSRaidcomImplementer::deleteSvols(const std::string& ldevId) {
  std::vector<bool> done;
  return deleteSvolBatch({ldevId}, 0, done);
}

int ZRHDSRaidcomImplementer::deleteSvolBatch(const std::vector<std::string>& ldevs,
                                             int pauseSeconds, std::vector<bool>& done) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::deleteSvols";
  done.assign(ldevs.size(), false);
  for (const std::string& id : ldevs) {
    if (!HDSShell::isDecimal(id)) return refuseInvalidInput(kFn, "LDEV", id);
  }
  std::vector<AsyncCommand> deletes;
  for (size_t i = 0; i < ldevs.size(); ++i) {
    const std::string& id = ldevs[i];
    AsyncCommand c;
    c.command = kDeleteLdev;
    c.arguments = " -ldev_id " + id + getCommonParams(true, true);
    c.object = "LDEV-" + id;
    c.before = [this, id]() {
      const int step = releaseFromJobGroup(id);
      if (step == kStepSend) logMessage(1, kFn, "Going to delete the S-VOL-[%s]", id.c_str());
      return step;
    };
    // The array's refusal names the cause by its sense pair; the text is
    // kept for tools that print only the message.
    c.alreadyDone = [this, id](int, const std::string& output) {
      if (!hdscols::namesRefusal(output, kSsbNotInstalled1, kSsbNotInstalled2,
                                 "LDEV is not installed")) {
        return false;
      }
      logMessage(1, kFn, "LDEV-[%s] is already deleted.", id.c_str());
      setErrorCodeString(0, "");
      return true;
    };
    deletes.push_back(c);
  }
  // Read back from one listing of the batch's ids: an id that holds no LDEV
  // any more was deleted.
  auto readBack = [&](const std::vector<size_t>& items, std::vector<AsyncEffect>& effects) {
    std::vector<std::string> ids;
    for (size_t i : items) ids.push_back(ldevs[i]);
    std::map<std::string, HDSLdevInfo> listed;
    if (listLdevsAt(ids, listed) != 0) return;
    for (size_t k = 0; k < items.size(); ++k) {
      const auto it = listed.find(ldevs[items[k]]);
      if (it == listed.end()) continue;
      effects[k] = it->second.volAttr == HDS_VOL_ATTR_UNDEFINED ? AsyncEffect::kTookEffect
                                                                : AsyncEffect::kNoEffect;
    }
  };
  std::vector<AsyncOutcome> outcomes;
  int rc = 0;
  if (pauseSeconds <= 0) {
    rc = runAsyncBatch(kFn, deletes, true, true, readBack, outcomes);
  } else {
    // A pause after each deletion: one deletion per batch, so that the
    // pause never holds the serialisation of the machine's other jobs.
    outcomes.assign(deletes.size(), AsyncOutcome::kNotSent);
    for (size_t i = 0; i < deletes.size() && rc == 0; ++i) {
      std::vector<AsyncOutcome> one;
      rc = runAsyncBatch(
          kFn, {deletes[i]}, true, true,
          [&](const std::vector<size_t>&, std::vector<AsyncEffect>& effects) {
            readBack({i}, effects);
          },
          one);
      outcomes[i] = one[0];
      if (rc == 0) ZrClock::get().sleepMillis(static_cast<int64_t>(pauseSeconds) * 1000);
    }
  }
  for (size_t i = 0; i < ldevs.size(); ++i) {
    done[i] = outcomes[i] == AsyncOutcome::kDone;
    if (done[i]) logMessage(1, kFn, "Successfully deleted the LDEV-[%s]", ldevs[i].c_str());
  }
  if (rc == 0) return 0;
  for (size_t i = 0; i < ldevs.size(); ++i) {
    if (done[i]) continue;
    // A failed step before the deletion keeps its own error.
    if (outcomes[i] == AsyncOutcome::kStepFailed) return 1;
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to delete LDEV-[" + ldevs[i] + "]", kFn,
                      "Failed to delete LDEV-[%s]", ldevs[i].c_str());
  }
  return 1;
}

int ZRHDSRaidcomImplementer::modifySvolLabel(const std::vector<ZRHDSSnapInfo>& snaps, bool revert) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::modifySvolLabel";
  if (snaps.empty()) {
    logMessage(1, kFn, "Successfully modified S-VOLs label for [%d] pairs.", 0);
    return 0;
  }
  if (refuseUnusableCommonOptions(kFn) != 0) return 1;
  std::string labelScript;
  std::string formerScript;
  for (const ZRHDSSnapInfo& snap : snaps) {
    if (!HDSShell::isDecimal(snap.snapLdevId)) {
      return refuseInvalidInput(kFn, "LDEV", snap.snapLdevId);
    }
    for (const std::string* label : {&snap.svolLabel, &snap.snapOriginalName}) {
      if (!HDSShell::isLineSafe(*label)) return refuseInvalidInput(kFn, "Label", *label);
    }
    auto line = [&](const std::string& label) {
      return svolScriptLine(std::string(kModifyLdev) + "-ldev_id " + snap.snapLdevId +
                            " -ldev_name " + HDSShell::quote(hdsparse::writtenLabel(label)));
    };
    labelScript += line(snap.svolLabel);
    formerScript += line(snap.snapOriginalName);
  }

  std::string output;
  int exitCode = 0;
  if (executeScriptFile(revert ? formerScript : labelScript, output, exitCode) == 0) {
    logMessage(1, kFn, "Successfully modified S-VOLs label for [%d] pairs.",
               static_cast<int>(snaps.size()));
    return 0;
  }
  // Put back what the labels were before this call.
  std::string undoOutput;
  int undoExit = 0;
  executeScriptFile(revert ? labelScript : formerScript, undoOutput, undoExit);
  return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to modify the S-VOL labels.", kFn,
                    "Failed to modify the S-VOL labels.");
}
