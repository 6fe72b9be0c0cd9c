#include "testhost/ZrArrayReport.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <map>
#include <set>

#include "host/ZRPlatformInfo.h"
#include "host/ZrPaths.h"

namespace {

const char kSvolLabelPrefix[] = "QB_SVOL_";
const char kLoginCountPrefix[] = "sZRHDSRaidcomLockCount_";
const int kMetadataRemoteMessage = 60;
const int kMetadataRemoteMessageId = 61;

bool isSvol(const ccisim::Ldev& l) {
  return l.defined && l.label.compare(0, sizeof(kSvolLabelPrefix) - 1, kSvolLabelPrefix) == 0;
}

std::string pairText(const ccisim::SnapPair& p) {
  std::string t = p.state;
  if (p.svol >= 0) t += ", S-VOL " + std::to_string(p.svol);
  return t;
}

// Every LU path of an array: "CL1-A-1 LUN 0" -> LDEV.
std::map<std::string, int> lunPaths(const ccisim::Array& a) {
  std::map<std::string, int> out;
  for (const auto& p : a.ports) {
    for (const auto& g : p.second.hostGroups) {
      for (const auto& l : g.second.luns) {
        out[p.first + "-" + std::to_string(g.first) + " (" + g.second.name + ") LUN " +
            std::to_string(l.first)] = l.second;
      }
    }
  }
  return out;
}

void diffPairs(const std::string& serial, const ccisim::Array* a, const ccisim::Array* b,
               std::vector<std::string>& out) {
  std::map<std::string, const ccisim::SnapPair*> before, after;
  std::set<std::string> groupsBefore, groupsAfter;
  auto key = [](const ccisim::SnapPair& p) {
    return "LDEV " + std::to_string(p.pvol) + " MU " + std::to_string(p.mu);
  };
  if (a != nullptr)
    for (const auto& p : a->pairs) before[key(p)] = &p, groupsBefore.insert(p.group);
  if (b != nullptr)
    for (const auto& p : b->pairs) after[key(p)] = &p, groupsAfter.insert(p.group);
  for (const std::string& g : groupsAfter)
    if (groupsBefore.count(g) == 0) out.push_back(serial + ": snapshot group " + g + " created");
  for (const std::string& g : groupsBefore)
    if (groupsAfter.count(g) == 0) out.push_back(serial + ": snapshot group " + g + " gone");
  for (const auto& kv : after) {
    auto it = before.find(kv.first);
    if (it == before.end()) {
      out.push_back(serial + ": pair " + kv.first + " added to " + kv.second->group + " (" +
                    pairText(*kv.second) + ")");
    } else if (pairText(*it->second) != pairText(*kv.second)) {
      out.push_back(serial + ": pair " + kv.first + " " + pairText(*it->second) + " -> " +
                    pairText(*kv.second));
    }
  }
  for (const auto& kv : before) {
    if (after.count(kv.first) == 0) out.push_back(serial + ": pair " + kv.first + " deleted");
  }
}

void diffLdevs(const std::string& serial, const ccisim::Array* a, const ccisim::Array* b,
               std::vector<std::string>& out) {
  std::set<int> ids;
  if (a != nullptr)
    for (const auto& kv : a->ldevs) ids.insert(kv.first);
  if (b != nullptr)
    for (const auto& kv : b->ldevs) ids.insert(kv.first);
  for (int id : ids) {
    const ccisim::Ldev x = a != nullptr ? a->ldev(id) : ccisim::Ldev();
    const ccisim::Ldev y = b != nullptr ? b->ldev(id) : ccisim::Ldev();
    const std::string name = serial + ": LDEV " + std::to_string(id);
    if (!x.defined && y.defined) {
      out.push_back(name + " created (" + std::to_string(y.capacity) + " blocks, pool " + y.poolId +
                    ", label \"" + y.label + "\")");
    } else if (x.defined && !y.defined) {
      out.push_back(name + " deleted");
    } else if (x.defined && x.label != y.label) {
      out.push_back(name + " label \"" + x.label + "\" -> \"" + y.label + "\"");
    }
  }
}

void diffPaths(const std::string& serial, const ccisim::Array* a, const ccisim::Array* b,
               std::vector<std::string>& out) {
  const std::map<std::string, int> before =
      a != nullptr ? lunPaths(*a) : std::map<std::string, int>();
  const std::map<std::string, int> after =
      b != nullptr ? lunPaths(*b) : std::map<std::string, int>();
  for (const auto& kv : after) {
    auto it = before.find(kv.first);
    if (it == before.end() || it->second != kv.second)
      out.push_back(serial + ": LU path " + kv.first + " -> LDEV " + std::to_string(kv.second) +
                    " added");
  }
  for (const auto& kv : before) {
    auto it = after.find(kv.first);
    if (it == after.end() || it->second != kv.second)
      out.push_back(serial + ": LU path " + kv.first + " -> LDEV " + std::to_string(kv.second) +
                    " removed");
  }
}

void diffHostGroups(const std::string& serial, const ccisim::Array* a, const ccisim::Array* b,
                    std::vector<std::string>& out) {
  auto groups = [](const ccisim::Array* x) {
    std::map<std::string, std::string> g;
    if (x != nullptr)
      for (const auto& p : x->ports)
        for (const auto& h : p.second.hostGroups)
          g[p.first + "-" + std::to_string(h.first)] = h.second.name;
    return g;
  };
  const std::map<std::string, std::string> before = groups(a), after = groups(b);
  for (const auto& kv : after)
    if (before.count(kv.first) == 0)
      out.push_back(serial + ": host group " + kv.first + " (" + kv.second + ") created");
  for (const auto& kv : before)
    if (after.count(kv.first) == 0)
      out.push_back(serial + ": host group " + kv.first + " (" + kv.second + ") deleted");
}

void diffLocks(const std::string& serial, const ccisim::Array* a, const ccisim::Array* b,
               std::vector<std::string>& out) {
  if (b == nullptr) return;
  for (const auto& kv : b->resourceGroups) {
    std::string was = "Unlocked";
    if (a != nullptr) {
      auto it = a->resourceGroups.find(kv.first);
      if (it != a->resourceGroups.end()) was = it->second.lockStatus;
    }
    if (was != kv.second.lockStatus)
      out.push_back(serial + ": resource group " + kv.first + " " + was + " -> " +
                    kv.second.lockStatus);
  }
}

}  // namespace

ZrArrayCounts zrCountArrays(const ccisim::State& s) {
  ZrArrayCounts c;
  for (const auto& a : s.arrays) {
    std::set<std::string> groups;
    for (const auto& p : a.second.pairs) {
      ++c.snapshotPairs;
      groups.insert(p.group);
      c.pairStates.push_back(p.state);
    }
    c.snapshotGroups += static_cast<int>(groups.size());
    for (const auto& l : a.second.ldevs) c.svols += isSvol(l.second) ? 1 : 0;
    c.lunPaths += static_cast<int>(lunPaths(a.second).size());
  }
  return c;
}

std::vector<std::string> zrArrayChanges(const ccisim::State& before, const ccisim::State& after) {
  std::set<std::string> serials;
  for (const auto& a : before.arrays) serials.insert(a.first);
  for (const auto& a : after.arrays) serials.insert(a.first);
  std::vector<std::string> out;
  for (const std::string& serial : serials) {
    const ccisim::Array* a = before.array(serial);
    const ccisim::Array* b = after.array(serial);
    diffPairs(serial, a, b, out);
    diffLdevs(serial, a, b, out);
    diffHostGroups(serial, a, b, out);
    diffPaths(serial, a, b, out);
    diffLocks(serial, a, b, out);
  }
  return out;
}

std::vector<std::string> zrMetadataKeys(const std::string& text) {
  std::vector<std::string> keys;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("**", pos);
    const std::string entry =
        text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    const size_t colon = entry.find(':');
    if (colon != std::string::npos) keys.push_back(entry.substr(0, colon));
    if (end == std::string::npos) break;
    pos = end + 2;
  }
  return keys;
}

std::string zrMetadataBrief(const std::string& text) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("**", pos);
    std::string entry = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    const size_t colon = entry.find(':');
    if (colon != std::string::npos) entry[colon] = '=';
    if (!entry.empty()) out += (out.empty() ? "" : " ") + entry;
    if (end == std::string::npos) break;
    pos = end + 2;
  }
  return out.empty() ? "-" : out;
}

std::vector<std::string> zrInvariantFailures(const ccisim::State& s,
                                             const std::vector<ZrDeviceState>& devices) {
  std::vector<std::string> out;
  ZRPlatformInfo settings;
  for (const auto& a : s.arrays) {
    int count = 0;
    const std::string key = kLoginCountPrefix + a.first;
    if (settings.getRegInt("~Tessavon", key.c_str(), &count) && count != 0)
      out.push_back("login count " + key + " is " + std::to_string(count) + ", not 0");
    for (const auto& g : a.second.resourceGroups) {
      if (g.second.lockStatus != "Unlocked")
        out.push_back(a.first + ": resource group " + g.first + " is " + g.second.lockStatus +
                      " by " + g.second.lockOwner);
    }
  }
  const std::string dir = ZrPaths::lockDir();
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      if (e->d_name[0] == '.') continue;
      const std::string path = dir + "/" + e->d_name;
      const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      if (::flock(fd, LOCK_EX | LOCK_NB) != 0) out.push_back("named lock " + path + " is held");
      ::close(fd);
    }
    ::closedir(d);
  }
  for (size_t i = 0; i < devices.size(); ++i) {
    for (int id : {kMetadataRemoteMessage, kMetadataRemoteMessageId}) {
      auto it = devices[i].metadata.find(id);
      if (it != devices[i].metadata.end() && !it->second.empty())
        out.push_back("device " + std::to_string(i) + ": metadata " + std::to_string(id) +
                      " not empty");
    }
  }
  return out;
}
