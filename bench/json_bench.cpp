// zrjson parse and write speed on the system's own messages, against
// nlohmann-json as the reference.
//
// Corpus: the small remote-execution messages (basic and map/unmap requests
// and responses) and one map response of about 1 MB (a long device list).
// "write" is the pretty wire form (json()); the reference writes its own
// TAB-indented form (dump(1, '\t')), which is of the same size.
//
// After the usual benchmark table the program prints zrjson's throughput
// and the ratio zrjson / reference for each case (above 1: zrjson faster).
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "json/zrjson.h"

namespace {

using zrjson::Array;
using zrjson::Number;
using zrjson::Object;
using zrjson::Value;

Array strings(const std::vector<std::string>& items) {
  Array a;
  for (const std::string& s : items) a << Value(s);
  return a;
}

Object mapResponse(int entries) {
  Array list;
  for (int i = 0; i < entries; ++i) {
    Object e;
    e.import("MSName", Value("SP_QB_20231_Pool" + std::to_string(i % 8) + "_" +
                             std::to_string(1700000000 + i)));
    e.import("MSNum", Value(std::to_string(7978 + i)));
    e.import("MSNumVSM", Value(i % 3 ? std::to_string(0x1F2A0 + i) : std::string()));
    list << Value(e);
  }
  Object response;
  response.import("opResp", Value(Number(0)));
  response.import("MapSnapInfoList", Value(list));
  return response;
}

struct Corpus {
  std::vector<std::string> texts;
  std::size_t bytes = 0;
};

const Corpus& smallCorpus() {
  static const Corpus corpus = [] {
    Corpus c;
    Object basicRequest;
    basicRequest.import("controlHostId", Value(Number(12)));
    Object basicResponse;
    basicResponse.import("opResp", Value(Number(0)));
    Object mapRequest;
    mapRequest.import("controlHostId", Value(Number(3)));
    mapRequest.import("HbaLocal",
                      Value(strings({"10:00:00:90:fa:12:34:56", "10:00:00:90:fa:12:34:57",
                                     "iqn.1994-05.com.redhat:mediaagent01"})));
    mapRequest.import(
        "HbaESX",
        Value(strings({"20:00:00:25:b5:0a:00:1f", "iqn.1998-01.com.vmware:esx01-4f2a11c3"})));
    for (const Object* o : {&basicRequest, &basicResponse, &mapRequest})
      c.texts.push_back(o->json());
    c.texts.push_back(mapResponse(4).json());
    for (const std::string& t : c.texts) c.bytes += t.size();
    return c;
  }();
  return corpus;
}

const Corpus& largeCorpus() {
  static const Corpus corpus = [] {
    Corpus c;
    c.texts.push_back(mapResponse(10500).json());  // about 1 MB
    c.bytes = c.texts[0].size();
    return c;
  }();
  return corpus;
}

const Corpus& corpusFor(int which) { return which == 0 ? smallCorpus() : largeCorpus(); }
const char* corpusName(int which) { return which == 0 ? "small" : "large"; }

void ZrjsonParse(benchmark::State& state) {
  const Corpus& c = corpusFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    for (const std::string& text : c.texts) {
      Object o;
      bool ok = o.parse(text);
      benchmark::DoNotOptimize(ok);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.bytes));
  state.SetLabel(corpusName(static_cast<int>(state.range(0))));
}

void ReferenceParse(benchmark::State& state) {
  const Corpus& c = corpusFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    for (const std::string& text : c.texts) {
      nlohmann::json j = nlohmann::json::parse(text);
      benchmark::DoNotOptimize(j);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.bytes));
  state.SetLabel(corpusName(static_cast<int>(state.range(0))));
}

void ZrjsonWrite(benchmark::State& state) {
  const Corpus& c = corpusFor(static_cast<int>(state.range(0)));
  std::vector<Object> parsed(c.texts.size());
  for (std::size_t i = 0; i < c.texts.size(); ++i) parsed[i].parse(c.texts[i]);
  for (auto _ : state) {
    for (const Object& o : parsed) {
      std::string text = o.json();
      benchmark::DoNotOptimize(text);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.bytes));
  state.SetLabel(corpusName(static_cast<int>(state.range(0))));
}

void ReferenceWrite(benchmark::State& state) {
  const Corpus& c = corpusFor(static_cast<int>(state.range(0)));
  std::vector<nlohmann::json> parsed;
  for (const std::string& text : c.texts) parsed.push_back(nlohmann::json::parse(text));
  for (auto _ : state) {
    for (const nlohmann::json& j : parsed) {
      std::string text = j.dump(1, '\t');
      benchmark::DoNotOptimize(text);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.bytes));
  state.SetLabel(corpusName(static_cast<int>(state.range(0))));
}

// Five repetitions each; the summary takes the median, which a busy machine
// disturbs least.
BENCHMARK(ZrjsonParse)->Arg(0)->Arg(1)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(ReferenceParse)->Arg(0)->Arg(1)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(ZrjsonWrite)->Arg(0)->Arg(1)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(ReferenceWrite)->Arg(0)->Arg(1)->Repetitions(5)->ReportAggregatesOnly(true);

// Keeps the time per iteration of every case (the median when repeated) for
// the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const std::string name = run.run_name.function_name + "/" + run.run_name.args;
      bool single = run.run_type == Run::RT_Iteration && m_oSeconds.count(name) == 0;
      if (median || single) {
        m_oSeconds[name] =
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double seconds(const std::string& name) const {
    auto it = m_oSeconds.find(name);
    return it == m_oSeconds.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> m_oSeconds;
};

}  // namespace

int main(int argc, char** argv) {
  // Keep freed memory in the process for both libraries alike: otherwise
  // glibc hands the megabyte-sized buffers of the large case back to the
  // kernel between iterations, depending on what ran before, and the page
  // faults of taking them again (expensive on virtual machines) swamp the
  // difference being measured.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nzrjson against nlohmann-json (ratio > 1: zrjson faster)\n");
  std::printf("%-6s %-6s %10s %14s %16s %8s\n", "op", "corpus", "bytes", "zrjson MB/s",
              "reference MB/s", "ratio");
  for (const char* op : {"Parse", "Write"}) {
    for (int which = 0; which < 2; ++which) {
      const std::string arg = "/" + std::to_string(which);
      double ours = reporter.seconds(std::string("Zrjson") + op + arg);
      double theirs = reporter.seconds(std::string("Reference") + op + arg);
      if (ours <= 0 || theirs <= 0) continue;
      double bytes = static_cast<double>(corpusFor(which).bytes);
      std::printf("%-6s %-6s %10.0f %14.1f %16.1f %8.2f\n", op, corpusName(which), bytes,
                  bytes / ours / 1e6, bytes / theirs / 1e6, theirs / ours);
    }
  }
  benchmark::Shutdown();
  return 0;
}
