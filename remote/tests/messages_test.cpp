// Remote execution messages: the exact bytes on the wire, round trips of
// every id, and the readers against hostile and malformed text.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "host/testing/FakeSnapInfo.h"
#include "remote/HDSRemoteMessages.h"

namespace {

using namespace ZRHDSCLIUtils;

ZRHDSMapDiscoveryInfo snap(const std::string& name, const std::string& num,
                           const std::string& vsm) {
  ZRHDSMapDiscoveryInfo info;
  info.MSName = name;
  info.MSNum = num;
  info.MSNumVSM = vsm;
  return info;
}

// ---- golden bytes ----------------------------------------------------------

TEST(RemoteGolden, BasicRequestAndResponse) {
  ZRMapInitiatorParams none;
  std::string out = "stale";
  EXPECT_EQ(1, buildRemoteRespWithJson(nullptr, 0, none, out));
  EXPECT_EQ("{\n\t\"opResp\": 0 \n} \n", out);
  EXPECT_EQ(1, buildRemoteRespWithJson(nullptr, 1, none, out));
  EXPECT_EQ("{\n\t\"opResp\": 1 \n} \n", out);
  EXPECT_EQ(std::string::npos, out.find("MapSnapInfoList"));
  FakeSnapInfo rep;
  rep.setControlHostId(7);
  EXPECT_EQ(1, buildRemoteReqWithJson(&rep, out));
  EXPECT_EQ("{\n\t\"controlHostId\": 7 \n} \n", out);
  // A null sender has no control host: the request carries 0, which every
  // receiver refuses.
  EXPECT_EQ(1, buildRemoteReqWithJson(nullptr, out));
  EXPECT_EQ("{\n\t\"controlHostId\": 0 \n} \n", out);
}

TEST(RemoteGolden, MapRequestWithTwoLocalAndNoVmwareInitiators) {
  ZRMapInitiatorParams params;
  params.localInitiators = {"10000090FA123456", "iqn.1994-05.com.redhat:ma1"};
  FakeSnapInfo rep;
  rep.setControlHostId(3);
  std::string out;
  EXPECT_EQ(1, buildRemoteReqWithJsonForMapUnmap(&rep, params, out));
  EXPECT_EQ(
      "{\n"
      "\t\"HbaESX\": [\n"
      "\t],\n"
      "\t\"HbaLocal\": [\n"
      "\t\t\"10000090FA123456\",\n"
      "\t\t\"iqn.1994-05.com.redhat:ma1\" \n"
      "\t],\n"
      "\t\"controlHostId\": 3 \n"
      "} \n",
      out);
}

TEST(RemoteGolden, MapResponseWithOneSnap) {
  ZRMapInitiatorParams params;
  params.mapDiscoveryInfo.push_back(snap("SP_1/2", "7978", "0x1F2A"));
  std::string out;
  EXPECT_EQ(1, buildRemoteRespWithJson(nullptr, 0, params, out));
  EXPECT_EQ(
      "{\n"
      "\t\"MapSnapInfoList\": [\n"
      "\t\t{\n"
      "\t\t\t\"MSName\": \"SP_1\\/2\",\n"
      "\t\t\t\"MSNum\": \"7978\",\n"
      "\t\t\t\"MSNumVSM\": \"0x1F2A\" \n"
      "\t\t} \n"
      "\t],\n"
      "\t\"opResp\": 0 \n"
      "} \n",
      out);
}

// ---- round trips ------------------------------------------------------------

TEST(RemoteRoundTrip, EveryMessageId) {
  for (int id = 0; id <= HDS_REMOTE_MESSAGE_ID_LAST; ++id) {
    SCOPED_TRACE(id);
    EXPECT_TRUE(isRemoteMessageId(id));
    ZRMapInitiatorParams sent;
    sent.localInitiators = {"L" + std::to_string(id)};
    sent.vmInitiators = {"E" + std::to_string(id), "E'\"\\"};
    std::string request;
    const bool mapForm = isMapUnmapMessageId(id);
    EXPECT_EQ(mapForm, id == MAP_SNAPS || id == UNMAP_SNAPS);
    FakeSnapInfo rep;
    rep.setControlHostId(100 + id);
    if (mapForm) {
      buildRemoteReqWithJsonForMapUnmap(&rep, sent, request);
    } else {
      buildRemoteReqWithJson(&rep, request);
    }
    const std::string& body = request;
    int controlHost = 0;
    EXPECT_EQ(1, parseRemoteReqfromJson(nullptr, body, controlHost));
    EXPECT_EQ(100 + id, controlHost);
    ZRMapInitiatorParams received;
    EXPECT_EQ(1, parseRemoteReqFromJsonForMapUnmap(nullptr, body, received));
    if (mapForm) {
      EXPECT_EQ(sent.localInitiators, received.localInitiators);
      EXPECT_EQ(sent.vmInitiators, received.vmInitiators);
    } else {
      EXPECT_TRUE(received.localInitiators.empty() && received.vmInitiators.empty());
    }

    ZRMapInitiatorParams answer;
    if (mapForm)
      answer.mapDiscoveryInfo = {snap("s" + std::to_string(id), "12", ""), snap("t", "13", "x")};
    std::string response;
    const unsigned int result = static_cast<unsigned int>(id % 3);
    buildRemoteRespWithJson(nullptr, result, answer, response);
    if (mapForm) {
      ZRMapInitiatorParams back;
      EXPECT_EQ(static_cast<int>(result), getMapUnmapDetailsFromJSONResp(nullptr, response, back));
      ASSERT_EQ(2u, back.mapDiscoveryInfo.size());
      EXPECT_EQ("s" + std::to_string(id), back.mapDiscoveryInfo[0].MSName);
      EXPECT_EQ("13", back.mapDiscoveryInfo[1].MSNum);
      EXPECT_EQ("x", back.mapDiscoveryInfo[1].MSNumVSM);
    } else {
      EXPECT_EQ(static_cast<int>(result), getDetailsFromJSONResp(nullptr, response));
    }
  }
  EXPECT_FALSE(isRemoteMessageId(-1));
  EXPECT_FALSE(isRemoteMessageId(13));
}

TEST(RemoteNames, NamedIdsAndUnknown) {
  const char* names[] = {"SEGREGATE_SNAPS",      "PREPARE_SNAPS",      "CREATE_SNAPS",
                         "REVERT_SNAPS",         "RECONCILE_SNAPS",    "MAP_SNAPS",
                         "UNMAP_SNAPS",          "DELETE_SNAPS",       "GET_REM_REP_INFO",
                         "PREPARE_REMOTE_SNAPS", "CREATE_REMOTE_SNAPS"};
  for (short id = 0; id <= 10; ++id) EXPECT_EQ(names[id], getRemoteOpNameUsingMsgId(id));
  for (short id : {11, 12, 13, -1, SHRT_MIN, SHRT_MAX})
    EXPECT_EQ("UNKNOWN", getRemoteOpNameUsingMsgId(id)) << id;
}

// ---- request readers ----------------------------------------------------------

TEST(RemoteRequest, ControlHostIdTable) {
  const int kUntouched = 99;
  struct Row {
    std::string text;
    int result;
    int id;
  };
  const Row rows[] = {
      {"", 0, kUntouched},
      {" \n\t", 0, kUntouched},
      {"[{\"controlHostId\": 3}]", 0, kUntouched},
      {"{}", 0, kUntouched},
      {"{controlHostId: 3}", 0, kUntouched},  // keys must be quoted
      {"\x01\xff{\"controlHostId\": 3}", 0, kUntouched},
      {"{\"controlHostId\": 7}", 1, 7},
      {"{\"controlHostId\": 3.9}", 1, 3},
      {"{'controlHostId': +5,}", 1, 5},
      {"{\"controlHostId\": 0}", 0, 0},
      {"{\"controlHostId\": -4}", 0, -4},
      {"{\"controlHostId\": 0.9}", 0, 0},
      {"{\"controlHostId\": \"5\"}", 0, 0},
      {"{\"controlHostId\": [5]}", 0, 0},
      {"{\"controlHostId\": {\"n\": 5}}", 0, 0},
      {"{\"controlHostId\": null}", 0, 0},
      {"{\"other\": 5}", 0, 0},
      {"{\"controlHostId\": 2147483647}", 1, INT_MAX},
      {"{\"controlHostId\": 2147483648}", 0, 0},
      {"{\"controlHostId\": 1e300}", 0, 0},
      {"{\"controlHostId\": 1e4000}", 0, 0},
      {"{\"controlHostId\": -1e4000}", 0, 0},
      // Beyond even long double: no number, so no member at all.
      {"{\"controlHostId\": 1e99999}", 0, kUntouched},
      // A text that fails part-way is judged by what was read.
      {"{\"controlHostId\": 5, \"x\": bad", 1, 5},
      {"{\"controlHostId\": 5 \"x\": 1}", 1, 5},
  };
  for (const Row& row : rows) {
    int id = kUntouched;
    EXPECT_EQ(row.result, parseRemoteReqfromJson(nullptr, row.text, id)) << row.text;
    EXPECT_EQ(row.id, id) << row.text;
  }
}

TEST(RemoteRequest, InitiatorListsTable) {
  struct Row {
    std::string text;
    int result;
    std::vector<std::string> local;
    std::vector<std::string> esx;
  };
  const std::vector<std::string> pre = {"pre"};
  const Row rows[] = {
      {"{\"HbaLocal\": [\"a\", \"b\"], \"HbaESX\": [\"e\"]}", 1, {"pre", "a", "b"}, {"pre", "e"}},
      {"{\"HbaLocal\": [\"a\"], \"controlHostId\": 1}", 1, {"pre", "a"}, pre},
      {"{\"controlHostId\": 1}", 1, pre, pre},
      {"{\"HbaLocal\": [], \"HbaESX\": []}", 1, pre, pre},
      // Refused as a whole, the record untouched: wrong kinds in every list.
      {"{\"HbaLocal\": [1], \"HbaESX\": [\"e\"]}", 0, pre, pre},
      {"{\"HbaLocal\": [\"a\"], \"HbaESX\": [\"e\", null]}", 0, pre, pre},
      {"{\"HbaLocal\": [\"a\", ,]}", 0, pre, pre},
      {"{\"HbaLocal\": [[\"a\"]]}", 0, pre, pre},
      {"{\"HbaLocal\": [{\"a\": 1}]}", 0, pre, pre},
      {"{\"HbaESX\": [true]}", 0, pre, pre},
      {"{\"HbaLocal\": \"a\"}", 0, pre, pre},
      {"{\"HbaESX\": {}}", 0, pre, pre},
      {"{\"HbaESX\": 3}", 0, pre, pre},
      {"", 0, pre, pre},
      {"{}", 0, pre, pre},
      {"not json", 0, pre, pre},
  };
  for (const Row& row : rows) {
    ZRMapInitiatorParams params;
    params.localInitiators = pre;
    params.vmInitiators = pre;
    EXPECT_EQ(row.result, parseRemoteReqFromJsonForMapUnmap(nullptr, row.text, params)) << row.text;
    EXPECT_EQ(row.local, params.localInitiators) << row.text;
    EXPECT_EQ(row.esx, params.vmInitiators) << row.text;
  }
}

// ---- response readers -----------------------------------------------------------

TEST(RemoteResponse, OpRespTable) {
  struct Row {
    std::string text;
    int result;
  };
  const Row rows[] = {
      {"{\"opResp\": 0}", 0},
      {"{\"opResp\": -0}", 0},
      {"{\"opResp\": 0.0e5}", 0},
      {"{\"opResp\": 1}", 1},
      {"{\"opResp\": 0.5}", 2},
      {"{\"opResp\": 2}", 2},
      {"{\"opResp\": -1}", 2},
      {"{\"opResp\": 1e4000}", 2},
      {"{\"opResp\": 1.0000000001}", 2},
      {"{\"opResp\": \"0\"}", 1},
      {"{\"opResp\": null}", 1},
      {"{\"opResp\": [0]}", 1},
      {"{\"other\": 0}", 1},
      {"{}", 1},
      {"", 1},
      {"[0]", 1},
      {"\"opResp\": 0", 1},
      {"{\"opResp\": 0, broken", 0},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.result, getDetailsFromJSONResp(nullptr, row.text)) << row.text;
}

TEST(RemoteResponse, MapSnapInfoListTable) {
  const std::string entry = "{\"MSName\": \"n\", \"MSNum\": \"1\", \"MSNumVSM\": \"v\"}";
  struct Row {
    std::string text;
    int result;
    std::size_t entries;  // appended after the one already held
  };
  const Row rows[] = {
      {"{\"opResp\": 0, \"MapSnapInfoList\": [" + entry + "]}", 0, 1},
      {"{\"opResp\": 2, \"MapSnapInfoList\": [" + entry + "," + entry + "]}", 2, 2},
      {"{\"opResp\": 1, \"MapSnapInfoList\": [" + entry + "]}", 1, 1},
      {"{\"opResp\": 0, \"MapSnapInfoList\": []}", 0, 0},
      {"{\"opResp\": 0}", 1, 0},
      {"{\"MapSnapInfoList\": [" + entry + "]}", 1, 0},
      {"{\"opResp\": \"0\", \"MapSnapInfoList\": [" + entry + "]}", 1, 0},
      {"{\"opResp\": 0, \"MapSnapInfoList\": " + entry + "}", 1, 0},
      {"{\"opResp\": 0, \"MapSnapInfoList\": [" + entry + ", 1]}", 1, 0},
      {"{\"opResp\": 0, \"MapSnapInfoList\": [" + entry + ", ]}", 0, 1},  // trailing comma
      {"{\"opResp\": 0, \"MapSnapInfoList\": [,]}", 1, 0},                // a null entry
      {"{\"opResp\": 0, \"MapSnapInfoList\": [{\"MSName\": \"n\", \"MSNum\": \"1\"}]}", 1, 0},
      {"{\"opResp\": 0, \"MapSnapInfoList\": [{\"MSName\": \"n\", \"MSNum\": 1, "
       "\"MSNumVSM\": \"v\"}]}",
       1, 0},
      {"", 1, 0},
  };
  for (const Row& row : rows) {
    ZRMapInitiatorParams params;
    params.mapDiscoveryInfo.push_back(snap("held", "0", ""));
    EXPECT_EQ(row.result, getMapUnmapDetailsFromJSONResp(nullptr, row.text, params)) << row.text;
    ASSERT_EQ(1 + row.entries, params.mapDiscoveryInfo.size()) << row.text;
    EXPECT_EQ("held", params.mapDiscoveryInfo[0].MSName);
    if (row.entries > 0) {
      EXPECT_EQ("n", params.mapDiscoveryInfo[1].MSName);
      EXPECT_EQ("1", params.mapDiscoveryInfo[1].MSNum);
      EXPECT_EQ("v", params.mapDiscoveryInfo[1].MSNumVSM);
    }
  }
}

}  // namespace
