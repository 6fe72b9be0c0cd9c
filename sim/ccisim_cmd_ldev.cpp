// raidcom: login, command status, LDEVs and resource groups.
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
  if (!c.s.checkPassword(user, pw)) {
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
  // The user's command status on this array goes with the logout.
  if (c.in->loggedIn) c.s.statuses.erase(statusKey(c.in->user, c.a->serial));
  c.in->loggedIn = false;
  c.in->user.clear();
}

void cmdResetStatus(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {}, o) || !requireContext(c, true)) return;
  CommandStatus& st = loginStatus(c);
  st.errCnt = 0;
  st.ssb1 = st.ssb2 = st.description = "-";
  st.handle = (st.handle + 1) & 0xffff;
}

void cmdGetStatus(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {}, o) || !requireContext(c, true)) return;
  CommandStatus st = c.s.statusOf(c.in->user, c.a->serial);
  // The row shows the errors; the query itself succeeds (exit 0).
  c.o.out = renderCommandStatus(st, c.a->serial);
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
      // Every undefined id is a row: the listing reads the whole range.
      c.a->loadLdevs();
      for (int id = 0; id <= c.a->maxLdev; ++id) {
        Ldev l = c.a->ldev(id);
        if (!l.defined && (!filter || rsg.count(l.rsgid))) ids.push_back(id);
      }
    } else if (kind == "mapped") {
      // The LDEVs behind LU paths, read by id.
      for (int id : mapped) {
        Ldev l = c.a->ldev(id);
        if (l.defined && (!filter || rsg.count(l.rsgid))) ids.push_back(id);
      }
    } else if (kind != "quorum") {
      // Defined LDEVs are stored ones: read those, not the id range.
      c.a->loadStoredLdevs();
      for (const auto& lp : c.a->ldevs) {
        const Ldev& l = lp.second;
        if (!l.defined || (filter && !rsg.count(l.rsgid))) continue;
        if (kind == "defined" || mapped.count(l.id) == 0) ids.push_back(l.id);
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
    if (cnt > 1) c.a->loadLdevs(first, static_cast<int>(last));
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
  if (pool != "snap")
    for (const auto& pp : c.a->pools)
      if (std::to_string(pp.first) == pool || pp.second.name == pool) p = &pp.second;
  Ldev& l = c.a->ldevRef(id);
  if (lockedByOther(c, l.rsgid)) return;
  // The array accepts the order and works on it afterwards: what goes wrong
  // then shows only in the command status.
  if (pool != "snap" && !p)
    return recordStatusError(c, "2E20", "6000", "The pool ID is not installed");
  if (l.defined)
    return recordStatusError(c, "2E31", "9100", "The requested LDEV is already defined");
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
  if (!l.defined) return refuse(c, Refusal::kNotInstalled);
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
  if (!l.defined) return refuse(c, Refusal::kNotInstalled);
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
    if (g.releaseAfterPolls > 0 && --g.releaseAfterPolls == 0) releaseLock(g);
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
  // A lock waits up to -time seconds on the simulator's clock for a foreign
  // lock that goes by itself; an unlock never waits.
  int64_t waitUntil = c.s.clockMs + (unlock ? 0 : t * 1000);
  for (ResourceGroup* g : groups) {
    if (!foreignLock(c, *g)) continue;
    if (g->releaseAtMs < 0 || g->releaseAtMs > waitUntil) {
      if (!unlock) c.s.clockMs = waitUntil;
      return refuse(c, Refusal::kLocked);
    }
    c.s.clockMs = std::max(c.s.clockMs, g->releaseAtMs);
    releaseLock(*g);
  }
  for (ResourceGroup* g : groups) {
    if (unlock) {
      if (g->lockStatus == "Locked") releaseLock(*g);
    } else {
      g->lockStatus = "Locked";
      g->lockOwner = c.in->user;
      g->lockHost = c.in->host;
    }
    g->releaseAfterPolls = -1;
    g->releaseAtMs = -1;
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
    c.a->loadStoredLdevs();
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

}  // namespace engine
}  // namespace ccisim
