// `ccisim` started under its own name: create and read a state file by hand
// (used by the demo), and run a tool without the symlinks.
#include "sim/ccisim_model.h"
#include "sim/ccisim_internal.h"
#include "sim/ccisim_store.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace ccisim {
namespace detail {

std::string statePathFor(const char* argv0) {
  const char* env = std::getenv("CCISIM_STATE");
  if (env && *env) return env;
  std::string self = argv0 ? argv0 : "";
  std::string dir;
  size_t slash = self.rfind('/');
  if (slash != std::string::npos) {
    dir = self.substr(0, slash);
    if (dir.empty()) dir = "/";
  } else {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string exe = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("./ccisim");
    dir = exe.substr(0, exe.rfind('/')) + "/bin";
  }
  return dir + "/../state/ccisim.state";
}

namespace {

const char* kUsage =
    "usage: ccisim <command> [options]     (state file: $CCISIM_STATE, else <tool "
    "dir>/../state/ccisim.state)\n"
    "  init [--force] [--empty] [--serial S] [--model CODE] [--micro V] [--user NAME:PASSWORD]\n"
    "       [--host NAME] [--etc DIR] [--cmddev PATH] [--cci VERSION] [--ldevs N]\n"
    "                         write a new state: one array with a Thin Image pool, four source\n"
    "                         LDEVs mapped to a host group, and a command device (--empty: the\n"
    "                         array alone; --ldevs N: N more defined LDEVs from id 0 up)\n"
    "  show                   print the state in readable form\n"
    "  dump                   print the state's records (one per line)\n"
    "  journal [-v]           print the journal of tool invocations (-v: with their output)\n"
    "  run TOOL ARGS...       answer as TOOL (raidcom, raidqry, ...) without the symlinks\n";

bool splitPair(const std::string& v, std::string& a, std::string& b) {
  size_t c = v.find(':');
  if (c == std::string::npos) return false;
  a = v.substr(0, c);
  b = v.substr(c + 1);
  return true;
}

// The demo array: what a first run of the plug-in expects to find.
void buildDemo(State& s, const std::string& serial, const std::string& cmddev) {
  Array& a = s.arrays[serial];
  Pool ti;
  ti.id = 5;
  ti.name = "TIPOOL01";
  ti.usage = 12;
  ti.pt = "HTI";
  a.pools[ti.id] = ti;
  Pool dp;
  dp.id = 6;
  dp.name = "DPPOOL01";
  dp.usage = 40;
  dp.pt = "HDP";
  a.pools[dp.id] = dp;
  Port p1;
  p1.name = "CL1-A";
  p1.wwn = "50060e8007dd3300";
  p1.loginWwns = {"210000e08b0256f8"};
  HostGroup g0;
  g0.gid = 0;
  g0.name = "1A-G00";
  HostGroup g1;
  g1.gid = 1;
  g1.name = "mahost01_hg";
  g1.wwns = {{"210000e08b0256f8", "-"}};
  for (int i = 0; i < 4; ++i) {
    Ldev l;
    l.id = 256 + i;
    l.defined = true;
    l.capacity = 2097152;
    l.attrs = {"CVS", "HDP"};
    l.poolId = "6";
    l.label = "src_" + std::to_string(i);
    a.ldevs[l.id] = l;
    g1.luns[i] = l.id;
  }
  Ldev cmd;
  cmd.id = a.maxLdev;
  cmd.defined = true;
  cmd.capacity = 96000;
  cmd.attrs = {"CVS", "CMD"};
  cmd.label = "CMD_DEV";
  a.ldevs[cmd.id] = cmd;
  g0.luns[5] = cmd.id;
  p1.hostGroups[0] = g0;
  p1.hostGroups[1] = g1;
  a.ports[p1.name] = p1;
  Port p2;
  p2.name = "CL2-B";
  p2.wwn = "50060e8007dd3311";
  HostGroup g20;
  g20.gid = 0;
  g20.name = "2B-G00";
  p2.hostGroups[0] = g20;
  a.ports[p2.name] = p2;
  CommandDevice cd;
  cd.path = cmddev;
  cd.serial = serial;
  cd.ldev = cmd.id;
  s.commandDevices.push_back(cd);
}

int cmdInit(const std::vector<std::string>& args, const std::string& statePath) {
  std::string serial = "412345", model = "M8S", micro = "80-06-70/00", user = "cciuser",
              password = "secret";
  std::string host = "mahost01", etc, cmddev = "/dev/sdc", cci;
  bool force = false, empty = false;
  long ldevCount = 0;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto val = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    bool ok = true;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (a == "--force")
      force = true;
    else if (a == "--empty")
      empty = true;
    else if (a == "--serial")
      ok = val(serial) && isDigits(serial) && serial.size() <= 6;
    else if (a == "--model")
      ok = val(model);
    else if (a == "--micro")
      ok = val(micro);
    else if (a == "--host")
      ok = val(host);
    else if (a == "--etc")
      ok = val(etc);
    else if (a == "--cmddev")
      ok = val(cmddev);
    else if (a == "--cci")
      ok = val(cci);
    else if (a == "--ldevs") {
      std::string v;
      ok = val(v) && isDigits(v) && v.size() < 7;
      if (ok) ldevCount = std::strtol(v.c_str(), nullptr, 10);
    } else if (a == "--user") {
      std::string v;
      ok = val(v) && splitPair(v, user, password);
    } else
      ok = false;
    if (!ok) {
      std::cerr << "ccisim init: bad option " << a << "\n" << kUsage;
      return 2;
    }
  }
  if (!force && ::access(statePath.c_str(), F_OK) == 0) {
    std::cerr << "ccisim init: " << statePath << " exists (use --force)\n";
    return 1;
  }
  std::error_code ec;
  std::filesystem::path sp(statePath);
  if (sp.has_parent_path()) std::filesystem::create_directories(sp.parent_path(), ec);
  State s;
  if (etc.empty()) {
    const char* env = std::getenv("ZRHOST_HORCM_ETC_DIR");
    etc = env && *env
              ? env
              : (sp.has_parent_path() ? sp.parent_path().string() : std::string(".")) + "/etc/";
  }
  if (etc.back() != '/') etc += '/';
  std::filesystem::create_directories(etc, ec);
  s.etcDir = etc;
  s.hostName = host;
  if (!cci.empty()) s.cciVersion = cci;
  s.setPassword(user, password);
  s.arrays[serial] = newArray(serial, model, micro);
  if (!empty) buildDemo(s, serial, cmddev);
  Array& arr = s.arrays[serial];
  if (ldevCount > arr.maxLdev + 1L) {
    std::cerr << "ccisim init: model " << model << " holds " << arr.maxLdev + 1 << " LDEVs\n";
    return 2;
  }
  for (int id = 0, added = 0; added < ldevCount && id <= arr.maxLdev; ++id) {
    if (arr.ldevs.count(id)) continue;
    Ldev l;
    l.id = id;
    l.defined = true;
    l.capacity = 2097152;
    l.attrs = {"CVS", "HDP"};
    l.poolId = empty ? "NONE" : "6";
    arr.ldevs[id] = l;
    ++added;
  }
  removeDatabase(statePath);
  std::string why;
  std::unique_ptr<Store> store = Store::open(statePath, true, why);
  if (!store || !store->begin(true, why) || !store->replace(s, why) || !store->commit(why)) {
    std::cerr << "ccisim init: cannot write " << statePath << ": " << why << "\n";
    return 1;
  }
  std::cout << "state " << statePath << " (array " << serial << ", instance files in " << etc
            << ")\n";
  return 0;
}

std::string joined(const std::vector<std::string>& v, const char* sep = " ") {
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) s += (i ? sep : "") + v[i];
  return s;
}

int cmdShow(const std::string& statePath) {
  std::string why;
  State s;
  std::unique_ptr<Store> store = Store::open(statePath, false, why);
  if (!store || !store->begin(false, why) || !store->load(s, true, why)) {
    std::cerr << "ccisim show: " << why << "\n";
    return 1;
  }
  store->rollback();
  std::ostringstream o;
  o << "state " << statePath << "  tick " << s.tick << "\n";
  o << "etc dir " << s.etcDir << "  host " << s.hostName << "  CCI " << s.cciVersion << "  auth "
    << s.authScope << "  errors on " << s.errorStream << (s.strictHorcm ? "  strict HORCM" : "")
    << "\n";
  for (const auto& u : s.users) o << "user " << u.first << "\n";
  for (const auto& c : s.commandDevices)
    o << "command device " << c.path << " -> " << c.serial << " LDEV " << c.ldev << "\n";
  for (const auto& ip : s.instances) {
    const Instance& i = ip.second;
    o << "instance " << i.number << (i.running ? " running" : " stopped") << " array " << i.serial
      << " host " << i.host << " devices [" << joined(i.devices) << "]"
      << (i.loggedIn ? " logged in as " + i.user : std::string(" not logged in"));
    o << "\n";
  }
  for (const auto& st : s.statuses)
    if (st.second.errCnt)
      o << "command status of " << st.first << ": " << st.second.errCnt << " errors, first "
        << st.second.description << "\n";
  for (const auto& ap : s.arrays) {
    const Array& a = ap.second;
    o << "array " << a.serial << " model " << a.model << " max LDEV " << a.maxLdev << " microcode "
      << a.micro << "\n";
    for (const auto& lp : a.ldevs) {
      const Ldev& l = lp.second;
      if (!l.defined && l.rsgid == 0 && l.vid == kVidImplicit) continue;
      o << "  LDEV " << l.id << (l.defined ? "" : " (undefined)") << " " << l.capacity
        << " blocks [" << joined(l.attrs) << "] pool " << l.poolId << " label '" << l.label
        << "' RSGID " << l.rsgid;
      if (l.vid != kVidImplicit) o << " VIR_LDEV " << l.vid;
      o << "\n";
    }
    for (const auto& pp : a.pools)
      o << "  pool " << pp.first << " " << pp.second.name << " " << pp.second.status << " "
        << pp.second.usage << "% " << pp.second.pt << "\n";
    for (const auto& p : a.pairs) {
      o << "  snapshot " << p.group << " P-VOL " << p.pvol << " MU " << p.mu << " " << p.state;
      if (!p.pendingTo.empty())
        o << " -> " << p.pendingTo << " after " << p.pendingLeft << " listings";
      if (p.svol >= 0) o << " S-VOL " << p.svol;
      o << (p.ctg ? " CTG" : "") << "\n";
    }
    for (const auto& pp : a.ports) {
      o << "  port " << pp.first << " " << pp.second.type << " " << pp.second.wwn << " logins ["
        << joined(pp.second.loginWwns) << "]\n";
      for (const auto& gp : pp.second.hostGroups) {
        const HostGroup& g = gp.second;
        o << "    host group " << g.gid << " '" << g.name << "' RSGID " << g.rsgid << " WWNs [";
        for (size_t i = 0; i < g.wwns.size(); ++i) o << (i ? " " : "") << g.wwns[i].first;
        o << "] LUNs [";
        bool first = true;
        for (const auto& l : g.luns) {
          o << (first ? "" : " ") << l.first << ":" << l.second;
          first = false;
        }
        o << "]\n";
      }
    }
    for (const auto& gp : a.resourceGroups) {
      const ResourceGroup& g = gp.second;
      o << "  resource group " << g.id << " '" << g.name << "' " << g.lockStatus;
      if (g.lockStatus != "Unlocked") o << " by " << g.lockOwner << " on " << g.lockHost;
      o << "\n";
    }
    for (const auto& cp : a.copyGroups)
      o << "  copy group " << cp.first << " MU " << cp.second.mu << " Q-marker issued "
        << hex10(cp.second.qIssued) << " committed " << hex10(cp.second.qCommitted) << "\n";
    for (const auto& r : a.remotePairs)
      o << "  remote pair LDEV " << r.ldev << " MU " << r.mu << " " << r.role << " " << r.status
        << " " << r.fence << " with " << r.rcuSerial << ":" << r.partner << "\n";
  }
  for (const auto& f : s.faults)
    o << "fault " << f.id << " " << f.kind << " " << (f.tool.empty() ? "*" : f.tool) << " '"
      << f.match << "' fired " << f.fired << "/"
      << (f.times < 0 ? std::string("always") : std::to_string(f.times)) << "\n";
  std::cout << o.str();
  return 0;
}

int cmdDump(const std::string& statePath) {
  std::string why;
  State s;
  std::unique_ptr<Store> store = Store::open(statePath, false, why);
  if (!store || !store->begin(false, why) || !store->load(s, true, why)) {
    std::cerr << "ccisim dump: " << why << "\n";
    return 1;
  }
  std::cout << serializeState(s);
  return 0;
}

void printIndented(const char* name, const std::string& text, uint64_t size,
                   const std::string& sum) {
  if (size == 0) return;
  std::cout << "    " << name << " (" << size << " bytes, fnv1a " << sum << "):\n";
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) std::cout << "      " << line << "\n";
}

int cmdJournal(const std::string& statePath, bool verbose) {
  std::string why;
  if (!Store::open(statePath, false, why)) {
    std::cerr << "ccisim journal: " << why << "\n";
    return 1;
  }
  for (const JournalEntry& e : readJournal(statePath)) {
    std::cout << e.tick << "  " << e.tool << " " << e.line();
    if (e.hangMarker) {
      std::cout << "  (hang: waiting before the effect)\n";
      continue;
    }
    std::cout << "  -> exit " << e.exitCode << ", " << e.outSize << "+" << e.errSize
              << " bytes out, " << e.stateWrites << " state writes\n";
    if (!verbose) continue;
    printIndented("stdout", e.out, e.outSize, e.outChecksum);
    printIndented("stderr", e.err, e.errSize, e.errChecksum);
  }
  return 0;
}

}  // namespace

int cliMain(const std::vector<std::string>& args, const std::string& statePath) {
  if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    std::cout << kUsage;
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "init") return cmdInit(args, statePath);
  if (args[0] == "show") return cmdShow(statePath);
  if (args[0] == "dump") return cmdDump(statePath);
  if (args[0] == "journal") return cmdJournal(statePath, args.size() > 1 && args[1] == "-v");
  if (args[0] == "run" && args.size() >= 2) {
    Outcome o = invoke(statePath, args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    std::cout << o.out << std::flush;
    std::cerr << o.err << std::flush;
    return o.exitCode & 0xff;
  }
  std::cerr << "ccisim: unknown command " << args[0] << "\n" << kUsage;
  return 2;
}

}  // namespace detail
}  // namespace ccisim
