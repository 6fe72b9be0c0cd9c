// Stored metadata readers: every id and key, keys matched at entry
// boundaries only, records up to 4095 characters, failed and empty reads.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/testing/FakeSnapInfo.h"
#include "util/HDSCLIUtils.h"

using namespace ZRHDSCLIUtils;

namespace {

struct KeyRow {
  const char* key;
  std::string ZRHDSMetadataInfo::*field;
};

const std::vector<KeyRow> kUniqueKeys = {
    {"1S", &ZRHDSMetadataInfo::baseSerialNo},     {"2VS", &ZRHDSMetadataInfo::vsmSerialNo},
    {"3L", &ZRHDSMetadataInfo::baseDevNo},        {"4VL", &ZRHDSMetadataInfo::vsmDevNo},
    {"5M", &ZRHDSMetadataInfo::modelNo},          {"6RS", &ZRHDSMetadataInfo::rcuBaseSerialNo},
    {"7RVS", &ZRHDSMetadataInfo::rcuVsmSerialNo}, {"8RL", &ZRHDSMetadataInfo::rcuBaseDevNo},
    {"9RVL", &ZRHDSMetadataInfo::rcuVsmDevNo},    {"10SG", &ZRHDSMetadataInfo::snapshotGroup},
    {"11C", &ZRHDSMetadataInfo::capacity},        {"12P", &ZRHDSMetadataInfo::preSnapPort},
    {"13SM", &ZRHDSMetadataInfo::snapMu},         {"14GS", &ZRHDSMetadataInfo::activeGadSide},
    {"15RM", &ZRHDSMetadataInfo::replicationMu},
};
const std::vector<KeyRow> kHostGroupKeys = {
    {"16ON", &ZRHDSMetadataInfo::snapOriginalName}, {"17HG", &ZRHDSMetadataInfo::mappedHostGroups},
    {"22LI", &ZRHDSMetadataInfo::snapLdevId},       {"23OS", &ZRHDSMetadataInfo::snapOriginalState},
    {"24VI", &ZRHDSMetadataInfo::snapVirLdevId},
};
const std::vector<KeyRow> kReplicationKeys = {
    {"18MC", &ZRHDSMetadataInfo::mcuSerial},
    {"19MP", &ZRHDSMetadataInfo::pvolLdev},
    {"20QM", &ZRHDSMetadataInfo::qMarker},
    {"21MH", &ZRHDSMetadataInfo::horcmInst},
};

// Every field of the record, to check that a reader leaves others alone.
std::vector<std::string ZRHDSMetadataInfo::*> allFields() {
  std::vector<std::string ZRHDSMetadataInfo::*> out;
  for (const auto* set : {&kUniqueKeys, &kHostGroupKeys, &kReplicationKeys}) {
    for (const KeyRow& k : *set) out.push_back(k.field);
  }
  out.push_back(&ZRHDSMetadataInfo::vendorName);
  return out;
}

// A text with a distinct value per key: "<key>:v<key>**".
std::string textFor(const std::vector<KeyRow>& keys) {
  std::string t;
  for (const KeyRow& k : keys) t += std::string(k.key) + ":v" + k.key + "**";
  return t;
}

void prefill(ZRHDSMetadataInfo& info) {
  for (auto f : allFields()) info.*f = "old";
}

bool isOwn(const std::vector<KeyRow>& keys, std::string ZRHDSMetadataInfo::*field) {
  for (const KeyRow& k : keys) {
    if (k.field == field) return true;
  }
  return false;
}

void expectDecoded(const ZRHDSMetadataInfo& info, const std::vector<KeyRow>& own) {
  for (const KeyRow& k : own) EXPECT_EQ(info.*(k.field), std::string("v") + k.key) << k.key;
  for (auto f : allFields()) {
    if (!isOwn(own, f) && f != &ZRHDSMetadataInfo::vendorName) {
      EXPECT_EQ(info.*f, "old");
    }
  }
}

TEST(MetadataReaders, UniqueMetadataEveryKeyOnIds6And82) {
  for (bool alternate : {false, true}) {
    SCOPED_TRACE(alternate);
    FakeSnapInfo device;
    device.setMetadataText(alternate ? 82 : 6, textFor(kUniqueKeys));
    device.setMetadataText(alternate ? 6 : 82, "1S:wrong**");
    ZRHDSMetadataInfo info;
    prefill(info);
    ASSERT_EQ(getInfoFromUniqueMetadata(&device, info, alternate), 1);
    expectDecoded(info, kUniqueKeys);
    EXPECT_EQ(info.vendorName, "old");
    EXPECT_TRUE(device.logged(
        "BaseSerialNo-[v1S], VSMSerialNo-[v2VS], BaseDevNo-[v3L], VSMDevNo-[v4VL], "
        "ModelNo-[v5M], SnapMU-[v13SM], RCU_BaseSerialNo-[v6RS], RCU_VSMSerialNo-[v7RVS], "
        "RCU_BaseDevNo-[v8RL], RCU_VSMDevNo-[v9RVL], SnapshotGroup-[v10SG], Capacity-[v11C], "
        "PreSnapPort-[v12P]"));
    EXPECT_TRUE(device.logged("Active GAD side detected-[v14GS]"));
    EXPECT_TRUE(device.logged("Replication MU to be used is [v15RM]"));
  }
}

TEST(MetadataReaders, HostGroupMetadataOnIds65And68) {
  for (short id : {65, 68}) {
    SCOPED_TRACE(id);
    FakeSnapInfo device;
    device.setMetadataText(id, textFor(kHostGroupKeys));
    ZRHDSMetadataInfo info;
    prefill(info);
    ASSERT_EQ(getInfoFromHostGroupMetadata(&device, id, info), 1);
    expectDecoded(info, kHostGroupKeys);
    EXPECT_TRUE(device.logged(
        "Snap Original Name-[v16ON], Snap Original State-[v23OS], Snap LDEV Id-[v22LI], "
        "Snap VIR_LDEV Id-[v24VI], Mapped HostGroups-[v17HG]"));
  }
}

TEST(MetadataReaders, ReplicationMetadata) {
  FakeSnapInfo device;
  device.setMetadataText(90, textFor(kReplicationKeys));
  ZRHDSMetadataInfo info;
  prefill(info);
  ASSERT_EQ(getInfoFromReplicationMetadata(&device, info), 1);
  expectDecoded(info, kReplicationKeys);
  EXPECT_TRUE(
      device.logged("MCU Serial-[v18MC], P-VOL LDEV-[v19MP], Q-Marker-[v20QM], HORCMInst-[v21MH]"));

  FakeSnapInfo refused;
  refused.failOn("getMetadata");
  ZRHDSMetadataInfo untouched;
  prefill(untouched);
  EXPECT_EQ(getInfoFromReplicationMetadata(&refused, untouched), 1);
  EXPECT_EQ(untouched.qMarker, "old");
  EXPECT_TRUE(refused.logged("Replication metadata-[90] is empty for the source"));
}

TEST(MetadataReaders, VendorMetadata) {
  struct Row {
    std::string stored;  // "<none>" = nothing stored
    bool fail;
    std::string vendor;
  };
  const std::vector<Row> rows = {
      {"HPE", false, "HPE"},
      {"<none>", false, "HITACHI"},
      {"", false, "HITACHI"},
      {"SUN", true, "HITACHI"},
      {"ABCDEFGHIJKLMNOP", false, "ABCDEFGHIJKLMNOP"},  // 16 characters, all of the buffer
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.stored);
    FakeSnapInfo device;
    device.setFillWholeBuffer(true);
    if (r.stored != "<none>") device.setMetadataText(71, r.stored);
    if (r.fail) device.failOn("getMetadata");
    ZRHDSMetadataInfo info;
    prefill(info);
    EXPECT_EQ(getInfoFromVendorMetadata(&device, info), 1);
    EXPECT_EQ(info.vendorName, r.vendor);
    EXPECT_EQ(info.baseSerialNo, "old");
    EXPECT_EQ(device.logged("Failed to get Vendor Name from Metadata."), r.fail);
    EXPECT_TRUE(device.logged("Snap Vendor Name-[" + r.vendor + "]"));
  }
}

TEST(MetadataReaders, FailedAndEmptyReads) {
  FakeSnapInfo refused;
  refused.failOn("getMetadata");
  ZRHDSMetadataInfo info;
  EXPECT_EQ(getInfoFromUniqueMetadata(&refused, info, false), 0);
  EXPECT_TRUE(refused.logged("Failed to get metadata [6]"));
  EXPECT_EQ(getInfoFromUniqueMetadata(&refused, info, true), 0);
  EXPECT_TRUE(refused.logged("Failed to get metadata [82]"));
  EXPECT_EQ(getInfoFromHostGroupMetadata(&refused, 68, info), 0);
  EXPECT_TRUE(refused.logged("Failed to get metadata [68]"));

  FakeSnapInfo empty;
  prefill(info);
  EXPECT_EQ(getInfoFromUniqueMetadata(&empty, info, false), 1);
  EXPECT_EQ(getInfoFromHostGroupMetadata(&empty, 65, info), 0);
  EXPECT_EQ(empty.logTexts(2),
            (std::vector<std::string>{"Empty metadata received", "Empty metadata received"}));
  EXPECT_EQ(info.baseSerialNo, "old");
  EXPECT_EQ(info.snapLdevId, "old");

  EXPECT_EQ(getInfoFromUniqueMetadata(nullptr, info, false), 0);
  EXPECT_EQ(getInfoFromHostGroupMetadata(nullptr, 65, info), 0);
  EXPECT_EQ(getInfoFromVendorMetadata(nullptr, info), 1);
  EXPECT_EQ(info.vendorName, "HITACHI");
}

TEST(MetadataReaders, KeysAreMatchedAtEntryBoundariesOnly) {
  struct Row {
    const char* name;
    std::string text;
    std::string originalName;  // 16ON
    std::string state;         // 23OS
    std::string ldev;          // 22LI
  };
  const std::vector<Row> rows = {
      // A user's label holding another key's text must not be read as it.
      {"label with 23OS", "16ON:QB_23OS:OLDDEV**22LI:300**23OS:NEWDEV**", "QB_23OS:OLDDEV",
       "NEWDEV", "300"},
      {"label with key and single asterisks", "16ON:a*23OS:OLDDEV*b**23OS:NEWDEV**22LI:7**",
       "a*23OS:OLDDEV*b", "NEWDEV", "7"},
      {"label only holds the key", "16ON:23OS:OLDDEV**22LI:5**", "23OS:OLDDEV", "old", "5"},
      {"empty value", "22LI:**23OS:OLDDEV**", "old", "OLDDEV", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    FakeSnapInfo device;
    device.setMetadataText(65, r.text);
    ZRHDSMetadataInfo info;
    prefill(info);
    ASSERT_EQ(getInfoFromHostGroupMetadata(&device, 65, info), 1);
    EXPECT_EQ(info.snapOriginalName, r.originalName);
    EXPECT_EQ(info.snapOriginalState, r.state);
    EXPECT_EQ(info.snapLdevId, r.ldev);
  }
}

// Records the plug-in never writes: each is refused whole, nothing of it
// is decoded, and the refusal names what is wrong.
TEST(MetadataReaders, MalformedRecordsAreRefusedWhole) {
  struct Row {
    int id;
    std::string text;
    std::string why;  // a part of the refusal
  };
  const std::string cut6 = "1S:1**3L:256**10SG:" + std::string(5000, 'x') + "**";
  const std::string cut65 = "22LI:1**17HG:" + std::string(5000, 'y') + "**";
  const std::vector<Row> rows = {
      {65, "16ON:lab***23OS:NEWDEV**", "no entry"},  // value ending in '*'
      {65, "122LI:9**22LI:8**", "no entry"},         // a key of no record
      {65, "22LI:41", "ends inside an entry"},       // cut without its separator
      {65, "22LI:41}x", "ends inside an entry"},
      {65, "22LI:600**22LI:256**", "key 22LI twice"},
      {65, "1S:412345**22LI:600**", "no entry"},  // a key of another record
      {65, cut65, "cut at the host's buffer"},
      {6, "1S:412345**3L:256**13SM:3**x**", "no entry"},  // a value that held "**"
      {6, "1S:412345**3L:256**3L:257**", "key 3L twice"},
      {6, "1S:412345**3L:25", "ends inside an entry"},
      {6, cut6, "cut at the host's buffer"},
      {90, "18MC:1**20QM:" + std::string(3000, 'z') + "**", "cut at the host's buffer"},
      {90, "18MC:1**18MC:2**", "key 18MC twice"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text.substr(0, 60));
    for (bool fill : {false, true}) {
      FakeSnapInfo device;
      device.setFillWholeBuffer(fill);
      device.setMetadataText(r.id, r.text);
      ZRHDSMetadataInfo info;
      prefill(info);
      std::string refusal;
      const int result = r.id == 6    ? getInfoFromUniqueMetadata(&device, info, false, &refusal)
                         : r.id == 90 ? getInfoFromReplicationMetadata(&device, info, &refusal)
                                      : getInfoFromHostGroupMetadata(&device, 65, info, &refusal);
      EXPECT_EQ(result, 0);
      EXPECT_NE(refusal.find(r.why), std::string::npos) << refusal;
      EXPECT_EQ(refusal.rfind("metadata " + std::to_string(r.id), 0), 0u) << refusal;
      EXPECT_EQ(info.baseSerialNo, "old");
      EXPECT_EQ(info.snapLdevId, "old");
      EXPECT_EQ(info.mcuSerial, "old");
    }
  }
}

TEST(MetadataReaders, UniqueKeysWithSharedPrefixesStayApart) {
  FakeSnapInfo device;
  // "1S" is not read out of "11C" or "15RM"; "3L" not out of "13SM".
  device.setMetadataText(6, "11C:2097152**13SM:3**15RM:1**1S:412345**3L:256**");
  ZRHDSMetadataInfo info;
  ASSERT_EQ(getInfoFromUniqueMetadata(&device, info, false), 1);
  EXPECT_EQ(info.baseSerialNo, "412345");
  EXPECT_EQ(info.baseDevNo, "256");
  EXPECT_EQ(info.capacity, "2097152");
  EXPECT_EQ(info.snapMu, "3");
  EXPECT_EQ(info.replicationMu, "1");
  EXPECT_EQ(info.vsmSerialNo, "");
}

TEST(MetadataReaders, RecordsOf4095CharactersReadBackWhole) {
  // A long host-group list: the whole stored record is 4095 characters.
  const std::string head = "16ON:orig**22LI:300**17HG:";
  const std::string tail = "**23OS:NEWDEV**24VI:301**";
  std::string groups;
  for (int i = 0; groups.size() < 4095 - head.size() - tail.size(); ++i) {
    groups += "CL" + std::to_string(i % 8) + "-A-" + std::to_string(i) + ",";
  }
  groups.resize(4095 - head.size() - tail.size());
  const std::string text = head + groups + tail;
  ASSERT_EQ(text.size(), 4095u);
  for (short id : {65, 68}) {
    FakeSnapInfo device;
    device.setFillWholeBuffer(true);
    device.setMetadataText(id, text);
    ZRHDSMetadataInfo info;
    ASSERT_EQ(getInfoFromHostGroupMetadata(&device, id, info), 1);
    EXPECT_EQ(info.mappedHostGroups, groups);
    EXPECT_EQ(info.snapVirLdevId, "301");
  }

  const std::string uniqueHead = "1S:412345**3L:256**10SG:";
  std::string group(4095 - uniqueHead.size() - 2, 'G');
  FakeSnapInfo device;
  device.setFillWholeBuffer(true);
  device.setMetadataText(6, uniqueHead + group + "**");
  ZRHDSMetadataInfo info;
  ASSERT_EQ(getInfoFromUniqueMetadata(&device, info, false), 1);
  EXPECT_EQ(info.snapshotGroup, group);
}

TEST(MetadataReaders, OverlongRecordsNeverOverrunTheBuffer) {
  // The host fills every byte it was granted and no terminator: the record
  // is refused, never half-read.
  FakeSnapInfo device;
  device.setFillWholeBuffer(true);
  device.setMetadataText(6, "1S:1**10SG:" + std::string(6000, 'x') + "**");
  device.setMetadataText(65, "22LI:1**17HG:" + std::string(6000, 'y') + "**");
  device.setMetadataText(90, "18MC:1**20QM:" + std::string(3000, 'z') + "**");
  ZRHDSMetadataInfo info;
  prefill(info);
  EXPECT_EQ(getInfoFromUniqueMetadata(&device, info, false), 0);
  EXPECT_EQ(info.baseSerialNo, "old");
  EXPECT_EQ(info.snapshotGroup, "old");
  EXPECT_EQ(getInfoFromHostGroupMetadata(&device, 65, info), 0);
  EXPECT_EQ(info.snapLdevId, "old");
  EXPECT_EQ(info.mappedHostGroups, "old");
  EXPECT_EQ(getInfoFromReplicationMetadata(&device, info), 0);
  EXPECT_EQ(info.mcuSerial, "old");
  EXPECT_EQ(info.qMarker, "old");
}

// Values of the wrong shape, one row per check; the record is otherwise
// one the plug-in writes.
TEST(StoredValueChecks, EveryKeyIsCheckedForItsShape) {
  struct Row {
    std::string ZRHDSMetadataInfo::*field;
    std::string value;
    const char* key;  // "" the value passes
  };
  const std::string longGroup = "QB_" + std::string(30, 'A');
  const std::vector<Row> rows = {
      {&ZRHDSMetadataInfo::baseSerialNo, "412345", ""},
      {&ZRHDSMetadataInfo::baseSerialNo, "x", "1S"},
      {&ZRHDSMetadataInfo::baseSerialNo, "-1", "1S"},
      {&ZRHDSMetadataInfo::baseSerialNo, "0", "1S"},
      {&ZRHDSMetadataInfo::baseSerialNo, "1234567", "1S"},
      {&ZRHDSMetadataInfo::baseDevNo, "65279", ""},
      {&ZRHDSMetadataInfo::baseDevNo, "65280", "3L"},
      {&ZRHDSMetadataInfo::baseDevNo, "0x100", "3L"},
      {&ZRHDSMetadataInfo::baseDevNo, "256; rm -rf /", "3L"},
      {&ZRHDSMetadataInfo::snapMu, "1023", ""},
      {&ZRHDSMetadataInfo::snapMu, "x", "13SM"},
      {&ZRHDSMetadataInfo::snapMu, "-1", "13SM"},
      {&ZRHDSMetadataInfo::snapMu, "99999", "13SM"},
      {&ZRHDSMetadataInfo::snapshotGroup, "QB_7_5_1F_6553A2B1", ""},
      {&ZRHDSMetadataInfo::snapshotGroup, "QB_7; rm -rf /", "10SG"},
      {&ZRHDSMetadataInfo::snapshotGroup, std::string(5000, 'G'), "10SG"},
      {&ZRHDSMetadataInfo::snapshotGroup, longGroup, "10SG"},
      {&ZRHDSMetadataInfo::snapshotGroup, "other_group", "10SG"},
      {&ZRHDSMetadataInfo::rcuBaseDevNo, "-5", "8RL"},
      {&ZRHDSMetadataInfo::activeGadSide, "3", "14GS"},
      {&ZRHDSMetadataInfo::capacity, "12a", "11C"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.value.substr(0, 40));
    ZRHDSMetadataInfo md;
    md.baseSerialNo = "412345";
    md.baseDevNo = "256";
    md.snapMu = "3";
    md.*(r.field) = r.value;
    const std::string fault = ZRHDSCLIUtils::uniqueRecordFault(md);
    if (r.key[0] == '\0') {
      EXPECT_EQ(fault, "");
    } else {
      EXPECT_EQ(fault.rfind(std::string("key ") + r.key + " holds [", 0), 0u) << fault;
    }
  }
  ZRHDSMetadataInfo map;
  map.snapLdevId = "600";
  map.snapOriginalState = "NEWDEV";
  EXPECT_EQ(ZRHDSCLIUtils::mapRecordFault(map), "");
  map.snapLdevId = "abc";
  EXPECT_NE(ZRHDSCLIUtils::mapRecordFault(map).find("key 22LI"), std::string::npos);
  map.snapLdevId = "600";
  map.snapOriginalState = "GONE";
  EXPECT_NE(ZRHDSCLIUtils::mapRecordFault(map).find("key 23OS"), std::string::npos);
  ZRHDSMetadataInfo repl;
  repl.horcmInst = "3532";
  repl.qMarker = "01003408ee";
  EXPECT_EQ(ZRHDSCLIUtils::replicationRecordFault(repl), "");
  repl.horcmInst = "3532; id";
  EXPECT_NE(ZRHDSCLIUtils::replicationRecordFault(repl).find("key 21MH"), std::string::npos);
  EXPECT_EQ(ZRHDSCLIUtils::horcmInstanceFault("3501"), "");
  EXPECT_NE(ZRHDSCLIUtils::horcmInstanceFault("99999"), "");
  // A hostile value is quoted cut and without control characters.
  EXPECT_EQ(ZRHDSCLIUtils::quotedValue("a\nb"), "a?b");
  EXPECT_NE(ZRHDSCLIUtils::quotedValue(std::string(5000, 'G')).find("(5000 characters)"),
            std::string::npos);
}

// "17HG" holds what the container writes: host groups "<port>-<GID>" joined
// by ",", or "N/A"; older records leave it empty.
TEST(StoredValueChecks, MappedHostGroupsHaveTheHostGroupShape) {
  const std::vector<std::string> good = {"", "N/A", "CL1-A-1", "CL1-A-0", "CL2-B-254",
                                         "CL1-A-2,CL1-A-1", "CL1-AB-12,CL7-G-3,CL1-A-1"};
  const std::vector<std::string> bad = {
      "CL1-A-255", "CL1-A-x1", "CL1-A-", "-1", "x1", "99999999", "CL1", "CL1-A", "n/a",
      "CL1-A-1,", ",CL1-A-1", "CL1-A-1,,CL1-A-2", "CL1-A-1 ", "CL1 A-1", "CL1-A-1;touch /tmp/x",
      "$(id)-1", "CL1-A-1\n", "CL1-A-01234", std::string(17, 'P') + "-1",
      "CL1-A-1" + std::string(5000, '9')};
  ZRHDSMetadataInfo map;
  map.snapLdevId = "600";
  map.snapOriginalState = ZR_HDS_SNAP_ORIGINAL_STATE_NEW;
  auto fault = [&](const std::string& value) {
    map.mappedHostGroups = value;
    return ZRHDSCLIUtils::mapRecordFault(map);
  };
  for (const std::string& v : good) EXPECT_EQ("", fault(v)) << v;
  for (const std::string& v : bad)
    EXPECT_EQ(0u, fault(v).rfind("key 17HG holds [", 0)) << v.substr(0, 40);
}

TEST(MetadataReaders, ReadersCombineIntoOneRecord) {
  FakeSnapInfo device;
  device.setMetadataText(6, "1S:412345**3L:45**");
  device.setMetadataText(68, "22LI:300**23OS:OLDDEV**");
  device.setMetadataText(71, "HITACHI");
  device.setMetadataText(90, "20QM:77**");
  ZRHDSMetadataInfo info;
  ASSERT_EQ(getInfoFromUniqueMetadata(&device, info, false), 1);
  ASSERT_EQ(getInfoFromHostGroupMetadata(&device, 68, info), 1);
  ASSERT_EQ(getInfoFromVendorMetadata(&device, info), 1);
  ASSERT_EQ(getInfoFromReplicationMetadata(&device, info), 1);
  EXPECT_EQ(info.baseSerialNo, "412345");
  EXPECT_EQ(info.baseDevNo, "45");
  EXPECT_EQ(info.snapLdevId, "300");
  EXPECT_EQ(info.snapOriginalState, "OLDDEV");
  EXPECT_EQ(info.vendorName, "HITACHI");
  EXPECT_EQ(info.qMarker, "77");
  EXPECT_EQ(info.modelNo, "");
}

}  // namespace
