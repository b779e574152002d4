// The response envelope reader of TOPToSoapDomConvert: loads the response,
// checks the envelope, handles its headers, and either raises its fault or
// stores the response element's children in the call's arguments.
#include <memory>

#include "soap/InvokeRegistry.h"
#include "soap/OPToSOAPDomConv.h"
#include "soap/RemotableException.h"
#include "soap/SOAPConst.h"
#include "soap/SOAPEnv.h"
#include "soap/TypeRegistry.h"
#include "xml/XMLDoc.h"

namespace delvan::soap {

using xml::IXMLNode;
using xml::IXMLNodeList;

namespace {

constexpr UnicodeStringView kSOAP12RPCNamespace = u"http://www.w3.org/2003/05/soap-rpc";

bool IsElement(IXMLNode* n) { return n && n->GetNodeType() == xml::ntElement; }

std::vector<IntfPtr<IXMLNode>> ElementChildren(IXMLNode* node) {
  std::vector<IntfPtr<IXMLNode>> out;
  IntfPtr<IXMLNodeList> kids = node->GetChildNodes();
  const std::int32_t n = kids->GetCount();
  out.reserve(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    IntfPtr<IXMLNode> k = kids->Get(i);
    if (IsElement(k.get())) out.push_back(std::move(k));
  }
  return out;
}

IntfPtr<IXMLNode> FirstElementChild(IXMLNode* node) {
  IntfPtr<IXMLNodeList> kids = node->GetChildNodes();
  const std::int32_t n = kids->GetCount();
  for (std::int32_t i = 0; i < n; ++i) {
    IntfPtr<IXMLNode> k = kids->Get(i);
    if (IsElement(k.get())) return k;
  }
  return {};
}

// Splits a list of names separated by ";" or ",".
std::vector<UnicodeString> SplitNames(const UnicodeString& list) {
  std::vector<UnicodeString> names;
  UnicodeString cur;
  for (char16_t c : list) {
    if (c == u';' || c == u',') {
      names.push_back(rtl::Trim(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  names.push_back(rtl::Trim(cur));
  return names;
}

// Empties the reader's per-response state on entry and on every exit.
class TReadingScope {
 public:
  explicit TReadingScope(TSOAPDomConv& conv) : FConv(conv) { FConv.ResetReadingState(); }
  ~TReadingScope() {
    FConv.ResetReadingState();
    FConv.ResetMultiRef();
  }
  TReadingScope(const TReadingScope&) = delete;
  TReadingScope& operator=(const TReadingScope&) = delete;

 private:
  TSOAPDomConv& FConv;
};

}  // namespace

void TOPToSoapDomConvert::ProcessResponse(TStream& Resp, const TIntfMetaData& IntfMD,
                                          const TIntfMethEntry& MethMD, TInvContext* Context,
                                          THeaderList* Headers) {
  Resp.SetPosition(0);
  IntfPtr<xml::IXMLDocument> doc = xml::NewXMLDocument(u"1.0");
  if (!FEncoding.empty()) doc->SetEncoding(FEncoding);
  doc->LoadFromStream(Resp, xml::xetUnknown);
  ProcessResponse(doc.get(), IntfMD, MethMD, Context, Headers);
}

void TOPToSoapDomConvert::ProcessResponse(const UnicodeString& Resp, const TIntfMetaData& IntfMD,
                                          const TIntfMethEntry& MethMD, TInvContext* Context) {
  IntfPtr<xml::IXMLDocument> doc = xml::NewXMLDocument(u"1.0");
  if (!FEncoding.empty()) doc->SetEncoding(FEncoding);
  doc->LoadFromXML(Resp);
  ProcessResponse(doc.get(), IntfMD, MethMD, Context, nullptr);
}

void TOPToSoapDomConvert::ProcessResponse(xml::IXMLDocument* Doc, const TIntfMetaData& IntfMD,
                                          const TIntfMethEntry& MethMD, TInvContext* Context,
                                          THeaderList* Headers) {
  TReadingScope scope(*this);
  IntfPtr<IXMLNode> env = Doc->GetDocumentElement();
  if (!env) throw ESOAPDomConvertError(u"Invalid SOAP Response");
  const UnicodeString envNs = env->GetNamespaceURI();
  if (env->GetLocalName() != SSoapEnvelope ||
      !(xml::SameNamespace(envNs, SOAPEnvelopeNamespaces[0]) ||
        xml::SameNamespace(envNs, SOAPEnvelopeNamespaces[1])))
    throw ESOAPDomConvertError(u"DocumentElement %s:%s expected, %s:%s found",
                               {SOAPEnvelopeNamespaces[FOptions.Contains(soSOAP12) ? 1 : 0],
                                SSoapEnvelope, envNs, env->GetLocalName()});
  if (!env->GetHasChildNodes()) throw ESOAPDomConvertError(u"Invalid SOAP response");

  // A second Header or Body is refused before anything of the message is
  // used, so that no argument is filled from a message that is then refused.
  IntfPtr<IXMLNode> header, body;
  const std::vector<IntfPtr<IXMLNode>> envChildren = ElementChildren(env.get());
  for (const IntfPtr<IXMLNode>& child : envChildren) {
    const UnicodeString local = child->GetLocalName();
    IntfPtr<IXMLNode>* slot = local == SSoapHeader ? &header : local == SSoapBody ? &body : nullptr;
    if (!slot) continue;
    if (*slot) throw ESOAPDomConvertError(u"Invalid SOAP response");
    *slot = child;
  }
  for (const IntfPtr<IXMLNode>& child : envChildren) {
    if (child.get() == header.get()) {
      for (IntfPtr<IXMLNode>& h : ElementChildren(header.get()))
        ReadHeader(env.get(), h.get(), Headers);
    } else if (child.get() == body.get()) {
      IntfPtr<IXMLNode> resp;
      if (FOptions.Contains(soDocument) && FOptions.Contains(soLiteralParams)) {
        IntfPtr<IXMLNode> first = FirstElementChild(body.get());
        resp = first && first->GetLocalName() == SSoapFault ? first : body;
      } else {
        resp = FirstElementChild(body.get());
      }
      if (!resp) continue;
      if (resp->GetLocalName() == SSoapFault) ProcessFault(resp.get());
      ProcessSuccess(resp.get(), IntfMD, MethMD, Context);
    }
  }
}

void TOPToSoapDomConvert::ReadHeader(IXMLNode* EnvNode, IXMLNode* HeaderNode,
                                     THeaderList* Headers) {
  IntfPtr<IXMLNode> node = GetDataNode(EnvNode, HeaderNode);
  const UnicodeString local = node->GetLocalName();
  const UnicodeString ns = node->GetNamespaceURI();
  if (const TClass* cls = InvRegistry().GetHeaderClass(local, ns)) {
    std::unique_ptr<TObject> obj(cls->NewInstance());
    if (!rtl::ObjectAs<TSOAPHeader>(obj.get())) return;
    LoadObject(obj.get(), EnvNode, node.get());
    if (Headers) Headers->Add(static_cast<TSOAPHeader*>(obj.release()));
    return;
  }
  bool handled = false, abortRequest = false;
  if (IDOMHeaderProcessor* proc = FindHeaderProcessor(ns, local, {})) {
    proc->ProcessHeader(node.get(), handled, abortRequest);
  } else {
    if (OnUnhandledNode) OnUnhandledNode(Format(u"%s:%s", {ns, local}), node->GetXML());
    DefaultProcessHeader(node.get(), handled, abortRequest);
  }
  if (abortRequest) throw ESOAPDomConvertError(u"Error Processing Header (%s)%s", {ns, local});
}

void TOPToSoapDomConvert::DefaultProcessHeader(IXMLNode* HeaderNode, bool&, bool&) {
  // The attribute is looked up by its full name: a prefixed one is not seen.
  if (!HeaderNode->HasAttribute(u"mustUnderstand")) return;
  const UnicodeString v = HeaderNode->GetAttribute(u"mustUnderstand").ToString();
  if (v == u"1" || rtl::SameTextAscii(v, u"true"))
    throw ERemotableException(
        Format(u"Soap header %s with attribute 'mustUnderstand' set to true was not handled",
               {HeaderNode->GetLocalName()}),
        u"MustUnderstand");
}

void TOPToSoapDomConvert::ProcessFault(IXMLNode* FaultNode) {
  const bool soap12 = FOptions.Contains(soSOAP12);
  IntfPtr<IXMLNode> code, reason, actor, detail, node, role;
  for (IntfPtr<IXMLNode>& child : ElementChildren(FaultNode)) {
    const UnicodeString local = child->GetLocalName();
    auto is = [&](UnicodeStringView name) { return rtl::SameTextAscii(local, name); };
    if (!soap12) {
      if (is(u"faultcode"))
        code = child;
      else if (is(u"faultstring"))
        reason = child;
      else if (is(u"faultactor"))
        actor = child;
      else if (is(u"detail"))
        detail = child;
    } else {
      if (is(u"Code"))
        code = child;
      else if (is(u"Reason"))
        reason = child;
      else if (is(u"Node"))
        node = child;
      else if (is(u"Role"))
        role = child;
      else if (is(u"Detail"))
        detail = child;
    }
  }

  UnicodeString message, lang;
  if (reason && !soap12) {
    message = reason->GetText();
  } else if (reason) {
    for (IntfPtr<IXMLNode>& t : ElementChildren(reason.get()))
      if (rtl::SameTextAscii(t->GetLocalName(), u"Text")) {
        message = t->GetText();
        IntfPtr<IXMLNodeList> attrs = t->GetAttributeNodes();
        for (std::int32_t i = 0; i < attrs->GetCount(); ++i) {
          IntfPtr<IXMLNode> a = attrs->Get(i);
          if (rtl::SameTextAscii(a->GetLocalName(), u"lang")) lang = a->GetNodeValue().ToString();
        }
        break;
      }
  }
  if (message.empty()) message = detail ? detail->GetXML() : FaultNode->GetXML();

  std::unique_ptr<TObject> typed;
  ERemotableException* fault = nullptr;
  if (detail) {
    UnicodeString uri, name;
    IntfPtr<IXMLNode> typeNode = detail;
    if (!GetElementType(detail.get(), uri, name)) {
      typeNode = FirstElementChild(detail.get());
      if (typeNode && !GetElementType(typeNode.get(), uri, name)) {
        uri = typeNode->GetNamespaceURI();
        name = typeNode->GetLocalName();
      }
    }
    const TClass* cls = typeNode ? RemTypeRegistry().URIToClass(uri, name) : nullptr;
    if (cls && cls->InheritsFrom(&ERemotableException::StaticClass)) {
      typed.reset(cls->NewInstance());
      fault = rtl::ObjectAs<ERemotableException>(typed.get());
      if (fault) {
        fault->SetMessage(message);
        LoadObject(fault, FaultNode, typeNode.get());
      }
    }
  }
  ERemotableException plain(message);
  if (!fault) fault = &plain;
  if (actor) fault->SetFaultActor(actor->GetText());
  if (code) fault->SetFaultCode(soap12 ? code->GetXML() : code->GetText());
  if (node) fault->SetFaultNode(node->GetText());
  if (role) fault->SetFaultRole(role->GetText());
  fault->SetFaultReasonLang(lang);
  fault->SetFaultDetail(detail ? detail->GetXML() : UnicodeString());
  fault->RaiseCopy();
  throw plain;  // not reached: RaiseCopy throws
}

void TOPToSoapDomConvert::ProcessSuccess(IXMLNode* RespNode, const TIntfMetaData& IntfMD,
                                         const TIntfMethEntry& MethMD, TInvContext* Context) {
  const std::vector<IntfPtr<IXMLNode>> elements = ElementChildren(RespNode);
  const bool rpcEncoded12 = FOptions.Contains(soSOAP12) && !FOptions.Contains(soDocument) &&
                            !FOptions.Contains(soLiteralParams);
  IntfPtr<IXMLNode> rpcResult, result;
  if (rpcEncoded12)
    for (const IntfPtr<IXMLNode>& e : elements)
      if (rtl::SameTextAscii(e->GetLocalName(), u"result") &&
          rtl::SameTextAscii(e->GetNamespaceURI(), kSOAP12RPCNamespace)) {
        rpcResult = e;
        break;
      }

  if (MethMD.ResultInfo) {
    UnicodeString returnName = InvRegistry().GetMethodInfo(IntfMD.Info, MethMD.Name).ReturnName;
    if (!returnName.empty() && returnName[0] == u'[') {
      const UnicodeString info = returnName;
      if (!GetRegInfo(info, iaMethReturnName, returnName)) returnName.clear();
    }
    if (rpcResult) {
      const UnicodeString named = xml::ExtractLocalName(rpcResult->GetText());
      for (const IntfPtr<IXMLNode>& e : elements)
        if (e.get() != rpcResult.get() && rtl::SameTextAscii(e->GetLocalName(), named)) {
          result = e;
          break;
        }
    }
    if (!result && !returnName.empty())
      for (const IntfPtr<IXMLNode>& e : elements)
        if (rtl::SameTextAscii(e->GetLocalName(), returnName)) {
          result = e;
          break;
        }
    if (!result && elements.size() == 1) result = elements[0];
    if (!result) {
      const std::vector<UnicodeString> names =
          SplitNames(InvRegistry().GetReturnParamNames(IntfMD.Info));
      for (const IntfPtr<IXMLNode>& e : elements)
        for (const UnicodeString& name : names)
          if (!name.empty() && rtl::SameTextAscii(e->GetLocalName(), name)) result = e;
    }
    if (!result && MethMD.ResultInfo->Kind != rtl::tkClass &&
        MethMD.ResultInfo->Kind != rtl::tkVariant)
      throw ESOAPDomConvertError(
          u"SOAP Response Packet: element matching function return not found, received \"%s\"",
          {RespNode->GetXML()});
  }
  if (!RespNode->GetHasChildNodes()) return;

  const std::size_t count = MethMD.Params.size();
  std::vector<UnicodeString> extNames(count);
  for (std::size_t p = 0; p < count; ++p)
    extNames[p] =
        InvRegistry().GetParamExternalName(IntfMD.Info, MethMD.Name, MethMD.Params[p].Name);
  std::vector<bool> filled(count);

  for (const IntfPtr<IXMLNode>& child : elements) {
    if (child.get() == rpcResult.get()) continue;
    if (child.get() == result.get()) {
      if (void* resultP = Context ? Context->GetResultPointer() : nullptr)
        ConvertSoapToNativeData(resultP, MethMD.ResultInfo, RespNode, child.get(), true);
      continue;
    }
    const UnicodeString local = child->GetLocalName();
    for (std::size_t p = 0; p < count; ++p) {
      if (extNames[p] != local) continue;
      if (filled[p]) break;
      filled[p] = true;
      const TIntfParamEntry& param = MethMD.Params[p];
      void* dataP = Context ? Context->GetParamPointer(p) : nullptr;
      if (!dataP || !param.Info) break;
      if (param.Info->Kind == rtl::tkClass && !(param.Flags & (rtl::pfVar | rtl::pfOut))) {
        // A constant or by-value object argument is not copied back to the
        // caller, who keeps and frees its object: it is filled in place, and
        // a replacement the response asks for is dropped rather than left
        // unowned (or the caller's object freed under it).
        TObject** slot = static_cast<TObject**>(dataP);
        TObject* obj = ConvertSOAPToObject(RespNode, GetDataNode(RespNode, child.get()).get(),
                                           param.Info->Class(), {}, {}, slot);
        if (obj && obj != *slot) delete obj;
      } else {
        ConvertSoapToNativeData(dataP, param.Info, RespNode, child.get(), true);
      }
      break;
    }
  }
}

}  // namespace delvan::soap
