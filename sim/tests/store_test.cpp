// The state database writes only what changed: an array's pairs are rows by
// ranges of P-VOLs and a host group's LU paths a row of their own, so one
// change among many pairs or paths writes one row, and a save with nothing
// changed writes none. Every save reads back as it was saved, pair order
// included.
#include "sim/ccisim_store.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/testing/ScopedTempDir.h"

namespace {

using ccisim::Array;
using ccisim::SnapPair;
using ccisim::State;
using ccisim::detail::Store;

const char kSerial[] = "412345";
constexpr int kPairs = 200;  // over four ranges of P-VOLs

State manyPairs() {
  State s;
  Array& a = s.arrays[kSerial];
  a.serial = kSerial;
  for (int i = 0; i < kPairs; ++i) {
    SnapPair p;
    p.group = "QB_G";
    p.pvol = i;
    p.mu = 3;
    p.poolId = 5;
    p.state = "PAIR";
    p.seq = static_cast<uint64_t>(i + 1);
    a.pairs.push_back(p);
  }
  ccisim::Port& port = a.ports["CL1-A"];
  port.name = "CL1-A";
  port.wwn = "50060e8000000001";
  for (int gid = 1; gid <= 3; ++gid) {
    ccisim::HostGroup& hg = port.hostGroups[gid];
    hg.gid = gid;
    hg.name = "hg" + std::to_string(gid);
    for (int lun = 0; lun < 20; ++lun) hg.luns[lun] = 1000 + gid * 100 + lun;
  }
  return s;
}

std::vector<int> pvols(const State& s) {
  std::vector<int> out;
  for (const SnapPair& p : s.arrays.at(kSerial).pairs) out.push_back(p.pvol);
  return out;
}

class StoreRows : public ::testing::Test {
 protected:
  StoreRows() {
    std::string why;
    store = Store::open(dir.file("state.db"), true, why);
    EXPECT_NE(nullptr, store) << why;
    EXPECT_TRUE(store->begin(true, why) && store->replace(manyPairs(), why) &&
                store->commit(why))
        << why;
  }
  // Loads, changes, saves: the number of rows the save wrote.
  int change(const std::function<void(Array&)>& edit) {
    std::string why;
    State s;
    EXPECT_TRUE(store->begin(true, why) && store->load(s, true, why)) << why;
    edit(s.arrays.at(kSerial));
    const int written = store->save(s, why);
    EXPECT_TRUE(store->commit(why)) << why;
    return written;
  }
  State load() {
    std::string why;
    State s;
    EXPECT_TRUE(store->begin(false, why) && store->load(s, true, why)) << why;
    store->rollback();
    return s;
  }

  ScopedTempDir dir;
  std::unique_ptr<Store> store;
};

TEST_F(StoreRows, OneChangeWritesOneRow) {
  struct Case {
    const char* name;
    std::function<void(Array&)> edit;
    int rows;
  };
  const Case cases[] = {
      {"nothing", [](Array&) {}, 0},
      {"one pair's state", [](Array& a) { a.pair(130, 3)->state = "PSUS"; }, 1},
      {"a pair added to the last range", [](Array& a) {
         SnapPair p = a.pairs.back();
         p.pvol = 199;
         p.mu = 4;
         a.pairs.push_back(p);
       }, 1},
      {"a pair deleted from the first range", [](Array& a) { a.pairs.erase(a.pairs.begin() + 2); },
       1},
      {"one LU path", [](Array& a) { a.ports["CL1-A"].hostGroups[2].luns.erase(5); }, 1},
      {"pairs in two ranges",
       [](Array& a) {
         a.pair(10, 3)->progress = 50;
         a.pair(70, 3)->progress = 50;
       },
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.rows, change(c.edit));
  }
  const State s = load();
  const Array& a = s.arrays.at(kSerial);
  ASSERT_EQ(static_cast<size_t>(kPairs), a.pairs.size());
  EXPECT_EQ("PSUS", a.pair(130, 3)->state);
  EXPECT_NE(nullptr, a.pair(199, 4));
  EXPECT_EQ(nullptr, a.pair(2, 3));
  EXPECT_EQ(50, a.pair(10, 3)->progress);
  EXPECT_EQ(50, a.pair(70, 3)->progress);
  EXPECT_EQ(19u, a.hostGroup("CL1-A", 2)->luns.size());
  EXPECT_EQ(20u, a.hostGroup("CL1-A", 3)->luns.size());
}

TEST_F(StoreRows, PairsKeepTheirOrderAcrossRanges) {
  // A pair of the first range made last stays last.
  change([](Array& a) {
    SnapPair p = a.pairs.front();
    p.mu = 5;
    p.seq = kPairs + 1;
    a.pairs.push_back(p);
  });
  std::vector<int> want;
  for (int i = 0; i < kPairs; ++i) want.push_back(i);
  want.push_back(0);
  EXPECT_EQ(want, pvols(load()));
}

}  // namespace
