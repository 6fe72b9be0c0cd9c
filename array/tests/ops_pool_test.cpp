// Pool listing: the parser over exact, simulator-rendered and hostile text,
// and getPoolList's command line, failure texts and run against the
// simulator's tools.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "array/HDSParsePool.h"
#include "array/tests/support/HDSDiscoveryTestBed.h"
#include "array/tests/support/HDSRowCheck.h"
#include "sim/ccisim_fixture.h"

namespace {

using hdsparse::parsePoolList;

const char kPoolListing[] =
    "PID  POLS  U(%)  POOL_NAME  Seq#    Num  LDEV#  H(%)  VCAP(%)  TYPE  PM  PT\n"
    "5    POLN  12    TIPOOL01   412345  1    61445  80    -        OPEN  N   HTI\n"
    "6    POLF  96    DPPOOL02   412345  2    61446  70    150      OPEN  N   HDP\n";

struct PoolRow {
  const char* id;
  const char* status;
  int usage;
  const char* name;
  int threshold;
};

void expectPools(const std::vector<HDSPoolInfo>& got, const std::vector<PoolRow>& want,
                 const std::string& context) {
  hdstest::expectEachRow(got, want, context, [](const HDSPoolInfo& g, const PoolRow& w) {
    EXPECT_EQ(g.poolId, w.id);
    EXPECT_EQ(g.status, w.status);
    EXPECT_EQ(g.usagePercent, w.usage);
    EXPECT_EQ(g.poolName, w.name);
    EXPECT_EQ(g.thresholdPercent, w.threshold);
  });
}

TEST(PoolParser, ExactLayout) {
  std::vector<HDSPoolInfo> pools;
  EXPECT_EQ(parsePoolList(kPoolListing, pools).rows, 2u);
  expectPools(pools, {{"5", "POLN", 12, "TIPOOL01", 80}, {"6", "POLF", 96, "DPPOOL02", 70}},
              "exact");
}

TEST(PoolParser, AppendsToWhatTheCallerHolds) {
  std::vector<HDSPoolInfo> pools(1);
  pools[0].poolId = "kept";
  parsePoolList(kPoolListing, pools);
  ASSERT_EQ(pools.size(), 3u);
  EXPECT_EQ(pools[0].poolId, "kept");
  EXPECT_EQ(pools[2].poolId, "6");
}

TEST(PoolParser, HostileText) {
  const std::string hdr = "PID POLS U(%) POOL_NAME Seq# Num LDEV# H(%) VCAP(%)\n";
  struct Case {
    const char* what;
    std::string text;
    std::vector<PoolRow> want;
  } cases[] = {
      {"empty", "", {}},
      {"header only", hdr, {}},
      {"header without newline", "PID POLS", {}},
      {"no final newline: the last row is read",
       hdr + "5 POLN 12 A 1 1 1 80 x\n6 POLN 13 B 1 1 1 81 x",
       {{"5", "POLN", 12, "A", 80}, {"6", "POLN", 13, "B", 81}}},
      {"CRLF", hdr + "5 POLN 12 A 1 1 1 80 x\r\n", {{"5", "POLN", 12, "A", 80}}},
      {"CRLF header only", "PID POLS\r\n", {}},
      {"tabs and runs of blanks",
       hdr + "5\tPOLN \t 12\t\tA 1 1 1 80\tx\n",
       {{"5", "POLN", 12, "A", 80}}},
      {"leading blanks read as a left-aligned row",
       hdr + " 5 POLN 12 A 1 1 1 80 x\n",
       {{"5", "POLN", 12, "A", 80}}},
      {"a row ending right after H(%) is cut short: nothing is read",
       hdr + "4 POLN 1 Z 1 1 1 2 x\n5 POLN 12 A 1 1 1 80\n",
       {}},
      {"trailing blank after column 8 takes it",
       hdr + "5 POLN 12 A 1 1 1 80 \n",
       {{"5", "POLN", 12, "A", 80}}},
      {"short line refuses the listing", hdr + "5 POLN\n", {}},
      {"single column refuses the listing", hdr + "5\n", {}},
      {"blank and white-space lines are no rows",
       hdr + "\n   \n\t\r\n5 POLN 1 A 1 1 1 2 x\n",
       {{"5", "POLN", 1, "A", 2}}},
      {"status other than POLN is returned unchanged",
       hdr + "7 POLE 0 C 1 1 1 0 x\n",
       {{"7", "POLE", 0, "C", 0}}},
      {"numbers read like atoi",
       hdr + "5 POLN 12abc A 1 1 1 -4% x\n",
       {{"5", "POLN", 12, "A", -4}}},
      {"non-numeric usage reads 0", hdr + "5 POLN - A 1 1 1 - x\n", {{"5", "POLN", 0, "A", 0}}},
      {"overflow is clamped",
       hdr + "5 POLN 99999999999999 A 1 1 1 -99999999999 x\n",
       {{"5", "POLN", 2147483647, "A", -2147483647 - 1}}},
  };
  for (const Case& c : cases) {
    std::vector<HDSPoolInfo> pools;
    parsePoolList(c.text, pools);
    expectPools(pools, c.want, c.what);
  }
}

TEST(PoolParser, HugeListingIsReadWhole) {
  std::string text = "PID POLS U(%) POOL_NAME Seq# Num LDEV# H(%) VCAP(%)\n";
  const int kRows = 200000;
  for (int i = 0; i < kRows; ++i) {
    text += std::to_string(i) + " POLN " + std::to_string(i % 100) + " P" + std::to_string(i) +
            " 412345 1 61445 " + std::to_string(i % 90) + " - OPEN N HTI\n";
  }
  std::vector<HDSPoolInfo> pools;
  EXPECT_EQ(parsePoolList(text, pools).rows, static_cast<size_t>(kRows));
  ASSERT_EQ(pools.size(), static_cast<size_t>(kRows));
  EXPECT_EQ(pools.back().poolId, std::to_string(kRows - 1));
  EXPECT_EQ(pools.back().poolName, "P" + std::to_string(kRows - 1));
  EXPECT_EQ(pools.back().usagePercent, (kRows - 1) % 100);
  EXPECT_EQ(pools.back().thresholdPercent, (kRows - 1) % 90);
}

// ---- Parser against the simulator's renderer ----------------------------

TEST(PoolParser, SimulatorRendering) {
  ccisim::Array a;
  a.serial = "412345";
  ccisim::Pool p1;
  p1.id = 5;
  p1.name = "TIPOOL01";
  p1.usage = 12;
  p1.threshold = 80;
  ccisim::Pool p2;
  p2.id = 63;
  p2.name = "dp_pool_2";
  p2.status = "POLF";
  p2.usage = 100;
  p2.threshold = 5;
  p2.pt = "HDP";
  a.pools[p1.id] = p1;
  a.pools[p2.id] = p2;
  std::vector<HDSPoolInfo> pools;
  parsePoolList(ccisim::renderGetPool(a), pools);
  // The simulator prints pool ids with three digits, as the array does.
  expectPools(pools, {{"005", "POLN", 12, "TIPOOL01", 80}, {"063", "POLF", 100, "dp_pool_2", 5}},
              "rendered");
}

// ---- getPoolList through a recording runner -------------------------------

class GetPoolList : public ::testing::Test {
 protected:
  HDSDiscoveryTestBed bed;
  const std::string kLine =
      std::string("/cci/raidcom  get pool   -key opt ") + HDSDiscoveryTestBed::im();
};

TEST_F(GetPoolList, ComposesTheLineAndParses) {
  bed.recorder.on(" get pool ", HDSRecordingRunner::ok(kPoolListing));
  ZRHDSRaidcomImplementer& impl = bed.recording();
  std::vector<HDSPoolInfo> pools(3);  // cleared before the command runs
  EXPECT_EQ(impl.getPoolList(pools), 0);
  EXPECT_EQ(bed.recorder.lines(), (std::vector<std::string>{kLine}));
  EXPECT_EQ(bed.recorder.timeouts(), (std::vector<int>{300}));
  expectPools(pools, {{"5", "POLN", 12, "TIPOOL01", 80}, {"6", "POLF", 96, "DPPOOL02", 70}},
              "parsed");
  EXPECT_EQ(bed.errorCode(), 0);
}

TEST_F(GetPoolList, HeaderOnlyIsAnEmptySuccess) {
  bed.recorder.on(" get pool ", HDSRecordingRunner::ok("PID POLS U(%) POOL_NAME Seq# H(%)\n"));
  std::vector<HDSPoolInfo> pools(2);
  EXPECT_EQ(bed.recording().getPoolList(pools), 0);
  EXPECT_TRUE(pools.empty());
}

TEST_F(GetPoolList, FailuresReturnAnEmptyListWithTheOperationsText) {
  const HDSRecordingRunner::Reply replies[] = {
      HDSRecordingRunner::exit(1, kPoolListing, "raidcom: [EX_CMDRJE] refused\n"),
      HDSRecordingRunner::exit(221, "", "raidcom: [EX_CMDRJE] refused\n"),
      HDSRecordingRunner::timeout(),
  };
  for (const auto& reply : replies) {
    bed.recorder.clear();
    bed.recorder = HDSRecordingRunner();
    bed.recorder.on(" get pool ", reply);
    std::vector<HDSPoolInfo> pools(2);
    EXPECT_EQ(bed.recording().getPoolList(pools), 1);
    EXPECT_TRUE(pools.empty());
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText(), "Failed to get Pool list");
    EXPECT_EQ(bed.recorder.lines().size(), 1u) << "no retry";
    EXPECT_TRUE(bed.log.logged("Failed to get Pool list"));
  }
}

TEST_F(GetPoolList, RefusesANonDecimalSerialWithoutRunning) {
  bed.options.baseSerialNum = "412345;touch x";
  std::vector<HDSPoolInfo> pools;
  EXPECT_EQ(bed.recording().getPoolList(pools), 1);
  EXPECT_TRUE(bed.recorder.lines().empty());
  EXPECT_EQ(bed.errorCode(), 62601);
}

// ---- getPoolList against the simulator's tools ----------------------------

TEST(GetPoolListSimulator, ReadsThePoolsTheArrayHas) {
  HDSDiscoveryTestBed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  ccisim::Pool p;
  p.id = 7;
  p.name = "SNAPPOOL";
  p.usage = 42;
  p.threshold = 70;
  sim.addPool(HDSDiscoveryTestBed::kSerial, p);
  p.id = 8;
  p.name = "FULL";
  p.status = "POLF";
  p.usage = 99;
  sim.addPool(HDSDiscoveryTestBed::kSerial, p);

  std::vector<HDSPoolInfo> pools;
  ASSERT_EQ(impl.getPoolList(pools), 0) << bed.errorText();
  expectPools(pools, {{"007", "POLN", 42, "SNAPPOOL", 70}, {"008", "POLF", 99, "FULL", 70}}, "sim");
  const auto runs = sim.journal("raidcom", "get pool -key opt");
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].exitCode, 0);
  EXPECT_EQ(runs[0].instance, HDSDiscoveryTestBed::kInstance);
  EXPECT_EQ(runs[0].serial, HDSDiscoveryTestBed::kSerial);
}

TEST(GetPoolListSimulator, ACommandFailureOfTheToolIsReported) {
  HDSDiscoveryTestBed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  sim.addFault(ccisim::Fault::fail("raidcom", "get pool", 221, "raidcom: [EX_CMDRJE] refused"));
  std::vector<HDSPoolInfo> pools;
  EXPECT_EQ(impl.getPoolList(pools), 1);
  EXPECT_EQ(bed.errorText(), "Failed to get Pool list");
}

}  // namespace
