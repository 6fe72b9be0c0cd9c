#pragma once
// ZRHDSHolderCount: a machine-wide count of holders (the CCI login of an
// array, the array's resource-group lock) that a dead holder never keeps up.
//
// Each holder is one entry of a list kept beside the named locks: the
// holder's process id, the process's start time (so a reused pid is never
// taken for the old holder), the machine's boot id, the holder's scope and a
// token of the object that added it. Every call prunes the entries whose
// process is gone (or a zombie) under the list's own named mutex, then acts,
// and replaces the list atomically, so a holder killed at any instruction
// leaves either its whole entry (pruned later) or none.
//
// The mirror key (when given) is a settings-store key in section
// "~Tessavon" that always holds the number of live holders after a call, for
// readers that only look at the store.
//
// Scopes: 1 by name, 2 all groups; the widest scope of the live holders is
// reported so the last holder knows what it has to release.
//
// Ownership: an entry belongs to the object that added it. Destroying the
// object removes the entries it added and did not remove, so a holder whose
// release failed on the array (or never ran) never outlives its object in a
// long-lived process.
//
// Results: 0 ok, 1 failure (lastError() says why). Thread-safety: one object
// per thread; objects of the same name exclude each other in every thread
// and process.
#include <cstdint>
#include <string>
#include <vector>

class ZRHDSHolderCount {
 public:
  static constexpr int kScopeByName = 1;
  static constexpr int kScopeAllGroups = 2;

  explicit ZRHDSHolderCount(const std::string& name, const std::string& mirrorKey = "");
  // Removes the entries this object added and still holds (dropOwn).
  ~ZRHDSHolderCount();
  ZRHDSHolderCount(const ZRHDSHolderCount&) = delete;
  ZRHDSHolderCount& operator=(const ZRHDSHolderCount&) = delete;

  // Adds the calling process as one more holder with scope (1 or 2).
  // *liveAfter: live holders including the new one.
  int add(int scope, int* liveAfter);
  // Removes one holding of the calling process: the latest this object
  // added, else the process's narrowest. Removing when the process holds
  // nothing changes nothing and succeeds. *liveAfter: live holders left;
  // *widestScopeBefore: widest scope of the live holders before the removal
  // (0 when there were none).
  int remove(int* liveAfter, int* widestScopeBefore);
  // Removes every entry this object added and did not remove yet, whatever
  // became of what they stood for; never another object's. *liveAfter
  // (may be null): live holders left.
  int dropOwn(int* liveAfter);
  // True while this object has an entry of its own in the list.
  bool holdsOwn() const { return !m_vTokens.empty(); }
  // Live holders and their widest scope (0 when none).
  int live(int* count, int* widestScope);
  std::string lastError() const { return m_sError; }

  // The list file of a holder name (in the lock directory).
  static std::string listPath(const std::string& name);

  struct Holder;  // one entry of the list (defined in the .cpp)

 private:
  template <class Change>
  int update(Change change, int* liveAfter);
  // Drops token from this object's own tokens (when it is one).
  void forgetToken(uint64_t token);

  std::string m_sName;
  std::string m_sMirrorKey;
  std::string m_sError;
  // Tokens of the entries this object added and has not removed, oldest
  // first.
  std::vector<uint64_t> m_vTokens;
};
