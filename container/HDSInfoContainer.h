#pragma once
// ZRHDSInfoContainer: the per-group facade between an operation worker and
// the snapshot command handler. A worker builds one container on its stack
// for the devices of one control-host group, with the OperationType of the
// work to do. Construction reads the job's array properties into one
// ZRHDSSnapOptions and each device's stored metadata into one ZRHDSSnapInfo
// record, then creates the handler, which works on these very options and
// records by reference. The worker runs one or two operations, reads the
// error pair on failure, and destroys the container (which destroys the
// handler: array lock released, logged out).
//
// Results: operations return int 1 on success and 0 on failure with the error
// pair set. After a failed handler step the container copies the handler's
// code and text (the text even when empty) and sets a code of its own only
// when the copied code is 0.
//
// Ownership: the host device objects and the OS utility are borrowed for the
// life of the container and never freed here. The container owns the
// options, the records and the handler.
//
// Thread-safety: none; one container belongs to one worker on the host's
// calling thread.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/ZRSOSnapInfo.h"
#include "records/HDSRecords.h"

class ZRHDSCommandHandler;
namespace zrhds_container {
class MetadataText;
}  // namespace zrhds_container

// The operation a container runs. The handler and the array command layer
// receive the value as an int and test it for their own purposes.
enum OperationType {
  OPERATION_TYPE_UNKNOWN = 0,
  OPERATION_TYPE_PREPARE = 1,
  OPERATION_TYPE_CASCADE = 2,  // tested, never passed by a caller
  OPERATION_TYPE_PREPARE_SECONDARY = 4,
  OPERATION_TYPE_SEGREGATE = 5,
  OPERATION_TYPE_REMOTE_REPL = 6,
  OPERATION_TYPE_PREPARE_REMOTE = 7,
  OPERATION_TYPE_CREATE = 8,
  OPERATION_TYPE_POST_CREATE = 11,
  OPERATION_TYPE_QMARKER_COMMIT = 12,
  OPERATION_TYPE_REVERT = 13,
  OPERATION_TYPE_RECONCILE = 14,
  OPERATION_TYPE_MAP = 15,
  OPERATION_TYPE_MAP_SECOND = 16,
  OPERATION_TYPE_UNMAP = 17,
  OPERATION_TYPE_UNMAP_SECOND = 18,
  OPERATION_TYPE_DELETE = 19,
};

class ZRHDSInfoContainer {
 public:
  // REQUIRES: devices holds at least one non-null device. Runs init(devices);
  // callers test IsInitialized() next.
  ZRHDSInfoContainer(std::vector<ZRSO::SnapInfo*>& devices, ZRSO::ZROSUtil* util,
                     OperationType type);
  virtual ~ZRHDSInfoContainer();

  ZRHDSInfoContainer(const ZRHDSInfoContainer&) = delete;
  ZRHDSInfoContainer& operator=(const ZRHDSInfoContainer&) = delete;

  // Options, records and handler from the devices. 1 ok; 0 with the error
  // pair set and the initialized flag clear.
  int init(std::vector<ZRSO::SnapInfo*>& devices);
  bool IsInitialized();

  // ---- error pair, flags, plain accessors (each returns 1) ----
  int getErrorCodeString(int& code, std::string& text);
  // Always stores the code; the text only when it is not empty.
  int setErrorCodeString(int code, std::string text);
  // Type 18 also resets every device to unmap pending (15).
  int setOperationType(OperationType type);
  int getOperationType(OperationType& type);
  int resetUnmapStatus();
  // True only for operation type 5 with GAD operations enabled in the options.
  bool IsGADEnabled();
  int getSnapEngineTypeInUse(short& engine);
  int setSnapEngineTypeInUse(short engine);
  int getSnapOption(ZRHDSSnapOptions& options);
  int setSnapOption(ZRHDSSnapOptions options);
  int getArrayModel(std::string& model);
  int setArrayModel(std::string model);  // an empty model is ignored
  int getIsVSMFlag(bool& flag);
  int setVSMFlag(bool flag);
  int getIsInitializedStatus(bool& flag);
  int setInitializedStatus(bool flag);
  // The per-device records, in device order.
  const std::vector<ZRHDSSnapInfo>& getSnapInfoList() const { return m_oSnapInfoList; }

  // ---- snapshot operations (each 1 ok, 0 failed with the error pair) ----
  // Checks sources and pool, then adds the targetless snapshot pairs under
  // the array lock; a failed creation removes exactly the pairs this call
  // added (unless nZRHDSDoNotCleanUpOnPrePareFailure is 0 or less).
  int Prepare();
  // Stores the snapshot data of every snapshot group the records name, then
  // the Q-marker record of a Universal Replicator source (type 8 only).
  int Create();
  int Revert();
  // Status 24 on the devices whose snapshot the array no longer confirms.
  int Reconcile();
  int WaitForQmarkerCommit();

  // ---- target operations; snap map record 65 under types 15 and 17, else 68 ----
  // Chooses or creates the S-VOLs and associates them with the snapshots.
  int Assign();
  // Maps the S-VOLs through host groups; each device records its former host
  // groups together with the new ones, which must fit before anything maps.
  int Map(const std::vector<std::string>& initiators);
  // Appends {snap name, "22LI", "24VI"} per record, in record order. 1.
  int getMappedSnapDiscoveryInfo(std::vector<ZRHDSMapDiscoveryInfo>& out);
  // Removes the recorded host-group mappings; status 14.
  int Unmap();
  // Dissociates and frees the S-VOLs the preceding Unmap read; status 14.
  int Unassign();
  // Unmaps what either map record holds, then deletes the pairs; status 20
  // only once a device's pair is gone, 21 until then.
  int Delete();

  // ---- metadata writers: 1 when every device was written, else 0 with
  // 62008 (62005 for a refused array binding); a text that cannot be
  // stored whole is never written ----
  int savePrepareMetadata();             // 6 and 75
  int saveGADPairInfo();                 // 6
  int saveQMarker();                     // 90
  int saveRemoteMetadata();              // 6, the partner's view
  int saveRemoteVirtualCheckMetadata();  // 6

  // ---- replication, GAD and virtual-array operations ----
  int getGADPairInfo();
  int getRemoteReplicationInfo();
  int checkForVirtualArray();

 private:
  friend class ZRHDSInfoContainerTestPeer;

  // Operations run only on an initialised container; false (with code 4)
  // otherwise.
  bool ready();
  // Copies the handler's pair (the text even when empty); when the copied
  // code is 0, sets (fallbackCode, fallbackText).
  void takeHandlerError(int fallbackCode, const char* fallbackText);
  // Copies the handler's pair with no fallback.
  void takeHandlerError();
  // Snap map record id under the current operation type: 65 when it is
  // firstPassType, else 68.
  int mapRecordId(OperationType firstPassType) const;
  // The snap map record text of snap ("16ON", "22LI", "24VI", "23OS" and,
  // when withHostGroups, "17HG"); false when it cannot be stored whole.
  bool buildMapRecord(const ZRHDSSnapInfo& snap, bool withHostGroups, const std::string& hostGroups,
                      std::string& text);
  // Builds and writes the snap map record id; false on either failure.
  // written, when given, receives the text.
  bool writeMapRecord(const ZRHDSSnapInfo& snap, int id, bool withHostGroups,
                      const std::string& hostGroups, std::string* written);
  // Logs the text (level 0, logFormat) and writes it as metadata 6 of
  // device; false with (62008, "Failed to set HDS metadata.") when it cannot
  // be stored whole or the host refuses it.
  bool writeUniqueMetadata(ZRSO::SnapInfo* device, const zrhds_container::MetadataText& md,
                           const char* function, const char* logFormat);
  // Binds device to the array record of the host's database; false with
  // 62005 when the host refuses.
  bool bindArrayInformation(ZRSO::SnapInfo* device, const std::string& serial,
                            const std::string& secondSerial, const char* function);
  // The unmap over the snap map records ids (their host groups united per
  // device); every record read is rewritten with "N/A" on success.
  int unmapRecords(const std::vector<int>& ids);
  // Adopts into each record the target its stored snap map records ids name
  // (read[i]: the ids read; hostGroups[i]: the host groups to unmap from;
  // named[i], when given: a record named a target), then proves each stored
  // target to be the job's. false, with the device refused, when a record
  // cannot be used or a target is not provably the job's; nothing is
  // changed on the array before.
  bool adoptStoredTargets(const std::vector<int>& ids, std::vector<std::vector<int>>& read,
                          std::vector<std::string>& hostGroups, std::vector<bool>* named);
  // The handler's proof for the targets taken from targetRecords (0: none
  // taken from a record); every unproved device is refused.
  bool proveStoredTargets(const std::vector<int>& targetRecords);
  // Releases the targets that stored snap map records still name before the
  // snapshots are deleted; false with the error pair set.
  bool releaseLeftTargets();
  // Under the array lock for all groups: unmaps each target from the host
  // groups of hostGroupsBySnapId (when given), dissociates the targets in
  // use and releases them; false with the error pair set (8, 15, 10 or the
  // handler's).
  bool releaseTargets(const std::map<int, std::string>* hostGroupsBySnapId, const char* function);
  // Writes the emptied snap map record id ("N/A" host groups) to device;
  // a failure is only logged.
  void writeEmptiedMapRecord(ZRSO::SnapInfo* device, int id, const char* function);
  void unlockIgnoringFailure(bool allGroups, const char* function);
  // Reads each device's records into m_oSnapInfoList; 0 with the error pair
  // set (and the refused device's own error) when one cannot be used.
  int readRecords(std::vector<ZRSO::SnapInfo*>& devices);
  // True for the operations that act on the pairs the records name.
  bool actsOnStoredPairs() const;
  // Checks the unique record of device as read (md) before it joins the
  // records: its values' shapes and, where the operation acts on the
  // stored pairs, its array ("1S", the bound array) and that no other
  // device of the call names the same source. 1 ok; 0 refused.
  int checkStoredIdentity(ZRSO::SnapInfo* device, const ZRHDSMetadataInfo& md);
  // Refuses record id of device: logs, records ZR_HDS_ERR_STORED_RECORD and a
  // text naming the device, the record and why on the device and as the
  // container's pair. Always 0. The record itself is left as stored.
  int refuseRecord(ZRSO::SnapInfo* device, int id, const std::string& why);
  int createHandler();

  bool m_bIsVSM;
  bool m_bInitialized;
  short m_nSnapEngineType;
  int m_nErrorCode;
  std::string m_sErrorString;
  std::string m_sArrayModel;
  int m_nImplementerType;
  OperationType m_eOperationType;
  ZRHDSSnapOptions m_oSnapOptions;
  std::vector<ZRHDSSnapInfo> m_oSnapInfoList;
  // Owned from its creation on, so that a failure that unwinds the
  // construction still logs the handler out.
  std::unique_ptr<ZRHDSCommandHandler> m_pCommandHandler;
  ZRSO::SnapInfo* m_pLogger;
  ZRSO::ZROSUtil* m_pOSUtil;
};
