// Batches of the commands the array carries out after the tool has returned
// (add and delete ldev, add, delete, modify, map and unmap snapshot). Their
// failures show only in the login's command status, which counts errors
// but does not say whose: a batch of at most ZR_HDS_ASYNC_BATCH_LIMIT
// commands shares one status reset and one status read, serialised against
// every other such batch of the machine; when the read does not clear the
// batch, each command's object is read back to tell which took effect.
#include <algorithm>
#include <climits>
#include <map>
#include <string>
#include <vector>

#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"
#include "util/ZRHDSLock.h"

namespace {

// exitCode of a command that never reached the tool: distinct from every
// exit code a process can report.
constexpr int kNotRun = INT_MIN;

}  // namespace

int ZRHDSRaidcomImplementer::runAsyncBatch(const char* function,
                                           const std::vector<AsyncCommand>& commands,
                                           bool stopAtFailure, bool readsProve,
                                           const AsyncReadBack& readBack,
                                           std::vector<AsyncOutcome>& outcomes) {
  outcomes.assign(commands.size(), AsyncOutcome::kNotSent);
  const size_t limit = static_cast<size_t>(ZR_HDS_ASYNC_BATCH_LIMIT);
  bool failed = false;
  for (size_t begin = 0; begin < commands.size(); begin += limit) {
    if (failed && stopAtFailure) break;
    const size_t end = std::min(commands.size(), begin + limit);
    if (runAsyncChunk(function, commands, begin, end, stopAtFailure, readsProve, readBack,
                      outcomes) != 0) {
      failed = true;
    }
  }
  return failed ? 1 : 0;
}

int ZRHDSRaidcomImplementer::runAsyncChunk(const char* function,
                                           const std::vector<AsyncCommand>& commands, size_t begin,
                                           size_t end, bool stopAtFailure, bool readsProve,
                                           const AsyncReadBack& readBack,
                                           std::vector<AsyncOutcome>& outcomes) {
  if (m_pSnapInfo == nullptr) {
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to execute the raidcom command");
    return 1;
  }
  bool stepFailed = false;
  // The steps before the commands run outside the status window (they
  // report by exit code); with stopAtFailure a failing one ends the batch
  // at its command.
  for (size_t i = begin; i < end; ++i) {
    if (!commands[i].before) continue;
    const int step = commands[i].before();
    if (step == kStepSend) continue;
    outcomes[i] = step == kStepDone ? AsyncOutcome::kDone : AsyncOutcome::kStepFailed;
    if (step == kStepDone) continue;
    stepFailed = true;
    if (stopAtFailure) end = i;
  }
  std::vector<size_t> toSend;
  for (size_t i = begin; i < end; ++i) {
    if (outcomes[i] == AsyncOutcome::kNotSent) toSend.push_back(i);
  }
  if (toSend.empty()) return stepFailed ? 1 : 0;

  ZRHDSLock lock(*m_pSnapInfo, ZR_HDS_LOCK_SYNC_COMMANDS, 0);
  if (!lock.isLocked()) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to execute the raidcom command", function,
                      "Unable to acquire lock during command execution.");
  }
  if (resetCommandStatus() != 0) {
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to reset command status", function,
                      "Failed to reset command status for command-[%s]",
                      commands[begin].command.c_str());
  }

  // Sent with exit 0: done unless the status says otherwise. A renewed
  // login may have taken the status of the commands before it along, so
  // those are read back in any case.
  std::vector<size_t> accepted;
  std::vector<bool> beforeLogin(commands.size(), false);
  std::vector<size_t> unsure;  // no outcome from the runner (time-out), or its after-step failed
  std::vector<bool> afterFailed(commands.size(), false);
  for (size_t i : toSend) {
    const AsyncCommand& c = commands[i];
    std::string output;
    int exitCode = kNotRun;
    bool relogged = false;
    const int rc = executeWithRelogin(c.command, c.arguments, output, exitCode, &relogged);
    if (relogged) {
      for (size_t a : accepted) beforeLogin[a] = true;
    }
    if (rc == 0) {
      keepCommandOutput(output);
      outcomes[i] = AsyncOutcome::kUnknown;
      // A failed step after the command ends the batch there; whether the
      // command itself took effect is read back (the step's error stands).
      if (c.after && c.after() != kStepSend) {
        afterFailed[i] = true;
        unsure.push_back(i);
        stepFailed = true;
        if (stopAtFailure) break;
        continue;
      }
      accepted.push_back(i);
      continue;
    }
    if (c.alreadyDone && c.alreadyDone(exitCode, output)) {
      outcomes[i] = AsyncOutcome::kDone;
      continue;
    }
    logMessage(2, function, "The array refused or did not answer for [%s].", c.object.c_str());
    outcomes[i] = exitCode > 0 ? AsyncOutcome::kNoEffect : AsyncOutcome::kUnknown;
    if (exitCode <= 0) unsure.push_back(i);
    if (stopAtFailure) break;
  }

  const int keptCode = m_nErrorCode;
  const std::string keptText = m_sErrorString;
  int errors = 0;
  std::string statusText;
  const bool statusRead = readCommandStatus(errors, statusText) == 0;
  if (!statusRead) {
    logMessage(2, function, "Failed to get command status for command-[%s]",
               commands[begin].command.c_str());
  } else if (errors != 0) {
    logMessage(2, function, "Get command status for command-[%s] returned error-[%s]",
               commands[begin].command.c_str(), statusText.c_str());
  }
  const bool clean = statusRead && errors == 0;

  // A batch of one command whose status counts an error: the error is its.
  const bool alone = toSend.size() == 1 && accepted.size() == 1 && !beforeLogin[accepted[0]];
  if (alone && statusRead && errors != 0) {
    outcomes[accepted[0]] = AsyncOutcome::kNoEffect;
    accepted.clear();
  }
  std::vector<size_t> toRead = unsure;
  for (size_t i : accepted) {
    if (clean && !beforeLogin[i]) {
      outcomes[i] = AsyncOutcome::kDone;
    } else {
      toRead.push_back(i);
    }
  }
  int withoutEffect = 0;
  std::vector<size_t> lookDone;
  for (size_t i : toRead) {
    const AsyncEffect effect = readBack(i);
    if (effect == AsyncEffect::kTookEffect) {
      outcomes[i] = AsyncOutcome::kDone;
      lookDone.push_back(i);
    } else if (effect == AsyncEffect::kNoEffect) {
      outcomes[i] = AsyncOutcome::kNoEffect;
      logMessage(2, function, "[%s] did not take effect on the array.",
                 commands[i].object.c_str());
      ++withoutEffect;
    } else {
      outcomes[i] = AsyncOutcome::kUnknown;
      logMessage(2, function, "Unable to tell whether [%s] took effect on the array.",
                 commands[i].object.c_str());
    }
  }
  // Where a read cannot prove whose an object is, the status must account
  // for every error: more errors than commands without effect (or a status
  // that kept timing out) means one of those that look done may have been
  // refused on an object that was there already. Without a readable status
  // they are taken as made, but not as done.
  if (!readsProve && !statusRead) {
    for (size_t i : lookDone) outcomes[i] = AsyncOutcome::kUnknown;
  } else if (!readsProve && (errors < 0 || errors > withoutEffect)) {
    for (size_t i : lookDone) {
      outcomes[i] = AsyncOutcome::kUnproven;
      logMessage(2, function, "[%s] cannot be told from an object made by someone else.",
                 commands[i].object.c_str());
    }
  }

  // A command whose after-step failed is not done: failed when the array
  // shows it without effect, else its step failed on what it made.
  for (size_t i = begin; i < end; ++i) {
    if (!afterFailed[i]) continue;
    outcomes[i] = outcomes[i] == AsyncOutcome::kNoEffect ? AsyncOutcome::kNoEffect
                                                         : AsyncOutcome::kStepFailed;
  }
  // Done is what the array shows: a command whose run timed out but whose
  // effect is there took effect.
  bool allDone = !stepFailed;
  for (size_t i = begin; i < end; ++i) {
    if (outcomes[i] != AsyncOutcome::kDone) allDone = false;
  }
  if (allDone) {
    // A status failure that the reads cleared: every command took effect.
    if (!clean) setErrorCodeString(0, "");
    return 0;
  }
  if (!statusRead) {
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get command status");
  } else if (errors != 0) {
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Command status has error.");
  } else {
    m_nErrorCode = keptCode;
    m_sErrorString = keptText;
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Snapshot pairs

int ZRHDSRaidcomImplementer::runPairBatch(const char* function, const char* command,
                                          const std::vector<HDSSnapshotPairRef>& pairs,
                                          bool stopAtFailure, const PairBatchKind& kind,
                                          std::vector<bool>& done) {
  done.assign(pairs.size(), false);
  // Checked before the first command: bad input sends nothing.
  for (const HDSSnapshotPairRef& p : pairs) {
    if (!HDSShell::isDecimal(p.pvol)) return refuseInvalidInput(function, "LDEV", p.pvol);
    if (!HDSShell::isDecimal(p.mu)) return refuseInvalidInput(function, "MU", p.mu);
    if (kind.needsTarget && !HDSShell::isDecimal(p.target)) {
      return refuseInvalidInput(function, "Target LDEV", p.target);
    }
  }
  std::vector<AsyncCommand> commands;
  for (const HDSSnapshotPairRef& p : pairs) {
    AsyncCommand c;
    c.command = command;
    c.arguments = kind.compose(p) + getCommonParams(true, true);
    c.object = p.pvol + "-MU" + p.mu;
    commands.push_back(c);
  }
  // Each P-VOL's pair rows, listed once per read-back.
  std::map<std::string, std::vector<HDSSnapshotGroupInfo>> rowsOf;
  std::map<std::string, bool> listed;
  auto readBack = [&](size_t i) -> AsyncEffect {
    const HDSSnapshotPairRef& p = pairs[i];
    auto it = listed.find(p.pvol);
    if (it == listed.end()) {
      const int code = m_nErrorCode;
      const std::string text = m_sErrorString;
      std::vector<HDSSnapshotGroupInfo> rows;
      const bool ok = getSnapshotGroupList(rows, p.pvol, true) == 0;
      m_nErrorCode = code;
      m_sErrorString = text;
      rowsOf[p.pvol] = rows;
      it = listed.emplace(p.pvol, ok).first;
    }
    if (!it->second) return AsyncEffect::kUnknown;
    for (const HDSSnapshotGroupInfo& row : rowsOf[p.pvol]) {
      if (row.isPvol && row.ldevId == p.pvol && row.muNumber == p.mu) return kind.effect(&row, p);
    }
    return kind.effect(nullptr, p);
  };
  std::vector<AsyncOutcome> outcomes;
  const int rc = runAsyncBatch(function, commands, stopAtFailure, true, readBack, outcomes);
  bool first = true;
  for (size_t i = 0; i < pairs.size(); ++i) {
    done[i] = outcomes[i] == AsyncOutcome::kDone;
    if (!done[i] && rc == 0) continue;
    if (!done[i] && (outcomes[i] == AsyncOutcome::kNotSent && !first)) continue;
    kind.report(pairs[i], done[i], !done[i] && first);
    if (!done[i]) first = false;
  }
  return rc;
}

int ZRHDSRaidcomImplementer::mapSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                                              std::vector<bool>& done) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::mapSnapshot";
  PairBatchKind kind;
  kind.needsTarget = true;
  kind.compose = [](const HDSSnapshotPairRef& p) {
    return " -ldev_id " + p.pvol + " " + p.target + " -mirror_id " + p.mu;
  };
  kind.effect = [](const HDSSnapshotGroupInfo* row, const HDSSnapshotPairRef& p) {
    return row != nullptr && row->partnerLdevId == p.target ? AsyncEffect::kTookEffect
                                                             : AsyncEffect::kNoEffect;
  };
  kind.report = [this](const HDSSnapshotPairRef& p, bool done, bool first) {
    if (done) {
      logMessage(1, kFn, "Successfully associated target LDEV-[%s] to Snap[%s-MU%s]",
                 p.target.c_str(), p.pvol.c_str(), p.mu.c_str());
    } else if (first) {
      failLogged(
          ZR_HDS_ERR_ARRAY_COMMAND,
          "Failed to map target LDEV-[" + p.target + "] to Snap-[" + p.pvol + "-MU" + p.mu + "].",
          kFn, "Failed to map target LDEV-[%s] to Snap-[%s-MU%s].", p.target.c_str(),
          p.pvol.c_str(), p.mu.c_str());
    }
  };
  return runPairBatch(kFn, "raidcom  map snapshot ", pairs, true, kind, done);
}

int ZRHDSRaidcomImplementer::unmapSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                                                std::vector<bool>& done) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::unmapSnapshot";
  PairBatchKind kind;
  kind.compose = [](const HDSSnapshotPairRef& p) {
    return " -ldev_id " + p.pvol + " -mirror_id " + p.mu;
  };
  // A pair that is gone has no target associated any more.
  kind.effect = [](const HDSSnapshotGroupInfo* row, const HDSSnapshotPairRef&) {
    return row == nullptr || row->partnerLdevId.empty() ? AsyncEffect::kTookEffect
                                                         : AsyncEffect::kNoEffect;
  };
  kind.report = [this](const HDSSnapshotPairRef& p, bool done, bool first) {
    if (done) {
      logMessage(1, kFn, "Successfully disassociated target LDEV from Snap[%s-MU%s]",
                 p.pvol.c_str(), p.mu.c_str());
    } else if (first) {
      failLogged(
          ZR_HDS_ERR_ARRAY_COMMAND,
          "Failed to unmap target LDEV associated with Snap-[" + p.pvol + "-MU" + p.mu + "].", kFn,
          "Failed to unmap target LDEV associated with Snap-[%s-MU%s].", p.pvol.c_str(),
          p.mu.c_str());
    }
  };
  return runPairBatch(kFn, "raidcom  unmap snapshot ", pairs, true, kind, done);
}

int ZRHDSRaidcomImplementer::deleteSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                                                 std::vector<bool>& done) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::deleteSnapshot";
  PairBatchKind kind;
  kind.compose = [](const HDSSnapshotPairRef& p) {
    return " -ldev_id " + p.pvol + " -mirror_id " + p.mu;
  };
  kind.effect = [](const HDSSnapshotGroupInfo* row, const HDSSnapshotPairRef&) {
    return row == nullptr ? AsyncEffect::kTookEffect : AsyncEffect::kNoEffect;
  };
  // Every failure is logged; the error pair describes the first.
  kind.report = [this](const HDSSnapshotPairRef& p, bool done, bool first) {
    if (done) {
      logMessage(1, kFn, "Successfully deleted Targetless Snapshot, LDEV-[%s], MU-[%s]",
                 p.pvol.c_str(), p.mu.c_str());
      return;
    }
    logMessage(2, kFn, "Failed to delete targetless snap, LDEV-[%s], MU-[%s]", p.pvol.c_str(),
               p.mu.c_str());
    if (first) {
      setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to delete targetless snap, LDEV-[" +
                                                       p.pvol + "], MU-[" + p.mu + "]");
    }
  };
  return runPairBatch(kFn, "raidcom  delete snapshot ", pairs, false, kind, done);
}

int ZRHDSRaidcomImplementer::resyncSnapshotBatch(const std::vector<HDSSnapshotPairRef>& pairs,
                                                 std::vector<bool>& done) {
  static const char* const kFn = "ZRHDSRaidcomImplementer::modifySnapshot";
  for (const HDSSnapshotPairRef& p : pairs) {
    logMessage(1, kFn, "Going to perform [%s] snapshot on %s", "resync",
               (" mirror_id " + p.mu).c_str());
  }
  PairBatchKind kind;
  kind.compose = [](const HDSSnapshotPairRef& p) {
    return " -ldev_id " + p.pvol + " -mirror_id " + p.mu + " -snapshot_data resync";
  };
  // Resynchronising discards the snapshot data: the pair goes to COPY and
  // then to PAIR. A pair that is gone has nothing left to clear.
  kind.effect = [](const HDSSnapshotGroupInfo* row, const HDSSnapshotPairRef&) {
    return row == nullptr || row->status == "PAIR" || row->status == "COPY"
               ? AsyncEffect::kTookEffect
               : AsyncEffect::kNoEffect;
  };
  kind.report = [this](const HDSSnapshotPairRef& p, bool done, bool first) {
    const std::string description = " mirror_id " + p.mu;
    if (done) {
      logMessage(1, kFn, "Successfully performed [%s] on %s", "resync", description.c_str());
      return;
    }
    logMessage(2, kFn, "Failed to perform [%s] on LDEV-[%s]%s", "resync", p.pvol.c_str(),
               description.c_str());
    if (first) {
      setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to resync snapshot on " + description);
    }
  };
  return runPairBatch(kFn, "raidcom  modify snapshot ", pairs, false, kind, done);
}
