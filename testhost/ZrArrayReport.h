#pragma once
// What a step changed on the simulated arrays, in lines a reader follows:
// snapshot groups, snapshot pairs (state and associated S-VOL), S-VOLs
// (LDEVs created, deleted or relabelled), LU paths and resource-group locks.
// Also the counts that scenario expectations test, and the checks that must
// hold after every scenario.
#include <string>
#include <vector>

#include "sim/ccisim_fixture.h"
#include "testhost/ZrHostDevice.h"

struct ZrArrayCounts {
  int snapshotPairs = 0;
  int snapshotGroups = 0;
  int svols = 0;                        // defined LDEVs labelled "QB_SVOL_..."
  int lunPaths = 0;                     // LU paths in every host group
  std::vector<std::string> pairStates;  // one per pair
};

ZrArrayCounts zrCountArrays(const ccisim::State& s);

// One line per change from before to after, each beginning with the array
// serial; empty when nothing changed.
std::vector<std::string> zrArrayChanges(const ccisim::State& before, const ccisim::State& after);

// A brief form of a stored metadata text ("1S:412345**3L:256**"): the
// entries joined by blanks ("1S=412345 3L=256"); "-" when empty.
std::string zrMetadataBrief(const std::string& text);
// The keys of a stored metadata text, in order.
std::vector<std::string> zrMetadataKeys(const std::string& text);

// Checks that must hold when no call is running; each failure is one line.
//   - every per-array login count setting ("sZRHDSRaidcomLockCount_<serial>")
//     reads 0 (or is absent);
//   - no named lock of ZrPaths::lockDir() is held;
//   - no resource group of any array is locked;
//   - metadata 60 and 61 of every device are empty.
std::vector<std::string> zrInvariantFailures(const ccisim::State& s,
                                             const std::vector<ZrDeviceState>& devices);
