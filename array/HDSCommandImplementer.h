// ZRHDSCommandImplementer: the abstract array command interface.
//
// Every question the plug-in asks a Hitachi array and every change it makes
// there goes through one of the pure virtual operations below. The snapshot
// command handler owns exactly one implementation (ZRHDSRaidcomImplementer,
// the CCI one) through a single-owner pointer; it reads
// getIsInitializedStatus right after construction and, after every failed
// call, copies the (code, text) pair out with getErrorCodeString.
//
// Result convention: initialize returns 1 on success and 0 on failure; every
// other virtual operation returns 0 on success and non-zero on failure, and on
// failure leaves (code, text) in the error pair (62601 is the generic array
// command failure). The non-virtual accessors always return 1. Nothing here
// throws into the host.
//
// Thread-safety: one object serves one job on one thread. The process-wide
// local host name is guarded internally, so objects on different threads may
// be constructed at the same time.
#ifndef ZR_ARRAY_HDSCOMMANDIMPLEMENTER_H
#define ZR_ARRAY_HDSCOMMANDIMPLEMENTER_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "records/HDSRecords.h"

namespace ZRSO {
class SnapInfo;
class ZROSUtil;
}  // namespace ZRSO

// Kind of resource named by the resource-group operations.
enum HDSResourceType {
  HDS_RESOURCE_LDEV = 1,          // an LDEV id
  HDS_RESOURCE_DEVICE_GROUP = 2,  // an SSID (with an emulation type for map)
  HDS_RESOURCE_PORT = 3           // a port, or a host group on a port
};

// One snapshot pair (its P-VOL LDEV and MU) and, for an association, the
// target LDEV: an item of the batch operations. group: the snapshot group
// the caller listed the pair in; empty when the job's records name it (the
// batch then looks for the pair in the group they give, and in its P-VOL's
// listing when it is not there).
struct HDSSnapshotPairRef {
  std::string pvol;
  std::string mu;
  std::string target;
  std::string group = std::string();
};

// Earlier names of the error codes of records/HDSConstants.h, kept for
// callers written against them; new code uses the ZR_HDS_ERR_ names.
enum {
  ZRHDS_ERR_COMMAND_FAILED = ZR_HDS_ERR_ARRAY_COMMAND,
  ZRHDS_ERR_LOGIN_FAILED = ZR_HDS_ERR_LOGIN,
  ZRHDS_ERR_HORCM_START_FAILED = ZR_HDS_ERR_HORCM_START
};

class ZRHDSCommandImplementer {
 public:
  // Binds the job's options, per-snap records and OS-utility pointer from
  // params (references, not copies) and the caller's logging pointer
  // variable; resolves the process-wide local host name (not for create
  // jobs, operation type 8). A failed name lookup leaves error 62601 but
  // does not stop construction.
  ZRHDSCommandImplementer(ZRSO::SnapInfo*& snapInfo, ZRHDSCommandHandlerInputParams& params);
  // Clears the initialised flag and writes null into both pointer variables
  // that the constructor bound (the handler's logger and the OS utility).
  virtual ~ZRHDSCommandImplementer();

  ZRHDSCommandImplementer(const ZRHDSCommandImplementer&) = delete;
  ZRHDSCommandImplementer& operator=(const ZRHDSCommandImplementer&) = delete;

  int getIsInitializedStatus(bool& initialized);
  int setIsInitializedStatus(bool initialized);
  int getErrorCodeString(int& code, std::string& text);
  // Always stores code; stores text only when it is not empty, so an empty
  // text keeps the previous one.
  int setErrorCodeString(int code, std::string text);

  // Prepares the implementation for use (command devices, CCI checks,
  // settings, HORCM instance file and start, microcode check) and sets the
  // initialised flag. 1 success, 0 failure with the error pair set.
  virtual int initialize() = 0;
  // Reference-counted array login shared by all processes of the machine;
  // only the first holder (or force) runs the CCI login. 1 with 62602
  // "Failed to login into array." on failure.
  virtual int login(bool force) = 0;
  // Lowers the login count; the last holder runs the CCI logout (and, when so
  // configured, shuts its HORCM instance down). 62601/62602 on failure.
  virtual int logout() = 0;
  // On a virtual storage machine: makes the resource group of the job's
  // first source LDEV the job's resource group. 0 at once otherwise. 62601
  // "Unable to find resource group corresponging to source LDEV..." on failure.
  virtual int getResourceGroupFromLdev() = 0;
  // Lists the array's resource groups keyed by name (map cleared first);
  // keyOption asks for virtual serial and model instead of the lock status.
  // 62601 "Failed to get status of resource group-[...]" on failure.
  virtual int getResourceGroupInfo(std::map<std::string, ResourceGroupInfo>& groups,
                                   bool keyOption) = 0;
  // Replaces each entry (serial, ldevId given) by the array's record of that
  // LDEV. 0 all read, 2 some, 1 none; an unread entry sets 62601
  // "Failed to query LDEV info.".
  virtual int getLdevInfo(std::vector<HDSLdevInfo>& ldevs) = 0;
  // Lists the replication pairs of a host group (port "-" GID) for MU 0..2
  // into pairs (cleared first). 62601 on the first failing scan.
  virtual int getRemotePairInfoForHostGroup(const std::string& hostGroup,
                                            std::vector<HDSPairInfo>& pairs) = 0;
  // Lists every pool into pools. 62601 "Failed to get Pool list" on failure.
  virtual int getPoolList(std::vector<HDSPoolInfo>& pools) = 0;
  // Reads the first data row of the raidqry host listing; a listing without
  // a data row is a failure. 62601 "Failed to get Hostname used by the CCI".
  virtual int getCCIRaidqryInfo(HDSRaidqryInfo& info) = 0;
  // Locks (unlock false) or unlocks a resource group with the raidcom lock
  // time-out; noName names no group (all groups of the user). 62601
  // "Failed to lock|unlockResource Group-<name>" on failure.
  virtual int lockUnlockResourceGroup(std::string groupName, bool unlock, bool noName) = 0;
  // Appends the snapshot pairs of the snapshot group key (byLdev false), of
  // the LDEV key, or of the whole array (byLdev true, key empty). An empty
  // listing is success; a group the array does not hold ("No such Object")
  // lists nothing. A group listing without a row, or a row cut short, is
  // not the array's answer. 62601 "Failed to get the snapshot group list".
  virtual int getSnapshotGroupList(std::vector<HDSSnapshotGroupInfo>& list, const std::string& key,
                                   const bool& byLdev) = 0;
  // Adds each job source as a targetless snapshot pair of the job's pool and
  // snapshot group, in batches under the command-status check (as the batch
  // operations below); no add is sent after a failed one (the rest of the
  // failing batch was sent already). 62601 "Failed to create targetless
  // snaps.".
  virtual int addToSnapshotGroup() = 0;
  // Runs a snapshot-data operation ("create", "resync", "restore", "split")
  // on the target chosen by the keys S_LDEV_NUM, SNAP_GRP or MU_NUM with
  // P_LDEV_NUM. 62601 "Failed to <op> snapshot on ..." on failure.
  virtual int modifySnapshot(const std::map<std::string, std::string>& keys,
                             const std::string& operation) = 0;
  // Deletes the targetless snapshot pair (ldev, mu). 62601
  // "Failed to delete targetless snap, LDEV-[..], MU-[..]" on failure.
  virtual int deleteSnapshot(const std::string& ldev, const std::string& mu) = 0;
  // Highest LDEV id the array accepts (model table, probe of that id; 16383
  // when the probe is refused). 1 when the model is unknown or the resource
  // query fails.
  virtual int getMaxLdevNumber(int& maxLdev) = 0;
  // Appends the array's record of every id from first to first + count - 1
  // ("get ldev -ldev_id <first> -cnt <count>": an id that holds no LDEV is
  // listed as NOT DEFINED), in listing order. A block of another array or
  // outside the span, an id listed twice, or text without any block is not
  // the array's answer. count 1 to 65280. 62601 "Failed to list the LDEVs
  // <first> to <last>." on failure.
  virtual int getLdevSpan(int first, int count, std::vector<HDSLdevInfo>& ldevs) = 0;
  // The LDEVs at ids (decimal), by id, read with one getLdevSpan per run of
  // ids less than 256 apart (ids far apart never list the ids between them).
  // An id a listing does not show, or whose listing failed, is left out of
  // listed; 62601 when a listing failed (the others are read all the same).
  virtual int listLdevsAt(const std::vector<std::string>& ids,
                          std::map<std::string, HDSLdevInfo>& listed) = 0;
  // Appends the LDEVs selected by the bit-keyed filter (kind, CU/range, pool,
  // resource group, label). Exit 246 (nothing matched) is success. 62601
  // "Failed to get the LDEV list form the array." on failure.
  virtual int getLdevList(std::vector<HDSLdevInfo>& ldevs,
                          const std::map<int, std::string>& filter) = 0;
  // What createSvols tells its caller of each new LDEV while it runs, so
  // that the caller's record of the LDEVs it made follows the array:
  // accepted(id) right after the array accepted the add of LDEV id (before
  // the next command is sent), while the LDEV carries no label yet;
  // settled(ids, mayBeAnothers) once accepted adds need that record no
  // more: first (mayBeAnothers) those the batch's read-back does not prove
  // the job's, before anything else is sent, then the rest once they carry
  // the job's label. settled is true when the record no longer marks them;
  // an LDEV still marked is never deleted by the call (a mark left on an id
  // whose LDEV is gone could pass someone's later LDEV there for the job's).
  struct NewLdevWatch {
    std::function<void(const std::string&)> accepted;
    std::function<bool(const std::vector<std::string>&, bool mayBeAnothers)> settled;
  };
  // Creates the job's target LDEVs (in batches under the command-status
  // check, each labelled once the array proves it the job's, with undo of
  // this call's LDEVs on failure) and then arranges them in the job's
  // resource group. 62601 "Failed to Create LDEV-<id>" or the
  // resource-group step's text.
  virtual int createSvols(const NewLdevWatch& watch) = 0;
  // Deletes a target LDEV (first out of the job's resource group); an LDEV
  // the array no longer has counts as deleted. 62601
  // "Failed to delete LDEV-[<id>]" on failure.
  virtual int deleteSvols(const std::string& ldev) = 0;
  // Removes the virtual mapping of a resource. 62601 "Failed to cancel the
  // arrangement of the resource-[..] in ResourceGroup-[..]".
  virtual int unmapFromResourceGroup(const std::string& resource,
                                     const std::string& virtualResource,
                                     const HDSResourceType& kind) = 0;
  // Adds a resource to the job's resource group. 62601 "Failed to add the
  // resource-[..] in ResourceGroup-[..]".
  virtual int addToResourceGroup(const std::string& resource, const HDSResourceType& kind) = 0;
  // Maps a resource to a virtual id (or an SSID to an emulation type). 62601
  // "Failed to arrange the resource-[..] in ResourceGroup-[..]".
  virtual int mapToResourceGroup(const std::string& resource, const std::string& virtualResource,
                                 const HDSResourceType& kind) = 0;
  // Removes a resource from the job's resource group. 62601 "Failed toremove
  // the resource-[..] from ResourceGroup-[..]".
  virtual int deleteFromResourceGroup(const std::string& resource, const HDSResourceType& kind) = 0;
  // Associates target LDEV with the snapshot (pvol, mu). 62601 "Failed to
  // map target LDEV-[..] to Snap-[..-MU..].".
  virtual int mapSnapshot(const std::string& pvol, const std::string& target,
                          const std::string& mu) = 0;
  // Ends the association of the target with the snapshot (pvol, mu). 62601
  // "Failed to unmap target LDEV associated with Snap-[..-MU..].".
  virtual int unmapSnapshot(const std::string& pvol, const std::string& mu) = 0;

  // ---- Batches of the commands the array carries out after the tool returned
  // Each runs its items' commands in batches (at most 64 commands each): one
  // command-status reset, the commands, one status read, with the machine's
  // serialisation of such commands held for the batch. done (resized to the
  // items) tells which items took effect: every command of a batch whose
  // status counts no error; otherwise what the array's state, read back,
  // shows. An item whose outcome cannot be told is not done. 0 when every
  // item took effect; else 1 with the error pair of the first item that did
  // not (its text as the single-item operation's).
  // map and unmap stop at the first failure: no later item is sent (those of
  // the failing batch already sent run their course and are read back).
  virtual int mapSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                               std::vector<bool>& done) = 0;
  virtual int unmapSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                                 std::vector<bool>& done) = 0;
  // Every item is sent, whatever became of the others; a pair the array no
  // longer has counts as deleted (delete) or as cleared (resync).
  virtual int deleteSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                                  std::vector<bool>& done) = 0;
  virtual int resyncSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                                  std::vector<bool>& done) = 0;
  // Deletes target LDEVs as deleteSvols does each, pausing pauseSeconds after
  // each deletion (each then a batch of its own); stops at the first failure.
  virtual int deleteSvolBatch(const std::vector<std::string>& ldevs, int pauseSeconds,
                              std::vector<bool>& done) = 0;

  // Sets (revert false) or restores (revert true) the labels of the snaps'
  // target LDEVs by a script; on failure the other script runs. 62601
  // "Failed to modify the S-VOL labels.".
  virtual int modifySvolLabel(const std::vector<ZRHDSSnapInfo>& snaps, bool revert) = 0;
  // Appends the LU paths of a host group (GID digits, or a name). 62601
  // "Failed to get LUNs on the port-[..], HostGroup-[..]".
  virtual int getLunsForHostGroup(const std::string& port, const std::string& hostGroup,
                                  std::vector<HDSLunInfo>& luns) = 0;
  // Adds an LU path; "already defined" counts as success. 62601 "Failed to
  // map LDEV-[..] to the HostGroup-[..-..]".
  virtual int mapLdevToHostGroup(const std::string& ldev, const std::string& port,
                                 const std::string& hostGroup) = 0;
  // Creates a host group and (outside meta_resource) moves it into the job's
  // resource group, deleting it again when that fails. 62601 "Failed to
  // create HostGroup-[..-..]".
  virtual int createHostGroup(const std::string& port, const std::string& name) = 0;
  // Deletes a host group (number or name). 62601 on failure.
  virtual int deleteHostGroup(const std::string& port, const std::string& hostGroup) = 0;
  // Lists the port's host groups into info (optionally their WWNs, stopping
  // after the group holding wwn). 62601 "Failed to get the HostGroup list
  // for port-[..]".
  virtual int getPortHostGroupList(const std::string& port, const std::string& hostGroupName,
                                   HDSPortInfo& info, bool collectWwns, const std::string& wwn,
                                   const bool& ownResourceGroupOnly) = 0;
  // Reads the WWNs registered in one host group. 62601 on failure.
  virtual int getHostGroupInfo(const std::string& port, const std::string& hostGroupNumber,
                               HDSHostGroupInfo& info) = 0;
  // Appends every port once (name, type, serial, WWN). 62601 "Failed to get
  // the port list on the array.".
  virtual int getPortList(std::vector<HDSPortInfo>& ports) = 0;
  // Appends the WWNs / iSCSI names logged in at a port. 62601 "Failed to get
  // the HostGroup list for the port-[..]".
  virtual int getPortLoginWWNList(const std::string& port, HDSPortInfo& info) = 0;
  // Host group (port "-" group) through which this host reaches the first
  // command device; empty when the scan shows no data line. 62601 on failure.
  virtual int getHostGroupOfCommandDevice(std::string& hostGroup) = 0;
  // Deletes an LU path; exit 205 (already gone) is success. Code 2 "LU is
  // executing host I/O", 3 "last path of Snapshot", else 62601.
  virtual int unmapLdevFromHostGroup(const std::string& ldev, const std::string& port,
                                     const std::string& hostGroup) = 0;
  // Appends the copy groups named copyGroupName (all when empty). 62601
  // "Failed to get the Copy Group list.".
  virtual int getCopyGroup(std::vector<HDSCopyGroup>& groups, const std::string& copyGroupName) = 0;
  // Current Q-marker of a copy group (non-empty hexadecimal text). 62601
  // "Failed to find QMarker for the CopyGroup-[..]".
  virtual int getQMarkerForCopyGroup(const std::string& copyGroup, std::string& qmarker) = 0;
  // Waits up to seconds for the Q-marker to be committed; committed tells
  // the outcome when the check ran (result 0). 1 with 62601 "Failed to check
  // Q-Marker-[..] commit." when the command failed otherwise.
  virtual int pairSyncWait(const std::string& copyGroup, const std::string& qmarker,
                           const int& seconds, bool& committed) = 0;

  // The process-wide local host name (empty until resolved).
  static std::string getLocalHostName();

 protected:
  // Fills the process-wide local host name once per process (not for
  // operation type 8).
  void init();
  // Logs through the object the caller's logging pointer points to now;
  // does nothing when it is null. level 0 detail, 1 progress, 2 error.
  void logMessage(int level, const char* function, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  // The one way this layer reports a failure it found itself: logs the
  // formatted line at level 2 under function, sets (code, text) and returns
  // 1, so a caller writes `return failLogged(...)`.
  int failLogged(int code, const std::string& text, const char* function, const char* format, ...)
      __attribute__((format(printf, 5, 6)));
  // The error pair before a step that may overwrite it (a read-back, an
  // undo); the step puts it back, so the failure that is reported keeps
  // its own text.
  struct SavedError {
    int code;
    std::string text;
  };
  SavedError saveError() const { return {m_nErrorCode, m_sErrorString}; }
  void restoreError(const SavedError& saved) {
    m_nErrorCode = saved.code;
    m_sErrorString = saved.text;
  }

  int m_nOperationType;
  ZRHDSSnapOptions& m_oSnapOptions;
  std::vector<ZRHDSSnapInfo>& m_vSnaps;
  bool m_bIsInitialized;
  int m_nErrorCode;
  std::string m_sErrorString;
  ZRSO::SnapInfo*& m_pSnapInfo;
  ZRSO::ZROSUtil*& m_pOSUtil;

  // Test seam: replaces the host-name resolution for this process (tests
  // only; see array/tests/support).
  static void setLocalHostNameForTesting(const std::string& name);

 private:
  friend class ZRHDSRaidcomTestPeer;

  // Process-wide; read and written only under a mutex of this class.
  static std::string m_sLocalHostName;
};

#endif  // ZR_ARRAY_HDSCOMMANDIMPLEMENTER_H
