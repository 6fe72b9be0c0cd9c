// Reads of the job's objects by listing: the LDEVs at a set of ids with one
// span listing per run of nearby ids, and the pairs of the records from the
// listings of their stored snapshot groups. A read serves one step; a later
// step that acts on what it read reads again.
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "handler/HDSCommandHandler.h"
#include "handler/HDSCommandHandlerInternal.h"

namespace {

// Ids one listing spans at the most: a CU's worth. Ids further apart are
// listed apart, so that scattered ids never list the ids between them.
constexpr int kLdevsPerListing = 256;

bool decimalId(const std::string& text, int& id) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  id = std::atoi(text.c_str());
  return true;
}

}  // namespace

bool ZRHDSCommandHandler::listLdevs(const std::vector<std::string>& ids,
                                    std::map<std::string, HDSLdevInfo>& out) {
  static const char kFn[] = "listLdevs";
  std::set<int> wanted;
  for (const std::string& text : ids) {
    int id = 0;
    if (!decimalId(text, id)) {
      logMessage(2, kFn, "LDEV-[%s] is no LDEV id.", text.c_str());
      return fail(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to query LDEV info.");
    }
    wanted.insert(id);
  }
  for (auto next = wanted.begin(); next != wanted.end();) {
    const int first = *next;
    int last = first;
    while (next != wanted.end() && *next - first < kLdevsPerListing) last = *next++;
    std::vector<HDSLdevInfo> rows;
    if (m_pImplementer->getLdevSpan(first, last - first + 1, rows) != 0) {
      return copyImplementerError();
    }
    for (HDSLdevInfo& row : rows) {
      const std::string id = row.ldevId;
      out[id] = std::move(row);
    }
  }
  for (int id : wanted) {
    if (out.count(std::to_string(id)) != 0) continue;
    logMessage(2, kFn, "The listing does not show LDEV-[%d].", id);
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
