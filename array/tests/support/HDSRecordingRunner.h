// HDSRecordingRunner: a ZRHDSCommandRunner for unit tests of the array
// command layer. It records every composed command line and answers from
// rules that the test adds. A line that no rule matches fails loudly
// (exit 99, "HDSRecordingRunner: no answer for <line>" on standard error),
// so a mistyped option never passes silently.
//
// Typical use:
//   HDSRecordingRunner runner;
//   runner.on(" get ldev ", HDSRecordingRunner::ok("Serial#  : 412345\n..."));
//   ZRHDSRaidcomImplementer impl(log, params, runner, false);
//   ... call the operation ...
//   EXPECT_EQ(runner.lines(), (std::vector<std::string>{"/cci/raidcom  get ldev ..."}));
#ifndef ZR_ARRAY_TESTS_SUPPORT_HDSRECORDINGRUNNER_H
#define ZR_ARRAY_TESTS_SUPPORT_HDSRECORDINGRUNNER_H

#include <functional>
#include <string>
#include <vector>

#include "array/HDSCommandRunner.h"

class HDSRecordingRunner : public ZRHDSCommandRunner {
 public:
  struct Reply {
    int result = 0;  // 0 ran to its end; -1 start failure / time-out
    int exitCode = 0;
    std::string out;  // standard output
    std::string err;  // standard error (the reason when result is -1)
  };
  static Reply ok(const std::string& out = "") { return Reply{0, 0, out, ""}; }
  static Reply exit(int code, const std::string& out = "", const std::string& err = "") {
    return Reply{0, code, out, err};
  }
  static Reply timeout() { return Reply{-1, 0, "", "timedout"}; }

  // Answers lines containing `contains`; `times` > 0 uses the rule that many
  // times and then drops it, 0 keeps it. Earlier rules win.
  void on(const std::string& contains, const Reply& reply, int times = 0);
  // Answers lines that no rule matched (instead of the loud failure).
  void fallback(std::function<Reply(const std::string& line)> f) { m_fallback = std::move(f); }

  int run(ZRSO::SnapInfo* log, const std::string& line, std::string& output, int& exitCode,
          std::string& error, int timeoutSecs) override;

  const std::vector<std::string>& lines() const { return m_lines; }
  const std::vector<int>& timeouts() const { return m_timeouts; }
  // Contents of script files run as "/bin/sh <path>", read when they ran.
  const std::vector<std::string>& scripts() const { return m_scripts; }
  // Lines that contain `contains`.
  std::vector<std::string> linesWith(const std::string& contains) const;
  void clear() {
    m_lines.clear();
    m_timeouts.clear();
    m_scripts.clear();
  }

 private:
  struct Rule {
    std::string contains;
    Reply reply;
    int times;
  };
  std::vector<Rule> m_rules;
  std::function<Reply(const std::string&)> m_fallback;
  std::vector<std::string> m_lines;
  std::vector<int> m_timeouts;
  std::vector<std::string> m_scripts;
};

#endif  // ZR_ARRAY_TESTS_SUPPORT_HDSRECORDINGRUNNER_H
