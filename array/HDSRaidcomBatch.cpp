// Batches of the commands the array carries out after the tool has returned
// (add and delete ldev, add, delete, modify, map and unmap snapshot). Their
// failures show only in the login's command status, which counts errors
// but does not say whose, and which another session of the same array user
// may reset in between: a batch of at most ZR_HDS_ASYNC_BATCH_LIMIT
// commands shares one status reset and one status read, serialised against
// every other such batch of the machine, and is then read back with
// listings that show all its objects. What each command did is decided
// from that (hdsbatch::decideOutcome, array/HDSAsyncOutcome.h).
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "array/HDSRaidcomImplementer.h"
#include "array/HDSShellQuote.h"
#include "util/ZRHDSLock.h"

namespace {

using hdsbatch::CommandFacts;
using hdsbatch::Exit;
using hdsbatch::StatusFacts;

bool isPairRow(const HDSSnapshotGroupInfo& row, const HDSSnapshotPairRef& p) {
  return row.isPvol && row.ldevId == p.pvol && row.muNumber == p.mu;
}

const HDSSnapshotGroupInfo* findPairRow(const std::vector<HDSSnapshotGroupInfo>& rows,
                                        const HDSSnapshotPairRef& p) {
  for (const HDSSnapshotGroupInfo& row : rows) {
    if (isPairRow(row, p)) return &row;
  }
  return nullptr;
}

// One listing of a read-back: whether it was read, and its rows.
struct PairListing {
  bool read = false;
  std::vector<HDSSnapshotGroupInfo> rows;
};

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
  std::vector<CommandFacts> facts(end - begin);
  end = runStepsBefore(commands, begin, end, stopAtFailure, facts);
  const bool anyToSend =
      std::any_of(facts.begin(), facts.begin() + static_cast<long>(end - begin),
                  [](const CommandFacts& f) { return f.exit == Exit::kNotSent; });
  if (!anyToSend) {
    return settleAsyncChunk(function, commands, begin, facts, StatusFacts(), readsProve, outcomes);
  }

  ZRHDSLock lock(*m_pSnapInfo, ZR_HDS_LOCK_SYNC_COMMANDS, 0);
  if (!lock.isLocked()) {
    settleAsyncChunk(function, commands, begin, facts, StatusFacts(), readsProve, outcomes);
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to execute the raidcom command", function,
                      "Unable to acquire lock during command execution.");
  }
  if (resetCommandStatus() != 0) {
    settleAsyncChunk(function, commands, begin, facts, StatusFacts(), readsProve, outcomes);
    return failLogged(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to reset command status", function,
                      "Failed to reset command status for command-[%s]",
                      commands[begin].command.c_str());
  }
  std::vector<int> renewalsAfterSend(facts.size(), 0);
  sendAsyncCommands(function, commands, begin, end, stopAtFailure, facts, renewalsAfterSend);
  // The commands the array may have taken: only those have a status to
  // read and an effect to read back (a refusal by exit code is its own
  // answer).
  std::vector<size_t> items;
  for (size_t k = 0; k < facts.size(); ++k) {
    if (facts[k].exit == Exit::kAccepted || facts[k].exit == Exit::kNoAnswer) {
      items.push_back(begin + k);
    }
  }
  if (items.empty()) {
    return settleAsyncChunk(function, commands, begin, facts, StatusFacts(), readsProve, outcomes);
  }
  const StatusFacts status =
      readAsyncChunkBack(function, commands, begin, items, renewalsAfterSend, readBack, facts);
  return finishAsyncChunk(function, commands, begin, facts, status, readsProve, outcomes);
}

StatusFacts ZRHDSRaidcomImplementer::readAsyncChunkBack(const char* function,
                                                        const std::vector<AsyncCommand>& commands,
                                                        size_t begin,
                                                        const std::vector<size_t>& items,
                                                        const std::vector<int>& renewalsAfterSend,
                                                        const AsyncReadBack& readBack,
                                                        std::vector<CommandFacts>& facts) {
  const SavedError sent = saveError();
  std::string statusText;
  const StatusFacts status = readBatchStatus(function, commands[begin].command, statusText);
  // A login renewed after a command was sent, the status read's included,
  // may have taken that command's status along.
  for (size_t i : items) {
    facts[i - begin].beforeRelogin = m_nLoginRenewals > renewalsAfterSend[i - begin];
  }
  std::vector<AsyncEffect> effects(items.size(), AsyncEffect::kUnknown);
  readBack(items, effects);
  restoreError(sent);
  for (size_t k = 0; k < items.size(); ++k) facts[items[k] - begin].readBack = effects[k];
  return status;
}

int ZRHDSRaidcomImplementer::finishAsyncChunk(const char* function,
                                              const std::vector<AsyncCommand>& commands,
                                              size_t begin, const std::vector<CommandFacts>& facts,
                                              const StatusFacts& status, bool readsProve,
                                              std::vector<AsyncOutcome>& outcomes) {
  if (settleAsyncChunk(function, commands, begin, facts, status, readsProve, outcomes) == 0) {
    // A status failure that the reads cleared: every command took effect.
    if (!status.clean()) setErrorCodeString(0, "");
    return 0;
  }
  const bool exitFailed = std::any_of(facts.begin(), facts.end(), [](const CommandFacts& f) {
    return f.exit == Exit::kRefused || f.exit == Exit::kNoAnswer;
  });
  if (!status.read) {
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Failed to get command status");
  } else if (status.errors != 0) {
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "Command status has error.");
  } else if (!exitFailed) {
    // The status counts no error, yet the array does not show the effect
    // (someone reset the status, or the order never reached the array).
    setErrorCodeString(ZR_HDS_ERR_ARRAY_COMMAND, "The array does not show the command's effect.");
  }
  return 1;
}

size_t ZRHDSRaidcomImplementer::runStepsBefore(const std::vector<AsyncCommand>& commands,
                                               size_t begin, size_t end, bool stopAtFailure,
                                               std::vector<CommandFacts>& facts) {
  // The steps run outside the status window (they report by exit code).
  for (size_t i = begin; i < end; ++i) {
    if (!commands[i].before) continue;
    const int step = commands[i].before();
    if (step == kStepSend) continue;
    facts[i - begin].exit = step == kStepDone ? Exit::kSkipped : Exit::kStepRefused;
    if (step != kStepDone && stopAtFailure) return i;
  }
  return end;
}

void ZRHDSRaidcomImplementer::sendAsyncCommands(const char* function,
                                                const std::vector<AsyncCommand>& commands,
                                                size_t begin, size_t end, bool stopAtFailure,
                                                std::vector<CommandFacts>& facts,
                                                std::vector<int>& renewalsAfterSend) {
  for (size_t i = begin; i < end; ++i) {
    CommandFacts& f = facts[i - begin];
    if (f.exit != Exit::kNotSent) continue;
    const AsyncCommand& c = commands[i];
    std::string output;
    int exitCode = 0;
    const int rc = executeWithRelogin(c.command, c.arguments, output, exitCode);
    renewalsAfterSend[i - begin] = m_nLoginRenewals;
    if (rc == 0) {
      keepCommandOutput(output);
      f.exit = Exit::kAccepted;
      // A failed step after the command ends the batch there; whether the
      // command itself took effect is read back (the step's error stands).
      if (c.after && c.after() != kStepSend) {
        f.stepFailed = true;
        if (stopAtFailure) return;
      }
      continue;
    }
    if (c.alreadyDone && c.alreadyDone(exitCode, output)) {
      f.exit = Exit::kAlreadyDone;
      continue;
    }
    logMessage(2, function, "The array refused or did not answer for [%s].", c.object.c_str());
    // A run that ended without an exit of the tool (time-out) leaves the
    // exit code at 0 or below.
    f.exit = exitCode > 0 ? Exit::kRefused : Exit::kNoAnswer;
    if (stopAtFailure) return;
  }
}

StatusFacts ZRHDSRaidcomImplementer::readBatchStatus(const char* function,
                                                     const std::string& firstCommand,
                                                     std::string& statusText) {
  StatusFacts status;
  status.read = readCommandStatus(status.errors, statusText) == 0;
  // The status stays until it is reset, and no batch of this machine resets
  // it while this one holds the lock: a query that failed is asked once more.
  if (!status.read) status.read = readCommandStatus(status.errors, statusText) == 0;
  if (!status.read) {
    logMessage(2, function, "Failed to get command status for command-[%s]", firstCommand.c_str());
  } else if (status.errors != 0) {
    logMessage(2, function, "Get command status for command-[%s] returned error-[%s]",
               firstCommand.c_str(), statusText.c_str());
  }
  return status;
}

int ZRHDSRaidcomImplementer::settleAsyncChunk(const char* function,
                                              const std::vector<AsyncCommand>& commands,
                                              size_t begin, const std::vector<CommandFacts>& facts,
                                              const StatusFacts& status, bool readsProve,
                                              std::vector<AsyncOutcome>& outcomes) {
  bool allDone = true;
  for (size_t k = 0; k < facts.size(); ++k) {
    const AsyncOutcome o = hdsbatch::decideOutcome(facts[k], status, readsProve);
    outcomes[begin + k] = o;
    if (o != AsyncOutcome::kDone) allDone = false;
    const char* object = commands[begin + k].object.c_str();
    if (o == AsyncOutcome::kNoEffect && facts[k].exit != Exit::kRefused) {
      logMessage(2, function, "[%s] did not take effect on the array.", object);
    } else if (o == AsyncOutcome::kUnknown) {
      logMessage(2, function, "Unable to tell whether [%s] took effect on the array.", object);
    } else if (o == AsyncOutcome::kUnproven) {
      logMessage(2, function, "[%s] cannot be told from an object made by someone else.", object);
    }
  }
  return allDone ? 0 : 1;
}

// ---------------------------------------------------------------------------
// Snapshot pairs

std::string ZRHDSRaidcomImplementer::groupOfPair(const HDSSnapshotPairRef& pair) const {
  if (!pair.group.empty()) return pair.group;
  for (const ZRHDSSnapInfo& snap : m_vSnaps) {
    if (snap.baseDevNo != pair.pvol || snap.snapMu != pair.mu) continue;
    return snap.snapshotGroup.empty() ? m_oSnapOptions.snapshotGroup : snap.snapshotGroup;
  }
  return std::string();
}

void ZRHDSRaidcomImplementer::readPairsBack(const std::vector<HDSSnapshotPairRef>& pairs,
                                            const PairBatchKind& kind,
                                            const std::vector<size_t>& items,
                                            std::vector<AsyncEffect>& effects) {
  std::map<std::string, PairListing> groups;
  std::map<std::string, PairListing> pvols;
  auto listed = [this](std::map<std::string, PairListing>& cache, const std::string& key,
                       bool byLdev) -> const PairListing& {
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    PairListing& l = cache[key];
    l.read = (byLdev ? getSnapshotGroupList(l.rows, key, true) : readBackGroup(key, l.rows)) == 0;
    return l;
  };
  for (size_t k = 0; k < items.size(); ++k) {
    const HDSSnapshotPairRef& p = pairs[items[k]];
    const std::string group = groupOfPair(p);
    const HDSSnapshotGroupInfo* row = nullptr;
    bool known = false;
    if (!group.empty()) {
      const PairListing& l = listed(groups, group, false);
      row = l.read ? findPairRow(l.rows, p) : nullptr;
      // A pair is gone from the group the caller listed it in; a group
      // that only the records give may be the wrong one.
      known = l.read && (row != nullptr || !p.group.empty());
    }
    if (!known) {
      const PairListing& l = listed(pvols, p.pvol, true);
      row = l.read ? findPairRow(l.rows, p) : nullptr;
      known = l.read;
    }
    effects[k] = known ? kind.effect(row, p) : AsyncEffect::kUnknown;
  }
}

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
  std::vector<AsyncOutcome> outcomes;
  const int rc = runAsyncBatch(
      function, commands, stopAtFailure, true,
      [&](const std::vector<size_t>& items, std::vector<AsyncEffect>& effects) {
        readPairsBack(pairs, kind, items, effects);
      },
      outcomes);
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
    logMessage(1, kFn, "Going to perform [%s] snapshot on %s", ZR_HDS_SNAPSHOT_DATA_RESYNC,
               (" mirror_id " + p.mu).c_str());
  }
  return runPairBatch(kFn, "raidcom  modify snapshot ", pairs, false,
                      snapshotDataKind(kFn, ZR_HDS_SNAPSHOT_DATA_RESYNC), done);
}
