// Invocation context of the engine: errors as the tools print them, option
// parsing, and the checks every real array makes before a command.
#include "sim/ccisim_engine.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <sstream>

namespace ccisim {
namespace engine {

using namespace detail;

void error(Ctx& c, int code, const std::string& name, const std::string& text) {
  c.o.exitCode = code;
  c.o.err += c.tool + ": [" + name + "] " + text + "\n";
  c.done = true;
}

void refuse(Ctx& c, Refusal cause, const std::string& text) {
  c.o.exitCode = kExitRejected;
  c.o.err += refusalText(c.tool, c.a ? c.a->serial : std::string("-"), cause, text);
  c.done = true;
}

void refuse(Ctx& c, const std::string& text) { refuse(c, Refusal::kOther, text); }

// The real tools name no object: the text is the same for every kind.
void noObject(Ctx& c, const std::string& /*what*/) {
  error(c, kExitNoObject, "EX_ENOOBJ", "No such Object in the RAID");
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
  // Foreign locks whose time has come on the simulator's clock are gone.
  for (auto& g : c.a->resourceGroups)
    if (g.second.releaseAtMs >= 0 && g.second.releaseAtMs <= c.s.clockMs) releaseLock(g.second);
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

void releaseLock(ResourceGroup& g) {
  g.lockStatus = "Unlocked";
  g.lockOwner = g.lockHost = "-";
  g.releaseAfterPolls = -1;
  g.releaseAtMs = -1;
}

bool lockedByOther(Ctx& c, int rsgid) {
  for (int id : {rsgid, 0}) {
    const ResourceGroup* g = c.a->groupById(id);
    if (!g || g->lockStatus != "Locked") continue;
    if (g->lockOwner != c.in->user || g->lockHost != c.in->host) {
      refuse(c, Refusal::kLocked);
      return true;
    }
  }
  return false;
}

CommandStatus& loginStatus(Ctx& c) { return c.s.status(c.in->user, c.a->serial); }

void recordStatusError(Ctx& c, const std::string& ssb1, const std::string& ssb2,
                       const std::string& description) {
  CommandStatus& st = loginStatus(c);
  if (st.errCnt == 0) {
    st.ssb1 = ssb1;
    st.ssb2 = ssb2;
    st.description = description.empty() ? "-" : description;
  }
  ++st.errCnt;
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
    error(c, kExitNoLdev, "EX_ENLDEV", "No such LDEV");
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

}  // namespace engine
}  // namespace ccisim
