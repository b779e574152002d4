// The MSXML vendor of the vendor-neutral DOM: wrappers around the MSXML
// document objects, reached over COM, and the document factory that picks
// the MSXML version. The calling thread's COM initialisation is the host's;
// this module never initialises COM.
//
// Include after the platform headers: it brings in the system headers.
#pragma once

#include <vector>

#include "rtl/Variant.h"
#include "xml/xmldom.h"

// clang-format off: after the platform layer's headers, as the system's.
#include "platform/win32/ComObj.h"
// clang-format on

// clang-format off
#include <msxml2.h>
// clang-format on

// The SDK header declares the MSXML interface identifiers without binding
// them to __uuidof; libuuid defines them.
#define DELVAN_MSXML_UUIDOF(T)             \
  template <>                              \
  inline const GUID& __mingw_uuidof<T>() { \
    return IID_##T;                        \
  }
DELVAN_MSXML_UUIDOF(IXMLDOMNode)
DELVAN_MSXML_UUIDOF(IXMLDOMDocument)
DELVAN_MSXML_UUIDOF(IXMLDOMElement)
DELVAN_MSXML_UUIDOF(IXMLDOMAttribute)
DELVAN_MSXML_UUIDOF(IXMLDOMCharacterData)
DELVAN_MSXML_UUIDOF(IXMLDOMText)
DELVAN_MSXML_UUIDOF(IXMLDOMProcessingInstruction)
DELVAN_MSXML_UUIDOF(IXMLDOMDocumentType)
DELVAN_MSXML_UUIDOF(IXMLDOMEntity)
DELVAN_MSXML_UUIDOF(IXMLDOMNotation)
#undef DELVAN_MSXML_UUIDOF
// Declared by the header but defined by no library of the toolchain.
inline constexpr GUID kIID_IXMLDOMDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
template <>
inline const GUID& __mingw_uuidof<IXMLDOMDocument2>() {
  return kIID_IXMLDOMDocument2;
}

namespace delvan::platform::win32 {

// The name the vendor is registered under.
inline constexpr UnicodeStringView kMSXMLVendorName = u"MSXML";

// Deepest element nesting a document may have (as the other backends).
inline constexpr std::size_t kMaxParseDepth = 1000;

// The published MSXML document classes.
inline constexpr GUID CLASS_DOMDocument60 = {
    0x88D96A05, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
inline constexpr GUID CLASS_DOMDocument40 = {
    0x88D969C0, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
inline constexpr GUID CLASS_DOMDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
inline constexpr GUID CLASS_DOMDocument26 = {
    0xF5078F1B, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
inline constexpr GUID CLASS_DOMDocument = {
    0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};

// A property set on every new document (IXMLDOMDocument2.setProperty).
struct TDOMProperty {
  UnicodeString Name;
  Variant Value;
};

// Makes the MSXML documents. Class-level state, filled when the library
// starts (Initialize) and emptied when it stops (Finalize).
class TMSXMLDOMDocumentFactory {
 public:
  // The document classes, tried in order.
  static std::vector<GUID> FDOMDocumentCoClasses;
  static std::vector<TDOMProperty> FDOMProperties;

  static void Initialize();
  static void Finalize();
  // A new MSXML document: the first class that CoCreateInstance makes
  // (context 5, IDispatch), with the properties of FDOMProperties set.
  // DOMException "Microsoft MSXML is not installed" when none can be made.
  static ComPtr<IXMLDOMDocument> CreateDOMDocument();
  // Names compare ignoring ASCII case; an existing name's value is
  // replaced only with updateExisting.
  static void AddDOMProperty(const UnicodeString& name, const Variant& value, bool updateExisting);
};

// The library sets MSXML6_ProhibitDTD; when false, "ProhibitDTD" = false
// goes into the property list at start-up.
extern bool MSXML6_ProhibitDTD;

// The vendor object: "MSXML", handing out TMSDOMImplementation objects.
class TMSDOMImplementationFactory final : public xml::TDOMVendor {
 public:
  UnicodeString Description() const override { return UnicodeString(kMSXMLVendorName); }
  IntfPtr<xml::IDOMImplementation> DOMImplementation() override;
};

// Gives back the MSXML node a wrapper holds (not counted for the caller:
// valid while the wrapper is).
class IXMLDOMNodeRef : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3F6E0B1A-5C2D-4C61-9E38-6B1F0A7D2E40}");
  virtual IXMLDOMNode* GetXMLDOMNode() = 0;

 protected:
  ~IXMLDOMNodeRef() = default;
};

// Wraps an MSXML node by its type (none for none); the caller owns the
// reference.
IntfPtr<xml::IDOMNode> MakeNode(IXMLDOMNode* node);

// Registers MSXML_DOM; idempotent. Unregister frees it and empties the
// factory's lists.
void RegisterMSXMLVendor();
void UnregisterMSXMLVendor();

}  // namespace delvan::platform::win32
