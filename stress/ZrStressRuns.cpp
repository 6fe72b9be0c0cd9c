#include "stress/ZrStressRuns.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "host/ZRPlatformInfo.h"
#include "stress/ZrLockTimer.h"
#include "stress/ZrStressDecoys.h"
#include "stress/ZrStressRig.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string fixed(double v, int digits = 2) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  return buf;
}

}  // namespace

int zrRunLoad(const std::string& dir, int procs, int cycles, const std::string& report,
              std::ostream& out) {
  std::string error;
  std::unique_ptr<ccisim::Fixture> sim = zrStressMakeArray(dir, procs * 4, &error);
  if (!sim) {
    out << error << "\n";
    return -1;
  }
  const ZrArrayObjects baseline = zrArrayObjects(zrStressLoad(dir));
  const auto start = Clock::now();
  std::vector<pid_t> pids;
  for (int p = 0; p < procs; ++p) {
    const pid_t pid = ::fork();
    if (pid != 0) {
      pids.push_back(pid);
      continue;
    }
    ZrStressJobSpec plan;
    plan.firstLdev = kZrStressFirstLdev + 4 * p;
    plan.subclient = 7 + p;
    plan.logFile = dir + "/logs/job" + std::to_string(p) + ".log";
    ZrStressJob job(plan);
    std::ofstream res(dir + "/load" + std::to_string(p) + ".txt");
    if (!job.open(&error)) {
      res << "open failed: " << error << "\n";
      ::_exit(1);
    }
    const std::vector<ZrDeviceState> fresh = job.states();
    zrLockTimerReset();
    int failed = 0;
    for (int c = 0; c < cycles; ++c) {
      job.setStates(fresh);
      std::string op;
      if (job.runFrom(ZrStressOp::kPrepare, &op) != 0) {
        ++failed;
        res << "cycle " << c << " failed at " << op << "\n";
      }
    }
    const ZrLockTotals t = zrLockTimerTotals();
    res << "failures " << failed << "\nlocked " << t.heldSeconds << "\nacquisitions "
        << t.acquisitions << "\nactive " << (zrLockTimerActive() ? 1 : 0) << "\n";
    for (const auto& kv : t.byName) res << "name " << kv.first << " " << kv.second << "\n";
    res.close();
    ::_exit(0);
  }
  int failures = 0;
  for (pid_t pid : pids) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
  }
  const double wall = secondsSince(start);
  double locked = 0;
  long acquisitions = 0;
  bool active = true;
  std::map<std::string, double> byName;
  std::vector<std::string> notes;
  for (int p = 0; p < procs; ++p) {
    std::ifstream in(dir + "/load" + std::to_string(p) + ".txt");
    std::string word;
    while (in >> word) {
      if (word == "failures") {
        int f = 0;
        in >> f;
        failures += f;
      } else if (word == "locked") {
        double s = 0;
        in >> s;
        locked += s;
      } else if (word == "acquisitions") {
        long a = 0;
        in >> a;
        acquisitions += a;
      } else if (word == "active") {
        int a = 0;
        in >> a;
        active = active && a != 0;
      } else if (word == "name") {
        std::string name;
        double s = 0;
        in >> name >> s;
        // Names of one job's own group differ per job: summed by kind.
        byName[name.rfind("QB_", 0) == 0 ? "QB_<snapshot group>" : name] += s;
      } else {
        std::string rest;
        std::getline(in, rest);
        notes.push_back(word + rest);
      }
    }
  }
  sim.reset();
  const ccisim::State end = zrStressLoad(dir);
  const ZrArrayObjects a = zrArrayObjects(end);
  std::vector<std::string> leaks = zrStressIdleFailures(end, {});
  if (a.pairs != 0 || a.svols != 0 || a.groups != 0 || a.lunPaths != baseline.lunPaths)
    leaks.push_back("array holds " + a.text() + " (baseline " + baseline.text() + ")");
  const double ratio = locked > 0 ? wall / locked : 0;
  // Holders of one name run one after another: the busiest name shared by
  // every job is a floor of its own (a job's snapshot-group lock is not).
  std::string busiest;
  double busiestSeconds = 0;
  for (const auto& kv : byName) {
    if (kv.first.rfind("QB_", 0) != 0 && kv.second > busiestSeconds) {
      busiest = kv.first;
      busiestSeconds = kv.second;
    }
  }
  const double busiestRatio = busiestSeconds > 0 ? wall / busiestSeconds : 0;
  std::ostringstream md;
  md << "load: " << procs << " processes x " << cycles << " life cycles (4 devices each), "
     << procs * cycles << " cycles\n"
     << "failures: " << failures << ", leaks: " << leaks.size() << "\n"
     << "wall time: " << fixed(wall)
     << " s; time inside machine-wide locks (summed): " << fixed(locked) << " s in " << acquisitions
     << " acquisitions; wall / lock-bound minimum: " << fixed(ratio) << "x (goal <= 1.50x)\n"
     << "busiest shared lock: " << busiest << " " << fixed(busiestSeconds)
     << " s; wall / busiest lock: " << fixed(busiestRatio) << "x\n";
  for (const auto& kv : byName) md << "  lock " << kv.first << ": " << fixed(kv.second) << " s\n";
  for (const std::string& n : notes) md << "- " << n << "\n";
  for (const std::string& l : leaks) md << "- leak: " << l << "\n";
  if (!active) md << "- the lock timer did not see the plug-in's locks\n";
  zrFinishReport(report, md.str(), out);
  return failures + static_cast<int>(leaks.size()) + (active ? 0 : 1) + (ratio > 1.5 ? 1 : 0);
}

int zrRunGrowth(const std::string& dir, const std::vector<int>& sizes, const std::string& report,
                std::ostream& out) {
  zrBecomeSubreaper();
  // size -> op -> commands per device; size -> wall time of the cycle
  std::map<int, std::map<std::string, double>> perDevice;
  std::map<int, double> wall;
  std::map<int, std::map<std::string, double>> opSeconds;
  int failures = 0;
  for (int n : sizes) {
    const std::string d = dir + "/n" + std::to_string(n);
    ZrChildResult r = zrRunChild(
        [&] {
          std::string error;
          std::unique_ptr<ccisim::Fixture> sim = zrStressMakeArray(d, n, &error);
          if (!sim) return "E " + error;
          ZrStressJobSpec plan;
          plan.count = n;
          plan.logFile = d + "/logs/job.log";
          ZrStressJob job(plan);
          if (!job.open(&error)) return "E " + error;
          std::string text;
          const auto start = Clock::now();
          for (ZrStressOp op : zrStressOps()) {
            const size_t before = sim->journal().size();
            const auto opStart = Clock::now();
            const int result = job.run(op);
            const double took = secondsSince(opStart);
            const size_t commands = sim->journal().size() - before;
            text += zrStressOpName(op) + " " + std::to_string(result) + " " +
                    std::to_string(commands) + " " + fixed(took, 3) + "\n";
          }
          return text + "wall " + fixed(secondsSince(start), 3) + "\n";
        },
        kZrStressJobTimeoutMs * 6);
    int left = 0;
    zrReapOrphans(2000, &left);
    std::istringstream in(r.text);
    std::string op;
    while (in >> op) {
      if (op == "wall") {
        in >> wall[n];
        continue;
      }
      if (op == "E") {
        std::getline(in, op);
        out << "size " << n << ": " << op << "\n";
        ++failures;
        break;
      }
      int result = 1;
      double commands = 0, took = 0;
      in >> result >> commands >> took;
      opSeconds[n][op] = took;
      if (result != 0) {
        out << "size " << n << ": " << op << " failed (result " << result << ")\n";
        ++failures;
      }
      perDevice[n][op] = commands / (op == zrStressOpName(ZrStressOp::kRevert) ? 1 : n);
    }
    if (!r.exited) ++failures;
  }
  std::ostringstream md;
  md << "| operation |";
  for (int n : sizes) md << " " << n << " device(s) |";
  md << "\n|---|";
  for (size_t i = 0; i < sizes.size(); ++i) md << "---|";
  md << "\n";
  for (ZrStressOp op : zrStressOps()) {
    md << "| " << zrStressOpName(op) << " (commands per device) |";
    for (int n : sizes) md << " " << fixed(perDevice[n][zrStressOpName(op)]) << " |";
    md << "\n";
  }
  for (ZrStressOp op : zrStressOps()) {
    md << "| " << zrStressOpName(op) << " (s) |";
    for (int n : sizes) md << " " << fixed(opSeconds[n][zrStressOpName(op)]) << " |";
    md << "\n";
  }
  md << "| life cycle wall time (s) |";
  for (int n : sizes) md << " " << fixed(wall[n]) << " |";
  md << "\n";
  // How each operation's time grows from one size to the next (reported,
  // not judged: wall times on a shared machine are no test).
  for (size_t i = 1; i < sizes.size(); ++i) {
    md << "- time at " << sizes[i] << " / time at " << sizes[i - 1] << ":";
    for (ZrStressOp op : zrStressOps()) {
      const std::string name = zrStressOpName(op);
      const double before = opSeconds[sizes[i - 1]][name];
      md << " " << name << " "
         << (before > 0 ? fixed(opSeconds[sizes[i]][name] / before) + "x" : std::string("-"));
    }
    md << "\n";
  }
  if (sizes.size() >= 2) {
    const int big = sizes.back(), mid = sizes[sizes.size() - 2];
    for (ZrStressOp op : zrStressOps()) {
      const std::string name = zrStressOpName(op);
      const double a = perDevice[big][name], b = perDevice[mid][name];
      if (a > 1.1 * b) {
        md << "- " << name << ": " << fixed(a) << " commands per device at " << big << " > 1.1 x "
           << fixed(b) << " at " << mid << "\n";
        ++failures;
      }
    }
  }
  zrFinishReport(report, md.str(), out);
  return failures;
}
