// Snapshot deletion against the simulator: checks before anything is sent,
// the clearing of snapshot data with the group lock given back while
// waiting on the virtual clock, and the deletion of the requested pairs.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "handler/HDSCommandHandlerInternal.h"
#include "handler/tests/support/HDSFakeImplementer.h"
#include "handler/tests/support/HDSHandlerTestBed.h"
#include "host/ZrNamedMutex.h"
#include "host/testing/ZrFakeClock.h"

namespace {

const char kSerial[] = "412345";
const char kGroup[] = "QB_7_5_1F_AB";

// A fake clock that runs a hook at each pause of the clearing poll.
class HookClock : public ZrFakeClock {
 public:
  void sleepMillis(int64_t ms) override {
    if (ms == 30000) {
      ++polls;
      if (onPoll) onPoll();
    }
    ZrFakeClock::sleepMillis(ms);
  }
  std::function<void()> onPoll;
  int polls = 0;
};

class HandlerDelete : public ::testing::Test {
 protected:
  HandlerDelete() : installed(&clock) {}
  // Sources with a pair each in kGroup, in the given states; the records
  // carry their MU and group as the stored metadata gives them.
  void start(const std::vector<std::pair<int, std::string>>& pairs, size_t requested = 0) {
    std::vector<int> ids;
    for (const auto& p : pairs) {
      bed.sim.addSourceLdev(kSerial, p.first, 2097152, 1);
      const int mu = bed.sim.addSnapshotPair(kSerial, kGroup, p.first, 5, p.second);
      if (ids.size() < (requested ? requested : pairs.size())) {
        ids.push_back(p.first);
        mus.push_back(std::to_string(mu));
      }
    }
    bed.addSources(ids, false);
    for (size_t i = 0; i < bed.snaps.size(); ++i) {
      bed.snaps[i].snapMu = mus[i];
      bed.snaps[i].snapshotGroup = kGroup;
    }
    h = bed.handler();
    ASSERT_TRUE(h->IsHandlerInitialized());
    bed.sim.clearJournal();
  }
  std::vector<int> left() const {
    std::vector<int> out;
    const ccisim::State state = bed.sim.load();
    for (const auto& p : state.arrays.at(kSerial).pairs) out.push_back(p.pvol);
    return out;
  }
  std::pair<int, std::string> error() { return HDSHandlerTestBed::error(*h); }

  HookClock clock;
  ZrScopedClock installed;
  HDSHandlerTestBed bed;
  std::unique_ptr<ZRHDSCommandHandler> h;
  std::vector<std::string> mus;
};

TEST_F(HandlerDelete, MixedGroupIsClearedWithTheLockGivenBackThenDeleted) {
  // 304 is in the group but not the job's.
  start({{301, "PSUS"}, {302, "PSUS"}, {303, "PSUE"}, {304, "PSUS"}}, 3);
  int lockFree = 0;
  clock.onPoll = [&] {
    ZrNamedMutex probe(kGroup);
    if (probe.lock(0) != 0) ++lockFree;
  };
  ASSERT_TRUE(h->deleteTargetlessSnap()) << error().second;
  EXPECT_EQ(1u, bed.count("-ldev_id 301 -mirror_id 3 -snapshot_data resync"));
  EXPECT_EQ(1u, bed.count("-ldev_id 302 -mirror_id 3 -snapshot_data resync"));
  EXPECT_EQ(0u, bed.count("-ldev_id 303 -mirror_id 3 -snapshot_data resync"));
  EXPECT_EQ(0u, bed.count("-ldev_id 304"));
  // Resync's two listings: its read-back, then one poll of 30 s without the lock.
  EXPECT_EQ(1, clock.polls);
  EXPECT_EQ(1, lockFree);
  EXPECT_EQ(3u, bed.count("delete snapshot"));
  EXPECT_EQ(std::vector<int>{304}, left());
  for (const ZRHDSSnapInfo& s : bed.snaps) EXPECT_EQ("", s.snapMu);
  EXPECT_NE(std::string::npos,
            bed.logs().find("Pair-[303->], PairMU#-[3] in Status-[PSUE]. Snapshot Data will not"));
}

// Pairs still copying when the wait ends are deleted all the same; the
// wait looks while at most its time has passed (default 300 s: after
// pauses to 30, ..., 300 s) and no pause runs past its end.
TEST_F(HandlerDelete, WaitEndsAfterItsTimeAndDeletesPairsStillCopying) {
  struct Row {
    int waitSecs;  // -1: the default
    int polls;
    int firstLdev;
  } rows[] = {{-1, 10, 301}, {0, 0, 311}};
  ccisim::PairTiming t;
  t.resyncPolls = -1;  // never done
  bed.sim.setPairTiming(kSerial, t);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.waitSecs);
    if (row.waitSecs >= 0) bed.setSetting("nZRHDSDeleteWaitTimeInSecs", row.waitSecs);
    clock.polls = 0;
    mus.clear();
    bed.snaps.clear();
    start({{row.firstLdev, "PSUS"}, {row.firstLdev + 1, "PSUS"}});
    ASSERT_TRUE(h->deleteTargetlessSnap()) << error().second;
    EXPECT_EQ(row.polls, clock.polls);
    EXPECT_TRUE(left().empty());
    EXPECT_NE(std::string::npos,
              bed.logs().find("Some pairs are in COPY state after waiting for [" +
                              std::to_string(row.waitSecs < 0 ? 300 : row.waitSecs) + "]s."));
  }
}

TEST_F(HandlerDelete, RequestedPairInRestoreRefusesBeforeAnythingIsSent) {
  start({{301, "PSUS"}, {302, "RCPY"}});
  EXPECT_FALSE(h->deleteTargetlessSnap());
  EXPECT_EQ(9, error().first);
  EXPECT_EQ("The snap pair-[302->], PairMU#-[3 is in RCPY state.", error().second);
  EXPECT_EQ(0u, bed.count("modify snapshot"));
  EXPECT_EQ(0u, bed.count("delete snapshot"));
  EXPECT_EQ(2u, left().size());
}

TEST_F(HandlerDelete, OverrideSettingDecidesForOtherPairsInPair) {
  struct Case {
    bool set;
    const char* value;
    bool ok;
  };
  const Case cases[] = {{false, "", true}, {true, kGroup, true}, {true, "QB_OTHER", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    HDSHandlerTestBed local;
    local.sim.addSourceLdev(kSerial, 301, 2097152, 1);
    local.sim.addSourceLdev(kSerial, 302, 2097152, 1);
    const int mu = local.sim.addSnapshotPair(kSerial, kGroup, 301, 5, "PSUS");
    local.sim.addSnapshotPair(kSerial, kGroup, 302, 5, "PAIR");  // not the job's
    local.addSources({301}, false);
    local.snaps[0].snapMu = std::to_string(mu);
    local.snaps[0].snapshotGroup = kGroup;
    if (c.set) local.setStringSetting("Tessavon", "sZRHDSCCISnapshotGroupDeleteOverride", c.value);
    auto handler = local.handler();
    EXPECT_EQ(c.ok, handler->deleteTargetlessSnap());
    if (c.ok) {
      EXPECT_EQ(1u, local.count("delete snapshot -ldev_id 301"));
      EXPECT_EQ(0u, local.count("delete snapshot -ldev_id 302"));
    } else {
      EXPECT_EQ(9, HDSHandlerTestBed::error(*handler).first);
      EXPECT_EQ(std::string("Unable to force delete SnapshotGroup-") + kGroup +
                    "due to mismatch in the name provided with reg key.",
                HDSHandlerTestBed::error(*handler).second);
      EXPECT_EQ(0u, local.count("modify snapshot"));
      EXPECT_EQ(0u, local.count("delete snapshot"));
    }
  }
}

TEST_F(HandlerDelete, KeepDataSettingDeletesWithoutResync) {
  bed.setSetting("nZRHDSDoNotDeleteSnapShotData", 1);
  start({{301, "PSUS"}, {302, "PSUS"}});
  ASSERT_TRUE(h->deleteTargetlessSnap()) << error().second;
  EXPECT_EQ(0u, bed.count("modify snapshot"));
  EXPECT_EQ(0, clock.polls);
  EXPECT_TRUE(left().empty());
  size_t notes = 0;
  for (const std::string& t : bed.device(0).logTexts(2)) {
    if (t.find("not delete the snapshot data is set. Value-[1]") != std::string::npos) ++notes;
  }
  EXPECT_EQ(2u, notes);
}

TEST_F(HandlerDelete, RecordWithoutGroupUsesTheJobsGroupAndAVanishedGroupCountsAsDeleted) {
  start({{301, "PSUE"}});
  bed.snaps[0].snapshotGroup = "";
  bed.options.snapshotGroup = kGroup;
  ASSERT_TRUE(h->deleteTargetlessSnap()) << error().second;
  EXPECT_TRUE(left().empty());

  // The array listing lacks the group, but the record names a pair: the
  // group itself is asked, and its "No such Object" counts as deleted.
  bed.snaps[0].snapMu = "3";
  bed.snaps[0].snapshotGroup = "QB_7_5_GONE";
  bed.sim.clearJournal();
  ASSERT_TRUE(h->deleteTargetlessSnap()) << error().second;
  EXPECT_EQ("", bed.snaps[0].snapMu);
  EXPECT_EQ(1u, bed.count("get snapshot -snapshotgroup QB_7_5_GONE"));
  // A record already known to be deleted needs no question.
  bed.snaps[0].snapMu = "3";
  bed.device(0).setStatus(20);
  bed.sim.clearJournal();
  ASSERT_TRUE(h->deleteTargetlessSnap()) << error().second;
  EXPECT_EQ(0u, bed.count("get snapshot -snapshotgroup QB_7_5_GONE"));
}

// An array listing that comes back empty (output lost) never makes the
// job's pairs count as deleted: their group is listed and they are deleted.
TEST_F(HandlerDelete, EmptyArrayListingStillDeletesTheGroupsPairs) {
  start({{301, "PSUE"}, {302, "PSUE"}});
  bed.sim.addFault(ccisim::Fault::garbleOutput("raidcom", "get snapshot", "empty"));
  ASSERT_TRUE(h->deleteTargetlessSnap()) << error().second;
  EXPECT_TRUE(left().empty());
  EXPECT_EQ(2u, bed.count("delete snapshot"));
}

TEST_F(HandlerDelete, GroupThatVanishesAfterTheArrayListingCountsAsDeleted) {
  bed.addSources({301}, false);
  bed.snaps[0].snapMu = "3";
  bed.snaps[0].snapshotGroup = kGroup;
  HDSFakeImplementer* fake = nullptr;
  ZRHDSCommandHandler handler(bed.params,
                              HDSFakeImplementer::factory(
                                  [](HDSFakeImplementer& f) {
                                    f.onLogin = [](bool) { return 0; };
                                    f.onLogout = [] { return 0; };
                                    f.onResourceGroupFromLdev = [] { return 0; };
                                    // The array listing still shows the group; by the time
                                    // it is listed itself the array finds no such group,
                                    // which the array layer answers as an empty listing.
                                    f.onSnapshotList = [](std::vector<HDSSnapshotGroupInfo>& rows,
                                                          const std::string& key, bool) {
                                      if (key.empty()) {
                                        HDSSnapshotGroupInfo row;
                                        row.snapshotGroupName = kGroup;
                                        row.ldevId = "301";
                                        row.muNumber = "3";
                                        row.status = "PSUS";
                                        rows.push_back(row);
                                      }
                                      return 0;
                                    };
                                  },
                                  &fake));
  ASSERT_TRUE(handler.deleteTargetlessSnap());
  EXPECT_EQ("", bed.snaps[0].snapMu);
  EXPECT_EQ(0, fake->count("deleteSnapshot"));
  // The whole array, the group, then the P-VOL: the pair is proved gone.
  EXPECT_EQ(3, fake->count("getSnapshotGroupList"));
}

TEST_F(HandlerDelete, FailedResyncKeepsThatPairAndFailsWithTheArrayError) {
  start({{301, "PSUS"}, {302, "PSUS"}, {303, "PSUS"}});
  h->setErrorCodeString(1, "an older failure");
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "modify snapshot -ldev_id 302", 1, "refused"));
  EXPECT_FALSE(h->deleteTargetlessSnap());
  EXPECT_EQ(62601, error().first);
  EXPECT_EQ("Failed to resync snapshot on  mirror_id 3", error().second);
  EXPECT_EQ(std::vector<int>{302}, left());
  // No record is marked deleted while the call failed.
  for (const ZRHDSSnapInfo& s : bed.snaps) EXPECT_EQ("3", s.snapMu);
}

TEST_F(HandlerDelete, EveryResyncFailingAndADeleteFailingReportTheirOwnCause) {
  start({{301, "PSUS"}, {302, "PSUE"}});
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "modify snapshot", 1, "refused", -1));
  h->setErrorCodeString(1, "an older failure");
  EXPECT_FALSE(h->deleteTargetlessSnap());
  EXPECT_EQ(62601, error().first);
  EXPECT_EQ("Failed to resync snapshot on  mirror_id 3", error().second);
  EXPECT_EQ(0u, bed.count("delete snapshot"));

  bed.sim.clearFaults();
  bed.setSetting("nZRHDSDoNotDeleteSnapShotData", 1);
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "delete snapshot -ldev_id 301", 1, "refused"));
  h->setErrorCodeString(1, "an older failure");
  EXPECT_FALSE(h->deleteTargetlessSnap());
  EXPECT_EQ(62601, error().first);
  EXPECT_EQ("Failed to delete targetless snap, LDEV-[301], MU-[3]", error().second);
  EXPECT_EQ(std::vector<int>{301}, left());  // the other pair is still deleted
}

TEST_F(HandlerDelete, PairThatVanishesWhileWaitingCountsAsDone) {
  start({{301, "PSUS"}, {302, "PSUS"}});
  clock.onPoll = [&] {
    bed.sim.setArray(kSerial, [](ccisim::Array& a) {
      for (size_t i = 0; i < a.pairs.size(); ++i) {
        if (a.pairs[i].pvol == 301) a.pairs.erase(a.pairs.begin() + static_cast<long>(i));
      }
    });
  };
  ASSERT_TRUE(h->deleteTargetlessSnap()) << error().second;
  EXPECT_TRUE(left().empty());
  EXPECT_EQ(0u, bed.count("delete snapshot -ldev_id 301"));
  EXPECT_EQ(1, clock.polls);  // after the resync's read-back, until 302 is cleared
  EXPECT_EQ("", bed.snaps[0].snapMu);
  EXPECT_EQ("", bed.snaps[1].snapMu);
}

TEST_F(HandlerDelete, CommandsGrowLinearlyWithTheRecords) {
  std::vector<size_t> totals;
  for (int n : {1, 2, 4}) {
    HDSHandlerTestBed local;
    std::vector<int> ids;
    for (int i = 0; i < n; ++i) {
      local.sim.addSourceLdev(kSerial, 600 + i, 2097152, 1);
      local.sim.addSnapshotPair(kSerial, kGroup, 600 + i, 5, "PSUE");
      ids.push_back(600 + i);
    }
    local.addSources(ids, false);
    for (ZRHDSSnapInfo& s : local.snaps) {
      s.snapMu = "3";
      s.snapshotGroup = kGroup;
    }
    auto handler = local.handler();
    local.sim.clearJournal();
    ASSERT_TRUE(handler->deleteTargetlessSnap());
    totals.push_back(local.sim.journal().size());
    EXPECT_EQ(3u, local.count("get snapshot"));  // the array, the group, the read-back
  }
  // Each pair costs its deletion; the deletions share one status reset and
  // check.
  EXPECT_EQ(1u, totals[1] - totals[0]);
  EXPECT_EQ(2u, totals[2] - totals[1]);
}

}  // namespace

// The deletion plan of one group, decided from its listing alone.
TEST(DeletePlan, RowsOfAGroupListing) {
  auto row = [](const char* ldev, const char* mu, const char* status) {
    HDSSnapshotGroupInfo r;
    r.ldevId = ldev;
    r.muNumber = mu;
    r.status = status;
    return r;
  };
  struct Case {
    const char* name;
    std::vector<HDSSnapshotGroupInfo> rows;
    bool keepData;
    std::set<std::string> listed, toClear;
    size_t unrequestedInPair, keptData, keptBySetting;
    const char* restoring;  // "" none
  };
  const std::vector<std::string> requested = {"301-3", "302-3"};
  const std::vector<Case> cases = {
      {"data stored: cleared first", {row("301", "3", "PSUS"), row("302", "3", "PSUS")}, false,
       {"301-3", "302-3"}, {"301-3", "302-3"}, 0, 0, 0, ""},
      {"setting keeps the data", {row("301", "3", "PSUS")}, true, {"301-3"}, {}, 0, 0, 1, ""},
      {"states that keep their data", {row("301", "3", "PAIR"), row("302", "3", "PSUE")}, false,
       {"301-3", "302-3"}, {}, 0, 2, 0, ""},
      {"another pair in PAIR needs the override", {row("303", "3", "PAIR"), row("301", "3", "PSUS")},
       false, {"301-3"}, {"301-3"}, 1, 0, 0, ""},
      {"another pair stored is left alone", {row("303", "3", "PSUS")}, false, {}, {}, 0, 0, 0, ""},
      {"a requested pair restoring is refused", {row("302", "3", "RCPY")}, false, {"302-3"},
       {"302-3"}, 0, 0, 0, "302"},
      {"nothing listed", {}, false, {}, {}, 0, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const zrhds_handler::DeletePlan plan =
        zrhds_handler::planGroupDeletion(c.rows, requested, c.keepData);
    EXPECT_EQ(c.listed, plan.listed);
    EXPECT_EQ(c.toClear, plan.toClear);
    EXPECT_EQ(c.unrequestedInPair, plan.unrequestedInPair.size());
    EXPECT_EQ(c.keptData, plan.keptData.size());
    EXPECT_EQ(c.keptBySetting, plan.keptBySetting.size());
    EXPECT_EQ(std::string(c.restoring), plan.restoring.ldevId);
  }
}
