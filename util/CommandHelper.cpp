#include "util/CommandHelper.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <new>
#include <vector>

#include "host/ZRClient.h"
#include "host/ZRPlatformInfo.h"
#include "host/ZrProcess.h"

namespace {

// The cap on what one command may print (both streams together), from the
// setting nZRHDSMaxCommandOutputInMB; values outside 1..16384 fall back.
constexpr int kDefaultOutputLimitMB = 256;
constexpr int kMaxOutputLimitMB = 16384;

const char kRunFn[] = "CommandHelper::RunCommandWithTimeout";
const char kRunPlainFn[] = "CommandHelper::RunCommand";
const char kLoginWord[] = "login";

// Overwrites a buffer that held a secret before it is released.
void wipe(std::vector<char>& bytes) {
  volatile char* p = bytes.data();
  for (size_t i = 0; i < bytes.size(); ++i) p[i] = 0;
}

// True when line is one simple command whose program is named by an
// absolute path: no list, pipe, background, redirection or grouping outside
// quotes, and a first word that is plain text beginning with '/' (never a
// builtin, keyword, assignment or function). Such a line may have "exec " in
// front, so that the shell becomes the tool instead of forking it; the exit
// code is the same.
bool isExecutableSimpleCommand(const std::string& line) {
  size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos) return false;
  bool firstWord = true;
  std::string program;  // the first word as the shell reads it
  char quote = 0;
  for (; i < line.size(); ++i) {
    char c = line[i];
    if (quote == '\'' || quote == '"') {
      if (c == quote) {
        quote = 0;
        continue;
      }
      if (quote == '"' && c == '\\' && i + 1 < line.size()) {
        c = line[++i];
      } else if (quote == '"' && firstWord && (c == '$' || c == '`')) {
        return false;
      }
    } else if (c == '\'' || c == '"') {
      quote = c;
      continue;
    } else if (c == '\\') {
      if (++i >= line.size() || line[i] == '\n') return false;
      c = line[i];
    } else if (c == '\0' || std::strchr(";&|<>()`\n", c) != nullptr) {
      return false;
    } else if (c == ' ' || c == '\t') {
      firstWord = false;
      continue;
    } else if (firstWord && std::strchr("$*?[~=#", c) != nullptr) {
      return false;
    }
    if (firstWord) program += c;
  }
  return quote == 0 && !program.empty() && program[0] == '/';
}

// The shell's text of a tool's exit: a tool that the shell would have
// forked reports a death by signal N as its exit code 128 + N.
bool shellWouldReportAsExit(const std::string& runnerError) {
  return runnerError.compare(0, 21, "terminated by signal ") == 0;
}

}  // namespace

std::string CommandHelper::buildCommandToPrint(const std::string& command,
                                               const std::string& suffix) {
  size_t p = command.find(kLoginWord);
  if (p != std::string::npos) {
    // Keep "login" and the one separator after it; the user name and the
    // password follow and must never be printed.
    return command.substr(0, p + sizeof(kLoginWord));
  }
  unsigned long doNotPrintFull = 0;
  ZRPlatformInfo settings;
  settings.getNumber("Tessavon", "SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND", &doNotPrintFull);
  if (doNotPrintFull == 0) return command + suffix;
  return command;
}

int CommandHelper::RunCommandWithTimeout(const std::string& command, std::string& output,
                                         int& exitCode, std::string& error, int timeout) {
  ZrProcess process;
  process.TrapIO(true, true);
  process.SetSilence(true);

  // The argument vector is built in full before the runner forks.
  const bool execd = isExecutableSimpleCommand(command);
  std::vector<std::vector<char>> texts;
  std::vector<char*> argv;
  try {
    static const char kShell[] = "/bin/sh", kDashC[] = "-c", kExec[] = "exec ";
    texts.emplace_back(kShell, kShell + sizeof(kShell));
    texts.emplace_back(kDashC, kDashC + sizeof(kDashC));
    // The line goes into its own buffer only (it may carry a password).
    texts.emplace_back();
    std::vector<char>& line = texts.back();
    line.reserve(sizeof(kExec) + command.size());
    if (execd) line.insert(line.end(), kExec, kExec + sizeof(kExec) - 1);
    line.insert(line.end(), command.begin(), command.end());
    line.push_back('\0');
    for (std::vector<char>& t : texts) argv.push_back(t.data());
    argv.push_back(nullptr);
  } catch (const std::bad_alloc&) {
    m_device.log(2, kRunFn, "Failed to allocate memory");
    error = "Failed to launch command" + buildCommandToPrint(command, "");
    return -1;
  }

  std::string runnerError;
  bool started = process.StartProcess(argv.data(), &runnerError, 0);
  wipe(texts[2]);  // the command line may carry a password
  texts.clear();
  argv.clear();
  // The settings are read while the command starts, not before.
  const std::string printable = buildCommandToPrint(command, "");
  const size_t limit = outputLimitBytes();
  process.SetOutputLimit(limit);
  if (!started) {
    m_device.log(2, kRunFn, "Failed to execute Command [%s]. Error [%s]", printable.c_str(),
                 runnerError.c_str());
    error = "Failed to launch command" + printable;
    return -1;
  }

  bool ended = process.WaitForProcessToEnd(&exitCode, &runnerError, timeout);
  // The shell, replaced by the tool, no longer turns its death by a signal
  // into an exit code: the same code as before, the same result.
  if (!ended && execd && shellWouldReportAsExit(runnerError)) ended = true;
  if (!ended) {
    if (runnerError == "timedout") {
      m_device.log(2, kRunFn, "Command [%s] timed out. Error [%s]", printable.c_str(),
                   runnerError.c_str());
      error = "Command " + printable + " timedout.";
      return -1;
    }
    if (runnerError.compare(0, 21, "output limit exceeded") == 0) {
      m_device.log(2, kRunFn, "Command [%s] was stopped: %s", printable.c_str(),
                   runnerError.c_str());
      error = "Command " + printable + " was stopped: its output passed the limit of " +
              std::to_string(limit) + " bytes (setting nZRHDSMaxCommandOutputInMB).";
      return -1;
    }
    m_device.log(2, kRunFn, "Failed to get status of Command [%s]", printable.c_str());
    // A child ended by a signal is a failure; say which signal.
    if (!runnerError.empty())
      m_device.log(2, kRunFn, "Command [%s]: %s", printable.c_str(), runnerError.c_str());
    error = "Failed to get status of command" + printable;
    return -1;
  }

  // Handed over, not copied: the output of a command may be large.
  process.TakeIO(&output, &error);
  m_device.log(0, kRunFn, "Command [%s] succeeded with exitCode [%d]", printable.c_str(), exitCode);
  // Parsers of failure output look at both streams.
  if (exitCode != 0) output += error;
  return 0;
}

size_t CommandHelper::outputLimitBytes() {
  int megabytes = kDefaultOutputLimitMB;
  ZRPlatformInfo settings;
  if (settings.getRegInt("~Tessavon", "nZRHDSMaxCommandOutputInMB", &megabytes) == 0 ||
      megabytes <= 0 || megabytes > kMaxOutputLimitMB) {
    megabytes = kDefaultOutputLimitMB;
  }
  return static_cast<size_t>(megabytes) << 20;
}

int CommandHelper::RunCommandWithFileOutput(const std::string& command, std::string& output,
                                            int& exitCode, std::string& error, int timeout,
                                            const std::string& /*outputFile*/) {
  return RunCommandWithTimeout(command, output, exitCode, error, timeout);
}

int CommandHelper::RunCommand(const std::string& command, std::string& output, int& exitCode,
                              std::string& error) {
  error.clear();
  const std::string printable = buildCommandToPrint(command, "");
  long r = ZrProcess::system(command.c_str(), &output, &error, 0, true);
  if (r != -1) {
    exitCode = static_cast<int>(r);
    m_device.log(2, kRunPlainFn, "Successfully executed command [%s] with exitCode [%d]",
                 printable.c_str(), exitCode);
    return 0;
  }
  m_device.log(2, kRunPlainFn, "Failed to execute command [%s]. Error [%s]", printable.c_str(),
               error.c_str());
  return -1;
}

std::string CommandHelper::itoa(int value) {
  char buffer[1024];
  std::memset(buffer, 0, sizeof(buffer));
  std::snprintf(buffer, sizeof(buffer), "%d", value);
  return buffer;
}

int CommandHelper::decryptPassword(const std::string& enciphered, std::string& plain) {
  if (enciphered.empty()) return 0;
  std::vector<char> input(COMMAND_MAX_PASSWORDLEN, 0);
  std::vector<char> output(COMMAND_MAX_PASSWORDLEN, 0);
  size_t n = enciphered.size() < COMMAND_MAX_PASSWORDLEN - 1 ? enciphered.size()
                                                             : COMMAND_MAX_PASSWORDLEN - 1;
  std::memcpy(input.data(), enciphered.data(), n);
  int length = COMMAND_MAX_PASSWORDLEN;
  int ok = ZRPassword::decrypt(input.data(), output.data(), &length);
  int result = 1;
  if (ok != 0) {
    output[COMMAND_MAX_PASSWORDLEN - 1] = 0;  // terminated whatever the host wrote
    plain = output.data();
    result = 0;
  }
  wipe(input);
  wipe(output);
  return result;
}

int CommandHelper::getEnv(const std::string& /*name*/, std::string& /*value*/) { return 0; }
int CommandHelper::setEnv(const std::string& /*name*/, const std::string& /*value*/) { return 0; }
void CommandHelper::stringToWchar(const std::string& /*text*/) {}
