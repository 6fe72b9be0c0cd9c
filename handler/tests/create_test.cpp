// Targetless snapshot creation against the simulator: the group chosen or
// named, the pairs added and recorded, the waits on the virtual clock.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "handler/tests/support/HDSFakeImplementer.h"
#include "handler/tests/support/HDSHandlerTestBed.h"
#include "host/testing/ZrFakeClock.h"

namespace {

const char kSerial[] = "412345";
// Host number 0x1F and the fake clock's start, 1700000000 = 0x6553F100.
const char kNewGroup[] = "QB_7_5_1F_6553F100";

class HandlerCreate : public ::testing::Test {
 protected:
  HandlerCreate() : installed(&clock) { bed.os.setHostNumber(0x1F); }
  void start(const std::vector<int>& ldevs) {
    bed.addSources(ldevs);
    h = bed.handler();
    ASSERT_TRUE(h->IsHandlerInitialized()) << HDSHandlerTestBed::error(*h).second;
    bed.sim.clearJournal();
  }
  std::vector<ccisim::SnapPair> pairs() const { return bed.sim.load().arrays.at(kSerial).pairs; }
  std::vector<ccisim::SnapPair> pairsOf(const std::string& group) const {
    std::vector<ccisim::SnapPair> out;
    for (const auto& p : pairs()) {
      if (p.group == group) out.push_back(p);
    }
    return out;
  }
  std::pair<int, std::string> error() { return HDSHandlerTestBed::error(*h); }

  ZrFakeClock clock;
  ZrScopedClock installed;
  HDSHandlerTestBed bed;
  std::unique_ptr<ZRHDSCommandHandler> h;
};

TEST_F(HandlerCreate, NewGroupIsNamedFromBasePoolHostAndTime) {
  start({301, 302, 303});
  ASSERT_TRUE(h->createTargetlessSnap()) << error().second;
  EXPECT_EQ(kNewGroup, bed.options.snapshotGroup);
  ASSERT_EQ(3u, pairsOf(kNewGroup).size());
  for (const ZRHDSSnapInfo& s : bed.snaps) {
    EXPECT_EQ(kNewGroup, s.snapshotGroup);
    EXPECT_EQ("3", s.snapMu);
  }
  // One listing of the array, one add per record, one read-back.
  EXPECT_EQ(1u, bed.count("get snapshot -IM3532"));
  EXPECT_EQ(3u, bed.count("-pool 5 -snapshotgroup QB_7_5_1F_6553F100"));
  EXPECT_EQ(0u, bed.count("-snap_mode"));
  EXPECT_EQ(1u, bed.count("get snapshot -snapshotgroup QB_7_5_1F_6553F100"));
  EXPECT_EQ(0, clock.sleepCalls());
}

TEST_F(HandlerCreate, ConsistencyGroupModeNeverReusesAndNeverListsTheArray) {
  bed.sim.addSourceLdev(kSerial, 301, 2097152, 1);
  bed.sim.addSnapshotPair(kSerial, "QB_7_5_1F_AB", 301, 5, "PSUS");
  bed.options.useConsistencyGrp = true;
  start({301, 302});
  ASSERT_TRUE(h->createTargetlessSnap()) << error().second;
  EXPECT_EQ(kNewGroup, bed.options.snapshotGroup);
  EXPECT_EQ(0u, bed.count("get snapshot -IM3532"));
  EXPECT_EQ(2u, bed.count("-snap_mode CTG"));
  for (const auto& p : pairsOf(kNewGroup)) EXPECT_TRUE(p.ctg);
  EXPECT_EQ("4", bed.snaps[0].snapMu);  // MU 3 is the older pair's
}

TEST_F(HandlerCreate, ReusedGroupGivesRecordsOnlyTheNewPairs) {
  bed.sim.addSourceLdev(kSerial, 301, 2097152, 1);
  bed.sim.addSourceLdev(kSerial, 309, 2097152, 1);
  // A group of this base and pool (the prefix after other characters),
  // split, with an older pair of one of the job's LDEVs.
  const std::string group = "XQB_7_5_1F_AB";
  bed.sim.addSnapshotPair(kSerial, group, 301, 5, "PSUS");
  bed.sim.addSnapshotPair(kSerial, group, 309, 5, "PSUS");
  start({301, 302});
  ASSERT_TRUE(h->createTargetlessSnap()) << error().second;
  EXPECT_EQ(group, bed.options.snapshotGroup);
  EXPECT_EQ(4u, pairsOf(group).size());
  EXPECT_EQ("4", bed.snaps[0].snapMu);
  EXPECT_EQ("3", bed.snaps[1].snapMu);
  EXPECT_EQ(group, bed.snaps[1].snapshotGroup);
  EXPECT_NE(std::string::npos, bed.logs().find("SnapshotGroup-[" + group + "] will be used"));
}

// An add that took no effect under a status of no errors, in a reused group
// holding an older pair of the source.
TEST_F(HandlerCreate, ASourceWithoutItsNewPairFailsThePrepare) {
  bed.sim.addSourceLdev(kSerial, 301, 2097152, 1);
  const std::string group = "XQB_7_5_1F_AB";
  bed.sim.addSnapshotPair(kSerial, group, 301, 5, "PSUS");
  start({301, 302});
  bed.sim.addFault(ccisim::Fault::statusReset("add snapshot -ldev_id 301"));
  EXPECT_FALSE(h->createTargetlessSnap());
  const std::string text = " shows no new snapshot pair of LDEV-301 after it was added.";
  EXPECT_EQ(std::make_pair(62008, "SnapshotGroup-" + group + text), error());
  EXPECT_EQ("", bed.snaps[0].snapMu);
  EXPECT_EQ("3", bed.snaps[1].snapMu) << "recorded for the clean-up";
  EXPECT_EQ(2u, pairsOf(group).size());
}

TEST_F(HandlerCreate, UnusableGroupsArePassedOverEachExaminedOnce) {
  for (int id : {301, 302, 303, 304, 305}) bed.sim.addSourceLdev(kSerial, id, 2097152, 1);
  ccisim::Pool other;
  other.id = 6;
  other.name = "other";
  bed.sim.addPool(kSerial, other);
  // Not yet split (three rows, one group).
  for (int id : {301, 302, 303}) bed.sim.addSnapshotPair(kSerial, "QB_7_5_1F_A1", id, 5, "PAIR");
  bed.sim.addSnapshotPair(kSerial, "QB_7_5_1F_A2", 304, 6, "PSUS");        // other pool
  bed.sim.addSnapshotPair(kSerial, "QB_7_5_1F_A3", 305, 5, "PSUS", true);  // CTG mode
  bed.sim.addSnapshotPair(kSerial, "QB_8_5_1F_A4", 305, 5, "PSUS");        // other base
  start({301});
  ASSERT_TRUE(h->createTargetlessSnap()) << error().second;
  EXPECT_EQ(kNewGroup, bed.options.snapshotGroup);
  EXPECT_EQ(1u, bed.count("get snapshot -snapshotgroup QB_7_5_1F_A1"));
  EXPECT_EQ(1u, bed.count("get snapshot -snapshotgroup QB_7_5_1F_A2"));
  EXPECT_EQ(1u, bed.count("get snapshot -snapshotgroup QB_7_5_1F_A3"));
  EXPECT_EQ(0u, bed.count("get snapshot -snapshotgroup QB_8_5_1F_A4"));
  const std::string logs = bed.logs();
  EXPECT_NE(std::string::npos,
            logs.find("SnapshotGroup-[QB_7_5_1F_A1] cannot be used. Pair[301->]"));
  EXPECT_NE(std::string::npos, logs.find("SnapshotGroup-[QB_7_5_1F_A2] uses Pool-[6]"));
  EXPECT_NE(std::string::npos, logs.find("CTG Mode. Group-[QB_7_5_1F_A3] cannot be used"));
}

TEST_F(HandlerCreate, GroupCapacityCountsTheJobsRecords) {
  for (size_t records : {24u, 25u}) {
    SCOPED_TRACE(records);
    HDSHandlerTestBed local;
    local.os.setHostNumber(0x1F);
    std::vector<int> ids;
    for (size_t i = 0; i < records; ++i) ids.push_back(static_cast<int>(400 + i));
    local.addSources(ids, false);
    std::string added;
    ZRHDSCommandHandler handler(
        local.params, HDSFakeImplementer::factory([&](HDSFakeImplementer& f) {
          f.onLogin = [](bool) { return 0; };
          f.onLogout = [] { return 0; };
          f.onResourceGroupFromLdev = [] { return 0; };
          f.onSnapshotList = [&](std::vector<HDSSnapshotGroupInfo>& rows, const std::string& key,
                                 bool) {
            HDSSnapshotGroupInfo row;
            row.snapshotGroupName = "QB_7_5_FULL";
            row.status = "PSUS";
            row.poolId = "5";
            row.mode = "----";
            row.ldevId = "9";
            const size_t n = key.empty() ? 1 : key == "QB_7_5_FULL" ? 1000 : 0;
            for (size_t i = 0; i < n; ++i) {
              row.muNumber = std::to_string(i);
              rows.push_back(row);
            }
            // After the add, the group the pairs went to shows them.
            for (size_t i = 0; !added.empty() && key == added && i < local.snaps.size(); ++i) {
              row.snapshotGroupName = added;
              row.ldevId = local.snaps[i].baseDevNo;
              row.muNumber = "1001";
              rows.push_back(row);
            }
            return 0;
          };
          f.onAddToSnapshotGroup = [&] { return added = local.options.snapshotGroup, 0; };
        }));
    ASSERT_TRUE(handler.createTargetlessSnap());
    EXPECT_EQ(records == 24u ? "QB_7_5_FULL" : kNewGroup, added);
    EXPECT_EQ(records == 25u, local.logs().find("already has [1000] pairs") != std::string::npos);
  }
}

TEST_F(HandlerCreate, AddFailureOnTheSecondOfThreeRecordsWhatWasAddedForTheCleanUp) {
  start({301, 302, 303});
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "add snapshot -ldev_id 302", 1, "refused"));
  EXPECT_FALSE(h->createTargetlessSnap());
  EXPECT_EQ(62601, error().first);
  EXPECT_EQ("Failed to create targetless snaps.", error().second);
  EXPECT_EQ("3", bed.snaps[0].snapMu);
  EXPECT_EQ(kNewGroup, bed.snaps[0].snapshotGroup);
  EXPECT_EQ("", bed.snaps[1].snapMu);
  EXPECT_EQ("", bed.snaps[2].snapMu);
  EXPECT_EQ(1u, pairs().size());

  // The prepare clean-up removes exactly what was added.
  ASSERT_TRUE(h->deleteTargetlessSnap()) << error().second;
  EXPECT_TRUE(pairs().empty());
  EXPECT_EQ(1u, bed.count("delete snapshot -ldev_id 301 -mirror_id 3"));
  EXPECT_EQ(1u, bed.count("delete snapshot"));
}

TEST_F(HandlerCreate, TwoRecordsOnOneLdevGetOnePairEach) {
  start({301, 301});
  ASSERT_TRUE(h->createTargetlessSnap()) << error().second;
  EXPECT_EQ("3", bed.snaps[0].snapMu);
  EXPECT_EQ("4", bed.snaps[1].snapMu);
}

TEST_F(HandlerCreate, NameTooLongSetsItsOwnErrorAndAddsNothing) {
  start({301});
  h->setErrorCodeString(62601, "an older failure");
  // 16 characters of prefix and 17 of suffix.
  bed.options.snapshotGroup = "QB_1234567890";
  bed.os.setHostNumber(0x1FFFFFFF);
  EXPECT_FALSE(h->createTargetlessSnap());
  EXPECT_EQ(62008, error().first);
  EXPECT_NE(std::string::npos, error().second.find("QB_1234567890_5_1FFFFFFF_6553F100"));
  EXPECT_EQ(0u, bed.count("add snapshot"));
  // 16 and 16 fit.
  bed.options.snapshotGroup = "QB_1234567890";
  bed.os.setHostNumber(0x1FFFFFF);
  EXPECT_TRUE(h->createTargetlessSnap()) << error().second;
  EXPECT_EQ("QB_1234567890_5_1FFFFFF_6553F100", bed.options.snapshotGroup);
}

TEST_F(HandlerCreate, PairStateWaitAndAfterSnapSleepRunOnTheClock) {
  struct Case {
    int addPolls;  // listings until a new pair reads PAIR; -1 never
    int interval;
    int afterSnap;
    int64_t slept;
  };
  const Case cases[] = {
      {4, 5, 0, 10000},   // COPY at the read-back and two passes, then PAIR
      {-1, 5, 0, 50000},  // never: ten passes, ten pauses, still success
      {-1, 0, 3, 3000},   // no pair-state wait; the after-snap sleep
      {0, 0, 0, 0},
  };
  start({301, 302});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.interval * 100 + c.afterSnap);
    ccisim::PairTiming t;
    t.addPolls = c.addPolls;
    bed.sim.setPairTiming(kSerial, t);
    bed.sim.setArray(kSerial, [](ccisim::Array& a) { a.pairs.clear(); });
    bed.setSetting("nZRHDSCLIWaitForSnapshotToBeInPairState", c.interval);
    bed.setSetting("nZRHDSAfterSnapWaitTimeSeconds", c.afterSnap);
    bed.options.snapshotGroup = "QB_7";
    clock.advanceMillis(1000);  // a new group name each time
    const int64_t before = clock.totalSleptMillis();
    ASSERT_TRUE(h->createTargetlessSnap()) << error().second;
    EXPECT_EQ(c.slept, clock.totalSleptMillis() - before);
  }
}

// Two jobs of one host naming a group in the same second: the second sees
// the first's group under the name's lock and names its own; neither job's
// pairs join the other's group.
TEST_F(HandlerCreate, TwoJobsInOneSecondNeverShareANewGroup) {
  for (bool ctg : {false, true}) {
    SCOPED_TRACE(ctg ? "consistency group" : "plain");
    HDSHandlerTestBed local;
    local.os.setHostNumber(0x1F);
    local.options.useConsistencyGrp = ctg;
    local.addSources({301, 302});
    ASSERT_TRUE(local.handler()->createTargetlessSnap());
    EXPECT_EQ(kNewGroup, local.options.snapshotGroup);
    // The next job of the host, the clock still in the same second.
    local.snaps.clear();
    local.osUtil = &local.os;  // the first handler's teardown cleared it
    local.addSources({303, 304});
    local.options.snapshotGroup = "QB_7";
    local.sim.clearJournal();
    ASSERT_TRUE(local.handler()->createTargetlessSnap());
    const std::string second = std::string(kNewGroup) + "_1";
    EXPECT_EQ(second, local.options.snapshotGroup);
    EXPECT_EQ(second, local.snaps[0].snapshotGroup);
    std::map<std::string, std::set<int>> members;
    const ccisim::State state = local.sim.load();
    for (const auto& p : state.arrays.at(kSerial).pairs) members[p.group].insert(p.pvol);
    EXPECT_EQ((std::set<int>{301, 302}), members[kNewGroup]);
    EXPECT_EQ((std::set<int>{303, 304}), members[second]);
  }
}

// A pair state that cannot be read fails the creation with the array's
// error; a wait that runs out is logged as an error and the creation holds.
TEST_F(HandlerCreate, PairStateWaitThatCannotListFailsTheCreation) {
  start({301, 302});
  bed.setSetting("nZRHDSCLIWaitForSnapshotToBeInPairState", 5);
  // The second group listing is the wait's first pass.
  ccisim::Fault f = ccisim::Fault::fail("raidcom", "get snapshot -snapshotgroup", 1, "broken\n");
  f.skip = 1;
  bed.sim.addFault(f);
  EXPECT_FALSE(h->createTargetlessSnap());
  EXPECT_EQ(std::make_pair(62601, std::string("Failed to get the snapshot group list")), error());
  EXPECT_EQ(kNewGroup, bed.snaps[0].snapshotGroup) << "recorded for the clean-up";

  ccisim::PairTiming never;
  never.addPolls = -1;
  bed.sim.setPairTiming(kSerial, never);
  bed.sim.clearFaults();
  bed.sim.setArray(kSerial, [](ccisim::Array& a) { a.pairs.clear(); });
  bed.options.snapshotGroup = "QB_7";
  ASSERT_TRUE(h->createTargetlessSnap()) << error().second;
  bool logged = false;
  for (const std::string& t : bed.device(0).logTexts(2))
    logged = logged || t.find("reached PAIR state after [10] checks") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST_F(HandlerCreate, CommandsGrowLinearlyWithTheRecords) {
  std::vector<size_t> totals;
  for (int n : {1, 2, 4}) {
    HDSHandlerTestBed local;
    local.os.setHostNumber(0x1F);
    std::vector<int> ids;
    for (int i = 0; i < n; ++i) ids.push_back(500 + i);
    local.addSources(ids);
    auto handler = local.handler();
    local.sim.clearJournal();
    ASSERT_TRUE(handler->createTargetlessSnap());
    totals.push_back(local.sim.journal().size());
    EXPECT_EQ(1u, local.count("get snapshot -IM3532"));
  }
  // Every further record costs the same: its add (the adds share one
  // status reset and check), never another listing.
  EXPECT_EQ(totals[1] - totals[0], (totals[2] - totals[1]) / 2);
  EXPECT_EQ(1u, totals[1] - totals[0]);
}

}  // namespace
