// The command scripts of the CCI implementer (S-VOL labels, the undo of a
// creation) in the temporary directory: a script is made private (0600)
// while it is written and run, and gets 0700 when it is kept on purpose
// (after a failure, for inspection, or when command output is kept). A
// script still at 0600 whose process (the first part of its name) is gone
// was left by a job that died while it ran; the next script run removes it.
#ifndef ZR_ARRAY_HDSSCRIPTFILES_H
#define ZR_ARRAY_HDSSCRIPTFILES_H

#include <sys/types.h>

#include <string>

namespace HDSScriptFiles {

// The mode of a script while it is written and run, and of one kept.
constexpr mode_t kInFlightMode = 0600;
constexpr mode_t kKeptMode = 0700;

// Removes from dir every script (a name "<pid>_<tid>_<time>_<index>_<token>_script")
// that is a regular file of this user, still in flight (kInFlightMode) and
// whose process no longer exists. Returns how many it removed.
int removeOrphans(const std::string& dir);

// A script in flight: kept (kKeptMode) when the guard goes, unless it was
// removed first (done()).
class InFlight {
 public:
  explicit InFlight(std::string path) : m_path(std::move(path)) {}
  ~InFlight();
  InFlight(const InFlight&) = delete;
  InFlight& operator=(const InFlight&) = delete;
  // The script is gone (or was never made): nothing to keep.
  void done() { m_path.clear(); }

 private:
  std::string m_path;
};

}  // namespace HDSScriptFiles

#endif  // ZR_ARRAY_HDSSCRIPTFILES_H
