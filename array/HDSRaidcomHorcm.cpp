// The HORCM instance file (one per array and machine, numbers 3532 down to
// 3501 in the HORCM directory) and the start and shutdown of the instance.
//
// Files are only ever removed, rewritten or shut down when they are ours: an
// instance number 3501-3532 whose file begins with our own first line.
// Files are read and written without following links.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "array/HDSFileWrite.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"
#include "host/ZRSOSnapInfo.h"
#include "host/ZrPaths.h"
#include "host/ZrSafeFile.h"

namespace {

constexpr int kFirstInstance = 3532;
constexpr int kLastInstance = 3501;
// Instance files are a few hundred bytes; anything far larger is not ours.
constexpr size_t kMaxHorcmFileSize = 1 << 20;

const char kOwnFirstLine[] =
    "#HORCM file create by Orrelan Quorbinflex. Do not alter the file content or delete the "
    "file.";

// Reads a regular file without following a link and without blocking on a
// FIFO; false with why on error.
bool readWholeFile(const std::string& path, std::string& text, std::string& why) {
  text.clear();
  return ZrSafeFile::readRegular(path, &text, kMaxHorcmFileSize, &why);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string ZRHDSRaidcomImplementer::horcmFilePath(int instance) {
  return ZrPaths::horcmEtcDir() + "horcm" + std::to_string(instance) + ".conf";
}

bool ZRHDSRaidcomImplementer::isOwnHorcmFile(const std::string& text) {
  const size_t n = sizeof(kOwnFirstLine) - 1;
  return text.size() > n && text.compare(0, n, kOwnFirstLine) == 0 && text[n] == '\n';
}

bool ZRHDSRaidcomImplementer::parseOwnInstance(const std::string& text, int& instance) {
  if (!HDSShell::isDecimal(text) || text.size() > 4) return false;
  int n = std::stoi(text);
  if (n < kLastInstance || n > kFirstInstance) return false;
  instance = n;
  return true;
}

bool ZRHDSRaidcomImplementer::removeFileRetrying(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
  struct stat st;
  // A link is never chmod-ed (that would change its target).
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::chmod(path.c_str(), 0666) == 0) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
  }
  return false;
}

void ZRHDSRaidcomImplementer::scanHorcmSerials(const std::string& text,
                                               std::set<std::string>& serials) {
  static const std::string kMarker = "\\\\.\\CMD";  // backslash backslash . backslash CMD
  size_t pos = 0;
  while ((pos = text.find(kMarker, pos)) != std::string::npos) {
    size_t start = pos + kMarker.size() + 1;  // the marker and the '-' after it
    pos += kMarker.size();
    if (start >= text.size()) break;
    std::string serial = text.substr(start, 6);
    if (serial.size() == 6 && !isDigit(serial[5])) serial.pop_back();
    if (!serial.empty()) serials.insert(serial);
  }
}

std::string ZRHDSRaidcomImplementer::buildHorcmFileContent(int instance) const {
  std::string n = std::to_string(instance);
  std::string text;
  text += kOwnFirstLine;
  text += "\n";
  text += "HORCM_MON\n";
  text += "#ip_address                  service         poll(10ms)     timeout(10ms)\n";
  text += getLocalHostName() + "\t\t" + n + "\t1000           3000\n";
  text += "\n";
  text += "HORCM_CMD\n";
  text += "#dev_name               dev_name                dev_name\n";
  text += "#\\\\.\\CMD-" + m_oSnapOptions.baseSerialNum + "\n";
  for (const std::string& dev : m_vCommandDevices) text += dev + " ";
  text += "\n";
  return text;
}

int ZRHDSRaidcomImplementer::readRaidcomHorcmFiles(int instance, std::set<std::string>& serials) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::readRaidcomHorcmFiles";
  std::string path = horcmFilePath(instance);
  std::string text, why;
  if (!readWholeFile(path, text, why)) {
    std::string msg = "Failed to read HORCM file-[" + path + "]. Error-[" + why + "]";
    if (msg.size() > 2047) msg.resize(2047);
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, msg, kFn, "%s", msg.c_str());
  }
  scanHorcmSerials(text, serials);
  return 0;
}

bool ZRHDSRaidcomImplementer::isTrustedHorcmFile(const std::string& path, std::string& text,
                                                 std::string& why) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    why = strerror(errno);
    return false;
  }
  // A link, FIFO or device, a file of another user, or one that others may
  // change is never used, rewritten or started.
  if (!S_ISREG(st.st_mode)) {
    why = "not a regular file";
    return false;
  }
  if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    why = "owned by another user or writable by others";
    return false;
  }
  return readWholeFile(path, text, why);
}

bool ZRHDSRaidcomImplementer::instanceFileNamesArray(int instance, const std::string& serial) {
  std::string text, why;
  if (!isTrustedHorcmFile(horcmFilePath(instance), text, why)) return false;
  std::set<std::string> serials;
  scanHorcmSerials(text, serials);
  return serials.count(serial) > 0;
}

int ZRHDSRaidcomImplementer::createRaidcomHorcmFiles(const std::string& serial,
                                                     bool forceRecreate) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::createRaidcomHorcmFiles";
  if (!HDSShell::isDecimal(serial)) return refuseInvalidInput(kFn, "Serial Number", serial);

  // Every number is looked at for a file naming the array before a free
  // number is taken, so an array never gets a second file and daemon when
  // the numbers have gaps.
  int chosen = 0;
  int firstFree = 0;
  bool write = false;
  std::string chosenText;
  for (int n = kFirstInstance; n >= kLastInstance; --n) {
    std::string path = horcmFilePath(n);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) {
        logMessage(2, kFn, "Unable to check the HORCM file-[%s]. Error-[%s]", path.c_str(),
                   strerror(errno));
      } else if (firstFree == 0) {
        firstFree = n;
      }
      continue;
    }
    std::string text, why;
    if (!isTrustedHorcmFile(path, text, why)) {
      // Not fatal for every job: this number is simply not usable.
      logMessage(2, kFn, "Unable to read the HORCM file [%s]. Error-[%s]. Skipping it.",
                 path.c_str(), why.c_str());
      continue;
    }
    std::set<std::string> serials;
    scanHorcmSerials(text, serials);
    if (serials.count(serial) == 0) continue;
    chosen = n;
    chosenText.swap(text);
    break;
  }
  if (chosen != 0) {
    const std::string path = horcmFilePath(chosen);
    if (forceRecreate && isOwnHorcmFile(chosenText)) {
      if (!removeFileRetrying(path)) {
        return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Unable to delete HORCM file " + path, kFn,
                          "Unable to delete HORCM file-[%s]", path.c_str());
      }
      write = true;
    } else if (forceRecreate) {
      logMessage(1, kFn,
                 "HORCM file-[%s] names the array but was not written by us; using it "
                 "unchanged.",
                 path.c_str());
    }
  } else if (firstFree != 0) {
    logMessage(0, kFn, "HORCM instance-[%d] is available for use.", firstFree);
    chosen = firstFree;
    write = true;
  } else {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to find a HORCM instance to use", kFn,
                      "Couldn't find a free HORCM instance to use.");
  }
  m_oSnapOptions.horcmInst = std::to_string(chosen);
  if (!write) return 0;

  std::string path = horcmFilePath(chosen);
  std::string host = getLocalHostName();
  if (host.empty() || !HDSShell::isPlain(host)) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND,
                      "Local host name is not known. Unable to write HORCM file " + path, kFn,
                      "The local host name-[%s] cannot be written into the HORCM file-[%s].",
                      host.c_str(), path.c_str());
  }
  for (const std::string& dev : m_vCommandDevices) {
    if (!HDSShell::isPlain(dev)) {
      return refuseInvalidInput(kFn, "command device", dev);
    }
  }
  // Created afresh: a file that appeared meanwhile (a link, a FIFO) is
  // never written through.
  int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Unable to opern HORCM file " + path, kFn,
                      "Unable to open HORCM file-[%s]. Error-[%s]", path.c_str(), strerror(errno));
  }
  (void)::fchmod(fd, 0644);  // the umask may have narrowed it; HORCM runs as another user
  std::string why;
  if (!HDSFile::writeAndClose(fd, buildHorcmFileContent(chosen), why)) {
    logMessage(2, kFn, "Unable to write into HORCM file-[%s]. Error-[%s]", path.c_str(),
               why.c_str());
    // A half-written file must not be taken for a valid instance later.
    ::unlink(path.c_str());
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Unable to write HORCM file " + path);
    return 1;
  }
  return 0;
}

int ZRHDSRaidcomImplementer::horcmStart(const char* instance) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::horcmStart";
  std::string inst = instance != nullptr ? instance : m_oSnapOptions.horcmInst;
  if (inst.empty()) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "HORCM instance is not passed.", kFn,
                      "HORCM instance is not passed.");
  }
  if (!HDSShell::isDecimal(inst)) return refuseInvalidInput(kFn, "HORCM instance", inst);
  std::string output;
  int exitCode = 0;
  if (executeCommand("horcmstart.sh", inst, output, exitCode) != 0) {
    if (exitCode == 1 && output.find("already been running") != std::string::npos) {
      logMessage(1, kFn, "HORCM instance-[%s] is already running.", inst.c_str());
      setErrorCodeString(0, "");
      return 0;
    }
    saveFileAsLog(ZrPaths::horcmEtcDir() + "horcm" + inst + ".conf");
    return failLogged(ZR_HDS_ERR_HORCM_START, "Failed to start HORCM instance " + inst, kFn,
                      "Failed to start HORCM instance-[%s]", inst.c_str());
  }
  if (output.find("successfully") == std::string::npos) {
    saveFileAsLog(ZrPaths::horcmEtcDir() + "horcm" + inst + ".conf");
    return failLogged(ZR_HDS_ERR_HORCM_START, "Failed to start HORCM instance " + inst, kFn,
                      "Failed to start HORCM instance-[%s], Output-[%s]", inst.c_str(),
                      output.c_str());
  }
  logMessage(1, kFn, "Successfully started HORCM instance-[%s].", inst.c_str());
  return 0;
}

int ZRHDSRaidcomImplementer::horcmShutdown(const char* instance) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::horcmShutdown";
  std::string inst = instance != nullptr ? instance : m_oSnapOptions.horcmInst;
  if (inst.empty()) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "HORCM instance is not passed to shutdown process.",
                      kFn, "HORCM instance is not passed.");
  }
  int n = 0;
  if (!parseOwnInstance(inst, n)) return refuseInvalidInput(kFn, "HORCM instance", inst);
  std::string text, why;
  if (!readWholeFile(horcmFilePath(n), text, why) || !isOwnHorcmFile(text)) {
    logMessage(1, kFn, "HORCM instance-[%s] was not set up by us; it is left running.",
               inst.c_str());
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND,
                       "HORCM instance " + inst + " was not set up by this plug-in.");
    return 1;
  }
  std::string output;
  int exitCode = 0;
  if (executeCommand("horcmshutdown.sh", inst, output, exitCode) != 0) {
    logMessage(2, kFn, "Failed to stop HORCM instance-[%s]", inst.c_str());
    return 1;
  }
  logMessage(1, kFn, "Successfully stopped the HORCM instance-[%s]", inst.c_str());
  return 0;
}

int ZRHDSRaidcomImplementer::removeHorcmFiles() {
  static const char* const kFn = "ZRHDSRaidcomImplementer::removeHorcmFiles";
  const std::string& inst = m_oSnapOptions.horcmInst;
  if (inst.empty()) return 0;
  int n = 0;
  if (!parseOwnInstance(inst, n)) {
    logMessage(2, kFn, "HORCM instance-[%s] is not one of ours; its file is kept.", inst.c_str());
    return 1;
  }
  std::string path = horcmFilePath(n);
  std::string text, why;
  if (!readWholeFile(path, text, why)) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return 0;  // nothing to remove
    logMessage(2, kFn, "Failed to delete the HORCM File-[%s]", path.c_str());
    return 1;
  }
  if (!isOwnHorcmFile(text)) {
    logMessage(2, kFn, "HORCM File-[%s] was not written by us; it is kept.", path.c_str());
    return 1;
  }
  if (!removeFileRetrying(path)) {
    logMessage(2, kFn, "Failed to delete the HORCM File-[%s]", path.c_str());
    return 1;
  }
  logMessage(1, kFn, "Deleted the HORCM file-[%s]", path.c_str());
  return 0;
}

int ZRHDSRaidcomImplementer::saveFileAsLog(const std::string& path) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::saveFileAsLog";
  if (path.empty()) return 0;
  std::string text, why;
  if (!readWholeFile(path, text, why)) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to read the file " + path, kFn,
                      "Failed to read file-[%s]. Error-[%s]", path.c_str(), why.c_str());
  }
  if (text.empty()) return 0;
  std::string name = formatOutputFileName();
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to create the file " + name, kFn,
                      "Failed to create file-[%s]. Error-[%s]", name.c_str(), strerror(errno));
  }
  if (!HDSFile::writeAndClose(fd, text, why)) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to write to the file " + name, kFn,
                      "Failed to write to file-[%s]. Error-[%s]", name.c_str(), why.c_str());
  }
  logMessage(1, kFn, "Saved file-[%s] as [%s]", path.c_str(), name.c_str());
  return 0;
}
