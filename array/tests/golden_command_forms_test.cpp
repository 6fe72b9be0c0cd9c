// Every command-line form the array layer can send, collected by driving its
// operations over a recording runner, and for each the recorded answer of
// the real tools that shows that form (testdata/cci-reference/), or none:
// such a form is unverified against the real tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "array/HDSParseLdev.h"
#include "array/tests/support/HDSArrayTestBase.h"
#include "host/testing/ZrReferenceSamples.h"

namespace {

using R = HDSRecordingRunner;

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> w;
  size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    size_t end = pos;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    if (end > pos) w.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  return w;
}

bool isOption(const std::string& w) { return w.size() > 1 && w[0] == '-'; }

// Option values that choose a form rather than name an object.
bool isKeyword(const std::string& w) {
  static const std::set<std::string> kKeywords = {
      "undefined", "unmapped", "mapped", "defined",  "quorum",   "opt",    "front_end", "pool",
      "create",    "resync",   "restore", "split",   "CTG",      "findcmddev"};
  return kKeywords.count(w) > 0;
}

// The form of a command line: the tool, raidcom's verb and object (the
// words before its first option), and its options (any order, each once)
// with the values that choose a form; instance and serial options and every
// other value left out. "/cci/raidcom  get ldev  -ldev_id 100 -IM3532 -s 412345" is
// "raidcom get ldev -ldev_id".
std::string formOf(const std::string& line) {
  std::vector<std::string> w = words(line);
  if (w.empty()) return "";
  std::string tool = w[0];
  if (tool.size() > 1 && (tool.front() == '\'' || tool.front() == '"')) tool = tool.substr(1);
  if (!tool.empty() && (tool.back() == '\'' || tool.back() == '"')) tool.pop_back();
  tool = tool.substr(tool.rfind('/') + 1);
  std::string head = tool;
  std::set<std::string> options;
  size_t i = 1;
  for (; i < w.size() && !isOption(w[i]); ++i) {
    if (tool == "raidcom") head += " " + w[i];
  }
  for (; i < w.size(); ++i) {
    const std::string& o = w[i];
    if (!isOption(o)) {
      if (isKeyword(o)) options.insert(o);
      continue;
    }
    if (o == "-s") {
      ++i;
      continue;
    }
    if (o.compare(0, 2, "-I") == 0) continue;
    std::string option = o;
    while (i + 1 < w.size() && !isOption(w[i + 1])) {
      if (isKeyword(w[i + 1])) option += " " + w[i + 1];
      ++i;
    }
    options.insert(option);
  }
  for (const std::string& o : options) head += " " + o;
  return head;
}

// The forms a sample's command line names: the source may join several
// with " / " and add a parenthesised note.
std::set<std::string> formsOfSample(const ZrReferenceSample& s) {
  std::set<std::string> forms;
  std::string cmd = s.cmd.substr(0, s.cmd.find(" ("));
  size_t pos = 0;
  while (pos <= cmd.size()) {
    size_t end = cmd.find(" / ", pos);
    if (end == std::string::npos) end = cmd.size();
    forms.insert(formOf(cmd.substr(pos, end - pos)));
    pos = end + 3;
  }
  return forms;
}

// ---- Driving every operation -------------------------------------------------

class CommandForms : public HDSArrayTestBase {
 protected:
  void SetUp() override {
    HDSArrayTestBase::SetUp();
    runner.fallback([](const std::string& line) { return answer(line); });
    snaps.resize(1);
    snaps[0].baseDevNo = "100";
    snaps[0].baseSerialNo = kSerial;
    snaps[0].snapLdevId = "200";
    snaps[0].capacity = 2097152;
    options.pool = "5";
    options.snapshotGroup = "QB_1";
  }

  // An answer under which every operation goes on to its later commands.
  static R::Reply answer(const std::string& line) {
    if (line.find(" get command_status ") != std::string::npos) {
      return R::ok("HANDLE SSB1 SSB2 ERR_CNT Serial# Description\n00c3 - - 0 412345 -\n");
    }
    if (line.find(" get resource ") != std::string::npos) {
      return R::ok(
          "RS_GROUP RGID V_Serial# V_ID V_IF Serial#\n"
          "meta_resource 0 412345 R8 Y 412345\nrg1 5 412345 R8 Y 412345\n");
    }
    const size_t at = line.find("-ldev_id ");
    if (line.find(" get ldev ") != std::string::npos && at != std::string::npos) {
      const std::string id = words(line.substr(at + 9)).front();
      return R::ok("Serial#  : 412345\nLDEV : " + id + " VIR_LDEV : " + id +
                   "\nVOL_TYPE : OPEN-V-CVS\nVOL_Capacity(BLK) : 2097152\nRSGID : 5\n");
    }
    if (line.find("raidqry  -h") != std::string::npos || line.find("raidqry   -h") != std::string::npos) {
      return R::ok("Ver&Rev: 01-40-03/01\n");
    }
    return R::ok("");
  }

  // Every form the operations sent, script lines included.
  std::set<std::string> sentForms() const {
    std::set<std::string> forms;
    for (const std::string& line : runner.lines()) {
      if (line.compare(0, 8, "/bin/sh ") != 0) forms.insert(formOf(line));
    }
    for (const std::string& script : runner.scripts()) {
      size_t pos = 0;
      while (pos < script.size()) {
        size_t nl = script.find('\n', pos);
        if (nl == std::string::npos) nl = script.size();
        const std::string line = script.substr(pos, nl - pos);
        pos = nl + 1;
        if (line.find("raidcom") != std::string::npos) {
          forms.insert(formOf(line.substr(0, line.find(" ||"))));
        }
      }
    }
    return forms;
  }

  void driveEverything();
};

void CommandForms::driveEverything() {
  ZRHDSRaidcomImplementer& i = *impl;
  std::vector<HDSLdevInfo> ldevs(1);
  ldevs[0].ldevId = "100";
  ldevs[0].serial = kSerial;
  i.getLdevInfo(ldevs);
  const std::vector<std::map<int, std::string>> filters = {
      {{HDS_LDEV_FILTER_UNDEFINED, ""}}, {{HDS_LDEV_FILTER_UNMAPPED, ""}},
      {{HDS_LDEV_FILTER_MAPPED, ""}},    {{HDS_LDEV_FILTER_DEFINED, ""}},
      {{HDS_LDEV_FILTER_QUORUM, ""}},    {{HDS_LDEV_FILTER_RANGE, "3"}},
      {{HDS_LDEV_FILTER_RANGE, "0-3f"}, {HDS_LDEV_FILTER_POOL, "5"}},
      {{HDS_LDEV_FILTER_UNDEFINED, ""}, {HDS_LDEV_FILTER_POOL, "5"},
       {HDS_LDEV_FILTER_RESOURCE, "5"}}};
  for (const auto& f : filters) {
    std::vector<HDSLdevInfo> listed;
    i.getLdevList(listed, f);
  }
  int maxLdev = 0;
  i.getMaxLdevNumber(maxLdev);

  std::map<std::string, ResourceGroupInfo> groups;
  i.getResourceGroupInfo(groups, false);
  i.getResourceGroupInfo(groups, true);
  for (bool unlock : {false, true}) {
    for (bool noName : {false, true}) i.lockUnlockResourceGroup("rg1", unlock, noName);
  }
  for (HDSResourceType kind : {HDSResourceType(1), HDSResourceType(2), HDSResourceType(3)}) {
    const std::string a = kind == 1 ? "200" : kind == 2 ? "DG1" : "CL1-A";
    const std::string b = kind == 1 ? "200" : kind == 2 ? "OPEN-V" : "CL1-A";
    i.mapToResourceGroup(a, b, kind);
    i.unmapFromResourceGroup(a, b, kind);
    i.addToResourceGroup(a, kind);
    i.deleteFromResourceGroup(a, kind);
  }

  options.resourceGroup = "rg1";
  options.isVSM = true;
  i.createSvols({});
  i.deleteSvols("200");
  runner.on(" add ldev ", R::exit(1, "", "raidcom: [EX_CMDRJE]"), 1);
  i.createSvols({});  // fails: its undo script runs
  i.modifySvolLabel(snaps, false);
  // Without the MP blade option (a setting) and without a pool.
  setSetting("nZRHDSDontUseMPBladeId", 1);
  options.pool.clear();
  i.createSvols({});
  options.pool = "5";
  i.createHostGroup("CL1-A", "QB_PRE_SNAP_HOST_GROUP");
  HDSPortInfo own;
  i.getPortHostGroupList("CL1-A", "", own, false, "", true);
  // A CCI without the key option of the resource listing.
  Peer::setCCIVersion("01-31-03/01");
  i.getPortHostGroupList("CL1-A", "", own, false, "", false);
  i.getMaxLdevNumber(maxLdev);
  Peer::setCCIVersion("01-40-03/01");
  options.resourceGroup = "meta_resource";
  options.isVSM = false;

  std::vector<HDSSnapshotGroupInfo> rows;
  i.getSnapshotGroupList(rows, "QB_1", false);
  i.getSnapshotGroupList(rows, "100", true);
  i.getSnapshotGroupList(rows, "", true);
  i.addToSnapshotGroup();
  options.useConsistencyGrp = true;
  i.addToSnapshotGroup();
  i.modifySnapshot({{"S_LDEV_NUM", "100"}}, "resync");
  i.modifySnapshot({{"SNAP_GRP", "QB_1"}}, "create");
  for (const char* word : {"restore", "split", "resync"})
    i.modifySnapshot({{"MU_NUM", "3"}, {"P_LDEV_NUM", "100"}}, word);
  i.deleteSnapshot("100", "3");
  i.mapSnapshot("100", "200", "3");
  i.unmapSnapshot("100", "3");

  std::vector<HDSPoolInfo> pools;
  i.getPoolList(pools);
  std::vector<HDSPairInfo> pairs;
  i.getRemotePairInfoForHostGroup("CL1-A-0", pairs);
  std::vector<HDSCopyGroup> copyGroups;
  i.getCopyGroup(copyGroups, "");
  std::string q;
  i.getQMarkerForCopyGroup("CG1", q);
  bool committed = false;
  i.pairSyncWait("CG1", "01003408ef", 10, committed);

  std::vector<HDSLunInfo> luns;
  i.getLunsForHostGroup("CL1-A", "5", luns);
  i.getLunsForHostGroup("CL1-A", "QB_PRE_SNAP_HOST_GROUP", luns);
  i.mapLdevToHostGroup("200", "CL1-A", "5");
  i.unmapLdevFromHostGroup("200", "CL1-A", "5");
  i.createHostGroup("CL1-A", "QB_PRE_SNAP_HOST_GROUP");
  i.deleteHostGroup("CL1-A", "5");
  i.deleteHostGroup("CL1-A", "QB_PRE_SNAP_HOST_GROUP");

  std::vector<HDSPortInfo> ports;
  i.getPortList(ports);
  HDSPortInfo port;
  i.getPortLoginWWNList("CL1-A", port);
  i.getPortHostGroupList("CL1-A", "", port, false, "", false);
  HDSHostGroupInfo hg;
  i.getHostGroupInfo("CL1-A", "5", hg);
  runner.on(" get hba_wwn ", R::exit(1, "", "raidcom: [EX_REQARG] iSCSI port\n"), 1);
  i.getHostGroupInfo("CL1-B", "5", hg);  // refused as Fibre Channel: asked as iSCSI
  std::string cmdDevHostGroup;
  Peer::commandDevices(i) = {"/dev/sdc"};
  i.getHostGroupOfCommandDevice(cmdDevHostGroup);

  Peer::setCCIVersion("");
  std::string version;
  Peer::getCCIVersionInstalled(i, version);
  Peer::setCCIVersion("01-40-03/01");
  HDSRaidqryInfo info;
  i.getCCIRaidqryInfo(info);
  Peer::checkIfCommandDeviceExist(i);
  Peer::horcmStart(i, nullptr);
  ASSERT_TRUE(zrWriteFile(etcDir() + "horcm3532.conf", Peer::horcmFileContent(i, 3532)));
  Peer::horcmShutdown(i, nullptr);
  i.login(true);
  setHolders(1);
  i.logout();
  bool hasError = false;
  std::string statusText;
  Peer::getCommandStatus(i, hasError, statusText);
}

// Each form the array layer sends, and the sample that shows it ("" for a
// form no recorded answer shows: unverified).
const std::map<std::string, std::string>& formTable() {
  static const std::map<std::string, std::string> table = {
      {"horcmshutdown.sh", ""},
      {"horcmstart.sh", ""},
      {"pairsyncwait -g -m -t", "pairsyncwait/4"},
      {"pairsyncwait -g -nowait -t", ""},
      {"raidcom -login", "horcm_and_login/3"},
      {"raidcom -logout", "horcm_and_login/3"},
      {"raidcom add host_grp -host_grp_name -port", "raidcom_change_outputs/2"},
      {"raidcom add ldev -capacity -ldev_id", ""},
      {"raidcom add ldev -capacity -ldev_id -mp_blade_id -pool", ""},
      {"raidcom add lun -ldev_id -port", "raidcom_change_outputs/1"},
      {"raidcom add resource -device_grp_name -resource_name", ""},
      {"raidcom add resource -ldev_id -resource_name", ""},
      {"raidcom add resource -port -resource_name", ""},
      {"raidcom add snapshot -ldev_id -pool -snap_mode CTG -snapshotgroup", ""},
      {"raidcom add snapshot -ldev_id -pool -snapshotgroup", ""},
      {"raidcom delete host_grp -port", ""},
      {"raidcom delete ldev -ldev_id", ""},
      {"raidcom delete lun -ldev_id -port", ""},
      {"raidcom delete resource -device_grp_name -resource_name", ""},
      {"raidcom delete resource -ldev_id -resource_name", ""},
      {"raidcom delete resource -port -resource_name", ""},
      {"raidcom delete snapshot -ldev_id -mirror_id", ""},
      {"raidcom get command_status", "get_command_status/1"},
      {"raidcom get copy_grp", "get_copy_grp/1"},
      {"raidcom get hba_iscsi -port", "get_hba_wwn/5"},
      {"raidcom get hba_wwn -port", "get_hba_wwn/1"},
      {"raidcom get host_grp -port", "get_host_grp/4"},
      {"raidcom get host_grp -port -resource", ""},
      {"raidcom get ldev -cnt -ldev_id", "get_ldev_list/3"},
      {"raidcom get ldev -cnt pool -ldev_id -pool_id", ""},
      {"raidcom get ldev -ldev_id", "get_ldev/15"},
      {"raidcom get ldev -ldev_list defined", ""},
      {"raidcom get ldev -ldev_list mapped", ""},
      {"raidcom get ldev -ldev_list quorum", ""},
      {"raidcom get ldev -ldev_list undefined", ""},
      {"raidcom get ldev -ldev_list undefined -pool_id -resource", ""},
      {"raidcom get ldev -ldev_list unmapped", ""},
      {"raidcom get lun -port", "get_lun/1"},
      {"raidcom get pool -key opt", "get_pool_key_opt/1"},
      {"raidcom get port", "get_port/1"},
      {"raidcom get port -port", "get_port/3"},
      {"raidcom get resource", "get_resource/3"},
      {"raidcom get resource -key opt", "get_resource/5"},
      {"raidcom get snapshot", "get_snapshot/16"},
      {"raidcom get snapshot -ldev_id", "get_snapshot/17"},
      {"raidcom get snapshot -snapshotgroup", "get_snapshot/19"},
      {"raidcom lock resource -resource_name -time", ""},
      {"raidcom lock resource -time", ""},
      {"raidcom map resource -emulation_type -ssid", ""},
      {"raidcom map resource -ldev_id -virtual_ldev_id", ""},
      {"raidcom map resource -port -virtual_port", ""},
      {"raidcom map snapshot -ldev_id -mirror_id", ""},
      {"raidcom modify ldev -ldev_id -ldev_name", ""},
      {"raidcom modify snapshot -ldev_id -mirror_id -snapshot_data restore", ""},
      {"raidcom modify snapshot -ldev_id -mirror_id -snapshot_data resync", ""},
      {"raidcom modify snapshot -ldev_id -mirror_id -snapshot_data split", ""},
      {"raidcom modify snapshot -ldev_id -snapshot_data resync", ""},
      {"raidcom modify snapshot -snapshot_data create -snapshotgroup", ""},
      {"raidcom reset command_status", ""},
      {"raidcom unlock resource -resource_name -time", ""},
      {"raidcom unlock resource -time", ""},
      {"raidcom unmap resource -ldev_id -virtual_ldev_id", ""},
      {"raidcom unmap resource -port -virtual_port", ""},
      {"raidcom unmap snapshot -ldev_id -mirror_id", ""},
      {"raidqry -h", "raidqry/7"},
      {"raidqry -l", "raidqry/1"},
      {"raidscan -CLI -m -p", ""},
      {"raidscan -CLI -pdg", ""},
      {"raidscan -x findcmddev", "raidscan/9"},
  };
  return table;
}

TEST_F(CommandForms, EveryFormSentIsInTheTableAndEveryTableFormIsSent) {
  driveEverything();
  const std::set<std::string> sent = sentForms();
  for (const std::string& f : sent) {
    EXPECT_EQ(1u, formTable().count(f)) << "a form the table does not list: " << f;
  }
  for (const auto& row : formTable()) {
    EXPECT_EQ(1u, sent.count(row.first)) << "the table lists a form no operation sends: "
                                         << row.first;
  }
}

TEST(CommandFormSamples, NamedSamplesShowTheFormAndUnverifiedFormsHaveNone) {
  const std::vector<ZrReferenceSample> samples = zrReferenceSamples();
  ASSERT_FALSE(samples.empty());
  std::map<std::string, std::set<std::string>> byForm;
  for (const ZrReferenceSample& s : samples) {
    for (const std::string& f : formsOfSample(s)) byForm[f].insert(s.id());
  }
  std::string unverified;
  for (const auto& row : formTable()) {
    if (row.second.empty()) {
      EXPECT_EQ(0u, byForm.count(row.first))
          << row.first << " is shown by " << *byForm[row.first].begin() << ": name it";
      unverified += "  " + row.first + "\n";
    } else {
      EXPECT_EQ(1u, byForm[row.first].count(row.second))
          << row.second << " does not show the form " << row.first;
    }
  }
  std::printf("Command-line forms without a recorded answer (unverified):\n%s",
              unverified.c_str());
}

}  // namespace
