// Metadata writers: what an operation learned or changed on the array is
// written back into each host device, so that a later call finds the same
// array objects again. The entry format ("key:value**") is the stored
// metadata codec's; this unit fixes which keys each writer emits, in which
// order and under which condition.
#include <algorithm>
#include <cstring>

#include "container/HDSInfoContainer.h"
#include "container/HDSInfoContainerInternal.h"
#include "handler/HDSCommandHandler.h"

namespace zrhds_container {

void MetadataText::add(const char* key, const std::string& value) {
  const bool ambiguous =
      value.find("**") != std::string::npos || (!value.empty() && value.back() == '*');
  if (ambiguous && m_refusedKey.empty()) m_refusedKey = key;
  m_text += key;
  m_text += ':';
  m_text += value;
  m_text += "**";
}

std::string MetadataText::why() const {
  if (!m_refusedKey.empty()) return "the value of key " + m_refusedKey + " holds the separator";
  if (m_text.size() > m_max) {
    return "the text of " + std::to_string(m_text.size()) + " characters exceeds " +
           std::to_string(m_max);
  }
  return "";
}

std::string readHostText(ZRSO::SnapInfo* device, int (ZRSO::SnapInfo::*get)(char*, short*)) {
  char buffer[1024];
  std::memset(buffer, 0, sizeof(buffer));
  short length = sizeof(buffer) - 1;
  if (device == nullptr || (device->*get)(buffer, &length) != 0) return "";
  buffer[sizeof(buffer) - 1] = '\0';
  return buffer;
}

void uniteHostGroups(std::vector<std::string>& first, const std::vector<std::string>& second) {
  for (const std::string& hg : second) {
    if (std::find(first.begin(), first.end(), hg) == first.end()) first.push_back(hg);
  }
}

}  // namespace zrhds_container

using zrhds_container::kMaxRecordText;
using zrhds_container::MetadataText;

namespace {

// Adds the virtual identity of the partner ("7RVS", "9RVL") when the
// partner is seen through a virtual storage machine of its own.
void addPartnerVirtualIdentity(MetadataText& md, const ZRHDSSnapInfo& snap) {
  if (!snap.rcuVsmSerialNo.empty() && snap.rcuVsmSerialNo != snap.rcuBaseSerialNo) {
    md.add("7RVS", snap.rcuVsmSerialNo);
    md.add("9RVL", snap.rcuVsmDevNo);
  }
}

// "1S", "3L", "5M", "6RS", "8RL": the device's own array and LDEV, the
// model, and the partner's array and LDEV.
void addIdentities(MetadataText& md, const std::string& serial, const std::string& ldev,
                   const std::string& model, const std::string& partnerSerial,
                   const std::string& partnerLdev) {
  md.add("1S", serial);
  md.add("3L", ldev);
  md.add("5M", model);
  md.add("6RS", partnerSerial);
  md.add("8RL", partnerLdev);
}

// "2VS", "4VL" on a virtual storage machine.
void addVirtualIdentity(MetadataText& md, const ZRHDSSnapOptions& o, const ZRHDSSnapInfo& snap) {
  if (!o.isVSM) return;
  md.add("2VS", snap.vsmSerialNo);
  md.add("4VL", snap.vsmDevNo);
}

}  // namespace

bool ZRHDSInfoContainer::writeUniqueMetadata(ZRSO::SnapInfo* device, const MetadataText& md,
                                             const char* function, const char* logFormat) {
  device->log(0, function, logFormat, md.text().c_str());
  if (!md.ok()) {
    device->log(2, function, "Refusing to store the metadata: %s.", md.why().c_str());
  } else if (device->setMetadata(HDS_METADATA_UNIQUE, md.text().c_str()) == 0) {
    return true;
  }
  device->log(2, function, " Failed to set HDS metadata [Id : %d]", HDS_METADATA_UNIQUE);
  setErrorCodeString(ZR_HDS_ERR_PREPARE, "Failed to set HDS metadata.");
  return false;
}

int ZRHDSInfoContainer::savePrepareMetadata() {
  static const char kFn[] = "ZRHDSInfoContainer::savePrepareMetadata";
  const ZRHDSSnapOptions& o = m_oSnapOptions;
  for (size_t i = 0; i < m_oSnapInfoList.size(); ++i) {
    const ZRHDSSnapInfo& snap = m_oSnapInfoList[i];
    MetadataText md(kMaxRecordText);
    md.add("1S", snap.baseSerialNo);
    md.add("3L", snap.baseDevNo);
    md.add("5M", o.modelNo);
    md.add("13SM", snap.snapMu);
    md.add("6RS", snap.rcuBaseSerialNo);
    md.add("8RL", snap.rcuBaseDevNo);
    md.add("10SG", snap.snapshotGroup);
    md.add("11C", std::to_string(snap.capacity));
    md.add("12P", o.preSnapPort);
    addVirtualIdentity(md, o, snap);
    addPartnerVirtualIdentity(md, snap);
    if (!writeUniqueMetadata(snap.snapInfo, md, kFn,
                             "Generated metadata-[%s] after preparing the source device")) {
      return 0;
    }
    m_pCommandHandler->intentStored(i);
    // The instance that later calls of this job must use.
    if (o.horcmInst.size() > zrhds_container::kMaxHorcmInstanceText ||
        snap.snapInfo->setMetadataByType(HDS_METADATA_HORCM_INSTANCE, o.horcmInst.c_str()) != 0) {
      snap.snapInfo->log(2, kFn, "Failed to set Metadata-[Id:%d]", HDS_METADATA_HORCM_INSTANCE);
      setErrorCodeString(ZR_HDS_ERR_PREPARE, "Failed to set HDS metadata.");
      return 0;
    }
  }
  return 1;
}

int ZRHDSInfoContainer::saveGADPairInfo() {
  static const char kFn[] = "ZRHDSInfoContainer::saveGADPairInfo";
  for (const ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    MetadataText md(kMaxRecordText);
    addIdentities(md, snap.baseSerialNo, snap.baseDevNo, m_oSnapOptions.modelNo,
                  snap.rcuBaseSerialNo, snap.rcuBaseDevNo);
    if (!snap.rcuVsmSerialNo.empty()) md.add("7RVS", snap.rcuVsmSerialNo);
    if (!snap.rcuVsmDevNo.empty()) md.add("9RVL", snap.rcuVsmDevNo);
    addVirtualIdentity(md, m_oSnapOptions, snap);
    if (snap.gadSide > 0) md.add("14GS", snap.gadSide);
    if (!writeUniqueMetadata(snap.snapInfo, md, kFn,
                             "Generated metadata-[%s] after the GAD pair check")) {
      return 0;
    }
  }
  return 1;
}

bool ZRHDSInfoContainer::bindArrayInformation(ZRSO::SnapInfo* device, const std::string& serial,
                                              const std::string& secondSerial,
                                              const char* function) {
  if (device->setArrayInformation(serial.c_str(), secondSerial.c_str(), 1) == 0) return true;
  device->log(2, function, "Unable to get the array info from the DB.");
  setErrorCodeString(ZR_HDS_ERR_ARRAY_INFO, "Failed to get the array information from DB.");
  return false;
}

int ZRHDSInfoContainer::saveRemoteMetadata() {
  static const char kFn[] = "ZRHDSInfoContainer::saveRemoteMetadata";
  static const char kGenerated[] =
      "Generated metadata-[%s] after discovering replication information for the source device";
  for (const ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    ZRSO::SnapInfo* device = snap.snapInfo;
    // The device as the partner array sees it: base and partner swapped.
    MetadataText md(kMaxRecordText);
    addIdentities(md, snap.rcuBaseSerialNo, snap.rcuBaseDevNo, m_oSnapOptions.modelNo,
                  snap.baseSerialNo, snap.baseDevNo);
    md.add("15RM", snap.replicationMu);
    if (m_oSnapOptions.isVSM) {
      md.add("7RVS", snap.vsmSerialNo);
      md.add("9RVL", snap.vsmDevNo);
    }
    // A record that cannot be stored fails before the device is rebound.
    if (!md.ok()) {
      writeUniqueMetadata(device, md, kFn, kGenerated);  // logs and refuses it
      return 0;
    }
    if (!bindArrayInformation(device, snap.rcuBaseSerialNo, snap.rcuBaseSerialNo, kFn)) return 0;
    // The discovery's kind 1 is the host's Universal Replicator (2) and
    // every other kind its TrueCopy (1).
    device->setReplicationType(snap.replicationType == 1
                                   ? ZRSO::REPLICATION_TYPE_UNIVERSAL_REPLICATOR
                                   : ZRSO::REPLICATION_TYPE_TRUECOPY);
    if (m_eOperationType == OPERATION_TYPE_REMOTE_REPL) {
      device->log(1, kFn, "Setting ASYNC and POST-SNAP flags for SnapId-[%d]", device->getSnapId());
      device->setSnapFlag(zrhds_container::kSnapFlagAsync);
      device->setSnapFlag(zrhds_container::kSnapFlagPostSnap);
    }
    if (!writeUniqueMetadata(device, md, kFn, kGenerated)) return 0;
  }
  return 1;
}

int ZRHDSInfoContainer::saveRemoteVirtualCheckMetadata() {
  static const char kFn[] = "ZRHDSInfoContainer::saveRemoteVirtualCheckMetadata";
  static const char kGenerated[] =
      "Generated metadata-[%s] after verifying the VSM settings of replication secondary array.";
  for (const ZRHDSSnapInfo& snap : m_oSnapInfoList) {
    ZRSO::SnapInfo* device = snap.snapInfo;
    MetadataText md(kMaxRecordText);
    addIdentities(md, snap.baseSerialNo, snap.baseDevNo, m_oSnapOptions.modelNo,
                  snap.rcuBaseSerialNo, snap.rcuBaseDevNo);
    md.add("15RM", snap.replicationMu);
    addVirtualIdentity(md, m_oSnapOptions, snap);
    addPartnerVirtualIdentity(md, snap);
    if (!md.ok()) {
      writeUniqueMetadata(device, md, kFn, kGenerated);  // logs and refuses it
      return 0;
    }
    const std::string& bind = snap.vsmSerialNo.empty() ? snap.baseSerialNo : snap.vsmSerialNo;
    if (!bindArrayInformation(device, bind, snap.baseSerialNo, kFn)) return 0;
    if (!writeUniqueMetadata(device, md, kFn, kGenerated)) return 0;
  }
  return 1;
}

bool ZRHDSInfoContainer::buildMapRecord(const ZRHDSSnapInfo& snap, bool withHostGroups,
                                        const std::string& hostGroups, std::string& text) {
  MetadataText md(kMaxRecordText);
  md.add("16ON", snap.snapOriginalName);
  md.add("22LI", snap.snapLdevId);
  md.add("24VI", snap.snapVirLdevId);
  md.add("23OS", snap.snapOriginalState);
  if (withHostGroups) md.add("17HG", hostGroups);
  text = md.text();
  if (md.ok()) return true;
  snap.snapInfo->log(2, "ZRHDSInfoContainer::buildMapRecord", "Refusing the map metadata: %s.",
                     md.why().c_str());
  return false;
}

bool ZRHDSInfoContainer::writeMapRecord(const ZRHDSSnapInfo& snap, int id, bool withHostGroups,
                                        const std::string& hostGroups, std::string* written) {
  std::string text;
  const bool built = buildMapRecord(snap, withHostGroups, hostGroups, text);
  if (written != nullptr) *written = text;
  return built && snap.snapInfo->setMetadata(id, text.c_str()) == 0;
}
