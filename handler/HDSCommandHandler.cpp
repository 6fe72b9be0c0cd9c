// The handler object: binding to the job, error pair, flags and the helpers
// every operation file uses.
#include "handler/HDSCommandHandler.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "handler/HDSCommandHandlerInternal.h"
#include "util/HDSCLIUtils.h"
#include "host/ZRPlatformInfo.h"
#include "host/ZRSOSnapInfo.h"

void ZRHDSCommandHandler::bind(ZRHDSCommandHandlerInputParams& params) {
  m_bIsResourceLocked = false;
  m_bIsInitialized = false;
  m_bIsLoggedIn = false;
  m_nErrorCode = 0;
  m_sErrorString.clear();
  m_nImplementerType = params.implementerType;
  m_nOperationType = params.operationType;
  m_pSnapOptions = &params.options;
  m_pSnaps = &params.snaps;
  m_pLogger = params.snaps.empty() ? nullptr : params.snaps.front().snapInfo;
  m_pOSUtil = params.osUtil;
  m_bResourceLockAllGroups = false;
}

bool ZRHDSCommandHandler::getErrorCodeString(int& code, std::string& text) {
  code = m_nErrorCode;
  text = m_sErrorString;
  return true;
}

bool ZRHDSCommandHandler::setErrorCodeString(int code, std::string text) {
  m_nErrorCode = code;
  if (!text.empty()) m_sErrorString = std::move(text);
  return true;
}

bool ZRHDSCommandHandler::IsHandlerInitialized() { return m_bIsInitialized; }

bool ZRHDSCommandHandler::getIsInitializedStatus(bool& initialized) {
  initialized = m_bIsInitialized;
  return true;
}

bool ZRHDSCommandHandler::getIsLoggedIn(bool& loggedIn) {
  loggedIn = m_bIsLoggedIn;
  return true;
}

bool ZRHDSCommandHandler::getIsResourceLocked(bool& locked) {
  locked = m_bIsResourceLocked;
  return true;
}

bool ZRHDSCommandHandler::setIsInitializedStatus(bool initialized) {
  m_bIsInitialized = initialized;
  return true;
}

bool ZRHDSCommandHandler::setIsLoggedIn(bool loggedIn) {
  m_bIsLoggedIn = loggedIn;
  return true;
}

bool ZRHDSCommandHandler::setIsResourceLocked(bool locked) {
  m_bIsResourceLocked = locked;
  return true;
}

void ZRHDSCommandHandler::logMessage(int level, const char* method, const char* format, ...) {
  if (m_pLogger == nullptr) return;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::vector<char> text(needed > 0 ? static_cast<size_t>(needed) + 1 : 1, '\0');
  if (needed > 0) std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  const std::string function = std::string("ZRHDSCommandHandler::") + method;
  m_pLogger->log(level, function.c_str(), "%s", text.data());
}

bool ZRHDSCommandHandler::copyImplementerError() {
  if (m_pImplementer) {
    int code = 0;
    std::string text;
    m_pImplementer->getErrorCodeString(code, text);
    m_nErrorCode = code;
    m_sErrorString = text;
  }
  return false;
}

bool ZRHDSCommandHandler::copyImplementerErrorOr(int code, const std::string& text) {
  int copied = 0;
  std::string copiedText;
  if (m_pImplementer) m_pImplementer->getErrorCodeString(copied, copiedText);
  // A code of the implementation travels with its own text, empty or not.
  m_nErrorCode = copied == 0 ? code : copied;
  m_sErrorString = copied == 0 ? text : copiedText;
  return false;
}

bool ZRHDSCommandHandler::fail(int code, const std::string& text) {
  m_nErrorCode = code;
  m_sErrorString = text;
  return false;
}

int ZRHDSCommandHandler::readSetting(const char* key, int preset) {
  ZRPlatformInfo settings;
  int value = preset;
  settings.getRegInt(zrhds_handler::kSettingsSection, key, &value);
  return ZRHDSCLIUtils::boundedSetting(key, value);
}
