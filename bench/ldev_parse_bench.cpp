// Speed of the LDEV listing parser on a whole-array listing: 65,280 blocks
// ("raidcom get ldev -ldev_id 0 -cnt 65280"), rendered by the simulator, as
// an S-VOL search on the largest models reads it. Reports MB/s and LDEVs/s.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "array/HDSParseLdev.h"
#include "array/HDSRaidcomImplementer.h"
#include "sim/ccisim_fixture.h"

namespace {

constexpr int kLdevs = 65280;

// definedEvery: one LDEV in that many is defined (with attributes, a label
// and, for some, LU paths); the others are free ids, as most of a large
// array's id space is.
std::string buildListing(int definedEvery) {
  ccisim::Array a;
  a.serial = "412345";
  a.model = "R9";
  a.maxLdev = 65279;
  ccisim::Port port;
  port.name = "CL1-A";
  for (int gid = 0; gid < 4; ++gid) {
    ccisim::HostGroup hg;
    hg.gid = gid;
    hg.name = "QB_PSHG_host_group_" + std::to_string(gid);
    port.hostGroups[gid] = hg;
  }
  std::vector<int> ids;
  ids.reserve(kLdevs);
  for (int id = 0; id < kLdevs; ++id) {
    ids.push_back(id);
    if (id % definedEvery != 0) continue;
    ccisim::Ldev l;
    l.id = id;
    l.defined = true;
    l.capacity = 2097152 + static_cast<uint64_t>(id);
    l.attrs = {"CVS", "HDP"};
    l.poolId = "5";
    l.label = "QB_SVOL_db " + std::to_string(id);
    l.rsgid = id % 3;
    l.mpBlade = id % 8;
    if (id % 5 == 0) l.vid = id + 1;
    a.ldevs[id] = l;
    if (id % 7 == 0) port.hostGroups[id % 4].luns[id % 2048] = id;
  }
  a.ports[port.name] = port;
  return ccisim::renderGetLdev(a, ids);
}

void runParse(benchmark::State& state, const std::string& listing) {
  size_t parsed = 0;
  for (auto _ : state) {
    std::vector<HDSLdevInfo> ldevs;
    parsed = hdsparse::parseGetLdevOutput(listing, ldevs, std::string_view());
    benchmark::DoNotOptimize(ldevs.data());
    benchmark::ClobberMemory();
  }
  if (parsed != static_cast<size_t>(kLdevs)) state.SkipWithError("listing not read whole");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(listing.size()));
  state.counters["LDEVs/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kLdevs,
                                                 benchmark::Counter::kIsRate);
  state.counters["listing_MB"] = static_cast<double>(listing.size()) / 1e6;
}

// Every id defined: the densest listing.
void BM_ParseGetLdev_AllDefined(benchmark::State& state) {
  static const std::string listing = buildListing(1);
  runParse(state, listing);
}
BENCHMARK(BM_ParseGetLdev_AllDefined)->Unit(benchmark::kMillisecond);

// One id in four defined, the rest free.
void BM_ParseGetLdev_QuarterDefined(benchmark::State& state) {
  static const std::string listing = buildListing(4);
  runParse(state, listing);
}
BENCHMARK(BM_ParseGetLdev_QuarterDefined)->Unit(benchmark::kMillisecond);

// The label filter of an S-VOL search: compares every block, keeps one.
void BM_ParseGetLdev_LabelFilter(benchmark::State& state) {
  static const std::string listing = buildListing(1);
  const std::map<int, std::string> filter{{HDS_LDEV_FILTER_LABEL, "QB_SVOL_db 65000"}};
  for (auto _ : state) {
    std::vector<HDSLdevInfo> ldevs;
    ZRHDSRaidcomImplementer::parseGetLdevOutput(listing, ldevs, filter);
    if (ldevs.size() != 1) state.SkipWithError("label filter kept the wrong blocks");
    benchmark::DoNotOptimize(ldevs.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(listing.size()));
  state.counters["LDEVs/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kLdevs,
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ParseGetLdev_LabelFilter)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
