#include "array/HDSParseSnapshot.h"

#include <string>

namespace hdsparse {

namespace {

// MU#, P-LDEV# and PID print "-" for "none".
void assignOrNone(std::string& field, std::string_view text) {
  if (text == "-") {
    field.clear();
  } else {
    field.assign(text.data(), text.size());
  }
}

}  // namespace

hdscols::ListingRead parseSnapshotList(std::string_view output,
                                       std::vector<HDSSnapshotGroupInfo>& rows) {
  if (hdscols::isBlankText(output)) return {};
  enum { kName, kPs, kStat, kSerial, kLdev, kMu, kPartner, kPool, kPercent, kMode, kCount };
  size_t col[kCount];
  const std::string_view header = hdscols::firstLine(output);
  const size_t splitTime = hdscols::columnIndex(header, "SPLT-TIME");
  if (splitTime == std::string_view::npos ||
      !hdscols::findColumns(header,
                            {"SnapShot_name", "P/S", "STAT", "Serial#", "LDEV#", "MU#", "P-LDEV#",
                             "PID", "%", "MODE"},
                            col)) {
    return hdscols::refused(hdscols::kNotTheListing);
  }
  std::vector<HDSSnapshotGroupInfo> fresh;
  const hdscols::ListingRead read = hdscols::readRows(output, [&](const hdscols::Row& r) {
    if (!r.takesAll(col) || !r.has(splitTime)) return false;
    HDSSnapshotGroupInfo row;
    row.snapshotGroupName.assign(r.text(col[kName]));
    row.isPvol = r.text(col[kPs]) == "P-VOL";
    row.status.assign(r.text(col[kStat]));
    row.serial.assign(r.text(col[kSerial]));
    row.ldevId.assign(r.text(col[kLdev]));
    assignOrNone(row.muNumber, r.text(col[kMu]));
    assignOrNone(row.partnerLdevId, r.text(col[kPartner]));
    assignOrNone(row.poolId, r.text(col[kPool]));
    row.column9 = hdscols::atoiView(r.text(col[kPercent]));
    row.mode.assign(r.text(col[kMode]));
    row.column11 = hdscols::atoiView(r.from(splitTime));
    fresh.push_back(std::move(row));
    return true;
  });
  return hdscols::appendRead(read, fresh, rows);
}

}  // namespace hdsparse
