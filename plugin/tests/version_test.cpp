// Version, capability probe, the entries with nothing to do, and the
// rediscovery of mapped snapshot devices.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/tests/support/PluginTestEnv.h"
#include "plugin/zrso_api.h"

namespace {

TEST(Version, StoresOneZeroZeroOnlyWithAllThreePointers) {
  short major = 9, minor = 9, patch = 9;
  zrso_version(&major, nullptr, &patch);
  EXPECT_EQ(9, major);
  EXPECT_EQ(9, patch);
  zrso_version(&major, &minor, &patch);
  EXPECT_EQ(1, major);
  EXPECT_EQ(0, minor);
  EXPECT_EQ(0, patch);
}

TEST(IsSupported, Table) {
  plugin_test::Env env;
  env.tree.addLdev("/dev/sdb", zrinq::physicalLdev(410001, 100));
  env.tree.addDisk("/dev/sdc", {zrinq::standardPage("ATA", "Disk", "ABC", "0001"), {}});
  struct Row {
    const char* device;
    int expected;
  } rows[] = {{"/dev/sdb", 0}, {"/dev/sdc", 1}, {"/dev/missing", 1}, {nullptr, 1}};
  for (const Row& r : rows) {
    EXPECT_EQ(r.expected, zrso_isSupported(r.device, 0, nullptr, nullptr, 0))
        << (r.device ? r.device : "null");
  }
}

TEST(NothingToDo, IsMappedAndPreSnapReturnZeroWithoutTouchingAnything) {
  plugin_test::Env env;
  env.addDevices({1});
  env.at(0).setStatus(6);
  EXPECT_EQ(0, zrso_isMapped(env.array(), env.count(), &env.util));
  EXPECT_EQ(0, zrso_preSnapDevices(nullptr, 0, nullptr));
  EXPECT_EQ(6, env.at(0).getStatus());
  EXPECT_TRUE(env.at(0).logs().empty());
}

// Rediscovery: devices with their unique record (6) and map record (65).
class ProcessVPD : public ::testing::Test {
 protected:
  // A snap whose source is LDEV 100 of array 410001, mapped as target.
  FakeSnapInfo& addSnap(const std::string& unique, const std::string& mapRecord) {
    env.addDevices({1});
    FakeSnapInfo& d = env.devices.back();
    d.setDeviceDetectionModeValue(2);
    d.setMetadataText(6, unique);
    if (!mapRecord.empty()) d.setMetadataText(65, mapRecord);
    return d;
  }
  void offerPaths(const std::string& text) { env.at(0).setDeviceDetectionInfoTexts(text, "x"); }
  int run() { return zrso_processVPDInfo(env.array(), env.count(), &env.util); }

  plugin_test::Env env;
};

TEST_F(ProcessVPD, DetectionModeOutsideTwoThreeNineDoesNothing) {
  for (int mode : {0, 5, 8}) {
    plugin_test::Env local;
    local.addDevices({1});
    local.at(0).setDeviceDetectionModeValue(mode);
    EXPECT_EQ(0, zrso_processVPDInfo(local.array(), local.count(), &local.util));
    EXPECT_EQ(0, local.at(0).callCount("getDeviceDetectionInfo"));
    EXPECT_EQ(0, local.at(0).callCount("getMetadata"));
  }
}

TEST_F(ProcessVPD, PathsArePiecesBeforeEachBar) {
  env.tree.addLdev("/dev/sdb", zrinq::physicalLdev(410001, 200));
  env.tree.addLdev("/dev/sdc", zrinq::physicalLdev(410001, 201));
  addSnap("1S:410001**3L:100**", "22LI:201**");
  offerPaths("/dev/sdb|/dev/sdc");
  EXPECT_EQ(1, run());  // the unterminated last path is never inquired
  EXPECT_EQ(0, env.tree.inquiries("/dev/sdc"));
  EXPECT_TRUE(env.at(0).logged("Only [0] out of [1] devices found."));
  offerPaths("/dev/sdb|/dev/sdc|");
  EXPECT_EQ(0, run());
  EXPECT_EQ("$1mdPath:/dev/sdc%%", env.at(0).metadata(133));
}

TEST_F(ProcessVPD, AlreadyDiscoveredDeviceIsCountedWithoutAWrite) {
  env.tree.addLdev("/dev/sdb", zrinq::physicalLdev(410001, 300));
  FakeSnapInfo& done = addSnap("1S:410001**3L:100**", "22LI:299**");
  done.setMetadataText(133, "$1mdPath:/dev/old%%");
  FakeSnapInfo& fresh = addSnap("1S:410001**3L:101**", "22LI:300**");
  offerPaths("/dev/sdb|");
  EXPECT_EQ(0, run());
  EXPECT_EQ("$1mdPath:/dev/old%%", done.metadata(133));
  EXPECT_EQ(0, done.callCount("setMetadata"));
  EXPECT_EQ("$1mdPath:/dev/sdb%%", fresh.metadata(133));
}

TEST_F(ProcessVPD, VirtualStorageMachineMatchesVirtualSerialAndTargetId) {
  zrinq::LdevIdentity vsm = zrinq::physicalLdev(410001, 500);
  vsm.serial = 420002;
  vsm.ldev = 77;
  env.tree.addLdev("/dev/sdv", vsm);
  // The physical identity of the same target on another path must not match.
  env.tree.addLdev("/dev/sdp", zrinq::physicalLdev(410001, 500));
  addSnap("1S:410001**2VS:420002**3L:100**", "22LI:500**24VI:77**");
  offerPaths("/dev/sdp|/dev/sdv|");
  EXPECT_EQ(0, run());
  EXPECT_EQ("$1mdPath:/dev/sdv%%", env.at(0).metadata(133));
}

TEST_F(ProcessVPD, ASnapWithoutATargetIsNeverFound) {
  // An LU of the same array whose inquiry names no LDEV.
  env.tree.addDisk(
      "/dev/sdx",
      {zrinq::standardPage("HITACHI", "OPEN-V", zrinq::rawSerial("R800", 410001), ""), {}});
  addSnap("1S:410001**3L:100**", "16ON:**22LI:**24VI:**23OS:**17HG:N/A**");
  offerPaths("/dev/sdx|");
  EXPECT_EQ(1, run());
  EXPECT_FALSE(env.at(0).hasMetadata(133));
}

TEST_F(ProcessVPD, OneOfThreeNotFound) {
  env.tree.addLdev("/dev/sdb", zrinq::physicalLdev(410001, 10));
  env.tree.addLdev("/dev/sdc", zrinq::physicalLdev(410001, 12));
  env.tree.addDisk("/dev/sdd", {zrinq::standardPage("ATA", "Disk", "ABC", "0001"), {}});
  addSnap("1S:410001**3L:1**", "22LI:10**");
  addSnap("1S:410001**3L:2**", "22LI:11**");
  addSnap("1S:410001**3L:3**", "22LI:12**");
  offerPaths("/dev/sdb|/dev/sdd|/dev/gone|/dev/sdc|");
  EXPECT_EQ(1, run());
  EXPECT_EQ("$1mdPath:/dev/sdb%%", env.at(0).metadata(133));
  EXPECT_FALSE(env.at(1).hasMetadata(133));
  EXPECT_EQ("$1mdPath:/dev/sdc%%", env.at(2).metadata(133));
  EXPECT_TRUE(env.at(0).logged("Failed to inquire details for device-[/dev/gone]."));
  EXPECT_TRUE(env.at(0).logged("Cached [2] device SCSI details. Total-[4] (other vendor-[2])."));
  EXPECT_TRUE(env.at(0).logged("Unable to discover device-[2]. Continuing with next device.."));
  EXPECT_TRUE(env.at(0).logged("Only [2] out of [3] devices found."));
  EXPECT_TRUE(env.at(0).logged("Completed processing VPD for snapshot(s)/clone(s) with Error."));
}

TEST_F(ProcessVPD, FailuresEndTheCallAtOnce) {
  struct Row {
    const char* name;
    const char* mapRecord;
    const char* fault;
    const char* logLine;
  } rows[] = {
      {"no detection info", "22LI:10**", "getDeviceDetectionInfo",
       "Failed to get device detection related info from pRDM metadata."},
      {"metadata 133 unreadable", "22LI:10**", "getMetadata",
       "Failed to get pRDM mount device metadata."},
      {"no map record", "", nullptr, "Unable to get mapped LDEV info from metadata."},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    plugin_test::Env local;
    local.tree.addLdev("/dev/sdb", zrinq::physicalLdev(410001, 10));
    local.addDevices({1, 1});
    for (FakeSnapInfo& d : local.devices) {
      d.setDeviceDetectionModeValue(3);
      d.setMetadataText(6, "1S:410001**3L:1**");
      if (*r.mapRecord) d.setMetadataText(65, r.mapRecord);
    }
    local.at(0).setDeviceDetectionInfoTexts("/dev/sdb|", "");
    if (r.fault) local.at(0).failOn(r.fault);
    EXPECT_EQ(1, zrso_processVPDInfo(local.array(), local.count(), &local.util));
    EXPECT_TRUE(local.at(0).logged(r.logLine));
    EXPECT_FALSE(local.at(1).hasMetadata(133));
  }
}

}  // namespace
