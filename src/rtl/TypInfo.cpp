#include "rtl/TypInfo.h"

#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace delvan::rtl {

std::u16string_view TypeKindName(TTypeKind kind) {
  static constexpr std::u16string_view kNames[] = {
      u"Unknown", u"Integer",   u"Char",  u"Enumeration", u"Float",   u"String",  u"Set",
      u"Class",   u"Method",    u"WChar", u"LString",     u"WString", u"Variant", u"Array",
      u"Record",  u"Interface", u"Int64", u"DynArray",    u"UString"};
  return kind < std::size(kNames) ? kNames[kind] : kNames[0];
}

namespace {
template <class D>
const D* DataIf(const TTypeInfo* t, bool ok) {
  return ok ? static_cast<const D*>(t->Data) : nullptr;
}
}  // namespace

const TOrdinalTypeData* TTypeInfo::Ordinal() const {
  return DataIf<TOrdinalTypeData>(
      this, Kind == tkInteger || Kind == tkChar || Kind == tkWChar || Kind == tkEnumeration);
}
const TFloatTypeData* TTypeInfo::Float() const {
  return DataIf<TFloatTypeData>(this, Kind == tkFloat);
}
const TInt64TypeData* TTypeInfo::Int64() const {
  return DataIf<TInt64TypeData>(this, Kind == tkInt64);
}
const TShortStringTypeData* TTypeInfo::ShortString() const {
  return DataIf<TShortStringTypeData>(this, Kind == tkString);
}
const TSetTypeData* TTypeInfo::SetData() const { return DataIf<TSetTypeData>(this, Kind == tkSet); }
const TClass* TTypeInfo::Class() const { return DataIf<TClass>(this, Kind == tkClass); }
const TInterfaceTypeData* TTypeInfo::Interface() const {
  return DataIf<TInterfaceTypeData>(this, Kind == tkInterface);
}
const TDynArrayTypeData* TTypeInfo::DynArray() const {
  return DataIf<TDynArrayTypeData>(this, Kind == tkDynArray);
}

bool TClass::InheritsFrom(const TClass* ancestor) const {
  for (const TClass* c = this; c; c = c->Parent)
    if (c == ancestor) return true;
  return false;
}

const std::vector<const TPropInfo*>& GetPropList(const TClass* cls) {
  // Asked for every object read, written or shown: one list per class,
  // built on first use and never dropped, read under a shared lock.
  static std::shared_mutex lock;
  static std::unordered_map<const TClass*, std::vector<const TPropInfo*>> lists;
  {
    std::shared_lock read(lock);
    const auto it = lists.find(cls);
    if (it != lists.end()) return it->second;
  }
  std::vector<const TClass*> chain;
  for (const TClass* c = cls; c; c = c->Parent) chain.push_back(c);
  std::vector<const TPropInfo*> props;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (const TPropInfo& p : (*it)->Props) props.push_back(&p);
  std::unique_lock write(lock);
  return lists.try_emplace(cls, std::move(props)).first->second;
}

const TPropInfo* GetPropInfo(const TClass* cls, std::u16string_view name) {
  for (const TClass* c = cls; c; c = c->Parent)
    for (const TPropInfo& p : c->Props)
      if (p.Name == name) return &p;
  return nullptr;
}

constinit const TClass TObject::StaticClass{
    TTypeInfo{tkClass, u"TObject", u"System", &TObject::StaticClass},
    nullptr,
    []() -> TObject* { return new TObject(); },
    {},
    {}};

// ---- Built-in types ----------------------------------------------------------

namespace {
constexpr TOrdinalTypeData Ord(TOrdType type, std::int64_t min, std::int64_t max) {
  TOrdinalTypeData d;
  d.OrdType = type;
  d.MinValue = min;
  d.MaxValue = max;
  return d;
}

constexpr std::u16string_view kBooleanNames[] = {u"False", u"True"};

constinit const TOrdinalTypeData kBoolean{otUByte, 0, 1, &TypeInfo_Boolean, kBooleanNames};
constinit const TOrdinalTypeData kShortInt = Ord(otSByte, INT8_MIN, INT8_MAX);
constinit const TOrdinalTypeData kByte = Ord(otUByte, 0, UINT8_MAX);
constinit const TOrdinalTypeData kSmallInt = Ord(otSWord, INT16_MIN, INT16_MAX);
constinit const TOrdinalTypeData kWord = Ord(otUWord, 0, UINT16_MAX);
constinit const TOrdinalTypeData kInteger = Ord(otSLong, INT32_MIN, INT32_MAX);
constinit const TOrdinalTypeData kCardinal = Ord(otULong, 0, UINT32_MAX);
constinit const TOrdinalTypeData kChar = Ord(otUByte, 0, UINT8_MAX);
constinit const TOrdinalTypeData kWideChar = Ord(otUWord, 0, UINT16_MAX);
constinit const TInt64TypeData kInt64{INT64_MIN, INT64_MAX};
constinit const TInt64TypeData kUInt64{0, -1};
constinit const TFloatTypeData kSingle{ftSingle};
constinit const TFloatTypeData kDouble{ftDouble};
constinit const TFloatTypeData kExtended{ftExtended};
constinit const TFloatTypeData kCurrency{ftCurr};
constinit const TFloatTypeData kComp{ftComp};
constinit const TShortStringTypeData kShortString{255};
constinit const TOrdinalTypeData kByteBool{otUByte, 0, 1, &TypeInfo_ByteBool, kBooleanNames};
constinit const TOrdinalTypeData kWordBool{otUWord, 0, 1, &TypeInfo_WordBool, kBooleanNames};
constinit const TOrdinalTypeData kLongBool{otULong, 0, 1, &TypeInfo_LongBool, kBooleanNames};

constexpr TMethodInfo kIInterfaceMethods[] = {
    {u"QueryInterface", ccStdCall, {}, &TypeInfo_Integer},
    {u"_AddRef", ccStdCall, {}, &TypeInfo_Integer},
    {u"_Release", ccStdCall, {}, &TypeInfo_Integer},
};
constinit const TInterfaceTypeData kIInterface{nullptr, IInterface::IID, true, kIInterfaceMethods};
constinit const TInterfaceTypeData kIInvokable{&TypeInfo_IInterface, IInvokable::IID, true, {}};
}  // namespace

constinit const TTypeInfo TypeInfo_Boolean{tkEnumeration, u"Boolean", u"System", &kBoolean};
constinit const TTypeInfo TypeInfo_ShortInt{tkInteger, u"ShortInt", u"System", &kShortInt};
constinit const TTypeInfo TypeInfo_Byte{tkInteger, u"Byte", u"System", &kByte};
constinit const TTypeInfo TypeInfo_SmallInt{tkInteger, u"SmallInt", u"System", &kSmallInt};
constinit const TTypeInfo TypeInfo_Word{tkInteger, u"Word", u"System", &kWord};
constinit const TTypeInfo TypeInfo_Integer{tkInteger, u"Integer", u"System", &kInteger};
constinit const TTypeInfo TypeInfo_Cardinal{tkInteger, u"Cardinal", u"System", &kCardinal};
constinit const TTypeInfo TypeInfo_Int64{tkInt64, u"Int64", u"System", &kInt64};
constinit const TTypeInfo TypeInfo_UInt64{tkInt64, u"UInt64", u"System", &kUInt64};
constinit const TTypeInfo TypeInfo_Single{tkFloat, u"Single", u"System", &kSingle};
constinit const TTypeInfo TypeInfo_Double{tkFloat, u"Double", u"System", &kDouble};
constinit const TTypeInfo TypeInfo_Extended{tkFloat, u"Extended", u"System", &kExtended};
constinit const TTypeInfo TypeInfo_Currency{tkFloat, u"Currency", u"System", &kCurrency};
constinit const TTypeInfo TypeInfo_Comp{tkFloat, u"Comp", u"System", &kComp};
constinit const TTypeInfo TypeInfo_Real{tkFloat, u"Real", u"System", &kDouble};
constinit const TTypeInfo TypeInfo_TDateTime{tkFloat, u"TDateTime", u"System", &kDouble};
constinit const TTypeInfo TypeInfo_Char{tkChar, u"AnsiChar", u"System", &kChar};
constinit const TTypeInfo TypeInfo_WideChar{tkWChar, u"WideChar", u"System", &kWideChar};
constinit const TTypeInfo TypeInfo_UnicodeString{tkUString, u"UnicodeString", u"System"};
constinit const TTypeInfo TypeInfo_WideString{tkWString, u"WideString", u"System"};
constinit const TTypeInfo TypeInfo_AnsiString{tkLString, u"AnsiString", u"System"};
constinit const TTypeInfo TypeInfo_ShortString{tkString, u"ShortString", u"System", &kShortString};
constinit const TTypeInfo TypeInfo_Variant{tkVariant, u"Variant", u"System"};
constinit const TTypeInfo TypeInfo_OleVariant{tkVariant, u"OleVariant", u"System"};
constinit const TTypeInfo TypeInfo_ByteBool{tkEnumeration, u"ByteBool", u"System", &kByteBool};
constinit const TTypeInfo TypeInfo_WordBool{tkEnumeration, u"WordBool", u"System", &kWordBool};
constinit const TTypeInfo TypeInfo_LongBool{tkEnumeration, u"LongBool", u"System", &kLongBool};
constinit const TTypeInfo TypeInfo_IInterface{tkInterface, u"IInterface", u"System", &kIInterface};
constinit const TTypeInfo TypeInfo_IInvokable{tkInterface, u"IInvokable", u"System", &kIInvokable};

}  // namespace delvan::rtl
