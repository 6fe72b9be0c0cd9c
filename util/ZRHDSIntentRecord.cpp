#include "util/ZRHDSIntentRecord.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>

#include "host/ZrPaths.h"
#include "host/ZrSafeFile.h"

namespace {

const char kHeader[] = "zrintent 1";
const char kSuffix[] = ".intent";
const char kTemporaryMark[] = ".intent.tmp.";
const char kAsideSuffix[] = ".intent.aside";
const char kHostGroupSeparator = ',';
// The host-group field of an S-VOL line begins so: a blank that slipped
// into an earlier field cannot pass for it.
const char kHostGroupMark[] = "hg:";
// The last field of an entry the job handed to the host as it ended ('*'
// is no byte a field is written with, so no field reads as it).
const char kStoredMark[] = "*stored";
// The last field of an S-VOL entry whose add the array accepted (before
// "*stored"), and the line markMade appends after "end" for it.
const char kMadeMark[] = "*made";
const char kMadeLine[] = "made";
const char kDirectoryWhat[] = "intent directory";
// A record is a few lines per device; anything far larger is not ours.
constexpr size_t kMaxRecordBytes = 1 << 20;

bool plainByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == ':' || c == '/' || c == '-' || c == '+' || c == ',' || c == '=' ||
         c == '@';
}

// One field of a line: no blank, "-" for an empty text.
std::string encode(const std::string& text) {
  if (text.empty()) return "-";
  if (text == "-") return "%2D";
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (plainByte(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The text of one field; false for a field that encode never writes (a
// blank-free text of plain bytes and %XX escapes of no control byte).
bool decode(const std::string& field, std::string& out) {
  out.clear();
  if (field == "-") return true;
  for (size_t i = 0; i < field.size(); ++i) {
    const char c = field[i];
    if (c != '%') {
      if (!plainByte(static_cast<unsigned char>(c))) return false;
      out += c;
      continue;
    }
    if (i + 2 >= field.size()) return false;
    const int hi = hexValue(field[i + 1]);
    const int lo = hexValue(field[i + 2]);
    const int value = hi * 16 + lo;
    if (hi < 0 || lo < 0 || value < 0x20 || value == 0x7F) return false;
    out += static_cast<char>(value);
    i += 2;
  }
  return !out.empty();
}

bool isDecimal(const std::string& text) {
  return !text.empty() && text.size() <= 20 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// "" or decimal: an MU the array has not given yet is empty.
bool isOptionalDecimal(const std::string& text) { return text.empty() || isDecimal(text); }

std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  std::string f;
  while (in >> f) out.push_back(f);
  return out;
}

// Decodes fields [first, fields.size()) into out; false for a bad field.
bool decodeAll(const std::vector<std::string>& fields, size_t first,
               std::vector<std::string>& out) {
  out.clear();
  for (size_t i = first; i < fields.size(); ++i) {
    std::string value;
    if (!decode(fields[i], value)) return false;
    out.push_back(value);
  }
  return true;
}

// "hg:<port>-<GID>,..." ("hg:" for none); false for anything else.
bool splitHostGroups(const std::string& field, std::vector<std::string>& out) {
  out.clear();
  const size_t mark = sizeof(kHostGroupMark) - 1;
  if (field.compare(0, mark, kHostGroupMark) != 0) return false;
  const std::string text = field.substr(mark);
  if (text.empty()) return true;
  size_t start = 0;
  for (;;) {
    const size_t cut = text.find(kHostGroupSeparator, start);
    const std::string item = text.substr(start, cut == std::string::npos ? cut : cut - start);
    if (item.empty()) return false;
    out.push_back(item);
    if (cut == std::string::npos) return true;
    start = cut + 1;
  }
}

std::string joinHostGroups(const std::vector<std::string>& groups) {
  std::string out;
  for (const std::string& g : groups) {
    if (!out.empty()) out += kHostGroupSeparator;
    out += g;
  }
  return kHostGroupMark + out;
}

bool readLine(const std::string& word, const std::vector<std::string>& v, ZRHDSIntentRecord& r,
              bool& kindSeen, std::string& why) {
  if (word == "array" && v.size() == 1 && isDecimal(v[0])) {
    r.serial = v[0];
  } else if (word == "resource_group" && v.size() == 1) {
    r.resourceGroup = v[0];
  } else if (word == "job" && v.size() == 3 && isDecimal(v[0]) && isDecimal(v[1])) {
    r.job.pid = std::strtol(v[0].c_str(), nullptr, 10);
    r.job.startTime = std::strtoull(v[1].c_str(), nullptr, 10);
    r.job.bootId = v[2];
  } else if (word == "kind" && v.size() == 1 && (v[0] == "group" || v[0] == "svols")) {
    r.kind = v[0] == "group" ? ZRHDSIntentRecord::Kind::kGroup : ZRHDSIntentRecord::Kind::kSvols;
    kindSeen = true;
  } else if (word == "group" && v.size() == 2 && !v[0].empty() && (v[1] == "0" || v[1] == "1")) {
    r.group = v[0];
    r.reused = v[1] == "1";
  } else if (word == "existing" && v.size() == 1 && !v[0].empty()) {
    r.existingKeys.push_back(v[0]);
  } else if (word == "pvol" && v.size() == 3 && isDecimal(v[0]) && isOptionalDecimal(v[1])) {
    ZRHDSIntentEntry e;
    e.pvol = v[0];
    e.mu = v[1];
    e.device = v[2];
    r.entries.push_back(e);
  } else if (word == "svol" && (v.size() == 6 || v.size() == 7) && isDecimal(v[0]) &&
             isDecimal(v[1]) && isDecimal(v[2]) && isOptionalDecimal(v[3])) {
    ZRHDSIntentEntry e;
    e.ldev = v[0];
    e.capacity = std::strtoull(v[1].c_str(), nullptr, 10);
    e.pvol = v[2];
    e.mu = v[3];
    e.label = v[4];
    e.device = v[5];
    e.hostGroupsRecorded = v.size() == 7;
    if (e.hostGroupsRecorded && !splitHostGroups(v[6], e.hostGroups)) {
      why = "unreadable host groups";
      return false;
    }
    r.entries.push_back(e);
  } else {
    why = "unexpected line '" + word + "'";
    return false;
  }
  return true;
}

// The checks that make a record usable as a whole.
bool wellFormed(const ZRHDSIntentRecord& r, std::string& why) {
  if (r.serial.empty() || r.job.pid <= 0 || r.entries.empty()) {
    why = "array, job or entries missing";
    return false;
  }
  const bool group = r.kind == ZRHDSIntentRecord::Kind::kGroup;
  for (const ZRHDSIntentEntry& e : r.entries) {
    if (group != e.ldev.empty()) {
      why = "entries of another kind";
      return false;
    }
  }
  if (group == r.group.empty() || (!group && (r.reused || !r.existingKeys.empty()))) {
    why = "group fields do not fit the kind";
    return false;
  }
  return true;
}

// "made <LDEV>" after the end: the mark of an S-VOL entry of the record.
bool readMadeLine(const std::vector<std::string>& fields, ZRHDSIntentRecord& r,
                  std::string& why) {
  if (fields.size() == 2 && fields[0] == kMadeLine) {
    for (ZRHDSIntentEntry& e : r.entries) {
      if (e.ldev.empty() || e.ldev != fields[1]) continue;
      e.made = true;
      return true;
    }
  }
  why = "text after the end";
  return false;
}

std::string randomToken() {
  static thread_local std::mt19937_64 gen(std::random_device{}() ^
                                          (static_cast<uint64_t>(::getpid()) << 32));
  char buf[20];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(gen()));
  return buf;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// "<pid>_<start>": the writer tag of this process's temporary files.
std::string ownWriterTag(const ZRHDSProcessIdentity& self) {
  return std::to_string(self.pid) + "_" + std::to_string(self.startTime);
}

// "<pid>_<start>" at the start of text, ended by "_", "." or the text's end.
bool identityAt(const std::string& text, ZRHDSProcessIdentity& writer) {
  const size_t cut = text.find('_');
  if (cut == std::string::npos) return false;
  const size_t end = text.find_first_of("_.", cut + 1);
  const std::string pid = text.substr(0, cut);
  const std::string start =
      text.substr(cut + 1, end == std::string::npos ? std::string::npos : end - cut - 1);
  if (!isDecimal(pid) || !isDecimal(start)) return false;
  writer.pid = std::strtol(pid.c_str(), nullptr, 10);
  writer.startTime = std::strtoull(start.c_str(), nullptr, 10);
  writer.bootId = ZRHDSProcessIdentity::currentBootId();
  return true;
}

// The writer of a temporary file: the tag after the temporary mark
// ("...intent.tmp.<pid>_<start>.XXXXXX"). A file without a tag (written
// before temporary files named their writer) is judged by the record's
// name "<serial>_<pid>_<start>_<token>.intent.tmp.XXXXXX".
bool writerOf(const std::string& name, size_t prefixLength, ZRHDSProcessIdentity& writer) {
  const std::string tail = name.substr(name.find(kTemporaryMark) + sizeof(kTemporaryMark) - 1);
  if (tail.find('.') != std::string::npos) return identityAt(tail, writer);
  return identityAt(name.substr(prefixLength), writer);
}

}  // namespace

std::string ZRHDSIntentRecord::text() const {
  const bool group = kind == Kind::kGroup;
  std::string out = std::string(kHeader) + "\n";
  out += "array " + encode(serial) + "\n";
  out += "resource_group " + encode(resourceGroup) + "\n";
  out += "job " + std::to_string(job.pid) + " " + std::to_string(job.startTime) + " " +
         encode(job.bootId) + "\n";
  out += std::string("kind ") + (group ? "group" : "svols") + "\n";
  if (group) {
    out += "group " + encode(this->group) + " " + (reused ? "1" : "0") + "\n";
    for (const std::string& key : existingKeys) out += "existing " + encode(key) + "\n";
  }
  for (const ZRHDSIntentEntry& e : entries) {
    if (group) {
      out += "pvol " + encode(e.pvol) + " " + encode(e.mu) + " " + encode(e.device);
    } else {
      out += "svol " + encode(e.ldev) + " " + std::to_string(e.capacity) + " " + encode(e.pvol) +
             " " + encode(e.mu) + " " + encode(e.label) + " " + encode(e.device);
      if (e.hostGroupsRecorded) out += " " + encode(joinHostGroups(e.hostGroups));
      if (e.made) out += std::string(" ") + kMadeMark;
    }
    if (e.stored) out += std::string(" ") + kStoredMark;
    out += "\n";
  }
  return out + "end\n";
}

bool ZRHDSIntentRecord::parse(const std::string& text, ZRHDSIntentRecord& out, std::string* why) {
  ZRHDSIntentRecord r;
  std::string reason;
  std::istringstream in(text);
  std::string line;
  bool header = false, kindSeen = false, ended = false;
  while (std::getline(in, line)) {
    if (ended) {
      // A mark cut short by a crash while it was appended was not written.
      if (in.eof() && text.back() != '\n') break;
      if (!readMadeLine(fieldsOf(line), r, reason)) break;
      continue;
    }
    if (!header) {
      header = line == kHeader;
      if (!header) {
        reason = "not a record";
        break;
      }
      continue;
    }
    if (line == "end") {
      ended = true;
      continue;
    }
    std::vector<std::string> fields = fieldsOf(line);
    const bool stored = fields.size() > 1 && fields.back() == kStoredMark &&
                        (fields[0] == "pvol" || fields[0] == "svol");
    if (stored) fields.pop_back();
    const bool made = fields.size() > 1 && fields.back() == kMadeMark && fields[0] == "svol";
    if (made) fields.pop_back();
    std::vector<std::string> values;
    if (fields.empty() || !decodeAll(fields, 1, values)) {
      reason = "unreadable line";
      break;
    }
    if (!readLine(fields[0], values, r, kindSeen, reason)) break;
    if (stored) r.entries.back().stored = true;
    if (made) r.entries.back().made = true;
  }
  if (reason.empty() && (!ended || !kindSeen)) reason = "cut short";
  if (reason.empty()) wellFormed(r, reason);
  if (!reason.empty()) {
    if (why != nullptr) *why = reason;
    return false;
  }
  out = r;
  return true;
}

namespace {

// The work of this thread's outermost call scope (null: no call).
thread_local std::vector<std::function<void()>>* t_callEndWork = nullptr;

}  // namespace

ZRHDSIntentCallScope::ZRHDSIntentCallScope() : m_bOutermost(t_callEndWork == nullptr) {
  if (m_bOutermost) t_callEndWork = &m_work;
}

ZRHDSIntentCallScope::~ZRHDSIntentCallScope() {
  if (!m_bOutermost) return;
  t_callEndWork = nullptr;
  for (std::function<void()>& work : m_work) work();
}

void ZRHDSIntentCallScope::atCallEnd(std::function<void()> work) {
  if (t_callEndWork != nullptr) {
    t_callEndWork->push_back(std::move(work));
  } else {
    work();
  }
}

ZRHDSIntentStore::ZRHDSIntentStore(std::string dir, Liveness live)
    : m_sDir(std::move(dir)), m_fLive(std::move(live)) {}

std::string ZRHDSIntentStore::directory() const {
  return m_sDir.empty() ? ZrPaths::intentDir() : m_sDir;
}

bool ZRHDSIntentStore::save(ZRHDSIntentRecord& record, std::string* error) {
  const std::string dir = directory();
  const std::string problem = ZrSafeFile::privateDirectoryProblem(dir, kDirectoryWhat);
  if (!problem.empty()) {
    if (error != nullptr) *error = problem;
    return false;
  }
  if (record.job.pid <= 0 || record.job.startTime == 0) {
    if (error != nullptr) *error = "the job's process start time is not known";
    return false;
  }
  std::string path = record.path;
  if (path.empty()) {
    path = dir + "/" + ZrPaths::safeFileName(record.serial) + "_" + std::to_string(record.job.pid) +
           "_" + std::to_string(record.job.startTime) + "_" + randomToken() + kSuffix;
  }
  if (!ZrSafeFile::replaceAtomically(path, record.text(), 0600, error,
                                     ZrSafeFile::Durability::kDurable,
                                     ownWriterTag(ZRHDSProcessIdentity::own()))) {
    return false;
  }
  record.path = path;
  return true;
}

bool ZRHDSIntentStore::handOver(ZRHDSIntentRecord& record, const std::vector<bool>& stored,
                                const std::vector<bool>& gone, std::string* error) {
  ZRHDSIntentRecord marked = record, rest = record;
  marked.entries.clear();
  rest.entries.clear();
  for (size_t k = 0; k < record.entries.size(); ++k) {
    ZRHDSIntentEntry e = record.entries[k];
    const bool isStored = k < stored.size() && stored[k];
    if (!isStored && k < gone.size() && gone[k]) continue;
    e.stored = e.stored || isStored;
    marked.entries.push_back(e);
    if (!e.stored) rest.entries.push_back(e);
  }
  if (rest.entries.size() == record.entries.size()) return true;
  const bool anyStored = marked.entries.size() > rest.entries.size();
  if (!anyStored) {  // only gone entries: nothing the host keeps is at stake
    if (rest.entries.empty() ? !remove(record, error) : !save(rest, error)) return false;
    record.entries = rest.entries;
    return true;
  }
  if (!save(marked, error)) return false;
  record.entries = marked.entries;
  std::string ignored;
  if (rest.entries.empty()) {
    if (::unlink(record.path.c_str()) != 0 && errno != ENOENT) return true;  // stays marked
  } else if (!ZrSafeFile::replaceAtomically(record.path, rest.text(), 0600, &ignored,
                                            ZrSafeFile::Durability::kAtomicOnly,
                                            ownWriterTag(ZRHDSProcessIdentity::own()))) {
    return true;  // stays marked
  }
  record.entries = rest.entries;
  return true;
}

bool ZRHDSIntentStore::markMade(ZRHDSIntentRecord& record, size_t k, std::string* error) {
  if (record.path.empty() || k >= record.entries.size() || record.entries[k].ldev.empty()) {
    if (error != nullptr) *error = "no saved S-VOL entry to mark";
    return false;
  }
  const std::string line = std::string(kMadeLine) + " " + record.entries[k].ldev + "\n";
  if (!ZrSafeFile::appendDurably(record.path, line, error)) return false;
  record.entries[k].made = true;
  return true;
}

bool ZRHDSIntentStore::remove(const ZRHDSIntentRecord& record, std::string* error) {
  if (record.path.empty()) return true;
  return ZrSafeFile::removeDurably(record.path, error);
}

bool ZRHDSIntentStore::setAside(const ZRHDSIntentRecord& record, std::string* error) {
  if (record.path.empty() || !endsWith(record.path, kSuffix)) return true;
  const std::string aside =
      record.path.substr(0, record.path.size() - (sizeof(kSuffix) - 1)) + kAsideSuffix;
  if (::rename(record.path.c_str(), aside.c_str()) != 0) {
    if (errno == ENOENT) return true;
    if (error != nullptr) {
      *error = std::string("rename ") + record.path + ": " + std::strerror(errno);
    }
    return false;
  }
  // Recovery no longer sees it; the flush only keeps a crash of the
  // machine from bringing it back.
  std::string ignored;
  const size_t slash = aside.rfind('/');
  if (slash != std::string::npos) ZrSafeFile::flushDirectory(aside.substr(0, slash), &ignored);
  return true;
}

bool ZRHDSIntentStore::reload(ZRHDSIntentRecord& record, std::string* error) const {
  std::string text, why;
  bool missing = false;
  if (error != nullptr) error->clear();
  if (!ZrSafeFile::readRegular(record.path, &text, kMaxRecordBytes, &why, &missing)) {
    if (!missing && error != nullptr) *error = why;
    return false;
  }
  ZRHDSIntentRecord read;
  if (!ZRHDSIntentRecord::parse(text, read, &why)) {
    if (error != nullptr) *error = record.path + ": " + why;
    return false;
  }
  read.path = record.path;
  record = read;
  return true;
}

bool ZRHDSIntentStore::list(const std::string& serial, std::vector<ZRHDSIntentRecord>& out,
                            std::vector<std::string>* unreadable, std::string* error,
                            std::vector<std::string>* setAside) const {
  out.clear();
  const std::string dir = directory();
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return true;  // nothing recorded yet
  ::closedir(d);
  const std::string problem = ZrSafeFile::privateDirectoryProblem(dir, kDirectoryWhat);
  if (!problem.empty()) {
    if (error != nullptr) *error = problem;
    return false;
  }
  const std::string prefix = ZrPaths::safeFileName(serial) + "_";
  std::vector<std::string> names;
  d = ::opendir(dir.c_str());
  if (d == nullptr) return true;
  while (struct dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    ZRHDSProcessIdentity writer;
    if (name.find(kTemporaryMark) != std::string::npos) {
      // A writer that died between creating and renaming its file.
      if (writerOf(name, prefix.size(), writer) && !writer.isLive()) {
        ::unlink((dir + "/" + name).c_str());
      }
      continue;
    }
    if (endsWith(name, kAsideSuffix)) {
      if (setAside != nullptr) setAside->push_back(dir + "/" + name);
      continue;
    }
    if (!endsWith(name, kSuffix)) continue;
    ZRHDSIntentRecord record;
    record.path = dir + "/" + name;
    std::string why;
    if (!reload(record, &why)) {
      // Gone meanwhile (another job recovered it), or not a record.
      if (!why.empty() && unreadable != nullptr) unreadable->push_back(why);
      continue;
    }
    if (record.serial != serial) {
      if (unreadable != nullptr) unreadable->push_back(record.path + ": a record of another array");
      continue;
    }
    out.push_back(record);
  }
  return true;
}

bool ZRHDSIntentStore::isDead(const ZRHDSIntentRecord& record) const {
  return m_fLive ? !m_fLive(record.job) : !record.job.isLive();
}
