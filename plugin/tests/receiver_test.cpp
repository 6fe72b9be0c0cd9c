// The remote operation receiver: which device carries the message, which
// devices form the group, every refusal (none runs a worker), the answer of
// a worker, and whole exchanges with a second plug-in side.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/tests/support/PluginTestEnv.h"
#include "plugin/zrso_api.h"
#include "remote/HDSRemoteMessages.h"

namespace {

// The result a sender reads from a stored response.
int answerOf(const std::string& response) {
  return ZRHDSCLIUtils::getDetailsFromJSONResp(nullptr, response);
}

// Devices of control hosts 3 and 4 as the host on the remote media agent
// builds them; post-create has nothing to do for them (replication off), so
// the post-create worker shows itself without touching the array: it fails
// with its reason (60001) on the first device of its group and sets no
// status.
class Receiver : public ::testing::Test {
 protected:
  Receiver() {
    env.addDevices({4, 3, 3});
    for (FakeSnapInfo& d : env.devices) d.setStatus(6);
  }
  void carry(size_t i, const std::string& id, const std::string& request) {
    env.at(i).setMetadataText(61, id);
    env.at(i).setMetadataText(60, request);
  }
  int run() { return zrso_execSnapEngineOp(env.array(), env.count(), &env.util); }
  bool noWorkerRan() {
    return env.statuses() == std::vector<int>{6, 6, 6} &&
           env.errorCodes() == std::vector<int>{0, 0, 0};
  }

  plugin_test::Env env;
};

TEST_F(Receiver, RunsTheWorkerForTheRequestedControlHostAndAnswers) {
  for (const char* id : {"10", "11"}) {
    SCOPED_TRACE(id);
    for (FakeSnapInfo& d : env.devices) d.setErrorPair(0, "");
    carry(2, id, "{\"controlHostId\": 3}");
    EXPECT_EQ(0, run());
    EXPECT_EQ((std::vector<int>{6, 6, 6}), env.statuses());
    EXPECT_EQ((std::vector<int>{0, 60001, 0}), env.errorCodes());
    EXPECT_EQ(1, answerOf(env.at(2).metadata(60)));
  }
}

TEST_F(Receiver, TheFirstDeviceCarryingAnIdIsTheMessageDevice) {
  carry(1, "11", "{\"controlHostId\": 4}");
  carry(2, "11", "{\"controlHostId\": 3}");
  EXPECT_EQ(0, run());
  EXPECT_EQ((std::vector<int>{60001, 0, 0}), env.errorCodes());
  EXPECT_EQ(1, answerOf(env.at(1).metadata(60)));
  EXPECT_EQ("{\"controlHostId\": 3}", env.at(2).metadata(60));
}

TEST_F(Receiver, RefusalsRunNoWorker) {
  const char* const kUnread = "Failed to get array number from remote request message.";
  struct Row {
    const char* name;
    const char* id;
    const char* request;
    const char* logLine;
  } rows[] = {
      {"no message device", nullptr, nullptr,
       "Failed to find the device containing remote message."},
      {"empty request", "11", "", "Failed to get Remote Message metadata."},
      {"bad JSON", "11", "{\"controlHostId\" 3", kUnread},
      {"not an object", "11", "[3]", kUnread},
      {"id a string", "11", "{\"controlHostId\": \"3\"}", kUnread},
      {"id zero", "11", "{\"controlHostId\": 0}", kUnread},
      {"huge id", "11", "{\"controlHostId\": 1e300}", kUnread},
      {"id beyond int", "11", "{\"controlHostId\": 2147483648}", kUnread},
      {"empty group", "11", "{\"controlHostId\": 9}",
       "No devices are present with ControlHostId-[9]"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    plugin_test::Env local;
    local.addDevices({4, 3, 3});
    for (FakeSnapInfo& d : local.devices) d.setStatus(6);
    if (r.id != nullptr) {
      local.at(2).setMetadataText(61, r.id);
      local.at(2).setMetadataText(60, r.request);
    }
    EXPECT_EQ(1, zrso_execSnapEngineOp(local.array(), local.count(), &local.util));
    EXPECT_EQ((std::vector<int>{6, 6, 6}), local.statuses());
    EXPECT_EQ((std::vector<int>{0, 0, 0}), local.errorCodes());
    EXPECT_EQ((std::vector<std::string>{r.logLine}), local.at(0).logTexts(2));
    // The request stays as it came; no answer is stored.
    if (r.request != nullptr) {
      EXPECT_EQ(r.request, local.at(2).metadata(60));
    }
  }
}

// Metadata 61 names an operation only as the whole text of one or two
// digits: anything else runs no worker and is answered with failure.
TEST_F(Receiver, MessageIdsNamingNoOperationAreAnsweredWithFailure) {
  for (const char* id : {"1234", "0012", "00013", "100", "13", "-1", "x1", "1 ", "012"}) {
    SCOPED_TRACE(id);
    plugin_test::Env local;
    local.addDevices({4, 3, 3});
    for (FakeSnapInfo& d : local.devices) d.setStatus(6);
    local.at(2).setMetadataText(61, id);
    local.at(2).setMetadataText(60, "{\"controlHostId\": 3}");
    EXPECT_EQ(1, zrso_execSnapEngineOp(local.array(), local.count(), &local.util));
    EXPECT_EQ((std::vector<int>{6, 6, 6}), local.statuses());
    EXPECT_EQ((std::vector<int>{0, 0, 0}), local.errorCodes());
    EXPECT_EQ(1, answerOf(local.at(2).metadata(60)));
  }
}

TEST_F(Receiver, MapRequestWithRejectedInitiatorListsAnswersFailure) {
  const char* requests[] = {
      "{\"controlHostId\": 3, \"HbaLocal\": [1, 2], \"HbaESX\": []}",
      "{\"controlHostId\": 3, \"HbaLocal\": [\"21000024ff3dc7a2\"], \"HbaESX\": {}}",
      "{\"controlHostId\": 3, \"HbaLocal\": \"21000024ff3dc7a2\"}",
  };
  for (const char* id : {"5", "6"}) {
    for (const char* request : requests) {
      SCOPED_TRACE(request);
      carry(2, id, request);
      EXPECT_EQ(0, run());
      EXPECT_EQ(1, answerOf(env.at(2).metadata(60)));
      EXPECT_TRUE(noWorkerRan());
      EXPECT_TRUE(env.at(0).logged("Refused the initiator lists of the remote request."));
    }
    // Without any list the worker runs (and here fails at its container).
    carry(2, id, "{\"controlHostId\": 3}");
    EXPECT_EQ(0, run());
    EXPECT_EQ(1, answerOf(env.at(2).metadata(60)));
    EXPECT_EQ(std::string(id) == "5" ? 62009 : 62010, env.at(1).errorCode());
    env.at(1).setErrorPair(0, "");
  }
}

TEST_F(Receiver, FailingWorkerIsAnsweredAndTheReceiverSucceeds) {
  // Replication and post-snap on: the post-create worker needs the array,
  // and these devices name none.
  for (FakeSnapInfo& d : env.devices) {
    d.setReplicationEnabled(true);
    d.setPostSnapEnabled(true);
  }
  carry(1, "10", "{\"controlHostId\": 3}");
  EXPECT_EQ(0, run());
  EXPECT_EQ(1, answerOf(env.at(1).metadata(60)));
  EXPECT_EQ(62008, env.at(1).errorCode());
  EXPECT_TRUE(env.at(0).logged("Remote Operation-[CREATE_REMOTE_SNAPS] completed with status-[1]"));
}

TEST_F(Receiver, ResponseThatCannotBeStoredFails) {
  carry(2, "11", "{\"controlHostId\": 3}");
  env.at(2).failOn("setMetadataByType");
  EXPECT_EQ(1, run());
  EXPECT_EQ((std::vector<int>{0, 60001, 0}), env.errorCodes());  // the worker did run
  EXPECT_TRUE(env.at(0).logged("Failed to set Remote Response metadata."));
}

// The host's remote call carried to a second plug-in side: the request goes
// to that side's devices of the same snaps, the receiver runs there, and the
// response and the statuses come back.
class SecondSide {
 public:
  SecondSide(plugin_test::Env& local, std::vector<int> ids) : m_local(local) {
    remote.addDevices(ids);
    local.util.setRemoteHandler([this](const std::string&) { return carry(); });
  }
  bool carry() {
    int sender = -1;
    for (size_t i = 0; i < m_local.devices.size(); ++i) {
      if (m_local.at(i).hasMetadata(61)) sender = static_cast<int>(i);
    }
    if (sender < 0) return false;
    FakeSnapInfo& from = m_local.at(static_cast<size_t>(sender));
    remote.at(0).setMetadataText(61, from.metadata(61));
    remote.at(0).setMetadataText(60, from.metadata(60));
    if (zrso_execSnapEngineOp(remote.array(), remote.count(), &remote.util) != 0) return false;
    // What the remote worker set becomes visible here.
    for (size_t i = 0; i < remote.devices.size(); ++i) {
      if (remote.at(i).getStatus() != 0) m_local.at(i).setStatus(remote.at(i).getStatus());
    }
    from.setMetadataText(60, remote.at(0).metadata(60));
    return true;
  }
  plugin_test::Env remote;

 private:
  plugin_test::Env& m_local;
};

// Replication off on the second side: nothing is taken there, so nothing
// reads created here, and the second side's device says why.
TEST(RemoteExchange, NothingTakenOnTheSecondSideIsNoCreation) {
  plugin_test::Env local;
  local.addDevices({3, 3, 4});
  local.runRemotely(0, "ma-remote");
  SecondSide side(local, {3, 3, 4});
  EXPECT_EQ(1, zrso_createRemoteSnaps(local.array(), local.count(), &local.util));
  EXPECT_EQ((std::vector<int>{6, 6, 6}), local.statuses());
  EXPECT_EQ(60001, side.remote.at(0).errorCode());
  EXPECT_NE(std::string::npos, side.remote.at(0).errorText().find("No snapshot was taken."));
  EXPECT_EQ((std::vector<std::string>{"ma-remote"}), local.util.remoteCalls());
  // The exchange leaves nothing behind on the sending device.
  EXPECT_FALSE(local.at(0).hasMetadata(60));
  EXPECT_FALSE(local.at(0).hasMetadata(61));
}

TEST(RemoteExchange, RemoteFailureEndsTheLoop) {
  plugin_test::Env local;
  local.addDevices({3, 3, 4});
  local.runRemotely(0, "ma-remote");
  SecondSide side(local, {3, 3, 4});
  for (FakeSnapInfo& d : side.remote.devices) {
    d.setReplicationEnabled(true);
    d.setPostSnapEnabled(true);
  }
  EXPECT_EQ(1, zrso_createRemoteSnaps(local.array(), local.count(), &local.util));
  EXPECT_EQ((std::vector<int>{6, 6, 6}), local.statuses());  // group 4 never ran
  EXPECT_EQ(62008, side.remote.at(0).errorCode());
  EXPECT_EQ(0, local.at(0).errorCode());  // the frame records nothing for it
}

}  // namespace
