#pragma once
// The host's per-device object (ZRSO::SnapInfo) and operating-system utility
// object (ZRSO::ZROSUtil), as the plug-in calls them. Both belong to the host
// for the duration of a call; the plug-in never creates, copies or frees
// them (except a ZROSUtil handle from getLocalOSUtil, which its caller
// deletes). The operations are declared in the order of the host's slots.
//
// Buffer convention: a length argument passed by pointer is in/out: on entry
// the capacity the caller grants (never more than the buffer's size); the
// host writes at most that many bytes, terminated within them, and stores
// the count of text bytes written. getError takes its capacity by value.
#include <string>
#include <vector>

namespace ZRSO {

// Per-device status (getStatus / setStatus).
enum SnapStatus {
  SNAP_STATUS_UNKNOWN = 0,
  SNAP_STATUS_PREPARED = 1,
  SNAP_STATUS_PREPARE_PENDING = 2,
  SNAP_STATUS_UNPREPARED = 3,
  SNAP_STATUS_CREATED = 5,
  SNAP_STATUS_CREATE_PENDING = 6,
  SNAP_STATUS_MAPPED_ON_ARRAY = 9,  // the map worker's array side succeeded
  SNAP_STATUS_MAP_PENDING = 11,
  SNAP_STATUS_MAPPED = 12,                   // mapped and the OS device found
  SNAP_STATUS_MAPPED_DEVICE_NOT_FOUND = 13,  // mapped, OS device not found
  SNAP_STATUS_UNMAPPED = 14,
  SNAP_STATUS_UNMAP_PENDING = 15,
  SNAP_STATUS_DELETED = 20,
  SNAP_STATUS_DELETE_PENDING = 21,
  SNAP_STATUS_REVERTED = 22,
  SNAP_STATUS_REVERT_PENDING = 23,
  SNAP_STATUS_NOT_CONFIRMED = 24,  // reconcile: the array no longer confirms it
};

// Value ids of getValueInt / getValueString (the host's spelling).
enum GetValueId {
  GET_VALUE_UNKNOWN_VALUE = 0,
  GET_VALUE_SUBCLINET_ID = 1,
  GET_VALUE_SOURCE_CLIENT_ID = 2,
  GET_VALUE_PROXY_CLIENT_ID = 3,
  GET_VALUE_MOUNT_HOST_ID = 4,
  GET_VALUE_VOL_SOURCE_PATH = 10,
  GET_VALUE_VOL_HOLACRE_ID = 11,
  GET_SNAP_ACTION_FLAGS = 24,
  GET_VALUE_OP_SOURCE = 33,
};

// Replication kinds (getReplicationType / setReplicationType).
enum ReplicationType {
  REPLICATION_TYPE_NONE = 0,
  REPLICATION_TYPE_TRUECOPY = 1,
  REPLICATION_TYPE_UNIVERSAL_REPLICATOR = 2,  // asynchronous, Q-markers
  REPLICATION_TYPE_GAD = 4,
};

// Log levels of SnapInfo::log and message.
enum LogLevel { LOG_LEVEL_DEBUG = 0, LOG_LEVEL_INFO = 1, LOG_LEVEL_ERROR = 2 };

class ZROSUtil;

class SnapInfo {
 public:
  // 0 ok. The snap's own name.
  virtual int getSnapName(char* buffer, short* length) = 0;
  // 0 ok. The array-details text.
  virtual int getArrayDetails(char* buffer, short* length) = 0;
  // 0 ok. Host identifier of a VMware source.
  virtual int getHostIdentifier(char* buffer, short* length) = 0;
  // Adds flag bits.
  virtual void setSnapFlag(unsigned int flag) = 0;
  virtual int getStatus() = 0;
  virtual void setStatus(int status) = 0;
  // 0 ok. Source device path; holds "vmware" for VMware devices.
  virtual int getSourceDevicePath(char* buffer, short* length) = 0;
  // The operating-system device of a mapped snap.
  virtual void setSnapDevicePath(const char* path) = 0;
  // 0 ok, 1 failure. Stored text of that id ("" when none is stored).
  virtual int getMetadata(int id, char* buffer, short* length) = 0;
  // 0 ok. Null text clears the entry.
  virtual int setMetadata(int id, const char* text) = 0;
  // Records the error pair; called only through SetError.
  virtual void setError(int code, const char* text) = 0;
  // *code 0 means no error recorded yet; text terminated within size bytes.
  virtual void getError(int* code, char* text, int size) = 0;
  // User-visible message.
  virtual void message(int level, const char* text) = 0;
  // The main debug log: level, function name, printf format and arguments.
  virtual void log(int level, const char* function, const char* format, ...)
      __attribute__((format(printf, 4, 5))) = 0;
  // 0 ok; *value untouched when the setting is not found.
  virtual int getSnapConfigInt(const char* name, int* value) = 0;
  // 0 ok; text snap setting.
  virtual int getSnapConfigValue(const char* name, char* buffer, int* length) = 0;
  // Nonzero on failure. Null text clears the entry.
  virtual int setMetadataByType(int id, const char* text) = 0;
  // 0 ok.
  virtual int getValueInt(int id, int* value) = 0;
  // 0 ok.
  virtual int getValueString(int id, char* buffer, short* length) = 0;
  // 0 ok. Null buffer: *length = the stored text's length. Otherwise copies
  // at most *length bytes (terminated when room remains) and sets *length.
  virtual int getMetadataBlob(int id, char* buffer, int* length) = 0;
  // Devices with one id are handled by one control host.
  virtual int getControlHostId() = 0;
  virtual bool isReplicationEnabled() = 0;
  virtual int getSnapId() = 0;
  virtual bool isPostSnapEnabled() = 0;
  virtual int getReplicationType() = 0;
  virtual void setReplicationType(int type) = 0;
  // 0 ok. Binds the device to the host's record of that array (may change
  // the control host id the device reports).
  virtual int setArrayInformation(const char* serial, const char* secondSerial, int flag) = 0;
  // 0 ok. Text holding key "idatype".
  virtual int getClientTypeInfo(std::string* out) = 0;
  // 0 ok.
  virtual int getSnapConfigString(const char* name, std::string* value) = 0;
  virtual int getDeviceDetectionMode() = 0;
  // 0 means failure.
  virtual int getDeviceDetectionInfo(std::string* first, std::string* second) = 0;
  // 0 means failure; the caller deletes the handle it gets.
  virtual int getLocalOSUtil(ZROSUtil** util) = 0;

  virtual ~SnapInfo();
};

class ZROSUtil {
 public:
  virtual ~ZROSUtil();
  // Rescans the operating-system buses. option may be null; first and
  // second are null-terminated arrays. Nonzero success.
  virtual int refreshSystemBus(const char* option, const char* const* first,
                               const char* const* second) = 0;
  // 0 ok (items each followed by separator); above 0 the buffer size needed;
  // below 0 error.
  virtual int getDeviceList(const char* hostId, const char* vendor, char separator, int bufferSize,
                            char* buffer) = 0;
  // Null buffers: *namesLength and *typesLength receive the sizes needed.
  // Otherwise fills names (comma-separated) and types (one byte per name,
  // 0 Fibre Channel, 1 iSCSI). false on failure.
  virtual bool detectHbaList(const char* reserved, const char* second, char* names,
                             short* namesLength, char* types, short* typesLength, short* third) = 0;
  // true: buffer holds the initiator name. false with *length 0: failure;
  // false with *length above 0: the buffer size needed.
  virtual bool detectHba(const char* host, const char* second, char* buffer, short* length,
                         bool& isIscsi) = 0;
  // A number unique to this host.
  virtual long getHostNumber() = 0;
  // Runs the request held in metadata 61 and 60 of the sending device on
  // that media agent and leaves the response in metadata 60.
  virtual bool executeOnRemoteMA(const std::string& mediaAgentName) = 0;
  // 0 ok: page texts, each followed by "*_ZRSO_*", in buffer.
  virtual int getPageInfoForVMwareDevice(const char* sourceHostPath, const char* lunUuid,
                                         const char* pageKind, int applicationId,
                                         int installationId, int pageCount, char separator,
                                         int bufferSize, char* buffer) = 0;
  // As detectHbaList, for the named host.
  virtual bool detectHbaListForHost(const char* hostName, const char* second, char* names,
                                    short* namesLength, char* types, short* typesLength,
                                    short* third) = 0;
  // 0 means failure; one clone per device, owned by the host.
  virtual int cloneSnaps(const std::vector<SnapInfo*>& snaps, std::vector<SnapInfo*>* clones) = 0;
};

}  // namespace ZRSO

// Names of the job's snap configuration settings (getSnapConfigInt,
// getSnapConfigValue, getSnapConfigString); each text is the setting's name.
inline constexpr const char SMCONFIG_NAME_ALWAYS_SELECT_DP_VOLUMES_CCI[] =
    "SMCONFIG_NAME_ALWAYS_SELECT_DP_VOLUMES_CCI";
inline constexpr const char SMCONFIG_NAME_CREATE_VVOLS_FOR_HTI[] =
    "SMCONFIG_NAME_CREATE_VVOLS_FOR_HTI";
inline constexpr const char SMCONFIG_NAME_CU_RANGE_FOR_SVOLS[] = "SMCONFIG_NAME_CU_RANGE_FOR_SVOLS";
inline constexpr const char SMCONFIG_NAME_DP_POOL_NAME_FOR_SVOLS[] =
    "SMCONFIG_NAME_DP_POOL_NAME_FOR_SVOLS";
inline constexpr const char SMCONFIG_NAME_ENABLE_COMMAND_LOGGING[] =
    "SMCONFIG_NAME_ENABLE_COMMAND_LOGGING";
inline constexpr const char SMCONFIG_NAME_ENABLE_INCREMENTAL_RESYNC[] =
    "SMCONFIG_NAME_ENABLE_INCREMENTAL_RESYNC";
inline constexpr const char SMCONFIG_NAME_ENABLE_QUICK_RESTORE_CCI[] =
    "SMCONFIG_NAME_ENABLE_QUICK_RESTORE_CCI";
inline constexpr const char SMCONFIG_NAME_ENABLE_QUICK_RESYNC_CCI[] =
    "SMCONFIG_NAME_ENABLE_QUICK_RESYNC_CCI";
inline constexpr const char SMCONFIG_NAME_HDS_DISABLE_GAD_OPERATION[] =
    "SMCONFIG_NAME_HDS_DISABLE_GAD_OPERATION";
inline constexpr const char SMCONFIG_NAME_HDS_NAME_PRESNAP_PORT_FOR_SVOLS[] =
    "SMCONFIG_NAME_HDS_NAME_PRESNAP_PORT_FOR_SVOLS";
inline constexpr const char SMCONFIG_NAME_HDS_PHYSICAL_ARRAY_SERIAL_ID[] =
    "SMCONFIG_NAME_HDS_PHYSICAL_ARRAY_SERIAL_ID";
inline constexpr const char SMCONFIG_NAME_HDS_REMOTE_REPL_COPY_GROUP[] =
    "SMCONFIG_NAME_HDS_REMOTE_REPL_COPY_GROUP";
inline constexpr const char SMCONFIG_NAME_HORCM_INSTALLATION_PATH[] =
    "SMCONFIG_NAME_HORCM_INSTALLATION_PATH";
inline constexpr const char SMCONFIG_NAME_HOST_GROUP_FOR_SVOLS[] =
    "SMCONFIG_NAME_HOST_GROUP_FOR_SVOLS";
inline constexpr const char SMCONFIG_NAME_LDEV_DEVICE_NAME[] = "SMCONFIG_NAME_LDEV_DEVICE_NAME";
inline constexpr const char SMCONFIG_NAME_PERFORM_CASCADE_SNAP[] =
    "SMCONFIG_NAME_PERFORM_CASCADE_SNAP";
inline constexpr const char SMCONFIG_NAME_RAIDCOM_HORCM_INST[] = "SMCONFIG_NAME_RAIDCOM_HORCM_INST";
inline constexpr const char SMCONFIG_NAME_REMOTE_SNAP_MA[] = "SMCONFIG_NAME_REMOTE_SNAP_MA";
inline constexpr const char SMCONFIG_NAME_TI_POOL_NAME_FOR_SVOLS[] =
    "SMCONFIG_NAME_TI_POOL_NAME_FOR_SVOLS";
inline constexpr const char SMCONFIG_NAME_USE_CONSISTENCY_GROUP[] =
    "SMCONFIG_NAME_USE_CONSISTENCY_GROUP";
inline constexpr const char SMCONFIG_NAME_USE_PREEXISTING_MIRRORS_FOR_SI[] =
    "SMCONFIG_NAME_USE_PREEXISTING_MIRRORS_FOR_SI";
