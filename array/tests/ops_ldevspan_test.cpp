// The listing of a span of LDEV ids (getLdevSpan): its command line, what it
// reads, every answer that is not the array's listing of that span, and the
// spans it refuses to ask for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "array/HDSRaidcomImplementer.h"
#include "array/tests/support/HDSDiscoveryTestBed.h"

namespace {

using Bed = HDSDiscoveryTestBed;
using Runner = HDSRecordingRunner;

std::string block(const std::string& ldev, const std::string& serial = "412345") {
  return "Serial#  : " + serial + "\nLDEV : " + ldev + "\nVOL_TYPE : " +
         (ldev == "601" ? "NOT DEFINED" : "OPEN-V-CVS\nLDEV_NAMING : QB_SVOL_" + ldev) + "\n\n";
}

TEST(GetLdevSpan, OneListingReadsEveryIdOfTheSpan) {
  Bed bed;
  bed.recorder.on(" get ldev ", Runner::ok(block("600") + block("601") + block("602")));
  std::vector<HDSLdevInfo> out(1);
  ASSERT_EQ(bed.recording().getLdevSpan(600, 3, out), 0) << bed.errorText();
  EXPECT_EQ(bed.recorder.lines(),
            (std::vector<std::string>{"/cci/raidcom  get ldev   -ldev_id 600 -cnt 3" + Bed::im()}));
  ASSERT_EQ(out.size(), 4u) << "appended";
  EXPECT_EQ(out[1].label + " " + out[2].volType + " " + out[3].label,
            "QB_SVOL_600 NOTDEFINED QB_SVOL_602");
}

TEST(GetLdevSpan, AnAnswerThatIsNotTheSpansListingIsAFailure) {
  const std::vector<Runner::Reply> rows = {
      Runner::exit(1, "", "raidcom: [EX_CMDRJE]"), Runner::exit(246, "", "raidcom: [EX_ENODEV]"),
      Runner::timeout(), Runner::ok(""), Runner::ok("raidcom: something else\n"),
      Runner::ok(block("600") + block("601", "512345")),  // another array
      Runner::ok(block("599")), Runner::ok(block("600") + block("602")),  // outside the span
      Runner::ok(block("600") + block("600")), Runner::ok(block("6x0")), Runner::ok(block("")),
  };
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    Bed bed;
    bed.recorder.on(" get ldev ", rows[i]);
    std::vector<HDSLdevInfo> out;
    EXPECT_EQ(bed.recording().getLdevSpan(600, 2, out), 1);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(std::to_string(bed.errorCode()) + " " + bed.errorText(),
              "62601 Failed to list the LDEVs 600 to 601.");
  }
}

TEST(GetLdevSpan, SpansOutsideTheIdsAreNeverAskedFor) {
  const std::vector<std::pair<int, int>> rows = {{-1, 1},     {0, 0},     {0, -5},
                                                 {0, 65281}, {65279, 2}, {70000, 1}};
  for (const auto& r : rows) {
    SCOPED_TRACE(std::to_string(r.first) + "+" + std::to_string(r.second));
    Bed bed;
    std::vector<HDSLdevInfo> out;
    EXPECT_EQ(bed.recording().getLdevSpan(r.first, r.second, out), 1);
    EXPECT_TRUE(bed.recorder.lines().empty());
    EXPECT_EQ(bed.errorText().rfind("Invalid input: LDEV span", 0), 0u) << bed.errorText();
  }
}

}  // namespace
