// Each fault kind: when it fires, what the caller sees, and what the array
// state shows afterwards.
#include "sim/tests/ccisim_test_util.h"

using namespace ccisim;
using namespace ccisim_test;

namespace {

class Faults : public SimTest {};

TEST_F(Faults, FailNthMatchingCommandWithoutEffect) {
  Fault f = Fault::fail("raidcom", "add ldev", 221, "raidcom: [EX_CMDRJE] injected\n");
  f.skip = 1;  // the second matching command fails
  int id = fx.addFault(f);
  EXPECT_EQ(0, rc("add ldev -pool snap -ldev_id 600 -capacity 10").exitCode);
  EXPECT_EQ(0, rc("get ldev -ldev_id 600").exitCode) << "other commands do not count";
  Outcome o = rc("add ldev -pool snap -ldev_id 601 -capacity 10");
  EXPECT_EQ(221, o.exitCode);
  EXPECT_EQ("raidcom: [EX_CMDRJE] injected\n", o.err);
  EXPECT_FALSE(ldev(601).defined) << "the failing command had no effect";
  EXPECT_EQ(0, rc("add ldev -pool snap -ldev_id 602 -capacity 10").exitCode) << "fired once only";
  Fault after = fx.fault(id);
  EXPECT_EQ(3, after.seen);
  EXPECT_EQ(1, after.fired);
}

TEST_F(Faults, FailEveryTimeAndFailAfterTheEffect) {
  fx.addFault(Fault::fail("raidcom", "delete lun", 1,
                          "raidcom: [EX_CMDRJE] ...\nCAUSE : LU is executing host I/O\n", -1));
  for (int i = 0; i < 3; ++i) {
    Outcome o = rc("delete lun -port CL1-A-1 -ldev_id 256");
    EXPECT_EQ(1, o.exitCode);
    EXPECT_NE(std::string::npos, o.err.find("LU is executing host I/O"));
  }
  EXPECT_EQ(256, array().hostGroup("CL1-A", 1)->luns.at(0));
  fx.clearFaults();
  // Took effect although reported failed; a warning with exit 0.
  Fault late = Fault::fail("raidcom", "modify ldev", 1, "raidcom: [EX_CMDRJE] late failure\n");
  late.applyEffect = true;
  fx.addFault(late);
  Fault warn = Fault::fail("raidcom", "-ldev_id 258", 0, "");
  warn.out = "raidcom: [EW_WARNING] Some warning\n";
  warn.applyEffect = true;
  fx.addFault(warn);
  EXPECT_EQ(1, rc("modify ldev -ldev_id 257 -ldev_name QB_A").exitCode);
  EXPECT_EQ("QB_A", ldev(257).label);
  Outcome w = rc("modify ldev -ldev_id 258 -ldev_name QB_B");
  EXPECT_EQ(0, w.exitCode);
  EXPECT_EQ("raidcom: [EW_WARNING] Some warning\n", w.out);
  EXPECT_EQ("QB_B", ldev(258).label);
}

TEST_F(Faults, ExpireLoginOnceTwiceForever) {
  fx.addFault(Fault::expireLogin("", 1));
  EXPECT_EQ(kExitAuth, rc("get pool").exitCode);
  EXPECT_EQ(0, tool("raidcom", "-login cciuser secret -IM3532").exitCode)
      << "the login itself is not expired";
  EXPECT_EQ(0, rc("get pool").exitCode);
  fx.addFault(Fault::expireLogin("get ldev", 2));
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(kExitAuth, rc("get ldev -ldev_id 256").exitCode);
    EXPECT_EQ(0, tool("raidcom", "-login cciuser secret -IM3532").exitCode);
  }
  EXPECT_EQ(0, rc("get ldev -ldev_id 256").exitCode);
  fx.addFault(Fault::expireLogin("get copy_grp", -1));
  for (int i = 0; i < 3; ++i) {
    tool("raidcom", "-login cciuser secret -IM3532");
    EXPECT_EQ(kExitAuth, rc("get copy_grp").exitCode);
  }
  // The logout answering 202 is a plain fail fault.
  fx.addFault(Fault::fail("raidcom", "-logout", kExitAuth,
                          "raidcom: [EX_ENAUTH] Authentication failed with User\n"));
  EXPECT_EQ(kExitAuth, tool("raidcom", "-logout -IM3532").exitCode);
}

TEST_F(Faults, CommandStatusBusyWithAndWithoutRow) {
  fx.addFault(Fault::statusBusy(2, true));
  Outcome b1 = rc("get command_status");
  EXPECT_EQ(kExitStatusTimeout, b1.exitCode);
  ASSERT_EQ(2u, lines(b1.out).size());
  EXPECT_EQ("0", split(lines(b1.out)[1])[3]);
  EXPECT_EQ(kExitStatusTimeout, rc("get command_status").exitCode);
  EXPECT_EQ(0, rc("get command_status").exitCode);
  fx.addFault(Fault::statusBusy(1, false));
  Outcome b2 = rc("get command_status");
  EXPECT_EQ(kExitStatusTimeout, b2.exitCode);
  EXPECT_EQ("", b2.out);
}

TEST_F(Faults, StatusErrorAfterExitZero) {
  fx.addFault(Fault::statusError("add snapshot", 1, "[EX_CMDRJE] The pool is full"));
  rc("reset command_status");
  Outcome o = rc("add snapshot -ldev_id 256 -pool 5 -snapshotgroup G");
  EXPECT_EQ(0, o.exitCode);
  EXPECT_TRUE(array().pairs.empty()) << "no effect";
  std::string row = lines(rc("get command_status").out)[1];
  EXPECT_EQ("1", split(row)[3]);
  EXPECT_NE(std::string::npos, row.find("[EX_CMDRJE] The pool is full"));
  EXPECT_EQ(0, rc("add snapshot -ldev_id 256 -pool 5 -snapshotgroup G").exitCode);
  EXPECT_EQ("1", split(lines(rc("get command_status").out)[1])[3])
      << "the first error stays until reset";
  rc("reset command_status");
  EXPECT_EQ("0", split(lines(rc("get command_status").out)[1])[3]);
  EXPECT_EQ(1u, array().pairs.size());
}

// Another session of the same array user resets the status in between: the
// command took no effect, and the status counts no error, not even the ones
// it held before; a command that answers for itself passes the fault by.
TEST_F(Faults, StatusResetLeavesNoErrorAndNoEffect) {
  fx.addFault(Fault::statusError("add snapshot -ldev_id 257", 1, "[EX_CMDRJE] earlier"));
  fx.addFault(Fault::statusReset("add snapshot -ldev_id 256"));
  rc("reset command_status");
  EXPECT_EQ(0, rc("add snapshot -ldev_id 257 -pool 5 -snapshotgroup G").exitCode);
  EXPECT_EQ("1", split(lines(rc("get command_status").out)[1])[3]);
  EXPECT_EQ(0, rc("modify ldev -ldev_id 257 -ldev_name QB_S").exitCode);
  EXPECT_EQ(0, rc("add snapshot -ldev_id 256 -pool 5 -snapshotgroup G").exitCode);
  EXPECT_TRUE(array().pairs.empty()) << "no effect";
  const Outcome status = rc("get command_status");
  EXPECT_EQ(0, status.exitCode);
  EXPECT_EQ("0", split(lines(status.out)[1])[3]);
  EXPECT_EQ(0, rc("add snapshot -ldev_id 256 -pool 5 -snapshotgroup G").exitCode);
  EXPECT_EQ(1u, array().pairs.size()) << "it fired once";
}

// Only what the array carries out after the tool returned can fail in the
// command status; a command that answers for itself (a label, a lock, a
// listing) passes such a fault by and takes effect.
TEST_F(Faults, StatusErrorOnlyForAsynchronousCommands) {
  struct Case {
    std::string line;
    bool asynchronous;
  } cases[] = {
      {"add ldev -ldev_id 600 -capacity 64 -pool snap", true},
      {"delete snapshot -ldev_id 256 -mirror_id 3", true},
      {"map snapshot -ldev_id 256 600 -mirror_id 3", true},
      {"modify ldev -ldev_id 257 -ldev_name QB_S", false},
      {"lock resource -time 30", false},
      {"get snapshot", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::string> argv = split(c.line);
    EXPECT_EQ(c.asynchronous, isAsynchronous("raidcom", argv));
    EXPECT_FALSE(isAsynchronous("raidscan", argv));
  }
  fx.addFault(Fault::statusError("", 1, "[EX_CMDRJE] injected"));
  rc("reset command_status");
  EXPECT_EQ(0, rc("modify ldev -ldev_id 257 -ldev_name QB_S").exitCode);
  EXPECT_EQ("QB_S", ldev(257).label) << "a label answers for itself";
  EXPECT_EQ("0", split(lines(rc("get command_status").out)[1])[3]);
  EXPECT_EQ(0, rc("add snapshot -ldev_id 256 -pool 5 -snapshotgroup G").exitCode);
  EXPECT_TRUE(array().pairs.empty()) << "the fault was kept for the asynchronous command";
  EXPECT_EQ("1", split(lines(rc("get command_status").out)[1])[3]);
}

TEST_F(Faults, HangAfterTheEffectIsReportedToTheCaller) {
  fx.addFault(Fault::hang("raidcom", "modify ldev", 45000, false));
  Outcome o = rc("modify ldev -ldev_id 257 -ldev_name QB_H");
  EXPECT_EQ(45000, o.hangMillis) << "main sleeps this long before printing";
  EXPECT_EQ("QB_H", ldev(257).label) << "the effect is saved before the hang";
  EXPECT_EQ(0, rc("modify ldev -ldev_id 257 -ldev_name QB_I").hangMillis);
}

TEST_F(Faults, SlowAnswersEveryCommand) {
  fx.addFault(Fault::slow(20));
  EXPECT_EQ(20, tool("raidqry", "-h").hangMillis);
  EXPECT_EQ(20, rc("get pool").hangMillis);
  EXPECT_EQ(20, rc("get bogus").hangMillis) << "failing commands too";
}

TEST_F(Faults, HangBeforeTheEffectLeavesAMarker) {
  fx.addFault(Fault::hang("raidcom", "modify ldev", 50, true));
  Outcome o = rc("modify ldev -ldev_id 257 -ldev_name QB_H");
  EXPECT_EQ(0, o.exitCode);
  EXPECT_EQ("QB_H", ldev(257).label);
  std::vector<JournalEntry> j = fx.journal();
  ASSERT_EQ(2u, j.size());
  EXPECT_TRUE(j[0].hangMarker);
  EXPECT_FALSE(j[1].hangMarker);
  EXPECT_EQ(1u, fx.journal("raidcom", "modify ldev").size()) << "markers are not commands";
}

TEST_F(Faults, GarbledOutputs) {
  const std::string clean = rc("get pool -key opt").out;
  ASSERT_EQ('\n', clean.back());
  struct Row {
    std::string mode;
    std::function<bool(const std::string&)> check;
  } rows[] = {
      {"dropFinalNewline",
       [&](const std::string& s) { return s == clean.substr(0, clean.size() - 1); }},
      {"dropHeader", [&](const std::string& s) { return s == clean.substr(clean.find('\n') + 1); }},
      {"extraPreamble",
       [&](const std::string& s) {
         return s.size() > clean.size() && s.substr(s.size() - clean.size()) == clean;
       }},
      {"leadingBlanks",
       [&](const std::string& s) {
         return s.rfind("   PID", 0) == 0 && s.find("\n   005 ") != std::string::npos;
       }},
      {"rightAligned",
       [&](const std::string& s) {
         return s.rfind("PID", 0) == 0 && s.find("\n   005 ") != std::string::npos;
       }},
      {"trailingBlanks",
       [&](const std::string& s) { return s.find("TI  \n") != std::string::npos; }},
      {"crlf",
       [&](const std::string& s) {
         return s.find("TI\r\n") != std::string::npos && s.back() == '\n';
       }},
      {"empty", [&](const std::string& s) { return s.empty(); }},
      {"randomBytes",
       [&](const std::string& s) { return s.size() == 97 && s.find("PID") == std::string::npos; }},
      {"truncate",
       [&](const std::string& s) {
         return s.back() != '\n' && clean.rfind(s, 0) == 0 && s.size() > clean.size() / 2;
       }},
  };
  for (const Row& r : rows) {
    fx.addFault(Fault::garbleOutput("raidcom", "get pool", r.mode));
    Outcome o = rc("get pool -key opt");
    EXPECT_EQ(0, o.exitCode) << r.mode;
    EXPECT_TRUE(r.check(o.out)) << r.mode << ":\n" << o.out;
    EXPECT_EQ(clean, rc("get pool -key opt").out) << r.mode << " fires once";
  }
}

TEST_F(Faults, ErrorTextOnStandardOutput) {
  Outcome e = rc("get ldev -ldev_id 9999");
  EXPECT_EQ("", e.out);
  EXPECT_NE("", e.err);
  fx.setErrorStream("stdout");
  Outcome o = rc("get ldev -ldev_id 9999");
  EXPECT_EQ(e.err, o.out);
  EXPECT_EQ("", o.err);
}

TEST_F(Faults, HorcmStartFaults) {
  fx.writeHorcmFile(3531, "mahost01", kSerial, {"/dev/sdc"});
  Fault noWord = Fault::fail("horcmstart.sh", "", 0, "");
  noWord.out = "starting HORCM inst 3531\n";
  fx.addFault(noWord);
  Outcome o = tool("horcmstart.sh", "3531");
  EXPECT_EQ(0, o.exitCode);
  EXPECT_EQ(std::string::npos, o.out.find("successfully"));
  EXPECT_FALSE(fx.instance(3531).running) << "not started";
  fx.addFault(Fault::fail("horcmstart.sh", "3531", 1, "horcmstart.sh : start failed\n"));
  EXPECT_EQ(1, tool("horcmstart.sh", "3531").exitCode);
  EXPECT_EQ(0, tool("horcmstart.sh", "3531").exitCode);
  fx.addFault(Fault::fail("horcmshutdown.sh", "", 1, "shutdown failed\n"));
  EXPECT_EQ(1, tool("horcmshutdown.sh", "3531").exitCode);
  EXPECT_TRUE(fx.instance(3531).running);
}

TEST_F(Faults, VersionAndModelSwitches) {
  Fault noVer = Fault::fail("raidqry", "-h", 0, "");
  noVer.out = "Model  : CCI/Linux/x64\nUsage  : raidqry [options]\n";
  fx.addFault(noVer);
  EXPECT_EQ(std::string::npos, tool("raidqry", "-h").out.find("Ver&Rev"));
  fx.setArray(kSerial, [](Array& a) {
    a.micro = "80-02-22/00";
    a.resourceGroups["meta_resource"].vModel = "R800";
    a.maxLdev = 1000;
  });
  EXPECT_NE(std::string::npos, tool("raidqry", "-l -IM3532").out.find(" 80-02-22/00 "));
  EXPECT_NE(std::string::npos, rc("get resource -key opt").out.find(" R800 "));
  EXPECT_EQ(kExitNoLdev, rc("get ldev -ldev_id 2047").exitCode)
      << "probe above the lowered maximum";
}

}  // namespace
