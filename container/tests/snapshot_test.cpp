// Snapshot operations on the simulator: the clean-up of a failed prepare,
// create over several snapshot groups, the Q-marker record, revert,
// reconcile and the Q-marker wait.
#include <algorithm>
#include <string>
#include <vector>

#include "container/tests/support/HDSContainerTestBed.h"
#include "util/HDSCLIUtils.h"

namespace {

class ContainerSnapshots : public HDSContainerTestBed {
 protected:
  std::vector<ccisim::SnapPair> pairs() { return fx.load().array(kSerial)->pairs; }
  // A device whose stored record names its snapshot (group, MU) on LDEV ldev.
  FakeSnapInfo& snapped(int ldev, const std::string& group, int mu) {
    FakeSnapInfo& d = addSource(ldev);
    d.setMetadataText(HDS_METADATA_UNIQUE, "1S:412345**3L:" + std::to_string(ldev) +
                                               "**5M:M8S**13SM:" + std::to_string(mu) +
                                               "**10SG:" + group + "**11C:2097152**");
    return d;
  }
};

TEST_F(ContainerSnapshots, FailedPrepareRemovesExactlyWhatItAdded) {
  // An older snapshot of 256, in a group the job may reuse, that the stored
  // record still names. Refused at 256, nothing was added; refused at 257,
  // 256's new pair was.
  const std::pair<int, size_t> rows[] = {{256, 0}, {257, 1}};  // refused LDEV, deletes
  for (const auto& r : rows) {
    SCOPED_TRACE(r.first);
    devices.clear();
    fx.setArray(kSerial, [](ccisim::Array& a) { a.pairs.clear(); });
    fx.clearJournal();
    fx.addSourceLdev(kSerial, 256, 2097152, 0);
    const int oldMu = fx.addSnapshotPair(kSerial, "QB_12_5_OLD", 256, kPool, "PSUS");
    addSource(256).setMetadataText(
        HDS_METADATA_UNIQUE, "1S:412345**3L:256**5M:M8S**13SM:" + std::to_string(oldMu) + "**");
    addSource(257);
    fx.addFault(ccisim::Fault::fail("raidcom", "add snapshot -ldev_id " + std::to_string(r.first),
                                    221, "refused"));
    auto c = make(OPERATION_TYPE_PREPARE);
    ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
    EXPECT_EQ(0, c->Prepare());
    EXPECT_EQ(62601, error(*c).first);
    std::vector<ccisim::SnapPair> left = pairs();
    ASSERT_EQ(1u, left.size());
    EXPECT_EQ(oldMu, left[0].mu);
    EXPECT_EQ(r.second, raidcomCount("delete snapshot"));
    EXPECT_EQ(1u, raidcomCount("unlock resource"));
  }
}

TEST_F(ContainerSnapshots, CleanUpSettingAndLockFailure) {
  addSource(256);
  addSource(257);
  setSetting("nZRHDSDoNotCleanUpOnPrePareFailure", 0);
  fx.addFault(ccisim::Fault::fail("raidcom", "add snapshot -ldev_id 257", 221, "refused"));
  {
    auto c = make(OPERATION_TYPE_PREPARE);
    EXPECT_EQ(0, c->Prepare());
    EXPECT_TRUE(devices[0]->logged(
        "The registry key to disable cleanup, in case of Prepare failures, is set."));
  }
  EXPECT_EQ(1u, pairs().size());  // left for the administrator
  EXPECT_EQ(0u, raidcomCount("delete snapshot"));

  fx.clearJournal();
  fx.addFault(ccisim::Fault::fail("raidcom", "lock resource", 1, "lock failed", -1));
  setSetting("nZRHDSLockRetryCount", 1);
  auto c = make(OPERATION_TYPE_PREPARE);
  EXPECT_EQ(0, c->Prepare());
  EXPECT_NE(0, error(*c).first);
  EXPECT_EQ(0u, raidcomCount("unlock resource"));
  EXPECT_EQ(0u, raidcomCount("add snapshot"));
}

TEST_F(ContainerSnapshots, CreateSplitsEveryGroupItsRecordsName) {
  startInstance();
  fx.addSourceLdev(kSerial, 256, 2097152, 0);
  fx.addSourceLdev(kSerial, 257, 2097152, 0);
  const int a = fx.addSnapshotPair(kSerial, "QB_12_5_A", 256, kPool);
  const int b = fx.addSnapshotPair(kSerial, "QB_12_5_B", 257, kPool);
  snapped(256, "QB_12_5_A", a);
  snapped(257, "QB_12_5_B", b);
  auto c = make(OPERATION_TYPE_CREATE);
  ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
  ASSERT_EQ(1, c->Create()) << error(*c).second;
  for (const ccisim::SnapPair& p : pairs()) EXPECT_EQ("PSUS", p.state) << p.group;
  EXPECT_EQ(1u, raidcomCount("modify snapshot -snapshotgroup QB_12_5_A -snapshot_data create"));
  EXPECT_EQ(1u, raidcomCount("modify snapshot -snapshotgroup QB_12_5_B -snapshot_data create"));
  EXPECT_EQ("QB_12_5_A", Peer::options(*c).snapshotGroup);

  // A group that cannot be split fails the create: none of it is created.
  fx.addFault(
      ccisim::Fault::fail("raidcom", "modify snapshot -snapshotgroup QB_12_5_B", 221, "refused", -1));
  auto f = make(OPERATION_TYPE_CREATE);
  EXPECT_EQ(0, f->Create());
  EXPECT_EQ(std::make_pair(
                60001, std::string("Failed to create targetless snaps on SnapshotGroup-QB_12_5_B")),
            error(*f));
}

TEST_F(ContainerSnapshots, CreateWithoutAGroupSendsNothing) {
  startInstance();
  // The first record without a group (the job's default name would stand
  // in), or a later one.
  for (bool firstHasNone : {true, false}) {
    devices.clear();
    if (firstHasNone) addSource(256);
    snapped(257, "QB_12_5_B", 3);
    if (!firstHasNone) addSource(256);
    auto c = make(OPERATION_TYPE_CREATE);
    ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
    EXPECT_EQ(0, c->Create());
    EXPECT_EQ(std::make_pair(60001, std::string("SnapshotGroup information not available.")),
              error(*c));
  }
  EXPECT_EQ(0u, raidcomCount("modify snapshot"));
}

TEST_F(ContainerSnapshots, QMarkerOfAUniversalReplicatorSource) {
  const std::string instance = startInstance();
  ccisim::CopyGroup g;
  g.name = "CG1";
  fx.addCopyGroup(kSerial, g);
  fx.addSourceLdev(kSerial, 256, 2097152, 0);
  FakeSnapInfo& d = snapped(256, "QB_12_5_A", fx.addSnapshotPair(kSerial, "QB_12_5_A", 256, kPool));
  d.setSnapConfigText("SMCONFIG_NAME_HDS_REMOTE_REPL_COPY_GROUP", "CG1");
  d.setReplicationType(ZRSO::REPLICATION_TYPE_UNIVERSAL_REPLICATOR);

  // Replication off, or the post-create step: no Q-marker.
  d.setReplicationEnabled(false);
  EXPECT_EQ(1, make(OPERATION_TYPE_CREATE)->Create());
  d.setReplicationEnabled(true);
  EXPECT_EQ(1, make(OPERATION_TYPE_POST_CREATE)->Create());
  EXPECT_FALSE(d.hasMetadata(HDS_METADATA_REPLICATION));
  EXPECT_EQ(0u, fx.journal("pairsyncwait", "").size());

  EXPECT_EQ(1, make(OPERATION_TYPE_CREATE)->Create());
  EXPECT_EQ("18MC:412345**19MP:256**20QM:01003408ee**21MH:" + instance + "**",
            d.metadata(HDS_METADATA_REPLICATION));
  ZRHDSMetadataInfo md;
  md.initialize();
  ZRHDSCLIUtils::getInfoFromReplicationMetadata(&d, md);
  EXPECT_EQ("01003408ee", md.qMarker);
  EXPECT_EQ(instance, md.horcmInst);

  // A record that cannot be stored fails the create.
  d.failOn("setMetadataByType");
  auto c = make(OPERATION_TYPE_CREATE);
  EXPECT_EQ(0, c->Create());
  EXPECT_EQ(std::make_pair(62008, std::string("Failed to set HDS metadata.")), error(*c));
}

TEST_F(ContainerSnapshots, QMarkerWait) {
  const std::string instance = startInstance();
  ccisim::CopyGroup g;
  g.name = "CG1";
  fx.addCopyGroup(kSerial, g);
  FakeSnapInfo& d = addSource(256);
  d.setSnapConfigText("SMCONFIG_NAME_HDS_REMOTE_REPL_COPY_GROUP", "CG1");
  d.setMetadataText(HDS_METADATA_UNIQUE_OTHER, d.metadata(HDS_METADATA_UNIQUE));
  d.setMetadataText(HDS_METADATA_REPLICATION,
                    "18MC:412345**19MP:256**20QM:**21MH:" + instance + "**");
  {
    auto c = make(OPERATION_TYPE_QMARKER_COMMIT);
    ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
    EXPECT_EQ(0, c->WaitForQmarkerCommit());
    EXPECT_EQ(std::make_pair(60505, std::string("Received empty QMarker.")), error(*c));
    EXPECT_EQ(0u, fx.journal("pairsyncwait", "").size());
  }
  d.setMetadataText(HDS_METADATA_REPLICATION,
                    "18MC:412345**19MP:256**20QM:01003408ee**21MH:" + instance + "**");
  auto c = make(OPERATION_TYPE_QMARKER_COMMIT);
  ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
  EXPECT_EQ(1, c->WaitForQmarkerCommit()) << error(*c).second;
  EXPECT_EQ(1u, fx.journal("pairsyncwait", "-g CG1").size());
  EXPECT_EQ(1u, fx.journal("pairsyncwait", "01003408ee").size());
}

TEST_F(ContainerSnapshots, RevertAndReconcile) {
  startInstance();
  fx.addSourceLdev(kSerial, 256, 2097152, 0);
  fx.addSourceLdev(kSerial, 257, 2097152, 0);
  fx.addSourceLdev(kSerial, 258, 2097152, 0);
  const int a = fx.addSnapshotPair(kSerial, "QB_12_5_A", 256, kPool, "PSUS");
  const int b = fx.addSnapshotPair(kSerial, "QB_12_5_A", 257, kPool, "PSUS");
  const int x = fx.addSnapshotPair(kSerial, "QB_12_5_B", 258, kPool, "PSUS");
  snapped(256, "QB_12_5_A", a);
  snapped(257, "QB_12_5_A", b);
  snapped(258, "QB_12_5_B", x);
  {
    auto c = make(OPERATION_TYPE_REVERT);
    ASSERT_EQ(1, c->Revert()) << error(*c).second;
  }
  for (int ldev : {256, 257, 258}) {
    // Restored, then split again.
    EXPECT_EQ(2u, raidcomCount("modify snapshot -ldev_id " + std::to_string(ldev)));
  }
  EXPECT_EQ(3u, raidcomCount("-snapshot_data restore"));
  for (const ccisim::SnapPair& p : pairs()) EXPECT_EQ("PSUS", p.state);

  // 257's pair is gone from the array: only its device is no longer confirmed.
  fx.setArray(kSerial, [](ccisim::Array& arr) {
    arr.pairs.erase(std::remove_if(arr.pairs.begin(), arr.pairs.end(),
                                   [](const ccisim::SnapPair& p) { return p.pvol == 257; }),
                    arr.pairs.end());
  });
  for (auto& d : devices) d->setStatus(ZRSO::SNAP_STATUS_CREATED);
  auto c = make(OPERATION_TYPE_RECONCILE);
  ASSERT_EQ(1, c->Reconcile()) << error(*c).second;
  EXPECT_EQ(ZRSO::SNAP_STATUS_CREATED, devices[0]->getStatus());
  EXPECT_EQ(ZRSO::SNAP_STATUS_NOT_CONFIRMED, devices[1]->getStatus());
  EXPECT_EQ(ZRSO::SNAP_STATUS_CREATED, devices[2]->getStatus());

  // A failed listing changes no status; the handler's code stands.
  fx.addFault(ccisim::Fault::fail("raidcom", "get snapshot", 1, "failed", -1));
  for (auto& d : devices) d->setStatus(ZRSO::SNAP_STATUS_CREATED);
  auto f = make(OPERATION_TYPE_RECONCILE);
  EXPECT_EQ(0, f->Reconcile());
  EXPECT_EQ(62601, error(*f).first);
  for (auto& d : devices) EXPECT_EQ(ZRSO::SNAP_STATUS_CREATED, d->getStatus());
}

}  // namespace
