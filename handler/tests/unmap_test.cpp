// LUN unmapping and target status checks against the simulator: LUs kept
// busy by host I/O on the fake clock with the lock state checked, the
// target checks before unassign and delete, and the search of the array for
// the host groups that present the targets.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "handler/tests/HDSTargetJob.h"
#include "host/testing/ZrFakeClock.h"

namespace {

using Bed = HDSHandlerTestBed;
using hdstarget::kClientGid;
using hdstarget::kPreSnapGid;
using hdstarget::lockStatus;
using hdstarget::luns;

class Unmap : public ::testing::Test {
 protected:
  Unmap() : scoped(&clock) {
    hdstarget::addJob(bed, 2);
    bed.device(0).setSnapId(100);
    bed.device(1).setSnapId(101);
  }
  std::unique_ptr<ZRHDSCommandHandler> handler() {
    auto h = bed.handler(17);
    EXPECT_TRUE(h->IsHandlerInitialized()) << Bed::error(*h).second;
    return h;
  }
  // The LU of ldev in the client host group is busy for `refusals` deletes.
  void busy(int ldev, int refusals) {
    bed.sim.setLunHostIo(Bed::kSerial, "CL1-A", kClientGid, ldev, refusals);
  }
  ZrFakeClock clock;
  ZrScopedClock scoped;
  Bed bed;
};

TEST_F(Unmap, ABusyLuIsRetriedWithTheLockGivenBack) {
  bed.sim.addLun(Bed::kSerial, "CL1-A", kClientGid, 0, 600);
  busy(600, 2);
  auto h = handler();
  ASSERT_TRUE(h->lockResource(false));
  bed.sim.clearJournal();
  ASSERT_TRUE(h->unmapDeviceFromHostGroup("CL1-A", "3", "600")) << Bed::error(*h).second;
  EXPECT_TRUE(luns(bed, kClientGid).empty());
  EXPECT_EQ(3u, bed.count("delete lun"));
  EXPECT_EQ(40000, clock.totalSleptMillis());
  EXPECT_EQ(2u, bed.count("unlock resource"));
  EXPECT_EQ(2u, bed.count("lock resource"));
  EXPECT_EQ("Locked", lockStatus(bed));
}

TEST_F(Unmap, ALuThatStaysBusyEndsWithCodeTwo) {
  bed.sim.addLun(Bed::kSerial, "CL1-A", kClientGid, 0, 600);
  busy(600, -1);
  auto h = handler();
  ASSERT_TRUE(h->lockResource(false));
  bed.sim.clearJournal();
  EXPECT_FALSE(h->unmapDeviceFromHostGroup("CL1-A", "3", "600"));
  EXPECT_EQ(
      std::make_pair(2, std::string("Failed to unmap LDEV-[600] from the HostGroup[CL1-A-3]")),
      Bed::error(*h));
  EXPECT_EQ(9u, bed.count("delete lun")) << "one attempt every 20 s within 180 s";
  EXPECT_EQ(1u, luns(bed, kClientGid).size());
  EXPECT_EQ("Locked", lockStatus(bed));

  // A window of 0 s: no attempt, and still a reason.
  bed.setSetting("nZRHDSMapmapUnmapWaitTimeInSecs", 0);
  bed.sim.clearJournal();
  EXPECT_FALSE(h->unmapDeviceFromHostGroup("CL1-A", "3", "600"));
  EXPECT_EQ(62601, Bed::error(*h).first);
  EXPECT_EQ(0u, bed.count("delete lun"));
  // Not mapped there: nothing to do.
  EXPECT_TRUE(h->unmapDeviceFromHostGroup("CL1-A", "1", "600"));
  EXPECT_EQ(0u, bed.count("delete lun"));
}

// Only host I/O passes with time; the last path of a snapshot S-VOL (and
// any other refusal) fails at once, without a pause or a re-lock.
TEST_F(Unmap, OnlyABusyLuIsRetried) {
  struct Row {
    ccisim::Refusal cause;
    int code;
  } rows[] = {{ccisim::Refusal::kLastSnapshotPath, 3}, {ccisim::Refusal::kOther, 62601}};
  bed.sim.addLun(Bed::kSerial, "CL1-A", kClientGid, 0, 600);
  auto h = handler();
  ASSERT_TRUE(h->lockResource(false));
  for (const Row& r : rows) {
    SCOPED_TRACE(r.code);
    bed.sim.addFault(ccisim::Fault::refusal("raidcom", "delete lun", Bed::kSerial, r.cause, -1));
    bed.sim.clearJournal();
    const int64_t slept = clock.totalSleptMillis();
    EXPECT_FALSE(h->unmapDeviceFromHostGroup("CL1-A", "3", "600"));
    EXPECT_EQ(r.code, Bed::error(*h).first);
    EXPECT_EQ("Failed to unmap LDEV-[600] from the HostGroup[CL1-A-3]", Bed::error(*h).second);
    EXPECT_EQ(1u, bed.count("delete lun"));
    EXPECT_EQ(0, clock.totalSleptMillis() - slept);
    EXPECT_EQ(0u, bed.count("unlock resource"));
    EXPECT_EQ("Locked", lockStatus(bed));
    bed.sim.clearFaults();
  }
}

// An unmap that a retry got past leaves no error behind: a later refusal
// reports its own cause, not the busy LU of the earlier step.
TEST_F(Unmap, RecoveredUnmapLeavesNoStaleErrorForALaterRefusal) {
  bed.sim.addLun(Bed::kSerial, "CL1-A", kClientGid, 0, 600);
  bed.sim.addLun(Bed::kSerial, "CL1-A", kClientGid, 1, 601);  // no record names it there
  busy(600, 1);
  auto h = handler();
  ASSERT_TRUE(h->lockResource(false));
  ASSERT_TRUE(h->unmapReplication({{100, "CL1-A-3"}, {101, ""}})) << Bed::error(*h).second;
  EXPECT_EQ(std::make_pair(0, std::string()), Bed::error(*h));
  EXPECT_FALSE(h->freeSvolsForSource());
  EXPECT_EQ(std::make_pair(62010, std::string("S-VOL-[601] is mapped to HostGroup-[CL1-A-3], not "
                                              "the PreSnap HostGroup. It is not freed.")),
            Bed::error(*h));
}

TEST_F(Unmap, UnmapReplicationGoesOnAfterAFailingHostGroup) {
  bed.sim.addLun(Bed::kSerial, "CL1-A", kClientGid, 0, 600);
  bed.sim.addLun(Bed::kSerial, "CL1-A", kClientGid, 1, 601);
  bed.sim.addHostGroup(Bed::kSerial, "CL1-A", 4, "client2");
  bed.sim.addLun(Bed::kSerial, "CL1-A", 4, 0, 600);
  bed.setSetting("nZRHDSMapmapUnmapWaitTimeInSecs", 1);  // one attempt each
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "delete lun -port CL1-A-4", ccisim::kExitRejected,
                                       "no\n", -1));
  auto h = handler();
  EXPECT_FALSE(h->unmapReplication({{100, "CL1-A-3,CL1-A-4"}, {101, "CL1-A-3"}}));
  EXPECT_TRUE(luns(bed, kClientGid).empty()) << "both snaps left the client host group";
  EXPECT_EQ(1u, luns(bed, 4).size());
}

TEST_F(Unmap, TargetChecksBeforeUnassign) {
  // 16: associated with 600, whose label has a blank (the listing shows it
  // without); 17: its target was relabelled by another job.
  bed.snaps[0].svolLabel = "QB_SVOL_db data";
  bed.sim.setArray(Bed::kSerial, [](ccisim::Array& a) {
    a.pair(16, 3)->svol = 600;
    a.ldevRef(600).label = "QB_SVOL_db data";
    a.ldevRef(601).label = "someone_else";
  });
  auto h = handler();
  int count = 0;
  ASSERT_TRUE(h->checkTargetVolumeStatusForUnmap(count)) << Bed::error(*h).second;
  EXPECT_EQ(1, count);
  EXPECT_TRUE(bed.snaps[0].snapMapped);
  EXPECT_FALSE(bed.snaps[1].snapMapped);
  EXPECT_EQ(14, bed.device(1).getStatus());

  // The target is gone from the array, or there is none.
  bed.sim.setArray(Bed::kSerial, [](ccisim::Array& a) { a.ldevRef(600).defined = false; });
  bed.snaps[1].snapLdevId.clear();
  bed.device(0).setStatus(15);
  bed.device(1).setStatus(15);
  ASSERT_TRUE(h->checkTargetVolumeStatusForUnmap(count));
  EXPECT_EQ(0, count);
  EXPECT_EQ(14, bed.device(0).getStatus());
  EXPECT_EQ(14, bed.device(1).getStatus());
  EXPECT_FALSE(bed.snaps[0].snapMapped);
}

TEST_F(Unmap, TargetChecksBeforeDelete) {
  bed.sim.setArray(Bed::kSerial, [](ccisim::Array& a) {
    a.pair(16, 3)->svol = 600;
    a.pairs.erase(a.pairs.begin() + 1);  // 17's snapshot is gone
  });
  bed.snaps[0].snapLdevId.clear();
  auto h = handler();
  int snaps = 0;
  int targets = 0;
  ASSERT_TRUE(h->checkTargetVolumeStatusForDelete(snaps, targets)) << Bed::error(*h).second;
  EXPECT_EQ(1, snaps);
  EXPECT_EQ(1, targets);
  EXPECT_EQ("600", bed.snaps[0].snapLdevId);
  EXPECT_TRUE(bed.snaps[0].snapMapped);
  EXPECT_EQ(20, bed.device(1).getStatus());
  bed.sim.clearJournal();
  bed.device(0).setStatus(20);
  ASSERT_TRUE(h->checkTargetVolumeStatusForDelete(snaps, targets));
  EXPECT_EQ(0u, bed.count("get snapshot")) << "deleted snaps are not looked at";
}

// The search lists every host group once, whatever the number of snaps,
// skips snaps with nothing to unmap, and leaves a path out of the count only
// when it saw it in the pre-snap host group.
TEST_F(Unmap, SearchForHostGroupsToUnmap) {
  bed.sim.addLun(Bed::kSerial, "CL1-A", kPreSnapGid, 0, 600);
  bed.sim.addLun(Bed::kSerial, "CL1-A", kClientGid, 0, 600);
  bed.sim.addLun(Bed::kSerial, "CL1-A", kClientGid, 1, 601);  // no pre-snap path
  auto h = handler();
  std::map<int, std::string> groups;
  bed.sim.clearJournal();
  ASSERT_TRUE(h->getHostGroupsToUnmapForMNM(groups)) << Bed::error(*h).second;
  EXPECT_EQ((std::map<int, std::string>{{100, "CL1-A-3"}, {101, "CL1-A-3"}}), groups);
  EXPECT_EQ(2u, bed.count("get lun")) << "once per host group of the array";

  // An unmapped snap is not searched for: its entry stays as the caller had it.
  bed.device(0).setStatus(14);
  bed.device(1).setStatus(14);
  std::map<int, std::string> kept{{100, "N/A"}};
  ASSERT_TRUE(h->getHostGroupsToUnmapForMNM(kept));
  EXPECT_EQ((std::map<int, std::string>{{100, "N/A"}}), kept);

  // A path the walk cannot see (the host group's listing fails) is reported.
  // (A new job: this one has the host groups' paths from its first walk.)
  bed.device(0).setStatus(15);
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "get lun -port CL1-A-3", 1, "failed\n"));
  h = handler();
  EXPECT_FALSE(h->getHostGroupsToUnmapForMNM(groups));
  EXPECT_EQ(std::make_pair(62009, std::string("Unable to search all HostGroups to Unmap for "
                                              "Snap-[600]")),
            Bed::error(*h));
}

// A listing that does not show every S-VOL asked for is no read of them: the
// check fails with the array's code and the release changes nothing.
TEST_F(Unmap, AListingShortOfAnSvolFailsTheStep) {
  for (int i = 0; i < 2; ++i) bed.sim.addLun(Bed::kSerial, "CL1-A", kPreSnapGid, i, 600 + i);
  auto h = handler();
  const char* only600 =
      "Serial# : 412345\nLDEV : 600\nVOL_TYPE : OPEN-V-CVS\nNUM_PORT : 1\nPORTs : CL1-A-1 0 "
      "pre\n\n";
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "get ldev", 0, only600, -1));
  int count = 0;
  EXPECT_FALSE(h->checkTargetVolumeStatusForUnmap(count));
  EXPECT_EQ(62601, Bed::error(*h).first);
  bed.sim.clearJournal();
  EXPECT_FALSE(h->freeSvolsForSource());
  EXPECT_EQ(62601, Bed::error(*h).first);
  EXPECT_EQ(0u, bed.count("delete lun") + bed.count("modify ldev"));
  EXPECT_EQ(2u, luns(bed, kPreSnapGid).size());
}

// An unmap's steps read by listings, one for any number of S-VOLs (two
// here): the stored-target proof lists the stored group, the check before
// unassign the targets and the group, the release the targets under the
// lock. S-VOLs a CU apart or more (row 900: the second one's id) are listed apart.
class UnmapReads : public Unmap, public ::testing::WithParamInterface<int> {};

TEST_P(UnmapReads, EachStepReadsByListings) {
  const int svols[] = {600, GetParam() != 0 ? GetParam() : 601};
  bed.sim.setArray(Bed::kSerial, [&](ccisim::Array& a) {
    if (svols[1] != 601) std::swap(a.ldevRef(601), a.ldevRef(svols[1]));
    a.ldevRef(svols[1]).id = svols[1];
    for (int i = 0; i < 2; ++i) {
      a.pair(16 + i, 3)->svol = svols[i];
      a.hostGroup("CL1-A", kPreSnapGid)->luns[i] = svols[i];
    }
  });
  bed.snaps[1].snapLdevId = std::to_string(svols[1]);
  for (ZRHDSSnapInfo& s : bed.snaps) s.snapshotGroup = "QB_7";
  auto h = handler();
  bed.sim.clearJournal();
  // LDEV reads, LDEV listings, pair reads, listings of the stored group.
  auto reads = [this] {
    const std::vector<size_t> n = {bed.count("get ldev"), bed.count("-cnt"),
                                   bed.count("get snapshot"), bed.count("-snapshotgroup QB_7")};
    bed.sim.clearJournal();
    return n;
  };
  const size_t ldevListings = svols[1] != 601 ? 2 : 1;
  std::vector<std::string> refusals;
  ASSERT_TRUE(h->proveStoredTargets({true, true}, refusals));
  EXPECT_EQ((std::vector<std::string>{"", ""}), refusals);
  EXPECT_EQ((std::vector<size_t>{0, 0, 1, 1}), reads());
  int count = 0;
  ASSERT_TRUE(h->checkTargetVolumeStatusForUnmap(count)) << Bed::error(*h).second;
  EXPECT_EQ(2, count);
  EXPECT_TRUE(bed.snaps[0].snapMapped && bed.snaps[1].snapMapped);
  EXPECT_EQ((std::vector<size_t>{ldevListings, ldevListings, 1, 1}), reads());
  ASSERT_TRUE(h->lockResource(true));
  ASSERT_TRUE(h->unmapLdevsFromTargetlessSnaps()) << Bed::error(*h).second;
  reads();
  ASSERT_TRUE(h->freeSvolsForSource()) << Bed::error(*h).second;
  EXPECT_EQ(ldevListings, reads()[0]);
  EXPECT_TRUE(luns(bed, kPreSnapGid).empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, UnmapReads, ::testing::Values(0, 900));

}  // namespace
