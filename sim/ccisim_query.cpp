// Read-only queries of a state database.
#include "sim/ccisim_query.h"

#include <memory>

#include "sim/ccisim_store.h"

namespace ccisim {

bool loadState(const std::string& statePath, State& out, std::string* why) {
  std::string reason;
  std::unique_ptr<detail::Store> store = detail::Store::open(statePath, false, reason);
  State s;
  bool ok = store != nullptr && store->begin(false, reason);
  if (ok) {
    ok = store->load(s, true, reason);
    store->rollback();
  }
  if (!ok) {
    if (why != nullptr) *why = statePath + ": " + reason;
    return false;
  }
  out = s;
  return true;
}

}  // namespace ccisim
