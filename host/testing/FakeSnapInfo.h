#pragma once
// In-memory ZRSO::SnapInfo for tests. Every operation works on plain state
// that tests set and inspect through public setters and getters; captured
// log lines and messages are kept in order.
//
// Faults are named switches: failOn("getMetadata") makes that operation
// report failure (its own failure result) until clearFail; failOnce makes it
// fail on the next call only. setFillWholeBuffer(true) makes every buffer
// getter fill the capacity it was granted completely, without a terminator
// when the text is that long, as a careless host might.
//
// Thread-safe: every member takes the object's mutex.
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/ZRSOSnapInfo.h"

class FakeSnapInfo : public ZRSO::SnapInfo {
 public:
  struct LogLine {
    int level;
    std::string function;
    std::string text;
  };
  struct ArrayInformationCall {
    std::string serial;
    std::string secondSerial;
    int flag;
  };

  FakeSnapInfo() = default;
  // A copy carries the whole state (not the captured calls' counters).
  FakeSnapInfo(const FakeSnapInfo& other);
  FakeSnapInfo& operator=(const FakeSnapInfo&) = delete;
  ~FakeSnapInfo() override;

  // ---- ZRSO::SnapInfo ----
  int getSnapName(char* buffer, short* length) override;
  int getArrayDetails(char* buffer, short* length) override;
  int getHostIdentifier(char* buffer, short* length) override;
  void setSnapFlag(unsigned int flag) override;
  int getStatus() override;
  void setStatus(int status) override;
  int getSourceDevicePath(char* buffer, short* length) override;
  void setSnapDevicePath(const char* path) override;
  int getMetadata(int id, char* buffer, short* length) override;
  int setMetadata(int id, const char* text) override;
  void setError(int code, const char* text) override;
  void getError(int* code, char* text, int size) override;
  void message(int level, const char* text) override;
  void log(int level, const char* function, const char* format, ...) override
      __attribute__((format(printf, 4, 5)));
  int getSnapConfigInt(const char* name, int* value) override;
  int getSnapConfigValue(const char* name, char* buffer, int* length) override;
  int setMetadataByType(int id, const char* text) override;
  int getValueInt(int id, int* value) override;
  int getValueString(int id, char* buffer, short* length) override;
  int getMetadataBlob(int id, char* buffer, int* length) override;
  int getControlHostId() override;
  bool isReplicationEnabled() override;
  int getSnapId() override;
  bool isPostSnapEnabled() override;
  int getReplicationType() override;
  void setReplicationType(int type) override;
  int setArrayInformation(const char* serial, const char* secondSerial, int flag) override;
  int getClientTypeInfo(std::string* out) override;
  int getSnapConfigString(const char* name, std::string* value) override;
  int getDeviceDetectionMode() override;
  int getDeviceDetectionInfo(std::string* first, std::string* second) override;
  int getLocalOSUtil(ZRSO::ZROSUtil** util) override;

  // ---- faults ----
  // op is the operation's name as declared above ("getMetadata").
  void failOn(const std::string& op);
  void failOnce(const std::string& op);
  void clearFail(const std::string& op);
  void setFillWholeBuffer(bool on);
  // How often op was called.
  int callCount(const std::string& op) const;

  // ---- state: setters ----
  void setSnapName(const std::string& v);
  void setArrayDetailsText(const std::string& v);
  void setHostIdentifierText(const std::string& v);
  void setSourceDevicePathText(const std::string& v);
  void setSnapFlags(unsigned int v);
  void setMetadataText(int id, const std::string& v);
  void clearMetadataText(int id);
  void setErrorPair(int code, const std::string& text);
  void setSnapConfigIntValue(const std::string& name, int v);
  void setSnapConfigText(const std::string& name, const std::string& v);  // Value and String
  void setValueIntFor(int id, int v);
  void setValueStringFor(int id, const std::string& v);
  void setControlHostId(int v);
  void setReplicationEnabled(bool v);
  void setSnapId(int v);
  void setPostSnapEnabled(bool v);
  void setClientTypeText(const std::string& v);
  void setDeviceDetectionModeValue(int v);
  void setDeviceDetectionInfoTexts(const std::string& first, const std::string& second);
  // Result of setArrayInformation (0 ok); when controlHostAfter >= 0 a
  // successful call also changes the control host id to it.
  void setArrayInformationResult(int rc, int controlHostAfter = -1);
  // Makes getLocalOSUtil return factory() (null: failure).
  void setLocalOSUtilFactory(std::function<ZRSO::ZROSUtil*()> factory);

  // ---- state: getters ----
  std::string snapName() const;
  std::string snapDevicePath() const;
  unsigned int snapFlags() const;
  bool hasMetadata(int id) const;
  std::string metadata(int id) const;  // "" when absent
  int errorCode() const;
  std::string errorText() const;
  int setErrorCalls() const;
  std::vector<std::pair<int, std::string>> messages() const;
  std::vector<LogLine> logs() const;
  // Captured log texts of one level (-1: every level).
  std::vector<std::string> logTexts(int level = -1) const;
  // True when some captured log text contains needle.
  bool logged(const std::string& needle) const;
  void clearLogs();
  std::vector<ArrayInformationCall> arrayInformationCalls() const;
  int replicationType() const;

 private:
  struct State {
    std::string snapName;
    std::string arrayDetails;
    std::string hostIdentifier;
    std::string sourceDevicePath;
    std::string snapDevicePath;
    unsigned int snapFlags = 0;
    int status = 0;
    std::map<int, std::string> metadata;
    int errorCode = 0;
    std::string errorText;
    int setErrorCalls = 0;
    std::vector<std::pair<int, std::string>> messages;
    std::vector<LogLine> logs;
    std::map<std::string, int> snapConfigInts;
    std::map<std::string, std::string> snapConfigTexts;
    std::map<int, int> valueInts;
    std::map<int, std::string> valueStrings;
    int controlHostId = 0;
    bool replicationEnabled = false;
    int snapId = 0;
    bool postSnapEnabled = false;
    int replicationType = 0;
    int arrayInformationRc = 0;
    int controlHostAfterArrayInformation = -1;
    std::vector<ArrayInformationCall> arrayInformationCalls;
    std::string clientTypeInfo;
    int deviceDetectionMode = 0;
    std::string detectionFirst;
    std::string detectionSecond;
    std::function<ZRSO::ZROSUtil*()> localOSUtilFactory;
    std::set<std::string> failAlways;
    std::set<std::string> failNext;
    bool fillWholeBuffer = false;
  };

  // Counts the call and tells whether it must fail now. REQUIRES: m_mu held.
  bool enter(const char* op);
  // Copies text into buffer of capacity bytes per the fill mode; returns
  // the count of text bytes written. REQUIRES: m_mu held.
  int put(const std::string& text, char* buffer, int capacity) const;

  mutable std::mutex m_mu;
  State m_s;
  std::map<std::string, int> m_calls;
};
