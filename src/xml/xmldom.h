// The vendor-neutral DOM: the counted interfaces through which the node
// model does all its DOM work, and the registry of DOM vendors that hand
// out implementations of them. All text is UTF-16.
//
// Conventions of every interface here: arguments passed as raw interface
// pointers are borrowed for the call; results come back as IntfPtr, which
// the caller owns. Failures are exceptions (DOMException, or whatever the
// vendor's platform raises); a parse failure is not an exception at this
// level but a false result with details behind IDOMParseError.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/Interface.h"
#include "rtl/Stream.h"
#include "rtl/UnicodeString.h"
#include "rtl/Variant.h"

namespace delvan::xml {

// The DOM node-type numbers.
inline constexpr std::uint16_t ELEMENT_NODE = 1;
inline constexpr std::uint16_t ATTRIBUTE_NODE = 2;
inline constexpr std::uint16_t TEXT_NODE = 3;
inline constexpr std::uint16_t CDATA_SECTION_NODE = 4;
inline constexpr std::uint16_t ENTITY_REFERENCE_NODE = 5;
inline constexpr std::uint16_t ENTITY_NODE = 6;
inline constexpr std::uint16_t PROCESSING_INSTRUCTION_NODE = 7;
inline constexpr std::uint16_t COMMENT_NODE = 8;
inline constexpr std::uint16_t DOCUMENT_NODE = 9;
inline constexpr std::uint16_t DOCUMENT_TYPE_NODE = 10;
inline constexpr std::uint16_t DOCUMENT_FRAGMENT_NODE = 11;
inline constexpr std::uint16_t NOTATION_NODE = 12;

// The namespace reserved for namespace declarations (xmlns, xmlns:p).
inline constexpr UnicodeStringView kXMLNSNamespaceURI = u"http://www.w3.org/2000/xmlns/";
// The namespace bound to the prefix xml.
inline constexpr UnicodeStringView kXMLNamespaceURI = u"http://www.w3.org/XML/1998/namespace";

// A failure of the DOM binding.
class DOMException : public Exception {
 public:
  using Exception::Exception;
};

// Raises DOMException "Property or Method \"%s\" is not supported by DOM
// Vendor \"%s\"" for an operation a vendor does not offer.
[[noreturn]] void DOMVendorNotSupported(UnicodeStringView operation, UnicodeStringView vendor);
// Raises DOMException "Selected DOM Vendor does not support this property
// or method", for extended operations on a DOM without IDOMNodeEx.
[[noreturn]] void DOMNodeExNotSupported();
// Raises DOMException "Node cannot be null".
[[noreturn]] void DOMNodeRequired();

class IDOMNode;
class IDOMNodeList;
class IDOMNamedNodeMap;
class IDOMDocument;
class IDOMDocumentType;
class IDOMElement;
class IDOMAttr;
class IDOMText;
class IDOMComment;
class IDOMCDATASection;
class IDOMProcessingInstruction;
class IDOMEntityReference;
class IDOMDocumentFragment;

class IDOMImplementation : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E01}");
  virtual bool hasFeature(const UnicodeString& feature, const UnicodeString& version) = 0;
  virtual IntfPtr<IDOMDocumentType> createDocumentType(const UnicodeString& qualifiedName,
                                                       const UnicodeString& publicId,
                                                       const UnicodeString& systemId) = 0;
  virtual IntfPtr<IDOMDocument> createDocument(const UnicodeString& namespaceURI,
                                               const UnicodeString& qualifiedName,
                                               IDOMDocumentType* doctype) = 0;

 protected:
  ~IDOMImplementation() = default;
};

class IDOMNode : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E02}");
  virtual UnicodeString get_nodeName() = 0;
  // Empty text when the node has no value.
  virtual UnicodeString get_nodeValue() = 0;
  virtual void set_nodeValue(const UnicodeString& value) = 0;
  virtual std::uint16_t get_nodeType() = 0;
  virtual IntfPtr<IDOMNode> get_parentNode() = 0;
  // A live list of the children.
  virtual IntfPtr<IDOMNodeList> get_childNodes() = 0;
  virtual IntfPtr<IDOMNode> get_firstChild() = 0;
  virtual IntfPtr<IDOMNode> get_lastChild() = 0;
  virtual IntfPtr<IDOMNode> get_previousSibling() = 0;
  virtual IntfPtr<IDOMNode> get_nextSibling() = 0;
  // A live map of the attributes; none for a node that has no attributes.
  virtual IntfPtr<IDOMNamedNodeMap> get_attributes() = 0;
  virtual IntfPtr<IDOMDocument> get_ownerDocument() = 0;
  virtual UnicodeString get_namespaceURI() = 0;
  virtual UnicodeString get_prefix() = 0;
  virtual UnicodeString get_localName() = 0;
  // Inserts newChild before refChild; returns the inserted node.
  virtual IntfPtr<IDOMNode> insertBefore(IDOMNode* newChild, IDOMNode* refChild) = 0;
  // Puts newChild in oldChild's place; returns oldChild.
  virtual IntfPtr<IDOMNode> replaceChild(IDOMNode* newChild, IDOMNode* oldChild) = 0;
  // Takes child out of this node; returns it.
  virtual IntfPtr<IDOMNode> removeChild(IDOMNode* child) = 0;
  virtual IntfPtr<IDOMNode> appendChild(IDOMNode* newChild) = 0;
  virtual bool hasChildNodes() = 0;
  // A copy without parent, in the same document.
  virtual IntfPtr<IDOMNode> cloneNode(bool deep) = 0;
  virtual void normalize() = 0;
  virtual bool supports(const UnicodeString& feature, const UnicodeString& version) = 0;

 protected:
  ~IDOMNode() = default;
};

class IDOMNodeList : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E03}");
  // None when index is outside the list.
  virtual IntfPtr<IDOMNode> get_item(std::int32_t index) = 0;
  virtual std::int32_t get_length() = 0;

 protected:
  ~IDOMNodeList() = default;
};

class IDOMNamedNodeMap : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E04}");
  virtual IntfPtr<IDOMNode> get_item(std::int32_t index) = 0;
  virtual std::int32_t get_length() = 0;
  virtual IntfPtr<IDOMNode> getNamedItem(const UnicodeString& name) = 0;
  // Adds node, or replaces the item of the same name; returns the replaced one.
  virtual IntfPtr<IDOMNode> setNamedItem(IDOMNode* node) = 0;
  virtual IntfPtr<IDOMNode> removeNamedItem(const UnicodeString& name) = 0;
  virtual IntfPtr<IDOMNode> getNamedItemNS(const UnicodeString& namespaceURI,
                                           const UnicodeString& localName) = 0;
  virtual IntfPtr<IDOMNode> setNamedItemNS(IDOMNode* node) = 0;
  virtual IntfPtr<IDOMNode> removeNamedItemNS(const UnicodeString& namespaceURI,
                                              const UnicodeString& localName) = 0;

 protected:
  ~IDOMNamedNodeMap() = default;
};

class IDOMCharacterData : public IDOMNode {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E05}");
  virtual UnicodeString get_data() = 0;
  virtual void set_data(const UnicodeString& data) = 0;
  virtual std::int32_t get_length() = 0;
  virtual UnicodeString substringData(std::int32_t offset, std::int32_t count) = 0;
  virtual void appendData(const UnicodeString& data) = 0;
  virtual void insertData(std::int32_t offset, const UnicodeString& data) = 0;
  virtual void deleteData(std::int32_t offset, std::int32_t count) = 0;
  virtual void replaceData(std::int32_t offset, std::int32_t count, const UnicodeString& data) = 0;

 protected:
  ~IDOMCharacterData() = default;
};

class IDOMText : public IDOMCharacterData {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E06}");
  // Splits the text at offset; the second half becomes the next sibling.
  virtual IntfPtr<IDOMText> splitText(std::int32_t offset) = 0;

 protected:
  ~IDOMText() = default;
};

class IDOMComment : public IDOMCharacterData {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E07}");

 protected:
  ~IDOMComment() = default;
};

class IDOMCDATASection : public IDOMText {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E08}");

 protected:
  ~IDOMCDATASection() = default;
};

class IDOMAttr : public IDOMNode {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E09}");
  virtual UnicodeString get_name() = 0;
  virtual bool get_specified() = 0;
  virtual UnicodeString get_value() = 0;
  virtual void set_value(const UnicodeString& value) = 0;
  virtual IntfPtr<IDOMElement> get_ownerElement() = 0;

 protected:
  ~IDOMAttr() = default;
};

class IDOMElement : public IDOMNode {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E0A}");
  virtual UnicodeString get_tagName() = 0;
  // Empty text when there is no such attribute.
  virtual UnicodeString getAttribute(const UnicodeString& name) = 0;
  virtual void setAttribute(const UnicodeString& name, const UnicodeString& value) = 0;
  virtual void removeAttribute(const UnicodeString& name) = 0;
  virtual IntfPtr<IDOMAttr> getAttributeNode(const UnicodeString& name) = 0;
  // Adds attr (or replaces the one of its name); returns the replaced one.
  virtual IntfPtr<IDOMAttr> setAttributeNode(IDOMAttr* attr) = 0;
  virtual IntfPtr<IDOMAttr> removeAttributeNode(IDOMAttr* attr) = 0;
  virtual IntfPtr<IDOMNodeList> getElementsByTagName(const UnicodeString& name) = 0;
  virtual UnicodeString getAttributeNS(const UnicodeString& namespaceURI,
                                       const UnicodeString& localName) = 0;
  virtual void setAttributeNS(const UnicodeString& namespaceURI, const UnicodeString& qualifiedName,
                              const UnicodeString& value) = 0;
  virtual void removeAttributeNS(const UnicodeString& namespaceURI,
                                 const UnicodeString& localName) = 0;
  virtual IntfPtr<IDOMAttr> getAttributeNodeNS(const UnicodeString& namespaceURI,
                                               const UnicodeString& localName) = 0;
  virtual IntfPtr<IDOMAttr> setAttributeNodeNS(IDOMAttr* attr) = 0;
  virtual IntfPtr<IDOMNodeList> getElementsByTagNameNS(const UnicodeString& namespaceURI,
                                                       const UnicodeString& localName) = 0;
  virtual bool hasAttribute(const UnicodeString& name) = 0;
  virtual bool hasAttributeNS(const UnicodeString& namespaceURI,
                              const UnicodeString& localName) = 0;

 protected:
  ~IDOMElement() = default;
};

class IDOMDocumentType : public IDOMNode {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E0B}");
  virtual UnicodeString get_name() = 0;
  virtual IntfPtr<IDOMNamedNodeMap> get_entities() = 0;
  virtual IntfPtr<IDOMNamedNodeMap> get_notations() = 0;
  virtual UnicodeString get_publicId() = 0;
  virtual UnicodeString get_systemId() = 0;
  virtual UnicodeString get_internalSubset() = 0;

 protected:
  ~IDOMDocumentType() = default;
};

class IDOMNotation : public IDOMNode {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E0C}");
  virtual UnicodeString get_publicId() = 0;
  virtual UnicodeString get_systemId() = 0;

 protected:
  ~IDOMNotation() = default;
};

class IDOMEntity : public IDOMNode {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E0D}");
  virtual UnicodeString get_publicId() = 0;
  virtual UnicodeString get_systemId() = 0;
  virtual UnicodeString get_notationName() = 0;

 protected:
  ~IDOMEntity() = default;
};

class IDOMEntityReference : public IDOMNode {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E0E}");

 protected:
  ~IDOMEntityReference() = default;
};

class IDOMProcessingInstruction : public IDOMNode {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E0F}");
  virtual UnicodeString get_target() = 0;
  virtual UnicodeString get_data() = 0;
  virtual void set_data(const UnicodeString& data) = 0;

 protected:
  ~IDOMProcessingInstruction() = default;
};

class IDOMDocumentFragment : public IDOMNode {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E10}");

 protected:
  ~IDOMDocumentFragment() = default;
};

class IDOMDocument : public IDOMNode {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E11}");
  virtual IntfPtr<IDOMDocumentType> get_doctype() = 0;
  virtual IntfPtr<IDOMImplementation> get_domImplementation() = 0;
  virtual IntfPtr<IDOMElement> get_documentElement() = 0;
  virtual void set_documentElement(IDOMElement* element) = 0;
  // Every create* result belongs to this document and has no parent yet.
  virtual IntfPtr<IDOMElement> createElement(const UnicodeString& tagName) = 0;
  virtual IntfPtr<IDOMDocumentFragment> createDocumentFragment() = 0;
  virtual IntfPtr<IDOMText> createTextNode(const UnicodeString& data) = 0;
  virtual IntfPtr<IDOMComment> createComment(const UnicodeString& data) = 0;
  virtual IntfPtr<IDOMCDATASection> createCDATASection(const UnicodeString& data) = 0;
  virtual IntfPtr<IDOMProcessingInstruction> createProcessingInstruction(
      const UnicodeString& target, const UnicodeString& data) = 0;
  virtual IntfPtr<IDOMAttr> createAttribute(const UnicodeString& name) = 0;
  virtual IntfPtr<IDOMEntityReference> createEntityReference(const UnicodeString& name) = 0;
  virtual IntfPtr<IDOMNodeList> getElementsByTagName(const UnicodeString& tagName) = 0;
  virtual IntfPtr<IDOMNode> importNode(IDOMNode* node, bool deep) = 0;
  virtual IntfPtr<IDOMElement> createElementNS(const UnicodeString& namespaceURI,
                                               const UnicodeString& qualifiedName) = 0;
  virtual IntfPtr<IDOMAttr> createAttributeNS(const UnicodeString& namespaceURI,
                                              const UnicodeString& qualifiedName) = 0;
  virtual IntfPtr<IDOMNodeList> getElementsByTagNameNS(const UnicodeString& namespaceURI,
                                                       const UnicodeString& localName) = 0;
  virtual IntfPtr<IDOMElement> getElementById(const UnicodeString& elementId) = 0;

 protected:
  ~IDOMDocument() = default;
};

// Extended node operations: text and serialisation of a subtree, and
// transformations.
class IDOMNodeEx : public IDOMNode {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E12}");
  virtual UnicodeString get_text() = 0;
  // The serialisation of this node and its subtree, as UTF-16 text.
  virtual UnicodeString get_xml() = 0;
  virtual void set_text(const UnicodeString& text) = 0;
  virtual void transformNode(IDOMNode* stylesheet, UnicodeString& output) = 0;
  virtual void transformNode(IDOMNode* stylesheet, IDOMDocument* output) = 0;

 protected:
  ~IDOMNodeEx() = default;
};

class IDOMNodeSelect : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E13}");
  virtual IntfPtr<IDOMNode> selectNode(const UnicodeString& nodePath) = 0;
  virtual IntfPtr<IDOMNodeList> selectNodes(const UnicodeString& nodePath) = 0;

 protected:
  ~IDOMNodeSelect() = default;
};

// Called when an asynchronous load changes state; sender is the document.
using TAsyncEventHandler = std::function<void(IInterface* sender, std::int32_t asyncLoadState)>;

// Loading and saving a document. A COM-stream form of loadFromStream and
// saveToStream belongs to the vendor that has COM and is offered there.
class IDOMPersist : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E14}");
  virtual UnicodeString get_xml() = 0;
  virtual std::int32_t asyncLoadState() = 0;
  // Each load returns false when the text was not parsed (see IDOMParseError).
  virtual bool load(const Variant& source) = 0;
  // Reads stream from its position to its end; the stream stays the caller's.
  virtual bool loadFromStream(TStream& stream) = 0;
  virtual bool loadxml(const UnicodeString& value) = 0;
  virtual void save(const Variant& destination) = 0;
  // Writes the whole document at the stream's position.
  virtual void saveToStream(TStream& stream) = 0;
  virtual void set_OnAsyncLoad(TAsyncEventHandler handler) = 0;

 protected:
  ~IDOMPersist() = default;
};

class IDOMParseOptions : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E15}");
  virtual bool get_async() = 0;
  virtual bool get_preserveWhiteSpace() = 0;
  virtual bool get_resolveExternals() = 0;
  virtual bool get_validate() = 0;
  virtual void set_async(bool value) = 0;
  virtual void set_preserveWhiteSpace(bool value) = 0;
  virtual void set_resolveExternals(bool value) = 0;
  virtual void set_validate(bool value) = 0;

 protected:
  ~IDOMParseOptions() = default;
};

// The outcome of the last load; errorCode is 0 after a successful one.
class IDOMParseError : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E16}");
  virtual std::int32_t get_errorCode() = 0;
  virtual UnicodeString get_url() = 0;
  virtual UnicodeString get_reason() = 0;
  // The text of the line the failure was found on.
  virtual UnicodeString get_srcText() = 0;
  virtual std::int32_t get_line() = 0;     // 1-based
  virtual std::int32_t get_linepos() = 0;  // 1-based position in the line
  virtual std::int32_t get_filepos() = 0;

 protected:
  ~IDOMParseError() = default;
};

// The items of the XML declaration, for a DOM that keeps them apart from
// the tree.
class IDOMXMLProlog : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E17}");
  virtual UnicodeString get_Encoding() = 0;
  virtual UnicodeString get_Standalone() = 0;
  virtual UnicodeString get_Version() = 0;
  virtual void set_Encoding(const UnicodeString& value) = 0;
  virtual void set_Standalone(const UnicodeString& value) = 0;
  virtual void set_Version(const UnicodeString& value) = 0;

 protected:
  ~IDOMXMLProlog() = default;
};

// ---- Vendor registry --------------------------------------------------------

// A DOM vendor: a name (the lookup key) and a source of implementations.
class TDOMVendor {
 public:
  virtual ~TDOMVendor() = default;
  virtual UnicodeString Description() const = 0;
  // A new implementation object; the caller owns the reference.
  virtual IntfPtr<IDOMImplementation> DOMImplementation() = 0;
};

// The registered vendors in registration order. Holds plain pointers: a
// vendor stays its registrant's and must be unregistered before it is freed.
class TDOMVendorList {
 public:
  std::int32_t Count() const { return static_cast<std::int32_t>(FVendors.size()); }
  // First vendor whose Description equals desc exactly; null when none.
  TDOMVendor* Find(UnicodeStringView desc) const;
  void Add(TDOMVendor* vendor) { FVendors.push_back(vendor); }
  // Removes vendor if present; the others keep their order.
  void Remove(TDOMVendor* vendor);
  TDOMVendor* Vendors(std::int32_t index) const { return FVendors.at(index); }

 private:
  std::vector<TDOMVendor*> FVendors;
};

// Library load: registers the platform's DOM vendor as the only vendor.
void InitializeDOMVendors();
// Library unload: unregisters and frees that vendor, frees the registry and
// clears DefaultDOMVendor.
void FinalizeDOMVendors();

// The registry, made on first use.
TDOMVendorList& DOMVendors();
// Frees the registry and clears DefaultDOMVendor (library shutdown).
void FreeDOMVendors();

// Name of the vendor used when a document names none; empty in this system.
extern UnicodeString DefaultDOMVendor;

// Adds vendor at the end. A vendor whose Description is registered already
// is refused with "\"%s\" DOMImplementation already registered".
void RegisterDOMVendor(TDOMVendor* vendor);
void UnRegisterDOMVendor(TDOMVendor* vendor);
// An empty name means DefaultDOMVendor; still empty, the first registered
// vendor. Otherwise the vendor of that exact name, or Exception "No
// matching DOM Vendor: \"%s\"".
TDOMVendor* GetDOMVendor(UnicodeStringView vendorDesc);
// GetDOMVendor(vendorDesc)->DOMImplementation().
IntfPtr<IDOMImplementation> GetDOM(UnicodeStringView vendorDesc = {});

}  // namespace delvan::xml
