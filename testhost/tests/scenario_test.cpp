// Scenario files: the reader against good and hostile texts, and the runner
// end to end with the stand-in plug-in (the real plug-in's runs are the
// end-to-end tests).
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <sstream>

#include "host/testing/ScopedTempDir.h"
#include "testhost/ZrScenarioRunner.h"

namespace {

// A scenario around one array; steps and devices are filled in by the test.
std::string scenarioText(const std::string& devices, const std::string& steps,
                         const std::string& final = "{}") {
  return R"({
    "name": "probe",
    "arrays": [{"serial": "412345",
      "pools": [{"id": 5, "name": "TI", "type": "HTI"}],
      "ldevs": [{"id": 256, "pool": 5}, {"id": 300}],
      "ports": [{"name": "CL1-A", "hostGroups": [
        {"gid": 1, "name": "mine", "wwns": ["210000e08b0256f8"], "luns": [[0, 256]]},
        {"gid": 2, "name": "spare", "wwns": ["210000e08b0256f8"]}]}],
      "commandDevice": {"path": "/dev/sdc"}}],
    "host": {"initiators": ["210000e08b0256f8"]},
    "settings": {"~Tessavon": {"nZRHDSCCICommandTimeoutInSec": 30, "sZRHDSPreSnapPort": "CL1-A"}},
    "job": {"config": {"SMCONFIG_NAME_TI_POOL_NAME_FOR_SVOLS": "5", "SMCONFIG_NAME_CREATE_VVOLS_FOR_HTI": 1}},
    "devices": )" +
         devices + R"(, "steps": )" + steps + R"(, "final": )" + final + "}";
}

const char kTwoDevices[] = R"([{"name": "a", "ldev": 256}, {"name": "b", "ldev": 300}])";

TEST(ScenarioReaderTest, ReadsEveryPartOfAScenario) {
  ZrScenario s;
  std::string error;
  ASSERT_TRUE(zrParseScenario(
      scenarioText(kTwoDevices,
                   R"([{"title": "prep", "call": "zrso_prepareDevices", "devices": [1],
                        "faults": [{"tool": "raidcom", "match": "add snapshot", "exitCode": 221,
                                    "err": "refused", "times": -1}],
                        "expect": {"result": 2, "status": 1, "statuses": {"1": 2},
                                   "errorCode": {"1": 62504}, "errorText": {"1": "HDS"},
                                   "metadataKeys": {"0": ["1S", "3L"]}, "snapshotPairs": 1,
                                   "pairState": "PAIR", "svols": 0, "lunPaths": 2,
                                   "hostDevices": 3}}])",
                   R"({"snapshotPairs": 0})"),
      s, &error))
      << error;
  ASSERT_EQ(1u, s.arrays.size());
  const ZrArraySpec& a = s.arrays[0];
  EXPECT_EQ("M8S", a.model);
  ASSERT_EQ(2u, a.ldevs.size());
  EXPECT_EQ("5", a.ldevs[0].poolId);
  EXPECT_EQ(2097152u, a.ldevs[1].capacity);
  ASSERT_EQ(1u, a.ports.size());
  ASSERT_EQ(2u, a.ports[0].hostGroups.size());
  EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 256}}), a.ports[0].hostGroups[0].luns);
  EXPECT_EQ("/dev/sdc", a.commandDevicePath);
  EXPECT_EQ(-1, a.commandDeviceLdev);
  EXPECT_EQ("30", s.settings["~Tessavon"]["nZRHDSCCICommandTimeoutInSec"]);
  EXPECT_EQ("5", s.jobTexts["SMCONFIG_NAME_TI_POOL_NAME_FOR_SVOLS"]);
  EXPECT_EQ(1, s.jobInts["SMCONFIG_NAME_CREATE_VVOLS_FOR_HTI"]);
  ASSERT_EQ(2u, s.devices.size());
  EXPECT_EQ("412345", s.devices[1].serial);
  ASSERT_EQ(1u, s.steps.size());
  const ZrScenarioStep& st = s.steps[0];
  EXPECT_EQ((std::vector<int>{1}), st.devices);
  ASSERT_EQ(1u, st.faults.size());
  EXPECT_EQ("fail", st.faults[0].kind);
  EXPECT_EQ(221, st.faults[0].exitCode);
  EXPECT_EQ(-1, st.faults[0].times);
  const ZrExpectation& e = st.expect;
  EXPECT_TRUE(e.hasResult);
  EXPECT_EQ(2, e.result);
  EXPECT_EQ(2, e.statuses.at(1));
  EXPECT_EQ(62504, e.errorCodes.at(1));
  EXPECT_EQ("HDS", e.errorTexts.at(1));
  EXPECT_EQ((std::vector<std::string>{"1S", "3L"}), e.metadataKeys.at(0));
  EXPECT_EQ(3, e.hostDevices);
  EXPECT_EQ(0, s.final.snapshotPairs);
  EXPECT_EQ(-1, s.final.svols);
}

TEST(ScenarioReaderTest, RefusesBrokenScenariosWithAReason) {
  struct Row {
    std::string text;
    const char* reason;
  } rows[] = {
      {"", "not a JSON object"},
      {"[1, 2]", "not a JSON object"},
      {R"({"devices": [{"ldev": 1}]})", "no \"arrays\""},
      {R"({"arrays": [{"model": "M8S"}], "devices": [{"ldev": 1}]})", "without \"serial\""},
      {scenarioText("[]", "[]"), "no \"devices\""},
      {scenarioText(R"([{"name": "x"}])", "[]"), "device x without \"ldev\""},
      {scenarioText(kTwoDevices, R"([{"call": "prepare"}])"), "names no zrso_ export"},
      {scenarioText(kTwoDevices, R"([{"call": "zrso_snapDevices", "devices": ["0"]}])"),
       "out of range"},
      {scenarioText(kTwoDevices,
                    R"([{"call": "zrso_snapDevices", "expect": {"statuses": {"0": "x"}}}])"),
       "statuses[0] is not a number"},
      {R"({"arrays": [{"serial": "1", "ports": [{"name": "P", "hostGroups": [{"gid": 1,
          "luns": [[0]]}]}]}], "devices": [{"ldev": 1}]})",
       "each LUN is [lun, ldev]"},
      {R"({"arrays": [{"serial": "1"}], "settings": {"s": {"k": [1]}}, "devices": [{"ldev": 1}]})",
       "setting k"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    ZrScenario s;
    std::string error;
    EXPECT_FALSE(zrParseScenario(r.text, s, &error));
    EXPECT_NE(std::string::npos, error.find(r.reason)) << error;
  }
}

TEST(ScenarioReaderTest, TheShippedScenariosRead) {
  const std::string dir = std::string(ZRTESTHOST_SOURCE_DIR) + "/scenarios/";
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n.size() > 5 && n.substr(n.size() - 5) == ".json") names.push_back(n);
    }
    ::closedir(d);
  }
  EXPECT_GE(names.size(), 5u);
  for (const std::string& name : names) {
    ZrScenario s;
    std::string error;
    EXPECT_TRUE(zrLoadScenario(dir + name, s, &error)) << error;
    EXPECT_FALSE(s.steps.empty()) << name;
  }
  ZrScenario s;
  std::string error;
  EXPECT_FALSE(zrLoadScenario("/nonexistent.json", s, &error));
  EXPECT_NE(std::string::npos, error.find("cannot read /nonexistent.json"));
}

class ScenarioRunTest : public ::testing::Test {
 protected:
  ZrRunOutcome run(const std::string& text) {
    ZrScenario s;
    std::string error;
    EXPECT_TRUE(zrParseScenario(text, s, &error)) << error;
    ZrRunOptions options;
    options.workDir = tmp.path() + "/work";
    options.pluginPath = ZRTESTHOST_PROBE;
    ZrScenarioRunner runner(s, options, out);
    return runner.run();
  }
  ScopedTempDir tmp;
  std::ostringstream out;
};

TEST_F(ScenarioRunTest, MetExpectationsPass) {
  const ZrRunOutcome o = run(scenarioText(kTwoDevices,
                                          R"([{"title": "prepare", "call": "zrso_prepareDevices",
           "expect": {"result": 2, "statuses": {"0": 1, "1": 0}, "errorCode": {"1": 62504},
                      "metadataKeys": {"0": ["INQ"]}, "hostDevices": 2, "lunPaths": 1}},
          {"title": "map", "call": "zrso_mapSnaps", "devices": [0], "expect": {"result": 0}}])",
                                          R"({"snapshotPairs": 0, "svols": 0})"));
  EXPECT_TRUE(o.passed()) << out.str();
  ASSERT_EQ(2u, o.steps.size());
  EXPECT_TRUE(o.steps[0].ran);
  EXPECT_EQ(2, o.steps[0].result);
  const std::string text = out.str();
  EXPECT_NE(std::string::npos, text.find("[1/2] prepare: zrso_prepareDevices on 2 device(s) ..."));
  EXPECT_NE(std::string::npos, text.find("b  status 0 unknown  error 62504: no inquiry"));
  EXPECT_NE(std::string::npos, text.find("metadata 6: INQ=HITACHI/OPEN-V/"));
  EXPECT_NE(std::string::npos, text.find("verdict: PASSED - all 2 steps"));
}

TEST_F(ScenarioRunTest, UnmetExpectationFailsWithEachReason) {
  const ZrRunOutcome o = run(scenarioText(kTwoDevices, R"([{"call": "zrso_prepareDevices",
                        "expect": {"result": 0, "status": 1, "snapshotPairs": 1,
                                   "metadataEmpty": [6]}}])"));
  EXPECT_FALSE(o.passed());
  ASSERT_EQ(1u, o.steps.size());
  EXPECT_EQ((std::vector<std::string>{"result 2, expected 0", "a: metadata 6 is not empty",
                                      "b: status 0 (unknown), expected 1 (prepared)",
                                      "snapshot pairs: 0, expected 1"}),
            o.steps[0].failures);
  EXPECT_NE(std::string::npos, out.str().find("verdict: FAILED - 0 of 1 steps"));
}

TEST_F(ScenarioRunTest, MissingExportIsNeverASuccess) {
  const ZrRunOutcome o = run(scenarioText(
      kTwoDevices,
      R"([{"title": "delete", "call": "zrso_deleteSnaps", "expect": {"result": 0}}])"));
  EXPECT_FALSE(o.passed());
  ASSERT_EQ(1u, o.steps.size());
  EXPECT_FALSE(o.steps[0].ran);
  EXPECT_NE(std::string::npos,
            out.str().find("NOT RUN: the plug-in does not export zrso_deleteSnaps"));
  EXPECT_NE(std::string::npos,
            o.verdict().find("INCOMPLETE - 0 of 1 steps met their expectations; not available in "
                             "this plug-in: delete"));
}

TEST_F(ScenarioRunTest, ADeviceThatDoesNotExistFailsTheStepWithoutACall) {
  const ZrRunOutcome o = run(scenarioText(
      kTwoDevices, R"([{"title": "snap", "call": "zrso_snapDevices", "devices": [0, 5]}])"));
  EXPECT_FALSE(o.passed());
  ASSERT_EQ(1u, o.steps.size());
  EXPECT_EQ((std::vector<std::string>{"device 5 does not exist: the host has 2"}),
            o.steps[0].failures);
  EXPECT_NE(std::string::npos, out.str().find("[1/1] snap: NOT RUN"));
}

TEST_F(ScenarioRunTest, RefusesToWipeADirectoryItDidNotMake) {
  ASSERT_EQ(0, ::mkdir((tmp.path() + "/work").c_str(), 0755));
  ASSERT_TRUE(zrWriteFile(tmp.path() + "/work/precious", "keep"));
  const ZrRunOutcome o = run(scenarioText(kTwoDevices, "[]"));
  EXPECT_FALSE(o.passed());
  EXPECT_NE(std::string::npos, o.setupError.find("is not a test host work directory"));
  EXPECT_EQ("keep", zrReadFile(tmp.path() + "/work/precious"));
}

}  // namespace
