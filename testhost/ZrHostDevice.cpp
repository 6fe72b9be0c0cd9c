#include "testhost/ZrHostDevice.h"

#include <cmath>

std::string zrArrayDetailsText(const std::string& serial, const std::string& user,
                               const std::string& password, int engineId) {
  // The password runs up to the "engineName" entry, so it may hold commas.
  return "{hostUserName:" + user + ",hostPassword:" + password +
         ",engineName:Hitachi Thin Image,arrayId:" + serial +
         ",engineId:" + std::to_string(engineId) + "}";
}

namespace {

// The in-memory device object, which a binding to an array of the host's
// database also gives that array's details and control host, as the host
// does.
class ZrBoundSnapInfo : public FakeSnapInfo {
 public:
  explicit ZrBoundSnapInfo(const std::map<std::string, ZrArrayBinding>& arrays)
      : m_arrays(arrays) {}
  int setArrayInformation(const char* serial, const char* secondSerial, int flag) override {
    const int rc = FakeSnapInfo::setArrayInformation(serial, secondSerial, flag);
    const std::string first = serial != nullptr ? serial : "";
    const std::string second = secondSerial != nullptr ? secondSerial : "";
    auto it = m_arrays.find(first + "/" + second);
    if (it == m_arrays.end()) it = m_arrays.find(first);
    if (rc != 0 || it == m_arrays.end()) return rc;
    setArrayDetailsText(it->second.details);
    if (it->second.controlHostId >= 0) setControlHostId(it->second.controlHostId);
    for (const auto& kv : it->second.configTexts) setSnapConfigText(kv.first, kv.second);
    return rc;
  }

 private:
  std::map<std::string, ZrArrayBinding> m_arrays;
};

}  // namespace

ZrHostDevice::ZrHostDevice(const ZrDeviceSpec& plan)
    : m_spec(plan), m_object(new ZrBoundSnapInfo(plan.arrays)) {
  FakeSnapInfo& o = *m_object;
  o.setSnapName(plan.name);
  o.setSourceDevicePathText(plan.sourcePath);
  o.setArrayDetailsText(plan.arrayDetails);
  o.setControlHostId(plan.controlHostId);
  o.setSnapId(plan.snapId);
  o.setReplicationType(plan.replicationType);
  o.setReplicationEnabled(plan.replicationEnabled);
  o.setPostSnapEnabled(plan.postSnapEnabled);
  for (const auto& kv : plan.configTexts) o.setSnapConfigText(kv.first, kv.second);
  for (const auto& kv : plan.configInts) o.setSnapConfigIntValue(kv.first, kv.second);
  for (const auto& kv : plan.values) o.setValueIntFor(kv.first, kv.second);
}

ZrDeviceState ZrHostDevice::state() const {
  ZrDeviceState s;
  FakeSnapInfo& o = *m_object;
  s.status = o.getStatus();
  s.errorCode = o.errorCode();
  s.errorText = o.errorText();
  s.replicationType = o.replicationType();
  for (int id = 0; id <= kZrMaxMetadataId; ++id) {
    if (o.hasMetadata(id)) s.metadata[id] = o.metadata(id);
  }
  return s;
}

void ZrHostDevice::setState(const ZrDeviceState& s) {
  FakeSnapInfo& o = *m_object;
  o.setStatus(s.status);
  o.setErrorPair(s.errorCode, s.errorText);
  o.setReplicationType(s.replicationType);
  for (int id = 0; id <= kZrMaxMetadataId; ++id) {
    auto it = s.metadata.find(id);
    if (it != s.metadata.end())
      o.setMetadataText(id, it->second);
    else if (o.hasMetadata(id))
      o.clearMetadataText(id);
  }
}

// ---- JSON ----

const zrjson::Value* zrJsonMember(const zrjson::Object& o, const std::string& key) {
  for (const auto& kv : o.kv_map())
    if (kv.first == key) return zrJsonPtr(kv.second);
  return nullptr;
}

bool zrJsonFilled(const zrjson::Object& o, const std::string& key) {
  const zrjson::Value* v = zrJsonMember(o, key);
  return v != nullptr && (v->is<zrjson::Array>() || v->is<zrjson::Object>()) && !v->empty();
}

std::vector<const zrjson::Value*> zrJsonElements(const zrjson::Array& a) {
  std::vector<const zrjson::Value*> out;
  for (const auto& v : a.values()) out.push_back(zrJsonPtr(v));
  return out;
}

zrjson::Value zrJsonNumber(long long n) { return zrjson::Value(static_cast<zrjson::Number>(n)); }

zrjson::Value zrJsonBoolean(bool b) {
  zrjson::Value v;
  v.import(static_cast<zrjson::Boolean>(b));
  return v;
}

zrjson::Value zrJsonTextArray(const std::vector<std::string>& items) {
  zrjson::Array a;
  for (const std::string& s : items) a << zrjson::Value(s);
  return zrjson::Value(a);
}

std::string zrJsonText(const zrjson::Object& o, const std::string& key, const std::string& def) {
  if (!o.has<zrjson::String>(key)) return def;
  const zrjson::Value* v = zrJsonMember(o, key);
  return v->empty() ? std::string() : v->get<zrjson::String>();
}

long long zrJsonInt(const zrjson::Object& o, const std::string& key, long long def) {
  if (!o.has<zrjson::Number>(key)) return def;
  return static_cast<long long>(std::llround(o.get<zrjson::Number>(key)));
}

bool zrJsonBool(const zrjson::Object& o, const std::string& key, bool def) {
  if (!o.has<zrjson::Boolean>(key)) return def;
  return o.get<zrjson::Boolean>(key);
}

std::vector<const zrjson::Object*> zrJsonObjects(const zrjson::Object& o, const std::string& key) {
  std::vector<const zrjson::Object*> out;
  if (!o.has<zrjson::Array>(key) || !zrJsonFilled(o, key)) return out;
  for (const zrjson::Value* v : zrJsonElements(o.get<zrjson::Array>(key))) {
    if (v->is<zrjson::Object>() && !v->empty()) out.push_back(&v->get<zrjson::Object>());
  }
  return out;
}

std::vector<std::string> zrJsonTexts(const zrjson::Object& o, const std::string& key) {
  std::vector<std::string> out;
  if (!o.has<zrjson::Array>(key) || !zrJsonFilled(o, key)) return out;
  for (const zrjson::Value* v : zrJsonElements(o.get<zrjson::Array>(key))) {
    if (v->is<zrjson::String>()) out.push_back(v->empty() ? "" : v->get<zrjson::String>());
  }
  return out;
}

std::vector<std::pair<std::string, const zrjson::Value*>> zrJsonMembers(const zrjson::Object& o,
                                                                        const std::string& key) {
  std::vector<std::pair<std::string, const zrjson::Value*>> out;
  if (!o.has<zrjson::Object>(key) || !zrJsonFilled(o, key)) return out;
  for (const auto& kv : o.get<zrjson::Object>(key).kv_map())
    out.emplace_back(kv.first, zrJsonPtr(kv.second));
  return out;
}

zrjson::Object zrSpecToJson(const ZrDeviceSpec& plan) {
  zrjson::Object o;
  o.import("name", zrjson::Value(plan.name));
  o.import("sourcePath", zrjson::Value(plan.sourcePath));
  o.import("arrayDetails", zrjson::Value(plan.arrayDetails));
  o.import("controlHostId", zrJsonNumber(plan.controlHostId));
  o.import("snapId", zrJsonNumber(plan.snapId));
  o.import("replicationType", zrJsonNumber(plan.replicationType));
  o.import("replicationEnabled", zrJsonBoolean(plan.replicationEnabled));
  o.import("postSnapEnabled", zrJsonBoolean(plan.postSnapEnabled));
  zrjson::Object texts, ints, values;
  for (const auto& kv : plan.configTexts) texts.import(kv.first, zrjson::Value(kv.second));
  for (const auto& kv : plan.configInts) ints.import(kv.first, zrJsonNumber(kv.second));
  for (const auto& kv : plan.values)
    values.import(std::to_string(kv.first), zrJsonNumber(kv.second));
  zrjson::Object arrays;
  for (const auto& kv : plan.arrays) {
    zrjson::Object b;
    b.import("details", zrjson::Value(kv.second.details));
    b.import("controlHostId", zrJsonNumber(kv.second.controlHostId));
    zrjson::Object config;
    for (const auto& c : kv.second.configTexts) config.import(c.first, zrjson::Value(c.second));
    b.import("config", zrjson::Value(config));
    arrays.import(kv.first, zrjson::Value(b));
  }
  o.import("arrays", zrjson::Value(arrays));
  o.import("config", zrjson::Value(texts));
  o.import("configInts", zrjson::Value(ints));
  o.import("values", zrjson::Value(values));
  return o;
}

ZrDeviceSpec zrSpecFromJson(const zrjson::Object& o) {
  ZrDeviceSpec s;
  s.name = zrJsonText(o, "name");
  s.sourcePath = zrJsonText(o, "sourcePath");
  s.arrayDetails = zrJsonText(o, "arrayDetails");
  s.controlHostId = static_cast<int>(zrJsonInt(o, "controlHostId", 1));
  s.snapId = static_cast<int>(zrJsonInt(o, "snapId", 0));
  s.replicationType = static_cast<int>(zrJsonInt(o, "replicationType", 0));
  s.replicationEnabled = zrJsonBool(o, "replicationEnabled");
  s.postSnapEnabled = zrJsonBool(o, "postSnapEnabled");
  for (const auto& kv : zrJsonMembers(o, "config")) {
    if (kv.second->is<zrjson::String>() && !kv.second->empty())
      s.configTexts[kv.first] = kv.second->get<zrjson::String>();
    else if (kv.second->is<zrjson::Number>())
      s.configInts[kv.first] = static_cast<int>(std::llround(kv.second->get<zrjson::Number>()));
  }
  for (const auto& kv : zrJsonMembers(o, "arrays")) {
    if (!kv.second->is<zrjson::Object>() || kv.second->empty()) continue;
    const zrjson::Object& b = kv.second->get<zrjson::Object>();
    s.arrays[kv.first].details = zrJsonText(b, "details");
    s.arrays[kv.first].controlHostId = static_cast<int>(zrJsonInt(b, "controlHostId", -1));
    for (const auto& c : zrJsonMembers(b, "config"))
      if (c.second->is<zrjson::String>())
        s.arrays[kv.first].configTexts[c.first] =
            c.second->empty() ? "" : c.second->get<zrjson::String>();
  }
  for (const auto& kv : zrJsonMembers(o, "configInts")) {
    if (kv.second->is<zrjson::Number>())
      s.configInts[kv.first] = static_cast<int>(std::llround(kv.second->get<zrjson::Number>()));
  }
  for (const auto& kv : zrJsonMembers(o, "values")) {
    if (kv.second->is<zrjson::Number>())
      s.values[std::atoi(kv.first.c_str())] =
          static_cast<int>(std::llround(kv.second->get<zrjson::Number>()));
  }
  return s;
}

zrjson::Object zrStateToJson(const ZrDeviceState& s) {
  zrjson::Object o, metadata;
  o.import("status", zrJsonNumber(s.status));
  o.import("errorCode", zrJsonNumber(s.errorCode));
  o.import("errorText", zrjson::Value(s.errorText));
  o.import("replicationType", zrJsonNumber(s.replicationType));
  for (const auto& kv : s.metadata)
    metadata.import(std::to_string(kv.first), zrjson::Value(kv.second));
  o.import("metadata", zrjson::Value(metadata));
  return o;
}

ZrDeviceState zrStateFromJson(const zrjson::Object& o) {
  ZrDeviceState s;
  s.status = static_cast<int>(zrJsonInt(o, "status"));
  s.errorCode = static_cast<int>(zrJsonInt(o, "errorCode"));
  s.errorText = zrJsonText(o, "errorText");
  s.replicationType = static_cast<int>(zrJsonInt(o, "replicationType"));
  for (const auto& kv : zrJsonMembers(o, "metadata")) {
    if (kv.second->is<zrjson::String>())
      s.metadata[std::atoi(kv.first.c_str())] =
          kv.second->empty() ? "" : kv.second->get<zrjson::String>();
  }
  return s;
}
