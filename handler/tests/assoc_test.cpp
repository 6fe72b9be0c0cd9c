// S-VOL association and release against the simulator: undo of a partial
// association, release that removes only the pre-snap path and refuses an
// S-VOL presented to a host, and deletion of the job's own S-VOLs only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handler/tests/HDSTargetJob.h"
#include "host/testing/ZrFakeClock.h"

namespace {

using Bed = HDSHandlerTestBed;
using hdstarget::addJob;
using hdstarget::ldev;

TEST(Assoc, AFailedAssociationUndoesTheEarlierOnes) {
  ZrFakeClock clock;
  ZrScopedClock scoped(&clock);
  Bed bed;
  addJob(bed, 3);
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

// The associations run as one batch; a command-status error at any position
// is the failure of exactly that association: the others (before and after
// it) took effect and are undone in one dissociation batch, the failed one
// is never dissociated, and nothing is left associated.
TEST(Assoc, StatusErrorAtEachPositionUndoesTheOthersOnly) {
  const int n = 3;
  for (int k = 0; k < n; ++k) {
    SCOPED_TRACE("error at " + std::to_string(k));
    ZrFakeClock clock;
    ZrScopedClock scoped(&clock);
    Bed bed;
    addJob(bed, n);
    auto h = bed.handler(15);
    const std::string pvol = std::to_string(16 + k);
    const std::string target = std::to_string(600 + k);
    bed.sim.addFault(
        ccisim::Fault::statusError("map snapshot -ldev_id " + pvol + " " + target, 1, "injected"));
    bed.sim.clearJournal();
    EXPECT_FALSE(h->mapLdevsToTargetlessSnaps());
    EXPECT_EQ(std::make_pair(62601, "Failed to map target LDEV-[" + target + "] to Snap-[" + pvol +
                                        "-MU3]."),
              Bed::error(*h));
    EXPECT_EQ(static_cast<size_t>(n), bed.count("map snapshot"));
    EXPECT_EQ(static_cast<size_t>(n - 1), bed.count("unmap snapshot"));
    EXPECT_EQ(0u, bed.count("unmap snapshot -ldev_id " + pvol)) << "never associated";
    EXPECT_EQ(2u, bed.count("reset command_status")) << "the batch and its undo";
    const ccisim::State s = bed.sim.load();
    for (int i = 0; i < n; ++i) EXPECT_EQ(-1, s.arrays.at(Bed::kSerial).pair(16 + i, 3)->svol);
  }
}

// The same for the dissociation: what was dissociated is associated again.
TEST(Assoc, DissociationStatusErrorReassociatesTheOthers) {
  ZrFakeClock clock;
  ZrScopedClock scoped(&clock);
  Bed bed;
  addJob(bed, 3);
  auto h = bed.handler(17);
  ASSERT_TRUE(h->mapLdevsToTargetlessSnaps()) << Bed::error(*h).second;
  for (ZRHDSSnapInfo& snap : bed.snaps) snap.snapMapped = true;
  bed.sim.addFault(ccisim::Fault::statusError("unmap snapshot -ldev_id 17", 1, "injected"));
  bed.sim.clearJournal();
  EXPECT_FALSE(h->unmapLdevsFromTargetlessSnaps());
  EXPECT_EQ(3u, bed.count("unmap snapshot"));
  EXPECT_EQ(2u, bed.count("map snapshot"));
  EXPECT_EQ(0u, bed.count("map snapshot -ldev_id 17"));
  const ccisim::State s = bed.sim.load();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(600 + i, s.arrays.at(Bed::kSerial).pair(16 + i, 3)->svol);
}

// Release of one S-VOL by its LU paths: only a path in the pre-snap host
// group is removed; any other path refuses the release before any change.
TEST(Assoc, ReleaseTable) {
  struct Row {
    const char* name;
    std::vector<int> groups;  // GIDs on CL1-A holding the S-VOL
    bool ok;
  } rows[] = {
      {"no path", {}, true},
      {"pre-snap path", {hdstarget::kPreSnapGid}, true},
      {"client path", {hdstarget::kClientGid}, false},
      {"two paths", {hdstarget::kPreSnapGid, hdstarget::kClientGid}, false},
  };
  for (const Row& row : rows) {
    ZrFakeClock clock;
    ZrScopedClock scoped(&clock);
    Bed bed;
    addJob(bed, 1);
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
    EXPECT_EQ(kept && row.groups.size() == 2 ? 1u : 0u,
              a.hostGroup("CL1-A", hdstarget::kPreSnapGid)->luns.size())
        << row.name;
    if (kept) {
      EXPECT_EQ(1u, a.hostGroup("CL1-A", hdstarget::kClientGid)->luns.size()) << row.name;
      EXPECT_EQ(0u, bed.count("delete lun") + bed.count("modify ldev") + bed.count("delete ldev"))
          << row.name;
    }
  }
}

TEST(Assoc, OnlyTheJobsOwnSvolsAreDeleted) {
  ZrFakeClock clock;
  ZrScopedClock scoped(&clock);
  Bed bed;
  addJob(bed, 3);
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
  // Only the S-VOL chosen among existing LDEVs gets its former label back;
  // the one of unknown origin keeps the job's and is logged for an administrator.
  EXPECT_EQ("QB_SVOL_s18", ldev(bed, 602).label);
  EXPECT_EQ(1u, bed.count("modify ldev"));
  EXPECT_EQ(1u, bed.count("modify ldev -ldev_id 601"));
  const std::string logs = bed.logs();
  EXPECT_NE(std::string::npos, logs.find("S-VOL-[602] [QB_SVOL_s18] of P-VOL-[18] MU-[" +
                                         bed.snaps[2].snapMu + "] has no recorded origin"));
  EXPECT_NE(std::string::npos, logs.find("raidcom delete ldev -ldev_id 602 -IM3532 -s 412345."));
  EXPECT_EQ(std::string::npos, logs.find("S-VOL-[601] [QB_SVOL_s17] of P-VOL")) << "OLDDEV: known";
}

// An S-VOL the job made keeps the job's label until it is deleted: a job
// that stops in between (killed, or the deletion refused) leaves one that
// the next job still takes for the job's and releases.
TEST(Assoc, TheJobsOwnSvolKeepsItsLabelUntilDeleted) {
  ZrFakeClock clock;
  ZrScopedClock scoped(&clock);
  Bed bed;
  addJob(bed, 1);
  bed.sim.addLun(Bed::kSerial, "CL1-A", hdstarget::kPreSnapGid, 0, 600);
  auto h = bed.handler(17);
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "delete ldev -ldev_id 600",
                                       ccisim::kExitRejected, "refused\n"));
  EXPECT_FALSE(h->deallocateTargetDevices());
  EXPECT_TRUE(ldev(bed, 600).defined);
  EXPECT_EQ("QB_SVOL_s16", ldev(bed, 600).label);
  bed.sim.clearFaults();
  ASSERT_TRUE(h->deallocateTargetDevices()) << Bed::error(*h).second;
  EXPECT_FALSE(ldev(bed, 600).defined);
}

// Releasing S-VOLs costs the same few commands per S-VOL; the host groups of
// a port are listed once, not per S-VOL.
TEST(Assoc, ReleaseCommandsGrowLinearlyInTheSnaps) {
  std::vector<size_t> commands;
  for (int count = 1; count <= 3; ++count) {
    ZrFakeClock clock;
    ZrScopedClock scoped(&clock);
    Bed bed;
    addJob(bed, count);
    for (int i = 0; i < count; ++i) {
      bed.sim.addLun(Bed::kSerial, "CL1-A", hdstarget::kPreSnapGid, i, 600 + i);
    }
    auto h = bed.handler(17);
    bed.sim.clearJournal();
    ASSERT_TRUE(h->deallocateTargetDevices()) << Bed::error(*h).second;
    commands.push_back(bed.sim.journal().size());
    EXPECT_EQ(1u, bed.count("get host_grp")) << count;
  }
  EXPECT_EQ(commands[1] - commands[0], commands[2] - commands[1]);
}

}  // namespace
