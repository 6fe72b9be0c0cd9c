#include "host/testing/ScopedTempDir.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

int removeEntry(const char* path, const struct stat* /*sb*/, int /*type*/, struct FTW* /*ftw*/) {
  ::remove(path);
  return 0;
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl =
      std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/zrtest.XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + tmpl);
  m_path = buf.data();
  for (const char* sub : {"/locks", "/logs", "/tmp", "/etc", "/cci"})
    ::mkdir((m_path + sub).c_str(), 0755);
  setEnv("ZRHOST_SETTINGS_FILE", m_path + "/settings.ini");
  setEnv("ZRHOST_LOCK_DIR", m_path + "/locks");
  setEnv("ZRHOST_LOG_DIR", m_path + "/logs");
  setEnv("ZRHOST_TEMP_DIR", m_path + "/tmp");
  setEnv("ZRHOST_HORCM_ETC_DIR", m_path + "/etc/");
  setEnv("ZRHOST_CCI_DIR", m_path + "/cci/");
  setEnv("ZRHOST_INTENT_DIR", m_path + "/intent");
}

ScopedTempDir::~ScopedTempDir() {
  // Restore in reverse order so a variable set twice gets its first value back.
  for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
    if (it->second.first)
      ::setenv(it->first.c_str(), it->second.second.c_str(), 1);
    else
      ::unsetenv(it->first.c_str());
  }
  ::nftw(m_path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ScopedTempDir::file(const std::string& name) const { return m_path + "/" + name; }

void ScopedTempDir::setEnv(const std::string& name, const std::string& value) {
  const char* old = std::getenv(name.c_str());
  m_saved.emplace_back(
      name, std::make_pair(old != nullptr, old != nullptr ? std::string(old) : std::string()));
  ::setenv(name.c_str(), value.c_str(), 1);
}

std::string zrReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string();
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool zrWriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << content;
  return static_cast<bool>(out);
}
