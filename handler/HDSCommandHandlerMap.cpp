// Host-group selection and LUN mapping: which host groups present the
// job's S-VOLs (a setting, the command device's host group, or the host
// groups holding the client's initiators), resolution of one host group by
// name or number (creating the pre-snap host group), and the LUN paths,
// added with a time-bounded retry that gives the resource-group lock back
// while it waits.
#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"
#include "host/NqSleep.h"
#include "host/ZRPlatformInfo.h"
#include "host/ZrClock.h"
#include "util/HDSCLIUtils.h"

namespace {

using zrhds_handler::preSnapHostGroupName;
using zrhds_handler::splitHostGroupText;
using zrhds_handler::upper;

constexpr size_t kMaxLunsPerHostGroup = 2048;
constexpr int kMapUnmapWaitDefaultSecs = 180;
constexpr int kRetryPauseMillis = 20000;

// An FC WWN loses its colons; an iSCSI name ("iqn." or "eui.") keeps them.
// Both are compared upper-cased.
std::string normaliseInitiator(std::string initiator) {
  static const char* const kIscsiMarks[] = {"iqn.", "IQN.", "eui.", "EUI."};
  bool iscsi = false;
  for (const char* mark : kIscsiMarks) iscsi = iscsi || initiator.find(mark) != std::string::npos;
  if (!iscsi)
    initiator.erase(std::remove(initiator.begin(), initiator.end(), ':'), initiator.end());
  return upper(initiator);
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

bool ZRHDSCommandHandler::findHostGroup(const std::string& port, std::string& hostGroup) {
  static const char kFn[] = "findHostGroup";
  const bool vsm = m_pSnapOptions->isVSM;
  const std::string request = hostGroup;
  HDSPortInfo info;
  if (m_pImplementer->getPortHostGroupList(port, request, info, false, "", vsm) != 0) {
    return copyImplementerError();
  }
  const std::string wanted = upper(request);
  for (const HDSHostGroupInfo& group : info.hostGroups) {
    if (upper(group.hostGroupName) == wanted || group.hostGroupId == request) {
      logMessage(1, kFn, "Found HostGroup-[%s] in port-[%s]", group.hostGroupName.c_str(),
                 port.c_str());
      hostGroup = group.hostGroupId;
      return true;
    }
  }
  const std::string preSnapName = preSnapHostGroupName(*m_pSnapOptions);
  if (request != preSnapName) {
    logMessage(2, kFn, "HostGroup-[%s] doesn't exist in the port-[%s]", request.c_str(),
               port.c_str());
    return fail(ZR_HDS_ERR_ARRAY_COMMAND,
                "Failed to find HostGroup-[" + port + "-" + request + "]");
  }
  logMessage(1, kFn,
             "PRE_SNAP HostGroup-[%s] doesn't exist in the port-[%s]. Will try to create one..",
             request.c_str(), port.c_str());
  if (m_pImplementer->createHostGroup(port, request) != 0) return copyImplementerError();
  info.hostGroups.clear();
  if (m_pImplementer->getPortHostGroupList(port, request, info, false, "", vsm) != 0) {
    return copyImplementerError();
  }
  for (const HDSHostGroupInfo& group : info.hostGroups) {
    if (group.hostGroupName == preSnapName) {
      hostGroup = group.hostGroupId;
      return true;
    }
  }
  logMessage(1, kFn, "Failed to find HostGroup-[%s] in port-[%s]", request.c_str(), port.c_str());
  return fail(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to find HostGroup-[" + port + "-" + request + "]");
}

// The LUN limit counts only the S-VOLs that still need a path here.
bool ZRHDSCommandHandler::mapDevicesToHostGroup(const std::string& port,
                                                const std::string& hostGroup) {
  static const char kFn[] = "mapDevicesToHostGroup";
  std::vector<HDSLunInfo> luns;
  if (m_pImplementer->getLunsForHostGroup(port, hostGroup, luns) != 0) {
    logMessage(2, kFn, "Failed to get the luns for the HostGroup[%s-%s]", port.c_str(),
               hostGroup.c_str());
    return copyImplementerError();
  }
  std::set<std::string> present;
  for (const HDSLunInfo& lun : luns) present.insert(lun.ldevId);
  std::vector<const ZRHDSSnapInfo*> pending;
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
    if (snap.snapLdevId.empty()) continue;
    if (present.count(snap.snapLdevId)) {
      logMessage(1, kFn, "S-VOL-[%s] is already mapped to HostGroup-[%s-%s]",
                 snap.snapLdevId.c_str(), port.c_str(), hostGroup.c_str());
    } else {
      pending.push_back(&snap);
    }
  }
  if (pending.empty()) {
    logMessage(1, kFn, "All [%d] S-VOL(s) are already mapped to HostGroup-[%s-%s]",
               static_cast<int>(m_pSnaps->size()), port.c_str(), hostGroup.c_str());
    return true;
  }
  if (luns.size() + pending.size() > kMaxLunsPerHostGroup) {
    logMessage(2, kFn, "HostGroup-[%s-%s] already had %d LUNs. Cannot map more LUNs..",
               port.c_str(), hostGroup.c_str(), static_cast<int>(luns.size()));
    return fail(12, "HostGroup-[" + port + "-" + hostGroup + "] had reached maximum LUN limit.");
  }

  const int window = readSetting("nZRHDSMapmapUnmapWaitTimeInSecs", kMapUnmapWaitDefaultSecs);
  const int64_t start = ZrClock::get().nowSeconds();
  for (const ZRHDSSnapInfo* snap : pending) {
    if (!mapWithRetry(snap->snapLdevId, port, hostGroup, start, window)) return false;
  }
  return true;
}

// One LU path, tried again every 20 s (the lock given back meanwhile) until
// the window that began at start has passed. A failure that the retry got
// past leaves the error pair as it was before: it is not this step's.
bool ZRHDSCommandHandler::mapWithRetry(const std::string& ldev, const std::string& port,
                                       const std::string& hostGroup, int64_t start, int window) {
  static const char kFn[] = "mapDevicesToHostGroup";
  const SavedError before = saveError();
  ZrClock& clock = ZrClock::get();
  while (m_pImplementer->mapLdevToHostGroup(ldev, port, hostGroup) != 0) {
    // The array layer's error of the last attempt is the one reported.
    copyImplementerError();
    if (clock.nowSeconds() - start > window) {
      logMessage(1, kFn,
                 "Failed to map S-VOL-[%s] to the HostGroup-[%s-%s] after retrying for [%d] secs",
                 ldev.c_str(), port.c_str(), hostGroup.c_str(), window);
      return false;
    }
    logMessage(1, kFn, "Failed to map S-VOL-[%s] to the HostGroup-[%s-%s]. Will retry in 20s..",
               ldev.c_str(), port.c_str(), hostGroup.c_str());
    if (!pauseResourceLock(kFn,
                           "Ignoring the failure to unlock the resource group. Proceeding "
                           "with the Map..")) {
      return false;
    }
  }
  restoreError(before);
  logMessage(1, kFn, "S-VOL-[%s] successfully mapped to the HostGroup-[%s-%s]", ldev.c_str(),
             port.c_str(), hostGroup.c_str());
  return true;
}

bool ZRHDSCommandHandler::pauseResourceLock(const char* method, const char* unlockFailure) {
  const bool held = m_bIsResourceLocked;
  const bool allGroups = m_bResourceLockAllGroups;
  if (held && !unlockResource(allGroups)) logMessage(2, method, "%s", unlockFailure);
  NQSLEEP(kRetryPauseMillis);
  // A lock this handler did not hold before the pause is not taken after it.
  if (!held) return true;
  return lockResource(allGroups);
}

bool ZRHDSCommandHandler::mapReplication(const std::vector<std::string>& hostGroups) {
  static const char kFn[] = "mapReplication";
  int mapped = 0;
  for (const std::string& text : hostGroups) {
    if (text.find('-') == std::string::npos) {
      logMessage(2, kFn, "Invalid HostGroup-[%s] format", text.c_str());
      return fail(13, "Invalid HostGroup-[" + text + "] format");
    }
    std::string port;
    std::string hostGroup;
    splitHostGroupText(text, port, hostGroup);
    logMessage(1, kFn, "Going to map S-VOLs to HostGroup-[%s]", text.c_str());
    if (mapDevicesToHostGroup(port, hostGroup)) ++mapped;
  }
  return mapped >= 1;
}

bool ZRHDSCommandHandler::findHostGroupToMap(std::vector<std::string>& hostGroups) {
  static const char kFn[] = "findHostGroupToMap";
  const int multiPort = readSetting("nZRHDSEnableMultiPortMappings", 0);
  logMessage(1, kFn, "The registry key to enable multi port mappings is set, value-[%d]",
             multiPort);
  if (hostGroups.empty()) {
    if (m_pSnapOptions->initiators.empty()) {
      if (!hostGroupsWithoutInitiators(hostGroups)) return false;
    } else {
      bool decided = false;
      if (!hostGroupsOfInitiators(hostGroups, multiPort != 0, decided)) return false;
      if (decided) return noteSvolHostGroups(hostGroups);
    }
  }
  // Two texts naming one host group (by name and by number) give it once.
  std::vector<std::string> resolved;
  for (const std::string& text : hostGroups) {
    std::string port;
    std::string hostGroup;
    splitHostGroupText(text, port, hostGroup);
    if (!findHostGroup(port, hostGroup)) return false;
    const std::string gidText = port + "-" + hostGroup;
    logMessage(1, kFn, "Going to map S-VOLs to HostGroup-[%s]", gidText.c_str());
    if (!contains(resolved, gidText)) resolved.push_back(gidText);
  }
  hostGroups = resolved;
  return noteSvolHostGroups(hostGroups);
}

bool ZRHDSCommandHandler::hostGroupsWithoutInitiators(std::vector<std::string>& hostGroups) {
  static const char kFn[] = "findHostGroupToMap";
  const std::string key = "sZRHDSHostGroupToMapSvols_" + m_pSnapOptions->baseSerialNum;
  std::string text;
  ZRPlatformInfo settings;
  settings.getString(zrhds_handler::kSettingsSection, key.c_str(), &text);
  if (!text.empty()) {
    logMessage(1, kFn, "The registry key to provide HostGroups is set, value-[%s]", text.c_str());
  } else if (m_pSnapOptions->isVSM) {
    logMessage(2, kFn, "HostGroup info not available for VSM. Failing Map..");
    return fail(ZR_HDS_ERR_ARRAY_COMMAND, "HostGroup info not available for VSM. Failing Map..");
  } else {
    if (m_pImplementer->getHostGroupOfCommandDevice(text) != 0) return copyImplementerError();
    if (text.empty()) {
      logMessage(2, kFn,
                 "Unable to find HostGroup of command device. Will fail the Map operation.");
      return fail(14, "Unable to find HostGroup to present S-VOLs. Use regkey-[" + key +
                          "] to set HostGroup for this host.");
    }
    logMessage(1, kFn, "Going to map S-VOLs to HostGroup-[%s] of command device.", text.c_str());
  }
  ZRHDSCLIUtils::convertHostGroupStringToVector(text, hostGroups);
  return true;
}

// Ports in the array's order, then each port's login WWNs, then the
// initiators in the job's order, then the port's host groups.
bool ZRHDSCommandHandler::hostGroupsOfInitiators(std::vector<std::string>& hostGroups,
                                                 bool multiPort, bool& decided) {
  static const char kFn[] = "findHostGroupToMap";
  const bool vsm = m_pSnapOptions->isVSM;
  decided = false;
  std::vector<HDSPortInfo> ports;
  if (m_pImplementer->getPortList(ports) != 0) return copyImplementerError();
  for (const HDSPortInfo& port : ports) {
    HDSPortInfo work;
    work.init();
    if (m_pImplementer->getPortLoginWWNList(port.port, work) != 0) return copyImplementerError();
    const std::vector<std::string> logins = work.loginWwns;
    for (const std::string& login : logins) {
      const std::string loggedIn = upper(login);
      for (const std::string& initiator : m_pSnapOptions->initiators) {
        const std::string wanted = normaliseInitiator(initiator);
        if (wanted != loggedIn) continue;
        logMessage(1, kFn, "Found WWN-[%s] logged into port-[%s]", wanted.c_str(),
                   port.port.c_str());
        if (m_pImplementer->getPortHostGroupList(port.port, "", work, true, wanted, vsm) != 0) {
          return copyImplementerError();
        }
        bool held = false;
        for (const HDSHostGroupInfo& group : work.hostGroups) {
          for (const std::string& wwn : group.wwns) {
            if (upper(wwn) != wanted) continue;
            held = true;
            logMessage(1, kFn, "Found WWN-[%s] in the HostGroup-[%s]", initiator.c_str(),
                       group.hostGroupName.c_str());
            const std::string text = port.port + "-" + group.hostGroupId;
            if (!contains(hostGroups, text)) {
              hostGroups.push_back(text);
              logMessage(1, kFn, "Going to map S-VOLs to HostGroup-[%s]", text.c_str());
            }
            if (!multiPort) {
              decided = true;
              return true;
            }
          }
        }
        if (!held && !multiPort) {
          logMessage(1, kFn,
                     vsm ? "Could not find WWN-[%s] on any of the HostGroups in the port-[%s] "
                           "within the VSM"
                         : "Could not find WWN-[%s] on any of the HostGroups in the port-[%s]",
                     wanted.c_str(), port.port.c_str());
        }
      }
    }
  }
  if (hostGroups.empty()) {
    logMessage(2, kFn, "Could not find any HostGroups for WWNs-[%s] on the array.",
               ZRHDSCLIUtils::convertHostGroupVectorToString(m_pSnapOptions->initiators).c_str());
    return fail(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to find HostGroup(s) for the client.");
  }
  return true;
}
