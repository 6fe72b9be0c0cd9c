// GAD pair role: unique metadata rewritten for the P-VOL and the S-VOL
// active side, with and without a virtual storage machine, and every error.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/testing/FakeSnapInfo.h"
#include "util/HDSCLIUtils.h"
#include "util/tests/support/HostUtilTestEnv.h"

using namespace ZRHDSCLIUtils;
using hostutil_test::Env;

namespace {

struct Gad {
  Env env;
  std::vector<std::unique_ptr<FakeSnapInfo>> devices;
  std::vector<ZRSO::SnapInfo*> array;

  FakeSnapInfo& add(const std::string& metadata) {
    devices.emplace_back(new FakeSnapInfo());
    devices.back()->setMetadataText(6, metadata);
    array.push_back(devices.back().get());
    return *devices.back();
  }
  void paired(const std::string& serial, const std::string& partner) {
    env.setText("~Tessavon", ("sZRHDSArrayGadPairedWith_" + serial).c_str(), partner);
  }
  int run() { return setGADPairInfo(array.data(), static_cast<short>(array.size())); }
};

TEST(GadPairRole, RewritesEachSideAsTheActiveArraySeesIt) {
  struct Row {
    const char* name;
    std::string metadata;
    std::string pairedSetting;  // for "1S"; "" = not set
    std::string expected;
    std::vector<std::string> binding;  // setArrayInformation (serial, second); empty = no call
  };
  const std::vector<Row> rows = {
      {"P-VOL side, no VSM",
       "1S:412345**3L:256**5M:R9G**6RS:410001**8RL:512**10SG:QB_7**13SM:3**11C:2048**14GS:1**",
       "",
       "1S:412345**3L:256**5M:R9G**6RS:410001**8RL:512**7RVS:412345**9RVL:256**",
       {}},
      {"side not recorded, no VSM",
       "1S:412345**3L:256**5M:R9G**6RS:410001**8RL:512**",
       "",
       "1S:412345**3L:256**5M:R9G**6RS:410001**8RL:512**7RVS:412345**9RVL:256**",
       {}},
      {"P-VOL side, partner on the same serial",
       "1S:412345**3L:256**5M:R9G**6RS:412345**8RL:512**",
       "",
       "1S:412345**3L:256**5M:R9G**6RS:412345**8RL:512**",
       {}},
      {"P-VOL side, VSM",
       "1S:412345**2VS:500100**3L:256**4VL:16**5M:R9G**6RS:410001**8RL:512**14GS:1**",
       "",
       "1S:412345**3L:256**5M:R9G**6RS:410001**8RL:512**7RVS:500100**9RVL:16**2VS:500100**4VL:16**",
       {}},
      {"P-VOL side, VSM equal to the partner",
       "1S:412345**2VS:410001**3L:256**4VL:16**5M:R9G**6RS:410001**8RL:512**",
       "",
       "1S:412345**3L:256**5M:R9G**6RS:410001**8RL:512**2VS:410001**4VL:16**",
       {}},
      {"paired setting ignored on the P-VOL side",
       "1S:412345**3L:256**5M:R9G**6RS:410001**8RL:512**14GS:1**",
       "499999",
       "1S:412345**3L:256**5M:R9G**6RS:410001**8RL:512**7RVS:412345**9RVL:256**",
       {}},
      {"S-VOL side, no VSM",
       "1S:412345**3L:256**5M:R9G**6RS:410001**8RL:512**14GS:2**10SG:QB_7**",
       "410001",
       "1S:410001**3L:512**5M:R9G**6RS:412345**8RL:256**2VS:412345**4VL:256**",
       {"412345", "410001"}},
      {"S-VOL side, partner from the setting",
       "1S:412345**3L:256**5M:R9G**6RS:**8RL:512**14GS:2**",
       "420000",
       "1S:420000**3L:512**5M:R9G**6RS:412345**8RL:256**2VS:412345**4VL:256**",
       {"412345", "420000"}},
      {"S-VOL side, VSM",
       "1S:412345**2VS:500100**3L:256**4VL:16**5M:R9G**6RS:410001**8RL:512**14GS:2**",
       "410001",
       "1S:410001**3L:512**5M:R9G**6RS:412345**8RL:256**7RVS:500100**9RVL:16**2VS:500100**4VL:16**",
       {"500100", "410001"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Gad g;
    FakeSnapInfo& d = g.add(r.metadata);
    if (!r.pairedSetting.empty()) g.paired("412345", r.pairedSetting);
    ASSERT_EQ(g.run(), 1);
    EXPECT_EQ(d.metadata(6), r.expected);
    auto calls = d.arrayInformationCalls();
    if (r.binding.empty()) {
      EXPECT_TRUE(calls.empty());
    } else {
      ASSERT_EQ(calls.size(), 1u);
      EXPECT_EQ(calls[0].serial, r.binding[0]);
      EXPECT_EQ(calls[0].secondSerial, r.binding[1]);
      EXPECT_EQ(calls[0].flag, 1);
    }
    EXPECT_TRUE(
        d.logged("Generated metadata-[" + r.expected + "] after Segregating the source device"));
    EXPECT_EQ(d.errorCode(), 0);
  }
}

TEST(GadPairRole, SecondRunTreatsEveryDeviceAsPvolSide) {
  Gad g;
  FakeSnapInfo& d = g.add("1S:412345**3L:256**5M:R9G**6RS:410001**8RL:512**14GS:2**");
  g.paired("412345", "410001");
  ASSERT_EQ(g.run(), 1);
  const std::string once = d.metadata(6);
  EXPECT_EQ(once.find("14GS"), std::string::npos);
  ASSERT_EQ(g.run(), 1);
  // Now described from the partner array: kept as it is, no binding.
  EXPECT_EQ(d.metadata(6), "1S:410001**3L:512**5M:R9G**6RS:412345**8RL:256**2VS:412345**4VL:256**");
  EXPECT_EQ(d.arrayInformationCalls().size(), 1u);
}

TEST(GadPairRole, SettingIsReadPerDeviceSerial) {
  Gad g;
  FakeSnapInfo& a = g.add("1S:412345**3L:1**5M:R9G**6RS:410001**8RL:2**14GS:2**");
  FakeSnapInfo& b = g.add("1S:420000**3L:3**5M:R9G**6RS:430000**8RL:4**14GS:2**");
  g.paired("412345", "410001");
  g.paired("420000", "430000");
  ASSERT_EQ(g.run(), 1);
  EXPECT_EQ(a.metadata(6).substr(0, 11), "1S:410001**");
  EXPECT_EQ(b.metadata(6).substr(0, 11), "1S:430000**");
}

TEST(GadPairRole, ErrorsAreRecordedOnTheFirstDevice) {
  struct Row {
    const char* name;
    bool failRead;
    bool noSetting;
    bool failBind;
    bool failWrite;
    int code;
    const char* text;
    const char* log;
  };
  const std::vector<Row> rows = {
      {"unreadable metadata", true, false, false, false, 62005,
       "Failed to get the array information in DB.", "Unable to get the array info in the DB."},
      {"no paired array", false, true, false, false, 62008,
       "Failed to get the GAD pair information for the source devices.",
       "S-VOL side of the GAD pair is active. Please enable the P-VOL side of the GAD pair to "
       "backup GAD paired "
       "devices."},
      {"binding refused", false, false, true, false, 62005,
       "Failed to get the array information from DB.", "Unable to get the array info from the DB."},
      {"metadata refused", false, false, false, true, 62008, "Failed to set HDS metadata.",
       " Failed to set HDS metadata [Id : 6]"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Gad g;
    FakeSnapInfo& first = g.add("1S:412345**3L:1**5M:R9G**6RS:410001**8RL:2**14GS:1**");
    const std::string firstBefore = first.metadata(6);
    FakeSnapInfo& second = g.add("1S:420000**3L:3**5M:R9G**6RS:430000**8RL:4**14GS:2**");
    const std::string secondBefore = second.metadata(6);
    if (!r.noSetting) g.paired("420000", "430000");
    if (r.failRead) second.failOn("getMetadata");
    if (r.failBind) second.setArrayInformationResult(1);
    if (r.failWrite) second.failOn("setMetadata");
    EXPECT_EQ(g.run(), 0);
    EXPECT_EQ(first.errorCode(), r.code);
    EXPECT_EQ(first.errorText(), r.text);
    EXPECT_TRUE(first.logged(r.log));
    EXPECT_EQ(second.errorCode(), 0);
    EXPECT_EQ(second.metadata(6), secondBefore);
    // The device handled before the failure keeps its rewritten metadata.
    EXPECT_NE(first.metadata(6), firstBefore);
    EXPECT_EQ(first.metadata(6).find("14GS"), std::string::npos);
  }
}

TEST(GadPairRole, EmptyMetadataIsNoFailure) {
  Gad g;
  FakeSnapInfo& d = g.add("");
  ASSERT_EQ(g.run(), 1);
  EXPECT_EQ(d.metadata(6), "1S:**3L:**5M:**6RS:**8RL:**");
}

}  // namespace
