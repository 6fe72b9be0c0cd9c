// The state as records: one record per object, "<kind> key=value ...".
// The same records are the rows of the state database and the lines of the
// text form (`ccisim dump`, serializeState). Kinds, in the order they load:
//   sim        simulator-wide settings and the simulator's clock
//   user       name, salted password hash
//   cmddev     path -> serial, ldev
//   instance   HORCM instance: running, attached array, login
//   status     command status of one login user on one array
//   array      serial, model code, max LDEV, microcode, pair timing
//   ldev pool pair port hostgroup lun rg copygroup rpair   (each names its array)
//   fault      one injected fault with its counters
// Unknown keys are ignored; a missing key takes the model's default.
#include "sim/ccisim_model.h"
#include "sim/ccisim_internal.h"

#include <charconv>
#include <initializer_list>
#include <cstring>
#include <sstream>
#include <string_view>
#include <utility>

namespace ccisim {
namespace detail {

namespace {

Record rec(const char* kind) {
  Record r;
  r.kind = kind;
  return r;
}

void addInstance(std::vector<Record>& out, const Instance& i) {
  Record x = rec("instance");
  x.add("n", i.number);
  x.add("running", i.running);
  x.add("serial", i.serial);
  x.add("host", i.host);
  x.add("devices", encList(i.devices));
  x.add("user", i.user);
  x.add("loggedIn", i.loggedIn);
  x.add("ttl", i.loginTtl);
  out.push_back(std::move(x));
}

void addArrayRecord(std::vector<Record>& out, const Array& a) {
  Record x = rec("array");
  x.add("serial", a.serial);
  x.add("model", a.model);
  x.add("maxLdev", a.maxLdev);
  x.add("micro", a.micro);
  x.add("cache", a.cacheMB);
  x.add("firstMu", a.firstSnapMu);
  x.add("addPolls", a.timing.addPolls);
  x.add("resyncPolls", a.timing.resyncPolls);
  x.add("restorePolls", a.timing.restorePolls);
  x.add("restorePsue", a.timing.restoreEndsPsue);
  x.add("gv", a.globalVirtualization);
  out.push_back(std::move(x));
}

void addPorts(std::vector<Record>& out, const Array& a, const RecordFilter* skip) {
  for (const auto& pp : a.ports) {
    const Port& p = pp.second;
    Record y = rec("port");
    y.add("serial", a.serial);
    y.add("name", p.name);
    y.add("type", p.type);
    y.add("wwn", p.wwn);
    y.add("logins", encList(p.loginWwns));
    y.add("rsgid", p.rsgid);
    out.push_back(std::move(y));
    for (const auto& gp : p.hostGroups) {
      const HostGroup& g = gp.second;
      Record z = rec("hostgroup");
      z.add("serial", a.serial);
      z.add("port", p.name);
      z.add("gid", g.gid);
      z.add("name", g.name);
      z.add("mode", g.mode);
      z.add("hmo", g.hmoBits);
      z.add("rsgid", g.rsgid);
      z.add("iqn", g.iqn);
      std::vector<std::string> w, n;
      for (const auto& x2 : g.wwns) {
        w.push_back(x2.first);
        n.push_back(x2.second);
      }
      z.add("wwns", encList(w));
      z.add("nicks", encList(n));
      out.push_back(std::move(z));
      if (skip && skip->lunsOf.count(lunCollection(a.serial, p.name, g.gid))) continue;
      for (const auto& lu : g.luns) {
        Record q = rec("lun");
        q.add("serial", a.serial);
        q.add("port", p.name);
        q.add("gid", g.gid);
        q.add("lun", lu.first);
        q.add("ldev", lu.second);
        auto io = g.hostIo.find(lu.second);
        if (io != g.hostIo.end()) q.add("hostio", io->second);
        out.push_back(std::move(q));
      }
    }
  }
}

void addArrayContents(std::vector<Record>& out, const Array& a, const RecordFilter* skip) {
  for (const auto& pp : a.pools) {
    const Pool& p = pp.second;
    Record y = rec("pool");
    y.add("serial", a.serial);
    y.add("id", p.id);
    y.add("name", p.name);
    y.add("status", p.status);
    y.add("usage", p.usage);
    y.add("threshold", p.threshold);
    y.add("pt", p.pt);
    y.add("volumes", p.volumes);
    y.add("firstLdev", p.firstLdev);
    y.add("vcap", p.vcap);
    y.add("type", p.type);
    y.add("pm", p.pm);
    out.push_back(std::move(y));
  }
  const bool pairs = !(skip && skip->pairsOf.count(a.serial));
  for (const auto& p : a.pairs) {
    if (!pairs) break;
    Record y = rec("pair");
    y.add("serial", a.serial);
    y.add("group", p.group);
    y.add("ctg", p.ctg);
    y.add("pvol", p.pvol);
    y.add("mu", p.mu);
    y.add("pool", p.poolId);
    y.add("state", p.state);
    y.add("svol", p.svol);
    y.add("split", static_cast<long long>(p.splitTime));
    y.add("pct", p.progress);
    y.add("pendTo", p.pendingTo);
    y.add("pendLeft", p.pendingLeft);
    y.add("seq", p.seq);
    out.push_back(std::move(y));
  }
  addPorts(out, a, skip);
  for (const auto& gp : a.resourceGroups) {
    const ResourceGroup& g = gp.second;
    Record y = rec("rg");
    y.add("serial", a.serial);
    y.add("name", g.name);
    y.add("id", g.id);
    y.add("vserial", g.vSerial);
    y.add("vmodel", g.vModel);
    y.add("vif", g.vIf);
    y.add("status", g.lockStatus);
    y.add("owner", g.lockOwner);
    y.add("host", g.lockHost);
    y.add("release", g.releaseAfterPolls);
    y.add("releaseAt", static_cast<long long>(g.releaseAtMs));
    out.push_back(std::move(y));
  }
  for (const auto& cp : a.copyGroups) {
    const CopyGroup& g = cp.second;
    Record y = rec("copygroup");
    y.add("serial", a.serial);
    y.add("name", g.name);
    y.add("ldevGroup", g.ldevGroup);
    y.add("mu", g.mu);
    y.add("jid", g.jid);
    // Further device groups: "name/mu/jid" items.
    std::vector<std::string> more;
    for (const CopyGroup::LdevGroup& d : g.moreLdevGroups)
      more.push_back(d.name + "/" + d.mu + "/" + d.jid);
    y.add("more", encList(more));
    y.add("ctg", g.ctg);
    y.add("qIssued", g.qIssued);
    y.add("qCommitted", g.qCommitted);
    y.add("commitAfter", g.commitAfterWaits);
    y.add("waits", g.waits);
    y.add("commitAfterMs", static_cast<long long>(g.commitAfterMs));
    y.add("waitedMs", static_cast<long long>(g.waitedMs));
    y.add("alwaysTimeout", g.alwaysTimeout);
    y.add("pvolStatus", g.pvolStatus);
    y.add("waitOutcome", g.waitOutcome);
    out.push_back(std::move(y));
  }
  for (const auto& p : a.remotePairs) {
    Record y = rec("rpair");
    y.add("serial", a.serial);
    y.add("ldev", p.ldev);
    y.add("mu", p.mu);
    y.add("role", p.role);
    y.add("status", p.status);
    y.add("fence", p.fence);
    y.add("rcu", p.rcuSerial);
    y.add("partner", p.partner);
    out.push_back(std::move(y));
  }
}

void addFault(std::vector<Record>& out, const Fault& f) {
  Record y = rec("fault");
  y.add("id", f.id);
  y.add("kind", f.kind);
  y.add("tool", f.tool);
  y.add("match", f.match);
  y.add("skip", f.skip);
  y.add("times", f.times);
  y.add("seen", f.seen);
  y.add("fired", f.fired);
  y.add("exit", f.exitCode);
  y.add("out", f.out);
  y.add("err", f.err);
  y.add("apply", f.applyEffect);
  y.add("errCnt", f.errCnt);
  y.add("desc", f.description);
  y.add("hangMs", f.hangMillis);
  y.add("before", f.hangBefore);
  y.add("garble", f.garble);
  out.push_back(std::move(y));
}

int num(const Record& r, const char* k, long long def = 0) {
  return static_cast<int>(r.num(k, def));
}

}  // namespace

Record ldevRecord(const std::string& serial, const Ldev& l) {
  Record y = rec("ldev");
  y.add("serial", serial);
  y.add("id", l.id);
  y.add("defined", l.defined);
  y.add("type", l.volType);
  y.add("cap", static_cast<uint64_t>(l.capacity));
  y.add("attrs", encList(l.attrs));
  y.add("pool", l.poolId);
  y.add("label", l.label);
  y.add("rsgid", l.rsgid);
  y.add("vid", l.vid);
  y.add("mp", l.mpBlade);
  return y;
}

Ldev ldevFromRecord(const Record& r) {
  Ldev l;
  l.id = num(r, "id");
  l.defined = r.flag("defined");
  l.volType = r.str("type", l.volType);
  l.capacity = r.unum("cap");
  l.attrs = decList(r.str("attrs"));
  l.poolId = r.str("pool", "NONE");
  l.label = r.str("label");
  l.rsgid = num(r, "rsgid");
  l.vid = num(r, "vid", kVidImplicit);
  l.mpBlade = num(r, "mp");
  return l;
}

namespace {

// A text value of a collection row: never an empty word.
void putText(std::string& out, const std::string& v) {
  out += '=';
  out += enc(v);
}

}  // namespace

// " <n>" for each number.
void putNumbers(std::string& out, std::initializer_list<long long> numbers) {
  for (long long v : numbers) {
    out += ' ';
    out += std::to_string(v);
  }
}

std::string encodePairs(const std::vector<std::pair<const SnapPair*, long long>>& pairs) {
  std::string out;
  out.reserve(pairs.size() * 80);
  for (const auto& o : pairs) {
    const SnapPair& p = *o.first;
    out += std::to_string(o.second);
    out += ' ';
    putText(out, p.group);
    out += ' ';
    out += p.ctg ? '1' : '0';
    putNumbers(out, {p.pvol, p.mu, p.poolId});
    out += ' ';
    putText(out, p.state);
    putNumbers(out, {p.svol, p.splitTime, p.progress});
    out += ' ';
    putText(out, p.pendingTo);
    out += ' ';
    out += std::to_string(p.pendingLeft);
    out += ' ';
    out += std::to_string(p.seq);
    out += '\n';
  }
  return out;
}

bool decodePairs(const std::string& text, std::vector<OrderedPair>& out) {
  // Words of one line at a time, read in place.
  const char* p = text.data();
  const char* const stop = p + text.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (p < stop) {
    const char* eol = static_cast<const char*>(std::memchr(p, '\n', stop - p));
    if (eol == nullptr) eol = stop;
    std::string_view w[13];
    size_t n = 0;
    for (const char* q = p; q < eol;) {
      while (q < eol && blank(*q)) ++q;
      const char* b = q;
      while (q < eol && !blank(*q)) ++q;
      if (q == b) continue;
      if (n == 13) return false;
      w[n++] = std::string_view(b, static_cast<size_t>(q - b));
    }
    p = eol + 1;
    if (n == 0) continue;
    if (n != 13) return false;
    auto text = [](std::string_view v, std::string& into) {
      if (v.empty() || v[0] != '=') return false;
      into = dec(std::string(v.substr(1)));
      return true;
    };
    // The rows hold the numbers this encoder wrote: plain decimal.
    auto number = [](std::string_view v) {
      long long x = 0;
      std::from_chars(v.data(), v.data() + v.size(), x);
      return x;
    };
    OrderedPair o;
    SnapPair& pr = o.pair;
    o.order = number(w[0]);
    if (!text(w[1], pr.group) || !text(w[6], pr.state) || !text(w[10], pr.pendingTo)) return false;
    pr.ctg = w[2] == "1";
    pr.pvol = static_cast<int>(number(w[3]));
    pr.mu = static_cast<int>(number(w[4]));
    pr.poolId = static_cast<int>(number(w[5]));
    pr.svol = static_cast<int>(number(w[7]));
    pr.splitTime = number(w[8]);
    pr.progress = static_cast<int>(number(w[9]));
    pr.pendingLeft = static_cast<int>(number(w[11]));
    std::from_chars(w[12].data(), w[12].data() + w[12].size(), pr.seq);
    out.push_back(std::move(o));
  }
  return true;
}

std::string encodeLuns(const HostGroup& g) {
  std::string out;
  out.reserve(g.luns.size() * 12);
  for (const auto& lu : g.luns) {
    if (!out.empty()) out += ' ';
    out += std::to_string(lu.first);
    out += ':';
    out += std::to_string(lu.second);
    // As a LUN record: the host I/O count of the path's LDEV.
    const auto io = g.hostIo.find(lu.second);
    if (io != g.hostIo.end()) {
      out += ':';
      out += std::to_string(io->second);
    }
  }
  return out;
}

bool decodeLuns(const std::string& text, HostGroup& g) {
  for (const std::string& w : words(text)) {
    const size_t a = w.find(':');
    if (a == std::string::npos) return false;
    const size_t b = w.find(':', a + 1);
    const int lun = static_cast<int>(std::strtoll(w.substr(0, a).c_str(), nullptr, 10));
    const int ldev = static_cast<int>(
        std::strtoll(w.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1).c_str(),
                     nullptr, 10));
    g.luns[lun] = ldev;
    if (b != std::string::npos)
      g.hostIo[ldev] = static_cast<int>(std::strtoll(w.substr(b + 1).c_str(), nullptr, 10));
  }
  return true;
}

std::string lunCollection(const std::string& serial, const std::string& port, int gid) {
  return serial + "/" + port + "/" + std::to_string(gid);
}

std::vector<Record> stateRecords(const State& s, bool withLdevs) {
  return stateRecords(s, withLdevs, nullptr);
}

std::vector<Record> stateRecords(const State& s, bool withLdevs, const RecordFilter* skip) {
  std::vector<Record> out;
  Record r = rec("sim");
  r.add("clockMs", static_cast<long long>(s.clockMs));
  r.add("etcDir", s.etcDir);
  r.add("hostName", s.hostName);
  r.add("cciVersion", s.cciVersion);
  r.add("authScope", s.authScope);
  r.add("errorStream", s.errorStream);
  r.add("strictHorcm", s.strictHorcm);
  r.add("undefinedVolAttr", s.undefinedVolAttr);
  r.add("nextFaultId", s.nextFaultId);
  r.add("nextSeq", s.nextSeq);
  out.push_back(std::move(r));
  for (const auto& u : s.users) {
    Record x = rec("user");
    x.add("name", u.first);
    x.add("hash", u.second);
    out.push_back(std::move(x));
  }
  for (const auto& c : s.commandDevices) {
    Record x = rec("cmddev");
    x.add("path", c.path);
    x.add("serial", c.serial);
    x.add("ldev", c.ldev);
    out.push_back(std::move(x));
  }
  for (const auto& p : s.instances) addInstance(out, p.second);
  for (const auto& p : s.statuses) {
    const CommandStatus& st = p.second;
    Record x = rec("status");
    x.add("key", p.first);
    x.add("errCnt", st.errCnt);
    x.add("ssb1", st.ssb1);
    x.add("ssb2", st.ssb2);
    x.add("desc", st.description);
    x.add("handle", st.handle);
    out.push_back(std::move(x));
  }
  for (const auto& ap : s.arrays) {
    addArrayRecord(out, ap.second);
    if (withLdevs)
      for (const auto& lp : ap.second.ldevs) out.push_back(ldevRecord(ap.first, lp.second));
    addArrayContents(out, ap.second, skip);
  }
  for (const auto& f : s.faults) addFault(out, f);
  return out;
}

std::string recordKey(const Record& r) {
  const std::string& k = r.kind;
  std::string a = r.str("serial");
  if (k == "sim") return "";
  if (k == "user") return r.str("name");
  if (k == "cmddev") return r.str("path");
  if (k == "instance") return r.str("n");
  if (k == "status") return r.str("key");
  if (k == "array") return a;
  if (k == "ldev" || k == "pool") return a + "/" + r.str("id");
  if (k == "pair") return a + "/" + r.str("pvol") + "/" + r.str("mu");
  if (k == "port" || k == "rg" || k == "copygroup") return a + "/" + r.str("name");
  if (k == "hostgroup") return a + "/" + r.str("port") + "/" + r.str("gid");
  if (k == "lun") return a + "/" + r.str("port") + "/" + r.str("gid") + "/" + r.str("lun");
  if (k == "rpair") return a + "/" + r.str("ldev") + "/" + r.str("mu") + "/" + r.str("partner");
  if (k == "fault") return r.str("id");
  return "";
}

int kindRank(const std::string& kind) {
  static const char* order[] = {"sim",  "user",      "cmddev", "instance", "status",    "array",
                                "ldev", "pool",      "pair",   "port",     "hostgroup", "lun",
                                "rg",   "copygroup", "rpair",  "fault"};
  for (int i = 0; i < static_cast<int>(sizeof order / sizeof order[0]); ++i)
    if (kind == order[i]) return i;
  return 99;
}

namespace {

bool applyArrayRecord(State& s, const Record& r, std::string& why) {
  const std::string& k = r.kind;
  Array* a = s.array(r.str("serial"));
  if (!a) return (why = "record of an unknown array: " + k), false;
  if (k == "ldev") {
    Ldev l = ldevFromRecord(r);
    a->ldevs[l.id] = l;
  } else if (k == "pool") {
    Pool p;
    p.id = num(r, "id");
    p.name = r.str("name");
    p.status = r.str("status", p.status);
    p.usage = num(r, "usage");
    p.threshold = num(r, "threshold", 80);
    p.pt = r.str("pt", p.pt);
    p.volumes = num(r, "volumes", p.volumes);
    p.firstLdev = num(r, "firstLdev", p.firstLdev);
    p.vcap = r.str("vcap", p.vcap);
    p.type = r.str("type", p.type);
    p.pm = r.str("pm", p.pm);
    a->pools[p.id] = p;
  } else if (k == "pair") {
    SnapPair p;
    p.group = r.str("group");
    p.ctg = r.flag("ctg");
    p.pvol = num(r, "pvol");
    p.mu = num(r, "mu");
    p.poolId = num(r, "pool");
    p.state = r.str("state", p.state);
    p.svol = num(r, "svol", -1);
    p.splitTime = r.num("split");
    p.progress = num(r, "pct", 100);
    p.pendingTo = r.str("pendTo");
    p.pendingLeft = num(r, "pendLeft");
    p.seq = r.unum("seq");
    a->pairs.push_back(p);
  } else if (k == "port") {
    Port p;
    p.name = r.str("name");
    p.type = r.str("type", p.type);
    p.wwn = r.str("wwn");
    p.loginWwns = decList(r.str("logins"));
    p.rsgid = num(r, "rsgid");
    a->ports[p.name] = p;
  } else if (k == "hostgroup") {
    auto pit = a->ports.find(r.str("port"));
    if (pit == a->ports.end()) return (why = "host group of an unknown port"), false;
    HostGroup g;
    g.gid = num(r, "gid");
    g.name = r.str("name");
    g.mode = r.str("mode", g.mode);
    g.hmoBits = r.str("hmo", "-");
    g.rsgid = num(r, "rsgid");
    g.iqn = r.str("iqn");
    std::vector<std::string> w = decList(r.str("wwns")), n = decList(r.str("nicks"));
    for (size_t i = 0; i < w.size(); ++i) g.wwns.emplace_back(w[i], i < n.size() ? n[i] : "-");
    pit->second.hostGroups[g.gid] = g;
  } else if (k == "lun") {
    HostGroup* g = a->hostGroup(r.str("port"), num(r, "gid"));
    if (!g) return (why = "LUN of an unknown host group"), false;
    g->luns[num(r, "lun")] = num(r, "ldev");
    if (r.has("hostio")) g->hostIo[num(r, "ldev")] = num(r, "hostio");
  } else if (k == "rg") {
    ResourceGroup g;
    g.name = r.str("name");
    g.id = num(r, "id");
    g.vSerial = r.str("vserial");
    g.vModel = r.str("vmodel");
    g.vIf = r.str("vif", "Y");
    g.lockStatus = r.str("status", "Unlocked");
    g.lockOwner = r.str("owner", "-");
    g.lockHost = r.str("host", "-");
    g.releaseAfterPolls = num(r, "release", -1);
    g.releaseAtMs = r.num("releaseAt", -1);
    a->resourceGroups[g.name] = g;
  } else if (k == "copygroup") {
    CopyGroup g;
    g.name = r.str("name");
    g.ldevGroup = r.str("ldevGroup");
    g.mu = r.str("mu", g.mu);
    g.jid = r.str("jid", g.jid);
    for (const std::string& item : decList(r.str("more"))) {
      CopyGroup::LdevGroup d;
      // The last two '/' end the name and the MU (a name may hold '/').
      size_t a2 = item.rfind('/');
      size_t a1 = a2 == std::string::npos || a2 == 0 ? std::string::npos : item.rfind('/', a2 - 1);
      d.name = a1 == std::string::npos ? item : item.substr(0, a1);
      if (a1 != std::string::npos) {
        d.mu = item.substr(a1 + 1, a2 - a1 - 1);
        d.jid = item.substr(a2 + 1);
      }
      g.moreLdevGroups.push_back(d);
    }
    g.ctg = num(r, "ctg");
    g.qIssued = r.unum("qIssued");
    g.qCommitted = r.unum("qCommitted");
    g.commitAfterWaits = num(r, "commitAfter");
    g.waits = num(r, "waits");
    g.commitAfterMs = r.num("commitAfterMs", -1);
    g.waitedMs = r.num("waitedMs");
    g.alwaysTimeout = r.flag("alwaysTimeout");
    g.pvolStatus = r.str("pvolStatus", g.pvolStatus);
    g.waitOutcome = r.str("waitOutcome");
    a->copyGroups[g.name] = g;
  } else if (k == "rpair") {
    RemotePair p;
    p.ldev = num(r, "ldev");
    p.mu = num(r, "mu");
    p.role = r.str("role", p.role);
    p.status = r.str("status", p.status);
    p.fence = r.str("fence", p.fence);
    p.rcuSerial = r.str("rcu");
    p.partner = r.str("partner");
    a->remotePairs.push_back(p);
  } else {
    return (why = "unknown record kind " + k), false;
  }
  return true;
}

}  // namespace

bool applyRecord(State& s, const Record& r, std::string& why) {
  const std::string& k = r.kind;
  if (k == "sim") {
    s.clockMs = r.num("clockMs");
    s.etcDir = r.str("etcDir", s.etcDir);
    s.hostName = r.str("hostName", s.hostName);
    s.cciVersion = r.str("cciVersion", s.cciVersion);
    s.authScope = r.str("authScope", s.authScope);
    s.errorStream = r.str("errorStream", s.errorStream);
    s.strictHorcm = r.flag("strictHorcm");
    s.undefinedVolAttr = r.flag("undefinedVolAttr");
    s.nextFaultId = num(r, "nextFaultId", 1);
    s.nextSeq = r.unum("nextSeq", 1);
  } else if (k == "user") {
    s.users[r.str("name")] = r.str("hash");
  } else if (k == "cmddev") {
    s.commandDevices.push_back({r.str("path"), r.str("serial"), num(r, "ldev")});
  } else if (k == "instance") {
    Instance i;
    i.number = num(r, "n");
    i.running = r.flag("running");
    i.serial = r.str("serial");
    i.host = r.str("host");
    i.devices = decList(r.str("devices"));
    i.user = r.str("user");
    i.loggedIn = r.flag("loggedIn");
    i.loginTtl = num(r, "ttl", -1);
    s.instances[i.number] = i;
  } else if (k == "status") {
    CommandStatus& st = s.statuses[r.str("key")];
    st.errCnt = num(r, "errCnt");
    st.ssb1 = r.str("ssb1", "-");
    st.ssb2 = r.str("ssb2", "-");
    st.description = r.str("desc", "-");
    st.handle = num(r, "handle", 0xc3);
  } else if (k == "fault") {
    Fault f;
    f.id = num(r, "id");
    f.kind = r.str("kind");
    f.tool = r.str("tool");
    f.match = r.str("match");
    f.skip = num(r, "skip");
    f.times = num(r, "times", 1);
    f.seen = num(r, "seen");
    f.fired = num(r, "fired");
    f.exitCode = num(r, "exit", 1);
    f.out = r.str("out");
    f.err = r.str("err");
    f.applyEffect = r.flag("apply");
    f.errCnt = num(r, "errCnt", 1);
    f.description = r.str("desc");
    f.hangMillis = num(r, "hangMs");
    f.hangBefore = r.flag("before");
    f.garble = r.str("garble");
    s.faults.push_back(f);
  } else if (k == "array") {
    Array a = newArray(r.str("serial"), r.str("model", "M8S"), r.str("micro", "80-06-70/00"));
    a.resourceGroups.clear();  // the rg records follow
    a.maxLdev = num(r, "maxLdev", a.maxLdev);
    a.cacheMB = num(r, "cache", a.cacheMB);
    a.firstSnapMu = num(r, "firstMu", a.firstSnapMu);
    a.timing.addPolls = num(r, "addPolls", 0);
    a.timing.resyncPolls = num(r, "resyncPolls", 2);
    a.timing.restorePolls = num(r, "restorePolls", 2);
    a.timing.restoreEndsPsue = r.flag("restorePsue");
    a.globalVirtualization = r.flag("gv");
    s.arrays[a.serial] = a;
  } else {
    return applyArrayRecord(s, r, why);
  }
  return true;
}

}  // namespace detail

using namespace detail;

std::string serializeState(const State& s) {
  std::string out = "# ccisim state (see ccisim_records.cpp for the record kinds)\n";
  for (const Record& r : stateRecords(s, true)) out += formatRecord(r);
  return out;
}

bool parseState(const std::string& text, State& s, std::string* error) {
  s = State();
  std::istringstream in(text);
  std::string line, why;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty() || line[0] == '#') continue;
    Record r;
    if (!parseRecord(line, r)) why = "not a record";
    if (why.empty()) applyRecord(s, r, why);
    if (!why.empty()) {
      if (error) *error = "line " + std::to_string(lineNo) + ": " + why;
      return false;
    }
  }
  return true;
}

}  // namespace ccisim
