#pragma once
// For tests that run real child processes. The test binary plays the child
// itself: it is started again as "<self> --zr-child <mode> ...", and the
// test's own main() hands such a call to its child code. Also the checks on
// children and grandchildren that must have gone.
#include <string>

class ZrProcess;

// The running test binary's own path; "" when /proc does not tell.
std::string zrSelfExe();

// Starts /bin/sh -c "'<self>' --zr-child <args>" in p, with "exec " in front
// when execDirect (the child then replaces the shell), both streams trapped
// and nothing echoed. False, with error filled in, when it did not start.
bool zrStartSelf(ZrProcess& p, const std::string& args, bool execDirect, std::string* error);

// True while pid is a live process; a zombie or a vanished pid is dead.
bool zrProcessAlive(long pid);
// Polls for about two seconds until pid is dead; false when it still lives.
bool zrWaitDead(long pid);
