#pragma once
// A fresh temporary directory (under $TMPDIR or /tmp) for one test, with
// every ZRHOST_* location variable pointed into it for the guard's life:
//   ZRHOST_SETTINGS_FILE  <dir>/settings.ini
//   ZRHOST_LOCK_DIR       <dir>/locks
//   ZRHOST_LOG_DIR        <dir>/logs
//   ZRHOST_TEMP_DIR       <dir>/tmp
//   ZRHOST_HORCM_ETC_DIR  <dir>/etc/
//   ZRHOST_CCI_DIR        <dir>/cci/   (simulator fixtures override it)
//   ZRHOST_INTENT_DIR     <dir>/intent (made on first use, private)
// The subdirectories exist. The destructor restores the variables' earlier
// values and removes the directory with everything in it.
#include <string>
#include <utility>
#include <vector>

class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return m_path; }
  // path() + "/" + name
  std::string file(const std::string& name) const;
  // Sets an environment variable for the guard's life (restored after).
  void setEnv(const std::string& name, const std::string& value);

 private:
  std::string m_path;
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> m_saved;
};

// Reads a whole file; "" when it cannot be read.
std::string zrReadFile(const std::string& path);
// Writes a whole file (created or truncated); false on failure.
bool zrWriteFile(const std::string& path, const std::string& content);
