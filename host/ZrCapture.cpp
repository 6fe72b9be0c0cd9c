#include "host/ZrCapture.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <exception>

size_t ZrCapture::memoryWindow() {
  static const size_t window = [] {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageBytes = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageBytes <= 0) return size_t(0);
    const uint64_t half = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageBytes) / 2;
    // Far below what a string may hold, so that adding a step never wraps.
    return static_cast<size_t>(std::min<uint64_t>(half, std::string().max_size() / 4));
  }();
  return window;
}

size_t ZrCapture::mostExpected() const {
  const size_t window = memoryWindow();
  if (window == 0) return m_expected;
  return m_expected == 0 ? window : std::min(m_expected, window);
}

bool ZrCapture::makeRoom() {
  const size_t step = std::min(std::max(m_text.size(), kFirstStep), kMaxStep);
  const size_t want = m_used + step;
  try {
    if (want > m_text.capacity()) {
      const size_t doubled = std::max(want, m_text.capacity() * 2);
      size_t capacity = doubled;
      // Past the first megabyte the output is large: the whole room it may
      // need at once, so that it is never copied again.
      const size_t most = mostExpected();
      if (want > kReserveFrom && most > 0 && most < m_text.max_size() - kMaxStep &&
          most + kMaxStep > capacity)
        capacity = most + kMaxStep;
      try {
        m_text.reserve(capacity);
      } catch (const std::exception&) {
        m_text.reserve(doubled);  // no such room (a strict commit limit): grow as needed
      }
    }
    m_text.resize(want);
  } catch (const std::exception&) {
    return false;  // no memory for more, or more than a string may hold
  }
  return true;
}

char* ZrCapture::space(size_t* room) {
  // Less than a small read's worth left: the next step first.
  constexpr size_t kLeast = 256;
  if (m_text.size() - m_used < kLeast && !makeRoom() && m_text.size() == m_used) {
    *room = 0;
    return nullptr;
  }
  *room = std::min(m_text.size() - m_used, kMaxStep);
  return &m_text[m_used];
}

void ZrCapture::clear() {
  std::string().swap(m_text);
  m_used = 0;
}

std::string ZrCapture::take() {
  m_text.resize(m_used);
  std::string out = std::move(m_text);
  std::string().swap(m_text);
  m_used = 0;
  return out;
}
