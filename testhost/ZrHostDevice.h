#pragma once
// The test host's device objects: what a job says about one source device
// (ZrDeviceSpec, fixed for the job) and the host object the plug-in is
// handed (an in-memory ZRSO::SnapInfo that keeps status, error, metadata and
// log lines). A device's changing part (ZrDeviceState) can be taken out and
// put back, and both parts travel as JSON to a second test host that runs a
// remote request on its own objects.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/testing/FakeSnapInfo.h"
#include "json/zrjson.h"

// What the host's database holds for one array: the array-details text a
// device bound to it hands out, and the control host that serves it (-1:
// binding leaves the device's control host alone).
struct ZrArrayBinding {
  std::string details;
  int controlHostId = -1;
  std::map<std::string, std::string> configTexts;  // job settings the record sets
};

struct ZrDeviceSpec {
  std::string name;          // the snap's name
  std::string sourcePath;    // OS path of the source device
  std::string arrayDetails;  // the host's array-details text
  int controlHostId = 1;
  int snapId = 0;
  int replicationType = 0;  // 1 TrueCopy, 2 Universal Replicator, 4 GAD
  bool replicationEnabled = false;
  bool postSnapEnabled = false;
  std::map<std::string, std::string> configTexts;  // job settings by name
  std::map<std::string, int> configInts;
  std::map<int, int> values;  // getValueInt ids
  // The arrays a device can be bound to (setArrayInformation), by serial,
  // or by "<serial>/<second serial>" for a virtual storage machine (its
  // virtual serial and the physical array's).
  std::map<std::string, ZrArrayBinding> arrays;
};

struct ZrDeviceState {
  int status = 0;
  int errorCode = 0;
  std::string errorText;
  int replicationType = 0;
  std::map<int, std::string> metadata;
};

// The array-details text of the host's database for an array, in the form
// the host hands it out.
std::string zrArrayDetailsText(const std::string& serial, const std::string& user,
                               const std::string& password, int engineId = 73);

class ZrHostDevice {
 public:
  explicit ZrHostDevice(const ZrDeviceSpec& plan);

  const ZrDeviceSpec& plan() const { return m_spec; }
  FakeSnapInfo& object() { return *m_object; }
  ZRSO::SnapInfo* snapInfo() { return m_object.get(); }

  ZrDeviceState state() const;
  // Replaces status, error, replication type and every metadata entry.
  void setState(const ZrDeviceState& s);

 private:
  ZrDeviceSpec m_spec;
  std::unique_ptr<FakeSnapInfo> m_object;  // a ZrBoundSnapInfo
};

// The highest metadata id the host keeps.
constexpr int kZrMaxMetadataId = 255;

zrjson::Object zrSpecToJson(const ZrDeviceSpec& plan);
ZrDeviceSpec zrSpecFromJson(const zrjson::Object& o);
zrjson::Object zrStateToJson(const ZrDeviceState& s);
ZrDeviceState zrStateFromJson(const zrjson::Object& o);

// Reading JSON that this program did not build: each getter gives def when
// the key is missing or of another kind, so a malformed file never aborts.
std::string zrJsonText(const zrjson::Object& o, const std::string& key,
                       const std::string& def = "");
long long zrJsonInt(const zrjson::Object& o, const std::string& key, long long def = 0);
bool zrJsonBool(const zrjson::Object& o, const std::string& key, bool def = false);
// The objects of an array member (elements of other kinds are skipped).
std::vector<const zrjson::Object*> zrJsonObjects(const zrjson::Object& o, const std::string& key);
// The strings of an array member (elements of other kinds are skipped).
std::vector<std::string> zrJsonTexts(const zrjson::Object& o, const std::string& key);
// Members of an object member, each (key, value), in key order.
std::vector<std::pair<std::string, const zrjson::Value*>> zrJsonMembers(const zrjson::Object& o,
                                                                        const std::string& key);
// A value as a pointer, whether the library's containers hand out values or
// pointers to them.
inline const zrjson::Value* zrJsonPtr(const zrjson::Value* v) { return v; }
inline const zrjson::Value* zrJsonPtr(const zrjson::Value& v) { return &v; }
// The member of key, or null.
const zrjson::Value* zrJsonMember(const zrjson::Object& o, const std::string& key);
// True when key holds a container (array or object) with content.
bool zrJsonFilled(const zrjson::Object& o, const std::string& key);
// The elements of an array, in order.
std::vector<const zrjson::Value*> zrJsonElements(const zrjson::Array& a);
zrjson::Value zrJsonNumber(long long n);
zrjson::Value zrJsonBoolean(bool b);
zrjson::Value zrJsonTextArray(const std::vector<std::string>& items);
