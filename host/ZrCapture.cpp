#include "host/ZrCapture.h"

#include <algorithm>
#include <new>
#include <stdexcept>

bool ZrCapture::makeRoom() {
  const size_t step = std::min(std::max(m_text.size(), kFirstStep), kMaxStep);
  const size_t want = m_used + step;
  try {
    if (want > m_text.capacity()) {
      size_t capacity = std::max(want, m_text.capacity() * 2);
      // Past the first megabyte the output is large: the whole room it may
      // need at once, so that it is never copied again.
      if (m_expected > 0 && want > kReserveFrom && m_expected + kMaxStep > capacity)
        capacity = m_expected + kMaxStep;
      try {
        m_text.reserve(capacity);
      } catch (const std::bad_alloc&) {
        m_text.reserve(std::max(want, m_text.capacity() * 2));  // no such room: grow as needed
      }
    }
    m_text.resize(want);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
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
