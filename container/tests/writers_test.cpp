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

// Every entry of text is what the unique-metadata reader gives for its key.
void expectReadBack(FakeSnapInfo& device, const std::string& text) {
  ZRHDSMetadataInfo md;
  md.initialize();
  ASSERT_EQ(1, ZRHDSCLIUtils::getInfoFromUniqueMetadata(&device, md, false));
  const std::pair<const char*, const std::string*> fields[] = {
      {"1S", &md.baseSerialNo},     {"2VS", &md.vsmSerialNo},    {"3L", &md.baseDevNo},
      {"4VL", &md.vsmDevNo},        {"5M", &md.modelNo},         {"6RS", &md.rcuBaseSerialNo},
      {"7RVS", &md.rcuVsmSerialNo}, {"8RL", &md.rcuBaseDevNo},   {"9RVL", &md.rcuVsmDevNo},
      {"10SG", &md.snapshotGroup},  {"11C", &md.capacity},       {"12P", &md.preSnapPort},
      {"13SM", &md.snapMu},         {"14GS", &md.activeGadSide}, {"15RM", &md.replicationMu}};
  size_t entries = 0;
  for (size_t at = 0; at < text.size(); ++entries) {
    const size_t colon = text.find(':', at), end = text.find("**", at);
    const std::string key = text.substr(at, colon - at);
    for (const auto& f : fields) {
      if (key == f.first) {
        EXPECT_EQ(text.substr(colon + 1, end - colon - 1), *f.second) << key;
      }
    }
    at = end + 2;
  }
  EXPECT_GE(entries, 5u);
}

enum Writer { kPrepare, kGad, kRemote, kVirtual };

// One record and what a writer makes of it. The partner, when named, is
// LDEV 70 of array 412999; the VSM identity is LDEV 10 of 500001.
struct Golden {
  Writer writer;
  bool vsm;
  bool partner;
  const char* partnerVsmSerial;
  const char* partnerVsmLdev;
  int gadSide;
  uint64_t capacity;
  int replicationMu;
  const char* text;  // metadata 6 of the first device
};

int write(ZRHDSInfoContainer& c, Writer w) {
  switch (w) {
    case kPrepare:
      return c.savePrepareMetadata();
    case kGad:
      return c.saveGADPairInfo();
    case kRemote:
      return c.saveRemoteMetadata();
    case kVirtual:
      return c.saveRemoteVirtualCheckMetadata();
  }
  return 0;
}

TEST_F(ContainerWriters, GoldenBytesOfEachConditionalKey) {
  const char* prep = "1S:412345**3L:256**5M:M8S**13SM:3**";
  const Golden rows[] = {
      {kPrepare, false, false, "", "", 0, 2097152, -1,
       "6RS:**8RL:**10SG:QB_12_5_1F_A**11C:2097152**12P:CL1-A**"},
      {kPrepare, true, false, "", "", 0, 2097152, -1,
       "6RS:**8RL:**10SG:QB_12_5_1F_A**11C:2097152**12P:CL1-A**2VS:500001**4VL:10**"},
      {kPrepare, false, true, "500002", "71", 0, 2097152, -1,
       "6RS:412999**8RL:70**10SG:QB_12_5_1F_A**11C:2097152**12P:CL1-A**7RVS:500002**9RVL:71**"},
      // The partner's virtual serial is its own: no virtual identity.
      {kPrepare, false, true, "412999", "70", 0, 2097152, -1,
       "6RS:412999**8RL:70**10SG:QB_12_5_1F_A**11C:2097152**12P:CL1-A**"},
      {kPrepare, false, false, "", "", 0, 0, -1,
       "6RS:**8RL:**10SG:QB_12_5_1F_A**11C:0**12P:CL1-A**"},
      {kGad, false, true, "", "71", 0, 0, -1,
       "1S:412345**3L:256**5M:M8S**6RS:412999**8RL:70**9RVL:71**"},
      {kGad, true, true, "500001", "", 2, 0, -1,
       "1S:412345**3L:256**5M:M8S**6RS:412999**8RL:70**7RVS:500001**2VS:500001**4VL:10**14GS:2**"},
      {kGad, false, false, "", "", 0, 0, -1, "1S:412345**3L:256**5M:M8S**6RS:**8RL:**"},
      {kRemote, false, true, "", "", 0, 0, -1,
       "1S:412999**3L:70**5M:M8S**6RS:412345**8RL:256**15RM:-1**"},
      {kRemote, true, true, "", "", 0, 0, 1,
       "1S:412999**3L:70**5M:M8S**6RS:412345**8RL:256**15RM:1**7RVS:500001**9RVL:10**"},
      {kVirtual, false, true, "", "", 0, 0, 0,
       "1S:412345**3L:256**5M:M8S**6RS:412999**8RL:70**15RM:0**"},
      {kVirtual, true, true, "500002", "71", 0, 0, -1,
       "1S:412345**3L:256**5M:M8S**6RS:412999**8RL:70**15RM:-1**2VS:500001**4VL:10**"
       "7RVS:500002**9RVL:71**"},
  };
  for (const Golden& r : rows) {
    const std::string text = (r.writer == kPrepare ? std::string(prep) : "") + r.text;
    SCOPED_TRACE(text);
    devices.clear();
    auto c = prepared();
    ZRHDSSnapInfo& s = first(*c);
    if (r.vsm) setVsm(*c);
    if (r.partner) setPartner(s, r.partnerVsmSerial, r.partnerVsmLdev);
    s.gadSide = r.gadSide;
    s.capacity = r.capacity;
    s.replicationMu = r.replicationMu;
    ASSERT_EQ(1, write(*c, r.writer)) << error(*c).second;
    EXPECT_EQ(text, devices[0]->metadata(HDS_METADATA_UNIQUE));
    EXPECT_TRUE(devices[0]->logged("Generated metadata-[" + text + "]"));
    expectReadBack(*devices[0], text);
    // Every device is written; prepare also stores the instance in use.
    EXPECT_NE(std::string::npos, devices[1]->metadata(HDS_METADATA_UNIQUE).find("L:257**"));
    if (r.writer == kPrepare) {
      for (auto& d : devices) {
        EXPECT_EQ(Peer::options(*c).horcmInst, d->metadata(HDS_METADATA_HORCM_INSTANCE));
      }
    }
  }
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
  c.reset();

  // A record that cannot be stored fails before the device is rebound.
  for (bool virtualCheck : {false, true}) {
    devices.clear();
    auto r = prepared();
    setPartner(Peer::snaps(*r)[1], "", "");
    Peer::snaps(*r)[1].rcuBaseDevNo = "70**3L:1";
    Peer::snaps(*r)[1].baseDevNo = "257**3L:1";
    devices[1]->setReplicationType(4);
    EXPECT_EQ(0, virtualCheck ? r->saveRemoteVirtualCheckMetadata() : r->saveRemoteMetadata());
    EXPECT_EQ(62008, error(*r).first);
    EXPECT_TRUE(devices[1]->arrayInformationCalls().empty());
    EXPECT_EQ(4, devices[1]->replicationType());
    EXPECT_EQ(0u, devices[1]->snapFlags());
  }

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
  s.snapOriginalState = ZR_HDS_SNAP_ORIGINAL_STATE_NEW;
  const std::string record = "16ON:old name**22LI:300**24VI:**23OS:NEWDEV**";
  for (int id : {HDS_METADATA_SNAP_MAP_FIRST, HDS_METADATA_SNAP_MAP}) {
    ASSERT_TRUE(Peer::writeMapRecord(*c, s, id, true, "CL1-A-1,CL2-B-3"));
    EXPECT_EQ(record + "17HG:CL1-A-1,CL2-B-3**", devices[0]->metadata(id));
    ZRHDSMetadataInfo md;
    md.initialize();
    ASSERT_EQ(1, ZRHDSCLIUtils::getInfoFromHostGroupMetadata(devices[0].get(), id, md));
    EXPECT_EQ("old name|300|NEWDEV|CL1-A-1,CL2-B-3", md.snapOriginalName + "|" + md.snapLdevId +
                                                         "|" + md.snapOriginalState + "|" +
                                                         md.mappedHostGroups);
  }
  ASSERT_TRUE(Peer::writeMapRecord(*c, s, HDS_METADATA_SNAP_MAP, false, ""));
  EXPECT_EQ(record, devices[0]->metadata(HDS_METADATA_SNAP_MAP));
  // A label that would run into the separator is never stored.
  s.snapOriginalName = "lab**22LI:1";
  EXPECT_FALSE(Peer::writeMapRecord(*c, s, HDS_METADATA_SNAP_MAP, true, "CL1-A-1"));
  EXPECT_EQ(record, devices[0]->metadata(HDS_METADATA_SNAP_MAP));
}

}  // namespace
