#pragma once
// CommandHelper: runs one shell command line as a child process with a
// time-out and hands back its exit code and output; builds the printable
// form of a command line that every log of a command uses, so that what
// follows "login" on a login command line never reaches a log or an error
// text. One object per command; nothing is shared between calls, so several
// threads may run commands at once, each with its own object.
#include <string>

#include "host/ZRSOSnapInfo.h"

// Capacity of the password service's buffers.
#define COMMAND_MAX_PASSWORDLEN 2048

class CommandHelper {
 public:
  // Every message of the object goes to device's log.
  explicit CommandHelper(ZRSO::SnapInfo& device) : m_device(device) {}

  // Runs "/bin/sh -c command" with a time-out in seconds.
  // 0: the process ran to its end, whatever its exit code: exitCode is set,
  //    output is its standard output (followed by its standard error when
  //    exitCode is not 0) and error its standard error.
  // -1: it could not be started, timed out (error "Command <printable>
  //    timedout."; the whole process group has been killed), printed more
  //    than the output cap (setting nZRHDSMaxCommandOutputInMB, section
  //    "~Tessavon", 256 by default; the group is stopped and error says so),
  //    was ended by a signal, or its end could not be observed; output is
  //    left as passed.
  int RunCommandWithTimeout(const std::string& command, std::string& output, int& exitCode,
                            std::string& error, int timeout);
  // As RunCommandWithTimeout; outputFile is not used.
  int RunCommandWithFileOutput(const std::string& command, std::string& output, int& exitCode,
                               std::string& error, int timeout, const std::string& outputFile);
  // Runs the command to its end without a time-out. 0 / -1 as above.
  int RunCommand(const std::string& command, std::string& output, int& exitCode,
                 std::string& error);

  // The form of command that may be logged: for a command holding "login",
  // everything up to and including "login" and the one character after it
  // (never anything further, never the suffix); otherwise command + suffix,
  // or command alone when the setting SNAP_HDS_DO_NOT_PRINT_FULL_COMMAND
  // (section "Tessavon") is nonzero.
  std::string buildCommandToPrint(const std::string& command, const std::string& suffix);

  // Decimal text of value.
  static std::string itoa(int value);
  // 0 done (or nothing to do: empty input), 1 the host could not decipher
  // (plain unchanged).
  int decryptPassword(const std::string& enciphered, std::string& plain);

  // Kept for the host's interface; they do nothing.
  int getEnv(const std::string& name, std::string& value);
  int setEnv(const std::string& name, const std::string& value);
  void stringToWchar(const std::string& text);

  // The output cap in bytes, from the setting (read on every call).
  static size_t outputLimitBytes();

 private:
  ZRSO::SnapInfo& m_device;
};
