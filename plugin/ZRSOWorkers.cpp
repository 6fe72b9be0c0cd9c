// The operation workers: each runs one operation for one control-host group
// through an array information container on its own stack.
#include <string>

#include "container/HDSInfoContainer.h"
#include "plugin/ZRSOFrame.h"
#include "util/HDSCLIUtils.h"

using zrso_frame::format;

namespace {

constexpr char kInitFailure[] = "Error in Initializing the HDS container context. Error[%d:%s]";

// Records code on the group's first device with the message of fmt filled
// with the container's error pair. Always 1, the worker's failure.
int fail(ZRHDSInfoContainer& container, ZRSO::SnapInfo* first, int code, const char* fmt) {
  int containerCode = 0;
  std::string text;
  container.getErrorCodeString(containerCode, text);
  SetError(first, code, format(fmt, containerCode, text.c_str()).c_str());
  return 1;
}

void setStatusAll(SnapGroup& group, int status) {
  for (ZRSO::SnapInfo* device : group) device->setStatus(status);
}

// The common shape: one container operation; on success the status on
// every device (0: none).
int runSingle(SnapGroup& group, ZRSO::ZROSUtil* util, OperationType type, int code,
              int (ZRHDSInfoContainer::*operation)(), const char* failure, int successStatus,
              int initCode) {
  ZRHDSInfoContainer container(group, util, type);
  if (!container.IsInitialized()) return fail(container, group.front(), initCode, kInitFailure);
  if ((container.*operation)() == 0) return fail(container, group.front(), code, failure);
  if (successStatus != 0) setStatusAll(group, successStatus);
  return 0;
}

int runSingle(SnapGroup& group, ZRSO::ZROSUtil* util, OperationType type, int code,
              int (ZRHDSInfoContainer::*operation)(), const char* failure, int successStatus) {
  return runSingle(group, util, type, code, operation, failure, successStatus, code);
}

}  // namespace

int hds_SegregateWorker(SnapGroup& group, short, ZRSO::ZROSUtil* util) {
  ZRHDSInfoContainer container(group, util, OPERATION_TYPE_SEGREGATE);
  if (!container.IsInitialized()) {
    return fail(container, group.front(), ZR_HDS_ERR_PREPARE, kInitFailure);
  }
  if (container.IsGADEnabled() && container.getGADPairInfo() != 1) {
    return fail(container, group.front(), ZR_HDS_ERR_PREPARE,
                "Error while collecting GAD pair information. Error[%d:%s]");
  }
  return 0;
}

int hds_PrepareWorker(SnapGroup& group, short, ZRSO::ZROSUtil* util, bool secondary) {
  ZRSO::SnapInfo* first = group.front();
  ZRHDSInfoContainer container(
      group, util, secondary ? OPERATION_TYPE_PREPARE_SECONDARY : OPERATION_TYPE_PREPARE);
  if (!container.IsInitialized()) return fail(container, first, ZR_HDS_ERR_PREPARE, kInitFailure);
  short engine = 0;
  if (container.getSnapEngineTypeInUse(engine) == 0) {
    engine = ZRHDSCLIUtils::getSnapEngineType(first);
  }
  if (engine != ZR_HDS_ENGINE_THIN_IMAGE) {
    SetError(first, ZR_HDS_ERR_PREPARE, "Thin Image Targetless Snap was not configured.");
    return 1;
  }
  if (container.Prepare() == 0) {
    return fail(container, first, ZR_HDS_ERR_PREPARE,
                "Failed to prepare snap devices. Error[%d:%s]");
  }
  if (container.savePrepareMetadata() == 0) {
    return fail(container, first, ZR_HDS_ERR_PREPARE, "Failed to save metadata. Error[%d:%s]");
  }
  setStatusAll(group, ZRSO::SNAP_STATUS_PREPARED);
  return 0;
}

int hds_CreateWorker(SnapGroup& group, short, ZRSO::ZROSUtil* util) {
  return runSingle(group, util, OPERATION_TYPE_CREATE, ZR_HDS_ERR_CREATE,
                   &ZRHDSInfoContainer::Create, "Failed to Create snapshots. Error[%d:%s]",
                   ZRSO::SNAP_STATUS_CREATED);
}

int hds_RevertWorker(SnapGroup& group, short, ZRSO::ZROSUtil* util) {
  return runSingle(group, util, OPERATION_TYPE_REVERT, ZR_HDS_ERR_REVERT,
                   &ZRHDSInfoContainer::Revert, "Failed to Revert snapshots. Error[%d:%s]",
                   ZRSO::SNAP_STATUS_REVERTED);
}

int hds_ReconcileWorker(SnapGroup& group, short, ZRSO::ZROSUtil* util) {
  // Reconcile marks the snapshots the array no longer confirms itself.
  return runSingle(group, util, OPERATION_TYPE_RECONCILE, ZR_HDS_ERR_RECONCILE,
                   &ZRHDSInfoContainer::Reconcile, "Failed to Reconcile snapshots. Error[%d:%s]",
                   0);
}

int hds_DeleteWorker(SnapGroup& group, short, ZRSO::ZROSUtil* util) {
  // Delete sets deleted or delete pending on each device itself.
  return runSingle(group, util, OPERATION_TYPE_DELETE, ZR_HDS_ERR_DELETE,
                   &ZRHDSInfoContainer::Delete, "Failed to Delete snapshots . Error[%d:%s]", 0);
}

int hds_MapWorker(SnapGroup& group, short, ZRSO::ZROSUtil* util, ZRMapInitiatorParams& params) {
  static const char fn[] = "hds_MapWorker";
  ZRSO::SnapInfo* first = group.front();
  ZRHDSInfoContainer container(group, util, OPERATION_TYPE_MAP);
  if (!container.IsInitialized()) return fail(container, first, ZR_HDS_ERR_MAP, kInitFailure);
  if (container.Assign() == 0) {
    return fail(container, first, ZR_HDS_ERR_MAP, "Failed to Assign snapshots. Error[%d:%s]");
  }
  const bool esx = !params.vmInitiators.empty();
  if (esx) {
    first->log(1, fn, "ESX Map - START >>>>>");
    if (container.Map(params.vmInitiators) == 0) {
      return fail(container, first, ZR_HDS_ERR_MAP, "Failed to Map snapshots to ESX. Error[%d:%s]");
    }
    first->log(1, fn, "ESX Map - END >>>>>");
    // The local pass keeps its record in the second map metadata.
    container.setOperationType(OPERATION_TYPE_MAP_SECOND);
  }
  first->log(1, fn, "Local Map - START >>>>>");
  if (container.Map(params.localInitiators) == 0) {
    if (!esx) {
      return fail(container, first, ZR_HDS_ERR_MAP, "Failed to Map snapshots. Error[%d:%s]");
    }
    // Mapped to the ESX hosts already: the local pass may fail.
    int code = 0;
    std::string text;
    container.getErrorCodeString(code, text);
    zrso_frame::logText(first, 2, fn,
                        format("Failed to Map snapshots. Error[%d:%s]", code, text.c_str()));
  }
  first->log(1, fn, "Local Map - END >>>>>");
  if (container.getMappedSnapDiscoveryInfo(params.mapDiscoveryInfo) == 0) {
    return fail(container, first, ZR_HDS_ERR_MAP, "Failed to get mapped snap info. Error[%d:%s]");
  }
  setStatusAll(group, ZRSO::SNAP_STATUS_MAPPED_ON_ARRAY);
  return 0;
}

int hds_UnmapWorker(SnapGroup& group, short, ZRSO::ZROSUtil* util, ZRMapInitiatorParams& params) {
  static const char fn[] = "hds_UnmapWorker";
  ZRSO::SnapInfo* first = group.front();
  ZRHDSInfoContainer container(group, util, OPERATION_TYPE_UNMAP);
  if (!container.IsInitialized()) return fail(container, first, ZR_HDS_ERR_UNMAP, kInitFailure);
  if (!params.vmInitiators.empty()) {
    first->log(1, fn, "ESX Unmap - START >>>>>");
    if (container.Unmap() == 0) {
      return fail(container, first, ZR_HDS_ERR_UNMAP,
                  "Failed to Unmap snapshots to ESX. Error[%d:%s]");
    }
    first->log(1, fn, "ESX Unmap - END >>>>>");
    container.setOperationType(OPERATION_TYPE_UNMAP_SECOND);
  }
  first->log(1, fn, "Local Unmap - START >>>>>");
  if (container.Unmap() == 0) {
    return fail(container, first, ZR_HDS_ERR_UNMAP, "Failed to Unmap snapshots. Error[%d:%s]");
  }
  first->log(1, fn, "Local Unmap - END >>>>>");
  if (container.Unassign() == 0) {
    return fail(container, first, ZR_HDS_ERR_UNMAP, "Failed to Unassign snapshots. Error[%d:%s]");
  }
  if (container.getMappedSnapDiscoveryInfo(params.mapDiscoveryInfo) == 0) {
    return fail(container, first, ZR_HDS_ERR_UNMAP, "Failed to get mapped snap info. Error[%d:%s]");
  }
  return 0;
}

int hds_GetRemoteReplWorker(SnapGroup& group, short, ZRSO::ZROSUtil* util) {
  ZRHDSInfoContainer container(group, util, OPERATION_TYPE_REMOTE_REPL);
  if (!container.IsInitialized()) {
    return fail(container, group.front(), ZR_HDS_ERR_PREPARE, kInitFailure);
  }
  if (container.getRemoteReplicationInfo() != 1) {
    return fail(container, group.front(), ZR_HDS_ERR_PREPARE,
                "Error while collecting replication information. Error[%d:%s]");
  }
  return 0;
}

int hds_PrepareRemoteWorker(SnapGroup& group, short count, ZRSO::ZROSUtil* util) {
  {
    // Logged out again before the prepare worker builds its own container.
    ZRHDSInfoContainer container(group, util, OPERATION_TYPE_PREPARE_REMOTE);
    if (!container.IsInitialized()) {
      return fail(container, group.front(), ZR_HDS_ERR_PREPARE, kInitFailure);
    }
    if (container.checkForVirtualArray() != 1) {
      return fail(container, group.front(), ZR_HDS_ERR_PREPARE,
                  "Error while checking VSM information. Error[%d:%s]");
    }
  }
  return hds_PrepareWorker(group, count, util, true);
}

int hds_QMarkerCommitWorker(SnapGroup& group, short, ZRSO::ZROSUtil* util) {
  ZRSO::SnapInfo* first = group.front();
  ZRHDSInfoContainer container(group, util, OPERATION_TYPE_QMARKER_COMMIT);
  if (!container.IsInitialized()) return fail(container, first, ZR_HDS_ERR_PREPARE, kInitFailure);
  if (first->getReplicationType() == ZRSO::REPLICATION_TYPE_UNIVERSAL_REPLICATOR &&
      container.WaitForQmarkerCommit() == 0) {
    return fail(container, first, ZR_HDS_ERR_CREATE,
                "Failed to check QMarker commit. Error[%d:%s]");
  }
  return 0;
}

int hds_PostCreateWorker(SnapGroup& group, short, ZRSO::ZROSUtil* util) {
  static const char fn[] = "hds_PostCreateWorker";
  ZRSO::SnapInfo* first = group.front();
  const bool replication = first->isReplicationEnabled();
  if (replication) {
    const int type = first->getReplicationType();
    first->log(1, fn, "Replication-[TRUE], HDS Replication Type [%s - %d]",
               type == ZRSO::REPLICATION_TYPE_UNIVERSAL_REPLICATOR ? "HUR" : "TRUE COPY", type);
  }
  const bool postSnap = first->isPostSnapEnabled();
  if (!replication || !postSnap) {
    // Nothing is asked of the array, so nothing was taken: no device is
    // reported created, and the group says why.
    first->log(1, fn, "Nothing to do..");
    SetError(first, ZR_HDS_ERR_CREATE,
             format("Post-snap step not run: replication-[%s], post-snap-[%s] for this job. No "
                    "snapshot was taken.",
                    replication ? "TRUE" : "FALSE", postSnap ? "TRUE" : "FALSE")
                 .c_str());
    return 1;
  }
  return runSingle(group, util, OPERATION_TYPE_POST_CREATE, ZR_HDS_ERR_CREATE,
                   &ZRHDSInfoContainer::Create, "Failed to Create snapshots. Error[%d:%s]",
                   ZRSO::SNAP_STATUS_CREATED, ZR_HDS_ERR_PREPARE);
}
