// ZRHDSCommandHandler: the array side of one job.
//
// One array information container creates one handler per job and is its
// only caller. The handler owns the one array command implementation
// (ZRHDSCommandImplementer) and turns each of its own operations into one or
// more implementation operations and decisions; results land in the
// container's options and per-snap records, which the handler reaches through
// pointers (they stay the container's).
//
// Conventions of every operation:
//  - bool result: true success, false failure with the error pair holding
//    the reason (read it with getErrorCodeString);
//  - a failed implementation operation's (code, text) pair is copied into the
//    handler's, so the lowest layer's code reaches the host; a handler code
//    of its own replaces it only where the operation says so;
//  - logging goes through the first record's host object, under
//    "ZRHDSCommandHandler::<method>"; level 0 detail, 1 progress, 2 errors;
//  - settings are read from section "~Tessavon" into a preset default.
//
// Thread-safety: one handler serves one job on the host's calling thread.
// Machine-wide state (the array resource-group lock holders, snapshot-group
// locks) is shared through the host's named locks and settings store.
#ifndef ZR_HANDLER_HDSCOMMANDHANDLER_H
#define ZR_HANDLER_HDSCOMMANDHANDLER_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "array/HDSCommandImplementer.h"
#include "records/HDSRecords.h"
#include "util/ZRHDSHolderCount.h"
#include "util/ZRHDSIntentRecord.h"

namespace ZRSO {
class SnapInfo;
class ZROSUtil;
}  // namespace ZRSO

class ZRHDSLock;
namespace zrhds_handler {
struct DeletePlan;
}  // namespace zrhds_handler

namespace zrhds_handler {
enum class LockStep : int;  // HDSCommandHandlerInternal.h
struct IntentContext;       // HDSIntentProof.h
}  // namespace zrhds_handler

// Builds the command implementation of a handler. logger is the handler's
// own logger member: the implementation keeps a reference to it (and writes
// null into it when destroyed). Returns null when it cannot build one.
using ZRHDSImplementerFactory = std::function<std::unique_ptr<ZRHDSCommandImplementer>(
    ZRSO::SnapInfo*& logger, ZRHDSCommandHandlerInputParams& params)>;

class ZRHDSCommandHandler {
 public:
  // Copies the option and record references, the OS utility and the
  // implementer type and operation from params, then runs init(params).
  // Never fails by itself: ask IsHandlerInitialized() and, when false,
  // getErrorCodeString.
  explicit ZRHDSCommandHandler(ZRHDSCommandHandlerInputParams& params);
  // As above, but init uses the given implementation instead of building
  // one (null: as when none could be built). The implementation was built
  // over params by the caller.
  ZRHDSCommandHandler(ZRHDSCommandHandlerInputParams& params,
                      std::unique_ptr<ZRHDSCommandImplementer> implementer);
  // As above, with a factory that builds the implementation bound to the
  // handler's logger member.
  ZRHDSCommandHandler(ZRHDSCommandHandlerInputParams& params, ZRHDSImplementerFactory factory);
  // Releases the array resource-group lock still held (with the scope it was
  // taken with), logs out when logged in, destroys the implementation.
  ~ZRHDSCommandHandler();

  ZRHDSCommandHandler(const ZRHDSCommandHandler&) = delete;
  ZRHDSCommandHandler& operator=(const ZRHDSCommandHandler&) = delete;

  // Process-wide replacement of the implementation that handlers built by
  // the plain constructor create for implementer type 1 (tests of the
  // layers above; an empty factory restores the CCI implementation).
  static void setDefaultImplementerFactory(ZRHDSImplementerFactory factory);

  // ---- Object, initialisation, error pair, flags ------------------------
  // Login count key, implementation, login, resource group; true when the
  // handler is ready. Each failure clears the initialized flag.
  bool init(ZRHDSCommandHandlerInputParams& params);
  bool getErrorCodeString(int& code, std::string& text);
  // Always stores code; stores text only when it is not empty.
  bool setErrorCodeString(int code, std::string text);
  bool IsHandlerInitialized();
  bool getIsInitializedStatus(bool& initialized);
  bool getIsLoggedIn(bool& loggedIn);
  bool getIsResourceLocked(bool& locked);
  bool setIsInitializedStatus(bool initialized);
  bool setIsLoggedIn(bool loggedIn);
  bool setIsResourceLocked(bool locked);

  // ---- Source-device and pool checks -------------------------------------
  // Appends and reads one HDSLdevInfo per record; refuses missing and
  // unsupported kinds of source; sets the records' capacities and, when
  // none is configured, the pre-snap port.
  bool checkAndVerifySourceDevices(std::vector<HDSLdevInfo>& ldevs);
  // Resolves the options' pool (id or name) to its id and checks its status
  // and usage; an empty pool is accepted without a command.
  bool checkAndVerifyPoolStatus();

  // ---- Array resource-group lock -----------------------------------------
  // Takes or shares the array's resource-group lock; allGroups locks all
  // resource groups of the user instead of "meta_resource" by name.
  bool lockResource(bool allGroups);
  // Gives up this handler's share; the last holder on the machine releases
  // the lock (all groups when any holder widened it), and only when this
  // login on this host holds it. allGroups is the caller's scope; the
  // release follows what the holders took.
  bool unlockResource(bool allGroups);

  // ---- Replication, GAD and virtual storage machine discovery ------------
  bool getGADPairInfoForDevices();
  bool getReplPairInfoForDevices();
  bool checkIfVirtualArray();

  // ---- Targetless snapshot creation --------------------------------------
  bool createTargetlessSnap();
  bool WaitForSnapshotsToBeInPairState();

  // ---- Snapshot deletion and snapshot-data clearing ----------------------
  bool deleteTargetlessSnap();
  bool deleteSnapshotData(std::vector<HDSSnapshotGroupInfo>& rows,
                          std::vector<std::string>& requestedKeys,
                          std::set<std::string>& keysToClear, ZRHDSLock& groupLock);

  // ---- Snapshot split, Q-marker, revert and reconcile --------------------
  bool splitTargetLessSnaps();
  bool getQMarker(std::string& qmarker);
  bool waitForQMarkerCommit(const std::string& qmarker);
  bool revertUsingTargetLessSnaps(
      const std::map<std::string, std::vector<std::pair<std::string, std::string>>>& groups);
  bool WaitForSnapshotsToReverseCopy(const std::string& group,
                                     const std::vector<std::pair<std::string, std::string>>& pairs);
  bool reconcileSnapDevices(
      std::map<std::string, std::map<std::pair<std::string, std::string>, bool>>& groups);

  // ---- S-VOL selection and creation --------------------------------------
  bool checkAlreadyCreatedTargets(int& count);
  bool getFullLdevList(std::vector<HDSLdevInfo>& fullLdevList);
  bool allocateTargetDevices(const std::vector<HDSLdevInfo>& fullLdevList);
  bool findSvolsForSource();
  bool parseCURange(std::set<std::string>& cus, int& maxCU);
  bool createSvolsForSource(const std::vector<HDSLdevInfo>& fullLdevList);

  // ---- S-VOL association and release -------------------------------------
  bool mapLdevsToTargetlessSnaps();
  bool unmapLdevsFromTargetlessSnaps();
  bool markSvolsUsedForSource();
  bool deallocateTargetDevices();
  bool freeSvolsForSource();
  bool deleteSvolsForSource();

  // ---- Host-group selection and LUN mapping ------------------------------
  bool findHostGroup(const std::string& port, std::string& hostGroup);
  bool mapDevicesToHostGroup(const std::string& port, const std::string& hostGroup);
  bool mapReplication(const std::vector<std::string>& hostGroups);
  bool findHostGroupToMap(std::vector<std::string>& hostGroups);

  // ---- LUN unmapping and target status checks ----------------------------
  bool checkTargetVolumeStatusForUnmap(int& count);
  bool checkTargetVolumeStatusForDelete(int& snaps, int& targets);
  bool unmapReplication(const std::map<int, std::string>& hostGroupsBySnapId);
  bool unmapDeviceFromHostGroup(const std::string& port, const std::string& hostGroup,
                                const std::string& ldev);
  bool getHostGroupsToUnmapForMNM(std::map<int, std::string>& hostGroupsBySnapId);
  // Proves, for each record i with fromRecord[i] (its snapLdevId taken from
  // a stored record), that the LDEV is the S-VOL of the record's pair (P-VOL
  // baseDevNo, MU snapMu on the bound array) or carries the record's S-VOL
  // label, and is no source. refusals[i]: "" when proved, or when the LDEV
  // is no longer defined (nothing of it can change); else why not, as
  // "is ...". Queries only. false with the implementation's error when a
  // query fails.
  bool proveStoredTargets(const std::vector<bool>& fromRecord, std::vector<std::string>& refusals);
  // (HDSCommandHandlerTrust.cpp) Lists each group the records name once: a
  // group that does not hold a record's pair (P-VOL baseDevNo, MU snapMu)
  // is not the device's to act on, and the call fails with
  // ZR_HDS_ERR_STORED_RECORD and a text naming the group and the pair, also
  // recorded on that device. Queries only; false with the implementation's
  // error when a listing fails.
  bool proveStoredGroups();

  // ---- Records of what the job creates (HDSCommandHandlerIntent.cpp) -----
  // Before the first pair of a snapshot group and before the S-VOLs are
  // created, the job records them durably (ZRHDSIntentRecord); when the job
  // ends, what the devices' stored metadata names or what is gone from the
  // array again is dropped from the records, the rest stays for the next job.
  // The stored metadata of record index `record` now names what the job
  // made for that device (its snapshot group, or its S-VOL).
  void intentStored(size_t record);
  // Drops the job's records and leaves the array alone: what the job made
  // stays by the operator's choice (a failed prepare's pairs kept).
  void forgetIntents();

 private:
  // Shared by the constructors: copies params, clears flags and error.
  void bind(ZRHDSCommandHandlerInputParams& params);

  // ---- Helpers every operation file uses (HDSCommandHandler.cpp) ---------
  // Logs through the logger under "ZRHDSCommandHandler::" + method; does
  // nothing when there is no logger.
  void logMessage(int level, const char* method, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  // Copies the implementation's error pair into the handler's; false (so
  // a failing path can `return copyImplementerError();`).
  bool copyImplementerError();
  // Copies the implementation's pair as it is (an empty text included);
  // only when the copied code is 0 sets (code, text) instead. false.
  bool copyImplementerErrorOr(int code, const std::string& text);
  // Sets (code, text) and returns false.
  bool fail(int code, const std::string& text);
  // The error pair before a step that may fail and then recover; a step that
  // got past its own failures puts it back, so a later failure without a
  // code of its own never shows a recovered one.
  struct SavedError {
    int32_t code;
    std::string text;
  };
  SavedError saveError() const { return {m_nErrorCode, m_sErrorString}; }
  void restoreError(const SavedError& saved) {
    m_nErrorCode = saved.code;
    m_sErrorString = saved.text;
  }
  // The setting of section "~Tessavon", or preset when it is missing.
  static int readSetting(const char* key, int preset);

  // ---- Resource-group lock (HDSCommandHandlerLock.cpp) -------------------
  // The machine-wide holders of the array's lock; this handler's own entry
  // is the one its object added.
  ZRHDSHolderCount& resourceLockHolders();
  // The live holders and their widest scope; false with error 7 (logged
  // under method) when the list cannot be read.
  bool liveResourceLockHolders(const char* method, int& count, int& widest);
  // Records this handler as a holder of scope (the scope the array's lock
  // has now, so the widest scope taken stays recorded while any holder is
  // left) and sets the flag; on failure releases a lock taken just now
  // (lockedNow) and sets error 7.
  bool addResourceLockHolder(int scope, bool lockedNow);
  // A holder by name that now needs all groups: locks them and records
  // this handler's entry with the wider scope. REQUIRES: the mutex held.
  bool widenOwnResourceLock();
  // Logs and sets error 7 for the mutex not obtained; false.
  bool failResourceMutex(const char* method);
  // Steps of lockResource, each REQUIRES the mutex held. shared: this
  // handler now shares the lock of live holders (nothing more to do).
  bool shareWithLiveHolders(int scope, bool& shared);
  // once: one look at the array's status and no pause (tryLockResource).
  bool pollResourceLock(ZRHDSLock& mutex, int scope, const std::string& cciHost, bool once,
                        zrhds_handler::LockStep& step, ResourceGroupInfo& last, bool& shared);
  bool lockResourceWithin(bool allGroups, bool once);
  // As lockResource, but the array's lock is looked at once and never
  // waited for: false, with the error pair untouched, when another login or
  // host holds it (the recovery's take, which must not hold the job up).
  bool tryLockResource(bool allGroups);
  bool takeResourceLock(zrhds_handler::LockStep step, const ResourceGroupInfo& last,
                        bool allGroups);
  // Steps of unlockResource, each REQUIRES the mutex held.
  bool releaseArrayLock(bool anyHolderWide);
  bool leaveResourceLock();
  // Teardown after every release failed: gives this handler's holding up
  // (the array's lock stays for the next job to take over).
  void dropResourceLockHolding();

  // ---- Reads by listing (HDSCommandHandlerReads.cpp) ----------------------
  // The LDEVs at ids (decimal ids of the bound array) by id, read with one
  // span listing per run of ids within a CU's worth of ids: one command for
  // the S-VOLs or sources of a job, not one per id; no ids send nothing.
  // false with the listing's error, or 62601 "Failed to query LDEV info."
  // when an id is none or a listing does not show it.
  bool listLdevs(const std::vector<std::string>& ids, std::map<std::string, HDSLdevInfo>& out);
  // Listings of snapshot groups by name, each read once per step.
  using GroupListings = std::map<std::string, std::vector<HDSSnapshotGroupInfo>>;
  // The rows of snap's pair (P-VOL baseDevNo, MU snapMu) from the listing of
  // its stored group (listed through groups); when no group is stored or it
  // lists no such row, every row of the source LDEV, in whatever group (the
  // caller judges them). false with the listing's error.
  bool pairRowsOf(const ZRHDSSnapInfo& snap, GroupListings& groups,
                  std::vector<HDSSnapshotGroupInfo>& rows);

  // ---- Discovery (HDSCommandHandlerDiscovery.cpp) -------------------------
  // Pair rows of each host group read in one call, by "port-GID".
  using PairsByHostGroup = std::map<std::string, std::vector<HDSPairInfo>>;
  // Reads the record's source LDEV; error 4 naming the device when the
  // implementation left no code.
  bool readSourceLdev(const ZRHDSSnapInfo& snap, HDSLdevInfo& ldev);
  // Reads the pair rows of the LDEV's host groups not read yet and returns
  // the rows of the record's source LDEV from every host group read so far,
  // one per MU (a source seen through several host groups is listed once).
  bool collectPairCandidates(const ZRHDSSnapInfo& snap, const HDSLdevInfo& ldev,
                             PairsByHostGroup& byHostGroup, std::vector<HDSPairInfo>& candidates,
                             const char* method);
  void logPairRow(const char* method, const HDSPairInfo& row);

  // ---- Creation (HDSCommandHandlerCreate.cpp) ----------------------------
  // Lists the options' snapshot group and gives each row whose key is not
  // in existingKeys to one record of its LDEV not given a row yet (snap MU
  // and group); the sources of the records given none go to without.
  // false with the implementation's error when the listing fails.
  bool recordNewPairs(const std::set<std::string>& existingKeys,
                      std::vector<std::string>* without = nullptr);
  // Steps of createTargetlessSnap. chooseSnapshotGroup sets the options'
  // group (reused or new), leaves it locked in groupLock and, for a reused
  // group, its pairs' keys in existingKeys.
  bool chooseSnapshotGroup(const std::string& prefix, std::unique_ptr<ZRHDSLock>& groupLock,
                           std::set<std::string>& existingKeys);
  // prefix + host number and current time ("%X_%X").
  std::string newGroupName(const std::string& prefix);
  // Takes the named lock of group into lock; false with error 8.
  bool lockGroupName(const std::string& group, std::unique_ptr<ZRHDSLock>& lock);
  bool reuseGroupOf(const std::vector<HDSSnapshotGroupInfo>& all, const std::string& prefix,
                    const std::string& heldName, std::unique_ptr<ZRHDSLock>& nameLock,
                    std::unique_ptr<ZRHDSLock>& groupLock, std::set<std::string>& existingKeys,
                    bool& reused);
  bool groupTakesTheJob(const std::string& group, const std::vector<HDSSnapshotGroupInfo>& rows);
  // Under group's lock: an intent record of another job names it (it is
  // then neither reused nor made anew).
  bool anotherRecordNames(const std::string& group);
  bool claimNewGroup(const std::string& name, const std::vector<HDSSnapshotGroupInfo>* known,
                     std::unique_ptr<ZRHDSLock>& nameLock, std::unique_ptr<ZRHDSLock>& groupLock);
  // Adds the job's pairs to the options' group and records what was added
  // (also after an add that failed part way, for the clean-up).
  bool addAndRecordPairs(const std::set<std::string>& existingKeys);

  // ---- Deletion (HDSCommandHandlerDelete.cpp) ----------------------------
  // The group-delete override check of an unrequested pair in "PAIR": true
  // when the deletion of group may go on; false with error 9 otherwise.
  bool deleteOverrideAllows(const HDSSnapshotGroupInfo& row, const std::string& group);
  // The pair keys to delete by group, and the groups to list (those the
  // whole-array listing shows, and those of pairs not known to be gone).
  bool collectDeleteRequests(std::map<std::string, std::vector<std::string>>& requests,
                             std::set<std::string>& groupsToList);
  // The stored group of snap, else the options' group.
  const std::string& groupOf(const ZRHDSSnapInfo& snap) const;
  // The device already reports its pair deleted (20).
  static bool knownGone(const ZRHDSSnapInfo& snap);
  // Under the group's lock: plans and carries out the deletion of keys in
  // group (listed when listGroup); keys deleted are added to deleted, and
  // result is cleared when a pair stays after a failed resync or deletion.
  // false when the group cannot be locked, listed or deleted at all.
  bool deleteGroupPairs(const std::string& group, const std::vector<std::string>& keys,
                        bool listGroup, std::set<std::string>& deleted, bool& result);
  // The override check of every unrequested pair in PAIR, then the refusal
  // of a requested pair being restored; false with the error pair set.
  bool refuseUnsafeGroupDeletion(const zrhds_handler::DeletePlan& plan, const std::string& group);
  void logKeptData(const zrhds_handler::DeletePlan& plan, int keepData);
  // Deletes each listed pair still requested; see deleteGroupPairs.
  void deleteListedPairs(const std::vector<HDSSnapshotGroupInfo>& rows,
                         std::vector<std::string>& requested, std::set<std::string>& deleted,
                         bool& result);
  // Each record's pair not deleted by this call is looked for by its P-VOL:
  // absent, it joins deleted; listed (in whatever group), the device gets
  // ZR_HDS_ERR_STORED_RECORD and a text naming the pair and the stored
  // group, and the result is false with that pair.
  bool proveDeletedPairs(std::set<std::string>& deleted);

  // Logs text, records it on snap's device and fails with it.
  bool refuseStoredPair(const ZRHDSSnapInfo& snap, const std::string& text);

  // ---- Intent records (HDSCommandHandlerIntent.cpp) -----------------------
  // One record of this job; owners[k] is the record index (device) of entry
  // k, settled[k] whether it is stored in metadata or gone from the array.
  struct OpenIntent {
    ZRHDSIntentRecord record;
    std::vector<size_t> owners;
    std::vector<bool> settled;
    std::vector<bool> stored;  // settled as stored in metadata (not gone)
  };
  // Records the group the options name before pairs are added to it
  // (existingKeys: the pairs a reused group holds already). false with
  // error 62008 when the record cannot be written: nothing is added then.
  bool openGroupIntent(bool reused, const std::set<std::string>& existingKeys);
  // A reused group: the MUs the array gave the job's pairs go into its
  // record, so the recovery can tell them from the group's other pairs.
  void noteGroupMus();
  // Records the S-VOLs chosen for creation; false with error 62009 when the
  // record cannot be written: nothing is created then.
  bool openSvolIntent();
  // At the end of the job, while still logged in: the entries that are not
  // stored are asked of the array (one listing or LDEV query per record),
  // and those whose objects are gone count as settled.
  void settleIntents();
  // The job's last step, after the logout: each record hands its stored
  // entries to the host and drops its gone ones (ZRHDSIntentStore::
  // handOver), removed once it has none left. It runs as the exported call
  // ends (ZRHDSIntentCallScope), so that the records outlive every command,
  // scan and wait of the call: a job killed before its call returns to the
  // host leaves the records of what it made.
  void closeIntents();
  bool settleGroupEntries(OpenIntent& open);
  bool settleSvolEntries(OpenIntent& open);
  // Every LDEV id a record of this array names (live jobs' and dead ones'):
  // the S-VOL choice passes them over.
  std::set<std::string> idsOfIntents();
  // The host groups ("<port>-<GID>") the job is about to present its new
  // S-VOLs to go into their record first (a recovery removes paths only
  // there). false with error 62009 when the record cannot be written:
  // nothing is presented then.
  bool noteSvolHostGroups(const std::vector<std::string>& hostGroups);
  // The array accepted the add of S-VOL ldev, which carries no label yet:
  // its record marks it made (m_oMarkedSvols).
  void markSvolMade(const std::string& ldev);
  // The record need not tell ldevs from someone else's LDEVs any more
  // (labelled, or not proven the job's): their marks are taken back. true
  // when no record in recovery's reach marks them now. mayBeAnothers: a mark
  // that cannot be taken back puts the record out of recovery's reach;
  // otherwise the record stays, marks and all (harmless while the labelled
  // LDEV is there), and false says the job must not delete them.
  bool unmarkSvols(const std::vector<std::string>& ldevs, bool mayBeAnothers);

  // ---- Recovery of dead jobs' records (HDSCommandHandlerRecovery.cpp) ------
  // After the login: the records of this array whose job has ended are
  // taken under the locks a live job would take (each tried once, none
  // waited for), and what they name is removed when it is provably that
  // job's (HDSIntentProof.h); the rest is logged for an administrator and
  // its record kept. One job sends a bounded number of commands for it.
  // Never fails the job and leaves the error pair as it was.
  void recoverDeadJobs();
  // The commands this job may still send for recovery.
  struct RecoveryBudget {
    int left;
    // false (nothing spent) when fewer than commands are left.
    bool spend(int commands);
  };
  // What the running job and the live records name, from all records.
  zrhds_handler::IntentContext recoveryContext(const std::vector<ZRHDSIntentRecord>& records);
  void recoverGroupRecord(ZRHDSIntentRecord& record, const zrhds_handler::IntentContext& context,
                          RecoveryBudget& budget);
  // One P-VOL of a group record against the group's rows: true when it is
  // settled (the host's, nothing there, or its pairs removed).
  bool recoverGroupEntry(const ZRHDSIntentRecord& record, const ZRHDSIntentEntry& entry,
                         const std::vector<HDSSnapshotGroupInfo>& rows,
                         const zrhds_handler::IntentContext& context, RecoveryBudget& budget);
  void recoverSvolRecords(const std::vector<ZRHDSIntentRecord*>& records,
                          zrhds_handler::IntentContext& context, RecoveryBudget& budget);
  void recoverSvolRecord(ZRHDSIntentRecord& record, const zrhds_handler::IntentContext& context,
                         RecoveryBudget& budget);
  // The LDEVs at the record's ids, by id, from one listing of their span.
  bool listRecordedLdevs(const ZRHDSIntentRecord& record, std::map<std::string, HDSLdevInfo>& out);
  void logUnprovenSvol(const ZRHDSIntentRecord& record, const ZRHDSIntentEntry& entry,
                       const std::string& why);
  bool removeDeadJobSvol(const ZRHDSIntentEntry& entry, const HDSLdevInfo& ldev, bool associated,
                         RecoveryBudget& budget);
  // Writes what is left of a record (removed when nothing is). A record
  // that cannot be brought up to date is set aside, and failing that
  // removed: it may name objects the host stores now, and a recovery must
  // never take those.
  void keepRemainingEntries(ZRHDSIntentRecord& record, const std::vector<bool>& settled,
                            const char* method);
  // " -IM<instance> -s <serial>": the options of an administrator's command.
  std::string adminCommandOptions() const;

  // ---- Members (declaration order of the handler object) -----------------
  bool m_bIsResourceLocked;
  bool m_bIsInitialized;
  bool m_bIsLoggedIn;
  int32_t m_nErrorCode;
  std::string m_sErrorString;
  int32_t m_nImplementerType;
  int32_t m_nOperationType;
  ZRHDSSnapOptions* m_pSnapOptions;
  std::vector<ZRHDSSnapInfo>* m_pSnaps;
  std::unique_ptr<ZRHDSCommandImplementer> m_pImplementer;
  ZRSO::SnapInfo* m_pLogger;
  ZRSO::ZROSUtil* m_pOSUtil;
  // Scope of the resource-group lock this handler holds: true when it was
  // taken for all resource groups (unlock releases with this scope too).
  bool m_bResourceLockAllGroups;
  std::unique_ptr<ZRHDSHolderCount> m_pResourceLockHolders;
  // How init obtains the implementation: given, built by a factory, or the
  // CCI implementation.
  std::unique_ptr<ZRHDSCommandImplementer> m_pGivenImplementer;
  ZRHDSImplementerFactory m_fImplementerFactory;
  // The records of what this job creates, and where they are kept.
  ZRHDSIntentStore m_oIntentStore;
  std::vector<OpenIntent> m_vIntents;
  // S-VOLs that the array layer labelled as it created them (this
  // allocation): the labelling step passes them over.
  std::set<std::string> m_oLabelledAtCreation;
  // S-VOLs the job's open record may mark made (a mark whose flush failed
  // included) until unmarkSvols takes the mark back.
  std::set<std::string> m_oMarkedSvols;

  // ---- Helpers of the revert, S-VOL and LUN-path operations --------------
  // One group of revertUsingTargetLessSnaps: checks, restores, wait, splits.
  bool revertGroup(const std::string& group,
                   const std::vector<std::pair<std::string, std::string>>& pairs);
  // Polls the group until none of pairs (MU, LDEV) is restoring, or the
  // bound runs out (timedOut). lastStates: pair key -> status seen in the
  // last listing (absent: no row).
  bool waitForReverseCopy(const std::string& group,
                          const std::vector<std::pair<std::string, std::string>>& pairs,
                          std::map<std::string, std::string>& lastStates, bool& timedOut);
  // The batch of mapLdevsToTargetlessSnaps (associate) or of
  // unmapLdevsFromTargetlessSnaps; on failure logs the first record that
  // failed and undoes what took effect, keeping the failure's error.
  bool changeAssociations(bool associate);
  // Takes the listed records' S-VOLs out of the pre-snap host group and
  // gives them their former labels; refuses before any change when one is
  // presented to another host group.
  bool releaseSvols(const std::vector<size_t>& records);
  // Refuses the release of an S-VOL presented through paths (error 62010
  // naming the S-VOL and its host group); false.
  bool refusePresentedSvol(const std::string& svol, const std::vector<HDSLunInfo>& paths);
  // Logs (level 1) an S-VOL kept because nothing records whether the job
  // created it, with the commands an administrator would run to remove it.
  void logKeptSvolOfUnknownOrigin(const ZRHDSSnapInfo& snap);
  // Deletes the listed records' target LDEVs (with the pause after each
  // deletion on a virtual storage machine).
  bool deleteSvolsOfRecords(const std::vector<size_t>& records);
  // Host groups to present S-VOLs to when the job has no initiators: the
  // per-array setting, else the command device's host group.
  bool hostGroupsWithoutInitiators(std::vector<std::string>& hostGroups);
  // Host groups holding the job's initiators; decided is set when the first
  // match is final (multi-port mappings off).
  bool hostGroupsOfInitiators(std::vector<std::string>& hostGroups, bool multiPort, bool& decided);
  // Gives the array resource-group lock back for one retry pause of 20 s
  // and takes it again with the scope it was held with. false: it could not
  // be taken again (lockResource's error pair).
  bool pauseResourceLock(const char* method, const char* unlockFailure);
  // One LU path added (map) or removed (unmap) with the retry rules of each;
  // false with the last attempt's error. The map's window began at start
  // and is shared by the snaps of one call.
  bool mapWithRetry(const std::string& ldev, const std::string& port,
                    const std::string& hostGroup, int64_t start, int window);
  bool unmapWithRetry(const std::string& ldev, const std::string& port,
                      const std::string& hostGroup, int window);
};

#endif  // ZR_HANDLER_HDSCOMMANDHANDLER_H
