#include "rtl/DynArrayTypes.h"

namespace delvan::rtl {

namespace {
constexpr std::u16string_view kUnit = u"System.Types";

constinit const TDynArrayTypeData kIntegerData =
    MakeDynArrayData<TIntegerDynArray>(&TypeInfo_Integer);
constinit const TDynArrayTypeData kCardinalData =
    MakeDynArrayData<TCardinalDynArray>(&TypeInfo_Cardinal);
constinit const TDynArrayTypeData kWordData = MakeDynArrayData<TWordDynArray>(&TypeInfo_Word);
constinit const TDynArrayTypeData kSmallIntData =
    MakeDynArrayData<TSmallIntDynArray>(&TypeInfo_SmallInt);
constinit const TDynArrayTypeData kByteData = MakeDynArrayData<TByteDynArray>(&TypeInfo_Byte);
constinit const TDynArrayTypeData kShortIntData =
    MakeDynArrayData<TShortIntDynArray>(&TypeInfo_ShortInt);
constinit const TDynArrayTypeData kInt64Data = MakeDynArrayData<TInt64DynArray>(&TypeInfo_Int64);
constinit const TDynArrayTypeData kLongWordData =
    MakeDynArrayData<TLongWordDynArray>(&TypeInfo_Cardinal);
constinit const TDynArrayTypeData kSingleData = MakeDynArrayData<TSingleDynArray>(&TypeInfo_Single);
constinit const TDynArrayTypeData kDoubleData = MakeDynArrayData<TDoubleDynArray>(&TypeInfo_Double);
constinit const TDynArrayTypeData kBooleanData =
    MakeDynArrayData<TBooleanDynArray>(&TypeInfo_Boolean);
constinit const TDynArrayTypeData kStringData =
    MakeDynArrayData<TStringDynArray>(&TypeInfo_UnicodeString);
constinit const TDynArrayTypeData kWideStringData =
    MakeDynArrayData<TWideStringDynArray>(&TypeInfo_WideString);
}  // namespace

constinit const TTypeInfo TypeInfo_TIntegerDynArray{tkDynArray, u"TIntegerDynArray", kUnit,
                                                    &kIntegerData};
constinit const TTypeInfo TypeInfo_TCardinalDynArray{tkDynArray, u"TCardinalDynArray", kUnit,
                                                     &kCardinalData};
constinit const TTypeInfo TypeInfo_TWordDynArray{tkDynArray, u"TWordDynArray", kUnit, &kWordData};
constinit const TTypeInfo TypeInfo_TSmallIntDynArray{tkDynArray, u"TSmallIntDynArray", kUnit,
                                                     &kSmallIntData};
constinit const TTypeInfo TypeInfo_TByteDynArray{tkDynArray, u"TByteDynArray", kUnit, &kByteData};
constinit const TTypeInfo TypeInfo_TShortIntDynArray{tkDynArray, u"TShortIntDynArray", kUnit,
                                                     &kShortIntData};
constinit const TTypeInfo TypeInfo_TInt64DynArray{tkDynArray, u"TInt64DynArray", kUnit,
                                                  &kInt64Data};
constinit const TTypeInfo TypeInfo_TLongWordDynArray{tkDynArray, u"TLongWordDynArray", kUnit,
                                                     &kLongWordData};
constinit const TTypeInfo TypeInfo_TSingleDynArray{tkDynArray, u"TSingleDynArray", kUnit,
                                                   &kSingleData};
constinit const TTypeInfo TypeInfo_TDoubleDynArray{tkDynArray, u"TDoubleDynArray", kUnit,
                                                   &kDoubleData};
constinit const TTypeInfo TypeInfo_TBooleanDynArray{tkDynArray, u"TBooleanDynArray", kUnit,
                                                    &kBooleanData};
constinit const TTypeInfo TypeInfo_TStringDynArray{tkDynArray, u"TStringDynArray", kUnit,
                                                   &kStringData};
constinit const TTypeInfo TypeInfo_TWideStringDynArray{tkDynArray, u"TWideStringDynArray", kUnit,
                                                       &kWideStringData};

}  // namespace delvan::rtl
