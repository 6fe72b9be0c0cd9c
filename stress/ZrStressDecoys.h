#pragma once
// Decoys of the crash run: objects beside a job's own that the recovery of a
// killed job must never touch, and the accounting of what a kill left.
//
// Planted once, before the clean life cycle (so every state a kill starts
// from holds them):
//  - another job's snapshot group on the job's P-VOLs (split pairs);
//  - a pair of another host: its own group, an S-VOL labelled for it,
//    associated and presented to that host's host group.
// Planted after a kill, at ids that a record of the killed job names but the
// job never created:
//  - an administrator's LDEV, unlabelled, of the recorded capacity;
//  - an LDEV with a QB_SVOL_ label of another job, of the recorded capacity.
// Made by another host after a kill: everything it made (its pairs, S-VOLs
// and LU paths) is a decoy.
//
// Thread-safety: one thread; the fixture's state is changed under its lock.
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "sim/ccisim_fixture.h"

// What the array holds, object by object (pairs by group, P-VOL and MU;
// defined LDEVs by id; LU paths by port, host group and LUN).
struct ZrObjectSet {
  std::set<std::tuple<std::string, int, int>> pairs;
  std::set<int> ldevs;
  std::set<std::tuple<std::string, int, int>> paths;
};
ZrObjectSet zrObjectSet(const ccisim::State& s, const std::string& serial);
// Objects of now that were not in before, less the LDEV ids in ignore.
struct ZrObjectCounts {
  int pairs = 0, ldevs = 0, paths = 0;
  int total() const { return pairs + ldevs + paths; }
};
ZrObjectCounts zrObjectsAdded(const ZrObjectSet& before, const ZrObjectSet& now,
                              const std::set<int>& ignore);

// a and b together; the objects of now that before lacks.
ZrObjectSet zrObjectsJoined(const ZrObjectSet& a, const ZrObjectSet& b);
ZrObjectSet zrObjectsBeyond(const ZrObjectSet& before, const ZrObjectSet& now);

// One decoy and how to tell it is still as planted.
struct ZrDecoy {
  std::string what;
  int ldev = -1;  // an LDEV decoy: its id, label and capacity
  std::string label;
  uint64_t capacity = 0;
  std::string group;  // a pair decoy: group, P-VOL, MU, state, S-VOL
  int pvol = -1, mu = -1, svol = -1;
  std::string state;
  std::string port;  // an LU path decoy: port, host group, LUN -> ldev
  int gid = -1, lun = -1;
};

// Plants the decoys of the set-up on the sources [firstLdev, firstLdev +
// count) of the array; returns them.
std::vector<ZrDecoy> zrPlantStandingDecoys(ccisim::Fixture& sim, const std::string& serial,
                                           int firstLdev, int count);
// Plants the decoys of one kill at ids that the intent records in intentDir
// name and the array does not hold; returns them (none when there is no
// such id).
std::vector<ZrDecoy> zrPlantKillDecoys(ccisim::Fixture& sim, const std::string& serial,
                                       const std::string& intentDir);
// Every object of after that before lacks (another host's, made between
// the two), as decoys named "<whose> <kind> <id>": pairs with their state
// and S-VOL, LDEVs with their label and capacity, LU paths with their LDEV.
std::vector<ZrDecoy> zrDecoysOfNewObjects(const ccisim::State& before, const ccisim::State& after,
                                          const std::string& serial, const std::string& whose);
// The decoys that are gone or changed.
std::vector<std::string> zrDecoysTouched(const ccisim::State& s, const std::string& serial,
                                         const std::vector<ZrDecoy>& decoys);
// The intent record files in intentDir, and those set aside there.
int zrIntentRecordCount(const std::string& intentDir);
int zrIntentSetAsideCount(const std::string& intentDir);
