// Parser of the snapshot listing ("raidcom get snapshot").
#ifndef ZR_ARRAY_HDSPARSESNAPSHOT_H
#define ZR_ARRAY_HDSPARSESNAPSHOT_H

#include <cstddef>
#include <string_view>
#include <vector>

#include "array/HDSTextColumns.h"
#include "records/HDSArrayRecords.h"

namespace hdsparse {

// Appends one HDSSnapshotGroupInfo per data line of the listing, its columns
// found by the header's words: SnapShot_name snapshotGroupName, P/S isPvol
// (exactly "P-VOL"), STAT status, Serial# serial, LDEV# ldevId, MU# muNumber,
// P-LDEV# partnerLdevId, PID poolId ("-" in these three reads empty), %
// column9 (atoi), MODE mode, and column11 = atoi of the row from SPLT-TIME to
// its end. The whole-array listing prints one row per snapshot group with
// "-" in the pair columns. Refused, adding nothing: a header without one of
// those columns, or a row in which one is missing (or, but for SPLT-TIME,
// ends the line).
hdscols::ListingRead parseSnapshotList(std::string_view output,
                                       std::vector<HDSSnapshotGroupInfo>& rows);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSESNAPSHOT_H
