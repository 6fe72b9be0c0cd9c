#pragma once
// Shared by the benchmark programs that set a measurement beside its
// baseline: runs every case in interleaved rounds (the repetitions of all
// cases in a random order, so that a busy machine slows both sides alike)
// and keeps the median time and counters of each case for a summary of
// ratios printed after the usual table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace zrbench {

// The medians of every case, by "function/args" name (args empty when the
// case has none).
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      std::string name = run.run_name.function_name;
      if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
      const bool single = run.run_type == Run::RT_Iteration && m_seconds.count(name) == 0;
      if (!median && !single) continue;
      m_seconds[name] = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      for (const auto& c : run.counters) m_counters[name][c.first] = c.second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // Median seconds per iteration; 0 when the case did not run.
  double seconds(const std::string& name) const {
    auto it = m_seconds.find(name);
    return it == m_seconds.end() ? 0 : it->second;
  }
  // Median of a counter; 0 when absent.
  double counter(const std::string& name, const std::string& key) const {
    auto it = m_counters.find(name);
    if (it == m_counters.end()) return 0;
    auto c = it->second.find(key);
    return c == it->second.end() ? 0 : c->second;
  }

 private:
  std::map<std::string, double> m_seconds;
  std::map<std::string, std::map<std::string, double>> m_counters;
};

// The arguments with interleaved rounds switched on (repetitions cases,
// random order, aggregates only) unless the caller chose otherwise.
inline std::vector<char*> interleavedArgs(int argc, char** argv, int repetitions) {
  static std::vector<std::string> added;
  std::vector<char*> out(argv, argv + argc);
  auto given = [&](const char* flag) {
    for (int i = 1; i < argc; ++i)
      if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) return true;
    return false;
  };
  if (!given("--benchmark_repetitions"))
    added.push_back("--benchmark_repetitions=" + std::to_string(repetitions));
  if (!given("--benchmark_enable_random_interleaving"))
    added.push_back("--benchmark_enable_random_interleaving=true");
  if (!given("--benchmark_report_aggregates_only"))
    added.push_back("--benchmark_report_aggregates_only=true");
  for (std::string& a : added) out.push_back(&a[0]);
  return out;
}

// One line of the summary: ours against the baseline, both medians.
inline void printRatio(const char* what, double ours, double baseline, const char* unit,
                       double scale) {
  if (ours <= 0 || baseline <= 0) {
    std::printf("%-44s (not measured)\n", what);
    return;
  }
  std::printf("%-44s %12.3f %12.3f %s  ratio %.2f\n", what, ours * scale, baseline * scale, unit,
              ours / baseline);
}

}  // namespace zrbench
