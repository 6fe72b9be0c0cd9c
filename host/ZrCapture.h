#pragma once
// ZrCapture: what a child prints, kept in fixed blocks while it arrives and
// joined into one string only when handed out. The blocks are read into
// directly (no copy through a buffer, no zero fill), and handing the text
// over frees each block as soon as it is copied, so the peak memory of a
// capture stays near the size of the output instead of twice it.
//
// Not thread-safe; one per stream of one child.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class ZrCapture {
 public:
  // Room for the next read: at least one byte, at most the block's rest;
  // null (room 0) when no memory could be had for a new block.
  char* space(size_t* room);
  // The last read put n bytes into the space given.
  void commit(size_t n) {
    m_lastUsed += n;
    m_size += n;
  }
  size_t size() const { return m_size; }
  // Keeps at most n bytes (drops the rest).
  void truncate(size_t n);
  void clear();
  // The whole text (a copy; the capture keeps it).
  std::string text() const;
  // The whole text, handed over: the capture is empty afterwards.
  std::string take();

 private:
  static constexpr size_t kBlock = 4u << 20;
  // Blocks are mapped pages of their own, so a freed block goes back to the
  // system at once (a heap block might stay with the process).
  struct Unmap {
    void operator()(char* p) const;
  };
  using Block = std::unique_ptr<char, Unmap>;
  std::vector<Block> m_blocks;
  size_t m_lastUsed = kBlock;  // bytes used in the last block
  size_t m_size = 0;
};
