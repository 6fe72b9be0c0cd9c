#pragma once
// Test-only seams of the host utilities. Production code never calls these.
#include <cstddef>

namespace ZRHDSCLIUtilsTesting {

// Signature of gethostname(2).
using HostNameFunction = int (*)(char* name, size_t length);

// Makes the machine-name lookup of getHostIdentifier call fn instead of
// gethostname (null restores gethostname). Returns the function in force
// before.
HostNameFunction setHostNameFunction(HostNameFunction fn);

}  // namespace ZRHDSCLIUtilsTesting
