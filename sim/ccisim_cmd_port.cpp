// raidcom: host groups, LU paths and ports; the raidcom command table.
#include "sim/ccisim_engine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <sstream>

namespace ccisim {
namespace engine {

using namespace detail;

// ---- host groups and LU paths ----------------------------------------------

void cmdGetLun(Ctx& c) {
  std::string port;
  HostGroup* g;
  if (!portOnlyHostGroup(c, port, g)) return;
  c.o.out = renderGetLun(*c.a, port, g->gid);
}

namespace {
// "<n>(0x<hex>)": how the tool names an id it chose.
std::string chosenId(int id) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d(0x%x)", id, id);
  return buf;
}
}  // namespace

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
  if (!l.defined) return refuse(c, Refusal::kNotInstalled);
  for (const auto& lu : g->luns)
    if (lu.second == id) return refuse(c, Refusal::kPathDefined);
  if (g->luns.size() >= 2048)
    return refuse(c, "The number of LUs in the host group exceeds the maximum.");
  int lun = lunWanted;
  if (lun >= 0) {
    if (lun > 2047) return invalidArg(c, "-lun_id", o.one("-lun_id"));
    if (g->luns.count(lun)) return refuse(c, Refusal::kLunUsed);
  } else {
    lun = 0;
    while (g->luns.count(lun)) ++lun;
    // The tool names the LUN it chose, on standard output.
    c.o.out = "raidcom: LUN " + chosenId(lun) + " will be used for adding.\n";
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
      return refuse(c, Refusal::kHostIo);
    }
    g->luns.erase(it);
    return;
  }
  noObject(c,
           "LU path of LDEV " + std::to_string(id) + " on " + port + "-" + std::to_string(g->gid));
}

// The target name the array gives a new host group on an iSCSI port, as
// "iqn.1994-04.jp.co.hitachi:rsd.h8m.t.12345.4e001" for CL4-E-1.
std::string targetIqn(const std::string& serial, const std::string& port, int gid) {
  std::string code;
  size_t dash = port.find('-');
  if (dash != std::string::npos && dash > 0 && dash + 1 < port.size()) {
    code += port[dash - 1];
    code += static_cast<char>(std::tolower(static_cast<unsigned char>(port[dash + 1])));
  }
  char id[8];
  std::snprintf(id, sizeof id, "%03x", gid & 0xfff);
  return "iqn.1994-04.jp.co.hitachi:rsd.h8m.t." + serial + "." + code + id;
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
    if (g.second.name == name) return refuse(c, Refusal::kHostGroupInstalled);
  if (p.hostGroups.size() >= 255)
    return refuse(c, "The number of host groups on the port exceeds the maximum.");
  if (gid >= 0) {
    if (gid > 254) return invalidArg(c, "-port", o.one("-port"));
    if (p.hostGroups.count(gid)) return refuse(c, Refusal::kHostGroupInstalled);
  } else {
    gid = 1;
    while (p.hostGroups.count(gid)) ++gid;
    if (gid > 254) return refuse(c, "The number of host groups on the port exceeds the maximum.");
    c.o.out = "raidcom: Host group ID " + chosenId(gid) + " will be used for adding.\n";
  }
  HostGroup g;
  g.gid = gid;
  g.name = name;
  g.rsgid = p.rsgid;
  if (p.type == "ISCSI") g.iqn = targetIqn(c.a->serial, port, gid);
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

bool isIscsi(const Array& a, const std::string& port) {
  auto it = a.ports.find(port);
  return it != a.ports.end() && it->second.type == "ISCSI";
}

// Initiators of a host group: WWNs on a Fibre Channel port, iSCSI names on
// an iSCSI port; each listing is refused on the other kind of port.
void cmdGetInitiators(Ctx& c, bool iscsi) {
  std::string port;
  HostGroup* g;
  if (!portOnlyHostGroup(c, port, g)) return;
  if (isIscsi(*c.a, port) != iscsi)
    return refuse(c, iscsi ? "The specified port is not an iSCSI port."
                           : "The specified port is not a Fibre Channel port.");
  c.o.out = iscsi ? renderGetHbaIscsi(*c.a, port, g->gid) : renderGetHbaWwn(*c.a, port, g->gid);
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
      {"get hba_wwn", [](Ctx& x) { cmdGetInitiators(x, false); }},
      {"get hba_iscsi", [](Ctx& x) { cmdGetInitiators(x, true); }},
  };
  auto it = table.find(key);
  if (it == table.end())
    return error(c, kExitUnknownOption, "EX_UNKOPT", "Unknown command '" + key + "'");
  it->second(c);
}

}  // namespace engine
}  // namespace ccisim
