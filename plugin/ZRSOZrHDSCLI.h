#pragma once
// Internals of the plug-in's entry layer: the device groups, the operation
// workers (one per operation, each for one control-host group), the GAD and
// Q-marker coordinators. The exported functions are in plugin/zrso_api.h.
//
// Every worker takes the group (at least one device; its first entry is the
// group's first device), a count (unused except where said) and the host's
// utility object; it returns 0 on success and 1 on failure, records a
// failure on the group's first device and sets the success status on the
// group's devices itself.
#include <map>
#include <vector>

#include "host/ZRSOSnapInfo.h"
#include "records/HDSRecords.h"

using SnapGroup = std::vector<ZRSO::SnapInfo*>;
// Control-host id -> its devices in array order, walked in ascending id.
using SnapGroupMap = std::map<int, SnapGroup>;

// Error codes of the entry layer that the shared constants do not carry.
constexpr int ZR_HDS_ERR_SET_METADATA = 60500;
// Engine type of Thin Image targetless snapshots.
constexpr short ZR_HDS_ENGINE_THIN_IMAGE = 73;
// Highest LDEV number a source device may report.
constexpr int ZR_HDS_MAX_SOURCE_LDEV = 65279;

// ---- operation workers ------------------------------------------------------
int hds_SegregateWorker(SnapGroup& group, short count, ZRSO::ZROSUtil* util);
int hds_PrepareWorker(SnapGroup& group, short count, ZRSO::ZROSUtil* util, bool secondary);
int hds_CreateWorker(SnapGroup& group, short count, ZRSO::ZROSUtil* util);
int hds_RevertWorker(SnapGroup& group, short count, ZRSO::ZROSUtil* util);
int hds_ReconcileWorker(SnapGroup& group, short count, ZRSO::ZROSUtil* util);
int hds_MapWorker(SnapGroup& group, short count, ZRSO::ZROSUtil* util,
                  ZRMapInitiatorParams& params);
int hds_UnmapWorker(SnapGroup& group, short count, ZRSO::ZROSUtil* util,
                    ZRMapInitiatorParams& params);
int hds_DeleteWorker(SnapGroup& group, short count, ZRSO::ZROSUtil* util);
int hds_GetRemoteReplWorker(SnapGroup& group, short count, ZRSO::ZROSUtil* util);
// Passes count on to the prepare worker.
int hds_PrepareRemoteWorker(SnapGroup& group, short count, ZRSO::ZROSUtil* util);
int hds_QMarkerCommitWorker(SnapGroup& group, short count, ZRSO::ZROSUtil* util);
// Nothing to do (replication or post-snap disabled) is a success that sets
// status 5 on the group's devices.
int hds_PostCreateWorker(SnapGroup& group, short count, ZRSO::ZROSUtil* util);

// ---- coordinators -----------------------------------------------------------

// Runs the segregation worker for every group (here or remotely); when every
// device is a GAD device, stores the GAD pair information and rebuilds groups
// from the devices' control-host ids afresh. 0 / 1.
int hds_SegregateGADCoordinator(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util,
                                SnapGroupMap& groups);
// For a GAD backup (every device a GAD device) has the host clone the device
// set, gives each clone the partner side's unique metadata and array binding
// and files it in clones; clones stays empty otherwise. 0 / 1.
int hds_CloneGADCoordinator(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util,
                            SnapGroupMap& clones);
// One Q-marker commit check per control host, with the device bound to the
// MCU array for the check and back to its RCU array after it. 0 / 1.
int WaitForQMarkerCommit(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);
