// Records of what the plug-in learns about the host's devices rather than the
// array: SCSI inquiry results, decoded stored metadata, and the host-side
// state of one map or unmap call. Plain values with deep, member-wise copies.
#ifndef ZR_RECORDS_ZRHDSDEVICERECORDS_H
#define ZR_RECORDS_ZRHDSDEVICERECORDS_H

#include <map>
#include <string>
#include <vector>

// Result of a standard inquiry and, where asked for, vendor page 0xE2 of one
// OS device.
struct ZRHDSSCSIInquiryData {
  bool isHitachi;               // vendor "HITACHI" or an accepted OEM vendor
  std::string arraySerial;      // standard page; the VSM's serial inside a VSM
  std::string baseArraySerial;  // page 0xE2: physical array serial
  std::string devNo;            // standard page LDEV, decimal
  std::string baseDevNo;        // page 0xE2: physical LDEV
  std::string product;          // "OPEN-V-CM" marks a command device
  std::string model;            // model code, "UNKNOWN" when not decoded
  std::string vendor;           // vendor id

  ZRHDSSCSIInquiryData();
  void Initialize2();  // isHitachi = false
  void Initialize();   // full reset
};

// The decoded stored metadata of one device, one string per key. All empty
// after construction and after initialize(); an absent key stays empty.
struct ZRHDSMetadataInfo {
  std::string baseSerialNo;       // "1S"
  std::string vsmSerialNo;        // "2VS"
  std::string baseDevNo;          // "3L"
  std::string vsmDevNo;           // "4VL"
  std::string modelNo;            // "5M"
  std::string snapMu;             // "13SM"
  std::string rcuBaseSerialNo;    // "6RS"
  std::string rcuVsmSerialNo;     // "7RVS"
  std::string rcuBaseDevNo;       // "8RL"
  std::string rcuVsmDevNo;        // "9RVL"
  std::string snapshotGroup;      // "10SG"
  std::string capacity;           // "11C", decimal blocks
  std::string preSnapPort;        // "12P"
  std::string replicationMu;      // "15RM"
  std::string snapOriginalName;   // "16ON"
  std::string mappedHostGroups;   // "17HG"
  std::string snapLdevId;         // "22LI"
  std::string snapVirLdevId;      // "24VI"
  std::string snapOriginalState;  // "23OS": "OLDDEV" or "NEWDEV"
  std::string vendorName;         // metadata id 71
  std::string activeGadSide;      // "14GS"
  std::string mcuSerial;          // "18MC"
  std::string pvolLdev;           // "19MP"
  std::string qMarker;            // "20QM"
  std::string horcmInst;          // "21MH"

  void initialize();
};

// One mapped snapshot as reported back after a map. The field names are also
// the JSON keys of one "MapSnapInfoList" entry.
struct ZRHDSMapDiscoveryInfo {
  std::string MSName;    // the snap's name; how the requester matches its device
  std::string MSNum;     // target LDEV ("22LI")
  std::string MSNumVSM;  // target virtual LDEV id ("24VI")

  ZRHDSMapDiscoveryInfo();
  void init();
};

// Host-side state of one map or unmap call, carried from the preparation
// step through the groups (and the remote request/response) to completion.
struct ZRMapInitiatorParams {
  bool isVMware;
  std::string hostIdentifier;  // VMware host
  std::string localHostIdentifier;
  std::vector<std::string> deviceListBefore;            // OS devices before the operation
  std::vector<std::string> vmInitiators;                // JSON "HbaESX"
  std::vector<std::string> localInitiators;             // JSON "HbaLocal"
  std::vector<ZRHDSMapDiscoveryInfo> mapDiscoveryInfo;  // JSON "MapSnapInfoList"
  std::map<std::string, std::vector<std::string>>
      devicesByDevNo;  // unmap: deviceKey(array serial, LDEV) -> OS devices

  ZRMapInitiatorParams();
  void init();
};

#endif  // ZR_RECORDS_ZRHDSDEVICERECORDS_H
