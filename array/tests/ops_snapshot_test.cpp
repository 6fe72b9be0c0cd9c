// Snapshot commands: the listing parser over exact, simulator-rendered and
// hostile text; the six operations' command lines, results and texts through
// a recording runner; and a whole pair life cycle against the simulator.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "array/HDSParseSnapshot.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSDiscoveryTestBed.h"
#include "array/tests/support/HDSRowCheck.h"
#include "sim/ccisim_fixture.h"

namespace {

using Bed = HDSDiscoveryTestBed;
using R = HDSRecordingRunner;

// A pair listing: one row per "<group> <P/S> <state> <ldev> <mu> <partner>".
std::string pairListing(const std::vector<std::string>& rows) {
  std::string text = "SnapShot_name P/S STAT Serial# LDEV# MU# P-LDEV# PID % MODE SPLT-TIME\n";
  for (std::string row : rows) {
    const size_t state = row.find(' ', row.find(' ') + 1) + 1;
    text += row.insert(row.find(' ', state), " 412345") + " 5 100 ---- -\n";
  }
  return text;
}

// The lines of a batch of one command: the status check, then the read-back.
std::vector<std::string> asBatch(const std::string& line, const std::string& readBack) {
  std::vector<std::string> lines = Bed::withStatusCheck(line);
  lines.push_back(Bed::raidcom(readBack));
  return lines;
}

const char kListing[] =
    "SnapShot_name        P/S    STAT  Serial#  LDEV#  MU#  P-LDEV#  PID  %    MODE  SPLT-TIME\n"
    "QB_12_5_1F_6571A2C0  P-VOL  PSUS  412345   256    3    4096     5    100  G---  1702103232\n"
    "QB_12_5_1F_6571A2C0  P-VOL  PAIR  412345   257    0    -        5    100  ----  -\n"
    "QB_12_5_1F_6571A2C0  S-VOL  SSUS  412345   4096   3    256      -    100  ----  65A1B2C3\n";

struct Row {
  const char* group;
  bool pvol;
  const char* status;
  const char* serial;
  const char* ldev;
  const char* mu;
  const char* partner;
  const char* pool;
  int c9;
  const char* mode;
  int c11;
};

void expectRows(const std::vector<HDSSnapshotGroupInfo>& got, const std::vector<Row>& want,
                const std::string& context) {
  hdstest::expectEachRow(got, want, context, [](const HDSSnapshotGroupInfo& g, const Row& w) {
    EXPECT_EQ(g.snapshotGroupName, w.group);
    EXPECT_EQ(g.isPvol, w.pvol);
    EXPECT_EQ(g.status, w.status);
    EXPECT_EQ(g.serial, w.serial);
    EXPECT_EQ(g.ldevId, w.ldev);
    EXPECT_EQ(g.muNumber, w.mu);
    EXPECT_EQ(g.partnerLdevId, w.partner);
    EXPECT_EQ(g.poolId, w.pool);
    EXPECT_EQ(g.column9, w.c9);
    EXPECT_EQ(g.mode, w.mode);
    EXPECT_EQ(g.column11, w.c11);
  });
}

const std::vector<Row> kListingRows = {
    {"QB_12_5_1F_6571A2C0", true, "PSUS", "412345", "256", "3", "4096", "5", 100, "G---",
     1702103232},
    {"QB_12_5_1F_6571A2C0", true, "PAIR", "412345", "257", "0", "", "5", 100, "----", 0},
    {"QB_12_5_1F_6571A2C0", false, "SSUS", "412345", "4096", "3", "256", "", 100, "----", 65},
};

// ---- parser ---------------------------------------------------------------------

TEST(SnapshotParser, ExactLayout) {
  std::vector<HDSSnapshotGroupInfo> rows;
  EXPECT_EQ(hdsparse::parseSnapshotList(kListing, rows).rows, 3u);
  expectRows(rows, kListingRows, "exact");
}

TEST(SnapshotParser, HostileText) {
  const std::string hdr = "SnapShot_name P/S STAT Serial# LDEV# MU# P-LDEV# PID % MODE SPLT-TIME\n";
  const std::string row = "G1 P-VOL PAIR 1 10 3 - 5 100 ---- -";
  const Row want = {"G1", true, "PAIR", "1", "10", "3", "", "5", 100, "----", 0};
  struct Case {
    const char* what;
    std::string text;
    std::vector<Row> rows;
  } cases[] = {
      {"empty (nothing matched)", "", {}},
      {"header only", hdr, {}},
      {"header without its newline", "SnapShot_name P/S", {}},
      {"no final newline: the last row is read", hdr + row + "\n" + row, {want, want}},
      {"CRLF", hdr + row + "\r\n", {want}},
      {"CRLF header only", "SnapShot_name P/S\r\n", {}},
      {"tabs and runs of blanks", hdr + "G1\tP-VOL \t PAIR 1 10 3 - 5 100\t----  -\n", {want}},
      {"trailing blanks", hdr + row + "   \n", {want}},
      {"blank lines are no rows", hdr + "\n  \n" + row + "\n\t\n", {want}},
      {"right-aligned rows are read from their first word", hdr + "   " + row + "\n", {want}},
      {"a short line refuses the listing", hdr + row + "\nG1 P-VOL PAIR\n", {}},
      {"a row ending at MODE is cut short", hdr + "G1 P-VOL PAIR 1 10 3 - 5 100 ----\n", {}},
      {"rest of the line from column 11",
       hdr + "G1 P-VOL PAIR 1 10 3 - 5 100 ---- 42 more text\n",
       {{"G1", true, "PAIR", "1", "10", "3", "", "5", 100, "----", 42}}},
      {"p-vol is case-sensitive",
       hdr + "G1 p-vol PAIR 1 10 3 - 5 100 ---- -\n",
       {{"G1", false, "PAIR", "1", "10", "3", "", "5", 100, "----", 0}}},
      {"serial as the group name",
       hdr + "412345 P-VOL PAIR 412345 10 3 - 5 100 ---- -\n",
       {{"412345", true, "PAIR", "412345", "10", "3", "", "5", 100, "----", 0}}},
      {"numbers read like atoi, clamped",
       hdr + "G1 P-VOL PAIR 1 10 3 - 5 99999999999 ---- -7x\n",
       {{"G1", true, "PAIR", "1", "10", "3", "", "5", 2147483647, "----", -7}}},
  };
  for (const Case& c : cases) {
    std::vector<HDSSnapshotGroupInfo> rows;
    hdsparse::parseSnapshotList(c.text, rows);
    expectRows(rows, c.rows, c.what);
  }
}

TEST(SnapshotParser, ReadsTheSimulatorsRendering) {
  ccisim::Array a;
  a.serial = "412345";
  ccisim::SnapPair p1;
  p1.group = "QB_12";
  p1.pvol = 256;
  p1.mu = 3;
  p1.poolId = 5;
  p1.state = "PSUS";
  p1.svol = 4096;
  p1.splitTime = 0x6571A2C0;
  p1.ctg = true;
  ccisim::SnapPair p2;
  p2.group = "QB_12";
  p2.pvol = 257;
  p2.mu = 1023;
  p2.poolId = 12;
  p2.state = "COPY";
  p2.progress = 37;
  std::vector<HDSSnapshotGroupInfo> rows;
  hdsparse::parseSnapshotList(ccisim::renderGetSnapshot(a, {p1, p2}), rows);
  expectRows(rows,
             {{"QB_12", true, "PSUS", "412345", "256", "3", "4096", "5", 100, "G---", 6571},
              {"QB_12", true, "COPY", "412345", "257", "1023", "", "12", 37, "----", 0}},
             "rendered");
  rows.clear();
  hdsparse::parseSnapshotList(ccisim::renderGetSnapshot(a, {p1}, 4096), rows);
  expectRows(rows, {{"QB_12", false, "SSUS", "412345", "4096", "3", "256", "5", 100, "G---", 6571}},
             "S-VOL view");
  rows.clear();
  EXPECT_EQ(hdsparse::parseSnapshotList(ccisim::renderGetSnapshot(a, {}), rows).rows, 0u);
}

TEST(SnapshotParser, HugeListingIsReadWhole) {
  std::string text = "SnapShot_name P/S STAT Serial# LDEV# MU# P-LDEV# PID % MODE SPLT-TIME\n";
  const int kRows = 100000;
  for (int i = 0; i < kRows; ++i) {
    text += "QB_G" + std::to_string(i / 1024) + " P-VOL PAIR 412345 " + std::to_string(i) + " " +
            std::to_string(3 + i % 1000) + " - 5 100 ---- -\n";
  }
  std::vector<HDSSnapshotGroupInfo> rows;
  EXPECT_EQ(hdsparse::parseSnapshotList(text, rows).rows, static_cast<size_t>(kRows));
  ASSERT_EQ(rows.size(), static_cast<size_t>(kRows));
  EXPECT_EQ(rows.back().ldevId, std::to_string(kRows - 1));
  EXPECT_EQ(rows.back().muNumber, std::to_string(3 + (kRows - 1) % 1000));
  EXPECT_EQ(rows.back().snapshotGroupName, "QB_G" + std::to_string((kRows - 1) / 1024));
}

// ---- operations through a recording runner ---------------------------------------

TEST(GetSnapshotGroupList, CommandLinesAndAppending) {
  struct Case {
    const char* key;
    bool byLdev;
    std::string line;
  } cases[] = {
      {"QB_12", false, Bed::raidcom("get snapshot   -snapshotgroup QB_12")},
      {"my group", false, Bed::raidcom("get snapshot   -snapshotgroup \"my group\"")},
      {"256", true, Bed::raidcom("get snapshot   -ldev_id 256 ")},
      {"", true, Bed::raidcom("get snapshot    ")},
  };
  for (const Case& c : cases) {
    Bed bed;
    bed.recorder.on(" get snapshot ", R::ok(kListing));
    std::vector<HDSSnapshotGroupInfo> rows(1);
    rows[0].snapshotGroupName = "kept";
    EXPECT_EQ(bed.recording().getSnapshotGroupList(rows, c.key, c.byLdev), 0);
    EXPECT_EQ(bed.recorder.lines(), (std::vector<std::string>{c.line}));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].snapshotGroupName, "kept");
    EXPECT_EQ(rows[1].ldevId, "256");
    EXPECT_EQ(bed.recording().getSnapshotGroupList(rows, c.key, c.byLdev), 0);
    EXPECT_EQ(rows.size(), 7u) << "appends on every call";
  }
}

TEST(GetSnapshotGroupList, EmptyOutputAndFailures) {
  Bed bed;
  bed.recorder.on(" get snapshot ", R::ok(""), 1);
  std::vector<HDSSnapshotGroupInfo> rows;
  EXPECT_EQ(bed.recording().getSnapshotGroupList(rows, "256", true), 0);
  EXPECT_TRUE(rows.empty());
  for (const R::Reply& r : {R::exit(205, "", "raidcom: [EX_ENOOBJ]"), R::timeout()}) {
    bed.recorder = HDSRecordingRunner();
    bed.recorder.on(" get snapshot ", r);
    EXPECT_EQ(bed.recording().getSnapshotGroupList(rows, "G", false), 1);
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText(), "Failed to get the snapshot group list");
    EXPECT_TRUE(bed.log.logged("Failed to get snapshot group list."));
    EXPECT_TRUE(rows.empty());
  }
  for (auto key : {std::make_pair("", false), std::make_pair("25 6", true),
                   std::make_pair("1;ls", true), std::make_pair("a\nb", false)}) {
    Bed b;
    EXPECT_EQ(b.recording().getSnapshotGroupList(rows, key.first, key.second), 1);
    EXPECT_TRUE(b.recorder.lines().empty());
    EXPECT_EQ(b.errorText().rfind("Invalid input: ", 0), 0u);
  }
}

ZRHDSSnapInfo source(const char* ldev) {
  ZRHDSSnapInfo s;
  s.baseDevNo = ldev;
  return s;
}

TEST(AddToSnapshotGroup, AddsEverySourceInOneBatch) {
  for (bool ctg : {false, true}) {
    SCOPED_TRACE(ctg ? "consistency group" : "plain");
    Bed bed;
    bed.options.snapshotGroup = "QB_12";
    bed.options.pool = "TI pool";
    bed.options.useConsistencyGrp = ctg;
    bed.snaps = {source("256"), source("257")};
    bed.answerStatus();
    bed.recorder.on(" add snapshot ", R::ok());
    bed.recorder.on(" get snapshot ", R::ok(pairListing({"QB_12 P-VOL PAIR 256 3 -",
                                                        "QB_12 P-VOL PAIR 257 3 -"})));
    EXPECT_EQ(bed.recording().addToSnapshotGroup(), 0);
    const std::string mode = ctg ? " -snap_mode CTG " : "";
    EXPECT_EQ(bed.recorder.lines(),
              (std::vector<std::string>{
                  Bed::raidcom("reset command_status  "),
                  Bed::raidcom(
                      "add snapshot   -ldev_id 256 -pool \"TI pool\" -snapshotgroup QB_12" + mode),
                  Bed::raidcom(
                      "add snapshot   -ldev_id 257 -pool \"TI pool\" -snapshotgroup QB_12" + mode),
                  Bed::raidcom("get command_status  "),
                  Bed::raidcom("get snapshot   -snapshotgroup QB_12"),
              }));
    EXPECT_TRUE(bed.log.logged("Successfully added [2] targetless snaps to snapshotgroup-[QB_12]"));
  }
}

TEST(AddToSnapshotGroup, StopsAtTheFirstFailure) {
  Bed bed;
  bed.options.snapshotGroup = "G";
  bed.options.pool = "5";
  bed.snaps = {source("256"), source("257"), source("258")};
  bed.answerStatus();
  bed.recorder.on("-ldev_id 257 ", R::exit(221));
  bed.recorder.on(" add snapshot ", R::ok());
  bed.recorder.on(" get snapshot ", R::ok(pairListing({"G P-VOL PAIR 256 3 -"})));
  EXPECT_EQ(bed.recording().addToSnapshotGroup(), 1);
  EXPECT_TRUE(bed.recorder.linesWith("-ldev_id 258").empty());
  EXPECT_EQ(bed.errorCode(), 62601);
  EXPECT_EQ(bed.errorText(), "Failed to create targetless snaps.");
  EXPECT_TRUE(bed.log.logged("Failed to add targteless snap of LDEV-[257] in snapshotgroup-[G]"));
}

TEST(AddToSnapshotGroup, EmptyJobAndInvalidInput) {
  Bed bed;
  bed.options.snapshotGroup = "G";
  EXPECT_EQ(bed.recording().addToSnapshotGroup(), 0);
  EXPECT_TRUE(bed.recorder.lines().empty());
  EXPECT_TRUE(bed.log.logged("Successfully added [0] targetless snaps to snapshotgroup-[G]"));

  struct Case {
    const char* group;
    const char* pool;
    const char* ldev;
  } cases[] = {{"", "5", "1"}, {"G", "", "1"}, {"G", "5", ""}, {"G", "5", "1 -x"}};
  for (const Case& c : cases) {
    Bed b;
    b.options.snapshotGroup = c.group;
    b.options.pool = c.pool;
    b.snaps = {source("256"), source(c.ldev)};
    EXPECT_EQ(b.recording().addToSnapshotGroup(), 1);
    EXPECT_TRUE(b.recorder.lines().empty()) << "nothing added when any input is bad";
  }
}

// Each selector's command is read back from the listing of what it names: a
// listing that does not show the effect fails it, even under a clean status.
TEST(ModifySnapshot, SelectorsInOrderEachReadBack) {
  struct Case {
    std::map<std::string, std::string> keys;
    const char* op;
    std::string args;
    const char* description;
    std::string readBack;  // the listing; its rows with the effect and without
    std::vector<std::string> after, stays;
  } cases[] = {
      {{{"SNAP_GRP", "QB_12"}},
       "create",
       "-snapshotgroup QB_12 -snapshot_data create",
       " SnapshotGroup QB_12", "get snapshot   -snapshotgroup QB_12",
       {"QB_12 P-VOL PSUS 256 3 -", "QB_12 P-VOL PSUS 257 3 -"},
       {"QB_12 P-VOL PSUS 256 3 -", "QB_12 P-VOL PAIR 257 3 -"}},
      {{{"S_LDEV_NUM", "4096"}, {"SNAP_GRP", "G"}},
       "resync",
       "-ldev_id 4096 -snapshot_data resync",
       " LDEV 4096", "get snapshot   -ldev_id 4096 ", {"G S-VOL COPY 4096 3 256"},
       {"G S-VOL SSUS 4096 3 256"}},
      {{{"SNAP_GRP", "G"}, {"MU_NUM", "3"}, {"P_LDEV_NUM", "256"}},
       "create",
       "-snapshotgroup G -snapshot_data create",
       " SnapshotGroup G", "get snapshot   -snapshotgroup G", {"G P-VOL PSUS 256 3 -"},
       {"G P-VOL PAIR 256 3 -"}},
      {{{"MU_NUM", "3"}, {"P_LDEV_NUM", "256"}},
       "restore",
       "-ldev_id 256 -mirror_id 3 -snapshot_data restore",
       " mirror_id 3", "get snapshot   -ldev_id 256 ",
       {"G P-VOL RCPY 256 3 -", "G P-VOL PSUS 256 4 -"}, {"G P-VOL PSUS 256 3 -"}},
      {{{"MU_NUM", "3"}, {"P_LDEV_NUM", "256"}}, "split",
       "-ldev_id 256 -mirror_id 3 -snapshot_data split", " mirror_id 3",
       "get snapshot   -ldev_id 256 ", {"G P-VOL PSUS 256 3 -"}, {"G P-VOL PAIR 256 3 -"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    Bed bed;
    bed.answerStatus();
    bed.recorder.on(" modify snapshot ", R::ok());
    bed.recorder.on(" get snapshot ", R::ok(pairListing(c.after)));
    EXPECT_EQ(bed.recording().modifySnapshot(c.keys, c.op), 0) << bed.errorText();
    EXPECT_EQ(bed.recorder.lines(), asBatch("modify snapshot   " + c.args, c.readBack));
    EXPECT_TRUE(bed.log.logged(std::string("Going to perform [") + c.op + "] snapshot on " +
                               c.description));
    EXPECT_TRUE(
        bed.log.logged(std::string("Successfully performed [") + c.op + "] on " + c.description));

    Bed failing;
    failing.answerStatus();
    failing.recorder.on(" modify snapshot ", R::exit(222));
    EXPECT_EQ(failing.recording().modifySnapshot(c.keys, c.op), 1);
    EXPECT_EQ(failing.errorCode(), 62601);
    EXPECT_EQ(failing.errorText(),
              std::string("Failed to ") + c.op + " snapshot on " + c.description);
    EXPECT_TRUE(failing.log.logged(std::string("Failed to perform [") + c.op + "]"));
    EXPECT_TRUE(failing.recorder.linesWith(" get snapshot ").empty()) << "a refusal is its answer";

    Bed unchanged;
    unchanged.answerStatus();
    unchanged.recorder.on(" modify snapshot ", R::ok());
    unchanged.recorder.on(" get snapshot ", R::ok(pairListing(c.stays)));
    EXPECT_EQ(unchanged.recording().modifySnapshot(c.keys, c.op), 1);
    EXPECT_EQ(unchanged.errorText(), failing.errorText());
    EXPECT_FALSE(unchanged.log.logged("Successfully performed"));
  }
}

TEST(ModifySnapshot, InvalidInputsRunNothing) {
  // No selector, or the chosen selector without its value.
  const std::map<std::string, std::string> keys[] = {
      {},
      {{"P_LDEV_NUM", "256"}},
      {{"MU_NUM", "3"}},
      {{"S_LDEV_NUM", ""}},
      {{"SNAP_GRP", ""}},
      {{"S_LDEV_NUM", ""}, {"SNAP_GRP", "G"}},
      {{"MU_NUM", ""}, {"P_LDEV_NUM", "256"}},
      {{"MU_NUM", "3"}, {"P_LDEV_NUM", ""}},
  };
  for (const auto& k : keys) {
    Bed bed;
    EXPECT_EQ(bed.recording().modifySnapshot(k, "create"), 1);
    EXPECT_TRUE(bed.recorder.lines().empty());
    EXPECT_EQ(bed.errorText(), "Failed to execute 'modify snashot' command");
    EXPECT_TRUE(
        bed.log.logged("Invalid inputs: None of SnapshotGroup name, LDEV Id or MU# is given."));
  }
  struct Case {
    std::map<std::string, std::string> keys;
    const char* op;
  } refused[] = {
      {{{"S_LDEV_NUM", "4096 -x"}}, "create"},
      {{{"SNAP_GRP", "a\nb"}}, "create"},
      {{{"MU_NUM", "3;id"}, {"P_LDEV_NUM", "256"}}, "split"},
      {{{"MU_NUM", "3"}, {"P_LDEV_NUM", "-1"}}, "split"},
      {{{"SNAP_GRP", "G"}}, ""},
      {{{"SNAP_GRP", "G"}}, "create; reboot"},
  };
  for (const auto& c : refused) {
    Bed bed;
    EXPECT_EQ(bed.recording().modifySnapshot(c.keys, c.op), 1);
    EXPECT_TRUE(bed.recorder.lines().empty());
    EXPECT_EQ(bed.errorText().rfind("Invalid input: ", 0), 0u) << bed.errorText();
  }
}

// Deletion, association and dissociation are read back from the P-VOL's
// pairs in the same way.
TEST(PairCommands, DeleteMapUnmapLinesAndTexts) {
  struct Case {
    const char* command;
    std::function<int(ZRHDSRaidcomImplementer&)> run;
    std::string line;
    const char* logged;
    std::vector<std::string> after, stays;  // the P-VOL's pairs with and without the effect
  } cases[] = {
      {" delete snapshot ", [](ZRHDSRaidcomImplementer& i) { return i.deleteSnapshot("256", "3"); },
       "delete snapshot   -ldev_id 256 -mirror_id 3",
       "Successfully deleted Targetless Snapshot, LDEV-[256], MU-[3]",
       {"G P-VOL PSUS 256 4 -"}, {"G P-VOL PSUS 256 3 -"}},
      {" map snapshot ",
       [](ZRHDSRaidcomImplementer& i) { return i.mapSnapshot("256", "4096", "3"); },
       "map snapshot   -ldev_id 256 4096 -mirror_id 3",
       "Successfully associated target LDEV-[4096] to Snap[256-MU3]",
       {"G P-VOL PSUS 256 3 4096"}, {"G P-VOL PSUS 256 3 -"}},
      {" unmap snapshot ", [](ZRHDSRaidcomImplementer& i) { return i.unmapSnapshot("256", "3"); },
       "unmap snapshot   -ldev_id 256 -mirror_id 3",
       "Successfully disassociated target LDEV from Snap[256-MU3]",
       {"G P-VOL PSUS 256 3 -"}, {"G P-VOL PSUS 256 3 4096"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Bed bed;
    bed.answerStatus();
    bed.recorder.on(c.command, R::ok());
    bed.recorder.on(" get snapshot ", R::ok(pairListing(c.after)));
    EXPECT_EQ(c.run(bed.recording()), 0) << bed.errorText();
    EXPECT_EQ(bed.recorder.lines(), asBatch(c.line, "get snapshot   -ldev_id 256 "));
    EXPECT_TRUE(bed.log.logged(c.logged));

    Bed refused;
    refused.answerStatus();
    refused.recorder.on(c.command, R::ok());
    refused.recorder.on(" get snapshot ", R::ok(pairListing(c.stays)));
    EXPECT_EQ(c.run(refused.recording()), 1);
    EXPECT_EQ(refused.errorCode(), 62601);
    EXPECT_FALSE(refused.log.logged(c.logged));
  }
  Bed bed;
  bed.recorder.on(" reset command_status ", R::ok());
  bed.recorder.on(" snapshot ", R::exit(205));
  ZRHDSRaidcomImplementer& impl = bed.recording();
  EXPECT_EQ(impl.deleteSnapshot("256", "3"), 1);
  EXPECT_EQ(bed.errorText(), "Failed to delete targetless snap, LDEV-[256], MU-[3]");
  EXPECT_TRUE(bed.log.logged("Failed to delete targetless snap, LDEV-[256], MU-[3]"));
  EXPECT_EQ(impl.mapSnapshot("256", "4096", "3"), 1);
  EXPECT_EQ(bed.errorText(), "Failed to map target LDEV-[4096] to Snap-[256-MU3].");
  EXPECT_TRUE(bed.log.logged("Failed to map target LDEV-[4096] to Snap-[256-MU3]."));
  EXPECT_EQ(impl.unmapSnapshot("256", "3"), 1);
  EXPECT_EQ(bed.errorText(), "Failed to unmap target LDEV associated with Snap-[256-MU3].");
  EXPECT_TRUE(bed.log.logged("Failed to unmap target LDEV associated with Snap-[256-MU3]."));
  EXPECT_EQ(bed.errorCode(), 62601);
}

TEST(PairCommands, EmptyOrMalformedIdsRunNothing) {
  Bed bed;
  ZRHDSRaidcomImplementer& impl = bed.recording();
  EXPECT_EQ(impl.deleteSnapshot("256", ""), 1);
  EXPECT_EQ(impl.deleteSnapshot("", "3"), 1);
  EXPECT_EQ(impl.mapSnapshot("256", "", "3"), 1);
  EXPECT_EQ(impl.mapSnapshot("256", "4096", "3 4"), 1);
  EXPECT_EQ(impl.unmapSnapshot("256;id", "3"), 1);
  EXPECT_EQ(impl.unmapSnapshot("256", "-"), 1);
  EXPECT_TRUE(bed.recorder.lines().empty());
  EXPECT_EQ(bed.errorCode(), 62601);
  EXPECT_EQ(bed.errorText(), "Invalid input: MU-[-] is not valid.");
}

// ---- against the simulator's tools ---------------------------------------------

TEST(SnapshotSimulator, PairLifeCycle) {
  Bed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  ccisim::Pool pool;
  pool.id = 5;
  pool.name = "TIPOOL";
  sim.addPool(Bed::kSerial, pool);
  sim.addSourceLdev(Bed::kSerial, 256, 4096, 5);
  sim.addSourceLdev(Bed::kSerial, 257, 4096, 5);
  ccisim::Ldev target;
  target.id = 1000;
  target.capacity = 4096;
  target.attrs = {"CVS", "VVOL"};
  sim.addLdev(Bed::kSerial, target);
  bed.options.snapshotGroup = "QB_g$1";
  bed.options.pool = "5";
  bed.options.useConsistencyGrp = true;
  bed.snaps = {source("256"), source("257")};

  ASSERT_EQ(impl.addToSnapshotGroup(), 0) << bed.errorText();
  std::vector<HDSSnapshotGroupInfo> rows;
  ASSERT_EQ(impl.getSnapshotGroupList(rows, "QB_g$1", false), 0) << bed.errorText();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].snapshotGroupName, "QB_g$1") << "the name reaches the tool unexpanded";
  EXPECT_EQ(rows[0].ldevId, "256");
  EXPECT_EQ(rows[0].muNumber, "3");
  EXPECT_NE(rows[0].mode.find('G'), std::string::npos);
  EXPECT_EQ(rows[1].ldevId, "257");

  ASSERT_EQ(impl.modifySnapshot({{"SNAP_GRP", "QB_g$1"}}, "create"), 0) << bed.errorText();
  ASSERT_EQ(impl.mapSnapshot("256", "1000", "3"), 0) << bed.errorText();
  rows.clear();
  ASSERT_EQ(impl.getSnapshotGroupList(rows, "256", true), 0);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].status, "PSUS");
  EXPECT_EQ(rows[0].partnerLdevId, "1000");
  EXPECT_TRUE(rows[0].isPvol);
  rows.clear();
  ASSERT_EQ(impl.getSnapshotGroupList(rows, "1000", true), 0);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_FALSE(rows[0].isPvol);
  EXPECT_EQ(rows[0].partnerLdevId, "256");

  ASSERT_EQ(impl.unmapSnapshot("256", "3"), 0) << bed.errorText();
  ASSERT_EQ(impl.modifySnapshot({{"MU_NUM", "3"}, {"P_LDEV_NUM", "256"}}, "resync"), 0)
      << bed.errorText();
  ASSERT_EQ(impl.deleteSnapshot("256", "3"), 0) << bed.errorText();
  rows.clear();
  ASSERT_EQ(impl.getSnapshotGroupList(rows, "", true), 0) << "the whole array";
  // One row per group, its pair columns "-" as the array prints them.
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].snapshotGroupName, "QB_g$1");
  EXPECT_EQ(rows[0].ldevId, "-");
  EXPECT_EQ(rows[0].muNumber, "");
  EXPECT_EQ(rows[0].status, "-");
  EXPECT_EQ(impl.deleteSnapshot("256", "3"), 1) << "gone already";

  EXPECT_EQ(sim.journal("raidcom", "add snapshot").size(), 2u);
  // Every command that changes a pair runs with the status check (the two
  // adds in one batch); the refused second delete ends before its status
  // is read.
  EXPECT_EQ(sim.journal("raidcom", "reset command_status").size(), 7u);
  EXPECT_EQ(sim.journal("raidcom", "get command_status").size(), 6u);
}

TEST(SnapshotSimulator, AnUnknownGroupListsNothing) {
  Bed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  std::vector<HDSSnapshotGroupInfo> rows;
  EXPECT_EQ(impl.getSnapshotGroupList(rows, "QB_none", false), 0) << bed.errorText();
  EXPECT_TRUE(rows.empty());
}

TEST(SnapshotSimulator, AddRefusedByTheArrayStopsTheRun) {
  Bed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  ccisim::Pool pool;
  pool.id = 5;
  sim.addPool(Bed::kSerial, pool);
  sim.addSourceLdev(Bed::kSerial, 256, 4096, 5);
  bed.options.snapshotGroup = "G";
  bed.options.pool = "5";
  bed.snaps = {source("256"), source("999"), source("257")};  // 999 holds no LDEV
  EXPECT_EQ(impl.addToSnapshotGroup(), 1);
  EXPECT_EQ(bed.errorText(), "Failed to create targetless snaps.");
  EXPECT_TRUE(sim.journal("raidcom", "-ldev_id 257").empty());
  EXPECT_EQ(sim.load().array(Bed::kSerial)->pairs.size(), 1u) << "the first pair stays";
}

}  // namespace
