// The crash run (zrRunCrashes, ZrStressRuns.h): jobs SIGKILLed at random
// points of each operation in turn, and of four everyday twists of the
// prepare and the map (which take turns with the plain one):
//  - a prepare that reuses a group: an earlier snapshot of the same
//    subclient is kept, so the prepare adds its pairs to that group;
//  - a map beside another host: after the kill, a second host (its own
//    settings, locks, logs and intent records, the same array and sources,
//    the same device names) prepares, snaps and maps, so that its S-VOLs,
//    labelled as the killed job's, take the ids the killed job recorded;
//    everything it made is a decoy;
//  - a prepare or a map whose record updates fail: the intent directory's
//    flushes fail from a random one of the job's on (a disk that filled up),
//    and after the kill a job of the same host on other devices runs its
//    prepare and delete before the killed job's next job: it must leave
//    alone what the host stores.
// The host keeps what a call stored from the moment the call returns (the
// test host hands the devices' states back there), as the host does.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "host/ZRPlatformInfo.h"
#include "host/testing/ZrFileSyncRecorder.h"
#include "stress/ZrStressDecoys.h"
#include "stress/ZrStressRig.h"
#include "stress/ZrStressRuns.h"

namespace fs = std::filesystem;

namespace {

// Sources 256-259 are the job's (and an earlier backup's), 260-263 those of
// another job of the host.
constexpr int kSources = 8;
constexpr int kOtherDevicesLdev = kZrStressFirstLdev + 4;
constexpr int kOtherDevicesSubclient = 8;
// The second host: a node of the same cluster, its initiator in the host
// group of the sources, its own subclient and host number.
const char kOtherHostInitiator[] = "210000e08b0256ab";
constexpr int kOtherHostSubclient = 12;
constexpr long kOtherHostNumber = 0x2A;
const char kCommandTimeoutKey[] = "nZRHDSCCICommandTimeoutInSec";
const char kCommandTimeout[] = "30";
// The objects an administrator may be left with in the whole run: what a
// kill in the one command between an S-VOL's creation and its label leaves.
constexpr int kAdministratorGoal = 2;
constexpr int kEarlierBackup = 1;  // job numbers of the host process
constexpr int kOtherDevices = 2;

enum class Twist { kNone, kReusedGroup, kOtherHost, kFailingEnd };

struct CrashKind {
  ZrStressOp op;
  Twist twist;
};

const std::vector<CrashKind>& crashKinds() {
  static const std::vector<CrashKind> kinds = [] {
    std::vector<CrashKind> k;
    for (ZrStressOp op : zrStressOps()) k.push_back({op, Twist::kNone});
    k.push_back({ZrStressOp::kPrepare, Twist::kReusedGroup});
    k.push_back({ZrStressOp::kMap, Twist::kOtherHost});
    k.push_back({ZrStressOp::kPrepare, Twist::kFailingEnd});
    k.push_back({ZrStressOp::kMap, Twist::kFailingEnd});
    return k;
  }();
  return kinds;
}

// Kill k: the operations in turn, so each has the same share of the kills;
// an operation's kinds (plain and twisted) take its turns in turn.
size_t kindOfKill(int k) {
  const size_t ops = zrStressOps().size();
  const ZrStressOp op = zrStressOps()[static_cast<size_t>(k) % ops];
  std::vector<size_t> kinds;
  for (size_t i = 0; i < crashKinds().size(); ++i) {
    if (crashKinds()[i].op == op) kinds.push_back(i);
  }
  return kinds[(static_cast<size_t>(k) / ops) % kinds.size()];
}

std::string kindName(const CrashKind& k) {
  static const char* const twists[] = {"", ", group reused", ", another host at the ids",
                                       ", record updates fail"};
  return zrStressOpName(k.op) + twists[static_cast<int>(k.twist)];
}

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

// Where the kills of a kind start from.
struct Start {
  std::string saved;  // the work directory's copy
  std::vector<ZrDeviceState> states;
  double seconds = 0;     // the clean call's time
  int intentFlushes = 0;  // its flushes in the intent directory
  ZrObjectSet baseline;   // the array without the job's life cycle
};

struct CrashTally {
  int kills = 0, midway = 0, completed = 0, nextOk = 0;
  ZrObjectCounts left;   // after the kill, beyond the state before it
  ZrObjectCounts admin;  // still there after the next job, beyond the baseline
  int orphans = 0;       // tools running when the job died
  int refused = 0;       // next revert refused the pair still restoring
  int decoys = 0, touched = 0, records = 0, setAside = 0;
};

class CrashRun {
 public:
  CrashRun(const std::string& dir, unsigned seed, std::ostream& out)
      : m_dir(dir),
        m_arrayDir(dir + "/array"),
        m_intentDir(m_arrayDir + "/intent"),
        m_hostDir(m_arrayDir + "/otherhost"),
        m_random(seed),
        m_out(out) {}
  bool setUp();
  void kill(int k);
  std::string report(int kills, unsigned seed) const;
  int failures() const { return static_cast<int>(m_failures.size()) + (goalMet() ? 0 : 1); }

 private:
  bool goalMet() const { return m_admin.total() <= kAdministratorGoal; }
  bool cleanLifeCycle();
  bool reusedGroupStart();
  // Runs op of job number j from states in a child, killed after killAt ms
  // (-1: not), the intent directory's flushes failing from that one on (-1:
  // none). What the host keeps comes back at the call's return, as
  // "R <result> <intent flushes>/<milliseconds since the start>".
  ZrChildResult runOp(ZrStressOp op, int j, const std::vector<ZrDeviceState>& states,
                      int killAt, int failFrom);
  // A clean run of op from s.states: the call's time and intent flushes go
  // into s, the states it leaves into after; false when it failed.
  bool cleanRun(ZrStressOp op, Start& s, std::vector<ZrDeviceState>& after);
  bool runOtherHost(std::vector<ZrDecoy>& decoys, ZrObjectSet& made, const std::string& where);
  void runOtherDevices(const ZrObjectSet& stored, const std::string& where);
  ZrChildResult runNextJob(ZrStressOp op, bool ended, const std::vector<ZrDeviceState>& states);
  void judgeNextJob(const CrashKind& kind, const Start& start, const ZrChildResult& next,
                    const std::vector<ZrDecoy>& decoys, const std::set<int>& decoyIds,
                    const ZrObjectSet& otherHosts, const std::string& where, CrashTally& t);
  ZrObjectSet objects() const { return zrObjectSet(zrStressLoad(m_arrayDir), kZrStressSerial); }

  std::string m_dir, m_arrayDir, m_intentDir, m_hostDir;
  std::string m_intentReal;  // the intent directory as a flush names it
  std::mt19937 m_random;
  std::ostream& m_out;
  std::unique_ptr<ccisim::Fixture> m_sim;
  std::unique_ptr<ZrStressJob> m_job;
  std::vector<ZrDecoy> m_standing;
  std::vector<Start> m_starts;  // by kind
  std::map<std::string, CrashTally> m_tally;
  std::vector<std::string> m_failures;
  ZrObjectCounts m_admin;
  int m_ended = 0;
};

bool CrashRun::setUp() {
  std::string error;
  m_sim = zrStressMakeArray(m_arrayDir, kSources, &error);
  if (!m_sim) {
    m_out << error << "\n";
    return false;
  }
  ZRPlatformInfo().setRegString("~Tessavon", kCommandTimeoutKey, kCommandTimeout);
  m_sim->addHostGroupWwn(kZrStressSerial, kZrStressPort, kZrStressHostGroup, kOtherHostInitiator);
  m_sim->addLoginWwn(kZrStressSerial, kZrStressPort, kOtherHostInitiator);
  std::error_code ec;
  fs::create_directories(m_intentDir, ec);
  fs::permissions(m_intentDir, fs::perms::owner_all, ec);
  m_intentReal = fs::canonical(m_intentDir, ec).string();
  // Objects of other jobs and hosts beside the job's own, from the start.
  ZrStressJobSpec plan;
  plan.logFile = m_arrayDir + "/logs/job.log";
  m_standing = zrPlantStandingDecoys(*m_sim, kZrStressSerial, plan.firstLdev, plan.count);
  m_job.reset(new ZrStressJob(plan));
  if (!m_job->open(&error)) {
    m_out << error << "\n";
    return false;
  }
  ZrStressJobSpec earlier = plan;  // an earlier backup of the same subclient
  m_job->addJob(earlier);
  ZrStressJobSpec other = plan;
  other.firstLdev = kOtherDevicesLdev;
  other.subclient = kOtherDevicesSubclient;
  m_job->addJob(other);
  m_starts.resize(crashKinds().size());
  return cleanLifeCycle() && reusedGroupStart();
}

ZrChildResult CrashRun::runOp(ZrStressOp op, int j, const std::vector<ZrDeviceState>& states,
                              int killAt, int failFrom) {
  return zrRunChild(
      [&] {
        const auto begun = std::chrono::steady_clock::now();
        ZrFileSyncRecorder flushes("");
        if (failFrom >= 0) flushes.failFrom(failFrom, m_intentReal);
        ZrScopedFileSync installed(&flushes);
        m_job->setStates(states, j);
        m_job->setOnReturn([&](int result) {
          const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
              std::chrono::steady_clock::now() - begun);
          int intent = 0;
          for (const ZrFileSyncRecorder::Call& c : flushes.calls()) {
            intent += c.target.rfind(m_intentReal, 0) == 0 ? 1 : 0;
          }
          zrChildHandBack("R " + std::to_string(result) + " " + std::to_string(intent) + "/" +
                          std::to_string(took.count()) + "\n" + zrStatesText(m_job->states(j)));
        });
        m_job->run(op, j);
        return std::string();
      },
      kZrStressJobTimeoutMs, killAt);
}

bool CrashRun::cleanRun(ZrStressOp op, Start& s, std::vector<ZrDeviceState>& after) {
  const ZrChildResult r = runOp(op, 0, s.states, -1, -1);
  int result = 1, flushes = 0, millis = 0;
  std::string word;
  if (!r.exited || !zrReadOpPayload(r.text, &result, &after, &word) || result != 0 ||
      std::sscanf(word.c_str(), "%d/%d", &flushes, &millis) != 2) {
    return false;
  }
  s.seconds = millis / 1000.0;
  s.intentFlushes = flushes;
  return true;
}

bool CrashRun::cleanLifeCycle() {
  const ZrObjectSet baseline = objects();
  std::vector<ZrDeviceState> states = m_job->states();
  for (ZrStressOp op : zrStressOps()) {
    Start s;
    s.saved = m_dir + "/before_" + zrStressOpName(op);
    s.states = states;
    s.baseline = baseline;
    zrStressSaveDir(m_arrayDir, s.saved);
    if (!cleanRun(op, s, states)) {
      m_out << "clean " << zrStressOpName(op) << " failed\n";
      return false;
    }
    for (size_t k = 0; k < crashKinds().size(); ++k) {
      if (crashKinds()[k].op == op && crashKinds()[k].twist != Twist::kReusedGroup) m_starts[k] = s;
    }
  }
  return true;
}

// The earlier backup's prepare and snap from the state before the
// prepare; the job's clean prepare then adds its pairs to that group.
bool CrashRun::reusedGroupStart() {
  const Start& plain = m_starts.front();
  zrStressRestoreDir(plain.saved, m_arrayDir);
  const ZrChildResult r = zrRunChild(
      [&] {
        std::string failed = "-";
        m_job->setStates(plain.states, kEarlierBackup);
        for (ZrStressOp op : {ZrStressOp::kPrepare, ZrStressOp::kSnap}) {
          if (m_job->run(op, kEarlierBackup) != 0) return "R 1 " + zrStressOpName(op) + "\n";
        }
        return std::string("R 0 -\n");
      },
      kZrStressJobTimeoutMs);
  if (!r.exited || r.text.rfind("R 0", 0) != 0) {
    m_out << "the earlier backup failed: " << r.text;
    return false;
  }
  Start s = plain;
  s.saved = m_dir + "/before_prepare_reused";
  s.baseline = objects();
  zrStressSaveDir(m_arrayDir, s.saved);
  const int groups = zrArrayObjects(zrStressLoad(m_arrayDir)).groups;
  std::vector<ZrDeviceState> after;
  if (!cleanRun(ZrStressOp::kPrepare, s, after) ||
      zrArrayObjects(zrStressLoad(m_arrayDir)).groups != groups) {
    m_out << "the clean prepare beside the earlier backup failed or made a group of its own\n";
    return false;
  }
  for (size_t k = 0; k < crashKinds().size(); ++k) {
    if (crashKinds()[k].twist == Twist::kReusedGroup) m_starts[k] = s;
  }
  return true;
}

// The second host's prepare, snap and map of the same sources; what it
// made becomes decoys (made: those objects).
bool CrashRun::runOtherHost(std::vector<ZrDecoy>& decoys, ZrObjectSet& made,
                            const std::string& where) {
  const ccisim::State before = zrStressLoad(m_arrayDir);
  std::error_code ec;
  fs::remove_all(m_hostDir, ec);
  const ZrChildResult r = zrRunChild(
      [&] {
        zrStressUseHostDir(m_arrayDir, m_hostDir);
        ZRPlatformInfo().setRegString("~Tessavon", kCommandTimeoutKey, kCommandTimeout);
        ZrStressJobSpec plan;
        plan.subclient = kOtherHostSubclient;
        plan.initiator = kOtherHostInitiator;
        plan.hostNumber = kOtherHostNumber;
        plan.logFile = m_hostDir + "/logs/job.log";
        ZrStressJob host(plan);
        std::string error;
        if (!host.open(&error)) return "R 1 open " + error + "\n";
        for (ZrStressOp op : {ZrStressOp::kPrepare, ZrStressOp::kSnap, ZrStressOp::kMap}) {
          if (host.run(op) != 0) return "R 1 " + zrStressOpName(op) + "\n";
        }
        return std::string("R 0 -\n");
      },
      kZrStressJobTimeoutMs);
  zrStressUseDir(m_arrayDir);
  int left = 0;
  zrReapOrphans(2000, &left);
  if (!r.exited || r.text.rfind("R 0", 0) != 0) {
    m_failures.push_back(where + ": the other host's map failed: " + r.text);
    return false;
  }
  const ccisim::State after = zrStressLoad(m_arrayDir);
  decoys = zrDecoysOfNewObjects(before, after, kZrStressSerial, "the other host's");
  made = zrObjectsBeyond(zrObjectSet(before, kZrStressSerial), zrObjectSet(after, kZrStressSerial));
  return true;
}

// Another job of the host, on other devices, prepares and deletes: its
// recovery must leave alone what the host stores (stored).
void CrashRun::runOtherDevices(const ZrObjectSet& stored, const std::string& where) {
  const ZrChildResult r = zrRunChild(
      [&] {
        m_job->setStates(m_starts.front().states, kOtherDevices);
        for (ZrStressOp op : {ZrStressOp::kPrepare, ZrStressOp::kDelete}) {
          if (m_job->run(op, kOtherDevices) != 0) return "R 1 " + zrStressOpName(op) + "\n";
        }
        return std::string("R 0 -\n");
      },
      kZrStressJobTimeoutMs);
  int left = 0;
  zrReapOrphans(2000, &left);
  if (!r.exited || r.text.rfind("R 0", 0) != 0)
    m_failures.push_back(where + ": the job on other devices failed: " + r.text);
  const int lost = zrObjectsAdded(objects(), stored, {}).total();
  if (lost > 0) {
    m_failures.push_back(where + ": the job on other devices removed " + std::to_string(lost) +
                         " object(s) the host stores");
  }
}

// The next job: the killed operation again from the host's record of the
// devices, or, when the operation had ended well before the kill, the rest
// of the life cycle from the record it left. "R <result> <failed> <refused>".
ZrChildResult CrashRun::runNextJob(ZrStressOp op, bool ended,
                                   const std::vector<ZrDeviceState>& states) {
  return zrRunChild(
      [&] {
        m_job->setStates(states);
        std::string failed = "-";
        int result = 0;
        bool refused = false;
        if (!ended || op != zrStressOps().back()) {
          // A revert refuses a pair that is still restoring (RCPY): the job
          // goes on with the rest of its life cycle, which ends the pair.
          refused = !ended && op == ZrStressOp::kRevert && m_job->run(op) != 0;
          ZrStressOp from = ended ? nextOp(op) : op;
          if (!ended && op == ZrStressOp::kRevert) from = ZrStressOp::kReconcile;
          result = m_job->runFrom(from, &failed);
        }
        return "R " + std::to_string(result) + " " + failed + " " + (refused ? "1" : "0") + "\n" +
               zrStatesText(m_job->states());
      },
      kZrStressJobTimeoutMs);
}

void CrashRun::judgeNextJob(const CrashKind& kind, const Start& start, const ZrChildResult& next,
                            const std::vector<ZrDecoy>& decoys, const std::set<int>& decoyIds,
                            const ZrObjectSet& otherHosts, const std::string& where,
                            CrashTally& t) {
  int result = 1;
  std::string failed;
  std::vector<ZrDeviceState> nextStates;
  if (next.exited && zrReadOpPayload(next.text, &result, &nextStates, &failed) && result == 0) {
    ++t.nextOk;
    t.refused += next.text.compare(0, next.text.find('\n'), "R 0 - 1") == 0 ? 1 : 0;
  } else {
    m_failures.push_back(where + ": the next job failed at " + failed + " (result " +
                         std::to_string(result) + ")");
  }
  const ccisim::State s2 = zrStressLoad(m_arrayDir);
  for (const std::string& f : zrStressIdleFailures(s2, nextStates))
    m_failures.push_back(where + ", after the next job: " + f);
  for (const std::string& d : zrDecoysTouched(s2, kZrStressSerial, decoys)) {
    ++t.touched;
    m_failures.push_back(where + ": decoy touched: " + d);
  }
  const ZrObjectCounts admin = zrObjectsAdded(zrObjectsJoined(start.baseline, otherHosts),
                                              zrObjectSet(s2, kZrStressSerial), decoyIds);
  addCounts(t.admin, admin);
  addCounts(m_admin, admin);
  t.records += zrIntentRecordCount(m_intentDir);
  t.setAside += zrIntentSetAsideCount(m_intentDir);
  if (admin.total() > 0) {
    m_out << where << " (" << kindName(kind) << "): after the next job the array holds "
          << countsText(admin) << " pairs / LDEVs / LU paths beyond the baseline\n";
  }
}

void CrashRun::kill(int k) {
  const size_t index = kindOfKill(k);
  const CrashKind& kind = crashKinds()[index];
  const Start& start = m_starts[index];
  CrashTally& t = m_tally[kindName(kind)];
  ++t.kills;
  zrStressRestoreDir(start.saved, m_arrayDir);
  const ZrObjectSet before = objects();
  std::uniform_int_distribution<int> at(0, static_cast<int>(start.seconds * 1000));
  const int killAt = at(m_random);
  int failFrom = -1;
  if (kind.twist == Twist::kFailingEnd) {
    std::uniform_int_distribution<int> from(0, std::max(0, start.intentFlushes - 1));
    failFrom = from(m_random);
  }
  const ZrChildResult r = runOp(kind.op, 0, start.states, killAt, failFrom);
  const std::string where = kindName(kind) + " killed at " + std::to_string(killAt) + " ms" +
                            (failFrom >= 0 ? ", flushes failing from " + std::to_string(failFrom)
                                           : std::string());
  if (r.signaled) ++t.midway;
  // What the call stored, once it returned, is on the host's record.
  std::vector<ZrDeviceState> states = start.states;
  int result = 1;
  std::string flushes;
  const bool returned = zrReadOpPayload(r.text, &result, &states, &flushes);
  if (!returned) states = start.states;
  const bool ended = returned && result == 0;
  t.completed += returned ? 1 : 0;
  m_ended += returned ? 1 : 0;
  int left = 0;
  t.orphans += zrReapOrphans(5000, &left);
  if (left > 0) m_failures.push_back(where + ": " + std::to_string(left) + " process(es) alive");
  const ccisim::State s1 = zrStressLoad(m_arrayDir);
  // The dead job holds nothing: no named lock, no live holder.
  for (const std::string& f : zrStressIdleFailures(s1, {})) {
    if (f.find("named lock") != std::string::npos || f.find("holder") != std::string::npos)
      m_failures.push_back(where + ": " + f);
  }
  const ZrObjectSet afterKill = zrObjectSet(s1, kZrStressSerial);
  addCounts(t.left, zrObjectsAdded(before, afterKill, {}));
  std::vector<ZrDecoy> decoys = m_standing, planted;
  ZrObjectSet otherHosts;
  if (kind.twist == Twist::kOtherHost) {
    runOtherHost(planted, otherHosts, where);
  } else {
    planted = zrPlantKillDecoys(*m_sim, kZrStressSerial, m_intentDir);
  }
  if (kind.twist == Twist::kFailingEnd) {
    // What the host keeps of an operation that ended well.
    runOtherDevices(ended ? zrObjectsBeyond(before, afterKill) : ZrObjectSet(), where);
  }
  t.decoys += static_cast<int>(planted.size());
  std::set<int> decoyIds;
  for (const ZrDecoy& d : planted) {
    decoys.push_back(d);
    if (d.port.empty() && d.pvol < 0) decoyIds.insert(d.ldev);
  }
  const ZrChildResult next = runNextJob(kind.op, ended, states);
  zrReapOrphans(2000, &left);
  judgeNextJob(kind, start, next, decoys, decoyIds, otherHosts, where, t);
}

std::string CrashRun::report(int kills, unsigned seed) const {
  std::ostringstream md;
  md << "| kill | kills | killed mid-way | next job ok | tools running at the kill | left: "
        "pairs / LDEVs / LU paths | left after the next job (administrator) | decoys planted / "
        "touched | records kept / set aside | next revert refused |\n"
        "|---|---|---|---|---|---|---|---|---|---|\n";
  for (const CrashKind& kind : crashKinds()) {
    const auto it = m_tally.find(kindName(kind));
    if (it == m_tally.end()) continue;
    const CrashTally& t = it->second;
    md << "| " << kindName(kind) << " | " << t.kills << " | " << t.midway << " | " << t.nextOk
       << " | " << t.orphans << " | " << countsText(t.left) << " | " << countsText(t.admin) << " | "
       << t.decoys << " / " << t.touched << " | " << t.records << " / " << t.setAside << " | "
       << t.refused << " |\n";
  }
  md << "kills: " << kills << " (seed " << seed << "), " << m_ended
     << " after the operation had returned; objects needing an administrator: " << m_admin.total()
     << " (goal at most " << kAdministratorGoal << (goalMet() ? ", met" : ", MISSED")
     << "); failures: " << m_failures.size() << "\n";
  for (const std::string& f : m_failures) md << "- " << f << "\n";
  return md.str();
}

}  // namespace

int zrRunCrashes(const std::string& dir, int kills, unsigned seed, const std::string& report,
                 std::ostream& out) {
  zrBecomeSubreaper();
  CrashRun run(dir, seed, out);
  if (!run.setUp()) return -1;
  for (int k = 0; k < kills; ++k) run.kill(k);
  zrFinishReport(report, run.report(kills, seed), out);
  return run.failures();
}
