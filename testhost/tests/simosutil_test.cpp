// The OS utility over the simulated array: which devices the host sees,
// when, and what their SCSI inquiries answer.
#include <gtest/gtest.h>

#include <cstring>

#include "host/ZrDeviceTree.h"
#include "sim/ccisim_fixture.h"
#include "testhost/ZrSimOSUtil.h"
#include "testhost/tests/test_array.h"

namespace {

using zrtest::kMine;
using zrtest::kSerial;
const char kOther[] = "210000e08b0999aa";

class SimOSUtilTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zrtest::addTestArray(sim, {256, 257, 258});
    sim.addHostGroup(kSerial, "CL1-A", 2, "other");
    sim.addHostGroupWwn(kSerial, "CL1-A", 2, kOther);
    sim.addLun(kSerial, "CL1-A", 1, 0, 256);
    sim.addLun(kSerial, "CL1-A", 2, 0, 257);
    sim.addCommandDevice("/dev/sdc", kSerial, 2047);
  }
  std::vector<std::string> paths(ZrSimOSUtil& util) {
    std::vector<std::string> out;
    for (const ZrSimDevice& d : util.visibleDevices()) out.push_back(d.path);
    return out;
  }
  std::string list(ZrSimOSUtil& util) {
    char buffer[1024] = {0};
    EXPECT_EQ(0, util.getDeviceList("mahost01", "HITACHI", '*', sizeof buffer, buffer));
    return buffer;
  }
  ccisim::Fixture sim;
};

TEST_F(SimOSUtilTest, SeesOnlyLunsOfHostGroupsHoldingItsInitiatorsAndTheCommandDevice) {
  ZrSimOSUtil util(sim.statePath(), {kMine});
  EXPECT_EQ((std::vector<std::string>{"/dev/sdc", "/dev/zrsim/412345/256"}), paths(util));
  EXPECT_EQ("/dev/sdc*/dev/zrsim/412345/256*", list(util));
  // Initiators compare without regard to case, as the array lists them.
  ZrSimOSUtil upper(sim.statePath(), {"210000E08B0999AA"});
  EXPECT_EQ((std::vector<std::string>{"/dev/sdc", "/dev/zrsim/412345/257"}), paths(upper));
}

TEST_F(SimOSUtilTest, NewLunAppearsOnlyAfterRescanAndDeletedPathVanishesAtOnce) {
  ZrSimOSUtil util(sim.statePath(), {kMine});
  sim.addLun(kSerial, "CL1-A", 1, 1, 258);
  EXPECT_EQ(2u, paths(util).size());
  const char* none[] = {nullptr};
  EXPECT_EQ(1, util.refreshSystemBus(nullptr, none, none));
  EXPECT_EQ(3u, paths(util).size());
  sim.update([](ccisim::State& s) { s.arrays["412345"].hostGroup("CL1-A", 1)->luns.erase(0); });
  EXPECT_EQ((std::vector<std::string>{"/dev/sdc", "/dev/zrsim/412345/258"}), paths(util));
  // Mapping it back does not bring it back before the next rescan.
  sim.addLun(kSerial, "CL1-A", 1, 0, 256);
  EXPECT_EQ(2u, paths(util).size());
  util.rescan();
  EXPECT_EQ(3u, paths(util).size());
  EXPECT_EQ(3, util.rescanCount());
}

// The devices are worked out once per change of the state: an inquiry
// between changes answers from them, and one after a change from the new
// state (a removed path at once, an added one after the rescan).
TEST_F(SimOSUtilTest, InquiriesFollowEveryChangeOfTheState) {
  ZrSimOSUtil util(sim.statePath(), {kMine});
  const std::string p256 = "/dev/zrsim/412345/256", p258 = "/dev/zrsim/412345/258";
  std::vector<uint8_t> reply;
  EXPECT_TRUE(util.inquiry(p256, 0xE2, reply));
  EXPECT_TRUE(util.inquiry(p256, -1, reply));
  EXPECT_FALSE(util.inquiry(p256, 0x83, reply));
  EXPECT_FALSE(util.inquiry(p258, 0xE2, reply));
  sim.update([](ccisim::State& s) { s.arrays["412345"].hostGroup("CL1-A", 1)->luns.erase(0); });
  EXPECT_FALSE(util.inquiry(p256, 0xE2, reply)) << "a removed path is gone at once";
  sim.addLun(kSerial, "CL1-A", 1, 1, 258);
  EXPECT_FALSE(util.inquiry(p258, 0xE2, reply)) << "not before the rescan";
  util.rescan();
  EXPECT_TRUE(util.inquiry(p258, 0xE2, reply));
  EXPECT_EQ(reply, sim.inquiryE2(kSerial, 258));
}

TEST_F(SimOSUtilTest, InquiryThroughTheDeviceTreeAnswersTheSimulatorsPages) {
  ZrSimOSUtil util(sim.statePath(), {kMine});
  ZrDeviceProvider* previous = ZrDeviceTree::setProvider(&util);
  struct Row {
    const char* path;
    unsigned char evpd, page;
    int result;  // bytes, or -1
    const char* product;
  } rows[] = {
      {"/dev/zrsim/412345/256", 0, 0, 255, "OPEN-V"},
      {"/dev/sdc", 0, 0, 255, "OPEN-V-CM"},
      {"/dev/zrsim/412345/256", 1, 0xE2, 255, nullptr},
      {"/dev/zrsim/412345/256", 1, 0x83, -1, nullptr},  // no such page
      {"/dev/zrsim/412345/256", 0, 0xE2, -1, nullptr},  // page without EVPD
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.path);
    CNqError error;
    SP<ZrDevice> dev = ZrDeviceTree::getDevice(r.path, &error);
    ASSERT_TRUE(dev != nullptr);
    ZrDeviceScsiIface* scsi = dev->queryInterface("ZrDeviceScsiIface");
    ASSERT_NE(nullptr, scsi);
    unsigned char cdb[6] = {0x12, r.evpd, r.page, 0, 255, 0};
    unsigned char reply[255] = {0};
    EXPECT_EQ(r.result, scsi->send(cdb, 6, reply, 255, 0, 1, 0, 0, 10, &error));
    if (r.result < 0) {
      EXPECT_TRUE(error.IsError());
      continue;
    }
    const std::vector<uint8_t> want =
        r.evpd ? sim.inquiryE2(kSerial, 256)
               : (r.product[6] == '-' ? sim.commandDeviceInquiryStandard("/dev/sdc")
                                      : sim.inquiryStandard(kSerial, 256));
    EXPECT_EQ(0, std::memcmp(want.data(), reply, 255));
    if (r.product != nullptr) {
      EXPECT_EQ(r.product,
                std::string(reinterpret_cast<char*>(reply) + 16, std::strlen(r.product)));
    }
  }
  // A LUN of another host's group, and an unknown path, cannot be opened.
  for (const char* path : {"/dev/zrsim/412345/257", "/dev/sdx"}) {
    CNqError error;
    EXPECT_FALSE(ZrDeviceTree::getDevice(path, &error) != nullptr) << path;
    EXPECT_TRUE(error.IsError());
  }
  ZrDeviceTree::setProvider(previous);
}

TEST_F(SimOSUtilTest, BuffersFollowTheHostsSizingConventions) {
  ZrSimOSUtil util(sim.statePath(), {kMine, kOther});
  char small[8] = {0};
  const int needed = util.getDeviceList("h", "HITACHI", '*', sizeof small, small);
  EXPECT_EQ(
      static_cast<int>(std::strlen("/dev/sdc*/dev/zrsim/412345/256*/dev/zrsim/412345/257*")) + 1,
      needed);
  short namesLength = 0, typesLength = 0, third = 0;
  EXPECT_FALSE(
      util.detectHbaList(nullptr, "", nullptr, &namesLength, nullptr, &typesLength, &third));
  EXPECT_EQ(34, namesLength);
  EXPECT_EQ(2, typesLength);
  char names[64] = {0}, types[4] = {9, 9, 9, 9};
  namesLength = sizeof names;
  typesLength = 2;
  EXPECT_TRUE(util.detectHbaList(nullptr, "", names, &namesLength, types, &typesLength, &third));
  EXPECT_STREQ("210000e08b0256f8,210000e08b0999aa", names);
  EXPECT_EQ(0, types[0]);
  EXPECT_EQ(0, types[1]);
  char one[4] = {0};
  short length = sizeof one;
  bool iscsi = true;
  EXPECT_FALSE(util.detectHba("h", "", one, &length, iscsi));
  EXPECT_EQ(17, length);
  EXPECT_FALSE(iscsi);
  // Without a handler the remote call and the clone fail.
  EXPECT_FALSE(util.executeOnRemoteMA("ma2"));
  std::vector<ZRSO::SnapInfo*> clones;
  EXPECT_EQ(0, util.cloneSnaps({}, &clones));
}

TEST(SimOSUtilStateTest, UnreadableStateShowsNoDevices) {
  ZrSimOSUtil util("/nonexistent/ccisim.state", {kMine});
  EXPECT_TRUE(util.visibleDevices().empty());
  ccisim::State s;
  std::string error;
  EXPECT_FALSE(ZrSimOSUtil::loadState("/nonexistent/ccisim.state", s, &error));
  EXPECT_NE(std::string::npos, error.find("/nonexistent"));
}

}  // namespace
