#include "records/ZRHDSJobRecords.h"

ZRHDSSnapInfo::ZRHDSSnapInfo() : snapInfo(nullptr) { init2(); }

void ZRHDSSnapInfo::init2() {
  capacity = 0;
  replicationType = 0;
  snapMapped = false;
  mpBladeId = 0;
  replicationMu = -1;
  gadSide = 0;
  resourceGroupId = -1;
}

void ZRHDSSnapInfo::init() {
  init2();
  snapInfo = nullptr;
  baseSerialNo.clear();
  vsmSerialNo.clear();
  baseDevNo.clear();
  vsmDevNo.clear();
  snapLdevId.clear();
  snapVirLdevId.clear();
  snapMu.clear();
  sourceDevice.clear();
  svolLabel.clear();
  snapOriginalName.clear();
  snapOriginalState.clear();
  rcuBaseSerialNo.clear();
  rcuVsmSerialNo.clear();
  rcuBaseDevNo.clear();
  rcuVsmDevNo.clear();
  snapshotGroup.clear();
}

ZRHDSSnapOptions::ZRHDSSnapOptions() { init2(); }

void ZRHDSSnapOptions::init2() {
  isHTI = false;
  isVSM = false;
  noVvolCreate = false;
  useDPVols = false;
  useExistingPairs = false;
  reUse = false;
  quickResync = false;
  quickRestore = false;
  cmdLogging = false;
  cascadedClone = false;
  useConsistencyGrp = false;
  gadEnabled = false;
}

ZRHDSCommandHandlerInputParams::ZRHDSCommandHandlerInputParams(ZRSO::ZROSUtil*& osUtilRef,
                                                               ZRHDSSnapOptions& optionsRef,
                                                               std::vector<ZRHDSSnapInfo>& snapsRef)
    : implementerType(1),
      operationType(0),
      options(optionsRef),
      snaps(snapsRef),
      osUtil(osUtilRef) {}
