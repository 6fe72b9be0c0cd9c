#pragma once
// ZrCapture: what a child prints, read straight into the string that is
// handed out at the end (no join, no copy). Room is zeroed ahead in steps of
// at most kMaxStep, so that only what was read (and one step) is resident.
// Once it passes kReserveFrom a capture reserves, as address space only, the
// most it may hold: the output cap it was told, or without one the memory
// window (half the machine's memory; a cap above the window is taken as the
// window too). The text then never moves while it grows, so a large output
// costs neither copies nor a second buffer (the peak memory of a capture
// stays at the size of the output). Only where no such room can be had (a
// strict commit limit, a limit on address space) does the room grow by
// doubling, and the text move.
//
// Not thread-safe; one per stream of one child.
#include <cstddef>
#include <string>

class ZrCapture {
 public:
  // Room for the next read: at least one byte, at most kMaxStep; null (room
  // 0) when no memory could be had for more.
  char* space(size_t* room);
  // The last read put n bytes into the space given.
  void commit(size_t n) { m_used += n; }
  size_t size() const { return m_used; }
  // Keeps at most n bytes (drops the rest).
  void truncate(size_t n) {
    if (n < m_used) m_used = n;
  }
  // Drops the text and its memory; the expected maximum stays.
  void clear();
  // The most this capture expects to hold (0: no cap; the memory window
  // stands for it).
  void expectAtMost(size_t bytes) { m_expected = bytes; }
  // The whole text (a copy; the capture keeps it).
  std::string text() const { return m_text.substr(0, m_used); }
  // The whole text, handed over: the capture is empty afterwards.
  std::string take();

  static constexpr size_t kFirstStep = 4096;
  static constexpr size_t kMaxStep = size_t(1) << 20;
  static constexpr size_t kReserveFrom = size_t(1) << 20;

  // Half the machine's physical memory, or 0 where it cannot be read: an
  // output larger than that could not be held beside what its reader builds
  // from it.
  static size_t memoryWindow();

 private:
  // The room reserved past kReserveFrom (0: none, grow by doubling).
  size_t mostExpected() const;
  bool makeRoom();

  std::string m_text;  // size(): bytes zeroed so far; the first m_used are the output
  size_t m_used = 0;
  size_t m_expected = 0;
};
