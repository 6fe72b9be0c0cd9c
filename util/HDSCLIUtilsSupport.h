#pragma once
// Small helpers shared by the host-utility units (inquiry, array properties,
// metadata, map preparation, discovery, GAD). Internal to util/.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "host/ZRSOSnapInfo.h"

// Logs through a device object that may be null (then nothing is logged).
#define ZRHDS_DEVLOG(device, level, function, ...)                                          \
  do {                                                                                      \
    ZRSO::SnapInfo* zrhdsLogDevice_ = (device);                                             \
    if (zrhdsLogDevice_ != nullptr) zrhdsLogDevice_->log((level), (function), __VA_ARGS__); \
  } while (0)

namespace zrhds_support {

// A zero-filled text buffer for the host: capacity() bytes are granted to the
// host and one more byte always stays 0, so the text is terminated even when
// the host fills everything it was granted.
class HostBuffer {
 public:
  explicit HostBuffer(size_t capacity) : m_bytes(capacity + 1, '\0') {}
  char* data() { return m_bytes.data(); }
  size_t capacity() const { return m_bytes.size() - 1; }
  short shortCapacity() const {
    return static_cast<short>(capacity() > 32767 ? 32767 : capacity());
  }
  int intCapacity() const { return static_cast<int>(capacity()); }
  // The text up to the first 0.
  std::string text() const { return std::string(m_bytes.data()); }
  bool empty() const { return m_bytes[0] == '\0'; }
  void clear() { std::fill(m_bytes.begin(), m_bytes.end(), '\0'); }

 private:
  std::vector<char> m_bytes;
};

// A text that the host fills in through one of its (buffer, length) getters
// (source device path, snap name), read into a buffer of capacity bytes;
// "" when the device is null or the getter fails.
std::string hostText(ZRSO::SnapInfo* device, int (ZRSO::SnapInfo::*get)(char*, short*),
                     size_t capacity);

// Reads text (non-empty, hexadecimal digits only, at most 16 of them) and
// writes its value in decimal into out. False, out untouched, otherwise.
bool hexToDecimalText(const std::string& text, std::string& out);

// Value of a hexadecimal text as above; false when it is not one.
bool parseHex(const std::string& text, unsigned long long& value);

bool contains(const std::string& text, const char* needle);

// Settings store reads: the preset stands when the key is missing.
int readSettingInt(const char* section, const char* key, int preset);
std::string readSettingString(const char* section, const char* key);

}  // namespace zrhds_support
