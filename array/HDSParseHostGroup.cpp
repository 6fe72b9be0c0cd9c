#include "array/HDSParseHostGroup.h"

#include "array/HDSTextColumns.h"

#include <vector>

namespace hdsparse {

size_t parseLunList(std::string_view output, std::vector<HDSLunInfo>& luns) {
  const size_t before = luns.size();
  HDSLunInfo lun;
  hdscols::forEachDataLine(output, [&](std::string_view line) {
    hdscols::Field f[6];
    const size_t n = hdscols::splitLeft(line, f, 6);
    auto taken = [&](size_t col) { return n >= col && f[col - 1].followed; };
    lun.init();
    if (taken(1)) lun.port.assign(f[0].text);
    if (taken(2)) lun.hostGroupId.assign(f[1].text);
    if (taken(3)) lun.hostMode.assign(f[2].text);
    if (taken(4)) lun.lun.assign(f[3].text);
    if (taken(6)) lun.ldevId.assign(f[5].text);
    luns.push_back(lun);
  });
  return luns.size() - before;
}

size_t hostGroupColumnsBeforeSerial(std::string_view output) {
  const std::string_view header = hdscols::firstLine(output);
  const size_t name = hdscols::columnIndex(header, "GROUP_NAME");
  const size_t serial = hdscols::columnIndex(header, "Serial#");
  if (name == std::string_view::npos || serial == std::string_view::npos || serial <= name)
    return 0;
  return serial - name - 1;
}

bool isIscsiHostGroupListing(std::string_view output) {
  return hdscols::columnIndex(hdscols::firstLine(output), "IQN") != std::string_view::npos;
}

size_t parseHostGroupList(std::string_view output, const std::string& serial,
                          std::vector<HDSHostGroupInfo>& groups) {
  const size_t before = groups.size();
  // Columns between the name and the serial (IQN, AMD and D on an iSCSI
  // port): they end the name before the serial column does.
  const size_t between = hostGroupColumnsBeforeSerial(output);
  HDSHostGroupInfo group;
  hdscols::forEachDataLine(output, [&](std::string_view line) {
    // The serial is searched for on the line without its trailing blanks
    // and carriage returns; the columns read from the left keep the rule
    // that a blank or tab after a column makes it taken, so a name that
    // ends a line followed by a blank is still read.
    const std::string_view trimmed = hdscols::trimRight(line);
    group.init();
    hdscols::Field f[3];
    const size_t n = hdscols::splitLeft(line, f, 3);
    if (n >= 2 && f[1].followed) group.hostGroupId.assign(f[1].text);
    if (n >= 3) {
      const size_t nameBegin = f[2].begin;
      size_t nameEnd = std::string_view::npos;  // one past the name's last character
      if (!serial.empty()) {
        // Ends of the whole columns from column 3 on; the first one after
        // column 3 equal to the serial is the serial column.
        std::vector<size_t> ends{nameBegin + f[2].text.size()};
        size_t pos = ends.back();
        while (pos < trimmed.size()) {
          while (pos < trimmed.size() && hdscols::isBlank(trimmed[pos])) ++pos;
          size_t end = pos;
          while (end < trimmed.size() && !hdscols::isBlank(trimmed[end])) ++end;
          if (end > pos && trimmed.substr(pos, end - pos) == serial) {
            if (ends.size() > between) nameEnd = ends[ends.size() - 1 - between];
            break;
          }
          ends.push_back(end);
          pos = end;
        }
      }
      if (nameEnd != std::string_view::npos) {
        group.hostGroupName.assign(line.substr(nameBegin, nameEnd - nameBegin));
      } else if (f[2].followed) {
        group.hostGroupName.assign(f[2].text);
      }
    }
    groups.push_back(group);
  });
  return groups.size() - before;
}

void parseHostGroupWwnList(std::string_view output, HDSHostGroupInfo& group) {
  hdscols::forEachDataLine(output, [&](std::string_view rawLine) {
    const std::string_view line = hdscols::trimRight(rawLine);
    hdscols::Field f[3];
    const size_t n = hdscols::splitLeft(line, f, 3);
    if (n >= 1 && f[0].followed) group.port.assign(f[0].text);
    if (n >= 2 && f[1].followed) group.hostGroupId.assign(f[1].text);
    // Columns from the right: begin offsets of the last four.
    size_t begins[4];
    size_t ends[4];
    size_t found = 0;
    size_t pos = line.size();
    while (found < 4 && pos > 0) {
      size_t end = pos;
      size_t begin = end;
      while (begin > 0 && !hdscols::isBlank(line[begin - 1])) --begin;
      begins[found] = begin;
      ends[found] = end;
      ++found;
      pos = begin;
      while (pos > 0 && hdscols::isBlank(line[pos - 1])) --pos;
    }
    // PORT GID NAME... WWN SERIAL NICK: the fourth column from the end
    // must lie at or after column 3, i.e. at least six columns.
    if (found < 4 || n < 3 || begins[3] < f[2].begin) return;
    group.wwns.emplace_back(line.substr(begins[2], ends[2] - begins[2]));
    group.hostGroupName.assign(line.substr(f[2].begin, ends[3] - f[2].begin));
  });
}

}  // namespace hdsparse
