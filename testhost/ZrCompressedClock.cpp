#include "testhost/ZrCompressedClock.h"

#include <chrono>
#include <ctime>
#include <thread>

ZrCompressedClock::ZrCompressedClock(int scale, int64_t compressFromMillis)
    : m_scale(scale < 1 ? 1 : scale), m_compressFrom(compressFromMillis) {}

int64_t ZrCompressedClock::nowSeconds() {
  return static_cast<int64_t>(std::time(nullptr)) + m_offset.load() / 1000;
}

int64_t ZrCompressedClock::monotonicMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
             .count() +
         m_offset.load();
}

void ZrCompressedClock::sleepMillis(int64_t ms) {
  if (ms <= 0) return;
  int64_t real = ms;
  if (m_scale > 1 && ms >= m_compressFrom) {
    real = ms / m_scale;
    m_offset.fetch_add(ms - real);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(real));
}
