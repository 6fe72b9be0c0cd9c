// State model, record text encoding, refusal texts, faults and file helpers.
//
// Record text (the rows of the state database and `ccisim dump`): one record
// per line, "<kind> key=value key=value ...", values percent-encoded (blank,
// tab, line ends, '%', '=', ',' as %XX), lists as "<count>:" followed by the
// items joined by ','. The kinds are listed in ccisim_records.cpp.
#include "sim/ccisim_model.h"
#include "sim/ccisim_internal.h"
#include "sim/ccisim_store.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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
  if (v.find('%') == std::string::npos) return v;
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

const std::string* Record::find(std::string_view k) const {
  for (const auto& p : kv)
    if (p.first == k) return &p.second;
  return nullptr;
}
std::string Record::str(std::string_view k, const std::string& def) const {
  const std::string* v = find(k);
  return v ? *v : def;
}
long long Record::num(std::string_view k, long long def) const {
  const std::string* v = find(k);
  return v ? std::strtoll(v->c_str(), nullptr, 10) : def;
}
uint64_t Record::unum(std::string_view k, uint64_t def) const {
  const std::string* v = find(k);
  return v ? std::strtoull(v->c_str(), nullptr, 10) : def;
}
bool Record::flag(std::string_view k, bool def) const {
  const std::string* v = find(k);
  return v ? *v == "1" : def;
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
  // Words separated by white space, as a stream reads them.
  auto space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  };
  size_t i = 0;
  const size_t n = line.size();
  auto nextWord = [&](size_t& begin, size_t& end) {
    while (i < n && space(line[i])) ++i;
    begin = i;
    while (i < n && !space(line[i])) ++i;
    end = i;
    return end > begin;
  };
  size_t b = 0, e = 0;
  if (!nextWord(b, e)) return false;
  r.kind.assign(line, b, e - b);
  r.kv.reserve(16);
  while (nextWord(b, e)) {
    const size_t eq = line.find('=', b);
    if (eq == std::string::npos || eq >= e) return false;
    r.kv.emplace_back(line.substr(b, eq - b), dec(line.substr(eq + 1, e - eq - 1)));
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

std::vector<std::string> words(const std::string& line) {
  // White space as a stream reads it.
  auto space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  };
  std::vector<std::string> w;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && space(line[i])) ++i;
    const size_t b = i;
    while (i < line.size() && !space(line[i])) ++i;
    if (i > b) w.emplace_back(line, b, i - b);
  }
  return w;
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
  if (!source || !source->fetchLdev(serial, id, l)) {
    l = Ldev();
    l.id = id;
  }
  // Read once per invocation: kept so that a change and the save see it.
  if (source) ldevs.emplace(id, l);
  return l;
}

Ldev& Array::ldevRef(int id) {
  auto it = ldevs.find(id);
  if (it != ldevs.end()) return it->second;
  Ldev l = ldev(id);
  return ldevs.emplace(id, l).first->second;
}

void Array::loadLdevs(int first, int last) const {
  if (source) source->fetchLdevs(serial, first, last < 0 ? maxLdev : last, ldevs);
}

void Array::loadStoredLdevs() const {
  if (source) source->fetchStoredLdevs(serial, ldevs);
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

CommandStatus& State::status(const std::string& user, const std::string& serial) {
  return statuses[statusKey(user, serial)];
}
CommandStatus State::statusOf(const std::string& user, const std::string& serial) const {
  auto it = statuses.find(statusKey(user, serial));
  return it == statuses.end() ? CommandStatus() : it->second;
}
void State::setPassword(const std::string& user, const std::string& password) {
  users[user] = passwordHash(password);
}
bool State::checkPassword(const std::string& user, const std::string& password) const {
  auto it = users.find(user);
  return it != users.end() && passwordMatches(it->second, password);
}
std::string statusKey(const std::string& user, const std::string& serial) {
  return user + "@" + serial;
}

// ---------------------------------------------------------------------------
namespace {
struct RefusalRow {
  Refusal cause;
  const char* ssb;
  const char* text;
};
// SSB pairs as the array reports them; texts as the tools print CAUSE.
const RefusalRow kRefusals[] = {
    {Refusal::kLocked, "0x2E11,0x2205",
     "The specified resource is locked by another user or host."},
    {Refusal::kNotInstalled, "0x2E20,0x0000", "The requested LDEV is not installed."},
    {Refusal::kInputMissing, "0x2E00,0x9701", "The required input for the operation is missing."},
    {Refusal::kPathDefined, "0xB958,0x015A",
     "An LU path has already defined in the relevant LDEV."},
    {Refusal::kLunUsed, "0xB958,0x0947", "The LUN is already used by another LDEV."},
    {Refusal::kHostIo, "0xB958,0x0233", "LU is executing host I/O."},
    {Refusal::kLastSnapshotPath, "0xB958,0x020A", "It is the last path of Snapshot S-VOL."},
    {Refusal::kHostGroupInstalled, "0xB956,0x3173", "The host group is already installed."},
    {Refusal::kOther, "0x2E10,0x0000", "The order was rejected by the array."},
};
}  // namespace

std::string refusalText(const std::string& tool, const std::string& serial, Refusal cause,
                        const std::string& causeText) {
  const RefusalRow* row = &kRefusals[sizeof kRefusals / sizeof kRefusals[0] - 1];
  for (const RefusalRow& r : kRefusals)
    if (r.cause == cause) row = &r;
  return tool + ": [EX_CMDRJE] An order to the control/command device was rejected\n" +
         "It was rejected due to SKEY=0x05, ASC=0x26, ASCQ=0x00, SSB=" + row->ssb + " on Serial#(" +
         serial + ").\n" + "CAUSE : " + (causeText.empty() ? row->text : causeText) + "\n";
}

// ---------------------------------------------------------------------------
Fault Fault::refusal(const std::string& tool, const std::string& match, const std::string& serial,
                     Refusal cause, int times) {
  return fail(tool, match, kExitRejected, refusalText(tool, serial, cause), times);
}

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
Fault Fault::statusReset(const std::string& match) {
  Fault f;
  f.kind = "statusReset";
  f.tool = "raidcom";
  f.match = match;
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
std::string JournalEntry::line() const {
  std::string s;
  for (size_t i = 0; i < argv.size(); ++i) {
    if (i) s += ' ';
    s += argv[i];
  }
  return s;
}

std::vector<JournalEntry> readJournal(const std::string& statePath) {
  std::string why;
  std::unique_ptr<Store> store = Store::open(statePath, false, why);
  return store ? store->journal() : std::vector<JournalEntry>();
}

}  // namespace ccisim
