// TRemotable: the base of every object that travels in a SOAP message, with
// its data context, its serialization options and the two operations by
// which it writes itself into XML and reads itself back.
#pragma once

#include <cstdint>

#include "rtl/Set.h"
#include "rtl/TypInfo.h"
#include "soap/ObjConverter.h"

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

  // Writes the object under ParentNode. The default clears RefID and hands
  // the whole job to ObjConverter's ObjInstanceToSOAP; a class that writes
  // itself differently overrides it. The returned element (possibly none)
  // lives in ParentNode's document.
  virtual IntfPtr<xml::IXMLNode> ObjectToSOAP(
      xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode, IObjConverter* ObjConverter,
      const UnicodeString& NodeName, const UnicodeString& NodeNamespace,
      const UnicodeString& ChildNamespace, TObjectConvertOptions ObjConvOpts, UnicodeString& RefID);
  // Reads the object from Node. The default hands the job to
  // ObjConverter's InitObjectFromSOAP.
  virtual void SOAPToObject(xml::IXMLNode* RootNode, xml::IXMLNode* Node,
                            IObjConverter* ObjConverter);

 protected:
  TDataContext* FDataContext = nullptr;
  TSerializationOptions FSerializationOptions;
};

}  // namespace delvan::soap
