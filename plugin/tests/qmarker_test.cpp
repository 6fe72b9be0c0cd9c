// The Q-marker commit coordinator: the bind to the MCU array and back per
// control host, and a commit that is not reached.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/ZRSOZrHDSCLI.h"
#include "plugin/tests/support/PluginTestEnv.h"
#include "plugin/zrso_api.h"

namespace {

using Binding = std::vector<std::string>;  // serial, second serial

// A device whose array binding fails from its failAt-th call on.
class BindingSnapInfo : public FakeSnapInfo {
 public:
  int setArrayInformation(const char* serial, const char* second, int flag) override {
    const int rc = FakeSnapInfo::setArrayInformation(serial, second, flag);
    return ++m_calls >= failAt && failAt > 0 ? 1 : rc;
  }
  int failAt = 0;

 private:
  int m_calls = 0;
};

// Universal Replicator sources of control hosts 1 (two devices) and 2, whose
// checks run on a remote media agent.
class QMarker : public ::testing::Test {
 protected:
  QMarker() {
    env.addDevices({1, 1, 2});
    for (size_t i = 0; i < 3; ++i) {
      FakeSnapInfo& d = env.at(i);
      d.setReplicationEnabled(true);
      d.setPostSnapEnabled(true);
      d.setReplicationType(2);
      d.setStatus(5);
      d.setMetadataText(6, "1S:422222**3L:10**");
      d.setMetadataText(82, "1S:411111**2VS:455555**3L:20**");
      env.runRemotely(i, "ma-mcu");
    }
    env.at(2).setMetadataText(82, "1S:411111**3L:21**");  // no partner virtual serial
    env.at(2).setMetadataText(6, "1S:422222**2VS:466666**3L:11**");
  }
  std::vector<Binding> bindings(size_t i) {
    std::vector<Binding> out;
    for (const auto& c : env.at(i).arrayInformationCalls()) {
      EXPECT_EQ(1, c.flag);
      out.push_back({c.serial, c.secondSerial});
    }
    return out;
  }
  int run() { return WaitForQMarkerCommit(env.array(), env.count(), &env.util); }

  plugin_test::Env env;
};

TEST_F(QMarker, OneCheckPerControlHostBoundToTheMcuAndBack) {
  env.answerRemote("{\"opResp\": 0}");
  EXPECT_EQ(0, run());
  EXPECT_EQ((std::vector<std::string>{"12", "12"}), env.messageIds);
  EXPECT_EQ((std::vector<Binding>{{"455555", "411111"}, {"422222", "422222"}}), bindings(0));
  EXPECT_TRUE(bindings(1).empty());
  // Without a partner virtual serial the partner base serial binds twice.
  EXPECT_EQ((std::vector<Binding>{{"411111", "411111"}, {"466666", "422222"}}), bindings(2));
  EXPECT_TRUE(env.at(0).logged("Completed Q-Marker Check for snapshot(s)/clone(s). Count [3]"));
  // A partly done answer counts as committed.
  env.answerRemote("{\"opResp\": 2}");
  EXPECT_EQ(0, run());
}

TEST_F(QMarker, CommitNotReachedOnTheFirstControlHost) {
  env.answerRemote("{\"opResp\": 1}");
  EXPECT_EQ(1, run());
  EXPECT_EQ((std::vector<Binding>{{"455555", "411111"}, {"422222", "422222"}}), bindings(0));
  EXPECT_TRUE(bindings(2).empty());  // never checked
  EXPECT_EQ(1u, env.messageIds.size());
  // The post-create step then creates nothing.
  EXPECT_EQ(1, zrso_postSnapDevices(env.array(), env.count(), &env.util));
  EXPECT_EQ((std::vector<int>{5, 5, 5}), env.statuses());
}

TEST_F(QMarker, NothingToDoWithoutReplicationOrPostSnap) {
  env.at(0).setPostSnapEnabled(false);
  EXPECT_EQ(0, run());
  EXPECT_TRUE(env.at(0).logged("Nothing to do.."));
  EXPECT_TRUE(bindings(0).empty());
  EXPECT_TRUE(env.util.remoteCalls().empty());
}

TEST(QMarkerBinding, FailedBindingsAreRecordedAndEndTheCheck) {
  struct Row {
    const char* name;
    int failAt;
    size_t remoteCalls;
    const char* serial;
  } rows[] = {
      {"to the MCU", 1, 0, "[455555]"},
      {"back to the RCU", 2, 1, "[422222]"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    plugin_test::Env env;
    BindingSnapInfo a;
    a.failAt = r.failAt;
    a.setReplicationEnabled(true);
    a.setPostSnapEnabled(true);
    a.setControlHostId(1);
    a.setMetadataText(6, "1S:422222**3L:10**");
    a.setMetadataText(82, "1S:411111**2VS:455555**");
    a.setSnapConfigText("SMCONFIG_NAME_REMOTE_SNAP_MA", "ma-mcu");
    env.util.setRemoteHandler([&a](const std::string&) {
      a.setMetadataText(60, "{\"opResp\": 0}");
      return true;
    });
    ZRSO::SnapInfo* snaps[] = {&a};
    EXPECT_EQ(1, WaitForQMarkerCommit(snaps, 1, &env.util));
    EXPECT_EQ(r.remoteCalls, env.util.remoteCalls().size());
    EXPECT_EQ(62005, a.errorCode());
    EXPECT_NE(std::string::npos, a.errorText().find(r.serial));
    EXPECT_EQ(static_cast<size_t>(r.failAt), a.arrayInformationCalls().size());
    EXPECT_FALSE(a.logged("Completed Q-Marker Check"));
  }
}

}  // namespace
