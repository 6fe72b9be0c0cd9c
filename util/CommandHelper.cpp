#include "util/CommandHelper.h"

#include <cstdio>
#include <cstring>
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
  const std::string printable = buildCommandToPrint(command, "");
  ZrProcess process;
  process.TrapIO(true, true);
  process.SetSilence(true);
  const size_t limit = outputLimitBytes();
  process.SetOutputLimit(limit);

  // The argument vector is built in full before the runner forks.
  std::vector<std::vector<char>> texts;
  std::vector<char*> argv;
  try {
    const std::string parts[3] = {"/bin/sh", "-c", command};
    for (const std::string& part : parts)
      texts.emplace_back(part.c_str(), part.c_str() + part.size() + 1);
    for (std::vector<char>& t : texts) argv.push_back(t.data());
    argv.push_back(nullptr);
  } catch (const std::bad_alloc&) {
    m_device.log(2, kRunFn, "Failed to allocate memory");
    error = "Failed to launch command" + printable;
    return -1;
  }

  std::string runnerError;
  bool started = process.StartProcess(argv.data(), &runnerError, 0);
  wipe(texts[2]);  // the command line may carry a password
  texts.clear();
  argv.clear();
  if (!started) {
    m_device.log(2, kRunFn, "Failed to execute Command [%s]. Error [%s]", printable.c_str(),
                 runnerError.c_str());
    error = "Failed to launch command" + printable;
    return -1;
  }

  if (!process.WaitForProcessToEnd(&exitCode, &runnerError, timeout)) {
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
