#pragma once
// Runs a scenario end to end: builds a fresh work directory (the simulated
// array, the host's settings, locks, logs and temporary files all live in
// it), points the host stand-in and the plug-in there, loads the plug-in,
// makes the job's device objects, runs the steps in order and checks each
// step's expectation; after the last step it checks the scenario's final
// array counts and the invariants of ZrArrayReport.h.
//
// Work directory layout:
//   cci/bin/        the CCI tool names, links to the simulator
//   cci/state/      the simulator's state file, journal and lock
//   etc/            HORCM instance files
//   settings.ini    the host's settings store
//   locks/          named lock files
//   logs/           zrtesthost.log: every log line the plug-in wrote
//   tmp/            the plug-in's temporary command and script files
//   intent/         records of array objects a job is about to create
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "testhost/ZrCompressedClock.h"
#include "testhost/ZrScenario.h"

struct ZrRunOptions {
  std::string workDir;     // made afresh; an existing one must be a work directory
  std::string pluginPath;  // "" for the build's plug-in
  std::string ccisim;      // the simulator binary; "" for the build's
  std::string program;     // the test host program for remote requests; "" for the build's
  bool verbose = false;    // also print every metadata entry in full
  // Waits of a second or more pass this many times faster (1: real time);
  // 0 takes the scenario's "clockScale" (default 100).
  int clockScale = 0;
};

// Outcome of one step.
struct ZrStepOutcome {
  std::string title;
  bool ran = false;  // false: the plug-in lacks the export
  bool passed = false;
  int result = 0;
  double seconds = 0;  // the call's own time
  std::vector<std::string> failures;
};

struct ZrRunOutcome {
  std::vector<ZrStepOutcome> steps;
  std::vector<std::string> finalFailures;  // final counts and invariants
  std::string setupError;                  // set when the run could not start
  double seconds = 0;
  // True only when the run started, every step ran and met its
  // expectation, and the final checks held.
  bool passed() const;
  // The one-line verdict.
  std::string verdict() const;
};

class ZrScenarioRunner {
 public:
  ZrScenarioRunner(const ZrScenario& scenario, const ZrRunOptions& options, std::ostream& out);
  ZrRunOutcome run();

 private:
  bool setUp(std::string* error);
  void runStep(size_t index, ZrRunOutcome& outcome);
  void applyActions(const ZrScenarioStep& step);
  // Each device's status and error, the metadata the step stored, and
  // what changed on the arrays.
  void report(const std::vector<int>& devices, const std::vector<ZrDeviceState>& statesBefore,
              const ccisim::State& before, const ccisim::State& after);

  ZrScenario m_scenario;
  ZrRunOptions m_options;
  std::ostream& m_out;
  std::string m_statePath;
  std::unique_ptr<ccisim::Fixture> m_sim;  // the arrays' state; faults go through it
  std::unique_ptr<ZrTestHost> m_host;
  std::unique_ptr<ZrCompressedClock> m_clock;
};

// The readable name of a device status ("prepared", "create pending", ...).
std::string zrStatusName(int status);

// Checks one expectation against the devices of a call and the array; one
// line per unmet part. result < 0 skips the result check.
std::vector<std::string> zrCheckExpectation(const ZrExpectation& e, int result, ZrTestHost& host,
                                            const std::vector<int>& devices,
                                            const ccisim::State& array);
