// The fixture's own helpers, shared by its sources (ccisim_fixture*.cpp):
// failures as exceptions, the state database, and the objects a builder
// names, looked up or refused.
#ifndef CCISIM_FIXTURE_INTERNAL_H
#define CCISIM_FIXTURE_INTERNAL_H

#include <memory>
#include <string>

#include "sim/ccisim_fixture.h"
#include "sim/ccisim_store.h"

namespace ccisim {
namespace fixture {

// Throws std::runtime_error("ccisim fixture: " + what).
[[noreturn]] void die(const std::string& what);
std::unique_ptr<detail::Store> openStore(const std::string& path, bool create);
Array& arrayOf(State& s, const std::string& serial);
Port& portOf(State& s, const std::string& serial, const std::string& port);
HostGroup& groupOf(State& s, const std::string& serial, const std::string& port, int gid);
SnapPair& pairOf(State& s, const std::string& serial, int pvol, int mu);

}  // namespace fixture
}  // namespace ccisim

#endif  // CCISIM_FIXTURE_INTERNAL_H
