// The CCI implementer end to end against the simulator's tools, through the
// real command runner: instance file chosen and written, horcmstart.sh
// started, login, commands, re-login, command-status retries, logout and
// shutdown; hostile values that must reach the tool intact and run nothing.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "array/HDSShellQuote.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"
#include "host/ZRPlatformInfo.h"
#include "host/testing/FakeOSUtil.h"
#include "host/testing/FakeSnapInfo.h"
#include "host/testing/ScopedTempDir.h"
#include "host/testing/ZrFakeClock.h"
#include "host/testing/ZrFakeDeviceTree.h"
#include "sim/ccisim_fixture.h"

namespace {

using Peer = ZRHDSRaidcomTestPeer;
const char kSerial[] = "412345";

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

class CoreSim : public ::testing::Test {
 protected:
  CoreSim() : params(osUtil, options, snaps), deviceTree(&tree) {
    tmp.setEnv("CCISIM_STATE", fx.statePath());
    fx.addArray(kSerial);
    fx.addUser("cciuser", "secret");
    fx.addCommandDevice("/dev/sdc", kSerial, 2047);
    fx.addSourceLdev(kSerial, 100, 2097152, 1);
    ccisim::Pool pool;
    pool.id = 1;
    pool.name = "tipool";
    fx.addPool(kSerial, pool);

    ZrFakeDeviceTree::Disk disk;
    disk.standard = fx.commandDeviceInquiryStandard("/dev/sdc");
    disk.e2 = fx.commandDeviceInquiryE2("/dev/sdc");
    tree.addDisk("/dev/sdc", disk);
    os.setDevices({"/dev/sda", "/dev/sdc"});

    options.horcmInstPath = ccisim::toolDir();
    options.baseSerialNum = kSerial;
    options.userName = "cciuser";
    options.password = "secret";
    params.operationType = 1;
    setSetting(loginKey(), 0);
    Peer::setLocalHostName("");  // resolved by the first implementer
  }

  // A job's implementer with the production runner (initialize runs).
  bool construct() {
    impl.reset();
    log = &device;
    osUtil = &os;
    impl.reset(new ZRHDSRaidcomImplementer(log, params));
    bool ok = false;
    impl->getIsInitializedStatus(ok);
    return ok;
  }
  void setSetting(const std::string& key, int v) {
    ZRPlatformInfo p;
    ASSERT_EQ(0, p.setRegInt("~Tessavon", key.c_str(), v));
  }
  int setting(const std::string& key) {
    ZRPlatformInfo p;
    int v = -999;
    p.getRegInt("~Tessavon", key.c_str(), &v);
    return v;
  }
  std::string loginKey() const { return std::string("sZRHDSRaidcomLockCount_") + kSerial; }
  std::pair<int, std::string> error() {
    std::pair<int, std::string> e;
    impl->getErrorCodeString(e.first, e.second);
    return e;
  }
  std::vector<std::string> argvOf(const std::string& tool, const std::string& match) {
    auto entries = fx.journal(tool, match);
    return entries.empty() ? std::vector<std::string>{} : entries.back().argv;
  }
  std::string common() { return Peer::commonParams(*impl, true, true); }

  ScopedTempDir tmp;  // first: the fixture reads ZRHOST_HORCM_ETC_DIR
  ccisim::Fixture fx;
  FakeSnapInfo device;
  FakeOSUtil os;
  ZrFakeDeviceTree tree;
  ZRSO::SnapInfo* log = &device;
  ZRSO::ZROSUtil* osUtil = &os;
  ZRHDSSnapOptions options;
  std::vector<ZRHDSSnapInfo> snaps;
  ZRHDSCommandHandlerInputParams params;
  ZrScopedDeviceTree deviceTree;
  std::unique_ptr<ZRHDSRaidcomImplementer> impl;
};

}  // namespace

TEST_F(CoreSim, WholeJobFromInstanceFileToShutdown) {
  ASSERT_TRUE(construct()) << error().second;
  EXPECT_EQ("3532", options.horcmInst);
  EXPECT_EQ(ccisim::horcmFileText(ZRHDSCommandImplementer::getLocalHostName(), 3532, kSerial,
                                  {"/dev/sdc"}),
            fx.readHorcmFile(3532));
  ccisim::Instance inst = fx.instance(3532);
  EXPECT_TRUE(inst.running);
  EXPECT_EQ(kSerial, inst.serial);
  EXPECT_EQ(std::vector<std::string>{"3532"}, argvOf("horcmstart.sh", ""));

  ASSERT_EQ(0, impl->login(false)) << error().second;
  EXPECT_EQ(1, setting(loginKey()));
  EXPECT_TRUE(fx.instance(3532).loggedIn);
  EXPECT_EQ((std::vector<std::string>{"-login", "cciuser", "****", "-IM3532"}),
            argvOf("raidcom", "-login"));

  HDSRaidqryInfo info;
  ASSERT_EQ(0, impl->getCCIRaidqryInfo(info));
  EXPECT_EQ(ZRHDSCommandImplementer::getLocalHostName(), info.hostName);
  EXPECT_EQ("80-06-70/00", info.microVersion);

  // A batch of one add: status reset, the add, status read, group listing.
  fx.clearJournal();
  snaps = {ZRHDSSnapInfo()};
  snaps[0].baseDevNo = "100";
  options.snapshotGroup = "QB_7";
  options.pool = "1";
  ASSERT_EQ(0, impl->addToSnapshotGroup()) << error().second;
  std::vector<ccisim::JournalEntry> j = fx.journal();
  ASSERT_EQ(4u, j.size());
  EXPECT_EQ("reset command_status -IM3532 -s 412345", j[0].line());
  EXPECT_EQ("add snapshot -ldev_id 100 -pool 1 -snapshotgroup QB_7 -IM3532 -s 412345", j[1].line());
  EXPECT_EQ("get command_status -IM3532 -s 412345", j[2].line());
  EXPECT_EQ("get snapshot -snapshotgroup QB_7 -IM3532 -s 412345", j[3].line());

  // Last logout of a mapping job with forced removal: logout, shutdown, file
  // gone.
  setSetting("nZRHDSForceRemoveHorcmFile", 1);
  params.operationType = 15;
  impl.reset();
  log = &device;
  osUtil = &os;
  impl.reset(new ZRHDSRaidcomImplementer(log, params, ZRHDSCommandHelperRunner::instance(), false));
  Peer::setReady(*impl, tmp.path() + "/tmp");
  ASSERT_EQ(0, impl->logout()) << error().second;
  EXPECT_EQ(0, setting(loginKey()));
  EXPECT_FALSE(fx.instance(3532).running);
  EXPECT_FALSE(fx.instance(3532).loggedIn);
  EXPECT_EQ("", fx.readHorcmFile(3532));
  EXPECT_EQ((std::vector<std::string>{"-logout", "-IM3532"}), argvOf("raidcom", "-logout"));
}

// The initialisation starts the instance once; the first login of the
// machine starts it again only when a last logout may have shut it down
// since (forced removal on) or its file no longer names the array.
TEST_F(CoreSim, OneInstanceStartPerInitialisation) {
  struct Case {
    const char* what;
    int forceRemove;  // nZRHDSForceRemoveHorcmFile; -1 not set
    bool removeFile;  // the instance file goes away before the login
    size_t starts;
  } cases[] = {
      {"nothing can have stopped it", -1, false, 1},
      {"setting 0", 0, false, 1},
      {"a last logout may have shut it down", 1, false, 2},
      {"its file is gone", -1, true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fx.clearJournal();
    setSetting(loginKey(), 0);
    if (c.forceRemove >= 0) setSetting("nZRHDSForceRemoveHorcmFile", c.forceRemove);
    ASSERT_TRUE(construct()) << error().second;
    if (c.removeFile) ::unlink((fx.etcDir() + "horcm3532.conf").c_str());
    ASSERT_EQ(0, impl->login(false)) << error().second;
    EXPECT_EQ(c.starts, fx.journal("horcmstart.sh", "").size());
    ASSERT_EQ(0, impl->logout()) << error().second;
    setSetting("nZRHDSForceRemoveHorcmFile", 0);
    options.horcmInst.clear();
  }
}

// Answers that stay as they are for the length of a job are asked once:
// the raidqry host row and the resource groups with the key option; the
// groups' lock status is asked every time.
TEST_F(CoreSim, StableAnswersAreAskedOncePerJob) {
  ASSERT_TRUE(construct()) << error().second;
  ASSERT_EQ(0, impl->login(false)) << error().second;
  fx.clearJournal();
  for (int i = 0; i < 3; ++i) {
    HDSRaidqryInfo info;
    ASSERT_EQ(0, impl->getCCIRaidqryInfo(info)) << error().second;
    EXPECT_EQ("80-06-70/00", info.microVersion);
    std::map<std::string, ResourceGroupInfo> keyed, plain;
    ASSERT_EQ(0, impl->getResourceGroupInfo(keyed, true)) << error().second;
    ASSERT_EQ(0, impl->getResourceGroupInfo(plain, false)) << error().second;
    EXPECT_EQ(1u, keyed.count("meta_resource"));
    EXPECT_EQ(1u, plain.count("meta_resource"));
  }
  // The initialisation asked raidqry already.
  EXPECT_EQ(0u, fx.journal("raidqry", "-l").size());
  EXPECT_EQ(1u, fx.journal("raidcom", "get resource -key opt").size());
  EXPECT_EQ(4u, fx.journal("raidcom", "get resource").size()) << "3 plain, 1 keyed";
}

TEST_F(CoreSim, InstanceChooserSkipsOtherArrays) {
  fx.writeHorcmFile(3532, "otherhost", "400001", {"/dev/sdx"});
  ASSERT_TRUE(construct()) << error().second;
  EXPECT_EQ("3531", options.horcmInst);
  EXPECT_NE(std::string::npos, fx.readHorcmFile(3532).find("CMD-400001"));
  EXPECT_TRUE(fx.instance(3531).running);
}

TEST_F(CoreSim, ExpiredLoginIsRenewedOnceAndTheCommandRerun) {
  ASSERT_TRUE(construct());
  ASSERT_EQ(0, impl->login(false));
  fx.clearJournal();
  fx.addFault(ccisim::Fault::expireLogin("get port"));
  std::string out;
  int ec = 0;
  ASSERT_EQ(0, Peer::executeCommandMain(*impl, "raidcom  get port ", common(), out, ec))
      << error().second;
  std::vector<ccisim::JournalEntry> j = fx.journal();
  ASSERT_EQ(3u, j.size());
  EXPECT_EQ(202, j[0].exitCode);
  EXPECT_EQ("-login cciuser **** -IM3532", j[1].line());
  EXPECT_EQ(0, j[2].exitCode);
  EXPECT_EQ(1, setting(loginKey()));

  // Expired for good: exactly one re-login, then the failure.
  fx.clearJournal();
  fx.addFault(ccisim::Fault::expireLogin("get port", -1));
  EXPECT_EQ(1, Peer::executeCommandMain(*impl, "raidcom  get port ", common(), out, ec));
  EXPECT_EQ(202, ec);
  EXPECT_EQ(1u, fx.journal("raidcom", "-login").size());
  EXPECT_EQ(2u, fx.journal("raidcom", "get port").size());
}

TEST_F(CoreSim, BusyCommandStatusIsAskedAgainAtOnce) {
  ASSERT_TRUE(construct());
  ASSERT_EQ(0, impl->login(false));
  ZrFakeClock clock;
  ZrScopedClock guard(&clock);
  fx.clearJournal();
  fx.addFault(ccisim::Fault::statusBusy(3, true));
  bool hasError = true;
  std::string text;
  ASSERT_EQ(0, Peer::getCommandStatus(*impl, hasError, text)) << error().second;
  EXPECT_FALSE(hasError);
  EXPECT_EQ(4u, fx.journal("raidcom", "get command_status").size());
  EXPECT_EQ(0, clock.totalSleptMillis());

  // A status error fails the batch: the group's listing shows no new pair.
  fx.addFault(ccisim::Fault::statusError("add snapshot", 1, "Pool is full"));
  snaps = {ZRHDSSnapInfo()};
  snaps[0].baseDevNo = "100";
  options.snapshotGroup = "QB_7";
  options.pool = "1";
  EXPECT_EQ(1, impl->addToSnapshotGroup());
  EXPECT_EQ(std::make_pair(62601, std::string("Failed to create targetless snaps.")), error());
  EXPECT_TRUE(device.logged("returned error-[Pool is full]"));
}

TEST_F(CoreSim, HostilePasswordReachesTheToolIntactAndRunsNothing) {
  std::string marker = tmp.file("pw_marker");
  const std::string user = "cci user";
  const std::string password =
      "p a$s'w\"d;touch " + marker + " `touch " + marker + "` $(touch " + marker + ")\\";
  fx.addUser(user, password);
  options.userName = user;
  options.password = password + "x";  // first a refused login
  setSetting("nZRHDSKeepCmdOutput", 1);
  ASSERT_TRUE(construct()) << error().second;
  EXPECT_EQ(1, impl->login(false));
  EXPECT_EQ(std::make_pair(62602, std::string("Failed to login into array.")), error());
  EXPECT_EQ(0, setting(loginKey()));
  options.password = password;
  ASSERT_EQ(0, impl->login(false)) << error().second;
  std::string out;
  int ec = 0;
  ASSERT_EQ(0, Peer::executeCommandMain(*impl, "raidcom  get port ", common(), out, ec));
  EXPECT_TRUE(fx.instance(3532).loggedIn);
  // The login took the exact password (the wrong one was refused); the
  // simulator's journal masks it.
  EXPECT_EQ((std::vector<std::string>{"-login", user, "****", "-IM3532"}),
            argvOf("raidcom", "-login"));
  EXPECT_FALSE(exists(marker));
  // The password is in no log line or error text; the user name only in
  // the failure log that names the login.
  for (const std::string& line : device.logTexts(-1)) {
    EXPECT_EQ(std::string::npos, line.find("p a$s")) << line;
    if (line.find("Failed to login using username-[") == 0) continue;
    EXPECT_EQ(std::string::npos, line.find(user)) << line;
  }
  EXPECT_EQ(std::string::npos, error().second.find("p a$s"));
  // Nor in a kept output file.
  DIR* d = opendir((tmp.path() + "/tmp").c_str());
  ASSERT_NE(nullptr, d);
  int kept = 0;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    ++kept;
    std::string text = zrReadFile(tmp.path() + "/tmp/" + name);
    EXPECT_EQ(std::string::npos, text.find("p a$s")) << name;
    EXPECT_EQ(std::string::npos, text.find(user)) << name;
  }
  closedir(d);
  EXPECT_GE(kept, 1);
}

TEST_F(CoreSim, InjectionThroughInstanceOrLabelRunsNothing) {
  ASSERT_TRUE(construct());
  ASSERT_EQ(0, impl->login(false));
  std::string marker = tmp.file("inj_marker");

  // Through the instance: refused before anything runs.
  fx.clearJournal();
  options.horcmInst = "3532;touch " + marker;
  std::string out;
  int ec = 0;
  EXPECT_EQ(1, Peer::executeCommandMain(*impl, "raidcom  get port ", common(), out, ec));
  EXPECT_TRUE(fx.journal().empty());
  EXPECT_FALSE(exists(marker));
  options.horcmInst = "3532";

  // Through a label in a script line: one word, byte for byte. A label the
  // array takes (at most 32 characters) is stored as it is...
  const std::string label = "QB x;touch m $(id)'\"`id`";
  std::string script = ccisim::toolDir() + "raidcom  modify ldev  -ldev_id 100 -ldev_name " +
                       HDSShell::quote(label) + common() + "\n";
  ASSERT_EQ(0, Peer::executeScriptFile(*impl, script, out, ec)) << error().second;
  EXPECT_EQ((std::vector<std::string>{"modify", "ldev", "-ldev_id", "100", "-ldev_name", label,
                                      "-IM3532", "-s", kSerial}),
            argvOf("raidcom", "modify ldev"));
  EXPECT_EQ(label, fx.load().array(kSerial)->ldev(100).label);

  // ...and one it refuses still arrives as one word and runs nothing.
  const std::string hostile = "QB_SVOL_x;touch " + marker + " $(touch " + marker + ")'\"";
  script = ccisim::toolDir() + "raidcom  modify ldev  -ldev_id 100 -ldev_name " +
           HDSShell::quote(hostile) + common() + "\n";
  EXPECT_EQ(1, Peer::executeScriptFile(*impl, script, out, ec));
  EXPECT_EQ((std::vector<std::string>{"modify", "ldev", "-ldev_id", "100", "-ldev_name", hostile,
                                      "-IM3532", "-s", kSerial}),
            argvOf("raidcom", "modify ldev"));
  EXPECT_FALSE(exists(marker));
}

TEST_F(CoreSim, EveryFailingScriptLineFailsTheScript) {
  ASSERT_TRUE(construct());
  ASSERT_EQ(0, impl->login(false));
  const std::string d = ccisim::toolDir();
  // The failing line is not the last one.
  std::string script = d + "raidcom  delete ldev  -ldev_id 4000" + common() + "\n" + d +
                       "raidcom  modify ldev  -ldev_id 100 -ldev_name QB_SVOL_ok" + common() + "\n";
  std::string out;
  int ec = 0;
  EXPECT_EQ(1, Peer::executeScriptFile(*impl, script, out, ec));
  EXPECT_NE(0, ec);
  EXPECT_NE(std::string::npos, error().second.find("failed to execute. Output-["))
      << error().second;
  EXPECT_EQ("QB_SVOL_ok", fx.load().array(kSerial)->ldev(100).label);

  // A warning on the error stream with exit 0 fails it too.
  fx.addFault(
      ccisim::Fault::fail("raidcom", "modify ldev", 0, "raidcom: [EW_TEST] warning text\n"));
  script = d + "raidcom  modify ldev  -ldev_id 100 -ldev_name QB_SVOL_w" + common() + "\n";
  EXPECT_EQ(1, Peer::executeScriptFile(*impl, script, out, ec));
  EXPECT_EQ(0, ec);
  EXPECT_NE(std::string::npos, error().second.find("output has Error-[raidcom: [EW_TEST]"))
      << error().second;
}

TEST_F(CoreSim, HolderKilledMidJobThenInstanceRestartedNextJobSucceeds) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    bool ok = construct() && impl->login(false) == 0;
    if (!ok) _exit(1);
    kill(getpid(), SIGKILL);  // dies holding a count, without logout
    _exit(2);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFSIGNALED(status)) << WEXITSTATUS(status);
  EXPECT_EQ(1, setting(loginKey()));
  // The machine's HORCM instance went away meanwhile (its login with it).
  fx.setInstanceStopped(3532);

  ASSERT_TRUE(construct()) << error().second;
  EXPECT_TRUE(fx.instance(3532).running);
  // The dead holder no longer counts: this job is the first holder again.
  ASSERT_EQ(0, impl->login(false));
  EXPECT_EQ(1, setting(loginKey()));
  std::string out;
  int ec = 0;
  EXPECT_EQ(0, Peer::executeCommandMain(*impl, "raidcom  get port ", common(), out, ec))
      << error().second;
  EXPECT_EQ(0, impl->logout());
  EXPECT_EQ(0, setting(loginKey()));
}

// ---------------------------------------------------------------------------
// The real runner's failure kinds, with tools of our own.

TEST(CoreRunner, SignalDeathAndTimeOutAreFailures) {
  ScopedTempDir tmp;
  std::string dir = tmp.path() + "/tools/";
  ASSERT_EQ(0, ::mkdir(dir.c_str(), 0700));
  ASSERT_TRUE(zrWriteFile(dir + "raidcom", "#!/bin/sh\nkill -KILL $$\n"));
  ASSERT_TRUE(zrWriteFile(dir + "raidqry", "#!/bin/sh\nsleep 5\n"));
  ASSERT_TRUE(zrWriteFile(dir + "raidscan", "#!/bin/sh\necho fine\nexit 0\n"));
  for (const char* t : {"raidcom", "raidqry", "raidscan"}) {
    ASSERT_EQ(0, ::chmod((dir + t).c_str(), 0700));
  }
  FakeSnapInfo device;
  ZRSO::SnapInfo* log = &device;
  ZRSO::ZROSUtil* os = nullptr;
  ZRHDSSnapOptions options;
  std::vector<ZRHDSSnapInfo> snaps;
  ZRHDSCommandHandlerInputParams params(os, options, snaps);
  params.operationType = 8;
  options.horcmInstPath = dir;
  options.horcmInst = "3532";
  options.baseSerialNum = kSerial;
  ZRHDSRaidcomImplementer impl(log, params, ZRHDSCommandHelperRunner::instance(), false);
  Peer::setReady(impl, tmp.path());
  Peer::setCommandTimeout(impl, 1);

  std::string out;
  int ec = 0;
  EXPECT_EQ(0, Peer::executeCommand(impl, "raidscan ", "-x", out, ec));
  EXPECT_EQ("fine\n", out);

  EXPECT_EQ(1, Peer::executeCommand(impl, "raidcom  get port ", "", out, ec));
  int code = 0;
  std::string text;
  impl.getErrorCodeString(code, text);
  EXPECT_EQ(62601, code);

  EXPECT_EQ(1, Peer::executeCommand(impl, "raidqry ", " -h ", out, ec));
  impl.getErrorCodeString(code, text);
  EXPECT_EQ(62601, code);
  EXPECT_NE(std::string::npos, text.find("timedout")) << text;
}
