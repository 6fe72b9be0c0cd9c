// Helpers shared by the handler's operation files. Internal to handler/.
#ifndef ZR_HANDLER_HDSCOMMANDHANDLERINTERNAL_H
#define ZR_HANDLER_HDSCOMMANDHANDLERINTERNAL_H

#include <cctype>
#include <map>
#include <string>

#include "records/HDSRecords.h"

namespace zrhds_handler {

// Section of the plug-in's settings.
constexpr const char kSettingsSection[] = "~Tessavon";

// The text upper-cased (names and WWNs are compared so).
inline std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Key of a snapshot pair within one group: LDEV "-" MU (for example 256-3).
inline std::string pairKey(const std::string& ldev, const std::string& mu) {
  return ldev + "-" + mu;
}
inline std::string pairKey(const HDSSnapshotGroupInfo& row) {
  return pairKey(row.ldevId, row.muNumber);
}

// LDEV attribute flags (HDSLdevInfo::volAttr) that the handler tests.
constexpr int kLdevAttrUndefined = 0x1;  // the id holds no LDEV
constexpr int kLdevAttrGad = 0x100000;   // part of a GAD pair
// Kinds refused as a snapshot source: CMD, LUSE, ALUN, VVOL, POOL, ENCD,
// SYSD, TSE, QRD, JNL, CLUN.
constexpr int kLdevAttrRefusedSource =
    0x2 | 0x8 | 0x10 | 0x40 | 0x200 | 0x1000 | 0x2000 | 0x4000 | 0x20000 | 0x40000 | 0x80000;

// VOL_TYPE (blanks removed) of an id that holds no LDEV.
constexpr const char kVolTypeUndefined[] = "NOTDEFINED";

// ---- Resource-group lock decisions (HDSCommandHandlerLock.cpp) ----------
// Lock statuses of the resource-group listing.
constexpr const char kResourceLocked[] = "Locked";
constexpr const char kResourceUnlocked[] = "Unlocked";

// What one status listing tells the lock step to do with the group.
enum class LockStep : int {
  kNotListed,  // the group is not in the listing: ask again
  kTake,       // "Unlocked": lock it
  kTakeOver,   // locked by this login on this host (left over): hold it as is
  kWait,       // locked by another user or host: pause and ask again
  kUnknown,    // any other status: ask again at once
};
// What the last holder's unlock does with the group.
enum class UnlockStep : int {
  kNotListed,        // refuse: no status to judge
  kAlreadyUnlocked,  // leave without a command
  kLocked,           // release it when this login on this host holds it
  kUnknown,          // refuse: unknown status
};

// The group is "Locked" by user as CCI reports this host (cciHost).
bool lockedByThisLogin(const ResourceGroupInfo& group, const std::string& user,
                       const std::string& cciHost);
LockStep lockStepFor(const std::map<std::string, ResourceGroupInfo>& groups,
                     const std::string& group, const std::string& user,
                     const std::string& cciHost);
UnlockStep unlockStepFor(const std::map<std::string, ResourceGroupInfo>& groups,
                         const std::string& group);
// The release names no group (all groups of the user) when any holder took
// all groups, or another group is locked by this login on this host.
bool releasesAllGroups(const std::map<std::string, ResourceGroupInfo>& groups,
                       const std::string& group, const std::string& user,
                       const std::string& cciHost, bool anyHolderWide);

}  // namespace zrhds_handler

// ---- Deletion plan (HDSCommandHandlerDelete.cpp) ------------------------
#include <set>
#include <vector>

namespace zrhds_handler {

// What the deletion of one group's requested pairs does, decided from the
// group's listing alone.
struct DeletePlan {
  std::vector<HDSSnapshotGroupInfo> unrequestedInPair;  // need the group-delete override
  HDSSnapshotGroupInfo restoring;  // a requested pair in RCPY (ldevId "" none): refused
  std::set<std::string> listed;    // requested pairs the listing shows
  std::set<std::string> toClear;   // requested pairs whose snapshot data is cleared first
  std::vector<HDSSnapshotGroupInfo> keptData;  // requested pairs whose state keeps their data
  std::vector<HDSSnapshotGroupInfo> keptBySetting;  // ... kept by nZRHDSDoNotDeleteSnapShotData
};

// Why row (a listing by P-VOL) shows that the pair of snap's record
// belongs to another group than the record names; "" when it does not.
std::string storedPairRefusal(const ZRHDSSnapInfo& snap, const HDSSnapshotGroupInfo& row);

// The plan for rows (the group's listing) and the requested pair keys;
// keepData: no snapshot data is cleared. Pure.
DeletePlan planGroupDeletion(const std::vector<HDSSnapshotGroupInfo>& rows,
                             const std::vector<std::string>& requested, bool keepData);

}  // namespace zrhds_handler

// ---- Shared by the S-VOL, host-group and LUN-path operations ------------
#include <vector>

#include "array/HDSCommandImplementer.h"

namespace zrhds_handler {

// The pre-snap host group of the job: "QB_PSHG_" + the array id (the virtual
// serial) on a virtual storage machine, else "QB_PRE_SNAP_HOST_GROUP".
inline std::string preSnapHostGroupName(const ZRHDSSnapOptions& options) {
  return options.isVSM ? ZR_HDS_PRE_SNAP_HOST_GROUP_VSM_PREFIX + options.arrayId
                       : std::string(ZR_HDS_PRE_SNAP_HOST_GROUP);
}

// Queries one LDEV (serial, id) into out; the implementation's result (0 ok).
inline int queryOneLdev(ZRHDSCommandImplementer& impl, const std::string& serial,
                        const std::string& ldevId, HDSLdevInfo& out) {
  std::vector<HDSLdevInfo> rows(1);
  rows[0].serial = serial;
  rows[0].ldevId = ldevId;
  const int result = impl.getLdevInfo(rows);
  if (result == 0) out = rows[0];
  return result;
}

// Splits a host-group text at its last "-" into port and host group; a text
// without "-" gives the whole text as both.
inline void splitHostGroupText(const std::string& text, std::string& port, std::string& hostGroup) {
  const size_t dash = text.rfind('-');
  port = dash == std::string::npos ? text : text.substr(0, dash);
  hostGroup = dash == std::string::npos ? text : text.substr(dash + 1);
}

}  // namespace zrhds_handler

#endif  // ZR_HANDLER_HDSCOMMANDHANDLERINTERNAL_H
