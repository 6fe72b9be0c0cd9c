#pragma once
// The host's intrusive smart pointer. Objects that SP can hold derive from
// SPEnabled, which carries the reference count; SPBase holds one reference.
#include <atomic>

class SPEnabled {
 public:
  SPEnabled() : m_refs(0) {}
  SPEnabled(const SPEnabled&) : m_refs(0) {}
  SPEnabled& operator=(const SPEnabled&) { return *this; }
  virtual ~SPEnabled();

  void spAddRef() { m_refs.fetch_add(1, std::memory_order_relaxed); }
  // Drops one reference and deletes the object when it was the last.
  void spRelease();
  long spRefCount() const { return m_refs.load(std::memory_order_relaxed); }

 private:
  std::atomic<long> m_refs;
};

class SPBase {
 public:
  SPBase() : m_p(nullptr) {}
  explicit SPBase(SPEnabled* p);
  SPBase(const SPBase& other);
  SPBase& operator=(const SPBase& other);
  ~SPBase();

  SPEnabled* get() const { return m_p; }
  // Holds p (taking a reference) and releases the object held before.
  SPBase& assign(SPEnabled* p);
  void reset() { assign(nullptr); }

 private:
  SPEnabled* m_p;
};

template <class T>
class SP : public SPBase {
 public:
  SP() = default;
  explicit SP(T* p) : SPBase(p) {}
  SP(const SP& other) = default;
  SP& operator=(const SP& other) = default;
  ~SP() = default;

  operator T*() const { return static_cast<T*>(SPBase::get()); }
  T* operator->() const { return static_cast<T*>(SPBase::get()); }
  SP& operator=(SPEnabled* p) {
    SPBase::assign(p);
    return *this;
  }
};
