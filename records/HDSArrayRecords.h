// Row records that the array command layer fills from CCI output and the
// snapshot command handler works on.
//
// Every record is a plain value: public fields, no base class, no virtual
// operations, member-wise copy and move. Strings and lists are owned, so a
// copy never shares storage with its source. A record with numeric or flag
// fields has init2(), which sets only those to their defaults and is called
// by the constructor; init() returns any record to its freshly constructed
// state, so a parser can reuse one object for every output row and append
// copies of it. Text is stored as cut from the output; nothing is converted
// unless the field says so.
#ifndef ZR_RECORDS_HDSARRAYRECORDS_H
#define ZR_RECORDS_HDSARRAYRECORDS_H

#include <cstdint>
#include <string>
#include <vector>

// One LU path: from a host group's LUN listing, or from the "PORTs" entry of
// an LDEV (then hostMode and ldevId stay empty).
struct HDSLunInfo {
  std::string port;
  std::string hostGroupId;
  std::string hostMode;
  std::string lun;
  std::string ldevId;  // decimal text

  void init();
};

// One LDEV of the key-and-value LDEV listing; a "Serial#" line starts a new
// record. As input to a query, only serial and ldevId are given.
struct HDSLdevInfo {
  // Physical array and LDEV: "Serial#" and "LDEV" (up to "VIR_LDEV"), or
  // in the global-virtualisation form "PHY_Serial#" and "PHY_LDEV".
  std::string serial;
  std::string ldevId;
  // After "VIR_LDEV:", or the global form's "LDEV" when it differs from
  // "PHY_LDEV"; empty when none.
  std::string virtualLdevId;
  // The global-virtualisation form prints the physical values beside the
  // virtual ones: after "PHY_Serial#:" and "PHY_LDEV:"; empty otherwise.
  std::string physicalSerial;
  std::string physicalLdevId;
  std::string volType;            // "VOL_TYPE" ("NOTDEFINED" for a free id)
  uint64_t capacityBlocks;        // "VOL_Capacity(BLK)"
  int32_t numPorts;               // "NUM_PORT"
  std::vector<HDSLunInfo> ports;  // "PORTs"
  std::string poolId;             // "B_POOLID"
  int32_t volAttr;                // bit set from "VOL_ATTR"; exactly 1 = undefined
  std::string label;              // "LDEV_NAMING"
  int32_t resourceGroupId;        // "RSGID"
  int32_t mpBladeId;              // "MP#"

  HDSLdevInfo();
  void init2();  // numbers to 0
  void init();
};

// One replication pair row of a raidscan of a host group for one MU.
struct HDSPairInfo {
  std::string column6;
  std::string ldevId;         // this side
  std::string partnerLdevId;  // columns 13.. with white space removed
  std::string pairStatus;
  std::string rcuSerial;
  std::string fence;
  std::string volAttr;  // "P-VOL" or "S-VOL"
  int32_t muNumber;     // the MU the row was read for; default -1

  HDSPairInfo();
  void init2();
  void init();
};

// One host group of a port. The name may contain blanks.
struct HDSHostGroupInfo {
  std::string port;
  std::string hostGroupName;
  std::string hostGroupId;        // GID
  std::vector<std::string> wwns;  // filled only by a listing that asks for WWNs

  void init();
};

// One pool row of raidcom get pool.
struct HDSPoolInfo {
  std::string poolId;
  std::string poolName;
  std::string status;  // "POLN" = usable
  int32_t usagePercent;
  int32_t thresholdPercent;

  HDSPoolInfo();
  void init2();
  void init();
};

// One storage port with its logged-in initiators and its host groups.
struct HDSPortInfo {
  std::string port;
  std::string type;
  std::string serial;
  std::string wwn;
  std::vector<std::string> loginWwns;
  std::vector<HDSHostGroupInfo> hostGroups;

  void init();
};

// One row of raidcom get copy_grp.
struct HDSCopyGroup {
  std::string copyGroupName;
  std::string ldevGroupName;
  int32_t muNumber;   // default -1
  int32_t journalId;  // default -1

  HDSCopyGroup();
  void init2();
  void init();
};

// One pair row of raidcom get snapshot. "-" in muNumber, partnerLdevId and
// poolId is stored as empty.
struct HDSSnapshotGroupInfo {
  std::string snapshotGroupName;
  bool isPvol;         // second column is "P-VOL"
  std::string status;  // "PAIR", "PSUS", "RCPY", ...
  std::string serial;
  std::string ldevId;  // the row's LDEV (the P-VOL of a P-VOL row)
  std::string muNumber;
  std::string partnerLdevId;  // target LDEV associated with the snapshot
  std::string poolId;
  int32_t column9;
  std::string mode;  // contains "G" in consistency-group mode
  int32_t column11;

  HDSSnapshotGroupInfo();
  void init2();
  void init();
};

// The first data row of raidqry -l (the first column is not kept).
struct HDSRaidqryInfo {
  std::string column2;
  std::string hostName;  // the host name CCI uses
  std::string column4;
  std::string column5;
  std::string column6;
  std::string microVersion;  // "80-02-23"
  int32_t column8;

  HDSRaidqryInfo();
  void init2();
  void init();
};

// One row of raidcom get resource, kept as the value of a map keyed by the
// resource-group name. A default-constructed row (what a missing map key
// yields through operator[]) reads resourceGroupId -1.
struct ResourceGroupInfo {
  int32_t resourceGroupId;  // default -1
  std::string lockStatus;   // "Locked"/"Unlocked"; key option: virtual serial
  std::string lockOwner;    // user; key option: virtual model code
  std::string lockHost;     // host; key option: third virtual column
  std::string serial;       // array serial

  ResourceGroupInfo();
  void init2();
  void init();
};

#endif  // ZR_RECORDS_HDSARRAYRECORDS_H
