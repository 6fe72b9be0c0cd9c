#pragma once
// The small simulated array of the test host's own tests: array 412345 with
// port CL1-A and host group 1 ("mine") holding this host's initiator.
#include "sim/ccisim_fixture.h"

namespace zrtest {

constexpr char kSerial[] = "412345";
constexpr char kMine[] = "210000e08b0256f8";

// Adds the array, the port and host group 1, and a source LDEV for each id
// (2097152 blocks, pool 6).
inline void addTestArray(ccisim::Fixture& sim, std::initializer_list<int> ldevs) {
  sim.addArray(kSerial);
  sim.addPort(kSerial, "CL1-A", "50060e8007dd3300");
  sim.addHostGroup(kSerial, "CL1-A", 1, "mine");
  sim.addHostGroupWwn(kSerial, "CL1-A", 1, kMine);
  for (int id : ldevs) sim.addSourceLdev(kSerial, id, 2097152, 6);
}

}  // namespace zrtest
