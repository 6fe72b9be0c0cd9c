// Error recording, argument checks and status folding towards the host's
// device objects, and the cleaning of fixed-width inquiry fields.
#include <cstring>

#include "host/EvDebug.h"
#include "util/HDSCLIUtils.h"

namespace ZRHDSCLIUtils {

void SetError(ZRSO::SnapInfo* device, int code, const char* text) {
  if (device == nullptr || text == nullptr) return;
  device->message(2, text);
  device->setError(code, text);
}

int validateInputParams(ZRSO::SnapInfo** devices, short count, ZRSO::ZROSUtil* util) {
  static const char kFn[] = "ZRHDSCLIUtils::validateInputParams";
  // The host's file log: no device object can be trusted yet.
  EvDebug debug;
  if (count < 1) {
    debug.DebugLvl(kFn, -1, "Invalid Device Count received [%d]", static_cast<int>(count));
    return 0;
  }
  if (devices == nullptr || devices[0] == nullptr) {
    debug.DebugLvl(kFn, -1, "Snap device list is NULL.");
    return 0;
  }
  if (util == nullptr) {
    debug.DebugLvl(kFn, -1, "Snap Util object is NULL.");
    return 0;
  }
  for (short i = 0; i < count; ++i) {
    if (devices[i] == nullptr) {
      debug.DebugLvl(kFn, -1, "Invalid Snap Info object received.");
      return 0;
    }
  }
  return 1;
}

int getReturnStatus(ZRSO::SnapInfo** devices, short count, int wanted) {
  int matches = 0;
  int total = count > 0 ? count : 0;
  for (int i = 0; devices != nullptr && i < total; ++i) {
    if (devices[i] != nullptr && devices[i]->getStatus() == wanted) ++matches;
  }
  if (matches == total) return 0;
  if (matches == 0) return 1;
  return 2;
}

std::string trimSpaces(unsigned char* field, int length) {
  if (field == nullptr || length <= 0 || field[0] == 0) return std::string();
  for (int i = 0; i < length; ++i) {
    if (field[i] == '*') field[i] = ' ';
  }
  // A 0 byte ends the text: zero padding must not leak into the result.
  int end = 0;
  while (end < length && field[end] != 0) ++end;
  while (end > 0) {
    unsigned char c = field[end - 1];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r') {
      --end;
    } else {
      break;
    }
  }
  return std::string(reinterpret_cast<const char*>(field), static_cast<size_t>(end));
}

}  // namespace ZRHDSCLIUtils
