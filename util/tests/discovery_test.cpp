// Post-map discovery and post-unmap rescan, driven by the fake clock: found
// in the first pass, in a later pass, never (60509 after the wait); virtual
// storage machine identities; the removal list keyed by serial and LDEV.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/testing/FakeOSUtil.h"
#include "host/testing/FakeSnapInfo.h"
#include "host/testing/ZrInquiryPages.h"
#include "util/HDSCLIUtils.h"
#include "util/tests/support/HostUtilTestEnv.h"

using namespace ZRHDSCLIUtils;
using hostutil_test::Env;
using zrinq::physicalLdev;
using Strings = std::vector<std::string>;

namespace {

struct Discovery {
  Env env;
  FakeOSUtil util;
  std::vector<std::unique_ptr<FakeSnapInfo>> snaps;
  std::vector<ZRSO::SnapInfo*> array;
  ZRMapInitiatorParams params;

  Discovery() {
    params.localHostIdentifier = "testhost01";
    params.localInitiators = {"50060E80AABBCCDD"};
    params.deviceListBefore = {"/dev/sda"};
  }
  // A snap named name whose unique metadata is metadata, with its discovery
  // entry (target LDEV ms, virtual LDEV msVsm).
  FakeSnapInfo& addSnap(const std::string& name, const std::string& metadata, const std::string& ms,
                        const std::string& msVsm = "",
                        int status = ZRSO::SNAP_STATUS_MAPPED_ON_ARRAY) {
    snaps.emplace_back(new FakeSnapInfo());
    FakeSnapInfo& s = *snaps.back();
    s.setSnapName(name);
    s.setSourceDevicePathText("/dev/src-" + name);
    s.setMetadataText(6, metadata);
    s.setStatus(status);
    array.push_back(&s);
    ZRHDSMapDiscoveryInfo d;
    d.MSName = name;
    d.MSNum = ms;
    d.MSNumVSM = msVsm;
    params.mapDiscoveryInfo.push_back(d);
    return s;
  }
  int map() { return FinishPostMap(array.data(), static_cast<short>(array.size()), &util, params); }
  bool unmap() {
    return FinishPostUnmap(array.data(), static_cast<short>(array.size()), &util, params);
  }
  int64_t slept() { return env.clock.totalSleptMillis(); }
};

TEST(FinishPostMap, FoundInTheFirstPass) {
  Discovery t;
  FakeSnapInfo& s = t.addSnap("snap1", "1S:412345**3L:10**", "300");
  t.util.setDevices({"/dev/sda", "/dev/sdb"});
  t.env.tree.addLdev("/dev/sdb", physicalLdev(412345, 300));
  ASSERT_EQ(t.map(), 1);
  EXPECT_EQ(s.getStatus(), ZRSO::SNAP_STATUS_MAPPED);
  EXPECT_EQ(s.snapDevicePath(), "/dev/sdb");
  EXPECT_EQ(t.slept(), 3000);  // the default refresh delay, once
  auto rescans = t.util.refreshCalls();
  ASSERT_EQ(rescans.size(), 1u);
  EXPECT_EQ(rescans[0].option, "testhost01");
  EXPECT_EQ(rescans[0].first, Strings{"50060E80AABBCCDD"});
  EXPECT_TRUE(rescans[0].second.empty());
  auto lists = t.util.deviceListCalls();
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_EQ(lists[0].hostId, "testhost01");
  EXPECT_EQ(lists[0].vendor, "HITACHI");
  EXPECT_EQ(t.env.tree.inquiries("/dev/sda"), 0);  // only new devices are inquired
  EXPECT_TRUE(s.logged("Found SnapDevicePath-[/dev/sdb] for the SourceDevice-[/dev/src-snap1]"));
  EXPECT_TRUE(s.logged("Found all the Snap Devices after system bus refresh."));
  EXPECT_EQ(s.errorCode(), 0);
}

// Many snaps and many new devices: each device is inquired at most once per
// pass, and each snap takes the first device of the list that shows its
// target (two devices showing the same LDEV: the first one listed).
TEST(FinishPostMap, EachNewDeviceIsInquiredOncePerPass) {
  Discovery t;
  const int n = 8;
  std::vector<FakeSnapInfo*> snaps;
  Strings devices = {"/dev/sda"};
  for (int i = 0; i < n; ++i) {
    snaps.push_back(&t.addSnap("snap" + std::to_string(i),
                               "1S:412345**3L:" + std::to_string(10 + i) + "**",
                               std::to_string(300 + i)));
  }
  // Listed in the reverse order of the snaps, and LDEV 300 twice.
  for (int i = n - 1; i >= 0; --i) {
    const std::string path = "/dev/sd" + std::string(1, static_cast<char>('b' + i));
    devices.push_back(path);
    t.env.tree.addLdev(path, physicalLdev(412345, 300 + i));
  }
  devices.push_back("/dev/sdz");
  t.env.tree.addLdev("/dev/sdz", physicalLdev(412345, 300));
  t.util.setDevices(devices);
  ASSERT_EQ(t.map(), 1);
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(snaps[static_cast<size_t>(i)]->getStatus(), ZRSO::SNAP_STATUS_MAPPED) << i;
    EXPECT_EQ(snaps[static_cast<size_t>(i)]->snapDevicePath(),
              "/dev/sd" + std::string(1, static_cast<char>('b' + i)))
        << i;
  }
  for (size_t d = 1; d + 1 < devices.size(); ++d) {
    EXPECT_EQ(t.env.tree.inquiries(devices[d]), 1) << devices[d];
  }
  EXPECT_EQ(t.env.tree.inquiries("/dev/sdz"), 0) << "every snap was found before it";
}

TEST(FinishPostMap, FoundInTheSecondPass) {
  Discovery t;
  FakeSnapInfo& s = t.addSnap("snap1", "1S:412345**3L:10**", "300");
  t.util.queueDeviceListText("/dev/sda*");
  t.util.queueDeviceListText("/dev/sda*/dev/sdb*");
  t.env.tree.addLdev("/dev/sdb", physicalLdev(412345, 300));
  ASSERT_EQ(t.map(), 1);
  EXPECT_EQ(s.getStatus(), ZRSO::SNAP_STATUS_MAPPED);
  EXPECT_EQ(s.snapDevicePath(), "/dev/sdb");
  EXPECT_EQ(t.util.rescanCount(), 2);
  EXPECT_EQ(t.slept(), (3 + 10 + 3) * 1000);
  // Nothing new in pass 1: every listed device was inquired.
  EXPECT_TRUE(s.logged("Device list difference is empty"));
  EXPECT_TRUE(s.logged("Failed to perform SCSI Inquiry on device-[/dev/sda]"));
  EXPECT_TRUE(s.logged("Found only [0] Snap Devices after system bus refresh."));
  EXPECT_TRUE(s.logged("Snap device path for the source device-[/dev/src-snap1] not found."));
}

TEST(FinishPostMap, NeverFoundEndsWith60509AfterTheWait) {
  struct Row {
    int setting;  // -1: not set
    int passes;
    int sleptMs;
  };
  // Each pass: 3 s refresh delay and 10 s pause; the refresh delay of the
  // pass that starts at 39 s of a 40 s wait is cut to the 1 s left.
  const std::vector<Row> rows = {
      {10, 3, 39000}, {0, 3, 39000}, {30, 3, 39000}, {40, 4, 50000}, {-1, 14, 182000}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.setting);
    Discovery t;
    if (r.setting >= 0) t.env.setInt("~Tessavon", "nZRHDSMountWaitTimeInSecs", r.setting);
    FakeSnapInfo& s = t.addSnap("snap1", "1S:412345**3L:10**", "300");
    FakeSnapInfo& s2 = t.addSnap("snap2", "1S:412345**3L:11**", "301");
    t.util.setDevices({"/dev/sda", "/dev/sdb"});
    t.env.tree.addLdev("/dev/sdb", physicalLdev(412345, 300));
    EXPECT_EQ(t.map(), 0);
    EXPECT_EQ(t.util.rescanCount(), r.passes);
    EXPECT_EQ(t.slept(), r.sleptMs);
    EXPECT_EQ(s.getStatus(), ZRSO::SNAP_STATUS_MAPPED);
    EXPECT_EQ(s2.getStatus(), ZRSO::SNAP_STATUS_MAPPED_DEVICE_NOT_FOUND);
    EXPECT_EQ(s.errorCode(), 60509);
    EXPECT_EQ(s.errorText(), "Unable to find OS device(s) corresponding to snap(s)/clone(s)");
    EXPECT_EQ(s2.errorCode(), 0);
    // The snap found in pass 1 was recorded once, not looked for again.
    EXPECT_EQ(s.callCount("setSnapDevicePath"), 1);
  }
}

TEST(FinishPostMap, VirtualStorageMachineSnapsUseVirtualIdentity) {
  Discovery t;
  FakeSnapInfo& vsm = t.addSnap("vsm", "1S:412345**2VS:500100**3L:10**4VL:20**", "300", "40");
  FakeSnapInfo& plain = t.addSnap("plain", "1S:412345**3L:11**", "301", "41");
  FakeSnapInfo& same = t.addSnap("same", "1S:412345**2VS:412345**3L:12**4VL:12**", "302", "42");
  t.util.setDevices({"/dev/sda", "/dev/sdd", "/dev/sdc", "/dev/sde", "/dev/sdf", "/dev/sdg"});
  t.env.tree.addLdev("/dev/sdd",
                     physicalLdev(412345, 300));  // the VSM target's physical identity: no match
  t.env.tree.addLdev("/dev/sdc", physicalLdev(500100, 40));
  t.env.tree.addLdev("/dev/sde", physicalLdev(412345, 301));
  t.env.tree.addLdev("/dev/sdf",
                     physicalLdev(500100, 41));  // the plain snap's virtual id: no match
  t.env.tree.addLdev("/dev/sdg", physicalLdev(412345, 302));
  ASSERT_EQ(t.map(), 1);
  EXPECT_EQ(vsm.snapDevicePath(), "/dev/sdc");
  EXPECT_EQ(plain.snapDevicePath(), "/dev/sde");
  EXPECT_EQ(same.snapDevicePath(), "/dev/sdg");
}

TEST(FinishPostMap, FirstOfTwoMatchingDevicesIsRecorded) {
  Discovery t;
  FakeSnapInfo& s = t.addSnap("snap1", "1S:412345**3L:10**", "300");
  t.util.setDevices({"/dev/sdc", "/dev/sdb"});
  t.env.tree.addLdev("/dev/sdb", physicalLdev(412345, 300));
  t.env.tree.addLdev("/dev/sdc", physicalLdev(412345, 300));
  ASSERT_EQ(t.map(), 1);
  EXPECT_EQ(s.snapDevicePath(), "/dev/sdc");
  EXPECT_EQ(t.env.tree.inquiries("/dev/sdb"), 0);
}

// A map run again after a failure: some targets were presented (and listed)
// before the call. They are looked for among the devices listed before once
// no new device shows them; a new device showing the LDEV still comes first.
TEST(FinishPostMap, TargetsPresentedBeforeTheCallAreFoundInTheFirstPass) {
  struct Row {
    Strings before, after;
    std::map<std::string, int> disks;  // the LDEV a device shows
    Strings paths;                     // found for LDEVs 300 and 301
  };
  const std::string a = "/dev/sda", b = "/dev/sdb", c = "/dev/sdc", d = "/dev/sdd";
  const std::vector<Row> rows = {{{a, b}, {a, b, c}, {{b, 300}, {c, 301}}, {b, c}},
                                 {{b, d}, {b, c, d}, {{b, 300}, {c, 300}, {d, 301}}, {c, d}},
                                 {{b, c}, {b, c, d}, {{b, 301}, {c, 300}, {d, 999}}, {c, b}}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.paths[0]);
    Discovery t;
    t.params.deviceListBefore = r.before;
    FakeSnapInfo& s0 = t.addSnap("snap0", "1S:412345**3L:10**", "300");
    FakeSnapInfo& s1 = t.addSnap("snap1", "1S:412345**3L:11**", "301");
    for (const auto& [dev, ldev] : r.disks) t.env.tree.addLdev(dev, physicalLdev(412345, ldev));
    t.util.setDevices(r.after);
    ASSERT_EQ(t.map(), 1);
    EXPECT_EQ((Strings{s0.snapDevicePath(), s1.snapDevicePath()}), r.paths);
    EXPECT_EQ(t.util.rescanCount(), 1);
    EXPECT_EQ(t.slept(), 3000);  // one pass: nothing waited out
    for (const std::string& path : r.after) EXPECT_LE(t.env.tree.inquiries(path), 1) << path;
  }
}

TEST(FinishPostMap, NonHitachiAndWrongIdentitiesDoNotMatch) {
  Discovery t;
  FakeSnapInfo& s = t.addSnap("snap1", "1S:412345**3L:10**", "300");
  zrinq::LdevIdentity foreign = physicalLdev(412345, 300);
  foreign.vendor = "SEAGATE";  // raw serial text differs, and it is not Hitachi
  t.env.tree.addLdev("/dev/sdb", foreign);
  t.env.tree.addLdev("/dev/sdc", physicalLdev(412345, 3000));
  t.env.tree.addLdev("/dev/sdd", physicalLdev(41234, 300));
  t.util.setDevices({"/dev/sda", "/dev/sdb", "/dev/sdc", "/dev/sdd"});
  EXPECT_EQ(t.map(), 0);
  EXPECT_EQ(s.getStatus(), ZRSO::SNAP_STATUS_MAPPED_DEVICE_NOT_FOUND);
  EXPECT_EQ(s.snapDevicePath(), "");
}

TEST(FinishPostMap, MissingEntryAndUnreadableMetadata) {
  Discovery t;
  FakeSnapInfo& first = t.addSnap("snap1", "1S:412345**3L:10**", "300");
  FakeSnapInfo& orphan = t.addSnap("orphan", "1S:412345**3L:11**", "301");
  t.params.mapDiscoveryInfo.pop_back();  // no entry for "orphan"
  FakeSnapInfo& unreadable = t.addSnap("unreadable", "1S:412345**3L:12**", "302");
  unreadable.failOn("getMetadata");
  t.util.setDevices({"/dev/sda", "/dev/sdb"});
  t.env.tree.addLdev("/dev/sdb", physicalLdev(412345, 300));
  EXPECT_EQ(t.map(), 0);
  EXPECT_EQ(first.getStatus(), ZRSO::SNAP_STATUS_MAPPED);
  EXPECT_EQ(orphan.getStatus(), ZRSO::SNAP_STATUS_MAPPED_DEVICE_NOT_FOUND);
  EXPECT_EQ(unreadable.getStatus(), ZRSO::SNAP_STATUS_MAPPED_ON_ARRAY);
  EXPECT_TRUE(first.logged("Snap device info for the source device-[/dev/src-orphan] not found."));
  EXPECT_TRUE(first.logged(
      "Failed to get info from Unique metadata for source device-[/dev/src-unreadable]"));
  EXPECT_EQ(first.errorCode(), 60509);
}

TEST(FinishPostMap, RescanAndListFailuresArePassesToo) {
  {
    Discovery t;
    FakeSnapInfo& s = t.addSnap("snap1", "1S:412345**3L:10**", "300");
    t.util.setDevices({"/dev/sda", "/dev/sdb"});
    t.env.tree.addLdev("/dev/sdb", physicalLdev(412345, 300));
    t.util.failOnce("refreshSystemBus");
    ASSERT_EQ(t.map(), 1);
    EXPECT_EQ(t.util.rescanCount(), 2);
    EXPECT_EQ(t.slept(), 6000);
    EXPECT_TRUE(s.logged("Failed to refresh the system bus."));
  }
  {
    Discovery t;
    FakeSnapInfo& s = t.addSnap("snap1", "1S:412345**3L:10**", "300");
    t.util.setDevices({"/dev/sda", "/dev/sdb"});
    t.env.tree.addLdev("/dev/sdb", physicalLdev(412345, 300));
    t.util.failOnce("getDeviceList");
    ASSERT_EQ(t.map(), 1);
    EXPECT_EQ(t.slept(), 9000);  // delay, delay after the failed list, delay
    EXPECT_TRUE(s.logged("Failed to get device list after Map."));
  }
}

TEST(FinishPostMap, NegativeRefreshDelayIsClampedToZero) {
  {
    Discovery t;
    t.env.setInt("~Tessavon", "nZRHDSMapUnmapSystemBusRefreshDelayInSecs", -5);
    FakeSnapInfo& s = t.addSnap("snap1", "1S:412345**3L:10**", "300");
    t.util.setDevices({"/dev/sda", "/dev/sdb"});
    t.env.tree.addLdev("/dev/sdb", physicalLdev(412345, 300));
    ASSERT_EQ(t.map(), 1);
    EXPECT_EQ(s.getStatus(), ZRSO::SNAP_STATUS_MAPPED);
    EXPECT_EQ(t.slept(), 0);
  }
  {
    // No delay and a host whose rescan always fails: every pass still
    // waits, so the deadline is reached.
    Discovery t;
    t.env.setInt("~Tessavon", "nZRHDSMapUnmapSystemBusRefreshDelayInSecs", -1);
    t.env.setInt("~Tessavon", "nZRHDSMountWaitTimeInSecs", 30);
    t.addSnap("snap1", "1S:412345**3L:10**", "300");
    t.util.failOn("refreshSystemBus");
    EXPECT_EQ(t.map(), 0);
    EXPECT_EQ(t.util.rescanCount(), 3);
    EXPECT_EQ(t.slept(), 30000);
  }
}

TEST(FinishPostMap, VmwareHostUsesItsIdentifierAndInitiators) {
  Discovery t;
  t.params.isVMware = true;
  t.params.hostIdentifier = "esx01";
  t.params.vmInitiators = {"21000024FF4ABCDE"};
  FakeSnapInfo& s = t.addSnap("snap1", "1S:412345**3L:10**", "300");
  s.setMetadataText(71, "HPE");
  t.util.setDevices({"/dev/sda", "/dev/sdb"});
  t.env.tree.addLdev("/dev/sdb", physicalLdev(412345, 300));
  ASSERT_EQ(t.map(), 1);
  EXPECT_EQ(t.util.refreshCalls()[0].option, "esx01");
  EXPECT_EQ(t.util.refreshCalls()[0].first, Strings{"21000024FF4ABCDE"});
  EXPECT_EQ(t.util.deviceListCalls()[0].hostId, "esx01");
  EXPECT_EQ(t.util.deviceListCalls()[0].vendor, "HPE");
}

TEST(FinishPostMap, NoSnapsReturnsAfterOnePass) {
  Discovery t;
  t.util.setDevices({"/dev/sda"});
  EXPECT_EQ(t.map(), 1);
  EXPECT_EQ(t.util.rescanCount(), 1);
}

// ---- FinishPostUnmap ---------------------------------------------------------

TEST(FinishPostUnmap, RemovesOnlyTheUnmappedArraysDevices) {
  Discovery t;
  // Prepared before the unmap: four Hitachi devices, two arrays sharing
  // LDEV number 300.
  FakeSnapInfo source;
  source.setSourceDevicePathText("/dev/sda");
  t.util.setHbaList({"50:06:0e:80:aa:bb:cc:dd"}, {0});
  t.util.setDevices({"/dev/sdb", "/dev/sdc", "/dev/sdd", "/dev/sde"});
  t.env.tree.addLdev("/dev/sdb", physicalLdev(412345, 300));
  t.env.tree.addLdev("/dev/sdc", physicalLdev(410001, 300));  // a live disk of another array
  t.env.tree.addLdev("/dev/sdd", physicalLdev(412345, 300));
  t.env.tree.addLdev("/dev/sde", physicalLdev(500100, 40));
  ZRSO::SnapInfo* sp = &source;
  ASSERT_EQ(PrepareToMapUnmap(sp, &t.util, true, t.params), 1);

  t.addSnap("snap1", "1S:412345**3L:10**", "300", "", ZRSO::SNAP_STATUS_UNMAPPED);
  t.addSnap("vsm", "1S:412345**2VS:500100**3L:11**4VL:21**", "301", "40",
            ZRSO::SNAP_STATUS_UNMAPPED);
  t.addSnap("still", "1S:410001**3L:12**", "300", "", ZRSO::SNAP_STATUS_MAPPED);
  ASSERT_TRUE(t.unmap());
  auto rescans = t.util.refreshCalls();
  ASSERT_EQ(rescans.size(), 1u);
  EXPECT_EQ(rescans[0].option, "testhost01");
  EXPECT_EQ(rescans[0].first, Strings{"50060e80aabbccdd"});
  EXPECT_EQ(rescans[0].second, (Strings{"/dev/sde", "/dev/sdb", "/dev/sdd"}));
  EXPECT_EQ(t.slept(), 3000);
}

TEST(FinishPostUnmap, NothingUnmappedStillSleepsAndRescans) {
  Discovery t;
  t.addSnap("snap1", "1S:412345**3L:10**", "300", "", ZRSO::SNAP_STATUS_MAPPED);
  t.params.devicesByDevNo[deviceKey("412345", "300")] = {"/dev/sdb"};
  ASSERT_TRUE(t.unmap());
  ASSERT_EQ(t.util.rescanCount(), 1);
  EXPECT_TRUE(t.util.refreshCalls()[0].second.empty());
  EXPECT_EQ(t.slept(), 3000);
}

TEST(FinishPostUnmap, FailuresAndLogs) {
  Discovery t;
  t.env.setInt("~Tessavon", "nZRHDSMapUnmapSystemBusRefreshDelayInSecs", -3);
  FakeSnapInfo& first =
      t.addSnap("snap1", "1S:412345**3L:10**", "300", "", ZRSO::SNAP_STATUS_UNMAPPED);
  FakeSnapInfo& bad = t.addSnap("bad", "1S:412345**3L:10**", "301", "", ZRSO::SNAP_STATUS_UNMAPPED);
  bad.failOn("getMetadata");
  t.addSnap("orphan", "1S:412345**3L:10**", "302", "", ZRSO::SNAP_STATUS_UNMAPPED);
  t.params.mapDiscoveryInfo.pop_back();
  t.params.devicesByDevNo[deviceKey("412345", "300")] = {"/dev/sdb"};
  t.params.devicesByDevNo[deviceKey("412345", "301")] = {"/dev/sdx"};
  t.params.isVMware = true;
  t.params.hostIdentifier = "esx01";
  t.params.vmInitiators = {"VMWWN"};
  t.util.setRefreshResult(0);
  EXPECT_FALSE(t.unmap());
  EXPECT_EQ(t.slept(), 0);
  auto rescans = t.util.refreshCalls();
  ASSERT_EQ(rescans.size(), 1u);
  EXPECT_EQ(rescans[0].option, "esx01");
  EXPECT_EQ(rescans[0].first, Strings{"VMWWN"});
  EXPECT_EQ(rescans[0].second, Strings{"/dev/sdb"});
  EXPECT_TRUE(first.logged("Failed to refresh the system bus."));
  EXPECT_TRUE(
      first.logged("Failed to get info from Unique metadata for source device-[/dev/src-bad]"));
  EXPECT_TRUE(first.logged("Snap device info for the source device-[/dev/src-orphan] not found."));
  EXPECT_EQ(first.errorCode(), 0);
  EXPECT_EQ(first.getStatus(), ZRSO::SNAP_STATUS_UNMAPPED);
}

}  // namespace
