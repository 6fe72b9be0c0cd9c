// Target LDEVs (S-VOLs): creation with an undo script, deletion out of the
// job's resource group, and labels set and restored by script.
#include <climits>
#include <cstdlib>
#include <string>

#include "array/HDSParseLdev.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"
#include "array/HDSTextColumns.h"

namespace {

const char kAddLdev[] = "raidcom  add ldev ";
const char kDeleteLdev[] = "raidcom  delete ldev ";
const char kModifyLdev[] = "raidcom  modify ldev ";
// The name written for an empty label.
const char kBlankLabel[] = "BLANK";
// Adding and deleting an LDEV complete on the array after the tool has
// returned: each runs with the command-status check.
constexpr bool kWithStatusCheck = true;
// The undo script's line for one LDEV (after the CCI directory).
const char kUndoDeleteLdev[] = "raidcom  delete ldev -ldev_id ";
const char kDontUseMpBladeKey[] = "nZRHDSDontUseMPBladeId";
// Sense pair of the array's refusal "LDEV not installed".
const char kSsbNotInstalled1[] = "2E20";
const char kSsbNotInstalled2[] = "0000";
// Virtual ids above this one are reserved values (no virtual id in use).
constexpr long kMaxUsableVirtualLdev = 65533;
// exitCode of an add that never reached the tool (lock or status reset
// failed): distinct from every exit code a process can report.
constexpr int kNotRun = INT_MIN;

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

bool ZRHDSRaidcomImplementer::isOwnNewLdev(const std::string& ldevId, uint64_t capacity) {
  std::vector<HDSLdevInfo> probe(1);
  probe[0].ldevId = ldevId;
  probe[0].serial = m_oSnapOptions.baseSerialNum;
  if (getLdevInfo(probe) != 0) return true;  // cannot tell: assume it was made
  const HDSLdevInfo& l = probe[0];
  return l.volAttr != HDS_VOL_ATTR_UNDEFINED && l.capacityBlocks == capacity && l.label.empty();
}

int ZRHDSRaidcomImplementer::createSvols() {
  static const char* const kFn = "ZRHDSRaidcomImplementer::createSvols";
  int dontUseMpBlade = 0;
  if (readSettingInt(kDontUseMpBladeKey, dontUseMpBlade) && dontUseMpBlade > 0) {
    logMessage(1, kFn, "The Registry key-[%s] is set. Value-[%d]", kDontUseMpBladeKey,
               dontUseMpBlade);
  }
  const std::string pool = m_oSnapOptions.isHTI ? std::string("snap") : m_oSnapOptions.pool;
  const bool otherGroup = m_oSnapOptions.resourceGroup != ZR_HDS_META_RESOURCE;

  // Every value is checked before the first LDEV is made, so bad input
  // never leaves half a job on the array.
  if (!HDSShell::isLineSafe(pool)) return refuseInvalidInput(kFn, "Pool", pool);
  if (refuseUnusableCommonOptions(kFn) != 0) return 1;
  for (const ZRHDSSnapInfo& snap : m_vSnaps) {
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
  }

  std::string undo;
  int result = 0;
  for (ZRHDSSnapInfo& snap : m_vSnaps) {
    if (snap.snapMapped) continue;
    std::string args;
    if (!pool.empty()) args += " -pool " + HDSShell::quote(pool);
    if (dontUseMpBlade <= 0) args += " -mp_blade_id " + std::to_string(snap.mpBladeId);
    args += " -ldev_id " + snap.snapLdevId;
    args += " -capacity " + std::to_string(snap.capacity);
    args += getCommonParams(true, true);

    // The undo line goes in before the add: an LDEV that the array made
    // although its status check failed (or the run timed out) is removed
    // again too.
    const size_t undoMark = undo.size();
    undo += svolScriptLine(kUndoDeleteLdev + snap.snapLdevId);

    std::string output;
    int exitCode = kNotRun;
    if (executeCommandMain(kAddLdev, args, output, exitCode, kWithStatusCheck) != 0) {
      logMessage(2, kFn, "Failed to Create LDEV-[%s]", snap.snapLdevId.c_str());
      setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to Create LDEV-" + snap.snapLdevId);
      // The tool or the array refused the add (its exit code, or the
      // command status counting an error such as "already defined"), or it
      // never ran: nothing was made, and the id may be someone else's LDEV.
      // Only when the outcome is unknown (time-out, failed status query) is
      // the LDEV undone, and then only unless the array shows that it is not
      // the one just asked for.
      const bool refused = exitCode == kNotRun || exitCode > 0 || m_bStatusReportedError;
      if (refused) {
        undo.resize(undoMark);
      } else {
        const int code = m_nErrorCode;
        const std::string text = m_sErrorString;
        if (!isOwnNewLdev(snap.snapLdevId, snap.capacity)) undo.resize(undoMark);
        m_nErrorCode = code;
        m_sErrorString = text;
      }
      result = 1;
      break;
    }
    // Labelled at once: an LDEV without the job's label may be anyone's, so
    // only the one command between the add and its label leaves an S-VOL
    // that a killed job's record cannot prove its own.
    if (labelNewSvol(snap) != 0) {
      result = 1;
      break;
    }

    if (!otherGroup) continue;
    const std::string& group = m_oSnapOptions.resourceGroup;
    const HDSResourceType kind = HDS_RESOURCE_LDEV;
    if (m_oSnapOptions.isVSM && virtualIdValue(snap.snapVirLdevId) <= kMaxUsableVirtualLdev) {
      // The new LDEV keeps the virtual id its id carried while free (the
      // S-VOL search records it in snapVirLdevId); without one it is the
      // LDEV's own id. That virtual id must be released before the LDEV may
      // change group, and is given back by the map below.
      const std::string& current =
          snap.snapVirLdevId.empty() ? snap.snapLdevId : snap.snapVirLdevId;
      if (unmapFromResourceGroup(snap.snapLdevId, current, kind) != 0) {
        logMessage(2, kFn, "Failed to virtualize LDEV-[%s] in ResourceGroup-[%s]",
                   snap.snapLdevId.c_str(), group.c_str());
        result = 1;
        break;
      }
    }
    if (addToResourceGroup(snap.snapLdevId, kind) != 0) {
      logMessage(2, kFn, "Failed to add LDEV-[%s] to ResourceGroup-[%s]", snap.snapLdevId.c_str(),
                 group.c_str());
      result = 1;
      break;
    }
    if (m_oSnapOptions.isVSM) {
      const std::string virtualId = (!snap.snapVirLdevId.empty() &&
                                     virtualIdValue(snap.snapVirLdevId) <= kMaxUsableVirtualLdev)
                                        ? snap.snapVirLdevId
                                        : snap.snapLdevId;
      if (mapToResourceGroup(snap.snapLdevId, virtualId, kind) != 0) {
        logMessage(2, kFn, "Failed to virtualize LDEV-[%s] in ResourceGroup-[%s]",
                   snap.snapLdevId.c_str(), group.c_str());
        result = 1;
        break;
      }
      snap.snapVirLdevId = virtualId;
    }
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

int ZRHDSRaidcomImplementer::deleteSvols(const std::string& ldevId) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::deleteSvols";
  if (!HDSShell::isDecimal(ldevId)) return refuseInvalidInput(kFn, "LDEV", ldevId);
  const std::string& group = m_oSnapOptions.resourceGroup;

  if (group != ZR_HDS_META_RESOURCE) {
    std::vector<HDSLdevInfo> ldev(1);
    ldev[0].ldevId = ldevId;
    ldev[0].serial = m_oSnapOptions.baseSerialNum;
    if (getLdevInfo(ldev) != 0) return 1;
    if (ldev[0].volAttr == HDS_VOL_ATTR_UNDEFINED) {
      // Gone already (an earlier run, or someone else): nothing to move or
      // delete, and a rollback that deletes its S-VOLs goes on.
      logMessage(1, kFn, "LDEV-[%s] is already deleted.", ldevId.c_str());
      return 0;
    }
    // A listing without VIR_LDEV means the virtual id is the LDEV's own.
    const std::string virtualId = ldev[0].virtualLdevId.empty() ? ldevId : ldev[0].virtualLdevId;
    if (!HDSShell::isDecimal(virtualId) || virtualId.size() > 9) {
      return refuseInvalidInput(kFn, "Virtual LDEV", virtualId);
    }
    const HDSResourceType kind = HDS_RESOURCE_LDEV;
    if (virtualIdValue(virtualId) <= kMaxUsableVirtualLdev) {
      if (unmapFromResourceGroup(ldevId, virtualId, kind) != 0) {
        logMessage(2, kFn, "Failed to de-virtualize LDEV-[%s] in ResourceGroup-[%s]",
                   ldevId.c_str(), group.c_str());
        return 1;
      }
    }
    if (deleteFromResourceGroup(ldevId, kind) != 0) return 1;
    if (mapToResourceGroup(ldevId, virtualId, kind) != 0) {
      logMessage(2, kFn, "Failed to de-virtualize LDEV-[%s] in ResourceGroup-[%s]", ldevId.c_str(),
                 group.c_str());
      return 1;
    }
  }

  logMessage(1, kFn, "Going to delete the S-VOL-[%s]", ldevId.c_str());
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(kDeleteLdev, " -ldev_id " + ldevId + getCommonParams(true, true), output,
                         exitCode, kWithStatusCheck) == 0) {
    logMessage(1, kFn, "Successfully deleted the LDEV-[%s]", ldevId.c_str());
    return 0;
  }
  // The array's refusal names the cause by its sense pair; the text is
  // kept for tools that print only the message.
  if (hdscols::namesRefusal(output, kSsbNotInstalled1, kSsbNotInstalled2,
                            "LDEV is not installed")) {
    logMessage(1, kFn, "LDEV-[%s] is already deleted.", ldevId.c_str());
    return 0;
  }
  return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to delete LDEV-[" + ldevId + "]", kFn,
                    "Failed to delete LDEV-[%s]", ldevId.c_str());
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
