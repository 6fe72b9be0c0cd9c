// Which reader of the array layer meets each recorded answer under
// testdata/cci-reference/, and what it must make of it. Every sample folder
// has one row here (a test fails for one without); the golden tables of
// golden_readers_test.cpp and golden_answers_test.cpp give the values each
// reader must read, or check its refusal, for every row of their reader.
#ifndef ZR_ARRAY_TESTS_SUPPORT_HDSGOLDENCOVERAGE_H
#define ZR_ARRAY_TESTS_SUPPORT_HDSGOLDENCOVERAGE_H

#include <string>
#include <vector>

#include "array/tests/support/HDSRecordingRunner.h"
#include "host/testing/ZrReferenceSamples.h"

namespace hdsgolden {

enum class Reader {
  kNone,  // no reader of the plug-in meets this answer
  kPool,
  kSnapshot,
  kCopyGroup,
  kQMarker,
  kPairSyncWait,
  kPairScan,
  kCommandDeviceScan,
  kFindCommandDevice,
  kLun,
  kHostGroup,
  kHostGroupWwn,
  kPort,
  kPortLogin,
  kResourceGroup,
  kLdev,
  kLdevList,
  kCommandStatus,
  kRaidqryList,
  kVersion,
  kFailedCommand,  // any command: the failing exit fails the operation
  kChangeCommand,  // a change command whose answer is only its exit code
};

enum class Verdict {
  kRead,     // read, values as the golden table says
  kRefused,  // refused with the operation's error, never misread
  kNotSent,  // the plug-in never sends this command (why says so)
};

struct Coverage {
  const char* id;
  Reader reader;
  Verdict verdict;
  const char* why;  // for kRefused and kNotSent
};

// The table, one row per sample folder.
const std::vector<Coverage>& coverage();

// The runner's reply replaying a sample: its standard output and error and
// its exit code, as the production runner hands them over.
inline HDSRecordingRunner::Reply replyOf(const ZrReferenceSample& s) {
  return HDSRecordingRunner::exit(s.exitCode, s.stdoutText, s.stderrText);
}

// Ids of the table's rows for one reader.
std::vector<std::string> idsOf(Reader reader);

}  // namespace hdsgolden

#endif  // ZR_ARRAY_TESTS_SUPPORT_HDSGOLDENCOVERAGE_H
