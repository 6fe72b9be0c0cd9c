#include "host/testing/FakeOSUtil.h"

#include <cstring>

#include "host/testing/FakeSnapInfo.h"

namespace {

std::vector<std::string> listOf(const char* const* items) {
  std::vector<std::string> out;
  if (items == nullptr) return out;
  for (; *items != nullptr; ++items) out.emplace_back(*items);
  return out;
}

std::string textOf(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

}  // namespace

FakeOSUtil::~FakeOSUtil() = default;

bool FakeOSUtil::enter(const char* op) {
  ++m_calls[op];
  if (m_failNext.erase(op) > 0) return true;
  return m_failAlways.count(op) > 0;
}

int FakeOSUtil::refreshSystemBus(const char* option, const char* const* first,
                                 const char* const* second) {
  std::lock_guard<std::mutex> g(m_mu);
  bool fail = enter("refreshSystemBus");
  m_refreshCalls.push_back(
      RefreshCall{option != nullptr, textOf(option), listOf(first), listOf(second)});
  return fail ? 0 : m_refreshRc;
}

int FakeOSUtil::getDeviceList(const char* hostId, const char* vendor, char separator,
                              int bufferSize, char* buffer) {
  std::lock_guard<std::mutex> g(m_mu);
  bool fail = enter("getDeviceList");
  m_deviceListCalls.push_back(
      DeviceListCall{textOf(hostId), textOf(vendor), separator, bufferSize});
  if (fail) return -1;
  const std::string text = m_deviceTexts.front();
  int needed = static_cast<int>(text.size()) + 1;
  if (m_deviceListTooSmall) return bufferSize + 4096;
  if (buffer == nullptr || bufferSize < needed) return needed;
  if (m_deviceTexts.size() > 1) m_deviceTexts.pop_front();
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return 0;
}

bool FakeOSUtil::hbaListCommon(char* names, short* namesLength, char* types, short* typesLength,
                               short* third) {
  short needNames = static_cast<short>(m_hbaNames.empty() ? 0 : m_hbaNames.size() + 1);
  short needTypes = static_cast<short>(m_hbaTypes.size());
  if (third != nullptr) *third = 0;
  if (names == nullptr) {
    if (namesLength != nullptr) *namesLength = needNames;
    if (typesLength != nullptr) *typesLength = needTypes;
    return needNames > 0;
  }
  if (namesLength == nullptr || *namesLength < needNames) return false;
  std::memcpy(names, m_hbaNames.c_str(), static_cast<size_t>(needNames));
  *namesLength = needNames;
  if (types != nullptr && typesLength != nullptr) {
    short n = *typesLength < needTypes ? *typesLength : needTypes;
    if (n > 0) std::memcpy(types, m_hbaTypes.data(), static_cast<size_t>(n));
    *typesLength = n;
  }
  return true;
}

bool FakeOSUtil::detectHbaList(const char* /*reserved*/, const char* /*second*/, char* names,
                               short* namesLength, char* types, short* typesLength, short* third) {
  std::lock_guard<std::mutex> g(m_mu);
  bool fail = enter("detectHbaList");
  m_hbaListHosts.emplace_back();
  if (fail) {
    if (namesLength != nullptr) *namesLength = 0;
    if (typesLength != nullptr) *typesLength = 0;
    return false;
  }
  return hbaListCommon(names, namesLength, types, typesLength, third);
}

bool FakeOSUtil::detectHbaListForHost(const char* hostName, const char* /*second*/, char* names,
                                      short* namesLength, char* types, short* typesLength,
                                      short* third) {
  std::lock_guard<std::mutex> g(m_mu);
  bool fail = enter("detectHbaListForHost");
  m_hbaListHosts.push_back(textOf(hostName));
  if (fail) {
    if (namesLength != nullptr) *namesLength = 0;
    if (typesLength != nullptr) *typesLength = 0;
    return false;
  }
  return hbaListCommon(names, namesLength, types, typesLength, third);
}

bool FakeOSUtil::detectHba(const char* host, const char* /*second*/, char* buffer, short* length,
                           bool& isIscsi) {
  std::lock_guard<std::mutex> g(m_mu);
  bool fail = enter("detectHba");
  m_hbaHosts.push_back(textOf(host));
  if (fail || m_hbaName.empty()) {
    if (length != nullptr) *length = 0;
    return false;
  }
  short needed = static_cast<short>(m_hbaName.size() + 1);
  if (buffer == nullptr || length == nullptr || *length < needed) {
    if (length != nullptr) *length = needed;
    return false;
  }
  std::memcpy(buffer, m_hbaName.c_str(), static_cast<size_t>(needed));
  *length = needed;
  isIscsi = m_hbaIscsi;
  return true;
}

long FakeOSUtil::getHostNumber() {
  std::lock_guard<std::mutex> g(m_mu);
  enter("getHostNumber");
  return m_hostNumber;
}

bool FakeOSUtil::executeOnRemoteMA(const std::string& mediaAgentName) {
  std::function<bool(const std::string&)> handler;
  {
    std::lock_guard<std::mutex> g(m_mu);
    bool fail = enter("executeOnRemoteMA");
    m_remoteCalls.push_back(mediaAgentName);
    if (fail) return false;
    handler = m_remote;
  }
  return handler ? handler(mediaAgentName) : false;
}

int FakeOSUtil::getPageInfoForVMwareDevice(const char* sourceHostPath, const char* lunUuid,
                                           const char* pageKind, int applicationId,
                                           int installationId, int pageCount, char separator,
                                           int bufferSize, char* buffer) {
  std::lock_guard<std::mutex> g(m_mu);
  bool fail = enter("getPageInfoForVMwareDevice");
  m_pageCalls.push_back(PageInfoCall{textOf(sourceHostPath), textOf(lunUuid), textOf(pageKind),
                                     applicationId, installationId, pageCount, separator,
                                     bufferSize});
  if (fail) return 1;
  if (m_pageRc != 0) return m_pageRc;
  if (buffer != nullptr && bufferSize > 0) {
    size_t n = m_pageText.size() < static_cast<size_t>(bufferSize - 1)
                   ? m_pageText.size()
                   : static_cast<size_t>(bufferSize - 1);
    std::memcpy(buffer, m_pageText.data(), n);
    buffer[n] = '\0';
  }
  return 0;
}

int FakeOSUtil::cloneSnaps(const std::vector<ZRSO::SnapInfo*>& snaps,
                           std::vector<ZRSO::SnapInfo*>* clones) {
  std::lock_guard<std::mutex> g(m_mu);
  if (enter("cloneSnaps") || clones == nullptr) return 0;
  std::vector<ZRSO::SnapInfo*> made;
  for (ZRSO::SnapInfo* s : snaps) {
    auto* fake = dynamic_cast<FakeSnapInfo*>(s);
    if (fake == nullptr) return 0;
    m_clones.emplace_back(new FakeSnapInfo(*fake));
    if (m_cloneAdjust) m_cloneAdjust(*m_clones.back());
    made.push_back(m_clones.back().get());
  }
  *clones = made;
  return 1;
}

// ---- faults ----

void FakeOSUtil::failOn(const std::string& op) {
  std::lock_guard<std::mutex> g(m_mu);
  m_failAlways.insert(op);
}
void FakeOSUtil::failOnce(const std::string& op) {
  std::lock_guard<std::mutex> g(m_mu);
  m_failNext.insert(op);
}
void FakeOSUtil::clearFail(const std::string& op) {
  std::lock_guard<std::mutex> g(m_mu);
  m_failAlways.erase(op);
  m_failNext.erase(op);
}
int FakeOSUtil::callCount(const std::string& op) const {
  std::lock_guard<std::mutex> g(m_mu);
  auto it = m_calls.find(op);
  return it != m_calls.end() ? it->second : 0;
}

// ---- script ----

void FakeOSUtil::setRefreshResult(int rc) {
  std::lock_guard<std::mutex> g(m_mu);
  m_refreshRc = rc;
}
void FakeOSUtil::setDevices(const std::vector<std::string>& devices) {
  std::string text;
  for (const std::string& d : devices) text += d + "*";
  setDeviceListText(text);
}
void FakeOSUtil::setDeviceListText(const std::string& text) {
  std::lock_guard<std::mutex> g(m_mu);
  m_deviceTextsInitial = false;
  m_deviceTexts.assign(1, text);
}
void FakeOSUtil::queueDeviceListText(const std::string& text) {
  std::lock_guard<std::mutex> g(m_mu);
  // The first queued text replaces the initial empty answer.
  if (m_deviceTextsInitial) {
    m_deviceTextsInitial = false;
    m_deviceTexts.assign(1, text);
    return;
  }
  m_deviceTexts.push_back(text);
}
void FakeOSUtil::setDeviceListAlwaysTooSmall(bool on) {
  std::lock_guard<std::mutex> g(m_mu);
  m_deviceListTooSmall = on;
}
void FakeOSUtil::setHbaList(const std::vector<std::string>& names, const std::vector<char>& types) {
  std::lock_guard<std::mutex> g(m_mu);
  m_hbaNames.clear();
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) m_hbaNames += ",";
    m_hbaNames += names[i];
  }
  m_hbaTypes = types;
}
void FakeOSUtil::setHba(const std::string& name, bool isIscsi) {
  std::lock_guard<std::mutex> g(m_mu);
  m_hbaName = name;
  m_hbaIscsi = isIscsi;
}
void FakeOSUtil::setHostNumber(long n) {
  std::lock_guard<std::mutex> g(m_mu);
  m_hostNumber = n;
}
void FakeOSUtil::setRemoteHandler(std::function<bool(const std::string&)> handler) {
  std::lock_guard<std::mutex> g(m_mu);
  m_remote = std::move(handler);
}
void FakeOSUtil::setPageInfoReply(int rc, const std::string& text) {
  std::lock_guard<std::mutex> g(m_mu);
  m_pageRc = rc;
  m_pageText = text;
}
void FakeOSUtil::setCloneAdjuster(std::function<void(FakeSnapInfo&)> adjust) {
  std::lock_guard<std::mutex> g(m_mu);
  m_cloneAdjust = std::move(adjust);
}

// ---- observations ----

int FakeOSUtil::rescanCount() const {
  std::lock_guard<std::mutex> g(m_mu);
  return static_cast<int>(m_refreshCalls.size());
}
std::vector<FakeOSUtil::RefreshCall> FakeOSUtil::refreshCalls() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_refreshCalls;
}
std::vector<FakeOSUtil::DeviceListCall> FakeOSUtil::deviceListCalls() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_deviceListCalls;
}
std::vector<std::string> FakeOSUtil::hbaListHosts() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_hbaListHosts;
}
std::vector<std::string> FakeOSUtil::hbaHosts() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_hbaHosts;
}
std::vector<std::string> FakeOSUtil::remoteCalls() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_remoteCalls;
}
std::vector<FakeOSUtil::PageInfoCall> FakeOSUtil::pageInfoCalls() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_pageCalls;
}
std::vector<FakeSnapInfo*> FakeOSUtil::clones() const {
  std::lock_guard<std::mutex> g(m_mu);
  std::vector<FakeSnapInfo*> out;
  for (const auto& c : m_clones) out.push_back(c.get());
  return out;
}
