// The Q-marker commit coordinator of the post-create step: one commit check
// per control host, run while the representative device is bound to the
// main (MCU) array of its copy group.
#include <string>

#include "plugin/ZRSOFrame.h"
#include "remote/HDSRemoteMessages.h"
#include "util/HDSCLIUtils.h"

using zrso_frame::format;

namespace {

constexpr char kFn[] = "zrso_postSnapDevices::WaitForQMarkerCommit";

const std::string& serialOf(const ZRHDSMetadataInfo& info) {
  return info.vsmSerialNo.empty() ? info.baseSerialNo : info.vsmSerialNo;
}

// Binds rep to an array record; false after recording why on rep.
bool bindToArray(ZRSO::SnapInfo* rep, const std::string& serial, const std::string& baseSerial) {
  if (rep->setArrayInformation(serial.c_str(), baseSerial.c_str(), 1) == 0) return true;
  zrso_frame::recordUnlessErrored(
      rep, ZR_HDS_ERR_ARRAY_INFO,
      format("%s: Unable to set Array information [%s]. Please make sure array information has "
             "been entered in the DB using Array Management.",
             kFn, serial.c_str()),
      rep, kFn);
  return false;
}

// The check of one control host; 0 committed (or nothing to check).
int checkControlHost(int controlHostId, ZRSO::SnapInfo* rep, ZRSO::SnapInfo* first,
                     ZRSO::ZROSUtil* util, bool& bound) {
  ZRHDSMetadataInfo local;
  ZRHDSMetadataInfo partner;
  local.initialize();
  partner.initialize();
  ZRHDSCLIUtils::getInfoFromUniqueMetadata(rep, local, false);
  ZRHDSCLIUtils::getInfoFromUniqueMetadata(rep, partner, true);
  const std::string& mcu = serialOf(partner);
  const std::string& rcu = serialOf(local);
  rep->log(1, kFn, "Setting ControlHost to MCU-[%s] for QMarker Check..", mcu.c_str());
  bound = bindToArray(rep, mcu, partner.baseSerialNo);
  if (!bound) return 1;
  SnapGroup group{rep};
  const zrso_frame::GroupOutcome outcome = zrso_frame::runGroup(
      zrso_frame::basicRunner(hds_QMarkerCommitWorker, QMARKER_COMMIT_SNAPS), group, 1, util);
  if (outcome == zrso_frame::GroupOutcome::kLocalFailure) {
    zrso_frame::recordUnlessErrored(
        rep, ZR_HDS_ERR_CREATE,
        format("%s: Failed to check QMarker commit status of Snaps for the Control Host [%d]", kFn,
               controlHostId),
        first, kFn);
  }
  rep->log(1, kFn, "Resetting ControlHost to RCU-[%s]..", rcu.c_str());
  bound = bindToArray(rep, rcu, local.baseSerialNo);
  if (!bound) return 1;
  return outcome == zrso_frame::GroupOutcome::kDone ? 0 : 1;
}

}  // namespace

int WaitForQMarkerCommit(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  if (validateInputParams(snaps, count, util) == 0) return 1;
  ZRSO::SnapInfo* first = snaps[0];
  first->log(1, kFn, "Starting QMarker Check operation for [%d] Snapshot(s)/Clone(s)", count);
  if (!first->isReplicationEnabled() || !first->isPostSnapEnabled()) {
    first->log(1, kFn, "Nothing to do..");
    return 0;
  }
  // One check per control host, on its first device.
  SnapGroupMap representatives;
  for (short i = 0; i < count; ++i) {
    SnapGroup& entry = representatives[snaps[i]->getControlHostId()];
    if (entry.empty()) entry.push_back(snaps[i]);
  }
  int result = 1;
  for (auto& entry : representatives) {
    bool bound = true;
    result = checkControlHost(entry.first, entry.second.front(), first, util, bound);
    // A device left bound to the wrong array, or a check not committed, ends
    // the post-create step here.
    if (!bound) return 1;
    if (result != 0) break;
  }
  first->log(1, kFn, "Completed Q-Marker Check for snapshot(s)/clone(s). Count [%d]", count);
  return result;
}
