// The request envelope writer of TOPToSoapDomConvert: one call of an
// invokable interface's method turned into the bytes of a request message.
#include "rtl/Exception.h"
#include "soap/InvokeRegistry.h"
#include "soap/OPToSOAPDomConv.h"
#include "soap/SOAPConst.h"
#include "soap/SOAPEnv.h"
#include "soap/TypeRegistry.h"
#include "xml/XMLDoc.h"

namespace delvan::soap {

using xml::IXMLNode;

namespace {

enum class TStyle { RpcEncoded, RpcLiteral, DocLiteral, DocEncoded };

TStyle StyleOf(TSOAPConvertOptions options) {
  const bool doc = options.Contains(soDocument), lit = options.Contains(soLiteralParams);
  if (doc) return lit ? TStyle::DocLiteral : TStyle::DocEncoded;
  return lit ? TStyle::RpcLiteral : TStyle::RpcEncoded;
}

// Parameter flags of the registry that the writer reads.
constexpr std::int32_t kParamUnqualified = 0x8;
constexpr std::int32_t kParamNamespaceAttr = 0x80;
constexpr std::int32_t kParamNotSent = 0x200;

// The prefix bound to ns in the scope of body; when none is (or only a
// default declaration), a generated one declared on body.
UnicodeString BodyPrefix(xml::IXMLDocument* doc, IXMLNode* body, const UnicodeString& ns) {
  if (IntfPtr<IXMLNode> decl = body->FindNamespaceDecl(ns)) {
    const UnicodeString name = decl->GetNodeName();
    if (xml::ExtractPrefix(name) == u"xmlns") return xml::ExtractLocalName(name);
  }
  UnicodeString prefix = doc->GeneratePrefix(body);
  UnicodeString attr = u"xmlns:";
  attr += prefix;
  body->SetAttributeNS(attr, UnicodeString(xml::kXMLNSNamespaceURI), Variant(ns));
  return prefix;
}

// Clears the multi-reference state when the request is done, also on failure.
class TMultiRefReset {
 public:
  explicit TMultiRefReset(TSOAPDomConv& conv) : FConv(conv) {}
  ~TMultiRefReset() { FConv.ResetMultiRef(); }
  TMultiRefReset(const TMultiRefReset&) = delete;
  TMultiRefReset& operator=(const TMultiRefReset&) = delete;

 private:
  TSOAPDomConv& FConv;
};

}  // namespace

std::unique_ptr<TStream> TOPToSoapDomConvert::InvContextToMsg(const TIntfMetaData& IntfMD,
                                                              int MethNum, TInvContext* Context,
                                                              THeaderList* Headers) {
  // Checked here: an index past the metadata would read outside it.
  if (MethNum < 0 || static_cast<std::size_t>(MethNum) >= IntfMD.MDA.size())
    throw EListError(u"List index out of bounds (%d)", {MethNum});
  const TIntfMethEntry& methMD = IntfMD.MDA[static_cast<std::size_t>(MethNum)];
  const TStyle style = StyleOf(FOptions);
  const bool literal = style != TStyle::RpcEncoded && style != TStyle::DocEncoded;

  IntfPtr<xml::IXMLDocument> doc = xml::NewXMLDocument(u"1.0");
  doc->SetEncoding(FEncoding);
  IntfPtr<IXMLNode> envelope = FEnvelope->MakeEnvelope(doc.get(), FOptions);
  FIDs = 1;
  FAttachments.clear();

  {
    TMultiRefReset reset(*this);
    TWriterCacheScope cache(*this);
    if (Headers && Headers->Count() > 0) {
      IntfPtr<IXMLNode> header = FEnvelope->MakeHeader(envelope.get(), FOptions);
      for (std::size_t i = 0; i < Headers->Count(); ++i)
        WriteHeader(Headers->GetHeader(i), header.get(), header.get());
    }

    IntfPtr<IXMLNode> body = FEnvelope->MakeBody(envelope.get(), FOptions);
    TInvokableClassRegistry& inv = InvRegistry();
    UnicodeString opNS = inv.GetNamespaceByGUID(IntfMD.IID);
    const UnicodeString opName = inv.GetMethExternalName(IntfMD.Info, methMD.Name);

    IntfPtr<IXMLNode> opNode;
    if (style == TStyle::RpcEncoded) {
      UnicodeString qname = BodyPrefix(doc.get(), body.get(), opNS);
      qname += u':';
      qname += opName;
      opNode = body->AddChild(qname, opNS, false);
      opNode->SetAttributeNS(
          UnicodeString(SSoapEncodingAttr),
          UnicodeString(SOAPEnvelopeNamespaces[FOptions.Contains(soSOAP12) ? 1 : 0]),
          Variant(UnicodeString(SOAPEncodingNamespaces[FOptions.Contains(soSOAP12) ? 1 : 0])));
    } else {
      const TMethodRegInfo methInfo = inv.GetMethodInfo(IntfMD.Info, methMD.Name);
      UnicodeString requestNS;
      if (!methInfo.ReturnName.empty() && methInfo.ReturnName[0] == u'[' &&
          GetRegInfo(methInfo.ReturnName, iaMethRequestNamespace, requestNS))
        opNS = requestNS;
      if (style == TStyle::DocLiteral)
        opNode = body;
      else
        opNode = body->AddChild(opName, opNS, false);
    }

    TRemotableTypeRegistry& rem = RemTypeRegistry();
    for (std::size_t i = 0; i < methMD.Params.size(); ++i) {
      const TIntfParamEntry& param = methMD.Params[i];
      if (param.Flags & rtl::pfOut) continue;
      TParamRegInfo reg = inv.GetParamInfo(IntfMD.Info, methMD.Name, param.Name);
      if (reg.XMLOptions & kParamNotSent) continue;
      // Named as the metadata names the interface, without its unit.
      if (!param.Info)
        throw EInterfaceRTTIException(u"Parameter %s on Method %s of Interface %s has no RTTI",
                                      {param.Name, methMD.Name, IntfMD.Name});
      void* data = Context ? Context->GetParamPointer(i) : nullptr;
      // A missing argument would be read through a null pointer.
      if (!data) throw ESOAPDomConvertError(u"Parameter %s has no value to send", {param.Name});

      // The answer is this parameter's alone: its texts are taken, not copied.
      UnicodeString name = std::move(reg.ExtName), uri, typeName;
      switch (style) {
        case TStyle::RpcLiteral:
          typeName = std::move(reg.InfoString);
          break;
        case TStyle::RpcEncoded: {
          UnicodeString xsdName;
          if (!rem.TypeInfoToXSD(param.Info, uri, xsdName))
            throw ESOAPDomConvertError(u"Remotable Type %s not registered", {param.Info->Name});
          break;
        }
        case TStyle::DocLiteral:
          if (!rem.TypeInfoToXSD(param.Info, uri, name))
            throw ESOAPDomConvertError(u"Remotable Type %s not registered", {param.Info->Name});
          break;
        case TStyle::DocEncoded: {
          UnicodeString attrNS;
          if (reg.XMLOptions & kParamUnqualified)
            uri.clear();
          else if (reg.XMLOptions & kParamNamespaceAttr)
            GetRegInfo(reg.InfoString, iaNamespace, uri);
          else
            uri = opNS;
          typeName = std::move(reg.InfoString);
          if (typeName.empty() && !(reg.XMLOptions & kParamUnqualified)) typeName = uri;
          break;
        }
      }
      ConvertNativeDataToSoap2(body.get(), opNode.get(), name, uri, typeName, param.Info, data,
                               reg.XMLOptions);
    }
    if (!literal) FinalizeMultiRefNodes(body.get());
  }

  auto stream = std::make_unique<TMemoryStream>();
  doc->SaveToStream(*stream);
  stream->Seek(0, TSeekOrigin::soEnd);
  return stream;
}

void TOPToSoapDomConvert::WriteHeader(TSOAPHeader* Header, IXMLNode* RootNode,
                                      IXMLNode* ParentNode) {
  FOptions.Include(soXXXXHdr);
  struct TRemoveHdr {
    TSOAPConvertOptions& Options;
    ~TRemoveHdr() { Options.Exclude(soXXXXHdr); }
  } remove{FOptions};
  const TClass* cls = Header->ClassType();
  const UnicodeString *uri, *name;
  if (!RemTypeRegistry().TypeInfoToXSD(&cls->Info, uri, name))
    throw ESOAPDomConvertError(u"Remotable Type %s not registered", {cls->ClassName()});
  TObject* obj = Header;
  ConvertNativeDataToSoap(RootNode, ParentNode, UnicodeString(cls->ClassName()), *uri, &cls->Info,
                          &obj, 0);
}

}  // namespace delvan::soap
