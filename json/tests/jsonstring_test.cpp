// Key-value text lookup on host texts (',') and stored metadata ("**").
#include <gtest/gtest.h>

#include <string>

#include "json/ParseJsonString.h"

namespace {

const char kUntouched[] = "<untouched>";

struct Row {
  const char* what;
  std::string text;
  std::string key;
  std::string separator;
  int found;
  std::string value;  // kUntouched when not found
};

const Row kRows[] = {
    // Host texts: separator "," (also when given empty).
    {"comma text, first key", "hostUserName:admin,engineId:73,arrayId:412345,", "hostUserName", "",
     1, "admin"},
    {"comma text, last key", "hostUserName:admin,engineId:73,arrayId:412345,", "arrayId", ",", 1,
     "412345"},
    {"last key without final comma", "engineId:73,arrayId:412345", "arrayId", "", 0, kUntouched},
    {"last key closed by brace", "{engineId:73,arrayId:412345}", "arrayId", "", 1, "412345"},
    {"brace when no separator follows", "{idatype:vmware}", "idatype", "", 1, "vmware"},
    {"key inside an earlier key is found first", "xkey:1,key:2,", "key", "", 1, "1"},
    {"key inside an earlier value is found first", "label:3L:9,3L:2,", "3L", "", 1, "9"},
    {"empty value", "a:,b:1,", "a", "", 1, ""},
    {"missing key", "a:1,b:2,", "c", "", 0, kUntouched},
    {"key without colon", "abc,", "abc", "", 0, kUntouched},
    {"empty text", "", "a", "", 0, kUntouched},
    {"empty key", "a:1,", "", "", 0, kUntouched},
    {"text ends at its first zero byte", std::string("a:1,\0b:2,", 9), "b", "", 0, kUntouched},
    {"other separator", "00E2abc*_ZRSO_*lunuuid:600a*_ZRSO_*", "lunuuid", "*_ZRSO_*", 1, "600a"},
    {"high bytes pass through", "name:\xC3\xA9t\xE9\xFF,", "name", "", 1, "\xC3\xA9t\xE9\xFF"},
    // Stored metadata: separator "**", keys only where an entry begins.
    {"metadata 1S", "1S:412345**3L:256**5M:R8**", "1S", "**", 1, "412345"},
    {"metadata 3L", "1S:412345**3L:256**5M:R8**", "3L", "**", 1, "256"},
    {"metadata value to brace", "1S:412345**3L:256}", "3L", "**", 1, "256"},
    {"metadata value without end", "1S:412345**3L:256", "3L", "**", 0, kUntouched},
    {"metadata empty value", "16ON:**22LI:1024**", "16ON", "**", 1, ""},
    {"label holding a key text",
     "16ON:old 23OS:NEWDEV label**22LI:1024**17HG:CL1-A-3**23OS:OLDDEV**24VI:1024**", "23OS", "**",
     1, "OLDDEV"},
    {"label starting with a key text", "16ON:3L:999**3L:256**", "3L", "**", 1, "256"},
    {"key text only inside values", "16ON:x23OS:NEWDEV**22LI:5**", "23OS", "**", 0, kUntouched},
    {"longer key at an entry start", "3LX:1**3L:2**", "3L", "**", 1, "2"},
    // hostPassword: up to the separator in front of "engineName".
    {"password holding separators",
     "hostUserName:admin,hostPassword:p,a:s**s,engineName:e1,engineId:73,", "hostPassword", "", 1,
     "p,a:s**s"},
    {"password with metadata separator", "hostPassword:abc**engineName:x**", "hostPassword", "**",
     1, "abc*"},
    {"empty password", "hostPassword:,engineName:x,", "hostPassword", "", 1, ""},
    {"engineName before hostPassword", "engineName:x,hostPassword:abc,", "hostPassword", "", 0,
     kUntouched},
    {"no engineName", "hostUserName:admin,hostPassword:abc,", "hostPassword", "", 0, kUntouched},
    {"negative span", "hostPassword:engineName", "hostPassword", "", 0, kUntouched},
};

TEST(ParseJsonString, Table) {
  for (const Row& row : kRows) {
    std::string value = kUntouched;
    EXPECT_EQ(row.found, parseJsonString(row.text, row.key, value, row.separator)) << row.what;
    EXPECT_EQ(row.value, value) << row.what;
  }
}

TEST(ParseJsonString, DefaultSeparatorIsComma) {
  std::string value;
  EXPECT_EQ(1, parseJsonString("standardinqury:0a1b,lunuuid:6006,", "standardinqury", value));
  EXPECT_EQ("0a1b", value);
}

TEST(ParseJsonString, EveryEntryOfAWrittenRecordReadsBack) {
  const char* keys[] = {"1S",   "2VS",  "3L",   "4VL",  "5M",   "6RS",  "7RVS", "8RL",
                        "9RVL", "10SG", "11C",  "12P",  "13SM", "14GS", "15RM", "16ON",
                        "17HG", "18MC", "19MP", "20QM", "21MH", "22LI", "23OS", "24VI"};
  std::string text;
  for (const char* key : keys) text += std::string(key) + ":v" + key + "_1S_3L**";
  for (const char* key : keys) {
    std::string value;
    ASSERT_EQ(1, parseJsonString(text, key, value, "**")) << key;
    EXPECT_EQ(std::string("v") + key + "_1S_3L", value) << key;
  }
}

TEST(ParseJsonString, LongValuesUpToTheStoredSize) {
  std::string groups;
  while (groups.size() < kParseJsonStringMaxValue)
    groups += "CL1-A-" + std::to_string(groups.size() % 250) + ",";
  groups.resize(kParseJsonStringMaxValue);
  std::string value;
  ASSERT_EQ(1, parseJsonString("17HG:" + groups + "**23OS:NEWDEV**", "17HG", value, "**"));
  EXPECT_EQ(groups, value);
  EXPECT_EQ(1, parseJsonString("17HG:" + groups + "**23OS:NEWDEV**", "23OS", value, "**"));
  EXPECT_EQ("NEWDEV", value);

  // One byte more is refused, not cut.
  value = kUntouched;
  EXPECT_EQ(0, parseJsonString("17HG:" + groups + "X**", "17HG", value, "**"));
  EXPECT_EQ(kUntouched, value);
  EXPECT_EQ(0, parseJsonString("a:" + std::string(100000, 'x') + ",", "a", value));
  EXPECT_EQ(kUntouched, value);

  // The password has no limit.
  std::string password(10000, 'p');
  EXPECT_EQ(1,
            parseJsonString("hostPassword:" + password + ",engineName:e", "hostPassword", value));
  EXPECT_EQ(password, value);
}

}  // namespace
