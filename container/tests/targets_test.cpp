// Target operations on the simulator: a partial assign over an S-VOL that
// was already associated, the host-group union of map and its limits, the
// unmap of both map records at delete, the release of targets a map or
// unmap left at delete, and the statuses of a delete that cannot finish.
#include <algorithm>
#include <string>
#include <vector>

#include "container/tests/support/HDSContainerTestBed.h"

namespace {

class ContainerTargets : public HDSContainerTestBed {
 protected:
  void SetUp() override {
    fx.addHostGroup(kSerial, "CL1-A", 2, "esx01");
    addMappableSources();
  }
  // LDEVs presented through host group gid of CL1-A.
  std::vector<int> presented(int gid) {
    std::vector<int> ldevs;
    const ccisim::State state = fx.load();
    for (const auto& lun : state.array(kSerial)->hostGroup("CL1-A", gid)->luns) {
      ldevs.push_back(lun.second);
    }
    return ldevs;
  }
  static bool holds(const std::vector<int>& v, const std::string& ldev) {
    return std::find(v.begin(), v.end(), std::stoi(ldev)) != v.end();
  }
  std::string map(size_t i, int id = HDS_METADATA_SNAP_MAP_FIRST) {
    return devices[i]->metadata(id);
  }
  // Prepared, created, assigned and mapped to CL1-A-1; the targets.
  std::vector<std::string> mapped() {
    prepareAndCreate();
    auto c = make(OPERATION_TYPE_MAP);
    EXPECT_EQ(1, c->Assign()) << error(*c).second;
    EXPECT_EQ(1, c->Map({})) << error(*c).second;
    std::vector<std::string> targets;
    for (const ZRHDSSnapInfo& s : c->getSnapInfoList()) targets.push_back(s.snapLdevId);
    return targets;
  }
};

TEST_F(ContainerTargets, PartialAssignKeepsTheRecordOfAnAssociatedTarget) {
  // 256's snapshot is already presented through LDEV 600, an administrator's
  // volume that an earlier job selected and labelled.
  ccisim::Ldev admin;
  admin.id = 600;
  admin.capacity = 2097152;
  admin.attrs = {"CVS", "HDP"};
  admin.poolId = "0";
  admin.label = "QB_SVOL_snap1";
  fx.addLdev(kSerial, admin);
  prepareAndCreate();
  fx.setArray(kSerial, [](ccisim::Array& a) {
    for (ccisim::SnapPair& p : a.pairs) {
      if (p.pvol == 256) p.svol = 600;
    }
  });
  devices[0]->setMetadataText(HDS_METADATA_SNAP_MAP_FIRST,
                              "16ON:adminvol**22LI:600**24VI:**23OS:OLDDEV**");
  std::string created;
  {
    auto c = make(OPERATION_TYPE_MAP);
    ASSERT_EQ(1, c->Assign()) << error(*c).second;
    created = c->getSnapInfoList()[1].snapLdevId;
    // The associated target's record stays as stored.
    EXPECT_EQ("16ON:adminvol**22LI:600**24VI:**23OS:OLDDEV**", map(0));
    EXPECT_EQ("16ON:**22LI:" + created + "**24VI:**23OS:NEWDEV**", map(1));
    ASSERT_EQ(1, c->Map({})) << error(*c).second;
  }
  EXPECT_EQ("16ON:adminvol**22LI:600**24VI:**23OS:OLDDEV**17HG:CL1-A-1**", map(0));
  {
    auto c = make(OPERATION_TYPE_UNMAP);
    ASSERT_EQ(1, c->Unmap()) << error(*c).second;
    ASSERT_EQ(1, c->Unassign()) << error(*c).second;
  }
  const ccisim::State state = fx.load();
  const ccisim::Array& a = *state.array(kSerial);
  EXPECT_TRUE(a.ldev(600).defined);  // never the job's to delete
  EXPECT_FALSE(a.ldev(std::stoi(created)).defined);
}

TEST_F(ContainerTargets, AssignWithEveryTargetFoundKeepsTheHostGroups) {
  mapped();
  const std::string before = map(1);
  fx.clearJournal();
  auto c = make(OPERATION_TYPE_MAP);
  ASSERT_EQ(1, c->Assign()) << error(*c).second;
  EXPECT_EQ(before, map(1));
  EXPECT_NE(std::string::npos, before.find("17HG:CL1-A-1**"));
  EXPECT_EQ(0u, raidcomCount("lock resource"));
  EXPECT_EQ(0u, raidcomCount("add ldev"));
}

TEST_F(ContainerTargets, MapUnitesHostGroupsPerDevice) {
  prepareAndCreate();
  auto c = make(OPERATION_TYPE_MAP);
  ASSERT_EQ(1, c->Assign());
  const std::string t0 = c->getSnapInfoList()[0].snapLdevId;
  const std::string t1 = c->getSnapInfoList()[1].snapLdevId;
  devices[0]->setMetadataText(HDS_METADATA_SNAP_MAP_FIRST,
                              "16ON:**22LI:" + t0 + "**24VI:**23OS:NEWDEV**17HG:N/A**");
  devices[1]->setMetadataText(HDS_METADATA_SNAP_MAP_FIRST,
                              "16ON:**22LI:" + t1 + "**24VI:**23OS:NEWDEV**17HG:CL1-A-2,CL1-A-1**");
  ASSERT_EQ(1, c->Map({})) << error(*c).second;
  EXPECT_EQ("16ON:**22LI:" + t0 + "**24VI:**23OS:NEWDEV**17HG:CL1-A-1**", map(0));
  EXPECT_EQ("16ON:**22LI:" + t1 + "**24VI:**23OS:NEWDEV**17HG:CL1-A-2,CL1-A-1**", map(1));
  EXPECT_TRUE(holds(presented(1), t0));
  EXPECT_TRUE(holds(presented(1), t1));
}

TEST_F(ContainerTargets, ConfiguredHostGroupsServeOnlyTheClientItself) {
  prepareAndCreate();
  // Where the configured host groups are dropped, the machine setting names
  // the host group to map to.
  setStringSetting("sZRHDSHostGroupToMapSvols_412345", "CL1-A-2");
  struct Row {
    int source, proxy, mountHost;
    const char* hostGroups;
  };
  const Row rows[] = {
      {5, 0, 5, "CL1-A-1"}, {5, 0, 6, "CL1-A-2"}, {5, 7, 7, "CL1-A-1"}, {5, 7, 5, "CL1-A-2"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.hostGroups);
    for (auto& d : devices) {
      d->setValueIntFor(ZRSO::GET_VALUE_SOURCE_CLIENT_ID, r.source);
      d->setValueIntFor(ZRSO::GET_VALUE_PROXY_CLIENT_ID, r.proxy);
      d->setValueIntFor(ZRSO::GET_VALUE_MOUNT_HOST_ID, r.mountHost);
      d->clearMetadataText(HDS_METADATA_SNAP_MAP_FIRST);
    }
    auto c = make(OPERATION_TYPE_MAP);
    ASSERT_EQ(1, c->Assign()) << error(*c).second;
    ASSERT_EQ(1, c->Map({})) << error(*c).second;
    EXPECT_NE(std::string::npos, map(0).find(std::string("17HG:") + r.hostGroups + "**")) << map(0);
  }
}

TEST_F(ContainerTargets, MapRefusals) {
  prepareAndCreate();
  auto c = make(OPERATION_TYPE_MAP);
  ASSERT_EQ(1, c->Assign());
  const std::string t1 = c->getSnapInfoList()[1].snapLdevId;
  // A recorded list that the record cannot take together with the new host
  // group: nothing is mapped, no lock taken.
  // The stored record just fits (4090 of 4095 characters); with
  // ",CL1-A-1" it would not.
  const std::string head = "16ON:**22LI:" + t1 + "**24VI:**23OS:NEWDEV**17HG:";
  std::string many;  // distinct host groups "CL<n>-C-<GID>," of ten characters, then one to fit
  for (size_t k = 0; head.size() + 2 + many.size() + 18 < 4090; ++k)
    many += "CL" + std::to_string(1 + k / 155) + "-C-" + std::to_string(100 + k % 155) + ",";
  many += std::string(4090 - head.size() - 2 - many.size() - 2, 'P') + "-1";
  ASSERT_EQ(4090u, head.size() + many.size() + 2);
  devices[1]->setMetadataText(HDS_METADATA_SNAP_MAP_FIRST, head + many + "**");
  const std::string stored0 = map(0);
  fx.clearJournal();
  EXPECT_EQ(0, c->Map({}));
  EXPECT_EQ(std::make_pair(14, std::string("Failed to set Mapped HostGroup metadata.")), error(*c));
  EXPECT_EQ(0u, raidcomCount("add lun"));
  EXPECT_EQ(0u, raidcomCount("lock resource"));
  EXPECT_EQ(stored0, map(0));

  // Client ids that cannot be read.
  devices[0]->failOn("getValueInt");
  EXPECT_EQ(0, c->Map({}));
  EXPECT_EQ(62009, error(*c).first);
  EXPECT_TRUE(devices[0]->logged("Unable to fetch SourceClientId. Map will fail.."));
}

// A map record lost (or refused) before a map is run again: the target the
// array associates is taken, but its record knows no origin. The unmap keeps
// it (it may be an administrator's) with its label, the job's only trace,
// and logs the commands that would remove it.
TEST_F(ContainerTargets, UnmapKeepsTheLabelOfATargetOfUnknownOrigin) {
  const std::vector<std::string> targets = mapped();
  const std::string label = "QB_SVOL_snap1";
  ASSERT_EQ(label, fx.load().array(kSerial)->ldev(std::stoi(targets[0])).label);
  devices[0]->clearMetadataText(HDS_METADATA_SNAP_MAP_FIRST);
  {
    auto c = make(OPERATION_TYPE_MAP);
    ASSERT_EQ(1, c->Assign()) << error(*c).second;
    ASSERT_EQ(1, c->Map({})) << error(*c).second;
  }
  ASSERT_NE(std::string::npos, map(0).find("**23OS:**")) << map(0);
  fx.clearJournal();
  auto c = make(OPERATION_TYPE_UNMAP);
  ASSERT_EQ(1, c->Unmap()) << error(*c).second;
  ASSERT_EQ(1, c->Unassign()) << error(*c).second;
  const ccisim::State state = fx.load();
  EXPECT_TRUE(state.array(kSerial)->ldev(std::stoi(targets[0])).defined);
  EXPECT_EQ(label, state.array(kSerial)->ldev(std::stoi(targets[0])).label);
  EXPECT_FALSE(state.array(kSerial)->ldev(std::stoi(targets[1])).defined);
  EXPECT_EQ(0u, raidcomCount("modify ldev"));
  EXPECT_TRUE(devices[0]->logged("S-VOL-[" + targets[0] + "] [" + label + "] of P-VOL-[256]"));
  EXPECT_TRUE(devices[0]->logged("raidcom delete ldev -ldev_id " + targets[0]));
}

TEST_F(ContainerTargets, UnmapWithoutHostGroupsTouchesNothing) {
  devices[0]->setMetadataText(HDS_METADATA_SNAP_MAP_FIRST,
                              "16ON:**22LI:300**24VI:**23OS:**17HG:N/A**");
  auto c = make(OPERATION_TYPE_UNMAP);
  ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
  fx.clearJournal();
  EXPECT_EQ(1, c->Unmap());
  for (auto& d : devices) EXPECT_EQ(ZRSO::SNAP_STATUS_UNMAPPED, d->getStatus());
  // Only the subclient id at set-up; no snap action flags.
  EXPECT_EQ(1, devices[0]->callCount("getValueInt"));
  EXPECT_EQ(0, devices[1]->callCount("getValueInt"));
  EXPECT_EQ(0u, raidcomCount("lock resource"));
  // Nothing associated: the unassign only empties the records.
  EXPECT_EQ(1, c->Unassign());
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ("16ON:**22LI:**24VI:**23OS:**17HG:N/A**", map(i));
}

TEST_F(ContainerTargets, DeleteUnmapsBothMapRecords) {
  prepareAndCreate();
  std::vector<std::string> targets;
  {
    // The ESX pass keeps its record in 65, the local pass in 68.
    auto c = make(OPERATION_TYPE_MAP);
    ASSERT_EQ(1, c->Assign());
    Peer::options(*c).svolHostGroup = "CL1-A-2";
    ASSERT_EQ(1, c->Map({"ESXWWN"})) << error(*c).second;
    c->setOperationType(OPERATION_TYPE_MAP_SECOND);
    Peer::options(*c).svolHostGroup = "CL1-A-1";
    ASSERT_EQ(1, c->Map({})) << error(*c).second;
    for (const ZRHDSSnapInfo& s : c->getSnapInfoList()) targets.push_back(s.snapLdevId);
  }
  EXPECT_NE(std::string::npos, map(0).find("17HG:CL1-A-2**"));
  EXPECT_NE(std::string::npos, map(0, HDS_METADATA_SNAP_MAP).find("17HG:CL1-A-1**"));
  for (const std::string& t : targets) {
    EXPECT_TRUE(holds(presented(2), t));
    EXPECT_TRUE(holds(presented(1), t));
  }

  for (auto& d : devices) d->setStatus(ZRSO::SNAP_STATUS_DELETE_PENDING);
  auto c = make(OPERATION_TYPE_DELETE);
  ASSERT_EQ(1, c->Delete()) << error(*c).second;
  for (const std::string& t : targets) {
    EXPECT_FALSE(holds(presented(2), t)) << t;
    EXPECT_FALSE(holds(presented(1), t)) << t;
  }
  EXPECT_TRUE(fx.load().array(kSerial)->pairs.empty());
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(ZRSO::SNAP_STATUS_DELETED, devices[i]->getStatus());
    EXPECT_NE(std::string::npos, map(i).find("17HG:N/A**"));
    EXPECT_NE(std::string::npos, map(i, HDS_METADATA_SNAP_MAP).find("17HG:N/A**"));
  }
}

TEST_F(ContainerTargets, DeleteIgnoresAStaleRecordOfAnotherTarget) {
  const std::string t0 = mapped().at(0);
  devices[0]->setMetadataText(HDS_METADATA_SNAP_MAP,
                              "16ON:**22LI:900**24VI:**23OS:**17HG:CL1-A-2**");
  auto c = make(OPERATION_TYPE_DELETE);
  ASSERT_EQ(1, c->Delete()) << error(*c).second;
  EXPECT_FALSE(holds(presented(1), t0));
  EXPECT_EQ(0u, raidcomCount("-ldev_id 900"));
}

TEST_F(ContainerTargets, DeleteReportsDeletedOnlyOnceThePairIsGone) {
  mapped();
  {
    // 257 is unmapped and unassigned again; 256 stays presented.
    auto c = make(OPERATION_TYPE_UNMAP, {devices[1].get()});
    ASSERT_EQ(1, c->Unmap()) << error(*c).second;
    ASSERT_EQ(1, c->Unassign()) << error(*c).second;
  }
  fx.addFault(ccisim::Fault::fail("raidcom", "delete snapshot -ldev_id 257", 221, "refused", -1));
  for (auto& d : devices) d->setStatus(ZRSO::SNAP_STATUS_DELETE_PENDING);
  auto c = make(OPERATION_TYPE_DELETE);
  EXPECT_EQ(0, c->Delete());
  EXPECT_NE(0, error(*c).first);
  for (auto& d : devices) EXPECT_EQ(ZRSO::SNAP_STATUS_DELETE_PENDING, d->getStatus());
}

TEST_F(ContainerTargets, DeleteWhoseUnmapFailsLeavesEveryDevicePending) {
  mapped();
  fx.addFault(ccisim::Fault::fail("raidcom", "delete lun", 221, "refused", -1));
  setSetting("nZRHDSMapmapUnmapWaitTimeInSecs", 0);
  for (auto& d : devices) d->setStatus(ZRSO::SNAP_STATUS_DELETE_PENDING);
  auto u = make(OPERATION_TYPE_DELETE);
  EXPECT_EQ(0, u->Delete());
  for (auto& d : devices) EXPECT_EQ(ZRSO::SNAP_STATUS_DELETE_PENDING, d->getStatus());
  EXPECT_EQ(2u, fx.load().array(kSerial)->pairs.size());
  EXPECT_EQ(0u, raidcomCount("delete snapshot"));
  EXPECT_TRUE(devices[0]->logged("Unable to Unmap target volumes from the snaps."));
}

// A delete that meets targets the job still holds (the host deletes without
// unmapping, or a map or unmap stopped part way) releases them as an
// unassign would: LDEVs the job created are deleted, an administrator's
// LDEV gets its name back, and an LDEV that another job relabelled is left
// alone. The stored records are emptied.
enum class LeftBy { kMap, kUnmapHostGroups, kLostAssociation, kAdministrator, kOtherJob };

class ContainerRelease : public ContainerTargets, public ::testing::WithParamInterface<LeftBy> {};

TEST_P(ContainerRelease, DeleteReleasesTheTargetsTheJobStillHolds) {
  const std::vector<std::string> targets = mapped();
  bool deleted = true;
  std::string label;
  switch (GetParam()) {
    case LeftBy::kMap:
      break;
    case LeftBy::kUnmapHostGroups: {
      auto u = make(OPERATION_TYPE_UNMAP);
      ASSERT_EQ(1, u->Unmap()) << error(*u).second;
      break;
    }
    case LeftBy::kLostAssociation:
      fx.setArray(kSerial, [](ccisim::Array& a) {
        for (ccisim::SnapPair& p : a.pairs) p.svol = -1;
      });
      break;
    case LeftBy::kAdministrator: {
      std::string md = map(0);
      md.replace(md.find("23OS:NEWDEV"), 11, "23OS:OLDDEV");
      md.replace(md.find("16ON:"), 5, "16ON:admin_vol");
      devices[0]->setMetadataText(HDS_METADATA_SNAP_MAP_FIRST, md);
      deleted = false;
      label = "admin_vol";
      break;
    }
    case LeftBy::kOtherJob:
      fx.setArray(kSerial, [&](ccisim::Array& a) {
        a.ldevRef(std::stoi(targets[0])).label = "QB_SVOL_other";
      });
      deleted = false;
      label = "QB_SVOL_other";
      break;
  }
  for (auto& d : devices) d->setStatus(ZRSO::SNAP_STATUS_DELETE_PENDING);
  auto d = make(OPERATION_TYPE_DELETE);
  ASSERT_EQ(1, d->Delete()) << error(*d).second;
  const ccisim::State state = fx.load();
  const ccisim::Array& a = *state.array(kSerial);
  EXPECT_TRUE(a.pairs.empty());
  const ccisim::Ldev first = a.ldev(std::stoi(targets[0]));
  EXPECT_EQ(!deleted, first.defined);
  if (!deleted) {
    EXPECT_EQ(label, first.label);
  }
  if (GetParam() != LeftBy::kOtherJob) {
    EXPECT_FALSE(holds(presented(1), targets[0]));
  }
  EXPECT_FALSE(a.ldev(std::stoi(targets[1])).defined) << "the second target is the job's";
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(ZRSO::SNAP_STATUS_DELETED, devices[i]->getStatus());
    EXPECT_EQ(std::string::npos, map(i).find("22LI:" + targets[i])) << "record emptied";
  }
}

INSTANTIATE_TEST_SUITE_P(LeftTargets, ContainerRelease,
                         ::testing::Values(LeftBy::kMap, LeftBy::kUnmapHostGroups,
                                           LeftBy::kLostAssociation, LeftBy::kAdministrator,
                                           LeftBy::kOtherJob));

// A target that cannot be released (presented through a host group the
// records do not name) stops the delete before any snapshot is deleted.
TEST_F(ContainerTargets, DeleteWhoseReleaseFailsKeepsTheSnapshots) {
  const std::vector<std::string> targets = mapped();
  fx.setArray(kSerial, [&](ccisim::Array& a) {
    a.ports.at("CL1-A").hostGroups.at(2).luns[7] = std::stoi(targets[0]);
  });
  for (auto& d : devices) d->setStatus(ZRSO::SNAP_STATUS_DELETE_PENDING);
  auto d = make(OPERATION_TYPE_DELETE);
  EXPECT_EQ(0, d->Delete());
  // The refusal's own code and reason, not the container's fallback.
  EXPECT_EQ(62010, error(*d).first);
  EXPECT_NE(std::string::npos, error(*d).second.find("PreSnap HostGroup. It is not freed."))
      << error(*d).second;
  EXPECT_EQ(2u, fx.load().array(kSerial)->pairs.size());
  EXPECT_EQ(0u, raidcomCount("delete snapshot"));
  for (auto& dev : devices) EXPECT_EQ(ZRSO::SNAP_STATUS_DELETE_PENDING, dev->getStatus());
  EXPECT_TRUE(devices[0]->logged("Unable to release the target volumes of the snaps."));
}

}  // namespace
