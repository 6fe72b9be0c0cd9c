// Remote execution messages: building and reading the request and response
// texts. Received texts are read only through zrjson's non-asserting
// readers.
#include "remote/HDSRemoteMessages.h"

#include <utility>
#include <vector>

#include "json/zrjson.h"

namespace ZRHDSCLIUtils {
namespace {

const char kControlHostId[] = "controlHostId";
const char kHbaLocal[] = "HbaLocal";
const char kHbaESX[] = "HbaESX";
const char kOpResp[] = "opResp";
const char kMapSnapInfoList[] = "MapSnapInfoList";
const char kMSName[] = "MSName";
const char kMSNum[] = "MSNum";
const char kMSNumVSM[] = "MSNumVSM";

// Names of the ids 0 to 10; the later ids have none of their own.
const char* const kOpNames[] = {
    "SEGREGATE_SNAPS",      "PREPARE_SNAPS",       "CREATE_SNAPS",
    "REVERT_SNAPS",         "RECONCILE_SNAPS",     "MAP_SNAPS",
    "UNMAP_SNAPS",          "DELETE_SNAPS",        "GET_REM_REP_INFO",
    "PREPARE_REMOTE_SNAPS", "CREATE_REMOTE_SNAPS",
};
constexpr int kNamedIds = sizeof kOpNames / sizeof kOpNames[0];

zrjson::Value numberValue(zrjson::Number n) { return zrjson::Value(n); }

zrjson::Array stringArray(const std::vector<std::string>& items) {
  zrjson::Array a;
  for (const std::string& s : items) a << zrjson::Value(s);
  return a;
}

// A received text as an object. The parser's own result is not what
// counts: a text that fails part-way is judged by the members read before
// the failure. False for an empty text or one without members.
bool readObject(const std::string& text, zrjson::Object& object) {
  if (text.empty()) return false;
  object.parse(text);
  return !object.empty();
}

// The strings of the list under key, into out. True, nothing read, when the
// key is absent; false when it is present as anything but an array of
// strings.
bool readStringList(const zrjson::Object& object, const char* key, std::vector<std::string>& out) {
  if (object.kv_map().count(key) == 0) return true;
  const zrjson::Array* list = object.getIf<zrjson::Array>(key);
  if (list == nullptr) return false;
  out.reserve(list->size());
  for (const zrjson::Value* element : list->values()) {
    const zrjson::String* s = element->getIf<zrjson::String>();
    if (s == nullptr) return false;
    out.push_back(*s);
  }
  return true;
}

// "opResp" of a received response, compared exactly; _FAILURE when the text
// holds no object or no numeric "opResp" (found then says so).
int readOpResp(const zrjson::Object& response, bool& found) {
  const zrjson::Number* result = response.getIf<zrjson::Number>(kOpResp);
  found = result != nullptr;
  if (!found) return HDS_REMOTE_RESULT_FAILURE;
  if (*result == 0.0L) return HDS_REMOTE_RESULT_SUCCESS;
  if (*result == 1.0L) return HDS_REMOTE_RESULT_FAILURE;
  return HDS_REMOTE_RESULT_OTHER;
}

// One "MapSnapInfoList" entry; false unless it is an object with the three
// string members.
bool readMapSnapInfo(const zrjson::Value& element, ZRHDSMapDiscoveryInfo& info) {
  const zrjson::Object* entry = element.getIf<zrjson::Object>();
  if (entry == nullptr) return false;
  const zrjson::String* name = entry->getIf<zrjson::String>(kMSName);
  const zrjson::String* num = entry->getIf<zrjson::String>(kMSNum);
  const zrjson::String* numVsm = entry->getIf<zrjson::String>(kMSNumVSM);
  if (name == nullptr || num == nullptr || numVsm == nullptr) return false;
  info.MSName = *name;
  info.MSNum = *num;
  info.MSNumVSM = *numVsm;
  return true;
}

void writeRequest(ZRSO::SnapInfo* rep, zrjson::Object& request) {
  const int controlHostId = rep != nullptr ? rep->getControlHostId() : 0;
  request.import(kControlHostId, numberValue(controlHostId));
}

}  // namespace

bool isRemoteMessageId(int id) { return id >= 0 && id <= HDS_REMOTE_MESSAGE_ID_LAST; }

bool isMapUnmapMessageId(int id) { return id == MAP_SNAPS || id == UNMAP_SNAPS; }

std::string getRemoteOpNameUsingMsgId(short id) {
  if (id < 0 || id >= kNamedIds) return "UNKNOWN";
  return kOpNames[id];
}

int buildRemoteReqWithJson(ZRSO::SnapInfo* rep, std::string& out) {
  zrjson::Object request;
  writeRequest(rep, request);
  out.clear();
  out = request.json();
  return 1;
}

int parseRemoteReqfromJson(ZRSO::SnapInfo* /*device*/, const std::string& json,
                           int& controlHostId) {
  zrjson::Object request;
  if (!readObject(json, request)) return 0;
  const zrjson::Number* id = request.getIf<zrjson::Number>(kControlHostId);
  int value = 0;
  if (id == nullptr || !zrjson::toInt(*id, value)) value = 0;
  controlHostId = value;
  return controlHostId >= 1 ? 1 : 0;
}

int buildRemoteReqWithJsonForMapUnmap(ZRSO::SnapInfo* rep, const ZRMapInitiatorParams& params,
                                      std::string& out) {
  zrjson::Object request;
  writeRequest(rep, request);
  request.import(kHbaLocal, zrjson::Value(stringArray(params.localInitiators)));
  request.import(kHbaESX, zrjson::Value(stringArray(params.vmInitiators)));
  out.clear();
  out = request.json();
  return 1;
}

int parseRemoteReqFromJsonForMapUnmap(ZRSO::SnapInfo* /*device*/, const std::string& json,
                                      ZRMapInitiatorParams& params) {
  zrjson::Object request;
  if (!readObject(json, request)) return 0;
  std::vector<std::string> local, esx;
  if (!readStringList(request, kHbaLocal, local) || !readStringList(request, kHbaESX, esx))
    return 0;
  params.localInitiators.insert(params.localInitiators.end(), local.begin(), local.end());
  params.vmInitiators.insert(params.vmInitiators.end(), esx.begin(), esx.end());
  return 1;
}

int buildRemoteRespWithJson(ZRSO::SnapInfo* /*device*/, unsigned int result,
                            const ZRMapInitiatorParams& params, std::string& out) {
  zrjson::Object response;
  response.import(kOpResp, numberValue(result));
  if (!params.mapDiscoveryInfo.empty()) {
    zrjson::Array list;
    for (const ZRHDSMapDiscoveryInfo& info : params.mapDiscoveryInfo) {
      zrjson::Object entry;
      entry.import(kMSName, zrjson::Value(info.MSName));
      entry.import(kMSNum, zrjson::Value(info.MSNum));
      entry.import(kMSNumVSM, zrjson::Value(info.MSNumVSM));
      list << zrjson::Value(entry);
    }
    response.import(kMapSnapInfoList, zrjson::Value(list));
  }
  out.clear();
  out = response.json();
  return 1;
}

int getDetailsFromJSONResp(ZRSO::SnapInfo* /*device*/, const std::string& resp) {
  zrjson::Object response;
  if (!readObject(resp, response)) return HDS_REMOTE_RESULT_FAILURE;
  bool found = false;
  return readOpResp(response, found);
}

int getMapUnmapDetailsFromJSONResp(ZRSO::SnapInfo* /*device*/, const std::string& resp,
                                   ZRMapInitiatorParams& params) {
  zrjson::Object response;
  if (!readObject(resp, response)) return HDS_REMOTE_RESULT_FAILURE;
  bool found = false;
  const int result = readOpResp(response, found);
  if (!found) return HDS_REMOTE_RESULT_FAILURE;
  const zrjson::Array* list = response.getIf<zrjson::Array>(kMapSnapInfoList);
  if (list == nullptr) return HDS_REMOTE_RESULT_FAILURE;
  std::vector<ZRHDSMapDiscoveryInfo> entries(list->size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!readMapSnapInfo(*list->values()[i], entries[i])) return HDS_REMOTE_RESULT_FAILURE;
  }
  params.mapDiscoveryInfo.insert(params.mapDiscoveryInfo.end(),
                                 std::make_move_iterator(entries.begin()),
                                 std::make_move_iterator(entries.end()));
  return result;
}

}  // namespace ZRHDSCLIUtils
