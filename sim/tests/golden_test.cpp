// The simulator against the recorded answers of the real tools
// (testdata/cci-reference): for each form the plug-in sends that has a
// sample, ccisim set up with the sample's objects answers with the same
// header words (letter case included), the same fields per row, the same
// streams and the same exit code. Column widths are not compared: they vary
// between tool versions. Every sample has a row in the table: compared, or
// named with the reason it is not (a form the plug-in never sends, a state
// the simulator does not model, an abbreviated fixture).
#include "sim/tests/ccisim_test_util.h"

#include "host/testing/ZrReferenceSamples.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>

using namespace ccisim;
using namespace ccisim_test;

namespace {

enum class Kind {
  kTable,          // header words, then every row field by field
  kBlocks,         // get ldev: the simulator's keys in the sample's order, same values
  kFixtureBlocks,  // get ldev of an abbreviated fixture: its keys in ours, same values
  kLines,          // every line as printed
  kPattern,        // every line, numbers aside
  kStreams,        // every command: both streams exactly
  kNotSent,        // not compared: a form the plug-in never sends
  kNotModelled,    // not compared: a state or layout the simulator does not model
  kAbbreviated,    // not compared: a fixture that leaves out what the layout needs
};

using Setup = std::function<void(Fixture&, const std::string& serial)>;

struct Golden {
  const char* id;
  Kind kind;
  // Not compared: why. Compared: what the skipped fields or keys hold.
  const char* why;
  std::string serial;
  Setup setup;
  std::vector<std::pair<std::string, std::string>> commands = {};  // tool, arguments
  std::set<size_t> skip = {};           // 0-based fields of data rows not modelled
  std::set<std::string> skipKeys = {};  // get ldev keys whose values are not modelled
  int sampleRows = -1;                  // rows of the sample the simulator reproduces
};

const char kInstIM[] = " -IM3532";
const char kInstIH[] = " -IH3532";

std::vector<std::string> words(const std::string& line) { return split(line); }

void hostGroup(Fixture& fx, const std::string& serial, const std::string& port, int gid,
               const std::string& name, const std::string& mode, const std::string& hmo,
               const std::string& iqn = "") {
  fx.addHostGroup(serial, port, gid, name);
  fx.setArray(serial, [&](Array& a) {
    HostGroup& g = a.ports[port].hostGroups[gid];
    g.mode = mode;
    g.hmoBits = hmo;
    if (!iqn.empty()) g.iqn = iqn;
  });
}

Ldev ldevOf(int id, uint64_t blocks, std::vector<std::string> attrs, const std::string& label = "",
            int mp = 0) {
  Ldev l;
  l.id = id;
  l.capacity = blocks;
  l.attrs = std::move(attrs);
  l.label = label;
  l.mpBlade = mp;
  return l;
}

void pool(Fixture& fx, const std::string& serial, int id, const char* status, int usage,
          const char* name, int volumes, int firstLdev, int threshold, const char* vcap,
          const char* type, const char* pm, const char* pt) {
  Pool p;
  p.id = id;
  p.status = status;
  p.usage = usage;
  p.name = name;
  p.volumes = volumes;
  p.firstLdev = firstLdev;
  p.threshold = threshold;
  p.vcap = vcap;
  p.type = type;
  p.pm = pm;
  p.pt = pt;
  fx.addPool(serial, p);
}

void copyGroup(Fixture& fx, const std::string& serial, const std::string& name,
               const std::vector<std::pair<std::string, std::string>>& ldevGroups) {
  CopyGroup g;
  g.name = name;
  g.ldevGroup = ldevGroups.front().first;
  g.mu = ldevGroups.front().second;
  g.jid = "-";
  for (size_t i = 1; i < ldevGroups.size(); ++i) {
    CopyGroup::LdevGroup d;
    d.name = ldevGroups[i].first;
    d.mu = ldevGroups[i].second;
    g.moreLdevGroups.push_back(d);
  }
  fx.addCopyGroup(serial, g);
}

// The pairs of LDEV 14536 of the reference's snapshot examples.
void snapExamples(Fixture& fx, const std::string& serial) {
  fx.setArray(serial, [](Array& a) { a.firstSnapMu = 1010; });
  fx.addSnapshotPair(serial, "snap1", 14536, 2);
  fx.addSnapshotPair(serial, "snap2", 14536, 2, "PAIR", true, 13000);
  fx.addSnapshotPair(serial, "snap3", 14536, 2);
}

void oradb(Fixture& fx, const std::string& serial, const std::function<void(CopyGroup&)>& change) {
  CopyGroup g;
  g.name = "oradb";
  g.ldevGroup = "oradb_dg";
  g.ctg = 3;
  g.qIssued = 0x01003408efULL;
  g.qCommitted = 0x01003408edULL;
  change(g);
  fx.addCopyGroup(serial, g);
}

const std::vector<Golden>& table() {
  static const std::vector<Golden> rows = {
      {"errors/11", Kind::kNotSent, "extend ldev", "", nullptr, {}},
      {"errors/12", Kind::kNotModelled,
       "a refusal of an unnamed port command (SSB 0xB980,0xB902); the simulator's refusals print "
       "the same three lines",
       "", nullptr, {}},
      {"errors/14", Kind::kNotSent, "get ldev -check_status_not ... -time", "", nullptr, {}},
      {"errors/15", Kind::kNotSent, "get ldev -check_status", "", nullptr, {}},
      {"exit_codes/3", Kind::kNotSent, "a table of message texts, not a command", "", nullptr, {}},
      {"get_command_status/1", Kind::kTable, "", "64034",
       [](Fixture& fx, const std::string& serial) {
         fx.update([&](State& s) {
           CommandStatus& st = s.status("cciuser", serial);
           st.errCnt = 4;
           st.ssb1 = "2E20";
           st.ssb2 = "6000";
           st.description = "The pool ID is not installed";
           st.handle = 0x7E30;
         });
       },
       {{"raidcom", std::string("get command_status") + kInstIM}}},
      {"get_command_status/2", Kind::kNotSent, "get command_status -request_id", "", nullptr, {}},
      {"get_command_status/3", Kind::kAbbreviated, "DUMMY header, no final line end", "", nullptr,
       {}},
      {"get_copy_grp/1", Kind::kTable, "", "64034",
       [](Fixture& fx, const std::string& serial) {
         copyGroup(fx, serial, "ora", {{"grp1", "0"}, {"grp2", "0"}});
       },
       {{"raidcom", std::string("get copy_grp") + kInstIM}}},
      {"get_copy_grp/2", Kind::kTable, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         copyGroup(fx, serial, "VSP-127.0.0.14920150C90", {{"VSP-127.0.0.14920150C90P", "0"}});
         copyGroup(fx, serial, "VSP-127.0.0.14920150C91",
                   {{"VSP-127.0.0.14920150C91P", "0"}, {"VSP-127.0.0.14920150C91S", "-"}});
       },
       {{"raidcom", std::string("get copy_grp -s 492015") + kInstIM}}},
      {"get_copy_grp/3", Kind::kTable, "", "492015", nullptr,
       {{"raidcom", std::string("get copy_grp") + kInstIM}}},
      {"get_copy_grp/4", Kind::kAbbreviated, "DUMMY header, serial None", "", nullptr, {}},
      {"get_hba_wwn/1", Kind::kTable, "", "63528",
       [](Fixture& fx, const std::string& serial) {
         fx.addPort(serial, "CL4-E", "50060e8005fa0f34");
         hostGroup(fx, serial, "CL4-E", 0, "Linux_x86", "LINUX/IRIX", "2 13");
         fx.addHostGroupWwn(serial, "CL4-E", 0, "210000e08b0256f8", "ORA_NODE0_CTL_0");
         fx.addHostGroupWwn(serial, "CL4-E", 0, "210000e08b039c15", "ORA_NODE1_CTL_0");
       },
       {{"raidcom", std::string("get hba_wwn -port CL4-E-0") + kInstIM}}},
      {"get_hba_wwn/2", Kind::kTable, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addPort(serial, "CL1-B", "50060e8005fa0f35");
         fx.addHostGroup(serial, "CL1-B", 0, "HBSD-0123456789abcdef");
         fx.addHostGroupWwn(serial, "CL1-B", 0, "0123456789abcdef");
       },
       {{"raidcom", std::string("get hba_wwn -port CL1-B-0 -s 492015") + kInstIM}}},
      {"get_hba_wwn/3", Kind::kTable, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addPort(serial, "CL1-A", "50060e8005fa0f36");
         fx.addHostGroup(serial, "CL1-A", 0, "HBSD-0123456789abcdef");
         fx.addHostGroupWwn(serial, "CL1-A", 0, "0123456789abcdef");
       },
       {{"raidcom", std::string("get hba_wwn -port CL1-A HBSD-0123456789abcdef") + kInstIM}}},
      {"get_hba_wwn/4", Kind::kAbbreviated, "DUMMY header, serial None", "", nullptr, {}},
      {"get_hba_wwn/5", Kind::kTable, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addPort(serial, "CL1-A", "", "ISCSI");
         fx.addHostGroup(serial, "CL1-A", 0, "HBSD-127.0.0.1");
         fx.addHostGroupWwn(serial, "CL1-A", 0, "iqn-initiator");
       },
       {{"raidcom", std::string("get hba_iscsi -port CL1-A HBSD-127.0.0.1") + kInstIM}}},
      {"get_host_grp/4", Kind::kTable, "", "63528",
       [](Fixture& fx, const std::string& serial) {
         fx.addPort(serial, "CL4-E", "50060e8005fa0f34");
         hostGroup(fx, serial, "CL4-E", 0, "Linux_x86", "LINUX/IRIX", "2 13");
         hostGroup(fx, serial, "CL4-E", 1, "Solaris", "SOLARIS", "2 22");
         hostGroup(fx, serial, "CL4-E", 2, "HP-UX", "HP-UX", "40");
         hostGroup(fx, serial, "CL4-E", 3, "Win_export", "WIN_EX", "7");
         hostGroup(fx, serial, "CL4-E", 5, "DEC", "TRU64", "14");
         hostGroup(fx, serial, "CL4-E", 6, "OpenVMS", "OVMS", "");
         hostGroup(fx, serial, "CL4-E", 254, "RMTEST", "LINUX", "7");
       },
       {{"raidcom", std::string("get host_grp -port CL4-E") + kInstIM}}},
      {"get_host_grp/5", Kind::kNotSent, "get host_grp -key host_grp", "", nullptr, {}},
      {"get_host_grp/6", Kind::kTable, "AMD (CHAP) not modelled", "63528",
       [](Fixture& fx, const std::string& serial) {
         fx.addPort(serial, "CL4-E", "", "ISCSI");
         hostGroup(fx, serial, "CL4-E", 0, "Linux_x86", "LINUX/IRIX", "2 13", "iqn.z1…");
         hostGroup(fx, serial, "CL4-E", 1, "Solaris", "SOLARIS", "2 22", "iqn.z2…");
         hostGroup(fx, serial, "CL4-E", 2, "HP-UX", "HP-UX", "40", "iqn.z3…");
       },
       {{"raidcom", std::string("get host_grp -port CL4-E") + kInstIM}},
       {4}},
      {"get_host_grp/7", Kind::kTable, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addPort(serial, "CL1-A", "50060e8005fa0f36");
         hostGroup(fx, serial, "CL1-A", 0, "HBSD-0123456789abcdef", "LINUX/IRIX", "91");
       },
       {{"raidcom", std::string("get host_grp -port CL1-A -s 492015") + kInstIM}}},
      {"get_host_grp/8", Kind::kTable, "AMD (BOTH) not modelled", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addPort(serial, "CL1-A", "", "ISCSI");
         hostGroup(fx, serial, "CL1-A", 0, "HBSD-127.0.0.1", "LINUX/IRIX", "83 91",
                   "iqn-initiator.hbsd-target");
       },
       {{"raidcom", std::string("get host_grp -port CL1-A") + kInstIM}},
       {4}},
      {"get_host_grp/9", Kind::kAbbreviated, "DUMMY header, serial None", "", nullptr, {}},
      {"get_ldev/10", Kind::kAbbreviated,
       "contradictory fixture: VOL_TYPE NOT DEFINED with ports, RAID data and a label", "",
       nullptr, {}},
      {"get_ldev/11", Kind::kFixtureBlocks, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addLdev(serial, ldevOf(0, 2097152, {"CVS", "HDP"}));
       },
       {{"raidcom", std::string("get ldev -ldev_id 0 -s 492015") + kInstIM}}},
      {"get_ldev/12", Kind::kFixtureBlocks, "STS (empty in the fixture)", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addLdev(serial, ldevOf(3, 2097152, {"CVS", "HDP"}));
       },
       {{"raidcom", std::string("get ldev -ldev_id 3 -s 492015") + kInstIM}},
       {},
       {"STS"}},
      {"get_ldev/13", Kind::kFixtureBlocks, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addLdev(serial, ldevOf(6, 2097152, {"CVS", "HDP"}));
         fx.addPort(serial, "CL1-A", "50060e8005fa0f36");
         fx.addHostGroup(serial, "CL1-A", 0, "HBSD-0123456789abcdef");
         fx.addLun(serial, "CL1-A", 0, 0, 6);
       },
       {{"raidcom", std::string("get ldev -ldev_id 6 -s 492015") + kInstIM}}},
      {"get_ldev/14", Kind::kFixtureBlocks, "STS (BLK, a blocked volume)", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addLdev(serial, ldevOf(13, 2097152, {"CVS", "MRCF", "HDP", "HDT"}));
         fx.addPort(serial, "CL1-A", "50060e8005fa0f36");
         fx.addHostGroup(serial, "CL1-A", 0, "g0");
         fx.addLun(serial, "CL1-A", 0, 0, 13);
       },
       {{"raidcom", std::string("get ldev -ldev_id 13 -s 492015") + kInstIM}},
       {},
       {"STS"}},
      {"get_ldev/15", Kind::kBlocks,
       "OPE_TYPE (QFMT), SSID; RSGID (the machine's group: 0 in the example, 1 here); asked by "
       "the physical id 600",
       "302594",
       [](Fixture& fx, const std::string& serial) {
         fx.addResourceGroup(serial, "gvm", 1, "63502", "R7");
         Ldev l = ldevOf(600, 2181120, {"CVS"}, "Oracle_data_1", 2);
         l.rsgid = 1;
         l.vid = 577;
         fx.addLdev(serial, l);
         fx.setArray(serial, [](Array& a) { a.globalVirtualization = true; });
         fx.addPort(serial, "CL2-E", "50060e8005fa0f20");
         fx.addHostGroup(serial, "CL2-E", 0, "Linux_X86");
         fx.addHostGroup(serial, "CL2-E", 1, "Solaris");
         fx.addLun(serial, "CL2-E", 0, 1, 600);
         fx.addLun(serial, "CL2-E", 1, 1, 600);
       },
       {{"raidcom", std::string("get ldev -ldev_id 600") + kInstIM}},
       {},
       {"OPE_TYPE", "SSID", "RSGID"}},
      {"get_ldev/16", Kind::kBlocks, "OPE_TYPE (QFMT), OPE_RATE (70), SSID", "63502",
       [](Fixture& fx, const std::string& serial) {
         Ldev l = ldevOf(160, 4385280, {"ELUN"}, "Oracle_data_1", 2);
         l.volType = "OPEN-V";
         fx.addLdev(serial, l);
       },
       {{"raidcom", std::string("get ldev -ldev_id 160") + kInstIM}},
       {},
       {"OPE_TYPE", "OPE_RATE", "SSID"}},
      {"get_ldev/17", Kind::kBlocks, "STS (BLK), SSID", "302614",
       [](Fixture& fx, const std::string& serial) {
         Ldev l = ldevOf(4368, 16777216, {"CVS", "HDP"});
         l.poolId = "0";
         fx.addLdev(serial, l);
       },
       {{"raidcom", std::string("get ldev -ldev_id 4368") + kInstIM}},
       {},
       {"STS", "SSID"}},
      {"get_ldev/18", Kind::kBlocks, "SSID", "64568",
       [](Fixture& fx, const std::string& serial) {
         fx.addLdev(serial, ldevOf(1000, 204800, {"CVS", "QS"}, "", 2));
         fx.addPort(serial, "CL1-A", "50060e8006fc3800");
         fx.addPort(serial, "CL5-B", "50060e8006fc3841");
         fx.addHostGroup(serial, "CL1-A", 0, "1A-G00");
         fx.addHostGroup(serial, "CL5-B", 0, "5B-G00");
         fx.addLun(serial, "CL1-A", 0, 0, 1000);
         fx.addLun(serial, "CL5-B", 0, 1, 1000);
       },
       {{"raidcom", std::string("get ldev -ldev_id 1000") + kInstIM}},
       {},
       {"SSID"}},
      {"get_ldev/19", Kind::kNotModelled, "an LDEV being deleted (VOL_TYPE REMOVING)", "", nullptr,
       {}},
      {"get_ldev/20", Kind::kNotModelled, "an LDEV being deleted (VOL_TYPE REMOVING)", "", nullptr,
       {}},
      {"get_ldev/21", Kind::kNotSent, "get ldev -check_status_not ... -time", "", nullptr, {}},
      {"get_ldev/22", Kind::kNotSent, "get ldev -check_status", "", nullptr, {}},
      {"get_ldev_key_front_end/1", Kind::kNotSent, "get ldev -key front_end", "", nullptr, {}},
      {"get_ldev_key_front_end/2", Kind::kNotSent, "get ldev -key front_end", "", nullptr, {}},
      {"get_ldev_key_front_end/3", Kind::kNotSent, "get ldev -key front_end", "", nullptr, {}},
      {"get_ldev_list/1", Kind::kNotSent, "get ldev -ldev_list undefined", "", nullptr, {}},
      {"get_ldev_list/2", Kind::kNotSent, "get ldev -ldev_list undefined", "", nullptr, {}},
      {"get_ldev_list/3", Kind::kFixtureBlocks, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addLdev(serial, ldevOf(0, 2097152, {"CVS", "HDP"}));
       },
       {{"raidcom", std::string("get ldev -ldev_id 0 -cnt 2") + kInstIM}}},
      {"get_ldev_list/4", Kind::kAbbreviated, "lists one block for -cnt 2", "", nullptr, {}},
      {"get_lun/1", Kind::kTable, "", "63528",
       [](Fixture& fx, const std::string& serial) {
         fx.addLdev(serial, ldevOf(0, 96000, {"CVS", "CMD"}));
         fx.addPort(serial, "CL4-E", "50060e8005fa0f34");
         hostGroup(fx, serial, "CL4-E", 0, "Linux_x86", "LINUX/IRIX", "2 13");
         const int luns[][2] = {{0, 0}, {2, 2}, {3, 3}, {4, 4}, {5, 992}, {6, 993}};
         for (const auto& l : luns) fx.addLun(serial, "CL4-E", 0, l[0], l[1]);
       },
       {{"raidcom", std::string("get lun -port CL4-E-0") + kInstIM}}},
      {"get_lun/2", Kind::kNotSent, "get lun -key opt", "", nullptr, {}},
      {"get_lun/3", Kind::kNotSent, "get lun -key opt_page1", "", nullptr, {}},
      {"get_lun/4", Kind::kTable, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addPort(serial, "CL1-A", "50060e8005fa0f36");
         hostGroup(fx, serial, "CL1-A", 0, "g0", "LINUX/IRIX", "");
         const int luns[][2] = {{4, 4}, {254, 5}, {255, 6}};
         for (const auto& l : luns) fx.addLun(serial, "CL1-A", 0, l[0], l[1]);
       },
       {{"raidcom", std::string("get lun -port CL1-A-0 -s 492015") + kInstIM}}},
      {"get_lun/5", Kind::kAbbreviated, "DUMMY header, serial None", "", nullptr, {}},
      {"get_pool_key_opt/1", Kind::kTable, "", "62500",
       [](Fixture& fx, const std::string& serial) {
         pool(fx, serial, 1, "POLN", 10, "my_aou_pool", 2, 265, 80, "65500", "OPEN", "S", "HDP");
         pool(fx, serial, 2, "POLF", 95, "New_Pool_2", 3, 270, 70, "65534", "OPEN", "S", "HDP");
         pool(fx, serial, 3, "POLS", 100, "my_ss_pool", 1, 275, 70, "-", "OPEN", "N", "TI");
         pool(fx, serial, 4, "POLN", 0, "New_Pool_4", 2, 280, 80, "- 0", "M/F", "N", "CW");
         pool(fx, serial, 5, "POLE", 0, "New_Pool_5", 4, 0, 80, "100", "M/F", "S", "DM");
       },
       {{"raidcom", std::string("get pool -key opt") + kInstIM}}},
      {"get_pool_key_opt/2", Kind::kNotSent, "get pool without -key opt", "", nullptr, {}},
      {"get_pool_key_opt/3", Kind::kTable, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         pool(fx, serial, 30, "POLM", 30, "VSPPOOL", 1, 10000, 80, "-", "OPEN", "N", "HDP");
       },
       {{"raidcom", std::string("get pool -key opt -s 492015") + kInstIM}}},
      {"get_pool_key_opt/4", Kind::kNotSent, "get dp_pool", "", nullptr, {}},
      {"get_port/1", Kind::kTable,
       "ATTR SPD LPID FAB CONN SSW; Serial# (one row of the example names another array)",
       "64568",
       [](Fixture& fx, const std::string& serial) {
         const char* ports[][3] = {
             {"CL1-A", "FIBRE", "50060e8006fc3800"}, {"CL1-B", "FIBRE", "50060e8006fc3801"},
             {"CL1-C", "FICON", "50060e8006fc3802"}, {"CL1-D", "FICON", "50060e8006fc3803"},
             {"CL2-A", "FIBRE", "50060e8006fc3810"}, {"CL2-B", "FIBRE", "50060e8006fc3811"},
             {"CL2-C", "FICON", "50060e8006fc3812"}, {"CL2-D", "FICON", "50060e8006fc3813"},
             {"CL3-A", "FIBRE", "50060e8006fc3820"}, {"CL3-B", "FIBRE", "50060e8006fc3821"},
             {"CL3-J", "ISCSI", ""},                 {"CL4-A", "HNASS", ""},
             {"CL4-B", "HNASU", ""}};
         for (const auto& p : ports) fx.addPort(serial, p[0], p[2], p[1]);
       },
       {{"raidcom", std::string("get port") + kInstIM}},
       {2, 3, 4, 5, 6, 7, 9}},
      {"get_port/2", Kind::kTable, "ATTR SPD LPID FAB CONN SSW", "64568",
       [](Fixture& fx, const std::string& serial) {
         fx.addPort(serial, "CL1-A", "50060e8006fc3800");
         fx.addPort(serial, "CL1-B", "50060e8006fc3801");
         fx.addPort(serial, "CL1-C", "50060e8006fc3802", "FICON");
         fx.addPort(serial, "CL1-D", "50060e8006fc3803", "FICON");
       },
       {{"raidcom", std::string("get port") + kInstIM}},
       {2, 3, 4, 5, 6, 7}},
      {"get_port/3", Kind::kTable, "the WWN nickname (last column)", "63528",
       [](Fixture& fx, const std::string& serial) {
         fx.addPort(serial, "CL4-E", "50060e8005fa0f34");
         fx.addLoginWwn(serial, "CL4-E", "210000e08b0256f8");
         fx.addLoginWwn(serial, "CL4-E", "210000e08b039c15");
       },
       {{"raidcom", std::string("get port -port CL4-E") + kInstIM}},
       {3}},
      {"get_port/4", Kind::kTable, "ATTR SPD LPID FAB CONN SSW", "492015",
       [](Fixture& fx, const std::string& serial) {
         for (const char* p : {"CL1-A", "CL1-B", "CL3-A", "CL3-B"})
           fx.addPort(serial, p, "0123456789abcdef");
       },
       {{"raidcom", std::string("get port -s 492015") + kInstIM}},
       {2, 3, 4, 5, 6, 7}},
      {"get_port/5", Kind::kAbbreviated, "DUMMY header, serial None", "", nullptr, {}},
      {"get_port/6", Kind::kAbbreviated, "DUMMY header, serial None", "", nullptr, {}},
      {"get_port/7", Kind::kNotSent, "get port -port <port> -key opt", "", nullptr, {}},
      {"get_resource/3", Kind::kTable, "", "64568",
       [](Fixture& fx, const std::string& serial) {
         fx.addResourceGroup(serial, "RSG_CLI1", 1);
         fx.addResourceGroup(serial, "RSG_CLI2", 2);
       },
       {{"raidcom", std::string("get resource") + kInstIM}}},
      {"get_resource/4", Kind::kTable, "", "64556", nullptr,
       {{"raidcom", std::string("get resource") + kInstIM}}},
      {"get_resource/5", Kind::kTable, "", "302624",
       [](Fixture& fx, const std::string& serial) {
         fx.setArray(serial, [](Array& a) { a.model = "R8"; });
         fx.addResourceGroup(serial, "USP_002", 1, "64035", "R5");
       },
       {{"raidcom", std::string("get resource -key opt") + kInstIM}}},
      {"get_snapshot/16", Kind::kTable, "", "85000098",
       [](Fixture& fx, const std::string& serial) {
         snapExamples(fx, serial);
         fx.addSnapshotPair(serial, "snap2", 14537, 2, "PAIR", true);
       },
       {{"raidcom", std::string("get snapshot") + kInstIM}}},
      {"get_snapshot/17", Kind::kTable, "", "85000098", snapExamples,
       {{"raidcom", std::string("get snapshot -ldev_id 14536") + kInstIM}}},
      {"get_snapshot/18", Kind::kTable, "", "85000098", snapExamples,
       {{"raidcom", std::string("get snapshot -ldev_id 13000") + kInstIM}}},
      {"get_snapshot/19", Kind::kTable, "", "85000098",
       [](Fixture& fx, const std::string& serial) {
         fx.setArray(serial, [](Array& a) { a.firstSnapMu = 1011; });
         for (int i = 0; i < 3; ++i)
           fx.addSnapshotPair(serial, "snap2", 14536 + i, 2, "PAIR", true, 13000 + i);
       },
       {{"raidcom", std::string("get snapshot -snapshotgroup snap2") + kInstIM}}},
      {"get_snapshot/20", Kind::kNotSent, "get snapshot -format_time", "", nullptr, {}},
      {"get_snapshot/21", Kind::kTable, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addSnapshotPair(serial, "VSP-SNAP0", 4, 31, "PSUS", false, 8);
         fx.addSnapshotPair(serial, "VSP-SNAP0", 4, 31, "PSUS", false, 9);
         fx.setArray(serial, [](Array& a) {
           for (SnapPair& p : a.pairs) p.splitTime = 0x57db5cb0;
         });
       },
       {{"raidcom", std::string("get snapshot -ldev_id 4 -s 492015") + kInstIM}}},
      {"get_snapshot/22", Kind::kTable, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addSnapshotPair(serial, "VSP-SNAP0", 7, 31, "PSUS", false, 8);
         fx.setArray(serial, [](Array& a) { a.pairs[0].splitTime = 0x57db5cb0; });
       },
       {{"raidcom", std::string("get snapshot -ldev_id 8 -s 492015") + kInstIM}}},
      {"get_snapshot/23", Kind::kAbbreviated, "DUMMY header, serial None", "", nullptr, {}},
      {"horcm_and_login/3", Kind::kStreams, "", "412345",
       [](Fixture& fx, const std::string&) { fx.addUser("USER01", "PASS01"); },
       {{"raidcom", std::string("-login USER01 PASS01") + kInstIM},
        {"raidcom", std::string("-logout") + kInstIM},
        {"raidcom", "-login USER01 PASS01 -I3532"}}},
      {"pairdisplay/1", Kind::kNotSent, "pairdisplay", "", nullptr, {}},
      {"pairdisplay/2", Kind::kNotSent, "pairdisplay", "", nullptr, {}},
      {"pairdisplay/3", Kind::kNotSent, "pairdisplay", "", nullptr, {}},
      {"pairdisplay/4", Kind::kNotSent, "pairdisplay", "", nullptr, {}},
      {"pairsyncwait/1", Kind::kTable, "", "412345",
       [](Fixture& fx, const std::string& serial) { oradb(fx, serial, [](CopyGroup&) {}); },
       {{"pairsyncwait", std::string("-g oradb -nowait") + kInstIH}}},
      {"pairsyncwait/2", Kind::kTable, "Q-Num after a wait", "412345",
       [](Fixture& fx, const std::string& serial) { oradb(fx, serial, [](CopyGroup&) {}); },
       {{"pairsyncwait", std::string("-g oradb -t 100") + kInstIH}},
       {4}},
      {"pairsyncwait/3", Kind::kTable, "Q-Num after a wait", "412345",
       [](Fixture& fx, const std::string& serial) {
         oradb(fx, serial, [](CopyGroup& g) { g.commitAfterWaits = -1; });
       },
       {{"pairsyncwait", std::string("-g oradb -t 1") + kInstIH}},
       {4}},
      {"pairsyncwait/4", Kind::kTable, "Q-Num after a wait", "412345",
       [](Fixture& fx, const std::string& serial) { oradb(fx, serial, [](CopyGroup&) {}); },
       {{"pairsyncwait", std::string("-g oradb -t 100 -m 01003408ef") + kInstIH}},
       {4}},
      {"pairsyncwait/5", Kind::kTable, "Q-Num after a wait", "412345",
       [](Fixture& fx, const std::string& serial) {
         oradb(fx, serial, [](CopyGroup& g) { g.waitOutcome = "BROKEN"; });
       },
       {{"pairsyncwait", std::string("-g oradb -t 100") + kInstIH}},
       {4}},
      {"pairsyncwait/6", Kind::kTable, "Q-Num after a wait", "412345",
       [](Fixture& fx, const std::string& serial) {
         oradb(fx, serial, [](CopyGroup& g) { g.waitOutcome = "CHANGED"; });
       },
       {{"pairsyncwait", std::string("-g oradb -t 100 -m 01003408ef") + kInstIH}},
       {4}},
      {"pairsyncwait/7", Kind::kTable, "QM-Cnt", "412345",
       [](Fixture& fx, const std::string& serial) { oradb(fx, serial, [](CopyGroup&) {}); },
       {{"pairsyncwait", std::string("-g oradb -nowait -fq") + kInstIH}},
       {5}},
      {"pairsyncwait/8", Kind::kTable, "QM-Cnt", "412345",
       [](Fixture& fx, const std::string& serial) { oradb(fx, serial, [](CopyGroup&) {}); },
       {{"pairsyncwait", std::string("-g oradb -nowait -m 01003408e0 -fq") + kInstIH}},
       {5}},
      {"pairsyncwait/9", Kind::kTable, "Q-Num and QM-Cnt after a wait", "412345",
       [](Fixture& fx, const std::string& serial) {
         oradb(fx, serial, [](CopyGroup& g) { g.commitAfterWaits = -1; });
       },
       {{"pairsyncwait", std::string("-g oradb -t 50 -fq") + kInstIH}},
       {4, 5}},
      {"raidcom_change_outputs/1", Kind::kPattern, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addLdev(serial, ldevOf(5, 2097152, {"CVS", "HDP"}));
         fx.addPort(serial, "CL1-A", "50060e8005fa0f36");
         fx.addHostGroup(serial, "CL1-A", 0, "g0");
       },
       {{"raidcom", std::string("add lun -port CL1-A-0 -ldev_id 5") + kInstIM}}},
      {"raidcom_change_outputs/2", Kind::kPattern, "", "492015",
       [](Fixture& fx, const std::string& serial) {
         fx.addPort(serial, "CL1-A", "50060e8005fa0f36");
       },
       {{"raidcom", std::string("add host_grp -port CL1-A -host_grp_name HBSD-0123456789abcdef") +
                        kInstIM}}},
      {"raidqry/1", Kind::kTable, "", "30053",
       [](Fixture& fx, const std::string& serial) {
         fx.setCciVersion("01-22-03/06");
         fx.setArray(serial, [](Array& a) {
           a.micro = "50-04-00/00";
           a.cacheMB = 256;
         });
         fx.setInstanceRunning(3532, serial, "HOSTA");
       },
       {{"raidqry", std::string("-l") + kInstIM}},
       {},
       {},
       1},  // its second row, a second array behind the instance (Uid 1), is not modelled
      {"raidqry/3", Kind::kNotSent, "raidqry -lm", "", nullptr, {}},
      {"raidqry/4", Kind::kNotSent, "raidqry -r", "", nullptr, {}},
      {"raidqry/5", Kind::kNotSent, "raidqry -l -f", "", nullptr, {}},
      {"raidqry/6", Kind::kNotSent, "raidqry -g", "", nullptr, {}},
      {"raidqry/7", Kind::kLines, "", "412345",
       [](Fixture& fx, const std::string&) { fx.setCciVersion("01-39-03/03"); },
       {{"raidqry", "-h"}}},
      {"raidqry/8", Kind::kAbbreviated, "DUMMY instead of the first lines", "", nullptr, {}},
      {"raidscan/1", Kind::kNotSent,
       "the bare-port form (-p <port>, header Port#); the plug-in scans -p <port>-<gid>", "",
       nullptr, {}},
      {"raidscan/2", Kind::kTable, "Num (LUSE count), E-Seq# E-LDEV# (external volumes)",
       "62468",
       [](Fixture& fx, const std::string& serial) {
         fx.addPort(serial, "CL1-A", "50060e8005fa0f36");
         fx.addHostGroup(serial, "CL1-A", 0, "g0");
         fx.addLun(serial, "CL1-A", 0, 48, 256);
         fx.addLun(serial, "CL1-A", 0, 49, 272);
         fx.addLun(serial, "CL1-A", 0, 50, 288);
       },
       {{"raidscan", std::string("-p cl1-a-0 -fe -CLI") + kInstIH}},
       {6, 11, 12}},
      {"raidscan/3", Kind::kNotSent, "raidscan -l -fw", "", nullptr, {}},
      {"raidscan/4", Kind::kNotSent, "raidscan -l -fw", "", nullptr, {}},
      {"raidscan/5", Kind::kNotSent, "raidscan without -CLI", "", nullptr, {}},
      {"raidscan/6", Kind::kNotSent, "raidscan without -CLI", "", nullptr, {}},
      {"raidscan/7", Kind::kNotSent, "raidscan -find", "", nullptr, {}},
      {"raidscan/9", Kind::kNotSent, "raidscan -x findcmddev (never called)", "", nullptr, {}},
  };
  return rows;
}

// ---- comparisons -------------------------------------------------------------

struct KeyValue {
  std::string key;
  std::string value;  // blanks collapsed, ends trimmed
};
using Block = std::vector<KeyValue>;

std::string collapse(const std::string& text) {
  std::string out;
  for (const std::string& w : words(text)) out += (out.empty() ? "" : " ") + w;
  return out;
}

// The get ldev blocks of an output: a block begins at "Serial#", or at an
// "LDEV" line in a block that has one already (fixtures leave Serial# out).
std::vector<Block> blocks(const std::string& out) {
  std::vector<Block> v;
  for (const std::string& line : lines(out)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    KeyValue kv{collapse(line.substr(0, colon)), collapse(line.substr(colon + 1))};
    bool hasLdev = !v.empty() && std::any_of(v.back().begin(), v.back().end(),
                                             [](const KeyValue& k) { return k.key == "LDEV"; });
    if (v.empty() || kv.key == "Serial#" || (kv.key == "LDEV" && hasLdev)) v.emplace_back();
    v.back().push_back(kv);
  }
  return v;
}

const KeyValue* find(const Block& b, const std::string& key) {
  for (const KeyValue& kv : b)
    if (kv.key == key) return &kv;
  return nullptr;
}

// Ours: every key the simulator prints is one of the sample's, in its order,
// with its value; the keys the plug-in reads that the sample has, we have.
void compareBlock(const Block& sample, const Block& ours, const Golden& g) {
  size_t at = 0;
  for (const KeyValue& kv : ours) {
    size_t i = at;
    while (i < sample.size() && sample[i].key != kv.key) ++i;
    if (i == sample.size()) {
      ADD_FAILURE() << "key " << kv.key << " is not in the sample (or out of its order)";
      continue;
    }
    at = i + 1;
    if (!g.skipKeys.count(kv.key)) {
      EXPECT_EQ(sample[i].value, kv.value) << kv.key;
    }
  }
  for (const char* k : {"Serial#", "LDEV", "VOL_TYPE", "VOL_Capacity(BLK)", "PORTs", "B_POOLID",
                        "VOL_ATTR", "LDEV_NAMING", "RSGID", "NUM_PORT", "MP#"})
    if (find(sample, k)) {
      EXPECT_NE(nullptr, find(ours, k)) << "key the plug-in reads: " << k;
    }
}

// A fixture's block: each of its keys is ours, with its value.
void compareFixtureBlock(const Block& sample, const Block& ours, const Golden& g) {
  for (const KeyValue& kv : sample) {
    const KeyValue* mine = find(ours, kv.key);
    if (!mine) {
      ADD_FAILURE() << "key " << kv.key << " is missing";
      continue;
    }
    if (!g.skipKeys.count(kv.key)) {
      EXPECT_EQ(kv.value, mine->value) << kv.key;
    }
  }
}

void compareTable(const std::string& sample, const std::string& ours, const Golden& g) {
  std::vector<std::string> s = lines(sample), o = lines(ours);
  ASSERT_FALSE(s.empty());
  ASSERT_FALSE(o.empty()) << "no header";
  EXPECT_EQ(words(s[0]), words(o[0])) << "header words";
  size_t want = s.size() - 1;
  if (g.sampleRows >= 0) want = static_cast<size_t>(g.sampleRows);
  ASSERT_EQ(want, o.size() - 1) << ours;
  for (size_t r = 1; r <= want; ++r) {
    std::vector<std::string> sw = words(s[r]), ow = words(o[r]);
    ASSERT_EQ(sw.size(), ow.size()) << "row " << r << ": " << o[r];
    for (size_t f = 0; f < sw.size(); ++f)
      if (!g.skip.count(f)) {
        EXPECT_EQ(sw[f], ow[f]) << "row " << r << " field " << f;
      }
  }
}

// Numbers aside: "0(0x0)" and "12(0xc)" read alike.
std::string numbersAside(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "0x") == 0 && i + 2 < text.size() && std::isxdigit(text[i + 2])) {
      out += "0x#";
      i += 2;
      while (i + 1 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))) ++i;
    } else if (std::isdigit(static_cast<unsigned char>(text[i]))) {
      out += '#';
      while (i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// One simulated array as the sample's: its serial, a logged-in instance.
struct Bench {
  Fixture fx;
  explicit Bench(const std::string& serial) {
    fx.addUser("cciuser", "secret");
    fx.addArray(serial, "R9");
    fx.setInstanceRunning(kInst, serial);
    fx.setLoggedIn(kInst, "cciuser");
  }
};

bool compared(Kind k) {
  return k != Kind::kNotSent && k != Kind::kNotModelled && k != Kind::kAbbreviated;
}

TEST(Golden, EverySampleHasARowAndEveryRowASample) {
  std::set<std::string> inTable;
  for (const Golden& g : table()) {
    EXPECT_TRUE(inTable.insert(g.id).second) << "twice: " << g.id;
    if (!compared(g.kind)) {
      EXPECT_STRNE("", g.why) << g.id << ": say why it is not compared";
    } else {
      EXPECT_FALSE(g.commands.empty()) << g.id;
    }
  }
  std::vector<ZrReferenceSample> samples = zrReferenceSamples();
  ASSERT_FALSE(samples.empty()) << "no samples under " << zrReferenceDir();
  std::set<std::string> seen;
  for (const ZrReferenceSample& s : samples) {
    seen.insert(s.id());
    EXPECT_TRUE(inTable.count(s.id())) << "a sample without a row: " << s.id();
  }
  for (const std::string& id : inTable) EXPECT_TRUE(seen.count(id)) << "no such sample: " << id;
}

TEST(Golden, SimulatorAnswersAsTheRecordedTools) {
  int done = 0;
  for (const Golden& g : table()) {
    if (!compared(g.kind)) continue;
    SCOPED_TRACE(g.id);
    ZrReferenceSample sample = zrReferenceSample(g.id);
    ASSERT_FALSE(sample.form.empty()) << "missing sample";
    Bench bench(g.serial);
    if (g.setup) g.setup(bench.fx, g.serial);
    if (g.kind == Kind::kLines) ::setenv("HORCMINST", "200", 1);
    for (const auto& c : g.commands) {
      SCOPED_TRACE(c.first + " " + c.second);
      Outcome o = bench.fx.run(c.first, split(c.second));
      EXPECT_EQ(sample.exitCode, o.exitCode) << o.err;
      EXPECT_EQ(sample.stdoutText.empty(), o.out.empty()) << "standard output:\n" << o.out;
      EXPECT_EQ(sample.stderrText.empty(), o.err.empty()) << "standard error:\n" << o.err;
      switch (g.kind) {
        case Kind::kTable:
          compareTable(sample.stdoutText, o.out, g);
          break;
        case Kind::kBlocks:
        case Kind::kFixtureBlocks: {
          std::vector<Block> s = blocks(sample.stdoutText), mine = blocks(o.out);
          ASSERT_EQ(s.size(), mine.size());
          for (size_t i = 0; i < s.size(); ++i)
            g.kind == Kind::kBlocks ? compareBlock(s[i], mine[i], g)
                                    : compareFixtureBlock(s[i], mine[i], g);
          break;
        }
        case Kind::kLines:
          EXPECT_EQ(sample.stdoutText, o.out);
          break;
        case Kind::kPattern:
          EXPECT_EQ(numbersAside(sample.stdoutText), numbersAside(o.out));
          EXPECT_EQ(numbersAside(sample.stderrText), numbersAside(o.err));
          break;
        case Kind::kStreams:
          EXPECT_EQ(sample.stdoutText, o.out);
          EXPECT_EQ(sample.stderrText, o.err);
          break;
        default:
          break;
      }
    }
    ::unsetenv("HORCMINST");
    ++done;
  }
  EXPECT_GE(done, 50) << "forms compared";
}

}  // namespace
