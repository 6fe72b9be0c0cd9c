#include "stress/ZrStressTamper.h"

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "host/ZRPlatformInfo.h"
#include "records/HDSConstants.h"
#include "stress/ZrStressRig.h"

namespace {

constexpr int kCellTimeoutMs = 180000;
constexpr int kSources = 8;           // the job's four, then the other job's four
constexpr int kOtherFirstLdev = 260;  // the other job's first source
constexpr int kTampered = 1;          // the device whose record is tampered (0 at revert)
constexpr int kSampleEvery = 11;      // the short run: every 11th cell
constexpr size_t kOverlong = 5000;
const char kOtherArray[] = "499999";
const char kJobLabelPrefix[] = "QB_SVOL_dev25";  // the job's devices are dev256 to dev259

enum class Hostile {
  kCut,
  kOverlong,
  kNonNumeric,
  kNegative,
  kOutOfRange,
  kOtherJob,
  kOwnSource,
  kOtherArray
};
const Hostile kHostiles[] = {Hostile::kCut,        Hostile::kOverlong,   Hostile::kNonNumeric,
                             Hostile::kNegative,   Hostile::kOutOfRange, Hostile::kOtherJob,
                             Hostile::kOwnSource,  Hostile::kOtherArray};

std::string hostileName(Hostile h) {
  static const char* const names[] = {"cut",          "overlong",  "non-numeric",
                                      "negative",     "out of range", "other job",
                                      "own source",   "other array"};
  return names[static_cast<int>(h)];
}

// One stored field: a key of a record, or the whole text of record 75.
struct Field {
  int record;
  std::string key;  // "" for the whole text
  std::string name() const { return std::to_string(record) + (key.empty() ? "" : " " + key); }
};

std::vector<Field> fields() {
  std::vector<Field> out;
  for (const char* k : {"1S", "2VS", "3L", "5M", "13SM", "6RS", "8RL", "10SG", "11C", "12P"})
    out.push_back({HDS_METADATA_UNIQUE, k});
  for (int id : {HDS_METADATA_SNAP_MAP_FIRST, HDS_METADATA_SNAP_MAP})
    for (const char* k : {"16ON", "22LI", "17HG", "23OS", "24VI"}) out.push_back({id, k});
  out.push_back({HDS_METADATA_HORCM_INSTANCE, ""});
  for (const char* k : {"18MC", "19MP", "20QM", "21MH"})
    out.push_back({HDS_METADATA_REPLICATION, k});
  return out;
}

// What the other job and the tampered device are, for the values that name
// an object.
struct Context {
  std::string otherSource = std::to_string(kOtherFirstLdev);
  std::string otherGroup, otherSvol, otherMu, otherLabel;
  std::string firstSource = std::to_string(kZrStressFirstLdev);        // device 0's
  std::string ownSource = std::to_string(kZrStressFirstLdev + kTampered);  // the device's
  // A host group of the right shape that the job never presents to: the
  // command device's.
  std::string otherHostGroup = "CL1-A-0";
};

bool isOneOf(const std::string& key, std::initializer_list<const char*> keys) {
  for (const char* k : keys)
    if (key == k) return true;
  return false;
}

// The hostile value of field, or false when the kind names nothing there.
bool hostileValue(const Field& f, Hostile h, const Context& c, const std::string& current,
                  std::string* out) {
  const std::string& k = f.key;
  switch (h) {
    case Hostile::kCut:
      *out = current.substr(0, current.size() / 2);
      return true;
    case Hostile::kOverlong:
      *out = current + std::string(kOverlong, '9');
      return true;
    case Hostile::kNonNumeric:
      *out = "x1";
      return true;
    case Hostile::kNegative:
      *out = "-1";
      return true;
    case Hostile::kOutOfRange:
      *out = "99999999";
      return true;
    case Hostile::kOtherJob:
      if (isOneOf(k, {"3L", "8RL", "19MP"})) *out = c.otherSource;
      else if (k == "10SG") *out = c.otherGroup;
      else if (k == "22LI") *out = c.otherSvol;
      else if (k == "16ON") *out = c.otherLabel;
      else if (k == "17HG") *out = c.otherHostGroup;
      else if (k == "13SM" && c.otherMu != current) *out = c.otherMu;
      else return false;
      return !out->empty();
    case Hostile::kOwnSource:
      if (k == "3L") *out = c.firstSource;
      else if (isOneOf(k, {"22LI", "8RL", "19MP"})) *out = c.ownSource;
      else if (k == "16ON") *out = "src_" + std::to_string(kTampered);
      else return false;
      return true;
    case Hostile::kOtherArray:
      if (!isOneOf(k, {"1S", "2VS", "6RS", "18MC"})) return false;
      *out = kOtherArray;
      return true;
  }
  return false;
}

// The record text with field set to value; a cut record ends inside the
// field's value (no separator after it), as one cut at the host's buffer.
std::string tampered(const std::string& text, const Field& f, Hostile h, const std::string& value,
                     std::string* current) {
  if (f.key.empty()) {
    *current = text;
    return value;
  }
  const std::string entry = f.key + ":";
  size_t at = std::string::npos;
  if (text.compare(0, entry.size(), entry) == 0) {
    at = 0;
  } else if (text.find("**" + entry) != std::string::npos) {
    at = text.find("**" + entry) + 2;
  }
  if (at == std::string::npos) {
    current->clear();
    return text + entry + value + (h == Hostile::kCut ? "" : "**");
  }
  const size_t from = at + entry.size();
  const size_t end = text.find("**", from);
  *current = text.substr(from, end - from);
  if (h == Hostile::kCut) return text.substr(0, from) + value;
  return text.substr(0, from) + value + text.substr(end);
}

// What the array holds, for the judgement.
struct World {
  std::map<std::string, std::string> pairs;  // "pvol/mu" -> "group state svol"
  std::map<int, std::string> ldevs;          // defined LDEVs: id -> label
  std::map<std::string, int> paths;          // "port/gid/lun" -> LDEV
  std::set<int> svolsOf(const std::set<int>& sources) const {
    std::set<int> out;
    for (const auto& p : pairs) {
      const int pvol = std::atoi(p.first.c_str());
      const int svol = std::atoi(p.second.substr(p.second.rfind(' ') + 1).c_str());
      if (sources.count(pvol) != 0 && svol >= 0) out.insert(svol);
    }
    return out;
  }
};

World worldOf(const ccisim::State& s) {
  World w;
  const ccisim::Array* a = s.array(kZrStressSerial);
  if (a == nullptr) return w;
  for (const ccisim::SnapPair& p : a->pairs)
    w.pairs[std::to_string(p.pvol) + "/" + std::to_string(p.mu)] =
        p.group + " " + p.state + " " + std::to_string(p.svol);
  a->loadLdevs();
  for (const auto& l : a->ldevs)
    if (l.second.defined) w.ldevs[l.first] = l.second.label;
  for (const auto& port : a->ports)
    for (const auto& g : port.second.hostGroups)
      for (const auto& lun : g.second.luns)
        w.paths[port.first + "/" + std::to_string(g.first) + "/" + std::to_string(lun.first)] =
            lun.second;
  return w;
}

std::set<int> range(int first, int count) {
  std::set<int> out;
  for (int i = 0; i < count; ++i) out.insert(first + i);
  return out;
}

// What of objects differs between two worlds (pairs of the sources, the
// LDEVs themselves, their LU paths); "" when nothing.
std::string changedOf(const World& a, const World& b, const std::set<int>& sources,
                      const std::set<int>& ldevs, const std::string& whose) {
  for (int src : sources) {
    for (const World* w : {&a, &b}) {
      for (const auto& p : w->pairs) {
        if (std::atoi(p.first.c_str()) != src) continue;
        const auto other = (w == &a ? b : a).pairs.find(p.first);
        const std::string there = other == (w == &a ? b : a).pairs.end() ? "none" : other->second;
        if (there != p.second) return whose + " pair " + p.first + " changed";
      }
    }
  }
  for (int id : ldevs) {
    const auto x = a.ldevs.find(id), y = b.ldevs.find(id);
    const std::string before = x == a.ldevs.end() ? "(undefined)" : x->second;
    const std::string after = y == b.ldevs.end() ? "(undefined)" : y->second;
    if (before != after)
      return whose + " LDEV " + std::to_string(id) + " changed from [" + before + "] to [" +
             after + "]";
  }
  for (const World* w : {&a, &b}) {
    for (const auto& p : w->paths) {
      if (ldevs.count(p.second) == 0) continue;
      const World& o = w == &a ? b : a;
      const auto q = o.paths.find(p.first);
      if (q == o.paths.end() || q->second != p.second)
        return whose + " LU path " + p.first + " of LDEV " + std::to_string(p.second) + " changed";
    }
  }
  return "";
}

bool isChanging(const ccisim::JournalEntry& e) {
  if (e.tool != "raidcom" || e.argv.size() < 2) return false;
  const std::string verb = e.argv[0] + " " + e.argv[1];
  for (const char* v : {"add lun", "delete lun", "modify ldev", "delete ldev", "add ldev",
                        "add snapshot", "delete snapshot", "modify snapshot", "map snapshot",
                        "unmap snapshot"})
    if (verb == v) return true;
  return false;
}

// The first changing command that names what is not provably the job's;
// "" when none.
std::string strayCommand(const std::vector<ccisim::JournalEntry>& journal, const World& before,
                         const World& after, const std::set<std::string>& otherGroups) {
  const std::set<int> sources = range(kZrStressFirstLdev, 4);
  std::set<int> svols = before.svolsOf(sources);
  for (int s : after.svolsOf(sources)) svols.insert(s);
  for (const World* w : {&before, &after})
    for (const auto& l : w->ldevs)
      if (l.second.rfind(kJobLabelPrefix, 0) == 0) svols.insert(l.first);
  for (const auto& l : after.ldevs)
    if (before.ldevs.count(l.first) == 0) svols.insert(l.first);  // made by the operation
  // ... or made and deleted again by it (the undo of a failed step).
  for (const ccisim::JournalEntry& e : journal) {
    if (e.tool != "raidcom" || e.exitCode != 0 || e.argv.size() < 4 || e.argv[0] != "add" ||
        e.argv[1] != "ldev")
      continue;
    for (size_t i = 2; i + 1 < e.argv.size(); ++i)
      if (e.argv[i] == "-ldev_id" && before.ldevs.count(std::atoi(e.argv[i + 1].c_str())) == 0)
        svols.insert(std::atoi(e.argv[i + 1].c_str()));
  }
  for (const ccisim::JournalEntry& e : journal) {
    if (!isChanging(e)) continue;
    const bool snapshot = e.argv[1] == "snapshot";
    for (size_t i = 2; i + 1 < e.argv.size(); ++i) {
      const std::string& flag = e.argv[i];
      const std::string& v = e.argv[i + 1];
      if (flag == "-snapshotgroup" && otherGroups.count(v) != 0)
        return e.line() + " (the other job's group)";
      if (flag != "-ldev_id") continue;
      const int id = std::atoi(v.c_str());
      if (snapshot && sources.count(id) == 0) return e.line() + " (not a source of the job)";
      if (!snapshot && svols.count(id) == 0 && e.argv[0] != "add")
        return e.line() + " (not an S-VOL of the job)";
      if (e.argv[0] == "add" && e.argv[1] == "ldev" && before.ldevs.count(id) != 0)
        return e.line() + " (an LDEV that exists)";
      if (e.argv[0] == "add" && e.argv[1] == "lun" && svols.count(id) == 0)
        return e.line() + " (not an S-VOL of the job)";
      // map snapshot -ldev_id <P-VOL> <target>
      if (e.argv[0] == "map" && i + 2 < e.argv.size() &&
          svols.count(std::atoi(e.argv[i + 2].c_str())) == 0)
        return e.line() + " (a target that is not the job's)";
    }
  }
  return "";
}

struct Cell {
  Field field;
  Hostile hostile = Hostile::kCut;
  ZrStressOp op = ZrStressOp::kPrepare;
  std::string value;
  std::vector<std::string> failures;
  bool refused = false;  // the tampered device carries an error of its own
};

int tamperedDevice(ZrStressOp op) { return op == ZrStressOp::kRevert ? 0 : kTampered; }

// The device statuses: every device short of the operation's success has
// a code and a text, its own (the tampered one) or its group's.
void judgeDevices(Cell& cell, int result, const std::vector<ZrDeviceState>& states) {
  const int success = zrStressOpStatus(cell.op);
  const size_t devices = cell.op == ZrStressOp::kRevert ? 1 : states.size();
  const bool groupError = states[0].errorCode != 0 && !states[0].errorText.empty();
  const int t = tamperedDevice(cell.op);
  for (size_t i = 0; i < devices; ++i) {
    const ZrDeviceState& s = states[i];
    const std::string dev = "device " + std::to_string(i);
    if (s.errorCode != 0 && s.errorText.empty())
      cell.failures.push_back(dev + ": error " + std::to_string(s.errorCode) + " without text");
    const bool succeeded = s.errorCode == 0 && (success < 0 || s.status == success);
    if (succeeded) continue;
    if (result == 0) cell.failures.push_back("result 0 but " + dev + " did not succeed");
    const bool own = s.errorCode != 0 && !s.errorText.empty();
    if (static_cast<int>(i) == t && !own && !groupError)
      cell.failures.push_back(dev + " (tampered) has status " + std::to_string(s.status) +
                              " without an error");
    if (static_cast<int>(i) != t && !own && !groupError)
      cell.failures.push_back(dev + " has status " + std::to_string(s.status) +
                              " and its group no error");
  }
  cell.refused = states[static_cast<size_t>(t)].errorCode != 0;
}

// The life cycle of one worker: the other job's objects, then the job's
// states and work directory before each operation.
struct Lifecycle {
  std::vector<std::vector<ZrDeviceState>> before;  // by operation
  std::vector<std::vector<ZrDeviceObjects>> cleanAfter;  // by operation, by device
  std::vector<ZrDeviceState> afterMap;
  std::set<std::string> otherGroups;
  Context context;
};

bool otherJob(const std::string& dir, Lifecycle& life) {
  ZrChildResult r = zrRunChild(
      [&] {
        ZrStressJobSpec plan;
        plan.firstLdev = kOtherFirstLdev;
        plan.subclient = 8;
        plan.logFile = dir + "/logs/other.log";
        ZrStressJob other(plan);
        std::string error;
        if (!other.open(&error)) return std::string("open");
        for (ZrStressOp op : {ZrStressOp::kPrepare, ZrStressOp::kSnap, ZrStressOp::kMap})
          if (other.run(op) != 0) return zrStressOpName(op);
        return std::string("ok");
      },
      kCellTimeoutMs);
  if (!r.exited || r.text != "ok") return false;
  const ccisim::State s = zrStressLoad(dir);
  const ccisim::Array* a = s.array(kZrStressSerial);
  for (const ccisim::SnapPair& p : a->pairs) {
    if (p.pvol < kOtherFirstLdev) continue;
    life.otherGroups.insert(p.group);
    if (p.pvol == kOtherFirstLdev) {
      life.context.otherGroup = p.group;
      life.context.otherMu = std::to_string(p.mu);
      life.context.otherSvol = std::to_string(p.svol);
      life.context.otherLabel = a->ldev(p.svol).label;
    }
  }
  return !life.context.otherSvol.empty() && life.context.otherSvol != "-1";
}

// The record of the tampered device that the cell starts from: as stored,
// else the one a later operation writes.
std::string recordOf(const Field& f, const std::vector<ZrDeviceState>& states,
                     const Lifecycle& life, int device) {
  const auto& md = states[static_cast<size_t>(device)].metadata;
  const auto it = md.find(f.record);
  if (it != md.end() && !it->second.empty()) return it->second;
  const auto& later = life.afterMap[static_cast<size_t>(device)].metadata;
  const auto l = later.find(f.record);
  if (l != later.end() && !l->second.empty()) return l->second;
  if (f.record == HDS_METADATA_REPLICATION) {
    const auto inst = later.find(HDS_METADATA_HORCM_INSTANCE);
    return std::string("18MC:") + kZrStressSerial +
           "**19MP:" + std::to_string(kZrStressFirstLdev + device) + "**20QM:01003408ee**21MH:" +
           (inst == later.end() ? "3532" : inst->second) + "**";
  }
  return "";
}

std::vector<Cell> cellsOf(ZrStressOp op, const Lifecycle& life, bool full, int* index) {
  std::vector<Cell> out;
  const int device = tamperedDevice(op);
  for (const Field& f : fields()) {
    const std::string record = recordOf(f, life.before[static_cast<size_t>(op)], life, device);
    for (Hostile h : kHostiles) {
      std::string current;
      tampered(record, f, h, "", &current);
      std::string value;
      if (!hostileValue(f, h, life.context, current, &value)) continue;
      const int n = (*index)++;
      if (!full && n % kSampleEvery != 0) continue;
      Cell c;
      c.field = f;
      c.hostile = h;
      c.op = op;
      c.value = value;
      out.push_back(c);
    }
  }
  return out;
}

std::string cellLine(const Cell& c) {
  std::string line = c.field.name() + "\t" + hostileName(c.hostile) + "\t" +
                     zrStressOpName(c.op) + "\t" + (c.refused ? "r" : "-");
  for (const std::string& f : c.failures) line += "\t" + f;
  return line;
}

void runCell(Cell& cell, ZrStressJob& job, const Lifecycle& life, const std::string& dir,
             const std::string& before, ccisim::Fixture& sim) {
  zrStressRestoreDir(before, dir);
  std::vector<ZrDeviceState> states = life.before[static_cast<size_t>(cell.op)];
  const int device = tamperedDevice(cell.op);
  std::string current;
  const std::string record = recordOf(cell.field, states, life, device);
  states[static_cast<size_t>(device)].metadata[cell.field.record] =
      tampered(record, cell.field, cell.hostile, cell.value, &current);
  const World w0 = worldOf(zrStressLoad(dir));
  sim.clearJournal();
  ZrChildResult r = zrRunChild([&] { return zrRunOpPayload(job, states, cell.op); }, kCellTimeoutMs);
  int left = 0;
  zrReapOrphans(2000, &left);
  const ccisim::State s1 = zrStressLoad(dir);
  const World w1 = worldOf(s1);
  std::vector<std::string>& f = cell.failures;
  if (r.timedOut) f.push_back("job hung");
  if (r.signaled && !r.timedOut) f.push_back("job crashed (signal " + std::to_string(r.signal) + ")");
  int result = 1;
  std::vector<ZrDeviceState> after;
  if (!r.exited || !zrReadOpPayload(r.text, &result, &after) || after.size() != states.size()) {
    if (f.empty()) f.push_back("job gave no result");
    return;
  }
  const std::set<int> otherSources = range(kOtherFirstLdev, 4);
  std::set<int> otherLdevs = w0.svolsOf(otherSources);
  otherLdevs.insert(otherSources.begin(), otherSources.end());
  const std::string other = changedOf(w0, w1, otherSources, otherLdevs, "the other job's");
  if (!other.empty()) f.push_back(other);
  const std::string sources =
      changedOf(w0, w1, {}, range(kZrStressFirstLdev, 4), "the job's source");
  if (!sources.empty()) f.push_back(sources);
  const std::string stray = strayCommand(sim.journal(), w0, w1, life.otherGroups);
  if (!stray.empty()) f.push_back("sent " + stray);
  judgeDevices(cell, result, after);
  // A device that reports the operation's success reached it: its pairs,
  // S-VOLs and LU paths are as a clean run leaves them (delete reported 20
  // while the pair stayed).
  const int success = zrStressOpStatus(cell.op);
  const size_t count = cell.op == ZrStressOp::kRevert ? 1 : after.size();
  for (size_t i = 0; success >= 0 && i < count; ++i) {
    if (after[i].status != success || after[i].errorCode != 0) continue;
    const ZrDeviceObjects o = zrDeviceObjects(s1, kZrStressFirstLdev + static_cast<int>(i));
    const ZrDeviceObjects& clean = life.cleanAfter[static_cast<size_t>(cell.op)][i];
    if (!(o == clean))
      f.push_back("device " + std::to_string(i) + " reports " + std::to_string(success) +
                  " with " + o.text() + "; a clean run leaves " + clean.text());
  }
  for (const std::string& idle : zrStressIdleFailures(s1, after)) f.push_back(idle);
  if (left > 0) f.push_back(std::to_string(left) + " process(es) of the job still running");
}

int worker(const ZrTamperMatrixOptions& o, int w, const std::string& dir) {
  zrBecomeSubreaper();
  std::string error;
  std::unique_ptr<ccisim::Fixture> sim = zrStressMakeArray(dir, kSources, &error);
  if (!sim) return 2;
  ZRPlatformInfo settings;
  settings.setRegString("~Tessavon", "nZRHDSCCICommandTimeoutInSec", "30");
  std::ofstream cells(dir + "/cells.txt");
  Lifecycle life;
  if (!otherJob(dir, life)) {
    cells << "setup\tthe other job's life cycle failed\n";
    return 1;
  }
  ZrStressJobSpec plan;
  plan.logFile = dir + "/logs/job.log";
  ZrStressJob job(plan);
  if (!job.open(&error)) return 2;
  // The clean life cycle: the states and the work directory before each
  // operation.
  std::vector<ZrDeviceState> states = job.states();
  for (ZrStressOp op : zrStressOps()) {
    life.before.push_back(states);
    zrStressSaveDir(dir, dir + ".before." + zrStressOpName(op));
    ZrChildResult c = zrRunChild([&] { return zrRunOpPayload(job, states, op); }, kCellTimeoutMs);
    int result = 1;
    std::vector<ZrDeviceState> next;
    if (!c.exited || !zrReadOpPayload(c.text, &result, &next) || result != 0) {
      cells << "setup\tclean " << zrStressOpName(op) << " failed: result " << result << "\n";
      return 1;
    }
    states = next;
    if (op == ZrStressOp::kMap) life.afterMap = states;
    const ccisim::State s = zrStressLoad(dir);
    std::vector<ZrDeviceObjects> objects;
    for (int i = 0; i < plan.count; ++i)
      objects.push_back(zrDeviceObjects(s, kZrStressFirstLdev + i));
    life.cleanAfter.push_back(objects);
  }
  int index = 0;
  int mine = 0;
  for (ZrStressOp op : zrStressOps()) {
    const std::string before = dir + ".before." + zrStressOpName(op);
    for (Cell& cell : cellsOf(op, life, o.full, &index)) {
      if (mine++ % o.workers != w) continue;
      runCell(cell, job, life, dir, before, *sim);
      cells << cellLine(cell) << "\n";
      cells.flush();
    }
  }
  return 0;
}

struct Tally {
  int held = 0, failed = 0, refused = 0;
};

}  // namespace

int zrRunTamperMatrix(const ZrTamperMatrixOptions& o, std::ostream& out) {
  const bool setupFailed = !zrRunWorkers(o.workers, o.dir, [&o](int w, const std::string& dir) {
    return worker(o, w, dir);
  });
  std::map<std::string, std::map<std::string, Tally>> table;  // field -> op -> tally
  std::vector<std::string> failedCells, setupLines;
  for (const std::vector<std::string>& f : zrReadWorkerRows(o.workers, o.dir, "cells.txt")) {
    if (!f.empty() && f[0] == "setup") {
      std::string line;
      for (size_t i = 0; i < f.size(); ++i) line += (i > 0 ? "\t" : "") + f[i];
      setupLines.push_back(line);
      continue;
    }
    if (f.size() < 4) continue;
    Tally& t = table[f[0]][f[2]];
    if (f.size() > 4) {
      std::string why;
      for (size_t i = 4; i < f.size(); ++i) why += (i > 4 ? "; " : "") + f[i];
      ++t.failed;
      failedCells.push_back(f[0] + " " + f[1] + " at " + f[2] + ": " + why);
    } else {
      ++t.held;
    }
    t.refused += f[3] == "r" ? 1 : 0;
  }
  std::ostringstream md;
  md << zrOpTableHead("field");
  int cells = 0, failed = 0, refused = 0;
  for (const Field& fld : fields()) {
    md << "| " << fld.name() << " |";
    for (ZrStressOp op : zrStressOps()) {
      const Tally& t = table[fld.name()][zrStressOpName(op)];
      const int all = t.held + t.failed;
      cells += all;
      failed += t.failed;
      refused += t.refused;
      if (all == 0)
        md << " - |";
      else if (t.failed == 0)
        md << " " << t.held << "/" << all << " (" << t.refused << "r) |";
      else
        md << " FAILED " << t.failed << "/" << all << " |";
    }
    md << "\n";
  }
  md << "\n(held/tried; Nr: N of them refused the tampered device with its own error)\n";
  md << "cells: " << cells << ", held: " << cells - failed << ", failed: " << failed
     << ", refused: " << refused << "\n";
  for (const std::string& s : setupLines) md << "- " << s << "\n";
  for (const std::string& c : failedCells) md << "- " << c << "\n";
  out << md.str();
  if (!o.report.empty()) std::ofstream(o.report) << md.str();
  if (setupFailed) {
    out << "a worker could not run its clean life cycle\n";
    return failed > 0 ? failed : -1;
  }
  return failed;
}
