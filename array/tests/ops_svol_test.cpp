// Target LDEVs: createSvols (synchronised adds, resource-group moves, the
// undo script), deleteSvols (out of the job's group, already-deleted LDEVs)
// and modifySvolLabel (label scripts and their restore), through a recording
// runner and against the simulator's tools.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSDiscoveryTestBed.h"
#include "host/ZRPlatformInfo.h"
#include "sim/ccisim_fixture.h"

namespace {

using Bed = HDSDiscoveryTestBed;
using R = HDSRecordingRunner;

// Marks a case whose status query fails without any row.
const char kNoStatus[] = "";

ZRHDSSnapInfo snap(const char* target, uint64_t capacity, int blade = 0, const char* vir = "") {
  ZRHDSSnapInfo s;
  s.snapLdevId = target;
  s.snapVirLdevId = vir;
  s.capacity = capacity;
  s.mpBladeId = blade;
  return s;
}

// The command lines of script files as the script ran them (the runner's
// wrapper around each line removed).
std::vector<std::string> scriptLines(const std::string& script) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < script.size()) {
    size_t end = script.find('\n', pos);
    if (end == std::string::npos) end = script.size();
    std::string l = script.substr(pos, end - pos);
    pos = end + 1;
    if (l.find("raidcom") == std::string::npos) continue;
    const size_t tail = l.find(" || ");
    if (tail != std::string::npos) l.resize(tail);
    out.push_back(l);
  }
  return out;
}

// The undo script's lines that delete these LDEVs, in order.
std::vector<std::string> undoLines(const std::vector<std::string>& ids) {
  std::vector<std::string> out;
  for (const std::string& id : ids)
    out.push_back("/cci/raidcom  delete ldev -ldev_id " + id + Bed::im());
  return out;
}

std::vector<std::string> withoutLabels(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& l : lines) {
    if (l.find(" modify ldev ") == std::string::npos) out.push_back(l);
  }
  return out;
}

// Answers every command of createSvols: each snap's target made, unlabelled.
void answerMade(Bed& bed) {
  bed.answerStatus();
  bed.recorder.on(" add ldev ", R::ok());
  bed.recorder.on(" modify ldev ", R::ok());
  std::string listing;
  for (const ZRHDSSnapInfo& s : bed.snaps) {
    listing += "Serial# : 412345\nLDEV : " + s.snapLdevId + "\nVOL_TYPE : OPEN-V-CVS\n" +
               "VOL_Capacity(BLK) : " + std::to_string(s.capacity) + "\nLDEV_NAMING : \n";
  }
  bed.recorder.on(" get ldev ", R::ok(listing));
}

std::vector<std::string> withoutStatus(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& l : lines) {
    if (l.find("command_status") == std::string::npos && l.find(" get ldev ") == std::string::npos)
      out.push_back(l);
  }
  return out;
}

// ---- createSvols ------------------------------------------------------------

// What the caller's watch hears, in order; with a recorder, after how many lines.
struct WatchLog {
  std::vector<std::string> heard;
  const HDSRecordingRunner* recorder = nullptr;
  bool recordWritable = true;  // what settled answers
  void hear(std::string what) {
    if (recorder) what += " after " + std::to_string(recorder->lines().size()) + " lines";
    heard.push_back(what);
  }
  ZRHDSCommandImplementer::NewLdevWatch watch() {
    return {[this](const std::string& id) { hear("accepted " + id); },
            [this](const std::vector<std::string>& ids, bool mayBeAnothers) {
              std::string text = mayBeAnothers ? "not proven" : "settled";
              for (const std::string& id : ids) text += " " + id;
              hear(text);
              return recordWritable;
            }};
  }
};

// The adds run as one batch; a label goes only on an LDEV that the batch's
// status and its one listing prove the job's, after them.
TEST(CreateSvols, AddsEachUnmappedSnapInOneBatchAndLabelsOnlyWhatTheArrayProves) {
  Bed bed;
  bed.options.isHTI = true;
  bed.snaps = {snap("4096", 2097152, 2), snap("4097", 1024, 0), snap("4098", 8, 1)};
  bed.snaps[0].svolLabel = "QB_SVOL_db01";
  bed.snaps[1].snapMapped = true;
  answerMade(bed);
  WatchLog watch;
  watch.recorder = &bed.recorder;
  EXPECT_EQ(bed.recording().createSvols(watch.watch()), 0);
  // Each add is on the caller's record before the next command is sent.
  EXPECT_EQ(watch.heard, (std::vector<std::string>{"accepted 4096 after 2 lines",
                                                   "accepted 4098 after 3 lines",
                                                   "settled 4096 4098 after 7 lines"}));
  EXPECT_EQ(
      bed.recorder.lines(),
      (std::vector<std::string>{
          Bed::raidcom("reset command_status  "),
          Bed::raidcom("add ldev   -pool snap -mp_blade_id 2 -ldev_id 4096 -capacity 2097152"),
          Bed::raidcom("add ldev   -pool snap -mp_blade_id 1 -ldev_id 4098 -capacity 8"),
          Bed::raidcom("get command_status  "),
          Bed::raidcom("get ldev   -ldev_id 4096 -cnt 3"),
          Bed::raidcom("modify ldev   -ldev_id 4096 -ldev_name QB_SVOL_db01"),
          Bed::raidcom("modify ldev   -ldev_id 4098 -ldev_name BLANK"),
      }));
  EXPECT_TRUE(bed.recorder.scripts().empty());
  EXPECT_EQ(bed.snaps[0].snapVirLdevId, "") << "meta_resource leaves virtual ids alone";
}

TEST(CreateSvols, PoolAndBladeOptions) {
  struct Case {
    const char* what;
    bool hti;
    const char* pool;
    int setting;  // nZRHDSDontUseMPBladeId; -1 not set
    std::string args;
  } cases[] = {
      {"no pool at all", false, "", -1, "add ldev   -mp_blade_id 3 -ldev_id 10 -capacity 64"},
      {"configured pool", false, "DP01", -1,
       "add ldev   -pool DP01 -mp_blade_id 3 -ldev_id 10 -capacity 64"},
      {"pool name with a blank", false, "dp pool", -1,
       "add ldev   -pool \"dp pool\" -mp_blade_id 3 -ldev_id 10 -capacity 64"},
      {"Thin Image ignores the pool", true, "DP01", -1,
       "add ldev   -pool snap -mp_blade_id 3 -ldev_id 10 -capacity 64"},
      {"blade id switched off", false, "", 1, "add ldev   -ldev_id 10 -capacity 64"},
      {"setting 0 keeps it", false, "", 0, "add ldev   -mp_blade_id 3 -ldev_id 10 -capacity 64"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bed bed;
    if (c.setting >= 0) {
      ZRPlatformInfo p;
      ASSERT_EQ(p.setRegInt("~Tessavon", "nZRHDSDontUseMPBladeId", c.setting), 0);
    }
    bed.options.isHTI = c.hti;
    bed.options.pool = c.pool;
    bed.snaps = {snap("10", 64, 3)};
    answerMade(bed);
    EXPECT_EQ(bed.recording().createSvols({}), 0);
    EXPECT_EQ(
        withoutStatus(bed.recorder.lines()),
        (std::vector<std::string>{Bed::raidcom(c.args),
                                  Bed::raidcom("modify ldev   -ldev_id 10 -ldev_name BLANK")}));
    EXPECT_EQ(bed.log.logged("The Registry key-[nZRHDSDontUseMPBladeId] is set. Value-[1]"),
              c.setting == 1);
  }
}

TEST(CreateSvols, SecondOfThreeRefusedUndoesTheFirstOnly) {
  Bed bed;
  bed.snaps = {snap("100", 64), snap("101", 64), snap("102", 64)};
  bed.recorder.on("add ldev   -mp_blade_id 0 -ldev_id 101 ",
                  R::exit(221, "", "raidcom: [EX_CMDRJE] refused"));
  answerMade(bed);
  bed.recorder.on("/bin/sh ", R::ok());
  EXPECT_EQ(bed.recording().createSvols({}), 1);
  ASSERT_EQ(bed.recorder.scripts().size(), 1u);
  EXPECT_EQ(scriptLines(bed.recorder.scripts()[0]),
            undoLines({"100"}));
  EXPECT_TRUE(bed.recorder.linesWith("-ldev_id 102").empty()) << "stops at the first failure";
  EXPECT_EQ(bed.errorCode(), 62601);
  EXPECT_EQ(bed.errorText(), "Failed to Create LDEV-101");
  EXPECT_TRUE(bed.log.logged("Failed to Create LDEV-[101]"));
}

TEST(CreateSvols, AddThatNeverRanIsNotUndone) {
  Bed bed;
  bed.snaps = {snap("100", 64)};
  bed.recorder.on(" reset command_status ", R::exit(1));
  EXPECT_EQ(bed.recording().createSvols({}), 1);
  EXPECT_TRUE(bed.recorder.linesWith(" add ldev ").empty());
  EXPECT_TRUE(bed.recorder.scripts().empty());
  EXPECT_EQ(bed.errorText(), "Failed to Create LDEV-100");
}

// A refused add is not undone; one that ran but is unsettled by listing and
// status is undone only where the status proves no add was refused, unlabelled.
TEST(CreateSvols, AnUnsettledAddIsUndoneOnlyWhenNoAddWasRefused) {
  const std::string ours =
      "Serial# : 412345\nLDEV : 100\nVOL_TYPE : OPEN-V-CVS\n"
      "VOL_Capacity(BLK) : 64\nLDEV_NAMING : \n";
  struct Case {
    const char* what;
    R::Reply add;
    const char* status;
    R::Reply probe;
    bool undone;
  } cases[] = {
      {"refused: no empty undo script", R::exit(1), Bed::kStatusOk, R::ok(ours), false},
      {"status query fails", R::ok(), kNoStatus, R::ok(ours), false},
      {"time-out, made and no error counted", R::timeout(), Bed::kStatusOk, R::ok(ours), false},
      {"time-out, status unreadable", R::timeout(), kNoStatus, R::ok(ours), false},
      {"listing fails, status unreadable", R::ok(), kNoStatus, R::exit(1), false},
      {"listing fails, no error counted", R::ok(), Bed::kStatusOk, R::exit(1), true},
      {"array shows the id undefined", R::ok(), kNoStatus,
       R::ok("Serial# : 412345\nLDEV : 100\nVOL_TYPE : NOT DEFINED\n"), false},
      {"someone else's LDEV (other capacity)", R::ok(), kNoStatus,
       R::ok("Serial# : 412345\nLDEV : 100\nVOL_TYPE : OPEN-V-CVS\nVOL_Capacity(BLK) : 65\n"),
       false},
      {"someone else's LDEV (labelled)", R::ok(), kNoStatus,
       R::ok("Serial# : 412345\nLDEV : 100\nVOL_TYPE : OPEN-V-CVS\nVOL_Capacity(BLK) : 64\n"
             "LDEV_NAMING : prod\n"),
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bed bed;
    bed.snaps = {snap("100", 64)};
    bed.recorder.on(" reset command_status ", R::ok());
    bed.recorder.on(" get command_status ", c.status == kNoStatus
                                                ? R::exit(5, "", "raidcom: [EX_CMDIOE]")
                                                : R::ok(c.status));
    bed.recorder.on(" add ldev ", c.add);
    bed.recorder.on(" get ldev ", c.probe);
    bed.recorder.on("/bin/sh ", R::exit(1, "", "raidcom: [EX_CMDRJE] not installed"));
    WatchLog watch;
    EXPECT_EQ(bed.recording().createSvols(watch.watch()), 1);
    EXPECT_TRUE(bed.recorder.linesWith(" modify ldev ").empty());
    std::vector<std::string> heard{"accepted 100", c.undone ? "settled 100" : "not proven 100"};
    if (c.add.result != 0 || c.add.exitCode != 0) heard.clear();
    EXPECT_EQ(watch.heard, heard);
    ASSERT_EQ(bed.recorder.scripts().size(), c.undone ? 1u : 0u);
    if (c.undone) {
      EXPECT_EQ(scriptLines(bed.recorder.scripts()[0]), undoLines({"100"}));
    }
    // Neither the listing nor a failing undo replaces the failed step's text.
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText(), "Failed to Create LDEV-100");
  }
}

TEST(CreateSvols, MovesIntoTheJobsGroupOnAVirtualStorageMachine) {
  Bed bed;
  bed.options.resourceGroup = "VSM 1";
  bed.options.isVSM = true;
  bed.snaps = {snap("100", 64, 0, ""), snap("101", 64, 0, "5000"), snap("102", 64, 0, "65535")};
  answerMade(bed);
  bed.recorder.on(" resource ", R::ok());
  EXPECT_EQ(bed.recording().createSvols({}), 0);
  const std::string rg = "-resource_name \"VSM 1\"";
  // The LDEVs are made first (one batch), then each moves into the group.
  EXPECT_EQ(withoutStatus(withoutLabels(bed.recorder.lines())),
            (std::vector<std::string>{
                Bed::raidcom("add ldev   -mp_blade_id 0 -ldev_id 100 -capacity 64"),
                Bed::raidcom("add ldev   -mp_blade_id 0 -ldev_id 101 -capacity 64"),
                Bed::raidcom("add ldev   -mp_blade_id 0 -ldev_id 102 -capacity 64"),
                Bed::raidcom("unmap resource   -ldev_id 100 -virtual_ldev_id 100"),
                Bed::raidcom("add resource   " + rg + " -ldev_id 100"),
                Bed::raidcom("map resource   -ldev_id 100 -virtual_ldev_id 100"),
                Bed::raidcom("unmap resource   -ldev_id 101 -virtual_ldev_id 5000"),
                Bed::raidcom("add resource   " + rg + " -ldev_id 101"),
                Bed::raidcom("map resource   -ldev_id 101 -virtual_ldev_id 5000"),
                Bed::raidcom("add resource   " + rg + " -ldev_id 102"),
                Bed::raidcom("map resource   -ldev_id 102 -virtual_ldev_id 102"),
            }));
  EXPECT_EQ(bed.snaps[0].snapVirLdevId, "100");
  EXPECT_EQ(bed.snaps[1].snapVirLdevId, "5000");
  EXPECT_EQ(bed.snaps[2].snapVirLdevId, "102");
}

TEST(CreateSvols, OtherGroupWithoutVirtualMachineOnlyAddsToTheGroup) {
  Bed bed;
  bed.options.resourceGroup = "RG2";
  bed.snaps = {snap("100", 64)};
  answerMade(bed);
  bed.recorder.on(" add resource ", R::ok());
  EXPECT_EQ(bed.recording().createSvols({}), 0);
  EXPECT_EQ(
      withoutStatus(bed.recorder.lines()),
      (std::vector<std::string>{Bed::raidcom("add ldev   -mp_blade_id 0 -ldev_id 100 -capacity 64"),
                                Bed::raidcom("modify ldev   -ldev_id 100 -ldev_name BLANK"),
                                Bed::raidcom("add resource   -resource_name RG2 -ldev_id 100")}));
  EXPECT_EQ(bed.snaps[0].snapVirLdevId, "");
}

TEST(CreateSvols, FailedResourceStepUndoesTheNewLdevToo) {
  struct Case {
    const char* failing;
    const char* log;
    const char* text;
  } cases[] = {
      {" unmap resource ", "Failed to virtualize LDEV-[101] in ResourceGroup-[VSM_A]",
       "Failed to cancel the arrangement of the resource-[101] in ResourceGroup-[VSM_A]"},
      {" add resource ", "Failed to add LDEV-[101] to ResourceGroup-[VSM_A]",
       "Failed to add the resource-[101] in ResourceGroup-[VSM_A]"},
      {" map resource ", "Failed to virtualize LDEV-[101] in ResourceGroup-[VSM_A]",
       "Failed to arrange the resource-[101] in ResourceGroup-[VSM_A]"},
  };
  // A record that cannot take back the labelled LDEVs: nothing is undone.
  for (int i = 0; i < 6; ++i) {
    const auto& c = cases[i % 3];
    WatchLog watch;
    watch.recordWritable = i < 3;
    SCOPED_TRACE(std::string(c.failing) + (watch.recordWritable ? "" : ", record not writable"));
    Bed bed;
    bed.options.resourceGroup = "VSM_A";
    bed.options.isVSM = true;
    bed.snaps = {snap("100", 64), snap("101", 64)};
    answerMade(bed);
    bed.recorder.on(std::string(c.failing) + "  -resource_name VSM_A -ldev_id 101", R::exit(1));
    bed.recorder.on(std::string(c.failing) + "  -ldev_id 101", R::exit(1));
    bed.recorder.on(" resource ", R::ok());
    bed.recorder.on("/bin/sh ", R::ok());
    EXPECT_EQ(bed.recording().createSvols(watch.watch()), 1);
    ASSERT_EQ(bed.recorder.scripts().size(), watch.recordWritable ? 1u : 0u);
    if (watch.recordWritable) {
      EXPECT_EQ(scriptLines(bed.recorder.scripts()[0]), undoLines({"100", "101"}));
    }
    EXPECT_EQ(!watch.recordWritable, bed.log.logged("LDEV-[100] is left for the recovery"));
    EXPECT_TRUE(bed.log.logged(c.log));
    EXPECT_EQ(bed.errorText(), c.text);
  }
}

// A label the array refuses undoes the LDEVs of the batch, the proven but
// unlabelled ones with them; no label follows it.
TEST(CreateSvols, RefusedLabelUndoesTheNewLdevs) {
  Bed bed;
  bed.snaps = {snap("100", 64), snap("101", 64), snap("102", 64)};
  bed.snaps[1].svolLabel = "QB_SVOL_b";
  bed.recorder.on("-ldev_id 101 -ldev_name QB_SVOL_b", R::exit(1, "", "raidcom: [EX_CMDRJE]"));
  answerMade(bed);
  bed.recorder.on("/bin/sh ", R::ok());
  EXPECT_EQ(bed.recording().createSvols({}), 1);
  ASSERT_EQ(bed.recorder.scripts().size(), 1u);
  EXPECT_EQ(scriptLines(bed.recorder.scripts()[0]),
            undoLines({"100", "101", "102"}));
  EXPECT_TRUE(bed.recorder.linesWith("-ldev_id 102 -ldev_name").empty());
  EXPECT_EQ(bed.errorCode(), 62601);
  EXPECT_EQ(bed.errorText(), "Failed to label LDEV-101");
  EXPECT_TRUE(bed.log.logged("Failed to label LDEV-[101] as [QB_SVOL_b]"));
}

// The undo and label scripts carry the common options without passing
// through the per-command checks: an instance or serial that is not a plain
// number never reaches a script, and nothing is made.
TEST(SvolScripts, UnsafeCommonOptionsAreRefusedBeforeAnyCommand) {
  struct Case {
    const char* what;
    const char* instance;
    const char* serial;
    const char* text;
  } cases[] = {
      {"serial with a command", "3532", "412345;touch zr_marker",
       "Invalid input: Serial Number-[412345;touch zr_marker] is not valid."},
      {"instance with a command", "3532 $(id)", "412345",
       "Invalid input: HORCM instance-[3532 $(id)] is not valid."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bed bed;
    bed.options.horcmInst = c.instance;
    bed.options.baseSerialNum = c.serial;
    bed.snaps = {snap("100", 64)};
    bed.snaps[0].svolLabel = "QB_SVOL_a";
    bed.recorder.fallback([](const std::string&) { return R::ok(); });
    ZRHDSRaidcomImplementer& impl = bed.recording();
    EXPECT_EQ(impl.createSvols({}), 1);
    EXPECT_EQ(bed.errorText(), c.text);
    EXPECT_EQ(impl.modifySvolLabel(bed.snaps, false), 1);
    EXPECT_EQ(impl.modifySvolLabel(bed.snaps, true), 1);
    EXPECT_EQ(bed.errorText(), c.text);
    EXPECT_TRUE(bed.recorder.lines().empty());
    EXPECT_TRUE(bed.recorder.scripts().empty());
  }
}

TEST(CreateSvols, RefusesInvalidInputBeforeMakingAnything) {
  struct Case {
    const char* what;
    ZRHDSSnapInfo second;
    const char* pool;
  } cases[] = {
      {"empty target", snap("", 64), ""},
      {"target with a shell word", snap("101;reboot", 64), ""},
      {"virtual id not a number", snap("101", 64, 0, "12x"), ""},
      {"pool on two lines", snap("101", 64), "a\nb"},
      {"label on two lines", snap("101", 64), ""},
  };
  cases[4].second.svolLabel = "QB_SVOL_a\nb";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bed bed;
    bed.options.pool = c.pool;
    bed.snaps = {snap("100", 64), c.second};
    EXPECT_EQ(bed.recording().createSvols({}), 1);
    EXPECT_TRUE(bed.recorder.lines().empty());
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText().rfind("Invalid input: ", 0), 0u) << bed.errorText();
  }
  Bed mapped;  // an already associated snap is not looked at
  mapped.snaps = {snap("", 64)};
  mapped.snaps[0].snapMapped = true;
  EXPECT_EQ(mapped.recording().createSvols({}), 0);
  EXPECT_TRUE(mapped.recorder.lines().empty());
}

// ---- deleteSvols -------------------------------------------------------------

const char kGone4096[] = "Serial# : 412345\nLDEV : 4096\nVOL_TYPE : NOT DEFINED\n";

TEST(DeleteSvols, InMetaResourceDeletesAtOnce) {
  Bed bed;
  bed.answerStatus();
  bed.recorder.on(" delete ldev ", R::ok());
  bed.recorder.on(" get ldev   -ldev_id 4096 -cnt 1", R::ok(kGone4096));
  EXPECT_EQ(bed.recording().deleteSvols("4096"), 0);
  std::vector<std::string> want = Bed::withStatusCheck("delete ldev   -ldev_id 4096");
  want.push_back(Bed::raidcom("get ldev   -ldev_id 4096 -cnt 1"));
  EXPECT_EQ(bed.recorder.lines(), want);
  EXPECT_TRUE(bed.log.logged("Going to delete the S-VOL-[4096]"));
  EXPECT_TRUE(bed.log.logged("Successfully deleted the LDEV-[4096]"));

  // An LDEV still listed after the status check is a failed deletion.
  Bed refused;
  refused.answerStatusError();
  refused.recorder.on(" delete ldev ", R::ok());
  refused.recorder.on(" get ldev ",
                      R::ok("Serial# : 412345\nLDEV : 4096\nVOL_TYPE : OPEN-V-CVS\n"));
  EXPECT_EQ(refused.recording().deleteSvols("4096"), 1);
  EXPECT_EQ(refused.errorText(), "Failed to delete LDEV-[4096]");
}

TEST(DeleteSvols, AnLdevNotInstalledCountsAsDeleted) {
  const std::string rejected =
      "raidcom: [EX_CMDRJE] An order to the control/command device was rejected\n"
      "It was rejected due to SKEY=0x05, ASC=0x26, ASCQ=0x00, SSB=";
  struct Row {
    const char* what;
    std::string stderrText;
    int result;
  } rows[] = {
      {"message only", "raidcom: [EX_CMDRJE] The requested LDEV is not installed.", 0},
      {"sense pair, other cause text",
       rejected + "0x2E20,0x0000 on Serial#(412345).\nCAUSE : The specified LDEV is undefined.", 0},
      {"sense pair in lower case", rejected + "0x2e20,0x0000 on Serial#(412345).\n", 0},
      {"other pair of the same cause code",
       rejected + "0x2E20,0x0001 on Serial#(412345).\nCAUSE : Other.", 1},
      {"LU path defined", rejected + "0xB958,0x015A on Serial#(412345).\nCAUSE : LU path.", 1},
      {"longer value", rejected + "0x2E20,0x00001 on Serial#(412345).\n", 1},
      {"cut short", rejected + "0x2E20,0x00", 1},
  };
  for (const Row& r : rows) {
    Bed bed;
    bed.answerStatus();
    bed.recorder.on(" delete ldev ", R::exit(221, "", r.stderrText));
    EXPECT_EQ(bed.recording().deleteSvols("4096"), r.result) << r.what;
    EXPECT_EQ(bed.log.logged("LDEV-[4096] is already deleted."), r.result == 0) << r.what;
  }
}

TEST(DeleteSvols, OtherFailures) {
  for (const R::Reply& r :
       {R::exit(221, "", "raidcom: [EX_CMDRJE] LU path defined"), R::timeout()}) {
    Bed bed;
    bed.recorder.on(" delete ldev ", r);
    EXPECT_EQ(bed.recording().deleteSvols("4096"), 1);
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText(), "Failed to delete LDEV-[4096]");
    EXPECT_TRUE(bed.log.logged("Failed to delete LDEV-[4096]"));
  }
}

std::string ldevListing(const std::string& lines) { return "Serial#  : 412345\n" + lines; }

TEST(DeleteSvols, OutOfTheJobsGroupFirst) {
  struct Case {
    const char* what;
    std::string listing;
    std::vector<std::string> lines;
  } cases[] = {
      {"virtual id in use",
       ldevListing("LDEV : 4096 VIR_LDEV : 5000\nVOL_TYPE : OPEN-V-CVS\n"),
       {"unmap resource   -ldev_id 4096 -virtual_ldev_id 5000",
        "delete resource   -resource_name VSM_A -ldev_id 4096",
        "map resource   -ldev_id 4096 -virtual_ldev_id 5000", "delete ldev   -ldev_id 4096"}},
      {"no VIR_LDEV: the virtual id is the LDEV's own",
       ldevListing("LDEV : 4096\nVOL_TYPE : OPEN-V-CVS\n"),
       {"unmap resource   -ldev_id 4096 -virtual_ldev_id 4096",
        "delete resource   -resource_name VSM_A -ldev_id 4096",
        "map resource   -ldev_id 4096 -virtual_ldev_id 4096", "delete ldev   -ldev_id 4096"}},
      {"reserved virtual id is not unmapped",
       ldevListing("LDEV : 4096 VIR_LDEV : 65535\nVOL_TYPE : OPEN-V-CVS\n"),
       {"delete resource   -resource_name VSM_A -ldev_id 4096",
        "map resource   -ldev_id 4096 -virtual_ldev_id 65535", "delete ldev   -ldev_id 4096"}},
      {"already gone", ldevListing("LDEV : 4096\nVOL_TYPE : NOT DEFINED\nRSGID : 1\n"), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bed bed;
    bed.options.resourceGroup = "VSM_A";
    bed.recorder.on(" get ldev   -ldev_id 4096 -cnt 1", R::ok(kGone4096));
    bed.recorder.on(" get ldev ", R::ok(c.listing));
    bed.recorder.on(" resource ", R::ok());
    bed.recorder.on(" delete ldev ", R::ok());
    bed.answerStatus();
    EXPECT_EQ(bed.recording().deleteSvols("4096"), 0) << bed.errorText();
    std::vector<std::string> want{Bed::raidcom("get ldev   -ldev_id 4096")};
    for (const std::string& l : c.lines) {
      if (l.rfind("delete ldev", 0) == 0) {
        for (const std::string& checked : Bed::withStatusCheck(l)) want.push_back(checked);
        want.push_back(Bed::raidcom("get ldev   -ldev_id 4096 -cnt 1"));
      } else {
        want.push_back(Bed::raidcom(l));
      }
    }
    EXPECT_EQ(bed.recorder.lines(), want);
    for (const std::string& l : bed.recorder.lines()) {
      if (l.find("command_status") != std::string::npos) continue;  // takes no option
      EXPECT_EQ(l.find("  -IM"), std::string::npos) << "an option without a value: " << l;
    }
  }
}

TEST(DeleteSvols, ResourceStepFailures) {
  struct Case {
    const char* failing;
    const char* text;
    const char* log;
  } cases[] = {
      {" get ldev ", "Failed to query LDEV info.", "Failed to query info for LDEV-[4096]"},
      {" unmap resource ",
       "Failed to cancel the arrangement of the resource-[4096] in ResourceGroup-[RG 2]",
       "Failed to de-virtualize LDEV-[4096] in ResourceGroup-[RG 2]"},
      {" delete resource ", "Failed toremove the resource-[4096] from ResourceGroup-[RG 2]",
       "Failed to remove the resource-[4096] from ResourceGroup-[RG 2]"},
      {" map resource ", "Failed to arrange the resource-[4096] in ResourceGroup-[RG 2]",
       "Failed to de-virtualize LDEV-[4096] in ResourceGroup-[RG 2]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failing);
    Bed bed;
    bed.options.resourceGroup = "RG 2";
    bed.recorder.on(c.failing, R::exit(1));
    bed.recorder.on(" get ldev ", R::ok(ldevListing("LDEV : 4096 VIR_LDEV : 7\n")));
    bed.recorder.on(" resource ", R::ok());
    EXPECT_EQ(bed.recording().deleteSvols("4096"), 1);
    EXPECT_EQ(bed.errorText(), c.text);
    EXPECT_TRUE(bed.log.logged(c.log)) << c.log;
    EXPECT_TRUE(bed.recorder.linesWith(" delete ldev ").empty());
  }
}

TEST(DeleteSvols, RefusesAnInvalidId) {
  for (const char* id : {"", "4096 -x", "$(id)"}) {
    Bed bed;
    EXPECT_EQ(bed.recording().deleteSvols(id), 1);
    EXPECT_TRUE(bed.recorder.lines().empty());
    EXPECT_EQ(bed.errorCode(), 62601);
  }
}

// ---- modifySvolLabel ---------------------------------------------------------

std::vector<ZRHDSSnapInfo> labelled() {
  std::vector<ZRHDSSnapInfo> v = {snap("4096", 1), snap("4097", 1), snap("4098", 1)};
  v[0].svolLabel = "QB_SVOL_db01";
  v[0].snapOriginalName = "old one";
  v[1].svolLabel = "";
  v[1].snapOriginalName = "x;touch /tmp/zr_label_marker";
  v[2].svolLabel = "QB_SVOL_$HOME";
  v[2].snapOriginalName = "";
  return v;
}

const std::vector<std::string> kNewLabels = {
    "/cci/raidcom  modify ldev -ldev_id 4096 -ldev_name QB_SVOL_db01" + Bed::im(),
    "/cci/raidcom  modify ldev -ldev_id 4097 -ldev_name BLANK" + Bed::im(),
    "/cci/raidcom  modify ldev -ldev_id 4098 -ldev_name 'QB_SVOL_$HOME'" + Bed::im(),
};
const std::vector<std::string> kFormerLabels = {
    "/cci/raidcom  modify ldev -ldev_id 4096 -ldev_name \"old one\"" + Bed::im(),
    "/cci/raidcom  modify ldev -ldev_id 4097 -ldev_name \"x;touch /tmp/zr_label_marker\"" +
        Bed::im(),
    "/cci/raidcom  modify ldev -ldev_id 4098 -ldev_name BLANK" + Bed::im(),
};

TEST(ModifySvolLabel, RunsTheNewOrTheFormerLabels) {
  for (bool revert : {false, true}) {
    SCOPED_TRACE(revert ? "revert" : "set");
    Bed bed;
    bed.recorder.on("/bin/sh ", R::ok());
    EXPECT_EQ(bed.recording().modifySvolLabel(labelled(), revert), 0);
    ASSERT_EQ(bed.recorder.scripts().size(), 1u);
    EXPECT_EQ(scriptLines(bed.recorder.scripts()[0]), revert ? kFormerLabels : kNewLabels);
    EXPECT_TRUE(bed.log.logged("Successfully modified S-VOLs label for [3] pairs."));
  }
}

TEST(ModifySvolLabel, FailureRestoresTheOtherLabels) {
  for (bool revert : {false, true}) {
    Bed bed;
    bed.recorder.on("/bin/sh ", R::ok("raidcom: [EX_CMDRJE] refused\n"), 1);
    bed.recorder.on("/bin/sh ", R::ok());
    EXPECT_EQ(bed.recording().modifySvolLabel(labelled(), revert), 1);
    ASSERT_EQ(bed.recorder.scripts().size(), 2u);
    EXPECT_EQ(scriptLines(bed.recorder.scripts()[0]), revert ? kFormerLabels : kNewLabels);
    EXPECT_EQ(scriptLines(bed.recorder.scripts()[1]), revert ? kNewLabels : kFormerLabels);
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText(), "Failed to modify the S-VOL labels.");
    EXPECT_TRUE(bed.log.logged("Failed to modify the S-VOL labels."));
  }
}

TEST(ModifySvolLabel, EmptyListAndInvalidInput) {
  Bed bed;
  EXPECT_EQ(bed.recording().modifySvolLabel({}, false), 0);
  EXPECT_TRUE(bed.recorder.lines().empty());

  std::vector<ZRHDSSnapInfo> bad = labelled();
  bad[1].snapLdevId = "";
  EXPECT_EQ(bed.recording().modifySvolLabel(bad, false), 1);
  bad = labelled();
  bad[2].snapOriginalName = "two\nlines";
  EXPECT_EQ(bed.recording().modifySvolLabel(bad, false), 1);
  EXPECT_TRUE(bed.recorder.lines().empty());
  EXPECT_EQ(bed.errorText().rfind("Invalid input: ", 0), 0u);
}

// ---- against the simulator's tools ---------------------------------------------

TEST(SvolSimulator, CreateLabelAndDelete) {
  Bed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  bed.options.isHTI = true;
  bed.snaps = {snap("512", 2097152, 1), snap("513", 4096, 0)};
  ASSERT_EQ(impl.createSvols({}), 0) << bed.errorText();
  const ccisim::Array a = *sim.load().array(Bed::kSerial);
  EXPECT_TRUE(a.ldev(512).defined);
  EXPECT_EQ(a.ldev(512).capacity, 2097152u);
  EXPECT_EQ(a.ldev(512).mpBlade, 1);
  EXPECT_TRUE(a.ldev(513).defined);

  // Labels are at most 32 characters on the array: the marker is named
  // relative to a working directory inside the test's own directory.
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof(cwd)), nullptr);
  ASSERT_EQ(::chdir(bed.tmp.path().c_str()), 0);
  struct Back {
    const char* dir;
    ~Back() { (void)::chdir(dir); }
  } back{cwd};
  const std::string marker = "zr_marker";
  bed.snaps[0].svolLabel = "QB_SVOL_db 01";
  bed.snaps[1].svolLabel = "x;touch " + marker;
  ASSERT_EQ(impl.modifySvolLabel(bed.snaps, false), 0) << bed.errorText();
  EXPECT_EQ(sim.load().array(Bed::kSerial)->ldev(512).label, "QB_SVOL_db 01");
  EXPECT_EQ(sim.load().array(Bed::kSerial)->ldev(513).label, "x;touch " + marker);
  EXPECT_NE(::access(marker.c_str(), F_OK), 0) << "a label ran a command";

  std::vector<HDSLdevInfo> found;
  ASSERT_EQ(impl.getLdevList(found, {{0x20, "2"}, {0x10, "QB_SVOL_db01"}}), 0);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].ldevId, "512");

  ASSERT_EQ(impl.modifySvolLabel(bed.snaps, true), 0) << bed.errorText();
  EXPECT_EQ(sim.load().array(Bed::kSerial)->ldev(513).label, "BLANK");

  EXPECT_EQ(impl.deleteSvols("512"), 0) << bed.errorText();
  EXPECT_EQ(impl.deleteSvols("512"), 0) << "already deleted";
  EXPECT_FALSE(sim.load().array(Bed::kSerial)->ldev(512).defined);
}

TEST(SvolSimulator, VirtualStorageMachineRoundTrip) {
  Bed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  sim.addResourceGroup(Bed::kSerial, "VSM grp", 1, "512345", "M850M3");
  // Free ids as the S-VOL search finds them: 800 in meta_resource with no
  // virtual id of its own, 801 reserved for the machine with virtual id
  // 900, 802 in the machine's group without a virtual id (VIR_LDEV 65534).
  sim.setArray(Bed::kSerial, [](ccisim::Array& a) {
    a.ldevRef(801).rsgid = 1;
    a.ldevRef(801).vid = 900;
    a.ldevRef(802).rsgid = 1;
    a.ldevRef(802).vid = ccisim::kVidNone;
  });
  bed.options.isHTI = true;
  bed.options.isVSM = true;
  bed.options.resourceGroup = "VSM grp";
  std::vector<HDSLdevInfo> free;
  ASSERT_EQ(impl.getLdevList(free, {{0x20, "3"}}), 0) << bed.errorText();
  ASSERT_GE(free.size(), 35u);
  EXPECT_EQ(free[32].virtualLdevId, "");
  EXPECT_EQ(free[33].virtualLdevId, "900");
  EXPECT_EQ(free[34].virtualLdevId, "65534");
  bed.snaps = {snap("800", 64, 0, ""), snap("801", 64, 0, "900"), snap("802", 64, 0, "65534")};
  ASSERT_EQ(impl.createSvols({}), 0) << bed.errorText();
  ccisim::Array a = *sim.load().array(Bed::kSerial);
  EXPECT_EQ(a.ldev(800).rsgid, 1);
  EXPECT_EQ(a.ldev(800).vid, 800);
  EXPECT_EQ(a.ldev(801).rsgid, 1);
  EXPECT_EQ(a.ldev(801).vid, 900);
  EXPECT_EQ(a.ldev(802).vid, 802);
  EXPECT_EQ(bed.snaps[0].snapVirLdevId, "800");
  EXPECT_EQ(bed.snaps[1].snapVirLdevId, "900");
  EXPECT_EQ(bed.snaps[2].snapVirLdevId, "802");
  EXPECT_EQ(sim.journal("raidcom", "unmap resource -ldev_id 801 -virtual_ldev_id 900").size(), 1u);
  EXPECT_TRUE(sim.journal("raidcom", "unmap resource -ldev_id 802").empty());
  EXPECT_EQ(impl.deleteSvols("802"), 0) << bed.errorText();

  EXPECT_EQ(impl.deleteSvols("801"), 0) << bed.errorText();
  EXPECT_EQ(impl.deleteSvols("800"), 0) << bed.errorText();
  a = *sim.load().array(Bed::kSerial);
  EXPECT_FALSE(a.ldev(800).defined);
  EXPECT_FALSE(a.ldev(801).defined);
  EXPECT_EQ(a.ldev(801).rsgid, 0);
  // Deleting again finds the id undefined and counts it as deleted.
  EXPECT_EQ(impl.deleteSvols("801"), 0) << bed.errorText();
}

// The global-virtualisation form prints the virtual values first: the free
// ids the S-VOL search reads are still the physical ones, each with its
// virtual id, and the array is the physical one.
TEST(SvolSimulator, GlobalVirtualisationListingKeepsPhysicalIds) {
  Bed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  sim.addResourceGroup(Bed::kSerial, "VSM grp", 1, "512345", "M850M3");
  sim.setArray(Bed::kSerial, [](ccisim::Array& a) {
    a.globalVirtualization = true;
    a.ldevRef(801).rsgid = 1;
    a.ldevRef(801).vid = 900;
  });
  std::vector<HDSLdevInfo> free;
  ASSERT_EQ(impl.getLdevList(free, {{0x20, "3"}}), 0) << bed.errorText();
  ASSERT_GE(free.size(), 34u);
  EXPECT_EQ(free[32].ldevId, "800");
  EXPECT_EQ(free[32].virtualLdevId, "");
  EXPECT_EQ(free[33].ldevId, "801");
  EXPECT_EQ(free[33].virtualLdevId, "900");
  EXPECT_EQ(free[33].serial, Bed::kSerial);
  std::vector<HDSLdevInfo> one(1);
  one[0].ldevId = "801";
  one[0].serial = Bed::kSerial;
  ASSERT_EQ(impl.getLdevInfo(one), 0) << bed.errorText();
  EXPECT_EQ(one[0].virtualLdevId, "900");
}

}  // namespace
