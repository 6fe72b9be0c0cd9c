// The container object: construction, initialisation from the host devices,
// the error pair and the plain accessors.
#include "container/HDSInfoContainer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "container/HDSInfoContainerInternal.h"
#include "handler/HDSCommandHandler.h"
#include "host/ZRPlatformInfo.h"
#include "util/HDSCLIUtils.h"

namespace {

const char kSection[] = "~Tessavon";
const char kResourceGroupKeyPrefix[] = "sZRHDSResourceGroup_";

// "11C": an unsigned decimal number of blocks; 0 when empty or unreadable.
uint64_t parseCapacity(const std::string& text) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return 0;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return 0;
  return static_cast<uint64_t>(v);
}

// "15RM": a decimal integer; false when the text is not one.
bool parseInt(const std::string& text, int32_t& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
  return true;
}

// Metadata 75 of device; "" when none is stored or it cannot be read.
std::string storedHorcmInstance(ZRSO::SnapInfo* device) {
  char buffer[1025];
  std::memset(buffer, 0, sizeof(buffer));
  short length = 1024;
  if (device->getMetadata(HDS_METADATA_HORCM_INSTANCE, buffer, &length) != 0) return "";
  buffer[1024] = '\0';
  return buffer;
}

}  // namespace

ZRHDSInfoContainer::ZRHDSInfoContainer(std::vector<ZRSO::SnapInfo*>& devices, ZRSO::ZROSUtil* util,
                                       OperationType type)
    : m_bIsVSM(false),
      m_bInitialized(false),
      m_nSnapEngineType(0),
      m_nErrorCode(0),
      m_sErrorString(""),
      m_sArrayModel(ZR_HDS_MODEL_UNKNOWN),
      m_nImplementerType(1),
      m_eOperationType(type),
      m_pCommandHandler(nullptr),
      m_pLogger(devices.empty() ? nullptr : devices.front()),
      m_pOSUtil(util) {
  if (m_pLogger != nullptr) m_nSnapEngineType = ZRHDSCLIUtils::getSnapEngineType(m_pLogger);
  init(devices);
}

ZRHDSInfoContainer::~ZRHDSInfoContainer() {
  m_bInitialized = false;
  m_pCommandHandler.reset();
  m_pLogger = nullptr;
  m_pOSUtil = nullptr;
}

int ZRHDSInfoContainer::init(std::vector<ZRSO::SnapInfo*>& devices) {
  m_bInitialized = false;
  if (m_pLogger == nullptr) {
    // The entry points never pass an empty batch; refuse one rather than
    // reach for a missing first device.
    setErrorCodeString(2, "Failed to get Snap Unique details from metadata.");
    return 0;
  }
  ZRSO::SnapInfo* first = m_pLogger;
  m_oSnapOptions.arrayId = ZRHDSCLIUtils::getSnapArrayId(first);
  m_oSnapOptions.isHTI = (m_nSnapEngineType == zrhds_container::kEngineThinImage);

  if (ZRHDSCLIUtils::getArrayProperties(first, m_oSnapOptions) == 0 &&
      m_eOperationType != OPERATION_TYPE_PREPARE_REMOTE) {
    setErrorCodeString(1, "Failed to get Snap Configuration for the array.");
    return 0;
  }
  if (m_oSnapOptions.cascadedClone && m_eOperationType != OPERATION_TYPE_PREPARE_REMOTE) {
    const char* text = "Cascaded Clone is not supported currently with Targetless Snap engine.";
    ZRHDS_CONTAINER_LOG(2, "init", "%s", text);
    setErrorCodeString(17, text);
    return 0;
  }
  if (readRecords(devices) == 0) return 0;

  // Devices of a virtual storage machine need the options to say so.
  const ZRHDSSnapInfo& head = m_oSnapInfoList.front();
  if (!head.vsmSerialNo.empty() && head.vsmSerialNo != head.baseSerialNo && !m_oSnapOptions.isVSM) {
    ZRHDS_CONTAINER_LOG(2, "init",
                        "The Snap devices belong to VSM-[%s], but proper flags are not set in "
                        "SnapOptions.",
                        head.vsmSerialNo.c_str());
    setErrorCodeString(17, "Failed to verify VSM flag.");
    return 0;
  }

  // A resource group configured for the physical array; an empty value is
  // treated as no setting at all.
  std::string key = kResourceGroupKeyPrefix + m_oSnapOptions.baseSerialNum;
  std::string group;
  ZRPlatformInfo settings;
  if (settings.getString(kSection, key.c_str(), &group) != 0 && !group.empty()) {
    ZRHDS_CONTAINER_LOG(1, "init", "HDS Resource Group name read from registry, value = [%s]",
                        group.c_str());
    m_oSnapOptions.resourceGroup = group;
  }

  m_oSnapOptions.snapshotGroup = head.snapshotGroup;
  if (m_eOperationType != OPERATION_TYPE_RECONCILE) {
    int subclient = 0;
    if (first->getValueInt(ZRSO::GET_VALUE_SUBCLINET_ID, &subclient) != 0) {
      const char* text = "Failed to get Subclient ID.";
      ZRHDS_CONTAINER_LOG(2, "init", "%s", text);
      setErrorCodeString(17, text);
      return 0;
    }
    if (m_oSnapOptions.snapshotGroup.empty()) {
      m_oSnapOptions.snapshotGroup = std::string(ZR_HDS_OBJECT_PREFIX) + std::to_string(subclient);
    }
  }
  return createHandler();
}

bool ZRHDSInfoContainer::actsOnStoredPairs() const {
  switch (m_eOperationType) {
    case OPERATION_TYPE_CREATE:
    case OPERATION_TYPE_POST_CREATE:
    case OPERATION_TYPE_REVERT:
    case OPERATION_TYPE_RECONCILE:
    case OPERATION_TYPE_MAP:
    case OPERATION_TYPE_MAP_SECOND:
    case OPERATION_TYPE_UNMAP:
    case OPERATION_TYPE_UNMAP_SECOND:
    case OPERATION_TYPE_DELETE:
      return true;
    default:
      return false;
  }
}

int ZRHDSInfoContainer::refuseRecord(ZRSO::SnapInfo* device, int id, const std::string& why) {
  const std::string name = zrhds_container::readHostText(device, &ZRSO::SnapInfo::getSnapName);
  const std::string text = "The stored metadata " + std::to_string(id) + " of device [" + name +
                           "] is refused: " + why + ".";
  device->log(2, "ZRHDSInfoContainer::init", "%s", text.c_str());
  // The device's own error names its record; the group's first device gets
  // the operation's error from the worker.
  SetError(device, ZR_HDS_ERR_STORED_RECORD, text.c_str());
  setErrorCodeString(ZR_HDS_ERR_STORED_RECORD, text);
  return 0;
}

int ZRHDSInfoContainer::checkStoredIdentity(ZRSO::SnapInfo* device, const ZRHDSMetadataInfo& md) {
  const int id = HDS_METADATA_UNIQUE;
  const std::string fault = ZRHDSCLIUtils::uniqueRecordFault(md);
  if (!fault.empty()) return refuseRecord(device, id, fault);
  if (!actsOnStoredPairs()) return 1;
  // The record's pair is sought on the array the device is bound to only.
  const std::string& bound = m_oSnapOptions.baseSerialNum;
  if (!md.baseSerialNo.empty() && md.baseSerialNo != bound) {
    return refuseRecord(device, id,
                        "key 1S holds [" + ZRHDSCLIUtils::quotedValue(md.baseSerialNo) +
                            "], not the array [" + bound + "] the device is bound to");
  }
  for (const ZRHDSSnapInfo& other : m_oSnapInfoList) {
    if (!md.baseDevNo.empty() && other.baseDevNo == md.baseDevNo &&
        other.baseSerialNo == md.baseSerialNo) {
      return refuseRecord(device, id,
                          "key 3L holds [" + md.baseDevNo +
                              "], the source of another device of this call");
    }
  }
  return 1;
}

int ZRHDSInfoContainer::readRecords(std::vector<ZRSO::SnapInfo*>& devices) {
  const bool partnerSide = m_eOperationType == OPERATION_TYPE_REMOTE_REPL ||
                           m_eOperationType == OPERATION_TYPE_QMARKER_COMMIT;
  m_oSnapInfoList.clear();
  ZRHDSSnapInfo snap;
  ZRHDSMetadataInfo md;
  for (ZRSO::SnapInfo* device : devices) {
    snap.init();
    md.initialize();
    std::string refusal;
    if (device == nullptr ||
        ZRHDSCLIUtils::getInfoFromUniqueMetadata(device, md, partnerSide, &refusal) == 0) {
      if (!refusal.empty()) return refuseRecord(device, HDS_METADATA_UNIQUE, refusal);
      setErrorCodeString(2, "Failed to get Snap Unique details from metadata.");
      return 0;
    }
    if (checkStoredIdentity(device, md) == 0) return 0;
    const std::string instance = storedHorcmInstance(device);
    const std::string instanceFault = ZRHDSCLIUtils::horcmInstanceFault(instance);
    if (!instanceFault.empty()) {
      return refuseRecord(device, HDS_METADATA_HORCM_INSTANCE, instanceFault);
    }
    snap.replicationType = device->getReplicationType();
    if (m_eOperationType == OPERATION_TYPE_QMARKER_COMMIT) {
      if (ZRHDSCLIUtils::getInfoFromReplicationMetadata(device, md, &refusal) == 0) {
        return refuseRecord(device, HDS_METADATA_REPLICATION, refusal);
      }
      const std::string fault = ZRHDSCLIUtils::replicationRecordFault(md);
      if (!fault.empty()) return refuseRecord(device, HDS_METADATA_REPLICATION, fault);
    }
    snap.snapInfo = device;
    snap.baseSerialNo = md.baseSerialNo;
    snap.vsmSerialNo = md.vsmSerialNo;
    snap.baseDevNo = md.baseDevNo;
    snap.vsmDevNo = md.vsmDevNo;
    snap.snapMu = md.snapMu;
    snap.rcuBaseSerialNo = md.rcuBaseSerialNo;
    snap.rcuVsmSerialNo = md.rcuVsmSerialNo;
    snap.rcuBaseDevNo = md.rcuBaseDevNo;
    snap.rcuVsmDevNo = md.rcuVsmDevNo;
    snap.snapshotGroup = md.snapshotGroup;
    snap.capacity = parseCapacity(md.capacity);
    snap.sourceDevice = zrhds_container::readHostText(device, &ZRSO::SnapInfo::getSourceDevicePath);
    const std::string name = zrhds_container::readHostText(device, &ZRSO::SnapInfo::getSnapName);
    snap.svolLabel = std::string(ZR_HDS_SVOL_LABEL_PREFIX) +
                     (m_eOperationType == OPERATION_TYPE_CASCADE ? std::string("CASCADE") : name);
    if (!md.replicationMu.empty() && !parseInt(md.replicationMu, snap.replicationMu)) {
      device->log(2, "ZRHDSInfoContainer::init", "Ignoring the stored replication MU-[%s].",
                  md.replicationMu.c_str());
    }
    if (m_oSnapOptions.modelNo.empty()) m_oSnapOptions.modelNo = md.modelNo;
    if (m_oSnapOptions.preSnapPort.empty()) m_oSnapOptions.preSnapPort = md.preSnapPort;
    // The instance used at create time; a device without one never
    // replaces the instance another device named.
    if (m_eOperationType == OPERATION_TYPE_QMARKER_COMMIT && !md.horcmInst.empty()) {
      m_oSnapOptions.horcmInst = md.horcmInst;
    }
    m_oSnapInfoList.push_back(snap);
  }
  return 1;
}

int ZRHDSInfoContainer::createHandler() {
  const std::string requestedInstance = m_oSnapOptions.horcmInst;
  ZRHDSCommandHandlerInputParams params(m_pOSUtil, m_oSnapOptions, m_oSnapInfoList);
  params.implementerType = m_nImplementerType;
  params.operationType = m_eOperationType;
  m_pCommandHandler = std::make_unique<ZRHDSCommandHandler>(params);
  if (!m_pCommandHandler->IsHandlerInitialized()) {
    m_pCommandHandler->getErrorCodeString(m_nErrorCode, m_sErrorString);
    if (m_nErrorCode == 0) setErrorCodeString(4, "Failed to Initialize the Command Handler.");
    return 0;
  }

  // The array layer reads the stored instance (metadata 75) when it is given
  // none, and chooses another when the stored one is gone or not ours. Keep
  // the devices pointing at the instance really in use.
  const std::string& inUse = m_oSnapOptions.horcmInst;
  if (requestedInstance.empty() && !inUse.empty() &&
      inUse.size() <= zrhds_container::kMaxHorcmInstanceText) {
    for (const ZRHDSSnapInfo& snap : m_oSnapInfoList) {
      const std::string stored = storedHorcmInstance(snap.snapInfo);
      if (stored.empty() || stored == inUse) continue;
      snap.snapInfo->log(1, "ZRHDSInfoContainer::init",
                         "HORCM instance-[%s] replaces the stored instance-[%s].", inUse.c_str(),
                         stored.c_str());
      if (snap.snapInfo->setMetadataByType(HDS_METADATA_HORCM_INSTANCE, inUse.c_str()) != 0) {
        snap.snapInfo->log(2, "ZRHDSInfoContainer::init", "Failed to set Metadata-[Id:%d]",
                           HDS_METADATA_HORCM_INSTANCE);
      }
    }
  }
  m_bInitialized = true;
  return 1;
}

bool ZRHDSInfoContainer::IsInitialized() { return m_bInitialized; }

int ZRHDSInfoContainer::getErrorCodeString(int& code, std::string& text) {
  code = m_nErrorCode;
  text = m_sErrorString;
  return 1;
}

int ZRHDSInfoContainer::setErrorCodeString(int code, std::string text) {
  m_nErrorCode = code;
  if (!text.empty()) m_sErrorString = text;
  return 1;
}

void ZRHDSInfoContainer::takeHandlerError(int fallbackCode, const char* fallbackText) {
  takeHandlerError();
  if (m_nErrorCode == 0) setErrorCodeString(fallbackCode, fallbackText);
}

void ZRHDSInfoContainer::takeHandlerError() {
  if (m_pCommandHandler != nullptr) {
    m_pCommandHandler->getErrorCodeString(m_nErrorCode, m_sErrorString);
  } else {
    m_nErrorCode = 0;
    m_sErrorString.clear();
  }
}

bool ZRHDSInfoContainer::ready() {
  if (m_bInitialized && m_pCommandHandler != nullptr) return true;
  setErrorCodeString(4, "Failed to Initialize the Command Handler.");
  return false;
}

int ZRHDSInfoContainer::setOperationType(OperationType type) {
  m_eOperationType = type;
  if (type == OPERATION_TYPE_UNMAP_SECOND) resetUnmapStatus();
  return 1;
}

int ZRHDSInfoContainer::getOperationType(OperationType& type) {
  type = m_eOperationType;
  return 1;
}

int ZRHDSInfoContainer::resetUnmapStatus() {
  for (ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    if (snap.snapInfo != nullptr) snap.snapInfo->setStatus(ZRSO::SNAP_STATUS_UNMAP_PENDING);
  }
  return 1;
}

bool ZRHDSInfoContainer::IsGADEnabled() {
  return m_eOperationType == OPERATION_TYPE_SEGREGATE && m_oSnapOptions.gadEnabled;
}

int ZRHDSInfoContainer::getSnapEngineTypeInUse(short& engine) {
  engine = m_nSnapEngineType;
  return 1;
}

int ZRHDSInfoContainer::setSnapEngineTypeInUse(short engine) {
  m_nSnapEngineType = engine;
  return 1;
}

int ZRHDSInfoContainer::getSnapOption(ZRHDSSnapOptions& options) {
  options = m_oSnapOptions;
  return 1;
}

int ZRHDSInfoContainer::setSnapOption(ZRHDSSnapOptions options) {
  m_oSnapOptions = options;
  return 1;
}

int ZRHDSInfoContainer::getArrayModel(std::string& model) {
  model = m_sArrayModel;
  return 1;
}

int ZRHDSInfoContainer::setArrayModel(std::string model) {
  if (!model.empty()) m_sArrayModel = model;
  return 1;
}

int ZRHDSInfoContainer::getIsVSMFlag(bool& flag) {
  flag = m_bIsVSM;
  return 1;
}

int ZRHDSInfoContainer::setVSMFlag(bool flag) {
  m_bIsVSM = flag;
  return 1;
}

int ZRHDSInfoContainer::getIsInitializedStatus(bool& flag) {
  flag = m_bInitialized;
  return 1;
}

int ZRHDSInfoContainer::setInitializedStatus(bool flag) {
  m_bInitialized = flag;
  return 1;
}

int ZRHDSInfoContainer::mapRecordId(OperationType firstPassType) const {
  return m_eOperationType == firstPassType ? HDS_METADATA_SNAP_MAP_FIRST : HDS_METADATA_SNAP_MAP;
}

void ZRHDSInfoContainer::unlockIgnoringFailure(bool allGroups, const char* function) {
  if (m_pCommandHandler->unlockResource(allGroups)) return;
  if (m_pLogger != nullptr) {
    m_pLogger->log(2, function, "Failed to unlock the resource group. Ignoring the failure.");
  }
}
