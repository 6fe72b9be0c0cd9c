// Command lines and their execution: common options, the exit-code policy
// (one place: executeCommand and executeCommandMain), the command-status
// reset and read of the batches (HDSRaidcomBatch.cpp), script files and
// output file names.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "array/HDSFileWrite.h"
#include "array/HDSParseStatus.h"
#include "array/HDSRaidcomImplementer.h"
#include "array/HDSScriptFiles.h"
#include "array/HDSShellQuote.h"
#include "array/HDSTextColumns.h"
#include "host/EvDebug.h"
#include "host/ZRSOSnapInfo.h"
#include "host/ZrClock.h"
#include "util/CommandHelper.h"
#include "util/ZRHDSLock.h"

namespace {

constexpr int kExitLoginExpired = ZR_HDS_EXIT_LOGIN_EXPIRED;
constexpr int kExitStatusTimeout = ZR_HDS_EXIT_STATUS_TIMEOUT;
// "get command_status" exits 1 when the listed status counts errors.
constexpr int kExitStatusHasErrors = 1;
// Attempts to create a script file (each with a fresh name) and the pause
// between them.
constexpr int kScriptOpenAttempts = 5;
constexpr int64_t kScriptOpenPauseMillis = 2000;

const char* const kOutputFileLock = ZR_HDS_LOCK_OUTPUTFILE;
const char* const kInputFileLock = ZR_HDS_LOCK_INPUTFILE;

// The two name counters, each guarded by its own process mutex (the named
// lock orders processes; the pid in the name keeps them apart anyway).
struct NameCounter {
  std::mutex mu;
  int64_t lastTime = 0;
  int lastIdx = 1;
};
NameCounter& outputCounter() {
  static NameCounter c;
  return c;
}
NameCounter& inputCounter() {
  static NameCounter c;
  return c;
}

std::string errnoText(int err) { return std::string(strerror(err)); }

// The job values that reach every command line through the common options
// (and the command directory in front of it). Returns the name of the first
// unusable one, with its value, or null when all may go on a line: the
// instance and serial are decimal numbers (or absent), the directory holds
// no control character.
const char* unusableCommonValue(const ZRHDSSnapOptions& o, std::string& value) {
  if (!o.horcmInst.empty() && !HDSShell::isDecimal(o.horcmInst)) {
    value = o.horcmInst;
    return "HORCM instance";
  }
  if (!o.baseSerialNum.empty() && !HDSShell::isDecimal(o.baseSerialNum)) {
    value = o.baseSerialNum;
    return "Serial Number";
  }
  if (!HDSShell::isLineSafe(o.horcmInstPath)) {
    value = o.horcmInstPath;
    return "CCI command directory";
  }
  return nullptr;
}

// What the tool printed for a login line, fit for a log: the array user name
// and password are masked wherever the tool (or the shell) echoed them, as
// given or in the quoted form they had on the command line; longer forms
// first, so that no part of one is left behind.
std::string withoutCredentials(std::string text, const ZRHDSSnapOptions& o) {
  std::vector<std::string> secrets = {o.password, HDSShell::quote(o.password), o.userName,
                                      HDSShell::quote(o.userName)};
  std::sort(secrets.begin(), secrets.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    for (size_t p = text.find(secret); p != std::string::npos; p = text.find(secret, p + 4)) {
      text.replace(p, secret.size(), "****");
    }
  }
  return text;
}

}  // namespace

std::string ZRHDSRaidcomImplementer::getCommonParams(bool imOption, bool appendSerial) {
  std::string params = imOption ? " -IM" : " -IH";
  params += m_oSnapOptions.horcmInst;
  if (appendSerial) {
    params += " -s ";
    params += m_oSnapOptions.baseSerialNum;
  }
  return params;
}

std::string ZRHDSRaidcomImplementer::printable(const std::string& line) {
  if (m_pSnapInfo == nullptr) {
    // Without a logging object there is no settings-aware printer; cut any
    // login line the same way.
    size_t p = line.find("login");
    return p == std::string::npos ? line : line.substr(0, p + 6);
  }
  CommandHelper helper(*m_pSnapInfo);
  return helper.buildCommandToPrint(line, "");
}

int ZRHDSRaidcomImplementer::refuseInvalidInput(const char* function, const char* what,
                                                const std::string& value) {
  std::string shown = value;
  for (char& c : shown) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) c = '?';
  }
  std::string text = std::string("Invalid input: ") + what + "-[" + shown + "] is not valid.";
  return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, text, function, "%s", text.c_str());
}

int ZRHDSRaidcomImplementer::refuseUnusableCommonOptions(const char* function) {
  std::string unusable;
  if (const char* what = unusableCommonValue(m_oSnapOptions, unusable)) {
    return refuseInvalidInput(function, what, unusable);
  }
  return 0;
}

int ZRHDSRaidcomImplementer::checkListing(const char* function, const std::string& output,
                                          const hdscols::ListingRead& read,
                                          const std::string& failureText) {
  if (read.ok()) return 0;
  return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, failureText, function, "%s Output-[%s]",
                    read.refusal, output.c_str());
}

bool ZRHDSRaidcomImplementer::checkInstance(const char* function) {
  if (HDSShell::isDecimal(m_oSnapOptions.horcmInst)) return true;
  refuseInvalidInput(function, "HORCM instance", m_oSnapOptions.horcmInst);
  return false;
}

int ZRHDSRaidcomImplementer::executeCommand(const std::string& command,
                                            const std::string& arguments, std::string& output,
                                            int& exitCode) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::executeCommand";
  output.clear();
  exitCode = 0;

  if (refuseUnusableCommonOptions(kFn) != 0) return 1;

  const std::string& dir = m_oSnapOptions.horcmInstPath;
  std::string line =
      (dir.empty() ? std::string() : HDSShell::quote(dir)) + command + " " + arguments;
  std::string shown = printable(line);
  // A login line prints cut short; what its tool says is masked the same way.
  const bool credentialLine = shown.size() < line.size();

  std::string error;
  ++m_nCommandsRun;
  int rc = m_pRunner->run(m_pSnapInfo, line, output, exitCode, error, m_nCCICommandTimeout);
  // Masked only where it may hold credentials: a copy of every output would
  // double the memory of a large one, and it is logged on failures only.
  std::string masked;
  if (credentialLine) masked = withoutCredentials(output, m_oSnapOptions);
  const std::string& logged = credentialLine ? masked : output;
  if (rc == -1) {
    if (credentialLine) error = withoutCredentials(error, m_oSnapOptions);
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND,
                      "Failed to execute command '" + shown + "' Error-[" + error + "].", kFn,
                      "Failed to execute the command-[%s]. Error-[%s]. Output-[%s]", shown.c_str(),
                      error.c_str(), logged.c_str());
  }
  if (exitCode == 0) return 0;
  // Any other status fails, a negative one (no regular exit) included.
  int level = (exitCode == 1 || exitCode == 227) ? 0 : 2;
  logMessage(level, kFn, "Command-[%s] returned exitcode-[%d]. Output-[%s]", shown.c_str(),
             exitCode, logged.c_str());
  setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Command '" + shown + "' returned exit code-[" +
                                                   std::to_string(exitCode) + "].");
  return 1;
}

int ZRHDSRaidcomImplementer::executeWithRelogin(const std::string& command,
                                                const std::string& arguments, std::string& output,
                                                int& exitCode) {
  if (executeCommand(command, arguments, output, exitCode) == 0) return 0;
  if (exitCode != kExitLoginExpired) return 1;
  // The array ended the login: log in once more and run once more. There
  // is never a second re-login.
  ++m_nLoginRenewals;
  if (login(true) != 0) return 1;
  return executeCommand(command, arguments, output, exitCode);
}

void ZRHDSRaidcomImplementer::keepCommandOutput(const std::string& output) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::executeCommandMain";
  if (!m_bKeepCmdOutput || output.empty()) return;
  // A copy for diagnosis only: failing to keep it does not undo or fail a
  // command that succeeded on the array.
  std::string name = formatOutputFileName();
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    logMessage(2, kFn, "Failed to open output file-[%s]. Error-[%s]", name.c_str(),
               errnoText(errno).c_str());
    return;
  }
  std::string why;
  if (!HDSFile::writeAll(fd, output, why)) {
    logMessage(2, kFn, "Failed to write into output file-[%s]. Error-[%s]", name.c_str(),
               why.c_str());
  }
  ::close(fd);
}

int ZRHDSRaidcomImplementer::executeCommandMain(const std::string& command,
                                                const std::string& arguments, std::string& output,
                                                int& exitCode) {
  if (executeWithRelogin(command, arguments, output, exitCode) != 0) return 1;
  keepCommandOutput(output);
  return 0;
}

int ZRHDSRaidcomImplementer::resetCommandStatus() {
  static const char* const kFn = "ZRHDSRaidcomImplementer::resetCommandStatus";
  std::string output;
  int exitCode = 0;
  if (executeCommandMain("raidcom  reset command_status ", getCommonParams(true, true), output,
                         exitCode) != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to reset the command status.", kFn,
                      "Failed to reset the command status.");
  }
  return 0;
}

int ZRHDSRaidcomImplementer::getCommandStatus(bool& hasError, std::string& statusText) {
  int errors = 0;
  const int rc = readCommandStatus(errors, statusText);
  hasError = errors != 0;
  return rc;
}

int ZRHDSRaidcomImplementer::readCommandStatus(int& errors, std::string& statusText) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::getCommandStatus";
  errors = 0;
  const std::string command = "raidcom  get command_status ";
  const std::string arguments = getCommonParams(true, true);
  std::string output;
  int exitCode = 0;
  int tries = 0;
  while (tries < m_nRaidcomMaxRetryCount) {
    if (executeCommandMain(command, arguments, output, exitCode) == 0) break;
    // The tool exits 1 when the status it lists counts errors: the row is
    // the answer. Only an answer without a row is a failed query.
    bool rowError = false;
    std::string rowText, row;
    if (exitCode == kExitStatusHasErrors &&
        parseCommandStatus(output, rowError, rowText, row) == 0) {
      setErrorCodeString(0, "");
      break;
    }
    if (exitCode != kExitStatusTimeout) {
      return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get command status.", kFn,
                        "Failed to get command status.");
    }
    logMessage(2, kFn, "Failed to get command status. Command Timeout. Retry Count-[%d]", tries);
    // The tool has already waited on the array: ask again at once.
    ++tries;
  }
  if (tries >= m_nRaidcomMaxRetryCount) {
    logMessage(2, kFn, "Failed to get command status after [%d] retries.", tries);
    errors = -1;
    statusText = "Command Timeout.";
  }

  std::string row;
  bool rowHasError = false;
  std::string rowText;
  int rowErrors = 0;
  if (parseCommandStatus(output, rowHasError, rowText, row, &rowErrors) != 0) {
    logMessage(2, kFn, "Unreadable command status output-[%s]", output.c_str());
    return 1;
  }
  if (rowHasError) {
    errors = rowErrors;
    statusText = rowText;
    logMessage(2, kFn, "Command Status-[%s]", row.c_str());
  }
  return 0;
}

int ZRHDSRaidcomImplementer::parseCommandStatus(const std::string& output, bool& hasError,
                                                std::string& statusText, std::string& row,
                                                int* errors) {
  return hdsparse::parseCommandStatusRow(output, hasError, statusText, row, errors) ? 0 : 1;
}

int ZRHDSRaidcomImplementer::executeScriptFile(const std::string& script, std::string& output,
                                               int& exitCode) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::executeScriptFile";
  output.clear();
  if (script.empty()) {
    logMessage(2, kFn, "The Script content is empty. Nothing to execute.");
    return 1;
  }

  // Every line runs, and the script fails with the status of the last line
  // that failed (a plain /bin/sh script would report only its last line).
  std::string body = "zr_rc=0\n";
  size_t count = 0;
  size_t pos = 0;
  while (pos < script.size()) {
    size_t end = script.find('\n', pos);
    if (end == std::string::npos) end = script.size();
    std::string line = script.substr(pos, end - pos);
    pos = end + 1;
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (!HDSShell::isLineSafe(line)) return refuseInvalidInput(kFn, "script line", line);
    body += line;
    body += " || zr_rc=$?\n";
    ++count;
  }
  if (count == 0) {
    logMessage(2, kFn, "The Script content is empty. Nothing to execute.");
    return 1;
  }
  body += "exit $zr_rc\n";
  // Script lines carry the common options as executeCommand's lines do.
  if (refuseUnusableCommonOptions(kFn) != 0) return 1;

  // What a job that died while its script ran left behind goes first.
  HDSScriptFiles::removeOrphans(m_sTempDir);
  // Created exclusively and privately: never through an existing file or
  // link, and nobody else may change it between writing and running.
  std::string name;
  int fd = -1;
  int lastErr = 0;
  for (int attempt = 0; attempt < kScriptOpenAttempts; ++attempt) {
    if (attempt > 0) {
      logMessage(2, kFn, "Failed to open the ScriptFile-[%s]. Error-[%s], Will retry after 2secs.",
                 name.c_str(), errnoText(lastErr).c_str());
      ZrClock::get().sleepMillis(kScriptOpenPauseMillis);
    }
    name = formatInputFileName();
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                HDSScriptFiles::kInFlightMode);
    if (fd >= 0) break;
    lastErr = errno;
  }
  if (fd < 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to open the ScriptFile-[" + name + "]", kFn,
                      "Failed to open the ScriptFile-[%s]. Error-[%s]", name.c_str(),
                      errnoText(lastErr).c_str());
  }
  // The mode asked for at creation may have been narrowed by the umask.
  (void)::fchmod(fd, HDSScriptFiles::kInFlightMode);
  // Kept (for inspection) on every path that does not remove it below.
  HDSScriptFiles::InFlight inFlight(name);
  std::string why;
  if (!HDSFile::writeAndClose(fd, body, why)) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to write to the ScriptFile-[" + name + "]",
                      kFn, "Failed to write to the ScriptFile-[%s]. Error-[%s]", name.c_str(),
                      why.c_str());
  }

  std::string error;
  ++m_nCommandsRun;
  int rc = m_pRunner->run(m_pSnapInfo, "/bin/sh " + HDSShell::quote(name), output, exitCode, error,
                          m_nCCICommandTimeout);
  if (rc != -1 && exitCode == kExitLoginExpired) {
    // The array ended the login: log in once more and run the script once
    // more. There is never a second re-login.
    logMessage(1, kFn, "Script-[%s] found the login ended; logging in again.", name.c_str());
    ++m_nLoginRenewals;
    if (login(true) != 0) return 1;
    output.clear();
    error.clear();
    ++m_nCommandsRun;
    rc = m_pRunner->run(m_pSnapInfo, "/bin/sh " + HDSShell::quote(name), output, exitCode, error,
                        m_nCCICommandTimeout);
  }
  if (rc == -1) {
    return failLogged(
        ZR_HDS_ERR_ARRAY_COMMAND,
        "Failed to execute Script-[" + name + "] with CCI commands. Error-[" + error + "]", kFn,
        "Failed to execute Script-[%s]. Error-[%s]. Output-[%s].", name.c_str(), error.c_str(),
        output.c_str());
  }
  if (exitCode != 0) {
    return failLogged(
        ZR_HDS_ERR_ARRAY_COMMAND,
        "Command in the Script-[" + name + "] failed to execute. Output-[" + output + "]", kFn,
        "Script-[%s] returned exitcode-[%d]. Output-[%s]", name.c_str(), exitCode, output.c_str());
  }
  // The tools write their marks on standard error, which the runner appends
  // to the output only after a failing status: search both streams.
  std::string both = output;
  if (!error.empty()) {
    if (!both.empty() && both.back() != '\n') both += '\n';
    both += error;
  }
  size_t p = both.find("raidcom: [EW_");
  if (p == std::string::npos) p = both.find("raidcom: [EX_");
  if (p != std::string::npos) {
    std::string text = both.substr(p);
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND,
                      "Script-[" + name + "] output has Error-[" + text + "]", kFn,
                      "Script-[%s] output has Error-[%s]", name.c_str(), text.c_str());
  }

  if (!m_bKeepCmdOutput) {
    inFlight.done();
    if (::unlink(name.c_str()) != 0 && errno != ENOENT) {
      if (::chmod(name.c_str(), 0666) != 0) {
        logMessage(2, kFn, "Failed to change the permission of ScriptFile-[%s] to delete.",
                   name.c_str());
      } else if (::unlink(name.c_str()) != 0 && errno != ENOENT) {
        logMessage(2, kFn, "Failed to remove the ScriptFile-[%s]", name.c_str());
      }
    }
  }
  return 0;
}

namespace {

// Eight random letters and digits from the kernel's generator: a name that
// nobody can plant a link or file at ahead of time.
std::string unpredictableToken() {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[8] = {0};
  size_t got = 0;
  while (got < sizeof(bytes)) {
    ssize_t n = ::getrandom(bytes + got, sizeof(bytes) - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof(bytes)) {
    // No kernel generator: fall back to the clock's nanoseconds and the
    // address space layout, still not guessable from outside in advance.
    uint64_t v =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        reinterpret_cast<uintptr_t>(&got);
    for (unsigned char& b : bytes) {
      b = static_cast<unsigned char>(v);
      v = v * 6364136223846793005ULL + 1442695040888963407ULL;
    }
  }
  std::string token;
  for (unsigned char b : bytes) token += kAlphabet[b % (sizeof(kAlphabet) - 1)];
  return token;
}

std::string makeFileName(NameCounter& counter, const std::string& dir, const char* suffix) {
  int64_t now = ZrClock::get().nowSeconds();
  int idx;
  {
    std::lock_guard<std::mutex> g(counter.mu);
    if (now == counter.lastTime) {
      ++counter.lastIdx;
    } else {
      counter.lastIdx = 1;
    }
    counter.lastTime = now;
    idx = counter.lastIdx;
  }
  long pid = EvDebug::getProcessId();
  int tid = static_cast<int>(::syscall(SYS_gettid));
  char tail[160];
  snprintf(tail, sizeof(tail), "/%ld_%d_%lld_%d_%s_%s", pid, tid, static_cast<long long>(now), idx,
           unpredictableToken().c_str(), suffix);
  return dir + tail;
}

}  // namespace

std::string ZRHDSRaidcomImplementer::formatOutputFileName() {
  std::unique_ptr<ZRHDSLock> lock;
  if (m_pSnapInfo != nullptr) lock.reset(new ZRHDSLock(*m_pSnapInfo, kOutputFileLock, 0));
  std::string name = makeFileName(outputCounter(), m_sTempDir, "resp.log");
  logMessage(0, "ZRHDSRaidcomImplementer::formatOutputFileName", "Going to use output file-[%s]",
             name.c_str());
  return name;
}

std::string ZRHDSRaidcomImplementer::formatInputFileName() {
  std::unique_ptr<ZRHDSLock> lock;
  if (m_pSnapInfo != nullptr) lock.reset(new ZRHDSLock(*m_pSnapInfo, kInputFileLock, 0));
  std::string name = makeFileName(inputCounter(), m_sTempDir, "script");
  logMessage(0, "ZRHDSRaidcomImplementer::formatInputFileName", "Going to use Input file-[%s]",
             name.c_str());
  return name;
}
