// The operation workers against the simulated array: initialisation
// failures, the engine check, the success statuses, the post-create gate and
// an exception thrown inside a worker.
#include <cstdlib>
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
};

using Worker = std::function<int(SnapGroup&, ZRSO::ZROSUtil*)>;

// A worker of the common signature, run for a group of two.
Worker plain(int (*worker)(SnapGroup&, short, ZRSO::ZROSUtil*)) {
  return [worker](SnapGroup& g, ZRSO::ZROSUtil* u) { return worker(g, 2, u); };
}

TEST_F(Workers, ContainerThatCannotInitialiseRecordsTheWorkersCode) {
  ZRMapInitiatorParams params;
  struct Row {
    const char* name;
    Worker run;
    int code;
  } rows[] = {
      {"segregate", plain(hds_SegregateWorker), 62008},
      {"prepare", [](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_PrepareWorker(g, 2, u, false); },
       62008},
      {"create", plain(hds_CreateWorker), 60001},
      {"revert", plain(hds_RevertWorker), 60005},
      {"reconcile", plain(hds_ReconcileWorker), 60298},
      {"map", [&params](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_MapWorker(g, 2, u, params); },
       62009},
      {"unmap",
       [&params](SnapGroup& g, ZRSO::ZROSUtil* u) { return hds_UnmapWorker(g, 2, u, params); },
       62010},
      {"delete", plain(hds_DeleteWorker), 60004},
      {"remote replication", plain(hds_GetRemoteReplWorker), 62008},
      {"prepare remote", plain(hds_PrepareRemoteWorker), 62008},
      {"Q-marker commit", plain(hds_QMarkerCommitWorker), 62008},
      {"post-create", plain(hds_PostCreateWorker), 62008},
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

// Nothing asked of the array is nothing taken: no device may read created,
// and the group's first device says why.
TEST_F(Workers, PostCreateWithNothingToDoFailsWithItsReason) {
  struct Row {
    bool replication;
    bool postSnap;
    const char* text;
  } rows[] = {
      {false, true,
       "Post-snap step not run: replication-[FALSE], post-snap-[TRUE] for this job. No snapshot "
       "was taken."},
      {true, false,
       "Post-snap step not run: replication-[TRUE], post-snap-[FALSE] for this job. No snapshot "
       "was taken."},
      {false, false,
       "Post-snap step not run: replication-[FALSE], post-snap-[FALSE] for this job. No snapshot "
       "was taken."},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    devices.clear();
    fx.clearJournal();
    for (int ldev : {256, 257}) {
      FakeSnapInfo& d = addSource(ldev);
      d.setReplicationEnabled(r.replication);
      d.setPostSnapEnabled(r.postSnap);
      d.setStatus(6);
    }
    SnapGroup g = group();
    EXPECT_EQ(1, hds_PostCreateWorker(g, 2, &os));
    EXPECT_EQ((std::vector<int>{6, 6}), statuses());
    EXPECT_EQ(60001, devices[0]->errorCode());
    EXPECT_EQ(r.text, devices[0]->errorText());
    EXPECT_EQ(0, devices[1]->errorCode());
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

namespace {

// Map and unmap over prepared and created snapshots; initiator WWNs of this
// host on host group 1 "client01", of the ESX host on host group 2.
class MapWorkers : public Workers {
 protected:
  static constexpr const char* kLocalWwn = "21000024FF3DC7A2";
  static constexpr const char* kEsxWwn = "21000024FF0E5B10";

  void SetUp() override {
    fx.addHostGroupWwn(kSerial, "CL1-A", 1, kLocalWwn);
    fx.addHostGroup(kSerial, "CL1-A", 2, "esx01");
    fx.addHostGroupWwn(kSerial, "CL1-A", 2, kEsxWwn);
    fx.addLoginWwn(kSerial, "CL1-A", kLocalWwn);
    fx.addLoginWwn(kSerial, "CL1-A", kEsxWwn);
    addMappableSources(sources);
    // The host groups come from the initiators, not from the job.
    for (auto& d : devices) d->setSnapConfigText("SMCONFIG_NAME_HOST_GROUP_FOR_SVOLS", "");
    SnapGroup g = group();
    ASSERT_EQ(0, hds_PrepareWorker(g, count(), &os, false)) << devices[0]->errorText();
    ASSERT_EQ(0, hds_CreateWorker(g, count(), &os)) << devices[0]->errorText();
    fx.clearJournal();
  }
  // The client host groups ("port-gid") that LUN paths were added to (verb
  // "add") or deleted from ("delete"), in journal order; the pre-snap host
  // group, which holds every allocated S-VOL, is left out.
  std::vector<std::string> lunTargets(const std::string& verb = "add") {
    const ccisim::State state = fx.load();
    const ccisim::Array& a = *state.array(kSerial);
    std::vector<std::string> out;
    for (const auto& e : fx.journal("raidcom", verb + " lun")) {
      for (size_t i = 0; i + 1 < e.argv.size(); ++i) {
        if (e.argv[i] != "-port") continue;
        const std::string& text = e.argv[i + 1];
        const size_t dash = text.rfind('-');
        const ccisim::HostGroup* hg =
            a.hostGroup(text.substr(0, dash), std::atoi(text.substr(dash + 1).c_str()));
        if (hg == nullptr || hg->name != "QB_PRE_SNAP_HOST_GROUP") out.push_back(text);
      }
    }
    return out;
  }
  ZRMapInitiatorParams params;
  std::vector<int> sources = {256, 257};
};

TEST_F(MapWorkers, LocalOnlyMapsToTheLocalHostGroup) {
  params.localInitiators = {kLocalWwn};
  SnapGroup g = group();
  ASSERT_EQ(0, hds_MapWorker(g, 2, &os, params)) << devices[0]->errorText();
  EXPECT_EQ((std::vector<int>{9, 9}), statuses());
  EXPECT_EQ((std::vector<std::string>{"CL1-A-1", "CL1-A-1"}), lunTargets());
  ASSERT_EQ(2u, params.mapDiscoveryInfo.size());
  EXPECT_EQ("snap1", params.mapDiscoveryInfo[0].MSName);
  EXPECT_FALSE(params.mapDiscoveryInfo[0].MSNum.empty());
  EXPECT_FALSE(devices[0]->logged("ESX Map - START"));

  ZRMapInitiatorParams unmap;
  unmap.localInitiators = {kLocalWwn};
  ASSERT_EQ(0, hds_UnmapWorker(g, 2, &os, unmap)) << devices[0]->errorText();
  EXPECT_EQ((std::vector<std::string>{"CL1-A-1", "CL1-A-1"}), lunTargets("delete"));
  EXPECT_FALSE(devices[0]->logged("ESX Unmap - START"));
}

TEST_F(MapWorkers, LocalMapFailureWithoutEsxFails) {
  params.localInitiators = {"21000024FFFFFFFF"};  // on no host group
  SnapGroup g = group();
  EXPECT_EQ(1, hds_MapWorker(g, 2, &os, params));
  EXPECT_EQ(62009, devices[0]->errorCode());
  EXPECT_EQ(0u, devices[0]->errorText().find("Failed to Map snapshots. Error["));
  EXPECT_TRUE(params.mapDiscoveryInfo.empty());
  EXPECT_NE(9, devices[0]->getStatus());
}

TEST_F(MapWorkers, EsxPassFirstThenALocalFailureIsTolerated) {
  params.vmInitiators = {kEsxWwn};
  params.localInitiators = {"21000024FFFFFFFF"};
  SnapGroup g = group();
  ASSERT_EQ(0, hds_MapWorker(g, 2, &os, params)) << devices[0]->errorText();
  EXPECT_EQ((std::vector<int>{9, 9}), statuses());
  EXPECT_EQ((std::vector<std::string>{"CL1-A-2", "CL1-A-2"}), lunTargets());
  EXPECT_EQ(0, devices[0]->errorCode());
  bool toleratedLogged = false;
  for (const std::string& line : devices[0]->logTexts(2)) {
    if (line.find("Failed to Map snapshots. Error[") == 0) toleratedLogged = true;
  }
  EXPECT_TRUE(toleratedLogged);
  EXPECT_EQ(2u, params.mapDiscoveryInfo.size());
  // The ESX pass keeps its record in 65, the local pass in 68.
  EXPECT_TRUE(devices[0]->hasMetadata(65));

  ZRMapInitiatorParams unmap;
  unmap.vmInitiators = {kEsxWwn};
  ASSERT_EQ(0, hds_UnmapWorker(g, 2, &os, unmap)) << devices[0]->errorText();
  EXPECT_TRUE(devices[0]->logged("ESX Unmap - START >>>>>"));
  EXPECT_TRUE(devices[0]->logged("Local Unmap - END >>>>>"));
  EXPECT_EQ((std::vector<std::string>{"CL1-A-2", "CL1-A-2"}), lunTargets("delete"));
}

}  // namespace

namespace {

// The whole map and unmap entry points over the same job.
class MapEntries : public MapWorkers {
 protected:
  void SetUp() override {
    MapWorkers::SetUp();
    os.setHbaList({kLocalWwn}, {0});
  }
};

TEST_F(MapEntries, MappedOnTheArrayButNoOsDeviceAppears) {
  EXPECT_EQ(1, zrso_mapSnaps(snaps(), 2, &os));
  EXPECT_EQ((std::vector<std::string>{"CL1-A-1", "CL1-A-1"}), lunTargets());
  // The OS side never showed the targets.
  EXPECT_EQ((std::vector<int>{13, 13}), statuses());
  EXPECT_EQ(60509, devices[0]->errorCode());
  EXPECT_TRUE(devices[0]->logged("zrso_mapSnaps: Failed to perform post-Map procedures."));
  EXPECT_FALSE(devices[0]->logged("Completed Mapping snapshot(s)/clone(s)."));
}

TEST_F(MapEntries, UnmapGoesOnAfterAFailingLocalGroup) {
  ZRMapInitiatorParams params;
  params.localInitiators = {kLocalWwn};
  SnapGroup g = group();
  ASSERT_EQ(0, hds_MapWorker(g, 2, &os, params)) << devices[0]->errorText();
  fx.clearJournal();
  devices[0]->setControlHostId(1);
  devices[1]->setControlHostId(2);
  devices[0]->setArrayDetailsText(details("wrong"));
  const int rescans = os.rescanCount();
  EXPECT_EQ(2, zrso_unmapSnaps(snaps(), 2, &os));
  EXPECT_EQ(62010, devices[0]->errorCode());
  EXPECT_EQ((std::vector<int>{15, 14}), statuses());
  EXPECT_EQ((std::vector<std::string>{"CL1-A-1"}), lunTargets("delete"));
  EXPECT_GT(os.rescanCount(), rescans);  // the post-unmap step still ran
  EXPECT_TRUE(devices[0]->logged("Completed Unmapping snapshot(s)/clone(s). Count [2]"));
}

// A map run again after one that failed part way, over a third source. The
// host's OS devices are the LU paths of CL1-A-1 ("/dev/lu<LDEV>"), each
// answering its LDEV's inquiry; a call lists them before and after its work.
class MapRetry : public MapEntries {
 protected:
  MapRetry() { sources.push_back(258); }
  // The device list text of the LDEVs presented to the client now, and of
  // extra: each a disk of the tree.
  std::string osDevices(std::vector<int> ldevs = {}) {
    const ccisim::State state = fx.load();
    for (const auto& lun : state.array(kSerial)->hostGroup("CL1-A", 1)->luns)
      ldevs.push_back(lun.second);
    std::string text = "/dev/sda*/dev/sdc*";
    for (int ldev : ldevs) {
      tree.addDisk("/dev/lu" + std::to_string(ldev),
                   {fx.inquiryStandard(kSerial, ldev), fx.inquiryE2(kSerial, ldev)});
      text += "/dev/lu" + std::to_string(ldev) + "*";
    }
    return text;
  }
  // A map call of every device: the host lists before, then after.
  int mapCall(const std::string& before, const std::string& after) {
    for (auto& d : devices) d->setStatus(ZRSO::SNAP_STATUS_CREATED);
    os.setDeviceListText(before);
    os.queueDeviceListText(after);
    fx.clearJournal();
    return zrso_mapSnaps(snaps(), count(), &os);
  }
  // The LDEV id of the last "add ldev" since the journal was cleared.
  std::string added() {
    std::string id;
    for (const auto& e : fx.journal("raidcom", "add ldev"))
      for (size_t i = 1; i < e.argv.size(); ++i)
        if (e.argv[i - 1] == "-ldev_id") id = e.argv[i];
    return id;
  }
};

// Map {d0, d1} (its array side); map {d0, d1, d2} with d2's label refused (d0
// and d1 stay presented, d2's new S-VOL is removed); map {d0, d1, d2} again:
// d0's and d1's targets show on devices the host listed before the call and
// are found in the first pass, without waiting out the 180 s.
TEST_F(MapRetry, SnapsPresentedBeforeTheCallAreFoundAtOnce) {
  params.localInitiators = {kLocalWwn};
  SnapGroup two = {devices[0].get(), devices[1].get()};
  ASSERT_EQ(0, hds_MapWorker(two, 2, &os, params)) << devices[0]->errorText();
  const std::string mapped = osDevices();
  fx.addFault(ccisim::Fault::fail("raidcom", "-ldev_name QB_SVOL_snap3", 1, "refused", -1));
  ASSERT_NE(0, mapCall(mapped, mapped));
  fx.clearFaults();
  const std::string refused = added();
  ASSERT_EQ(mapped, osDevices()) << "d0 and d1 stay presented, d2's S-VOL is gone";
  devices[0]->setErrorPair(0, "");

  const int64_t slept = clock.totalSleptMillis();
  const int rescans = os.rescanCount();
  EXPECT_EQ(0, mapCall(mapped, osDevices({std::stoi(refused)}))) << devices[0]->errorText();
  ASSERT_EQ(refused, added()) << "the new S-VOL is made where the refused one was";
  EXPECT_EQ(1, os.rescanCount() - rescans) << "found in the first pass";
  EXPECT_EQ(3000, clock.totalSleptMillis() - slept) << "one refresh delay, nothing waited out";
  EXPECT_EQ((std::vector<int>{12, 12, 12}), statuses());
  for (auto& d : devices)
    EXPECT_NE(std::string::npos, d->metadata(HDS_METADATA_SNAP_MAP_FIRST)
                                     .find("22LI:" + d->snapDevicePath().substr(7) + "**"));
}

}  // namespace
