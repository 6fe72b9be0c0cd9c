#include "array/HDSParseReplication.h"

namespace hdsparse {

namespace {

constexpr size_t kNone = std::string_view::npos;

// MU and journal columns of the copy-group listing: a number only when the
// text begins with a decimal digit; anything else ("-", "h") leaves -1.
int32_t leadingDigitNumber(std::string_view text) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return -1;
  return hdscols::atoiView(text);
}

enum PairColumn { kSeq, kLdev, kPvolSvol, kStatus, kFence, kRcuSerial, kPartner, kPairColumns };

// Row positions of the pair-scan columns; false when the header lacks one.
// In the host-group layout "/ALPA/C" heads two columns of every row (the
// ALPA and the C value), so the columns after it stand one further right.
bool pairColumns(std::string_view header, size_t (&col)[kPairColumns]) {
  if (!hdscols::findColumns(header,
                            {"Seq#", "LDEV#", "P/S", "Status", "Fence", "P-Seq#|E-Seq#",
                             "P-LDEV#|E-LDEV#"},
                            col)) {
    return false;
  }
  const size_t alpa = hdscols::columnIndex(header, "/ALPA/C");
  if (alpa != kNone) {
    for (size_t& c : col)
      if (c > alpa) ++c;
  }
  return true;
}

// The last row's column col (found in the header as name); false when the
// header lacks it, a row lacks it, or there is no row.
bool lastRowColumn(std::string_view output, std::string_view name, std::string& out) {
  const size_t col = hdscols::columnIndex(hdscols::firstLine(output), name);
  if (col == kNone) return false;
  std::string_view found;
  bool any = false;
  const hdscols::ListingRead read = hdscols::readRows(output, [&](const hdscols::Row& row) {
    if (!row.taken(col)) return false;
    found = row.text(col);
    any = true;
    return true;
  });
  if (!read.ok() || !any) return false;
  out.assign(found);
  return true;
}

}  // namespace

hdscols::ListingRead parseRemotePairList(std::string_view output, int mu, bool keepSvolRows,
                                         std::vector<HDSPairInfo>& pairs) {
  if (hdscols::isBlankText(output)) return {};
  size_t col[kPairColumns];
  if (!pairColumns(hdscols::firstLine(output), col)) {
    return hdscols::refused(hdscols::kNotTheListing);
  }
  std::vector<HDSPairInfo> fresh;
  const hdscols::ListingRead read = hdscols::readRows(output, [&](const hdscols::Row& row) {
    if (row.line().find("SMPL") != std::string_view::npos) return true;
    for (size_t k = 0; k < kPartner; ++k)
      if (!row.taken(col[k])) return false;
    if (!row.has(col[kPartner])) return false;
    HDSPairInfo pair;
    pair.column6.assign(row.text(col[kSeq]));
    pair.ldevId.assign(row.text(col[kLdev]));
    pair.volAttr.assign(row.text(col[kPvolSvol]));
    pair.pairStatus.assign(row.text(col[kStatus]));
    pair.fence.assign(row.text(col[kFence]));
    pair.rcuSerial.assign(row.text(col[kRcuSerial]));
    hdscols::appendWithoutSpace(pair.partnerLdevId, row.from(col[kPartner]));
    pair.muNumber = mu;
    if (pair.rcuSerial == "----") return true;
    if (pair.volAttr == "S-VOL" && !keepSvolRows) return true;
    fresh.push_back(std::move(pair));
    return true;
  });
  return hdscols::appendRead(read, fresh, pairs);
}

hdscols::ListingRead parseCopyGroupList(std::string_view output, const std::string& filter,
                                        std::vector<HDSCopyGroup>& groups) {
  if (hdscols::isBlankText(output)) return {};
  enum { kName, kLdevGroup, kMu, kJournal, kCount };
  size_t col[kCount];
  if (!hdscols::findColumns(hdscols::firstLine(output), {"COPY_GROUP", "LDEV_GROUP", "MU#", "JID#"},
                            col)) {
    return hdscols::refused(hdscols::kNotTheListing);
  }
  std::vector<HDSCopyGroup> fresh;
  const hdscols::ListingRead read = hdscols::readRows(output, [&](const hdscols::Row& row) {
    if (!row.takesAll(col)) return false;
    HDSCopyGroup group;
    group.copyGroupName.assign(row.text(col[kName]));
    if (!filter.empty() && group.copyGroupName != filter) return true;
    group.ldevGroupName.assign(row.text(col[kLdevGroup]));
    std::string_view mu = row.text(col[kMu]);
    if (mu.size() > 1 && mu[0] == 'h') mu.remove_prefix(1);
    group.muNumber = leadingDigitNumber(mu);
    group.journalId = leadingDigitNumber(row.text(col[kJournal]));
    fresh.push_back(std::move(group));
    return true;
  });
  return hdscols::appendRead(read, fresh, groups);
}

bool parseQMarkerNowait(std::string_view output, std::string& qmarker) {
  return lastRowColumn(output, "Q-Marker", qmarker);
}

bool parsePairSyncWaitStatus(std::string_view output, std::string& status) {
  return lastRowColumn(output, "Status", status);
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
