// The engine: one invocation of a tool against the state file.
//
// Order of work (each invocation):
//   1. lock "<state>.lock" (flock), load the state;
//   2. hang-before faults: journal a marker, save, unlock, sleep, lock and
//      load again (a time-out that kills the tool meanwhile leaves the array
//      untouched);
//   3. tick += 1; match the other faults;
//   4. parse argv (syntax errors: 252/253/254), check the context every real
//      array checks (instance running 251, serial 1, login 202, foreign
//      resource lock 227), check the command's preconditions, apply the
//      effect, render the output;
//   5. fault rewrites (fail, garble), error stream switch;
//   6. journal the invocation, save, unlock; a hang-after fault's sleep is
//      left to the caller (main sleeps before printing).
// Messages are printed the way the real tools print them:
// "<tool>: [EX_<NAME>] <text>", array refusals with SSB and CAUSE lines.
#include "sim/ccisim_fixture.h"
#include "sim/ccisim_internal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <chrono>

namespace ccisim {

using namespace detail;

namespace {

// ---------------------------------------------------------------------------
// Invocation context.
struct Ctx {
  State& s;
  std::string tool;
  std::vector<std::string> args;  // after the tool name, as received
  std::vector<std::string> rest;  // args without the common options
  std::string inst;               // instance digits, "" none
  std::string serial;             // -s value, "" none
  Instance* in = nullptr;
  Array* a = nullptr;
  Outcome o;
  bool done = false;  // an error has been set

  Ctx(State& st, const std::string& t, const std::vector<std::string>& av)
      : s(st), tool(t), args(av) {}
};

void error(Ctx& c, int code, const std::string& name, const std::string& text) {
  c.o.exitCode = code;
  c.o.err += c.tool + ": [" + name + "] " + text + "\n";
  c.done = true;
}

// An order the array refuses (EX_CMDRJE): the cause is the text callers match.
void refuse(Ctx& c, const std::string& cause) {
  c.o.exitCode = kExitRejected;
  c.o.err += c.tool + ": [EX_CMDRJE] An order to the control/command device was rejected\n";
  c.o.err += "It was rejected due to SKEY=0x05, ASC=0x26, SSB=0x2E11,0x2205 on Serial#(" +
             (c.a ? c.a->serial : std::string("-")) + ")\n";
  c.o.err += "CAUSE : " + cause + "\n";
  c.done = true;
}

void noObject(Ctx& c, const std::string& what) {
  error(c, kExitNoObject, "EX_ENOOBJ", "No such Object in the RAID (" + what + ")");
}

void badStatus(Ctx& c, const std::string& what) {
  c.o.exitCode = kExitBadStatus;
  c.o.err += c.tool + ": [EX_INVSTP] Invalid pair status\n";
  c.o.err += "CAUSE : " + what + "\n";
  c.done = true;
}

void unknownOption(Ctx& c, const std::string& tok) {
  error(c, kExitUnknownOption, "EX_UNKOPT", "Unknown option or unexpected word '" + tok + "'");
}
void missingArg(Ctx& c, const std::string& opt) {
  error(c, kExitMissingArg, "EX_REQARG", "Required Arg list for '" + opt + "'");
}
void invalidArg(Ctx& c, const std::string& opt, const std::string& val) {
  error(c, kExitInvalidArg, "EX_INVARG", "Invalid argument '" + val + "' for '" + opt + "'");
}

bool startsWithDash(const std::string& t) { return !t.empty() && t[0] == '-'; }

bool parseInt(const std::string& t, long long& v) {
  if (!isDigits(t) || t.size() > 12) return false;
  v = std::strtoll(t.c_str(), nullptr, 10);
  return true;
}

// ---------------------------------------------------------------------------
// Option parsing. Each command states the options it accepts with the number
// of values they take; anything else fails loudly (unknown option, extra
// word, missing value), so a value with a blank in it (several words) is
// caught rather than half read.
struct OptionRule {
  std::string name;
  int minVals;
  int maxVals;
  bool repeat;
};

struct Opts {
  std::map<std::string, std::vector<std::vector<std::string>>> v;
  bool has(const std::string& k) const { return v.count(k) != 0; }
  const std::vector<std::string>& vals(const std::string& k) const { return v.at(k).front(); }
  std::string one(const std::string& k) const {
    auto it = v.find(k);
    if (it == v.end() || it->second.front().empty()) return "";
    return it->second.front().front();
  }
};

bool parseOpts(Ctx& c, size_t start, const std::vector<OptionRule>& rules, Opts& out) {
  const std::vector<std::string>& t = c.rest;
  size_t i = start;
  while (i < t.size()) {
    const OptionRule* sp = nullptr;
    for (const auto& s : rules)
      if (s.name == t[i]) sp = &s;
    if (!sp) {
      unknownOption(c, t[i]);
      return false;
    }
    if (out.has(sp->name) && !sp->repeat) {
      error(c, kExitInvalidArg, "EX_INVARG", "Option '" + sp->name + "' given twice");
      return false;
    }
    ++i;
    std::vector<std::string> vals;
    // The first value is taken whatever it looks like ("-resource -1");
    // further required values must not look like options.
    for (int k = 0; k < sp->minVals; ++k, ++i) {
      if (i >= t.size() || (k > 0 && startsWithDash(t[i]))) {
        missingArg(c, sp->name);
        return false;
      }
      vals.push_back(t[i]);
    }
    for (int k = sp->minVals; k < sp->maxVals && i < t.size() && !startsWithDash(t[i]); ++k, ++i)
      vals.push_back(t[i]);
    out.v[sp->name].push_back(vals);
  }
  return true;
}

// Takes -IH<n>/-IM<n>/-I<n> and "-s <serial>" out of argv (anywhere).
bool extractCommon(Ctx& c, size_t from) {
  for (size_t i = 0; i < from && i < c.args.size(); ++i) c.rest.push_back(c.args[i]);
  for (size_t i = from; i < c.args.size(); ++i) {
    const std::string& t = c.args[i];
    if (t.size() > 2 && t[0] == '-' && t[1] == 'I') {
      std::string n = t.substr(2);
      if (!n.empty() && (n[0] == 'H' || n[0] == 'M')) n = n.substr(1);
      if (!isDigits(n)) {
        unknownOption(c, t);
        return false;
      }
      c.inst = std::to_string(std::strtol(n.c_str(), nullptr, 10));
      continue;
    }
    if (t == "-s") {
      if (i + 1 >= c.args.size()) {
        missingArg(c, "-s");
        return false;
      }
      c.serial = c.args[++i];
      if (!isDigits(c.serial)) {
        invalidArg(c, "-s", c.serial);
        return false;
      }
      continue;
    }
    c.rest.push_back(t);
  }
  return true;
}

// Instance running, serial of the instance's array, login (when needed).
bool requireContext(Ctx& c, bool needLogin) {
  if (c.inst.empty()) {
    error(c, kExitNotAttached, "EX_ATTHOR", "Can't be attached to HORC manager");
    return false;
  }
  auto it = c.s.instances.find(std::atoi(c.inst.c_str()));
  if (it == c.s.instances.end() || !it->second.running) {
    error(c, kExitNotAttached, "EX_ATTHOR", "Can't be attached to HORC manager");
    return false;
  }
  c.in = &it->second;
  c.a = c.s.array(c.in->serial);
  if (!c.a) {
    error(c, kExitNotAttached, "EX_ATTHOR",
          "Can't be attached to HORC manager (no array behind the instance)");
    return false;
  }
  if (!c.serial.empty() && c.serial != c.a->serial) {
    error(c, kExitNoUnit, "EX_ENOUNT", "No such unit (Serial# " + c.serial + ")");
    return false;
  }
  if (needLogin) {
    if (c.in->loggedIn && c.in->loginTtl == 0) c.in->loggedIn = false;
    if (!c.in->loggedIn) {
      error(c, kExitAuth, "EX_ENAUTH", "Authentication failed with User");
      return false;
    }
    if (c.in->loginTtl > 0) --c.in->loginTtl;
  }
  return true;
}

bool loginNeeded(const Ctx& c) {
  if (c.tool == "raidcom") return true;
  if (c.tool == "raidscan" || c.tool == "pairsyncwait") return c.s.authScope == "all";
  return false;
}

// A change to a resource of group rsgid is refused while that group, or
// meta_resource, is locked by someone other than this login on this host.
bool lockedByOther(Ctx& c, int rsgid) {
  for (int id : {rsgid, 0}) {
    const ResourceGroup* g = c.a->groupById(id);
    if (!g || g->lockStatus != "Locked") continue;
    if (g->lockOwner != c.in->user || g->lockHost != c.in->host) {
      error(c, kExitLocked, "EX_EACCES",
            "The resource is locked by another user (" + g->name + ")");
      return true;
    }
  }
  return false;
}

bool ldevArg(Ctx& c, const std::string& opt, const std::string& v, int& id) {
  long long x;
  if (!parseInt(v, x)) {
    invalidArg(c, opt, v);
    return false;
  }
  id = static_cast<int>(x);
  return true;
}

bool inRange(Ctx& c, int id) {
  if (id < 0 || id > c.a->maxLdev) {
    error(c, kExitGeneric, "EX_ENLDEV",
          "No such LDEV (" + std::to_string(id) + " is out of range)");
    return false;
  }
  return true;
}

std::vector<int> pathLdevs(const Array& a) {
  std::vector<int> v;
  for (const auto& p : a.ports)
    for (const auto& g : p.second.hostGroups)
      for (const auto& l : g.second.luns) v.push_back(l.second);
  return v;
}

bool hasPath(const Array& a, int ldev) {
  for (int l : pathLdevs(a))
    if (l == ldev) return true;
  return false;
}

// Resolves the host-group words of -port: "P-G" (G decimal) or "P name".
bool resolveHostGroup(Ctx& c, const std::vector<std::string>& vals, std::string& port,
                      HostGroup*& g) {
  g = nullptr;
  if (vals.size() == 2) {
    port = vals[0];
    auto p = c.a->ports.find(port);
    if (p == c.a->ports.end()) {
      noObject(c, "port " + port);
      return false;
    }
    for (auto& hg : p->second.hostGroups)
      if (hg.second.name == vals[1]) g = &hg.second;
    if (!g) {
      noObject(c, "host group " + port + " " + vals[1]);
      return false;
    }
    return true;
  }
  const std::string& v = vals[0];
  if (c.a->ports.count(v)) {
    missingArg(c, "-port <port>-<gid>");
    return false;
  }
  size_t dash = v.rfind('-');
  if (dash == std::string::npos || !isDigits(v.substr(dash + 1))) {
    invalidArg(c, "-port", v);
    return false;
  }
  port = v.substr(0, dash);
  int gid = std::atoi(v.substr(dash + 1).c_str());
  if (!c.a->ports.count(port)) {
    noObject(c, "port " + port);
    return false;
  }
  g = c.a->hostGroup(port, gid);
  if (!g) {
    noObject(c, "host group " + v);
    return false;
  }
  return true;
}

// The commands whose only option is -port with its host group (get lun,
// delete host_grp, get hba_wwn): reads it, needs a logged-in context and
// resolves the group; false when the command has already failed.
bool portOnlyHostGroup(Ctx& c, std::string& port, HostGroup*& g) {
  Opts o;
  if (!parseOpts(c, 2, {{"-port", 1, 2, false}}, o)) return false;
  if (!o.has("-port")) {
    missingArg(c, "-port");
    return false;
  }
  if (!requireContext(c, true)) return false;
  return resolveHostGroup(c, o.vals("-port"), port, g);
}

// ---------------------------------------------------------------------------
// raidcom commands.

void cmdLogin(Ctx& c) {
  // "-login <user> <password>": the two words are taken as they are (a
  // password may begin with '-'), the common options after them.
  if (c.args.size() < 3) {
    missingArg(c, "-login");
    return;
  }
  std::string user = c.args[1], pw = c.args[2];
  // "-login user -IM3532": the password is missing, not "-IM3532".
  if (pw.size() > 2 && pw[0] == '-' && pw[1] == 'I') {
    std::string n = pw.substr(2);
    if (!n.empty() && (n[0] == 'H' || n[0] == 'M')) n = n.substr(1);
    if (isDigits(n)) return missingArg(c, "-login");
  }
  if (!extractCommon(c, 3)) return;
  if (c.rest.size() > 3) {
    unknownOption(c, c.rest[3]);
    return;
  }
  if (!requireContext(c, false)) return;
  auto it = c.s.users.find(user);
  if (it == c.s.users.end() || it->second != pw) {
    c.in->loggedIn = false;
    error(c, kExitAuth, "EX_ENAUTH", "Authentication failed with User");
    return;
  }
  c.in->user = user;
  c.in->loggedIn = true;
  c.in->loginTtl = -1;
}

void cmdLogout(Ctx& c) {
  if (!extractCommon(c, 1)) return;
  if (c.rest.size() > 1) {
    unknownOption(c, c.rest[1]);
    return;
  }
  if (!requireContext(c, false)) return;
  c.in->loggedIn = false;
  c.in->user.clear();
  c.in->errCnt = 0;
  c.in->ssb1 = c.in->ssb2 = c.in->description = "-";
}

void cmdResetStatus(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {}, o) || !requireContext(c, true)) return;
  c.in->errCnt = 0;
  c.in->ssb1 = c.in->ssb2 = c.in->description = "-";
  c.in->handle = (c.in->handle + 1) & 0xffff;
}

void cmdGetStatus(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {}, o) || !requireContext(c, true)) return;
  c.o.out = renderCommandStatus(*c.in, c.a->serial);
}

void cmdGetLdev(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2,
                 {{"-ldev_id", 1, 1, false},
                  {"-cnt", 1, 1, false},
                  {"-ldev_list", 1, 1, false},
                  {"-resource", 1, 1, true}},
                 o))
    return;
  std::set<int> rsg;
  bool filter = o.has("-resource");
  if (filter)
    for (const auto& v : o.v["-resource"]) {
      char* end = nullptr;
      long x = std::strtol(v[0].c_str(), &end, 10);
      if (v[0].empty() || *end) {
        invalidArg(c, "-resource", v[0]);
        return;
      }
      rsg.insert(static_cast<int>(x));
    }
  if (o.has("-ldev_list") && (o.has("-ldev_id") || o.has("-cnt"))) {
    invalidArg(c, "-ldev_list", o.one("-ldev_list"));
    return;
  }
  if (!o.has("-ldev_list") && !o.has("-ldev_id")) {
    missingArg(c, "-ldev_id or -ldev_list");
    return;
  }
  std::string kind = o.one("-ldev_list");
  if (o.has("-ldev_list") && kind != "unmapped" && kind != "undefined" && kind != "mapped" &&
      kind != "defined" && kind != "quorum") {
    invalidArg(c, "-ldev_list", kind);
    return;
  }
  int first = 0;
  long long cnt = 1;
  if (o.has("-ldev_id") && !ldevArg(c, "-ldev_id", o.one("-ldev_id"), first)) return;
  if (o.has("-cnt") && (!parseInt(o.one("-cnt"), cnt) || cnt < 1 || cnt > 65280)) {
    invalidArg(c, "-cnt", o.one("-cnt"));
    return;
  }
  if (!requireContext(c, true)) return;
  std::vector<int> ids;
  if (o.has("-ldev_list")) {
    std::set<int> mapped;
    for (int l : pathLdevs(*c.a)) mapped.insert(l);
    if (kind == "undefined") {
      for (int id = 0; id <= c.a->maxLdev; ++id) {
        Ldev l = c.a->ldev(id);
        if (!l.defined && (!filter || rsg.count(l.rsgid))) ids.push_back(id);
      }
    } else if (kind != "quorum") {
      for (const auto& lp : c.a->ldevs) {
        const Ldev& l = lp.second;
        if (!l.defined || (filter && !rsg.count(l.rsgid))) continue;
        bool m = mapped.count(l.id) != 0;
        if (kind == "defined" || (kind == "mapped" && m) || (kind == "unmapped" && !m))
          ids.push_back(l.id);
      }
    }
    if (ids.empty()) {
      error(c, kExitNoDevice, "EX_ENODEV", "No such device");
      return;
    }
  } else {
    long long last = first + cnt - 1;
    if (!inRange(c, first) || !inRange(c, static_cast<int>(std::min<long long>(last, 1 << 30))))
      return;
    for (long long id = first; id <= last; ++id)
      if (!filter || rsg.count(c.a->ldev(static_cast<int>(id)).rsgid))
        ids.push_back(static_cast<int>(id));
  }
  c.o.out = renderGetLdev(*c.a, ids, c.s.undefinedVolAttr);
}

void cmdAddLdev(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2,
                 {{"-pool", 1, 1, false},
                  {"-mp_blade_id", 1, 1, false},
                  {"-ldev_id", 1, 1, false},
                  {"-capacity", 1, 1, false}},
                 o))
    return;
  if (!o.has("-ldev_id")) return missingArg(c, "-ldev_id");
  if (!o.has("-capacity")) return missingArg(c, "-capacity");
  if (!o.has("-pool")) return missingArg(c, "-pool or -parity_grp_id");
  int id;
  if (!ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  long long cap, mp = 0;
  if (!parseInt(o.one("-capacity"), cap) || cap <= 0)
    return invalidArg(c, "-capacity", o.one("-capacity"));
  if (o.has("-mp_blade_id") && !parseInt(o.one("-mp_blade_id"), mp))
    return invalidArg(c, "-mp_blade_id", o.one("-mp_blade_id"));
  if (!requireContext(c, true) || !inRange(c, id)) return;
  std::string pool = o.one("-pool");
  const Pool* p = nullptr;
  if (pool != "snap") {
    for (const auto& pp : c.a->pools)
      if (std::to_string(pp.first) == pool || pp.second.name == pool) p = &pp.second;
    if (!p) return refuse(c, "The pool does not exist.");
  }
  Ldev& l = c.a->ldevRef(id);
  if (lockedByOther(c, l.rsgid)) return;
  if (l.defined) return refuse(c, "The requested LDEV is already defined.");
  l.defined = true;
  l.volType = "OPEN-V-CVS";
  l.capacity = static_cast<uint64_t>(cap);
  l.label.clear();
  l.mpBlade = static_cast<int>(mp);
  if (p) {
    l.attrs = {"CVS", "HDP"};
    l.poolId = std::to_string(p->id);
  } else {
    l.attrs = {"CVS", "VVOL"};
    l.poolId = "NONE";
  }
}

bool isSvol(const Array& a, int id) {
  for (const auto& p : a.pairs)
    if (p.svol == id) return true;
  return false;
}
bool isPvol(const Array& a, int id) {
  for (const auto& p : a.pairs)
    if (p.pvol == id) return true;
  return false;
}

void cmdDeleteLdev(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {{"-ldev_id", 1, 1, false}}, o)) return;
  if (!o.has("-ldev_id")) return missingArg(c, "-ldev_id");
  int id;
  if (!ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  if (!requireContext(c, true) || !inRange(c, id)) return;
  Ldev l = c.a->ldev(id);
  if (lockedByOther(c, l.rsgid)) return;
  if (!l.defined) return refuse(c, "The requested LDEV is not installed.");
  if (hasPath(*c.a, id)) return refuse(c, "The LDEV has an LU path defined.");
  if (isSvol(*c.a, id)) return refuse(c, "The LDEV is associated with a snapshot as its S-VOL.");
  if (isPvol(*c.a, id)) return refuse(c, "The LDEV is a P-VOL of a snapshot pair.");
  Ldev& r = c.a->ldevRef(id);
  r.defined = false;
  r.volType = "OPEN-V-CVS";
  r.capacity = 0;
  r.attrs.clear();
  r.poolId = "NONE";
  r.label.clear();
  r.mpBlade = 0;
}

void cmdModifyLdev(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {{"-ldev_id", 1, 1, false}, {"-ldev_name", 1, 1, false}}, o)) return;
  if (!o.has("-ldev_id")) return missingArg(c, "-ldev_id");
  if (!o.has("-ldev_name")) return missingArg(c, "-ldev_name");
  int id;
  if (!ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  std::string name = o.one("-ldev_name");
  if (name.empty() || name.size() > 32) return invalidArg(c, "-ldev_name", name);
  if (!requireContext(c, true) || !inRange(c, id)) return;
  Ldev& l = c.a->ldevRef(id);
  if (lockedByOther(c, l.rsgid)) return;
  if (!l.defined) return refuse(c, "The requested LDEV is not installed.");
  l.label = name;
}

// ---- resource groups -------------------------------------------------------

void cmdGetResource(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {{"-key", 1, 1, false}}, o)) return;
  bool key = o.has("-key");
  if (key && o.one("-key") != "opt") return invalidArg(c, "-key", o.one("-key"));
  if (!requireContext(c, true)) return;
  c.o.out = renderGetResource(*c.a, key);
  if (key) return;
  // A foreign lock set to release after k listings: count this one.
  for (auto& gp : c.a->resourceGroups) {
    ResourceGroup& g = gp.second;
    if (g.releaseAfterPolls > 0 && --g.releaseAfterPolls == 0) {
      g.lockStatus = "Unlocked";
      g.lockOwner = g.lockHost = "-";
      g.releaseAfterPolls = -1;
    }
  }
}

bool foreignLock(Ctx& c, const ResourceGroup& g) {
  return g.lockStatus == "Locked" && (g.lockOwner != c.in->user || g.lockHost != c.in->host);
}

void cmdLockUnlock(Ctx& c, bool unlock) {
  Opts o;
  if (!parseOpts(c, 2, {{"-resource_name", 1, 1, false}, {"-time", 1, 1, false}}, o)) return;
  long long t = 0;
  if (!unlock && !o.has("-time")) return missingArg(c, "-time");
  if (o.has("-time") && !parseInt(o.one("-time"), t)) return invalidArg(c, "-time", o.one("-time"));
  if (!requireContext(c, true)) return;
  std::vector<ResourceGroup*> groups;
  if (o.has("-resource_name")) {
    auto it = c.a->resourceGroups.find(o.one("-resource_name"));
    if (it == c.a->resourceGroups.end())
      return noObject(c, "resource group " + o.one("-resource_name"));
    groups.push_back(&it->second);
  } else {
    for (auto& g : c.a->resourceGroups) groups.push_back(&g.second);
  }
  for (ResourceGroup* g : groups)
    if (foreignLock(c, *g))
      return error(c, kExitLocked, "EX_EACCES",
                   "The resource group '" + g->name + "' is locked by " + g->lockOwner + " on " +
                       g->lockHost);
  for (ResourceGroup* g : groups) {
    if (unlock) {
      if (g->lockStatus != "Locked") continue;
      g->lockStatus = "Unlocked";
      g->lockOwner = g->lockHost = "-";
    } else {
      g->lockStatus = "Locked";
      g->lockOwner = c.in->user;
      g->lockHost = c.in->host;
    }
    g->releaseAfterPolls = -1;
  }
}

bool isVsmGroup(const Array& a, const ResourceGroup* g) {
  return g && !g->vSerial.empty() && g->vSerial != a.serial;
}

void cmdMapUnmapResource(Ctx& c, bool unmap) {
  Opts o;
  if (!parseOpts(c, 2, {{"-ldev_id", 1, 1, false}, {"-virtual_ldev_id", 1, 1, false}}, o)) return;
  if (!o.has("-ldev_id")) return missingArg(c, "-ldev_id");
  if (!o.has("-virtual_ldev_id")) return missingArg(c, "-virtual_ldev_id");
  int id, v;
  if (!ldevArg(c, "-ldev_id", o.one("-ldev_id"), id) ||
      !ldevArg(c, "-virtual_ldev_id", o.one("-virtual_ldev_id"), v))
    return;
  if (v > 65535) return invalidArg(c, "-virtual_ldev_id", o.one("-virtual_ldev_id"));
  if (!requireContext(c, true) || !inRange(c, id)) return;
  Ldev& l = c.a->ldevRef(id);
  if (lockedByOther(c, l.rsgid)) return;
  if (unmap) {
    bool matches = l.vid == v || (l.vid == kVidImplicit && v == id);
    if (!matches) return refuse(c, "The virtual LDEV ID is not the one of the LDEV.");
    l.vid = kVidNone;
    return;
  }
  if (l.vid != kVidImplicit && l.vid != kVidNone)
    return refuse(c, "The LDEV already has a virtual LDEV ID.");
  const ResourceGroup* g = c.a->groupById(l.rsgid);
  if (isVsmGroup(*c.a, g)) {
    if (v > 65533)
      return refuse(c, "The virtual LDEV ID is out of range of the virtual storage machine.");
    for (const auto& lp : c.a->ldevs)
      if (lp.first != id && lp.second.rsgid == l.rsgid && lp.second.vid == v)
        return refuse(c, "The virtual LDEV ID is already used in the virtual storage machine.");
  }
  l.vid = v;
}

void cmdAddDeleteResource(Ctx& c, bool del) {
  Opts o;
  if (!parseOpts(
          c, 2,
          {{"-resource_name", 1, 1, false}, {"-ldev_id", 1, 1, false}, {"-port", 1, 2, false}}, o))
    return;
  if (!o.has("-resource_name")) return missingArg(c, "-resource_name");
  if (!o.has("-ldev_id") && !o.has("-port")) return missingArg(c, "-ldev_id or -port");
  if (o.has("-ldev_id") && o.has("-port")) return unknownOption(c, "-port");
  int id = 0;
  if (o.has("-ldev_id") && !ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  if (!requireContext(c, true)) return;
  auto it = c.a->resourceGroups.find(o.one("-resource_name"));
  if (it == c.a->resourceGroups.end())
    return noObject(c, "resource group " + o.one("-resource_name"));
  const ResourceGroup& rg = it->second;
  if (o.has("-ldev_id")) {
    if (!inRange(c, id)) return;
    Ldev& l = c.a->ldevRef(id);
    if (lockedByOther(c, l.rsgid)) return;
    if (del) {
      if (l.rsgid != rg.id) return refuse(c, "The LDEV is not in the named resource group.");
      l.rsgid = 0;
      return;
    }
    if (l.rsgid == rg.id) return;  // already there: nothing to do
    if (l.rsgid != 0) return refuse(c, "The LDEV belongs to another resource group.");
    if (l.vid != kVidImplicit && l.vid != kVidNone && l.vid != id)
      return refuse(c, "The LDEV has a virtual LDEV ID; unmap it first.");
    l.rsgid = rg.id;
    return;
  }
  const std::vector<std::string>& pv = o.vals("-port");
  int* target = nullptr;
  if (pv.size() == 1 && c.a->ports.count(pv[0])) {
    target = &c.a->ports[pv[0]].rsgid;
    if (lockedByOther(c, *target)) return;
  } else {
    std::string port;
    HostGroup* g = nullptr;
    if (!resolveHostGroup(c, pv, port, g)) return;
    target = &g->rsgid;
    if (lockedByOther(c, g->rsgid)) return;
  }
  if (del) {
    if (*target != rg.id) return refuse(c, "The port is not in the named resource group.");
    *target = 0;
  } else {
    if (*target != rg.id && *target != 0)
      return refuse(c, "The port belongs to another resource group.");
    *target = rg.id;
  }
}

// ---- snapshots --------------------------------------------------------------

// Advances the pending transition of a pair shown by a listing.
void observe(SnapPair& p) {
  if (p.pendingTo.empty() || p.pendingLeft < 0) return;
  if (p.pendingLeft > 0) --p.pendingLeft;
  if (p.pendingLeft == 0) {
    p.state = p.pendingTo;
    p.pendingTo.clear();
    p.progress = 100;
  }
}

void setPending(SnapPair& p, const std::string& now, const std::string& to, int polls) {
  if (polls == 0) {
    p.state = to;
    p.pendingTo.clear();
    p.pendingLeft = 0;
    p.progress = 100;
    return;
  }
  p.state = now;
  p.pendingTo = to;
  p.pendingLeft = polls;
  p.progress = 50;
}

void cmdGetSnapshot(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {{"-snapshotgroup", 1, 1, false}, {"-ldev_id", 1, 1, false}}, o)) return;
  if (o.has("-snapshotgroup") && o.has("-ldev_id")) return unknownOption(c, "-ldev_id");
  int id = -1;
  if (o.has("-ldev_id") && !ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  if (!requireContext(c, true)) return;
  std::vector<SnapPair> rows;
  std::vector<SnapPair*> sel;
  for (auto& p : c.a->pairs) {
    if (o.has("-snapshotgroup") && p.group != o.one("-snapshotgroup")) continue;
    if (id >= 0 && p.pvol != id && p.svol != id) continue;
    sel.push_back(&p);
  }
  std::sort(sel.begin(), sel.end(),
            [](const SnapPair* x, const SnapPair* y) { return x->seq < y->seq; });
  for (SnapPair* p : sel) {
    observe(*p);
    rows.push_back(*p);
  }
  c.o.out = renderGetSnapshot(*c.a, rows, id);
}

const Pool* findPool(const Array& a, const std::string& key) {
  for (const auto& pp : a.pools)
    if (std::to_string(pp.first) == key || pp.second.name == key) return &pp.second;
  return nullptr;
}

int freeMu(const Array& a, int pvol) {
  std::set<int> used;
  for (const auto& p : a.pairs)
    if (p.pvol == pvol) used.insert(p.mu);
  for (int mu = a.firstSnapMu; mu <= 1023; ++mu)
    if (!used.count(mu)) return mu;
  return -1;
}

void cmdAddSnapshot(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2,
                 {{"-ldev_id", 1, 1, false},
                  {"-pool", 1, 1, false},
                  {"-snapshotgroup", 1, 1, false},
                  {"-snap_mode", 1, 1, false}},
                 o))
    return;
  for (const char* k : {"-ldev_id", "-pool", "-snapshotgroup"})
    if (!o.has(k)) return missingArg(c, k);
  int id;
  if (!ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  if (o.has("-snap_mode") && o.one("-snap_mode") != "CTG")
    return invalidArg(c, "-snap_mode", o.one("-snap_mode"));
  std::string group = o.one("-snapshotgroup");
  if (group.size() > 32) return invalidArg(c, "-snapshotgroup", group);
  bool ctg = o.has("-snap_mode");
  if (!requireContext(c, true) || !inRange(c, id)) return;
  Ldev l = c.a->ldev(id);
  if (lockedByOther(c, l.rsgid)) return;
  if (!l.defined) return refuse(c, "The requested LDEV is not installed.");
  if (l.hasAttr("CMD") || l.hasAttr("POOL") || l.hasAttr("JNL"))
    return refuse(c, "The LDEV cannot be used as a Thin Image P-VOL.");
  const Pool* pool = findPool(*c.a, o.one("-pool"));
  if (!pool) return refuse(c, "The pool does not exist.");
  if (pool->status != "POLN") return refuse(c, "The pool is not in normal status.");
  int inGroup = 0;
  for (const auto& p : c.a->pairs)
    if (p.group == group) {
      ++inGroup;
      if (p.ctg != ctg)
        return refuse(c, "The snapshot group exists with another consistency mode.");
    }
  if (inGroup >= 1024) return refuse(c, "The snapshot group already holds 1024 pairs.");
  int mu = freeMu(*c.a, id);
  if (mu < 0) return refuse(c, "No free MU number on the P-VOL.");
  SnapPair p;
  p.group = group;
  p.ctg = ctg;
  p.pvol = id;
  p.mu = mu;
  p.poolId = pool->id;
  p.seq = c.s.nextSeq++;
  setPending(p, "COPY", "PAIR", c.a->timing.addPolls);
  c.a->pairs.push_back(p);
}

void cmdModifySnapshot(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2,
                 {{"-snapshotgroup", 1, 1, false},
                  {"-ldev_id", 1, 1, false},
                  {"-mirror_id", 1, 1, false},
                  {"-snapshot_data", 1, 1, false}},
                 o))
    return;
  if (!o.has("-snapshot_data")) return missingArg(c, "-snapshot_data");
  std::string op = o.one("-snapshot_data");
  if (op != "create" && op != "resync" && op != "restore" && op != "split")
    return invalidArg(c, "-snapshot_data", op);
  if (o.has("-snapshotgroup") == o.has("-ldev_id"))
    return missingArg(c, "-snapshotgroup or -ldev_id");
  if (o.has("-mirror_id") && !o.has("-ldev_id")) return unknownOption(c, "-mirror_id");
  int id = -1, mu = -1;
  if (o.has("-ldev_id") && !ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  if (o.has("-mirror_id") && !ldevArg(c, "-mirror_id", o.one("-mirror_id"), mu)) return;
  if (!requireContext(c, true)) return;
  std::vector<SnapPair*> sel;
  for (auto& p : c.a->pairs) {
    if (o.has("-snapshotgroup") && p.group != o.one("-snapshotgroup")) continue;
    if (id >= 0 && p.pvol != id) continue;
    if (mu >= 0 && p.mu != mu) continue;
    sel.push_back(&p);
  }
  if (sel.empty())
    return noObject(c, o.has("-snapshotgroup") ? "snapshot group " + o.one("-snapshotgroup")
                                               : "snapshot of LDEV " + std::to_string(id));
  for (SnapPair* p : sel)
    if (lockedByOther(c, c.a->ldev(p->pvol).rsgid)) return;
  // Preconditions over the whole selection first: nothing changes on refusal.
  for (SnapPair* p : sel) {
    const std::string& st = p->state;
    if (op == "create" && (st == "COPY" || st == "RCPY"))
      return badStatus(c, "A pair of the snapshot group is in " + st + " status.");
    if (op == "resync" && st == "RCPY") return badStatus(c, "The pair is in RCPY status.");
    if (op == "restore") {
      if (st != "PSUS" && st != "SSUS") return badStatus(c, "The pair is not in PSUS status.");
      for (const auto& q : c.a->pairs)
        if (q.pvol == p->pvol && q.state == "RCPY")
          return badStatus(c, "Another pair of the P-VOL is being restored.");
    }
    if (op == "split" && st != "PAIR") return badStatus(c, "The pair is not in PAIR status.");
  }
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  for (SnapPair* p : sel) {
    if (op == "create" || op == "split") {
      if (p->state == "PAIR") {
        p->state = "PSUS";
        p->splitTime = now;
        p->progress = 100;
      }
    } else if (op == "resync") {
      if (p->state == "PAIR") continue;
      p->splitTime = 0;
      setPending(*p, "COPY", "PAIR", c.a->timing.resyncPolls);
    } else {  // restore
      setPending(*p, "RCPY", c.a->timing.restoreEndsPsue ? "PSUE" : "PAIR",
                 c.a->timing.restorePolls);
    }
  }
}

void cmdDeleteSnapshot(Ctx& c) {
  Opts o;
  if (!parseOpts(
          c, 2,
          {{"-ldev_id", 1, 1, false}, {"-mirror_id", 1, 1, false}, {"-snapshotgroup", 1, 1, false}},
          o))
    return;
  if (o.has("-snapshotgroup") == o.has("-ldev_id"))
    return missingArg(c, "-ldev_id or -snapshotgroup");
  int id = -1, mu = -1;
  if (o.has("-ldev_id") && !ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  if (o.has("-mirror_id") && !ldevArg(c, "-mirror_id", o.one("-mirror_id"), mu)) return;
  if (!requireContext(c, true)) return;
  std::vector<size_t> sel;
  for (size_t i = 0; i < c.a->pairs.size(); ++i) {
    const SnapPair& p = c.a->pairs[i];
    if (o.has("-snapshotgroup") && p.group != o.one("-snapshotgroup")) continue;
    if (id >= 0 && p.pvol != id) continue;
    if (mu >= 0 && p.mu != mu) continue;
    sel.push_back(i);
  }
  if (sel.empty()) return noObject(c, "snapshot");
  for (size_t i : sel) {
    if (lockedByOther(c, c.a->ldev(c.a->pairs[i].pvol).rsgid)) return;
    if (c.a->pairs[i].state == "RCPY") return badStatus(c, "The pair is in RCPY status.");
  }
  // Pairs go also while an S-VOL is still associated: the real array allows it.
  for (size_t k = sel.size(); k-- > 0;)
    c.a->pairs.erase(c.a->pairs.begin() + static_cast<long>(sel[k]));
}

void cmdMapUnmapSnapshot(Ctx& c, bool unmap) {
  Opts o;
  if (!parseOpts(c, 2,
                 {{"-ldev_id", unmap ? 1 : 2, unmap ? 1 : 2, false}, {"-mirror_id", 1, 1, false}},
                 o))
    return;
  if (!o.has("-ldev_id")) return missingArg(c, "-ldev_id");
  if (!o.has("-mirror_id")) return missingArg(c, "-mirror_id");
  int pvol, mu, svol = -1;
  if (!ldevArg(c, "-ldev_id", o.vals("-ldev_id")[0], pvol) ||
      !ldevArg(c, "-mirror_id", o.one("-mirror_id"), mu))
    return;
  if (!unmap && !ldevArg(c, "-ldev_id", o.vals("-ldev_id")[1], svol)) return;
  if (!requireContext(c, true)) return;
  SnapPair* p = c.a->pair(pvol, mu);
  if (!p) return noObject(c, "snapshot " + std::to_string(pvol) + " MU " + std::to_string(mu));
  if (lockedByOther(c, c.a->ldev(pvol).rsgid)) return;
  if (unmap) {
    if (p->svol < 0) return refuse(c, "No S-VOL is associated with the snapshot.");
    p->svol = -1;
    return;
  }
  if (!inRange(c, svol)) return;
  Ldev t = c.a->ldev(svol);
  if (lockedByOther(c, t.rsgid)) return;
  if (p->svol >= 0) return refuse(c, "An S-VOL is already associated with the snapshot.");
  if (!t.defined) return refuse(c, "The requested LDEV is not installed.");
  if (!t.hasAttr("VVOL")) return refuse(c, "The target LDEV is not a V-VOL.");
  if (t.capacity != c.a->ldev(pvol).capacity)
    return refuse(c, "The capacity of the target LDEV differs from the P-VOL.");
  if (isSvol(*c.a, svol))
    return refuse(c, "The target LDEV is already associated with another snapshot.");
  if (isPvol(*c.a, svol)) return refuse(c, "The target LDEV is a P-VOL.");
  p->svol = svol;
}

void cmdGetPool(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {{"-key", 1, 1, false}}, o)) return;
  if (o.has("-key") && o.one("-key") != "opt") return invalidArg(c, "-key", o.one("-key"));
  if (!requireContext(c, true)) return;
  c.o.out = renderGetPool(*c.a);
}

void cmdGetCopyGroup(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {}, o) || !requireContext(c, true)) return;
  c.o.out = renderCopyGroups(*c.a);
}

// ---- host groups and LU paths ----------------------------------------------

void cmdGetLun(Ctx& c) {
  std::string port;
  HostGroup* g;
  if (!portOnlyHostGroup(c, port, g)) return;
  c.o.out = renderGetLun(*c.a, port, g->gid);
}

void cmdAddLun(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2,
                 {{"-port", 1, 2, false}, {"-ldev_id", 1, 1, false}, {"-lun_id", 1, 1, false}}, o))
    return;
  if (!o.has("-port")) return missingArg(c, "-port");
  if (!o.has("-ldev_id")) return missingArg(c, "-ldev_id");
  int id, lunWanted = -1;
  if (!ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  if (o.has("-lun_id") && !ldevArg(c, "-lun_id", o.one("-lun_id"), lunWanted)) return;
  if (!requireContext(c, true) || !inRange(c, id)) return;
  std::string port;
  HostGroup* g;
  if (!resolveHostGroup(c, o.vals("-port"), port, g)) return;
  Ldev l = c.a->ldev(id);
  if (lockedByOther(c, g->rsgid) || lockedByOther(c, l.rsgid)) return;
  if (!l.defined) return refuse(c, "The requested LDEV is not installed.");
  for (const auto& lu : g->luns)
    if (lu.second == id) return refuse(c, "An LU path has already defined in the relevant LDEV.");
  if (g->luns.size() >= 2048)
    return refuse(c, "The number of LUs in the host group exceeds the maximum.");
  int lun = lunWanted;
  if (lun >= 0) {
    if (lun > 2047) return invalidArg(c, "-lun_id", o.one("-lun_id"));
    if (g->luns.count(lun)) return refuse(c, "The LUN is already used in the host group.");
  } else {
    lun = 0;
    while (g->luns.count(lun)) ++lun;
  }
  g->luns[lun] = id;
}

void cmdDeleteLun(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2,
                 {{"-port", 1, 2, false}, {"-ldev_id", 1, 1, false}, {"-lun_id", 1, 1, false}}, o))
    return;
  if (!o.has("-port")) return missingArg(c, "-port");
  if (!o.has("-ldev_id") && !o.has("-lun_id")) return missingArg(c, "-ldev_id");
  int id = -1, lunWanted = -1;
  if (o.has("-ldev_id") && !ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  if (o.has("-lun_id") && !ldevArg(c, "-lun_id", o.one("-lun_id"), lunWanted)) return;
  if (!requireContext(c, true)) return;
  std::string port;
  HostGroup* g;
  if (!resolveHostGroup(c, o.vals("-port"), port, g)) return;
  if (lockedByOther(c, g->rsgid)) return;
  for (auto it = g->luns.begin(); it != g->luns.end(); ++it) {
    if ((id >= 0 && it->second != id) || (lunWanted >= 0 && it->first != lunWanted)) continue;
    if (lockedByOther(c, c.a->ldev(it->second).rsgid)) return;
    auto io = g->hostIo.find(it->second);
    if (io != g->hostIo.end()) {
      if (io->second > 0 && --io->second == 0) g->hostIo.erase(io);
      return refuse(c, "LU is executing host I/O.");
    }
    g->luns.erase(it);
    return;
  }
  noObject(c,
           "LU path of LDEV " + std::to_string(id) + " on " + port + "-" + std::to_string(g->gid));
}

void cmdAddHostGroup(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {{"-port", 1, 1, false}, {"-host_grp_name", 1, 1, false}}, o)) return;
  if (!o.has("-port")) return missingArg(c, "-port");
  if (!o.has("-host_grp_name")) return missingArg(c, "-host_grp_name");
  std::string name = o.one("-host_grp_name");
  if (name.empty() || name.size() > 64) return invalidArg(c, "-host_grp_name", name);
  if (!requireContext(c, true)) return;
  std::string port = o.one("-port");
  int gid = -1;
  if (!c.a->ports.count(port)) {
    size_t dash = port.rfind('-');
    if (dash != std::string::npos && isDigits(port.substr(dash + 1)) &&
        c.a->ports.count(port.substr(0, dash))) {
      gid = std::atoi(port.substr(dash + 1).c_str());
      port = port.substr(0, dash);
    } else {
      return noObject(c, "port " + port);
    }
  }
  Port& p = c.a->ports[port];
  if (lockedByOther(c, p.rsgid)) return;
  for (const auto& g : p.hostGroups)
    if (g.second.name == name) return refuse(c, "The host group name is already used on the port.");
  if (p.hostGroups.size() >= 255)
    return refuse(c, "The number of host groups on the port exceeds the maximum.");
  if (gid >= 0) {
    if (gid > 254 || p.hostGroups.count(gid))
      return refuse(c, "The host group ID is already used.");
  } else {
    gid = 1;
    while (p.hostGroups.count(gid)) ++gid;
    if (gid > 254) return refuse(c, "The number of host groups on the port exceeds the maximum.");
  }
  HostGroup g;
  g.gid = gid;
  g.name = name;
  g.rsgid = p.rsgid;
  p.hostGroups[gid] = g;
}

void cmdDeleteHostGroup(Ctx& c) {
  std::string port;
  HostGroup* g;
  if (!portOnlyHostGroup(c, port, g)) return;
  if (lockedByOther(c, g->rsgid)) return;
  if (g->gid == 0) return refuse(c, "The host group 0 cannot be deleted.");
  if (!g->luns.empty()) return refuse(c, "The host group has LU paths.");
  c.a->ports[port].hostGroups.erase(g->gid);
}

void cmdGetPort(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {{"-port", 1, 1, false}}, o) || !requireContext(c, true)) return;
  if (!o.has("-port")) {
    c.o.out = renderGetPort(*c.a);
    return;
  }
  if (!c.a->ports.count(o.one("-port"))) return noObject(c, "port " + o.one("-port"));
  c.o.out = renderGetPortLogins(*c.a, o.one("-port"));
}

void cmdGetHostGroup(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {{"-port", 1, 1, false}, {"-resource", 1, 1, true}}, o)) return;
  if (!o.has("-port")) return missingArg(c, "-port");
  std::set<int> rsg;
  if (o.has("-resource"))
    for (const auto& v : o.v["-resource"]) {
      char* end = nullptr;
      long x = std::strtol(v[0].c_str(), &end, 10);
      if (v[0].empty() || *end) return invalidArg(c, "-resource", v[0]);
      rsg.insert(static_cast<int>(x));
    }
  if (!requireContext(c, true)) return;
  if (!c.a->ports.count(o.one("-port"))) return noObject(c, "port " + o.one("-port"));
  c.o.out = renderGetHostGrp(*c.a, o.one("-port"), o.has("-resource") ? &rsg : nullptr);
}

void cmdGetHbaWwn(Ctx& c) {
  std::string port;
  HostGroup* g;
  if (!portOnlyHostGroup(c, port, g)) return;
  c.o.out = renderGetHbaWwn(*c.a, port, g->gid);
}

void runRaidcom(Ctx& c) {
  if (c.args.empty()) return missingArg(c, "raidcom");
  if (c.args[0] == "-login") return cmdLogin(c);
  if (c.args[0] == "-logout") return cmdLogout(c);
  if (!extractCommon(c, 0)) return;
  if (c.rest.size() < 2) return unknownOption(c, c.rest.empty() ? "" : c.rest[0]);
  const std::string key = c.rest[0] + " " + c.rest[1];
  using H = void (*)(Ctx&);
  static const std::map<std::string, H> table = {
      {"reset command_status", cmdResetStatus},
      {"get command_status", cmdGetStatus},
      {"get ldev", cmdGetLdev},
      {"add ldev", cmdAddLdev},
      {"delete ldev", cmdDeleteLdev},
      {"modify ldev", cmdModifyLdev},
      {"get resource", cmdGetResource},
      {"lock resource", [](Ctx& x) { cmdLockUnlock(x, false); }},
      {"unlock resource", [](Ctx& x) { cmdLockUnlock(x, true); }},
      {"map resource", [](Ctx& x) { cmdMapUnmapResource(x, false); }},
      {"unmap resource", [](Ctx& x) { cmdMapUnmapResource(x, true); }},
      {"add resource", [](Ctx& x) { cmdAddDeleteResource(x, false); }},
      {"delete resource", [](Ctx& x) { cmdAddDeleteResource(x, true); }},
      {"get snapshot", cmdGetSnapshot},
      {"add snapshot", cmdAddSnapshot},
      {"modify snapshot", cmdModifySnapshot},
      {"delete snapshot", cmdDeleteSnapshot},
      {"map snapshot", [](Ctx& x) { cmdMapUnmapSnapshot(x, false); }},
      {"unmap snapshot", [](Ctx& x) { cmdMapUnmapSnapshot(x, true); }},
      {"get pool", cmdGetPool},
      {"get copy_grp", cmdGetCopyGroup},
      {"get lun", cmdGetLun},
      {"add lun", cmdAddLun},
      {"delete lun", cmdDeleteLun},
      {"add host_grp", cmdAddHostGroup},
      {"delete host_grp", cmdDeleteHostGroup},
      {"get port", cmdGetPort},
      {"get host_grp", cmdGetHostGroup},
      {"get hba_wwn", cmdGetHbaWwn},
  };
  auto it = table.find(key);
  if (it == table.end())
    return error(c, kExitUnknownOption, "EX_UNKOPT", "Unknown command '" + key + "'");
  it->second(c);
}

// ---------------------------------------------------------------------------
// raidqry, raidscan, pairsyncwait.

void runRaidqry(Ctx& c) {
  if (!extractCommon(c, 0)) return;
  if (c.rest.size() == 1 && c.rest[0] == "-h" && c.inst.empty() && c.serial.empty()) {
    c.o.out = renderRaidqryHelp(c.s.cciVersion);
    return;
  }
  if (c.rest.empty() || c.rest[0] != "-l") return unknownOption(c, c.rest.empty() ? "" : c.rest[0]);
  if (c.rest.size() > 1) return unknownOption(c, c.rest[1]);
  // raidqry never needs a login: it runs before the plug-in logs in.
  if (!requireContext(c, false)) return;
  c.o.out = renderRaidqryList(c.s, {c.a->serial}, c.in->host);
}

void runRaidscan(Ctx& c) {
  if (!extractCommon(c, 0)) return;
  Opts o;
  if (!parseOpts(c, 0,
                 {{"-p", 1, 1, false},
                  {"-CLI", 0, 0, false},
                  {"-m", 1, 1, false},
                  {"-pdg", 1, 1, false},
                  {"-x", 2, 2, false}},
                 o))
    return;
  if (o.has("-x")) {
    const auto& v = o.vals("-x");
    if (v[0] != "findcmddev" || v[1].rfind("0-", 0) != 0 || !isDigits(v[1].substr(2)))
      return invalidArg(c, "-x", v[0] + " " + v[1]);
    if (o.v.size() != 1) return unknownOption(c, "-p");
    c.o.out = renderFindCmdDev(c.s);
    return;
  }
  if (o.has("-p") == o.has("-pdg")) return missingArg(c, "-p or -pdg");
  if (o.has("-pdg")) {
    if (o.has("-m")) return unknownOption(c, "-m");
    if (!requireContext(c, loginNeeded(c))) return;
    const CommandDevice* d = c.s.commandDevice(o.one("-pdg"));
    if (!d || d->serial != c.a->serial) return noObject(c, "device " + o.one("-pdg"));
    c.o.out = renderRaidscanPdg(*c.a, d->ldev);
    return;
  }
  long long mu = 0;
  if (o.has("-m") && (!parseInt(o.one("-m"), mu) || mu > 3))
    return invalidArg(c, "-m", o.one("-m"));
  if (!requireContext(c, loginNeeded(c))) return;
  std::string port;
  HostGroup* g;
  if (!resolveHostGroup(c, {o.one("-p")}, port, g)) return;
  c.o.out = renderRaidscanPort(*c.a, port, g->gid, static_cast<int>(mu));
}

bool parseHex(const std::string& t, uint64_t& v) {
  if (t.empty() || t.size() > 16) return false;
  for (char ch : t)
    if (!std::isxdigit(static_cast<unsigned char>(ch))) return false;
  v = std::strtoull(t.c_str(), nullptr, 16);
  return true;
}

void runPairsyncwait(Ctx& c) {
  if (!extractCommon(c, 0)) return;
  Opts o;
  if (!parseOpts(
          c, 0,
          {{"-g", 1, 1, false}, {"-nowait", 0, 0, false}, {"-q", 1, 1, false}, {"-t", 1, 1, false}},
          o))
    return;
  if (!o.has("-g")) return missingArg(c, "-g");
  if (!o.has("-t")) return missingArg(c, "-t");
  if (o.has("-nowait") == o.has("-q")) return missingArg(c, "-nowait or -q");
  long long t;
  if (!parseInt(o.one("-t"), t)) return invalidArg(c, "-t", o.one("-t"));
  uint64_t q = 0;
  if (o.has("-q") && !parseHex(o.one("-q"), q)) return invalidArg(c, "-q", o.one("-q"));
  if (!requireContext(c, loginNeeded(c))) return;
  auto it = c.a->copyGroups.find(o.one("-g"));
  if (it == c.a->copyGroups.end()) {
    // Never 1: the plug-in reads exit 1 of a -q wait as a finished check.
    c.o.exitCode = 2;
    c.o.err += c.tool + ": [EX_ENOGRP] No such group (" + o.one("-g") + ")\n";
    c.done = true;
    return;
  }
  CopyGroup& g = it->second;
  if (o.has("-nowait")) {
    c.o.out = renderPairsyncwait(g, g.qIssued, "NOWAIT");
    ++g.qIssued;  // host writes go on
    return;
  }
  bool committed = q <= g.qCommitted;
  if (!committed) {
    if (g.commitAfterWaits >= 0 && g.waits >= g.commitAfterWaits) {
      g.qCommitted = q;
      g.waits = 0;
      committed = true;
    } else {
      ++g.waits;
    }
  }
  if (committed && !g.alwaysTimeout) {
    c.o.out = renderPairsyncwait(g, g.qCommitted, "DONE");
    return;
  }
  c.o.out = renderPairsyncwait(g, g.qCommitted, "TIMEOUT");
  c.o.exitCode = 1;
}

// ---------------------------------------------------------------------------
// horcmstart.sh / horcmshutdown.sh

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> w;
  std::istringstream in(line);
  std::string t;
  while (in >> t) w.push_back(t);
  return w;
}

std::string etcDirOf(const State& s) {
  std::string d = s.etcDir.empty() ? "/etc/" : s.etcDir;
  if (d.back() != '/') d += '/';
  return d;
}

void horcmFail(Ctx& c, const std::string& why) {
  c.o.exitCode = kExitHorcmStart;
  c.o.err += c.tool + " : " + why + "\n";
  c.done = true;
}

void runHorcmStart(Ctx& c) {
  if (c.args.size() != 1)
    return c.args.empty() ? missingArg(c, "instance") : unknownOption(c, c.args[1]);
  if (!isDigits(c.args[0])) return horcmFail(c, "invalid instance number " + c.args[0]);
  int n = std::atoi(c.args[0].c_str());
  c.inst = std::to_string(n);
  std::string path = etcDirOf(c.s) + "horcm" + c.inst + ".conf";
  std::string text;
  if (!readFile(path, text)) return horcmFail(c, path + " is not found");
  Instance& in = c.s.instances[n];
  in.number = n;
  if (in.running) {
    c.o.exitCode = 1;
    c.o.out =
        "starting HORCM inst " + c.inst + "\nHORCM inst " + c.inst + " has already been running.\n";
    c.done = true;
    return;
  }
  // Sections: HORCM_MON's first data line, HORCM_CMD's device lines.
  std::istringstream lines(text);
  std::string line, section, markerSerial;
  std::vector<std::string> mon, devices;
  bool sawMon = false, sawCmd = false;
  while (std::getline(lines, line)) {
    std::vector<std::string> w = words(line);
    if (line.rfind("HORCM_", 0) == 0) {
      section = w.empty() ? line : w[0];
      sawMon = sawMon || section == "HORCM_MON";
      sawCmd = sawCmd || section == "HORCM_CMD";
      continue;
    }
    if (!line.empty() && line[0] == '#') {
      size_t m = line.find("\\\\.\\CMD-");
      if (section == "HORCM_CMD" && m != std::string::npos) markerSerial = line.substr(m + 8);
      continue;
    }
    if (w.empty()) continue;
    if (section == "HORCM_MON" && mon.empty()) mon = w;
    if (section == "HORCM_CMD") devices.insert(devices.end(), w.begin(), w.end());
  }
  if (!sawMon) return horcmFail(c, "HORCM_MON is missing in " + path);
  if (mon.size() != 4) return horcmFail(c, "HORCM_MON needs 4 fields in " + path);
  if (mon[1] != c.inst)
    return horcmFail(c, "HORCM_MON service " + mon[1] + " is not the instance " + c.inst);
  if (!isDigits(mon[2]) || !isDigits(mon[3]))
    return horcmFail(c, "HORCM_MON poll and timeout must be numbers");
  if (c.s.strictHorcm && mon[0] != c.s.hostName)
    return horcmFail(c, "HORCM_MON host " + mon[0] + " is not this host " + c.s.hostName);
  if (!sawCmd || devices.empty())
    return horcmFail(c, "HORCM_CMD names no command device in " + path);
  std::string serial;
  for (const auto& d : devices) {
    const CommandDevice* cd = c.s.commandDevice(d);
    if (!cd) return horcmFail(c, "Can't open the command device " + d);
    if (!serial.empty() && cd->serial != serial)
      return horcmFail(c, "command devices of different arrays in " + path);
    serial = cd->serial;
  }
  if (c.s.strictHorcm && markerSerial != serial)
    return horcmFail(c, "marker serial " + markerSerial + " is not the array " + serial);
  in.running = true;
  in.serial = serial;
  in.host = mon[0];
  in.devices = devices;
  in.loggedIn = false;
  in.user.clear();
  c.o.out = "starting HORCM inst " + c.inst + "\nHORCM inst " + c.inst + " starts successfully.\n";
}

void runHorcmShutdown(Ctx& c) {
  if (c.args.size() != 1)
    return c.args.empty() ? missingArg(c, "instance") : unknownOption(c, c.args[1]);
  if (!isDigits(c.args[0])) return horcmFail(c, "invalid instance number " + c.args[0]);
  int n = std::atoi(c.args[0].c_str());
  c.inst = std::to_string(n);
  auto it = c.s.instances.find(n);
  if (it == c.s.instances.end() || !it->second.running) {
    c.o.exitCode = 1;
    c.o.err += "HORCM inst " + c.inst + " has already been stopped.\n";
    c.done = true;
    return;
  }
  it->second.running = false;
  it->second.loggedIn = false;
  it->second.user.clear();
  c.o.out = "inst " + c.inst + ":\nhorcmshutdown inst " + c.inst + " !!!\n";
}

void dispatch(Ctx& c) {
  if (c.tool == "raidcom") return runRaidcom(c);
  if (c.tool == "raidqry") return runRaidqry(c);
  if (c.tool == "raidscan") return runRaidscan(c);
  if (c.tool == "pairsyncwait") return runPairsyncwait(c);
  if (c.tool == "horcmstart.sh") return runHorcmStart(c);
  if (c.tool == "horcmshutdown.sh") return runHorcmShutdown(c);
  error(c, kExitUnknownOption, "EX_UNKOPT", "ccisim does not answer as '" + c.tool + "'");
}

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

std::string journalLine(const State& s, const std::string& tool,
                        const std::vector<std::string>& args, const std::string& inst,
                        const std::string& serial, const Outcome& o, bool hangMarker) {
  Record r;
  r.kind = "call";
  r.add("tick", static_cast<long long>(s.tick));
  r.add("tool", tool);
  r.add("argv", encList(args));
  r.add("inst", inst);
  r.add("serial", serial);
  r.add("exit", o.exitCode);
  r.add("hang", hangMarker);
  r.add("out", o.out);
  r.add("err", o.err);
  return formatRecord(r);
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

bool loadState(const std::string& path, State& s, std::string& why) {
  std::string text;
  if (!readFile(path, text)) {
    why = "cannot read the state file " + path;
    return false;
  }
  if (!parseState(text, s, &why)) {
    why = "state file " + path + ": " + why;
    return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
Outcome invoke(const std::string& statePath, const std::string& tool,
               const std::vector<std::string>& args) {
  Outcome o;
  std::string inst, serial;
  peekCommon(tool, args, inst, serial);
  State s;
  std::string why;
  auto lock = std::make_unique<StateLock>(statePath);
  if (!lock->ok() || !loadState(statePath, s, why)) {
    o.exitCode = kExitGeneric;
    o.err = "ccisim: " + (why.empty() ? "cannot lock " + statePath + ".lock" : why) + "\n";
    return o;
  }
  // Hang-before faults are decided once, here; the wait happens with the
  // state unlocked, and the command then runs on the state as it is after
  // the wait (unless the caller's time-out killed the tool meanwhile).
  int hangMs = 0;
  for (Fault& f : s.faults)
    if (f.kind == "hang" && f.hangBefore && faultMatches(f, tool, args) && faultFires(f) &&
        hangMs == 0)
      hangMs = f.hangMillis;
  if (hangMs > 0) {
    ++s.tick;
    Outcome marker;
    marker.exitCode = -1;
    appendFile(statePath + ".journal", journalLine(s, tool, args, inst, serial, marker, true));
    writeFileAtomic(statePath, serializeState(s));
    lock.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(hangMs));
    lock = std::make_unique<StateLock>(statePath);
    if (!lock->ok() || !loadState(statePath, s, why)) {
      o.exitCode = kExitGeneric;
      o.err = "ccisim: " + (why.empty() ? "cannot lock " + statePath + ".lock" : why) + "\n";
      return o;
    }
  }
  ++s.tick;
  const Fault* fail = nullptr;
  const Fault* statusErr = nullptr;
  const Fault* garbler = nullptr;
  int hangAfter = 0;
  bool expire = false;
  std::set<std::string> firedKinds;
  for (Fault& f : s.faults) {
    if (f.kind == "hang" && f.hangBefore) continue;
    if (f.kind == "expireLogin" && isLoginLine(tool, args)) continue;
    if (!faultMatches(f, tool, args)) continue;
    if (firedKinds.count(f.kind)) {
      ++f.seen;
      continue;
    }
    if (!faultFires(f)) continue;
    firedKinds.insert(f.kind);
    if (f.kind == "fail")
      fail = &f;
    else if (f.kind == "statusError")
      statusErr = &f;
    else if (f.kind == "garble")
      garbler = &f;
    else if (f.kind == "hang")
      hangAfter = f.hangMillis;
    else if (f.kind == "expireLogin")
      expire = true;
  }
  if (expire && !inst.empty()) {
    auto it = s.instances.find(std::atoi(inst.c_str()));
    if (it != s.instances.end()) it->second.loggedIn = false;
  }

  Ctx c(s, tool, args);
  if (fail && !fail->applyEffect) {
    c.o.exitCode = fail->exitCode;
    c.o.err = fail->err;
    if (fail->out == "@statusrow") {
      auto it = s.instances.find(std::atoi(inst.c_str()));
      Instance blank;
      const Instance& in = it != s.instances.end() ? it->second : blank;
      c.o.out = renderCommandStatus(in, s.instances.count(in.number) ? in.serial : serial);
    } else {
      c.o.out = fail->out;
    }
  } else if (statusErr) {
    auto it = s.instances.find(std::atoi(inst.c_str()));
    if (it != s.instances.end() && it->second.errCnt == 0) {
      it->second.errCnt = statusErr->errCnt;
      it->second.ssb1 = "2e31";
      it->second.ssb2 = "9100";
      it->second.description = statusErr->description.empty() ? "-" : statusErr->description;
    }
  } else {
    dispatch(c);
    if (fail) {
      c.o.exitCode = fail->exitCode;
      c.o.out += fail->out;
      c.o.err += fail->err;
    }
  }
  if (garbler) c.o.out = garble(c.o.out, garbler->garble, s.tick);
  if (s.errorStream == "stdout" && !c.o.err.empty()) {
    c.o.out += c.o.err;
    c.o.err.clear();
  }
  if (c.inst.empty()) c.inst = inst;
  appendFile(statePath + ".journal", journalLine(s, tool, args, c.inst, serial, c.o, false));
  writeFileAtomic(statePath, serializeState(s));
  c.o.hangMillis = hangAfter;
  return c.o;
}

}  // namespace ccisim
