#include "host/SP.h"

SPEnabled::~SPEnabled() = default;

void SPEnabled::spRelease() {
  if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

SPBase::SPBase(SPEnabled* p) : m_p(p) {
  if (m_p != nullptr) m_p->spAddRef();
}

SPBase::SPBase(const SPBase& other) : m_p(other.m_p) {
  if (m_p != nullptr) m_p->spAddRef();
}

SPBase& SPBase::operator=(const SPBase& other) { return assign(other.m_p); }

SPBase::~SPBase() {
  if (m_p != nullptr) m_p->spRelease();
}

SPBase& SPBase::assign(SPEnabled* p) {
  if (p != nullptr) p->spAddRef();  // first, in case p is the object held now
  SPEnabled* old = m_p;
  m_p = p;
  if (old != nullptr) old->spRelease();
  return *this;
}
