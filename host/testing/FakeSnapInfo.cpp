#include "host/testing/FakeSnapInfo.h"

#include <cstdarg>
#include <cstring>

#include "host/ZrVFormat.h"

namespace {

std::string textOf(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

}  // namespace

FakeSnapInfo::FakeSnapInfo(const FakeSnapInfo& other) : ZRSO::SnapInfo() {
  std::lock_guard<std::mutex> g(other.m_mu);
  m_s = other.m_s;
}

FakeSnapInfo::~FakeSnapInfo() = default;

bool FakeSnapInfo::enter(const char* op) {
  ++m_calls[op];
  if (m_s.failNext.erase(op) > 0) return true;
  return m_s.failAlways.count(op) > 0;
}

int FakeSnapInfo::put(const std::string& text, char* buffer, int capacity) const {
  if (buffer == nullptr || capacity <= 0) return 0;
  size_t cap = static_cast<size_t>(capacity);
  size_t n = text.size();
  if (m_s.fillWholeBuffer) {
    // A text as long as the capacity fills every granted byte and leaves
    // no terminator, so a caller that trusts one reads past the buffer.
    if (n >= cap) {
      std::memcpy(buffer, text.data(), cap);
      return capacity;
    }
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
  }
  if (n > cap - 1) n = cap - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

// ---- ZRSO::SnapInfo ----

#define FAKE_BUFFER_GETTER(NAME, FIELD, LENTYPE)              \
  int FakeSnapInfo::NAME(char* buffer, LENTYPE* length) {     \
    std::lock_guard<std::mutex> g(m_mu);                      \
    if (enter(#NAME)) return 1;                               \
    int cap = length != nullptr ? *length : 0;                \
    int n = put(m_s.FIELD, buffer, cap);                      \
    if (length != nullptr) *length = static_cast<LENTYPE>(n); \
    return 0;                                                 \
  }

FAKE_BUFFER_GETTER(getSnapName, snapName, short)
FAKE_BUFFER_GETTER(getArrayDetails, arrayDetails, short)
FAKE_BUFFER_GETTER(getHostIdentifier, hostIdentifier, short)
FAKE_BUFFER_GETTER(getSourceDevicePath, sourceDevicePath, short)
#undef FAKE_BUFFER_GETTER

void FakeSnapInfo::setSnapFlag(unsigned int flag) {
  std::lock_guard<std::mutex> g(m_mu);
  enter("setSnapFlag");
  m_s.snapFlags |= flag;
}

int FakeSnapInfo::getStatus() {
  std::lock_guard<std::mutex> g(m_mu);
  enter("getStatus");
  return m_s.status;
}

void FakeSnapInfo::setStatus(int status) {
  std::lock_guard<std::mutex> g(m_mu);
  enter("setStatus");
  m_s.status = status;
}

void FakeSnapInfo::setSnapDevicePath(const char* path) {
  std::lock_guard<std::mutex> g(m_mu);
  enter("setSnapDevicePath");
  m_s.snapDevicePath = textOf(path);
}

int FakeSnapInfo::getMetadata(int id, char* buffer, short* length) {
  std::lock_guard<std::mutex> g(m_mu);
  if (enter("getMetadata")) return 1;
  auto it = m_s.metadata.find(id);
  int cap = length != nullptr ? *length : 0;
  int n = put(it != m_s.metadata.end() ? it->second : std::string(), buffer, cap);
  if (length != nullptr) *length = static_cast<short>(n);
  return 0;
}

int FakeSnapInfo::setMetadata(int id, const char* text) {
  std::lock_guard<std::mutex> g(m_mu);
  if (enter("setMetadata")) return 1;
  if (text == nullptr)
    m_s.metadata.erase(id);
  else
    m_s.metadata[id] = text;
  return 0;
}

void FakeSnapInfo::setError(int code, const char* text) {
  std::lock_guard<std::mutex> g(m_mu);
  enter("setError");
  m_s.errorCode = code;
  m_s.errorText = textOf(text);
  ++m_s.setErrorCalls;
}

void FakeSnapInfo::getError(int* code, char* text, int size) {
  std::lock_guard<std::mutex> g(m_mu);
  enter("getError");
  if (code != nullptr) *code = m_s.errorCode;
  put(m_s.errorText, text, size);
}

void FakeSnapInfo::message(int level, const char* text) {
  std::lock_guard<std::mutex> g(m_mu);
  enter("message");
  m_s.messages.emplace_back(level, textOf(text));
}

void FakeSnapInfo::log(int level, const char* function, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string text = ZrVFormat::vformat(format, ap);
  va_end(ap);
  std::lock_guard<std::mutex> g(m_mu);
  enter("log");
  m_s.logs.push_back(LogLine{level, textOf(function), text});
}

int FakeSnapInfo::getSnapConfigInt(const char* name, int* value) {
  std::lock_guard<std::mutex> g(m_mu);
  if (enter("getSnapConfigInt")) return 1;
  auto it = m_s.snapConfigInts.find(textOf(name));
  if (it == m_s.snapConfigInts.end()) return 1;
  if (value != nullptr) *value = it->second;
  return 0;
}

int FakeSnapInfo::getSnapConfigValue(const char* name, char* buffer, int* length) {
  std::lock_guard<std::mutex> g(m_mu);
  if (enter("getSnapConfigValue")) return 1;
  auto it = m_s.snapConfigTexts.find(textOf(name));
  if (it == m_s.snapConfigTexts.end()) return 1;
  int n = put(it->second, buffer, length != nullptr ? *length : 0);
  if (length != nullptr) *length = n;
  return 0;
}

int FakeSnapInfo::setMetadataByType(int id, const char* text) {
  std::lock_guard<std::mutex> g(m_mu);
  if (enter("setMetadataByType")) return 1;
  if (text == nullptr)
    m_s.metadata.erase(id);
  else
    m_s.metadata[id] = text;
  return 0;
}

int FakeSnapInfo::getValueInt(int id, int* value) {
  std::lock_guard<std::mutex> g(m_mu);
  if (enter("getValueInt")) return 1;
  auto it = m_s.valueInts.find(id);
  if (it == m_s.valueInts.end()) return 1;
  if (value != nullptr) *value = it->second;
  return 0;
}

int FakeSnapInfo::getValueString(int id, char* buffer, short* length) {
  std::lock_guard<std::mutex> g(m_mu);
  if (enter("getValueString")) return 1;
  auto it = m_s.valueStrings.find(id);
  if (it == m_s.valueStrings.end()) return 1;
  int n = put(it->second, buffer, length != nullptr ? *length : 0);
  if (length != nullptr) *length = static_cast<short>(n);
  return 0;
}

int FakeSnapInfo::getMetadataBlob(int id, char* buffer, int* length) {
  std::lock_guard<std::mutex> g(m_mu);
  if (enter("getMetadataBlob")) return 1;
  auto it = m_s.metadata.find(id);
  const std::string text = it != m_s.metadata.end() ? it->second : std::string();
  if (length == nullptr) return 1;
  if (buffer == nullptr) {
    *length = static_cast<int>(text.size());
    return 0;
  }
  size_t cap = *length > 0 ? static_cast<size_t>(*length) : 0;
  size_t n = text.size() < cap ? text.size() : cap;
  std::memcpy(buffer, text.data(), n);
  if (n < cap) buffer[n] = '\0';
  *length = static_cast<int>(n);
  return 0;
}

int FakeSnapInfo::getControlHostId() {
  std::lock_guard<std::mutex> g(m_mu);
  enter("getControlHostId");
  return m_s.controlHostId;
}

bool FakeSnapInfo::isReplicationEnabled() {
  std::lock_guard<std::mutex> g(m_mu);
  enter("isReplicationEnabled");
  return m_s.replicationEnabled;
}

int FakeSnapInfo::getSnapId() {
  std::lock_guard<std::mutex> g(m_mu);
  enter("getSnapId");
  return m_s.snapId;
}

bool FakeSnapInfo::isPostSnapEnabled() {
  std::lock_guard<std::mutex> g(m_mu);
  enter("isPostSnapEnabled");
  return m_s.postSnapEnabled;
}

int FakeSnapInfo::getReplicationType() {
  std::lock_guard<std::mutex> g(m_mu);
  enter("getReplicationType");
  return m_s.replicationType;
}

void FakeSnapInfo::setReplicationType(int type) {
  std::lock_guard<std::mutex> g(m_mu);
  enter("setReplicationType");
  m_s.replicationType = type;
}

int FakeSnapInfo::setArrayInformation(const char* serial, const char* secondSerial, int flag) {
  std::lock_guard<std::mutex> g(m_mu);
  bool fail = enter("setArrayInformation");
  m_s.arrayInformationCalls.push_back(
      ArrayInformationCall{textOf(serial), textOf(secondSerial), flag});
  if (fail) return 1;
  if (m_s.arrayInformationRc == 0 && m_s.controlHostAfterArrayInformation >= 0)
    m_s.controlHostId = m_s.controlHostAfterArrayInformation;
  return m_s.arrayInformationRc;
}

int FakeSnapInfo::getClientTypeInfo(std::string* out) {
  std::lock_guard<std::mutex> g(m_mu);
  if (enter("getClientTypeInfo")) return 1;
  if (out != nullptr) *out = m_s.clientTypeInfo;
  return 0;
}

int FakeSnapInfo::getSnapConfigString(const char* name, std::string* value) {
  std::lock_guard<std::mutex> g(m_mu);
  if (enter("getSnapConfigString")) return 1;
  auto it = m_s.snapConfigTexts.find(textOf(name));
  if (it == m_s.snapConfigTexts.end()) return 1;
  if (value != nullptr) *value = it->second;
  return 0;
}

int FakeSnapInfo::getDeviceDetectionMode() {
  std::lock_guard<std::mutex> g(m_mu);
  enter("getDeviceDetectionMode");
  return m_s.deviceDetectionMode;
}

int FakeSnapInfo::getDeviceDetectionInfo(std::string* first, std::string* second) {
  std::lock_guard<std::mutex> g(m_mu);
  if (enter("getDeviceDetectionInfo")) return 0;
  if (first != nullptr) *first = m_s.detectionFirst;
  if (second != nullptr) *second = m_s.detectionSecond;
  return 1;
}

int FakeSnapInfo::getLocalOSUtil(ZRSO::ZROSUtil** util) {
  std::function<ZRSO::ZROSUtil*()> factory;
  {
    std::lock_guard<std::mutex> g(m_mu);
    if (enter("getLocalOSUtil")) return 0;
    factory = m_s.localOSUtilFactory;
  }
  ZRSO::ZROSUtil* made = factory ? factory() : nullptr;
  if (util != nullptr) *util = made;
  return made != nullptr ? 1 : 0;
}

// ---- faults ----

void FakeSnapInfo::failOn(const std::string& op) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.failAlways.insert(op);
}
void FakeSnapInfo::failOnce(const std::string& op) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.failNext.insert(op);
}
void FakeSnapInfo::clearFail(const std::string& op) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.failAlways.erase(op);
  m_s.failNext.erase(op);
}
void FakeSnapInfo::setFillWholeBuffer(bool on) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.fillWholeBuffer = on;
}
int FakeSnapInfo::callCount(const std::string& op) const {
  std::lock_guard<std::mutex> g(m_mu);
  auto it = m_calls.find(op);
  return it != m_calls.end() ? it->second : 0;
}

// ---- setters ----

#define FAKE_SETTER(NAME, TYPE, FIELD)   \
  void FakeSnapInfo::NAME(TYPE v) {      \
    std::lock_guard<std::mutex> g(m_mu); \
    m_s.FIELD = v;                       \
  }
FAKE_SETTER(setSnapName, const std::string&, snapName)
FAKE_SETTER(setArrayDetailsText, const std::string&, arrayDetails)
FAKE_SETTER(setHostIdentifierText, const std::string&, hostIdentifier)
FAKE_SETTER(setSourceDevicePathText, const std::string&, sourceDevicePath)
FAKE_SETTER(setSnapFlags, unsigned int, snapFlags)
FAKE_SETTER(setControlHostId, int, controlHostId)
FAKE_SETTER(setReplicationEnabled, bool, replicationEnabled)
FAKE_SETTER(setSnapId, int, snapId)
FAKE_SETTER(setPostSnapEnabled, bool, postSnapEnabled)
FAKE_SETTER(setClientTypeText, const std::string&, clientTypeInfo)
FAKE_SETTER(setDeviceDetectionModeValue, int, deviceDetectionMode)
#undef FAKE_SETTER

void FakeSnapInfo::setMetadataText(int id, const std::string& v) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.metadata[id] = v;
}
void FakeSnapInfo::clearMetadataText(int id) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.metadata.erase(id);
}
void FakeSnapInfo::setErrorPair(int code, const std::string& text) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.errorCode = code;
  m_s.errorText = text;
}
void FakeSnapInfo::setSnapConfigIntValue(const std::string& name, int v) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.snapConfigInts[name] = v;
}
void FakeSnapInfo::setSnapConfigText(const std::string& name, const std::string& v) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.snapConfigTexts[name] = v;
}
void FakeSnapInfo::setValueIntFor(int id, int v) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.valueInts[id] = v;
}
void FakeSnapInfo::setValueStringFor(int id, const std::string& v) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.valueStrings[id] = v;
}
void FakeSnapInfo::setDeviceDetectionInfoTexts(const std::string& first,
                                               const std::string& second) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.detectionFirst = first;
  m_s.detectionSecond = second;
}
void FakeSnapInfo::setArrayInformationResult(int rc, int controlHostAfter) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.arrayInformationRc = rc;
  m_s.controlHostAfterArrayInformation = controlHostAfter;
}
void FakeSnapInfo::setLocalOSUtilFactory(std::function<ZRSO::ZROSUtil*()> factory) {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.localOSUtilFactory = std::move(factory);
}

// ---- getters ----

std::string FakeSnapInfo::snapName() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_s.snapName;
}
std::string FakeSnapInfo::snapDevicePath() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_s.snapDevicePath;
}
unsigned int FakeSnapInfo::snapFlags() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_s.snapFlags;
}
bool FakeSnapInfo::hasMetadata(int id) const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_s.metadata.count(id) > 0;
}
std::string FakeSnapInfo::metadata(int id) const {
  std::lock_guard<std::mutex> g(m_mu);
  auto it = m_s.metadata.find(id);
  return it != m_s.metadata.end() ? it->second : std::string();
}
int FakeSnapInfo::errorCode() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_s.errorCode;
}
std::string FakeSnapInfo::errorText() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_s.errorText;
}
int FakeSnapInfo::setErrorCalls() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_s.setErrorCalls;
}
std::vector<std::pair<int, std::string>> FakeSnapInfo::messages() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_s.messages;
}
std::vector<FakeSnapInfo::LogLine> FakeSnapInfo::logs() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_s.logs;
}
std::vector<std::string> FakeSnapInfo::logTexts(int level) const {
  std::lock_guard<std::mutex> g(m_mu);
  std::vector<std::string> out;
  for (const LogLine& l : m_s.logs)
    if (level < 0 || l.level == level) out.push_back(l.text);
  return out;
}
bool FakeSnapInfo::logged(const std::string& needle) const {
  std::lock_guard<std::mutex> g(m_mu);
  for (const LogLine& l : m_s.logs)
    if (l.text.find(needle) != std::string::npos) return true;
  return false;
}
void FakeSnapInfo::clearLogs() {
  std::lock_guard<std::mutex> g(m_mu);
  m_s.logs.clear();
  m_s.messages.clear();
}
std::vector<FakeSnapInfo::ArrayInformationCall> FakeSnapInfo::arrayInformationCalls() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_s.arrayInformationCalls;
}
int FakeSnapInfo::replicationType() const {
  std::lock_guard<std::mutex> g(m_mu);
  return m_s.replicationType;
}
