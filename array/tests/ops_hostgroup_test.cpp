// Host groups and LU paths: the LU-path, host-group and WWN listing parsers
// over exact, simulator-rendered and hostile text, and the operations'
// command lines, exit-code rules and runs against the simulator's tools.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "array/HDSParseHostGroup.h"
#include "array/tests/support/HDSDiscoveryTestBed.h"
#include "array/tests/support/HDSRowCheck.h"
#include "sim/ccisim_fixture.h"

#include <sys/stat.h>

namespace {

using namespace hdsparse;

struct LunRow {
  const char* port;
  const char* gid;
  const char* mode;
  const char* lun;
  const char* ldev;
};

void expectLuns(const std::vector<HDSLunInfo>& got, const std::vector<LunRow>& want,
                const std::string& context) {
  hdstest::expectEachRow(got, want, context, [](const HDSLunInfo& g, const LunRow& w) {
    EXPECT_EQ(g.port, w.port);
    EXPECT_EQ(g.hostGroupId, w.gid);
    EXPECT_EQ(g.hostMode, w.mode);
    EXPECT_EQ(g.lun, w.lun);
    EXPECT_EQ(g.ldevId, w.ldev);
  });
}

const char kLunListing[] =
    "PORT   GID  HMD         LUN  NUM  LDEV  CM  Serial#  HMO_BITs\n"
    "CL1-A  1    LINUX/IRIX  0    1    4096  -   412345   2 13\n"
    "CL1-A  1    LINUX/IRIX  1    1    4097  -   412345   -\n";

TEST(LunParser, ExactLayoutAppends) {
  std::vector<HDSLunInfo> luns;
  EXPECT_EQ(parseLunList(kLunListing, luns).rows, 2u);
  EXPECT_EQ(parseLunList(kLunListing, luns).rows, 2u);
  expectLuns(luns,
             {{"CL1-A", "1", "LINUX/IRIX", "0", "4096"},
              {"CL1-A", "1", "LINUX/IRIX", "1", "4097"},
              {"CL1-A", "1", "LINUX/IRIX", "0", "4096"},
              {"CL1-A", "1", "LINUX/IRIX", "1", "4097"}},
             "two calls on one vector");
}

TEST(LunParser, HostileText) {
  const std::string hdr = "PORT GID HMD LUN NUM LDEV CM Serial# HMO_BITs\n";
  struct Case {
    const char* what;
    std::string text;
    std::vector<LunRow> want;
  } cases[] = {
      {"empty", "", {}},
      {"header only", hdr, {}},
      {"no final newline",
       hdr + "CL1-A 1 LINUX 0 1 4096 - 412345 -",
       {{"CL1-A", "1", "LINUX", "0", "4096"}}},
      {"CRLF",
       hdr + "CL1-A 1 LINUX 0 1 4096 - 412345 -\r\n",
       {{"CL1-A", "1", "LINUX", "0", "4096"}}},
      {"a row ending with its LDEV is cut short: nothing is read",
       hdr + "CL1-A 1 LINUX 1 1 4097 - 412345 -\nCL1-A 1 LINUX 0 1 4096\n",
       {}},
      {"trailing blank after column 6 takes it",
       hdr + "CL1-A 1 LINUX 0 1 4096 \n",
       {{"CL1-A", "1", "LINUX", "0", "4096"}}},
      {"leading blanks read as a left-aligned row",
       hdr + "   CL1-A 1 LINUX 0 1 4096 -\n",
       {{"CL1-A", "1", "LINUX", "0", "4096"}}},
      {"tabs", hdr + "CL1-A\t1\tLINUX\t0\t1\t4096\t-\n", {{"CL1-A", "1", "LINUX", "0", "4096"}}},
  };
  for (const Case& c : cases) {
    std::vector<HDSLunInfo> luns;
    parseLunList(c.text, luns);
    expectLuns(luns, c.want, c.what);
  }
}

TEST(LunParser, HugeListing) {
  std::string text = "PORT GID HMD LUN NUM LDEV CM Serial# HMO_BITs\n";
  for (int i = 0; i < 2048 * 50; ++i) {
    text +=
        "CL1-A 1 LINUX/IRIX " + std::to_string(i) + " 1 " + std::to_string(i + 7) + " - 412345 -\n";
  }
  std::vector<HDSLunInfo> luns;
  EXPECT_EQ(parseLunList(text, luns).rows, 2048u * 50);
  EXPECT_EQ(luns.back().ldevId, std::to_string(2048 * 50 - 1 + 7));
}

struct GroupRow {
  const char* gid;
  const char* name;
};

void expectGroups(const std::vector<HDSHostGroupInfo>& got, const std::vector<GroupRow>& want,
                  const std::string& context) {
  hdstest::expectEachRow(got, want, context, [](const HDSHostGroupInfo& g, const GroupRow& w) {
    EXPECT_EQ(g.hostGroupId, w.gid);
    EXPECT_EQ(g.hostGroupName, w.name);
    EXPECT_EQ(g.port, "");
    EXPECT_TRUE(g.wwns.empty());
  });
}

TEST(HostGroupParser, ExactLayout) {
  const char text[] =
      "PORT   GID  GROUP_NAME              Serial#  HMD         HMO_BITs\n"
      "CL1-A  0    1A-G00                  412345   LINUX/IRIX  -\n"
      "CL1-A  1    hg db 01                412345   LINUX/IRIX  2 13\n";
  std::vector<HDSHostGroupInfo> groups;
  EXPECT_EQ(parseHostGroupList(text, "412345", groups).rows, 2u);
  expectGroups(groups, {{"0", "1A-G00"}, {"1", "hg db 01"}}, "exact");
}

TEST(HostGroupParser, NameColumn) {
  const std::string hdr = "PORT GID GROUP_NAME Serial# HMD HMO_BITs\n";
  struct Case {
    const char* what;
    std::string line;
    const char* serial;
    const char* gid;
    const char* name;
  } cases[] = {
      {"blanks inside the name", "CL1-A 3 my  host\tgroup 412345 LINUX -", "412345", "3",
       "my  host\tgroup"},
      {"the serial's digits inside a name do not end it", "CL1-A 3 db412345x 412345 LINUX -",
       "412345", "3", "db412345x"},
      {"a name word that merely starts with the serial", "CL1-A 3 hg 4123456 412345 LINUX -",
       "412345", "3", "hg 4123456"},
      {"a name equal to the serial", "CL1-A 3 412345 412345 LINUX -", "412345", "3", "412345"},
      {"a later word equal to the serial ends the name (first whole match)",
       "CL1-A 3 hg 412345 b 412345 LINUX -", "412345", "3", "hg"},
      {"serial absent: column 3 alone", "CL1-A 3 hg db 01 999999 LINUX -", "412345", "3", "hg"},
      // A row that does not reach the serial column was cut short.
      {"serial absent and column 3 last: refused", "CL1-A 3 hg", "412345", nullptr, ""},
      {"a trailing blank does not make a cut row whole", "CL1-A 3 hg \t", "412345", nullptr, ""},
      {"a row that ends after the GID: refused", "CL1-A 3 ", "412345", nullptr, ""},
      {"empty serial: column 3 alone", "CL1-A 3 hg db 412345 LINUX -", "", "3", "hg"},
      {"trailing blanks and CR stripped", "CL1-A 3 hg db 412345 LINUX - \t \r", "412345", "3",
       "hg db"},
      {"serial the last column", "CL1-A 3 hg db 412345", "412345", "3", "hg db"},
      {"port and gid only", "CL1-A 3", "412345", nullptr, ""},
      {"leading blanks read as a left-aligned row", "  CL1-A 3 hg 412345 LINUX -", "412345", "3",
       "hg"},
  };
  for (const Case& c : cases) {
    std::vector<HDSHostGroupInfo> groups;
    parseHostGroupList(hdr + c.line + "\n", c.serial, groups);
    if (c.gid == nullptr) {
      EXPECT_TRUE(groups.empty()) << c.what;
    } else {
      expectGroups(groups, {{c.gid, c.name}}, c.what);
    }
  }
}

TEST(HostGroupParser, HostileText) {
  const std::string hdr = "PORT GID GROUP_NAME Serial# HMD HMO_BITs\n";
  std::vector<HDSHostGroupInfo> groups;
  EXPECT_EQ(parseHostGroupList("", "412345", groups).rows, 0u);
  EXPECT_EQ(parseHostGroupList(hdr, "412345", groups).rows, 0u);
  EXPECT_EQ(parseHostGroupList(hdr + "CL1-A 0 hg 412345 LINUX -", "412345", groups).rows, 1u);
  EXPECT_EQ(parseHostGroupList(hdr + "CL1-A 0 hg 412345 LINUX -\r\n", "412345", groups).rows, 1u);
  expectGroups(groups, {{"0", "hg"}, {"0", "hg"}}, "no final newline, CRLF");
}

TEST(HostGroupParser, HugeListing) {
  std::string text = "PORT GID GROUP_NAME Serial# HMD HMO_BITs\n";
  for (int i = 0; i < 100000; ++i) {
    text += "CL1-A " + std::to_string(i % 255) + " group name " + std::to_string(i) +
            " 412345 LINUX/IRIX 2 13\n";
  }
  std::vector<HDSHostGroupInfo> groups;
  EXPECT_EQ(parseHostGroupList(text, "412345", groups).rows, 100000u);
  EXPECT_EQ(groups.back().hostGroupName, "group name 99999");
}

TEST(HostGroupWwnParser, ExactLayout) {
  const char text[] =
      "PORT   GID  GROUP_NAME  HWWN              Serial#  NICK_NAME\n"
      "CL1-A  1    hg db 01    210000e08b0256f8  412345   -\n"
      "CL1-A  1    hg db 01    210000e08b0256f9  412345   node2_p1\n";
  HDSHostGroupInfo g;
  g.wwns.push_back("kept");
  parseHostGroupWwnList(text, g);
  EXPECT_EQ(g.port, "CL1-A");
  EXPECT_EQ(g.hostGroupId, "1");
  EXPECT_EQ(g.hostGroupName, "hg db 01");
  EXPECT_EQ(g.wwns, (std::vector<std::string>{"kept", "210000e08b0256f8", "210000e08b0256f9"}));
}

TEST(HostGroupWwnParser, HostileText) {
  const std::string hdr = "PORT GID GROUP_NAME HWWN Serial# NICK_NAME\n";
  struct Case {
    const char* what;
    std::string text;
    const char* port;
    const char* gid;
    const char* name;
    std::vector<std::string> wwns;
  } cases[] = {
      {"empty", "", "P", "G", "N", {}},
      {"header only", hdr, "P", "G", "N", {}},
      {"no final newline", hdr + "CL1-A 1 hg 2100 412345 -", "CL1-A", "1", "hg", {"2100"}},
      {"trailing blank no longer shifts the columns",
       hdr + "CL1-A 1 hg 2100 412345 - \n",
       "CL1-A",
       "1",
       "hg",
       {"2100"}},
      {"CRLF", hdr + "CL1-A 1 hg 2100 412345 -\r\n", "CL1-A", "1", "hg", {"2100"}},
      {"a row of five columns is cut short: nothing changes", hdr + "CL1-A 1 2100 412345 -\n", "P",
       "G", "N", {}},
      {"name with the serial and blanks",
       hdr + "CL1-A 1 a 412345 b 2100 412345 -\n",
       "CL1-A",
       "1",
       "a 412345 b",
       {"2100"}},
      {"tabs between columns",
       hdr + "CL1-A\t1\thg x\t2100\t412345\t-\n",
       "CL1-A",
       "1",
       "hg x",
       {"2100"}},
      {"a single word", hdr + "CL1-A\n", "P", "G", "N", {}},
  };
  for (const Case& c : cases) {
    HDSHostGroupInfo g;
    g.port = "P";
    g.hostGroupId = "G";
    g.hostGroupName = "N";
    parseHostGroupWwnList(c.text, g);
    SCOPED_TRACE(c.what);
    EXPECT_EQ(g.port, c.port);
    EXPECT_EQ(g.hostGroupId, c.gid);
    EXPECT_EQ(g.hostGroupName, c.name);
    EXPECT_EQ(g.wwns, c.wwns);
  }
}

// ---- Parsers against the simulator's renderers ---------------------------

TEST(HostGroupParsers, SimulatorRendering) {
  ccisim::Array a;
  a.serial = "412345";
  ccisim::Port& port = a.ports["CL1-A"];
  port.name = "CL1-A";
  ccisim::HostGroup g0;
  g0.gid = 0;
  g0.name = "1A-G00";
  ccisim::HostGroup g1;
  g1.gid = 1;
  g1.name = "hg db 01";
  g1.hmoBits = "2 13";
  g1.wwns = {{"210000e08b0256f8", "-"}, {"210000e08b0256f9", "node2_p1"}};
  g1.luns = {{0, 4096}, {1, 4097}};
  ccisim::HostGroup g2;
  g2.gid = 2;
  g2.name = "db412345";
  port.hostGroups = {{0, g0}, {1, g1}, {2, g2}};

  std::vector<HDSLunInfo> luns;
  parseLunList(ccisim::renderGetLun(a, "CL1-A", 1), luns);
  expectLuns(luns,
             {{"CL1-A", "1", "LINUX/IRIX", "0", "4096"}, {"CL1-A", "1", "LINUX/IRIX", "1", "4097"}},
             "rendered luns");

  std::vector<HDSHostGroupInfo> groups;
  parseHostGroupList(ccisim::renderGetHostGrp(a, "CL1-A", nullptr), "412345", groups);
  expectGroups(groups, {{"0", "1A-G00"}, {"1", "hg db 01"}, {"2", "db412345"}}, "rendered groups");

  HDSHostGroupInfo wwns;
  parseHostGroupWwnList(ccisim::renderGetHbaWwn(a, "CL1-A", 1), wwns);
  EXPECT_EQ(wwns.port, "CL1-A");
  EXPECT_EQ(wwns.hostGroupId, "1");
  EXPECT_EQ(wwns.hostGroupName, "hg db 01");
  EXPECT_EQ(wwns.wwns, (std::vector<std::string>{"210000e08b0256f8", "210000e08b0256f9"}));
}

// ---- Operations through a recording runner --------------------------------

using Reply = HDSRecordingRunner::Reply;

class HostGroupOps : public ::testing::Test {
 protected:
  HDSDiscoveryTestBed bed;
  static std::string line(const std::string& verb, const std::string& args) {
    return HDSDiscoveryTestBed::raidcom(verb + "   -port " + args);
  }
  std::vector<std::string> functionsLogged() {
    std::vector<std::string> f;
    for (const auto& l : bed.log.logs()) f.push_back(l.function);
    return f;
  }
};

TEST_F(HostGroupOps, LunListingAddressesNumbersAndNames) {
  struct Case {
    const char* group;
    const char* args;
  } cases[] = {
      {"5", "CL1-A-5"},
      {"12", "CL1-A-12"},
      {"QB_PRE_SNAP_HOST_GROUP", "CL1-A QB_PRE_SNAP_HOST_GROUP"},
      {"hg db 01", "CL1-A \"hg db 01\""},
      {"a'b $(reboot)", "CL1-A 'a'\\''b $(reboot)'"},
      {"a_host_group_name_longer_than_32_chars", "CL1-A a_host_group_name_longer_than_32_chars"},
      {"-5", "CL1-A -5"},
  };
  for (const Case& c : cases) {
    bed.recorder = HDSRecordingRunner();
    bed.recorder.on(" get lun ", HDSRecordingRunner::ok(kLunListing));
    std::vector<HDSLunInfo> luns;
    EXPECT_EQ(bed.recording().getLunsForHostGroup("CL1-A", c.group, luns), 0) << c.group;
    EXPECT_EQ(bed.recorder.lines(), (std::vector<std::string>{line("get lun", c.args)}));
    EXPECT_EQ(luns.size(), 2u);
  }
}

// A host group's paths are listed once per job: this job's own path
// deletions are applied to what was listed; an added path, another change on
// the port, or a change of the array's resource lock has it listed again.
TEST_F(HostGroupOps, LunListingIsAskedOnceUntilSomethingElseChanges) {
  struct Case {
    const char* what;
    std::function<int(ZRHDSRaidcomImplementer&)> between;
    size_t listings;           // get lun commands in all
    size_t rowsAfter;          // rows of the second listing
  } cases[] = {
      {"nothing in between", [](ZRHDSRaidcomImplementer&) { return 0; }, 1, 2},
      {"this job deletes a path",
       [](ZRHDSRaidcomImplementer& i) { return i.unmapLdevFromHostGroup("4096", "CL1-A", "1"); },
       1, 1},
      {"a path already gone", [](ZRHDSRaidcomImplementer& i) {
         return i.unmapLdevFromHostGroup("4097", "CL1-A", "1") == 0 ? 0 : 1;
       }, 1, 1},
      {"this job adds a path",
       [](ZRHDSRaidcomImplementer& i) { return i.mapLdevToHostGroup("4098", "CL1-A", "1"); }, 2,
       2},
      {"a path deletion on another host group of the port",
       [](ZRHDSRaidcomImplementer& i) { return i.unmapLdevFromHostGroup("4096", "CL1-A", "2"); },
       2, 2},
      {"the resource lock changes hands",
       [](ZRHDSRaidcomImplementer& i) {
         return i.lockUnlockResourceGroup("meta_resource", true, false);
       },
       2, 2},
      {"a path deletion that fails",
       [](ZRHDSRaidcomImplementer& i) {
         return i.unmapLdevFromHostGroup("4099", "CL1-A", "1") == 0 ? 1 : 0;
       },
       2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bed.recorder = HDSRecordingRunner();
    bed.recorder.on(" get lun ", HDSRecordingRunner::ok(kLunListing));
    bed.recorder.on("-ldev_id 4097", HDSRecordingRunner::exit(205, "", "raidcom: [EX_ENOOBJ]\n"));
    bed.recorder.on("-ldev_id 4099", HDSRecordingRunner::exit(1, "", "refused\n"));
    bed.recorder.on(" lun ", HDSRecordingRunner::ok());
    bed.recorder.on(" resource ", HDSRecordingRunner::ok());
    ZRHDSRaidcomImplementer& impl = bed.recording();
    std::vector<HDSLunInfo> first, second;
    ASSERT_EQ(impl.getLunsForHostGroup("CL1-A", "1", first), 0);
    ASSERT_EQ(c.between(impl), 0);
    ASSERT_EQ(impl.getLunsForHostGroup("CL1-A", "1", second), 0);
    EXPECT_EQ(bed.recorder.linesWith(" get lun ").size(), c.listings);
    EXPECT_EQ(second.size(), c.rowsAfter);
  }
}

TEST_F(HostGroupOps, LunListingFailureAndRefusals) {
  bed.recorder.on(" get lun ", HDSRecordingRunner::exit(205, "", "raidcom: [EX_ENOOBJ]\n"));
  std::vector<HDSLunInfo> luns(1);
  EXPECT_EQ(bed.recording().getLunsForHostGroup("CL1-A", "7", luns), 1);
  EXPECT_EQ(luns.size(), 1u);
  EXPECT_EQ(bed.errorCode(), 62601);
  EXPECT_EQ(bed.errorText(), "Failed to get LUNs on the port-[CL1-A], HostGroup-[7]");
  EXPECT_TRUE(bed.log.logged("Failed to get LUNs on the port-[CL1-A], HostGroup-[7]"));

  bed.recorder = HDSRecordingRunner();
  EXPECT_EQ(bed.recording().getLunsForHostGroup("CL1-A", "", luns), 1);
  EXPECT_EQ(bed.errorText(), "Invalid input: HostGroup-[] is not valid.");
  EXPECT_EQ(bed.recording().getLunsForHostGroup("", "5", luns), 1);
  EXPECT_EQ(bed.errorText(), "Invalid input: Port-[] is not valid.");
  EXPECT_EQ(bed.recording().getLunsForHostGroup("CL1-A", "5\nrm x", luns), 1);
  EXPECT_TRUE(bed.recorder.lines().empty());
}

TEST_F(HostGroupOps, MapLdev) {
  bed.recorder.on(" add lun ", HDSRecordingRunner::ok());
  EXPECT_EQ(bed.recording().mapLdevToHostGroup("4096", "CL1-A", "5"), 0);
  EXPECT_EQ(bed.recorder.lines(),
            (std::vector<std::string>{line("add lun", "CL1-A-5 -ldev_id 4096")}));
  EXPECT_TRUE(bed.log.logged("Successfully mapped LDEV-[4096] to the HostGroup-[CL1-A-5]"));

  // An existing path is success; the pair keeps the failed run's text.
  bed.recorder = HDSRecordingRunner();
  bed.recorder.on(
      " add lun ",
      HDSRecordingRunner::exit(
          221, "", "raidcom: [EX_CMDRJE] An LU path has already defined in the relevant LDEV.\n"));
  EXPECT_EQ(bed.recording().mapLdevToHostGroup("4096", "CL1-A", "5"), 0);
  EXPECT_EQ(bed.errorCode(), 62601);
  EXPECT_NE(bed.errorText().find("returned exit code-[221]"), std::string::npos);
  EXPECT_TRUE(bed.log.logged("The LDEV-[4096] is already mapped to the Host-Group-[CL1-A-5]"));
  // The same refusal known by its sense pair only.
  bed.recorder = HDSRecordingRunner();
  bed.log.clearLogs();
  bed.recorder.on(" add lun ", HDSRecordingRunner::exit(
                                   221, "",
                                   "raidcom: [EX_CMDRJE] An order to the control/command device "
                                   "was rejected\nIt was rejected due to SKEY=0x05, ASC=0x26, "
                                   "ASCQ=0x00, SSB=0xB958,0x015A on Serial#(412345).\n"));
  EXPECT_EQ(bed.recording().mapLdevToHostGroup("4096", "CL1-A", "5"), 0);
  EXPECT_TRUE(bed.log.logged("The LDEV-[4096] is already mapped to the Host-Group-[CL1-A-5]"));

  bed.recorder = HDSRecordingRunner();
  bed.recorder.on(" add lun ", HDSRecordingRunner::exit(221, "", "raidcom: [EX_CMDRJE] full\n"));
  EXPECT_EQ(bed.recording().mapLdevToHostGroup("4096", "CL1-A", "5"), 1);
  EXPECT_EQ(bed.errorCode(), 62601);
  EXPECT_EQ(bed.errorText(), "Failed to map LDEV-[4096] to the HostGroup-[CL1-A-5]");
}

TEST_F(HostGroupOps, MapAndUnmapRefuseMalformedIds) {
  struct Case {
    const char* ldev;
    const char* port;
    const char* group;
    const char* error;
  } cases[] = {
      {"", "CL1-A", "5", "Invalid input: LDEV-[] is not valid."},
      {"12a", "CL1-A", "5", "Invalid input: LDEV-[12a] is not valid."},
      {"1;reboot", "CL1-A", "5", "Invalid input: LDEV-[1;reboot] is not valid."},
      {"4096", "", "5", "Invalid input: Port-[] is not valid."},
      {"4096", "CL1-A", "", "Invalid input: HostGroup-[] is not valid."},
      {"4096", "CL1-A", "QB_PRE_SNAP_HOST_GROUP",
       "Invalid input: HostGroup-[QB_PRE_SNAP_HOST_GROUP] is not valid."},
      {"4096", "CL1-A", "-5", "Invalid input: HostGroup-[-5] is not valid."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bed.recording().mapLdevToHostGroup(c.ldev, c.port, c.group), 1);
    EXPECT_EQ(bed.errorText(), c.error);
    EXPECT_EQ(bed.recording().unmapLdevFromHostGroup(c.ldev, c.port, c.group), 1);
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText(), c.error);
  }
  EXPECT_TRUE(bed.recorder.lines().empty());
}

TEST_F(HostGroupOps, CreateInMetaResourceRunsOneCommand) {
  bed.recorder.on(" add host_grp ", HDSRecordingRunner::ok());
  EXPECT_EQ(bed.recording().createHostGroup("CL1-A", "QB_PRE_SNAP_HOST_GROUP"), 0);
  EXPECT_EQ(bed.recorder.lines(),
            (std::vector<std::string>{
                line("add host_grp", "CL1-A -host_grp_name QB_PRE_SNAP_HOST_GROUP")}));
  EXPECT_TRUE(
      bed.log.logged("Successfully created HostGroup-[QB_PRE_SNAP_HOST_GROUP] on port-[CL1-A]"));

  bed.recorder = HDSRecordingRunner();
  bed.recorder.on(" add host_grp ", HDSRecordingRunner::ok());
  EXPECT_EQ(bed.recording().createHostGroup("CL1-A", "my group;x"), 0);
  EXPECT_EQ(
      bed.recorder.lines(),
      (std::vector<std::string>{line("add host_grp", "CL1-A -host_grp_name \"my group;x\"")}));

  bed.recorder = HDSRecordingRunner();
  bed.recorder.on(" add host_grp ", HDSRecordingRunner::exit(221, "", "raidcom: [EX_CMDRJE]\n"));
  EXPECT_EQ(bed.recording().createHostGroup("CL1-A", "QB_PSHG_512345"), 1);
  EXPECT_EQ(bed.recorder.lines().size(), 1u);
  EXPECT_EQ(bed.errorText(), "Failed to create HostGroup-[CL1-A-QB_PSHG_512345]");
  EXPECT_TRUE(bed.log.logged("Failed to create HostGroup-[QB_PSHG_512345] for port-[CL1-A]."));

  bed.recorder = HDSRecordingRunner();
  EXPECT_EQ(bed.recording().createHostGroup("CL1-A", ""), 1);
  EXPECT_EQ(bed.errorText(), "Invalid input: HostGroup-[] is not valid.");
  EXPECT_TRUE(bed.recorder.lines().empty());
}

TEST_F(HostGroupOps, CreateMovesIntoTheJobsResourceGroupAndUndoesByName) {
  bed.options.resourceGroup = "VSM_A";
  bed.recorder.on(" add host_grp ", HDSRecordingRunner::ok());
  bed.recorder.on(" add resource ", HDSRecordingRunner::ok());
  EXPECT_EQ(bed.recording().createHostGroup("CL1-A", "QB_PSHG_512345"), 0);
  ASSERT_EQ(bed.recorder.lines().size(), 2u);
  EXPECT_NE(bed.recorder.lines()[1].find(" add resource "), std::string::npos);
  EXPECT_NE(bed.recorder.lines()[1].find("CL1-A"), std::string::npos);
  EXPECT_NE(bed.recorder.lines()[1].find("QB_PSHG_512345"), std::string::npos);

  // A failing move deletes the new group again, by name even when the name
  // is a single digit (the number form would hit host group 5).
  for (const char* name : {"QB_PSHG_512345", "5"}) {
    bed.recorder = HDSRecordingRunner();
    bed.recorder.on(" add host_grp ", HDSRecordingRunner::ok());
    bed.recorder.on(" add resource ", HDSRecordingRunner::exit(227, "", "raidcom: [EX_EACCES]\n"));
    bed.recorder.on(" delete host_grp ", HDSRecordingRunner::ok());
    EXPECT_EQ(bed.recording().createHostGroup("CL1-A", name), 1);
    ASSERT_EQ(bed.recorder.lines().size(), 3u);
    EXPECT_EQ(bed.recorder.lines()[2], line("delete host_grp", std::string("CL1-A ") + name));
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText(), std::string("Failed to create HostGroup-[CL1-A-") + name + "]");
    EXPECT_TRUE(bed.log.logged(std::string("Failed to move HostGroup-[CL1-A-") + name +
                               "] to ResourceGroup-[VSM_A]"));
  }
}

TEST_F(HostGroupOps, DeleteAddressesOneDigitByNumberOnly) {
  struct Case {
    const char* group;
    const char* args;
  } cases[] = {
      {"5", "CL1-A-5"},
      {"12", "CL1-A 12"},
      {"QB_PRE_SNAP_HOST_GROUP", "CL1-A QB_PRE_SNAP_HOST_GROUP"},
      {"hg db", "CL1-A \"hg db\""},
  };
  for (const Case& c : cases) {
    bed.recorder = HDSRecordingRunner();
    bed.recorder.on(" delete host_grp ", HDSRecordingRunner::ok());
    EXPECT_EQ(bed.recording().deleteHostGroup("CL1-A", c.group), 0);
    EXPECT_EQ(bed.recorder.lines(), (std::vector<std::string>{line("delete host_grp", c.args)}));
    EXPECT_TRUE(bed.log.logged(std::string("Successfully deleted HostGroup-[") + c.group +
                               "] on port-[CL1-A]"));
  }
  bed.recorder = HDSRecordingRunner();
  bed.recorder.on(" delete host_grp ", HDSRecordingRunner::exit(205));
  EXPECT_EQ(bed.recording().deleteHostGroup("CL1-A", "12"), 1);
  EXPECT_EQ(bed.errorText(), "Failed to delete HostGroup-[CL1-A-12]");
  EXPECT_TRUE(bed.log.logged("Failed to delete HostGroup-[12] for port-[CL1-A]."));
  bed.recorder = HDSRecordingRunner();
  EXPECT_EQ(bed.recording().deleteHostGroup("CL1-A", ""), 1);
  EXPECT_TRUE(bed.recorder.lines().empty());
}

TEST_F(HostGroupOps, UnmapLdevExitCodesAndTexts) {
  auto rejected = [](const std::string& pair) {
    return "raidcom: [EX_CMDRJE] An order to the control/command device was rejected\nIt was "
           "rejected due to SKEY=0x05, ASC=0x26, ASCQ=0x00, SSB=" +
           pair + " on Serial#(412345).\nCAUSE : Refused.\n";
  };
  const std::string busy = "raidcom: [EX_CMDRJE] LU is executing host I/O\n";
  const std::string last = "raidcom: [EX_CMDRJE] It is the last path of Snapshot\n";
  struct Case {
    const char* what;
    Reply reply;
    int result;
    int code;  // 0: the pair is not looked at
    const char* log;
  } cases[] = {
      {"success", HDSRecordingRunner::ok(), 0, 0,
       "Successfully unmapped LDEV-[4096] from the HostGroup-[CL1-A-5]"},
      {"205 is success whatever the output", HDSRecordingRunner::exit(205, "", busy), 0, 0,
       "LDEV-[4096] is already unmapped from HostGroup-[CL1-A-5]"},
      {"busy", HDSRecordingRunner::exit(221, "", busy), 1, 2,
       "Failed to unmap LDEV-[4096] from HostGroup-[CL1-A-5] as LUN IS BUSY."},
      {"last path", HDSRecordingRunner::exit(221, "", last), 1, 3,
       "Failed to unmap LDEV-[4096] from HostGroup-[CL1-A-5] as IT IS THE LAST PATH."},
      {"both: busy wins", HDSRecordingRunner::exit(221, last, busy), 1, 2, "as LUN IS BUSY."},
      {"busy by its sense pair", HDSRecordingRunner::exit(221, "", rejected("0xB958,0x0233")), 1, 2,
       "as LUN IS BUSY."},
      {"last path by its sense pair", HDSRecordingRunner::exit(221, "", rejected("0xb958,0x020a")),
       1, 3, "as IT IS THE LAST PATH."},
      {"another pair", HDSRecordingRunner::exit(221, "", rejected("0xB958,0x0234")), 1, 62601,
       "Failed to unmap LDEV-[4096] from HostGroup-[CL1-A-5]."},
      {"other", HDSRecordingRunner::exit(221, "", "raidcom: [EX_CMDRJE] no\n"), 1, 62601,
       "Failed to unmap LDEV-[4096] from HostGroup-[CL1-A-5]."},
      {"time-out", HDSRecordingRunner::timeout(), 1, 62601,
       "Failed to unmap LDEV-[4096] from HostGroup-[CL1-A-5]."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bed.recorder = HDSRecordingRunner();
    bed.recorder.on(" delete lun ", c.reply);
    bed.log.clearLogs();
    EXPECT_EQ(bed.recording().unmapLdevFromHostGroup("4096", "CL1-A", "5"), c.result);
    EXPECT_EQ(bed.recorder.lines(),
              (std::vector<std::string>{line("delete lun", "CL1-A-5 -ldev_id 4096")}));
    EXPECT_TRUE(bed.log.logged(c.log));
    if (c.code != 0) {
      EXPECT_EQ(bed.errorCode(), c.code);
      EXPECT_EQ(bed.errorText(), "Failed to unmap LDEV-[4096] from the HostGroup[CL1-A-5]");
    }
    bool underOwnName = false;
    for (const auto& l : bed.log.logs()) {
      if (l.text.find("LDEV-[4096]") != std::string::npos) {
        EXPECT_EQ(l.function, "ZRHDSRaidcomImplementer::unmapLdevToHostGroup");
        underOwnName = true;
      }
    }
    EXPECT_TRUE(underOwnName);
  }
}

// ---- Operations against the simulator's tools -----------------------------

TEST(HostGroupSimulator, CreateMapListUnmapDelete) {
  HDSDiscoveryTestBed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  const std::string serial = HDSDiscoveryTestBed::kSerial;
  sim.addPort(serial, "CL1-A", "50060e8007dd3300");
  sim.addSourceLdev(serial, 1024, 2097152);

  // A name with blanks and shell characters reaches the array whole and
  // runs nothing.
  const std::string marker = bed.tmp.path() + "/injected";
  const std::string name = "hg db; touch " + marker;
  ASSERT_EQ(impl.createHostGroup("CL1-A", name), 0) << bed.errorText();
  struct stat st;
  EXPECT_NE(::stat(marker.c_str(), &st), 0) << "the shell ran part of the name";
  int gid = -1;
  const ccisim::State state = sim.load();
  for (const auto& g : state.array(serial)->ports.at("CL1-A").hostGroups) {
    if (g.second.name == name) gid = g.first;
  }
  ASSERT_GE(gid, 0) << "host group not created under its own name";
  const std::string gidText = std::to_string(gid);

  ASSERT_EQ(impl.mapLdevToHostGroup("1024", "CL1-A", gidText), 0) << bed.errorText();
  // Mapping it again: the array refuses with "already defined", which is success.
  EXPECT_EQ(impl.mapLdevToHostGroup("1024", "CL1-A", gidText), 0) << bed.errorText();

  std::vector<HDSLunInfo> byNumber;
  ASSERT_EQ(impl.getLunsForHostGroup("CL1-A", gidText, byNumber), 0) << bed.errorText();
  ASSERT_EQ(byNumber.size(), 1u);
  EXPECT_EQ(byNumber[0].port, "CL1-A");
  EXPECT_EQ(byNumber[0].hostGroupId, gidText);
  EXPECT_EQ(byNumber[0].ldevId, "1024");
  std::vector<HDSLunInfo> byName;
  ASSERT_EQ(impl.getLunsForHostGroup("CL1-A", name, byName), 0) << bed.errorText();
  ASSERT_EQ(byName.size(), 1u);
  EXPECT_EQ(byName[0].ldevId, "1024");

  ASSERT_EQ(impl.unmapLdevFromHostGroup("1024", "CL1-A", gidText), 0) << bed.errorText();
  // Already gone: the tool exits 205, which is success.
  EXPECT_EQ(impl.unmapLdevFromHostGroup("1024", "CL1-A", gidText), 0) << bed.errorText();
  EXPECT_EQ(sim.journal("raidcom", "delete lun").back().exitCode, 205);

  ASSERT_EQ(impl.deleteHostGroup("CL1-A", name), 0) << bed.errorText();
  const ccisim::State after = sim.load();
  EXPECT_TRUE(after.array(serial)->ports.at("CL1-A").hostGroups.empty());
  EXPECT_NE(::stat(marker.c_str(), &st), 0);
}

TEST(HostGroupSimulator, BusyAndLastPathCodes) {
  HDSDiscoveryTestBed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  const std::string serial = HDSDiscoveryTestBed::kSerial;
  sim.addPort(serial, "CL1-A", "50060e8007dd3300");
  sim.addHostGroup(serial, "CL1-A", 3, "hg");
  sim.addSourceLdev(serial, 1024, 2097152);
  sim.addLun(serial, "CL1-A", 3, 0, 1024);
  sim.addFault(ccisim::Fault::fail("raidcom", "delete lun", 221,
                                   "raidcom: [EX_CMDRJE] LU is executing host I/O"));
  EXPECT_EQ(impl.unmapLdevFromHostGroup("1024", "CL1-A", "3"), 1);
  EXPECT_EQ(bed.errorCode(), 2);
  sim.addFault(ccisim::Fault::fail("raidcom", "delete lun", 221,
                                   "raidcom: [EX_CMDRJE] It is the last path of Snapshot"));
  EXPECT_EQ(impl.unmapLdevFromHostGroup("1024", "CL1-A", "3"), 1);
  EXPECT_EQ(bed.errorCode(), 3);
  EXPECT_EQ(impl.unmapLdevFromHostGroup("1024", "CL1-A", "3"), 0) << bed.errorText();
}

TEST(HostGroupSimulator, CreateInTheJobsResourceGroup) {
  HDSDiscoveryTestBed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  const std::string serial = HDSDiscoveryTestBed::kSerial;
  sim.addPort(serial, "CL1-A", "50060e8007dd3300");
  sim.addResourceGroup(serial, "RG A", 5);
  bed.options.resourceGroup = "RG A";
  ASSERT_EQ(impl.createHostGroup("CL1-A", "QB_PSHG 412345"), 0) << bed.errorText();
  {
    const ccisim::State state = sim.load();
    const auto& groups = state.array(serial)->ports.at("CL1-A").hostGroups;
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups.begin()->second.name, "QB_PSHG 412345");
    EXPECT_EQ(groups.begin()->second.rsgid, 5);
  }
  // A move the array refuses leaves no host group behind.
  sim.addFault(ccisim::Fault::fail("raidcom", "add resource", 227,
                                   "raidcom: [EX_EACCES] The resource is locked by another user"));
  EXPECT_EQ(impl.createHostGroup("CL1-A", "second"), 1);
  EXPECT_EQ(bed.errorText(), "Failed to create HostGroup-[CL1-A-second]");
  const ccisim::State state = sim.load();
  ASSERT_EQ(state.array(serial)->ports.at("CL1-A").hostGroups.size(), 1u);
  EXPECT_EQ(sim.journal("raidcom", "delete host_grp").size(), 1u);
}

}  // namespace
