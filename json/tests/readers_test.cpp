// Non-asserting readers (getIf, toInt) on received text, and the in-place
// representation: moves, number nodes and kind changes (leaks and stale
// nodes are the sanitizer build's to find).
#include <gtest/gtest.h>

#include <climits>
#include <sstream>
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
  a << *a.values()[7];  // an element of the array itself, while it grows
  for (int i = 0; i < 100; ++i) a.import(*a.values()[i]);
  ASSERT_EQ(201u, a.size());
  EXPECT_EQ(7.0L, a.get<Number>(100));
  EXPECT_EQ(99.0L, a.get<Number>(200));
  Object o;
  o.import("k", Value(a));
  o.import("k", *o.kv_map().at("k")->get<Array>().values()[3]);
  EXPECT_EQ(3.0L, o.get<Number>("k"));
}

}  // namespace

namespace {

TEST(InPlace, MembersInKeyOrderLastDuplicateWins) {
  struct Row {
    const char* text;
    bool ok;
    const char* written;
  };
  const Row rows[] = {
      {"{\"b\":1,\"a\":2,\"b\":3,\"a\":4,\"c\":5}", true, "{\"a\": 4, \"b\": 3, \"c\": 5}"},
      {"{\"b\":1,\"a\":2,\"b\":3, bad", false, "{\"a\": 2, \"b\": 3}"},
      {"{\"z\":1,\"y\":{\"q\":1,\"p\":2},\"x\":[]}", true,
       "{\"x\": [], \"y\": {\"p\": 2, \"q\": 1}, \"z\": 1}"},
      {"{\"k\":1,\"k\":2,\"k\":3}", true, "{\"k\": 3}"},
  };
  for (const Row& row : rows) {
    Object o;
    EXPECT_EQ(row.ok, o.parse(std::string(row.text))) << row.text;
    std::ostringstream written;
    written << o;
    EXPECT_EQ(row.written, written.str()) << row.text;
  }
  Object built;
  built.import("m", Value(Number(1)));
  built.import("a", Value(Number(2)));
  built.import("z", Value(Number(3)));
  built.import("m", Value(Number(4)));
  std::ostringstream written;
  written << built;
  EXPECT_EQ("{\"a\": 2, \"m\": 4, \"z\": 3}", written.str());
  EXPECT_EQ(1u, built.kv_map().count("m"));
  EXPECT_EQ(0u, built.kv_map().count("b"));
  EXPECT_TRUE(built.kv_map().end() == built.kv_map().find("b"));
}

}  // namespace

namespace {

// Iteration hands out pointers to the values, which stay in their
// container: what a member map and an element list of pointers would give.
TEST(InPlace, IterationGivesPointersIntoTheContainer) {
  Object o;
  ASSERT_TRUE(o.parse(std::string("{\"b\": [1, \"x\"], \"a\": {}}")));
  std::vector<std::pair<std::string, const Value*>> members;
  for (const auto& kv : o.kv_map()) members.emplace_back(kv.first, kv.second);
  ASSERT_EQ(2u, members.size());
  EXPECT_EQ("a", members[0].first);
  EXPECT_EQ(o.kv_map().at("a"), members[0].second);
  EXPECT_TRUE(members[0].second->is<Object>());
  auto it = o.kv_map().find("b");
  ASSERT_TRUE(it != o.kv_map().end());
  EXPECT_EQ("b", it->first);
  const Array& list = it->second->get<Array>();
  std::vector<const Value*> elements;
  for (const Value* v : list.values()) elements.push_back(v);
  ASSERT_EQ(2u, elements.size());
  EXPECT_EQ(list.values()[1], elements[1]);
  EXPECT_EQ("x", elements[1]->get<String>());
  EXPECT_EQ(&list.get<String>(1), &elements[1]->get<String>());
}

}  // namespace
