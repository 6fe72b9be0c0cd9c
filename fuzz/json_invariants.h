// Checks shared by the JSON fuzz targets. A broken invariant aborts, which
// libFuzzer reports as a crash with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "json/tests/support/ZrJsonCompact.h"
#include "json/zrjson.h"

#define FUZZ_CHECK(cond)                                                                 \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace fuzzjson {

using zrjson_test::compact;

// A container read successfully: its pretty text reads again to the same
// text, its compact text likewise, and every copy, merge and reset path
// leaves consistent, independently owned trees (the sanitizers watch the
// memory).
template <typename Container>
void checkContainer(const Container& parsed) {
  const std::string written = parsed.json();
  Container again;
  FUZZ_CHECK(again.parse(written));
  FUZZ_CHECK(again.json() == written);

  const std::string flat = compact(parsed);
  Container fromFlat;
  FUZZ_CHECK(fromFlat.parse(flat));
  FUZZ_CHECK(compact(fromFlat) == flat);

  Container copy(parsed);
  copy.import(parsed);
  Container assigned;
  assigned = copy;
  Container& same = assigned;
  assigned = same;  // self-assignment
  zrjson::Value wrapped(parsed);
  zrjson::Value rewrapped;
  rewrapped = wrapped;
  wrapped.reset();
  FUZZ_CHECK(rewrapped.template get<Container>().json() == written);
  copy.reset();
  FUZZ_CHECK(again.json() == written);

  for (unsigned int format = zrjson::JSONx; format <= zrjson::TaggedXML; ++format) {
    FUZZ_CHECK(!parsed.xml(format).empty());
  }
}

}  // namespace fuzzjson
