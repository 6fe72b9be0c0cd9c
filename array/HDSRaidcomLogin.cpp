// Login and logout with a per-array holder count shared by every process of
// the machine and changed only under "RAIDCOM_LOGIN_LOCK".
//
// Count rules:
//  - login(false) adds one holder; only the first live holder runs the CCI
//    login, and a refused CCI login gives its holding back.
//  - login(true) (the array ended the login, exit 202) runs the CCI login
//    again and leaves the holders alone: they are the same.
//  - logout() removes one holder; the last live one runs the CCI logout.
//    Exit 202 of the logout command means the array had already ended the
//    login.
//  - A holder whose process died no longer counts (ZRHDSHolderCount), so a
//    killed job never keeps the login, the instance and its file for good;
//    a holding whose logout failed before it counted down goes with the
//    implementer object (loginHolding), so a long-lived process never keeps
//    it either.
//    The settings key "sZRHDSRaidcomLockCount_<serial>" mirrors the number
//    of live holders.
// The password is never logged or put into an error text; the user name
// appears only in the two failure logs that name the login.
#include <atomic>

#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"
#include "host/ZRPlatformInfo.h"
#include "host/ZRSOSnapInfo.h"
#include "util/ZRHDSHolderCount.h"
#include "util/ZRHDSLock.h"

namespace {

const char* const kSection = "~Tessavon";
constexpr int kExitLoginExpired = ZR_HDS_EXIT_LOGIN_EXPIRED;
const char* const kForceRemoveKey = "nZRHDSForceRemoveHorcmFile";

// True exactly while this process runs the CCI login command.
std::atomic<bool> g_bLoginInProcess{false};

bool isPrepareType(int type) { return type >= 1 && type <= 4; }

std::string countKeyOf(const std::string& serial) { return "sZRHDSRaidcomLockCount_" + serial; }

// The holders of the CCI login of one array.
ZRHDSHolderCount loginHolders(const std::string& serial) {
  return ZRHDSHolderCount("RAIDCOM_LOGIN_" + serial, countKeyOf(serial));
}

}  // namespace

std::string ZRHDSRaidcomImplementer::loginCountKey() const {
  return countKeyOf(m_oSnapOptions.baseSerialNum);
}

ZRHDSHolderCount& ZRHDSRaidcomImplementer::loginHolding() {
  if (!m_pLoginHolding) {
    m_pLoginHolding.reset(new ZRHDSHolderCount("RAIDCOM_LOGIN_" + m_oSnapOptions.baseSerialNum,
                                               loginCountKey()));
  }
  return *m_pLoginHolding;
}

int ZRHDSRaidcomImplementer::liveLoginHolders(int& count) {
  ZRHDSHolderCount holders = loginHolders(m_oSnapOptions.baseSerialNum);
  int widest = 0;
  if (holders.live(&count, &widest) != 0) {
    logMessage(2, "ZRHDSRaidcomImplementer::liveLoginHolders", "Failed to get login count. [%s]",
               holders.lastError().c_str());
    return 1;
  }
  return 0;
}

int ZRHDSRaidcomImplementer::ensureLoginCountKey(ZRSO::SnapInfo* logger,
                                                 const std::string& serial) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::ensureLoginCountKey";
  if (logger == nullptr || serial.empty() || !HDSShell::isDecimal(serial)) return 1;
  ZRHDSLock lock(*logger, ZR_HDS_LOCK_RAIDCOM_LOGIN, 0);
  if (!lock.isLocked()) {
    logger->log(2, kFn, "Failed to get mutex. Unable to acquire login lock.");
    return 1;
  }
  // Counting the live holders writes the key with their number when it is
  // missing or stale.
  ZRHDSHolderCount holders = loginHolders(serial);
  int count = 0, widest = 0;
  if (holders.live(&count, &widest) != 0) {
    logger->log(2, kFn, "Failed to create the login count for the array-[%s]. [%s]", serial.c_str(),
                holders.lastError().c_str());
    return 1;
  }
  return 0;
}

int ZRHDSRaidcomImplementer::login(bool force) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::login";
  const std::string failText = "Failed to login into array.";
  if (m_pSnapInfo == nullptr) {
    setErrorCodeString(ZR_HDS_ERR_LOGIN, failText);
    return 1;
  }
  ZRHDSLock lock(*m_pSnapInfo, ZR_HDS_LOCK_RAIDCOM_LOGIN, 0);
  if (!lock.isLocked()) {
    return failLogged(ZR_HDS_ERR_LOGIN, failText, kFn,
                      "Failed to get mutex. Unable to acquire login lock.");
  }

  const std::string key = loginCountKey();
  ZRPlatformInfo settings;
  ZRHDSHolderCount& holders = loginHolding();
  bool counted = false;  // true when this call added a holder
  if (force) {
    // Same holders, new CCI login: the count is read only to be logged.
    int count = 0;
    if (settings.getRegInt(kSection, key.c_str(), &count) == 0) count = 0;
    logMessage(1, kFn, "Forced login. Login count-[%d] stays.", count);
  } else {
    int stored = 0;
    if (settings.getRegInt(kSection, key.c_str(), &stored) == 0) {
      return failLogged(ZR_HDS_ERR_LOGIN, failText, kFn, "Failed to get login count.");
    }
    if (stored < 0) logMessage(2, kFn, "Login count-[%d] is -ve. Something went wrong.", stored);
    int live = 0;
    if (holders.add(ZRHDSHolderCount::kScopeByName, &live) != 0) {
      return failLogged(ZR_HDS_ERR_LOGIN, failText, kFn, "Failed to set login count. [%s]",
                        holders.lastError().c_str());
    }
    counted = true;
    if (live >= 2) {
      logMessage(1, kFn, "Already logged in. Count-[%d]", live - 1);
      return 0;
    }
    // The first live holder: another process's last logout may have shut
    // the instance down and removed its file since this job initialised.
    if (!instanceStillStarted() && prepareInstanceLocked(false, false) != 0) {
      int left = 0, widest = 0;
      holders.remove(&left, &widest);
      return failLogged(ZR_HDS_ERR_LOGIN, failText, kFn,
                        "Failed to prepare the HORCM instance for the login.");
    }
  }

  auto giveBack = [&]() {
    int left = 0, widest = 0;
    if (counted && holders.remove(&left, &widest) != 0) {
      logMessage(2, kFn, "Failed to reset the login count.");
    }
  };

  bool expected = false;
  if (!g_bLoginInProcess.compare_exchange_strong(expected, true)) {
    // Another login of this process is running the CCI login right now.
    giveBack();
    return 1;
  }

  int result = 0;
  const ZRHDSSnapOptions& o = m_oSnapOptions;
  if (!HDSShell::isLineSafe(o.userName) || !HDSShell::isLineSafe(o.password) ||
      o.userName.empty() || o.password.empty()) {
    logMessage(2, kFn, "Username or Password is not usable for the login.");
    result = 1;
  } else {
    std::string output;
    int exitCode = 0;
    // Two blanks in all between "-login" and the user name.
    std::string arguments = HDSShell::quote(o.userName) + " " + HDSShell::quote(o.password) +
                            getCommonParams(true, false);
    result = executeCommand("raidcom  -login ", arguments, output, exitCode);
  }
  g_bLoginInProcess = false;
  if (result != 0) {
    logMessage(2, kFn, "Failed to login using username-[%s]", o.userName.c_str());
    setErrorCodeString(ZR_HDS_ERR_LOGIN, failText);
    giveBack();
    return 1;
  }
  logMessage(1, kFn, "Successfully logged into the array-[%s]", o.baseSerialNum.c_str());
  return 0;
}

bool ZRHDSRaidcomImplementer::instanceStillStarted() {
  if (!m_bInstanceStarted) return false;
  // Only a last logout with this setting shuts an instance down.
  int force = 0;
  readSettingInt(kForceRemoveKey, force);
  if (force > 0) return false;
  const std::string& inst = m_oSnapOptions.horcmInst;
  return HDSShell::isDecimal(inst) && inst.size() < 6 &&
         instanceFileNamesArray(std::stoi(inst), m_oSnapOptions.baseSerialNum);
}

int ZRHDSRaidcomImplementer::logout() {
  static const char* const kFn = "ZRHDSRaidcomImplementer::logout";
  const std::string failText = "Failed to logout from the array.";
  if (m_pSnapInfo == nullptr) {
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to acquire lock during logout.");
    return 1;
  }
  ZRHDSLock lock(*m_pSnapInfo, ZR_HDS_LOCK_RAIDCOM_LOGIN, 0);
  if (!lock.isLocked()) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to acquire lock during logout.", kFn,
                      "Failed to logout, Unable to acquire login lock.");
  }

  const std::string key = loginCountKey();
  ZRPlatformInfo settings;
  int stored = 0;
  if (settings.getRegInt(kSection, key.c_str(), &stored) == 0) {
    return failLogged(ZR_HDS_ERR_LOGIN, failText, kFn, "Failed to get login count.");
  }
  ZRHDSHolderCount& holders = loginHolding();
  int left = 0, widest = 0;
  if (holders.remove(&left, &widest) != 0) {
    return failLogged(ZR_HDS_ERR_LOGIN, failText, kFn, "Failed to set login count. [%s]",
                      holders.lastError().c_str());
  }
  if (widest == 0) logMessage(2, kFn, "Login count is -ve [%d]. Something is wrong.", 0);
  if (left >= 1) {
    logMessage(1, kFn, "Login Count-[%d]. No Logout Required.", left + 1);
    return 0;
  }

  // Run directly, not through executeCommandMain: exit 202 here means the
  // array already ended the login, and a forced login would only open a
  // session nobody closes (and would need the login lock this call holds).
  std::string output;
  int exitCode = 0;
  if (executeCommand("raidcom ", " -logout " + getCommonParams(true, false), output, exitCode) !=
      0) {
    if (exitCode != kExitLoginExpired) {
      logMessage(2, kFn, "Failed to logout from the array-[%s], logged in with username-[%s]",
                 m_oSnapOptions.baseSerialNum.c_str(), m_oSnapOptions.userName.c_str());
      return 1;
    }
    logMessage(1, kFn, "The login to the array-[%s] had already ended.",
               m_oSnapOptions.baseSerialNum.c_str());
    setErrorCodeString(0, "");
  }
  logMessage(1, kFn, "Successfully logged out from the array-[%s]",
             m_oSnapOptions.baseSerialNum.c_str());

  if (!isPrepareType(m_nOperationType)) {
    int force = 0;
    settings.getRegInt(kSection, kForceRemoveKey, &force);
    if (force > 0) {
      horcmShutdown(nullptr);
      logMessage(1, kFn, "The reg key to force remove HORCM file is set, Value-[%d]", force);
      removeHorcmFiles();
    }
  }
  return 0;
}
