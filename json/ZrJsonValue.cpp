// zrjson value model: ownership, deep copies, merging and object chaining.

// The library's checks are always active: assert.h declares the platform's
// assertion routine only without NDEBUG.
#undef NDEBUG
#include <assert.h>
#include <cstdio>
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

void Value::reset() {
  switch (m_nType) {
    case StringType:
      delete m_pString;
      m_pString = nullptr;
      break;
    case ArrayType:
      delete m_pArray;
      m_pArray = nullptr;
      break;
    case ObjectType:
      delete m_pObject;
      m_pObject = nullptr;
      break;
    default:
      break;
  }
}

void Value::import(const Number& n) {
  reset();
  m_nType = NumberType;
  m_ldNumber = n;
}

void Value::import(const Boolean& b) {
  reset();
  m_nType = BooleanType;
  m_bBoolean = b;
}

void Value::import(const Null&) {
  reset();
  m_nType = NullType;
}

void Value::import(const String& s) {
  // Copy first: s may live inside this value's own payload.
  String* copy = new String(s);
  reset();
  m_nType = StringType;
  m_pString = copy;
}

void Value::import(const Array& a) {
  std::unique_ptr<Array> copy(new Array(a));
  reset();
  m_nType = ArrayType;
  m_pArray = copy.release();
}

void Value::import(const Object& o) {
  std::unique_ptr<Object> copy(new Object(o));
  reset();
  m_nType = ObjectType;
  m_pObject = copy.release();
}

void Value::import(const Value& other) {
  if (&other == this) return;
  switch (other.m_nType) {
    case NumberType:
      import(other.m_ldNumber);
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
      if (other.m_pString == nullptr) {
        // A hollow source copies as a hollow value of its kind.
        reset();
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
      reset();
      m_nType = InvalidType;
      break;
    default:
      ZRJSON_ASSERT("!\"not implemented\"", false);
  }
}

// ----------------------------------------------------------------------
// Array

void Array::import(const Value& value) {
  std::unique_ptr<Value> copy(new Value(value));
  m_oValues.push_back(copy.get());
  copy.release();
}

void Array::import(const Array& other) {
  if (&other == this) {
    Array copy(other);
    import(copy);
    return;
  }
  m_oValues.reserve(m_oValues.size() + other.m_oValues.size());
  for (const Value* v : other.m_oValues) import(*v);
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

void Array::reset() {
  for (Value* v : m_oValues) delete v;
  m_oValues.clear();
}

// ----------------------------------------------------------------------
// Object

void Object::import(const std::string& key, const Value& value) {
  m_sPendingKey.clear();
  // Copy first: the value (or the key) may belong to the member replaced.
  std::unique_ptr<Value> copy(new Value(value));
  Map::iterator it = m_oMap.find(key);
  if (it != m_oMap.end()) {
    delete it->second;
    it->second = copy.release();
  } else {
    m_oMap.emplace(key, copy.get());
    copy.release();
  }
}

void Object::import(const Object& other) {
  m_sPendingKey.clear();
  if (&other == this) return;  // merging an object into itself changes nothing
  for (const auto& member : other.m_oMap) import(member.first, *member.second);
}

Object& Object::operator=(const Object& other) {
  m_sPendingKey.clear();
  if (&other != this) {
    reset();
    import(other);
  }
  return *this;
}

Object& Object::operator<<(const Value& value) {
  if (m_sPendingKey.empty()) {
    m_sPendingKey = value.get<String>();
  } else {
    std::string key;
    key.swap(m_sPendingKey);
    import(key, value);
  }
  return *this;
}

Object& Object::operator<<(const Object& object) {
  std::string key;
  key.swap(m_sPendingKey);
  import(key, Value(object));
  return *this;
}

void Object::reset() {
  for (auto& member : m_oMap) delete member.second;
  m_oMap.clear();
}

std::string Object::write(unsigned int format) const {
  if (format == 0) return json();
  return xml(format, "", "");
}

}  // namespace zrjson
