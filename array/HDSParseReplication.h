// Parsers of the replication listings: the pair scan of a host group
// ("raidscan -p <port>-<GID> -CLI -m <MU>"), the copy-group listing
// ("raidcom get copy_grp") and the two pairsyncwait answers that carry a
// Q-marker, plus the reading and comparison of Q-markers.
#ifndef ZR_ARRAY_HDSPARSEREPLICATION_H
#define ZR_ARRAY_HDSPARSEREPLICATION_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "array/HDSTextColumns.h"
#include "records/HDSArrayRecords.h"

namespace hdsparse {

// Appends the kept rows of one raidscan output read for mirror unit mu. The
// columns are found by the header's words, in the host-group layout
// ("PORT# /ALPA/C TID# LU# Seq# Num LDEV# P/S Status Fence P-Seq# P-LDEV#",
// where /ALPA/C heads two columns of each row, and E-Seq# E-LDEV# may stand
// for the last two) as in the bare-port layout ("Port# TargetID# Lun# Seq#
// Num LDEV# P/S Status Fence P-Seq# P-LDEV#"): Seq# column6, LDEV# ldevId,
// P/S volAttr, Status pairStatus, Fence fence, P-Seq# rcuSerial, and
// partnerLdevId = the row from P-LDEV# to its end with every white-space
// character removed. A line holding "SMPL" anywhere is skipped unread; a row
// whose RCU serial is "----" is dropped; an "S-VOL" row is kept only when
// keepSvolRows (a GAD job). Kept rows carry muNumber = mu. Refused, adding
// nothing: a header without one of those columns (the -fw, -IM and non-CLI
// layouts), or a row in which one is missing (or, but for P-LDEV#, ends the
// line).
hdscols::ListingRead parseRemotePairList(std::string_view output, int mu, bool keepSvolRows,
                                         std::vector<HDSPairInfo>& pairs);

// Appends the rows of the copy-group listing whose COPY_GROUP equals filter
// (every row when filter is empty): LDEV_GROUP ldevGroupName; MU# the MU (a
// leading "h" dropped from a text longer than one character, then atoi only
// when it begins with a digit, else -1, as for "-"); JID# the journal id
// (atoi only when it begins with a digit, else -1). A copy group of several
// device groups lists one row each. Refused: a header without one of those
// columns, or a row in which one is missing or ends the line.
hdscols::ListingRead parseCopyGroupList(std::string_view output, const std::string& filter,
                                        std::vector<HDSCopyGroup>& groups);

// The Q-marker of "pairsyncwait -nowait": the Q-Marker column of the data
// rows (UnitID CTGID Q-Marker Status Q-Num ...); the last row wins. False,
// qmarker untouched, when the header has no Q-Marker column, a row lacks it
// (or ends with it), or there is no row.
bool parseQMarkerNowait(std::string_view output, std::string& qmarker);

// The Status column of the last data row of "pairsyncwait", under the same
// rules as parseQMarkerNowait. False when there is none (status untouched).
bool parsePairSyncWaitStatus(std::string_view output, std::string& status);

// A Q-marker is a non-empty text of hexadecimal digits whose value fits in
// 64 bits (leading zeros do not count). False for anything else (a sign,
// "0x", blanks, an empty text, an overflow); value is then untouched.
bool parseQMarkerValue(std::string_view text, uint64_t& value);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSEREPLICATION_H
