// Error recording, argument checks, status folding and field cleaning.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/EvDebug.h"
#include "host/testing/FakeOSUtil.h"
#include "host/testing/FakeSnapInfo.h"
#include "host/testing/ScopedTempDir.h"
#include "util/HDSCLIUtils.h"

namespace {

// Records the order in which the user message and the error pair arrive.
class OrderedSnapInfo : public FakeSnapInfo {
 public:
  void message(int level, const char* text) override {
    order.push_back("message");
    FakeSnapInfo::message(level, text);
  }
  void setError(int code, const char* text) override {
    order.push_back("setError");
    FakeSnapInfo::setError(code, text);
  }
  std::vector<std::string> order;
};

TEST(SetError, MessageFirstThenTheErrorPair) {
  OrderedSnapInfo d;
  SetError(&d, 62601, "Failed to execute the raidcom command");
  EXPECT_EQ((std::vector<std::string>{"message", "setError"}), d.order);
  ASSERT_EQ(1u, d.messages().size());
  EXPECT_EQ(2, d.messages()[0].first);
  EXPECT_EQ("Failed to execute the raidcom command", d.messages()[0].second);
  EXPECT_EQ(62601, d.errorCode());
  EXPECT_EQ("Failed to execute the raidcom command", d.errorText());
  // A later error replaces the earlier one without looking at it.
  SetError(&d, 62008, "second");
  EXPECT_EQ(62008, d.errorCode());
  EXPECT_EQ("second", d.errorText());
}

TEST(SetError, NullTextOrDeviceRecordsNothing) {
  OrderedSnapInfo d;
  d.setErrorPair(1, "kept");
  SetError(&d, 62601, nullptr);
  SetError(nullptr, 62601, "text");
  EXPECT_TRUE(d.order.empty());
  EXPECT_TRUE(d.messages().empty());
  EXPECT_EQ(1, d.errorCode());
  EXPECT_EQ("kept", d.errorText());
}

TEST(getReturnStatus, FoldsStatuses) {
  struct Row {
    std::vector<int> statuses;
    int wanted;
    int expected;
  } rows[] = {
      {{5, 5, 5}, 5, 0}, {{5, 6, 6}, 5, 2}, {{6, 6, 6}, 5, 1},
      {{}, 5, 0},        {{12, 13}, 12, 2}, {{20}, 20, 0},
  };
  for (const Row& r : rows) {
    std::vector<FakeSnapInfo> devices(r.statuses.size());
    std::vector<ZRSO::SnapInfo*> ptrs;
    for (size_t i = 0; i < devices.size(); ++i) {
      devices[i].setStatus(r.statuses[i]);
      ptrs.push_back(&devices[i]);
    }
    EXPECT_EQ(r.expected, getReturnStatus(ptrs.data(), static_cast<short>(ptrs.size()), r.wanted))
        << "statuses " << r.statuses.size() << " wanted " << r.wanted;
  }
  // Only the first count devices are looked at.
  FakeSnapInfo a, b;
  a.setStatus(1);
  b.setStatus(3);
  ZRSO::SnapInfo* two[] = {&a, &b};
  EXPECT_EQ(0, getReturnStatus(two, 1, 1));
  ZRSO::SnapInfo* withNull[] = {&a, nullptr};
  EXPECT_EQ(2, getReturnStatus(withNull, 2, 1));
}

TEST(validateInputParams, RefusesInOrderWithOneLogLineEach) {
  ScopedTempDir dir;
  FakeSnapInfo a, b;
  FakeOSUtil util;
  ZRSO::SnapInfo* good[] = {&a, &b};
  ZRSO::SnapInfo* firstNull[] = {nullptr, &b};
  ZRSO::SnapInfo* secondNull[] = {&a, nullptr};
  struct Row {
    ZRSO::SnapInfo** devices;
    short count;
    ZRSO::ZROSUtil* util;
    int expected;
    const char* line;  // the log line's tail; null: no line
  } rows[] = {
      {good, 2, &util, 1, nullptr},
      {good, 0, &util, 0, "Invalid Device Count received [0]"},
      {nullptr, -3, nullptr, 0, "Invalid Device Count received [-3]"},
      {nullptr, 1, &util, 0, "Snap device list is NULL."},
      {firstNull, 2, &util, 0, "Snap device list is NULL."},
      {good, 2, nullptr, 0, "Snap Util object is NULL."},
      {secondNull, 2, &util, 0, "Invalid Snap Info object received."},
      {secondNull, 1, &util, 1, nullptr},
  };
  const std::string log = EvDebug::logFilePath();
  for (const Row& r : rows) {
    zrWriteFile(log, "");
    EXPECT_EQ(r.expected, validateInputParams(r.devices, r.count, r.util))
        << (r.line ? r.line : "valid");
    std::string text = zrReadFile(log);
    if (r.line == nullptr) {
      EXPECT_EQ("", text);
    } else {
      EXPECT_NE(std::string::npos,
                text.find(std::string(" -1 ZRHDSCLIUtils::validateInputParams ") + r.line + "\n"))
          << text;
      EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n')) << text;
    }
  }
  EXPECT_TRUE(a.messages().empty());
  EXPECT_EQ(0, a.setErrorCalls());
}

TEST(trimSpaces, CleansFixedWidthFields) {
  struct Row {
    std::string field;  // the bytes handed over (may hold 0 bytes)
    int length;
    std::string expected;
    std::string bufferAfter;
  } rows[] = {
      {std::string("HP*     ", 8), 8, "HP", std::string("HP      ", 8)},
      {std::string("HITACHI ", 8), 8, "HITACHI", std::string("HITACHI ", 8)},
      {std::string("  A B\t\r\n\v\f", 10), 10, "  A B", std::string("  A B\t\r\n\v\f", 10)},
      {std::string("        ", 8), 8, "", std::string("        ", 8)},
      {std::string("****", 4), 4, "", std::string("    ", 4)},
      {std::string("ABCDZZZZ", 8), 4, "ABCD", std::string("ABCDZZZZ", 8)},  // exactly length bytes
      {std::string("OPEN-V\0\0\0\0", 10), 10, "OPEN-V", std::string("OPEN-V\0\0\0\0", 10)},
      {std::string("\0ABC", 4), 4, "", std::string("\0ABC", 4)},
      {std::string("ABC", 3), 0, "", std::string("ABC", 3)},
  };
  for (const Row& r : rows) {
    std::vector<unsigned char> buf(r.field.begin(), r.field.end());
    EXPECT_EQ(r.expected, trimSpaces(buf.data(), r.length)) << r.field;
    EXPECT_EQ(r.bufferAfter, std::string(buf.begin(), buf.end())) << r.field;
  }
  EXPECT_EQ("", trimSpaces(nullptr, 8));
}

}  // namespace
