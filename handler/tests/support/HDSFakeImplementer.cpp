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

int HDSFakeImplementer::getMaxLdevNumber(int&) { return enter("getMaxLdevNumber", false), 1; }
int HDSFakeImplementer::getLdevList(std::vector<HDSLdevInfo>&, const std::map<int, std::string>&) {
  return enter("getLdevList", false), 1;
}
int HDSFakeImplementer::createSvols() { return enter("createSvols", false), 1; }
int HDSFakeImplementer::deleteSvols(const std::string&) { return enter("deleteSvols", false), 1; }
int HDSFakeImplementer::unmapFromResourceGroup(const std::string&, const std::string&,
                                               const HDSResourceType&) {
  return enter("unmapFromResourceGroup", false), 1;
}
int HDSFakeImplementer::addToResourceGroup(const std::string&, const HDSResourceType&) {
  return enter("addToResourceGroup", false), 1;
}
int HDSFakeImplementer::mapToResourceGroup(const std::string&, const std::string&,
                                           const HDSResourceType&) {
  return enter("mapToResourceGroup", false), 1;
}
int HDSFakeImplementer::deleteFromResourceGroup(const std::string&, const HDSResourceType&) {
  return enter("deleteFromResourceGroup", false), 1;
}
int HDSFakeImplementer::mapSnapshot(const std::string&, const std::string&, const std::string&) {
  return enter("mapSnapshot", false), 1;
}
int HDSFakeImplementer::unmapSnapshot(const std::string&, const std::string&) {
  return enter("unmapSnapshot", false), 1;
}
int HDSFakeImplementer::modifySvolLabel(const std::vector<ZRHDSSnapInfo>&, bool) {
  return enter("modifySvolLabel", false), 1;
}
int HDSFakeImplementer::getLunsForHostGroup(const std::string&, const std::string&,
                                            std::vector<HDSLunInfo>&) {
  return enter("getLunsForHostGroup", false), 1;
}
int HDSFakeImplementer::mapLdevToHostGroup(const std::string&, const std::string&,
                                           const std::string&) {
  return enter("mapLdevToHostGroup", false), 1;
}
int HDSFakeImplementer::createHostGroup(const std::string&, const std::string&) {
  return enter("createHostGroup", false), 1;
}
int HDSFakeImplementer::deleteHostGroup(const std::string&, const std::string&) {
  return enter("deleteHostGroup", false), 1;
}
int HDSFakeImplementer::getPortHostGroupList(const std::string&, const std::string&, HDSPortInfo&,
                                             bool, const std::string&, const bool&) {
  return enter("getPortHostGroupList", false), 1;
}
int HDSFakeImplementer::getHostGroupInfo(const std::string&, const std::string&,
                                         HDSHostGroupInfo&) {
  return enter("getHostGroupInfo", false), 1;
}
int HDSFakeImplementer::getPortList(std::vector<HDSPortInfo>&) {
  return enter("getPortList", false), 1;
}
int HDSFakeImplementer::getPortLoginWWNList(const std::string&, HDSPortInfo&) {
  return enter("getPortLoginWWNList", false), 1;
}
int HDSFakeImplementer::getHostGroupOfCommandDevice(std::string&) {
  return enter("getHostGroupOfCommandDevice", false), 1;
}
int HDSFakeImplementer::unmapLdevFromHostGroup(const std::string&, const std::string&,
                                               const std::string&) {
  return enter("unmapLdevFromHostGroup", false), 1;
}
int HDSFakeImplementer::getQMarkerForCopyGroup(const std::string&, std::string&) {
  return enter("getQMarkerForCopyGroup", false), 1;
}
int HDSFakeImplementer::pairSyncWait(const std::string&, const std::string&, const int&, bool&) {
  return enter("pairSyncWait", false), 1;
}
