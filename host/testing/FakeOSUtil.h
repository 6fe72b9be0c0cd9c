#pragma once
// Scriptable ZRSO::ZROSUtil for tests. Answers come from public setters;
// every call is counted and its arguments recorded. Faults are named
// switches as in FakeSnapInfo: failOn("getDeviceList").
//
// Thread-safe: every member takes the object's mutex (except the remote
// handler, which runs without it so that it may call back into the fake).
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/ZRSOSnapInfo.h"

class FakeSnapInfo;

class FakeOSUtil : public ZRSO::ZROSUtil {
 public:
  struct RefreshCall {
    bool optionGiven;
    std::string option;
    std::vector<std::string> first;
    std::vector<std::string> second;
  };
  struct DeviceListCall {
    std::string hostId;
    std::string vendor;
    char separator;
    int bufferSize;
  };
  struct PageInfoCall {
    std::string sourceHostPath;
    std::string lunUuid;
    std::string pageKind;
    int applicationId;
    int installationId;
    int pageCount;
    char separator;
    int bufferSize;
  };

  FakeOSUtil() = default;
  ~FakeOSUtil() override;

  // ---- ZRSO::ZROSUtil ----
  int refreshSystemBus(const char* option, const char* const* first,
                       const char* const* second) override;
  int getDeviceList(const char* hostId, const char* vendor, char separator, int bufferSize,
                    char* buffer) override;
  bool detectHbaList(const char* reserved, const char* second, char* names, short* namesLength,
                     char* types, short* typesLength, short* third) override;
  bool detectHba(const char* host, const char* second, char* buffer, short* length,
                 bool& isIscsi) override;
  long getHostNumber() override;
  bool executeOnRemoteMA(const std::string& mediaAgentName) override;
  int getPageInfoForVMwareDevice(const char* sourceHostPath, const char* lunUuid,
                                 const char* pageKind, int applicationId, int installationId,
                                 int pageCount, char separator, int bufferSize,
                                 char* buffer) override;
  bool detectHbaListForHost(const char* hostName, const char* second, char* names,
                            short* namesLength, char* types, short* typesLength,
                            short* third) override;
  int cloneSnaps(const std::vector<ZRSO::SnapInfo*>& snaps,
                 std::vector<ZRSO::SnapInfo*>* clones) override;

  // ---- faults ----
  void failOn(const std::string& op);
  void failOnce(const std::string& op);
  void clearFail(const std::string& op);
  int callCount(const std::string& op) const;

  // ---- script ----
  void setRefreshResult(int rc);  // default 1 (success)
  // The device list answered by every call: items joined by '*' with a '*'
  // after each item.
  void setDevices(const std::vector<std::string>& devices);
  // The raw text answered by every call (separator already in it).
  void setDeviceListText(const std::string& text);
  // Texts answered by successive calls; the last one stays.
  void queueDeviceListText(const std::string& text);
  // getDeviceList always claims to need a bigger buffer.
  void setDeviceListAlwaysTooSmall(bool on);
  // Initiators for detectHbaList / detectHbaListForHost: names with their
  // kinds (0 Fibre Channel, 1 iSCSI).
  void setHbaList(const std::vector<std::string>& names, const std::vector<char>& types);
  // Answer of detectHba.
  void setHba(const std::string& name, bool isIscsi);
  void setHostNumber(long n);
  // Runs for executeOnRemoteMA; default: no handler, which fails.
  void setRemoteHandler(std::function<bool(const std::string&)> handler);
  void setPageInfoReply(int rc, const std::string& text);
  // Clones are copies of FakeSnapInfo inputs; adjust runs on each clone.
  void setCloneAdjuster(std::function<void(FakeSnapInfo&)> adjust);

  // ---- observations ----
  int rescanCount() const;
  std::vector<RefreshCall> refreshCalls() const;
  std::vector<DeviceListCall> deviceListCalls() const;
  std::vector<std::string> hbaListHosts() const;  // "" for detectHbaList
  std::vector<std::string> hbaHosts() const;      // host argument of detectHba
  std::vector<std::string> remoteCalls() const;
  std::vector<PageInfoCall> pageInfoCalls() const;
  // Clones made so far (owned by the fake).
  std::vector<FakeSnapInfo*> clones() const;

 private:
  bool enter(const char* op);
  bool hbaListCommon(char* names, short* namesLength, char* types, short* typesLength,
                     short* third);

  mutable std::mutex m_mu;
  std::map<std::string, int> m_calls;
  std::set<std::string> m_failAlways;
  std::set<std::string> m_failNext;
  int m_refreshRc = 1;
  std::vector<RefreshCall> m_refreshCalls;
  std::deque<std::string> m_deviceTexts{std::string()};
  bool m_deviceTextsInitial = true;
  bool m_deviceListTooSmall = false;
  std::vector<DeviceListCall> m_deviceListCalls;
  std::string m_hbaNames;
  std::vector<char> m_hbaTypes;
  std::vector<std::string> m_hbaListHosts;
  std::string m_hbaName;
  bool m_hbaIscsi = false;
  std::vector<std::string> m_hbaHosts;
  long m_hostNumber = 0x1F;
  std::function<bool(const std::string&)> m_remote;
  std::vector<std::string> m_remoteCalls;
  int m_pageRc = 0;
  std::string m_pageText;
  std::vector<PageInfoCall> m_pageCalls;
  std::function<void(FakeSnapInfo&)> m_cloneAdjust;
  std::vector<std::unique_ptr<FakeSnapInfo>> m_clones;
};
