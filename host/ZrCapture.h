#pragma once
// ZrCapture: what a child prints, read straight into the string that is
// handed out at the end (no join, no copy). Room is zeroed ahead in steps of
// at most kMaxStep, so that only what was read (and one step) is resident.
// A capture that is told the most it may hold (the output cap) reserves that
// much address space once it passes kReserveFrom: the text then never moves
// while it grows, so a large output costs neither copies nor a second buffer
// (the peak memory of a capture stays at the size of the output).
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
  // The most this capture expects to hold (0: unknown, the room grows by
  // doubling).
  void expectAtMost(size_t bytes) { m_expected = bytes; }
  // The whole text (a copy; the capture keeps it).
  std::string text() const { return m_text.substr(0, m_used); }
  // The whole text, handed over: the capture is empty afterwards.
  std::string take();

  static constexpr size_t kFirstStep = 4096;
  static constexpr size_t kMaxStep = size_t(1) << 20;
  static constexpr size_t kReserveFrom = size_t(1) << 20;

 private:
  bool makeRoom();

  std::string m_text;  // size(): bytes zeroed so far; the first m_used are the output
  size_t m_used = 0;
  size_t m_expected = 0;
};
