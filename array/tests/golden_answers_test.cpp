// The recorded answers of the real tools (testdata/cci-reference/) that are
// not column listings: LDEV blocks, the command status, raidqry, the CCI
// version, pairsyncwait waits, failing commands and change commands; and the
// coverage table every sample must have a row in.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "array/HDSParseHostGroup.h"
#include "array/HDSParseLdev.h"
#include "array/HDSParsePool.h"
#include "array/HDSParsePort.h"
#include "array/HDSParseReplication.h"
#include "array/HDSParseResourceGroup.h"
#include "array/HDSParseSnapshot.h"
#include "array/tests/support/HDSArrayTestBase.h"
#include "array/tests/support/HDSGoldenCoverage.h"

namespace {

using hdsgolden::Reader;
using hdsgolden::Verdict;
using R = HDSRecordingRunner;

// ---- Coverage ----------------------------------------------------------------

TEST(GoldenCoverage, EverySampleFolderHasExactlyOneRowAndEveryRowASample) {
  const std::vector<ZrReferenceSample> samples = zrReferenceSamples();
  ASSERT_FALSE(samples.empty()) << "no samples under " << zrReferenceDir();
  std::set<std::string> onDisk;
  for (const ZrReferenceSample& s : samples) onDisk.insert(s.id());
  std::set<std::string> listed;
  for (const hdsgolden::Coverage& c : hdsgolden::coverage()) {
    EXPECT_TRUE(listed.insert(c.id).second) << c.id << " listed twice";
    EXPECT_EQ(1u, onDisk.count(c.id)) << c.id << " is listed but is no sample";
    if (c.verdict != Verdict::kRead) {
      EXPECT_STRNE("", c.why) << c.id << ": a refusal or an unsent form says why";
    }
    EXPECT_EQ(c.verdict == Verdict::kNotSent, c.reader == Reader::kNone) << c.id;
  }
  for (const std::string& id : onDisk) {
    EXPECT_EQ(1u, listed.count(id)) << id << " has no row: say which reader meets it";
  }
}

// Every parser over every sample, whatever its form: nothing crashes, and a
// parser either reads the sample or refuses it.
TEST(GoldenCoverage, NoParserFailsOnAnySample) {
  for (const ZrReferenceSample& s : zrReferenceSamples()) {
    SCOPED_TRACE(s.id());
    for (const std::string* text : {&s.stdoutText, &s.stderrText}) {
      std::vector<HDSPoolInfo> pools;
      std::vector<HDSSnapshotGroupInfo> snaps;
      std::vector<HDSCopyGroup> groups;
      std::vector<HDSPairInfo> pairs;
      std::vector<HDSLunInfo> luns;
      std::vector<HDSHostGroupInfo> hostGroups;
      std::vector<HDSPortInfo> ports;
      std::vector<HDSLdevInfo> ldevs;
      std::map<std::string, ResourceGroupInfo> rgs;
      HDSHostGroupInfo hg;
      HDSPortInfo port;
      HDSRaidqryInfo info;
      std::string q, row, desc;
      bool err = false;
      // A refused answer adds nothing.
      auto refusedLeaves = [](bool ok, size_t size) { return ok || size == 0; };
      EXPECT_TRUE(refusedLeaves(hdsparse::parsePoolList(*text, pools).ok(), pools.size()));
      EXPECT_TRUE(refusedLeaves(hdsparse::parseSnapshotList(*text, snaps).ok(), snaps.size()));
      EXPECT_TRUE(
          refusedLeaves(hdsparse::parseCopyGroupList(*text, "", groups).ok(), groups.size()));
      EXPECT_TRUE(
          refusedLeaves(hdsparse::parseRemotePairList(*text, 1, true, pairs).ok(), pairs.size()));
      EXPECT_TRUE(refusedLeaves(hdsparse::parseLunList(*text, luns).ok(), luns.size()));
      EXPECT_TRUE(refusedLeaves(hdsparse::parseHostGroupList(*text, "63528", hostGroups).ok(),
                                hostGroups.size()));
      EXPECT_TRUE(refusedLeaves(hdsparse::parsePortListing(*text, ports).ok(), ports.size()));
      EXPECT_TRUE(refusedLeaves(hdsparse::parseHostGroupWwnList(*text, hg).ok(), hg.wwns.size()));
      EXPECT_TRUE(
          refusedLeaves(hdsparse::parsePortLoginList(*text, port).ok(), port.loginWwns.size()));
      EXPECT_TRUE(refusedLeaves(hdsparse::parseResourceGroupList(*text, rgs).ok(), rgs.size()));
      hdsparse::parseCommandDeviceHostGroup(*text, q);
      hdsparse::parseQMarkerNowait(*text, q);
      hdsparse::parsePairSyncWaitStatus(*text, q);
      hdsparse::parseGetLdevOutput(*text, ldevs, "");
      if (ZRHDSRaidcomTestPeer::parseCommandStatus(*text, err, desc, row) != 0) {
        EXPECT_FALSE(err);
      }
      ZRHDSRaidcomTestPeer::parseRaidqry(*text, info);
    }
  }
}

// The exit codes the plug-in judges by are those the reference lists.
TEST(GoldenCoverage, ExitCodesJudgedByAreTheReferencesOwn) {
  const std::string table = zrReferenceSample("exit_codes/3").stdoutText;
  EXPECT_NE(std::string::npos,
            table.find("EX_EWSTOT Timeout waiting for specified status " +
                       std::to_string(ZR_HDS_EXIT_STATUS_TIMEOUT) + "\n"));
}

class GoldenAnswers : public HDSArrayTestBase {
 protected:
  // A fresh implementer whose every command is answered by the sample.
  ZrReferenceSample replay(const std::string& id) {
    const ZrReferenceSample s = zrReferenceSample(id);
    EXPECT_EQ(s.id(), id);
    runner = HDSRecordingRunner();
    makeImpl();
    runner.fallback([s](const std::string&) { return hdsgolden::replyOf(s); });
    return s;
  }
  // Every id of the reader's coverage rows is among ids.
  static void expectCovered(Reader reader, const std::set<std::string>& ids) {
    for (const std::string& id : hdsgolden::idsOf(reader)) {
      EXPECT_EQ(1u, ids.count(id)) << id << " has no row in its golden table";
    }
  }
};

// ---- LDEV blocks -------------------------------------------------------------

std::string ldevLine(const HDSLdevInfo& l) {
  std::string paths;
  for (const HDSLunInfo& p : l.ports) {
    paths += (paths.empty() ? "" : ",") + p.port + "-" + p.hostGroupId + "-" + p.lun;
  }
  char attr[16];
  std::snprintf(attr, sizeof attr, "0x%x", static_cast<unsigned>(l.volAttr));
  return l.serial + "|" + l.ldevId + "|" + l.virtualLdevId + "|" + l.volType + "|" +
         std::to_string(l.capacityBlocks) + "|" + std::to_string(l.numPorts) + "|" + paths + "|" +
         l.poolId + "|" + attr + "|" + l.label + "|" + std::to_string(l.resourceGroupId) + "|" +
         std::to_string(l.mpBladeId);
}

TEST_F(GoldenAnswers, LdevBlocksReadAsTheTableSays) {
  // serial|ldev|virtual|type|capacity|ports|paths (port-GID-LUN)|pool|attr|label|RSGID|MP
  const struct {
    const char* id;
    const char* ldev;
    const char* serial;
    const char* want;  // empty: refused
  } rows[] = {
      // VOL_TYPE NOT DEFINED marks the LDEV undefined whatever VOL_ATTR says.
      {"get_ldev/10", "0", "210944",
       "210944|0||NOTDEFINED|2098560|3|CL3-A-41-42,CL8-B-20-8,CL6-A-10-25||0x1|test|0|0"},
      {"get_ldev/11", "0", "492015", ""},
      {"get_ldev/12", "3", "492015", ""},
      {"get_ldev/13", "6", "492015", ""},
      {"get_ldev/14", "13", "492015", ""},
      // Global virtualisation: asked by the physical LDEV and array.
      {"get_ldev/15", "600", "302594",
       "302594|600|577|OPEN-V-CVS|2181120|2|CL2-E-0-1,CL2-E-1-1||0x4|Oracle_data_1|0|2"},
      {"get_ldev/16", "160", "63502", "63502|160||OPEN-V|4385280|0|||0x20|Oracle_data_1|0|2"},
      {"get_ldev/17", "4368", "302614", "302614|4368||OPEN-V-CVS|16777216|0||0|0x104||0|0"},
      {"get_ldev/18", "1000", "64568",
       "64568|1000||OPEN-V-CVS|204800|2|CL1-A-0-0,CL5-B-0-1||0x84||0|2"},
      {"get_ldev/19", "4096", "64568", "64568|4096||REMOVING|0|0|||0x0||0|0"},
      {"get_ldev/20", "4096", "64568", "64568|4096||REMOVING|0|0|||0x0||0|0"},
      {"get_ldev/21", "577", "63502", ""},
      {"get_ldev/22", "577", "63502", ""},
      {"get_ldev_key_front_end/1", "577", "63502", ""},
      {"get_ldev_key_front_end/2", "0", "492015", ""},
      {"get_ldev_key_front_end/3", "0", "492015", ""},
  };
  std::set<std::string> ids;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.id);
    ids.insert(r.id);
    replay(r.id);
    std::vector<HDSLdevInfo> ldevs(1);
    ldevs[0].ldevId = r.ldev;
    ldevs[0].serial = r.serial;
    const std::string want = r.want;
    ASSERT_EQ(want.empty() ? 1 : 0, impl->getLdevInfo(ldevs));
    if (want.empty()) {
      EXPECT_EQ(std::make_pair(62601, std::string("Failed to query LDEV info.")), error());
      EXPECT_EQ(r.ldev, ldevs[0].ldevId) << "the entry keeps what it was asked by";
    } else {
      EXPECT_EQ(want, ldevLine(ldevs[0]));
    }
  }
  expectCovered(Reader::kLdev, ids);
}

// Listings without any LDEV block are refused, never an empty list.
TEST_F(GoldenAnswers, AbbreviatedLdevListingsAreRefused) {
  const std::vector<std::string> ids = hdsgolden::idsOf(Reader::kLdevList);
  ASSERT_FALSE(ids.empty());
  for (const std::string& id : ids) {
    SCOPED_TRACE(id);
    replay(id);
    std::vector<HDSLdevInfo> ldevs;
    EXPECT_EQ(1, impl->getLdevList(ldevs, {{HDS_LDEV_FILTER_UNDEFINED, ""}}));
    EXPECT_TRUE(ldevs.empty());
    EXPECT_EQ(std::make_pair(62601, std::string("Failed to get the LDEV list form the array.")),
              error());
  }
}

// ---- The command status and raidqry ------------------------------------------

TEST(GoldenStatus, CommandStatusRowsReadAsTheTableSays) {
  const struct {
    const char* id;
    int result;
    bool hasError;
    const char* text;
  } rows[] = {
      {"get_command_status/1", 0, true, "The pool ID is not installed"},
      {"get_command_status/2", 1, false, ""},
      {"get_command_status/3", 0, false, ""},
  };
  std::set<std::string> ids;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.id);
    ids.insert(r.id);
    bool hasError = true;
    std::string text, row;
    EXPECT_EQ(r.result, ZRHDSRaidcomTestPeer::parseCommandStatus(
                            zrReferenceSample(r.id).stdoutText, hasError, text, row));
    EXPECT_EQ(r.hasError, hasError);
    EXPECT_EQ(r.text, text);
  }
  for (const std::string& id : hdsgolden::idsOf(Reader::kCommandStatus)) {
    EXPECT_EQ(1u, ids.count(id)) << id;
  }
}

TEST(GoldenStatus, RaidqryFirstRowsReadAsTheTableSays) {
  // Group|Hostname|HORCM_ver|Uid|Serial#|Micro_ver|Cache(MB); empty: refused.
  const struct {
    const char* id;
    const char* want;
  } rows[] = {
      {"raidqry/1", "---|HOSTA|01-22-03/06|0|30053|50-04-00/00|256"},
      {"raidqry/3", ""},
      {"raidqry/4", "oradb|HOSTA|01-22-03/06|0|30053|50-04-00/00|256"},
      {"raidqry/5", ""},
      {"raidqry/6", ""},
  };
  std::set<std::string> ids;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.id);
    ids.insert(r.id);
    HDSRaidqryInfo i;
    const bool read = ZRHDSRaidcomTestPeer::parseRaidqry(zrReferenceSample(r.id).stdoutText, i);
    ASSERT_EQ(std::string(r.want).empty(), !read);
    if (read) {
      EXPECT_EQ(r.want, i.column2 + "|" + i.hostName + "|" + i.column4 + "|" + i.column5 + "|" +
                            i.column6 + "|" + i.microVersion + "|" + std::to_string(i.column8));
    }
  }
  for (const std::string& id : hdsgolden::idsOf(Reader::kRaidqryList)) {
    EXPECT_EQ(1u, ids.count(id)) << id;
  }
}

TEST_F(GoldenAnswers, CciVersionIsTheElevenCharactersAfterVerAndRev) {
  const struct {
    const char* id;
    const char* version;
  } rows[] = {{"raidqry/7", "01-39-03/03"}, {"raidqry/8", "01-31-03/06"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.id);
    replay(r.id);
    Peer::setCCIVersion("");
    std::string v;
    EXPECT_EQ(0, Peer::getCCIVersionInstalled(*impl, v)) << error().second;
    EXPECT_EQ(r.version, v);
  }
  Peer::setCCIVersion("01-40-03/01");
  EXPECT_EQ(2u, hdsgolden::idsOf(Reader::kVersion).size());
}

// ---- pairsyncwait waits --------------------------------------------------------

TEST_F(GoldenAnswers, PairSyncWaitJudgesByTheExitCodeAndReadsTheStatus) {
  enum Outcome { kCommitted, kNotCommitted, kFailed };
  const struct {
    const char* id;
    const char* status;
    Outcome outcome;
  } rows[] = {
      {"pairsyncwait/2", "DONE", kCommitted},      {"pairsyncwait/3", "TIMEOUT", kNotCommitted},
      {"pairsyncwait/4", "DONE", kCommitted},      {"pairsyncwait/5", "BROKEN", kFailed},
      {"pairsyncwait/6", "CHANGED", kFailed},      {"pairsyncwait/9", "TIMEOUT", kNotCommitted},
  };
  std::set<std::string> ids;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.id);
    ids.insert(r.id);
    const ZrReferenceSample s = replay(r.id);
    std::string status;
    ASSERT_TRUE(hdsparse::parsePairSyncWaitStatus(s.stdoutText, status));
    EXPECT_EQ(r.status, status);
    bool committed = true;
    EXPECT_EQ(r.outcome == kFailed ? 1 : 0,
              impl->pairSyncWait("oradb", "01003408ef", 10, committed));
    EXPECT_EQ(r.outcome == kCommitted, committed);
    if (r.outcome != kCommitted) {
      EXPECT_EQ(62601, error().first);
    }
  }
  expectCovered(Reader::kPairSyncWait, ids);
}

// ---- Failing commands, change commands, the command-device search ------------

TEST_F(GoldenAnswers, AFailingExitFailsTheOperationThatMeetsIt) {
  const struct {
    const char* id;
    std::function<int(ZRHDSRaidcomImplementer&)> run;
    const char* text;
  } rows[] = {
      {"errors/11", [](ZRHDSRaidcomImplementer& i) { return i.deleteSvols("3"); },
       "Failed to delete LDEV-[3]"},
      // Not the "already defined" refusal: the map fails.
      {"errors/12", [](ZRHDSRaidcomImplementer& i) { return i.mapLdevToHostGroup("5", "CL1-A", "0"); },
       "Failed to map LDEV-[5] to the HostGroup-[CL1-A-0]"},
      {"errors/14",
       [](ZRHDSRaidcomImplementer& i) {
         std::vector<HDSLdevInfo> l(1);
         l[0].ldevId = "577";
         return i.getLdevInfo(l);
       },
       "Failed to query LDEV info."},
      {"errors/15",
       [](ZRHDSRaidcomImplementer& i) {
         std::vector<HDSPoolInfo> p;
         return i.getPoolList(p);
       },
       "Failed to get Pool list"},
  };
  std::set<std::string> ids;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.id);
    ids.insert(r.id);
    replay(r.id);
    EXPECT_EQ(1, r.run(*impl));
    EXPECT_EQ(std::make_pair(62601, std::string(r.text)), error());
  }
  expectCovered(Reader::kFailedCommand, ids);
}

TEST_F(GoldenAnswers, ChangeCommandsSucceedOnTheirRecordedAnswers) {
  const struct {
    const char* id;
    std::function<int(ZRHDSRaidcomImplementer&)> run;
  } rows[] = {
      {"raidcom_change_outputs/1",
       [](ZRHDSRaidcomImplementer& i) { return i.mapLdevToHostGroup("5", "CL1-A", "0"); }},
      {"raidcom_change_outputs/2",
       [](ZRHDSRaidcomImplementer& i) { return i.createHostGroup("CL1-A", "HBSD-0123456789abcdef"); }},
      {"horcm_and_login/3",
       [](ZRHDSRaidcomImplementer& i) {
         std::string out;
         int ec = 0;
         return ZRHDSRaidcomTestPeer::executeCommand(i, "raidcom  -login ", "USER01 PASS01", out,
                                                     ec) +
                ZRHDSRaidcomTestPeer::executeCommand(i, "raidcom ", " -logout -IM3532", out, ec);
       }},
  };
  std::set<std::string> ids;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.id);
    ids.insert(r.id);
    replay(r.id);
    EXPECT_EQ(0, r.run(*impl)) << error().second;
    EXPECT_EQ(0, error().first);
  }
  expectCovered(Reader::kChangeCommand, ids);
}

TEST_F(GoldenAnswers, FindCommandDeviceTakesTheDeviceAfterItsSerial) {
  replay("raidscan/9");
  options.baseSerialNum = "62496";
  Peer::commandDevices(*impl).clear();
  ASSERT_EQ(0, Peer::checkIfCommandDeviceExist(*impl)) << error().second;
  EXPECT_EQ(std::vector<std::string>{"\\\\.\\PhysicalDrive0"}, Peer::commandDevices(*impl));
  EXPECT_EQ(1u, hdsgolden::idsOf(Reader::kFindCommandDevice).size());
}

}  // namespace
