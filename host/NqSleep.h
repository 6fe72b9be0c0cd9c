#pragma once
// The host's sleep. Goes through ZrClock::get(), so it is instant under a
// test's fake clock. file and line name the caller for diagnostics only.
void NQSLEEP_InTeRnAl(unsigned long milliseconds, const char* file, int line);

#define NQSLEEP(ms) NQSLEEP_InTeRnAl((ms), __FILE__, __LINE__)
