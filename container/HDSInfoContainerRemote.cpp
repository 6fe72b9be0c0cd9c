// Replication, GAD and virtual-array operations: one discovery step of the
// handler each, followed by the metadata writer that stores what it found.
// None of them locks the array or changes anything on it.
#include "container/HDSInfoContainer.h"
#include "container/HDSInfoContainerInternal.h"
#include "handler/HDSCommandHandler.h"

int ZRHDSInfoContainer::getGADPairInfo() {
  if (!ready()) return 0;
  if (!m_pCommandHandler->getGADPairInfoForDevices()) {
    takeHandlerError(5, "Failed to get the GAD pair information for the source devices.");
    return 0;
  }
  return saveGADPairInfo();
}

int ZRHDSInfoContainer::getRemoteReplicationInfo() {
  if (m_oSnapOptions.copyGroup.empty()) {
    const char* text = "Empty Replication Copy Group passed.";
    ZRHDS_CONTAINER_LOG(2, "getRemoteReplicationInfo", "%s", text);
    setErrorCodeString(18, text);
    return 0;
  }
  if (!ready()) return 0;
  if (!m_pCommandHandler->getReplPairInfoForDevices()) {
    ZRHDS_CONTAINER_LOG(2, "getRemoteReplicationInfo",
                        "No valid HUR/TC configured for the Source P-VOLs. Please check "
                        "documentation.");
    takeHandlerError(19, "Failed to get the replication information for the source devices.");
    return 0;
  }
  return saveRemoteMetadata();
}

int ZRHDSInfoContainer::checkForVirtualArray() {
  if (!ready()) return 0;
  if (!m_pCommandHandler->checkIfVirtualArray()) {
    takeHandlerError();
    ZRHDS_CONTAINER_LOG(2, "checkForVirtualArray",
                        "Failed to check for VSM setting on the replication secondary array.");
    return 0;
  }
  return saveRemoteVirtualCheckMetadata();
}
