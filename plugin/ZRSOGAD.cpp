// The GAD coordinators of device preparation: segregation of the two sides
// of GAD pairs before the prepare groups run, and the cloning of the device
// set for the secondary side after them.
#include <string>
#include <vector>

#include "plugin/ZRSOFrame.h"
#include "remote/HDSRemoteMessages.h"
#include "util/HDSCLIUtils.h"

using zrso_frame::format;

namespace {

constexpr char kSegregate[] = "zrso_prepareDevices::hds_SegregateGADCoordinator";
constexpr char kClone[] = "hds_CloneGADCoordinator";

// Both coordinators act only on a call made of GAD devices alone.
bool allGadDevices(ZRSO::SnapInfo** snaps, short count) {
  for (short i = 0; i < count; ++i) {
    if (snaps[i]->getReplicationType() != ZRSO::REPLICATION_TYPE_GAD) return false;
  }
  return true;
}

// The unique metadata of a clone: the partner side's identity in the base
// keys; the partner's virtual identity only where it differs.
std::string cloneMetadata(const ZRHDSMetadataInfo& info) {
  std::string text;
  zrso_frame::appendMetadataEntry(text, "1S", info.rcuBaseSerialNo);
  zrso_frame::appendMetadataEntry(text, "3L", info.rcuBaseDevNo);
  zrso_frame::appendMetadataEntry(text, "5M", info.modelNo);
  if (!info.rcuVsmSerialNo.empty() && info.rcuVsmSerialNo != info.rcuBaseSerialNo) {
    zrso_frame::appendMetadataEntry(text, "2VS", info.rcuVsmSerialNo);
    zrso_frame::appendMetadataEntry(text, "4VL", info.rcuVsmDevNo);
  }
  if (text.size() > zrso_frame::kMaxMetadataText) text.resize(zrso_frame::kMaxMetadataText);
  return text;
}

int cloneFailure(ZRSO::SnapInfo* first, const char* text) {
  first->log(2, kClone, "%s", text);
  SetError(first, ZR_HDS_ERR_PREPARE, text);
  return 1;
}

// Describes one clone as the partner side of its source and files it.
int adoptClone(ZRSO::SnapInfo* first, ZRSO::SnapInfo* clone, SnapGroupMap& clones) {
  ZRHDSMetadataInfo info;
  info.initialize();
  clone->setReplicationType(ZRSO::REPLICATION_TYPE_GAD);
  clone->setMetadata(HDS_METADATA_HORCM_INSTANCE, nullptr);
  if (ZRHDSCLIUtils::getInfoFromUniqueMetadata(clone, info, false) == 0) {
    return cloneFailure(first, "Failed to get snap related info from metadata.");
  }
  if (info.rcuBaseSerialNo.empty() || info.rcuBaseDevNo.empty()) {
    // Without the partner's identity the clone would describe no LDEV.
    return cloneFailure(first, "The GAD partner of a device is not known.");
  }
  const std::string text = cloneMetadata(info);
  const std::string& boundSerial =
      info.rcuVsmSerialNo.empty() ? info.rcuBaseSerialNo : info.rcuVsmSerialNo;
  if (clone->setArrayInformation(boundSerial.c_str(), info.rcuBaseSerialNo.c_str(), 1) != 0) {
    return cloneFailure(first, "Failed to set array information in the DB.");
  }
  clone->log(0, kClone, "Generated metadata-[%s] after Cloning secondary side devices.",
             text.c_str());
  if (clone->setMetadata(HDS_METADATA_UNIQUE, text.c_str()) != 0) {
    SetError(clone, ZR_HDS_ERR_PREPARE,
             format("Failed to set Metadata [Id : %d]", HDS_METADATA_UNIQUE).c_str());
    return 1;
  }
  clones[clone->getControlHostId()].push_back(clone);
  return 0;
}

}  // namespace

int hds_SegregateGADCoordinator(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util,
                                SnapGroupMap& groups) {
  ZRSO::SnapInfo* first = snaps[0];
  const zrso_frame::LoopRules rules{
      kSegregate, "%s: Failed to Segregate Snap for the Control Host [%d]", ZR_HDS_ERR_PREPARE};
  if (!zrso_frame::runGroupLoop(rules,
                                zrso_frame::basicRunner(hds_SegregateWorker, SEGREGATE_SNAPS),
                                groups, first, count, util)
           .completed) {
    return 1;
  }
  if (!allGadDevices(snaps, count)) return 0;
  if (ZRHDSCLIUtils::setGADPairInfo(snaps, count) == 0) {
    std::string text;
    const int code = zrso_frame::recordedError(first, &text);
    SetError(
        first, ZR_HDS_ERR_PREPARE,
        format("Error while storing the GAD pair information. Error[%d:%s]", code, text.c_str())
            .c_str());
    return 1;
  }
  // Devices whose S-VOL side is active are bound to the partner array now
  // and may be served by another control host.
  groups.clear();
  zrso_frame::groupByControlHost(snaps, count, 0, groups);
  return 0;
}

int hds_CloneGADCoordinator(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util,
                            SnapGroupMap& clones) {
  ZRSO::SnapInfo* first = snaps[0];
  clones.clear();
  if (!allGadDevices(snaps, count)) {
    first->log(1, kClone, "Not GAD Backup operation. Performing regular snap backup.");
    return 0;
  }
  first->log(1, kClone, "Starting to Clone the devices for secondary snap.");
  const std::vector<ZRSO::SnapInfo*> sources(snaps, snaps + count);
  std::vector<ZRSO::SnapInfo*> made;
  if (util->cloneSnaps(sources, &made) == 0 || made.size() != sources.size()) {
    first->log(2, kClone, "Failed to clone the secondary snaps.");
    return 1;
  }
  for (ZRSO::SnapInfo* clone : made) {
    if (clone == nullptr) {
      first->log(2, kClone, "Failed to clone the secondary snaps.");
      return 1;
    }
    if (adoptClone(first, clone, clones) != 0) return 1;
  }
  first->log(1, kClone, "Finished the Cloning of devices for secondary snap.");
  return 0;
}
