// Ports and host-group discovery of the CCI implementer.
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "array/HDSParseHostGroup.h"
#include "array/HDSParsePort.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"

namespace {

// CCI minor versions above this one know "raidcom get resource -key opt".
constexpr int kLastMinorWithoutKeyOption = 31;

bool isUsableName(const std::string& value) {
  return !value.empty() && HDSShell::isLineSafe(value);
}

std::string upperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

// Appends every port of the array once (the first line of a port wins; ports
// already in the vector are not added again). Failure: 62601 "Failed to get
// the port list on the array.".
int ZRHDSRaidcomImplementer::getPortList(std::vector<HDSPortInfo>& ports) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::getPortList";
  const std::string command = std::string("raidcom ") + " get port ";
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, getCommonParams(true, true), output, exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get the port list on the array.", kFn,
                      "Failed to get the port list on the array.");
  }
  if (checkListing(kFn, output, hdsparse::parsePortListing(output, ports),
                   "Failed to get the port list on the array.") != 0) {
    return 1;
  }
  logMessage(1, kFn, "Found [%d] ports on the array.", static_cast<int>(ports.size()));
  return 0;
}

// Appends the WWNs (or iSCSI names) logged in at port to info.loginWwns and
// sets info's port name and serial. Failure: 62601 "Failed to get the
// HostGroup list for the port-[<port>]".
int ZRHDSRaidcomImplementer::getPortLoginWWNList(const std::string& port, HDSPortInfo& info) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::getPortLoginWWNList";
  if (!isUsableName(port)) return refuseInvalidInput(kFn, "Port", port);

  const std::string command = std::string("raidcom ") + " get port ";
  const std::string arguments = " -port " + HDSShell::quote(port) + getCommonParams(true, true);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, arguments, output, exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND,
                      "Failed to get the HostGroup list for the port-[" + port + "]", kFn,
                      "Failed to get the HostGroup list for the port-[%s].", port.c_str());
  }
  if (checkListing(kFn, output, hdsparse::parsePortLoginList(output, info),
                   "Failed to get the HostGroup list for the port-[" + port + "]") != 0) {
    return 1;
  }
  logMessage(1, kFn, "Port-[%s] has [%d] WWN.", port.c_str(),
             static_cast<int>(info.loginWwns.size()));
  return 0;
}

// Lists the host groups of port into info.hostGroups (replaced only after a
// successful listing): only those of the job's resource group when
// ownResourceGroupOnly, else (CCI minor version above 31) those of the
// resource groups whose virtual serial is the array's own. With collectWwns,
// fills the WWNs of each host group named hostGroupName (the first only), or
// of every host group up to the first holding wwn; never for the pre-snap
// host group. Failure: 62601 "Failed to get the HostGroup list for
// port-[<port>]", or the resource-group or WWN listing's own code and text.
int ZRHDSRaidcomImplementer::getPortHostGroupList(const std::string& port,
                                                  const std::string& hostGroupName,
                                                  HDSPortInfo& info, bool collectWwns,
                                                  const std::string& wwn,
                                                  const bool& ownResourceGroupOnly) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::getPortHostGroupList";
  if (!isUsableName(port)) return refuseInvalidInput(kFn, "Port", port);

  const int minor = getCCIMinorVersion();
  const bool keyOption = minor > kLastMinorWithoutKeyOption;
  std::map<std::string, ResourceGroupInfo> groups;
  if (getResourceGroupInfo(groups, keyOption) != 0) return 1;

  std::string resourceOptions;
  if (ownResourceGroupOnly) {
    // A group the listing does not show reads -1, which selects nothing.
    resourceOptions =
        " -resource " + std::to_string(groups[m_oSnapOptions.resourceGroup].resourceGroupId);
  } else if (keyOption) {
    for (const auto& entry : groups) {
      if (entry.second.lockStatus == entry.second.serial) {
        resourceOptions += " -resource " + std::to_string(entry.second.resourceGroupId);
      }
    }
  }

  const std::string command = std::string("raidcom ") + " get host_grp ";
  const std::string arguments =
      " -port " + HDSShell::quote(port) + resourceOptions + getCommonParams(true, true);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, arguments, output, exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND,
                      "Failed to get the HostGroup list for port-[" + port + "]", kFn,
                      "Failed to get the HostGroup list for port-[%s]", port.c_str());
  }
  std::vector<HDSHostGroupInfo> listed;
  if (checkListing(kFn, output,
                   hdsparse::parseHostGroupList(output, m_oSnapOptions.baseSerialNum, listed),
                   "Failed to get the HostGroup list for port-[" + port + "]") != 0) {
    return 1;
  }
  if (hdsparse::isIscsiHostGroupListing(output)) m_oIscsiPorts.insert(port);
  info.hostGroups.swap(listed);
  logMessage(1, kFn, "The Port-[%s] has [%d] HostGroups.", port.c_str(),
             static_cast<int>(info.hostGroups.size()));

  const std::string preSnapName =
      m_oSnapOptions.isVSM ? ZR_HDS_PRE_SNAP_HOST_GROUP_VSM_PREFIX + m_oSnapOptions.arrayId
                           : std::string(ZR_HDS_PRE_SNAP_HOST_GROUP);
  if (hostGroupName == preSnapName || !collectWwns) return 0;

  for (size_t i = 0; i < info.hostGroups.size(); ++i) {
    if (!hostGroupName.empty() && hostGroupName != info.hostGroups[i].hostGroupName) continue;
    HDSHostGroupInfo registered;
    if (getHostGroupInfo(port, info.hostGroups[i].hostGroupId, registered) != 0) return 1;
    info.hostGroups[i].wwns = registered.wwns;
    if (!hostGroupName.empty()) return 0;
    if (!wwn.empty()) {
      for (const std::string& w : info.hostGroups[i].wwns) {
        if (upperCase(w) == wwn) return 0;
      }
    }
  }
  return 0;
}

// Reads the WWNs registered in host group number hostGroupNumber on port into
// info (wwns cleared first; port, number and name from the listing).
// Failure: 62601 "Failed to get host group info for [<port>-<number>]".
int ZRHDSRaidcomImplementer::getHostGroupInfo(const std::string& port,
                                              const std::string& hostGroupNumber,
                                              HDSHostGroupInfo& info) {
  static const char kFn[] = "ZRHDSRaidcomImplementer::getHostGroupInfo";
  if (!isUsableName(port)) return refuseInvalidInput(kFn, "Port", port);
  if (!HDSShell::isDecimal(hostGroupNumber)) {
    return refuseInvalidInput(kFn, "HostGroup", hostGroupNumber);
  }

  // The initiators of an iSCSI host group are listed by "get hba_iscsi";
  // "get hba_wwn" refuses such a port. A port not seen in a host-group
  // listing yet is asked as Fibre Channel first.
  const std::string target = " -port " + HDSShell::quote(port) + "-" + hostGroupNumber;
  const std::string failure =
      "Failed to get host group info for [" + port + "-" + hostGroupNumber + "]";
  bool iscsi = m_oIscsiPorts.count(port) > 0;
  std::string output;
  int exitCode = 0;
  int rc = executeCommandMain(iscsi ? "raidcom  get hba_iscsi " : "raidcom  get hba_wwn ",
                              target + getCommonParams(true, true), output, exitCode);
  if (rc != 0 && !iscsi && exitCode > 0) {
    std::string retryOutput;
    int retryExit = 0;
    if (executeCommandMain("raidcom  get hba_iscsi ", target + getCommonParams(true, true),
                           retryOutput, retryExit) == 0) {
      iscsi = true;
      m_oIscsiPorts.insert(port);
      output.swap(retryOutput);
      setErrorCodeString(0, "");
      rc = 0;
    }
  }
  if (rc != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, failure, kFn,
                      "Failed to get host group info for [%s-%s]", port.c_str(),
                      hostGroupNumber.c_str());
  }
  HDSHostGroupInfo read = info;
  read.wwns.clear();
  if (checkListing(kFn, output, hdsparse::parseHostGroupWwnList(output, read), failure) != 0)
    return 1;
  info = std::move(read);
  logMessage(1, kFn, "The HostGroup-[%s-%s] has [%d] WWN.", port.c_str(), hostGroupNumber.c_str(),
             static_cast<int>(info.wwns.size()));
  return 0;
}

// The host group ("<port>-<group>") through which this host reaches its
// first command device: column 1 of the first data row of its scan. Without a
// data row hostGroup keeps what the caller passed and the result is 0.
// Failure: 62601 "No command device found for the host." or "Failed to get
// HostGroup info for command device using raidscan command.".
int ZRHDSRaidcomImplementer::getHostGroupOfCommandDevice(std::string& hostGroup) {
  static const char kFn[] = "getHostGroupOfCommandDevice";
  if (m_vCommandDevices.empty() || !isUsableName(m_vCommandDevices.front())) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "No command device found for the host.", kFn,
                      "No command device found for the host.");
  }
  const std::string command = "raidscan ";
  const std::string arguments =
      " -CLI -pdg " + HDSShell::quote(m_vCommandDevices.front()) + getCommonParams(true, true);
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, arguments, output, exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND,
                      "Failed to get HostGroup info for command device using raidscan command.",
                      kFn,
                      "Failed to get HostGroup info for command device using raidscan command.");
  }
  if (checkListing(kFn, output, hdsparse::parseCommandDeviceHostGroup(output, hostGroup),
                   "Failed to get HostGroup info for command device using raidscan command.") != 0) {
    return 1;
  }
  logMessage(1, kFn, "Found HostGroup-[%s] from the command device.", hostGroup.c_str());
  return 0;
}
