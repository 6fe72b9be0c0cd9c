// A whole job on the simulator, one container per step as the workers build
// them: prepare, create, assign and map, unmap and unassign, delete. The
// stored metadata is checked byte for byte after each step, and nothing of
// the job is left on the array at the end.
#include <algorithm>
#include <string>
#include <vector>

#include "container/tests/support/HDSContainerTestBed.h"

namespace {

class ContainerCycle : public HDSContainerTestBed {
 protected:
  void SetUp() override { addMappableSources(); }
  const ccisim::Array& array() {
    m_state = fx.load();
    return *m_state.array(kSerial);
  }
  std::string unique(size_t i) { return devices[i]->metadata(HDS_METADATA_UNIQUE); }
  std::string map(size_t i) { return devices[i]->metadata(HDS_METADATA_SNAP_MAP_FIRST); }

  ccisim::State m_state;
};

TEST_F(ContainerCycle, PrepareCreateMapUnmapDelete) {
  // ---- prepare ----
  std::string instance;
  {
    auto c = make(OPERATION_TYPE_PREPARE);
    ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
    ASSERT_EQ(1, c->Prepare()) << error(*c).second;
    ASSERT_EQ(1, c->savePrepareMetadata()) << error(*c).second;
    instance = Peer::options(*c).horcmInst;
  }
  const ccisim::Array& prepared = array();
  ASSERT_EQ(2u, prepared.pairs.size());
  const std::string group = prepared.pairs[0].group;
  EXPECT_EQ(0u, group.find("QB_12_5_1F_")) << group;
  std::vector<std::string> mus;
  for (const ccisim::SnapPair& p : prepared.pairs) {
    EXPECT_EQ(group, p.group);
    mus.push_back(std::to_string(p.mu));
  }
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ("1S:412345**3L:" + std::to_string(256 + i) + "**5M:M8S**13SM:" + mus[i] +
                  "**6RS:**8RL:**10SG:" + group + "**11C:2097152**12P:CL1-A**",
              unique(i));
    EXPECT_EQ(instance, devices[i]->metadata(HDS_METADATA_HORCM_INSTANCE));
  }
  const std::string prepareRecord0 = unique(0);

  // ---- create ----
  {
    auto c = make(OPERATION_TYPE_CREATE);
    ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
    ASSERT_EQ(1, c->Create()) << error(*c).second;
  }
  for (const ccisim::SnapPair& p : array().pairs) EXPECT_EQ("PSUS", p.state);
  EXPECT_EQ(1u, raidcomCount("modify snapshot -snapshotgroup " + group + " -snapshot_data create"));
  EXPECT_EQ(prepareRecord0, unique(0));
  EXPECT_FALSE(devices[0]->hasMetadata(HDS_METADATA_REPLICATION));

  // ---- assign and map ----
  std::vector<std::string> targets;
  {
    auto c = make(OPERATION_TYPE_MAP);
    ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
    ASSERT_EQ(1, c->Assign()) << error(*c).second;
    for (const ZRHDSSnapInfo& s : c->getSnapInfoList()) targets.push_back(s.snapLdevId);
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ("16ON:**22LI:" + targets[i] + "**24VI:**23OS:NEWDEV**", map(i));
    }
    ASSERT_EQ(1, c->Map({"10000000C9A1B2C3"})) << error(*c).second;
    std::vector<ZRHDSMapDiscoveryInfo> found;
    c->getMappedSnapDiscoveryInfo(found);
    ASSERT_EQ(2u, found.size());
    EXPECT_EQ("snap1", found[0].MSName);
    EXPECT_EQ(targets[1], found[1].MSNum);
  }
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ("16ON:**22LI:" + targets[i] + "**24VI:**23OS:NEWDEV**17HG:CL1-A-1**", map(i));
  }
  {
    const ccisim::Array& a = array();
    const ccisim::HostGroup* hg = a.hostGroup("CL1-A", 1);
    ASSERT_NE(nullptr, hg);
    std::vector<int> ldevs;
    for (const auto& lun : hg->luns) ldevs.push_back(lun.second);
    for (const std::string& t : targets) {
      EXPECT_NE(ldevs.end(), std::find(ldevs.begin(), ldevs.end(), std::stoi(t))) << t;
      EXPECT_EQ("QB_SVOL_snap" + std::to_string(&t - &targets[0] + 1), a.ldev(std::stoi(t)).label);
    }
    for (const ccisim::SnapPair& p : a.pairs) EXPECT_NE(-1, p.svol);
  }

  // ---- unmap and unassign ----
  {
    auto c = make(OPERATION_TYPE_UNMAP);
    ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
    ASSERT_EQ(1, c->Unmap()) << error(*c).second;
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ("16ON:**22LI:" + targets[i] + "**24VI:**23OS:NEWDEV**17HG:N/A**", map(i));
      EXPECT_EQ(ZRSO::SNAP_STATUS_UNMAPPED, devices[i]->getStatus());
    }
    ASSERT_EQ(1, c->Unassign()) << error(*c).second;
  }
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ("16ON:**22LI:**24VI:**23OS:**17HG:N/A**", map(i));
    EXPECT_EQ(ZRSO::SNAP_STATUS_UNMAPPED, devices[i]->getStatus());
  }
  {
    const ccisim::Array& a = array();
    for (const std::string& t : targets) EXPECT_FALSE(a.ldev(std::stoi(t)).defined) << t;
    EXPECT_EQ(2u, a.hostGroup("CL1-A", 1)->luns.size());
    for (const ccisim::SnapPair& p : a.pairs) EXPECT_EQ(-1, p.svol);
  }

  // ---- delete ----
  {
    for (auto& d : devices) d->setStatus(ZRSO::SNAP_STATUS_DELETE_PENDING);
    auto c = make(OPERATION_TYPE_DELETE);
    ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
    ASSERT_EQ(1, c->Delete()) << error(*c).second;
    for (auto& d : devices) EXPECT_EQ(ZRSO::SNAP_STATUS_DELETED, d->getStatus());
  }
  const ccisim::Array& end = array();
  EXPECT_TRUE(end.pairs.empty());
  for (const std::string& t : targets) EXPECT_FALSE(end.ldev(std::stoi(t)).defined);
  EXPECT_EQ(2u, end.hostGroup("CL1-A", 1)->luns.size());
  for (const auto& rg : end.resourceGroups) EXPECT_EQ("Unlocked", rg.second.lockStatus) << rg.first;
}

}  // namespace
