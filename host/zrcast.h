#pragma once
// The host's numeric conversions and two portability helpers that the
// plug-in's code uses.
#include <pthread.h>

#include <cstdint>
#include <cstdlib>

namespace zrcast {
// Widens to unsigned 64 bits (zero extension for unsigned sources).
template <class T>
inline unsigned long long lu(T v) {
  return static_cast<unsigned long long>(v);
}
// The low 32 bits, as unsigned.
template <class T>
inline unsigned int u(T v) {
  return static_cast<unsigned int>(static_cast<unsigned long long>(v) & 0xffffffffull);
}
// The same value as long long.
template <class T>
inline long long lld(T v) {
  return static_cast<long long>(v);
}
}  // namespace zrcast

inline unsigned long long _strtoui64(const char* text, char** end, int base) {
  return std::strtoull(text, end, base);
}

// The calling thread's id: pthread_self() cut to its low 32 bits.
inline uint32_t GetCurrentThreadId() {
  // pthread_t is an integer on Linux and a pointer elsewhere; the C cast covers both.
  return static_cast<uint32_t>((uintptr_t)pthread_self() & 0xffffffffu);
}
