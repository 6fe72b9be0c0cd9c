// The simulator answers as the real tools do: pairsyncwait's options, layout
// and exit codes, the array's refusals with their SSB pairs, objects that do
// not exist, snapshot selection, virtual LDEV ids, the command status of a
// login user, iSCSI host groups, and what the state and journal keep.
#include "sim/tests/ccisim_test_util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

using namespace ccisim;
using namespace ccisim_test;

namespace {

class Fidelity : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    CopyGroup g;
    g.name = "CG_UR01";
    g.ldevGroup = "DG_UR01";
    g.ctg = 3;
    g.qIssued = 0x01003408f0ULL;
    g.qCommitted = 0x01003408eeULL;
    g.commitAfterMs = 3000;  // the pending markers commit 3 s into a wait
    fx.addCopyGroup(kSerial, g);
  }
  Outcome psw(const std::string& line) { return tool("pairsyncwait", line + " -IH3532"); }
  void setGroup(const std::function<void(CopyGroup&)>& change) {
    fx.setArray(kSerial, [&](Array& a) { change(a.copyGroups["CG_UR01"]); });
  }
};

TEST_F(Fidelity, PairsyncwaitLayoutAndNowait) {
  Outcome o = psw("-g CG_UR01 -nowait");
  ASSERT_EQ(0, o.exitCode) << o.err;
  EXPECT_EQ(
      "UnitID   CTGID     Q-Marker     Status    Q-Num\n"
      "     0       3     01003408f0   NOWAIT        2\n",
      o.out);
  Outcome f = psw("-g CG_UR01 -nowait -fq");
  ASSERT_EQ(2u, lines(f.out).size());
  EXPECT_NE(std::string::npos, lines(f.out)[0].find("Q-Num   QM-Cnt"));
  EXPECT_EQ(6u, split(lines(f.out)[1]).size());
  EXPECT_EQ(' ', lines(f.out)[1][0]) << "rows begin with blanks";
}

TEST_F(Fidelity, PairsyncwaitWaitsInTenthsOfASecond) {
  // -t 10 is one second: too short; the marker waited for is printed.
  Outcome t = psw("-g CG_UR01 -m 01003408ef -t 10");
  EXPECT_EQ(1, t.exitCode);
  EXPECT_EQ((std::vector<std::string>{"0", "3", "01003408ef", "TIMEOUT", "2"}),
            split(lines(t.out)[1]));
  EXPECT_EQ(1000, fx.load().clockMs);
  // Another 3 s: committed (the wait so far counts).
  Outcome d = psw("-g CG_UR01 -m 01003408ef -t 30");
  EXPECT_EQ(0, d.exitCode) << d.err;
  EXPECT_EQ("DONE", split(lines(d.out)[1])[3]);
  EXPECT_EQ("01003408ef", split(lines(d.out)[1])[2]);
  EXPECT_EQ(3000, fx.load().clockMs) << "the wait ends with the commit";
  // Without -m: the current marker.
  Outcome c = psw("-g CG_UR01 -t 100");
  EXPECT_EQ("01003408f0", split(lines(c.out)[1])[2]);
  EXPECT_EQ(0, psw("-g CG_UR01 -m 01003408ee -t 1").exitCode) << "already committed";
}

TEST_F(Fidelity, PairsyncwaitOutcomesAndRefusals) {
  struct Row {
    std::string outcome;
    int exit;
  } rows[] = {{"BROKEN", 2}, {"CHANGED", 3}};
  for (const Row& r : rows) {
    setGroup([&](CopyGroup& g) { g.waitOutcome = r.outcome; });
    Outcome o = psw("-g CG_UR01 -m 01003408f0 -t 50");
    EXPECT_EQ(r.exit, o.exitCode) << r.outcome;
    EXPECT_EQ(r.outcome, split(lines(o.out)[1])[3]);
    EXPECT_EQ("01003408f0", split(lines(o.out)[1])[2]);
  }
  setGroup([](CopyGroup& g) { g.pvolStatus = "PSUS"; });
  Outcome v = psw("-g CG_UR01 -nowait");
  EXPECT_EQ(kExitBadStatus, v.exitCode);
  EXPECT_NE(std::string::npos, v.err.find("[EX_INVVOL]"));
  Outcome g = psw("-g NOPE -nowait");
  EXPECT_EQ(kExitNoGroup, g.exitCode);
  EXPECT_EQ("pairsyncwait: [EX_ENOGRP] No such group\n", g.err);
  // -q takes no value: a word after it is an extra word.
  EXPECT_EQ(kExitUnknownOption, psw("-g CG_UR01 -q 01003408ef -t 60").exitCode);
  EXPECT_EQ(kExitInvalidArg, psw("-g CG_UR01 -m xyz").exitCode);
  EXPECT_EQ(kExitInvalidArg, psw("-g CG_UR01 -t 1.5").exitCode);
}

// Every refusal prints the three lines of the real tool with its cause's
// SSB pair.
TEST_F(Fidelity, RefusalsCarryTheirSsbPair) {
  addTarget(600);
  fx.setLunHostIo(kSerial, "CL1-A", 1, 257, 1);
  struct Row {
    std::string line;
    const char* ssb;
  } rows[] = {
      {"delete ldev -ldev_id 300", "0x2E20,0x0000"},
      {"add lun -port CL1-A-1 -ldev_id 256", "0xB958,0x015A"},
      {"add lun -port CL1-A-1 -ldev_id 600 -lun_id 0", "0xB958,0x0947"},
      {"delete lun -port CL1-A-1 -ldev_id 257", "0xB958,0x0233"},
      {"add host_grp -port CL1-A -host_grp_name 1A-G00", "0xB956,0x3173"},
  };
  for (const Row& r : rows) {
    Outcome o = rc(r.line);
    EXPECT_EQ(kExitRejected, o.exitCode) << r.line;
    std::vector<std::string> l = lines(o.err);
    ASSERT_EQ(3u, l.size()) << r.line << ": " << o.err;
    EXPECT_EQ("raidcom: [EX_CMDRJE] An order to the control/command device was rejected", l[0]);
    EXPECT_EQ(std::string("It was rejected due to SKEY=0x05, ASC=0x26, ASCQ=0x00, SSB=") + r.ssb +
                  " on Serial#(412345).",
              l[1])
        << r.line;
    EXPECT_EQ(0u, l[2].find("CAUSE : ")) << r.line;
  }
  // The host-I/O window was one refusal wide.
  EXPECT_EQ(0, rc("delete lun -port CL1-A-1 -ldev_id 257").exitCode);
  EXPECT_NE(std::string::npos,
            refusalText("raidcom", kSerial, Refusal::kLastSnapshotPath).find("0xB958,0x020A"));
  EXPECT_NE(std::string::npos,
            refusalText("raidcom", kSerial, Refusal::kInputMissing).find("0x2E00,0x9701"));
}

TEST_F(Fidelity, LockWaitsOnTheSimulatorsClock) {
  fx.update([](State& s) {
    ResourceGroup& g = s.array(kSerial)->resourceGroups["meta_resource"];
    g.lockStatus = "Locked";
    g.lockOwner = "admin";
    g.lockHost = "otherhost";
    g.releaseAtMs = 20000;
  });
  Outcome o = rc("lock resource -resource_name meta_resource -time 10");
  EXPECT_EQ(kExitRejected, o.exitCode);
  EXPECT_NE(std::string::npos, o.err.find("SSB=0x2E11,0x2205"));
  EXPECT_EQ(10000, fx.load().clockMs) << "waited the whole -time";
  ASSERT_EQ(0, rc("lock resource -resource_name meta_resource -time 30").exitCode);
  EXPECT_EQ(20000, fx.load().clockMs) << "took the lock when it went";
  EXPECT_EQ("cciuser", array().resourceGroups.at("meta_resource").lockOwner);
}

TEST_F(Fidelity, MissingSnapshotGroupsAndEmptyListings) {
  EXPECT_EQ("", rc("get snapshot").out) << "no groups: no output at all";
  fx.addSnapshotPair(kSerial, "QB_1", 256, 5, "PAIR");
  for (const char* name : {"QB_2", "qb_1"}) {
    Outcome o = rc(std::string("get snapshot -snapshotgroup ") + name);
    EXPECT_EQ(kExitNoObject, o.exitCode) << name;
    EXPECT_EQ("raidcom: [EX_ENOOBJ] No such Object in the RAID\n", o.err) << name;
    EXPECT_EQ("", o.out) << name;
  }
  Outcome none = rc("get snapshot -ldev_id 258");
  EXPECT_EQ(0, none.exitCode);
  EXPECT_EQ("", none.out);
  EXPECT_EQ(2u, lines(rc("get snapshot -snapshotgroup QB_1").out).size());
}

TEST_F(Fidelity, ModifySnapshotByLdevAloneNamesAnSvol) {
  int m1 = fx.addSnapshotPair(kSerial, "G1", 256, 5, "PAIR");
  int m2 = fx.addSnapshotPair(kSerial, "G2", 256, 5, "PAIR");
  addTarget(600);
  fx.setArray(kSerial, [&](Array& a) { a.pair(256, m2)->svol = 600; });
  EXPECT_EQ(kExitNoObject, rc("modify snapshot -ldev_id 256 -snapshot_data split").exitCode)
      << "a P-VOL alone names no pair";
  EXPECT_EQ("PAIR", array().pair(256, m1)->state);
  EXPECT_EQ("PAIR", array().pair(256, m2)->state);
  ASSERT_EQ(0, rc("modify snapshot -ldev_id 600 -snapshot_data split").exitCode);
  EXPECT_EQ("PAIR", array().pair(256, m1)->state) << "the other pair of the P-VOL is untouched";
  EXPECT_EQ("PSUS", array().pair(256, m2)->state);
  ASSERT_EQ(0, rc("modify snapshot -ldev_id 256 -snapshotgroup G1 -snapshot_data split").exitCode);
  EXPECT_EQ("PSUS", array().pair(256, m1)->state);
}

TEST_F(Fidelity, MapSnapshotTakesADpVolume) {
  int mu = fx.addSnapshotPair(kSerial, "G", 256, 5, "PSUS");
  fx.addSourceLdev(kSerial, 610, 2097152, 6);  // made in DP pool 6
  ASSERT_EQ(0, rc("map snapshot -ldev_id 256 610 -mirror_id " + std::to_string(mu)).exitCode);
  EXPECT_EQ(610, array().pair(256, mu)->svol);
}

TEST_F(Fidelity, VirtualLdevIdsAndGlobalVirtualisation) {
  fx.addResourceGroup(kSerial, "VSM_A", 1, "512345", "M850M3");
  fx.setArray(kSerial, [](Array& a) {
    a.ldevRef(256).rsgid = 1;  // in the machine, never given a virtual id
    a.ldevRef(257).rsgid = 1;
    a.ldevRef(257).vid = 900;
  });
  EXPECT_NE(std::string::npos,
            rc("get ldev -ldev_id 256").out.find("LDEV : 256 VIR_LDEV : 65534\n"))
      << "never given a virtual id: none";
  EXPECT_NE(std::string::npos, rc("get ldev -ldev_id 257").out.find("LDEV : 257 VIR_LDEV : 900\n"));
  EXPECT_NE(std::string::npos, rc("get ldev -ldev_id 258").out.find("LDEV : 258\n"))
      << "resource group 0: no virtual id";
  ASSERT_EQ(0, rc("unmap resource -ldev_id 257 -virtual_ldev_id 900").exitCode);
  EXPECT_NE(std::string::npos,
            rc("get ldev -ldev_id 257").out.find("LDEV : 257 VIR_LDEV : 65534\n"));
  ASSERT_EQ(0, rc("map resource -ldev_id 257 -virtual_ldev_id 901").exitCode);
  fx.setArray(kSerial, [](Array& a) { a.globalVirtualization = true; });
  std::vector<std::string> l = lines(rc("get ldev -ldev_id 257").out);
  EXPECT_EQ("Serial# : 512345 PHY_Serial#  : 412345", l[0]);
  EXPECT_EQ("LDEV : 901 PHY_LDEV : 257", l[1]);
  l = lines(rc("get ldev -ldev_id 258").out);
  EXPECT_EQ("Serial# : 412345 PHY_Serial#  : 412345", l[0]);
  EXPECT_EQ("LDEV : 258 PHY_LDEV : 258", l[1]);
}

TEST_F(Fidelity, CommandStatusBelongsToTheLoginUserOnTheArray) {
  fx.addUser("other", "pw");
  fx.setInstanceRunning(3531, kSerial);
  fx.setLoggedIn(3531, "cciuser");
  fx.setInstanceRunning(3530, kSerial);
  fx.setLoggedIn(3530, "other");
  auto status = [&](const char* inst) {
    return tool("raidcom", std::string("get command_status -IM") + inst + " -s 412345");
  };
  // An asynchronous failure: accepted, seen only in the status.
  ASSERT_EQ(0, rc("add ldev -pool 99 -ldev_id 300 -capacity 100").exitCode);
  ASSERT_EQ(0, rc("add ldev -pool snap -ldev_id 256 -capacity 100").exitCode);
  Outcome same = status("3531");
  EXPECT_EQ(0, same.exitCode) << "same user, another instance";
  std::vector<std::string> row = split(lines(same.out)[1]);
  EXPECT_EQ("2", row[3]);
  EXPECT_EQ("2E20", row[1]);
  EXPECT_EQ("6000", row[2]);
  EXPECT_NE(std::string::npos, same.out.find("The pool ID is not installed"))
      << "the first error stays";
  EXPECT_EQ(0, status("3530").exitCode) << "another user";
  EXPECT_EQ("0", split(lines(status("3530").out)[1])[3]);
  // That user's logout clears it, on whichever instance.
  ASSERT_EQ(0, tool("raidcom", "-logout -IM3531").exitCode);
  EXPECT_EQ(0, rc("get command_status").exitCode);
  EXPECT_FALSE(ldev(300).defined);
}

TEST_F(Fidelity, IscsiHostGroupsAndInitiators) {
  fx.addPort(kSerial, "CL4-E", "", "ISCSI");
  fx.addHostGroup(kSerial, "CL4-E", 1, "iscsi hosts");
  fx.update([](State& s) {
    HostGroup& g = *s.array(kSerial)->hostGroup("CL4-E", 1);
    g.iqn = "iqn.1994-04.jp.co.hitachi:rsd.h8m.t.12345.4e001";
    g.wwns.emplace_back("iqn.1994-05.com.redhat:node1", "node1");
  });
  std::vector<std::string> hg = lines(rc("get host_grp -port CL4-E").out);
  ASSERT_EQ(2u, hg.size());
  EXPECT_EQ((std::vector<std::string>{"PORT", "GID", "GROUP_NAME", "IQN", "AMD", "D", "Serial#",
                                      "HMD", "HMO_BITs"}),
            split(hg[0]));
  EXPECT_NE(std::string::npos, hg[1].find("iscsi hosts  iqn.1994-04.jp.co.hitachi"));
  std::vector<std::string> ini = lines(rc("get hba_iscsi -port CL4-E-1").out);
  ASSERT_EQ(2u, ini.size());
  EXPECT_EQ((std::vector<std::string>{"PORT", "GID", "GROUP_NAME", "IQN", "Serial#", "NICK_NAME"}),
            split(ini[0]));
  EXPECT_EQ((std::vector<std::string>{"CL4-E", "1", "iscsi", "hosts",
                                      "iqn.1994-05.com.redhat:node1", "412345", "node1"}),
            split(ini[1]));
  EXPECT_EQ(kExitRejected, rc("get hba_wwn -port CL4-E-1").exitCode);
  EXPECT_EQ(kExitRejected, rc("get hba_iscsi -port CL1-A-1").exitCode);
  EXPECT_EQ(0, rc("get hba_wwn -port CL1-A-1").exitCode);
  // A new group on the port gets the array's target name; the port has no WWN.
  ASSERT_EQ(0, rc("add host_grp -port CL4-E -host_grp_name QB_PRE").exitCode);
  EXPECT_EQ("iqn.1994-04.jp.co.hitachi:rsd.h8m.t.412345.4e002", array().hostGroup("CL4-E", 2)->iqn);
  for (const std::string& line : lines(rc("get port").out)) {
    if (line.rfind("CL4-E", 0) == 0) {
      EXPECT_EQ(12u, split(line).size()) << line;
    }
  }
}

TEST_F(Fidelity, PasswordsAreKeptHashedAndMaskedInTheJournal) {
  State s = fx.load();
  EXPECT_EQ(std::string::npos, serializeState(s).find("secret"));
  EXPECT_EQ(0u, s.users.at("cciuser").find("sha256$"));
  EXPECT_TRUE(s.checkPassword("cciuser", "secret"));
  EXPECT_FALSE(s.checkPassword("cciuser", "secreT"));
  ASSERT_EQ(0, tool("raidcom", "-login cciuser secret -IM3532").exitCode);
  EXPECT_EQ(kExitAuth, tool("raidcom", "-login cciuser wrong -IM3532").exitCode);
  for (const JournalEntry& e : fx.journal("raidcom", "-login")) {
    EXPECT_EQ("-login cciuser **** -IM3532", e.line());
  }
}

// A run writes the records it changed, however many pairs and LU paths the
// array holds: the unchanged ones are neither written nor lost, and a change
// of any one field of a pair or a path is written.
TEST_F(Fidelity, WritesFollowWhatChangedNotTheSizeOfTheArray) {
  for (int i = 0; i < 200; ++i) {
    fx.addSourceLdev(kSerial, 1000 + i, 2048, 5);
    fx.addSnapshotPair(kSerial, "QB_BIG", 1000 + i, 5, "PSUS");
    fx.addLun(kSerial, "CL2-B", 0, i, 1000 + i);
  }
  fx.clearJournal();
  rc("get snapshot -snapshotgroup QB_BIG");
  ASSERT_EQ(0, rc("add snapshot -ldev_id 256 -pool 5 -snapshotgroup QB_NEW").exitCode);
  ASSERT_EQ(0, rc("delete lun -port CL2-B-0 -ldev_id 1100").exitCode);
  std::vector<JournalEntry> j = fx.journal();
  ASSERT_EQ(3u, j.size());
  EXPECT_EQ(0, j[0].stateWrites);
  EXPECT_EQ(2, j[1].stateWrites) << "the new pair and the creation counter";
  EXPECT_EQ(1, j[2].stateWrites) << "the path only";
  State s = fx.load();
  EXPECT_EQ(201u, s.arrays.at(kSerial).pairs.size());
  EXPECT_EQ(199u, s.arrays.at(kSerial).hostGroup("CL2-B", 0)->luns.size());

  // Each field of a pair, changed alone, is stored.
  const std::vector<std::function<void(SnapPair&)>> changes = {
      [](SnapPair& p) { p.group = "QB_OTHER"; },  [](SnapPair& p) { p.ctg = true; },
      [](SnapPair& p) { p.poolId = 6; },          [](SnapPair& p) { p.state = "PSUE"; },
      [](SnapPair& p) { p.svol = 2000; },         [](SnapPair& p) { p.splitTime = 7; },
      [](SnapPair& p) { p.progress = 42; },       [](SnapPair& p) { p.pendingTo = "PAIR"; },
      [](SnapPair& p) { p.pendingLeft = 3; },     [](SnapPair& p) { p.seq = 99999; },
  };
  for (size_t c = 0; c < changes.size(); ++c) {
    SnapPair before = fx.load().arrays.at(kSerial).pairs[5];
    fx.setArray(kSerial, [&](Array& a) { changes[c](a.pairs[5]); });
    SnapPair want = before;
    changes[c](want);
    const SnapPair got = fx.load().arrays.at(kSerial).pairs[5];
    EXPECT_EQ(want.group, got.group) << c;
    EXPECT_EQ(want.ctg, got.ctg) << c;
    EXPECT_EQ(want.poolId, got.poolId) << c;
    EXPECT_EQ(want.state, got.state) << c;
    EXPECT_EQ(want.svol, got.svol) << c;
    EXPECT_EQ(want.splitTime, got.splitTime) << c;
    EXPECT_EQ(want.progress, got.progress) << c;
    EXPECT_EQ(want.pendingTo, got.pendingTo) << c;
    EXPECT_EQ(want.pendingLeft, got.pendingLeft) << c;
    EXPECT_EQ(want.seq, got.seq) << c;
  }
  // The pairs keep their order through deletions, additions and a reordering.
  auto pvols = [&] {
    std::vector<int> out;
    const State state = fx.load();
    for (const SnapPair& p : state.arrays.at(kSerial).pairs) out.push_back(p.pvol);
    return out;
  };
  std::vector<int> want = pvols();
  fx.setArray(kSerial, [](Array& a) {
    a.pairs.erase(a.pairs.begin() + 3);
    SnapPair p = a.pairs.front();
    p.pvol = 999;
    a.pairs.push_back(p);
  });
  want.erase(want.begin() + 3);
  want.push_back(999);
  EXPECT_EQ(want, pvols());
  fx.setArray(kSerial, [](Array& a) { std::swap(a.pairs.front(), a.pairs.back()); });
  std::swap(want.front(), want.back());
  EXPECT_EQ(want, pvols());

  // A path's host I/O count alone is stored too.
  fx.setLunHostIo(kSerial, "CL2-B", 0, 1001, 2);
  EXPECT_EQ(2, fx.load().arrays.at(kSerial).hostGroup("CL2-B", 0)->hostIo.at(1001));
}

TEST_F(Fidelity, ReadsWriteNoStateAndTheJournalKeepsAFewKib) {
  fx.clearJournal();
  rc("get ldev -ldev_id 256");
  rc("get snapshot");
  Outcome listing = rc("get ldev -ldev_id 0 -cnt 2048");
  ASSERT_EQ(0, rc("modify ldev -ldev_id 257 -ldev_name renamed").exitCode);
  std::vector<JournalEntry> j = fx.journal();
  ASSERT_EQ(4u, j.size());
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(0, j[i].stateWrites) << j[i].line();
  EXPECT_EQ(1, j[3].stateWrites);
  const JournalEntry& big = j[2];
  EXPECT_EQ(listing.out.size(), big.outSize);
  EXPECT_GT(big.outSize, 100000u);
  EXPECT_LE(big.out.size(), kJournalKeep + 64);
  EXPECT_EQ(0u, listing.out.find(big.out.substr(0, 1000)));
  EXPECT_EQ(listing.out.substr(listing.out.size() - 200), big.out.substr(big.out.size() - 200));
  EXPECT_NE(std::string::npos, big.out.find("bytes not kept"));
  EXPECT_EQ(16u, big.outChecksum.size());
  EXPECT_EQ(j[0].out, rc("get ldev -ldev_id 256").out) << "a short output is kept whole";
}

TEST(NoState, ToolsSayWhereTheyLookedAndWhatMakesIt) {
  Fixture fx;
  const std::string path = fx.dir() + "/missing/ccisim.state";
  Outcome o = invoke(path, "raidcom", {"get", "ldev", "-ldev_id", "1", "-IM3532"});
  EXPECT_EQ(kExitGeneric, o.exitCode);
  EXPECT_EQ(1u, lines(o.err).size()) << o.err;
  EXPECT_NE(std::string::npos, o.err.find(path));
  EXPECT_NE(std::string::npos, o.err.find("ccisim init"));
  EXPECT_EQ("", o.out);
}

// The version lines need no array, as on a host without one: raidqry -h
// answers without a state; every other form says where it looked.
TEST(NoState, RaidqryHelpAnswersWithoutAState) {
  Fixture fx;
  const std::string path = fx.dir() + "/missing/ccisim.state";
  Outcome h = invoke(path, "raidqry", {"-h"});
  EXPECT_EQ(0, h.exitCode) << h.err;
  EXPECT_EQ("", h.err);
  EXPECT_EQ("Ver&Rev: " + State().cciVersion, lines(h.out).at(1));
  Outcome l = invoke(path, "raidqry", {"-l", "-IM3532"});
  EXPECT_EQ(kExitGeneric, l.exitCode);
  EXPECT_NE(std::string::npos, l.err.find("ccisim init"));
  EXPECT_FALSE(std::ifstream(path).good()) << "no state is made";
}

TEST(NoState, InitMakesAnArrayOfNLdevs) {
  Fixture fx;
  const std::string path = fx.dir() + "/big/ccisim.state";
  std::string cmd = "CCISIM_STATE='" + path + "' '" + ccisimBinary() +
                    "' init --empty --model M8M --ldevs 3000 >/dev/null";
  ASSERT_EQ(0, std::system(cmd.c_str()));
  std::string dump = "CCISIM_STATE='" + path + "' '" + ccisimBinary() + "' dump";
  FILE* p = ::popen(dump.c_str(), "r");
  ASSERT_NE(nullptr, p);
  size_t defined = 0;
  char buf[4096];
  while (std::fgets(buf, sizeof buf, p))
    if (std::strncmp(buf, "ldev ", 5) == 0 && std::strstr(buf, " defined=1 ")) ++defined;
  EXPECT_EQ(0, ::pclose(p));
  EXPECT_EQ(3000u, defined);
  EXPECT_EQ(2, std::system(("CCISIM_STATE='" + path + "' '" + ccisimBinary() +
                            "' init --force --empty --model M8M --ldevs 5000 2>/dev/null")
                               .c_str()) /
                   256)
      << "more than the model holds";
}

}  // namespace
