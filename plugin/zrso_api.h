#pragma once
// The plug-in's exported interface: every function the host may look up in
// libzrhdscli.so. Each takes the host's objects, borrowed for the call, and
// never lets an exception out: a failure is a result of 1 (or, for the
// grouped operations, 2 when some devices reached the operation's status).
//
// The device array holds count pointers to the host's per-device objects;
// util is the host's operating-system utility object.
// The plug-in is built with hidden visibility; these alone are exported.
#define ZRSO_EXPORT __attribute__((visibility("default")))

namespace ZRSO {
class SnapInfo;
class ZROSUtil;
}  // namespace ZRSO

extern "C" {

// Interface version 1.0.0; stores nothing unless all three pointers are set.
ZRSO_EXPORT void zrso_version(short* major, short* minor, short* patch);

// 0 when the OS device name is an LDEV of a supported array, 1 otherwise.
// Only the device name is used.
ZRSO_EXPORT int zrso_isSupported(const char* deviceName, int reserved, void* first, void* second,
                                 short third);

// Device preparation: status 1 (prepared) is folded.
ZRSO_EXPORT int zrso_prepareDevices(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);
ZRSO_EXPORT int zrso_prepareRemoteSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);
// Forgets what preparation stored; always 0 for valid arguments.
ZRSO_EXPORT int zrso_unprepareDevices(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);

// Grouped operations: 0 every device reached the success status, 2 some did,
// 1 none did or the arguments were refused.
ZRSO_EXPORT int zrso_snapDevices(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);
ZRSO_EXPORT int zrso_createRemoteSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);
ZRSO_EXPORT int zrso_postSnapDevices(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);
ZRSO_EXPORT int zrso_revertSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);
ZRSO_EXPORT int zrso_deleteSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);
ZRSO_EXPORT int zrso_deleteRemoteSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);
ZRSO_EXPORT int zrso_mapSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);
ZRSO_EXPORT int zrso_unmapSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);
ZRSO_EXPORT int zrso_reconcileSnaps(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);

// Runs a request that another media agent sent (metadata 61 and 60 of one
// device) and stores the response in metadata 60. 0 when the response was
// stored, 1 otherwise.
ZRSO_EXPORT int zrso_execSnapEngineOp(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);

// Required by the interface; nothing to do here. Always 0.
ZRSO_EXPORT int zrso_isMapped(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);
ZRSO_EXPORT int zrso_preSnapDevices(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);

// Rediscovers the OS devices of mapped snaps for raw-device mounts (metadata
// 133). 0 every device found or nothing to do, 1 otherwise.
ZRSO_EXPORT int zrso_processVPDInfo(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util);

}  // extern "C"
