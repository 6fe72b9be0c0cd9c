// The receiving side of remote execution: runs the worker that a request
// from another media agent names, for this call's devices of the requested
// control host, and stores the response in place of the request.
#include <exception>
#include <string>

#include "plugin/ZRSOFrame.h"
#include "plugin/zrso_api.h"
#include "remote/HDSRemoteMessages.h"
#include "remote/HDSRemoteTransport.h"
#include "util/HDSCLIUtils.h"

using zrso_frame::format;

namespace {

constexpr char kFn[] = "zrso_execSnapEngineOp";

// The operation code of each message id's worker, for failures that the
// worker could not record itself.
int operationCode(short id) {
  switch (id) {
    case CREATE_SNAPS:
    case CREATE_REMOTE_SNAPS:
    case POST_CREATE_SNAPS:
      return ZR_HDS_ERR_CREATE;
    case REVERT_SNAPS:
      return ZR_HDS_ERR_REVERT;
    case RECONCILE_SNAPS:
      return ZR_HDS_ERR_RECONCILE;
    case MAP_SNAPS:
      return ZR_HDS_ERR_MAP;
    case UNMAP_SNAPS:
      return ZR_HDS_ERR_UNMAP;
    case DELETE_SNAPS:
      return ZR_HDS_ERR_DELETE;
    default:
      return ZR_HDS_ERR_PREPARE;
  }
}

// Runs the worker of id on group; params receives what a map leaves.
int dispatch(short id, SnapGroup& group, ZRSO::ZROSUtil* util, const std::string& request,
             ZRMapInitiatorParams& params, ZRSO::SnapInfo* first) {
  const short size = static_cast<short>(group.size());
  if (ZRHDSCLIUtils::isMapUnmapMessageId(id) &&
      ZRHDSCLIUtils::parseRemoteReqFromJsonForMapUnmap(first, request, params) == 0) {
    // Running without the sender's initiators could present the S-VOLs to
    // the wrong host.
    first->log(2, kFn, "Refused the initiator lists of the remote request.");
    return 1;
  }
  switch (id) {
    case SEGREGATE_SNAPS:
      return hds_SegregateWorker(group, size, util);
    case PREPARE_SNAPS:
      return hds_PrepareWorker(group, size, util, false);
    case CREATE_SNAPS:
      return hds_CreateWorker(group, size, util);
    case REVERT_SNAPS:
      return hds_RevertWorker(group, size, util);
    case RECONCILE_SNAPS:
      return hds_ReconcileWorker(group, size, util);
    case MAP_SNAPS:
      return hds_MapWorker(group, size, util, params);
    case UNMAP_SNAPS:
      return hds_UnmapWorker(group, size, util, params);
    case DELETE_SNAPS:
      return hds_DeleteWorker(group, size, util);
    case GET_REM_REP_INFO:
      return hds_GetRemoteReplWorker(group, size, util);
    case PREPARE_REMOTE_SNAPS:
      return hds_PrepareRemoteWorker(group, size, util);
    case CREATE_REMOTE_SNAPS:
    case POST_CREATE_SNAPS:
      return hds_PostCreateWorker(group, size, util);
    case QMARKER_COMMIT_SNAPS:
      return hds_QMarkerCommitWorker(group, size, util);
    default:
      return 1;
  }
}

// A worker that throws has failed: the sender gets that answer, and the
// group's devices without an error get the operation's code.
int guardedDispatch(short id, SnapGroup& group, ZRSO::ZROSUtil* util, const std::string& request,
                    ZRMapInitiatorParams& params, ZRSO::SnapInfo* first) {
  std::string what = "unknown exception";
  try {
    return dispatch(id, group, util, request, params, first);
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  zrso_frame::onException(kFn, group.data(), static_cast<short>(group.size()), operationCode(id),
                          what.c_str());
  return 1;
}

// A message id that names no operation: no worker runs, and the sender
// reads the failure ("opResp" 1) in place of its request.
int refuseMessageId(ZRSO::SnapInfo* carrier, ZRSO::SnapInfo* first) {
  first->log(2, kFn, "Refused the remote message: its id is not one of a known operation.");
  ZRMapInitiatorParams params;
  std::string response;
  ZRHDSCLIUtils::buildRemoteRespWithJson(carrier, 1, params, response);
  if (carrier->setMetadataByType(HDS_METADATA_REMOTE_MESSAGE, response.c_str()) != 0) {
    first->log(2, kFn, "Failed to set Remote Response metadata.");
  }
  return 1;
}

int execSnapEngineOp(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  if (validateInputParams(snaps, count, util) == 0) return 1;
  ZRSO::SnapInfo* first = snaps[0];
  short id = -1;
  const int at = ZRHDSCLIUtils::findRemoteMessageDevice(snaps, count, id);
  if (at < 0) {
    first->log(2, kFn, "Failed to find the device containing remote message.");
    return 1;
  }
  ZRSO::SnapInfo* carrier = snaps[at];
  if (!ZRHDSCLIUtils::isRemoteMessageId(id)) return refuseMessageId(carrier, first);
  std::string request;
  if (ZRHDSCLIUtils::readRemoteMessage(carrier, request) != HDS_REMOTE_READ_OK) {
    first->log(2, kFn, "Failed to get Remote Message metadata.");
    return 1;
  }
  const std::string name = ZRHDSCLIUtils::getRemoteOpNameUsingMsgId(id);
  first->log(1, kFn, "Remote Execute Message ID : [%d][%s]", id, name.c_str());
  first->log(0, kFn, "Remote Execute Message Content : [%d][%s]", HDS_METADATA_REMOTE_MESSAGE,
             request.c_str());
  int controlHostId = 0;
  if (ZRHDSCLIUtils::parseRemoteReqfromJson(carrier, request, controlHostId) == 0) {
    first->log(2, kFn, "Failed to get array number from remote request message.");
    return 1;
  }
  SnapGroup group;
  for (short i = 0; i < count; ++i) {
    if (snaps[i]->getControlHostId() == controlHostId) group.push_back(snaps[i]);
  }
  if (group.empty()) {
    first->log(2, kFn, "No devices are present with ControlHostId-[%d]", controlHostId);
    return 1;
  }
  if (!ZRHDSCLIUtils::isRemoteMessageId(id)) {
    first->log(2, kFn, "Incorrect Remote Operation Request-[%d][%s]", id, name.c_str());
    return 1;
  }
  ZRMapInitiatorParams params;
  const unsigned int status =
      static_cast<unsigned int>(guardedDispatch(id, group, util, request, params, first));
  first->log(status == 0 ? 1 : 2, kFn, "Remote Operation-[%s] completed with status-[%u]",
             name.c_str(), status);
  std::string response;
  ZRHDSCLIUtils::buildRemoteRespWithJson(carrier, status, params, response);
  if (carrier->setMetadataByType(HDS_METADATA_REMOTE_MESSAGE, response.c_str()) != 0) {
    first->log(2, kFn, "Failed to set Remote Response metadata.");
    return 1;
  }
  return 0;
}

}  // namespace

extern "C" int zrso_execSnapEngineOp(ZRSO::SnapInfo** snaps, short count, ZRSO::ZROSUtil* util) {
  return zrso_frame::guarded(kFn, snaps, count, 0,
                             [&] { return execSnapEngineOp(snaps, count, util); });
}
