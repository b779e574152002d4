// TXMLDocument: opening and closing over a DOM document, loading and
// saving, the XML declaration held as a processing instruction, and the
// parse-failure exception.
#include "xml/XMLDoc.h"

#include "platform/CodePage.h"
#include "xml/XMLNodePool.h"

namespace delvan::xml {

constinit const TClass TXMLDocument::StaticClass = rtl::DefineClass<TXMLDocument, TComponent>(
    TXMLDocument::StaticClass, u"TXMLDocument", u"Xml.XMLDoc");

namespace {

constexpr UnicodeStringView kPrologNames[] = {u"version", u"encoding", u"standalone"};

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// Where the item name's value lies in declaration data: [begin, end) of
// the text between its quotes. False when the item is not there.
bool FindItem(UnicodeStringView data, UnicodeStringView name, std::size_t& begin,
              std::size_t& end) {
  std::size_t at = data.find(name);
  if (at == UnicodeStringView::npos) return false;
  std::size_t q = data.find_first_of(u"\"'", at + name.size());
  if (q == UnicodeStringView::npos) return false;
  // The closing quote is the same kind as the opening one.
  std::size_t e = data.find(data[q], q + 1);
  if (e == UnicodeStringView::npos) return false;
  begin = q + 1;
  end = e;
  return true;
}

// Text handed to LoadFromXML is already decoded: an encoding item of its
// declaration other than a UTF-16 one is cut out, with the space before
// it, and a leading byte-order mark is dropped.
UnicodeString PrepareXMLData(UnicodeString text) {
  std::size_t at = UnicodeStringView(text).substr(0, 50).find(u"encoding");
  std::size_t declStart = text.starts_with(u'\uFEFF') ? 1 : 0;
  // Only an item inside the declaration itself is cut: the same word in
  // an element of a text without declaration stays.
  std::size_t declEnd = text.find(u"?>");
  if (at != UnicodeString::npos &&
      UnicodeStringView(text).substr(declStart).starts_with(u"<?xml") &&
      declEnd != UnicodeString::npos && at < declEnd) {
    std::size_t q = text.find_first_of(u"\"'", at + 8);
    std::size_t e = q == UnicodeString::npos ? q : text.find(text[q], q + 1);
    bool onlyEquals =
        q != UnicodeString::npos &&
        UnicodeStringView(text).substr(at + 8, q - at - 8).find_first_not_of(u" \t\r\n=") ==
            UnicodeStringView::npos;
    if (e != UnicodeString::npos && e < declEnd && onlyEquals) {
      UnicodeStringView value = UnicodeStringView(text).substr(q + 1, e - q - 1);
      if (!rtl::SameTextAscii(value, u"UTF-16") && !rtl::SameTextAscii(value, u"UCS-2") &&
          !rtl::SameTextAscii(value, u"UNICODE")) {
        // Cut exactly the item, however its "=" is spaced.
        std::size_t from = at > 0 && IsSpace(text[at - 1]) ? at - 1 : at;
        text.erase(from, e + 1 - from);
      }
    }
  }
  if (text.starts_with(u'\uFEFF')) text.erase(0, 1);
  return text;
}

TXMLLines SplitLines(UnicodeStringView text) {
  TXMLLines lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

}  // namespace

TXMLEncodingType DetectCharEncoding(std::string_view bytes) {
  auto starts = [&](std::initializer_list<unsigned char> b) {
    if (bytes.size() < b.size()) return false;
    std::size_t i = 0;
    for (unsigned char c : b)
      if (static_cast<unsigned char>(bytes[i++]) != c) return false;
    return true;
  };
  if (starts({0x00, 0x00, 0xFE, 0xFF})) return xetUCS_4BE;
  if (starts({0xFF, 0xFE, 0x00, 0x00})) return xetUCS_4LE;
  if (starts({0x00, 0x00, 0xFF, 0xFE})) return xetUCS_4Order2134;
  if (starts({0xFE, 0xFF, 0x00, 0x00})) return xetUCS_4Order3412;
  if (starts({0xFE, 0xFF})) return xetUTF_16BE;
  if (starts({0xFF, 0xFE})) return xetUTF_16LE;
  if (starts({0xEF, 0xBB, 0xBF})) return xetUTF_8;
  if (starts({0x00, 0x00, 0x00, 0x3C}) || starts({0x3C, 0x00, 0x00, 0x00}) ||
      starts({0x00, 0x00, 0x3C, 0x00}) || starts({0x00, 0x3C, 0x00, 0x00}))
    return xetUCS_4Like;
  if (starts({0x00, 0x3C, 0x00, 0x3F})) return xetUTF_16BELike;
  if (starts({0x3C, 0x00, 0x3F, 0x00})) return xetUTF_16LELike;
  if (starts({0x3C, 0x3F, 0x78, 0x6D})) return xetUTF_8Like;
  if (starts({0x4C, 0x6F, 0xA7, 0x94})) return xetEBCDICLike;
  return xetUnknown;
}

EDOMParseError::EDOMParseError(IntfPtr<IDOMParseError> parseError)
    : Exception(u"%s%s%s: %d%s%s",
                {parseError->get_reason(), u"\r\n", u"Line", parseError->get_line(), u"\r\n",
                 parseError->get_srcText().substr(0, 40)}),
      FParseError(std::move(parseError)) {}

// ---- Life -------------------------------------------------------------------------

TXMLDocument::TXMLDocument(TComponent* owner)
    : TComponent(owner),
      FOwnerIsComponent(owner != nullptr),
      FSelf(std::allocate_shared<TXMLDocument*>(TPoolAllocator<TXMLDocument*>(), this)) {}

TXMLDocument::~TXMLDocument() {
  // Nodes that outlive the document see it gone from here on.
  *FSelf = nullptr;
  FDocumentNode.reset();
}

HRESULT TXMLDocument::QueryInterface(const TGUID& iid, void** obj) {
  if (!obj) return E_POINTER;
  if (iid == IInterface::IID || iid == IXMLDocument::IID) {
    *obj = static_cast<IXMLDocument*>(this);
    _AddRef();
    return S_OK;
  }
  *obj = nullptr;
  return E_NOINTERFACE;
}

std::int32_t TXMLDocument::_AddRef() {
  return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::int32_t TXMLDocument::_Release() {
  std::int32_t n = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  // An owned document is freed by its owner, never by its count.
  if (n == 0 && !FOwnerIsComponent) delete this;
  return n;
}

void TXMLDocument::CheckActive() {
  if (!GetActive()) throw EXMLDocError(u"No active document");
}

void TXMLDocument::SetModified() { ++FModified; }

void TXMLDocument::SetActive(bool value) {
  if (value == GetActive()) return;
  if (value)
    Open();
  else
    Close();
}

void TXMLDocument::Open() {
  if (BeforeOpen) BeforeOpen(this);
  if (!FDOMImplementation)
    FDOMImplementation = FDOMVendor ? FDOMVendor->DOMImplementation() : GetDOM(DefaultDOMVendor);
  FDOMDocument = FDOMImplementation->createDocument(u"", u"", nullptr);
  FDOMNamespaceScan = QueryIntf<IDOMNamespaceDeclScan>(FDOMDocument);
  FDOMNodeQuery = QueryIntf<IDOMNodeQuery>(FDOMDocument);
  FDOMTreeEdit = QueryIntf<IDOMTreeEdit>(FDOMDocument);
  try {
    LoadData();
  } catch (...) {
    ReleaseDoc(false);
    throw;
  }
  if (AfterOpen) AfterOpen(this);
}

void TXMLDocument::Close() {
  if (BeforeClose) BeforeClose(this);
  ReleaseDoc(true);
  if (AfterClose) AfterClose(this);
}

void TXMLDocument::LoadData() {
  FDocSource = xdsNone;
  FXMLStrRead = -1;
  FDOMPersist = QueryIntf<IDOMPersist>(FDOMDocument);
  FDOMParseOptions = QueryIntf<IDOMParseOptions>(FDOMDocument);
  if (FDOMParseOptions) {
    FDOMParseOptions->set_preserveWhiteSpace(FParseOptions.Contains(poPreserveWhiteSpace));
    FDOMParseOptions->set_resolveExternals(FParseOptions.Contains(poResolveExternals));
    FDOMParseOptions->set_validate(FParseOptions.Contains(poValidateOnParse));
    FDOMParseOptions->set_async(FParseOptions.Contains(poAsyncLoad));
    if (FOnAsyncLoad && FDOMPersist) FDOMPersist->set_OnAsyncLoad(FOnAsyncLoad);
  } else if (!FParseOptions.IsEmpty()) {
    throw EXMLDocError(u"DOM Implementation does not support IDOMParseOptions");
  }
  const bool hasSource =
      !FXMLStrings.empty() || !FXMLData.empty() || FSrcStream || !FFileName.empty();
  if (hasSource && !FDOMPersist) DOMNodeExNotSupported();
  bool ok = true;
  if (!FXMLStrings.empty()) {
    UnicodeString text;
    // Lines are joined with CR LF, as the text of a list of lines reads.
    for (const UnicodeString& line : FXMLStrings) text.append(line).append(u"\r\n");
    FDocSource = xdsXMLProperty;
    FXMLStrRead = 0;
    ok = FDOMPersist->loadxml(text);
  } else if (!FXMLData.empty()) {
    UnicodeString text = PrepareXMLData(std::move(FXMLData));
    FXMLData.clear();
    FDocSource = xdsXMLData;
    ok = FDOMPersist->loadxml(text);
  } else if (FSrcStream) {
    TStream* stream = std::exchange(FSrcStream, nullptr);
    stream->SetPosition(0);
    FDocSource = xdsStream;
    ok = FDOMPersist->loadFromStream(*stream);
  } else if (!FFileName.empty()) {
    FDocSource = xdsFile;
    ok = FDOMPersist->load(Variant(FFileName));
  }
  if (!ok) {
    FDocSource = xdsNone;
    IntfPtr<IDOMParseError> error = QueryIntf<IDOMParseError>(FDOMDocument);
    if (!error) throw EXMLDocError(u"The document could not be parsed");
    throw EDOMParseError(std::move(error));
  }
  FModified = 0;
}

void TXMLDocument::ReleaseDoc(bool checkSave) {
  if (checkSave && FOptions.Contains(doAutoSave) && GetModified()) {
    if (FDocSource == xdsXMLProperty)
      SaveToXMLLines();
    else if (FDocSource == xdsFile)
      SaveToFile(FFileName);
  }
  FDocumentNode.reset();
  FDOMPersist.reset();
  FDOMParseOptions.reset();
  FDOMNamespaceScan.reset();
  FDOMNodeQuery.reset();
  FDOMTreeEdit.reset();
  FDOMDocument.reset();
  FPrefixID = 0;
  FModified = 0;
  if (FDocSource == xdsXMLData || FDocSource == xdsFile || FDocSource == xdsStream)
    FXMLStrings.clear();
}

void TXMLDocument::SetDOMDocument(IDOMDocument* value) {
  SetActive(false);
  if (!value) return;
  FDOMDocument = IntfPtr<IDOMDocument>(value);
  FDOMNamespaceScan = QueryIntf<IDOMNamespaceDeclScan>(FDOMDocument);
  FDOMNodeQuery = QueryIntf<IDOMNodeQuery>(FDOMDocument);
  FDOMTreeEdit = QueryIntf<IDOMTreeEdit>(FDOMDocument);
  FDOMPersist = QueryIntf<IDOMPersist>(FDOMDocument);
  FDOMParseOptions = QueryIntf<IDOMParseOptions>(FDOMDocument);
  FDocSource = xdsNone;
  FXMLStrRead = -1;
}

std::int32_t TXMLDocument::GetAsyncLoadState() {
  return FDOMPersist ? FDOMPersist->asyncLoadState() : 0;
}

// ---- Tree -----------------------------------------------------------------------------

IntfPtr<IXMLNode> TXMLDocument::GetDocumentNode() {
  CheckActive();
  if (!FDocumentNode)
    FDocumentNode = IntfPtr<IXMLNode>(new TXMLNode(FDOMDocument.get(), nullptr, this));
  return FDocumentNode;
}

IntfPtr<IXMLNodeList> TXMLDocument::GetChildNodes() { return GetDocumentNode()->GetChildNodes(); }

IntfPtr<IXMLNode> TXMLDocument::GetDocumentElement() {
  IntfPtr<IXMLNodeList> children = GetChildNodes();
  for (std::int32_t i = children->GetCount() - 1; i >= 0; --i) {
    IntfPtr<IXMLNode> node = children->Get(i);
    if (node->GetNodeType() == ntElement) return node;
  }
  return {};
}

void TXMLDocument::SetDocumentElement(IXMLNode* value) {
  IntfPtr<IXMLNode> old = GetDocumentElement();
  if (old)
    GetChildNodes()->ReplaceNode(old.get(), value);
  else
    GetChildNodes()->Add(value);
}

IntfPtr<IXMLNode> TXMLDocument::AddChild(const UnicodeString& tagName) {
  return GetDocumentNode()->AddChild(tagName, -1);
}

IntfPtr<IXMLNode> TXMLDocument::AddChild(const UnicodeString& tagName,
                                         const UnicodeString& namespaceURI) {
  return GetDocumentNode()->AddChild(tagName, namespaceURI, false, -1);
}

IntfPtr<IXMLNode> TXMLDocument::CreateNode(const UnicodeString& nameOrData, TNodeType nodeType,
                                           const UnicodeString& addlData) {
  CheckActive();
  IntfPtr<IDOMNode> dom = CreateDOMNode(FDOMDocument.get(), nameOrData, nodeType, addlData);
  return IntfPtr<IXMLNode>(new TXMLNode(dom.get(), nullptr, this));
}

IntfPtr<IXMLNode> TXMLDocument::CreateElement(const UnicodeString& tagOrData,
                                              const UnicodeString& namespaceURI) {
  return CreateNode(tagOrData, ntElement, namespaceURI);
}

UnicodeString TXMLDocument::GeneratePrefix(IXMLNode* node) {
  if (!node) throw EXMLDocError(u"IDOMNode required");
  UnicodeString prefix;
  do {
    ++FPrefixID;
    prefix = FNSPrefixBase + rtl::IntToStr(FPrefixID);
  } while (!node->FindNamespaceURI(prefix).empty());
  return prefix;
}

bool TXMLDocument::IsEmptyDoc() { return !FDOMDocument || !FDOMDocument->hasChildNodes(); }

UnicodeString TXMLDocument::GetSchemaRef() {
  // The schema a document names for its unqualified content, if any.
  IntfPtr<IXMLNode> root = GetDocumentElement();
  if (!root) return {};
  Variant v = root->GetAttributeNS(u"noNamespaceSchemaLocation",
                                   u"http://www.w3.org/2001/XMLSchema-instance");
  return v.IsText() ? v.Text() : UnicodeString();
}

// ---- Declaration ------------------------------------------------------------------

IntfPtr<IXMLNode> TXMLDocument::PrologNode() {
  IntfPtr<IXMLNode> first = GetChildNodes()->First();
  if (first && first->GetNodeType() == ntProcessingInstr && first->GetNodeName() == u"xml")
    return first;
  return {};
}

UnicodeString TXMLDocument::GetPrologValue(TXMLPrologItem item, UnicodeStringView defaultValue) {
  CheckActive();
  if (IntfPtr<IDOMXMLProlog> prolog = QueryIntf<IDOMXMLProlog>(FDOMDocument)) {
    switch (item) {
      case xpVersion:
        return prolog->get_Version();
      case xpEncoding:
        return prolog->get_Encoding();
      case xpStandalone:
        return prolog->get_Standalone();
    }
  }
  IntfPtr<IXMLNode> node = PrologNode();
  if (!node) return UnicodeString(defaultValue);
  UnicodeString data = node->GetDOMNode()->get_nodeValue();
  std::size_t begin, end;
  if (!FindItem(data, kPrologNames[item], begin, end)) return UnicodeString(defaultValue);
  return data.substr(begin, end - begin);
}

void TXMLDocument::SetPrologValue(TXMLPrologItem item, const UnicodeString& value) {
  CheckActive();
  if (IntfPtr<IDOMXMLProlog> prolog = QueryIntf<IDOMXMLProlog>(FDOMDocument)) {
    switch (item) {
      case xpVersion:
        return prolog->set_Version(value);
      case xpEncoding:
        return prolog->set_Encoding(value);
      case xpStandalone:
        return prolog->set_Standalone(value);
    }
  }
  // The declaration's text is read once for the three items; the others
  // keep their values (the version defaults to 1.0) and empty ones go.
  IntfPtr<IXMLNode> old = PrologNode();
  const UnicodeString oldData = old ? old->GetDOMNode()->get_nodeValue() : UnicodeString();
  UnicodeString data;
  for (int i = 0; i < 3; ++i) {
    UnicodeStringView v;
    std::size_t begin, end;
    if (i == item)
      v = value;
    else if (old && FindItem(oldData, kPrologNames[i], begin, end))
      v = UnicodeStringView(oldData).substr(begin, end - begin);
    else if (i == xpVersion)
      v = u"1.0";
    if (v.empty()) continue;
    if (!data.empty()) data += u' ';
    data.append(kPrologNames[i]).append(u"=\"").append(v).append(1, u'"');
  }
  IntfPtr<IXMLNode> decl = CreateNode(u"xml", ntProcessingInstr, data);
  if (old)
    GetChildNodes()->ReplaceNode(old.get(), decl.get());
  else
    GetChildNodes()->Insert(0, decl.get());
}

// ---- Loading and saving -------------------------------------------------------------

void TXMLDocument::LoadFromFile(const UnicodeString& fileName) {
  SetActive(false);
  if (!fileName.empty()) FFileName = fileName;
  if (FFileName.empty()) throw EXMLDocError(u"FileName cannot be blank");
  FXMLData.clear();
  FXMLStrings.clear();
  SetActive(true);
}

void TXMLDocument::LoadFromStream(TStream& stream, TXMLEncodingType) {
  SetActive(false);
  FXMLStrings.clear();
  FXMLData.clear();
  FSrcStream = &stream;
  try {
    SetActive(true);
  } catch (...) {
    FSrcStream = nullptr;
    throw;
  }
}

void TXMLDocument::LoadFromXML(const UnicodeString& xml) {
  SetActive(false);
  FXMLStrings.clear();
  FXMLData = xml;
  SetActive(true);
}

void TXMLDocument::LoadFromXML(const AnsiString& xml) {
  TMemoryStream stream(xml.Bytes());
  LoadFromStream(stream);
}

void TXMLDocument::Refresh() {
  CheckActive();
  const TXMLDocumentSource source = FDocSource;
  // No auto-save: a refresh is asked for to drop the changes.
  ReleaseDoc(false);
  if (source != xdsXMLProperty && source != xdsFile)
    throw EXMLDocError(u"Refresh is only supported if the FileName or XML properties are set");
  SetActive(true);
}

void TXMLDocument::Resync() { FDocumentNode.reset(); }

void TXMLDocument::SaveToStream(TStream& stream) {
  CheckActive();
  if (!FDOMPersist) DOMNodeExNotSupported();
  FDOMPersist->saveToStream(stream);
  FModified = 0;
}

void TXMLDocument::SaveToXML(UnicodeString& xml) {
  CheckActive();
  if (!FDOMPersist) DOMNodeExNotSupported();
  xml = FDOMPersist->get_xml();
}

void TXMLDocument::SaveToXML(AnsiString& xml) {
  if (IsEmptyDoc()) {
    xml = AnsiString({}, platform::CP_UTF8);
    return;
  }
  TMemoryStream stream;
  SaveToStream(stream);
  const TXMLEncodingType detected = DetectCharEncoding(stream.View());
  // Bytes without byte-order mark are UTF-8 as they are when the
  // declaration names UTF-8 or no encoding.
  const UnicodeString declared = GetEncoding();
  const bool utf8 =
      detected == xetUTF_8 || ((detected == xetUTF_8Like || detected == xetUnknown) &&
                               (declared.empty() || rtl::SameTextAscii(declared, u"UTF-8")));
  if (utf8) {
    xml = AnsiString(std::string(stream.View()), platform::CP_UTF8);
    return;
  }
  UnicodeString text = FDOMPersist->get_xml();
  if (text.starts_with(u"<?xml")) {
    std::size_t declEnd = text.find(u"?>");
    std::size_t begin, end;
    if (declEnd != UnicodeString::npos &&
        FindItem(UnicodeStringView(text).substr(0, declEnd), u"encoding", begin, end))
      text.replace(begin, end - begin, u"UTF-8");
    else if (declEnd != UnicodeString::npos)
      text.insert(declEnd, u" encoding=\"UTF-8\"");
  }
  xml = AnsiString::Encode(text, platform::CP_UTF8);
}

void TXMLDocument::SaveToFile(const UnicodeString& fileName) {
  CheckActive();
  const UnicodeString name = fileName.empty() ? FFileName : fileName;
  // Saving without any name fails as loading does.
  if (name.empty()) throw EXMLDocError(u"FileName cannot be blank");
  if (!FDOMPersist) DOMNodeExNotSupported();
  FDOMPersist->save(Variant(name));
  FModified = 0;
}

void TXMLDocument::SaveToXMLLines() {
  FXMLStrings = SplitLines(FDOMPersist->get_xml());
  FXMLStrRead = FModified;
}

TXMLLines TXMLDocument::GetXML() {
  if (GetActive() && FDOMPersist && (FXMLStrRead < 0 || FXMLStrRead != FModified)) SaveToXMLLines();
  return FXMLStrings;
}

void TXMLDocument::SetXML(const TXMLLines& value) {
  SetActive(false);
  FXMLStrings = value;
  FFileName.clear();
}

IntfPtr<IXMLDocument> NewXMLDocument(const UnicodeString& version) {
  IntfPtr<IXMLDocument> doc(new TXMLDocument(nullptr));
  doc->SetActive(true);
  if (!version.empty()) doc->SetVersion(version);
  return doc;
}

}  // namespace delvan::xml
