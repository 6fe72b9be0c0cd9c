// Command composition and the exit-code policy of the CCI implementer,
// against a recording runner.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "array/tests/support/HDSArrayTestBase.h"
#include "host/testing/ZrFakeClock.h"

namespace {

using Reply = HDSRecordingRunner::Reply;
using R = HDSRecordingRunner;

const char kStatusHeader[] = "HANDLE   SSB1    SSB2    ERR_CNT        Serial#   Description\n";

std::string statusOutput(const std::string& row) { return kStatusHeader + row + "\n"; }

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return out;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") out.push_back(n);
  }
  closedir(d);
  return out;
}

}  // namespace

class CoreExecute : public HDSArrayTestBase {};

TEST_F(CoreExecute, CommonParamsAllFourForms) {
  EXPECT_EQ(" -IM3532 -s 412345", Peer::commonParams(*impl, true, true));
  EXPECT_EQ(" -IM3532", Peer::commonParams(*impl, true, false));
  EXPECT_EQ(" -IH3532 -s 412345", Peer::commonParams(*impl, false, true));
  EXPECT_EQ(" -IH3532", Peer::commonParams(*impl, false, false));
}

TEST_F(CoreExecute, ComposesDirectoryCommandBlankArguments) {
  runner.on(" get ldev ", R::ok("text"));
  std::string out;
  int ec = -5;
  ASSERT_EQ(0,
            Peer::executeCommand(*impl, "raidcom  get ldev ",
                                 " -ldev_id 256" + Peer::commonParams(*impl, true, true), out, ec));
  EXPECT_EQ(0, ec);
  EXPECT_EQ("text", out);
  ASSERT_EQ(1u, runner.lines().size());
  EXPECT_EQ("/cci/raidcom  get ldev   -ldev_id 256 -IM3532 -s 412345", runner.lines()[0]);
  EXPECT_EQ(300, runner.timeouts()[0]);
}

TEST_F(CoreExecute, DirectoryWithBlankIsQuotedAsOneWord) {
  options.horcmInstPath = "/opt/my cci/";
  runner.on("raidqry", R::ok());
  std::string out;
  int ec = 0;
  ASSERT_EQ(0, Peer::executeCommand(*impl, "raidqry ", " -h ", out, ec));
  EXPECT_EQ("\"/opt/my cci/\"raidqry   -h ", runner.lines()[0]);
}

TEST_F(CoreExecute, ExitCodeRules) {
  struct Row {
    Reply reply;
    int result;
    int level;  // log level of the exit-code line; -1 none
  };
  const Row rows[] = {
      {R::exit(0, "fine"), 0, -1},        {R::exit(1, "", "bad"), 1, 0},
      {R::exit(227, "", "locked"), 1, 0}, {R::exit(5, "", "five"), 1, 2},
      {R::exit(137, "", "killed"), 1, 2}, {R::exit(-1, "", ""), 1, 2},
  };
  for (const Row& row : rows) {
    runner = HDSRecordingRunner();
    device.clearLogs();
    runner.on("raidcom", row.reply);
    impl->setErrorCodeString(0, "");
    std::string out;
    int ec = 0;
    int rc = Peer::executeCommand(*impl, "raidcom  get port ",
                                  Peer::commonParams(*impl, true, true), out, ec);
    SCOPED_TRACE(row.reply.exitCode);
    EXPECT_EQ(row.result, rc);
    EXPECT_EQ(row.reply.exitCode, ec);
    if (row.result == 0) continue;
    std::string printable = "/cci/raidcom  get port   -IM3532 -s 412345";
    EXPECT_EQ(std::make_pair(62601, "Command '" + printable + "' returned exit code-[" +
                                        std::to_string(row.reply.exitCode) + "]."),
              error());
    // The failing output (with the standard error) stays for the caller.
    EXPECT_EQ(row.reply.err, out);
    bool found = false;
    for (const auto& l : device.logs()) {
      if (l.text.find("returned exitcode-[" + std::to_string(row.reply.exitCode) + "]") !=
          std::string::npos) {
        EXPECT_EQ(row.level, l.level);
        EXPECT_EQ("ZRHDSRaidcomImplementer::executeCommand", l.function);
        found = true;
      }
    }
    EXPECT_TRUE(found);
  }
}

TEST_F(CoreExecute, RunnerFailureSetsExecuteText) {
  runner.on("raidcom", R::timeout());
  std::string out = "before";
  int ec = 0;
  EXPECT_EQ(1, Peer::executeCommand(*impl, "raidcom  get port ", " -IM3532", out, ec));
  EXPECT_EQ(std::make_pair(62601, std::string("Failed to execute command '/cci/raidcom  get port   "
                                              "-IM3532' Error-[timedout].")),
            error());
}

TEST_F(CoreExecute, NonDecimalInstanceOrSerialRunsNothing) {
  const std::pair<std::string, std::string> rows[] = {
      {"3532;touch x", "412345"}, {"35 32", "412345"}, {"3532", "412345 ; id"}, {"3532", "4a"}};
  for (const auto& row : rows) {
    options.horcmInst = row.first;
    options.baseSerialNum = row.second;
    std::string out;
    int ec = 0;
    EXPECT_EQ(1, Peer::executeCommand(*impl, "raidcom  get port ",
                                      Peer::commonParams(*impl, true, true), out, ec));
    EXPECT_EQ(62601, error().first);
    EXPECT_NE(std::string::npos, error().second.find("Invalid input"));
  }
  EXPECT_TRUE(runner.lines().empty());
}

TEST_F(CoreExecute, Exit202LogsInOnceAndRunsOnceMore) {
  setSetting(loginKey(), 2);
  runner.on(" get port ", R::exit(202, "", "raidcom: [EX_ENAUTH] Authentication failed"), 1);
  runner.on(" get port ", R::ok("ports\n"));
  runner.on("-login", R::ok());
  std::string out;
  int ec = 0;
  ASSERT_EQ(0, Peer::executeCommandMain(*impl, "raidcom  get port ",
                                        Peer::commonParams(*impl, true, true), out, ec));
  EXPECT_EQ("ports\n", out);
  const std::vector<std::string> expected = {
      "/cci/raidcom  get port   -IM3532 -s 412345",
      "/cci/raidcom  -login  cciuser secret -IM3532",
      "/cci/raidcom  get port   -IM3532 -s 412345",
  };
  EXPECT_EQ(expected, runner.lines());
  // The holders are the same: a forced login leaves their count alone.
  EXPECT_EQ(2, setting(loginKey()));
}

TEST_F(CoreExecute, Exit202TwiceFailsWithoutSecondLogin) {
  setSetting(loginKey(), 1);
  runner.on(" get port ", R::exit(202, "", "raidcom: [EX_ENAUTH]"));
  runner.on("-login", R::ok());
  std::string out;
  int ec = 0;
  EXPECT_EQ(1, Peer::executeCommandMain(*impl, "raidcom  get port ",
                                        Peer::commonParams(*impl, true, true), out, ec));
  EXPECT_EQ(202, ec);
  EXPECT_EQ(1u, runner.linesWith("-login").size());
  EXPECT_EQ(2u, runner.linesWith(" get port ").size());
  EXPECT_EQ(
      std::make_pair(62601, std::string("Command '/cci/raidcom  get port   -IM3532 -s 412345' "
                                        "returned exit code-[202].")),
      error());
}

TEST_F(CoreExecute, Exit202WithRefusedLoginKeepsLoginError) {
  setSetting(loginKey(), 1);
  runner.on(" get port ", R::exit(202));
  runner.on("-login", R::exit(1, "", "raidcom: [EX_ENAUTH]"));
  std::string out;
  int ec = 0;
  EXPECT_EQ(1, Peer::executeCommandMain(*impl, "raidcom  get port ", "", out, ec));
  EXPECT_EQ(std::make_pair(62602, std::string("Failed to login into array.")), error());
  EXPECT_EQ(1u, runner.linesWith(" get port ").size());
  EXPECT_EQ(1, setting(loginKey()));
}

TEST_F(CoreExecute, CommandStatusParsing) {
  struct Row {
    std::string output;
    int result;
    bool hasError;
    std::string text;
  };
  const Row rows[] = {
      {statusOutput("00c3 - - 0 412345 -"), 0, false, ""},
      {statusOutput("00c3 - - 00 412345 -"), 0, false, ""},
      {statusOutput("00c3 2E31 9B01 2 412345 Pool is full now"), 0, true, "Pool is full now"},
      {statusOutput("00c3\t-\t-\t1\t412345\tX"), 0, true, "X"},
      // A row that ends with ERR_CNT was cut short.
      {statusOutput("00c3 - - 1"), 1, false, ""},
      {statusOutput("00c3 - - 0 412345 -\r"), 0, false, ""},
      // ERR_CNT not decimal: unreadable, never "no error".
      {statusOutput("00c3 - - - 412345 -"), 1, false, ""},
      {statusOutput("00c3 - - x1 412345 -"), 1, false, ""},
      // Columns are found by the header's words; an indented row reads the same.
      {statusOutput(" 00c3 - - 2 412345 Pool full"), 0, true, "Pool full"},
      {"ERR_CNT Description HANDLE\n3 Pool full 00c3\n", 0, true, "Pool full 00c3"},
      // Another header (the -request_id layout has no ERR_CNT).
      {"REQID R SSB1 SSB2 Serial# ID Description\n00000001 - 2E20 6000 64034 3 x\n", 1, false, ""},
      {statusOutput("00c3 - -"), 1, false, ""},
      {kStatusHeader, 1, false, ""},
      // The row is read without its final newline.
      {std::string(kStatusHeader) + "00c3 - - 0 412345 -", 0, false, ""},
      {std::string(kStatusHeader) + "00c3 2E31 9B01 1 412345 Pool full", 0, true, "Pool full"},
      {"", 1, false, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.output);
    bool hasError = false;
    std::string text, row;
    EXPECT_EQ(r.result, Peer::parseCommandStatus(r.output, hasError, text, row));
    if (r.result == 0) {
      EXPECT_EQ(r.hasError, hasError);
      EXPECT_EQ(r.text, text);
    }
  }
}

TEST_F(CoreExecute, Status233RetriesAtOnceThenSucceeds) {
  ZrFakeClock clock;
  ZrScopedClock guard(&clock);
  runner.on("get command_status", R::exit(233, "", "raidcom: [EX_EWSTOT] Timeout"), 3);
  runner.on("get command_status", R::ok(statusOutput("00c3 - - 0 412345 -")));
  bool hasError = true;
  std::string text;
  ASSERT_EQ(0, Peer::getCommandStatus(*impl, hasError, text));
  EXPECT_FALSE(hasError);
  EXPECT_EQ(4u, runner.lines().size());
  EXPECT_EQ(0, clock.totalSleptMillis()) << "the tool has already waited on the array";
}

TEST_F(CoreExecute, Status233UpToTheLimitEndsInCommandTimeout) {
  ZrFakeClock clock;
  ZrScopedClock guard(&clock);
  Peer::setRetryCount(*impl, 4);
  runner.on("get command_status", R::exit(233, statusOutput("00c3 - - 0 412345 -"), ""));
  bool hasError = false;
  std::string text;
  ASSERT_EQ(0, Peer::getCommandStatus(*impl, hasError, text));
  EXPECT_TRUE(hasError);
  EXPECT_EQ("Command Timeout.", text);
  EXPECT_EQ(4u, runner.lines().size());
  EXPECT_EQ(0, clock.totalSleptMillis());

  // Without a status row in the last answer the check itself fails.
  runner = HDSRecordingRunner();
  runner.on("get command_status", R::exit(233, "", "raidcom: [EX_EWSTOT]"));
  EXPECT_EQ(1, Peer::getCommandStatus(*impl, hasError, text));
}

TEST_F(CoreExecute, StatusQueryOtherFailureStopsAtOnce) {
  runner.on("get command_status", R::exit(5));
  bool hasError = false;
  std::string text;
  EXPECT_EQ(1, Peer::getCommandStatus(*impl, hasError, text));
  EXPECT_EQ(std::make_pair(62601, std::string("Failed to get command status.")), error());
  EXPECT_EQ(1u, runner.lines().size());
}

TEST_F(CoreExecute, KeptOutputFileAndItsFailureIsNotACommandFailure) {
  Peer::setKeepOutput(*impl, true);
  runner.on(" get port ", R::ok("CL1-A FIBRE\n"));
  std::string out;
  int ec = 0;
  ASSERT_EQ(0, Peer::executeCommandMain(*impl, "raidcom  get port ", "", out, ec));
  std::vector<std::string> files = filesIn(tempDir());
  ASSERT_EQ(1u, files.size());
  EXPECT_NE(std::string::npos, files[0].find("_resp.log"));
  EXPECT_EQ("CL1-A FIBRE\n", zrReadFile(tempDir() + "/" + files[0]));

  // Empty output: no file.
  runner = HDSRecordingRunner();
  runner.on(" get port ", R::ok(""));
  ASSERT_EQ(0, Peer::executeCommandMain(*impl, "raidcom  get port ", "", out, ec));
  EXPECT_EQ(1u, filesIn(tempDir()).size());

  // The directory is gone: the command still succeeds, the failure is logged.
  runner = HDSRecordingRunner();
  runner.on(" get port ", R::ok("x\n"));
  Peer::setTempDir(*impl, tmp.path() + "/missing");
  device.clearLogs();
  EXPECT_EQ(0, Peer::executeCommandMain(*impl, "raidcom  get port ", "", out, ec));
  EXPECT_TRUE(device.logged("Failed to open output file-["));
}

TEST_F(CoreExecute, FileNamesCountWithinOneSecond) {
  ZrFakeClock clock(1700000000);
  ZrScopedClock guard(&clock);
  clock.advanceMillis(5000);  // a second no earlier test used
  std::string a = Peer::outputFileName(*impl);
  std::string b = Peer::outputFileName(*impl);
  clock.advanceMillis(1000);
  std::string c = Peer::outputFileName(*impl);
  std::string prefix = tempDir() + "/" + std::to_string(getpid()) + "_";
  EXPECT_EQ(0u, a.rfind(prefix, 0));
  // Each name ends in an unpredictable token before its kind.
  EXPECT_EQ("_1_", a.substr(a.size() - 20, 3));
  EXPECT_EQ("_2_", b.substr(b.size() - 20, 3));
  EXPECT_EQ("_1_", c.substr(c.size() - 20, 3));
  EXPECT_EQ("_resp.log", a.substr(a.size() - 9));
  EXPECT_NE(a.substr(a.size() - 17, 8), b.substr(b.size() - 17, 8));
  EXPECT_NE(std::string::npos, a.find("_1700000005_"));
  EXPECT_NE(std::string::npos, c.find("_1700000006_"));
  std::string s = Peer::inputFileName(*impl);
  EXPECT_EQ("_1_", s.substr(s.size() - 18, 3));
  EXPECT_EQ("_script", s.substr(s.size() - 7));
}

// ---------------------------------------------------------------------------
// Script files (recording runner: composition and file handling).

TEST_F(CoreExecute, ScriptFileIsPrivateCompleteAndRunByShell) {
  runner.on("/bin/sh ", R::ok());
  std::string out;
  int ec = 0;
  ASSERT_EQ(0, Peer::executeScriptFile(*impl,
                                       "/cci/raidcom  delete ldev  -ldev_id 1\n"
                                       "/cci/raidcom  delete ldev  -ldev_id 2\n",
                                       out, ec));
  ASSERT_EQ(1u, runner.lines().size());
  const std::string& line = runner.lines()[0];
  ASSERT_EQ(0u, line.rfind("/bin/sh " + tempDir() + "/", 0));
  EXPECT_EQ("_script", line.substr(line.size() - 7));
  ASSERT_EQ(1u, runner.scripts().size());
  EXPECT_EQ(
      "zr_rc=0\n"
      "/cci/raidcom  delete ldev  -ldev_id 1 || zr_rc=$?\n"
      "/cci/raidcom  delete ldev  -ldev_id 2 || zr_rc=$?\n"
      "exit $zr_rc\n",
      runner.scripts()[0]);
  // Removed after success.
  EXPECT_TRUE(filesIn(tempDir()).empty());
}

TEST_F(CoreExecute, ScriptFileModeIs0700AndKeptWhenAsked) {
  Peer::setKeepOutput(*impl, true);
  runner.on("/bin/sh ", R::ok());
  ::umask(077);
  std::string out;
  int ec = 0;
  ASSERT_EQ(0, Peer::executeScriptFile(*impl, "true\n", out, ec));
  ::umask(022);
  std::vector<std::string> files = filesIn(tempDir());
  ASSERT_EQ(1u, files.size());
  struct stat st;
  ASSERT_EQ(0, ::stat((tempDir() + "/" + files[0]).c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
}

TEST_F(CoreExecute, ScriptNeverWritesThroughAnExistingFileOrLink) {
  ZrFakeClock clock(1700001000);
  ZrScopedClock guard(&clock);
  // Plant a link where the first two names will be; the target must stay
  // untouched and the script goes to a fresh name.
  std::string first = Peer::inputFileName(*impl);  // index 1 in this second
  std::string victim = tmp.file("victim");
  ASSERT_TRUE(zrWriteFile(victim, "precious"));
  clock.advanceMillis(1000);
  std::string planned = first;
  planned.replace(planned.find("_1700001000_"), 12, "_1700001001_");
  ASSERT_EQ(0, ::symlink(victim.c_str(), planned.c_str()));
  runner.on("/bin/sh ", R::ok());
  std::string out;
  int ec = 0;
  ASSERT_EQ(0, Peer::executeScriptFile(*impl, "true\n", out, ec));
  EXPECT_EQ("precious", zrReadFile(victim));
  ASSERT_EQ(1u, runner.lines().size());
  EXPECT_EQ(std::string::npos, runner.lines()[0].find(planned));
  // The names are unpredictable: the planted link is never even met, so
  // no retry (and no pause) is needed.
  EXPECT_EQ(0, clock.totalSleptMillis());
}

TEST_F(CoreExecute, ScriptFailuresKeepTheFile) {
  struct Row {
    Reply reply;
    std::string text;
  };
  const Row rows[] = {
      {R::exit(3, "", "boom"), "failed to execute. Output-[boom]"},
      {R::exit(0, "", "raidcom: [EW_WARN] careful\n"),
       "output has Error-[raidcom: [EW_WARN] careful"},
      {R::exit(0, "raidcom: [EX_CMDRJE] refused\n", ""), "output has Error-[raidcom: [EX_CMDRJE]"},
      {R::timeout(), "with CCI commands. Error-[timedout]"},
  };
  int n = 0;
  for (const Row& r : rows) {
    runner = HDSRecordingRunner();
    runner.on("/bin/sh ", r.reply);
    std::string out;
    int ec = 0;
    EXPECT_EQ(1, Peer::executeScriptFile(*impl, "true\n", out, ec));
    EXPECT_EQ(62601, error().first);
    EXPECT_NE(std::string::npos, error().second.find(r.text)) << error().second;
    ++n;
    EXPECT_EQ(static_cast<size_t>(n), filesIn(tempDir()).size());
  }
}

TEST_F(CoreExecute, EmptyScriptRunsNothingAndKeepsPair) {
  impl->setErrorCodeString(7, "earlier");
  std::string out;
  int ec = 0;
  EXPECT_EQ(1, Peer::executeScriptFile(*impl, "", out, ec));
  EXPECT_EQ(1, Peer::executeScriptFile(*impl, "\n  \n", out, ec));
  EXPECT_EQ(std::make_pair(7, std::string("earlier")), error());
  EXPECT_TRUE(runner.lines().empty());
  EXPECT_TRUE(filesIn(tempDir()).empty());
}

// Script lines carry the common options too: an instance or serial that is
// not a decimal number stops the script before any file is made.
TEST_F(CoreExecute, ScriptWithNonDecimalInstanceOrSerialRunsNothing) {
  const std::pair<std::string, std::string> rows[] = {{"3532;touch x", kSerial},
                                                      {"3532", "412345 $(id)"}};
  for (const auto& row : rows) {
    options.horcmInst = row.first;
    options.baseSerialNum = row.second;
    std::string out;
    int ec = 0;
    EXPECT_EQ(1, Peer::executeScriptFile(*impl,
                                         "/cci/raidcom  delete ldev  -ldev_id 1" +
                                             Peer::commonParams(*impl, true, true) + "\n",
                                         out, ec));
    EXPECT_EQ(62601, error().first);
    EXPECT_EQ(0u, error().second.find("Invalid input: ")) << error().second;
  }
  EXPECT_TRUE(runner.lines().empty());
  EXPECT_TRUE(filesIn(tempDir()).empty());
}

TEST_F(CoreExecute, ScriptLineWithControlCharacterIsRefused) {
  std::string out;
  int ec = 0;
  EXPECT_EQ(1, Peer::executeScriptFile(*impl, "raidcom a\rb\n", out, ec));
  EXPECT_TRUE(runner.lines().empty());
}

TEST_F(CoreExecute, ScriptFileThatCannotBeCreatedIsNotRun) {
  // A temporary directory that does not exist: every attempt to create the
  // file fails, with a pause between attempts.
  ZrFakeClock clock;
  ZrScopedClock guard(&clock);
  Peer::setTempDir(*impl, tmp.path() + "/nowhere");
  std::string out;
  int ec = 0;
  EXPECT_EQ(1, Peer::executeScriptFile(*impl, "true\n", out, ec));
  EXPECT_NE(std::string::npos, error().second.find("Failed to open the ScriptFile-["));
  EXPECT_TRUE(runner.lines().empty());
  EXPECT_EQ(4 * 2000, clock.totalSleptMillis());
}

// The process-wide name counters and statics hold up under several threads,
// each with its own implementer (as the host may call on two threads).
TEST_F(CoreExecute, ConcurrentImplementersKeepNamesApart) {
  const int kThreads = 4;
  const int kNames = 200;
  std::vector<std::vector<std::string>> names(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t]() {
      ZRSO::SnapInfo* ownLog = &device;
      ZRSO::ZROSUtil* ownOs = nullptr;
      ZRHDSCommandHandlerInputParams p(ownOs, options, snaps);
      p.operationType = 1;
      HDSRecordingRunner ownRunner;
      ownRunner.on("raidqry", R::ok("Ver&Rev: 01-40-03/01\n"));
      ZRHDSRaidcomImplementer own(ownLog, p, ownRunner, false);
      Peer::setReady(own, tempDir());
      for (int i = 0; i < kNames; ++i) {
        names[t].push_back(i % 2 ? Peer::outputFileName(own) : Peer::inputFileName(own));
        std::string v;
        Peer::getCCIVersionInstalled(own, v);
        EXPECT_EQ("01-40-03/01", v);
        EXPECT_EQ("mahost01", ZRHDSCommandImplementer::getLocalHostName());
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<std::string> all;
  for (const auto& v : names) all.insert(v.begin(), v.end());
  EXPECT_EQ(static_cast<size_t>(kThreads * kNames), all.size());
}
