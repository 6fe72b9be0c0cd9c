#pragma once
// Remote execution messages: the request with which one media agent has the
// plug-in on another run an operation for one control-host group, and the
// response that comes back. Both are JSON objects in the pretty form of
// zrjson (Object::json()), carried in metadata 60 of a device, with the
// message id in metadata 61 (remote/HDSRemoteTransport.h).
//
//   request, basic:    {"controlHostId": <id>}
//   request, map/unmap (ids MAP_SNAPS, UNMAP_SNAPS): also "HbaLocal" and
//                      "HbaESX", arrays of initiator names (always present)
//   response:          {"opResp": <worker result>}, plus "MapSnapInfoList"
//                      (objects of "MSName", "MSNum", "MSNumVSM") whenever
//                      the receiver's record holds mapped snaps
//
// Every reader takes the text as received from another machine: it never
// aborts, whatever the text holds. A text of the wrong shape is refused as a
// whole and leaves the out-parameters as documented.
#include <string>

#include "host/ZRSOSnapInfo.h"
#include "records/HDSRecords.h"

// Message ids (metadata 61). The name of each is getRemoteOpNameUsingMsgId's.
enum HDSRemoteMessageId : unsigned int {
  SEGREGATE_SNAPS = 0,
  PREPARE_SNAPS = 1,
  CREATE_SNAPS = 2,
  REVERT_SNAPS = 3,
  RECONCILE_SNAPS = 4,
  MAP_SNAPS = 5,
  UNMAP_SNAPS = 6,
  DELETE_SNAPS = 7,
  GET_REM_REP_INFO = 8,
  PREPARE_REMOTE_SNAPS = 9,
  CREATE_REMOTE_SNAPS = 10,
  POST_CREATE_SNAPS = 11,
  QMARKER_COMMIT_SNAPS = 12,
};
// The highest id a receiver accepts; ids run from 0.
constexpr int HDS_REMOTE_MESSAGE_ID_LAST = QMARKER_COMMIT_SNAPS;

// Results of the response readers (sender side).
constexpr int HDS_REMOTE_RESULT_SUCCESS = 0;
constexpr int HDS_REMOTE_RESULT_FAILURE = 1;  // failed, or no usable answer
constexpr int HDS_REMOTE_RESULT_OTHER = 2;

namespace ZRHDSCLIUtils {

// True for the ids 0 to HDS_REMOTE_MESSAGE_ID_LAST.
bool isRemoteMessageId(int id);
// True for MAP_SNAPS and UNMAP_SNAPS, whose request and response carry the
// initiator lists and the mapped snaps.
bool isMapUnmapMessageId(int id);

// "SEGREGATE_SNAPS" ... "CREATE_REMOTE_SNAPS" for 0 to 10; "UNKNOWN" for
// every other id, 11 and 12 included.
std::string getRemoteOpNameUsingMsgId(short id);

// ---- Requests ---------------------------------------------------------------

// Basic request for rep's control host (0 when rep is null). out is
// replaced. Always 1.
int buildRemoteReqWithJson(ZRSO::SnapInfo* rep, std::string& out);

// Reads the control-host id of a request. 0 (refused), controlHostId
// untouched, for an empty text or one that parses to no member. Otherwise
// controlHostId := "controlHostId" truncated toward zero, or 0 when it is
// absent, not a number or outside the range of int; 1 when that is 1 to
// INT_MAX, else 0. The device is not used.
int parseRemoteReqfromJson(ZRSO::SnapInfo* device, const std::string& json, int& controlHostId);

// Map/unmap request: the basic request plus params' local and VMware-host
// initiator lists, in order, each present also when empty. Always 1.
int buildRemoteReqWithJsonForMapUnmap(ZRSO::SnapInfo* rep, const ZRMapInitiatorParams& params,
                                      std::string& out);

// Appends "HbaLocal" to params.localInitiators and "HbaESX" to
// params.vmInitiators. 1 accepted, also when neither list is present.
// 0 refused, params untouched: an empty text, no member, or a list present
// as anything but an array of strings. The receiver must not run a map or
// unmap on a refused request. The device is not used.
int parseRemoteReqFromJsonForMapUnmap(ZRSO::SnapInfo* device, const std::string& json,
                                      ZRMapInitiatorParams& params);

// ---- Responses --------------------------------------------------------------

// Response: "opResp" := result and, when params.mapDiscoveryInfo is not
// empty, "MapSnapInfoList" with one object per entry. out is replaced.
// Always 1. The device is not used.
int buildRemoteRespWithJson(ZRSO::SnapInfo* device, unsigned int result,
                            const ZRMapInitiatorParams& params, std::string& out);

// The remote result: HDS_REMOTE_RESULT_SUCCESS when "opResp" is exactly 0,
// _FAILURE when it is exactly 1 or the text has no numeric "opResp", _OTHER
// for any other number. The device is not used.
int getDetailsFromJSONResp(ZRSO::SnapInfo* device, const std::string& resp);

// As getDetailsFromJSONResp, and appends the "MapSnapInfoList" entries to
// params.mapDiscoveryInfo. _FAILURE, params untouched, when "opResp" is
// missing, the list is absent or not an array, or any entry is not an
// object holding the three string members.
int getMapUnmapDetailsFromJSONResp(ZRSO::SnapInfo* device, const std::string& resp,
                                   ZRMapInitiatorParams& params);

}  // namespace ZRHDSCLIUtils
