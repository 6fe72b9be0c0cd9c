// HDSFakeImplementer: a scripted array command interface for handler paths
// the simulator cannot reach (an implementation that reports itself not
// initialised, failures that leave code 0, answers of a given shape).
//
// Each operation the handler calls has a hook; an operation called without
// one is a test failure (ADD_FAILURE) and answers 1, so a script never
// succeeds by omission. Every call is recorded by name in calls.
#ifndef ZR_HANDLER_TESTS_SUPPORT_HDSFAKEIMPLEMENTER_H
#define ZR_HANDLER_TESTS_SUPPORT_HDSFAKEIMPLEMENTER_H

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "array/HDSCommandImplementer.h"
#include "handler/HDSCommandHandler.h"

class HDSFakeImplementer : public ZRHDSCommandImplementer {
 public:
  HDSFakeImplementer(ZRSO::SnapInfo*& logger, ZRHDSCommandHandlerInputParams& params);
  ~HDSFakeImplementer() override;

  // A factory that builds a fake, lets script set it up, and stores its
  // address in *built (the handler owns it).
  static ZRHDSImplementerFactory factory(std::function<void(HDSFakeImplementer&)> script,
                                         HDSFakeImplementer** built = nullptr);
  // Sets the error pair as a failing operation of the CCI implementation
  // does; returns 1 for `return fake.failWith(...)` in hooks.
  int failWith(int code, const std::string& text);
  int count(const std::string& op) const;

  std::vector<std::string> calls;
  // Set by a script to play an implementation whose set-up failed.
  bool initialized = true;

  std::function<int(bool)> onLogin;
  std::function<int()> onLogout;
  std::function<int()> onResourceGroupFromLdev;
  std::function<int(std::map<std::string, ResourceGroupInfo>&, bool)> onResourceGroupInfo;
  std::function<int(std::vector<HDSLdevInfo>&)> onLdevInfo;
  std::function<int(const std::string&, std::vector<HDSPairInfo>&)> onRemotePairs;
  std::function<int(std::vector<HDSPoolInfo>&)> onPoolList;
  std::function<int(HDSRaidqryInfo&)> onRaidqry;
  std::function<int(const std::string&, bool, bool)> onLockUnlock;
  std::function<int(std::vector<HDSSnapshotGroupInfo>&, const std::string&, bool)> onSnapshotList;
  std::function<int()> onAddToSnapshotGroup;
  std::function<int(const std::map<std::string, std::string>&, const std::string&)> onModify;
  std::function<int(const std::string&, const std::string&)> onDeleteSnapshot;
  std::function<int(std::vector<HDSCopyGroup>&, const std::string&)> onCopyGroup;

  int initialize() override;
  int login(bool force) override;
  int logout() override;
  int getResourceGroupFromLdev() override;
  int getResourceGroupInfo(std::map<std::string, ResourceGroupInfo>& groups,
                           bool keyOption) override;
  int getLdevInfo(std::vector<HDSLdevInfo>& ldevs) override;
  int getRemotePairInfoForHostGroup(const std::string& hostGroup,
                                    std::vector<HDSPairInfo>& pairs) override;
  int getPoolList(std::vector<HDSPoolInfo>& pools) override;
  int getCCIRaidqryInfo(HDSRaidqryInfo& info) override;
  int lockUnlockResourceGroup(std::string groupName, bool unlock, bool noName) override;
  int getSnapshotGroupList(std::vector<HDSSnapshotGroupInfo>& list, const std::string& key,
                           const bool& byLdev) override;
  int addToSnapshotGroup() override;
  int modifySnapshot(const std::map<std::string, std::string>& keys,
                     const std::string& operation) override;
  int deleteSnapshot(const std::string& ldev, const std::string& mu) override;
  int getCopyGroup(std::vector<HDSCopyGroup>& groups, const std::string& copyGroupName) override;
  // Item by item through deleteSnapshot and modifySnapshot (resync) and
  // their hooks; the error pair is that of the first failed item.
  int deleteSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                          std::vector<bool>& done) override;
  int resyncSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                          std::vector<bool>& done) override;

  // Not scripted: the handler operations under test never call these.
  int getMaxLdevNumber(int& maxLdev) override;
  int getLdevSpan(int first, int count, std::vector<HDSLdevInfo>& ldevs) override;
  int listLdevsAt(const std::vector<std::string>& ids,
                  std::map<std::string, HDSLdevInfo>& listed) override;
  int getLdevList(std::vector<HDSLdevInfo>& ldevs,
                  const std::map<int, std::string>& filter) override;
  int createSvols(const NewLdevWatch& watch) override;
  int deleteSvols(const std::string& ldev) override;
  int unmapFromResourceGroup(const std::string& resource, const std::string& virtualResource,
                             const HDSResourceType& kind) override;
  int addToResourceGroup(const std::string& resource, const HDSResourceType& kind) override;
  int mapToResourceGroup(const std::string& resource, const std::string& virtualResource,
                         const HDSResourceType& kind) override;
  int deleteFromResourceGroup(const std::string& resource, const HDSResourceType& kind) override;
  int mapSnapshot(const std::string& pvol, const std::string& target,
                  const std::string& mu) override;
  int unmapSnapshot(const std::string& pvol, const std::string& mu) override;
  int mapSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                       std::vector<bool>& done) override;
  int unmapSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                         std::vector<bool>& done) override;
  int deleteSvolBatch(const std::vector<std::string>& ldevs, int pauseSeconds,
                      std::vector<bool>& done) override;
  int modifySvolLabel(const std::vector<ZRHDSSnapInfo>& snaps, bool revert) override;
  int getLunsForHostGroup(const std::string& port, const std::string& hostGroup,
                          std::vector<HDSLunInfo>& luns) override;
  int mapLdevToHostGroup(const std::string& ldev, const std::string& port,
                         const std::string& hostGroup) override;
  int createHostGroup(const std::string& port, const std::string& name) override;
  int deleteHostGroup(const std::string& port, const std::string& hostGroup) override;
  int getPortHostGroupList(const std::string& port, const std::string& hostGroupName,
                           HDSPortInfo& info, bool collectWwns, const std::string& wwn,
                           const bool& ownResourceGroupOnly) override;
  int getHostGroupInfo(const std::string& port, const std::string& hostGroupNumber,
                       HDSHostGroupInfo& info) override;
  int getPortList(std::vector<HDSPortInfo>& ports) override;
  int getPortLoginWWNList(const std::string& port, HDSPortInfo& info) override;
  int getHostGroupOfCommandDevice(std::string& hostGroup) override;
  int unmapLdevFromHostGroup(const std::string& ldev, const std::string& port,
                             const std::string& hostGroup) override;
  int getQMarkerForCopyGroup(const std::string& copyGroup, std::string& qmarker) override;
  int pairSyncWait(const std::string& copyGroup, const std::string& qmarker, const int& seconds,
                   bool& committed) override;

 private:
  // Records the call; false (after ADD_FAILURE) when no hook is set.
  bool enter(const char* op, bool scripted);
  // Runs one(i) for each item; done[i] when it returned 0.
  int eachItem(size_t count, const std::function<int(size_t)>& one, std::vector<bool>& done);
};

#endif  // ZR_HANDLER_TESTS_SUPPORT_HDSFAKEIMPLEMENTER_H
