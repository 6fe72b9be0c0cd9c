// The exported operations end to end over test-double host devices against
// the simulated array: preparation, create, delete, map and unmap, with
// several control hosts.
#include <memory>
#include <string>
#include <vector>

#include "container/tests/support/HDSContainerTestBed.h"
#include "plugin/ZRSOZrHDSCLI.h"
#include "plugin/zrso_api.h"
#include "util/ZRHDSIntentRecord.h"

namespace {

int openRecords() {
  std::vector<ZRHDSIntentRecord> open;
  return ZRHDSIntentStore().list("412345", open, nullptr, nullptr) ? int(open.size()) : -1;
}

// A host object that counts the intent records open as its status is read:
// last for the call's result, after every group's worker ended.
struct RecordCounter : FakeSnapInfo {
  int getStatus() override { atLastRead = openRecords(); return FakeSnapInfo::getStatus(); }
  int atLastRead = -1;
};

class Operations : public HDSContainerTestBed {
 protected:
  // A source device whose OS path answers the inquiry of LDEV ldev, served
  // by control host controlHost; unprepared (no metadata).
  FakeSnapInfo& addSourceDevice(int ldev, int controlHost,
                                std::unique_ptr<FakeSnapInfo> object = nullptr) {
    fx.addSourceLdev(kSerial, ldev, 2097152, 0);
    FakeSnapInfo& d = addDevice(std::move(object));
    const std::string path = "/dev/src" + std::to_string(ldev);
    d.setSourceDevicePathText(path);
    d.setControlHostId(controlHost);
    // Not a GAD job: segregation does not look for GAD pairs.
    d.setSnapConfigIntValue("SMCONFIG_NAME_HDS_DISABLE_GAD_OPERATION", 1);
    ZrFakeDeviceTree::Disk disk;
    disk.standard = fx.inquiryStandard(kSerial, ldev);
    disk.e2 = fx.inquiryE2(kSerial, ldev);
    tree.addDisk(path, disk);
    return d;
  }
  // The LDEVs named by "add snapshot" commands, in journal order.
  std::vector<std::string> addedLdevs() {
    std::vector<std::string> out;
    for (const auto& e : fx.journal("raidcom", "add snapshot")) {
      for (size_t i = 0; i + 1 < e.argv.size(); ++i) {
        if (e.argv[i] == "-ldev_id") out.push_back(e.argv[i + 1]);
      }
    }
    return out;
  }
};

TEST_F(Operations, PrepareRunsGroupsInControlHostOrderAndFolds) {
  addSourceDevice(300, 7);
  addSourceDevice(301, 2);
  addSourceDevice(302, 5);
  addSourceDevice(303, 2);
  ASSERT_EQ(0, zrso_prepareDevices(snaps(), count(), &os)) << devices[1]->errorText();
  EXPECT_EQ((std::vector<int>{1, 1, 1, 1}), statuses());
  // Groups 2, 5, 7; within a group the array order.
  EXPECT_EQ((std::vector<std::string>{"301", "303", "302", "300"}), addedLdevs());
  EXPECT_NE(std::string::npos, devices[0]->metadata(6).find("1S:412345**3L:300**"));
  EXPECT_EQ("HITACHI", devices[0]->metadata(71));
  EXPECT_TRUE(os.clones().empty());  // no GAD: nothing cloned
}

// The records of both groups' jobs outlive everything the call does
// after them and are closed as it returns.
TEST_F(Operations, TheJobsRecordsCloseAsTheCallReturns) {
  auto& first = static_cast<RecordCounter&>(
      addSourceDevice(300, 2, std::unique_ptr<FakeSnapInfo>(new RecordCounter)));
  addSourceDevice(301, 5);
  ASSERT_EQ(0, zrso_prepareDevices(snaps(), count(), &os)) << devices[1]->errorText();
  EXPECT_EQ(2, first.atLastRead);
  EXPECT_EQ(0, openRecords());
}

TEST_F(Operations, SecondOfThreeControlHostsFailsOnCreate) {
  addSourceDevice(300, 1);
  addSourceDevice(301, 2);
  addSourceDevice(302, 2);
  addSourceDevice(303, 3);
  ASSERT_EQ(0, zrso_prepareDevices(snaps(), count(), &os)) << devices[0]->errorText();
  devices[1]->setArrayDetailsText(details("wrong"));
  fx.clearJournal();
  EXPECT_EQ(2, zrso_snapDevices(snaps(), count(), &os));
  EXPECT_EQ((std::vector<int>{5, 6, 6, 6}), statuses());
  // The worker's own error stays; the entry point only logs its message.
  EXPECT_EQ(60001, devices[1]->errorCode());
  EXPECT_NE(std::string::npos, devices[1]->errorText().find("Error in Initializing"));
  EXPECT_TRUE(
      devices[0]->logged("zrso_snapDevices: Failed to Create Snap for the Control Host [2]"));
  EXPECT_EQ(0, devices[2]->errorCode());
  EXPECT_EQ(1u, raidcomCount("-snapshot_data create"));  // group 3 never ran
}

TEST_F(Operations, DeleteAfterCreateAndNothingToDeleteForUnpreparedDevices) {
  addSourceDevice(300, 1);
  addSourceDevice(301, 1);
  ASSERT_EQ(0, zrso_prepareDevices(snaps(), count(), &os)) << devices[0]->errorText();
  ASSERT_EQ(0, zrso_snapDevices(snaps(), count(), &os)) << devices[0]->errorText();
  FakeSnapInfo& fresh = addDevice();  // never prepared: nothing on the array
  fresh.setControlHostId(1);
  EXPECT_EQ(0, zrso_deleteSnaps(snaps(), count(), &os)) << devices[0]->errorText();
  EXPECT_EQ((std::vector<int>{20, 20, 20}), statuses());
  EXPECT_EQ(2u, raidcomCount("delete snapshot"));
}

TEST_F(Operations, ReconcileCountsFailedGroups) {
  addSourceDevice(300, 1);
  addSourceDevice(301, 1);
  addSourceDevice(302, 2);
  addSourceDevice(303, 2);
  addSourceDevice(304, 2);
  ASSERT_EQ(0, zrso_prepareDevices(snaps(), count(), &os)) << devices[0]->errorText();
  ASSERT_EQ(0, zrso_snapDevices(snaps(), count(), &os)) << devices[0]->errorText();
  devices[2]->setArrayDetailsText(details("wrong"));
  EXPECT_EQ(2, zrso_reconcileSnaps(snaps(), count(), &os));
  EXPECT_EQ(60298, devices[2]->errorCode());
  devices[0]->setArrayDetailsText(details("wrong"));
  EXPECT_EQ(1, zrso_reconcileSnaps(snaps(), count(), &os));
}

}  // namespace
