// Cost of one simulated tool run as a whole process, beside /bin/true started
// the same way in the same run, on arrays of 10 and 65,280 defined LDEVs.
// Counters:
//   ratio          time of the tool run / time of /bin/true (goal: <= 3 for a
//                  single-LDEV query at 65,280 LDEVs)
//   size_ratio     the same query at 65,280 LDEVs / at 10 LDEVs (goal: <= 1.5)
//   state_writes   state records the query wrote (goal: 0, a read writes none)
//   kept_bytes     output bytes the journal keeps of a full listing (goal: a
//                  few KiB) beside out_bytes, the listing's size
//   rows, ms_per_1000_rows
//                  of the listings of defined, mapped and unmapped LDEVs: a
//                  listing costs its rows, not the model's 65,280 ids (goal:
//                  at 10 LDEVs a ratio near the single-LDEV query's)
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/ccisim_fixture.h"

extern char** environ;

namespace {

const char kSerial[] = "412345";

// Starts a program with stdout and stderr on /dev/null and waits for it;
// returns the seconds it took.
double timedRun(const std::string& path, const std::vector<std::string>& args,
                const std::string& statePath) {
  std::vector<std::string> argvS = {path};
  argvS.insert(argvS.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvS) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> envS;
  for (char** e = environ; e && *e; ++e)
    if (std::string(*e).rfind("CCISIM_STATE=", 0) != 0) envS.push_back(*e);
  envS.push_back("CCISIM_STATE=" + statePath);
  std::vector<char*> envp;
  for (auto& e : envS) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid;
  int status = 0;
  if (posix_spawn(&pid, path.c_str(), &fa, nullptr, argv.data(), envp.data()) == 0)
    waitpid(pid, &status, 0);
  auto t1 = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&fa);
  return std::chrono::duration<double>(t1 - t0).count();
}

// An R9 array (highest LDEV 65279) with `count` defined LDEVs from id 0, a
// running instance logged in.
std::unique_ptr<ccisim::Fixture> array(int count) {
  auto fx = std::make_unique<ccisim::Fixture>();
  fx->addUser("cciuser", "secret");
  fx->addArray(kSerial, "R9");
  fx->update([count](ccisim::State& s) {
    ccisim::Array& a = *s.array(kSerial);
    for (int id = 0; id < count; ++id) {
      ccisim::Ldev l;
      l.id = id;
      l.defined = true;
      l.capacity = 2097152;
      l.attrs = {"CVS", "HDP"};
      l.poolId = "6";
      l.label = "ldev_" + std::to_string(id);
      a.ldevs[id] = l;
    }
  });
  fx->addCommandDevice("/dev/sdc", kSerial, 65279);
  // The first four LDEVs are mapped, so every listing kind has rows.
  fx->addPort(kSerial, "CL1-A", "50060e8007dd3300");
  fx->addHostGroup(kSerial, "CL1-A", 1, "hg01");
  for (int id = 0; id < 4 && id < count; ++id) fx->addLun(kSerial, "CL1-A", 1, id, id);
  fx->setInstanceRunning(3532, kSerial);
  fx->setLoggedIn(3532, "cciuser");
  return fx;
}

// Each iteration: /bin/true, then raidcom with args, on the state of fx; the
// iteration's time is the tool's. Returns the tool's total time and
// /bin/true's.
std::pair<double, double> rounds(benchmark::State& state, const ccisim::Fixture& fx,
                                 const std::vector<std::string>& args) {
  const std::string raidcom = ccisim::toolDir() + "raidcom";
  double tool = 0, base = 0;
  for (auto _ : state) {
    base += timedRun("/bin/true", {}, fx.statePath());
    double t = timedRun(raidcom, args, fx.statePath());
    tool += t;
    state.SetIterationTime(t);
  }
  return {tool, base};
}

const std::vector<std::string> kQuery = {"get", "ldev", "-ldev_id", "5", "-IM3532", "-s", kSerial};

void BM_SingleLdevQuery(benchmark::State& state) {
  auto fx = array(static_cast<int>(state.range(0)));
  const auto [tool, base] = rounds(state, *fx, kQuery);
  std::vector<ccisim::JournalEntry> j = fx->journal();
  state.counters["ratio"] = tool / base;
  state.counters["state_writes"] = j.empty() ? -1 : j.back().stateWrites;
  state.counters["exit"] = j.empty() ? -1 : j.back().exitCode;
}
BENCHMARK(BM_SingleLdevQuery)->Arg(10)->Arg(65280)->UseManualTime()->Iterations(300);

void BM_SizeRatio(benchmark::State& state) {
  auto small = array(10);
  auto large = array(65280);
  const std::string raidcom = ccisim::toolDir() + "raidcom";
  double s = 0, l = 0, base = 0;
  for (auto _ : state) {
    base += timedRun("/bin/true", {}, small->statePath());
    s += timedRun(raidcom, kQuery, small->statePath());
    double t = timedRun(raidcom, kQuery, large->statePath());
    l += t;
    state.SetIterationTime(t);
  }
  state.counters["size_ratio"] = l / s;
  state.counters["ratio_10"] = s / base;
  state.counters["ratio_65280"] = l / base;
}
BENCHMARK(BM_SizeRatio)->UseManualTime()->Iterations(300);

void BM_FullListing(benchmark::State& state) {
  auto fx = array(65280);
  const std::string raidcom = ccisim::toolDir() + "raidcom";
  const std::vector<std::string> args = {"get",   "ldev",    "-ldev_id", "0",    "-cnt",
                                         "65280", "-IM3532", "-s",       kSerial};
  double tool = 0, base = 0;
  for (auto _ : state) {
    base += timedRun("/bin/true", {}, fx->statePath());
    double t = timedRun(raidcom, args, fx->statePath());
    tool += t;
    state.SetIterationTime(t);
  }
  std::vector<ccisim::JournalEntry> j = fx->journal();
  state.counters["ratio"] = tool / base;
  state.counters["kept_bytes"] = j.empty() ? -1 : static_cast<double>(j.back().out.size());
  state.counters["out_bytes"] = j.empty() ? -1 : static_cast<double>(j.back().outSize);
  state.counters["state_writes"] = j.empty() ? -1 : j.back().stateWrites;
}
BENCHMARK(BM_FullListing)->UseManualTime()->Iterations(5);

// `get ldev -ldev_list <kind>`: kind 0 defined, 1 mapped, 2 unmapped; on an
// R9 array of range(1) defined LDEVs.
void BM_LdevList(benchmark::State& state) {
  static const char* const kKinds[] = {"defined", "mapped", "unmapped"};
  const char* kind = kKinds[state.range(0)];
  auto fx = array(static_cast<int>(state.range(1)));
  const std::vector<std::string> args = {"get",   "ldev",    "-ldev_list", kind,
                                         "-IM3532", "-s", kSerial};
  const auto [tool, base] = rounds(state, *fx, args);
  std::vector<ccisim::JournalEntry> j = fx->journal();
  const ccisim::JournalEntry* e = j.empty() ? nullptr : &j.back();
  // Every listed LDEV is one block of lines beginning "Serial#".
  double rows = -1;
  if (e != nullptr && e->exitCode == 0) {
    rows = 0;
    ccisim::Outcome o = fx->run("raidcom", args);
    for (size_t pos = 0; (pos = o.out.find("Serial#", pos)) != std::string::npos; ++pos) ++rows;
  }
  state.SetLabel(kind);
  state.counters["ratio"] = tool / base;
  state.counters["rows"] = rows;
  state.counters["ms_per_1000_rows"] =
      rows > 0 ? tool / static_cast<double>(state.iterations()) * 1e6 / rows : -1;
  state.counters["state_writes"] = e == nullptr ? -1 : e->stateWrites;
  state.counters["exit"] = e == nullptr ? -1 : e->exitCode;
}
BENCHMARK(BM_LdevList)
    ->Args({0, 10})
    ->Args({1, 10})
    ->Args({2, 10})
    ->ArgNames({"kind", "ldevs"})
    ->UseManualTime()
    ->Iterations(100);
BENCHMARK(BM_LdevList)
    ->Args({0, 65280})
    ->Args({1, 65280})
    ->Args({2, 65280})
    ->ArgNames({"kind", "ldevs"})
    ->UseManualTime()
    ->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
