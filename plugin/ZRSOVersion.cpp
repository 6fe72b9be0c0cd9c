// The interface version, the per-device capability probe, the two entries
// with nothing to do, and the rediscovery of mapped snapshot devices for
// raw-device mounts.
#include <map>
#include <string>
#include <vector>

#include "host/EvDebug.h"
#include "plugin/ZRSOFrame.h"
#include "plugin/zrso_api.h"
#include "util/HDSCLIUtils.h"

using zrso_frame::guarded;

namespace {

constexpr short kVersionMajor = 1;
constexpr short kVersionMinor = 0;
constexpr short kVersionPatch = 0;
// Device detection modes under which mapped devices are rediscovered.
constexpr int kDetectionModes[] = {2, 3, 9};
constexpr std::size_t kMountPathCapacity = 4096;
constexpr char kMountPathKey[] = "$1mdPath";
constexpr char kMountPathEnd[] = "%%";

// The pieces of text before each "|"; the text after the last "|" is no piece.
std::vector<std::string> devicePaths(const std::string& text) {
  std::vector<std::string> paths;
  std::size_t start = 0;
  for (std::size_t bar = text.find('|'); bar != std::string::npos; bar = text.find('|', start)) {
    paths.push_back(text.substr(start, bar - start));
    start = bar + 1;
  }
  return paths;
}

bool rediscoveryWanted(ZRSO::SnapInfo* first) {
  const int mode = first->getDeviceDetectionMode();
  for (int m : kDetectionModes) {
    if (mode == m) return true;
  }
  return false;
}

using InquiryCache = std::map<std::string, ZRHDSSCSIInquiryData>;

// The Hitachi devices among paths, by path.
InquiryCache inquireDevices(ZRSO::SnapInfo* first, const std::vector<std::string>& paths,
                            const char* fn) {
  InquiryCache cache;
  for (const std::string& path : paths) {
    ZRHDSSCSIInquiryData record;
    record.Initialize();
    if (ZRHDSCLIUtils::HDSSCSIInquiryPageSTD(path, record) == 0) {
      first->log(2, fn, "Failed to inquire details for device-[%s].", path.c_str());
      continue;
    }
    if (record.isHitachi) cache[path] = record;
  }
  first->log(0, fn, "-->>-->> Cached [%zu] device SCSI details. Total-[%zu] (other vendor-[%zu]).",
             cache.size(), paths.size(), paths.size() - cache.size());
  return cache;
}

enum class Discovery { kFound, kNotFound, kError };

// Finds the OS device of one mapped snap in cache and stores its path in
// metadata 133. found is the count of devices found so far.
Discovery discoverDevice(ZRSO::SnapInfo* first, ZRSO::SnapInfo* device, const InquiryCache& cache,
                         int found, const char* fn) {
  char stored[kMountPathCapacity + 1] = {0};
  short capacity = static_cast<short>(kMountPathCapacity);
  if (device->getMetadata(HDS_METADATA_MOUNT_PATH, stored, &capacity) != 0) {
    first->log(2, fn, "Failed to get pRDM mount device metadata.");
    return Discovery::kError;
  }
  if (stored[0] != '\0') {
    first->log(1, fn,
               "-->>-->>-->>-->> Device-[%d] has already been discovered. Continuing with next "
               "device..",
               found + 1);
    return Discovery::kFound;
  }
  ZRHDSMetadataInfo info;
  info.initialize();
  if (ZRHDSCLIUtils::getInfoFromUniqueMetadata(device, info, false) == 0) {
    first->log(2, fn, "Unable to get snap info from metadata.");
    return Discovery::kError;
  }
  if (ZRHDSCLIUtils::getInfoFromHostGroupMetadata(device, HDS_METADATA_SNAP_MAP_FIRST, info) == 0) {
    first->log(2, fn, "Unable to get mapped LDEV info from metadata.");
    return Discovery::kError;
  }
  const bool virtualMachine = !info.vsmSerialNo.empty() && info.vsmSerialNo != info.baseSerialNo;
  const std::string& serial = virtualMachine ? info.vsmSerialNo : info.baseSerialNo;
  const std::string& ldev = virtualMachine ? info.snapVirLdevId : info.snapLdevId;
  for (const auto& entry : cache) {
    const ZRHDSSCSIInquiryData& record = entry.second;
    // A snap without a recorded target (or array) names no device.
    if (serial.empty() || ldev.empty()) break;
    if (!record.isHitachi || record.arraySerial != serial || record.devNo != ldev) continue;
    first->log(1, fn, "-->>-->>-->>-->> Found device-[%d], LDEV-[%s]", found + 1,
               record.devNo.c_str());
    std::string text = std::string(kMountPathKey) + ":" + entry.first + kMountPathEnd;
    if (text.size() > kMountPathCapacity - 1) text.resize(kMountPathCapacity - 1);
    device->setMetadata(HDS_METADATA_MOUNT_PATH, text.c_str());
    return Discovery::kFound;
  }
  first->log(1, fn,
             "-->>-->>-->>-->> Unable to discover device-[%d]. Continuing with next device..",
             found + 1);
  return Discovery::kNotFound;
}

int processVPDInfo(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  static const char fn[] = "zrso_processVPDInfo";
  if (validateInputParams(snaps, count, util) == 0) return 1;
  ZRSO::SnapInfo* first = snaps[0];
  auto finishWithError = [&]() {
    first->log(1, fn, "Completed processing VPD for snapshot(s)/clone(s) with Error. Count [%d]",
               count);
    return 1;
  };
  if (!rediscoveryWanted(first)) {
    first->log(1, fn, "Completed processing VPD for snapshot(s)/clone(s) successfully. Count [%d]",
               count);
    return 0;
  }
  std::string pathsText;
  std::string unused;
  if (first->getDeviceDetectionInfo(&pathsText, &unused) == 0) {
    first->log(2, fn, "Failed to get device detection related info from pRDM metadata.");
    return finishWithError();
  }
  const InquiryCache cache = inquireDevices(first, devicePaths(pathsText), fn);
  int found = 0;
  for (short i = 0; i < count; ++i) {
    first->log(1, fn, "-->>-->> Discovering device-[%d] of Total [%d]", found + 1, count);
    const Discovery d = discoverDevice(first, snaps[i], cache, found, fn);
    if (d == Discovery::kError) return finishWithError();
    if (d == Discovery::kFound) ++found;
  }
  if (found >= count) {
    first->log(1, fn, "Completed processing VPD for snapshot(s)/clone(s) successfully. Count [%d]",
               count);
    return 0;
  }
  first->log(1, fn, "Only [%d] out of [%d] devices found.", found, count);
  return finishWithError();
}

int isSupported(const char* deviceName) {
  static const char fn[] = "zrso_isSupported";
  if (deviceName == nullptr) {
    EvDebug::DebugLvl(fn, -1, "Incorrect Device Name passed. [value = NULL].");
    return 1;
  }
  ZRHDSSCSIInquiryData record;
  record.Initialize();
  if (ZRHDSCLIUtils::HDSSCSIInquiryPageSTD(deviceName, record) == 0) {
    EvDebug::DebugLvl(fn, -1, "Failed to get array information of the device [%s]", deviceName);
    return 1;
  }
  if (record.isHitachi) {
    EvDebug::DebugLvl(fn, 1, "Device-[%s] belong to HDS Array. Serial Number-[%s]", deviceName,
                      record.arraySerial.c_str());
    return 0;
  }
  EvDebug::DebugLvl(fn, -1, "Device-[%s] does not belong to HDS family.", deviceName);
  return 1;
}

}  // namespace

extern "C" {

void zrso_version(short* major, short* minor, short* patch) {
  if (major == nullptr || minor == nullptr || patch == nullptr) return;
  *major = kVersionMajor;
  *minor = kVersionMinor;
  *patch = kVersionPatch;
}

int zrso_isSupported(const char* deviceName, int, void*, void*, short) {
  return guarded("zrso_isSupported", nullptr, 0, 0, [&] { return isSupported(deviceName); });
}

int zrso_isMapped(ZRSO::SnapInfo**, short, ZRSO::ZROSUtil*) { return 0; }

int zrso_preSnapDevices(ZRSO::SnapInfo**, short, ZRSO::ZROSUtil*) { return 0; }

int zrso_processVPDInfo(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  return guarded("zrso_processVPDInfo", snaps, count, 0,
                 [&] { return processVPDInfo(snaps, count, util); });
}

}  // extern "C"
