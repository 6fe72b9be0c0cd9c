// The runners' remote side: a group's request is built from its
// representative, carried by the remote execution transport and its
// response read back.
#include "plugin/ZRSOFrame.h"
#include "remote/HDSRemoteMessages.h"
#include "remote/HDSRemoteTransport.h"

namespace zrso_frame {

GroupRunner basicRunner(std::function<int(SnapGroup&, short, ZRSO::ZROSUtil*)> local,
                        unsigned int messageId) {
  GroupRunner r;
  r.local = std::move(local);
  r.messageId = messageId;
  r.buildRequest = [](ZRSO::SnapInfo* rep, std::string& request) {
    return ZRHDSCLIUtils::buildRemoteReqWithJson(rep, request);
  };
  r.readResponse = [](ZRSO::SnapInfo* rep, const std::string& response) {
    return ZRHDSCLIUtils::getDetailsFromJSONResp(rep, response);
  };
  r.exchange = [](ZRSO::SnapInfo* rep, short count, ZRSO::ZROSUtil* util,
                  const std::string& mediaAgent, unsigned int id, std::string& request,
                  std::string& response) {
    return ZRHDSCLIUtils::ExecuteOnRemoteMA(rep, count, util, mediaAgent, id, request, response);
  };
  return r;
}

GroupRunner mapUnmapRunner(std::function<int(SnapGroup&, short, ZRSO::ZROSUtil*)> local,
                           unsigned int messageId, ZRMapInitiatorParams& params) {
  GroupRunner r = basicRunner(std::move(local), messageId);
  r.buildRequest = [&params](ZRSO::SnapInfo* rep, std::string& request) {
    return ZRHDSCLIUtils::buildRemoteReqWithJsonForMapUnmap(rep, params, request);
  };
  // The remote side's mapped snaps join this call's list.
  r.readResponse = [&params](ZRSO::SnapInfo* rep, const std::string& response) {
    return ZRHDSCLIUtils::getMapUnmapDetailsFromJSONResp(rep, response, params);
  };
  return r;
}

}  // namespace zrso_frame
