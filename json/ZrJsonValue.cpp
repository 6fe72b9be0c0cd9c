// zrjson value model: ownership, deep copies, merging and object chaining.

// The library's checks are always active: assert.h declares the platform's
// assertion routine only without NDEBUG.
#undef NDEBUG
#include <assert.h>
#include <cstdio>
#include <limits>
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
    delete m_pNumber;
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
    m_pPayload = other.m_pPayload;
    other.m_nType = InvalidType;
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
// Array

void Array::import(const Value& value) {
  // Copy first: the value may be one of this array's own elements, which
  // growing the array moves.
  Value copy(value);
  m_oValues.push_back(std::move(copy));
}

void Array::import(const Array& other) {
  if (&other == this) {
    Array copy(other);
    import(copy);
    return;
  }
  m_oValues.reserve(m_oValues.size() + other.m_oValues.size());
  for (const Value& v : other.m_oValues) m_oValues.push_back(v);
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
  // Copy first: the value (or the key) may belong to the member replaced.
  Value copy(value);
  Map::iterator it = m_oMap.find(key);
  if (it != m_oMap.end()) {
    it->second = std::move(copy);
  } else {
    m_oMap.emplace(key, std::move(copy));
  }
}

void Object::import(const Object& other) {
  m_pPendingKey.reset();
  if (&other == this) return;  // merging an object into itself changes nothing
  for (const auto& member : other.m_oMap) import(member.first, member.second);
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
