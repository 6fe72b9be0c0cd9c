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

#include "records/HDSArrayRecords.h"

namespace hdsparse {

// Fills pair (reset first) from one raidscan row: column 6 column6, 8 ldevId,
// 9 volAttr, 10 pairStatus, 11 fence, 12 rcuSerial (each only when a blank or
// tab follows it) and partnerLdevId = column 13 to the end of the line with
// every white-space character removed. muNumber is left at its default.
void parsePairLine(std::string_view line, HDSPairInfo& pair);

// Appends the kept rows of one raidscan output read for mirror unit mu:
// a line holding "SMPL" anywhere is skipped unread; a row whose RCU serial
// is "----" is dropped; an "S-VOL" row is kept only when keepSvolRows (a GAD
// job). Kept rows carry muNumber = mu. Returns the number appended.
size_t parseRemotePairList(std::string_view output, int mu, bool keepSvolRows,
                           std::vector<HDSPairInfo>& pairs);

// Appends the rows of the copy-group listing whose column 1 equals filter
// (every row when filter is empty): column 2 ldevGroupName; column 3 the MU
// (a leading "h" dropped from a text longer than one character, then atoi
// only when it begins with a digit, else -1); column 4 the journal id (atoi
// only when it begins with a digit, else -1). Returns the number appended.
size_t parseCopyGroupList(std::string_view output, const std::string& filter,
                          std::vector<HDSCopyGroup>& groups);

// The Q-marker of "pairsyncwait -nowait": on each data line, leading blanks
// and tabs skipped, the third column when a blank or tab follows it; the
// last line that yields one wins. False when no line yields one (qmarker is
// then untouched).
bool parseQMarkerNowait(std::string_view output, std::string& qmarker);

// The Status column (fourth, leading blanks and tabs skipped) of the last
// data row of "pairsyncwait" (UnitID CTGID Q-Marker Status Q-Num ...),
// taken when a blank or tab follows it. False when no row yields one
// (status untouched).
bool parsePairSyncWaitStatus(std::string_view output, std::string& status);

// A Q-marker is a non-empty text of hexadecimal digits whose value fits in
// 64 bits (leading zeros do not count). False for anything else (a sign,
// "0x", blanks, an empty text, an overflow); value is then untouched.
bool parseQMarkerValue(std::string_view text, uint64_t& value);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSEREPLICATION_H
