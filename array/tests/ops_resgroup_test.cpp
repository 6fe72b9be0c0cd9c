// Resource groups: the listing parser over exact, simulator-rendered and
// hostile text; getResourceGroupInfo, getResourceGroupFromLdev, the lock and
// the four resource commands through a recording runner; and the same
// against the simulator's tools.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "array/HDSParseResourceGroup.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSDiscoveryTestBed.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"
#include "sim/ccisim_fixture.h"

namespace {

using Bed = HDSDiscoveryTestBed;
using R = HDSRecordingRunner;
using Groups = std::map<std::string, ResourceGroupInfo>;

const char kPlain[] =
    "RS_GROUP          RGID  stat      Lock_owner  Lock_host         Serial#\n"
    "meta_resource        0  Locked    cciuser     mahost01          412345\n"
    "VSM 1 group          1  Locked    admin       RMI User Program  412345\n"
    "gui                  2  Locked    maint       Storage Navigator 412345\n"
    "prog                 3  Locked    batch       User Program      4123456\n"
    "free                 4  Unlocked  -           -                 412345\n";

const char kKeyOpt[] =
    "RS_GROUP          RGID  V_Serial#  V_ID    V_IF  Serial#\n"
    "meta_resource        0  412345     M8S     Y     412345\n"
    "VSM_A                1  512345     M850M3  Y     412345\n";

struct Group {
  const char* name;
  int id;
  const char* status;
  const char* owner;
  const char* host;
  const char* serial;
};

void expectGroups(const Groups& got, const std::vector<Group>& want, const std::string& context) {
  ASSERT_EQ(got.size(), want.size()) << context;
  for (const Group& w : want) {
    SCOPED_TRACE(context + " group [" + w.name + "]");
    auto it = got.find(w.name);
    ASSERT_NE(it, got.end());
    EXPECT_EQ(it->second.resourceGroupId, w.id);
    EXPECT_EQ(it->second.lockStatus, w.status);
    EXPECT_EQ(it->second.lockOwner, w.owner);
    EXPECT_EQ(it->second.lockHost, w.host);
    EXPECT_EQ(it->second.serial, w.serial);
  }
}

const std::vector<Group> kPlainGroups = {
    {"meta_resource", 0, "Locked", "cciuser", "mahost01", "412345"},
    {"VSM 1 group", 1, "Locked", "admin", "RMI User Program", "412345"},
    {"gui", 2, "Locked", "maint", "Storage Navigator", "412345"},
    {"prog", 3, "Locked", "batch", "User Program", "412345"},
    {"free", 4, "Unlocked", "-", "-", "412345"},
};

// ---- parser ---------------------------------------------------------------------

TEST(ResourceGroupParser, ExactLayouts) {
  Groups g;
  EXPECT_EQ(hdsparse::parseResourceGroupList(kPlain, g).rows, 5u);
  expectGroups(g, kPlainGroups, "plain");
  Groups k;
  hdsparse::parseResourceGroupList(kKeyOpt, k);
  expectGroups(k,
               {{"meta_resource", 0, "412345", "M8S", "Y", "412345"},
                {"VSM_A", 1, "512345", "M850M3", "Y", "412345"}},
               "key option");
}

TEST(ResourceGroupParser, HostileText) {
  const std::string hdr = "RS_GROUP RGID stat Lock_owner Lock_host Serial#\n";
  const Group meta = {"meta_resource", 0, "Unlocked", "-", "-", "412345"};
  struct Case {
    const char* what;
    std::string text;
    std::vector<Group> groups;
  } cases[] = {
      {"empty", "", {}},
      {"header only", hdr, {}},
      {"no final newline: the last row is read",
       hdr + "x 1 Unlocked - - 412345\nmeta_resource 0 Unlocked - - 412345",
       {meta, {"x", 1, "Unlocked", "-", "-", "412345"}}},
      {"CRLF", hdr + "meta_resource 0 Unlocked - - 412345\r\n", {meta}},
      {"trailing blanks and tabs", hdr + "meta_resource 0 Unlocked - - 412345 \t \n", {meta}},
      {"leading blanks", hdr + "   meta_resource 0 Unlocked - - 412345\n", {meta}},
      {"tabs between columns", hdr + "meta_resource\t0\tUnlocked\t-\t-\t412345\n", {meta}},
      {"name of several words and blanks",
       hdr + "my  big group   7 Locked u h 412345\n",
       {{"my  big group", 7, "Locked", "u", "h", "412345"}}},
      {"name holding the serial",
       hdr + "412345 grp 412345 9 Unlocked - - 412345\n",
       {{"412345 grp 412345", 9, "Unlocked", "-", "-", "412345"}}},
      {"name ending in User before Program",
       hdr + "User 5 Locked u Program 412345\n",
       {{"User", 5, "Locked", "u", "Program", "412345"}}},
      {"lone Navigator host",
       hdr + "g 5 Locked u Navigator 412345\n",
       {{"g", 5, "Locked", "u", "Navigator", "412345"}}},
      {"serial of five and seven characters",
       hdr + "a 1 Unlocked - - 12345\nb 2 Unlocked - - 1234567\n",
       {{"a", 1, "Unlocked", "-", "-", "12345"}, {"b", 2, "Unlocked", "-", "-", "123456"}}},
      {"later row of the same name wins",
       hdr + "g 1 Locked u h 412345\ng 2 Unlocked - - 412345\n",
       {{"g", 2, "Unlocked", "-", "-", "412345"}}},
      {"rows too short are no groups",
       hdr + "0 Unlocked - - 412345\nUnlocked - - 412345\n412345\n\n",
       {}},
      {"id not a number reads like atoi",
       hdr + "g x1 Locked u h 412345\n",
       {{"g", 0, "Locked", "u", "h", "412345"}}},
  };
  for (const Case& c : cases) {
    Groups g;
    hdsparse::parseResourceGroupList(c.text, g);
    expectGroups(g, c.groups, c.what);
  }
}

TEST(ResourceGroupParser, HugeListingIsReadWhole) {
  std::string text = "RS_GROUP RGID stat Lock_owner Lock_host Serial#\n";
  const int kGroups = 50000;
  for (int i = 0; i < kGroups; ++i) {
    text += "group number " + std::to_string(i) + "  " + std::to_string(i) +
            (i % 2 ? "  Locked  u" + std::to_string(i) + "  RMI User Program  412345\n"
                   : "  Unlocked  -  -  412345\n");
  }
  Groups g;
  EXPECT_EQ(hdsparse::parseResourceGroupList(text, g).rows, static_cast<size_t>(kGroups));
  ASSERT_EQ(g.size(), static_cast<size_t>(kGroups));
  const ResourceGroupInfo& last = g["group number " + std::to_string(kGroups - 1)];
  EXPECT_EQ(last.resourceGroupId, kGroups - 1);
  EXPECT_EQ(last.lockOwner, "u" + std::to_string(kGroups - 1));
  EXPECT_EQ(last.lockHost, "RMI User Program");
  EXPECT_EQ(g["group number 0"].lockStatus, "Unlocked");
}

TEST(ResourceGroupParser, ReadsTheSimulatorsRendering) {
  ccisim::Array a;
  a.serial = "412345";
  a.model = "M850H";
  ccisim::ResourceGroup meta;
  meta.name = "meta_resource";
  meta.id = 0;
  meta.lockStatus = "Locked";
  meta.lockOwner = "cciuser";
  meta.lockHost = "RMI User Program";
  a.resourceGroups[meta.name] = meta;
  ccisim::ResourceGroup vsm;
  vsm.name = "VSM 2 for db";
  vsm.id = 12;
  vsm.vSerial = "512345";
  vsm.vModel = "M850M3";
  a.resourceGroups[vsm.name] = vsm;

  Groups g;
  hdsparse::parseResourceGroupList(ccisim::renderGetResource(a, false), g);
  expectGroups(g,
               {{"meta_resource", 0, "Locked", "cciuser", "RMI User Program", "412345"},
                {"VSM 2 for db", 12, "Unlocked", "-", "-", "412345"}},
               "plain");
  hdsparse::parseResourceGroupList(ccisim::renderGetResource(a, true), g);
  expectGroups(g,
               {{"meta_resource", 0, "412345", "M850H", "Y", "412345"},
                {"VSM 2 for db", 12, "512345", "M850M3", "Y", "412345"}},
               "key option (map not cleared by the parser: same names replaced)");
}

// ---- getResourceGroupInfo -------------------------------------------------------

TEST(GetResourceGroupInfo, PlainAndKeyOption) {
  Bed bed;
  bed.recorder.on(" -key opt ", R::ok(kKeyOpt));
  bed.recorder.on(" get resource ", R::ok(kPlain));
  Groups g;
  g["stale"] = ResourceGroupInfo();
  EXPECT_EQ(bed.recording().getResourceGroupInfo(g, false), 0);
  expectGroups(g, kPlainGroups, "plain");
  EXPECT_EQ(bed.recording().getResourceGroupInfo(g, true), 0);
  EXPECT_EQ(g.size(), 2u) << "cleared first";
  EXPECT_EQ(g["VSM_A"].lockOwner, "M850M3");
  EXPECT_EQ(bed.recorder.lines(),
            (std::vector<std::string>{Bed::raidcom("get resource  "),
                                      Bed::raidcom("get resource  -key opt  ")}));
}

TEST(GetResourceGroupInfo, KeyOptionNeedsANewerCci) {
  Bed bed;
  ZRHDSRaidcomTestPeer::setCCIVersion("01-31-03/01");
  Groups g;
  g["x"] = ResourceGroupInfo();
  EXPECT_EQ(bed.recording().getResourceGroupInfo(g, true), 1);
  ZRHDSRaidcomTestPeer::setCCIVersion("01-40-03/01");
  EXPECT_TRUE(g.empty());
  EXPECT_TRUE(bed.recorder.lines().empty());
  EXPECT_EQ(bed.errorText(), "Failed to get status of resource group-[meta_resource]");
  EXPECT_TRUE(bed.log.logged("The '-key opt' is not supported with CCI version-[01-31-03/01]"));
}

TEST(GetResourceGroupInfo, CommandFailure) {
  Bed bed;
  bed.options.resourceGroup = "RG 7";
  bed.recorder.on(" get resource ", R::exit(1));
  Groups g;
  EXPECT_EQ(bed.recording().getResourceGroupInfo(g, false), 1);
  EXPECT_EQ(bed.errorCode(), 62601);
  EXPECT_EQ(bed.errorText(), "Failed to get status of resource group-[RG 7]");
  EXPECT_TRUE(bed.log.logged("Failed to get resource group list"));
}

// ---- getResourceGroupFromLdev ---------------------------------------------------

ZRHDSSnapInfo sourceSnap() {
  ZRHDSSnapInfo s;
  s.baseSerialNo = "412345";
  s.baseDevNo = "256";
  s.vsmSerialNo = "512345";
  return s;
}

std::string ldevInGroup(int rsgid) {
  return "Serial#  : 412345\nLDEV : 256 VIR_LDEV : 10\nVOL_TYPE : OPEN-V-CVS\nRSGID : " +
         std::to_string(rsgid) + "\n";
}

TEST(GetResourceGroupFromLdev, OnlyOnAVirtualStorageMachine) {
  Bed bed;
  bed.snaps = {sourceSnap()};
  EXPECT_EQ(bed.recording().getResourceGroupFromLdev(), 0);
  EXPECT_TRUE(bed.recorder.lines().empty());
  EXPECT_EQ(bed.options.resourceGroup, "meta_resource");
}

TEST(GetResourceGroupFromLdev, TakesTheGroupOfTheSourceLdev) {
  Bed bed;
  bed.options.isVSM = true;
  bed.snaps = {sourceSnap()};
  bed.recorder.on(" get ldev ", R::ok(ldevInGroup(1)));
  bed.recorder.on(" get resource ", R::ok(kKeyOpt));
  EXPECT_EQ(bed.recording().getResourceGroupFromLdev(), 0) << bed.errorText();
  EXPECT_EQ(bed.options.resourceGroup, "VSM_A");
  EXPECT_EQ(bed.recorder.lines(),
            (std::vector<std::string>{Bed::raidcom("get ldev   -ldev_id 256"),
                                      Bed::raidcom("get resource  -key opt  ")}));
}

TEST(GetResourceGroupFromLdev, Failures) {
  const std::string notFound = "Unable to find resource group corresponging to source LDEV256";
  struct Case {
    const char* what;
    R::Reply ldev;
    R::Reply groups;
    const char* vsmSerial;
    const char* text;
    const char* log;
  } cases[] = {
      {"LDEV query fails", R::exit(1), R::ok(kKeyOpt), "512345", "Failed to query LDEV info.",
       "Failed to query info for LDEV-[256]"},
      {"group listing fails", R::ok(ldevInGroup(1)), R::exit(1), "512345",
       "Failed to get status of resource group-[meta_resource]",
       "Failed to get resource group list"},
      {"no group with that id", R::ok(ldevInGroup(9)), R::ok(kKeyOpt), "512345", notFound.c_str(),
       "Unable to find resource group corresponding to source LDEV RGID-[9]"},
      {"virtual serial agrees, physical serial does not", R::ok(ldevInGroup(1)),
       R::ok("RS_GROUP RGID V_Serial# V_ID V_IF Serial#\nVSM_A 1 512345 M850M3 Y 499999\n"),
       "512345", notFound.c_str(),
       "The Physical Array details got from Page E2 is inconsistent with the Resource Group "
       "Information."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bed bed;
    bed.options.isVSM = true;
    bed.snaps = {sourceSnap()};
    bed.snaps[0].vsmSerialNo = c.vsmSerial;
    bed.recorder.on(" get ldev ", c.ldev);
    bed.recorder.on(" get resource ", c.groups);
    EXPECT_EQ(bed.recording().getResourceGroupFromLdev(), 1);
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText(), c.text);
    EXPECT_TRUE(bed.log.logged(c.log)) << c.log;
    EXPECT_EQ(bed.options.resourceGroup, "meta_resource");
  }
  // Virtual serial differs: the group is taken without looking at serials.
  Bed bed;
  bed.options.isVSM = true;
  bed.snaps = {sourceSnap()};
  bed.snaps[0].vsmSerialNo = "600000";
  bed.recorder.on(" get ldev ", R::ok(ldevInGroup(1)));
  bed.recorder.on(
      " get resource ",
      R::ok("RS_GROUP RGID V_Serial# V_ID V_IF Serial#\nVSM_A 1 512345 M850M3 Y 499999\n"));
  EXPECT_EQ(bed.recording().getResourceGroupFromLdev(), 0);
  EXPECT_EQ(bed.options.resourceGroup, "VSM_A");

  Bed none;  // a job without a source is refused, not read past its end
  none.options.isVSM = true;
  EXPECT_EQ(none.recording().getResourceGroupFromLdev(), 1);
  EXPECT_TRUE(none.recorder.lines().empty());
}

// ---- lockUnlockResourceGroup ------------------------------------------------------

TEST(LockUnlockResourceGroup, CommandLines) {
  struct Case {
    const char* name;
    bool unlock;
    bool noName;
    std::string line;
    const char* log;
  } cases[] = {
      {"meta_resource", false, false,
       "/cci/raidcom lock resource  -resource_name meta_resource -time 30" + Bed::im(),
       "Acquired lock on the resource group-[meta_resource]"},
      {"meta_resource", true, false,
       "/cci/raidcom unlock resource  -resource_name meta_resource -time 30" + Bed::im(),
       "Released lock on the resource group-[meta_resource]"},
      {"VSM 1 group", false, false,
       "/cci/raidcom lock resource  -resource_name \"VSM 1 group\" -time 30" + Bed::im(),
       "Acquired lock on the resource group-[VSM 1 group]"},
      {"g;touch x", false, false,
       "/cci/raidcom lock resource  -resource_name \"g;touch x\" -time 30" + Bed::im(),
       "Acquired lock on the resource group-[g;touch x]"},
      {"$(id)", true, false,
       "/cci/raidcom unlock resource  -resource_name '$(id)' -time 30" + Bed::im(),
       "Released lock on the resource group-[$(id)]"},
      {"", false, true, "/cci/raidcom lock resource   -time 30" + Bed::im(),
       "Acquired lock on the resource group-[]"},
      {"ignored", true, true, "/cci/raidcom unlock resource   -time 30" + Bed::im(),
       "Released lock on the resource group-[ignored]"},
  };
  for (const Case& c : cases) {
    Bed bed;
    bed.recorder.on(" resource ", R::ok());
    EXPECT_EQ(bed.recording().lockUnlockResourceGroup(c.name, c.unlock, c.noName), 0);
    EXPECT_EQ(bed.recorder.lines(), (std::vector<std::string>{c.line}));
    EXPECT_TRUE(bed.log.logged(c.log)) << c.log;
  }
}

TEST(LockUnlockResourceGroup, TimeOutSettingAndFailures) {
  Bed bed;
  bed.recorder.on(" resource ", R::exit(227));
  ZRHDSRaidcomImplementer& impl = bed.recording();
  ZRHDSRaidcomTestPeer::setRaidcomTimeout(impl, 45);
  EXPECT_EQ(impl.lockUnlockResourceGroup("meta_resource", false, false), 1);
  EXPECT_EQ(bed.recorder.lines().back().find(" -time 45 "),
            bed.recorder.lines().back().find(" -time"));
  EXPECT_EQ(bed.errorText(), "Failed to lockResource Group-meta_resource");
  EXPECT_TRUE(bed.log.logged("Failed to [lock] the resource group-[meta_resource]"));
  EXPECT_EQ(impl.lockUnlockResourceGroup("meta_resource", true, false), 1);
  EXPECT_EQ(bed.errorText(), "Failed to unlockResource Group-meta_resource");
  EXPECT_EQ(bed.errorCode(), 62601);

  Bed empty;
  EXPECT_EQ(empty.recording().lockUnlockResourceGroup("", false, false), 1);
  EXPECT_TRUE(empty.recorder.lines().empty());
}

// ---- map, unmap, add, delete -----------------------------------------------------------

TEST(ResourceCommands, CommandLinesOfEveryKind) {
  const HDSResourceType ldev = HDS_RESOURCE_LDEV;
  const HDSResourceType dg = HDS_RESOURCE_DEVICE_GROUP;
  const HDSResourceType port = HDS_RESOURCE_PORT;
  Bed bed;
  bed.options.resourceGroup = "VSM 1";
  bed.recorder.on(" resource ", R::ok());
  ZRHDSRaidcomImplementer& impl = bed.recording();
  EXPECT_EQ(impl.mapToResourceGroup("256", "300", ldev), 0);
  EXPECT_EQ(impl.mapToResourceGroup("0004", "OPEN-V", dg), 0);
  EXPECT_EQ(impl.mapToResourceGroup("CL1-A", "CL5-B", port), 0);
  EXPECT_EQ(impl.unmapFromResourceGroup("256", "300", ldev), 0);
  EXPECT_EQ(impl.unmapFromResourceGroup("CL1-A", "CL5-B", port), 0);
  EXPECT_EQ(impl.addToResourceGroup("256", ldev), 0);
  EXPECT_EQ(impl.addToResourceGroup("DG 1", dg), 0);
  EXPECT_EQ(impl.addToResourceGroup("CL1-A", port), 0);
  EXPECT_EQ(impl.addToResourceGroup("CL1-A QB_PSHG 512345", port), 0);
  EXPECT_EQ(impl.addToResourceGroup("CL1-A-3", port), 0);
  EXPECT_EQ(impl.deleteFromResourceGroup("256", ldev), 0);
  EXPECT_EQ(impl.deleteFromResourceGroup("DG1", dg), 0);
  EXPECT_EQ(impl.deleteFromResourceGroup("CL1-A", port), 0);
  const std::string rg = "-resource_name \"VSM 1\"";
  EXPECT_EQ(bed.recorder.lines(),
            (std::vector<std::string>{
                Bed::raidcom("map resource   -ldev_id 256 -virtual_ldev_id 300"),
                Bed::raidcom("map resource   -ssid 0004 -emulation_type OPEN-V"),
                Bed::raidcom("map resource   -port CL1-A -virtual_port CL5-B"),
                Bed::raidcom("unmap resource   -ldev_id 256 -virtual_ldev_id 300"),
                Bed::raidcom("unmap resource   -port CL1-A -virtual_port CL5-B"),
                Bed::raidcom("add resource   " + rg + " -ldev_id 256"),
                Bed::raidcom("add resource   " + rg + " -device_grp_name \"DG 1\""),
                Bed::raidcom("add resource   " + rg + " -port CL1-A"),
                Bed::raidcom("add resource   " + rg + " -port CL1-A \"QB_PSHG 512345\""),
                Bed::raidcom("add resource   " + rg + " -port CL1-A-3"),
                Bed::raidcom("delete resource   " + rg + " -ldev_id 256"),
                Bed::raidcom("delete resource   " + rg + " -device_grp_name DG1"),
                Bed::raidcom("delete resource   " + rg + " -port CL1-A"),
            }));
  EXPECT_TRUE(bed.log.logged("Successfully arranged the resource-[256] in ResourceGroup-[VSM 1]"));
  EXPECT_TRUE(bed.log.logged(
      "Successfully cancelled the arrangement of the resource-[256] in ResourceGroup-[VSM 1]"));
  EXPECT_TRUE(bed.log.logged("Successfully added the resource-[256] in ResourceGroup-[VSM 1]"));
  EXPECT_TRUE(bed.log.logged("Successfully removed the resource-[256] from ResourceGroup-[VSM 1]"));
}

TEST(ResourceCommands, FailureTexts) {
  const HDSResourceType ldev = HDS_RESOURCE_LDEV;
  Bed bed;
  bed.options.resourceGroup = "RG2";
  bed.recorder.on(" resource ", R::exit(221));
  ZRHDSRaidcomImplementer& impl = bed.recording();
  struct Case {
    int result;
    const char* text;
    const char* log;
  } cases[] = {
      {impl.mapToResourceGroup("256", "300", ldev),
       "Failed to arrange the resource-[256] in ResourceGroup-[RG2]",
       "Failed to arrange the resource-[256] in ResourceGroup-[RG2]"},
      {impl.unmapFromResourceGroup("257", "300", ldev),
       "Failed to cancel the arrangement of the resource-[257] in ResourceGroup-[RG2]",
       "Failed to cancel the arrangement of the resource-[257] in ResourceGroup-[RG2]"},
      {impl.addToResourceGroup("258", ldev),
       "Failed to add the resource-[258] in ResourceGroup-[RG2]",
       "Failed to add the resource-[258] in ResourceGroup-[RG2]"},
      {impl.deleteFromResourceGroup("259", ldev),
       "Failed toremove the resource-[259] from ResourceGroup-[RG2]",
       "Failed to remove the resource-[259] from ResourceGroup-[RG2]"},
  };
  // The texts are those of the last call; each call's log stays.
  EXPECT_EQ(bed.errorText(), cases[3].text);
  for (const Case& c : cases) {
    EXPECT_EQ(c.result, 1);
    EXPECT_TRUE(bed.log.logged(c.log)) << c.log;
  }
  EXPECT_EQ(bed.errorCode(), 62601);
}

TEST(ResourceCommands, MalformedValuesAreRefused) {
  const HDSResourceType ldev = HDS_RESOURCE_LDEV;
  const HDSResourceType dg = HDS_RESOURCE_DEVICE_GROUP;
  const HDSResourceType port = HDS_RESOURCE_PORT;
  Bed bed;
  ZRHDSRaidcomImplementer& impl = bed.recording();
  EXPECT_EQ(impl.mapToResourceGroup("256", "", ldev), 1);
  EXPECT_EQ(impl.mapToResourceGroup("", "300", ldev), 1);
  EXPECT_EQ(impl.mapToResourceGroup("256", "3 00", ldev), 1);
  EXPECT_EQ(impl.mapToResourceGroup("00 4", "OPEN-V", dg), 1);
  EXPECT_EQ(impl.mapToResourceGroup("CL1-A", "", port), 1);
  EXPECT_EQ(impl.unmapFromResourceGroup("256", "", ldev), 1);
  EXPECT_EQ(impl.unmapFromResourceGroup("0004", "OPEN-V", dg), 1);
  EXPECT_EQ(impl.addToResourceGroup("", ldev), 1);
  EXPECT_EQ(impl.addToResourceGroup("", dg), 1);
  EXPECT_EQ(impl.addToResourceGroup(" hg", port), 1);
  EXPECT_EQ(impl.addToResourceGroup("CL1-A   ", port), 1);
  EXPECT_EQ(impl.deleteFromResourceGroup("12;rm", ldev), 1);
  EXPECT_EQ(impl.deleteFromResourceGroup("256", static_cast<HDSResourceType>(0)), 1);
  bed.options.resourceGroup = "";
  EXPECT_EQ(impl.addToResourceGroup("256", ldev), 1);
  EXPECT_TRUE(bed.recorder.lines().empty());
  EXPECT_EQ(bed.errorCode(), 62601);
  EXPECT_EQ(bed.errorText().rfind("Invalid input: ", 0), 0u);
}

// ---- against the simulator's tools -----------------------------------------------------

TEST(ResourceGroupSimulator, ListsLocksAndMovesAnLdev) {
  Bed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  sim.addResourceGroup(Bed::kSerial, "VSM 1 group", 1, "512345", "M850M3");
  sim.addResourceGroup(Bed::kSerial, "locked by gui", 2);
  sim.setForeignLock(Bed::kSerial, "locked by gui", "maint", "RMI User Program");
  sim.addSourceLdev(Bed::kSerial, 300, 4096);

  Groups g;
  ASSERT_EQ(impl.getResourceGroupInfo(g, false), 0) << bed.errorText();
  ASSERT_EQ(g.count("VSM 1 group"), 1u);
  EXPECT_EQ(g["VSM 1 group"].resourceGroupId, 1);
  EXPECT_EQ(g["locked by gui"].lockStatus, "Locked");
  EXPECT_EQ(g["locked by gui"].lockHost, "RMI User Program");
  EXPECT_EQ(g["locked by gui"].lockOwner, "maint");
  ASSERT_EQ(impl.getResourceGroupInfo(g, true), 0) << bed.errorText();
  EXPECT_EQ(g["VSM 1 group"].lockStatus, "512345");
  EXPECT_EQ(g["VSM 1 group"].lockOwner, "M850M3");
  EXPECT_EQ(g["meta_resource"].lockOwner, "M8S");

  ASSERT_EQ(impl.lockUnlockResourceGroup("VSM 1 group", false, false), 0) << bed.errorText();
  ASSERT_EQ(impl.getResourceGroupInfo(g, false), 0);
  EXPECT_EQ(g["VSM 1 group"].lockStatus, "Locked");
  EXPECT_EQ(g["VSM 1 group"].lockOwner, "cciuser");
  EXPECT_EQ(impl.lockUnlockResourceGroup("locked by gui", false, false), 1);
  EXPECT_EQ(bed.errorText(), "Failed to lockResource Group-locked by gui");

  bed.options.resourceGroup = "VSM 1 group";
  const HDSResourceType kind = HDS_RESOURCE_LDEV;
  ASSERT_EQ(impl.unmapFromResourceGroup("300", "300", kind), 0) << bed.errorText();
  ASSERT_EQ(impl.addToResourceGroup("300", kind), 0) << bed.errorText();
  ASSERT_EQ(impl.mapToResourceGroup("300", "77", kind), 0) << bed.errorText();
  ccisim::Ldev l = sim.load().array(Bed::kSerial)->ldev(300);
  EXPECT_EQ(l.rsgid, 1);
  EXPECT_EQ(l.vid, 77);

  bed.snaps = {sourceSnap()};
  bed.snaps[0].baseDevNo = "300";
  bed.options.isVSM = true;
  bed.options.resourceGroup = "meta_resource";
  ASSERT_EQ(impl.getResourceGroupFromLdev(), 0) << bed.errorText();
  EXPECT_EQ(bed.options.resourceGroup, "VSM 1 group");

  ASSERT_EQ(impl.unmapFromResourceGroup("300", "77", kind), 0) << bed.errorText();
  ASSERT_EQ(impl.deleteFromResourceGroup("300", kind), 0) << bed.errorText();
  EXPECT_EQ(impl.deleteFromResourceGroup("300", kind), 1) << "not in the group any more";
  ASSERT_EQ(impl.lockUnlockResourceGroup("VSM 1 group", true, false), 0) << bed.errorText();
  EXPECT_EQ(sim.load().array(Bed::kSerial)->ldev(300).rsgid, 0);
}

}  // namespace
