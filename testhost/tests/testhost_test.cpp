// The test host with a stand-in plug-in: loading by name, device objects,
// inquiries through the device tree, and a remote request served by a second
// test host in a child process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "host/testing/ScopedTempDir.h"
#include "sim/ccisim_fixture.h"
#include "testhost/ZrTestHost.h"
#include "testhost/tests/test_array.h"

namespace {

using zrtest::kMine;
using zrtest::kSerial;

class TestHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zrtest::addTestArray(sim, {256, 300});
    sim.addLun(kSerial, "CL1-A", 1, 0, 256);
    config.pluginPath = ZRTESTHOST_PROBE;
    config.statePath = sim.statePath();
    config.initiators = {kMine};
    config.logFile = tmp.path() + "/host.log";
    config.remoteAgents.push_back({"ma2", {kMine}, 0x2F});
    ::setenv("ZRHOST_TEMP_DIR", tmp.path().c_str(), 1);
  }
  ZrDeviceSpec plan(const std::string& name, const std::string& path) {
    ZrDeviceSpec s;
    s.name = name;
    s.sourcePath = path;
    s.arrayDetails = zrArrayDetailsText(kSerial, "cciuser", "secret");
    return s;
  }
  std::string logText() {
    std::ifstream in(config.logFile);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  ccisim::Fixture sim;
  ScopedTempDir tmp;
  ZrTestHostConfig config;
};

TEST_F(TestHostTest, LoadsByNameAndReportsMissingExports) {
  ZrTestHost host(config);
  std::string error;
  ASSERT_TRUE(host.open(&error)) << error;
  short major = 0, minor = 0, patch = 0;
  ASSERT_NE(nullptr, host.plugin().version());
  host.plugin().version()(&major, &minor, &patch);
  EXPECT_EQ(9, major);
  EXPECT_EQ(7, patch);
  EXPECT_NE(nullptr, host.plugin().deviceOp("zrso_prepareDevices"));
  EXPECT_EQ(nullptr, host.plugin().deviceOp("zrso_deleteSnaps"));
  bool deleteMissing = false;
  for (const std::string& m : host.plugin().missing()) deleteMissing |= m == "zrso_deleteSnaps";
  EXPECT_TRUE(deleteMissing);
  host.addDevice(plan("a", "/dev/zrsim/412345/256"));
  bool found = true;
  EXPECT_EQ(1, host.call("zrso_deleteSnaps", {0}, &found));
  EXPECT_FALSE(found);

  ZrTestHost bad([&] {
    ZrTestHostConfig c = config;
    c.pluginPath = tmp.path() + "/none.so";
    return c;
  }());
  EXPECT_FALSE(bad.open(&error));
  EXPECT_NE(std::string::npos, error.find("none.so"));
}

TEST_F(TestHostTest, PluginInquiresSourcesThroughTheSimulatorAndLogsGoToTheHostLog) {
  ZrTestHost host(config);
  ASSERT_TRUE(host.open(nullptr));
  host.addDevice(plan("seen", "/dev/zrsim/412345/256"));
  host.addDevice(plan("unmapped", "/dev/zrsim/412345/300"));
  bool found = false;
  EXPECT_EQ(2, host.call("zrso_prepareDevices", {0, 1}, &found));
  EXPECT_TRUE(found);
  EXPECT_EQ(1, host.device(0).state().status);
  EXPECT_EQ("INQ:HITACHI/OPEN-V/" + ccisim::encodeInquirySerial(kSerial) + "/0100**",
            host.device(0).state().metadata.at(6));
  EXPECT_EQ(62504, host.device(1).state().errorCode);
  EXPECT_NE(std::string::npos, logText().find("seen L1 zrso_prepareDevices: inquiry [HITACHI"));
  EXPECT_TRUE(host.device(0).object().logs().empty());  // moved to the log file
}

TEST_F(TestHostTest, TheReturnIsSeenWithTheCallsResultBeforeItsLogsAreWritten) {
  ZrTestHost host(config);
  ASSERT_TRUE(host.open(nullptr));
  host.addDevice(plan("seen", "/dev/zrsim/412345/256"));
  host.addDevice(plan("unmapped", "/dev/zrsim/412345/300"));
  int seen = -1;
  std::string logAtReturn = "none";
  int statusAtReturn = -1;
  host.setOnReturn([&](int result) {
    seen = result;
    logAtReturn = logText();
    statusAtReturn = host.device(0).state().status;
  });
  EXPECT_EQ(2, host.call("zrso_prepareDevices", {0, 1}, nullptr));
  EXPECT_EQ(2, seen);
  EXPECT_EQ(1, statusAtReturn) << "what the call stored is there";
  EXPECT_EQ("", logAtReturn) << "the call's log lines follow the return";
  EXPECT_NE("", logText());
}

TEST_F(TestHostTest, MapSeesTheNewLunAfterItsRescan) {
  ZrTestHost host(config);
  ASSERT_TRUE(host.open(nullptr));
  host.addDevice(plan("a", "/dev/zrsim/412345/256"));
  sim.addLun(kSerial, "CL1-A", 1, 1, 300);
  EXPECT_EQ(1u, host.util().visibleDevices().size());
  EXPECT_EQ(0, host.call("zrso_mapSnaps", {0}, nullptr));
  EXPECT_EQ("/dev/zrsim/412345/256*/dev/zrsim/412345/300*", host.device(0).state().metadata.at(65));
}

TEST_F(TestHostTest, RemoteRequestRunsInAChildHostAndItsResultComesBack) {
  ZrTestHost host(config);
  ASSERT_TRUE(host.open(nullptr));
  ZrDeviceSpec s = plan("a", "/dev/zrsim/412345/256");
  s.configTexts["SMCONFIG_NAME_REMOTE_SNAP_MA"] = "ma2";
  host.addDevice(s);
  host.addDevice(plan("b", "/dev/zrsim/412345/256"));
  EXPECT_EQ(0, host.call("zrso_snapDevices", {0, 1}, nullptr));
  // The child set status 5 on its own objects; the host brought it back.
  EXPECT_EQ(5, host.device(0).state().status);
  EXPECT_EQ(5, host.device(1).state().status);
  const std::string response = host.device(0).state().metadata.at(60);
  EXPECT_NE(std::string::npos, response.find("\"opResp\": 0"));
  EXPECT_EQ(std::string::npos, response.find("\"pid\": " + std::to_string(::getpid()) + "}"));
  EXPECT_NE(std::string::npos, logText().find("[ma2]"));
  // The exchange file is gone.
  EXPECT_EQ(0,
            system(("ls " + tmp.path() + " | grep -q zrtesthost-remote; test $? -eq 1").c_str()));
}

TEST_F(TestHostTest, UnknownAgentOrFailingChildFailsTheRemoteCall) {
  ZrTestHostConfig c = config;
  c.remoteAgents.push_back({"broken", {kMine}, 1});
  c.remoteProgram = "/bin/false";
  ZrTestHost host(c);
  ASSERT_TRUE(host.open(nullptr));
  for (const char* agent : {"nobody", "broken"}) {
    SCOPED_TRACE(agent);
    ZrDeviceSpec s = plan(agent, "/dev/zrsim/412345/256");
    s.configTexts["SMCONFIG_NAME_REMOTE_SNAP_MA"] = agent;
    const int i = host.addDevice(s);
    EXPECT_EQ(1, host.call("zrso_snapDevices", {i}, nullptr));
    EXPECT_EQ(0, host.device(static_cast<size_t>(i)).state().status);
    EXPECT_EQ("2", host.device(static_cast<size_t>(i)).state().metadata.at(61));
  }
}

TEST(DeviceStateTest, StateAndSpecSurviveTheirJsonForm) {
  ZrDeviceSpec s;
  s.name = "snap \"0\"";
  s.sourcePath = "/dev/zrsim/1/2";
  s.arrayDetails = zrArrayDetailsText("412345", "u", "p,w");
  s.controlHostId = 3;
  s.replicationType = 2;
  s.postSnapEnabled = true;
  s.configTexts["SMCONFIG_NAME_TI_POOL_NAME_FOR_SVOLS"] = "5";
  s.configInts["SMCONFIG_NAME_USE_CONSISTENCY_GROUP"] = 1;
  s.values[1] = 7;
  s.arrays["412399"] = {zrArrayDetailsText("412399", "u", "p"), 2, {}};
  s.arrays["412345/412399"] = {
      s.arrayDetails, -1, {{"SMCONFIG_NAME_HDS_PHYSICAL_ARRAY_SERIAL_ID", "412399"}}};
  zrjson::Object o;
  ASSERT_TRUE(o.parse(zrSpecToJson(s).json()));
  const ZrDeviceSpec t = zrSpecFromJson(o);
  EXPECT_EQ(s.name, t.name);
  EXPECT_EQ(s.arrayDetails, t.arrayDetails);
  EXPECT_EQ(3, t.controlHostId);
  EXPECT_EQ(2, t.replicationType);
  EXPECT_TRUE(t.postSnapEnabled);
  EXPECT_FALSE(t.replicationEnabled);
  EXPECT_EQ(s.configTexts, t.configTexts);
  EXPECT_EQ(s.configInts, t.configInts);
  EXPECT_EQ(s.values, t.values);
  ASSERT_EQ(2u, t.arrays.size());
  EXPECT_EQ(s.arrays["412399"].details, t.arrays.at("412399").details);
  EXPECT_EQ(2, t.arrays.at("412399").controlHostId);
  EXPECT_EQ(-1, t.arrays.at("412345/412399").controlHostId);
  EXPECT_EQ(s.arrays["412345/412399"].configTexts, t.arrays.at("412345/412399").configTexts);

  ZrHostDevice d(s);
  ZrDeviceState st;
  st.status = 12;
  st.errorCode = 62009;
  st.errorText = "Failed to Map: Error[62601:x]";
  st.metadata[6] = "1S:412345**3L:256**";
  st.metadata[60] = "{\n\t\"opResp\": 0 \n} \n";
  d.object().setMetadataText(90, "stale");
  d.setState(st);
  zrjson::Object so;
  ASSERT_TRUE(so.parse(zrStateToJson(d.state()).json()));
  const ZrDeviceState back = zrStateFromJson(so);
  EXPECT_EQ(12, back.status);
  EXPECT_EQ(62009, back.errorCode);
  EXPECT_EQ(st.errorText, back.errorText);
  EXPECT_EQ(st.metadata, back.metadata);  // 90 was cleared by setState
}

TEST(DeviceStateTest, BindingToAnArrayGivesItsDetailsAndControlHost) {
  ZrDeviceSpec s;
  s.controlHostId = 1;
  s.arrayDetails = zrArrayDetailsText("412345", "u", "p");
  s.arrays["412399"] = {zrArrayDetailsText("412399", "u", "p"), 2, {}};
  s.arrays["412345"] = {s.arrayDetails, -1, {{"SMCONFIG_NAME_HDS_PHYSICAL_ARRAY_SERIAL_ID", ""}}};
  // A virtual storage machine 412345 on the physical array 412399.
  s.arrays["412345/412399"] = {
      s.arrayDetails, 2, {{"SMCONFIG_NAME_HDS_PHYSICAL_ARRAY_SERIAL_ID", "412399"}}};
  ZrHostDevice d(s);
  ZRSO::SnapInfo* o = d.snapInfo();
  auto details = [&] {
    char buffer[512] = {0};
    short length = 511;
    EXPECT_EQ(0, o->getArrayDetails(buffer, &length));
    return std::string(buffer);
  };
  auto physical = [&] {
    char buffer[64] = {0};
    int length = 63;
    EXPECT_EQ(0,
              o->getSnapConfigValue("SMCONFIG_NAME_HDS_PHYSICAL_ARRAY_SERIAL_ID", buffer, &length));
    return std::string(buffer);
  };
  EXPECT_EQ(0, o->setArrayInformation("412399", "412399", 1));
  EXPECT_EQ(2, o->getControlHostId());
  EXPECT_NE(std::string::npos, details().find("arrayId:412399"));
  // The virtual storage machine's record: its serial and physical serial.
  EXPECT_EQ(0, o->setArrayInformation("412345", "412399", 1));
  EXPECT_NE(std::string::npos, details().find("arrayId:412345"));
  EXPECT_EQ("412399", physical());
  // The plain array's record: it keeps the device's control host.
  EXPECT_EQ(0, o->setArrayInformation("412345", "412345", 1));
  EXPECT_EQ(2, o->getControlHostId());
  EXPECT_NE(std::string::npos, details().find("arrayId:412345"));
  EXPECT_EQ("", physical());
  // An array the host does not know changes nothing.
  EXPECT_EQ(0, o->setArrayInformation("999999", "", 1));
  EXPECT_NE(std::string::npos, details().find("arrayId:412345"));
  d.object().setArrayInformationResult(1);
  EXPECT_EQ(1, o->setArrayInformation("412399", "", 1));
  EXPECT_NE(std::string::npos, details().find("arrayId:412345"));
}

TEST(DeviceStateTest, MalformedJsonGivesDefaultsNotAnAbort) {
  zrjson::Object o;
  ASSERT_TRUE(o.parse(
      "{\"name\": 5, \"controlHostId\": \"x\", \"config\": [1], \"values\": {\"1\": \"a\"}}"));
  const ZrDeviceSpec s = zrSpecFromJson(o);
  EXPECT_EQ("", s.name);
  EXPECT_EQ(1, s.controlHostId);
  EXPECT_TRUE(s.configTexts.empty());
  EXPECT_TRUE(s.values.empty());
  zrjson::Object st;
  ASSERT_TRUE(st.parse("{\"metadata\": {\"6\": 12}, \"status\": true}"));
  const ZrDeviceState x = zrStateFromJson(st);
  EXPECT_EQ(0, x.status);
  EXPECT_TRUE(x.metadata.empty());
}

}  // namespace
