// zrjson: the plug-in's small JSON library.
//
// A value tree is made of three classes:
//   Value   one tagged value: a number, string, boolean, null, array or
//           object, or "invalid" (the state of a default-constructed value);
//   Array   an ordered list of values, held in place;
//   Object  a map from key to value (held in place), kept sorted by the
//           byte-wise order of the keys (every writer visits members in that
//           order, whatever order they were added in).
// A value is sixteen bytes; a number, string, array or object payload is a
// node of its own that the value owns.
//
// Ownership is single and deep: a container owns every value below it, and
// every copy, import or assignment copies the whole tree below its source. No
// two containers ever share a node.
//
// Typed access of the wrong kind (Value::get, Object::get for a missing key,
// Array::get past the end, a non-string first operand of an Object chain) is
// a programming error: it writes one line to stderr and aborts the process,
// whatever the build type. Data that the program did not build itself (a
// message received from another machine) is read only through the
// non-asserting readers getIf<T>() of Value, Array and Object, which give
// null for a missing or different value, and numbers become integers only
// through the range-checked toInt().
//
// The parser is deliberately permissive (single quotes, // comments, empty
// values, trailing commas, text after the top-level item) and never aborts:
// it reports failure by a false result and keeps whatever it read before the
// failure, so callers judge a received object by empty() and has<T>().
// Nesting deeper than kMaxNestingDepth containers is a failed parse.
//
// The pretty writer json() produces the wire form of the remote-execution
// messages: one item per line, TAB indentation, ",\n" between items and a
// blank instead of the comma after the last item of every container. A peer
// plug-in reads those bytes, so they must not change.
//
// Thread safety: a value tree belongs to one thread at a time. The library's
// only shared state is its escaping tables, built once and then read-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zrjson {

typedef long double Number;
typedef std::string String;
typedef bool Boolean;
// Selects the null case of import(); carries nothing.
class Null {};

class Value;
class Array;
class Object;

// Output formats of Object::write() and the XML conversions; 0 is the pretty
// JSON form.
enum Format : unsigned int { JSONx = 1, JXML = 2, JXMLex = 3, TaggedXML = 4 };

// Containers may nest this many levels; the next level fails the parse. The
// system's own messages nest three levels.
constexpr unsigned int kMaxNestingDepth = 128;

// The single check behind every assertion of the library: does nothing when
// result is true; otherwise writes
//   [ZRJSON] expression '<expression>' failed at <file>:<line> ->
// to stderr and raises the platform's assertion failure (the process aborts).
// Always active, also in release builds.
void assertion(const char* file, int line, const char* expression, bool result);

}  // namespace zrjson

// The condition is evaluated once; the text is what the report shows.
#define ZRJSON_ASSERT(text, cond)                                      \
  do {                                                                 \
    if (!(cond)) ::zrjson::assertion(__FILE__, __LINE__, text, false); \
  } while (0)

namespace zrjson {

namespace detail {
struct Access;
}

class Value {
 public:
  // Type tags, as stored.
  enum Type : int32_t {
    NumberType = 0,
    StringType = 1,
    BooleanType = 2,
    NullType = 3,
    ArrayType = 4,
    ObjectType = 5,
    InvalidType = 6
  };

  Value() : m_nType(InvalidType), m_bLentNumber(false), m_pPayload(nullptr) {}
  Value(const Number& n) : Value() { import(n); }
  Value(const String& s) : Value() { import(s); }
  // A string literal is a string (not the boolean its pointer converts to).
  template <std::size_t N>
  Value(const char (&s)[N]) : Value() {
    import(String(s));
  }
  Value(const Array& a) : Value() { import(a); }
  Value(const Object& o) : Value() { import(o); }
  Value(const Value& other) : Value() { import(other); }
  // A boolean is made with import(Boolean): a constructor from bool would
  // make Value(7) ambiguous.
  Value& operator=(const Value& other) {
    import(other);
    return *this;
  }
  // Takes the other's content over; the other is left invalid.
  Value(Value&& other) noexcept
      : m_nType(other.m_nType), m_bLentNumber(other.m_bLentNumber), m_pPayload(other.m_pPayload) {
    other.m_nType = InvalidType;
    other.m_bLentNumber = false;
    other.m_pPayload = nullptr;
  }
  Value& operator=(Value&& other) noexcept;
  ~Value() {
    if (m_pPayload != nullptr) release();
  }

  // A string, array or object value destroys its payload and becomes hollow
  // (same tag, no payload); other values are untouched. A hollow value may
  // only be destroyed, reset, imported into, parsed into, or asked empty()
  // and is<T>().
  void reset() {
    if ((m_nType == StringType || m_nType == ArrayType || m_nType == ObjectType) &&
        m_pPayload != nullptr)
      destroyContainer();
  }

  void import(const Number& n);
  void import(const String& s);
  template <std::size_t N>
  void import(const char (&s)[N]) {
    import(String(s));
  }
  void import(const Boolean& b);
  void import(const Null&);
  void import(const Array& a);      // deep copy
  void import(const Object& o);     // deep copy; the copy has no pending key
  void import(const Value& other);  // deep copy; invalid stays invalid

  // True when the tag is that of T (also for a hollow value).
  template <typename T>
  bool is() const;
  // REQUIRES: is<T>() (asserted). Reference to the payload.
  template <typename T>
  T& get();
  template <typename T>
  const T& get() const;

  // Non-asserting read, for data the program did not build itself: the
  // payload when the value is<T>() and not hollow, null otherwise.
  template <typename T>
  const T* getIf() const;

  // True for an invalid value and for a hollow string, array or object.
  bool empty() const {
    return m_nType == InvalidType ||
           ((m_nType == StringType || m_nType == ArrayType || m_nType == ObjectType) &&
            m_pPayload == nullptr);
  }
  Type type() const { return static_cast<Type>(m_nType); }

  // Reads one value: a string, number, boolean, null, array or object, tried
  // in that order. On failure the value keeps its tag (hollow for a string,
  // array or object). Text after the value is left unread.
  static bool parse(std::istream& input, Value& value);
  bool parse(std::istream& input) { return parse(input, *this); }
  bool parse(const std::string& text);

 private:
  friend struct detail::Access;

  // REQUIRES: a string, array or object with its payload. Destroys it.
  void destroyContainer();
  // Destroys any payload, a number's included; the tag stays.
  void release();
  // The node a number of this value goes to: its own (or lent) one when it
  // is a number already, else a new one, any other payload destroyed.
  Number& numberSlot();

  // Sixteen bytes, so that arrays and objects hold their values in place.
  // A boolean lives in the value itself; every other payload (the number
  // too, whose long double would double the size of every value) in a node
  // of its own. A number value always has its node; a hollow string, array
  // or object has none. m_pPayload is null for null and invalid values and
  // holds nothing but the boolean for a boolean (the destructor tests it
  // before anything else).
  //
  // A number element of a long array has its node lent by the array's
  // ValueList (m_bLentNumber), which frees all such nodes at once. Elements
  // never leave their list (every way out copies), so a lent node never
  // outlives its list.
  int32_t m_nType;
  bool m_bLentNumber;
  union {
    Boolean m_bBoolean;
    Number* m_pNumber;
    String* m_pString;
    Array* m_pArray;
    Object* m_pObject;
    void* m_pPayload;
  };
};

// The elements of an array, held in place in insertion order: a read-only
// sequence (size, index, range-for) to its users. Beyond its first few
// elements it also lends its number elements their nodes, from blocks that
// it frees with its elements, so that a long list of numbers costs no
// allocation per number.
class ValueList {
 public:
  ValueList() {}
  ValueList(const ValueList&) = delete;
  ValueList& operator=(const ValueList&) = delete;
  ~ValueList();

  // Iteration and indexing give a pointer to each element, as a list of
  // pointers would; the elements themselves stay in the list.
  class const_iterator {
   public:
    typedef std::forward_iterator_tag iterator_category;
    typedef const Value* value_type;
    typedef std::ptrdiff_t difference_type;
    typedef const Value* const* pointer;
    typedef const Value* reference;
    explicit const_iterator(const Value* p) : m_p(p) {}
    const Value* operator*() const { return m_p; }
    const_iterator& operator++() {
      ++m_p;
      return *this;
    }
    bool operator==(const const_iterator& other) const { return m_p == other.m_p; }
    bool operator!=(const const_iterator& other) const { return m_p != other.m_p; }

   private:
    const Value* m_p;
  };

  std::size_t size() const { return m_nSize; }
  bool empty() const { return m_nSize == 0; }
  // REQUIRES: i < size().
  const Value* operator[](std::size_t i) const { return data() + i; }
  const_iterator begin() const { return const_iterator(data()); }
  const_iterator end() const { return const_iterator(data() + m_nSize); }

 private:
  friend class Array;
  friend struct detail::Access;
  struct NumberBlock;

  // The elements: in place in the list while it holds at most one (no
  // allocation for the many short arrays of nested text), else on the heap.
  const Value* data() const { return m_pData != nullptr ? m_pData : &m_oFirst; }
  Value* data() { return m_pData != nullptr ? m_pData : &m_oFirst; }
  std::size_t capacity() const { return m_pData != nullptr ? m_nCapacity : 1; }
  Value& operator[](std::size_t i) { return data()[i]; }
  void reserve(std::size_t n);
  // A new invalid element at the end.
  Value& emplaceBack();
  void pushBack(Value&& value) { emplaceBack() = std::move(value); }
  void popBack();
  // Destroys every element and every lent node; the capacity stays.
  void clear();
  // Destroys this list's content and takes the other's; the other is left
  // empty.
  void takeOver(ValueList& other);
  // A node for a number element of this list.
  Number* lendNumber();

  Value* m_pData = nullptr;  // null: the element storage is m_oFirst
  uint32_t m_nSize = 0;
  uint32_t m_nCapacity = 0;  // of m_pData
  NumberBlock* m_pNumbers = nullptr;
  // Alive only while it is the one element (constructed and destroyed
  // explicitly, like the heap elements).
  union {
    Value m_oFirst;
  };
};

class Array {
 public:
  typedef ValueList Values;

  Array() {}
  Array(const Array& other) { import(other); }
  Array(const Value& value) { import(value); }  // one element
  ~Array() {}                                   // the list destroys every element

  std::size_t size() const { return m_oValues.size(); }
  bool empty() const { return m_oValues.empty(); }
  const Values& values() const { return m_oValues; }

  // REQUIRES: i < size() and element i is<T>() (both asserted).
  template <typename T>
  T& get(unsigned int i);
  template <typename T>
  const T& get(unsigned int i) const;
  // Non-asserting read: element i's payload when i < size() and the element
  // is<T>() (not hollow), null otherwise.
  template <typename T>
  const T* getIf(std::size_t i) const;

  // Appends a deep copy of the value.
  void import(const Value& value);
  // Appends a deep copy of each element of the source; the source may be this
  // array (which then holds its elements twice).
  void import(const Array& other);
  Array& operator<<(const Value& value) {
    import(value);
    return *this;
  }
  // Appends the elements, not the array as one element: wrap it in a Value
  // to nest it.
  Array& operator<<(const Array& other) {
    import(other);
    return *this;
  }
  Array& operator=(const Array& other);
  Array& operator=(const Value& value);  // afterwards holds exactly that value

  void reset();

  static bool parse(std::istream& input, Array& array);
  bool parse(std::istream& input) { return parse(input, *this); }
  bool parse(const std::string& text);

  // Pretty form: "[\n", one TAB-indented item per line, "] \n".
  std::string json() const;
  // REQUIRES: format is 1 to 4 (asserted). An empty header means the
  // format's default header.
  std::string xml(unsigned int format, const std::string& header = "",
                  const std::string& attrib = "") const;

 private:
  friend struct detail::Access;
  Values m_oValues;
};

// The members of an object, each key once, in byte-wise key order: a
// read-only sorted sequence of (key, value) pairs to its users, with map-like
// lookup. Held in one array, values in place, so that the many small
// objects of nested text cost one allocation each.
class MemberList {
 public:
  typedef std::pair<std::string, Value> Member;
  // What iteration and find() give, as a map of pointers would: the key and
  // a pointer to the value, which stays in the list.
  struct Entry {
    const std::string& first;
    const Value* second;
  };
  class const_iterator {
   public:
    typedef std::forward_iterator_tag iterator_category;
    typedef Entry value_type;
    typedef std::ptrdiff_t difference_type;
    typedef const Entry* pointer;
    typedef Entry reference;
    // Holds the entry that operator-> points at.
    struct Arrow {
      Entry entry;
      const Entry* operator->() const { return &entry; }
    };
    explicit const_iterator(const Member* p) : m_p(p) {}
    Entry operator*() const { return Entry{m_p->first, &m_p->second}; }
    Arrow operator->() const { return Arrow{**this}; }
    const_iterator& operator++() {
      ++m_p;
      return *this;
    }
    bool operator==(const const_iterator& other) const { return m_p == other.m_p; }
    bool operator!=(const const_iterator& other) const { return m_p != other.m_p; }

   private:
    const Member* m_p;
  };

  std::size_t size() const { return m_oMembers.size(); }
  bool empty() const { return m_oMembers.empty(); }
  const_iterator begin() const { return const_iterator(m_oMembers.data()); }
  const_iterator end() const { return const_iterator(m_oMembers.data() + m_oMembers.size()); }
  // The member of that key, or end().
  const_iterator find(const std::string& key) const {
    const Member* m = findMember(key);
    return m != nullptr ? const_iterator(m) : end();
  }
  std::size_t count(const std::string& key) const { return findMember(key) != nullptr ? 1 : 0; }
  // REQUIRES: count(key) (asserted). The value of that key.
  const Value* at(const std::string& key) const;

 private:
  friend class Object;
  friend struct detail::Access;

  // The member of that key, or null.
  const Member* findMember(const std::string& key) const;
  Member* findMember(const std::string& key) {
    return const_cast<Member*>(static_cast<const MemberList*>(this)->findMember(key));
  }
  // Stores value under key, replacing an earlier value of that key.
  void assign(const std::string& key, Value&& value);
  // Appends without ordering (the parser's way); normalize() restores the
  // order afterwards, the last of equal keys winning.
  void append(std::string&& key, Value&& value) {
    m_oMembers.emplace_back(std::move(key), std::move(value));
  }
  void normalize();
  void clear() { m_oMembers.clear(); }
  void swap(MemberList& other) { m_oMembers.swap(other.m_oMembers); }

  std::vector<Member> m_oMembers;
};

class Object {
 public:
  typedef MemberList Map;

  Object() {}
  Object(const Object& other) { import(other); }
  Object(const std::string& key, const Value& value) { import(key, value); }
  ~Object() {}  // the list destroys every member

  std::size_t size() const { return m_oMap.size(); }
  bool empty() const { return m_oMap.empty(); }
  const Map& kv_map() const { return m_oMap; }

  // True when the key is present and its value is<T>().
  template <typename T>
  bool has(const std::string& key) const;
  // REQUIRES: has<T>(key) (asserted).
  template <typename T>
  T& get(const std::string& key);
  template <typename T>
  const T& get(const std::string& key) const;
  // Non-asserting read: the member's payload when has<T>(key) (and it is
  // not hollow), null otherwise.
  template <typename T>
  const T* getIf(const std::string& key) const;

  // Stores a deep copy under the key, replacing any earlier value; clears
  // the pending key.
  void import(const std::string& key, const Value& value);
  // Merges: every member of the source replaces or adds the member of the
  // same key; other members remain. Clears the pending key.
  void import(const Object& other);
  // Clears the pending key (also on self-assignment), then copies.
  Object& operator=(const Object& other);

  // Chain: with no key pending, the operand must be a string (asserted) and
  // becomes the pending key; otherwise it is stored under the pending key,
  // which is cleared. So obj << "a" << Value(1) << "b" << Value(2).
  Object& operator<<(const Value& value);
  // Stores the object under the pending key (the empty key when none is
  // pending) and clears it.
  Object& operator<<(const Object& object);

  // Destroys every member; the pending key stays.
  void reset();

  // Format 0: json(); any other format: xml(format).
  std::string write(unsigned int format) const;

  static bool parse(std::istream& input, Object& object);
  bool parse(std::istream& input) { return parse(input, *this); }
  bool parse(const std::string& text);

  // Pretty form: "{\n", one TAB-indented "key": value per line, "} \n".
  std::string json() const;
  std::string xml(unsigned int format, const std::string& header = "",
                  const std::string& attrib = "") const;

 private:
  friend struct detail::Access;
  void setPendingKey(const std::string& key);
  std::string takePendingKey();

  Map m_oMap;
  // Null when no key is pending; held apart so that an object stays small.
  std::unique_ptr<std::string> m_pPendingKey;
};

// A received number as an int: its value truncated toward zero, when that
// lies within the range of int (true); false, out untouched, otherwise.
bool toInt(Number n, int& out);

// Compact form: everything on one line, items separated by ", ", members as
// "key": value. Numbers use the stream's own format settings; an invalid
// value writes nothing.
std::ostream& operator<<(std::ostream& os, const Value& value);
std::ostream& operator<<(std::ostream& os, const Array& array);
std::ostream& operator<<(std::ostream& os, const Object& object);

// The JSON escaping of the writers: '"', '\\' and '/' get a backslash,
// backspace, form feed, line feed, carriage return and tab their letter
// escapes, other bytes below 0x20 \u00XX (lowercase); every other byte,
// 0x80 to 0xFF included, is copied. With quote, the result is wrapped in
// double quotes.
std::string escape_string(const std::string& text, bool quote);

// Skip leading bytes up to 0x20, then read an object ('{') or array ('[').
// validate: whether it parsed. reformat: its pretty form, or "" when the
// text is neither or does not parse. xml: its XML form (format 1 to 4,
// asserted), or the format's default header alone.
bool validate(std::istream& input);
bool validate(const std::string& text);
std::string reformat(std::istream& input);
std::string reformat(const std::string& text);
std::string xml(std::istream& input, unsigned int format);
std::string xml(const std::string& text, unsigned int format);

// Building blocks of the parser, each on a stream. Each skips whitespace
// first; match, parse_string, parse_bool and parse_null also skip // comments.
// A failed rule leaves unread the bytes of the item it tried (match: the
// literal's bytes; parse_number: the whole number).
bool match(const char* pattern, std::istream& input);
bool parse_comment(std::istream& input);
bool parse_string(std::istream& input, std::string& value);  // appends to value
bool parse_number(std::istream& input, long double& value);
bool parse_bool(std::istream& input, bool& value);
// Also true, reading nothing more, when the next byte is ',' (an empty value).
bool parse_null(std::istream& input);
// An unquoted name up to ':' (left unread); appends to value.
bool parse_identifier(std::istream& input, std::string& value);
bool parse_array(std::istream& input, Array& array);
bool parse_object(std::istream& input, Object& object);
bool parse_value(std::istream& input, Value& value);

// ----------------------------------------------------------------------
// Typed access.

template <>
inline bool Value::is<Number>() const {
  return m_nType == NumberType;
}
template <>
inline bool Value::is<String>() const {
  return m_nType == StringType;
}
template <>
inline bool Value::is<Boolean>() const {
  return m_nType == BooleanType;
}
template <>
inline bool Value::is<Null>() const {
  return m_nType == NullType;
}
template <>
inline bool Value::is<Array>() const {
  return m_nType == ArrayType;
}
template <>
inline bool Value::is<Object>() const {
  return m_nType == ObjectType;
}

template <>
inline Number& Value::get<Number>() {
  ZRJSON_ASSERT("is<Number>()", is<Number>());
  return *m_pNumber;
}
template <>
inline const Number& Value::get<Number>() const {
  ZRJSON_ASSERT("is<Number>()", is<Number>());
  return *m_pNumber;
}
template <>
inline Boolean& Value::get<Boolean>() {
  ZRJSON_ASSERT("is<Boolean>()", is<Boolean>());
  return m_bBoolean;
}
template <>
inline const Boolean& Value::get<Boolean>() const {
  ZRJSON_ASSERT("is<Boolean>()", is<Boolean>());
  return m_bBoolean;
}
// A hollow string, array or object has nothing to hand out.
template <>
inline String& Value::get<String>() {
  ZRJSON_ASSERT("is<String>()", is<String>());
  ZRJSON_ASSERT("!empty()", m_pString != nullptr);
  return *m_pString;
}
template <>
inline const String& Value::get<String>() const {
  ZRJSON_ASSERT("is<String>()", is<String>());
  ZRJSON_ASSERT("!empty()", m_pString != nullptr);
  return *m_pString;
}
template <>
inline Array& Value::get<Array>() {
  ZRJSON_ASSERT("is<Array>()", is<Array>());
  ZRJSON_ASSERT("!empty()", m_pArray != nullptr);
  return *m_pArray;
}
template <>
inline const Array& Value::get<Array>() const {
  ZRJSON_ASSERT("is<Array>()", is<Array>());
  ZRJSON_ASSERT("!empty()", m_pArray != nullptr);
  return *m_pArray;
}
template <>
inline Object& Value::get<Object>() {
  ZRJSON_ASSERT("is<Object>()", is<Object>());
  ZRJSON_ASSERT("!empty()", m_pObject != nullptr);
  return *m_pObject;
}
template <>
inline const Object& Value::get<Object>() const {
  ZRJSON_ASSERT("is<Object>()", is<Object>());
  ZRJSON_ASSERT("!empty()", m_pObject != nullptr);
  return *m_pObject;
}

template <>
inline const Boolean* Value::getIf<Boolean>() const {
  return is<Boolean>() ? &m_bBoolean : nullptr;
}
template <>
inline const Number* Value::getIf<Number>() const {
  return is<Number>() ? m_pNumber : nullptr;
}
template <>
inline const String* Value::getIf<String>() const {
  return is<String>() ? m_pString : nullptr;
}
template <>
inline const Array* Value::getIf<Array>() const {
  return is<Array>() ? m_pArray : nullptr;
}
template <>
inline const Object* Value::getIf<Object>() const {
  return is<Object>() ? m_pObject : nullptr;
}

template <typename T>
T& Array::get(unsigned int i) {
  ZRJSON_ASSERT("i < size()", i < size());
  return m_oValues[i].get<T>();
}
template <typename T>
const T& Array::get(unsigned int i) const {
  ZRJSON_ASSERT("i < size()", i < size());
  return m_oValues[i]->get<T>();
}
template <typename T>
const T* Array::getIf(std::size_t i) const {
  return i < m_oValues.size() ? m_oValues[i]->getIf<T>() : nullptr;
}

template <typename T>
bool Object::has(const std::string& key) const {
  const MemberList::Member* m = m_oMap.findMember(key);
  return m != nullptr && m->second.is<T>();
}
template <typename T>
T& Object::get(const std::string& key) {
  MemberList::Member* m = m_oMap.findMember(key);
  ZRJSON_ASSERT("has<T>(key)", m != nullptr && m->second.is<T>());
  return m->second.get<T>();
}
template <typename T>
const T& Object::get(const std::string& key) const {
  const MemberList::Member* m = m_oMap.findMember(key);
  ZRJSON_ASSERT("has<T>(key)", m != nullptr && m->second.is<T>());
  return m->second.get<T>();
}
template <typename T>
const T* Object::getIf(const std::string& key) const {
  const MemberList::Member* m = m_oMap.findMember(key);
  return m == nullptr ? nullptr : m->second.getIf<T>();
}

}  // namespace zrjson
