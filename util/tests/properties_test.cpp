// Array properties: snap configuration into ZRHDSSnapOptions, CU-range and
// pool checks with their exact messages, VSM detection, HORCM directory
// precedence, array-details items and the remote media agent name.
#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/testing/FakeSnapInfo.h"
#include "util/HDSCLIUtils.h"
#include "util/tests/support/HostUtilTestEnv.h"

using namespace ZRHDSCLIUtils;
using hostutil_test::Env;

namespace {

const char kDetails[] =
    "hostUserName:admin,hostPassword:pa,ss,engineName:cci,engineId:73,arrayId:412345,";
const char kDocHint[] =
    "Please refer to Merrowind documentation on Hitachi storage array for more details.";

struct Fixture {
  Env env;
  FakeSnapInfo device;
  ZRHDSSnapOptions options;

  Fixture() {
    device.setArrayDetailsText(kDetails);
    device.setSnapConfigText("SMCONFIG_NAME_TI_POOL_NAME_FOR_SVOLS", "tipool");
    options.isHTI = true;
  }
  int run() { return getArrayProperties(&device, options); }
  std::string summary() const {
    for (const std::string& t : device.logTexts(1)) {
      if (t.rfind("Snap Configuration set for the Job", 0) == 0) return t;
    }
    return std::string();
  }
};

std::string message1(const std::string& cu, const std::string& serial) {
  return "The CU range [" + cu +
         "] specified in snap configuration [CU range to be used to pick S-VOLs (CCI engines)] of "
         "Hitachi storage "
         "array [" +
         serial +
         "] is invalid. Specify a valid value as 1. a particular CU value in hexadecimal or 2. a "
         "hyphenated range in "
         "hexadecimal or 3. a list of above two separated by comma - at Array Management at array "
         "level. " +
         kDocHint;
}

std::string message2(const std::string& cu, const std::string& serial, const std::string& item) {
  return "The CU range [" + cu +
         "] specified in snap configuration [CU range to be used to pick S-VOLs (CCI engines)] of "
         "Hitachi storage "
         "array [" +
         serial + "] is invalid as the range [" + item +
         "] start value is greater than end value. Correct the range values at Array Management. " +
         kDocHint;
}

TEST(ArrayProperties, CuRangesAcceptedAndRefused) {
  struct Row {
    std::string configured;
    int result;
    std::string cleaned;
    std::string message;  // "" when accepted
  };
  const std::vector<Row> rows = {
      {"10-2F, 40", 1, "10-2F,40", ""},
      {" 0a - 0B ,\t7f\n", 1, "0a-0B,7f", ""},
      {"", 1, "", ""},
      {"5", 1, "5", ""},
      {",,", 1, ",,", ""},
      {"10-10", 1, "10-10", ""},
      {"-5", 1, "-5", ""},  // no start value: read as 0-5
      {"20-10", 0, "20-10", message2("20-10", "412345", "20-10")},
      {"00-05,20-10", 0, "00-05,20-10", message2("00-05,20-10", "412345", "20-10")},
      {"00-05, 2F-1,30-20", 0, "00-05,2F-1,30-20", message2("00-05,2F-1,30-20", "412345", "2F-1")},
      {"5-", 0, "5-", message2("5-", "412345", "5-")},
      {"G", 0, "G", message1("G", "412345")},
      {"10-2F;40", 0, "10-2F;40", message1("10-2F;40", "412345")},
      {"0x10", 0, "0x10", message1("0x10", "412345")},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE("[" + r.configured + "]");
    Fixture f;
    f.device.setSnapConfigText("SMCONFIG_NAME_CU_RANGE_FOR_SVOLS", r.configured);
    EXPECT_EQ(f.run(), r.result);
    EXPECT_EQ(f.options.cuRange, r.cleaned);
    if (r.message.empty()) {
      EXPECT_EQ(f.device.errorCode(), 0);
    } else {
      EXPECT_EQ(f.device.errorCode(), 62008);
      EXPECT_EQ(f.device.errorText(), r.message);
      ASSERT_EQ(f.device.messages().size(), 1u);
      EXPECT_EQ(f.device.messages()[0], std::make_pair(2, r.message));
    }
  }
}

TEST(ArrayProperties, ThinImagePoolRules) {
  {
    Fixture f;  // Thin Image without a pool
    f.device.setSnapConfigText("SMCONFIG_NAME_TI_POOL_NAME_FOR_SVOLS", "");
    f.device.setSnapConfigText("SMCONFIG_NAME_DP_POOL_NAME_FOR_SVOLS", "dppool");
    EXPECT_EQ(f.run(), 0);
    EXPECT_EQ(f.device.errorCode(), 62008);
    EXPECT_EQ(f.device.errorText(),
              std::string(
                  "Pool name is required for Thin Image backup. Specify a valid pool name in snap "
                  "configuration [TI pool to be used for V-VOLs (CCI TI engine)] for Hitachi "
                  "storage array "
                  "[412345] in Array Management at array level. ") +
                  kDocHint);
  }
  {
    Fixture f;  // the pool name is read from the engine's setting
    f.device.setSnapConfigText("SMCONFIG_NAME_DP_POOL_NAME_FOR_SVOLS", "dppool");
    f.device.setSnapConfigIntValue("SMCONFIG_NAME_ALWAYS_SELECT_DP_VOLUMES_CCI", 1);
    f.device.setSnapConfigIntValue("SMCONFIG_NAME_ENABLE_INCREMENTAL_RESYNC", 1);
    f.device.setSnapConfigIntValue("SMCONFIG_NAME_ENABLE_QUICK_RESYNC_CCI", 1);
    f.device.setSnapConfigIntValue("SMCONFIG_NAME_ENABLE_QUICK_RESTORE_CCI", 1);
    f.device.setSnapConfigIntValue("SMCONFIG_NAME_USE_PREEXISTING_MIRRORS_FOR_SI", 1);
    ASSERT_EQ(f.run(), 1);
    EXPECT_EQ(f.options.pool, "tipool");
    EXPECT_FALSE(f.options.useDPVols);
    EXPECT_FALSE(f.options.reUse);
    EXPECT_FALSE(f.options.quickResync);
    EXPECT_FALSE(f.options.quickRestore);
    EXPECT_TRUE(f.options.useExistingPairs);
  }
  {
    Fixture f;  // not Thin Image: the DP pool, no pool needed, flags kept
    f.options.isHTI = false;
    f.device.setSnapConfigIntValue("SMCONFIG_NAME_ALWAYS_SELECT_DP_VOLUMES_CCI", 1);
    f.device.setSnapConfigIntValue("SMCONFIG_NAME_ENABLE_QUICK_RESTORE_CCI", 2);
    ASSERT_EQ(f.run(), 1);
    EXPECT_EQ(f.options.pool, "");
    EXPECT_TRUE(f.options.useDPVols);
    EXPECT_TRUE(f.options.quickRestore);
    f.device.setSnapConfigText("SMCONFIG_NAME_DP_POOL_NAME_FOR_SVOLS", "dppool");
    ASSERT_EQ(f.run(), 1);
    EXPECT_EQ(f.options.pool, "dppool");
  }
}

TEST(ArrayProperties, VirtualStorageMachineDetection) {
  struct Row {
    std::string physical;  // "" = not configured
    bool vsm;
    std::string baseSerial;
    std::string logged;
  };
  const std::vector<Row> rows = {
      {"", false, "412345", "BaseSerialNum-[]"},
      {"412345", false, "412345", "BaseSerialNum-[]"},
      {"500100", true, "500100", "BaseSerialNum-[500100]"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.physical);
    Fixture f;
    if (!r.physical.empty())
      f.device.setSnapConfigText("SMCONFIG_NAME_HDS_PHYSICAL_ARRAY_SERIAL_ID", r.physical);
    ASSERT_EQ(f.run(), 1);
    EXPECT_EQ(f.options.isVSM, r.vsm);
    EXPECT_EQ(f.options.baseSerialNum, r.baseSerial);
    EXPECT_EQ(f.options.arrayId, "412345");
    EXPECT_NE(f.summary().find(r.logged), std::string::npos) << f.summary();
  }
}

TEST(ArrayProperties, HorcmDirectoryPrecedenceAndTrailingSlash) {
  struct Row {
    std::string setting;     // sZRHDSHorcmDirectory ("Tessavon")
    std::string configured;  // SMCONFIG_NAME_HORCM_INSTALLATION_PATH
    std::string expected;    // "<cci>" = the host's CCI directory
  };
  const std::vector<Row> rows = {
      {"", "/opt/cci", "/opt/cci/"},
      {"", "/opt/cci/", "/opt/cci/"},
      {"/srv/horcm", "/opt/cci", "/srv/horcm/"},
      {"/srv/horcm/", "", "/srv/horcm/"},
      {"", "", "<cci>"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.setting + "|" + r.configured);
    Fixture f;
    if (!r.setting.empty()) f.env.setText("Tessavon", "sZRHDSHorcmDirectory", r.setting);
    // The same key in the other section is not the one read.
    f.env.setText("~Tessavon", "sZRHDSHorcmDirectory", "/wrong/section");
    if (!r.configured.empty())
      f.device.setSnapConfigText("SMCONFIG_NAME_HORCM_INSTALLATION_PATH", r.configured);
    ASSERT_EQ(f.run(), 1);
    const std::string expected = r.expected == "<cci>" ? f.env.dir.path() + "/cci/" : r.expected;
    EXPECT_EQ(f.options.horcmInstPath, expected);
    EXPECT_NE(f.summary().find("HORCMInstPath-[" + expected + "]"), std::string::npos);
  }
}

TEST(ArrayProperties, ArrayDetailsMissingOrIncomplete) {
  {
    Fixture f;
    f.device.failOn("getArrayDetails");
    f.device.setSnapConfigText("SMCONFIG_NAME_HDS_PHYSICAL_ARRAY_SERIAL_ID", "500100");
    EXPECT_EQ(f.run(), 0);
    EXPECT_EQ(f.device.errorCode(), 62005);
    EXPECT_EQ(f.device.errorText(),
              "Failed to get array details for [500100] from database. Please ensure that the "
              "array details are "
              "properly entered and configured in Array Management.");
  }
  struct Row {
    std::string details;
    std::string missing;
  };
  const std::vector<Row> rows = {
      {"hostPassword:p,engineName:x,arrayId:412345,", "array user name"},
      {"hostUserName:u,engineName:x,arrayId:412345,", "array password"},
      {"hostUserName:u,hostPassword:p,arrayId:412345,",
       "array password"},  // no "engineName" to end it
      {"hostUserName:u,hostPassword:p,engineName:x,", "array id"},
      {"engineId:73,", "array user name, array password, array id"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.details);
    Fixture f;
    f.device.setArrayDetailsText(r.details);
    EXPECT_EQ(f.run(), 0);
    EXPECT_EQ(f.device.errorCode(), 62005);
    EXPECT_EQ(f.device.errorText(),
              "The array details for [] in the database are missing the " + r.missing +
                  ". Please ensure that the array details are properly entered and configured "
                  "in Array Management.");
    EXPECT_EQ(f.summary(), "");
  }
}

TEST(ArrayProperties, CredentialsPassedOnUnchanged) {
  Fixture f;
  ASSERT_EQ(f.run(), 1);
  EXPECT_EQ(f.options.userName, "admin");
  EXPECT_EQ(f.options.password, "pa,ss");  // may hold the separator
  EXPECT_EQ(f.options.arrayId, "412345");
}

TEST(ArrayProperties, EveryConfiguredSettingReachesItsField) {
  Fixture f;
  FakeSnapInfo& d = f.device;
  f.options.isHTI = false;
  d.setSnapConfigText("SMCONFIG_NAME_LDEV_DEVICE_NAME", "QB_LABEL");
  d.setSnapConfigText("SMCONFIG_NAME_CU_RANGE_FOR_SVOLS", "10-1F");
  d.setSnapConfigIntValue("SMCONFIG_NAME_CREATE_VVOLS_FOR_HTI", 1);
  d.setSnapConfigText("SMCONFIG_NAME_DP_POOL_NAME_FOR_SVOLS", "7");
  d.setSnapConfigIntValue("SMCONFIG_NAME_ALWAYS_SELECT_DP_VOLUMES_CCI", 1);
  d.setSnapConfigIntValue("SMCONFIG_NAME_USE_PREEXISTING_MIRRORS_FOR_SI", 0);
  d.setSnapConfigIntValue("SMCONFIG_NAME_ENABLE_INCREMENTAL_RESYNC", 1);
  d.setSnapConfigIntValue("SMCONFIG_NAME_ENABLE_QUICK_RESYNC_CCI", -1);
  d.setSnapConfigIntValue("SMCONFIG_NAME_ENABLE_QUICK_RESTORE_CCI", 1);
  d.setSnapConfigText("SMCONFIG_NAME_HOST_GROUP_FOR_SVOLS", "CL1-A-3,CL2-B-4");
  d.setSnapConfigIntValue("SMCONFIG_NAME_ENABLE_COMMAND_LOGGING", 0);
  d.setSnapConfigText("SMCONFIG_NAME_HORCM_INSTALLATION_PATH", "/opt/cci");
  d.setSnapConfigText("SMCONFIG_NAME_RAIDCOM_HORCM_INST", "3530");
  d.setSnapConfigIntValue("SMCONFIG_NAME_USE_CONSISTENCY_GROUP", 1);
  d.setSnapConfigText("SMCONFIG_NAME_HDS_REMOTE_REPL_COPY_GROUP", "CG01");
  d.setSnapConfigIntValue("SMCONFIG_NAME_HDS_DISABLE_GAD_OPERATION", 1);
  d.setSnapConfigText("SMCONFIG_NAME_HDS_NAME_PRESNAP_PORT_FOR_SVOLS", "CL3-A");
  ASSERT_EQ(f.run(), 1);
  const ZRHDSSnapOptions& o = f.options;
  EXPECT_EQ(o.label, "QB_LABEL");
  EXPECT_EQ(o.cuRange, "10-1F");
  EXPECT_FALSE(o.noVvolCreate);
  EXPECT_EQ(o.pool, "7");
  EXPECT_TRUE(o.useDPVols);
  EXPECT_FALSE(o.useExistingPairs);
  EXPECT_TRUE(o.reUse);
  EXPECT_FALSE(o.quickResync);
  EXPECT_TRUE(o.quickRestore);
  EXPECT_EQ(o.svolHostGroup, "CL1-A-3,CL2-B-4");
  EXPECT_FALSE(o.cmdLogging);
  EXPECT_EQ(o.horcmInstPath, "/opt/cci/");
  EXPECT_EQ(o.horcmInst, "3530");
  EXPECT_FALSE(o.cascadedClone);
  EXPECT_TRUE(o.useConsistencyGrp);
  EXPECT_EQ(o.copyGroup, "CG01");
  EXPECT_FALSE(o.gadEnabled);
  EXPECT_EQ(o.preSnapPort, "CL3-A");
  EXPECT_EQ(
      f.summary(),
      "Snap Configuration set for the Job : HTI-[0], Label-[QB_LABEL], CU-[10-1F], CreateVVOL-[1], "
      "Pool-[7], "
      "UseDPVols-[1], UseExistingPairs-[0], ReUse-[1], QuickResync-[0], QuickRestore-[1], "
      "CmdLogging-[0], "
      "HORCMInstPath-[/opt/cci/], HORCMInst#-[3530], CascadedClone-[0], UseConsistencyGrp-[1], "
      "Copygroup-[CG01], BaseSerialNum-[], DisableGAD-[1], PreSnapPort-[CL3-A]");
}

TEST(ArrayProperties, DefaultsWhenNothingIsConfigured) {
  Fixture f;
  ASSERT_EQ(f.run(), 1);
  EXPECT_TRUE(f.options.noVvolCreate);  // "create V-VOLs" not above 0
  EXPECT_TRUE(f.options.gadEnabled);    // "disable GAD" not above 0
  EXPECT_FALSE(f.options.cmdLogging);
  EXPECT_EQ(f.options.remoteMAName, "");
}

TEST(ArrayProperties, MachineSettingsOverride) {
  Fixture f;
  f.env.setInt("~Tessavon", "nZRHDSKeepCmdOutput", 1);
  f.env.setText("~Tessavon", "sZRHDSPreSnapPort", "CL7-D");
  f.device.setSnapConfigText("SMCONFIG_NAME_HDS_NAME_PRESNAP_PORT_FOR_SVOLS", "CL3-A");
  ASSERT_EQ(f.run(), 1);
  EXPECT_TRUE(f.options.cmdLogging);
  EXPECT_EQ(f.options.preSnapPort, "CL7-D");

  Fixture g;
  g.env.setInt("~Tessavon", "nZRHDSKeepCmdOutput", 0);
  ASSERT_EQ(g.run(), 1);
  EXPECT_FALSE(g.options.cmdLogging);
}

TEST(ArrayProperties, CascadedCloneRules) {
  {
    Fixture f;  // not Thin Image: the selection settings are dropped
    f.options.isHTI = false;
    f.device.setSnapConfigIntValue("SMCONFIG_NAME_PERFORM_CASCADE_SNAP", 1);
    f.device.setSnapConfigText("SMCONFIG_NAME_LDEV_DEVICE_NAME", "L");
    f.device.setSnapConfigText("SMCONFIG_NAME_CU_RANGE_FOR_SVOLS",
                               "G");  // checked before it is dropped
    EXPECT_EQ(f.run(), 0);
    f.device.setSnapConfigText("SMCONFIG_NAME_CU_RANGE_FOR_SVOLS", "10");
    f.device.setSnapConfigText("SMCONFIG_NAME_DP_POOL_NAME_FOR_SVOLS", "dp");
    f.device.setSnapConfigIntValue("SMCONFIG_NAME_ALWAYS_SELECT_DP_VOLUMES_CCI", 1);
    f.device.setSnapConfigIntValue("SMCONFIG_NAME_ENABLE_QUICK_RESYNC_CCI", 1);
    f.device.setSnapConfigIntValue("SMCONFIG_NAME_CREATE_VVOLS_FOR_HTI", 1);
    ASSERT_EQ(f.run(), 1);
    EXPECT_TRUE(f.options.cascadedClone);
    EXPECT_EQ(f.options.label, "");
    EXPECT_EQ(f.options.cuRange, "");
    EXPECT_EQ(f.options.pool, "");
    EXPECT_FALSE(f.options.useDPVols);
    EXPECT_FALSE(f.options.quickResync);
    EXPECT_TRUE(f.options.useExistingPairs);
    EXPECT_TRUE(f.options.noVvolCreate);
  }
  {
    Fixture f;  // Thin Image refuses cascading
    f.device.setSnapConfigIntValue("SMCONFIG_NAME_PERFORM_CASCADE_SNAP", 1);
    f.device.setSnapConfigText("SMCONFIG_NAME_LDEV_DEVICE_NAME", "L");
    ASSERT_EQ(f.run(), 1);
    EXPECT_FALSE(f.options.cascadedClone);
    EXPECT_EQ(f.options.label, "L");
    EXPECT_EQ(f.options.pool, "tipool");
  }
}

TEST(ArrayProperties, EngineTypeAndArrayId) {
  struct Row {
    std::string details;
    short engine;
    std::string arrayId;
  };
  const std::vector<Row> rows = {
      {kDetails, 73, "412345"},
      {"engineId:65609,arrayId:9}", 73, "9"},  // 65536 + 73: kept to 16 bits
      {"arrayId:1,", 0, "1"},
      {"engineId:12", 0, ""},  // neither separator nor '}' after the value
      {"", 0, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.details);
    FakeSnapInfo device;
    device.setArrayDetailsText(r.details);
    EXPECT_EQ(getSnapEngineType(&device), r.engine);
    EXPECT_EQ(getSnapArrayId(&device), r.arrayId);
  }
  FakeSnapInfo refused;
  refused.setArrayDetailsText(kDetails);
  refused.failOn("getArrayDetails");
  EXPECT_EQ(getSnapEngineType(&refused), 0);
  EXPECT_EQ(getSnapArrayId(&refused), "");
  EXPECT_EQ(getSnapEngineType(nullptr), 0);
}

TEST(ArrayProperties, ArrayDetailsFillingTheWholeBufferAreReadSafely) {
  Fixture f;
  std::string details = std::string(kDetails) + "pad:" + std::string(5000, 'x') + ",";
  f.device.setArrayDetailsText(details);
  f.device.setFillWholeBuffer(true);
  EXPECT_EQ(getSnapArrayId(&f.device), "412345");
}

TEST(RemoteMediaAgent, SettingWinsOverJobConfiguration) {
  struct Row {
    std::string job;      // "" = not configured
    std::string setting;  // "" = not set
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"", "", "unchanged"},
      {"ma-job", "", "ma-job"},
      {"", "ma-machine", "ma-machine"},
      {"ma-job", "ma-machine", "ma-machine"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.job + "|" + r.setting);
    Env env;
    FakeSnapInfo device;
    if (!r.job.empty()) device.setSnapConfigText("SMCONFIG_NAME_REMOTE_SNAP_MA", r.job);
    if (!r.setting.empty()) env.setText("~Tessavon", "sZRHDSRemoteSnapMAName", r.setting);
    std::string name = "unchanged";
    EXPECT_EQ(getRemoteMAName(&device, name), 1);
    EXPECT_EQ(name, r.expected);
    if (!r.job.empty()) {
      EXPECT_TRUE(device.logged("Snap Config [SMCONFIG_NAME_REMOTE_SNAP_MA : " + r.job + "]"));
    }
    EXPECT_EQ(
        device.logged("Registry Key [sZRHDSRemoteSnapMAName] read, value = [" + r.setting + "]"),
        !r.setting.empty());
  }
}

TEST(RemoteMediaAgent, ArrayPropertiesCarryTheName) {
  Fixture f;
  f.device.setSnapConfigText("SMCONFIG_NAME_REMOTE_SNAP_MA", "ma7");
  ASSERT_EQ(f.run(), 1);
  EXPECT_EQ(f.options.remoteMAName, "ma7");
}

}  // namespace

// A wait setting at INT_MAX stopped snap for good, and a bus refresh delay
// of INT_MAX slept past map's own deadline: every wait setting has a
// maximum, and only wait settings are bounded.
TEST(WaitSettings, EveryWaitSettingHasAMaximum) {
  for (const char* key :
       {"nZRHDSAfterSnapWaitTimeSeconds", "nZRHDSMapUnmapSystemBusRefreshDelayInSecs",
        "nZRHDSCCICommandTimeoutInSec", "nZRHDSCLIWaitForSnapshotToBeInPairState",
        "nZRHDSDeleteWaitTimeInSecs", "nZRHDSMapmapUnmapWaitTimeInSecs",
        "nZRHDSMountWaitTimeInSecs", "nZRHDSPostDeleteWaitTimeInSecs",
        "nZRHDSQmarkerCommitWaitTimeInSecs", "nZRHDSRaidcomTimeoutInSecs",
        "nZRHDSReverseCopyWaitTimeInSecs", "nZRHDSRaidcomMaxRetryCount",
        "nZRHDSSnapArrayLockRetryCount", "nZRHDSSnapLockRetryCount"}) {
    SCOPED_TRACE(key);
    const int maximum = ZRHDSCLIUtils::waitSettingMaximum(key);
    ASSERT_GT(maximum, 0);
    EXPECT_EQ(maximum, ZRHDSCLIUtils::boundedSetting(key, INT_MAX));
    EXPECT_EQ(maximum, ZRHDSCLIUtils::boundedSetting(key, maximum));
    EXPECT_EQ(5, ZRHDSCLIUtils::boundedSetting(key, 5));
  }
  EXPECT_EQ(600, ZRHDSCLIUtils::boundedSetting("nZRHDSAfterSnapWaitTimeSeconds", INT_MAX));
  EXPECT_EQ(-1, ZRHDSCLIUtils::waitSettingMaximum("nZRHDSKeepCmdOutput"));
  EXPECT_EQ(INT_MAX, ZRHDSCLIUtils::boundedSetting("nZRHDSKeepCmdOutput", INT_MAX));
}
