// LDEV listing: the parser over exact, simulator-rendered and hostile text;
// getLdevInfo, getLdevList and getMaxLdevNumber through a recording runner
// (golden lines, every result and error text) and against the simulator's
// tools.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "array/HDSParseLdev.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSDiscoveryTestBed.h"
#include "array/tests/support/HDSRaidcomTestPeer.h"
#include "sim/ccisim_fixture.h"

namespace {

using Bed = HDSDiscoveryTestBed;
using Reply = HDSRecordingRunner::Reply;

const char kTwoBlocks[] =
    "Serial#  : 412345\n"
    "LDEV : 4096 VIR_LDEV : 5000\n"
    "SL : 0\n"
    "VOL_TYPE : OPEN-V-CVS\n"
    "VOL_Capacity(BLK) : 2097152\n"
    "NUM_PORT : 2\n"
    "PORTs : CL1-A-1 3 QB_PRE_SNAP_HOST_GROUP : CL2-B-12 0 hg db 01\n"
    "VOL_ATTR : CVS : VVOL\n"
    "B_POOLID : NONE\n"
    "LDEV_NAMING : QB_SVOL_db01\n"
    "MP# : 2\n"
    "SSID:001F\n"
    "RSGID : 1\n"
    "Serial#  : 412345\n"
    "LDEV : 4097\n"
    "VOL_TYPE : NOT DEFINED\n"
    "RSGID : 0\n";

struct Path {
  const char* port;
  const char* gid;
  const char* lun;
};

struct Want {
  const char* serial;
  const char* ldev;
  const char* vir;
  const char* type;
  uint64_t capacity;
  int numPorts;
  std::vector<Path> ports;
  const char* pool;
  int attr;
  const char* label;
  int rsgid;
  int mp;
};

void expectLdev(const HDSLdevInfo& got, const Want& w, const std::string& context) {
  SCOPED_TRACE(context);
  EXPECT_EQ(got.serial, w.serial);
  EXPECT_EQ(got.ldevId, w.ldev);
  EXPECT_EQ(got.virtualLdevId, w.vir);
  EXPECT_EQ(got.volType, w.type);
  EXPECT_EQ(got.capacityBlocks, w.capacity);
  EXPECT_EQ(got.numPorts, w.numPorts);
  ASSERT_EQ(got.ports.size(), w.ports.size());
  for (size_t i = 0; i < w.ports.size(); ++i) {
    EXPECT_EQ(got.ports[i].port, w.ports[i].port) << "path " << i;
    EXPECT_EQ(got.ports[i].hostGroupId, w.ports[i].gid) << "path " << i;
    EXPECT_EQ(got.ports[i].lun, w.ports[i].lun) << "path " << i;
    EXPECT_EQ(got.ports[i].hostMode, "");
    EXPECT_EQ(got.ports[i].ldevId, "");
  }
  EXPECT_EQ(got.poolId, w.pool);
  EXPECT_EQ(got.volAttr, w.attr);
  EXPECT_EQ(got.label, w.label);
  EXPECT_EQ(got.resourceGroupId, w.rsgid);
  EXPECT_EQ(got.mpBladeId, w.mp);
}

const Want kBlock4096 = {"412345",
                         "4096",
                         "5000",
                         "OPEN-V-CVS",
                         2097152,
                         2,
                         {{"CL1-A", "1", "3"}, {"CL2-B", "12", "0"}},
                         "NONE",
                         0x44,
                         "QB_SVOL_db01",
                         1,
                         2};
const Want kBlock4097 = {"412345", "4097", "", "NOTDEFINED", 0, 0, {}, "", 1, "", 0, 0};

std::vector<HDSLdevInfo> parse(const std::string& text, const std::string& label = "") {
  std::vector<HDSLdevInfo> out;
  hdsparse::parseGetLdevOutput(text, out, label);
  return out;
}

// ---- parser: exact layout ---------------------------------------------------

TEST(LdevParser, ExactLayoutOfTwoBlocks) {
  std::vector<HDSLdevInfo> out = parse(kTwoBlocks);
  ASSERT_EQ(out.size(), 2u);
  expectLdev(out[0], kBlock4096, "defined");
  expectLdev(out[1], kBlock4097, "undefined");
}

TEST(LdevParser, MemberFormAppendsAndAppliesTheLabelFilter) {
  std::vector<HDSLdevInfo> out(1);
  out[0].ldevId = "kept";
  EXPECT_EQ(ZRHDSRaidcomImplementer::parseGetLdevOutput(kTwoBlocks, out, {}), 1);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].ldevId, "kept");
  out.clear();
  std::map<int, std::string> filter{{HDS_LDEV_FILTER_LABEL, "QB_SVOL_db01"}};
  ZRHDSRaidcomImplementer::parseGetLdevOutput(kTwoBlocks, out, filter);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].ldevId, "4096");
}

TEST(LdevParser, KeysAndValues) {
  struct Case {
    const char* what;
    std::string block;
    const char* ldev;
    const char* vir;
    uint64_t capacity;
    int rsgid;
  } cases[] = {
      {"virtual id on the LDEV line", "LDEV : 256 VIR_LDEV : 65534\n", "256", "65534", 0, 0},
      {"no virtual id", "LDEV : 256\n", "256", "", 0, 0},
      {"VIR_LDEV without a value", "LDEV : 256 VIR_LDEV\n", "256", "", 0, 0},
      {"capacity beyond 32 bits", "VOL_Capacity(BLK) : 21474836480\n", "", "", 21474836480ULL, 0},
      {"capacity saturates instead of wrapping", "VOL_Capacity(BLK) : 99999999999999999999999\n",
       "", "", UINT64_MAX, 0},
      {"capacity not a number", "VOL_Capacity(BLK) : -\n", "", "", 0, 0},
      {"key padded and unpadded", "RSGID:7\n", "", "", 0, 7},
      {"keys are case-sensitive", "rsgid : 7\nLdev : 9\n", "", "", 0, 0},
      {"unknown and over-long keys are ignored", "VOL_Capacity(BLK)_EXTENDED : 5\nNEWKEY : 1\n", "",
       "", 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<HDSLdevInfo> out = parse("Serial# : 1\n" + c.block);
    ASSERT_EQ(out.size(), 1u) << c.what;
    EXPECT_EQ(out[0].ldevId, c.ldev) << c.what;
    EXPECT_EQ(out[0].virtualLdevId, c.vir) << c.what;
    EXPECT_EQ(out[0].capacityBlocks, c.capacity) << c.what;
    EXPECT_EQ(out[0].resourceGroupId, c.rsgid) << c.what;
  }
}

TEST(LdevParser, UndefinedWhetherOrNotAnAttributeLineSaysSo) {
  struct Case {
    const char* what;
    const char* lines;
    int attr;
  } cases[] = {
      {"type only (as the array prints it)", "VOL_TYPE : NOT DEFINED\n", 1},
      {"type and attribute", "VOL_TYPE : NOT DEFINED\nVOL_ATTR : NOT DEFINED\n", 1},
      {"attribute before the type", "VOL_ATTR : CVS : HDP\nVOL_TYPE : NOT DEFINED\n", 1},
      {"attribute only", "VOL_ATTR : NOT DEFINED\n", 1},
      {"defined", "VOL_TYPE : OPEN-V-CVS\nVOL_ATTR : CVS : HDP\n", 0x104},
      {"defined without attribute line", "VOL_TYPE : OPEN-V\n", 0},
  };
  for (const Case& c : cases) {
    std::vector<HDSLdevInfo> out = parse(std::string("Serial# : 1\nLDEV : 5\n") + c.lines);
    ASSERT_EQ(out.size(), 1u) << c.what;
    EXPECT_EQ(out[0].volAttr, c.attr) << c.what;
  }
}

TEST(LdevParser, VolumeAttributeBits) {
  struct Case {
    const char* value;
    int bits;
  } cases[] = {
      {"NOTDEFINED", 0x1},
      {"", 0},
      {"CMD", 0x2},
      {"CVS:HDP", 0x104},
      {"CVS:VVOL", 0x44},
      {"LUSE:ALUN:ELUN", 0x38},
      {"QS:THP:POOL", 0x380},
      {"HORC:MRCF:ENCD:SYSD:TSE", 0x7c00},
      {"HDT", 0x8000},
      {"SMRT", 0x8000},
      {"OLG:QRD:JNL:CLUN", 0xf0000},
      {"GAD", 0x100000},
      {"SHARED", 0x100000},  // "HA" anywhere
      {"NOTDEFINEDCVS", 0x4},
      {"notdefined", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hdsparse::volumeAttributeMap(c.value), c.bits) << c.value;
    EXPECT_EQ(ZRHDSRaidcomImplementer::volumeAttributeMap(c.value), c.bits) << c.value;
  }
}

TEST(LdevParser, PortLists) {
  struct Case {
    const char* what;
    std::string line;
    int result;
    std::vector<Path> paths;
  } cases[] = {
      {"two paths",
       "PORTs : CL1-A-1 3 QB_PRE_SNAP_HOST_GROUP : CL2-B-12 0 hg db 01",
       1,
       {{"CL1-A", "1", "3"}, {"CL2-B", "12", "0"}}},
      {"eight characters", "PORTs : ", 0, {{"kept", "9", "9"}}},
      {"empty value", "PORTs :", 0, {{"kept", "9", "9"}}},
      {"value of blanks", "PORTs :   ", 1, {}},
      {"padded key", "PORTs     : CL3-C-0 12 g", 1, {{"CL3-C", "0", "12"}}},
      {"leading blanks", "   PORTs : CL3-C-0 12 g", 1, {{"CL3-C", "0", "12"}}},
      {"host-group name with a colon",
       "PORTs : CL1-A-1 3 db:prod : CL2-B-2 4 x",
       1,
       {{"CL1-A", "1", "3"}, {"CL2-B", "2", "4"}}},
      {"name cut short", "PORTs : CL1-A-1 3", 1, {{"CL1-A", "1", "3"}}},
      {"CR at the end", "PORTs : CL1-A-1 3 hg\r", 1, {{"CL1-A", "1", "3"}}},
      {"tabs between fields", "PORTs : CL1-A-1\t3\thg", 1, {{"CL1-A", "1", "3"}}},
      {"not a path token", "PORTs : nonsense 3 hg : CL1-A- 3 x : -1 2 y", 1, {}},
  };
  for (const Case& c : cases) {
    std::vector<HDSLunInfo> luns(1);
    luns[0].port = "kept";
    luns[0].hostGroupId = "9";
    luns[0].lun = "9";
    EXPECT_EQ(hdsparse::parsePortList(c.line, luns), c.result) << c.what;
    ASSERT_EQ(luns.size(), c.paths.size()) << c.what;
    for (size_t i = 0; i < c.paths.size(); ++i) {
      EXPECT_EQ(luns[i].port, c.paths[i].port) << c.what;
      EXPECT_EQ(luns[i].hostGroupId, c.paths[i].gid) << c.what;
      EXPECT_EQ(luns[i].lun, c.paths[i].lun) << c.what;
    }
  }
  std::vector<HDSLunInfo> luns;
  EXPECT_EQ(ZRHDSRaidcomImplementer::parsePortList("PORTs : CL5-A-7 1 h", luns), 1);
  ASSERT_EQ(luns.size(), 1u);
  EXPECT_EQ(luns[0].port, "CL5-A");
}

TEST(LdevParser, LabelFilterComparesWithoutBlanksOnBothSides) {
  const std::string text =
      "Serial# : 1\nLDEV : 1\nLDEV_NAMING : QB SVOL  db\n"
      "Serial# : 1\nLDEV : 2\nLDEV_NAMING : QB_SVOL_db\n"
      "Serial# : 1\nLDEV : 3\nLDEV_NAMING : QBSVOLdb\n"
      "Serial# : 1\nLDEV : 4\n";
  struct Case {
    const char* filter;
    std::vector<std::string> ldevs;
  } cases[] = {
      {"", {"1", "2", "3", "4"}},
      {"QBSVOLdb", {"1", "3"}},
      {"QB SVOL db", {"1", "3"}},
      {" QB\tSVOLdb ", {"1", "3"}},
      {"QB_SVOL_db", {"2"}},
      {"   ", {"1", "2", "3", "4"}},
      {"nothing", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    for (const HDSLdevInfo& l : parse(text, c.filter)) got.push_back(l.ldevId);
    EXPECT_EQ(got, c.ldevs) << "filter [" << c.filter << "]";
  }
  EXPECT_EQ(parse(text)[0].label, "QBSVOLdb");
}

// ---- parser: hostile text --------------------------------------------------

TEST(LdevParser, HostileText) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> ldevs;  // ldevId of each record
  } cases[] = {
      {"empty", "", {}},
      {"only blank lines", "\n\n  \n", {}},
      {"preamble before the first block is no LDEV",
       "raidcom: starting\nLDEV : 9\nSerial# : 1\nLDEV : 10\n",
       {"10"}},
      {"no Serial# at all", "LDEV : 9\nVOL_TYPE : OPEN-V\n", {}},
      {"no final newline: the last line is read", "Serial# : 1\nLDEV : 10", {"10"}},
      {"a block cut after its Serial# line", "Serial# : 1\nLDEV : 10\nSerial# : 1\n", {"10", ""}},
      {"last line without newline holds the label",
       "Serial# : 1\nLDEV : 10\nLDEV_NAMING : snapA",
       {"10"}},
      {"CRLF", "Serial# : 1\r\nLDEV : 10\r\nSerial# : 1\r\nLDEV : 11\r\n", {"10", "11"}},
      {"leading and trailing blanks", "   Serial# : 1  \n\tLDEV : 10 \t\n", {"10"}},
      {"blank lines between blocks",
       "Serial# : 1\nLDEV : 10\n\nSerial# : 1\nLDEV : 11\n\n",
       {"10", "11"}},
      {"line without a colon", "Serial# : 1\nLDEV\nLDEV 12\n", {""}},
      {"Serial# as a value", "Serial# : 1\nLDEV : 10\nLDEV_NAMING : Serial#\n", {"10"}},
      {"serial as the label", "Serial# : 412345\nLDEV : 10\nLDEV_NAMING : 412345\n", {"10"}},
      {"NUL bytes are kept, not taken for blanks",
       std::string("Serial# : 1\nLDEV : 1\0\n", 22),
       {std::string("1\0", 2)}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    for (const HDSLdevInfo& l : parse(c.text)) got.push_back(l.ldevId);
    EXPECT_EQ(got, c.ldevs) << c.what;
  }
  // Values lose every blank, so an odd label keeps its letters only.
  std::vector<HDSLdevInfo> l = parse("Serial# : 1\nLDEV_NAMING : a : b\tc\r\n");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].label, "a:bc");
  EXPECT_EQ(l[0].serial, "1");
  // The last line is read without its newline: here the label.
  l = parse("Serial# : 1\nLDEV : 10\nLDEV_NAMING : snapA");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].label, "snapA");
}

// ---- parser: the simulator's output -------------------------------------------

ccisim::Array simArray() {
  ccisim::Array a;
  a.serial = "412345";
  a.model = "M8S";
  a.maxLdev = 2047;
  ccisim::Ldev src;
  src.id = 256;
  src.defined = true;
  src.capacity = 2097152;
  src.attrs = {"CVS", "HDP"};
  src.poolId = "5";
  src.label = "prod db 01";
  src.rsgid = 3;
  src.vid = 300;
  src.mpBlade = 4;
  a.ldevs[src.id] = src;
  ccisim::Ldev cmd;
  cmd.id = 257;
  cmd.defined = true;
  cmd.capacity = 96000;
  cmd.attrs = {"CVS", "CMD"};
  a.ldevs[cmd.id] = cmd;
  ccisim::Ldev freed;  // an undefined id that keeps its group and virtual id
  freed.id = 258;
  freed.rsgid = 1;
  freed.vid = ccisim::kVidNone;
  a.ldevs[freed.id] = freed;
  ccisim::Port p;
  p.name = "CL1-A";
  ccisim::HostGroup hg;
  hg.gid = 3;
  hg.name = "QB_PSHG_512345";
  hg.luns[7] = 256;
  p.hostGroups[3] = hg;
  ccisim::HostGroup hg2;
  hg2.gid = 12;
  hg2.name = "db hosts";
  hg2.luns[0] = 256;
  p.hostGroups[12] = hg2;
  a.ports[p.name] = p;
  return a;
}

TEST(LdevParser, ReadsTheSimulatorsRendering) {
  const ccisim::Array a = simArray();
  for (bool undefinedVolAttr : {false, true}) {
    SCOPED_TRACE(undefinedVolAttr ? "with VOL_ATTR for undefined ids" : "as the array");
    std::vector<HDSLdevInfo> out =
        parse(ccisim::renderGetLdev(a, {256, 257, 258, 259}, undefinedVolAttr));
    ASSERT_EQ(out.size(), 4u);
    expectLdev(out[0],
               {"412345",
                "256",
                "300",
                "OPEN-V-CVS",
                2097152,
                2,
                {{"CL1-A", "3", "7"}, {"CL1-A", "12", "0"}},
                "5",
                0x104,
                "proddb01",
                3,
                4},
               "source");
    EXPECT_EQ(out[1].volAttr, 0x6);
    EXPECT_EQ(out[1].ldevId, "257");
    expectLdev(out[2], {"412345", "258", "65534", "NOTDEFINED", 0, 0, {}, "", 1, "", 1, 0},
               "freed");
    expectLdev(out[3], {"412345", "259", "", "NOTDEFINED", 0, 0, {}, "", 1, "", 0, 0},
               "never defined");
  }
}

TEST(LdevParser, HugeListingIsReadWholeAndInOrder) {
  ccisim::Array a;
  a.serial = "412345";
  std::vector<int> ids;
  for (int id = 0; id < 65280; ++id) {
    ids.push_back(id);
    if (id % 3 == 0) {
      ccisim::Ldev l;
      l.id = id;
      l.defined = true;
      l.capacity = 1000 + static_cast<uint64_t>(id);
      l.attrs = {"CVS", "HDP"};
      l.label = "L" + std::to_string(id);
      a.ldevs[id] = l;
    }
  }
  std::vector<HDSLdevInfo> out = parse(ccisim::renderGetLdev(a, ids));
  ASSERT_EQ(out.size(), 65280u);
  for (int id : {0, 1, 3, 30000, 65277, 65279}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(out[id].ldevId, std::to_string(id));
    if (id % 3 == 0) {
      EXPECT_EQ(out[id].capacityBlocks, 1000u + id);
      EXPECT_EQ(out[id].label, "L" + std::to_string(id));
      EXPECT_EQ(out[id].volAttr, 0x104);
    } else {
      EXPECT_EQ(out[id].volAttr, 1);
    }
  }
  std::vector<HDSLdevInfo> one = parse(ccisim::renderGetLdev(a, ids), "L65277");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].ldevId, "65277");
}

// ---- getLdevInfo -----------------------------------------------------------

std::string block(const std::string& serial, const std::string& ldev) {
  return "Serial#  : " + serial + "\nLDEV : " + ldev +
         "\nVOL_TYPE : OPEN-V-CVS\n"
         "VOL_Capacity(BLK) : 1024\nRSGID : 2\n";
}

std::string getLdevLine(const std::string& id) {
  return "/cci/raidcom  get ldev   -ldev_id " + id + Bed::im();
}

std::vector<HDSLdevInfo> request(std::initializer_list<const char*> ids,
                                 const char* serial = "412345") {
  std::vector<HDSLdevInfo> v;
  for (const char* id : ids) {
    HDSLdevInfo l;
    l.ldevId = id;
    l.serial = serial;
    v.push_back(l);
  }
  return v;
}

TEST(GetLdevInfo, OneEntryWithOneQuery) {
  Bed bed;
  bed.recorder.on("-ldev_id 300 ", HDSRecordingRunner::ok(block("412345", "300")));
  std::vector<HDSLdevInfo> ldevs = request({"300"});
  EXPECT_EQ(bed.recording().getLdevInfo(ldevs), 0);
  EXPECT_EQ(bed.recorder.lines(), (std::vector<std::string>{getLdevLine("300")}));
  EXPECT_EQ(ldevs[0].resourceGroupId, 2);
  EXPECT_TRUE(bed.log.logged("Successfully queried [1/1] LDEV information."));
  EXPECT_EQ(bed.errorCode(), 0);
}

// One listing per run of ids less than 256 apart (256 and 300; 600); what a
// listing does not show, or an answer that is not its listing, stays unread.
TEST(GetLdevInfo, SeveralEntriesWithOneListingPerRun) {
  const std::string near = "/cci/raidcom  get ldev   -ldev_id 256 -cnt 45" + Bed::im();
  const std::string far = "/cci/raidcom  get ldev   -ldev_id 600 -cnt 1" + Bed::im();
  using R = HDSRecordingRunner;
  auto ok = [](const char* id, const char* serial = "412345") { return R::ok(block(serial, id)); };
  struct Case {
    const char* what;
    Reply nearReply, farReply;
    int result;                        // 0 all read, 2 some, 1 none
    std::vector<uint64_t> capacities;  // 256, 300, 600; 0: entry left as it was
  } cases[] = {
      {"all read", R::ok(block("412345", "256") + "\n" + block("412345", "300")), ok("600"), 0,
       {1024, 1024, 1024}},
      {"an id the listing lacks", ok("256"), ok("600"), 2, {1024, 0, 1024}},
      {"a listing refused", R::exit(1, "", "raidcom: [EX_ENOOBJ]"), ok("600"), 2, {0, 0, 1024}},
      {"a block of another array", ok("256"), ok("600", "512345"), 2, {1024, 0, 0}},
      {"nothing read", R::ok("no block here\n"), R::timeout(), 1, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bed bed;
    bed.recorder.on("-ldev_id 256 -cnt 45 ", c.nearReply);
    bed.recorder.on("-ldev_id 600 -cnt 1 ", c.farReply);
    std::vector<HDSLdevInfo> ldevs = request({"256", "300", "600"});
    for (HDSLdevInfo& l : ldevs) l.label = "input";
    EXPECT_EQ(bed.recording().getLdevInfo(ldevs), c.result);
    EXPECT_EQ(bed.recorder.lines(), (std::vector<std::string>{near, far})) << "never stops early";
    const char* ids[] = {"256", "300", "600"};
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(ldevs[i].capacityBlocks, c.capacities[i]) << i;
      EXPECT_EQ(ldevs[i].label, c.capacities[i] ? "" : "input") << i;
      EXPECT_EQ(ldevs[i].ldevId, ids[i]);
    }
    EXPECT_EQ(bed.errorCode(), c.result == 0 ? 0 : 62601);
    EXPECT_EQ(bed.errorText(), c.result == 0 ? "" : "Failed to query LDEV info.");
  }
}

TEST(GetLdevInfo, EmptyListAndInvalidIdsRunNothing) {
  Bed bed;
  std::vector<HDSLdevInfo> none;
  EXPECT_EQ(bed.recording().getLdevInfo(none), 1);
  EXPECT_EQ(bed.errorCode(), 62601);

  for (const char* id : {"", "12a", "1 2", "1;touch x", "-1"}) {
    Bed b;
    std::vector<HDSLdevInfo> ldevs = request({id});
    EXPECT_EQ(b.recording().getLdevInfo(ldevs), 1) << id;
    EXPECT_TRUE(b.recorder.lines().empty()) << id;
    EXPECT_EQ(b.errorCode(), 62601);
    EXPECT_NE(b.errorText().find("Invalid input: LDEV-["), std::string::npos) << id;
  }
}

// ---- getLdevList -----------------------------------------------------------

TEST(GetLdevList, ComposesTheOptionsOfTheFilter) {
  const std::string common = Bed::im();
  struct Case {
    const char* what;
    std::map<int, std::string> filter;
    std::string args;
  } cases[] = {
      {"CU 3", {{0x20, "3"}}, " -ldev_id 768 -cnt 256 "},
      {"whole array", {{0x20, "0-feff"}}, " -ldev_id 0 -cnt 65280"},
      {"upper-case hex", {{0x20, "0-7FF"}}, " -ldev_id 0 -cnt 2048"},
      {"unmapped wins over the range", {{2, ""}, {0x20, "0-feff"}}, " -ldev_list unmapped "},
      {"undefined first", {{1, ""}, {2, ""}, {4, ""}}, " -ldev_list undefined "},
      {"mapped", {{4, "x"}, {0x40, ""}}, " -ldev_list mapped "},
      {"defined", {{0x40, ""}, {0x80, ""}}, " -ldev_list defined"},
      {"quorum", {{0x80, ""}}, " -ldev_list quorum"},
      {"range and resource group",
       {{0x20, "0-7ff"}, {0x100, "1"}},
       " -ldev_id 0 -cnt 2048 -resource 1"},
      {"pool in range mode", {{0x20, "2"}, {8, "5"}}, " -ldev_id 512 -cnt 256  pool  -pool_id 5"},
      {"pool with a kind", {{2, ""}, {8, "5"}}, " -ldev_list unmapped  -pool_id 5"},
      {"label is no option", {{0x20, "1"}, {0x10, "x y"}}, " -ldev_id 256 -cnt 256 "},
  };
  for (const Case& c : cases) {
    Bed bed;
    bed.recorder.on(" get ldev ", HDSRecordingRunner::ok(""));
    std::vector<HDSLdevInfo> out;
    EXPECT_EQ(bed.recording().getLdevList(out, c.filter), 0) << c.what;
    EXPECT_EQ(bed.recorder.lines(),
              (std::vector<std::string>{"/cci/raidcom  get ldev  " + c.args + common}))
        << c.what;
  }
}

TEST(GetLdevList, QuotesValuesThatAreNotPlain) {
  Bed bed;
  bed.recorder.on(" get ldev ", HDSRecordingRunner::ok(""));
  std::vector<HDSLdevInfo> out;
  EXPECT_EQ(bed.recording().getLdevList(out, {{2, ""}, {8, "my pool"}, {0x100, "1;rm"}}), 0);
  EXPECT_EQ(bed.recorder.lines(),
            (std::vector<std::string>{"/cci/raidcom  get ldev   -ldev_list unmapped  -pool_id "
                                      "\"my pool\" -resource \"1;rm\"" +
                                      Bed::im()}));
}

TEST(GetLdevList, RefusesFiltersThatWouldMakeAMalformedCommand) {
  const std::map<int, std::string> filters[] = {
      {},
      {{0x10, "label only"}},
      {{0x20, ""}},
      {{0x20, "x"}},
      {{0x20, "3 -x"}},
      {{0x20, "999999"}},
      {{0x20, "-ff"}},
      {{0x20, "0-"}},
      {{0x20, "ff-0"}},
      {{0x20, "0-fffffff"}},
      {{0x20, "0-g"}},
      {{2, ""}, {8, ""}},
      {{2, ""}, {0x100, ""}},
      {{2, ""}, {8, "a\nb"}},
  };
  for (const auto& f : filters) {
    Bed bed;
    std::vector<HDSLdevInfo> out;
    EXPECT_EQ(bed.recording().getLdevList(out, f), 1) << f.size();
    EXPECT_TRUE(bed.recorder.lines().empty());
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText().rfind("Invalid input: ", 0), 0u) << bed.errorText();
  }
}

TEST(GetLdevList, AppendsAndFiltersByLabel) {
  Bed bed;
  bed.recorder.on(" get ldev ", HDSRecordingRunner::ok(kTwoBlocks));
  std::vector<HDSLdevInfo> out(1);
  EXPECT_EQ(bed.recording().getLdevList(out, {{0x20, "16"}}), 0);
  ASSERT_EQ(out.size(), 3u);
  expectLdev(out[1], kBlock4096, "first");
  expectLdev(out[2], kBlock4097, "second");
  out.clear();
  EXPECT_EQ(bed.recording().getLdevList(out, {{0x20, "16"}, {0x10, "QB_SVOL_ db01"}}), 0);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].ldevId, "4096");
}

TEST(GetLdevList, NothingMatchedIsAnEmptySuccess) {
  Bed bed;
  bed.recorder.on(" get ldev ", HDSRecordingRunner::exit(246, "", "raidcom: [EX_ENODEV]"));
  std::vector<HDSLdevInfo> out;
  EXPECT_EQ(bed.recording().getLdevList(out, {{2, ""}}), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(bed.errorCode(), 0);
}

TEST(GetLdevList, OtherFailuresCarryTheListText) {
  for (const Reply& r : {HDSRecordingRunner::exit(1), HDSRecordingRunner::exit(227),
                         HDSRecordingRunner::timeout()}) {
    Bed bed;
    bed.recorder.on(" get ldev ", r);
    std::vector<HDSLdevInfo> out;
    EXPECT_EQ(bed.recording().getLdevList(out, {{0x20, "0"}}), 1);
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText(), "Failed to get the LDEV list form the array.");
    EXPECT_TRUE(bed.log.logged("Failed to get the LDEV list from the array."));
  }
}

// ---- getMaxLdevNumber ------------------------------------------------------

std::string keyOptListing(const std::string& model) {
  return "RS_GROUP       RGID  V_Serial#  V_ID    V_IF  Serial#\n"
         "meta_resource     0  412345     " +
         model +
         "     Y     412345\n"
         "VSM_A             1  512345     M850M3  Y     412345\n";
}

TEST(GetMaxLdevNumber, ModelTableAndProbe) {
  struct Case {
    const char* what;
    const char* cci;
    const char* model;  // nullptr: the resource listing fails
    bool probeOk;
    int result;
    int maxLdev;
    const char* probeId;  // nullptr: no probe
  } cases[] = {
      {"old CCI assumes 65279", "01-31-03/01", "", true, 0, 65279, "65279"},
      {"old CCI, probe refused", "01-31-03/01", "", false, 0, 16383, "65279"},
      {"VSP G200", "01-40-03/01", "M8S", true, 0, 2047, "2047"},
      {"VSP G200, probe refused stays within the model", "01-40-03/01", "M8S", false, 0, 2047,
       "2047"},
      {"VSP G370, probe refused", "01-40-03/01", "M850S2", false, 0, 16383, "32767"},
      {"VSP 5000", "01-40-03/01", "R9", true, 0, 65279, "65279"},
      {"model without a row", "01-40-03/01", "R800", true, 1, 16383, nullptr},
      {"resource listing fails", "01-40-03/01", nullptr, true, 1, 16383, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bed bed;
    ZRHDSRaidcomTestPeer::setCCIVersion(c.cci);
    if (c.model) {
      bed.recorder.on(" get resource ", HDSRecordingRunner::ok(keyOptListing(c.model)));
    } else {
      bed.recorder.on(" get resource ", HDSRecordingRunner::exit(1));
    }
    bed.recorder.on(" get ldev ", c.probeOk ? HDSRecordingRunner::ok("Serial# : 412345\n")
                                            : HDSRecordingRunner::exit(227));
    int maxLdev = -5;
    EXPECT_EQ(bed.recording().getMaxLdevNumber(maxLdev), c.result);
    EXPECT_EQ(maxLdev, c.maxLdev);
    std::vector<std::string> want;
    if (std::string(c.cci) != "01-31-03/01") {
      want.push_back("/cci/raidcom  get resource  -key opt  " + Bed::im());
    }
    if (c.probeId) {
      want.push_back(std::string("/cci/raidcom  get ldev   -ldev_id ") + c.probeId + "  " +
                     Bed::im());
    }
    EXPECT_EQ(bed.recorder.lines(), want);
    if (c.result == 1) {
      EXPECT_EQ(bed.errorCode(), 62601);
    }
  }
  ZRHDSRaidcomTestPeer::setCCIVersion("01-40-03/01");
}

TEST(GetMaxLdevNumber, UnknownModelIsNamedInLogAndError) {
  Bed bed;
  bed.recorder.on(" get resource ", HDSRecordingRunner::ok(keyOptListing("X9")));
  int maxLdev = 0;
  EXPECT_EQ(bed.recording().getMaxLdevNumber(maxLdev), 1);
  EXPECT_TRUE(
      bed.log.logged("Max LDEV number is not specified in the local table for Array Code-[X9]."));
  EXPECT_EQ(bed.errorText(),
            "Max LDEV number is not specified in the local table for Array Code-[X9].");
}

TEST(GetMaxLdevNumber, ProbeFailureIsLoggedWithTheFallback) {
  Bed bed;
  bed.recorder.on(" get resource ", HDSRecordingRunner::ok(keyOptListing("M8M")));
  bed.recorder.on(" get ldev ", HDSRecordingRunner::exit(227));
  int maxLdev = 0;
  EXPECT_EQ(bed.recording().getMaxLdevNumber(maxLdev), 0);
  EXPECT_EQ(maxLdev, 4095);
  EXPECT_TRUE(
      bed.log.logged("Failed to query ldev [4095]. Will use [4095] as maximum ldev number."));
}

// ---- against the simulator's tools -----------------------------------------------

TEST(LdevSimulator, QueriesListsAndProbes) {
  Bed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  sim.addSourceLdev(Bed::kSerial, 256, 2097152, 0, "prod db");
  sim.addSourceLdev(Bed::kSerial, 300, 4096);
  sim.addPort(Bed::kSerial, "CL1-A", "50060e8012345600");
  sim.addHostGroup(Bed::kSerial, "CL1-A", 3, "hosts 3");
  sim.addLun(Bed::kSerial, "CL1-A", 3, 5, 256);

  std::vector<HDSLdevInfo> ldevs = request({"256", "300", "301"});
  EXPECT_EQ(impl.getLdevInfo(ldevs), 0) << bed.errorText();
  EXPECT_EQ(ldevs[0].capacityBlocks, 2097152u);
  EXPECT_EQ(ldevs[0].label, "proddb");
  ASSERT_EQ(ldevs[0].ports.size(), 1u);
  EXPECT_EQ(ldevs[0].ports[0].port, "CL1-A");
  EXPECT_EQ(ldevs[0].ports[0].hostGroupId, "3");
  EXPECT_EQ(ldevs[0].ports[0].lun, "5");
  EXPECT_EQ(ldevs[1].volAttr & 0x104, 0x104);
  EXPECT_EQ(ldevs[2].volAttr, 1) << "an id without an LDEV reads undefined";

  std::vector<HDSLdevInfo> cu;
  EXPECT_EQ(impl.getLdevList(cu, {{0x20, "1"}}), 0) << bed.errorText();
  ASSERT_EQ(cu.size(), 256u);
  EXPECT_EQ(cu[0].ldevId, "256");
  EXPECT_EQ(cu[44].ldevId, "300");
  EXPECT_EQ(cu[44].volType, "OPEN-V-CVS");
  EXPECT_EQ(cu[45].volType, "NOTDEFINED");

  std::vector<HDSLdevInfo> labelled;
  EXPECT_EQ(impl.getLdevList(labelled, {{0x20, "0-7ff"}, {0x10, "prod db"}}), 0);
  ASSERT_EQ(labelled.size(), 1u);
  EXPECT_EQ(labelled[0].ldevId, "256");

  int maxLdev = 0;
  EXPECT_EQ(impl.getMaxLdevNumber(maxLdev), 0) << bed.errorText();
  EXPECT_EQ(maxLdev, 2047);
  EXPECT_EQ(sim.journal("raidcom", "get ldev -ldev_id 2047").size(), 1u);
}

TEST(LdevSimulator, AnEmptyUnmappedListingIsSuccess) {
  Bed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  std::vector<HDSLdevInfo> out;
  EXPECT_EQ(impl.getLdevList(out, {{2, ""}}), 0) << bed.errorText();
  EXPECT_TRUE(out.empty());
  const auto runs = sim.journal("raidcom", "get ldev -ldev_list unmapped");
  ASSERT_EQ(runs.size(), 1u);
}

TEST(LdevSimulator, GarbledOutputOfTheTool) {
  struct Case {
    const char* mode;
    int result;
  } cases[] = {
      {"crlf", 0},          {"leadingBlanks", 0}, {"trailingBlanks", 0},
      {"extraPreamble", 0}, {"empty", 1},         {"truncate", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    Bed bed;
    ccisim::Fixture sim;
    ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
    sim.addSourceLdev(Bed::kSerial, 256, 4096);
    sim.addFault(ccisim::Fault::garbleOutput("raidcom", "get ldev", c.mode));
    std::vector<HDSLdevInfo> ldevs = request({"256"});
    EXPECT_EQ(impl.getLdevInfo(ldevs), c.result) << bed.errorText();
    if (c.result == 0) {
      EXPECT_EQ(ldevs[0].volType, "OPEN-V-CVS");
    }
  }
}

}  // namespace
