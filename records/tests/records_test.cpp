// Defaults, reset-for-reuse and copy behaviour of the shared records.
//
// Each record's fields are listed once below as E(name) for fields whose
// default is "empty" (strings, lists, maps) and V(name, default) for numbers,
// flags and pointers. The generic checks then fill every listed field with
// row-specific data, reset it and compare against the listed defaults.
#include "records/HDSRecords.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

// Test-only equality of nested row types, so list fields compare by value.
bool operator==(const HDSLunInfo& a, const HDSLunInfo& b) {
  return a.port == b.port && a.hostGroupId == b.hostGroupId && a.hostMode == b.hostMode &&
         a.lun == b.lun && a.ldevId == b.ldevId;
}
bool operator==(const HDSHostGroupInfo& a, const HDSHostGroupInfo& b) {
  return a.port == b.port && a.hostGroupName == b.hostGroupName && a.hostGroupId == b.hostGroupId &&
         a.wwns == b.wwns;
}
bool operator==(const ZRHDSMapDiscoveryInfo& a, const ZRHDSMapDiscoveryInfo& b) {
  return a.MSName == b.MSName && a.MSNum == b.MSNum && a.MSNumVSM == b.MSNumVSM;
}

namespace {

// ---------------------------------------------------------------------------
// Field lists
// ---------------------------------------------------------------------------

#define LUN_FIELDS(E, V) E(port) E(hostGroupId) E(hostMode) E(lun) E(ldevId)

#define LDEV_FIELDS(E, V)                                                                       \
  E(serial)                                                                                     \
  E(ldevId) E(virtualLdevId) E(volType) V(capacityBlocks, 0u) V(numPorts, 0) E(ports) E(poolId) \
      V(volAttr, 0) E(label) V(resourceGroupId, 0) V(mpBladeId, 0)

#define PAIR_FIELDS(E, V) \
  E(column6)              \
  E(ldevId) E(partnerLdevId) E(pairStatus) E(rcuSerial) E(fence) E(volAttr) V(muNumber, -1)

#define HOSTGROUP_FIELDS(E, V) E(port) E(hostGroupName) E(hostGroupId) E(wwns)

#define POOL_FIELDS(E, V) E(poolId) E(poolName) E(status) V(usagePercent, 0) V(thresholdPercent, 0)

#define PORT_FIELDS(E, V) E(port) E(type) E(serial) E(wwn) E(loginWwns) E(hostGroups)

#define COPYGROUP_FIELDS(E, V) E(copyGroupName) E(ldevGroupName) V(muNumber, -1) V(journalId, -1)

#define SNAPSHOTGROUP_FIELDS(E, V)                                                      \
  E(snapshotGroupName)                                                                  \
  V(isPvol, false) E(status) E(serial) E(ldevId) E(muNumber) E(partnerLdevId) E(poolId) \
      V(column9, 0) E(mode) V(column11, 0)

#define RAIDQRY_FIELDS(E, V) \
  E(column2) E(hostName) E(column4) E(column5) E(column6) E(microVersion) V(column8, 0)

#define RESOURCEGROUP_FIELDS(E, V) \
  V(resourceGroupId, -1) E(lockStatus) E(lockOwner) E(lockHost) E(serial)

#define INQUIRY_FIELDS(E, V) \
  V(isHitachi, false)        \
  E(arraySerial) E(baseArraySerial) E(devNo) E(baseDevNo) E(product) E(model) E(vendor)

#define METADATA_FIELDS(E, V)                                                                      \
  E(baseSerialNo)                                                                                  \
  E(vsmSerialNo) E(baseDevNo) E(vsmDevNo) E(modelNo) E(snapMu) E(rcuBaseSerialNo)                  \
      E(rcuVsmSerialNo) E(rcuBaseDevNo) E(rcuVsmDevNo) E(snapshotGroup) E(capacity) E(preSnapPort) \
          E(replicationMu) E(snapOriginalName) E(mappedHostGroups) E(snapLdevId) E(snapVirLdevId)  \
              E(snapOriginalState) E(vendorName) E(activeGadSide) E(mcuSerial) E(pvolLdev)         \
                  E(qMarker) E(horcmInst)

#define DISCOVERY_FIELDS(E, V) E(MSName) E(MSNum) E(MSNumVSM)

#define MAPPARAMS_FIELDS(E, V)                                                                    \
  V(isVMware, false)                                                                              \
  E(hostIdentifier) E(localHostIdentifier) E(deviceListBefore) E(vmInitiators) E(localInitiators) \
      E(mapDiscoveryInfo) E(devicesByDevNo)

#define SNAPINFO_FIELDS(E, V)                                                                      \
  V(snapInfo, nullptr)                                                                             \
  E(baseSerialNo) E(vsmSerialNo) E(baseDevNo) E(vsmDevNo) E(snapLdevId) E(snapVirLdevId) E(snapMu) \
      E(sourceDevice) E(svolLabel) E(snapOriginalName) E(snapOriginalState) E(rcuBaseSerialNo)     \
          E(rcuVsmSerialNo) E(rcuBaseDevNo) E(rcuVsmDevNo) E(snapshotGroup) V(capacity, 0u)        \
              V(replicationType, 0) V(snapMapped, false) V(mpBladeId, 0) V(replicationMu, -1)      \
                  V(gadSide, 0) V(resourceGroupId, -1)

#define OPTIONS_FIELDS(E, V)                                                                       \
  E(arrayId)                                                                                       \
  E(userName) E(password) E(modelNo) E(resourceGroup) E(snapshotGroup) E(initiators)               \
      V(isHTI, false) V(isVSM, false) E(label) E(cuRange) V(noVvolCreate, false) E(pool)           \
          V(useDPVols, false) V(useExistingPairs, false) V(reUse, false) V(quickResync, false)     \
              V(quickRestore, false) E(svolHostGroup) V(cmdLogging, false) E(horcmInstPath)        \
                  E(horcmInst) E(remoteMAName) V(cascadedClone, false) V(useConsistencyGrp, false) \
                      E(copyGroup) E(baseSerialNum) V(gadEnabled, false) E(preSnapPort)

// ---------------------------------------------------------------------------
// Filling one field with data that depends on the row number `seed`
// ---------------------------------------------------------------------------

// Distinct non-null address used as a borrowed host object; never
// dereferenced.
int gHostObjectStandIn = 0;

std::string tag(const char* field, int seed) {
  return std::string(field) + "#" + std::to_string(seed);
}

void fillField(std::string& f, const char* name, int seed) { f = tag(name, seed); }
void fillField(int32_t& f, const char*, int seed) { f = 1000 + seed; }
void fillField(uint64_t& f, const char*, int seed) { f = (uint64_t{1} << 40) + seed; }
void fillField(bool& f, const char*, int) { f = true; }
void fillField(ZRSO::SnapInfo*& f, const char*, int) {
  f = reinterpret_cast<ZRSO::SnapInfo*>(&gHostObjectStandIn);
}
void fillField(std::vector<std::string>& f, const char* name, int seed) {
  f.push_back(tag(name, seed));
}
void fillField(std::vector<HDSLunInfo>& f, const char* name, int seed) {
  HDSLunInfo l;
  l.port = "CL1-A";
  l.hostGroupId = std::to_string(seed);
  l.lun = tag(name, seed);
  f.push_back(l);
}
void fillField(std::vector<HDSHostGroupInfo>& f, const char* name, int seed) {
  HDSHostGroupInfo g;
  g.port = "CL2-B";
  g.hostGroupName = tag(name, seed);
  g.wwns.push_back("50060E80" + std::to_string(seed));
  f.push_back(g);
}
void fillField(std::vector<ZRHDSMapDiscoveryInfo>& f, const char* name, int seed) {
  ZRHDSMapDiscoveryInfo d;
  d.MSName = tag(name, seed);
  d.MSNum = std::to_string(seed);
  f.push_back(d);
}
void fillField(std::map<std::string, std::vector<std::string>>& f, const char* name, int seed) {
  f[std::to_string(seed)].push_back(tag(name, seed));
}

// Generic per-record operations built from a field list.
#define FILL_E(f) fillField(r.f, #f, seed);
#define FILL_V(f, d) fillField(r.f, #f, seed);
#define NONDEF_E(f) \
  if (!r.f.empty()) out.push_back(#f);
#define NONDEF_V(f, d) \
  if (!(r.f == decltype(r.f)(d))) out.push_back(#f);
#define DEF_E(f) \
  if (r.f.empty()) out.push_back(#f);
#define DEF_V(f, d) \
  if (r.f == decltype(r.f)(d)) out.push_back(#f);
#define EQ_E(f) \
  if (!(a.f == b.f)) out.push_back(#f);
#define EQ_V(f, d) \
  if (!(a.f == b.f)) out.push_back(#f);

template <class R>
struct Traits;

#define RECORD_TRAITS(Type, FIELDS, RESET)                                    \
  template <>                                                                 \
  struct Traits<Type> {                                                       \
    static void fill(Type& r, int seed) { FIELDS(FILL_E, FILL_V) }            \
    /* Fields not at their listed default. */                                 \
    static std::vector<std::string> nonDefault(const Type& r) {               \
      std::vector<std::string> out;                                           \
      FIELDS(NONDEF_E, NONDEF_V)                                              \
      return out;                                                             \
    }                                                                         \
    /* Fields still at their default (after fill: a gap in fill). */          \
    static std::vector<std::string> stillDefault(const Type& r) {             \
      std::vector<std::string> out;                                           \
      FIELDS(DEF_E, DEF_V)                                                    \
      return out;                                                             \
    }                                                                         \
    /* Numeric/flag fields not at default; empty-default fields that */       \
    /* are empty. What a correct init2() leaves after fill. */                \
    static std::vector<std::string> init2Violations(const Type& r) {          \
      std::vector<std::string> out;                                           \
      FIELDS(DEF_E, NONDEF_V)                                                 \
      return out;                                                             \
    }                                                                         \
    static std::vector<std::string> differing(const Type& a, const Type& b) { \
      std::vector<std::string> out;                                           \
      FIELDS(EQ_E, EQ_V)                                                      \
      return out;                                                             \
    }                                                                         \
    static void reset(Type& r) { r.RESET(); }                                 \
  };

RECORD_TRAITS(HDSLunInfo, LUN_FIELDS, init)
RECORD_TRAITS(HDSLdevInfo, LDEV_FIELDS, init)
RECORD_TRAITS(HDSPairInfo, PAIR_FIELDS, init)
RECORD_TRAITS(HDSHostGroupInfo, HOSTGROUP_FIELDS, init)
RECORD_TRAITS(HDSPoolInfo, POOL_FIELDS, init)
RECORD_TRAITS(HDSPortInfo, PORT_FIELDS, init)
RECORD_TRAITS(HDSCopyGroup, COPYGROUP_FIELDS, init)
RECORD_TRAITS(HDSSnapshotGroupInfo, SNAPSHOTGROUP_FIELDS, init)
RECORD_TRAITS(HDSRaidqryInfo, RAIDQRY_FIELDS, init)
RECORD_TRAITS(ResourceGroupInfo, RESOURCEGROUP_FIELDS, init)
RECORD_TRAITS(ZRHDSSCSIInquiryData, INQUIRY_FIELDS, Initialize)
RECORD_TRAITS(ZRHDSMetadataInfo, METADATA_FIELDS, initialize)
RECORD_TRAITS(ZRHDSMapDiscoveryInfo, DISCOVERY_FIELDS, init)
RECORD_TRAITS(ZRMapInitiatorParams, MAPPARAMS_FIELDS, init)
RECORD_TRAITS(ZRHDSSnapInfo, SNAPINFO_FIELDS, init)
// The options have no full reset: one object lives for one container.
RECORD_TRAITS(ZRHDSSnapOptions, OPTIONS_FIELDS, init2)

using testing::ElementsAre;
using testing::IsEmpty;

// ---------------------------------------------------------------------------
// Every resettable record
// ---------------------------------------------------------------------------

template <class R>
class ResettableRecord : public testing::Test {};

using ResettableTypes =
    testing::Types<HDSLunInfo, HDSLdevInfo, HDSPairInfo, HDSHostGroupInfo, HDSPoolInfo, HDSPortInfo,
                   HDSCopyGroup, HDSSnapshotGroupInfo, HDSRaidqryInfo, ResourceGroupInfo,
                   ZRHDSSCSIInquiryData, ZRHDSMetadataInfo, ZRHDSMapDiscoveryInfo,
                   ZRMapInitiatorParams, ZRHDSSnapInfo>;
TYPED_TEST_SUITE(ResettableRecord, ResettableTypes);

TYPED_TEST(ResettableRecord, ConstructedAtDefaults) {
  using T = Traits<TypeParam>;
  TypeParam r;
  EXPECT_THAT(T::nonDefault(r), IsEmpty());
  // Also when built where the storage held garbage before.
  alignas(TypeParam) unsigned char raw[sizeof(TypeParam)];
  std::fill(raw, raw + sizeof raw, static_cast<unsigned char>(0xA5));
  TypeParam* p = new (raw) TypeParam;
  EXPECT_THAT(T::nonDefault(*p), IsEmpty());
  p->~TypeParam();
}

TYPED_TEST(ResettableRecord, ResetRestoresEveryFieldAfterItWasFilled) {
  using T = Traits<TypeParam>;
  TypeParam r;
  T::fill(r, 1);
  ASSERT_THAT(T::stillDefault(r), IsEmpty()) << "test fill misses a field";
  T::reset(r);
  EXPECT_THAT(T::nonDefault(r), IsEmpty());
  T::reset(r);  // resetting a reset record is harmless
  EXPECT_THAT(T::nonDefault(r), IsEmpty());
}

TYPED_TEST(ResettableRecord, ReusedInParseLoopYieldsIndependentRows) {
  // The way a parser uses a record: one object, reset per row, filled,
  // appended by copy.
  using T = Traits<TypeParam>;
  std::vector<TypeParam> rows;
  TypeParam work;
  for (int i = 0; i < 4; ++i) {
    T::reset(work);
    T::fill(work, i);
    rows.push_back(work);
  }
  ASSERT_EQ(4u, rows.size());
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    TypeParam expected;
    T::fill(expected, i);
    // A reset that left a list would show as an accumulated list here.
    EXPECT_THAT(T::differing(rows[i], expected), IsEmpty());
  }
}

TYPED_TEST(ResettableRecord, CopiesAreDeepAndAssignmentReplaces) {
  using T = Traits<TypeParam>;
  TypeParam src;
  T::fill(src, 7);
  TypeParam pristine;
  T::fill(pristine, 7);

  TypeParam copy(src);
  EXPECT_THAT(T::differing(copy, src), IsEmpty());
  T::fill(copy, 8);  // appends to every list of the copy, rewrites the rest
  EXPECT_THAT(T::differing(src, pristine), IsEmpty());

  // Assignment over a filled record replaces its lists instead of merging.
  TypeParam target;
  T::fill(target, 9);
  target = src;
  EXPECT_THAT(T::differing(target, pristine), IsEmpty());

  TypeParam moved(std::move(target));
  EXPECT_THAT(T::differing(moved, pristine), IsEmpty());
}

// ---------------------------------------------------------------------------
// init2(): numbers and flags only
// ---------------------------------------------------------------------------

template <class R>
class Init2Record : public testing::Test {};

using Init2Types =
    testing::Types<HDSLdevInfo, HDSPairInfo, HDSPoolInfo, HDSCopyGroup, HDSSnapshotGroupInfo,
                   HDSRaidqryInfo, ResourceGroupInfo, ZRHDSSnapInfo>;
TYPED_TEST_SUITE(Init2Record, Init2Types);

TYPED_TEST(Init2Record, RestoresNumbersAndKeepsTexts) {
  using T = Traits<TypeParam>;
  TypeParam r;
  T::fill(r, 3);
  r.init2();
  std::vector<std::string> violations = T::init2Violations(r);
  // The borrowed host pointer of ZRHDSSnapInfo is neither a number nor a
  // flag: init2() keeps it, only init() clears it.
  violations.erase(std::remove(violations.begin(), violations.end(), "snapInfo"), violations.end());
  EXPECT_THAT(violations, IsEmpty());
}

TEST(Init2Record, InquiryInitialize2ClearsOnlyTheFlag) {
  ZRHDSSCSIInquiryData r;
  Traits<ZRHDSSCSIInquiryData>::fill(r, 2);
  r.Initialize2();
  EXPECT_THAT(Traits<ZRHDSSCSIInquiryData>::init2Violations(r), IsEmpty());
}

// ---------------------------------------------------------------------------
// Particular defaults and behaviours
// ---------------------------------------------------------------------------

TEST(RecordDefaults, MinusOneDefaults) {
  EXPECT_EQ(-1, HDSPairInfo().muNumber);
  EXPECT_EQ(-1, HDSCopyGroup().muNumber);
  EXPECT_EQ(-1, HDSCopyGroup().journalId);
  EXPECT_EQ(-1, ResourceGroupInfo().resourceGroupId);
  ZRHDSSnapInfo s;
  EXPECT_EQ(-1, s.replicationMu);
  EXPECT_EQ(-1, s.resourceGroupId);
  EXPECT_EQ(nullptr, s.snapInfo);
  // The LDEV record's resource group is 0, not -1, until read.
  EXPECT_EQ(0, HDSLdevInfo().resourceGroupId);
}

TEST(RecordDefaults, MetadataRecordHoldsExactlyTheTwentyFiveValues) {
  // Guards the field list above: a value added to the record without a
  // reset would otherwise go unnoticed.
  std::size_t listed = 0;
#define COUNT_E(f) ++listed;
#define COUNT_V(f, d) ++listed;
  METADATA_FIELDS(COUNT_E, COUNT_V)
  EXPECT_EQ(25u, listed);
  EXPECT_EQ(listed * sizeof(std::string), sizeof(ZRHDSMetadataInfo));
}

TEST(RecordDefaults, MissingResourceGroupReadsMinusOne) {
  std::map<std::string, ResourceGroupInfo> groups;
  ResourceGroupInfo meta;
  meta.resourceGroupId = 0;
  meta.lockOwner = "M850M3";
  groups["meta_resource"] = meta;
  EXPECT_EQ(0, groups["meta_resource"].resourceGroupId);
  EXPECT_EQ(-1, groups["RG_absent"].resourceGroupId);
  EXPECT_TRUE(groups["RG_absent"].lockOwner.empty());
}

TEST(RecordDefaults, SnapOptionsStartWithEveryFlagClearAndCopyOwnLists) {
  using T = Traits<ZRHDSSnapOptions>;
  ZRHDSSnapOptions o;
  EXPECT_THAT(T::nonDefault(o), IsEmpty());
  EXPECT_FALSE(o.gadEnabled);

  T::fill(o, 1);
  ASSERT_THAT(T::stillDefault(o), IsEmpty()) << "test fill misses a field";
  ZRHDSSnapOptions copy;
  T::fill(copy, 5);
  copy = o;
  EXPECT_THAT(T::differing(copy, o), IsEmpty());
  copy.initiators.push_back("iqn.extra");
  copy.initiators[0] = "changed";
  EXPECT_THAT(o.initiators, ElementsAre("initiators#1"));

  // init2() restores the flags and keeps every text and the list.
  o.init2();
  EXPECT_THAT(T::init2Violations(o), IsEmpty());
}

TEST(RecordCopies, PortCopyOwnsItsHostGroupsAndTheirWwns) {
  HDSPortInfo src;
  src.port = "CL1-A";
  HDSHostGroupInfo g;
  g.port = "CL1-A";
  g.hostGroupName = "QB_PRE_SNAP_HOST_GROUP";
  g.hostGroupId = "3";
  g.wwns = {"10000000C9AAAAAA", "10000000C9BBBBBB"};
  src.hostGroups.push_back(g);
  src.loginWwns = {"10000000C9AAAAAA"};

  HDSPortInfo copy = src;
  copy.hostGroups[0].wwns[1] = "CHANGED";
  copy.hostGroups[0].wwns.push_back("ADDED");
  copy.loginWwns.clear();

  EXPECT_THAT(src.hostGroups[0].wwns, ElementsAre("10000000C9AAAAAA", "10000000C9BBBBBB"));
  EXPECT_THAT(src.loginWwns, ElementsAre("10000000C9AAAAAA"));
}

TEST(RecordCopies, LdevCopyOwnsItsPaths) {
  HDSLdevInfo src;
  src.ldevId = "4660";
  HDSLunInfo path;
  path.port = "CL3-B";
  path.hostGroupId = "12";
  path.lun = "0";
  src.ports.push_back(path);
  src.numPorts = 1;

  HDSLdevInfo copy(src);
  copy.ports[0].lun = "9";
  copy.ports.push_back(path);
  ASSERT_EQ(1u, src.ports.size());
  EXPECT_EQ("0", src.ports[0].lun);

  // A path from an LDEV's "PORTs" entry carries no host mode or LDEV id.
  EXPECT_TRUE(src.ports[0].hostMode.empty());
  EXPECT_TRUE(src.ports[0].ldevId.empty());
}

TEST(RecordCopies, MapInitiatorParamsCopyIsDeepAndInitEmptiesAll) {
  ZRMapInitiatorParams src;
  src.isVMware = true;
  src.vmInitiators = {"esx-wwn"};
  src.localInitiators = {"local-wwn"};
  src.deviceListBefore = {"/dev/sda"};
  ZRHDSMapDiscoveryInfo d;
  d.MSName = "snap1";
  d.MSNum = "4660";
  d.MSNumVSM = "100";
  src.mapDiscoveryInfo.push_back(d);
  src.devicesByDevNo["4660"] = {"/dev/sdb", "/dev/sdc"};

  ZRMapInitiatorParams copy = src;
  copy.mapDiscoveryInfo[0].MSNum = "1";
  copy.devicesByDevNo["4660"].push_back("/dev/sdd");
  copy.devicesByDevNo["9"] = {"/dev/sde"};
  EXPECT_EQ("4660", src.mapDiscoveryInfo[0].MSNum);
  EXPECT_EQ(1u, src.devicesByDevNo.size());
  EXPECT_THAT(src.devicesByDevNo["4660"], ElementsAre("/dev/sdb", "/dev/sdc"));

  src.init();
  EXPECT_FALSE(src.isVMware);
  EXPECT_TRUE(src.mapDiscoveryInfo.empty());
  EXPECT_TRUE(src.devicesByDevNo.empty());
  EXPECT_TRUE(src.vmInitiators.empty());
  EXPECT_TRUE(src.localInitiators.empty());
  // The copy is untouched by the reset of its source.
  EXPECT_EQ(2u, copy.devicesByDevNo.size());
}

// ---------------------------------------------------------------------------
// Input parameters bundle
// ---------------------------------------------------------------------------

TEST(CommandHandlerInputParams, BindsReferencesToTheContainersRecords) {
  ZRSO::ZROSUtil* util = reinterpret_cast<ZRSO::ZROSUtil*>(&gHostObjectStandIn);
  ZRHDSSnapOptions options;
  std::vector<ZRHDSSnapInfo> snaps(1);

  ZRHDSCommandHandlerInputParams params(util, options, snaps);
  EXPECT_EQ(1, params.implementerType);
  EXPECT_EQ(0, params.operationType);

  // Later changes by the container are visible through the bundle...
  options.horcmInst = "3532";
  snaps.emplace_back();
  snaps[1].baseDevNo = "4660";
  EXPECT_EQ("3532", params.options.horcmInst);
  ASSERT_EQ(2u, params.snaps.size());
  EXPECT_EQ("4660", params.snaps[1].baseDevNo);

  // ...and what the command layer writes lands in the container.
  params.options.resourceGroup = ZR_HDS_META_RESOURCE;
  params.snaps[0].snapLdevId = "8192";
  EXPECT_EQ("meta_resource", options.resourceGroup);
  EXPECT_EQ("8192", snaps[0].snapLdevId);

  // Clearing the borrowed utility pointer through the bundle clears the
  // container's own variable.
  params.osUtil = nullptr;
  EXPECT_EQ(nullptr, util);
}

}  // namespace
