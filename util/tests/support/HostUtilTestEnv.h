#pragma once
// Common ground of the host-utility tests: a private temporary directory for
// every host location (settings, logs), the device tree double, the fake
// clock, and a controllable machine name. Header-only.
#include <string>

#include "host/EvDebug.h"
#include "host/ZRPlatformInfo.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrFakeClock.h"
#include "host/testing/ZrFakeDeviceTree.h"
#include "util/HDSCLIUtilsTestHooks.h"

namespace hostutil_test {

// The machine name the lookup hook answers; an empty text makes it fail.
inline std::string& machineName() {
  static std::string name = "testhost01";
  return name;
}

inline int fakeHostName(char* buffer, size_t length) {
  const std::string& n = machineName();
  if (n.empty() || length == 0) return -1;
  size_t k = n.size() < length - 1 ? n.size() : length - 1;
  n.copy(buffer, k);
  buffer[k] = '\0';
  return 0;
}

class Env {
 public:
  Env() : m_treeGuard(&tree), m_clockGuard(&clock) {
    machineName() = "testhost01";
    m_previousHostName = ZRHDSCLIUtilsTesting::setHostNameFunction(&fakeHostName);
  }
  ~Env() { ZRHDSCLIUtilsTesting::setHostNameFunction(m_previousHostName); }
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  void setText(const char* section, const char* key, const std::string& value) {
    ZRPlatformInfo info;
    info.setRegString(section, key, value.c_str());
  }
  void setInt(const char* section, const char* key, int value) {
    ZRPlatformInfo info;
    info.setRegInt(section, key, value);
  }
  // Everything the host debug log holds so far.
  std::string debugLog() const { return zrReadFile(EvDebug::logFilePath()); }

  ScopedTempDir dir;
  ZrFakeDeviceTree tree;
  ZrFakeClock clock;

 private:
  ZrScopedDeviceTree m_treeGuard;
  ZrScopedClock m_clockGuard;
  ZRHDSCLIUtilsTesting::HostNameFunction m_previousHostName = nullptr;
};

}  // namespace hostutil_test
