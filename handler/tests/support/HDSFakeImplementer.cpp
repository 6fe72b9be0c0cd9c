#include "handler/tests/support/HDSFakeImplementer.h"

#include <gtest/gtest.h>

#include <algorithm>

HDSFakeImplementer::HDSFakeImplementer(ZRSO::SnapInfo*& logger,
                                       ZRHDSCommandHandlerInputParams& params)
    : ZRHDSCommandImplementer(logger, params) {
  setIsInitializedStatus(true);
}

HDSFakeImplementer::~HDSFakeImplementer() = default;

ZRHDSImplementerFactory HDSFakeImplementer::factory(std::function<void(HDSFakeImplementer&)> script,
                                                    HDSFakeImplementer** built) {
  return [script, built](ZRSO::SnapInfo*& logger, ZRHDSCommandHandlerInputParams& params) {
    std::unique_ptr<HDSFakeImplementer> fake(new HDSFakeImplementer(logger, params));
    if (script) script(*fake);
    fake->setIsInitializedStatus(fake->initialized);
    if (built != nullptr) *built = fake.get();
    return std::unique_ptr<ZRHDSCommandImplementer>(std::move(fake));
  };
}

int HDSFakeImplementer::failWith(int code, const std::string& text) {
  setErrorCodeString(code, text);
  return 1;
}

int HDSFakeImplementer::count(const std::string& op) const {
  return static_cast<int>(std::count(calls.begin(), calls.end(), op));
}

bool HDSFakeImplementer::enter(const char* op, bool scripted) {
  calls.push_back(op);
  if (!scripted) ADD_FAILURE() << "unscripted call of " << op;
  return scripted;
}

int HDSFakeImplementer::initialize() { return 1; }

int HDSFakeImplementer::login(bool force) {
  return enter("login", bool(onLogin)) ? onLogin(force) : 1;
}
int HDSFakeImplementer::logout() { return enter("logout", bool(onLogout)) ? onLogout() : 1; }
int HDSFakeImplementer::getResourceGroupFromLdev() {
  return enter("getResourceGroupFromLdev", bool(onResourceGroupFromLdev))
             ? onResourceGroupFromLdev()
             : 1;
}
int HDSFakeImplementer::getResourceGroupInfo(std::map<std::string, ResourceGroupInfo>& groups,
                                             bool keyOption) {
  return enter("getResourceGroupInfo", bool(onResourceGroupInfo))
             ? onResourceGroupInfo(groups, keyOption)
             : 1;
}
int HDSFakeImplementer::getLdevInfo(std::vector<HDSLdevInfo>& ldevs) {
  return enter("getLdevInfo", bool(onLdevInfo)) ? onLdevInfo(ldevs) : 1;
}
int HDSFakeImplementer::getRemotePairInfoForHostGroup(const std::string& hostGroup,
                                                      std::vector<HDSPairInfo>& pairs) {
  return enter("getRemotePairInfoForHostGroup", bool(onRemotePairs))
             ? onRemotePairs(hostGroup, pairs)
             : 1;
}
int HDSFakeImplementer::getPoolList(std::vector<HDSPoolInfo>& pools) {
  return enter("getPoolList", bool(onPoolList)) ? onPoolList(pools) : 1;
}
int HDSFakeImplementer::getCCIRaidqryInfo(HDSRaidqryInfo& info) {
  return enter("getCCIRaidqryInfo", bool(onRaidqry)) ? onRaidqry(info) : 1;
}
int HDSFakeImplementer::lockUnlockResourceGroup(std::string groupName, bool unlock, bool noName) {
  return enter("lockUnlockResourceGroup", bool(onLockUnlock))
             ? onLockUnlock(groupName, unlock, noName)
             : 1;
}
int HDSFakeImplementer::getSnapshotGroupList(std::vector<HDSSnapshotGroupInfo>& list,
                                             const std::string& key, const bool& byLdev) {
  return enter("getSnapshotGroupList", bool(onSnapshotList)) ? onSnapshotList(list, key, byLdev)
                                                             : 1;
}
int HDSFakeImplementer::addToSnapshotGroup() {
  return enter("addToSnapshotGroup", bool(onAddToSnapshotGroup)) ? onAddToSnapshotGroup() : 1;
}
int HDSFakeImplementer::modifySnapshot(const std::map<std::string, std::string>& keys,
                                       const std::string& operation) {
  return enter("modifySnapshot", bool(onModify)) ? onModify(keys, operation) : 1;
}
int HDSFakeImplementer::deleteSnapshot(const std::string& ldev, const std::string& mu) {
  return enter("deleteSnapshot", bool(onDeleteSnapshot)) ? onDeleteSnapshot(ldev, mu) : 1;
}
int HDSFakeImplementer::getCopyGroup(std::vector<HDSCopyGroup>& groups,
                                     const std::string& copyGroupName) {
  return enter("getCopyGroup", bool(onCopyGroup)) ? onCopyGroup(groups, copyGroupName) : 1;
}

int HDSFakeImplementer::eachItem(size_t count, const std::function<int(size_t)>& one,
                                 std::vector<bool>& done) {
  done.assign(count, false);
  int firstCode = 0;
  std::string firstText;
  bool failed = false;
  for (size_t i = 0; i < count; ++i) {
    done[i] = one(i) == 0;
    if (done[i] || failed) continue;
    failed = true;
    getErrorCodeString(firstCode, firstText);
  }
  if (!failed) return 0;
  setErrorCodeString(firstCode, firstText);
  return 1;
}
int HDSFakeImplementer::deleteSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                                            std::vector<bool>& done) {
  return eachItem(
      pairs.size(), [&](size_t i) { return deleteSnapshot(pairs[i].pvol, pairs[i].mu); }, done);
}
int HDSFakeImplementer::resyncSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                                            std::vector<bool>& done) {
  return eachItem(
      pairs.size(),
      [&](size_t i) {
        return modifySnapshot({{"P_LDEV_NUM", pairs[i].pvol}, {"MU_NUM", pairs[i].mu}}, "resync");
      },
      done);
}

// Operations no handler test scripts: calling one fails the test.
#define ZR_UNSCRIPTED(name, ...) \
  int HDSFakeImplementer::name(__VA_ARGS__) { return enter(#name, false), 1; }
// clang-format off
ZR_UNSCRIPTED(getMaxLdevNumber, int&)
ZR_UNSCRIPTED(getLdevSpan, int, int, std::vector<HDSLdevInfo>&)
ZR_UNSCRIPTED(listLdevsAt, const std::vector<std::string>&, std::map<std::string, HDSLdevInfo>&)
ZR_UNSCRIPTED(getLdevList, std::vector<HDSLdevInfo>&, const std::map<int, std::string>&)
ZR_UNSCRIPTED(createSvols, const NewLdevWatch&)
ZR_UNSCRIPTED(deleteSvols, const std::string&)
ZR_UNSCRIPTED(unmapFromResourceGroup, const std::string&, const std::string&,
              const HDSResourceType&)
ZR_UNSCRIPTED(addToResourceGroup, const std::string&, const HDSResourceType&)
ZR_UNSCRIPTED(mapToResourceGroup, const std::string&, const std::string&, const HDSResourceType&)
ZR_UNSCRIPTED(deleteFromResourceGroup, const std::string&, const HDSResourceType&)
ZR_UNSCRIPTED(mapSnapshot, const std::string&, const std::string&, const std::string&)
ZR_UNSCRIPTED(unmapSnapshot, const std::string&, const std::string&)
ZR_UNSCRIPTED(mapSnapshotBatch, const std::vector<HDSSnapshotPairRef>&, std::vector<bool>&)
ZR_UNSCRIPTED(unmapSnapshotBatch, const std::vector<HDSSnapshotPairRef>&, std::vector<bool>&)
ZR_UNSCRIPTED(deleteSvolBatch, const std::vector<std::string>&, int, std::vector<bool>&)
ZR_UNSCRIPTED(modifySvolLabel, const std::vector<ZRHDSSnapInfo>&, bool)
ZR_UNSCRIPTED(getLunsForHostGroup, const std::string&, const std::string&,
              std::vector<HDSLunInfo>&)
ZR_UNSCRIPTED(mapLdevToHostGroup, const std::string&, const std::string&, const std::string&)
ZR_UNSCRIPTED(createHostGroup, const std::string&, const std::string&)
ZR_UNSCRIPTED(deleteHostGroup, const std::string&, const std::string&)
ZR_UNSCRIPTED(getPortHostGroupList, const std::string&, const std::string&, HDSPortInfo&, bool,
              const std::string&, const bool&)
ZR_UNSCRIPTED(getHostGroupInfo, const std::string&, const std::string&, HDSHostGroupInfo&)
ZR_UNSCRIPTED(getPortList, std::vector<HDSPortInfo>&)
ZR_UNSCRIPTED(getPortLoginWWNList, const std::string&, HDSPortInfo&)
ZR_UNSCRIPTED(getHostGroupOfCommandDevice, std::string&)
ZR_UNSCRIPTED(unmapLdevFromHostGroup, const std::string&, const std::string&, const std::string&)
ZR_UNSCRIPTED(getQMarkerForCopyGroup, const std::string&, std::string&)
ZR_UNSCRIPTED(pairSyncWait, const std::string&, const std::string&, const int&, bool&)
// clang-format on
#undef ZR_UNSCRIPTED
