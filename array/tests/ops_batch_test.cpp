// Batches of the commands the array carries out after the tool returned:
// one command-status reset and read per batch of at most 64 commands, the
// read-back that tells which objects took effect when the status does not
// clear a batch (an error at each position, an unreadable status, a time-out,
// a renewed login), and the stop rules, with the journal checked for the
// commands that must not be sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
            withTarget ? std::to_string(kFirstTarget + i) : std::string()};
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

}  // namespace

// Four associations share one status reset and one status read; nothing is
// read back when the status counts no error.
TEST(Batch, OneResetAndOneReadForTheWholeBatch) {
  PairArray a(4);
  std::vector<bool> done;
  ASSERT_EQ(a.impl->mapSnapshotBatch(a.pairs(4), done), 0) << a.bed.errorText();
  EXPECT_EQ(done, std::vector<bool>(4, true));
  std::vector<std::string> want = {"reset command_status"};
  for (int i = 0; i < 4; ++i) want.push_back(mapLine(i, a.mus[i]));
  want.push_back("get command_status");
  EXPECT_EQ(a.lines(), want);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(kFirstTarget + i, a.svolOf(i));
}

// A command-status error at any position: the one command that did not take
// effect is found by reading each pair back, every other one is done, and
// no further command is sent.
TEST(Batch, StatusErrorAtEachPositionIsFoundByReadingBack) {
  const int n = 4;
  for (int k = 0; k < n; ++k) {
    SCOPED_TRACE("error at position " + std::to_string(k));
    PairArray a(n);
    a.sim.addFault(ccisim::Fault::statusError(mapLine(k, a.mus[k]), 1, "injected"));
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
    EXPECT_EQ(static_cast<size_t>(n), a.count("get snapshot -ldev_id")) << "one read-back each";
    EXPECT_EQ(0u, a.count("unmap snapshot")) << "the array layer undoes nothing";
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PairArray a(n);
    a.sim.addFault(
        ccisim::Fault::statusError(std::string(c.verb) + " -ldev_id 257", 1, "injected"));
    std::vector<bool> done;
    EXPECT_EQ((a.impl->*c.run)(a.pairs(n, false), done), 1);
    EXPECT_EQ(done, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(static_cast<size_t>(n), a.count(c.verb));
    EXPECT_EQ(1u, a.count("reset command_status"));
    EXPECT_EQ(0u, a.bed.errorText().find(c.text)) << a.bed.errorText();
    EXPECT_TRUE(a.pairExists(1));
  }
}

// A refusal by exit code ends the batch at once: later commands are never
// sent; those before it are done by the status read.
TEST(Batch, ARefusalStopsTheBatchAtItsCommand) {
  PairArray a(4);
  a.sim.addFault(ccisim::Fault::fail("raidcom", mapLine(2, a.mus[2]), 1, "refused\n"));
  std::vector<bool> done;
  EXPECT_EQ(a.impl->mapSnapshotBatch(a.pairs(4), done), 1);
  EXPECT_EQ(done, (std::vector<bool>{true, true, false, false}));
  std::vector<std::string> want = {"reset command_status", mapLine(0, a.mus[0]),
                                   mapLine(1, a.mus[1]), mapLine(2, a.mus[2]),
                                   "get command_status"};
  EXPECT_EQ(a.lines(), want) << "no read-back: the status clears the first two";
  EXPECT_EQ(-1, a.svolOf(3));
}

// An unreadable command status: the pairs read back decide, and a batch
// that the reads show complete succeeds.
TEST(Batch, AnUnreadableStatusIsDecidedByReadingBack) {
  PairArray a(3);
  a.sim.addFault(ccisim::Fault::garbleOutput("raidcom", "get command_status", "empty"));
  std::vector<bool> done;
  EXPECT_EQ(a.impl->mapSnapshotBatch(a.pairs(3), done), 0) << a.bed.errorText();
  EXPECT_EQ(done, std::vector<bool>(3, true));
  EXPECT_EQ(3u, a.count("get snapshot -ldev_id"));
  EXPECT_EQ(a.bed.errorCode(), 0);
}

// A login the array ended in the middle of a batch: the command runs again
// after the login, and the commands sent before it are read back even though
// the status counts no error (a new login may have taken their status).
TEST(Batch, ARenewedLoginMakesTheEarlierCommandsReadBack) {
  PairArray a(3);
  a.sim.addUser("cciuser", "secret");
  a.bed.options.userName = "cciuser";
  a.bed.options.password = "secret";
  a.sim.addFault(ccisim::Fault::expireLogin(mapLine(2, a.mus[2])));
  std::vector<bool> done;
  const int rc = a.impl->mapSnapshotBatch(a.pairs(3), done);
  std::string journal;
  for (const std::string& l : a.lines()) journal += l + "\n";
  for (const std::string& l : a.bed.log.logTexts(-1)) journal += l + "\n";
  ASSERT_EQ(rc, 0) << a.bed.errorText() << "\n" << journal;
  EXPECT_EQ(done, std::vector<bool>(3, true));
  EXPECT_EQ(2u, a.count(mapLine(2, a.mus[2])));
  EXPECT_EQ(1u, a.count("-login"));
  EXPECT_EQ(2u, a.count("get snapshot -ldev_id")) << "the two before the login";
  EXPECT_EQ(1u, a.count("get snapshot -ldev_id 256"));
  EXPECT_EQ(1u, a.count("get snapshot -ldev_id 257"));
}

// More than 64 commands: a batch of 64, then the rest, each with its own
// reset and read; an error in the first batch sends nothing of the second.
TEST(Batch, AtMostSixtyFourCommandsShareOneStatusCheck) {
  const int n = ZR_HDS_ASYNC_BATCH_LIMIT + 6;
  {
    PairArray a(n);
    std::vector<bool> done;
    ASSERT_EQ(a.impl->mapSnapshotBatch(a.pairs(n), done), 0) << a.bed.errorText();
    const std::vector<std::string> lines = a.lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(n + 4));
    EXPECT_EQ(lines[0], "reset command_status");
    EXPECT_EQ(lines[65], "get command_status");
    EXPECT_EQ(lines[66], "reset command_status");
    EXPECT_EQ(lines[67], mapLine(64, a.mus[64]));
    EXPECT_EQ(lines.back(), "get command_status");
  }
  PairArray a(n);
  a.sim.addFault(ccisim::Fault::statusError(mapLine(10, a.mus[10]), 1, "injected"));
  std::vector<bool> done;
  EXPECT_EQ(a.impl->mapSnapshotBatch(a.pairs(n), done), 1);
  EXPECT_EQ(64u, a.count("map snapshot")) << "the second batch is never sent";
  EXPECT_EQ(-1, a.svolOf(64));
  EXPECT_FALSE(done[10]);
  EXPECT_TRUE(done[11]);
  EXPECT_FALSE(done[64]);
}

// Unmapping reads an association back as gone when the pair has no target
// (or no longer exists).
TEST(Batch, UnmapReadsTheAssociationBack) {
  PairArray a(3);
  std::vector<bool> done;
  ASSERT_EQ(a.impl->mapSnapshotBatch(a.pairs(3), done), 0);
  a.sim.clearJournal();
  a.sim.addFault(ccisim::Fault::statusError("unmap snapshot -ldev_id 256", 1, "injected"));
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

const char kStatusTwoErrors[] =
    "HANDLE  SSB1  SSB2  ERR_CNT  Serial#  Description\n"
    "00C3    2E31  9100  2        412345   [EX_CMDRJE] The requested LDEV is already defined\n";

std::string ldevShowing(const char* id, uint64_t capacity) {
  return std::string("Serial# : 412345\nLDEV : ") + id + "\nVOL_TYPE : OPEN-V-CVS\n" +
         "VOL_Capacity(BLK) : " + std::to_string(capacity) + "\nLDEV_NAMING : \n";
}

}  // namespace

// The status counts an error for the second of three adds: the reads show
// the second undefined and the others made, so exactly those two are undone.
TEST(BatchLdevs, StatusErrorUndoesExactlyTheLdevsMade) {
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    Bed bed;
    bed.snaps = {svol("100", 64), svol("101", 64), svol("102", 64)};
    bed.recorder.on(" reset command_status ", R::ok());
    bed.recorder.on(" get command_status ", R::ok(Bed::kStatusError));
    bed.recorder.on(" add ldev ", R::ok());
    bed.recorder.on(" modify ldev ", R::ok());
    for (int i = 0; i < 3; ++i) {
      const std::string id = std::to_string(100 + i);
      bed.recorder.on(" get ldev   -ldev_id " + id,
                      i == k ? R::ok("Serial# : 412345\nLDEV : " + id + "\nVOL_TYPE : NOT DEFINED\n")
                             : R::ok(ldevShowing(id.c_str(), 64)));
    }
    bed.recorder.on("/bin/sh ", R::ok());
    EXPECT_EQ(bed.recording().createSvols(), 1);
    EXPECT_EQ(bed.errorText(), "Failed to Create LDEV-" + std::to_string(100 + k));
    EXPECT_EQ(bed.recorder.linesWith(" add ldev ").size(), 3u);
    EXPECT_EQ(bed.recorder.linesWith(" reset command_status ").size(), 1u);
    ASSERT_EQ(bed.recorder.scripts().size(), 1u);
    const std::string& undo = bed.recorder.scripts()[0];
    for (int i = 0; i < 3; ++i) {
      const bool undone = undo.find("delete ldev -ldev_id " + std::to_string(100 + i)) !=
                          std::string::npos;
      EXPECT_EQ(i != k, undone) << i;
    }
  }
}

// More errors counted than adds without effect: one of those that look made
// may be an LDEV someone else made first; none of them is taken for ours.
TEST(BatchLdevs, ErrorsThatTheReadsCannotExplainUndoNothing) {
  Bed bed;
  bed.snaps = {svol("100", 64), svol("101", 64), svol("102", 64)};
  bed.recorder.on(" reset command_status ", R::ok());
  bed.recorder.on(" get command_status ", R::ok(kStatusTwoErrors));
  bed.recorder.on(" add ldev ", R::ok());
  bed.recorder.on(" modify ldev ", R::ok());
  bed.recorder.on(" get ldev   -ldev_id 100",
                  R::ok("Serial# : 412345\nLDEV : 100\nVOL_TYPE : NOT DEFINED\n"));
  bed.recorder.on(" get ldev   -ldev_id 101", R::ok(ldevShowing("101", 64)));
  bed.recorder.on(" get ldev   -ldev_id 102", R::ok(ldevShowing("102", 64)));
  EXPECT_EQ(bed.recording().createSvols(), 1);
  EXPECT_TRUE(bed.recorder.scripts().empty());
  EXPECT_TRUE(bed.log.logged("[LDEV-101] cannot be told from an object made by someone else."));
  EXPECT_EQ(bed.errorText(), "Failed to Create LDEV-100");
}

// Deleting S-VOLs in one batch; with a pause after each deletion (a virtual
// storage machine) every deletion is a batch of its own.
TEST(BatchLdevs, DeletionsShareOneStatusCheckUnlessPaused) {
  for (int pause : {0, 3}) {
    SCOPED_TRACE(pause);
    ZrFakeClock clock;
    ZrScopedClock scoped(&clock);
    Bed bed;
    bed.answerStatus();
    bed.recorder.on(" delete ldev ", R::ok());
    std::vector<bool> done;
    ASSERT_EQ(bed.recording().deleteSvolBatch({"600", "601", "602"}, pause, done), 0)
        << bed.errorText();
    EXPECT_EQ(done, std::vector<bool>(3, true));
    EXPECT_EQ(bed.recorder.linesWith(" reset command_status ").size(), pause > 0 ? 3u : 1u);
    EXPECT_EQ(bed.recorder.linesWith(" delete ldev ").size(), 3u);
    EXPECT_EQ(clock.totalSleptMillis(), 3 * pause * 1000) << "a pause after each deletion";
  }
}

// A deletion whose status counts an error is read back: an LDEV still
// defined failed, and the batch stops there.
TEST(BatchLdevs, DeletionStatusErrorReadsBack) {
  Bed bed;
  bed.recorder.on(" reset command_status ", R::ok());
  bed.recorder.on(" get command_status ", R::ok(Bed::kStatusError));
  bed.recorder.on(" delete ldev ", R::ok());
  bed.recorder.on(" get ldev   -ldev_id 600", R::ok(ldevShowing("600", 64)));
  bed.recorder.on(" get ldev   -ldev_id 601",
                  R::ok("Serial# : 412345\nLDEV : 601\nVOL_TYPE : NOT DEFINED\n"));
  std::vector<bool> done;
  EXPECT_EQ(bed.recording().deleteSvolBatch({"600", "601"}, 0, done), 1);
  EXPECT_EQ(done, (std::vector<bool>{false, true}));
  EXPECT_EQ(bed.errorText(), "Failed to delete LDEV-[600]");
}
