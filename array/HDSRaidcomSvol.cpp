// Target LDEVs (S-VOLs): creation with an undo script, deletion out of the
// job's resource group, and labels set and restored by script.
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

const char kAddLdev[] = "raidcom  add ldev ";
const char kDeleteLdev[] = "raidcom  delete ldev ";
const char kModifyLdev[] = "raidcom  modify ldev ";
// The name written for an empty label.
const char kBlankLabel[] = "BLANK";
// Adding and deleting an LDEV complete on the array after the tool has
// returned: they run in batches with the command-status check.
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
    const std::string& ldevId, uint64_t capacity, const std::string& label) {
  const int code = m_nErrorCode;
  const std::string text = m_sErrorString;
  std::vector<HDSLdevInfo> probe(1);
  probe[0].ldevId = ldevId;
  probe[0].serial = m_oSnapOptions.baseSerialNum;
  const bool read = getLdevInfo(probe) == 0;
  m_nErrorCode = code;
  m_sErrorString = text;
  if (!read) return AsyncEffect::kUnknown;
  const HDSLdevInfo& l = probe[0];
  // The listing shows a label without its blanks.
  std::string written = label.empty() ? std::string(kBlankLabel) : label;
  written.erase(std::remove_if(written.begin(), written.end(),
                               [](char c) { return c == ' ' || c == '\t'; }),
                written.end());
  const bool ours = l.label.empty() || l.label == written;
  return l.volAttr != HDS_VOL_ATTR_UNDEFINED && l.capacityBlocks == capacity && ours
             ? AsyncEffect::kTookEffect
             : AsyncEffect::kNoEffect;
}

int ZRHDSRaidcomImplementer::createSvols() {
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

  std::vector<AsyncCommand> adds;
  for (size_t index : wanted) {
    const ZRHDSSnapInfo& snap = m_vSnaps[index];
    AsyncCommand add;
    add.command = kAddLdev;
    if (!pool.empty()) add.arguments += " -pool " + HDSShell::quote(pool);
    if (dontUseMpBlade <= 0) add.arguments += " -mp_blade_id " + std::to_string(snap.mpBladeId);
    add.arguments += " -ldev_id " + snap.snapLdevId;
    add.arguments += " -capacity " + std::to_string(snap.capacity);
    add.arguments += getCommonParams(true, true);
    add.object = "LDEV-" + snap.snapLdevId;
    // Labelled at once: an LDEV without the job's label may be anyone's, so
    // only the one command between the add and its label leaves an S-VOL
    // that a killed job's record cannot prove its own. The job holds the
    // array's resource lock, so the free id it chose cannot have become
    // anyone else's LDEV in between.
    add.after = [this, index]() { return labelNewSvol(m_vSnaps[index]) == 0 ? kStepSend : kStepFailed; };
    adds.push_back(add);
  }
  // An LDEV is taken for this call's only when the array shows the one
  // asked for (defined, of that capacity, unlabelled) and no refusal can
  // be one of those; a read that fails counts it as made.
  std::vector<AsyncOutcome> outcomes;
  const int added = runAsyncBatch(
      kFn, adds, true, false,
      [&](size_t i) {
        const ZRHDSSnapInfo& snap = m_vSnaps[wanted[i]];
        return newLdevEffect(snap.snapLdevId, snap.capacity, snap.svolLabel);
      },
      outcomes);

  std::string undo;
  for (size_t i = 0; i < wanted.size(); ++i) {
    const AsyncOutcome o = outcomes[i];
    // A label that failed may leave its LDEV made.
    if (o == AsyncOutcome::kDone || o == AsyncOutcome::kUnknown ||
        o == AsyncOutcome::kStepFailed) {
      undo += svolScriptLine(kUndoDeleteLdev + m_vSnaps[wanted[i]].snapLdevId);
    }
  }
  int result = 0;
  if (added != 0) {
    for (size_t i = 0; i < wanted.size(); ++i) {
      if (outcomes[i] == AsyncOutcome::kDone) continue;
      if (outcomes[i] == AsyncOutcome::kStepFailed) break;  // the label's error stands
      if (outcomes[i] == AsyncOutcome::kNotSent && i > 0 &&
          outcomes[i - 1] == AsyncOutcome::kStepFailed)
        break;
      const std::string& id = m_vSnaps[wanted[i]].snapLdevId;
      logMessage(2, kFn, "Failed to Create LDEV-[%s]", id.c_str());
      setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to Create LDEV-" + id);
      break;
    }
    result = 1;
  }
  for (size_t i = 0; result == 0 && i < wanted.size(); ++i) {
    result = arrangeInJobGroup(m_vSnaps[wanted[i]]);
  }
  if (result == 0) return 0;

  // Undo what this call made; the error pair keeps the failed step's text.
  if (!undo.empty()) {
    const int code = m_nErrorCode;
    const std::string text = m_sErrorString;
    std::string output;
    int exitCode = 0;
    if (executeScriptFile(undo, output, exitCode) != 0) {
      logMessage(2, kFn, "Failed to delete the LDEVs created by this job. Output-[%s]",
                 output.c_str());
    }
    m_nErrorCode = code;
    m_sErrorString = text;
  }
  return 1;
}

int ZRHDSRaidcomImplementer::labelNewSvol(const ZRHDSSnapInfo& snap) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::createSvols";
  const std::string& label = snap.svolLabel.empty() ? std::string(kBlankLabel) : snap.svolLabel;
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(kModifyLdev,
                         " -ldev_id " + snap.snapLdevId + " -ldev_name " + HDSShell::quote(label) +
                             getCommonParams(true, true),
                         output, exitCode, false) == 0) {
    return 0;
  }
  return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to label LDEV-" + snap.snapLdevId, kFn,
                    "Failed to label LDEV-[%s] as [%s]", snap.snapLdevId.c_str(), label.c_str());
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
  auto readBack = [&](size_t i) {
    const int code = m_nErrorCode;
    const std::string text = m_sErrorString;
    std::vector<HDSLdevInfo> probe(1);
    probe[0].ldevId = ldevs[i];
    probe[0].serial = m_oSnapOptions.baseSerialNum;
    const bool read = getLdevInfo(probe) == 0;
    m_nErrorCode = code;
    m_sErrorString = text;
    if (!read) return AsyncEffect::kUnknown;
    return probe[0].volAttr == HDS_VOL_ATTR_UNDEFINED ? AsyncEffect::kTookEffect
                                                      : AsyncEffect::kNoEffect;
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
      rc = runAsyncBatch(kFn, {deletes[i]}, true, true,
                         [&](size_t) { return readBack(i); }, one);
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
                            " -ldev_name " + HDSShell::quote(label.empty() ? kBlankLabel : label));
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
