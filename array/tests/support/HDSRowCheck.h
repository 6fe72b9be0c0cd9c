// expectEachRow: the common shape of the array tests' row comparisons. The
// sizes must agree (otherwise nothing more is compared); each row is then
// checked by `check(got, want)` under a trace naming the context and the
// row's index.
#ifndef ZR_ARRAY_TESTS_SUPPORT_HDSROWCHECK_H
#define ZR_ARRAY_TESTS_SUPPORT_HDSROWCHECK_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hdstest {

template <class Got, class Want, class Check>
void expectEachRow(const std::vector<Got>& got, const std::vector<Want>& want,
                   const std::string& context, Check check) {
  ASSERT_EQ(got.size(), want.size()) << context;
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(context + " row " + std::to_string(i));
    check(got[i], want[i]);
  }
}

}  // namespace hdstest

#endif  // ZR_ARRAY_TESTS_SUPPORT_HDSROWCHECK_H
