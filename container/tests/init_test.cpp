// Container initialisation: options and records from the host devices, every
// failure of init with its code and text, the operation-type switches, and
// the host-buffer and stored-value rules.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "array/HDSRaidcomImplementer.h"
#include "container/tests/support/HDSContainerTestBed.h"
#include "handler/HDSCommandHandler.h"

namespace {

class ContainerInit : public HDSContainerTestBed {};

// The fields init fills, in record order, joined by "|".
std::string describe(const ZRHDSSnapInfo& s) {
  const std::string f[] = {s.baseSerialNo,
                           s.vsmSerialNo,
                           s.baseDevNo,
                           s.vsmDevNo,
                           s.snapMu,
                           s.rcuBaseSerialNo,
                           s.rcuVsmSerialNo,
                           s.rcuBaseDevNo,
                           s.rcuVsmDevNo,
                           s.snapshotGroup,
                           std::to_string(s.capacity),
                           std::to_string(s.replicationMu),
                           std::to_string(s.replicationType),
                           s.svolLabel,
                           s.sourceDevice,
                           s.snapLdevId,
                           s.snapOriginalState};
  std::string out;
  for (const std::string& v : f) out += (out.empty() && &v == f ? "" : "|") + v;
  return out;
}

struct InitFailure {
  const char* name;
  OperationType type;
  std::function<void(ContainerInit&, FakeSnapInfo&)> arrange;
  int code;
  const char* text;
};

TEST_F(ContainerInit, FailureTable) {
  const InitFailure rows[] = {
      {"no array details", OPERATION_TYPE_PREPARE,
       [](ContainerInit&, FakeSnapInfo& d) { d.setArrayDetailsText(""); }, 1,
       "Failed to get Snap Configuration for the array."},
      {"metadata unreadable", OPERATION_TYPE_CREATE,
       [](ContainerInit&, FakeSnapInfo& d) { d.failOn("getMetadata"); }, 2,
       "Failed to get Snap Unique details from metadata."},
      {"cascaded clone without Thin Image", OPERATION_TYPE_PREPARE,
       [](ContainerInit&, FakeSnapInfo& d) {
         d.setArrayDetailsText(details("secret", 20));
         d.setSnapConfigIntValue("SMCONFIG_NAME_PERFORM_CASCADE_SNAP", 1);
       },
       17, "Cascaded Clone is not supported currently with Targetless Snap engine."},
      {"VSM device without VSM options", OPERATION_TYPE_PREPARE,
       [](ContainerInit&, FakeSnapInfo& d) {
         d.setMetadataText(HDS_METADATA_UNIQUE, "1S:412345**2VS:500001**3L:256**");
       },
       17, "Failed to verify VSM flag."},
      {"subclient id unreadable", OPERATION_TYPE_PREPARE,
       [](ContainerInit&, FakeSnapInfo& d) { d.failOn("getValueInt"); }, 17,
       "Failed to get Subclient ID."},
      {"array login refused", OPERATION_TYPE_PREPARE,
       [](ContainerInit&, FakeSnapInfo& d) { d.setArrayDetailsText(details("wrong")); }, 62602,
       "Failed to login into array."},
  };
  for (const InitFailure& r : rows) {
    SCOPED_TRACE(r.name);
    devices.clear();
    FakeSnapInfo& d = addSource(256);
    r.arrange(*this, d);
    auto c = make(r.type);
    EXPECT_FALSE(c->IsInitialized());
    bool flag = true;
    c->getIsInitializedStatus(flag);
    EXPECT_FALSE(flag);
    EXPECT_EQ(r.code, error(*c).first);
    EXPECT_EQ(r.text, error(*c).second);
  }
}

TEST_F(ContainerInit, RecordsAndOptionsFromTheDevices) {
  const std::string instance = startInstance();
  FakeSnapInfo& a = addDevice();  // no unique metadata at all
  a.setMetadataText(HDS_METADATA_HORCM_INSTANCE, instance);
  FakeSnapInfo& b = addSource(257);
  b.setMetadataText(HDS_METADATA_UNIQUE,
                    "1S:412345**3L:257**5M:M8S**13SM:3**6RS:412999**7RVS:500777**8RL:70**"
                    "9RVL:71**10SG:QB_12_5_A**11C:4194304**12P:CL3-B**15RM:2**");
  b.setReplicationType(2);
  FakeSnapInfo& c3 = addSource(258);
  c3.setMetadataText(HDS_METADATA_UNIQUE, "1S:412345**3L:258**5M:OTHER**12P:CL9-Z**");
  a.setSnapName("daily");

  auto c = make(OPERATION_TYPE_CREATE);
  ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
  const std::vector<ZRHDSSnapInfo>& s = c->getSnapInfoList();
  ASSERT_EQ(3u, s.size());
  EXPECT_EQ(&a, s[0].snapInfo);
  // The target fields stay empty: the map operations fill them.
  EXPECT_EQ("||||||||||0|-1|0|QB_SVOL_daily|/dev/sde||", describe(s[0]));
  EXPECT_EQ("412345||257||3|412999|500777|70|71|QB_12_5_A|4194304|2|2|QB_SVOL_snap2|/dev/sdf||",
            describe(s[1]));
  ZRHDSSnapOptions o;
  c->getSnapOption(o);
  // Model and pre-snap port of the first device that has one; the first
  // record has no group, so the job's base name.
  EXPECT_EQ("M8S|CL3-B|QB_12|412345|1", o.modelNo + "|" + o.preSnapPort + "|" + o.snapshotGroup +
                                            "|" + o.arrayId + "|" + std::to_string(o.isHTI));
  short engine = 0;
  c->getSnapEngineTypeInUse(engine);
  EXPECT_EQ(73, engine);
}

TEST_F(ContainerInit, TypesThatReadLess) {
  // Reconcile never asks for the subclient, nor names a missing group.
  addSource(256);
  auto reconcile = make(OPERATION_TYPE_RECONCILE);
  ASSERT_TRUE(reconcile->IsInitialized()) << error(*reconcile).second;
  EXPECT_EQ(0, devices[0]->callCount("getValueInt"));
  EXPECT_EQ("", Peer::options(*reconcile).snapshotGroup);
  reconcile.reset();
  // No Thin Image pool configured: the properties read fails after the
  // credentials were read; the remote prepare goes on without it.
  devices[0]->setSnapConfigText("SMCONFIG_NAME_TI_POOL_NAME_FOR_SVOLS", "");
  EXPECT_EQ(1, error(*make(OPERATION_TYPE_PREPARE)).first);
  auto c = make(OPERATION_TYPE_PREPARE_REMOTE);
  EXPECT_TRUE(c->IsInitialized()) << error(*c).second;
}

TEST_F(ContainerInit, ResourceGroupSetting) {
  startInstance();
  addSource(256);
  fx.addResourceGroup(kSerial, "rg_backup", 3);
  setStringSetting("sZRHDSResourceGroup_412345", "");
  auto empty = make(OPERATION_TYPE_CREATE);
  // An empty value is no setting: the array's default group stays.
  EXPECT_EQ(ZR_HDS_META_RESOURCE, Peer::options(*empty).resourceGroup);
  empty.reset();
  setStringSetting("sZRHDSResourceGroup_412345", "rg_backup");
  auto set = make(OPERATION_TYPE_CREATE);
  EXPECT_EQ("rg_backup", Peer::options(*set).resourceGroup);
  EXPECT_TRUE(
      devices[0]->logged("HDS Resource Group name read from registry, value = [rg_backup]"));
}

TEST_F(ContainerInit, HostTextsAreTerminatedWithinTheirBuffers) {
  startInstance();
  FakeSnapInfo& d = addSource(256);
  d.setSnapName(std::string(2000, 'n'));
  d.setSourceDevicePathText(std::string(2000, 'p'));
  d.setFillWholeBuffer(true);
  auto c = make(OPERATION_TYPE_CREATE);
  const ZRHDSSnapInfo& s = Peer::snaps(*c).front();
  EXPECT_EQ(std::string("QB_SVOL_") + std::string(1023, 'n'), s.svolLabel);
  EXPECT_EQ(std::string(1023, 'p'), s.sourceDevice);
}

TEST_F(ContainerInit, QMarkerCheckKeepsTheLastNamedHorcmInstance) {
  // The instance used at create time exists and runs.
  addSource(256);
  std::string inUse;
  {
    auto prepare = make(OPERATION_TYPE_PREPARE);
    ASSERT_TRUE(prepare->IsInitialized()) << error(*prepare).second;
    inUse = Peer::options(*prepare).horcmInst;
  }
  ASSERT_FALSE(inUse.empty());
  FakeSnapInfo& a = *devices[0];
  FakeSnapInfo& b = addSource(257);
  FakeSnapInfo& c3 = addSource(258);
  for (FakeSnapInfo* d : {&a, &b, &c3}) {
    d->setMetadataText(HDS_METADATA_UNIQUE_OTHER, d->metadata(HDS_METADATA_UNIQUE));
  }
  a.setMetadataText(HDS_METADATA_REPLICATION, "18MC:412345**19MP:256**20QM:0100**21MH:3500**");
  b.setMetadataText(HDS_METADATA_REPLICATION,
                    "18MC:412345**19MP:257**20QM:0100**21MH:" + inUse + "**");
  c3.setMetadataText(HDS_METADATA_REPLICATION, "18MC:412345**19MP:258**20QM:0100**21MH:**");
  auto c = make(OPERATION_TYPE_QMARKER_COMMIT);
  EXPECT_TRUE(c->IsInitialized()) << error(*c).second;
  EXPECT_EQ(inUse, Peer::options(*c).horcmInst);
}

// Stands for an array layer that found the stored instance unusable and
// chose another: it starts out with instance 3531 instead of the stored one.
class ChoosingImplementer : public ZRHDSRaidcomImplementer {
 public:
  ChoosingImplementer(ZRSO::SnapInfo*& logger, ZRHDSCommandHandlerInputParams& params)
      : ZRHDSRaidcomImplementer(logger, choose(params)) {}

 private:
  static ZRHDSCommandHandlerInputParams& choose(ZRHDSCommandHandlerInputParams& params) {
    params.options.horcmInst = "3531";
    return params;
  }
};

TEST_F(ContainerInit, ANewlyChosenHorcmInstanceIsWrittenBack) {
  fx.writeHorcmFile(3531, ZRHDSCommandImplementer::getLocalHostName(), kSerial, {"/dev/sdc"});
  FakeSnapInfo& a = addSource(256);
  FakeSnapInfo& b = addSource(257);
  a.setMetadataText(HDS_METADATA_HORCM_INSTANCE, "3599");
  b.setMetadataText(HDS_METADATA_HORCM_INSTANCE, "3531");
  ZRHDSCommandHandler::setDefaultImplementerFactory(
      [](ZRSO::SnapInfo*& logger, ZRHDSCommandHandlerInputParams& params) {
        return std::unique_ptr<ZRHDSCommandImplementer>(new ChoosingImplementer(logger, params));
      });
  auto c = make(OPERATION_TYPE_PREPARE);
  ZRHDSCommandHandler::setDefaultImplementerFactory(nullptr);
  ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
  EXPECT_EQ("3531", a.metadata(HDS_METADATA_HORCM_INSTANCE));
  EXPECT_EQ("3531", b.metadata(HDS_METADATA_HORCM_INSTANCE));
  EXPECT_EQ(1, a.callCount("setMetadataByType"));
  EXPECT_EQ(0, b.callCount("setMetadataByType"));
}

// A host object that throws when its stored HORCM instance is read again
// after the login (the first read is the check of the stored records).
class ThrowingInstanceRead : public FakeSnapInfo {
 public:
  int getMetadata(int id, char* buffer, short* length) override {
    if (id == HDS_METADATA_HORCM_INSTANCE && ++m_reads > 1) {
      throw std::runtime_error("host object fault");
    }
    return FakeSnapInfo::getMetadata(id, buffer, length);
  }

 private:
  int m_reads = 0;
};

TEST_F(ContainerInit, AHostFaultAfterTheLoginStillLogsOut) {
  addSource(256);
  addSource(257, std::make_unique<ThrowingInstanceRead>());
  EXPECT_THROW(make(OPERATION_TYPE_PREPARE), std::runtime_error);
  EXPECT_EQ(1u, raidcomCount("-login"));
  EXPECT_EQ(1u, raidcomCount("-logout"));
}

TEST_F(ContainerInit, OperationTypeSwitches) {
  addSource(256);
  addSource(257);
  auto c = make(OPERATION_TYPE_UNMAP);
  ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
  for (auto& d : devices) d->setStatus(ZRSO::SNAP_STATUS_UNMAPPED);
  c->setOperationType(OPERATION_TYPE_UNMAP_SECOND);
  for (auto& d : devices) EXPECT_EQ(ZRSO::SNAP_STATUS_UNMAP_PENDING, d->getStatus());

  EXPECT_FALSE(c->IsGADEnabled());
  c.reset();
  auto seg = make(OPERATION_TYPE_SEGREGATE);
  EXPECT_TRUE(seg->IsGADEnabled());
  seg.reset();
  devices[0]->setSnapConfigIntValue("SMCONFIG_NAME_HDS_DISABLE_GAD_OPERATION", 1);
  auto off = make(OPERATION_TYPE_SEGREGATE);
  EXPECT_FALSE(off->IsGADEnabled());
}

}  // namespace
