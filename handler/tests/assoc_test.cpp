// S-VOL association and release against the simulator: undo of a partial
// association, release that removes only the pre-snap path and refuses an
// S-VOL presented to a host, and deletion of the job's own S-VOLs only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handler/tests/support/HDSHandlerTestBed.h"
#include "host/testing/ZrFakeClock.h"

namespace {

using Bed = HDSHandlerTestBed;
constexpr uint64_t kBlocks = 4194304;

// Sources 16.. with a stored snapshot each and a defined target 600..
// named by the job's label.
void jobWithTargets(Bed& bed, int count) {
  std::vector<int> ids;
  for (int i = 0; i < count; ++i) ids.push_back(16 + i);
  bed.addSources(ids);
  bed.sim.addPort(Bed::kSerial, "CL1-A", "50060e8000000001");
  bed.sim.addHostGroup(Bed::kSerial, "CL1-A", 1, "QB_PRE_SNAP_HOST_GROUP");
  bed.sim.addHostGroup(Bed::kSerial, "CL1-A", 2, "client");
  bed.options.preSnapPort = "CL1-A";
  for (int i = 0; i < count; ++i) {
    ZRHDSSnapInfo& s = bed.snaps[i];
    s.capacity = kBlocks;
    s.snapMu = std::to_string(bed.sim.addSnapshotPair(Bed::kSerial, "QB_7", 16 + i, 5, "PSUS"));
    s.snapLdevId = std::to_string(600 + i);
    s.svolLabel = "QB_SVOL_s" + s.baseDevNo;
    s.snapOriginalName = "orig";
    s.snapOriginalState = "NEWDEV";
    ccisim::Ldev target;
    target.id = 600 + i;
    target.capacity = kBlocks;
    target.attrs = {"CVS", "VVOL"};
    target.label = s.svolLabel;
    bed.sim.addLdev(Bed::kSerial, target);
  }
}

ccisim::Ldev ldev(Bed& bed, int id) { return bed.sim.load().arrays.at(Bed::kSerial).ldev(id); }

TEST(Assoc, AFailedAssociationUndoesTheEarlierOnes) {
  ZrFakeClock clock;
  ZrScopedClock scoped(&clock);
  Bed bed;
  jobWithTargets(bed, 3);
  auto h = bed.handler(15);
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "map snapshot -ldev_id 18 602",
                                       ccisim::kExitRejected, "refused\n"));
  EXPECT_FALSE(h->mapLdevsToTargetlessSnaps());
  EXPECT_EQ(std::make_pair(62601, std::string("Failed to map target LDEV-[602] to Snap-[18-MU3].")),
            Bed::error(*h));
  EXPECT_EQ(2u, bed.count("unmap snapshot"));
  const ccisim::State s = bed.sim.load();
  for (int pvol : {16, 17, 18}) EXPECT_EQ(-1, s.arrays.at(Bed::kSerial).pair(pvol, 3)->svol);

  // Associated targets are left alone by the association and are the only
  // ones the dissociation acts on.
  bed.snaps[2].snapMapped = true;
  bed.sim.clearJournal();
  ASSERT_TRUE(h->mapLdevsToTargetlessSnaps()) << Bed::error(*h).second;
  EXPECT_EQ(2u, bed.count("map snapshot"));
  for (ZRHDSSnapInfo& snap : bed.snaps) snap.snapMapped = !snap.snapMapped;
  ASSERT_TRUE(h->unmapLdevsFromTargetlessSnaps()) << Bed::error(*h).second;
  EXPECT_EQ(2u, bed.count("unmap snapshot"));
}

// Release of one S-VOL by its LU paths: only a path in the pre-snap host
// group is removed; any other path refuses the release before any change.
TEST(Assoc, ReleaseTable) {
  struct Row {
    const char* name;
    std::vector<int> groups;  // GIDs on CL1-A holding the S-VOL: 1 pre-snap, 2 client
    bool ok;
  } rows[] = {
      {"no path", {}, true},
      {"pre-snap path", {1}, true},
      {"client path", {2}, false},
      {"two paths", {1, 2}, false},
  };
  for (const Row& row : rows) {
    ZrFakeClock clock;
    ZrScopedClock scoped(&clock);
    Bed bed;
    jobWithTargets(bed, 1);
    for (int gid : row.groups) bed.sim.addLun(Bed::kSerial, "CL1-A", gid, 0, 600);
    auto h = bed.handler(17);
    bed.sim.clearJournal();
    EXPECT_EQ(row.ok, h->deallocateTargetDevices()) << row.name;
    const bool kept = !row.ok;
    EXPECT_EQ(kept, ldev(bed, 600).defined) << row.name;
    if (kept) {
      EXPECT_EQ("QB_SVOL_s16", ldev(bed, 600).label) << row.name;
    }
    const ccisim::State s = bed.sim.load();
    const ccisim::Array& a = s.arrays.at(Bed::kSerial);
    EXPECT_EQ(kept && row.groups.size() == 2 ? 1u : 0u, a.hostGroup("CL1-A", 1)->luns.size())
        << row.name;
    if (kept) {
      EXPECT_EQ(1u, a.hostGroup("CL1-A", 2)->luns.size()) << row.name;
      EXPECT_EQ(0u, bed.count("delete lun") + bed.count("modify ldev") + bed.count("delete ldev"))
          << row.name;
    }
  }
}

TEST(Assoc, OnlyTheJobsOwnSvolsAreDeleted) {
  ZrFakeClock clock;
  ZrScopedClock scoped(&clock);
  Bed bed;
  jobWithTargets(bed, 3);
  bed.snaps[1].snapOriginalState = "OLDDEV";
  bed.snaps[2].snapOriginalState = "";  // found associated: maybe an administrator's
  auto h = bed.handler(17);
  bed.options.isVSM = true;
  bed.setSetting("nZRHDSPostDeleteWaitTimeInSecs", 10);
  ASSERT_TRUE(h->deallocateTargetDevices()) << Bed::error(*h).second;
  EXPECT_FALSE(ldev(bed, 600).defined);
  EXPECT_TRUE(ldev(bed, 601).defined);
  EXPECT_TRUE(ldev(bed, 602).defined);
  EXPECT_EQ("orig", ldev(bed, 601).label);
  EXPECT_EQ(10000, clock.totalSleptMillis()) << "one pause per deletion on a VSM";
}

}  // namespace
