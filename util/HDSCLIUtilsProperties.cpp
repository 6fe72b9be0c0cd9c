// The job's array properties: snap configuration, array-details text and
// machine settings gathered into ZRHDSSnapOptions, with the CU-range and
// pool checks; single items of the array-details text; the remote media
// agent that a job names.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/ZRPlatformInfo.h"
#include "host/ZrPaths.h"
#include "json/ParseJsonString.h"
#include "util/HDSCLIUtils.h"
#include "util/HDSCLIUtilsSupport.h"

namespace {

const int kArrayDetailsSize = 4096;
const char kCuRangeLabel[] = "CU range to be used to pick S-VOLs (CCI engines)";
const char kTiPoolLabel[] = "TI pool to be used for V-VOLs (CCI TI engine)";
const char kDocHint[] =
    "Please refer to Merrowind documentation on Hitachi storage array for more details.";

// Reads the array-details text; false when the host refuses.
bool readArrayDetails(ZRSO::SnapInfo* device, std::string& text) {
  if (device == nullptr) return false;
  zrhds_support::HostBuffer buffer(kArrayDetailsSize);
  short length = buffer.shortCapacity();
  if (device->getArrayDetails(buffer.data(), &length) != 0) return false;
  text = buffer.text();
  return true;
}

// A text snap setting; leaves field unchanged when it is not configured.
void configText(ZRSO::SnapInfo* device, const char* name, std::string& field) {
  std::string value;
  if (device->getSnapConfigString(name, &value) == 0) field = value;
}

int configInt(ZRSO::SnapInfo* device, const char* name) {
  int value = 0;
  device->getSnapConfigInt(name, &value);
  return value;
}

std::string cuRangeMessage1(const ZRHDSSnapOptions& o) {
  return "The CU range [" + o.cuRange + "] specified in snap configuration [" + kCuRangeLabel +
         "] of Hitachi storage array [" + o.baseSerialNum +
         "] is invalid. Specify a valid value as 1. a particular CU value in hexadecimal or 2. a "
         "hyphenated range in "
         "hexadecimal or 3. a list of above two separated by comma - at Array Management at array "
         "level. " +
         kDocHint;
}

std::string cuRangeMessage2(const ZRHDSSnapOptions& o, const std::string& item) {
  return "The CU range [" + o.cuRange + "] specified in snap configuration [" + kCuRangeLabel +
         "] of Hitachi storage array [" + o.baseSerialNum + "] is invalid as the range [" + item +
         "] start value is greater than end value. Correct the range values at Array Management. " +
         kDocHint;
}

std::string poolMessage(const ZRHDSSnapOptions& o) {
  return std::string(
             "Pool name is required for Thin Image backup. Specify a valid pool name in snap "
             "configuration [") +
         kTiPoolLabel + "] for Hitachi storage array [" + o.baseSerialNum +
         "] in Array Management at array level. " + kDocHint;
}

// Checks the cleaned CU range; on failure returns false with the message.
bool checkCuRange(const ZRHDSSnapOptions& o, std::string& message) {
  if (o.cuRange.find_first_not_of("0123456789ABCDEFabcdef,-") != std::string::npos) {
    message = cuRangeMessage1(o);
    return false;
  }
  size_t start = 0;
  while (start <= o.cuRange.size()) {
    size_t comma = o.cuRange.find(',', start);
    if (comma == std::string::npos) comma = o.cuRange.size();
    const std::string item = o.cuRange.substr(start, comma - start);
    if (item.find('-') != std::string::npos) {
      unsigned int first = 0, last = 0;
      std::sscanf(item.c_str(), "%x-%x", &first, &last);
      if (static_cast<int>(first) > static_cast<int>(last)) {
        message = cuRangeMessage2(o, item);
        return false;
      }
    }
    start = comma + 1;
  }
  return true;
}

void appendSlash(std::string& path) {
  if (path.empty() || path.back() != '/') path += "/";
}

}  // namespace

namespace ZRHDSCLIUtils {

int getRemoteMAName(ZRSO::SnapInfo* device, std::string& name) {
  static const char kFn[] = "ZRHDSCLIUtils::getRemoteMAName";
  zrhds_support::HostBuffer buffer(1024);
  if (device != nullptr) {
    int length = buffer.intCapacity();
    if (device->getSnapConfigValue("SMCONFIG_NAME_REMOTE_SNAP_MA", buffer.data(), &length) == 0) {
      device->log(0, kFn, "Snap Config [%s : %s]", "SMCONFIG_NAME_REMOTE_SNAP_MA", buffer.data());
    } else {
      buffer.clear();  // a refused read says nothing about the buffer
    }
  }
  const std::string setting =
      zrhds_support::readSettingString("~Tessavon", "sZRHDSRemoteSnapMAName");
  if (!setting.empty()) {
    ZRHDS_DEVLOG(device, 0, kFn, "Registry Key [%s] read, value = [%s]", "sZRHDSRemoteSnapMAName",
                 setting.c_str());
    name = setting;
  } else if (!buffer.empty()) {
    name = buffer.text();
  }
  return 1;
}

short getSnapEngineType(ZRSO::SnapInfo* device) {
  std::string text, value;
  if (!readArrayDetails(device, text)) return 0;
  if (::parseJsonString(text, "engineId", value, "") == 0) return 0;
  return static_cast<short>(std::atoi(value.c_str()));
}

std::string getSnapArrayId(ZRSO::SnapInfo* device) {
  std::string text, value;
  if (!readArrayDetails(device, text)) return std::string();
  if (::parseJsonString(text, "arrayId", value, "") == 0) return std::string();
  return value;
}

int getArrayProperties(ZRSO::SnapInfo* device, ZRHDSSnapOptions& o) {
  if (device == nullptr) return 0;

  configText(device, "SMCONFIG_NAME_LDEV_DEVICE_NAME", o.label);
  configText(device, "SMCONFIG_NAME_CU_RANGE_FOR_SVOLS", o.cuRange);
  o.noVvolCreate = configInt(device, "SMCONFIG_NAME_CREATE_VVOLS_FOR_HTI") <= 0;
  configText(
      device,
      o.isHTI ? "SMCONFIG_NAME_TI_POOL_NAME_FOR_SVOLS" : "SMCONFIG_NAME_DP_POOL_NAME_FOR_SVOLS",
      o.pool);
  o.useDPVols = configInt(device, "SMCONFIG_NAME_ALWAYS_SELECT_DP_VOLUMES_CCI") > 0;
  o.useExistingPairs = configInt(device, "SMCONFIG_NAME_USE_PREEXISTING_MIRRORS_FOR_SI") > 0;
  o.reUse = configInt(device, "SMCONFIG_NAME_ENABLE_INCREMENTAL_RESYNC") > 0;
  o.quickResync = configInt(device, "SMCONFIG_NAME_ENABLE_QUICK_RESYNC_CCI") > 0;
  o.quickRestore = configInt(device, "SMCONFIG_NAME_ENABLE_QUICK_RESTORE_CCI") > 0;
  configText(device, "SMCONFIG_NAME_HOST_GROUP_FOR_SVOLS", o.svolHostGroup);
  o.cmdLogging = configInt(device, "SMCONFIG_NAME_ENABLE_COMMAND_LOGGING") > 0;
  configText(device, "SMCONFIG_NAME_HORCM_INSTALLATION_PATH", o.horcmInstPath);
  configText(device, "SMCONFIG_NAME_RAIDCOM_HORCM_INST", o.horcmInst);
  getRemoteMAName(device, o.remoteMAName);
  o.cascadedClone = configInt(device, "SMCONFIG_NAME_PERFORM_CASCADE_SNAP") > 0;
  o.useConsistencyGrp = configInt(device, "SMCONFIG_NAME_USE_CONSISTENCY_GROUP") > 0;
  configText(device, "SMCONFIG_NAME_HDS_REMOTE_REPL_COPY_GROUP", o.copyGroup);
  configText(device, "SMCONFIG_NAME_HDS_PHYSICAL_ARRAY_SERIAL_ID", o.baseSerialNum);
  o.gadEnabled = configInt(device, "SMCONFIG_NAME_HDS_DISABLE_GAD_OPERATION") <= 0;
  configText(device, "SMCONFIG_NAME_HDS_NAME_PRESNAP_PORT_FOR_SVOLS", o.preSnapPort);

  std::string details;
  if (!readArrayDetails(device, details)) {
    const std::string text =
        "Failed to get array details for [" + o.baseSerialNum +
        "] from database. Please ensure that the array details are properly entered and "
        "configured in Array Management.";
    SetError(device, 62005, text.c_str());
    return 0;
  }
  // Each item is read even when an earlier one is missing, so that the error
  // names everything the array details lack.
  std::vector<std::string> missing;
  if (::parseJsonString(details, "hostUserName", o.userName, "") == 0)
    missing.push_back("array user name");
  if (::parseJsonString(details, "hostPassword", o.password, "") == 0)
    missing.push_back("array password");
  if (::parseJsonString(details, "arrayId", o.arrayId, "") == 0) missing.push_back("array id");
  if (!missing.empty()) {
    std::string list;
    for (size_t i = 0; i < missing.size(); ++i) list += (i == 0 ? "" : ", ") + missing[i];
    const std::string text =
        "The array details for [" + o.baseSerialNum + "] in the database are missing the " + list +
        ". Please ensure that the array details are properly entered and configured in Array "
        "Management.";
    device->log(2, "getArrayProperties", "%s", text.c_str());
    SetError(device, 62005, text.c_str());
    return 0;
  }

  o.isVSM = !o.baseSerialNum.empty() && o.baseSerialNum != o.arrayId;
  if (!o.isVSM) o.baseSerialNum = o.arrayId;

  std::string cleaned;
  for (char c : o.cuRange) {
    if (!std::isspace(static_cast<unsigned char>(c))) cleaned += c;
  }
  o.cuRange = cleaned;
  std::string message;
  if (!checkCuRange(o, message)) {
    SetError(device, 62008, message.c_str());
    return 0;
  }
  if (o.isHTI && o.pool.empty()) {
    SetError(device, 62008, poolMessage(o).c_str());
    return 0;
  }

  if (o.isHTI) {
    o.useDPVols = false;
    o.reUse = false;
    o.quickResync = false;
    o.quickRestore = false;
  }
  if (zrhds_support::readSettingInt("~Tessavon", "nZRHDSKeepCmdOutput", 0) > 0) o.cmdLogging = true;

  char horcmDir[1024] = {0};
  {
    ZRPlatformInfo info;
    info.getString("Tessavon", "sZRHDSHorcmDirectory", horcmDir, 1023);
  }
  if (horcmDir[0] != '\0') {
    o.horcmInstPath = horcmDir;
  } else if (o.horcmInstPath.empty()) {
    o.horcmInstPath = ZrPaths::cciDir();
  }
  appendSlash(o.horcmInstPath);

  if (o.cascadedClone) {
    if (!o.isHTI) {
      o.label.clear();
      o.cuRange.clear();
      o.pool.clear();
      o.useDPVols = false;
      o.quickResync = false;
      o.quickRestore = false;
      o.reUse = false;
      o.useExistingPairs = true;
      o.noVvolCreate = true;
    } else {
      o.cascadedClone = false;
    }
  }

  char preSnapPort[1024] = {0};
  {
    ZRPlatformInfo info;
    info.getString("~Tessavon", "sZRHDSPreSnapPort", preSnapPort, 1023);
  }
  if (preSnapPort[0] != '\0') o.preSnapPort = preSnapPort;

  device->log(
      1, "getArrayProperties",
      "Snap Configuration set for the Job : HTI-[%d], Label-[%s], CU-[%s], CreateVVOL-[%d], "
      "Pool-[%s], "
      "UseDPVols-[%d], UseExistingPairs-[%d], ReUse-[%d], QuickResync-[%d], QuickRestore-[%d], "
      "CmdLogging-[%d], HORCMInstPath-[%s], HORCMInst#-[%s], CascadedClone-[%d], "
      "UseConsistencyGrp-[%d], "
      "Copygroup-[%s], BaseSerialNum-[%s], DisableGAD-[%d], PreSnapPort-[%s]",
      o.isHTI ? 1 : 0, o.label.c_str(), o.cuRange.c_str(), o.noVvolCreate ? 0 : 1, o.pool.c_str(),
      o.useDPVols ? 1 : 0, o.useExistingPairs ? 1 : 0, o.reUse ? 1 : 0, o.quickResync ? 1 : 0,
      o.quickRestore ? 1 : 0, o.cmdLogging ? 1 : 0, o.horcmInstPath.c_str(), o.horcmInst.c_str(),
      o.cascadedClone ? 1 : 0, o.useConsistencyGrp ? 1 : 0, o.copyGroup.c_str(),
      o.isVSM ? o.baseSerialNum.c_str() : "", o.gadEnabled ? 0 : 1, o.preSnapPort.c_str());
  return 1;
}

namespace {

// The longest wait, or the most retries, each wait setting may ask for: a
// larger value is taken as this one, so that no setting stops a job for
// good. The settings reference of the README lists the same figures.
struct WaitBound {
  const char* key;
  int maximum;
};
constexpr WaitBound kWaitBounds[] = {
    {"nZRHDSAfterSnapWaitTimeSeconds", 600},
    {"nZRHDSCCICommandTimeoutInSec", 86400},
    {"nZRHDSCLIWaitForSnapshotToBeInPairState", 600},
    {"nZRHDSDeleteWaitTimeInSecs", 7200},
    {"nZRHDSMapUnmapSystemBusRefreshDelayInSecs", 60},
    {"nZRHDSMapmapUnmapWaitTimeInSecs", 3600},
    {"nZRHDSMountWaitTimeInSecs", 3600},
    {"nZRHDSPostDeleteWaitTimeInSecs", 60},
    {"nZRHDSQmarkerCommitWaitTimeInSecs", 3600},
    {"nZRHDSRaidcomTimeoutInSecs", 3600},
    {"nZRHDSReverseCopyWaitTimeInSecs", 86400},
    {"nZRHDSRaidcomMaxRetryCount", 1000},
    {"nZRHDSSnapArrayLockRetryCount", 1000},
    {"nZRHDSSnapLockRetryCount", 1000},
};

}  // namespace

int waitSettingMaximum(const char* key) {
  if (key == nullptr) return -1;
  for (const WaitBound& b : kWaitBounds) {
    if (std::strcmp(b.key, key) == 0) return b.maximum;
  }
  return -1;
}

int boundedSetting(const char* key, int value) {
  const int maximum = waitSettingMaximum(key);
  return maximum >= 0 && value > maximum ? maximum : value;
}

}  // namespace ZRHDSCLIUtils
