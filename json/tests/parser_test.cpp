// Parser: one table per rule of (input, result, what the container holds
// afterwards), each row run through the string and the stream entry points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>

#include "json/tests/support/ZrJsonCompact.h"
#include "json/zrjson.h"

namespace {

using zrjson::Array;
using zrjson::Number;
using zrjson::Object;
using zrjson::String;
using zrjson::Value;

using zrjson_test::compact;

struct Row {
  const char* what;
  std::string input;
  bool ok;
  const char* holds;  // compact form of the container afterwards
};

std::string s(const char* text, std::size_t n) { return std::string(text, n); }

const Row kObjectRows[] = {
    // Strict JSON and the system's own writer.
    {"writer form", "{\n\t\"controlHostId\": 7 \n} \n", true, "{\"controlHostId\": 7}"},
    {"nested", "{\"a\": {\"b\": [1, \"x\", true, false, null]}}", true,
     "{\"a\": {\"b\": [1, \"x\", true, false, null]}}"},
    {"empty braces", "{}", true, "{}"},
    {"whitespace between braces", "{ \t\r\n\v\f }", true, "{}"},
    {"keys sorted", "{\"b\":1,\"a\":2,\"B\":3}", true, "{\"B\": 3, \"a\": 2, \"b\": 1}"},
    // Nothing to read.
    {"empty text", "", false, "{}"},
    {"whitespace only", "  \n\t ", false, "{}"},
    {"array text", "[1]", false, "{}"},
    {"unclosed", "{\"a\":1", false, "{\"a\": 1}"},
    // Leniencies.
    {"member without value dropped", "{\"a\":1,\"b\": }", true, "{\"a\": 1}"},
    {"member with comment only dropped", "{\"a\":1,\"b\": // none\n}", true, "{\"a\": 1}"},
    {"empty value before comma is null", "{\"a\":,\"b\":1}", true, "{\"a\": null, \"b\": 1}"},
    {"trailing comma", "{\"a\":1,\"b\":2,}", true, "{\"a\": 1, \"b\": 2}"},
    {"later duplicate wins", "{\"a\":1,\"a\":2}", true, "{\"a\": 2}"},
    {"single quotes", "{'a':'x'}", true, "{\"a\": \"x\"}"},
    {"escaped double quote in single quotes keeps backslash", "{'a':'x\\\"y'}", true,
     "{\"a\": \"x\\\\\\\"y\"}"},
    {"escaped single quote in single quotes", "{'a':'it\\'s'}", true, "{\"a\": \"it's\"}"},
    {"comment before object", "// header\n{\"a\":1}", true, "{\"a\": 1}"},
    {"comment between key and colon", "{\"a\" // c\n : 1}", true, "{\"a\": 1}"},
    {"comment inside null", "{\"a\": nu// c\nll}", true, "{\"a\": null}"},
    {"comment inside true", "{\"a\": tr//c\r\n ue}", true, "{\"a\": true}"},
    {"comment before comma", "{\"a\": 1 // c\n, \"b\": 2}", true, "{\"a\": 1, \"b\": 2}"},
    {"text after the object ignored", "{\"a\":1} trailing {garbage", true, "{\"a\": 1}"},
    {"raw line end in string", "{\"a\":\"x\ny\"}", true, "{\"a\": \"x\\ny\"}"},
    // Failures keep what was read before them.
    {"unquoted word value", "{\"a\":1,\"b\":xyz,\"c\":2}", false, "{\"a\": 1}"},
    {"failed nested object is dropped whole", "{\"a\":1,\"b\":{\"c\":2,\"d\":xyz}}", false,
     "{\"a\": 1}"},
    {"failed nested array is dropped whole", "{\"a\":1,\"b\":[2,3 4]}", false, "{\"a\": 1}"},
    {"unquoted key", "{a:1}", false, "{}"},
    {"unquoted key after member", "{\"a\":1,b:2}", false, "{\"a\": 1}"},
    {"missing colon", "{\"a\" 1}", false, "{}"},
    {"missing comma", "{\"a\":1 \"b\":2}", false, "{\"a\": 1}"},
    {"block comment", "{/* c */\"a\":1}", false, "{}"},
    {"unterminated key", "{\"a", false, "{}"},
    {"unterminated value", "{\"a\":\"x", false, "{}"},
    {"leading comma", "{,\"a\":1}", false, "{}"},
    {"lone slash before key", "{/\"a\":1}", false, "{}"},
    {"nul at the end is no null", "{\"a\":nul", false, "{}"},
    {"hex number", "{\"a\":0x10}", false, "{\"a\": 0}"},
    {"exponent without digits", "{\"a\":1e}", false, "{}"},
};

TEST(ObjectParse, TableThroughStringAndStream) {
  for (const Row& row : kObjectRows) {
    Object fromText;
    EXPECT_EQ(row.ok, fromText.parse(row.input)) << row.what;
    EXPECT_EQ(row.holds, compact(fromText)) << row.what;

    Object fromStream;
    std::istringstream in(row.input);
    EXPECT_EQ(row.ok, Object::parse(in, fromStream)) << row.what << " (stream)";
    EXPECT_EQ(row.holds, compact(fromStream)) << row.what << " (stream)";
  }
}

const Row kArrayRows[] = {
    {"empty", "[]", true, "[]"},
    {"numbers", "[1, 2.5, -3]", true, "[1, 2.5, -3]"},
    {"two commas give null", "[1,,2]", true, "[1, null, 2]"},
    {"leading comma gives null", "[,1]", true, "[null, 1]"},
    {"trailing comma", "[1,2,]", true, "[1, 2]"},
    {"comma only", "[,]", true, "[null]"},
    {"plus sign, leading zeros, missing parts", "[+1, 007, .5, 5., -0.25e1]", true,
     "[1, 7, 0.5, 5, -2.5]"},
    {"exponent forms", "[1e5, 1E+2, 2e-3]", true, "[100000, 100, 0.002]"},
    {"nested array", "[[1,[2]],[]]", true, "[[1, [2]], []]"},
    {"object element", "[{\"a\":1},{}]", true, "[{\"a\": 1}, {}]"},
    {"string and word literals", "['a', \"b\", true, false, null]", true,
     "[\"a\", \"b\", true, false, null]"},
    {"missing comma", "[1 2]", false, "[1]"},
    {"hex leaves x10 behind", "[0x10]", false, "[0]"},
    {"exponent without digits", "[1e]", false, "[]"},
    {"exponent sign without digits", "[1e+]", false, "[]"},
    {"lone minus", "[-]", false, "[]"},
    {"lone point", "[.]", false, "[]"},
    {"infinity is no number", "[inf]", false, "[]"},
    {"nan is no number", "[nan]", false, "[]"},
    {"out of range", "[1e99999]", false, "[]"},
    {"unclosed", "[1,2", false, "[1, 2]"},
    {"nul at the end", "[nul", false, "[]"},
    {"object text", "{}", false, "[]"},
    {"bad element after good ones", "[1, @]", false, "[1]"},
};

TEST(ArrayParse, TableThroughStringAndStream) {
  for (const Row& row : kArrayRows) {
    Array fromText;
    EXPECT_EQ(row.ok, fromText.parse(row.input)) << row.what;
    EXPECT_EQ(row.holds, compact(fromText)) << row.what;

    Array fromStream;
    std::istringstream in(row.input);
    EXPECT_EQ(row.ok, Array::parse(in, fromStream)) << row.what << " (stream)";
    EXPECT_EQ(row.holds, compact(fromStream)) << row.what << " (stream)";
  }
}

// Strings: what the bytes between the quotes become.
struct StringRow {
  const char* what;
  std::string input;
  bool ok;
  std::string value;
};

const StringRow kStringRows[] = {
    {"named escapes", "\"\\/\\\\\\b\\f\\n\\r\\t\"", true, "/\\\b\f\n\r\t"},
    {"escaped double quote", "\"a\\\"b\"", true, "a\"b"},
    {"other quote keeps backslash", "\"a\\'b\"", true, "a\\'b"},
    {"unknown escape keeps backslash", "\"a\\qb\"", true, "a\\qb"},
    {"u escape", "\"\\u0041\"", true, "A"},
    {"u escape above 0x7F", "\"\\u00e9\"", true, "\xE9"},
    {"u escape keeps the low byte", "\"\\u20ac\"", true, "\xAC"},
    {"u escape with uppercase digits", "\"\\u00FF\"", true, "\xFF"},
    {"u escape of zero", "\"\\u0000x\"", true, s("\0x", 2)},
    {"u escape without digits adds nothing", "\"a\\uZZZZb\"", true, "ab"},
    {"u escape uses leading digits only", "\"\\u41zzb\"", true, "Ab"},
    {"u escape takes a quote among its four", "\"\\u4\"zzb\"", true,
     "\x04"
     "b"},
    {"u escape with 0x prefix", "\"\\u0x41\"", true, "A"},
    {"u escape 0x without digits", "\"\\u0xzz\"", true, ""},
    {"u escape with leading blank", "\"\\u 41z\"", true, "A"},
    {"u escape negative", "\"\\u-041\"", true, "\xBF"},
    {"u escape cut by the end", "\"\\u00", false, ""},
    {"raw control bytes", s("\"\x01\x1f\t\"", 5), true, "\x01\x1f\t"},
    {"bytes above 0x7F", "\"\xC3\xA9\xFF\x80\"", true, "\xC3\xA9\xFF\x80"},
    {"zero byte", s("\"a\0b\"", 5), true, s("a\0b", 3)},
    {"single quoted", "'x\"y'", true, "x\"y"},
    {"backslash at the end", "\"a\\", false, ""},
    {"unterminated", "\"abc", false, ""},
};

TEST(StringParse, Table) {
  for (const StringRow& row : kStringRows) {
    Value v;
    bool ok = v.parse(row.input);
    EXPECT_EQ(row.ok, ok) << row.what;
    if (row.ok && ok) {
      ASSERT_TRUE(v.is<String>()) << row.what;
      EXPECT_EQ(row.value, v.get<String>()) << row.what;
    }
    std::string viaStream;
    std::istringstream in(row.input);
    EXPECT_EQ(row.ok, zrjson::parse_string(in, viaStream)) << row.what << " (stream)";
    if (row.ok) {
      EXPECT_EQ(row.value, viaStream) << row.what << " (stream)";
    }
  }
}

TEST(ValueParse, KindsInOrder) {
  struct KindRow {
    std::string input;
    Value::Type type;
    const char* written;
  };
  const KindRow rows[] = {
      {"\"s\"", Value::StringType, "\"s\""},
      {" 12.5 ", Value::NumberType, "12.5"},
      {"true", Value::BooleanType, "true"},
      {"false", Value::BooleanType, "false"},
      {"null", Value::NullType, "null"},
      {",", Value::NullType, "null"},
      {"[1]", Value::ArrayType, "[1]"},
      {"{\"a\":[]}", Value::ObjectType, "{\"a\": []}"},
      {"// c\n'q'", Value::StringType, "\"q\""},
      {"5abc", Value::NumberType, "5"},
      // After a failed array the object rule is still tried where the array
      // stopped.
      {"[1 {\"k\":2}", Value::ObjectType, "{\"k\": 2}"},
  };
  for (const KindRow& row : rows) {
    Value v;
    ASSERT_TRUE(v.parse(row.input)) << row.input;
    EXPECT_EQ(row.type, v.type()) << row.input;
    EXPECT_EQ(row.written, compact(v)) << row.input;
  }
}

TEST(ValueParse, FailureKeepsTheTag) {
  Value invalid;
  EXPECT_FALSE(invalid.parse(std::string("@")));
  EXPECT_EQ(Value::InvalidType, invalid.type());
  EXPECT_TRUE(invalid.empty());

  Value str(String("x"));
  EXPECT_FALSE(str.parse(std::string("nul")));
  EXPECT_TRUE(str.is<String>());
  EXPECT_TRUE(str.empty());  // hollow

  Value arr(Array(Value(Number(1))));
  EXPECT_FALSE(arr.parse(std::string("")));
  EXPECT_TRUE(arr.is<Array>());
  EXPECT_TRUE(arr.empty());

  // A failed parse into a hollow value, then a good one.
  EXPECT_TRUE(arr.parse(std::string("{\"k\":\"v\"}")));
  ASSERT_TRUE(arr.is<Object>());
  EXPECT_EQ("v", arr.get<Object>().get<String>("k"));
}

TEST(ValueParse, ReplacesEarlierContent) {
  Value v(String("old"));
  ASSERT_TRUE(v.parse(std::string("[1,2]")));
  ASSERT_TRUE(v.is<Array>());
  EXPECT_EQ(2u, v.get<Array>().size());
  ASSERT_TRUE(v.parse(std::string("3")));
  EXPECT_EQ(3.0L, v.get<Number>());
}

TEST(StringParse, TextOwnedByTheTarget) {
  // Reading a text that lives inside the target itself.
  Value v(String("[1, \"two\"]"));
  ASSERT_TRUE(v.parse(v.get<String>()));
  EXPECT_EQ("[1, \"two\"]", compact(v));

  Object o("payload", Value("{\"inner\": true, \"payload\": 2}"));
  ASSERT_TRUE(o.parse(o.get<String>("payload")));
  EXPECT_EQ("{\"inner\": true, \"payload\": 2}", compact(o));

  Array a(Value("[3, [4]]"));
  ASSERT_TRUE(a.parse(a.get<String>(0)));
  EXPECT_EQ("[3, [4]]", compact(a));

  Object bad("payload", Value("{\"k\": 1, \"x\": @}"));
  EXPECT_FALSE(bad.parse(bad.get<String>("payload")));
  EXPECT_EQ("{\"k\": 1}", compact(bad));
}

TEST(ObjectParse, KeepsPendingKeyAndReplacesMembers) {
  Object o;
  o.import("stale", Value(Number(1)));
  o << Value("pending");
  ASSERT_TRUE(o.parse(std::string("{\"a\":1}")));
  EXPECT_FALSE(o.has<Number>("stale"));
  o << Value(Number(9));  // completes the pending key
  EXPECT_EQ(9.0L, o.get<Number>("pending"));
}

TEST(ParseNumber, MatchesTheLibraryConversion) {
  // The reader converts short decimals itself; they must come out exactly as
  // the C library's correctly rounded conversion gives them.
  std::mt19937_64 rng(42);
  std::uniform_int_distribution<int> digitCount(1, 20), digit(0, 9), pointAt(0, 21), sign(0, 3);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    int n = digitCount(rng);
    int point = pointAt(rng);
    if (sign(rng) == 0) text += '-';
    for (int d = 0; d < n; ++d) {
      if (d == point) text += '.';
      text += static_cast<char>('0' + digit(rng));
    }
    if (point == n) text += '.';
    // Exponents from well inside to well outside the exactly scaled range.
    if (i % 3 == 0) text += (i % 2 ? "e" : "E-") + std::to_string(i % 41);
    Value v;
    ASSERT_TRUE(v.parse(text)) << text;
    long double expected = std::strtold(text.c_str(), nullptr);
    ASSERT_EQ(expected, v.get<Number>()) << text;
    ASSERT_EQ(std::signbit(expected), std::signbit(v.get<Number>())) << text;
  }
}

TEST(ParseNumber, StreamStandsAfterTheNumber) {
  std::istringstream in("  -12.5e1xyz");
  long double n = 0;
  ASSERT_TRUE(zrjson::parse_number(in, n));
  EXPECT_EQ(-125.0L, n);
  std::string rest;
  in >> rest;
  EXPECT_EQ("xyz", rest);

  std::istringstream bad("1e+q");
  EXPECT_FALSE(zrjson::parse_number(bad, n));
  bad.clear();
  std::getline(bad, rest);
  EXPECT_EQ("1e+q", rest);  // back where the number began
}

TEST(BuildingBlocks, MatchPutsBackAPartialLiteral) {
  std::istringstream in("  tru");
  EXPECT_FALSE(zrjson::match("true", in));
  in.clear();
  std::string rest;
  std::getline(in, rest);
  EXPECT_EQ("tru", rest);

  std::istringstream commented("// c\n  x");
  EXPECT_FALSE(zrjson::match("{", commented));
  commented.clear();
  std::getline(commented, rest);
  EXPECT_EQ("x", rest);  // whitespace and the comment stay read
}

TEST(BuildingBlocks, NullBeforeCommaLeavesTheComma) {
  std::istringstream in("  ,1");
  EXPECT_TRUE(zrjson::parse_null(in));
  EXPECT_EQ(',', in.get());

  std::istringstream word("nothing");
  EXPECT_FALSE(zrjson::parse_null(word));
}

TEST(BuildingBlocks, CommentRule) {
  std::istringstream in("// one\n  // two\r\n x");
  EXPECT_TRUE(zrjson::parse_comment(in));
  EXPECT_EQ('/', in.peek());  // the next comment is the next call's
  EXPECT_TRUE(zrjson::parse_comment(in));
  EXPECT_EQ('x', in.peek());

  std::istringstream lone("/");
  EXPECT_FALSE(zrjson::parse_comment(lone));
  EXPECT_EQ('/', lone.get());  // a lone '/' at the very end is restored
}

TEST(BuildingBlocks, Identifier) {
  struct IdRow {
    const char* input;
    bool ok;
    const char* name;
  };
  const IdRow rows[] = {
      {"  name:1", true, "name"}, {"$a_1 :", true, "$a_1"}, {"ab cd:", true, "abcd"},
      {"a-b.c:", true, "abc"},    {":", true, ""},          {"1abc:", false, ""},
      {"abc", false, "abc"},      {"-x:", false, ""},
  };
  for (const IdRow& row : rows) {
    std::istringstream in(row.input);
    std::string name;
    EXPECT_EQ(row.ok, zrjson::parse_identifier(in, name)) << row.input;
    EXPECT_EQ(row.name, name) << row.input;
    if (row.ok) {
      EXPECT_EQ(':', in.peek()) << row.input;
    }
  }
}

TEST(StreamParse, ReadsOneItemAfterAnother) {
  std::istringstream in("{\"a\":1} {\"b\":2}[3]");
  Object first, second;
  Array third;
  ASSERT_TRUE(Object::parse(in, first));
  ASSERT_TRUE(Object::parse(in, second));
  ASSERT_TRUE(Array::parse(in, third));
  EXPECT_EQ("{\"a\": 1}", compact(first));
  EXPECT_EQ("{\"b\": 2}", compact(second));
  EXPECT_EQ("[3]", compact(third));
  Object none;
  EXPECT_FALSE(Object::parse(in, none));
}

TEST(StreamParse, FailedStreamReadsNothing) {
  std::istringstream in("{\"a\":1}");
  in.setstate(std::ios_base::failbit);
  Object o;
  EXPECT_FALSE(Object::parse(in, o));
  EXPECT_TRUE(o.empty());

  // A target that already holds an earlier message is emptied all the same,
  // so that the caller's empty() and has<T>() do not see stale members.
  Object stale("controlHostId", Value(Number(7)));
  stale << Value("pending");
  EXPECT_FALSE(Object::parse(in, stale));
  EXPECT_TRUE(stale.empty());
  stale << Value(Number(1));  // the pending key stays, as on any parse
  EXPECT_EQ(1.0L, stale.get<Number>("pending"));

  Array list(Value("old"));
  EXPECT_FALSE(Array::parse(in, list));
  EXPECT_TRUE(list.empty());

  Value text(String("old"));
  EXPECT_FALSE(Value::parse(in, text));
  EXPECT_TRUE(text.is<String>());
  EXPECT_TRUE(text.empty());  // hollow, as after any failed read

  // A stream already read to its end is not usable either.
  std::istringstream used("{\"a\":1}");
  Object first;
  ASSERT_TRUE(Object::parse(used, first));
  EXPECT_FALSE(Object::parse(used, first));
  EXPECT_TRUE(first.empty());
}

std::string nested(unsigned int depth, const std::string& open, const std::string& close) {
  std::string text;
  for (unsigned int i = 0; i < depth; ++i) text += open;
  for (unsigned int i = 0; i < depth; ++i) text += close;
  return text;
}

TEST(DepthLimit, DeepestAllowedNestingParses) {
  Array a;
  EXPECT_TRUE(a.parse(nested(zrjson::kMaxNestingDepth, "[", "]")));
  std::string objects;
  for (unsigned int i = 0; i < zrjson::kMaxNestingDepth; ++i) objects += "{\"k\":";
  objects += "1";
  objects.append(zrjson::kMaxNestingDepth, '}');
  Object o;
  EXPECT_TRUE(o.parse(objects));
  EXPECT_FALSE(o.parse("{\"k\":" + objects + "}"));
  // The pretty form of the deepest tree reads back too.
  Array again;
  EXPECT_TRUE(again.parse(a.json()));
}

TEST(DepthLimit, OneLevelMoreFails) {
  Array a;
  EXPECT_FALSE(a.parse(nested(zrjson::kMaxNestingDepth + 1, "[", "]")));
  Value v;
  EXPECT_FALSE(v.parse(nested(zrjson::kMaxNestingDepth + 1, "[", "]")));
  std::istringstream in(nested(zrjson::kMaxNestingDepth + 1, "[", "]"));
  EXPECT_FALSE(Array::parse(in, a));
}

TEST(DepthLimit, HugeNestingFailsWithoutRecursingAway) {
  std::string text(1 << 20, '[');
  Array a;
  EXPECT_FALSE(a.parse(text));
  Object o;
  std::string objects;
  for (int i = 0; i < 200000; ++i) objects += "{\"a\":";
  EXPECT_FALSE(o.parse(objects));
}

TEST(DepthLimit, TooDeepMemberFailsTheObjectAndKeepsEarlierMembers) {
  // A lenient reader would drop an unreadable last member and close the
  // object; too deep a member must fail the parse instead.
  Object o;
  std::string text = "{\"a\":1,\"b\":" + nested(zrjson::kMaxNestingDepth, "[", "]") + "}";
  EXPECT_FALSE(o.parse(text));
  EXPECT_EQ("{\"a\": 1}", compact(o));
}

TEST(HighBytes, AreNeitherWhitespaceNorLetters) {
  // 0xA0 and 0x85 are blanks in some 8-bit locales; here they are data.
  Object o;
  EXPECT_FALSE(o.parse(std::string("\xA0{}")));
  EXPECT_FALSE(o.parse(std::string("\x85{}")));
  EXPECT_FALSE(o.parse(std::string("{\"a\":\xE9}")));
  ASSERT_TRUE(o.parse(std::string("{\"\xC3\xA9t\xE9\":\"\xFF\xFE\x80\"}")));
  EXPECT_EQ("\xFF\xFE\x80", o.get<String>("\xC3\xA9t\xE9"));
  std::istringstream in("\xE9:");
  std::string name;
  EXPECT_FALSE(zrjson::parse_identifier(in, name));
}

TEST(RoundTrip, PrettyFormReadsBackToTheSameText) {
  const char* texts[] = {
      "{\"HbaESX\":[],\"HbaLocal\":[\"iqn.1998-01.com.vmware:esx1\",\"21:00:00:24:ff:4c:aa:01\"],"
      "\"controlHostId\":12}",
      "{\"MapSnapInfoList\":[{\"MSName\":\"snap \\\"q\\\" "
      "/\\\\\",\"MSNum\":\"1024\",\"MSNumVSM\":\"\"}],"
      "\"opResp\":0}",
      "{\"\":1,\"n\":[1e300,-0,0.1,1e-300,123456789012345678],\"s\":\"\\u0001\\u001f\xE9\"}",
  };
  for (const char* text : texts) {
    Object first;
    ASSERT_TRUE(first.parse(std::string(text))) << text;
    Object second;
    ASSERT_TRUE(second.parse(first.json())) << first.json();
    EXPECT_EQ(first.json(), second.json());
  }
}

}  // namespace
