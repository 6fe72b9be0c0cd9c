// Load-time constants shared by every layer of the HDS plug-in: the array
// model table, the named-lock defaults and names, the fixed object names the
// plug-in creates on the array, stored-metadata ids and error codes.
//
// Everything here is immutable after the library is loaded; reading it from
// any thread is safe.
#ifndef ZR_RECORDS_HDSCONSTANTS_H
#define ZR_RECORDS_HDSCONSTANTS_H

#include <cstddef>
#include <cstdint>
#include <string>

// ---------------------------------------------------------------------------
// Array model table
// ---------------------------------------------------------------------------

// One row of the model table: an array model code as the key-option resource
// group listing reports it for "meta_resource", the product name and the
// highest LDEV number (not a count) the model can hold.
struct HDSArrayTypes {
  std::string modelCode;
  std::string modelName;
  int32_t maxLdevNumber;
};

// Number of rows in HDSArrayMaxLdevTable.
constexpr std::size_t HDSArrayMaxLdevTableSize = 17;

// The model table, in lookup order (first exact match of modelCode wins).
// Built at load time; never changed afterwards.
extern const HDSArrayTypes HDSArrayMaxLdevTable[HDSArrayMaxLdevTableSize];

// Walks HDSArrayMaxLdevTable in order and returns the first row whose
// modelCode equals `modelCode` exactly (case-sensitive, no trimming), or
// nullptr when no row matches. The pointer stays valid for the life of the
// loaded library.
const HDSArrayTypes* findHDSArrayType(const std::string& modelCode);

// Convenience form of findHDSArrayType: on a match sets maxLdev to the row's
// highest LDEV number and returns true; otherwise returns false and leaves
// maxLdev unchanged.
bool getHDSArrayMaxLdevNumber(const std::string& modelCode, int& maxLdev);

// Highest LDEV id assumed when the CCI is too old to report the model code
// (0xFEFF), and the one used when the array rejects a probe of the assumed
// id (0x3FFF).
constexpr int ZR_HDS_DEFAULT_MAX_LDEV_NUMBER = 65279;
constexpr int ZR_HDS_FALLBACK_MAX_LDEV_NUMBER = 16383;

// ---------------------------------------------------------------------------
// Named inter-process locks
// ---------------------------------------------------------------------------

// Seconds one lock attempt waits (5000 ms per attempt); also the pause
// between attempts to take the array's resource-group lock.
constexpr int ZR_HDS_DEFAULT_LOCK_TIME_OUT = 5;
// Default number of attempts to take a named lock.
constexpr int ZR_HDS_MAX_LOCK_RETRY_COUNT = 50;

// Lock names. Nesting order, outermost first: a snapshot-group lock (named by
// the group) or SVOL_SELECTION; then RESOURCE_GROUP and SYNC_COMMANDS; then
// RAIDCOM_LOGIN; the two file-name locks are innermost and short-lived.
constexpr const char ZR_HDS_LOCK_SYNC_COMMANDS[] = "ZR_HDS_SYNC_COMMANDS";
constexpr const char ZR_HDS_LOCK_RAIDCOM_LOGIN[] = "RAIDCOM_LOGIN_LOCK";
constexpr const char ZR_HDS_LOCK_RESOURCE_GROUP[] = "ZR_HDS_LOCK_RESOURCE_GROUP";
constexpr const char ZR_HDS_LOCK_SVOL_SELECTION[] = "ZR_HDS_LOCK_SVOL_SELECTION";
constexpr const char ZR_HDS_LOCK_OUTPUTFILE[] = "ZR_HDS_OUTPUTFILE_LOCK";
constexpr const char ZR_HDS_LOCK_INPUTFILE[] = "ZR_HDS_INPUTFILE_LOCK";

// ---------------------------------------------------------------------------
// Fixed names on the array
// ---------------------------------------------------------------------------

// The default resource group of every array.
constexpr const char ZR_HDS_META_RESOURCE[] = "meta_resource";
// Prefix of every object the plug-in creates ("QB_" + subclient id names a
// new snapshot group base).
constexpr const char ZR_HDS_OBJECT_PREFIX[] = "QB_";
// Prefix of the label the plug-in gives a target LDEV (followed by the snap
// name).
constexpr const char ZR_HDS_SVOL_LABEL_PREFIX[] = "QB_SVOL_";
// Pre-snap host group on a physical array, and the prefix of the one on a
// virtual storage machine (followed by the machine's serial).
constexpr const char ZR_HDS_PRE_SNAP_HOST_GROUP[] = "QB_PRE_SNAP_HOST_GROUP";
constexpr const char ZR_HDS_PRE_SNAP_HOST_GROUP_VSM_PREFIX[] = "QB_PSHG_";
// What the mapped host groups of a target ("17HG") hold when it is mapped
// through none.
constexpr const char ZR_HDS_NO_HOST_GROUPS[] = "N/A";
// Origin of a target LDEV ("23OS"): chosen among existing LDEVs, or created
// by the plug-in (only the latter is deleted again).
constexpr const char ZR_HDS_SNAP_ORIGINAL_STATE_OLD[] = "OLDDEV";
constexpr const char ZR_HDS_SNAP_ORIGINAL_STATE_NEW[] = "NEWDEV";
// The only usable pool status.
constexpr const char ZR_HDS_POOL_STATUS_NORMAL[] = "POLN";
// Product id of a command device in the standard inquiry data.
constexpr const char ZR_HDS_COMMAND_DEVICE_PRODUCT[] = "OPEN-V-CM";
// Model code the inquiry reports when it cannot decode one.
constexpr const char ZR_HDS_MODEL_UNKNOWN[] = "UNKNOWN";
// Vendor id of the supported array family.
constexpr const char ZR_HDS_VENDOR_HITACHI[] = "HITACHI";
// The name written for an empty S-VOL label (the array takes no empty name).
constexpr const char ZR_HDS_BLANK_LABEL[] = "BLANK";
// States of a snapshot pair as the pair listing shows them: copying, in
// pair (no snapshot data), split (data stored; SSUS on the S-VOL row),
// copying back (a restore).
constexpr const char ZR_HDS_PAIR_STATE_COPY[] = "COPY";
constexpr const char ZR_HDS_PAIR_STATE_PAIR[] = "PAIR";
constexpr const char ZR_HDS_PAIR_STATE_PSUS[] = "PSUS";
constexpr const char ZR_HDS_PAIR_STATE_SSUS[] = "SSUS";
constexpr const char ZR_HDS_PAIR_STATE_RCPY[] = "RCPY";
// Operations of "modify snapshot -snapshot_data".
constexpr const char ZR_HDS_SNAPSHOT_DATA_CREATE[] = "create";
constexpr const char ZR_HDS_SNAPSHOT_DATA_SPLIT[] = "split";
constexpr const char ZR_HDS_SNAPSHOT_DATA_RESTORE[] = "restore";
constexpr const char ZR_HDS_SNAPSHOT_DATA_RESYNC[] = "resync";

// ---------------------------------------------------------------------------
// Stored metadata ids on ZRSO::SnapInfo
// ---------------------------------------------------------------------------

constexpr int HDS_METADATA_UNIQUE = 6;              // array/device record
constexpr int HDS_METADATA_REMOTE_MESSAGE = 60;     // remote request/response JSON
constexpr int HDS_METADATA_REMOTE_MESSAGE_ID = 61;  // remote message id, decimal
constexpr int HDS_METADATA_SNAP_MAP_FIRST = 65;     // snap map record, op types 15 and 17
constexpr int HDS_METADATA_SNAP_MAP = 68;           // snap map record, every other op type
constexpr int HDS_METADATA_VENDOR = 71;             // SCSI vendor id of the source LU
constexpr int HDS_METADATA_HORCM_INSTANCE = 75;     // HORCM instance used at prepare
constexpr int HDS_METADATA_UNIQUE_OTHER = 82;       // partner-side unique record
constexpr int HDS_METADATA_REPLICATION = 90;        // replication / Q-marker record
constexpr int HDS_METADATA_MOUNT_PATH = 133;        // rediscovered device path

// ---------------------------------------------------------------------------
// Error codes reported to the host
// ---------------------------------------------------------------------------

// Refusals of an LU path deletion that the array layer tells apart and the
// handler's unmap retry reads.
constexpr int ZR_HDS_ERR_LUN_BUSY = 2;            // LU executing host I/O: passes, retried
constexpr int ZR_HDS_ERR_LAST_SNAPSHOT_PATH = 3;  // last path of a snapshot S-VOL: never passes

constexpr int ZR_HDS_ERR_CREATE = 60001;
constexpr int ZR_HDS_ERR_DELETE = 60004;
constexpr int ZR_HDS_ERR_REVERT = 60005;
constexpr int ZR_HDS_ERR_RECONCILE = 60298;
constexpr int ZR_HDS_ERR_OS_DEVICE_NOT_FOUND = 60509;
constexpr int ZR_HDS_ERR_HOST_IDENTIFIER = 62002;
constexpr int ZR_HDS_ERR_INITIATORS = 62003;
constexpr int ZR_HDS_ERR_ARRAY_INFO = 62005;
constexpr int ZR_HDS_ERR_DEVICE_LIST = 62006;
constexpr int ZR_HDS_ERR_PREPARE = 62008;
constexpr int ZR_HDS_ERR_MAP = 62009;
constexpr int ZR_HDS_ERR_UNMAP = 62010;
constexpr int ZR_HDS_ERR_UNSUPPORTED_DEVICE = 62504;
constexpr int ZR_HDS_ERR_HORCM_START = 62600;
constexpr int ZR_HDS_ERR_ARRAY_COMMAND = 62601;  // generic array-command failure
constexpr int ZR_HDS_ERR_LOGIN = 62602;
// A stored record cannot be read whole, holds a value of the wrong shape, or
// names an array object that is not provably the job's.
constexpr int ZR_HDS_ERR_STORED_RECORD = 62014;

// ---------------------------------------------------------------------------
// Exit codes of the CCI tools that carry a meaning for the plug-in
// ---------------------------------------------------------------------------

constexpr int ZR_HDS_EXIT_LOGIN_EXPIRED = 202;   // the array ended the login
constexpr int ZR_HDS_EXIT_NO_SUCH_OBJECT = 205;  // [EX_ENOOBJ] No such Object in the RAID
constexpr int ZR_HDS_EXIT_REJECTED = 221;        // [EX_CMDRJE] refused by the array (SSB)
constexpr int ZR_HDS_EXIT_STATUS_TIMEOUT = 233;  // the command-status query timed out
constexpr int ZR_HDS_EXIT_NO_DEVICE = 246;       // the LDEV number is beyond the array

// Most commands the array carries out after the tool returned (add ldev, map
// snapshot, ...) that share one command-status reset and read.
constexpr int ZR_HDS_ASYNC_BATCH_LIMIT = 64;
// Commands such a command costs when it runs alone: the status reset, the
// command, the status read and the listing that reads its effect back.
constexpr int ZR_HDS_CHECKED_COMMAND_COST = 4;

#endif  // ZR_RECORDS_HDSCONSTANTS_H
