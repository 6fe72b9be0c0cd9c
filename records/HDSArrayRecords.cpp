#include "records/HDSArrayRecords.h"

void HDSLunInfo::init() {
  port.clear();
  hostGroupId.clear();
  hostMode.clear();
  lun.clear();
  ldevId.clear();
}

HDSLdevInfo::HDSLdevInfo() { init2(); }

void HDSLdevInfo::init2() {
  capacityBlocks = 0;
  numPorts = 0;
  volAttr = 0;
  resourceGroupId = 0;
  mpBladeId = 0;
}

void HDSLdevInfo::init() {
  init2();
  serial.clear();
  ldevId.clear();
  virtualLdevId.clear();
  physicalSerial.clear();
  physicalLdevId.clear();
  volType.clear();
  ports.clear();
  poolId.clear();
  label.clear();
}

HDSPairInfo::HDSPairInfo() { init2(); }

void HDSPairInfo::init2() { muNumber = -1; }

void HDSPairInfo::init() {
  init2();
  column6.clear();
  ldevId.clear();
  partnerLdevId.clear();
  pairStatus.clear();
  rcuSerial.clear();
  fence.clear();
  volAttr.clear();
}

void HDSHostGroupInfo::init() {
  port.clear();
  hostGroupName.clear();
  hostGroupId.clear();
  wwns.clear();
}

HDSPoolInfo::HDSPoolInfo() { init2(); }

void HDSPoolInfo::init2() {
  usagePercent = 0;
  thresholdPercent = 0;
}

void HDSPoolInfo::init() {
  init2();
  poolId.clear();
  poolName.clear();
  status.clear();
}

void HDSPortInfo::init() {
  port.clear();
  type.clear();
  serial.clear();
  wwn.clear();
  loginWwns.clear();
  hostGroups.clear();
}

HDSCopyGroup::HDSCopyGroup() { init2(); }

void HDSCopyGroup::init2() {
  muNumber = -1;
  journalId = -1;
}

void HDSCopyGroup::init() {
  init2();
  copyGroupName.clear();
  ldevGroupName.clear();
}

HDSSnapshotGroupInfo::HDSSnapshotGroupInfo() { init2(); }

void HDSSnapshotGroupInfo::init2() {
  isPvol = false;
  column9 = 0;
  column11 = 0;
}

void HDSSnapshotGroupInfo::init() {
  init2();
  snapshotGroupName.clear();
  status.clear();
  serial.clear();
  ldevId.clear();
  muNumber.clear();
  partnerLdevId.clear();
  poolId.clear();
  mode.clear();
}

HDSRaidqryInfo::HDSRaidqryInfo() { init2(); }

void HDSRaidqryInfo::init2() { column8 = 0; }

void HDSRaidqryInfo::init() {
  init2();
  column2.clear();
  hostName.clear();
  column4.clear();
  column5.clear();
  column6.clear();
  microVersion.clear();
}

ResourceGroupInfo::ResourceGroupInfo() { init2(); }

void ResourceGroupInfo::init2() { resourceGroupId = -1; }

void ResourceGroupInfo::init() {
  init2();
  lockStatus.clear();
  lockOwner.clear();
  lockHost.clear();
  serial.clear();
}
