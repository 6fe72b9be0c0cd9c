// The array layer against the real tools' answers: empty snapshot listings
// on exit 205, status rows on exit 1, scripts that meet an ended login,
// listings under a foreign header, iSCSI host groups, resource-group
// listings after a prompt, the global-virtualisation LDEV form, and the
// choice of HORCM instance files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>

#include "array/HDSParseHostGroup.h"
#include "array/HDSParseLdev.h"
#include "array/HDSParseResourceGroup.h"
#include "array/tests/support/HDSArrayTestBase.h"

namespace {

using R = HDSRecordingRunner;
const char kNoObject[] = "raidcom: [EX_ENOOBJ] No such Object in the RAID\n";
const char kSnapHeader[] =
    "SnapShot_name  P/S    STAT  Serial#  LDEV#  MU#  P-LDEV#  PID  %  MODE  SPLT-TIME\n";

class RealTools : public HDSArrayTestBase {};

TEST_F(RealTools, VanishedSnapshotGroupIsAnEmptyListingInBothModes) {
  struct Row {
    const char* key;
    bool byLdev;
  } rows[] = {{"QB_1_0", false}, {"256", true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.key);
    runner = HDSRecordingRunner();
    runner.on(" get snapshot ", R::exit(205, "", kNoObject));
    std::vector<HDSSnapshotGroupInfo> list(1);
    ASSERT_EQ(0, impl->getSnapshotGroupList(list, r.key, r.byLdev));
    EXPECT_EQ(1u, list.size()) << "nothing appended";
    EXPECT_EQ(0, error().first);
  }
  // 205 for another reason, and any other failure, still fail.
  runner = HDSRecordingRunner();
  runner.on(" get snapshot ", R::exit(205, "", "raidcom: [EX_INVARG] Invalid argument\n"));
  std::vector<HDSSnapshotGroupInfo> list;
  EXPECT_EQ(1, impl->getSnapshotGroupList(list, "QB_1_0", false));
  EXPECT_EQ(std::make_pair(62601, std::string("Failed to get the snapshot group list")), error());
  runner = HDSRecordingRunner();
  runner.on(" get snapshot ", R::exit(1, "", kNoObject));
  EXPECT_EQ(1, impl->getSnapshotGroupList(list, "QB_1_0", false));
  // An empty answer (no pair at all) is an empty success; right-aligned rows read.
  runner = HDSRecordingRunner();
  runner.on(" get snapshot ", R::ok(""));
  EXPECT_EQ(0, impl->getSnapshotGroupList(list, "256", true));
  EXPECT_TRUE(list.empty());
  runner = HDSRecordingRunner();
  runner.on(" get snapshot ", R::ok(std::string(kSnapHeader) +
                                    "   QB_1_0  P-VOL  PAIR  412345  256  3  1024  5  100  "
                                    "G  2026-12-09"));
  ASSERT_EQ(0, impl->getSnapshotGroupList(list, "QB_1_0", false));
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("QB_1_0", list[0].snapshotGroupName);
  EXPECT_EQ("256", list[0].ldevId);
}

// The array holds a snapshot group only while it has pairs and answers
// "No such Object" for any other: a group listing without a row, and a row
// cut short (no column after MODE), are not its answer. An LDEV or the whole
// array may list nothing.
TEST_F(RealTools, GroupListingNeedsWholeRows) {
  const std::string row = "QB_1_0  P-VOL  PSUS  412345  256  3  -  5  100  ----  6B19CA6A\n";
  struct Case {
    std::string output;
    bool byLdev;
    int result;
  } cases[] = {
      {"", false, 1},
      {kSnapHeader, false, 1},
      {std::string(kSnapHeader) + row + "QB_1_0  P-VOL  PSUS  412345  257  3  -  5", false, 1},
      {std::string(kSnapHeader) + row + "QB_1_0  P-VOL  PSUS  412345  257  3  -  5  100  ----",
       true, 1},
      {std::string(kSnapHeader) + row, false, 0},
      {"", true, 0},
      {kSnapHeader, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    runner = HDSRecordingRunner();
    runner.on(" get snapshot ", R::ok(c.output));
    impl->setErrorCodeString(0, "");
    std::vector<HDSSnapshotGroupInfo> list;
    EXPECT_EQ(c.result, impl->getSnapshotGroupList(list, c.byLdev ? "256" : "QB_1_0", c.byLdev));
    EXPECT_EQ(c.result == 0 ? 0 : 62601, error().first);
    if (c.result != 0) {
      EXPECT_TRUE(list.empty()) << "nothing appended from a refused answer";
    }
  }
}

// Every listing that is read refuses an answer under another header with
// its own failure text; a blank answer is an empty listing.
TEST_F(RealTools, ForeignHeaderFailsEveryListing) {
  const std::string foreign = "Enter password:\nCL1-A 1 hg 412345 LINUX -\n";
  struct Row {
    const char* what;
    const char* match;
    std::function<int()> run;
    const char* text;
  };
  std::vector<HDSPoolInfo> pools;
  std::vector<HDSSnapshotGroupInfo> snaps;
  std::vector<HDSCopyGroup> groups;
  std::vector<HDSPairInfo> pairs;
  std::vector<HDSLunInfo> luns;
  std::vector<HDSPortInfo> ports;
  std::map<std::string, ResourceGroupInfo> rgs;
  HDSPortInfo port;
  HDSHostGroupInfo hg;
  std::string q;
  const Row rows[] = {
      {"pools", " get pool ", [&] { return impl->getPoolList(pools); }, "Failed to get Pool list"},
      {"snapshots", " get snapshot ", [&] { return impl->getSnapshotGroupList(snaps, "256", true); },
       "Failed to get the snapshot group list"},
      {"copy groups", " get copy_grp ", [&] { return impl->getCopyGroup(groups, ""); },
       "Failed to get the Copy Group list."},
      {"q-marker", "-nowait", [&] { return impl->getQMarkerForCopyGroup("CG1", q); },
       "Failed to find QMarker for the CopyGroup-[CG1]"},
      {"pairs", "raidscan", [&] { return impl->getRemotePairInfoForHostGroup("CL1-A-1", pairs); },
       "Failed to  get pair info for HostGroup-CL1-A-1"},
      {"luns", " get lun ", [&] { return impl->getLunsForHostGroup("CL1-A", "1", luns); },
       "Failed to get LUNs on the port-[CL1-A], HostGroup-[1]"},
      {"ports", " get port ", [&] { return impl->getPortList(ports); },
       "Failed to get the port list on the array."},
      {"logins", " get port ", [&] { return impl->getPortLoginWWNList("CL1-A", port); },
       "Failed to get the HostGroup list for the port-[CL1-A]"},
      {"wwns", " get hba_wwn ", [&] { return impl->getHostGroupInfo("CL1-A", "1", hg); },
       "Failed to get host group info for [CL1-A-1]"},
      {"resource groups", " get resource ", [&] { return impl->getResourceGroupInfo(rgs, false); },
       "Failed to get status of resource group-[meta_resource]"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    runner = HDSRecordingRunner();
    runner.on(r.match, R::ok(foreign));
    EXPECT_EQ(1, r.run());
    EXPECT_EQ(std::make_pair(62601, std::string(r.text)), error());
    runner = HDSRecordingRunner();
    runner.on(r.match, R::ok(" \n"));
    if (std::string(r.what) != "q-marker") {
      EXPECT_EQ(0, r.run()) << error().second;
    }
  }
}

TEST_F(RealTools, CommandStatusExit1WithARowIsTheAnswer) {
  const std::string row =
      "HANDLE   SSB1    SSB2    ERR_CNT        Serial#   Description\n"
      "00c3     2e20    0000          1         412345   LDEV is not installed\n";
  runner.on(" get command_status ", R::exit(1, row, "raidcom: [EX_CMDRJE]"));
  bool hasError = false;
  std::string text;
  ASSERT_EQ(0, Peer::getCommandStatus(*impl, hasError, text));
  EXPECT_TRUE(hasError);
  EXPECT_EQ("LDEV is not installed", text.substr(0, 21));
  EXPECT_EQ(1u, runner.lines().size()) << "read, not asked again";
  runner = HDSRecordingRunner();
  runner.on(" get command_status ", R::exit(1, "", "raidcom: [EX_CMDRJE]"));
  EXPECT_EQ(1, Peer::getCommandStatus(*impl, hasError, text));
  EXPECT_EQ(std::make_pair(62601, std::string("Failed to get command status.")), error());
}

TEST_F(RealTools, ScriptThatMeetsAnEndedLoginLogsInOnceAndRunsOnceMore) {
  ASSERT_TRUE(zrWriteFile(etcDir() + "horcm3532.conf", Peer::horcmFileContent(*impl, 3532)));
  runner.on("/bin/sh ", R::exit(202, "", "raidcom: [EX_ENLOGIN]"), 1);
  runner.on("/bin/sh ", R::ok());
  runner.on("-login", R::ok());
  std::string out;
  int ec = 0;
  const std::string script = "/cci/raidcom  modify ldev  -ldev_id 100 -ldev_name x -IM3532\n";
  ASSERT_EQ(0, Peer::executeScriptFile(*impl, script, out, ec)) << error().second;
  EXPECT_EQ(2u, runner.linesWith("/bin/sh ").size());
  EXPECT_EQ(1u, runner.linesWith("-login").size());

  // Still 202 after the new login: one login only, and the script fails.
  runner = HDSRecordingRunner();
  runner.on("/bin/sh ", R::exit(202, "", "raidcom: [EX_ENLOGIN]"));
  runner.on("-login", R::ok());
  EXPECT_EQ(1, Peer::executeScriptFile(*impl, script, out, ec));
  EXPECT_EQ(2u, runner.linesWith("/bin/sh ").size());
  EXPECT_EQ(1u, runner.linesWith("-login").size());
  EXPECT_EQ(202, ec);
}

TEST_F(RealTools, IscsiHostGroupsAreReadByTheHeaderAndListedByHbaIscsi) {
  const std::string iscsi =
      "PORT   GID  GROUP_NAME   IQN                           AMD   D  Serial#  HMD    HMO_BITs\n"
      "CL4-E  0    4E-G00       iqn.1994-04.jp.co.hitachi:rsd  NONE  S  412345   LINUX  -\n"
      "CL4-E  1    db host 01   iqn.1994-05.com.redhat:db01    CHAP  B  412345   LINUX  2\n";
  std::vector<HDSHostGroupInfo> groups;
  ASSERT_EQ(2u, hdsparse::parseHostGroupList(iscsi, kSerial, groups).rows);
  EXPECT_EQ("4E-G00", groups[0].hostGroupName);
  EXPECT_EQ("db host 01", groups[1].hostGroupName);
  EXPECT_TRUE(hdsparse::isIscsiHostGroupListing(iscsi));
  EXPECT_EQ(3u, hdsparse::hostGroupColumnsBeforeSerial(iscsi));

  runner.on(" get resource ", R::ok("RS_GROUP RGID stat Lock_owner Lock_host Serial#\n"
                                    "meta_resource 0 Unlocked - - 412345\n"));
  runner.on(" get host_grp ", R::ok(iscsi));
  runner.on(" get hba_iscsi ",
            R::ok("PORT   GID  GROUP_NAME  IQN                          Serial#  NICK_NAME\n"
                  "CL4-E  1    db host 01  iqn.1994-05.com.redhat:db01  412345   -\n"));
  HDSPortInfo info;
  ASSERT_EQ(0, impl->getPortHostGroupList("CL4-E", "db host 01", info, true, "", false))
      << error().second;
  ASSERT_EQ(2u, info.hostGroups.size());
  EXPECT_EQ(std::vector<std::string>{"iqn.1994-05.com.redhat:db01"}, info.hostGroups[1].wwns);
  EXPECT_TRUE(runner.linesWith(" get hba_wwn ").empty());
  EXPECT_EQ(1u, runner.linesWith("get hba_iscsi   -port CL4-E-1 -IM").size());

  // A port not listed yet: hba_wwn is refused on iSCSI, hba_iscsi answers.
  makeImpl();
  runner = HDSRecordingRunner();
  runner.on(" get hba_wwn ", R::exit(1, "", "raidcom: [EX_REQARG] iSCSI port\n"));
  runner.on(" get hba_iscsi ",
            R::ok("PORT GID GROUP_NAME IQN Serial# NICK_NAME\nCL4-E 1 db iqn.x:db 412345 -\n"));
  HDSHostGroupInfo hg;
  ASSERT_EQ(0, impl->getHostGroupInfo("CL4-E", "1", hg)) << error().second;
  EXPECT_EQ(std::vector<std::string>{"iqn.x:db"}, hg.wwns);
  EXPECT_EQ(0, error().first);
}

TEST_F(RealTools, ResourceGroupRowsBeforeTheHeaderAreIgnored) {
  const std::string header = "RS_GROUP       RGID  stat      Lock_owner  Lock_host  Serial#\n";
  const std::string meta = "meta_resource     0  Unlocked  -           -          412345\n";
  struct Row {
    const char* what;
    std::string text;
    size_t groups;
  } rows[] = {
      {"prompt first", "Password: x 1 Locked a b 412345\n" + header + meta, 1},
      {"warning lines first", "raidcom: [EW_WARN] slow\n\n" + header + meta, 1},
      {"header only", header, 0},
      {"no header: nothing", "x 1 Locked a b 412345\n" + meta, 0},
  };
  for (const Row& r : rows) {
    std::map<std::string, ResourceGroupInfo> groups;
    EXPECT_EQ(r.groups, hdsparse::parseResourceGroupList(r.text, groups).rows) << r.what;
    EXPECT_EQ(0u, groups.count("RS_GROUP")) << r.what;
    EXPECT_EQ(0u, groups.count("Password: x")) << r.what;
  }
}

TEST_F(RealTools, GlobalVirtualisationFormKeepsPhysicalValuesApart) {
  const std::string gv =
      "Serial#  : 63502 PHY_Serial#  : 412345\n"
      "LDEV : 577 PHY_LDEV : 600\n"
      "VOL_TYPE : OPEN-V-CVS\n"
      "VOL_Capacity(BLK) : 2097152\n";
  std::vector<HDSLdevInfo> parsed;
  ASSERT_EQ(1u, hdsparse::parseGetLdevOutput(gv, parsed, ""));
  // The record holds the physical identity; the printed LDEV is the
  // virtual id.
  EXPECT_EQ("412345", parsed[0].serial);
  EXPECT_EQ("412345", parsed[0].physicalSerial);
  EXPECT_EQ("600", parsed[0].ldevId);
  EXPECT_EQ("600", parsed[0].physicalLdevId);
  EXPECT_EQ("577", parsed[0].virtualLdevId);
  parsed.clear();
  ASSERT_EQ(1u, hdsparse::parseGetLdevOutput("Serial# : 412345\nLDEV : 600 VIR_LDEV : 577\n",
                                             parsed, ""));
  EXPECT_EQ("600", parsed[0].ldevId);
  EXPECT_EQ("577", parsed[0].virtualLdevId);
  EXPECT_EQ("", parsed[0].physicalLdevId);

  // The query names the physical LDEV and array: those are compared.
  struct Row {
    const char* what;
    std::string answer;
    int result;
  } rows[] = {
      {"physical values match", gv, 0},
      {"virtual serial is not the array's", "Serial# : 63502\nLDEV : 600\n", 1},
      {"physical LDEV differs", "Serial# : 63502 PHY_Serial# : 412345\nLDEV : 600 PHY_LDEV : 601\n",
       1},
  };
  for (const Row& r : rows) {
    runner = HDSRecordingRunner();
    runner.on(" get ldev ", R::ok(r.answer));
    std::vector<HDSLdevInfo> ldevs(1);
    ldevs[0].ldevId = "600";
    ldevs[0].serial = kSerial;
    EXPECT_EQ(r.result, impl->getLdevInfo(ldevs)) << r.what;
  }

  // A record read keeps the physical identity it was asked by; the printed
  // LDEV of the global form is its virtual id when it differs.
  struct Read {
    const char* what;
    std::string answer;
    std::string virtualLdev;
  } reads[] = {
      {"global form", gv, "577"},
      {"global form without a virtual id",
       "Serial# : 63502 PHY_Serial# : 412345\nLDEV : 600 PHY_LDEV : 600\nRSGID : 3\n", ""},
      {"global form, resource group 0",
       "Serial# : 412345 PHY_Serial# : 412345\nLDEV : 600 PHY_LDEV : 600\nRSGID : 0\n", ""},
      {"other form", "Serial# : 412345\nLDEV : 600 VIR_LDEV : 577\nRSGID : 3\n", "577"},
  };
  for (const Read& r : reads) {
    runner = HDSRecordingRunner();
    runner.on(" get ldev ", R::ok(r.answer));
    std::vector<HDSLdevInfo> ldevs(1);
    ldevs[0].ldevId = "600";
    ldevs[0].serial = kSerial;
    ASSERT_EQ(0, impl->getLdevInfo(ldevs)) << r.what;
    EXPECT_EQ("600", ldevs[0].ldevId) << r.what;
    EXPECT_EQ(kSerial, ldevs[0].serial) << r.what;
    EXPECT_EQ(r.virtualLdev, ldevs[0].virtualLdevId) << r.what;
  }
}

class RealToolsHorcm : public HDSArrayTestBase {
 protected:
  void SetUp() override {
    HDSArrayTestBase::SetUp();
    Peer::commandDevices(*impl) = {"/dev/sdc"};
  }
  std::string path(int n) { return etcDir() + "horcm" + std::to_string(n) + ".conf"; }
  void write(int n, const std::string& serial, mode_t mode = 0644) {
    std::string text = Peer::horcmFileContent(*impl, n);
    text.replace(text.find(kSerial), 6, serial);
    ASSERT_TRUE(zrWriteFile(path(n), text));
    ASSERT_EQ(0, ::chmod(path(n).c_str(), mode));
  }
};

// With gaps in the numbers the file that names the array wins over the
// first free number, so one array never gets two files and daemons.
TEST_F(RealToolsHorcm, FileNamingTheArrayWinsOverAGap) {
  write(3531, "499999");
  write(3529, kSerial);
  options.horcmInst.clear();
  ASSERT_EQ(0, Peer::createHorcmFiles(*impl, kSerial, false)) << error().second;
  EXPECT_EQ("3529", options.horcmInst);
  EXPECT_TRUE(zrReadFile(path(3532)).empty());
}

TEST_F(RealToolsHorcm, UntrustedOrUnreadableFilesAreSkippedNotFatal) {
  write(3532, kSerial, 0666);  // others may change it
  ASSERT_EQ(0, ::mkfifo(path(3531).c_str(), 0600));
  ASSERT_EQ(0, ::symlink(path(3532).c_str(), path(3530).c_str()));
  ASSERT_TRUE(zrWriteFile(path(3529), std::string(2 << 20, '#')));  // oversized
  options.horcmInst.clear();
  ASSERT_EQ(0, Peer::createHorcmFiles(*impl, kSerial, true)) << error().second;
  EXPECT_EQ("3528", options.horcmInst);
  EXPECT_NE(std::string::npos, zrReadFile(path(3528)).find("CMD-412345"));
  struct stat st;
  ASSERT_EQ(0, ::lstat(path(3531).c_str(), &st));
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO is left alone";
  EXPECT_EQ(0666u,
            static_cast<unsigned>(::lstat(path(3532).c_str(), &st) == 0 ? st.st_mode & 0777 : 0))
      << "the untrusted file is never rewritten";
}

}  // namespace
