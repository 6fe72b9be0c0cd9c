#include "host/ZrCapture.h"

#include <sys/mman.h>

#include <cstring>

void ZrCapture::Unmap::operator()(char* p) const {
  if (p != nullptr) ::munmap(p, kBlock);
}

char* ZrCapture::space(size_t* room) {
  if (m_lastUsed == kBlock) {
    void* p = ::mmap(nullptr, kBlock, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
      *room = 0;
      return nullptr;
    }
    m_blocks.emplace_back(static_cast<char*>(p));
    m_lastUsed = 0;
  }
  *room = kBlock - m_lastUsed;
  return m_blocks.back().get() + m_lastUsed;
}

void ZrCapture::truncate(size_t n) {
  if (n >= m_size) return;
  const size_t keepBlocks = n == 0 ? 0 : (n - 1) / kBlock + 1;
  m_blocks.resize(keepBlocks);
  m_size = n;
  m_lastUsed = keepBlocks == 0 ? kBlock : n - (keepBlocks - 1) * kBlock;
}

void ZrCapture::clear() {
  m_blocks.clear();
  m_lastUsed = kBlock;
  m_size = 0;
}

std::string ZrCapture::text() const {
  std::string out;
  out.reserve(m_size);
  for (size_t i = 0; i < m_blocks.size(); ++i) {
    const size_t n = i + 1 == m_blocks.size() ? m_lastUsed : kBlock;
    out.append(m_blocks[i].get(), n);
  }
  return out;
}

std::string ZrCapture::take() {
  std::string out;
  out.reserve(m_size);  // pages are touched only as blocks are copied in
  for (size_t i = 0; i < m_blocks.size(); ++i) {
    const size_t n = i + 1 == m_blocks.size() ? m_lastUsed : kBlock;
    out.append(m_blocks[i].get(), n);
    m_blocks[i].reset();  // given back before the next block is copied
  }
  clear();
  return out;
}
