// Parser of the snapshot listing ("raidcom get snapshot").
#ifndef ZR_ARRAY_HDSPARSESNAPSHOT_H
#define ZR_ARRAY_HDSPARSESNAPSHOT_H

#include <cstddef>
#include <string_view>
#include <vector>

#include "records/HDSArrayRecords.h"

namespace hdsparse {

// Appends one HDSSnapshotGroupInfo per data line of the listing (the first
// line is the header). Columns, cut at runs of blanks and tabs from the
// line's first word (leading blanks skipped): 1 snapshotGroupName, 2 isPvol (exactly "P-VOL"), 3
// status, 4 serial, 5 ldevId, 6 muNumber, 7 partnerLdevId, 8 poolId ("-" in 6 to 8 reads empty), 9
// column9 (atoi), 10 mode; each of them only when a blank or tab follows it. column11 is atoi of
// the line from column 11 to its end. A last line without its "\n" is read too. Returns the number
// appended.
size_t parseSnapshotList(std::string_view output, std::vector<HDSSnapshotGroupInfo>& rows);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSESNAPSHOT_H
