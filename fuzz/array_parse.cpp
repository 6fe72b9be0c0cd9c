// Array::parse on arbitrary bytes: no crash, no leak; the string and the
// stream entry points agree; a successful parse writes text that parses
// again to the same text.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz/json_invariants.h"
#include "json/zrjson.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  zrjson::Array parsed;
  const bool ok = parsed.parse(text);

  std::istringstream in(text);
  zrjson::Array viaStream;
  FUZZ_CHECK(zrjson::Array::parse(in, viaStream) == ok);
  FUZZ_CHECK(viaStream.json() == parsed.json());

  if (!text.empty() && text[0] == '[') {
    FUZZ_CHECK(zrjson::validate(text) == ok);
    FUZZ_CHECK(zrjson::reformat(text) == (ok ? parsed.json() : std::string()));
  }

  if (ok) fuzzjson::checkContainer(parsed);
  return 0;
}
