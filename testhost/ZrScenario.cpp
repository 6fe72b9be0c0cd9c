#include "testhost/ZrScenario.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

const char kPrefix[] = "zrso_";

// A value's text as a settings store holds it: strings as they are, numbers
// in decimal, booleans as 1 or 0.
bool scalarText(const zrjson::Value& v, std::string& out) {
  if (v.is<zrjson::String>()) {
    out = v.empty() ? "" : v.get<zrjson::String>();
    return true;
  }
  if (v.is<zrjson::Number>()) {
    out = std::to_string(std::llround(v.get<zrjson::Number>()));
    return true;
  }
  if (v.is<zrjson::Boolean>()) {
    out = v.get<zrjson::Boolean>() ? "1" : "0";
    return true;
  }
  return false;
}

// "config" members: strings are text settings, numbers and booleans integer
// settings.
void readConfig(const zrjson::Object& o, std::map<std::string, std::string>& texts,
                std::map<std::string, int>& ints) {
  for (const auto& kv : zrJsonMembers(o, "config")) {
    std::string text;
    if (kv.second->is<zrjson::String>()) {
      scalarText(*kv.second, texts[kv.first]);
    } else if (scalarText(*kv.second, text)) {
      ints[kv.first] = std::atoi(text.c_str());
    }
  }
}

// An object member keyed by device index ("0", "1", ...).
template <class T>
bool byIndex(const zrjson::Object& o, const std::string& key, std::map<int, T>& out,
             std::string* error);

template <>
bool byIndex<int>(const zrjson::Object& o, const std::string& key, std::map<int, int>& out,
                  std::string* error) {
  for (const auto& kv : zrJsonMembers(o, key)) {
    if (!kv.second->is<zrjson::Number>()) {
      *error = key + "[" + kv.first + "] is not a number";
      return false;
    }
    out[std::atoi(kv.first.c_str())] =
        static_cast<int>(std::llround(kv.second->get<zrjson::Number>()));
  }
  return true;
}

template <>
bool byIndex<std::string>(const zrjson::Object& o, const std::string& key,
                          std::map<int, std::string>& out, std::string* error) {
  for (const auto& kv : zrJsonMembers(o, key)) {
    if (!scalarText(*kv.second, out[std::atoi(kv.first.c_str())])) {
      *error = key + "[" + kv.first + "] is not a text";
      return false;
    }
  }
  return true;
}

bool readExpectation(const zrjson::Object& e, ZrExpectation& x, std::string* error) {
  x.hasResult = e.has<zrjson::Number>("result");
  x.result = static_cast<int>(zrJsonInt(e, "result"));
  x.status = static_cast<int>(zrJsonInt(e, "status", -1));
  if (!byIndex(e, "statuses", x.statuses, error)) return false;
  if (!byIndex(e, "errorCode", x.errorCodes, error)) return false;
  if (!byIndex(e, "errorText", x.errorTexts, error)) return false;
  for (const auto& kv : zrJsonMembers(e, "metadataKeys")) {
    if (!kv.second->is<zrjson::Array>() || kv.second->empty()) continue;
    for (const zrjson::Value* k : zrJsonElements(kv.second->get<zrjson::Array>())) {
      std::string key;
      if (scalarText(*k, key)) x.metadataKeys[std::atoi(kv.first.c_str())].push_back(key);
    }
  }
  if (e.has<zrjson::Array>("metadataEmpty") && zrJsonFilled(e, "metadataEmpty")) {
    for (const zrjson::Value* v : zrJsonElements(e.get<zrjson::Array>("metadataEmpty")))
      if (v->is<zrjson::Number>())
        x.metadataEmpty.push_back(static_cast<int>(v->get<zrjson::Number>()));
  }
  x.snapshotPairs = static_cast<int>(zrJsonInt(e, "snapshotPairs", -1));
  x.pairState = zrJsonText(e, "pairState");
  x.svols = static_cast<int>(zrJsonInt(e, "svols", -1));
  x.lunPaths = static_cast<int>(zrJsonInt(e, "lunPaths", -1));
  x.hostDevices = static_cast<int>(zrJsonInt(e, "hostDevices", -1));
  x.remoteRequests = static_cast<int>(zrJsonInt(e, "remoteRequests", -1));
  return true;
}

ccisim::Fault readFault(const zrjson::Object& f) {
  ccisim::Fault x;
  x.kind = zrJsonText(f, "kind", "fail");
  x.tool = zrJsonText(f, "tool");
  x.match = zrJsonText(f, "match");
  x.skip = static_cast<int>(zrJsonInt(f, "skip", 0));
  x.times = static_cast<int>(zrJsonInt(f, "times", 1));
  x.exitCode = static_cast<int>(zrJsonInt(f, "exitCode", 1));
  x.out = zrJsonText(f, "out");
  x.err = zrJsonText(f, "err");
  x.applyEffect = zrJsonBool(f, "applyEffect");
  x.errCnt = static_cast<int>(zrJsonInt(f, "errCnt", 1));
  x.description = zrJsonText(f, "description");
  x.hangMillis = static_cast<int>(zrJsonInt(f, "hangMillis", 0));
  x.hangBefore = zrJsonBool(f, "hangBefore");
  x.garble = zrJsonText(f, "garble");
  return x;
}

bool readArray(const zrjson::Object& a, ZrArraySpec& x, std::string* error) {
  x.serial = zrJsonText(a, "serial");
  if (x.serial.empty()) {
    *error = "an array without \"serial\"";
    return false;
  }
  x.model = zrJsonText(a, "model", x.model);
  x.controlHostId = static_cast<int>(zrJsonInt(a, "controlHostId", -1));
  x.micro = zrJsonText(a, "micro", x.micro);
  for (const zrjson::Object* p : zrJsonObjects(a, "pools")) {
    ccisim::Pool pool;
    pool.id = static_cast<int>(zrJsonInt(*p, "id"));
    pool.name = zrJsonText(*p, "name", "POOL" + std::to_string(pool.id));
    pool.pt = zrJsonText(*p, "type", "HTI");
    pool.usage = static_cast<int>(zrJsonInt(*p, "usage", 10));
    pool.status = zrJsonText(*p, "status", "POLN");
    x.pools.push_back(pool);
  }
  for (const zrjson::Object* l : zrJsonObjects(a, "ldevs")) {
    ccisim::Ldev ldev;
    ldev.id = static_cast<int>(zrJsonInt(*l, "id"));
    ldev.defined = true;
    ldev.capacity = static_cast<uint64_t>(zrJsonInt(*l, "blocks", 2097152));
    ldev.attrs = zrJsonTexts(*l, "attrs");
    if (ldev.attrs.empty()) ldev.attrs = {"CVS", "HDP"};
    ldev.poolId = std::to_string(zrJsonInt(*l, "pool", 0));
    ldev.label = zrJsonText(*l, "label");
    ldev.rsgid = static_cast<int>(zrJsonInt(*l, "resourceGroup", 0));
    ldev.vid = static_cast<int>(zrJsonInt(*l, "virtualId", ccisim::kVidImplicit));
    x.ldevs.push_back(ldev);
  }
  for (const zrjson::Object* p : zrJsonObjects(a, "ports")) {
    ZrPortSpec port;
    port.name = zrJsonText(*p, "name");
    port.wwn = zrJsonText(*p, "wwn", "50060e8007dd3300");
    port.type = zrJsonText(*p, "type", "FIBRE");
    for (const zrjson::Object* g : zrJsonObjects(*p, "hostGroups")) {
      ZrHostGroupSpec hg;
      hg.gid = static_cast<int>(zrJsonInt(*g, "gid"));
      hg.name = zrJsonText(*g, "name", port.name + "-G" + std::to_string(hg.gid));
      hg.wwns = zrJsonTexts(*g, "wwns");
      if (g->has<zrjson::Array>("luns") && zrJsonFilled(*g, "luns")) {
        for (const zrjson::Value* lun : zrJsonElements(g->get<zrjson::Array>("luns"))) {
          if (!lun->is<zrjson::Array>() || lun->empty() || lun->get<zrjson::Array>().size() != 2 ||
              !zrJsonElements(lun->get<zrjson::Array>())[0]->is<zrjson::Number>() ||
              !zrJsonElements(lun->get<zrjson::Array>())[1]->is<zrjson::Number>()) {
            *error = "host group " + hg.name + ": each LUN is [lun, ldev]";
            return false;
          }
          const zrjson::Array& pair = lun->get<zrjson::Array>();
          hg.luns.emplace_back(static_cast<int>(pair.get<zrjson::Number>(0)),
                               static_cast<int>(pair.get<zrjson::Number>(1)));
        }
      }
      port.hostGroups.push_back(hg);
    }
    x.ports.push_back(port);
  }
  for (const zrjson::Object* g : zrJsonObjects(a, "resourceGroups")) {
    ZrArraySpec::ResourceGroup rg;
    rg.name = zrJsonText(*g, "name");
    rg.id = static_cast<int>(zrJsonInt(*g, "id"));
    rg.vSerial = zrJsonText(*g, "vSerial");
    rg.vModel = zrJsonText(*g, "vModel");
    x.resourceGroups.push_back(rg);
  }
  for (const zrjson::Object* r : zrJsonObjects(a, "remotePairs")) {
    ccisim::RemotePair p;
    p.ldev = static_cast<int>(zrJsonInt(*r, "ldev"));
    p.mu = static_cast<int>(zrJsonInt(*r, "mu", 0));
    p.role = zrJsonText(*r, "role", p.role);
    p.status = zrJsonText(*r, "status", p.status);
    p.fence = zrJsonText(*r, "fence", p.fence);
    p.rcuSerial = zrJsonText(*r, "rcuSerial", "----");
    p.partner = zrJsonText(*r, "partner");
    x.remotePairs.push_back(p);
  }
  for (const zrjson::Object* c : zrJsonObjects(a, "copyGroups")) {
    ccisim::CopyGroup g;
    g.name = zrJsonText(*c, "name");
    g.ldevGroup = zrJsonText(*c, "ldevGroup", g.name + "_DG");
    g.mu = zrJsonText(*c, "mu", g.mu);
    g.jid = zrJsonText(*c, "jid", g.jid);
    g.ctg = static_cast<int>(zrJsonInt(*c, "ctg", 0));
    g.commitAfterWaits = static_cast<int>(zrJsonInt(*c, "commitAfterWaits", 0));
    g.alwaysTimeout = zrJsonBool(*c, "alwaysTimeout");
    // Q-markers as the tools print them, in hexadecimal.
    const std::string issued = zrJsonText(*c, "qIssued"), committed = zrJsonText(*c, "qCommitted");
    if (!issued.empty()) g.qIssued = std::strtoull(issued.c_str(), nullptr, 16);
    if (!committed.empty()) g.qCommitted = std::strtoull(committed.c_str(), nullptr, 16);
    x.copyGroups.push_back(g);
  }
  if (a.has<zrjson::Object>("commandDevice")) {
    const zrjson::Object& c = a.get<zrjson::Object>("commandDevice");
    x.commandDevicePath = zrJsonText(c, "path");
    x.commandDeviceLdev = static_cast<int>(zrJsonInt(c, "ldev", -1));
  }
  return true;
}

bool readStep(const zrjson::Object& s, size_t count, const std::string& serial, ZrScenarioStep& x,
              std::string* error) {
  x.call = zrJsonText(s, "call");
  x.title = zrJsonText(s, "title", x.call);
  if (!x.call.empty() && x.call.compare(0, sizeof(kPrefix) - 1, kPrefix) != 0) {
    *error = "step \"" + x.title + "\": \"call\" names no zrso_ export";
    return false;
  }
  if (s.has<zrjson::Array>("devices") && zrJsonFilled(s, "devices")) {
    for (const zrjson::Value* v : zrJsonElements(s.get<zrjson::Array>("devices"))) {
      const long long i = v->is<zrjson::Number>() ? std::llround(v->get<zrjson::Number>()) : -1;
      // Devices the host clones during the run (GAD) follow the
      // scenario's own, so only the runner can tell an index beyond them.
      if (i < 0) {
        *error = "step \"" + x.title + "\": device index out of range";
        return false;
      }
      x.devices.push_back(static_cast<int>(i));
    }
  }
  for (const zrjson::Object* f : zrJsonObjects(s, "faults")) x.faults.push_back(readFault(*f));
  for (const zrjson::Object* c : zrJsonObjects(s, "copyMetadata")) {
    ZrMetadataCopy copy;
    copy.from = static_cast<int>(zrJsonInt(*c, "from", -1));
    copy.to = static_cast<int>(zrJsonInt(*c, "to", -1));
    if (copy.from < 0 || copy.to < 0 || static_cast<size_t>(copy.from) >= count ||
        static_cast<size_t>(copy.to) >= count) {
      *error = "step \"" + x.title + "\": copyMetadata names a device out of range";
      return false;
    }
    if (c->has<zrjson::Array>("ids") && zrJsonFilled(*c, "ids")) {
      for (const zrjson::Value* v : zrJsonElements(c->get<zrjson::Array>("ids")))
        if (v->is<zrjson::Number>()) copy.ids.push_back(static_cast<int>(v->get<zrjson::Number>()));
    }
    if (c->has<zrjson::Array>("as") && zrJsonFilled(*c, "as")) {
      for (const zrjson::Value* v : zrJsonElements(c->get<zrjson::Array>("as")))
        if (v->is<zrjson::Number>()) copy.as.push_back(static_cast<int>(v->get<zrjson::Number>()));
      if (copy.as.size() != copy.ids.size()) {
        *error = "step \"" + x.title + "\": copyMetadata \"as\" must name one id per \"ids\"";
        return false;
      }
    }
    x.metadataCopies.push_back(copy);
  }
  for (const zrjson::Object* c : zrJsonObjects(s, "arrayChanges")) {
    ZrArrayChange change;
    change.kind = zrJsonText(*c, "kind");
    change.serial = zrJsonText(*c, "serial", serial);
    change.ldev = static_cast<int>(zrJsonInt(*c, "ldev", -1));
    change.state = zrJsonText(*c, "state");
    if ((change.kind != "removePair" && change.kind != "setPairState") || change.ldev < 0 ||
        (change.kind == "setPairState" && change.state.empty())) {
      *error = "step \"" + x.title +
               "\": an array change needs a known \"kind\", \"ldev\" and, "
               "to set a pair state, \"state\"";
      return false;
    }
    x.arrayChanges.push_back(change);
  }
  x.clearFaults = zrJsonBool(s, "clearFaults");
  if (s.has<zrjson::Object>("expect") &&
      !readExpectation(s.get<zrjson::Object>("expect"), x.expect, error)) {
    *error = "step \"" + x.title + "\": " + *error;
    return false;
  }
  return true;
}

}  // namespace

bool zrParseScenario(const std::string& text, ZrScenario& out, std::string* error) {
  std::string why;
  std::string* e = error != nullptr ? error : &why;
  zrjson::Object o;
  if (!o.parse(text) || o.empty()) {
    *e = "not a JSON object";
    return false;
  }
  ZrScenario s;
  s.name = zrJsonText(o, "name", "scenario");
  s.description = zrJsonText(o, "description");
  for (const zrjson::Object* a : zrJsonObjects(o, "arrays")) {
    ZrArraySpec plan;
    if (!readArray(*a, plan, e)) return false;
    s.arrays.push_back(plan);
  }
  if (s.arrays.empty()) {
    *e = "no \"arrays\"";
    return false;
  }
  s.clockScale = static_cast<int>(zrJsonInt(o, "clockScale", s.clockScale));
  s.user = zrJsonText(o, "user", s.user);
  s.password = zrJsonText(o, "password", s.password);
  if (o.has<zrjson::Object>("host")) {
    const zrjson::Object& h = o.get<zrjson::Object>("host");
    s.hostName = zrJsonText(h, "name", s.hostName);
    s.initiators = zrJsonTexts(h, "initiators");
    s.hostNumber = static_cast<long>(zrJsonInt(h, "hostNumber", s.hostNumber));
  }
  for (const zrjson::Object* r : zrJsonObjects(o, "remoteAgents")) {
    ZrRemoteAgent agent;
    agent.name = zrJsonText(*r, "name");
    agent.initiators = zrJsonTexts(*r, "initiators");
    agent.hostNumber = static_cast<long>(zrJsonInt(*r, "hostNumber", agent.hostNumber));
    s.remoteAgents.push_back(agent);
  }
  if (o.has<zrjson::Object>("settings")) {
    for (const auto& section : o.get<zrjson::Object>("settings").kv_map()) {
      const zrjson::Value* values = zrJsonPtr(section.second);
      if (!values->is<zrjson::Object>() || values->empty()) continue;
      for (const auto& kv : values->get<zrjson::Object>().kv_map()) {
        if (!scalarText(*zrJsonPtr(kv.second), s.settings[section.first][kv.first])) {
          *e = "setting " + kv.first + " is not a text or number";
          return false;
        }
      }
    }
  }
  if (o.has<zrjson::Object>("job")) {
    const zrjson::Object& j = o.get<zrjson::Object>("job");
    readConfig(j, s.jobTexts, s.jobInts);
    s.subclientId = static_cast<int>(zrJsonInt(j, "subclient", s.subclientId));
    s.clientId = static_cast<int>(zrJsonInt(j, "client", s.clientId));
    s.mountHostId = static_cast<int>(zrJsonInt(j, "mountHost", s.mountHostId));
  }
  for (const zrjson::Object* d : zrJsonObjects(o, "devices")) {
    ZrScenarioDevice dev;
    dev.name = zrJsonText(*d, "name", "snap" + std::to_string(s.devices.size()));
    dev.serial = zrJsonText(*d, "serial", s.arrays.front().serial);
    dev.ldev = static_cast<int>(zrJsonInt(*d, "ldev", -1));
    if (dev.ldev < 0) {
      *e = "device " + dev.name + " without \"ldev\"";
      return false;
    }
    int arrayHost = -1;
    for (const ZrArraySpec& a : s.arrays)
      if (a.serial == dev.serial) arrayHost = a.controlHostId;
    dev.controlHostId =
        static_cast<int>(zrJsonInt(*d, "controlHostId", arrayHost >= 0 ? arrayHost : 1));
    dev.replicationType = static_cast<int>(zrJsonInt(*d, "replicationType", 0));
    dev.replicationEnabled = zrJsonBool(*d, "replicationEnabled");
    dev.postSnapEnabled = zrJsonBool(*d, "postSnapEnabled");
    readConfig(*d, dev.configTexts, dev.configInts);
    s.devices.push_back(dev);
  }
  if (s.devices.empty()) {
    *e = "no \"devices\"";
    return false;
  }
  for (const zrjson::Object* st : zrJsonObjects(o, "steps")) {
    ZrScenarioStep step;
    if (!readStep(*st, s.devices.size(), s.arrays.front().serial, step, e)) return false;
    s.steps.push_back(step);
  }
  if (o.has<zrjson::Object>("final") &&
      !readExpectation(o.get<zrjson::Object>("final"), s.final, e))
    return false;
  out = s;
  return true;
}

bool zrLoadScenario(const std::string& path, ZrScenario& out, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    if (error != nullptr) *error = "cannot read " + path;
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  if (!zrParseScenario(text.str(), out, error)) {
    if (error != nullptr) *error = path + ": " + *error;
    return false;
  }
  return true;
}
