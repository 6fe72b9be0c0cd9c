// The interface base (error pair, initialised flag, local host name), the
// CCI implementer's construction, and the production command runner.
#include "array/HDSRaidcomImplementer.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "host/EvDebug.h"
#include "host/ZRClient.h"
#include "host/ZRPlatformInfo.h"
#include "host/ZRSOSnapInfo.h"
#include "util/CommandHelper.h"
#include "util/ZRHDSHolderCount.h"

namespace {

// Guards ZRHDSCommandImplementer::m_sLocalHostName: the host may construct
// implementers on two threads at once.
std::mutex& hostNameMutex() {
  static std::mutex m;
  return m;
}

constexpr int kOperationTypeCreate = 8;

}  // namespace

std::string ZRHDSCommandImplementer::m_sLocalHostName;

// ---------------------------------------------------------------------------
// ZRHDSCommandImplementer

ZRHDSCommandImplementer::ZRHDSCommandImplementer(ZRSO::SnapInfo*& snapInfo,
                                                 ZRHDSCommandHandlerInputParams& params)
    : m_nOperationType(params.operationType),
      m_oSnapOptions(params.options),
      m_vSnaps(params.snaps),
      m_bIsInitialized(false),
      m_nErrorCode(0),
      m_sErrorString(),
      m_pSnapInfo(snapInfo),
      m_pOSUtil(params.osUtil) {
  init();
}

ZRHDSCommandImplementer::~ZRHDSCommandImplementer() {
  m_bIsInitialized = false;
  m_pSnapInfo = nullptr;
  m_pOSUtil = nullptr;
}

int ZRHDSCommandImplementer::getIsInitializedStatus(bool& initialized) {
  initialized = m_bIsInitialized;
  return 1;
}

int ZRHDSCommandImplementer::setIsInitializedStatus(bool initialized) {
  m_bIsInitialized = initialized;
  return 1;
}

int ZRHDSCommandImplementer::getErrorCodeString(int& code, std::string& text) {
  code = m_nErrorCode;
  text = m_sErrorString;
  return 1;
}

int ZRHDSCommandImplementer::setErrorCodeString(int code, std::string text) {
  m_nErrorCode = code;
  if (!text.empty()) m_sErrorString = std::move(text);
  return 1;
}

std::string ZRHDSCommandImplementer::getLocalHostName() {
  std::lock_guard<std::mutex> g(hostNameMutex());
  return m_sLocalHostName;
}

void ZRHDSCommandImplementer::setLocalHostNameForTesting(const std::string& name) {
  std::lock_guard<std::mutex> g(hostNameMutex());
  m_sLocalHostName = name;
}

namespace {

std::string formatted(const char* format, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<size_t>(n) + 1);
    vsnprintf(&text[0], text.size(), format, ap);
    text.resize(static_cast<size_t>(n));
  }
  return text;
}

}  // namespace

void ZRHDSCommandImplementer::logMessage(int level, const char* function, const char* format, ...) {
  ZRSO::SnapInfo* log = m_pSnapInfo;
  if (log == nullptr) return;
  va_list ap;
  va_start(ap, format);
  std::string text = formatted(format, ap);
  va_end(ap);
  log->log(level, function, "%s", text.c_str());
}

int ZRHDSCommandImplementer::failLogged(int code, const std::string& text, const char* function,
                                        const char* format, ...) {
  if (ZRSO::SnapInfo* log = m_pSnapInfo) {
    va_list ap;
    va_start(ap, format);
    std::string line = formatted(format, ap);
    va_end(ap);
    log->log(2, function, "%s", line.c_str());
  }
  setErrorCodeString(code, text);
  return 1;
}

void ZRHDSCommandImplementer::init() {
  static const char* const kFn = "ZRHDSCommandImplementer::init";
  if (m_nOperationType == kOperationTypeCreate) return;
  // Held for the whole lookup so that two threads resolve the name once.
  std::lock_guard<std::mutex> g(hostNameMutex());
  if (!m_sLocalHostName.empty()) return;

  std::string client = EvDebug::getClientName();
  std::string name;
  ZRPlatformInfo platform;
  if (platform.getClientHostName(client.c_str(), name) == 0 || name.empty()) {
    logMessage(2, kFn, "Failed to read the client name-[%s] from the registry", client.c_str());
    name.clear();
    ZRClient host(client, false, 0);
    if (host.getNetworkHostname(name, nullptr) == 0) name.clear();
  }
  if (name.empty()) {
    char text[2048];
    snprintf(text, sizeof(text), "Failed to get the client name-[%s] from the Varnholm.",
             client.c_str());
    logMessage(2, kFn, "%s", text);
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, text);
    return;
  }
  m_sLocalHostName = name;
  logMessage(0, kFn, "Using hostname-[%s] for client-[%s]", name.c_str(), client.c_str());
}

// ---------------------------------------------------------------------------
// ZRHDSRaidcomImplementer construction

ZRHDSRaidcomImplementer::ZRHDSRaidcomImplementer(ZRSO::SnapInfo*& snapInfo,
                                                 ZRHDSCommandHandlerInputParams& params)
    : ZRHDSRaidcomImplementer(snapInfo, params, ZRHDSCommandHelperRunner::instance(), true) {}

ZRHDSRaidcomImplementer::ZRHDSRaidcomImplementer(ZRSO::SnapInfo*& snapInfo,
                                                 ZRHDSCommandHandlerInputParams& params,
                                                 ZRHDSCommandRunner& runner, bool runInitialize)
    : ZRHDSCommandImplementer(snapInfo, params),
      m_bKeepCmdOutput(false),
      m_nCCICommandTimeout(0),
      m_nRaidcomMaxRetryCount(50),
      m_nRaidcomTimeoutInSecs(30),
      m_sTempDir(),
      m_vCommandDevices(),
      m_pRunner(&runner) {
  setIsInitializedStatus(false);
  // Called directly, not through the interface: the flag tells the outcome.
  if (runInitialize) ZRHDSRaidcomImplementer::initialize();
}

ZRHDSRaidcomImplementer::~ZRHDSRaidcomImplementer() {
  // A logout that failed before it counted down leaves this object's
  // holding; it goes with the object, whatever the array answered.
  if (m_pLoginHolding && m_pLoginHolding->holdsOwn()) {
    int left = 0;
    if (m_pLoginHolding->dropOwn(&left) == 0) {
      logMessage(2, "ZRHDSRaidcomImplementer::~ZRHDSRaidcomImplementer",
                 "The login to the array-[%s] was not given back. This job's holding is removed; "
                 "holders left-[%d].",
                 m_oSnapOptions.baseSerialNum.c_str(), left);
    }
  }
}

// ---------------------------------------------------------------------------
// Command runners

ZRHDSCommandRunner::~ZRHDSCommandRunner() = default;

int ZRHDSCommandHelperRunner::run(ZRSO::SnapInfo* log, const std::string& line, std::string& output,
                                  int& exitCode, std::string& error, int timeoutSecs) {
  if (log == nullptr) {
    error = "No logging object to run the command with.";
    return -1;
  }
  CommandHelper helper(*log);
  return helper.RunCommandWithTimeout(line, output, exitCode, error, timeoutSecs);
}

ZRHDSCommandHelperRunner& ZRHDSCommandHelperRunner::instance() {
  static ZRHDSCommandHelperRunner runner;
  return runner;
}
