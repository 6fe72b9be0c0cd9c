// Map and unmap preparation: device lists and their size negotiation,
// initiator detection, host identifiers, PrepareToMapUnmap for Fibre
// Channel, iSCSI and VMware hosts, and the host-group list conversions.
#include <map>
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

// ---- getDeviceList ---------------------------------------------------------

TEST(DeviceList, SplitsTheHostText) {
  struct Row {
    std::string text;
    Strings items;
  };
  const std::vector<Row> rows = {
      {"/dev/sda*/dev/sdb*", {"/dev/sda", "/dev/sdb"}},
      {"/dev/sda*/dev/sdb", {"/dev/sda", "/dev/sdb"}},
      {"/dev/sda**/dev/sdb*", {"/dev/sda", "", "/dev/sdb"}},
      {"*/dev/sda*", {"", "/dev/sda"}},
      {"{idatype:vmware,lunuuid:a}*{idatype:vmware,lunuuid:b}",
       {"{idatype:vmware,lunuuid:a}", "{idatype:vmware,lunuuid:b}"}},
      {"{idatype:vmware,lunuuid:a*x}*{idatype:vmware,lunuuid:b}*",
       {"{idatype:vmware,lunuuid:a*x}", "{idatype:vmware,lunuuid:b}"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    FakeSnapInfo device;
    FakeOSUtil util;
    ZRSO::SnapInfo* d = &device;
    ZRSO::ZROSUtil* u = &util;
    util.setDeviceListText(r.text);
    Strings out = {"stale"};
    EXPECT_EQ(getDeviceList(d, u, out, "host1", "HITACHI"), 1);
    EXPECT_EQ(out, r.items);
    auto calls = util.deviceListCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].hostId, "host1");
    EXPECT_EQ(calls[0].vendor, "HITACHI");
    EXPECT_EQ(calls[0].separator, '*');
    EXPECT_EQ(calls[0].bufferSize, 4096);
  }
}

TEST(DeviceList, EmptyOrRefusedListFails) {
  FakeSnapInfo device;
  FakeOSUtil util;
  ZRSO::SnapInfo* d = &device;
  ZRSO::ZROSUtil* u = &util;
  Strings out = {"stale"};
  util.setDeviceListText("");
  EXPECT_EQ(getDeviceList(d, u, out, "h", "v"), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(device.logged("Device list is empty"));
  util.failOn("getDeviceList");
  EXPECT_EQ(getDeviceList(d, u, out, "h", "v"), 0);
  EXPECT_TRUE(device.logged("Unable to get the device list"));
  ZRSO::ZROSUtil* none = nullptr;
  EXPECT_EQ(getDeviceList(d, none, out, "h", "v"), 0);
}

TEST(DeviceList, GrowsTheBufferWhenTheHostAsks) {
  FakeSnapInfo device;
  FakeOSUtil util;
  ZRSO::SnapInfo* d = &device;
  ZRSO::ZROSUtil* u = &util;
  Strings names;
  for (int i = 0; i < 600; ++i)
    names.push_back("/dev/disk/by-id/scsi-360060e80" + std::to_string(100000 + i));
  util.setDevices(names);
  Strings out;
  ASSERT_EQ(getDeviceList(d, u, out, "h", "HITACHI"), 1);
  EXPECT_EQ(out, names);
  auto calls = util.deviceListCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].bufferSize, 4096);
  EXPECT_GT(calls[1].bufferSize, 4096);
}

TEST(DeviceList, GivesUpAfterFourCalls) {
  FakeSnapInfo device;
  FakeOSUtil util;
  ZRSO::SnapInfo* d = &device;
  ZRSO::ZROSUtil* u = &util;
  util.setDevices({"/dev/sda"});
  util.setDeviceListAlwaysTooSmall(true);
  Strings out;
  EXPECT_EQ(getDeviceList(d, u, out, "h", "HITACHI"), 0);
  auto calls = util.deviceListCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].bufferSize, 4096);
  EXPECT_EQ(calls[1].bufferSize, 8192);
  EXPECT_EQ(calls[2].bufferSize, 12288);
  EXPECT_EQ(calls[3].bufferSize, 16384);
  EXPECT_TRUE(device.logged("Unable to get the device list after max retry."));
  EXPECT_TRUE(out.empty());
}

TEST(DeviceList, AbsurdSizeRequestIsRefused) {
  class Greedy : public FakeOSUtil {
   public:
    int getDeviceList(const char*, const char*, char, int, char*) override {
      ++calls;
      return 0x7FFFFFF0;
    }
    int calls = 0;
  } util;
  FakeSnapInfo device;
  ZRSO::SnapInfo* d = &device;
  ZRSO::ZROSUtil* u = &util;
  Strings out;
  EXPECT_EQ(getDeviceList(d, u, out, "h", "v"), 0);
  EXPECT_EQ(util.calls, 1);
  EXPECT_TRUE(device.logged("Unable to allocate memory for device list"));
}

// ---- initiators ------------------------------------------------------------

TEST(Initiators, DetectHbaListKeepsTheFirstKindOnly) {
  struct Row {
    const char* name;
    Strings names;
    std::vector<char> types;
    bool iscsi;
    Strings out;
  };
  const std::vector<Row> rows = {
      {"fc",
       {"50:06:0e:80:aa:bb:cc:dd", "50:06:0E:80:11:22:33:44"},
       {0, 0},
       false,
       {"50:06:0e:80:aa:bb:cc:dd", "50:06:0E:80:11:22:33:44"}},
      {"fc first",
       {"wwn1", "iqn.1994-05.com.redhat:x", "wwn2"},
       {0, 1, 0},
       false,
       {"wwn1", "wwn2"}},
      {"iscsi first", {"iqn.a:1", "wwn1", "iqn.b:2"}, {1, 0, 1}, true, {"iqn.a:1", "iqn.b:2"}},
      {"unknown kind skipped", {"wwn1", "x", "wwn2"}, {0, 7, 0}, false, {"wwn1", "wwn2"}},
      // Fewer type bytes than names: a name without its byte is left out.
      {"fewer types", {"wwn1", "wwn2", "wwn3"}, {0}, false, {"wwn1"}},
      {"no types", {"wwn1", "wwn2"}, {}, false, {}},
      {"empty tokens", {"", "wwn1", "", "wwn2"}, {0, 0}, false, {"wwn1", "wwn2"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    FakeSnapInfo device;
    FakeOSUtil util;
    ZRSO::SnapInfo* d = &device;
    util.setHbaList(r.names, r.types);
    Strings out;
    bool iscsi = !r.iscsi;
    ASSERT_EQ(detectHbaList(d, &util, out, "", "", iscsi), 1);
    EXPECT_EQ(iscsi, r.iscsi);
    EXPECT_EQ(out, r.out);
    EXPECT_EQ(util.callCount("detectHbaList"), 2);
    EXPECT_EQ(util.callCount("detectHbaListForHost"), 0);
    EXPECT_TRUE(device.logged("Calling the OS Utility detectHbaList"));
  }
}

TEST(Initiators, DetectHbaListForANamedHostAndFailures) {
  FakeSnapInfo device;
  FakeOSUtil util;
  ZRSO::SnapInfo* d = &device;
  util.setHbaList({"wwn1"}, {0});
  Strings out;
  bool iscsi = false;
  ASSERT_EQ(detectHbaList(d, &util, out, "esx01", "", iscsi), 1);
  EXPECT_EQ(util.hbaListHosts(), (Strings{"esx01", "esx01"}));
  EXPECT_EQ(out, Strings{"wwn1"});
  EXPECT_TRUE(device.logged("FC Initiator-[wwn1]"));

  FakeOSUtil none;  // the host lists no initiator
  EXPECT_EQ(detectHbaList(d, &none, out, "", "", iscsi), 0);
  EXPECT_TRUE(device.logged("Unable to detect Initiator Information."));

  FakeOSUtil failing;
  failing.setHbaList({"wwn1"}, {0});
  failing.failOn("detectHbaList");
  EXPECT_EQ(detectHbaList(d, &failing, out, "", "", iscsi), 0);
}

TEST(Initiators, DetectHbaNormalisesFibreChannelNames) {
  struct Row {
    std::string raw;
    bool iscsi;
    std::string out;
  };
  const std::vector<Row> rows = {
      {"21:00:00:24:ff:4a:bc:de", false, "21000024FF4ABCDE"},
      {"50060E80AABBCCDD", false, "50060E80AABBCCDD"},
      {"iqn.1998-01.com.vmware:esx01-4f2a", true, "iqn.1998-01.com.vmware:esx01-4f2a"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.raw);
    FakeSnapInfo device;
    FakeOSUtil util;
    ZRSO::SnapInfo* d = &device;
    util.setHba(r.raw, r.iscsi);
    std::string out;
    bool iscsi = false;
    ASSERT_EQ(detectHba(d, &util, out, "esx01", "", iscsi), 1);
    EXPECT_EQ(iscsi, r.iscsi);
    EXPECT_EQ(out, r.out);
    EXPECT_EQ(util.hbaHosts(), Strings{"esx01"});
    EXPECT_TRUE(device.logged(
        std::string(r.iscsi ? "Detected iSCSI Initiator port-[" : "Detected FC Initiator port-[") +
        r.raw + "]"));
  }
}

TEST(Initiators, DetectHbaGrowsItsBufferAndIsBounded) {
  FakeSnapInfo device;
  ZRSO::SnapInfo* d = &device;
  {
    FakeOSUtil util;  // a name longer than the first buffer
    std::string longName = "iqn.2001-04.com.example:" + std::string(1500, 'n');
    util.setHba(longName, true);
    std::string out;
    bool iscsi = false;
    ASSERT_EQ(detectHba(d, &util, out, "h", "", iscsi), 1);
    EXPECT_EQ(out, longName);
    EXPECT_EQ(util.callCount("detectHba"), 2);
  }
  {
    class Greedy : public FakeOSUtil {
     public:
      bool detectHba(const char*, const char*, char* buffer, short* length, bool&) override {
        ++calls;
        buffer[*length - 1] = 'x';  // the granted length is really there
        *length = static_cast<short>(*length + 512);
        return false;
      }
      int calls = 0;
    } util;
    std::string out;
    bool iscsi = false;
    EXPECT_EQ(detectHba(d, &util, out, "h", "", iscsi), 0);
    EXPECT_EQ(util.calls, 4);
    EXPECT_TRUE(device.logged("Unable to detect Initiator information after max retry."));
  }
  {
    FakeOSUtil util;  // no initiator at all
    std::string out;
    bool iscsi = false;
    EXPECT_EQ(detectHba(d, &util, out, "h", "", iscsi), 0);
    EXPECT_TRUE(device.logged("Unable to detect Initiator information."));
  }
}

// ---- host identifier and rescan --------------------------------------------

TEST(HostIdentifier, MachineNameOrVmHost) {
  Env env;
  FakeSnapInfo device;
  ZRSO::SnapInfo* d = &device;
  device.setSourceDevicePathText("/dev/sda");
  device.setHostIdentifierText("esx01");
  std::string out;
  ASSERT_EQ(getHostIdentifier(d, out, true), 1);
  EXPECT_EQ(out, "testhost01");  // not a VMware source

  device.setSourceDevicePathText("[ds1] vmware/vm1.vmdk");
  ASSERT_EQ(getHostIdentifier(d, out, true), 1);
  EXPECT_EQ(out, "esx01");
  ASSERT_EQ(getHostIdentifier(d, out, false), 1);
  EXPECT_EQ(out, "testhost01");

  device.failOn("getHostIdentifier");
  out = "keep";
  EXPECT_EQ(getHostIdentifier(d, out, true), 0);
  EXPECT_EQ(out, "keep");
  EXPECT_TRUE(device.logged("Failed to get the Host Identifier"));

  hostutil_test::machineName() = "";  // the machine name lookup fails
  EXPECT_EQ(getHostIdentifier(d, out, false), 0);
  EXPECT_EQ(out, "keep");
}

TEST(HostIdentifier, RealMachineNameWhenNoHookIsInstalled) {
  FakeSnapInfo device;
  ZRSO::SnapInfo* d = &device;
  std::string out;
  ASSERT_EQ(getHostIdentifier(d, out, false), 1);
  EXPECT_FALSE(out.empty());
}

TEST(Rescan, PassesBothListsAndTheOption) {
  FakeOSUtil util;
  EXPECT_TRUE(refreshSystemBus(&util, {"wwn1", "wwn2"}, {}, "host1"));
  util.setRefreshResult(0);
  EXPECT_FALSE(refreshSystemBus(&util, {}, {"/dev/sdb", "/dev/sdc"}, ""));
  auto calls = util.refreshCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(calls[0].optionGiven);
  EXPECT_EQ(calls[0].option, "host1");
  EXPECT_EQ(calls[0].first, (Strings{"wwn1", "wwn2"}));
  EXPECT_TRUE(calls[0].second.empty());
  EXPECT_FALSE(calls[1].optionGiven);
  EXPECT_TRUE(calls[1].first.empty());
  EXPECT_EQ(calls[1].second, (Strings{"/dev/sdb", "/dev/sdc"}));
  EXPECT_FALSE(refreshSystemBus(nullptr, {}, {}, ""));
}

// ---- PrepareToMapUnmap ------------------------------------------------------

struct Prep {
  Env env;
  FakeSnapInfo device;
  FakeOSUtil util;
  ZRMapInitiatorParams params;

  Prep() {
    device.setSourceDevicePathText("/dev/sda");
    util.setHbaList({"50:06:0e:80:aa:bb:cc:dd", "50:06:0E:80:11:22:33:44"}, {0, 0});
    util.setDevices({"/dev/sda", "/dev/sdb", "/dev/sdc"});
    ZRHDSMapDiscoveryInfo entry;
    entry.MSName = "kept";
    params.mapDiscoveryInfo.push_back(entry);
  }
  int run(bool unmap) {
    ZRSO::SnapInfo* d = &device;
    return PrepareToMapUnmap(d, &util, unmap, params);
  }
  void expectUntouched() {
    EXPECT_FALSE(params.isVMware);
    EXPECT_EQ(params.localHostIdentifier, "");
    EXPECT_TRUE(params.deviceListBefore.empty());
    EXPECT_TRUE(params.localInitiators.empty());
  }
};

TEST(PrepareToMapUnmap, FibreChannelHostForMap) {
  Prep p;
  ASSERT_EQ(p.run(false), 1);
  EXPECT_FALSE(p.params.isVMware);
  EXPECT_EQ(p.params.hostIdentifier, "");
  EXPECT_EQ(p.params.localHostIdentifier, "testhost01");
  // Colons removed, letter case as the host gave it.
  EXPECT_EQ(p.params.localInitiators, (Strings{"50060e80aabbccdd", "50060E8011223344"}));
  EXPECT_TRUE(p.params.vmInitiators.empty());
  EXPECT_EQ(p.params.deviceListBefore, (Strings{"/dev/sda", "/dev/sdb", "/dev/sdc"}));
  EXPECT_TRUE(p.params.devicesByDevNo.empty());
  ASSERT_EQ(p.params.mapDiscoveryInfo.size(), 1u);
  EXPECT_EQ(p.params.mapDiscoveryInfo[0].MSName, "kept");
  auto calls = p.util.deviceListCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].hostId, "testhost01");
  EXPECT_EQ(calls[0].vendor, "HITACHI");
  EXPECT_TRUE(p.device.logged("Host Identifier-[testhost01]"));
  EXPECT_TRUE(p.device.logged("Local Initiator Information-[50060e80aabbccdd,50060E8011223344,]"));
  EXPECT_TRUE(p.device.logged(" Volume-[2] DeviceName-[/dev/sdc]"));
  EXPECT_TRUE(p.env.tree.sent().empty());  // no inquiry for a map
  EXPECT_EQ(p.device.errorCode(), 0);
}

TEST(PrepareToMapUnmap, StoredVendorNameSelectsTheDeviceList) {
  Prep p;
  p.device.setMetadataText(71, "HPE");
  ASSERT_EQ(p.run(false), 1);
  EXPECT_EQ(p.util.deviceListCalls()[0].vendor, "HPE");
}

TEST(PrepareToMapUnmap, IscsiHostKeepsNamesWhole) {
  Prep p;
  p.util.setHbaList(
      {"iqn.1994-05.com.redhat:abc", "50:06:0e:80:aa:bb:cc:dd", "iqn.1994-05.com.redhat:def"},
      {1, 0, 1});
  ASSERT_EQ(p.run(false), 1);
  EXPECT_EQ(p.params.localInitiators,
            (Strings{"iqn.1994-05.com.redhat:abc", "iqn.1994-05.com.redhat:def"}));
}

TEST(PrepareToMapUnmap, UnmapFilesHitachiDevicesBySerialAndLdev) {
  Prep p;
  p.util.setDevices({"/dev/sdb", "/dev/sdc", "/dev/sdd", "/dev/sde", "/dev/sdf", "/dev/sdg"});
  p.env.tree.addLdev("/dev/sdb", physicalLdev(412345, 256));
  p.env.tree.addLdev("/dev/sdc", physicalLdev(410001, 256));  // same LDEV number, other array
  zrinq::LdevIdentity foreign = physicalLdev(412345, 256);
  foreign.vendor = "SEAGATE";
  p.env.tree.addLdev("/dev/sdd", foreign);
  ZrFakeDeviceTree::Disk failing;
  failing.failStandard = true;
  p.env.tree.addDisk("/dev/sde", failing);
  p.env.tree.addLdev("/dev/sdf", physicalLdev(412345, 256));  // a second path to /dev/sdb's LDEV
  p.env.tree.addLdev("/dev/sdg", physicalLdev(412345, 257));
  ASSERT_EQ(p.run(true), 1);
  const std::map<std::string, Strings> expected = {
      {deviceKey("412345", "256"), {"/dev/sdb", "/dev/sdf"}},
      {deviceKey("410001", "256"), {"/dev/sdc"}},
      {deviceKey("412345", "257"), {"/dev/sdg"}},
  };
  EXPECT_EQ(p.params.devicesByDevNo, expected);
  EXPECT_NE(deviceKey("41234", "5256"), deviceKey("412345", "256"));
  EXPECT_EQ(p.env.tree.openDevices(), 0);
}

TEST(PrepareToMapUnmap, VmwareHost) {
  Prep p;
  p.device.setSourceDevicePathText("[ds1] vmware/vm1/vm1.vmdk");
  p.device.setHostIdentifierText("esx01.example");
  p.util.failOn("detectHbaList");  // the proxy's own initiators are not needed
  p.util.setHba("21:00:00:24:ff:4a:bc:de", false);
  ASSERT_EQ(p.run(false), 1);
  EXPECT_TRUE(p.params.isVMware);
  EXPECT_EQ(p.params.hostIdentifier, "esx01.example");
  EXPECT_EQ(p.params.localHostIdentifier, "testhost01");
  EXPECT_EQ(p.params.vmInitiators, Strings{"21000024FF4ABCDE"});
  EXPECT_TRUE(p.params.localInitiators.empty());
  EXPECT_EQ(p.util.hbaHosts(), Strings{"esx01.example"});
  EXPECT_EQ(p.util.deviceListCalls()[0].hostId, "esx01.example");
  EXPECT_TRUE(p.device.logged("Failed to detect initiator information."));
  EXPECT_TRUE(p.device.logged("VM Initiator Information-[21000024FF4ABCDE]"));
  EXPECT_EQ(p.device.errorCode(), 0);
}

TEST(PrepareToMapUnmap, VmwareHostWithoutLocalNameStillSucceeds) {
  Prep p;
  p.device.setSourceDevicePathText("[ds1] vmware/vm1/vm1.vmdk");
  p.device.setHostIdentifierText("esx01");
  p.util.setHba("21:00:00:24:ff:4a:bc:de", false);
  hostutil_test::machineName() = "";
  ASSERT_EQ(p.run(false), 1);
  EXPECT_EQ(p.params.hostIdentifier, "esx01");
  EXPECT_EQ(p.params.localHostIdentifier, "");  // never the VM host's name
  EXPECT_EQ(p.device.errorCode(), 62002);
  EXPECT_EQ(p.device.errorText(), "Failed to get the Local Host Identifier.");
}

TEST(PrepareToMapUnmap, FailuresRecordTheirErrorsAndLeaveParamsAlone) {
  struct Row {
    const char* name;
    bool vmware;
    const char* failUtil;
    const char* failDevice;
    bool noMachineName;
    bool noVmInitiator;
    int code;
    const char* text;
  };
  const std::vector<Row> rows = {
      {"machine name", false, nullptr, nullptr, true, false, 62002,
       "Failed to get the Local Host Identifier."},
      {"vm host id", true, nullptr, "getHostIdentifier", false, false, 62002,
       "Failed to get the Host Identifier."},
      {"no initiators", false, "detectHbaList", nullptr, false, false, 62003,
       "Failed to detect initiator information."},
      {"no vm initiator", true, nullptr, nullptr, false, true, 62003,
       "Failed to detect VM's initiator information."},
      {"device list", false, "getDeviceList", nullptr, false, false, 62006,
       "Failed to get device list before Map/Unmap."},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Prep p;
    if (r.vmware) {
      p.device.setSourceDevicePathText("[ds1] vmware/vm1.vmdk");
      p.device.setHostIdentifierText("esx01");
      if (!r.noVmInitiator) p.util.setHba("21:00:00:24:ff:4a:bc:de", false);
    }
    if (r.failUtil != nullptr) p.util.failOn(r.failUtil);
    if (r.failDevice != nullptr) p.device.failOn(r.failDevice);
    if (r.noMachineName) hostutil_test::machineName() = "";
    EXPECT_EQ(p.run(true), 0);
    EXPECT_EQ(p.device.errorCode(), r.code);
    EXPECT_EQ(p.device.errorText(), r.text);
    p.expectUntouched();
  }
}

TEST(PrepareToMapUnmap, InitiatorsOfUnknownKindCountAsNone) {
  Prep p;
  p.util.setHbaList({"wwn1", "wwn2"}, {});
  EXPECT_EQ(p.run(false), 0);
  EXPECT_EQ(p.device.errorCode(), 62003);
}

// ---- host-group lists -------------------------------------------------------

TEST(HostGroupLists, TextToListAndBack) {
  struct Row {
    Strings before;
    std::string text;
    Strings after;
  };
  const std::vector<Row> rows = {
      {{}, "CL1-A-1,CL2-B-3", {"CL1-A-1", "CL2-B-3"}},
      {{}, "CL1-A-1,CL2-B-3,CL1-A-1", {"CL1-A-1", "CL2-B-3"}},
      {{}, "CL1-A-1,", {"CL1-A-1", ""}},
      {{}, ",,a,", {"", "a"}},
      {{"CL2-B-3"}, "CL1-A-1,CL2-B-3", {"CL2-B-3", "CL1-A-1"}},
      {{"x", "y"}, "", {}},
      {{}, "N/A", {"N/A"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    Strings out = r.before;
    EXPECT_EQ(convertHostGroupStringToVector(r.text, out), 1);
    EXPECT_EQ(out, r.after);
  }
  EXPECT_EQ(convertHostGroupVectorToString({"CL1-A-1", "CL2-B-3"}), "CL1-A-1,CL2-B-3");
  EXPECT_EQ(convertHostGroupVectorToString({"CL1-A-1"}), "CL1-A-1");
  EXPECT_EQ(convertHostGroupVectorToString({}), "");
  EXPECT_EQ(convertHostGroupVectorToString({"", ""}), ",");
}

}  // namespace
