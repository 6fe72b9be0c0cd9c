// Login and logout with a per-array reference count kept in the settings
// store, shared by every process of the machine and changed only under
// "RAIDCOM_LOGIN_LOCK".
//
// Count rules:
//  - login(false) adds one holder; only the first holder runs the CCI login,
//    and a refused CCI login gives its count back.
//  - login(true) (the array ended the login, exit 202) runs the CCI login
//    again and leaves the count alone: the holders are the same.
//  - logout() removes one holder; the last one runs the CCI logout. Exit 202
//    of the logout command means the array had already ended the login.
// The user name and password are never logged or put into an error text.
#include <atomic>

#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"
#include "host/ZRPlatformInfo.h"
#include "host/ZRSOSnapInfo.h"
#include "util/ZRHDSLock.h"

namespace {

const char* const kSection = "~Tessavon";
const char* const kLoginLock = "RAIDCOM_LOGIN_LOCK";
constexpr int kExitLoginExpired = 202;

// True exactly while this process runs the CCI login command.
std::atomic<bool> g_bLoginInProcess{false};

bool isPrepareType(int type) { return type >= 1 && type <= 4; }

}  // namespace

std::string ZRHDSRaidcomImplementer::loginCountKey() const {
  return "sZRHDSRaidcomLockCount_" + m_oSnapOptions.baseSerialNum;
}

int ZRHDSRaidcomImplementer::login(bool force) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::login";
  const std::string failText = "Failed to login into array.";
  if (m_pSnapInfo == nullptr) {
    setErrorCodeString(ZRHDS_ERR_LOGIN_FAILED, failText);
    return 1;
  }
  ZRHDSLock lock(*m_pSnapInfo, kLoginLock, 0);
  if (!lock.isLocked()) {
    logMessage(2, kFn, "Failed to get mutex. Unable to acquire login lock.");
    setErrorCodeString(ZRHDS_ERR_LOGIN_FAILED, failText);
    return 1;
  }

  const std::string key = loginCountKey();
  ZRPlatformInfo settings;
  int count = 0;
  bool counted = false;  // true when this call added a holder
  if (force) {
    // Same holders, new CCI login: the count is read only to be logged.
    if (settings.getRegInt(kSection, key.c_str(), &count) == 0) count = 0;
    logMessage(1, kFn, "Forced login. Login count-[%d] stays.", count);
  } else {
    if (settings.getRegInt(kSection, key.c_str(), &count) == 0) {
      logMessage(2, kFn, "Failed to get login count.");
      setErrorCodeString(ZRHDS_ERR_LOGIN_FAILED, failText);
      return 1;
    }
    if (count < 0) {
      logMessage(2, kFn, "Login count-[%d] is -ve. Something went wrong.", count);
      count = 0;
    }
    if (settings.setRegInt(kSection, key.c_str(), count + 1) != 0) {
      logMessage(2, kFn, "Failed to set login count.");
      setErrorCodeString(ZRHDS_ERR_LOGIN_FAILED, failText);
      return 1;
    }
    counted = true;
    if (count >= 1) {
      logMessage(1, kFn, "Already logged in. Count-[%d]", count);
      return 0;
    }
  }

  auto giveBack = [&]() {
    if (counted && settings.setRegInt(kSection, key.c_str(), count) != 0) {
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
    logMessage(2, kFn, "Failed to login into the array-[%s]", o.baseSerialNum.c_str());
    setErrorCodeString(ZRHDS_ERR_LOGIN_FAILED, failText);
    giveBack();
    return 1;
  }
  logMessage(1, kFn, "Successfully logged into the array-[%s]", o.baseSerialNum.c_str());
  return 0;
}

int ZRHDSRaidcomImplementer::logout() {
  static const char* const kFn = "ZRHDSRaidcomImplementer::logout";
  const std::string failText = "Failed to logout from the array.";
  if (m_pSnapInfo == nullptr) {
    setErrorCodeString(ZRHDS_ERR_COMMAND_FAILED, "Failed to acquire lock during logout.");
    return 1;
  }
  ZRHDSLock lock(*m_pSnapInfo, kLoginLock, 0);
  if (!lock.isLocked()) {
    logMessage(2, kFn, "Failed to logout, Unable to acquire login lock.");
    setErrorCodeString(ZRHDS_ERR_COMMAND_FAILED, "Failed to acquire lock during logout.");
    return 1;
  }

  const std::string key = loginCountKey();
  ZRPlatformInfo settings;
  int count = 0;
  if (settings.getRegInt(kSection, key.c_str(), &count) == 0) {
    logMessage(2, kFn, "Failed to get login count.");
    setErrorCodeString(ZRHDS_ERR_LOGIN_FAILED, failText);
    return 1;
  }
  if (count < 1) {
    logMessage(2, kFn, "Login count is -ve [%d]. Something is wrong.", count);
    count = 1;
  }
  if (settings.setRegInt(kSection, key.c_str(), count - 1) != 0) {
    logMessage(2, kFn, "Failed to set login count.");
    setErrorCodeString(ZRHDS_ERR_LOGIN_FAILED, failText);
    return 1;
  }
  if (count >= 2) {
    logMessage(1, kFn, "Login Count-[%d]. No Logout Required.", count);
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
      logMessage(2, kFn, "Failed to logout from the array-[%s]",
                 m_oSnapOptions.baseSerialNum.c_str());
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
    settings.getRegInt(kSection, "nZRHDSForceRemoveHorcmFile", &force);
    if (force > 0) {
      horcmShutdown(nullptr);
      logMessage(1, kFn, "The reg key to force remove HORCM file is set, Value-[%d]", force);
      removeHorcmFiles();
    }
  }
  return 0;
}
