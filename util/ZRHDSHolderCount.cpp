#include "util/ZRHDSHolderCount.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <vector>

#include "host/ZRPlatformInfo.h"
#include "host/ZrNamedMutex.h"
#include "host/ZrPaths.h"
#include "host/ZrSafeFile.h"
#include "util/ZRHDSProcessIdentity.h"

namespace {

const char* const kSection = "~Tessavon";
// How long one call waits for the list's mutex: the list is held only for a
// read and a rewrite, so only a stopped process holds it longer.
constexpr unsigned long kListLockMillis = 30000;
// A list is a few lines per holder; anything far larger is not ours.
constexpr size_t kMaxListBytes = 1 << 20;

uint64_t newToken() {
  static thread_local std::mt19937_64 gen(std::random_device{}() ^
                                          (static_cast<uint64_t>(::getpid()) << 32));
  uint64_t t = 0;
  while (t == 0) t = gen();
  return t;
}

}  // namespace

struct ZRHDSHolderCount::Holder {
  long pid = 0;
  uint64_t start = 0;
  int scope = 0;
  uint64_t token = 0;
};

namespace {

using Holders = std::vector<ZRHDSHolderCount::Holder>;

}  // namespace

ZRHDSHolderCount::ZRHDSHolderCount(const std::string& name, const std::string& mirrorKey)
    : m_sName(name), m_sMirrorKey(mirrorKey) {}

ZRHDSHolderCount::~ZRHDSHolderCount() {
  if (!m_vTokens.empty()) dropOwn(nullptr);
}

std::string ZRHDSHolderCount::listPath(const std::string& name) {
  return ZrPaths::lockDir() + "/zrholders_" + ZrPaths::safeFileName(name) + ".list";
}

// Reads the list, drops dead holders, runs change on the live ones, writes
// the list back when it changed and brings the mirror key up to date.
template <class Change>
int ZRHDSHolderCount::update(Change change, int* liveAfter) {
  m_sError.clear();
  ZrNamedMutex mutex(("ZR_HDS_HOLDERS_" + m_sName).c_str());
  if (!mutex.isValid()) {
    m_sError = mutex.lastError();
    return 1;
  }
  if (mutex.lock(kListLockMillis) == 0) {
    m_sError = "the holder list of " + m_sName + " stays locked by another process";
    return 1;
  }
  const std::string path = listPath(m_sName);
  std::string text, error;
  bool missing = false;
  if (!ZrSafeFile::readRegular(path, &text, kMaxListBytes, &error, &missing) && !missing) {
    m_sError = error;
    return 1;
  }
  ZrSafeFile::removeStaleTemporaries(path);

  // "boot <id>" then "<pid> <start> <scope> <token>" per holder.
  std::istringstream in(text);
  std::string line;
  Holders holders;
  bool sameBoot = false;
  bool pruned = false;
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::string first;
    row >> first;
    if (first == "boot") {
      std::string id;
      row >> id;
      sameBoot = id == ZRHDSProcessIdentity::currentBootId();
      continue;
    }
    Holder h;
    h.pid = std::strtol(first.c_str(), nullptr, 10);
    if (!(row >> h.start >> h.scope >> h.token) || h.pid <= 0) {
      pruned = true;
      continue;
    }
    if (!sameBoot || ZRHDSProcessIdentity::startTimeOf(h.pid) != h.start || h.start == 0) {
      pruned = true;
      continue;
    }
    holders.push_back(h);
  }

  const size_t before = holders.size();
  if (change(holders) != 0) return 1;
  if (pruned || holders.size() != before || missing) {
    std::string out = "boot " + ZRHDSProcessIdentity::currentBootId() + "\n";
    for (const Holder& h : holders) {
      out += std::to_string(h.pid) + " " + std::to_string(h.start) + " " + std::to_string(h.scope) +
             " " + std::to_string(h.token) + "\n";
    }
    if (!ZrSafeFile::replaceAtomically(path, out, 0600, &error)) {
      m_sError = error;
      return 1;
    }
  }
  const int count = static_cast<int>(holders.size());
  if (liveAfter != nullptr) *liveAfter = count;
  if (!m_sMirrorKey.empty()) {
    ZRPlatformInfo settings;
    int stored = 0;
    if ((settings.getRegInt(kSection, m_sMirrorKey.c_str(), &stored) == 0 || stored != count) &&
        settings.setRegInt(kSection, m_sMirrorKey.c_str(), count) != 0) {
      m_sError = "failed to write the settings key " + m_sMirrorKey;
      return 1;
    }
  }
  return 0;
}

int ZRHDSHolderCount::add(int scope, int* liveAfter) {
  if (scope != kScopeByName && scope != kScopeAllGroups) {
    m_sError = "invalid holder scope " + std::to_string(scope);
    return 1;
  }
  const uint64_t start = ZRHDSProcessIdentity::own().startTime;
  if (start == 0) {
    m_sError = "cannot read the start time of this process";
    return 1;
  }
  const uint64_t token = newToken();
  int rc = update(
      [&](Holders& holders) {
        Holder h;
        h.pid = static_cast<long>(::getpid());
        h.start = start;
        h.scope = scope;
        h.token = token;
        holders.push_back(h);
        return 0;
      },
      liveAfter);
  if (rc == 0) m_vTokens.push_back(token);
  return rc;
}

int ZRHDSHolderCount::remove(int* liveAfter, int* widestScopeBefore) {
  const long pid = static_cast<long>(::getpid());
  int widest = 0;
  uint64_t removed = 0;
  int rc = update(
      [&](Holders& holders) {
        int own = -1;     // the latest entry of this object
        int narrow = -1;  // the process's narrowest entry
        size_t ownRank = 0;
        for (size_t i = 0; i < holders.size(); ++i) {
          const Holder& h = holders[i];
          if (h.scope > widest) widest = h.scope;
          if (h.pid != pid) continue;
          for (size_t t = 0; t < m_vTokens.size(); ++t) {
            if (m_vTokens[t] == h.token && (own < 0 || t >= ownRank)) {
              own = static_cast<int>(i);
              ownRank = t;
            }
          }
          if (narrow < 0 || h.scope <= holders[static_cast<size_t>(narrow)].scope) {
            narrow = static_cast<int>(i);
          }
        }
        const int pick = own >= 0 ? own : narrow;
        if (pick >= 0) {
          removed = holders[static_cast<size_t>(pick)].token;
          holders.erase(holders.begin() + pick);
        }
        return 0;
      },
      liveAfter);
  if (rc == 0) {
    forgetToken(removed);
    if (widestScopeBefore != nullptr) *widestScopeBefore = widest;
  }
  return rc;
}

int ZRHDSHolderCount::dropOwn(int* liveAfter) {
  const long pid = static_cast<long>(::getpid());
  int rc = update(
      [&](Holders& holders) {
        Holders kept;
        for (const Holder& h : holders) {
          bool own = false;
          for (uint64_t t : m_vTokens) own = own || (h.pid == pid && h.token == t);
          if (!own) kept.push_back(h);
        }
        holders.swap(kept);
        return 0;
      },
      liveAfter);
  if (rc == 0) m_vTokens.clear();
  return rc;
}

void ZRHDSHolderCount::forgetToken(uint64_t token) {
  for (size_t t = 0; t < m_vTokens.size(); ++t) {
    if (m_vTokens[t] == token) {
      m_vTokens.erase(m_vTokens.begin() + static_cast<long>(t));
      return;
    }
  }
}

int ZRHDSHolderCount::live(int* count, int* widestScope) {
  int widest = 0;
  int rc = update(
      [&](Holders& holders) {
        for (const Holder& h : holders)
          if (h.scope > widest) widest = h.scope;
        return 0;
      },
      count);
  if (rc == 0 && widestScope != nullptr) *widestScope = widest;
  return rc;
}
