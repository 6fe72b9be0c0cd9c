// Remote execution transport: the metadata a request travels in, every
// failure text, the length check before allocation, and a whole exchange
// with a second plug-in side that the host's remote call stands in for.
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
const char kFn[] = "ZRHDSCLIUtils::ExecuteOnRemoteMA";

// A host whose answer to the length query and to the read can be set.
class BlobHost : public FakeSnapInfo {
 public:
  static constexpr int kOwnLength = INT_MIN;
  int reportedLength = kOwnLength;
  int readResult = 0;
  int reads = 0;
  int getMetadataBlob(int id, char* buffer, int* length) override {
    if (buffer == nullptr && reportedLength != kOwnLength && length != nullptr) {
      *length = reportedLength;
      return 0;
    }
    if (buffer != nullptr) {
      ++reads;
      if (readResult != 0) return readResult;
    }
    return FakeSnapInfo::getMetadataBlob(id, buffer, length);
  }
};

struct Exchange {
  FakeSnapInfo device;
  FakeOSUtil util;
  std::string request = "{\n\t\"controlHostId\": 3 \n} \n";
  std::string response;
  // What the remote side saw in metadata 61 and 60 at the call.
  std::string seenId, seenRequest;
  bool seenRequestPresent = false;

  // The remote side answers with answer (nothing when answer is null).
  void answerWith(const char* answer, bool ok = true) {
    util.setRemoteHandler([this, answer, ok](const std::string&) {
      seenId = device.metadata(kId);
      seenRequestPresent = device.hasMetadata(kMsg);
      seenRequest = device.metadata(kMsg);
      device.setMetadataByType(kMsg, answer);
      return ok;
    });
  }
  int run(unsigned int id) {
    return ExecuteOnRemoteMA(&device, 1, &util, "ma2", id, request, response);
  }
};

TEST(RemoteTransport, SuccessCarriesIdAndRequestAndClearsBoth) {
  Exchange x;
  x.answerWith("{\"opResp\": 0}");
  EXPECT_EQ(0, x.run(CREATE_SNAPS));
  EXPECT_EQ("2", x.seenId);
  EXPECT_EQ(x.request, x.seenRequest);
  EXPECT_EQ("{\"opResp\": 0}", x.response);
  EXPECT_FALSE(x.device.hasMetadata(kId));
  EXPECT_FALSE(x.device.hasMetadata(kMsg));
  EXPECT_EQ(std::vector<std::string>{"ma2"}, x.util.remoteCalls());
  EXPECT_EQ(0, x.device.errorCode());
  EXPECT_TRUE(x.device.logged("Setting Metadata : Type-[61], Metadata-[2]"));
  EXPECT_TRUE(x.device.logged("<<<< BEGIN EXEC_ON_REMOTE_MA [ma2]. >>>>"));
  EXPECT_TRUE(x.device.logged("<<<< END EXEC_ON_REMOTE_MA [ma2], Return [SUCCESS] >>>>"));
}

TEST(RemoteTransport, EmptyRequestClearsAnOlderOne) {
  Exchange x;
  x.device.setMetadataText(kMsg, "{\"controlHostId\": 9}");  // left by a failed exchange
  x.request.clear();
  x.answerWith("{\"opResp\": 0}");
  EXPECT_EQ(0, x.run(QMARKER_COMMIT_SNAPS));
  EXPECT_EQ("12", x.seenId);
  EXPECT_FALSE(x.seenRequestPresent);
}

TEST(RemoteTransport, FailuresRecord62012AndKeepTheMetadata) {
  struct Row {
    const char* name;
    bool hostOk;
    const char* answer;  // left in metadata 60 by the remote side
    const char* text;
  };
  const Row rows[] = {
      {"host call fails", false, nullptr,
       "ZRHDSCLIUtils::ExecuteOnRemoteMA: Failed to execute on remote MA."},
      {"no response", true, nullptr,
       "ZRHDSCLIUtils::ExecuteOnRemoteMA: Empty response received from remote MA."},
      {"empty response", true, "",
       "ZRHDSCLIUtils::ExecuteOnRemoteMA: Empty response received from remote MA."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Exchange x;
    x.util.setRemoteHandler([&](const std::string&) {
      if (row.answer == nullptr) {
        x.device.clearMetadataText(kMsg);
      } else {
        x.device.setMetadataText(kMsg, row.answer);
      }
      return row.hostOk;
    });
    EXPECT_EQ(1, x.run(DELETE_SNAPS));
    EXPECT_EQ(ZR_HDS_ERR_REMOTE_EXECUTION, x.device.errorCode());
    EXPECT_EQ(row.text, x.device.errorText());
    EXPECT_EQ("7", x.device.metadata(kId));
    EXPECT_TRUE(x.response.empty());
    if (!row.hostOk) {
      EXPECT_TRUE(x.device.logged("Return [FAIL]"));
    }
  }
}

TEST(RemoteTransport, ResponseLengthCheckedBeforeAllocation) {
  struct Row {
    int reported;
    int readResult;
    int result;
    int reads;  // buffer reads the host saw
  };
  const Row rows[] = {
      {BlobHost::kOwnLength, 0, HDS_REMOTE_READ_OK, 1},
      {0, 0, HDS_REMOTE_READ_EMPTY, 0},
      {-5, 0, HDS_REMOTE_READ_FAILED, 0},
      {HDS_REMOTE_MESSAGE_MAX_LENGTH + 1, 0, HDS_REMOTE_READ_FAILED, 0},
      {INT_MAX, 0, HDS_REMOTE_READ_FAILED, 0},
      {BlobHost::kOwnLength, 1, HDS_REMOTE_READ_FAILED, 1},  // the read itself refused
  };
  for (const Row& row : rows) {
    BlobHost host;
    host.setMetadataText(kMsg, "{\"opResp\": 0}");
    host.reportedLength = row.reported;
    host.readResult = row.readResult;
    std::string text = "before";
    EXPECT_EQ(row.result, readRemoteMessage(&host, text)) << row.reported;
    EXPECT_EQ(row.reads, host.reads) << row.reported;
    EXPECT_EQ(row.result == HDS_REMOTE_READ_OK ? "{\"opResp\": 0}" : "before", text);
  }
  // A host that stores more than it reported: only the reported length is
  // taken.
  BlobHost shorter;
  shorter.setMetadataText(kMsg, "{\"opResp\": 0}");
  shorter.reportedLength = 3;
  std::string text;
  EXPECT_EQ(HDS_REMOTE_READ_OK, readRemoteMessage(&shorter, text));
  EXPECT_EQ("{\"o", text);
}

TEST(RemoteTransport, UnreadableResponseText) {
  BlobHost host;
  FakeOSUtil util;
  util.setRemoteHandler([&](const std::string&) {
    host.setMetadataText(kMsg, "{\"opResp\": 0}");
    host.readResult = 1;
    return true;
  });
  std::string request = "{}", response;
  EXPECT_EQ(1, ExecuteOnRemoteMA(&host, 1, &util, "ma2", MAP_SNAPS, request, response));
  EXPECT_EQ(std::string(kFn) + ": Failed to get remote metadata type [60].", host.errorText());
  EXPECT_EQ("5", host.metadata(kId));
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

// ---- a whole exchange ---------------------------------------------------------

// The plug-in on the other media agent, as far as the messages reach: it
// takes the request off its own devices, runs a worker on the devices of
// the requested control host and stores the response.
struct RemoteSide {
  std::vector<std::unique_ptr<FakeSnapInfo>> devices;
  std::vector<int> workerRuns;
  std::vector<std::string> workerInitiators;

  void addDevice(int controlHost, const std::string& name) {
    devices.emplace_back(new FakeSnapInfo);
    devices.back()->setControlHostId(controlHost);
    devices.back()->setSnapName(name);
  }
  int worker(int id, std::vector<FakeSnapInfo*>& group, ZRMapInitiatorParams& params) {
    workerRuns.push_back(id);
    workerInitiators = params.localInitiators;
    for (FakeSnapInfo* d : group) {
      d->setStatus(id == MAP_SNAPS ? ZRSO::SNAP_STATUS_MAPPED : ZRSO::SNAP_STATUS_CREATED);
      if (id == MAP_SNAPS) {
        ZRHDSMapDiscoveryInfo info;
        info.MSName = d->snapName();
        info.MSNum = "4242";
        params.mapDiscoveryInfo.push_back(info);
      }
    }
    return 0;
  }
  // 0 when a response was stored.
  int receive() {
    std::vector<ZRSO::SnapInfo*> list;
    for (auto& d : devices) list.push_back(d.get());
    short id = -1;
    int at = findRemoteMessageDevice(list.data(), static_cast<short>(list.size()), id);
    if (at < 0) return 1;
    std::string request;
    if (readRemoteMessage(list[at], request) != HDS_REMOTE_READ_OK) return 1;
    int controlHost = 0;
    if (!parseRemoteReqfromJson(list[at], request, controlHost)) return 1;
    std::vector<FakeSnapInfo*> group;
    for (auto& d : devices)
      if (d->getControlHostId() == controlHost) group.push_back(d.get());
    if (group.empty() || !isRemoteMessageId(id)) return 1;
    ZRMapInitiatorParams params;
    unsigned int status = 1;  // a refused map request answers failure
    if (!isMapUnmapMessageId(id) || parseRemoteReqFromJsonForMapUnmap(list[at], request, params))
      status = static_cast<unsigned int>(worker(id, group, params));
    std::string response;
    buildRemoteRespWithJson(list[at], status, params, response);
    return list[at]->setMetadataByType(kMsg, response.c_str()) == 0 ? 0 : 1;
  }
};

// The host: carries the sender's metadata 61 and 60 to the remote side's
// first device and the response back.
struct Carried {
  FakeSnapInfo sender;
  FakeOSUtil util;
  RemoteSide remote;

  Carried() {
    sender.setControlHostId(3);
    remote.addDevice(4, "other");
    remote.addDevice(3, "snapA");
    remote.addDevice(3, "snapB");
    util.setRemoteHandler([this](const std::string&) {
      FakeSnapInfo& first = *remote.devices[0];
      first.setMetadataText(kId, sender.metadata(kId));
      first.setMetadataText(kMsg, sender.metadata(kMsg));
      if (remote.receive() != 0) return false;
      sender.setMetadataText(kMsg, first.metadata(kMsg));
      return true;
    });
  }
};

TEST(RemoteExchange, BasicOperationRunsOnTheRequestedControlHost) {
  Carried c;
  std::string request, response;
  buildRemoteReqWithJson(&c.sender, request);
  ASSERT_EQ(0, ExecuteOnRemoteMA(&c.sender, 1, &c.util, "ma2", CREATE_SNAPS, request, response));
  EXPECT_EQ(HDS_REMOTE_RESULT_SUCCESS, getDetailsFromJSONResp(&c.sender, response));
  EXPECT_EQ(std::vector<int>{CREATE_SNAPS}, c.remote.workerRuns);
  EXPECT_EQ(0, c.remote.devices[0]->getStatus());
  EXPECT_EQ(ZRSO::SNAP_STATUS_CREATED, c.remote.devices[1]->getStatus());
  EXPECT_EQ(ZRSO::SNAP_STATUS_CREATED, c.remote.devices[2]->getStatus());
}

TEST(RemoteExchange, MapCarriesInitiatorsOutAndMappedSnapsBack) {
  Carried c;
  ZRMapInitiatorParams params;
  params.localInitiators = {"10000090FA000001"};
  std::string request, response;
  buildRemoteReqWithJsonForMapUnmap(&c.sender, params, request);
  ASSERT_EQ(0, ExecuteOnRemoteMA(&c.sender, 1, &c.util, "ma2", MAP_SNAPS, request, response));
  EXPECT_EQ(params.localInitiators, c.remote.workerInitiators);
  EXPECT_EQ(HDS_REMOTE_RESULT_SUCCESS, getMapUnmapDetailsFromJSONResp(&c.sender, response, params));
  ASSERT_EQ(2u, params.mapDiscoveryInfo.size());
  EXPECT_EQ("snapA", params.mapDiscoveryInfo[0].MSName);
  EXPECT_EQ("snapB", params.mapDiscoveryInfo[1].MSName);
  EXPECT_EQ("4242", params.mapDiscoveryInfo[1].MSNum);
}

TEST(RemoteExchange, MapRequestWithRejectedListsRunsNoWorker) {
  Carried c;
  std::string request = "{\"HbaLocal\": [\"10000090FA000001\", 7], \"controlHostId\": 3}";
  std::string response;
  ASSERT_EQ(0, ExecuteOnRemoteMA(&c.sender, 1, &c.util, "ma2", MAP_SNAPS, request, response));
  ZRMapInitiatorParams params;
  EXPECT_EQ(HDS_REMOTE_RESULT_FAILURE, getMapUnmapDetailsFromJSONResp(&c.sender, response, params));
  EXPECT_EQ(HDS_REMOTE_RESULT_FAILURE, getDetailsFromJSONResp(&c.sender, response));
  EXPECT_TRUE(c.remote.workerRuns.empty());
  EXPECT_EQ(0, c.remote.devices[1]->getStatus());
}

}  // namespace
