// Run-time type information: hand-written static descriptors of the types
// that the SOAP layer reads and writes, compared by address. All descriptors
// are constant-initialised (constinit), so no load-order questions arise.
//
//   TTypeInfo   kind, name and declaring module of any type, with a
//               kind-specific descriptor behind it
//   TClass      a class: parent, virtual constructor, published properties
//   TPropInfo   a published property: name, type, flags, typed accessors
//   interfaces  GUID, parent and methods with their parameters
//   TObject     the root of every class that has a TClass
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "rtl/Interface.h"
#include "rtl/UnicodeString.h"

namespace delvan::rtl {

enum TTypeKind : std::uint8_t {
  tkUnknown,
  tkInteger,
  tkChar,
  tkEnumeration,
  tkFloat,
  tkString,  // short string, with a declared maximum length
  tkSet,
  tkClass,
  tkMethod,
  tkWChar,
  tkLString,
  tkWString,
  tkVariant,
  tkArray,
  tkRecord,
  tkInterface,
  tkInt64,
  tkDynArray,
  tkUString,  // UTF-16 string, the system's text type
};

// "Unknown", "Integer", ... "DynArray", "UString": the kind's name in messages.
std::u16string_view TypeKindName(TTypeKind kind);

enum TOrdType : std::uint8_t { otSByte, otUByte, otSWord, otUWord, otSLong, otULong };
enum TFloatType : std::uint8_t { ftSingle, ftDouble, ftExtended, ftComp, ftCurr };

struct TTypeInfo {
  TTypeKind Kind = tkUnknown;
  std::u16string_view Name;
  std::u16string_view UnitName;  // the declaring module
  const void* Data = nullptr;    // the kind's descriptor: see the accessors below

  const struct TOrdinalTypeData* Ordinal() const;  // tkInteger, tkChar, tkWChar, tkEnumeration
  const struct TFloatTypeData* Float() const;      // tkFloat
  const struct TInt64TypeData* Int64() const;      // tkInt64
  const struct TShortStringTypeData* ShortString() const;  // tkString
  const struct TSetTypeData* SetData() const;              // tkSet
  const struct TClass* Class() const;                      // tkClass
  const struct TInterfaceTypeData* Interface() const;      // tkInterface
  const struct TDynArrayTypeData* DynArray() const;        // tkDynArray
};

struct TOrdinalTypeData {
  TOrdType OrdType = otSLong;
  std::int64_t MinValue = 0;
  std::int64_t MaxValue = 0;
  // Enumerations: the base type (itself for a base enumeration) and the
  // member names by ordinal.
  const TTypeInfo* BaseType = nullptr;
  std::span<const std::u16string_view> Names;
};

struct TFloatTypeData {
  TFloatType FloatType = ftDouble;
};

struct TInt64TypeData {
  std::int64_t MinValue = INT64_MIN;
  std::int64_t MaxValue = INT64_MAX;
};

struct TShortStringTypeData {
  std::uint8_t MaxLength = 255;
};

struct TSetTypeData {
  const TTypeInfo* CompType = nullptr;  // the enumeration of the members
};

// Dynamic arrays are std::vector<T>; the descriptor carries what a generic
// reader or writer needs to walk and size one through a pointer to it.
struct TDynArrayTypeData {
  const TTypeInfo* ElType = nullptr;
  std::size_t ElSize = 0;
  std::size_t (*Length)(const void* array) = nullptr;
  void (*SetLength)(void* array, std::size_t length) = nullptr;
  void* (*Element)(void* array, std::size_t index) = nullptr;
};

template <class V>
constexpr TDynArrayTypeData MakeDynArrayData(const TTypeInfo* elType) {
  return TDynArrayTypeData{
      elType,
      sizeof(typename V::value_type),
      [](const void* a) { return static_cast<const V*>(a)->size(); },
      [](void* a, std::size_t n) { static_cast<V*>(a)->resize(n); },
      [](void* a, std::size_t i) -> void* { return &(*static_cast<V*>(a))[i]; },
  };
}

// ---- Interfaces -------------------------------------------------------------

enum TCallConv : std::uint8_t { ccReg, ccCdecl, ccPascal, ccStdCall, ccSafeCall };

// Parameter flags.
inline constexpr std::uint8_t pfVar = 0x01;
inline constexpr std::uint8_t pfConst = 0x02;
inline constexpr std::uint8_t pfArray = 0x04;
inline constexpr std::uint8_t pfAddress = 0x08;
inline constexpr std::uint8_t pfReference = 0x10;
inline constexpr std::uint8_t pfOut = 0x20;
inline constexpr std::uint8_t pfResult = 0x40;

struct TParamInfo {
  std::uint8_t Flags = 0;
  std::u16string_view Name;
  const TTypeInfo* Info = nullptr;  // null: the parameter has no type information
};

struct TMethodInfo {
  std::u16string_view Name;
  TCallConv CC = ccStdCall;
  std::span<const TParamInfo> Params;
  const TTypeInfo* ResultInfo = nullptr;  // null for a procedure
};

struct TInterfaceTypeData {
  const TTypeInfo* Parent = nullptr;  // null only for IInterface
  TGUID Guid;
  bool HasMethods = true;                // false: the type carries no method descriptions
  std::span<const TMethodInfo> Methods;  // the interface's own methods, in slot order
};

// IInterface (QueryInterface, _AddRef, _Release) and IInvokable, the base
// of every interface the SOAP layer can call.
extern const TTypeInfo TypeInfo_IInterface;
extern const TTypeInfo TypeInfo_IInvokable;

// ---- Classes and published properties ----------------------------------------

class TObject;

// Flags of a published property, carried in its index value.
inline constexpr std::int32_t IS_OPTN = 0x0001;
inline constexpr std::int32_t IS_UNBD = 0x0002;
inline constexpr std::int32_t IS_NLBL = 0x0004;
inline constexpr std::int32_t IS_UNQL = 0x0008;
inline constexpr std::int32_t IS_ATTR = 0x0010;
inline constexpr std::int32_t IS_TEXT = 0x0020;
inline constexpr std::int32_t IS_REF = 0x0080;
inline constexpr std::int32_t IS_QUAL = 0x0100;
inline constexpr std::int32_t kNoIndex = INT32_MIN;  // a property without index value

// Typed access to the field behind a property. Only the accessors that fit
// the property's type kind are set; the others are null.
struct TPropInfo {
  std::u16string_view Name;
  const TTypeInfo* PropType = nullptr;
  std::int32_t Index = kNoIndex;
  bool StoredConstFalse = false;               // declared with the constant stored False
  bool (*IsStored)(const TObject*) = nullptr;  // stored-test; null means always stored

  std::int64_t (*GetOrd)(const TObject*) = nullptr;  // ordinal kinds and tkInt64
  void (*SetOrd)(TObject*, std::int64_t) = nullptr;
  double (*GetFloat)(const TObject*) = nullptr;  // tkFloat
  void (*SetFloat)(TObject*, double) = nullptr;
  UnicodeString (*GetStr)(const TObject*) = nullptr;  // string kinds
  void (*SetStr)(TObject*, const UnicodeString&) = nullptr;
  TObject* (*GetObj)(const TObject*) = nullptr;  // tkClass
  // Writes the field directly: the previous object is not freed. The object
  // must be an instance of the property's class (or null).
  void (*SetObj)(TObject*, TObject*) = nullptr;
  void* (*FieldAddress)(TObject*) = nullptr;  // every kind: the field itself
  // The SetStr MakeProp made, a plain store into the field: while SetStr is
  // still that one, a text may be moved into the field instead.
  void (*FieldSetStr)(TObject*, const UnicodeString&) = nullptr;

  // The property's flags: its index value, 0 without one.
  std::int32_t Flags() const { return Index == kNoIndex ? 0 : Index; }
  bool Stored(const TObject* obj) const {
    return !StoredConstFalse && (!IsStored || IsStored(obj));
  }
};

struct TClass {
  TTypeInfo Info;                    // Kind tkClass, Data pointing back here
  const TClass* Parent = nullptr;    // null only for TObject
  TObject* (*Create)() = nullptr;    // the virtual constructor; null for an abstract class
  std::span<const TPropInfo> Props;  // own published properties, in declaration order
  // The interfaces the class itself declares it implements (not its parent's).
  std::span<const TGUID> Interfaces;

  std::u16string_view ClassName() const { return Info.Name; }
  std::u16string_view UnitName() const { return Info.UnitName; }
  bool InheritsFrom(const TClass* ancestor) const;
  // Creates an instance through the virtual constructor; nullptr for an
  // abstract class. The caller owns the object.
  TObject* NewInstance() const { return Create ? Create() : nullptr; }
};

// Published properties of cls, inherited first, each class's in declaration
// order. Built once per class and kept for the life of the process, so the
// reference stays valid; cls must live as long (class descriptors are statics).
const std::vector<const TPropInfo*>& GetPropList(const TClass* cls);
// The published property of that name (exact), or null.
const TPropInfo* GetPropInfo(const TClass* cls, std::u16string_view name);

// The root of the classes that carry a TClass. Each derived class declares
// DELVAN_CLASS() and defines its StaticClass with DefineClass<>.
class TObject {
 public:
  static const TClass StaticClass;
  virtual ~TObject() = default;
  virtual const TClass* ClassType() const { return &StaticClass; }

  std::u16string_view ClassName() const { return ClassType()->ClassName(); }
  bool InheritsFrom(const TClass* cls) const { return ClassType()->InheritsFrom(cls); }
};

// Declares the class descriptor of a class derived from TObject.
#define DELVAN_CLASS()                            \
 public:                                          \
  static const ::delvan::rtl::TClass StaticClass; \
  const ::delvan::rtl::TClass* ClassType() const override { return &StaticClass; }

// Casts obj to T when it is an instance of T (by its class descriptor).
template <class T>
T* ObjectAs(TObject* obj) {
  return obj && obj->InheritsFrom(&T::StaticClass) ? static_cast<T*>(obj) : nullptr;
}

// ---- Built-in types ----------------------------------------------------------

extern const TTypeInfo TypeInfo_Boolean;
extern const TTypeInfo TypeInfo_ShortInt;  // signed 8-bit
extern const TTypeInfo TypeInfo_Byte;
extern const TTypeInfo TypeInfo_SmallInt;
extern const TTypeInfo TypeInfo_Word;
extern const TTypeInfo TypeInfo_Integer;   // signed 32-bit
extern const TTypeInfo TypeInfo_Cardinal;  // unsigned 32-bit
extern const TTypeInfo TypeInfo_Int64;
extern const TTypeInfo TypeInfo_UInt64;
extern const TTypeInfo TypeInfo_Single;
extern const TTypeInfo TypeInfo_Double;
extern const TTypeInfo TypeInfo_Extended;
extern const TTypeInfo TypeInfo_Currency;
extern const TTypeInfo TypeInfo_Comp;       // a 64-bit integer kept in the floating-point unit
extern const TTypeInfo TypeInfo_Real;       // the second 64-bit float type
extern const TTypeInfo TypeInfo_TDateTime;  // a Double counting days since 1899-12-30
extern const TTypeInfo TypeInfo_Char;       // 8-bit character
extern const TTypeInfo TypeInfo_WideChar;
extern const TTypeInfo TypeInfo_UnicodeString;
extern const TTypeInfo TypeInfo_WideString;  // the COM wide string
extern const TTypeInfo TypeInfo_AnsiString;
extern const TTypeInfo TypeInfo_ShortString;  // length-prefixed, at most 255 characters
extern const TTypeInfo TypeInfo_Variant;
extern const TTypeInfo TypeInfo_OleVariant;  // the COM variant
// Boolean-like integers of 1, 2 and 4 bytes: any value other than 0 is true.
extern const TTypeInfo TypeInfo_ByteBool;
extern const TTypeInfo TypeInfo_WordBool;
extern const TTypeInfo TypeInfo_LongBool;

// The type information of a field type, for the property makers.
template <class T>
constexpr const TTypeInfo* TypeInfoOf() {
  if constexpr (std::is_same_v<T, bool>)
    return &TypeInfo_Boolean;
  else if constexpr (std::is_same_v<T, std::int8_t>)
    return &TypeInfo_ShortInt;
  else if constexpr (std::is_same_v<T, std::uint8_t>)
    return &TypeInfo_Byte;
  else if constexpr (std::is_same_v<T, std::int16_t>)
    return &TypeInfo_SmallInt;
  else if constexpr (std::is_same_v<T, std::uint16_t>)
    return &TypeInfo_Word;
  else if constexpr (std::is_same_v<T, std::int32_t>)
    return &TypeInfo_Integer;
  else if constexpr (std::is_same_v<T, std::uint32_t>)
    return &TypeInfo_Cardinal;
  else if constexpr (std::is_same_v<T, std::int64_t>)
    return &TypeInfo_Int64;
  else if constexpr (std::is_same_v<T, std::uint64_t>)
    return &TypeInfo_UInt64;
  else if constexpr (std::is_same_v<T, float>)
    return &TypeInfo_Single;
  else if constexpr (std::is_same_v<T, double>)
    return &TypeInfo_Double;
  else if constexpr (std::is_same_v<T, char16_t>)
    return &TypeInfo_WideChar;
  else if constexpr (std::is_same_v<T, UnicodeString>)
    return &TypeInfo_UnicodeString;
  else if constexpr (std::is_pointer_v<T> && std::is_base_of_v<TObject, std::remove_pointer_t<T>>)
    return &std::remove_pointer_t<T>::StaticClass.Info;
  else
    static_assert(sizeof(T) == 0, "no built-in type information for this field type");
}

namespace detail {
template <class M>
struct MemberTraits;
template <class C, class F>
struct MemberTraits<F C::*> {
  using Class = C;
  using Field = F;
};
}  // namespace detail

// A published property over a field (member pointer). type overrides the
// type information (enumerations, dynamic arrays, TDateTime fields).
template <auto Member>
constexpr TPropInfo MakeProp(std::u16string_view name, std::int32_t index = kNoIndex,
                             const TTypeInfo* type = nullptr) {
  using C = typename detail::MemberTraits<decltype(Member)>::Class;
  using F = typename detail::MemberTraits<decltype(Member)>::Field;
  TPropInfo p;
  p.Name = name;
  p.Index = index;
  p.FieldAddress = [](TObject* o) -> void* { return &(static_cast<C*>(o)->*Member); };
  if constexpr (std::is_same_v<F, UnicodeString>) {
    p.PropType = type ? type : &TypeInfo_UnicodeString;
    p.GetStr = [](const TObject* o) { return static_cast<const C*>(o)->*Member; };
    p.SetStr =
        p.FieldSetStr = [](TObject* o, const UnicodeString& v) { static_cast<C*>(o)->*Member = v; };
  } else if constexpr (std::is_pointer_v<F>) {
    using T = std::remove_pointer_t<F>;
    p.PropType = type ? type : &T::StaticClass.Info;
    p.GetObj = [](const TObject* o) -> TObject* { return static_cast<const C*>(o)->*Member; };
    p.SetObj = [](TObject* o, TObject* v) { static_cast<C*>(o)->*Member = static_cast<T*>(v); };
  } else if constexpr (std::is_floating_point_v<F>) {
    p.PropType = type ? type : TypeInfoOf<F>();
    p.GetFloat = [](const TObject* o) {
      return static_cast<double>(static_cast<const C*>(o)->*Member);
    };
    p.SetFloat = [](TObject* o, double v) { static_cast<C*>(o)->*Member = static_cast<F>(v); };
  } else if constexpr (std::is_integral_v<F> || std::is_enum_v<F>) {
    p.PropType = type ? type : TypeInfoOf<F>();
    p.GetOrd = [](const TObject* o) {
      return static_cast<std::int64_t>(static_cast<const C*>(o)->*Member);
    };
    p.SetOrd = [](TObject* o, std::int64_t v) { static_cast<C*>(o)->*Member = static_cast<F>(v); };
  } else {
    p.PropType = type;  // dynamic arrays and others: through FieldAddress
  }
  return p;
}

// The class descriptor of T: name, unit, parent, own properties and the
// interfaces T declares. T's virtual constructor is its default constructor
// unless T is abstract.
template <class T, class Parent>
constexpr TClass DefineClass(const TClass& self, std::u16string_view name, std::u16string_view unit,
                             std::span<const TPropInfo> props = {},
                             std::span<const TGUID> interfaces = {}) {
  TClass c{TTypeInfo{tkClass, name, unit, &self}, &Parent::StaticClass, nullptr, props, interfaces};
  if constexpr (!std::is_abstract_v<T> && std::is_default_constructible_v<T>)
    c.Create = []() -> TObject* { return new T(); };
  return c;
}

}  // namespace delvan::rtl

namespace delvan {
using rtl::TClass;
using rtl::TObject;
}  // namespace delvan
