// Readers of the stored metadata texts (entries "key:value**") that the
// host keeps on each device: unique (6 / 82), host-group (65 / 68), vendor
// (71) and replication (90). Each reader fills only its own fields. A
// record is input like any other: one cut at the host's buffer, holding a
// stray or repeated entry, or a value of the wrong shape is refused whole.
#include <set>
#include <string>

#include "json/ParseJsonString.h"
#include "util/HDSCLIUtils.h"
#include "util/HDSCLIUtilsSupport.h"

namespace {

struct KeyField {
  const char* key;
  std::string ZRHDSMetadataInfo::*field;
};

// Decodes each key into its field; a missing key leaves the field as it was.
template <size_t N>
void decode(const std::string& text, ZRHDSMetadataInfo& info, const KeyField (&keys)[N]) {
  for (const KeyField& k : keys) ::parseJsonString(text, k.key, info.*(k.field), "**");
}

const char kSeparator[] = "**";

// Why a record text read through a buffer of granted bytes cannot be taken
// whole; "" when it can. The host copies at most granted - 1 bytes and the
// writers store shorter texts, so a text that long was cut.
template <size_t N>
std::string textFault(const std::string& text, size_t granted, const KeyField (&keys)[N]) {
  if (text.size() + 1 >= granted) {
    return "is cut at the host's buffer of " + std::to_string(granted) + " bytes";
  }
  std::set<std::string> seen;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find(kSeparator, pos);
    if (end == std::string::npos) return "ends inside an entry (cut)";
    const std::string entry = text.substr(pos, end - pos);
    pos = end + 2;
    const size_t colon = entry.find(':');
    const std::string key = entry.substr(0, colon);
    bool known = false;
    for (const KeyField& k : keys) known = known || key == k.key;
    // A value holding the separator leaves the rest of it as a stray entry.
    if (colon == std::string::npos || !known) {
      return "holds [" + ZRHDSCLIUtils::quotedValue(entry) + "], which is no entry of this record";
    }
    if (!seen.insert(key).second) return "holds key " + key + " twice";
  }
  return "";
}

// Reads, checks and decodes record id: 1 decoded, 0 refused (why in
// *refusal when given, and logged), -1 empty.
template <size_t N>
int readRecord(ZRSO::SnapInfo* device, int id, const std::string& text, size_t granted,
               const KeyField (&keys)[N], ZRHDSMetadataInfo& info, const char* function,
               std::string* refusal) {
  if (text.empty()) return -1;
  const std::string why = textFault(text, granted, keys);
  if (!why.empty()) {
    const std::string said = "metadata " + std::to_string(id) + " " + why;
    ZRHDS_DEVLOG(device, 2, function, "Refusing the stored record: %s.", said.c_str());
    if (refusal != nullptr) *refusal = said;
    return 0;
  }
  decode(text, info, keys);
  return 1;
}

// Grants of the host buffers: one byte more than the longest text written.
constexpr size_t kRecordGrant = 4097;
constexpr size_t kReplicationGrant = 1025;

// Reads metadata id into buffer granting capacity bytes; false when the host
// refuses.
bool readMetadata(ZRSO::SnapInfo* device, int id, zrhds_support::HostBuffer& buffer) {
  if (device == nullptr) return false;
  short length = buffer.shortCapacity();
  return device->getMetadata(id, buffer.data(), &length) == 0;
}

}  // namespace

namespace ZRHDSCLIUtils {

int getInfoFromUniqueMetadata(ZRSO::SnapInfo* device, ZRHDSMetadataInfo& info, bool alternate,
                              std::string* refusal) {
  static const char kFn[] = "ZRHDSCLIUtils::getInfoFromUniqueMetadata";
  static const KeyField kKeys[] = {
      {"1S", &ZRHDSMetadataInfo::baseSerialNo},     {"2VS", &ZRHDSMetadataInfo::vsmSerialNo},
      {"3L", &ZRHDSMetadataInfo::baseDevNo},        {"4VL", &ZRHDSMetadataInfo::vsmDevNo},
      {"5M", &ZRHDSMetadataInfo::modelNo},          {"6RS", &ZRHDSMetadataInfo::rcuBaseSerialNo},
      {"7RVS", &ZRHDSMetadataInfo::rcuVsmSerialNo}, {"8RL", &ZRHDSMetadataInfo::rcuBaseDevNo},
      {"9RVL", &ZRHDSMetadataInfo::rcuVsmDevNo},    {"10SG", &ZRHDSMetadataInfo::snapshotGroup},
      {"11C", &ZRHDSMetadataInfo::capacity},        {"12P", &ZRHDSMetadataInfo::preSnapPort},
      {"13SM", &ZRHDSMetadataInfo::snapMu},         {"14GS", &ZRHDSMetadataInfo::activeGadSide},
      {"15RM", &ZRHDSMetadataInfo::replicationMu},
  };
  const int id = alternate ? 82 : 6;
  zrhds_support::HostBuffer buffer(kRecordGrant);
  if (!readMetadata(device, id, buffer)) {
    ZRHDS_DEVLOG(device, 2, kFn, "Failed to get metadata [%d]", id);
    return 0;
  }
  const int read = readRecord(device, id, buffer.text(), kRecordGrant, kKeys, info, kFn, refusal);
  if (read < 0) {
    device->log(2, kFn, "Empty metadata received");
    return 1;
  }
  if (read == 0) return 0;
  device->log(0, kFn,
              "BaseSerialNo-[%s], VSMSerialNo-[%s], BaseDevNo-[%s], VSMDevNo-[%s], ModelNo-[%s], "
              "SnapMU-[%s], "
              "RCU_BaseSerialNo-[%s], RCU_VSMSerialNo-[%s], RCU_BaseDevNo-[%s], RCU_VSMDevNo-[%s], "
              "SnapshotGroup-[%s], Capacity-[%s], PreSnapPort-[%s]",
              info.baseSerialNo.c_str(), info.vsmSerialNo.c_str(), info.baseDevNo.c_str(),
              info.vsmDevNo.c_str(), info.modelNo.c_str(), info.snapMu.c_str(),
              info.rcuBaseSerialNo.c_str(), info.rcuVsmSerialNo.c_str(), info.rcuBaseDevNo.c_str(),
              info.rcuVsmDevNo.c_str(), info.snapshotGroup.c_str(), info.capacity.c_str(),
              info.preSnapPort.c_str());
  if (!info.activeGadSide.empty())
    device->log(1, kFn, "Active GAD side detected-[%s]", info.activeGadSide.c_str());
  if (!info.replicationMu.empty()) {
    device->log(1, kFn, "Replication MU to be used is [%s]", info.replicationMu.c_str());
  }
  return 1;
}

int getInfoFromHostGroupMetadata(ZRSO::SnapInfo* device, short id, ZRHDSMetadataInfo& info,
                                 std::string* refusal) {
  static const char kFn[] = "ZRHDSCLIUtils::getInfoFromHostGroupMetadata";
  static const KeyField kKeys[] = {
      {"16ON", &ZRHDSMetadataInfo::snapOriginalName},
      {"22LI", &ZRHDSMetadataInfo::snapLdevId},
      {"17HG", &ZRHDSMetadataInfo::mappedHostGroups},
      {"23OS", &ZRHDSMetadataInfo::snapOriginalState},
      {"24VI", &ZRHDSMetadataInfo::snapVirLdevId},
  };
  // One byte more than the longest record written, so that a record the
  // host cut is told from a whole one.
  zrhds_support::HostBuffer buffer(kRecordGrant);
  if (!readMetadata(device, id, buffer)) {
    ZRHDS_DEVLOG(device, 2, kFn, "Failed to get metadata [%d]", id);
    return 0;
  }
  const int read = readRecord(device, id, buffer.text(), kRecordGrant, kKeys, info, kFn, refusal);
  if (read < 0) {
    device->log(2, kFn, "Empty metadata received");
    return 0;
  }
  if (read == 0) return 0;
  device->log(0, kFn,
              "Snap Original Name-[%s], Snap Original State-[%s], Snap LDEV Id-[%s], Snap VIR_LDEV "
              "Id-[%s], Mapped "
              "HostGroups-[%s]",
              info.snapOriginalName.c_str(), info.snapOriginalState.c_str(),
              info.snapLdevId.c_str(), info.snapVirLdevId.c_str(), info.mappedHostGroups.c_str());
  return 1;
}

int getInfoFromVendorMetadata(ZRSO::SnapInfo* device, ZRHDSMetadataInfo& info) {
  static const char kFn[] = "ZRHDSCLIUtils::getInfoFromVendorMetadata";
  zrhds_support::HostBuffer buffer(16);
  if (!readMetadata(device, 71, buffer)) {
    ZRHDS_DEVLOG(device, 2, kFn, "Failed to get Vendor Name from Metadata.");
    buffer.clear();  // a refused read says nothing about the buffer
  }
  info.vendorName = buffer.empty() ? std::string("HITACHI") : buffer.text();
  ZRHDS_DEVLOG(device, 0, kFn, "Snap Vendor Name-[%s]", info.vendorName.c_str());
  return 1;
}

int getInfoFromReplicationMetadata(ZRSO::SnapInfo* device, ZRHDSMetadataInfo& info,
                                   std::string* refusal) {
  static const char kFn[] = "ZRHDSCLIUtils::getInfoFromReplicationMetadata";
  static const KeyField kKeys[] = {
      {"18MC", &ZRHDSMetadataInfo::mcuSerial},
      {"19MP", &ZRHDSMetadataInfo::pvolLdev},
      {"20QM", &ZRHDSMetadataInfo::qMarker},
      {"21MH", &ZRHDSMetadataInfo::horcmInst},
  };
  zrhds_support::HostBuffer buffer(kReplicationGrant);
  if (!readMetadata(device, 90, buffer)) {
    ZRHDS_DEVLOG(device, 2, kFn, "Replication metadata-[%d] is empty for the source", 90);
    return 1;
  }
  if (readRecord(device, 90, buffer.text(), kReplicationGrant, kKeys, info, kFn, refusal) == 0) {
    return 0;
  }
  device->log(0, kFn, "MCU Serial-[%s], P-VOL LDEV-[%s], Q-Marker-[%s], HORCMInst-[%s]",
              info.mcuSerial.c_str(), info.pvolLdev.c_str(), info.qMarker.c_str(),
              info.horcmInst.c_str());
  return 1;
}

}  // namespace ZRHDSCLIUtils
