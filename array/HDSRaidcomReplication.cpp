// Replication pairs, copy groups and Q-markers of the CCI implementer.
#include <algorithm>
#include <string>
#include <vector>

#include "array/HDSParseReplication.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"
#include "host/ZRSOSnapInfo.h"

namespace {

// Mirror units scanned for the replication pairs of a host group.
constexpr int kPairScanMirrorUnits = 3;

// The pairsyncwait wait is kept this many seconds below the CCI command
// time-out, so the tool answers before the runner gives up on it (a wait cut
// off by the runner reads as a failed check instead of "not committed").
constexpr int kQMarkerWaitMarginSecs = 5;
// pairsyncwait -t counts 100 ms units; exit 1 is its TIMEOUT (not yet
// committed), 2 BROKEN and 3 CHANGED.
constexpr int kPairSyncWaitUnitsPerSecond = 10;
constexpr int kPairSyncWaitTimeout = 1;

// A name that goes into a command line as one word: not empty and on one line.
bool isUsableName(const std::string& value) {
  return !value.empty() && HDSShell::isLineSafe(value);
}

}  // namespace

// Scans the host group (port "-" GID, as raidscan -p takes it) for MU 0, 1
// and 2 and lists its replication pairs (pairs cleared first). S-VOL rows are
// kept only in a GAD job. Failure: 62601 "Failed to  get pair info for
// HostGroup-<hg>" at the first failing scan (rows of earlier MUs stay), or
// the invalid-input failure for an empty host group.
int ZRHDSRaidcomImplementer::getRemotePairInfoForHostGroup(const std::string& hostGroup,
                                                           std::vector<HDSPairInfo>& pairs) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::getRemotePairInfoForHostGroup";
  pairs.clear();
  if (!isUsableName(hostGroup)) return refuseInvalidInput(kFn, "HostGroup", hostGroup);

  const std::string command = "raidscan ";
  for (int mu = 0; mu < kPairScanMirrorUnits; ++mu) {
    const std::string arguments = " -p " + HDSShell::quote(hostGroup) + " -CLI -m " +
                                  std::to_string(mu) + getCommonParams(false, true);
    std::string output;
    int exitCode = 0;
    if (executeCommandMain(command, arguments, output, exitCode) != 0) {
      return failLogged(
          ZR_HDS_ERR_ARRAY_COMMAND, "Failed to  get pair info for HostGroup-" + hostGroup, kFn,
          "Failed to get pair info for HostGroup-[%s], MU-[%d] using raidscan command",
          hostGroup.c_str(), mu);
    }
    const bool gadJob =
        m_pSnapInfo != nullptr && m_pSnapInfo->getReplicationType() == ZRSO::REPLICATION_TYPE_GAD;
    const hdscols::ListingRead read = hdsparse::parseRemotePairList(output, mu, gadJob, pairs);
    if (checkListing(kFn, output, read, "Failed to  get pair info for HostGroup-" + hostGroup) != 0)
      return 1;
    logMessage(1, kFn, "Found [%d] pairs for HostGroup-[%s] on MU-[%d]",
               static_cast<int>(read.rows), hostGroup.c_str(), mu);
  }
  return 0;
}

// Appends the copy groups of the array whose name equals copyGroupName (all
// when it is empty). Failure: 62601 "Failed to get the Copy Group list.".
int ZRHDSRaidcomImplementer::getCopyGroup(std::vector<HDSCopyGroup>& groups,
                                          const std::string& copyGroupName) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::getCopyGroup";
  const std::string command = std::string("raidcom ") + " get copy_grp ";
  const std::string arguments = getCommonParams(true, true);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, arguments, output, exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get the Copy Group list.", kFn,
                      "Failed to get the Copy Group list.");
  }
  if (checkListing(kFn, output, hdsparse::parseCopyGroupList(output, copyGroupName, groups),
                   "Failed to get the Copy Group list.") != 0) {
    return 1;
  }
  logMessage(0, kFn, "Found [%d] CopyGroups post filtering.", static_cast<int>(groups.size()));
  return 0;
}

// Reads the copy group's current Q-marker with "pairsyncwait -nowait" (the
// third column of the last data row). An answer without a Q-marker, or with
// one that is not hexadecimal text, is a failure: qmarker is then left as
// passed. Failure: 62601 "Failed to find QMarker for the CopyGroup-[<cg>]".
int ZRHDSRaidcomImplementer::getQMarkerForCopyGroup(const std::string& copyGroup,
                                                    std::string& qmarker) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::getQMarkerForCopyGroup";
  if (!isUsableName(copyGroup)) return refuseInvalidInput(kFn, "CopyGroup", copyGroup);

  const std::string failure = "Failed to find QMarker for the CopyGroup-[" + copyGroup + "]";
  const std::string command = "pairsyncwait ";
  const std::string arguments =
      " -g " + HDSShell::quote(copyGroup) + " -nowait -t 99999 " + getCommonParams(false, false);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, arguments, output, exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, failure, kFn,
                      "Failed to find QMarker for the CopyGroup-[%s]", copyGroup.c_str());
  }
  logMessage(0, kFn, "OUTPUT - [%s]", output.c_str());

  std::string found;
  if (!hdsparse::parseQMarkerNowait(output, found)) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, failure, kFn,
                      "No Q-Marker in the answer for the CopyGroup-[%s]", copyGroup.c_str());
  }
  uint64_t value = 0;
  if (!hdsparse::parseQMarkerValue(found, value)) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, failure, kFn,
                      "Q-Marker-[%s] of the CopyGroup-[%s] is not a hexadecimal text",
                      found.c_str(), copyGroup.c_str());
  }
  qmarker = found;
  logMessage(1, kFn, "CopyGroup-[%s], Q-Marker-[%s]", copyGroup.c_str(), qmarker.c_str());
  return 0;
}

// Waits with "pairsyncwait -m <marker>" until the copy group has committed
// qmarker on the remote side, at most `seconds` (cut to stay below the CCI
// command time-out; the tool counts -t in 100 ms units). The exit code
// tells the outcome: 0 (DONE) committed; 1 (TIMEOUT) not committed, 62601
// "Q-Marker not committed." with result 0 (the row then shows the marker
// waited for, not the array's, so it is never compared). A qmarker that is
// not hexadecimal text can never be committed and is not sent. Result 1
// with 62601 "Failed to check Q-Marker-[<q>] commit." for BROKEN (2),
// CHANGED (3) and every other failed run.
int ZRHDSRaidcomImplementer::pairSyncWait(const std::string& copyGroup, const std::string& qmarker,
                                          const int& seconds, bool& committed) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::pairSyncWait";
  committed = false;
  logMessage(1, kFn, "Waiting for the Q-Marker-[%s] to reach RCU.", qmarker.c_str());
  if (!isUsableName(copyGroup)) return refuseInvalidInput(kFn, "CopyGroup", copyGroup);

  uint64_t given = 0;
  if (!hdsparse::parseQMarkerValue(qmarker, given)) {
    logMessage(2, kFn, "Q-Marker-[%s] is not a hexadecimal text; it cannot be committed.",
               qmarker.c_str());
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Q-Marker not committed.");
    return 0;
  }

  const int limit = std::max(1, m_nCCICommandTimeout - kQMarkerWaitMarginSecs);
  const int wait = std::min(std::max(seconds, 1), limit);
  if (wait != seconds) {
    logMessage(1, kFn,
               "Q-Marker wait of [%d] seconds changed to [%d] seconds (CCI command time-out [%d] "
               "seconds).",
               seconds, wait, m_nCCICommandTimeout);
  }

  const std::string command = "pairsyncwait ";
  const std::string arguments = " -g " + HDSShell::quote(copyGroup) + " -m " + qmarker + " -t " +
                                std::to_string(wait * kPairSyncWaitUnitsPerSecond) +
                                getCommonParams(false, false);
  std::string output;
  int exitCode = 0;
  const int rc = executeCommandMain(command, arguments, output, exitCode);
  std::string status;
  hdsparse::parsePairSyncWaitStatus(output, status);
  if (rc != 0 && exitCode != kPairSyncWaitTimeout) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND,
                      "Failed to check Q-Marker-[" + qmarker + "] commit.", kFn,
                      "Failed to check Q-Marker-[%s] commit. Exit code-[%d], Status-[%s]",
                      qmarker.c_str(), exitCode, status.c_str());
  }
  committed = rc == 0;
  logMessage(0, kFn, "Q-Marker-[%s] wait ended with Status-[%s]", qmarker.c_str(), status.c_str());

  if (committed) {
    logMessage(1, kFn, "CopyGroup-[%s], Q-Marker-[%s] committed.", copyGroup.c_str(),
               qmarker.c_str());
  } else {
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Q-Marker not committed.");
  }
  return 0;
}
