// raidqry, raidscan, pairsyncwait, horcmstart.sh and horcmshutdown.sh.
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

// ---------------------------------------------------------------------------
// raidqry, raidscan, pairsyncwait.

// The instance `raidqry -h` names: $HORCMINST, else 0.
std::string helpInstance() {
  const char* v = std::getenv("HORCMINST");
  return v && isDigits(v) ? std::string(v) : std::string("0");
}

void runRaidqry(Ctx& c) {
  if (!extractCommon(c, 0)) return;
  if (c.rest.size() == 1 && c.rest[0] == "-h" && c.inst.empty() && c.serial.empty()) {
    c.o.out = renderRaidqryHelp(c.s.cciVersion, helpInstance());
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
                  {"-fe", 0, 0, false},
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
    if (o.has("-fe")) return unknownOption(c, "-fe");
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
  // Port names are taken in either letter case ("cl1-a-0").
  std::string p = o.one("-p");
  for (char& ch : p) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (!resolveHostGroup(c, {p}, port, g)) return;
  c.o.out = renderRaidscanPort(*c.a, port, g->gid, static_cast<int>(mu), o.has("-fe"));
}

bool parseHex(const std::string& t, uint64_t& v) {
  if (t.empty() || t.size() > 16) return false;
  for (char ch : t)
    if (!std::isxdigit(static_cast<unsigned char>(ch))) return false;
  v = std::strtoull(t.c_str(), nullptr, 16);
  return true;
}

// pairsyncwait -g <group> [-nowait] [-t <100 ms units>] [-m <marker>] [-fq]
// [-q]. -nowait prints the group's current marker; a wait prints the marker
// it waits for (from -m, else the current one) on every outcome.
void runPairsyncwait(Ctx& c) {
  if (!extractCommon(c, 0)) return;
  Opts o;
  if (!parseOpts(c, 0,
                 {{"-g", 1, 1, false},
                  {"-nowait", 0, 0, false},
                  {"-t", 1, 1, false},
                  {"-m", 1, 1, false},
                  {"-fq", 0, 0, false},
                  {"-q", 0, 0, false}},
                 o))
    return;
  if (!o.has("-g")) return missingArg(c, "-g");
  long long t = -1;
  if (o.has("-t") && !parseInt(o.one("-t"), t)) return invalidArg(c, "-t", o.one("-t"));
  uint64_t marker = 0;
  if (o.has("-m") && !parseHex(o.one("-m"), marker)) return invalidArg(c, "-m", o.one("-m"));
  if (!requireContext(c, loginNeeded(c))) return;
  auto it = c.a->copyGroups.find(o.one("-g"));
  if (it == c.a->copyGroups.end()) return error(c, kExitNoGroup, "EX_ENOGRP", "No such group");
  CopyGroup& g = it->second;
  if (g.pvolStatus != "PAIR") return error(c, kExitBadStatus, "EX_INVVOL", "Invalid volume status");
  bool count = o.has("-fq");
  if (o.has("-nowait")) {
    // With -m: the marker given, as the tool prints it.
    c.o.out = renderPairsyncwait(g, o.has("-m") ? marker : g.qIssued, "NOWAIT", count);
    ++g.qIssued;  // host writes go on
    return;
  }
  if (!o.has("-m")) marker = g.qIssued;
  if (!g.waitOutcome.empty()) {
    c.o.out = renderPairsyncwait(g, marker, g.waitOutcome, count);
    c.o.exitCode = g.waitOutcome == "BROKEN" ? 2 : 3;
    return;
  }
  bool committed = marker <= g.qCommitted;
  if (!committed && g.commitAfterMs >= 0) {
    // The wait lasts until the commit or the time-out, on the simulator's
    // clock; no -t waits as long as the commit takes.
    int64_t left = g.commitAfterMs - g.waitedMs;
    int64_t span = t < 0 ? left : std::min<int64_t>(left, t * 100);
    g.waitedMs += span;
    c.s.clockMs += span;
    committed = g.waitedMs >= g.commitAfterMs;
  } else if (!committed) {
    committed = g.commitAfterWaits >= 0 && g.waits >= g.commitAfterWaits;
    if (!committed) {
      ++g.waits;
      c.s.clockMs += t < 0 ? 0 : t * 100;
    }
  }
  if (committed && marker > g.qCommitted) {
    g.qCommitted = marker;
    g.waits = 0;
    g.waitedMs = 0;
  }
  if (committed && !g.alwaysTimeout) {
    c.o.out = renderPairsyncwait(g, marker, "DONE", count);
    return;
  }
  c.o.out = renderPairsyncwait(g, marker, "TIMEOUT", count);
  c.o.exitCode = 1;
}

// ---------------------------------------------------------------------------
// horcmstart.sh / horcmshutdown.sh

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

}  // namespace engine
}  // namespace ccisim
