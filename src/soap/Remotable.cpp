#include "soap/Remotable.h"

#include "xml/XMLDoc.h"

namespace delvan::soap {

namespace {
constexpr std::u16string_view kOptionNames[] = {u"xoHolderClass",       u"xoAttributeOnLastMember",
                                                u"xoInlineArrays",      u"xoLiteralParam",
                                                u"xoSimpleTypeWrapper", u"xoOption6",
                                                u"xoOption7",           u"xoOption8",
                                                u"xoOption9",           u"xoOptionA",
                                                u"xoOptionB",           u"xoOptionC",
                                                u"xoOptionD",           u"xoOptionE",
                                                u"xoOptionF",           u"xoOptionG",
                                                u"xoOptionH",           u"xoOptionI"};

constexpr rtl::TOrdinalTypeData MakeOptionsData() {
  rtl::TOrdinalTypeData d;
  d.OrdType = rtl::otUByte;
  d.MinValue = 0;
  d.MaxValue = std::size(kOptionNames) - 1;
  d.BaseType = &TypeInfo_SerializationOptions;
  d.Names = kOptionNames;
  return d;
}
constinit const rtl::TOrdinalTypeData kOptionsData = MakeOptionsData();
constinit const rtl::TSetTypeData kOptionsSetData{&TypeInfo_SerializationOptions};
}  // namespace

constinit const rtl::TTypeInfo TypeInfo_SerializationOptions{
    rtl::tkEnumeration, u"SerializationOptions", u"Soap.InvokeRegistry", &kOptionsData};
constinit const rtl::TTypeInfo TypeInfo_TSerializationOptions{
    rtl::tkSet, u"TSerializationOptions", u"Soap.InvokeRegistry", &kOptionsSetData};

UnicodeString SerializationOptionsToText(TSerializationOptions options) {
  UnicodeString text = u"[";
  bool first = true;
  for (std::size_t i = 0; i < std::size(kOptionNames); ++i) {
    if (!options.Contains(static_cast<soap::SerializationOptions>(i))) continue;
    if (!first) text += u',';
    text += kOptionNames[i];
    first = false;
  }
  text += u']';
  return text;
}

IntfPtr<xml::IXMLNode> TRemotable::ObjectToSOAP(
    xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode, IObjConverter* ObjConverter,
    const UnicodeString& NodeName, const UnicodeString& NodeNamespace,
    const UnicodeString& ChildNamespace, TObjectConvertOptions ObjConvOpts, UnicodeString& RefID) {
  RefID.clear();
  return ObjConverter->ObjInstanceToSOAP(this, RootNode, ParentNode, NodeName, NodeNamespace,
                                         ChildNamespace, ObjConvOpts, RefID);
}

void TRemotable::SOAPToObject(xml::IXMLNode* RootNode, xml::IXMLNode* Node,
                              IObjConverter* ObjConverter) {
  ObjConverter->InitObjectFromSOAP(this, RootNode, Node);
}

constinit const TClass TRemotable::StaticClass = rtl::DefineClass<TRemotable, TObject>(
    TRemotable::StaticClass, u"TRemotable", u"Soap.InvokeRegistry");

}  // namespace delvan::soap
