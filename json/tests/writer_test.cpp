// Writers: the exact bytes of the pretty wire form and of the compact form.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
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

Value boolean(bool b) {
  Value v;
  v.import(Boolean(b));
  return v;
}

// The pretty form of one number, as a member of an object.
std::string written(Number n) {
  Object o("n", Value(n));
  std::string text = o.json();
  const std::string head = "{\n\t\"n\": ";
  const std::string tail = " \n} \n";
  EXPECT_EQ(0u, text.find(head));
  EXPECT_EQ(text.size() - tail.size(), text.rfind(tail));
  return text.substr(head.size(), text.size() - head.size() - tail.size());
}

TEST(PrettyForm, BasicRequest) {
  Object request;
  request << Value("controlHostId") << Value(Number(7));
  EXPECT_EQ("{\n\t\"controlHostId\": 7 \n} \n", request.json());
  EXPECT_EQ(request.json(), request.write(0));
}

TEST(PrettyForm, EmptyContainers) {
  EXPECT_EQ("{\n} \n", Object().json());
  EXPECT_EQ("[\n] \n", Array().json());
}

TEST(PrettyForm, ArrayOfNumbersAtDepthZero) {
  Array a;
  a << Value(Number(1)) << Value(Number(2));
  EXPECT_EQ("[\n\t1,\n\t2 \n] \n", a.json());
}

TEST(PrettyForm, NestedEmptyArrayMember) {
  Object o;
  o.import("a", Value(Array()));
  o.import("b", Value(Number(1)));
  EXPECT_EQ("{\n\t\"a\": [\n\t],\n\t\"b\": 1 \n} \n", o.json());
  Object last;
  last.import("z", Value(Array()));
  EXPECT_EQ("{\n\t\"z\": [\n\t] \n} \n", last.json());
}

TEST(PrettyForm, EmptyAndFilledObjectMembers) {
  Object o;
  o.import("b", Value(Object("c", Value(Number(1)))));
  o.import("a", Value(Object()));
  EXPECT_EQ("{\n\t\"a\": {\n\t},\n\t\"b\": {\n\t\t\"c\": 1 \n\t} \n} \n", o.json());
  Array a;
  a << Value(Object()) << Value(Array());
  EXPECT_EQ("[\n\t{\n\t},\n\t[\n\t] \n] \n", a.json());
}

TEST(PrettyForm, MapUnmapResponse) {
  Object entry;
  entry.import("MSNumVSM", Value("0x1F2A"));
  entry.import("MSName", Value("SP_1234"));
  entry.import("MSNum", Value("7978"));
  Array list;
  list << Value(entry);
  Object response;
  response.import("opResp", Value(Number(0)));
  response.import("MapSnapInfoList", Value(list));
  EXPECT_EQ(
      "{\n"
      "\t\"MapSnapInfoList\": [\n"
      "\t\t{\n"
      "\t\t\t\"MSName\": \"SP_1234\",\n"
      "\t\t\t\"MSNum\": \"7978\",\n"
      "\t\t\t\"MSNumVSM\": \"0x1F2A\" \n"
      "\t\t} \n"
      "\t],\n"
      "\t\"opResp\": 0 \n"
      "} \n",
      response.json());
}

TEST(PrettyForm, MapUnmapRequest) {
  Array local;
  local << Value("10:00:00:90:fa:12:34:56") << Value("iqn.1994-05.com.redhat:host1");
  Object request;
  request.import("controlHostId", Value(Number(3)));
  request.import("HbaLocal", Value(local));
  request.import("HbaESX", Value(Array()));
  EXPECT_EQ(
      "{\n"
      "\t\"HbaESX\": [\n"
      "\t],\n"
      "\t\"HbaLocal\": [\n"
      "\t\t\"10:00:00:90:fa:12:34:56\",\n"
      "\t\t\"iqn.1994-05.com.redhat:host1\" \n"
      "\t],\n"
      "\t\"controlHostId\": 3 \n"
      "} \n",
      request.json());
}

TEST(PrettyForm, ScalarsAndNesting) {
  Object inner;
  inner.import("t", boolean(true));
  Value nothing;
  nothing.import(Null());
  Array a;
  a << Value(inner) << nothing << Value() << boolean(false) << Value(Array(Value(Number(-3))));
  EXPECT_EQ(
      "[\n"
      "\t{\n"
      "\t\t\"t\": true \n"
      "\t},\n"
      "\tnull,\n"
      "\tnull,\n"  // an invalid value is written as null
      "\tfalse,\n"
      "\t[\n"
      "\t\t-3 \n"
      "\t] \n"
      "] \n",
      a.json());
}

TEST(PrettyForm, EmptyKeyIsWrittenQuotedAndReadsBack) {
  Object o;
  o.import("", Value(Number(1)));
  EXPECT_EQ("{\n\t\"\": 1 \n} \n", o.json());
  Object back;
  ASSERT_TRUE(back.parse(o.json()));
  EXPECT_EQ(1.0L, back.get<Number>(""));
}

TEST(PrettyForm, HollowValuesAreWrittenAsNull) {
  Value hollow(String("x"));
  hollow.reset();
  Array a;
  a << hollow;
  EXPECT_EQ("[\n\tnull \n] \n", a.json());
  EXPECT_EQ("[]", compact(a));  // the compact form writes nothing for it
}

TEST(Numbers, GoldenTexts) {
  struct NumberRow {
    Number n;
    const char* text;
  };
  const NumberRow rows[] = {
      {0, "0"},
      {5, "5"},
      {-3, "-3"},
      {0.1L, "0.1"},
      {0.5L, "0.5"},
      {-0.0L, "-0"},
      {1e20L, "1e+20"},
      {1e16L, "1e+16"},
      {9999999999999999.0L, "9999999999999999"},
      {123456789012345678.0L, "1.234567890123457e+17"},
      {1e-5L, "1e-05"},
      {0.0001L, "0.0001"},
      {1.0L / 3, "0.3333333333333333"},
      {2.5e-300L, "2.5e-300"},
      {4294967295.0L, "4294967295"},
      {std::numeric_limits<long double>::infinity(), "inf"},
      // Decimals: ties to even, carries into the next power, both forms.
      {1234567890123456.5L, "1234567890123456"},
      {1234567890123457.5L, "1234567890123458"},
      {9999999999999999.5L, "1e+16"},
      {0.99999999999999995L, "1"},
      {0.3L, "0.3"},
      {2.675L, "2.675"},
      {123.456L, "123.456"},
      {-98765.4321L, "-98765.4321"},
      {5e-5L, "5e-05"},
      {1.7e38L, "1.7e+38"},
      {1e-19L, "1e-19"},
      {0.00012345678901234567L, "0.0001234567890123457"},
  };
  for (const NumberRow& row : rows) EXPECT_EQ(row.text, written(row.n)) << row.text;
}

TEST(Numbers, SameAsPrintfWithSixteenDigits) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> exponent(-4950, 4930);
  std::uniform_real_distribution<long double> mantissa(-10, 10);
  std::uniform_int_distribution<long long> integer(-(1LL << 62), 1LL << 62);
  for (int i = 0; i < 20000; ++i) {
    Number n;
    switch (i % 3) {
      case 0:
        n = mantissa(rng) * std::pow(10.0L, exponent(rng));
        break;
      case 1:
        n = static_cast<Number>(integer(rng)) / (1LL << (i % 40));
        break;
      default:
        n = static_cast<Number>(integer(rng) % 100000000000000000LL);
        break;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.16Lg", n);
    ASSERT_EQ(std::string(buf), written(n)) << buf;
  }
}

// Decimals as documents hold them: every magnitude from 1e-19 to 1e38,
// values read from short decimal texts, exact halves of the last digit
// (ties go to even) and the carries that change the exponent, all byte for
// byte as %.16Lg writes them.
TEST(Numbers, DecimalsOfEveryMagnitudeSameAsPrintf) {
  auto printf16 = [](Number n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.16Lg", n);
    return std::string(buf);
  };
  const Number edges[] = {1234567890123456.5L,   1234567890123457.5L,  9999999999999999.5L,
                          0.99999999999999995L,  0.000099999999999999995L,
                          99999999999999995.0L,  1e-4L,                 9.9999999999999999e-5L,
                          1e15L + 0.5L,          1e16L + 2,             0.1L,
                          0.3L,                  2.675L,                1e-19L,
                          1.7e38L,               123.456L,              -0.001L,
                          -98765.4321L,          5e-5L,                 0.00012345678901234567L};
  for (Number n : edges) EXPECT_EQ(printf16(n), written(n)) << printf16(n);
  std::mt19937_64 rng(26);
  std::uniform_int_distribution<int> exponent(-19, 38);
  std::uniform_int_distribution<int> length(1, 19);
  std::uniform_int_distribution<uint64_t> any;
  for (int i = 0; i < 200000; ++i) {
    Number n;
    if (i % 2 == 0) {
      // A decimal text of up to 19 digits, read as the parser reads it.
      std::string text = std::to_string(any(rng) % 10000000000000000000ULL);
      text = text.substr(0, static_cast<size_t>(length(rng)));
      text.insert(text.size() > 1 ? 1 : 0, ".");
      text += "e" + std::to_string(exponent(rng));
      Value v;
      ASSERT_TRUE(v.parse(text)) << text;
      n = v.get<Number>();
    } else {
      n = static_cast<Number>(any(rng)) * std::pow(10.0L, exponent(rng) - 19);
    }
    if (i % 3 == 0) n = -n;
    ASSERT_EQ(printf16(n), written(n)) << printf16(n);
  }
}

TEST(Numbers, TextNearTheLargestValueStillReadsBack) {
  // %.16Lg of the largest long double rounds up past it; what is written
  // must parse again.
  for (Number n :
       {std::numeric_limits<long double>::max(), -std::numeric_limits<long double>::max(),
        std::numeric_limits<long double>::max() * 0.99999999999999999L}) {
    std::string text = written(n);
    Value back;
    ASSERT_TRUE(back.parse(text)) << text;
    EXPECT_EQ(text, written(back.get<Number>()));
  }
  EXPECT_EQ("1.189731495357231e+4932", written(std::numeric_limits<long double>::max()));
}

TEST(Escapes, EveryByte) {
  for (int b = 0; b < 256; ++b) {
    std::string expected;
    switch (b) {
      case 0x08:
        expected = "\\b";
        break;
      case 0x09:
        expected = "\\t";
        break;
      case 0x0A:
        expected = "\\n";
        break;
      case 0x0C:
        expected = "\\f";
        break;
      case 0x0D:
        expected = "\\r";
        break;
      case '"':
        expected = "\\\"";
        break;
      case '/':
        expected = "\\/";
        break;
      case '\\':
        expected = "\\\\";
        break;
      default:
        if (b < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", b);
          expected = buf;
        } else {
          expected = std::string(1, static_cast<char>(b));
        }
    }
    std::string one(1, static_cast<char>(b));
    ASSERT_EQ(expected, zrjson::escape_string(one, false)) << b;
    ASSERT_EQ("\"" + expected + "\"", zrjson::escape_string(one, true)) << b;
    // The compact form escapes the same way.
    ASSERT_EQ("\"" + expected + "\"", compact(Value(one))) << b;
    // Whatever is written reads back to the same byte.
    Array a;
    a << Value(one);
    Array back;
    ASSERT_TRUE(back.parse(a.json())) << b;
    ASSERT_EQ(one, back.get<String>(0)) << b;
  }
}

TEST(Escapes, GoldenTexts) {
  EXPECT_EQ("\\u000b\\u001f\\u0001\xE9", zrjson::escape_string("\x0b\x1f\x01\xE9", false));
  Object o;
  o.import("path/\"k\"", Value("a/b\\c"));
  EXPECT_EQ("{\n\t\"path\\/\\\"k\\\"\": \"a\\/b\\\\c\" \n} \n", o.json());
}

TEST(CompactForm, GoldenTexts) {
  Array a;
  a << Value(Number(1)) << Value();
  EXPECT_EQ("[1, ]", compact(a));

  Object o;
  o.import("b", boolean(true));
  o.import("a", Value(Number(1)));
  EXPECT_EQ("{\"a\": 1, \"b\": true}", compact(o));

  Object nested;
  Value nothing;
  nothing.import(Null());
  nested.import("list", Value(Array(Value("x"))));
  nested.import("none", nothing);
  nested.import("obj", Value(Object()));
  EXPECT_EQ("{\"list\": [\"x\"], \"none\": null, \"obj\": {}}", compact(nested));
  EXPECT_EQ("", compact(Value()));
  EXPECT_EQ("[]", compact(Array()));
}

TEST(CompactForm, NumbersFollowTheStream) {
  Value pi(Number(3.14159265358979L));
  EXPECT_EQ("3.14159", compact(pi));
  std::ostringstream os;
  os.precision(3);
  os << pi;
  EXPECT_EQ("3.14", os.str());
}

}  // namespace
