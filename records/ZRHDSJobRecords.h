// The three records one operation on one group of host devices works on: the
// job's snap options, one working record per device, and the bundle of
// references through which the container lends both (and its OS-utility
// pointer) to the command handler and the array command layer.
#ifndef ZR_RECORDS_ZRHDSJOBRECORDS_H
#define ZR_RECORDS_ZRHDSJOBRECORDS_H

#include <cstdint>
#include <string>
#include <vector>

namespace ZRSO {
class SnapInfo;
class ZROSUtil;
}  // namespace ZRSO

// The working record of one device of the group. Metadata keys in comments
// are those of the stored-metadata codec.
struct ZRHDSSnapInfo {
  ZRSO::SnapInfo* snapInfo;       // borrowed host object; never deleted here
  std::string baseSerialNo;       // "1S"
  std::string vsmSerialNo;        // "2VS"
  std::string baseDevNo;          // "3L": source LDEV (P-VOL), decimal
  std::string vsmDevNo;           // "4VL"
  std::string snapLdevId;         // "22LI": target LDEV; empty = none yet
  std::string snapVirLdevId;      // "24VI"
  std::string snapMu;             // "13SM": empty = no snapshot pair yet
  std::string sourceDevice;       // host's source path, for messages
  std::string svolLabel;          // "QB_SVOL_" + snap name
  std::string snapOriginalName;   // "16ON"
  std::string snapOriginalState;  // "23OS": "OLDDEV" / "NEWDEV" / empty
  std::string rcuBaseSerialNo;    // "6RS"
  std::string rcuVsmSerialNo;     // "7RVS"
  std::string rcuBaseDevNo;       // "8RL"
  std::string rcuVsmDevNo;        // "9RVL"
  std::string snapshotGroup;      // "10SG"
  uint64_t capacity;              // "11C", blocks
  int32_t replicationType;        // 1 TrueCopy, 2 UR (Q-marker), 4 GAD
  bool snapMapped;                // target associated with the snapshot on the array
  int32_t mpBladeId;              // MP blade of the source LDEV
  int32_t replicationMu;          // "15RM"; default -1
  int32_t gadSide;                // "14GS": 1 P-VOL side, 2 S-VOL side
  int32_t resourceGroupId;        // of the source LDEV; default -1

  ZRHDSSnapInfo();
  void init2();  // numbers and flags to their defaults
  void init();   // every field, snapInfo included, to its default
};

// The job's options for one group (one per container). Filled from the
// array properties and the devices' metadata, then read and changed in place
// by the handler and the command layer. There is deliberately no init(): one
// options object lives for exactly one container.
struct ZRHDSSnapOptions {
  std::string arrayId;        // array-details "arrayId"
  std::string userName;       // "hostUserName"
  std::string password;       // "hostPassword"
  std::string modelNo;        // "5M" of the first device with one
  std::string resourceGroup;  // "meta_resource" when none is configured
  std::string snapshotGroup;  // "10SG", else "QB_" + subclient id
  std::vector<std::string> initiators;
  bool isHTI;           // Thin Image (engine id 73)
  bool isVSM;           // reached through a virtual storage machine
  std::string label;    // S-VOL label prefix; empty = any
  std::string cuRange;  // hex CUs and ranges; empty = any
  bool noVvolCreate;    // choose existing V-VOLs instead of creating
  std::string pool;
  bool useDPVols;
  bool useExistingPairs;
  bool reUse;
  bool quickResync;
  bool quickRestore;
  std::string svolHostGroup;  // comma-separated host-group texts
  bool cmdLogging;            // keep command output files
  std::string horcmInstPath;  // CCI command directory, ends in "/"
  std::string horcmInst;      // HORCM instance number
  std::string remoteMAName;   // empty = run locally
  bool cascadedClone;
  bool useConsistencyGrp;
  std::string copyGroup;
  std::string baseSerialNum;  // physical serial used for every CCI command
  bool gadEnabled;
  std::string preSnapPort;

  ZRHDSSnapOptions();
  void init2();  // every flag to false
};

// Built on the container's stack when it creates the handler. Holds
// references, not copies: whatever the handler and the command layer write
// lands in the container's own records. The referenced objects must outlive
// this bundle and everything it is handed to.
struct ZRHDSCommandHandlerInputParams {
  int32_t implementerType;  // 1 = the CCI (raidcom) implementation
  int32_t operationType;    // the container's OperationType
  ZRHDSSnapOptions& options;
  std::vector<ZRHDSSnapInfo>& snaps;
  ZRSO::ZROSUtil*& osUtil;

  // Sets implementerType to 1 and operationType to 0.
  ZRHDSCommandHandlerInputParams(ZRSO::ZROSUtil*& osUtil, ZRHDSSnapOptions& options,
                                 std::vector<ZRHDSSnapInfo>& snaps);
};

#endif  // ZR_RECORDS_ZRHDSJOBRECORDS_H
