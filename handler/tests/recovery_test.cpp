// Recovery of a dead job's intent records at the next job's login, against
// the simulator: each rule removes only what is provably the dead job's,
// and every decoy beside it (another job's group on the same P-VOLs,
// another host's pair, an administrator's LDEV at a recorded id, an S-VOL of
// another job) stays; what cannot be proven is logged with the
// administrator's commands and kept on record. Nothing to recover sends no
// command; a failing recovery never fails the job.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <string>
#include <vector>

#include "array/HDSCommandRunner.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"
#include "handler/tests/support/HDSHandlerTestBed.h"
#include "host/ZrNamedMutex.h"
#include "host/testing/ZrFakeClock.h"
#include "host/testing/ZrFileSyncRecorder.h"
#include "util/ZRHDSIntentRecord.h"

namespace {

using Bed = HDSHandlerTestBed;
const char kSerial[] = "412345";
const char kDeadGroup[] = "QB_7_5_1F_DEAD";
const char kOtherJobGroup[] = "QB_9_5_1F_OTHER";
const char kOtherHostGroup[] = "QB_12_5_2A_OTHER";
constexpr uint64_t kBlocks = 4194304;  // the test bed's source capacity

class Recovery : public ::testing::Test {
 public:  // the rows of the proof tables arrange the bed
  Recovery() : scoped(&clock) {
    bed.sim.addPort(kSerial, "CL1-A", "50060e8000000001");
    bed.sim.addHostGroup(kSerial, "CL1-A", 1, "host_hg");
    bed.sim.addHostGroup(kSerial, "CL1-A", 2, "QB_PRE_SNAP_HOST_GROUP");
    bed.addSources({256, 257, 258});
  }
  // A record of a job that ended: this process's id with another start time.
  static ZRHDSIntentRecord dead(ZRHDSIntentRecord::Kind kind) {
    ZRHDSIntentRecord r;
    r.kind = kind;
    r.serial = kSerial;
    r.resourceGroup = "meta_resource";
    r.job = ZRHDSProcessIdentity::own();
    r.job.startTime += 1;
    return r;
  }
  static ZRHDSIntentRecord deadGroup(const std::vector<std::string>& pvols) {
    ZRHDSIntentRecord r = dead(ZRHDSIntentRecord::Kind::kGroup);
    r.group = kDeadGroup;
    for (const std::string& p : pvols) {
      ZRHDSIntentEntry e;
      e.pvol = p;
      r.entries.push_back(e);
    }
    return r;
  }
  static ZRHDSIntentEntry svol(const std::string& ldev, const std::string& label,
                               uint64_t blocks = kBlocks) {
    ZRHDSIntentEntry e;
    e.ldev = ldev;
    e.label = label;
    e.capacity = blocks;
    e.pvol = "256";
    e.mu = "3";
    e.hostGroupsRecorded = true;
    e.hostGroups = {"CL1-A-1", "CL1-A-2"};
    return e;
  }
  std::string plant(ZRHDSIntentRecord r) {
    std::string error;
    EXPECT_TRUE(store.save(r, &error)) << error;
    return r.path;
  }
  std::vector<ZRHDSIntentRecord> records() {
    std::vector<ZRHDSIntentRecord> out;
    store.list(kSerial, out, nullptr, nullptr);
    return out;
  }
  void defineLdev(int id, const std::string& label, uint64_t blocks = kBlocks) {
    ccisim::Ldev l;
    l.id = id;
    l.capacity = blocks;
    l.attrs = {"CVS", "VVOL"};
    l.label = label;
    bed.sim.addLdev(kSerial, l);
  }
  ccisim::Ldev ldev(int id) const { return bed.sim.load().arrays.at(kSerial).ldev(id); }
  bool hasPair(const std::string& group, int pvol, int mu) const {
    const ccisim::State state = bed.sim.load();
    for (const ccisim::SnapPair& p : state.arrays.at(kSerial).pairs) {
      if (p.group == group && p.pvol == pvol && p.mu == mu) return true;
    }
    return false;
  }
  // A job's login (a prepare handler) after the journal was cleared.
  void nextJob(int operation = 1) {
    bed.sim.clearJournal();
    h = bed.handler(operation);
    ASSERT_TRUE(h->IsHandlerInitialized()) << Bed::error(*h).second;
    EXPECT_EQ(0, Bed::error(*h).first);
  }

  ZrFakeClock clock;
  ZrScopedClock scoped;
  Bed bed;
  ZRHDSIntentStore store;
  std::unique_ptr<ZRHDSCommandHandler> h;
};

TEST_F(Recovery, NothingToRecoverSendsNoCommand) {
  nextJob();
  const std::vector<std::string> plain = bed.lines();
  h.reset();
  // A live job's record, and dead ones of another array and resource group.
  ZRHDSIntentRecord live = Recovery::deadGroup({"256"});
  live.job = ZRHDSProcessIdentity::own();
  plant(live);
  ZRHDSIntentRecord otherArray = deadGroup({"256"});
  otherArray.serial = "99";
  plant(otherArray);
  ZRHDSIntentRecord otherGroup = deadGroup({"256"});
  otherGroup.resourceGroup = "RG2";
  plant(otherGroup);
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5);
  nextJob();
  EXPECT_EQ(plain, bed.lines());
  EXPECT_EQ(2u, records().size());
  EXPECT_TRUE(hasPair(kDeadGroup, 256, 3));
}

TEST_F(Recovery, GroupRecordRemovesTheRecordedPvolsPairsOfThatGroupOnly) {
  bed.sim.addSnapshotPair(kSerial, kOtherJobGroup, 256, 5, "PSUS");   // MU 3
  bed.sim.addSnapshotPair(kSerial, kOtherHostGroup, 257, 5, "PAIR");  // MU 3
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5, "PAIR");       // MU 4
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 257, 5, "COPY");       // MU 4
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 258, 5, "PAIR");       // not recorded
  plant(deadGroup({"256", "257"}));
  nextJob(13);  // any operation: a revert here
  EXPECT_FALSE(hasPair(kDeadGroup, 256, 4));
  EXPECT_FALSE(hasPair(kDeadGroup, 257, 4));
  EXPECT_TRUE(hasPair(kDeadGroup, 258, 3));
  EXPECT_TRUE(hasPair(kOtherJobGroup, 256, 3));
  EXPECT_TRUE(hasPair(kOtherHostGroup, 257, 3));
  EXPECT_EQ(2u, bed.count("delete snapshot"));
  EXPECT_EQ(1u, bed.count("delete snapshot -ldev_id 256 -mirror_id 4"));
  EXPECT_EQ(1u, bed.count("delete snapshot -ldev_id 257 -mirror_id 4"));
  EXPECT_TRUE(records().empty());
}

TEST_F(Recovery, ASplitPairIsLeftForAnAdministrator) {
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5, "PSUS");
  const std::string path = plant(deadGroup({"256", "257"}));
  nextJob();
  EXPECT_TRUE(hasPair(kDeadGroup, 256, 3));
  EXPECT_EQ(0u, bed.count("delete snapshot"));
  EXPECT_NE(std::string::npos,
            bed.logs().find("raidcom delete snapshot -ldev_id 256 -mirror_id 3 -IM3532 -s 412345"));
  const std::vector<ZRHDSIntentRecord> left = records();
  ASSERT_EQ(1u, left.size());
  EXPECT_EQ(path, left[0].path);
  ASSERT_EQ(1u, left[0].entries.size()) << "257 had no pair: nothing of it to keep";
  EXPECT_EQ("256", left[0].entries[0].pvol);
}

TEST_F(Recovery, InAReusedGroupOnlyTheDeadJobsNewPairsGo) {
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5, "PSUS");  // MU 3, there before
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5, "PAIR");  // MU 4, another job's
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5, "PAIR");  // MU 5, the dead job's
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 257, 5, "PSUS");  // MU 3, there before
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 257, 5, "PAIR");  // MU 4, no MU on record
  ZRHDSIntentRecord r = deadGroup({"256", "257"});
  r.reused = true;
  r.existingKeys = {"256-3", "257-3"};
  r.entries[0].mu = "5";
  plant(r);
  nextJob();
  EXPECT_TRUE(hasPair(kDeadGroup, 256, 3));
  EXPECT_TRUE(hasPair(kDeadGroup, 256, 4));
  EXPECT_FALSE(hasPair(kDeadGroup, 256, 5));
  EXPECT_TRUE(hasPair(kDeadGroup, 257, 3));
  EXPECT_FALSE(hasPair(kDeadGroup, 257, 4));
  EXPECT_EQ(2u, bed.count("delete snapshot"));
  EXPECT_TRUE(records().empty());
}

TEST_F(Recovery, SvolRulesAndTheirDecoys) {
  // 600: the dead job's S-VOL, associated and presented twice.
  defineLdev(600, "QB_SVOL_dev256");
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5, "PSUS", false, 600);
  bed.sim.addLun(kSerial, "CL1-A", 1, 5, 600);
  bed.sim.addLun(kSerial, "CL1-A", 2, 0, 600);
  defineLdev(601, "");                   // an administrator's, made after the crash
  defineLdev(602, "QB_SVOL_otherjob");   // another job's S-VOL
  defineLdev(603, "QB_SVOL_dev256", 8);  // the label, another capacity
  defineLdev(605, "QB_SVOL_dev256");     // on the running job's record
  bed.device(0).setMetadata(65, "16ON:**22LI:605**24VI:**23OS:NEWDEV**17HG:N/A**");
  ZRHDSIntentRecord r = dead(ZRHDSIntentRecord::Kind::kSvols);
  r.entries = {svol("600", "QB_SVOL_dev256"), svol("601", "QB_SVOL_dev256"),
               svol("602", "QB_SVOL_dev256"), svol("603", "QB_SVOL_dev256"),
               svol("604", "QB_SVOL_dev256"), svol("605", "QB_SVOL_dev256")};
  plant(r);
  nextJob();
  EXPECT_FALSE(ldev(600).defined);
  EXPECT_EQ(1u, bed.count("unmap snapshot -ldev_id 256 -mirror_id 3"));
  EXPECT_EQ(2u, bed.count("delete lun"));
  EXPECT_EQ(1u, bed.count("delete ldev"));
  EXPECT_EQ(1u, bed.count("delete ldev -ldev_id 600"));
  EXPECT_EQ("", ldev(601).label);
  EXPECT_EQ("QB_SVOL_otherjob", ldev(602).label);
  EXPECT_TRUE(ldev(603).defined);
  EXPECT_TRUE(ldev(605).defined);
  const std::string logs = bed.logs();
  for (const char* admin : {"raidcom delete ldev -ldev_id 601 -IM3532 -s 412345",
                            "raidcom delete ldev -ldev_id 602 -IM3532 -s 412345",
                            "raidcom delete ldev -ldev_id 603 -IM3532 -s 412345"}) {
    EXPECT_NE(std::string::npos, logs.find(admin)) << admin;
  }
  EXPECT_EQ(std::string::npos, logs.find("-ldev_id 605 -IM3532"));
  const std::vector<ZRHDSIntentRecord> left = records();
  ASSERT_EQ(1u, left.size());
  std::vector<std::string> ids;
  for (const ZRHDSIntentEntry& e : left[0].entries) ids.push_back(e.ldev);
  EXPECT_EQ((std::vector<std::string>{"601", "602", "603"}), ids);
  // The resource group was locked for the removal and given back.
  EXPECT_EQ(1u, bed.count("lock resource"));
  EXPECT_EQ(1u, bed.count("unlock resource"));
}

TEST_F(Recovery, AFailingRecoveryNeverFailsTheJob) {
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5, "PAIR");
  plant(deadGroup({"256"}));
  bed.sim.addFault(
      ccisim::Fault::fail("raidcom", "delete snapshot", 1, "raidcom: [EX_CMDRJE] refused\n", 10));
  nextJob();  // initialized, with no error left
  EXPECT_TRUE(hasPair(kDeadGroup, 256, 3));
  EXPECT_EQ(1u, records().size());
  bed.sim.clearFaults();
  nextJob();
  EXPECT_FALSE(hasPair(kDeadGroup, 256, 3));
  EXPECT_TRUE(records().empty());
}

TEST_F(Recovery, AnUnreadableRecordIsNamedAndLeft) {
  const std::string path = store.directory() + "/412345_1_1_cut.intent";
  ZRHDSIntentRecord r = deadGroup({"256"});
  std::string error;
  ASSERT_TRUE(store.save(r, &error)) << error;  // makes the private directory
  ASSERT_TRUE(zrWriteFile(path, r.text().substr(0, 40)));
  store.remove(r, &error);
  nextJob();
  EXPECT_NE(std::string::npos, bed.logs().find("An intent record cannot be read"));
  EXPECT_EQ(0, access(path.c_str(), F_OK));
  EXPECT_EQ(0u, bed.count("get snapshot -snapshotgroup"));
}

// ---- the proof, row by row -------------------------------------------------

// A dead job's record names S-VOL 600 (or the row's id) for 256 MU 3, to be
// presented in host groups 1 and 2 of CL1-A. Each row leaves the array as
// another host, another job or the dead job did: only the dead job's own
// S-VOL goes, and for anything else not one changing command is sent.
struct SvolRow {
  const char* what;
  int assocPvol;           // the S-VOL is associated with this P-VOL (-1: none)
  int extraMus;            // pairs of assocPvol made before its associated one
  std::vector<int> paths;  // host groups of CL1-A it is presented in
  bool olderRecord;        // written before host groups were kept
  int id;                  // the recorded id (256: the job's own source)
  bool pvolOfPair;         // the LDEV is another job's P-VOL
  bool removed;
  bool handedOver = false;  // the dead job handed the entry to the host as it ended
  // The LDEV has no label yet; its entry is marked made (the dead job's add
  // was accepted) or not.
  bool unlabelled = false;
  bool made = false;
};

class SvolProof : public Recovery, public ::testing::WithParamInterface<SvolRow> {};

TEST_P(SvolProof, OnlyTheDeadJobsSvolGoes) {
  const SvolRow& row = GetParam();
  if (row.id != 256) defineLdev(row.id, row.unlabelled ? "" : "QB_SVOL_dev256");
  bed.sim.addHostGroup(kSerial, "CL1-A", 3, "h2_hg");
  for (int i = 0; i < row.extraMus; ++i) bed.sim.addSnapshotPair(kSerial, kOtherHostGroup, 256, 5);
  if (row.assocPvol >= 0) {
    bed.sim.addSnapshotPair(kSerial, kDeadGroup, row.assocPvol, 5, "PSUS", false, row.id);
  }
  if (row.pvolOfPair) bed.sim.addSnapshotPair(kSerial, kOtherJobGroup, row.id, 5, "PSUS");
  for (size_t i = 0; i < row.paths.size(); ++i) {
    bed.sim.addLun(kSerial, "CL1-A", row.paths[i], static_cast<int>(i) + 5, row.id);
  }
  ZRHDSIntentRecord r = dead(ZRHDSIntentRecord::Kind::kSvols);
  r.entries = {svol(std::to_string(row.id), row.unlabelled ? "QB_SVOL_dev256" : ldev(row.id).label)};
  r.entries[0].made = row.made;
  r.entries[0].hostGroupsRecorded = !row.olderRecord;
  if (row.olderRecord) r.entries[0].hostGroups.clear();
  r.entries[0].stored = row.handedOver;
  plant(r);
  nextJob();
  EXPECT_EQ(!row.removed, ldev(row.id).defined) << row.what;
  EXPECT_EQ(!row.removed, !records().empty()) << row.what;
  if (row.removed) return;
  EXPECT_EQ(0u, bed.count("unmap snapshot") + bed.count("delete lun") + bed.count("delete ldev") +
                    bed.count("modify ldev"))
      << row.what;
  EXPECT_NE(std::string::npos,
            bed.logs().find("raidcom delete ldev -ldev_id " + std::to_string(row.id) + " -IM3532"))
      << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SvolProof,
    ::testing::Values(
        SvolRow{
            "the dead job's, associated and presented", 256, 0, {1, 2}, false, 600, false, true},
        SvolRow{"the dead job's, made and labelled only", -1, 0, {}, false, 600, false, true},
        SvolRow{"an older record's, no path", -1, 0, {}, true, 600, false, true},
        SvolRow{
            "another host's at another MU, presented", 256, 1, {1, 2}, false, 600, false, false},
        SvolRow{"another host's, of another P-VOL", 257, 0, {}, false, 600, false, false},
        SvolRow{"another host's, in its own host group", -1, 0, {3}, false, 600, false, false},
        SvolRow{"an older record's, presented", -1, 0, {2}, true, 600, false, false},
        SvolRow{"the job's own source, presented", -1, 0, {1}, false, 256, false, false},
        SvolRow{"another job's P-VOL", -1, 0, {}, false, 600, true, false},
        SvolRow{"the dead job's, handed to the host", 256, 0, {1, 2}, false, 600, false, false,
                true},
        SvolRow{"the dead job's, made, its label not written yet", -1, 0, {}, false, 600, false,
                true, false, true, true},
        SvolRow{"unlabelled, its add not known accepted (an administrator's)", -1, 0, {}, false,
                600, false, false, false, true, false},
        SvolRow{"unlabelled and made, yet presented where the record names nothing", -1, 0, {3},
                false, 600, false, false, false, true, true}));

// A reused group: 256's pair at MU 3 was there before the dead job, which
// added MU 4 (PAIR); the record has MU 4 or (killed before the read-back)
// none. What becomes of the pair and of the record's entry:
enum class Outcome {
  kRemoved,  // the pair deleted, the entry with it
  kLogged,   // the pair left and logged, the entry kept
  kHosts,    // the pair left as the host's, the entry dropped
};
struct GroupRow {
  const char* what;
  const char* recordedMu;
  const char* hostMu;  // the running job's device names the group at it ("": none,
                       // "-": without an MU)
  bool liveRecord;     // a live job's record names 256 there without an MU
  bool secondNewPair;  // a further PAIR pair of 256 (MU 5)
  Outcome outcome;
  bool handedOver = false;  // the dead job handed the entry to the host as it ended
};

class GroupProof : public Recovery, public ::testing::WithParamInterface<GroupRow> {};

TEST_P(GroupProof, OnlyTheDeadJobsNewPairGoes) {
  const GroupRow& row = GetParam();
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5, "PSUS");
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5, "PAIR");
  if (row.secondNewPair) bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5, "PAIR");
  ZRHDSIntentRecord r = deadGroup({"256"});
  r.reused = true;
  r.existingKeys = {"256-3"};
  r.entries[0].mu = row.recordedMu;
  r.entries[0].stored = row.handedOver;
  plant(r);
  if (row.liveRecord) {
    r.job = ZRHDSProcessIdentity::own();
    r.path.clear();
    plant(r);
  }
  if (*row.hostMu != '\0') {
    bed.snaps[0].snapshotGroup = kDeadGroup;
    bed.snaps[0].snapMu = std::string(row.hostMu) == "-" ? "" : row.hostMu;
  }
  nextJob();
  const bool removed = row.outcome == Outcome::kRemoved;
  EXPECT_TRUE(hasPair(kDeadGroup, 256, 3)) << row.what;
  EXPECT_EQ(!removed, hasPair(kDeadGroup, 256, 4)) << row.what;
  EXPECT_EQ(removed ? 1u : 0u, bed.count("delete snapshot")) << row.what;
  size_t deadEntries = 0;
  for (const ZRHDSIntentRecord& left : records()) {
    if (store.isDead(left)) deadEntries += left.entries.size();
  }
  EXPECT_EQ(row.outcome == Outcome::kLogged ? 1u : 0u, deadEntries) << row.what;
  EXPECT_EQ(row.outcome == Outcome::kLogged,
            bed.logs().find("raidcom delete snapshot -ldev_id 256 -mirror_id 4") !=
                std::string::npos)
      << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GroupProof,
    ::testing::Values(
        GroupRow{"killed before the MU read-back", "", "", false, false, Outcome::kRemoved},
        GroupRow{"... a live record names 256 there", "", "", true, false, Outcome::kLogged},
        GroupRow{"... two new pairs of 256", "", "", false, true, Outcome::kLogged},
        GroupRow{"... the job naming the group, no MU", "", "-", false, false, Outcome::kLogged},
        GroupRow{"killed after it, the job naming MU 3", "4", "3", false, false,
                 Outcome::kRemoved},
        GroupRow{"killed after it, the job naming MU 4", "4", "4", false, false,
                 Outcome::kHosts},
        GroupRow{"... the job naming the group, no MU", "4", "-", false, false,
                 Outcome::kLogged},
        GroupRow{"... handed to the host as the job ended", "4", "", false, false,
                 Outcome::kLogged, true}));

// ---- what recovery costs ---------------------------------------------------

// A lock held elsewhere while a dead job's group record (256's pair) and
// S-VOL record (LDEV 600) wait: each lock is tried once and never waited
// for, and what it guards waits for a later job, which takes it.
struct LockRow {
  const char* what;
  const char* mutex;    // a named mutex held by another job of this machine
  bool foreignArray;    // the array's resource group locked by another host
  bool groupWaits, svolsWait;
};

class HeldLock : public Recovery, public ::testing::WithParamInterface<LockRow> {};

TEST_P(HeldLock, TriedOnceAndWhatItGuardsWaits) {
  const LockRow& row = GetParam();
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5, "PAIR");
  plant(deadGroup({"256"}));
  defineLdev(600, "QB_SVOL_dev256");
  ZRHDSIntentRecord r = dead(ZRHDSIntentRecord::Kind::kSvols);
  r.entries = {svol("600", "QB_SVOL_dev256")};
  plant(r);
  if (row.foreignArray) bed.sim.setForeignLock(kSerial, "meta_resource", "other", "otherhost");
  {
    ZrNamedMutex held(*row.mutex != '\0' ? row.mutex : "ZR_TEST_UNUSED");
    ASSERT_NE(0, held.lock(0));
    nextJob();
    EXPECT_EQ(0, clock.totalSleptMillis()) << row.what;
    EXPECT_EQ(row.groupWaits, hasPair(kDeadGroup, 256, 3)) << row.what;
    EXPECT_EQ(row.svolsWait, ldev(600).defined) << row.what;
    EXPECT_EQ((row.groupWaits ? 1u : 0u) + (row.svolsWait ? 1u : 0u), records().size())
        << row.what;
    if (row.svolsWait) {
      EXPECT_EQ(row.foreignArray ? 1u : 0u, bed.count("get resource")) << "one status listing";
      EXPECT_EQ(0u, bed.count("lock resource")) << row.what;
    }
    h.reset();
  }
  if (row.foreignArray) bed.sim.setForeignLock(kSerial, "meta_resource", "-", "-", 0, "Unlocked");
  nextJob();  // free again
  EXPECT_FALSE(hasPair(kDeadGroup, 256, 3)) << row.what;
  EXPECT_FALSE(ldev(600).defined) << row.what;
  EXPECT_TRUE(records().empty()) << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HeldLock,
    ::testing::Values(LockRow{"the snapshot group's lock", kDeadGroup, false, true, false},
                      LockRow{"the S-VOL selection lock", ZR_HDS_LOCK_SVOL_SELECTION, false,
                              false, true},
                      LockRow{"the resource-group mutex", ZR_HDS_LOCK_RESOURCE_GROUP, false,
                              false, true},
                      // (the array refuses the pair's deletion in a group locked by
                      // another host)
                      LockRow{"another host's array lock", "", true, true, true}));

// One job's recovery sends at most the budget (64 commands, the array lock
// and its release included) whatever the records hold; what is left waits
// for the next jobs, which take it all. An S-VOL record is read with one
// listing of its ids.
struct BudgetRow {
  const char* what;
  bool svols;     // an S-VOL record (else a group record of new pairs)
  bool presented; // S-VOLs: associated and presented in two host groups
};

class Budget : public Recovery, public ::testing::WithParamInterface<BudgetRow> {};

TEST_P(Budget, OneJobSpendsABoundedNumberOfCommands) {
  const BudgetRow& row = GetParam();
  constexpr int kEntries = 40;
  std::vector<int> sources;
  for (int i = 0; i < kEntries; ++i) sources.push_back(300 + i);
  bed.addSources(sources);
  nextJob();
  const size_t plain = bed.lines().size();
  h.reset();
  ZRHDSIntentRecord r = row.svols ? dead(ZRHDSIntentRecord::Kind::kSvols) : deadGroup({});
  for (int i = 0; i < kEntries; ++i) {
    const int pvol = 300 + i;
    if (!row.svols) {
      bed.sim.addSnapshotPair(kSerial, kDeadGroup, pvol, 5, "PAIR");
      r.entries.push_back(ZRHDSIntentEntry());
      r.entries.back().pvol = std::to_string(pvol);
      continue;
    }
    const int id = 600 + i;
    defineLdev(id, "QB_SVOL_dev256");
    r.entries.push_back(svol(std::to_string(id), "QB_SVOL_dev256"));
    r.entries.back().pvol = std::to_string(pvol);
    if (!row.presented) continue;
    bed.sim.addSnapshotPair(kSerial, kDeadGroup, pvol, 5, "PSUS", false, id);
    bed.sim.addLun(kSerial, "CL1-A", 1, 10 + i, id);
    bed.sim.addLun(kSerial, "CL1-A", 2, 10 + i, id);
  }
  plant(r);
  nextJob();
  EXPECT_LE(bed.lines().size() - plain, 64u) << row.what << ": the recovery's budget";
  const size_t first =
      row.svols ? bed.count("delete ldev") : bed.count("delete snapshot -ldev_id");
  EXPECT_GT(first, 0u) << row.what;
  EXPECT_LT(first, static_cast<size_t>(kEntries)) << row.what << ": the rest waits";
  if (row.svols) {
    EXPECT_EQ(1u, bed.count("get ldev -ldev_id 600 -cnt 40")) << row.what;
  }
  for (int job = 0; job < kEntries && !records().empty(); ++job) nextJob();
  EXPECT_TRUE(records().empty()) << row.what;
  for (int i = 0; i < kEntries; ++i) {
    const bool there = row.svols ? ldev(600 + i).defined : hasPair(kDeadGroup, 300 + i, 3);
    EXPECT_FALSE(there) << row.what << " " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, Budget,
                         ::testing::Values(BudgetRow{"new pairs of a group", false, false},
                                           BudgetRow{"S-VOLs made and labelled", true, false},
                                           BudgetRow{"S-VOLs associated and presented twice",
                                                     true, true}));

TEST_F(Recovery, TheSnapRunsNoRecovery) {
  nextJob();  // the prepare made the login key the snap reads
  h.reset();
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5, "PAIR");
  plant(deadGroup({"256"}));
  nextJob(8);
  EXPECT_EQ(0u, bed.count("get snapshot -snapshotgroup"));
  EXPECT_TRUE(hasPair(kDeadGroup, 256, 3));
  EXPECT_EQ(1u, records().size());
}

// ---- the job's own records ----------------------------------------------

class JobIntents : public Recovery {
 protected:
  JobIntents() { bed.os.setHostNumber(0x1F); }
  // A map that creates its S-VOLs in CU 2 for the snapshots at MU 3.
  void creatingSvols() {
    bed.options.noVvolCreate = false;
    bed.options.preSnapPort = "CL1-A";
    bed.options.cuRange = "2";
    for (ZRHDSSnapInfo& snap : bed.snaps) {
      snap.capacity = kBlocks;
      snap.snapMu = "3";
      snap.svolLabel = "QB_SVOL_s" + snap.baseDevNo;
    }
  }
};

TEST_F(JobIntents, ThePairsAreOnRecordBeforeTheFirstAddAndWhatIsLeftStays) {
  nextJob();
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "add snapshot -ldev_id 257", 1,
                                       "raidcom: [EX_CMDRJE] refused\n"));
  EXPECT_FALSE(h->createTargetlessSnap());
  std::vector<ZRHDSIntentRecord> open = records();
  ASSERT_EQ(1u, open.size());
  EXPECT_EQ(bed.options.snapshotGroup, open[0].group);
  EXPECT_EQ(3u, open[0].entries.size());
  EXPECT_FALSE(store.isDead(open[0])) << "the running job's";
  bed.sim.clearJournal();
  h.reset();  // the job ends without its clean-up: 256's pair is there
  EXPECT_EQ(1u, bed.count("get snapshot -snapshotgroup"));
  open = records();
  ASSERT_EQ(1u, open.size());
  ASSERT_EQ(1u, open[0].entries.size());
  EXPECT_EQ("256", open[0].entries[0].pvol);
}

TEST_F(JobIntents, StoredPairsLeaveNoRecordAndCostNoCommand) {
  nextJob();
  ASSERT_TRUE(h->createTargetlessSnap()) << Bed::error(*h).second;
  for (size_t i = 0; i < bed.snaps.size(); ++i) h->intentStored(i);
  bed.sim.clearJournal();
  h.reset();
  EXPECT_TRUE(records().empty());
  EXPECT_EQ(0u, bed.count("get snapshot") + bed.count("get ldev"));
}

// Counts the job's records on file when the job's logout is sent.
class RecordsAtLogout : public ZRHDSCommandRunner {
 public:
  explicit RecordsAtLogout(const ZRHDSIntentStore& s) : store(s) {}
  int run(ZRSO::SnapInfo* log, const std::string& line, std::string& output, int& exitCode,
          std::string& error, int timeoutSecs) override {
    if (line.find(" -logout") != std::string::npos) {
      std::vector<ZRHDSIntentRecord> open;
      store.list(kSerial, open, nullptr, nullptr);
      atLogout = static_cast<int>(open.size());
    }
    return ZRHDSCommandHelperRunner::instance().run(log, line, output, exitCode, error,
                                                    timeoutSecs);
  }
  const ZRHDSIntentStore& store;
  int atLogout = -1;
};

TEST_F(JobIntents, StoredRecordsOutliveTheJobsLastCommand) {
  // The host keeps what a call stored only once the call returns: a job
  // killed during its logout must still leave the record of its pairs.
  RecordsAtLogout runner(store);
  const std::string tempDir = bed.tmp.path() + "/tmp";
  h.reset(new ZRHDSCommandHandler(
      bed.params, [&](ZRSO::SnapInfo*& logger, ZRHDSCommandHandlerInputParams& p) {
        std::unique_ptr<ZRHDSRaidcomImplementer> impl(
            new ZRHDSRaidcomImplementer(logger, p, runner, false));
        ZRHDSRaidcomTestPeer::setReady(*impl, tempDir);
        ZRHDSRaidcomTestPeer::setCommandTimeout(*impl, 30);
        return std::unique_ptr<ZRHDSCommandImplementer>(std::move(impl));
      }));
  ASSERT_TRUE(h->IsHandlerInitialized()) << Bed::error(*h).second;
  ASSERT_TRUE(h->createTargetlessSnap()) << Bed::error(*h).second;
  for (size_t i = 0; i < bed.snaps.size(); ++i) h->intentStored(i);
  h.reset();
  EXPECT_EQ(1, runner.atLogout);
  EXPECT_TRUE(records().empty()) << "dropped once the job has ended";
}

// The job's end with the flush failing at each of its writes (-1: none), for
// a prepare's group record and a map's S-VOL record, all or two of the three
// devices stored: what the host stores is never left unmarked in a record
// that recovery acts on, and leaves the record only after a flush saw it
// marked; a record that could not be updated is set aside.
using EndRow = std::tuple<bool, bool, int>;  // S-VOLs, all stored, failing flush

class JobEndFlush : public JobIntents, public ::testing::WithParamInterface<EndRow> {
 protected:
  // Runs the step that opens the record; true when it made what it records.
  bool openRecord(bool svols) {
    if (!svols) {
      nextJob();
      return h->createTargetlessSnap();
    }
    creatingSvols();
    nextJob(15);
    return h->allocateTargetDevices({});
  }
};
// The flushes of a job's end stay below this: every one is some row's.
constexpr int kEndFlushes = 5;

TEST_P(JobEndFlush, ARecordNeverKeepsAnEntryTheHostStores) {
  const bool svols = std::get<0>(GetParam());
  const bool allStored = std::get<1>(GetParam());
  const int failing = std::get<2>(GetParam());
  ASSERT_TRUE(openRecord(svols)) << Bed::error(*h).second;
  const size_t storedCount = allStored ? bed.snaps.size() : 2;
  for (size_t i = 0; i < storedCount; ++i) h->intentStored(i);
  const std::vector<ZRHDSIntentRecord> open = records();
  ASSERT_EQ(1u, open.size());
  ZrFileSyncRecorder flushes(open[0].path);
  flushes.failCall(failing);
  {
    ZrScopedFileSync scope(&flushes);
    h.reset();
  }
  const std::vector<ZrFileSyncRecorder::Call> calls = flushes.calls();
  if (failing < 0) {
    EXPECT_LT(calls.size(), static_cast<size_t>(kEndFlushes)) << "a write no row fails";
    // The last flush that saw the record saw every stored entry marked.
    std::string lastSeen;
    for (const ZrFileSyncRecorder::Call& c : calls) {
      if (!c.watchedContent.empty()) lastSeen = c.watchedContent;
    }
    size_t marked = 0;
    for (size_t at = lastSeen.find(" *stored\n"); at != std::string::npos;
         at = lastSeen.find(" *stored\n", at + 1)) {
      ++marked;
    }
    EXPECT_EQ(storedCount, marked) << lastSeen;
  }
  const bool failed = failing >= 0 && static_cast<size_t>(failing) < calls.size() &&
                      calls[static_cast<size_t>(failing)].target.find("/intent") !=
                          std::string::npos;
  std::vector<ZRHDSIntentRecord> left;
  std::vector<std::string> aside;
  ASSERT_TRUE(store.list(kSerial, left, nullptr, nullptr, &aside));
  for (const ZRHDSIntentRecord& r : left) {
    for (const ZRHDSIntentEntry& e : r.entries) {
      EXPECT_EQ("258", e.pvol) << failing;
      EXPECT_FALSE(e.stored) << failing;
    }
  }
  EXPECT_EQ(!allStored && !failed ? 1u : 0u, left.size()) << failing;
  EXPECT_EQ(failed ? 1u : 0u, aside.size()) << failing;
}

INSTANTIATE_TEST_SUITE_P(Rows, JobEndFlush,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool(),
                                            ::testing::Range(-1, kEndFlushes)));

// The S-VOLs' creation with the flush failing at each of its writes (-1:
// none; the record's opening, each made mark, the rewrite that takes the
// marks back once the labels are on), the label refused for one of them or
// not, with three S-VOLs or one: afterwards a record that recovery acts on
// marks made only the job's LDEVs that are there (a mark whose flush failed
// may be in the file: it is taken back like the others, and an LDEV whose
// mark cannot be taken back is not deleted).
using MarkRow = std::tuple<bool, bool, int>;  // a label refused, one S-VOL, failing flush

class MadeMarks : public JobIntents, public ::testing::WithParamInterface<MarkRow> {};

TEST_P(MadeMarks, NoMarkOutlivesTheLabelOrTheUndo) {
  const bool labelRefused = std::get<0>(GetParam());
  const int failing = std::get<2>(GetParam());
  if (std::get<1>(GetParam())) bed.snaps.resize(1);
  creatingSvols();
  nextJob(15);
  if (labelRefused) {
    bed.sim.addFault(ccisim::Fault::fail("raidcom", "modify ldev -ldev_id 512", 1,
                                         "raidcom: [EX_CMDRJE] refused\n"));
  }
  ZrFileSyncRecorder flushes("");
  flushes.failCall(failing);
  bool made = false;
  {
    ZrScopedFileSync scope(&flushes);
    made = h->allocateTargetDevices({});
  }
  if (labelRefused || failing < 0) {
    EXPECT_EQ(!labelRefused, made) << failing << " " << Bed::error(*h).second;
  }
  // A mark may stay only beside the job's LDEV itself, labelled or not yet
  // (a mark on an id whose LDEV is gone could pass someone's later LDEV
  // there for the job's).
  for (const ZRHDSIntentRecord& r : records()) {
    for (const ZRHDSIntentEntry& e : r.entries) {
      if (!e.made) continue;
      const ccisim::Ldev l = ldev(std::stoi(e.ldev));
      EXPECT_TRUE(l.defined && (l.label == e.label || l.label.empty())) << failing << " " << e.ldev;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, MadeMarks,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool(),
                                            ::testing::Range(-1, 9)));

// A group that a record of another job names (one no recovery has taken
// yet) is neither reused nor made anew: the dead job's pairs there stay
// told from the group's others.
TEST_F(JobIntents, AGroupAnotherRecordNamesIsNotChosen) {
  const std::string group = "QB_7_5_1F_AB";
  for (bool named : {false, true}) {
    bed.sim.addSnapshotPair(kSerial, group, 256, 5, "PSUS");
    nextJob();
    if (named) {  // planted after this job's recovery
      ZRHDSIntentRecord r = deadGroup({"256"});
      r.group = group;
      r.reused = true;
      r.existingKeys = {"256-3"};
      plant(r);
    }
    ASSERT_TRUE(h->createTargetlessSnap()) << Bed::error(*h).second;
    EXPECT_EQ(named, bed.options.snapshotGroup != group) << named;
    size_t inGroup = 0;
    const ccisim::State state = bed.sim.load();
    for (const ccisim::SnapPair& p : state.arrays.at(kSerial).pairs) {
      inGroup += p.group == group ? 1 : 0;
    }
    EXPECT_EQ(named ? 1u : 4u, inGroup) << named;
    h.reset();
    bed.sim.update([](ccisim::State& st) { st.arrays.at(kSerial).pairs.clear(); });
    for (const ZRHDSIntentRecord& r : records()) store.remove(r, nullptr);
    bed.options.snapshotGroup = "QB_7";
  }
}

TEST_F(JobIntents, NoRecordNoPair) {
  nextJob();
  ASSERT_EQ(0, ::mkdir(store.directory().c_str(), 0700));
  ASSERT_EQ(0, ::chmod(store.directory().c_str(), 0777));
  EXPECT_FALSE(h->createTargetlessSnap());
  EXPECT_EQ(62008, Bed::error(*h).first);
  EXPECT_EQ(0u, bed.count("add snapshot"));
  ::chmod(store.directory().c_str(), 0700);
}

TEST_F(JobIntents, NewSvolsAreRecordedPassOverRecordedIdsAndAreLabelledOnce) {
  creatingSvols();
  // A live job's record holds 512 (it is about to create it).
  ZRHDSIntentRecord other = dead(ZRHDSIntentRecord::Kind::kSvols);
  other.job = ZRHDSProcessIdentity::own();
  other.entries = {svol("512", "QB_SVOL_x")};
  const std::string otherPath = plant(other);
  nextJob(15);
  ASSERT_TRUE(h->allocateTargetDevices({})) << Bed::error(*h).second;
  std::vector<std::string> chosen;
  for (const ZRHDSSnapInfo& s : bed.snaps) chosen.push_back(s.snapLdevId);
  EXPECT_EQ((std::vector<std::string>{"513", "514", "515"}), chosen);
  EXPECT_EQ(3u, bed.count("modify ldev")) << "one label per new S-VOL";
  std::vector<ZRHDSIntentRecord> open = records();
  ASSERT_EQ(2u, open.size());
  const ZRHDSIntentRecord& mine = open[0].path == otherPath ? open[1] : open[0];
  ASSERT_EQ(3u, mine.entries.size());
  EXPECT_EQ("513", mine.entries[0].ldev);
  EXPECT_EQ("QB_SVOL_s256", mine.entries[0].label);
  EXPECT_EQ(kBlocks, mine.entries[0].capacity);
  // Labelled, they need no mark of their adds any more.
  for (const ZRHDSIntentEntry& e : mine.entries) EXPECT_FALSE(e.made) << e.ldev;
  for (size_t i = 0; i < bed.snaps.size(); ++i) h->intentStored(i);
  h.reset();
  open = records();
  ASSERT_EQ(1u, open.size());
  EXPECT_EQ(otherPath, open[0].path);
}

}  // namespace
