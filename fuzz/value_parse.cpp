// Value::parse on arbitrary bytes: no crash, no leak; the string and the
// stream entry points agree; a value read successfully is written (pretty
// for containers, compact for all) as text that reads again to the same
// text.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz/json_invariants.h"
#include "json/zrjson.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  zrjson::Value parsed;
  const bool ok = parsed.parse(text);

  std::istringstream in(text);
  zrjson::Value viaStream;
  FUZZ_CHECK(zrjson::Value::parse(in, viaStream) == ok);
  FUZZ_CHECK(viaStream.type() == parsed.type());
  FUZZ_CHECK(fuzzjson::compact(viaStream) == fuzzjson::compact(parsed));

  if (!ok) {
    // A failed read keeps the tag of a fresh value.
    FUZZ_CHECK(parsed.type() == zrjson::Value::InvalidType);
    return 0;
  }
  FUZZ_CHECK(!parsed.empty());
  const std::string flat = fuzzjson::compact(parsed);
  zrjson::Value again;
  FUZZ_CHECK(again.parse(flat));
  FUZZ_CHECK(again.type() == parsed.type());
  FUZZ_CHECK(fuzzjson::compact(again) == flat);

  if (parsed.is<zrjson::Object>()) fuzzjson::checkContainer(parsed.get<zrjson::Object>());
  if (parsed.is<zrjson::Array>()) fuzzjson::checkContainer(parsed.get<zrjson::Array>());

  // Parsing again into the same value replaces its content.
  zrjson::Value reused(parsed);
  FUZZ_CHECK(reused.parse(flat));
  FUZZ_CHECK(fuzzjson::compact(reused) == flat);
  return 0;
}
