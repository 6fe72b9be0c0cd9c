// The operation workers against the simulated array: initialisation
// failures, the engine check, the success statuses, the post-create gate and
// an exception thrown inside a worker.
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "container/tests/support/HDSContainerTestBed.h"
#include "plugin/ZRSOZrHDSCLI.h"
#include "plugin/zrso_api.h"

namespace {

class Workers : public HDSContainerTestBed {
 protected:
  SnapGroup group() { return batch(); }
  std::vector<int> statuses() {
    std::vector<int> out;
    for (auto& d : devices) out.push_back(d->getStatus());
    return out;
  }
};

using Worker = std::function<int(SnapGroup&, ZRSO::ZROSUtil*)>;

TEST_F(Workers, ContainerThatCannotInitialiseRecordsTheWorkersCode) {
  ZRMapInitiatorParams params;
  struct Row {
    const char* name;
    Worker run;
    int code;
  } rows[] = {
      {"segregate", [](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_SegregateWorker(g, 2, u); },
       62008},
      {"prepare", [](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_PrepareWorker(g, 2, u, false); },
       62008},
      {"create", [](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_CreateWorker(g, 2, u); }, 60001},
      {"revert", [](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_RevertWorker(g, 2, u); }, 60005},
      {"reconcile", [](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_ReconcileWorker(g, 2, u); },
       60298},
      {"map", [&params](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_MapWorker(g, 2, u, params); },
       62009},
      {"unmap",
       [&params](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_UnmapWorker(g, 2, u, params); },
       62010},
      {"delete", [](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_DeleteWorker(g, 2, u); }, 60004},
      {"remote replication",
       [](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_GetRemoteReplWorker(g, 2, u); }, 62008},
      {"prepare remote",
       [](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_PrepareRemoteWorker(g, 2, u); }, 62008},
      {"Q-marker commit",
       [](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_QMarkerCommitWorker(g, 2, u); }, 62008},
      {"post-create", [](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_PostCreateWorker(g, 2, u); },
       62008},
  };
  startInstance();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    devices.clear();
    fx.clearJournal();
    for (int ldev : {256, 257}) {
      FakeSnapInfo& d = addSource(ldev);
      d.setArrayDetailsText(details("wrong"));
      d.setReplicationEnabled(true);
      d.setPostSnapEnabled(true);
      d.setStatus(77);
    }
    SnapGroup g = group();
    EXPECT_EQ(1, r.run(g, &os));
    EXPECT_EQ(r.code, devices[0]->errorCode());
    EXPECT_EQ(
        "Error in Initializing the HDS container context. Error[62602:Failed to login into array.]",
        devices[0]->errorText());
    EXPECT_EQ(0, devices[1]->errorCode());
    EXPECT_EQ((std::vector<int>{77, 77}), statuses());
    EXPECT_EQ(0u, raidcomCount("add snapshot"));
  }
}

TEST_F(Workers, PrepareRefusesAnEngineOtherThanThinImage) {
  FakeSnapInfo& d = addSource(256);
  d.setArrayDetailsText(details("secret", 72));
  SnapGroup g = group();
  EXPECT_EQ(1, hds_PrepareWorker(g, 1, &os, false));
  EXPECT_EQ(62008, d.errorCode());
  EXPECT_EQ("Thin Image Targetless Snap was not configured.", d.errorText());
  EXPECT_EQ(0u, raidcomCount("add snapshot"));
  EXPECT_NE(1, d.getStatus());
}

TEST_F(Workers, PrepareThenCreateSetTheirStatusesOnEveryDevice) {
  addSource(256);
  addSource(257);
  SnapGroup g = group();
  ASSERT_EQ(0, hds_PrepareWorker(g, 2, &os, false)) << devices[0]->errorText();
  EXPECT_EQ((std::vector<int>{1, 1}), statuses());
  EXPECT_EQ(2u, raidcomCount("add snapshot"));
  EXPECT_NE(std::string::npos, devices[0]->metadata(6).find("13SM:"));
  ASSERT_EQ(0, hds_CreateWorker(g, 2, &os)) << devices[0]->errorText();
  EXPECT_EQ((std::vector<int>{5, 5}), statuses());
  EXPECT_EQ(1u, raidcomCount("-snapshot_data create"));
}

TEST_F(Workers, PostCreateWithNothingToDoIsDone) {
  struct Row {
    bool replication;
    bool postSnap;
  } rows[] = {{false, true}, {true, false}, {false, false}};
  for (const Row& r : rows) {
    devices.clear();
    fx.clearJournal();
    for (int ldev : {256, 257}) {
      FakeSnapInfo& d = addSource(ldev);
      d.setReplicationEnabled(r.replication);
      d.setPostSnapEnabled(r.postSnap);
      d.setStatus(6);
    }
    SnapGroup g = group();
    EXPECT_EQ(0, hds_PostCreateWorker(g, 2, &os));
    EXPECT_EQ((std::vector<int>{5, 5}), statuses());
    EXPECT_TRUE(devices[0]->logged("Nothing to do.."));
    EXPECT_TRUE(fx.journal().empty());  // no container, no login
  }
}

TEST_F(Workers, QMarkerCommitChecksOnlyUniversalReplicator) {
  for (int type : {1, 4}) {
    devices.clear();
    fx.clearJournal();
    FakeSnapInfo& d = addSource(256);
    d.setReplicationType(type);
    SnapGroup g = group();
    EXPECT_EQ(0, hds_QMarkerCommitWorker(g, 1, &os)) << d.errorText();
    EXPECT_TRUE(fx.journal("pairsyncwait", "").empty());
    EXPECT_FALSE(fx.journal("raidcom", "-login").empty());  // still built and logged in
  }
}

// A host object that fails in a way the plug-in never expects.
class ThrowingSnapInfo : public FakeSnapInfo {
 public:
  int getArrayDetails(char*, short*) override { throw std::runtime_error("host object fault"); }
};

TEST_F(Workers, ExceptionInAWorkerSurfacesAsTheOperationsCode) {
  struct Row {
    const char* name;
    int (*entry)(ZRSO::SnapInfo**, short, ZRSO::ZROSUtil*);
    int code;
  } rows[] = {
      {"zrso_snapDevices", zrso_snapDevices, 60001},
      {"zrso_revertSnaps", zrso_revertSnaps, 60005},
      {"zrso_reconcileSnaps", zrso_reconcileSnaps, 60298},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ThrowingSnapInfo a;
    FakeSnapInfo b;
    b.setErrorPair(62601, "earlier");
    a.setControlHostId(1);
    b.setControlHostId(1);
    ZRSO::SnapInfo* snaps[] = {&a, &b};
    EXPECT_EQ(1, r.entry(snaps, 2, &os));
    EXPECT_EQ(r.code, a.errorCode());
    EXPECT_EQ(std::string(r.name) + ": Unexpected failure [host object fault]", a.errorText());
    EXPECT_EQ(62601, b.errorCode());
  }
}

}  // namespace
