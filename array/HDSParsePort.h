// Parsers of the port listings: every port of the array ("raidcom get
// port"), the initiators logged in to one port ("raidcom get port -port P")
// and the scan of the command device ("raidscan -CLI -pdg <device>").
// Columns are found by the header's words (see HDSTextColumns.h); a refused
// answer adds nothing.
#ifndef ZR_ARRAY_HDSPARSEPORT_H
#define ZR_ARRAY_HDSPARSEPORT_H

#include <string>
#include <string_view>
#include <vector>

#include "array/HDSTextColumns.h"
#include "records/HDSArrayRecords.h"

namespace hdsparse {

// Reads the columns PORT, TYPE, Serial# and WWN of each data line and
// appends the record unless ports already holds an entry with the same port
// (entries the caller put there included): the first line of a port wins.
// Refused: a header without one of those columns, or a row in which one is
// missing or ends the line.
hdscols::ListingRead parsePortListing(std::string_view output, std::vector<HDSPortInfo>& ports);

// Fills port from the login listing of one port: per data line PORT to
// port.port, LOGIN_WWN appended to port.loginWwns (not cleared here) and
// Serial# to port.serial. Refused (nothing changed): a header without one of
// them, or a row in which one is missing or ends the line (the nickname
// column follows the serial). rows counts the WWNs appended.
hdscols::ListingRead parsePortLoginList(std::string_view output, HDSPortInfo& port);

// The PORT# column of the first data line of the command device's scan,
// "<port>-<host-group number>" (the port holding a "-" itself, as CL1-A),
// into hostGroup (rows 1). A blank answer or one without a data line leaves
// hostGroup as it was (rows 0). Refused, hostGroup untouched: a header
// without PORT#, or a first row whose PORT# is missing or not of that form
// (the bare-port layout of raidscan prints the port alone).
hdscols::ListingRead parseCommandDeviceHostGroup(std::string_view output, std::string& hostGroup);

}  // namespace hdsparse

#endif  // ZR_ARRAY_HDSPARSEPORT_H
