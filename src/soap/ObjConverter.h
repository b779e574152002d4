// The converter as the objects that travel see it: IObjConverter, through
// which an object writes itself into XML and reads itself back, with the
// option sets of the converter and of one object conversion.
#pragma once

#include <cstdint>

#include "rtl/Interface.h"
#include "rtl/Set.h"
#include "rtl/TypInfo.h"

namespace delvan::xml {
class IXMLNode;
}

namespace delvan::soap {

class TSOAPAttachment;

// Options of a converter, one 32-bit word of 18 members.
enum TSOAPConvertOption : std::uint8_t {
  soSendUntyped,
  soSendMultiRefObj,
  soSendMultiRefArray,
  soTryAllSchema,
  soRootRefNodesToBody,
  soDocument,
  soReturnSuccessForFault,
  soUTF8InHeader,
  soDontSendEmptyNodes,
  soCacheMimeResponse,
  soDontClearOutBoundHeaders,
  soCustomFaultAtDetailsNode,
  soLiteralParams,
  soUTF8EncodeXML,
  soXXXXHdr,
  soFormElementUnqualifed,
  soSOAP12,
  soDontSendVarArrayType,
};
using TSOAPConvertOptions = TSet<TSOAPConvertOption>;

// Options of one object conversion.
enum ObjectConvertOption : std::uint8_t {
  ocoDontPrefixNode,
  ocoDontSerializeProps,
  ocoDontPutTypeAttr,
};
using TObjectConvertOptions = TSet<ObjectConvertOption>;

class IObjConverter : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3C0D5E7A-92B1-4D6F-8E24-7A51C0F9B6D2}");

  // Writes Instance and its published properties as an element named
  // NodeName in NodeNamespace under ParentNode (RootNode is the element
  // that takes generated declarations) and returns the element. RefID
  // receives the reference id handed out for the object.
  virtual IntfPtr<xml::IXMLNode> ObjInstanceToSOAP(TObject* Instance, xml::IXMLNode* RootNode,
                                                   xml::IXMLNode* ParentNode,
                                                   const UnicodeString& NodeName,
                                                   const UnicodeString& NodeNamespace,
                                                   const UnicodeString& ChildNamespace,
                                                   TObjectConvertOptions ObjConvOpts,
                                                   UnicodeString& RefID) = 0;
  // Fills Instance's published properties from Node.
  virtual void InitObjectFromSOAP(TObject* Instance, xml::IXMLNode* RootNode,
                                  xml::IXMLNode* Node) = 0;
  // The converter lists the attachment without owning it.
  virtual void AddAttachment(TSOAPAttachment* Attachment, const UnicodeString& AContentId) = 0;
  // The attachment listed under that content id, or null.
  virtual TSOAPAttachment* FindAttachment(const UnicodeString& AContentId) = 0;
  virtual void ResetMultiRef() = 0;
  virtual TSOAPConvertOptions GetOptions() = 0;

 protected:
  ~IObjConverter() = default;
};

}  // namespace delvan::soap
