// ccisim: answers as the CCI tool it is started as (see ccisim_fixture.h);
// started as "ccisim" it is the command-line front end (init, show, ...).
#include "sim/ccisim_model.h"
#include "sim/ccisim_internal.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
void writeAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t w = ::write(fd, s.data() + done, s.size() - done);
    if (w <= 0) return;
    done += static_cast<size_t>(w);
  }
}
}  // namespace

int main(int argc, char** argv) {
  std::string self = argc > 0 ? argv[0] : "ccisim";
  size_t slash = self.rfind('/');
  std::string tool = slash == std::string::npos ? self : self.substr(slash + 1);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::string state = ccisim::detail::statePathFor(argc > 0 ? argv[0] : "ccisim");
  if (tool == "ccisim") return ccisim::detail::cliMain(args, state);
  ccisim::Outcome o = ccisim::invoke(state, tool, args);
  // A hang-after fault: the change is saved and the state unlocked; the
  // caller's time-out is expected to kill us while we sleep.
  if (o.hangMillis > 0) std::this_thread::sleep_for(std::chrono::milliseconds(o.hangMillis));
  writeAll(1, o.out);
  writeAll(2, o.err);
  return o.exitCode & 0xff;
}
