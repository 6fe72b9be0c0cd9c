// Read-only queries of a state database, for programs that look at the
// simulated array without building it (the test host's OS utility reads
// which LUNs its initiators see and the inquiry pages of their LDEVs).
#ifndef CCISIM_QUERY_H
#define CCISIM_QUERY_H

#include <string>

#include "sim/ccisim_model.h"

namespace ccisim {

// The whole state at statePath (every LDEV loaded), read in one read-only
// transaction, so it is one consistent view while tools run. False with
// *why set when the database is missing or cannot be read.
bool loadState(const std::string& statePath, State& out, std::string* why);

}  // namespace ccisim

#endif  // CCISIM_QUERY_H
