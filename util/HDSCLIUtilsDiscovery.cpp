// After the array side of a map or unmap: make the host's OS see (or drop)
// the snaps' target LDEVs and, after a map, tell the host which OS device
// belongs to which snap.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/NqSleep.h"
#include "host/ZrClock.h"
#include "util/HDSCLIUtils.h"
#include "util/HDSCLIUtilsSupport.h"

using zrhds_support::hostText;

namespace {

const int kDefaultMountWaitSeconds = 180;
const int kMinMountWaitSeconds = 30;
const int kDefaultRefreshDelaySeconds = 3;
const int kPassPauseSeconds = 10;
const char kPostMapFn[] = "ZRHDSCLIUtils::FinishPostMap";

void sleepSeconds(int seconds) {
  if (seconds > 0)
    NQSLEEP_InTeRnAl(static_cast<unsigned long>(seconds) * 1000ul, __FILE__, __LINE__);
}

// Seconds slept before each bus rescan; a negative setting means none.
int refreshDelaySeconds() {
  const int delay = zrhds_support::readSettingInt(
      "~Tessavon", "nZRHDSMapUnmapSystemBusRefreshDelayInSecs", kDefaultRefreshDelaySeconds);
  return delay < 0 ? 0 : delay;
}

const ZRHDSMapDiscoveryInfo* findDiscovery(const ZRMapInitiatorParams& params,
                                           const std::string& snapName) {
  for (const ZRHDSMapDiscoveryInfo& d : params.mapDiscoveryInfo) {
    if (d.MSName == snapName) return &d;
  }
  return nullptr;
}

// The identity the OS device of a snap's target shows on the standard
// inquiry page: the virtual storage machine's serial and the target's
// virtual LDEV inside one, else the base serial and the target LDEV.
void targetIdentity(const ZRHDSMetadataInfo& md, const ZRHDSMapDiscoveryInfo& d,
                    std::string& serial, std::string& ldev) {
  const bool vsm = !md.vsmSerialNo.empty() && md.vsmSerialNo != md.baseSerialNo;
  serial = vsm ? md.vsmSerialNo : md.baseSerialNo;
  ldev = vsm ? d.MSNumVSM : d.MSNum;
}

// What the post-map and post-unmap steps need of one snap: its source device
// (for the log) and the identity its target's OS device shows.
struct SnapTarget {
  std::string source;
  std::string serial;
  std::string ldev;
};

enum class TargetLookup { kFound, kNoMetadata, kNoEntry };

// Reads the snap's source device, unique metadata and discovery entry into
// target; a missing piece is logged on first under function.
TargetLookup lookUpTarget(ZRSO::SnapInfo* first, const char* function, ZRSO::SnapInfo* snap,
                          const ZRMapInitiatorParams& params, SnapTarget& target) {
  target.source = hostText(snap, &ZRSO::SnapInfo::getSourceDevicePath, 1023);
  const std::string name = hostText(snap, &ZRSO::SnapInfo::getSnapName, 1024);
  ZRHDSMetadataInfo md;
  if (ZRHDSCLIUtils::getInfoFromUniqueMetadata(snap, md, false) == 0) {
    ZRHDS_DEVLOG(first, 2, function,
                 "Failed to get info from Unique metadata for source device-[%s]",
                 target.source.c_str());
    return TargetLookup::kNoMetadata;
  }
  const ZRHDSMapDiscoveryInfo* entry = findDiscovery(params, name);
  if (entry == nullptr) {
    ZRHDS_DEVLOG(first, 2, function, "Snap device info for the source device-[%s] not found.",
                 target.source.c_str());
    return TargetLookup::kNoEntry;
  }
  targetIdentity(md, *entry, target.serial, target.ldev);
  return TargetLookup::kFound;
}

// OS devices of one discovery pass, each inquired at most once, in list
// order and only as far as a snap needs: a snap's target is the first device
// of the list that shows its serial and LDEV.
class InquiredDevices {
 public:
  InquiredDevices(ZRSO::SnapInfo* logger, const char* function, const std::vector<std::string>& names)
      : m_logger(logger), m_function(function), m_names(names) {}

  // The first device showing serial and ldev; null when none does.
  const std::string* find(const std::string& serial, const std::string& ldev) {
    const std::pair<std::string, std::string> key(serial, ldev);
    auto known = m_first.find(key);
    while (known == m_first.end() && m_next < m_names.size()) {
      const std::string& name = m_names[m_next++];
      ZRHDSSCSIInquiryData inquiry;
      if (ZRHDSCLIUtils::HDSSCSIInquiryPageSTD(name, inquiry) == 0) {
        ZRHDS_DEVLOG(m_logger, 2, m_function, "Failed to perform SCSI Inquiry on device-[%s]",
                     name.c_str());
        continue;
      }
      if (!inquiry.isHitachi) continue;
      m_first.emplace(std::make_pair(inquiry.arraySerial, inquiry.devNo), &name);
      known = m_first.find(key);
    }
    return known == m_first.end() ? nullptr : known->second;
  }

 private:
  ZRSO::SnapInfo* m_logger;
  const char* m_function;
  const std::vector<std::string>& m_names;
  size_t m_next = 0;
  std::map<std::pair<std::string, std::string>, const std::string*> m_first;
};

// One pass of the post-map discovery over the snaps not found yet: a snap's
// target is looked for among the devices new since the call began, then
// among those listed before it (a map run again after a failure finds the
// snaps it presented the first time there). Sets each snap's status and
// device path; returns how many were found in this pass.
int matchSnaps(ZRSO::SnapInfo** snaps, short count, const ZRMapInitiatorParams& params,
               const std::vector<std::string>& fresh, const std::vector<std::string>& earlier) {
  const char* const kFn = kPostMapFn;
  ZRSO::SnapInfo* first = count > 0 ? snaps[0] : nullptr;
  InquiredDevices freshDevices(first, kFn, fresh);
  InquiredDevices earlierDevices(first, kFn, earlier);
  int found = 0;
  for (short i = 0; i < count; ++i) {
    ZRSO::SnapInfo* snap = snaps[i];
    if (snap == nullptr || snap->getStatus() == ZRSO::SNAP_STATUS_MAPPED) continue;
    SnapTarget target;
    const TargetLookup lookup = lookUpTarget(first, kFn, snap, params, target);
    if (lookup == TargetLookup::kNoEntry) snap->setStatus(ZRSO::SNAP_STATUS_MAPPED_DEVICE_NOT_FOUND);
    if (lookup != TargetLookup::kFound) continue;
    // An empty serial or LDEV would match any device whose field is blank.
    const std::string* device = nullptr;
    if (!target.serial.empty() && !target.ldev.empty()) {
      device = freshDevices.find(target.serial, target.ldev);
      if (device == nullptr) device = earlierDevices.find(target.serial, target.ldev);
    }
    if (device == nullptr) {
      snap->setStatus(ZRSO::SNAP_STATUS_MAPPED_DEVICE_NOT_FOUND);
      ZRHDS_DEVLOG(first, 2, kFn, "Snap device path for the source device-[%s] not found.",
                   target.source.c_str());
      continue;
    }
    ++found;
    snap->setStatus(ZRSO::SNAP_STATUS_MAPPED);
    snap->setSnapDevicePath(device->c_str());
    ZRHDS_DEVLOG(first, 1, kFn, "Found SnapDevicePath-[%s] for the SourceDevice-[%s]",
                 device->c_str(), target.source.c_str());
  }
  return found;
}

}  // namespace

namespace ZRHDSCLIUtils {

int FinishPostMap(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util,
                  ZRMapInitiatorParams& params) {
  const char* const kFn = kPostMapFn;
  if (count < 0) count = 0;
  if (snaps == nullptr) count = 0;
  ZRSO::SnapInfo* first = count > 0 ? snaps[0] : nullptr;

  int waitSeconds = zrhds_support::readSettingInt("~Tessavon", "nZRHDSMountWaitTimeInSecs",
                                                  kDefaultMountWaitSeconds);
  if (waitSeconds < kMinMountWaitSeconds + 1) waitSeconds = kMinMountWaitSeconds;
  const int delay = refreshDelaySeconds();
  ZRHDSMetadataInfo vendorInfo;
  getInfoFromVendorMetadata(first, vendorInfo);
  const std::string vendor = vendorInfo.vendorName;

  const std::string hostId = params.isVMware ? params.hostIdentifier : params.localHostIdentifier;
  const std::vector<std::string>& initiators =
      params.isVMware ? params.vmInitiators : params.localInitiators;

  ZrClock& clock = ZrClock::get();
  const int64_t start = clock.nowSeconds();
  int found = 0;
  while (clock.nowSeconds() - start < waitSeconds) {
    // No pause outlasts the wait it serves.
    const int64_t left = waitSeconds - (clock.nowSeconds() - start);
    sleepSeconds(static_cast<int>(std::min<int64_t>(delay, left)));
    ZRHDS_DEVLOG(first, 1, kFn, "Going to perform System Refresh..");
    if (!refreshSystemBus(util, initiators, std::vector<std::string>(), hostId)) {
      ZRHDS_DEVLOG(first, 2, kFn, "Failed to refresh the system bus.");
      // Without a refresh delay a failing host would be asked again at once,
      // as fast as it can fail, until the deadline.
      if (delay == 0) sleepSeconds(kPassPauseSeconds);
      continue;
    }
    std::vector<std::string> after;
    if (getDeviceList(first, util, after, hostId, vendor) == 0) {
      ZRHDS_DEVLOG(first, 2, kFn, "Failed to get device list after Map.");
      sleepSeconds(delay == 0 ? kPassPauseSeconds : delay);
      continue;
    }
    const std::set<std::string> before(params.deviceListBefore.begin(),
                                       params.deviceListBefore.end());
    std::vector<std::string> fresh;
    std::vector<std::string> earlier;
    for (const std::string& name : after) {
      (before.count(name) == 0 ? fresh : earlier).push_back(name);
    }
    ZRHDS_DEVLOG(first, 1, kFn, "Device list after performing System Refresh..");
    for (size_t i = 0; i < fresh.size(); ++i) {
      ZRHDS_DEVLOG(first, 0, kFn, " Volume-[%d] DeviceName-[%s]", static_cast<int>(i),
                   fresh[i].c_str());
    }
    if (fresh.empty()) {
      ZRHDS_DEVLOG(first, 1, kFn, "Device list difference is empty");
      fresh.swap(earlier);
    }
    found += matchSnaps(snaps, count, params, fresh, earlier);
    if (found == count) {
      ZRHDS_DEVLOG(first, 1, kFn, "Found all the Snap Devices after system bus refresh.");
      return 1;
    }
    ZRHDS_DEVLOG(first, 1, kFn, "Found only [%d] Snap Devices after system bus refresh.", found);
    sleepSeconds(kPassPauseSeconds);
  }
  if (found == count) return 1;
  static const char kNotFound[] = "Unable to find OS device(s) corresponding to snap(s)/clone(s)";
  ZRHDS_DEVLOG(first, 2, kFn, "%s", kNotFound);
  SetError(first, 60509, kNotFound);
  return 0;
}

bool FinishPostUnmap(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util,
                     ZRMapInitiatorParams& params) {
  static const char kFn[] = "ZRHDSCLIUtils::FinishPostUnmap";
  if (count < 0 || snaps == nullptr) count = 0;
  ZRSO::SnapInfo* first = count > 0 ? snaps[0] : nullptr;

  std::vector<std::string> remove;
  for (short i = 0; i < count; ++i) {
    ZRSO::SnapInfo* snap = snaps[i];
    if (snap == nullptr || snap->getStatus() != ZRSO::SNAP_STATUS_UNMAPPED) continue;
    SnapTarget target;
    if (lookUpTarget(first, kFn, snap, params, target) != TargetLookup::kFound) continue;
    // Keyed by serial and LDEV: a disk of another array with the same LDEV
    // number is never handed to the rescan for removal.
    auto it = params.devicesByDevNo.find(deviceKey(target.serial, target.ldev));
    if (it != params.devicesByDevNo.end())
      remove.insert(remove.begin(), it->second.begin(), it->second.end());
  }

  sleepSeconds(refreshDelaySeconds());
  const std::string hostId = params.isVMware ? params.hostIdentifier : params.localHostIdentifier;
  const std::vector<std::string>& initiators =
      params.isVMware ? params.vmInitiators : params.localInitiators;
  const bool rc = refreshSystemBus(util, initiators, remove, hostId);
  if (!rc) ZRHDS_DEVLOG(first, 2, kFn, "Failed to refresh the system bus.");
  return rc;
}

}  // namespace ZRHDSCLIUtils
