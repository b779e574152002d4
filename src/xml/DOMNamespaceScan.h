// An optional DOM vendor extension: the namespace-declaration search of the
// node model, answered on the vendor's own data instead of through
// IDOMNamedNodeMap, which copies each attribute's name and value out. A
// vendor that does not offer it is asked the general way.
#pragma once

#include <cstdint>

#include "rtl/Interface.h"
#include "rtl/UnicodeString.h"
#include "xml/xmldom.h"

namespace delvan::xml {

class IDOMNamespaceDeclScan : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{9C41D2E7-3B58-4F0A-A6E1-52D7C0B8E4F3}");
  // Asked of the document: the index among the attributes of element (a
  // node of this document) of the first one named "xmlns" or prefixed
  // "xmlns" whose value is namespaceURI by the SameNamespace rule; -1 when
  // there is none, -2 when element is not one of the document's nodes.
  virtual std::int32_t namespaceDeclIndex(IDOMNode* element, UnicodeStringView namespaceURI) = 0;

 protected:
  ~IDOMNamespaceDeclScan() = default;
};

}  // namespace delvan::xml
