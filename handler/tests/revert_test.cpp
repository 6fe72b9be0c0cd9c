// Split, revert and reconcile against the simulator: pair states checked
// by LDEV and MU, restores polled on the fake clock, no split of a pair that
// is still restoring, and the reconcile table.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "handler/tests/support/HDSHandlerTestBed.h"
#include "host/testing/ZrFakeClock.h"

namespace {

using Bed = HDSHandlerTestBed;
using Groups = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;

class Revert : public ::testing::Test {
 protected:
  Revert() : scoped(&clock) {}

  // Sources with one pair each in group QB_7, in the given states.
  void pairs(const std::vector<std::pair<int, std::string>>& sources) {
    std::vector<int> ids;
    for (const auto& s : sources) ids.push_back(s.first);
    bed.addSources(ids);
    for (const auto& s : sources) {
      mus[s.first] = bed.sim.addSnapshotPair(Bed::kSerial, "QB_7", s.first, Bed::kPool, s.second);
    }
  }
  std::pair<std::string, std::string> key(int ldev) {
    return {std::to_string(mus[ldev]), std::to_string(ldev)};
  }
  std::string state(int ldev) {
    return bed.sim.load().arrays.at(Bed::kSerial).pair(ldev, mus[ldev])->state;
  }
  void timing(int restorePolls) {
    ccisim::PairTiming t;
    t.restorePolls = restorePolls;
    bed.sim.setPairTiming(Bed::kSerial, t);
  }
  size_t modifies(const std::string& op) { return bed.count(op); }

  ZrFakeClock clock;
  ZrScopedClock scoped;
  Bed bed;
  std::map<int, int> mus;
};

TEST_F(Revert, RestoresEndOverSeveralPollsAndArePausedAgain) {
  pairs({{256, "PSUS"}, {257, "PSUS"}});
  timing(3);
  auto h = bed.handler(13);
  ASSERT_TRUE(h->IsHandlerInitialized()) << Bed::error(*h).second;
  bed.sim.clearJournal();
  ASSERT_TRUE(h->revertUsingTargetLessSnaps({{"QB_7", {key(256), key(257)}}}))
      << Bed::error(*h).second;
  EXPECT_EQ(2u, modifies("-snapshot_data restore"));
  EXPECT_EQ(2u, modifies("-snapshot_data split"));
  EXPECT_EQ("PSUS", state(256));
  EXPECT_EQ("PSUS", state(257));
  // One listing for the checks, one per poll until both left RCPY; each
  // restore and split read back from its P-VOL's pairs (polls too).
  EXPECT_EQ(3u, bed.count("get snapshot -snapshotgroup QB_7"));
  EXPECT_EQ(2u, bed.count("get snapshot -ldev_id 256"));
  EXPECT_EQ(2u, bed.count("get snapshot -ldev_id 257"));
  EXPECT_EQ(20000, clock.totalSleptMillis());
}

TEST_F(Revert, RefusalsSendNoModifyCommand) {
  struct Row {
    std::string state;  // of the requested pair; "" = the request names no pair
    std::string text;
  } rows[] = {
      {"PAIR", "Revert operation cannot be performed when the pair is in PAIR state."},
      {"PSUE", "Revert operation cannot be performed when the pair is in PSUE state."},
      {"RCPY", "Could not find the pair in SnapshotGroup-QB_7"},
      {"", "Could not find the pair in SnapshotGroup-QB_7"},
  };
  for (const Row& row : rows) {
    Bed fresh;
    fresh.addSources({256, 257});
    fresh.sim.addSnapshotPair(Bed::kSerial, "QB_7", 256, Bed::kPool, "PSUS");
    int mu = 9;
    if (!row.state.empty()) {
      mu = fresh.sim.addSnapshotPair(Bed::kSerial, "QB_7", 257, Bed::kPool, row.state);
    }
    auto h = fresh.handler(13);
    fresh.sim.clearJournal();
    const Groups request{{"QB_7", {{"3", "256"}, {std::to_string(mu), "257"}}}};
    EXPECT_FALSE(h->revertUsingTargetLessSnaps(request));
    EXPECT_EQ(std::make_pair(60005, row.text), Bed::error(*h)) << row.state;
    EXPECT_EQ(0u, fresh.count("modify snapshot")) << row.state;
  }
}

TEST_F(Revert, PairsSharingAnMuAreTellApartByTheirLdev) {
  // Both sources hold MU 3; only 257 is asked for, and 256 has no data.
  pairs({{256, "PAIR"}, {257, "PSUS"}});
  ASSERT_EQ(mus[256], mus[257]);
  timing(1);
  auto h = bed.handler(13);
  ASSERT_TRUE(h->revertUsingTargetLessSnaps({{"QB_7", {key(257)}}})) << Bed::error(*h).second;
  EXPECT_EQ(1u, modifies("-ldev_id 257 -mirror_id 3 -snapshot_data restore"));
  EXPECT_EQ(0u, bed.count("modify snapshot -ldev_id 256"));
  EXPECT_EQ("PAIR", state(256));
  EXPECT_EQ("PSUS", state(257));
}

TEST_F(Revert, ARestoreThatNeverEndsIsPolledBoundedlyAndNotSplit) {
  pairs({{256, "PSUS"}});
  timing(-1);
  bed.setSetting("nZRHDSReverseCopyWaitTimeInSecs", 30);  // raised to 60
  auto h = bed.handler(13);
  bed.sim.clearJournal();
  EXPECT_FALSE(h->revertUsingTargetLessSnaps({{"QB_7", {key(256)}}}));
  EXPECT_EQ(60005, Bed::error(*h).first);
  EXPECT_NE(std::string::npos, Bed::error(*h).second.find("maximum wait time of [60] seconds"));
  EXPECT_EQ(1u + 6u, bed.count("get snapshot -snapshotgroup QB_7"));
  EXPECT_EQ(0u, modifies("-snapshot_data split"));
  EXPECT_EQ("RCPY", state(256));
}

TEST_F(Revert, AFailedRestoreWaitsForTheRestoresSentAndSplitsOnlyThose) {
  pairs({{256, "PSUS"}, {257, "PSUS"}, {258, "PSUS"}});
  timing(2);
  bed.sim.addFault(ccisim::Fault::fail("raidcom",
                                       "-ldev_id 258 -mirror_id 3 -snapshot_data restore",
                                       ccisim::kExitRejected, "raidcom: [EX_CMDRJE] refused\n"));
  auto h = bed.handler(13);
  EXPECT_FALSE(h->revertUsingTargetLessSnaps({{"QB_7", {key(256), key(257), key(258)}}}));
  EXPECT_EQ(std::make_pair(60005, std::string("Failed to revert snapshot data on the "
                                              "SnapshotGroup-QB_7")),
            Bed::error(*h));
  EXPECT_EQ(2u, modifies("-snapshot_data split"));
  EXPECT_EQ("PSUS", state(256));
  EXPECT_EQ("PSUS", state(257));
  EXPECT_EQ("PSUS", state(258));
}

TEST_F(Revert, SplitFailureListsTheGroupAfterAPause) {
  pairs({{256, "PAIR"}});
  auto h = bed.handler(8);
  ASSERT_TRUE(h->splitTargetLessSnaps()) << Bed::error(*h).second;
  EXPECT_EQ(0, clock.totalSleptMillis());
  EXPECT_EQ("PSUS", state(256));
  bed.sim.addFault(
      ccisim::Fault::fail("raidcom", "modify snapshot", ccisim::kExitRejected, "no\n"));
  bed.sim.clearJournal();
  EXPECT_FALSE(h->splitTargetLessSnaps());
  EXPECT_EQ(std::make_pair(60001, std::string("Failed to create targetless snaps on "
                                              "SnapshotGroup-QB_7")),
            Bed::error(*h));
  EXPECT_EQ(2000, clock.totalSleptMillis());
  EXPECT_EQ(1u, bed.count("get snapshot -snapshotgroup QB_7"));
}

TEST_F(Revert, ReconcileTable) {
  pairs({{256, "PSUS"}, {257, "PAIR"}, {258, "PFUS"}, {259, "PSUS"}});
  bed.sim.setArray(Bed::kSerial, [](ccisim::Array& a) {
    a.pairs.erase(a.pairs.begin() + 3);  // 259's pair is gone
  });
  auto h = bed.handler(14);
  std::map<std::string, std::map<std::pair<std::string, std::string>, bool>> groups{
      {"QB_7", {{key(256), true}, {key(257), true}, {key(258), true}, {key(259), true}}},
      {"QB_gone", {{{"3", "300"}, true}}}};
  ASSERT_TRUE(h->reconcileSnapDevices(groups));
  EXPECT_TRUE(groups["QB_7"][key(256)]);
  EXPECT_FALSE(groups["QB_7"][key(257)]) << "PAIR holds no snapshot data";
  EXPECT_TRUE(groups["QB_7"][key(258)]) << "PFUS still holds it";
  EXPECT_FALSE(groups["QB_7"][key(259)]) << "pair gone";
  EXPECT_FALSE(groups["QB_gone"][std::make_pair(std::string("3"), std::string("300"))]);
  EXPECT_EQ(1u, bed.count("get snapshot -snapshotgroup QB_7"));

  // The whole-array listing shows a group once, whatever its pairs: a group
  // listing that keeps failing is tried once, and its pairs count as gone.
  const int failing = bed.sim.addFault(ccisim::Fault::fail(
      "raidcom", "get snapshot -snapshotgroup QB_7", ccisim::kExitRejected, "failed\n", -1));
  bed.sim.clearJournal();
  std::map<std::string, std::map<std::pair<std::string, std::string>, bool>> retried{
      {"QB_7", {{key(256), true}, {key(258), true}}}};
  EXPECT_FALSE(h->reconcileSnapDevices(retried));
  EXPECT_EQ(1u, bed.count("get snapshot -snapshotgroup QB_7")) << "one attempt per group";
  EXPECT_EQ(62601, Bed::error(*h).first);
  EXPECT_FALSE(retried["QB_7"][key(256)]);
  EXPECT_FALSE(retried["QB_7"][key(258)]);
  EXPECT_EQ(1, bed.sim.fault(failing).fired);
  bed.sim.clearFaults();

  // A failing listing of the whole array changes no flag.
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "get snapshot", 1, "failed\n"));
  std::map<std::string, std::map<std::pair<std::string, std::string>, bool>> kept{
      {"QB_7", {{key(256), true}}}};
  EXPECT_FALSE(h->reconcileSnapDevices(kept));
  EXPECT_EQ(62601, Bed::error(*h).first);
  EXPECT_TRUE(kept["QB_7"][key(256)]);
}

}  // namespace
