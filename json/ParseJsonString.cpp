// Key-value text lookup.
#include "json/ParseJsonString.h"

namespace {

const char kPasswordKey[] = "hostPassword";
const char kPasswordEnd[] = "engineName";
const char kMetadataSeparator[] = "**";

// The first entry of a "**"-separated text whose key is key: the key at the
// start of the text or right after "**", directly followed by its ':'.
std::string::size_type findEntry(const std::string& text, const std::string& key) {
  for (std::string::size_type pos = text.find(key); pos != std::string::npos;
       pos = text.find(key, pos + 1)) {
    bool entryStart = pos == 0 || (pos >= 2 && text.compare(pos - 2, 2, kMetadataSeparator) == 0);
    if (entryStart && pos + key.size() < text.size() && text[pos + key.size()] == ':') return pos;
  }
  return std::string::npos;
}

}  // namespace

int parseJsonString(std::string text, std::string key, std::string& value, std::string separator) {
  std::string::size_type nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  if (text.empty() || key.empty()) return 0;
  if (separator.empty()) separator = ",";

  if (key == kPasswordKey) {
    std::string::size_type p = text.find(kPasswordKey);
    std::string::size_type e = text.find(kPasswordEnd);
    if (p == std::string::npos || e == std::string::npos) return 0;
    // Skip the key and its ':'; stop before the separator in front of
    // "engineName".
    long long start = static_cast<long long>(p) + (sizeof kPasswordKey - 1) + 1;
    long long end = static_cast<long long>(e) - 1;
    if (end < start) return 0;
    value = text.substr(static_cast<std::string::size_type>(start),
                        static_cast<std::string::size_type>(end - start));
    return 1;
  }

  std::string::size_type pos =
      separator == kMetadataSeparator ? findEntry(text, key) : text.find(key);
  if (pos == std::string::npos) return 0;
  std::string::size_type colon = text.find(':', pos);
  if (colon == std::string::npos) return 0;
  std::string::size_type start = colon + 1;
  std::string::size_type end = text.find(separator, start);
  if (end == std::string::npos) end = text.find('}', start);
  if (end == std::string::npos) return 0;
  if (end - start > kParseJsonStringMaxValue) return 0;
  value = text.substr(start, end - start);
  return 1;
}
