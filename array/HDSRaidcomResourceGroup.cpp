// Resource groups: the listing (plain and with the key option), the job's
// group on a virtual storage machine, the array-side lock, and moving
// resources into, out of and within groups.
#include <cstdio>
#include <string>

#include "array/HDSParseResourceGroup.h"
#include "array/HDSTextColumns.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"

namespace {

constexpr int kCciMinorWithKeyOption = 31;

}  // namespace

int ZRHDSRaidcomImplementer::getResourceGroupInfo(std::map<std::string, ResourceGroupInfo>& groups,
                                                  bool keyOption) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::getResourceGroupInfo";
  groups.clear();
  const std::string failure =
      "Failed to get status of resource group-[" + m_oSnapOptions.resourceGroup + "]";
  std::string command = "raidcom  get resource ";
  if (keyOption) {
    if (getCCIMinorVersion() <= kCciMinorWithKeyOption) {
      const std::string version = getCCIVersion();
      return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, failure, kFn,
                        "The '-key opt' is not supported with CCI version-[%s]", version.c_str());
    }
    command += " -key opt ";
    // Virtual serials and models stay as they are for the length of a job.
    if (m_bKeyedGroupsKnown) {
      groups = m_oKeyedGroups;
      return 0;
    }
  }
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, getCommonParams(true, true), output, exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, failure, kFn, "Failed to get resource group list");
  }
  if (checkListing(kFn, output, hdsparse::parseResourceGroupList(output, groups), failure) != 0) {
    return 1;
  }
  if (keyOption) {
    m_oKeyedGroups = groups;
    m_bKeyedGroupsKnown = true;
  }
  return 0;
}

int ZRHDSRaidcomImplementer::getResourceGroupFromLdev() {
  static const char* const kFn = "ZRHDSRaidcomImplementer::getResourceGroupFromLdev";
  if (!m_oSnapOptions.isVSM) return 0;
  if (m_vSnaps.empty()) return refuseInvalidInput(kFn, "Source LDEV", "");
  const ZRHDSSnapInfo& snap = m_vSnaps.front();

  std::vector<HDSLdevInfo> ldev(1);
  ldev[0].serial = snap.baseSerialNo;
  ldev[0].ldevId = snap.baseDevNo;
  if (getLdevInfo(ldev) != 0) return 1;

  std::map<std::string, ResourceGroupInfo> groups;
  if (getResourceGroupInfo(groups, true) != 0) return 1;

  const std::string notFound =
      "Unable to find resource group corresponging to source LDEV" + snap.baseDevNo;
  auto match = groups.end();
  for (auto it = groups.begin(); it != groups.end(); ++it) {
    if (it->second.resourceGroupId == ldev[0].resourceGroupId) {
      match = it;
      break;
    }
  }
  if (match == groups.end()) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, notFound, kFn,
                      "Unable to find resource group corresponding to source LDEV RGID-[%s]",
                      std::to_string(ldev[0].resourceGroupId).c_str());
  }
  const ResourceGroupInfo& group = match->second;
  // With the key option lockStatus holds the group's virtual serial.
  if (group.lockStatus == snap.vsmSerialNo && group.serial != snap.baseSerialNo) {
    logMessage(2, kFn,
               "The Physical Array details got from Page E2 is inconsistent with the Resource "
               "Group Information.");
    return failLogged(
        ZR_HDS_ERR_ARRAY_COMMAND, notFound, kFn,
        "DEBUG_INFO - RGInfo VSMSerial [%s] RGInfo ArraySerial [%s] SCSIInq VSMSerial [%s]  "
        "SCSIInq ArraySerial [%s]",
        group.lockStatus.c_str(), group.serial.c_str(), snap.vsmSerialNo.c_str(),
        snap.baseSerialNo.c_str());
  }
  m_oSnapOptions.resourceGroup = match->first;
  return 0;
}

int ZRHDSRaidcomImplementer::lockUnlockResourceGroup(std::string groupName, bool unlock,
                                                     bool noName) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::lockUnlockResourceGroup";
  const char* verb = unlock ? "unlock" : "lock";
  // Whoever held the lock meanwhile may have changed LU paths.
  forgetLuns("");
  std::string args;
  if (!noName) {
    if (groupName.empty() || !HDSShell::isLineSafe(groupName)) {
      return refuseInvalidInput(kFn, "Resource Group", groupName);
    }
    args = "-resource_name " + HDSShell::quote(groupName);
  }
  char timeOption[32];
  std::snprintf(timeOption, sizeof(timeOption), " -time %d", m_nRaidcomTimeoutInSecs);
  args += timeOption;
  args += getCommonParams(true, true);

  std::string output;
  int exitCode = 0;
  if (executeCommandMain(std::string("raidcom ") + verb + " resource ", args, output, exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND,
                      std::string("Failed to ") + verb + "Resource Group-" + groupName, kFn,
                      "Failed to [%s] the resource group-[%s]", verb, groupName.c_str());
  }
  logMessage(1, kFn,
             unlock ? "Released lock on the resource group-[%s]"
                    : "Acquired lock on the resource group-[%s]",
             groupName.c_str());
  return 0;
}

int ZRHDSRaidcomImplementer::resourceOption(const char* function, const std::string& resource,
                                            const HDSResourceType& kind, std::string& option) {
  switch (kind) {
    case HDS_RESOURCE_LDEV:
      if (!HDSShell::isDecimal(resource)) return refuseInvalidInput(function, "LDEV", resource);
      option = " -ldev_id " + resource;
      return 0;
    case HDS_RESOURCE_DEVICE_GROUP:
      if (resource.empty() || !HDSShell::isLineSafe(resource)) {
        return refuseInvalidInput(function, "Device group", resource);
      }
      option = " -device_grp_name " + HDSShell::quote(resource);
      return 0;
    case HDS_RESOURCE_PORT: {
      // A port ("CL1-A", "CL1-A-3"), or a port, a blank and a host-group
      // name: two words on the command line, each quoted on its own.
      if (resource.empty() || !HDSShell::isLineSafe(resource)) {
        return refuseInvalidInput(function, "Port", resource);
      }
      const size_t blank = resource.find(' ');
      const std::string port = resource.substr(0, blank);
      if (port.empty()) return refuseInvalidInput(function, "Port", resource);
      option = " -port " + HDSShell::quote(port);
      if (blank != std::string::npos) {
        const size_t nameStart = resource.find_first_not_of(' ', blank);
        if (nameStart == std::string::npos) return refuseInvalidInput(function, "Port", resource);
        option += " " + HDSShell::quote(resource.substr(nameStart));
      }
      return 0;
    }
  }
  return refuseInvalidInput(function, "Resource type", std::to_string(static_cast<int>(kind)));
}

int ZRHDSRaidcomImplementer::virtualResourceOption(const char* function,
                                                   const std::string& resource,
                                                   const std::string& virtualResource,
                                                   const HDSResourceType& kind,
                                                   std::string& option) {
  switch (kind) {
    case HDS_RESOURCE_LDEV:
      if (!HDSShell::isDecimal(resource)) return refuseInvalidInput(function, "LDEV", resource);
      if (!HDSShell::isDecimal(virtualResource)) {
        return refuseInvalidInput(function, "Virtual LDEV", virtualResource);
      }
      option = " -ldev_id " + resource + " -virtual_ldev_id " + virtualResource;
      return 0;
    case HDS_RESOURCE_DEVICE_GROUP:
      if (!HDSShell::isPlain(resource)) return refuseInvalidInput(function, "SSID", resource);
      if (virtualResource.empty() || !HDSShell::isLineSafe(virtualResource)) {
        return refuseInvalidInput(function, "Emulation type", virtualResource);
      }
      option = " -ssid " + resource + " -emulation_type " + HDSShell::quote(virtualResource);
      return 0;
    case HDS_RESOURCE_PORT:
      if (resource.empty() || !HDSShell::isLineSafe(resource)) {
        return refuseInvalidInput(function, "Port", resource);
      }
      if (virtualResource.empty() || !HDSShell::isLineSafe(virtualResource)) {
        return refuseInvalidInput(function, "Virtual port", virtualResource);
      }
      option = " -port " + HDSShell::quote(resource) + " -virtual_port " +
               HDSShell::quote(virtualResource);
      return 0;
  }
  return refuseInvalidInput(function, "Resource type", std::to_string(static_cast<int>(kind)));
}

int ZRHDSRaidcomImplementer::runResourceCommand(const char* function, const char* command,
                                                const std::string& arguments,
                                                const std::string& resource,
                                                const char* successFormat,
                                                const char* failureFormat,
                                                const std::string& failureText) {
  const std::string& group = m_oSnapOptions.resourceGroup;
  std::string output;
  int exitCode = 0;
  if (executeCommandMain(command, arguments + getCommonParams(true, true), output, exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, failureText, function, failureFormat,
                      resource.c_str(), group.c_str());
  }
  logMessage(1, function, successFormat, resource.c_str(), group.c_str());
  return 0;
}

std::string ZRHDSRaidcomImplementer::resourceGroupNameOption(const char* function, bool& ok) {
  const std::string& group = m_oSnapOptions.resourceGroup;
  ok = !group.empty() && HDSShell::isLineSafe(group);
  if (!ok) {
    refuseInvalidInput(function, "Resource Group", group);
    return std::string();
  }
  return " -resource_name " + HDSShell::quote(group);
}

int ZRHDSRaidcomImplementer::mapToResourceGroup(const std::string& resource,
                                                const std::string& virtualResource,
                                                const HDSResourceType& kind) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::mapToResourceGroup";
  std::string option;
  if (virtualResourceOption(kFn, resource, virtualResource, kind, option) != 0) return 1;
  return runResourceCommand(kFn, "raidcom  map resource ", option, resource,
                            "Successfully arranged the resource-[%s] in ResourceGroup-[%s]",
                            "Failed to arrange the resource-[%s] in ResourceGroup-[%s]",
                            "Failed to arrange the resource-[" + resource + "] in ResourceGroup-[" +
                                m_oSnapOptions.resourceGroup + "]");
}

int ZRHDSRaidcomImplementer::unmapFromResourceGroup(const std::string& resource,
                                                    const std::string& virtualResource,
                                                    const HDSResourceType& kind) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::unmapFromResourceGroup";
  // A device group has no option of its own here; the command without one
  // would be malformed.
  if (kind == HDS_RESOURCE_DEVICE_GROUP) {
    return refuseInvalidInput(kFn, "Resource type", "device group");
  }
  std::string option;
  if (virtualResourceOption(kFn, resource, virtualResource, kind, option) != 0) return 1;
  return runResourceCommand(
      kFn, "raidcom  unmap resource ", option, resource,
      "Successfully cancelled the arrangement of the resource-[%s] in ResourceGroup-[%s]",
      "Failed to cancel the arrangement of the resource-[%s] in ResourceGroup-[%s]",
      "Failed to cancel the arrangement of the resource-[" + resource + "] in ResourceGroup-[" +
          m_oSnapOptions.resourceGroup + "]");
}

int ZRHDSRaidcomImplementer::addToResourceGroup(const std::string& resource,
                                                const HDSResourceType& kind) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::addToResourceGroup";
  bool ok = false;
  std::string args = resourceGroupNameOption(kFn, ok);
  if (!ok) return 1;
  std::string option;
  if (resourceOption(kFn, resource, kind, option) != 0) return 1;
  return runResourceCommand(kFn, "raidcom  add resource ", args + option, resource,
                            "Successfully added the resource-[%s] in ResourceGroup-[%s]",
                            "Failed to add the resource-[%s] in ResourceGroup-[%s]",
                            "Failed to add the resource-[" + resource + "] in ResourceGroup-[" +
                                m_oSnapOptions.resourceGroup + "]");
}

int ZRHDSRaidcomImplementer::deleteFromResourceGroup(const std::string& resource,
                                                     const HDSResourceType& kind) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::deleteFromResourceGroup";
  bool ok = false;
  std::string args = resourceGroupNameOption(kFn, ok);
  if (!ok) return 1;
  std::string option;
  if (resourceOption(kFn, resource, kind, option) != 0) return 1;
  return runResourceCommand(kFn, "raidcom  delete resource ", args + option, resource,
                            "Successfully removed the resource-[%s] from ResourceGroup-[%s]",
                            "Failed to remove the resource-[%s] from ResourceGroup-[%s]",
                            "Failed toremove the resource-[" + resource + "] from ResourceGroup-[" +
                                m_oSnapOptions.resourceGroup + "]");
}
