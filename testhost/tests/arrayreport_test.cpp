// What the report says changed on the array, the counts expectations test,
// and the invariants checked after every scenario.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <cstdlib>

#include "host/ZRPlatformInfo.h"
#include "host/ZrNamedMutex.h"
#include "host/testing/ScopedTempDir.h"
#include "testhost/ZrArrayReport.h"

namespace {

ccisim::State baseState() {
  ccisim::State s;
  ccisim::Array& a = s.arrays["412345"];
  a.serial = "412345";
  ccisim::Ldev src;
  src.id = 256;
  src.defined = true;
  src.label = "db";
  a.ldevs[256] = src;
  ccisim::Port p;
  p.name = "CL1-A";
  ccisim::HostGroup g;
  g.gid = 1;
  g.name = "hg";
  g.luns[0] = 256;
  p.hostGroups[1] = g;
  a.ports["CL1-A"] = p;
  ccisim::ResourceGroup rg;
  rg.name = "meta_resource";
  a.resourceGroups["meta_resource"] = rg;
  return s;
}

TEST(ArrayReportTest, NamesEveryKindOfChange) {
  const ccisim::State before = baseState();
  ccisim::State after = baseState();
  ccisim::Array& a = after.arrays["412345"];
  ccisim::SnapPair p;
  p.group = "QB_7_5_1F";
  p.pvol = 256;
  p.mu = 3;
  p.state = "PSUS";
  p.svol = 512;
  a.pairs.push_back(p);
  ccisim::Ldev sv;
  sv.id = 512;
  sv.defined = true;
  sv.capacity = 2097152;
  sv.poolId = "5";
  sv.label = "QB_SVOL_db";
  a.ldevs[512] = sv;
  a.ldevs[256].label = "db2";
  a.ports["CL1-A"].hostGroups[1].luns[1] = 512;
  a.ports["CL1-A"].hostGroups[3].name = "QB_PRE_SNAP_HOST_GROUP";
  a.resourceGroups["meta_resource"].lockStatus = "Locked";
  EXPECT_EQ((std::vector<std::string>{
                "412345: snapshot group QB_7_5_1F created",
                "412345: pair LDEV 256 MU 3 added to QB_7_5_1F (PSUS, S-VOL 512)",
                "412345: LDEV 256 label \"db\" -> \"db2\"",
                "412345: LDEV 512 created (2097152 blocks, pool 5, label \"QB_SVOL_db\")",
                "412345: host group CL1-A-3 (QB_PRE_SNAP_HOST_GROUP) created",
                "412345: LU path CL1-A-1 (hg) LUN 1 -> LDEV 512 added",
                "412345: resource group meta_resource Unlocked -> Locked",
            }),
            zrArrayChanges(before, after));
  ccisim::State later = after;
  later.arrays["412345"].pairs[0].state = "PAIR";
  later.arrays["412345"].pairs[0].svol = -1;
  later.arrays["412345"].ldevs[512].defined = false;
  later.arrays["412345"].ports["CL1-A"].hostGroups[1].luns.erase(1);
  later.arrays["412345"].ports["CL1-A"].hostGroups.erase(3);
  EXPECT_EQ((std::vector<std::string>{
                "412345: pair LDEV 256 MU 3 PSUS, S-VOL 512 -> PAIR",
                "412345: LDEV 512 deleted",
                "412345: host group CL1-A-3 (QB_PRE_SNAP_HOST_GROUP) deleted",
                "412345: LU path CL1-A-1 (hg) LUN 1 -> LDEV 512 removed",
            }),
            zrArrayChanges(after, later));
  ccisim::State gone = later;
  gone.arrays["412345"].pairs.clear();
  EXPECT_EQ((std::vector<std::string>{"412345: snapshot group QB_7_5_1F gone",
                                      "412345: pair LDEV 256 MU 3 deleted"}),
            zrArrayChanges(later, gone));
  EXPECT_TRUE(zrArrayChanges(gone, gone).empty());

  const ZrArrayCounts c = zrCountArrays(after);
  EXPECT_EQ(1, c.snapshotPairs);
  EXPECT_EQ(1, c.snapshotGroups);
  EXPECT_EQ(1, c.svols);
  EXPECT_EQ(2, c.lunPaths);
  EXPECT_EQ((std::vector<std::string>{"PSUS"}), c.pairStates);
}

TEST(ArrayReportTest, MetadataInBrief) {
  struct Row {
    const char* text;
    const char* brief;
    std::vector<std::string> keys;
  } rows[] = {
      {"", "-", {}},
      {"1S:412345**3L:256**", "1S=412345 3L=256", {"1S", "3L"}},
      {"1S:412345**16ON:a:b**", "1S=412345 16ON=a:b", {"1S", "16ON"}},
      {"noentry", "noentry", {}},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.brief, zrMetadataBrief(r.text)) << r.text;
    EXPECT_EQ(r.keys, zrMetadataKeys(r.text)) << r.text;
  }
}

TEST(ArrayReportTest, InvariantsNameWhatIsLeftBehind) {
  ScopedTempDir tmp;
  ::setenv("ZRHOST_SETTINGS_FILE", (tmp.path() + "/settings.ini").c_str(), 1);
  ::setenv("ZRHOST_LOCK_DIR", (tmp.path() + "/locks").c_str(), 1);
  ccisim::State s = baseState();
  std::vector<ZrDeviceState> devices(2);
  EXPECT_TRUE(zrInvariantFailures(s, devices).empty());

  ZRPlatformInfo settings;
  ASSERT_EQ(0, settings.setRegInt("~Tessavon", "sZRHDSRaidcomLockCount_412345", 1));
  s.arrays["412345"].resourceGroups["meta_resource"].lockStatus = "Locked";
  s.arrays["412345"].resourceGroups["meta_resource"].lockOwner = "cciuser";
  devices[1].metadata[60] = "{}";
  devices[1].metadata[61] = "";
  ZrNamedMutex held("ZR_HDS_SYNC_COMMANDS");
  ASSERT_NE(0, held.lock(0));
  ZrNamedMutex released("RAIDCOM_LOGIN_LOCK");
  ASSERT_NE(0, released.lock(0));
  released.unlock();
  const std::vector<std::string> f = zrInvariantFailures(s, devices);
  ASSERT_EQ(4u, f.size());
  EXPECT_EQ("login count sZRHDSRaidcomLockCount_412345 is 1, not 0", f[0]);
  EXPECT_EQ("412345: resource group meta_resource is Locked by cciuser", f[1]);
  EXPECT_NE(std::string::npos, f[2].find("is held"));
  EXPECT_NE(std::string::npos, f[2].find(ZrNamedMutex::pathForName("ZR_HDS_SYNC_COMMANDS")));
  EXPECT_EQ("device 1: metadata 60 not empty", f[3]);
  held.unlock();
  ASSERT_EQ(0, settings.setRegInt("~Tessavon", "sZRHDSRaidcomLockCount_412345", 0));
  EXPECT_EQ(2u, zrInvariantFailures(s, devices).size());
}

}  // namespace
