// CommandHelper: running commands through the host's runner, and the
// printable form that keeps login credentials out of every log.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <vector>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "host/EvDebug.h"
#include "host/ZRPlatformInfo.h"
#include "host/testing/FakeSnapInfo.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrChildProcess.h"
#include "util/CommandHelper.h"

namespace {

struct RunResult {
  int rc = -99;
  int exitCode = -99;
  std::string output = "preset-output";
  std::string error = "preset-error";
};

RunResult run(FakeSnapInfo& device, const std::string& command, int timeout) {
  RunResult r;
  CommandHelper helper(device);
  r.rc = helper.RunCommandWithTimeout(command, r.output, r.exitCode, r.error, timeout);
  return r;
}

TEST(CommandHelper, NonzeroExitKeepsBothStreams) {
  ScopedTempDir dir;
  FakeSnapInfo d;
  RunResult r = run(d, "printf A; printf B >&2; exit 3", 30);
  EXPECT_EQ(0, r.rc);
  EXPECT_EQ(3, r.exitCode);
  EXPECT_EQ("AB", r.output);
  EXPECT_EQ("B", r.error);
  EXPECT_TRUE(d.logged("Command [printf A; printf B >&2; exit 3] succeeded with exitCode [3]"));
}

TEST(CommandHelper, ZeroExitGivesStandardOutputAlone) {
  ScopedTempDir dir;
  FakeSnapInfo d;
  RunResult r = run(d, "printf A; printf B >&2", 30);
  EXPECT_EQ(0, r.rc);
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ("A", r.output);
  EXPECT_EQ("B", r.error);
  ASSERT_EQ(1u, d.logs().size());
  EXPECT_EQ(0, d.logs()[0].level);
  EXPECT_EQ("CommandHelper::RunCommandWithTimeout", d.logs()[0].function);
}

TEST(CommandHelper, StandardInputIsEmpty) {
  ScopedTempDir dir;
  FakeSnapInfo d;
  // A tool that prompts (here: reads) must see end of input at once.
  RunResult r = run(d, "read answer; rc=$?; echo \"[$answer]\"; exit $rc", 30);
  EXPECT_EQ(0, r.rc);
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ("[]\n", r.output);
}

TEST(CommandHelper, FourMegabytesOnBothStreams) {
  ScopedTempDir dir;
  FakeSnapInfo d;
  RunResult r =
      run(d,
          "head -c 4194304 /dev/zero | tr '\\0' o; head -c 4194304 /dev/zero | tr '\\0' e >&2; "
          "printf o; exit 1",
          60);
  ASSERT_EQ(0, r.rc) << r.error.substr(0, 200);
  EXPECT_EQ(1, r.exitCode);
  ASSERT_EQ(2u * 4194304 + 1, r.output.size());
  EXPECT_EQ(std::string::npos, r.output.substr(0, 4194305).find_first_not_of('o'));
  EXPECT_EQ(std::string::npos, r.output.substr(4194305).find_first_not_of('e'));
  EXPECT_EQ(4194304u, r.error.size());
}

TEST(CommandHelper, TimeOutKillsGrandchildrenAndSaysTimedout) {
  ScopedTempDir dir;
  FakeSnapInfo d;
  const std::string pidFile = dir.file("grandchild.pid");
  const std::string command = "sh -c 'echo $$ > \"" + pidFile + "\"; exec sleep 30' & sleep 30";
  auto t0 = std::chrono::steady_clock::now();
  RunResult r = run(d, command, 1);
  auto elapsed = std::chrono::steady_clock::now() - t0;
  EXPECT_EQ(-1, r.rc);
  EXPECT_EQ("Command " + command + " timedout.", r.error);
  EXPECT_EQ("preset-output", r.output) << "output is left as passed";
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  EXPECT_TRUE(d.logged("Command [" + command + "] timed out. Error [timedout]"));
  long grandchild = std::atol(zrReadFile(pidFile).c_str());
  ASSERT_GT(grandchild, 0);
  EXPECT_TRUE(zrWaitDead(grandchild)) << "grandchild " << grandchild << " outlived the time-out";
}

// A line that is one simple command with an absolute program path has the
// shell exec the tool (the tool's parent is then this process); anything
// else runs as the shell reads it. /proc/self/stat's fourth field is the
// parent of the tool that reads it.
TEST(CommandHelper, OneSimpleCommandIsExecdByTheShell) {
  ScopedTempDir dir;
  FakeSnapInfo d;
  const std::string stat = " -d' ' -f4 /proc/self/stat";
  const std::string self = std::to_string(::getpid()) + "\n";
  const struct {
    std::string line;
    bool execd;
  } rows[] = {
      {"/usr/bin/cut" + stat, true},
      {"'/usr/bin/'cut" + stat, true},  // a quoted tool directory, as the array layer writes it
      {"\"/usr/bin/cut\"" + stat, true},
      {"  /usr/bin/cut" + stat + " # a comment", true},
      {"/usr/bin/cut" + stat + "; true", false},
      {"/usr/bin/cut" + stat + " | cat", false},
      {"/usr/bin/cut" + stat + " 2>&1", false},
      {"/usr/bin/cut" + stat + " &&true", false},
      {"X=1 /usr/bin/cut" + stat, false},
      {"cut" + stat, false},
      {"${CUT:-/usr/bin/cut}" + stat, false},
      {"/usr/bin/c\\ut" + stat, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    RunResult r = run(d, row.line, 30);
    ASSERT_EQ(0, r.rc) << r.error;
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(row.execd, r.output == self) << r.output;
  }
}

// An exec'd tool keeps the exit codes the shell gave when it forked it,
// also for a death by a signal (128 + the signal, reported as run).
TEST(CommandHelper, ExecdToolKeepsTheShellsExitCodes) {
  ScopedTempDir dir;
  FakeSnapInfo d;
  const struct {
    std::string line;
    int exitCode;
  } rows[] = {
      {"/bin/sh -c 'exit 7'", 7},
      {"true; /bin/sh -c 'exit 7'", 7},
      {"/bin/sh -c 'kill -9 $$'", 128 + SIGKILL},
      {"true; /bin/sh -c 'kill -9 $$'", 128 + SIGKILL},
      {"/bin/sh -c 'kill -15 $$'", 128 + SIGTERM},
      {"/nonexistent/zr-no-such-tool", 127},
      {"true; /nonexistent/zr-no-such-tool", 127},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    RunResult r = run(d, row.line, 30);
    EXPECT_EQ(0, r.rc) << r.error;
    EXPECT_EQ(row.exitCode, r.exitCode);
  }
  // A time-out stays a time-out.
  RunResult slow = run(d, "/bin/sleep 30", 1);
  EXPECT_EQ(-1, slow.rc);
  EXPECT_EQ("Command /bin/sleep 30 timedout.", slow.error);
}

// A tool that loops printing is stopped at the cap and fails with a clear
// text; the cap comes from the setting, and an unusable value falls back.
TEST(CommandHelper, OutputCapStopsALoopingTool) {
  ScopedTempDir dir;
  FakeSnapInfo d;
  ZRPlatformInfo settings;
  EXPECT_EQ(256u << 20, CommandHelper::outputLimitBytes());
  ASSERT_EQ(0, settings.setRegInt("~Tessavon", "nZRHDSMaxCommandOutputInMB", -5));
  EXPECT_EQ(256u << 20, CommandHelper::outputLimitBytes());
  ASSERT_EQ(0, settings.setRegInt("~Tessavon", "nZRHDSMaxCommandOutputInMB", 2));
  EXPECT_EQ(2u << 20, CommandHelper::outputLimitBytes());
  RunResult r = run(d, "yes raidcom-output-line", 30);
  EXPECT_EQ(-1, r.rc);
  EXPECT_NE(std::string::npos, r.error.find("passed the limit of 2097152 bytes")) << r.error;
  EXPECT_EQ("preset-output", r.output) << "output is left as passed";
}

TEST(CommandHelper, SignalDeathIsAFailure) {
  ScopedTempDir dir;
  FakeSnapInfo d;
  RunResult r = run(d, "exec kill -9 $$", 30);
  EXPECT_EQ(-1, r.rc);
  EXPECT_EQ("Failed to get status of commandexec kill -9 $$", r.error);
  EXPECT_EQ("preset-output", r.output);
  EXPECT_TRUE(d.logged("Failed to get status of Command [exec kill -9 $$]"));
  EXPECT_TRUE(d.logged("terminated by signal 9"));
}

TEST(CommandHelper, PasswordNeverReachesALogOnAnyPath) {
  ScopedTempDir dir;
  const char* secret = "S3cr3tPw";
  const char* user = "zradmin";
  // The login word, then user and password, on a success, a failure, a
  // time-out and a signal death.
  const std::string commands[] = {
      "true raidcom -login zradmin S3cr3tPw -IM3532",
      "false raidcom -login zradmin S3cr3tPw -IM3532",
      "sleep 5; raidcom -login zradmin S3cr3tPw -IM3532",
      "kill -9 $$; raidcom -login zradmin S3cr3tPw -IM3532",
  };
  const int timeouts[] = {30, 30, 1, 30};
  std::string timedOutError;
  for (int i = 0; i < 4; ++i) {
    FakeSnapInfo d;
    RunResult r = run(d, commands[i], timeouts[i]);
    if (i == 2) timedOutError = r.error;
    for (const FakeSnapInfo::LogLine& l : d.logs()) {
      EXPECT_EQ(std::string::npos, l.text.find(secret)) << l.text;
      EXPECT_EQ(std::string::npos, l.text.find(user)) << l.text;
    }
    EXPECT_EQ(std::string::npos, r.error.find(secret)) << r.error;
    EXPECT_EQ(std::string::npos, r.error.find(user)) << r.error;
    EXPECT_FALSE(d.logs().empty());
  }
  std::string hostLog = zrReadFile(EvDebug::logFilePath());
  EXPECT_EQ(std::string::npos, hostLog.find(secret));
  EXPECT_EQ("Command sleep 5; raidcom -login  timedout.", timedOutError);
}

TEST(CommandHelper, PrintableForm) {
  ScopedTempDir dir;
  FakeSnapInfo d;
  CommandHelper h(d);
  ZRPlatformInfo settings;
  struct Row {
    const char* command;
    const char* suffix;
    int setting;  // SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND in "Tessavon"; -1: absent
    const char* expected;
  } rows[] = {
      {"/HORCM/usr/bin/raidcom -login admin pw -IM3532", "", -1, "/HORCM/usr/bin/raidcom -login "},
      {"/HORCM/usr/bin/raidcom -login admin pw -IM3532", "X", 0, "/HORCM/usr/bin/raidcom -login "},
      {"raidcom -login", "X", -1, "raidcom -login"},
      {"raidcom -logout -IM3532", "", -1, "raidcom -logout -IM3532"},
      {"raidcom get ldev -ldev_id 416 -IM3532", "X", -1, "raidcom get ldev -ldev_id 416 -IM3532X"},
      {"raidcom get ldev -ldev_id 416 -IM3532", "X", 0, "raidcom get ldev -ldev_id 416 -IM3532X"},
      {"raidcom get ldev -ldev_id 416 -IM3532", "X", 1, "raidcom get ldev -ldev_id 416 -IM3532"},
      {"raidcom get ldev -ldev_id 416 -IM3532", "X", 7, "raidcom get ldev -ldev_id 416 -IM3532"},
      {"", "X", -1, "X"},
  };
  for (const Row& r : rows) {
    if (r.setting < 0)
      settings.deleteKey("Tessavon", "SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND");
    else
      settings.setRegInt("Tessavon", "SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND", r.setting);
    EXPECT_EQ(r.expected, h.buildCommandToPrint(r.command, r.suffix))
        << r.command << " / " << r.setting;
  }
  // The setting is read from "Tessavon" only.
  settings.deleteKey("Tessavon", "SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND");
  settings.setRegInt("~Tessavon", "SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND", 1);
  EXPECT_EQ("cmdX", h.buildCommandToPrint("cmd", "X"));
}

TEST(CommandHelper, SmallMembers) {
  FakeSnapInfo d;
  CommandHelper h(d);
  EXPECT_EQ("0", CommandHelper::itoa(0));
  EXPECT_EQ("-5", CommandHelper::itoa(-5));
  EXPECT_EQ("2147483647", CommandHelper::itoa(INT_MAX));
  EXPECT_EQ("-2147483648", CommandHelper::itoa(INT_MIN));
  std::string plain = "unchanged";
  EXPECT_EQ(0, h.decryptPassword("", plain));
  EXPECT_EQ("unchanged", plain);
  EXPECT_EQ(1, h.decryptPassword("ciphertext", plain)) << "the stand-in host has no cipher";
  EXPECT_EQ("unchanged", plain);
  EXPECT_EQ(1, h.decryptPassword(std::string(5000, 'c'), plain));
  std::string v;
  EXPECT_EQ(0, h.getEnv("X", v));
  EXPECT_EQ(0, h.setEnv("X", "y"));
}

TEST(CommandHelper, RunCommandAndFileOutputVariant) {
  ScopedTempDir dir;
  FakeSnapInfo d;
  CommandHelper h(d);
  std::string out, err = "stale";
  int code = -1;
  EXPECT_EQ(0, h.RunCommand("printf x; exit 4", out, code, err));
  EXPECT_EQ(4, code);
  EXPECT_EQ("x", out);
  EXPECT_TRUE(d.logged("Successfully executed command [printf x; exit 4] with exitCode [4]"));
  code = -1;
  EXPECT_EQ(-1, h.RunCommand("kill -9 $$", out, code, err));
  EXPECT_EQ(-1, code);
  EXPECT_TRUE(d.logged("Failed to execute command [kill -9 $$]."));

  std::string out2;
  EXPECT_EQ(0, h.RunCommandWithFileOutput("printf y; exit 2", out2, code, err, 30,
                                          "/nonexistent/unused"));
  EXPECT_EQ(2, code);
  EXPECT_EQ("y", out2);
}

TEST(CommandHelper, ParallelObjectsOnParallelThreads) {
  ScopedTempDir dir;
  std::vector<std::thread> threads;
  std::vector<int> codes(4, -1);
  std::vector<std::string> outputs(4);
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([i, &codes, &outputs] {
      FakeSnapInfo d;
      CommandHelper h(d);
      std::string err;
      h.RunCommandWithTimeout("printf " + std::to_string(i) + "; exit " + std::to_string(i),
                              outputs[i], codes[i], err, 30);
    });
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(i, codes[i]);
    EXPECT_EQ(std::to_string(i), outputs[i]);
  }
}

}  // namespace
