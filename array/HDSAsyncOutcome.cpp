#include "array/HDSAsyncOutcome.h"

namespace hdsbatch {

namespace {

// The status says that no command of the batch was refused, this one
// included: it was accepted, no login was renewed since, and the status
// read counts no error.
bool statusShowsNoRefusal(const CommandFacts& facts, const StatusFacts& status) {
  return facts.exit == Exit::kAccepted && !facts.beforeRelogin && status.clean();
}

}  // namespace

Outcome decideOutcome(const CommandFacts& facts, const StatusFacts& status, bool readsProve) {
  switch (facts.exit) {
    case Exit::kNotSent:
      return Outcome::kNotSent;
    case Exit::kSkipped:
    case Exit::kAlreadyDone:
      return Outcome::kDone;
    case Exit::kStepRefused:
      return Outcome::kStepFailed;
    case Exit::kRefused:
      // A state the read-back shows after a refusal was there before it
      // (snapshot data of an earlier split is not this one's).
      return Outcome::kNoEffect;
    case Exit::kAccepted:
    case Exit::kNoAnswer:
      break;
  }
  if (facts.readBack == Effect::kNoEffect) return Outcome::kNoEffect;
  // What the read-back shows (or may show) can be someone else's object.
  if (!readsProve && !statusShowsNoRefusal(facts, status)) return Outcome::kUnproven;
  if (facts.stepFailed) return Outcome::kStepFailed;
  return facts.readBack == Effect::kTookEffect ? Outcome::kDone : Outcome::kUnknown;
}

}  // namespace hdsbatch
