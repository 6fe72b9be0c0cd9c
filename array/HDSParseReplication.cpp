#include "array/HDSParseReplication.h"

#include "array/HDSTextColumns.h"

namespace hdsparse {

namespace {

// MU and journal columns of the copy-group listing: a number only when the
// text begins with a decimal digit; anything else ("-", "h") leaves -1.
int32_t leadingDigitNumber(std::string_view text) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return -1;
  return hdscols::atoiView(text);
}

// The third column of a line under the left-reading rule.
bool thirdColumn(std::string_view line, std::string& out) {
  std::string_view col;
  if (!hdscols::takenColumn(line, 3, col)) return false;
  out.assign(col);
  return true;
}

}  // namespace

void parsePairLine(std::string_view line, HDSPairInfo& pair) {
  pair.init();
  hdscols::Field f[13];
  const size_t n = hdscols::splitLeft(line, f, 13);
  auto taken = [&](size_t col) { return n >= col && f[col - 1].followed; };
  if (taken(6)) pair.column6.assign(f[5].text);
  if (taken(8)) pair.ldevId.assign(f[7].text);
  if (taken(9)) pair.volAttr.assign(f[8].text);
  if (taken(10)) pair.pairStatus.assign(f[9].text);
  if (taken(11)) pair.fence.assign(f[10].text);
  if (taken(12)) pair.rcuSerial.assign(f[11].text);
  // Column 13 exists only when column 12 was followed by a further column.
  if (n >= 13) hdscols::appendWithoutSpace(pair.partnerLdevId, line.substr(f[12].begin));
}

size_t parseRemotePairList(std::string_view output, int mu, bool keepSvolRows,
                           std::vector<HDSPairInfo>& pairs) {
  const size_t before = pairs.size();
  HDSPairInfo pair;
  hdscols::forEachDataLine(output, [&](std::string_view line) {
    if (line.find("SMPL") != std::string_view::npos) return;
    parsePairLine(line, pair);
    pair.muNumber = mu;
    if (pair.rcuSerial == "----") return;
    if (pair.volAttr == "S-VOL" && !keepSvolRows) return;
    pairs.push_back(pair);
  });
  return pairs.size() - before;
}

size_t parseCopyGroupList(std::string_view output, const std::string& filter,
                          std::vector<HDSCopyGroup>& groups) {
  const size_t before = groups.size();
  HDSCopyGroup group;
  hdscols::forEachDataLine(output, [&](std::string_view line) {
    hdscols::Field f[4];
    const size_t n = hdscols::splitLeft(line, f, 4);
    auto taken = [&](size_t col) { return n >= col && f[col - 1].followed; };
    group.init();
    if (taken(1)) group.copyGroupName.assign(f[0].text);
    if (!filter.empty() && group.copyGroupName != filter) return;
    if (taken(2)) group.ldevGroupName.assign(f[1].text);
    if (taken(3)) {
      std::string_view mu = f[2].text;
      if (mu.size() > 1 && mu[0] == 'h') mu.remove_prefix(1);
      group.muNumber = leadingDigitNumber(mu);
    }
    if (taken(4)) group.journalId = leadingDigitNumber(f[3].text);
    groups.push_back(group);
  });
  return groups.size() - before;
}

bool parseQMarkerNowait(std::string_view output, std::string& qmarker) {
  bool found = false;
  hdscols::forEachDataLine(output, [&](std::string_view line) {
    if (thirdColumn(hdscols::trimLeft(line), qmarker)) found = true;
  });
  return found;
}

bool parsePairSyncWaitStatus(std::string_view output, std::string& status) {
  bool found = false;
  hdscols::forEachDataLine(output, [&](std::string_view line) {
    std::string_view column;
    if (hdscols::takenColumn(hdscols::trimLeft(line), 4, column)) {
      status.assign(column);
      found = true;
    }
  });
  return found;
}

bool parseQMarkerValue(std::string_view text, uint64_t& value) {
  if (text.empty()) return false;
  uint64_t v = 0;
  int significant = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    if (significant > 0 || digit != 0) ++significant;
    if (significant > 16) return false;  // beyond 64 bits
    v = (v << 4) | digit;
  }
  value = v;
  return true;
}

}  // namespace hdsparse
