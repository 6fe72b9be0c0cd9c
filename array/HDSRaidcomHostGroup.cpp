// Host groups and LU paths of the CCI implementer.
//
// A host group reaches raidcom in one of two forms: by number, joined to the
// port with "-" ("-port CL1-A-5"), or by name as a separate word
// ("-port CL1-A QB_PRE_SNAP_HOST_GROUP"). Ports and names are quoted for the
// shell when they hold anything outside the plain set; LDEV ids and host-group
// numbers must be decimal digits, and an empty port, host group or LDEV id is
// refused before anything runs, so no malformed line ever reaches the array.
#include <iterator>
#include <string>
#include <vector>

#include "array/HDSParseHostGroup.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"
#include "array/HDSTextColumns.h"

namespace {

const char kLuPathExists[] = "An LU path has already defined in the relevant LDEV";
const char kLuBusy[] = "LU is executing host I/O";
const char kLastSnapshotPath[] = "It is the last path of Snapshot";
// The sense pairs of the same refusals (SSB=0xB958,0x....): the array's
// own names of the causes, whatever text the tool prints beside them.
const char kSsbLuPath[] = "B958";
const char kSsbPathExists[] = "015A";
const char kSsbLuBusy[] = "0233";
const char kSsbLastSnapshotPath[] = "020A";

// Exit code of raidcom for an object the array does not have (here: the LU
// path is already gone).
constexpr int kExitNoSuchObject = ZR_HDS_EXIT_NO_SUCH_OBJECT;

// Failure codes of unmapLdevFromHostGroup that the handler tells apart.
constexpr int kErrLunBusy = ZR_HDS_ERR_LUN_BUSY;
constexpr int kErrLastPath = ZR_HDS_ERR_LAST_SNAPSHOT_PATH;

bool isUsableName(const std::string& value) {
  return !value.empty() && HDSShell::isLineSafe(value);
}

// "-" and the number when group is decimal digits, else a blank and the
// quoted name (the name form of raidcom).
std::string hostGroupJoint(const std::string& group, bool isNumber) {
  return isNumber ? "-" + group : " " + HDSShell::quote(group);
}

}  // namespace

// Appends the LU paths of a host group, given by number (digits only) or by
// name. Failure: 62601 "Failed to get LUNs on the port-[..], HostGroup-[..]",
// or the invalid-input failure for an empty port or host group.
int ZRHDSRaidcomImplementer::getLunsForHostGroup(const std::string& port,
                                                 const std::string& hostGroup,
                                                 std::vector<HDSLunInfo>& luns) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::getLunsForHostGroup";
  if (!isUsableName(port)) return refuseInvalidInput(kFn, "Port", port);
  if (!isUsableName(hostGroup)) return refuseInvalidInput(kFn, "HostGroup", hostGroup);
  const auto known = m_oLunCache.find({port, hostGroup});
  if (known != m_oLunCache.end()) {
    luns.insert(luns.end(), known->second.begin(), known->second.end());
    return 0;
  }

  const std::string command = std::string("raidcom ") + " get lun ";
  const std::string arguments = " -port " + HDSShell::quote(port) +
                                hostGroupJoint(hostGroup, HDSShell::isDecimal(hostGroup)) +
                                getCommonParams(true, true);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, arguments, output, exitCode) != 0) {
    return failLogged(
        ZR_HDS_ERR_ARRAY_COMMAND,
        "Failed to get LUNs on the port-[" + port + "], HostGroup-[" + hostGroup + "]", kFn,
        "Failed to get LUNs on the port-[%s], HostGroup-[%s]", port.c_str(), hostGroup.c_str());
  }
  std::vector<HDSLunInfo> listed;
  const hdscols::ListingRead read = hdsparse::parseLunList(output, listed);
  luns.insert(luns.end(), listed.begin(), listed.end());
  if (checkListing(kFn, output, read,
                   "Failed to get LUNs on the port-[" + port + "], HostGroup-[" + hostGroup +
                       "]") != 0) {
    return 1;
  }
  m_oLunCache[{port, hostGroup}] = listed;
  return 0;
}

void ZRHDSRaidcomImplementer::forgetLuns(const std::string& port) {
  for (auto it = m_oLunCache.begin(); it != m_oLunCache.end();) {
    it = port.empty() || it->first.first == port ? m_oLunCache.erase(it) : std::next(it);
  }
}

// Adds an LU path of the LDEV to host group number hostGroup on port; a path
// that exists already counts as success (the error pair then still holds the
// failed run's text). Failure: 62601 "Failed to map LDEV-[..] to the
// HostGroup-[..-..]".
int ZRHDSRaidcomImplementer::mapLdevToHostGroup(const std::string& ldev, const std::string& port,
                                                const std::string& hostGroup) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::mapLdevToHostGroup";
  if (!HDSShell::isDecimal(ldev)) return refuseInvalidInput(kFn, "LDEV", ldev);
  if (!isUsableName(port)) return refuseInvalidInput(kFn, "Port", port);
  if (!HDSShell::isDecimal(hostGroup)) return refuseInvalidInput(kFn, "HostGroup", hostGroup);

  forgetLuns(port);
  const std::string command = std::string("raidcom ") + " add lun ";
  const std::string arguments = " -port " + HDSShell::quote(port) + "-" + hostGroup + " -ldev_id " +
                                ldev + getCommonParams(true, true);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, arguments, output, exitCode) == 0) {
    logMessage(1, kFn, "Successfully mapped LDEV-[%s] to the HostGroup-[%s-%s]", ldev.c_str(),
               port.c_str(), hostGroup.c_str());
    return 0;
  }
  if (hdscols::namesRefusal(output, kSsbLuPath, kSsbPathExists, kLuPathExists)) {
    logMessage(2, kFn, "The LDEV-[%s] is already mapped to the Host-Group-[%s-%s]", ldev.c_str(),
               port.c_str(), hostGroup.c_str());
    return 0;
  }
  return failLogged(
      ZR_HDS_ERR_ARRAY_COMMAND,
      "Failed to map LDEV-[" + ldev + "] to the HostGroup-[" + port + "-" + hostGroup + "]", kFn,
      "Failed to map LDEV-[%s] to the HostGroup-[%s-%s]", ldev.c_str(), port.c_str(),
      hostGroup.c_str());
}

// Creates host group `name` on port and, unless the job works in
// "meta_resource", moves it into the job's resource group; when the move
// fails the new host group is deleted again by its name. Failure: 62601
// "Failed to create HostGroup-[<port>-<name>]".
int ZRHDSRaidcomImplementer::createHostGroup(const std::string& port, const std::string& name) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::createHostGroup";
  if (!isUsableName(port)) return refuseInvalidInput(kFn, "Port", port);
  if (!isUsableName(name)) return refuseInvalidInput(kFn, "HostGroup", name);

  const std::string failure = "Failed to create HostGroup-[" + port + "-" + name + "]";
  forgetLuns(port);
  const std::string command = std::string("raidcom ") + " add host_grp ";
  const std::string arguments = " -port " + HDSShell::quote(port) + " -host_grp_name " +
                                HDSShell::quote(name) + getCommonParams(true, true);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, arguments, output, exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, failure, kFn,
                      "Failed to create HostGroup-[%s] for port-[%s].", name.c_str(), port.c_str());
  }

  if (m_oSnapOptions.resourceGroup != ZR_HDS_META_RESOURCE) {
    if (addToResourceGroup(port + " " + name, HDS_RESOURCE_PORT) != 0) {
      // Undo by name: the number form would address another host group when
      // the name happens to be a single digit.
      runDeleteHostGroup(port, name, false);
      return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, failure, kFn,
                        "Failed to move HostGroup-[%s-%s] to ResourceGroup-[%s]", port.c_str(),
                        name.c_str(), m_oSnapOptions.resourceGroup.c_str());
    }
  }
  logMessage(1, kFn, "Successfully created HostGroup-[%s] on port-[%s]", name.c_str(),
             port.c_str());
  return 0;
}

// Deletes a host group: a single decimal digit addresses the host group by
// number, any other text (numbers of two or more digits included) by name.
// Failure: 62601 "Failed to delete HostGroup-[<port>-<hg>]".
int ZRHDSRaidcomImplementer::deleteHostGroup(const std::string& port,
                                             const std::string& hostGroup) {
  const bool byNumber = hostGroup.size() == 1 && HDSShell::isDecimal(hostGroup);
  return runDeleteHostGroup(port, hostGroup, byNumber);
}

int ZRHDSRaidcomImplementer::runDeleteHostGroup(const std::string& port,
                                                const std::string& hostGroup, bool byNumber) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::deleteHostGroup";
  if (!isUsableName(port)) return refuseInvalidInput(kFn, "Port", port);
  if (!isUsableName(hostGroup)) return refuseInvalidInput(kFn, "HostGroup", hostGroup);

  forgetLuns(port);
  const std::string command = std::string("raidcom ") + " delete host_grp ";
  const std::string arguments = " -port " + HDSShell::quote(port) +
                                hostGroupJoint(hostGroup, byNumber) + getCommonParams(true, true);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, arguments, output, exitCode) != 0) {
    return failLogged(
        ZR_HDS_ERR_ARRAY_COMMAND, "Failed to delete HostGroup-[" + port + "-" + hostGroup + "]",
        kFn, "Failed to delete HostGroup-[%s] for port-[%s].", hostGroup.c_str(), port.c_str());
  }
  logMessage(1, kFn, "Successfully deleted HostGroup-[%s] on port-[%s]", hostGroup.c_str(),
             port.c_str());
  return 0;
}

// Deletes the LU path of the LDEV from host group number hostGroup; exit 205
// (the path is already gone) is success whatever the output says. Failure:
// code 2 when the LU is busy with host I/O, 3 when it is the last path of a
// snapshot, else 62601; the text is "Failed to unmap LDEV-[..] from the
// HostGroup[..-..]" in all three cases.
int ZRHDSRaidcomImplementer::unmapLdevFromHostGroup(const std::string& ldev,
                                                    const std::string& port,
                                                    const std::string& hostGroup) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::unmapLdevToHostGroup";
  if (!HDSShell::isDecimal(ldev)) return refuseInvalidInput(kFn, "LDEV", ldev);
  if (!isUsableName(port)) return refuseInvalidInput(kFn, "Port", port);
  if (!HDSShell::isDecimal(hostGroup)) return refuseInvalidInput(kFn, "HostGroup", hostGroup);

  const std::string command = std::string("raidcom ") + " delete lun ";
  const std::string arguments = " -port " + HDSShell::quote(port) + "-" + hostGroup + " -ldev_id " +
                                ldev + getCommonParams(true, true);
  // The host group's remembered paths lose this LDEV's once it is gone;
  // those of the port under other names are dropped.
  auto gone = [&]() {
    const auto known = m_oLunCache.find({port, hostGroup});
    std::vector<HDSLunInfo> left;
    if (known != m_oLunCache.end()) {
      for (const HDSLunInfo& lun : known->second) {
        if (lun.ldevId != ldev) left.push_back(lun);
      }
    }
    const bool wasKnown = known != m_oLunCache.end();
    forgetLuns(port);
    if (wasKnown) m_oLunCache[{port, hostGroup}] = left;
  };
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, arguments, output, exitCode) == 0) {
    logMessage(0, kFn, "Successfully unmapped LDEV-[%s] from the HostGroup-[%s-%s]", ldev.c_str(),
               port.c_str(), hostGroup.c_str());
    gone();
    return 0;
  }
  if (exitCode == kExitNoSuchObject) {
    logMessage(2, kFn, "LDEV-[%s] is already unmapped from HostGroup-[%s-%s]", ldev.c_str(),
               port.c_str(), hostGroup.c_str());
    gone();
    return 0;
  }
  forgetLuns(port);

  int code = ZR_HDS_ERR_ARRAY_COMMAND;
  if (hdscols::namesRefusal(output, kSsbLuPath, kSsbLuBusy, kLuBusy)) {
    code = kErrLunBusy;
    logMessage(2, kFn, "Failed to unmap LDEV-[%s] from HostGroup-[%s-%s] as LUN IS BUSY.",
               ldev.c_str(), port.c_str(), hostGroup.c_str());
  } else if (hdscols::namesRefusal(output, kSsbLuPath, kSsbLastSnapshotPath, kLastSnapshotPath)) {
    code = kErrLastPath;
    logMessage(2, kFn, "Failed to unmap LDEV-[%s] from HostGroup-[%s-%s] as IT IS THE LAST PATH.",
               ldev.c_str(), port.c_str(), hostGroup.c_str());
  } else {
    logMessage(2, kFn, "Failed to unmap LDEV-[%s] from HostGroup-[%s-%s].", ldev.c_str(),
               port.c_str(), hostGroup.c_str());
  }
  setErrorCodeString(code, "Failed to unmap LDEV-[" + ldev + "] from the HostGroup[" + port + "-" +
                               hostGroup + "]");
  return 1;
}
