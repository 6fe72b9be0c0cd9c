// Batches of the commands the array carries out after the tool returned:
// the rules that decide each command's outcome (in rows), one command-status
// reset and read and one read-back listing per batch of at most 64
// commands, outcomes decided from what the listing shows whatever the
// status counts (an error or a reset status at each position, an unreadable
// status, a time-out, a renewed login), and the stop rules, with the journal
// checked for the commands that must not be sent.
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

// ---- the rules, in rows -------------------------------------------------------

// Each command's outcome from how its run ended, a renewed login after it
// (R), its step after it failing (S), what the batch's listing shows of it
// and the status; once where the listing proves whose the object is (a pair
// at its P-VOL and MU, an LDEV gone) and once where it cannot (a new LDEV).
TEST(BatchOutcome, EachCommandFromItsFactsAndTheStatus) {
  using E = hdsbatch::Effect;
  using X = hdsbatch::Exit;
  using O = hdsbatch::Outcome;
  constexpr int kUnread = -2;  // the status query failed
  struct Row {
    const char* what;
    X exit;
    int r, s;  // R and S as above
    E readBack;
    int errors;          // kUnread, -1 (kept timing out) or ERR_CNT
    O proven, unproven;  // readsProve, !readsProve
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
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    hdsbatch::CommandFacts facts;
    facts.exit = r.exit;
    facts.beforeRelogin = r.r != 0;
    facts.stepFailed = r.s != 0;
    facts.readBack = r.readBack;
    hdsbatch::StatusFacts status;
    status.read = r.errors != kUnread;
    status.errors = status.read ? r.errors : 0;
    EXPECT_EQ(r.proven, hdsbatch::decideOutcome(facts, status, true));
    EXPECT_EQ(r.unproven, hdsbatch::decideOutcome(facts, status, false));
  }
}

// ---- snapshot pairs against the simulator ---------------------------------------

// Four associations share one status reset, one status read and one
// listing of their group, made after the status read.
TEST(Batch, OneResetOneReadAndOneListingForTheWholeBatch) {
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

// A command without effect at any position, whether the status counts its
// error or another session reset the status in between (no error at all):
// the listing shows which one, every other one is done, and nothing after
// the batch is sent.
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

// A pair the caller names no group for is looked for in the group the
// job's records give, and in its P-VOL's pairs when that group does not
// show it (the caller's group, and no group at all: the tests above).
TEST(Batch, APairWithoutAGroupIsReadBackFromItsRecordedGroupOrItsPvol) {
  struct Row {
    const char* recordedGroup;
    size_t groupListings, pvolListings;
  } rows[] = {{kGroup, 1, 0}, {"QB_7_5_1F_OTHER", 1, 2}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.recordedGroup);
    PairArray a(2);
    std::vector<HDSSnapshotPairRef> pairs = a.pairs(2);
    for (HDSSnapshotPairRef& p : pairs) {
      p.group.clear();
      ZRHDSSnapInfo record;
      record.baseDevNo = p.pvol;
      record.snapMu = p.mu;
      record.snapshotGroup = r.recordedGroup;
      a.bed.snaps.push_back(record);
    }
    std::vector<bool> done;
    ASSERT_EQ(a.impl->mapSnapshotBatch(pairs, done), 0) << a.bed.errorText();
    EXPECT_EQ(done, std::vector<bool>(2, true));
    EXPECT_EQ(r.groupListings, a.count("get snapshot -snapshotgroup"));
    EXPECT_EQ(r.pvolListings, a.count("get snapshot -ldev_id"));
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

// A status that cannot be read, never settles (its query keeps timing out,
// its row counting no error; a batch of one) or was read under a renewed
// login: the listing decides, and a batch that it shows complete succeeds.
TEST(Batch, AStatusThatProvesNothingLeavesTheDecisionToTheListing) {
  struct Row {
    const char* what;
    ccisim::Fault fault;
    int pairs;
    size_t logins;
  } rows[] = {
      {"unreadable", ccisim::Fault::garbleOutput("raidcom", "get command_status", "empty"), 3, 0},
      {"never settles", ccisim::Fault::statusBusy(-1, true), 1, 0},
      {"login renewed at the status read", ccisim::Fault::expireLogin("get command_status"), 3, 1},
  };
  for (const Row& r : rows) {
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
// reset, read and listing; an error in the first batch sends nothing of the
// second.
TEST(Batch, AtMostSixtyFourCommandsShareOneStatusCheckAndOneListing) {
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

// A pair a later batch changes is judged from that batch's own listing: a
// P-VOL with a pair in each of two batches (no group named: each pair is
// read back from its P-VOL's pairs).
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

// The group a batch has just read back answers the job's next listing of
// it, once, when no command ran and no pause passed in between.
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

}  // namespace

// The status counts an error and the listing shows one add without effect:
// which add the error was is not said anywhere, and an add refused because
// someone made the id meanwhile looks exactly like one that worked. The
// LDEVs that look made are neither labelled nor deleted but left for an
// administrator, and the call fails.
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

// Deleting S-VOLs in one batch, read back with one listing; with a pause
// after each deletion (a virtual storage machine) every deletion is a
// batch of its own.
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
    bed.answerStatusCounting(statusError);
    bed.recorder.on(" delete ldev ", R::ok());
    bed.recorder.on(" get ldev   -ldev_id 600 -cnt 2 ",
                    R::ok(ldevShowing("600", 64) + undefinedLdev("601")));
    std::vector<bool> done;
    EXPECT_EQ(bed.recording().deleteSvolBatch({"600", "601"}, 0, done), 1);
    EXPECT_EQ(done, (std::vector<bool>{false, true}));
    EXPECT_EQ(bed.errorText(), "Failed to delete LDEV-[600]");
  }
}
