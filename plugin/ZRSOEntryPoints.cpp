// The grouped operations: create, post-create, revert, delete, map, unmap
// and reconcile. Each checks its arguments, marks its devices pending,
// groups them by control host, runs each group here or remotely and folds
// the devices' statuses into its result.
#include <string>

#include "plugin/ZRSOFrame.h"
#include "plugin/zrso_api.h"
#include "remote/HDSRemoteMessages.h"
#include "util/HDSCLIUtils.h"

using zrso_frame::format;
using zrso_frame::GroupRunner;
using zrso_frame::guarded;

namespace {

// One member of the family of grouped operations.
struct Member {
  const char* function;
  const char* startLog;  // "%d": the count
  int pendingStatus;     // 0: none
  const char* failureFormat;
  int code;
  int successStatus;
  const char* endLog;  // "%d": the count
};

const Member kCreate = {"zrso_snapDevices",
                        "Starting to Create [%d] Snapshot(s)/Clone(s)",
                        ZRSO::SNAP_STATUS_CREATE_PENDING,
                        "%s: Failed to Create Snap for the Control Host [%d]",
                        ZR_HDS_ERR_CREATE,
                        ZRSO::SNAP_STATUS_CREATED,
                        "Completed Create snapshot(s)/clone(s). Count [%d]"};
const Member kCreateRemote = {"zrso_createRemoteSnaps",
                              kCreate.startLog,
                              ZRSO::SNAP_STATUS_CREATE_PENDING,
                              kCreate.failureFormat,
                              ZR_HDS_ERR_CREATE,
                              ZRSO::SNAP_STATUS_CREATED,
                              kCreate.endLog};
const Member kPostCreate = {"zrso_postSnapDevices",
                            "Starting Post-Create operation for [%d] Snapshot(s)/Clone(s)",
                            ZRSO::SNAP_STATUS_CREATE_PENDING,
                            "%s: Failed to Post-Create Snap for the Control Host [%d]",
                            ZR_HDS_ERR_CREATE,
                            ZRSO::SNAP_STATUS_CREATED,
                            "Completed Post-Create snapshot(s)/clone(s). Count [%d]"};
const Member kRevert = {"zrso_revertSnaps",
                        "Starting to Revert [%d] Snapshot(s)/Clone(s)",
                        ZRSO::SNAP_STATUS_REVERT_PENDING,
                        "%s: Failed to Revert Snap for the Control Host [%d]",
                        ZR_HDS_ERR_REVERT,
                        ZRSO::SNAP_STATUS_REVERTED,
                        "Completed Reverting snapshot(s)/clone(s). Count [%d]"};
const Member kDelete = {"zrso_deleteSnaps",
                        "Starting to Delete [%d] Snapshot(s)/Clone(s)",
                        ZRSO::SNAP_STATUS_DELETE_PENDING,
                        "%s: Failed to Delete Snap for the Control Host [%d]",
                        ZR_HDS_ERR_DELETE,
                        ZRSO::SNAP_STATUS_DELETED,
                        "Completed Deleting snapshot(s)/clone(s). Count [%d]"};
const Member kDeleteRemote = {"zrso_deleteRemoteSnaps",
                              kDelete.startLog,
                              kDelete.pendingStatus,
                              kDelete.failureFormat,
                              kDelete.code,
                              kDelete.successStatus,
                              kDelete.endLog};
const Member kMap = {"zrso_mapSnaps",
                     "Starting to Map [%d] Snapshot(s)/Clone(s)",
                     ZRSO::SNAP_STATUS_MAP_PENDING,
                     "%s: Failed to Map Snaps for the Control Host [%d]",
                     ZR_HDS_ERR_MAP,
                     ZRSO::SNAP_STATUS_MAPPED,
                     "Completed Mapping snapshot(s)/clone(s). Count [%d]"};
const Member kUnmap = {"zrso_unmapSnaps",
                       "Starting to Unmap [%d] Snapshot(s)/Clone(s)",
                       ZRSO::SNAP_STATUS_UNMAP_PENDING,
                       "%s: Failed to Unmap Snaps for the Control Host [%d]",
                       ZR_HDS_ERR_UNMAP,
                       ZRSO::SNAP_STATUS_UNMAPPED,
                       "Completed Unmapping snapshot(s)/clone(s). Count [%d]"};
const Member kReconcile = {"zrso_reconcileSnaps",
                           "Going to Reconcile [%d] Snapshot(s)/Clone(s)",
                           0,
                           "%s: Failed to Reconcile Snaps for the Control Host [%d]",
                           ZR_HDS_ERR_RECONCILE,
                           0,
                           "Completed Reconcile operation for snapshot(s)/clone(s). Count [%d]"};

zrso_frame::LoopRules rulesOf(const Member& m, bool goOnAfterLocalFailure = false) {
  return zrso_frame::LoopRules{m.function, m.failureFormat, m.code, goOnAfterLocalFailure};
}

// Groups, runs and folds: the frame after the argument check and start log.
int groupRunAndFold(const Member& m, ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util,
                    const GroupRunner& runner) {
  SnapGroupMap groups;
  zrso_frame::groupByControlHost(snaps, count, m.pendingStatus, groups);
  zrso_frame::runGroupLoop(rulesOf(m), runner, groups, snaps[0], count, util);
  snaps[0]->log(1, m.function, m.endLog, count);
  return getReturnStatus(snaps, count, m.successStatus);
}

int runMember(const Member& m, ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util,
              const GroupRunner& runner) {
  if (validateInputParams(snaps, count, util) == 0) return 1;
  if (zrso_frame::refuseRepeatedDevices(snaps, count, m.code, m.function)) return 1;
  snaps[0]->log(1, m.function, m.startLog, count);
  return groupRunAndFold(m, snaps, count, util, runner);
}

int postSnapDevices(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  const Member& m = kPostCreate;
  if (validateInputParams(snaps, count, util) == 0) return 1;
  if (zrso_frame::refuseRepeatedDevices(snaps, count, m.code, m.function)) return 1;
  snaps[0]->log(1, m.function, m.startLog, count);
  if (WaitForQMarkerCommit(snaps, count, util) != 0) return 1;
  return groupRunAndFold(m, snaps, count, util,
                         zrso_frame::basicRunner(hds_PostCreateWorker, POST_CREATE_SNAPS));
}

// Delete: a device joins its group only when its stored metadata names a
// snapshot on the array; one with nothing to delete is deleted at once.
int deleteSnaps(const Member& m, ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util,
                bool needSnapMu) {
  if (validateInputParams(snaps, count, util) == 0) return 1;
  if (zrso_frame::refuseRepeatedDevices(snaps, count, m.code, m.function)) return 1;
  ZRSO::SnapInfo* first = snaps[0];
  first->log(1, m.function, m.startLog, count);
  SnapGroupMap groups;
  for (short i = 0; i < count; ++i) {
    ZRSO::SnapInfo* device = snaps[i];
    ZRHDSMetadataInfo info;
    info.initialize();
    device->setStatus(m.pendingStatus);
    std::string refusal;
    if (ZRHDSCLIUtils::getInfoFromUniqueMetadata(device, info, false, &refusal) == 0) {
      // The device stays pending and counts as not deleted: say why.
      zrso_frame::recordUnlessErrored(
          device, m.code,
          format("%s: Failed to get snap related info from metadata. %s", m.function,
                 refusal.c_str()),
          first, m.function);
      continue;
    }
    if (info.baseSerialNo.empty() || (needSnapMu && info.snapMu.empty())) {
      device->setStatus(m.successStatus);
      continue;
    }
    groups[device->getControlHostId()].push_back(device);
  }
  zrso_frame::runGroupLoop(rulesOf(m), zrso_frame::basicRunner(hds_DeleteWorker, DELETE_SNAPS),
                           groups, first, count, util);
  first->log(1, m.function, m.endLog, count);
  return getReturnStatus(snaps, count, m.successStatus);
}

// Records a failed pre- or post-step of map and unmap on device, unless it
// holds an error already.
void recordStepFailure(const Member& m, ZRSO::SnapInfo* device, ZRSO::SnapInfo* first,
                       const char* what) {
  zrso_frame::recordUnlessErrored(
      device, m.code, format("%s: Failed to perform %s.", m.function, what), first, m.function);
}

int mapSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  const Member& m = kMap;
  if (validateInputParams(snaps, count, util) == 0) return 1;
  if (zrso_frame::refuseRepeatedDevices(snaps, count, m.code, m.function)) return 1;
  ZRSO::SnapInfo* first = snaps[0];
  first->log(1, m.function, m.startLog, count);
  SnapGroupMap groups;
  zrso_frame::groupByControlHost(snaps, count, m.pendingStatus, groups);
  ZRMapInitiatorParams params;
  ZRSO::SnapInfo* last = snaps[count - 1];
  if (ZRHDSCLIUtils::PrepareToMapUnmap(last, util, false, params) == 0) {
    // The pre-map step recorded its reason on the device it was handed.
    recordStepFailure(m, last, first, "pre-Map procedures");
    return 1;
  }
  auto local = [&params](SnapGroup& group, short size, ZRSO::ZROSUtil* u) {
    return hds_MapWorker(group, size, u, params);
  };
  const zrso_frame::LoopResult loop = zrso_frame::runGroupLoop(
      rulesOf(m), zrso_frame::mapUnmapRunner(local, MAP_SNAPS, params), groups, first, count, util);
  if (loop.completed && ZRHDSCLIUtils::FinishPostMap(snaps, count, util, params) == 0) {
    recordStepFailure(m, first, first, "post-Map procedures");
    return 1;
  }
  first->log(1, m.function, m.endLog, count);
  return getReturnStatus(snaps, count, m.successStatus);
}

int unmapSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  const Member& m = kUnmap;
  if (validateInputParams(snaps, count, util) == 0) return 1;
  if (zrso_frame::refuseRepeatedDevices(snaps, count, m.code, m.function)) return 1;
  ZRSO::SnapInfo* first = snaps[0];
  first->log(1, m.function, m.startLog, count);
  SnapGroupMap groups;
  zrso_frame::groupByControlHost(snaps, count, m.pendingStatus, groups);
  ZRMapInitiatorParams params;
  ZRSO::SnapInfo* last = snaps[count - 1];
  if (ZRHDSCLIUtils::PrepareToMapUnmap(last, util, true, params) == 0) {
    recordStepFailure(m, last, first, "pre-Unmap procedures");
    return 1;
  }
  auto local = [&params](SnapGroup& group, short size, ZRSO::ZROSUtil* u) {
    return hds_UnmapWorker(group, size, u, params);
  };
  // A failing local group does not keep the other groups mapped.
  const zrso_frame::LoopResult loop = zrso_frame::runGroupLoop(
      rulesOf(m, true), zrso_frame::mapUnmapRunner(local, UNMAP_SNAPS, params), groups, first,
      count, util);
  if (!loop.remoteFailed && !ZRHDSCLIUtils::FinishPostUnmap(snaps, count, util, params)) {
    recordStepFailure(m, first, first, "post-Unmap procedures");
  }
  first->log(1, m.function, m.endLog, count);
  return getReturnStatus(snaps, count, m.successStatus);
}

int reconcileSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  const Member& m = kReconcile;
  if (validateInputParams(snaps, count, util) == 0) return 1;
  if (zrso_frame::refuseRepeatedDevices(snaps, count, m.code, m.function)) return 1;
  ZRSO::SnapInfo* first = snaps[0];
  first->log(1, m.function, m.startLog, count);
  SnapGroupMap groups;
  zrso_frame::groupByControlHost(snaps, count, 0, groups);
  // A failed remote group ends the loop; it and the groups after it count as
  // failed, as every failed local group does.
  const zrso_frame::LoopResult loop = zrso_frame::runGroupLoop(
      rulesOf(m, true), zrso_frame::basicRunner(hds_ReconcileWorker, RECONCILE_SNAPS), groups,
      first, count, util);
  first->log(1, m.function, m.endLog, count);
  if (loop.failedDevices == 0) return 0;
  return loop.failedDevices < count ? 2 : 1;
}

}  // namespace

extern "C" {

int zrso_snapDevices(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  return guarded(kCreate.function, snaps, count, kCreate.code, [&] {
    return runMember(kCreate, snaps, count, util,
                     zrso_frame::basicRunner(hds_CreateWorker, CREATE_SNAPS));
  });
}

int zrso_createRemoteSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  return guarded(kCreateRemote.function, snaps, count, kCreateRemote.code, [&] {
    return runMember(kCreateRemote, snaps, count, util,
                     zrso_frame::basicRunner(hds_PostCreateWorker, CREATE_REMOTE_SNAPS));
  });
}

int zrso_postSnapDevices(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  return guarded(kPostCreate.function, snaps, count, kPostCreate.code,
                 [&] { return postSnapDevices(snaps, count, util); });
}

int zrso_revertSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  return guarded(kRevert.function, snaps, count, kRevert.code, [&] {
    return runMember(kRevert, snaps, count, util,
                     zrso_frame::basicRunner(hds_RevertWorker, REVERT_SNAPS));
  });
}

int zrso_deleteSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  return guarded(kDelete.function, snaps, count, kDelete.code,
                 [&] { return deleteSnaps(kDelete, snaps, count, util, true); });
}

int zrso_deleteRemoteSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  // The partner side may hold a snapshot group without a snapshot MU.
  return guarded(kDeleteRemote.function, snaps, count, kDeleteRemote.code,
                 [&] { return deleteSnaps(kDeleteRemote, snaps, count, util, false); });
}

int zrso_mapSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  return guarded(kMap.function, snaps, count, kMap.code,
                 [&] { return mapSnaps(snaps, count, util); });
}

int zrso_unmapSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  return guarded(kUnmap.function, snaps, count, kUnmap.code,
                 [&] { return unmapSnaps(snaps, count, util); });
}

int zrso_reconcileSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  return guarded(kReconcile.function, snaps, count, kReconcile.code,
                 [&] { return reconcileSnaps(snaps, count, util); });
}

}  // extern "C"
