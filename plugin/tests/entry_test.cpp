// The exported entry points on paths that stay on the host side: argument
// checks, unpreparation, device identification at preparation, the delete
// screen, the map and unmap preparation step and the post-create gate.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/tests/support/PluginTestEnv.h"
#include "plugin/zrso_api.h"

namespace {

using Entry = int (*)(ZRSO::SnapInfo**, short, ZRSO::ZROSUtil*);

struct NamedEntry {
  const char* name;
  Entry fn;
};

const NamedEntry kGroupedEntries[] = {
    {"zrso_prepareDevices", zrso_prepareDevices},
    {"zrso_prepareRemoteSnaps", zrso_prepareRemoteSnaps},
    {"zrso_unprepareDevices", zrso_unprepareDevices},
    {"zrso_snapDevices", zrso_snapDevices},
    {"zrso_createRemoteSnaps", zrso_createRemoteSnaps},
    {"zrso_postSnapDevices", zrso_postSnapDevices},
    {"zrso_revertSnaps", zrso_revertSnaps},
    {"zrso_deleteSnaps", zrso_deleteSnaps},
    {"zrso_deleteRemoteSnaps", zrso_deleteRemoteSnaps},
    {"zrso_mapSnaps", zrso_mapSnaps},
    {"zrso_unmapSnaps", zrso_unmapSnaps},
    {"zrso_reconcileSnaps", zrso_reconcileSnaps},
    {"zrso_execSnapEngineOp", zrso_execSnapEngineOp},
    {"zrso_processVPDInfo", zrso_processVPDInfo},
};

TEST(ArgumentChecks, EveryEntryRefusesUnusableArgumentsWithoutTouchingAnything) {
  for (const NamedEntry& e : kGroupedEntries) {
    SCOPED_TRACE(e.name);
    plugin_test::Env env;
    env.addDevices({1, 1});
    env.at(0).setStatus(42);
    ZRSO::SnapInfo* withNull[] = {&env.at(0), nullptr};
    ZRSO::SnapInfo* nullFirst[] = {nullptr, &env.at(1)};
    EXPECT_EQ(1, e.fn(env.array(), 0, &env.util));
    EXPECT_EQ(1, e.fn(env.array(), -3, &env.util));
    EXPECT_EQ(1, e.fn(nullptr, 2, &env.util));
    EXPECT_EQ(1, e.fn(nullFirst, 2, &env.util));
    EXPECT_EQ(1, e.fn(env.array(), 2, nullptr));
    EXPECT_EQ(1, e.fn(withNull, 2, &env.util));
    EXPECT_EQ(42, env.at(0).getStatus());
    EXPECT_TRUE(env.at(0).logs().empty());
    EXPECT_EQ(0, env.at(0).setErrorCalls());
    EXPECT_EQ(0, env.at(0).callCount("setMetadata"));
  }
}

// One device object twice in a call (prepare {0,0,1} made a pair too many,
// delete then left one): refused before any status, record or command.
TEST(ArgumentChecks, EveryOperationRefusesTheSameDeviceTwiceBeforeDoingAnything) {
  for (const NamedEntry& e : kGroupedEntries) {
    const std::string name = e.name;
    if (name == "zrso_unprepareDevices" || name == "zrso_execSnapEngineOp" ||
        name == "zrso_processVPDInfo") {
      continue;  // nothing of the array is done there
    }
    SCOPED_TRACE(name);
    plugin_test::Env env;
    env.addDevices({1, 1});
    env.at(0).setStatus(42);
    env.at(1).setStatus(42);
    env.at(0).setSnapName("snap0");
    ZRSO::SnapInfo* twice[] = {&env.at(0), &env.at(0), &env.at(1)};
    EXPECT_EQ(1, e.fn(twice, 3, &env.util));
    EXPECT_EQ((std::vector<int>{42, 42}), env.statuses());
    EXPECT_NE(0, env.at(0).errorCode());
    EXPECT_NE(std::string::npos, env.at(0).errorText().find("snap [snap0] is handed more than once"))
        << env.at(0).errorText();
    EXPECT_EQ(0, env.at(1).errorCode());
    EXPECT_EQ(0, env.at(0).callCount("setMetadata"));
    EXPECT_EQ(0, env.at(0).callCount("setMetadataByType"));
    EXPECT_EQ(0, env.at(0).callCount("getMetadata"));
  }
}

TEST(Unprepare, ClearsUniqueMetadataAndSetsUnpreparedWhateverTheHostAnswers) {
  plugin_test::Env env;
  env.addDevices({1, 2, 1});
  env.at(0).setMetadataText(6, "1S:412345**3L:100**10SG:QB_7_0_1F**13SM:3**");
  env.at(1).setMetadataText(6, "1S:412345**3L:101**");
  env.at(2).setMetadataText(6, "1S:412345**3L:102**");
  env.at(2).failOn("setMetadata");
  env.at(1).setMetadataText(68, "22LI:300**");
  EXPECT_EQ(0, zrso_unprepareDevices(env.array(), env.count(), &env.util));
  EXPECT_EQ((std::vector<int>{3, 3, 3}), env.statuses());
  EXPECT_FALSE(env.at(0).hasMetadata(6));
  EXPECT_FALSE(env.at(1).hasMetadata(6));
  EXPECT_TRUE(env.at(1).hasMetadata(68));  // only the unique record is cleared
  // What stays on the array is said in the log.
  EXPECT_TRUE(env.at(0).logged("Forgetting snapshot group-[QB_7_0_1F], MU-[3] of LDEV-[100]"));
  const std::vector<std::string> lines = env.at(0).logTexts(1);
  EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
              return l.find("Forgetting") != std::string::npos;
            }));
  EXPECT_TRUE(env.util.remoteCalls().empty());
}

// Preparation's device identification stops the call at the first device
// it cannot identify.
TEST(PrepareIdentify, SecondDeviceRefusedStopsTheCall) {
  struct Row {
    const char* name;
    std::function<void(plugin_test::Env&)> second;
    int code;
    const char* text;
  } rows[] = {
      {"no inquiry", [](plugin_test::Env&) {}, 62504,
       "Failed to get HDS array information from Source Device [/dev/sdc]"},
      {"other vendor",
       [](plugin_test::Env& e) {
         e.tree.addDisk("/dev/sdc", {zrinq::standardPage("ATA", "Disk", "ABC", "0001"),
                                     zrinq::pageE2("ATA", "ABC", "0001", "X")});
       },
       62504, "The Device-[/dev/sdc]  does not belong to HDS family."},
      {"LDEV above 65279",
       [](plugin_test::Env& e) { e.tree.addLdev("/dev/sdc", zrinq::physicalLdev(412345, 65280)); },
       62504, "The device LDEV id-[65280] is not valid"},
      {"LDEV not a number",
       [](plugin_test::Env& e) {
         e.tree.addDisk("/dev/sdc", {zrinq::standardPage("HITACHI", "OPEN-V",
                                                         zrinq::rawSerial("R800", 412345), "12G4"),
                                     zrinq::pageE2For(zrinq::physicalLdev(412345, 1))});
       },
       62504, nullptr},
      {"vendor not stored",
       [](plugin_test::Env& e) {
         e.tree.addLdev("/dev/sdc", zrinq::physicalLdev(412345, 101));
         e.at(1).failOnce("setMetadata");
       },
       60500, "Failed to set Metadata [Id : 71]"},
      {"array not bound",
       [](plugin_test::Env& e) {
         e.tree.addLdev("/dev/sdc", zrinq::physicalLdev(412345, 101));
         e.at(1).setArrayInformationResult(3);
       },
       62005,
       "Unable to set Array information. Please make sure array information has been entered in "
       "the DB using Array Management."},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    plugin_test::Env local;
    local.addDevices({1, 1, 1});
    local.at(0).setSourceDevicePathText("/dev/sdb");
    local.at(1).setSourceDevicePathText("/dev/sdc");
    local.at(2).setSourceDevicePathText("/dev/sdd");
    local.tree.addLdev("/dev/sdb", zrinq::physicalLdev(412345, 100));
    local.tree.addLdev("/dev/sdd", zrinq::physicalLdev(412345, 102));
    r.second(local);
    EXPECT_EQ(1, zrso_prepareDevices(local.array(), local.count(), &local.util));
    EXPECT_EQ((std::vector<int>{2, 2, 0}), local.statuses());
    EXPECT_EQ("1S:412345**3L:100**5M:R800**", local.at(0).metadata(6));
    EXPECT_EQ(r.code, local.at(1).errorCode());
    if (r.text != nullptr) {
      EXPECT_EQ(r.text, local.at(1).errorText());
    }
    EXPECT_EQ(0, local.at(0).errorCode());
    EXPECT_EQ(0, local.tree.inquiries("/dev/sdd"));
    EXPECT_FALSE(local.at(0).logged("Prepare snapshot/clone completed."));
  }
}

TEST(PrepareIdentify, UniqueMetadataOfPhysicalAndVirtualLdevs) {
  zrinq::LdevIdentity vsm = zrinq::physicalLdev(412345, 200);
  vsm.serial = 433333;
  vsm.ldev = 20;
  vsm.modelCode = "R900";
  plugin_test::Env local;
  local.addDevices({1, 1});
  local.at(0).setSourceDevicePathText("/dev/sdv");
  local.at(1).setSourceDevicePathText("/dev/sdp");
  local.tree.addLdev("/dev/sdv", vsm);
  local.tree.addLdev("/dev/sdp", zrinq::physicalLdev(412345, 65279));
  // The third step (the prepare groups) fails for want of array details; the
  // identification before it is what this test reads.
  zrso_prepareDevices(local.array(), local.count(), &local.util);
  EXPECT_EQ("1S:412345**3L:200**5M:R900**2VS:433333**4VL:20**", local.at(0).metadata(6));
  EXPECT_EQ("1S:412345**3L:65279**5M:R800**", local.at(1).metadata(6));
  EXPECT_EQ("HITACHI", local.at(0).metadata(71));
  const auto calls = local.at(0).arrayInformationCalls();
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ("433333", calls[0].serial);
  EXPECT_EQ("412345", calls[0].secondSerial);
  EXPECT_EQ(1, calls[0].flag);
}

TEST(DeleteScreen, DevicesWithNothingOnTheArrayAreDeletedAtOnce) {
  struct Row {
    Entry fn;
    const char* unique;
    bool unreadable;
    int status;
    int code;
  } rows[] = {
      {zrso_deleteSnaps, "", false, 20, 0},
      {zrso_deleteSnaps, "1S:412345**3L:100**", false, 20, 0},  // no snapshot MU
      {zrso_deleteSnaps, "3L:100**13SM:3**", false, 20, 0},     // no serial
      {zrso_deleteRemoteSnaps, "3L:100**13SM:3**", false, 20, 0},
      {zrso_deleteSnaps, "1S:412345**13SM:3**", true, 21, 60004},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.unique);
    plugin_test::Env env;
    env.addDevices({1, 1});
    for (FakeSnapInfo& d : env.devices) {
      d.setMetadataText(6, r.unique);
      if (r.unreadable) d.failOn("getMetadata");
    }
    const int expected = r.status == 20 ? 0 : 1;
    EXPECT_EQ(expected, r.fn(env.array(), env.count(), &env.util));
    EXPECT_EQ((std::vector<int>{r.status, r.status}), env.statuses());
    // A device left pending always carries its reason.
    EXPECT_EQ((std::vector<int>{r.code, r.code}), env.errorCodes());
  }
}

TEST(MapUnmapPreparation, FailureLandsOnTheLastDeviceAndRunsNoGroup) {
  struct Row {
    Entry fn;
    const char* text;
    int code;
    int pending;
  } rows[] = {
      {zrso_mapSnaps, "zrso_mapSnaps: Failed to perform pre-Map procedures.", 62009, 11},
      {zrso_unmapSnaps, "zrso_unmapSnaps: Failed to perform pre-Unmap procedures.", 62010, 15},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    plugin_test::Env env;
    env.addDevices({1, 2, 3});
    // Without initiators the preparation fails and records 62003 on the
    // device it was given; with that error in place the entry only logs.
    EXPECT_EQ(1, r.fn(env.array(), env.count(), &env.util));
    EXPECT_EQ((std::vector<int>{r.pending, r.pending, r.pending}), env.statuses());
    EXPECT_EQ((std::vector<int>{0, 0, 62003}), env.errorCodes());
    EXPECT_EQ((std::vector<std::string>{r.text}), env.at(0).logTexts(0));
    EXPECT_TRUE(env.util.remoteCalls().empty());
  }
}

TEST(PostCreate, FailedQMarkerBindingEndsTheCallBeforeAnyStatus) {
  plugin_test::Env env;
  env.addDevices({1, 1});
  for (FakeSnapInfo& d : env.devices) {
    d.setReplicationEnabled(true);
    d.setPostSnapEnabled(true);
    d.setReplicationType(2);
    d.setMetadataText(6, "1S:422222**3L:100**");
    d.setMetadataText(82, "1S:411111**3L:200**");
    d.setStatus(5);
  }
  env.at(0).setArrayInformationResult(1);
  EXPECT_EQ(1, zrso_postSnapDevices(env.array(), env.count(), &env.util));
  EXPECT_EQ((std::vector<int>{5, 5}), env.statuses());
  // The failed binding is said on the device.
  EXPECT_EQ(62005, env.at(0).errorCode());
  EXPECT_NE(std::string::npos, env.at(0).errorText().find("[411111]"));
}

}  // namespace
