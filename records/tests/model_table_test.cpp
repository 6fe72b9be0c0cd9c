#include "records/HDSConstants.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct ExpectedRow {
  const char* code;
  const char* name;
  int maxLdev;
};

// The supported models in the order the lookup must walk them.
const ExpectedRow kExpected[] = {
    {"R9G", "VSP 5100H/5500H", 0xFEFF},
    {"R9F", "VSP 5100/5500", 0xFEFF},
    {"R9", "VSP 5000", 0xFEFF},
    {"R8", "VSP G1000", 0xFEFF},
    {"R7", "VSP", 0xFEFF},
    {"M7", "HUS VM", 0x3FFF},
    {"M8S", "VSP G200", 0x7FF},
    {"M8M", "VSP G400/G600", 0xFFF},
    {"M8H", "VSP G800", 0x3FFF},
    {"M850S1", "VSP G350", 0x3FFF},
    {"M850S1F", "VSP F350", 0x3FFF},
    {"M850S2", "VSP G370", 0x7FFF},
    {"M850S2F", "VSP F370", 0x7FFF},
    {"M850M3", "VSP G700", 0xBFFF},
    {"M850M3F", "VSP F700", 0xBFFF},
    {"M850H", "VSP G900", 0xFEFF},
    {"M850HF", "VSP F900", 0xFEFF},
};

TEST(HDSArrayMaxLdevTable, HoldsEveryModelInLookupOrder) {
  ASSERT_EQ(sizeof(kExpected) / sizeof(kExpected[0]), HDSArrayMaxLdevTableSize);
  for (std::size_t i = 0; i < HDSArrayMaxLdevTableSize; ++i) {
    SCOPED_TRACE("row " + std::to_string(i + 1));
    const HDSArrayTypes& row = HDSArrayMaxLdevTable[i];
    EXPECT_EQ(kExpected[i].code, row.modelCode);
    EXPECT_EQ(kExpected[i].name, row.modelName);
    EXPECT_EQ(kExpected[i].maxLdev, row.maxLdevNumber);
  }
}

TEST(HDSArrayMaxLdevTable, HighestIdsEndWholeControlUnits) {
  // Each value is the last id of the last CU (256 ids per CU), never a
  // count and never above 0xFEFF, the last usable id of the largest model.
  std::set<std::string> codes;
  for (const HDSArrayTypes& row : HDSArrayMaxLdevTable) {
    SCOPED_TRACE(row.modelCode);
    EXPECT_EQ(0, (row.maxLdevNumber + 1) % 256);
    EXPECT_LE(row.maxLdevNumber, ZR_HDS_DEFAULT_MAX_LDEV_NUMBER);
    EXPECT_TRUE(codes.insert(row.modelCode).second) << "duplicate code";
  }
  EXPECT_EQ(255, (ZR_HDS_DEFAULT_MAX_LDEV_NUMBER + 1) / 256);
  EXPECT_EQ(64, (ZR_HDS_FALLBACK_MAX_LDEV_NUMBER + 1) / 256);
}

TEST(HDSArrayMaxLdevTable, LookupByCodeFindsItsOwnRow) {
  for (std::size_t i = 0; i < HDSArrayMaxLdevTableSize; ++i) {
    const ExpectedRow& e = kExpected[i];
    SCOPED_TRACE(e.code);
    const HDSArrayTypes* row = findHDSArrayType(e.code);
    ASSERT_NE(nullptr, row);
    EXPECT_EQ(&HDSArrayMaxLdevTable[i], row);
    int maxLdev = -7;
    EXPECT_TRUE(getHDSArrayMaxLdevNumber(e.code, maxLdev));
    EXPECT_EQ(e.maxLdev, maxLdev);
  }
}

TEST(HDSArrayMaxLdevTable, SpotValues) {
  int v = 0;
  ASSERT_TRUE(getHDSArrayMaxLdevNumber("M8S", v));
  EXPECT_EQ(2047, v);
  ASSERT_TRUE(getHDSArrayMaxLdevNumber("M850M3F", v));
  EXPECT_EQ(49151, v);
  // "R9" is its own row, not a prefix match of "R9G"/"R9F".
  ASSERT_NE(nullptr, findHDSArrayType("R9"));
  EXPECT_EQ("VSP 5000", findHDSArrayType("R9")->modelName);
  EXPECT_EQ(65279, findHDSArrayType("R9")->maxLdevNumber);
}

TEST(HDSArrayMaxLdevTable, UnknownCodesHaveNoRowAndLeaveResultAlone) {
  const char* const unknown[] = {
      "R800",  // plausible but unsupported
      "",      // empty key
      "r9",    // case matters
      "R9 ",   // no trimming
      " R9",
      "M850",      // prefix of several codes
      "M850HFX",   // extension of a code
      "VSP 5000",  // a model name is not a code
  };
  for (const char* code : unknown) {
    SCOPED_TRACE(std::string("[") + code + "]");
    EXPECT_EQ(nullptr, findHDSArrayType(code));
    int maxLdev = 12345;
    EXPECT_FALSE(getHDSArrayMaxLdevNumber(code, maxLdev));
    EXPECT_EQ(12345, maxLdev);
  }
  // A key with an embedded NUL is compared as a whole string.
  EXPECT_EQ(nullptr, findHDSArrayType(std::string("R9\0G", 4)));
}

}  // namespace
