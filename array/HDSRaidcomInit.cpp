// Initialisation of the CCI implementer: command devices, CCI installation
// and version, command settings, the job's inputs, the HORCM instance file
// and start, and the array's microcode version.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"
#include "host/ZRClient.h"  // ZRPI_Base
#include "host/ZRPlatformInfo.h"
#include "host/ZRSOSnapInfo.h"
#include "util/HDSCLIUtils.h"
#include "util/ZRHDSLock.h"

namespace {

const char* const kSection = "~Tessavon";
// initialize logs under its bare name.
const char* const kFn = "initialize";
constexpr int kMetadataHorcmInstance = HDS_METADATA_HORCM_INSTANCE;

// Bounds of the command settings: a CCI command may run for at most a day;
// the command-status query is asked at least once and at most 1000 times;
// the resource lock waits between 1 s and an hour on the array, and ends
// before the command time-out would cut the lock command short.
constexpr int kMinCommandTimeout = 30;
constexpr int kMaxCommandTimeout = 86400;
constexpr int kMinRetryCount = 1;
constexpr int kMaxRetryCount = 1000;
constexpr int kMinRaidcomTimeout = 1;
constexpr int kMaxRaidcomTimeout = 3600;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "NN-NN-NN" at the start of the microcode text (such as 80-02-23/00).
bool hasMicrocodeShape(const std::string& v) {
  if (v.size() < 8) return false;
  return isDigit(v[0]) && isDigit(v[1]) && v[2] == '-' && isDigit(v[3]) && isDigit(v[4]) &&
         v[5] == '-' && isDigit(v[6]) && isDigit(v[7]);
}

std::string noCommandDeviceText(const std::string& serial) {
  return "No command device from Hitachi storage array [" + serial +
         "] found on the host. Either allocate a command device from the storage array to this "
         "host or use any other media agent which already has command device allocated by "
         "providing snap configuration [Remote Snap MA (CCI engines)] in Array Management at "
         "array level or client level. Please refer to Merrowind documentation on Hitachi "
         "storage array for more details.";
}

}  // namespace

bool ZRHDSRaidcomImplementer::readSettingInt(const char* key, int& value) {
  ZRPlatformInfo settings;
  const bool found = settings.getRegInt(kSection, key, &value) != 0;
  value = ZRHDSCLIUtils::boundedSetting(key, value);
  return found;
}

int ZRHDSRaidcomImplementer::initialize() {
  ZRHDSSnapOptions& o = m_oSnapOptions;

  // 1. The HORCM instance stored for the device, when the options name none.
  if (o.horcmInst.empty() && m_pSnapInfo != nullptr) {
    char buf[1025];
    memset(buf, 0, sizeof(buf));
    short len = 1024;
    if (m_pSnapInfo->getMetadata(kMetadataHorcmInstance, buf, &len) == 0) {
      logMessage(0, kFn, "Metadata [%d : %s]", kMetadataHorcmInstance, buf);
    }
    buf[1024] = 0;
    if (buf[0] != 0) {
      std::string stored(buf);
      if (!HDSShell::isDecimal(stored)) {
        refuseInvalidInput(kFn, "stored HORCM instance", stored);
        return 0;
      }
      o.horcmInst = stored;
    }
  }

  // 2. Command devices.
  if (getCommandDeviceList(m_vCommandDevices) == 0) {
    setErrorCodeString(3, noCommandDeviceText(o.baseSerialNum));
    return 0;
  }

  // 3. The CCI installation.
  std::string dir = o.horcmInstPath;
  if (!dir.empty()) dir.pop_back();
  if (dir.empty() || ::access(dir.c_str(), F_OK) != 0) {
    std::string text =
        "Hitachi CCI CLI not found in " + dir +
        ". Ensure that the Hitachi CCI CLI is installed on this client. If it is already "
        "installed in other folder, please set path in snap configuration [HORCM installation "
        "home directory path (CCI engines)] for Hitachi storage array [" +
        o.baseSerialNum +
        "] in array management either at array level or at client level. Please refer to "
        "Merrowind documentation on Hitachi storage array for more details.";
    logMessage(2, kFn, "%s", text.c_str());
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, text);
    return 0;
  }
  logMessage(0, kFn, "Running the CCI commands from [%s]", o.horcmInstPath.c_str());

  // 4. CCI command time-out.
  int timeout = 300;
  readSettingInt("nZRHDSCCICommandTimeoutInSec", timeout);
  logMessage(0, kFn, "Command Timeout value read from registry is [%d]", timeout);
  m_nCCICommandTimeout = std::min(std::max(timeout, kMinCommandTimeout), kMaxCommandTimeout);

  // 5. Keeping command output.
  m_bKeepCmdOutput = false;
  int keep = 0;
  if (!readSettingInt("nZRHDSKeepCmdOutput", keep)) {
    if (o.cmdLogging) {
      logMessage(0, kFn, "Found array config set to keep the command output.");
      m_bKeepCmdOutput = true;
    }
  } else {
    logMessage(0, kFn, "Registry key to keep command output is set [%d]", keep);
    m_bKeepCmdOutput = keep != 0;
  }

  // 6. Temporary directory.
  const char* temp = ZRPI_Base::getWrenlyTempDirectory();
  if (temp == nullptr) {
    logMessage(2, kFn, "Failed to get the Wrenly Temp directory.");
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get the Wrenly Temp directory.");
    return 0;
  }
  m_sTempDir = temp;

  // 7. CCI version.
  std::string version;
  if (getCCIVersionInstalled(version) != 0) {
    logMessage(2, kFn, "Failed to get the CCI version.");
    return 0;
  }

  // 8. The job's inputs.
  if (validateInputParams() != 0) return 0;

  // 9. Command settings, within sane bounds.
  int raidcomTimeout = 0;
  if (readSettingInt("nZRHDSRaidcomTimeoutInSecs", raidcomTimeout)) {
    int upper = std::min(kMaxRaidcomTimeout, m_nCCICommandTimeout - 10);
    m_nRaidcomTimeoutInSecs = std::max(kMinRaidcomTimeout, std::min(raidcomTimeout, upper));
    if (m_nRaidcomTimeoutInSecs != raidcomTimeout) {
      logMessage(1, kFn, "Raidcom time-out [%d] is out of bounds; using [%d].", raidcomTimeout,
                 m_nRaidcomTimeoutInSecs);
    }
  }
  int retries = 0;
  if (readSettingInt("nZRHDSRaidcomMaxRetryCount", retries)) {
    m_nRaidcomMaxRetryCount = std::max(kMinRetryCount, std::min(retries, kMaxRetryCount));
    if (m_nRaidcomMaxRetryCount != retries) {
      logMessage(1, kFn, "Raidcom retry count [%d] is out of bounds; using [%d].", retries,
                 m_nRaidcomMaxRetryCount);
    }
  }

  // 10. Create jobs (8) and type 9 rely on an instance that already runs.
  if (m_nOperationType != 8 && m_nOperationType != 9) {
    // 11-13. The count read, the instance-file decision and the instance
    // start happen under the login lock together, so no logout can shut the
    // instance down in between. The start runs every time: an instance that
    // already runs is success, so a count left behind by a crashed holder
    // never leaves later jobs without a running instance.
    if (m_pSnapInfo == nullptr) {
      setErrorCodeString(ZR_HDS_ERR_LOGIN, "Failed to acquire the login lock.");
      return 0;
    }
    ZRHDSLock lock(*m_pSnapInfo, ZR_HDS_LOCK_RAIDCOM_LOGIN, 0);
    if (!lock.isLocked()) {
      logMessage(2, kFn, "Failed to acquire the login lock.");
      setErrorCodeString(ZR_HDS_ERR_LOGIN, "Failed to acquire the login lock.");
      return 0;
    }
    int count = 0;
    if (liveLoginHolders(count) != 0) {
      setErrorCodeString(ZR_HDS_ERR_LOGIN, "Failed to get login count.");
      return 0;
    }
    if (prepareInstanceLocked(count <= 0, true) != 0) return 0;
    m_bInstanceStarted = true;
    lock.unlock();

    // 14-15. The array's microcode.
    HDSRaidqryInfo info;
    if (getCCIRaidqryInfo(info) != 0) return 0;
    const std::string& micro = info.microVersion;
    bool refused = true;
    if (hasMicrocodeShape(micro)) {
      int ver = atoi(micro.substr(0, 2).c_str());
      int sub = atoi(micro.substr(3, 2).c_str());
      int min = atoi(micro.substr(6, 2).c_str());
      logMessage(1, kFn, "MicroCode-[%s], Ver-[%d], SubVer-[%d], MinVer-[%d]", micro.c_str(), ver,
                 sub, min);
      refused = ver < 80 || (ver == 80 && sub < 2) || (ver == 80 && sub == 2 && min < 23);
    }
    if (refused) {
      std::string text = "Array version-[" + micro +
                         "] is not supported. Please install version 80-02-23 or higher.";
      logMessage(2, kFn, "%s", text.c_str());
      setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, text);
      return 0;
    }
  }

  logMessage(1, kFn, "Raidcom Implementer is initialized successfully for local execution.");
  setIsInitializedStatus(true);
  return 1;
}

int ZRHDSRaidcomImplementer::prepareInstanceLocked(bool forceRecreate, bool startWhenUnrepairable) {
  static const char* const kPFn = "ZRHDSRaidcomImplementer::prepareInstanceLocked";
  ZRHDSSnapOptions& o = m_oSnapOptions;
  if (!o.horcmInst.empty()) {
    int stored = 0;
    const bool ours = parseOwnInstance(o.horcmInst, stored);
    if (ours && instanceFileNamesArray(stored, o.baseSerialNum)) return horcmStart(nullptr);
    if (!ours && HDSShell::isDecimal(o.horcmInst) && o.horcmInst.size() < 6 &&
        instanceFileNamesArray(std::stoi(o.horcmInst), o.baseSerialNum)) {
      return horcmStart(nullptr);  // an instance the administrator set up
    }
    struct stat st;
    const std::string path = horcmFilePath(std::atoi(o.horcmInst.c_str()));
    if (m_vCommandDevices.empty() && ::lstat(path.c_str(), &st) == 0) {
      // There, but not a file we may trust (another user's, writable by
      // others, a link or FIFO) or not naming the array: never started.
      return failLogged(ZR_HDS_ERR_ARRAY_COMMAND,
                        "HORCM file " + path + " is not usable for the array.", kPFn,
                        "HORCM file-[%s] is not a trusted file naming the array-[%s].",
                        path.c_str(), o.baseSerialNum.c_str());
    }
    if (m_vCommandDevices.empty()) {
      // No file and no command device known (a create job, or a host told
      // to go on without one): nothing to write a file from. Go on as the
      // stored instance says; its start or the login tells whether it works.
      logMessage(1, kPFn,
                 "HORCM instance-[%s] has no usable file naming the array-[%s], and no command "
                 "device is known to write one.",
                 o.horcmInst.c_str(), o.baseSerialNum.c_str());
      return startWhenUnrepairable ? horcmStart(nullptr) : 0;
    }
    // Removed or replaced meanwhile (another job's last logout, an
    // administrator): choose again, and the caller stores the new number.
    const std::string old = o.horcmInst;
    o.horcmInst.clear();
    if (createRaidcomHorcmFiles(o.baseSerialNum, forceRecreate) != 0) return 1;
    logMessage(1, kPFn,
               "HORCM instance-[%s] has no usable file naming the array-[%s]; using instance-[%s].",
               old.c_str(), o.baseSerialNum.c_str(), o.horcmInst.c_str());
    return horcmStart(nullptr);
  }
  if (createRaidcomHorcmFiles(o.baseSerialNum, forceRecreate) != 0) return 1;
  return horcmStart(nullptr);
}

int ZRHDSRaidcomImplementer::validateInputParams() {
  static const char* const kVFn = "ZRHDSRaidcomImplementer::validateInputParams";
  ZRHDSSnapOptions& o = m_oSnapOptions;
  auto fail = [&](int code, const std::string& text) {
    return failLogged(code, text, kVFn, "%s", text.c_str());
  };
  if (o.baseSerialNum.empty()) {
    return fail(2, "Serial Number is not passed to Raidcom Implementer.");
  }
  if (!HDSShell::isDecimal(o.baseSerialNum)) {
    return fail(2, "Serial Number passed to Raidcom Implementer is not a decimal number.");
  }
  if (o.horcmInst.empty() && m_vCommandDevices.empty()) {
    return fail(3, "Command device list is not available.");
  }
  if (!o.horcmInst.empty() && !HDSShell::isDecimal(o.horcmInst)) {
    return refuseInvalidInput(kVFn, "HORCM instance", o.horcmInst);
  }
  formatCommandDeviceName();
  if (o.userName.empty() || o.password.empty()) {
    return fail(ZR_HDS_ERR_LOGIN, "Username or Password is not set.");
  }
  std::string version = getCCIVersion();
  int minor = getCCIMinorVersion();
  if (minor <= 28) {
    return fail(ZR_HDS_ERR_ARRAY_COMMAND,
                "CCI version-[" + version +
                    "] is not supported. Please install version 01-29-03/05 or higher.");
  }
  if (minor <= 32) {
    if (minor <= 31) {
      logMessage(2, kVFn,
                 "Backup jobs for the devices provisioned from VSM requires CCI version "
                 "01-32-03/01 (or higher).");
    }
    return fail(ZR_HDS_ERR_ARRAY_COMMAND,
                "CCI version-[" + version +
                    "] is not supported. Please install version 01-33-xx/xx or higher.");
  }
  if (o.resourceGroup.empty()) {
    o.resourceGroup = ZR_HDS_META_RESOURCE;
    logMessage(0, kVFn, "Using default Resource Group-[%s]", o.resourceGroup.c_str());
  }
  return 0;
}
