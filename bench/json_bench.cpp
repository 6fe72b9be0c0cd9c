// zrjson parse and write speed on the system's own messages, against
// nlohmann-json as the reference.
//
// Corpora: the small remote-execution messages (basic and map/unmap requests
// and responses), one map response of about 1 MB (a long device list), and a
// decimal-heavy document of about 1 MB (arrays of measurements, nearly every
// number with a fraction).
// "write" is the pretty wire form (json()); the reference writes its own
// TAB-indented form (dump(1, '\t')), which is of the same size.
//
// After the usual benchmark table the program prints zrjson's throughput
// and the ratio zrjson / reference for each case (above 1: zrjson faster).
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench/ZrBenchReport.h"
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

// Numbers of every size a measurement has: fractions of one to sixteen
// digits, large and small magnitudes, a few integers among them.
const Corpus& decimalCorpus() {
  static const Corpus corpus = [] {
    Corpus c;
    Object doc;
    Array rows;
    unsigned long long seed = 12345;
    auto next = [&seed] {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      return seed >> 11;
    };
    for (int i = 0; i < 4000; ++i) {
      Array row;
      for (int j = 0; j < 6; ++j) {
        const double mantissa = static_cast<double>(next() % 100000000000ULL) / 1e6;
        static const double kScale[] = {1, 1e-3, 1e3, 1e-7, 1e9, 1};
        const double v = j == 5 ? static_cast<double>(next() % 100000) : mantissa * kScale[j];
        row << Value(Number(v));
      }
      rows << Value(row);
    }
    doc.import("opResp", Value(Number(0)));
    doc.import("samples", Value(rows));
    c.texts.push_back(doc.json());
    c.bytes = c.texts[0].size();
    return c;
  }();
  return corpus;
}

const Corpus& corpusFor(int which) {
  return which == 0 ? smallCorpus() : which == 1 ? largeCorpus() : decimalCorpus();
}
const char* corpusName(int which) {
  return which == 0 ? "small" : which == 1 ? "large" : "decimal";
}

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
// Repeated in interleaved rounds (bench/ZrBenchReport.h); the summary takes
// the median, which a busy machine disturbs least.
BENCHMARK(ZrjsonParse)->DenseRange(0, 2);
BENCHMARK(ReferenceParse)->DenseRange(0, 2);
BENCHMARK(ZrjsonWrite)->DenseRange(0, 2);
BENCHMARK(ReferenceWrite)->DenseRange(0, 2);

}  // namespace

int main(int argc, char** argv) {
  // Keep freed memory in the process for both libraries alike: otherwise
  // glibc hands the megabyte-sized buffers of the large case back to the
  // kernel between iterations, depending on what ran before, and the page
  // faults of taking them again (expensive on virtual machines) swamp the
  // difference being measured.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  std::vector<char*> args = zrbench::interleavedArgs(argc, argv, 5);
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;
  zrbench::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nzrjson against nlohmann-json (ratio > 1: zrjson faster)\n");
  std::printf("%-6s %-6s %10s %14s %16s %8s\n", "op", "corpus", "bytes", "zrjson MB/s",
              "reference MB/s", "ratio");
  for (const char* op : {"Parse", "Write"}) {
    for (int which = 0; which < 3; ++which) {
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
