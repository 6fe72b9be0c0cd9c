// zrjson against nlohmann-json on hostile and number-heavy input of about
// 1 MB each: the text a remote peer could send. Goals: every case parses
// within 50 ms using at most 32 MB of heap, and number-heavy text parses at
// no less than the reference's speed.
//
// Heap is measured by this program's own operator new: the peak of live
// bytes (each block counted with its allocator overhead) while one parse
// runs and its result is alive, the input text not included. Blocks are
// counted only during that one parse, so it must free exactly what it
// allocated.
//
// After the benchmark table the program prints, per case, the median time
// and peak heap of both libraries and whether zrjson meets the goals.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "json/zrjson.h"

// ---- heap accounting ---------------------------------------------------------

namespace {
// Counted only while a peak is being measured, so that the timed runs pay
// nothing for it.
bool g_counting = false;
std::size_t g_live = 0;
std::size_t g_peak = 0;

// The chunk glibc hands out for the block: its usable size plus the header.
std::size_t footprint(void* p) { return malloc_usable_size(p) + sizeof(std::size_t); }

void* allocate(std::size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  if (g_counting) {
    g_live += footprint(p);
    if (g_live > g_peak) g_peak = g_live;
  }
  return p;
}
void deallocate(void* p) {
  if (p == nullptr) return;
  if (g_counting) g_live -= footprint(p);
  std::free(p);
}
}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void operator delete(void* p) noexcept { deallocate(p); }
void operator delete[](void* p) noexcept { deallocate(p); }
void operator delete(void* p, std::size_t) noexcept { deallocate(p); }
void operator delete[](void* p, std::size_t) noexcept { deallocate(p); }

namespace {

constexpr std::size_t kSize = 1 << 20;

// Appends item (then sep) until the text holds about kSize bytes.
std::string repeated(const std::string& open, const std::function<std::string(int)>& item,
                     const std::string& sep, const std::string& close) {
  std::string t = open;
  for (int i = 0; t.size() < kSize - close.size(); ++i) {
    if (i > 0) t += sep;
    t += item(i);
  }
  return t + close;
}

struct Case {
  const char* name;
  bool numberHeavy;
  std::string text;
};

std::vector<Case> makeCases() {
  std::vector<Case> c;
  // A million empty values: each comma reads a null.
  c.push_back({"commas", false, "[" + std::string(kSize - 1, ',')});
  c.push_back({"nulls", false,
               repeated(
                   "[", [](int) { return "null"; }, ",", "]")});
  c.push_back({"digits", true,
               repeated(
                   "[", [](int i) { return std::to_string(i % 10); }, ",", "]")});
  c.push_back({"numbers", true,
               repeated(
                   "[",
                   [](int i) {
                     switch (i % 4) {
                       case 0:
                         return std::to_string(i * 7919);
                       case 1:
                         return "-0." + std::to_string(i % 997);
                       case 2:
                         return std::to_string(i % 89) + ".5e" + std::to_string(i % 21 - 10);
                       default:
                         return std::to_string(i) + "e-3";
                     }
                   },
                   ", ", "]")});
  c.push_back({"number_members", true,
               repeated(
                   "{", [](int i) { return "\"k" + std::to_string(i) + "\":" + std::to_string(i); },
                   ",", "}")});
  c.push_back({"empty_strings", false,
               repeated(
                   "[", [](int) { return "\"\""; }, ",", "]")});
  c.push_back({"empty_objects", false,
               repeated(
                   "[", [](int) { return "{}"; }, ",", "]")});
  c.push_back({"empty_arrays", false,
               repeated(
                   "[", [](int) { return "[]"; }, ",", "]")});
  c.push_back(
      {"deep", false,
       repeated(
           "[", [](int) { return std::string(120, '[') + std::string(120, ']'); }, ",", "]")});
  c.push_back({"deep_objects", false,
               repeated(
                   "[",
                   [](int) {
                     std::string t;
                     for (int i = 0; i < 120; ++i) t += "{\"\":";
                     return t + "0" + std::string(120, '}');
                   },
                   ",", "]")});
  c.push_back({"small_objects", false,
               repeated(
                   "[", [](int) { return "{\"\":[]}"; }, ",", "]")});
  c.push_back({"long_string", false, "[\"" + std::string(kSize - 4, 'x') + "\"]"});
  c.push_back({"escapes", false,
               "[\"" +
                   repeated(
                       "", [](int) { return "\\u00e9\\n"; }, "", "") +
                   "\"]"});
  return c;
}

const std::vector<Case>& cases() {
  static const std::vector<Case> all = makeCases();
  return all;
}

struct Figures {
  double zrMs = 0, refMs = 0;
  double zrPeakMb = 0, refPeakMb = 0;
};
std::map<std::string, Figures> g_figures;

bool zrParse(const std::string& text) {
  zrjson::Value v;
  return v.parse(text);
}
bool refParse(const std::string& text) {
  nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  return !j.is_discarded();
}

// Peak heap of one parse whose result is kept alive until the end.
template <typename Parse>
double peakMb(const std::string& text, Parse parse) {
  g_live = g_peak = 0;
  g_counting = true;
  parse(text);
  g_counting = false;
  return static_cast<double>(g_peak) / (1 << 20);
}

void ZrjsonHostile(benchmark::State& state) {
  const Case& c = cases()[static_cast<std::size_t>(state.range(0))];
  g_figures[c.name].zrPeakMb = peakMb(c.text, zrParse);
  for (auto _ : state) benchmark::DoNotOptimize(zrParse(c.text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.text.size()));
  state.SetLabel(c.name);
}

void ReferenceHostile(benchmark::State& state) {
  const Case& c = cases()[static_cast<std::size_t>(state.range(0))];
  g_figures[c.name].refPeakMb = peakMb(c.text, refParse);
  for (auto _ : state) benchmark::DoNotOptimize(refParse(c.text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.text.size()));
  state.SetLabel(c.name);
}

// Both libraries on one case one after the other, so that a change in the
// machine's load between cases does not tilt the comparison.
void registerCases() {
  for (std::size_t i = 0; i < cases().size(); ++i) {
    for (auto* b : {benchmark::RegisterBenchmark("ZrjsonHostile", ZrjsonHostile),
                    benchmark::RegisterBenchmark("ReferenceHostile", ReferenceHostile)}) {
      b->Arg(static_cast<int64_t>(i))
          ->Unit(benchmark::kMillisecond)
          ->Repetitions(5)
          ->ReportAggregatesOnly(true);
    }
  }
}

// Keeps the median time of every case for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
      const std::size_t index = std::stoul(run.run_name.args);
      const double ms =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
      Figures& f = g_figures[cases()[index].name];
      (run.run_name.function_name == "ZrjsonHostile" ? f.zrMs : f.refMs) = ms;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // Freed memory stays in the process, for both libraries alike (see
  // json_bench.cpp).
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  registerCases();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf(
      "\nhostile input, about 1 MB each (goal: zrjson <= 50 ms, <= 32 MB; number-heavy "
      "speed >= reference)\n");
  std::printf("%-15s %9s %9s %11s %11s %7s  %s\n", "case", "zrjson ms", "ref ms", "zrjson MB",
              "ref MB", "speed", "goal");
  int missed = 0;
  for (const Case& c : cases()) {
    const Figures& f = g_figures[c.name];
    if (f.zrMs <= 0) continue;
    const double speed = f.refMs > 0 ? f.refMs / f.zrMs : 0;
    const bool met = f.zrMs <= 50 && f.zrPeakMb <= 32 && (!c.numberHeavy || speed >= 1);
    missed += !met;
    std::printf("%-15s %9.2f %9.2f %11.1f %11.1f %7.2f  %s\n", c.name, f.zrMs, f.refMs, f.zrPeakMb,
                f.refPeakMb, speed, met ? "met" : "MISSED");
  }
  benchmark::Shutdown();
  return missed == 0 ? 0 : 1;
}
