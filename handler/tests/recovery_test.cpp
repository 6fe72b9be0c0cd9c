// Recovery of a dead job's intent records at the next job's login, against
// the simulator: each rule removes only what is provably the dead job's,
// and every decoy beside it (another job's group on the same P-VOLs,
// another host's pair, an administrator's LDEV at a recorded id, an S-VOL of
// another job) stays; what cannot be proven is logged with the
// administrator's commands and kept on record. Nothing to recover sends no
// command; a failing recovery never fails the job.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
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
 protected:
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
  ZRHDSIntentRecord live = deadGroup({"256"});
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

// Each row's LDEV is on a dead job's record as an S-VOL of 256 MU 3 for
// host groups 1 and 2 of CL1-A. The others get no changing command, only an
// administrator's commands in the log.
TEST_F(Recovery, OnlyTheDeadJobsSvolsGo) {
  // The record older than host groups, the LDEV another job's P-VOL, the
  // entry handed to the host as its job ended, the LDEV unlabelled, its add marked.
  enum { kOlder = 1, kPvolOfPair = 2, kHandedOver = 4, kUnlabelled = 8, kMade = 16 };
  struct Row {
    const char* what;
    int id;                  // 258: the job's own source
    std::vector<int> assoc;  // {P-VOL, MU} it is associated with
    std::vector<int> paths;  // the host groups of CL1-A presenting it (3: another host's)
    int flags;
    bool removed;
  } rows[] = {
      {"an older record's, no path", 600, {}, {}, kOlder, true},
      {"the dead job's, made, its label not written yet", 601, {}, {}, kUnlabelled | kMade, true},
      {"the dead job's, handed to the host", 602, {256, 3}, {1, 2}, kHandedOver, false},
      {"another host's at another MU, presented", 603, {256, 4}, {1, 2}, 0, false},
      {"another host's, of another P-VOL", 604, {257, 3}, {}, 0, false},
      {"another host's, in its own host group", 605, {}, {3}, 0, false},
      {"an older record's, presented", 606, {}, {2}, kOlder, false},
      {"the job's own source, labelled as recorded, presented", 258, {}, {1}, 0, false},
      {"another job's P-VOL", 607, {}, {}, kPvolOfPair, false},
      {"made, unlabelled, in a host group not on record", 608, {}, {3}, kUnlabelled | kMade, false},
  };
  bed.sim.addHostGroup(kSerial, "CL1-A", 3, "h2_hg");
  bed.sim.setArray(kSerial, [](ccisim::Array& a) { a.ldevRef(258).label = "QB_SVOL_dev256"; });
  ZRHDSIntentRecord r = dead(ZRHDSIntentRecord::Kind::kSvols);
  int lun = 5;
  for (const Row& row : rows) {
    if (row.id != 258) defineLdev(row.id, row.flags & kUnlabelled ? "" : "QB_SVOL_dev256");
    if (!row.assoc.empty()) {
      ASSERT_EQ(row.assoc[1], bed.sim.addSnapshotPair(kSerial, kDeadGroup, row.assoc[0], 5, "PSUS",
                                                      false, row.id));
    }
    if (row.flags & kPvolOfPair) bed.sim.addSnapshotPair(kSerial, kOtherJobGroup, row.id, 5);
    for (int gid : row.paths) bed.sim.addLun(kSerial, "CL1-A", gid, lun++, row.id);
    r.entries.push_back(svol(std::to_string(row.id), "QB_SVOL_dev256"));
    ZRHDSIntentEntry& e = r.entries.back();
    e.made = (row.flags & kMade) != 0;
    e.stored = (row.flags & kHandedOver) != 0;
    e.hostGroupsRecorded = (row.flags & kOlder) == 0;
    if (!e.hostGroupsRecorded) e.hostGroups.clear();
  }
  plant(r);
  nextJob();
  const std::string logs = bed.logs();
  size_t kept = 0;
  for (const Row& row : rows) {
    const std::string del = "delete ldev -ldev_id " + std::to_string(row.id);
    kept += row.removed ? 0 : 1;
    EXPECT_EQ(!row.removed, ldev(row.id).defined) << row.what;
    EXPECT_EQ(row.removed ? 1u : 0u, bed.count(del)) << row.what;
    EXPECT_EQ(!row.removed, logs.find(del + " -IM3532") != std::string::npos) << row.what;
  }
  EXPECT_EQ(0u, bed.count("unmap snapshot") + bed.count("delete lun") + bed.count("modify ldev"));
  ASSERT_EQ(1u, records().size());
  EXPECT_EQ(kept, records()[0].entries.size());
}

// A reused group: row i's P-VOL, 256 + i, had its pair at MU 3 before the
// dead job, which added MU 4 (PAIR) and recorded MU 4 or (killed before the
// read-back) none. The pair goes with its entry, is left as the host's (the
// entry dropped) or is left and logged (the entry kept).
TEST_F(Recovery, InAReusedGroupOnlyProvenNewPairsGo) {
  enum Outcome { kRemoved, kHosts, kLogged };
  struct Row {
    const char* what;
    const char* recordedMu;
    const char* hostMu;  // the running job's device names the group at it ("-": with no MU)
    bool handedOver;
    Outcome outcome;
  } rows[] = {
      {"no MU, a live record names the P-VOL there", "", "", false, kLogged},
      {"no MU, two new pairs (a PAIR at MU 5 too)", "", "", false, kLogged},
      {"MU 4, the job naming MU 3", "4", "3", false, kRemoved},
      {"MU 4, the job naming MU 4", "4", "4", false, kHosts},
      {"MU 4, the job naming the group, no MU", "4", "-", false, kLogged},
      {"MU 4, handed to the host", "4", "", true, kLogged},
  };
  bed.addSources({259, 260, 261});
  ZRHDSIntentRecord r = deadGroup({"256", "257", "258", "259", "260", "261"}), live = r;
  r.reused = true;
  for (size_t i = 0; i < r.entries.size(); ++i) {
    bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256 + static_cast<int>(i), 5, "PSUS");
    bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256 + static_cast<int>(i), 5, "PAIR");
    r.existingKeys.push_back(r.entries[i].pvol + "-3");
    r.entries[i].mu = rows[i].recordedMu;
    r.entries[i].stored = rows[i].handedOver;
    if (*rows[i].hostMu == '\0') continue;
    bed.snaps[i].snapshotGroup = kDeadGroup;
    bed.snaps[i].snapMu = std::string(rows[i].hostMu) == "-" ? "" : rows[i].hostMu;
  }
  bed.sim.addSnapshotPair(kSerial, kDeadGroup, 257, 5, "PAIR");
  plant(r);
  live.job = ZRHDSProcessIdentity::own();
  live.entries.resize(1);
  plant(live);
  nextJob();
  const std::string logs = bed.logs();
  size_t logged = 0;
  for (int pvol = 256; pvol <= 261; ++pvol) {
    const Row& row = rows[pvol - 256];
    const std::string del = "delete snapshot -ldev_id " + std::to_string(pvol) + " -mirror_id 4";
    logged += row.outcome == kLogged ? 1 : 0;
    EXPECT_TRUE(hasPair(kDeadGroup, pvol, 3)) << row.what;
    EXPECT_EQ(row.outcome != kRemoved, hasPair(kDeadGroup, pvol, 4)) << row.what;
    EXPECT_EQ(row.outcome == kLogged, logs.find(del) != std::string::npos) << row.what;
  }
  EXPECT_EQ(1u, bed.count("delete snapshot"));
  for (const ZRHDSIntentRecord& left : records())
    logged -= store.isDead(left) ? left.entries.size() : 0;
  EXPECT_EQ(0u, logged) << "the logged pairs' entries kept, no other";
}

// A dead job's group record (256's pair) and S-VOL record (LDEV 600) wait
// for a later job while a lock is held elsewhere (each tried once, never
// waited for) and in the snap (the application's quiesce window).
TEST_F(Recovery, WhatALockGuardsOrTheSnapWaitsForALaterJob) {
  struct Row {
    const char* mutex;  // a named mutex another job of this machine holds ("": none)
    bool foreignArray;  // another host holds the array's resource group (the pair's too)
    int operation;
    bool groupWaits, svolsWait;
  } rows[] = {{kDeadGroup, false, 1, true, false},
              {ZR_HDS_LOCK_SVOL_SELECTION, false, 1, false, true},
              {ZR_HDS_LOCK_RESOURCE_GROUP, false, 1, false, true},
              {"", true, 1, true, true},
              {"", false, 8, true, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.mutex) + " " + std::to_string(row.operation));
    bed.sim.addSnapshotPair(kSerial, kDeadGroup, 256, 5, "PAIR");
    plant(deadGroup({"256"}));
    defineLdev(600, "QB_SVOL_dev256");
    ZRHDSIntentRecord r = dead(ZRHDSIntentRecord::Kind::kSvols);
    r.entries = {svol("600", "QB_SVOL_dev256")};
    plant(r);
    if (row.foreignArray) bed.sim.setForeignLock(kSerial, "meta_resource", "other", "otherhost");
    const int64_t slept = clock.totalSleptMillis();
    {
      ZrNamedMutex held(*row.mutex != '\0' ? row.mutex : "ZR_TEST_UNUSED");
      ASSERT_NE(0, held.lock(0));
      nextJob(row.operation);  // the snap reads the login key of the previous row's prepare
      EXPECT_EQ(slept, clock.totalSleptMillis());
      EXPECT_EQ(row.groupWaits, hasPair(kDeadGroup, 256, 3));
      EXPECT_EQ(row.svolsWait, ldev(600).defined);
      EXPECT_EQ((row.groupWaits ? 1u : 0u) + (row.svolsWait ? 1u : 0u), records().size());
      // A group whose lock is held, or that the snap leaves, is not even listed.
      EXPECT_EQ(row.groupWaits && !row.foreignArray ? 0u : 1u,
                bed.count("get snapshot -snapshotgroup"));
      if (row.svolsWait) {
        EXPECT_EQ(row.foreignArray ? 1u : 0u, bed.count("get resource")) << "one status listing";
      }
      h.reset();
    }
    if (row.foreignArray) bed.sim.setForeignLock(kSerial, "meta_resource", "-", "-", 0, "Unlocked");
    nextJob();  // free again
    EXPECT_FALSE(hasPair(kDeadGroup, 256, 3));
    EXPECT_FALSE(ldev(600).defined);
    EXPECT_TRUE(records().empty());
  }
}

// One job's recovery sends at most 64 commands (the array lock included) and
// lists an S-VOL record's LDEVs once; later jobs take the rest. For a group
// record of new pairs and one of S-VOLs associated and presented twice.
TEST_F(Recovery, OneJobSpendsABoundedNumberOfCommands) {
  constexpr int kEntries = 40;
  std::vector<int> sources;
  for (int i = 0; i < kEntries; ++i) sources.push_back(300 + i);
  bed.addSources(sources);
  for (bool svols : {false, true}) {
    SCOPED_TRACE(svols);
    nextJob();
    const size_t plain = bed.lines().size();
    ZRHDSIntentRecord r = dead(ZRHDSIntentRecord::Kind::kSvols);
    std::vector<std::string> pvols;
    for (int i = 0; i < kEntries; ++i) {
      const int pvol = 300 + i, id = 600 + i;
      pvols.push_back(std::to_string(pvol));
      bed.sim.addSnapshotPair(kSerial, kDeadGroup, pvol, 5, svols ? "PSUS" : "PAIR", false,
                              svols ? id : -1);
      if (!svols) continue;
      defineLdev(id, "QB_SVOL_dev256");
      r.entries.push_back(svol(std::to_string(id), "QB_SVOL_dev256"));
      r.entries.back().pvol = pvols.back();
      for (int gid : {1, 2}) bed.sim.addLun(kSerial, "CL1-A", gid, 10 + i, id);
    }
    plant(svols ? r : deadGroup(pvols));
    nextJob();
    EXPECT_LE(bed.lines().size() - plain, 64u) << "the recovery's budget";
    const size_t first = bed.count(svols ? "delete ldev" : "delete snapshot -ldev_id");
    EXPECT_GT(first, 0u);
    EXPECT_LT(first, static_cast<size_t>(kEntries)) << "the rest waits";
    EXPECT_EQ(svols ? 1u : 0u, bed.count("get ldev -ldev_id 600 -cnt 40"));
    for (int job = 0; job < kEntries && !records().empty(); ++job) nextJob();
    EXPECT_TRUE(records().empty());
    for (int i = 0; i < kEntries; ++i) {
      EXPECT_FALSE(svols ? ldev(600 + i).defined : hasPair(kDeadGroup, 300 + i, 3)) << i;
    }
  }
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

// The job's end with the flush failing at each write (-1: none), for a group
// and an S-VOL record, all or two of three devices stored: the record left
// names only the unstored device; one not brought up to date is set aside.
class JobEndFlush : public JobIntents,
                    public ::testing::WithParamInterface<std::tuple<bool, bool, int>> {};
constexpr int kEndFlushes = 5;  // more than a job's end writes: every write is some row's

TEST_P(JobEndFlush, ARecordNeverKeepsAnEntryTheHostStores) {
  const auto [svols, allStored, failing] = GetParam();
  SCOPED_TRACE(failing);
  if (svols) creatingSvols();
  nextJob(svols ? 15 : 1);
  ASSERT_TRUE(svols ? h->allocateTargetDevices({}) : h->createTargetlessSnap())
      << Bed::error(*h).second;
  for (size_t i = 0; i < (allStored ? 3u : 2u); ++i) h->intentStored(i);
  ZrFileSyncRecorder flushes("");
  flushes.failCall(failing);
  {
    ZrScopedFileSync scope(&flushes);
    h.reset();
  }
  const std::vector<ZrFileSyncRecorder::Call> calls = flushes.calls();
  const size_t at = static_cast<size_t>(failing);
  EXPECT_TRUE(failing >= 0 || calls.size() < size_t{kEndFlushes});
  const bool failed =
      failing >= 0 && at < calls.size() && calls[at].target.find("/intent") != std::string::npos;
  std::vector<ZRHDSIntentRecord> left;
  std::vector<std::string> aside;
  ASSERT_TRUE(store.list(kSerial, left, nullptr, nullptr, &aside));
  for (const ZRHDSIntentRecord& r : left) {
    for (const ZRHDSIntentEntry& e : r.entries)
      EXPECT_EQ("258", e.pvol + (e.stored ? " stored" : ""));
  }
  EXPECT_EQ(!allStored && !failed ? 1u : 0u, left.size());
  EXPECT_EQ(failed ? 1u : 0u, aside.size());
}

INSTANTIATE_TEST_SUITE_P(Rows, JobEndFlush,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool(),
                                            ::testing::Range(-1, kEndFlushes)));

// The S-VOLs' creation (three or one) with the flush failing at each write
// (-1: none), a label refused or not: a made mark stays only beside the job's
// LDEV itself, labelled or not yet, never on an id whose LDEV is gone.
class MadeMarks : public JobIntents,
                  public ::testing::WithParamInterface<std::tuple<bool, bool, int>> {};

TEST_P(MadeMarks, NoMarkOutlivesTheLabelOrTheUndo) {
  const auto [labelRefused, one, failing] = GetParam();
  if (one) bed.snaps.resize(1);
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
  // Whether it succeeds is known when the label is refused or no flush fails.
  EXPECT_TRUE((!labelRefused && failing >= 0) || made != labelRefused) << Bed::error(*h).second;
  for (const ZRHDSIntentRecord& r : records()) {
    for (const ZRHDSIntentEntry& e : r.entries) {
      const ccisim::Ldev l = ldev(std::stoi(e.ldev));
      EXPECT_TRUE(!e.made || (l.defined && (l.label == e.label || l.label.empty()))) << e.ldev;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, MadeMarks,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool(),
                                            ::testing::Range(-1, 9)));

// A group another job's record names is neither reused nor made anew: the
// dead job's pairs there stay told from the group's others.
TEST_F(JobIntents, AGroupAnotherRecordNamesIsNotChosen) {
  const std::string group = "QB_7_5_1F_AB";
  for (bool named : {false, true}) {
    SCOPED_TRACE(named);
    bed.sim.addSnapshotPair(kSerial, group, 256, 5, "PSUS");
    nextJob();
    ZRHDSIntentRecord r = deadGroup({"256"});
    r.group = group;
    if (named) plant(r);  // after this job's recovery
    ASSERT_TRUE(h->createTargetlessSnap()) << Bed::error(*h).second;
    EXPECT_EQ(named, bed.options.snapshotGroup != group);
    EXPECT_EQ(!named, hasPair(group, 257, 3));
    h.reset();
    bed.sim.update([](ccisim::State& st) { st.arrays.at(kSerial).pairs.clear(); });
    for (const ZRHDSIntentRecord& left : records()) store.remove(left, nullptr);
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
