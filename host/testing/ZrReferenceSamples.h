#pragma once
// Recorded answers of the array tools, kept under testdata/cci-reference/
// (one folder per form, one numbered folder per sample: cmd, stdout,
// stderr, exit, source). Tests read them as golden input.
#include <string>
#include <vector>

struct ZrReferenceSample {
  std::string form;     // folder of the form, e.g. "get_ldev"
  std::string number;   // the sample's folder name within it, e.g. "15"
  std::string cmd;      // the command line as recorded (first line)
  std::string stdoutText;
  std::string stderrText;
  int exitCode = 0;
  std::string source;   // where the sample comes from, what it alters

  // "get_ldev/15": how tables name a sample.
  std::string id() const { return form + "/" + number; }
  // True when the source says the sample is a peer driver's fixture
  // (abbreviated: a reader may refuse it, never misread it).
  bool isFixture() const;
};

// The directory that holds the samples (the compiled-in testdata path, or
// ZR_REFERENCE_DIR when set).
std::string zrReferenceDir();
// Every sample, sorted by form and then by number; empty when the directory
// cannot be read.
std::vector<ZrReferenceSample> zrReferenceSamples();
// One sample by its id ("get_ldev/15"); a sample with an empty form when
// there is none.
ZrReferenceSample zrReferenceSample(const std::string& id);
