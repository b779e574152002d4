// TRemotable: the base of every object that travels in a SOAP message, with
// its data context and its serialization options.
#pragma once

#include <cstdint>

#include "rtl/Set.h"
#include "rtl/TypInfo.h"

namespace delvan::soap {

// Serialization options of a class or of an instance.
enum SerializationOptions : std::uint8_t {
  xoHolderClass,
  xoAttributeOnLastMember,
  xoInlineArrays,
  xoLiteralParam,
  xoSimpleTypeWrapper,
  xoOption6,
  xoOption7,
  xoOption8,
  xoOption9,
  xoOptionA,
  xoOptionB,
  xoOptionC,
  xoOptionD,
  xoOptionE,
  xoOptionF,
  xoOptionG,
  xoOptionH,
  xoOptionI,
};
using TSerializationOptions = TSet<SerializationOptions>;

extern const rtl::TTypeInfo TypeInfo_SerializationOptions;   // the enumeration
extern const rtl::TTypeInfo TypeInfo_TSerializationOptions;  // the set

// "[" + the names of the members in ordinal order joined by "," + "]".
UnicodeString SerializationOptionsToText(TSerializationOptions options);

class TDataContext;

class TRemotable : public TObject {
  DELVAN_CLASS()

 public:
  TRemotable() = default;
  TRemotable(const TRemotable&) = delete;
  TRemotable& operator=(const TRemotable&) = delete;
  ~TRemotable() override = default;

  // Only records the context; the object never owns or frees it.
  void SetDataContext(TDataContext* value) { FDataContext = value; }
  TDataContext* DataContext() const { return FDataContext; }

  TSerializationOptions SerializationOptions() const { return FSerializationOptions; }
  void SetSerializationOptions(TSerializationOptions value) { FSerializationOptions = value; }

 protected:
  TDataContext* FDataContext = nullptr;
  TSerializationOptions FSerializationOptions;
};

}  // namespace delvan::soap
