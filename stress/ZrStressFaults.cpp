#include "stress/ZrStressFaults.h"

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "host/ZRPlatformInfo.h"
#include "stress/ZrStressRig.h"
#include "stress/ZrStressSameProcess.h"
#include "util/ZRHDSIntentRecord.h"

namespace {

const char kInjected[] = "injected by the fault matrix";
constexpr int kHangMillis = 31000;  // beyond the 30 s command time-out set below
constexpr int kCellTimeoutMs = 600000;
// The job of the cells and the next job of the same host process.
constexpr int kJobDevices = 4;
constexpr int kNextJobDevices = 1;
constexpr int kNextJob = 1;

// One kind of fault, placed on one command of the clean run.
struct Kind {
  std::string name;
  // Which commands it can be placed on (null: any).
  std::function<bool(const ccisim::JournalEntry&)> applies;
  // The fault for a command (tool, match and skip are set by the caller).
  std::function<ccisim::Fault()> make;
  bool sampled = false;  // only a few positions per operation (each costs a time-out)
  bool once = false;     // not placed on a command: one cell per operation
  // From its position on, every later run of the command form fails (the
  // runs of destructors and clean-up included), not only the one.
  bool lasting = false;
  // No fault: a second job of the process runs the operation while the
  // first one holds the resource lock (operations with a wait under it).
  bool interleaved = false;
};

bool isRaidcom(const ccisim::JournalEntry& e) { return e.tool == "raidcom"; }

bool isLogin(const ccisim::JournalEntry& e) {
  return !e.argv.empty() && (e.argv[0] == "-login" || e.argv[0] == "-logout");
}

std::vector<Kind> kinds() {
  std::vector<Kind> k;
  k.push_back({"fail", nullptr, [] { return ccisim::Fault::fail("", "", 1, kInjected); }});
  k.push_back({"refusal", nullptr, [] {
                 return ccisim::Fault::refusal("", "", kZrStressSerial, ccisim::Refusal::kOther);
               }});
  k.push_back({"expireLogin",
               [](const ccisim::JournalEntry& e) { return isRaidcom(e) && !isLogin(e); },
               [] { return ccisim::Fault::expireLogin(""); }});
  // The array reports a failure in the command status only for what it
  // carries out after the tool returned.
  auto isAsynchronous = [](const ccisim::JournalEntry& e) {
    return ccisim::isAsynchronous(e.tool, e.argv);
  };
  k.push_back({"statusError", isAsynchronous,
               [] { return ccisim::Fault::statusError("", 1, kInjected); }});
  // The same command without effect, while the status counts no error at
  // all (another session of the array user reset it in between).
  k.push_back({"statusReset", isAsynchronous, [] { return ccisim::Fault::statusReset(""); }});
  auto isStatus = [](const ccisim::JournalEntry& e) {
    return isRaidcom(e) && e.line().rfind("get command_status", 0) == 0;
  };
  k.push_back({"statusBusy", isStatus, [] { return ccisim::Fault::statusBusy(1, false); }});
  k.push_back({"statusBusyRow", isStatus, [] { return ccisim::Fault::statusBusy(3, true); }});
  k.push_back({"statusBusyAlways", isStatus, [] { return ccisim::Fault::statusBusy(-1, false); }});
  Kind hang{"hang", nullptr, [] { return ccisim::Fault::hang("", "", kHangMillis, true); }};
  hang.sampled = true;
  k.push_back(hang);
  Kind hangAfter{"hangAfter", nullptr,
                 [] { return ccisim::Fault::hang("", "", kHangMillis, false); }};
  hangAfter.sampled = true;
  k.push_back(hangAfter);
  Kind slow{"slow", nullptr, [] { return ccisim::Fault::slow(20); }};
  slow.once = true;
  k.push_back(slow);
  for (const char* mode :
       {"dropFinalNewline", "dropHeader", "extraPreamble", "leadingBlanks", "rightAligned",
        "trailingBlanks", "crlf", "empty", "randomBytes", "truncate"}) {
    const std::string m = mode;
    k.push_back({std::string("garble:") + mode, nullptr,
                 [m] { return ccisim::Fault::garbleOutput("", "", m); }});
  }
  // The same failures for good: the array keeps refusing the command.
  constexpr size_t kLastingKinds = 5;  // fail, refusal, expireLogin (none), statusError, statusReset
  for (size_t i = 0; i < kLastingKinds; ++i) {
    if (k[i].name == "expireLogin") continue;
    Kind lasting = k[i];
    lasting.name = "lasting:" + k[i].name;
    lasting.lasting = true;
    k.push_back(lasting);
  }
  Kind interleaved{"interleaved", nullptr, nullptr};
  interleaved.once = true;
  interleaved.interleaved = true;
  k.push_back(interleaved);
  return k;
}

// What a clean run of one operation did.
struct Clean {
  std::vector<ZrDeviceState> before, after;
  std::vector<ZrDeviceObjects> objectsBefore, objectsAfter;
  ZrArrayObjects arrayBefore, arrayAfter;
  std::vector<ccisim::JournalEntry> commands;
};

struct Cell {
  std::string kind;
  ZrStressOp op = ZrStressOp::kPrepare;
  int position = -1;  // index of the command in the clean run; -1 none
  std::string command;
  bool fired = true;
  std::vector<std::string> failures;
  std::string note;  // held, with this said of it
  int leftForAdmin = 0;  // unlabelled LDEVs a kept record names, logged for an administrator
};

std::string runPayload(ZrStressJob& job, const std::vector<ZrDeviceState>& states, ZrStressOp op) {
  job.setStates(states);
  const int result = job.run(op);
  std::string text = "R " + std::to_string(result) + "\n";
  for (const ZrDeviceState& s : job.states()) text += zrStateLine(s) + "\n";
  return text;
}

// What a cell's child hands back: the job's result and device states, the
// array right after the operation (before the next job of the process ran),
// whether the fault fired, and what the jobs after it found.
struct Payload {
  int result = 1;
  std::vector<ZrDeviceState> states;
  bool hasArray = false;
  ZrArrayObjects array;
  int fired = -1;  // firings of the cell's fault; -1 not reported
  std::vector<std::string> notes;
};

std::string arrayLine(const ZrArrayObjects& a) {
  return "A " + std::to_string(a.pairs) + " " + std::to_string(a.groups) + " " +
         std::to_string(a.svols) + " " + std::to_string(a.lunPaths) + " " +
         std::to_string(a.hostGroups) + "\n";
}

std::string noteLine(std::string note) {
  for (char& c : note) c = c == '\n' || c == '\r' ? ' ' : c;
  return "N " + note + "\n";
}

bool parsePayload(const std::string& text, Payload* p) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line.rfind("R ", 0) != 0) return false;
  p->result = std::atoi(line.c_str() + 2);
  p->states.clear();
  while (std::getline(in, line)) {
    if (line.rfind("A ", 0) == 0) {
      std::istringstream a(line.substr(2));
      p->hasArray = static_cast<bool>(a >> p->array.pairs >> p->array.groups >> p->array.svols >>
                                      p->array.lunPaths >> p->array.hostGroups);
    } else if (line.rfind("F ", 0) == 0) {
      p->fired = std::atoi(line.c_str() + 2);
    } else if (line.rfind("N ", 0) == 0) {
      p->notes.push_back(line.substr(2));
    } else {
      ZrDeviceState s;
      if (!zrStateFromLine(line, s)) return false;
      p->states.push_back(s);
    }
  }
  return true;
}

bool readPayload(const std::string& text, int* result, std::vector<ZrDeviceState>* states) {
  Payload p;
  if (!parsePayload(text, &p)) return false;
  *result = p.result;
  *states = p.states;
  return true;
}

// The child of a cell: the operation (with its fault, or interleaved with a
// second job), the array as it left it, then (nextJob), with the faults
// cleared as a later job meets the array, the next job of the same process.
std::string runCell(ZrStressJob& job, const std::vector<ZrDeviceState>& states, ZrStressOp op,
                    const Kind& kind, int faultId, bool nextJob, ccisim::Fixture& sim,
                    const std::string& dir) {
  std::vector<std::string> notes;
  std::string text;
  if (kind.interleaved) {
    int result = 1;
    notes = zrStressInterleaved(job, kNextJob, op, states, sim, dir, &result);
    text = "R " + std::to_string(result) + "\n";
    for (const ZrDeviceState& s : job.states()) text += zrStateLine(s) + "\n";
  } else {
    text = runPayload(job, states, op);
  }
  const ccisim::State after = zrStressLoad(dir);
  text += arrayLine(zrArrayObjects(after));
  for (const ccisim::Fault& f : after.faults)
    if (f.id == faultId) text += "F " + std::to_string(f.fired) + "\n";
  if (!kind.interleaved) {
    sim.clearFaults();
    if (nextJob) notes = zrStressNextJob(job, kNextJob, op, dir);
  }
  for (const std::string& n : notes) text += noteLine(n);
  return text;
}

void judge(Cell& cell, const Clean& clean, const ZrChildResult& child, int orphansLeft,
           const ccisim::State& after, const ZrStressJobSpec& plan) {
  std::vector<std::string>& f = cell.failures;
  if (child.timedOut) f.push_back("job hung (killed after the time limit)");
  if (child.signaled && !child.timedOut)
    f.push_back("job crashed (signal " + std::to_string(child.signal) + ")");
  Payload p;
  if (!child.exited || !parsePayload(child.text, &p) || p.states.size() != clean.after.size()) {
    if (f.empty()) f.push_back("job gave no result");
    return;
  }
  const int result = p.result;
  const std::vector<ZrDeviceState>& states = p.states;
  // A failure of the group is recorded on the group's first device (the
  // others keep their failure status); a device's own error carries a text.
  const int cleanStatus = zrStressOpStatus(cell.op);
  const size_t devices = cell.op == ZrStressOp::kRevert ? 1 : states.size();
  for (size_t i = 0; i < devices; ++i) {
    const ZrDeviceState& s = states[i];
    const ZrDeviceState& c = clean.after[i];
    const std::string dev = "device " + std::to_string(i);
    const int ldev = plan.firstLdev + static_cast<int>(i);
    if (s.errorCode != 0 && s.errorText.empty())
      f.push_back(dev + ": error " + std::to_string(s.errorCode) + " without text");
    const bool succeeded = s.errorCode == 0 && (cleanStatus < 0 || s.status == c.status);
    if (result == 0 && !succeeded)
      f.push_back("result 0 but " + dev + " has status " + std::to_string(s.status) + " error " +
                  std::to_string(s.errorCode));
    const ZrDeviceObjects o = zrDeviceObjects(after, ldev);
    if (succeeded && !(o == clean.objectsAfter[i]))
      f.push_back(dev + " succeeded with " + o.text() + ", a clean run leaves " +
                  clean.objectsAfter[i].text());
    if (!succeeded && !(o == clean.objectsBefore[i]) && !(o == clean.objectsAfter[i]))
      f.push_back(dev + " left " + o.text() + " (before: " + clean.objectsBefore[i].text() +
                  ", clean: " + clean.objectsAfter[i].text() + ")");
  }
  if (result != 0 && (states[0].errorCode == 0 || states[0].errorText.empty()))
    f.push_back("result " + std::to_string(result) + " without an error on the first device");
  // The array as the operation left it (the next job's own objects come and
  // go after it).
  const ZrArrayObjects a = p.hasArray ? p.array : zrArrayObjects(after);
  // Each kind of object as before the operation or as a clean run leaves
  // it (the pre-snap host group a map makes stays, as after a clean run).
  auto either = [](int v, int before, int clean) { return v == before || v == clean; };
  if (!either(a.svols, clean.arrayBefore.svols, clean.arrayAfter.svols) ||
      !either(a.groups, clean.arrayBefore.groups, clean.arrayAfter.groups) ||
      !either(a.hostGroups, clean.arrayBefore.hostGroups, clean.arrayAfter.hostGroups))
    f.push_back("array holds " + a.text() + " (before: " + clean.arrayBefore.text() +
                ", clean: " + clean.arrayAfter.text() + ")");
  for (const std::string& idle : zrStressIdleFailures(after, states)) f.push_back(idle);
  for (const std::string& note : p.notes) f.push_back(note);
  if (orphansLeft > 0)
    f.push_back(std::to_string(orphansLeft) + " process(es) of the job still running");
}

// The ids of defined LDEVs of the array.
std::set<int> definedLdevs(const ccisim::State& s) {
  std::set<int> ids;
  const ccisim::Array* a = s.array(kZrStressSerial);
  if (a == nullptr) return ids;
  a->loadLdevs();
  for (const auto& l : a->ldevs)
    if (l.second.defined) ids.insert(l.first);
  return ids;
}

// LDEVs the cell left without the job's label (the S-VOL counts see only
// labelled ones): an LDEV the array could not prove the job's is left so,
// for an administrator, and a kept intent record of the job must name it.
void checkUnlabelled(Cell& cell, const std::set<int>& initial, const std::string& dir) {
  const ccisim::State s = zrStressLoad(dir);
  const ccisim::Array* a = s.array(kZrStressSerial);
  if (a == nullptr) return;
  std::vector<ZRHDSIntentRecord> records;
  ZRHDSIntentStore(dir + "/intent").list(kZrStressSerial, records, nullptr, nullptr);
  std::set<int> named;
  for (const ZRHDSIntentRecord& r : records)
    for (const ZRHDSIntentEntry& e : r.entries)
      if (!e.ldev.empty()) named.insert(std::atoi(e.ldev.c_str()));
  cell.leftForAdmin = 0;
  for (int id : definedLdevs(s)) {
    if (initial.count(id) != 0 || a->ldev(id).label.rfind("QB_SVOL_", 0) == 0) continue;
    if (named.count(id) == 0) {
      cell.failures.push_back("LDEV " + std::to_string(id) +
                              " left unlabelled, named by no record of the job");
    } else {
      ++cell.leftForAdmin;
    }
  }
}

// Failures that say an array object was left.
bool isObjectFailure(const std::string& f) {
  return f.find(" left ") != std::string::npos || f.rfind("array holds", 0) == 0;
}

bool leftObjects(const Cell& cell) {
  for (const std::string& f : cell.failures)
    if (isObjectFailure(f)) return true;
  return false;
}

// What a failed operation left is intended when the job's deletion, which
// ends every job, removes it: a failed map keeps the S-VOLs it made and
// their paths until the snapshots are deleted. Runs the deletion on the
// devices as the cell left them; the object failures give way to a note
// when the array is then as before the life cycle (the pre-snap host group
// stays, as after a clean life cycle). The deletion runs without faults.
void deleteClears(Cell& cell, ZrStressJob& job, const ZrChildResult& r,
                  const ZrArrayObjects& initial, const std::string& dir, ccisim::Fixture& sim) {
  int result = 1;
  std::vector<ZrDeviceState> states;
  if (!r.exited || !readPayload(r.text, &result, &states)) return;
  // The deletion is a later job on an array that answers again: a fault
  // that fires for ever (a command status that never settles) is over.
  sim.clearFaults();
  ZrChildResult d =
      zrRunChild([&] { return runPayload(job, states, ZrStressOp::kDelete); }, kCellTimeoutMs);
  int left = 0;
  zrReapOrphans(2000, &left);
  const ZrArrayObjects a = zrArrayObjects(zrStressLoad(dir));
  if (!d.exited || a.pairs != initial.pairs || a.svols != initial.svols ||
      a.lunPaths != initial.lunPaths) {
    cell.failures.push_back("the job's deletion then leaves " + a.text());
    return;
  }
  std::vector<std::string> kept;
  for (const std::string& f : cell.failures)
    if (!isObjectFailure(f)) kept.push_back(f);
  cell.failures.swap(kept);
  cell.note = "left objects that the job's deletion removed";
}

// Cells of one operation, in a fixed order (every worker sees the same list).
std::vector<Cell> cellsOf(ZrStressOp op, const Clean& clean, const std::vector<Kind>& all,
                          bool full) {
  std::vector<Cell> out;
  const int n = static_cast<int>(clean.commands.size());
  for (size_t k = 0; k < all.size(); ++k) {
    const Kind& kind = all[k];
    if (kind.interleaved) {
      // Only a prepare waits while it holds the resource lock.
      if (op == ZrStressOp::kPrepare) out.push_back({kind.name, op, -1, "", true, {}, ""});
      continue;
    }
    if (kind.once) {
      if (full || op == ZrStressOp::kSnap) out.push_back({kind.name, op, -1, "", true, {}, ""});
      continue;
    }
    std::vector<int> positions;
    for (int p = 0; p < n; ++p)
      if (!kind.applies || kind.applies(clean.commands[static_cast<size_t>(p)]))
        positions.push_back(p);
    if (positions.empty()) continue;
    std::vector<int> chosen;
    const size_t m = positions.size();
    if (full && !kind.sampled) {
      chosen = positions;
    } else if (full) {
      chosen = {positions[0], positions[m / 2], positions[m - 1]};
    } else if (!kind.sampled || op == ZrStressOp::kSnap) {
      chosen = {positions[(k * 7 + static_cast<size_t>(op) * 3) % m]};
    }
    int last = -1;
    for (int p : chosen) {
      if (p == last) continue;
      last = p;
      out.push_back({kind.name,
                     op,
                     p,
                     clean.commands[static_cast<size_t>(p)].tool + " " +
                         clean.commands[static_cast<size_t>(p)].line(),
                     true,
                     {},
                     ""});
    }
  }
  return out;
}

// The fault of a cell, aimed at exactly its command of the clean run.
ccisim::Fault faultOf(const Cell& cell, const Kind& kind, const Clean& clean) {
  ccisim::Fault f = kind.make();
  if (cell.position < 0) return f;
  const ccisim::JournalEntry& e = clean.commands[static_cast<size_t>(cell.position)];
  if (f.match.empty()) {
    f.tool = e.tool;
    f.match = isLogin(e) ? e.argv[0] : e.line();
    if (isLogin(e) && e.argv.size() > 1) f.match += " " + e.argv[1];
  }
  int skip = 0;
  for (int p = 0; p < cell.position; ++p) {
    const ccisim::JournalEntry& o = clean.commands[static_cast<size_t>(p)];
    const std::string line = " " + o.line() + " ";
    if (o.tool == f.tool && line.find(" " + f.match + " ") != std::string::npos) ++skip;
  }
  f.skip = skip;
  if (kind.lasting) f.times = -1;
  return f;
}

std::string cellLine(const Cell& c) {
  std::string line = c.kind + "\t" + zrStressOpName(c.op) + "\t" + std::to_string(c.position) +
                     "\t" +
                     (!c.fired         ? "0"
                      : c.note.empty() ? "1"
                                       : "2") +
                     (c.leftForAdmin > 0 ? "a" + std::to_string(c.leftForAdmin) : "") + "\t" +
                     (c.command.empty() ? "-" : c.command);
  for (const std::string& f : c.failures) line += "\t" + f;
  return line;
}

// One worker: the whole clean life cycle, and the cells numbered w, w+W, ...
int worker(const ZrFaultMatrixOptions& o, int w, const std::string& dir) {
  zrBecomeSubreaper();
  std::string error;
  std::unique_ptr<ccisim::Fixture> sim =
      zrStressMakeArray(dir, kJobDevices + kNextJobDevices, &error);
  if (!sim) return 2;
  ZRPlatformInfo settings;
  settings.setRegString("~Tessavon", "nZRHDSCCICommandTimeoutInSec", "30");
  ZrStressJobSpec plan;
  plan.count = kJobDevices;
  plan.logFile = dir + "/logs/job.log";
  ZrStressJob job(plan);
  if (!job.open(&error)) return 2;
  // The next job of the same host process: its own sources and subclient.
  ZrStressJobSpec next = plan;
  next.firstLdev = plan.firstLdev + plan.count;
  next.count = kNextJobDevices;
  next.subclient = plan.subclient + 1;
  if (job.addJob(next) != kNextJob) return 2;
  std::ofstream cells(dir + "/cells.txt");
  const std::vector<Kind> all = kinds();
  std::vector<ZrDeviceState> states = job.states();
  const ZrArrayObjects initial = zrArrayObjects(zrStressLoad(dir));
  const std::set<int> initialLdevs = definedLdevs(zrStressLoad(dir));
  const std::string before = dir + ".before", afterCopy = dir + ".after";
  int index = 0;
  for (ZrStressOp op : zrStressOps()) {
    Clean clean;
    clean.before = states;
    const ccisim::State s0 = zrStressLoad(dir);
    for (int i = 0; i < plan.count; ++i)
      clean.objectsBefore.push_back(zrDeviceObjects(s0, plan.firstLdev + i));
    clean.arrayBefore = zrArrayObjects(s0);
    zrStressSaveDir(dir, before);
    const size_t journalBefore = sim->journal().size();
    ZrChildResult c = zrRunChild([&] { return runPayload(job, states, op); }, kCellTimeoutMs);
    int result = 1;
    if (!c.exited || !readPayload(c.text, &result, &clean.after) || result != 0) {
      cells << "clean\t" << zrStressOpName(op) << "\t-1\t1\t-\tclean run failed: result " << result
            << "\n";
      return 1;
    }
    const std::vector<ccisim::JournalEntry> j = sim->journal();
    clean.commands.assign(j.begin() + static_cast<long>(journalBefore), j.end());
    const ccisim::State s1 = zrStressLoad(dir);
    for (int i = 0; i < plan.count; ++i)
      clean.objectsAfter.push_back(zrDeviceObjects(s1, plan.firstLdev + i));
    clean.arrayAfter = zrArrayObjects(s1);
    zrStressSaveDir(dir, afterCopy);
    cells << "commands\t" << zrStressOpName(op) << "\t" << clean.commands.size() << "\n";

    for (Cell& cell : cellsOf(op, clean, all, o.full)) {
      if (!o.kinds.empty() && ("," + o.kinds + ",").find("," + cell.kind + ",") == std::string::npos)
        continue;
      if (index++ % o.workers != w) continue;
      const Kind* kind = nullptr;
      for (const Kind& k : all) kind = k.name == cell.kind ? &k : kind;
      zrStressRestoreDir(before, dir);
      sim->clearJournal();
      const int id = kind->interleaved ? -1 : sim->addFault(faultOf(cell, *kind, clean));
      // The full matrix runs the next job after every cell; the short one
      // after the cells of faults that outlast their job.
      const bool nextJob = o.full || kind->lasting;
      ZrChildResult r = zrRunChild(
          [&] { return runCell(job, states, op, *kind, id, nextJob, *sim, dir); },
          kCellTimeoutMs);
      int left = 0;
      zrReapOrphans(2000, &left);
      const ccisim::State after = zrStressLoad(dir);
      // A fault on no command in particular (slow) acts on every command.
      // The child reports the firings before it clears the faults for the
      // next job; a child that ended early left them in the state.
      Payload p;
      if (cell.position >= 0 && parsePayload(r.text, &p) && p.fired >= 0) {
        cell.fired = p.fired > 0;
      } else if (cell.position >= 0) {
        for (const ccisim::Fault& f : after.faults)
          if (f.id == id) cell.fired = f.fired > 0;
      }
      if (cell.fired) judge(cell, clean, r, left, after, plan);
      if (cell.fired && leftObjects(cell)) deleteClears(cell, job, r, initial, dir, *sim);
      if (cell.fired) checkUnlabelled(cell, initialLdevs, dir);
      cells << cellLine(cell) << "\n";
      cells.flush();
    }
    zrStressRestoreDir(afterCopy, dir);
    states = clean.after;
  }
  return 0;
}

struct Tally {
  int held = 0, failed = 0, unfired = 0;
  int cleanedByDelete = 0;  // held: what it left the job's deletion removed
  int leftForAdmin = 0;     // held, leaving unlabelled LDEVs for an administrator
};

}  // namespace

int zrRunFaultMatrix(const ZrFaultMatrixOptions& o, std::ostream& out) {
  std::vector<pid_t> pids;
  for (int w = 0; w < o.workers; ++w) {
    const std::string dir = o.dir + "/w" + std::to_string(w);
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(worker(o, w, dir));
    pids.push_back(pid);
  }
  bool setupFailed = false;
  for (pid_t pid : pids) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    setupFailed = setupFailed || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
  }
  std::map<std::string, std::map<std::string, Tally>> table;  // kind -> op -> tally
  std::map<std::string, std::string> commandCounts;
  std::vector<std::string> failedCells, kindOrder;
  for (const Kind& k : kinds()) kindOrder.push_back(k.name);
  for (const std::vector<std::string>& f : zrReadWorkerRows(o.workers, o.dir, "cells.txt")) {
    if (f.size() < 3) continue;
    if (f[0] == "commands") {
      commandCounts[f[1]] = f[2];
      continue;
    }
    if (f.size() < 5) continue;
    Tally& t = table[f[0]][f[1]];
    if (f[3] == "0") {
      ++t.unfired;
    } else if (f.size() > 5) {
      std::string why;
      for (size_t i = 5; i < f.size(); ++i) why += (i > 5 ? "; " : "") + f[i];
      ++t.failed;
      failedCells.push_back(f[0] + " at " + f[1] + " #" + f[2] + " (" + f[4] + "): " + why);
    } else {
      ++t.held;
      t.cleanedByDelete += f[3][0] == '2' ? 1 : 0;
      t.leftForAdmin += f[3].find('a') != std::string::npos ? 1 : 0;
    }
  }
  std::ostringstream md;
  md << zrOpTableHead("fault");
  int cells = 0, failed = 0;
  for (const std::string& k : kindOrder) {
    md << "| " << k << " |";
    for (ZrStressOp op : zrStressOps()) {
      const Tally& t = table[k][zrStressOpName(op)];
      const int all = t.held + t.failed;
      cells += all;
      failed += t.failed;
      if (all == 0) {
        md << " - |";
      } else if (t.failed == 0) {
        md << " held " << t.held;
        if (t.cleanedByDelete > 0) md << " (" << t.cleanedByDelete << "d)";
        if (t.leftForAdmin > 0) md << " (" << t.leftForAdmin << "a)";
        md << " |";
      } else {
        md << " FAILED " << t.failed << "/" << all << " |";
      }
    }
    md << "\n";
  }
  md << "\n(Nd: N of the cells left objects that the job's deletion removed; Na: N of the cells "
        "left LDEVs unlabelled that the array could not prove the job's, named by the job's kept "
        "record and logged for an administrator)\n";
  md << "commands per operation (clean run):";
  for (ZrStressOp op : zrStressOps())
    md << " " << zrStressOpName(op) << " " << commandCounts[zrStressOpName(op)];
  md << "\ncells: " << cells << ", failed: " << failed << "\n";
  for (const std::string& c : failedCells) md << "- " << c << "\n";
  out << md.str();
  if (!o.report.empty()) std::ofstream(o.report) << md.str();
  if (setupFailed) {
    out << "a worker could not run its clean life cycle\n";
    return failed > 0 ? failed : -1;
  }
  return failed;
}
