// A job whose snapshots already have their S-VOLs, on the simulator of a
// HDSHandlerTestBed: sources 16.., each with a stored snapshot (MU 3) in
// group QB_7 and a defined V-VOL target 600.. named by the job's label; port
// CL1-A holds the pre-snap host group (GID 1) and a client host group
// "client" (GID 3). Shared by the association, map and unmap tests.
#ifndef ZR_HANDLER_TESTS_HDSTARGETJOB_H
#define ZR_HANDLER_TESTS_HDSTARGETJOB_H

#include <string>
#include <vector>

#include "handler/tests/support/HDSHandlerTestBed.h"

namespace hdstarget {

constexpr uint64_t kBlocks = 4194304;  // the test bed's source capacity
constexpr int kPreSnapGid = 1;
constexpr int kClientGid = 3;

inline void addJob(HDSHandlerTestBed& bed, int count) {
  const char* serial = HDSHandlerTestBed::kSerial;
  std::vector<int> ids;
  for (int i = 0; i < count; ++i) ids.push_back(16 + i);
  bed.addSources(ids);
  bed.sim.addPort(serial, "CL1-A", "50060e8000000001");
  bed.sim.addHostGroup(serial, "CL1-A", kPreSnapGid, "QB_PRE_SNAP_HOST_GROUP");
  bed.sim.addHostGroup(serial, "CL1-A", kClientGid, "client");
  bed.options.preSnapPort = "CL1-A";
  for (int i = 0; i < count; ++i) {
    ZRHDSSnapInfo& s = bed.snaps[i];
    s.capacity = kBlocks;
    s.snapMu = std::to_string(
        bed.sim.addSnapshotPair(serial, "QB_7", 16 + i, HDSHandlerTestBed::kPool, "PSUS"));
    s.snapLdevId = std::to_string(600 + i);
    s.svolLabel = "QB_SVOL_s" + s.baseDevNo;
    s.snapOriginalName = "orig";
    s.snapOriginalState = "NEWDEV";
    ccisim::Ldev target;
    target.id = 600 + i;
    target.capacity = kBlocks;
    target.attrs = {"CVS", "VVOL"};
    target.label = s.svolLabel;
    bed.sim.addLdev(serial, target);
  }
}

inline ccisim::Ldev ldev(HDSHandlerTestBed& bed, int id) {
  return bed.sim.load().arrays.at(HDSHandlerTestBed::kSerial).ldev(id);
}

// Luns of a host group on CL1-A (empty when the group does not exist).
inline std::map<int, int> luns(HDSHandlerTestBed& bed, int gid) {
  const ccisim::State s = bed.sim.load();
  const ccisim::HostGroup* g = s.arrays.at(HDSHandlerTestBed::kSerial).hostGroup("CL1-A", gid);
  return g ? g->luns : std::map<int, int>{};
}

// Lock status of the array's "meta_resource" group.
inline std::string lockStatus(HDSHandlerTestBed& bed) {
  const ccisim::State s = bed.sim.load();
  return s.arrays.at(HDSHandlerTestBed::kSerial).resourceGroups.at("meta_resource").lockStatus;
}

}  // namespace hdstarget

#endif  // ZR_HANDLER_TESTS_HDSTARGETJOB_H
