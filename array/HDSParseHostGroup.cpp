#include "array/HDSParseHostGroup.h"

#include <vector>

namespace hdsparse {

namespace {

constexpr size_t kNone = std::string_view::npos;

// True when every column index is found and they stand in this order.
bool inOrder(std::initializer_list<size_t> columns) {
  size_t last = 0;
  bool first = true;
  for (size_t c : columns) {
    if (c == kNone || (!first && c <= last)) return false;
    last = c;
    first = false;
  }
  return true;
}

// One past the end of a host-group name whose first column ends at
// firstEnd: the name runs over whole columns up to the column `between`
// columns before the first later column equal to serial; npos when no later
// column is.
size_t hostGroupNameEnd(std::string_view line, size_t firstEnd, const std::string& serial,
                        size_t between) {
  if (serial.empty()) return kNone;
  // Ends of the whole columns from the name's first one on.
  std::vector<size_t> ends{firstEnd};
  size_t pos = firstEnd;
  while (pos < line.size()) {
    while (pos < line.size() && hdscols::isBlank(line[pos])) ++pos;
    size_t end = pos;
    while (end < line.size() && !hdscols::isBlank(line[end])) ++end;
    if (end > pos && line.substr(pos, end - pos) == serial) {
      return ends.size() > between ? ends[ends.size() - 1 - between] : kNone;
    }
    ends.push_back(end);
    pos = end;
  }
  return kNone;
}

}  // namespace

hdscols::ListingRead parseLunList(std::string_view output, std::vector<HDSLunInfo>& luns) {
  if (hdscols::isBlankText(output)) return {};
  enum { kPort, kGid, kMode, kLun, kLdev, kCount };
  size_t col[kCount];
  if (!hdscols::findColumns(hdscols::firstLine(output), {"PORT", "GID", "HMD", "LUN", "LDEV"}, col))
    return hdscols::refused(hdscols::kNotTheListing);
  std::vector<HDSLunInfo> fresh;
  const hdscols::ListingRead read = hdscols::readRows(output, [&](const hdscols::Row& row) {
    if (!row.takesAll(col)) return false;
    HDSLunInfo lun;
    lun.port.assign(row.text(col[kPort]));
    lun.hostGroupId.assign(row.text(col[kGid]));
    lun.hostMode.assign(row.text(col[kMode]));
    lun.lun.assign(row.text(col[kLun]));
    lun.ldevId.assign(row.text(col[kLdev]));
    fresh.push_back(std::move(lun));
    return true;
  });
  return hdscols::appendRead(read, fresh, luns);
}

size_t hostGroupColumnsBeforeSerial(std::string_view output) {
  const std::string_view header = hdscols::firstLine(output);
  const size_t name = hdscols::columnIndex(header, "GROUP_NAME");
  const size_t serial = hdscols::columnIndex(header, "Serial#");
  if (!inOrder({name, serial})) return 0;
  return serial - name - 1;
}

bool isIscsiHostGroupListing(std::string_view output) {
  return hdscols::columnIndex(hdscols::firstLine(output), "IQN") != kNone;
}

hdscols::ListingRead parseHostGroupList(std::string_view output, const std::string& serial,
                                        std::vector<HDSHostGroupInfo>& groups) {
  if (hdscols::isBlankText(output)) return {};
  const std::string_view header = hdscols::firstLine(output);
  const size_t gid = hdscols::columnIndex(header, "GID");
  const size_t name = hdscols::columnIndex(header, "GROUP_NAME");
  const size_t serialCol = hdscols::columnIndex(header, "Serial#");
  if (!inOrder({gid, name, serialCol})) return hdscols::refused(hdscols::kNotTheListing);
  // Columns between the name and the serial (IQN, AMD and D on an iSCSI
  // port): they end the name before the serial column does.
  const size_t between = serialCol - name - 1;
  std::vector<HDSHostGroupInfo> fresh;
  const hdscols::ListingRead read = hdscols::readRows(output, [&](const hdscols::Row& row) {
    if (!row.taken(gid) || !row.taken(name) || !row.has(serialCol)) return false;
    // The serial is searched for on the line without its trailing blanks and
    // carriage returns, so that they never hide the serial column.
    const std::string_view line = hdscols::trimRight(row.line());
    const size_t nameBegin = row.begin(name);
    HDSHostGroupInfo group;
    group.hostGroupId.assign(row.text(gid));
    const size_t nameEnd =
        hostGroupNameEnd(line, nameBegin + row.text(name).size(), serial, between);
    if (nameEnd != kNone) {
      group.hostGroupName.assign(line.substr(nameBegin, nameEnd - nameBegin));
    } else {
      group.hostGroupName.assign(row.text(name));
    }
    fresh.push_back(std::move(group));
    return true;
  });
  return hdscols::appendRead(read, fresh, groups);
}

namespace {

// Begin and end offsets of the last n columns of line, the last one first;
// fewer when the line has fewer.
std::vector<std::pair<size_t, size_t>> columnsFromRight(std::string_view line, size_t n) {
  std::vector<std::pair<size_t, size_t>> cols;
  size_t pos = line.size();
  while (cols.size() < n && pos > 0) {
    size_t begin = pos;
    while (begin > 0 && !hdscols::isBlank(line[begin - 1])) --begin;
    cols.emplace_back(begin, pos);
    pos = begin;
    while (pos > 0 && hdscols::isBlank(line[pos - 1])) --pos;
  }
  return cols;
}

}  // namespace

hdscols::ListingRead parseHostGroupWwnList(std::string_view output, HDSHostGroupInfo& group) {
  if (hdscols::isBlankText(output)) return {};
  const std::string_view header = hdscols::firstLine(output);
  const size_t port = hdscols::columnIndex(header, "PORT");
  const size_t gid = hdscols::columnIndex(header, "GID");
  const size_t name = hdscols::columnIndex(header, "GROUP_NAME");
  const size_t wwn = hdscols::columnIndex(header, "HWWN|IQN");
  if (!inOrder({port, gid, name, wwn})) return hdscols::refused(hdscols::kNotTheListing);
  const size_t total = hdscols::columnCount(header);
  // The initiator is this many columns from the end (1: the last).
  const size_t fromEnd = total - wwn;
  HDSHostGroupInfo filled = group;
  std::vector<std::string> fresh;
  hdscols::ListingRead read = hdscols::readRows(output, [&](const hdscols::Row& full) {
    const std::string_view line = hdscols::trimRight(full.line());
    const hdscols::Row row(line);
    if (row.count() < total && row.count() < hdscols::Row::kMaxColumns) return false;
    const auto right = columnsFromRight(line, fromEnd + 1);
    // The name's last column must lie at or after GROUP_NAME.
    if (right.size() <= fromEnd || right[fromEnd].first < row.begin(name)) return false;
    filled.port.assign(row.text(port));
    filled.hostGroupId.assign(row.text(gid));
    const auto& initiator = right[fromEnd - 1];
    fresh.emplace_back(line.substr(initiator.first, initiator.second - initiator.first));
    filled.hostGroupName.assign(
        line.substr(row.begin(name), right[fromEnd].second - row.begin(name)));
    return true;
  });
  if (!read.ok()) return read;
  group.port = filled.port;
  group.hostGroupId = filled.hostGroupId;
  group.hostGroupName = filled.hostGroupName;
  return hdscols::appendRead(read, fresh, group.wwns);
}

}  // namespace hdsparse
