// The outcome of one command of a batch of the commands the array carries
// out after the tool has returned (add and delete ldev; add, delete,
// modify, map and unmap snapshot), decided from what is known of it.
//
// Such a command's failure shows only in the login user's command status,
// which counts errors but never says whose, and which another session of
// the same array user may reset at any moment: a status that counts no
// error is no proof that a command took effect. What decides is the batch's
// read-back, listings that show every object of the batch. The status only
// says where to look, and adds the one thing a listing cannot show where it
// cannot tell the job's object from an object someone else made (a new
// LDEV at an id, a pair row of a group that held pairs before): that no
// command of the batch was refused. It says so only when it was read,
// counts no error, and no login was renewed after the command was sent.
// Errors are never ascribed to commands by counting: a command that never
// reached the array, one sent before a renewed login, or one whose status
// someone reset, explains no error of another.
//
// decideOutcome is pure (tests: array/tests/ops_batch_test.cpp, in rows).
#ifndef ZR_ARRAY_HDSASYNCOUTCOME_H
#define ZR_ARRAY_HDSASYNCOUTCOME_H

namespace hdsbatch {

enum class Outcome {
  kNotSent,    // never sent (an earlier failure ended the batch)
  kDone,       // the array shows its effect (or its step found nothing to do)
  kNoEffect,   // refused, or the array shows it had no effect
  kUnknown,    // sent, but the array could not be read; it was not refused
               // where the object could be another's (deleting it is safe)
  kUnproven,   // the object is there, but may be one someone else made: the
               // status cannot say that no command was refused
  kStepFailed  // its step before or after the command failed (the step's error)
};

// What the batch's read-back shows of a command's object.
enum class Effect { kTookEffect, kNoEffect, kUnknown };

// How a command's turn in the batch ended.
enum class Exit {
  kNotSent,      // not sent: an earlier failure ended the batch
  kSkipped,      // its step before the command found the work done already
  kStepRefused,  // its step before the command failed; not sent
  kAccepted,     // the tool exited 0
  kRefused,      // the tool exited above 0
  kAlreadyDone,  // a refusal that says the state asked for is there already
  kNoAnswer      // no exit of the tool (time-out, start failure)
};

// Everything known of one command when its outcome is decided.
struct CommandFacts {
  Exit exit = Exit::kNotSent;
  // A login was renewed after the command was sent (a later command's, or
  // the status read's): the status may no longer hold its error.
  bool beforeRelogin = false;
  // Its step right after the command (accepted) failed.
  bool stepFailed = false;
  Effect readBack = Effect::kUnknown;
};

// The batch's command status.
struct StatusFacts {
  bool read = false;  // a status row was read
  int errors = 0;     // its ERR_CNT; -1 when the query kept timing out
  bool clean() const { return read && errors == 0; }
};

// The outcome of one command. readsProve: an object the read-back shows
// can only be this command's (a pair at its P-VOL and MU, an LDEV gone);
// otherwise it is the command's only when the status says no command of
// the batch was refused and the command was accepted before any renewed
// login.
Outcome decideOutcome(const CommandFacts& facts, const StatusFacts& status, bool readsProve);

}  // namespace hdsbatch

#endif  // ZR_ARRAY_HDSASYNCOUTCOME_H
