#include "array/HDSParseSnapshot.h"

#include <string>

#include "array/HDSTextColumns.h"

namespace hdsparse {

namespace {

// Columns 6 to 8 print "-" for "none".
void assignOrNone(std::string& field, std::string_view text) {
  if (text == "-") {
    field.clear();
  } else {
    field.assign(text.data(), text.size());
  }
}

}  // namespace

size_t parseSnapshotList(std::string_view output, std::vector<HDSSnapshotGroupInfo>& rows) {
  size_t appended = 0;
  hdscols::forEachDataLine(output, [&](std::string_view raw) {
    // Rows may be printed right-aligned: they are read from their first word.
    const std::string_view line = hdscols::trimLeft(raw);
    hdscols::Field f[11];
    const size_t n = hdscols::splitLeft(line, f, 11);
    HDSSnapshotGroupInfo row;
    // Columns 1 to 10 count only when a blank or tab follows them.
    auto taken = [&](size_t column) { return column <= n && f[column - 1].followed; };
    if (taken(1)) row.snapshotGroupName.assign(f[0].text.data(), f[0].text.size());
    if (taken(2)) row.isPvol = f[1].text == "P-VOL";
    if (taken(3)) row.status.assign(f[2].text.data(), f[2].text.size());
    if (taken(4)) row.serial.assign(f[3].text.data(), f[3].text.size());
    if (taken(5)) row.ldevId.assign(f[4].text.data(), f[4].text.size());
    if (taken(6)) assignOrNone(row.muNumber, f[5].text);
    if (taken(7)) assignOrNone(row.partnerLdevId, f[6].text);
    if (taken(8)) assignOrNone(row.poolId, f[7].text);
    if (taken(9)) row.column9 = hdscols::atoiView(f[8].text);
    if (taken(10)) row.mode.assign(f[9].text.data(), f[9].text.size());
    // Column 11 runs to the end of the line.
    if (n == 11) row.column11 = hdscols::atoiView(line.substr(f[10].begin));
    rows.push_back(std::move(row));
    ++appended;
  });
  return appended;
}

}  // namespace hdsparse
