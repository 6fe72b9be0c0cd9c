// Parsers of the two status answers the implementer reads for itself: the
// command status ("raidcom get command_status") and the CCI host listing
// ("raidqry -l"). Columns are found by the header's words (see
// HDSTextColumns.h).
#ifndef ZR_ARRAY_HDSPARSESTATUS_H
#define ZR_ARRAY_HDSPARSESTATUS_H

#include <string>
#include <string_view>

#include "records/HDSArrayRecords.h"

namespace hdsparse {

// Reads the first data row of the command-status listing ("HANDLE SSB1 SSB2
// ERR_CNT Serial# Description"): row = the whole row (for the log); an
// ERR_CNT of 0 is no error; any other count sets hasError and description =
// the row from its Description column to its end. False, hasError false:
// a header without ERR_CNT or Description (the -request_id layout has
// none), no data row, or an ERR_CNT that is missing, ends the row or is not
// decimal digits (never read as "no error"). errors, when given, receives
// ERR_CNT (0 for none; a count too large for an int reads as the largest).
bool parseCommandStatusRow(std::string_view output, bool& hasError, std::string& description,
                           std::string& row, int* errors = nullptr);

// Fills info (reset first) from the first data row of "raidqry -l" ("No
// Group Hostname HORCM_ver Uid Serial# Micro_ver Cache(MB)"): Group column2,
// Hostname hostName, HORCM_ver column4, Uid column5, Serial# column6,
// Micro_ver microVersion, and column8 = atoi of the row from Cache(MB) to
// its end. A column is taken when a blank or tab follows it. False: a
// header without Hostname or Micro_ver (the -lm, -f and -g layouts), no data
// row ended by a newline, or a first row in which either of them is missing
// or ends the row.
bool parseRaidqryList(std::string_view output, HDSRaidqryInfo& info);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSESTATUS_H
