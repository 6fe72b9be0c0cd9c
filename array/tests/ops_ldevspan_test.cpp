// The listing of a span of LDEV ids (getLdevSpan): its command line, what it
// reads, every answer that is not the array's listing of that span, the
// spans it refuses to ask for, and the simulator's answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSDiscoveryTestBed.h"
#include "sim/ccisim_fixture.h"

namespace {

using Bed = HDSDiscoveryTestBed;
using Reply = HDSRecordingRunner::Reply;

std::string block(const std::string& serial, const std::string& ldev,
                  const std::string& label = "") {
  return "Serial#  : " + serial + "\nLDEV : " + ldev +
         "\nVOL_TYPE : OPEN-V-CVS\nVOL_Capacity(BLK) : 1024\nLDEV_NAMING : " + label +
         "\nRSGID : 0\n\n";
}

std::string undefined(const std::string& ldev) {
  return "Serial#  : 412345\nLDEV : " + ldev + "\nVOL_TYPE : NOT DEFINED\n\n";
}

TEST(GetLdevSpan, OneListingReadsEveryIdOfTheSpan) {
  Bed bed;
  bed.recorder.on(" get ldev ", HDSRecordingRunner::ok(block("412345", "600", "QB_SVOL_a") +
                                                       undefined("601") +
                                                       block("412345", "602", "QB_SVOL_b")));
  std::vector<HDSLdevInfo> out(1);
  ASSERT_EQ(bed.recording().getLdevSpan(600, 3, out), 0) << bed.errorText();
  EXPECT_EQ(bed.recorder.lines(),
            (std::vector<std::string>{"/cci/raidcom  get ldev   -ldev_id 600 -cnt 3" + Bed::im()}));
  ASSERT_EQ(out.size(), 4u) << "appended";
  EXPECT_EQ(out[1].ldevId, "600");
  EXPECT_EQ(out[1].label, "QB_SVOL_a");
  EXPECT_EQ(out[2].volType, "NOTDEFINED");
  EXPECT_EQ(out[3].capacityBlocks, 1024u);
}

TEST(GetLdevSpan, AnAnswerThatIsNotTheSpansListingIsAFailure) {
  struct Row {
    const char* what;
    Reply reply;
  };
  const std::vector<Row> rows = {
      {"refused", HDSRecordingRunner::exit(1, "", "raidcom: [EX_CMDRJE]")},
      {"nothing matched", HDSRecordingRunner::exit(246, "", "raidcom: [EX_ENODEV]")},
      {"timed out", HDSRecordingRunner::timeout()},
      {"empty", HDSRecordingRunner::ok("")},
      {"no block", HDSRecordingRunner::ok("raidcom: something else\n")},
      {"another array", HDSRecordingRunner::ok(block("412345", "600") + block("512345", "601"))},
      {"below the span", HDSRecordingRunner::ok(block("412345", "599"))},
      {"above the span", HDSRecordingRunner::ok(block("412345", "600") + block("412345", "602"))},
      {"listed twice", HDSRecordingRunner::ok(block("412345", "600") + block("412345", "600"))},
      {"no number", HDSRecordingRunner::ok(block("412345", "6x0"))},
      {"no LDEV id", HDSRecordingRunner::ok(block("412345", ""))},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Bed bed;
    bed.recorder.on(" get ldev ", r.reply);
    std::vector<HDSLdevInfo> out;
    EXPECT_EQ(bed.recording().getLdevSpan(600, 2, out), 1);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText(), "Failed to list the LDEVs 600 to 601.");
  }
}

TEST(GetLdevSpan, SpansOutsideTheIdsAreNeverAskedFor) {
  struct Row {
    int first;
    int count;
  };
  const std::vector<Row> rows = {{-1, 1}, {0, 0}, {0, -5}, {0, 65281}, {65279, 2}, {70000, 1}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.first) + "+" + std::to_string(r.count));
    Bed bed;
    std::vector<HDSLdevInfo> out;
    EXPECT_EQ(bed.recording().getLdevSpan(r.first, r.count, out), 1);
    EXPECT_TRUE(bed.recorder.lines().empty());
    EXPECT_EQ(bed.errorCode(), 62601);
    EXPECT_EQ(bed.errorText().rfind("Invalid input: LDEV span", 0), 0u) << bed.errorText();
  }
}

TEST(GetLdevSpan, TheSimulatorListsDefinedAndUndefinedIds) {
  Bed bed;
  ccisim::Fixture sim;
  ZRHDSRaidcomImplementer& impl = bed.simulator(sim);
  sim.addSourceLdev(Bed::kSerial, 256, 2097152, 0, "src a");
  sim.addSourceLdev(Bed::kSerial, 258, 4096);
  std::vector<HDSLdevInfo> out;
  ASSERT_EQ(impl.getLdevSpan(256, 3, out), 0) << bed.errorText();
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].label, "srca");
  EXPECT_EQ(out[1].volAttr, 1) << "an id without an LDEV reads undefined";
  EXPECT_EQ(out[2].capacityBlocks, 4096u);
  EXPECT_EQ(sim.journal("raidcom", "get ldev -ldev_id 256 -cnt 3").size(), 1u);
}

}  // namespace
