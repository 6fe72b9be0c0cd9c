// Metadata writers: the exact bytes of every record with each conditional
// key, read back through the stored-metadata readers, and every failure of a
// write (host refusal, a value the codec cannot carry, a record too long to
// be kept whole, the array binding).
#include <functional>
#include <string>
#include <vector>

#include "container/tests/support/HDSContainerTestBed.h"
#include "util/HDSCLIUtils.h"

namespace {

class ContainerWriters : public HDSContainerTestBed {
 public:
  using HDSContainerTestBed::devices;

  // An initialised prepare container over sources 256 and 257, the records
  // as a prepare leaves them.
  std::unique_ptr<ZRHDSInfoContainer> prepared(OperationType type = OPERATION_TYPE_PREPARE) {
    startInstance();
    addSource(256);
    addSource(257);
    auto c = make(type);
    EXPECT_TRUE(c->IsInitialized()) << error(*c).second;
    ZRHDSSnapOptions& o = Peer::options(*c);
    o.preSnapPort = "CL1-A";
    for (ZRHDSSnapInfo& s : Peer::snaps(*c)) {
      s.snapMu = s.baseDevNo == "256" ? "3" : "4";
      s.snapshotGroup = "QB_12_5_1F_A";
      s.capacity = 2097152;
    }
    return c;
  }
  ZRHDSSnapInfo& first(ZRHDSInfoContainer& c) { return Peer::snaps(c).front(); }
  void setPartner(ZRHDSSnapInfo& s, const std::string& vsmSerial, const std::string& vsmLdev) {
    s.rcuBaseSerialNo = "412999";
    s.rcuBaseDevNo = "70";
    s.rcuVsmSerialNo = vsmSerial;
    s.rcuVsmDevNo = vsmLdev;
  }
  void setVsm(ZRHDSInfoContainer& c) {
    Peer::options(c).isVSM = true;
    first(c).vsmSerialNo = "500001";
    first(c).vsmDevNo = "10";
  }
};

struct Golden {
  const char* name;
  std::function<void(ContainerWriters&, ZRHDSInfoContainer&)> arrange;
  std::function<int(ZRHDSInfoContainer&)> write;
  const char* text;  // metadata 6 of the first device
  bool partnerView;  // base and partner swapped
};

int prepareWriter(ZRHDSInfoContainer& c) { return c.savePrepareMetadata(); }
int gadWriter(ZRHDSInfoContainer& c) { return c.saveGADPairInfo(); }
int remoteWriter(ZRHDSInfoContainer& c) { return c.saveRemoteMetadata(); }
int virtualWriter(ZRHDSInfoContainer& c) { return c.saveRemoteVirtualCheckMetadata(); }
void nothing(ContainerWriters&, ZRHDSInfoContainer&) {}

TEST_F(ContainerWriters, GoldenBytesOfEachConditionalKey) {
  using W = ContainerWriters;
  const Golden rows[] = {
      {"prepare, plain", nothing, prepareWriter,
       "1S:412345**3L:256**5M:M8S**13SM:3**6RS:**8RL:**10SG:QB_12_5_1F_A**11C:2097152**"
       "12P:CL1-A**",
       false},
      {"prepare, VSM", [](W& t, ZRHDSInfoContainer& c) { t.setVsm(c); }, prepareWriter,
       "1S:412345**3L:256**5M:M8S**13SM:3**6RS:**8RL:**10SG:QB_12_5_1F_A**11C:2097152**"
       "12P:CL1-A**2VS:500001**4VL:10**",
       false},
      {"prepare, partner in a VSM",
       [](W& t, ZRHDSInfoContainer& c) { t.setPartner(t.first(c), "500002", "71"); }, prepareWriter,
       "1S:412345**3L:256**5M:M8S**13SM:3**6RS:412999**8RL:70**10SG:QB_12_5_1F_A**"
       "11C:2097152**12P:CL1-A**7RVS:500002**9RVL:71**",
       false},
      {"prepare, partner's virtual serial is its own",
       [](W& t, ZRHDSInfoContainer& c) { t.setPartner(t.first(c), "412999", "70"); }, prepareWriter,
       "1S:412345**3L:256**5M:M8S**13SM:3**6RS:412999**8RL:70**10SG:QB_12_5_1F_A**"
       "11C:2097152**12P:CL1-A**",
       false},
      {"prepare, capacity 0", [](W& t, ZRHDSInfoContainer& c) { t.first(c).capacity = 0; },
       prepareWriter,
       "1S:412345**3L:256**5M:M8S**13SM:3**6RS:**8RL:**10SG:QB_12_5_1F_A**11C:0**"
       "12P:CL1-A**",
       false},
      {"GAD, partner LDEV's virtual id alone",
       [](W& t, ZRHDSInfoContainer& c) { t.setPartner(t.first(c), "", "71"); }, gadWriter,
       "1S:412345**3L:256**5M:M8S**6RS:412999**8RL:70**9RVL:71**", false},
      {"GAD, S-VOL side active, VSM",
       [](W& t, ZRHDSInfoContainer& c) {
         t.setVsm(c);
         t.setPartner(t.first(c), "500001", "");
         t.first(c).gadSide = 2;
       },
       gadWriter,
       "1S:412345**3L:256**5M:M8S**6RS:412999**8RL:70**7RVS:500001**2VS:500001**4VL:10**"
       "14GS:2**",
       false},
      {"GAD, side 0", [](W& t, ZRHDSInfoContainer& c) { t.first(c).gadSide = 0; }, gadWriter,
       "1S:412345**3L:256**5M:M8S**6RS:**8RL:**", false},
      {"remote, partner view, no MU",
       [](W& t, ZRHDSInfoContainer& c) { t.setPartner(t.first(c), "", ""); }, remoteWriter,
       "1S:412999**3L:70**5M:M8S**6RS:412345**8RL:256**15RM:-1**", true},
      {"remote, VSM",
       [](W& t, ZRHDSInfoContainer& c) {
         t.setVsm(c);
         t.setPartner(t.first(c), "", "");
         t.first(c).replicationMu = 1;
       },
       remoteWriter,
       "1S:412999**3L:70**5M:M8S**6RS:412345**8RL:256**15RM:1**7RVS:500001**9RVL:10**", true},
      {"virtual check, not a VSM",
       [](W& t, ZRHDSInfoContainer& c) {
         t.setPartner(t.first(c), "", "");
         t.first(c).replicationMu = 0;
       },
       virtualWriter, "1S:412345**3L:256**5M:M8S**6RS:412999**8RL:70**15RM:0**", false},
      {"virtual check, both sides virtual",
       [](W& t, ZRHDSInfoContainer& c) {
         t.setVsm(c);
         t.setPartner(t.first(c), "500002", "71");
       },
       virtualWriter,
       "1S:412345**3L:256**5M:M8S**6RS:412999**8RL:70**15RM:-1**2VS:500001**4VL:10**"
       "7RVS:500002**9RVL:71**",
       false},
  };
  for (const Golden& r : rows) {
    SCOPED_TRACE(r.name);
    devices.clear();
    auto c = prepared();
    r.arrange(*this, *c);
    ASSERT_EQ(1, r.write(*c)) << error(*c).second;
    EXPECT_EQ(r.text, devices[0]->metadata(HDS_METADATA_UNIQUE));

    // The readers give back what was written.
    ZRHDSMetadataInfo md;
    md.initialize();
    ASSERT_EQ(1, ZRHDSCLIUtils::getInfoFromUniqueMetadata(devices[0].get(), md, false));
    std::string again;
    const ZRHDSSnapInfo& s = first(*c);
    if (r.partnerView) {
      EXPECT_EQ(s.rcuBaseSerialNo, md.baseSerialNo);
      EXPECT_EQ(s.baseDevNo, md.rcuBaseDevNo);
      EXPECT_EQ(std::to_string(s.replicationMu), md.replicationMu);
    } else {
      EXPECT_EQ(s.baseSerialNo, md.baseSerialNo);
      EXPECT_EQ(s.baseDevNo, md.baseDevNo);
      EXPECT_EQ(s.rcuBaseDevNo, md.rcuBaseDevNo);
    }
    EXPECT_EQ("M8S", md.modelNo);
  }
}

TEST_F(ContainerWriters, PrepareStoresTheInstanceAndEveryDevice) {
  auto c = prepared();
  ASSERT_EQ(1, c->savePrepareMetadata());
  const std::string instance = Peer::options(*c).horcmInst;
  ASSERT_FALSE(instance.empty());
  for (auto& d : devices) EXPECT_EQ(instance, d->metadata(HDS_METADATA_HORCM_INSTANCE));
  EXPECT_EQ(
      "1S:412345**3L:257**5M:M8S**13SM:4**6RS:**8RL:**10SG:QB_12_5_1F_A**11C:2097152**12P:CL1-A**",
      devices[1]->metadata(HDS_METADATA_UNIQUE));
  EXPECT_TRUE(devices[1]->logged("Generated metadata-[1S:412345**3L:257**"));
}

struct WriteFailure {
  const char* name;
  std::function<void(ContainerWriters&, ZRHDSInfoContainer&)> arrange;
};

TEST_F(ContainerWriters, AFailedWriteStopsAtThatDevice) {
  using W = ContainerWriters;
  const WriteFailure rows[] = {
      {"host refuses metadata 6",
       [](W& t, ZRHDSInfoContainer&) { t.devices[1]->failOn("setMetadata"); }},
      {"value holding the separator",
       [](W&, ZRHDSInfoContainer& c) { Peer::snaps(c)[1].snapshotGroup = "QB**3L:999"; }},
      {"value ending in a star",
       [](W&, ZRHDSInfoContainer& c) { Peer::snaps(c)[1].snapshotGroup = "QB_*"; }},
      {"record longer than the host keeps",
       [](W&, ZRHDSInfoContainer& c) { Peer::snaps(c)[1].snapshotGroup = std::string(4100, 'g'); }},
      {"host refuses metadata 75",
       [](W& t, ZRHDSInfoContainer&) { t.devices[1]->failOn("setMetadataByType"); }},
  };
  for (const WriteFailure& r : rows) {
    SCOPED_TRACE(r.name);
    devices.clear();
    auto c = prepared();
    const std::string stored = devices[1]->metadata(HDS_METADATA_UNIQUE);
    r.arrange(*this, *c);
    EXPECT_EQ(0, c->savePrepareMetadata());
    EXPECT_EQ(std::make_pair(62008, std::string("Failed to set HDS metadata.")), error(*c));
    // The device before keeps what was written; a refused text is never
    // stored in part.
    EXPECT_EQ(0u, devices[0]->metadata(HDS_METADATA_UNIQUE).find("1S:412345**3L:256**"));
    if (std::string(r.name) != "host refuses metadata 75") {
      EXPECT_EQ(stored, devices[1]->metadata(HDS_METADATA_UNIQUE));
    }
  }
}

TEST_F(ContainerWriters, RemoteWritersBindTheDeviceFirst) {
  // Replication kind as discovered -> type given to the host.
  const std::pair<int, int> kinds[] = {{1, 2}, {2, 1}, {4, 1}};
  for (const auto& k : kinds) {
    devices.clear();
    auto c = prepared();
    for (ZRHDSSnapInfo& s : Peer::snaps(*c)) {
      setPartner(s, "", "");
      s.replicationType = k.first;
    }
    ASSERT_EQ(1, c->saveRemoteMetadata());
    EXPECT_EQ(k.second, devices[0]->replicationType());
    auto calls = devices[0]->arrayInformationCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ("412999", calls[0].serial);
    EXPECT_EQ("412999", calls[0].secondSerial);
    EXPECT_EQ(1, calls[0].flag);
    // Flags only for the remote replication discovery itself.
    EXPECT_EQ(0u, devices[0]->snapFlags());
  }

  devices.clear();
  auto c = prepared();
  devices[1]->setArrayInformationResult(1);
  devices[1]->setReplicationType(4);
  EXPECT_EQ(0, c->saveRemoteMetadata());
  EXPECT_EQ(std::make_pair(62005, std::string("Failed to get the array information from DB.")),
            error(*c));
  EXPECT_EQ(4, devices[1]->replicationType());
  EXPECT_EQ(0, devices[1]->callCount("setMetadata"));
  EXPECT_TRUE(devices[1]->logged("Unable to get the array info from the DB."));

  c.reset();  // before the devices it borrows
  devices.clear();
  auto v = prepared();
  setVsm(*v);
  ASSERT_EQ(1, v->saveRemoteVirtualCheckMetadata());
  auto calls = devices[0]->arrayInformationCalls();
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ("500001", calls[0].serial);
  EXPECT_EQ("412345", calls[0].secondSerial);
  EXPECT_EQ("412345", devices[1]->arrayInformationCalls().at(0).serial);
}

TEST_F(ContainerWriters, RemoteDiscoverySetsTheSnapFlags) {
  startInstance();
  FakeSnapInfo& d = addSource(256);
  d.setMetadataText(HDS_METADATA_UNIQUE_OTHER, d.metadata(HDS_METADATA_UNIQUE));
  auto c = make(OPERATION_TYPE_REMOTE_REPL);
  ASSERT_TRUE(c->IsInitialized()) << error(*c).second;
  setPartner(first(*c), "", "");
  ASSERT_EQ(1, c->saveRemoteMetadata());
  EXPECT_EQ(0x8000000u | 0x2000000u, d.snapFlags());
  EXPECT_TRUE(d.logged("Setting ASYNC and POST-SNAP flags for SnapId-[101]"));
}

TEST_F(ContainerWriters, PartnerSideRecordRoundTrip) {
  // What the remote writer stores on this side is the partner side's
  // record (metadata 82) of a later Q-marker check or remote discovery.
  auto c = prepared();
  for (ZRHDSSnapInfo& s : Peer::snaps(*c)) {
    s.rcuBaseSerialNo = kSerial;  // the partner is the same simulated array
    s.rcuBaseDevNo = s.baseDevNo == "256" ? "300" : "301";
    s.replicationMu = 1;
  }
  ASSERT_EQ(1, c->saveRemoteMetadata());
  c.reset();
  for (auto& d : devices) {
    d->setMetadataText(HDS_METADATA_UNIQUE_OTHER, d->metadata(HDS_METADATA_UNIQUE));
    d->setMetadataText(HDS_METADATA_UNIQUE, "1S:1**3L:1**");
  }
  auto remote = make(OPERATION_TYPE_REMOTE_REPL);
  ASSERT_TRUE(remote->IsInitialized()) << error(*remote).second;
  const ZRHDSSnapInfo& s = remote->getSnapInfoList().at(1);
  EXPECT_EQ(kSerial, s.baseSerialNo);
  EXPECT_EQ("301", s.baseDevNo);
  EXPECT_EQ("257", s.rcuBaseDevNo);
  EXPECT_EQ(1, s.replicationMu);
}

TEST_F(ContainerWriters, MapRecordsRoundTrip) {
  auto c = prepared(OPERATION_TYPE_MAP);
  ZRHDSSnapInfo& s = first(*c);
  s.snapOriginalName = "old name";
  s.snapLdevId = "300";
  s.snapVirLdevId = "";
  s.snapOriginalState = ZR_HDS_SNAP_ORIGINAL_STATE_NEW;
  for (int id : {HDS_METADATA_SNAP_MAP_FIRST, HDS_METADATA_SNAP_MAP}) {
    ASSERT_TRUE(Peer::writeMapRecord(*c, s, id, true, "CL1-A-1,CL2-B-3"));
    EXPECT_EQ("16ON:old name**22LI:300**24VI:**23OS:NEWDEV**17HG:CL1-A-1,CL2-B-3**",
              devices[0]->metadata(id));
    ZRHDSMetadataInfo md;
    md.initialize();
    ASSERT_EQ(1, ZRHDSCLIUtils::getInfoFromHostGroupMetadata(devices[0].get(), id, md));
    EXPECT_EQ("old name", md.snapOriginalName);
    EXPECT_EQ("300", md.snapLdevId);
    EXPECT_EQ("NEWDEV", md.snapOriginalState);
    EXPECT_EQ("CL1-A-1,CL2-B-3", md.mappedHostGroups);
  }
  ASSERT_TRUE(Peer::writeMapRecord(*c, s, HDS_METADATA_SNAP_MAP, false, ""));
  EXPECT_EQ("16ON:old name**22LI:300**24VI:**23OS:NEWDEV**",
            devices[0]->metadata(HDS_METADATA_SNAP_MAP));
  // A label that would run into the separator is never stored.
  s.snapOriginalName = "lab**22LI:1";
  EXPECT_FALSE(Peer::writeMapRecord(*c, s, HDS_METADATA_SNAP_MAP, true, "CL1-A-1"));
  EXPECT_EQ("16ON:old name**22LI:300**24VI:**23OS:NEWDEV**",
            devices[0]->metadata(HDS_METADATA_SNAP_MAP));
}

}  // namespace
