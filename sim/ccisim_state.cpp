// State model, its text form, the journal, and file helpers.
//
// State file format (simulator's choice, kept readable for `ccisim show` and
// for a person with a text editor): one record per line,
//   <kind> key=value key=value ...
// values percent-encoded (blank, tab, line ends, '%', '=', ',' as %XX), lists
// as "<count>:" followed by the items joined by ','. Lines starting with '#'
// and empty lines are ignored. Kinds, in the order they are written:
//   sim        simulator-wide settings and counters
//   user       name, password
//   cmddev     path -> serial, ldev
//   instance   HORCM instance: running, attached array, login, command status
//   array      serial, model code, max LDEV, microcode, pair timing
//   ldev pool pair port hostgroup lun rg copygroup rpair   (each names its array)
//   fault      one injected fault with its counters
// Records of an array follow its "array" line. Unknown keys are ignored, a
// missing key takes the default of the model.
//
// Journal format: one "call" record per invocation (tick, tool, argv list,
// instance, serial, exit code, hang marker, stdout, stderr).
#include "sim/ccisim_fixture.h"
#include "sim/ccisim_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace ccisim {
namespace detail {

namespace {
bool needsEscape(char c) {
  return c == '%' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '=' || c == ',' ||
         static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7f;
}
int hexVal(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string enc(const std::string& v) {
  static const char* digits = "0123456789ABCDEF";
  std::string r;
  r.reserve(v.size());
  for (char c : v) {
    if (needsEscape(c)) {
      r += '%';
      r += digits[(static_cast<unsigned char>(c) >> 4) & 0xf];
      r += digits[static_cast<unsigned char>(c) & 0xf];
    } else {
      r += c;
    }
  }
  return r;
}

std::string dec(const std::string& v) {
  std::string r;
  r.reserve(v.size());
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '%' && i + 2 < v.size()) {
      int h = hexVal(v[i + 1]), l = hexVal(v[i + 2]);
      if (h >= 0 && l >= 0) {
        r += static_cast<char>(h * 16 + l);
        i += 2;
        continue;
      }
    }
    r += v[i];
  }
  return r;
}

std::string encList(const std::vector<std::string>& items) {
  std::string r = std::to_string(items.size()) + ":";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) r += ',';
    r += enc(items[i]);
  }
  return r;
}

std::vector<std::string> decList(const std::string& v) {
  std::vector<std::string> r;
  size_t colon = v.find(':');
  if (colon == std::string::npos) return r;
  long n = std::strtol(v.substr(0, colon).c_str(), nullptr, 10);
  if (n <= 0) return r;
  std::string rest = v.substr(colon + 1);
  size_t pos = 0;
  for (long i = 0; i < n; ++i) {
    size_t comma = rest.find(',', pos);
    if (comma == std::string::npos) comma = rest.size();
    r.push_back(dec(rest.substr(pos, comma - pos)));
    pos = comma + 1;
  }
  return r;
}

bool Record::has(const std::string& k) const {
  for (const auto& p : kv)
    if (p.first == k) return true;
  return false;
}
std::string Record::str(const std::string& k, const std::string& def) const {
  for (const auto& p : kv)
    if (p.first == k) return p.second;
  return def;
}
long long Record::num(const std::string& k, long long def) const {
  if (!has(k)) return def;
  return std::strtoll(str(k).c_str(), nullptr, 10);
}
uint64_t Record::unum(const std::string& k, uint64_t def) const {
  if (!has(k)) return def;
  return std::strtoull(str(k).c_str(), nullptr, 10);
}
bool Record::flag(const std::string& k, bool def) const {
  if (!has(k)) return def;
  return str(k) == "1";
}

std::string formatRecord(const Record& r) {
  std::string line = r.kind;
  for (const auto& p : r.kv) {
    line += ' ';
    line += p.first;
    line += '=';
    line += enc(p.second);
  }
  line += '\n';
  return line;
}

bool parseRecord(const std::string& line, Record& r) {
  r.kind.clear();
  r.kv.clear();
  std::istringstream in(line);
  std::string tok;
  if (!(in >> r.kind)) return false;
  while (in >> tok) {
    size_t eq = tok.find('=');
    if (eq == std::string::npos) return false;
    r.kv.emplace_back(tok.substr(0, eq), dec(tok.substr(eq + 1)));
  }
  return true;
}

bool readFile(const std::string& path, std::string& out) {
  out.clear();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

namespace {
bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t w = ::write(fd, text.data() + done, text.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(w);
  }
  return true;
}
}  // namespace

bool writeFileAtomic(const std::string& path, const std::string& text) {
  std::string tmp = path + ".tmp." + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = writeAll(fd, text);
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool appendFile(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = writeAll(fd, text);
  return (::close(fd) == 0) && ok;
}

StateLock::StateLock(const std::string& statePath) {
  std::string lockPath = statePath + ".lock";
  fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
}

StateLock::~StateLock() {
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
}

std::string formatTable(const std::vector<std::string>& header,
                        const std::vector<std::vector<std::string>>& rows,
                        const std::vector<bool>& rightAlign, int indent) {
  size_t cols = header.size();
  std::vector<size_t> width(cols, 0);
  for (size_t c = 0; c < cols; ++c) width[c] = header[c].size();
  for (const auto& r : rows)
    for (size_t c = 0; c < cols && c < r.size(); ++c) width[c] = std::max(width[c], r[c].size());
  auto line = [&](const std::vector<std::string>& cells) {
    std::string s(static_cast<size_t>(indent), ' ');
    for (size_t c = 0; c < cols; ++c) {
      const std::string cell = c < cells.size() ? cells[c] : std::string();
      bool right = c < rightAlign.size() && rightAlign[c];
      bool last = c + 1 == cols;
      if (right) {
        s += std::string(width[c] - cell.size(), ' ') + cell;
      } else {
        s += cell;
        if (!last) s += std::string(width[c] - cell.size(), ' ');
      }
      if (!last) s += "  ";
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s + "\n";
  };
  std::string out = line(header);
  for (const auto& r : rows) out += line(r);
  return out;
}

bool isDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string hex10(uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%010llx", static_cast<unsigned long long>(v));
  return buf;
}

}  // namespace detail

using namespace detail;

// ---------------------------------------------------------------------------
int maxLdevForModel(const std::string& modelCode) {
  static const std::pair<const char*, int> table[] = {
      {"R9G", 65279},     {"R9F", 65279},    {"R9", 65279},      {"R8", 65279},
      {"R7", 65279},      {"M7", 16383},     {"M8S", 2047},      {"M8M", 4095},
      {"M8H", 16383},     {"M850S1", 16383}, {"M850S1F", 16383}, {"M850S2", 32767},
      {"M850S2F", 32767}, {"M850M3", 49151}, {"M850M3F", 49151}, {"M850H", 65279},
      {"M850HF", 65279},
  };
  for (const auto& row : table)
    if (modelCode == row.first) return row.second;
  return -1;
}

Array detail::newArray(const std::string& serial, const std::string& model,
                       const std::string& micro) {
  Array a;
  a.serial = serial;
  a.model = model;
  a.micro = micro;
  int max = maxLdevForModel(model);
  a.maxLdev = max < 0 ? 65279 : max;
  ResourceGroup meta;
  meta.name = "meta_resource";
  meta.id = 0;
  a.resourceGroups[meta.name] = meta;
  return a;
}

bool Ldev::hasAttr(const std::string& a) const {
  for (const auto& x : attrs)
    if (x == a) return true;
  return false;
}

Ldev Array::ldev(int id) const {
  auto it = ldevs.find(id);
  if (it != ldevs.end()) return it->second;
  Ldev l;
  l.id = id;
  return l;
}

Ldev& Array::ldevRef(int id) {
  auto it = ldevs.find(id);
  if (it != ldevs.end()) return it->second;
  Ldev l;
  l.id = id;
  return ldevs.emplace(id, l).first->second;
}

const ResourceGroup* Array::groupById(int id) const {
  for (const auto& g : resourceGroups)
    if (g.second.id == id) return &g.second;
  return nullptr;
}
ResourceGroup* Array::groupById(int id) {
  for (auto& g : resourceGroups)
    if (g.second.id == id) return &g.second;
  return nullptr;
}
SnapPair* Array::pair(int pvol, int mu) {
  for (auto& p : pairs)
    if (p.pvol == pvol && p.mu == mu) return &p;
  return nullptr;
}
const SnapPair* Array::pair(int pvol, int mu) const {
  for (const auto& p : pairs)
    if (p.pvol == pvol && p.mu == mu) return &p;
  return nullptr;
}
HostGroup* Array::hostGroup(const std::string& port, int gid) {
  auto p = ports.find(port);
  if (p == ports.end()) return nullptr;
  auto g = p->second.hostGroups.find(gid);
  return g == p->second.hostGroups.end() ? nullptr : &g->second;
}
const HostGroup* Array::hostGroup(const std::string& port, int gid) const {
  auto p = ports.find(port);
  if (p == ports.end()) return nullptr;
  auto g = p->second.hostGroups.find(gid);
  return g == p->second.hostGroups.end() ? nullptr : &g->second;
}

Array* State::array(const std::string& serial) {
  auto it = arrays.find(serial);
  return it == arrays.end() ? nullptr : &it->second;
}
const Array* State::array(const std::string& serial) const {
  auto it = arrays.find(serial);
  return it == arrays.end() ? nullptr : &it->second;
}
const CommandDevice* State::commandDevice(const std::string& path) const {
  for (const auto& c : commandDevices)
    if (c.path == path) return &c;
  return nullptr;
}

// ---------------------------------------------------------------------------
Fault Fault::fail(const std::string& tool, const std::string& match, int exitCode,
                  const std::string& errText, int times) {
  Fault f;
  f.kind = "fail";
  f.tool = tool;
  f.match = match;
  f.exitCode = exitCode;
  f.err = errText;
  f.times = times;
  return f;
}
Fault Fault::expireLogin(const std::string& match, int times) {
  Fault f;
  f.kind = "expireLogin";
  f.tool = "raidcom";
  f.match = match;
  f.times = times;
  return f;
}
Fault Fault::statusError(const std::string& match, int errCnt, const std::string& description) {
  Fault f;
  f.kind = "statusError";
  f.tool = "raidcom";
  f.match = match;
  f.errCnt = errCnt;
  f.description = description;
  return f;
}
Fault Fault::statusBusy(int times, bool withRow) {
  Fault f;
  f.kind = "fail";
  f.tool = "raidcom";
  f.match = "get command_status";
  f.times = times;
  f.exitCode = kExitStatusTimeout;
  f.err = "raidcom: [EX_EWSTOT] Timeout waiting for the command status\n";
  // The row is filled in by the engine from the instance's status (marker).
  f.out = withRow ? "@statusrow" : "";
  return f;
}
Fault Fault::hang(const std::string& tool, const std::string& match, int millis, bool before) {
  Fault f;
  f.kind = "hang";
  f.tool = tool;
  f.match = match;
  f.hangMillis = millis;
  f.hangBefore = before;
  return f;
}
Fault Fault::slow(int millis) {
  Fault f = hang("", "", millis, false);
  f.times = -1;
  return f;
}
Fault Fault::garbleOutput(const std::string& tool, const std::string& match,
                          const std::string& mode, int times) {
  Fault f;
  f.kind = "garble";
  f.tool = tool;
  f.match = match;
  f.garble = mode;
  f.times = times;
  return f;
}

// ---------------------------------------------------------------------------
std::string serializeState(const State& s) {
  std::string out = "# ccisim state (see ccisim_state.cpp for the format)\n";
  Record r;
  r.kind = "sim";
  r.add("tick", static_cast<long long>(s.tick));
  r.add("etcDir", s.etcDir);
  r.add("hostName", s.hostName);
  r.add("cciVersion", s.cciVersion);
  r.add("authScope", s.authScope);
  r.add("errorStream", s.errorStream);
  r.add("strictHorcm", s.strictHorcm);
  r.add("undefinedVolAttr", s.undefinedVolAttr);
  r.add("nextFaultId", s.nextFaultId);
  r.add("nextSeq", s.nextSeq);
  out += formatRecord(r);
  for (const auto& u : s.users) {
    Record x;
    x.kind = "user";
    x.add("name", u.first);
    x.add("password", u.second);
    out += formatRecord(x);
  }
  for (const auto& c : s.commandDevices) {
    Record x;
    x.kind = "cmddev";
    x.add("path", c.path);
    x.add("serial", c.serial);
    x.add("ldev", c.ldev);
    out += formatRecord(x);
  }
  for (const auto& p : s.instances) {
    const Instance& i = p.second;
    Record x;
    x.kind = "instance";
    x.add("n", i.number);
    x.add("running", i.running);
    x.add("serial", i.serial);
    x.add("host", i.host);
    x.add("devices", encList(i.devices));
    x.add("user", i.user);
    x.add("loggedIn", i.loggedIn);
    x.add("ttl", i.loginTtl);
    x.add("errCnt", i.errCnt);
    x.add("ssb1", i.ssb1);
    x.add("ssb2", i.ssb2);
    x.add("desc", i.description);
    x.add("handle", i.handle);
    out += formatRecord(x);
  }
  for (const auto& ap : s.arrays) {
    const Array& a = ap.second;
    Record x;
    x.kind = "array";
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
    out += formatRecord(x);
    for (const auto& lp : a.ldevs) {
      const Ldev& l = lp.second;
      Record y;
      y.kind = "ldev";
      y.add("serial", a.serial);
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
      out += formatRecord(y);
    }
    for (const auto& pp : a.pools) {
      const Pool& p = pp.second;
      Record y;
      y.kind = "pool";
      y.add("serial", a.serial);
      y.add("id", p.id);
      y.add("name", p.name);
      y.add("status", p.status);
      y.add("usage", p.usage);
      y.add("threshold", p.threshold);
      y.add("pt", p.pt);
      out += formatRecord(y);
    }
    for (const auto& p : a.pairs) {
      Record y;
      y.kind = "pair";
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
      out += formatRecord(y);
    }
    for (const auto& pp : a.ports) {
      const Port& p = pp.second;
      Record y;
      y.kind = "port";
      y.add("serial", a.serial);
      y.add("name", p.name);
      y.add("type", p.type);
      y.add("wwn", p.wwn);
      y.add("logins", encList(p.loginWwns));
      y.add("rsgid", p.rsgid);
      out += formatRecord(y);
      for (const auto& gp : p.hostGroups) {
        const HostGroup& g = gp.second;
        Record z;
        z.kind = "hostgroup";
        z.add("serial", a.serial);
        z.add("port", p.name);
        z.add("gid", g.gid);
        z.add("name", g.name);
        z.add("mode", g.mode);
        z.add("hmo", g.hmoBits);
        z.add("rsgid", g.rsgid);
        std::vector<std::string> w, n;
        for (const auto& x2 : g.wwns) {
          w.push_back(x2.first);
          n.push_back(x2.second);
        }
        z.add("wwns", encList(w));
        z.add("nicks", encList(n));
        out += formatRecord(z);
        for (const auto& lu : g.luns) {
          Record q;
          q.kind = "lun";
          q.add("serial", a.serial);
          q.add("port", p.name);
          q.add("gid", g.gid);
          q.add("lun", lu.first);
          q.add("ldev", lu.second);
          auto io = g.hostIo.find(lu.second);
          if (io != g.hostIo.end()) q.add("hostio", io->second);
          out += formatRecord(q);
        }
      }
    }
    for (const auto& gp : a.resourceGroups) {
      const ResourceGroup& g = gp.second;
      Record y;
      y.kind = "rg";
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
      out += formatRecord(y);
    }
    for (const auto& cp : a.copyGroups) {
      const CopyGroup& g = cp.second;
      Record y;
      y.kind = "copygroup";
      y.add("serial", a.serial);
      y.add("name", g.name);
      y.add("ldevGroup", g.ldevGroup);
      y.add("mu", g.mu);
      y.add("jid", g.jid);
      y.add("ctg", g.ctg);
      y.add("qIssued", g.qIssued);
      y.add("qCommitted", g.qCommitted);
      y.add("commitAfter", g.commitAfterWaits);
      y.add("waits", g.waits);
      y.add("alwaysTimeout", g.alwaysTimeout);
      out += formatRecord(y);
    }
    for (const auto& p : a.remotePairs) {
      Record y;
      y.kind = "rpair";
      y.add("serial", a.serial);
      y.add("ldev", p.ldev);
      y.add("mu", p.mu);
      y.add("role", p.role);
      y.add("status", p.status);
      y.add("fence", p.fence);
      y.add("rcu", p.rcuSerial);
      y.add("partner", p.partner);
      out += formatRecord(y);
    }
  }
  for (const auto& f : s.faults) {
    Record y;
    y.kind = "fault";
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
    out += formatRecord(y);
  }
  return out;
}

bool parseState(const std::string& text, State& s, std::string* error) {
  s = State();
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  auto fail = [&](const std::string& why) {
    if (error) *error = "line " + std::to_string(lineNo) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty() || line[0] == '#') continue;
    Record r;
    if (!parseRecord(line, r)) return fail("not a record");
    const std::string& k = r.kind;
    if (k == "sim") {
      s.tick = r.num("tick");
      s.etcDir = r.str("etcDir", s.etcDir);
      s.hostName = r.str("hostName", s.hostName);
      s.cciVersion = r.str("cciVersion", s.cciVersion);
      s.authScope = r.str("authScope", s.authScope);
      s.errorStream = r.str("errorStream", s.errorStream);
      s.strictHorcm = r.flag("strictHorcm");
      s.undefinedVolAttr = r.flag("undefinedVolAttr");
      s.nextFaultId = static_cast<int>(r.num("nextFaultId", 1));
      s.nextSeq = r.unum("nextSeq", 1);
      continue;
    }
    if (k == "user") {
      s.users[r.str("name")] = r.str("password");
      continue;
    }
    if (k == "cmddev") {
      CommandDevice c;
      c.path = r.str("path");
      c.serial = r.str("serial");
      c.ldev = static_cast<int>(r.num("ldev"));
      s.commandDevices.push_back(c);
      continue;
    }
    if (k == "instance") {
      Instance i;
      i.number = static_cast<int>(r.num("n"));
      i.running = r.flag("running");
      i.serial = r.str("serial");
      i.host = r.str("host");
      i.devices = decList(r.str("devices"));
      i.user = r.str("user");
      i.loggedIn = r.flag("loggedIn");
      i.loginTtl = static_cast<int>(r.num("ttl", -1));
      i.errCnt = static_cast<int>(r.num("errCnt"));
      i.ssb1 = r.str("ssb1", "-");
      i.ssb2 = r.str("ssb2", "-");
      i.description = r.str("desc", "-");
      i.handle = static_cast<int>(r.num("handle", 0xc3));
      s.instances[i.number] = i;
      continue;
    }
    if (k == "fault") {
      Fault f;
      f.id = static_cast<int>(r.num("id"));
      f.kind = r.str("kind");
      f.tool = r.str("tool");
      f.match = r.str("match");
      f.skip = static_cast<int>(r.num("skip"));
      f.times = static_cast<int>(r.num("times", 1));
      f.seen = static_cast<int>(r.num("seen"));
      f.fired = static_cast<int>(r.num("fired"));
      f.exitCode = static_cast<int>(r.num("exit", 1));
      f.out = r.str("out");
      f.err = r.str("err");
      f.applyEffect = r.flag("apply");
      f.errCnt = static_cast<int>(r.num("errCnt", 1));
      f.description = r.str("desc");
      f.hangMillis = static_cast<int>(r.num("hangMs"));
      f.hangBefore = r.flag("before");
      f.garble = r.str("garble");
      s.faults.push_back(f);
      continue;
    }
    if (k == "array") {
      Array a;
      a.serial = r.str("serial");
      a.model = r.str("model", a.model);
      a.maxLdev = static_cast<int>(r.num("maxLdev", a.maxLdev));
      a.micro = r.str("micro", a.micro);
      a.cacheMB = static_cast<int>(r.num("cache", a.cacheMB));
      a.firstSnapMu = static_cast<int>(r.num("firstMu", a.firstSnapMu));
      a.timing.addPolls = static_cast<int>(r.num("addPolls", 0));
      a.timing.resyncPolls = static_cast<int>(r.num("resyncPolls", 2));
      a.timing.restorePolls = static_cast<int>(r.num("restorePolls", 2));
      a.timing.restoreEndsPsue = r.flag("restorePsue");
      s.arrays[a.serial] = a;
      continue;
    }
    Array* a = s.array(r.str("serial"));
    if (!a) return fail("record of an unknown array: " + k);
    if (k == "ldev") {
      Ldev l;
      l.id = static_cast<int>(r.num("id"));
      l.defined = r.flag("defined");
      l.volType = r.str("type", l.volType);
      l.capacity = r.unum("cap");
      l.attrs = decList(r.str("attrs"));
      l.poolId = r.str("pool", "NONE");
      l.label = r.str("label");
      l.rsgid = static_cast<int>(r.num("rsgid"));
      l.vid = static_cast<int>(r.num("vid", kVidImplicit));
      l.mpBlade = static_cast<int>(r.num("mp"));
      a->ldevs[l.id] = l;
    } else if (k == "pool") {
      Pool p;
      p.id = static_cast<int>(r.num("id"));
      p.name = r.str("name");
      p.status = r.str("status", p.status);
      p.usage = static_cast<int>(r.num("usage"));
      p.threshold = static_cast<int>(r.num("threshold", 80));
      p.pt = r.str("pt", p.pt);
      a->pools[p.id] = p;
    } else if (k == "pair") {
      SnapPair p;
      p.group = r.str("group");
      p.ctg = r.flag("ctg");
      p.pvol = static_cast<int>(r.num("pvol"));
      p.mu = static_cast<int>(r.num("mu"));
      p.poolId = static_cast<int>(r.num("pool"));
      p.state = r.str("state", p.state);
      p.svol = static_cast<int>(r.num("svol", -1));
      p.splitTime = r.num("split");
      p.progress = static_cast<int>(r.num("pct", 100));
      p.pendingTo = r.str("pendTo");
      p.pendingLeft = static_cast<int>(r.num("pendLeft"));
      p.seq = r.unum("seq");
      a->pairs.push_back(p);
    } else if (k == "port") {
      Port p;
      p.name = r.str("name");
      p.type = r.str("type", p.type);
      p.wwn = r.str("wwn");
      p.loginWwns = decList(r.str("logins"));
      p.rsgid = static_cast<int>(r.num("rsgid"));
      a->ports[p.name] = p;
    } else if (k == "hostgroup") {
      auto pit = a->ports.find(r.str("port"));
      if (pit == a->ports.end()) return fail("host group of an unknown port");
      HostGroup g;
      g.gid = static_cast<int>(r.num("gid"));
      g.name = r.str("name");
      g.mode = r.str("mode", g.mode);
      g.hmoBits = r.str("hmo", "-");
      g.rsgid = static_cast<int>(r.num("rsgid"));
      std::vector<std::string> w = decList(r.str("wwns")), n = decList(r.str("nicks"));
      for (size_t i = 0; i < w.size(); ++i) g.wwns.emplace_back(w[i], i < n.size() ? n[i] : "-");
      pit->second.hostGroups[g.gid] = g;
    } else if (k == "lun") {
      HostGroup* g = a->hostGroup(r.str("port"), static_cast<int>(r.num("gid")));
      if (!g) return fail("LUN of an unknown host group");
      g->luns[static_cast<int>(r.num("lun"))] = static_cast<int>(r.num("ldev"));
      if (r.has("hostio"))
        g->hostIo[static_cast<int>(r.num("ldev"))] = static_cast<int>(r.num("hostio"));
    } else if (k == "rg") {
      ResourceGroup g;
      g.name = r.str("name");
      g.id = static_cast<int>(r.num("id"));
      g.vSerial = r.str("vserial");
      g.vModel = r.str("vmodel");
      g.vIf = r.str("vif", "Y");
      g.lockStatus = r.str("status", "Unlocked");
      g.lockOwner = r.str("owner", "-");
      g.lockHost = r.str("host", "-");
      g.releaseAfterPolls = static_cast<int>(r.num("release", -1));
      a->resourceGroups[g.name] = g;
    } else if (k == "copygroup") {
      CopyGroup g;
      g.name = r.str("name");
      g.ldevGroup = r.str("ldevGroup");
      g.mu = r.str("mu", g.mu);
      g.jid = r.str("jid", g.jid);
      g.ctg = static_cast<int>(r.num("ctg"));
      g.qIssued = r.unum("qIssued");
      g.qCommitted = r.unum("qCommitted");
      g.commitAfterWaits = static_cast<int>(r.num("commitAfter"));
      g.waits = static_cast<int>(r.num("waits"));
      g.alwaysTimeout = r.flag("alwaysTimeout");
      a->copyGroups[g.name] = g;
    } else if (k == "rpair") {
      RemotePair p;
      p.ldev = static_cast<int>(r.num("ldev"));
      p.mu = static_cast<int>(r.num("mu"));
      p.role = r.str("role", p.role);
      p.status = r.str("status", p.status);
      p.fence = r.str("fence", p.fence);
      p.rcuSerial = r.str("rcu");
      p.partner = r.str("partner");
      a->remotePairs.push_back(p);
    } else {
      return fail("unknown record kind " + k);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
std::string JournalEntry::line() const {
  std::string s;
  for (size_t i = 0; i < argv.size(); ++i) {
    if (i) s += ' ';
    s += argv[i];
  }
  return s;
}

std::vector<JournalEntry> readJournal(const std::string& journalPath) {
  std::vector<JournalEntry> out;
  std::string text;
  if (!readFile(journalPath, text)) return out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    Record r;
    if (!parseRecord(line, r) || r.kind != "call") continue;
    JournalEntry e;
    e.tick = r.num("tick");
    e.tool = r.str("tool");
    e.argv = decList(r.str("argv"));
    e.instance = r.str("inst");
    e.serial = r.str("serial");
    e.exitCode = static_cast<int>(r.num("exit"));
    e.hangMarker = r.flag("hang");
    e.out = r.str("out");
    e.err = r.str("err");
    out.push_back(e);
  }
  return out;
}

}  // namespace ccisim
