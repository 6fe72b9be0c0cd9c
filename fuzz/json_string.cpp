// parseJsonString over text x key x separator. Input layout: byte 0 picks
// the separator ("", ",", "**", "*_ZRSO_*"), byte 1 the key length (0-31),
// then the key, then the text.
//
// Invariants: no crash; a miss leaves the value untouched; a hit hands out
// at most kParseJsonStringMaxValue bytes (the password excepted) taken from
// the text right after a ':' that follows the key, and ended by the
// separator or '}'; with "**" the key is the key of an entry.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/json_invariants.h"
#include "json/ParseJsonString.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const char* const kSeparators[] = {"", ",", "**", "*_ZRSO_*"};
  const std::string separator = kSeparators[data[0] % 4];
  const size_t keyLength = data[1] % 32;
  if (size - 2 < keyLength) return 0;
  const std::string key(reinterpret_cast<const char*>(data) + 2, keyLength);
  const std::string text(reinterpret_cast<const char*>(data) + 2 + keyLength, size - 2 - keyLength);

  const std::string untouched = "\x01untouched";
  std::string value = untouched;
  const int found = parseJsonString(text, key, value, separator);
  FUZZ_CHECK(found == 0 || found == 1);
  if (found == 0) {
    FUZZ_CHECK(value == untouched);
    return 0;
  }
  const std::string visible = text.substr(0, text.find('\0'));
  if (key == "hostPassword") {
    FUZZ_CHECK(visible.find(value) != std::string::npos);
    return 0;
  }
  FUZZ_CHECK(value.size() <= kParseJsonStringMaxValue);
  const std::string sep = separator.empty() ? "," : separator;
  // Some occurrence of ":" + value + (separator or '}') after the key.
  bool explained = false;
  for (size_t k = visible.find(key); k != std::string::npos && !explained;
       k = visible.find(key, k + 1)) {
    if (sep == "**") {
      bool entry = k == 0 || (k >= 2 && visible.compare(k - 2, 2, "**") == 0);
      if (!entry || visible.compare(k + key.size(), 1, ":") != 0) continue;
    }
    size_t colon = visible.find(':', k);
    if (colon == std::string::npos) break;
    size_t start = colon + 1;
    if (visible.compare(start, value.size(), value) != 0) continue;
    size_t end = start + value.size();
    explained = visible.compare(end, sep.size(), sep) == 0 || visible.compare(end, 1, "}") == 0;
  }
  FUZZ_CHECK(explained);
  return 0;
}
