#include "host/ZRPlatformInfo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "host/CNqFile.h"
#include "host/ZrPaths.h"

namespace {

// The store in file order: sections, each with its keys in order.
struct Store {
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections;

  std::vector<std::pair<std::string, std::string>>* find(const std::string& section) {
    for (auto& s : sections)
      if (s.first == section) return &s.second;
    return nullptr;
  }
  const std::string* get(const std::string& section, const std::string& key) {
    auto* keys = find(section);
    if (keys == nullptr) return nullptr;
    for (auto& kv : *keys)
      if (kv.first == key) return &kv.second;
    return nullptr;
  }
  void set(const std::string& section, const std::string& key, const std::string& value) {
    auto* keys = find(section);
    if (keys == nullptr) {
      sections.emplace_back(section, std::vector<std::pair<std::string, std::string>>());
      keys = &sections.back().second;
    }
    for (auto& kv : *keys)
      if (kv.first == key) {
        kv.second = value;
        return;
      }
    keys->emplace_back(key, value);
  }
  void erase(const std::string& section, const std::string& key) {
    auto* keys = find(section);
    if (keys == nullptr) return;
    for (auto it = keys->begin(); it != keys->end(); ++it)
      if (it->first == key) {
        keys->erase(it);
        return;
      }
  }
};

// Values may hold any text: backslash, line feed and carriage return are
// written as \\, \n and \r so that every entry stays on one line.
std::string escape(const std::string& v) {
  std::string out;
  for (char c : v) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::string unescape(const std::string& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) {
      char n = v[++i];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += v[i];
    }
  }
  return out;
}

Store parse(const std::string& text) {
  Store store;
  std::string section;
  bool inSection = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? text.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      inSection = true;
      if (store.find(section) == nullptr)
        store.sections.emplace_back(section, std::vector<std::pair<std::string, std::string>>());
      continue;
    }
    size_t eq = line.find('=');
    if (!inSection || eq == std::string::npos || eq == 0) continue;  // stray line: ignored
    store.set(section, line.substr(0, eq), unescape(line.substr(eq + 1)));
  }
  return store;
}

std::string render(const Store& store) {
  std::string out;
  for (const auto& s : store.sections) {
    if (s.second.empty()) continue;
    out += "[" + s.first + "]\n";
    for (const auto& kv : s.second) out += kv.first + "=" + escape(kv.second) + "\n";
    out += "\n";
  }
  return out;
}

// The store as the file holds it; a missing file is an empty store. *readable
// (when given) is false when the file exists but could not be read.
Store readStore(bool* readable = nullptr) {
  if (readable != nullptr) *readable = true;
  char* buffer = nullptr;
  size_t length = 0;
  std::string path = ZrPaths::settingsFile();
  CNqError e = CNqFile::ReadWholeFile(path.c_str(), &buffer, &length);
  if (e.IsError()) {
    const FXErrorPrivate* detail = e.GetDetail();
    if (readable != nullptr && (detail == nullptr || detail->sysError != ENOENT)) *readable = false;
    return Store();
  }
  std::string text(buffer, length);
  delete[] buffer;
  return parse(text);
}

bool validName(const char* s) {
  if (s == nullptr || s[0] == '\0') return false;
  for (const char* p = s; *p != '\0'; ++p)
    if (*p == '=' || *p == '[' || *p == ']' || *p == '\n' || *p == '\r') return false;
  return true;
}

void makeDirs(const std::string& dir) {
  for (size_t p = 1; p <= dir.size(); ++p) {
    if (p == dir.size() || dir[p] == '/') ::mkdir(dir.substr(0, p).c_str(), 0755);
  }
}

// Runs change on the current store under the writers' lock and replaces the
// file atomically. 0 on success.
template <class Change>
int updateStore(Change change) {
  const std::string path = ZrPaths::settingsFile();
  size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  makeDirs(dir);
  const std::string lockPath = path + ".lock";
  int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (lockFd < 0) return 1;
  while (::flock(lockFd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(lockFd);
      return 1;
    }
  }
  bool readable = true;
  Store store = readStore(&readable);
  // A store that exists but cannot be read is never replaced: rewriting it
  // from an empty store would drop every other key.
  int rc = 1;
  std::string tmpl = path + ".tmp.XXXXXX";
  std::vector<char> tmpName(tmpl.begin(), tmpl.end());
  tmpName.push_back('\0');
  int fd = readable ? ::mkostemp(tmpName.data(), O_CLOEXEC) : -1;
  if (fd >= 0) {
    change(store);
    const std::string text = render(store);
    bool ok = true;
    size_t done = 0;
    while (ok && done < text.size()) {
      ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0)
        ok = false;
      else
        done += static_cast<size_t>(n);
    }
    ok = ok && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tmpName.data(), path.c_str()) == 0)
      rc = 0;
    else
      ::unlink(tmpName.data());
  }
  ::flock(lockFd, LOCK_UN);
  ::close(lockFd);
  return rc;
}

}  // namespace

int ZRPlatformInfo::getRegInt(const char* section, const char* key, int* value) {
  if (section == nullptr || key == nullptr) return 0;
  Store store = readStore();
  const std::string* v = store.get(section, key);
  if (v == nullptr || v->empty()) return 0;
  errno = 0;
  char* end = nullptr;
  long n = std::strtol(v->c_str(), &end, 10);
  if (errno != 0 || end == v->c_str() || *end != '\0' || n < INT_MIN || n > INT_MAX) return 0;
  if (value != nullptr) *value = static_cast<int>(n);
  return 1;
}

int ZRPlatformInfo::getNumber(const char* section, const char* key, unsigned long* value) {
  if (section == nullptr || key == nullptr) return 0;
  Store store = readStore();
  const std::string* v = store.get(section, key);
  if (v == nullptr || v->empty() || (*v)[0] == '-') return 0;
  errno = 0;
  char* end = nullptr;
  unsigned long n = std::strtoul(v->c_str(), &end, 10);
  if (errno != 0 || end == v->c_str() || *end != '\0') return 0;
  if (value != nullptr) *value = n;
  return 1;
}

int ZRPlatformInfo::getString(const char* section, const char* key, std::string* value) {
  if (section == nullptr || key == nullptr) return 0;
  Store store = readStore();
  const std::string* v = store.get(section, key);
  if (v == nullptr) return 0;
  if (value != nullptr) *value = *v;
  return 1;
}

int ZRPlatformInfo::getString(const char* section, const char* key, char* buffer, int size) {
  std::string v;
  if (!getString(section, key, &v)) return 0;
  if (buffer == nullptr || size < 1) return 1;
  size_t n = v.size() < static_cast<size_t>(size - 1) ? v.size() : static_cast<size_t>(size - 1);
  std::memcpy(buffer, v.data(), n);
  buffer[n] = '\0';
  return 1;
}

int ZRPlatformInfo::setRegInt(const char* section, const char* key, int value) {
  return setRegString(section, key, std::to_string(value).c_str());
}

int ZRPlatformInfo::setRegString(const char* section, const char* key, const char* value) {
  if (!validName(section) || !validName(key) || value == nullptr) return 1;
  const std::string s(section), k(key), v(value);
  return updateStore([&](Store& store) { store.set(s, k, v); });
}

int ZRPlatformInfo::deleteKey(const char* section, const char* key) {
  if (!validName(section) || !validName(key)) return 1;
  const std::string s(section), k(key);
  return updateStore([&](Store& store) { store.erase(s, k); });
}

int ZRPlatformInfo::getClientHostName(const char* clientName, std::string& hostName) {
  if (clientName == nullptr || clientName[0] == '\0') return 0;
  char name[256] = {0};
  if (::gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') return 0;
  hostName = name;
  return 1;
}
