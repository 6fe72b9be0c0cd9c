// Proof that the pairs the stored records name are the device's own: the
// pair of (P-VOL "3L", MU "13SM") belongs to a device only in the group its
// record names ("10SG"). Another group's pair of the same P-VOL and MU is
// another job's, and nothing of it, nor of its group, is acted on.
#include <map>
#include <string>
#include <vector>

#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"
#include "util/HDSCLIUtils.h"

namespace zrhds_handler {

std::string storedPairRefusal(const ZRHDSSnapInfo& snap, const HDSSnapshotGroupInfo& row) {
  if (snap.snapshotGroup.empty() || !row.isPvol || row.muNumber != snap.snapMu ||
      row.snapshotGroupName == snap.snapshotGroup) {
    return "";
  }
  return "The snapshot pair " + snap.baseDevNo + "/MU " + snap.snapMu + " is in SnapshotGroup-" +
         row.snapshotGroupName + ", not in the stored group (key 10SG) " + snap.snapshotGroup +
         ".";
}

}  // namespace zrhds_handler

bool ZRHDSCommandHandler::refuseStoredPair(const ZRHDSSnapInfo& snap, const std::string& text) {
  logMessage(2, "refuseStoredPair", "%s", text.c_str());
  SetError(snap.snapInfo, ZR_HDS_ERR_STORED_RECORD, text.c_str());
  return fail(ZR_HDS_ERR_STORED_RECORD, text);
}

bool ZRHDSCommandHandler::proveStoredGroups() {
  std::map<std::string, std::vector<const ZRHDSSnapInfo*>> byGroup;
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
    if (!snap.snapshotGroup.empty()) byGroup[snap.snapshotGroup].push_back(&snap);
  }
  for (const auto& group : byGroup) {
    std::vector<HDSSnapshotGroupInfo> rows;
    if (m_pImplementer->getSnapshotGroupList(rows, group.first, false) != 0) {
      return copyImplementerError();
    }
    for (const ZRHDSSnapInfo* snap : group.second) {
      bool held = false;
      for (const HDSSnapshotGroupInfo& row : rows) {
        held = held || (row.ldevId == snap->baseDevNo && row.muNumber == snap->snapMu);
      }
      if (held) continue;
      return refuseStoredPair(*snap, "The stored group (key 10SG) " + group.first +
                                         " does not hold the snapshot pair " + snap->baseDevNo +
                                         "/MU " + snap->snapMu + ".");
    }
  }
  return true;
}
