// The renderers' layouts (the columns and blanks the plug-in's parsers rely
// on), the inquiry pages' byte offsets, the HORCM file, and the state text.
#include "sim/tests/ccisim_test_util.h"

#include <cstring>

using namespace ccisim;
using namespace ccisim_test;

namespace {

Array sampleArray() {
  Array a;
  a.serial = "412345";
  a.model = "M8S";
  ResourceGroup meta;
  meta.name = "meta_resource";
  a.resourceGroups[meta.name] = meta;
  ResourceGroup vsm;
  vsm.name = "VSM 1 group";
  vsm.id = 1;
  vsm.vSerial = "512345";
  vsm.vModel = "M850M3";
  vsm.lockStatus = "Locked";
  vsm.lockOwner = "admin";
  vsm.lockHost = "RMI User Program";
  a.resourceGroups[vsm.name] = vsm;
  Ldev l;
  l.id = 4096;
  l.defined = true;
  l.capacity = 2097152;
  l.attrs = {"CVS", "VVOL"};
  l.label = "QB_SVOL_db01";
  l.rsgid = 1;
  l.vid = 5000;
  l.mpBlade = 2;
  a.ldevs[l.id] = l;
  Ldev u;
  u.id = 4097;
  u.rsgid = 1;
  u.vid = kVidNone;
  a.ldevs[u.id] = u;
  Port p;
  p.name = "CL1-A";
  p.wwn = "50060e8007dd3300";
  HostGroup g1;
  g1.gid = 1;
  g1.name = "QB_PRE_SNAP_HOST_GROUP";
  g1.luns[3] = 4096;
  g1.wwns = {{"210000e08b0256f8", "-"}, {"210000e08b0256f9", "node2_p1"}};
  p.hostGroups[1] = g1;
  a.ports[p.name] = p;
  Port q;
  q.name = "CL2-B";
  q.wwn = "50060e8007dd3311";
  HostGroup g12;
  g12.gid = 12;
  g12.name = "hg db 01";
  g12.luns[0] = 4096;
  g12.hmoBits = "2 13";
  q.hostGroups[12] = g12;
  a.ports[q.name] = q;
  Pool tp;
  tp.id = 5;
  tp.name = "TIPOOL01";
  tp.usage = 12;
  a.pools[5] = tp;
  SnapPair s1;
  s1.group = "QB_12_5_1F_6571A2C0";
  s1.pvol = 256;
  s1.mu = 3;
  s1.poolId = 5;
  s1.state = "PSUS";
  s1.svol = 4096;
  s1.splitTime = 1702103232;
  a.pairs.push_back(s1);
  CopyGroup cg;
  cg.name = "CG_UR01";
  cg.ldevGroup = "DG_UR01";
  cg.ctg = 3;
  a.copyGroups[cg.name] = cg;
  return a;
}

TEST(Render, GetLdevBlocksExactly) {
  Array a = sampleArray();
  EXPECT_EQ(
      "Serial#  : 412345\n"
      "LDEV : 4096 VIR_LDEV : 5000\n"
      "SL : 0\n"
      "CL : 0\n"
      "VOL_TYPE : OPEN-V-CVS\n"
      "VOL_Capacity(BLK) : 2097152\n"
      "NUM_PORT : 2\n"
      "PORTs : CL1-A-1 3 QB_PRE_SNAP_HOST_GROUP : CL2-B-12 0 hg db 01\n"
      "F_POOLID : NONE\n"
      "VOL_ATTR : CVS : VVOL\n"
      "LDEV_NAMING : QB_SVOL_db01\n"
      "STS : NML\n"
      "OPE_TYPE : NONE\n"
      "OPE_RATE : 100\n"
      "MP# : 2\n"
      "SSID:0014\n"
      "RSGID : 1\n"
      "Serial#  : 412345\n"
      "LDEV : 4097 VIR_LDEV : 65534\n"
      "SL : -\n"
      "CL : -\n"
      "VOL_TYPE : NOT DEFINED\n"
      "SSID : -\n"
      "RSGID : 1\n",
      renderGetLdev(a, {4096, 4097}));
  EXPECT_NE(
      std::string::npos,
      renderGetLdev(a, {4097}, true).find("VOL_TYPE : NOT DEFINED\nVOL_ATTR : NOT DEFINED\n"));
  // Empty values carry no trailing blank.
  a.ldevs[4096].label.clear();
  a.ports.clear();
  std::string s = renderGetLdev(a, {4096});
  EXPECT_NE(std::string::npos, s.find("\nPORTs :\n"));
  EXPECT_NE(std::string::npos, s.find("\nLDEV_NAMING :\n"));
}

TEST(Render, TablesKeepTheirColumns) {
  Array a = sampleArray();
  // Resource listing read from the right: multi-word lock host, name with blanks.
  std::vector<std::string> res = lines(renderGetResource(a, false));
  ASSERT_EQ(3u, res.size());
  EXPECT_EQ("meta_resource     0  Unlocked  -           -                 412345", res[1]);
  EXPECT_EQ("VSM 1 group       1  Locked    admin       RMI User Program  412345", res[2]);
  std::vector<std::string> key = lines(renderGetResource(a, true));
  EXPECT_EQ((std::vector<std::string>{"VSM", "1", "group", "1", "512345", "M850M3", "Y", "412345"}),
            split(key[2]));
  EXPECT_EQ((std::vector<std::string>{"meta_resource", "0", "412345", "M8S", "Y", "412345"}),
            split(key[1]));

  std::vector<std::string> snap = lines(renderGetSnapshot(a, a.pairs));
  ASSERT_EQ(2u, snap.size());
  EXPECT_EQ((std::vector<std::string>{"QB_12_5_1F_6571A2C0", "P-VOL", "PSUS", "412345", "256", "3",
                                      "4096", "5", "100", "----", "657408c0"}),
            split(snap[1]))
      << "SPLT-TIME in lower-case hexadecimal (1702103232)";

  // The real tool's layout: rows right-aligned, so they begin with blanks.
  EXPECT_EQ(
      "UnitID   CTGID     Q-Marker     Status    Q-Num\n"
      "     0       3     01003408ee   NOWAIT        0\n",
      renderPairsyncwait(a.copyGroups["CG_UR01"], 0x01003408eeULL, "NOWAIT"));
  EXPECT_EQ(
      "UnitID   CTGID     Q-Marker     Status    Q-Num   QM-Cnt\n"
      "     0       3     01003408ef   DONE          0        0\n",
      renderPairsyncwait(a.copyGroups["CG_UR01"], 0x01003408efULL, "DONE", true));
  std::vector<std::string> lun = lines(renderGetLun(a, "CL2-B", 12));
  EXPECT_EQ((std::vector<std::string>{"CL2-B", "12", "LINUX/IRIX", "0", "1", "4096", "-", "412345",
                                      "2", "13"}),
            split(lun[1]));
  std::vector<std::string> hg = lines(renderGetHostGrp(a, "CL2-B", nullptr));
  EXPECT_EQ("CL2-B  12   hg db 01    412345   LINUX/IRIX  2 13", hg[1]);
  std::vector<std::string> wwn = lines(renderGetHbaWwn(a, "CL1-A", 1));
  ASSERT_EQ(3u, wwn.size());
  EXPECT_EQ((std::vector<std::string>{"CL1-A", "1", "QB_PRE_SNAP_HOST_GROUP", "210000e08b0256f9",
                                      "412345", "node2_p1"}),
            split(wwn[2]));
  std::vector<std::string> port = split(lines(renderGetPort(a))[1]);
  ASSERT_EQ(12u, port.size());
  EXPECT_EQ("412345", port[9]);
  EXPECT_EQ("50060e8007dd3300", port[10]);
  std::vector<std::string> pool = split(lines(renderGetPool(a))[1]);
  EXPECT_EQ((std::vector<std::string>{"005", "POLN", "12", "TIPOOL01"}),
            std::vector<std::string>(pool.begin(), pool.begin() + 4))
      << "pool ids with three digits";
  EXPECT_EQ("80", pool[7]);
  std::vector<std::string> pdg = lines(renderRaidscanPdg(a, 4096));
  ASSERT_EQ(3u, pdg.size());
  EXPECT_EQ(13u, split(pdg[1]).size());
  EXPECT_EQ("CL1-A-1", split(pdg[1])[0]);
}

// Every output ends with "\n", no line ends in a blank, and only the listing
// the real tool prints flush right (raidqry -l) begins rows with blanks.
TEST(Render, OutputInvariants) {
  Array a = sampleArray();
  State s;
  s.arrays[a.serial] = a;
  CommandStatus in;
  struct Row {
    std::string name, text;
    bool leadingBlanks;
  } rows[] = {
      {"ldev", renderGetLdev(a, {4096, 4097, 1}), false},
      {"resource", renderGetResource(a, false), false},
      {"resource key", renderGetResource(a, true), false},
      {"snapshot", renderGetSnapshot(a, a.pairs), false},
      {"pool", renderGetPool(a), false},
      {"raidqry -l", renderRaidqryList(s, {"412345"}, "mahost01"), true},
      {"raidqry -h", renderRaidqryHelp("01-40-03/01"), true},
      {"status", renderCommandStatus(in, "412345"), false},
      {"raidscan", renderRaidscanPort(a, "CL1-A", 1, 0), false},
      {"copy groups", renderCopyGroups(a), false},
      {"lun", renderGetLun(a, "CL1-A", 1), false},
      {"host groups", renderGetHostGrp(a, "CL1-A", nullptr), false},
      {"hba wwn", renderGetHbaWwn(a, "CL1-A", 1), false},
      {"ports", renderGetPort(a), false},
      {"port logins", renderGetPortLogins(a, "CL1-A"), false},
  };
  EXPECT_EQ("", renderGetSnapshot(a, {})) << "nothing selected: no header either";
  for (const Row& r : rows) {
    ASSERT_FALSE(r.text.empty()) << r.name;
    EXPECT_EQ('\n', r.text.back()) << r.name;
    std::vector<std::string> ls = lines(r.text);
    for (size_t i = 0; i < ls.size(); ++i) {
      const std::string& l = ls[i];
      if (l.empty()) continue;
      EXPECT_NE(' ', l.back()) << r.name << " line " << i;
      if (i > 0 && !r.leadingBlanks) {
        EXPECT_NE(' ', l.front()) << r.name << " line " << i;
      }
    }
  }
  std::vector<std::string> q = lines(renderRaidqryList(s, {"412345"}, "mahost01"));
  EXPECT_EQ(' ', q[1].front()) << "raidqry -l rows begin with blanks, as the real tool's";
}

TEST(Render, HorcmFileAsThePlugInWritesIt) {
  std::vector<std::string> l =
      lines(horcmFileText("mahost01", 3532, "412345", {"/dev/sdc", "/dev/sdd"}));
  ASSERT_EQ(9u, l.size());
  EXPECT_EQ("HORCM_MON", l[1]);
  EXPECT_EQ(73u, l[2].size());
  EXPECT_EQ("mahost01\t\t3532\t1000           3000", l[3]);
  EXPECT_EQ("", l[4]);
  EXPECT_EQ(56u, l[6].size());
  EXPECT_EQ("#\\\\.\\CMD-412345", l[7]);
  EXPECT_EQ("/dev/sdc /dev/sdd ", l[8]);
}

// Decodes a page the way the plug-in's inquiry does: fixed offsets, serial
// "50" + digit + five hex digits, LDEV number as hexadecimal text.
std::string field(const std::vector<uint8_t>& b, size_t off, size_t len) {
  std::string s(reinterpret_cast<const char*>(b.data()) + off, len);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}
std::string serialOf(const std::string& raw) {
  return std::to_string((raw[2] - '0') * 100000u +
                        std::strtoul(raw.substr(3, 5).c_str(), nullptr, 16));
}

TEST(Render, InquiryPagesAgreeWithTheArray) {
  Array a = sampleArray();
  Ldev src;
  src.id = 256;
  src.defined = true;
  a.ldevs[256] = src;
  Ldev cmd;
  cmd.id = 2047;
  cmd.defined = true;
  cmd.attrs = {"CVS", "CMD"};
  a.ldevs[2047] = cmd;

  std::vector<uint8_t> std256 = inquiryStandard(a, 256);
  ASSERT_EQ(255u, std256.size());
  EXPECT_EQ("HITACHI", field(std256, 8, 8));
  EXPECT_EQ("OPEN-V", field(std256, 16, 16));
  EXPECT_EQ("50403039", field(std256, 36, 8));
  EXPECT_EQ("412345", serialOf(field(std256, 36, 8)));
  EXPECT_EQ("0100", field(std256, 44, 4));
  EXPECT_EQ("OPEN-V-CM", field(inquiryStandard(a, 2047), 16, 16));
  EXPECT_EQ("07FF", field(inquiryStandard(a, 2047), 44, 4));

  // Inside the virtual storage machine: virtual serial and LDEV on the
  // standard page, physical ones on page E2.
  std::vector<uint8_t> v = inquiryStandard(a, 4096);
  EXPECT_EQ("512345", serialOf(field(v, 36, 8)));
  EXPECT_EQ("1388", field(v, 44, 4));  // 5000
  std::vector<uint8_t> e2 = inquiryE2(a, 4096);
  ASSERT_EQ(255u, e2.size());
  EXPECT_EQ(0xE2, e2[1]);
  EXPECT_EQ("412345", serialOf(field(e2, 40, 8)));
  EXPECT_EQ("1000", field(e2, 48, 4));  // 4096
  EXPECT_EQ("M8S", field(e2, 138, 4));
  EXPECT_EQ("50003039", encodeInquirySerial("12345")) << "five-digit serials: digit 0";
  EXPECT_EQ("12345", serialOf(encodeInquirySerial("12345")));
  EXPECT_EQ("999999", serialOf(encodeInquirySerial("999999")));
}

TEST(Render, FullLdevListingOfTheLargestModel) {
  Array a;
  a.serial = "412345";
  a.model = "R9";
  a.maxLdev = maxLdevForModel("R9");
  ASSERT_EQ(65279, a.maxLdev);
  std::vector<int> ids;
  for (int i = 0; i <= a.maxLdev; ++i) ids.push_back(i);
  std::string out = renderGetLdev(a, ids);
  size_t blocks = 0;
  for (size_t p = 0; (p = out.find("Serial#  : 412345\nLDEV : ", p)) != std::string::npos; ++p)
    ++blocks;
  EXPECT_EQ(65280u, blocks);
  EXPECT_NE(std::string::npos, out.find("LDEV : 65279\n"));
}

TEST(Render, ModelTable) {
  EXPECT_EQ(2047, maxLdevForModel("M8S"));
  EXPECT_EQ(49151, maxLdevForModel("M850M3F"));
  EXPECT_EQ(65279, maxLdevForModel("R9"));
  EXPECT_EQ(-1, maxLdevForModel("R800"));
}

TEST(StateText, RoundTripsHostileValues) {
  State s;
  s.etcDir = "/tmp/a b/etc/";
  s.users["u=1"] = "p a%ss,w\nord";
  s.commandDevices.push_back({"/dev/disk/by-id/x y", "412345", 2047});
  Instance in;
  in.number = 3532;
  in.running = true;
  in.serial = "412345";
  in.devices = {"/dev/sdc", "", "a,b"};
  s.instances[3532] = in;
  s.status("u=1", "412345").description = "[EX_CMDRJE] text, with = signs";
  s.arrays["412345"] = sampleArray();
  s.arrays["412345"].ldevs[4096].label = "lab:el with blanks";
  CopyGroup::LdevGroup side;
  side.name = "DG/S, side";
  s.arrays["412345"].copyGroups["CG_UR01"].moreLdevGroups = {side, {"DG_P2", "0", "5"}};
  s.arrays["412345"].pools[5].vcap = "- 0";
  Fault f = Fault::fail("raidcom", "add ldev", 221, "raidcom: [EX_CMDRJE] x\nCAUSE : y\n", -1);
  f.id = 7;
  s.faults.push_back(f);
  std::string text = serializeState(s);
  State back;
  std::string why;
  ASSERT_TRUE(parseState(text, back, &why)) << why;
  EXPECT_EQ(text, serializeState(back));
  EXPECT_EQ("p a%ss,w\nord", back.users["u=1"]);
  EXPECT_EQ((std::vector<std::string>{"/dev/sdc", "", "a,b"}), back.instances[3532].devices);
  EXPECT_EQ("lab:el with blanks", back.array("412345")->ldev(4096).label);
  const std::vector<CopyGroup::LdevGroup>& more =
      back.array("412345")->copyGroups["CG_UR01"].moreLdevGroups;
  ASSERT_EQ(2u, more.size());
  EXPECT_EQ("DG/S, side", more[0].name);
  EXPECT_EQ("-", more[0].mu);
  EXPECT_EQ("DG_P2", more[1].name);
  EXPECT_EQ("0", more[1].mu);
  EXPECT_EQ("5", more[1].jid);
  EXPECT_EQ("- 0", back.array("412345")->pools[5].vcap);
  EXPECT_EQ("RMI User Program", back.array("412345")->resourceGroups["VSM 1 group"].lockHost);
  EXPECT_EQ("raidcom: [EX_CMDRJE] x\nCAUSE : y\n", back.faults[0].err);
  EXPECT_FALSE(parseState("ldev serial=1 id=2\n", back, &why)) << "record of an unknown array";
  EXPECT_FALSE(parseState("sim tick\n", back, &why));
  EXPECT_FALSE(parseState("bogus x=1\n", back, &why));
}

}  // namespace
