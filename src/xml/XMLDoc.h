// The XML node model: documents, nodes and live node lists over the
// vendor-neutral DOM, with the namespace rules the SOAP envelopes rely on,
// variant node values, the XML declaration held as a processing
// instruction, and one exception layout for every parse failure.
//
// The data-binding facilities (node classes by tag, collections, second
// views of nodes, document bindings) are not part of this model: nothing in
// this system uses them.
//
// Lifetime: documents without owner and all nodes and lists are counted
// and die with their last reference. A parent's child list holds its
// children; a child names its parent, and a node its document, by a back
// reference that empties when the parent or the document goes, so a node
// kept longer than them never reaches freed memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "rtl/AnsiString.h"
#include "rtl/Component.h"
#include "rtl/Exception.h"
#include "rtl/Interface.h"
#include "rtl/Set.h"
#include "rtl/Stream.h"
#include "rtl/Variant.h"
#include "xml/DOMNamespaceScan.h"
#include "xml/DOMNodeQuery.h"
#include "xml/DOMTreeEdit.h"
#include "xml/XMLNames.h"
#include "xml/XMLNodePool.h"
#include "xml/xmldom.h"

namespace delvan::xml {

enum TNodeType : std::uint8_t {
  ntReserved,
  ntElement,
  ntAttribute,
  ntText,
  ntCData,
  ntEntityRef,
  ntEntity,
  ntProcessingInstr,
  ntComment,
  ntDocument,
  ntDocType,
  ntDocFragment,
  ntNotation,
};

enum TXMLDocOption : std::uint8_t {
  doNodeAutoCreate,
  doNodeAutoIndent,
  doAttrNull,
  doAutoPrefix,
  doNamespaceDecl,
  doAutoSave,
};
using TXMLDocOptions = TSet<TXMLDocOption>;

enum TParseOption : std::uint8_t {
  poResolveExternals,
  poValidateOnParse,
  poPreserveWhiteSpace,
  poAsyncLoad,
};
using TParseOptions = TSet<TParseOption>;

enum TXMLEncodingType : std::uint8_t {
  xetUnknown,
  xetUCS_4BE,
  xetUCS_4LE,
  xetUCS_4Order2134,
  xetUCS_4Order3412,
  xetUTF_16BE,
  xetUTF_16LE,
  xetUTF_8,
  xetUCS_4Like,
  xetUTF_16BELike,
  xetUTF_16LELike,
  xetUTF_8Like,
  xetEBCDICLike,
};

enum TXMLDocumentSource : std::uint8_t { xdsNone, xdsXMLProperty, xdsXMLData, xdsFile, xdsStream };
enum TXMLPrologItem : std::uint8_t { xpVersion, xpEncoding, xpStandalone };
enum TNodeChange : std::uint8_t {
  ncUpdateValue,
  ncInsertChild,
  ncRemoveChild,
  ncAddAttribute,
  ncRemoveAttribute,
};
enum TNodeListOperation : std::uint8_t { nlInsert, nlRemove, nlCreateNode };

// Booleans are written as XSDBoolStrs while this is true.
inline bool UseXSDBooleanStrings = true;
inline constexpr UnicodeStringView XSDBoolStrs[2] = {u"false", u"true"};
inline constexpr UnicodeStringView DefaultNodeIndent = u"  ";

// Encoding family of the first bytes of an XML text (byte-order mark or
// the bytes of "<?xm"), after the XML recommendation's detection table.
TXMLEncodingType DetectCharEncoding(std::string_view bytes);

class EXMLDocError : public Exception {
 public:
  using Exception::Exception;
};

// A parse failure, with the DOM's parse error behind it. The message is
// the reason, CR LF, "Line: n", CR LF, and up to 40 characters of the
// offending line.
class EDOMParseError : public Exception {
 public:
  explicit EDOMParseError(IntfPtr<IDOMParseError> parseError);

  std::int32_t ErrorCode() const { return FParseError->get_errorCode(); }
  std::int32_t FilePos() const { return FParseError->get_filepos(); }
  std::int32_t Line() const { return FParseError->get_line(); }
  std::int32_t LinePos() const { return FParseError->get_linepos(); }
  UnicodeString Reason() const { return FParseError->get_reason(); }
  UnicodeString SrcText() const { return FParseError->get_srcText(); }
  UnicodeString URL() const { return FParseError->get_url(); }

 private:
  IntfPtr<IDOMParseError> FParseError;
};

class IXMLNode;
class IXMLNodeList;
class IXMLDocument;
class TXMLNode;
class TXMLDocument;

// A back reference that reads as null once its target is destroyed.
template <class T>
class TBackRef {
 public:
  TBackRef() = default;
  explicit TBackRef(std::shared_ptr<T*> cell) : FCell(std::move(cell)) {}
  T* get() const { return FCell ? *FCell : nullptr; }
  void reset() { FCell.reset(); }

 private:
  std::shared_ptr<T*> FCell;
};

class IXMLNodeList : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{60BF8FD7-E3E9-4D13-A6E2-1C4A0E1F3B01}");
  virtual std::int32_t GetCount() = 0;
  // An integer selects by position (out of range: EXMLDocError); any other
  // key is a name looked up with FindNode and created when allowed.
  virtual IntfPtr<IXMLNode> GetNode(const Variant& indexOrName) = 0;
  virtual std::int32_t GetUpdateCount() = 0;
  virtual std::int32_t Add(IXMLNode* node) = 0;
  virtual void BeginUpdate() = 0;
  virtual void Clear() = 0;
  virtual std::int32_t Delete(std::int32_t index) = 0;
  virtual std::int32_t Delete(const UnicodeString& name) = 0;
  virtual std::int32_t Delete(const UnicodeString& name, const UnicodeString& namespaceURI) = 0;
  virtual void EndUpdate() = 0;
  virtual IntfPtr<IXMLNode> First() = 0;
  virtual IntfPtr<IXMLNode> FindNode(const UnicodeString& name) = 0;
  virtual IntfPtr<IXMLNode> FindNode(const UnicodeString& name,
                                     const UnicodeString& namespaceURI) = 0;
  virtual IntfPtr<IXMLNode> FindNode(const TGUID& childNodeType) = 0;
  virtual IntfPtr<IXMLNode> FindSibling(IXMLNode* node, std::int32_t delta) = 0;
  virtual IntfPtr<IXMLNode> Get(std::int32_t index) = 0;
  virtual std::int32_t IndexOf(IXMLNode* node) = 0;
  virtual std::int32_t IndexOf(const UnicodeString& name) = 0;
  virtual std::int32_t IndexOf(const UnicodeString& name, const UnicodeString& namespaceURI) = 0;
  virtual void Insert(std::int32_t index, IXMLNode* node) = 0;
  virtual IntfPtr<IXMLNode> Last() = 0;
  virtual std::int32_t Remove(IXMLNode* node) = 0;
  virtual IntfPtr<IXMLNode> ReplaceNode(IXMLNode* oldNode, IXMLNode* newNode) = 0;

 protected:
  ~IXMLNodeList() = default;
};

class IXMLNode : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{60BF8FD7-E3E9-4D13-A6E2-1C4A0E1F3B02}");
  virtual Variant GetAttribute(const UnicodeString& attrName) = 0;
  virtual IntfPtr<IXMLNodeList> GetAttributeNodes() = 0;
  virtual IntfPtr<IXMLNodeList> GetChildNodes() = 0;
  virtual Variant GetChildValue(const Variant& indexOrName) = 0;
  virtual IntfPtr<IDOMNode> GetDOMNode() = 0;
  virtual bool GetHasChildNodes() = 0;
  // Whether the node has any attribute, told without building its
  // attribute list (false for a node that cannot have any).
  virtual bool GetHasAttributes() = 0;
  virtual bool GetIsTextElement() = 0;
  // For an element whose only child is a text node (GetIsTextElement), its
  // text into text and true; false otherwise, text untouched.
  virtual bool ReadTextElement(UnicodeString& text) = 0;
  virtual UnicodeString GetLocalName() = 0;
  virtual UnicodeString GetNamespaceURI() = 0;
  // The local name and the namespace URI without a copy where the DOM can
  // point at its own storage: the view is then valid while this node lives
  // and keeps its name. Otherwise the name is copied into scratch, which
  // the view then shows.
  virtual UnicodeStringView GetLocalNameView(UnicodeString& scratch) = 0;
  virtual UnicodeStringView GetNamespaceURIView(UnicodeString& scratch) = 0;
  virtual UnicodeString GetNodeName() = 0;
  virtual TNodeType GetNodeType() = 0;
  virtual Variant GetNodeValue() = 0;
  virtual IntfPtr<IXMLDocument> GetOwnerDocument() = 0;
  virtual IntfPtr<IXMLNode> GetParentNode() = 0;
  virtual UnicodeString GetPrefix() = 0;
  virtual bool GetReadOnly() = 0;
  virtual UnicodeString GetText() = 0;
  virtual UnicodeString GetXML() = 0;
  virtual void SetAttribute(const UnicodeString& attrName, const Variant& value) = 0;
  virtual void SetChildValue(const Variant& indexOrName, const Variant& value) = 0;
  virtual void SetNodeValue(const Variant& value) = 0;
  virtual void SetReadOnly(bool value) = 0;
  virtual void SetText(const UnicodeString& value) = 0;
  virtual IntfPtr<IXMLNode> AddChild(const UnicodeString& tagName, std::int32_t index = -1) = 0;
  virtual IntfPtr<IXMLNode> AddChild(const UnicodeString& tagName,
                                     const UnicodeString& namespaceURI, bool generatePrefix = false,
                                     std::int32_t index = -1) = 0;
  virtual IntfPtr<IXMLNode> CloneNode(bool deep) = 0;
  virtual void DeclareNamespace(const UnicodeString& prefix, const UnicodeString& uri) = 0;
  virtual UnicodeString FindNamespaceURI(const UnicodeString& tagOrPrefix) = 0;
  virtual IntfPtr<IXMLNode> FindNamespaceDecl(const UnicodeString& namespaceURI) = 0;
  virtual Variant GetAttributeNS(const UnicodeString& attrName,
                                 const UnicodeString& namespaceURI) = 0;
  virtual bool HasAttribute(const UnicodeString& name) = 0;
  virtual bool HasAttribute(const UnicodeString& name, const UnicodeString& namespaceURI) = 0;
  virtual IntfPtr<IXMLNode> NextSibling() = 0;
  virtual void Normalize() = 0;
  virtual IntfPtr<IXMLNode> PreviousSibling() = 0;
  virtual void Resync() = 0;
  virtual void SetAttributeNS(const UnicodeString& attrName, const UnicodeString& namespaceURI,
                              const Variant& value) = 0;
  virtual void TransformNode(IXMLNode* stylesheet, UnicodeString& output) = 0;
  virtual void TransformNode(IXMLNode* stylesheet, IXMLDocument* output) = 0;

 protected:
  ~IXMLNode() = default;
};

// Gives the node object behind an IXMLNode of this model.
class IXMLNodeAccess : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{60BF8FD7-E3E9-4D13-A6E2-1C4A0E1F3B03}");
  virtual TXMLNode* GetNodeObject() = 0;

 protected:
  ~IXMLNodeAccess() = default;
};

using TXMLLines = std::vector<UnicodeString>;

class IXMLDocument : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{60BF8FD7-E3E9-4D13-A6E2-1C4A0E1F3B04}");
  virtual bool GetActive() = 0;
  virtual std::int32_t GetAsyncLoadState() = 0;
  virtual IntfPtr<IXMLNodeList> GetChildNodes() = 0;
  virtual IntfPtr<IXMLNode> GetDocumentElement() = 0;
  virtual IntfPtr<IXMLNode> GetDocumentNode() = 0;
  virtual IntfPtr<IDOMDocument> GetDOMDocument() = 0;
  virtual UnicodeString GetEncoding() = 0;
  virtual UnicodeString GetFileName() = 0;
  virtual bool GetModified() = 0;
  virtual UnicodeString GetNodeIndentStr() = 0;
  virtual TXMLDocOptions GetOptions() = 0;
  virtual TParseOptions GetParseOptions() = 0;
  virtual UnicodeString GetSchemaRef() = 0;
  virtual UnicodeString GetStandAlone() = 0;
  virtual UnicodeString GetVersion() = 0;
  // The document as lines of text, refreshed from the DOM when it changed.
  virtual TXMLLines GetXML() = 0;
  virtual void SetActive(bool value) = 0;
  virtual void SetDocumentElement(IXMLNode* value) = 0;
  virtual void SetDOMDocument(IDOMDocument* value) = 0;
  virtual void SetEncoding(const UnicodeString& value) = 0;
  virtual void SetFileName(const UnicodeString& value) = 0;
  virtual void SetNodeIndentStr(const UnicodeString& value) = 0;
  virtual void SetOptions(TXMLDocOptions value) = 0;
  virtual void SetParseOptions(TParseOptions value) = 0;
  virtual void SetStandAlone(const UnicodeString& value) = 0;
  virtual void SetVersion(const UnicodeString& value) = 0;
  // Closes the document and clears FileName; the lines load at next open.
  virtual void SetXML(const TXMLLines& value) = 0;
  virtual IntfPtr<IXMLNode> AddChild(const UnicodeString& tagName) = 0;
  virtual IntfPtr<IXMLNode> AddChild(const UnicodeString& tagName,
                                     const UnicodeString& namespaceURI) = 0;
  virtual IntfPtr<IXMLNode> CreateElement(const UnicodeString& tagOrData,
                                          const UnicodeString& namespaceURI) = 0;
  virtual IntfPtr<IXMLNode> CreateNode(const UnicodeString& nameOrData,
                                       TNodeType nodeType = ntElement,
                                       const UnicodeString& addlData = {}) = 0;
  virtual UnicodeString GeneratePrefix(IXMLNode* node) = 0;
  virtual bool IsEmptyDoc() = 0;
  virtual void LoadFromFile(const UnicodeString& fileName = {}) = 0;
  // Reads the stream from its start; it stays the caller's.
  virtual void LoadFromStream(TStream& stream, TXMLEncodingType encodingType = xetUnknown) = 0;
  virtual void LoadFromXML(const AnsiString& xml) = 0;
  virtual void LoadFromXML(const UnicodeString& xml) = 0;
  virtual void Refresh() = 0;
  virtual void Resync() = 0;
  virtual void SaveToFile(const UnicodeString& fileName = {}) = 0;
  virtual void SaveToStream(TStream& stream) = 0;
  virtual void SaveToXML(UnicodeString& xml) = 0;
  // The document as UTF-8 bytes (labelled with code page 65001).
  virtual void SaveToXML(AnsiString& xml) = 0;
  virtual void SetOnAsyncLoad(TAsyncEventHandler handler) = 0;

 protected:
  ~IXMLDocument() = default;
};

// A live list of a node's children or attributes.
class TXMLNodeList final : public IXMLNodeList {
 public:
  // The owner's callback around each insertion and removal; carry tells it
  // to carry the change into the DOM (the update counter is at 0).
  using TNotification = void (TXMLNode::*)(TNodeListOperation operation, IXMLNode* node,
                                           std::int32_t index, bool beforeChange, bool carry);

  TXMLNodeList(TXMLNode* owner, UnicodeString defaultNamespaceURI, TNotification notification);
  // The default namespace is the namespace URI of namespaceSource, read
  // when a lookup by name first needs it (a DOM node's namespace is fixed).
  TXMLNodeList(TXMLNode* owner, IDOMNode* namespaceSource, TNotification notification);
  ~TXMLNodeList();
  // Kept on a per-thread free list, as the nodes are.
  static void* operator new(std::size_t size);
  static void operator delete(void* p, std::size_t size) noexcept;

  HRESULT QueryInterface(const TGUID& iid, void** obj) override;
  std::int32_t _AddRef() override;
  std::int32_t _Release() override;

  std::int32_t GetCount() override { return static_cast<std::int32_t>(FList.size()); }
  IntfPtr<IXMLNode> GetNode(const Variant& indexOrName) override;
  std::int32_t GetUpdateCount() override { return FUpdateCount; }
  std::int32_t Add(IXMLNode* node) override;
  void BeginUpdate() override { ++FUpdateCount; }
  void Clear() override;
  std::int32_t Delete(std::int32_t index) override;
  std::int32_t Delete(const UnicodeString& name) override;
  std::int32_t Delete(const UnicodeString& name, const UnicodeString& namespaceURI) override;
  void EndUpdate() override { --FUpdateCount; }
  IntfPtr<IXMLNode> First() override;
  IntfPtr<IXMLNode> FindNode(const UnicodeString& name) override;
  IntfPtr<IXMLNode> FindNode(const UnicodeString& name, const UnicodeString& namespaceURI) override;
  IntfPtr<IXMLNode> FindNode(const TGUID& childNodeType) override;
  IntfPtr<IXMLNode> FindSibling(IXMLNode* node, std::int32_t delta) override;
  IntfPtr<IXMLNode> Get(std::int32_t index) override;
  std::int32_t IndexOf(IXMLNode* node) override;
  std::int32_t IndexOf(const UnicodeString& name) override;
  std::int32_t IndexOf(const UnicodeString& name, const UnicodeString& namespaceURI) override;
  void Insert(std::int32_t index, IXMLNode* node) override;
  IntfPtr<IXMLNode> Last() override;
  std::int32_t Remove(IXMLNode* node) override;
  IntfPtr<IXMLNode> ReplaceNode(IXMLNode* oldNode, IXMLNode* newNode) override;

  // Room made at the first member: lists grow one member at a time. Lists
  // that short take their buffer from a per-thread free list.
  static constexpr std::size_t kFirstCapacity = 4;
  using TMembers =
      std::vector<IntfPtr<IXMLNode>, TPoolAllocator<IntfPtr<IXMLNode>, kFirstCapacity>>;

  // Fills the list without telling the owner (building from the DOM).
  void AddBuilt(IntfPtr<IXMLNode> node) {
    if (FList.capacity() == 0) FList.reserve(kFirstCapacity);
    FList.push_back(std::move(node));
  }

 private:
  friend class TXMLNode;

  TXMLNode* Owner() const;
  void Notify(TNodeListOperation operation, IXMLNode* node, std::int32_t index, bool before);
  void InsertPlain(std::int32_t index, IXMLNode* node);
  const UnicodeString& DefaultNamespaceURI();

  TMembers FList;
  std::mutex FLock;  // taken while the list is cleared
  TNotification FNotificationProc;
  TBackRef<TXMLNode> FOwner;
  std::int32_t FUpdateCount = 0;
  UnicodeString FDefaultNamespaceURI;
  IntfPtr<IDOMNode> FNamespaceSource;  // until FDefaultNamespaceURI is read from it
  std::atomic<std::int32_t> FRefCount{0};
};

// A node: one DOM node, its place among the wrappers, and its lists.
class TXMLNode : public IXMLNode, public IXMLNodeAccess {
 public:
  // Wraps domNode ("IDOMNode required" without one). parent and document
  // may be null; neither is owned or counted.
  TXMLNode(IDOMNode* domNode, TXMLNode* parent, TXMLDocument* document);
  virtual ~TXMLNode();
  // Wrappers are made and dropped by the thousand: their blocks are kept
  // on a per-thread free list (XMLNodePool.h).
  static void* operator new(std::size_t size);
  static void operator delete(void* p, std::size_t size) noexcept;

  HRESULT QueryInterface(const TGUID& iid, void** obj) override;
  std::int32_t _AddRef() override;
  std::int32_t _Release() override;
  TXMLNode* GetNodeObject() override { return this; }

  Variant GetAttribute(const UnicodeString& attrName) override;
  IntfPtr<IXMLNodeList> GetAttributeNodes() override;
  IntfPtr<IXMLNodeList> GetChildNodes() override;
  Variant GetChildValue(const Variant& indexOrName) override;
  IntfPtr<IDOMNode> GetDOMNode() override { return FDOMNode; }
  bool GetHasChildNodes() override { return FDOMNode->hasChildNodes(); }
  bool GetHasAttributes() override;
  bool GetIsTextElement() override;
  bool ReadTextElement(UnicodeString& text) override;
  UnicodeString GetLocalName() override { return FDOMNode->get_localName(); }
  UnicodeString GetNamespaceURI() override { return FDOMNode->get_namespaceURI(); }
  UnicodeStringView GetLocalNameView(UnicodeString& scratch) override;
  UnicodeStringView GetNamespaceURIView(UnicodeString& scratch) override;
  UnicodeString GetNodeName() override { return FDOMNode->get_nodeName(); }
  TNodeType GetNodeType() override { return static_cast<TNodeType>(FDOMNode->get_nodeType()); }
  Variant GetNodeValue() override;
  IntfPtr<IXMLDocument> GetOwnerDocument() override;
  IntfPtr<IXMLNode> GetParentNode() override { return IntfPtr<IXMLNode>(FParentNode.get()); }
  UnicodeString GetPrefix() override { return FDOMNode->get_prefix(); }
  bool GetReadOnly() override { return FReadOnly; }
  UnicodeString GetText() override;
  UnicodeString GetXML() override;
  void SetAttribute(const UnicodeString& attrName, const Variant& value) override;
  void SetChildValue(const Variant& indexOrName, const Variant& value) override;
  void SetNodeValue(const Variant& value) override;
  void SetReadOnly(bool value) override { FReadOnly = value; }
  void SetText(const UnicodeString& value) override;
  IntfPtr<IXMLNode> AddChild(const UnicodeString& tagName, std::int32_t index = -1) override;
  IntfPtr<IXMLNode> AddChild(const UnicodeString& tagName, const UnicodeString& namespaceURI,
                             bool generatePrefix = false, std::int32_t index = -1) override;
  IntfPtr<IXMLNode> CloneNode(bool deep) override;
  void DeclareNamespace(const UnicodeString& prefix, const UnicodeString& uri) override;
  UnicodeString FindNamespaceURI(const UnicodeString& tagOrPrefix) override;
  IntfPtr<IXMLNode> FindNamespaceDecl(const UnicodeString& namespaceURI) override;
  Variant GetAttributeNS(const UnicodeString& attrName, const UnicodeString& namespaceURI) override;
  bool HasAttribute(const UnicodeString& name) override;
  bool HasAttribute(const UnicodeString& name, const UnicodeString& namespaceURI) override;
  IntfPtr<IXMLNode> NextSibling() override;
  void Normalize() override;
  IntfPtr<IXMLNode> PreviousSibling() override;
  void Resync() override;
  void SetAttributeNS(const UnicodeString& attrName, const UnicodeString& namespaceURI,
                      const Variant& value) override;
  void TransformNode(IXMLNode* stylesheet, UnicodeString& output) override;
  void TransformNode(IXMLNode* stylesheet, IXMLDocument* output) override;

  // name prefixed with the prefix of the declaration of namespaceURI in
  // scope, under doAutoPrefix; name unchanged otherwise.
  UnicodeString GetPrefixedName(const UnicodeString& name, const UnicodeString& namespaceURI);
  // name prefixed with the prefix that decl (a declaration or none) binds.
  static UnicodeString PrefixedName(const UnicodeString& name, IXMLNode* decl);

  TXMLDocument* Document() const { return FDocument.get(); }
  TXMLNode* ParentNodeObject() const { return FParentNode.get(); }
  bool IsDocElement() const { return FIsDocElement; }

  // For a reader that walks this node's children as the DOM holds them,
  // without building the child list: the DOM's node questions, asked about
  // DOMNodeRef()'s children, while no child list has been built and the
  // DOM answers them; null otherwise (the reader then takes the list).
  IDOMNodeQuery* ChildQuestions() const { return FChildNodes ? nullptr : NodeQuery(); }
  IDOMNode* DOMNodeRef() const { return FDOMNode.get(); }
  // A wrapper of one of this node's DOM children, made on its own: it is
  // entered in no child list.
  IntfPtr<IXMLNode> WrapChild(IDOMNode* domChild) { return CreateChildNode(domChild); }
  // The same, but taken in by the child list as its wrapper of domChild
  // when the list is built while this wrapper lives: code that goes on
  // from it to its parent's list, or to its siblings, finds this very
  // node there. One such wrapper per parent at a time: a later one
  // replaces the earlier one, which stays a wrapper of its own.
  IntfPtr<IXMLNode> WrapChildForList(IDOMNode* domChild);
  // AddChild(tagName, namespaceURI, generatePrefix), then, on the element
  // made, SetAttributeNS(attrName, attrNamespace, attrValue) when attrName
  // is not empty and SetText(*text) when text is given: for a writer that
  // does not keep the element. While this node has no child list and the
  // document tells no handler of its changes, the element goes into the
  // DOM without a wrapper: a child list built later has it.
  void AddLeafChild(const UnicodeString& tagName, const UnicodeString& namespaceURI,
                    bool generatePrefix, const UnicodeString* text,
                    const UnicodeString& attrName = {}, const UnicodeString& attrNamespace = {},
                    const UnicodeString& attrValue = {});

 protected:
  virtual IntfPtr<IXMLNode> CreateAttributeNode(IDOMNode* domNode);
  virtual IntfPtr<IXMLNode> CreateChildNode(IDOMNode* domNode);
  // Sets the parent wrapper; a parent of another document takes this node
  // (and the wrappers below it) into that document.
  virtual void SetParentNode(TXMLNode* parent);
  virtual void ChildListNotify(TNodeListOperation operation, IXMLNode* node, std::int32_t index,
                               bool beforeChange, bool carry);
  virtual void AttributeListNotify(TNodeListOperation operation, IXMLNode* node, std::int32_t index,
                                   bool beforeChange, bool carry);
  // Refuses changes of a read-only node, counts the change and calls the
  // document's node-change callbacks.
  virtual void DoNodeChange(TNodeChange change, bool beforeChange);
  virtual void SetAttributeNodes(IntfPtr<TXMLNodeList> value);
  virtual void SetChildNodes(IntfPtr<TXMLNodeList> value);
  virtual IntfPtr<TXMLNodeList> CreateAttributeList();
  virtual IntfPtr<TXMLNodeList> CreateChildList();

 private:
  friend class TXMLNodeList;
  friend class TXMLDocument;

  // Answers a list's lookup by name that found nothing: the created node,
  // or none when creation is not allowed.
  IntfPtr<IXMLNode> AutoCreate(bool attribute, const UnicodeString& name);
  IntfPtr<IXMLNode> InternalAddChild(const UnicodeString& nodeName,
                                     const UnicodeString& namespaceURI, std::int32_t index);
  // The element's only child when it is a text or CDATA node; null when it
  // has no children; EXMLDocError when it has any others.
  IntfPtr<IDOMNode> TextChild();
  // Appends a text node of value; the child list is built again when asked.
  void AppendText(const UnicodeString& value);
  // The name AddChild gives a new child: tagName, or one made in built
  // with the prefix of the declaration in scope of the child's namespace
  // (declOwner, declIndex; none: null) or a generated one; prefix is set
  // to a prefix that the child may have to declare.
  const UnicodeString& NewChildName(const UnicodeString& tagName, bool generatePrefix,
                                    TXMLNode* declOwner, std::int32_t declIndex,
                                    UnicodeString& built, UnicodeString& prefix);
  // AddChild's work once the child's name is known: the element added, and
  // its namespace declared on it when no declaration is in scope.
  IntfPtr<IXMLNode> AddNamedChild(const UnicodeString& name, const UnicodeString& prefix,
                                  const UnicodeString& namespaceURI, bool declared,
                                  std::int32_t index);
  // The child list's wrapper of domChild, as the list is built: the loose
  // child's, when it wraps domChild.
  IntfPtr<IXMLNode> ListedChild(IDOMNode* domChild);
  // The index among this node's own attributes of the first declaration
  // of namespaceURI; -1 when there is none. scan: the document's search
  // (may be null).
  std::int32_t OwnNamespaceDeclIndex(IDOMNamespaceDeclScan* scan,
                                     const UnicodeString& namespaceURI);
  // The same, looked for through the DOM's attribute map.
  std::int32_t AttributeNamespaceDeclIndex(const UnicodeString& namespaceURI);
  // The nearest node, this one or an ancestor, that declares namespaceURI,
  // with the declaration's index among its attributes; null when none does.
  // Builds no attribute list: FindNamespaceDecl does, to hand out the node.
  TXMLNode* NamespaceDeclOwner(const UnicodeString& namespaceURI, std::int32_t& index);
  IDOMNamespaceDeclScan* NamespaceScan() const;
  // The document's node questions (may be null).
  IDOMNodeQuery* NodeQuery() const;
  // Its appends that hand nothing back (may be null).
  IDOMTreeEdit* TreeEdit() const;
  // Declares uri with prefix on this element without looking for a
  // declaration in scope first.
  void AddNamespaceDecl(const UnicodeString& prefix, const UnicodeString& uri);
  // The element interface of the DOM node, asked once (a node's type is
  // fixed); null when it is no element. Lives as long as this node.
  IDOMElement* DOMElement();
  IntfPtr<IDOMDocument> DOMDocument();
  // The same, uncounted when it is the document's own DOM document (which
  // the document holds); keep holds it otherwise.
  IDOMDocument* DOMDocument(IntfPtr<IDOMDocument>& keep);
  TXMLDocOptions DocOptions() const;
  void MoveToDocument(TXMLDocument* document);
  static UnicodeString ValueText(const Variant& value);

  IntfPtr<TXMLNodeList> FAttributeNodes;
  IntfPtr<TXMLNodeList> FChildNodes;
  TBackRef<TXMLDocument> FDocument;
  IntfPtr<IDOMNode> FDOMNode;
  TBackRef<TXMLNode> FParentNode;
  IntfPtr<IDOMElement> FDOMElement;
  bool FDOMElementKnown = false;
  bool FIsDocElement = false;
  bool FReadOnly = false;
  // Made by WrapChildForList and not yet in its parent's child list.
  bool FLoose = false;
  // The wrapper WrapChildForList made last, while it lives and is not in
  // the child list; uncounted (it clears this when it dies or moves).
  TXMLNode* FLooseChild = nullptr;
  // Ends this node's standing as its parent's loose child.
  void LeaveParentLoose();
  std::atomic<std::int32_t> FRefCount{0};
  // The cell back-references to this node go through; made when the first
  // is taken (most leaves never are), emptied when the node dies.
  std::shared_ptr<TXMLNode*> FSelf;
  const std::shared_ptr<TXMLNode*>& SelfCell();
};

// A new DOM node of nodeType made by domDocument (the node model's node
// factory); EXMLDocError "Invalid node type" for a type it cannot make.
IntfPtr<IDOMNode> CreateDOMNode(IDOMDocument* domDocument, const UnicodeString& nameOrData,
                                TNodeType nodeType, const UnicodeString& addlData);

// The node object behind node; EXMLDocError when node is not of this model.
TXMLNode* NodeObject(IXMLNode* node);
// The same; null for a node of another node model.
TXMLNode* NodeObjectOrNull(IXMLNode* node);

using TXMLDocumentEvent = std::function<void(TXMLDocument* sender)>;
using TNodeChangeEvent = std::function<void(IXMLNode* node, TNodeChange change)>;

// A document. Made without owner it lives while counted references to it
// exist; made with an owner it lives until the owner frees it.
class TXMLDocument : public TComponent, public IXMLDocument {
  DELVAN_CLASS()

 public:
  explicit TXMLDocument(TComponent* owner = nullptr);
  ~TXMLDocument() override;

  HRESULT QueryInterface(const TGUID& iid, void** obj) override;
  std::int32_t _AddRef() override;
  std::int32_t _Release() override;

  bool GetActive() override { return static_cast<bool>(FDOMDocument); }
  std::int32_t GetAsyncLoadState() override;
  IntfPtr<IXMLNodeList> GetChildNodes() override;
  IntfPtr<IXMLNode> GetDocumentElement() override;
  IntfPtr<IXMLNode> GetDocumentNode() override;
  IntfPtr<IDOMDocument> GetDOMDocument() override { return FDOMDocument; }
  UnicodeString GetEncoding() override { return GetPrologValue(xpEncoding, {}); }
  UnicodeString GetFileName() override { return FFileName; }
  bool GetModified() override { return FModified > 0; }
  UnicodeString GetNodeIndentStr() override { return FNodeIndentStr; }
  TXMLDocOptions GetOptions() override { return FOptions; }
  TParseOptions GetParseOptions() override { return FParseOptions; }
  UnicodeString GetSchemaRef() override;
  UnicodeString GetStandAlone() override { return GetPrologValue(xpStandalone, {}); }
  UnicodeString GetVersion() override { return GetPrologValue(xpVersion, {}); }
  TXMLLines GetXML() override;
  void SetActive(bool value) override;
  void SetDocumentElement(IXMLNode* value) override;
  void SetDOMDocument(IDOMDocument* value) override;
  void SetEncoding(const UnicodeString& value) override { SetPrologValue(xpEncoding, value); }
  void SetFileName(const UnicodeString& value) override { FFileName = value; }
  void SetNodeIndentStr(const UnicodeString& value) override { FNodeIndentStr = value; }
  void SetOptions(TXMLDocOptions value) override { FOptions = value; }
  void SetParseOptions(TParseOptions value) override { FParseOptions = value; }
  void SetStandAlone(const UnicodeString& value) override { SetPrologValue(xpStandalone, value); }
  void SetVersion(const UnicodeString& value) override { SetPrologValue(xpVersion, value); }
  void SetXML(const TXMLLines& value) override;
  IntfPtr<IXMLNode> AddChild(const UnicodeString& tagName) override;
  IntfPtr<IXMLNode> AddChild(const UnicodeString& tagName,
                             const UnicodeString& namespaceURI) override;
  IntfPtr<IXMLNode> CreateElement(const UnicodeString& tagOrData,
                                  const UnicodeString& namespaceURI) override;
  IntfPtr<IXMLNode> CreateNode(const UnicodeString& nameOrData, TNodeType nodeType = ntElement,
                               const UnicodeString& addlData = {}) override;
  UnicodeString GeneratePrefix(IXMLNode* node) override;
  bool IsEmptyDoc() override;
  void LoadFromFile(const UnicodeString& fileName = {}) override;
  void LoadFromStream(TStream& stream, TXMLEncodingType encodingType = xetUnknown) override;
  void LoadFromXML(const AnsiString& xml) override;
  void LoadFromXML(const UnicodeString& xml) override;
  void Refresh() override;
  void Resync() override;
  void SaveToFile(const UnicodeString& fileName = {}) override;
  void SaveToStream(TStream& stream) override;
  void SaveToXML(UnicodeString& xml) override;
  void SaveToXML(AnsiString& xml) override;
  void SetOnAsyncLoad(TAsyncEventHandler handler) override { FOnAsyncLoad = std::move(handler); }

  // The vendor this document uses; null: the default vendor.
  TDOMVendor* DOMVendor() const { return FDOMVendor; }
  void SetDOMVendor(TDOMVendor* vendor) { FDOMVendor = vendor; }

  TXMLDocumentEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TNodeChangeEvent BeforeNodeChange, AfterNodeChange;

  std::shared_ptr<TXMLDocument*> SelfRef() const { return FSelf; }

 private:
  friend class TXMLNode;

  void CheckActive();
  void Open();
  void Close();
  void LoadData();
  void ReleaseDoc(bool checkSave);
  void SetModified();
  IntfPtr<IXMLNode> PrologNode();
  UnicodeString GetPrologValue(TXMLPrologItem item, UnicodeStringView defaultValue);
  void SetPrologValue(TXMLPrologItem item, const UnicodeString& value);
  void SaveToXMLLines();

  UnicodeString FXMLData;
  TStream* FSrcStream = nullptr;
  TXMLLines FXMLStrings;
  TDOMVendor* FDOMVendor = nullptr;
  std::atomic<std::int32_t> FRefCount{0};
  IntfPtr<IDOMPersist> FDOMPersist;
  IntfPtr<IDOMDocument> FDOMDocument;
  IntfPtr<IDOMImplementation> FDOMImplementation;
  IntfPtr<IDOMParseOptions> FDOMParseOptions;
  // The DOM document's namespace-declaration search, when it offers one.
  IntfPtr<IDOMNamespaceDeclScan> FDOMNamespaceScan;
  // Its node questions, when it answers them.
  IntfPtr<IDOMNodeQuery> FDOMNodeQuery;
  // Its appends that hand nothing back, when it offers them.
  IntfPtr<IDOMTreeEdit> FDOMTreeEdit;
  TParseOptions FParseOptions;
  IntfPtr<IXMLNode> FDocumentNode;
  UnicodeString FFileName;
  TXMLDocOptions FOptions{doNodeAutoCreate, doAttrNull, doAutoPrefix, doNamespaceDecl};
  std::int32_t FPrefixID = 0;
  UnicodeString FNSPrefixBase = u"NS";
  UnicodeString FNodeIndentStr{DefaultNodeIndent};
  std::int32_t FModified = 0;
  std::int32_t FXMLStrRead = -1;
  TXMLDocumentSource FDocSource = xdsNone;
  bool FOwnerIsComponent;
  TAsyncEventHandler FOnAsyncLoad;
  std::shared_ptr<TXMLDocument*> FSelf;
};

// A new active document without owner; its version is set when version is
// not empty. The caller owns the reference.
IntfPtr<IXMLDocument> NewXMLDocument(const UnicodeString& version = u"1.0");

}  // namespace delvan::xml
