#include "array/HDSParsePort.h"

#include <unordered_set>

#include "array/HDSTextColumns.h"

namespace hdsparse {

size_t parsePortListing(std::string_view output, std::vector<HDSPortInfo>& ports) {
  const size_t before = ports.size();
  // Names already present, so that a long listing is not quadratic.
  std::unordered_set<std::string> seen;
  seen.reserve(ports.size() + 16);
  for (const HDSPortInfo& p : ports) seen.insert(p.port);
  HDSPortInfo port;
  hdscols::forEachDataLine(output, [&](std::string_view line) {
    hdscols::Field f[11];
    const size_t n = hdscols::splitLeft(line, f, 11);
    auto taken = [&](size_t col) { return n >= col && f[col - 1].followed; };
    port.init();
    if (taken(1)) port.port.assign(f[0].text);
    if (taken(2)) port.type.assign(f[1].text);
    if (taken(10)) port.serial.assign(f[9].text);
    if (taken(11)) port.wwn.assign(f[10].text);
    if (!seen.insert(port.port).second) return;
    ports.push_back(port);
  });
  return ports.size() - before;
}

size_t parsePortLoginList(std::string_view output, HDSPortInfo& port) {
  const size_t before = port.loginWwns.size();
  hdscols::forEachDataLine(output, [&](std::string_view line) {
    hdscols::Field f[3];
    const size_t n = hdscols::splitLeft(line, f, 3);
    auto taken = [&](size_t col) { return n >= col && f[col - 1].followed; };
    if (taken(1)) port.port.assign(f[0].text);
    if (taken(2)) port.loginWwns.emplace_back(f[1].text);
    if (taken(3)) port.serial.assign(f[2].text);
  });
  return port.loginWwns.size() - before;
}

bool parseCommandDeviceHostGroup(std::string_view output, std::string& hostGroup) {
  bool first = true;
  bool found = false;
  hdscols::forEachDataLine(output, [&](std::string_view line) {
    if (!first) return;
    first = false;
    std::string_view col;
    if (hdscols::takenColumn(line, 1, col) && !col.empty()) {
      hostGroup.assign(col);
      found = true;
    }
  });
  return found;
}

}  // namespace hdsparse
