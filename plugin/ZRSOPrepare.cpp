// Device preparation: identifying the array and LDEV behind each source
// device, storing them in its metadata and binding it to the host's array
// record, sorting out GAD pairs, and preparing the array side per control
// host; the two passes of the replication partner side; unpreparation.
#include <cstdlib>
#include <string>

#include "plugin/ZRSOFrame.h"
#include "plugin/zrso_api.h"
#include "remote/HDSRemoteMessages.h"
#include "util/HDSCLIUtils.h"

using zrso_frame::format;
using zrso_frame::guarded;

namespace {

constexpr char kPrepare[] = "zrso_prepareDevices";
constexpr char kPrepareRemote[] = "zrso_prepareRemoteSnaps";
constexpr char kUnprepare[] = "zrso_unprepareDevices";
constexpr std::size_t kPathCapacity = 1023;
constexpr std::size_t kVendorLength = 15;
constexpr char kPrepareFailure[] = "%s: Failed to Prepare Snap for the Control Host [%d]";

// True when text is a decimal LDEV number a source device can have.
bool validSourceLdev(const std::string& text) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return std::atoi(text.c_str()) <= ZR_HDS_MAX_SOURCE_LDEV;
}

// The unique metadata of a source device from its inquiry: the physical
// identity in the base keys, the virtual one only inside a virtual storage
// machine.
std::string uniqueMetadata(const ZRHDSSCSIInquiryData& inq) {
  const bool virtualMachine =
      !inq.baseArraySerial.empty() && inq.baseArraySerial != inq.arraySerial;
  std::string text;
  zrso_frame::appendMetadataEntry(text, "1S",
                                  virtualMachine ? inq.baseArraySerial : inq.arraySerial);
  zrso_frame::appendMetadataEntry(text, "3L", virtualMachine ? inq.baseDevNo : inq.devNo);
  zrso_frame::appendMetadataEntry(text, "5M", inq.model);
  if (virtualMachine) {
    zrso_frame::appendMetadataEntry(text, "2VS", inq.arraySerial);
    zrso_frame::appendMetadataEntry(text, "4VL", inq.devNo);
  }
  if (text.size() > zrso_frame::kMaxMetadataText) text.resize(zrso_frame::kMaxMetadataText);
  return text;
}

// Identifies one source device and stores what preparation learns of it.
// false after recording the reason on the device.
bool identifyDevice(ZRSO::SnapInfo* first, ZRSO::SnapInfo* device, ZRSO::ZROSUtil* util) {
  device->setStatus(ZRSO::SNAP_STATUS_PREPARE_PENDING);
  char path[kPathCapacity + 1] = {0};
  short capacity = static_cast<short>(kPathCapacity);
  device->getSourceDevicePath(path, &capacity);
  first->log(0, kPrepare, "Attempting to get array information for the Source Device [%s]", path);
  auto fail = [device](int code, const std::string& text) {
    SetError(device, code, text.c_str());
    return false;
  };
  ZRHDSSCSIInquiryData inq;
  inq.Initialize();
  if (ZRHDSCLIUtils::HDSSCSIInquiryPageVPD(path, device, util, inq) == 0) {
    return fail(ZR_HDS_ERR_UNSUPPORTED_DEVICE,
                format("Failed to get HDS array information from Source Device [%s]", path));
  }
  if (!inq.isHitachi) {
    return fail(ZR_HDS_ERR_UNSUPPORTED_DEVICE,
                format("The Device-[%s]  does not belong to HDS family.", path));
  }
  if (!validSourceLdev(inq.devNo)) {
    return fail(ZR_HDS_ERR_UNSUPPORTED_DEVICE,
                format("The device LDEV id-[%s] is not valid", inq.devNo.c_str()));
  }
  const std::string vendor = inq.vendor.substr(0, kVendorLength);
  if (device->setMetadata(HDS_METADATA_VENDOR, vendor.c_str()) != 0) {
    return fail(ZR_HDS_ERR_SET_METADATA,
                format("Failed to set Metadata [Id : %d]", HDS_METADATA_VENDOR));
  }
  if (device->setArrayInformation(inq.arraySerial.c_str(), inq.baseArraySerial.c_str(), 1) != 0) {
    return fail(ZR_HDS_ERR_ARRAY_INFO,
                "Unable to set Array information. Please make sure array information has been "
                "entered in the DB using Array Management.");
  }
  const std::string text = uniqueMetadata(inq);
  device->log(0, kPrepare, "Generated metadata with Inquiry values [%s]", text.c_str());
  if (device->setMetadata(HDS_METADATA_UNIQUE, text.c_str()) != 0) {
    return fail(ZR_HDS_ERR_PREPARE,
                format("Failed to set HDS metadata [Id : %d]", HDS_METADATA_UNIQUE));
  }
  return true;
}

// Records a failed GAD step on the call's first device.
void recordGadFailure(ZRSO::SnapInfo* first, const char* what) {
  if (zrso_frame::recordedError(first) == 0) {
    SetError(first, ZR_HDS_ERR_PREPARE, format("%s: %s", kPrepare, what).c_str());
  } else {
    zrso_frame::logText(first, 0, kPrepare, what);
  }
}

int localPrepare(SnapGroup& group, short count, ZRSO::ZROSUtil* util) {
  return hds_PrepareWorker(group, count, util, false);
}

int prepareDevices(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  if (validateInputParams(snaps, count, util) == 0) return 1;
  if (zrso_frame::refuseRepeatedDevices(snaps, count, ZR_HDS_ERR_PREPARE, kPrepare)) return 1;
  ZRSO::SnapInfo* first = snaps[0];
  first->log(1, kPrepare, "Starting to Prepare [%d] Snapshot(s)/Clone(s)", count);
  SnapGroupMap groups;
  for (short i = 0; i < count; ++i) {
    if (!identifyDevice(first, snaps[i], util)) return 1;
    groups[snaps[i]->getControlHostId()].push_back(snaps[i]);
  }
  const zrso_frame::LoopRules rules{kPrepare, kPrepareFailure, ZR_HDS_ERR_PREPARE};
  const zrso_frame::GroupRunner runner = zrso_frame::basicRunner(localPrepare, PREPARE_SNAPS);
  if (hds_SegregateGADCoordinator(snaps, count, util, groups) != 0) {
    recordGadFailure(first, "Failed to discover and group devices from either sides of GAD pairs.");
  } else if (zrso_frame::runGroupLoop(rules, runner, groups, first, count, util).completed) {
    SnapGroupMap clones;
    if (hds_CloneGADCoordinator(snaps, count, util, clones) != 0) {
      recordGadFailure(first, "Failed to clone the secondary GAD snaps.");
    } else {
      zrso_frame::runGroupLoop(rules, runner, clones, first, count, util);
    }
  }
  first->log(1, kPrepare, "Prepare snapshot/clone completed. Count [%d]", count);
  return getReturnStatus(snaps, count, ZRSO::SNAP_STATUS_PREPARED);
}

int prepareRemoteSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  if (validateInputParams(snaps, count, util) == 0) return 1;
  if (zrso_frame::refuseRepeatedDevices(snaps, count, ZR_HDS_ERR_PREPARE, kPrepareRemote)) {
    return 1;
  }
  ZRSO::SnapInfo* first = snaps[0];
  first->log(1, kPrepareRemote, "Starting to Prepare [%d] Snapshot(s)/Clone(s)", count);
  SnapGroupMap groups;
  zrso_frame::groupByControlHost(snaps, count, ZRSO::SNAP_STATUS_PREPARE_PENDING, groups);
  const zrso_frame::LoopRules replRules{
      kPrepareRemote,
      "%s: Failed to get Replication info for Snaps belonging to the Control Host [%d]",
      ZR_HDS_ERR_PREPARE};
  if (zrso_frame::runGroupLoop(replRules,
                               zrso_frame::basicRunner(hds_GetRemoteReplWorker, GET_REM_REP_INFO),
                               groups, first, count, util)
          .completed) {
    // The first pass rewrote the devices' replication data: the host may
    // serve them from other control hosts now.
    groups.clear();
    zrso_frame::groupByControlHost(snaps, count, ZRSO::SNAP_STATUS_PREPARE_PENDING, groups);
    const zrso_frame::LoopRules prepareRules{kPrepareRemote, kPrepareFailure, ZR_HDS_ERR_PREPARE};
    zrso_frame::runGroupLoop(prepareRules,
                             zrso_frame::basicRunner(hds_PrepareRemoteWorker, PREPARE_REMOTE_SNAPS),
                             groups, first, count, util);
  }
  first->log(1, kPrepareRemote, "Completed Preparing snapshot(s)/clone(s). Count [%d]", count);
  return getReturnStatus(snaps, count, ZRSO::SNAP_STATUS_PREPARED);
}

// Forgets what preparation stored. Nothing on the array is deleted: what the
// stored snapshot group and MU named is only logged.
int unprepareDevices(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  if (validateInputParams(snaps, count, util) == 0) return 1;
  ZRSO::SnapInfo* first = snaps[0];
  first->log(1, kUnprepare, "Starting to Unprepare [%d] Snaphot/Clone", count);
  for (short i = 0; i < count; ++i) {
    ZRHDSMetadataInfo info;
    info.initialize();
    if (ZRHDSCLIUtils::getInfoFromUniqueMetadata(snaps[i], info, false) != 0 &&
        (!info.snapshotGroup.empty() || !info.snapMu.empty())) {
      first->log(1, kUnprepare,
                 "Forgetting snapshot group-[%s], MU-[%s] of LDEV-[%s]; they stay on the array.",
                 info.snapshotGroup.c_str(), info.snapMu.c_str(), info.baseDevNo.c_str());
    }
    snaps[i]->setMetadata(HDS_METADATA_UNIQUE, nullptr);
    snaps[i]->setStatus(ZRSO::SNAP_STATUS_UNPREPARED);
  }
  first->log(1, kUnprepare, "Finished Unpreparing of [%d] Snaphot/Clone", count);
  return 0;
}

}  // namespace

extern "C" {

int zrso_prepareDevices(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  return guarded(kPrepare, snaps, count, ZR_HDS_ERR_PREPARE,
                 [&] { return prepareDevices(snaps, count, util); });
}

int zrso_prepareRemoteSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  return guarded(kPrepareRemote, snaps, count, ZR_HDS_ERR_PREPARE,
                 [&] { return prepareRemoteSnaps(snaps, count, util); });
}

int zrso_unprepareDevices(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  return guarded(kUnprepare, snaps, count, ZR_HDS_ERR_PREPARE,
                 [&] { return unprepareDevices(snaps, count, util); });
}

}  // extern "C"
