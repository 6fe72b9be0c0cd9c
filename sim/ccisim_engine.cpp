// The engine: one invocation of a tool against the state database.
//
// Order of work (each invocation):
//   1. open the database, begin a write transaction (other runs wait),
//      load the small records (LDEVs are read as the command names them);
//   2. hang-before faults: journal a marker, save, commit, sleep, begin and
//      load again (a time-out that kills the tool meanwhile leaves the array
//      untouched);
//   3. tick = the next journal row; match the other faults;
//   4. parse argv (syntax errors: 252/253/254), check the context every real
//      array checks (instance running 251, serial 1, login 202, foreign
//      resource lock 221), check the command's preconditions, apply the
//      effect, render the output;
//   5. fault rewrites (fail, garble), error stream switch;
//   6. save the records that changed, journal the invocation, commit; a
//      hang-after fault's sleep is left to the caller (main sleeps before
//      printing).
// Messages are printed the way the real tools print them:
// "<tool>: [EX_<NAME>] <text>", array refusals with SSB and CAUSE lines.
#include "sim/ccisim_engine.h"
#include "sim/ccisim_store.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

namespace ccisim {

using namespace detail;
using engine::Ctx;

namespace {

// ---------------------------------------------------------------------------
// Faults.

bool faultMatches(const Fault& f, const std::string& tool, const std::vector<std::string>& args) {
  if (!f.tool.empty() && f.tool != tool) return false;
  std::vector<std::string> w = words(f.match);
  if (w.empty()) return true;
  for (size_t i = 0; i + w.size() <= args.size(); ++i) {
    bool all = true;
    for (size_t k = 0; k < w.size() && all; ++k) all = args[i + k] == w[k];
    if (all) return true;
  }
  return false;
}

// Counts a matching invocation and tells whether the fault fires on it.
bool faultFires(Fault& f) {
  ++f.seen;
  if (f.seen <= f.skip) return false;
  if (f.times >= 0 && f.fired >= f.times) return false;
  ++f.fired;
  return true;
}

bool isLoginLine(const std::string& tool, const std::vector<std::string>& args) {
  return tool == "raidcom" && !args.empty() && (args[0] == "-login" || args[0] == "-logout");
}

std::string garble(const std::string& text, const std::string& mode, int64_t tick) {
  if (mode == "dropFinalNewline") {
    std::string s = text;
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }
  if (mode == "dropHeader") {
    size_t nl = text.find('\n');
    return nl == std::string::npos ? "" : text.substr(nl + 1);
  }
  if (mode == "extraPreamble")
    return "WARNING: unexpected preamble line from the command device\n" + text;
  if (mode == "leadingBlanks" || mode == "trailingBlanks" || mode == "rightAligned") {
    std::string s;
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
      size_t nl = text.find('\n', pos);
      std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
      bool dataLine = !(mode == "rightAligned" && first);
      if (mode == "trailingBlanks")
        line += "  ";
      else if (dataLine && !line.empty())
        line = "   " + line;
      s += line;
      if (nl == std::string::npos) break;
      s += '\n';
      pos = nl + 1;
      first = false;
    }
    return s;
  }
  if (mode == "crlf") {
    std::string s;
    for (char ch : text) {
      if (ch == '\n') s += '\r';
      s += ch;
    }
    return s;
  }
  if (mode == "empty") return "";
  if (mode == "randomBytes") {
    std::string s;
    uint32_t x = static_cast<uint32_t>(tick) * 2654435761u + 12345u;
    for (int i = 0; i < 96; ++i) {
      x = x * 1103515245u + 12345u;
      s += static_cast<char>((x >> 16) & 0xff);
    }
    return s + "\n";
  }
  if (mode == "truncate") {
    if (text.size() < 2) return "";
    std::string s = text.substr(0, text.size() - 1);
    size_t nl = s.rfind('\n');
    size_t start = nl == std::string::npos ? 0 : nl + 1;
    return s.substr(0, start + (s.size() - start) / 2);
  }
  return text;
}

// The journal never keeps a password: the word after "-login <user>".
std::vector<std::string> maskedArgs(const std::string& tool, const std::vector<std::string>& args) {
  std::vector<std::string> v = args;
  if (tool == "raidcom")
    for (size_t i = 0; i + 2 < v.size(); ++i)
      if (v[i] == "-login") v[i + 2] = "****";
  return v;
}

// Instance and serial as given on the command line (for the journal, and for
// faults that act on the instance before the command is parsed).
void peekCommon(const std::string& tool, const std::vector<std::string>& args, std::string& inst,
                std::string& serial) {
  inst.clear();
  serial.clear();
  if (tool == "horcmstart.sh" || tool == "horcmshutdown.sh") {
    if (!args.empty() && isDigits(args[0])) inst = std::to_string(std::atoi(args[0].c_str()));
    return;
  }
  size_t from = (tool == "raidcom" && !args.empty() && args[0] == "-login") ? 3 : 0;
  for (size_t i = from; i < args.size(); ++i) {
    const std::string& t = args[i];
    if (t.size() > 2 && t[0] == '-' && t[1] == 'I') {
      std::string n = t.substr(2);
      if (!n.empty() && (n[0] == 'H' || n[0] == 'M')) n = n.substr(1);
      if (isDigits(n)) inst = std::to_string(std::atoi(n.c_str()));
    } else if (t == "-s" && i + 1 < args.size()) {
      serial = args[++i];
    }
  }
}

const Instance* instanceOf(const State& s, const std::string& inst) {
  if (inst.empty()) return nullptr;
  auto it = s.instances.find(std::atoi(inst.c_str()));
  return it == s.instances.end() ? nullptr : &it->second;
}

Outcome storeFailure(const std::string& why) {
  Outcome o;
  o.exitCode = kExitGeneric;
  o.err = "ccisim: " + why + "\n";
  return o;
}

JournalEntry journalEntry(const State& s, const std::string& tool,
                          const std::vector<std::string>& args, const std::string& inst,
                          const std::string& serial, int exitCode) {
  JournalEntry e;
  e.tick = s.tick;
  e.tool = tool;
  e.argv = maskedArgs(tool, args);
  e.instance = inst;
  e.serial = serial;
  e.exitCode = exitCode;
  return e;
}

// The faults that act on this invocation (each kind at most once).
struct Fired {
  const Fault* fail = nullptr;
  const Fault* statusErr = nullptr;
  const Fault* statusReset = nullptr;
  const Fault* garbler = nullptr;
  int hangAfter = 0;
  bool expire = false;
};

Fired matchFaults(State& s, const std::string& tool, const std::vector<std::string>& args) {
  Fired x;
  std::set<std::string> firedKinds;
  for (Fault& f : s.faults) {
    if (f.kind == "hang" && f.hangBefore) continue;
    if (f.kind == "expireLogin" && isLoginLine(tool, args)) continue;
    if (!faultMatches(f, tool, args)) continue;
    if ((f.kind == "statusError" || f.kind == "statusReset") && !isAsynchronous(tool, args))
      continue;
    if (firedKinds.count(f.kind)) {
      ++f.seen;
      continue;
    }
    if (!faultFires(f)) continue;
    firedKinds.insert(f.kind);
    if (f.kind == "fail")
      x.fail = &f;
    else if (f.kind == "statusError")
      x.statusErr = &f;
    else if (f.kind == "statusReset")
      x.statusReset = &f;
    else if (f.kind == "garble")
      x.garbler = &f;
    else if (f.kind == "hang")
      x.hangAfter = f.hangMillis;
    else if (f.kind == "expireLogin")
      x.expire = true;
  }
  return x;
}

// One invocation on a loaded state: faults, the command, output rewrites.
Outcome runOnState(State& s, const std::string& tool, const std::vector<std::string>& args,
                   const std::string& inst, const std::string& serial, std::string& instOut) {
  Fired x = matchFaults(s, tool, args);
  if (x.expire && !inst.empty()) {
    auto it = s.instances.find(std::atoi(inst.c_str()));
    if (it != s.instances.end()) it->second.loggedIn = false;
  }
  Ctx c(s, tool, args);
  if (x.fail && !x.fail->applyEffect) {
    c.o.exitCode = x.fail->exitCode;
    c.o.err = x.fail->err;
    if (x.fail->out == "@statusrow") {
      const Instance* in = instanceOf(s, inst);
      c.o.out = in ? renderCommandStatus(s.statusOf(in->user, in->serial), in->serial)
                   : renderCommandStatus(CommandStatus(), serial);
    } else {
      c.o.out = x.fail->out;
    }
  } else if (x.statusErr) {
    const Instance* in = instanceOf(s, inst);
    if (in) {
      CommandStatus& st = s.status(in->user, in->serial);
      if (st.errCnt == 0) {
        st.ssb1 = "2e31";
        st.ssb2 = "9100";
        st.description = x.statusErr->description.empty() ? "-" : x.statusErr->description;
      }
      st.errCnt += x.statusErr->errCnt;
    }
  } else if (x.statusReset) {
    // Nothing changes, and what the status held is gone.
    const Instance* in = instanceOf(s, inst);
    if (in) s.status(in->user, in->serial) = CommandStatus();
  } else {
    engine::dispatch(c);
    if (x.fail) {
      c.o.exitCode = x.fail->exitCode;
      c.o.out += x.fail->out;
      c.o.err += x.fail->err;
    }
  }
  if (x.garbler) c.o.out = garble(c.o.out, x.garbler->garble, s.tick);
  if (s.errorStream == "stdout" && !c.o.err.empty()) {
    c.o.out += c.o.err;
    c.o.err.clear();
  }
  instOut = c.inst.empty() ? inst : c.inst;
  c.o.hangMillis = x.hangAfter;
  return c.o;
}

}  // namespace

bool isAsynchronous(const std::string& tool, const std::vector<std::string>& argv) {
  if (tool != "raidcom" || argv.size() < 2) return false;
  const std::string& verb = argv[0];
  const std::string& object = argv[1];
  if (object == "ldev") return verb == "add" || verb == "delete";
  if (object == "snapshot") {
    return verb == "add" || verb == "delete" || verb == "modify" || verb == "map" ||
           verb == "unmap";
  }
  return false;
}

// ---------------------------------------------------------------------------
Outcome invoke(const std::string& statePath, const std::string& tool,
               const std::vector<std::string>& args) {
  std::string inst, serial, why;
  peekCommon(tool, args, inst, serial);
  std::unique_ptr<Store> store = Store::open(statePath, false, why);
  State s;
  // The version lines need no array: without a state the tool answers them
  // from the defaults (and journals nothing).
  if (!store && tool == "raidqry" && args == std::vector<std::string>{"-h"}) {
    std::string unused;
    return runOnState(s, tool, args, inst, serial, unused);
  }
  if (!store || !store->begin(true, why) || !store->load(s, false, why)) return storeFailure(why);
  // Hang-before faults are decided once, here; the wait happens outside the
  // transaction, and the command then runs on the state as it is after the
  // wait (unless the caller's time-out killed the tool meanwhile).
  int hangMs = 0;
  for (Fault& f : s.faults)
    if (f.kind == "hang" && f.hangBefore && faultMatches(f, tool, args) && faultFires(f) &&
        hangMs == 0)
      hangMs = f.hangMillis;
  if (hangMs > 0) {
    s.tick = store->nextTick();
    JournalEntry marker = journalEntry(s, tool, args, inst, serial, -1);
    marker.hangMarker = true;
    marker.stateWrites = store->save(s, why);
    if (marker.stateWrites < 0 || !store->appendJournal(marker, "", "", why) || !store->commit(why))
      return storeFailure(why);
    std::this_thread::sleep_for(std::chrono::milliseconds(hangMs));
    if (!store->begin(true, why) || !store->load(s, false, why)) return storeFailure(why);
  }
  s.tick = store->nextTick();
  std::string instUsed;
  Outcome o = runOnState(s, tool, args, inst, serial, instUsed);
  JournalEntry e = journalEntry(s, tool, args, instUsed, serial, o.exitCode);
  e.stateWrites = store->save(s, why);
  if (e.stateWrites < 0 || !store->appendJournal(e, o.out, o.err, why) || !store->commit(why)) {
    store->rollback();
    return storeFailure(why);
  }
  return o;
}

}  // namespace ccisim
