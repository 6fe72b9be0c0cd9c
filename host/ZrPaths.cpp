#include "host/ZrPaths.h"

#include <cstdlib>

namespace {

std::string fromEnv(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  if (v != nullptr && v[0] != '\0') return v;
  return fallback;
}

std::string withSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

namespace ZrPaths {

std::string settingsFile() { return fromEnv("ZRHOST_SETTINGS_FILE", "/etc/zrhost/settings.ini"); }
std::string lockDir() { return fromEnv("ZRHOST_LOCK_DIR", "/var/lock/zrhost"); }
std::string logDir() { return fromEnv("ZRHOST_LOG_DIR", "/var/log/zrhost"); }
std::string tempDir() { return fromEnv("ZRHOST_TEMP_DIR", "/tmp"); }
std::string horcmEtcDir() { return withSlash(fromEnv("ZRHOST_HORCM_ETC_DIR", "/etc/")); }
std::string cciDir() { return withSlash(fromEnv("ZRHOST_CCI_DIR", "/HORCM/usr/bin/")); }

}  // namespace ZrPaths
