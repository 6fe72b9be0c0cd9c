#include "host/ZRClient.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host/ZrPaths.h"

ZRClient::ZRClient(const std::string& clientName, bool /*flag*/, int /*options*/)
    : m_clientName(clientName) {}

int ZRClient::getNetworkHostname(std::string& hostName, const char* /*domain*/) {
  char name[256] = {0};
  if (::gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') return 0;
  hostName = name;
  return 1;
}

const char* ZRPI_Base::getWrenlyTempDirectory() {
  thread_local std::string dir;
  dir = ZrPaths::tempDir();
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) {
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return nullptr;
  } else if (!S_ISDIR(st.st_mode)) {
    return nullptr;
  }
  return dir.c_str();
}

int ZRPassword::decrypt(const char* /*input*/, char* /*output*/, int* /*length*/) { return 0; }
