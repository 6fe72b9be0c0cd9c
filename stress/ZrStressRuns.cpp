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
constexpr int kJobTimeoutMs = 600000;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string fixed(double v, int digits = 2) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  return buf;
}

std::string statesText(const std::vector<ZrDeviceState>& states) {
  std::string text;
  for (const ZrDeviceState& s : states) text += zrStateLine(s) + "\n";
  return text;
}

// "R <result> [<word>]" then one device state per line.
bool readStates(const std::string& text, int* result, std::string* word,
                std::vector<ZrDeviceState>* states) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line.rfind("R ", 0) != 0) return false;
  std::istringstream head(line.substr(2));
  head >> *result;
  if (word != nullptr) head >> *word;
  states->clear();
  while (std::getline(in, line)) {
    ZrDeviceState s;
    if (!zrStateFromLine(line, s)) return false;
    states->push_back(s);
  }
  return true;
}

void finish(const std::string& report, const std::string& text, std::ostream& out) {
  out << text;
  if (!report.empty()) std::ofstream(report, std::ios::app) << text;
}

struct CrashTally {
  int kills = 0, midway = 0, completed = 0, nextOk = 0;
  ZrObjectCounts left;   // after the kill, beyond the state before it
  ZrObjectCounts admin;  // still there after the next job, beyond the baseline
  int orphans = 0;       // tools running when the job died
  int refused = 0;       // next revert refused the pair still restoring
  int decoys = 0, touched = 0, records = 0;
};

std::string countsText(const ZrObjectCounts& c) {
  return std::to_string(c.pairs) + " / " + std::to_string(c.ldevs) + " / " +
         std::to_string(c.paths);
}

void addCounts(ZrObjectCounts& to, const ZrObjectCounts& c) {
  to.pairs += c.pairs;
  to.ldevs += c.ldevs;
  to.paths += c.paths;
}

// The operation after op in the life cycle (op itself when it is the last).
ZrStressOp nextOp(ZrStressOp op) {
  const size_t i = static_cast<size_t>(op) + 1;
  return i < zrStressOps().size() ? zrStressOps()[i] : op;
}

// Runs the next job: the killed operation again from the host's record of
// the devices, or, when the operation completed before the kill, the rest of
// the life cycle from the record it left. "R <result> <failed> <refused>".
ZrChildResult runNextJob(ZrStressJob& job, ZrStressOp op, bool completed,
                         const std::vector<ZrDeviceState>& startStates) {
  return zrRunChild(
      [&] {
        job.setStates(startStates);
        std::string failed = "-";
        int result = 0;
        bool refused = false;
        if (!completed || op != zrStressOps().back()) {
          // A revert refuses a pair that is still restoring (RCPY): the job
          // goes on with the rest of its life cycle, which ends the pair.
          refused = !completed && op == ZrStressOp::kRevert && job.run(op) != 0;
          ZrStressOp from = completed ? nextOp(op) : op;
          if (!completed && op == ZrStressOp::kRevert) from = ZrStressOp::kReconcile;
          result = job.runFrom(from, &failed);
        }
        return "R " + std::to_string(result) + " " + failed + " " + (refused ? "1" : "0") + "\n" +
               statesText(job.states());
      },
      kJobTimeoutMs);
}

std::string crashTable(const std::map<std::string, CrashTally>& tally) {
  std::ostringstream md;
  md << "| operation | kills | killed mid-way | next job ok | tools running at the kill | left: "
        "pairs / LDEVs / LU paths | left after the next job (administrator) | decoys planted / "
        "touched | records kept | next revert refused |\n"
        "|---|---|---|---|---|---|---|---|---|---|\n";
  for (ZrStressOp op : zrStressOps()) {
    const CrashTally& t = tally.at(zrStressOpName(op));
    md << "| " << zrStressOpName(op) << " | " << t.kills << " | " << t.midway << " | " << t.nextOk
       << " | " << t.orphans << " | " << countsText(t.left) << " | " << countsText(t.admin) << " | "
       << t.decoys << " / " << t.touched << " | " << t.records << " | " << t.refused << " |\n";
  }
  return md.str();
}

}  // namespace

int zrRunCrashes(const std::string& dir, int kills, unsigned seed, const std::string& report,
                 std::ostream& out) {
  zrBecomeSubreaper();
  std::string error;
  const std::string arrayDir = dir + "/array";
  const std::string intentDir = arrayDir + "/intent";
  std::unique_ptr<ccisim::Fixture> sim = zrStressMakeArray(arrayDir, 4, &error);
  if (!sim) {
    out << error << "\n";
    return -1;
  }
  ZRPlatformInfo().setRegString("~Tessavon", "nZRHDSCCICommandTimeoutInSec", "30");
  ZrStressJobSpec plan;
  plan.logFile = arrayDir + "/logs/job.log";
  // Objects of other jobs and hosts beside the job's own, from the start.
  const std::vector<ZrDecoy> standing =
      zrPlantStandingDecoys(*sim, kZrStressSerial, plan.firstLdev, plan.count);
  ZrStressJob job(plan);
  if (!job.open(&error)) {
    out << error << "\n";
    return -1;
  }
  const ZrObjectSet baseline = zrObjectSet(zrStressLoad(arrayDir), kZrStressSerial);
  // The clean life cycle: the state before each operation and its time.
  std::vector<std::vector<ZrDeviceState>> statesBefore;
  std::vector<double> seconds;
  std::vector<ZrDeviceState> states = job.states();
  for (ZrStressOp op : zrStressOps()) {
    statesBefore.push_back(states);
    zrStressSaveDir(arrayDir, dir + "/before_" + zrStressOpName(op));
    ZrChildResult r = zrRunChild(
        [&] {
          job.setStates(states);
          const int result = job.run(op);
          return "R " + std::to_string(result) + "\n" + statesText(job.states());
        },
        kJobTimeoutMs);
    int result = 1;
    if (!r.exited || !readStates(r.text, &result, nullptr, &states) || result != 0) {
      out << "clean " << zrStressOpName(op) << " failed\n";
      return -1;
    }
    seconds.push_back(r.seconds);
  }
  std::mt19937 random(seed);
  std::map<std::string, CrashTally> tally;
  for (ZrStressOp op : zrStressOps()) tally[zrStressOpName(op)];
  std::vector<std::string> failures;
  ZrObjectCounts adminTotal;
  const size_t n = zrStressOps().size();
  for (int k = 0; k < kills; ++k) {
    const ZrStressOp op = zrStressOps()[static_cast<size_t>(k) % n];
    const size_t o = static_cast<size_t>(op);
    const std::string name = zrStressOpName(op);
    CrashTally& t = tally[name];
    ++t.kills;
    zrStressRestoreDir(dir + "/before_" + name, arrayDir);
    const ZrObjectSet before = zrObjectSet(zrStressLoad(arrayDir), kZrStressSerial);
    std::uniform_int_distribution<int> at(0, static_cast<int>(seconds[o] * 1000));
    const int killAt = at(random);
    ZrChildResult r = zrRunChild(
        [&] {
          job.setStates(statesBefore[o]);
          const int result = job.run(op);
          return "R " + std::to_string(result) + "\n" + statesText(job.states());
        },
        kJobTimeoutMs, killAt);
    const std::string where = name + " killed at " + std::to_string(killAt) + " ms";
    if (r.signaled) ++t.midway;
    // An operation that ended before the kill is on the host's record.
    std::vector<ZrDeviceState> startStates = statesBefore[o];
    int ended = 1;
    const bool completed =
        !r.signaled && r.exited && readStates(r.text, &ended, nullptr, &startStates);
    if (!completed) startStates = statesBefore[o];
    t.completed += completed ? 1 : 0;
    int left = 0;
    t.orphans += zrReapOrphans(5000, &left);
    if (left > 0) failures.push_back(where + ": " + std::to_string(left) + " process(es) alive");
    const ccisim::State s1 = zrStressLoad(arrayDir);
    // The dead job holds nothing: no named lock, no live holder.
    for (const std::string& f : zrStressIdleFailures(s1, {})) {
      if (f.find("named lock") != std::string::npos || f.find("holder") != std::string::npos)
        failures.push_back(where + ": " + f);
    }
    addCounts(t.left, zrObjectsAdded(before, zrObjectSet(s1, kZrStressSerial), {}));
    const std::vector<ZrDecoy> planted = zrPlantKillDecoys(*sim, kZrStressSerial, intentDir);
    t.decoys += static_cast<int>(planted.size());
    ZrChildResult next = runNextJob(job, op, completed, startStates);
    zrReapOrphans(2000, &left);
    int result = 1;
    std::string failed;
    std::vector<ZrDeviceState> nextStates;
    if (next.exited && readStates(next.text, &result, &failed, &nextStates) && result == 0) {
      ++t.nextOk;
      t.refused += next.text.compare(0, next.text.find('\n'), "R 0 - 1") == 0 ? 1 : 0;
    } else {
      failures.push_back(where + ": the next job failed at " + failed + " (result " +
                         std::to_string(result) + ")");
    }
    const ccisim::State s2 = zrStressLoad(arrayDir);
    for (const std::string& f : zrStressIdleFailures(s2, nextStates))
      failures.push_back(where + ", after the next job: " + f);
    std::vector<ZrDecoy> decoys = standing;
    std::set<int> decoyIds;
    for (const ZrDecoy& d : planted) {
      decoys.push_back(d);
      decoyIds.insert(d.ldev);
    }
    for (const std::string& d : zrDecoysTouched(s2, kZrStressSerial, decoys)) {
      ++t.touched;
      failures.push_back(where + ": decoy touched: " + d);
    }
    const ZrObjectCounts admin =
        zrObjectsAdded(baseline, zrObjectSet(s2, kZrStressSerial), decoyIds);
    addCounts(t.admin, admin);
    addCounts(adminTotal, admin);
    t.records += zrIntentRecordCount(intentDir);
    if (admin.total() > 0) {
      out << where << ": after the next job the array holds " << countsText(admin)
          << " pairs / LDEVs / LU paths beyond the baseline\n";
    }
  }
  std::ostringstream md;
  md << crashTable(tally);
  int completedKills = 0;
  for (const auto& kv : tally) completedKills += kv.second.completed;
  md << "kills: " << kills << " (seed " << seed << "), " << completedKills
     << " after the operation had ended; objects needing an administrator: " << adminTotal.total()
     << " (goal at most 2); failures: " << failures.size() << "\n";
  for (const std::string& f : failures) md << "- " << f << "\n";
  finish(report, md.str(), out);
  return static_cast<int>(failures.size());
}

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
  finish(report, md.str(), out);
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
        kJobTimeoutMs * 6);
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
  finish(report, md.str(), out);
  return failures;
}
