// What a stored record may name: tampered, cut or stale records read back
// from the host, on the simulator with a second job's objects beside the
// job's. Nothing a record names is changed on the array before it is proved
// to be the job's; a refused device carries a code and a text naming the
// record and the value, and its record stays as stored.
#include <string>
#include <vector>

#include "container/tests/support/HDSContainerTestBed.h"

namespace {

// The record text with key's value replaced (or the entry added).
std::string withValue(const std::string& text, const std::string& key, const std::string& value) {
  const std::string entry = key + ":";
  size_t at = text.rfind("**" + entry) != std::string::npos ? text.rfind("**" + entry) + 2
              : text.rfind(entry, 0) == 0                  ? 0
                                                           : std::string::npos;
  if (at == std::string::npos) return text + entry + value + "**";
  const size_t end = text.find("**", at);
  return text.substr(0, at) + entry + value + text.substr(end);
}

// Commands that change an LU path, a label, an association or an LDEV.
const char* const kChanging[] = {"delete lun", "add lun",       "modify ldev", "delete ldev",
                                 "map snapshot", "unmap snapshot", "delete snapshot",
                                 "modify snapshot"};

class ContainerTrust : public HDSContainerTestBed {
 protected:
  void SetUp() override {
    // Another job's source 300, its pair and S-VOL 700 presented through
    // CL1-A-1, and an administrator's LDEV 800 there too.
    ccisim::Ldev other;
    other.id = 700;
    other.capacity = 2097152;
    other.attrs = {"CVS", "HDP"};
    other.poolId = "5";
    other.label = "QB_SVOL_otherjob";
    fx.addLdev(kSerial, other);
    ccisim::Ldev admin = other;
    admin.id = 800;
    admin.label = "adminvol";
    fx.addLdev(kSerial, admin);
    fx.addSourceLdev(kSerial, 300, 2097152, 0, "other_src");
    fx.addSnapshotPair(kSerial, "QB_99_5_1F_AAAA", 300, kPool, "PSUS", false, 700);
    fx.addLun(kSerial, "CL1-A", 1, 40, 700);
    fx.addLun(kSerial, "CL1-A", 1, 41, 800);
    addMappableSources();
  }
  // Prepared, created, assigned and mapped to CL1-A-1.
  void mapped() {
    prepareAndCreate();
    auto c = make(OPERATION_TYPE_MAP);
    ASSERT_EQ(1, c->Assign()) << error(*c).second;
    ASSERT_EQ(1, c->Map({})) << error(*c).second;
    fx.clearJournal();
  }
  size_t changingCommands() const {
    size_t n = 0;
    for (const char* c : kChanging) n += raidcomCount(c);
    return n;
  }
  // LU paths of ldev on CL1-A-1.
  int paths(int ldev) {
    int n = 0;
    const ccisim::State state = fx.load();
    for (const auto& lun : state.array(kSerial)->hostGroup("CL1-A", 1)->luns) {
      n += lun.second == ldev ? 1 : 0;
    }
    return n;
  }
  // The value of key in device i's map record 65.
  std::string mapped(size_t i, const std::string& key) {
    const std::string text = devices[i]->metadata(HDS_METADATA_SNAP_MAP_FIRST);
    const size_t at = text.find(key + ":");
    if (at == std::string::npos) return "";
    const size_t from = at + key.size() + 1;
    return text.substr(from, text.find("**", from) - from);
  }
  std::string label(int ldev) {
    const ccisim::State state = fx.load();
    return state.array(kSerial)->ldev(ldev).label;
  }
  void expectRefused(size_t device, const std::string& record, const std::string& value) {
    const std::string text = devices[device]->errorText();
    EXPECT_EQ(ZR_HDS_ERR_STORED_RECORD, devices[device]->errorCode()) << text;
    EXPECT_NE(std::string::npos, text.find(record)) << text;
    EXPECT_NE(std::string::npos, text.find(value)) << text;
  }
};

// Unmap trusted "22LI": with the record naming the job's own source, its LU
// path was deleted and the call reported success.
TEST_F(ContainerTrust, UnmapActsOnAStoredTargetOnlyOnceItIsProvedTheJobs) {
  mapped();
  const std::string before = devices[0]->metadata(HDS_METADATA_SNAP_MAP_FIRST);
  const std::string svol = mapped(0, "22LI");
  for (const char* hostile : {"256", "257", "700", "800"}) {
    SCOPED_TRACE(hostile);
    devices[0]->setMetadataText(HDS_METADATA_SNAP_MAP_FIRST, withValue(before, "22LI", hostile));
    const std::string stored = devices[0]->metadata(HDS_METADATA_SNAP_MAP_FIRST);
    devices[0]->setError(0, "");
    fx.clearJournal();
    auto c = make(OPERATION_TYPE_UNMAP);
    EXPECT_EQ(0, c->Unmap());
    EXPECT_EQ(0u, changingCommands());
    expectRefused(0, "metadata 65", std::string("22LI holds [") + hostile + "]");
    EXPECT_EQ(stored, devices[0]->metadata(HDS_METADATA_SNAP_MAP_FIRST));
    EXPECT_EQ(1, paths(std::stoi(hostile)));
    EXPECT_EQ(1, paths(std::stoi(svol)));
  }
  // The record as written reads and unmaps.
  devices[0]->setMetadataText(HDS_METADATA_SNAP_MAP_FIRST, before);
  auto c = make(OPERATION_TYPE_UNMAP);
  EXPECT_EQ(1, c->Unmap()) << error(*c).second;
  EXPECT_EQ(0, paths(std::stoi(svol)));
  EXPECT_EQ(1, paths(700));
  EXPECT_EQ(1, paths(800));
}

// A map record longer than the host's buffer read as "no target": unmap
// reported success and emptied it while the S-VOL stayed mapped.
TEST_F(ContainerTrust, MapRecordCutAtTheBufferIsRefusedAndKept) {
  mapped();
  const std::string svol = mapped(1, "22LI");
  const std::string cut = withValue(devices[1]->metadata(HDS_METADATA_SNAP_MAP_FIRST), "17HG",
                                    "CL1-A-1," + std::string(5000, 'G'));
  devices[1]->setMetadataText(HDS_METADATA_SNAP_MAP_FIRST, cut);
  auto c = make(OPERATION_TYPE_UNMAP);
  EXPECT_EQ(0, c->Unmap());
  EXPECT_EQ(0u, changingCommands());
  expectRefused(1, "metadata 65", "cut at the host's buffer");
  EXPECT_EQ(cut, devices[1]->metadata(HDS_METADATA_SNAP_MAP_FIRST));
  EXPECT_EQ(1, paths(std::stoi(svol)));
}

// "17HG" was checked only for printable characters: a hostile value reached
// "raidcom get lun -port" and the job failed with the array's error. It is
// refused where the record is read, before any LU path is listed.
TEST_F(ContainerTrust, MappedHostGroupsOfAnotherShapeAreRefusedBeforeAnyListing) {
  mapped();
  const std::string good = devices[1]->metadata(HDS_METADATA_SNAP_MAP_FIRST);
  const std::string svol = mapped(1, "22LI");
  const std::pair<OperationType, std::string> rows[] = {
      {OPERATION_TYPE_UNMAP, "x1"},     {OPERATION_TYPE_UNMAP, "CL1-A-1;touch x"},
      {OPERATION_TYPE_UNMAP, "-1"},     {OPERATION_TYPE_UNMAP, "CL1-A-1,CL1"},
      {OPERATION_TYPE_MAP, "99999999"}, {OPERATION_TYPE_MAP, "CL1-A-999"},
      {OPERATION_TYPE_DELETE, "CL1-A"}, {OPERATION_TYPE_DELETE, "$(id)-1"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.second);
    const std::string text = withValue(good, "17HG", r.second);
    devices[1]->setMetadataText(HDS_METADATA_SNAP_MAP_FIRST, text);
    devices[1]->setError(0, "");
    fx.clearJournal();
    auto c = make(r.first);
    ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
    EXPECT_EQ(0, r.first == OPERATION_TYPE_UNMAP ? c->Unmap()
                 : r.first == OPERATION_TYPE_MAP ? c->Assign()
                                                 : c->Delete());
    expectRefused(1, "metadata 65", "17HG holds [" + r.second + "]");
    EXPECT_EQ(0u, raidcomCount("get lun"));
    EXPECT_EQ(0u, changingCommands());
    EXPECT_EQ(text, devices[1]->metadata(HDS_METADATA_SNAP_MAP_FIRST));
  }
  EXPECT_EQ(1, paths(std::stoi(svol)));
}

// Delete reported 20 while pair 256/MU 3 stayed, for records it could not
// read whole or whose values it could not have written.
TEST_F(ContainerTrust, DeleteOfAnUnreadableRecordFailsTheDeviceAndKeepsThePair) {
  prepareAndCreate();
  const std::string good = devices[0]->metadata(HDS_METADATA_UNIQUE);
  struct Row {
    std::string text;
    std::string said;
  };
  const std::vector<Row> rows = {
      {withValue(good, "13SM", "x"), "13SM holds [x]"},
      {withValue(good, "13SM", "-1"), "13SM holds [-1]"},
      {withValue(good, "13SM", "99999"), "13SM holds [99999]"},
      {withValue(good, "10SG", "QB_1;reboot"), "10SG holds [QB_1;reboot]"},
      {withValue(good, "10SG", std::string(5000, 'G')), "cut at the host's buffer"},
      {withValue(good, "10SG", "QB_" + std::string(800, 'G')), "10SG holds"},
      {withValue(good, "13SM", "3**junk"), "[junk]"},
      {good + "3L:257**", "key 3L twice"},
      {good + "11C:" + std::string(4200, '1') + "**", "cut at the host's buffer"},
      {withValue(good, "1S", "499999"), "1S holds [499999]"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.said);
    devices[0]->setMetadataText(HDS_METADATA_UNIQUE, r.text);
    devices[0]->setError(0, "");
    for (auto& d : devices) d->setStatus(ZRSO::SNAP_STATUS_DELETE_PENDING);
    fx.clearJournal();
    auto c = make(OPERATION_TYPE_DELETE);
    EXPECT_FALSE(c->IsInitialized() && c->Delete() == 1);
    EXPECT_EQ(0u, changingCommands());
    EXPECT_EQ(ZRSO::SNAP_STATUS_DELETE_PENDING, devices[0]->getStatus());
    expectRefused(0, "metadata 6", r.said);
    EXPECT_EQ(r.text, devices[0]->metadata(HDS_METADATA_UNIQUE));
  }
  EXPECT_EQ(3u, fx.load().array(kSerial)->pairs.size());
}

// Delete with 3L naming another job's source, or 10SG another job's group,
// left status 21 with error 0 and no text.
TEST_F(ContainerTrust, DeleteThatCannotProveThePairGoneSaysWhy) {
  prepareAndCreate();
  const std::string good = devices[0]->metadata(HDS_METADATA_UNIQUE);
  for (const std::string& text :
       {withValue(good, "3L", "300"), withValue(good, "10SG", "QB_99_5_1F_AAAA"),
        withValue(good, "10SG", "QB_12_5_1F_0")}) {
    SCOPED_TRACE(text);
    devices[0]->setMetadataText(HDS_METADATA_UNIQUE, text);
    devices[0]->setError(0, "");
    for (auto& d : devices) d->setStatus(ZRSO::SNAP_STATUS_DELETE_PENDING);
    auto c = make(OPERATION_TYPE_DELETE);
    ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
    EXPECT_EQ(0, c->Delete());
    EXPECT_EQ(ZRSO::SNAP_STATUS_DELETE_PENDING, devices[0]->getStatus());
    EXPECT_EQ(ZR_HDS_ERR_STORED_RECORD, devices[0]->errorCode());
    EXPECT_NE(std::string::npos, devices[0]->errorText().find("10SG")) << devices[0]->errorText();
    EXPECT_NE(0, error(*c).first);
    EXPECT_NE(nullptr, fx.load().array(kSerial)->pair(300, 3));
    EXPECT_EQ(700, fx.load().array(kSerial)->pair(300, 3)->svol);
  }
  EXPECT_EQ(1, paths(700));
}

// Found by the tampered-record matrix: with "3L" naming another job's
// source, assign took that job's associated S-VOL for the device's and
// relabelled it; with "10SG" naming another job's group, create stored that
// group's snapshot data. A pair is the device's only in its stored group.
TEST_F(ContainerTrust, AnotherJobsPairOrGroupIsNeverTakenForTheDevices) {
  prepareAndCreate();
  const std::string good = devices[1]->metadata(HDS_METADATA_UNIQUE);
  struct Row {
    OperationType type;
    std::string text;
  };
  const std::vector<Row> rows = {
      {OPERATION_TYPE_MAP, withValue(good, "3L", "300")},
      {OPERATION_TYPE_CREATE, withValue(good, "10SG", "QB_99_5_1F_AAAA")},
      {OPERATION_TYPE_REVERT, withValue(good, "10SG", "QB_99_5_1F_AAAA")},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.type);
    devices[1]->setMetadataText(HDS_METADATA_UNIQUE, r.text);
    devices[1]->setError(0, "");
    fx.clearJournal();
    auto c = make(r.type);
    ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
    const int done = r.type == OPERATION_TYPE_MAP      ? c->Assign()
                     : r.type == OPERATION_TYPE_CREATE ? c->Create()
                                                       : c->Revert();
    EXPECT_EQ(0, done);
    EXPECT_EQ(0u, changingCommands());
    EXPECT_EQ(ZR_HDS_ERR_STORED_RECORD, devices[1]->errorCode());
    EXPECT_NE(std::string::npos, devices[1]->errorText().find("QB_99_5_1F_AAAA"))
        << devices[1]->errorText();
  }
  EXPECT_EQ("QB_SVOL_otherjob", label(700));
  EXPECT_EQ("PSUS", fx.load().array(kSerial)->pair(300, 3)->state);
}

// "1S" naming another array: revert restored on the bound array and
// reported 22; every operation compares it with the bound array.
TEST_F(ContainerTrust, EveryOperationRefusesARecordOfAnotherArray) {
  prepareAndCreate();
  const std::string good = devices[1]->metadata(HDS_METADATA_UNIQUE);
  devices[1]->setMetadataText(HDS_METADATA_UNIQUE, withValue(good, "1S", "499999"));
  for (OperationType type : {OPERATION_TYPE_CREATE, OPERATION_TYPE_REVERT, OPERATION_TYPE_RECONCILE,
                             OPERATION_TYPE_MAP, OPERATION_TYPE_UNMAP, OPERATION_TYPE_DELETE}) {
    SCOPED_TRACE(type);
    devices[1]->setError(0, "");
    fx.clearJournal();
    auto c = make(type);
    EXPECT_FALSE(c->IsInitialized());
    EXPECT_EQ(ZR_HDS_ERR_STORED_RECORD, error(*c).first);
    expectRefused(1, "metadata 6", "1S holds [499999], not the array [412345]");
    EXPECT_EQ(0u, changingCommands());
    EXPECT_EQ(0u, raidcomCount("restore"));
  }
}

// Two devices whose records name one source stand for one pair: deleting
// it for both left the other's pair behind.
TEST_F(ContainerTrust, TwoRecordsNamingOneSourceAreRefused) {
  prepareAndCreate();
  devices[1]->setMetadataText(HDS_METADATA_UNIQUE, devices[0]->metadata(HDS_METADATA_UNIQUE));
  auto c = make(OPERATION_TYPE_DELETE);
  EXPECT_FALSE(c->IsInitialized());
  expectRefused(1, "metadata 6", "the source of another device of this call");
}

// The S-VOL the job created keeps the job's label until it is gone, so that
// one whose deletion fails is still found as the job's.
TEST_F(ContainerTrust, AnSvolWhoseDeletionFailsKeepsTheJobsLabel) {
  mapped();
  const std::string svol = mapped(0, "22LI");
  ASSERT_EQ("NEWDEV", mapped(0, "23OS"));
  const std::string labelled = label(std::stoi(svol));
  fx.addFault(ccisim::Fault::fail("raidcom", "delete ldev -ldev_id " + svol, 1, "refused", -1));
  auto c = make(OPERATION_TYPE_UNMAP);
  ASSERT_EQ(1, c->Unmap()) << error(*c).second;
  EXPECT_EQ(0, c->Unassign());
  EXPECT_EQ(labelled, label(std::stoi(svol)));
  EXPECT_EQ(0u, raidcomCount("modify ldev -ldev_id " + svol));
}

}  // namespace
