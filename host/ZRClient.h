#pragma once
// The host's client identity, temporary directory and password service.
#include <string>

class ZRClient {
 public:
  // flag and options are the host's; the stand-in ignores them.
  ZRClient(const std::string& clientName, bool flag, int options);
  // Nonzero on success: hostName = this machine's network host name.
  // domain is the host's; pass null.
  int getNetworkHostname(std::string& hostName, const char* domain);

 private:
  std::string m_clientName;
};

class ZRPI_Base {
 public:
  // The host's temporary directory (ZrPaths::tempDir()), created when
  // missing. Null when it cannot be made. The text stays valid until the
  // calling thread calls again.
  static const char* getWrenlyTempDirectory();
};

class ZRPassword {
 public:
  // Deciphers input into output (capacity *length). Nonzero on success.
  // The stand-in host has no cipher: it always reports failure (0) and
  // leaves output untouched.
  static int decrypt(const char* input, char* output, int* length);
};
