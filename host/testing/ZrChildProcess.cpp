#include "host/testing/ZrChildProcess.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "host/ZrProcess.h"

std::string zrSelfExe() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return std::string();
  buf[n] = '\0';
  return buf;
}

bool zrStartSelf(ZrProcess& p, const std::string& args, bool execDirect, std::string* error) {
  std::string cmd =
      std::string(execDirect ? "exec " : "") + "'" + zrSelfExe() + "' --zr-child " + args;
  std::string sh = "/bin/sh", c = "-c";
  char* argv[] = {&sh[0], &c[0], &cmd[0], nullptr};
  p.TrapIO(true, true);
  p.SetSilence(true);
  return p.StartProcess(argv, error, 0);
}

bool zrProcessAlive(long pid) {
  FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (f == nullptr) return false;
  char line[512] = {0};
  bool alive = std::fgets(line, sizeof(line), f) != nullptr;
  std::fclose(f);
  if (!alive) return false;
  // "pid (name) state ...": the name may hold ')' itself, the last one ends it.
  const char* close = std::strrchr(line, ')');
  return close != nullptr && close[1] == ' ' && close[2] != 'Z' && close[2] != 'X';
}

bool zrWaitDead(long pid) {
  for (int i = 0; i < 200; ++i) {
    if (!zrProcessAlive(pid)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}
