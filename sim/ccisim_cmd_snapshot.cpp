// raidcom: Thin Image snapshots, pools and copy groups.
#include "sim/ccisim_engine.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <sstream>

namespace ccisim {
namespace engine {

using namespace detail;

// ---- snapshots --------------------------------------------------------------

// Advances the pending transition of a pair shown by a listing.
void observe(SnapPair& p) {
  if (p.pendingTo.empty() || p.pendingLeft < 0) return;
  if (p.pendingLeft > 0) --p.pendingLeft;
  if (p.pendingLeft == 0) {
    p.state = p.pendingTo;
    p.pendingTo.clear();
    p.progress = 100;
  }
}

void setPending(SnapPair& p, const std::string& now, const std::string& to, int polls) {
  if (polls == 0) {
    p.state = to;
    p.pendingTo.clear();
    p.pendingLeft = 0;
    p.progress = 100;
    return;
  }
  p.state = now;
  p.pendingTo = to;
  p.pendingLeft = polls;
  p.progress = 50;
}

void cmdGetSnapshot(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {{"-snapshotgroup", 1, 1, false}, {"-ldev_id", 1, 1, false}}, o)) return;
  if (o.has("-snapshotgroup") && o.has("-ldev_id")) return unknownOption(c, "-ldev_id");
  int id = -1;
  if (o.has("-ldev_id") && !ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  if (!requireContext(c, true)) return;
  // The whole array: one row per group, no pair shown (so none advances).
  if (!o.has("-snapshotgroup") && !o.has("-ldev_id")) {
    c.o.out = renderGetSnapshotGroups(*c.a);
    return;
  }
  std::vector<SnapPair> rows;
  std::vector<SnapPair*> sel;
  for (auto& p : c.a->pairs) {
    if (o.has("-snapshotgroup") && p.group != o.one("-snapshotgroup")) continue;
    if (id >= 0 && p.pvol != id && p.svol != id) continue;
    sel.push_back(&p);
  }
  // A group exists while it holds a pair; names compare case-sensitively.
  if (sel.empty() && o.has("-snapshotgroup"))
    return noObject(c, "snapshot group " + o.one("-snapshotgroup"));
  std::sort(sel.begin(), sel.end(),
            [](const SnapPair* x, const SnapPair* y) { return x->seq < y->seq; });
  for (SnapPair* p : sel) {
    observe(*p);
    rows.push_back(*p);
  }
  c.o.out = renderGetSnapshot(*c.a, rows, id);
}

const Pool* findPool(const Array& a, const std::string& key) {
  for (const auto& pp : a.pools)
    if (std::to_string(pp.first) == key || pp.second.name == key) return &pp.second;
  return nullptr;
}

int freeMu(const Array& a, int pvol) {
  std::set<int> used;
  for (const auto& p : a.pairs)
    if (p.pvol == pvol) used.insert(p.mu);
  for (int mu = a.firstSnapMu; mu <= 1023; ++mu)
    if (!used.count(mu)) return mu;
  return -1;
}

void cmdAddSnapshot(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2,
                 {{"-ldev_id", 1, 1, false},
                  {"-pool", 1, 1, false},
                  {"-snapshotgroup", 1, 1, false},
                  {"-snap_mode", 1, 1, false}},
                 o))
    return;
  for (const char* k : {"-ldev_id", "-pool", "-snapshotgroup"})
    if (!o.has(k)) return missingArg(c, k);
  int id;
  if (!ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  if (o.has("-snap_mode") && o.one("-snap_mode") != "CTG")
    return invalidArg(c, "-snap_mode", o.one("-snap_mode"));
  std::string group = o.one("-snapshotgroup");
  if (group.size() > 32) return invalidArg(c, "-snapshotgroup", group);
  bool ctg = o.has("-snap_mode");
  if (!requireContext(c, true) || !inRange(c, id)) return;
  Ldev l = c.a->ldev(id);
  if (lockedByOther(c, l.rsgid)) return;
  if (!l.defined) return refuse(c, Refusal::kNotInstalled);
  if (l.hasAttr("CMD") || l.hasAttr("POOL") || l.hasAttr("JNL"))
    return refuse(c, "The LDEV cannot be used as a Thin Image P-VOL.");
  const Pool* pool = findPool(*c.a, o.one("-pool"));
  if (!pool) return refuse(c, "The pool does not exist.");
  if (pool->status != "POLN") return refuse(c, "The pool is not in normal status.");
  int inGroup = 0;
  for (const auto& p : c.a->pairs)
    if (p.group == group) {
      ++inGroup;
      if (p.ctg != ctg)
        return refuse(c, "The snapshot group exists with another consistency mode.");
    }
  if (inGroup >= 1024) return refuse(c, "The snapshot group already holds 1024 pairs.");
  int mu = freeMu(*c.a, id);
  if (mu < 0) return refuse(c, "No free MU number on the P-VOL.");
  SnapPair p;
  p.group = group;
  p.ctg = ctg;
  p.pvol = id;
  p.mu = mu;
  p.poolId = pool->id;
  p.seq = c.s.nextSeq++;
  setPending(p, "COPY", "PAIR", c.a->timing.addPolls);
  c.a->pairs.push_back(p);
}

void cmdModifySnapshot(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2,
                 {{"-snapshotgroup", 1, 1, false},
                  {"-ldev_id", 1, 1, false},
                  {"-mirror_id", 1, 1, false},
                  {"-snapshot_data", 1, 1, false}},
                 o))
    return;
  if (!o.has("-snapshot_data")) return missingArg(c, "-snapshot_data");
  std::string op = o.one("-snapshot_data");
  if (op != "create" && op != "resync" && op != "restore" && op != "split")
    return invalidArg(c, "-snapshot_data", op);
  if (!o.has("-snapshotgroup") && !o.has("-ldev_id"))
    return missingArg(c, "-snapshotgroup or -ldev_id");
  if (o.has("-mirror_id") && !o.has("-ldev_id")) return unknownOption(c, "-mirror_id");
  if (o.has("-mirror_id") && o.has("-snapshotgroup")) return unknownOption(c, "-mirror_id");
  int id = -1, mu = -1;
  if (o.has("-ldev_id") && !ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  if (o.has("-mirror_id") && !ldevArg(c, "-mirror_id", o.one("-mirror_id"), mu)) return;
  if (!requireContext(c, true)) return;
  // -ldev_id with -mirror_id or -snapshotgroup names a P-VOL's pair;
  // -ldev_id alone names the pair whose S-VOL it is, never a P-VOL's pairs.
  bool bySvol = id >= 0 && mu < 0 && !o.has("-snapshotgroup");
  std::vector<SnapPair*> sel;
  for (auto& p : c.a->pairs) {
    if (o.has("-snapshotgroup") && p.group != o.one("-snapshotgroup")) continue;
    if (bySvol ? p.svol != id : (id >= 0 && p.pvol != id)) continue;
    if (mu >= 0 && p.mu != mu) continue;
    sel.push_back(&p);
  }
  if (sel.empty())
    return noObject(c, o.has("-snapshotgroup") ? "snapshot group " + o.one("-snapshotgroup")
                                               : "snapshot of LDEV " + std::to_string(id));
  for (SnapPair* p : sel)
    if (lockedByOther(c, c.a->ldev(p->pvol).rsgid)) return;
  // Preconditions over the whole selection first: nothing changes on refusal.
  for (SnapPair* p : sel) {
    const std::string& st = p->state;
    if (op == "create" && (st == "COPY" || st == "RCPY"))
      return badStatus(c, "A pair of the snapshot group is in " + st + " status.");
    if (op == "resync" && st == "RCPY") return badStatus(c, "The pair is in RCPY status.");
    if (op == "restore") {
      if (st != "PSUS" && st != "SSUS") return badStatus(c, "The pair is not in PSUS status.");
      for (const auto& q : c.a->pairs)
        if (q.pvol == p->pvol && q.state == "RCPY")
          return badStatus(c, "Another pair of the P-VOL is being restored.");
    }
    if (op == "split" && st != "PAIR") return badStatus(c, "The pair is not in PAIR status.");
  }
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  for (SnapPair* p : sel) {
    if (op == "create" || op == "split") {
      if (p->state == "PAIR") {
        p->state = "PSUS";
        p->splitTime = now;
        p->progress = 100;
      }
    } else if (op == "resync") {
      if (p->state == "PAIR") continue;
      p->splitTime = 0;
      setPending(*p, "COPY", "PAIR", c.a->timing.resyncPolls);
    } else {  // restore
      setPending(*p, "RCPY", c.a->timing.restoreEndsPsue ? "PSUE" : "PAIR",
                 c.a->timing.restorePolls);
    }
  }
}

void cmdDeleteSnapshot(Ctx& c) {
  Opts o;
  if (!parseOpts(
          c, 2,
          {{"-ldev_id", 1, 1, false}, {"-mirror_id", 1, 1, false}, {"-snapshotgroup", 1, 1, false}},
          o))
    return;
  if (o.has("-snapshotgroup") == o.has("-ldev_id"))
    return missingArg(c, "-ldev_id or -snapshotgroup");
  int id = -1, mu = -1;
  if (o.has("-ldev_id") && !ldevArg(c, "-ldev_id", o.one("-ldev_id"), id)) return;
  if (o.has("-mirror_id") && !ldevArg(c, "-mirror_id", o.one("-mirror_id"), mu)) return;
  if (!requireContext(c, true)) return;
  std::vector<size_t> sel;
  for (size_t i = 0; i < c.a->pairs.size(); ++i) {
    const SnapPair& p = c.a->pairs[i];
    if (o.has("-snapshotgroup") && p.group != o.one("-snapshotgroup")) continue;
    if (id >= 0 && p.pvol != id) continue;
    if (mu >= 0 && p.mu != mu) continue;
    sel.push_back(i);
  }
  if (sel.empty()) return noObject(c, "snapshot");
  for (size_t i : sel) {
    if (lockedByOther(c, c.a->ldev(c.a->pairs[i].pvol).rsgid)) return;
    if (c.a->pairs[i].state == "RCPY") return badStatus(c, "The pair is in RCPY status.");
  }
  // Pairs go also while an S-VOL is still associated: the real array allows it.
  for (size_t k = sel.size(); k-- > 0;)
    c.a->pairs.erase(c.a->pairs.begin() + static_cast<long>(sel[k]));
}

void cmdMapUnmapSnapshot(Ctx& c, bool unmap) {
  Opts o;
  if (!parseOpts(c, 2,
                 {{"-ldev_id", unmap ? 1 : 2, unmap ? 1 : 2, false}, {"-mirror_id", 1, 1, false}},
                 o))
    return;
  if (!o.has("-ldev_id")) return missingArg(c, "-ldev_id");
  if (!o.has("-mirror_id")) return missingArg(c, "-mirror_id");
  int pvol, mu, svol = -1;
  if (!ldevArg(c, "-ldev_id", o.vals("-ldev_id")[0], pvol) ||
      !ldevArg(c, "-mirror_id", o.one("-mirror_id"), mu))
    return;
  if (!unmap && !ldevArg(c, "-ldev_id", o.vals("-ldev_id")[1], svol)) return;
  if (!requireContext(c, true)) return;
  SnapPair* p = c.a->pair(pvol, mu);
  if (!p) return noObject(c, "snapshot " + std::to_string(pvol) + " MU " + std::to_string(mu));
  if (lockedByOther(c, c.a->ldev(pvol).rsgid)) return;
  if (unmap) {
    if (p->svol < 0) return refuse(c, "No S-VOL is associated with the snapshot.");
    p->svol = -1;
    return;
  }
  if (!inRange(c, svol)) return;
  Ldev t = c.a->ldev(svol);
  if (lockedByOther(c, t.rsgid)) return;
  if (p->svol >= 0) return refuse(c, "An S-VOL is already associated with the snapshot.");
  if (!t.defined) return refuse(c, Refusal::kNotInstalled);
  // A virtual volume or a DP volume (made in a dynamic-provisioning pool).
  if (!t.hasAttr("VVOL") && !t.hasAttr("HDP"))
    return refuse(c, "The target LDEV is neither a V-VOL nor a DP volume.");
  if (t.capacity != c.a->ldev(pvol).capacity)
    return refuse(c, "The capacity of the target LDEV differs from the P-VOL.");
  if (isSvol(*c.a, svol))
    return refuse(c, "The target LDEV is already associated with another snapshot.");
  if (isPvol(*c.a, svol)) return refuse(c, "The target LDEV is a P-VOL.");
  p->svol = svol;
}

void cmdGetPool(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {{"-key", 1, 1, false}}, o)) return;
  if (o.has("-key") && o.one("-key") != "opt") return invalidArg(c, "-key", o.one("-key"));
  if (!requireContext(c, true)) return;
  c.o.out = renderGetPool(*c.a);
}

void cmdGetCopyGroup(Ctx& c) {
  Opts o;
  if (!parseOpts(c, 2, {}, o) || !requireContext(c, true)) return;
  c.o.out = renderCopyGroups(*c.a);
}

}  // namespace engine
}  // namespace ccisim
