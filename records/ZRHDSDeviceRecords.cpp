#include "records/ZRHDSDeviceRecords.h"

ZRHDSSCSIInquiryData::ZRHDSSCSIInquiryData() { Initialize2(); }

void ZRHDSSCSIInquiryData::Initialize2() { isHitachi = false; }

void ZRHDSSCSIInquiryData::Initialize() {
  Initialize2();
  arraySerial.clear();
  baseArraySerial.clear();
  devNo.clear();
  baseDevNo.clear();
  product.clear();
  model.clear();
  vendor.clear();
}

void ZRHDSMetadataInfo::initialize() {
  baseSerialNo.clear();
  vsmSerialNo.clear();
  baseDevNo.clear();
  vsmDevNo.clear();
  modelNo.clear();
  snapMu.clear();
  rcuBaseSerialNo.clear();
  rcuVsmSerialNo.clear();
  rcuBaseDevNo.clear();
  rcuVsmDevNo.clear();
  snapshotGroup.clear();
  capacity.clear();
  preSnapPort.clear();
  replicationMu.clear();
  snapOriginalName.clear();
  mappedHostGroups.clear();
  snapLdevId.clear();
  snapVirLdevId.clear();
  snapOriginalState.clear();
  vendorName.clear();
  activeGadSide.clear();
  mcuSerial.clear();
  pvolLdev.clear();
  qMarker.clear();
  horcmInst.clear();
}

ZRHDSMapDiscoveryInfo::ZRHDSMapDiscoveryInfo() { init(); }

void ZRHDSMapDiscoveryInfo::init() {
  MSName.clear();
  MSNum.clear();
  MSNumVSM.clear();
}

ZRMapInitiatorParams::ZRMapInitiatorParams() { init(); }

void ZRMapInitiatorParams::init() {
  isVMware = false;
  hostIdentifier.clear();
  localHostIdentifier.clear();
  deviceListBefore.clear();
  vmInitiators.clear();
  localInitiators.clear();
  mapDiscoveryInfo.clear();
  devicesByDevNo.clear();
}
