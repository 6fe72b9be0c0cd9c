// Shared set-up of the simulator's own tests: one M8S array (412345) with a
// Thin Image pool, a DP pool, four source LDEVs mapped through CL1-A-1, a
// command device behind CL1-A-0, and instance 3532 running and logged in.
#ifndef CCISIM_TEST_UTIL_H
#define CCISIM_TEST_UTIL_H

#include "sim/ccisim_fixture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace ccisim_test {

inline std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> w;
  std::istringstream in(line);
  std::string t;
  while (in >> t) w.push_back(t);
  return w;
}

// Lines of an output; text after the last "\n" is not a line.
inline std::vector<std::string> lines(const std::string& out) {
  std::vector<std::string> v;
  size_t pos = 0;
  for (size_t nl; (nl = out.find('\n', pos)) != std::string::npos; pos = nl + 1)
    v.push_back(out.substr(pos, nl - pos));
  return v;
}

constexpr const char* kSerial = "412345";
constexpr int kInst = 3532;

class SimTest : public ::testing::Test {
 protected:
  ccisim::Fixture fx;

  void SetUp() override {
    fx.addUser("cciuser", "secret");
    fx.addArray(kSerial, "M8S");
    ccisim::Pool ti;
    ti.id = 5;
    ti.name = "TIPOOL01";
    ti.usage = 12;
    fx.addPool(kSerial, ti);
    ccisim::Pool dp;
    dp.id = 6;
    dp.name = "DPPOOL01";
    dp.pt = "HDP";
    fx.addPool(kSerial, dp);
    fx.addPort(kSerial, "CL1-A", "50060e8007dd3300");
    fx.addPort(kSerial, "CL2-B", "50060e8007dd3311");
    fx.addHostGroup(kSerial, "CL1-A", 0, "1A-G00");
    fx.addHostGroup(kSerial, "CL1-A", 1, "hg db 01");
    fx.addHostGroup(kSerial, "CL2-B", 0, "2B-G00");
    for (int i = 0; i < 4; ++i) {
      fx.addSourceLdev(kSerial, 256 + i, 2097152, 6, "src" + std::to_string(i));
      fx.addLun(kSerial, "CL1-A", 1, i, 256 + i);
    }
    fx.addCommandDevice("/dev/sdc", kSerial, 2047);
    fx.addLun(kSerial, "CL1-A", 0, 5, 2047);
    fx.setInstanceRunning(kInst, kSerial);
    fx.setLoggedIn(kInst, "cciuser");
  }

  // raidcom with the words of `line` and the common options -IM3532 -s 412345.
  ccisim::Outcome rc(const std::string& line) {
    std::vector<std::string> a = split(line);
    a.push_back("-IM3532");
    a.push_back("-s");
    a.push_back(kSerial);
    return fx.run("raidcom", a);
  }
  ccisim::Outcome tool(const std::string& name, const std::string& line) {
    return fx.run(name, split(line));
  }

  ccisim::Array array() const { return *fx.load().array(kSerial); }
  ccisim::Ldev ldev(int id) const { return array().ldev(id); }
  // A V-VOL target as `add ldev -pool snap` makes it.
  void addTarget(int id, uint64_t blocks = 2097152) {
    ccisim::Ldev t;
    t.id = id;
    t.capacity = blocks;
    t.attrs = {"CVS", "VVOL"};
    fx.addLdev(kSerial, t);
  }
};

}  // namespace ccisim_test

#endif  // CCISIM_TEST_UTIL_H
