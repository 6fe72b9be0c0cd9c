// Host-group choice and LUN mapping on the simulator: FC initiators (one and
// several ports, from the settings, through the command device), an iSCSI
// name on an iSCSI port, the LUN limit, and map retries on
// the fake clock with the array's lock state checked afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"
#include "handler/tests/HDSTargetJob.h"
#include "host/testing/ZrFakeClock.h"

namespace {

using Bed = HDSHandlerTestBed;
using hdstarget::kClientGid;
using hdstarget::lockStatus;
using hdstarget::luns;
using Texts = std::vector<std::string>;

const char kClientWwn[] = "50:06:0e:80:12:34:56:78";
const char kClientWwnArray[] = "50060e8012345678";

class Map : public ::testing::Test {
 protected:
  Map() : scoped(&clock) { hdstarget::addJob(bed, 2); }
  // The client's WWN logged in at port and registered in host group gid.
  void clientOn(const std::string& port, int gid, const std::string& name) {
    if (port != "CL1-A") bed.sim.addPort(Bed::kSerial, port, "50060e8000000002");
    if (gid != kClientGid || port != "CL1-A") bed.sim.addHostGroup(Bed::kSerial, port, gid, name);
    bed.sim.addLoginWwn(Bed::kSerial, port, kClientWwnArray);
    bed.sim.addHostGroupWwn(Bed::kSerial, port, gid, kClientWwnArray);
  }
  std::unique_ptr<ZRHDSCommandHandler> handler() {
    auto h = bed.handler(15);
    EXPECT_TRUE(h->IsHandlerInitialized()) << Bed::error(*h).second;
    return h;
  }
  ZrFakeClock clock;
  ZrScopedClock scoped;
  Bed bed;
};

TEST_F(Map, HostGroupChoiceForFcInitiators) {
  struct Row {
    int multiPort;
    Texts expected;
  } rows[] = {{0, {"CL1-A-3"}}, {1, {"CL1-A-3", "CL2-A-4"}}};
  clientOn("CL1-A", kClientGid, "client");
  clientOn("CL2-A", 4, "client2");
  bed.options.initiators = {"21:00:00:00:00:00:00:01", kClientWwn};
  for (const Row& row : rows) {
    bed.setSetting("nZRHDSEnableMultiPortMappings", row.multiPort);
    auto h = handler();
    Texts chosen;
    ASSERT_TRUE(h->findHostGroupToMap(chosen)) << Bed::error(*h).second;
    EXPECT_EQ(row.expected, chosen) << row.multiPort;
  }
  bed.options.initiators = {"21:00:00:00:00:00:00:01"};
  auto h = handler();
  Texts none;
  EXPECT_FALSE(h->findHostGroupToMap(none));
  EXPECT_EQ(std::make_pair(62601, std::string("Failed to find HostGroup(s) for the client.")),
            Bed::error(*h));
}

TEST_F(Map, HostGroupsFromTheSettingsAndTheCommandDevice) {
  bed.setStringSetting("~Tessavon", "sZRHDSHostGroupToMapSvols_412345",
                       "CL1-A-CLIENT,CL1-A-client");
  auto h = handler();
  Texts chosen;
  ASSERT_TRUE(h->findHostGroupToMap(chosen)) << Bed::error(*h).second;
  EXPECT_EQ(Texts{"CL1-A-3"}, chosen) << "one text, by name in any case, resolved to its GID";

  bed.setStringSetting("~Tessavon", "sZRHDSHostGroupToMapSvols_412345", "");
  bed.sim.addCommandDevice("/dev/sdc", Bed::kSerial, 2047);
  bed.sim.addLun(Bed::kSerial, "CL1-A", kClientGid, 9, 2047);
  ZRHDSImplementerFactory simulator = bed.simulatorFactory();
  bed.params.operationType = 15;
  ZRHDSCommandHandler viaCommandDevice(
      bed.params, [&](ZRSO::SnapInfo*& logger, ZRHDSCommandHandlerInputParams& p) {
        std::unique_ptr<ZRHDSCommandImplementer> impl = simulator(logger, p);
        ZRHDSRaidcomTestPeer::commandDevices(static_cast<ZRHDSRaidcomImplementer&>(*impl)) = {
            "/dev/sdc"};
        return impl;
      });
  Texts fromDevice;
  ASSERT_TRUE(viaCommandDevice.findHostGroupToMap(fromDevice))
      << Bed::error(viaCommandDevice).second;
  EXPECT_EQ(Texts{"CL1-A-3"}, fromDevice);

  bed.options.isVSM = true;
  Texts vsm;
  EXPECT_FALSE(viaCommandDevice.findHostGroupToMap(vsm));
  EXPECT_EQ(62601, Bed::error(viaCommandDevice).first);
}

// An iSCSI name keeps its colons; the port's host groups are listed and
// their initiators read with "get hba_iscsi", never "get hba_wwn".
TEST_F(Map, HostGroupChoiceForAnIscsiInitiator) {
  const char kIqn[] = "iqn.1994-05.com.redhat:client1";
  bed.sim.addPort(Bed::kSerial, "CL3-A", "50060e8000000003", "ISCSI");
  bed.sim.addHostGroup(Bed::kSerial, "CL3-A", 4, "other");
  bed.sim.addHostGroup(Bed::kSerial, "CL3-A", 5, "iscsi-client");
  bed.sim.addLoginWwn(Bed::kSerial, "CL3-A", kIqn);
  bed.sim.addHostGroupWwn(Bed::kSerial, "CL3-A", 4, "iqn.1994-05.com.redhat:other");
  bed.sim.addHostGroupWwn(Bed::kSerial, "CL3-A", 5, kIqn);
  bed.options.initiators = {"IQN.1994-05.com.redhat:client1"};
  auto h = handler();
  bed.sim.clearJournal();
  Texts chosen;
  ASSERT_TRUE(h->findHostGroupToMap(chosen)) << Bed::error(*h).second;
  EXPECT_EQ(Texts{"CL3-A-5"}, chosen);
  EXPECT_EQ(2u, bed.count("get hba_iscsi"));
  EXPECT_EQ(0u, bed.count("get hba_wwn"));
  ASSERT_TRUE(h->mapReplication(chosen)) << Bed::error(*h).second;
  const ccisim::State s = bed.sim.load();
  EXPECT_EQ(2u, s.arrays.at(Bed::kSerial).hostGroup("CL3-A", 5)->luns.size());
}

TEST_F(Map, LunLimitCountsOnlyTheSnapsStillToMap) {
  // 2046 other LUNs and the first S-VOL: one more path makes 2048.
  auto fill = [&](int others, bool firstMapped) {
    bed.sim.setArray(Bed::kSerial, [&](ccisim::Array& a) {
      ccisim::HostGroup* g = a.hostGroup("CL1-A", kClientGid);
      g->luns.clear();
      for (int lun = 0; lun < others; ++lun) g->luns[lun] = 16;
      if (firstMapped) g->luns[others] = 600;
    });
  };
  fill(2046, true);
  auto h = handler();
  bed.sim.clearJournal();
  ASSERT_TRUE(h->mapDevicesToHostGroup("CL1-A", "3")) << Bed::error(*h).second;
  EXPECT_EQ(2048u, luns(bed, kClientGid).size());
  EXPECT_EQ(1u, bed.count("add lun"));

  fill(2047, false);  // two paths to add: 2049
  bed.sim.clearJournal();
  EXPECT_FALSE(h->mapDevicesToHostGroup("CL1-A", "3"));
  EXPECT_EQ(std::make_pair(12, std::string("HostGroup-[CL1-A-3] had reached maximum LUN limit.")),
            Bed::error(*h));
  EXPECT_EQ(0u, bed.count("add lun"));
}

TEST_F(Map, RetriesGiveTheLockBackWithItsScope) {
  for (bool allGroups : {false, true}) {
    auto h = handler();
    ASSERT_TRUE(h->lockResource(allGroups)) << Bed::error(*h).second;
    bed.sim.addFault(ccisim::Fault::fail("raidcom", "add lun", ccisim::kExitRejected, "busy\n", 2));
    bed.sim.clearJournal();
    const int64_t before = clock.totalSleptMillis();
    ASSERT_TRUE(h->mapDevicesToHostGroup("CL1-A", "3")) << Bed::error(*h).second;
    EXPECT_EQ(std::make_pair(0, std::string()), Bed::error(*h)) << "no stale error of a retry";
    EXPECT_EQ(40000, clock.totalSleptMillis() - before);
    EXPECT_EQ(2u, bed.count("unlock resource"));
    EXPECT_EQ(2u, bed.count("lock resource"));
    EXPECT_EQ(allGroups ? 0u : 4u, bed.count("-resource_name meta_resource"));
    EXPECT_EQ("Locked", lockStatus(bed));
    ASSERT_TRUE(h->unlockResource(allGroups));
    EXPECT_EQ("Unlocked", lockStatus(bed));
    bed.sim.setArray(Bed::kSerial,
                     [](ccisim::Array& a) { a.hostGroup("CL1-A", kClientGid)->luns.clear(); });
  }
}

TEST_F(Map, AnExhaustedWindowReportsTheArraysLastError) {
  bed.setSetting("nZRHDSMapmapUnmapWaitTimeInSecs", 30);
  auto h = handler();
  ASSERT_TRUE(h->lockResource(false));
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "add lun", ccisim::kExitRejected, "busy\n", -1));
  EXPECT_FALSE(h->mapDevicesToHostGroup("CL1-A", "3"));
  EXPECT_EQ(
      std::make_pair(62601, std::string("Failed to map LDEV-[600] to the HostGroup-[CL1-A-3]")),
      Bed::error(*h));
  EXPECT_EQ(3u, bed.count("add lun")) << "at 0, 20 and 40 s";
  EXPECT_EQ("Locked", lockStatus(bed));
  bool held = false;
  h->getIsResourceLocked(held);
  EXPECT_TRUE(held);
}

TEST_F(Map, ALockNotTakenAgainLeavesNothingLocked) {
  auto h = handler();
  ASSERT_TRUE(h->lockResource(true));
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "add lun", ccisim::kExitRejected, "busy\n", -1));
  bed.sim.addFault(
      ccisim::Fault::fail("raidcom", "lock resource", ccisim::kExitRejected, "no\n", -1));
  EXPECT_FALSE(h->mapDevicesToHostGroup("CL1-A", "3"));
  EXPECT_EQ(1u, bed.count("add lun"));
  EXPECT_EQ("Unlocked", lockStatus(bed));
  bool held = true;
  h->getIsResourceLocked(held);
  EXPECT_FALSE(held);
}

}  // namespace
