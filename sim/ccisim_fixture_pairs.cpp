// Test fixture: snapshot pairs and their timing, copy groups, remote pairs.
#include "sim/ccisim_fixture.h"
#include "sim/ccisim_fixture_internal.h"
#include "sim/ccisim_internal.h"

#include <set>
#include <string>

namespace ccisim {

using namespace detail;
using namespace fixture;

void Fixture::addCopyGroup(const std::string& serial, const CopyGroup& g) {
  update([&](State& s) { arrayOf(s, serial).copyGroups[g.name] = g; });
}

void Fixture::addRemotePair(const std::string& serial, const RemotePair& p) {
  update([&](State& s) { arrayOf(s, serial).remotePairs.push_back(p); });
}

int Fixture::addSnapshotPair(const std::string& serial, const std::string& group, int pvol,
                             int pool, const std::string& state, bool ctg, int svol) {
  int mu = -1;
  update([&](State& s) {
    Array& a = arrayOf(s, serial);
    std::set<int> used;
    for (const auto& p : a.pairs)
      if (p.pvol == pvol) used.insert(p.mu);
    for (int m = a.firstSnapMu; m <= 1023 && mu < 0; ++m)
      if (!used.count(m)) mu = m;
    if (mu < 0) die("no free MU on LDEV " + std::to_string(pvol));
    SnapPair p;
    p.group = group;
    p.ctg = ctg;
    p.pvol = pvol;
    p.mu = mu;
    p.poolId = pool;
    p.state = state;
    p.svol = svol;
    if (state == "PSUS" || state == "SSUS" || state == "PFUS") p.splitTime = 1702103232;
    p.seq = s.nextSeq++;
    a.pairs.push_back(p);
  });
  return mu;
}

void Fixture::setPairState(const std::string& serial, int pvol, int mu, const std::string& state) {
  update([&](State& s) {
    SnapPair& p = pairOf(s, serial, pvol, mu);
    p.state = state;
    p.pendingTo.clear();
    p.pendingLeft = 0;
    p.progress = 100;
  });
}

void Fixture::setPairPending(const std::string& serial, int pvol, int mu, const std::string& to,
                             int polls) {
  update([&](State& s) {
    SnapPair& p = pairOf(s, serial, pvol, mu);
    p.pendingTo = to;
    p.pendingLeft = polls;
    p.progress = 50;
  });
}

void Fixture::setPairTiming(const std::string& serial, const PairTiming& t) {
  update([&](State& s) { arrayOf(s, serial).timing = t; });
}

}  // namespace ccisim
