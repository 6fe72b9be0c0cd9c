// Proof that the pairs the stored records name are the device's own: the
// pair of (P-VOL "3L", MU "13SM") belongs to a device only in the group its
// record names ("10SG"). Another group's pair of the same P-VOL and MU is
// another job's, and nothing of it, nor of its group, is acted on.
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
  logMessage(2, "proveStoredPairs", "%s", text.c_str());
  SetError(snap.snapInfo, ZR_HDS_ERR_STORED_RECORD, text.c_str());
  return fail(ZR_HDS_ERR_STORED_RECORD, text);
}

bool ZRHDSCommandHandler::proveStoredPairs(bool pairMustExist) {
  for (const ZRHDSSnapInfo& snap : *m_pSnaps) {
    if (snap.baseDevNo.empty() || snap.snapMu.empty()) continue;
    std::vector<HDSSnapshotGroupInfo> rows;
    if (m_pImplementer->getSnapshotGroupList(rows, snap.baseDevNo, true) != 0) {
      return copyImplementerError();
    }
    bool listed = false;
    for (const HDSSnapshotGroupInfo& row : rows) {
      const std::string refusal = zrhds_handler::storedPairRefusal(snap, row);
      if (!refusal.empty()) return refuseStoredPair(snap, refusal);
      listed = listed || (row.isPvol && row.muNumber == snap.snapMu);
    }
    if (pairMustExist && !listed) {
      return refuseStoredPair(snap, "The snapshot pair " + snap.baseDevNo + "/MU " + snap.snapMu +
                                        " that the stored metadata names is not on the array.");
    }
  }
  return true;
}
