#pragma once
// printf-style formatting into a std::string, for the stand-in host's own
// writers: the debug log (EvDebug) and the log lines the test doubles keep.
// Not one of the host's interfaces to the plug-in (the real host offers no
// such function), so plug-in code does not include it.
#include <cstdarg>
#include <cstdio>
#include <string>

namespace ZrVFormat {

// The text that format and ap make; "" for a null format or an encoding
// error. ap is consumed as by vsnprintf.
inline std::string vformat(const char* format, va_list ap) {
  if (format == nullptr) return std::string();
  va_list copy;
  va_copy(copy, ap);
  char small[1024];
  int n = std::vsnprintf(small, sizeof(small), format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof(small)) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(&out[0], out.size(), format, ap);
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace ZrVFormat
