// Initialisation of the CCI implementer (settings, versions, instance file
// and start, microcode), command-device discovery and its cache, the raidqry
// row, and the interface base (error pair, host name, teardown).
#include <gtest/gtest.h>
#include <unistd.h>

#include "array/tests/support/HDSArrayTestBase.h"
#include "host/EvDebug.h"
#include "host/testing/FakeOSUtil.h"
#include "host/testing/ZrFakeClock.h"
#include "host/testing/ZrFakeDeviceTree.h"
#include "util/ZRHDSLock.h"

namespace {
using R = HDSRecordingRunner;

const char kRaidqryHeader[] =
    "No  Group    Hostname     HORCM_ver   Uid   Serial#   Micro_ver     Cache(MB)\n";

std::string raidqryList(const std::string& micro) {
  return std::string(kRaidqryHeader) + " 1  ---      mahost01   01-40-03/01  0   412345   " +
         micro + "     512000\n";
}

zrinq::LdevIdentity commandDevice(unsigned serial, unsigned ldev) {
  zrinq::LdevIdentity id = zrinq::physicalLdev(serial, ldev);
  id.product = "OPEN-V-CM";
  return id;
}

}  // namespace

class CoreInit : public HDSArrayTestBase {
 protected:
  CoreInit() : deviceTree(&tree) {}

  void SetUp() override {
    cciDir = tmp.path() + "/cci/";
    options.horcmInstPath = cciDir;
    options.horcmInst.clear();
    options.resourceGroup.clear();
    osUtil = &os;
    os.setDevices({"/dev/sda", "/dev/sdc", "/dev/sdd", "/dev/sde"});
    zrinq::LdevIdentity plain = commandDevice(412345, 10);
    plain.product = "OPEN-V";
    tree.addLdev("/dev/sda", plain);
    tree.addLdev("/dev/sdc", commandDevice(412345, 2047));
    tree.addLdev("/dev/sdd", commandDevice(400001, 2047));  // another array's
    tree.addLdev("/dev/sde", commandDevice(412345, 2046));
    Peer::setCCIVersion("");
    runner.on("raidqry   -h ", R::ok("Model  : RAID-Manager/Linux/x64\nVer&Rev: 01-40-03/01\n"));
    runner.on("horcmstart.sh",
              R::ok("starting HORCM inst 3532\nHORCM inst 3532 starts successfully.\n"));
    setSetting(loginKey(), 0);
    makeImpl();
  }

  // Constructs with initialize().
  bool construct() {
    impl.reset();
    log = &device;
    osUtil = &os;
    impl.reset(new ZRHDSRaidcomImplementer(log, params, runner, true));
    bool ok = false;
    impl->getIsInitializedStatus(ok);
    return ok;
  }
  void raidqryAnswers(const std::string& micro) {
    runner.on("raidqry   -l ", R::ok(raidqryList(micro)));
  }
  std::string cacheKey() const { return std::string("sZRHDSCommandDevice_") + kSerial; }
  std::string cache() {
    ZRPlatformInfo p;
    std::string v;
    return p.getString("~Tessavon", cacheKey().c_str(), &v) ? v : "<missing>";
  }
  std::string pid() const { return std::to_string(EvDebug::getProcessId()); }

  std::string cciDir;
  FakeOSUtil os;
  ZrFakeDeviceTree tree;
  ZrScopedDeviceTree deviceTree;
};

TEST_F(CoreInit, FullInitialisationWritesStartsAndChecks) {
  raidqryAnswers("80-06-70/00");
  ASSERT_TRUE(construct()) << error().second;
  const std::vector<std::string> expected = {
      cciDir + "raidqry   -h ",
      cciDir + "horcmstart.sh 3532",
      cciDir + "raidqry   -l  -IM3532 -s 412345",
  };
  EXPECT_EQ(expected, runner.lines());
  EXPECT_EQ("3532", options.horcmInst);
  EXPECT_EQ("meta_resource", options.resourceGroup);
  std::string file = zrReadFile(etcDir() + "horcm3532.conf");
  EXPECT_NE(std::string::npos, file.find("#\\\\.\\CMD-412345\n/dev/sdc /dev/sde \n")) << file;
  EXPECT_EQ(pid() + ":/dev/sdc,/dev/sde,", cache());
  EXPECT_EQ("01-40-03/01", ZRHDSRaidcomImplementer::getCCIVersion());
  EXPECT_EQ(40, ZRHDSRaidcomImplementer::getCCIMinorVersion());
  EXPECT_EQ(300, Peer::commandTimeout(*impl));
  EXPECT_EQ(50, Peer::retryCount(*impl));
  EXPECT_EQ(30, Peer::raidcomTimeout(*impl));
  EXPECT_EQ(tmp.path() + "/tmp", Peer::tempDir(*impl));
  EXPECT_TRUE(
      device.logged("Raidcom Implementer is initialized successfully for local execution."));
}

TEST_F(CoreInit, InitialisationLogsUnderItsBareName) {
  raidqryAnswers("80-06-70/00");
  ASSERT_TRUE(construct()) << error().second;
  const char* const texts[] = {"Command Timeout value read from registry is [300]",
                               "Running the CCI commands from [",
                               "MicroCode-[80-06-70/00], Ver-[80], SubVer-[6], MinVer-[70]",
                               "Raidcom Implementer is initialized successfully for local "
                               "execution."};
  for (const char* text : texts) {
    int seen = 0;
    for (const auto& l : device.logs()) {
      if (l.text.find(text) == std::string::npos) continue;
      EXPECT_EQ("initialize", l.function) << text;
      ++seen;
    }
    EXPECT_EQ(1, seen) << text;
  }
}

TEST_F(CoreInit, StartRunsWhateverTheCountAndAlreadyRunningIsFine) {
  raidqryAnswers("80-06-70/00");
  // A count left behind by a holder that died: the instance is still started.
  setSetting(loginKey(), 3);
  runner = HDSRecordingRunner();
  runner.on("raidqry   -h ", R::ok("Ver&Rev: 01-40-03/01\n"));
  runner.on("horcmstart.sh", R::exit(1, "HORCM inst 3532 has already been running.\n"));
  raidqryAnswers("80-06-70/00");
  ASSERT_TRUE(construct()) << error().second;
  EXPECT_EQ(1u, runner.linesWith("horcmstart.sh 3532").size());
}

// A stored instance is used only while its file is ours to trust and names
// the array; otherwise the instance is chosen again and the new number is
// what the options (and so the stored metadata) carry.
TEST_F(CoreInit, StoredInstanceIsCheckedUnderTheLoginLock) {
  struct Row {
    const char* what;
    const char* file3520;  // content of horcm3520.conf; nullptr: none
    mode_t mode;
    const char* expected;
  };
  const std::string ours = Peer::horcmFileContent(*impl, 3520);
  std::string other = ours;
  other.replace(other.find("412345"), 6, "499999");
  const Row rows[] = {
      {"file names the array", ours.c_str(), 0644, "3520"},
      {"file missing", nullptr, 0644, "3532"},
      {"file names another array", other.c_str(), 0644, "3532"},
      {"file writable by others", ours.c_str(), 0666, "3532"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ::unlink((etcDir() + "horcm3520.conf").c_str());
    ::unlink((etcDir() + "horcm3532.conf").c_str());
    if (r.file3520 != nullptr) {
      ASSERT_TRUE(zrWriteFile(etcDir() + "horcm3520.conf", r.file3520));
      ASSERT_EQ(0, ::chmod((etcDir() + "horcm3520.conf").c_str(), r.mode));
    }
    runner.clear();
    raidqryAnswers("80-06-70/00");
    device.setMetadataText(75, "3520");
    options.horcmInst.clear();
    ASSERT_TRUE(construct()) << error().second;
    EXPECT_EQ(r.expected, options.horcmInst);
    const bool moved = std::string(r.expected) != "3520";
    EXPECT_EQ(moved, !zrReadFile(etcDir() + "horcm3532.conf").empty());
    EXPECT_EQ(1u, runner.linesWith(cciDir + "horcmstart.sh " + r.expected).size());
    EXPECT_EQ(1u, runner.linesWith(std::string("-IM") + r.expected + " -s 412345").size());
    if (r.file3520 != nullptr) {
      EXPECT_EQ(r.file3520, zrReadFile(etcDir() + "horcm3520.conf"));
    }
  }
}

TEST_F(CoreInit, StoredInstanceThatIsNotANumberIsRefused) {
  device.setMetadataText(75, "35;20");
  EXPECT_FALSE(construct());
  EXPECT_EQ(62601, error().first);
  EXPECT_TRUE(runner.lines().empty());
}

TEST_F(CoreInit, NegativeCountRewritesTheFile) {
  raidqryAnswers("80-06-70/00");
  std::string stale = Peer::horcmFileContent(*impl, 3532) + "# stale\n";
  ASSERT_TRUE(zrWriteFile(etcDir() + "horcm3532.conf", stale));
  setSetting(loginKey(), -1);
  ASSERT_TRUE(construct());
  EXPECT_EQ(std::string::npos, zrReadFile(etcDir() + "horcm3532.conf").find("# stale"));
  // With holders the file is reused as it is.
  ASSERT_TRUE(zrWriteFile(etcDir() + "horcm3532.conf", stale));
  options.horcmInst.clear();
  setHolders(2);
  ASSERT_TRUE(construct());
  EXPECT_EQ(stale, zrReadFile(etcDir() + "horcm3532.conf"));
  // A count left by dead holders is no holder: the file is refreshed.
  options.horcmInst.clear();
  setHolders(0);
  setSetting(loginKey(), 2);
  ASSERT_TRUE(construct());
  EXPECT_EQ(std::string::npos, zrReadFile(etcDir() + "horcm3532.conf").find("# stale"));
}

TEST_F(CoreInit, SettingsAreClamped) {
  raidqryAnswers("80-06-70/00");
  struct Row {
    int cmdTimeout;  // -1: key missing
    int raidcomTimeout;
    int retries;
    int expCmd, expRaidcom, expRetries;
  };
  const Row rows[] = {
      {-1, -1, -1, 300, 30, 50},
      {30, 45, 7, 30, 20, 7},
      {31, 0, 0, 31, 1, 1},
      {0, 99999, 5000, 30, 20, 1000},
      {100000, 99999, -4, 86400, 3600, 1},
      {600, 120, 60, 600, 120, 60},
  };
  for (const Row& r : rows) {
    ZRPlatformInfo p;
    p.deleteKey("~Tessavon", "nZRHDSCCICommandTimeoutInSec");
    p.deleteKey("~Tessavon", "nZRHDSRaidcomTimeoutInSecs");
    p.deleteKey("~Tessavon", "nZRHDSRaidcomMaxRetryCount");
    if (r.cmdTimeout >= 0) setSetting("nZRHDSCCICommandTimeoutInSec", r.cmdTimeout);
    if (r.raidcomTimeout >= 0) setSetting("nZRHDSRaidcomTimeoutInSecs", r.raidcomTimeout);
    if (r.retries != -1) setSetting("nZRHDSRaidcomMaxRetryCount", r.retries);
    SCOPED_TRACE(r.cmdTimeout);
    ASSERT_TRUE(construct());
    EXPECT_EQ(r.expCmd, Peer::commandTimeout(*impl));
    EXPECT_EQ(r.expRaidcom, Peer::raidcomTimeout(*impl));
    EXPECT_EQ(r.expRetries, Peer::retryCount(*impl));
    EXPECT_EQ(r.expCmd, runner.timeouts().back());
  }
}

TEST_F(CoreInit, KeepFlagFromSettingOrArrayConfig) {
  raidqryAnswers("80-06-70/00");
  struct Row {
    int key;  // -1 missing
    bool cmdLogging;
    bool keep;
  };
  const Row rows[] = {{-1, false, false}, {-1, true, true}, {0, true, false}, {1, false, true}};
  for (const Row& r : rows) {
    ZRPlatformInfo p;
    p.deleteKey("~Tessavon", "nZRHDSKeepCmdOutput");
    if (r.key >= 0) setSetting("nZRHDSKeepCmdOutput", r.key);
    options.cmdLogging = r.cmdLogging;
    ASSERT_TRUE(construct());
    EXPECT_EQ(r.keep, Peer::keepOutput(*impl)) << r.key << r.cmdLogging;
  }
}

TEST_F(CoreInit, MicrocodeVersions) {
  const std::pair<std::string, bool> rows[] = {
      {"80-02-23/00", true},  {"80-02-22/00", false}, {"79-99-99/99", false},
      {"81-00-00/00", true},  {"80-03-00/00", true},  {"80-01-99/00", false},
      {"8O-02-23/00", false}, {"80-2-23", false},     {"-", false},
  };
  for (const auto& row : rows) {
    runner = HDSRecordingRunner();
    runner.on("raidqry   -h ", R::ok("Ver&Rev: 01-40-03/01\n"));
    runner.on("horcmstart.sh", R::ok("HORCM inst 3532 starts successfully.\n"));
    raidqryAnswers(row.first);
    options.horcmInst.clear();
    EXPECT_EQ(row.second, construct()) << row.first;
    if (!row.second) {
      EXPECT_EQ(std::make_pair(62601, "Array version-[" + row.first +
                                          "] is not supported. Please install version 80-02-23 "
                                          "or higher."),
                error());
    }
  }
}

TEST_F(CoreInit, RaidqryWithoutDataRowFails) {
  runner.on("raidqry   -l ", R::ok(kRaidqryHeader));
  EXPECT_FALSE(construct());
  EXPECT_EQ(std::make_pair(62601, std::string("Failed to get Hostname used by the CCI")), error());
}

TEST_F(CoreInit, CciVersions) {
  raidqryAnswers("80-06-70/00");
  struct Row {
    std::string output;
    bool ok;
    std::string text;
  };
  const Row rows[] = {
      {"Ver&Rev: 01-33-01/01\n", true, ""},
      {"Ver&Rev: 01-32-03/01\n", false, "Please install version 01-33-xx/xx or higher."},
      {"Ver&Rev: 01-30-03/01\n", false, "Please install version 01-33-xx/xx or higher."},
      {"Ver&Rev: 01-28-03/01\n", false, "Please install version 01-29-03/05 or higher."},
      {"Model: RAID-Manager\n", false, "Output doesn't contain 'Ver&Rev' string."},
      {"Ver&Rev: 1.40\n", false, "is not of the form NN-NN-NN/NN"},
      {"Ver&Rev: ", false, "is not of the form NN-NN-NN/NN"},
      {"Ver&Rev: 01-4x-03/01\n", false, "is not of the form NN-NN-NN/NN"},
  };
  for (const Row& r : rows) {
    Peer::setCCIVersion("");
    runner = HDSRecordingRunner();
    runner.on("raidqry   -h ", R::ok(r.output));
    runner.on("horcmstart.sh", R::ok("HORCM inst 3532 starts successfully.\n"));
    raidqryAnswers("80-06-70/00");
    options.horcmInst.clear();
    EXPECT_EQ(r.ok, construct()) << r.output;
    if (!r.ok) {
      EXPECT_EQ(62601, error().first);
      EXPECT_NE(std::string::npos, error().second.find(r.text)) << error().second;
    }
  }
  // Cached once read: the next object asks nothing.
  Peer::setCCIVersion("01-40-03/01");
  runner.clear();
  std::string v;
  EXPECT_EQ(0, Peer::getCCIVersionInstalled(*impl, v));
  EXPECT_EQ("01-40-03/01", v);
  EXPECT_TRUE(runner.lines().empty());
}

TEST_F(CoreInit, InputChecks) {
  raidqryAnswers("80-06-70/00");
  // Past the command-device step whatever the serial.
  setSetting("nZRHDSDoNotFailForCmdDev", 1);
  options.horcmInst = "3532";
  struct Row {
    std::function<void(ZRHDSSnapOptions&)> change;
    int code;
    std::string text;
  };
  const Row rows[] = {
      {[](ZRHDSSnapOptions& o) { o.baseSerialNum = ""; }, 2,
       "Serial Number is not passed to Raidcom Implementer."},
      {[](ZRHDSSnapOptions& o) { o.baseSerialNum = "41234x"; }, 2,
       "Serial Number passed to Raidcom Implementer is not a decimal number."},
      {[](ZRHDSSnapOptions& o) { o.userName = ""; }, 62602, "Username or Password is not set."},
      {[](ZRHDSSnapOptions& o) { o.password = ""; }, 62602, "Username or Password is not set."},
      {[](ZRHDSSnapOptions& o) { o.horcmInst = "35 32"; }, 62601,
       "Invalid input: HORCM instance-[35 32] is not valid."},
      {[](ZRHDSSnapOptions& o) { o.horcmInstPath = "/nonexistent/cci/"; }, 62601,
       "Hitachi CCI CLI not found in /nonexistent/cci."},
  };
  for (const Row& r : rows) {
    ZRHDSSnapOptions saved = options;
    r.change(options);
    EXPECT_FALSE(construct()) << r.text;
    EXPECT_EQ(r.code, error().first);
    EXPECT_EQ(0u, error().second.find(r.text)) << error().second;
    options = saved;
  }
}

TEST_F(CoreInit, NoCommandDevice) {
  os.setDevices({"/dev/sda", "/dev/sdd"});
  EXPECT_FALSE(construct());
  EXPECT_EQ(3, error().first);
  EXPECT_EQ(0u, error().second.find("No command device from Hitachi storage array [412345] found"));
  EXPECT_TRUE(runner.lines().empty());

  // Allowed to go on without one: only a stored instance makes it usable.
  setSetting("nZRHDSDoNotFailForCmdDev", 1);
  EXPECT_FALSE(construct());
  EXPECT_EQ(std::make_pair(3, std::string("Command device list is not available.")), error());
  raidqryAnswers("80-06-70/00");
  options.horcmInst = "3532";
  // Without command devices a missing file cannot be written: the stored
  // instance is started as it is.
  EXPECT_TRUE(construct()) << error().second;
  EXPECT_EQ("3532", options.horcmInst);
  EXPECT_EQ(1u, runner.linesWith("horcmstart.sh 3532").size());
  // A file there that others may change is never started.
  ASSERT_TRUE(zrWriteFile(etcDir() + "horcm3532.conf", Peer::horcmFileContent(*impl, 3532)));
  ASSERT_EQ(0, ::chmod((etcDir() + "horcm3532.conf").c_str(), 0666));
  runner.clear();
  options.horcmInst = "3532";
  EXPECT_FALSE(construct());
  EXPECT_EQ(62601, error().first);
  EXPECT_TRUE(runner.linesWith("horcmstart.sh").empty());
}

TEST_F(CoreInit, CreateJobSkipsInstanceWork) {
  params.operationType = 8;
  options.horcmInst = "3532";
  os.setDevices({});
  ASSERT_TRUE(construct()) << error().second;
  EXPECT_EQ(std::vector<std::string>{cciDir + "raidqry   -h "}, runner.lines());
  EXPECT_EQ(0, os.callCount("getDeviceList"));
  EXPECT_EQ("", zrReadFile(etcDir() + "horcm3532.conf"));
}

TEST_F(CoreInit, LoginLockHeldFailsInitialisation) {
  ZrFakeClock clock;
  ZrScopedClock guard(&clock);
  ZRPlatformInfo p;
  ASSERT_EQ(0, p.setRegInt("Tessavon", "nZRHDSSnapLockRetryCount", 1));
  raidqryAnswers("80-06-70/00");
  ZRHDSLock other(device, "RAIDCOM_LOGIN_LOCK", 1);
  ASSERT_TRUE(other.isLocked());
  EXPECT_FALSE(construct());
  EXPECT_EQ(std::make_pair(62602, std::string("Failed to acquire the login lock.")), error());
  EXPECT_TRUE(runner.linesWith("horcmstart").empty());
}

// ---------------------------------------------------------------------------
// Command devices and their cache.

TEST_F(CoreInit, CacheOfThisProcessIsReusedAfterInquiry) {
  ZRPlatformInfo p;
  ASSERT_EQ(
      0, p.setRegString("~Tessavon", cacheKey().c_str(), (pid() + ":/dev/sde,/dev/sdc,").c_str()));
  std::vector<std::string> devs;
  ASSERT_EQ(1, Peer::getCommandDeviceList(*impl, devs));
  EXPECT_EQ((std::vector<std::string>{"/dev/sde", "/dev/sdc"}), devs);
  EXPECT_EQ(0, os.callCount("getDeviceList"));
  EXPECT_EQ(1, tree.inquiries("/dev/sde"));
  EXPECT_EQ(pid() + ":/dev/sde,/dev/sdc,", cache());
}

TEST_F(CoreInit, CacheOfAnotherProcessIsRediscovered) {
  ZRPlatformInfo p;
  ASSERT_EQ(0, p.setRegString("~Tessavon", cacheKey().c_str(), "1:/dev/sde,"));
  std::vector<std::string> devs;
  ASSERT_EQ(1, Peer::getCommandDeviceList(*impl, devs));
  EXPECT_EQ((std::vector<std::string>{"/dev/sdc", "/dev/sde"}), devs);
  EXPECT_EQ(1, os.callCount("getDeviceList"));
  EXPECT_EQ(pid() + ":/dev/sdc,/dev/sde,", cache());
}

TEST_F(CoreInit, StaleCachedDeviceIsDropped) {
  ZRPlatformInfo p;
  ASSERT_EQ(0, p.setRegString("~Tessavon", cacheKey().c_str(),
                              (pid() + ":/dev/sdd,/dev/sdc,/dev/gone,").c_str()));
  std::vector<std::string> devs;
  ASSERT_EQ(1, Peer::getCommandDeviceList(*impl, devs));
  EXPECT_EQ(std::vector<std::string>{"/dev/sdc"}, devs);
  EXPECT_EQ(0, os.callCount("getDeviceList"));

  // None left: discovery runs.
  ASSERT_EQ(0, p.setRegString("~Tessavon", cacheKey().c_str(), (pid() + ":/dev/sdd,").c_str()));
  devs.clear();
  ASSERT_EQ(1, Peer::getCommandDeviceList(*impl, devs));
  EXPECT_EQ((std::vector<std::string>{"/dev/sdc", "/dev/sde"}), devs);
  EXPECT_EQ(1, os.callCount("getDeviceList"));
}

TEST_F(CoreInit, DeviceNameForms) {
  const std::pair<std::string, std::string> rows[] = {
      {"/dev/disk/by-id/x", "/dev/rdisk/by-id/x"},
      {"/dev/dsk/c1t0d0", "/dev/rdsk/c1t0d0"},
      {"/dev/hdisk3", "/dev/rhdisk3"},
      {"/dev/sdc", "/dev/sdc"},
  };
  for (const auto& r : rows) {
    Peer::commandDevices(*impl) = {r.first};
    Peer::formatCommandDeviceName(*impl);
    EXPECT_EQ(r.second, Peer::commandDevices(*impl)[0]);
  }
}

TEST_F(CoreInit, FindCmdDevSearch) {
  runner.on("findcmddev", R::ok("cmddev of Ser# 412345 = \\\\.\\PhysicalDrive3\nother\n"));
  EXPECT_EQ(0, Peer::checkIfCommandDeviceExist(*impl));
  EXPECT_EQ(std::vector<std::string>{cciDir + "raidscan   -x findcmddev 0-200"}, runner.lines());
  EXPECT_EQ(std::vector<std::string>{"\\\\.\\PhysicalDrive3"}, Peer::commandDevices(*impl));

  runner = HDSRecordingRunner();
  runner.on("findcmddev", R::ok("cmddev of Ser# 400001 = \\\\.\\PhysicalDrive3\n"));
  EXPECT_EQ(1, Peer::checkIfCommandDeviceExist(*impl));
  EXPECT_EQ(0u, error().second.find("No command device from Hitachi storage array [412345]"));
}

// ---------------------------------------------------------------------------
// raidqry row.

TEST(CoreRaidqry, RowParsing) {
  HDSRaidqryInfo info;
  const std::string header = kRaidqryHeader;
  ASSERT_TRUE(ZRHDSRaidcomTestPeer::parseRaidqry(
      header + " 1  ---  mahost01  01-40-03/01  0  412345  80-06-70/00  512000\n"
               " 2  ---  other  01-40-03/01  0  400001  83-01-28/00  9\n",
      info));
  EXPECT_EQ("---", info.column2);
  EXPECT_EQ("mahost01", info.hostName);
  EXPECT_EQ("01-40-03/01", info.column4);
  EXPECT_EQ("0", info.column5);
  EXPECT_EQ("412345", info.column6);
  EXPECT_EQ("80-06-70/00", info.microVersion);
  EXPECT_EQ(512000, info.column8);

  HDSRaidqryInfo same;
  ASSERT_TRUE(ZRHDSRaidcomTestPeer::parseRaidqry(
      header + "1\t---\tmahost01 01-40-03/01 0 412345 80-06-70/00 512000\r\n", same));
  EXPECT_EQ(info.hostName, same.hostName);
  EXPECT_EQ(info.microVersion, same.microVersion);
  EXPECT_EQ(512000, same.column8);

  // A row cut short before the microcode version is no row to check.
  HDSRaidqryInfo part;
  EXPECT_FALSE(ZRHDSRaidcomTestPeer::parseRaidqry(header + "1 --- mahost01\n", part));
  EXPECT_FALSE(ZRHDSRaidcomTestPeer::parseRaidqry(
      header + "1 --- mahost01 01-40-03/01 0 412345 80-06-70/00\n", part));

  // Only a row under raidqry's header is this host's row.
  for (const std::string& bad :
       {std::string(""), header, header + "   \n", header + " 1 --- mahost01 x y z 80-06-70/00 5",
        "raidqry: [EX_xxx] note\n" + header + " 1 --- mahost01 0 0 0 80-06-70/00 5\n",
        std::string(" 1 --- mahost01 0 0 0 80-06-70/00 5\n 2 --- other 0 0 0 80-06-70/00 5\n")}) {
    HDSRaidqryInfo none;
    EXPECT_FALSE(ZRHDSRaidcomTestPeer::parseRaidqry(bad, none)) << bad;
  }
}

// ---------------------------------------------------------------------------
// The interface base.

TEST_F(CoreInit, ErrorPairKeepsTextOnEmptyReplacement) {
  impl->setErrorCodeString(62601, "first");
  impl->setErrorCodeString(5, "");
  EXPECT_EQ(std::make_pair(5, std::string("first")), error());
  int code = 0;
  std::string text;
  EXPECT_EQ(1, impl->getErrorCodeString(code, text));
  bool flag = false;
  EXPECT_EQ(1, impl->setIsInitializedStatus(true));
  EXPECT_EQ(1, impl->getIsInitializedStatus(flag));
  EXPECT_TRUE(flag);
}

TEST_F(CoreInit, DestructionNullsTheCallersPointers) {
  ASSERT_NE(nullptr, log);
  ASSERT_NE(nullptr, osUtil);
  impl.reset();
  EXPECT_EQ(nullptr, log);
  EXPECT_EQ(nullptr, osUtil);
}

TEST_F(CoreInit, HostNameResolvedOnceAndNotForCreateJobs) {
  Peer::setLocalHostName("");
  params.operationType = 8;
  impl.reset();
  log = &device;
  impl.reset(new ZRHDSRaidcomImplementer(log, params, runner, false));
  EXPECT_EQ("", ZRHDSCommandImplementer::getLocalHostName());
  params.operationType = 1;
  impl.reset();
  log = &device;
  impl.reset(new ZRHDSRaidcomImplementer(log, params, runner, false));
  char host[256] = {0};
  gethostname(host, sizeof(host) - 1);
  EXPECT_FALSE(ZRHDSCommandImplementer::getLocalHostName().empty());
  EXPECT_TRUE(device.logged("Using hostname-["));
  Peer::setLocalHostName("mahost01");
}
