#include "host/ZrPaths.h"

#include <cstdio>
#include <cstdlib>
#include <functional>

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
std::string intentDir() { return fromEnv("ZRHOST_INTENT_DIR", "/var/lib/zrhost/intent"); }

std::string safeFileName(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  if (out.size() > 180) {
    char hash[32];
    std::snprintf(hash, sizeof(hash), "#%016zx", std::hash<std::string>()(name));
    out = out.substr(0, 160) + hash;
  }
  return out;
}

}  // namespace ZrPaths
