// Source-device and pool checks against the simulator.
#include <gtest/gtest.h>

#include "handler/tests/support/HDSFakeImplementer.h"
#include "handler/tests/support/HDSHandlerTestBed.h"

namespace {

const char kSerial[] = "412345";
const char kRefused[] =
    "Snap / Clone of Command, LUSE, V - VOL, Journal, Pool or System Volume[300] is not supported";

class HandlerChecks : public ::testing::Test {
 protected:
  void defineSource(int id, const std::vector<std::string>& attrs, uint64_t blocks = 2097152) {
    ccisim::Ldev l;
    l.id = id;
    l.capacity = blocks;
    l.attrs = attrs;
    bed.sim.addLdev(kSerial, l);
  }
  void addPool(int id, const std::string& name, const std::string& status = "POLN",
               int usage = 10) {
    ccisim::Pool p;
    p.id = id;
    p.name = name;
    p.status = status;
    p.usage = usage;
    p.threshold = 80;
    bed.sim.addPool(kSerial, p);
  }
  HDSHandlerTestBed bed;
};

struct SourceCase {
  std::vector<std::string> attrs;
  int unmask;
  int mask;
  bool passes;
};

TEST_F(HandlerChecks, SourceKindsAreAcceptedOrRefusedByAttribute) {
  const SourceCase cases[] = {
      {{"CVS", "HDP"}, 0, 0, true},      {{"CVS", "HDP", "GAD"}, 0, 0, true},
      {{"CVS", "VVOL"}, 0, 0, false},    {{"CVS", "CMD"}, 0, 0, false},
      {{"LUSE"}, 0, 0, false},           {{"CVS", "JNL"}, 0, 0, false},
      {{"POOL"}, 0, 0, false},           {{"SYSD"}, 0, 0, false},
      {{"CLUN"}, 0, 0, false},           {{"CVS", "VVOL"}, 0x40, 0, true},
      {{"CVS", "HDP"}, 0, 0x100, false}, {{"CVS", "HDP", "QRD"}, 0x20000, 0, true},
  };
  defineSource(300, {"CVS"});
  bed.addSources({300}, false);
  auto h = bed.handler();
  ASSERT_TRUE(h->IsHandlerInitialized());
  for (const SourceCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.attrs));
    defineSource(300, c.attrs, 4096);
    bed.setSetting("nZRHDSSourceLdevUnmask", c.unmask);
    bed.setSetting("nZRHDSSourceLdevMask", c.mask);
    h->setErrorCodeString(0, "-");
    bed.snaps[0].capacity = 0;
    std::vector<HDSLdevInfo> ldevs;
    EXPECT_EQ(c.passes, h->checkAndVerifySourceDevices(ldevs));
    ASSERT_EQ(1u, ldevs.size());
    EXPECT_EQ("300", ldevs[0].ldevId);
    if (c.passes) {
      EXPECT_EQ(4096u, bed.snaps[0].capacity);
    } else {
      EXPECT_EQ(62008, HDSHandlerTestBed::error(*h).first);
      EXPECT_EQ(kRefused, HDSHandlerTestBed::error(*h).second);
      EXPECT_EQ(0u, bed.snaps[0].capacity);
    }
  }
  EXPECT_TRUE(bed.logs().find("The LDEV-[300] is part of a GAD pair.") != std::string::npos);
}

TEST_F(HandlerChecks, UndefinedSourceIsMissingWhetherTypeOrAttributeSaysSo) {
  bed.addSources({300}, false);  // the id holds no LDEV
  auto h = bed.handler();
  for (bool attributeLine : {false, true}) {
    bed.sim.setUndefinedVolAttr(attributeLine);
    std::vector<HDSLdevInfo> ldevs;
    EXPECT_FALSE(h->checkAndVerifySourceDevices(ldevs));
    EXPECT_EQ(62008, HDSHandlerTestBed::error(*h).first);
    EXPECT_EQ("Unable to find the LDEV-[300] in the array [412345]",
              HDSHandlerTestBed::error(*h).second);
  }
}

TEST_F(HandlerChecks, SharedSourcesGetTheCapacityAndThePreSnapPortComesFromTheFirstPath) {
  bed.sim.addPort(kSerial, "CL3-B", "50060e8012345678");
  bed.sim.addHostGroup(kSerial, "CL3-B", 4, "hg4");
  bed.sim.addLun(kSerial, "CL3-B", 4, 0, 301);
  defineSource(301, {"CVS", "HDP"}, 8192);
  defineSource(302, {"CVS", "HDP"}, 1024);
  bed.addSources({301, 302, 301}, false);
  auto h = bed.handler();
  std::vector<HDSLdevInfo> ldevs;
  ASSERT_TRUE(h->checkAndVerifySourceDevices(ldevs)) << HDSHandlerTestBed::error(*h).second;
  EXPECT_EQ(3u, ldevs.size());
  EXPECT_EQ(8192u, bed.snaps[0].capacity);
  EXPECT_EQ(1024u, bed.snaps[1].capacity);
  EXPECT_EQ(8192u, bed.snaps[2].capacity);
  EXPECT_EQ("CL3-B", bed.options.preSnapPort);
  // One listing of the nearby sources, not one query per record.
  EXPECT_EQ(1u, bed.count("get ldev"));
  EXPECT_EQ(1u, bed.count("get ldev -ldev_id 301 -cnt 2"));
}

TEST_F(HandlerChecks, LdevQueryFailurePassesTheArrayErrorOrSetsCodeFour) {
  defineSource(300, {"CVS", "HDP"});
  bed.addSources({300});
  auto h = bed.handler();
  bed.sim.addFault(ccisim::Fault::fail("raidcom", "get ldev", 1, "broken"));
  std::vector<HDSLdevInfo> ldevs;
  EXPECT_FALSE(h->checkAndVerifySourceDevices(ldevs));
  EXPECT_EQ(62601, HDSHandlerTestBed::error(*h).first);
  EXPECT_EQ("Failed to query LDEV info.", HDSHandlerTestBed::error(*h).second);

  bed.params.operationType = 1;
  ZRHDSCommandHandler scripted(bed.params, HDSFakeImplementer::factory([](HDSFakeImplementer& f) {
                                 f.onLogin = [](bool) { return 0; };
                                 f.onLogout = [] { return 0; };
                                 f.onResourceGroupFromLdev = [] { return 0; };
                                 f.onLdevInfo = [](std::vector<HDSLdevInfo>&) { return 2; };
                               }));
  ldevs.clear();
  EXPECT_FALSE(scripted.checkAndVerifySourceDevices(ldevs));
  EXPECT_EQ(4, HDSHandlerTestBed::error(scripted).first);
  EXPECT_EQ("Failed to get LDEV information for devices",
            HDSHandlerTestBed::error(scripted).second);
}

struct PoolCase {
  const char* given;
  bool passes;
  const char* after;  // the options' pool afterwards
  const char* error;  // code 6 text when refused
};

TEST_F(HandlerChecks, PoolIsResolvedById_ThenByName_AndItsStateChecked) {
  addPool(12, "pool12");
  addPool(7, "SEVEN");
  addPool(40, "12");  // named like another pool's id
  addPool(41, "0012");
  addPool(13, "full", "POLF");
  addPool(14, "busy", "POLN", 95);
  addPool(15, "almost", "POLN", 94);
  const PoolCase cases[] = {
      {" 12 ", true, "12", ""},
      {"007", true, "7", ""},
      {"12", true, "12", ""},
      {"0012", true, "41", ""},
      {"seven", true, "7", ""},
      {"tipool", true, "5", ""},
      {" \t ", false, "", "Invalid Pool name was entered."},
      {"nope", false, "NOPE", "Pool NOPE was not found."},
      {"full", false, "13", "Pool 13 with status POLF cannot be used."},
      {"busy", false, "14", "Pool 14 with Usage 95cannot be used"},
      {"almost", true, "15", ""},
  };
  bed.addSources({256});
  auto h = bed.handler();
  for (const PoolCase& c : cases) {
    SCOPED_TRACE(c.given);
    bed.options.pool = c.given;
    EXPECT_EQ(c.passes, h->checkAndVerifyPoolStatus());
    EXPECT_EQ(c.after, bed.options.pool);
    if (!c.passes) {
      EXPECT_EQ(6, HDSHandlerTestBed::error(*h).first);
      EXPECT_EQ(c.error, HDSHandlerTestBed::error(*h).second);
    }
  }
  bed.setSetting("nZRHDSDoNotCheckForPoolUsage", 1);
  bed.options.pool = "busy";
  EXPECT_TRUE(h->checkAndVerifyPoolStatus());
}

TEST_F(HandlerChecks, EmptyPoolRunsNothingAndAListingFailureIsPassedOn) {
  bed.addSources({256});
  auto h = bed.handler();
  bed.sim.clearJournal();
  bed.options.pool = "";
  EXPECT_TRUE(h->checkAndVerifyPoolStatus());
  EXPECT_TRUE(bed.sim.journal().empty());

  bed.sim.addFault(ccisim::Fault::fail("raidcom", "get pool", 1, "broken"));
  bed.options.pool = "5";
  EXPECT_FALSE(h->checkAndVerifyPoolStatus());
  EXPECT_EQ(62601, HDSHandlerTestBed::error(*h).first);
  EXPECT_EQ("Failed to get Pool list", HDSHandlerTestBed::error(*h).second);
}

}  // namespace
