#pragma once
// The host's debug log. Each process writes one file, ZrPaths::logDir() +
// "/zrhost_<pid>.log"; each line is
//   "YYYY-MM-DD HH:MM:SS <pid> <thread> <level> <function> <message>"
// and a message with line breaks is written as several such lines. Only the
// format argument is a printf format; the function name and every argument
// are written as given, never interpreted.
//
// Thread-safety: lines of concurrent threads never interleave.
#include <string>

class EvDebug {
 public:
  EvDebug() = default;
  // The host keys several logs by a file instance; the stand-in keeps one
  // file per process and ignores it.
  explicit EvDebug(const char* fileInstance);

  static void DebugLvl(const char* function, int level, const char* format, ...)
      __attribute__((format(printf, 3, 4)));

  static long getProcessId();
  // This machine's client name (its short host name).
  static std::string getClientName();
  // The file this process logs to now.
  static std::string logFilePath();
  // The line prefix up to and including the function name; exposed so that
  // other log writers of the stand-in host use the same layout.
  static std::string linePrefix(const char* function, int level);
  // Appends message (one or more lines) to the process log under prefix.
  static void writeLines(const std::string& prefix, const std::string& message);
};
