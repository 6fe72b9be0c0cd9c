// Each command of the simulator: its context checks, preconditions and effect
// on the state, asserted on the state and the journal, not on canned text.
#include "sim/tests/ccisim_test_util.h"

using namespace ccisim;
using namespace ccisim_test;

namespace {

class Commands : public SimTest {};

size_t blocks(const std::string& out) {
  size_t n = 0;
  for (size_t p = 0; (p = out.find("Serial#  :", p)) != std::string::npos; ++p) ++n;
  return n;
}

// ---- context and syntax --------------------------------------------------

TEST_F(Commands, ContextChecksOfEveryRealArray) {
  struct Row {
    std::string tool, line;
    int exit;
    std::string text;
  } rows[] = {
      {"raidcom", "get ldev -ldev_id 256 -s 412345", kExitNotAttached, "[EX_ATTHOR]"},
      {"raidcom", "get ldev -ldev_id 256 -IM3531 -s 412345", kExitNotAttached, "[EX_ATTHOR]"},
      {"raidcom", "get ldev -ldev_id 256 -IM3532 -s 512345", kExitNoUnit, "[EX_ENOUNT]"},
      {"raidqry", "-l -IM3532 -s 999999", kExitNoUnit, "[EX_ENOUNT]"},
      {"raidscan", "-p CL1-A-1 -CLI -m 0 -IH3531 -s 412345", kExitNotAttached, "[EX_ATTHOR]"},
      {"pairsyncwait", "-g CG -nowait -t 99999 -IH9", kExitNotAttached, "[EX_ATTHOR]"},
  };
  for (const Row& r : rows) {
    Outcome o = tool(r.tool, r.line);
    EXPECT_EQ(r.exit, o.exitCode) << r.line;
    EXPECT_NE(std::string::npos, o.err.find(r.tool + ": " + r.text)) << r.line << ": " << o.err;
    EXPECT_EQ("", o.out) << r.line;
  }
}

TEST_F(Commands, SyntaxErrorsFailLoudlyWithDistinctCodes) {
  struct Row {
    std::string line;
    int exit;
    std::string text;
  } rows[] = {
      {"get ldev -ldev_id 256 -bogus", kExitUnknownOption, "[EX_UNKOPT]"},
      {"modify ldev -ldev_id 257 -ldev_name QB SVOL", kExitUnknownOption,
       "'SVOL'"},  // unquoted blank
      {"add host_grp -port CL1-A -host_grp_name hg db 02", kExitUnknownOption, "'db'"},
      {"frobnicate ldev -ldev_id 1", kExitUnknownOption, "Unknown command"},
      {"get ldev -ldev_id", kExitMissingArg, "[EX_REQARG]"},
      {"add ldev -ldev_id 300 -capacity 10", kExitMissingArg, "-pool"},
      {"get ldev -ldev_id 25x", kExitInvalidArg, "[EX_INVARG]"},
      {"add snapshot -ldev_id 256 -pool 5 -snapshotgroup G -snap_mode XYZ", kExitInvalidArg, "XYZ"},
      {"modify snapshot -snapshotgroup G -snapshot_data frob", kExitInvalidArg, "frob"},
      {"get resource -key xyz", kExitInvalidArg, "xyz"},
      {"lock resource -resource_name meta_resource", kExitMissingArg, "-time"},
  };
  for (const Row& r : rows) {
    Outcome o = rc(r.line);
    EXPECT_EQ(r.exit, o.exitCode) << r.line;
    EXPECT_NE(std::string::npos, o.err.find(r.text)) << r.line << ": " << o.err;
  }
  // Nothing of it reached the array.
  EXPECT_EQ("src1", ldev(257).label);
  EXPECT_FALSE(ldev(300).defined);
}

TEST_F(Commands, LoginLogoutAndExpiry) {
  Outcome bad = tool("raidcom", "-login cciuser wrong -IM3532");
  EXPECT_EQ(kExitAuth, bad.exitCode);
  EXPECT_FALSE(fx.instance(kInst).loggedIn);
  EXPECT_EQ(kExitAuth, rc("get pool -key opt").exitCode);
  EXPECT_EQ(0, tool("raidcom", "-login cciuser secret -IM3532").exitCode);
  EXPECT_EQ("cciuser", fx.instance(kInst).user);
  EXPECT_EQ(0, rc("get pool -key opt").exitCode);
  EXPECT_EQ(0, tool("raidcom", "-logout -IM3532").exitCode);
  EXPECT_FALSE(fx.instance(kInst).loggedIn);
  EXPECT_EQ(0, tool("raidcom", "-logout -IM3532").exitCode)
      << "logout without a login is not an error";
  EXPECT_EQ(kExitMissingArg, tool("raidcom", "-login cciuser -IM3532").exitCode) << "no password";
  EXPECT_EQ(kExitUnknownOption, tool("raidcom", "-login cciuser sec ret -IM3532").exitCode)
      << "unquoted blank";
  // A password that begins like an option is still one word.
  fx.addUser("u2", "-s");
  EXPECT_EQ(0, tool("raidcom", "-login u2 -s -IM3532").exitCode);
  // A login that ends after two commands.
  fx.setLoggedIn(kInst, "cciuser", 2);
  EXPECT_EQ(0, rc("get pool").exitCode);
  EXPECT_EQ(0, rc("get copy_grp").exitCode);
  EXPECT_EQ(kExitAuth, rc("get pool").exitCode);
  // raidqry never needs a login.
  EXPECT_EQ(0, tool("raidqry", "-l -IM3532 -s 412345").exitCode);
}

TEST_F(Commands, AuthScopeAllCoversRaidscanAndPairsyncwait) {
  fx.setInstanceStopped(kInst);
  fx.setInstanceRunning(kInst, kSerial);  // running, not logged in
  CopyGroup g;
  g.name = "CG1";
  fx.addCopyGroup(kSerial, g);
  EXPECT_EQ(0, tool("raidscan", "-p CL1-A-1 -CLI -m 0 -IH3532 -s 412345").exitCode);
  EXPECT_EQ(0, tool("pairsyncwait", "-g CG1 -nowait -t 99999 -IH3532").exitCode);
  fx.setAuthScope("all");
  EXPECT_EQ(kExitAuth, tool("raidscan", "-p CL1-A-1 -CLI -m 0 -IH3532 -s 412345").exitCode);
  EXPECT_EQ(kExitAuth, tool("pairsyncwait", "-g CG1 -nowait -t 99999 -IH3532").exitCode);
  EXPECT_EQ(0, tool("raidqry", "-l -IM3532").exitCode);
}

// ---- LDEVs ----------------------------------------------------------------

TEST_F(Commands, GetLdevListsAndFilters) {
  Outcome one = rc("get ldev -ldev_id 256");
  ASSERT_EQ(0, one.exitCode);
  EXPECT_EQ(0u, one.out.find("Serial#  : 412345\nLDEV : 256\n"));
  Outcome range = rc("get ldev -ldev_id 2046 -cnt 2");
  EXPECT_EQ(2u, blocks(range.out));
  EXPECT_NE(std::string::npos,
            range.out.find("LDEV : 2046\nSL : -\nCL : -\nVOL_TYPE : NOT DEFINED\n"));
  EXPECT_EQ(std::string::npos, range.out.find("VOL_ATTR : NOT DEFINED"));
  fx.setUndefinedVolAttr(true);
  EXPECT_NE(std::string::npos, rc("get ldev -ldev_id 2046").out.find("VOL_ATTR : NOT DEFINED\n"));
  EXPECT_EQ(kExitNoLdev, rc("get ldev -ldev_id 2048").exitCode) << "above the M8S maximum";
  EXPECT_EQ(kExitNoLdev, rc("get ldev -ldev_id 2047 -cnt 2").exitCode);

  // unmapped: defined without an LU path; nothing such -> 246.
  EXPECT_EQ(kExitNoDevice, rc("get ldev -ldev_list unmapped").exitCode);
  addTarget(600);
  addTarget(601);
  fx.setArray(kSerial, [](Array& a) { a.ldevRef(601).rsgid = 2; });
  Outcome un = rc("get ldev -ldev_list unmapped");
  EXPECT_EQ(0, un.exitCode);
  EXPECT_NE(std::string::npos, un.out.find("LDEV : 600\n"));
  EXPECT_NE(std::string::npos, un.out.find("LDEV : 601\n"));
  EXPECT_EQ(std::string::npos, un.out.find("LDEV : 256\n"));
  Outcome f = rc("get ldev -ldev_list unmapped -resource 2");
  EXPECT_EQ(std::string::npos, f.out.find("LDEV : 600\n"));
  EXPECT_NE(std::string::npos, f.out.find("LDEV : 601\n"));
  Outcome cu = rc("get ldev -ldev_id 512 -cnt 256 -resource 2");
  EXPECT_EQ(1u, blocks(cu.out)) << "only LDEV 601 is in group 2";
}

TEST_F(Commands, AddLdevPreconditionsAndEffect) {
  // What the array finds while it works on the order shows only in the
  // login user's command status: the first error, and the count.
  EXPECT_EQ(0, rc("add ldev -pool snap -ldev_id 256 -capacity 100").exitCode);
  EXPECT_EQ(0, rc("add ldev -pool 9 -ldev_id 300 -capacity 100").exitCode);
  Outcome st = rc("get command_status");
  EXPECT_EQ(0, st.exitCode) << "the row shows the errors; the query succeeds";
  ASSERT_EQ(2u, lines(st.out).size());
  EXPECT_EQ("2", split(lines(st.out)[1])[3]);
  EXPECT_NE(std::string::npos, st.out.find("already defined"));
  EXPECT_EQ(std::string::npos, st.out.find("pool ID is not installed"));
  ASSERT_EQ(0, rc("reset command_status").exitCode);
  EXPECT_EQ(0, rc("get command_status").exitCode);
  EXPECT_EQ(kExitInvalidArg, rc("add ldev -pool snap -ldev_id 300 -capacity 0").exitCode);
  EXPECT_EQ(kExitNoLdev, rc("add ldev -pool snap -ldev_id 2048 -capacity 10").exitCode);
  EXPECT_FALSE(ldev(300).defined);

  fx.setArray(kSerial, [](Array& a) {
    a.ldevRef(300).rsgid = 3;
    a.ldevRef(300).vid = 7000;
  });
  Outcome o = rc("add ldev -pool snap -mp_blade_id 2 -ldev_id 300 -capacity 2097152");
  ASSERT_EQ(0, o.exitCode) << o.err;
  EXPECT_EQ("", o.out + o.err) << "changes print nothing";
  Ldev l = ldev(300);
  EXPECT_TRUE(l.defined);
  EXPECT_EQ((std::vector<std::string>{"CVS", "VVOL"}), l.attrs);
  EXPECT_EQ("NONE", l.poolId);
  EXPECT_EQ(2097152u, l.capacity);
  EXPECT_EQ(2, l.mpBlade);
  EXPECT_EQ(3, l.rsgid) << "group and virtual id survive creation";
  EXPECT_EQ(7000, l.vid);
  ASSERT_EQ(0, rc("add ldev -pool DPPOOL01 -ldev_id 301 -capacity 10").exitCode);
  EXPECT_EQ("6", ldev(301).poolId);
  EXPECT_EQ((std::vector<std::string>{"CVS", "HDP"}), ldev(301).attrs);
}

TEST_F(Commands, DeleteLdevPreconditionsAndEffect) {
  Outcome gone = rc("delete ldev -ldev_id 300");
  EXPECT_EQ(kExitRejected, gone.exitCode);
  EXPECT_NE(std::string::npos, gone.err.find("LDEV is not installed"));
  EXPECT_EQ(kExitRejected, rc("delete ldev -ldev_id 256").exitCode) << "has an LU path";
  addTarget(600);
  addTarget(601);
  int mu = fx.addSnapshotPair(kSerial, "G", 600, 5);
  EXPECT_EQ(kExitRejected, rc("delete ldev -ldev_id 600").exitCode) << "is a P-VOL";
  fx.setArray(kSerial, [&](Array& a) { a.pair(600, mu)->svol = 601; });
  EXPECT_EQ(kExitRejected, rc("delete ldev -ldev_id 601").exitCode) << "is an S-VOL";
  addTarget(602);
  fx.setArray(kSerial, [](Array& a) {
    a.ldevRef(602).rsgid = 4;
    a.ldevRef(602).label = "QB_SVOL_x";
  });
  ASSERT_EQ(0, rc("delete ldev -ldev_id 602").exitCode);
  Ldev l = ldev(602);
  EXPECT_FALSE(l.defined);
  EXPECT_EQ("", l.label);
  EXPECT_TRUE(l.attrs.empty());
  EXPECT_EQ(4, l.rsgid);
}

TEST_F(Commands, ModifyLdevLabel) {
  ASSERT_EQ(0, rc("modify ldev -ldev_id 257 -ldev_name QB_SVOL_db01").exitCode);
  EXPECT_EQ("QB_SVOL_db01", ldev(257).label);
  EXPECT_EQ(kExitRejected, rc("modify ldev -ldev_id 300 -ldev_name x").exitCode);
  EXPECT_EQ(kExitInvalidArg,
            rc("modify ldev -ldev_id 257 -ldev_name " + std::string(33, 'a')).exitCode);
  ASSERT_EQ(0, rc("modify ldev -ldev_id 257 -ldev_name BLANK").exitCode);
  EXPECT_EQ("BLANK", ldev(257).label);
}

// ---- resource groups -------------------------------------------------------

TEST_F(Commands, LockAndUnlockResourceGroups) {
  fx.addResourceGroup(kSerial, "VSM 1 group", 1, "512345", "M850M3");
  ASSERT_EQ(0, rc("lock resource -resource_name meta_resource -time 30").exitCode);
  ResourceGroup g = array().resourceGroups["meta_resource"];
  EXPECT_EQ("Locked", g.lockStatus);
  EXPECT_EQ("cciuser", g.lockOwner);
  EXPECT_EQ("mahost01", g.lockHost);
  EXPECT_EQ("Unlocked", array().resourceGroups["VSM 1 group"].lockStatus);
  EXPECT_EQ(0, rc("lock resource -resource_name meta_resource -time 30").exitCode)
      << "own lock taken again";
  ASSERT_EQ(0, rc("unlock resource -resource_name meta_resource -time 30").exitCode);
  EXPECT_EQ("Unlocked", array().resourceGroups["meta_resource"].lockStatus);
  EXPECT_EQ(0, rc("unlock resource -resource_name meta_resource").exitCode) << "already unlocked";
  // Without a name: every group.
  ASSERT_EQ(0, rc("lock resource -time 30").exitCode);
  EXPECT_EQ("Locked", array().resourceGroups["VSM 1 group"].lockStatus);
  ASSERT_EQ(0, rc("unlock resource -time 30").exitCode);
  EXPECT_EQ("Unlocked", array().resourceGroups["VSM 1 group"].lockStatus);
  // A name the shell kept whole (quoted) names the group.
  ASSERT_EQ(0, fx.run("raidcom", {"lock", "resource", "-resource_name", "VSM 1 group", "-time",
                                  "30", "-IM3532"})
                   .exitCode);
  EXPECT_EQ(kExitNoObject, rc("lock resource -resource_name nosuch -time 30").exitCode);
}

TEST_F(Commands, ForeignLockRefusesLocksAndChangesUntilReleased) {
  fx.setForeignLock(kSerial, "meta_resource", "admin", "RMI User Program", 2);
  Outcome o = rc("lock resource -resource_name meta_resource -time 30");
  EXPECT_EQ(kExitRejected, o.exitCode);
  EXPECT_EQ(refusalText("raidcom", kSerial, Refusal::kLocked), o.err);
  EXPECT_NE(std::string::npos, o.err.find("SSB=0x2E11,0x2205 on Serial#(412345)."));
  EXPECT_EQ(kExitRejected, rc("unlock resource -resource_name meta_resource").exitCode);
  EXPECT_EQ(kExitRejected, rc("add ldev -pool snap -ldev_id 300 -capacity 10").exitCode);
  EXPECT_EQ(kExitRejected, rc("modify ldev -ldev_id 257 -ldev_name x").exitCode);
  EXPECT_EQ(kExitRejected, rc("add snapshot -ldev_id 256 -pool 5 -snapshotgroup G").exitCode);
  EXPECT_EQ(0, rc("get ldev -ldev_id 256").exitCode) << "queries are not refused";
  // Same user on another host is someone else too.
  fx.setForeignLock(kSerial, "meta_resource", "cciuser", "otherhost", 2);
  EXPECT_EQ(kExitRejected, rc("lock resource -resource_name meta_resource -time 30").exitCode);
  // Released after two plain listings; key-option listings do not count.
  rc("get resource -key opt");
  EXPECT_NE(std::string::npos, rc("get resource").out.find("Locked"));
  EXPECT_NE(std::string::npos, rc("get resource").out.find("Locked"));
  EXPECT_NE(std::string::npos, rc("get resource").out.find("Unlocked"));
  EXPECT_EQ(0, rc("lock resource -resource_name meta_resource -time 30").exitCode);
  // The same user and host takes its own stale lock over.
  fx.setForeignLock(kSerial, "meta_resource", "cciuser", "mahost01", -1);
  EXPECT_EQ(0, rc("lock resource -resource_name meta_resource -time 30").exitCode);
}

TEST_F(Commands, ResourceMembershipAndVirtualIds) {
  fx.addResourceGroup(kSerial, "VSM_A", 1, "512345", "M850M3");
  addTarget(600);
  addTarget(601);
  ASSERT_EQ(0, rc("unmap resource -ldev_id 600 -virtual_ldev_id 600").exitCode);
  EXPECT_EQ(kVidNone, ldev(600).vid);
  ASSERT_EQ(0, rc("add resource -resource_name VSM_A -ldev_id 600").exitCode);
  EXPECT_EQ(1, ldev(600).rsgid);
  EXPECT_EQ(0, rc("add resource -resource_name VSM_A -ldev_id 600").exitCode) << "already there";
  ASSERT_EQ(0, rc("map resource -ldev_id 600 -virtual_ldev_id 5000").exitCode);
  EXPECT_EQ(5000, ldev(600).vid);
  EXPECT_NE(std::string::npos,
            rc("get ldev -ldev_id 600").out.find("LDEV : 600 VIR_LDEV : 5000\n"));
  EXPECT_EQ(kExitRejected, rc("map resource -ldev_id 600 -virtual_ldev_id 5001").exitCode)
      << "already mapped";
  // Clash inside the virtual storage machine; above 65533 refused there.
  rc("unmap resource -ldev_id 601 -virtual_ldev_id 601");
  rc("add resource -resource_name VSM_A -ldev_id 601");
  EXPECT_EQ(kExitRejected, rc("map resource -ldev_id 601 -virtual_ldev_id 5000").exitCode);
  EXPECT_EQ(kExitRejected, rc("map resource -ldev_id 601 -virtual_ldev_id 65534").exitCode);
  EXPECT_EQ(kExitRejected, rc("unmap resource -ldev_id 600 -virtual_ldev_id 5001").exitCode)
      << "wrong id";
  EXPECT_EQ(kExitRejected, rc("delete resource -resource_name VSM_A -ldev_id 256").exitCode)
      << "not a member";
  ASSERT_EQ(0, rc("unmap resource -ldev_id 600 -virtual_ldev_id 5000").exitCode);
  ASSERT_EQ(0, rc("delete resource -resource_name VSM_A -ldev_id 600").exitCode);
  EXPECT_EQ(0, ldev(600).rsgid);
  // In meta_resource the old id is mapped back without a clash check.
  ASSERT_EQ(0, rc("map resource -ldev_id 600 -virtual_ldev_id 65534").exitCode);
  EXPECT_EQ(65534, ldev(600).vid);
  // A host group joins by port and name.
  ASSERT_EQ(0, rc("add resource -resource_name VSM_A -port CL1-A 1A-G00").exitCode);
  EXPECT_EQ(1, array().hostGroup("CL1-A", 0)->rsgid);
  EXPECT_EQ(kExitUnknownOption,
            rc("add resource -resource_name VSM_A -device_grp_name DG").exitCode);
}

// ---- snapshots -------------------------------------------------------------

TEST_F(Commands, AddSnapshotAllocatesMusAndChecks) {
  ASSERT_EQ(0, rc("add snapshot -ldev_id 256 -pool 5 -snapshotgroup QB_1").exitCode);
  ASSERT_EQ(0, rc("add snapshot -ldev_id 256 -pool TIPOOL01 -snapshotgroup QB_2").exitCode);
  Array a = array();
  ASSERT_EQ(2u, a.pairs.size());
  EXPECT_EQ(3, a.pairs[0].mu) << "Thin Image MUs start at 3";
  EXPECT_EQ(4, a.pairs[1].mu);
  EXPECT_EQ("PAIR", a.pairs[0].state);
  EXPECT_EQ(5, a.pairs[1].poolId);
  // Freed MU is reused lowest first.
  ASSERT_EQ(0, rc("delete snapshot -ldev_id 256 -mirror_id 3").exitCode);
  ASSERT_EQ(0, rc("add snapshot -ldev_id 256 -pool 5 -snapshotgroup QB_2").exitCode);
  EXPECT_TRUE(array().pair(256, 3) != nullptr);

  EXPECT_EQ(kExitRejected, rc("add snapshot -ldev_id 300 -pool 5 -snapshotgroup QB_1").exitCode)
      << "undefined";
  EXPECT_EQ(kExitRejected, rc("add snapshot -ldev_id 2047 -pool 5 -snapshotgroup QB_1").exitCode)
      << "CMD";
  EXPECT_EQ(kExitRejected, rc("add snapshot -ldev_id 257 -pool 9 -snapshotgroup QB_1").exitCode)
      << "no pool";
  EXPECT_EQ(kExitRejected,
            rc("add snapshot -ldev_id 257 -pool 5 -snapshotgroup QB_2 -snap_mode CTG").exitCode)
      << "group exists without CTG";
  fx.setArray(kSerial, [](Array& x) { x.pools[5].status = "POLF"; });
  EXPECT_EQ(kExitRejected, rc("add snapshot -ldev_id 257 -pool 5 -snapshotgroup QB_3").exitCode)
      << "pool full";
  EXPECT_EQ(2u, array().pairs.size());
  fx.setArray(kSerial, [](Array& x) {
    x.pools[5].status = "POLN";
    x.timing.addPolls = 1;
  });
  ASSERT_EQ(0, rc("add snapshot -ldev_id 258 -pool 5 -snapshotgroup QB_C -snap_mode CTG").exitCode);
  EXPECT_EQ("COPY", array().pair(258, 3)->state);
  Outcome l = rc("get snapshot -snapshotgroup QB_C");
  EXPECT_NE(std::string::npos, l.out.find(" PAIR ")) << l.out;
  EXPECT_NE(std::string::npos, l.out.find(" G--- "));
}

TEST_F(Commands, PairCapacityLimits) {
  fx.setArray(kSerial, [](Array& a) {
    a.firstSnapMu = 1022;
    for (int i = 0; i < 1024; ++i) {
      SnapPair p;
      p.group = "FULL";
      p.pvol = 1000 + i;
      p.mu = 1022;
      a.pairs.push_back(p);
    }
  });
  EXPECT_EQ(kExitRejected, rc("add snapshot -ldev_id 256 -pool 5 -snapshotgroup FULL").exitCode);
  ASSERT_EQ(0, rc("add snapshot -ldev_id 256 -pool 5 -snapshotgroup G").exitCode);
  ASSERT_EQ(0, rc("add snapshot -ldev_id 256 -pool 5 -snapshotgroup G").exitCode);
  Outcome o = rc("add snapshot -ldev_id 256 -pool 5 -snapshotgroup G");
  EXPECT_EQ(kExitRejected, o.exitCode) << "MUs 1022 and 1023 are taken";
  EXPECT_NE(std::string::npos, o.err.find("No free MU"));
}

TEST_F(Commands, CreateResyncRestoreSplitTransitions) {
  int m0 = fx.addSnapshotPair(kSerial, "G", 256, 5);
  int m1 = fx.addSnapshotPair(kSerial, "G", 257, 5, "PSUS");
  ASSERT_EQ(0, rc("modify snapshot -snapshotgroup G -snapshot_data create").exitCode);
  EXPECT_EQ("PSUS", array().pair(256, m0)->state);
  EXPECT_GT(array().pair(256, m0)->splitTime, 0);
  EXPECT_EQ("PSUS", array().pair(257, m1)->state) << "PSUS pairs of a mixed group are left alone";

  // resync: COPY for two listings that show the pair, then PAIR.
  ASSERT_EQ(0, rc("modify snapshot -ldev_id 256 -mirror_id 3 -snapshot_data resync").exitCode);
  EXPECT_EQ("COPY", array().pair(256, m0)->state);
  EXPECT_EQ(0, array().pair(256, m0)->splitTime);
  EXPECT_EQ(kExitBadStatus, rc("modify snapshot -snapshotgroup G -snapshot_data create").exitCode)
      << "a COPY pair blocks create";
  rc("get snapshot -ldev_id 257");  // does not show the pair: no progress
  EXPECT_EQ("COPY", array().pair(256, m0)->state);
  EXPECT_NE(std::string::npos, rc("get snapshot -snapshotgroup G").out.find(" COPY "));
  EXPECT_NE(std::string::npos,
            rc("get snapshot -snapshotgroup G").out.find("256    3    -        5    100  ----  -"));
  EXPECT_EQ(0, rc("modify snapshot -ldev_id 256 -mirror_id 3 -snapshot_data resync").exitCode)
      << "PAIR: no-op";

  // restore needs PSUS; RCPY blocks a second restore of the P-VOL and split.
  EXPECT_EQ(kExitBadStatus,
            rc("modify snapshot -ldev_id 256 -mirror_id 3 -snapshot_data restore").exitCode);
  ASSERT_EQ(0, rc("modify snapshot -ldev_id 257 -mirror_id 3 -snapshot_data restore").exitCode);
  EXPECT_EQ("RCPY", array().pair(257, m1)->state);
  EXPECT_EQ(kExitBadStatus,
            rc("modify snapshot -ldev_id 257 -mirror_id 3 -snapshot_data split").exitCode);
  EXPECT_EQ(kExitBadStatus, rc("delete snapshot -ldev_id 257 -mirror_id 3").exitCode);
  rc("get snapshot -ldev_id 257");
  rc("get snapshot -ldev_id 257");
  EXPECT_EQ("PAIR", array().pair(257, m1)->state);
  ASSERT_EQ(0, rc("modify snapshot -ldev_id 257 -mirror_id 3 -snapshot_data split").exitCode);
  EXPECT_EQ("PSUS", array().pair(257, m1)->state);

  // A restore that ends in PSUE; a stuck one never ends.
  PairTiming t;
  t.restorePolls = 1;
  t.restoreEndsPsue = true;
  fx.setPairTiming(kSerial, t);
  ASSERT_EQ(0, rc("modify snapshot -ldev_id 257 -mirror_id 3 -snapshot_data restore").exitCode);
  rc("get snapshot");
  EXPECT_EQ("RCPY", array().pair(257, m1)->state)
      << "the whole-array listing shows groups, not pairs: the pair does not advance";
  rc("get snapshot -ldev_id 257");
  EXPECT_EQ("PSUE", array().pair(257, m1)->state);
  fx.setPairState(kSerial, 257, m1, "PSUS");
  t.restorePolls = -1;
  fx.setPairTiming(kSerial, t);
  rc("modify snapshot -ldev_id 257 -mirror_id 3 -snapshot_data restore");
  for (int i = 0; i < 5; ++i) rc("get snapshot -ldev_id 257");
  EXPECT_EQ("RCPY", array().pair(257, m1)->state);
  EXPECT_EQ(kExitNoObject,
            rc("modify snapshot -snapshotgroup NOPE -snapshot_data create").exitCode);
}

TEST_F(Commands, DeleteSnapshotRemovesPairAndGroup) {
  int mu = fx.addSnapshotPair(kSerial, "G", 256, 5, "PSUS");
  addTarget(600);
  fx.setArray(kSerial, [&](Array& a) { a.pair(256, mu)->svol = 600; });
  ASSERT_EQ(0, rc("delete snapshot -ldev_id 256 -mirror_id 3").exitCode)
      << "also with an S-VOL associated";
  EXPECT_TRUE(array().pairs.empty());
  EXPECT_EQ(kExitNoObject, rc("get snapshot -snapshotgroup G").exitCode)
      << "the group went with its last pair";
  EXPECT_EQ(kExitNoObject, rc("delete snapshot -ldev_id 256 -mirror_id 3").exitCode);
  EXPECT_TRUE(ldev(600).defined) << "the S-VOL is left behind";
}

TEST_F(Commands, MapAndUnmapSnapshotTargets) {
  int mu = fx.addSnapshotPair(kSerial, "G", 256, 5, "PSUS");
  addTarget(600);
  addTarget(601, 1024);
  ccisim::Ldev plain;
  plain.id = 602;
  plain.capacity = 2097152;
  plain.attrs = {"CVS"};
  fx.addLdev(kSerial, plain);
  EXPECT_EQ(kExitRejected, rc("map snapshot -ldev_id 256 300 -mirror_id 3").exitCode)
      << "undefined target";
  EXPECT_EQ(kExitRejected, rc("map snapshot -ldev_id 256 601 -mirror_id 3").exitCode)
      << "capacity differs";
  EXPECT_EQ(kExitRejected, rc("map snapshot -ldev_id 256 602 -mirror_id 3").exitCode)
      << "neither a V-VOL nor a DP volume";
  EXPECT_EQ(kExitNoObject, rc("map snapshot -ldev_id 256 600 -mirror_id 9").exitCode);
  EXPECT_EQ(kExitMissingArg, rc("map snapshot -ldev_id 256 -mirror_id 3").exitCode)
      << "target missing";
  ASSERT_EQ(0, rc("map snapshot -ldev_id 256 600 -mirror_id 3").exitCode);
  EXPECT_EQ(600, array().pair(256, mu)->svol);
  EXPECT_EQ(kExitRejected, rc("map snapshot -ldev_id 256 600 -mirror_id 3").exitCode)
      << "already associated";
  int mu2 = fx.addSnapshotPair(kSerial, "G", 257, 5, "PSUS");
  EXPECT_EQ(kExitRejected, rc("map snapshot -ldev_id 257 600 -mirror_id 3").exitCode)
      << "S-VOL of another";
  (void)mu2;
  // The listing by the S-VOL shows the pair from the S-VOL side.
  std::vector<std::string> rows = lines(rc("get snapshot -ldev_id 600").out);
  ASSERT_EQ(2u, rows.size());
  std::vector<std::string> cols = split(rows[1]);
  cols.resize(10);
  EXPECT_EQ((std::vector<std::string>{"G", "S-VOL", "SSUS", "412345", "600", "3", "256", "5", "100",
                                      "----"}),
            cols);
  ASSERT_EQ(0, rc("unmap snapshot -ldev_id 256 -mirror_id 3").exitCode);
  EXPECT_EQ(-1, array().pair(256, mu)->svol);
  EXPECT_EQ(kExitRejected, rc("unmap snapshot -ldev_id 256 -mirror_id 3").exitCode)
      << "nothing associated";
}

// ---- host groups and LU paths ------------------------------------------------

TEST_F(Commands, HostGroupsAndLuPaths) {
  ASSERT_EQ(0, rc("add host_grp -port CL2-B -host_grp_name QB_PRE_SNAP_HOST_GROUP").exitCode);
  ASSERT_NE(nullptr, array().hostGroup("CL2-B", 1));
  EXPECT_EQ("QB_PRE_SNAP_HOST_GROUP", array().hostGroup("CL2-B", 1)->name);
  EXPECT_EQ(kExitRejected,
            rc("add host_grp -port CL2-B -host_grp_name QB_PRE_SNAP_HOST_GROUP").exitCode);
  EXPECT_EQ(kExitNoObject, rc("add host_grp -port CL9-Z -host_grp_name X").exitCode);
  addTarget(600);
  addTarget(601);
  ASSERT_EQ(0, rc("add lun -port CL2-B-1 -ldev_id 600").exitCode);
  ASSERT_EQ(0, rc("add lun -port CL2-B-1 -ldev_id 601").exitCode);
  EXPECT_EQ((std::map<int, int>{{0, 600}, {1, 601}}), array().hostGroup("CL2-B", 1)->luns);
  Outcome dup = rc("add lun -port CL2-B-1 -ldev_id 600");
  EXPECT_EQ(kExitRejected, dup.exitCode);
  EXPECT_NE(std::string::npos, dup.err.find("An LU path has already defined in the relevant LDEV"));
  EXPECT_EQ(kExitRejected, rc("add lun -port CL2-B-1 -ldev_id 300").exitCode) << "undefined LDEV";
  // Listing by number and by name.
  EXPECT_EQ(rc("get lun -port CL2-B-1").out, rc("get lun -port CL2-B QB_PRE_SNAP_HOST_GROUP").out);
  EXPECT_EQ(3u, lines(rc("get lun -port CL2-B-1").out).size());
  EXPECT_NE(std::string::npos,
            rc("get ldev -ldev_id 600").out.find("PORTs : CL2-B-1 0 QB_PRE_SNAP_HOST_GROUP\n"));
  EXPECT_EQ(kExitRejected, rc("delete host_grp -port CL2-B QB_PRE_SNAP_HOST_GROUP").exitCode)
      << "has LUNs";
  ASSERT_EQ(0, rc("delete lun -port CL2-B-1 -ldev_id 600").exitCode);
  Outcome again = rc("delete lun -port CL2-B-1 -ldev_id 600");
  EXPECT_EQ(kExitNoObject, again.exitCode);
  EXPECT_NE(std::string::npos, again.err.find("No such Object in the RAID"));
  ASSERT_EQ(0, rc("delete lun -port CL2-B-1 -ldev_id 601").exitCode);
  // "12" as a separate word is a name, not a number.
  ASSERT_EQ(0, rc("add host_grp -port CL2-B -host_grp_name 12").exitCode);
  EXPECT_EQ(kExitNoObject, rc("delete host_grp -port CL2-B-12").exitCode);
  ASSERT_EQ(0, rc("delete host_grp -port CL2-B 12").exitCode);
  ASSERT_EQ(0, rc("delete host_grp -port CL2-B-1").exitCode);
  EXPECT_EQ(1u, array().ports["CL2-B"].hostGroups.size());
  EXPECT_EQ(kExitRejected, rc("delete host_grp -port CL2-B-0").exitCode) << "group 0 stays";
}

TEST_F(Commands, HostIoKeepsTheLuPathForItsRefusals) {
  ASSERT_EQ(0, rc("add host_grp -port CL2-B -host_grp_name client").exitCode);
  addTarget(600);
  ASSERT_EQ(0, rc("add lun -port CL2-B-1 -ldev_id 600").exitCode);
  fx.setLunHostIo(kSerial, "CL2-B", 1, 600, 2);
  for (int i = 0; i < 2; ++i) {
    Outcome busy = rc("delete lun -port CL2-B-1 -ldev_id 600");
    EXPECT_EQ(kExitRejected, busy.exitCode);
    EXPECT_NE(std::string::npos, busy.err.find("CAUSE : LU is executing host I/O."));
    EXPECT_EQ(1u, array().hostGroup("CL2-B", 1)->luns.size()) << "refusal " << i;
  }
  ASSERT_EQ(0, rc("delete lun -port CL2-B-1 -ldev_id 600").exitCode);
  EXPECT_TRUE(array().hostGroup("CL2-B", 1)->hostIo.empty());
  ASSERT_EQ(0, rc("add lun -port CL2-B-1 -ldev_id 600").exitCode);
  fx.setLunHostIo(kSerial, "CL2-B", 1, 600, -1);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(kExitRejected, rc("delete lun -port CL2-B-1 -ldev_id 600").exitCode);
  fx.setLunHostIo(kSerial, "CL2-B", 1, 600, 0);
  EXPECT_EQ(0, rc("delete lun -port CL2-B-1 -ldev_id 600").exitCode);
}

TEST_F(Commands, LunLimitPerHostGroup) {
  fx.setArray(kSerial, [](Array& a) {
    for (int i = 0; i < 2048; ++i) a.hostGroup("CL2-B", 0)->luns[i] = 256;
  });
  addTarget(600);
  EXPECT_EQ(kExitRejected, rc("add lun -port CL2-B-0 -ldev_id 600").exitCode);
}

TEST_F(Commands, PortAndHostGroupListings) {
  fx.addLoginWwn(kSerial, "CL1-A", "210000e08b0256f8");
  fx.addHostGroupWwn(kSerial, "CL1-A", 1, "210000e08b0256f8");
  fx.addHostGroupWwn(kSerial, "CL1-A", 1, "210000e08b0256f9", "node2_p1");
  fx.addHostGroup(kSerial, "CL2-B", 3, "vsm hg", 1);
  EXPECT_EQ(3u, lines(rc("get port").out).size());
  EXPECT_EQ(2u, lines(rc("get port -port CL1-A").out).size());
  EXPECT_EQ(kExitNoObject, rc("get port -port CL7-C").exitCode);
  EXPECT_EQ(3u, lines(rc("get hba_wwn -port CL1-A-1").out).size());
  EXPECT_EQ(3u, lines(rc("get host_grp -port CL2-B").out).size());
  std::vector<std::string> only = lines(rc("get host_grp -port CL2-B -resource 1").out);
  ASSERT_EQ(2u, only.size());
  EXPECT_EQ(0u, only[1].find("CL2-B  3    vsm hg"));
  EXPECT_EQ(1u, lines(rc("get host_grp -port CL2-B -resource -1").out).size())
      << "-1 matches no group";
  EXPECT_EQ(2u, lines(rc("get host_grp -port CL2-B -resource 0 -resource 9").out).size());
}

// ---- remote copy -------------------------------------------------------------

TEST_F(Commands, RaidscanListsPairsPerMu) {
  RemotePair p;
  p.ldev = 257;
  p.mu = 1;
  p.rcuSerial = "512345";
  p.partner = "768";
  fx.addRemotePair(kSerial, p);
  std::vector<std::string> mu1 =
      lines(tool("raidscan", "-p CL1-A-1 -CLI -m 1 -IH3532 -s 412345").out);
  ASSERT_EQ(5u, mu1.size());
  EXPECT_EQ((std::vector<std::string>{"CL1-A-1", "ef", "0", "0", "1", "412345", "1", "257", "P-VOL",
                                      "PAIR", "ASYNC", "512345", "768"}),
            split(mu1[2]));
  EXPECT_NE(std::string::npos, mu1[1].find("SMPL"));
  std::string mu0 = tool("raidscan", "-p CL1-A-1 -CLI -m 0 -IH3532 -s 412345").out;
  EXPECT_EQ(std::string::npos, mu0.find("P-VOL"));
  EXPECT_EQ(kExitNoObject, tool("raidscan", "-p CL1-A-9 -CLI -m 0 -IH3532 -s 412345").exitCode);
  std::vector<std::string> pdg =
      lines(tool("raidscan", "-CLI -pdg /dev/sdc -IM3532 -s 412345").out);
  ASSERT_EQ(2u, pdg.size());
  EXPECT_EQ("CL1-A-0", split(pdg[1])[0]);
  EXPECT_EQ(kExitNoObject, tool("raidscan", "-CLI -pdg /dev/sdz -IM3532 -s 412345").exitCode);
}

// ---- HORCM instances -----------------------------------------------------------

TEST_F(Commands, HorcmStartChecksTheInstanceFile) {
  struct Row {
    std::string name, text;
    int exit;
    std::string why;
  } rows[] = {
      {"missing", "", kExitHorcmStart, "is not found"},
      {"no HORCM_MON", "HORCM_CMD\n/dev/sdc \n", kExitHorcmStart, "HORCM_MON"},
      {"wrong service", horcmFileText("mahost01", 3999, "412345", {"/dev/sdc"}), kExitHorcmStart,
       "service"},
      {"no device", horcmFileText("mahost01", 3530, "412345", {}), kExitHorcmStart, "HORCM_CMD"},
      {"unknown device", horcmFileText("mahost01", 3530, "412345", {"/dev/sdq"}), kExitHorcmStart,
       "/dev/sdq"},
      {"good", horcmFileText("otherhost", 3530, "412345", {"/dev/sdc"}), 0, "starts successfully."},
  };
  for (const Row& r : rows) {
    std::string path = fx.etcDir() + "horcm3530.conf";
    std::remove(path.c_str());
    if (!r.text.empty()) {
      FILE* f = std::fopen(path.c_str(), "w");
      std::fputs(r.text.c_str(), f);
      std::fclose(f);
    }
    Outcome o = tool("horcmstart.sh", "3530");
    EXPECT_EQ(r.exit, o.exitCode) << r.name;
    EXPECT_NE(std::string::npos, (o.out + o.err).find(r.why)) << r.name << ": " << o.out << o.err;
  }
  Instance in = fx.instance(3530);
  EXPECT_TRUE(in.running);
  EXPECT_EQ("412345", in.serial);
  EXPECT_EQ("otherhost", in.host) << "the host comes from the file";
  Outcome again = tool("horcmstart.sh", "3530");
  EXPECT_EQ(1, again.exitCode);
  EXPECT_EQ("starting HORCM inst 3530\nHORCM inst 3530 has already been running.\n", again.out);
  // Strict mode: the host must be this host, the marker the array.
  tool("horcmshutdown.sh", "3530");
  fx.setStrictHorcm(true, "mahost01");
  EXPECT_EQ(kExitHorcmStart, tool("horcmstart.sh", "3530").exitCode);
  fx.writeHorcmFile(3530, "mahost01", "999999", {"/dev/sdc"});
  EXPECT_EQ(kExitHorcmStart, tool("horcmstart.sh", "3530").exitCode);
  fx.writeHorcmFile(3530, "mahost01", "412345", {"/dev/sdc"});
  EXPECT_EQ(0, tool("horcmstart.sh", "3530").exitCode);
}

TEST_F(Commands, HorcmShutdownStopsAndLogsOut) {
  Outcome o = tool("horcmshutdown.sh", "3532");
  EXPECT_EQ(0, o.exitCode);
  EXPECT_EQ("inst 3532:\nhorcmshutdown inst 3532 !!!\n", o.out);
  EXPECT_FALSE(fx.instance(kInst).running);
  EXPECT_FALSE(fx.instance(kInst).loggedIn);
  EXPECT_EQ(kExitNotAttached, rc("get pool").exitCode);
  Outcome again = tool("horcmshutdown.sh", "3532");
  EXPECT_EQ(1, again.exitCode);
  EXPECT_NE(std::string::npos, again.err.find("has already been stopped."));
}

TEST_F(Commands, RaidqryVersionAndHostRows) {
  Outcome h = tool("raidqry", "-h");
  EXPECT_EQ(0, h.exitCode);
  EXPECT_NE(std::string::npos, h.out.find("Ver&Rev: 01-40-03/01\n"));
  fx.setCciVersion("01-32-03/01");
  EXPECT_NE(std::string::npos, tool("raidqry", "-h").out.find("Ver&Rev: 01-32-03/01\n"));
  std::vector<std::string> l = lines(tool("raidqry", "-l -IM3532 -s 412345").out);
  ASSERT_EQ(2u, l.size());
  EXPECT_EQ((std::vector<std::string>{"1", "---", "mahost01", "01-32-03/01", "0", "412345",
                                      "80-06-70/00", "512000"}),
            split(l[1]));
  EXPECT_EQ(kExitUnknownOption, tool("raidqry", "-x").exitCode);
}

// ---- command status and journal ------------------------------------------------

TEST_F(Commands, CommandStatusResetAndRow) {
  std::vector<std::string> row = split(lines(rc("get command_status").out)[1]);
  EXPECT_EQ("0", row[3]);
  EXPECT_EQ("-", row[5]);
  fx.update([](State& s) {
    s.status("cciuser", kSerial).errCnt = 2;
    s.status("cciuser", kSerial).description = "[EX_CMDRJE] The requested LDEV is already defined";
  });
  std::string line = lines(rc("get command_status").out)[1];
  EXPECT_EQ("2", split(line)[3]);
  EXPECT_NE(std::string::npos,
            line.find("412345   [EX_CMDRJE] The requested LDEV is already defined"));
  ASSERT_EQ(0, rc("reset command_status").exitCode);
  EXPECT_EQ("0", split(lines(rc("get command_status").out)[1])[3]);
}

TEST_F(Commands, JournalRecordsEveryInvocation) {
  fx.addUser("cciuser", "s3cr3t");
  tool("raidcom", "-login cciuser s3cr3t -IM3532");
  rc("get ldev -ldev_id 256");
  rc("get ldev -ldev_id 25x");
  tool("raidqry", "-h");
  std::vector<JournalEntry> j = fx.journal();
  ASSERT_EQ(4u, j.size());
  EXPECT_EQ("raidcom", j[0].tool);
  EXPECT_EQ((std::vector<std::string>{"-login", "cciuser", "****", "-IM3532"}), j[0].argv);
  EXPECT_EQ(0, j[0].exitCode);
  EXPECT_EQ("3532", j[1].instance);
  EXPECT_EQ("412345", j[1].serial);
  EXPECT_EQ(0, j[1].exitCode);
  EXPECT_NE(std::string::npos, j[1].out.find("LDEV : 256"));
  EXPECT_EQ(kExitInvalidArg, j[2].exitCode);
  EXPECT_NE(std::string::npos, j[2].err.find("25x"));
  EXPECT_EQ("", j[3].instance);
  for (size_t i = 1; i < j.size(); ++i) {
    EXPECT_EQ(j[i - 1].tick + 1, j[i].tick);
    EXPECT_EQ(std::string::npos, j[i].line().find("s3cr3t")) << "password only on the login line";
  }
  EXPECT_EQ(2u, fx.journal("raidcom", "get ldev").size());
  EXPECT_EQ(0u, fx.journal("raidcom", "-ldev_id 2").size()) << "words match exactly";
  fx.clearJournal();
  EXPECT_TRUE(fx.journal().empty());
}

}  // namespace
