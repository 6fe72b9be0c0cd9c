// Replication pairs, copy groups and Q-markers: the parsers over exact,
// simulator-rendered and hostile text, and the operations' command lines,
// Q-marker rules and runs against the simulator's tools.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "array/HDSParseReplication.h"
#include "array/tests/support/HDSDiscoveryTestBed.h"
#include "array/tests/support/HDSRowCheck.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"
#include "host/ZRSOSnapInfo.h"
#include "sim/ccisim_fixture.h"

namespace {

using namespace hdsparse;

const char kScanHeader[] =
    "PORT#    /ALPA/C  TID#  LU#  Seq#    Num  LDEV#  P/S    Status  Fence  P-Seq#  P-LDEV#\n";

struct PairRow {
  const char* column6;
  const char* ldev;
  const char* attr;
  const char* status;
  const char* fence;
  const char* rcu;
  const char* partner;
  int mu;
};

void expectPairs(const std::vector<HDSPairInfo>& got, const std::vector<PairRow>& want,
                 const std::string& context) {
  hdstest::expectEachRow(got, want, context, [](const HDSPairInfo& g, const PairRow& w) {
    EXPECT_EQ(g.column6, w.column6);
    EXPECT_EQ(g.ldevId, w.ldev);
    EXPECT_EQ(g.volAttr, w.attr);
    EXPECT_EQ(g.pairStatus, w.status);
    EXPECT_EQ(g.fence, w.fence);
    EXPECT_EQ(g.rcuSerial, w.rcu);
    EXPECT_EQ(g.partnerLdevId, w.partner);
    EXPECT_EQ(g.muNumber, w.mu);
  });
}

TEST(PairScanParser, ExactLayout) {
  const std::string text =
      std::string(kScanHeader) +
      "CL1-A-1  ef  5    0     0    412345  1    256    P-VOL  PAIR    ASYNC  512345  768\n"
      "CL1-A-1  ef  5    0     1    412345  1    257    SMPL   -       -      -       -\n";
  std::vector<HDSPairInfo> pairs;
  EXPECT_EQ(parseRemotePairList(text, 2, false, pairs).rows, 1u);
  expectPairs(pairs, {{"412345", "256", "P-VOL", "PAIR", "ASYNC", "512345", "768", 2}}, "exact");
}

TEST(PairScanParser, KeepRules) {
  const std::string text = std::string(kScanHeader) +
                           "CL1-A-1 ef 5 0 0 412345 1 256 P-VOL PAIR ASYNC 512345 768\n"
                           "CL1-A-1 ef 5 0 1 412345 1 257 S-VOL PAIR ASYNC 512345 769\n"
                           "CL1-A-1 ef 5 0 2 412345 1 258 P-VOL PAIR ASYNC ---- 770\n"
                           "CL1-A-1 ef 5 0 3 412345 1 259 P-VOL PSUS SMPL 512345 771\n"
                           "CL1-A-1 ef 5 0 4 412345 1 260 P-VOL COPY NEVER 512345 7 7 2\n";
  // Not a GAD job: S-VOL rows, "----" RCUs and SMPL lines go.
  std::vector<HDSPairInfo> pairs;
  EXPECT_EQ(parseRemotePairList(text, 0, false, pairs).rows, 2u);
  expectPairs(pairs,
              {{"412345", "256", "P-VOL", "PAIR", "ASYNC", "512345", "768", 0},
               {"412345", "260", "P-VOL", "COPY", "NEVER", "512345", "772", 0}},
              "not GAD");
  // GAD job: the S-VOL row is kept too; appended after what was there.
  EXPECT_EQ(parseRemotePairList(text, 1, true, pairs).rows, 3u);
  ASSERT_EQ(pairs.size(), 5u);
  EXPECT_EQ(pairs[3].volAttr, "S-VOL");
  EXPECT_EQ(pairs[3].muNumber, 1);
  EXPECT_EQ(pairs[3].partnerLdevId, "769");
}

TEST(PairScanParser, HostileText) {
  const std::string hdr = kScanHeader;
  struct Case {
    const char* what;
    std::string text;
    std::vector<PairRow> want;
  } cases[] = {
      {"empty", "", {}},
      {"header only", hdr, {}},
      {"no final newline: the last row is read",
       hdr +
           "P a 5 0 0 412345 1 256 P-VOL PAIR ASYNC 512345 768\nP a 5 0 0 412345 1 257 P-VOL PAIR "
           "ASYNC 512345 769",
       {{"412345", "256", "P-VOL", "PAIR", "ASYNC", "512345", "768", 0},
        {"412345", "257", "P-VOL", "PAIR", "ASYNC", "512345", "769", 0}}},
      {"CRLF",
       hdr + "P a 5 0 0 412345 1 256 P-VOL PAIR ASYNC 512345 768\r\n",
       {{"412345", "256", "P-VOL", "PAIR", "ASYNC", "512345", "768", 0}}},
      {"trailing blanks are not part of the partner",
       hdr + "P a 5 0 0 412345 1 256 P-VOL PAIR ASYNC 512345 768 \t \n",
       {{"412345", "256", "P-VOL", "PAIR", "ASYNC", "512345", "768", 0}}},
      {"a row ending at the RCU serial is cut short: nothing is read",
       hdr + "P a 5 0 0 412345 1 255 P-VOL PAIR ASYNC 512345 767\n"
             "P a 5 0 0 412345 1 256 P-VOL PAIR ASYNC 512345\n",
       {}},
      {"leading blanks read as a left-aligned row",
       hdr + "  P a 5 0 0 412345 1 256 P-VOL PAIR ASYNC 512345 768\n",
       {{"412345", "256", "P-VOL", "PAIR", "ASYNC", "512345", "768", 0}}},
      {"SMPL inside any column skips the line",
       hdr + "P a 5 0 0 412345 1 256 P-VOL PAIR ASYNC 512345 SMPLX\n",
       {}},
  };
  for (const Case& c : cases) {
    std::vector<HDSPairInfo> pairs;
    parseRemotePairList(c.text, 0, false, pairs);
    expectPairs(pairs, c.want, c.what);
  }
}

TEST(PairScanParser, HugeScan) {
  std::string text = kScanHeader;
  const int kRows = 100000;
  for (int i = 0; i < kRows; ++i) {
    text += "CL1-A-1 ef 5 0 " + std::to_string(i) + " 412345 1 " + std::to_string(i) +
            (i % 2 ? " P-VOL PAIR ASYNC 512345 " : " P-VOL PAIR ASYNC ---- ") +
            std::to_string(i + 1) + "\n";
  }
  std::vector<HDSPairInfo> pairs;
  EXPECT_EQ(parseRemotePairList(text, 2, false, pairs).rows, static_cast<size_t>(kRows / 2));
  EXPECT_EQ(pairs.back().ldevId, std::to_string(kRows - 1));
  EXPECT_EQ(pairs.back().partnerLdevId, std::to_string(kRows));
}

struct GroupRow {
  const char* name;
  const char* ldevGroup;
  int mu;
  int journal;
};

void expectGroups(const std::vector<HDSCopyGroup>& got, const std::vector<GroupRow>& want,
                  const std::string& context) {
  hdstest::expectEachRow(got, want, context, [](const HDSCopyGroup& g, const GroupRow& w) {
    EXPECT_EQ(g.copyGroupName, w.name);
    EXPECT_EQ(g.ldevGroupName, w.ldevGroup);
    EXPECT_EQ(g.muNumber, w.mu);
    EXPECT_EQ(g.journalId, w.journal);
  });
}

const char kCopyGroups[] =
    "COPY_GROUP  LDEV_GROUP  MU#  JID#  Serial#\n"
    "CG_UR01     DG_UR01     h1   3     412345\n"
    "CG_TC01     DG_TC01     0    -     412345\n";

TEST(CopyGroupParser, ExactLayoutAndFilter) {
  std::vector<HDSCopyGroup> groups;
  EXPECT_EQ(parseCopyGroupList(kCopyGroups, "", groups).rows, 2u);
  expectGroups(groups, {{"CG_UR01", "DG_UR01", 1, 3}, {"CG_TC01", "DG_TC01", 0, -1}}, "all");
  groups.clear();
  EXPECT_EQ(parseCopyGroupList(kCopyGroups, "CG_TC01", groups).rows, 1u);
  expectGroups(groups, {{"CG_TC01", "DG_TC01", 0, -1}}, "filtered");
  groups.clear();
  EXPECT_EQ(parseCopyGroupList(kCopyGroups, "cg_tc01", groups).rows, 0u) << "names compare exactly";
}

TEST(CopyGroupParser, MuAndJournalColumns) {
  const std::string hdr = "COPY_GROUP LDEV_GROUP MU# JID# Serial#\n";
  struct Case {
    const char* mu;
    const char* jid;
    int wantMu;
    int wantJid;
  } cases[] = {
      {"h1", "3", 1, 3},     {"h", "0", -1, 0},     {"-", "-", -1, -1},   {"2", "12x", 2, 12},
      {"hh1", "h3", -1, -1}, {"h12", "007", 12, 7}, {"x1", "+3", -1, -1},
  };
  for (const Case& c : cases) {
    std::vector<HDSCopyGroup> groups;
    parseCopyGroupList(hdr + "CG DG " + c.mu + " " + c.jid + " 412345\n", "", groups);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].muNumber, c.wantMu) << c.mu;
    EXPECT_EQ(groups[0].journalId, c.wantJid) << c.jid;
  }
}

TEST(CopyGroupParser, HostileText) {
  const std::string hdr = "COPY_GROUP LDEV_GROUP MU# JID# Serial#\n";
  struct Case {
    const char* what;
    std::string text;
    std::vector<GroupRow> want;
  } cases[] = {
      {"empty", "", {}},
      {"header only", hdr, {}},
      {"no final newline", hdr + "CG DG h1 3 412345", {{"CG", "DG", 1, 3}}},
      {"CRLF", hdr + "CG DG h1 3 412345\r\n", {{"CG", "DG", 1, 3}}},
      {"a row ending at the journal column is cut short: nothing is read",
       hdr + "CG DG h1 3 412345\nCG DG h1 3\n",
       {}},
      {"name only refuses the listing", hdr + "CG\n", {}},
      {"leading blanks read as a left-aligned row", hdr + "  CG DG h1 3 412345\n",
       {{"CG", "DG", 1, 3}}},
      {"two device groups of one copy group, MU \"-\" on the second",
       hdr + "CG DGP 0 - 412345\nCG DGS - - 412345\n",
       {{"CG", "DGP", 0, -1}, {"CG", "DGS", -1, -1}}},
  };
  for (const Case& c : cases) {
    std::vector<HDSCopyGroup> groups;
    parseCopyGroupList(c.text, "", groups);
    expectGroups(groups, c.want, c.what);
  }
}

// Both readers of pairsyncwait rows: the Q-marker of -nowait (third column)
// and the status of a wait (fourth column), leading blanks skipped.
TEST(QMarkerParser, PairsyncwaitRows) {
  const std::string hdr = "UnitID   CTGID     Q-Marker     Status    Q-Num\n";
  enum Reader { kMarker, kStatus };
  struct Case {
    const char* what;
    Reader reader;
    std::string text;
    bool found;
    const char* want;
  } cases[] = {
      {"exact, last line wins", kMarker,
       hdr + "0       3      01003408ee  NOWAIT  2\n1       3      01003408ef  NOWAIT  2\n", true,
       "01003408ef"},
      {"right-aligned rows: leading blanks skipped", kMarker,
       hdr + "     0       3     01003408ef   NOWAIT        2\n", true, "01003408ef"},
      {"empty", kMarker, "", false, "caller"},
      {"header only", kMarker, hdr, false, "caller"},
      {"no final newline", kMarker, hdr + "0 3 01003408ef NOWAIT 2", true, "01003408ef"},
      {"CRLF", kMarker, hdr + "0 3 01003408ef NOWAIT 2\r\n", true, "01003408ef"},
      {"third column last on its line is not taken", kMarker, hdr + "0 3 01003408ef\n", false,
       "caller"},
      {"a later short line is a cut row: no marker at all", kMarker,
       hdr + "0 3 0a NOWAIT 2\n1 3\n", false, "caller"},
      {"columns found by the header's words", kMarker,
       "Q-MARKER UnitID CTGID Status Q-Num\n01003408ef 0 3 NOWAIT 2\n", true, "01003408ef"},
      {"right-aligned status row", kStatus,
       hdr + "     0       3     01003408ef   DONE          2\n", true, "DONE"},
      {"status row at column 0", kStatus, hdr + "0 3 01003408ef TIMEOUT 2\n", true, "TIMEOUT"},
      {"with QM-Cnt", kStatus, hdr + "   0   3   01003408ef   BROKEN   2   5\n", true, "BROKEN"},
      {"status row without newline", kStatus, hdr + "   0   3   0a   CHANGED   2", true, "CHANGED"},
      {"status: header only", kStatus, hdr, false, "caller"},
      {"status last on its line", kStatus, hdr + "   0   3   0a   DONE\n", false, "caller"},
  };
  for (const Case& c : cases) {
    std::string got = "caller";
    const bool found = c.reader == kMarker ? parseQMarkerNowait(c.text, got)
                                           : parsePairSyncWaitStatus(c.text, got);
    EXPECT_EQ(found, c.found) << c.what;
    EXPECT_EQ(got, c.want) << c.what;
  }
}

TEST(QMarkerValue, HexadecimalTextOnly) {
  struct Case {
    const char* text;
    bool ok;
    uint64_t value;
  } cases[] = {
      {"01003408ef", true, 0x01003408efULL},
      {"ABCDEF", true, 0xabcdefULL},
      {"0", true, 0},
      {"ffffffffffffffff", true, 0xffffffffffffffffULL},
      {"0000ffffffffffffffff", true, 0xffffffffffffffffULL},
      {"10000000000000000", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"0x1f", false, 0},
      {"1f ", false, 0},
      {" 1f", false, 0},
      {"+1", false, 0},
      {"12g", false, 0},
      {"NOWAIT", false, 0},
  };
  for (const Case& c : cases) {
    uint64_t v = 77;
    EXPECT_EQ(parseQMarkerValue(c.text, v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 77u) << c.text;
  }
}

// ---- Parsers against the simulator's renderers ---------------------------

TEST(ReplicationParsers, SimulatorRendering) {
  ccisim::Array a;
  a.serial = "412345";
  ccisim::HostGroup g;
  g.gid = 4;
  g.name = "hg a";
  g.luns = {{0, 256}, {1, 257}, {2, 258}, {3, 259}};
  a.ports["CL1-A"].name = "CL1-A";
  a.ports["CL1-A"].hostGroups[4] = g;
  a.remotePairs = {
      {256, 1, "P-VOL", "PAIR", "ASYNC", "512345", "768"},
      {257, 1, "S-VOL", "PAIR", "NEVER", "512345", "769"},
      {258, 1, "P-VOL", "COPY", "ASYNC", "----", "770"},
      {259, 0, "P-VOL", "PAIR", "ASYNC", "512345", "771"},
  };
  std::vector<HDSPairInfo> pairs;
  EXPECT_EQ(parseRemotePairList(ccisim::renderRaidscanPort(a, "CL1-A", 4, 1), 1, false, pairs).rows, 1u);
  EXPECT_EQ(parseRemotePairList(ccisim::renderRaidscanPort(a, "CL1-A", 4, 1), 1, true, pairs).rows, 2u);
  expectPairs(pairs,
              {{"412345", "256", "P-VOL", "PAIR", "ASYNC", "512345", "768", 1},
               {"412345", "256", "P-VOL", "PAIR", "ASYNC", "512345", "768", 1},
               {"412345", "257", "S-VOL", "PAIR", "NEVER", "512345", "769", 1}},
              "rendered");

  ccisim::CopyGroup ur;
  ur.name = "CG_UR01";
  ur.ldevGroup = "DG_UR01";
  ccisim::CopyGroup tc;
  tc.name = "CG_TC01";
  tc.ldevGroup = "DG_TC01";
  tc.mu = "0";
  tc.jid = "-";
  a.copyGroups[ur.name] = ur;
  a.copyGroups[tc.name] = tc;
  std::vector<HDSCopyGroup> groups;
  parseCopyGroupList(ccisim::renderCopyGroups(a), "", groups);
  expectGroups(groups, {{"CG_TC01", "DG_TC01", 0, -1}, {"CG_UR01", "DG_UR01", 1, 3}}, "rendered");

  std::string nowait;
  std::string status;
  const std::string text = ccisim::renderPairsyncwait(ur, 0x01003408efULL, "NOWAIT");
  ASSERT_TRUE(parseQMarkerNowait(text, nowait));
  ASSERT_TRUE(parsePairSyncWaitStatus(text, status));
  EXPECT_EQ(nowait, "01003408ef");
  EXPECT_EQ(status, "NOWAIT");
}

// ---- Operations through a recording runner --------------------------------

using Reply = HDSRecordingRunner::Reply;

class ReplicationOps : public ::testing::Test {
 protected:
  HDSDiscoveryTestBed bed;
  static std::string scanLine(int mu) {
    return "/cci/raidscan   -p CL1-A-1 -CLI -m " + std::to_string(mu) + HDSDiscoveryTestBed::ih();
  }
  static std::string scan(const std::string& rows) { return std::string(kScanHeader) + rows; }
};

TEST_F(ReplicationOps, PairScanRunsThreeMirrorUnits) {
  bed.recorder.on("-m 0", HDSRecordingRunner::ok(
                              scan("CL1-A-1 ef 5 0 0 412345 1 256 P-VOL PAIR ASYNC 512345 768\n")));
  bed.recorder.on("-m 1", HDSRecordingRunner::ok(
                              scan("CL1-A-1 ef 5 0 0 412345 1 256 S-VOL PAIR ASYNC 512345 768\n"
                                   "CL1-A-1 ef 5 0 0 412345 1 257 SMPL - - - -\n")));
  bed.recorder.on("-m 2", HDSRecordingRunner::ok(
                              scan("CL1-A-1 ef 5 0 0 412345 1 258 P-VOL PSUS NEVER 512345 770\n")));
  std::vector<HDSPairInfo> pairs(4);
  EXPECT_EQ(bed.recording().getRemotePairInfoForHostGroup("CL1-A-1", pairs), 0);
  EXPECT_EQ(bed.recorder.lines(),
            (std::vector<std::string>{scanLine(0), scanLine(1), scanLine(2)}));
  expectPairs(pairs,
              {{"412345", "256", "P-VOL", "PAIR", "ASYNC", "512345", "768", 0},
               {"412345", "258", "P-VOL", "PSUS", "NEVER", "512345", "770", 2}},
              "not GAD");
  EXPECT_TRUE(bed.log.logged("Found [1] pairs for HostGroup-[CL1-A-1] on MU-[0]"));
  EXPECT_TRUE(bed.log.logged("Found [0] pairs for HostGroup-[CL1-A-1] on MU-[1]"));

  bed.log.setReplicationType(ZRSO::REPLICATION_TYPE_GAD);
  EXPECT_EQ(bed.recording().getRemotePairInfoForHostGroup("CL1-A-1", pairs), 0);
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[1].volAttr, "S-VOL");
  EXPECT_EQ(pairs[1].muNumber, 1);
}

TEST_F(ReplicationOps, PairScanStopsAtTheFirstFailure) {
  bed.recorder.on("-m 0", HDSRecordingRunner::ok(
                              scan("CL1-A-1 ef 5 0 0 412345 1 256 P-VOL PAIR ASYNC 512345 768\n")));
  bed.recorder.on("-m 1", HDSRecordingRunner::exit(251, "", "raidscan: [EX_ATTHOR]\n"));
  std::vector<HDSPairInfo> pairs;
  EXPECT_EQ(bed.recording().getRemotePairInfoForHostGroup("CL1-A-1", pairs), 1);
  EXPECT_EQ(bed.recorder.lines().size(), 2u);
  ASSERT_EQ(pairs.size(), 1u) << "rows of the mirror units read before stay";
  EXPECT_EQ(bed.errorCode(), 62601);
  EXPECT_EQ(bed.errorText(), "Failed to  get pair info for HostGroup-CL1-A-1");
  EXPECT_TRUE(bed.log.logged(
      "Failed to get pair info for HostGroup-[CL1-A-1], MU-[1] using raidscan command"));
}

TEST_F(ReplicationOps, PairScanRefusesAnEmptyHostGroupAndQuotesOthers) {
  std::vector<HDSPairInfo> pairs(1);
  EXPECT_EQ(bed.recording().getRemotePairInfoForHostGroup("", pairs), 1);
  EXPECT_TRUE(bed.recorder.lines().empty());
  EXPECT_TRUE(pairs.empty());
  EXPECT_EQ(bed.errorText(), "Invalid input: HostGroup-[] is not valid.");
  EXPECT_EQ(bed.recording().getRemotePairInfoForHostGroup("CL1-A\n-1", pairs), 1);
  EXPECT_TRUE(bed.recorder.lines().empty());

  bed.recorder.on("raidscan", HDSRecordingRunner::ok(scan("")));
  EXPECT_EQ(bed.recording().getRemotePairInfoForHostGroup("CL1-A $(touch x)-1", pairs), 0);
  ASSERT_EQ(bed.recorder.lines().size(), 3u);
  EXPECT_EQ(bed.recorder.lines()[0],
            "/cci/raidscan   -p 'CL1-A $(touch x)-1' -CLI -m 0" + HDSDiscoveryTestBed::ih());
}

TEST_F(ReplicationOps, CopyGroupListAndFilter) {
  bed.recorder.on(" get copy_grp ", HDSRecordingRunner::ok(kCopyGroups));
  std::vector<HDSCopyGroup> groups(1);
  groups[0].copyGroupName = "kept";
  EXPECT_EQ(bed.recording().getCopyGroup(groups, "CG_UR01"), 0);
  EXPECT_EQ(bed.recorder.lines(),
            (std::vector<std::string>{"/cci/raidcom  get copy_grp  " + HDSDiscoveryTestBed::im()}));
  expectGroups(groups, {{"kept", "", -1, -1}, {"CG_UR01", "DG_UR01", 1, 3}}, "appended");
  EXPECT_TRUE(bed.log.logged("Found [2] CopyGroups post filtering."));

  bed.recorder = HDSRecordingRunner();
  bed.recorder.on(" get copy_grp ", HDSRecordingRunner::exit(1));
  groups.clear();
  EXPECT_EQ(bed.recording().getCopyGroup(groups, ""), 1);
  EXPECT_EQ(bed.errorCode(), 62601);
  EXPECT_EQ(bed.errorText(), "Failed to get the Copy Group list.");
}

const char kSyncHeader[] = "UnitID  CTGID  Q-Marker    Status  Q-Num\n";
const std::string kNowaitLine =
    std::string("/cci/pairsyncwait   -g CG1 -nowait -t 99999 ") + HDSDiscoveryTestBed::ihOnly();

TEST_F(ReplicationOps, QMarkerReadGoldenLineAndLastRow) {
  bed.recorder.on("-nowait",
                  HDSRecordingRunner::ok(std::string(kSyncHeader) + "0 3 01003408ee NOWAIT 2\n"
                                                                    "1 3 01003408ef NOWAIT 2\n"));
  std::string q = "old";
  EXPECT_EQ(bed.recording().getQMarkerForCopyGroup("CG1", q), 0);
  EXPECT_EQ(bed.recorder.lines(), (std::vector<std::string>{kNowaitLine}));
  EXPECT_EQ(q, "01003408ef");
  EXPECT_TRUE(bed.log.logged("CopyGroup-[CG1], Q-Marker-[01003408ef]"));
}

TEST_F(ReplicationOps, QMarkerReadFailsWithoutAHexadecimalMarker) {
  const Reply replies[] = {
      HDSRecordingRunner::ok(""),
      HDSRecordingRunner::ok(kSyncHeader),
      HDSRecordingRunner::ok(std::string(kSyncHeader) + "0 3 01003408ef"),
      HDSRecordingRunner::ok(std::string(kSyncHeader) + "0 3 - NOWAIT 2\n"),
      HDSRecordingRunner::ok(std::string(kSyncHeader) + "0 3 0x1f NOWAIT 2\n"),
      HDSRecordingRunner::ok(std::string(kSyncHeader) + "0 3 01003408ef NOWAIT 2\n0 3 zz x y\n"),
      HDSRecordingRunner::ok(std::string(kSyncHeader) + "0 3 11112222333344445 NOWAIT 2\n"),
      HDSRecordingRunner::exit(2, std::string(kSyncHeader) + "0 3 01003408ef NOWAIT 2\n"),
      HDSRecordingRunner::timeout(),
  };
  for (const Reply& r : replies) {
    bed.recorder = HDSRecordingRunner();
    bed.recorder.on("-nowait", r);
    std::string q = "caller";
    EXPECT_EQ(bed.recording().getQMarkerForCopyGroup("CG1", q), 1) << r.out;
    EXPECT_EQ(q, "caller") << r.out;
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText(), "Failed to find QMarker for the CopyGroup-[CG1]") << r.out;
  }
}

TEST_F(ReplicationOps, QMarkerReadRefusesAnEmptyGroupAndQuotesOthers) {
  std::string q;
  EXPECT_EQ(bed.recording().getQMarkerForCopyGroup("", q), 1);
  EXPECT_TRUE(bed.recorder.lines().empty());
  EXPECT_EQ(bed.errorText(), "Invalid input: CopyGroup-[] is not valid.");

  bed.recorder.on("-nowait", HDSRecordingRunner::ok(std::string(kSyncHeader) + "0 3 0a x 2\n"));
  EXPECT_EQ(bed.recording().getQMarkerForCopyGroup("CG 1;rm -rf x", q), 0);
  EXPECT_EQ(bed.recorder.lines(),
            (std::vector<std::string>{"/cci/pairsyncwait   -g \"CG 1;rm -rf x\" -nowait -t 99999 " +
                                      HDSDiscoveryTestBed::ihOnly()}));
}

TEST_F(ReplicationOps, PairSyncWaitOutcomes) {
  const std::string hdr = kSyncHeader;
  struct Case {
    const char* what;
    Reply reply;
    int result;
    bool committed;
    const char* error;  // nullptr: the pair is not checked
  } cases[] = {
      {"exit 0 (DONE) commits without reading", HDSRecordingRunner::ok("garbage"), 0, true,
       nullptr},
      // TIMEOUT rows show the marker waited for: never compared.
      {"exit 1 (TIMEOUT), row above",
       HDSRecordingRunner::exit(1, hdr + "  0  3  01003408f0  TIMEOUT  1\n"), 0, false,
       "Q-Marker not committed."},
      {"exit 1 (TIMEOUT), row equal",
       HDSRecordingRunner::exit(1, hdr + "  0  3  01003408ef  TIMEOUT  1\n"), 0, false,
       "Q-Marker not committed."},
      {"exit 1, no data row", HDSRecordingRunner::exit(1, hdr), 0, false,
       "Q-Marker not committed."},
      {"exit 2 (BROKEN)", HDSRecordingRunner::exit(2, hdr + "  0  3  01003408ef  BROKEN  1\n"), 1,
       false, "Failed to check Q-Marker-[01003408ef] commit."},
      {"exit 3 (CHANGED)", HDSRecordingRunner::exit(3, hdr + "  0  3  01003408ef  CHANGED  1\n"), 1,
       false, "Failed to check Q-Marker-[01003408ef] commit."},
      {"exit 239 (no group)", HDSRecordingRunner::exit(239, "", "[EX_ENOGRP]"), 1, false,
       "Failed to check Q-Marker-[01003408ef] commit."},
      {"time-out", HDSRecordingRunner::timeout(), 1, false,
       "Failed to check Q-Marker-[01003408ef] commit."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bed.recorder = HDSRecordingRunner();
    bed.recorder.on(" -m ", c.reply);
    bool committed = !c.committed;
    EXPECT_EQ(bed.recording().pairSyncWait("CG1", "01003408ef", 60, committed), c.result);
    EXPECT_EQ(committed, c.committed);
    EXPECT_EQ(bed.recorder.lines(),
              (std::vector<std::string>{"/cci/pairsyncwait   -g CG1 -m 01003408ef -t 600" +
                                        HDSDiscoveryTestBed::ihOnly()}));
    if (c.committed) {
      EXPECT_TRUE(bed.log.logged("CopyGroup-[CG1], Q-Marker-[01003408ef] committed."));
    }
    if (c.error != nullptr) {
      EXPECT_EQ(bed.errorCode(), 62601);
      EXPECT_EQ(bed.errorText(), c.error);
    }
  }
}

TEST_F(ReplicationOps, PairSyncWaitNeverSendsAnInvalidMarker) {
  for (const char* q : {"", "-", "xyz", "1f;touch /tmp/x", "0x1f", "1 2"}) {
    bed.recorder = HDSRecordingRunner();
    bool committed = true;
    EXPECT_EQ(bed.recording().pairSyncWait("CG1", q, 60, committed), 0) << q;
    EXPECT_FALSE(committed) << q;
    EXPECT_TRUE(bed.recorder.lines().empty()) << q;
    EXPECT_EQ(bed.errorText(), "Q-Marker not committed.") << q;
  }
  bool committed = true;
  EXPECT_EQ(bed.recording().pairSyncWait("", "0a", 60, committed), 1);
  EXPECT_FALSE(committed);
  EXPECT_TRUE(bed.recorder.lines().empty());
  EXPECT_EQ(bed.errorText(), "Invalid input: CopyGroup-[] is not valid.");
}

TEST_F(ReplicationOps, PairSyncWaitStaysBelowTheCommandTimeout) {
  struct Case {
    int commandTimeout;
    int seconds;
    int sent;
  } cases[] = {
      {300, 60, 60}, {300, 295, 295}, {300, 296, 295}, {300, 99999, 295},
      {30, 60, 25},  {30, 0, 1},      {30, -7, 1},     {3, 60, 1},
  };
  for (const Case& c : cases) {
    bed.recorder = HDSRecordingRunner();
    bed.recorder.on(" -m ", HDSRecordingRunner::ok());
    ZRHDSRaidcomImplementer& impl = bed.recording();
    ZRHDSRaidcomTestPeer::setCommandTimeout(impl, c.commandTimeout);
    bool committed = false;
    EXPECT_EQ(impl.pairSyncWait("CG1", "0a", c.seconds, committed), 0);
    ASSERT_EQ(bed.recorder.lines().size(), 1u);
    // -t counts 100 ms units.
    EXPECT_EQ(bed.recorder.lines()[0], "/cci/pairsyncwait   -g CG1 -m 0a -t " +
                                           std::to_string(c.sent * 10) +
                                           HDSDiscoveryTestBed::ihOnly())
        << c.commandTimeout << " " << c.seconds;
    EXPECT_EQ(bed.recorder.timeouts()[0], c.commandTimeout);
  }
}

// ---- Operations against the simulator's tools -----------------------------

// A Universal Replicator copy group whose remote side never catches up.
ccisim::CopyGroup laggingGroup() {
  ccisim::CopyGroup g;
  g.name = "CG_UR01";
  g.ldevGroup = "DG_UR01";
  g.qIssued = 0x01003408f0ULL;
  g.qCommitted = 0x01003408eeULL;
  g.commitAfterWaits = -1;
  return g;
}

TEST(ReplicationSimulator, PairsCopyGroupsAndQMarkers) {
  HDSDiscoveryTestBed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  const std::string serial = HDSDiscoveryTestBed::kSerial;
  sim.addPort(serial, "CL1-A", "50060e8007dd3300");
  sim.addHostGroup(serial, "CL1-A", 1, "hg db 01");
  sim.addSourceLdev(serial, 256, 2097152);
  sim.addSourceLdev(serial, 257, 2097152);
  sim.addLun(serial, "CL1-A", 1, 0, 256);
  sim.addLun(serial, "CL1-A", 1, 1, 257);
  sim.addRemotePair(serial, {256, 1, "P-VOL", "PAIR", "ASYNC", "512345", "768"});
  sim.addRemotePair(serial, {257, 2, "S-VOL", "PAIR", "NEVER", "512345", "769"});
  sim.addCopyGroup(serial, laggingGroup());

  std::vector<HDSPairInfo> pairs;
  ASSERT_EQ(impl.getRemotePairInfoForHostGroup("CL1-A-1", pairs), 0) << bed.errorText();
  expectPairs(pairs, {{serial.c_str(), "256", "P-VOL", "PAIR", "ASYNC", "512345", "768", 1}},
              "sim pairs");
  EXPECT_EQ(sim.journal("raidscan", "-p CL1-A-1").size(), 3u);

  std::vector<HDSCopyGroup> groups;
  ASSERT_EQ(impl.getCopyGroup(groups, "CG_UR01"), 0) << bed.errorText();
  expectGroups(groups, {{"CG_UR01", "DG_UR01", 1, 3}}, "sim groups");

  std::string q;
  ASSERT_EQ(impl.getQMarkerForCopyGroup("CG_UR01", q), 0) << bed.errorText();
  uint64_t value = 0;
  ASSERT_TRUE(parseQMarkerValue(q, value)) << q;

  EXPECT_EQ(impl.getQMarkerForCopyGroup("CG_NONE", q), 1);
}

// pairsyncwait -m with -t in 100 ms units against the simulator's tool.
TEST(ReplicationSimulator, PairSyncWaitAgainstTheTool) {
  HDSDiscoveryTestBed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  const std::string serial = HDSDiscoveryTestBed::kSerial;
  sim.addCopyGroup(serial, laggingGroup());
  std::string q;
  ASSERT_EQ(impl.getQMarkerForCopyGroup("CG_UR01", q), 0) << bed.errorText();
  // The remote side never catches up: not committed, result 0.
  bool committed = true;
  EXPECT_EQ(impl.pairSyncWait("CG_UR01", q, 60, committed), 0) << bed.errorText();
  EXPECT_FALSE(committed);
  EXPECT_EQ(bed.errorText(), "Q-Marker not committed.");

  // Once it has, the same marker is committed.
  sim.setArray(serial, [](ccisim::Array& a) { a.copyGroups["CG_UR01"].commitAfterWaits = 0; });
  EXPECT_EQ(impl.pairSyncWait("CG_UR01", q, 60, committed), 0) << bed.errorText();
  EXPECT_TRUE(committed);

  // An unknown copy group is a failed check (the tool exits 2).
  EXPECT_EQ(impl.pairSyncWait("CG_NONE", q, 60, committed), 1);
  EXPECT_FALSE(committed);
}

TEST(ReplicationSimulator, GarbledAnswersNeverYieldAMarker) {
  HDSDiscoveryTestBed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  ccisim::CopyGroup g;
  g.name = "CG1";
  g.ldevGroup = "DG1";
  sim.addCopyGroup(HDSDiscoveryTestBed::kSerial, g);
  for (const char* mode : {"empty", "dropHeader", "dropFinalNewline", "truncate"}) {
    sim.addFault(ccisim::Fault::garbleOutput("pairsyncwait", "-nowait", mode));
    std::string q = "caller";
    const int rc = impl.getQMarkerForCopyGroup("CG1", q);
    if (rc == 0) {
      uint64_t v = 0;
      EXPECT_TRUE(parseQMarkerValue(q, v)) << mode << ": " << q;
    } else {
      EXPECT_EQ(q, "caller") << mode;
      EXPECT_EQ(bed.errorText(), "Failed to find QMarker for the CopyGroup-[CG1]") << mode;
    }
    if (std::string(mode) == "empty" || std::string(mode) == "dropHeader") {
      EXPECT_EQ(rc, 1) << mode;
    }
  }
}

}  // namespace
