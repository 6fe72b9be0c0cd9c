#include "stress/ZrStressDecoys.h"

#include <cstdlib>
#include <filesystem>

#include "util/ZRHDSIntentRecord.h"

namespace fs = std::filesystem;

namespace {

// Names that no job of this host and subclient chooses: another subclient
// (9) of this host, and another host (0x2A) with its own subclient (12).
const char kOtherJobGroup[] = "QB_9_5_1F_5F5E1000";
const char kOtherHostGroup[] = "QB_12_5_2A_5F5E1000";
const char kOtherHostLabel[] = "QB_SVOL_otherhost";
const char kOtherJobLabel[] = "QB_SVOL_otherjob";
const char kOtherHostName[] = "otherhost_hg";
const char kOtherHostWwn[] = "210000e08b0256aa";
const char kPort[] = "CL1-A";
constexpr int kOtherHostGid = 2;
constexpr int kOtherHostSvol = 1000;  // in the job's S-VOL range (CUs 2-3), taken
constexpr int kPool = 5;
constexpr uint64_t kSourceBlocks = 2097152;
constexpr int64_t kSplitTime = 1600000000;

ccisim::SnapPair splitPair(const std::string& group, int pvol, int mu, uint64_t seq) {
  ccisim::SnapPair p;
  p.group = group;
  p.pvol = pvol;
  p.mu = mu;
  p.poolId = kPool;
  p.state = "PSUS";
  p.splitTime = kSplitTime;
  p.seq = seq;
  return p;
}

ccisim::Ldev volume(int id, const std::string& label, uint64_t blocks) {
  ccisim::Ldev l;
  l.id = id;
  l.capacity = blocks;
  l.attrs = {"CVS", "VVOL"};
  l.label = label;
  return l;
}

ZrDecoy ldevDecoy(const std::string& what, const ccisim::Ldev& l) {
  ZrDecoy d;
  d.what = what;
  d.ldev = l.id;
  d.label = l.label;
  d.capacity = l.capacity;
  return d;
}

ZrDecoy pairDecoy(const std::string& what, const ccisim::SnapPair& p) {
  ZrDecoy d;
  d.what = what;
  d.group = p.group;
  d.pvol = p.pvol;
  d.mu = p.mu;
  d.svol = p.svol;
  d.state = p.state;
  return d;
}

bool decoyHolds(const ccisim::Array& a, const ZrDecoy& d) {
  if (d.ldev >= 0 && d.port.empty()) {
    const ccisim::Ldev l = a.ldev(d.ldev);
    return l.defined && l.label == d.label && l.capacity == d.capacity;
  }
  if (!d.port.empty()) {
    const auto port = a.ports.find(d.port);
    if (port == a.ports.end()) return false;
    const auto g = port->second.hostGroups.find(d.gid);
    if (g == port->second.hostGroups.end()) return false;
    const auto lun = g->second.luns.find(d.lun);
    return lun != g->second.luns.end() && lun->second == d.ldev;
  }
  for (const ccisim::SnapPair& p : a.pairs) {
    if (p.group == d.group && p.pvol == d.pvol && p.mu == d.mu) {
      return p.state == d.state && p.svol == d.svol;
    }
  }
  return false;
}

}  // namespace

ZrObjectSet zrObjectSet(const ccisim::State& s, const std::string& serial) {
  ZrObjectSet o;
  const ccisim::Array* a = s.array(serial);
  if (a == nullptr) return o;
  for (const ccisim::SnapPair& p : a->pairs) o.pairs.insert(std::make_tuple(p.group, p.pvol, p.mu));
  a->loadLdevs();
  for (const auto& l : a->ldevs)
    if (l.second.defined) o.ldevs.insert(l.first);
  for (const auto& port : a->ports)
    for (const auto& g : port.second.hostGroups)
      for (const auto& lun : g.second.luns)
        o.paths.insert(std::make_tuple(port.first, g.first, lun.first));
  return o;
}

ZrObjectCounts zrObjectsAdded(const ZrObjectSet& before, const ZrObjectSet& now,
                              const std::set<int>& ignore) {
  const ZrObjectSet added = zrObjectsBeyond(before, now);
  ZrObjectCounts c;
  c.pairs = static_cast<int>(added.pairs.size());
  for (int l : added.ldevs) c.ldevs += ignore.count(l) == 0 ? 1 : 0;
  c.paths = static_cast<int>(added.paths.size());
  return c;
}

ZrObjectSet zrObjectsJoined(const ZrObjectSet& a, const ZrObjectSet& b) {
  ZrObjectSet o = a;
  o.pairs.insert(b.pairs.begin(), b.pairs.end());
  o.ldevs.insert(b.ldevs.begin(), b.ldevs.end());
  o.paths.insert(b.paths.begin(), b.paths.end());
  return o;
}

ZrObjectSet zrObjectsBeyond(const ZrObjectSet& before, const ZrObjectSet& now) {
  ZrObjectSet o;
  for (const auto& p : now.pairs) {
    if (before.pairs.count(p) == 0) o.pairs.insert(p);
  }
  for (int l : now.ldevs) {
    if (before.ldevs.count(l) == 0) o.ldevs.insert(l);
  }
  for (const auto& p : now.paths) {
    if (before.paths.count(p) == 0) o.paths.insert(p);
  }
  return o;
}

std::vector<ZrDecoy> zrDecoysOfNewObjects(const ccisim::State& before, const ccisim::State& after,
                                          const std::string& serial, const std::string& whose) {
  std::vector<ZrDecoy> decoys;
  const ccisim::Array* a = after.array(serial);
  if (a == nullptr) return decoys;
  const ZrObjectSet old = zrObjectSet(before, serial);
  for (const ccisim::SnapPair& p : a->pairs) {
    if (old.pairs.count(std::make_tuple(p.group, p.pvol, p.mu)) != 0) continue;
    decoys.push_back(pairDecoy(whose + " pair " + std::to_string(p.pvol) + " MU " +
                                   std::to_string(p.mu), p));
  }
  a->loadLdevs();
  for (const auto& l : a->ldevs) {
    if (!l.second.defined || old.ldevs.count(l.first) != 0) continue;
    decoys.push_back(ldevDecoy(whose + " LDEV " + std::to_string(l.first), l.second));
  }
  for (const auto& port : a->ports) {
    for (const auto& g : port.second.hostGroups) {
      for (const auto& lun : g.second.luns) {
        if (old.paths.count(std::make_tuple(port.first, g.first, lun.first)) != 0) continue;
        ZrDecoy d;
        d.what = whose + " LU path " + port.first + "-" + std::to_string(g.first) + " LUN " +
                 std::to_string(lun.first);
        d.port = port.first;
        d.gid = g.first;
        d.lun = lun.first;
        d.ldev = lun.second;
        decoys.push_back(d);
      }
    }
  }
  return decoys;
}

std::vector<ZrDecoy> zrPlantStandingDecoys(ccisim::Fixture& sim, const std::string& serial,
                                           int firstLdev, int count) {
  std::vector<ZrDecoy> decoys;
  const ccisim::Ldev svol = volume(kOtherHostSvol, kOtherHostLabel, kSourceBlocks);
  sim.addLdev(serial, svol);
  sim.addHostGroup(serial, kPort, kOtherHostGid, kOtherHostName);
  sim.addHostGroupWwn(serial, kPort, kOtherHostGid, kOtherHostWwn);
  sim.addLun(serial, kPort, kOtherHostGid, 0, kOtherHostSvol);
  sim.update([&](ccisim::State& st) {
    ccisim::Array& a = st.arrays[serial];
    int mu = a.firstSnapMu;
    for (int i = 0; i < count; ++i) {
      const ccisim::SnapPair p = splitPair(kOtherJobGroup, firstLdev + i, mu, st.nextSeq++);
      a.pairs.push_back(p);
      decoys.push_back(pairDecoy("another job's pair on P-VOL " + std::to_string(p.pvol), p));
    }
    ccisim::SnapPair other = splitPair(kOtherHostGroup, firstLdev, mu + 1, st.nextSeq++);
    other.svol = kOtherHostSvol;
    a.pairs.push_back(other);
    decoys.push_back(pairDecoy("another host's pair", other));
  });
  decoys.push_back(ldevDecoy("another host's S-VOL", svol));
  ZrDecoy path;
  path.what = "another host's LU path";
  path.port = kPort;
  path.gid = kOtherHostGid;
  path.lun = 0;
  path.ldev = kOtherHostSvol;
  decoys.push_back(path);
  return decoys;
}

std::vector<ZrDecoy> zrPlantKillDecoys(ccisim::Fixture& sim, const std::string& serial,
                                       const std::string& intentDir) {
  std::vector<ZRHDSIntentRecord> records;
  ZRHDSIntentStore(intentDir).list(serial, records, nullptr, nullptr);
  const ccisim::State s = sim.load();
  const ccisim::Array* a = s.array(serial);
  std::vector<ccisim::Ldev> planted;
  for (const ZRHDSIntentRecord& r : records) {
    for (const ZRHDSIntentEntry& e : r.entries) {
      if (e.ldev.empty() || a == nullptr || planted.size() >= 2) continue;
      const int id = std::atoi(e.ldev.c_str());
      if (a->ldev(id).defined) continue;
      // An administrator's volume made after the crash, then one that
      // another job labelled.
      planted.push_back(volume(id, planted.empty() ? "" : kOtherJobLabel, e.capacity));
    }
  }
  std::vector<ZrDecoy> decoys;
  for (const ccisim::Ldev& l : planted) {
    sim.addLdev(serial, l);
    decoys.push_back(ldevDecoy(l.label.empty() ? "an administrator's LDEV at a recorded id"
                                               : "another job's S-VOL at a recorded id",
                               l));
  }
  return decoys;
}

std::vector<std::string> zrDecoysTouched(const ccisim::State& s, const std::string& serial,
                                         const std::vector<ZrDecoy>& decoys) {
  std::vector<std::string> out;
  const ccisim::Array* a = s.array(serial);
  for (const ZrDecoy& d : decoys) {
    if (a == nullptr || !decoyHolds(*a, d)) out.push_back(d.what);
  }
  return out;
}

namespace {

int filesEndingIn(const std::string& dir, const std::string& tail) {
  int n = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    n += name.size() > tail.size() &&
                 name.compare(name.size() - tail.size(), tail.size(), tail) == 0
             ? 1
             : 0;
  }
  return n;
}

}  // namespace

int zrIntentRecordCount(const std::string& intentDir) {
  return filesEndingIn(intentDir, ".intent");
}

int zrIntentSetAsideCount(const std::string& intentDir) {
  return filesEndingIn(intentDir, ".intent.aside");
}
