#include "array/HDSParsePort.h"

#include <unordered_set>

namespace hdsparse {

hdscols::ListingRead parsePortListing(std::string_view output, std::vector<HDSPortInfo>& ports) {
  if (hdscols::isBlankText(output)) return {};
  enum { kPort, kType, kSerial, kWwn, kCount };
  size_t col[kCount];
  if (!hdscols::findColumns(hdscols::firstLine(output), {"PORT", "TYPE", "Serial#", "WWN"}, col))
    return hdscols::refused(hdscols::kNotTheListing);
  // Names already present, so that a long listing is not quadratic.
  std::unordered_set<std::string> seen;
  seen.reserve(ports.size() + 16);
  for (const HDSPortInfo& p : ports) seen.insert(p.port);
  std::vector<HDSPortInfo> fresh;
  const hdscols::ListingRead read = hdscols::readRows(output, [&](const hdscols::Row& row) {
    if (!row.takesAll(col)) return false;
    HDSPortInfo port;
    port.port.assign(row.text(col[kPort]));
    if (!seen.insert(port.port).second) return true;
    port.type.assign(row.text(col[kType]));
    port.serial.assign(row.text(col[kSerial]));
    port.wwn.assign(row.text(col[kWwn]));
    fresh.push_back(std::move(port));
    return true;
  });
  return hdscols::appendRead(read, fresh, ports);
}

hdscols::ListingRead parsePortLoginList(std::string_view output, HDSPortInfo& port) {
  if (hdscols::isBlankText(output)) return {};
  enum { kPort, kWwn, kSerial, kCount };
  size_t col[kCount];
  if (!hdscols::findColumns(hdscols::firstLine(output), {"PORT", "LOGIN_WWN", "Serial#"}, col))
    return hdscols::refused(hdscols::kNotTheListing);
  HDSPortInfo filled = port;
  std::vector<std::string> fresh;
  hdscols::ListingRead read = hdscols::readRows(output, [&](const hdscols::Row& row) {
    if (!row.takesAll(col)) return false;
    filled.port.assign(row.text(col[kPort]));
    fresh.emplace_back(row.text(col[kWwn]));
    filled.serial.assign(row.text(col[kSerial]));
    return true;
  });
  if (!read.ok()) return read;
  port.port = filled.port;
  port.serial = filled.serial;
  return hdscols::appendRead(read, fresh, port.loginWwns);
}

hdscols::ListingRead parseCommandDeviceHostGroup(std::string_view output, std::string& hostGroup) {
  if (hdscols::isBlankText(output)) return {};
  const size_t col = hdscols::columnIndex(hdscols::firstLine(output), "PORT#");
  if (col == std::string_view::npos) return hdscols::refused(hdscols::kNotTheListing);
  bool first = true;
  std::string_view found;
  const hdscols::ListingRead read = hdscols::readRows(output, [&](const hdscols::Row& row) {
    if (!first) return true;
    first = false;
    found = row.text(col);
    return row.taken(col);
  });
  if (!read.ok() || first) return read;
  // "<port>-<number>", the port itself "<cluster>-<letter>".
  const size_t dash = found.rfind('-');
  if (dash == std::string_view::npos || dash == 0 || found.find('-') == dash ||
      !hdscols::isDecimalDigits(found.substr(dash + 1))) {
    return hdscols::refused(hdscols::kNotTheListing);
  }
  hostGroup.assign(found);
  return hdscols::ListingRead{1, nullptr};
}

}  // namespace hdsparse
