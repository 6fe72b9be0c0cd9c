// Ports and host-group discovery: the port, login and command-device scan
// parsers over exact, simulator-rendered and hostile text, and the
// operations' command lines, resource options, WWN collection and runs
// against the simulator's tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "array/HDSParsePort.h"
#include "array/tests/support/HDSDiscoveryTestBed.h"
#include "array/tests/support/HDSRowCheck.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"
#include "sim/ccisim_fixture.h"

namespace {

using namespace hdsparse;
using Bed = HDSDiscoveryTestBed;

struct PortRow {
  const char* port;
  const char* type;
  const char* serial;
  const char* wwn;
};

void expectPorts(const std::vector<HDSPortInfo>& got, const std::vector<PortRow>& want,
                 const std::string& context) {
  hdstest::expectEachRow(got, want, context, [](const HDSPortInfo& g, const PortRow& w) {
    EXPECT_EQ(g.port, w.port);
    EXPECT_EQ(g.type, w.type);
    EXPECT_EQ(g.serial, w.serial);
    EXPECT_EQ(g.wwn, w.wwn);
    EXPECT_TRUE(g.loginWwns.empty());
    EXPECT_TRUE(g.hostGroups.empty());
  });
}

const char kPortListing[] =
    "PORT   TYPE   ATTR  SPD  LPID  FAB  CONN  SSW  SL  Serial#  WWN               PHY_PORT\n"
    "CL1-A  FIBRE  TAR   AUT  EF    N    FCAL  N    0   412345   50060e8007dd3300  -\n"
    "CL2-B  FIBRE  TAR   AUT  E8    N    FCAL  N    0   412345   50060e8007dd3311  -\n";

TEST(PortParser, ExactLayout) {
  std::vector<HDSPortInfo> ports;
  EXPECT_EQ(parsePortListing(kPortListing, ports).rows, 2u);
  expectPorts(ports,
              {{"CL1-A", "FIBRE", "412345", "50060e8007dd3300"},
               {"CL2-B", "FIBRE", "412345", "50060e8007dd3311"}},
              "exact");
}

TEST(PortParser, FirstLineOfAPortWinsAndCallersEntriesCount) {
  const std::string text =
      std::string(kPortListing) +
      "CL1-A  ISCSI  TAR   AUT  EF    N    FCAL  N    0   999999   0000000000000000  -\n";
  std::vector<HDSPortInfo> ports(1);
  ports[0].port = "CL2-B";
  ports[0].type = "mine";
  EXPECT_EQ(parsePortListing(text, ports).rows, 1u);
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].type, "mine");
  EXPECT_EQ(ports[1].port, "CL1-A");
  EXPECT_EQ(ports[1].type, "FIBRE");
  EXPECT_EQ(ports[1].serial, "412345");
}

TEST(PortParser, HostileText) {
  const std::string hdr = "PORT TYPE ATTR SPD LPID FAB CONN SSW SL Serial# WWN PHY_PORT\n";
  struct Case {
    const char* what;
    std::string text;
    std::vector<PortRow> want;
  } cases[] = {
      {"empty", "", {}},
      {"header only", hdr, {}},
      {"no final newline",
       hdr + "CL1-A FIBRE TAR AUT EF N FCAL N 0 412345 5006 -",
       {{"CL1-A", "FIBRE", "412345", "5006"}}},
      {"CRLF",
       hdr + "CL1-A FIBRE TAR AUT EF N FCAL N 0 412345 5006 -\r\n",
       {{"CL1-A", "FIBRE", "412345", "5006"}}},
      {"a row ending with its WWN is cut short: nothing is read",
       hdr + "CL1-B FIBRE TAR AUT EF N FCAL N 0 412345 5007 -\n"
             "CL1-A FIBRE TAR AUT EF N FCAL N 0 412345 5006\n",
       {}},
      {"trailing blank after the WWN takes it",
       hdr + "CL1-A FIBRE TAR AUT EF N FCAL N 0 412345 5006 \n",
       {{"CL1-A", "FIBRE", "412345", "5006"}}},
      {"short line", hdr + "CL1-A FIBRE\n", {}},
      {"leading blanks read as a left-aligned row",
       hdr + "  CL1-A FIBRE TAR AUT EF N FCAL N 0 412345 5006 -\n",
       {{"CL1-A", "FIBRE", "412345", "5006"}}},
  };
  for (const Case& c : cases) {
    std::vector<HDSPortInfo> ports;
    parsePortListing(c.text, ports);
    expectPorts(ports, c.want, c.what);
  }
}

TEST(PortParser, HugeListingStaysLinear) {
  std::string text = "PORT TYPE ATTR SPD LPID FAB CONN SSW SL Serial# WWN PHY_PORT\n";
  const int kPorts = 100000;
  for (int i = 0; i < kPorts; ++i) {
    // Every port twice: the second line must never be added.
    for (int k = 0; k < 2; ++k) {
      text += "CL" + std::to_string(i) + "-A FIBRE TAR AUT EF N FCAL N 0 412345 " +
              std::to_string(k) + " -\n";
    }
  }
  std::vector<HDSPortInfo> ports;
  EXPECT_EQ(parsePortListing(text, ports).rows, static_cast<size_t>(kPorts));
  EXPECT_EQ(ports.back().port, "CL" + std::to_string(kPorts - 1) + "-A");
  EXPECT_EQ(ports.back().wwn, "0");
}

TEST(PortLoginParser, ExactLayoutAppendsAcrossCalls) {
  const char text[] =
      "PORT   LOGIN_WWN         Serial#  -\n"
      "CL1-A  210000e08b0256f8  412345   -\n"
      "CL1-A  210000e08b0256f9  412345   -\n";
  HDSPortInfo p;
  EXPECT_EQ(parsePortLoginList(text, p).rows, 2u);
  EXPECT_EQ(parsePortLoginList(text, p).rows, 2u);
  EXPECT_EQ(p.port, "CL1-A");
  EXPECT_EQ(p.serial, "412345");
  EXPECT_EQ(p.loginWwns, (std::vector<std::string>{"210000e08b0256f8", "210000e08b0256f9",
                                                   "210000e08b0256f8", "210000e08b0256f9"}));
}

TEST(PortLoginParser, HostileText) {
  const std::string hdr = "PORT LOGIN_WWN Serial# -\n";
  struct Case {
    const char* what;
    std::string text;
    const char* port;
    const char* serial;
    std::vector<std::string> wwns;
  } cases[] = {
      {"empty", "", "P", "S", {}},
      {"header only", hdr, "P", "S", {}},
      {"no final newline", hdr + "CL1-A 2100 412345 -", "CL1-A", "412345", {"2100"}},
      {"CRLF", hdr + "CL1-A 2100 412345 -\r\n", "CL1-A", "412345", {"2100"}},
      {"a row ending with the serial is cut short", hdr + "CL1-A 2100 412345\n", "P", "S", {}},
      {"port only", hdr + "CL1-A\n", "P", "S", {}},
      {"a cut row refuses the listing", hdr + "CL1-A 2100 412345 -\nCL1-A 2101", "P", "S", {}},
      {"leading blanks read as a left-aligned row", hdr + " CL1-A 2100 412345 -\n", "CL1-A",
       "412345", {"2100"}},
  };
  for (const Case& c : cases) {
    HDSPortInfo p;
    p.port = "P";
    p.serial = "S";
    parsePortLoginList(c.text, p);
    SCOPED_TRACE(c.what);
    EXPECT_EQ(p.port, c.port);
    EXPECT_EQ(p.serial, c.serial);
    EXPECT_EQ(p.loginWwns, c.wwns);
  }
}

TEST(CommandDeviceScanParser, FirstDataLineOnly) {
  const std::string hdr =
      "PORT#    /ALPA/C  TID#  LU#  Seq#    Num  LDEV#  P/S   Status  Fence  P-Seq#  P-LDEV#\n";
  struct Case {
    const char* what;
    std::string text;
    bool found;
    const char* want;
  } cases[] = {
      {"exact",
       hdr + "CL1-A-0  ef  0    0     5    412345  1    2047   SMPL  -       -      -       -\n"
             "CL2-B-0  e8  0    0     5    412345  1    2047   SMPL  -       -      -       -\n",
       true, "CL1-A-0"},
      {"empty", "", false, "caller"},
      {"header only", hdr, false, "caller"},
      {"no final newline", hdr + "CL1-A-0 ef 0", true, "CL1-A-0"},
      {"CRLF", hdr + "CL1-A-0 ef 0\r\n", true, "CL1-A-0"},
      {"leading blanks read as a left-aligned row", hdr + "  CL1-A-0 ef\nCL2-B-0 e8\n", true,
       "CL1-A-0"},
      {"the bare-port layout prints no host group",
       "Port# TargetID# Lun# Seq# Num LDEV# P/S Status Fence P-Seq# P-LDEV#\n"
       "CL1-C 1 0 30053 1 274 SMPL - - - -\n",
       false, "caller"},
      {"another header", "PORT TYPE\nCL1-A-0 FIBRE\n", false, "caller"},
      {"single word not taken", hdr + "CL1-A-0\nCL2-B-0 e8\n", false, "caller"},
  };
  for (const Case& c : cases) {
    std::string hg = "caller";
    EXPECT_EQ(parseCommandDeviceHostGroup(c.text, hg).rows == 1, c.found) << c.what;
    EXPECT_EQ(hg, c.want) << c.what;
  }
}

// ---- Parsers against the simulator's renderers ---------------------------

TEST(PortParsers, SimulatorRendering) {
  ccisim::Array a;
  a.serial = "412345";
  a.ports["CL1-A"].name = "CL1-A";
  a.ports["CL1-A"].wwn = "50060e8007dd3300";
  a.ports["CL1-A"].loginWwns = {"210000e08b0256f8", "iqn.1994-05.com.redhat:node1"};
  a.ports["CL3-C"].name = "CL3-C";
  a.ports["CL3-C"].type = "ISCSI";
  a.ports["CL3-C"].wwn = "-";
  std::vector<HDSPortInfo> ports;
  parsePortListing(ccisim::renderGetPort(a), ports);
  expectPorts(ports,
              {{"CL1-A", "FIBRE", "412345", "50060e8007dd3300"}, {"CL3-C", "ISCSI", "412345", "-"}},
              "rendered ports");

  HDSPortInfo logins;
  parsePortLoginList(ccisim::renderGetPortLogins(a, "CL1-A"), logins);
  EXPECT_EQ(logins.port, "CL1-A");
  EXPECT_EQ(logins.serial, "412345");
  EXPECT_EQ(logins.loginWwns,
            (std::vector<std::string>{"210000e08b0256f8", "iqn.1994-05.com.redhat:node1"}));

  ccisim::HostGroup g;
  g.gid = 7;
  g.luns = {{0, 2047}};
  a.ports["CL1-A"].hostGroups[7] = g;
  std::string hg;
  ASSERT_EQ(1u, parseCommandDeviceHostGroup(ccisim::renderRaidscanPdg(a, 2047), hg).rows);
  EXPECT_EQ(hg, "CL1-A-7");
}

// ---- Operations through a recording runner --------------------------------

using Reply = HDSRecordingRunner::Reply;

class PortOps : public ::testing::Test {
 protected:
  HDSDiscoveryTestBed bed;
  // Resource groups as the array lists them (with or without -key opt).
  static std::string resources(bool keyOpt) {
    ccisim::Array a;
    a.serial = HDSDiscoveryTestBed::kSerial;
    a.resourceGroups["meta_resource"] = {"meta_resource", 0, "", "M8S"};
    a.resourceGroups["VSM_A"] = {"VSM_A", 1, "512345", "M850M3"};
    a.resourceGroups["own 2"] = {"own 2", 2, "", ""};
    return ccisim::renderGetResource(a, keyOpt);
  }
  static std::string hostGroups() {
    return "PORT   GID  GROUP_NAME  Serial#  HMD         HMO_BITs\n"
           "CL1-A  0    1A-G00      412345   LINUX/IRIX  -\n"
           "CL1-A  1    hg db 01    412345   LINUX/IRIX  2 13\n"
           "CL1-A  2    hg db 01    412345   LINUX/IRIX  -\n"
           "CL1-A  3    other       412345   LINUX/IRIX  -\n";
  }
  static std::string wwns(int gid, const std::vector<std::string>& list) {
    std::string t = "PORT GID GROUP_NAME HWWN Serial# NICK_NAME\n";
    for (const auto& w : list) t += "CL1-A " + std::to_string(gid) + " g " + w + " 412345 -\n";
    return t;
  }
  // Answers the resource-group listing that precedes every host-group
  // listing, in the form its line asks for.
  void answerResources() {
    bed.recorder.fallback([](const std::string& line) {
      if (line.find(" get resource ") == std::string::npos) {
        return Reply{0, 99, "", "no answer for " + line};
      }
      return HDSRecordingRunner::ok(resources(line.find("-key opt") != std::string::npos));
    });
  }
  std::vector<std::string> hbaLines() { return bed.recorder.linesWith(" get hba_wwn "); }
};

TEST_F(PortOps, PortListGoldenLineAndFailure) {
  bed.recorder.on(" get port ", HDSRecordingRunner::ok(kPortListing));
  std::vector<HDSPortInfo> ports;
  EXPECT_EQ(bed.recording().getPortList(ports), 0);
  EXPECT_EQ(bed.recorder.lines(), (std::vector<std::string>{Bed::raidcom("get port  ")}));
  EXPECT_EQ(ports.size(), 2u);
  EXPECT_TRUE(bed.log.logged("Found [2] ports on the array."));

  bed.recorder = HDSRecordingRunner();
  bed.recorder.on(" get port ", HDSRecordingRunner::exit(1));
  EXPECT_EQ(bed.recording().getPortList(ports), 1);
  EXPECT_EQ(ports.size(), 2u);
  EXPECT_EQ(bed.errorCode(), 62601);
  EXPECT_EQ(bed.errorText(), "Failed to get the port list on the array.");
}

TEST_F(PortOps, LoginListGoldenLineAppendsAndFails) {
  const std::string listing = "PORT LOGIN_WWN Serial# -\nCL1-A 210000e08b0256f8 412345 -\n";
  bed.recorder.on(" get port ", HDSRecordingRunner::ok(listing));
  HDSPortInfo info;
  ZRHDSRaidcomImplementer& impl = bed.recording();
  EXPECT_EQ(impl.getPortLoginWWNList("CL1-A", info), 0);
  EXPECT_EQ(impl.getPortLoginWWNList("CL1-A", info), 0);
  EXPECT_EQ(bed.recorder.lines()[0], Bed::raidcom("get port   -port CL1-A"));
  EXPECT_EQ(info.loginWwns.size(), 2u);
  EXPECT_TRUE(bed.log.logged("Port-[CL1-A] has [2] WWN."));

  bed.recorder = HDSRecordingRunner();
  bed.recorder.on(" get port ", HDSRecordingRunner::exit(205));
  EXPECT_EQ(bed.recording().getPortLoginWWNList("CL9-Z", info), 1);
  EXPECT_EQ(bed.errorText(), "Failed to get the HostGroup list for the port-[CL9-Z]");
  EXPECT_EQ(bed.recording().getPortLoginWWNList("", info), 1);
  EXPECT_EQ(bed.errorText(), "Invalid input: Port-[] is not valid.");
  EXPECT_EQ(bed.recorder.lines().size(), 1u);
}

TEST_F(PortOps, HostGroupListResourceOptions) {
  struct Case {
    const char* what;
    const char* cci;
    bool own;
    const char* jobGroup;
    const char* options;
    bool keyOption;
  } cases[] = {
      {"own group", "01-40-03/01", true, "VSM_A", " -resource 1", true},
      {"own group missing from the listing", "01-40-03/01", true, "NOPE", " -resource -1", true},
      {"groups of the array's own serial, by name", "01-40-03/01", false, "meta_resource",
       " -resource 0 -resource 2", true},
      {"old CCI: no option", "01-31-02/01", false, "meta_resource", "", false},
      {"old CCI, own group from the plain listing", "01-31-02/01", true, "own 2", " -resource 2",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZRHDSRaidcomTestPeer::setCCIVersion(c.cci);
    bed.options.resourceGroup = c.jobGroup;
    bed.recorder = HDSRecordingRunner();
    answerResources();
    bed.recorder.on(" get host_grp ", HDSRecordingRunner::ok(hostGroups()));
    HDSPortInfo info;
    EXPECT_EQ(bed.recording().getPortHostGroupList("CL1-A", "", info, false, "", c.own), 0)
        << bed.errorText();
    ASSERT_EQ(bed.recorder.lines().size(), 2u);
    EXPECT_EQ(bed.recorder.lines()[0].find("-key opt") != std::string::npos, c.keyOption);
    EXPECT_EQ(bed.recorder.lines()[1],
              Bed::raidcom(std::string("get host_grp   -port CL1-A") + c.options));
    ASSERT_EQ(info.hostGroups.size(), 4u);
    EXPECT_EQ(info.hostGroups[1].hostGroupName, "hg db 01");
    EXPECT_TRUE(hbaLines().empty());
  }
  ZRHDSRaidcomTestPeer::setCCIVersion("01-40-03/01");
}

TEST_F(PortOps, HostGroupListFailuresKeepTheCallersList) {
  HDSPortInfo info;
  info.hostGroups.resize(1);
  info.hostGroups[0].hostGroupName = "kept";

  bed.recorder.on(" get resource ", HDSRecordingRunner::exit(1));
  EXPECT_EQ(bed.recording().getPortHostGroupList("CL1-A", "", info, true, "", false), 1);
  EXPECT_TRUE(bed.recorder.linesWith(" get host_grp ").empty());
  EXPECT_EQ(info.hostGroups.size(), 1u);
  EXPECT_EQ(bed.errorCode(), 62601);

  bed.recorder = HDSRecordingRunner();
  answerResources();
  bed.recorder.on(" get host_grp ", HDSRecordingRunner::exit(205));
  EXPECT_EQ(bed.recording().getPortHostGroupList("CL1-A", "", info, true, "", false), 1);
  EXPECT_EQ(info.hostGroups[0].hostGroupName, "kept");
  EXPECT_EQ(bed.errorText(), "Failed to get the HostGroup list for port-[CL1-A]");
  EXPECT_TRUE(bed.log.logged("Failed to get the HostGroup list for port-[CL1-A]"));

  bed.recorder = HDSRecordingRunner();
  EXPECT_EQ(bed.recording().getPortHostGroupList("", "", info, true, "", false), 1);
  EXPECT_TRUE(bed.recorder.lines().empty());
  EXPECT_EQ(bed.errorText(), "Invalid input: Port-[] is not valid.");
}

TEST_F(PortOps, WwnCollection) {
  struct Case {
    const char* what;
    const char* name;
    const char* wwn;
    bool vsm;
    std::vector<std::string> visited;  // hba_wwn lines, by GID
    std::vector<size_t> filled;        // groups with WWNs
  } cases[] = {
      {"every group", "", "", false, {"0", "1", "2", "3"}, {0, 1, 2, 3}},
      {"first group of that name only", "hg db 01", "", false, {"1"}, {1}},
      {"names compare exactly", "HG DB 01", "", false, {}, {}},
      {"stops after the group holding the WWN", "", "210000E08B0256F9", false, {"0", "1"}, {0, 1}},
      {"WWN nowhere: every group", "", "FFFF", false, {"0", "1", "2", "3"}, {0, 1, 2, 3}},
      {"pre-snap group: no WWNs", "QB_PRE_SNAP_HOST_GROUP", "", false, {}, {}},
      {"pre-snap group of a VSM", "QB_PSHG_412345", "", true, {}, {}},
      {"plain pre-snap name on a VSM is an ordinary name",
       "QB_PRE_SNAP_HOST_GROUP",
       "",
       true,
       {},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bed.options.isVSM = c.vsm;
    bed.recorder = HDSRecordingRunner();
    answerResources();
    bed.recorder.on(" get host_grp ", HDSRecordingRunner::ok(hostGroups()));
    for (int gid = 0; gid < 4; ++gid) {
      bed.recorder.on(
          "-port CL1-A-" + std::to_string(gid) + " ",
          HDSRecordingRunner::ok(wwns(gid, {"210000e08b0256f" + std::to_string(8 + gid)})));
    }
    HDSPortInfo info;
    info.port = "untouched";
    EXPECT_EQ(bed.recording().getPortHostGroupList("CL1-A", c.name, info, true, c.wwn, false), 0);
    std::vector<std::string> expected;
    for (const auto& gid : c.visited)
      expected.push_back(Bed::raidcom("get hba_wwn   -port CL1-A-" + gid));
    EXPECT_EQ(hbaLines(), expected);
    for (size_t i = 0; i < info.hostGroups.size(); ++i) {
      const bool filled = std::find(c.filled.begin(), c.filled.end(), i) != c.filled.end();
      EXPECT_EQ(info.hostGroups[i].wwns.size(), filled ? 1u : 0u) << "group " << i;
      EXPECT_EQ(info.hostGroups[i].port, "") << "listed groups keep an empty port";
    }
    EXPECT_EQ(info.port, "untouched");
  }
  bed.options.isVSM = false;
}

TEST_F(PortOps, WwnCollectionFailureKeepsWhatWasFilled) {
  answerResources();
  bed.recorder.on(" get host_grp ", HDSRecordingRunner::ok(hostGroups()));
  bed.recorder.on("-port CL1-A-0 ", HDSRecordingRunner::ok(wwns(0, {"aa", "bb"})));
  bed.recorder.on("-port CL1-A-1 ", HDSRecordingRunner::exit(205));
  HDSPortInfo info;
  EXPECT_EQ(bed.recording().getPortHostGroupList("CL1-A", "", info, true, "", false), 1);
  EXPECT_EQ(bed.errorText(), "Failed to get host group info for [CL1-A-1]");
  ASSERT_EQ(info.hostGroups.size(), 4u);
  EXPECT_EQ(info.hostGroups[0].wwns, (std::vector<std::string>{"aa", "bb"}));
  EXPECT_TRUE(info.hostGroups[1].wwns.empty());
}

TEST_F(PortOps, HostGroupInfo) {
  bed.recorder.on(" get hba_wwn ",
                  HDSRecordingRunner::ok("PORT GID GROUP_NAME HWWN Serial# NICK_NAME\n"
                                         "CL1-A 1 hg db 01 210000e08b0256f8 412345 -\n"));
  HDSHostGroupInfo info;
  info.wwns = {"stale"};
  EXPECT_EQ(bed.recording().getHostGroupInfo("CL1-A", "1", info), 0);
  EXPECT_EQ(bed.recorder.lines(),
            (std::vector<std::string>{Bed::raidcom("get hba_wwn   -port CL1-A-1")}));
  EXPECT_EQ(info.wwns, (std::vector<std::string>{"210000e08b0256f8"}));
  EXPECT_EQ(info.hostGroupName, "hg db 01");
  EXPECT_TRUE(bed.log.logged("The HostGroup-[CL1-A-1] has [1] WWN."));

  bed.recorder = HDSRecordingRunner();
  bed.recorder.on(" get hba_wwn ",
                  HDSRecordingRunner::ok("PORT GID GROUP_NAME HWWN Serial# NICK_NAME\n"));
  EXPECT_EQ(bed.recording().getHostGroupInfo("CL1-A", "1", info), 0);
  EXPECT_TRUE(info.wwns.empty()) << "cleared before parsing";

  bed.recorder = HDSRecordingRunner();
  for (const char* bad : {"", "x", "1 2", "-1"}) {
    EXPECT_EQ(bed.recording().getHostGroupInfo("CL1-A", bad, info), 1) << bad;
  }
  EXPECT_TRUE(bed.recorder.lines().empty());
}

TEST_F(PortOps, HostGroupOfCommandDevice) {
  std::string hg = "caller";
  ZRHDSRaidcomImplementer& impl = bed.recording();
  EXPECT_EQ(impl.getHostGroupOfCommandDevice(hg), 1);
  EXPECT_EQ(bed.errorText(), "No command device found for the host.");
  EXPECT_TRUE(bed.recorder.lines().empty());

  const std::string hdr = "PORT# /ALPA/C TID# LU# Seq# Num LDEV# P/S Status Fence P-Seq# P-LDEV#\n";
  bed.recorder.on("-pdg",
                  HDSRecordingRunner::ok(hdr + "CL1-A-0 ef 0 0 5 412345 1 2047 SMPL - - - -\n"
                                               "CL2-B-3 e8 0 0 5 412345 1 2047 SMPL - - - -\n"));
  ZRHDSRaidcomTestPeer::commandDevices(impl) = {"/dev/sdc", "/dev/sdd"};
  EXPECT_EQ(impl.getHostGroupOfCommandDevice(hg), 0);
  EXPECT_EQ(bed.recorder.lines(), (std::vector<std::string>{"/cci/raidscan   -CLI -pdg /dev/sdc" +
                                                            HDSDiscoveryTestBed::im()}));
  EXPECT_EQ(hg, "CL1-A-0");
  bool bareName = false;
  for (const auto& l : bed.log.logs()) {
    if (l.text == "Found HostGroup-[CL1-A-0] from the command device.") {
      bareName = l.function == "getHostGroupOfCommandDevice";
    }
  }
  EXPECT_TRUE(bareName);

  bed.recorder = HDSRecordingRunner();
  bed.recorder.on("-pdg", HDSRecordingRunner::ok(hdr));
  hg = "caller";
  EXPECT_EQ(impl.getHostGroupOfCommandDevice(hg), 0);
  EXPECT_EQ(hg, "caller");

  bed.recorder = HDSRecordingRunner();
  bed.recorder.on("-pdg", HDSRecordingRunner::exit(237));
  EXPECT_EQ(impl.getHostGroupOfCommandDevice(hg), 1);
  EXPECT_EQ(bed.errorText(),
            "Failed to get HostGroup info for command device using raidscan command.");

  bed.recorder = HDSRecordingRunner();
  bed.recorder.on("-pdg", HDSRecordingRunner::ok(hdr));
  ZRHDSRaidcomTestPeer::commandDevices(impl) = {"/dev/disk/by-id/scsi x$(y)"};
  EXPECT_EQ(impl.getHostGroupOfCommandDevice(hg), 0);
  EXPECT_EQ(bed.recorder.lines(),
            (std::vector<std::string>{"/cci/raidscan   -CLI -pdg '/dev/disk/by-id/scsi x$(y)'" +
                                      HDSDiscoveryTestBed::im()}));
}

// ---- Operations against the simulator's tools -----------------------------

TEST(PortSimulator, DiscoveryOfPortsLoginsHostGroupsAndWwns) {
  HDSDiscoveryTestBed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  const std::string serial = HDSDiscoveryTestBed::kSerial;
  sim.addPort(serial, "CL1-A", "50060e8007dd3300");
  sim.addPort(serial, "CL2-B", "50060e8007dd3311");
  sim.addLoginWwn(serial, "CL1-A", "210000e08b0256f8");
  sim.addLoginWwn(serial, "CL1-A", "210000e08b0256f9");
  sim.addResourceGroup(serial, "VSM_A", 1, "512345", "M850M3");
  sim.addHostGroup(serial, "CL1-A", 0, "1A-G00");
  sim.addHostGroup(serial, "CL1-A", 1, "hg db 01");
  sim.addHostGroup(serial, "CL1-A", 2, "db412345");
  sim.addHostGroup(serial, "CL1-A", 3, "vsm group", 1);
  sim.addHostGroupWwn(serial, "CL1-A", 1, "210000e08b0256f8");
  sim.addHostGroupWwn(serial, "CL1-A", 2, "210000e08b0256f9", "node2_p1");

  std::vector<HDSPortInfo> ports;
  ASSERT_EQ(impl.getPortList(ports), 0) << bed.errorText();
  expectPorts(ports,
              {{"CL1-A", "FIBRE", serial.c_str(), "50060e8007dd3300"},
               {"CL2-B", "FIBRE", serial.c_str(), "50060e8007dd3311"}},
              "sim ports");

  HDSPortInfo port;
  ASSERT_EQ(impl.getPortLoginWWNList("CL1-A", port), 0) << bed.errorText();
  EXPECT_EQ(port.loginWwns, (std::vector<std::string>{"210000e08b0256f8", "210000e08b0256f9"}));

  // Groups of the array's own serial only: the VSM group is left out.
  ASSERT_EQ(impl.getPortHostGroupList("CL1-A", "", port, true, "210000E08B0256F8", false), 0)
      << bed.errorText();
  ASSERT_EQ(port.hostGroups.size(), 3u);
  EXPECT_EQ(port.hostGroups[1].hostGroupName, "hg db 01");
  EXPECT_EQ(port.hostGroups[2].hostGroupName, "db412345");
  EXPECT_EQ(port.hostGroups[1].wwns, (std::vector<std::string>{"210000e08b0256f8"}));
  EXPECT_TRUE(port.hostGroups[2].wwns.empty()) << "collection stops at the holder";
  EXPECT_EQ(sim.journal("raidcom", "get hba_wwn").size(), 2u);

  // Only the job's own resource group.
  bed.options.resourceGroup = "VSM_A";
  ASSERT_EQ(impl.getPortHostGroupList("CL1-A", "", port, false, "", true), 0) << bed.errorText();
  ASSERT_EQ(port.hostGroups.size(), 1u);
  EXPECT_EQ(port.hostGroups[0].hostGroupId, "3");
  EXPECT_EQ(port.hostGroups[0].hostGroupName, "vsm group");

  HDSHostGroupInfo info;
  ASSERT_EQ(impl.getHostGroupInfo("CL1-A", "2", info), 0) << bed.errorText();
  EXPECT_EQ(info.hostGroupName, "db412345");
  EXPECT_EQ(info.wwns, (std::vector<std::string>{"210000e08b0256f9"}));
}

TEST(PortSimulator, HostGroupOfTheCommandDevice) {
  HDSDiscoveryTestBed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  const std::string serial = HDSDiscoveryTestBed::kSerial;
  sim.addCommandDevice("/dev/sdc", serial, 2047);
  sim.addPort(serial, "CL2-B", "50060e8007dd3311");
  sim.addHostGroup(serial, "CL2-B", 4, "cmd hg");
  sim.addLun(serial, "CL2-B", 4, 0, 2047);
  ZRHDSRaidcomTestPeer::commandDevices(impl) = {"/dev/sdc"};
  std::string hg;
  ASSERT_EQ(impl.getHostGroupOfCommandDevice(hg), 0) << bed.errorText();
  EXPECT_EQ(hg, "CL2-B-4");
}

TEST(PortSimulator, TrailingBlanksAndCarriageReturnsDoNotShiftColumns) {
  HDSDiscoveryTestBed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  const std::string serial = HDSDiscoveryTestBed::kSerial;
  sim.addPort(serial, "CL1-A", "50060e8007dd3300");
  sim.addHostGroup(serial, "CL1-A", 1, "hg db 01");
  sim.addHostGroupWwn(serial, "CL1-A", 1, "210000e08b0256f8", "node1");
  for (const char* mode : {"trailingBlanks", "crlf"}) {
    SCOPED_TRACE(mode);
    sim.addFault(ccisim::Fault::garbleOutput("raidcom", "get host_grp", mode));
    sim.addFault(ccisim::Fault::garbleOutput("raidcom", "get hba_wwn", mode));
    HDSPortInfo port;
    ASSERT_EQ(impl.getPortHostGroupList("CL1-A", "", port, true, "", false), 0) << bed.errorText();
    ASSERT_EQ(port.hostGroups.size(), 1u);
    EXPECT_EQ(port.hostGroups[0].hostGroupId, "1");
    EXPECT_EQ(port.hostGroups[0].hostGroupName, "hg db 01");
    EXPECT_EQ(port.hostGroups[0].wwns, (std::vector<std::string>{"210000e08b0256f8"}));
    // The listings really were garbled.
    const std::string garbled = std::string(mode) == "crlf" ? "\r" : " ";
    EXPECT_NE(sim.journal("raidcom", "get hba_wwn").back().out.find("node1" + garbled),
              std::string::npos);
    EXPECT_NE(sim.journal("raidcom", "get host_grp").back().out.find("-" + garbled),
              std::string::npos);
  }
}

}  // namespace
