// Value model: kinds, ownership (copy, assign, merge, reset; checked for
// leaks and stale pointers by the sanitizer build) and the fatal checks of
// typed access.
#include <gtest/gtest.h>

#include <string>

#include "json/tests/support/ZrJsonCompact.h"
#include "json/zrjson.h"

namespace {

using zrjson::Array;
using zrjson::Boolean;
using zrjson::Null;
using zrjson::Number;
using zrjson::Object;
using zrjson::String;
using zrjson::Value;

using zrjson_test::compact;

template <typename T>
bool isOnly(const Value& v) {
  return v.is<T>() && v.is<Number>() + v.is<String>() + v.is<Boolean>() + v.is<Null>() +
                              v.is<Array>() + v.is<Object>() ==
                          1;
}

TEST(ValueKinds, DefaultIsInvalidAndEmpty) {
  Value v;
  EXPECT_EQ(Value::InvalidType, v.type());
  EXPECT_TRUE(v.empty());
  EXPECT_FALSE(v.is<Number>() || v.is<String>() || v.is<Boolean>() || v.is<Null>() ||
               v.is<Array>() || v.is<Object>());
}

TEST(ValueKinds, EachImportSetsOneKind) {
  Value v;
  v.import(Number(2.5));
  EXPECT_TRUE(isOnly<Number>(v));
  EXPECT_EQ(2.5L, v.get<Number>());
  v.import(Boolean(true));
  EXPECT_TRUE(isOnly<Boolean>(v));
  EXPECT_TRUE(v.get<Boolean>());
  v.import(Null());
  EXPECT_TRUE(isOnly<Null>(v));
  EXPECT_FALSE(v.empty());
  v.import(String("s"));
  EXPECT_TRUE(isOnly<String>(v));
  v.import(Array());
  EXPECT_TRUE(isOnly<Array>(v));
  v.import(Object());
  EXPECT_TRUE(isOnly<Object>(v));
  v.import("literal");
  EXPECT_TRUE(isOnly<String>(v));  // a string literal is a string, not a boolean
  EXPECT_EQ("literal", v.get<String>());
}

TEST(ValueKinds, EmptyStringIsNotEmptyButResetIs) {
  Value v(String(""));
  EXPECT_FALSE(v.empty());
  v.reset();
  EXPECT_TRUE(v.empty());
  EXPECT_TRUE(v.is<String>());

  Value n(Number(4));
  n.reset();  // numbers keep their content
  EXPECT_FALSE(n.empty());
  EXPECT_EQ(4.0L, n.get<Number>());

  Value a{Array()};
  EXPECT_FALSE(a.empty());
  a.reset();
  EXPECT_TRUE(a.empty());
  EXPECT_TRUE(a.is<Array>());
}

TEST(ValueCopy, InvalidAndSelf) {
  Value invalid;
  Value copy(invalid);
  EXPECT_EQ(Value::InvalidType, copy.type());

  Value filled(String("x"));
  filled = invalid;  // assignment copies the invalid state
  EXPECT_EQ(Value::InvalidType, filled.type());

  Value self(String("keep"));
  self.import(self);
  EXPECT_EQ("keep", self.get<String>());
  Value& alias = self;
  self = alias;
  EXPECT_EQ("keep", self.get<String>());
  // Importing its own payload.
  self.import(self.get<String>());
  EXPECT_EQ("keep", self.get<String>());
}

TEST(ValueCopy, HollowCopiesAsHollow) {
  Value hollow(Object("k", Value(Number(1))));
  hollow.reset();
  Value copy(hollow);
  EXPECT_TRUE(copy.is<Object>());
  EXPECT_TRUE(copy.empty());
}

TEST(ValueCopy, DeepAndIndependent) {
  Object inner("k", Value("v"));
  Value original{Array(Value(inner))};
  Value copy(original);
  copy.get<Array>().get<Object>(0).import("k", Value("changed"));
  copy.get<Array>() << Value(Number(1));
  EXPECT_EQ("[{\"k\": \"v\"}]", compact(original));
  EXPECT_EQ("[{\"k\": \"changed\"}, 1]", compact(copy));

  Value assigned;
  assigned = original;
  original.reset();  // the copy must not share anything with it
  EXPECT_EQ("[{\"k\": \"v\"}]", compact(assigned));
}

TEST(ArrayOps, AppendArrayAppendsElements) {
  Array a(Value(Number(1)));
  Array b;
  b << Value(Number(2)) << Value(Number(3));
  Array flat(a);
  flat << b;
  EXPECT_EQ("[1, 2, 3]", compact(flat));
  Array nested(a);
  nested << Value(b);
  EXPECT_EQ("[1, [2, 3]]", compact(nested));
  EXPECT_EQ(2u, nested.size());
}

TEST(ArrayOps, ImportIntoItselfDoubles) {
  Array a;
  a << Value(Number(1)) << Value(Number(2));
  a.import(a);
  EXPECT_EQ("[1, 2, 1, 2]", compact(a));
  a << a;
  EXPECT_EQ(8u, a.size());
}

TEST(ArrayOps, AssignAndReset) {
  Array a;
  a << Value("x") << Value("y");
  Array b;
  b = a;
  a.reset();
  EXPECT_TRUE(a.empty());
  EXPECT_EQ("[\"x\", \"y\"]", compact(b));
  Array& sameB = b;
  b = sameB;
  EXPECT_EQ(2u, b.size());

  // Assigning one of its own elements leaves exactly that element.
  Array c;
  c << Value("keep") << Value("drop");
  c = *c.values()[0];
  EXPECT_EQ("[\"keep\"]", compact(c));
  c = Value(Number(5));
  EXPECT_EQ("[5]", compact(c));
}

TEST(ArrayOps, TypedAccess) {
  Array a;
  a << Value("s") << Value(Object("k", Value(Number(1))));
  EXPECT_EQ("s", a.get<String>(0));
  EXPECT_EQ(1.0L, a.get<Object>(1).get<Number>("k"));
  const Array& ca = a;
  EXPECT_EQ("s", ca.get<String>(0));
  a.get<String>(0) = "changed";
  EXPECT_EQ("changed", a.get<String>(0));
}

TEST(ObjectOps, MergeSourceWins) {
  Object target;
  target.import("a", Value(Number(1)));
  target.import("b", Value(Number(2)));
  Object source;
  source.import("b", Value(Number(3)));
  source.import("c", Value(Number(4)));
  target.import(source);
  EXPECT_EQ("{\"a\": 1, \"b\": 3, \"c\": 4}", compact(target));
  EXPECT_EQ("{\"b\": 3, \"c\": 4}", compact(source));
  target.import(target);
  EXPECT_EQ("{\"a\": 1, \"b\": 3, \"c\": 4}", compact(target));
}

TEST(ObjectOps, ReplaceMemberWithItsOwnValue) {
  Object o("a", Value(Array(Value("x"))));
  o.import("a", *o.kv_map().at("a"));
  EXPECT_EQ("{\"a\": [\"x\"]}", compact(o));
  o.import("b", Value(o));  // the object itself, copied first
  EXPECT_EQ("{\"a\": [\"x\"], \"b\": {\"a\": [\"x\"]}}", compact(o));
}

TEST(ObjectOps, ChainAlternatesKeysAndValues) {
  Object o;
  o << Value("k") << Value(Number(5));
  EXPECT_EQ(5.0L, o.get<Number>("k"));
  o << Value("k") << Value("replaced") << Value("n") << Value(Number(1));
  EXPECT_EQ("{\"k\": \"replaced\", \"n\": 1}", compact(o));
  // No key pending after a completed pair: the next string is a key again.
  o << Value("x");
  EXPECT_FALSE(o.has<String>("x"));
  o << Value("y");
  EXPECT_EQ("y", o.get<String>("x"));
}

TEST(ObjectOps, ObjectOperandWithoutPendingKeyUsesEmptyKey) {
  Object o;
  o << Object("inner", Value(Number(1)));
  ASSERT_TRUE(o.kv_map().count(""));
  EXPECT_EQ("{\"\": {\"inner\": 1}}", compact(o));
  o << Value("named") << Object();
  EXPECT_EQ("{}", compact(*o.kv_map().at("named")));
}

TEST(ObjectOps, HasChecksKindAndPresence) {
  Object o;
  o.import("s", Value("text"));
  o.import("n", Value(Number(1)));
  o.import("a", Value(Array()));
  EXPECT_FALSE(o.has<Number>("s"));
  EXPECT_FALSE(o.has<Number>("absent"));
  EXPECT_TRUE(o.has<String>("s"));
  EXPECT_TRUE(o.has<Number>("n"));
  EXPECT_TRUE(o.has<Array>("a"));
  EXPECT_FALSE(o.has<Array>("n"));
  EXPECT_FALSE(o.has<Object>("a"));
}

TEST(ObjectOps, AssignClearsPendingKeyAlsoOnSelf) {
  Object o;
  o.import("a", Value(Number(1)));
  o << Value("pending");
  Object& sameO = o;
  o = sameO;
  o << Value("key");  // a key again, not the value of "pending"
  o << Value(Number(2));
  EXPECT_FALSE(o.kv_map().count("pending"));
  EXPECT_EQ(2.0L, o.get<Number>("key"));
  EXPECT_EQ(1.0L, o.get<Number>("a"));

  Object other;
  other << Value("p");
  other = o;
  other << Value("q") << Value(Number(3));
  EXPECT_EQ(3.0L, other.get<Number>("q"));
  EXPECT_FALSE(other.kv_map().count("p"));
}

TEST(ObjectOps, ResetKeepsPendingKey) {
  Object o("a", Value(Number(1)));
  o << Value("pending");
  o.reset();
  EXPECT_TRUE(o.empty());
  o << Value(Number(7));
  EXPECT_EQ(7.0L, o.get<Number>("pending"));
}

TEST(ObjectOps, KeysInByteOrder) {
  Object o;
  o.import("b", Value(Number(1)));
  o.import("a", Value(Number(2)));
  o.import("B", Value(Number(3)));
  o.import("\xE9", Value(Number(4)));  // above every ASCII key
  std::string order;
  for (const auto& member : o.kv_map()) order += member.first + ",";
  EXPECT_EQ("B,a,b,\xE9,", order);
}

TEST(ObjectOps, CopyIsDeepAndHasNoPendingKey) {
  Object o("list", Value(Array(Value("x"))));
  o << Value("pending");
  Object copy(o);
  copy << Value("k") << Value(Number(1));  // "k" is a key: nothing pending in the copy
  EXPECT_EQ(1.0L, copy.get<Number>("k"));
  copy.get<Array>("list") << Value("y");
  EXPECT_EQ(1u, o.get<Array>("list").size());
  EXPECT_EQ(2u, copy.get<Array>("list").size());
}

// Typed access of the wrong kind is fatal, with one line naming the check.
using ValueDeathTest = ::testing::Test;

TEST_F(ValueDeathTest, WrongKind) {
  Value n(Number(1));
  EXPECT_DEATH(n.get<String>(),
               "\\[ZRJSON\\] expression 'is<String>\\(\\)' failed at .*zrjson\\.h:[0-9]+ -> ");
  EXPECT_DEATH(n.get<Array>(), "expression 'is<Array>\\(\\)' failed");
  EXPECT_DEATH(n.get<Object>(), "expression 'is<Object>\\(\\)' failed");
  EXPECT_DEATH(n.get<Boolean>(), "expression 'is<Boolean>\\(\\)' failed");
  Value s(String("x"));
  EXPECT_DEATH(s.get<Number>(), "expression 'is<Number>\\(\\)' failed");
  Value invalid;
  EXPECT_DEATH(invalid.get<Number>(), "expression 'is<Number>\\(\\)' failed");
}

TEST_F(ValueDeathTest, HollowValue) {
  Value s(String("x"));
  s.reset();
  EXPECT_DEATH(s.get<String>(), "expression '!empty\\(\\)' failed");
}

TEST_F(ValueDeathTest, MissingKeyAndIndex) {
  Object o("n", Value(Number(1)));
  EXPECT_DEATH(o.get<Number>("absent"), "expression 'has<T>\\(key\\)' failed");
  EXPECT_DEATH(o.get<String>("n"), "expression 'has<T>\\(key\\)' failed");
  Array a(Value("x"));
  EXPECT_DEATH(a.get<String>(1), "expression 'i < size\\(\\)' failed");
  EXPECT_DEATH(a.get<Object>(0), "expression 'is<Object>\\(\\)' failed");
}

TEST_F(ValueDeathTest, ChainNeedsAStringKey) {
  Object o;
  EXPECT_DEATH(o << Value(Number(1)), "expression 'is<String>\\(\\)' failed");
}

TEST_F(ValueDeathTest, AssertionRoutine) {
  EXPECT_DEATH(zrjson::assertion("file.cpp", 12, "x == y", false),
               "\\[ZRJSON\\] expression 'x == y' failed at file.cpp:12 -> .*Assertion");
  zrjson::assertion("file.cpp", 12, "true", true);  // passes silently
}

}  // namespace
