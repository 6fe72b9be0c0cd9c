#pragma once
// Every fixed location of the stand-in host, each with one built-in default
// and one environment override. Nothing else reads these variables, so a test
// points the whole host into its own temporary directory by setting them
// before the first use. The variables are read afresh on every call.
#include <string>

namespace ZrPaths {
// ZRHOST_SETTINGS_FILE, default /etc/zrhost/settings.ini
std::string settingsFile();
// ZRHOST_LOCK_DIR, default /var/lock/zrhost
std::string lockDir();
// ZRHOST_LOG_DIR, default /var/log/zrhost
std::string logDir();
// ZRHOST_TEMP_DIR, default /tmp; what ZRPI_Base::getWrenlyTempDirectory returns
std::string tempDir();
// ZRHOST_HORCM_ETC_DIR, default "/etc/"; always ends with '/'
std::string horcmEtcDir();
// ZRHOST_CCI_DIR, default "/HORCM/usr/bin/"; always ends with '/'
std::string cciDir();
// ZRHOST_INTENT_DIR, default /var/lib/zrhost/intent: the records of array
// objects a job is about to create. On persistent storage (not the lock
// directory, which is often cleared at boot), so a record outlives a crash
// of the machine as the objects on the array do.
std::string intentDir();
// name as one file-name component: letters, digits, '-', '_' and '.' stand
// for themselves, every other byte becomes %XX, so distinct names never share
// a file; very long names keep a readable head and a hash of the whole.
std::string safeFileName(const std::string& name);
}  // namespace ZrPaths
