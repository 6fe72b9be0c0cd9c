// Login and logout: the per-array holder count in the settings store, the
// CCI login and logout lines, credentials kept out of logs and error texts,
// and holders in several processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "array/tests/support/HDSArrayTestBase.h"
#include "host/ZrNamedMutex.h"
#include "host/testing/ZrFakeClock.h"
#include "util/ZRHDSLock.h"

namespace {
using R = HDSRecordingRunner;
}  // namespace

class CoreLogin : public HDSArrayTestBase {
 protected:
  void SetUp() override {
    options.userName = "ArrUser77";
    options.password = "Pw-9f3Kq";
    makeImpl();
    runner.on("-login", R::ok());
    runner.on("-logout", R::ok());
    runner.on("horcmstart.sh", R::ok("HORCM inst 3532 starts successfully.\n"));
    ASSERT_TRUE(zrWriteFile(etcDir() + "horcm3532.conf", Peer::horcmFileContent(*impl, 3532)));
  }
  // The password never reaches a log line or an error text; the user name
  // only the login's own failure lines.
  void expectNoCredentials() {
    std::string logs = allLogs();
    EXPECT_EQ(std::string::npos, logs.find(options.password)) << logs;
    for (const std::string& t : device.logTexts(-1)) {
      if (t.find("using username-[") != std::string::npos) continue;
      if (t.find("logged in with username-[") != std::string::npos) continue;
      EXPECT_EQ(std::string::npos, t.find(options.userName)) << t;
    }
    EXPECT_EQ(std::string::npos, error().second.find(options.password));
    EXPECT_EQ(std::string::npos, error().second.find(options.userName));
  }
};

TEST_F(CoreLogin, FirstHolderLogsInFurtherHoldersOnlyCount) {
  setSetting(loginKey(), 0);
  ASSERT_EQ(0, impl->login(false));
  EXPECT_EQ(1, setting(loginKey()));
  // The first holder makes sure the instance runs before it logs in.
  EXPECT_EQ((std::vector<std::string>{"/cci/horcmstart.sh 3532",
                                      "/cci/raidcom  -login  ArrUser77 Pw-9f3Kq -IM3532"}),
            runner.lines());
  ASSERT_EQ(0, impl->login(false));
  EXPECT_EQ(2, setting(loginKey()));
  EXPECT_EQ(2u, runner.lines().size());
  EXPECT_TRUE(device.logged("Already logged in. Count-[1]"));
  expectNoCredentials();
}

TEST_F(CoreLogin, MissingCountRefusesPlainLogin) {
  EXPECT_EQ(1, impl->login(false));
  EXPECT_EQ(std::make_pair(62602, std::string("Failed to login into array.")), error());
  EXPECT_TRUE(runner.lines().empty());
  EXPECT_EQ(-2147483647 - 1, setting(loginKey()));
}

TEST_F(CoreLogin, NegativeCountIsRepaired) {
  setSetting(loginKey(), -3);
  ASSERT_EQ(0, impl->login(false));
  EXPECT_EQ(1, setting(loginKey()));
  EXPECT_EQ(1u, runner.linesWith("-login").size());
  EXPECT_TRUE(device.logged("Login count-[-3] is -ve."));
}

TEST_F(CoreLogin, ForcedLoginRunsLoginAndKeepsOtherHoldersCount) {
  setSetting(loginKey(), 5);
  ASSERT_EQ(0, impl->login(true));
  EXPECT_EQ(5, setting(loginKey()));
  EXPECT_EQ(1u, runner.linesWith("-login").size());
  // A forced login with no key at all writes none.
  ZRPlatformInfo p;
  p.deleteKey("~Tessavon", loginKey().c_str());
  ASSERT_EQ(0, impl->login(true));
  EXPECT_EQ(-2147483647 - 1, setting(loginKey()));
  expectNoCredentials();
}

TEST_F(CoreLogin, RefusedLoginGivesItsCountBack) {
  runner = HDSRecordingRunner();
  runner.on("-login", R::exit(1, "", "raidcom: [EX_ENAUTH] Authentication failed for Pw-9f3Kq"));
  runner.on("horcmstart.sh", R::ok("HORCM inst 3532 starts successfully.\n"));
  setSetting(loginKey(), 0);
  EXPECT_EQ(1, impl->login(false));
  EXPECT_EQ(std::make_pair(62602, std::string("Failed to login into array.")), error());
  EXPECT_EQ(0, setting(loginKey()));
  // A refused forced login leaves the holders' count alone.
  setSetting(loginKey(), 3);
  EXPECT_EQ(1, impl->login(true));
  EXPECT_EQ(3, setting(loginKey()));
  std::string logs = allLogs();
  EXPECT_TRUE(device.logged("Failed to login using username-[ArrUser77]"));
  expectNoCredentials();
  // The runner's text is the tool's; the printed command line stops at login.
  EXPECT_NE(std::string::npos, logs.find("raidcom  -login "));
  EXPECT_EQ(std::string::npos, logs.find("-login  A"));
}

// Whatever the login tool prints back (an ordinary failure, another exit
// code, a runner failure) reaches the log with the credentials masked.
TEST_F(CoreLogin, CredentialsEchoedByTheToolAreMaskedInLogsAndErrors) {
  const std::string echo = "raidcom: [EX_ENAUTH] Authentication failed for ArrUser77/Pw-9f3Kq\n";
  const HDSRecordingRunner::Reply replies[] = {
      R::exit(1, "", echo), R::exit(5, echo, echo),
      HDSRecordingRunner::Reply{-1, 0, "", "cannot start: " + echo}};
  for (const auto& reply : replies) {
    SCOPED_TRACE(reply.exitCode);
    runner = HDSRecordingRunner();
    runner.on("-login", reply);
    runner.on("horcmstart.sh", R::ok("HORCM inst 3532 starts successfully.\n"));
    device.clearLogs();
    setSetting(loginKey(), 0);
    EXPECT_EQ(1, impl->login(false));
    EXPECT_EQ(0, setting(loginKey()));
    expectNoCredentials();
    EXPECT_TRUE(device.logged("Authentication failed for ****/****")) << allLogs();
  }
  // Other command lines keep their output as the tool printed it.
  runner = HDSRecordingRunner();
  runner.on(" get port ", R::exit(5, "", "owner ArrUser77\n"));
  std::string out;
  int ec = 0;
  EXPECT_EQ(1, Peer::executeCommand(*impl, "raidcom  get port ", "", out, ec));
  EXPECT_TRUE(device.logged("owner ArrUser77"));
}

// The shell may echo the password in the quoted form it had on the line.
TEST_F(CoreLogin, ShellQuotedPasswordIsMaskedToo) {
  options.password = "p w'd$1";
  const std::string quoted = "'p w'\\''d$1'";
  runner = HDSRecordingRunner();
  runner.on("horcmstart.sh", R::ok("HORCM inst 3532 starts successfully.\n"));
  runner.on("-login", R::exit(2, "", "sh: 1: unexpected word near " + quoted + " -IM3532\n"));
  setSetting(loginKey(), 0);
  EXPECT_EQ(1, impl->login(false));
  const std::string logs = allLogs();
  EXPECT_EQ(std::string::npos, logs.find("w'")) << logs;
  EXPECT_EQ(std::string::npos, logs.find("d$1")) << logs;
  EXPECT_TRUE(device.logged("unexpected word near **** -IM3532")) << logs;
}

TEST_F(CoreLogin, EmptyCredentialsNeverRunTheLogin) {
  options.password.clear();
  setSetting(loginKey(), 0);
  EXPECT_EQ(1, impl->login(false));
  EXPECT_EQ(0, setting(loginKey()));
  EXPECT_TRUE(runner.linesWith("-login").empty());
}

TEST_F(CoreLogin, HostilePasswordIsOneQuotedWord) {
  options.userName = "cci user";
  options.password = "p a$s'w\"d;touch /tmp/zr_marker";
  setSetting(loginKey(), 0);
  ASSERT_EQ(0, impl->login(false));
  EXPECT_EQ(std::vector<std::string>{"/cci/raidcom  -login  \"cci user\" "
                                     "'p a$s'\\''w\"d;touch /tmp/zr_marker' -IM3532"},
            runner.linesWith("-login"));
  EXPECT_EQ(std::string::npos, allLogs().find("zr_marker"));
}

// Another process's last logout may remove the instance file and stop the
// instance between this job's initialisation and its login: the first live
// holder writes the file again and starts the instance before the CCI login.
TEST_F(CoreLogin, FirstHolderRepairsARemovedInstanceFile) {
  setSetting(loginKey(), 0);
  ASSERT_EQ(0, ::unlink((etcDir() + "horcm3532.conf").c_str()));
  // No command device known: nothing to write the file from, so the login
  // goes on as the stored instance says.
  ASSERT_EQ(0, impl->login(false));
  EXPECT_EQ(std::vector<std::string>{"/cci/raidcom  -login  ArrUser77 Pw-9f3Kq -IM3532"},
            runner.lines());
  ASSERT_EQ(0, impl->logout());

  Peer::commandDevices(*impl) = {"/dev/sdc"};
  runner.clear();
  ASSERT_EQ(0, impl->login(false)) << error().second;
  EXPECT_EQ("3532", options.horcmInst);
  EXPECT_NE(std::string::npos, zrReadFile(etcDir() + "horcm3532.conf").find("/dev/sdc"));
  EXPECT_EQ((std::vector<std::string>{"/cci/horcmstart.sh 3532",
                                      "/cci/raidcom  -login  ArrUser77 Pw-9f3Kq -IM3532"}),
            runner.lines());
  // A second holder neither checks nor starts anything.
  runner.clear();
  ASSERT_EQ(0, impl->login(false));
  EXPECT_TRUE(runner.lines().empty());
}

TEST_F(CoreLogin, LogoutCountWalk) {
  struct Row {
    int holders;
    int stored;  // what the key says beforehand: only the live holders count
    int after;
    bool runs;
  };
  const Row rows[] = {{3, 3, 2, false}, {2, 2, 1, false},         {1, 1, 0, true}, {0, 0, 0, true},
                      {0, -2, 0, true}, {0, 2147483647, 0, true}, {2, 0, 1, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.holders * 100 + r.stored);
    runner.clear();
    setHolders(r.holders);
    setSetting(loginKey(), r.stored);
    ASSERT_EQ(0, impl->logout());
    EXPECT_EQ(r.after, setting(loginKey()));
    EXPECT_EQ(r.runs ? std::vector<std::string>{"/cci/raidcom   -logout  -IM3532"}
                     : std::vector<std::string>{},
              runner.lines());
  }
}

TEST_F(CoreLogin, StoredCountAtIntMaxNeitherOverflowsNorHolds) {
  setSetting(loginKey(), 2147483647);
  ASSERT_EQ(0, impl->login(false));
  EXPECT_EQ(1, setting(loginKey()));
  EXPECT_EQ(1u, runner.linesWith("-login").size());
}

TEST_F(CoreLogin, EnsureLoginCountKeyCreatesTheKeyOnce) {
  EXPECT_EQ(1, ZRHDSRaidcomImplementer::ensureLoginCountKey(nullptr, kSerial));
  EXPECT_EQ(1, ZRHDSRaidcomImplementer::ensureLoginCountKey(&device, "41x"));
  ASSERT_EQ(0, ZRHDSRaidcomImplementer::ensureLoginCountKey(&device, kSerial));
  EXPECT_EQ(0, setting(loginKey()));
  ASSERT_EQ(0, impl->login(false));
  ASSERT_EQ(0, ZRHDSRaidcomImplementer::ensureLoginCountKey(&device, kSerial));
  EXPECT_EQ(1, setting(loginKey())) << "a live holder's count is kept";
  // Under the login lock: held elsewhere, it fails and writes nothing.
  ZrFakeClock clock;
  ZrScopedClock guard(&clock);
  ZrNamedMutex other("RAIDCOM_LOGIN_LOCK");
  ASSERT_NE(0, other.lock(0));
  EXPECT_EQ(1, ZRHDSRaidcomImplementer::ensureLoginCountKey(&device, "410077"));
  EXPECT_EQ(-2147483647 - 1, setting("sZRHDSRaidcomLockCount_410077"));
}

TEST_F(CoreLogin, LogoutFailuresAndAlreadyEndedLogin) {
  EXPECT_EQ(1, impl->logout());  // no count
  EXPECT_EQ(std::make_pair(62602, std::string("Failed to logout from the array.")), error());

  runner = HDSRecordingRunner();
  runner.on("-logout", R::exit(202, "", "raidcom: [EX_ENAUTH]"));
  setSetting(loginKey(), 1);
  EXPECT_EQ(0, impl->logout());
  EXPECT_EQ(0, setting(loginKey()));
  // No re-login under the login lock for a session the array already ended.
  EXPECT_TRUE(runner.linesWith("-login").empty());
  EXPECT_EQ(1u, runner.lines().size());

  runner = HDSRecordingRunner();
  runner.on("-logout", R::exit(5));
  setSetting(loginKey(), 1);
  EXPECT_EQ(1, impl->logout());
  EXPECT_EQ(62601, error().first);
  EXPECT_EQ(0, setting(loginKey()));
  expectNoCredentials();
}

TEST_F(CoreLogin, LockHeldElsewhereFailsBothWays) {
  ZrFakeClock clock;
  ZrScopedClock guard(&clock);
  ZRPlatformInfo p;
  ASSERT_EQ(0, p.setRegInt("Tessavon", "nZRHDSSnapLockRetryCount", 2));
  setSetting(loginKey(), 0);
  ZrNamedMutex other("RAIDCOM_LOGIN_LOCK");
  ASSERT_NE(0, other.lock(0));
  EXPECT_EQ(1, impl->login(false));
  EXPECT_EQ(std::make_pair(62602, std::string("Failed to login into array.")), error());
  EXPECT_EQ(1, impl->logout());
  EXPECT_EQ(std::make_pair(62601, std::string("Failed to acquire lock during logout.")), error());
  EXPECT_EQ(0, setting(loginKey()));
  EXPECT_TRUE(runner.lines().empty());
  other.unlock();
  EXPECT_EQ(0, impl->login(false));
}

// A long-lived process: a logout that fails before it counts down must not
// keep the login held for the next jobs of the process.
TEST_F(CoreLogin, HoldingOfAFailedLogoutGoesWithTheObject) {
  setSetting(loginKey(), 0);
  ASSERT_EQ(0, impl->login(false));
  {
    ZrFakeClock clock;
    ZrScopedClock guard(&clock);
    ZRPlatformInfo p;
    ASSERT_EQ(0, p.setRegInt("Tessavon", "nZRHDSSnapLockRetryCount", 2));
    ZrNamedMutex other("RAIDCOM_LOGIN_LOCK");
    ASSERT_NE(0, other.lock(0));
    EXPECT_EQ(1, impl->logout());
    EXPECT_EQ(1, setting(loginKey()));
  }
  impl.reset();
  EXPECT_EQ(0, setting(loginKey()));
  ZRHDSHolderCount holders(holderName());
  int live = -1, widest = -1;
  ASSERT_EQ(0, holders.live(&live, &widest));
  EXPECT_EQ(0, live);
  EXPECT_TRUE(device.logged("was not given back"));

  // The next job is the first holder again and logs in.
  makeImpl();
  runner.clear();
  ASSERT_EQ(0, impl->login(false));
  EXPECT_EQ(1u, runner.linesWith("-login").size());
  EXPECT_EQ(1, setting(loginKey()));
}

class CoreLogoutHorcm : public CoreLogin {
 protected:
  void writeOwnFile() {
    ASSERT_TRUE(zrWriteFile(etcDir() + "horcm3532.conf", Peer::horcmFileContent(*impl, 3532)));
  }
};

TEST_F(CoreLogoutHorcm, ForcedRemovalOnlyAfterLastLogoutOutsidePrepare) {
  runner.on("horcmshutdown.sh", R::ok("inst 3532:\nhorcmshutdown inst 3532 !!!\n"));
  setSetting("nZRHDSForceRemoveHorcmFile", 1);
  struct Row {
    int type;
    int count;
    bool removed;
  };
  const Row rows[] = {{1, 1, false}, {4, 1, false}, {8, 2, false}, {8, 1, true}, {15, 1, true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.type * 100 + r.count);
    params.operationType = r.type;
    makeImpl();
    writeOwnFile();
    runner.clear();
    setHolders(r.count);
    ASSERT_EQ(0, impl->logout()) << error().second;
    EXPECT_EQ(r.removed, !runner.linesWith("/cci/horcmshutdown.sh 3532").empty());
    EXPECT_EQ(r.removed, zrReadFile(etcDir() + "horcm3532.conf").empty());
  }
}

TEST_F(CoreLogoutHorcm, ForeignInstanceIsNeverShutDownOrRemoved) {
  runner.on("horcmshutdown.sh", R::ok());
  setSetting("nZRHDSForceRemoveHorcmFile", 1);
  params.operationType = 8;
  // Our number, someone else's file.
  makeImpl();
  ASSERT_TRUE(zrWriteFile(etcDir() + "horcm3532.conf", "HORCM_MON\nhost 3532 1000 3000\n"));
  setSetting(loginKey(), 1);
  ASSERT_EQ(0, impl->logout());
  EXPECT_TRUE(runner.linesWith("horcmshutdown").empty());
  EXPECT_FALSE(zrReadFile(etcDir() + "horcm3532.conf").empty());
  // A number outside ours, even with our marker.
  options.horcmInst = "10";
  ASSERT_TRUE(zrWriteFile(etcDir() + "horcm10.conf", Peer::horcmFileContent(*impl, 10)));
  setSetting(loginKey(), 1);
  ASSERT_EQ(0, impl->logout());
  EXPECT_TRUE(runner.linesWith("horcmshutdown").empty());
  EXPECT_FALSE(zrReadFile(etcDir() + "horcm10.conf").empty());
}

// ---------------------------------------------------------------------------
// Several processes share the settings store and the named lock.

TEST_F(CoreLogin, HoldersInSeveralProcessesBalance) {
  setSetting(loginKey(), 0);
  const int kChildren = 4;
  const int kRounds = 6;
  std::vector<pid_t> pids;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int bad = 0;
      for (int i = 0; i < kRounds; ++i) {
        if (impl->login(false) != 0) ++bad;
        if (impl->logout() != 0) ++bad;
      }
      size_t logins = runner.linesWith("-login").size();
      size_t logouts = runner.linesWith("-logout").size();
      // Report (logins, logouts, failures) through the exit status.
      _exit(static_cast<int>((bad ? 128 : 0) | (logins << 4) | logouts));
    }
    pids.push_back(pid);
  }
  size_t logins = 0, logouts = 0;
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    int v = WEXITSTATUS(status);
    EXPECT_EQ(0, v & 128);
    logins += (v >> 4) & 7;
    logouts += v & 15;
  }
  EXPECT_EQ(0, setting(loginKey()));
  EXPECT_EQ(logins, logouts);
  EXPECT_GE(logins, 1u);
}

TEST_F(CoreLogin, HolderKilledWhileHoldingLeavesNeitherLockNorCount) {
  setSetting(loginKey(), 0);
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(ready[0]);
    if (impl->login(false) != 0) _exit(1);
    // Mid-job: holds the login lock (as a login or logout would) when killed.
    ZRHDSLock lock(device, "RAIDCOM_LOGIN_LOCK", 1);
    if (!lock.isLocked()) _exit(2);
    if (write(ready[1], "x", 1) != 1) _exit(3);
    for (;;) pause();
  }
  close(ready[1]);
  char c = 0;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  close(ready[0]);
  kill(pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  // Neither the dead holder's lock nor its count stays: the next job is the
  // first live holder again and runs the CCI login; its logout is the last.
  runner.clear();
  ASSERT_EQ(0, impl->login(false));
  EXPECT_EQ(1, setting(loginKey()));
  EXPECT_EQ(1u, runner.linesWith("-login").size());
  ASSERT_EQ(0, impl->logout());
  EXPECT_EQ(0, setting(loginKey()));
  EXPECT_EQ(1u, runner.linesWith("-logout").size());
}
