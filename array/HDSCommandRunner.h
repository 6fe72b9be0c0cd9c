// ZRHDSCommandRunner: the one seam through which the CCI implementer starts a
// process. Production uses ZRHDSCommandHelperRunner (CommandHelper, that is
// /bin/sh -c <line> with a time-out); tests hand the implementer a recording
// runner (array/tests/support/HDSRecordingRunner.h) and compare the composed
// lines with golden strings.
#ifndef ZR_ARRAY_HDSCOMMANDRUNNER_H
#define ZR_ARRAY_HDSCOMMANDRUNNER_H

#include <string>

namespace ZRSO {
class SnapInfo;
}

class ZRHDSCommandRunner {
 public:
  virtual ~ZRHDSCommandRunner();
  // Runs `line` under /bin/sh -c, waiting at most timeoutSecs.
  // Returns 0 when the process ran to its end, whatever its exit code:
  // exitCode is set, output is the standard output followed (only when the
  // exit code is not 0) by the standard error, error is the standard error.
  // Returns -1 when it could not be started, timed out, or its end could not
  // be observed; error says why and output is left as passed.
  // `log` is the job's logging object (may be null); the line may hold a
  // password, so implementations print it only through
  // CommandHelper::buildCommandToPrint.
  virtual int run(ZRSO::SnapInfo* log, const std::string& line, std::string& output, int& exitCode,
                  std::string& error, int timeoutSecs) = 0;
};

// The production runner: CommandHelper::RunCommandWithTimeout.
class ZRHDSCommandHelperRunner : public ZRHDSCommandRunner {
 public:
  int run(ZRSO::SnapInfo* log, const std::string& line, std::string& output, int& exitCode,
          std::string& error, int timeoutSecs) override;
  // The process-wide instance used when no runner is given.
  static ZRHDSCommandHelperRunner& instance();
};

#endif  // ZR_ARRAY_HDSCOMMANDRUNNER_H
