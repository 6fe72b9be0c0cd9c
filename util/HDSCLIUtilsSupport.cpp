#include "util/HDSCLIUtilsSupport.h"

#include "util/HDSCLIUtils.h"

#include <cstring>

#include "host/ZRPlatformInfo.h"

namespace zrhds_support {

std::string hostText(ZRSO::SnapInfo* device, int (ZRSO::SnapInfo::*get)(char*, short*),
                     size_t capacity) {
  if (device == nullptr) return std::string();
  HostBuffer buffer(capacity);
  short length = buffer.shortCapacity();
  if ((device->*get)(buffer.data(), &length) != 0) return std::string();
  return buffer.text();
}

bool parseHex(const std::string& text, unsigned long long& value) {
  if (text.empty() || text.size() > 16) return false;
  unsigned long long v = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return false;
    }
    v = (v << 4) | static_cast<unsigned long long>(d);
  }
  value = v;
  return true;
}

bool hexToDecimalText(const std::string& text, std::string& out) {
  unsigned long long v = 0;
  if (!parseHex(text, v)) return false;
  out = std::to_string(v);
  return true;
}

bool contains(const std::string& text, const char* needle) {
  return text.find(needle) != std::string::npos;
}

int readSettingInt(const char* section, const char* key, int preset) {
  int value = preset;
  ZRPlatformInfo info;
  info.getRegInt(section, key, &value);
  return ZRHDSCLIUtils::boundedSetting(key, value);
}

std::string readSettingString(const char* section, const char* key) {
  std::string value;
  ZRPlatformInfo info;
  info.getString(section, key, &value);
  return value;
}

}  // namespace zrhds_support
