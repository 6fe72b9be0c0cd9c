// Test fixture: arrays and what they hold (LDEVs, pools, ports and host
// groups with their LUNs and initiators, resource groups, command devices).
#include "sim/ccisim_fixture.h"
#include "sim/ccisim_fixture_internal.h"
#include "sim/ccisim_internal.h"

#include <string>

namespace ccisim {

using namespace detail;
using namespace fixture;

void Fixture::addArray(const std::string& serial, const std::string& model,
                       const std::string& micro) {
  update([&](State& s) { s.arrays[serial] = newArray(serial, model, micro); });
}

void Fixture::setArray(const std::string& serial, const std::function<void(Array&)>& change) {
  update([&](State& s) { change(arrayOf(s, serial)); });
}

void Fixture::addLdev(const std::string& serial, const Ldev& l) {
  update([&](State& s) {
    Ldev x = l;
    x.defined = true;
    arrayOf(s, serial).ldevs[x.id] = x;
  });
}

void Fixture::addSourceLdev(const std::string& serial, int id, uint64_t blocks, int pool,
                            const std::string& label) {
  Ldev l;
  l.id = id;
  l.capacity = blocks;
  l.attrs = {"CVS", "HDP"};
  l.poolId = std::to_string(pool);
  l.label = label;
  addLdev(serial, l);
}

void Fixture::addPool(const std::string& serial, const Pool& p) {
  update([&](State& s) { arrayOf(s, serial).pools[p.id] = p; });
}

void Fixture::addPort(const std::string& serial, const std::string& port, const std::string& wwn,
                      const std::string& type) {
  update([&](State& s) {
    Port p;
    p.name = port;
    p.wwn = wwn;
    p.type = type;
    arrayOf(s, serial).ports[port] = p;
  });
}

void Fixture::addLoginWwn(const std::string& serial, const std::string& port,
                          const std::string& wwn) {
  update([&](State& s) { portOf(s, serial, port).loginWwns.push_back(wwn); });
}

void Fixture::addHostGroup(const std::string& serial, const std::string& port, int gid,
                           const std::string& name, int rsgid) {
  update([&](State& s) {
    HostGroup g;
    g.gid = gid;
    g.name = name;
    g.rsgid = rsgid;
    portOf(s, serial, port).hostGroups[gid] = g;
  });
}

void Fixture::addHostGroupWwn(const std::string& serial, const std::string& port, int gid,
                              const std::string& wwn, const std::string& nick) {
  update([&](State& s) { groupOf(s, serial, port, gid).wwns.emplace_back(wwn, nick); });
}

void Fixture::addLun(const std::string& serial, const std::string& port, int gid, int lun,
                     int ldev) {
  update([&](State& s) { groupOf(s, serial, port, gid).luns[lun] = ldev; });
}

void Fixture::setLunHostIo(const std::string& serial, const std::string& port, int gid, int ldev,
                           int refusals) {
  update([&](State& s) {
    HostGroup& g = groupOf(s, serial, port, gid);
    if (refusals == 0)
      g.hostIo.erase(ldev);
    else
      g.hostIo[ldev] = refusals;
  });
}

void Fixture::addResourceGroup(const std::string& serial, const std::string& name, int id,
                               const std::string& vSerial, const std::string& vModel) {
  update([&](State& s) {
    ResourceGroup g;
    g.name = name;
    g.id = id;
    g.vSerial = vSerial;
    g.vModel = vModel;
    arrayOf(s, serial).resourceGroups[name] = g;
  });
}

void Fixture::setForeignLock(const std::string& serial, const std::string& group,
                             const std::string& user, const std::string& host,
                             int releaseAfterPolls, const std::string& status) {
  update([&](State& s) {
    Array& a = arrayOf(s, serial);
    auto it = a.resourceGroups.find(group);
    if (it == a.resourceGroups.end()) die("no resource group " + group);
    it->second.lockStatus = status;
    it->second.lockOwner = user;
    it->second.lockHost = host;
    it->second.releaseAfterPolls = releaseAfterPolls;
  });
}

void Fixture::addCommandDevice(const std::string& path, const std::string& serial, int ldev) {
  update([&](State& s) {
    Array& a = arrayOf(s, serial);
    Ldev& l = a.ldevRef(ldev);
    if (!l.defined) {
      l.defined = true;
      l.capacity = 96000;
      l.attrs = {"CVS", "CMD"};
    }
    for (auto& c : s.commandDevices)
      if (c.path == path) {
        c.serial = serial;
        c.ldev = ldev;
        return;
      }
    s.commandDevices.push_back({path, serial, ldev});
  });
}

}  // namespace ccisim
