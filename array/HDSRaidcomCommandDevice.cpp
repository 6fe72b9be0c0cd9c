// Command devices of the job's array: reused from this process's cache in
// the settings store (each re-checked by inquiry) or discovered among the
// host's disk devices.
#include <cstring>

#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"
#include "host/EvDebug.h"
#include "host/ZRPlatformInfo.h"
#include "host/ZRSOSnapInfo.h"
#include "util/HDSCLIUtils.h"

namespace {

const char* const kSection = "~Tessavon";
const char* const kFn = "getCommandDeviceList";
constexpr int kMetadataVendor = 71;

}  // namespace

bool ZRHDSRaidcomImplementer::isCommandDeviceOfArray(const std::string& path) {
  // Only plain paths can go into the instance file and onto command lines.
  if (!HDSShell::isPlain(path)) return false;
  ZRHDSSCSIInquiryData data;
  if (ZRHDSCLIUtils::HDSSCSIInquiryPageSTD(path, data) == 0) return false;
  return data.isHitachi && data.product == ZR_HDS_COMMAND_DEVICE_PRODUCT &&
         data.arraySerial == m_oSnapOptions.baseSerialNum;
}

int ZRHDSRaidcomImplementer::getCommandDeviceList(std::vector<std::string>& devices) {
  if (m_nOperationType == 8 || m_nOperationType == 9) return 1;

  const std::string key = "sZRHDSCommandDevice_" + m_oSnapOptions.baseSerialNum;
  ZRPlatformInfo settings;
  std::string cached;
  if (settings.getString(kSection, key.c_str(), &cached) == 0) {
    logMessage(1, kFn, "Command Device is not saved");
    cached.clear();
  }
  const std::string pid = std::to_string(EvDebug::getProcessId());

  if (!cached.empty()) {
    logMessage(1, kFn, "Command Device [%s] read.", cached.c_str());
    size_t colon = cached.find(':');
    if (colon != std::string::npos && cached.compare(0, colon, pid) == 0) {
      std::string list = cached.substr(colon + 1, 255);
      size_t pos = 0;
      while (pos <= list.size()) {
        size_t comma = list.find(',', pos);
        if (comma == std::string::npos) comma = list.size();
        std::string item = list.substr(pos, comma - pos);
        pos = comma + 1;
        if (item.empty()) continue;
        if (isCommandDeviceOfArray(item)) {
          logMessage(1, kFn, "Device [%s] is a command device", item.c_str());
          devices.push_back(item);
        }
      }
    }
  }

  if (devices.empty()) {
    std::string hostId;
    if (ZRHDSCLIUtils::getHostIdentifier(m_pSnapInfo, hostId, false) == 0) {
      logMessage(2, kFn, "Failed to get the Host Identifier");
      setErrorCodeString(62002, "Failed to get host identifier.");
      return 0;
    }
    logMessage(1, kFn, "Host Identifier [%s]", hostId.c_str());

    char vendorBuf[17];
    memset(vendorBuf, 0, sizeof(vendorBuf));
    if (m_pSnapInfo != nullptr) {
      short len = 16;
      if (m_pSnapInfo->getMetadata(kMetadataVendor, vendorBuf, &len) != 0) {
        logMessage(2, kFn, "Failed to get metadata [Id : %d]", kMetadataVendor);
      }
    }
    vendorBuf[16] = 0;
    std::string vendor = vendorBuf[0] != 0 ? std::string(vendorBuf) : std::string("HITACHI");

    ZRSO::ZROSUtil* util = m_pOSUtil;
    ZRSO::ZROSUtil* localUtil = nullptr;
    if (ZRHDSCLIUtils::IsVMware(m_pSnapInfo)) {
      if (m_pSnapInfo == nullptr || m_pSnapInfo->getLocalOSUtil(&localUtil) == 0 ||
          localUtil == nullptr) {
        logMessage(2, kFn, "Unable to get local OS utility handle.");
        return 0;
      }
      util = localUtil;
    }
    std::vector<std::string> names;
    ZRHDSCLIUtils::getDeviceList(m_pSnapInfo, util, names, hostId, vendor);
    delete localUtil;

    std::string value = pid + ":";
    for (const std::string& name : names) {
      if (!isCommandDeviceOfArray(name)) continue;
      logMessage(1, kFn, "Device [%s] is a command device", name.c_str());
      devices.push_back(name);
      value += name + ",";
    }
    if (!devices.empty() && settings.setRegString(kSection, key.c_str(), value.c_str()) != 0) {
      logMessage(2, kFn, "Failed to set the command device list.");
    }
  }

  if (devices.empty()) {
    int doNotFail = 0;
    settings.getRegInt(kSection, "nZRHDSDoNotFailForCmdDev", &doNotFail);
    if (doNotFail == 0) {
      logMessage(2, kFn, "Failed to find Command Device for the array [%s]",
                 m_oSnapOptions.baseSerialNum.c_str());
      return 0;
    }
  }
  return 1;
}

int ZRHDSRaidcomImplementer::formatCommandDeviceName() {
  for (std::string& path : m_vCommandDevices) {
    if ((path.find("/dev/dsk") != std::string::npos ||
         path.find("/dev/disk") != std::string::npos ||
         path.find("/dev/hdisk") != std::string::npos) &&
        path.size() >= 5) {
      path.insert(5, "r");
    }
  }
  return 1;
}

int ZRHDSRaidcomImplementer::CheckIfCommandDeviceExist() {
  static const char* const kCFn = "CheckIfCommandDeviceExist";
  int maxDevice = 200;
  ZRPlatformInfo settings;
  settings.getRegInt(kSection, "nZRHDSFindCmdDevMaxDeviceNumber", &maxDevice);
  std::string output;
  int exitCode = 0;
  if (executeCommand("raidscan ", " -x findcmddev 0-" + std::to_string(maxDevice), output,
                     exitCode) != 0) {
    std::string text =
        "The command [raidscan -x findcmddev] failed to run. Output-[" + output +
        "]. Please ensure that the Hitachi CCI is installed on the host. Please check the log "
        "folder under CCI installation directory to get more details relating to the command "
        "failure.";
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, text, kCFn, "%s", text.c_str());
  }
  const std::string& serial = m_oSnapOptions.baseSerialNum;
  size_t at = serial.empty() ? std::string::npos : output.find(serial);
  if (at == std::string::npos) {
    std::string text =
        "No command device from Hitachi storage array [" + serial +
        "] found on the host. Either allocate a command device from the storage array to this "
        "host or use any other media agent which already has command device allocated by "
        "providing snap configuration [Remote Snap MA (CCI engines)] in Array Management at "
        "array level or client level. Please refer to Merrowind documentation on Hitachi "
        "storage array for more details.";
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, text, kCFn, "%s. Output [%s].", text.c_str(),
                      output.c_str());
  }
  size_t start = output.find("\\\\", at);
  if (start != std::string::npos) {
    size_t end = output.find('\n', start);
    if (end != std::string::npos && end > start + 2) {
      m_vCommandDevices.push_back(output.substr(start, end - start));
    }
  }
  return 0;
}
