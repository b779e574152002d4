// The MSXML vendor: every vendor-neutral operation maps onto the MSXML
// method of its row in the mapping, and every wrapper operation runs inside
// the COM error bridge (Safe), so that whatever fails inside it reaches the
// caller as the exception the bridge makes of the failure code.
//
// Hostile input: before a text reaches MSXML's parser it is checked here
// for a document type declaration (refused: no DTD is processed, so no
// entity is expanded and nothing external is fetched) and for element
// nesting deeper than kMaxParseDepth; both give a failed load with a parse
// error, as a malformed text does. The MSXML properties ProhibitDTD and
// MaxElementDepth are set as well where the MSXML version knows them, and
// the layer above turns resolveExternals and validateOnParse off before
// every load.
#include "platform/win32/MsXmlDom.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "rtl/Format.h"
#include "rtl/Stream.h"

namespace delvan::platform::win32 {

using namespace delvan::xml;

std::vector<GUID> TMSXMLDOMDocumentFactory::FDOMDocumentCoClasses;
std::vector<TDOMProperty> TMSXMLDOMDocumentFactory::FDOMProperties;
bool MSXML6_ProhibitDTD = true;

namespace {

GUID ToGuid(const TGUID& g) {
  GUID r;
  r.Data1 = g.D1;
  r.Data2 = g.D2;
  r.Data3 = g.D3;
  std::memcpy(r.Data4, g.D4, 8);
  return r;
}

const GUID& NodeIID() {
  static const GUID iid = ToGuid(IDOMNode::IID);
  return iid;
}

// The COM error bridge around one wrapper operation: an exception inside
// becomes a failure code with the thread's error information, and the code
// is raised again as the caller's exception.
template <class F>
auto Safe(F&& body) -> decltype(body()) {
  ::HRESULT code;
  try {
    return body();
  } catch (...) {
    code = HandleSafeCallException(std::current_exception(), NodeIID());
  }
  SafeCallError(code);
}

[[noreturn]] void Refuse(UnicodeStringView operation) {
  DOMVendorNotSupported(operation, kMSXMLVendorName);
}

VARIANT_BOOL VBool(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

// The MSXML node behind a node of this vendor.
IXMLDOMNode* MSNodeOf(IDOMNode* node) {
  if (!node) DOMNodeRequired();
  IntfPtr<IXMLDOMNodeRef> ref = QueryIntf<IXMLDOMNodeRef>(node);
  // Nodes of another vendor cannot be mixed in (the message is ours).
  if (!ref) throw DOMException(u"The node does not belong to the MSXML DOM vendor");
  return ref->GetXMLDOMNode();
}

template <class T>
ComPtr<T> MSAs(IDOMNode* node) {
  ComPtr<IXMLDOMNode> n(MSNodeOf(node));
  ComPtr<T> t = n.template As<T>();
  if (!t) throw DOMException(u"The node is not of the kind the operation needs");
  return t;
}

template <class T>
IntfPtr<T> Wrapped(IXMLDOMNode* node) {
  IntfPtr<IDOMNode> n = MakeNode(node);
  return QueryIntf<T>(n);
}

template <class T, class M>
IntfPtr<T> WrappedAs(M* node) {
  if (!node) return {};
  ComPtr<IXMLDOMNode> n;
  node->QueryInterface(__uuidof(IXMLDOMNode), reinterpret_cast<void**>(n.put()));
  return Wrapped<T>(n.get());
}

void ToOleVariant(const Variant& value, OleVariant& out) {
  if (value.IsNull()) {
    out.put()->vt = VT_NULL;
  } else if (value.VarType() == varBoolean) {
    VARIANT* v = out.put();
    v->vt = VT_BOOL;
    v->boolVal = VBool(value.AsBoolean());
  } else if (value.IsOrdinal()) {
    VARIANT* v = out.put();
    v->vt = VT_I4;
    v->lVal = static_cast<LONG>(value.AsInt64());
  } else {
    OleVariant::Text(out, value.ToString());
  }
}

// ---- Hostile input ------------------------------------------------------

struct TLocalParseError {
  UnicodeString Reason;
  UnicodeString SrcText;
  std::int32_t Line = 0;
  std::int32_t LinePos = 0;
  std::int32_t FilePos = 0;
};

template <class C>
bool StartsAt(const C* p, std::size_t n, std::size_t at, const char* lit) {
  for (std::size_t k = 0; lit[k]; ++k)
    if (at + k >= n || p[at + k] != static_cast<C>(lit[k])) return false;
  return true;
}

template <class C>
std::size_t Skip(const C* p, std::size_t n, std::size_t from, const char* end) {
  for (std::size_t i = from; i < n; ++i)
    if (StartsAt(p, n, i, end)) return i + std::strlen(end) - 1;
  return n;
}

template <class C>
void Locate(const C* p, std::size_t n, std::size_t at, TLocalParseError& e) {
  std::size_t lineStart = 0;
  e.Line = 1;
  for (std::size_t i = 0; i < at && i < n; ++i)
    if (p[i] == static_cast<C>('\n')) ++e.Line, lineStart = i + 1;
  std::size_t lineEnd = lineStart;
  while (lineEnd < n && p[lineEnd] != static_cast<C>('\n') && p[lineEnd] != static_cast<C>('\r'))
    ++lineEnd;
  e.LinePos = static_cast<std::int32_t>(at - lineStart + 1);
  e.FilePos = static_cast<std::int32_t>(at);
  for (std::size_t i = lineStart; i < lineEnd && i < lineStart + 200; ++i)
    e.SrcText += static_cast<char16_t>(static_cast<std::make_unsigned_t<C>>(p[i]));
}

// Scans markup without parsing it: comments, CDATA sections and
// processing instructions are skipped, a DOCTYPE is refused, and start
// tags that are not empty-element tags count the depth.
template <class C>
bool CheckHostile(const C* p, std::size_t n, TLocalParseError& e) {
  std::size_t depth = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] != static_cast<C>('<') || i + 1 >= n) continue;
    const C c = p[i + 1];
    if (c == static_cast<C>('/')) {
      if (depth) --depth;
      continue;
    }
    if (c == static_cast<C>('?')) {
      i = Skip(p, n, i + 2, "?>");
      continue;
    }
    if (c == static_cast<C>('!')) {
      if (StartsAt(p, n, i, "<!--")) {
        i = Skip(p, n, i + 4, "-->");
      } else if (StartsAt(p, n, i, "<![CDATA[")) {
        i = Skip(p, n, i + 9, "]]>");
      } else if (StartsAt(p, n, i, "<!DOCTYPE")) {
        Locate(p, n, i, e);
        e.Reason = u"A document type declaration (DTD) is not allowed";
        return false;
      }
      continue;
    }
    std::size_t j = i + 1;
    C quote = 0;
    for (; j < n; ++j) {
      if (quote) {
        if (p[j] == quote) quote = 0;
      } else if (p[j] == static_cast<C>('"') || p[j] == static_cast<C>('\'')) {
        quote = p[j];
      } else if (p[j] == static_cast<C>('>')) {
        break;
      }
    }
    if (!(j < n && p[j - 1] == static_cast<C>('/')) && ++depth > kMaxParseDepth) {
      Locate(p, n, i, e);
      e.Reason =
          Format(u"Elements are nested deeper than %d levels", {static_cast<int>(kMaxParseDepth)});
      return false;
    }
    i = j;
  }
  return true;
}

// The bytes as MSXML would see them: UTF-16 (by byte-order mark or by its
// first "<") is scanned as UTF-16, anything else byte by byte, which holds
// for UTF-8 and every single-byte encoding.
bool CheckHostileBytes(std::string_view bytes, TLocalParseError& e) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  const bool le = n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == '<' && b[1] == 0));
  const bool be = n >= 2 && ((b[0] == 0xFE && b[1] == 0xFF) || (b[0] == 0 && b[1] == '<'));
  if (le || be) {
    std::u16string text(n / 2, u'\0');
    for (std::size_t i = 0; i < n / 2; ++i)
      text[i] = static_cast<char16_t>(le ? b[2 * i] | (b[2 * i + 1] << 8)
                                         : (b[2 * i] << 8) | b[2 * i + 1]);
    return CheckHostile(text.data(), text.size(), e);
  }
  return CheckHostile(reinterpret_cast<const unsigned char*>(bytes.data()), n, e);
}

// ---- A COM stream over one of our streams ---------------------------------

// Reads and writes the caller's stream at its position; does not own it.
class TStreamAdapter final : public IStream {
 public:
  explicit TStreamAdapter(TStream& stream) : FStream(stream) {}

  ::HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** obj) override {
    if (!obj) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
      *obj = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&FRefs); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG n = ::InterlockedDecrement(&FRefs);
    if (n == 0) delete this;
    return n;
  }

  ::HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override {
    try {
      const std::int64_t n = FStream.Read(buffer, count);
      if (read) *read = static_cast<ULONG>(n);
      return n < static_cast<std::int64_t>(count) ? S_FALSE : S_OK;
    } catch (...) {
      return STG_E_READFAULT;
    }
  }
  ::HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override {
    try {
      FStream.WriteBuffer(buffer, count);
      if (written) *written = count;
      return S_OK;
    } catch (...) {
      return STG_E_WRITEFAULT;
    }
  }
  ::HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                   ULARGE_INTEGER* position) override {
    try {
      const TSeekOrigin o = origin == STREAM_SEEK_SET   ? TSeekOrigin::soBeginning
                            : origin == STREAM_SEEK_CUR ? TSeekOrigin::soCurrent
                                                        : TSeekOrigin::soEnd;
      const std::int64_t at = FStream.Seek(move.QuadPart, o);
      if (position) position->QuadPart = static_cast<ULONGLONG>(at);
      return S_OK;
    } catch (...) {
      return STG_E_INVALIDFUNCTION;
    }
  }
  ::HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
    try {
      FStream.SetSize(static_cast<std::int64_t>(size.QuadPart));
      return S_OK;
    } catch (...) {
      return STG_E_MEDIUMFULL;
    }
  }
  ::HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  ::HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  ::HRESULT STDMETHODCALLTYPE Revert() override { return STG_E_REVERTED; }
  ::HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  ::HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  ::HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    if (!stat) return STG_E_INVALIDPOINTER;
    std::memset(stat, 0, sizeof *stat);
    stat->type = STGTY_STREAM;
    try {
      stat->cbSize.QuadPart = static_cast<ULONGLONG>(FStream.Size());
    } catch (...) {
      return STG_E_ACCESSDENIED;
    }
    return S_OK;
  }
  ::HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  ~TStreamAdapter() = default;
  TStream& FStream;
  LONG FRefs = 1;
};

// ---- Lists and maps ----------------------------------------------------------

class TMSDOMNodeList final : public TInterfacedImpl<IDOMNodeList> {
 public:
  explicit TMSDOMNodeList(IXMLDOMNodeList* list) : FMSNodeList(list) {}
  IntfPtr<IDOMNode> get_item(std::int32_t index) override {
    return Safe([&] {
      ComPtr<IXMLDOMNode> node;
      OleCheck(FMSNodeList->get_item(index, node.put()));
      return MakeNode(node.get());
    });
  }
  std::int32_t get_length() override {
    return Safe([&] {
      long n = 0;
      OleCheck(FMSNodeList->get_length(&n));
      return static_cast<std::int32_t>(n);
    });
  }

 private:
  ComPtr<IXMLDOMNodeList> FMSNodeList;
};

IntfPtr<IDOMNodeList> WrapList(IXMLDOMNodeList* list) {
  if (!list) return {};
  return IntfPtr<IDOMNodeList>(new TMSDOMNodeList(list));
}

// The value of the default namespace declaration (xmlns="...") written on
// an element itself, read from the start tag of its shallow copy's
// serialisation; nothing when it has none.
std::optional<UnicodeString> DeclaredDefaultNamespace(IXMLDOMNode* element) {
  ComPtr<IXMLDOMNode> copy;
  if (FAILED(element->cloneNode(VARIANT_FALSE, copy.put())) || !copy) return std::nullopt;
  Bstr xml;
  if (FAILED(copy->get_xml(xml.put()))) return std::nullopt;
  const UnicodeString tag = xml.Text();
  std::size_t at = tag.find(u'<');
  if (at == UnicodeString::npos) return std::nullopt;
  auto space = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
  at = tag.find_first_of(u" \t\r\n/>", at);
  while (at < tag.size()) {
    while (at < tag.size() && space(tag[at])) ++at;
    if (at >= tag.size() || tag[at] == u'/' || tag[at] == u'>') break;
    const std::size_t eq = tag.find(u'=', at);
    if (eq == UnicodeString::npos || eq + 1 >= tag.size()) break;
    std::size_t nameEnd = eq;
    while (nameEnd > at && space(tag[nameEnd - 1])) --nameEnd;
    std::size_t open = eq + 1;
    while (open < tag.size() && space(tag[open])) ++open;
    if (open >= tag.size() || (tag[open] != u'"' && tag[open] != u'\'')) break;
    const std::size_t close = tag.find(tag[open], open + 1);
    if (close == UnicodeString::npos) break;
    if (tag.compare(at, nameEnd - at, u"xmlns") == 0) {
      // The value as written: the predefined entities and character
      // references are all a serialiser uses in it.
      UnicodeString value;
      for (std::size_t i = open + 1; i < close; ++i) {
        const std::size_t semi = tag[i] == u'&' ? tag.find(u';', i) : UnicodeString::npos;
        if (semi == UnicodeString::npos || semi > close) {
          value += tag[i];
          continue;
        }
        const UnicodeString name = tag.substr(i + 1, semi - i - 1);
        if (name == u"amp")
          value += u'&';
        else if (name == u"lt")
          value += u'<';
        else if (name == u"gt")
          value += u'>';
        else if (name == u"quot")
          value += u'"';
        else if (name == u"apos")
          value += u'\'';
        else if (name.size() > 1 && name[0] == u'#') {
          const bool hex = name[1] == u'x';
          const std::string digits(name.begin() + (hex ? 2 : 1), name.end());
          unsigned long code = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
          if (code > 0x10FFFF) code = 0xFFFD;
          if (code >= 0x10000) {
            value += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            value += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
          } else {
            value += static_cast<char16_t>(code);
          }
        } else {
          value += tag.substr(i, semi - i + 1);
        }
        i = semi;
      }
      return value;
    }
    at = close + 1;
  }
  return std::nullopt;
}

class TMSDOMNamedNodeMap final : public TInterfacedImpl<IDOMNamedNodeMap> {
 public:
  // owner: the element whose attributes the map lists (none for other maps).
  TMSDOMNamedNodeMap(IXMLDOMNamedNodeMap* map, IXMLDOMNode* owner)
      : FMSNamedNodeMap(map), FOwner(owner) {}
  IntfPtr<IDOMNode> get_item(std::int32_t index) override {
    return Safe([&] {
      ComPtr<IXMLDOMNode> node;
      const ::HRESULT code = FMSNamedNodeMap->get_item(index, node.put());
      if (FAILED(code)) {
        node = DefaultDeclarationInstead();
        if (!node) OleCheck(code);
      }
      return MakeNode(node.get());
    });
  }
  std::int32_t get_length() override {
    return Safe([&] {
      long n = 0;
      OleCheck(FMSNamedNodeMap->get_length(&n));
      return static_cast<std::int32_t>(n);
    });
  }
  IntfPtr<IDOMNode> getNamedItem(const UnicodeString& name) override {
    return Safe([&] {
      ComPtr<IXMLDOMNode> node;
      OleCheck(FMSNamedNodeMap->getNamedItem(Bstr(name).get(), node.put()));
      if (!node && name == u"xmlns") node = DefaultDeclarationInstead();
      return MakeNode(node.get());
    });
  }
  IntfPtr<IDOMNode> setNamedItem(IDOMNode* node) override {
    return Safe([&] {
      ComPtr<IXMLDOMNode> replaced;
      OleCheck(FMSNamedNodeMap->setNamedItem(MSNodeOf(node), replaced.put()));
      return MakeNode(replaced.get());
    });
  }
  IntfPtr<IDOMNode> removeNamedItem(const UnicodeString& name) override {
    return Safe([&] {
      ComPtr<IXMLDOMNode> removed;
      OleCheck(FMSNamedNodeMap->removeNamedItem(Bstr(name).get(), removed.put()));
      return MakeNode(removed.get());
    });
  }
  IntfPtr<IDOMNode> getNamedItemNS(const UnicodeString& namespaceURI,
                                   const UnicodeString& localName) override {
    return Safe([&] {
      ComPtr<IXMLDOMNode> node;
      OleCheck(FMSNamedNodeMap->getQualifiedItem(Bstr(localName).get(), Bstr(namespaceURI).get(),
                                                 node.put()));
      return MakeNode(node.get());
    });
  }
  // MSXML's map has no namespace form of this: setNamedItem takes the
  // node under its qualified name and namespace.
  IntfPtr<IDOMNode> setNamedItemNS(IDOMNode* node) override { return setNamedItem(node); }
  IntfPtr<IDOMNode> removeNamedItemNS(const UnicodeString& namespaceURI,
                                      const UnicodeString& localName) override {
    return Safe([&] {
      ComPtr<IXMLDOMNode> removed;
      OleCheck(FMSNamedNodeMap->removeQualifiedItem(Bstr(localName).get(), Bstr(namespaceURI).get(),
                                                    removed.put()));
      return MakeNode(removed.get());
    });
  }

 private:
  // Some MSXML builds list an element's default namespace declaration in
  // its attribute map (length counts it) yet fail to hand it out, by index
  // (E_OUTOFMEMORY) or by name (none): the declaration that the element's
  // own serialisation shows is then given as a new attribute node of the
  // same name, namespace and value, not attached to the element. Taken
  // only when the map found no "xmlns" node by name although the element
  // declares one, which Microsoft's MSXML never does, so there it changes
  // nothing.
  ComPtr<IXMLDOMNode> DefaultDeclarationInstead() {
    if (!FOwner) return {};
    ComPtr<IXMLDOMNode> byName;
    if (FAILED(FMSNamedNodeMap->getNamedItem(Bstr(u"xmlns").get(), byName.put())) || byName)
      return {};
    const std::optional<UnicodeString> uri = DeclaredDefaultNamespace(FOwner.get());
    if (!uri) return {};
    ComPtr<IXMLDOMDocument> doc;
    if (FAILED(FOwner->get_ownerDocument(doc.put())) || !doc) return {};
    OleVariant type;
    type.put()->vt = VT_I4;
    type.get().lVal = NODE_ATTRIBUTE;
    ComPtr<IXMLDOMNode> attr;
    OleCheck(doc->createNode(type.get(), Bstr(u"xmlns").get(),
                             Bstr(u"http://www.w3.org/2000/xmlns/").get(), attr.put()));
    OleVariant value;
    OleVariant::Text(value, *uri);
    OleCheck(attr->put_nodeValue(value.get()));
    return attr;
  }

  ComPtr<IXMLDOMNamedNodeMap> FMSNamedNodeMap;
  ComPtr<IXMLDOMNode> FOwner;
};

class TMSDOMImplementation final : public TInterfacedImpl<IDOMImplementation> {
 public:
  explicit TMSDOMImplementation(IXMLDOMImplementation* impl) : FMSDOMImpl(impl) {}
  bool hasFeature(const UnicodeString& feature, const UnicodeString& version) override {
    return Safe([&] {
      ComPtr<IXMLDOMImplementation> impl = FMSDOMImpl;
      if (!impl) {
        ComPtr<IXMLDOMDocument> doc = TMSXMLDOMDocumentFactory::CreateDOMDocument();
        OleCheck(doc->get_implementation(impl.put()));
      }
      VARIANT_BOOL has = VARIANT_FALSE;
      OleCheck(impl->hasFeature(Bstr(feature).get(), Bstr(version).get(), &has));
      return has != VARIANT_FALSE;
    });
  }
  IntfPtr<IDOMDocumentType> createDocumentType(const UnicodeString&, const UnicodeString&,
                                               const UnicodeString&) override {
    return Safe([&]() -> IntfPtr<IDOMDocumentType> { Refuse(u"createDocumentType"); });
  }
  IntfPtr<IDOMDocument> createDocument(const UnicodeString&, const UnicodeString&,
                                       IDOMDocumentType*) override;

 private:
  ComPtr<IXMLDOMImplementation> FMSDOMImpl;
};

// ---- Nodes ----------------------------------------------------------------------

// Everything a node answers through IDOMNode, IDOMNodeEx, IDOMNodeSelect
// and IXMLDOMNodeRef; Intfs are the interfaces of its type, the first of
// which stands for IDOMNode.
template <class... Intfs>
class TMSDOMNode : public TInterfacedImpl<Intfs..., IDOMNodeEx, IDOMNodeSelect, IXMLDOMNodeRef> {
  using Base = TInterfacedImpl<Intfs..., IDOMNodeEx, IDOMNodeSelect, IXMLDOMNodeRef>;
  using First = std::tuple_element_t<0, std::tuple<Intfs...>>;

 public:
  explicit TMSDOMNode(IXMLDOMNode* node) : FMSNode(node) {}

  IXMLDOMNode* GetXMLDOMNode() override { return FMSNode.get(); }

  UnicodeString get_nodeName() override { return Text(&IXMLDOMNode::get_nodeName); }
  UnicodeString get_nodeValue() override {
    return Safe([&] {
      OleVariant v;
      OleCheck(FMSNode->get_nodeValue(v.put()));
      return v.ToText();
    });
  }
  void set_nodeValue(const UnicodeString& value) override {
    Safe([&] {
      OleVariant v;
      OleVariant::Text(v, value);
      OleCheck(FMSNode->put_nodeValue(v.get()));
    });
  }
  std::uint16_t get_nodeType() override {
    return Safe([&] {
      DOMNodeType type = NODE_INVALID;
      OleCheck(FMSNode->get_nodeType(&type));
      return static_cast<std::uint16_t>(type);
    });
  }
  IntfPtr<IDOMNode> get_parentNode() override { return Node(&IXMLDOMNode::get_parentNode); }
  IntfPtr<IDOMNodeList> get_childNodes() override {
    return Safe([&] {
      if (!FChildNodes) {
        ComPtr<IXMLDOMNodeList> list;
        OleCheck(FMSNode->get_childNodes(list.put()));
        FChildNodes = WrapList(list.get());
      }
      return FChildNodes;
    });
  }
  IntfPtr<IDOMNode> get_firstChild() override { return Node(&IXMLDOMNode::get_firstChild); }
  IntfPtr<IDOMNode> get_lastChild() override { return Node(&IXMLDOMNode::get_lastChild); }
  IntfPtr<IDOMNode> get_previousSibling() override {
    return Node(&IXMLDOMNode::get_previousSibling);
  }
  IntfPtr<IDOMNode> get_nextSibling() override { return Node(&IXMLDOMNode::get_nextSibling); }
  IntfPtr<IDOMNamedNodeMap> get_attributes() override {
    return Safe([&] {
      if (!FAttributes) {
        ComPtr<IXMLDOMNamedNodeMap> map;
        OleCheck(FMSNode->get_attributes(map.put()));
        if (map)
          FAttributes = IntfPtr<IDOMNamedNodeMap>(new TMSDOMNamedNodeMap(map.get(), FMSNode.get()));
      }
      return FAttributes;
    });
  }
  IntfPtr<IDOMDocument> get_ownerDocument() override {
    return Safe([&] {
      if (!FOwnerDocument) {
        ComPtr<IXMLDOMDocument> doc;
        OleCheck(FMSNode->get_ownerDocument(doc.put()));
        FOwnerDocument = WrappedAs<IDOMDocument>(doc.get());
      }
      return FOwnerDocument;
    });
  }
  UnicodeString get_namespaceURI() override { return Text(&IXMLDOMNode::get_namespaceURI); }
  UnicodeString get_prefix() override { return Text(&IXMLDOMNode::get_prefix); }
  UnicodeString get_localName() override { return Text(&IXMLDOMNode::get_baseName); }
  IntfPtr<IDOMNode> insertBefore(IDOMNode* newChild, IDOMNode* refChild) override {
    return Safe([&] {
      if (!newChild || !refChild) DOMNodeRequired();
      OleVariant ref;
      VARIANT* r = ref.put();
      r->vt = VT_UNKNOWN;
      r->punkVal = MSNodeOf(refChild);
      r->punkVal->AddRef();
      ComPtr<IXMLDOMNode> out;
      OleCheck(FMSNode->insertBefore(MSNodeOf(newChild), ref.get(), out.put()));
      return Same(newChild, out.get());
    });
  }
  IntfPtr<IDOMNode> replaceChild(IDOMNode* newChild, IDOMNode* oldChild) override {
    return Safe([&] {
      ComPtr<IXMLDOMNode> out;
      OleCheck(FMSNode->replaceChild(MSNodeOf(newChild), MSNodeOf(oldChild), out.put()));
      return Same(oldChild, out.get());
    });
  }
  IntfPtr<IDOMNode> removeChild(IDOMNode* child) override {
    return Safe([&] {
      ComPtr<IXMLDOMNode> out;
      OleCheck(FMSNode->removeChild(MSNodeOf(child), out.put()));
      return Same(child, out.get());
    });
  }
  IntfPtr<IDOMNode> appendChild(IDOMNode* newChild) override {
    return Safe([&] {
      ComPtr<IXMLDOMNode> out;
      OleCheck(FMSNode->appendChild(MSNodeOf(newChild), out.put()));
      return Same(newChild, out.get());
    });
  }
  bool hasChildNodes() override {
    return Safe([&] {
      VARIANT_BOOL has = VARIANT_FALSE;
      OleCheck(FMSNode->hasChildNodes(&has));
      return has != VARIANT_FALSE;
    });
  }
  IntfPtr<IDOMNode> cloneNode(bool deep) override {
    return Safe([&] {
      ComPtr<IXMLDOMNode> copy;
      OleCheck(FMSNode->cloneNode(VBool(deep), copy.put()));
      return MakeNode(copy.get());
    });
  }
  void normalize() override {
    Safe([&] { Refuse(u"normalize"); });
  }
  bool supports(const UnicodeString&, const UnicodeString&) override {
    return Safe([&]() -> bool { Refuse(u"supports"); });
  }

  // IDOMNodeEx
  UnicodeString get_text() override { return Text(&IXMLDOMNode::get_text); }
  UnicodeString get_xml() override { return Text(&IXMLDOMNode::get_xml); }
  void set_text(const UnicodeString& text) override {
    Safe([&] { OleCheck(FMSNode->put_text(Bstr(text).get())); });
  }
  void transformNode(IDOMNode* stylesheet, UnicodeString& output) override {
    Safe([&] {
      Bstr out;
      OleCheck(FMSNode->transformNode(MSNodeOf(stylesheet), out.put()));
      output = out.Text();
    });
  }
  void transformNode(IDOMNode* stylesheet, IDOMDocument* output) override {
    Safe([&] {
      OleVariant target;
      VARIANT* t = target.put();
      t->vt = VT_UNKNOWN;
      t->punkVal = MSNodeOf(output);
      t->punkVal->AddRef();
      OleCheck(FMSNode->transformNodeToObject(MSNodeOf(stylesheet), target.get()));
    });
  }

  // IDOMNodeSelect
  IntfPtr<IDOMNode> selectNode(const UnicodeString& nodePath) override {
    return Safe([&] {
      ComPtr<IXMLDOMNode> node;
      OleCheck(FMSNode->selectSingleNode(Bstr(nodePath).get(), node.put()));
      return MakeNode(node.get());
    });
  }
  IntfPtr<IDOMNodeList> selectNodes(const UnicodeString& nodePath) override {
    return Safe([&] {
      ComPtr<IXMLDOMNodeList> list;
      OleCheck(FMSNode->selectNodes(Bstr(nodePath).get(), list.put()));
      return WrapList(list.get());
    });
  }

 protected:
  void* QueryOther(const TGUID& iid) override {
    if (iid == IDOMNode::IID) return static_cast<IDOMNode*>(static_cast<First*>(this));
    return QueryBase(iid);
  }
  // The node type's base interfaces beyond IDOMNode (IDOMCharacterData...).
  virtual void* QueryBase(const TGUID&) { return nullptr; }

  template <class T>
  ComPtr<T> MS() const {
    ComPtr<T> t = FMSNode.template As<T>();
    if (!t) throw DOMException(u"The MSXML node is not of the kind the operation needs");
    return t;
  }

  UnicodeString Text(::HRESULT (STDMETHODCALLTYPE IXMLDOMNode::*get)(BSTR*)) {
    return Safe([&] {
      Bstr text;
      OleCheck((FMSNode.get()->*get)(text.put()));
      return text.Text();
    });
  }
  IntfPtr<IDOMNode> Node(::HRESULT (STDMETHODCALLTYPE IXMLDOMNode::*get)(IXMLDOMNode**)) {
    return Safe([&] {
      ComPtr<IXMLDOMNode> node;
      OleCheck((FMSNode.get()->*get)(node.put()));
      return MakeNode(node.get());
    });
  }
  // The caller's own wrapper when MSXML hands back the node it was given.
  static IntfPtr<IDOMNode> Same(IDOMNode* given, IXMLDOMNode* result) {
    if (!result) return {};
    if (given && MSNodeOf(given) == result) return IntfPtr<IDOMNode>(given);
    return MakeNode(result);
  }

  ComPtr<IXMLDOMNode> FMSNode;
  IntfPtr<IDOMNodeList> FChildNodes;
  IntfPtr<IDOMNamedNodeMap> FAttributes;
  IntfPtr<IDOMDocument> FOwnerDocument;
};

class TMSDOMElement final : public TMSDOMNode<IDOMElement> {
 public:
  using TMSDOMNode::TMSDOMNode;

  UnicodeString get_tagName() override {
    return Safe([&] {
      Bstr name;
      OleCheck(MS<IXMLDOMElement>()->get_tagName(name.put()));
      return name.Text();
    });
  }
  UnicodeString getAttribute(const UnicodeString& name) override {
    return Safe([&] {
      OleVariant v;
      OleCheck(MS<IXMLDOMElement>()->getAttribute(Bstr(name).get(), v.put()));
      return v.ToText();
    });
  }
  void setAttribute(const UnicodeString& name, const UnicodeString& value) override {
    Safe([&] {
      OleVariant v;
      OleVariant::Text(v, value);
      OleCheck(MS<IXMLDOMElement>()->setAttribute(Bstr(name).get(), v.get()));
    });
  }
  void removeAttribute(const UnicodeString& name) override {
    Safe([&] { OleCheck(MS<IXMLDOMElement>()->removeAttribute(Bstr(name).get())); });
  }
  IntfPtr<IDOMAttr> getAttributeNode(const UnicodeString& name) override {
    return Safe([&] {
      ComPtr<IXMLDOMAttribute> attr;
      OleCheck(MS<IXMLDOMElement>()->getAttributeNode(Bstr(name).get(), attr.put()));
      return WrappedAs<IDOMAttr>(attr.get());
    });
  }
  IntfPtr<IDOMAttr> setAttributeNode(IDOMAttr* attr) override {
    return Safe([&] {
      ComPtr<IXMLDOMAttribute> replaced;
      OleCheck(MS<IXMLDOMElement>()->setAttributeNode(MSAs<IXMLDOMAttribute>(attr).get(),
                                                      replaced.put()));
      return WrappedAs<IDOMAttr>(replaced.get());
    });
  }
  IntfPtr<IDOMAttr> removeAttributeNode(IDOMAttr* attr) override {
    return Safe([&] {
      ComPtr<IXMLDOMAttribute> removed;
      OleCheck(MS<IXMLDOMElement>()->removeAttributeNode(MSAs<IXMLDOMAttribute>(attr).get(),
                                                         removed.put()));
      return WrappedAs<IDOMAttr>(removed.get());
    });
  }
  IntfPtr<IDOMNodeList> getElementsByTagName(const UnicodeString& name) override {
    return Safe([&] {
      ComPtr<IXMLDOMNodeList> list;
      OleCheck(MS<IXMLDOMElement>()->getElementsByTagName(Bstr(name).get(), list.put()));
      return WrapList(list.get());
    });
  }
  UnicodeString getAttributeNS(const UnicodeString& namespaceURI,
                               const UnicodeString& localName) override {
    return Safe([&] {
      ComPtr<IXMLDOMNode> attr = QualifiedAttribute(namespaceURI, localName);
      if (!attr) return UnicodeString();
      OleVariant v;
      OleCheck(attr->get_nodeValue(v.put()));
      return v.ToText();
    });
  }
  void setAttributeNS(const UnicodeString& namespaceURI, const UnicodeString& qualifiedName,
                      const UnicodeString& value) override {
    Safe([&] {
      ComPtr<IXMLDOMDocument> doc;
      OleCheck(FMSNode->get_ownerDocument(doc.put()));
      if (!doc) throw DOMException(u"The element has no owner document");
      OleVariant type;
      VARIANT* t = type.put();
      t->vt = VT_I4;
      t->lVal = NODE_ATTRIBUTE;
      ComPtr<IXMLDOMNode> attr;
      OleCheck(doc->createNode(type.get(), Bstr(qualifiedName).get(), Bstr(namespaceURI).get(),
                               attr.put()));
      OleVariant v;
      OleVariant::Text(v, value);
      OleCheck(attr->put_nodeValue(v.get()));
      ComPtr<IXMLDOMAttribute> asAttr = attr.As<IXMLDOMAttribute>();
      ComPtr<IXMLDOMAttribute> replaced;
      OleCheck(MS<IXMLDOMElement>()->setAttributeNode(asAttr.get(), replaced.put()));
    });
  }
  void removeAttributeNS(const UnicodeString& namespaceURI,
                         const UnicodeString& localName) override {
    Safe([&] {
      ComPtr<IXMLDOMNamedNodeMap> map;
      OleCheck(FMSNode->get_attributes(map.put()));
      ComPtr<IXMLDOMNode> removed;
      if (map)
        OleCheck(map->removeQualifiedItem(Bstr(localName).get(), Bstr(namespaceURI).get(),
                                          removed.put()));
    });
  }
  IntfPtr<IDOMAttr> getAttributeNodeNS(const UnicodeString& namespaceURI,
                                       const UnicodeString& localName) override {
    return Safe(
        [&] { return Wrapped<IDOMAttr>(QualifiedAttribute(namespaceURI, localName).get()); });
  }
  // MSXML has no namespace form: setAttributeNode keeps the node's own namespace.
  IntfPtr<IDOMAttr> setAttributeNodeNS(IDOMAttr* attr) override { return setAttributeNode(attr); }
  IntfPtr<IDOMNodeList> getElementsByTagNameNS(const UnicodeString&,
                                               const UnicodeString&) override {
    return Safe([&]() -> IntfPtr<IDOMNodeList> { Refuse(u"getElementsByTagNameNS"); });
  }
  bool hasAttribute(const UnicodeString& name) override {
    try {
      ComPtr<IXMLDOMAttribute> attr;
      return SUCCEEDED(MS<IXMLDOMElement>()->getAttributeNode(Bstr(name).get(), attr.put())) &&
             attr;
    } catch (...) {
      return false;
    }
  }
  bool hasAttributeNS(const UnicodeString& namespaceURI, const UnicodeString& localName) override {
    try {
      return static_cast<bool>(QualifiedAttribute(namespaceURI, localName));
    } catch (...) {
      return false;
    }
  }
  // The element's own normalize, which MSXML offers.
  void normalize() override {
    Safe([&] { OleCheck(MS<IXMLDOMElement>()->normalize()); });
  }

 private:
  ComPtr<IXMLDOMNode> QualifiedAttribute(const UnicodeString& namespaceURI,
                                         const UnicodeString& localName) {
    ComPtr<IXMLDOMNamedNodeMap> map;
    OleCheck(FMSNode->get_attributes(map.put()));
    ComPtr<IXMLDOMNode> attr;
    if (map)
      OleCheck(map->getQualifiedItem(Bstr(localName).get(), Bstr(namespaceURI).get(), attr.put()));
    return attr;
  }
};

class TMSDOMAttr final : public TMSDOMNode<IDOMAttr> {
 public:
  using TMSDOMNode::TMSDOMNode;
  UnicodeString get_name() override {
    return Safe([&] {
      Bstr name;
      OleCheck(MS<IXMLDOMAttribute>()->get_name(name.put()));
      return name.Text();
    });
  }
  bool get_specified() override {
    return Safe([&] {
      VARIANT_BOOL b = VARIANT_FALSE;
      OleCheck(FMSNode->get_specified(&b));
      return b != VARIANT_FALSE;
    });
  }
  UnicodeString get_value() override {
    return Safe([&] {
      OleVariant v;
      OleCheck(MS<IXMLDOMAttribute>()->get_value(v.put()));
      return v.ToText();
    });
  }
  void set_value(const UnicodeString& value) override {
    Safe([&] {
      OleVariant v;
      OleVariant::Text(v, value);
      OleCheck(MS<IXMLDOMAttribute>()->put_value(v.get()));
    });
  }
  IntfPtr<IDOMElement> get_ownerElement() override {
    return Safe([&]() -> IntfPtr<IDOMElement> { Refuse(u"get_ownerElement"); });
  }
};

// Character data of every kind: I is its interface.
template <class I>
class TMSDOMCharacterData : public TMSDOMNode<I> {
 public:
  using TMSDOMNode<I>::TMSDOMNode;
  UnicodeString get_data() override {
    return Safe([&] {
      Bstr data;
      OleCheck(CD()->get_data(data.put()));
      return data.Text();
    });
  }
  void set_data(const UnicodeString& data) override {
    Safe([&] { OleCheck(CD()->put_data(Bstr(data).get())); });
  }
  std::int32_t get_length() override {
    return Safe([&] {
      long n = 0;
      OleCheck(CD()->get_length(&n));
      return static_cast<std::int32_t>(n);
    });
  }
  UnicodeString substringData(std::int32_t offset, std::int32_t count) override {
    return Safe([&] {
      Bstr data;
      OleCheck(CD()->substringData(offset, count, data.put()));
      return data.Text();
    });
  }
  void appendData(const UnicodeString& data) override {
    Safe([&] { OleCheck(CD()->appendData(Bstr(data).get())); });
  }
  void insertData(std::int32_t offset, const UnicodeString& data) override {
    Safe([&] { OleCheck(CD()->insertData(offset, Bstr(data).get())); });
  }
  void deleteData(std::int32_t offset, std::int32_t count) override {
    Safe([&] { OleCheck(CD()->deleteData(offset, count)); });
  }
  void replaceData(std::int32_t offset, std::int32_t count, const UnicodeString& data) override {
    Safe([&] { OleCheck(CD()->replaceData(offset, count, Bstr(data).get())); });
  }

 protected:
  ComPtr<IXMLDOMCharacterData> CD() const { return this->template MS<IXMLDOMCharacterData>(); }
  void* QueryBase(const TGUID& iid) override {
    if (iid == IDOMCharacterData::IID) return static_cast<IDOMCharacterData*>(this);
    return nullptr;
  }
};

template <class I>
class TMSDOMTextImpl : public TMSDOMCharacterData<I> {
 public:
  using TMSDOMCharacterData<I>::TMSDOMCharacterData;
  IntfPtr<IDOMText> splitText(std::int32_t offset) override {
    return Safe([&] {
      ComPtr<IXMLDOMText> rest;
      OleCheck(this->template MS<IXMLDOMText>()->splitText(offset, rest.put()));
      return WrappedAs<IDOMText>(rest.get());
    });
  }

 protected:
  void* QueryBase(const TGUID& iid) override {
    if (iid == IDOMText::IID) return static_cast<IDOMText*>(this);
    return TMSDOMCharacterData<I>::QueryBase(iid);
  }
};

class TMSDOMText final : public TMSDOMTextImpl<IDOMText> {
 public:
  using TMSDOMTextImpl::TMSDOMTextImpl;
};
class TMSDOMCDATASection final : public TMSDOMTextImpl<IDOMCDATASection> {
 public:
  using TMSDOMTextImpl::TMSDOMTextImpl;
};
class TMSDOMComment final : public TMSDOMCharacterData<IDOMComment> {
 public:
  using TMSDOMCharacterData::TMSDOMCharacterData;
};

class TMSDOMEntityReference final : public TMSDOMNode<IDOMEntityReference> {
 public:
  using TMSDOMNode::TMSDOMNode;
};
class TMSDOMDocumentFragment final : public TMSDOMNode<IDOMDocumentFragment> {
 public:
  using TMSDOMNode::TMSDOMNode;
};

class TMSDOMEntity final : public TMSDOMNode<IDOMEntity> {
 public:
  using TMSDOMNode::TMSDOMNode;
  UnicodeString get_publicId() override { return Id(&IXMLDOMEntity::get_publicId); }
  UnicodeString get_systemId() override { return Id(&IXMLDOMEntity::get_systemId); }
  UnicodeString get_notationName() override {
    return Safe([&] {
      Bstr name;
      OleCheck(MS<IXMLDOMEntity>()->get_notationName(name.put()));
      return name.Text();
    });
  }

 private:
  UnicodeString Id(::HRESULT (STDMETHODCALLTYPE IXMLDOMEntity::*get)(VARIANT*)) {
    return Safe([&] {
      OleVariant v;
      OleCheck((MS<IXMLDOMEntity>().get()->*get)(v.put()));
      return v.ToText();
    });
  }
};

class TMSDOMNotation final : public TMSDOMNode<IDOMNotation> {
 public:
  using TMSDOMNode::TMSDOMNode;
  UnicodeString get_publicId() override { return Id(&IXMLDOMNotation::get_publicId); }
  UnicodeString get_systemId() override { return Id(&IXMLDOMNotation::get_systemId); }

 private:
  UnicodeString Id(::HRESULT (STDMETHODCALLTYPE IXMLDOMNotation::*get)(VARIANT*)) {
    return Safe([&] {
      OleVariant v;
      OleCheck((MS<IXMLDOMNotation>().get()->*get)(v.put()));
      return v.ToText();
    });
  }
};

class TMSDOMDocumentType final : public TMSDOMNode<IDOMDocumentType> {
 public:
  using TMSDOMNode::TMSDOMNode;
  UnicodeString get_name() override {
    return Safe([&] {
      Bstr name;
      OleCheck(MS<IXMLDOMDocumentType>()->get_name(name.put()));
      return name.Text();
    });
  }
  IntfPtr<IDOMNamedNodeMap> get_entities() override {
    return Map(&IXMLDOMDocumentType::get_entities);
  }
  IntfPtr<IDOMNamedNodeMap> get_notations() override {
    return Map(&IXMLDOMDocumentType::get_notations);
  }
  UnicodeString get_publicId() override {
    return Safe([&]() -> UnicodeString { Refuse(u"get_publicId"); });
  }
  UnicodeString get_systemId() override {
    return Safe([&]() -> UnicodeString { Refuse(u"get_systemId"); });
  }
  UnicodeString get_internalSubset() override {
    return Safe([&]() -> UnicodeString { Refuse(u"get_internalSubset"); });
  }

 private:
  IntfPtr<IDOMNamedNodeMap> Map(
      ::HRESULT (STDMETHODCALLTYPE IXMLDOMDocumentType::*get)(IXMLDOMNamedNodeMap**)) {
    return Safe([&] {
      ComPtr<IXMLDOMNamedNodeMap> map;
      OleCheck((MS<IXMLDOMDocumentType>().get()->*get)(map.put()));
      return map ? IntfPtr<IDOMNamedNodeMap>(new TMSDOMNamedNodeMap(map.get(), nullptr))
                 : IntfPtr<IDOMNamedNodeMap>();
    });
  }
};

class TMSDOMProcessingInstruction final : public TMSDOMNode<IDOMProcessingInstruction> {
 public:
  using TMSDOMNode::TMSDOMNode;
  UnicodeString get_target() override {
    return Safe([&] {
      Bstr t;
      OleCheck(MS<IXMLDOMProcessingInstruction>()->get_target(t.put()));
      return t.Text();
    });
  }
  UnicodeString get_data() override {
    return Safe([&] {
      Bstr d;
      OleCheck(MS<IXMLDOMProcessingInstruction>()->get_data(d.put()));
      return d.Text();
    });
  }
  void set_data(const UnicodeString& data) override {
    Safe([&] { OleCheck(MS<IXMLDOMProcessingInstruction>()->put_data(Bstr(data).get())); });
  }
};

class TMSDOMDocument final
    : public TMSDOMNode<IDOMDocument, IDOMParseOptions, IDOMPersist, IDOMParseError> {
 public:
  explicit TMSDOMDocument(IXMLDOMNode* node)
      : TMSDOMNode(node), FMSDocument(node ? FMSNode.As<IXMLDOMDocument>() : nullptr) {
    if (!FMSDocument) throw DOMException(u"The MSXML node is not a document");
  }

  // IDOMDocument
  IntfPtr<IDOMDocumentType> get_doctype() override {
    return Safe([&] {
      ComPtr<IXMLDOMDocumentType> type;
      OleCheck(FMSDocument->get_doctype(type.put()));
      return WrappedAs<IDOMDocumentType>(type.get());
    });
  }
  IntfPtr<IDOMImplementation> get_domImplementation() override {
    return Safe([&] {
      ComPtr<IXMLDOMImplementation> impl;
      OleCheck(FMSDocument->get_implementation(impl.put()));
      return IntfPtr<IDOMImplementation>(new TMSDOMImplementation(impl.get()));
    });
  }
  IntfPtr<IDOMElement> get_documentElement() override {
    return Safe([&] {
      ComPtr<IXMLDOMElement> root;
      OleCheck(FMSDocument->get_documentElement(root.put()));
      return WrappedAs<IDOMElement>(root.get());
    });
  }
  void set_documentElement(IDOMElement* element) override {
    Safe([&] {
      OleCheck(FMSDocument->putref_documentElement(MSAs<IXMLDOMElement>(element).get()));
    });
  }
  IntfPtr<IDOMElement> createElement(const UnicodeString& tagName) override {
    return Create<IDOMElement, IXMLDOMElement>(&IXMLDOMDocument::createElement, tagName);
  }
  IntfPtr<IDOMDocumentFragment> createDocumentFragment() override {
    return Safe([&] {
      ComPtr<IXMLDOMDocumentFragment> node;
      OleCheck(FMSDocument->createDocumentFragment(node.put()));
      return WrappedAs<IDOMDocumentFragment>(node.get());
    });
  }
  IntfPtr<IDOMText> createTextNode(const UnicodeString& data) override {
    return Create<IDOMText, IXMLDOMText>(&IXMLDOMDocument::createTextNode, data);
  }
  IntfPtr<IDOMComment> createComment(const UnicodeString& data) override {
    return Create<IDOMComment, IXMLDOMComment>(&IXMLDOMDocument::createComment, data);
  }
  IntfPtr<IDOMCDATASection> createCDATASection(const UnicodeString& data) override {
    return Create<IDOMCDATASection, IXMLDOMCDATASection>(&IXMLDOMDocument::createCDATASection,
                                                         data);
  }
  IntfPtr<IDOMProcessingInstruction> createProcessingInstruction(
      const UnicodeString& target, const UnicodeString& data) override {
    return Safe([&] {
      ComPtr<IXMLDOMProcessingInstruction> node;
      OleCheck(FMSDocument->createProcessingInstruction(Bstr(target).get(), Bstr(data).get(),
                                                        node.put()));
      return WrappedAs<IDOMProcessingInstruction>(node.get());
    });
  }
  IntfPtr<IDOMAttr> createAttribute(const UnicodeString& name) override {
    return Create<IDOMAttr, IXMLDOMAttribute>(&IXMLDOMDocument::createAttribute, name);
  }
  IntfPtr<IDOMEntityReference> createEntityReference(const UnicodeString& name) override {
    return Create<IDOMEntityReference, IXMLDOMEntityReference>(
        &IXMLDOMDocument::createEntityReference, name);
  }
  IntfPtr<IDOMNodeList> getElementsByTagName(const UnicodeString& tagName) override {
    return Safe([&] {
      ComPtr<IXMLDOMNodeList> list;
      OleCheck(FMSDocument->getElementsByTagName(Bstr(tagName).get(), list.put()));
      return WrapList(list.get());
    });
  }
  IntfPtr<IDOMNode> importNode(IDOMNode*, bool) override {
    return Safe([&]() -> IntfPtr<IDOMNode> { Refuse(u"importNode"); });
  }
  IntfPtr<IDOMElement> createElementNS(const UnicodeString& namespaceURI,
                                       const UnicodeString& qualifiedName) override {
    return CreateNS<IDOMElement>(NODE_ELEMENT, namespaceURI, qualifiedName);
  }
  IntfPtr<IDOMAttr> createAttributeNS(const UnicodeString& namespaceURI,
                                      const UnicodeString& qualifiedName) override {
    return CreateNS<IDOMAttr>(NODE_ATTRIBUTE, namespaceURI, qualifiedName);
  }
  IntfPtr<IDOMNodeList> getElementsByTagNameNS(const UnicodeString&,
                                               const UnicodeString&) override {
    return Safe([&]() -> IntfPtr<IDOMNodeList> { Refuse(u"getElementsByTagNameNS"); });
  }
  IntfPtr<IDOMElement> getElementById(const UnicodeString&) override {
    return Safe([&]() -> IntfPtr<IDOMElement> { Refuse(u"getElementById"); });
  }

  // IDOMParseOptions
  bool get_async() override { return Flag(&IXMLDOMDocument::get_async); }
  bool get_preserveWhiteSpace() override { return Flag(&IXMLDOMDocument::get_preserveWhiteSpace); }
  bool get_resolveExternals() override { return Flag(&IXMLDOMDocument::get_resolveExternals); }
  bool get_validate() override { return Flag(&IXMLDOMDocument::get_validateOnParse); }
  void set_async(bool value) override { SetFlag(&IXMLDOMDocument::put_async, value); }
  void set_preserveWhiteSpace(bool value) override {
    SetFlag(&IXMLDOMDocument::put_preserveWhiteSpace, value);
  }
  void set_resolveExternals(bool value) override {
    SetFlag(&IXMLDOMDocument::put_resolveExternals, value);
  }
  void set_validate(bool value) override { SetFlag(&IXMLDOMDocument::put_validateOnParse, value); }

  // IDOMPersist
  UnicodeString get_xml() override { return TMSDOMNode::get_xml(); }
  std::int32_t asyncLoadState() override {
    return Safe([&] {
      long state = 0;
      OleCheck(FMSDocument->get_readyState(&state));
      return static_cast<std::int32_t>(state);
    });
  }
  bool load(const Variant& source) override {
    return Safe([&] {
      // A file is read by MSXML itself; only its name passes here, so the
      // hostile-input check relies on the MSXML properties.
      FLocalError.reset();
      Harden();
      OleVariant v;
      ToOleVariant(source, v);
      VARIANT_BOOL ok = VARIANT_FALSE;
      const ::HRESULT code = FMSDocument->load(v.get(), &ok);
      return Loaded(code, ok);
    });
  }
  bool loadFromStream(TStream& stream) override {
    return Safe([&] {
      FLocalError.reset();
      const std::int64_t start = stream.Position();
      const std::string bytes = stream.ReadRest();
      stream.SetPosition(start);
      TLocalParseError error;
      if (!CheckHostileBytes(bytes, error)) return Refused(std::move(error));
      Harden();
      OleVariant v;
      VARIANT* p = v.put();
      p->vt = VT_UNKNOWN;
      p->punkVal = new TStreamAdapter(stream);  // the variant holds the one reference
      VARIANT_BOOL ok = VARIANT_FALSE;
      const ::HRESULT code = FMSDocument->load(v.get(), &ok);
      return Loaded(code, ok);
    });
  }
  bool loadxml(const UnicodeString& value) override {
    return Safe([&] {
      FLocalError.reset();
      TLocalParseError error;
      if (!CheckHostile(value.data(), value.size(), error)) return Refused(std::move(error));
      Harden();
      VARIANT_BOOL ok = VARIANT_FALSE;
      const ::HRESULT code = FMSDocument->loadXML(Bstr(value).get(), &ok);
      return Loaded(code, ok);
    });
  }
  void save(const Variant& destination) override {
    Safe([&] {
      OleVariant v;
      ToOleVariant(destination, v);
      OleCheck(FMSDocument->save(v.get()));
    });
  }
  void saveToStream(TStream& stream) override {
    Safe([&] {
      OleVariant v;
      VARIANT* p = v.put();
      p->vt = VT_UNKNOWN;
      p->punkVal = new TStreamAdapter(stream);
      OleCheck(FMSDocument->save(v.get()));
    });
  }
  // Kept only: every load of this system is synchronous (async false), so
  // no load-state change is ever reported to it.
  void set_OnAsyncLoad(TAsyncEventHandler handler) override { FOnAsyncLoad = std::move(handler); }

  // IDOMParseError
  std::int32_t get_errorCode() override {
    // Our refusals before the parse report E_FAIL: any non-zero code will do.
    if (FLocalError) return static_cast<std::int32_t>(E_FAIL);
    return Number(&IXMLDOMParseError::get_errorCode);
  }
  UnicodeString get_url() override {
    if (FLocalError) return {};
    return Str(&IXMLDOMParseError::get_url);
  }
  UnicodeString get_reason() override {
    if (FLocalError) return FLocalError->Reason;
    return Str(&IXMLDOMParseError::get_reason);
  }
  UnicodeString get_srcText() override {
    if (FLocalError) return FLocalError->SrcText;
    return Str(&IXMLDOMParseError::get_srcText);
  }
  std::int32_t get_line() override {
    if (FLocalError) return FLocalError->Line;
    return Number(&IXMLDOMParseError::get_line);
  }
  std::int32_t get_linepos() override {
    if (FLocalError) return FLocalError->LinePos;
    return Number(&IXMLDOMParseError::get_linepos);
  }
  std::int32_t get_filepos() override {
    if (FLocalError) return FLocalError->FilePos;
    return Number(&IXMLDOMParseError::get_filepos);
  }

 private:
  template <class I, class M>
  IntfPtr<I> Create(::HRESULT (STDMETHODCALLTYPE IXMLDOMDocument::*create)(BSTR, M**),
                    const UnicodeString& text) {
    return Safe([&] {
      ComPtr<M> node;
      OleCheck((FMSDocument.get()->*create)(Bstr(text).get(), node.put()));
      return WrappedAs<I>(node.get());
    });
  }
  template <class I>
  IntfPtr<I> CreateNS(DOMNodeType type, const UnicodeString& namespaceURI,
                      const UnicodeString& qualifiedName) {
    return Safe([&] {
      OleVariant t;
      VARIANT* p = t.put();
      p->vt = VT_I4;
      p->lVal = type;
      ComPtr<IXMLDOMNode> node;
      OleCheck(FMSDocument->createNode(t.get(), Bstr(qualifiedName).get(), Bstr(namespaceURI).get(),
                                       node.put()));
      return Wrapped<I>(node.get());
    });
  }
  bool Flag(::HRESULT (STDMETHODCALLTYPE IXMLDOMDocument::*get)(VARIANT_BOOL*)) {
    return Safe([&] {
      VARIANT_BOOL b = VARIANT_FALSE;
      OleCheck((FMSDocument.get()->*get)(&b));
      return b != VARIANT_FALSE;
    });
  }
  void SetFlag(::HRESULT (STDMETHODCALLTYPE IXMLDOMDocument::*put)(VARIANT_BOOL), bool value) {
    Safe([&] { OleCheck((FMSDocument.get()->*put)(VBool(value))); });
  }
  ComPtr<IXMLDOMParseError> ParseError() {
    ComPtr<IXMLDOMParseError> error;
    OleCheck(FMSDocument->get_parseError(error.put()));
    if (!error) throw DOMException(u"MSXML gave no parse error");
    return error;
  }
  std::int32_t Number(::HRESULT (STDMETHODCALLTYPE IXMLDOMParseError::*get)(long*)) {
    return Safe([&] {
      long n = 0;
      OleCheck((ParseError().get()->*get)(&n));
      return static_cast<std::int32_t>(n);
    });
  }
  UnicodeString Str(::HRESULT (STDMETHODCALLTYPE IXMLDOMParseError::*get)(BSTR*)) {
    return Safe([&] {
      Bstr text;
      OleCheck((ParseError().get()->*get)(text.put()));
      return text.Text();
    });
  }
  // The MSXML versions that know them refuse DTDs and bound the depth
  // themselves; one that does not keeps its defaults, and the check before
  // the parse stands alone.
  void Harden() {
    ComPtr<IXMLDOMDocument2> doc2 = FMSDocument.As<IXMLDOMDocument2>();
    if (!doc2) return;
    OleVariant yes;
    VARIANT* y = yes.put();
    y->vt = VT_BOOL;
    y->boolVal = VARIANT_TRUE;
    doc2->setProperty(Bstr(u"ProhibitDTD").get(), yes.get());
    OleVariant depth;
    VARIANT* d = depth.put();
    d->vt = VT_I4;
    d->lVal = static_cast<LONG>(kMaxParseDepth);
    doc2->setProperty(Bstr(u"MaxElementDepth").get(), depth.get());
    ::SetErrorInfo(0, nullptr);
  }
  // A text that did not parse is a false result, not a failure, also from
  // an MSXML that reports it with a failure code besides its parse error.
  bool Loaded(::HRESULT code, VARIANT_BOOL ok) {
    if (FAILED(code)) {
      long error = 0;
      ComPtr<IXMLDOMParseError> parseError;
      if (SUCCEEDED(FMSDocument->get_parseError(parseError.put())) && parseError &&
          SUCCEEDED(parseError->get_errorCode(&error)) && error != 0)
        return false;
      OleCheck(code);
    }
    return ok != VARIANT_FALSE;
  }
  bool Refused(TLocalParseError error) {
    FLocalError = std::make_unique<TLocalParseError>(std::move(error));
    return false;
  }

  ComPtr<IXMLDOMDocument> FMSDocument;
  std::unique_ptr<TLocalParseError> FLocalError;
  TAsyncEventHandler FOnAsyncLoad;
};

IntfPtr<IDOMDocument> TMSDOMImplementation::createDocument(const UnicodeString&,
                                                           const UnicodeString&,
                                                           IDOMDocumentType*) {
  return Safe([&] {
    ComPtr<IXMLDOMDocument> doc = TMSXMLDOMDocumentFactory::CreateDOMDocument();
    return WrappedAs<IDOMDocument>(doc.get());
  });
}

TMSDOMImplementationFactory* MSXML_DOM = nullptr;

bool SameTextAscii(UnicodeStringView a, UnicodeStringView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

IntfPtr<IDOMNode> MakeNode(IXMLDOMNode* node) {
  if (!node) return {};
  DOMNodeType type = NODE_INVALID;
  OleCheck(node->get_nodeType(&type));
  IDOMNode* wrapper = nullptr;
  switch (type) {
    case NODE_ELEMENT:
      wrapper = static_cast<IDOMElement*>(new TMSDOMElement(node));
      break;
    case NODE_ATTRIBUTE:
      wrapper = static_cast<IDOMAttr*>(new TMSDOMAttr(node));
      break;
    case NODE_TEXT:
      wrapper = static_cast<IDOMText*>(new TMSDOMText(node));
      break;
    case NODE_CDATA_SECTION:
      wrapper = static_cast<IDOMCDATASection*>(new TMSDOMCDATASection(node));
      break;
    case NODE_ENTITY_REFERENCE:
      wrapper = static_cast<IDOMEntityReference*>(new TMSDOMEntityReference(node));
      break;
    case NODE_ENTITY:
      wrapper = static_cast<IDOMEntity*>(new TMSDOMEntity(node));
      break;
    case NODE_PROCESSING_INSTRUCTION:
      wrapper = static_cast<IDOMProcessingInstruction*>(new TMSDOMProcessingInstruction(node));
      break;
    case NODE_COMMENT:
      wrapper = static_cast<IDOMComment*>(new TMSDOMComment(node));
      break;
    case NODE_DOCUMENT:
      wrapper = static_cast<IDOMDocument*>(new TMSDOMDocument(node));
      break;
    case NODE_DOCUMENT_TYPE:
      wrapper = static_cast<IDOMDocumentType*>(new TMSDOMDocumentType(node));
      break;
    case NODE_DOCUMENT_FRAGMENT:
      wrapper = static_cast<IDOMDocumentFragment*>(new TMSDOMDocumentFragment(node));
      break;
    case NODE_NOTATION:
      wrapper = static_cast<IDOMNotation*>(new TMSDOMNotation(node));
      break;
    default:
      throw DOMException(Format(u"Unknown MSXML node type %d", {static_cast<int>(type)}));
  }
  return IntfPtr<IDOMNode>(wrapper);
}

void TMSXMLDOMDocumentFactory::Initialize() {
  FDOMDocumentCoClasses = {CLASS_DOMDocument60, CLASS_DOMDocument40, CLASS_DOMDocument30,
                           CLASS_DOMDocument26, CLASS_DOMDocument};
  if (!MSXML6_ProhibitDTD) AddDOMProperty(u"ProhibitDTD", Variant(false), true);
}

void TMSXMLDOMDocumentFactory::Finalize() {
  FDOMProperties.clear();
  FDOMDocumentCoClasses.clear();
}

ComPtr<IXMLDOMDocument> TMSXMLDOMDocumentFactory::CreateDOMDocument() {
  ComPtr<IDispatch> object;
  for (const GUID& clsid : FDOMDocumentCoClasses) {
    if (::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                           IID_IDispatch, reinterpret_cast<void**>(object.put())) == S_OK)
      break;
    object.reset();
  }
  ComPtr<IXMLDOMDocument> doc = object.As<IXMLDOMDocument>();
  if (!doc) throw DOMException(u"Microsoft MSXML is not installed");
  if (!FDOMProperties.empty()) {
    ComPtr<IXMLDOMDocument2> doc2 = doc.As<IXMLDOMDocument2>();
    for (TDOMProperty& property : FDOMProperties) {
      if (!doc2 || property.Value.IsNull()) continue;
      OleVariant value;
      ToOleVariant(property.Value, value);
      try {
        OleCheck(doc2->setProperty(Bstr(property.Name).get(), value.get()));
      } catch (const EOleException& e) {
        property.Value = Variant::Null();  // later documents do not try it again
        throw DOMException(u"%s: %s", {e.Message(), property.Name});
      }
    }
  }
  return doc;
}

void TMSXMLDOMDocumentFactory::AddDOMProperty(const UnicodeString& name, const Variant& value,
                                              bool updateExisting) {
  for (TDOMProperty& property : FDOMProperties) {
    if (SameTextAscii(property.Name, name)) {
      if (updateExisting) property.Value = value;
      return;
    }
  }
  FDOMProperties.push_back({name, value});
}

IntfPtr<IDOMImplementation> TMSDOMImplementationFactory::DOMImplementation() {
  return IntfPtr<IDOMImplementation>(new TMSDOMImplementation(nullptr));
}

void RegisterMSXMLVendor() {
  if (MSXML_DOM) return;
  TMSXMLDOMDocumentFactory::Initialize();
  auto vendor = std::make_unique<TMSDOMImplementationFactory>();
  RegisterDOMVendor(vendor.get());
  MSXML_DOM = vendor.release();
}

void UnregisterMSXMLVendor() {
  if (!MSXML_DOM) return;
  UnRegisterDOMVendor(MSXML_DOM);
  delete std::exchange(MSXML_DOM, nullptr);
  TMSXMLDOMDocumentFactory::Finalize();
}

}  // namespace delvan::platform::win32
