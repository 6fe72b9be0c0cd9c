// Reads of the job's objects by listing: the LDEVs at a set of ids with one
// span listing per run of nearby ids, and the pairs of the records from the
// listings of their stored snapshot groups. A read serves one step; a later
// step that acts on what it read reads again.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"

bool ZRHDSCommandHandler::listLdevs(const std::vector<std::string>& ids,
                                    std::map<std::string, HDSLdevInfo>& out) {
  static const char kFn[] = "listLdevs";
  if (ids.empty()) return true;
  if (m_pImplementer->listLdevsAt(ids, out) != 0) return copyImplementerError();
  for (const std::string& id : ids) {
    if (out.count(id) != 0) continue;
    logMessage(2, kFn, "The listing does not show LDEV-[%s].", id.c_str());
    return fail(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to query LDEV info.");
  }
  return true;
}

bool ZRHDSCommandHandler::pairRowsOf(const ZRHDSSnapInfo& snap, GroupListings& groups,
                                     std::vector<HDSSnapshotGroupInfo>& rows) {
  rows.clear();
  if (!snap.snapshotGroup.empty() && !snap.snapMu.empty()) {
    auto it = groups.find(snap.snapshotGroup);
    if (it == groups.end()) {
      std::vector<HDSSnapshotGroupInfo> listed;
      if (m_pImplementer->getSnapshotGroupList(listed, snap.snapshotGroup, false) != 0) {
        return false;
      }
      it = groups.emplace(snap.snapshotGroup, std::move(listed)).first;
    }
    for (const HDSSnapshotGroupInfo& row : it->second) {
      if (row.isPvol && row.ldevId == snap.baseDevNo && row.muNumber == snap.snapMu) {
        rows.push_back(row);
      }
    }
    if (!rows.empty()) return true;
  }
  return m_pImplementer->getSnapshotGroupList(rows, snap.baseDevNo, true) == 0;
}
