#pragma once
// The host's settings store: one text file (ZrPaths::settingsFile()) shared
// by all processes, with sections such as "~Tessavon" and "Tessavon". Every
// call checks the file afresh (a store parsed earlier is reused only while
// the same file with the same write generation is there); every write takes
// an exclusive flock on a companion lock file (given up after 50 attempts
// of 5 s, so a stopped writer never blocks the others for good), removes
// temporaries left by writers that died, rewrites the whole store into a
// new temporary file and renames it over the original, so a reader never
// sees a half-written store. The store and its lock are opened without
// following links and without blocking: a symbolic link, FIFO or other
// non-regular file at the store's path is refused (getters find nothing,
// writers fail). Getters write their out-argument only when the key exists.
// Section and key names are case-sensitive.
//
// Thread-safety: objects share nothing; any number may be used at once.
#include <string>

class ZRPlatformInfo {
 public:
  ZRPlatformInfo() = default;

  // Nonzero when the key exists and holds a decimal number (32-bit range).
  int getRegInt(const char* section, const char* key, int* value);
  // Nonzero when the key exists and holds an unsigned decimal number.
  int getNumber(const char* section, const char* key, unsigned long* value);
  // Nonzero when the key exists.
  int getString(const char* section, const char* key, std::string* value);
  // Copies at most size - 1 characters and a terminating 0 into buffer when
  // the key exists (nothing is written otherwise, or when size < 1).
  int getString(const char* section, const char* key, char* buffer, int size);

  // 0 on success, nonzero on failure. Keys and sections may not be empty or
  // hold '=', '[', ']' or line breaks; values may hold any text.
  int setRegInt(const char* section, const char* key, int value);
  int setRegString(const char* section, const char* key, const char* value);
  // Removes the key; 0 on success (also when it was missing).
  int deleteKey(const char* section, const char* key);

  // Nonzero on success: hostName = the machine's network name for client
  // (the stand-in serves every non-empty client name from gethostname).
  int getClientHostName(const char* clientName, std::string& hostName);
};
