// Batches of the commands the array carries out after the tool returned:
// the outcome rules; one status reset, read and listing per batch of at most
// 64 commands, the listing deciding whatever the status counts; the stop
// rules, with the journal checked for the commands that must not be sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "array/HDSAsyncOutcome.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSDiscoveryTestBed.h"
#include "host/testing/ZrFakeClock.h"
#include "sim/ccisim_fixture.h"

namespace {

using Bed = HDSDiscoveryTestBed;
using R = HDSRecordingRunner;

constexpr int kFirstPvol = 256;
constexpr int kFirstTarget = 1000;
constexpr int kPool = 5;
const char kGroup[] = "QB_7_5_1F_6B1A0555";

// An array with count snapshot pairs (P-VOLs 256.., in PSUS) and as many
// free target LDEVs (1000..); the pairs' MUs in mus.
struct PairArray {
  Bed bed;
  ccisim::Fixture sim;
  std::vector<std::string> mus;
  ZRHDSRaidcomImplementer* impl = nullptr;

  explicit PairArray(int count) {
    impl = &bed.simulator(sim);
    ccisim::Pool pool;
    pool.id = kPool;
    pool.name = "TIPOOL";
    sim.addPool(Bed::kSerial, pool);
    for (int i = 0; i < count; ++i) {
      sim.addSourceLdev(Bed::kSerial, kFirstPvol + i, 4096, kPool);
      ccisim::Ldev target;
      target.id = kFirstTarget + i;
      target.capacity = 4096;
      target.attrs = {"CVS", "VVOL"};
      sim.addLdev(Bed::kSerial, target);
      mus.push_back(std::to_string(
          sim.addSnapshotPair(Bed::kSerial, kGroup, kFirstPvol + i, kPool, "PSUS")));
    }
    sim.clearJournal();
  }
  HDSSnapshotPairRef pair(int i, bool withTarget = true) const {
    return {std::to_string(kFirstPvol + i), mus[static_cast<size_t>(i)],
            withTarget ? std::to_string(kFirstTarget + i) : std::string(), kGroup};
  }
  std::vector<HDSSnapshotPairRef> pairs(int count, bool withTarget = true) const {
    std::vector<HDSSnapshotPairRef> out;
    for (int i = 0; i < count; ++i) out.push_back(pair(i, withTarget));
    return out;
  }
  // The target the array associates with pair i (-1 none).
  int svolOf(int i) const {
    const ccisim::State s = sim.load();
    for (const ccisim::SnapPair& p : s.arrays.at(Bed::kSerial).pairs) {
      if (p.pvol == kFirstPvol + i) return p.svol;
    }
    return -2;
  }
  bool pairExists(int i) const { return svolOf(i) != -2; }
  // The journal's command lines (raidcom verb and object onwards).
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const ccisim::JournalEntry& e : sim.journal()) {
      std::string line = e.line();
      const size_t common = line.find(" -IM");
      out.push_back(common == std::string::npos ? line : line.substr(0, common));
    }
    return out;
  }
  size_t count(const std::string& prefix) const {
    size_t n = 0;
    for (const std::string& l : lines()) n += l.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
};

std::string mapLine(int i, const std::string& mu) {
  return "map snapshot -ldev_id " + std::to_string(kFirstPvol + i) + " " +
         std::to_string(kFirstTarget + i) + " -mirror_id " + mu;
}

std::string groupListing() { return std::string("get snapshot -snapshotgroup ") + kGroup; }

}  // namespace

// Each command's outcome from its exit, a renewed login after it (r), its
// step after it failing (s), what the listing shows and the status (kUnread,
// -1 kept timing out, or ERR_CNT); where the listing proves whose the object
// is (a pair at its P-VOL and MU, an LDEV gone) and where not (a new LDEV).
TEST(BatchOutcome, EachCommandFromItsFactsAndTheStatus) {
  using E = hdsbatch::Effect;
  using X = hdsbatch::Exit;
  using O = hdsbatch::Outcome;
  constexpr int kUnread = -2;
  const struct {
    const char* what; X exit; bool r, s; E readBack; int errors; O proven, unproven;
  } rows[] = {
      {"never sent", X::kNotSent, 0, 0, E::kUnknown, 0, O::kNotSent, O::kNotSent},
      {"its step found it done", X::kSkipped, 0, 0, E::kUnknown, 0, O::kDone, O::kDone},
      {"its step failed", X::kStepRefused, 0, 0, E::kUnknown, 0, O::kStepFailed, O::kStepFailed},
      {"refused: state already there", X::kAlreadyDone, 0, 0, E::kUnknown, 0, O::kDone, O::kDone},
      {"refused, state shown", X::kRefused, 0, 0, E::kTookEffect, 0, O::kNoEffect, O::kNoEffect},
      {"clean and shown", X::kAccepted, 0, 0, E::kTookEffect, 0, O::kDone, O::kDone},
      {"status reset, no effect", X::kAccepted, 0, 0, E::kNoEffect, 0, O::kNoEffect, O::kNoEffect},
      {"clean, unreadable", X::kAccepted, 0, 0, E::kUnknown, 0, O::kUnknown, O::kUnknown},
      {"an error, shown", X::kAccepted, 0, 0, E::kTookEffect, 1, O::kDone, O::kUnproven},
      {"an error, no effect", X::kAccepted, 0, 0, E::kNoEffect, 1, O::kNoEffect, O::kNoEffect},
      {"an error, unreadable", X::kAccepted, 0, 0, E::kUnknown, 1, O::kUnknown, O::kUnproven},
      {"status timing out", X::kAccepted, 0, 0, E::kTookEffect, -1, O::kDone, O::kUnproven},
      {"status unread", X::kAccepted, 0, 0, E::kTookEffect, kUnread, O::kDone, O::kUnproven},
      {"before a renewed login", X::kAccepted, 1, 0, E::kTookEffect, 0, O::kDone, O::kUnproven},
      {"timed out, shown", X::kNoAnswer, 0, 0, E::kTookEffect, 0, O::kDone, O::kUnproven},
      {"timed out, unreadable", X::kNoAnswer, 0, 0, E::kUnknown, 0, O::kUnknown, O::kUnproven},
      {"step after failed", X::kAccepted, 0, 1, E::kTookEffect, 0, O::kStepFailed, O::kStepFailed},
      {"step after, no effect", X::kAccepted, 0, 1, E::kNoEffect, 0, O::kNoEffect, O::kNoEffect},
      {"step after, an error", X::kAccepted, 0, 1, E::kTookEffect, 1, O::kStepFailed, O::kUnproven},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const hdsbatch::CommandFacts facts{r.exit, r.r, r.s, r.readBack};
    const hdsbatch::StatusFacts status{r.errors != kUnread, r.errors == kUnread ? 0 : r.errors};
    EXPECT_EQ(r.proven, hdsbatch::decideOutcome(facts, status, true));
    EXPECT_EQ(r.unproven, hdsbatch::decideOutcome(facts, status, false));
  }
}

// Four associations share one status reset and read and one group listing.
TEST(Batch, OneResetAndOneReadForTheWholeBatch) {
  PairArray a(4);
  std::vector<bool> done;
  ASSERT_EQ(a.impl->mapSnapshotBatch(a.pairs(4), done), 0) << a.bed.errorText();
  EXPECT_EQ(done, std::vector<bool>(4, true));
  std::vector<std::string> want = {"reset command_status"};
  for (int i = 0; i < 4; ++i) want.push_back(mapLine(i, a.mus[i]));
  want.push_back("get command_status");
  want.push_back(groupListing());
  EXPECT_EQ(a.lines(), want);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(kFirstTarget + i, a.svolOf(i));
}

// A command without effect at any position, its error counted or the status
// reset by another session: the listing shows which, the others are done.
TEST(Batch, ACommandWithoutEffectIsFoundByTheListingWhateverTheStatusCounts) {
  const int n = 4;
  for (int c = 0; c < 2 * n; ++c) {
    const int k = c % n;
    const bool reset = c >= n;
    SCOPED_TRACE((reset ? "status reset at " : "error at ") + std::to_string(k));
    PairArray a(n);
    const std::string line = mapLine(k, a.mus[k]);
    a.sim.addFault(reset ? ccisim::Fault::statusReset(line)
                         : ccisim::Fault::statusError(line, 1, "injected"));
    std::vector<bool> done;
    EXPECT_EQ(a.impl->mapSnapshotBatch(a.pairs(n), done), 1);
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(i != k, static_cast<bool>(done[i])) << i;
      EXPECT_EQ(i != k ? kFirstTarget + i : -1, a.svolOf(i)) << i;
    }
    EXPECT_EQ(a.bed.errorCode(), 62601);
    EXPECT_EQ(a.bed.errorText(), "Failed to map target LDEV-[" + std::to_string(kFirstTarget + k) +
                                     "] to Snap-[" + std::to_string(kFirstPvol + k) + "-MU" +
                                     a.mus[k] + "].");
    EXPECT_EQ(1u, a.count("reset command_status"));
    EXPECT_EQ(1u, a.count("get command_status"));
    EXPECT_EQ(static_cast<size_t>(n), a.count("map snapshot"));
    EXPECT_EQ(1u, a.count("get snapshot")) << "one listing for the batch";
    EXPECT_EQ(0u, a.count("unmap snapshot")) << "the array layer undoes nothing";
  }
}

// A pair without a group is read back from the group the job's records give
// it, or from its P-VOL's pairs when that group does not show it.
TEST(Batch, APairWithoutAGroupIsReadBackFromItsRecordedGroupOrItsPvol) {
  for (const char* recorded : {kGroup, "QB_7_5_1F_OTHER"}) {
    SCOPED_TRACE(recorded);
    PairArray a(2);
    std::vector<HDSSnapshotPairRef> pairs = a.pairs(2);
    for (HDSSnapshotPairRef& p : pairs) {
      p.group.clear();
      a.bed.snaps.emplace_back();
      a.bed.snaps.back().baseDevNo = p.pvol;
      a.bed.snaps.back().snapMu = p.mu;
      a.bed.snaps.back().snapshotGroup = recorded;
    }
    std::vector<bool> done;
    ASSERT_EQ(a.impl->mapSnapshotBatch(pairs, done), 0) << a.bed.errorText();
    EXPECT_EQ(done, std::vector<bool>(2, true));
    EXPECT_EQ(1u, a.count("get snapshot -snapshotgroup"));
    EXPECT_EQ(recorded == kGroup ? 0u : 2u, a.count("get snapshot -ldev_id"));
  }
}

// The same for the batches that send every command whatever became of the
// others: deletion and resynchronisation.
TEST(Batch, DeleteAndResyncSendEveryCommandAndReportEachOutcome) {
  const int n = 3;
  struct Case {
    const char* what;
    const char* verb;
    int (ZRHDSRaidcomImplementer::*run)(const std::vector<HDSSnapshotPairRef>&,
                                        std::vector<bool>&);
    const char* text;
  } cases[] = {
      {"delete", "delete snapshot", &ZRHDSRaidcomImplementer::deleteSnapshotBatch,
       "Failed to delete targetless snap, LDEV-[257], MU-["},
      {"resync", "modify snapshot", &ZRHDSRaidcomImplementer::resyncSnapshotBatch,
       "Failed to resync snapshot on  mirror_id "},
  };
  for (int i = 0; i < 4; ++i) {
    const Case& c = cases[i / 2];
    const bool reset = i % 2 != 0;
    SCOPED_TRACE(std::string(c.what) + (reset ? ", status reset" : ", status error"));
    PairArray a(n);
    const std::string match = std::string(c.verb) + " -ldev_id 257";
    a.sim.addFault(reset ? ccisim::Fault::statusReset(match)
                         : ccisim::Fault::statusError(match, 1, "injected"));
    std::vector<bool> done;
    EXPECT_EQ((a.impl->*c.run)(a.pairs(n, false), done), 1);
    EXPECT_EQ(done, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(static_cast<size_t>(n), a.count(c.verb));
    EXPECT_EQ(1u, a.count("reset command_status"));
    EXPECT_EQ(1u, a.count("get snapshot -snapshotgroup"));
    EXPECT_EQ(0u, a.bed.errorText().find(c.text)) << a.bed.errorText();
    EXPECT_TRUE(a.pairExists(1));
  }
}

// A refusal by exit code ends the batch at once: later commands are never
// sent; those before it are read back.
TEST(Batch, ARefusalStopsTheBatchAtItsCommand) {
  PairArray a(4);
  a.sim.addFault(ccisim::Fault::fail("raidcom", mapLine(2, a.mus[2]), 1, "refused\n"));
  std::vector<bool> done;
  EXPECT_EQ(a.impl->mapSnapshotBatch(a.pairs(4), done), 1);
  EXPECT_EQ(done, (std::vector<bool>{true, true, false, false}));
  std::vector<std::string> want = {"reset command_status", mapLine(0, a.mus[0]),
                                   mapLine(1, a.mus[1]), mapLine(2, a.mus[2]),
                                   "get command_status", groupListing()};
  EXPECT_EQ(a.lines(), want);
  EXPECT_EQ(-1, a.svolOf(3));
}

// A status unreadable, never settling (a batch of one) or read under a
// renewed login: the listing decides; a batch it shows complete succeeds.
TEST(Batch, AStatusThatProvesNothingLeavesTheDecisionToTheListing) {
  const struct { const char* what; ccisim::Fault fault; int pairs; size_t logins; } rows[] = {
      {"unreadable", ccisim::Fault::garbleOutput("raidcom", "get command_status", "empty"), 3, 0},
      {"never settles", ccisim::Fault::statusBusy(-1, true), 1, 0},
      {"login renewed at the status read", ccisim::Fault::expireLogin("get command_status"), 3, 1},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    PairArray a(r.pairs);
    a.sim.addUser("cciuser", "secret");
    a.bed.options.userName = "cciuser";
    a.bed.options.password = "secret";
    a.sim.addFault(r.fault);
    std::vector<bool> done;
    EXPECT_EQ(a.impl->mapSnapshotBatch(a.pairs(r.pairs), done), 0) << a.bed.errorText();
    EXPECT_EQ(done, std::vector<bool>(static_cast<size_t>(r.pairs), true));
    EXPECT_EQ(1u, a.count("get snapshot -snapshotgroup"));
    EXPECT_EQ(r.logins, a.count("-login"));
    EXPECT_EQ(a.bed.errorCode(), 0);
  }
}

// More than 64 commands: a batch of 64, then the rest, each with its own
// reset, read and listing; a failure in the first sends nothing of the second.
TEST(Batch, AtMostSixtyFourCommandsShareOneStatusCheck) {
  const int n = ZR_HDS_ASYNC_BATCH_LIMIT + 6;
  {
    PairArray a(n);
    std::vector<bool> done;
    ASSERT_EQ(a.impl->deleteSnapshotBatch(a.pairs(n, false), done), 0) << a.bed.errorText();
    EXPECT_EQ(done, std::vector<bool>(static_cast<size_t>(n), true));
    const std::vector<std::string> lines = a.lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(n + 6));
    EXPECT_EQ(lines[0], "reset command_status");
    EXPECT_EQ(lines[65], "get command_status");
    EXPECT_EQ(lines[66], groupListing());
    EXPECT_EQ(lines[67], "reset command_status");
    EXPECT_EQ(lines[lines.size() - 2], "get command_status");
    EXPECT_EQ(lines.back(), groupListing());
  }
  PairArray a(n);
  a.sim.addFault(ccisim::Fault::statusReset(mapLine(10, a.mus[10])));
  std::vector<bool> done;
  EXPECT_EQ(a.impl->mapSnapshotBatch(a.pairs(n), done), 1);
  EXPECT_EQ(64u, a.count("map snapshot")) << "the second batch is never sent";
  EXPECT_EQ(-1, a.svolOf(64));
  EXPECT_FALSE(done[10]);
  EXPECT_TRUE(done[11]);
  EXPECT_FALSE(done[64]);
}

// A P-VOL with a pair in each of two batches, no group named: each batch is
// judged from its own listing of the P-VOL's pairs.
TEST(Batch, ALaterBatchIsNeverJudgedFromAnEarlierListing) {
  const int n = ZR_HDS_ASYNC_BATCH_LIMIT + 1;
  PairArray a(n);
  const std::string secondMu = std::to_string(
      a.sim.addSnapshotPair(Bed::kSerial, kGroup, kFirstPvol, kPool, "PSUS"));
  a.sim.clearJournal();
  std::vector<HDSSnapshotPairRef> pairs = a.pairs(n, false);
  pairs.push_back({std::to_string(kFirstPvol), secondMu, "", ""});
  for (HDSSnapshotPairRef& p : pairs) p.group.clear();
  for (int pvol : {266, kFirstPvol + n - 1}) {
    const std::string match = "delete snapshot -ldev_id " + std::to_string(pvol);
    a.sim.addFault(ccisim::Fault::statusError(match, 1, "injected"));
  }
  std::vector<bool> done;
  EXPECT_EQ(a.impl->deleteSnapshotBatch(pairs, done), 1);
  EXPECT_FALSE(done[10]);
  EXPECT_FALSE(done[static_cast<size_t>(n - 1)]);
  EXPECT_TRUE(done.back()) << "the second MU of P-VOL 256 is gone";
  EXPECT_EQ(2u, a.count("get snapshot -ldev_id 256")) << "listed once per batch";
}

// A group just read back answers the next listing of it once, unless a
// command ran or a pause passed in between.
TEST(Batch, AGroupJustReadBackIsNotAskedAgain) {
  ZrFakeClock clock;
  ZrScopedClock scoped(&clock);
  PairArray a(2);
  std::vector<bool> done;
  ASSERT_EQ(a.impl->mapSnapshotBatch(a.pairs(2), done), 0) << a.bed.errorText();
  auto listAgain = [&](size_t more, const char* why) {
    const size_t before = a.count("get snapshot -snapshotgroup");
    std::vector<HDSSnapshotGroupInfo> rows;
    EXPECT_EQ(a.impl->getSnapshotGroupList(rows, kGroup, false), 0);
    EXPECT_EQ(before + more, a.count("get snapshot -snapshotgroup")) << why;
    return rows;
  };
  const std::vector<HDSSnapshotGroupInfo> rows = listAgain(0, "answered from the read-back");
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(std::to_string(kFirstTarget), rows[0].partnerLdevId);
  listAgain(1, "only once");
  ASSERT_EQ(a.impl->unmapSnapshotBatch(a.pairs(2, false), done), 0) << a.bed.errorText();
  clock.sleepMillis(10000);
  listAgain(1, "not after a pause");
}

// Unmapping reads an association back as gone when the pair has no target
// (or no longer exists).
TEST(Batch, UnmapReadsTheAssociationBack) {
  PairArray a(3);
  std::vector<bool> done;
  ASSERT_EQ(a.impl->mapSnapshotBatch(a.pairs(3), done), 0);
  a.sim.clearJournal();
  a.sim.addFault(ccisim::Fault::statusReset("unmap snapshot -ldev_id 256"));
  EXPECT_EQ(a.impl->unmapSnapshotBatch(a.pairs(3, false), done), 1);
  EXPECT_EQ(done, (std::vector<bool>{false, true, true}));
  EXPECT_EQ(kFirstTarget, a.svolOf(0));
  EXPECT_EQ(-1, a.svolOf(1));
  EXPECT_EQ(a.bed.errorText(),
            "Failed to unmap target LDEV associated with Snap-[256-MU" + a.mus[0] + "].");
}

TEST(Batch, InvalidItemsSendNothing) {
  Bed bed;
  ZRHDSRaidcomImplementer& impl = bed.recording();
  std::vector<bool> done;
  EXPECT_EQ(impl.mapSnapshotBatch({{"256", "3", "1000"}, {"257", "3", ""}}, done), 1);
  EXPECT_EQ(impl.deleteSnapshotBatch({{"256", "3", ""}, {"257;x", "3", ""}}, done), 1);
  EXPECT_EQ(impl.deleteSvolBatch({"1000", "10 01"}, 0, done), 1);
  EXPECT_TRUE(bed.recorder.lines().empty());
  EXPECT_EQ(bed.errorCode(), 62601);
}

// ---- LDEVs -----------------------------------------------------------------

namespace {

ZRHDSSnapInfo svol(const char* id, uint64_t capacity) {
  ZRHDSSnapInfo s;
  s.snapLdevId = id;
  s.capacity = capacity;
  return s;
}

std::string ldevShowing(const char* id, uint64_t capacity) {
  return std::string("Serial# : 412345\nLDEV : ") + id + "\nVOL_TYPE : OPEN-V-CVS\n" +
         "VOL_Capacity(BLK) : " + std::to_string(capacity) + "\nLDEV_NAMING : \n";
}

std::string undefinedLdev(const std::string& id) {
  return "Serial# : 412345\nLDEV : " + id + "\nVOL_TYPE : NOT DEFINED\n";
}

// A block of the span listing: labelled QB_SVOL_<ldev>, 601 undefined.
std::string spanBlock(const std::string& ldev, const std::string& serial = "412345") {
  return "Serial#  : " + serial + "\nLDEV : " + ldev + "\nVOL_TYPE : " +
         (ldev == "601" ? "NOT DEFINED" : "OPEN-V-CVS\nLDEV_NAMING : QB_SVOL_" + ldev) + "\n\n";
}

}  // namespace

// An error counted and one add shown without effect: an add refused because
// someone made the id meanwhile looks like one that worked, so the LDEVs that
// look made are neither labelled nor deleted but logged, and the call fails.
TEST(BatchLdevs, AnErrorTheStatusCannotPlaceLeavesTheLdevsThatLookMadeAlone) {
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    Bed bed;
    bed.snaps = {svol("100", 64), svol("101", 64), svol("102", 64)};
    bed.answerStatusError();
    bed.recorder.on(" add ldev ", R::ok());
    std::string listing;
    for (int i = 0; i < 3; ++i) {
      const std::string id = std::to_string(100 + i);
      listing += i == k ? undefinedLdev(id) : ldevShowing(id.c_str(), 64);
    }
    bed.recorder.on(" get ldev   -ldev_id 100 -cnt 3 ", R::ok(listing));
    EXPECT_EQ(bed.recording().createSvols({}), 1);
    EXPECT_EQ(bed.errorText(), "Failed to Create LDEV-" + std::to_string(100 + k));
    EXPECT_EQ(bed.recorder.linesWith(" add ldev ").size(), 3u);
    EXPECT_EQ(bed.recorder.linesWith(" reset command_status ").size(), 1u);
    EXPECT_EQ(bed.recorder.linesWith(" get ldev ").size(), 1u) << "one listing for the batch";
    EXPECT_TRUE(bed.recorder.linesWith(" modify ldev ").empty()) << "no label";
    EXPECT_TRUE(bed.recorder.scripts().empty()) << "nothing deleted";
    for (int i = 0; i < 3; ++i) {
      const std::string line = "LDEV-[" + std::to_string(100 + i) + "] may be another's";
      EXPECT_EQ(i != k, bed.log.logged(line)) << i;
    }
  }
}

// Against the simulator: a refused add undoes the adds before it. Adds the
// array cannot prove the job's are neither labelled nor deleted but logged,
// and the call fails: a status query failing twice (once is asked again);
// someone's LDEV at a chosen id (its add refused in the status only); the
// adds sent before a renewed login (those after it are proven, and undone).
TEST(BatchLdevs, AddsTheArrayCannotProveTheJobsAreLeftUnlabelled) {
  using F = ccisim::Fault;
  const struct {
    const char* what; bool someonesAt601; std::vector<F> faults;
    const char* failed;         // the id the error names; "" success
    std::vector<bool> defined;  // 600, 601, 602 afterwards
    const char* deleted; size_t statusReads;
  } rows[] = {
      {"add of 601 refused", false, {F::fail("raidcom", "-ldev_id 601 -capacity", 221, "")}, "601",
       {0, 0, 0}, " 600", 1},
      {"status query fails once", false, {F::fail("raidcom", "get command_status", 5, "", 1)}, "",
       {1, 1, 1}, "", 2},
      {"status query never answers", false, {F::fail("raidcom", "get command_status", 5, "", -1)},
       "600", {1, 1, 1}, "", 2},
      {"someone's LDEV at 601", true, {}, "600", {1, 1, 1}, "", 1},
      {"login renewed at the add of 601", false,
       {F::expireLogin("add ldev -pool snap -mp_blade_id 0 -ldev_id 601")}, "600", {1, 0, 0},
       " 601 602", 1},
      {"login renewed at the status read", false, {F::expireLogin("get command_status")}, "600",
       {1, 1, 1}, "", 2},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    Bed bed;
    ccisim::Fixture sim;
    ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
    sim.addUser("cciuser", "secret");
    bed.options.userName = "cciuser";
    bed.options.password = "secret";
    bed.options.isHTI = true;
    if (r.someonesAt601) sim.addSourceLdev(Bed::kSerial, 601, 64);
    for (const F& f : r.faults) sim.addFault(f);
    bed.snaps = {svol("600", 64), svol("601", 64), svol("602", 64)};
    for (ZRHDSSnapInfo& s : bed.snaps) s.svolLabel = "QB_SVOL_" + s.snapLdevId;
    const bool ok = *r.failed == '\0';
    EXPECT_EQ(impl.createSvols({}), ok ? 0 : 1) << bed.errorText();
    EXPECT_EQ(bed.errorText(), ok ? "" : std::string("Failed to Create LDEV-") + r.failed);
    const ccisim::Array a = *sim.load().array(Bed::kSerial);
    for (int i = 0; i < 3; ++i) {
      const std::string id = std::to_string(600 + i);
      const ccisim::Ldev& l = a.ldev(600 + i);
      EXPECT_EQ(r.defined[i], l.defined) << id;
      EXPECT_EQ(ok ? "QB_SVOL_" + id : "", l.label) << id;
      EXPECT_EQ(!ok && l.defined, bed.log.logged("LDEV-[" + id + "] may be another's")) << id;
    }
    std::string deleted;
    for (const ccisim::JournalEntry& e : sim.journal("raidcom", "delete ldev"))
      deleted += " " + e.line().substr(e.line().find("-ldev_id ") + 9, 3);
    EXPECT_EQ(r.deleted, deleted);
    EXPECT_EQ(r.statusReads, sim.journal("raidcom", "get command_status").size());
  }
}

// Deleting S-VOLs in one batch and one listing; with a pause after each
// deletion (a virtual storage machine) every deletion is a batch of its own.
TEST(BatchLdevs, DeletionsShareOneStatusCheckAndListingUnlessPaused) {
  for (int pause : {0, 3}) {
    SCOPED_TRACE(pause);
    ZrFakeClock clock;
    ZrScopedClock scoped(&clock);
    Bed bed;
    bed.answerStatus();
    bed.recorder.on(" delete ldev ", R::ok());
    bed.recorder.on(" -cnt 3 ", R::ok(undefinedLdev("600") + undefinedLdev("601") +
                                      undefinedLdev("602")));
    for (const char* id : {"600", "601", "602"})
      bed.recorder.on(std::string("-ldev_id ") + id + " -cnt 1 ", R::ok(undefinedLdev(id)));
    std::vector<bool> done;
    ASSERT_EQ(bed.recording().deleteSvolBatch({"600", "601", "602"}, pause, done), 0)
        << bed.errorText();
    EXPECT_EQ(done, std::vector<bool>(3, true));
    const size_t batches = pause > 0 ? 3u : 1u;
    EXPECT_EQ(bed.recorder.linesWith(" reset command_status ").size(), batches);
    EXPECT_EQ(bed.recorder.linesWith(" get ldev ").size(), batches);
    EXPECT_EQ(bed.recorder.linesWith(" delete ldev ").size(), 3u);
    EXPECT_EQ(clock.totalSleptMillis(), 3 * pause * 1000) << "a pause after each deletion";
  }
}

// A deletion is decided by the listing whatever the status counts: an LDEV
// still defined failed, and the batch stops there.
TEST(BatchLdevs, DeletionsAreDecidedByTheListing) {
  for (bool statusError : {true, false}) {
    SCOPED_TRACE(statusError ? "status error" : "clean status");
    Bed bed;
    statusError ? bed.answerStatusError() : bed.answerStatus();
    bed.recorder.on(" delete ldev ", R::ok());
    bed.recorder.on(" get ldev   -ldev_id 600 -cnt 2 ",
                    R::ok(ldevShowing("600", 64) + undefinedLdev("601")));
    std::vector<bool> done;
    EXPECT_EQ(bed.recording().deleteSvolBatch({"600", "601"}, 0, done), 1);
    EXPECT_EQ(done, (std::vector<bool>{false, true}));
    EXPECT_EQ(bed.errorText(), "Failed to delete LDEV-[600]");
  }
}

// The read-back of a span of LDEV ids: one listing, every other answer a
// failure, and spans outside the ids never asked for.
TEST(LdevSpan, OneListingReadsEveryIdOfTheSpan) {
  Bed bed;
  bed.recorder.on(" get ldev ", R::ok(spanBlock("600") + spanBlock("601") + spanBlock("602")));
  std::vector<HDSLdevInfo> out(1);
  ASSERT_EQ(bed.recording().getLdevSpan(600, 3, out), 0) << bed.errorText();
  EXPECT_EQ(bed.recorder.lines(),
            std::vector<std::string>{Bed::raidcom("get ldev   -ldev_id 600 -cnt 3")});
  ASSERT_EQ(out.size(), 4u) << "appended";
  EXPECT_EQ(out[1].label + " " + out[2].volType + " " + out[3].label,
            "QB_SVOL_600 NOTDEFINED QB_SVOL_602");
}

TEST(LdevSpan, AnAnswerThatIsNotTheSpansListingOrASpanOutsideTheIdsIsAFailure) {
  const R::Reply rows[] = {
      R::exit(1, "", "raidcom: [EX_CMDRJE]"), R::exit(246, "", "raidcom: [EX_ENODEV]"),
      R::timeout(), R::ok(""), R::ok("raidcom: something else\n"),
      R::ok(spanBlock("600") + spanBlock("601", "512345")),  // another array
      R::ok(spanBlock("599")), R::ok(spanBlock("600") + spanBlock("602")),  // outside the span
      R::ok(spanBlock("600") + spanBlock("600")), R::ok(spanBlock("6x0")), R::ok(spanBlock("")),
  };
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    SCOPED_TRACE(i);
    Bed bed;
    bed.recorder.on(" get ldev ", rows[i]);
    std::vector<HDSLdevInfo> out;
    EXPECT_EQ(bed.recording().getLdevSpan(600, 2, out), 1);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(std::to_string(bed.errorCode()) + " " + bed.errorText(),
              "62601 Failed to list the LDEVs 600 to 601.");
  }
  const std::pair<int, int> spans[] = {{-1, 1}, {0, 0},     {0, -5},
                                       {0, 65281}, {65279, 2}, {70000, 1}};
  for (const auto& span : spans) {
    SCOPED_TRACE(std::to_string(span.first) + "+" + std::to_string(span.second));
    Bed bed;
    std::vector<HDSLdevInfo> out;
    EXPECT_EQ(bed.recording().getLdevSpan(span.first, span.second, out), 1);
    EXPECT_TRUE(bed.recorder.lines().empty());
    EXPECT_EQ(bed.errorText().rfind("Invalid input: LDEV span", 0), 0u) << bed.errorText();
  }
}
