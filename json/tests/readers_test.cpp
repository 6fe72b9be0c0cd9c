// Non-asserting readers (getIf, toInt) on received text, and the in-place
// representation: moves, number nodes and kind changes (leaks and stale
// nodes are the sanitizer build's to find).
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "json/zrjson.h"

namespace {

using zrjson::Array;
using zrjson::Boolean;
using zrjson::Number;
using zrjson::Object;
using zrjson::String;
using zrjson::Value;

TEST(GetIf, ObjectMembersByKindAndPresence) {
  Object o;
  ASSERT_TRUE(o.parse(std::string(
      "{\"n\": 7, \"s\": 'x', \"b\": true, \"z\": null, \"a\": [1], \"o\": {\"k\": 1}}")));
  ASSERT_NE(nullptr, o.getIf<Number>("n"));
  EXPECT_EQ(7.0L, *o.getIf<Number>("n"));
  ASSERT_NE(nullptr, o.getIf<String>("s"));
  EXPECT_EQ("x", *o.getIf<String>("s"));
  ASSERT_NE(nullptr, o.getIf<Boolean>("b"));
  EXPECT_TRUE(*o.getIf<Boolean>("b"));
  ASSERT_NE(nullptr, o.getIf<Array>("a"));
  EXPECT_EQ(1u, o.getIf<Array>("a")->size());
  ASSERT_NE(nullptr, o.getIf<Object>("o"));
  EXPECT_NE(nullptr, o.getIf<Object>("o")->getIf<Number>("k"));

  // Every other kind, and absent keys, give null: never an abort.
  EXPECT_EQ(nullptr, o.getIf<String>("n"));
  EXPECT_EQ(nullptr, o.getIf<Number>("s"));
  EXPECT_EQ(nullptr, o.getIf<Number>("z"));
  EXPECT_EQ(nullptr, o.getIf<Array>("o"));
  EXPECT_EQ(nullptr, o.getIf<Object>("a"));
  EXPECT_EQ(nullptr, o.getIf<Number>("missing"));
}

TEST(GetIf, ArrayElementsAndIndexPastTheEnd) {
  Array a;
  ASSERT_TRUE(a.parse(std::string("[\"s\", 2, , {}]")));
  ASSERT_EQ(4u, a.size());
  EXPECT_EQ("s", *a.getIf<String>(0));
  EXPECT_EQ(nullptr, a.getIf<String>(1));
  EXPECT_EQ(2.0L, *a.getIf<Number>(1));
  EXPECT_EQ(nullptr, a.getIf<Number>(2));  // the empty value is null
  EXPECT_NE(nullptr, a.getIf<Object>(3));
  EXPECT_EQ(nullptr, a.getIf<String>(4));
  EXPECT_EQ(nullptr, a.getIf<String>(static_cast<std::size_t>(-1)));
}

TEST(GetIf, HollowAndInvalidValuesGiveNull) {
  Value s(String("x"));
  s.reset();
  EXPECT_TRUE(s.is<String>());
  EXPECT_EQ(nullptr, s.getIf<String>());
  Value invalid;
  EXPECT_EQ(nullptr, invalid.getIf<Number>());
  EXPECT_EQ(nullptr, invalid.getIf<Object>());
}

TEST(ToInt, TruncatesWithinRangeAndRefusesOutside) {
  struct Row {
    Number n;
    bool ok;
    int expected;
  };
  const Row rows[] = {
      {3.9L, true, 3},
      {-3.9L, true, -3},
      {0.5L, true, 0},
      {2147483647.0L, true, INT_MAX},
      {2147483647.99L, true, INT_MAX},
      {2147483648.0L, false, 0},
      {-2147483648.0L, true, INT_MIN},
      {-2147483648.99L, true, INT_MIN},
      {-2147483649.0L, false, 0},
      {1e300L, false, 0},
      {-1e4000L, false, 0},
  };
  for (const Row& row : rows) {
    int out = 12345;
    EXPECT_EQ(row.ok, zrjson::toInt(row.n, out)) << static_cast<double>(row.n);
    EXPECT_EQ(row.ok ? row.expected : 12345, out) << static_cast<double>(row.n);
  }
  int out = 1;
  EXPECT_FALSE(zrjson::toInt(__builtin_nanl(""), out));
  EXPECT_EQ(1, out);
}

TEST(InPlace, ValuesAreSmallAndMovesLeaveInvalid) {
  EXPECT_EQ(16u, sizeof(Value));
  Value a(String("payload"));
  Value b(std::move(a));
  EXPECT_TRUE(a.empty());
  EXPECT_FALSE(a.is<String>());
  EXPECT_EQ("payload", b.get<String>());
  Value c(Number(4));
  c = std::move(b);
  EXPECT_EQ("payload", c.get<String>());
  Value& same = c;
  c = std::move(same);  // self-move keeps the content
  EXPECT_EQ("payload", c.get<String>());
}

TEST(InPlace, NumberNodeFollowsKindChanges) {
  Value v(Number(1.5L));
  v.reset();  // numbers are untouched by reset
  EXPECT_EQ(1.5L, v.get<Number>());
  v.import(v.get<Number>());  // from its own node
  EXPECT_EQ(1.5L, v.get<Number>());
  v.import(true);
  EXPECT_TRUE(v.get<Boolean>());
  v.import(Number(-2));
  EXPECT_EQ(-2.0L, v.get<Number>());
  ASSERT_TRUE(v.parse(std::string("\"now a string\"")));
  EXPECT_EQ("now a string", v.get<String>());
  ASSERT_TRUE(v.parse(std::string("8")));
  EXPECT_EQ(8.0L, v.get<Number>());
  ASSERT_TRUE(v.parse(std::string("9")));
  EXPECT_EQ(9.0L, v.get<Number>());
}

TEST(InPlace, ElementsSurviveGrowthAndSelfAppend) {
  Array a;
  for (int i = 0; i < 100; ++i) a << Value(Number(i));
  a << a.values()[7];  // an element of the array itself, while it grows
  for (int i = 0; i < 100; ++i) a.import(a.values()[i]);
  ASSERT_EQ(201u, a.size());
  EXPECT_EQ(7.0L, a.get<Number>(100));
  EXPECT_EQ(99.0L, a.get<Number>(200));
  Object o;
  o.import("k", Value(a));
  o.import("k", o.kv_map().at("k").get<Array>().values()[3]);
  EXPECT_EQ(3.0L, o.get<Number>("k"));
}

}  // namespace
