// Internals shared by the zrjson sources; not part of the library's interface.
#pragma once

#include <string>

#include "json/zrjson.h"

namespace zrjson {
namespace detail {

// Direct access to the representation, for the parser and the writers.
struct Access {
  static int32_t type(const Value& v) { return v.m_nType; }
  // The string, array or object payload; null for a hollow value.
  static const String* string(const Value& v) { return v.m_pString; }
  static const Array* array(const Value& v) { return v.m_pArray; }
  static const Object* object(const Value& v) { return v.m_pObject; }
  static Number number(const Value& v) { return *v.m_pNumber; }
  static Boolean boolean(const Value& v) { return v.m_bBoolean; }

  // REQUIRES: v was reset() (holds no payload but, perhaps, a number's). A
  // number reuses the value's number node; the others give it up and take
  // ownership of their payload.
  static void setNumber(Value& v, Number n) {
    v.numberSlot() = n;
    v.m_nType = Value::NumberType;
  }
  static void setBoolean(Value& v, Boolean b) {
    v.release();
    v.m_nType = Value::BooleanType;
    v.m_bBoolean = b;
  }
  static void setNull(Value& v) {
    v.release();
    v.m_nType = Value::NullType;
  }
  static void adoptString(Value& v, String* s) {
    v.release();
    v.m_nType = Value::StringType;
    v.m_pString = s;
  }
  static void adoptArray(Value& v, Array* a) {
    v.release();
    v.m_nType = Value::ArrayType;
    v.m_pArray = a;
  }
  static void adoptObject(Value& v, Object* o) {
    v.release();
    v.m_nType = Value::ObjectType;
    v.m_pObject = o;
  }

  // REQUIRES: v was reset(). Makes v a number whose node list lends.
  static void setLentNumber(Value& v, ValueList& list, Number n) {
    v.release();
    v.m_pNumber = list.lendNumber();
    *v.m_pNumber = n;
    v.m_bLentNumber = true;
    v.m_nType = Value::NumberType;
  }

  static ValueList& values(Array& a) { return a.m_oValues; }
  static Value& emplaceBack(ValueList& list) { return list.emplaceBack(); }
  static void popBack(ValueList& list) { list.popBack(); }
  static MemberList& members(Object& o) { return o.m_oMap; }
  static void appendMember(MemberList& list, std::string&& key, Value&& value) {
    list.append(std::move(key), std::move(value));
  }
  static void normalize(MemberList& list) { list.normalize(); }
};

// Appends the JSON escaping of text (no quotes).
void appendEscaped(std::string& out, const std::string& text);
// Appends a number as the pretty writer and the XML forms write it: up to 16
// significant digits in the shortest of plain and exponent notation (printf
// "%.16Lg"), independent of the process locale.
void appendNumber(std::string& out, Number n);

}  // namespace detail
}  // namespace zrjson
