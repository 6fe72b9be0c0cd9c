// zrjson value model: ownership, deep copies, merging and object chaining.

// The library's checks are always active: assert.h declares the platform's
// assertion routine only without NDEBUG.
#undef NDEBUG
#include <assert.h>
#include <cstdio>
#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>
#include <memory>

#include "json/ZrJsonInternal.h"
#include "json/zrjson.h"

namespace zrjson {

void assertion(const char* file, int line, const char* expression, bool result) {
  if (result) return;
  std::fprintf(stderr, "[ZRJSON] expression '%s' failed at %s:%d -> ", expression, file, line);
  std::fflush(stderr);
  // The platform's own report follows on the same line and names this
  // routine; __assert_fail rather than assert() so that NDEBUG builds check
  // too.
  __assert_fail("false", __FILE__, __LINE__, __PRETTY_FUNCTION__);
}

// ----------------------------------------------------------------------
// Value

void Value::destroyContainer() {
  if (m_nType == StringType) {
    delete m_pString;
  } else if (m_nType == ArrayType) {
    delete m_pArray;
  } else {
    delete m_pObject;
  }
  m_pPayload = nullptr;
}

void Value::release() {
  if (m_nType == NumberType) {
    if (!m_bLentNumber) delete m_pNumber;
    m_bLentNumber = false;
  } else {
    reset();
  }
  m_pPayload = nullptr;
}

Number& Value::numberSlot() {
  if (m_nType != NumberType || m_pNumber == nullptr) {
    Number* slot = new Number(0);
    release();
    m_pNumber = slot;
    m_nType = NumberType;
  }
  return *m_pNumber;
}

Value& Value::operator=(Value&& other) noexcept {
  if (&other != this) {
    release();
    m_nType = other.m_nType;
    m_bLentNumber = other.m_bLentNumber;
    m_pPayload = other.m_pPayload;
    other.m_nType = InvalidType;
    other.m_bLentNumber = false;
    other.m_pPayload = nullptr;
  }
  return *this;
}

void Value::import(const Number& n) {
  // The number may live in this value's own node.
  const Number copy = n;
  numberSlot() = copy;
}

void Value::import(const Boolean& b) {
  release();  // the payload is null now: the boolean is its only byte
  m_nType = BooleanType;
  m_bBoolean = b;
}

void Value::import(const Null&) {
  release();
  m_nType = NullType;
}

void Value::import(const String& s) {
  // Copy first: s may live inside this value's own payload.
  String* copy = new String(s);
  release();
  m_nType = StringType;
  m_pString = copy;
}

void Value::import(const Array& a) {
  std::unique_ptr<Array> copy(new Array(a));
  release();
  m_nType = ArrayType;
  m_pArray = copy.release();
}

void Value::import(const Object& o) {
  std::unique_ptr<Object> copy(new Object(o));
  release();
  m_nType = ObjectType;
  m_pObject = copy.release();
}

void Value::import(const Value& other) {
  if (&other == this) return;
  switch (other.m_nType) {
    case NumberType:
      import(*other.m_pNumber);
      break;
    case BooleanType:
      import(other.m_bBoolean);
      break;
    case NullType:
      import(Null());
      break;
    case StringType:
    case ArrayType:
    case ObjectType:
      if (other.m_pPayload == nullptr) {
        // A hollow source copies as a hollow value of its kind.
        release();
        m_nType = other.m_nType;
      } else if (other.m_nType == StringType) {
        import(*other.m_pString);
      } else if (other.m_nType == ArrayType) {
        import(*other.m_pArray);
      } else {
        import(*other.m_pObject);
      }
      break;
    case InvalidType:
      release();
      m_nType = InvalidType;
      break;
    default:
      ZRJSON_ASSERT("!\"not implemented\"", false);
  }
}

bool toInt(Number n, int& out) {
  // Truncation keeps every value above INT_MIN - 1 and below INT_MAX + 1
  // within the range; NaN fails both tests.
  const Number low = static_cast<Number>(std::numeric_limits<int>::min()) - 1;
  const Number high = static_cast<Number>(std::numeric_limits<int>::max()) + 1;
  if (!(n > low && n < high)) return false;
  out = static_cast<int>(n);
  return true;
}

// ----------------------------------------------------------------------
// ValueList

// A block of number nodes; blocks are chained, the newest first.
struct ValueList::NumberBlock {
  NumberBlock* next;
  uint32_t used;
  uint32_t capacity;
  Number* slots() { return reinterpret_cast<Number*>(this + 1); }
};

static_assert(sizeof(Value) == 16, "values are sixteen bytes");

namespace {
constexpr uint32_t kFirstNumberBlock = 8;
constexpr uint32_t kLargestNumberBlock = 1024;
}  // namespace

ValueList::~ValueList() {
  clear();
  ::operator delete(m_pData);
}

void ValueList::reserve(std::size_t n) {
  if (n <= capacity()) return;
  if (n > std::numeric_limits<uint32_t>::max()) throw std::length_error("zrjson array");
  Value* heap = static_cast<Value*>(::operator new(n * sizeof(Value)));
  Value* old = data();
  for (uint32_t i = 0; i < m_nSize; ++i) {
    new (&heap[i]) Value(std::move(old[i]));
    old[i].~Value();
  }
  ::operator delete(m_pData);
  m_pData = heap;
  m_nCapacity = static_cast<uint32_t>(n);
}

Value& ValueList::emplaceBack() {
  if (m_nSize == capacity()) reserve(capacity() * 2);
  Value* v = new (&data()[m_nSize]) Value();
  ++m_nSize;
  return *v;
}

void ValueList::popBack() {
  --m_nSize;
  data()[m_nSize].~Value();
}

void ValueList::clear() {
  Value* values = data();
  for (uint32_t i = 0; i < m_nSize; ++i) values[i].~Value();
  m_nSize = 0;
  while (m_pNumbers != nullptr) {
    NumberBlock* next = m_pNumbers->next;
    ::operator delete(m_pNumbers);
    m_pNumbers = next;
  }
}

void ValueList::takeOver(ValueList& other) {
  if (&other == this) return;
  clear();
  ::operator delete(m_pData);
  m_pData = nullptr;
  m_nCapacity = 0;
  if (other.m_pData != nullptr) {
    m_pData = other.m_pData;
    m_nCapacity = other.m_nCapacity;
    other.m_pData = nullptr;
    other.m_nCapacity = 0;
  } else if (other.m_nSize == 1) {
    Value& first = other.data()[0];
    new (data()) Value(std::move(first));
    first.~Value();
  }
  m_nSize = other.m_nSize;
  other.m_nSize = 0;
  // Lent nodes stay where they are: only the chain changes hands.
  m_pNumbers = other.m_pNumbers;
  other.m_pNumbers = nullptr;
}

Number* ValueList::lendNumber() {
  static_assert(sizeof(NumberBlock) % alignof(Number) == 0,
                "number nodes follow the block header aligned");
  if (m_pNumbers == nullptr || m_pNumbers->used == m_pNumbers->capacity) {
    uint32_t capacity = m_pNumbers == nullptr ? kFirstNumberBlock : m_pNumbers->capacity * 2;
    if (capacity > kLargestNumberBlock) capacity = kLargestNumberBlock;
    void* raw = ::operator new(sizeof(NumberBlock) + capacity * sizeof(Number));
    NumberBlock* block = static_cast<NumberBlock*>(raw);
    block->next = m_pNumbers;
    block->used = 0;
    block->capacity = capacity;
    m_pNumbers = block;
  }
  return new (&m_pNumbers->slots()[m_pNumbers->used++]) Number(0);
}

// ----------------------------------------------------------------------
// Array

void Array::import(const Value& value) {
  // Copy first: the value may be one of this array's own elements, which
  // growing the array moves.
  Value copy(value);
  m_oValues.pushBack(std::move(copy));
}

void Array::import(const Array& other) {
  if (&other == this) {
    Array copy(other);
    import(copy);
    return;
  }
  m_oValues.reserve(m_oValues.size() + other.m_oValues.size());
  for (const Value* v : other.m_oValues) m_oValues.pushBack(Value(*v));
}

Array& Array::operator=(const Array& other) {
  if (&other != this) {
    reset();
    import(other);
  }
  return *this;
}

Array& Array::operator=(const Value& value) {
  // The value may be one of this array's own elements.
  Value copy(value);
  reset();
  import(copy);
  return *this;
}

void Array::reset() { m_oValues.clear(); }

// ----------------------------------------------------------------------
// MemberList

namespace {
struct KeyLess {
  bool operator()(const MemberList::Member& m, const std::string& key) const {
    return m.first < key;
  }
  bool operator()(const MemberList::Member& a, const MemberList::Member& b) const {
    return a.first < b.first;
  }
};
}  // namespace

const MemberList::Member* MemberList::findMember(const std::string& key) const {
  std::vector<Member>::const_iterator it =
      std::lower_bound(m_oMembers.begin(), m_oMembers.end(), key, KeyLess());
  return it != m_oMembers.end() && it->first == key ? &*it : nullptr;
}

const Value* MemberList::at(const std::string& key) const {
  const Member* m = findMember(key);
  ZRJSON_ASSERT("count(key)", m != nullptr);
  return &m->second;
}

void MemberList::assign(const std::string& key, Value&& value) {
  std::vector<Member>::iterator it =
      std::lower_bound(m_oMembers.begin(), m_oMembers.end(), key, KeyLess());
  if (it != m_oMembers.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    m_oMembers.emplace(it, key, std::move(value));
  }
}

void MemberList::normalize() {
  // Text of the system's own writer arrives in order: one pass tells.
  bool ordered = true;
  for (std::size_t i = 1; i < m_oMembers.size() && ordered; ++i)
    ordered = m_oMembers[i - 1].first < m_oMembers[i].first;
  if (ordered) return;
  std::stable_sort(m_oMembers.begin(), m_oMembers.end(), KeyLess());
  // Of equal keys, now side by side in arrival order, the last stays.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < m_oMembers.size(); ++i) {
    if (i + 1 < m_oMembers.size() && m_oMembers[i + 1].first == m_oMembers[i].first) continue;
    if (kept != i) m_oMembers[kept] = std::move(m_oMembers[i]);
    ++kept;
  }
  m_oMembers.erase(m_oMembers.begin() + static_cast<std::ptrdiff_t>(kept), m_oMembers.end());
}

// ----------------------------------------------------------------------
// Object

void Object::setPendingKey(const std::string& key) {
  if (key.empty()) {
    m_pPendingKey.reset();  // an empty pending key is no pending key
  } else {
    m_pPendingKey.reset(new std::string(key));
  }
}

std::string Object::takePendingKey() {
  std::string key;
  if (m_pPendingKey) key.swap(*m_pPendingKey);
  m_pPendingKey.reset();
  return key;
}

void Object::import(const std::string& key, const Value& value) {
  m_pPendingKey.reset();
  // Copy first: the value (or the key) may belong to a member that moves.
  Value copy(value);
  const std::string name(key);
  m_oMap.assign(name, std::move(copy));
}

void Object::import(const Object& other) {
  m_pPendingKey.reset();
  if (&other == this) return;  // merging an object into itself changes nothing
  if (m_oMap.empty()) {
    m_oMap.m_oMembers = other.m_oMap.m_oMembers;
    return;
  }
  for (const auto& member : other.m_oMap) import(member.first, *member.second);
}

Object& Object::operator=(const Object& other) {
  m_pPendingKey.reset();
  if (&other != this) {
    reset();
    import(other);
  }
  return *this;
}

Object& Object::operator<<(const Value& value) {
  if (!m_pPendingKey) {
    setPendingKey(value.get<String>());
  } else {
    import(takePendingKey(), value);
  }
  return *this;
}

Object& Object::operator<<(const Object& object) {
  import(takePendingKey(), Value(object));
  return *this;
}

void Object::reset() { m_oMap.clear(); }

std::string Object::write(unsigned int format) const {
  if (format == 0) return json();
  return xml(format, "", "");
}

}  // namespace zrjson
