// The GAD coordinators of preparation: segregation over remote groups and
// the pair-information step, and the cloning of the secondary side.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/ZRSOZrHDSCLI.h"
#include "plugin/tests/support/PluginTestEnv.h"

namespace {

constexpr char kAnswerOk[] = "{\"opResp\": 0}";

// Every device of the call runs its segregation remotely.
void allRemote(plugin_test::Env& env) {
  for (size_t i = 0; i < env.devices.size(); ++i) env.runRemotely(i, "ma-gad");
}

SnapGroupMap groupsOf(plugin_test::Env& env) {
  SnapGroupMap groups;
  for (size_t i = 0; i < env.devices.size(); ++i) {
    groups[env.at(i).getControlHostId()].push_back(&env.at(i));
  }
  return groups;
}

TEST(SegregateGAD, Table) {
  const char* const kUnique = "1S:412345**3L:10**8RL:20**14GS:2**";
  struct Row {
    const char* name;
    std::vector<int> ids;
    std::vector<int> types;
    const char* answer;
    bool pairSetting;
    int result;
    size_t requests;  // remote groups asked, one message (id 0) each
    int code;
    const char* text;
  } rows[] = {
      // A GAD first device and a second that is not: nothing stored.
      {"mixed batch", {1, 2}, {4, 1}, kAnswerOk, true, 0, 2, 0, ""},
      {"remote group answers 1", {1, 2}, {4, 4}, "{\"opResp\": 1}", true, 1, 1, 0, ""},
      {"pair information not stored",
       {1, 2},
       {4, 4},
       kAnswerOk,
       false,
       1,
       2,
       62008,
       "Error while storing the GAD pair information. Error[62008:Failed to get the GAD pair "
       "information for the source devices.]"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    plugin_test::Env env;
    env.addDevices(r.ids);
    if (r.pairSetting) env.setSetting("sZRHDSArrayGadPairedWith_412345", "499999");
    for (size_t i = 0; i < env.devices.size(); ++i) {
      env.at(i).setReplicationType(r.types[i]);
      env.at(i).setMetadataText(6, kUnique);
    }
    allRemote(env);
    env.answerRemote(r.answer);
    SnapGroupMap groups = groupsOf(env);
    EXPECT_EQ(r.result, hds_SegregateGADCoordinator(env.array(), env.count(), &env.util, groups));
    EXPECT_EQ(std::vector<std::string>(r.requests, "0"), env.messageIds);
    EXPECT_EQ(r.code, env.at(0).errorCode());
    EXPECT_EQ(r.text, env.at(0).errorText());
    EXPECT_EQ(groupsOf(env), groups);
    EXPECT_EQ(kUnique, env.at(1).metadata(6));
  }
}

TEST(SegregateGAD, AllGadDevicesAreRegroupedAfterThePairInformation) {
  plugin_test::Env env;
  env.addDevices({1, 1});
  env.setSetting("sZRHDSArrayGadPairedWith_412345", "499999");
  env.at(0).setMetadataText(6, "1S:412345**3L:10**8RL:20**14GS:1**");
  env.at(1).setMetadataText(6, "1S:412345**3L:11**8RL:21**14GS:2**");
  env.at(1).setArrayInformationResult(0, 9);  // rebound to the partner array
  for (FakeSnapInfo& d : env.devices) d.setReplicationType(4);
  allRemote(env);
  env.answerRemote(kAnswerOk);
  SnapGroupMap groups = groupsOf(env);
  EXPECT_EQ(0, hds_SegregateGADCoordinator(env.array(), env.count(), &env.util, groups));
  EXPECT_EQ((SnapGroupMap{{1, {&env.at(0)}}, {9, {&env.at(1)}}}), groups);
  EXPECT_EQ(0u, env.at(1).metadata(6).find("1S:499999**3L:21**"));
}

TEST(CloneGAD, NotEveryDeviceGadMeansNoClones) {
  plugin_test::Env env;
  env.addDevices({1, 1});
  env.at(0).setReplicationType(4);
  env.at(1).setReplicationType(0);
  SnapGroupMap clones{{5, {&env.at(0)}}};
  EXPECT_EQ(0, hds_CloneGADCoordinator(env.array(), env.count(), &env.util, clones));
  EXPECT_TRUE(clones.empty());
  EXPECT_EQ(0, env.util.callCount("cloneSnaps"));
  EXPECT_TRUE(env.at(0).logged("Not GAD Backup operation. Performing regular snap backup."));
}

TEST(CloneGAD, CloneMetadataAndBindingTable) {
  struct Row {
    const char* unique;
    const char* cloneMetadata;
    const char* boundSerial;
  } rows[] = {
      {"1S:412345**3L:10**5M:M8S**6RS:499999**8RL:20**", "1S:499999**3L:20**5M:M8S**", "499999"},
      {"1S:412345**3L:10**5M:M8S**6RS:499999**7RVS:499999**8RL:20**9RVL:30**",
       "1S:499999**3L:20**5M:M8S**", "499999"},
      {"1S:412345**3L:10**5M:M8S**6RS:499999**7RVS:533333**8RL:20**9RVL:30**",
       "1S:499999**3L:20**5M:M8S**2VS:533333**4VL:30**", "533333"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.unique);
    plugin_test::Env env;
    env.addDevices({1});
    env.at(0).setReplicationType(4);
    env.at(0).setMetadataText(6, r.unique);
    env.at(0).setMetadataText(75, "3532");
    env.util.setCloneAdjuster([](FakeSnapInfo& c) { c.setArrayInformationResult(0, 8); });
    SnapGroupMap clones;
    ASSERT_EQ(0, hds_CloneGADCoordinator(env.array(), env.count(), &env.util, clones));
    ASSERT_EQ(1u, env.util.clones().size());
    FakeSnapInfo* clone = env.util.clones()[0];
    EXPECT_EQ(r.cloneMetadata, clone->metadata(6));
    EXPECT_FALSE(clone->hasMetadata(75));
    EXPECT_EQ(4, clone->replicationType());
    const auto calls = clone->arrayInformationCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(r.boundSerial, calls[0].serial);
    EXPECT_EQ("499999", calls[0].secondSerial);
    EXPECT_EQ((SnapGroupMap{{8, {clone}}}), clones);
    EXPECT_EQ(r.unique, env.at(0).metadata(6));  // the source is left alone
  }
}

TEST(CloneGAD, FailuresTable) {
  struct Row {
    const char* name;
    const char* unique;
    std::function<void(FakeSnapInfo&)> adjust;
    const char* cloneFault;
    int firstCode;
    int cloneCode;
  } rows[] = {
      {"host cannot clone", "1S:412345**6RS:499999**8RL:20**", nullptr, "cloneSnaps", 0, 0},
      {"clone metadata unreadable", "1S:412345**6RS:499999**8RL:20**",
       [](FakeSnapInfo& c) { c.failOn("getMetadata"); }, nullptr, 62008, 0},
      {"partner not known", "1S:412345**3L:10**", nullptr, nullptr, 62008, 0},
      {"clone not bound", "1S:412345**6RS:499999**8RL:20**",
       [](FakeSnapInfo& c) { c.setArrayInformationResult(1); }, nullptr, 62008, 0},
      {"clone metadata not stored", "1S:412345**6RS:499999**8RL:20**",
       [](FakeSnapInfo& c) { c.failOn("setMetadata"); }, nullptr, 0, 62008},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    plugin_test::Env env;
    env.addDevices({1});
    env.at(0).setReplicationType(4);
    env.at(0).setMetadataText(6, r.unique);
    if (r.adjust) env.util.setCloneAdjuster(r.adjust);
    if (r.cloneFault) env.util.failOn(r.cloneFault);
    SnapGroupMap clones;
    EXPECT_EQ(1, hds_CloneGADCoordinator(env.array(), env.count(), &env.util, clones));
    EXPECT_TRUE(clones.empty());
    EXPECT_EQ(r.firstCode, env.at(0).errorCode());
    if (!env.util.clones().empty()) {
      EXPECT_EQ(r.cloneCode, env.util.clones()[0]->errorCode());
    }
  }
}

}  // namespace
