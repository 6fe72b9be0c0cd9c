// The operation frame: grouping by control host, the per-group choice of
// local worker or remote exchange, failure recording and the exception
// barrier, driven through a worker seam.
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/ZRSOFrame.h"
#include "plugin/tests/support/PluginTestEnv.h"

namespace {

using zrso_frame::GroupRunner;
using zrso_frame::LoopRules;

constexpr char kFailure[] = "%s: Failed to Create Snap for the Control Host [%d]";
const LoopRules kRules{"zrso_snapDevices", kFailure, 60001};

// A runner whose local worker records each group it is given and fails for
// the control-host ids in failing; it sets status 5 on the groups it does.
struct ScriptedRunner {
  std::vector<int> failing;
  std::vector<std::vector<ZRSO::SnapInfo*>> seen;
  GroupRunner runner() {
    GroupRunner r;
    r.local = [this](SnapGroup& group, short count, ZRSO::ZROSUtil*) {
      EXPECT_EQ(static_cast<short>(group.size()), count);
      seen.push_back(group);
      for (int id : failing) {
        if (group.front()->getControlHostId() == id) return 1;
      }
      for (ZRSO::SnapInfo* d : group) d->setStatus(5);
      return 0;
    };
    return r;
  }
};

TEST(Frame, GroupsInAscendingIdKeepingArrayOrder) {
  plugin_test::Env env;
  env.addDevices({7, 2, 5, 2, 7});
  SnapGroupMap groups;
  zrso_frame::groupByControlHost(env.array(), env.count(), 6, groups);
  EXPECT_EQ((std::vector<int>{6, 6, 6, 6, 6}), env.statuses());
  ScriptedRunner script;
  const auto result = zrso_frame::runGroupLoop(kRules, script.runner(), groups, env.array()[0],
                                               env.count(), &env.util);
  EXPECT_TRUE(result.completed);
  EXPECT_EQ(0, result.failedDevices);
  ASSERT_EQ(3u, script.seen.size());
  EXPECT_EQ((std::vector<ZRSO::SnapInfo*>{&env.at(1), &env.at(3)}), script.seen[0]);
  EXPECT_EQ((std::vector<ZRSO::SnapInfo*>{&env.at(2)}), script.seen[1]);
  EXPECT_EQ((std::vector<ZRSO::SnapInfo*>{&env.at(0), &env.at(4)}), script.seen[2]);
}

TEST(Frame, LocalFailureTable) {
  struct Row {
    const char* name;
    bool goOn;
    bool repHasError;
    std::vector<int> expectedRuns;  // control-host ids whose worker ran
    std::vector<int> statuses;
    int failedDevices;
  } rows[] = {
      {"stops", false, false, {1, 2}, {5, 6, 6, 6}, 3},
      {"stops, earlier error stays", false, true, {1, 2}, {5, 6, 6, 6}, 3},
      {"goes on", true, false, {1, 2, 3}, {5, 6, 6, 5}, 2},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    plugin_test::Env env;
    env.addDevices({1, 2, 2, 3});
    if (r.repHasError) env.at(1).setErrorPair(62601, "Failed to create targetless snaps.");
    SnapGroupMap groups;
    zrso_frame::groupByControlHost(env.array(), env.count(), 6, groups);
    ScriptedRunner script;
    script.failing = {2};
    LoopRules rules = kRules;
    rules.goOnAfterLocalFailure = r.goOn;
    const auto result = zrso_frame::runGroupLoop(rules, script.runner(), groups, env.array()[0],
                                                 env.count(), &env.util);
    std::vector<int> runs;
    for (const auto& g : script.seen) runs.push_back(g.front()->getControlHostId());
    EXPECT_EQ(r.expectedRuns, runs);
    EXPECT_EQ(r.statuses, env.statuses());
    EXPECT_FALSE(result.completed);
    EXPECT_FALSE(result.remoteFailed);
    EXPECT_EQ(r.failedDevices, result.failedDevices);
    const std::string message = "zrso_snapDevices: Failed to Create Snap for the Control Host [2]";
    if (r.repHasError) {
      EXPECT_EQ(62601, env.at(1).errorCode());
      EXPECT_EQ("Failed to create targetless snaps.", env.at(1).errorText());
      EXPECT_EQ((std::vector<std::string>{message}), env.at(0).logTexts(0));
    } else {
      EXPECT_EQ(60001, env.at(1).errorCode());
      EXPECT_EQ(message, env.at(1).errorText());
    }
    // Only the representative carries the group's failure.
    EXPECT_EQ(0, env.at(0).errorCode());
    EXPECT_EQ(0, env.at(2).errorCode());
  }
}

// A remote exchange double: answers each media agent with a scripted
// outcome and records the requests.
struct ScriptedRemote {
  int buildResult = 1;
  int exchangeResult = 0;
  std::string answer = "{\"opResp\":0}";
  std::vector<std::string> agents;
  std::vector<short> counts;
  void install(GroupRunner& r, unsigned int id) {
    r.messageId = id;
    r.buildRequest = [this](ZRSO::SnapInfo* rep, std::string& request) {
      request = "req:" + std::to_string(rep->getControlHostId());
      return buildResult;
    };
    r.exchange = [this](ZRSO::SnapInfo*, short count, ZRSO::ZROSUtil*, const std::string& agent,
                        unsigned int messageId, std::string& request, std::string& response) {
      EXPECT_EQ(2u, messageId);
      EXPECT_EQ(0u, request.find("req:"));
      agents.push_back(agent);
      counts.push_back(count);
      response = answer;
      return exchangeResult;
    };
    r.readResponse = [](ZRSO::SnapInfo*, const std::string& response) {
      if (response == "{\"opResp\":0}") return 0;
      if (response == "{\"opResp\":2}") return 2;
      return 1;
    };
  }
};

TEST(Frame, RemoteGroupTable) {
  struct Row {
    const char* name;
    int buildResult;
    int exchangeResult;
    const char* answer;
    std::vector<int> localRuns;  // ids run here
    bool completed;
    int failedDevices;
  } rows[] = {
      {"answer 0 goes on", 1, 0, "{\"opResp\":0}", {1, 3}, true, 0},
      {"answer 2 goes on", 1, 0, "{\"opResp\":2}", {1, 3}, true, 0},
      {"answer 1 stops", 1, 0, "{\"opResp\":1}", {1}, false, 3},
      {"unreadable answer stops", 1, 0, "", {1}, false, 3},
      {"transport failure stops", 1, 1, "", {1}, false, 3},
      {"request not built stops", 0, 0, "", {1}, false, 3},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    plugin_test::Env env;
    env.addDevices({1, 2, 2, 3});
    env.runRemotely(1, "ma-remote");
    SnapGroupMap groups;
    zrso_frame::groupByControlHost(env.array(), env.count(), 6, groups);
    ScriptedRunner script;
    GroupRunner runner = script.runner();
    ScriptedRemote remote;
    remote.buildResult = r.buildResult;
    remote.exchangeResult = r.exchangeResult;
    remote.answer = r.answer;
    remote.install(runner, 2);
    const auto result =
        zrso_frame::runGroupLoop(kRules, runner, groups, env.array()[0], env.count(), &env.util);
    std::vector<int> runs;
    for (const auto& g : script.seen) runs.push_back(g.front()->getControlHostId());
    EXPECT_EQ(r.localRuns, runs);
    EXPECT_EQ(r.completed, result.completed);
    EXPECT_EQ(!r.completed, result.remoteFailed);
    EXPECT_EQ(r.failedDevices, result.failedDevices);
    if (r.buildResult == 1) {
      // The transport gets the call's whole count.
      EXPECT_EQ((std::vector<std::string>{"ma-remote"}), remote.agents);
      EXPECT_EQ((std::vector<short>{4}), remote.counts);
    } else {
      EXPECT_TRUE(remote.agents.empty());
    }
    // The frame records nothing for a remote group.
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), env.errorCodes());
  }
}

TEST(Frame, ExceptionBarrierRecordsTheCodeOnDevicesWithoutOne) {
  struct Row {
    const char* name;
    std::function<int()> body;
    const char* what;
  } rows[] = {
      {"std::exception", [&]() -> int { throw std::runtime_error("boom %s%n"); }, "boom %s%n"},
      {"anything else", [&]() -> int { throw 42; }, "unknown exception"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    plugin_test::Env env;
    env.addDevices({1, 1, 2});
    env.at(1).setErrorPair(62601, "earlier");
    EXPECT_EQ(1, zrso_frame::guarded("zrso_snapDevices", env.array(), env.count(), 60001, r.body));
    const std::string text = std::string("zrso_snapDevices: Unexpected failure [") + r.what + "]";
    EXPECT_EQ((std::vector<int>{60001, 62601, 60001}), env.errorCodes());
    EXPECT_EQ(text, env.at(0).errorText());
    EXPECT_EQ("earlier", env.at(1).errorText());
    // The exception's text is logged as data, never as a format.
    EXPECT_EQ((std::vector<std::string>{text}), env.at(0).logTexts(2));
  }
  plugin_test::Env env;
  env.addDevices({1});
  EXPECT_EQ(7, zrso_frame::guarded("f", env.array(), env.count(), 60001, [] { return 7; }));
  EXPECT_EQ(0, env.at(0).errorCode());
  // Code 0 (no operation) and no devices: only the host log.
  EXPECT_EQ(1, zrso_frame::guarded("f", nullptr, 0, 0, []() -> int { throw 1; }));
}

}  // namespace
