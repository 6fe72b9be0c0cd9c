// S-VOL selection and creation against the simulator: CU ranges, free ids
// CU by CU, virtual-id clashes on a virtual storage machine, exhaustion that
// leaves the array unchanged, and rollbacks that delete only this call's
// LDEVs.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "handler/tests/support/HDSHandlerTestBed.h"
#include "host/testing/ZrFakeClock.h"

namespace {

using Bed = HDSHandlerTestBed;
constexpr uint64_t kBlocks = 4194304;  // the test bed's source capacity

// Every id of CU `cu` defined except those in `free`.
void fillCu(Bed& bed, int cu, const std::set<int>& free) {
  bed.sim.setArray(Bed::kSerial, [&](ccisim::Array& a) {
    for (int id = cu * 256; id < cu * 256 + 256; ++id) {
      if (free.count(id)) continue;
      ccisim::Ldev& l = a.ldevRef(id);
      l.defined = true;
      l.capacity = kBlocks;
      l.attrs = {"CVS", "HDP"};
    }
  });
}

std::set<int> definedIds(Bed& bed) {
  std::set<int> ids;
  const ccisim::State state = bed.sim.load();
  for (const auto& l : state.arrays.at(Bed::kSerial).ldevs) {
    if (l.second.defined) ids.insert(l.first);
  }
  return ids;
}

class Svol : public ::testing::Test {
 protected:
  Svol() : scoped(&clock) {
    bed.sim.addPort(Bed::kSerial, "CL1-A", "50060e8000000001");
    bed.options.preSnapPort = "CL1-A";
    bed.options.noVvolCreate = false;
  }
  void sources(const std::vector<int>& ids) {
    bed.addSources(ids);
    for (ZRHDSSnapInfo& s : bed.snaps) {
      s.capacity = kBlocks;
      s.snapMu = "3";
      s.svolLabel = "QB_SVOL_s" + s.baseDevNo;
    }
  }
  std::unique_ptr<ZRHDSCommandHandler> handler() {
    auto h = bed.handler(15);
    EXPECT_TRUE(h->IsHandlerInitialized()) << Bed::error(*h).second;
    return h;
  }

  ZrFakeClock clock;
  ZrScopedClock scoped;
  Bed bed;
};

TEST_F(Svol, CuRangeTable) {
  sources({16});
  auto h = handler();
  struct Row {
    std::string range;
    bool ok;
    std::set<std::string> cus;
  } rows[] = {
      {"", true, {}},     {"1-3", true, {"1", "2", "3"}},
      {"7", true, {"7"}}, {"1, 2", true, {"1", "2"}},
      {"3-1", true, {}},  {"8", false, {}},  // the model's highest LDEV is 2047: CUs 0 to 7
      {"0-8", false, {}}, {"1,,3", false, {"1"}},
      {",1", false, {}},  {"zz", false, {}},
      {"1-", false, {}},  {"1-2-3", false, {}},
  };
  for (const Row& row : rows) {
    bed.options.cuRange = row.range;
    std::set<std::string> cus;
    int maxCU = 0;
    EXPECT_EQ(row.ok, h->parseCURange(cus, maxCU)) << row.range;
    EXPECT_EQ(8, maxCU);
    if (!row.ok) {
      std::string text = row.range + (row.range.back() == ',' ? "" : ",");
      EXPECT_EQ(std::make_pair(
                    11, "CU range-[" + text + "] is invalid. Maximum LDEV on the array is-[2047]."),
                Bed::error(*h))
          << row.range;
    }
    EXPECT_EQ(row.cus, cus) << row.range;
  }
}

// Use-existing mode: V-VOLs named by the label, of the source's capacity,
// each given once, within the CU range; a range that names no CU (a
// reversed one) selects nothing rather than lifting the restriction.
TEST_F(Svol, ExistingVvolsAreChosenWithinTheCuRange) {
  struct Row {
    const char* range;
    std::vector<std::string> chosen;  // empty: refused with 62008
  } rows[] = {{"", {"300", "600"}}, {"2", {"600", "603"}}, {"3-1", {}}, {"1", {}}};
  sources({16, 17});
  bed.options.noVvolCreate = true;
  bed.options.label = "QB_TGT";
  auto vvol = [&](int id, uint64_t blocks, const char* label) {
    ccisim::Ldev l;
    l.id = id;
    l.capacity = blocks;
    l.attrs = {"CVS", "VVOL"};
    l.label = label;
    bed.sim.addLdev(Bed::kSerial, l);
  };
  vvol(300, kBlocks, "QB_TGT");
  vvol(600, kBlocks, "QB_TGT");
  vvol(601, kBlocks / 2, "QB_TGT");
  vvol(602, kBlocks, "other");
  vvol(603, kBlocks, "QB_TGT");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.range);
    bed.options.cuRange = row.range;
    for (ZRHDSSnapInfo& s : bed.snaps) s.snapLdevId.clear();
    auto h = handler();
    bed.sim.clearJournal();
    const bool ok = h->allocateTargetDevices({});
    EXPECT_EQ(!row.chosen.empty(), ok) << Bed::error(*h).second;
    EXPECT_EQ(0u, bed.count("add ldev"));
    if (!ok) {
      EXPECT_EQ(62008, Bed::error(*h).first);
      continue;
    }
    std::vector<std::string> chosen;
    for (const ZRHDSSnapInfo& s : bed.snaps) {
      chosen.push_back(s.snapLdevId);
      EXPECT_EQ("OLDDEV", s.snapOriginalState);
    }
    EXPECT_EQ(row.chosen, chosen);
    ASSERT_TRUE(h->freeSvolsForSource()) << Bed::error(*h).second;
  }
}

TEST_F(Svol, CreatesAcrossCusLabelsAndPreMaps) {
  sources({16, 17});
  fillCu(bed, 1, {300});
  bed.options.cuRange = "1-2";
  auto h = handler();
  ASSERT_TRUE(h->allocateTargetDevices({})) << Bed::error(*h).second;
  EXPECT_EQ("300", bed.snaps[0].snapLdevId);
  EXPECT_EQ("512", bed.snaps[1].snapLdevId);
  EXPECT_EQ("NEWDEV", bed.snaps[1].snapOriginalState);
  EXPECT_NE(std::string::npos, bed.logs().find("Found only [1] S-VOLs out of [2], will try"));
  ccisim::Array a = bed.sim.load().arrays.at(Bed::kSerial);
  EXPECT_EQ("QB_SVOL_s16", a.ldev(300).label);
  EXPECT_EQ(kBlocks, a.ldev(512).capacity);
  const ccisim::HostGroup* pre = a.hostGroup("CL1-A", 1);
  ASSERT_NE(nullptr, pre);
  EXPECT_EQ("QB_PRE_SNAP_HOST_GROUP", pre->name);
  EXPECT_EQ(2u, pre->luns.size());
  // One LDEV listing per CU walked (and the probe of the highest id), none
  // of the whole array; the new S-VOLs are read back with one listing.
  EXPECT_EQ(2u, bed.count("-cnt 256"));
  EXPECT_EQ(1u, bed.count("get ldev -ldev_id 300 -cnt 213"));
  EXPECT_EQ(4u, bed.count("get ldev -ldev_id"));
}

TEST_F(Svol, VirtualIdClashOnAVirtualStorageMachine) {
  sources({16});
  fillCu(bed, 1, {300, 301});
  bed.options.cuRange = "1";
  auto h = handler();
  bed.options.isVSM = true;
  bed.options.arrayId = "500123";
  HDSLdevInfo holder;
  holder.ldevId = "700";
  holder.virtualLdevId = "300";  // id 300 would get virtual id 300 too
  holder.resourceGroupId = 0;
  ASSERT_TRUE(h->createSvolsForSource({holder})) << Bed::error(*h).second;
  EXPECT_EQ("301", bed.snaps[0].snapLdevId);
}

TEST_F(Svol, ExhaustionLeavesTheArrayUnchanged) {
  sources({16, 17});
  fillCu(bed, 1, {300});
  bed.options.cuRange = "1";
  auto h = handler();
  const std::set<int> before = definedIds(bed);
  bed.sim.clearJournal();
  EXPECT_FALSE(h->allocateTargetDevices({}));
  EXPECT_EQ(std::make_pair(62008, std::string("Failed to find S-VOLs for all the P-VOLs.")),
            Bed::error(*h));
  EXPECT_EQ(before, definedIds(bed));
  EXPECT_EQ(0u, bed.count("add ldev") + bed.count("delete ldev"));
  EXPECT_TRUE(bed.snaps[0].snapLdevId.empty()) << "no record names an LDEV never created";
}

// A labelling or pre-mapping failure deletes the LDEVs this call created and
// nothing else: a target the snapshot already had stays, with its label.
// The targets already associated are read from one listing of each
// snapshot group the records name; a record whose group does not list its
// pair (or that names none) is looked for by its source LDEV.
TEST_F(Svol, AssociatedTargetsComeFromOneListingPerGroup) {
  struct Case {
    const char* what;
    const char* groupOfThird;  // the group the third record names
    size_t byLdev;             // listings by LDEV
    bool ok;                   // false: the stored group is refused
  } cases[] = {
      {"every record names its group", "QB_7", 0, true},
      {"a record names no group", "", 1, true},
      {"a record names a group that does not hold its pair", "QB_OTHER", 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bed fresh;
    fresh.addSources({16, 17, 18});
    for (int i = 0; i < 3; ++i) {
      fresh.sim.addSourceLdev(Bed::kSerial, 400 + i, kBlocks, 5);
      ZRHDSSnapInfo& snap = fresh.snaps[static_cast<size_t>(i)];
      snap.snapMu = std::to_string(
          fresh.sim.addSnapshotPair(Bed::kSerial, "QB_7", 16 + i, 5, "PSUS", false, 400 + i));
      snap.snapshotGroup = i == 2 ? c.groupOfThird : "QB_7";
    }
    fresh.sim.addSnapshotPair(Bed::kSerial, "QB_OTHER", 19, 5, "PSUS");
    auto h = fresh.handler(15);
    fresh.sim.clearJournal();
    int found = 0;
    const bool ok = h->checkAlreadyCreatedTargets(found);
    EXPECT_EQ(1u, fresh.count("get snapshot -snapshotgroup QB_7"));
    EXPECT_EQ(c.byLdev, fresh.count("get snapshot -ldev_id"));
    ASSERT_EQ(c.ok, ok) << Bed::error(*h).second;
    if (!ok) continue;
    // The sources with one listing, the targets found with one more.
    EXPECT_EQ(2u, fresh.count("get ldev"));
    EXPECT_EQ(1u, fresh.count("get ldev -ldev_id 16 -cnt 3"));
    EXPECT_EQ(1u, fresh.count("get ldev -ldev_id 400 -cnt 3"));
    EXPECT_EQ(3, found);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(std::to_string(400 + i), fresh.snaps[static_cast<size_t>(i)].snapLdevId);
      EXPECT_TRUE(fresh.snaps[static_cast<size_t>(i)].snapMapped);
    }
  }
}

TEST_F(Svol, RollbackDeletesOnlyThisCallsLdevs) {
  const char* failures[] = {"modify ldev", "add host_grp"};
  for (const char* failing : failures) {
    Bed fresh;
    fresh.sim.addPort(Bed::kSerial, "CL1-A", "50060e8000000001");
    fresh.options.preSnapPort = "CL1-A";
    fresh.options.noVvolCreate = false;
    fresh.options.cuRange = "1";
    fresh.addSources({16, 17});
    for (ZRHDSSnapInfo& s : fresh.snaps) {
      s.capacity = kBlocks;
      s.svolLabel = "QB_SVOL_s" + s.baseDevNo;
    }
    fresh.sim.addSourceLdev(Bed::kSerial, 400, kBlocks, 5, "admin");
    fresh.snaps[0].snapMu =
        std::to_string(fresh.sim.addSnapshotPair(Bed::kSerial, "QB_7", 16, 5, "PSUS", false, 400));
    fresh.snaps[1].snapMu = std::to_string(fresh.sim.addSnapshotPair(Bed::kSerial, "QB_7", 17, 5));
    auto h = fresh.handler(15);
    int found = 0;
    ASSERT_TRUE(h->checkAlreadyCreatedTargets(found));
    ASSERT_EQ(1, found);
    EXPECT_EQ("400", fresh.snaps[0].snapLdevId);
    fresh.sim.addFault(ccisim::Fault::fail("raidcom", failing, 1, "refused\n", -1));
    EXPECT_FALSE(h->allocateTargetDevices({})) << failing;
    ccisim::Array a = fresh.sim.load().arrays.at(Bed::kSerial);
    EXPECT_EQ(1u, fresh.count("-ldev_id 256 -capacity")) << failing;
    EXPECT_FALSE(a.ldev(256).defined) << failing << ": created here, deleted again";
    EXPECT_TRUE(a.ldev(400).defined) << failing;
    EXPECT_EQ(0u, fresh.count("delete ldev -ldev_id 400")) << failing;
  }
}

}  // namespace
