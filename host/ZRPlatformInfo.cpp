#include "host/ZRPlatformInfo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <memory>
#include <random>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/ZrClock.h"
#include "host/ZrPaths.h"
#include "host/ZrSafeFile.h"

namespace {

// The writers' lock is tried like a named lock: attempts of 5 s each, 50 by
// default, polling on the replaceable clock.
constexpr int kWriterLockAttempts = 50;
constexpr int64_t kWriterLockAttemptMillis = 5000;
// A store is a few KiB; anything far larger is not ours to parse.
constexpr size_t kMaxStoreBytes = 64u << 20;

// The store in file order: sections, each with its keys in order, plus
// indexes so that parsing and lookups stay linear in the store's size.
struct Section {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;
  std::unordered_map<std::string, size_t> index;
};

struct Store {
  std::vector<Section> sections;
  std::unordered_map<std::string, size_t> index;

  Section* find(const std::string& section) {
    auto it = index.find(section);
    return it == index.end() ? nullptr : &sections[it->second];
  }
  Section& add(const std::string& section) {
    auto it = index.find(section);
    if (it != index.end()) return sections[it->second];
    index.emplace(section, sections.size());
    sections.emplace_back();
    sections.back().name = section;
    return sections.back();
  }
  const std::string* get(const std::string& section, const std::string& key) const {
    auto s = index.find(section);
    if (s == index.end()) return nullptr;
    const Section& sec = sections[s->second];
    auto k = sec.index.find(key);
    return k == sec.index.end() ? nullptr : &sec.keys[k->second].second;
  }
  void set(const std::string& section, const std::string& key, const std::string& value) {
    Section& sec = add(section);
    auto k = sec.index.find(key);
    if (k != sec.index.end()) {
      sec.keys[k->second].second = value;
      return;
    }
    sec.index.emplace(key, sec.keys.size());
    sec.keys.emplace_back(key, value);
  }
  void erase(const std::string& section, const std::string& key) {
    Section* sec = find(section);
    if (sec == nullptr) return;
    auto k = sec->index.find(key);
    if (k == sec->index.end()) return;
    sec->keys.erase(sec->keys.begin() + static_cast<long>(k->second));
    sec->index.clear();
    for (size_t i = 0; i < sec->keys.size(); ++i) sec->index.emplace(sec->keys[i].first, i);
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

// onlySection/onlyKey (both or neither): keep that one entry and skip every
// other line without copying it (a reader of one key in a store that no
// writer made, which is not cached).
Store parse(const std::string& text, const std::string* onlySection = nullptr,
            const std::string* onlyKey = nullptr) {
  Store store;
  std::string section;
  bool inSection = false;
  std::string_view all(text);
  size_t pos = 0;
  while (pos < all.size()) {
    size_t nl = all.find('\n', pos);
    if (nl == std::string_view::npos) nl = all.size();
    std::string_view line = all.substr(pos, nl - pos);
    pos = nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[' && line.back() == ']') {
      const std::string_view name = line.substr(1, line.size() - 2);
      inSection = onlySection == nullptr || name == *onlySection;
      if (inSection) {
        section.assign(name);
        store.add(section);
      }
      continue;
    }
    if (onlyKey != nullptr && (line.size() <= onlyKey->size() || line[onlyKey->size()] != '=' ||
                               line.compare(0, onlyKey->size(), *onlyKey) != 0)) {
      continue;
    }
    size_t eq = line.find('=');
    if (!inSection || eq == std::string_view::npos || eq == 0) continue;  // stray line
    std::string_view value = line.substr(eq + 1);
    store.set(section, std::string(line.substr(0, eq)),
              value.find('\\') == std::string_view::npos ? std::string(value)
                                                         : unescape(std::string(value)));
  }
  return store;
}

// Every store a writer makes begins with this marker and a random number,
// new for every write: with the file's identity it tells a reader that the
// store it parsed last is still the one on disk (inode numbers are reused).
const char kGenerationMark[] = "#generation ";

std::string newGeneration() {
  static std::mutex mu;
  static std::mt19937_64 gen(std::random_device{}());
  std::lock_guard<std::mutex> g(mu);
  char text[40];
  std::snprintf(text, sizeof(text), "%s%016llx\n", kGenerationMark,
                static_cast<unsigned long long>(gen()));
  return text;
}

std::string render(const Store& store) {
  std::string out = newGeneration();
  for (const Section& s : store.sections) {
    if (s.keys.empty()) continue;
    out += "[" + s.name + "]\n";
    for (const auto& kv : s.keys) out += kv.first + "=" + escape(kv.second) + "\n";
    out += "\n";
  }
  return out;
}

// The last store read in this process and the identity of the file it came
// from: a store replaced by a writer is a new file (rename), so an unchanged
// identity means unchanged content.
struct StoreCache {
  std::mutex mu;
  bool valid = false;
  std::string path;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime = {0, 0};
  std::string generation;
  std::shared_ptr<const Store> store;
};
StoreCache& storeCache() {
  static StoreCache c;
  return c;
}

// The store as the file holds it; a missing file is an empty store. *readable
// (when given) is false when the file exists but could not be read, or is
// not a regular file (a symbolic link at the store's path is refused, never
// followed).
std::shared_ptr<const Store> readStore(bool* readable = nullptr, bool useCache = true,
                                       const std::string* onlySection = nullptr,
                                       const std::string* onlyKey = nullptr) {
  if (readable != nullptr) *readable = true;
  const std::string path = ZrPaths::settingsFile();
  std::string why;
  int fd = ZrSafeFile::openRegular(path, O_RDONLY, 0, &why);
  if (fd < 0) {
    if (readable != nullptr && errno != ENOENT) *readable = false;
    return std::make_shared<const Store>();
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    if (readable != nullptr) *readable = false;
    return std::make_shared<const Store>();
  }
  StoreCache& cache = storeCache();
  char head[40] = {0};
  ssize_t headLength = ::pread(fd, head, sizeof(head) - 1, 0);
  std::string generation;
  if (headLength > 0 && std::strncmp(head, kGenerationMark, sizeof(kGenerationMark) - 1) == 0) {
    generation.assign(head, static_cast<size_t>(headLength));
    generation = generation.substr(0, generation.find('\n'));
  }
  if (useCache && !generation.empty()) {
    std::lock_guard<std::mutex> g(cache.mu);
    if (cache.valid && cache.path == path && cache.dev == st.st_dev && cache.ino == st.st_ino &&
        cache.size == st.st_size && cache.mtime.tv_sec == st.st_mtim.tv_sec &&
        cache.mtime.tv_nsec == st.st_mtim.tv_nsec && cache.generation == generation) {
      ::close(fd);
      return cache.store;
    }
  }
  std::string text;
  bool ok = static_cast<unsigned long long>(st.st_size) <= kMaxStoreBytes;
  if (ok) {
    text.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof(buf));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || text.size() + static_cast<size_t>(n > 0 ? n : 0) > kMaxStoreBytes) ok = false;
      if (n <= 0 || !ok) break;
      text.append(buf, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  if (!ok) {
    if (readable != nullptr) *readable = false;
    return std::make_shared<const Store>();
  }
  if (generation.empty() && onlyKey != nullptr) {
    // Not a writer's store (edited by hand): never cached, so read only
    // what was asked for.
    return std::make_shared<const Store>(parse(text, onlySection, onlyKey));
  }
  auto store = std::make_shared<const Store>(parse(text));
  std::lock_guard<std::mutex> g(cache.mu);
  cache.valid = true;
  cache.path = path;
  cache.dev = st.st_dev;
  cache.ino = st.st_ino;
  cache.size = st.st_size;
  cache.mtime = st.st_mtim;
  cache.generation = generation;
  cache.store = store;
  return store;
}

bool validName(const char* s) {
  if (s == nullptr || s[0] == '\0') return false;
  for (const char* p = s; *p != '\0'; ++p)
    if (*p == '=' || *p == '[' || *p == ']' || *p == '\n' || *p == '\r') return false;
  return true;
}

// Takes the writers' lock on fd within the attempts; false when another
// writer kept it the whole time (a stopped writer never blocks for good).
bool lockWriters(int fd) {
  ZrClock& clock = ZrClock::get();
  const int64_t deadline = clock.monotonicMillis() + kWriterLockAttempts * kWriterLockAttemptMillis;
  int64_t step = 1;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    const int64_t left = deadline - clock.monotonicMillis();
    if (left <= 0) return false;
    clock.sleepMillis(step < left ? step : left);
    if (step < 50) step *= 2;
  }
}

// Runs change on the current store under the writers' lock and replaces the
// file atomically. 0 on success.
template <class Change>
int updateStore(Change change) {
  const std::string path = ZrPaths::settingsFile();
  size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  ZrSafeFile::makeDirectories(dir, 0755);
  const std::string lockPath = path + ".lock";
  std::string why;
  int lockFd = ZrSafeFile::openRegular(lockPath, O_RDWR | O_CREAT, 0600, &why);
  if (lockFd < 0) return 1;
  if (!lockWriters(lockFd)) {
    ::close(lockFd);
    return 1;
  }
  // Only the lock holder writes temporaries: any left are a dead writer's.
  ZrSafeFile::removeStaleTemporaries(path);
  bool readable = true;
  std::shared_ptr<const Store> current = readStore(&readable, false);
  // A store that exists but cannot be read is never replaced: rewriting it
  // from an empty store would drop every other key.
  int rc = 1;
  if (readable) {
    Store store = *current;
    change(store);
    // The store holds the login and lock counts: a crash of the machine
    // must find the old store or the new one, never an empty file.
    if (ZrSafeFile::replaceAtomically(path, render(store), 0644, &why,
                                      ZrSafeFile::Durability::kDurable))
      rc = 0;
  }
  ::flock(lockFd, LOCK_UN);
  ::close(lockFd);
  return rc;
}

}  // namespace

int ZRPlatformInfo::getRegInt(const char* section, const char* key, int* value) {
  if (section == nullptr || key == nullptr) return 0;
  const std::string s(section), k(key);
  std::shared_ptr<const Store> store = readStore(nullptr, true, &s, &k);
  const std::string* v = store->get(section, key);
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
  const std::string s(section), k(key);
  std::shared_ptr<const Store> store = readStore(nullptr, true, &s, &k);
  const std::string* v = store->get(section, key);
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
  const std::string s(section), k(key);
  std::shared_ptr<const Store> store = readStore(nullptr, true, &s, &k);
  const std::string* v = store->get(section, key);
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
