// Remote execution transport: the metadata a request travels in, every
// failure text, the length check before allocation, and whole exchanges
// with a second plug-in side that a double of the host's remote call runs.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "host/testing/FakeOSUtil.h"
#include "host/testing/FakeSnapInfo.h"
#include "records/HDSConstants.h"
#include "remote/HDSRemoteMessages.h"
#include "remote/HDSRemoteTransport.h"

namespace {

using namespace ZRHDSCLIUtils;

const int kId = HDS_METADATA_REMOTE_MESSAGE_ID;
const int kMsg = HDS_METADATA_REMOTE_MESSAGE;

// A host whose answers to the length query and to the read can be set.
class BlobHost : public FakeSnapInfo {
 public:
  static constexpr int kOwnLength = INT_MIN;
  int reportedLength = kOwnLength;
  int readResult = 0;
  int reads = 0;
  int getMetadataBlob(int id, char* buffer, int* length) override {
    if (buffer == nullptr && reportedLength != kOwnLength) {
      *length = reportedLength;
      return 0;
    }
    if (buffer != nullptr && (++reads, readResult != 0)) return readResult;
    return FakeSnapInfo::getMetadataBlob(id, buffer, length);
  }
};

// One exchange of device; the remote side leaves answer in metadata 60
// (removes it when null) and reports hostOk.
struct Exchange {
  BlobHost device;
  FakeOSUtil util;
  std::string request = "{\n\t\"controlHostId\": 3 \n} \n";
  std::string response;
  std::string seenId, seenRequest;  // metadata 61 and 60 at the call
  bool seenRequestPresent = false;

  int run(unsigned int id, const char* answer, bool hostOk = true) {
    util.setRemoteHandler([this, answer, hostOk](const std::string&) {
      seenId = device.metadata(kId);
      seenRequestPresent = device.hasMetadata(kMsg);
      seenRequest = device.metadata(kMsg);
      device.setMetadataByType(kMsg, answer);
      return hostOk;
    });
    return ExecuteOnRemoteMA(&device, 1, &util, "ma2", id, request, response);
  }
};

TEST(RemoteTransport, SuccessCarriesIdAndRequestAndClearsBoth) {
  Exchange x;
  EXPECT_EQ(0, x.run(CREATE_SNAPS, "{\"opResp\": 0}"));
  EXPECT_EQ("2", x.seenId);
  EXPECT_EQ(x.request, x.seenRequest);
  EXPECT_EQ("{\"opResp\": 0}", x.response);
  EXPECT_FALSE(x.device.hasMetadata(kId));
  EXPECT_FALSE(x.device.hasMetadata(kMsg));
  EXPECT_EQ(std::vector<std::string>{"ma2"}, x.util.remoteCalls());
  EXPECT_EQ(0, x.device.errorCode());
  EXPECT_TRUE(x.device.logged("Setting Metadata : Type-[61], Metadata-[2]"));
  EXPECT_TRUE(x.device.logged("<<<< END EXEC_ON_REMOTE_MA [ma2], Return [SUCCESS] >>>>"));
}

TEST(RemoteTransport, EmptyRequestClearsAnOlderOne) {
  Exchange x;
  x.device.setMetadataText(kMsg, "{\"controlHostId\": 9}");  // left by a failed exchange
  x.request.clear();
  EXPECT_EQ(0, x.run(QMARKER_COMMIT_SNAPS, "{\"opResp\": 0}"));
  EXPECT_EQ("12", x.seenId);
  EXPECT_FALSE(x.seenRequestPresent);
}

TEST(RemoteTransport, FailuresRecord62012AndKeepTheMetadata) {
  struct Row {
    bool hostOk;
    const char* answer;
    int readResult;
    const char* text;  // after the function name
  };
  const Row rows[] = {
      {false, "{\"opResp\": 0}", 0, ": Failed to execute on remote MA."},
      {true, nullptr, 0, ": Empty response received from remote MA."},
      {true, "", 0, ": Empty response received from remote MA."},
      {true, "{\"opResp\": 0}", 1, ": Failed to get remote metadata type [60]."},
  };
  for (const Row& row : rows) {
    Exchange x;
    x.device.readResult = row.readResult;
    EXPECT_EQ(1, x.run(DELETE_SNAPS, row.answer, row.hostOk)) << row.text;
    EXPECT_EQ(ZR_HDS_ERR_REMOTE_EXECUTION, x.device.errorCode());
    EXPECT_EQ(std::string("ZRHDSCLIUtils::ExecuteOnRemoteMA") + row.text, x.device.errorText());
    EXPECT_EQ("7", x.device.metadata(kId));
    EXPECT_TRUE(x.response.empty());
  }
}

TEST(RemoteTransport, ReportedLengthCheckedBeforeAllocation) {
  struct Row {
    int reported;
    int readResult;
    int result;
    int reads;  // buffer reads the host saw
  };
  const Row rows[] = {
      {BlobHost::kOwnLength, 0, HDS_REMOTE_READ_OK, 1},
      {3, 0, HDS_REMOTE_READ_OK, 1},  // only what was reported is taken
      {0, 0, HDS_REMOTE_READ_EMPTY, 0},
      {-5, 0, HDS_REMOTE_READ_FAILED, 0},
      {HDS_REMOTE_MESSAGE_MAX_LENGTH + 1, 0, HDS_REMOTE_READ_FAILED, 0},
      {INT_MAX, 0, HDS_REMOTE_READ_FAILED, 0},
      {BlobHost::kOwnLength, 1, HDS_REMOTE_READ_FAILED, 1},
  };
  for (const Row& row : rows) {
    BlobHost host;
    host.setMetadataText(kMsg, "{\"opResp\": 0}");
    host.reportedLength = row.reported;
    host.readResult = row.readResult;
    std::string text = "before";
    EXPECT_EQ(row.result, readRemoteMessage(&host, text)) << row.reported;
    EXPECT_EQ(row.reads, host.reads) << row.reported;
    const char* expected = row.reported == 3 ? "{\"o" : "{\"opResp\": 0}";
    EXPECT_EQ(row.result == HDS_REMOTE_READ_OK ? expected : "before", text);
  }
}

TEST(RemoteTransport, MessageDeviceAndIdText) {
  struct Row {
    std::vector<const char*> ids;  // metadata 61 per device; null: none
    int index;
    short id;
  };
  const Row rows[] = {
      {{nullptr, "3", "4"}, 1, 3},
      {{"12", "3"}, 0, 12},
      {{nullptr, nullptr}, -1, 77},
      {{"", "0"}, 1, 0},
      {{"abc"}, 0, -1},
      {{"-1"}, 0, -1},
      {{"07"}, 0, 7},
      {{"-"}, 0, -1},
      {{"1 "}, 0, -1},
      // Only the whole text of one or two digits naming an operation.
      {{"1234"}, 0, -1},
      {{"0012"}, 0, -1},
      {{"00013"}, 0, -1},
      {{"100"}, 0, -1},
      {{"13"}, 0, -1},
      {{"99"}, 0, -1},
      {{"12"}, 0, 12},
      {{"012"}, 0, -1},
  };
  for (const Row& row : rows) {
    std::vector<std::unique_ptr<FakeSnapInfo>> devices;
    std::vector<ZRSO::SnapInfo*> list;
    for (const char* id : row.ids) {
      devices.emplace_back(new FakeSnapInfo);
      if (id != nullptr) devices.back()->setMetadataText(kId, id);
      list.push_back(devices.back().get());
    }
    short id = 77;
    EXPECT_EQ(row.index, findRemoteMessageDevice(list.data(), static_cast<short>(list.size()), id));
    EXPECT_EQ(row.id, id);
  }
}

// ---- whole exchanges --------------------------------------------------------

// The host carries the sender's metadata 61 and 60 to the first device of a
// second plug-in side, which takes the request off it with the receiver's
// calls, runs a worker on the devices of the requested control host and
// answers; the host carries the response back.
struct Carried {
  FakeSnapInfo sender;
  FakeOSUtil util;
  std::vector<std::unique_ptr<FakeSnapInfo>> remote;
  std::vector<int> workerRuns;

  Carried() {
    sender.setControlHostId(3);
    for (int host : {4, 3, 3}) {
      remote.emplace_back(new FakeSnapInfo);
      remote.back()->setControlHostId(host);
      remote.back()->setSnapName("snap" + std::to_string(remote.size()));
    }
    util.setRemoteHandler([this](const std::string&) {
      remote[0]->setMetadataText(kId, sender.metadata(kId));
      remote[0]->setMetadataText(kMsg, sender.metadata(kMsg));
      if (!receive()) return false;
      sender.setMetadataText(kMsg, remote[0]->metadata(kMsg));
      return true;
    });
  }
  bool receive() {
    std::vector<ZRSO::SnapInfo*> list;
    for (auto& d : remote) list.push_back(d.get());
    short id = -1;
    int at = findRemoteMessageDevice(list.data(), static_cast<short>(list.size()), id);
    std::string request;
    int controlHost = 0;
    if (at < 0 || readRemoteMessage(list[at], request) != HDS_REMOTE_READ_OK ||
        !parseRemoteReqfromJson(list[at], request, controlHost) || !isRemoteMessageId(id))
      return false;
    ZRMapInitiatorParams params;
    unsigned int status = 1;  // a refused map request answers failure
    if (!isMapUnmapMessageId(id) || parseRemoteReqFromJsonForMapUnmap(list[at], request, params)) {
      workerRuns.push_back(id);
      status = 0;
      for (auto& d : remote) {
        if (d->getControlHostId() != controlHost) continue;
        d->setStatus(ZRSO::SNAP_STATUS_CREATED);
        ZRHDSMapDiscoveryInfo info;
        info.MSName = d->snapName();
        if (id == MAP_SNAPS) params.mapDiscoveryInfo.push_back(info);
      }
    }
    std::string response;
    buildRemoteRespWithJson(list[at], status, params, response);
    return list[at]->setMetadataByType(kMsg, response.c_str()) == 0;
  }
};

TEST(RemoteExchange, OperationRunsOnTheRequestedControlHostAndAnswersBack) {
  Carried c;
  std::string request, response;
  buildRemoteReqWithJson(&c.sender, request);
  ASSERT_EQ(0, ExecuteOnRemoteMA(&c.sender, 1, &c.util, "ma2", CREATE_SNAPS, request, response));
  EXPECT_EQ(HDS_REMOTE_RESULT_SUCCESS, getDetailsFromJSONResp(&c.sender, response));
  EXPECT_EQ(0, c.remote[0]->getStatus());
  EXPECT_EQ(ZRSO::SNAP_STATUS_CREATED, c.remote[1]->getStatus());
  EXPECT_EQ(ZRSO::SNAP_STATUS_CREATED, c.remote[2]->getStatus());

  ZRMapInitiatorParams params;
  params.localInitiators = {"10000090FA000001"};
  buildRemoteReqWithJsonForMapUnmap(&c.sender, params, request);
  response.clear();
  ASSERT_EQ(0, ExecuteOnRemoteMA(&c.sender, 1, &c.util, "ma2", MAP_SNAPS, request, response));
  EXPECT_EQ(HDS_REMOTE_RESULT_SUCCESS, getMapUnmapDetailsFromJSONResp(&c.sender, response, params));
  ASSERT_EQ(2u, params.mapDiscoveryInfo.size());
  EXPECT_EQ("snap2", params.mapDiscoveryInfo[0].MSName);
  EXPECT_EQ("snap3", params.mapDiscoveryInfo[1].MSName);
  EXPECT_EQ((std::vector<int>{CREATE_SNAPS, MAP_SNAPS}), c.workerRuns);
}

TEST(RemoteExchange, MapRequestWithRejectedListsRunsNoWorker) {
  Carried c;
  std::string request = "{\"HbaLocal\": [\"10000090FA000001\", 7], \"controlHostId\": 3}";
  std::string response;
  ASSERT_EQ(0, ExecuteOnRemoteMA(&c.sender, 1, &c.util, "ma2", MAP_SNAPS, request, response));
  ZRMapInitiatorParams params;
  EXPECT_EQ(HDS_REMOTE_RESULT_FAILURE, getMapUnmapDetailsFromJSONResp(&c.sender, response, params));
  EXPECT_EQ(HDS_REMOTE_RESULT_FAILURE, getDetailsFromJSONResp(&c.sender, response));
  EXPECT_TRUE(c.workerRuns.empty());
  EXPECT_EQ(0, c.remote[1]->getStatus());
}

}  // namespace
